// Template matching: whole-pixel search, coarse to fine, sub-pixel
// refinement and the rotated template set.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "image/kernels/image_compare.h"
#include "image/kernels/image_shift.h"
#include "image/kernels/rotate_scale.h"
#include "image/kernels/template_match.h"
#include "image/pool.h"
#include "support/kernel_test_util.h"
#include "support/testsupport.h"

namespace {

struct Found {
    int32_t result = -7, x = -7, y = -7;
    double score = -7;
    bool operator==(const Found& o) const { return result == o.result && x == o.x && y == o.y && score == o.score; }
};

std::ostream& operator<<(std::ostream& os, const Found& f) {
    return os << "{" << f.result << ", " << f.x << ", " << f.y << ", " << f.score << "}";
}

Found Match(const CImgBuff& a, const CImgBuff& b, int rx, int ry, ImgRect w, int method = 0, int sampling = 0, int pyramid = 0,
            MatchCancelFn cancel = nullptr, void* user = nullptr) {
    Found f;
    f.result = ImgMatchTemplate(&a, &b, rx, ry, w.x0, w.y0, w.x1, w.y1, &f.x, &f.y, method, sampling, pyramid, &f.score, cancel, user);
    return f;
}

// The search as defined on ImgCompareImages: every position of the clipped
// window scored, lowest score, then nearest to (rx, ry), then row-major.
Found Reference(const CImgBuff& a, const CImgBuff& b, int rx, int ry, ImgRect w, int method, int sampling) {
    const int x0 = std::max(w.x0, 0), y0 = std::max(w.y0, 0);
    const int x1 = std::min(w.x1, a.buffer->width - b.buffer->width), y1 = std::min(w.y1, a.buffer->height - b.buffer->height);
    Found f;
    f.result = 0;
    int64_t bestD = 0;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            const double s = ImgCompareImages(&a, &b, x, y, method, sampling);
            if (s < 0) continue;
            const int64_t d = int64_t(x - rx) * (x - rx) + int64_t(y - ry) * (y - ry);
            if (f.result == 0 || s < f.score || (s == f.score && d < bestD)) {
                f = Found{1, x, y, s};
                bestD = d;
            }
        }
    return f;
}

// A smooth texture with a little noise: unique best matches.
void Texture(CImgBuff& img, int w, int h, int32_t format, uint32_t seed) {
    ASSERT_TRUE(img.buffer->Create(w, h, format));
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> noise(-0.03, 0.03);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double p = seed * 0.37;
            const double r = 0.5 + 0.25 * std::sin(0.21 * x + p) * std::cos(0.17 * y - p) + 0.2 * std::sin(0.05 * (x + 2 * y)) + noise(rng);
            const double g = 0.5 + 0.3 * std::cos(0.13 * x - 0.19 * y + p) + noise(rng);
            const double bl = 0.5 + 0.3 * std::sin(0.07 * x * y / 10.0 + p) + noise(rng);
            img.buffer->SetPixelRgbDouble(x, y, r, g, bl);
        }
}

TEST(MatchTemplate, AgreesWithTheComparisonInEveryFormat) {
    for (int32_t fa : ktest::kAllFormats) {
        for (int32_t fb : {fa, int32_t{kImgGray8}, int32_t{kImgRgb16}}) {
            CImgBuff a, b;
            Texture(a, 30, 24, fa, 3);
            ASSERT_TRUE(a.ExtractRect(&b, 11, 7, 19, 13));
            if (b.buffer->format != fb) {
                ASSERT_TRUE(b.buffer->ConvertFormat(static_cast<uint32_t>(fb)));
            }
            for (int method : {0, 1})
                for (int sampling : {0, 1}) {
                    const ImgRect w{6, 3, 15, 11};
                    const Found got = Match(a, b, 10, 8, w, method, sampling);
                    const Found ref = Reference(a, b, 10, 8, w, method, sampling);
                    const std::string what = std::string(ImgFormatName(fa)) + " / " + ImgFormatName(fb) + " method " +
                                             std::to_string(method) + " sampling " + std::to_string(sampling);
                    if (method == 0) {
                        EXPECT_EQ(got, ref) << what;
                    } else {
                        EXPECT_EQ(got.result, ref.result) << what;
                        EXPECT_EQ(got.x, ref.x) << what;
                        EXPECT_EQ(got.y, ref.y) << what;
                        EXPECT_NEAR(got.score, ref.score, 1e-9) << what;
                    }
                }
        }
    }
}

// Every template width from 1 to 70 (all tails of the vector sums) gives
// the same result with scalar, AVX2 and the widest sums.
TEST(MatchTemplate, VectorSumsAgreeWithScalarSums) {
    CImgBuff big;
    ASSERT_TRUE(ktest::MakeNoise(big, 110, 30, kImgRgb8, 5));
    for (int32_t format : {kImgGray8, kImgRgb8}) {
        CImgBuff a;
        a.CopyFrom(&big);
        if (format == kImgGray8) {
            ASSERT_TRUE(a.buffer->ConvertFormat(kImgGray8));
        }
        for (int w = 1; w <= 70; w += (w < 20 ? 1 : 7)) {
            CImgBuff b;
            ASSERT_TRUE(a.ExtractRect(&b, 17, 9, 17 + w - 1, 9 + 5));
            for (int method : {0, 1}) {
                Found by[3];
                for (int level = 0; level < 3; ++level) {
                    ImgMatchLimitVectorLevelForTesting(level);
                    by[level] = Match(a, b, 0, 0, ImgRect{0, 0, 1000, 1000}, method);
                }
                ImgMatchLimitVectorLevelForTesting(2);
                if (method == 0) {
                    EXPECT_EQ(by[0].x, 17);
                    EXPECT_EQ(by[0].y, 9);
                }
                for (int level = 1; level < 3; ++level) {
                    EXPECT_EQ(by[level].x, by[0].x) << "width " << w << " method " << method << " level " << level;
                    EXPECT_EQ(by[level].y, by[0].y);
                    EXPECT_EQ(by[level].score, by[0].score);
                }
                // Another position, not a perfect match, scored the same way too.
                CImgBuff other;
                ASSERT_TRUE(a.ExtractRect(&other, 3, 20, 3 + w - 1, 20 + 5));
                ImgMatchLimitVectorLevelForTesting(0);
                const Found s0 = Match(a, other, 40, 4, ImgRect{30, 0, 60, 12}, method);
                ImgMatchLimitVectorLevelForTesting(2);
                const Found s2 = Match(a, other, 40, 4, ImgRect{30, 0, 60, 12}, method);
                EXPECT_EQ(s0, s2) << "width " << w << " method " << method;
            }
        }
    }
}

