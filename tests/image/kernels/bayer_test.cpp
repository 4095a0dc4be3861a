// Filter-array mosaics and demosaicking against a Python model written
// from the rules (slicing for mosaics, loops for the interpolations) and
// against OpenCV's bilinear demosaic on the interior.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "image/kernels/bayer.h"
#include "support/kernel_test_util.h"
#include "support/testsupport.h"

namespace {

std::string Model() { return kvtest::ReadFileBytes(std::string(KV_SOURCE_DIR) + "/tests/image/oracle/bayer_model.py"); }

struct Group {
    int32_t grey, colour, bits;
};
const Group kGroups[] = {{kImgGray8, kImgRgb8, 8}, {kImgGray16, kImgRgb16, 16}, {kImgGray32, kImgRgb32, 32}};

const double kGains[4] = {0.0, 1.5, 0.75, 2.0};

std::string GainsText(const double* g) { return g ? "[0, 1.5, 0.75, 2.0]" : "None"; }

TEST(Bayer, RefusalsLeaveTheImageUnchanged) {
    struct Case {
        const char* name;
        uint32_t mode, pattern;
        ImgRect region;
        bool useRegion;
    };
    const Case cases[] = {{"mode 3", 3, 0, {}, false},
                          {"pattern 6", 1, 6, {}, false},
                          {"one pixel wide", 1, 0, {4, 0, 4, 5}, true},
                          {"one pixel high", 2, 2, {0, 3, 7, 3}, true},
                          {"outside", 0, 2, {20, 20, 30, 30}, true}};
    for (int32_t f : {kImgGray8, kImgRgb16}) {
        CImgBuff img;
        ASSERT_TRUE(ktest::MakeNoise(img, 8, 6, f, 3));
        const std::string before = ktest::Block(img);
        for (const Case& c : cases) {
            EXPECT_EQ(ImgBayer(&img, c.mode, c.pattern, nullptr, c.useRegion ? &c.region : nullptr), 0) << c.name;
            EXPECT_EQ(img.buffer->format, f) << c.name;
            EXPECT_EQ(ktest::Block(img), before) << c.name;
        }
    }
    CImgBuff empty;
    EXPECT_EQ(ImgBayer(&empty, 1, 0, nullptr, nullptr), 0);
    EXPECT_EQ(ImgBayer(nullptr, 1, 0, nullptr, nullptr), 0);
}

// Whole colour images of every group become grey mosaics of the group,
// equal to numpy slicing, for all six patterns, with and without gains.
TEST(Bayer, MosaicMatchesSlicing) {
    const int32_t w = 14, h = 13;
    std::vector<std::string> inputs, results;
    std::string cases = "cases = [";
    for (const Group& g : kGroups)
        for (uint32_t pattern = 0; pattern < kBayerPatternCount; ++pattern)
            for (const double* gains : {static_cast<const double*>(nullptr), kGains}) {
                CImgBuff img;
                ASSERT_TRUE(ktest::MakeNoise(img, w, h, g.colour, 10 + pattern));
                inputs.push_back(ktest::Block(img));
                ASSERT_EQ(ImgBayer(&img, 0, pattern, gains, nullptr), 1);
                ASSERT_EQ(img.buffer->format, g.grey);
                results.push_back(ktest::Block(img));
                cases += "(" + std::to_string(g.bits) + ", " + std::to_string(pattern) + ", " + GainsText(gains) + "),";
            }
    const std::string script = Model() + cases + "]\n" + R"(
out = b''
for i, (bits, pattern, gains) in enumerate(cases):
    dt = {8: np.uint8, 16: np.uint16, 32: np.uint32}[bits]
    rgb = np.fromfile(sys.argv[1 + i], dt).reshape(13, 14, 3)
    out += mosaic(rgb, pattern, gains, (1 << bits) - 1).astype(dt).tobytes()
open(sys.argv[-1], 'wb').write(out)
)";
    ktest::ExpectConcatenated(results, ktest::RunNumpy(script, inputs));
}

