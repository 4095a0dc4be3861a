// The colour-transform cache: lazy fills counted, deep pixels interpolated,
// white balance against the numpy L*a*b* model, colour correction, and the
// white estimate against numpy means.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "image/colour.h"
#include "image/kernels/colour_lut.h"
#include "image/pool.h"
#include "support/kernel_test_util.h"
#include "support/testsupport.h"

namespace {

std::string PixelRules() { return kvtest::ReadFileBytes(std::string(KV_SOURCE_DIR) + "/tests/image/oracle/pixel_rules.py"); }

struct Counter {
    std::atomic<uint64_t>* calls;
};

void CountingIdentity(uint8_t*, uint8_t*, uint8_t*, void* params) { static_cast<Counter*>(params)->calls->fetch_add(1); }
void Negative(uint8_t* r, uint8_t* g, uint8_t* b, void*) { *r = 255 - *r, *g = 255 - *g, *b = 255 - *b; }

struct Lut {
    ColorLut* p;
    explicit Lut(ColorLut* c) : p(c) {}
    ~Lut() { ImgColorLutDestroy(p); }
};

TEST(ColorLut, FillsEachCellOnceWith64Calls) {
    std::atomic<uint64_t> calls{0};
    Lut lut(ImgColorLutCreate());
    ASSERT_NE(lut.p, nullptr);
    auto* counter = static_cast<Counter*>(ImgColorLutSetFunction(lut.p, CountingIdentity, sizeof(Counter)));
    ASSERT_NE(counter, nullptr);
    counter->calls = &calls;
    uint8_t r = 17, g = 200, b = 3;
    ASSERT_EQ(ImgColorLutLookup(lut.p, &r, &g, &b), 1);
    EXPECT_TRUE(r == 17 && g == 200 && b == 3);
    EXPECT_EQ(calls.load(), 64u);
    r = 18, g = 203, b = 0;  // the same cell
    ASSERT_EQ(ImgColorLutLookup(lut.p, &r, &g, &b), 1);
    EXPECT_EQ(calls.load(), 64u);
    r = 20;  // the next cell
    ASSERT_EQ(ImgColorLutLookup(lut.p, &r, &g, &b), 1);
    EXPECT_EQ(calls.load(), 128u);

    // Every colour of an image on all threads: one fill per cell it touches,
    // and the image unchanged by the identity.
    CImgBuff img;
    ASSERT_TRUE(ktest::MakeNoise(img, 300, 200, kImgRgb8, 5));
    const std::string before = ktest::Block(img);
    calls = 0;
    ASSERT_EQ(ImgColorLutSetFunction(lut.p, CountingIdentity, sizeof(Counter)) != nullptr, true);
    static_cast<Counter*>(lut.p->params)->calls = &calls;
    ASSERT_EQ(ImgColorLutApply(lut.p, &img), 1);
    EXPECT_EQ(ktest::Block(img), before);
    std::vector<bool> seen(kColorLutCells);
    uint64_t cells = 0;
    const uint8_t* p = img.buffer->pixels;
    for (int i = 0; i < 300 * 200; ++i, p += 3) {
        const uint32_t c = (p[0] >> 2) << 12 | (p[1] >> 2) << 6 | (p[2] >> 2);
        if (!seen[c]) seen[c] = true, ++cells;
    }
    EXPECT_EQ(calls.load(), 64 * cells);
    // A second apply fills nothing.
    ASSERT_EQ(ImgColorLutApply(lut.p, &img), 1);
    EXPECT_EQ(calls.load(), 64 * cells);
}

TEST(ColorLut, IdentityKeepsDeepPixels) {
    std::atomic<uint64_t> calls{0};
    Lut lut(ImgColorLutCreate());
    static_cast<Counter*>(ImgColorLutSetFunction(lut.p, CountingIdentity, sizeof(Counter)))->calls = &calls;
    // Every 16-bit level in every channel, and grey 16-bit through its RGB copy.
    std::vector<uint16_t> levels(3 * 65536);
    for (uint32_t v = 0; v < 65536; ++v) levels[3 * v] = uint16_t(v), levels[3 * v + 1] = uint16_t(65535 - v), levels[3 * v + 2] = uint16_t(v * 7);
    CImgBuff rgb16, grey16;
    ASSERT_TRUE(ktest::MakeFrom<uint16_t>(rgb16, 256, 256, kImgRgb16, levels));
    ASSERT_TRUE(ktest::MakeFrom<uint16_t>(grey16, 256, 256, kImgGray16, std::vector<uint16_t>(levels.begin(), levels.begin() + 65536)));
    for (CImgBuff* img : {&rgb16, &grey16}) {
        const std::string before = ktest::Block(*img);
        ASSERT_EQ(ImgColorLutApply(lut.p, img), 1);
        EXPECT_EQ(ktest::Block(*img), before) << ImgFormatName(img->buffer->format);
    }
    CImgBuff rgb32;
    ASSERT_TRUE(ktest::MakeNoise(rgb32, 64, 64, kImgRgb32, 9));
    const std::vector<uint32_t> before = ktest::Values<uint32_t>(rgb32);
    ASSERT_EQ(ImgColorLutApply(lut.p, &rgb32), 1);
    const std::vector<uint32_t> after = ktest::Values<uint32_t>(rgb32);
    for (size_t i = 0; i < before.size(); ++i) EXPECT_LE(std::llabs(int64_t(before[i]) - int64_t(after[i])), 1) << i;

    // 65535 takes T(255); 65280 lies between levels 254 and 255.
    Lut neg(ImgColorLutCreate());
    ImgColorLutSetFunction(neg.p, Negative, 0);
    CImgBuff top;
    ASSERT_TRUE(ktest::MakeFrom<uint16_t>(top, 2, 1, kImgRgb16, {65535, 65280, 0, 65280, 257, 65535}));
    ASSERT_EQ(ImgColorLutApply(neg.p, &top), 1);
    // 65280: 257 + (65280 - 65278) / 257 x (0 - 257) = 255.
    EXPECT_EQ(ktest::Values<uint16_t>(top), (std::vector<uint16_t>{0, 255, 65535, 255, 65278, 0}));

    // No function: unchanged; a null cache or an empty image: refused.
    Lut none(ImgColorLutCreate());
    EXPECT_EQ(ImgColorLutApply(none.p, &top), 1);
    EXPECT_EQ(ImgColorLutApply(nullptr, &top), 0);
    CImgBuff empty;
    EXPECT_EQ(ImgColorLutApply(neg.p, &empty), 0);
    EXPECT_EQ(ImgColorLutDestroy(nullptr), 0);
}

// Every format through its working copy: the negative of the cache equals
// the negative of the 8-bit colour for 8-bit formats.
TEST(ColorLut, FormatsGoThroughTheirWorkingCopies) {
    Lut neg(ImgColorLutCreate());
    ImgColorLutSetFunction(neg.p, Negative, 0);
    for (int32_t f : ktest::kAllFormats) {
        CImgBuff img;
        ASSERT_TRUE(ktest::MakeNoise(img, 17, 9, f, 3));
        CImgBuff copy;
        copy.CopyFrom(&img);
        ASSERT_EQ(ImgColorLutApply(neg.p, &img), 1) << ImgFormatName(f);
        EXPECT_EQ(img.buffer->format, f);
        if (f == kImgRgb8 || f == kImgGray8) {
            for (int x = 0; x < 17; ++x) {
                uint8_t r0, g0, b0, r, g, b;
                copy.GetPixelRgb8(x, 4, &r0, &g0, &b0);
                img.GetPixelRgb8(x, 4, &r, &g, &b);
                EXPECT_TRUE(r == 255 - r0 && g == 255 - g0 && b == 255 - b0) << ImgFormatName(f) << " " << x;
            }
        } else {
            EXPECT_NE(ktest::Block(img), ktest::Block(copy)) << ImgFormatName(f);
        }
    }
}

TEST(ColorLut, WhiteBalanceMatchesLabModel) {
    const double ref[3] = {0.85, 0.7, 0.5};
    Lut lut(ImgColorLutCreateWhiteBalance(ref[0], ref[1], ref[2]));
    ASSERT_NE(lut.p, nullptr);
    CImgBuff img;
    ASSERT_TRUE(ktest::MakeNoise(img, 64, 32, kImgRgb8, 11));
    // The reference colour itself in pixel 0.
    img.SetPixelRgb8(0, 0, uint8_t(ref[0] * 255), uint8_t(ref[1] * 255), uint8_t(ref[2] * 255));
    const std::string input = ktest::Block(img);
    ASSERT_EQ(ImgColorLutApply(lut.p, &img), 1);
    const std::string script = PixelRules() + R"(
grey = []
for v in range(256):
    grey.append(xyz_to_lab(*srgb_to_xyz(v / 255.0, v / 255.0, v / 255.0)))
l0, a0, b0 = xyz_to_lab(*srgb_to_xyz(0.85, 0.7, 0.5))
best = min(range(256), key=lambda v: (abs(grey[v][0] - l0), v))
da, db = grey[best][1] - a0, grey[best][2] - b0
px = np.fromfile(sys.argv[1], np.uint8).reshape(-1, 3)
out = []
for r, g, b in px:
    l, a, bb = xyz_to_lab(*srgb_to_xyz(r / 255.0, g / 255.0, b / 255.0))
    c = xyz_to_srgb(*lab_to_xyz(l, a + da, bb + db))
    out.append([int(math.trunc(v * U32)) >> 24 for v in c])
np.array(out, np.uint8).tofile(sys.argv[-1])
)";
    const std::string expected = ktest::RunNumpy(script, {input});
    const std::string ours = ktest::Block(img);
    ASSERT_EQ(expected.size(), ours.size());
    for (size_t i = 0; i < ours.size(); ++i) EXPECT_LE(std::abs(int(uint8_t(ours[i])) - int(uint8_t(expected[i]))), 1) << i;
    // The reference becomes the neutral grey of its lightness.
    uint8_t r, g, b;
    img.GetPixelRgb8(0, 0, &r, &g, &b);
    EXPECT_LE(std::max({r, g, b}) - std::min({r, g, b}), 2) << int(r) << "," << int(g) << "," << int(b);