// Templates tall enough that the vector sums are emptied into 64 bits
// part-way: the same scores at every level.
TEST(MatchTemplate, TallTemplatesAgreeAtEveryVectorLevel) {
    struct Case {
        int32_t format;
        int w, h, tw, th;
    } cases[] = {{kImgRgb8, 40, 660, 30, 600}, {kImgGray8, 20, 2150, 8, 2101}};
    for (const Case& c : cases) {
        CImgBuff a, b;
        ASSERT_TRUE(ktest::MakeNoise(a, c.w, c.h, c.format, 17));
        ASSERT_TRUE(a.ExtractRect(&b, 3, 20, 3 + c.tw - 1, 20 + c.th - 1));
        for (int method : {0, 1}) {
            Found by[3];
            for (int level = 0; level < 3; ++level) {
                ImgMatchLimitVectorLevelForTesting(level);
                by[level] = Match(a, b, 0, 0, ImgRect{0, 0, 100, 100}, method);
            }
            ImgMatchLimitVectorLevelForTesting(2);
            EXPECT_EQ(by[1], by[0]) << c.tw << " method " << method;
            EXPECT_EQ(by[2], by[0]) << c.tw << " method " << method;
        }
    }
}

TEST(MatchTemplate, EdgeCases) {
    CImgBuff a;
    Texture(a, 20, 16, kImgGray8, 1);
    // A template as large as the image, window (0, 0)-(0, 0).
    EXPECT_EQ(Match(a, a, 0, 0, ImgRect{0, 0, 0, 0}), (Found{1, 0, 0, 0.0}));
    CImgBuff b;
    ASSERT_TRUE(a.ExtractRect(&b, 12, 9, 19, 15));  // 8 x 7 at the bottom-right corner
    // A window reaching past the edges is cut back to the last position.
    EXPECT_EQ(Match(a, b, 12, 9, ImgRect{5, 5, 100, 100}), (Found{1, 12, 9, 0.0}));
    EXPECT_EQ(Match(a, b, 12, 9, ImgRect{-50, -50, 100, 100}), (Found{1, 12, 9, 0.0}));
    // Wholly outside, or the template not fitting at the window start: 0,
    // score -1, outputs untouched.
    for (const ImgRect w : {ImgRect{13, 0, 20, 5}, ImgRect{0, 10, 5, 20}, ImgRect{-20, -20, -5, -5}, ImgRect{INT32_MAX, 0, INT32_MAX, 0}}) {
        const Found f = Match(a, b, 0, 0, w);
        EXPECT_EQ(f, (Found{0, -7, -7, -1.0})) << w.x0 << "," << w.y0;
    }
    CImgBuff empty;
    EXPECT_EQ(Match(a, empty, 0, 0, ImgRect{0, 0, 5, 5}), (Found{0, -7, -7, -1.0}));
    EXPECT_EQ(Match(empty, b, 0, 0, ImgRect{0, 0, 5, 5}), (Found{0, -7, -7, -1.0}));

    // No position with a score (a correlation against an all-zero template):
    // 0 and -1, not a perfect match at (0, 0).
    CImgBuff zero;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(zero, 3, 3, kImgGray8, std::vector<uint8_t>(9, 0)));
    EXPECT_EQ(Match(a, zero, 0, 0, ImgRect{0, 0, 10, 10}, 1), (Found{0, -7, -7, -1.0}));
    EXPECT_EQ(Match(a, zero, 0, 0, ImgRect{0, 0, 10, 10}, 0).result, 1);

    // Far-away preferred points and windows: the distances are formed
    // without overflow.
    const Found far = Match(a, b, INT32_MIN, INT32_MAX, ImgRect{INT32_MIN, INT32_MIN, INT32_MAX - 100, INT32_MAX - 100});
    EXPECT_EQ(far, (Found{1, 12, 9, 0.0}));
}

// Equal scores: the nearer to (rx, ry) wins; equally near, the first in
// row-major order, whatever the split over the pool. A periodic image
// gives many perfect matches.
TEST(MatchTemplate, TiesGoToTheNearestThenTheFirst) {
    CImgBuff tile;
    ASSERT_TRUE(ktest::MakeNoise(tile, 6, 5, kImgGray8, 9));
    CImgBuff a;
    ASSERT_TRUE(a.buffer->Create(60, 50, kImgGray8));
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 60; ++x) *a.buffer->PixelAt(x, y) = *tile.buffer->PixelAt(x % 6, y % 5);
    CImgBuff b;
    ASSERT_TRUE(a.ExtractRect(&b, 0, 0, 9, 7));
    struct Case {
        int rx, ry;
        int x, y;
    } cases[] = {{13, 11, 12, 10}, {15, 12, 12, 10} /* (12,10),(18,10),(12,15),(18,15): (15,12) is nearer to 12,10 and 18,10 equally; first */,
                 {3, 2, 0, 0},     {100, 100, 48, 40}, {-5, 30, 0, 30}};
    for (const Case& c : cases) {
        Found one, all;
        ktest::WithOneAndAllThreads([&] { one = Match(a, b, c.rx, c.ry, ImgRect{0, 0, 59, 49}); },
                                    [&] { all = Match(a, b, c.rx, c.ry, ImgRect{0, 0, 59, 49}); });
        EXPECT_EQ(one, (Found{1, c.x, c.y, 0.0})) << c.rx << "," << c.ry;
        EXPECT_EQ(all, one);
    }
}

