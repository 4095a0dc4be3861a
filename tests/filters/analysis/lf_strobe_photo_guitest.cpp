// "Strobe photo" through the test host's sequence: the composite against a
// numpy transcription, the motion mask and background repair, mask
// painting, a kept background of another size, cancel, and the panel.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "filters/analysis/lf_strobe_photo.h"
#include "filters/analysis/support/overlay_view.h"
#include "filters/processing/support/fake_host.h"
#include "filters/processing/support/region_runs.h"
#include "image/pool.h"
#include "platform/plat_messages.h"
#include "platform/utf8.h"
#include "support/testsupport.h"
#include "toolkit/support/file_select_answer.h"
#include "toolkit/support/ui_input.h"

namespace {

constexpr int32_t kW = 64, kH = 48;

// A textured background whose every 4 x 4 cell has the same statistics, so
// that a cell of it matches any other cell of it.
void Background(CImgBuff* image) {
    image->buffer->Create(kW, kH, kImgRgb8);
    for (int32_t y = 0; y < kH; ++y)
        for (int32_t x = 0; x < kW; ++x)
            image->buffer->SetPixelRgb8(x, y, static_cast<uint8_t>(60 + 10 * (x % 4)), static_cast<uint8_t>(90 + 8 * (y % 4)),
                                        static_cast<uint8_t>(50 + 5 * ((x + y) % 4)));
}

// A filled square of `side` pixels at (x0, y0) in a colour.
void Square(CImgBuff* image, int32_t x0, int32_t y0, int32_t side, uint8_t r, uint8_t g, uint8_t b) {
    for (int32_t y = y0; y < y0 + side; ++y)
        for (int32_t x = x0; x < x0 + side; ++x) image->buffer->SetPixelRgb8(x, y, r, g, b);
}

// A disc of radius 6 at (cx, cy).
void Disc(CImgBuff* image, int32_t cx, int32_t cy, uint8_t r, uint8_t g, uint8_t b) {
    for (int32_t y = cy - 6; y <= cy + 6; ++y)
        for (int32_t x = cx - 6; x <= cx + 6; ++x)
            if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= 36) image->buffer->SetPixelRgb8(x, y, r, g, b);
}

// Frames of the background with a 12-pixel square on the cell grid moving 8
// pixels a frame; `onlyFirst` shows it in frame 0 only; `disc` moves a disc instead.
std::vector<std::unique_ptr<CImgBuff>> Movie(int32_t count, bool onlyFirst = false, bool disc = false) {
    std::vector<std::unique_ptr<CImgBuff>> frames;
    for (int32_t i = 0; i < count; ++i) {
        auto f = std::make_unique<CImgBuff>();
        Background(f.get());
        if (onlyFirst && i > 0) {
        } else if (disc) {
            Disc(f.get(), 8 + 9 * i, 20 + (i % 2) * 6, 230, 40, 30);
        } else {
            Square(f.get(), 4 + 8 * i, 16 + 4 * (i % 2), 12, 230, 40, 30);
        }
        frames.push_back(std::move(f));
    }
    return frames;
}

std::vector<const CImgBuff*> Pointers(const std::vector<std::unique_ptr<CImgBuff>>& frames) {
    std::vector<const CImgBuff*> p;
    for (const auto& f : frames) p.push_back(f.get());
    return p;
}