    // A reference without a number gives a cache whose colours are defined.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    Lut bad(ImgColorLutCreateWhiteBalance(nan, 0.5, 0.5));
    ASSERT_NE(bad.p, nullptr);
    uint8_t c[3] = {10, 20, 30};
    EXPECT_EQ(ImgColorLutLookup(bad.p, &c[0], &c[1], &c[2]), 1);
}

TEST(ColorLut, ColourCorrection) {
    const double r[6] = {0.9, 0.8, 0.2, 0.1, 0.2, 0.8}, g[6] = {0.2, 0.8, 0.9, 0.7, 0.1, 0.1}, b[6] = {0.1, 0.1, 0.2, 0.9, 0.9, 0.7};
    // Targets equal to the sources, flags clear: colours keep within the
    // truncations of 16-bit HSV.
    {
        Lut lut(ImgColorLutCreateColorCorrection(r, g, b, r, g, b, 0, 0));
        ASSERT_NE(lut.p, nullptr);
        CImgBuff img;
        ASSERT_TRUE(ktest::MakeNoise(img, 128, 64, kImgRgb8, 21));
        const std::string before = ktest::Block(img);
        ASSERT_EQ(ImgColorLutApply(lut.p, &img), 1);
        const std::string after = ktest::Block(img);
        for (size_t i = 0; i < before.size(); ++i) EXPECT_LE(std::abs(int(uint8_t(before[i])) - int(uint8_t(after[i]))), 1) << i;
    }
    // Degenerate sets: neighbouring equal hues (also sixth and first), no
    // saturation, no value; equal hues that are not neighbours are accepted.
    struct Case {
        const char* name;
        int a, b;  // colour a copied over colour b
        bool accepted;
    };
    const Case cases[] = {{"neighbours", 1, 2, false}, {"last and first", 0, 5, false}, {"apart", 0, 3, true}};
    for (const Case& c : cases) {
        double rr[6], gg[6], bb[6];
        std::memcpy(rr, r, sizeof rr), std::memcpy(gg, g, sizeof gg), std::memcpy(bb, b, sizeof bb);
        rr[c.b] = rr[c.a], gg[c.b] = gg[c.a], bb[c.b] = bb[c.a];
        Lut lut(ImgColorLutCreateColorCorrection(rr, gg, bb, nullptr, nullptr, nullptr, 1, 1));
        EXPECT_EQ(lut.p != nullptr, c.accepted) << c.name;
    }
    Lut noSat(ImgColorLutCreateColorCorrection(r, g, b, r, r, r, 0, 0));
    EXPECT_EQ(noSat.p, nullptr);
    const double zero[6] = {0, 0, 0, 0, 0, 0};
    Lut noVal(ImgColorLutCreateColorCorrection(zero, zero, zero, nullptr, nullptr, nullptr, 0, 0));
    EXPECT_EQ(noVal.p, nullptr);

    // Default targets, both flags: a colour with source k's hue, saturation
    // and value becomes the pure hue k.
    const double dr[6] = {0.8, 0.6, 0.2, 0.2, 0.3, 0.6}, dg[6] = {0.2, 0.6, 0.7, 0.6, 0.3, 0.2}, db[6] = {0.2, 0.2, 0.2, 0.6, 0.7, 0.6};
    Lut def(ImgColorLutCreateColorCorrection(dr, dg, db, nullptr, nullptr, nullptr, 1, 1));
    ASSERT_NE(def.p, nullptr);
    const auto* params = static_cast<const ColorCorrectionParams*>(def.p->params);
    const uint16_t hues[6] = {0, 10923, 21845, 32768, 43703, 54613};
    int checked = 0;
    for (int k = 0; k < 6; ++k) {
        uint8_t c[3] = {uint8_t(dr[k] * 255), uint8_t(dg[k] * 255), uint8_t(db[k] * 255)};
        uint16_t h, s, v;
        ImgRgb16ToHsv16(c[0] * 257, c[1] * 257, c[2] * 257, &h, &s, &v);
        if (h != params->sourceHue[k] || s != params->sourceSat[k] || v != params->sourceVal[k]) continue;  // 8-bit rounding
        ASSERT_EQ(ImgColorLutLookup(def.p, &c[0], &c[1], &c[2]), 1);
        ++checked;
        uint16_t e[3];
        ImgHsv16ToRgb16(hues[k], 65535, 65535, &e[0], &e[1], &e[2]);
        EXPECT_TRUE(c[0] == e[0] >> 8 && c[1] == e[1] >> 8 && c[2] == e[2] >> 8) << k;
    }
    EXPECT_GT(checked, 2);
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(params->targetHue[k], hues[k]);
        EXPECT_EQ(params->targetSat[k], 65535);
    }
}

