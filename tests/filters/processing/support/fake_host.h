// A chain controller that records the host hooks the filters call, and a
// probe filter that records what each filter step receives.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "filters/core/filterctrl.h"
#include "filters/core/imgfilter.h"
#include "image/imgbuff.h"

class FakeHost : public CFilterCtrl {
public:
    ~FakeHost() override { StopWorker(); }
    std::vector<std::string> calls;
    void Refilter(int32_t async) override { calls.push_back(async ? "Refilter(1)" : "Refilter(0)"); }
    void Redraw() override { calls.push_back("Redraw"); }
    void LockUi(int32_t lock, CImgFilter* filter) override {
        calls.push_back(lock ? "LockUi(1)" : "LockUi(0)");
        CFilterCtrl::LockUi(lock, filter);
    }
    void OnFilterUiClosed() override { calls.push_back("OnFilterUiClosed"); }
    // Adds a filter to the active chain; the host keeps it.
    CImgFilter* Add(CImgFilter* filter) {
        uint64_t index = 0;
        return AddFilter(filter, &index) ? filter : nullptr;
    }
};

// What one filter step received.
struct ProbeStep {
    int64_t x, y, w, h;
    uint32_t connect, bg, channelBytes;
    int32_t format;
};

class ProbeFilter : public CImgFilter {
public:
    std::vector<ProbeStep> steps;
    const wchar_t* GetName(const wchar_t*) override { return L"Probe"; }
    int32_t OnFilter(CImgBuff* image, uint64_t, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t*, uint32_t* channelBytes) override {
        steps.push_back({x, y, w, h, connect, bg, *channelBytes, image->buffer ? image->buffer->format : 0});
        return 1;
    }
};
