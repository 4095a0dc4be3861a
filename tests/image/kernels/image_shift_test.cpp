// Whole-pixel and sub-pixel image shift.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "image/colour.h"
#include "image/kernels/image_shift.h"
#include "support/kernel_test_util.h"

namespace {

TEST(ImgShift, RowCases) {
    struct Case {
        int dx;
        std::vector<uint8_t> out;
    } cases[] = {
        {3, {0, 0, 0, 1, 2, 3}}, {-3, {4, 5, 6, 0, 0, 0}}, {6, {0, 0, 0, 0, 0, 0}},
        {-6, {0, 0, 0, 0, 0, 0}}, {1000000, {0, 0, 0, 0, 0, 0}}, {INT32_MIN, {0, 0, 0, 0, 0, 0}},
        {0, {1, 2, 3, 4, 5, 6}},
    };
    for (const Case& c : cases) {
        CImgBuff img;
        ASSERT_TRUE(ktest::MakeFrom<uint8_t>(img, 6, 1, kImgGray8, {1, 2, 3, 4, 5, 6}));
        ASSERT_EQ(ImgShift(&img, c.dx, 0, 0), 1);
        EXPECT_EQ(ktest::Values<uint8_t>(img), c.out) << c.dx;
    }
    CImgBuff empty;
    EXPECT_EQ(ImgShift(&empty, 0, 0, 0), 0);
    EXPECT_EQ(ImgShift(&empty, 1, 0, 0), 0);
}

// Whole-pixel shifts against numpy: content moved, the uncovered border
// filled with the fill byte repeated through the channel. One numpy run
// checks every case.
TEST(ImgShift, MatchesNumpyRollWithFill) {
    const int w = 17, h = 11;
    const int shifts[][2] = {{3, -2}, {-5, 4}, {0, 3}, {40, 1}, {-1, -30}, {-16, 10}};
    std::vector<std::string> inputs, results;
    std::string cases = "cases = [";
    for (int32_t f : {kImgGray8, kImgRgb8, kImgRgb16, kImgGray32, kImgRgb32}) {
        for (const auto& s : shifts) {
            CImgBuff img;
            ASSERT_TRUE(ktest::MakeNoise(img, w, h, f, 11));
            inputs.push_back(ktest::Block(img));
            ASSERT_EQ(ImgShift(&img, s[0], s[1], 0xA5), 1);
            results.push_back(ktest::Block(img));
            cases += "(" + std::to_string(ImgFormatBytes(f)) + "," + std::to_string(s[0]) + "," + std::to_string(s[1]) + "),";
        }
    }
    const std::string script = cases + "]\n"
        "out = []\n"
        "for i, (bpp, dx, dy) in enumerate(cases):\n"
        "    a = np.fromfile(sys.argv[1 + i], np.uint8).reshape(" + std::to_string(h) + ", " + std::to_string(w) + ", bpp)\n"
        "    o = np.full_like(a, 0xA5)\n"
        "    H, W = a.shape[:2]\n"
        "    if abs(dx) < W and abs(dy) < H:\n"
        "        o[max(dy,0):H+min(dy,0), max(dx,0):W+min(dx,0)] = a[max(-dy,0):H-max(dy,0), max(-dx,0):W-max(dx,0)]\n"
        "    out.append(o.tobytes())\n"
        "open(sys.argv[-1], 'wb').write(b''.join(out))\n";
    ktest::ExpectConcatenated(results, ktest::RunNumpy(script, inputs));
}

// Moved HSV and CMYK pixels pass through their RGB rendering; the fill is
// the grey setter's pixel.
TEST(ImgShift, HsvAndCmykAreReencodedWhenMoved) {
    CImgBuff hsv;
    ASSERT_TRUE(ktest::MakeFrom<uint16_t>(hsv, 2, 1, kImgHsv16, {100, 0, 500, 100, 0, 500}));
    ASSERT_EQ(ImgShift(&hsv, 1, 0, 128), 1);
    EXPECT_EQ(ktest::Values<uint16_t>(hsv), (std::vector<uint16_t>{0, 0, 32896, 0, 0, 500}));

    CImgBuff cmyk;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(cmyk, 1, 2, kImgCmyk8, {10, 20, 30, 40, 10, 20, 30, 40}));
    ASSERT_EQ(ImgShift(&cmyk, 0, -1, 255), 1);
    EXPECT_EQ(ktest::Values<uint8_t>(cmyk), (std::vector<uint8_t>{0, 10, 20, 50, 0, 0, 0, 0}));
}

