// The scroll bar drawn on the offscreen driver with range fields that its
// owner set directly, valid or not: nothing is painted outside the bar's
// rectangle and the thumb stays on the track.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

#include "platform/plat_window.h"
#include "toolkit/fg_dialog.h"
#include "toolkit/fg_loop.h"
#include "toolkit/fg_scrollbar.h"

namespace {

class BarDialog : public CFgUIDialog {
public:
    CFgUIScrollBar bar;
    BarDialog() { AddChild(&bar); }
};

PlatFrame Capture(CFgUIDialog& d) {
    PlatFrame frame;
    PlatCaptureNextSwap(d.window);
    d.Redraw();
    PlatTakeCapturedFrame(d.window, &frame);
    return frame;
}

uint8_t Grey(const PlatFrame& f, int32_t x, int32_t y) { return f.rgba[(static_cast<size_t>(y) * f.width + x) * 4]; }

TEST(FgScrollBarDraw, FieldsOutOfRangePaintInsideTheBarOnly) {
    const struct {
        int32_t min, max, page, pos;
    } cases[] = {
        {0, 99, 10, 300},                         // position past the end
        {0, 99, 10, -300},                        // position before the start
        {0, 99, -50, 20},                         // negative page
        {0, 99, 1000, 50},                        // page beyond the range
        {50, 10, 5, 70},                          // inverted range
        {INT_MIN, INT_MAX, 1, INT_MAX},           // the widest range, at its end
        {INT_MIN, INT_MAX, INT_MIN, INT_MIN},     // and the most negative page
        {0, INT_MAX, 1, INT_MIN},                 // a position far below the minimum
    };
    BarDialog d;
    ASSERT_EQ(d.Create(-1, -1, 200, 160, L"bars", kFgStyleFixed, nullptr), 1);
    FgPumpMessages();
    const uint8_t face = Grey(Capture(d), 0, 0);
    for (uint32_t orientation : {kFgBarHorizontal, kFgBarVertical}) {
        for (const auto& c : cases) {
            const std::string what = std::to_string(orientation) + ": " + std::to_string(c.min) + " " +
                                     std::to_string(c.max) + " " + std::to_string(c.page) + " " +
                                     std::to_string(c.pos);
            CFgUIScrollBar& bar = d.bar;
            bar.orientation = orientation;
            if (orientation == kFgBarHorizontal)
                bar.SetRect(50, 40, 100, 16);
            else
                bar.SetRect(90, 30, 16, 100);
            bar.minimum = c.min;
            bar.maximum = c.max;
            bar.page = c.page;
            bar.position = c.pos;
            const CFgUIScrollBar::Geometry g = bar.Layout();
            ASSERT_TRUE(g.track) << what;
            EXPECT_GE(g.thumbStart, g.start + 17) << what;
            EXPECT_LE(g.thumbStart + g.thumbLength, g.start + 17 + g.trackLength) << what;

            const PlatFrame f = Capture(d);
            ASSERT_EQ(f.width, 200);
            int outside = 0;
            for (int32_t y = 0; y < f.height; ++y)
                for (int32_t x = 0; x < f.width; ++x) {
                    const bool inBar = x >= bar.x && x <= bar.Right() && y >= bar.y && y <= bar.Bottom();
                    if (!inBar && Grey(f, x, y) != face) ++outside;
                }
            EXPECT_EQ(outside, 0) << what;
            // The thumb shows in the face colour on the track, across the middle of the bar.
            const bool horizontal = orientation == kFgBarHorizontal;
            const int32_t mid = g.thumbStart + g.thumbLength / 2;
            EXPECT_EQ(horizontal ? Grey(f, mid, 48) : Grey(f, 98, mid), face) << what;
        }
    }
}

}  // namespace
