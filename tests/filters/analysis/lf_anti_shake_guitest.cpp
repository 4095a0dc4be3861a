// "Anti shake / Composit" through the test host's sequence: a shaken scene
// steadied into numbered PNGs and checked with OpenCV's phase correlation,
// the mean of a noisy still scene against numpy, a cancelled run's output,
// reference clicks, settings and the panel.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "filters/analysis/lf_anti_shake.h"
#include "filters/analysis/support/overlay_view.h"
#include "filters/core/cfgfile.h"
#include "filters/processing/support/fake_host.h"
#include "filters/processing/support/region_runs.h"
#include "media/codec.h"
#include "media/frame_output.h"
#include "platform/plat_messages.h"
#include "platform/utf8.h"
#include "support/testsupport.h"
#include "toolkit/support/file_select_answer.h"
#include "toolkit/support/ui_input.h"

namespace {

std::wstring W(const std::string& s) { return PlatUtf8ToWide(s.c_str()); }

constexpr int32_t kW = 192, kH = 144;

// A smooth texture with corners and blobs, seen through a window moved by
// (sx, sy); `noise` adds a small per-pixel jitter of the frame's own.
void Scene(CImgBuff* image, int32_t sx, int32_t sy, uint32_t noise = 0, bool edges = true) {
    image->buffer->Create(kW, kH, kImgRgb8);
    uint32_t s = noise * 2654435761u + 1;
    for (int32_t y = 0; y < kH; ++y)
        for (int32_t x = 0; x < kW; ++x) {
            const double u = x + sx, v = y + sy;
            double g = 110 + 50 * std::sin(u / 9.0) * std::cos(v / 11.0) + 40 * std::sin((u + 2 * v) / 23.0);
            if (edges && std::fmod(std::floor(u / 24) + std::floor(v / 24), 2.0) == 0) g += 30;
            int32_t j = 0;
            if (noise) {
                s = s * 1103515245u + 12345u;
                j = static_cast<int32_t>((s >> 16) % 5) - 2;
            }
            const auto c = [&](double k) { return static_cast<uint8_t>(std::clamp(g * k + j, 0.0, 255.0)); };
            image->buffer->SetPixelRgb8(x, y, c(1.0), c(0.8), c(0.6));
        }
}

std::vector<const CImgBuff*> Pointers(const std::vector<std::unique_ptr<CImgBuff>>& frames) {
    std::vector<const CImgBuff*> p;
    for (const auto& f : frames) p.push_back(f.get());
    return p;
}

class AntiShake : public testing::Test {
protected:
    void TearDown() override { kvtest::Pump(); }
    CLfAntiShake* Add() {
        host.SetLanguage(L"en");
        return static_cast<CLfAntiShake*>(host.Add(CreateLfAntiShake()));
    }
    std::vector<std::wstring> Run(CLfAntiShake* f, bool save, const std::vector<std::wstring>& paths) {
        kvtest::ModalAnswers answers(paths);
        f->Run(save);
        return answers.messages;
    }
    kvtest::TempDir dir{"anti_shake"};
    FakeHost host;
};

TEST_F(AntiShake, FixedSteadiesAShakenSceneWithinAPixel) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "no Debian python3 with OpenCV";
    CLfAntiShake* f = Add();
    const int32_t shifts[6][2] = {{0, 0}, {4, -3}, {9, -6}, {5, 0}, {-1, 5}, {-7, 3}};
    std::vector<std::unique_ptr<CImgBuff>> frames;
    for (const auto& s : shifts) {
        frames.push_back(std::make_unique<CImgBuff>());
        Scene(frames.back().get(), s[0], s[1]);
    }
    ASSERT_TRUE(host.OpenSequence(Pointers(frames)));
    const std::string first = dir.file("out0000.png");
    EXPECT_EQ(Run(f, true, {W(first)}), (std::vector<std::wstring>{L"saved"}));
    const char* script =
        "import sys, cv2, numpy as np\n"
        "d = sys.argv[1]\n"
        "a = cv2.imread(d + '/out0000.png', 0).astype(np.float64)[24:-24, 24:-24]\n"
        "worst = 0\n"
        "for i in range(1, 6):\n"
        "    b = cv2.imread(d + '/out%04d.png' % i, 0).astype(np.float64)[24:-24, 24:-24]\n"
        "    (dx, dy), _ = cv2.phaseCorrelate(a, b)\n"
        "    worst = max(worst, abs(dx), abs(dy))\n"
        "print('%.3f' % worst)\n";
    std::string out;
    ASSERT_EQ(kvtest::RunPython(script, {dir.path()}, &out), 0);
    EXPECT_LE(std::stod(out), 1.0) << out;
    EXPECT_FALSE(f->refs[0].Used());  // every run empties the references
    EXPECT_NE(std::find(host.calls.begin(), host.calls.end(), "LockUi(0)"), host.calls.end());
}