struct SubCase {
    std::vector<uint8_t> row;
    double dx;
    uint8_t fill;
    std::vector<uint8_t> out;
};

TEST(ImgShiftSubpixel, RowCases) {
    const SubCase cases[] = {
        {{0, 100, 201, 100, 0, 0, 0}, 2.5, 0, {0, 0, 0, 50, 150, 150, 50}},  // 150.5 truncates
        {{0, 100, 200, 40}, -0.25, 10, {25, 125, 160, 32}},                // last pixel blends with the fill
        {{1, 2}, -0.25, 2, {1, 2}},                                          // 1.25 truncates to 1
        {{255, 255}, 0.003, 255, {254, 254}},                               // 254.99999999999997
        {{200}, 0.5, 100, {150}},                                            // width 1
        {{200}, -0.5, 100, {150}},
        {{9, 9, 9}, 1e300, 7, {7, 7, 7}},                                    // beyond the image: fill only
        {{9, 9, 9}, 3.5, 255, {255, 255, 255}},
        {{9, 9, 9}, -std::numeric_limits<double>::infinity(), 4, {4, 4, 4}},
    };
    for (const SubCase& c : cases) {
        CImgBuff img;
        ASSERT_TRUE(ktest::MakeFrom<uint8_t>(img, static_cast<int32_t>(c.row.size()), 1, kImgGray8, c.row));
        ASSERT_EQ(ImgShiftSubpixel(&img, c.dx, 0.0, c.fill), 1);
        EXPECT_EQ(ktest::Values<uint8_t>(img), c.out) << c.dx;
        // The same along a column.
        CImgBuff col;
        ASSERT_TRUE(ktest::MakeFrom<uint8_t>(col, 1, static_cast<int32_t>(c.row.size()), kImgGray8, c.row));
        ASSERT_EQ(ImgShiftSubpixel(&col, 0.0, c.dx, c.fill), 1);
        EXPECT_EQ(ktest::Values<uint8_t>(col), c.out) << "vertical " << c.dx;
    }
}

TEST(ImgShiftSubpixel, NanIsRefusedWithTheImageUnchanged) {
    CImgBuff img;
    ASSERT_TRUE(ktest::MakeNoise(img, 5, 4, kImgRgb8, 2));
    const std::string before = ktest::Block(img);
    EXPECT_EQ(ImgShiftSubpixel(&img, std::nan(""), 0.5, 0), 0);
    EXPECT_EQ(ImgShiftSubpixel(&img, 1.0, std::nan(""), 0), 0);
    EXPECT_EQ(ktest::Block(img), before);
    CImgBuff empty;
    EXPECT_EQ(ImgShiftSubpixel(&empty, 0.5, 0.5, 0), 0);
}

// The two-pass blend against a numpy model of it (double arithmetic in the
// same order, clamped and truncated), every case in one numpy run.
TEST(ImgShiftSubpixel, MatchesNumpyBlend) {
    const int w = 13, h = 9;
    const double shifts[][2] = {{1.3, -2.7}, {-0.5, 0.25}, {0.0, 1.75}, {-3.125, 0.0}};
    struct Fmt {
        int32_t format;
        const char* dtype;
        int channels;
        double maxv, fill;
    } fmts[] = {{kImgGray8, "np.uint8", 1, 255.0, 77.0},
                {kImgRgb16, "np.uint16", 3, 65535.0, 77.0 * 257},
                {kImgRgb32, "np.uint32", 3, 4294967295.0, 77.0 * 16843009}};
    std::vector<std::string> inputs, results;
    std::string cases = "cases = [";
    for (const Fmt& f : fmts) {
        for (const auto& s : shifts) {
            CImgBuff img;
            ASSERT_TRUE(ktest::MakeNoise(img, w, h, f.format, 5));
            inputs.push_back(ktest::Block(img));
            ASSERT_EQ(ImgShiftSubpixel(&img, s[0], s[1], 77), 1);
            results.push_back(ktest::Block(img));
            char c[200];
            std::snprintf(c, sizeof c, "(%s,%d,%.17g,%.17g,%.17g,%.17g),", f.dtype, f.channels, f.maxv, f.fill, s[0], s[1]);
            cases += c;
        }
    }
    const std::string script = cases + "]\n"
        "import math\n"
        "def blend(s, f, axis, fv, mx, dt):\n"
        "    s = s.astype(np.float64)\n"
        "    g = abs(f)\n"
        "    n = np.roll(s, 1 if f > 0 else -1, axis=axis)\n"
        "    idx = [slice(None)] * 3\n"
        "    idx[axis] = 0 if f > 0 else -1\n"
        "    n[tuple(idx)] = fv\n"
        "    v = (1.0 - g) * s + g * n\n"
        "    return np.where(v >= mx, mx, np.trunc(v)).astype(dt)\n"
        "out = []\n"
        "for i, (dt, C, mx, fv, dx, dy) in enumerate(cases):\n"
        "    a = np.fromfile(sys.argv[1 + i], dt).reshape(" + std::to_string(h) + ", " + std::to_string(w) + ", C)\n"
        "    ix, iy = int(math.trunc(dx)), int(math.trunc(dy))\n"
        "    fx, fy = dx - math.trunc(dx), dy - math.trunc(dy)\n"
        "    H, W = a.shape[:2]\n"
        "    b = np.full_like(a, int(fv))\n"
        "    b[max(iy,0):H+min(iy,0), max(ix,0):W+min(ix,0)] = a[max(-iy,0):H-max(iy,0), max(-ix,0):W-max(ix,0)]\n"
        "    if fx != 0: b = blend(b, fx, 1, fv, mx, dt)\n"
        "    if fy != 0: b = blend(b, fy, 0, fv, mx, dt)\n"
        "    out.append(b.tobytes())\n"
        "open(sys.argv[-1], 'wb').write(b''.join(out))\n";
    ktest::ExpectConcatenated(results, ktest::RunNumpy(script, inputs));
}

