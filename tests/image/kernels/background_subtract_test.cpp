// Background subtraction and object extraction.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "image/kernels/background_subtract.h"
#include "support/kernel_test_util.h"

namespace {

TEST(SubtractBackground, WorkedValues) {
    CImgBuff img, bg;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(img, 2, 1, kImgGray8, {200, 50}));
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(bg, 2, 1, kImgGray8, {50, 200}));
    ASSERT_EQ(ImgSubtractBackground(&img, &bg, 0, nullptr), 1);
    EXPECT_EQ(ktest::Values<uint8_t>(img), (std::vector<uint8_t>{150, 0}));

    ASSERT_TRUE(ktest::MakeFrom<uint32_t>(img, 2, 1, kImgGray32, {4294967295u, 3000000000u}));
    ASSERT_TRUE(ktest::MakeFrom<uint32_t>(bg, 2, 1, kImgGray32, {0, 1000000000u}));
    ASSERT_EQ(ImgSubtractBackground(&img, &bg, 0, nullptr), 1);
    EXPECT_EQ(ktest::Values<uint32_t>(img), (std::vector<uint32_t>{4294967295u, 2000000000u}));

    // An empty background changes nothing; a missing one is refused.
    CImgBuff empty;
    const std::string before = ktest::Block(img);
    EXPECT_EQ(ImgSubtractBackground(&img, &empty, 1, nullptr), 1);
    EXPECT_EQ(ImgSubtractBackground(&img, nullptr, 1, nullptr), 0);
    const ImgRect outside{5, 5, 9, 9};
    EXPECT_EQ(ImgSubtractBackground(&img, &bg, 1, &outside), 0);
    EXPECT_EQ(ktest::Block(img), before);
}

// CMYK and HSV subtract their RGB rendering; grey pixels convert exactly.
TEST(SubtractBackground, CmykAndHsvWorkOnTheirRgb) {
    CImgBuff img, bg;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(img, 2, 1, kImgCmyk8, {0, 0, 0, 55, 0, 0, 0, 205}));  // greys 200, 50
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(bg, 2, 1, kImgCmyk8, {0, 0, 0, 205, 0, 0, 0, 55}));   // greys 50, 200
    ASSERT_EQ(ImgSubtractBackground(&img, &bg, 0, nullptr), 1);
    EXPECT_EQ(ktest::Values<uint8_t>(img), (std::vector<uint8_t>{0, 0, 0, 105, 0, 0, 0, 255}));

    ASSERT_TRUE(ktest::MakeFrom<uint16_t>(img, 2, 1, kImgHsv16, {0, 0, 60000, 0, 0, 1000}));
    ASSERT_TRUE(ktest::MakeFrom<uint16_t>(bg, 1, 1, kImgHsv16, {0, 0, 20000}));
    ASSERT_EQ(ImgSubtractBackground(&img, &bg, 1, nullptr), 1);  // the second pixel has no background
    EXPECT_EQ(ktest::Values<uint16_t>(img), (std::vector<uint16_t>{0, 0, 40000, 0, 0, 0}));
}