// numpy: the composite over a given background, frame by frame.
std::vector<uint8_t> NumpyComposite(const std::vector<std::unique_ptr<CImgBuff>>& frames, const CImgBuff& bg,
                                    int32_t threshold) {
    kvtest::TempDir dir("strobe_np");
    std::string all;
    for (const auto& f : frames) {
        const std::vector<uint8_t> b = kvtest::Bytes(*f);
        all.append(b.begin(), b.end());
    }
    const std::vector<uint8_t> b = kvtest::Bytes(bg);
    EXPECT_TRUE(kvtest::WriteFileBytes(dir.file("f"), all));
    EXPECT_TRUE(kvtest::WriteFileBytes(dir.file("b"), std::string(b.begin(), b.end())));
    const char* script =
        "import sys, numpy as np\n"
        "d, n, w, h, t = sys.argv[1:]\n"
        "n, w, h, t = map(int, (n, w, h, t))\n"
        "F = np.fromfile(d + '/f', np.uint8).reshape(n, h, w, 3).astype(np.int64)\n"
        "B = np.fromfile(d + '/b', np.uint8).reshape(h, w, 3).astype(np.int64)\n"
        "C = B.copy()\n"
        "for i in range(n):\n"
        "    p = F[max(i - 1, 0)]\n"
        "    diff = np.abs(F[i] - p).sum(2)\n"
        "    cells = np.zeros((h, w), bool)\n"
        "    for cy in range(0, h, 4):\n"
        "        for cx in range(0, w, 4):\n"
        "            blk = diff[cy:cy + 4, cx:cx + 4]\n"
        "            if blk.sum() / (blk.size * 3) / 255.0 * 100.0 > 8.0: cells[cy:cy + 4, cx:cx + 4] = True\n"
        "    far = ((F[i] - B) ** 2).sum(2) >= t * t\n"
        "    sel = cells & far\n"
        "    C[sel] = F[i][sel]\n"
        "C.astype(np.uint8).tofile(d + '/c')\n";
    std::string ignored;
    EXPECT_EQ(kvtest::RunPython(script,
                                {dir.path(), std::to_string(frames.size()), std::to_string(kW), std::to_string(kH),
                                 std::to_string(threshold)},
                                &ignored),
              0);
    const std::string c = kvtest::ReadFileBytes(dir.file("c"));
    return std::vector<uint8_t>(c.begin(), c.end());
}

class StrobePhoto : public testing::Test {
protected:
    void TearDown() override { kvtest::Pump(); }
    CLfStrobePhoto* Add() {
        host.SetLanguage(L"en");
        return static_cast<CLfStrobePhoto*>(host.Add(CreateLfStrobePhoto()));
    }
    std::vector<std::wstring> Exec(CLfStrobePhoto* f) {
        kvtest::ModalAnswers answers;
        f->Exec();
        return answers.messages;
    }
    FakeHost host;
};

TEST_F(StrobePhoto, CompositeOverAChosenBackgroundMatchesNumpyAtBothEndsOfTheLevel) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "no Debian python3 with numpy";
    CLfStrobePhoto* f = Add();
    auto frames = Movie(6, false, true);
    // A faint object whose distance from the background lies between the two thresholds.
    Disc(frames[3].get(), 40, 38, 140, 150, 120);
    ASSERT_TRUE(host.OpenSequence(Pointers(frames)));
    CImgBuff bg;
    Background(&bg);
    f->SetBackground(bg);
    f->setBgBox.checked = 1;
    for (int32_t level : {0, 9}) {
        SCOPED_TRACE(level);
        f->levelBar.position = level;
        host.calls.clear();
        EXPECT_TRUE(Exec(f).empty());
        CImgBuff composite;
        f->CopyComposite(&composite);
        ASSERT_TRUE(composite.buffer->pixels);
        EXPECT_TRUE(kvtest::Bytes(composite) == NumpyComposite(frames, bg, (level + 3) * 16));
        EXPECT_EQ(host.calls.front(), "LockUi(1)");
        EXPECT_EQ(host.calls.back(), "LockUi(0)");
        EXPECT_EQ(f->execButton.label, L"EXEC");
    }
}

