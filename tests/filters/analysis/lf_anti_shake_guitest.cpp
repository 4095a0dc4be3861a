// "Anti shake / Composit" through the test host's sequence: a scene shaken
// and turned by OpenCV steadied into numbered PNGs and checked with its
// phase correlation, a panning scene followed by "moving", the mean of a
// still scene against numpy, a cancelled run leaving the old files, reference clicks,
// settings and the panel.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
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
    // Opens `count` scenes drifting one pixel right and up per frame.
    bool OpenDriftingScenes(int32_t count) {
        scenes.clear();
        for (int32_t i = 0; i < count; ++i) {
            scenes.push_back(std::make_unique<CImgBuff>());
            Scene(scenes.back().get(), i, -i);
        }
        return host.OpenSequence(Pointers(scenes));
    }
    kvtest::TempDir dir{"anti_shake"};
    std::vector<std::unique_ptr<CImgBuff>> scenes;  // what OpenDriftingScenes opened; outlives the host
    FakeHost host;
};

// Makes frames with numpy and OpenCV into "<dir>/frames" (count x h x w x
// 3 bytes) from a smooth random texture with sharp patches, not periodic so
// that phase correlation cannot slip by a period:
//   shake: 320 x 240 crops turned about their centre and shifted by
//          cv2.warpAffine, one line of the script's table per frame;
//   pan:   640 x 480 crops moving 20 pixels right a frame.
const char* kMakeFrames = R"PY(
import sys, cv2, numpy as np
d, mode = sys.argv[1], sys.argv[2]
rng = np.random.default_rng(5)
def texture(h, w):
    t = cv2.GaussianBlur(rng.random((h, w)).astype(np.float32), (0, 0), 3)
    t = (t - t.min()) / (t.max() - t.min()) * 150 + 40
    for _ in range(h * w // 1500):
        x, y = int(rng.integers(0, w - 20)), int(rng.integers(0, h - 20))
        t[y:y + int(rng.integers(5, 20)), x:x + int(rng.integers(5, 20))] += float(rng.choice([-35, 35]))
    t = np.clip(t, 0, 255)
    return np.dstack([t, t * 0.8, t * 0.6]).astype(np.uint8)
frames = []
if mode == 'shake':
    w, h, m = 320, 240, 40
    base = texture(h + 2 * m, w + 2 * m)
    # x, y shift and turn (degrees) of each frame against the scene
    for sx, sy, a in [(0, 0, 0), (5, -4, 0.6), (10, -8, 1.3), (12, -3, 2.0), (7, 3, 1.4), (1, 8, 0.4),
                      (-5, 11, -0.6), (-10, 6, -1.4), (-12, 0, -2.0), (-7, -6, -1.0), (-2, -10, 0.0)]:
        M = cv2.getRotationMatrix2D((w / 2 + m, h / 2 + m), a, 1.0)
        M[0, 2] -= m + sx
        M[1, 2] -= m + sy
        frames.append(cv2.warpAffine(base, M, (w, h), flags=cv2.INTER_LINEAR))
else:
    w, h = 640, 480
    base = texture(h, w + 20 * 7)
    frames = [base[:, 20 * k:20 * k + w] for k in range(8)]
np.ascontiguousarray(np.stack(frames)).tofile(d + '/frames')
print(len(frames), w, h)
)PY";

// The frames kMakeFrames wrote, as 8-bit RGB images.
std::vector<std::unique_ptr<CImgBuff>> ReadFrames(const kvtest::TempDir& dir, const std::string& mode) {
    std::vector<std::unique_ptr<CImgBuff>> frames;
    std::string out;
    if (kvtest::RunPython(kMakeFrames, {dir.path(), mode}, &out) != 0) return frames;
    std::istringstream read(out);
    size_t count = 0;
    int32_t w = 0, h = 0;
    read >> count >> w >> h;
    const std::string bytes = kvtest::ReadFileBytes(dir.file("frames"));
    const size_t each = static_cast<size_t>(w) * static_cast<size_t>(h) * 3;
    if (!count || bytes.size() != count * each) return frames;
    for (size_t i = 0; i < count; ++i) {
        frames.push_back(std::make_unique<CImgBuff>());
        frames.back()->buffer->Create(w, h, kImgRgb8);
        std::memcpy(frames.back()->buffer->pixels, bytes.data() + i * each, each);
    }
    return frames;
}