TEST_F(AntiShake, CompositeMeanOfANoisyStillSceneMatchesNumpy) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "no Debian python3 with numpy";
    CLfAntiShake* f = Add();
    f->sel.Set(1);
    std::vector<std::unique_ptr<CImgBuff>> frames;
    std::string all;
    for (uint32_t i = 0; i < 5; ++i) {
        frames.push_back(std::make_unique<CImgBuff>());
        Scene(frames.back().get(), 0, 0, i + 1, false);
        const std::vector<uint8_t> b = kvtest::Bytes(*frames.back());
        all.append(b.begin(), b.end());
    }
    ASSERT_TRUE(host.OpenSequence(Pointers(frames)));
    const std::string png = dir.file("mean.png");
    EXPECT_EQ(Run(f, true, {W(png)}), (std::vector<std::wstring>{L"saved"}));
    CImgBuff mean;
    ASSERT_TRUE(LoadImageFile(&mean, W(png).c_str(), nullptr, nullptr));
    ASSERT_TRUE(kvtest::WriteFileBytes(dir.file("stack"), all));
    const std::vector<uint8_t> ours = kvtest::Bytes(mean);
    ASSERT_TRUE(kvtest::WriteFileBytes(dir.file("ours"), std::string(ours.begin(), ours.end())));
    const char* script =
        "import sys, numpy as np\n"
        "d, w, h = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])\n"
        "s = np.fromfile(d + '/stack', np.uint8).reshape(5, h, w, 3).astype(np.int64)\n"
        "m = s.sum(0) // 5\n"
        "o = np.fromfile(d + '/ours', np.uint8).reshape(h, w, 3).astype(np.int64)\n"
        "d = np.abs(m - o)[8:-8, 8:-8]\n"
        "print('%.3f %d' % (d.mean(), d.max()))\n";
    std::string out;
    ASSERT_EQ(kvtest::RunPython(script, {dir.path(), std::to_string(kW), std::to_string(kH)}, &out), 0);
    // The sub-pixel alignment found in noise resamples every frame by a
    // fraction of a pixel: about a level from numpy's truncated mean.
    EXPECT_LE(std::stod(out), 1.5) << out;
    EXPECT_LE(std::stoi(out.substr(out.find(' ') + 1)), 8) << out;
    // A still has no video: said, then composed from its one frame.
    ASSERT_TRUE(host.OpenStill(*frames[0]));
    EXPECT_EQ(Run(f, true, {W(dir.file("still.png"))}), (std::vector<std::wstring>{L"there is no video", L"saved"}));
}

