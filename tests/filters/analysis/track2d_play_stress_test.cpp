// Target edits while frames play: the chain worker runs the 2D tracking
// filter on every requested frame (boxes following their points, the
// selected target's values and preview) while this thread draws, deletes,
// splits and joins targets as the panel and the mouse would. Meant for the
// ThreadSanitizer build (`make tsan-test`); a watchdog ends the program when
// a lock order deadlocks.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "filters/analysis/lf_track2d.h"
#include "filters/core/filterctrl.h"
#include "image/imgbuff.h"
#include "support/watchdog.h"

namespace {

[[maybe_unused]] const int kNoDisplay = setenv("SDL_VIDEODRIVER", "dummy", 0);

using namespace std::chrono_literals;

class PlayCtrl : public CFilterCtrl {
public:
    ~PlayCtrl() override { StopWorker(); }
    uint64_t current = 0;
    uint64_t GetCurrentFrame() override { return current; }
};

TEST(Track2dPlayStress, TargetEditsWhileFramesPlay) {
    kvtest::Watchdog watchdog;
    PlayCtrl ctrl;
    uint64_t index = 0;
    CImgFilter* filter = CreateLfTrack2dHsv();
    ASSERT_EQ(ctrl.AddFilter(filter, &index), 1);
    auto* track = static_cast<CLfTrack2d*>(filter);
    constexpr uint32_t kFrames = 16;
    ctrl.SetSourceFormat(96, 64, 3, kFrames);
    CImgBuff source, result;
    ASSERT_TRUE(source.buffer->Create(96, 64, kImgRgb8));
    for (int32_t y = 0; y < 64; ++y)
        for (int32_t x = 0; x < 96; ++x)
            source.SetPixelRgb8(x, y, static_cast<uint8_t>(x * 5), static_cast<uint8_t>(y * 3), 90);
    auto setField = [](CFgUIEdit& edit, int v) { edit.SetLineText(0, std::to_wstring(v).c_str()); };
    for (int i = 0; i < 400; ++i) {
        const uint64_t frame = static_cast<uint64_t>(i) % kFrames;
        ctrl.current = frame;
        ctrl.RequestRun(&result, &source, frame, 1);
        const int32_t x = 5 + (i * 7) % 80, y = 5 + (i * 11) % 50;
        switch (i % 6) {
            case 0:  // a box drawn on the first tab
                track->OnLButtonDown(x, y, 0);
                track->OnMouseMove(x + 6, y + 5, 0);
                track->OnLButtonUp(x + 6, y + 5, 0);
                break;
            case 1:  // a box of the last size placed with the right button
                track->OnRButtonDown(x, y, 0);
                track->OnMouseMove(x + 2, y + 1, 0);
                track->OnRButtonUp(x + 2, y + 1, 0);
                break;
            case 2:
                for (int32_t t = 0; t < track->targetCount; ++t) {
                    CriticalSectionLock hold(track->lock);
                    track->table.SetPoint(static_cast<uint32_t>(frame), static_cast<uint32_t>(t),
                                          {static_cast<double>(x), static_cast<double>(y)});
                }
                break;
            case 3:
                if (track->targetCount > 0) {
                    setField(track->splitIdEdit, 1 + i % track->targetCount);
                    setField(track->splitFrameEdit, 1 + static_cast<int>(frame));
                    track->SplitId();
                }
                break;
            case 4:
                if (track->targetCount > 1) {
                    setField(track->id1Edit, 1);
                    setField(track->id2Edit, track->targetCount);
                    track->ConcatId();
                }
                break;
            default:
                track->selected = i % (track->targetCount + 1) - 1;
                track->DeleteId();
                if (i % 60 == 5) ctrl.SetSourceFormat(96, 64, 3, kFrames);
                break;
        }
    }
    ctrl.RequestRun(&result, &source, 0, 0);
    EXPECT_GE(track->targetCount, 0);
}

}  // namespace
