// A filter for the chain tests that records every call it receives, in
// order, into a log shared by the filters of one test.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "filters/core/imgfilter.h"

class CallLog {
public:
    void Add(const std::string& entry) {
        std::lock_guard<std::mutex> hold(mutex_);
        entries_.push_back(entry);
    }
    std::vector<std::string> Take() {
        std::lock_guard<std::mutex> hold(mutex_);
        return std::exchange(entries_, {});
    }

private:
    std::mutex mutex_;
    std::vector<std::string> entries_;
};

// Everything the filter step received, for the tests to inspect.
struct FilterStep {
    uint64_t frame;
    int64_t x, y, w, h;
    uint32_t connect, bg, workFormat, channelBytes;
    int32_t format, width, height;
};

class RecordingFilter : public CImgFilter {
public:
    RecordingFilter(std::string tag, CallLog* log, bool withUi = false)
        : tag_(std::move(tag)), log_(log), ui_(withUi) {}
    ~RecordingFilter() override {
        if (log_) log_->Add(tag_ + ".delete");
    }

    // Runs inside the filter step, after the step is logged.
    std::function<void(CImgBuff*, int64_t*, int64_t*, int64_t*, int64_t*, uint32_t*, uint32_t*, uint32_t*, uint32_t*)>
        onStep;
    std::vector<FilterStep> steps;  // written on the worker thread

    const wchar_t* GetName(const wchar_t* code) override {
        return code && std::wstring(code) == L"jp" ? L"記録" : L"Recording Filter";
    }
    int32_t HasUi() override { return ui_ ? 1 : 0; }
    void EnableUi(int32_t enable) override { Log("EnableUi", enable); }
    void OnEnable(int32_t on) override { Log("OnEnable", on); }
    void ShowUi(int32_t show, CFgScreen* parent) override { Log("ShowUi", show, parent ? "parent" : "null"); }
    void OnLang(const wchar_t* code) override {
        Log("OnLang", std::string(code ? std::string(code, code + std::wcslen(code)) : "null"));
        CImgFilter::OnLang(code);
    }
    void OnSize(uint64_t w, uint64_t h, uint64_t bpp, uint64_t frameCount) override {
        Log("OnSize",
            std::to_string(w) + "x" + std::to_string(h) + "x" + std::to_string(bpp) + "x" + std::to_string(frameCount));
    }
    void OnCalib(double scale, int32_t axisY, const wchar_t* unit) override {
        Log("OnCalib", std::to_string(scale) + "," + std::to_string(axisY) + "," +
                           (unit ? std::string(unit, unit + std::wcslen(unit)) : "null"));
    }
    void OnGuideColor(double r, double g, double b) override {
        Log("OnGuideColor", std::to_string(r) + "," + std::to_string(g) + "," + std::to_string(b));
    }
    int32_t Filter(CImgBuff* image, uint64_t frame, int64_t* x, int64_t* y, int64_t* w, int64_t* h, uint32_t* connect,
                   uint32_t* bg, uint32_t* workFormat, uint32_t* channelBytes) override;

    template <class... T>
    void Log(const std::string& what, const T&... args) {
        if (!log_) return;
        std::string entry = tag_ + "." + what;
        ((entry += "(" + ToText(args) + ")"), ...);
        log_->Add(entry);
    }

private:
    static std::string ToText(int32_t v) { return std::to_string(v); }
    static std::string ToText(const std::string& v) { return v; }
    static std::string ToText(const char* v) { return v; }

    std::string tag_;
    CallLog* log_;
    bool ui_;
};
