// Turning and scaling about a centre.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "image/kernels/rotate_scale.h"
#include "image/kernels/resample_simd.h"
#include "support/kernel_test_util.h"

namespace {

// The image as the resampling kernels see a format: each pixel read and
// written back through the accessor of its work rendering.
std::string ThroughRendering(const CImgBuff& source) {
    CImgBuff copy;
    copy.CopyFrom(&source);
    C_ImgBuff& b = *copy.buffer;
    for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width; ++x) {
            if (b.format == kImgCmyk8) {
                uint8_t r, g, bl;
                b.GetPixelRgb8(x, y, &r, &g, &bl);
                b.SetPixelRgb8(x, y, r, g, bl);
            } else if (b.format == kImgHsv16) {
                uint16_t r, g, bl;
                b.GetPixelRgb16(x, y, &r, &g, &bl);
                b.SetPixelRgb16(x, y, r, g, bl);
            } else if (b.format == kImgXyz) {
                uint32_t r, g, bl;
                b.GetPixelRgb32(x, y, &r, &g, &bl);
                b.SetPixelRgb32(x, y, r, g, bl);
            }
        }
    return ktest::Block(copy);
}

TEST(WrapDegrees, StepsByWholeTurns) {
    const double cases[][2] = {{0, 0},         {180, 180},     {-180, -180}, {181, -179},   {-181, 179},      {360, 0},
                               {-360, 0},      {540, 180},     {-540, -180}, {720.5, 0.5},  {1e6, 280 - 360}, {370.25, 10.25},
                               {-900.75, 179.25}};
    for (const auto& c : cases) {
        double w = 99;
        ASSERT_TRUE(ImgWrapDegrees(c[0], &w)) << c[0];
        EXPECT_EQ(w, c[1]) << c[0];
        EXPECT_FALSE(std::signbit(w) && w == 0.0) << c[0];
    }
    // Far angles still end in range, quickly.
    double w = 0;
    ASSERT_TRUE(ImgWrapDegrees(1e300, &w));
    EXPECT_TRUE(w >= -180 && w <= 180);
    ASSERT_TRUE(ImgWrapDegrees(-1e300, &w));
    EXPECT_TRUE(w >= -180 && w <= 180);
    for (double bad : {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(), std::nan("")})
        EXPECT_FALSE(ImgWrapDegrees(bad, &w));
    EXPECT_TRUE(std::isnan(ImgNormalizeAngleRad(std::nan(""))));
    EXPECT_EQ(ImgNormalizeAngleRad(90.0), 90.0 * 3.141592653589793 / 180.0);
}

