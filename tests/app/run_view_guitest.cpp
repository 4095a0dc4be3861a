// A filter's whole-sequence run in the main screen measures the frames as
// the chain makes them under every View setting; under "Original" the
// picture still shows the frame as read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/main_screen.h"
#include "app/support/main_screen_fixture.h"
#include "filters/analysis/sequence_run.h"

namespace {

using namespace kvapptest;

// Inverts RGB frames and hands each to its run.
class CapturingProbe : public ProbeFilter {
public:
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t a,
                     uint32_t b, uint32_t* c, uint32_t* d) override {
        ProbeFilter::OnFilter(image, frame, x, y, w, h, a, b, c, d);
        CSequenceRun::Capture(this, image, frame);
        return 1;
    }
};

TEST_F(MainScreenTest, RunMeasuresTheSameFramesUnderEveryView) {
    const std::vector<std::string> seq = fx.Sequence("v", 3);
    screen->OpenSequenceFiles(W(seq[0]).c_str(), W(seq[2]).c_str());
    auto* probe = new CapturingProbe;
    probe->invert = true;
    ASSERT_EQ(screen->AddFilterToChain(probe, 1), 1);
    for (uint32_t view : {2u, 1u, 0u}) {
        SCOPED_TRACE("view " + std::to_string(view));
        screen->MenuCommand(g_ViewMenuItem, static_cast<int32_t>(view));
        ASSERT_EQ(screen->displayContent, view);
        CSequenceRun run(probe);
        ASSERT_EQ(run.Begin(nullptr, nullptr), CSequenceRun::kStarted);
        for (uint64_t i = 0; i < 3; ++i) {
            CImgBuff frame;
            ASSERT_EQ(run.Step(i, &frame), CSequenceRun::kReady) << i;
            uint8_t r = 0, g = 0, b = 0;
            frame.GetPixelRgb8(40, 30, &r, &g, &b);
            EXPECT_EQ(r, 255 - 20 * (i + 1)) << i;  // the inverted frame i
            screen->resultImage.GetPixelRgb8(40, 30, &r, &g, &b);
            EXPECT_EQ(r, view == 0 ? 20 * (i + 1) : 255 - 20 * (i + 1)) << i;  // what the picture shows
        }
    }
}

}  // namespace
