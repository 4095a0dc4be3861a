// Panel edits while frames play: the chain worker runs the filters on
// every requested frame while this thread changes their tables and
// transforms as the panels would (pseudo-colour presets, palette and undo,
// gamma typing and type changes, colour-correction swatches, colour-map
// views). Meant for the ThreadSanitizer build (`make tsan-test`); a
// watchdog ends the program when a lock order deadlocks.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "filters/core/filterctrl.h"
#include "filters/processing/lf_color_correction.h"
#include "filters/processing/lf_color_map.h"
#include "filters/processing/lf_gamma.h"
#include "filters/processing/lf_lut.h"
#include "filters/processing/support/region_runs.h"
#include "support/watchdog.h"

namespace {

[[maybe_unused]] const int kNoDisplay = setenv("SDL_VIDEODRIVER", "dummy", 0);

using namespace std::chrono_literals;

class PlayCtrl : public CFilterCtrl {
public:
    ~PlayCtrl() override { StopWorker(); }
    void OnFrameDone() override {
        std::lock_guard<std::mutex> hold(mutex_);
        ++done_;
    }
    int Done() {
        std::lock_guard<std::mutex> hold(mutex_);
        return done_;
    }

private:
    std::mutex mutex_;
    int done_ = 0;
};

template <class T>
T* Add(PlayCtrl& ctrl, CImgFilter* filter) {
    uint64_t index = 0;
    EXPECT_EQ(ctrl.AddFilter(filter, &index), 1);
    return static_cast<T*>(filter);
}

TEST(PlayStress, TableAndTransformEditsWhileFramesPlay) {
    kvtest::Watchdog watchdog;
    PlayCtrl ctrl;
    auto* lut = Add<CLfLut>(ctrl, CreateLfLut());
    auto* gamma = Add<CLfGamma>(ctrl, CreateLfGamma());
    auto* correction = Add<CLfColorCorrection>(ctrl, CreateLfColorCorrection());
    auto* map = Add<CLfColorMap>(ctrl, CreateLfColorMap());
    for (int32_t format : {kImgGray8, kImgRgb8, kImgRgb16}) {
        SCOPED_TRACE(format);
        CImgBuff source, result;
        kvtest::RandomImage(source, 64, 48, format, 5);
        for (int i = 0; i < 150; ++i) {
            ctrl.RequestRun(&result, &source, static_cast<uint64_t>(i), 1);
            switch (i % 6) {
                case 0: lut->Preset(101 + i % 5); break;
                case 1:
                    lut->SelectPaletteEntry(i % 16);
                    lut->SetPaletteComponent(i % 3, (i * 37) % 256);
                    break;
                case 2: lut->Undo(); break;
                case 3:
                    // Typing a gamma value, and switching the type.
                    gamma->gamma.Set(0.4 + (i % 9) * 0.3);
                    gamma->type.Set(static_cast<uint32_t>(i % 3));
                    gamma->Rebuild();
                    break;
                case 4: {
                    const auto& d = CLfColorCorrection::kDefaults[i % 6];
                    correction->SetColour(CLfColorCorrection::kImage, i % 6, d[0] / 255.0,
                                          ((d[1] + i) % 256) / 255.0, d[2] / 255.0);
                    break;
                }
                default: map->MenuCommand(101 + i % 3); break;
            }
        }
        ctrl.RequestRun(&result, &source, 1000, 0);
    }
    EXPECT_GT(ctrl.Done(), 0);
}

}  // namespace
