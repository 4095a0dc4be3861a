#include "platform/config_dir.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/utf8.h"

const wchar_t* FgGetConfigDir(int32_t create) {
    thread_local std::wstring folder;
    folder.clear();
    std::string base;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/') return folder.c_str();
        base = std::string(home) + "/.config";
    }
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    std::string path = base == "/" ? "/korvane" : base + "/korvane";
    if (create) {
        std::error_code error;
        std::filesystem::create_directories(path, error);
        if (!std::filesystem::is_directory(path, error)) return folder.c_str();
    }
    folder = PlatUtf8ToWide(path.c_str());
    return folder.c_str();
}
