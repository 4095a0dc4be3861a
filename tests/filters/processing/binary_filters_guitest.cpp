// The binary-image filters' panels on the offscreen driver: input at the
// controls' rectangles, the host's reruns, the dependency rules, and
// screenshots in both languages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filters/processing/lf_binary.h"
#include "filters/processing/lf_noise_remover.h"
#include "filters/processing/lf_separation.h"
#include "filters/processing/lf_window_cut.h"
#include "filters/processing/support/fake_host.h"
#include "platform/plat_messages.h"
#include "toolkit/support/ui_input.h"

namespace {

class BinaryPanels : public testing::Test {
protected:
    void TearDown() override { kvtest::Pump(); }
    FakeHost host;
};

// A click at the centre of a control, through the platform's message queue.
void ClickAt(CDialogFilterBase* f, int32_t x, int32_t y) {
    PlatPostTestClick(f->window, x, y);
    kvtest::Pump();
}

// Both languages' screenshots of a panel.
void Screenshots(FakeHost& host, CDialogFilterBase* f, const std::string& name) {
    host.SetLanguage(L"en");
    kvtest::SaveScreenshot(kvtest::CaptureFrame(*f, *f), name + "-en");
    host.SetLanguage(L"jp");
    kvtest::SaveScreenshot(kvtest::CaptureFrame(*f, *f), name + "-jp");
}

TEST_F(BinaryPanels, SeparationBoxRerunsAtOnce) {
    host.SetLanguage(L"en");
    auto* f = static_cast<CLfSeparation*>(host.Add(CreateLfSeparation()));
    ASSERT_TRUE(f->PanelShown());
    EXPECT_EQ(f->grayBox.label, L"gray scale");
    ClickAt(f, 8 + 48, 8 + 10);
    EXPECT_EQ(f->gray.Get(), 1u);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"Refilter(0)"}));
    f->CImgFilter::enabled = 0;
    ClickAt(f, 8 + 48, 8 + 10);
    EXPECT_EQ(f->gray.Get(), 0u);
    EXPECT_EQ(host.calls.size(), 1u);
    f->CImgFilter::enabled = 1;
    Screenshots(host, f, "separation");
    EXPECT_EQ(f->grayBox.label, L"輝度画像");
}

TEST_F(BinaryPanels, WindowCutBoxesEachTheirEdge) {
    host.SetLanguage(L"en");
    auto* f = static_cast<CLfWindowCut*>(host.Add(CreateLfWindowCut()));
    const struct {
        int32_t y;
        CSettingFlag* flag;
    } rows[] = {{10, &f->left}, {35, &f->top}, {60, &f->right}, {85, &f->bottom}};
    size_t runs = 0;
    for (const auto& r : rows) {
        ClickAt(f, 22 + 20, r.y + 10);
        EXPECT_EQ(r.flag->Get(), 0u);
        EXPECT_EQ(f->left.Get() + f->top.Get() + f->right.Get() + f->bottom.Get(), 3u - runs);
        EXPECT_EQ(host.calls.size(), ++runs);
    }
    Screenshots(host, f, "window_cut");
}

TEST_F(BinaryPanels, NoiseRemoverSwitchesEnableTheirEdits) {
    host.SetLanguage(L"en");
    auto* f = static_cast<CLfNoiseRemover*>(host.Add(CreateLfNoiseRemover()));
    EXPECT_EQ(f->CFgScreen::width, 250u);
    EXPECT_EQ(f->maxEdit.enabled, 0u);
    ClickAt(f, 90 + 20, 35 + 10);  // maximum on
    EXPECT_EQ(f->maxEdit.enabled, 1u);
    EXPECT_EQ(f->maxEffective.Get(), 1000u);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"Refilter(0)"}));
    ClickAt(f, 90 + 20, 10 + 10);  // minimum off
    EXPECT_EQ(f->minEdit.enabled, 0u);
    EXPECT_EQ(f->minEffective.Get(), 0u);
    EXPECT_EQ(host.calls.size(), 2u);
    Screenshots(host, f, "noise_remover");
    EXPECT_EQ(f->CFgScreen::width, 220u);
    EXPECT_EQ(f->minEdit.x, 10);
    EXPECT_EQ(f->minEdit.enabled, 0u);  // the rule holds after the rebuild
}

TEST_F(BinaryPanels, BinaryRadiosEditsAndTheSetButton) {
    host.SetLanguage(L"en");
    auto* f = static_cast<CLfBinary*>(host.Add(CreateLfBinary()));
    ClickAt(f, 10 + 40, 70 + 10);  // thinning
    EXPECT_EQ(f->type.Pending(), 3);
    EXPECT_EQ(f->type.Get(), 5);
    EXPECT_EQ(f->shaveEdit.enabled, 1u);
    EXPECT_EQ(f->repeatEdit.enabled, 0u);
    EXPECT_TRUE(host.calls.empty());
    ClickAt(f, 10 + 100, 140 + 15);  // set
    EXPECT_EQ(f->type.Get(), 3);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"Refilter(0)"}));
    EXPECT_EQ(f->setButton.enabled, 0u);
    Screenshots(host, f, "binary_image_process");
    EXPECT_EQ(f->repeatEdit.x, 100);
    EXPECT_EQ(f->shaveEdit.enabled, 1u);
}

}  // namespace
