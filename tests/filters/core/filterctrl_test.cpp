// The chain controller: filter initialisation, chain editing, broadcasts and
// chain switching, and runs on the worker thread (group tags, run variables,
// working components, coalescing, synchronous requests, shutdown).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "filters/core/filterctrl.h"
#include "filters/core/spectrum_stack.h"
#include "image/imgbuff.h"
#include "image/pool.h"
#include "support/recording_filter.h"
#include "toolkit/fg_screen.h"

namespace {

using Calls = std::vector<std::string>;
using namespace std::chrono_literals;

CFgScreen* FakeParent() { return reinterpret_cast<CFgScreen*>(0x1000); }

// A one-shot signal between threads.
class Signal {
public:
    void Raise() {
        std::lock_guard<std::mutex> hold(mutex_);
        raised_ = true;
        cv_.notify_all();
    }
    bool Wait(std::chrono::milliseconds limit = 5s) {
        std::unique_lock<std::mutex> hold(mutex_);
        return cv_.wait_for(hold, limit, [this] { return raised_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool raised_ = false;
};

// Aborts the test program when a step deadlocks instead of hanging it.
class Watchdog {
public:
    Watchdog()
        : thread_([this] {
              if (!done_.Wait(20s)) {
                  std::fprintf(stderr, "deadlock: watchdog expired\n");
                  std::abort();
              }
          }) {}
    ~Watchdog() {
        done_.Raise();
        thread_.join();
    }

private:
    Signal done_;
    std::thread thread_;
};

// Counts the runs that the worker reports.
class CountingCtrl : public CFilterCtrl {
public:
    ~CountingCtrl() override { StopWorker(); }
    void OnFrameDone() override {
        std::lock_guard<std::mutex> hold(mutex_);
        ++done_;
        cv_.notify_all();
    }
    bool WaitDone(int n, std::chrono::milliseconds limit = 5s) {
        std::unique_lock<std::mutex> hold(mutex_);
        return cv_.wait_for(hold, limit, [&] { return done_ >= n; });
    }
    int Done() {
        std::lock_guard<std::mutex> hold(mutex_);
        return done_;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    int done_ = 0;
};

void MakeGray(CImgBuff& image, int32_t w, int32_t h, uint8_t value) {
    ASSERT_EQ(image.buffer->Create(w, h, kImgGray8), 1);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) image.buffer->SetPixelGray8(x, y, value);
}

uint8_t Gray(const CImgBuff& image, int32_t x = 0, int32_t y = 0) {
    uint8_t v = 0;
    image.buffer->GetPixelGray8(x, y, &v);
    return v;
}

RecordingFilter* Add(CFilterCtrl& ctrl, const std::string& tag, CallLog* log, bool ui = false) {
    auto* f = new RecordingFilter(tag, log, ui);
    EXPECT_EQ(ctrl.AddFilter(f, nullptr), 1);
    return f;
}

TEST(FilterCtrl, StartsItsWorker) {
    CFilterCtrl ctrl;
    EXPECT_EQ(ctrl.threadRunning, 1u);
    EXPECT_EQ(ctrl.language, L"jp");
    EXPECT_EQ(ctrl.owner, &ctrl);
}

TEST(FilterCtrl, AddFilterInitialisesInOrder) {
    CallLog log;
    CFilterCtrl ctrl;
    ctrl.SetSourceFormat(640, 480, 3, 10);
    ctrl.SetGuideColor(0.0, 1.0, 0.0);
    ctrl.SetCalibration(0.25, -1, L"mm");
    ctrl.SetLanguage(L"en");
    ctrl.uiParent = FakeParent();
    auto* f = new RecordingFilter("f", &log, true);
    uint64_t index = 99;
    ASSERT_EQ(ctrl.AddFilter(f, &index), 1);
    EXPECT_EQ(index, 0u);
    EXPECT_EQ(log.Take(), (Calls{"f.OnSize(640x480x3x10)", "f.OnLang(en)", "f.OnGuideColor(0.000000,1.000000,0.000000)",
                                 "f.OnCalib(0.250000,-1,mm)", "f.OnEnable(1)", "f.ShowUi(1)(parent)"}));
    EXPECT_EQ(f->owner, &ctrl);
    EXPECT_EQ(f->enabled, 1u);
    EXPECT_EQ(f->visible, 1u);
    EXPECT_EQ(f->uiParent, FakeParent());
    EXPECT_EQ(f->language, L"en");
    EXPECT_EQ(f->width, 640u);
    EXPECT_EQ(f->calibAxisY, -1);
    EXPECT_STREQ(f->calibUnit, L"mm");
    EXPECT_EQ(ctrl.AddFilter(nullptr, nullptr), 0);
}

TEST(FilterCtrl, RemoveSwapAndSelect) {
    CallLog log;
    CFilterCtrl ctrl;
    RecordingFilter* a = Add(ctrl, "a", &log, true);
    RecordingFilter* b = Add(ctrl, "b", &log);
    RecordingFilter* c = Add(ctrl, "c", &log);
    log.Take();
    FilterChain& chain = ctrl.chains[0];
    EXPECT_EQ(ctrl.SelectFilter(3), 0);
    ASSERT_EQ(ctrl.SelectFilter(1), 1);
    EXPECT_EQ(chain.selected, b);
    EXPECT_EQ(ctrl.SwapFilters(0, 3), 0);
    ASSERT_EQ(ctrl.SwapFilters(0, 1), 1);  // selection follows b
    EXPECT_EQ(chain.filters, (std::vector<CImgFilter*>{b, a, c}));
    EXPECT_EQ(chain.selectedIndex, 0u);
    ASSERT_EQ(ctrl.SwapFilters(2, 2), 1);

    ASSERT_EQ(ctrl.SelectFilter(1), 1);  // a, the middle one of three
    EXPECT_EQ(ctrl.RemoveFilter(3), 0);
    ASSERT_EQ(ctrl.RemoveFilter(1), 1);
    EXPECT_EQ(log.Take(), (Calls{"a.ShowUi(0)(null)", "a.delete"}));
    EXPECT_EQ(chain.selected, c);  // moved into index 1
    EXPECT_EQ(chain.selectedIndex, 1u);
    ASSERT_EQ(ctrl.RemoveFilter(1), 1);  // the selected last one
    EXPECT_EQ(chain.selected, nullptr);
    EXPECT_EQ(chain.selectedIndex, 0u);
    ASSERT_EQ(ctrl.SelectFilter(0), 1);
    ASSERT_EQ(ctrl.RemoveFilter(0), 1);
    EXPECT_EQ(chain.Count(), 0u);
    EXPECT_EQ(chain.filters.capacity(), 0u);  // the array is released
}

TEST(FilterCtrl, SelectionKeepsItsFilterWhenAnEarlierOneGoes) {
    CFilterCtrl ctrl;
    Add(ctrl, "a", nullptr);
    Add(ctrl, "b", nullptr);
    RecordingFilter* c = Add(ctrl, "c", nullptr);
    ctrl.SelectFilter(2);
    ctrl.RemoveFilter(0);
    EXPECT_EQ(ctrl.chains[0].selected, c);
    EXPECT_EQ(ctrl.chains[0].filters[ctrl.chains[0].selectedIndex], c);
}

TEST(FilterCtrl, RemoveAllFilters) {
    CallLog log;
    CFilterCtrl ctrl;
    for (int32_t n = 0; n < 4; ++n) {
        ASSERT_EQ(ctrl.SelectChain(n), 1);
        Add(ctrl, "f" + std::to_string(n), &log);
    }
    ctrl.SelectChain(1);
    ctrl.RemoveAllFilters(0);
    EXPECT_EQ(ctrl.chains[1].Count(), 0u);
    EXPECT_EQ(ctrl.chains[0].Count(), 1u);
    ctrl.RemoveAllFilters(1);
    for (const FilterChain& chain : ctrl.chains) EXPECT_EQ(chain.Count(), 0u);
    EXPECT_EQ(ctrl.activeChain, 1);
    Calls calls = log.Take();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "f0.delete"), 1);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "f3.delete"), 1);
}

