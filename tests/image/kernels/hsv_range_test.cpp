// HSV and brightness range extraction, the colour-range table and hue range
// widening.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <memory>
#include <string>

#include "image/colour.h"
#include "image/kernels/hsv_range.h"
#include "image/pool.h"
#include "support/kernel_test_util.h"

namespace {

// An HSV16 image, one pixel per hue, S and V high.
void HueRow(CImgBuff& img, const std::vector<uint16_t>& hues) {
    std::vector<uint16_t> v;
    for (uint16_t h : hues) v.insert(v.end(), {h, 60000, 60000});
    ASSERT_TRUE(ktest::MakeFrom<uint16_t>(img, static_cast<int32_t>(hues.size()), 1, kImgHsv16, v));
}

// The mask (grey set, fill clear): kept pixels white, V = 65535 in HSV16.
std::vector<bool> Kept(const CImgBuff& img) {
    std::vector<bool> k;
    const auto v = ktest::Values<uint16_t>(img);
    for (size_t i = 2; i < v.size(); i += 3) k.push_back(v[i] == 65535);
    return k;
}

TEST(HsvRange, HueRanges) {
    const std::vector<uint16_t> hues = {64535, 64536, 65535, 0, 1000, 3000, 3001, 32768};
    struct Case {
        uint16_t centre, half;
        std::vector<bool> kept;
    } cases[] = {
        {1000, 2000, {false, true, true, true, true, true, false, false}},  // wraps through 0
        {1000, 0, {false, false, false, false, true, false, false, false}},
        {0, 32768, {true, true, true, true, true, true, true, true}},
        {32768, 100, {false, false, false, false, false, false, false, true}},
    };
    for (const Case& c : cases) {
        CImgBuff img;
        HueRow(img, hues);
        ASSERT_EQ(ImgExtractHsvRange(&img, c.centre, c.half, 0, 65535, 0, 65535, 0, 1, 0, nullptr), 1);
        EXPECT_EQ(Kept(img), c.kept) << c.centre << " +- " << c.half;
    }
}

TEST(HsvRange, RefusalsLeaveTheImage) {
    CImgBuff img;
    ASSERT_TRUE(ktest::MakeNoise(img, 8, 8, kImgRgb8, 4));
    const std::string before = ktest::Block(img);
    const ImgRect outside{8, 8, 20, 20};
    EXPECT_EQ(ImgExtractHsvRange(&img, 0, 32769, 0, 65535, 0, 65535, 0, 1, 0, nullptr), 0);
    EXPECT_EQ(ImgExtractHsvRange(&img, 0, 100, 2, 1, 0, 65535, 0, 1, 0, nullptr), 0);
    EXPECT_EQ(ImgExtractHsvRange(&img, 0, 100, 0, 65535, 2, 1, 0, 1, 0, nullptr), 0);
    EXPECT_EQ(ImgExtractHsvRange(&img, 0, 100, 0, 65535, 0, 65535, 0, 1, 0, &outside), 0);
    EXPECT_EQ(ImgExtractBrightnessRange(&img, 0, 65535, 0, 1, 0, &outside), 0);
    EXPECT_EQ(ImgColorRangeTableCreate(0, 32769, 0, 1, 0, 1, 0), nullptr);
    EXPECT_EQ(ImgColorRangeTableCreate(0, 1, 5, 1, 0, 1, 0), nullptr);
    EXPECT_EQ(ktest::Block(img), before);
}

TEST(HsvRange, GreyImagesAndFlags) {
    std::vector<uint8_t> levels;
    for (int v = 0; v < 256; ++v) levels.push_back(static_cast<uint8_t>(v));
    CImgBuff img;
    // S min 0: brightness alone; levels 64 .. 128 stay, the rest black.
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(img, 16, 16, kImgGray8, levels));
    ASSERT_EQ(ImgExtractHsvRange(&img, 0, 0, 0, 65535, 0x4000, 0x8000, 0, 0, 0, nullptr), 1);
    for (int v = 0; v < 256; ++v) ASSERT_EQ(ktest::Values<uint8_t>(img)[v], v >= 64 && v <= 128 ? v : 0) << v;
    // S min 1: a grey pixel never matches, so everything turns black.
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(img, 16, 16, kImgGray8, levels));
    ASSERT_EQ(ImgExtractHsvRange(&img, 0, 32768, 1, 65535, 0, 65535, 0, 0, 0, nullptr), 1);
    EXPECT_EQ(ktest::Values<uint8_t>(img), std::vector<uint8_t>(256, 0));

    // Every combination of the flags, and any non-zero value counts as set.
    struct Case {
        uint32_t reverse, grey, fill;
        int matching, other;  // expected for level 100 (matching) and 10 (not); -1 = unchanged
    } cases[] = {{0, 0, 0, -1, 0}, {0, 0, 1, -1, 255}, {0, 1, 0, 255, 0}, {0, 1, 1, 0, 255},
                 {1, 0, 0, 0, -1}, {1, 0, 1, 255, -1}, {1, 1, 0, 0, 255}, {1, 1, 1, 255, 0}};
    for (const Case& c : cases) {
        for (uint32_t set : {1u, 255u, 0x80000000u}) {
            for (int kernel = 0; kernel < 2; ++kernel) {
                CImgBuff g;
                ASSERT_TRUE(ktest::MakeFrom<uint8_t>(g, 2, 1, kImgGray8, {100, 10}));
                const uint32_t r = c.reverse * set, gr = c.grey * set, f = c.fill * set;
                if (kernel == 0) ASSERT_EQ(ImgExtractHsvRange(&g, 0, 32768, 0, 65535, 50 * 256, 150 * 256, r, gr, f, nullptr), 1);
                else ASSERT_EQ(ImgExtractBrightnessRange(&g, 50 * 256, 150 * 256, r, gr, f, nullptr), 1);
                const auto v = ktest::Values<uint8_t>(g);
                EXPECT_EQ(v[0], c.matching < 0 ? 100 : c.matching) << c.reverse << c.grey << c.fill << " set " << set;
                EXPECT_EQ(v[1], c.other < 0 ? 10 : c.other) << c.reverse << c.grey << c.fill << " set " << set;
            }
        }
    }

    // Brightness 257 .. 65535 as a mask: every non-zero pixel becomes 255.
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(img, 16, 16, kImgGray8, levels));
    ASSERT_EQ(ImgExtractBrightnessRange(&img, 257, 65535, 0, 1, 0, nullptr), 1);
    for (int v = 0; v < 256; ++v) ASSERT_EQ(ktest::Values<uint8_t>(img)[v], v ? 255 : 0);
}

