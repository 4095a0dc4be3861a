// Histogram equalisation by ranking.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <string>

#include "image/kernels/equalize.h"
#include "support/kernel_test_util.h"

namespace {

// The ranking and hand-out written independently in numpy: levels, the
// neighbourhood key, a stable lexicographic order and the two schemes.
const char* kNumpyFlatten = R"(
def flatten(a, top, wide):
    h, w = a.shape
    lv = a.astype(np.int64)
    w32 = lv * wide
    p = np.pad(w32, 1)
    m = np.pad(np.ones_like(lv), 1)
    s = np.zeros_like(lv); c = np.zeros_like(lv)
    for dy in (-1, 0, 1):
        for dx in (-1, 0, 1):
            if dx == 0 and dy == 0: continue
            s += p[1+dy:1+dy+h, 1+dx:1+dx+w]
            c += m[1+dy:1+dy+h, 1+dx:1+dx+w]
    mean = np.where(c > 0, s / np.maximum(c, 1), 0.0)
    key = np.clip(np.trunc(mean - lv), -2147483648, 2147483647).astype(np.int64)
    order = np.lexsort((np.arange(h * w), -key.ravel(), -lv.ravel()))
    n = h * w
    out = np.zeros(n, np.int64)
    if n > top:
        q = n / (top + 1.0); r = 0.0; done = 0
        for L in range(top, -1, -1):
            r += q; k = math.trunc(r); r -= k
            k = min(k, n - done)
            out[order[done:done + k]] = L
            done += k
    else:
        step = (top + 1.0) / n; f = 0.0; L = top; done = 0
        while True:
            out[order[done]] = L; done += 1
            if done == n: break
            t = f + step
            if L - math.trunc(t) < 0: break
            f = t - math.trunc(t); L -= math.trunc(t)
    return out.reshape(h, w)
import math
)";

TEST(Equalize, MatchesNumpyRanking) {
    std::vector<std::string> inputs, results;
    // grey8 with shares, grey16 with steps, RGB8 per channel inside a region,
    // grey8 inside a region (the rest of the image untouched).
    CImgBuff g8, g16, rgb, g8r;
    ASSERT_TRUE(ktest::MakeNoise(g8, 37, 29, kImgGray8, 31));
    for (size_t i = 0; i < 37 * 29; i += 3) g8.buffer->pixels[i] &= 0xF0;  // plenty of ties
    ASSERT_TRUE(ktest::MakeNoise(g16, 20, 15, kImgGray16, 32));
    ASSERT_TRUE(ktest::MakeNoise(rgb, 30, 26, kImgRgb8, 33));
    ASSERT_TRUE(ktest::MakeNoise(g8r, 40, 30, kImgGray8, 34));
    for (CImgBuff* img : {&g8, &g16, &rgb, &g8r}) inputs.push_back(ktest::Block(*img));
    ASSERT_EQ(ImgFlattenHistogram(&g8, nullptr), 1);
    ASSERT_EQ(ImgFlattenHistogram(&g16, nullptr), 1);
    const ImgRect roi{25, 22, 4, 3};  // swapped corners
    ASSERT_EQ(ImgFlattenHistogram(&rgb, &roi), 1);
    const ImgRect inner{5, 4, 34, 25};
    ASSERT_EQ(ImgFlattenHistogram(&g8r, &inner), 1);
    for (CImgBuff* img : {&g8, &g16, &rgb, &g8r}) results.push_back(ktest::Block(*img));
    const std::string script = std::string(kNumpyFlatten) +
        "a = np.fromfile(sys.argv[1], np.uint8).reshape(29, 37)\n"
        "o1 = flatten(a, 255, 16843009).astype(np.uint8)\n"
        "a = np.fromfile(sys.argv[2], np.uint16).reshape(15, 20)\n"
        "o2 = flatten(a, 65535, 65537).astype(np.uint16)\n"
        "a = np.fromfile(sys.argv[3], np.uint8).reshape(26, 30, 3)\n"
        "for c in range(3):\n"
        "    a[3:23, 4:26, c] = flatten(a[3:23, 4:26, c], 255, 16843009)\n"
        "b = np.fromfile(sys.argv[4], np.uint8).reshape(30, 40)\n"
        "b[4:26, 5:35] = flatten(b[4:26, 5:35], 255, 16843009)\n"
        "open(sys.argv[-1], 'wb').write(o1.tobytes() + o2.tobytes() + a.tobytes() + b.tobytes())\n";
    ktest::ExpectConcatenated(results, ktest::RunNumpy(script, inputs));
}