TEST(FilterCtrl, DestructionDeletesEveryFilter) {
    CallLog log;
    {
        CFilterCtrl ctrl;
        Add(ctrl, "a", &log, true);
        ctrl.SelectChain(3);
        Add(ctrl, "b", &log);
        log.Take();
    }
    EXPECT_EQ(log.Take(), (Calls{"a.ShowUi(0)(null)", "a.delete", "b.delete"}));
}

TEST(FilterCtrl, BroadcastsReachTheActiveChain) {
    CallLog log;
    CFilterCtrl ctrl;
    RecordingFilter* f = Add(ctrl, "f", &log);
    log.Take();
    ctrl.SetLanguage(nullptr);
    ctrl.SetLanguage(L"");
    ctrl.SetLanguage(L"en");
    ctrl.SetGuideColor(0.0, 0.0, 1.0);
    ctrl.SetCalibration(2.0, -1, L"cm");
    ctrl.SetCalibration(3.0, 1, nullptr);  // the controller keeps "cm"
    ctrl.SetSourceFormat(8, 6, 1, 2);
    ctrl.EnableUi(5);
    EXPECT_EQ(log.Take(),
              (Calls{"f.OnLang(en)", "f.OnGuideColor(0.000000,0.000000,1.000000)", "f.OnCalib(2.000000,-1,cm)",
                     "f.OnCalib(3.000000,1,null)", "f.OnSize(8x6x1x2)", "f.EnableUi(1)"}));
    EXPECT_STREQ(ctrl.calibUnit, L"cm");
    EXPECT_STREQ(f->calibUnit, L"");
    EXPECT_EQ(f->guideBlue, 1.0);
    ctrl.ChangeCalibration(5.0, -1, L"px");  // the controller only
    EXPECT_EQ(ctrl.calibScale, 5.0);
    EXPECT_TRUE(log.Take().empty());
}