// Whole-image and block means against numpy, the blocks-used flag and the
// refused limits.
TEST(ColorLut, WhiteEstimateMatchesNumpy) {
    struct Case {
        int32_t w, h, format;
        uint32_t sat, bright;
        int32_t blocks;  // expected flag
    };
    const Case cases[] = {{100, 100, kImgRgb8, 60, 40, 0}, {128, 128, kImgRgb16, 60, 40, 1}, {200, 150, kImgRgb8, 100, 10, 1},
                          {150, 140, kImgRgb8, 0, 0, 0},    {130, 129, kImgGray16, 0, 30, 1}};
    std::vector<std::string> inputs, results;
    std::string list = "cases = [";
    for (const Case& c : cases) {
        CImgBuff img;
        ASSERT_TRUE(img.buffer->Create(c.w, c.h, c.format));
        // Smooth colours with some dark and some saturated areas.
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x)
                img.SetPixelRgb16(x, y, uint16_t(30000 + 30000 * std::sin(x * 0.05)), uint16_t(20000 + 20000 * std::cos(y * 0.07)),
                                  uint16_t((x * 311 + y * 97) % 65536));
        inputs.push_back(ktest::Block(img));
        double rgb[3] = {-1, -1, -1};
        int32_t used = -1;
        ASSERT_EQ(ImgEstimateWhiteBalance(&img, &rgb[0], &rgb[1], &rgb[2], c.sat, c.bright, &used), 1);
        EXPECT_EQ(used, c.blocks) << c.w;
        results.push_back(std::string(reinterpret_cast<const char*>(rgb), sizeof rgb));
        list += "(" + std::to_string(c.w) + "," + std::to_string(c.h) + "," + std::to_string(c.format) + "," + std::to_string(c.sat) +
                "," + std::to_string(c.bright) + "),";
    }
    const std::string script = list + "]\n" + R"(