// HSV and CMYK are blended in their RGB rendering and stored back; grey
// pixels convert exactly both ways, so the values are known.
TEST(ImgShiftSubpixel, HsvAndCmykBlendTheirRgb) {
    CImgBuff hsv;
    ASSERT_TRUE(ktest::MakeFrom<uint16_t>(hsv, 3, 1, kImgHsv16, {0, 0, 1000, 0, 0, 3000, 0, 0, 5000}));
    ASSERT_EQ(ImgShiftSubpixel(&hsv, 0.5, 0.0, 0), 1);
    EXPECT_EQ(ktest::Values<uint16_t>(hsv), (std::vector<uint16_t>{0, 0, 500, 0, 0, 2000, 0, 0, 4000}));

    CImgBuff cmyk;  // grey 255 - K
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(cmyk, 1, 3, kImgCmyk8, {0, 0, 0, 55, 0, 0, 0, 155, 0, 0, 0, 255}));
    ASSERT_EQ(ImgShiftSubpixel(&cmyk, 0.0, -0.5, 100), 1);
    // Greys 200, 100, 0 -> 150, 50, 50 (the last blends with the fill 100).
    EXPECT_EQ(ktest::Values<uint8_t>(cmyk), (std::vector<uint8_t>{0, 0, 0, 105, 0, 0, 0, 205, 0, 0, 0, 205}));
}

// A model of the sub-pixel passes through the typed RGB accessors: each
// pass reads a copy of the image and writes the image, so an HSV or CMYK
// image is stored in its own format (and so re-encoded) between the
// horizontal and the vertical pass.
template <class T>
void ModelPass(C_ImgBuff& image, double f, bool vertical, uint8_t fill) {
    C_ImgBuff source;
    ASSERT_NE(source.CopyFrom(&image), nullptr);
    const double maxValue = sizeof(T) == 1 ? 255.0 : 65535.0;
    const double fillValue = sizeof(T) == 1 ? fill : fill * 257.0;
    const int32_t length = vertical ? image.height : image.width;
    const int32_t lines = vertical ? image.width : image.height;
    auto get = [&](int32_t along, int32_t line, double out[3]) {
        const int32_t x = vertical ? line : along, y = vertical ? along : line;
        T c[3];
        if constexpr (sizeof(T) == 1)
            source.GetPixelRgb8(x, y, &c[0], &c[1], &c[2]);
        else
            source.GetPixelRgb16(x, y, &c[0], &c[1], &c[2]);
        for (int k = 0; k < 3; ++k) out[k] = c[k];
    };
    const double g = std::fabs(f);
    for (int32_t line = 0; line < lines; ++line) {
        for (int32_t along = 0; along < length; ++along) {
            double here[3], next[3] = {fillValue, fillValue, fillValue};
            get(along, line, here);
            const int32_t from = f >= 0 ? along - 1 : along + 1;
            if (from >= 0 && from < length) get(from, line, next);
            T out[3];
            for (int k = 0; k < 3; ++k) {
                const double v = (1.0 - g) * here[k] + g * next[k];
                out[k] = static_cast<T>(v > maxValue ? maxValue : std::trunc(v));
            }
            const int32_t x = vertical ? line : along, y = vertical ? along : line;
            if constexpr (sizeof(T) == 1)
                image.SetPixelRgb8(x, y, out[0], out[1], out[2]);
            else
                image.SetPixelRgb16(x, y, out[0], out[1], out[2]);
        }
    }
}