// Every chain's filters catch up with what was broadcast while another
// chain was active: the format, and also language, guide colour and
// calibration, each only when it changed.
TEST(FilterCtrl, SelectChainBringsFiltersUpToDate) {
    CallLog log;
    CFilterCtrl ctrl;
    EXPECT_EQ(ctrl.SelectChain(4), 0);
    EXPECT_EQ(ctrl.SelectChain(-1), 0);
    Add(ctrl, "a", &log);
    ctrl.SetSourceFormat(10, 10, 1, 1);
    ctrl.SelectChain(2);
    RecordingFilter* x = Add(ctrl, "x", &log);
    ctrl.SelectChain(0);
    log.Take();
    ctrl.SelectChain(2);
    ctrl.SelectChain(0);
    EXPECT_TRUE(log.Take().empty());

    ctrl.SetSourceFormat(20, 10, 3, 1);
    ctrl.SetLanguage(L"en");
    ctrl.SetGuideColor(0.0, 0.0, 1.0);
    ctrl.SetCalibration(2.0, -1, L"cm");
    log.Take();
    ctrl.SelectChain(2);
    EXPECT_EQ(log.Take(), (Calls{"x.OnSize(20x10x3x1)", "x.OnLang(en)", "x.OnGuideColor(0.000000,0.000000,1.000000)",
                                 "x.OnCalib(2.000000,-1,cm)"}));
    EXPECT_EQ(x->language, L"en");
    EXPECT_EQ(x->calibAxisY, -1);
    ctrl.SelectChain(0);
    ctrl.SetGuideColor(1.0, 1.0, 1.0);
    ctrl.SelectChain(2);
    EXPECT_EQ(log.Take(),
              (Calls{"a.OnGuideColor(1.000000,1.000000,1.000000)", "x.OnGuideColor(1.000000,1.000000,1.000000)"}));
}

TEST(FilterCtrl, LockUiSwitchesTheOthersOff) {
    CallLog log;
    CFilterCtrl ctrl;
    Add(ctrl, "a", &log);
    RecordingFilter* b = Add(ctrl, "b", &log);
    Add(ctrl, "c", &log);
    log.Take();
    ctrl.LockUi(1, b);
    EXPECT_EQ(log.Take(), (Calls{"a.OnEnable(0)", "b.OnEnable(1)", "c.OnEnable(0)"}));
    ctrl.LockUi(0, b);
    EXPECT_EQ(log.Take(), (Calls{"a.OnEnable(1)", "b.OnEnable(1)", "c.OnEnable(1)"}));
    for (CImgFilter* f : ctrl.chains[0].filters) EXPECT_EQ(f->enabled, 1u);
}

TEST(FilterCtrl, GroupTagsSwitchLaterFiltersOffAndOn) {
    CallLog log;
    CountingCtrl ctrl;
    Add(ctrl, "a", &log);
    Add(ctrl, "off", &log)->kind = 1;
    ctrl.chains[0].filters.back()->enabled = 0;
    Add(ctrl, "b", &log);
    Add(ctrl, "on", &log)->kind = 1;
    Add(ctrl, "c", &log);
    Add(ctrl, "d", &log)->enabled = 0;
    Add(ctrl, "e", &log);
    log.Take();
    CImgBuff source, result;
    MakeGray(source, 2, 2, 9);
    ctrl.RequestRun(&result, &source, 7, 0);
    EXPECT_EQ(log.Take(), (Calls{"a.Filter", "c.Filter", "e.Filter"}));
    EXPECT_EQ(ctrl.Done(), 1);  // the frame-done hook ran before the return
    EXPECT_EQ(Gray(result), 9);
}

