// "Manual measurement" in a chain: clicks, the panel's label and "CLS",
// the text following the frame's calibration, and the drawn overlay.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filters/analysis/lf_mmeasure.h"
#include "filters/analysis/support/overlay_view.h"
#include "filters/processing/support/fake_host.h"
#include "image/imgbuff.h"
#include "platform/plat_messages.h"
#include "support/testsupport.h"
#include "toolkit/support/ui_input.h"

namespace {

class ManualMeasure : public testing::Test {
protected:
    void TearDown() override { kvtest::Pump(); }
    CLfMmeasure* Add() {
        host.SetLanguage(L"en");
        host.SetSourceFormat(64, 48, 1, 1);
        return static_cast<CLfMmeasure*>(host.Add(CreateLfMmeasure()));
    }
    FakeHost host;
};

TEST_F(ManualMeasure, ClicksLabelClearAndCalibration) {
    CLfMmeasure* f = Add();
    ASSERT_TRUE(f->PanelShown());
    EXPECT_EQ(f->CFgScreen::width, 256u);
    EXPECT_EQ(f->clearButton.label, L"CLS");
    host.calls.clear();
    f->OnLButtonDown(10, 10, 0);
    EXPECT_EQ(f->Text(), L"pos(10, 10)");
    EXPECT_EQ(host.calls, (std::vector<std::string>{"Redraw"}));
    f->OnLButtonDown(13, 14, 0);
    EXPECT_EQ(f->Text(), L"length:5.000000");
    // The next frame's step takes the calibration the chain hands down.
    host.SetCalibration(0.5, 1, L"mm");
    CImgBuff frame;
    frame.buffer->Create(64, 48, kImgGray8);
    host.RunChain(&frame, 0);
    EXPECT_EQ(f->Text(), L"length:2.500000mm");
    kvtest::Pump();
    f->CFgUICtrl::Redraw();
    EXPECT_EQ(f->resultLabel.text, L"length:2.500000mm");
    for (int i = 0; i < 3; ++i) f->OnLButtonDown(20 + i, 30, 0);  // the fifth click is ignored
    EXPECT_EQ(f->Points().size(), 4u);
    EXPECT_EQ(f->Points()[3].x, 21);
    f->OnRButtonDown(0, 0, 0);
    EXPECT_EQ(f->Points().size(), 3u);
    // Disabled: the text goes, the points stay; enabled again: it returns.
    f->OnEnable(0);
    EXPECT_EQ(f->Text(), L"");
    EXPECT_EQ(f->Points().size(), 3u);
    f->OnEnable(1);
    EXPECT_EQ(f->Text().substr(0, 6), L"angle:");
    // A Y axis pointing up counts rows from the bottom of the frame.
    host.SetCalibration(1, -1, L"");
    f->ClearPoints();
    f->OnLButtonDown(3, 0, 0);
    EXPECT_EQ(f->Text(), L"pos(3, 47)");
    host.calls.clear();
    PlatPostTestClick(f->window, 200 + 24, 8 + 16);
    kvtest::Pump();
    EXPECT_TRUE(f->Points().empty());
    EXPECT_EQ(f->Text(), L"");
    EXPECT_EQ(host.calls, (std::vector<std::string>{"Redraw"}));
    f->OnRButtonDown(0, 0, 0);  // nothing to drop
    EXPECT_EQ(host.calls.size(), 1u);
    host.SetLanguage(L"jp");
    EXPECT_EQ(f->clearButton.label, L"クリア");
    f->OnLButtonDown(3, 4, 0);
    EXPECT_EQ(f->Text(), L"座標(3, 43)");
    kvtest::SaveScreenshot(kvtest::CaptureFrame(*f, *f), "manual_measurement-jp");
}

TEST_F(ManualMeasure, OverlayDrawsCrossLinesAndPoints) {
    CLfMmeasure* f = Add();
    kvtest::OverlayView view(&host, 64, 48);
    const uint32_t red = 0xFF0000;
    // One point: a cross from x - 4 to x + 4 and y - 4 to y + 4.
    f->OnLButtonDown(20, 20, 0);
    PlatFrame shot = view.Capture();
    for (int32_t d = -4; d <= 4; ++d) {
        EXPECT_EQ(kvtest::OverlayView::Rgb(shot, 20 + d, 20), red) << d;
        EXPECT_EQ(kvtest::OverlayView::Rgb(shot, 20, 20 + d), red) << d;
    }
    EXPECT_EQ(kvtest::OverlayView::Rgb(shot, 22, 22), 0u);
    EXPECT_EQ(kvtest::OverlayView::Rgb(shot, 26, 20), 0u);
    // Three points: the polyline through them.
    f->OnLButtonDown(50, 20, 0);
    f->OnLButtonDown(50, 40, 0);
    host.SetGuideColor(0, 1, 0);
    shot = view.Capture();
    EXPECT_EQ(kvtest::OverlayView::Rgb(shot, 35, 20), 0x00FF00u);
    EXPECT_EQ(kvtest::OverlayView::Rgb(shot, 50, 30), 0x00FF00u);
    EXPECT_EQ(kvtest::OverlayView::Rgb(shot, 35, 30), 0u);
    kvtest::SaveScreenshot(shot, "manual_measurement-overlay");
}

}  // namespace
