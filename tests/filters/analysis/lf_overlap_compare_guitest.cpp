// "Overlap compare": both formulas against numpy over the transformed
// overlay in several frame formats, the documented edge cases, choosing an
// image while the worker runs, and the panel on the offscreen driver.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "filters/analysis/lf_overlap_compare.h"
#include "filters/processing/support/fake_host.h"
#include "filters/processing/support/region_runs.h"
#include "image/kernels/overlap_transform.h"
#include "media/frame_output.h"
#include "platform/plat_messages.h"
#include "platform/utf8.h"
#include "support/testsupport.h"
#include "toolkit/support/file_select_answer.h"
#include "toolkit/support/ui_input.h"

namespace {

std::wstring W(const std::string& s) { return PlatUtf8ToWide(s.c_str()); }

std::string Raw(const CImgBuff& image) {
    const std::vector<uint8_t> b = kvtest::Bytes(image);
    return std::string(b.begin(), b.end());
}

const char* Dtype(int32_t format) {
    switch (format) {
        case kImgGray16:
        case kImgRgb16:
            return "uint16";
        case kImgGray32:
        case kImgRgb32:
            return "uint32";
        default:
            return "uint8";
    }
}

// numpy lays the overlay over the frame by the two formulas, in 64-bit integers.
void NumpyCompose(CImgBuff* frame, const CLfOverlapCompare::Overlay& o, int32_t mode, int32_t alpha) {
    kvtest::TempDir dir("overlap_np");
    ASSERT_TRUE(kvtest::WriteFileBytes(dir.file("f"), Raw(*frame)));
    ASSERT_TRUE(kvtest::WriteFileBytes(dir.file("o"), Raw(o.image)));
    ASSERT_TRUE(kvtest::WriteFileBytes(dir.file("m"), Raw(o.mask)));
    const char* script =
        "import sys, numpy as np\n"
        "d, w, h, c, dt, ow, oh, x0, y0, mode, alpha = sys.argv[1:]\n"
        "w, h, c, ow, oh, x0, y0, mode, alpha = map(int, (w, h, c, ow, oh, x0, y0, mode, alpha))\n"
        "F = np.fromfile(d + '/f', dt).reshape(h, w, c).astype(np.int64)\n"
        "O = np.fromfile(d + '/o', dt).reshape(oh, ow, c).astype(np.int64)\n"
        "M = np.fromfile(d + '/m', np.uint8).reshape(oh, ow, 1).astype(np.int64)\n"
        "fx0, fy0, fx1, fy1 = max(0, x0), max(0, y0), min(w, x0 + ow), min(h, y0 + oh)\n"
        "if fx1 > fx0 and fy1 > fy0:\n"
        "    I = F[fy0:fy1, fx0:fx1]\n"
        "    V = O[fy0 - y0:fy1 - y0, fx0 - x0:fx1 - x0]\n"
        "    m = M[fy0 - y0:fy1 - y0, fx0 - x0:fx1 - x0]\n"
        "    if mode == 0:\n"
        "        a = alpha * m // 100\n"
        "        R = ((255 - a) * I + a * V) // 255\n"
        "    else:\n"
        "        R = ((255 - m) * I + m * np.abs(I - V)) // 255\n"
        "    F[fy0:fy1, fx0:fx1] = R\n"
        "F.astype(dt).tofile(d + '/r')\n";
    const C_ImgBuff* f = frame->buffer;
    const int32_t channels = f->format >= kImgRgb8 ? 3 : 1;
    std::string ignored;
    ASSERT_EQ(kvtest::RunPython(script,
                                {dir.path(), std::to_string(f->width), std::to_string(f->height),
                                 std::to_string(channels), Dtype(f->format), std::to_string(o.image.buffer->width),
                                 std::to_string(o.image.buffer->height), std::to_string(o.x0), std::to_string(o.y0),
                                 std::to_string(mode), std::to_string(alpha)},
                                &ignored),
              0);
    const std::string result = kvtest::ReadFileBytes(dir.file("r"));
    ASSERT_EQ(result.size(), Raw(*frame).size());
    std::memcpy(f->pixels, result.data(), result.size());
}

class OverlapCompare : public testing::Test {
protected:
    void SetUp() override {
        png = dir.file("overlay.png");
        CImgBuff source;
        kvtest::RandomImage(source, 30, 24, kImgRgb8, 11);
        ASSERT_TRUE(SaveImageFile(&source, W(png).c_str(), nullptr, nullptr));
        ASSERT_TRUE(LoadImageFile(&chosen, W(png).c_str(), nullptr, nullptr));
    }
    void TearDown() override { kvtest::Pump(); }

