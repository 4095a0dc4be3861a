#include "platform/atomic_save.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/utf8.h"

namespace {

AtomicSaveHook g_Hook = nullptr;
void* g_HookUser = nullptr;

}  // namespace

AtomicSaveHook AtomicSaveSetTestHook(AtomicSaveHook hook, void* user) {
    AtomicSaveHook previous = g_Hook;
    g_Hook = hook;
    g_HookUser = user;
    return previous;
}

AtomicSave::~AtomicSave() { Abort(); }

int32_t AtomicSave::Begin(const wchar_t* target) {
    Abort();
    if (!target || !target[0]) return 0;
    return BeginUtf8(PlatWideToUtf8(target));
}

int32_t AtomicSave::BeginUtf8(const std::string& target) {
    Abort();
    if (target.empty()) return 0;
    target_ = target;
    struct stat link {};
    if (lstat(target_.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        // Replace the file the link names, not the link.
        if (char* resolved = realpath(target_.c_str(), nullptr)) {
            target_ = resolved;
            std::free(resolved);
        }
    }
    struct stat existing {};
    const bool exists = stat(target_.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) return 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        direct_ = true;
        temporary_ = target_;
        temporaryWide_ = PlatUtf8ToWide(temporary_.c_str());
        return 1;
    }
    // "<folder>/.<name>.XXXXXX.<ext>": hidden, in the same folder (so the
    // rename stays on one file system), with the same extension.
    const size_t slash = target_.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target_.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    if (name.empty()) return 0;
    const size_t dot = name.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot != 0;
    const std::string stem = hasExtension ? name.substr(0, dot) : name;
    const std::string suffix = hasExtension ? name.substr(dot) : std::string();
    std::string pattern = folder + "." + stem + ".XXXXXX" + suffix;
    const int fd = mkstemps(pattern.data(), static_cast<int>(suffix.size()));
    if (fd < 0) return 0;
    // mkstemps makes the file private; a saved file gets the mode of the
    // file it replaces, or the usual mode.
    mode_t mode = 0;
    if (exists) {
        mode = existing.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    fchmod(fd, mode);
    close(fd);
    temporary_ = pattern;
    temporaryWide_ = PlatUtf8ToWide(pattern.c_str());
    return 1;
}

int32_t AtomicSave::Commit() {
    if (temporary_.empty()) return 0;
    if (direct_) {
        temporary_.clear();
        temporaryWide_.clear();
        direct_ = false;
        return 1;
    }
    bool ok = !g_Hook || g_Hook(temporary_.c_str(), g_HookUser) != 0;
    ok = ok && std::rename(temporary_.c_str(), target_.c_str()) == 0;
    if (!ok) {
        Abort();
        return 0;
    }
    temporary_.clear();
    temporaryWide_.clear();
    return 1;
}

void AtomicSave::Abort() {
    if (!temporary_.empty() && !direct_) unlink(temporary_.c_str());
    direct_ = false;
    temporary_.clear();
    temporaryWide_.clear();
}