TEST(Equalize, SmallRegions) {
    for (int32_t f : {kImgGray8, kImgGray16, kImgGray32}) {
        CImgBuff one;
        ASSERT_TRUE(one.buffer->Create(1, 1, f));
        ASSERT_EQ(ImgFlattenHistogram(&one, nullptr), 1);
        uint32_t v = 0;
        one.buffer->GetPixelGray32(0, 0, &v);
        EXPECT_EQ(v, 0xFFFFFFFFu) << ImgFormatName(f);
    }
    CImgBuff three;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(three, 3, 1, kImgGray8, {10, 30, 20}));
    ASSERT_EQ(ImgFlattenHistogram(&three, nullptr), 1);
    EXPECT_EQ(ktest::Values<uint8_t>(three), (std::vector<uint8_t>{85, 255, 170}));
    CImgBuff two;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(two, 1, 2, kImgGray8, {5, 9}));
    ASSERT_EQ(ImgFlattenHistogram(&two, nullptr), 1);
    EXPECT_EQ(ktest::Values<uint8_t>(two), (std::vector<uint8_t>{127, 255}));

    // Equal levels: the brighter neighbourhood ranks first.
    CImgBuff tie;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(tie, 5, 1, kImgGray8, {0, 50, 0, 50, 200}));
    ASSERT_EQ(ImgFlattenHistogram(&tie, nullptr), 1);
    const auto v = ktest::Values<uint8_t>(tie);
    EXPECT_GT(v[3], v[1]);
}

// A uniform region becomes a row-major ramp with equal shares: 1000 pixels
// give 3, 4, 4, ... pixels to levels 255, 254, 253, ...; a colour region
// becomes the same ramp in R, G and B.
TEST(Equalize, UniformRegionBecomesARamp) {
    CImgBuff img;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(img, 40, 25, kImgGray8, std::vector<uint8_t>(1000, 7)));
    ASSERT_EQ(ImgFlattenHistogram(&img, nullptr), 1);
    const auto v = ktest::Values<uint8_t>(img);
    EXPECT_TRUE(std::is_sorted(v.rbegin(), v.rend()));
    std::map<int, int> counts;
    for (uint8_t x : v) ++counts[x];
    EXPECT_EQ(counts[255], 3);
    EXPECT_EQ(counts[254], 4);
    EXPECT_EQ(counts[253], 4);
    for (const auto& [level, n] : counts) EXPECT_TRUE(n == 3 || n == 4) << level;
    EXPECT_EQ(v.back(), 0);

    CImgBuff colour;
    ASSERT_TRUE(ktest::MakeFrom<uint16_t>(colour, 20, 20, kImgRgb16, std::vector<uint16_t>(1200, 300)));
    ASSERT_EQ(ImgFlattenHistogram(&colour, nullptr), 1);
    const auto c = ktest::Values<uint16_t>(colour);
    for (size_t i = 0; i < 400; ++i) {
        ASSERT_EQ(c[3 * i], c[3 * i + 1]);
        ASSERT_EQ(c[3 * i], c[3 * i + 2]);
        if (i) {
            ASSERT_LT(c[3 * i], c[3 * i - 3]);  // 400 pixels, 65536 levels: strictly falling
        }
    }
}

