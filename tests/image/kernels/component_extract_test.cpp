// Colour-component extraction: every code, with and without colour, in every
// pixel format, against the Python model of the pixel accessors; the
// refusals and the documented pixel cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "image/colour.h"
#include "image/kernels/component_extract.h"
#include "support/kernel_test_util.h"
#include "support/testsupport.h"

namespace {

std::string PixelRules() { return kvtest::ReadFileBytes(std::string(KV_SOURCE_DIR) + "/tests/image/oracle/pixel_rules.py"); }

// The component rules written over the accessor model.
const char* kComponentModel = R"(
TWO_PI = 6.283185307179586
DT = {1: (np.uint8, 1), 2: (np.uint16, 1), 3: (np.uint32, 1), 4: (np.uint8, 3), 5: (np.uint16, 3),
      6: (np.uint32, 3), 7: (np.float64, 3), 8: (np.uint16, 3), 9: (np.uint8, 4)}
BITS = {1: 8, 4: 8, 9: 8, 2: 16, 5: 16, 8: 16, 3: 32, 6: 32, 7: 32}

def trunc_u32(v):
    if not (v > 0):
        return 0
    return 4294967295 if v >= U32 else int(math.trunc(v))

def encode(v, lo, hi):
    if not (v > lo):
        v = lo
    if v > hi:
        v = hi
    return trunc_u32((v - lo) / (hi - lo) * U32)

def encode_hue(v):
    if not math.isfinite(v):
        return 0
    while v > TWO_PI:
        v -= TWO_PI
    while v < 0:
        v += TWO_PI
    return trunc_u32(v / TWO_PI * U32)

def rgb32_to_hsv32(r, g, b):
    mx, mn = max(r, g, b), min(r, g, b)
    d = float(mx) - mn
    h = 0
    if mx != mn:
        if r == mx:
            h = int((float(g) - b) * 715827882.0 / d + U32) % 4294967295
        elif g == mx:
            h = int((float(b) - r) * 715827882.0 / d) + 1431655764
        else:
            h = int((float(r) - g) * 715827882.0 / d) + 2863311528
    s = 0 if mx == 0 else trunc_u32(d * 4294967294.0 / mx)
    return h, s, mx

def hsv32_to_rgb32(h, s, v):
    if s == 0:
        return v, v, v
    hh = h / 715827882.0
    i = int(hh)
    f = hh - i
    ss = s / 4294967294.0
    rnd = lambda x: trunc_u32(x + 0.5)
    p, q, t = rnd((1 - ss) * v), rnd((1 - ss * f) * v), rnd((1 - (1 - f) * ss) * v)
    return [(v, t, p), (q, v, p), (p, v, t), (p, q, v), (t, p, v), (v, p, q)][i % 6]

def component(fmt, px, code, colour):
    bits = BITS[fmt]
    T = MAXV[bits]
    grey = lambda v: write_grey(fmt, v, bits)
    rgb = lambda c: write_colour(fmt, c, bits, True)
    if code == 1:
        return grey(grey_at(fmt, px, bits))
    if code in (2, 3, 4):
        c, ch = colour_at(fmt, px, bits), code - 2
        return rgb([c[k] if k == ch else 0 for k in range(3)]) if colour else grey(c[ch])
    if code in (5, 6, 7):
        if bits < 32:
            h, s, v = get_hsv16(fmt, px)
            if code == 7 or not colour:
                return write_grey(fmt, {5: h, 6: s, 7: v}[code], 16)
            return set_hsv16(fmt, h, 65535, 65535) if code == 5 else set_hsv16(fmt, 0, s, 65535)
        h, s, v = rgb32_to_hsv32(*colour_at(fmt, px, 32))
        if code == 7 or not colour:
            return write_grey(fmt, {5: h, 6: s, 7: v}[code], 32)
        c = hsv32_to_rgb32(h, T, T) if code == 5 else hsv32_to_rgb32(0, s, T)
        return write_colour(fmt, c, 32, True)
    if code in (8, 9, 10):
        c, ch = colour_at(fmt, px, bits), code - 8
        return rgb([c[k] if k == ch else T for k in range(3)]) if colour else grey(T - c[ch])
    if code in (11, 12, 13, 14):
        ink = code - 11
        if bits == 8:
            k = get_cmyk8(fmt, px)
            return set_cmyk8(fmt, *[k[j] if j == ink else 0 for j in range(4)]) if colour else grey(k[ink])
        c = colour_at(fmt, px, bits)
        mx = max(c)
        v = T - mx if ink == 3 else mx - c[ink]
        if not colour:
            return grey(v)
        if ink == 3:
            return rgb([T - v] * 3)
        return rgb([T - v if j == ink else T for j in range(3)])
    x, y, z = get_xyz(fmt, px)
    if code <= 17:
        xyz = [x, y, z]
        ch = code - 15
        if colour:
            return set_xyz(fmt, *[xyz[j] if j == ch else 0.0 for j in range(3)])
        return write_grey(fmt, encode(xyz[ch], 0.0, 1.1), 32)
    l, a, b = xyz_to_lab(x, y, z)
    if code == 18:
        return set_lab(fmt, l, 0.0, 0.0) if colour else write_grey(fmt, encode(l, 0.0, 100.0), 32)
    if code == 19:
        return set_lab(fmt, 50.0, a, 0.0) if colour else write_grey(fmt, encode(a, -128.0, 127.0), 32)
    if code == 20:
        return set_lab(fmt, 50.0, 0.0, b) if colour else write_grey(fmt, encode(b, -128.0, 127.0), 32)
    if code == 21:
        c = math.sqrt(a * a + b * b)
        return set_lch(fmt, 100.0, c, 0.0) if colour else write_grey(fmt, encode(c, 0.0, 135.0), 32)
    h = math.atan2(b, a)
    while h > TWO_PI:
        h -= TWO_PI
    while h < 0:
        h += TWO_PI
    return set_lch(fmt, 50.0, 135.0, h) if colour else write_grey(fmt, encode_hue(h), 32)
)";

