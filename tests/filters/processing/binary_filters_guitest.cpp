// The binary-image filters' panels on the offscreen driver: input at the
// controls' rectangles, the host's reruns, the dependency rules, and
// screenshots in both languages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filters/processing/lf_bg_erase.h"
#include "filters/processing/lf_binary.h"
#include "filters/processing/lf_mask.h"
#include "filters/processing/lf_noise_remover.h"
#include "filters/processing/lf_separation.h"
#include "filters/processing/lf_window_cut.h"
#include "filters/processing/support/fake_host.h"
#include "filters/core/cfgfile.h"
#include "platform/plat_messages.h"
#include "platform/utf8.h"
#include "support/testsupport.h"
#include "toolkit/support/file_select_answer.h"
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

TEST_F(BinaryPanels, MaskLoadButtonListsAndMessages) {
    if (!kvtest::HaveTool("convert")) GTEST_SKIP() << "ImageMagick missing";
    kvtest::TempDir dir("mask_panel");
    const std::string png = dir.file("m.png");
    ASSERT_EQ(kvtest::RunCommand("convert -size 6x4 xc:white -depth 8 -type Grayscale PNG8:" + png), 0);
    const std::wstring wpng = PlatUtf8ToWide(png.c_str());
    host.SetLanguage(L"en");
    auto* f = static_cast<CLfMask*>(host.Add(CreateLfMask()));
    EXPECT_EQ(f->previewBox.enabled, 0u);
    ClickAt(f, 10 + 40, 10 + 10);  // disabled without a mask
    EXPECT_TRUE(host.calls.empty());
    ClickAt(f, 10 + 40, 40 + 10);  // outside level off
    EXPECT_EQ(f->outsideFull.Get(), 0u);
    EXPECT_EQ(host.calls.size(), 1u);
    f->preview.Set(0);
    f->previewBox.checked = 0;
    {
        kvtest::ModalAnswers answers({wpng});
        ClickAt(f, 10 + 40, 70 + 15);
        EXPECT_TRUE(answers.messages.empty());
    }
    EXPECT_TRUE(f->HasMask());
    EXPECT_EQ(f->preview.Get(), 1u);  // loading switches the preview on
    EXPECT_EQ(f->previewBox.checked, 1u);
    EXPECT_EQ(f->previewBox.enabled, 1u);
    EXPECT_EQ(host.calls.size(), 2u);
    {
        kvtest::ModalAnswers answers({PlatUtf8ToWide(dir.file("none.png").c_str())});
        ClickAt(f, 10 + 40, 70 + 15);
        EXPECT_EQ(answers.messages, (std::vector<std::wstring>{L"loading failed"}));
    }
    EXPECT_EQ(f->MaskPath(), wpng);
    EXPECT_EQ(host.calls.size(), 2u);
    Screenshots(host, f, "mask");
    // A list naming a missing file shows the message and opens the panel.
    f->ShowUi(0, nullptr);
    CCfgFile file;
    CCfgPack* pack = file.AddPack(L"mask");
    pack->AddItem(L"if_enable", L"1");
    pack->AddItem(L"if_visible", L"0");
    pack->AddItem(L"path", PlatUtf8ToWide(dir.file("gone.png").c_str()).c_str());
    {
        kvtest::ModalAnswers answers;
        f->LoadConfig(pack);
        EXPECT_EQ(answers.messages, (std::vector<std::wstring>{L"ロードできませんでした"}));  // in the panel's language
    }
    EXPECT_EQ(f->visible, 1u);
    EXPECT_TRUE(f->PanelShown());
    EXPECT_EQ(f->MaskPath(), wpng);
}

TEST_F(BinaryPanels, BackgroundRemovalBarsRadiosAndFailedLoads) {
    host.SetLanguage(L"en");
    auto* f = static_cast<CLfBgErase*>(host.Add(CreateLfBgErase()));
    f->levelBar.Notify(9);  // subtraction mode: no run
    EXPECT_EQ(f->extractLevel.Get(), 9);
    EXPECT_TRUE(host.calls.empty());
    ClickAt(f, 8 + 40, 72 + 10);  // object extraction
    EXPECT_EQ(f->eraseType.Get(), 1u);
    EXPECT_EQ(f->levelBar.enabled, 1u);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"Refilter(0)"}));
    f->tileBar.Notify(3);
    EXPECT_EQ(host.calls.back(), "Refilter(1)");
    EXPECT_EQ(f->tileSize.Get(), 3);
    kvtest::TempDir dir("bg_panel");
    {
        kvtest::ModalAnswers answers({PlatUtf8ToWide(dir.file("none.png").c_str())});
        ClickAt(f, 296 + 20, 28 + 10);
        EXPECT_EQ(answers.messages, (std::vector<std::wstring>{L"loading failed"}));
    }
    EXPECT_EQ(host.calls.back(), "Refilter(0)");
    EXPECT_FALSE(f->HasBackground());
    Screenshots(host, f, "background_removal");
    EXPECT_EQ(f->levelBar.x, 104);
}

}  // namespace