// Colour pixels against a numpy model of the 16-bit HSV rule and the
// wrapping hue test.
TEST(HsvRange, RgbMatchesNumpyModel) {
    CImgBuff img;
    ASSERT_TRUE(ktest::MakeNoise(img, 64, 48, kImgRgb8, 8));
    const std::string in = ktest::Block(img);
    const ImgRect roi{4, 4, 59, 43};
    ASSERT_EQ(ImgExtractHsvRange(&img, 60000, 8000, 10000, 60000, 20000, 65535, 0, 1, 0, &roi), 1);
    const std::string script = R"(
a = np.fromfile(sys.argv[1], np.uint8).reshape(48, 64, 3)
c = a.astype(np.int64) * 257
R, G, B = c[..., 0], c[..., 1], c[..., 2]
mx = c.max(axis=2); mn = c.min(axis=2); d = mx - mn
def tdiv(n, q):
    q = np.maximum(q, 1)
    return np.sign(n) * (np.abs(n) // q)
H = np.where(R == mx, (tdiv((G - B) * 10922, d) + 65535) % 65535,
    np.where(G == mx, tdiv((B - R) * 10922, d) + 21844, tdiv((R - G) * 10922, d) + 43688))
H = np.where(d == 0, 0, H) % 65536
S = np.where(mx == 0, 0, d * 65534 // np.maximum(mx, 1))
V = mx
lo, hi = (60000 - 8000) % 65536, (60000 + 8000) % 65536
hue = (H >= lo) | (H <= hi)
m = hue & (S >= 10000) & (S <= 60000) & (V >= 20000)
out = a.copy()
out[4:44, 4:60] = np.where(m, 255, 0)[4:44, 4:60, None]
out.tofile(sys.argv[2])
)";
    EXPECT_EQ(ktest::Block(img), ktest::RunNumpy(script, {in}));
}

// 8-bit colour with every combination of the three flags, over a region
// whose rows are not a whole number of 16-pixel steps, against the 16-bit
// HSV rule pixel by pixel: outside the region nothing changes, kept pixels
// keep their colour unless the output is a mask.
TEST(HsvRange, Rgb8FlagsAndRegionsMatchTheHsv16Rule) {
    struct Range {
        uint16_t centre, halfWidth, sMin, sMax, vMin, vMax;
    };
    const Range ranges[] = {{60000, 8000, 10000, 60000, 20000, 65535}, {21844, 32768, 0, 30000, 0, 40000},
                            {43688, 0, 0, 65535, 0, 65535}, {0, 500, 0, 65535, 300, 65000}};
    CImgBuff noise;
    ASSERT_TRUE(ktest::MakeNoise(noise, 53, 9, kImgRgb8, 3));
    // Greys, pure primaries and ties between the largest channels.
    const uint8_t special[][3] = {{0, 0, 0}, {255, 255, 255}, {90, 90, 90}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255},
                                  {200, 200, 10}, {10, 200, 200}, {200, 10, 200}, {255, 0, 1}, {1, 255, 0}, {0, 1, 255}};
    for (size_t i = 0; i < std::size(special); ++i)
        std::memcpy(noise.buffer->pixels + 3 * (53 * 4 + i), special[i], 3);
    const ImgRect roi{3, 1, 49, 7};  // 47 pixels: two 16-pixel steps and 15 more
    for (const Range& q : ranges)
        for (uint32_t flags = 0; flags < 8; ++flags) {
            const uint32_t reverse = flags & 1, grey = (flags >> 1) & 1, fill = flags >> 2;
            CImgBuff img;
            img.CopyFrom(&noise);
            ASSERT_EQ(ImgExtractHsvRange(&img, q.centre, q.halfWidth, q.sMin, q.sMax, q.vMin, q.vMax, reverse, grey, fill,
                                         &roi),
                      1);
            for (int32_t y = 0; y < 9; ++y)
                for (int32_t x = 0; x < 53; ++x) {
                    const uint8_t* in = noise.buffer->PixelAt(x, y);
                    const uint8_t* out = img.buffer->PixelAt(x, y);
                    std::vector<uint8_t> want(in, in + 3);
                    if (x >= roi.x0 && x <= roi.x1 && y >= roi.y0 && y <= roi.y1) {
                        uint16_t h, s, v;
                        ImgRgb16ToHsv16(in[0] * 257, in[1] * 257, in[2] * 257, &h, &s, &v);
                        const uint16_t lo = static_cast<uint16_t>(q.centre - q.halfWidth);
                        const uint16_t hi = static_cast<uint16_t>(q.centre + q.halfWidth);
                        const bool hue = q.halfWidth >= 32768 || (lo <= hi ? h >= lo && h <= hi : h >= lo || h <= hi);
                        const bool match = hue && s >= q.sMin && s <= q.sMax && v >= q.vMin && v <= q.vMax;
                        const uint8_t removed = fill ? 255 : 0;
                        if (match == (reverse != 0))
                            want.assign(3, removed);
                        else if (grey)
                            want.assign(3, static_cast<uint8_t>(255 - removed));
                    }
                    ASSERT_EQ(std::vector<uint8_t>(out, out + 3), want)
                        << "pixel " << x << "," << y << " range " << q.centre << " flags " << flags;
                }
        }
}