out = b''
for i, (w, h, fmt, sat, bright) in enumerate(cases):
    if fmt == 4:
        a = np.fromfile(sys.argv[1 + i], np.uint8).reshape(h, w, 3).astype(np.float64) * 257
    elif fmt == 5:
        a = np.fromfile(sys.argv[1 + i], np.uint16).reshape(h, w, 3).astype(np.float64)
    else:
        a = np.repeat(np.fromfile(sys.argv[1 + i], np.uint16).reshape(h, w, 1).astype(np.float64), 3, axis=2)
    ceiling = 65535 if sat == 0 else sat * 65535 // 100
    floor = bright * 65535 // 100
    means = None
    if (ceiling < 65535 or floor > 0) and w >= 128 and h >= 128:
        bw, bh = w // 16, h // 16
        kept = []
        for y0 in range(0, h, bh):
            for x0 in range(0, w, bw):
                m = a[y0:y0 + bh, x0:x0 + bw].reshape(-1, 3).mean(0)
                t = np.trunc(m).astype(np.int64)
                v, mn = int(t.max()), int(t.min())
                s = 0 if v == 0 else (v - mn) * 65534 // v
                if s <= ceiling and v >= floor:
                    kept.append(m)
        if kept:
            means = np.array(kept).sum(0) / len(kept)
    if means is None:
        means = a.reshape(-1, 3).sum(0) / (w * h)
    out += (np.trunc(means) / 65535.0).astype(np.float64).tobytes()
