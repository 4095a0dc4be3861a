// Image FFT: spectrum pictures against numpy (padded, normalised, fft2,
// fftshift, log scale, display levels, centre crop), the masks checked
// coefficient by coefficient, round trips, refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "image/kernels/image_fft.h"
#include "support/kernel_test_util.h"

namespace {

struct StateGuard {
    ImgFftState s{};
    ~StateGuard() { ImgFftReset(&s); }
};

// The picture of numpy: depth d (1, 2, 4 bytes) and channel count c.
const char* kNumpySpectrum = R"(
def spectrum(img, d):
    D = {1: 255.0, 2: 65535.0, 4: 4294967295.0}[d]
    off, span, top = {1: (1, 254, 255), 2: (256, 65279, 65535), 4: (65536, 4294901759, 4294967295)}[d]
    h, w = img.shape[:2]
    S = 2
    while S < max(w, h): S *= 2
    chans = [img] if img.ndim == 2 else [img[:, :, c] for c in range(3)]
    outs = []
    for ch in chans:
        a = np.zeros((S, S)); a[:h, :w] = ch / D
        F = np.fft.fftshift(np.fft.fft2(a))
        P = F.real ** 2 + F.imag ** 2
        v = np.log10(P + 1) / np.log10(P.max() + 1)
        v = np.nan_to_num(v, nan=0.0)
        lv = np.clip(off + np.trunc(span * v), 0, top)
        y0 = (S - h) // 2; x0 = (S - w) // 2
        outs.append(lv[y0:y0 + h, x0:x0 + w])
    return (outs[0] if img.ndim == 2 else np.stack(outs, -1)).astype(np.int64)
)";

std::vector<int64_t> Levels(const CImgBuff& img) {
    std::vector<int64_t> out;
    out.reserve(size_t(img.buffer->width) * img.buffer->height * 3);
    const int d = g_ImgFormatBytes[img.buffer->format] / (img.buffer->format >= kImgRgb8 ? 3 : 1);
    const std::string b = ktest::Block(img);
    for (size_t i = 0; i < b.size(); i += d) {
        uint32_t v = 0;
        std::memcpy(&v, b.data() + i, d);
        out.push_back(v);
    }
    return out;
}

TEST(ImageFft, SpectrumPictureMatchesNumpy) {
    struct Case {
        int32_t w, h, format;
        const char* dtype;
        int depth, channels;
    };
    const Case cases[] = {{100, 60, kImgGray8, "np.uint8", 1, 1},    {37, 50, kImgRgb16, "np.uint16", 2, 3},
                          {64, 64, kImgGray32, "np.uint32", 4, 1},   {640, 480, kImgRgb8, "np.uint8", 1, 3},
                          {45, 3, kImgGray16, "np.uint16", 2, 1},    {20, 31, kImgRgb32, "np.uint32", 4, 3}};
    std::vector<std::string> inputs;
    std::vector<CImgBuff> pictures(std::size(cases));
    std::string script = std::string(kNumpySpectrum) + "out = b''\n";
    for (size_t k = 0; k < std::size(cases); ++k) {
        const Case& c = cases[k];
        CImgBuff img;
        ASSERT_TRUE(ktest::MakeNoise(img, c.w, c.h, c.format, uint32_t(40 + k)));
        inputs.push_back(ktest::Block(img));
        StateGuard st;
        ASSERT_EQ(ImgFftForward(&st.s, &img), 1);
        ASSERT_EQ(ImgFftSpectrumImage(&st.s, &pictures[k]), 1);
        ASSERT_EQ(pictures[k].buffer->width, c.w);
        ASSERT_EQ(pictures[k].buffer->height, c.h);
        ASSERT_EQ(pictures[k].buffer->format, c.format);
        script += "a = np.fromfile(sys.argv[" + std::to_string(k + 1) + "], " + c.dtype + ").reshape(" + std::to_string(c.h) + ", " +
                  std::to_string(c.w) + (c.channels == 3 ? ", 3" : "") + ").astype(np.float64)\n" + "out += spectrum(a, " +
                  std::to_string(c.depth) + ").tobytes()\n";
    }
    script += "open(sys.argv[-1], 'wb').write(out)\n";
    const std::string expected = ktest::RunNumpy(script, inputs);
    size_t at = 0;
    for (size_t k = 0; k < std::size(cases); ++k) {
        const std::vector<int64_t> ours = Levels(pictures[k]);
        ASSERT_GE(expected.size(), at + ours.size() * 8);
        const int64_t* ref = reinterpret_cast<const int64_t*>(expected.data() + at);
        int64_t worst = 0;
        for (size_t i = 0; i < ours.size(); ++i) worst = std::max<int64_t>(worst, std::llabs(ours[i] - ref[i]));
        EXPECT_LE(worst, 1) << "case " << k;
        at += ours.size() * 8;
    }
}