TEST_F(StrobePhoto, AnObjectOnlyInFrameZeroNeverAppearsAndTheRepairFindsTheBackground) {
    CLfStrobePhoto* f = Add();
    CImgBuff truth;
    Background(&truth);
    for (uint64_t threads : {uint64_t{1}, PoolGetProcessorCount()}) {
        ASSERT_TRUE(PoolSetThreadCount(threads));
        const auto frames = Movie(5, true);
        ASSERT_TRUE(host.OpenSequence(Pointers(frames)));
        EXPECT_TRUE(Exec(f).empty());
        CImgBuff composite, last;
        f->CopyComposite(&composite);
        f->CopyLastBackground(&last);
        EXPECT_TRUE(kvtest::Bytes(composite) == kvtest::Bytes(truth)) << threads;
        EXPECT_TRUE(kvtest::Bytes(last) == kvtest::Bytes(truth)) << threads;
    }
    PoolSetThreadCount(PoolGetProcessorCount());
}

TEST_F(StrobePhoto, APaintedMaskRepairsToTheTrueBackgroundOnOneAndAllThreads) {
    CLfStrobePhoto* f = Add();
    const auto frames = Movie(6);
    ASSERT_TRUE(host.OpenSequence(Pointers(frames)));
    CImgBuff truth;
    Background(&truth);
    std::vector<uint8_t> results[2];
    int k = 0;
    for (uint64_t threads : {uint64_t{1}, PoolGetProcessorCount()}) {
        ASSERT_TRUE(PoolSetThreadCount(threads));
        // CURRENT FRAME takes frame 0, with the square at (4, 16)-(15, 27).
        host.currentFrame = 0;
        f->setBgBox.checked = 1;
        f->CurrentFrame();
        {
            kvtest::ModalAnswers answers;
            f->StartMaskEdit();
            EXPECT_TRUE(answers.messages.empty());
        }
        ASSERT_EQ(f->maskEdit.load(), 1u);
        // Painted from lower right to upper left over the disc.
        f->OnLButtonDown(17, 29, 0);
        f->OnMouseMove(0, 12, 0);
        f->OnLButtonUp(0, 12, 0);
        f->EndMaskEdit();
        EXPECT_TRUE(Exec(f).empty());
        CImgBuff last;
        f->CopyLastBackground(&last);
        EXPECT_TRUE(kvtest::Bytes(last) == kvtest::Bytes(truth)) << threads;
        results[k++] = kvtest::Bytes(last);
    }
    EXPECT_TRUE(results[0] == results[1]);
    PoolSetThreadCount(PoolGetProcessorCount());
}

TEST_F(StrobePhoto, DragsInEitherDirectionMarkTheSameCellsAndTheEditViewTints) {
    CLfStrobePhoto* f = Add();
    const auto frames = Movie(3);
    ASSERT_TRUE(host.OpenSequence(Pointers(frames)));
    CImgBuff bg;
    Background(&bg);
    std::vector<uint8_t> masks[2];
    const int32_t drags[2][4] = {{5, 6, 22, 13}, {22, 13, 5, 6}};
    for (int d = 0; d < 2; ++d) {
        f->SetBackground(bg);
        f->setBgBox.checked = 1;
        f->StartMaskEdit();
        f->OnLButtonDown(drags[d][0], drags[d][1], 0);
        f->OnMouseMove(drags[d][2], drags[d][3], 0);
        f->OnLButtonUp(drags[d][2], drags[d][3], 0);
        CImgBuff mask;
        f->CopyMask(&mask);
        masks[d] = kvtest::Bytes(mask);
        f->EndMaskEdit();
    }
    EXPECT_TRUE(masks[0] == masks[1]);
    // Cells (1, 1) to (5, 3): pixels 4..23 by 4..15.
    int marked = 0;
    for (int32_t y = 0; y < kH; ++y)
        for (int32_t x = 0; x < kW; ++x) {
            const bool in = x >= 4 && x <= 23 && y >= 4 && y <= 15;
            marked += masks[0][static_cast<size_t>(y) * kW + x] != 0;
            ASSERT_EQ(masks[0][static_cast<size_t>(y) * kW + x] != 0, in) << x << "," << y;
        }
    EXPECT_EQ(marked, 20 * 12);
    // In mask edit mode the step shows the background, tinted under the mask
    // with the checkerboard of the guide colour (red: 192 / 64 in red only).
    f->StartMaskEdit();
    host.RunCurrent();
    uint8_t r, g, b, br, bgc, bb;
    host.result.buffer->GetPixelRgb8(4, 4, &r, &g, &b);
    bg.buffer->GetPixelRgb8(4, 4, &br, &bgc, &bb);
    EXPECT_EQ(r, (br + 192) / 2);
    EXPECT_EQ(g, bgc / 2);
    host.result.buffer->GetPixelRgb8(8, 4, &r, &g, &b);  // a dark cell
    bg.buffer->GetPixelRgb8(8, 4, &br, &bgc, &bb);
    EXPECT_EQ(r, (br + 64) / 2);
    host.result.buffer->GetPixelRgb8(40, 40, &r, &g, &b);
    bg.buffer->GetPixelRgb8(40, 40, &br, &bgc, &bb);
    EXPECT_EQ(r, br);
    f->EndMaskEdit();
}