// Every code and flag in every format over a region, against the model;
// pixels outside the region are unchanged. Refused combinations are left
// out (they are tested below).
TEST(ExtractComponent, MatchesAccessorModel) {
    // Wide enough for the 16-pixel vector steps of RGB8 rows.
    const int32_t w = 40, h = 6;
    const ImgRect roi{1, 1, 37, 4};
    std::vector<std::string> inputs, results;
    std::string cases = "cases = [";
    for (int32_t f : ktest::kAllFormats) {
        CImgBuff source;
        ASSERT_TRUE(ktest::MakeNoise(source, w, h, f, uint32_t(60 + f)));
        // A neutral pixel and black, where hue and chroma are degenerate.
        if (f >= kImgRgb8) {
            source.SetPixelRgb8(2, 2, 90, 90, 90);
            source.SetPixelRgb8(3, 2, 0, 0, 0);
        }
        inputs.push_back(ktest::Block(source));
        for (int32_t code = 1; code <= 22; ++code)
            for (int colour : {0, 1}) {
                if (colour && f <= kImgGray32) continue;
                CImgBuff img;
                img.CopyFrom(&source);
                ASSERT_EQ(ImgExtractComponent(&img, code, colour, &roi), 1) << code << " " << ImgFormatName(f);
                results.push_back(ktest::Block(img));
                cases += "(" + std::to_string(inputs.size() - 1) + ", " + std::to_string(f) + ", " + std::to_string(code) + ", " +
                         std::to_string(colour) + "),";
            }
    }
    const std::string script = PixelRules() + kComponentModel + cases + "]\n" + R"(
out = b''
for i, fmt, code, colour in cases:
    dt, ch = DT[fmt]
    a = np.fromfile(sys.argv[1 + i], dt).reshape(6, 40, ch).copy()
    for y in range(1, 5):
        for x in range(1, 38):
            px = tuple(v.item() for v in a[y, x])
            a[y, x] = component(fmt, px, code, colour)
    out += a.tobytes()
open(sys.argv[-1], 'wb').write(out)
)";
    ktest::ExpectConcatenated(results, ktest::RunNumpy(script, inputs));
}

