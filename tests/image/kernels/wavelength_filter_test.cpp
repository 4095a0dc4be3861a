// The wavelength colour filter against the Python model of the pixel
// accessors and format conversions: every output and gain mode over a
// region, in several formats; refusals.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "image/colour.h"
#include "image/kernels/wavelength_filter.h"
#include "support/kernel_test_util.h"
#include "support/testsupport.h"

namespace {

std::string PixelRules() { return kvtest::ReadFileBytes(std::string(KV_SOURCE_DIR) + "/tests/image/oracle/pixel_rules.py"); }

TEST(WavelengthFilter, MatchesAccessorModel) {
    struct Case {
        int32_t format;
        double nm;
        uint32_t out, gainMode;
        double gain;
        bool whole;
        int32_t resultFormat;
    };
    const Case cases[] = {
        {kImgRgb8, 550, 1, 0, 1.0, false, kImgRgb8},    {kImgRgb16, 600, 2, 1, 1.0, false, kImgGray16},
        {kImgGray8, 500, 0, 1, 1.0, false, kImgGray8},  {kImgGray8, 500, 0, 2, 1.0, false, kImgGray8},
        {kImgGray16, 450, 0, 3, 1.8, true, kImgGray16}, {kImgGray8, 580.5, 1, 0, 1.0, false, kImgRgb8},
        {kImgRgb8, 0, 1, 0, 1.0, false, kImgRgb8},      {kImgRgb8, 900, 2, 1, 1.0, false, kImgGray8},
        {kImgXyz, 530, 1, 2, 1.0, false, kImgXyz},      {kImgCmyk8, 620, 2, 2, 1.0, true, kImgGray8},
        {kImgHsv16, 480, 2, 0, 1.0, false, kImgGray16}, {kImgGray32, 560, 2, 1, 1.0, false, kImgGray32},
        {kImgRgb32, 505, 1, 3, 1.0, true, kImgRgb32},
    };
    const int32_t w = 11, h = 7;
    const ImgRect roi{2, 1, 8, 5};
    std::vector<std::string> inputs, results;
    std::string list = "cases = [";
    for (const Case& c : cases) {
        CImgBuff img;
        ASSERT_TRUE(ktest::MakeNoise(img, w, h, c.format, uint32_t(c.nm)));
        inputs.push_back(ktest::Block(img));
        ASSERT_EQ(ImgWavelengthFilter(&img, c.nm, c.out, c.gainMode, c.gain, c.whole ? nullptr : &roi), 1) << c.nm;
        ASSERT_EQ(img.buffer->format, c.resultFormat) << c.nm;
        results.push_back(ktest::Block(img));
        // The filter colour from the colour foundation.
        double x, y, z, r, g, b;
        ImgWavelengthToXyz(c.nm, &x, &y, &z);
        ImgXyzToSrgb(x, y, z, &r, &g, &b);
        char text[256];
        std::snprintf(text, sizeof text, "(%d, %.17g, %.17g, %.17g, %u, %u, %.17g, %s),", c.format, r, g, b, c.out, c.gainMode, c.gain,
                      c.whole ? "(0, 0, 10, 6)" : "(2, 1, 8, 5)");
        list += text;
    }
    const std::string script = PixelRules() + list + "]\n" + R"(
DT = {1: (np.uint8, 1), 2: (np.uint16, 1), 3: (np.uint32, 1), 4: (np.uint8, 3), 5: (np.uint16, 3),
      6: (np.uint32, 3), 7: (np.float64, 3), 8: (np.uint16, 3), 9: (np.uint8, 4)}
GREY = {1: 1, 4: 1, 9: 1, 2: 2, 5: 2, 8: 2, 3: 3, 6: 3, 7: 3}
out = b''
for i, (fmt, R, G, B, mode, gm, gain, region) in enumerate(cases):
    dt, ch = DT[fmt]
    a = np.fromfile(sys.argv[1 + i], dt).reshape(7, 11, ch)
    px = [[tuple(v.item() for v in a[y, x]) for x in range(11)] for y in range(7)]
    L = 0.299 * R + 0.587 * G + 0.114 * B
    g = 1.0
    if mode == 0:
        g = {1: 1.0 / L if L > 0 else 1.0, 2: L, 3: gain}[gm]
    elif mode == 2 and gm == 1 and L > 0:
        g = 1.0 / L
    if mode == 1 and fmt <= 3:
        px = [[convert(fmt, fmt + 3, p) for p in row] for row in px]
        fmt += 3
    x0, y0, x1, y1 = region
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            p = px[y][x]
            if mode == 0:
                v = min(get_grey_double(fmt, p) * g, 1.0)
                px[y][x] = set_rgb_double(fmt, v, v, v)
            elif mode == 1:
                r, gg, b = get_rgb_double(fmt, p)
                px[y][x] = set_rgb_double(fmt, r * R, gg * G, b * B)
            else:
                r, gg, b = get_rgb_double(fmt, p)
                v = min((0.299 * r * R + 0.587 * gg * G + 0.114 * b * B) * g, 1.0)
                px[y][x] = set_rgb_double(fmt, v, v, v)
    if mode == 2 and fmt >= 4:
        px = [[convert(fmt, GREY[fmt], p) for p in row] for row in px]
        fmt = GREY[fmt]
    out += np.array(px, DT[fmt][0]).tobytes()
open(sys.argv[-1], 'wb').write(out)
)";
    ktest::ExpectConcatenated(results, ktest::RunNumpy(script, inputs));
}