// A frame the chain cannot deliver stops EXEC and says which; the
// composite stays as it was.
TEST_F(StrobePhoto, AnUnreadableFrameStopsExecAndSaysWhich) {
    CLfStrobePhoto* f = Add();
    auto frames = Movie(6);
    ASSERT_TRUE(host.OpenSequence(Pointers(frames)));
    for (uint64_t lost : {0u, 4u}) {
        host.unreadable = {lost};
        EXPECT_EQ(Exec(f), (std::vector<std::wstring>{L"frame " + std::to_wstring(lost + 1) +
                                                       L" could not be read; the run stopped"}));
        CImgBuff composite;
        f->CopyComposite(&composite);
        EXPECT_FALSE(composite.buffer->pixels);
    }
    host.unreadable.clear();
    EXPECT_TRUE(Exec(f).empty());
}

TEST_F(StrobePhoto, MessagesCancelAndABackgroundOfAnotherMovie) {
    CLfStrobePhoto* f = Add();
    CImgBuff still;
    Background(&still);
    ASSERT_TRUE(host.OpenStill(still));
    EXPECT_EQ(Exec(f), (std::vector<std::wstring>{L"need an image of 2 frames or more"}));
    auto frames = Movie(6);
    ASSERT_TRUE(host.OpenSequence(Pointers(frames)));
    f->setBgBox.checked = 1;
    EXPECT_EQ(Exec(f), (std::vector<std::wstring>{L"no BG image"}));
    // A cancel at frame 2 stops the run; the composite stays as it was.
    f->setBgBox.checked = 0;
    host.atFrame[2] = [&] {
        EXPECT_EQ(f->execButton.label, L"CANCEL");
        EXPECT_EQ(f->saveButton.enabled, 0u);
        EXPECT_EQ(f->QueryClose(), 0);
        PlatPostTestClick(f->window, 8 + 144, 480 + 14);
    };
    host.calls.clear();
    EXPECT_EQ(Exec(f), (std::vector<std::wstring>{L"canceled"}));
    EXPECT_EQ(std::count(host.calls.begin(), host.calls.end(), "Seek(3)"), 0);
    EXPECT_EQ(host.calls.back(), "LockUi(0)");
    CImgBuff composite;
    f->CopyComposite(&composite);
    EXPECT_FALSE(composite.buffer->pixels);
    // The cancel is not carried into the next capture or run.
    host.atFrame.clear();
    host.currentFrame = 4;
    f->setBgBox.checked = 1;
    f->CurrentFrame();
    CImgBuff bg;
    f->CopyBackground(&bg);
    EXPECT_TRUE(kvtest::Bytes(bg) == kvtest::Bytes(*frames[4]));
    f->setBgBox.checked = 0;
    EXPECT_TRUE(Exec(f).empty());
    f->CopyComposite(&composite);
    EXPECT_TRUE(composite.buffer->pixels);
    // A background kept from a movie of another size counts as none.
    std::vector<std::unique_ptr<CImgBuff>> small;
    for (int i = 0; i < 3; ++i) {
        small.push_back(std::make_unique<CImgBuff>());
        kvtest::RandomImage(*small.back(), 32, 24, kImgRgb8, 5 + i);
    }
    ASSERT_TRUE(host.OpenSequence(Pointers(small)));
    f->setBgBox.checked = 1;
    {
        kvtest::ModalAnswers answers;
        f->StartMaskEdit();
        EXPECT_EQ(answers.messages, (std::vector<std::wstring>{L"no BG image"}));
    }
    EXPECT_EQ(Exec(f), (std::vector<std::wstring>{L"no BG image"}));
    // Mask editing switched on earlier leaves frames of another size alone.
    f->maskEdit = 1;
    host.RunCurrent();
    EXPECT_TRUE(kvtest::Bytes(host.result) == kvtest::Bytes(*small[0]));
    f->maskEdit = 0;
    // SAVE without a composite of this movie is still the old one; a new
    // filter has none.
    auto* fresh = static_cast<CLfStrobePhoto*>(host.Add(CreateLfStrobePhoto()));
    {
        kvtest::ModalAnswers answers;
        fresh->Save();
        EXPECT_EQ(answers.messages, (std::vector<std::wstring>{L"there is no image"}));
    }
}