TEST(ImageFft, GeometryAndCentre) {
    CImgBuff img, pic, back;
    ASSERT_TRUE(ktest::MakeNoise(img, 256, 256, kImgGray8, 3));
    StateGuard st;
    ASSERT_EQ(ImgFftForward(&st.s, &img), 1);
    EXPECT_EQ(st.s.transformWidth, 256);
    ASSERT_EQ(ImgFftSpectrumImage(&st.s, &pic), 1);
    uint8_t centre = 0;
    pic.GetPixelGray8(128, 128, &centre);
    EXPECT_EQ(centre, 255);  // the zero frequency of a non-negative image
    // 640 x 480 is transformed at 1024 and comes back at its size.
    ASSERT_TRUE(ktest::MakeNoise(img, 640, 480, kImgGray16, 4));
    ASSERT_EQ(ImgFftForward(&st.s, &img), 1);
    EXPECT_EQ(st.s.transformWidth, 1024);
    EXPECT_EQ(st.s.transformHeight, 1024);
    EXPECT_EQ(st.s.array[1], nullptr);
    ASSERT_EQ(ImgFftInverse(&st.s, &back, nullptr, nullptr), 1);
    EXPECT_EQ(back.buffer->width, 640);
    EXPECT_EQ(back.buffer->height, 480);
    // 2 x 1 is padded to 2 x 2.
    ASSERT_TRUE(ktest::MakeNoise(img, 2, 1, kImgGray8, 5));
    ASSERT_EQ(ImgFftForward(&st.s, &img), 1);
    EXPECT_EQ(st.s.transformWidth, 2);
    EXPECT_EQ(st.s.transformHeight, 2);
}

// Forward, picture, inverse with the picture as zero mask: the image comes
// back within one level (truncation), in every format whose levels are
// stored as such.
TEST(ImageFft, RoundTripWithinOneLevel) {
    struct Case {
        int32_t w, h, format;
    };
    const Case cases[] = {{200, 150, kImgRgb8}, {33, 17, kImgGray8}, {40, 40, kImgGray16}, {9, 30, kImgGray32},
                          {25, 12, kImgRgb16},    {16, 20, kImgRgb32}};
    for (const Case& c : cases) {
        CImgBuff img, pic, back;
        ASSERT_TRUE(ktest::MakeNoise(img, c.w, c.h, c.format, 8));
        StateGuard st;
        ASSERT_EQ(ImgFftForward(&st.s, &img), 1);
        ASSERT_EQ(ImgFftSpectrumImage(&st.s, &pic), 1);
        ASSERT_EQ(ImgFftInverse(&st.s, &back, &pic, nullptr), 1);
        ASSERT_EQ(back.buffer->format, c.format);
        const std::vector<int64_t> a = Levels(img), b = Levels(back);
        ASSERT_EQ(a.size(), b.size());
        int64_t worst = 0;
        for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, a[i] - b[i] < 0 ? b[i] - a[i] : a[i] - b[i]);
        EXPECT_LE(worst, 1) << ImgFormatName(c.format);
    }
    // The other colour formats go through their RGB rendering and succeed.
    for (int32_t f : {kImgXyz, kImgHsv16, kImgCmyk8}) {
        CImgBuff img, pic, back;
        ASSERT_TRUE(ktest::MakeNoise(img, 12, 10, f, 9));
        StateGuard st;
        ASSERT_EQ(ImgFftForward(&st.s, &img), 1);
        ASSERT_EQ(ImgFftSpectrumImage(&st.s, &pic), 1);
        EXPECT_EQ(pic.buffer->format, f);
        ASSERT_EQ(ImgFftInverse(&st.s, &back, nullptr, &pic), 1);
        EXPECT_EQ(back.buffer->format, f);
    }
}