// A smaller background, with and without the mask, in the same format and
// in another one (read through the image's value type), against numpy.
TEST(SubtractBackground, MatchesNumpy) {
    const int w = 21, h = 15, bw = 12, bh = 10;
    const ImgRect roi{2, 1, 19, 13};
    std::vector<std::string> inputs, results;
    struct Case {
        int32_t format, bgFormat;
        uint32_t mask;
    } cases[] = {{kImgRgb16, kImgRgb16, 0}, {kImgRgb16, kImgRgb16, 1}, {kImgGray32, kImgGray32, 7},
                 {kImgRgb8, kImgGray8, 0}, {kImgGray8, kImgGray8, 1}};
    for (const Case& c : cases) {
        CImgBuff img, bg;
        ASSERT_TRUE(ktest::MakeNoise(img, w, h, c.format, 40));
        ASSERT_TRUE(ktest::MakeNoise(bg, bw, bh, c.bgFormat, 41));
        inputs.push_back(ktest::Block(img));
        inputs.push_back(ktest::Block(bg));
        ASSERT_EQ(ImgSubtractBackground(&img, &bg, c.mask, &roi), 1);
        results.push_back(ktest::Block(img));
    }
    const std::string script = R"(
cases = [(np.uint16, 3, 3, 0), (np.uint16, 3, 3, 1), (np.uint32, 1, 1, 1), (np.uint8, 3, 1, 0), (np.uint8, 1, 1, 1)]
out = []
for i, (dt, C, BC, mask) in enumerate(cases):
    a = np.fromfile(sys.argv[1 + 2 * i], dt).reshape(15, 21, C).astype(np.int64)
    b = np.fromfile(sys.argv[2 + 2 * i], dt).reshape(10, 12, BC).astype(np.int64)
    b = np.broadcast_to(b, (10, 12, C))
    r = a.copy()
    reg = (slice(1, 14), slice(2, 20))
    inside = np.zeros((15, 21), bool); inside[:10, :12] = True
    bfull = np.zeros_like(a); bfull[:10, :12] = b
    sub = np.maximum(a - bfull, 0)
    res = np.where(inside[..., None], sub, 0 if mask else a)
    r[reg] = res[reg]
    out.append(r.astype(dt).tobytes())
open(sys.argv[-1], 'wb').write(b''.join(out))
)";
    ktest::ExpectConcatenated(results, ktest::RunNumpy(script, inputs));
}

// The L*a*b* distance of random pixel pairs against a numpy model of the
// sRGB -> XYZ -> L*a*b* chain.
TEST(ExtractObjects, LabDistanceMatchesNumpy) {
    CImgBuff a, b;
    ASSERT_TRUE(ktest::MakeNoise(a, 32, 8, kImgRgb8, 50));
    ASSERT_TRUE(ktest::MakeNoise(b, 32, 8, kImgRgb8, 51));
    std::vector<double> ours;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 32; ++x) ours.push_back(ImgLabDistance(&a, &b, x, y));
    const std::string script = R"(
def lab(p):
    c = p.astype(np.float64) * 16843009 / 4294967295.0
    lin = np.where(c <= 0.04045, c / 12.92, ((c + 0.055) / 1.055) ** 2.4)
    M = np.array([[0.4124564, 0.3575761, 0.1804375], [0.2126729, 0.7151522, 0.072175], [0.0193339, 0.119192, 0.9503041]])
    xyz = lin @ M.T
    r = xyz * 100 / np.array([95.0489, 100.0, 108.884])
    e = 216 / 24389
    f = np.where(r > e, np.cbrt(r), r / (108 / 841) + 4 / 29)
    return 116 * f[..., 1] - 16, 500 * (f[..., 0] - f[..., 1]), 200 * (f[..., 1] - f[..., 2])
a = np.fromfile(sys.argv[1], np.uint8).reshape(8, 32, 3)
b = np.fromfile(sys.argv[2], np.uint8).reshape(8, 32, 3)
la, aa, ba = lab(a); lb, ab, bb = lab(b)
d = np.where((la <= 50) | (lb <= 50), (la - lb) ** 2, (la - lb) ** 2 + 0.25 * (aa - ab) ** 2 + 0.25 * (ba - bb) ** 2)
d.astype(np.float64).tofile(sys.argv[3])
)";
    const std::string expected = ktest::RunNumpy(script, {ktest::Block(a), ktest::Block(b)});
    ASSERT_EQ(expected.size(), ours.size() * 8);
    for (size_t i = 0; i < ours.size(); ++i) {
        double e;
        std::memcpy(&e, expected.data() + 8 * i, 8);
        EXPECT_NEAR(ours[i], e, 1e-6 * (1 + e)) << i;
    }
    EXPECT_EQ(ImgLabDistance(&a, &b, 32, 0), 0.0);
    EXPECT_EQ(ImgLabDistance(&a, &b, 0, -1), 0.0);
}

