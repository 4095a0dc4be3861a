// Dialogs with the standard controls on the offscreen driver: drawing read
// back from the frame buffer, and input routed from injected messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <string>
#include <vector>

#include "platform/plat_messages.h"
#include "platform/plat_window.h"
#include "support/testsupport.h"
#include "toolkit/fg_button.h"
#include "toolkit/fg_dialog.h"
#include "toolkit/fg_keys.h"
#include "toolkit/fg_label.h"
#include "toolkit/fg_loop.h"
#include "toolkit/fg_progress.h"
#include "toolkit/fg_rangebar.h"
#include "toolkit/fg_scrollbar.h"
#include "toolkit/support/screen_recorder.h"
#include "toolkit/support/ui_input.h"

namespace {

constexpr uint32_t kVkTab = 9, kVkShift = 16, kVkSpace = 32, kVkDown = 40, kVkUp = 38;

// Everything a callback saw.
struct Log {
    std::vector<std::string> calls;
};

class DemoDialog : public CFgUIDialog {
public:
    CFgUILabel jpLabel, enLabel, emptyLabel;
    CFgUIButton ok, cancel;
    CFgUIChkButton check, radio[3];
    CFgUIProgressBar progress;
    CFgUIScrollBar scroll, vertical;
    CFgUIRangeBar range;
    Log log;

    DemoDialog() {
        jpLabel.SetText(L"日本語のラベル");
        jpLabel.SetRect(10, 10, 160, 20);
        enLabel.SetText(L"English label");
        enLabel.SetRect(180, 10, 160, 20);
        emptyLabel.SetRect(10, 34, 100, 20);
        ok.SetLabel(L"OK");
        ok.SetRect(10, 60, 80, 24);
        cancel.SetLabel(L"キャンセル");
        cancel.SetRect(100, 60, 100, 24);
        check.SetLabel(L"Check チェック");
        check.SetRect(10, 94, 160, 20);
        const wchar_t* names[3] = {L"Red 赤", L"Green 緑", L"Blue 青"};
        for (int i = 0; i < 3; ++i) {
            radio[i].SetLabel(names[i]);
            radio[i].SetRect(180, 94 + 22 * i, 140, 20);
        }
        radio[0].AddToGroup(&radio[1]);
        radio[0].AddToGroup(&radio[2]);
        radio[0].SelectInGroup(1, 0);
        progress.SetRect(10, 170, 330, 18);
        progress.maximum = 100;
        progress.position = 40;
        progress.text = L"40 %";
        scroll.orientation = kFgBarHorizontal;
        scroll.SetRect(10, 196, 330, 16);
        scroll.maximum = 99;
        scroll.page = 10;
        scroll.position = 30;
        vertical.orientation = kFgBarVertical;
        vertical.SetRect(328, 36, 16, 124);
        vertical.maximum = 9;
        vertical.page = 3;
        vertical.position = 6;
        range.orientation = kFgBarHorizontal;
        range.SetRect(10, 220, 330, 16);
        range.maximum = 100;
        range.low = 20;
        range.high = 60;
        ok.callback = cancel.callback = [](CFgUIButton* b, void* data) {
            static_cast<Log*>(data)->calls.push_back("button " + std::to_string(b->x));
        };
        ok.data = cancel.data = &log;
        check.callback = [](CFgUIChkButton* b, void* data) {
            static_cast<Log*>(data)->calls.push_back("check " + std::to_string(b->checked));
        };
        check.data = &log;
        for (auto& r : radio) {
            r.callback = [](CFgUIChkButton* b, void* data) {
                static_cast<Log*>(data)->calls.push_back("radio " + std::to_string(b->GetGroupSelection()));
            };
            r.data = &log;
        }
        scroll.callback = [](CFgUIScrollBar*, void* data, int32_t p) {
            static_cast<Log*>(data)->calls.push_back("scroll " + std::to_string(p));
        };
        scroll.data = &log;
        range.callback = [](CFgUIRangeBar*, void* data, int32_t l, int32_t h) {
            static_cast<Log*>(data)->calls.push_back("range " + std::to_string(l) + " " + std::to_string(h));
        };
        range.data = &log;
        for (CFgUIObj* c : std::initializer_list<CFgUIObj*>{&jpLabel, &enLabel, &emptyLabel, &ok, &cancel, &check,
                                                           &radio[0], &radio[1], &radio[2], &progress, &scroll,
                                                           &range, &vertical})
            AddChild(c);
        // Labels, the progress bar and the range and vertical bars are not tab stops here.
        jpLabel.tabStop = enLabel.tabStop = emptyLabel.tabStop = progress.tabStop = range.tabStop = vertical.tabStop = 0;
    }
};

PlatFrame Capture(CFgUIDialog& d) { return kvtest::CaptureFrame(d, d); }
const uint8_t* Pixel(const PlatFrame& f, int32_t x, int32_t y) { return kvtest::PixelAt(f, x, y); }

// Pixels of the rectangle darker than `below` (text on the light face).
int DarkPixels(const PlatFrame& f, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int below = 128) {
    int n = 0;
    for (int32_t y = y0; y <= y1; ++y)
        for (int32_t x = x0; x <= x1; ++x)
            if (Pixel(f, x, y)[0] < below) ++n;
    return n;
}

void Pump() { FgPumpMessages(); }

void Press(uint32_t window, int32_t x, int32_t y) { PlatPostMessage(window, kPlatMsgLButtonDown, x, y); }
void Release(uint32_t window, int32_t x, int32_t y) { PlatPostMessage(window, kPlatMsgLButtonUp, x, y); }
void Move(uint32_t window, int32_t x, int32_t y) { PlatPostMessage(window, kPlatMsgMouseMove, x, y); }
void Key(uint32_t window, uint32_t vk) {
    PlatPostTestKey(window, vk, true);
    PlatPostTestKey(window, vk, false);
}

class FgDialogTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(d.Create(-1, -1, 350, 246, L"controls コントロール", kFgStyleFixed, nullptr), 1);
        Pump();
    }
    DemoDialog d;
};

