// The engines' panels placed in a test dialog in both languages: control
// rectangles and labels, hiding, and the controls' actions on the options.
#include <gtest/gtest.h>

#include <string>

#include "filters/analysis/track_hsv.h"
#include "filters/analysis/track_pat.h"
#include "toolkit/fg_dialog.h"
#include "support/testsupport.h"
#include "toolkit/support/ui_input.h"

namespace {

class CountingCtrl : public CTrackCtrl {
public:
    int32_t refreshes = 0, optionsShown = 0;
    void Refresh() override { ++refreshes; }
    void ShowOptions() override { ++optionsShown; }
};

struct Rect {
    int32_t x, y, w, h;
};
Rect RectOf(const CFgUIObj& c) { return {c.x, c.y, c.width, c.height}; }
bool operator==(const Rect& a, const Rect& b) { return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h; }

TEST(TrackPanels, ColourPanelPlacesItsControlsPerLanguage) {
    CFgUIDialog dialog;
    ASSERT_TRUE(dialog.Create(-1, -1, 420, 140, L"panel", kFgStyleFixed, nullptr));
    CountingCtrl ctrl;
    {
        CPanelHSV panel(&ctrl, &dialog);
        for (const wchar_t* language : {L"en", L"jp"}) {
            const bool jp = std::wstring(language) == L"jp";
            SCOPED_TRACE(jp ? "jp" : "en");
            panel.Layout(1, 10, 5, 410, 130, language);
            EXPECT_EQ(panel.labels[0].text, jp ? L"色相(中心)" : L"H center");
            EXPECT_TRUE(RectOf(panel.labels[1]) == (jp ? Rect{18, 33, 56, 20} : Rect{19, 33, 48, 20}));
            EXPECT_TRUE(RectOf(panel.hueCentreBar) == (jp ? Rect{106, 13, 296, 20} : Rect{90, 13, 312, 20}));
            EXPECT_TRUE(RectOf(panel.valBar) == (jp ? Rect{106, 73, 296, 20} : Rect{90, 73, 312, 20}));
            EXPECT_TRUE(RectOf(panel.optionButton) == (jp ? Rect{18, 101, 80, 20} : Rect{18, 101, 64, 20}));
            EXPECT_EQ(panel.colorAdd.label, jp ? L"色追加" : L"color add");
            EXPECT_TRUE(RectOf(panel.colorAdd) == (jp ? Rect{186, 101, 96, 20} : Rect{184, 101, 96, 20}));
            EXPECT_EQ(panel.satBar.visible, 1u);
            kvtest::SaveScreenshot(kvtest::CaptureFrame(dialog, dialog), std::string("track-hsv-panel-") + (jp ? "jp" : "en"));
        }
        // Too narrow for the sliders: they keep their rectangles.
        panel.Layout(1, 0, 0, 88, 130, L"en");
        EXPECT_EQ(panel.hueCentreBar.width, 296);  // the Japanese width of before
        panel.optionButton.callback(&panel.optionButton, panel.optionButton.data);
        EXPECT_EQ(ctrl.optionsShown, 1);
        panel.Layout(0, 0, 0, 0, 0, L"en");
        EXPECT_EQ(panel.colorSet.visible, 0u);
        EXPECT_EQ(panel.hueWidthBar.visible, 0u);
    }
    EXPECT_EQ(dialog.first, nullptr);  // the panel's controls left with it
    dialog.Destroy();
    kvtest::Pump();
}

TEST(TrackPanels, PatternPanelControlsSetTheOptions) {
    CFgUIDialog dialog;
    ASSERT_TRUE(dialog.Create(-1, -1, 300, 80, L"panel", kFgStyleFixed, nullptr));
    CountingCtrl ctrl;
    {
        CPanelPAT panel(&ctrl, &dialog);
        EXPECT_EQ(panel.thresholdLabel.text, L"90");
        for (const wchar_t* language : {L"en", L"jp"}) {
            const bool jp = std::wstring(language) == L"jp";
            SCOPED_TRACE(jp ? "jp" : "en");
            panel.Layout(1, 10, 5, 290, 75, language);
            EXPECT_EQ(panel.rollCheck.label, jp ? L"回転処理" : L"roll pat");
            EXPECT_TRUE(RectOf(panel.rollCheck) == (Rect{20, 15, 80, 20}));
            EXPECT_TRUE(RectOf(panel.thresholdBar) == (Rect{20, 35, 200, 20}));
            EXPECT_TRUE(RectOf(panel.thresholdLabel) == (jp ? Rect{220, 35, 20, 20} : Rect{220, 8, 20, 20}));
            EXPECT_EQ(panel.unplaced.visible, 0u);
        }
        panel.thresholdBar.Notify(97);
        EXPECT_EQ(ctrl.Option(kTrackOptThreshold), 97u);
        EXPECT_EQ(panel.thresholdLabel.text, L"97");
        panel.rollCheck.checked = 1;
        panel.rollCheck.callback(&panel.rollCheck, panel.rollCheck.data);
        EXPECT_EQ(ctrl.Option(kTrackOptRotation), 1u);
        EXPECT_EQ(ctrl.refreshes, 2);
        panel.Layout(0, 0, 0, 0, 0, L"en");
        EXPECT_EQ(panel.thresholdBar.visible, 0u);
    }
    dialog.Destroy();
    kvtest::Pump();
}

}  // namespace