// 20 x 20 region, tiles of 8: 3 x 3 tiles, the last ones 4 wide. A tile
// whose pixels all equal the background is painted with level 0.
TEST(ExtractObjects, TilesAreJudgedOnTheirOwn) {
    CImgBuff img, bg;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(bg, 24, 24, kImgGray8, std::vector<uint8_t>(576, 100)));
    img.CopyFrom(&bg);
    *img.buffer->PixelAt(12, 12) = 180;  // tile (1, 1)
    *img.buffer->PixelAt(21, 18) = 180;  // tile (2, 2), 4 x 4
    const ImgRect roi{2, 2, 21, 21};
    ASSERT_EQ(ImgExtractObjects(&img, &bg, 1, 0.0, 8, &roi), 1);
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 24; ++x) {
            const bool inRoi = x >= 2 && x <= 21 && y >= 2 && y <= 21;
            const int tx = (x - 2) / 8, ty = (y - 2) / 8;
            const bool changed = (tx == 1 && ty == 1) || (tx == 2 && ty == 2);
            const int expect = !inRoi || changed ? (x == 12 && y == 12) || (x == 21 && y == 18) ? 180 : 100 : 255;
            ASSERT_EQ(*img.buffer->PixelAt(x, y), expect) << x << "," << y;
        }
}

// One differing pixel of squared distance d: its 4 x 4 tile (mean d / 16)
// goes with level d / 16 while the pixel path needs level^2 >= d.
TEST(ExtractObjects, TileMeanAgainstLevelPixelAgainstLevelSquared) {
    CImgBuff bg;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(bg, 4, 4, kImgGray8, std::vector<uint8_t>(16, 200)));
    CImgBuff img;
    img.CopyFrom(&bg);
    *img.buffer->PixelAt(1, 2) = 220;
    const double d = ImgLabDistance(&img, &bg, 1, 2);
    ASSERT_GT(d, 1.0);
    const auto run = [&](double level, uint64_t tile) {
        CImgBuff work;
        work.CopyFrom(&img);
        EXPECT_EQ(ImgExtractObjects(&work, &bg, 0, level, tile, nullptr), 1);
        return *work.buffer->PixelAt(1, 2);
    };
    EXPECT_EQ(run(d / 16, 4), 0);
    EXPECT_EQ(run(d / 16 * 0.99, 4), 220);
    EXPECT_EQ(run(std::sqrt(d) * 1.0001, 1), 0);
    EXPECT_EQ(run(std::sqrt(d) * 0.99, 0), 220);
    EXPECT_EQ(run(1e300, UINT64_MAX), 0);  // one tile covering everything
}

TEST(ExtractObjects, IdenticalImageTurnsBlackAndRefusals) {
    CImgBuff img, bg;
    ASSERT_TRUE(ktest::MakeNoise(bg, 9, 7, kImgRgb16, 60));
    img.CopyFrom(&bg);
    ASSERT_EQ(ImgExtractObjects(&img, &bg, 0, 0.0, 1, nullptr), 1);
    EXPECT_EQ(ktest::Values<uint16_t>(img), std::vector<uint16_t>(9 * 7 * 3, 0));

    img.CopyFrom(&bg);
    const std::string before = ktest::Block(img);
    CImgBuff empty;
    EXPECT_EQ(ImgExtractObjects(&img, &empty, 0, 5.0, 1, nullptr), 1);
    EXPECT_EQ(ImgExtractObjects(&img, &bg, 0, -1.0, 1, nullptr), 0);
    EXPECT_EQ(ImgExtractObjects(&img, &bg, 0, std::nan(""), 4, nullptr), 0);
    EXPECT_EQ(ImgExtractObjects(&img, nullptr, 0, 1.0, 4, nullptr), 0);
    EXPECT_EQ(ktest::Block(img), before);

    // Outside a smaller background the pixel path leaves pixels alone.
    CImgBuff small;
    ASSERT_TRUE(small.buffer->Create(4, 4, kImgRgb16));
    ASSERT_TRUE(ktest::MakeNoise(img, 8, 4, kImgRgb16, 61));
    for (int y = 0; y < 4; ++y) std::memset(img.buffer->PixelAt(0, y), 0, 4 * 6);  // equal to the background
    const std::string right = ktest::Block(img);
    ASSERT_EQ(ImgExtractObjects(&img, &small, 1, 0.0, 0, nullptr), 1);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x) {
            uint16_t r, g, b;
            img.buffer->GetPixelRgb16(x, y, &r, &g, &b);
            if (x < 4) EXPECT_EQ(r, 65535);
            else EXPECT_EQ(std::memcmp(img.buffer->PixelAt(x, y), right.data() + (y * 8 + x) * 6, 6), 0);
        }
}

}  // namespace