// Brute-force SAD in numpy with the tie rules, in 8-bit grey and RGB, on a
// periodic image with ties and a noise image.
TEST(MatchTemplate, MatchesNumpyBruteForce) {
    struct Case {
        int32_t format;
        int w, h, tx, ty, tw, th, rx, ry;
        ImgRect win;
        bool periodic;
    } cases[] = {
        {kImgGray8, 50, 40, 7, 5, 9, 8, 20, 17, {2, 1, 40, 30}, true},  {kImgRgb8, 50, 40, 7, 5, 9, 8, 20, 17, {2, 1, 40, 30}, true},
        {kImgGray8, 64, 48, 30, 20, 33, 17, 5, 40, {0, 0, 63, 47}, false}, {kImgRgb8, 64, 48, 3, 28, 21, 13, 5, 40, {-3, 9, 41, 60}, false},
    };
    std::vector<std::string> inputs;
    std::vector<Found> ours;
    std::string list = "cases = [";
    for (const Case& c : cases) {
        CImgBuff a, b;
        ASSERT_TRUE(ktest::MakeNoise(a, c.w, c.h, c.format, 31));
        if (c.periodic) {
            for (int y = 0; y < c.h; ++y)
                for (int x = 0; x < c.w; ++x)
                    std::memcpy(a.buffer->PixelAt(x, y), a.buffer->PixelAt(x % 7, y % 6), ImgFormatBytes(c.format));
        }
        ASSERT_TRUE(a.ExtractRect(&b, c.tx, c.ty, c.tx + c.tw - 1, c.ty + c.th - 1));
        // Disturb the template a little so that the best is not 0.
        b.buffer->pixels[3] ^= 0x11;
        ASSERT_EQ(PoolSetThreadCount(1), 1);
        ours.push_back(Match(a, b, c.rx, c.ry, c.win));
        ASSERT_EQ(PoolSetThreadCount(PoolGetProcessorCount()), 1);
        EXPECT_EQ(Match(a, b, c.rx, c.ry, c.win), ours.back());
        inputs.push_back(ktest::Block(a));
        inputs.push_back(ktest::Block(b));
        char line[200];
        std::snprintf(line, sizeof line, "(%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d),", ImgFormatBytes(c.format), c.w, c.h, c.tw, c.th, c.rx, c.ry,
                      c.win.x0, c.win.y0, c.win.x1, c.win.y1);
        list += line;
    }
    const std::string script = list + "]\n" + R"(
import struct
out = b''
for k, (C, W, H, tw, th, rx, ry, x0, y0, x1, y1) in enumerate(cases):
    a = np.fromfile(sys.argv[1 + 2 * k], np.uint8).reshape(H, W, C).astype(np.int64)
    b = np.fromfile(sys.argv[2 + 2 * k], np.uint8).reshape(th, tw, C).astype(np.int64)
    x0, y0 = max(x0, 0), max(y0, 0)
    x1, y1 = min(x1, W - tw), min(y1, H - th)
    n = tw * th * C
    best = None
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            s = float(np.abs(a[y:y + th, x:x + tw] - b).sum()) / n / 255.0 * 100.0
            d = (x - rx) ** 2 + (y - ry) ** 2
            if best is None or (s, d) < (best[0], best[1]):
                best = (s, d, x, y)
    out += struct.pack('<iid', best[2], best[3], best[0])
open(sys.argv[-1], 'wb').write(out)
)";
    const std::string expected = ktest::RunNumpy(script, inputs);
    ASSERT_EQ(expected.size(), ours.size() * 16);
    for (size_t k = 0; k < ours.size(); ++k) {
        int32_t x, y;
        double s;
        std::memcpy(&x, expected.data() + 16 * k, 4);
        std::memcpy(&y, expected.data() + 16 * k + 4, 4);
        std::memcpy(&s, expected.data() + 16 * k + 8, 8);
        EXPECT_EQ(ours[k], (Found{1, x, y, s})) << "case " << k;
    }
}

// A textured frame against cv2.matchTemplate (squared differences) with a
// unique minimum: the same position with and without the coarse levels.
TEST(MatchTemplate, AgreesWithOpenCvSquaredDifference) {
    struct Case {
        int32_t format;
        int tx, ty, tw, th;
        ImgRect win;
    } cases[] = {{kImgGray8, 70, 52, 40, 40, {40, 20, 100, 84}}, {kImgRgb8, 101, 33, 48, 36, {61, 0, 141, 70}},
                 {kImgGray8, 20, 90, 20, 20, {0, 60, 50, 120}},  {kImgRgb8, 150, 100, 64, 64, {86, 36, 200, 150}}};
    std::vector<std::string> inputs;
    std::vector<Found> plain, coarse;
    std::string list = "cases = [";
    for (const Case& c : cases) {
        CImgBuff a, b;
        Texture(a, 240, 180, c.format, 5);
        ASSERT_TRUE(a.ExtractRect(&b, c.tx, c.ty, c.tx + c.tw - 1, c.ty + c.th - 1));
        // A slightly different rendering of the scene in the template.
        for (uint64_t i = 0; i < uint64_t(c.tw) * c.th * ImgFormatBytes(c.format); i += 7) b.buffer->pixels[i] ^= 1;
        plain.push_back(Match(a, b, (c.win.x0 + c.win.x1) / 2, (c.win.y0 + c.win.y1) / 2, c.win, 0, 0, 0));
        coarse.push_back(Match(a, b, (c.win.x0 + c.win.x1) / 2, (c.win.y0 + c.win.y1) / 2, c.win, 0, 0, 1));
        inputs.push_back(ktest::Block(a));
        inputs.push_back(ktest::Block(b));
        char line[200];
        std::snprintf(line, sizeof line, "(%d,%d,%d,%d,%d,%d,%d),", ImgFormatBytes(c.format), c.tw, c.th, c.win.x0, c.win.y0, c.win.x1,
                      c.win.y1);
        list += line;
    }
    const std::string script = list + "]\n" + R"(
import cv2, struct
out = b''
for k, (C, tw, th, x0, y0, x1, y1) in enumerate(cases):
    a = np.fromfile(sys.argv[1 + 2 * k], np.uint8).reshape(180, 240, C)
    b = np.fromfile(sys.argv[2 + 2 * k], np.uint8).reshape(th, tw, C)
    x1, y1 = min(x1, 240 - tw), min(y1, 180 - th)
    r = cv2.matchTemplate(a[y0:y1 + th, x0:x1 + tw], b, cv2.TM_SQDIFF)
    mn, _, loc, _ = cv2.minMaxLoc(r)
    out += struct.pack('<ii', loc[0] + x0, loc[1] + y0)
open(sys.argv[-1], 'wb').write(out)
)";
    const std::string expected = ktest::RunNumpy(script, inputs);
    ASSERT_EQ(expected.size(), plain.size() * 8);
    for (size_t k = 0; k < plain.size(); ++k) {
        int32_t xy[2];
        std::memcpy(xy, expected.data() + 8 * k, 8);
        EXPECT_EQ(plain[k].result, 1);
        EXPECT_EQ(plain[k].x, xy[0]) << "case " << k;
        EXPECT_EQ(plain[k].y, xy[1]) << "case " << k;
        EXPECT_EQ(coarse[k].x, xy[0]) << "case " << k << " coarse to fine";
        EXPECT_EQ(coarse[k].y, xy[1]) << "case " << k << " coarse to fine";
        EXPECT_EQ(coarse[k].score, plain[k].score);
    }
}

