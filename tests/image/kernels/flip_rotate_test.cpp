// Mirrors and quarter turns: pure pixel moves, checked against numpy.
#include <gtest/gtest.h>

#include <string>

#include "image/kernels/flip_rotate.h"
#include "image/pool.h"
#include "support/kernel_test_util.h"

namespace {

void Mirror(CImgBuff& img, const ImgRect& r, bool horizontal) {
    MirrorJob job{&img, r.x0, r.y0, r.x1, r.y1};
    if (horizontal) PoolParallelFor(ImgMirrorHorizontalRows, &job, static_cast<uint64_t>(r.y1 - r.y0 + 1));
    else PoolParallelFor(ImgMirrorVerticalRows, &job, static_cast<uint64_t>(r.y1 - r.y0 + 1) / 2);
}

// Every format (pixel sizes 1, 2, 3, 4, 6, 12, 24) against numpy flips and
// rot90 of the pixel block seen as (h, w, bytes per pixel), in one run.
TEST(FlipRotate, MatchesNumpy) {
    const int w = 23, h = 14;
    const ImgRect rect{3, 2, 19, 12};  // odd row count: the middle row stays
    std::vector<std::string> inputs, results;
    std::string cases = "cases = [";
    for (int32_t f : ktest::kAllFormats) {
        const int bpp = ImgFormatBytes(f);
        for (int op = 0; op < 6; ++op) {
            CImgBuff img;
            ASSERT_TRUE(ktest::MakeNoise(img, w, h, f, 17 + op));
            inputs.push_back(ktest::Block(img));
            int ow = w, oh = h;
            switch (op) {
                case 0: Mirror(img, rect, true); break;
                case 1: Mirror(img, rect, false); break;
                case 2: ASSERT_EQ(ImgRotateQuarterTurns(&img, 1), 1); std::swap(ow, oh); break;
                case 3: ASSERT_EQ(ImgRotateQuarterTurns(&img, -1), 1); std::swap(ow, oh); break;
                case 4: ASSERT_EQ(ImgRotateQuarterTurns(&img, 2), 1); break;
                case 5: ASSERT_EQ(ImgRotateQuarterTurns(&img, 7), 1); std::swap(ow, oh); break;
            }
            EXPECT_EQ(img.buffer->width, ow);
            EXPECT_EQ(img.buffer->height, oh);
            results.push_back(ktest::Block(img));
            cases += "(" + std::to_string(bpp) + "," + std::to_string(op) + "),";
        }
    }
    const std::string script = cases + "]\n"
        "out = []\n"
        "for i, (bpp, op) in enumerate(cases):\n"
        "    a = np.fromfile(sys.argv[1 + i], np.uint8).reshape(" + std::to_string(h) + ", " + std::to_string(w) + ", bpp)\n"
        "    r = a[2:13, 3:20]\n"
        "    if op == 0: r[...] = r[:, ::-1].copy()\n"
        "    elif op == 1: r[...] = r[::-1, :].copy()\n"
        "    elif op == 2: a = np.rot90(a, -1)\n"
        "    elif op == 3: a = np.rot90(a, 1)\n"
        "    elif op == 4: a = np.rot90(a, 2)\n"
        "    else: a = np.rot90(a, 1)\n"
        "    out.append(np.ascontiguousarray(a).tobytes())\n"
        "open(sys.argv[-1], 'wb').write(b''.join(out))\n";
    ktest::ExpectConcatenated(results, ktest::RunNumpy(script, inputs));
}

TEST(FlipRotate, QuarterTurnCoordinates) {
    // W = 3, H = 2; pixel value = 10 y + x.
    CImgBuff img;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(img, 3, 2, kImgGray8, {0, 1, 2, 10, 11, 12}));
    ASSERT_EQ(ImgRotateQuarterTurns(&img, 1), 1);
    ASSERT_EQ(img.buffer->width, 2);
    ASSERT_EQ(img.buffer->height, 3);
    EXPECT_EQ(*img.buffer->PixelAt(1, 0), 0);   // source (0, 0)
    EXPECT_EQ(*img.buffer->PixelAt(0, 2), 12);  // source (2, 1)
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(img, 3, 2, kImgGray8, {0, 1, 2, 10, 11, 12}));
    ASSERT_EQ(ImgRotateQuarterTurns(&img, -1), 1);
    EXPECT_EQ(*img.buffer->PixelAt(0, 2), 0);
}

TEST(FlipRotate, TurnsAreTakenModuloFour) {
    CImgBuff ref;
    ASSERT_TRUE(ktest::MakeNoise(ref, 9, 5, kImgRgb16, 4));
    const auto turned = [&](int turns) {
        CImgBuff img;
        img.CopyFrom(&ref);
        EXPECT_EQ(ImgRotateQuarterTurns(&img, turns), 1);
        return std::to_string(img.buffer->width) + "x" + std::to_string(img.buffer->height) + ktest::Block(img);
    };
    const std::string same = "9x5" + ktest::Block(ref);
    EXPECT_EQ(turned(0), same);
    EXPECT_EQ(turned(4), same);
    EXPECT_EQ(turned(-4), same);
    EXPECT_EQ(turned(5), turned(1));
    EXPECT_EQ(turned(-1), turned(3));
    EXPECT_EQ(turned(2), turned(-2));
    EXPECT_EQ(turned(INT32_MIN), same);
    EXPECT_NE(turned(1), turned(-1));
}

// A quarter turn and the opposite one give the image back exactly, in
// every format; degenerate shapes and an empty image.
TEST(FlipRotate, RoundTripsAndEdges) {
    for (int32_t f : ktest::kAllFormats) {
        CImgBuff img;
        ASSERT_TRUE(ktest::MakeNoise(img, 70, 33, f, 9));  // more than one tile band
        const std::string before = ktest::Block(img);
        ASSERT_EQ(ImgRotateQuarterTurns(&img, 1), 1);
        ASSERT_EQ(ImgRotateQuarterTurns(&img, -1), 1);
        EXPECT_EQ(img.buffer->width, 70);
        EXPECT_EQ(ktest::Block(img), before) << ImgFormatName(f);
    }
    CImgBuff one;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(one, 1, 1, kImgGray8, {42}));
    EXPECT_EQ(ImgRotateQuarterTurns(&one, 2), 1);
    EXPECT_EQ(ImgRotateQuarterTurns(&one, 1), 1);
    EXPECT_EQ(ktest::Values<uint8_t>(one), std::vector<uint8_t>{42});
    CImgBuff empty;
    EXPECT_EQ(ImgRotateQuarterTurns(&empty, 1), 0);
    EXPECT_EQ(ImgRotateQuarterTurns(&empty, 0), 0);

    // One-pixel-wide and one-row rectangles stay as they are; a job outside
    // the image is ignored.
    CImgBuff img;
    ASSERT_TRUE(ktest::MakeNoise(img, 6, 4, kImgGray8, 1));
    const std::string before = ktest::Block(img);
    Mirror(img, ImgRect{2, 0, 2, 3}, true);
    Mirror(img, ImgRect{0, 1, 5, 1}, false);
    Mirror(img, ImgRect{0, 0, 6, 3}, true);
    Mirror(img, ImgRect{0, 0, 5, 4}, false);
    EXPECT_EQ(ktest::Block(img), before);
}

}  // namespace
