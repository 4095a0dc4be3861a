// Documents open for reading: a short list, searched when an output is
// about to be written.
#include "media/open_documents.h"

#include <cwchar>
#include <mutex>
#include <string>
#include <vector>

#include "platform/files.h"

namespace {

struct OpenDocument {
    const void* owner;
    std::wstring path;  // a single file; for a sequence, the text before the number
    std::wstring suffix;
    bool sequence;
    size_t digits;
    uint64_t first;
    uint64_t last;
};

std::mutex g_Lock;
std::vector<OpenDocument> g_Documents;

// The number right before the last full stop of the path's file name.
bool NumberOf(const wchar_t* path, uint64_t* number) {
    const wchar_t* slash = std::wcsrchr(path, L'/');
    const wchar_t* name = slash ? slash + 1 : path;
    const wchar_t* dot = std::wcsrchr(name, L'.');
    if (!dot) return false;
    const wchar_t* begin = dot;
    while (begin > name && begin[-1] >= L'0' && begin[-1] <= L'9') --begin;
    if (begin == dot) return false;
    uint64_t n = 0;
    for (const wchar_t* p = begin; p < dot; ++p)
        if (__builtin_mul_overflow(n, 10u, &n) || __builtin_add_overflow(n, static_cast<uint64_t>(*p - L'0'), &n))
            return false;
    *number = n;
    return true;
}

bool Names(const OpenDocument& d, const wchar_t* path) {
    if (!d.sequence) return ComparePaths(path, d.path.c_str()) == 0;
    uint64_t n;
    if (!NumberOf(path, &n) || n < d.first || n > d.last) return false;
    std::wstring digits = std::to_wstring(n);
    if (digits.size() < d.digits) digits.insert(0, d.digits - digits.size(), L'0');
    return ComparePaths(path, (d.path + digits + d.suffix).c_str()) == 0;
}

}  // namespace

void OpenDocumentAdd(const void* owner, const wchar_t* path) {
    if (!owner || !path || !path[0]) return;
    std::lock_guard<std::mutex> hold(g_Lock);
    g_Documents.push_back(OpenDocument{owner, path, {}, false, 0, 0, 0});
}

void OpenDocumentAddSequence(const void* owner, const wchar_t* prefix, size_t prefixLength, const wchar_t* suffix,
                             size_t digits, uint64_t first, uint64_t last) {
    if (!owner || !prefix || !suffix) return;
    std::lock_guard<std::mutex> hold(g_Lock);
    g_Documents.push_back(OpenDocument{owner, std::wstring(prefix, prefixLength), suffix, true, digits, first, last});
}

void OpenDocumentRemove(const void* owner) {
    std::lock_guard<std::mutex> hold(g_Lock);
    for (size_t i = g_Documents.size(); i-- > 0;)
        if (g_Documents[i].owner == owner) g_Documents.erase(g_Documents.begin() + static_cast<std::ptrdiff_t>(i));
}

int32_t IsOpenDocument(const wchar_t* path) {
    if (!path || !path[0]) return 0;
    std::lock_guard<std::mutex> hold(g_Lock);
    for (const OpenDocument& d : g_Documents)
        if (Names(d, path)) return 1;
    return 0;
}