// The coarse-to-fine search replayed in numpy: halving by 2 x 2 means,
// brute force at the coarsest level, then the 4 x 4 positions around the
// doubled result at each finer level. A 40-pixel template goes down one
// level, an 80-pixel one two, a 20-pixel one none.
TEST(MatchTemplate, CoarseToFineMatchesNumpyReplay) {
    struct Case {
        int tw, th, rx, ry;
        ImgRect win;
        int pyramid;
    } cases[] = {{40, 40, 50, 40, {10, 5, 90, 70}, 1}, {80, 72, 60, 50, {0, 0, 150, 100}, 1}, {20, 20, 60, 50, {10, 5, 90, 70}, 1},
                 {40, 40, 51, 41, {37, 27, 64, 56}, 20}, {41, 43, 30, 30, {-9, -7, 119, 98}, 16}};
    CImgBuff a;
    Texture(a, 200, 160, kImgGray8, 11);
    std::vector<std::string> inputs;
    std::vector<Found> ours;
    std::string list = "cases = [";
    for (const Case& c : cases) {
        CImgBuff b;
        ASSERT_TRUE(a.ExtractRect(&b, 57, 41, 57 + c.tw - 1, 41 + c.th - 1));
        for (uint64_t i = 0; i < b.buffer->width * uint64_t(b.buffer->height); i += 5) b.buffer->pixels[i] += 9;
        ours.push_back(Match(a, b, c.rx, c.ry, c.win, 0, 0, c.pyramid));
        inputs.push_back(ktest::Block(b));
        char line[200];
        std::snprintf(line, sizeof line, "(%d,%d,%d,%d,%d,%d,%d,%d,%d),", c.tw, c.th, c.rx, c.ry, c.win.x0, c.win.y0, c.win.x1, c.win.y1,
                      c.pyramid);
        list += line;
    }
    inputs.push_back(ktest::Block(a));
    const std::string script = list + "]\n" + R"(
import struct
A = np.fromfile(sys.argv[len(cases) + 1], np.uint8).reshape(160, 200).astype(np.int64)
def halve(x):
    h, w = x.shape[0] // 2, x.shape[1] // 2
    x = x[:2 * h, :2 * w]
    return (x[0::2, 0::2] + x[0::2, 1::2] + x[1::2, 0::2] + x[1::2, 1::2]) // 4
def tdiv(v):
    return int(v / 2)
def scan(a, b, rx, ry, x0, y0, x1, y1):
    th, tw = b.shape
    x0, y0 = max(x0, 0), max(y0, 0)
    x1, y1 = min(x1, a.shape[1] - tw), min(y1, a.shape[0] - th)
    best = None
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            s = float(np.abs(a[y:y + th, x:x + tw] - b).sum()) / b.size / 255.0 * 100.0
            d = (x - rx) ** 2 + (y - ry) ** 2
            if best is None or (s, d) < (best[0], best[1]):
                best = (s, d, x, y)
    return best
def match(a, b, rx, ry, x0, y0, x1, y1, p):
    if p:
        m = max(p, 16)
        if b.shape[1] >= 2 * m and b.shape[0] >= 2 * m and x1 - x0 >= m and y1 - y0 >= m:
            c = match(halve(a), halve(b), tdiv(rx), tdiv(ry), tdiv(x0), tdiv(y0), tdiv(x1), tdiv(y1), m)
            bx, by = c[2], c[3]
            rx, ry, x0, x1, y0, y1 = 2 * bx, 2 * by, 2 * bx - 1, 2 * bx + 2, 2 * by - 1, 2 * by + 2
    return scan(a, b, rx, ry, x0, y0, x1, y1)
out = b''
for k, (tw, th, rx, ry, x0, y0, x1, y1, p) in enumerate(cases):
    b = np.fromfile(sys.argv[1 + k], np.uint8).reshape(th, tw).astype(np.int64)
    best = match(A, b, rx, ry, x0, y0, x1, y1, p)
    out += struct.pack('<iid', best[2], best[3], best[0])
open(sys.argv[-1], 'wb').write(out)
)";
    const std::string expected = ktest::RunNumpy(script, inputs);
    ASSERT_EQ(expected.size(), ours.size() * 16);
    for (size_t k = 0; k < ours.size(); ++k) {
        int32_t x, y;
        double s;
        std::memcpy(&x, expected.data() + 16 * k, 4);
        std::memcpy(&y, expected.data() + 16 * k + 4, 4);
        std::memcpy(&s, expected.data() + 16 * k + 8, 8);
        EXPECT_EQ(ours[k], (Found{1, x, y, s})) << "case " << k;
    }
}

std::atomic<int> g_calls{0};
int CancelAfter(void* user) { return ++g_calls >= *static_cast<int*>(user) ? 1 : 0; }