TEST(Bayer, MosaicCases) {
    // RGGB, uniform (200, 100, 50): 200 where x and y are even, 50 where
    // both are odd, 100 elsewhere; a red gain of 2 makes 201 into 101.
    CImgBuff img;
    ASSERT_TRUE(img.buffer->Create(6, 4, kImgRgb8));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) img.SetPixelRgb8(x, y, 200, 100, 50);
    CImgBuff copy;
    copy.CopyFrom(&img);
    ASSERT_EQ(ImgBayer(&img, 0, 2, nullptr, nullptr), 1);
    ASSERT_EQ(img.buffer->format, kImgGray8);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) EXPECT_EQ(*img.buffer->PixelAt(x, y), x % 2 == 0 && y % 2 == 0 ? 200 : x % 2 && y % 2 ? 50 : 100);
    const double red2[4] = {0, 2.0, 1.0, 1.0};
    copy.SetPixelRgb8(0, 0, 201, 0, 0);
    CImgBuff g;
    g.CopyFrom(&copy);
    ASSERT_EQ(ImgBayer(&g, 0, 2, red2, nullptr), 1);
    EXPECT_EQ(*g.buffer->PixelAt(0, 0), 101);

    // A zero gain divides 0 into NaN (stored as 0) and anything else into
    // infinity (the largest value).
    const double zero[4] = {0, 0.0, 1.0, 1.0};
    g.CopyFrom(&copy);
    g.SetPixelRgb8(2, 0, 0, 7, 7);
    ASSERT_EQ(ImgBayer(&g, 0, 2, zero, nullptr), 1);
    EXPECT_EQ(*g.buffer->PixelAt(0, 0), 255);
    EXPECT_EQ(*g.buffer->PixelAt(2, 0), 0);

    // A partial region keeps the colour format; its pixels become grey.
    CImgBuff part;
    ASSERT_TRUE(ktest::MakeNoise(part, 9, 7, kImgRgb16, 4));
    CImgBuff before;
    before.CopyFrom(&part);
    const ImgRect roi{2, 1, 5, 4};
    ASSERT_EQ(ImgBayer(&part, 0, 1, nullptr, &roi), 1);
    ASSERT_EQ(part.buffer->format, kImgRgb16);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x) {
            uint16_t r, gg, b, r0, g0, b0;
            part.GetPixelRgb16(x, y, &r, &gg, &b);
            before.GetPixelRgb16(x, y, &r0, &g0, &b0);
            if (x < 2 || x > 5 || y < 1 || y > 4) {
                EXPECT_TRUE(r == r0 && gg == g0 && b == b0) << x << "," << y;
                continue;
            }
            EXPECT_TRUE(r == gg && gg == b) << x << "," << y;
            const int code = g_BayerPatterns[1].cells[(y % 2) * 2 + x % 2];
            EXPECT_EQ(r, code == kBayerRed ? r0 : code == kBayerGreen ? g0 : b0);
        }

    // Cells without a filter are 0; a whole grey image stays grey.
    CImgBuff x4;
    ASSERT_TRUE(ktest::MakeFrom<uint16_t>(x4, 6, 6, kImgGray16, std::vector<uint16_t>(36, 5000)));
    ASSERT_EQ(ImgBayer(&x4, 0, 5, nullptr, nullptr), 1);
    ASSERT_EQ(x4.buffer->format, kImgGray16);
    for (int i = 0; i < 36; ++i)
        EXPECT_EQ(ktest::Values<uint16_t>(x4)[i], g_BayerPatterns[5].cells[i] == kBayerNone ? 0 : 5000) << i;
}