TEST_F(FgDialogTest, DrawsTextInsideLabelsAndTheFaceElsewhere) {
    const PlatFrame f = Capture(d);
    ASSERT_EQ(f.width, 350);
    kvtest::WritePngRgba(kvtest::ScreenshotDir() + "/dialog_controls.png", f.width, f.height, f.rgba);
    // Background: colour 5 (0.9 grey) away from every control.
    const uint8_t* bg = Pixel(f, 345, 50);
    EXPECT_NEAR(bg[0], 230, 1);
    EXPECT_EQ(DarkPixels(f, 0, 0, 349, 9), 0) << "nothing above the labels";
    EXPECT_GT(DarkPixels(f, 10, 10, 169, 29), 20) << "Japanese label";
    EXPECT_GT(DarkPixels(f, 180, 10, 339, 29), 20) << "English label";
    EXPECT_EQ(DarkPixels(f, 10, 34, 109, 53), 0) << "empty label";
    // Japanese glyphs are full width: the centred 7-character text spans
    // about 7 x 14 pixels around the label's middle.
    int left = 999, right = -1;
    for (int32_t x = 10; x < 170; ++x)
        if (DarkPixels(f, x, 10, x, 29)) left = std::min(left, x), right = std::max(right, x);
    EXPECT_NEAR((left + right) / 2.0, 89.5, 4);
    EXPECT_NEAR(right - left + 1, 98, 6);
    // Progress bar: filled part black up to x + 1 + 40 * 328 / 100, then white.
    EXPECT_EQ(Pixel(f, 20, 183)[0], 0);
    EXPECT_EQ(Pixel(f, 300, 183)[0], 255);
    // Its text, in the mid grey of colours 0 and 1, is centred on the bar.
    double sum = 0;
    int count = 0;
    for (int32_t y = 170; y < 188; ++y)
        for (int32_t x = 10; x < 340; ++x)
            if (std::abs(Pixel(f, x, y)[0] - 127) <= 2) sum += x, ++count;
    ASSERT_GT(count, 10);
    EXPECT_NEAR(sum / count, 10 + 330 / 2.0, 2.5);
}