TEST(FilterCtrl, RunVariablesFlowToLaterFiltersAndAreRestored) {
    CountingCtrl ctrl;
    RecordingFilter* first = Add(ctrl, "first", nullptr);
    RecordingFilter* second = Add(ctrl, "second", nullptr);
    first->onStep = [](CImgBuff*, int64_t* x, int64_t* y, int64_t* w, int64_t* h, uint32_t* connect, uint32_t* bg,
                       uint32_t*, uint32_t*) {
        *x = 2, *y = 3, *w = 4, *h = 5;
        *connect = 4;
        *bg = 0;
    };
    CImgBuff source, result;
    MakeGray(source, 16, 12, 1);
    ctrl.RequestRun(&result, &source, 11, 0);
    ASSERT_EQ(second->steps.size(), 1u);
    const FilterStep& s = second->steps[0];
    EXPECT_EQ(s.frame, 11u);
    EXPECT_EQ(std::vector<int64_t>({s.x, s.y, s.w, s.h}), std::vector<int64_t>({2, 3, 4, 5}));
    EXPECT_EQ(s.connect, 4u);
    EXPECT_EQ(s.bg, 0u);
    EXPECT_EQ(std::vector<int32_t>({ctrl.regionX0, ctrl.regionY0, ctrl.regionX1, ctrl.regionY1}),
              std::vector<int32_t>({2, 3, 5, 7}));
    EXPECT_EQ(ctrl.connect, 8u);
    EXPECT_EQ(ctrl.bg, 1u);

    first->onStep = nullptr;
    ctrl.RequestRun(&result, &source, 12, 0);
    ASSERT_EQ(first->steps.size(), 2u);
    const FilterStep& t = first->steps[1];
    EXPECT_EQ(std::vector<int64_t>({t.x, t.y, t.w, t.h}), std::vector<int64_t>({0, 0, 16, 12}));
    EXPECT_EQ(t.connect, 8u);
    EXPECT_EQ(t.bg, 1u);
    EXPECT_EQ(t.workFormat, 0u);
    EXPECT_EQ(t.channelBytes, 1u);
    EXPECT_EQ(std::vector<int32_t>({ctrl.regionX0, ctrl.regionY0, ctrl.regionX1, ctrl.regionY1}),
              std::vector<int32_t>({0, 0, 15, 11}));
}

TEST(FilterCtrl, WorkingComponentIsWrittenBackAndDepthRestored) {
    CountingCtrl ctrl;
    RecordingFilter* select = Add(ctrl, "select", nullptr);
    RecordingFilter* flatten = Add(ctrl, "flatten", nullptr);
    select->onStep = [](CImgBuff*, int64_t*, int64_t*, int64_t*, int64_t*, uint32_t*, uint32_t*, uint32_t* wf,
                        uint32_t*) { *wf = 5; };  // saturation
    flatten->onStep = [](CImgBuff* image, int64_t*, int64_t*, int64_t*, int64_t*, uint32_t*, uint32_t*, uint32_t*,
                         uint32_t*) {
        for (int32_t y = 0; y < image->buffer->height; ++y)
            for (int32_t x = 0; x < image->buffer->width; ++x) image->buffer->SetPixelGray16(x, y, 0);
    };
    CImgBuff source, result;
    ASSERT_EQ(source.buffer->Create(3, 2, kImgRgb8), 1);
    source.buffer->SetPixelRgb8(0, 0, 200, 100, 50);
    source.buffer->SetPixelRgb8(1, 0, 0, 0, 255);
    source.buffer->SetPixelRgb8(2, 1, 10, 20, 30);
    ctrl.RequestRun(&result, &source, 0, 0);
    ASSERT_EQ(flatten->steps.size(), 1u);
    EXPECT_EQ(flatten->steps[0].format, kImgGray16);  // 16-bit S of the 48-bit frame
    EXPECT_EQ(flatten->steps[0].workFormat, 5u);
    EXPECT_EQ(flatten->steps[0].width, 3);
    ASSERT_EQ(result.buffer->format, kImgRgb8);  // back to 8 bits per channel
    // Saturation 0 leaves the grey of the pixel's value (its largest channel).
    const int expected[3][2] = {{200, 0}, {255, 0}, {0, 30}};
    for (int32_t y = 0; y < 2; ++y) {
        for (int32_t x = 0; x < 3; ++x) {
            uint8_t r, g, b;
            result.buffer->GetPixelRgb8(x, y, &r, &g, &b);
            EXPECT_EQ(r, expected[x][y]);
            EXPECT_EQ(g, expected[x][y]);
            EXPECT_EQ(b, expected[x][y]);
        }
    }
}

TEST(FilterCtrl, ChannelDepthFollowsTheRunVariable) {
    const struct {
        bool announce;
        int32_t format;
    } cases[] = {{true, kImgRgb16}, {false, kImgRgb8}};
    for (const auto& c : cases) {
        CountingCtrl ctrl;
        RecordingFilter* up = Add(ctrl, "up", nullptr);
        RecordingFilter* after = Add(ctrl, "after", nullptr);
        const bool announce = c.announce;
        up->onStep = [announce](CImgBuff* image, int64_t*, int64_t*, int64_t*, int64_t*, uint32_t*, uint32_t*,
                                uint32_t*, uint32_t* channelBytes) {
            image->buffer->ConvertFormat(kImgRgb16);
            if (announce) *channelBytes = 2;
        };
        CImgBuff source, result;
        ASSERT_EQ(source.buffer->Create(2, 2, kImgRgb8), 1);
        source.buffer->SetPixelRgb8(1, 1, 1, 2, 3);
        ctrl.RequestRun(&result, &source, 0, 0);
        EXPECT_EQ(after->steps.at(0).channelBytes, c.announce ? 2u : 1u);
        EXPECT_EQ(result.buffer->format, c.format);
        uint16_t r, g, b;
        result.buffer->GetPixelRgb16(1, 1, &r, &g, &b);
        EXPECT_EQ(std::vector<int>({r, g, b}), std::vector<int>({257, 514, 771}));
    }
}