TEST(RotateScale, EdgeCasesInEveryFormat) {
    const int w = 13, h = 11, ox = 6, oy = 5;
    for (int32_t f : ktest::kAllFormats) {
        CImgBuff src;
        ASSERT_TRUE(ktest::MakeNoise(src, w, h, f, 40 + f));
        const std::string rendered = ThroughRendering(src);
        const auto run = [&](int cx, int cy, double angle, double scale, int mirror, uint16_t white) {
            CImgBuff img;
            img.CopyFrom(&src);
            EXPECT_EQ(ImgRotateScale(&img, cx, cy, angle, scale, mirror, white), 1) << ImgFormatName(f);
            return ktest::Block(img);
        };
        const std::string same = run(ox, oy, 0.0, 1.0, 0, 0);
        EXPECT_TRUE(same == rendered) << ImgFormatName(f);
        for (double a : {360.0, -360.0, 720.0}) EXPECT_TRUE(run(ox, oy, a, 1.0, 0, 1) == same) << a << " " << ImgFormatName(f);

        // Refused: the image is unchanged.
        const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
        for (const auto& bad : {std::pair{0.0, 0.0}, {-1.0, 0.0}, {nan, 0.0}, {inf, 0.0}, {1.0, nan}, {1.0, inf}, {1.0, -inf}}) {
            CImgBuff img;
            img.CopyFrom(&src);
            EXPECT_EQ(ImgRotateScale(&img, ox, oy, bad.second, bad.first, 0, 0), 0);
            EXPECT_TRUE(ktest::Block(img) == ktest::Block(src));
        }

        // Centre 5 right of the middle: content moves 5 left, the last 5
        // columns come from outside (white with 1, black with 0).
        for (uint16_t white : {0, 1}) {
            CImgBuff img, expect, fillPixel;
            img.CopyFrom(&src);
            ASSERT_EQ(ImgRotateScale(&img, ox + 5, oy, 0.0, 1.0, 0, white), 1);
            ASSERT_TRUE(fillPixel.buffer->Create(1, 1, f));
            fillPixel.buffer->SetPixelGray32(0, 0, white ? 4294967295u : 0u);
            const int bpp = ImgFormatBytes(f);
            ASSERT_TRUE(ktest::MakeFrom<uint8_t>(expect, w, h, f, std::vector<uint8_t>(rendered.begin(), rendered.end())));
            for (int y = 0; y < h; ++y) {
                std::memmove(expect.buffer->PixelAt(0, y), expect.buffer->PixelAt(5, y), static_cast<size_t>(w - 5) * bpp);
                for (int x = w - 5; x < w; ++x) std::memcpy(expect.buffer->PixelAt(x, y), fillPixel.buffer->pixels, bpp);
            }
            EXPECT_TRUE(ktest::Block(img) == ktest::Block(expect)) << ImgFormatName(f) << " white " << white;
        }

        // Mirror at angle 0: a left-right mirror of the rendering.
        CImgBuff mirrored;
        ASSERT_TRUE(ktest::MakeFrom<uint8_t>(mirrored, w, h, f, std::vector<uint8_t>(rendered.begin(), rendered.end())));
        const std::string got = run(ox, oy, 0.0, 1.0, 1, 0);
        const int bpp = ImgFormatBytes(f);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                EXPECT_EQ(got.substr((static_cast<size_t>(y) * w + x) * bpp, bpp),
                          rendered.substr((static_cast<size_t>(y) * w + (w - 1 - x)) * bpp, bpp));
    }
    CImgBuff empty;
    EXPECT_EQ(ImgRotateScale(&empty, 0, 0, 0.0, 1.0, 0, 0), 0);
}

TEST(RotateScale, QuarterTurnAndDoubleScale) {
    // Angle 90 about the middle of an odd square: the pixel right of the
    // centre lands below it (possibly one lower, cos 90 not being 0).
    CImgBuff img;
    std::vector<uint8_t> v(81, 0);
    v[4 * 9 + 5] = 200;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(img, 9, 9, kImgGray8, v));
    ASSERT_EQ(ImgRotateScale(&img, 4, 4, 90.0, 1.0, 0, 0), 1);
    const uint8_t below = *img.buffer->PixelAt(4, 5);
    EXPECT_TRUE(below == 200 || below == 199) << int(below);
    EXPECT_EQ(*img.buffer->PixelAt(5, 4), 0);

    // Scale 2: output (X, Y) samples (X + ox) / 2 about the centre, so the
    // middle half fills the image.
    CImgBuff ramp;
    std::vector<uint8_t> r(16 * 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) r[y * 16 + x] = static_cast<uint8_t>(10 * x + y);
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(ramp, 16, 16, kImgGray8, r));
    ASSERT_EQ(ImgRotateScale(&ramp, 7, 7, 0.0, 2.0, 0, 0), 1);
    EXPECT_EQ(*ramp.buffer->PixelAt(7, 7), 10 * 7 + 7);
    EXPECT_EQ(*ramp.buffer->PixelAt(1, 1), 10 * 4 + 4);    // 7 - 6 / 2 = 4
    EXPECT_EQ(*ramp.buffer->PixelAt(15, 15), 10 * 11 + 11);  // 7 + 8 / 2 = 11
}