// The L* of every 8-bit grey and of a spread of colours against the full
// conversion (the RGB8 rows use a table of Y intervals).
TEST(ExtractComponent, Rgb8LightnessEqualsFullConversion) {
    const int32_t w = 1024, h = 1024;
    CImgBuff img;
    ASSERT_TRUE(img.buffer->Create(w, h, kImgRgb8));
    uint32_t s = 1;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            s = s * 1103515245u + 12345u;
            if (y == 0) img.SetPixelRgb8(x, y, uint8_t(x), uint8_t(x), uint8_t(x));
            else img.SetPixelRgb8(x, y, uint8_t(s >> 24), uint8_t(s >> 16), uint8_t(s >> 8));
        }
    CImgBuff copy;
    copy.CopyFrom(&img);
    ASSERT_EQ(ImgExtractComponent(&img, kComponentLightness, 0, nullptr), 1);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double l, a, b;
            copy.GetPixelLab(x, y, &l, &a, &b);
            const uint8_t expect = uint8_t(ImgEncodeLightnessU32(l) >> 24);
            uint8_t r, g, bl;
            img.GetPixelRgb8(x, y, &r, &g, &bl);
            ASSERT_TRUE(r == expect && g == expect && bl == expect) << x << "," << y;
        }
}

// Grey and saturation of every 8-bit colour against the integer rules (the
// RGB8 rows compute them by vector arithmetic of their own).
TEST(ExtractComponent, Rgb8GreyAndSaturationOfEveryColour) {
    CImgBuff all;
    ASSERT_TRUE(all.buffer->Create(4096, 4096, kImgRgb8));
    uint8_t* p = all.buffer->pixels;
    for (uint32_t c = 0; c < (1u << 24); ++c, p += 3) p[0] = uint8_t(c >> 16), p[1] = uint8_t(c >> 8), p[2] = uint8_t(c);
    for (int32_t code : {kComponentGrey, kComponentSaturation}) {
        CImgBuff img;
        img.CopyFrom(&all);
        ASSERT_EQ(ImgExtractComponent(&img, code, 0, nullptr), 1);
        const uint8_t* q = img.buffer->pixels;
        for (uint32_t c = 0; c < (1u << 24); ++c, q += 3) {
            const uint32_t r = c >> 16, g = (c >> 8) & 255, b = c & 255;
            const uint32_t mx = std::max(r, std::max(g, b)), mn = std::min(r, std::min(g, b));
            const uint32_t expect = code == kComponentGrey ? (299 * r + 587 * g + 114 * b + 500) / 1000
                                                           : mx == 0 ? 0 : (mx - mn) * 257 * 65534 / (mx * 257) >> 8;
            if (q[0] != expect || q[1] != expect || q[2] != expect) {
                ADD_FAILURE() << code << ": " << r << "," << g << "," << b << " gave " << int(q[0]) << " not " << expect;
                break;
            }
        }
    }
}

