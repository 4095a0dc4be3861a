#include "plugin_support.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "filters/core/filter_plugin.h"

namespace kvplugin {

void Install(const std::string& lib, const std::string& target) {
    std::filesystem::copy_file(std::string(KV_BINARY_DIR) + "/testlibs/" + lib + ".so", target,
                               std::filesystem::copy_options::overwrite_existing);
}

PluginFolder::PluginFolder() : dir_("plugins"), log_(dir_.path() + ".log") {
    setenv("TP_LOG", log_.c_str(), 1);
    for (const char* name : {"TP_CAPS", "TP_RESULT", "TP_PIXELS", "TP_CALLBACKS"}) unsetenv(name);
    ClearLog();
}

PluginFolder::~PluginFolder() {
    UnloadFilterPlugins();
    std::remove(log_.c_str());
}

std::vector<std::string> PluginFolder::LogLines() const {
    std::istringstream in(kvtest::ReadFileBytes(log_));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

void PluginFolder::ClearLog() const { std::remove(log_.c_str()); }

}  // namespace kvplugin