// Every output pixel against a numpy replay of the mapping and the sampler
// (python's math.sin and cos are the C library's), in formats 1-6.
TEST(RotateScale, MatchesNumpyReplay) {
    struct Case {
        int cx, cy;
        double angle, scale;
        int mirror, white;
    } cases[] = {{10, 7, 33.5, 1.0, 0, 0},   {4, 9, -127.25, 0.8, 1, 1},   {10, 7, 180.0, 1.7, 0, 1}, {0, 0, 12.0, 1.0, 0, 1},
                 {20, 14, 395.0, 0.5, 1, 0}, {10, 7, -90.0, 1.0, 0, 0},    {-3, 2, 3.0, 1.02, 0, 1}};
    struct Fmt {
        int32_t format;
        const char* dtype;
        int channels;
        double maxv;
    } fmts[] = {{kImgGray8, "np.uint8", 1, 255.0},       {kImgGray16, "np.uint16", 1, 65535.0}, {kImgGray32, "np.uint32", 1, 4294967295.0},
                {kImgRgb8, "np.uint8", 3, 255.0},        {kImgRgb16, "np.uint16", 3, 65535.0},  {kImgRgb32, "np.uint32", 3, 4294967295.0}};
    const int w = 37, h = 23;
    std::vector<std::string> inputs, results;
    std::string list = "cases = [";
    for (const Fmt& f : fmts)
        for (const Case& c : cases) {
            CImgBuff img;
            ASSERT_TRUE(ktest::MakeNoise(img, w, h, f.format, 7));
            inputs.push_back(ktest::Block(img));
            CImgBuff scalar;
            scalar.CopyFrom(&img);
            ASSERT_EQ(ImgRotateScale(&img, c.cx, c.cy, c.angle, c.scale, c.mirror, static_cast<uint16_t>(c.white)), 1);
            results.push_back(ktest::Block(img));
            // The scalar path gives the same pixels as the vector one.
            ImgResampleUseVectorsForTesting(false);
            ASSERT_EQ(ImgRotateScale(&scalar, c.cx, c.cy, c.angle, c.scale, c.mirror, static_cast<uint16_t>(c.white)), 1);
            ImgResampleUseVectorsForTesting(true);
            EXPECT_TRUE(ktest::Block(scalar) == results.back()) << ImgFormatName(f.format) << " " << c.angle;
            char line[200];
            std::snprintf(line, sizeof line, "(%s,%d,%.17g,%d,%d,%.17g,%.17g,%d,%d),", f.dtype, f.channels, f.maxv, c.cx, c.cy, c.angle,
                          c.scale, c.mirror, c.white);
            list += line;
        }
    const std::string script = list + "]\n" + "W, H = " + std::to_string(w) + ", " + std::to_string(h) + "\n" + R"(
import math
def wrap(d):
    while d > 180: d -= 360
    while d < -180: d += 360
    return d
out = []
for k, (dt, C, mx, cx, cy, angle, scale, mirror, white) in enumerate(cases):
    a = np.fromfile(sys.argv[1 + k], dt).reshape(H, W, C).astype(np.float64)
    th = wrap(-angle) * 3.141592653589793 / 180.0
    s, c = math.sin(th), math.cos(th)
    inv = 1.0 / scale
    ox, oy = (W - 1) // 2, (H - 1) // 2
    Y, X = np.mgrid[0:H, 0:W]
    dx = (X - ox).astype(np.float64)
    dy = (Y - oy).astype(np.float64)
    u = (dx * c - dy * s) * inv + cx
    v = (dx * s + dy * c) * inv + cy
    ix, iy = np.trunc(u), np.trunc(v)
    fx, fy = (u - ix)[..., None], (v - iy)[..., None]
    ix, iy = ix.astype(np.int64), iy.astype(np.int64)
    O = mx if white else 0.0
    def at(xx, yy):
        inside = (xx >= 0) & (xx < W) & (yy >= 0) & (yy < H)
        return np.where(inside[..., None], a[np.clip(yy, 0, H - 1), np.clip(xx, 0, W - 1)], O)
    gx, gy = 1.0 - fx, 1.0 - fy
    r = (at(ix, iy) * gx + at(ix + 1, iy) * fx) * gy + (at(ix, iy + 1) * gx + at(ix + 1, iy + 1) * fx) * fy
    o = np.where(r >= mx, mx, np.where(r > 0, np.trunc(r), 0.0)).astype(dt)
    if mirror:
        o = o[:, ::-1]
    out.append(o.tobytes())
open(sys.argv[-1], 'wb').write(b''.join(out))
)";
    ktest::ExpectConcatenated(results, ktest::RunNumpy(script, inputs));
}

