// Colour arithmetic: sRGB/XYZ, L*a*b*, HSV16/HSV32, the 32-bit encodings
// and wavelength -> XYZ.
#include <gtest/gtest.h>

#include <random>

#include <cmath>
#include <algorithm>
#include <array>
#include <limits>

#include "image/colour.h"

namespace {

constexpr double kPi = 3.141592653589793;
const double kNan = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

TEST(Colour, Rgb16ToHsv16WorkedValues) {
    struct {
        uint16_t r, g, b, h, s, v;
    } cases[] = {
        {65535, 0, 0, 0, 65534, 65535},
        {0, 65535, 0, 21844, 65534, 65535},
        {0, 0, 65535, 43688, 65534, 65535},
        {65535, 0, 1, 0, 65534, 65535},          // h = -10922 / 65535 truncates to 0
        {1000, 1000, 1000, 0, 0, 1000},          // grey
        {65535, 0, 65535, 54613, 65534, 65535},  // red tested before blue on a tie
        {0, 0, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        uint16_t h, s, v;
        ImgRgb16ToHsv16(c.r, c.g, c.b, &h, &s, &v);
        EXPECT_EQ(h, c.h) << c.r << "," << c.g << "," << c.b;
        EXPECT_EQ(s, c.s);
        EXPECT_EQ(v, c.v);
    }
    uint16_t r, g, b;
    ImgHsv16ToRgb16(0, 0, 500, &r, &g, &b);
    EXPECT_EQ(r, 500);
    EXPECT_EQ(g, 500);
    EXPECT_EQ(b, 500);
    ImgHsv16ToRgb16(65535, 65534, 65535, &r, &g, &b);  // H = 65535 is sextant 0
    EXPECT_EQ(r, 65535);
    EXPECT_EQ(b, 0);
    // Null outputs are skipped.
    ImgRgb16ToHsv16(1, 2, 3, nullptr, nullptr, nullptr);
    ImgHsv16ToRgb16(1, 2, 3, nullptr, nullptr, nullptr);
}

// The hue quantisation (10922 steps a sextant) bounds the round-trip error;
// negative hues land at 65535 + h on a circle of 6 x 10922 = 65532 steps,
// which adds up to 3 hue steps (about 18 channel units) in the last sextant.
TEST(Colour, Hsv16RoundTrip) {
    int worst = 0;
    for (uint32_t r = 0; r <= 65535; r += 4369) {
        for (uint32_t g = 0; g <= 65535; g += 4369) {
            for (uint32_t b = 0; b <= 65535; b += 4369) {
                uint16_t h, s, v, r2, g2, b2;
                ImgRgb16ToHsv16(uint16_t(r), uint16_t(g), uint16_t(b), &h, &s, &v);
                ImgHsv16ToRgb16(h, s, v, &r2, &g2, &b2);
                worst = std::max({worst, std::abs(int(r2) - int(r)), std::abs(int(g2) - int(g)),
                                  std::abs(int(b2) - int(b))});
            }
        }
    }
    EXPECT_LE(worst, 32);
}

TEST(Colour, Hsv32PrimariesAndRoundTrip) {
    uint32_t h, s, v;
    ImgRgb32ToHsv32(4294967295u, 0, 0, &h, &s, &v);
    EXPECT_EQ(h, 0u);
    EXPECT_EQ(s, 4294967294u);
    EXPECT_EQ(v, 4294967295u);
    ImgRgb32ToHsv32(0, 4294967295u, 0, &h, nullptr, nullptr);
    EXPECT_EQ(h, 1431655764u);
    ImgRgb32ToHsv32(0, 0, 4294967295u, &h, nullptr, nullptr);
    EXPECT_EQ(h, 2863311528u);
    const uint32_t samples[][3] = {{123456789, 987654321, 3000000000u}, {4000000000u, 5, 2000000000u}, {7, 7, 7}};
    for (const auto& c : samples) {
        uint32_t r, g, b;
        ImgRgb32ToHsv32(c[0], c[1], c[2], &h, &s, &v);
        ImgHsv32ToRgb32(h, s, v, &r, &g, &b);
        EXPECT_NEAR(double(r), double(c[0]), 64.0);
        EXPECT_NEAR(double(g), double(c[1]), 64.0);
        EXPECT_NEAR(double(b), double(c[2]), 64.0);
    }
}

// One colour in each sextant of hue, both ways, against values computed
// from the conversion formulas in double arithmetic by Python. Three of the
// forward cases have a negative hue fraction, where truncation toward zero
// and rounding down differ; 4294967295 is sextant 6, which is sextant 0.
TEST(Colour, Hsv32EverySextantBothWays) {
    const struct {
        uint32_t r, g, b, h, s, v;
    } forward[] = {
        {4000000000u, 1234567891u, 345678912u, 174120308u, 3923797388u, 4000000000u},    // 0
        {2100000013u, 3900000007u, 123456789u, 1057010310u, 4159007583u, 3900000007u},   // 1, negative
        {111111111u, 3800000001u, 2900000003u, 1972838892u, 4169383455u, 3800000001u},   // 2
        {400000009u, 2200000001u, 4100000003u, 2515070938u, 3875946085u, 4100000003u},   // 3, negative
        {2800000001u, 300000007u, 3700000003u, 3389655558u, 3946726694u, 3700000003u},   // 4
        {3999999999u, 1000000001u, 3000000007u, 3817748705u, 3221225469u, 3999999999u},  // 5, negative
    };
    for (const auto& c : forward) {
        uint32_t h, s, v;
        ImgRgb32ToHsv32(c.r, c.g, c.b, &h, &s, &v);
        EXPECT_EQ(h, c.h) << c.r;
        EXPECT_EQ(s, c.s) << c.r;
        EXPECT_EQ(v, c.v) << c.r;
    }
    const struct {
        uint32_t h, r, g, b;
    } inverse[] = {
        {300000001u, 3900000007u, 2317546365u, 1175881469u},  {1015827883u, 2758335112u, 3900000007u, 1175881469u},
        {1731655765u, 1175881469u, 3900000007u, 2317546365u}, {2447483647u, 1175881469u, 2758335112u, 3900000007u},
        {3163311529u, 2317546365u, 1175881469u, 3900000007u}, {3879139411u, 3900000007u, 1175881469u, 2758335112u},
        {4294967295u, 3900000007u, 1175881481u, 1175881469u},
    };
    for (const auto& c : inverse) {
        uint32_t r, g, b;
        ImgHsv32ToRgb32(c.h, 3000000001u, 3900000007u, &r, &g, &b);
        EXPECT_EQ(r, c.r) << c.h;
        EXPECT_EQ(g, c.g) << c.h;
        EXPECT_EQ(b, c.b) << c.h;
    }
}

TEST(Colour, SrgbXyz) {
    double x, y, z, r, g, b;
    ImgSrgbToXyz(1, 1, 1, &x, &y, &z);
    EXPECT_NEAR(x, 0.9504, 1e-4);
    EXPECT_NEAR(y, 1.0, 1e-6);
    EXPECT_NEAR(z, 1.0888, 1e-4);
    ImgXyzToSrgb(0.95047, 1.0000001, 1.08883, &r, &g, &b);
    for (double c : {r, g, b}) {
        EXPECT_NEAR(c, 1.0, 1e-7);
        EXPECT_LE(c, 1.0);
    }
    ImgXyzToSrgb(-0.1, -0.1, -0.1, &r, &g, &b);
    EXPECT_EQ(r, 0.0);
    EXPECT_EQ(g, 0.0);
    EXPECT_EQ(b, 0.0);
    ImgXyzToSrgb(kNan, kNan, kNan, &r, &g, &b);  // NaN clamps to 0
    EXPECT_EQ(r, 0.0);
    EXPECT_EQ(g, 0.0);
    EXPECT_EQ(b, 0.0);
    // Round trip through XYZ, on both sides of the linear segment.
    for (double c : {0.0, 0.01, 0.04045, 0.2, 0.5, 0.75, 1.0}) {
        ImgSrgbToXyz(c, 1.0 - c, c * 0.5, &x, &y, &z);
        ImgXyzToSrgb(x, y, z, &r, &g, &b);
        EXPECT_NEAR(r, c, 1e-5);
        EXPECT_NEAR(g, 1.0 - c, 1e-5);
        EXPECT_NEAR(b, c * 0.5, 1e-5);
    }
    // 32-bit variants: white and black.
    uint32_t r32, g32, b32;
    ImgRgb32ToXyz(4294967295u, 4294967295u, 4294967295u, &x, &y, &z);
    EXPECT_NEAR(y, 1.0, 1e-6);
    ImgXyzToRgb32(x, y, z, &r32, &g32, &b32);
    EXPECT_GT(r32, 4294900000u);
    ImgXyzToRgb32(0, 0, 0, &r32, nullptr, nullptr);
    EXPECT_EQ(r32, 0u);
}

TEST(Colour, Lab) {
    EXPECT_DOUBLE_EQ(g_LabInverseDelta, 0.20689655172413793);
    EXPECT_DOUBLE_EQ(g_LabInverseOffset, 0.13793103448275862);
    EXPECT_DOUBLE_EQ(g_LabInverseSlope, 0.12841854934601665);
    double x, y, z, l, a, b;
    // Pure sRGB red is L* 53.24, a* 80.09, b* 67.20 (D65).
    ImgSrgbToXyz(1, 0, 0, &x, &y, &z);
    EXPECT_EQ(ImgXyzToLab(x, y, z, &l, &a, &b), 1);
    EXPECT_NEAR(l, 53.24, 0.02);
    EXPECT_NEAR(a, 80.09, 0.05);
    EXPECT_NEAR(b, 67.20, 0.05);
    // The reference white is L* 100, a* = b* = 0; black is 0.
    ImgXyzToLab(0.950489, 1.0, 1.08884, &l, &a, &b);
    EXPECT_NEAR(l, 100.0, 1e-9);
    EXPECT_NEAR(a, 0.0, 1e-9);
    EXPECT_NEAR(b, 0.0, 1e-9);
    ImgXyzToLab(0, 0, 0, &l, nullptr, nullptr);
    EXPECT_NEAR(l, 0.0, 1e-9);
    // The inverse undoes it, in the cube-root and the linear ranges.
    for (const auto& p : {std::array<double, 3>{0.2, 0.3, 0.4}, std::array<double, 3>{0.001, 0.002, 0.003}}) {
        ImgXyzToLab(p[0], p[1], p[2], &l, &a, &b);
        ImgLabToXyz(l, a, b, &x, &y, &z);
        EXPECT_NEAR(x, p[0], 1e-12);
        EXPECT_NEAR(y, p[1], 1e-12);
        EXPECT_NEAR(z, p[2], 1e-12);
    }
}

// The table of the 8-bit curve against the curve itself: at random values,
// and on both sides of every place where the byte changes (found here by
// stepping through the doubles from a coarse scan).
TEST(Colour, LinearToSrgb8MatchesTheCurveEverywhere) {
    auto exact = [](double v) {
        const double c = ImgSrgbCompand(v) * 4294967295.0;
        return static_cast<int>(c >= 4294967295.0 ? 255u : c > 0.0 ? static_cast<uint32_t>(c) >> 24 : 0u);
    };
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> any(-0.1, 1.1);
    for (int i = 0; i < 200000; ++i) {
        const double v = any(rng);
        ASSERT_EQ(ImgLinearToSrgb8(v), exact(v)) << v;
    }
    int changes = 0;
    double previous = 0.0;
    for (int k = 1; k <= 1 << 20; ++k) {
        const double v = k / double(1 << 20);
        if (exact(v) == exact(previous)) {
            previous = v;
            continue;
        }
        // Narrow to the two neighbouring doubles where the byte changes.
        double lo = previous, hi = v;
        while (std::nextafter(lo, 2.0) < hi) {
            const double mid = lo + (hi - lo) / 2;
            const double m = mid > lo && mid < hi ? mid : std::nextafter(lo, 2.0);
            (exact(m) == exact(lo) ? lo : hi) = m;
        }
        EXPECT_EQ(ImgLinearToSrgb8(lo), exact(lo)) << lo;
        EXPECT_EQ(ImgLinearToSrgb8(hi), exact(hi)) << hi;
        ++changes;
        previous = v;
    }
    EXPECT_EQ(changes, 255);
    EXPECT_EQ(ImgLinearToSrgb8(std::nan("")), 0);
    EXPECT_EQ(ImgLinearToSrgb8(-1.0), 0);
    EXPECT_EQ(ImgLinearToSrgb8(1.0), 255);
    EXPECT_EQ(ImgLinearToSrgb8(1e300), 255);
}

TEST(Colour, Encodings) {
    EXPECT_EQ(ImgEncodeXyzU32(1.1), 4294967295u);
    EXPECT_EQ(ImgEncodeXyzU32(2.0), 4294967295u);
    EXPECT_EQ(ImgEncodeXyzU32(-0.1), 0u);
    EXPECT_EQ(ImgEncodeLightnessU32(50.0), 2147483647u);
    EXPECT_EQ(ImgEncodeAbU32(-128.0), 0u);
    EXPECT_EQ(ImgEncodeAbU32(127.0), 4294967295u);
    EXPECT_EQ(ImgEncodeChromaU32(135.0), 4294967295u);
    // NaN and infinities never reach the integer conversion.
    for (auto enc : {ImgEncodeXyzU32, ImgEncodeLightnessU32, ImgEncodeAbU32, ImgEncodeChromaU32}) {
        EXPECT_EQ(enc(kNan), 0u);
        EXPECT_EQ(enc(-kInf), 0u);
        EXPECT_EQ(enc(kInf), 4294967295u);
    }
    struct {
        uint32_t (*enc)(double);
        double (*dec)(uint32_t);
        double v;
    } trips[] = {
        {ImgEncodeXyzU32, ImgDecodeXyzU32, 0.5},    {ImgEncodeLightnessU32, ImgDecodeLightnessU32, 73.25},
        {ImgEncodeAbU32, ImgDecodeAbU32, -12.5},    {ImgEncodeChromaU32, ImgDecodeChromaU32, 99.0},
        {ImgEncodeHueU32, ImgDecodeHueU32, 2.5},
    };
    for (const auto& t : trips) EXPECT_NEAR(t.dec(t.enc(t.v)), t.v, 1e-7);
    EXPECT_DOUBLE_EQ(ImgDecodeAbU32(0), -128.0);
    EXPECT_DOUBLE_EQ(ImgDecodeAbU32(4294967295u), 127.0);
}

TEST(Colour, HueEncodingWraps) {
    EXPECT_EQ(ImgEncodeHueU32(-kPi / 2), ImgEncodeHueU32(3 * kPi / 2));
    EXPECT_EQ(ImgEncodeHueU32(2 * kPi), 4294967295u);
    EXPECT_EQ(ImgEncodeHueU32(0.0), 0u);
    EXPECT_EQ(ImgEncodeHueU32(kPi + 4 * 2 * kPi), ImgEncodeHueU32(kPi));
    EXPECT_EQ(ImgEncodeHueU32(kPi - 6 * 2 * kPi), ImgEncodeHueU32(kPi));
    // Angles without a direction give 0; huge ones end.
    EXPECT_EQ(ImgEncodeHueU32(kNan), 0u);
    EXPECT_EQ(ImgEncodeHueU32(kInf), 0u);
    EXPECT_EQ(ImgEncodeHueU32(-kInf), 0u);
    EXPECT_LE(ImgEncodeHueU32(1e300), 4294967295u);
    EXPECT_LE(ImgEncodeHueU32(-1e300), 4294967295u);
}

TEST(Colour, CieTable) {
    EXPECT_EQ(g_CieXBar[600 - 360], 1.0622);
    EXPECT_EQ(g_CieYBar[555 - 360], 1.0);
    EXPECT_EQ(g_CieZBar[450 - 360], 1.77211);
    EXPECT_EQ(g_CieXBar[0], 0.0001299);
    EXPECT_EQ(g_CieYBar[0], 3.917e-06);
    // ybar peaks at 555 nm.
    for (int i = 0; i < kCieTableSize; ++i) EXPECT_LE(g_CieYBar[i], 1.0);
}

TEST(Colour, WavelengthToXyz) {
    double x, y, z;
    ImgWavelengthToXyz(555, &x, &y, &z);
    EXPECT_EQ(x, g_CieXBar[195]);
    EXPECT_EQ(y, 1.0);
    EXPECT_EQ(z, g_CieZBar[195]);
    ImgWavelengthToXyz(830.5, &x, &y, &z);
    EXPECT_DOUBLE_EQ(x, g_CieXBar[470] / 2);
    EXPECT_DOUBLE_EQ(y, g_CieYBar[470] / 2);
    EXPECT_DOUBLE_EQ(z, g_CieZBar[470] / 2);
    ImgWavelengthToXyz(359.5, &x, &y, &z);
    EXPECT_DOUBLE_EQ(x, g_CieXBar[0] / 2);
    ImgWavelengthToXyz(600.25, &x, &y, &z);
    EXPECT_DOUBLE_EQ(x, g_CieXBar[240] * 0.75 + g_CieXBar[241] * 0.25);
    EXPECT_DOUBLE_EQ(y, g_CieYBar[240] * 0.75 + g_CieYBar[241] * 0.25);
    for (double nm : {-1.0, 1000.0, 831.0, 100.0, kNan, kInf, -kInf, 1e30}) {
        ImgWavelengthToXyz(nm, &x, &y, &z);
        EXPECT_EQ(x, 0.0) << nm;
        EXPECT_EQ(y, 0.0) << nm;
        EXPECT_EQ(z, 0.0) << nm;
    }
    ImgWavelengthToXyz(500, nullptr, &y, nullptr);
    EXPECT_EQ(y, g_CieYBar[140]);
}

}  // namespace