TEST_F(StrobePhoto, PanelRulesAndScreenshots) {
    CLfStrobePhoto* f = Add();
    const auto frames = Movie(6);
    ASSERT_TRUE(host.OpenSequence(Pointers(frames)));
    ASSERT_TRUE(f->PanelShown());
    EXPECT_EQ(f->startButton.enabled, 0u);
    EXPECT_EQ(f->maskLabel.enabled, 0u);
    PlatPostTestClick(f->window, 8 + 10, 304 + 10);  // "set bg image"
    kvtest::Pump();
    EXPECT_EQ(f->setBgBox.checked, 1u);
    EXPECT_EQ(f->startButton.enabled, 1u);
    EXPECT_EQ(f->endButton.enabled, 0u);
    host.currentFrame = 2;
    PlatPostTestClick(f->window, 8 + 70, 332 + 14);  // CURRENT FRAME
    kvtest::Pump();
    PlatPostTestClick(f->window, 8 + 45, 392 + 14);  // START
    kvtest::Pump();
    EXPECT_EQ(f->maskEdit.load(), 1u);
    EXPECT_EQ(f->execButton.enabled, 1u);
    EXPECT_EQ(f->openButton.enabled, 0u);
    EXPECT_EQ(f->endButton.enabled, 1u);
    EXPECT_EQ(f->currentFrameButton.enabled, 0u);
    // The drag rectangle over the picture.
    kvtest::OverlayView view(&host, kW, kH);
    f->OnLButtonDown(8, 8, 0);
    f->OnMouseMove(20, 16, 0);
    const PlatFrame shot = view.Capture();
    EXPECT_EQ(kvtest::OverlayView::Rgb(shot, 14, 8), 0xFF0000u);
    EXPECT_EQ(kvtest::OverlayView::Rgb(shot, 23, 14), 0xFF0000u);
    kvtest::SaveScreenshot(shot, "strobe_photo-drag");
    f->OnLButtonUp(20, 16, 0);
    PlatPostTestClick(f->window, 107 + 45, 392 + 14);  // END
    kvtest::Pump();
    EXPECT_EQ(f->maskEdit.load(), 0u);
    f->setBgBox.checked = 0;
    EXPECT_TRUE(Exec(f).empty());
    kvtest::SaveScreenshot(kvtest::CaptureFrame(*f, *f), "strobe_photo-en");
    host.SetLanguage(L"jp");
    EXPECT_EQ(f->execButton.label, L"実行");
    kvtest::SaveScreenshot(kvtest::CaptureFrame(*f, *f), "strobe_photo-jp");
}

}  // namespace
