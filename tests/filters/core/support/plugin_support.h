// Helpers of the filter plug-in tests: test plug-ins installed in a folder
// under chosen names, the call log they write, and a chain host that
// records the host hooks the callbacks reach.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "filters/core/filterctrl.h"
#include "support/testsupport.h"

namespace kvplugin {

// Copies testlibs/<lib>.so to `target`.
void Install(const std::string& lib, const std::string& target);

// A folder for plug-ins and the log file the test plug-in appends to
// (TP_LOG is pointed at it; TP_CAPS, TP_RESULT, TP_PIXELS and TP_CALLBACKS
// are cleared). Unloads the plug-ins when it goes.
class PluginFolder {
public:
    PluginFolder();
    ~PluginFolder();
    std::string Path(const std::string& name) const { return dir_.file(name); }
    const std::string& Folder() const { return dir_.path(); }
    std::vector<std::string> LogLines() const;
    void ClearLog() const;

private:
    kvtest::TempDir dir_;
    std::string log_;
};

// Records the hooks reached through the plug-in callbacks.
class RecordingHost : public CFilterCtrl {
public:
    ~RecordingHost() override { StopWorker(); }
    void Refilter(int32_t async) override {
        std::lock_guard<std::mutex> hold(mutex);
        calls.push_back("Refilter " + std::to_string(async));
    }
    void Redraw() override {
        std::lock_guard<std::mutex> hold(mutex);
        calls.push_back("Redraw");
    }
    int32_t Seek(uint64_t frame) override {
        std::lock_guard<std::mutex> hold(mutex);
        calls.push_back("Seek " + std::to_string(frame));
        return 1;
    }
    void OnFilterUiClosed() override {
        std::lock_guard<std::mutex> hold(mutex);
        calls.push_back("OnFilterUiClosed");
    }
    std::vector<std::string> Calls() {
        std::lock_guard<std::mutex> hold(mutex);
        return calls;
    }
    std::mutex mutex;
    std::vector<std::string> calls;
};

}  // namespace kvplugin