// Modes 1 and 2 for every group, pattern, a whole and a partial region, and
// without and with gains, from grey mosaics and from an RGB16 image read as
// its weighted grey; and a tall image, whose rows the adaptive mode splits
// into bands.
TEST(Bayer, DemosaicMatchesModel) {
    std::vector<std::string> inputs, results;
    std::string cases = "cases = [";
    struct Source {
        int32_t format, bits;
        bool grey;
    };
    const auto add = [&](uint32_t mode, const Source& s, uint32_t pattern, int32_t w, int32_t h, const ImgRect* region,
                         const double* gains) {
        CImgBuff img;
        ASSERT_TRUE(ktest::MakeNoise(img, w, h, s.format, 40 + pattern));
        inputs.push_back(ktest::Block(img));
        ASSERT_EQ(ImgBayer(&img, mode, pattern, gains, region), 1);
        ASSERT_EQ(img.buffer->format, s.bits == 8 ? kImgRgb8 : s.bits == 16 ? kImgRgb16 : kImgRgb32);
        results.push_back(ktest::Block(img));
        const ImgRect r = region ? *region : ImgRect{0, 0, w - 1, h - 1};
        char text[200];
        std::snprintf(text, sizeof text, "(%u, %d, %s, %u, %d, %d, (%d, %d, %d, %d), %s),", mode, s.bits, s.grey ? "True" : "False",
                      pattern, w, h, r.x0, r.y0, r.x1, r.y1, GainsText(gains).c_str());
        cases += text;
    };
    // Wide enough for the vector interiors of 8-bit rows.
    const ImgRect part{2, 1, 37, 8};
    const Source sources[] = {{kImgGray8, 8, true}, {kImgGray16, 16, true}, {kImgGray32, 32, true}, {kImgRgb16, 16, false}};
    for (uint32_t mode : {1u, 2u})
        for (const Source& s : sources)
            for (uint32_t pattern = 0; pattern < kBayerPatternCount; ++pattern)
                for (bool whole : {true, false})
                    for (const double* gains : {static_cast<const double*>(nullptr), kGains})
                        add(mode, s, pattern, 41, 11, whole ? nullptr : &part, gains);
    const ImgRect tall{1, 3, 18, 66};
    for (uint32_t pattern : {1u, 4u}) {
        add(2, sources[0], pattern, 20, 70, nullptr, nullptr);
        add(2, sources[1], pattern, 20, 70, &tall, kGains);
    }
    const std::string script = Model() + cases + "]\n" + R"(
WIDEN = {8: 16843009, 16: 65537, 32: 1}
def weighted(r, g, b):
    return (299 * r + 587 * g + 114 * b + 500) // 1000
out = b''
for i, (mode, bits, grey, pattern, w, h, region, gains) in enumerate(cases):
    dt = {8: np.uint8, 16: np.uint16, 32: np.uint32}[bits]
    top = (1 << bits) - 1
    raw = np.fromfile(sys.argv[1 + i], dt).astype(np.uint64)
    xtrans = mode == 1 and pattern >= 4
    if grey:
        m = raw.reshape(h, w)
        full = np.repeat(m[:, :, None], 3, axis=2)
        if xtrans:
            m = m * WIDEN[bits]
    else:
        full = raw.reshape(h, w, 3)
        r, g, b = full[:, :, 0], full[:, :, 1], full[:, :, 2]
        k = WIDEN[bits] if xtrans else 1
        m = weighted(r * k, g * k, b * k)
    if mode == 1:
        res = linear(m, pattern, gains, top, region)
        if xtrans:
            res = res >> (32 - bits)
    else:
        res = acpi(m, pattern, gains, top, region)
    x0, y0, x1, y1 = region
    full = full.copy()
    full[y0:y1 + 1, x0:x1 + 1] = res
    out += full.astype(dt).tobytes()
open(sys.argv[-1], 'wb').write(out)
)";
    ktest::ExpectConcatenated(results, ktest::RunNumpy(script, inputs));
}