TEST_F(FgDialogTest, ClickCallsTheButtonWithItsDataAndFocusesIt) {
    PlatPostTestClick(d.window, 50, 70);
    Pump();
    ASSERT_EQ(d.log.calls, std::vector<std::string>{"button 10"});
    EXPECT_EQ(d.focused, &d.ok);
    EXPECT_EQ(d.ok.focused, 1u);
    // A click on a label hits no tab stop: the focus stays.
    PlatPostTestClick(d.window, 50, 20);
    Pump();
    EXPECT_EQ(d.focused, &d.ok);
}

TEST_F(FgDialogTest, CaptureHoldsFromPressToRelease) {
    Press(d.window, 150, 70);  // the cancel button
    Pump();
    EXPECT_EQ(d.captured, &d.cancel);
    EXPECT_EQ(d.cancel.pressed, 1u);
    Move(d.window, 50, 100);  // over the check button
    Release(d.window, 50, 100);
    Pump();
    EXPECT_EQ(d.captured, nullptr);
    EXPECT_EQ(d.log.calls, std::vector<std::string>{"button 100"});
    EXPECT_EQ(d.check.checked, 0u) << "the release went to the captured button";
}

TEST_F(FgDialogTest, DisabledAndHiddenControlsIgnoreInput) {
    d.ok.enabled = 0;
    d.check.visible = 0;
    PlatPostTestClick(d.window, 50, 70);
    PlatPostTestClick(d.window, 50, 104);
    Pump();
    EXPECT_TRUE(d.log.calls.empty());
    EXPECT_EQ(d.focused, nullptr);
}

TEST_F(FgDialogTest, TabWalksTheTabStopsBothWays) {
    d.cancel.enabled = 0;
    d.radio[2].visible = 0;
    std::vector<CFgUIObj*> seen;
    for (int i = 0; i < 6; ++i) {
        Key(d.window, kVkTab);
        Pump();
        seen.push_back(d.focused);
    }
    const std::vector<CFgUIObj*> forward{&d.ok, &d.check, &d.radio[0], &d.radio[1], &d.scroll, &d.ok};
    EXPECT_EQ(seen, forward);
    PlatPostTestKey(d.window, kVkShift, true);
    Key(d.window, kVkTab);
    Pump();
    EXPECT_EQ(d.focused, &d.scroll);
    Key(d.window, kVkTab);
    Pump();
    EXPECT_EQ(d.focused, &d.radio[1]);
    PlatPostTestKey(d.window, kVkShift, false);
    Pump();
}

TEST_F(FgDialogTest, CheckBoxTogglesAndRadioGroupSelects) {
    PlatPostTestClick(d.window, 20, 104);
    Pump();
    EXPECT_EQ(d.check.checked, 1u);
    // Space on the focused check box toggles it back.
    Key(d.window, kVkSpace);
    Pump();
    EXPECT_EQ(d.check.checked, 0u);
    PlatPostTestClick(d.window, 190, 104 + 44);  // third radio
    Pump();
    EXPECT_EQ(d.radio[0].GetGroupSelection(), 2);
    EXPECT_EQ(d.radio[1].checked, 0u);
    EXPECT_EQ(d.radio[2].checked, 1u);
    // Clicking the selected member keeps it checked.
    PlatPostTestClick(d.window, 190, 104 + 44);
    Pump();
    EXPECT_EQ(d.radio[2].checked, 1u);
    // Down from the last member wraps to the first; up wraps back.
    Key(d.window, kVkDown);
    Pump();
    EXPECT_EQ(d.radio[0].GetGroupSelection(), 0);
    Key(d.window, kVkUp);
    Pump();
    EXPECT_EQ(d.radio[0].GetGroupSelection(), 2);
    const std::vector<std::string> want{"check 1", "check 0", "radio 2", "radio 2", "radio 0", "radio 2"};
    EXPECT_EQ(d.log.calls, want);
}