TEST(ColorRangeTable, Entries) {
    std::unique_ptr<ColorRangeTable> t(ImgColorRangeTableCreate(0, 32768, 0, 65535, 0x1234, 0x5678, 0));
    ASSERT_TRUE(t);
    EXPECT_EQ(t->greyFlag, 1u);
    for (int v = 0; v < 256; ++v) EXPECT_EQ(t->grey[v], v >= 18 && v <= 86 ? 1 : 0) << v;

    std::unique_ptr<ColorRangeTable> s(ImgColorRangeTableCreate(0, 32768, 100, 65535, 0x1234, 0x5678, 0));
    EXPECT_EQ(s->greyFlag, 0u);
    for (int v = 0; v < 256; ++v) EXPECT_EQ(s->grey[v], 0);

    // Reverse marks exactly the complement.
    for (uint16_t smin : {0, 100}) {
        std::unique_ptr<ColorRangeTable> a(ImgColorRangeTableCreate(5000, 3000, smin, 50000, 0x1000, 0xF000, 0));
        std::unique_ptr<ColorRangeTable> b(ImgColorRangeTableCreate(5000, 3000, smin, 50000, 0x1000, 0xF000, 255));
        for (int i = 0; i < 256; ++i) ASSERT_EQ(a->grey[i] == 0, b->grey[i] != 0);
        for (int i = 0; i < 32768; ++i) ASSERT_EQ(a->cube[i] == 0, b->cube[i] != 0) << i;
    }
    // Cell (31, 0, 0) is pure red: hue 0; (0, 31, 0) green.
    std::unique_ptr<ColorRangeTable> red(ImgColorRangeTableCreate(0, 1000, 1, 65535, 1, 65535, 0));
    EXPECT_EQ(red->cube[31 * 1024], 1);
    EXPECT_EQ(red->cube[31 * 32], 0);
    EXPECT_EQ(red->cube[0], 0);
}