TEST(ExtractComponent, RefusalsAndNoOps) {
    CImgBuff grey, colour, empty;
    ASSERT_TRUE(ktest::MakeNoise(grey, 5, 4, kImgGray16, 1));
    ASSERT_TRUE(ktest::MakeNoise(colour, 5, 4, kImgRgb8, 2));
    const std::string g0 = ktest::Block(grey), c0 = ktest::Block(colour);
    const ImgRect outside{10, 10, 20, 20};
    struct Case {
        CImgBuff* image;
        int32_t code, colourise;
        const ImgRect* region;
        int32_t result;
    };
    const Case cases[] = {{&colour, 0, 0, nullptr, 0}, {&colour, -1, 0, nullptr, 0}, {&colour, 23, 0, nullptr, 0},
                          {&grey, 2, 1, nullptr, 0},   {&empty, 1, 1, nullptr, 0},   {&empty, 1, 0, nullptr, 0},
                          {&colour, 1, 0, &outside, 0}, {&grey, 1, 0, nullptr, 1},   {&grey, 2, 0, nullptr, 1},
                          {&grey, 3, 0, nullptr, 1},   {&grey, 4, 0, nullptr, 1},    {&grey, 7, 0, nullptr, 1},
                          {&grey, 0, 0, nullptr, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(ImgExtractComponent(c.image, c.code, c.colourise, c.region), c.result) << c.code;
        EXPECT_EQ(ktest::Block(grey), g0);
        EXPECT_EQ(ktest::Block(colour), c0);
    }
    EXPECT_EQ(ImgExtractComponent(nullptr, 1, 0, nullptr), 0);
}

TEST(ExtractComponent, DocumentedPixels) {
    struct Case {
        int32_t code, colourise;
        uint8_t r, g, b;
    };
    // (200, 10, 30): K = 55, C = 0, M = 190, Y = 170.
    const Case cases[] = {{2, 0, 200, 200, 200}, {2, 1, 200, 0, 0},  {8, 0, 55, 55, 55},      {8, 1, 200, 255, 255},
                          {11, 0, 0, 0, 0},      {12, 0, 190, 190, 190}, {12, 1, 255, 65, 255}, {14, 0, 55, 55, 55},
                          {1, 1, 69, 69, 69},    {7, 1, 200, 200, 200}};
    for (const Case& c : cases) {
        CImgBuff img;
        ASSERT_TRUE(ktest::MakeFrom<uint8_t>(img, 1, 1, kImgRgb8, {200, 10, 30}));
        ASSERT_EQ(ImgExtractComponent(&img, c.code, c.colourise, nullptr), 1);
        EXPECT_EQ(ktest::Values<uint8_t>(img), (std::vector<uint8_t>{c.r, c.g, c.b})) << c.code << " " << c.colourise;
    }
    // a* of every neutral 8-bit pixel encodes near 0x80808080: grey 128;
    // the hue angle of black is 0.
    CImgBuff neutral;
    ASSERT_TRUE(neutral.buffer->Create(256, 1, kImgRgb8));
    for (int v = 0; v < 256; ++v) neutral.SetPixelRgb8(v, 0, v, v, v);
    ASSERT_EQ(ImgExtractComponent(&neutral, kComponentA, 0, nullptr), 1);
    for (uint8_t v : ktest::Values<uint8_t>(neutral)) EXPECT_EQ(v, 128);
    CImgBuff black;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(black, 1, 1, kImgRgb8, {0, 0, 0}));
    ASSERT_EQ(ImgExtractComponent(&black, kComponentHueAngle, 0, nullptr), 1);
    EXPECT_EQ(ktest::Values<uint8_t>(black), (std::vector<uint8_t>{0, 0, 0}));
    // Grey images: hue and saturation 0, the complements and K the negative,
    // C, M, Y 0.
    for (int32_t code : {5, 6, 8, 9, 10, 11, 12, 13, 14}) {
        CImgBuff g;
        ASSERT_TRUE(ktest::MakeFrom<uint16_t>(g, 2, 1, kImgGray16, {1000, 65535}));
        ASSERT_EQ(ImgExtractComponent(&g, code, 0, nullptr), 1);
        const bool negative = (code >= 8 && code <= 10) || code == 14;
        const std::vector<uint16_t> expect = negative ? std::vector<uint16_t>{64535, 0} : std::vector<uint16_t>{0, 0};
        EXPECT_EQ(ktest::Values<uint16_t>(g), expect) << code;
    }
    // NaN samples of an XYZ image encode as the low end, not as an
    // undefined conversion.
    CImgBuff xyz;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    ASSERT_TRUE(ktest::MakeFrom<double>(xyz, 1, 1, kImgXyz, {nan, nan, nan}));
    for (int32_t code = 15; code <= 22; ++code) {
        CImgBuff img, zero;
        img.CopyFrom(&xyz);
        zero.CopyFrom(&xyz);
        zero.SetPixelGray32(0, 0, 0);
        ASSERT_EQ(ImgExtractComponent(&img, code, 0, nullptr), 1);
        EXPECT_EQ(ktest::Block(img), ktest::Block(zero)) << code;
    }
}

}  // namespace