TEST(MatchTemplate, CancelStopsTheSearch) {
    CImgBuff a, b;
    Texture(a, 120, 100, kImgGray8, 2);
    ASSERT_TRUE(a.ExtractRect(&b, 40, 30, 79, 69));
    // Cancelled during the full-size scan: 0.
    int limit = 5;
    g_calls = 0;
    Found f = Match(a, b, 40, 30, ImgRect{0, 0, 80, 60}, 0, 0, 0, CancelAfter, &limit);
    EXPECT_EQ(f.result, 0);
    // Cancelled only by the test after the scan: 0 with the outputs written.
    limit = 81 * 61 + 1;
    g_calls = 0;
    f = Match(a, b, 40, 30, ImgRect{0, 0, 80, 60}, 0, 0, 0, CancelAfter, &limit);
    EXPECT_EQ(f, (Found{0, 40, 30, 0.0}));
    // After a coarse level: its half-scale position with score -1.
    limit = 41 * 31 + 1;
    g_calls = 0;
    f = Match(a, b, 40, 30, ImgRect{0, 0, 80, 60}, 0, 0, 1, CancelAfter, &limit);
    EXPECT_EQ(f, (Found{0, 20, 15, -1.0}));
    // Never cancelling: found.
    limit = 1 << 30;
    g_calls = 0;
    EXPECT_EQ(Match(a, b, 40, 30, ImgRect{0, 0, 80, 60}, 0, 0, 1, CancelAfter, &limit), (Found{1, 40, 30, 0.0}));
}

TEST(Halve, MeansOfTwoByTwoThroughEightBits) {
    CImgBuff g;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(g, 5, 3, kImgGray8, {1, 2, 3, 4, 99, 5, 7, 9, 11, 99, 99, 99, 99, 99, 99}));
    CImgBuff h;
    ASSERT_EQ(ImgHalve(&g, &h), 1);
    EXPECT_EQ(ktest::Values<uint8_t>(h), (std::vector<uint8_t>{3, 6}));  // (1+2+5+7)/4, (3+4+9+11)/4
    // 16-bit grey: 8-bit means stored back widened.
    CImgBuff g16;
    ASSERT_TRUE(ktest::MakeFrom<uint16_t>(g16, 2, 2, kImgGray16, {0x1234, 0x5678, 0x9ABC, 0xDEF0}));
    ASSERT_EQ(ImgHalve(&g16, &h), 1);
    EXPECT_EQ(h.buffer->format, kImgGray16);
    EXPECT_EQ(ktest::Values<uint16_t>(h), (std::vector<uint16_t>{((0x12 + 0x56 + 0x9A + 0xDE) / 4) * 257}));
    // Colour per channel; into itself.
    CImgBuff c;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(c, 2, 2, kImgRgb8, {10, 20, 30, 11, 21, 31, 12, 22, 32, 14, 24, 34}));
    ASSERT_EQ(ImgHalve(&c, &c), 1);
    EXPECT_EQ(ktest::Values<uint8_t>(c), (std::vector<uint8_t>{11, 21, 31}));
    CImgBuff wide;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(wide, 5, 2, kImgRgb8, {1, 2, 3, 5, 6, 7, 9, 10, 11, 13, 14, 15, 99, 99, 99,  //
                                                                 2, 4, 6, 8, 9, 10, 0, 0, 0, 1, 1, 1, 99, 99, 99}));
    ASSERT_EQ(ImgHalve(&wide, &h), 1);
    EXPECT_EQ(ktest::Values<uint8_t>(h), (std::vector<uint8_t>{4, 5, 6, 5, 6, 6}));
    CImgBuff one;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(one, 1, 4, kImgGray8, {1, 2, 3, 4}));
    EXPECT_EQ(ImgHalve(&one, &h), 0);
}

TEST(MatchScoreAt, CutOutOnePixelLarger) {
    CImgBuff a, b;
    Texture(a, 30, 20, kImgRgb8, 4);
    ASSERT_TRUE(a.ExtractRect(&b, 5, 6, 14, 13));
    EXPECT_EQ(ImgMatchScoreAt(&a, &b, 5.0, 6.0, 0, 0), 0.0);
    EXPECT_EQ(ImgMatchScoreAt(&a, &b, 7.0, 3.0, 1, 0), ImgCompareImages(&a, &b, 7, 3, 1, 0));
    // The last integer column at which B fits is refused (the cut-out is wider).
    EXPECT_EQ(ImgMatchScoreAt(&a, &b, 20.0, 3.0, 0, 0), -1.0);
    EXPECT_GE(ImgMatchScoreAt(&a, &b, 19.0, 3.0, 0, 0), 0.0);
    for (double bad : {-1.0, 1e300, std::nan(""), -1e300}) EXPECT_EQ(ImgMatchScoreAt(&a, &b, bad, 3.0, 0, 0), -1.0);
    // A half-pixel position compares A shifted by half a pixel.
    CImgBuff cut;
    ASSERT_TRUE(a.ExtractRect(&cut, 5, 6, 15, 14));
    ASSERT_EQ(ImgShiftSubpixel(&cut, -0.5, -0.25, 0), 1);
    EXPECT_EQ(ImgMatchScoreAt(&a, &b, 5.5, 6.25, 0, 0), ImgCompareImages(&cut, &b, 0, 0, 0, 0));
}

