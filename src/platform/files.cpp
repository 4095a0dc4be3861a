#include "platform/files.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "platform/utf8.h"

namespace {

std::wstring ComputeExeDir() {
    std::vector<char> buf(4096);
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) return std::wstring();
        if (static_cast<size_t>(n) < buf.size()) {
            std::wstring path = PlatUtf8ToWide(std::string(buf.data(), static_cast<size_t>(n)).c_str());
            FgPathRemoveFileSpec(path.data());
            path.resize(std::wcslen(path.c_str()));
            return path;
        }
        buf.resize(buf.size() * 2);
    }
}

bool IsFolder(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string StripTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string HomeDir() {
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return StripTrailingSlashes(home);
    std::vector<char> buf(16384);
    struct passwd pw;
    struct passwd* found = nullptr;
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir &&
        found->pw_dir[0] == '/')
        return StripTrailingSlashes(found->pw_dir);
    return "/";
}

// The Documents entry of user-dirs.dirs: XDG_DOCUMENTS_DIR="$HOME/..." or an
// absolute path in double quotes. Empty when absent or unusable.
std::string DocumentsFromUserDirs(const std::string& home) {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string file = (config && config[0] == '/') ? std::string(config) : home + "/.config";
    std::ifstream in(file + "/user-dirs.dirs");
    std::string line;
    static const std::string kKey = "XDG_DOCUMENTS_DIR=";
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, kKey.size(), kKey) != 0) continue;
        size_t q = start + kKey.size();
        if (q >= line.size() || line[q] != '"') continue;
        std::string value;
        bool closed = false;
        for (size_t i = q + 1; i < line.size(); ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) {
                value += line[++i];
            } else if (line[i] == '"') {
                closed = true;
                break;
            } else {
                value += line[i];
            }
        }
        if (!closed) continue;
        if (value.compare(0, 5, "$HOME") == 0 && (value.size() == 5 || value[5] == '/')) {
            value = home + value.substr(5);
        }
        if (value.empty() || value[0] != '/') continue;
        return StripTrailingSlashes(value);
    }
    return std::string();
}

std::string ComputeDocumentsDir() {
    const char* env = std::getenv("XDG_DOCUMENTS_DIR");
    if (env && env[0] == '/') return StripTrailingSlashes(env);
    const std::string home = HomeDir();
    std::string fromFile = DocumentsFromUserDirs(home);
    if (!fromFile.empty()) return fromFile;
    std::string documents = (home == "/" ? std::string() : home) + "/Documents";
    return IsFolder(documents) ? documents : home;
}

// "." first, ".." second, then by character code.
int ListingRank(const wchar_t* name) {
    if (std::wcscmp(name, L".") == 0) return 0;
    if (std::wcscmp(name, L"..") == 0) return 1;
    return 2;
}

// A character's place in the order of UTF-16 code units: its code point,
// except that U+E000-U+FFFF come after the characters beyond U+FFFF, whose
// first unit (a lead surrogate, U+D800-U+DBFF) is smaller.
uint32_t Utf16OrderKey(wchar_t c) {
    const uint32_t u = static_cast<uint32_t>(c);
    return u >= 0xE000 && u <= 0xFFFF ? u + 0x110000 : u;
}

bool ListingLess(const wchar_t* a, const wchar_t* b) {
    int ra = ListingRank(a);
    int rb = ListingRank(b);
    if (ra != rb) return ra < rb;
    const wchar_t* p = a;
    const wchar_t* q = b;
    while (*p && *p == *q) ++p, ++q;
    return Utf16OrderKey(*p) < Utf16OrderKey(*q);
}

// A name that is not valid UTF-8 has no wide form that names it again.
bool IsUtf8(const char* name) {
    const auto* p = reinterpret_cast<const unsigned char*>(name);
    while (*p) {
        char32_t c;
        bool valid = false;
        p += PlatDecodeUtf8(p, &c, &valid);
        if (!valid) return false;
    }
    return true;
}

}  // namespace

const wchar_t* FgGetExeDir() {
    static const std::wstring dir = ComputeExeDir();
    return dir.c_str();
}

const wchar_t* FgGetDocumentsDir() {
    thread_local std::wstring dir;
    dir = PlatUtf8ToWide(ComputeDocumentsDir().c_str());
    return dir.c_str();
}

wchar_t* FgPathAppend(wchar_t* path, size_t capacity, const wchar_t* name) {
    if (!path) return nullptr;
    if (!name || !name[0]) return path;
    const size_t len = std::wcslen(path);
    const bool separator = len > 0 && path[len - 1] != L'/';
    const size_t nameLen = std::wcslen(name);
    if (len + (separator ? 1 : 0) + nameLen + 1 > capacity) return nullptr;
    size_t pos = len;
    if (separator) path[pos++] = L'/';
    std::wmemcpy(path + pos, name, nameLen + 1);
    return path;
}