// Both fractions non-zero on colourful HSV and CMYK images (greys would
// convert exactly and hide the re-encoding between the passes; CMYK's RGB
// rendering comes back exactly, HSV's does not).
TEST(ImgShiftSubpixel, HsvAndCmykOnBothAxesMatchTheAccessorModel) {
    const struct {
        int32_t format;
        double dx, dy;
        uint8_t fill;
    } cases[] = {
        {kImgHsv16, 0.3, -0.6, 0},  {kImgHsv16, -0.45, 0.7, 255}, {kImgHsv16, 1.25, 2.5, 90},
        {kImgCmyk8, 0.3, -0.6, 0},  {kImgCmyk8, -0.45, 0.7, 255}, {kImgCmyk8, -1.75, 0.5, 90},
    };
    for (const auto& c : cases) {
        CImgBuff image;
        ASSERT_EQ(image.buffer->Create(7, 5, c.format), 1);
        uint32_t seed = 12345;
        for (int32_t y = 0; y < 5; ++y)
            for (int32_t x = 0; x < 7; ++x) {
                uint16_t rgb[3];
                for (uint16_t& v : rgb) v = static_cast<uint16_t>((seed = seed * 1103515245u + 12345u) >> 16);
                if (c.format == kImgHsv16)
                    image.buffer->SetPixelRgb16(x, y, rgb[0], rgb[1], rgb[2]);
                else
                    image.buffer->SetPixelRgb8(x, y, rgb[0] >> 8, rgb[1] >> 8, rgb[2] >> 8);
            }
        CImgBuff model;
        model.CopyFrom(&image);
        ASSERT_EQ(ImgShift(&model, static_cast<int32_t>(std::trunc(c.dx)), static_cast<int32_t>(std::trunc(c.dy)),
                           c.fill),
                  1);
        const double fx = c.dx - std::trunc(c.dx), fy = c.dy - std::trunc(c.dy);
        if (c.format == kImgHsv16) {
            ModelPass<uint16_t>(*model.buffer, fx, false, c.fill);
            ModelPass<uint16_t>(*model.buffer, fy, true, c.fill);
        } else {
            ModelPass<uint8_t>(*model.buffer, fx, false, c.fill);
            ModelPass<uint8_t>(*model.buffer, fy, true, c.fill);
        }
        ASSERT_EQ(ImgShiftSubpixel(&image, c.dx, c.dy, c.fill), 1);
        ASSERT_EQ(image.buffer->format, c.format);
        if (c.format == kImgHsv16)
            EXPECT_EQ(ktest::Values<uint16_t>(image), ktest::Values<uint16_t>(model)) << c.dx << " " << c.dy;
        else
            EXPECT_EQ(ktest::Values<uint8_t>(image), ktest::Values<uint8_t>(model)) << c.dx << " " << c.dy;
    }
}

// XYZ keeps doubles; the fill enters as the XYZ of the grey.
TEST(ImgShiftSubpixel, XyzBlendsWithTheFillGreysXyz) {
    CImgBuff img;
    ASSERT_TRUE(ktest::MakeFrom<double>(img, 2, 1, kImgXyz, {0.2, 0.3, 0.4, 0.6, 0.7, 0.8}));
    ASSERT_EQ(ImgShiftSubpixel(&img, 0.5, 0.0, 255), 1);
    double wx, wy, wz;
    ImgRgb32ToXyz(4294967295u, 4294967295u, 4294967295u, &wx, &wy, &wz);
    const std::vector<double> v = ktest::Values<double>(img);
    EXPECT_DOUBLE_EQ(v[0], 0.5 * 0.2 + 0.5 * wx);
    EXPECT_DOUBLE_EQ(v[1], 0.5 * 0.3 + 0.5 * wy);
    EXPECT_DOUBLE_EQ(v[2], 0.5 * 0.4 + 0.5 * wz);
    EXPECT_DOUBLE_EQ(v[3], 0.5 * 0.6 + 0.5 * 0.2);
}

}  // namespace
