#include "support/testsupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace kvtest {

namespace fs = std::filesystem;

TempDir::TempDir(const std::string& tag) {
    std::random_device rd;
    fs::path base = fs::path(KV_BINARY_DIR) / "test-tmp";
    fs::create_directories(base);
    for (;;) {
        fs::path p = base / (tag + "-" + std::to_string(getpid()) + "-" + std::to_string(rd() % 1000000));
        std::error_code ec;
        if (fs::create_directory(p, ec)) {
            path_ = p.string();
            return;
        }
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

int RunCommand(const std::string& command, std::string* out) {
    FILE* p = popen(command.c_str(), "r");
    if (!p) return -1;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    int status = pclose(p);
    if (out) *out = text;
    if (status == -1) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveTool(const std::string& name) {
    return RunCommand("command -v " + name + " >/dev/null 2>&1") == 0;
}

std::string DebianPython() {
    return access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "";
}

int RunPython(const std::string& script, const std::vector<std::string>& args, std::string* out) {
    std::string py = DebianPython();
    if (py.empty()) return -1;
    TempDir dir("py");
    std::string path = dir.file("script.py");
    if (!WriteFileBytes(path, script)) return -1;
    std::string cmd = py + " " + path;
    for (const auto& a : args) cmd += " '" + a + "'";
    return RunCommand(cmd, out);
}

std::string ScreenshotDir() {
    fs::path p = fs::path(KV_BINARY_DIR) / "test-screenshots";
    fs::create_directories(p);
    return p.string();
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(f);
}

}  // namespace kvtest