TEST_F(AntiShake, FixedSteadiesAShakenAndTurnedSceneWithinAPixel) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "no Debian python3 with OpenCV";
    CLfAntiShake* f = Add();
    const auto frames = ReadFrames(dir, "shake");
    ASSERT_EQ(frames.size(), 11u);
    ASSERT_TRUE(host.OpenSequence(Pointers(frames)));
    EXPECT_EQ(Run(f, true, {W(dir.file("out0000.png"))}), (std::vector<std::wstring>{L"saved"}));
    // Each frame's residual shift against the first by phase correlation,
    // 32-pixel borders (shift plus turn reach 19) left out: over the whole
    // inside, and in each quarter of it, where a turn left in place would
    // show as shifts in different directions (2 degrees: about 2.5 px).
    const char* script =
        "import sys, cv2, numpy as np\n"
        "d = sys.argv[1]\n"
        "def grey(i): return cv2.imread(d + '/out%04d.png' % i, 0).astype(np.float64)[32:-32, 32:-32]\n"
        "a = grey(0)\n"
        "h, w = a.shape\n"
        "parts = [(slice(0, h), slice(0, w))] + [(slice(y, y + h // 2), slice(x, x + w // 2))\n"
        "                                        for y in (0, h // 2) for x in (0, w // 2)]\n"
        "worst = 0\n"
        "for i in range(1, 11):\n"
        "    b = grey(i)\n"
        "    for p in parts:\n"
        "        (dx, dy), _ = cv2.phaseCorrelate(a[p], b[p])\n"
        "        worst = max(worst, abs(dx), abs(dy))\n"
        "print('%.3f' % worst)\n";
    std::string out;
    ASSERT_EQ(kvtest::RunPython(script, {dir.path()}, &out), 0);
    EXPECT_LE(std::stod(out), 1.0) << out;
    EXPECT_FALSE(f->refs[0].Used());  // every run empties the references
    EXPECT_NE(std::find(host.calls.begin(), host.calls.end(), "LockUi(0)"), host.calls.end());
}

TEST_F(AntiShake, MovingFollowsA20PixelPanWithTheReferenceCentred) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "no Debian python3 with OpenCV";
    CLfAntiShake* f = Add();
    f->type.Set(1);
    const auto frames = ReadFrames(dir, "pan");
    ASSERT_EQ(frames.size(), 8u);
    ASSERT_TRUE(host.OpenSequence(Pointers(frames)));
    EXPECT_EQ(Run(f, true, {W(dir.file("pan0000.png"))}), (std::vector<std::wstring>{L"saved"}));
    // The reference, the centre third, is found in every frame and taken
    // again from the steadied frame, 16 pixels or more ahead by a quarter
    // of the offset: the picture follows the pan by the drift of that rule,
    // transcribed here. Every output's centre third is picture (no fill),
    // and each output is the first moved by its drift, by phase correlation
    // of the columns no output fills.
    const char* script =
        "import sys, cv2, numpy as np\n"
        "d = sys.argv[1]\n"
        "w, h, X = 640, 480, 640 // 3\n"
        "c, drift = X, []\n"
        "for k in range(8):\n"
        "    dx = c - 20 * k - X\n"
        "    drift.append(c - X)\n"
        "    lead = dx if abs(dx) >= 16 else 0\n"
        "    c = X - int(lead / 4) + c - X\n"
        "def grey(i): return cv2.imread(d + '/pan%04d.png' % i, 0)\n"
        "a = grey(0).astype(np.float64)\n"
        "worst, fill = 0, 0\n"
        "for k in range(1, 8):\n"
        "    b = grey(k)\n"
        "    centre = b[h // 3:2 * (h // 3), X:2 * X]\n"
        "    fill += int(np.count_nonzero((centre == 0) | (centre == 255)))\n"
        "    (sx, sy), _ = cv2.phaseCorrelate(a[:, 96:-96], b[:, 96:-96].astype(np.float64))\n"
        "    worst = max(worst, abs(sx + drift[k]), abs(sy))\n"
        "print('%.3f %d %d' % (worst, fill, drift[-1]))\n";
    std::string out;
    ASSERT_EQ(kvtest::RunPython(script, {dir.path()}, &out), 0);
    std::istringstream read(out);
    double worst = 99;
    int fill = -1, lastDrift = 0;
    read >> worst >> fill >> lastDrift;
    EXPECT_LE(worst, 1.0) << out;
    EXPECT_EQ(fill, 0) << out;
    EXPECT_GT(lastDrift, 40) << out;  // the pan passes through
}