open(sys.argv[-1], 'wb').write(out)
)";
    const std::string expected = ktest::RunNumpy(script, inputs);
    ASSERT_EQ(expected.size(), results.size() * 24);
    for (size_t i = 0; i < results.size(); ++i) {
        double ours[3], want[3];
        std::memcpy(ours, results[i].data(), 24);
        std::memcpy(want, expected.data() + 24 * i, 24);
        // Sums in another order may land a truncation on the other side.
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(ours[k], want[k], 1.0 / 65535 + 1e-12) << i << " " << k;
    }
    // All blocks too saturated: the whole-image mean, flag 0.
    CImgBuff red;
    ASSERT_TRUE(red.buffer->Create(128, 128, kImgRgb8));
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) red.SetPixelRgb8(x, y, 255, 0, 0);
    double rr = 0, gg = 1;
    int32_t used = -1;
    ASSERT_EQ(ImgEstimateWhiteBalance(&red, &rr, &gg, nullptr, 60, 40, &used), 1);
    EXPECT_EQ(used, 0);
    EXPECT_EQ(rr, 1.0);
    EXPECT_EQ(gg, 0.0);
    EXPECT_EQ(ImgEstimateWhiteBalance(&red, &rr, nullptr, nullptr, 101, 0, nullptr), 0);
    EXPECT_EQ(ImgEstimateWhiteBalance(&red, &rr, nullptr, nullptr, 0, 101, nullptr), 0);
    CImgBuff empty;
    EXPECT_EQ(ImgEstimateWhiteBalance(&empty, &rr, nullptr, nullptr, 0, 0, nullptr), 0);
    // Saturation limits 0 and 100 both mean no limit.
    double a100[3], a0[3];
    int32_t u100 = -1, u0 = -1;
    ASSERT_EQ(ImgEstimateWhiteBalance(&red, &a100[0], &a100[1], &a100[2], 100, 0, &u100), 1);
    ASSERT_EQ(ImgEstimateWhiteBalance(&red, &a0[0], &a0[1], &a0[2], 0, 0, &u0), 1);
    EXPECT_EQ(std::memcmp(a100, a0, sizeof a0), 0);
    EXPECT_EQ(u0, 0);
}

}  // namespace