TEST(WavelengthFilter, RefusalsAndNothingToDo) {
    CImgBuff grey, colour, empty;
    ASSERT_TRUE(ktest::MakeNoise(grey, 6, 5, kImgGray8, 1));
    ASSERT_TRUE(ktest::MakeNoise(colour, 6, 5, kImgRgb16, 2));
    const std::string g0 = ktest::Block(grey), c0 = ktest::Block(colour);
    const ImgRect outside{20, 20, 30, 30};
    struct Case {
        CImgBuff* image;
        double nm;
        uint32_t out, gainMode;
        double gain;
        const ImgRect* region;
        int32_t result;
    };
    const Case cases[] = {
        {&grey, -1.0, 1, 0, 1.0, nullptr, 0},    {&grey, 550, 3, 0, 1.0, nullptr, 0},   {&grey, 550, 1, 4, 1.0, nullptr, 0},
        {&grey, 550, 0, 3, -0.5, nullptr, 0},    {&colour, 550, 0, 3, -0.5, nullptr, 0}, {&grey, 550, 1, 0, 1.0, &outside, 0},
        {&grey, 550, 0, 0, 1.0, nullptr, 1},     {&grey, 0.0, 0, 1, 1.0, nullptr, 1},   {&colour, 550, 0, 2, 1.0, nullptr, 1},
        {&empty, -1.0, 5, 9, -1.0, nullptr, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ImgWavelengthFilter(c.image, c.nm, c.out, c.gainMode, c.gain, c.region), c.result) << c.nm << " " << c.out;
        EXPECT_EQ(ktest::Block(grey), g0);
        EXPECT_EQ(ktest::Block(colour), c0);
        EXPECT_EQ(grey.buffer->format, kImgGray8);
    }
    EXPECT_EQ(ImgWavelengthFilter(nullptr, 550, 1, 0, 1.0, nullptr), 0);
    // Gain mode 2 never brightens; gain mode 1 clamps at white.
    CImgBuff dim, bright;
    dim.CopyFrom(&grey);
    bright.CopyFrom(&grey);
    ASSERT_EQ(ImgWavelengthFilter(&dim, 470, 0, 2, 0, nullptr), 1);
    ASSERT_EQ(ImgWavelengthFilter(&bright, 470, 0, 1, 0, nullptr), 1);
    const std::string d = ktest::Block(dim), b = ktest::Block(bright);
    for (size_t i = 0; i < g0.size(); ++i) {
        EXPECT_LE(uint8_t(d[i]), uint8_t(g0[i]));
        EXPECT_GE(uint8_t(b[i]), uint8_t(g0[i]));
    }
}

}  // namespace
