// Batched text and fills draw the same pixels as drawing each text with a
// stencil clip and each rectangle on its own.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "toolkit/fg_dialog.h"
#include "toolkit/fg_draw.h"
#include "toolkit/fg_text_batch.h"
#include "toolkit/support/ui_input.h"

namespace {

class Canvas : public CFgUIDialog {
public:
    std::function<void()> paint;
    void DrawOverlay() override {
        if (paint) paint();
    }
};

struct Piece {
    int32_t x, y;
    const wchar_t* text;
    double color[3];
    int32_t clip[4];
};

TEST(FgTextBatch, SamePixelsAsClippedDrawText) {
    Canvas c;
    ASSERT_EQ(c.Create(-1, -1, 260, 120, L"batch", kFgStyleFixed, nullptr), 1);
    kvtest::Pump();
    const Piece pieces[] = {
        {3, 4, L"Cell 12,5", {0, 0, 0}, {0, 0, 259, 119}},
        {40, 30, L"日本語テキスト", {0.8, 0, 0}, {45, 33, 120, 41}},   // cut on every side
        {200, 60, L"overflowing text", {0, 0, 0.7}, {190, 55, 259, 80}},  // runs past the clip
        {-5, 90, L"ｶﾀｶﾅ¥‾A", {0, 0.5, 0}, {0, 88, 60, 105}},
        {10, 100, L"hidden", {0, 0, 0}, {50, 50, 40, 60}},  // empty clip
    };
    const FgColorRect rects[] = {
        {0, 0, 30, 20, c.colors[kFgColorHighlight]}, {25, 15, 80, 50, c.colors[kFgColorDisabledText]},
        {100, 100, 100, 100, c.colors[kFgColorText]},
    };
    c.paint = [&] {
        for (const FgColorRect& r : rects) FgFillRect(&c, r.x0, r.y0, r.x1, r.y1, r.color);
        for (const Piece& p : pieces) {
            c.SetClipRect(p.clip[0], p.clip[1], p.clip[2], p.clip[3]);
            glColor3dv(p.color);
            c.font.DrawText(p.x, p.y, p.text);
            glDisable(GL_STENCIL_TEST);
        }
    };
    const PlatFrame one = kvtest::CaptureFrame(c, c);
    c.paint = [&] {
        FgFillRects(&c, rects, 3);
        CFgTextBatch batch(&c.font);
        for (const Piece& p : pieces)
            batch.Add(p.x, p.y, p.text, p.color, p.clip[0], p.clip[1], p.clip[2], p.clip[3]);
        batch.Draw();
    };
    const PlatFrame batched = kvtest::CaptureFrame(c, c);
    ASSERT_EQ(one.rgba.size(), batched.rgba.size());
    int differing = 0;
    for (size_t i = 0; i < one.rgba.size(); ++i) differing += one.rgba[i] != batched.rgba[i];
    EXPECT_EQ(differing, 0);
    int ink = 0;
    for (size_t i = 0; i < one.rgba.size(); i += 4) ink += one.rgba[i] < 100;
    EXPECT_GT(ink, 100) << "the texts were drawn";
}

}  // namespace