// The masks change the state's coefficients; after the inverse the arrays
// hold the masked spectrum de-centred, compared here with numpy's.
TEST(ImageFft, MasksCoefficientByCoefficient) {
    struct Case {
        const char* name;
        int32_t format;
        bool level;
        int paint;  // -1 none; else paint mask pixel (11, 7): 0 all channels, 1 red only
    };
    const Case cases[] = {{"zero copy", kImgGray8, false, -1},
                          {"zero painted", kImgGray8, false, 0},
                          {"level copy", kImgGray8, true, -1},
                          {"level painted", kImgGray8, true, 0},
                          {"level 16", kImgGray16, true, -1},
                          {"zero red", kImgRgb8, false, 1},
                          {"level colour", kImgRgb8, true, 1}};
    const int32_t w = 50, h = 40, s = 64;
    std::vector<std::string> inputs, arrays;
    std::string script =
        "def masked(img, mask, scale, d, level, ch):\n"
        "    dt = np.uint8 if d == 1 else np.uint16\n"
        "    shape = (40, 50) if ch == 1 else (40, 50, 3)\n"
        "    img = np.fromfile(img, dt).reshape(shape).astype(np.float64)\n"
        "    mask = np.fromfile(mask, dt).reshape(shape).astype(np.float64)\n"
        "    scale = np.fromfile(scale, np.float64)\n"
        "    D = 255.0 if d == 1 else 65535.0\n"
        "    if ch == 3: mask = mask * 16843009.0; D = 4294967295.0\n"
        "    out = b''\n"
        "    for c in range(ch):\n"
        "        a = np.zeros((64, 64)); a[:40, :50] = (img if ch == 1 else img[:, :, c]) / (255.0 if d == 1 else 65535.0)\n"
        "        F = np.fft.fftshift(np.fft.fft2(a))\n"
        "        m = mask if ch == 1 else mask[:, :, c]\n"
        "        win = F[12:52, 7:57]\n"
        "        if level:\n"
        "            mag = np.abs(win)\n"
        "            f = np.sqrt(10 ** (m / D / scale[c]) - 1) / np.where(mag > 0, mag, 1)\n"
        "            win = np.where(mag > 0, win * f, 0)\n"
        "        win = np.where(m == 0, 0, win)\n"
        "        F[12:52, 7:57] = win\n"
        "        out += np.fft.ifftshift(F).astype(np.complex128).tobytes()\n"
        "    return out\n"
        "out = b''\n";
    for (const Case& c : cases) {
        CImgBuff img, mask, out;
        ASSERT_TRUE(ktest::MakeNoise(img, w, h, c.format, 21));
        StateGuard st;
        ASSERT_EQ(ImgFftForward(&st.s, &img), 1);
        ASSERT_EQ(ImgFftSpectrumImage(&st.s, &mask), 1);
        if (c.paint == 0) {
            ASSERT_EQ(mask.SetPixelRgb8(11, 7, 0, 0, 0), 1);
        }
        if (c.paint == 1) {
            uint8_t r, g, b;
            mask.GetPixelRgb8(11, 7, &r, &g, &b);
            ASSERT_EQ(mask.SetPixelRgb8(11, 7, 0, g, b), 1);
        }
        const int channels = c.format >= kImgRgb8 ? 3 : 1;
        const size_t first = inputs.size() + 1;
        inputs.push_back(ktest::Block(img));
        inputs.push_back(ktest::Block(mask));
        inputs.emplace_back(reinterpret_cast<const char*>(st.s.scale), sizeof st.s.scale);
        ASSERT_EQ(ImgFftInverse(&st.s, &out, c.level ? nullptr : &mask, c.level ? &mask : nullptr), 1);
        std::string a;
        for (int ch = 0; ch < channels; ++ch) a.append(reinterpret_cast<const char*>(st.s.array[ch]), size_t(s) * s * sizeof(FftComplex));
        arrays.push_back(a);
        script += "out += masked(sys.argv[" + std::to_string(first) + "], sys.argv[" + std::to_string(first + 1) + "], sys.argv[" +
                  std::to_string(first + 2) + "], " + (c.format == kImgGray16 ? "2" : "1") + ", " + (c.level ? "True" : "False") + ", " +
                  std::to_string(channels) + ")\n";
    }
    script += "open(sys.argv[-1], 'wb').write(out)\n";
    const std::string expected = ktest::RunNumpy(script, inputs);
    size_t at = 0;
    for (size_t k = 0; k < std::size(cases); ++k) {
        const Case& c = cases[k];
        ASSERT_GE(expected.size(), at + arrays[k].size()) << c.name;
        const FftComplex* ours = reinterpret_cast<const FftComplex*>(arrays[k].data());
        const FftComplex* ref = reinterpret_cast<const FftComplex*>(expected.data() + at);
        at += arrays[k].size();
        double diff = 0, top = 0;
        int zeros = 0, refZeros = 0;
        for (size_t i = 0; i < arrays[k].size() / sizeof(FftComplex); ++i) {
            diff = std::max(diff, std::hypot(ours[i].re - ref[i].re, ours[i].im - ref[i].im));
            top = std::max(top, std::hypot(ref[i].re, ref[i].im));
            zeros += ours[i].re == 0 && ours[i].im == 0;
            refZeros += ref[i].re == 0 && ref[i].im == 0;
        }
        EXPECT_LE(diff, 1e-9 * top) << c.name;
        EXPECT_EQ(zeros, refZeros) << c.name;
        EXPECT_EQ(zeros, c.paint >= 0 ? 1 : 0) << c.name;  // only that coefficient, not its mirror
    }
    EXPECT_EQ(at, expected.size());
}