TEST(FilterCtrl, GreyFrameThroughLightnessLeavesAsRgb) {
    CountingCtrl ctrl;
    RecordingFilter* select = Add(ctrl, "select", nullptr);
    RecordingFilter* seen = Add(ctrl, "seen", nullptr);
    select->onStep = [](CImgBuff*, int64_t*, int64_t*, int64_t*, int64_t*, uint32_t*, uint32_t*, uint32_t* wf,
                        uint32_t*) { *wf = 17; };
    CImgBuff source, result;
    MakeGray(source, 2, 2, 128);
    ctrl.RequestRun(&result, &source, 0, 0);
    EXPECT_EQ(seen->steps.at(0).format, kImgGray32);
    EXPECT_EQ(result.buffer->format, kImgRgb8);
    uint8_t r, g, b;
    result.buffer->GetPixelRgb8(0, 0, &r, &g, &b);
    EXPECT_NEAR(r, 128, 1);
    EXPECT_NEAR(g, 128, 1);
    EXPECT_NEAR(b, 128, 1);
}

// A filter that empties the frame and asks for a component in one step
// leaves the next filter an empty working image.
TEST(FilterCtrl, ComponentOfAnEmptiedFrameIsEmpty) {
    CountingCtrl ctrl;
    RecordingFilter* select = Add(ctrl, "select", nullptr);
    RecordingFilter* back = Add(ctrl, "back", nullptr);
    RecordingFilter* seen = Add(ctrl, "seen", nullptr);
    select->onStep = [](CImgBuff*, int64_t*, int64_t*, int64_t*, int64_t*, uint32_t*, uint32_t*, uint32_t* wf,
                        uint32_t*) { *wf = 1; };
    back->onStep = [](CImgBuff*, int64_t*, int64_t*, int64_t*, int64_t*, uint32_t*, uint32_t*, uint32_t* wf,
                       uint32_t*) { *wf = 0; };  // back on the frame for the next filter
    seen->onStep = [](CImgBuff* image, int64_t*, int64_t*, int64_t*, int64_t*, uint32_t*, uint32_t*, uint32_t* wf,
                      uint32_t*) {
        image->FreePixels();
        *wf = 2;
    };
    RecordingFilter* last = Add(ctrl, "last", nullptr);
    CImgBuff source, result;
    MakeGray(source, 2, 2, 5);
    ctrl.RequestRun(&result, &source, 0, 0);
    EXPECT_EQ(back->steps.at(0).format, kImgGray8);  // the component of the grey frame
    EXPECT_EQ(last->steps.at(0).format, kImgFormatNone);
    EXPECT_EQ(last->steps.at(0).workFormat, 2u);
    EXPECT_EQ(result.buffer->format, kImgFormatNone);
}

TEST(FilterCtrl, InvalidImageRunsNothing) {
    CallLog log;
    CountingCtrl ctrl;
    Add(ctrl, "a", &log);
    log.Take();
    ctrl.regionX1 = 42;
    CImgBuff empty, result;
    MakeGray(result, 2, 2, 1);
    ctrl.RequestRun(&result, &empty, 0, 0);
    EXPECT_TRUE(log.Take().empty());
    EXPECT_EQ(ctrl.regionX1, 42);
    EXPECT_EQ(result.buffer->format, kImgFormatNone);  // an unchanged copy of the source
}

TEST(FilterCtrl, EveryRunEmptiesTheSpectrumStack) {
    static std::atomic<int> clears{0};
    clears = 0;
    SetSpectrumStackClear([] { ++clears; });
    {
        CountingCtrl ctrl;
        CImgBuff source, result;
        MakeGray(source, 1, 1, 0);
        ctrl.RequestRun(&result, &source, 0, 0);
        ctrl.RequestRun(&result, &source, 0, 0);
    }
    SetSpectrumStackClear(nullptr);
    EXPECT_EQ(clears, 2);
}

// A filter that blocks its first step until released.
struct Blocker {
    Signal entered, release;
    std::atomic<bool> inStep{false};
    void Attach(RecordingFilter* f) {
        f->onStep = [this, first = std::make_shared<bool>(true)](CImgBuff*, int64_t*, int64_t*, int64_t*, int64_t*,
                                                                 uint32_t*, uint32_t*, uint32_t*, uint32_t*) {
            if (!*first) return;
            *first = false;
            inStep = true;
            entered.Raise();
            release.Wait();
            std::this_thread::sleep_for(20ms);
            inStep = false;
        };
    }
};