    CLfOverlapCompare* Add() {
        host.SetLanguage(L"en");
        host.SetSourceFormat(60, 50, 1, 1);
        return static_cast<CLfOverlapCompare*>(host.Add(CreateLfOverlapCompare()));
    }
    // Moves the sliders as the panel does.
    static void Place(CLfOverlapCompare* f, int32_t px, int32_t py, int32_t roll, int32_t size) {
        f->positionX = px;
        f->positionY = py;
        f->roll = roll;
        f->size = size;
        f->RequestRebuild();
    }

    kvtest::TempDir dir{"overlap"};
    std::string png;
    CImgBuff chosen;
    FakeHost host;
};

TEST_F(OverlapCompare, BothFormulasMatchNumpyInEveryFrameFormat) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "no Debian python3 with numpy";
    CLfOverlapCompare* f = Add();
    ASSERT_TRUE(f->SelectImage(W(png).c_str()));
    Place(f, -37, 50, 60, 340);
    // The sliders are set once: frames of another format rebuild the overlay
    // in their own format.
    for (int32_t mode : {0, 1})
        for (int32_t format : {kImgGray8, kImgGray16, kImgRgb8, kImgRgb16, kImgGray32, kImgRgb32}) {
            SCOPED_TRACE("mode " + std::to_string(mode) + " format " + std::to_string(format));
            f->mode = mode;
            f->transparency = 37;
            CImgBuff frame, expect;
            kvtest::RandomImage(frame, 60, 50, format, 5 + format);
            kvtest::RandomImage(expect, 60, 50, format, 5 + format);
            host.RunChain(&frame, 0);
            CLfOverlapCompare::Overlay o;
            ASSERT_TRUE(ImgOverlapTransform(&chosen, -9.25, 12.5, 15.0, 0.85, &o.image, &o.mask, &o.x0, &o.y0));
            ASSERT_TRUE(o.image.buffer->ConvertFormat(static_cast<uint32_t>(format)));
            const auto used = f->CurrentOverlay();
            ASSERT_TRUE(used);
            EXPECT_EQ(used->format, format);
            EXPECT_EQ(used->x0, o.x0);
            EXPECT_EQ(used->y0, o.y0);
            NumpyCompose(&expect, o, mode, 37);
            EXPECT_TRUE(kvtest::Bytes(frame) == kvtest::Bytes(expect));
        }
}

