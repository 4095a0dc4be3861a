// Scroll-bar and range-bar arithmetic: stepping, paging, thumb geometry,
// drags, wheel and keys, including empty and inverted ranges. The bars sit
// in a dialog without a window, which routes the key state and ignores redraws.
#include <gtest/gtest.h>

#include <vector>

#include "toolkit/fg_dialog.h"
#include "toolkit/fg_keys.h"
#include "toolkit/fg_rangebar.h"
#include "toolkit/fg_scrollbar.h"

namespace {

struct ScrollHost {
    CFgUIDialog dialog;
    CFgUIScrollBar bar;
    std::vector<int32_t> reports;
    ScrollHost(uint32_t orientation, int32_t length, int32_t min, int32_t max, int32_t page, int32_t pos) {
        bar.orientation = orientation;
        if (orientation == kFgBarVertical)
            bar.SetRect(10, 20, 16, length);
        else
            bar.SetRect(10, 20, length, 16);
        bar.minimum = min;
        bar.maximum = max;
        bar.page = page;
        bar.position = pos;
        bar.data = this;
        bar.callback = [](CFgUIScrollBar*, void* data, int32_t p) { static_cast<ScrollHost*>(data)->reports.push_back(p); };
        dialog.AddChild(&bar);
    }
};

TEST(FgScrollBar, LineAndPageSteps) {
    const struct {
        int32_t min, max, page, pos;
        int32_t (CFgUIScrollBar::*op)();
        int32_t result, after;
    } cases[] = {
        {0, 99, 10, 85, &CFgUIScrollBar::PageForward, 1, 90},
        {0, 99, 10, 90, &CFgUIScrollBar::PageForward, 0, 90},
        {0, 99, 10, 40, &CFgUIScrollBar::PageForward, 1, 50},
        {0, 99, 10, 5, &CFgUIScrollBar::PageBack, 1, 0},
        {0, 99, 10, 0, &CFgUIScrollBar::PageBack, 0, 0},
        {0, 99, 10, 25, &CFgUIScrollBar::PageBack, 1, 15},
        {0, 99, 10, 89, &CFgUIScrollBar::LineForward, 1, 90},
        {0, 99, 10, 90, &CFgUIScrollBar::LineForward, 0, 90},
        {-5, 5, 1, -4, &CFgUIScrollBar::LineBack, 1, -5},
        {-5, 5, 1, -5, &CFgUIScrollBar::LineBack, 0, -5},
        // A page larger than the range: nothing to move.
        {0, 9, 20, 0, &CFgUIScrollBar::PageForward, 0, 0},
    };
    for (const auto& c : cases) {
        ScrollHost h(kFgBarHorizontal, 200, c.min, c.max, c.page, c.pos);
        EXPECT_EQ((h.bar.*c.op)(), c.result) << c.pos;
        EXPECT_EQ(h.bar.position, c.after) << c.pos;
        EXPECT_EQ(h.reports.size(), static_cast<size_t>(c.result)) << c.pos;
    }
}

TEST(FgScrollBar, ACallbackThatMovesTheBarIsNotCalledAgain) {
    ScrollHost h(kFgBarVertical, 200, 0, 99, 10, 0);
    h.bar.callback = [](CFgUIScrollBar* bar, void* data, int32_t p) {
        static_cast<ScrollHost*>(data)->reports.push_back(p);
        bar->LineForward();
    };
    EXPECT_EQ(h.bar.LineForward(), 1);
    EXPECT_EQ(h.reports, std::vector<int32_t>{1});
    EXPECT_EQ(h.bar.position, 2);
    EXPECT_EQ(h.bar.notifying, 0u);
}

TEST(FgScrollBar, ThumbGeometry) {
    // Length 134: track 100 pixels from x + 17.
    const struct {
        int32_t min, max, page, pos, thumbStart, thumbLength;
    } cases[] = {
        {0, 99, 10, 0, 27, 10},    {0, 99, 10, 45, 27 + 45, 10}, {0, 99, 10, 90, 27 + 90, 10},
        {0, 999, 1, 0, 27, 4},     // at least 4 pixels
        {0, 9, 20, 0, 27, 100},    // page capped at the range: full length
        {0, -1, 1, 0, 27, 100},    // empty range
        {5, 0, 3, 5, 27, 100},     // inverted range
    };
    for (const auto& c : cases) {
        ScrollHost h(kFgBarHorizontal, 134, c.min, c.max, c.page, c.pos);
        const CFgUIScrollBar::Geometry g = h.bar.Layout();
        ASSERT_TRUE(g.track);
        EXPECT_EQ(g.trackLength, 100);
        EXPECT_EQ(g.thumbStart, c.thumbStart) << c.max << " " << c.pos;
        EXPECT_EQ(g.thumbLength, c.thumbLength) << c.max << " " << c.pos;
    }
}

TEST(FgScrollBar, PressesByRegion) {
    // Horizontal, x = 10, length 134 (pointer relative to x): back arrow up
    // to 16, track 17 .. 116, forward arrow from 117, thumb at 27 .. 36 for
    // position 10.
    const struct {
        int32_t x, after;
        uint32_t dragging;
    } cases[] = {{0, 9, 0},   {16, 9, 0},   {17, 0, 0},   {27, 10, 1},
                 {36, 10, 1}, {37, 20, 0},  {116, 20, 0}, {117, 11, 0}, {133, 11, 0}};
    for (const auto& c : cases) {
        ScrollHost h(kFgBarHorizontal, 134, 0, 99, 10, 10);
        h.bar.OnLButtonDown(c.x, 5);
        EXPECT_EQ(h.bar.position, c.after) << c.x;
        EXPECT_EQ(h.bar.dragging, c.dragging) << c.x;
        h.bar.OnLButtonUp(c.x, 5);
        EXPECT_EQ(h.bar.dragging, 0u);
    }
    // Shorter than 38 pixels: every press steps forward by one.
    for (int32_t x : {0, 15, 29}) {
        ScrollHost h(kFgBarHorizontal, 30, 0, 99, 10, 10);
        EXPECT_FALSE(h.bar.Layout().track);
        h.bar.OnLButtonDown(x, 5);
        EXPECT_EQ(h.bar.position, 11) << x;
    }
}

TEST(FgScrollBar, DragFollowsThePointerWithinTheRange) {
    ScrollHost h(kFgBarVertical, 134, 0, 99, 10, 10);
    h.bar.OnLButtonDown(5, 30);  // on the thumb, 27 .. 36 below the bar's top
    ASSERT_EQ(h.bar.dragging, 1u);
    // new = 10 + 90 * d / (134 - 30 - 10)
    h.bar.OnMouseMove(5, 30 + 47);
    EXPECT_EQ(h.bar.position, 10 + 90 * 47 / 94);
    h.bar.OnMouseMove(5, 30 + 500);
    EXPECT_EQ(h.bar.position, 90);
    h.bar.OnMouseMove(5, 30 - 500);
    EXPECT_EQ(h.bar.position, 0);
    const size_t reports = h.reports.size();
    h.bar.OnMouseMove(5, 30 - 600);  // no change, no report
    EXPECT_EQ(h.reports.size(), reports);
}

TEST(FgScrollBar, DegenerateRangesDoNotMoveOnDrag) {
    for (int32_t max : {-1, 0, 5}) {
        ScrollHost h(kFgBarHorizontal, 134, 0, max, 10, 0);
        h.bar.OnLButtonDown(30, 5);  // the thumb fills the track
        ASSERT_EQ(h.bar.dragging, 1u) << max;
        h.bar.OnMouseMove(80, 5);
        h.bar.OnMouseMove(-80, 5);
        EXPECT_EQ(h.bar.position, 0) << max;
        EXPECT_TRUE(h.reports.empty()) << max;
    }
}

TEST(FgScrollBar, WheelAndKeys) {
    ScrollHost h(kFgBarVertical, 134, 0, 99, 10, 50);
    h.bar.step = 3;
    h.bar.OnMouseWheel(0, 0, 2);
    EXPECT_EQ(h.bar.position, 56);
    h.bar.OnMouseWheel(0, 0, 20);
    EXPECT_EQ(h.bar.position, 90);
    h.bar.OnMouseWheel(0, 0, -40);
    EXPECT_EQ(h.bar.position, 0);

    const struct {
        uint32_t orientation;
        uint16_t state;
        int32_t after;
    } keys[] = {
        {kFgBarVertical, kFgKeyStateDown, 51},
        {kFgBarVertical, kFgKeyStateDown | kFgKeyStateShift, 60},
        {kFgBarVertical, kFgKeyStateUp, 49},
        {kFgBarVertical, kFgKeyStateUp | kFgKeyStateShift, 40},
        {kFgBarVertical, kFgKeyStateRight, 50},
        {kFgBarHorizontal, kFgKeyStateRight, 51},
        {kFgBarHorizontal, kFgKeyStateLeft | kFgKeyStateShift, 40},
        {kFgBarHorizontal, kFgKeyStateDown, 50},
        {7, kFgKeyStateDown, 50},  // unknown orientation: inert
    };
    for (const auto& k : keys) {
        ScrollHost kh(k.orientation, 134, 0, 99, 10, 50);
        g_KeyState = k.state;
        kh.bar.OnKeyStateChanged();
        EXPECT_EQ(kh.bar.position, k.after) << k.orientation << " " << k.state;
    }
    g_KeyState = 0;
}

struct RangeHost {
    CFgUIDialog dialog;
    CFgUIRangeBar bar;
    std::vector<std::pair<int32_t, int32_t>> reports;
    RangeHost(int32_t length, int32_t min, int32_t max, int32_t low, int32_t high) {
        bar.orientation = kFgBarHorizontal;
        bar.SetRect(10, 20, length, 16);
        bar.minimum = min;
        bar.maximum = max;
        bar.low = low;
        bar.high = high;
        bar.data = this;
        bar.callback = [](CFgUIRangeBar*, void* data, int32_t l, int32_t h) {
            static_cast<RangeHost*>(data)->reports.emplace_back(l, h);
        };
        dialog.AddChild(&bar);
    }
};

TEST(FgRangeBar, KeysMoveTheSpanOrOneEnd) {
    const struct {
        uint16_t state;
        int32_t low, high;
    } cases[] = {
        {kFgKeyStateLeft | kFgKeyStateShift, 20, 39}, {kFgKeyStateRight | kFgKeyStateControl, 21, 40},
        {kFgKeyStateRight, 21, 41},                   {kFgKeyStateLeft, 19, 39},
        {kFgKeyStateRight | kFgKeyStateShift, 20, 41}, {kFgKeyStateLeft | kFgKeyStateControl, 19, 40},
    };
    for (const auto& c : cases) {
        RangeHost h(120, 0, 100, 20, 40);
        g_KeyState = c.state;
        h.bar.OnKeyStateChanged();
        EXPECT_EQ(h.bar.low, c.low) << c.state;
        EXPECT_EQ(h.bar.high, c.high) << c.state;
        EXPECT_EQ(h.reports.size(), 1u);
    }
    // At the ends nothing moves.
    RangeHost h(120, 0, 100, 0, 100);
    g_KeyState = kFgKeyStateLeft;
    h.bar.OnKeyStateChanged();
    g_KeyState = kFgKeyStateRight;
    h.bar.OnKeyStateChanged();
    EXPECT_TRUE(h.reports.empty());
    g_KeyState = 0;
}

TEST(FgRangeBar, PositionsCountFromTheMinimum) {
    // Length 117: track from x + 8 over T = 100 pixels.
    RangeHost h(117, 1000, 1100, 1020, 1040);
    EXPECT_EQ(h.bar.ValuePixel(1000), 18);
    EXPECT_EQ(h.bar.ValuePixel(1050), 68);
    EXPECT_EQ(h.bar.ValuePixel(1100), 118);
}

TEST(FgRangeBar, WheelByPointerPlace) {
    // p(20) = 38, p(40) = 58 in dialog pixels; pointer x is relative to x = 10.
    const struct {
        int32_t px, notches, low, high;
    } cases[] = {
        {5, -3, 17, 40},  {5, 30, 40, 40},   {5, -30, 0, 40},  // before the span
        {35, -5, 15, 35}, {35, -30, 0, 20},  {35, 70, 80, 100},  // on it
        {60, 4, 20, 44},  {60, -30, 20, 20}, {60, 90, 20, 100},  // after it
    };
    for (const auto& c : cases) {
        RangeHost h(117, 0, 100, 20, 40);
        h.bar.OnMouseWheel(c.px, 5, c.notches);
        EXPECT_EQ(h.bar.low, c.low) << c.px << " " << c.notches;
        EXPECT_EQ(h.bar.high, c.high) << c.px << " " << c.notches;
    }
}

TEST(FgRangeBar, DragsByGripAndSpan) {
    // Relative pointer: low grip 21 .. 27, span 28 .. 48, high grip 49 .. 55.
    const struct {
        int32_t press, travel;
        uint32_t mode;
        int32_t low, high;
    } cases[] = {
        {24, 15, CFgUIRangeBar::kDragLow, 35, 40},
        {24, 80, CFgUIRangeBar::kDragLow, 40, 40},
        {24, -80, CFgUIRangeBar::kDragLow, 0, 40},
        {52, 30, CFgUIRangeBar::kDragHigh, 20, 70},
        {52, -50, CFgUIRangeBar::kDragHigh, 20, 20},
        {40, 10, CFgUIRangeBar::kDragSpan, 30, 50},
        {40, 200, CFgUIRangeBar::kDragSpan, 80, 100},
        {40, -200, CFgUIRangeBar::kDragSpan, 0, 20},
        {5, 10, CFgUIRangeBar::kDragNone, 20, 40},
    };
    for (const auto& c : cases) {
        RangeHost h(117, 0, 100, 20, 40);
        h.bar.OnLButtonDown(c.press, 5);
        EXPECT_EQ(h.bar.dragMode, c.mode) << c.press;
        h.bar.OnMouseMove(c.press + c.travel, 5);
        EXPECT_EQ(h.bar.low, c.low) << c.press << " " << c.travel;
        EXPECT_EQ(h.bar.high, c.high) << c.press << " " << c.travel;
        h.bar.OnLButtonUp(0, 0);
        EXPECT_EQ(h.bar.dragMode, 0u);
    }
}

TEST(FgRangeBar, EmptyRangesAndShortBarsAreInert) {
    const struct {
        int32_t length, min, max;
    } cases[] = {{117, 0, 0}, {117, 10, 5}, {16, 0, 100}};
    for (const auto& c : cases) {
        RangeHost h(c.length, c.min, c.max, c.min, c.min);
        EXPECT_FALSE(h.bar.Active());
        h.bar.OnLButtonDown(8, 5);
        h.bar.OnMouseMove(60, 5);
        h.bar.OnMouseWheel(8, 5, 3);
        g_KeyState = kFgKeyStateRight;
        h.bar.OnKeyStateChanged();
        g_KeyState = 0;
        EXPECT_EQ(h.bar.dragMode, 0u);
        EXPECT_EQ(h.bar.low, c.min);
        EXPECT_TRUE(h.reports.empty());
    }
}

}  // namespace