TEST_F(AntiShake, ACancelledRunLeavesTheFramesWrittenReadable) {
    CLfAntiShake* f = Add();
    std::vector<std::unique_ptr<CImgBuff>> frames;
    for (int32_t i = 0; i < 6; ++i) {
        frames.push_back(std::make_unique<CImgBuff>());
        Scene(frames.back().get(), i, -i);
    }
    ASSERT_TRUE(host.OpenSequence(Pointers(frames)));
    host.atFrame[3] = [&] {
        EXPECT_EQ(f->saveButton.label, L"CANCEL");
        EXPECT_EQ(f->QueryClose(), 0);
        EXPECT_EQ(f->compositeButton.enabled, 0u);
        PlatPostTestClick(f->window, 136 + 62, 108 + 18);
    };
    EXPECT_EQ(Run(f, true, {W(dir.file("c0000.png"))}), (std::vector<std::wstring>{L"canceled"}));
    int readable = 0;
    for (int i = 0; i < 6; ++i) {
        CImgBuff back;
        char name[32];
        std::snprintf(name, sizeof name, "c%04d.png", i);
        if (codec_file_exists(W(dir.file(name)).c_str()) &&
            LoadImageFile(&back, W(dir.file(name)).c_str(), nullptr, nullptr))
            ++readable;
    }
    EXPECT_EQ(readable, 3);
    EXPECT_NE(std::find(host.calls.begin(), host.calls.end(), "LockUi(0)"), host.calls.end());
    EXPECT_EQ(f->saveButton.label, L"SAVE");
    EXPECT_EQ(f->QueryClose(), 0);
    EXPECT_FALSE(f->PanelShown());
}

TEST_F(AntiShake, ReferenceClicksAndTheirOverlay) {
    CLfAntiShake* f = Add();
    std::vector<std::unique_ptr<CImgBuff>> frames;
    for (int32_t i = 0; i < 2; ++i) {
        frames.push_back(std::make_unique<CImgBuff>());
        Scene(frames.back().get(), 0, 0);
    }
    ASSERT_TRUE(host.OpenSequence(Pointers(frames)));
    ASSERT_EQ(f->patch.load(), 9);  // min(192, 144) / 16
    f->OnLButtonDown(10, 10, 0);    // ignored until "specify a reference point" is on
    EXPECT_FALSE(f->refs[0].Used());
    f->specifyBox.checked = 1;
    f->OnLButtonDown(191, 50, 0);  // 4 columns left inside: not taken
    EXPECT_FALSE(f->refs[0].Used());
    f->OnLButtonDown(2, 3, 0);  // clipped at the corner: 7 x 8 is too narrow too
    EXPECT_FALSE(f->refs[0].Used());
    f->OnLButtonDown(4, 5, 0);  // (0, 1) to (8, 9)
    ASSERT_TRUE(f->refs[0].Used());
    EXPECT_EQ(f->refs[0].x, 0);
    EXPECT_EQ(f->refs[0].y, 1);
    EXPECT_EQ(f->refs[0].w, 9);
    EXPECT_EQ(f->refs[0].h, 9);
    f->OnLButtonDown(100, 60, 0);
    ASSERT_TRUE(f->refs[1].Used());
    EXPECT_EQ(f->refs[1].x, 96);
    f->OnLButtonDown(150, 60, 0);  // a third click changes nothing
    EXPECT_EQ(f->refs[1].x, 96);
    kvtest::OverlayView view(&host, kW, kH);
    const PlatFrame shot = view.Capture();
    EXPECT_EQ(kvtest::OverlayView::Rgb(shot, 100, 56), 0xFF0000u);
    EXPECT_EQ(kvtest::OverlayView::Rgb(shot, 104, 60), 0xFF0000u);
    kvtest::SaveScreenshot(shot, "anti_shake-references");
    f->OnRButtonDown(0, 0, 0);  // the second goes first
    EXPECT_FALSE(f->refs[1].Used());
    EXPECT_TRUE(f->refs[0].Used());
    f->OnLButtonDown(100, 60, 0);
    // Toggling the check box empties both.
    PlatPostTestClick(f->window, 8 + 10, 80 + 10);
    kvtest::Pump();
    EXPECT_FALSE(f->refs[0].Used());
    EXPECT_FALSE(f->refs[1].Used());
    // Specified but only one reference: the run says so.
    PlatPostTestClick(f->window, 8 + 10, 80 + 10);
    kvtest::Pump();
    ASSERT_EQ(f->specifyBox.checked, 1u);
    f->OnLButtonDown(100, 60, 0);
    EXPECT_EQ(Run(f, true, {}), (std::vector<std::wstring>{L"specify two reference points"}));
}