TEST_F(OverlapCompare, EdgeCasesOfTransparencyDiffRollAndSize) {
    CLfOverlapCompare* f = Add();
    ASSERT_TRUE(f->SelectImage(W(png).c_str()));
    EXPECT_EQ(f->positionXBar.minimum, -120);
    EXPECT_EQ(f->positionXBar.maximum, 240);
    EXPECT_EQ(f->positionYBar.minimum, -96);
    EXPECT_EQ(f->positionYBar.maximum, 200);
    auto run = [&](int32_t mode, int32_t alpha, const CImgBuff& input, CImgBuff* out) {
        f->mode = mode;
        f->transparency = alpha;
        out->CopyFrom(&input);
        host.RunChain(out, 0);
    };
    CImgBuff frame, out;
    kvtest::RandomImage(frame, 60, 50, kImgRgb8, 3);
    // Transparency 100 shows the overlay exactly where it covers fully; 1
    // barely changes the frame.
    Place(f, 40, 28, 0, 400);
    run(0, 100, frame, &out);
    auto o = f->CurrentOverlay();
    ASSERT_TRUE(o);
    int full = 0;
    for (int32_t y = 0; y < o->mask.buffer->height; ++y)
        for (int32_t x = 0; x < o->mask.buffer->width; ++x) {
            if (*o->mask.buffer->PixelAt(x, y) != 255 || !out.buffer->Contains(o->x0 + x, o->y0 + y)) continue;
            ++full;
            ASSERT_EQ(std::memcmp(out.buffer->PixelAt(o->x0 + x, o->y0 + y), o->image.buffer->PixelAt(x, y), 3), 0);
        }
    EXPECT_GT(full, 500);
    run(0, 1, frame, &out);
    const std::vector<uint8_t> a = kvtest::Bytes(frame), b = kvtest::Bytes(out);
    for (size_t i = 0; i < a.size(); ++i) ASSERT_LE(std::abs(int{a[i]} - int{b[i]}), 3);
    // "diff" of the frame with itself unshifted is black under full coverage.
    const std::string same = dir.file("same.png");
    ASSERT_TRUE(SaveImageFile(&frame, W(same).c_str(), nullptr, nullptr));
    ASSERT_TRUE(f->SelectImage(W(same).c_str()));
    Place(f, 0, 0, 0, 400);
    run(1, 50, frame, &out);
    o = f->CurrentOverlay();
    ASSERT_TRUE(o);
    full = 0;
    for (int32_t y = 0; y < 50; ++y)
        for (int32_t x = 0; x < 60; ++x) {
            const int32_t ox = x - o->x0, oy = y - o->y0;
            if (!o->mask.buffer->Contains(ox, oy) || *o->mask.buffer->PixelAt(ox, oy) != 255) continue;
            ++full;
            const uint8_t* p = out.buffer->PixelAt(x, y);
            ASSERT_EQ(p[0] | p[1] | p[2], 0) << x << "," << y;
        }
    EXPECT_GT(full, 2500);
    // Roll -720 and 720 both turn by 180 degrees.
    CImgBuff turnedA, turnedB;
    Place(f, 0, 0, 720, 400);
    run(0, 100, frame, &turnedA);
    Place(f, 0, 0, -720, 400);
    run(0, 100, frame, &turnedB);
    // (The sines of +-180 degrees differ in the last bit: a level at most
    // inside, where the coverage is full.)
    for (int32_t y = 2; y < 48; ++y)
        for (int32_t x = 2; x < 58; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_NEAR(turnedA.buffer->PixelAt(x, y)[c], turnedB.buffer->PixelAt(x, y)[c], 1) << x << "," << y;
    const std::vector<uint8_t> ta = kvtest::Bytes(turnedA);
    // The frame's own pixels turned half round, away from the border.
    for (int32_t y = 5; y < 45; y += 7)
        for (int32_t x = 5; x < 55; x += 7)
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(turnedA.buffer->PixelAt(x, y)[c], frame.buffer->PixelAt(59 - x, 49 - y)[c], 1);
    EXPECT_FALSE(ta == kvtest::Bytes(frame));
    // Size 200 halves the overlay; the position range follows the chosen image.
    Place(f, 0, 0, 0, 200);
    run(0, 50, frame, &out);
    o = f->CurrentOverlay();
    ASSERT_TRUE(o);
    EXPECT_NEAR(o->image.buffer->width, 30, 1);
    EXPECT_NEAR(o->image.buffer->height, 25, 1);
    EXPECT_EQ(f->positionXBar.minimum, -240);
    // Neither mode selected, or no chosen image: frames pass unchanged.
    run(-1, 50, frame, &out);
    EXPECT_TRUE(kvtest::Bytes(out) == kvtest::Bytes(frame));
    {
        kvtest::ModalAnswers answers;
        EXPECT_FALSE(f->SelectImage(W(dir.file("missing.png")).c_str()));
        EXPECT_EQ(answers.messages, (std::vector<std::wstring>{L"loading failed"}));
    }
    EXPECT_FALSE(f->HasImage());
    run(0, 50, frame, &out);
    EXPECT_TRUE(kvtest::Bytes(out) == kvtest::Bytes(frame));
}

TEST_F(OverlapCompare, ChoosingImagesWhileTheWorkerRunsIsSafe) {
    CLfOverlapCompare* f = Add();
    const std::string second = dir.file("second.png");
    CImgBuff big;
    kvtest::RandomImage(big, 90, 70, kImgGray8, 2);
    ASSERT_TRUE(SaveImageFile(&big, W(second).c_str(), nullptr, nullptr));
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        CImgBuff frame;
        kvtest::RandomImage(frame, 60, 50, kImgRgb8, 1);
        while (!stop) host.RunChain(&frame, 0);
    });
    kvtest::ModalAnswers answers;
    for (int i = 0; i < 60; ++i) {
        const std::string& path = i % 3 == 0 ? png : i % 3 == 1 ? second : dir.file("missing.png");
        f->SelectImage(W(path).c_str());
        f->roll = i * 7;
        f->RequestRebuild();
    }
    stop = true;
    worker.join();
    EXPECT_FALSE(f->HasImage());
}

