// The side panel inside the main screen: layout, clicks and right-button
// drags at computed coordinates (posted to the window, so the dialog's
// routing takes part), the buttons, the chain tabs, FLUSH and the hooks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/support/main_screen_fixture.h"
#include "media/codec.h"
#include "platform/plat_messages.h"
#include "platform/plat_window.h"
#include "toolkit/support/file_select_answer.h"

namespace {

using namespace kvapptest;

class SidePanelTest : public MainScreenTest {
protected:
    CSidePanel& Panel() { return screen->sidePanel; }
    // A still, so that the chain has a frame to run on.
    void OpenStill() { screen->OpenFile(W(fx.Solid("still.png", 16, 12, 1, 2, 3)).c_str()); }
    const FilterChain& Chain() { return Panel().chains[Panel().activeChain]; }
    // Probes named A, B, C... so that an order reads as a word.
    std::vector<ProbeFilter*> AddProbes(int n) {
        std::vector<ProbeFilter*> added;
        for (int i = 0; i < n; ++i) added.push_back(AddProbe());
        for (int i = 0; i < n; ++i) added[static_cast<size_t>(i)]->tag = static_cast<char>('A' + i);
        return added;
    }
    std::string Order() {
        std::string s;
        for (CImgFilter* f : Chain().filters) s += static_cast<ProbeFilter*>(f)->tag;
        return s;
    }
    int Runs() {
        int n = 0;
        for (CImgFilter* f : Chain().filters) n += static_cast<ProbeFilter*>(f)->runs.load();
        return n;
    }
    // Window point of list row `row`, `column` pixels from the list's left.
    int32_t RowY(int row) { return static_cast<int32_t>(Panel().listY) + 20 * row + 10; }
    int32_t ColumnX(int column) { return static_cast<int32_t>(Panel().listX) + column; }
    void Post(PlatMsgKind kind, int32_t x, int32_t y) {
        PlatPostTestMouse(screen->window, kind, x, y);
        kvtest::Pump();
    }
    void Click(int32_t x, int32_t y) {
        Post(kPlatMsgLButtonDown, x, y);
        Post(kPlatMsgLButtonUp, x, y);
    }
};

TEST_F(SidePanelTest, LayoutFollowsThePanelRectangle) {
    screen->ShowSidePanel();
    CSidePanel& p = Panel();
    EXPECT_EQ(p.x, 456);
    EXPECT_EQ(p.listX, 461u);
    EXPECT_EQ(p.listY, static_cast<uint64_t>(p.y + 54));
    EXPECT_EQ(p.listHeight, static_cast<uint64_t>(p.CFgUIObj::height - 88));
    EXPECT_EQ(p.fullRows, p.listHeight / 20);
    EXPECT_EQ(p.shownRows, p.fullRows + (p.listHeight % 20 ? 1 : 0));
    EXPECT_EQ(p.deleteButton.x, p.x + 5);
    EXPECT_EQ(p.downButton.x, p.x + 143);
    EXPECT_EQ(p.flushButton.y, p.y + p.CFgUIObj::height - 29);
    EXPECT_EQ(p.tabRects[3][0], p.listX + 135);
    EXPECT_EQ(p.listWidth, 173u);  // no scroll bar for an empty list
    EXPECT_EQ(p.flushButton.enabled, 0u);  // nothing open
    // A window shorter than the panel's buttons leaves no list, not 10^19 rows.
    p.SetRect(p.x, p.y, 184, 50);
    p.Layout();
    EXPECT_EQ(p.listHeight, 0u);
    EXPECT_EQ(p.fullRows, 0u);
    EXPECT_EQ(p.shownRows, 0u);
    kvtest::CaptureFrame(*screen, *screen);
}

TEST_F(SidePanelTest, LongListScrollsAndHidingThePanelHidesItsBar) {
    screen->ShowSidePanel();
    AddProbes(static_cast<int>(Panel().fullRows) + 3);
    EXPECT_EQ(Panel().scrollNeeded, 1u);
    EXPECT_EQ(Panel().listWidth, 157u);
    EXPECT_EQ(Panel().listScrollBar.visible, 1u);
    EXPECT_EQ(Panel().listScrollBar.maximum, static_cast<int32_t>(Chain().Count() - 1));
    EXPECT_EQ(Panel().listScrollBar.page, static_cast<int32_t>(Panel().fullRows));
    screen->HideSidePanel();
    EXPECT_EQ(Panel().listScrollBar.visible, 0u);
    EXPECT_EQ(Panel().deleteButton.visible, 0u);
    screen->ShowSidePanel();
    EXPECT_EQ(Panel().listScrollBar.visible, 1u);
}

TEST_F(SidePanelTest, IconColumnsToggleAndBelowTheListNothingHappens) {
    OpenStill();
    screen->ShowSidePanel();
    auto probes = AddProbes(2);
    const int before = Runs();
    Click(ColumnX(5), RowY(2));  // below the last filter
    EXPECT_EQ(probes[0]->enabled.load() + probes[1]->enabled.load(), 2u);
    EXPECT_EQ(Runs(), before);
    Click(ColumnX(5), RowY(1));
    EXPECT_EQ(probes[1]->enabled.load(), 0u);
    EXPECT_GT(Runs(), before);  // the chain ran again
    Click(ColumnX(5), RowY(1));
    EXPECT_EQ(probes[1]->enabled.load(), 1u);
    // The probe has no settings panel: the second column does nothing.
    Click(ColumnX(25), RowY(0));
    EXPECT_EQ(probes[0]->visible, 0u);
}

TEST_F(SidePanelTest, ShiftClickSelectsARangeThatDeleteRemoves) {
    screen->ShowSidePanel();
    AddProbes(5);
    Click(ColumnX(60), RowY(1));
    EXPECT_EQ(Chain().selectedIndex, 1u);
    screen->SetKeyState(16);
    Click(ColumnX(60), RowY(3));
    screen->SetKeyState(0);
    EXPECT_EQ(Panel().rangeFirst, 1);
    EXPECT_EQ(Panel().rangeLast, 3);
    EXPECT_EQ(Chain().selected, nullptr);
    Panel().OnDelete();
    EXPECT_EQ(Order(), "AE");
    EXPECT_EQ(Panel().rangeFirst, -1);
}

TEST_F(SidePanelTest, UpAndDownMoveTheSelectionOrTheRange) {
    OpenStill();
    screen->ShowSidePanel();
    AddProbes(4);
    Panel().SelectFilter(0);
    const int before = Runs();
    Panel().OnUp();  // the first row cannot go up: nothing runs
    EXPECT_EQ(Order(), "ABCD");
    EXPECT_EQ(Runs(), before);
    Panel().OnDown();
    EXPECT_EQ(Order(), "BACD");
    EXPECT_EQ(Chain().selectedIndex, 1u);
    EXPECT_GT(Runs(), before);
    Panel().rangeFirst = 1;
    Panel().rangeLast = 2;
    Panel().OnDown();
    EXPECT_EQ(Order(), "BDAC");
    EXPECT_EQ(Panel().rangeFirst, 2);
    Panel().OnDown();  // the range's last row is the last filter
    EXPECT_EQ(Order(), "BDAC");
    Panel().OnUp();
    Panel().OnUp();
    EXPECT_EQ(Order(), "ACBD");
    EXPECT_EQ(Panel().rangeFirst, 0);
    EXPECT_EQ(Panel().rangeLast, 1);
}

TEST_F(SidePanelTest, RightDragMovesTheBlockAndRunsOnlyWhenItMoved) {
    OpenStill();
    screen->ShowSidePanel();
    AddProbes(5);
    Post(kPlatMsgRButtonDown, ColumnX(60), RowY(1));
    EXPECT_EQ(Chain().selectedIndex, 1u);
    Post(kPlatMsgMouseMove, ColumnX(60), RowY(1) + 45);  // two rows down
    EXPECT_EQ(Order(), "ACDBE");
    Post(kPlatMsgMouseMove, ColumnX(60), RowY(1) + 200);  // stops at the end
    EXPECT_EQ(Order(), "ACDEB");
    Post(kPlatMsgMouseMove, ColumnX(60), RowY(1) - 19);  // back above its start; -19 truncates to 0
    EXPECT_EQ(Order(), "ABCDE");
    const int before = Runs();
    Post(kPlatMsgRButtonUp, ColumnX(60), RowY(1) - 19);
    EXPECT_EQ(Panel().dragging, 0u);
    EXPECT_EQ(Runs(), before);  // it ended where it started
    // A range moves as a block and keeps its order.
    Panel().SelectFilter(1);
    Panel().rangeFirst = 1;
    Panel().rangeLast = 2;
    Post(kPlatMsgRButtonDown, ColumnX(60), RowY(2));
    Post(kPlatMsgMouseMove, ColumnX(60), RowY(2) + 20);
    Post(kPlatMsgRButtonUp, ColumnX(60), RowY(2) + 20);
    EXPECT_EQ(Order(), "ADBCE");
    EXPECT_EQ(Panel().rangeFirst, 2);
    EXPECT_EQ(Panel().rangeLast, 3);
    EXPECT_GT(Runs(), before);
}

TEST_F(SidePanelTest, TabsSwitchChainsAndAnEmptyChainShowsTheFrame) {
    const std::string still = fx.Solid("tab.png", 40, 30, 10, 20, 30);
    screen->OpenFile(W(still).c_str());
    screen->ShowSidePanel();
    ProbeFilter* invert = AddProbe();
    invert->invert = true;
    screen->RunFilterChain(0);
    uint8_t r, g, b;
    screen->resultImage.GetPixelRgb8(5, 5, &r, &g, &b);
    EXPECT_EQ(r, 245);
    const uint64_t* tab = Panel().tabRects[2];
    Click(static_cast<int32_t>(tab[0] + 5), static_cast<int32_t>(tab[1] + 5));
    EXPECT_EQ(Panel().activeChain, 2);
    EXPECT_EQ(invert->hiddenByTab, 1u);
    screen->resultImage.GetPixelRgb8(5, 5, &r, &g, &b);
    EXPECT_EQ(r, 10);  // re-run without filters
    Panel().SwitchChain(0);
    EXPECT_EQ(invert->hiddenByTab, 0u);
    screen->resultImage.GetPixelRgb8(5, 5, &r, &g, &b);
    EXPECT_EQ(r, 245);
}

TEST_F(SidePanelTest, FlushBakesTheChainIntoAStillAndEmptiesEveryChain) {
    const std::string still = fx.Solid("flush.png", 40, 30, 10, 20, 30);
    screen->OpenFile(W(still).c_str());
    screen->ShowSidePanel();
    ProbeFilter* invert = AddProbe();
    invert->invert = true;
    Panel().SwitchChain(1);
    AddProbe();
    Panel().SwitchChain(0);
    EXPECT_EQ(Panel().flushButton.enabled, 1u);
    screen->SetLanguage(L"en");
    kvtest::ModalAnswers answers;
    Panel().OnFlush();
    ASSERT_EQ(answers.messages.size(), 1u);
    EXPECT_EQ(answers.messages[0], L"Confirm confirmation process and update data in memory");
    for (int k = 0; k < 4; ++k) EXPECT_EQ(Panel().chains[k].Count(), 0u);
    uint8_t r, g, b;
    screen->sourceImage.GetPixelRgb8(5, 5, &r, &g, &b);
    EXPECT_EQ(r, 245);  // baked once
    screen->resultImage.GetPixelRgb8(5, 5, &r, &g, &b);
    EXPECT_EQ(r, 245);
    // A sequence: FLUSH is disabled and does nothing.
    const std::vector<std::string> seq = fx.Sequence("flushseq", 3);
    screen->OpenSequenceFiles(W(seq[0]).c_str(), W(seq[2]).c_str());
    AddProbe()->invert = true;
    EXPECT_EQ(Panel().flushButton.enabled, 0u);
    Panel().OnFlush();
    EXPECT_EQ(answers.messages.size(), 1u);
    EXPECT_EQ(Chain().Count(), 1u);
}

TEST_F(SidePanelTest, ScreenshotOfTheListWithSelectionAndTabs) {
    const std::string still = fx.Solid("shot.png", 64, 48, 200, 120, 40);
    screen->OpenFile(W(still).c_str());
    screen->ShowSidePanel();
    screen->SetLanguage(L"en");
    AddProbes(3);
    Panel().chains[0].filters[1]->enabled = 0;
    Panel().SelectFilter(2);
    screen->Redraw();
    const PlatFrame frame = kvtest::CaptureFrame(*screen, *screen);
    kvtest::SaveScreenshot(frame, "side-panel");
    // The selected row is filled with colour 2, the others with colour 1.
    const double* c2 = screen->colors[2];
    const uint8_t* px = kvtest::PixelAt(frame, ColumnX(150), RowY(2));
    EXPECT_NEAR(px[0], c2[0] * 255, 2);
    EXPECT_NEAR(px[1], c2[1] * 255, 2);
    EXPECT_NEAR(px[2], c2[2] * 255, 2);
    const double* c1 = screen->colors[1];
    px = kvtest::PixelAt(frame, ColumnX(150), RowY(0));
    EXPECT_NEAR(px[0], c1[0] * 255, 2);
    // The enable icon of the first row has ink; the disabled second has none
    // at the check mark's stroke.
    int inkFirst = 0, inkSecond = 0;
    for (int dy = 4; dy < 16; ++dy)
        for (int dx = 4; dx < 16; ++dx) {
            inkFirst += kvtest::PixelAt(frame, ColumnX(1 + dx), RowY(0) - 9 + dy)[0] < 80 ? 1 : 0;
            inkSecond += kvtest::PixelAt(frame, ColumnX(1 + dx), RowY(1) - 9 + dy)[0] < 80 ? 1 : 0;
        }
    EXPECT_GT(inkFirst, 10);
    EXPECT_EQ(inkSecond, 0);
}

TEST(SidePanelHooks, DefaultsWithoutAMainScreen) {
    CSidePanel panel;
    EXPECT_EQ(panel.GetFrameInterval(), 33333u);
    codec_write_options o{};
    panel.GetEncodeSettings(&o);
    EXPECT_EQ(o.jpeg_quality, 75u);
    EXPECT_EQ(o.avi_codec, 0u);
    EXPECT_EQ(o.mp4_quality, 0u);
    EXPECT_EQ(o.mp4_bitrate, 5000000u);
    EXPECT_EQ(o.mp4_key_interval, 0u);
    EXPECT_EQ(panel.GetCurrentFrame(), 0u);
    EXPECT_EQ(panel.Seek(3), 0);
}

TEST_F(SidePanelTest, EncodeSettingsFollowTheRateModeAndKeyFrameSwitch) {
    codec_write_options o{};
    Panel().GetEncodeSettings(&o);
    EXPECT_EQ(o.jpeg_quality, 75u);
    EXPECT_EQ(o.avi_codec, 1u);
    EXPECT_EQ(o.mp4_quality, 0u);  // bit-rate mode
    EXPECT_EQ(o.mp4_bitrate, 5000000u);
    EXPECT_EQ(o.mp4_key_interval, 10u);
    screen->saveSettings.mp4RateMode = 1;
    screen->saveSettings.mp4KeyFrameOn = 0;
    Panel().GetEncodeSettings(&o);
    EXPECT_EQ(o.mp4_quality, 25u);
    EXPECT_EQ(o.mp4_key_interval, 0u);
}

}  // namespace
