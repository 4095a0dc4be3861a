// "FFT", "IFFT" and "IFFT EX" in real chain runs: the spectrum stack's
// pairing, its storage across runs and users, clipping of the rectangle,
// and a painted-out coefficient against numpy.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "filters/processing/lf_fft.h"
#include "filters/processing/lf_ifft.h"
#include "filters/processing/lf_ifft_ex.h"
#include "filters/processing/small_filter.h"
#include "filters/processing/spectrum_records.h"
#include "filters/processing/support/region_runs.h"
#include "image/kernels/image_fft.h"
#include "support/testsupport.h"

namespace {

// A smooth image: the transform round trip then stays within a level.
void SmoothImage(CImgBuff& image, int32_t w, int32_t h, int32_t format) {
    ASSERT_TRUE(image.buffer->Create(w, h, format));
    const int32_t channels = format == kImgGray8 ? 1 : 3;
    const int32_t depth = format == kImgRgb16 ? 2 : 1;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            for (int32_t c = 0; c < channels; ++c) {
                const double v = 0.5 + 0.4 * std::sin(0.21 * x + 0.9 * c) * std::cos(0.17 * y - 0.3 * c);
                uint8_t* p = image.buffer->PixelAt(x, y) + c * depth;
                if (depth == 1) {
                    *p = static_cast<uint8_t>(std::lround(v * 255));
                } else {
                    const auto v16 = static_cast<uint16_t>(std::lround(v * 65535));
                    std::memcpy(p, &v16, 2);
                }
            }
}

int32_t MaxDifference(const CImgBuff& a, const CImgBuff& b) {
    const int32_t depth = a.buffer->format == kImgRgb16 ? 2 : 1;
    const size_t n = kvtest::Bytes(a).size() / static_cast<size_t>(depth);
    int32_t worst = 0;
    for (size_t i = 0; i < n; ++i) {
        int32_t va, vb;
        if (depth == 1) {
            va = a.buffer->pixels[i];
            vb = b.buffer->pixels[i];
        } else {
            uint16_t u, v;
            std::memcpy(&u, a.buffer->pixels + 2 * i, 2);
            std::memcpy(&v, b.buffer->pixels + 2 * i, 2);
            va = u;
            vb = v;
        }
        worst = std::max(worst, std::abs(va - vb));
    }
    return worst;
}

// Paints one pixel of its rectangle black between the transforms.
class PaintFilter : public CImgFilter {
public:
    int32_t px = 0, py = 0;
    const wchar_t* GetName(const wchar_t*) override { return L"Paint"; }
    int32_t OnFilter(CImgBuff* image, uint64_t, int64_t, int64_t, int64_t, int64_t, uint32_t, uint32_t, uint32_t*,
                     uint32_t*) override {
        std::memset(image->buffer->PixelAt(px, py), 0, static_cast<size_t>(image->buffer->BytesPerPixel()));
        return 1;
    }
};

class FourierTest : public testing::Test {
protected:
    FakeHost host;
};

TEST_F(FourierTest, ForwardThenInverseMatchesTheKernelsOnTheClippedRegionAndRestoresIt) {
    auto* rect = static_cast<CLfRect*>(host.Add(CreateLfRect()));
    host.Add(CreateLfFFT());
    CImgFilter* inverse = host.Add(CreateLfIFFT());
    CImgFilter* inverseEx = host.Add(CreateLfIFFTEX());
    for (int32_t which = 0; which < 2; ++which) {
        inverse->enabled = which == 0;
        inverseEx->enabled = which == 1;
        for (const kvtest::RegionCase& c : kvtest::RegionCases())
            for (int32_t format : kvtest::RegionFormats()) {
                SCOPED_TRACE(std::string(c.name) + " format " + std::to_string(format) + (which ? " EX" : ""));
                rect->Set({1, c.x, c.y, c.w, c.h});
                CImgBuff image, original, expect;
                SmoothImage(image, 40, 30, format);
                SmoothImage(original, 40, 30, format);
                SmoothImage(expect, 40, 30, format);
                host.RunChain(&image, 0);
                ImgRect r = RegionRect(static_cast<int64_t>(c.x), static_cast<int64_t>(c.y),
                                       static_cast<int64_t>(c.w), static_cast<int64_t>(c.h));
                if (ImgClipRect(&r, &expect)) {
                    CImgBuff part;
                    ImgFftState st{};
                    ASSERT_TRUE(expect.ExtractRect(&part, r.x0, r.y0, r.x1, r.y1));
                    ASSERT_TRUE(ImgFftForward(&st, &part));
                    ASSERT_TRUE(ImgFftSpectrumImage(&st, &part));
                    ASSERT_TRUE(ImgFftInverse(&st, &part, which ? nullptr : &part, which ? &part : nullptr));
                    ImgFftReset(&st);
                    ASSERT_TRUE(expect.PasteImage(&part, static_cast<uint32_t>(r.x0), static_cast<uint32_t>(r.y0)));
                }
                EXPECT_TRUE(kvtest::Bytes(image) == kvtest::Bytes(expect));
                // The keep mask keeps every coefficient; the magnitudes read
                // back from the picture come back a few levels off.
                EXPECT_LE(MaxDifference(image, original), which ? (format == kImgRgb16 ? 2048 : 8) : 1);
            }
    }
}

TEST_F(FourierTest, PairingNestingLoneInversesAndTinyRegions) {
    auto* rect = static_cast<CLfRect*>(host.Add(CreateLfRect()));
    rect->Set({1, 3, 2, 30, 20});
    CImgBuff image, original;
    SmoothImage(image, 40, 30, kImgGray8);
    SmoothImage(original, 40, 30, kImgGray8);
    CImgFilter* lone = host.Add(CreateLfIFFT());  // nothing pushed yet: frames pass
    host.RunChain(&image, 0);
    EXPECT_TRUE(kvtest::Bytes(image) == kvtest::Bytes(original));
    // FFT, FFT, IFFT, IFFT: the first inverse undoes the second spectrum.
    host.Add(CreateLfFFT());
    host.Add(CreateLfFFT());
    host.Add(CreateLfIFFT());
    host.Add(CreateLfIFFT());
    host.RunChain(&image, 0);
    EXPECT_LE(MaxDifference(image, original), 1);
    EXPECT_EQ(g_SpectrumStack.count, 0u);
    (void)lone;
    // A 1 x 1 rectangle: nothing is transformed and nothing pushed.
    rect->Set({1, 5, 5, 1, 1});
    SmoothImage(image, 40, 30, kImgGray8);
    host.RunChain(&image, 0);
    EXPECT_TRUE(kvtest::Bytes(image) == kvtest::Bytes(original));
}

TEST_F(FourierTest, TheStackKeepsItsStorageAcrossRunsAndTheLastUserFreesIt) {
    {
        FakeHost local;
        auto* rect = static_cast<CLfRect*>(local.Add(CreateLfRect()));
        rect->Set({1, 0, 0, 16, 16});
        local.Add(CreateLfFFT());  // no inverse: its record stays until the next run
        CImgBuff image;
        SmoothImage(image, 40, 30, kImgRgb8);
        for (int32_t frame = 0; frame < 100; ++frame) local.RunChain(&image, static_cast<uint64_t>(frame));
        EXPECT_EQ(g_SpectrumStack.count, 1u);
        EXPECT_EQ(g_SpectrumStack.capacity, 8u);
        // Nine pushes in one run grow the storage by eight.
        for (int32_t i = 0; i < 8; ++i) local.Add(CreateLfFFT());
        local.RunChain(&image, 0);
        EXPECT_EQ(g_SpectrumStack.count, 9u);
        EXPECT_EQ(g_SpectrumStack.capacity, 16u);
    }
    // The fixture's host holds no Fourier filter: the last one freed every
    // record with the storage (the sanitizer build checks the planes).
    EXPECT_EQ(g_SpectrumStack.users, 0u);
    EXPECT_EQ(g_SpectrumStack.records, nullptr);
    EXPECT_EQ(g_SpectrumStack.count, 0u);
    EXPECT_EQ(g_SpectrumStack.capacity, 0u);
    CLfFFT fresh;
    EXPECT_EQ(g_SpectrumStack.users, 1u);
    EXPECT_STREQ(fresh.GetName(L"jp"), L"FFT");
    EXPECT_STREQ(CLfIFFTEX().GetName(L"en"), L"IFFT EX");
}

TEST_F(FourierTest, APixelPaintedBlackRemovesItsCoefficientAsNumpySays) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "no Debian python3 with numpy";
    auto* rect = static_cast<CLfRect*>(host.Add(CreateLfRect()));
    rect->Set({1, 4, 3, 30, 20});  // N = 32, picture at (1, 6) of the plane
    host.Add(CreateLfFFT());
    auto* paint = static_cast<PaintFilter*>(host.Add(new PaintFilter));
    paint->px = 4 + 18;
    paint->py = 3 + 11;
    host.Add(CreateLfIFFT());
    CImgBuff image;
    SmoothImage(image, 40, 30, kImgGray8);
    kvtest::TempDir dir("fft_np");
    const std::vector<uint8_t> before = kvtest::Bytes(image);
    ASSERT_TRUE(kvtest::WriteFileBytes(dir.file("in.raw"), std::string(before.begin(), before.end())));
    host.RunChain(&image, 0);
    const char* script =
        "import sys, numpy as np\n"
        "a = np.fromfile(sys.argv[1], np.uint8).reshape(30, 40).astype(float)\n"
        "r = np.zeros((32, 32)); r[:20, :30] = a[3:23, 4:34]\n"
        "f = np.fft.fftshift(np.fft.fft2(r))\n"
        "f[(32 - 20) // 2 + 11, (32 - 30) // 2 + 18] = 0\n"
        "b = np.real(np.fft.ifft2(np.fft.ifftshift(f)))[:20, :30]\n"
        "a[3:23, 4:34] = np.clip(np.round(b), 0, 255)\n"
        "a.astype(np.uint8).tofile(sys.argv[2])\n";
    std::string ignored;
    ASSERT_EQ(kvtest::RunPython(script, {dir.file("in.raw"), dir.file("out.raw")}, &ignored), 0);
    const std::string expect = kvtest::ReadFileBytes(dir.file("out.raw"));
    ASSERT_EQ(expect.size(), before.size());
    int32_t worst = 0, changed = 0;
    for (size_t i = 0; i < before.size(); ++i) {
        worst = std::max(worst, std::abs(int32_t(image.buffer->pixels[i]) - int32_t(uint8_t(expect[i]))));
        changed += before[i] != uint8_t(expect[i]);
    }
    EXPECT_LE(worst, 1);
    EXPECT_GT(changed, 100);  // the coefficient mattered
}