TEST_F(AntiShake, SettingsLoadRulesAndPanelStates) {
    CLfAntiShake* f = Add();
    auto saved = [&] {
        CCfgFile file;
        CCfgPack* pack = file.AddPack(L"s");
        f->SaveConfig(pack);
        std::wstring text;
        for (const CCfgItem* i = pack->firstItem; i; i = i->next) text += std::wstring(i->key) + L"=" + i->value + L";";
        return text;
    };
    EXPECT_EQ(saved(), L"if_enable=1;if_visible=1;sel=0;type=0;zoom=0;anti_noise=1;");
    const struct {
        const wchar_t *sel, *type, *zoom, *noise;
        uint32_t eSel, eType, eZoom, eNoise;
    } cases[] = {
        {L"1", L"1", L"1", L"0", 1, 1, 1, 0},  {L"2", L"-1", L"0", L"yes", 1, 1, 0, 1},
        {L"0", L"0", L"x", L"", 0, 0, 1, 0},   {L"1 ", L"01", L"", L"2", 0, 0, 0, 1},
    };
    for (const auto& c : cases) {
        CCfgFile file;
        CCfgPack* pack = file.AddPack(L"s");
        pack->AddItem(L"sel", c.sel);
        pack->AddItem(L"type", c.type);
        pack->AddItem(L"zoom", c.zoom);
        pack->AddItem(L"anti_noise", c.noise);
        f->LoadConfig(pack);
        EXPECT_EQ(f->sel.Get(), c.eSel);
        EXPECT_EQ(f->type.Get(), c.eType);
        EXPECT_EQ(f->zoom.Get(), c.eZoom);
        EXPECT_EQ(f->antiNoise.Get(), c.eNoise);
        EXPECT_EQ(f->zoomBox.checked, c.eZoom);
    }
    // sel 0, type 0: zoom, anti noise and OPEN disabled.
    EXPECT_EQ(f->zoomBox.enabled, 0u);
    EXPECT_EQ(f->openButton.enabled, 0u);
    EXPECT_EQ(f->specifyBox.enabled, 1u);
    PlatPostTestClick(f->window, 136 + 20, 32 + 10);  // moving
    kvtest::Pump();
    EXPECT_EQ(f->type.Get(), 1u);
    EXPECT_EQ(f->specifyBox.enabled, 0u);
    PlatPostTestClick(f->window, 136 + 20, 8 + 10);  // composit
    kvtest::Pump();
    EXPECT_EQ(f->sel.Get(), 1u);
    EXPECT_EQ(f->fixedButton.enabled, 0u);
    EXPECT_EQ(f->zoomBox.enabled, 1u);
    EXPECT_EQ(f->antiNoiseBox.enabled, 0u);
    PlatPostTestClick(f->window, 8 + 10, 56 + 10);  // zoom(x2)
    kvtest::Pump();
    EXPECT_EQ(f->zoom.Get(), 1u);
    EXPECT_EQ(f->antiNoiseBox.enabled, 1u);
    EXPECT_EQ(f->openButton.enabled, 1u);
    kvtest::SaveScreenshot(kvtest::CaptureFrame(*f, *f), "anti_shake-en");
    host.SetLanguage(L"jp");
    EXPECT_EQ(f->saveButton.label, L"画像を保存");
    kvtest::SaveScreenshot(kvtest::CaptureFrame(*f, *f), "anti_shake-jp");
}

}  // namespace
