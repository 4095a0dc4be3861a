// The progress box on the offscreen driver: its layout with and without a
// message, "中断" setting the cancel flag while the box stays, the close box
// doing nothing, and screenshots of both boxes.
#include <gtest/gtest.h>

#include "platform/plat_messages.h"
#include "toolkit/fg_loop.h"
#include "toolkit/fg_progress_box.h"
#include "toolkit/support/ui_input.h"

namespace {

using namespace kvtest;

// Advances the bar the way a long operation does: position, redraw, pump.
int32_t RunSteps(CFgUIProgressBox& box, int32_t steps) {
    int32_t done = 0;
    for (; done < steps && !box.cancel; ++done) {
        box.bar.position = done + 1;
        box.Redraw();
        FgPumpMessages();
    }
    return done;
}

TEST(FgProgressBox, LayoutWithoutAndWithAMessage) {
    CFgUIProgressBox plain;
    ASSERT_EQ(plain.Open(100, 0, L"保存中", nullptr, nullptr), 1);
    const int32_t fh = static_cast<int32_t>(plain.font.height);
    const int32_t abortWidth = plain.font.TextWidth(L"中断");
    EXPECT_EQ(abortWidth, 2 * fh);
    EXPECT_EQ(plain.width, static_cast<uint64_t>(16 * fh + 20));
    EXPECT_EQ(plain.height, static_cast<uint64_t>(3 * fh + 52));
    EXPECT_EQ(plain.bar.x, 8);
    EXPECT_EQ(plain.bar.y, fh + 16);
    EXPECT_EQ(plain.bar.width, 16 * fh + 4);
    EXPECT_EQ(plain.bar.height, fh + 4);
    EXPECT_EQ(plain.abortButton.x, (16 * fh + 20 - (fh + 16 + abortWidth)) / 2);
    EXPECT_EQ(plain.abortButton.y, 2 * fh + 28);
    EXPECT_EQ(plain.abortButton.width, abortWidth + fh + 16);
    EXPECT_EQ(plain.abortButton.height, fh + 16);
    EXPECT_STREQ(plain.abortButton.label.c_str(), L"中断");
    plain.bar.position = 40;
    SaveScreenshot(CaptureFrame(plain, plain), "progress_box_plain");
    plain.Destroy();

    const wchar_t* text = L"シーンを保存しています (scene 12 / 300) ...";
    CFgUIProgressBox box;
    ASSERT_EQ(box.Open(300, 7, L"保存中", text, nullptr), 1);
    const int32_t m = box.font.TextWidth(text);
    ASSERT_GT(m, 16 * fh);
    EXPECT_EQ(box.width, static_cast<uint64_t>(m + 20));
    EXPECT_EQ(box.bar.width, m + 4);
    EXPECT_EQ(box.bar.maximum, 300);
    box.bar.position = 12;
    const PlatFrame f = CaptureFrame(box, box);
    SaveScreenshot(f, "progress_box_message");
    // The message, in colour 0, fills rows 8 to 8 + fh of the block.
    int dark = 0, left = f.width, right = -1;
    for (int32_t y = 8; y < 8 + fh; ++y)
        for (int32_t x = 0; x < f.width; ++x)
            if (PixelAt(f, x, y)[0] < 100) ++dark, left = std::min(left, x), right = std::max(right, x);
    EXPECT_GT(dark, 100);
    EXPECT_GE(left, (10 + m - m) / 2);
    EXPECT_LT(right, (10 + m - m) / 2 + m);
    box.Destroy();
}

TEST(FgProgressBox, AbortSetsCancelAndTheBoxStays) {
    CFgUIProgressBox box;
    ASSERT_EQ(box.Open(50, 0, L"処理中", L"背景を作成しています", nullptr), 1);
    EXPECT_EQ(box.cancel, 0u);
    EXPECT_EQ(RunSteps(box, 5), 5);
    EXPECT_EQ(box.bar.position, 5);
    // The close box does nothing while the box is shown.
    PlatPostMessage(box.window, kPlatMsgClose);
    EXPECT_EQ(RunSteps(box, 5), 5);
    EXPECT_NE(box.window, 0u);
    EXPECT_EQ(box.cancel, 0u);
    // "中断" sets the flag; the operation sees it and stops; the box stays
    // until its owner closes it.
    const CFgUIButton& b = box.abortButton;
    PlatPostTestClick(box.window, b.x + b.width / 2, b.y + b.height / 2);
    EXPECT_LT(RunSteps(box, 40), 40);
    EXPECT_EQ(box.cancel, 1u);
    EXPECT_NE(box.window, 0u);
    box.Destroy();
    EXPECT_EQ(box.window, 0u);
    // Opening again starts with the flag clear.
    ASSERT_EQ(box.Open(10, 0, L"処理中", nullptr, nullptr), 1);
    EXPECT_EQ(box.cancel, 0u);
    EXPECT_EQ(box.bar.position, 0);
    box.Destroy();
}

}  // namespace
