// One named section of a settings file: its items, reading and writing.
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <new>
#include <string>

#include "filters/core/cfgfile.h"
#include "filters/core/cfgtext.h"
#include "filters/core/textconv.h"

CCfgPack::~CCfgPack() {
    Clear();
    FreeName();
    if (owner) {
        (prev ? prev->next : owner->firstPack) = next;
        (next ? next->prev : owner->lastPack) = prev;
    }
}

void CCfgPack::FreeName() {
    if (name != emptyName_) delete[] name;
    name = emptyName_;
}

int32_t CCfgPack::SetName(const wchar_t* newName) {
    if (!newName) return 0;
    size_t n = std::wcslen(newName);
    if (n == 0) return 0;
    wchar_t* copy = new (std::nothrow) wchar_t[n + 1];
    if (!copy) return 0;
    std::wmemcpy(copy, newName, n + 1);
    Clear();
    name = copy;
    return 1;
}

void CCfgPack::Clear() {
    FreeName();
    while (firstItem) delete firstItem;
}

CCfgItem* CCfgPack::AddItem(const wchar_t* key, const wchar_t* value) {
    if (!key || !value) return nullptr;
    CCfgItem* item = new (std::nothrow) CCfgItem;
    if (!item) return nullptr;
    if (!item->Set(key, value)) {
        delete item;
        return nullptr;
    }
    item->owner = this;
    item->prev = lastItem;
    (lastItem ? lastItem->next : firstItem) = item;
    lastItem = item;
    return item;
}

const wchar_t* CfgFindValue(const CCfgPack* pack, const wchar_t* key) {
    if (!pack || !key) return nullptr;
    for (const CCfgItem* item = pack->firstItem; item; item = item->next)
        if (item->key && std::wcscmp(item->key, key) == 0) return item->value;
    return nullptr;
}

int32_t CCfgPack::ParseItemLine(const wchar_t* line) {
    wchar_t* copy = CfgCopyText(line);
    if (!copy) return 0;
    int32_t ok = 0;
    if (NormalizeCfgLine(copy)) {
        wchar_t* blank = std::wcschr(copy, L' ');
        *blank = L'\0';
        ok = AddItem(copy, blank + 1) ? 1 : 0;
    }
    delete[] copy;
    return ok;
}

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using WideText = std::unique_ptr<wchar_t, FreeDeleter>;

// The section name of a header line "[name] {", or false when the line is
// no header or its name is empty.
bool ParseHeader(wchar_t* line, std::wstring& header) {
    if (!NormalizeCfgLine(line) || line[0] != L'[') return false;
    wchar_t* close = std::wcschr(line + 1, L']');
    if (!close || std::wcscmp(close, L"] {") != 0) return false;
    size_t n = static_cast<size_t>(close - (line + 1));
    if (n == 0) return false;
    header.assign(line + 1, n);
    return true;
}

// Appends a line in UTF-8 and its LF; false for text that UTF-8 cannot
// hold, or that holds a line break of its own (it would read back as
// several lines: a file name with a line feed could forge a section).
bool AppendLine(std::string& out, const std::wstring& line) {
    if (line.find_first_of(L"\r\n") != std::wstring::npos) return false;
    char* utf8 = WideToUtf8(line.c_str());
    if (!utf8) return false;
    out += utf8;
    out += '\n';
    std::free(utf8);
    return true;
}

}  // namespace

int32_t CCfgPack::Read(FILE* file) {
    if (!file) return 0;
    std::string raw;
    std::wstring header;
    for (;;) {
        if (!CfgReadLine(file, raw)) return 0;
        WideText line(Utf8ToWide(raw.c_str()));
        if (line && ParseHeader(line.get(), header)) break;
    }
    SetName(header.c_str());
    while (CfgReadLine(file, raw)) {
        WideText line(Utf8ToWide(raw.c_str()));
        if (!line || !TrimCfgBlanks(line.get())) continue;
        if (std::wcscmp(line.get(), L"}") == 0) break;
        ParseItemLine(line.get());
    }
    return 1;
}

int32_t CCfgPack::Write(FILE* file) const {
    if (!file || name[0] == L'\0') return 0;
    // The whole section is checked before anything is written.
    std::string text;
    try {
        if (!AppendLine(text, L"[" + std::wstring(name) + L"] {")) return 0;
        for (const CCfgItem* item = firstItem; item; item = item->next) {
            if (!item->key || !item->value) continue;
            if (!AppendLine(text, L" " + std::wstring(item->key) + L" " + item->value)) return 0;
        }
        if (!AppendLine(text, L"}")) return 0;
    } catch (...) {
        return 0;
    }
    return std::fwrite(text.data(), 1, text.size(), file) == text.size() ? 1 : 0;
}