// Against OpenCV's inverse-mapped linear warp on the interior of a smooth
// image: within 2 levels (OpenCV rounds and uses 1/32-pixel weights).
TEST(RotateScale, AgreesWithOpenCvWarpAffine) {
    const int w = 64, h = 48;
    std::vector<uint8_t> px(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                px[(static_cast<size_t>(y) * w + x) * 3 + c] =
                    static_cast<uint8_t>(128 + 100 * std::sin(0.11 * x + 0.07 * y + c) * std::cos(0.05 * y - 0.03 * x));
    struct Case {
        int cx, cy;
        double angle, scale;
    } cases[] = {{31, 23, 17.0, 1.0}, {35, 20, -40.0, 1.3}, {28, 26, 100.0, 0.9}};
    std::vector<std::string> inputs, results;
    std::string list = "cases = [";
    for (const Case& c : cases) {
        CImgBuff img;
        ASSERT_TRUE(ktest::MakeFrom<uint8_t>(img, w, h, kImgRgb8, px));
        inputs.push_back(ktest::Block(img));
        ASSERT_EQ(ImgRotateScale(&img, c.cx, c.cy, c.angle, c.scale, 0, 0), 1);
        results.push_back(ktest::Block(img));
        list += "(" + std::to_string(c.cx) + "," + std::to_string(c.cy) + "," + std::to_string(c.angle) + "," + std::to_string(c.scale) + "),";
    }
    const std::string script = list + "]\n" + "W, H = " + std::to_string(w) + ", " + std::to_string(h) + "\n" + R"(
import cv2, math
out = []
for k, (cx, cy, angle, scale) in enumerate(cases):
    a = np.fromfile(sys.argv[1 + k], np.uint8).reshape(H, W, 3)
    th = -angle * math.pi / 180.0
    s, c = math.sin(th), math.cos(th)
    ox, oy = (W - 1) // 2, (H - 1) // 2
    M = np.array([[c / scale, -s / scale, cx - (ox * c - oy * s) / scale],
                  [s / scale, c / scale, cy - (ox * s + oy * c) / scale]])
    o = cv2.warpAffine(a, M, (W, H), flags=cv2.INTER_LINEAR | cv2.WARP_INVERSE_MAP, borderMode=cv2.BORDER_CONSTANT, borderValue=0)
    out.append(o.tobytes())
open(sys.argv[-1], 'wb').write(b''.join(out))
)";
    const std::string expected = ktest::RunNumpy(script, inputs);
    ASSERT_EQ(expected.size(), results.size() * px.size());
    for (size_t k = 0; k < results.size(); ++k) {
        // Only pixels whose source position lies a pixel inside the source:
        // at its edges the two differ in how the outside enters.
        const double th = -cases[k].angle * 3.141592653589793 / 180.0;
        int worst = 0, compared = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c) {
                    const double dx = x - (w - 1) / 2, dy = y - (h - 1) / 2;
                    const double u = (dx * std::cos(th) - dy * std::sin(th)) / cases[k].scale + cases[k].cx;
                    const double v = (dx * std::sin(th) + dy * std::cos(th)) / cases[k].scale + cases[k].cy;
                    if (u < 1 || v < 1 || u > w - 2 || v > h - 2) continue;
                    const size_t i = (static_cast<size_t>(y) * w + x) * 3 + c;
                    const uint8_t e = static_cast<uint8_t>(expected[k * px.size() + i]);
                    worst = std::max(worst, std::abs(int(static_cast<uint8_t>(results[k][i])) - int(e)));
                    ++compared;
                }
        EXPECT_LE(worst, 2) << "case " << k;
        EXPECT_GT(compared, 1000) << "case " << k;
    }
}

}  // namespace