// Requests made during a run coalesce into one run of the latest, and
// each run delivers into the target that was current when it started.
TEST(FilterCtrl, RequestsCoalesceAndKeepTheirTargets) {
    Watchdog watchdog;
    CountingCtrl ctrl;
    RecordingFilter* f = Add(ctrl, "f", nullptr);
    Blocker blocker;
    blocker.Attach(f);
    CImgBuff src1, src2, src3, resA, resB;
    MakeGray(src1, 2, 2, 1);
    MakeGray(src2, 2, 2, 2);
    MakeGray(src3, 2, 2, 3);
    ctrl.RequestRun(&resA, &src1, 1, 1);
    ASSERT_TRUE(blocker.entered.Wait());
    ctrl.RequestRun(&resB, &src2, 2, 1);
    ctrl.RequestRun(&resB, &src3, 3, 1);
    blocker.release.Raise();
    ASSERT_TRUE(ctrl.WaitDone(2));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(ctrl.Done(), 2);
    ASSERT_EQ(f->steps.size(), 2u);
    EXPECT_EQ(f->steps[0].frame, 1u);
    EXPECT_EQ(f->steps[1].frame, 3u);
    ctrl.lock.Enter();
    EXPECT_EQ(Gray(resA), 1);
    EXPECT_EQ(Gray(resB), 3);
    ctrl.lock.Leave();
}

TEST(FilterCtrl, SynchronousRequestWaitsForThePendingRun) {
    Watchdog watchdog;
    CountingCtrl ctrl;
    RecordingFilter* f = Add(ctrl, "f", nullptr);
    Blocker blocker;
    blocker.Attach(f);
    CImgBuff src1, src2, res;
    MakeGray(src1, 2, 2, 1);
    MakeGray(src2, 2, 2, 2);
    ctrl.RequestRun(&res, &src1, 1, 1);
    ASSERT_TRUE(blocker.entered.Wait());
    std::thread releaser([&] {
        std::this_thread::sleep_for(50ms);
        blocker.release.Raise();
    });
    ctrl.RequestRun(&res, &src2, 2, 0);
    releaser.join();
    EXPECT_EQ(ctrl.Done(), 2);
    ASSERT_EQ(f->steps.size(), 2u);
    EXPECT_EQ(f->steps[1].frame, 2u);
    EXPECT_EQ(Gray(res), 2);
}

// Chain edits and broadcasts wait until the run in progress has ended.
TEST(FilterCtrl, EditsWaitForTheRunInProgress) {
    Watchdog watchdog;
    CallLog log;
    CImgBuff src, res;  // outlive the controller: its worker writes res
    CountingCtrl ctrl;
    RecordingFilter* f = Add(ctrl, "f", &log);
    log.Take();
    Blocker blocker;
    blocker.Attach(f);
    MakeGray(src, 2, 2, 1);
    ctrl.RequestRun(&res, &src, 1, 1);
    ASSERT_TRUE(blocker.entered.Wait());
    std::thread releaser([&] {
        std::this_thread::sleep_for(100ms);
        blocker.release.Raise();
    });
    ctrl.SetGuideColor(0.0, 1.0, 0.0);
    EXPECT_FALSE(blocker.inStep);
    ASSERT_EQ(ctrl.RemoveFilter(0), 1);
    releaser.join();
    Calls calls = log.Take();
    EXPECT_EQ(calls.front(), "f.Filter");
    EXPECT_EQ(calls.back(), "f.delete");
}

// The user-interface thread may hold the lock (writing the source, reading
// the result) and then edit or broadcast while a run is in progress: the
// edit waits for the run, which records its region only after leaving the
// chain.
TEST(FilterCtrl, EditWhileHoldingTheLockDuringARun) {
    Watchdog watchdog;
    CallLog log;
    CImgBuff src, res;
    CountingCtrl ctrl;
    RecordingFilter* f = Add(ctrl, "f", &log);
    log.Take();
    Blocker blocker;
    blocker.Attach(f);
    MakeGray(src, 3, 2, 1);
    ctrl.RequestRun(&res, &src, 1, 1);
    ASSERT_TRUE(blocker.entered.Wait());
    std::thread releaser([&] {
        std::this_thread::sleep_for(100ms);
        blocker.release.Raise();
    });
    ctrl.lock.Enter();
    ctrl.SetGuideColor(0.0, 0.0, 1.0);
    EXPECT_FALSE(blocker.inStep);
    ctrl.lock.Leave();
    releaser.join();
    ASSERT_TRUE(ctrl.WaitDone(1));
    EXPECT_EQ(log.Take(), (Calls{"f.Filter", "f.OnGuideColor(0.000000,0.000000,1.000000)"}));
    CriticalSectionLock hold(ctrl.lock);
    EXPECT_EQ(ctrl.regionX1, 2);
    EXPECT_EQ(ctrl.regionY1, 1);
}