// Regions wider than 65536 pixels keep every coordinate.
TEST(Equalize, RegionWiderThan65536) {
    const int w = 70000;
    CImgBuff img;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(img, w, 2, kImgGray8, std::vector<uint8_t>(2 * w, 7)));
    ASSERT_EQ(ImgFlattenHistogram(&img, nullptr), 1);
    const auto v = ktest::Values<uint8_t>(img);
    EXPECT_TRUE(std::is_sorted(v.rbegin(), v.rend()));
    std::vector<int> counts(256);
    for (uint8_t x : v) ++counts[x];
    for (int n : counts) EXPECT_TRUE(n == 546 || n == 547) << n;
}

// Larger images against the same numpy ranking: an 8-bit image whose
// pixels are mostly one level, so that one bucket of the sort holds most
// records and is sorted over the pool, with long runs of equal keys across
// the row bands; and a 32-bit image whose levels share their top 16 bits in
// a few groups, so that the order inside a group is decided by the low
// bits of the level and then by the neighbourhood.
TEST(Equalize, LargeBucketsAndWideLevelsMatchNumpy) {
    CImgBuff g8, g32;
    ASSERT_TRUE(ktest::MakeNoise(g8, 310, 300, kImgGray8, 41));
    uint8_t* p = g8.buffer->pixels;
    for (size_t i = 0; i < 310 * 300; ++i)
        if (p[i] % 8 != 0) p[i] = 7;
    ASSERT_TRUE(ktest::MakeNoise(g32, 190, 170, kImgGray32, 42));
    uint32_t* q = reinterpret_cast<uint32_t*>(g32.buffer->pixels);
    for (size_t i = 0; i < 190 * 170; ++i) {
        const uint32_t top = (q[i] >> 29) * 0x24920000u;  // eight groups, the highest near the top of the range
        q[i] = top | (i % 5 == 0 ? 0x1234u : (q[i] & 0xFFFFu));
    }
    const std::vector<std::string> inputs{ktest::Block(g8), ktest::Block(g32)};
    for (CImgBuff* img : {&g8, &g32}) ASSERT_EQ(ImgFlattenHistogram(img, nullptr), 1);
    const std::string script = std::string(kNumpyFlatten) +
        "a = np.fromfile(sys.argv[1], np.uint8).reshape(300, 310)\n"
        "o1 = flatten(a, 255, 16843009).astype(np.uint8)\n"
        "a = np.fromfile(sys.argv[2], np.uint32).reshape(170, 190)\n"
        "o2 = flatten(a, 4294967295, 1).astype(np.uint32)\n"
        "open(sys.argv[-1], 'wb').write(o1.tobytes() + o2.tobytes())\n";
    const std::string expected = ktest::RunNumpy(script, inputs);
    // Compared whole; on a mismatch only its first byte is named.
    const std::string got = ktest::Block(g8) + ktest::Block(g32);
    ASSERT_EQ(got.size(), expected.size());
    const auto diff = std::mismatch(got.begin(), got.end(), expected.begin());
    EXPECT_TRUE(diff.first == got.end()) << "first difference at byte " << (diff.first - got.begin());
}

// Levels whose pixels fill whole shares: each level of a 64 x 32 image 8
// pixels (shares of 8), and the levels of a 33 x 31 image as many pixels as
// the uneven shares of 1023 / 256 give in turn, scattered: no level is cut
// by a share boundary, and every level must still get the ranking's level.
TEST(Equalize, LevelsFillingWholeSharesMatchNumpy) {
    CImgBuff a, b;
    ASSERT_TRUE(a.buffer->Create(64, 32, kImgGray8));
    ASSERT_TRUE(b.buffer->Create(33, 31, kImgGray8));
    for (uint32_t i = 0; i < 64 * 32; ++i) a.buffer->pixels[i] = static_cast<uint8_t>(i * 1031u % 2048u / 8u);
    double carried = 0.0;
    uint32_t at = 0;
    for (int32_t level = 255; level >= 0; --level) {
        carried += 1023.0 / 256.0;
        const double k = std::trunc(carried);
        carried -= k;
        for (int32_t i = 0; i < static_cast<int32_t>(k); ++i, ++at) b.buffer->pixels[at * 601u % 1023u] = static_cast<uint8_t>(level);
    }
    ASSERT_EQ(at, 1023u);
    const std::vector<std::string> inputs{ktest::Block(a), ktest::Block(b)};
    for (CImgBuff* img : {&a, &b}) ASSERT_EQ(ImgFlattenHistogram(img, nullptr), 1);
    const std::string script = std::string(kNumpyFlatten) +
        "a = np.fromfile(sys.argv[1], np.uint8).reshape(32, 64)\n"
        "o1 = flatten(a, 255, 16843009).astype(np.uint8)\n"
        "a = np.fromfile(sys.argv[2], np.uint8).reshape(31, 33)\n"
        "o2 = flatten(a, 255, 16843009).astype(np.uint8)\n"
        "open(sys.argv[-1], 'wb').write(o1.tobytes() + o2.tobytes())\n";
    const std::string expected = ktest::RunNumpy(script, inputs);
    EXPECT_TRUE(ktest::Block(a) == expected.substr(0, 64 * 32));
    EXPECT_TRUE(ktest::Block(b) == expected.substr(64 * 32));
}

