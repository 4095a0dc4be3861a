// Helpers shared by the test suites.
#pragma once
#include <string>
#include <vector>

namespace kvtest {

// A fresh empty folder under the build tree, removed when the object dies.
class TempDir {
public:
    explicit TempDir(const std::string& tag);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Runs a shell command; returns its exit status and fills `out` with stdout.
int RunCommand(const std::string& command, std::string* out = nullptr);

// True when the named program is on PATH.
bool HaveTool(const std::string& name);

// Debian's own python3 (which python3-numpy and python3-opencv serve), or
// an empty string when it is not installed.
std::string DebianPython();

// Runs `script` (python source) with Debian's python3 and the given
// arguments; returns the exit status and fills `out` with stdout.
int RunPython(const std::string& script, const std::vector<std::string>& args, std::string* out);

// Folder for pictures a person may want to look at after the GUI tests.
std::string ScreenshotDir();

std::string ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::string& bytes);

}  // namespace kvtest