// A synchronous request made while the caller holds the lock (here twice)
// lets the worker take it for the run and gives every level back.
TEST(FilterCtrl, SynchronousRequestWhileHoldingTheLock) {
    Watchdog watchdog;
    CountingCtrl ctrl;
    RecordingFilter* f = Add(ctrl, "f", nullptr);
    CImgBuff src, res;
    MakeGray(src, 2, 2, 5);
    ctrl.lock.Enter();
    ctrl.lock.Enter();
    ctrl.RequestRun(&res, &src, 3, 0);
    ASSERT_EQ(f->steps.size(), 1u);
    EXPECT_EQ(f->steps[0].frame, 3u);
    EXPECT_EQ(Gray(res), 5);
    EXPECT_EQ(ctrl.lock.LeaveAll(), 2u);
}

// A request made before the worker has first gone to wait is served. The
// worker is held up on its way there: its private image starts the pool,
// and a start waits while the last stop of the pool waits for a parallel
// run in flight.
TEST(FilterCtrl, RequestBeforeTheWorkerFirstWaitsIsServed) {
    if (PoolGetProcessorCount() < 2) GTEST_SKIP() << "one processor: no pool to hold the worker up";
    Watchdog watchdog;
    CImgBuff src, res;  // the pool runs from here on
    MakeGray(src, 2, 2, 7);
    ASSERT_GE(g_PoolStartCount.load(), 1u);
    Signal inRun, endRun;
    auto job = [&](uint64_t first, uint64_t) {
        if (first != 0) return;
        inRun.Raise();
        endRun.Wait(20s);
    };
    std::thread runner([&] { PoolParallelRun(2, job); });
    ASSERT_TRUE(inRun.Wait());
    while (g_PoolStartCount.load() > 1) PoolStop();
    std::thread stopper([] { PoolStop(); });
    while (g_PoolStartCount.load() != 0) std::this_thread::sleep_for(1ms);
    {
        CountingCtrl ctrl;  // its worker now waits for the pool to stop
        ctrl.RequestRun(&res, &src, 1, 1);
        endRun.Raise();
        runner.join();
        stopper.join();
        EXPECT_TRUE(ctrl.WaitDone(1));
    }
    EXPECT_EQ(Gray(res), 7);
}

// A filter that asks for a synchronous re-run while it is being shown
// (inside an edit) gets the run without deadlock.
TEST(FilterCtrl, SynchronousRequestFromInsideAnEdit) {
    Watchdog watchdog;
    struct ShowRuns : RecordingFilter {
        using RecordingFilter::RecordingFilter;
        CImgBuff* src = nullptr;
        CImgBuff* res = nullptr;
        void ShowUi(int32_t show, CFgScreen* parent) override {
            RecordingFilter::ShowUi(show, parent);
            if (show) owner->RequestRun(res, src, 4, 0);
        }
    };
    CountingCtrl ctrl;
    CImgBuff src, res;
    MakeGray(src, 2, 2, 6);
    auto* f = new ShowRuns("f", nullptr, true);
    f->src = &src;
    f->res = &res;
    ASSERT_EQ(ctrl.AddFilter(f, nullptr), 1);
    ASSERT_EQ(f->steps.size(), 1u);
    EXPECT_EQ(f->steps[0].frame, 4u);
    EXPECT_EQ(Gray(res), 6);
}

// A synchronous request made on the worker thread (a filter step asking
// for a re-run) cannot wait for itself: it is served as the next run.
TEST(FilterCtrl, SynchronousRequestFromTheWorkerIsQueued) {
    Watchdog watchdog;
    CountingCtrl ctrl;
    RecordingFilter* f = Add(ctrl, "f", nullptr);
    CImgBuff src, res;
    MakeGray(src, 2, 2, 1);
    f->onStep = [&, asked = false](CImgBuff*, int64_t*, int64_t*, int64_t*, int64_t*, uint32_t*, uint32_t*, uint32_t*,
                                   uint32_t*) mutable {
        if (asked) return;
        asked = true;
        ctrl.RequestRun(&res, &src, 9, 0);
    };
    ctrl.RequestRun(&res, &src, 8, 1);
    ASSERT_TRUE(ctrl.WaitDone(2));
    ASSERT_EQ(f->steps.size(), 2u);
    EXPECT_EQ(f->steps[1].frame, 9u);
}