TEST_F(FgDialogTest, ScrollAndRangeBarsFollowClicksAndDrags) {
    // Forward arrow of the scroll bar (x 10 .. 339): its last 16 pixels.
    PlatPostTestClick(d.window, 330, 204);
    Pump();
    EXPECT_EQ(d.scroll.position, 31);
    // Drag the thumb: it starts at 27 + 31 * (296 - K) / 90 with K = 29.
    const int32_t thumb = 10 + 17 + 31 * (296 - 29) / 90 + 5;
    Press(d.window, thumb, 204);
    Move(d.window, thumb + 100, 250);  // outside the bar: the capture holds
    Release(d.window, thumb + 100, 250);
    Pump();
    EXPECT_EQ(d.scroll.position, 31 + 90 * 100 / (330 - 30 - 29));
    EXPECT_EQ(d.scroll.dragging, 0u);
    // Range bar: drag the span right by 31 pixels = 10 values.
    const int32_t mid = 10 + 8 + 40 * 313 / 100;
    Press(d.window, mid, 228);
    Move(d.window, mid + 32, 228);
    Release(d.window, mid + 32, 228);
    Pump();
    EXPECT_EQ(d.range.low, 20 + 101 * 32 / 314);
    EXPECT_EQ(d.range.high - d.range.low, 40);
    ASSERT_GE(d.log.calls.size(), 3u);
    EXPECT_EQ(d.log.calls.front(), "scroll 31");
}

TEST_F(FgDialogTest, DisablingAllSparesARefusingControl) {
    class Stubborn : public CFgUIButton {
    public:
        int32_t CanEnable(int32_t enable) override { return enable; }
    } stubborn;
    stubborn.SetRect(250, 60, 60, 24);
    d.AddChild(&stubborn);
    d.SetFocus(&stubborn);
    d.EnableAll(0);
    EXPECT_EQ(stubborn.enabled, 1u);
    EXPECT_EQ(d.focused, &stubborn);
    EXPECT_EQ(d.ok.enabled, 0u);
    EXPECT_EQ(d.CFgScreen::enabled, 0u);
    d.SetFocus(&d.ok);
    d.EnableAll(1);
    d.ok.enabled = 0;
    d.SetFocus(nullptr);
    d.EnableAll(0);
    d.FocusNext();
    EXPECT_EQ(d.focused, &stubborn);
}

TEST(FgDialogPages, TwoDialogsShareGlyphPages) {
    DemoDialog a, b;
    ASSERT_EQ(a.Create(-1, -1, 350, 246, L"a", kFgStyleFixed, nullptr), 1);
    const uint32_t page = L'日' / 128;
    ASSERT_NE(a.font.pages[page].pixels, nullptr);
    ASSERT_EQ(b.Create(-1, -1, 350, 246, L"b", kFgStyleFixed, nullptr), 1);
    ASSERT_NE(b.font.pages[page].pixels, nullptr);
    EXPECT_EQ(std::memcmp(a.font.pages[page].pixels, b.font.pages[page].pixels, a.font.pages[page].byteSize), 0);
    // Both draw the same text the same way.
    const PlatFrame fa = Capture(a), fb = Capture(b);
    ASSERT_EQ(fa.rgba.size(), fb.rgba.size());
    EXPECT_EQ(fa.rgba, fb.rgba);
    // Hiding and showing re-creates the context: the pages re-attach and draw again.
    const uint64_t generation = b.generation;
    PlatShowWindow(b.window, false);
    PlatShowWindow(b.window, true);
    Pump();
    EXPECT_EQ(b.generation, generation + 1);
    EXPECT_EQ(Capture(b).rgba, fa.rgba);
    EXPECT_EQ(b.font.pages[page].screenGeneration, b.generation);
}

}  // namespace