// The recursive quadrant search replayed in numpy on frames shifted by
// fractions of a pixel (scores from the blend of the sub-pixel shift and
// the difference of 8-bit grey samples): the same position and score. The
// result also lies near the true offset.
TEST(RefineMatch, MatchesNumpyReplay) {
    CImgBuff frame;
    Texture(frame, 48, 40, kImgGray8, 7);
    CImgBuff b;
    ASSERT_TRUE(frame.ExtractRect(&b, 18, 14, 29, 23));
    const double shifts[][2] = {{0.3, -0.6}, {-0.25, 0.5}, {0.7, 0.2}, {0.0, 0.45}};
    std::vector<std::string> inputs;
    std::vector<double> ours;
    std::string list = "cases = [";
    for (const auto& sh : shifts) {
        CImgBuff a;
        a.CopyFrom(&frame);
        ASSERT_EQ(ImgShiftSubpixel(&a, sh[0], sh[1], 0), 1);
        for (double step : {0.1, 0.5}) {
            double x = 0, y = 0, sc = -5;
            ASSERT_EQ(ImgRefineMatchAroundPixel(&a, &b, 18, 14, &x, &y, 0, 0, step, &sc, nullptr, nullptr), 1);
            EXPECT_NEAR(x, 18 + sh[0], 0.5);
            EXPECT_NEAR(y, 14 + sh[1], 0.5);
            ours.insert(ours.end(), {x, y, sc});
            inputs.push_back(ktest::Block(a));
            list += "(" + std::to_string(step) + "),";
        }
    }
    inputs.push_back(ktest::Block(b));
    const std::string script = list + "]\n" + R"(
import math
B = np.fromfile(sys.argv[len(cases) + 1], np.uint8).reshape(10, 12).astype(np.float64)
def blend(s, f, axis):
    # content moves by f (|f| < 1) along the axis; the uncovered edge blends with 0
    g = abs(f)
    n = np.roll(s, 1 if f > 0 else -1, axis=axis)
    idx = [slice(None)] * 2
    idx[axis] = 0 if f > 0 else -1
    n[tuple(idx)] = 0.0
    v = (1.0 - g) * s + g * n
    return np.where(v >= 255.0, 255.0, np.trunc(v))
def score_at(A, x, y):
    ix, iy = int(math.trunc(x)), int(math.trunc(y))
    H, W = A.shape
    if ix < 0 or iy < 0 or ix + 12 >= W or iy + 10 >= H:
        return -1.0
    c = A[iy:iy + 11, ix:ix + 13].copy()
    fx, fy = -(x - ix), -(y - iy)
    if fx != 0: c = blend(c, fx, 1)
    if fy != 0: c = blend(c, fy, 0)
    return float(np.abs(c[:10, :12] - B).sum()) / B.size / 255.0 * 100.0
Q = [(0, 1, 3, 4), (1, 2, 4, 5), (3, 4, 6, 7), (4, 5, 7, 8)]
def refine(A, x0, y0, x1, y1, step):
    cx, cy = (x0 + x1) * 0.5, (y0 + y1) * 0.5
    sc = score_at(A, cx, cy)
    if sc == 0 or sc < 0:
        return cx, cy, sc
    gx, gy = [x0, cx, x1], [y0, cy, y1]
    ps = [sc if p == 4 else score_at(A, gx[p % 3], gy[p // 3]) for p in range(9)]
    chosen, best = None, None
    for q in range(4):
        others = [ps[p] for p in Q[q] if p != 4]
        if min(others) < 0:
            continue
        s = sum(others)
        if chosen is None or s < best:
            chosen, best = q, s
    if chosen is None:
        return cx, cy, sc
    quad = Q[chosen]
    if x1 - x0 > step:
        f, l = quad[0], quad[3]
        rx, ry, rs = refine(A, gx[f % 3], gy[f // 3], gx[l % 3], gy[l // 3], step)
        bx, by, bs, rank = cx, cy, sc, 0
        if rs >= 0 and rs < sc:
            bx, by, bs, rank = rx, ry, rs, 5
        for p in range(9):
            r = abs(p - 4)
            if ps[p] >= 0 and (ps[p] < bs or (ps[p] == bs and r < rank)):
                bx, by, bs, rank = gx[p % 3], gy[p // 3], ps[p], r
        return bx, by, bs
    b = quad[0]
    for p in quad[1:]:
        if ps[p] < ps[b]:
            b = p
    return gx[b % 3], gy[b // 3], ps[b]
out = []
for k, step in enumerate(cases):
    A = np.fromfile(sys.argv[1 + k], np.uint8).reshape(40, 48).astype(np.float64)
    out.extend(refine(A, 17.0, 13.0, 19.0, 15.0, step))
np.array(out, np.float64).tofile(sys.argv[-1])
)";
    const std::string expected = ktest::RunNumpy(script, inputs);
    ASSERT_EQ(expected.size(), ours.size() * 8);
    for (size_t i = 0; i < ours.size(); ++i) {
        double e;
        std::memcpy(&e, expected.data() + 8 * i, 8);
        EXPECT_EQ(ours[i], e) << "case " << i / 3 << " value " << i % 3;
    }
}

// The refinement's scores made without images, checked against the images
// the kernels make: the cut-out shifted by ImgShiftSubpixel, then the
// difference score of ImgCompareImages, or the correlation from exact
// integer sums. Grey and RGB, rows of one and of several vector pieces,
// positions left of the image's first column (content moving right), step
// fractions of 1/2 and 1/4 (integer blends) and 0.1 (blends in doubles), at
// every vector level.
double ShiftedScore(const CImgBuff& a, const CImgBuff& b, double x, double y, int method) {
    const int64_t ix = static_cast<int64_t>(x), iy = static_cast<int64_t>(y);
    const int wB = b.buffer->width, hB = b.buffer->height;
    if (!(std::fabs(x) < 2e9) || ix < 0 || iy < 0 || ix + wB >= a.buffer->width || iy + hB >= a.buffer->height) return -1.0;
    CImgBuff cut;
    EXPECT_TRUE(a.ExtractRect(&cut, int(ix), int(iy), int(ix) + wB, int(iy) + hB));
    EXPECT_EQ(ImgShiftSubpixel(&cut, -(x - double(ix)), -(y - double(iy)), 0), 1);
    if (method == 0) return ImgCompareImages(&cut, &b, 0, 0, 0, 0);
    const int C = b.buffer->format == kImgRgb8 ? 3 : 1;
    int64_t sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    for (int j = 0; j < hB; ++j)
        for (int i = 0; i < wB * C; ++i) {
            const int64_t u = cut.buffer->pixels[int64_t(j) * (wB + 1) * C + i], v = b.buffer->pixels[int64_t(j) * wB * C + i];
            sa += u;
            sb += v;
            saa += u * u;
            sbb += v * v;
            sab += u * v;
        }
    const int64_t n = int64_t(wB) * hB * C;
    const double norm = std::sqrt(double(sbb)) * std::sqrt(double(saa));
    if (!(norm > 0.0)) return -1.0;
    return ImgCompareCorrelationScore(double(n * sab - sa * sb) / double(n) / norm);
}

void ReferenceRefine(const CImgBuff& a, const CImgBuff& b, double x0, double y0, double x1, double y1, double step, int method,
                     double* ox, double* oy, double* os) {
    const double cx = (x0 + x1) * 0.5, cy = (y0 + y1) * 0.5;
    const double sc = ShiftedScore(a, b, cx, cy, method);
    *ox = cx;
    *oy = cy;
    *os = sc;
    if (sc <= 0.0) return;
    const double gx[3] = {x0, cx, x1}, gy[3] = {y0, cy, y1};
    double ps[9];
    for (int p = 0; p < 9; ++p) ps[p] = p == 4 ? sc : ShiftedScore(a, b, gx[p % 3], gy[p / 3], method);
    static constexpr int kQuad[4][4] = {{0, 1, 3, 4}, {1, 2, 4, 5}, {3, 4, 6, 7}, {4, 5, 7, 8}};
    int chosen = -1;
    double chosenSum = 0;
    for (int q = 0; q < 4; ++q) {
        double sum = 0;
        bool valid = true;
        for (int p : kQuad[q])
            if (p != 4) {
                valid = valid && ps[p] >= 0;
                sum += ps[p];
            }
        if (valid && (chosen < 0 || sum < chosenSum)) {
            chosen = q;
            chosenSum = sum;
        }
    }
    if (chosen < 0) return;
    const int* quad = kQuad[chosen];
    if (x1 - x0 > step) {
        double rx, ry, rs;
        ReferenceRefine(a, b, gx[quad[0] % 3], gy[quad[0] / 3], gx[quad[3] % 3], gy[quad[3] / 3], step, method, &rx, &ry, &rs);
        int rank = 0;
        if (rs >= 0 && rs < sc) {
            *ox = rx;
            *oy = ry;
            *os = rs;
            rank = 5;
        }
        for (int p = 0; p < 9; ++p) {
            const int rk = p < 4 ? 4 - p : p - 4;
            if (ps[p] >= 0 && (ps[p] < *os || (ps[p] == *os && rk < rank))) {
                *ox = gx[p % 3];
                *oy = gy[p / 3];
                *os = ps[p];
                rank = rk;
            }
        }
        return;
    }
    int best = quad[0];
    for (int k = 1; k < 4; ++k)
        if (ps[quad[k]] < ps[best]) best = quad[k];
    *ox = gx[best % 3];
    *oy = gy[best / 3];
    *os = ps[best];
}

TEST(RefineMatch, ScoresWithoutImagesEqualTheShiftedCutOut) {
    for (int32_t format : {int32_t{kImgGray8}, int32_t{kImgRgb8}}) {
        CImgBuff frame;
        Texture(frame, 90, 70, format, 5);
        for (int width : {9, 40}) {
            // Where the template was cut, and the window centres the
            // refinement is asked about (the first overlaps column -1).
            CImgBuff b;
            ASSERT_TRUE(frame.ExtractRect(&b, 1, 2, width, 2 + 13));
            const double centres[][2] = {{0, 1}, {1.5, 2.25}, {30, 20}, {90 - width - 2.0, 50}};
            for (const auto& c : centres)
                for (double step : {0.5, 0.25, 0.1})
                    for (int method : {0, 1}) {
                        double ex, ey, es;
                        ReferenceRefine(frame, b, c[0] - 1, c[1] - 1, c[0] + 1, c[1] + 1, step, method, &ex, &ey, &es);
                        for (int32_t level : {0, 1, 2}) {
                            ImgMatchLimitVectorLevelForTesting(level);
                            double x = -9, y = -9, s = -9;
                            ASSERT_EQ(ImgRefineMatchSubpixel(&frame, &b, c[0] - 1, c[1] - 1, c[0] + 1, c[1] + 1, &x, &y, method, 0, step,
                                                             &s, nullptr, nullptr),
                                      1);
                            EXPECT_EQ(x, ex) << format << " " << width << " " << c[0] << " " << step << " " << method << " " << level;
                            EXPECT_EQ(y, ey) << format << " " << width << " " << c[0] << " " << step << " " << method << " " << level;
                            EXPECT_EQ(s, es) << format << " " << width << " " << c[0] << " " << step << " " << method << " " << level;
                        }
                        ImgMatchLimitVectorLevelForTesting(2);
                    }
            // A template that matches perfectly at (-0.5, -0.5): the frame's
            // corner moved right and down by half a pixel, black coming in.
            CImgBuff corner, moved;
            ASSERT_TRUE(frame.ExtractRect(&corner, 0, 0, width, 14));
            ASSERT_EQ(ImgShiftSubpixel(&corner, 0.5, 0.5, 0), 1);
            ASSERT_TRUE(corner.ExtractRect(&moved, 0, 0, width - 1, 13));
            for (int method : {0, 1}) {
                double ex, ey, es;
                ReferenceRefine(frame, moved, -0.5, -0.5, 1.5, 1.5, 0.5, method, &ex, &ey, &es);
                EXPECT_EQ(ex, -0.5);
                EXPECT_EQ(ey, -0.5);
                for (int32_t level : {0, 1, 2}) {
                    ImgMatchLimitVectorLevelForTesting(level);
                    double x = -9, y = -9, s = -9;
                    ASSERT_EQ(ImgRefineMatchSubpixel(&frame, &moved, -0.5, -0.5, 1.5, 1.5, &x, &y, method, 0, 0.5, &s, nullptr, nullptr), 1);
                    EXPECT_EQ(x, ex) << format << " " << width << " " << method << " " << level;
                    EXPECT_EQ(y, ey) << format << " " << width << " " << method << " " << level;
                    EXPECT_EQ(s, es) << format << " " << width << " " << method << " " << level;
                }
                ImgMatchLimitVectorLevelForTesting(2);
            }
        }
    }
}

TEST(RefineMatch, EdgeCases) {
    CImgBuff frame;
    Texture(frame, 80, 60, kImgGray8, 7);
    CImgBuff b;
    ASSERT_TRUE(frame.ExtractRect(&b, 30, 20, 49, 39));
    // Centre score exactly 0: the centre at once.
    double x = -1, y = -1, s = -1;
    ASSERT_EQ(ImgRefineMatchSubpixel(&frame, &b, 29.0, 19.0, 31.0, 21.0, &x, &y, 0, 0, 0.1, &s, nullptr, nullptr), 1);
    EXPECT_EQ(x, 30.0);
    EXPECT_EQ(y, 20.0);
    EXPECT_EQ(s, 0.0);
    // Step 0 (or below, or NaN): 0, nothing written.
    for (double step : {0.0, -1.0, std::nan("")}) {
        x = y = s = -9;
        EXPECT_EQ(ImgRefineMatchAroundPixel(&frame, &b, 30, 20, &x, &y, 0, 0, step, &s, nullptr, nullptr), 0);
        EXPECT_EQ(x, -9.0);
        EXPECT_EQ(s, -9.0);
    }
    // Cancelled before anything: 0, outputs untouched.
    int limit = 1;
    g_calls = 0;
    x = -9;
    EXPECT_EQ(ImgRefineMatchSubpixel(&frame, &b, 29.0, 19.0, 31.0, 21.0, &x, &y, 0, 0, 0.1, &s, CancelAfter, &limit), 0);
    EXPECT_EQ(x, -9.0);
    // No usable score anywhere (outside the frame): the centre with its own score.
    ASSERT_EQ(ImgRefineMatchSubpixel(&frame, &b, 200.0, 200.0, 202.0, 202.0, &x, &y, 0, 0, 0.1, &s, nullptr, nullptr), 1);
    EXPECT_EQ(x, 201.0);
    EXPECT_EQ(s, -1.0);
}

TEST(RotatedTemplates, SetOfThirtySix) {
    CImgBuff src;
    Texture(src, 60, 50, kImgRgb16, 8);
    // 1 x 1: 36 one-pixel entries.
    ImageList* one = ImgMakeRotatedTemplates(&src, 20, 20, 20, 20);
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(one->count, 36u);
    for (int e = 0; e < 36; ++e) {
        EXPECT_EQ(one->images[e].buffer->width, 1);
        EXPECT_EQ(one->images[e].buffer->format, kImgRgb16);
    }
    EXPECT_EQ(ImgDeleteImageList(one), 1);
    EXPECT_EQ(ImgDeleteImageList(nullptr), 0);

    // 10 x 8 at (20, 15): centre (24.5, 18.5), half diagonal 5.70, square
    // (19, 13)-(30, 24). Entry 2 is the square turned by 350 degrees about
    // (24 - 19, 18 - 13), cut at the template's place.
    ImageList* list = ImgMakeRotatedTemplates(&src, 20, 15, 29, 22);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->width, 10);
    EXPECT_EQ(list->height, 8);
    CImgBuff square, expect;
    ASSERT_TRUE(src.ExtractRect(&square, 19, 13, 30, 24));
    const double angles[] = {0, 10, 350, 20, 340};
    for (int e = 0; e < 5; ++e) {
        CImgBuff turned;
        turned.CopyFrom(&square);
        ASSERT_EQ(ImgRotateScale(&turned, 5, 5, angles[e], 1.0, 0, 0), 1);
        ASSERT_TRUE(turned.ExtractRect(&expect, 1, 2, 10, 9));
        EXPECT_TRUE(ktest::Block(list->images[e]) == ktest::Block(expect)) << "entry " << e;
    }
    CImgBuff plain;
    ASSERT_TRUE(src.ExtractRect(&plain, 20, 15, 29, 22));
    EXPECT_TRUE(ktest::Block(list->images[0]) == ktest::Block(plain));
    ImgDeleteImageList(list);

    // A bounding square crossing an edge, a reversed rectangle: null.
    EXPECT_EQ(ImgMakeRotatedTemplates(&src, 0, 10, 9, 19), nullptr);
    EXPECT_EQ(ImgMakeRotatedTemplates(&src, 50, 10, 59, 19), nullptr);
    EXPECT_EQ(ImgMakeRotatedTemplates(&src, 20, 45, 25, 49), nullptr);
    EXPECT_EQ(ImgMakeRotatedTemplates(&src, 25, 20, 20, 25), nullptr);
    CImgBuff empty;
    EXPECT_EQ(ImgMakeRotatedTemplates(&empty, 0, 0, 0, 0), nullptr);
}

// A pattern turned by 20 degrees is found by the entry turned by 20, at
// the same place with one thread and with all of them.
TEST(MatchPatterns, FindsTheTurnedPattern) {
    CImgBuff scene;
    Texture(scene, 120, 90, kImgGray8, 12);
    ImageList* list = ImgMakeRotatedTemplates(&scene, 40, 30, 63, 53);
    ASSERT_NE(list, nullptr);
    // The scene turned by 20 degrees about the pattern's centre (51, 41),
    // which lands on the middle (59, 44): the pattern's top-left at (48, 33).
    CImgBuff turned;
    turned.CopyFrom(&scene);
    ASSERT_EQ(ImgRotateScale(&turned, 51, 41, 20.0, 1.0, 0, 0), 1);
    const auto run = [&] {
        CriticalSection lock;
        MatchPatternsJob job{&turned, list, 48, 33, 43, 28, 53, 38, 0, 0, 0.1, 0, nullptr, nullptr, &lock, 99, -1.0, -5.0, -5.0};
        PoolParallelFor(ImgMatchPatternsKernel, &job, list->count);
        return job;
    };
    MatchPatternsJob one{}, all{};
    ktest::WithOneAndAllThreads([&] { one = run(); }, [&] { all = run(); });
    EXPECT_EQ(one.bestIndex, 3u);  // 20 degrees
    EXPECT_GE(one.bestScore, 0.0);
    EXPECT_NEAR(one.bestX, 48.0, 0.1);
    EXPECT_NEAR(one.bestY, 33.0, 0.1);
    EXPECT_EQ(all.bestIndex, one.bestIndex);
    EXPECT_EQ(all.bestScore, one.bestScore);
    EXPECT_EQ(all.bestX, one.bestX);
    EXPECT_EQ(all.bestY, one.bestY);
    // With no refinement step nothing is reported.
    CriticalSection lock;
    MatchPatternsJob none{&turned, list, 48, 33, 43, 28, 53, 38, 0, 0, 0.0, 0, nullptr, nullptr, &lock, 99, -1.0, -5.0, -5.0};
    PoolParallelFor(ImgMatchPatternsKernel, &none, list->count);
    EXPECT_EQ(none.bestScore, -1.0);
    EXPECT_EQ(none.bestX, -5.0);
    ImgDeleteImageList(list);
}

}  // namespace