TEST(ColorRangeTable, RowKernels) {
    std::unique_ptr<ColorRangeTable> red(ImgColorRangeTableCreate(0, 1000, 1, 65535, 1, 65535, 0));
    CImgBuff img;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(img, 3, 1, kImgRgb8, {250, 3, 2, 3, 250, 2, 40, 40, 40}));
    ColorTableJob job{&img, red.get(), 1, 0, 0, 0, 2, 0};
    PoolParallelFor(ImgExtractByTableRgb8Rows, &job, 1);
    EXPECT_EQ(ktest::Values<uint8_t>(img), (std::vector<uint8_t>{250, 3, 2, 255, 255, 255, 255, 255, 255}));

    std::unique_ptr<ColorRangeTable> grey(ImgColorRangeTableCreate(0, 32768, 0, 65535, 0x4000, 0x8000, 0));
    CImgBuff g;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(g, 3, 1, kImgGray8, {63, 64, 129}));
    ColorTableJob gjob{&g, grey.get(), 0, 7, 0, 0, 2, 0};  // mask
    PoolParallelFor(ImgExtractByTableGray8Rows, &gjob, 1);
    EXPECT_EQ(ktest::Values<uint8_t>(g), (std::vector<uint8_t>{0, 255, 0}));
}

TEST(HueRangeAdd, Cases) {
    struct Case {
        uint16_t centre, half, hue, outCentre, outHalf;
    } cases[] = {
        {1000, 100, 1300, 1100, 200},      // high end moves onto the hue
        {1000, 100, 600, 850, 250},        // low end
        {1000, 100, 601, 850, 250},        // odd distance: one step beyond
        {0, 100, 32768, 49202, 16434},     // tie: the low end moves
        {1000, 100, 950, 1000, 100},       // inside
        {65500, 100, 30, 65500, 100},      // inside a wrapping range
        {7, 32768, 40000, 7, 32768},       // every hue
        {0, 32000, 32768, 65152, 32384},   // distances 768 both ways
        {100, 32767, 32868, 99, 32768},    // the last hue left: every hue
    };
    for (const Case& c : cases) {
        uint16_t nc = 1, nh = 1;
        ImgHueRangeAdd(c.centre, c.half, c.hue, &nc, &nh);
        EXPECT_EQ(nc, c.outCentre) << c.centre << " " << c.half << " " << c.hue;
        EXPECT_EQ(nh, c.outHalf) << c.centre << " " << c.half << " " << c.hue;
    }
    uint16_t nh = 0;
    ImgHueRangeAdd(1000, 100, 1300, nullptr, &nh);
    EXPECT_EQ(nh, 200);
    // Repeated widening never passes 32768.
    uint16_t c = 0, h = 0;
    for (uint32_t hue = 0; hue < 65536; hue += 4099) ImgHueRangeAdd(c, h, static_cast<uint16_t>(hue), &c, &h);
    EXPECT_LE(h, 32768);
}

}  // namespace