TEST_F(OverlapCompare, PanelSelectsAnImageAndSlidersRerunWithoutWaiting) {
    CLfOverlapCompare* f = Add();
    ASSERT_TRUE(f->PanelShown());
    EXPECT_EQ(f->selectButton.label, L"SELECT IMAGE");
    {
        kvtest::ModalAnswers answers({W(png)});
        PlatPostTestClick(f->window, 304 + 64, 264 + 15);
        kvtest::Pump();
    }
    EXPECT_TRUE(f->HasImage());
    EXPECT_EQ(f->picture.ImageWidth(), 30);
    EXPECT_EQ(f->picture.ImageHeight(), 24);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"Refilter(1)"}));
    // "diff" disables the transparency slider and rebuilds without waiting.
    PlatPostTestClick(f->window, 370 + 32, 234 + 10);
    kvtest::Pump();
    EXPECT_EQ(f->mode.load(), 1);
    EXPECT_EQ(f->transparencyBar.enabled, 0u);
    EXPECT_EQ(host.calls.back(), "Refilter(1)");
    // A click on the size slider's right arrow.
    const size_t before = host.calls.size();
    PlatPostTestClick(f->window, 304 + 126, 140 + 10);
    kvtest::Pump();
    EXPECT_EQ(f->size.load(), 401);
    EXPECT_EQ(host.calls.size(), before + 1);
    // A file that cannot be loaded: the loader's message, no chosen image.
    {
        kvtest::ModalAnswers answers({W(dir.file("missing.png"))});
        PlatPostTestClick(f->window, 304 + 64, 264 + 15);
        kvtest::Pump();
        EXPECT_EQ(answers.messages, (std::vector<std::wstring>{L"loading failed"}));
    }
    EXPECT_FALSE(f->HasImage());
    ASSERT_TRUE(f->SelectImage(W(png).c_str()));
    PlatPostTestClick(f->window, 304 + 32, 234 + 10);
    kvtest::Pump();
    EXPECT_EQ(f->transparencyBar.enabled, 1u);
    kvtest::SaveScreenshot(kvtest::CaptureFrame(*f, *f), "overlap_compare-en");
    host.SetLanguage(L"jp");
    EXPECT_EQ(f->selectButton.label, L"画像を選択");
    kvtest::SaveScreenshot(kvtest::CaptureFrame(*f, *f), "overlap_compare-jp");
}

}  // namespace