// OpenCV's bilinear demosaic agrees on the interior (OpenCV names a layout
// by the second row's second and third cells: RGGB is its BayerBG).
TEST(Bayer, LinearMatchesOpenCvInside) {
    const int32_t w = 40, h = 30;
    const char* names[4] = {"GB", "GR", "BG", "RG"};
    std::vector<std::string> inputs, results;
    std::string cases = "cases = [";
    for (int32_t f : {kImgGray8, kImgGray16})
        for (uint32_t pattern = 0; pattern < 4; ++pattern) {
            CImgBuff img;
            ASSERT_TRUE(ktest::MakeNoise(img, w, h, f, 70 + pattern));
            inputs.push_back(ktest::Block(img));
            ASSERT_EQ(ImgBayer(&img, 1, pattern, nullptr, nullptr), 1);
            // The interior only.
            CImgBuff inner;
            ASSERT_EQ(img.ExtractRect(&inner, 1, 1, w - 2, h - 2), 1);
            results.push_back(ktest::Block(inner));
            cases += std::string("(") + (f == kImgGray8 ? "np.uint8" : "np.uint16") + ", cv2.COLOR_Bayer" + names[pattern] + "2RGB),";
        }
    const std::string script = "import cv2\n" + cases + "]\n" + R"(
out = b''
for i, (dt, code) in enumerate(cases):
    m = np.fromfile(sys.argv[1 + i], dt).reshape(30, 40)
    out += cv2.cvtColor(m, code)[1:-1, 1:-1].tobytes()
open(sys.argv[-1], 'wb').write(out)
)";
    ktest::ExpectConcatenated(results, ktest::RunNumpy(script, inputs));
}

// A uniform colour mosaicked and demosaicked comes back everywhere,
// borders included, in modes 1 and 2, with no gains and with gains of 1.
TEST(Bayer, UniformColourRoundTrips) {
    const double ones[4] = {0, 1.0, 1.0, 1.0};
    for (const Group& g : kGroups)
        for (uint32_t pattern = 0; pattern < 4; ++pattern)
            for (uint32_t mode : {1u, 2u})
                for (const double* gains : {static_cast<const double*>(nullptr), ones}) {
                    CImgBuff img;
                    ASSERT_TRUE(img.buffer->Create(9, 7, g.colour));
                    for (int y = 0; y < 7; ++y)
                        for (int x = 0; x < 9; ++x) img.SetPixelRgb8(x, y, 200, 100, 50);
                    const std::string colour = ktest::Block(img);
                    ASSERT_EQ(ImgBayer(&img, 0, pattern, gains, nullptr), 1);
                    ASSERT_EQ(ImgBayer(&img, mode, pattern, gains, nullptr), 1);
                    EXPECT_EQ(ktest::Block(img), colour) << g.bits << " pattern " << pattern << " mode " << mode;
                }
}

// On a smooth picture the adaptive interpolation is at least as close to the
// original as the linear one.
TEST(Bayer, AdaptiveIsNoWorseOnSmoothPictures) {
    CImgBuff original;
    ASSERT_TRUE(original.buffer->Create(96, 64, kImgRgb8));
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 96; ++x) {
            const auto c = [&](double p) { return uint8_t(127.5 + 120 * std::sin(0.11 * x + 0.07 * y + p)); };
            original.SetPixelRgb8(x, y, c(0), c(1.3), c(2.9));
        }
    const auto psnr = [&](uint32_t mode) {
        CImgBuff img;
        img.CopyFrom(&original);
        EXPECT_EQ(ImgBayer(&img, 0, 0, nullptr, nullptr), 1);
        EXPECT_EQ(ImgBayer(&img, mode, 0, nullptr, nullptr), 1);
        const std::string a = ktest::Block(img), b = ktest::Block(original);
        double se = 0;
        for (size_t i = 0; i < a.size(); ++i) se += std::pow(double(uint8_t(a[i])) - uint8_t(b[i]), 2);
        return 10 * std::log10(255.0 * 255.0 / (se / a.size()));
    };
    const double linear = psnr(1), adaptive = psnr(2);
    EXPECT_GE(adaptive, linear);
    EXPECT_GT(linear, 25.0);
}

}  // namespace