TEST(ImageFft, MaskMayBeTheOutputHandle) {
    for (bool level : {false, true}) {
        CImgBuff img, mask, apart;
        ASSERT_TRUE(ktest::MakeNoise(img, 30, 20, kImgRgb16, 12));
        StateGuard a, b;
        ASSERT_EQ(ImgFftForward(&a.s, &img), 1);
        ASSERT_EQ(ImgFftForward(&b.s, &img), 1);
        ASSERT_EQ(ImgFftSpectrumImage(&a.s, &mask), 1);
        ASSERT_EQ(ImgFftSpectrumImage(&b.s, &apart), 1);
        mask.SetPixelRgb16(15, 10, 0, 0, 0);
        apart.SetPixelRgb16(15, 10, 0, 0, 0);
        CImgBuff out;
        ASSERT_EQ(ImgFftInverse(&a.s, &mask, level ? nullptr : &mask, level ? &mask : nullptr), 1);
        ASSERT_EQ(ImgFftInverse(&b.s, &out, level ? nullptr : &apart, level ? &apart : nullptr), 1);
        EXPECT_EQ(ktest::Block(mask), ktest::Block(out)) << level;
    }
}

TEST(ImageFft, Refusals) {
    CImgBuff img, tiny, none, out, wrong;
    ASSERT_TRUE(ktest::MakeNoise(img, 20, 10, kImgGray8, 1));
    ASSERT_TRUE(ktest::MakeNoise(tiny, 1, 1, kImgGray8, 1));
    ASSERT_TRUE(ktest::MakeNoise(wrong, 20, 11, kImgGray8, 1));
    StateGuard st;
    EXPECT_EQ(ImgFftForward(&st.s, &tiny), 0);
    EXPECT_EQ(ImgFftForward(&st.s, &none), 0);
    EXPECT_EQ(ImgFftForward(nullptr, &img), 0);
    EXPECT_EQ(ImgFftSpectrumImage(&st.s, &out), 0);  // empty state
    EXPECT_EQ(ImgFftInverse(&st.s, &out, nullptr, nullptr), 0);
    EXPECT_EQ(ImgFftReset(nullptr), 0);
    ASSERT_EQ(ImgFftForward(&st.s, &img), 1);
    const std::string before(reinterpret_cast<const char*>(st.s.array[0]), 32 * 32 * sizeof(FftComplex));
    const auto unchanged = [&] { return before == std::string(reinterpret_cast<const char*>(st.s.array[0]), before.size()); };
    // A level mask before any picture: the scale is 0.
    EXPECT_EQ(ImgFftInverse(&st.s, &out, nullptr, &img), 0);
    EXPECT_TRUE(unchanged());
    st.s.scale[0] = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(ImgFftInverse(&st.s, &out, nullptr, &img), 0);
    EXPECT_TRUE(unchanged());
    st.s.scale[0] = 0.5;
    EXPECT_EQ(ImgFftInverse(&st.s, &out, &img, &img), 0);  // both masks
    EXPECT_EQ(ImgFftInverse(&st.s, &out, &wrong, nullptr), 0);
    EXPECT_EQ(ImgFftInverse(&st.s, &out, nullptr, &wrong), 0);
    EXPECT_EQ(ImgFftInverse(&st.s, &out, &none, nullptr), 0);
    EXPECT_TRUE(unchanged());
    // A side too large for the transform's sizes.
    ImgFftState bad = st.s;
    bad.transformWidth = 3;
    EXPECT_EQ(ImgFftSpectrumImage(&bad, &out), 0);
    EXPECT_EQ(ImgFftInverse(&bad, &out, nullptr, nullptr), 0);
    // Transform sides whose array size does not fit are refused before
    // anything is touched.
    bad = st.s;
    bad.transformWidth = bad.transformHeight = 1 << 30;
    EXPECT_EQ(ImgFftSpectrumImage(&bad, &out), 0);
    EXPECT_EQ(ImgFftInverse(&bad, &out, nullptr, nullptr), 0);
    EXPECT_TRUE(unchanged());
    // A grey state is not reused for a colour image of the same pixel size.
    CImgBuff g32, cmyk;
    ASSERT_TRUE(ktest::MakeNoise(g32, 8, 8, kImgGray32, 2));
    ASSERT_TRUE(ktest::MakeNoise(cmyk, 8, 8, kImgCmyk8, 2));
    ASSERT_EQ(ImgFftForward(&st.s, &g32), 1);
    ASSERT_EQ(ImgFftForward(&st.s, &cmyk), 1);
    EXPECT_NE(st.s.array[1], nullptr);
    EXPECT_NE(st.s.array[2], nullptr);
    ASSERT_EQ(ImgFftSpectrumImage(&st.s, &out), 1);
    ASSERT_EQ(ImgFftForward(&st.s, &g32), 1);
    EXPECT_EQ(st.s.array[1], nullptr);
}