TEST_F(AntiShake, CompositeMeanOfAStillSceneMatchesNumpy) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "no Debian python3 with numpy";
    CLfAntiShake* f = Add();
    f->sel.Set(1);
    // Mean, largest and signed mean difference from numpy's truncated mean
    // of the frames as they were, 8-pixel borders left out (the alignment's
    // whole-pixel round trip fills the last row and column).
    const char* script =
        "import sys, numpy as np\n"
        "d, w, h = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])\n"
        "s = np.fromfile(d + '/stack', np.uint8).reshape(5, h, w, 3).astype(np.int64)\n"
        "m = s.sum(0) // 5\n"
        "o = np.fromfile(d + '/ours', np.uint8).reshape(h, w, 3).astype(np.int64)\n"
        "e = (o - m)[8:-8, 8:-8]\n"
        "print('%.3f %d %.3f' % (np.abs(e).mean(), np.abs(e).max(), e.mean()))\n";
    std::vector<std::unique_ptr<CImgBuff>> frames;
    for (const bool noisy : {false, true}) {
        SCOPED_TRACE(noisy ? "noisy" : "identical frames");
        frames.clear();
        std::string all;
        for (uint32_t i = 0; i < 5; ++i) {
            frames.push_back(std::make_unique<CImgBuff>());
            Scene(frames.back().get(), 0, 0, noisy ? i + 1 : 0, false);
            const std::vector<uint8_t> b = kvtest::Bytes(*frames.back());
            all.append(b.begin(), b.end());
        }
        ASSERT_TRUE(host.OpenSequence(Pointers(frames)));
        const std::string png = dir.file(noisy ? "noisy.png" : "same.png");
        EXPECT_EQ(Run(f, true, {W(png)}), (std::vector<std::wstring>{L"saved"}));
        CImgBuff mean;
        ASSERT_TRUE(LoadImageFile(&mean, W(png).c_str(), nullptr, nullptr));
        ASSERT_TRUE(kvtest::WriteFileBytes(dir.file("stack"), all));
        const std::vector<uint8_t> ours = kvtest::Bytes(mean);
        ASSERT_TRUE(kvtest::WriteFileBytes(dir.file("ours"), std::string(ours.begin(), ours.end())));
        std::string out;
        ASSERT_EQ(kvtest::RunPython(script, {dir.path(), std::to_string(kW), std::to_string(kH)}, &out), 0);
        std::istringstream read(out);
        double meanAbs = -1, signedMean = 1;
        int worst = -1;
        read >> meanAbs >> worst >> signedMean;
        if (!noisy) {
            // Every frame is found exactly where frame 0 put its references:
            // no resampling, and the mean is numpy's to the level.
            EXPECT_EQ(worst, 0) << out;
            continue;
        }
        // With noise the two references of frames 1-4 are found up to half
        // a pixel from where frame 0 cut them, the two apart by a little (a
        // turn of about a tenth of a degree): each such frame is turned
        // (bilinear) and then shifted by the fraction (a linear pass across,
        // one down) before it is added. Every one of those resamplings
        // truncates its samples, half a level down on average, so the frames
        // come in about 1.3 levels darker and the mean about a level below
        // numpy's (never above it), by up to a few levels on steep texture.
        EXPECT_LE(meanAbs, 1.5) << out;
        EXPECT_LE(worst, 8) << out;
        EXPECT_LE(signedMean, 0.0) << out;
        EXPECT_GE(signedMean, -1.5) << out;
    }
    // A still has no video: said, then composed from its one frame.
    ASSERT_TRUE(host.OpenStill(*frames[0]));
    EXPECT_EQ(Run(f, true, {W(dir.file("still.png"))}), (std::vector<std::wstring>{L"there is no video", L"saved"}));
}