// Destroying the controller while a run is in flight lets the run end,
// joins the worker, and only then deletes the filters.
TEST(FilterCtrl, DestructionDuringARun) {
    Watchdog watchdog;
    CallLog log;
    Blocker blocker;
    CImgBuff src, res;
    MakeGray(src, 4, 4, 1);
    std::thread releaser;
    {
        auto* ctrl = new CountingCtrl;
        RecordingFilter* f = Add(*ctrl, "f", &log);
        log.Take();
        blocker.Attach(f);
        ctrl->RequestRun(&res, &src, 1, 1);
        ASSERT_TRUE(blocker.entered.Wait());
        ctrl->RequestRun(&res, &src, 2, 1);  // pending: dropped at shutdown
        releaser = std::thread([&] {
            std::this_thread::sleep_for(50ms);
            blocker.release.Raise();
        });
        delete ctrl;
    }
    releaser.join();
    EXPECT_EQ(log.Take(), (Calls{"f.Filter", "f.delete"}));
}

TEST(FilterCtrl, StoppedWorkerServesNoRequests) {
    Watchdog watchdog;
    CallLog log;
    CFilterCtrl ctrl;
    Add(ctrl, "f", &log);
    log.Take();
    ctrl.StopWorker();
    EXPECT_EQ(ctrl.threadRunning, 0u);
    CImgBuff src, res;
    MakeGray(src, 2, 2, 1);
    ctrl.RequestRun(&res, &src, 1, 0);  // returns instead of waiting
    EXPECT_TRUE(log.Take().empty());
}

TEST(FilterCtrl, OverlayConverters) {
    OverlaySetScreenTarget(nullptr);
    OverlaySetTextureTarget(0, 0);
    EXPECT_EQ(OverlayPixelToGlX(10), 0.0);
    EXPECT_EQ(OverlayPixelToGlY(10), 0.0);

    OverlaySetTextureTarget(256, 128);
    EXPECT_DOUBLE_EQ(OverlayPixelToGlX(0), -1.0 + 1.0 / 256);
    EXPECT_DOUBLE_EQ(OverlayPixelToGlY(64), 0.0 + 1.0 / 128);
    double x = 128.9, y = -0.5;
    OverlayPixelToGl(&x, &y);  // whole pixels 128 and 0
    EXPECT_DOUBLE_EQ(x, 1.0 / 256);
    EXPECT_DOUBLE_EQ(y, -1.0 + 1.0 / 128);
    OverlayPixelToGl(nullptr, nullptr);

    CFgScreen screen;
    screen.width = 200;
    screen.height = 100;
    OverlaySetScreenTarget(&screen);
    EXPECT_DOUBLE_EQ(OverlayPixelToGlX(50), (50.0 - 128) / 128 + 1.0 / 256);  // a capture takes precedence
    OverlaySetTextureTarget(0, 0);
    EXPECT_DOUBLE_EQ(OverlayPixelToGlX(100), 1.0 / 200);
    EXPECT_DOUBLE_EQ(OverlayPixelToGlY(0), 1.0 - 0.5 / 100);  // rows run downwards
    EXPECT_DOUBLE_EQ(OverlayPixelToGlY(100), -1.0 - 0.5 / 100);
    OverlaySetScreenTarget(nullptr);
}

TEST(FilterCtrl, DrawOverlaysAsksEnabledFiltersOnly) {
    struct Overlay : CImgFilter {
        std::vector<int32_t>* seen = nullptr;
        int32_t tag = 0;
        void OnOverlayView(OverlayToGlFn toX, OverlayToGlFn toY, CFgScreen*, CFgFont*, int32_t dx0, int32_t, int32_t,
                           int32_t, int32_t, int32_t, int32_t, int32_t, int32_t zoom) override {
            EXPECT_EQ(toX, &OverlayPixelToGlX);
            EXPECT_EQ(toY, &OverlayPixelToGlY);
            seen->push_back(tag * 100 + dx0 + zoom);
        }
    };
    std::vector<int32_t> seen;
    CFilterCtrl ctrl;
    for (int32_t tag = 1; tag <= 3; ++tag) {
        auto* f = new Overlay;
        f->seen = &seen;
        f->tag = tag;
        ctrl.AddFilter(f, nullptr);
    }
    ctrl.chains[0].filters[1]->enabled = 0;
    CFgScreen screen;
    ctrl.DrawOverlays(&screen, nullptr, 0, 0, 9, 9, 0, 0, 9, 9, 1);  // no OpenGL context yet
    EXPECT_TRUE(seen.empty());
    screen.context = &seen;                                          // stands for a context; never used
    ctrl.DrawOverlays(&screen, nullptr, 5, 0, 4, 9, 0, 0, 9, 9, 1);  // reversed display rectangle
    ctrl.DrawOverlays(&screen, nullptr, 0, 0, 9, 9, 0, 9, 9, 0, 1);  // reversed image rectangle
    EXPECT_TRUE(seen.empty());
    ctrl.DrawOverlays(&screen, nullptr, 5, 0, 9, 9, 0, 0, 9, 9, 2);
    EXPECT_EQ(seen, (std::vector<int32_t>{107, 307}));
    screen.context = nullptr;
}

}  // namespace