// A black image: all-zero spectrum, infinite scale; the picture shows the
// lowest display level in every depth and the inverse stays black.
TEST(ImageFft, BlackImage) {
    struct Case {
        int32_t format;
        int64_t level;
    };
    for (const Case c : {Case{kImgGray8, 1}, Case{kImgGray16, 256}, Case{kImgGray32, 65536}, Case{kImgRgb8, 1}, Case{kImgRgb16, 256},
                         Case{kImgRgb32, 65536}}) {
        CImgBuff img, pic, back;
        ASSERT_EQ(img.buffer->Create(24, 18, c.format), 1);
        StateGuard st;
        ASSERT_EQ(ImgFftForward(&st.s, &img), 1);
        ASSERT_EQ(ImgFftSpectrumImage(&st.s, &pic), 1);
        EXPECT_EQ(st.s.scale[0], std::numeric_limits<double>::infinity());
        for (int64_t v : Levels(pic)) ASSERT_EQ(v, c.level) << ImgFormatName(c.format);
        ASSERT_EQ(ImgFftInverse(&st.s, &back, nullptr, &pic), 1);
        EXPECT_EQ(ktest::Block(back), ktest::Block(img));
    }
}

// A hand-made 2 x 2 state whose inverse is the constant v: level mode
// truncates and clamps.
TEST(ImageFft, InverseLevelsClamp) {
    struct Case {
        int32_t format;
        double v;
        int64_t expected;
    };
    const Case cases[] = {{kImgGray8, 1000.0, 255}, {kImgGray8, -3.0, 0},       {kImgGray8, 0.5, 127},
                          {kImgGray16, 0.5, 32767}, {kImgGray32, 2.0, 4294967295}, {kImgRgb8, 0.999, 254},
                          {kImgGray16, std::numeric_limits<double>::quiet_NaN(), 0}};
    for (const Case& c : cases) {
        ImgFftState st{};
        st.format = c.format;
        st.width = st.height = st.transformWidth = st.transformHeight = 2;
        st.bytesPerPixel = g_ImgFormatBytes[c.format];
        const int channels = c.format >= kImgRgb8 ? 3 : 1;
        for (int ch = 0; ch < channels; ++ch) {
            st.array[ch] = static_cast<FftComplex*>(std::calloc(4, sizeof(FftComplex)));
            st.array[ch][3] = FftComplex{4 * c.v, 0};  // the centre, (1, 1)
        }
        CImgBuff out;
        ASSERT_EQ(ImgFftInverse(&st, &out, nullptr, nullptr), 1);
        for (int64_t v : Levels(out)) EXPECT_EQ(v, c.expected) << c.v;
        ImgFftReset(&st);
        EXPECT_EQ(st.format, 0);
        EXPECT_EQ(st.array[0], nullptr);
    }
}

}  // namespace