// "IFFT EX" reads each picture level p back as the magnitude whose scaled
// log would be p / D, without taking off the display's offset of one level
// (256 at 16 bits): numpy's model of FFT -> picture -> inverse from levels.
TEST_F(FourierTest, InverseFromLevelsMatchesNumpysModelOfTheRule) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "no Debian python3 with numpy";
    auto* rect = static_cast<CLfRect*>(host.Add(CreateLfRect()));
    host.Add(CreateLfFFT());
    host.Add(CreateLfIFFTEX());
    const char* script =
        "import sys, numpy as np\n"
        "i, o, ch, deep, x0, y0, x1, y1 = sys.argv[1], sys.argv[2], *map(int, sys.argv[3:])\n"
        "t = np.uint16 if deep else np.uint8\n"
        "D = 65535.0 if deep else 255.0\n"
        "a = np.fromfile(i, t).reshape(30, 40, ch)\n"
        "h, w = y1 - y0 + 1, x1 - x0 + 1\n"
        "S = 1 << (max(w, h) - 1).bit_length()\n"
        "wy, wx = (S - h) // 2, (S - w) // 2\n"
        "for c in range(ch):\n"
        "    r = np.zeros((S, S)); r[:h, :w] = a[y0:y1 + 1, x0:x1 + 1, c] / D\n"
        "    f = np.fft.fftshift(np.fft.fft2(r))\n"
        "    p = f.real ** 2 + f.imag ** 2\n"
        "    scale = 1 / np.log10(p.max() + 1)\n"
        "    v = np.log10(p + 1) * scale\n"
        "    lv = np.clip(np.trunc(v * 65279) + 256, 0, 65535) if deep else np.clip(np.trunc(v * 254) + 1, 0, 255)\n"
        "    win = f[wy:wy + h, wx:wx + w]\n"
        "    m = np.abs(win)\n"
        "    g = np.sqrt(10 ** (lv[wy:wy + h, wx:wx + w] / D / scale) - 1)\n"
        "    f[wy:wy + h, wx:wx + w] = np.where(m > 0, win * g / np.where(m > 0, m, 1), 0)\n"
        "    b = np.real(np.fft.ifft2(np.fft.ifftshift(f)))[:h, :w]\n"
        "    a[y0:y1 + 1, x0:x1 + 1, c] = np.clip(np.trunc(b * D), 0, D)\n"
        "a.tofile(o)\n";
    const struct {
        const char* name;
        uint64_t x, y, w, h;
    } regions[] = {{"square, unpadded", 4, 2, 16, 16}, {"padded", 3, 5, 30, 20}, {"partly outside", 25, 10, 30, 30}};
    for (const auto& reg : regions)
        for (int32_t format : kvtest::RegionFormats()) {
            SCOPED_TRACE(std::string(reg.name) + " format " + std::to_string(format));
            rect->Set({1, reg.x, reg.y, reg.w, reg.h});
            CImgBuff image;
            SmoothImage(image, 40, 30, format);
            kvtest::TempDir dir("ifft_ex_np");
            const std::vector<uint8_t> before = kvtest::Bytes(image);
            ASSERT_TRUE(kvtest::WriteFileBytes(dir.file("in.raw"), std::string(before.begin(), before.end())));
            host.RunChain(&image, 0);
            const int64_t x1 = std::min<int64_t>(static_cast<int64_t>(reg.x + reg.w) - 1, 39);
            const int64_t y1 = std::min<int64_t>(static_cast<int64_t>(reg.y + reg.h) - 1, 29);
            std::string ignored;
            ASSERT_EQ(kvtest::RunPython(script,
                                        {dir.file("in.raw"), dir.file("out.raw"), format == kImgGray8 ? "1" : "3",
                                         format == kImgRgb16 ? "1" : "0", std::to_string(reg.x), std::to_string(reg.y),
                                         std::to_string(x1), std::to_string(y1)},
                                        &ignored),
                      0);
            CImgBuff expect;
            SmoothImage(expect, 40, 30, format);
            const std::string model = kvtest::ReadFileBytes(dir.file("out.raw"));
            ASSERT_EQ(model.size(), before.size());
            std::memcpy(expect.buffer->pixels, model.data(), model.size());
            // Both truncate; a value a rounding away from a level may land
            // one level apart.
            EXPECT_LE(MaxDifference(image, expect), 1);
            CImgBuff original;
            SmoothImage(original, 40, 30, format);
            EXPECT_GT(MaxDifference(expect, original), 0) << "the model is not the identity";
        }
}

}  // namespace