wchar_t* FgPathRemoveFileSpec(wchar_t* path) {
    if (!path) return path;
    wchar_t* slash = std::wcsrchr(path, L'/');
    if (!slash) return path;
    slash[slash == path ? 1 : 0] = L'\0';
    return path;
}

const wchar_t* FgPathFindFileName(const wchar_t* path) {
    if (!path || !path[0]) return nullptr;
    const wchar_t* slash = std::wcsrchr(path, L'/');
    return slash ? slash + 1 : path;
}

wchar_t* FgPathNormalize(wchar_t* path) {
    if (!path) return path;
    const bool absolute = path[0] == L'/';
    std::vector<std::wstring> parts;
    for (const wchar_t* p = path; *p;) {
        const wchar_t* end = p;
        while (*end && *end != L'/') ++end;
        std::wstring part(p, end);
        p = *end ? end + 1 : end;
        if (part.empty() || part == L".") continue;
        if (part == L"..") {
            if (!parts.empty() && parts.back() != L"..") {
                parts.pop_back();
            } else if (!absolute) {
                parts.push_back(part);
            }
            continue;
        }
        parts.push_back(std::move(part));
    }
    std::wstring out = absolute ? L"/" : L"";
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) out += L'/';
        out += parts[i];
    }
    // Never longer than the input, so it fits in place.
    std::wmemcpy(path, out.c_str(), out.size() + 1);
    return path;
}

int32_t ComparePaths(const wchar_t* a, const wchar_t* b) {
    if (!b) return -1;
    if (!a) return 1;
    std::wstring x(a), y(b);
    x.resize(std::wcslen(FgPathNormalize(x.data())));
    y.resize(std::wcslen(FgPathNormalize(y.data())));
    const int order = x.compare(y);
    if (order == 0) return 0;
    // Two names of one file (links, "..", a relative and an absolute name).
    std::error_code error;
    if (std::filesystem::equivalent(PlatWideToUtf8(x.c_str()), PlatWideToUtf8(y.c_str()), error) && !error) return 0;
    return order < 0 ? -1 : 1;
}

bool FgListDirectoryNames(const wchar_t* folder, std::vector<FgDirName>* names) {
    if (!names) return false;
    names->clear();
    if (!folder || !folder[0]) return false;
    const std::string dirPath = PlatWideToUtf8(folder);
    DIR* dir = opendir(dirPath.c_str());
    if (!dir) return false;
    constexpr size_t kMaxName = std::size(FgDirEntry{}.name) - 1;
    try {
        while (const dirent* e = readdir(dir)) {
            // Shown as U+FFFD it could neither be told from another such name
            // nor be opened: such a file is left out.
            if (!IsUtf8(e->d_name)) continue;
            std::wstring name = PlatUtf8ToWide(e->d_name);
            if (name.size() > kMaxName) name.resize(kMaxName);
            bool isFolder = e->d_type == DT_DIR;
            if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) isFolder = IsFolder(dirPath + "/" + e->d_name);
            names->push_back({std::move(name), isFolder ? 1 : 0});
        }
    } catch (const std::bad_alloc&) {
        // keep what was read
    }
    closedir(dir);
    std::sort(names->begin(), names->end(),
              [](const FgDirName& a, const FgDirName& b) { return ListingLess(a.name.c_str(), b.name.c_str()); });
    return true;
}

FgDirEntry* FgListDirectory(const wchar_t* folder, uint64_t* count) {
    if (count) *count = 0;
    if (!count) return nullptr;
    std::vector<FgDirName> names;
    if (!FgListDirectoryNames(folder, &names) || names.empty()) return nullptr;
    // The 4 KiB records are written once, in their final order.
    auto* entries = static_cast<FgDirEntry*>(std::malloc(names.size() * sizeof(FgDirEntry)));
    if (!entries) return nullptr;
    for (size_t i = 0; i < names.size(); ++i) {
        std::wmemcpy(entries[i].name, names[i].name.c_str(), names[i].name.size() + 1);
        entries[i].isFolder = names[i].isFolder;
    }
    *count = names.size();
    return entries;
}

int32_t FgDirectoryExists(const wchar_t* folder) {
    if (!folder || !folder[0]) return 0;
    DIR* dir = opendir(PlatWideToUtf8(folder).c_str());
    if (!dir) return 0;
    closedir(dir);
    return 1;
}

char* FgWideToAnsi(const wchar_t* text) {
    if (!text) return nullptr;
    const std::string utf8 = PlatWideToUtf8(text);
    char* out = static_cast<char*>(std::malloc(utf8.size() + 1));
    if (!out) return nullptr;
    std::memcpy(out, utf8.c_str(), utf8.size() + 1);
    return out;
}