TEST_F(AntiShake, ACancelledRunLeavesTheOldFilesAsTheyWere) {
    CLfAntiShake* f = Add();
    ASSERT_TRUE(OpenDriftingScenes(6));
    // Files of an earlier run under the names this one writes.
    auto name = [&](int i) {
        char n[32];
        std::snprintf(n, sizeof n, "c%04d.png", i);
        return dir.file(n);
    };
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(kvtest::WriteFileBytes(name(i), "old " + std::to_string(i)));
    const auto listing = [&] {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir.path())) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    };
    const std::vector<std::string> before = listing();
    host.atFrame[3] = [&] {
        EXPECT_EQ(f->saveButton.label, L"CANCEL");
        EXPECT_EQ(f->QueryClose(), 0);
        EXPECT_EQ(f->compositeButton.enabled, 0u);
        PlatPostTestClick(f->window, 136 + 62, 108 + 18);
    };
    EXPECT_EQ(Run(f, true, {W(name(0))}),
              (std::vector<std::wstring>{L"Do you want to overwrite it?", L"canceled"}));
    for (int i = 0; i < 6; ++i) EXPECT_TRUE(kvtest::ReadFileBytes(name(i)) == "old " + std::to_string(i)) << i;
    EXPECT_EQ(listing(), before);  // no temporary left behind
    EXPECT_NE(std::find(host.calls.begin(), host.calls.end(), "LockUi(0)"), host.calls.end());
    EXPECT_EQ(f->saveButton.label, L"SAVE");
    EXPECT_EQ(f->QueryClose(), 0);
    EXPECT_FALSE(f->PanelShown());
}

// A frame the chain cannot deliver stops every kind of run and says which:
// no shortened output is written or called saved, old files stay.
TEST_F(AntiShake, AnUnreadableFrameStopsTheRunAndSaysWhich) {
    CLfAntiShake* f = Add();
    ASSERT_TRUE(OpenDriftingScenes(6));
    host.unreadable = {3};
    const std::wstring stopped = L"frame 4 could not be read; the run stopped";
    // Steadied frames to numbered files: nothing is left behind.
    EXPECT_EQ(Run(f, true, {W(dir.file("s0000.png"))}), (std::vector<std::wstring>{stopped}));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    // The composite, averaged and stacked, saved or shown.
    f->sel.Set(1);
    for (uint32_t zoom : {0u, 1u}) {
        f->zoom.Set(zoom);
        EXPECT_EQ(Run(f, true, {W(dir.file("m.png"))}), (std::vector<std::wstring>{stopped})) << zoom;
        EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << zoom;
        EXPECT_EQ(Run(f, false, {}), (std::vector<std::wstring>{stopped})) << zoom;
    }
    // Frame 0 itself, in Japanese.
    host.SetLanguage(L"jp");
    host.unreadable = {0};
    EXPECT_EQ(Run(f, false, {}),
              (std::vector<std::wstring>{L"フレーム 1 を読み込めませんでした。処理を中止しました"}));
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