// Pixels of one level whose neighbourhoods lie just below and just above
// the point where the key saturates (a mean of half the 32-bit range): the
// keys then differ by as little as 1 and must still be told apart. Levels
// are drawn from {1, half - 1, half}, so that many neighbourhood sums land
// there, in 8- and 16-bit images (the 16-bit one large enough for equal
// shares).
TEST(Equalize, KeysNearSaturationKeepTheirOrder) {
    CImgBuff g8, g16;
    ASSERT_TRUE(ktest::MakeNoise(g8, 64, 48, kImgGray8, 51));
    ASSERT_TRUE(ktest::MakeNoise(g16, 300, 240, kImgGray16, 52));
    uint16_t* q = reinterpret_cast<uint16_t*>(g16.buffer->pixels);
    for (size_t i = 0; i < 64 * 48; ++i) {
        const int pick = g8.buffer->pixels[i] % 3;
        g8.buffer->pixels[i] = pick == 0 ? 1 : pick == 1 ? 127 : 128;
    }
    for (size_t i = 0; i < 300 * 240; ++i) q[i] = (q[i] % 3 == 0) ? 1 : (q[i] % 3 == 1) ? 32767 : 32768;
    const std::vector<std::string> inputs{ktest::Block(g8), ktest::Block(g16)};
    for (CImgBuff* img : {&g8, &g16}) ASSERT_EQ(ImgFlattenHistogram(img, nullptr), 1);
    const std::string script = std::string(kNumpyFlatten) +
        "a = np.fromfile(sys.argv[1], np.uint8).reshape(48, 64)\n"
        "o1 = flatten(a, 255, 16843009).astype(np.uint8)\n"
        "a = np.fromfile(sys.argv[2], np.uint16).reshape(240, 300)\n"
        "o2 = flatten(a, 65535, 65537).astype(np.uint16)\n"
        "open(sys.argv[-1], 'wb').write(o1.tobytes() + o2.tobytes())\n";
    const std::string expected = ktest::RunNumpy(script, inputs);
    EXPECT_TRUE(ktest::Block(g8) == expected.substr(0, 64 * 48)) << "grey8";
    EXPECT_TRUE(ktest::Block(g16) == expected.substr(64 * 48)) << "grey16";
}

TEST(Equalize, Refusals) {
    CImgBuff img;
    ASSERT_TRUE(ktest::MakeNoise(img, 6, 6, kImgRgb8, 3));
    const std::string before = ktest::Block(img);
    const ImgRect outside{7, 0, 9, 3};
    EXPECT_EQ(ImgFlattenHistogram(&img, &outside), 0);
    EXPECT_EQ(ktest::Block(img), before);
    CImgBuff empty;
    EXPECT_EQ(ImgFlattenHistogram(&empty, nullptr), 0);
    EXPECT_EQ(ImgFlattenGray(&img, 6, 6), 0);  // not grey
    CImgBuff grey;
    ASSERT_TRUE(grey.buffer->Create(4, 4, kImgGray8));
    EXPECT_EQ(ImgFlattenGray(&grey, 5, 4), 0);  // size does not match
}

}  // namespace
