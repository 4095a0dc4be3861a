// Image comparison scores and rectangle statistics.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "image/kernels/image_compare.h"
#include "support/kernel_test_util.h"
#include "support/testsupport.h"

namespace {

// The python model of the pixel getters, for the oracle scripts.
std::string PixelRules() { return kvtest::ReadFileBytes(std::string(KV_SOURCE_DIR) + "/tests/image/oracle/pixel_rules.py"); }

// Reads a raw block of any format into per-pixel channel tuples (python).
const char* kReadBlock = R"(
DT = {1: (np.uint8, 1), 2: (np.uint16, 1), 3: (np.uint32, 1), 4: (np.uint8, 3), 5: (np.uint16, 3),
      6: (np.uint32, 3), 7: (np.float64, 3), 8: (np.uint16, 3), 9: (np.uint8, 4)}
def pixels(path, fmt, w, h):
    dt, ch = DT[fmt]
    a = np.fromfile(path, dt).reshape(h, w, ch)
    return [[tuple(v.item() for v in a[y, x]) for x in range(w)] for y in range(h)]
)";

TEST(CompareImages, EdgeCases) {
    CImgBuff a, b;
    ASSERT_TRUE(ktest::MakeNoise(a, 10, 8, kImgRgb8, 1));
    ASSERT_TRUE(ktest::MakeNoise(b, 4, 3, kImgRgb8, 2));
    struct Case {
        int x, y;
        bool comparable;
    } cases[] = {{10, 0, false}, {0, 8, false}, {-4, 0, false}, {0, -3, false}, {-3, -2, true}, {9, 7, true}, {INT32_MIN, 0, false},
                 {INT32_MAX, 0, false}};
    for (const Case& c : cases) {
        for (int method : {0, 1})
            for (int sampling : {0, 1}) {
                const double s = ImgCompareImages(&a, &b, c.x, c.y, method, sampling);
                if (c.comparable) EXPECT_GE(s, 0.0) << c.x << "," << c.y;
                else EXPECT_EQ(s, -1.0) << c.x << "," << c.y;
            }
    }
    CImgBuff empty;
    EXPECT_EQ(ImgCompareImages(&a, &empty, 0, 0, 0, 0), -1.0);
    EXPECT_EQ(ImgCompareImages(nullptr, &b, 0, 0, 0, 0), -1.0);

    // Identical images: 0 by difference.
    EXPECT_EQ(ImgCompareImages(&a, &a, 0, 0, 0, 0), 0.0);
    EXPECT_EQ(ImgCompareImages(&a, &a, 0, 0, 0, 1), 0.0);

    // Grey {10, 20} against {20, 20}: 10 / 2 / 255 x 100.
    CImgBuff g1, g2;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(g1, 2, 1, kImgGray8, {10, 20}));
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(g2, 2, 1, kImgGray8, {20, 20}));
    EXPECT_EQ(ImgCompareImages(&g1, &g2, 0, 0, 0, 0), 10.0 / 2 / 255 * 100);

    // Correlation of identical 0 / 255 images in equal numbers: 50; all 0: -1.
    CImgBuff half, zero;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(half, 4, 1, kImgGray8, {0, 255, 255, 0}));
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(zero, 4, 1, kImgGray8, {0, 0, 0, 0}));
    EXPECT_NEAR(ImgCompareImages(&half, &half, 0, 0, 1, 0), 50.0, 1e-12);
    EXPECT_EQ(ImgCompareImages(&zero, &zero, 0, 0, 1, 0), -1.0);
    // A negative correlation scores 100.
    CImgBuff inverse;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(inverse, 4, 1, kImgGray8, {255, 0, 0, 255}));
    EXPECT_EQ(ImgCompareImages(&half, &inverse, 0, 0, 1, 0), 100.0);
}

// XYZ pixels far outside the sRGB range give L*a*b* samples clamped to a
// byte, never a wrapped value.
TEST(CompareImages, LabSamplesOfXyzAreClamped) {
    CImgBuff a, b;
    ASSERT_TRUE(ktest::MakeFrom<double>(a, 2, 1, kImgXyz, {0.0, 0.0, 5.0, 3.0, 0.0, 0.0}));
    ASSERT_TRUE(ktest::MakeFrom<double>(b, 2, 1, kImgXyz, {std::nan(""), 0.2, 0.2, 1.0, 1.0, 1.0}));
    uint32_t *sa = nullptr, *sb = nullptr;
    ASSERT_EQ(ImgCompareSamplesLab(&a, &b, 0, 0, &sa, &sb), 6);
    std::unique_ptr<uint32_t[]> ownA(sa), ownB(sb);
    for (int i = 0; i < 6; ++i) {
        EXPECT_LE(sa[i], 255u) << i;
        EXPECT_LE(sb[i], 255u) << i;
    }
    EXPECT_EQ(sa[4], 0u);    // b* of a deep blue: far below -128
    EXPECT_EQ(sa[3], 255u);  // a* of a deep red: far above 127
    EXPECT_EQ(ImgCompareSamplesLab(&a, &b, 2, 0, &sa, &sb), 0);
    EXPECT_EQ(sa, nullptr);
    EXPECT_EQ(sb, nullptr);
}

// Scores and samples of format pairs against a python model of the getters:
// the difference exactly, the correlation within 1e-9, the L*a*b* samples
// within one level.
TEST(CompareImages, MatchesNumpyOverFormatPairs) {
    struct Case {
        int32_t fa, wa, ha, fb, wb, hb, x, y;
    } cases[] = {
        {kImgRgb8, 20, 15, kImgRgb8, 7, 5, 3, 2},     {kImgGray8, 20, 15, kImgRgb8, 7, 5, -2, -1},
        {kImgRgb16, 12, 10, kImgCmyk8, 6, 6, 9, 7},   {kImgXyz, 11, 9, kImgHsv16, 5, 4, -3, 4},
        {kImgGray16, 9, 9, kImgGray32, 9, 9, 0, 0},   {kImgRgb32, 10, 8, kImgGray8, 14, 3, -2, 3},
        {kImgCmyk8, 8, 6, kImgCmyk8, 5, 5, 1, 1},     {kImgHsv16, 8, 6, kImgXyz, 8, 6, 0, -2},
    };
    std::vector<std::string> inputs;
    std::vector<double> scores;
    std::vector<std::vector<uint32_t>> labA, labB, rawA, rawB;
    std::string list = "cases = [";
    uint32_t seed = 10;
    for (const Case& c : cases) {
        CImgBuff a, b;
        ASSERT_TRUE(ktest::MakeNoise(a, c.wa, c.ha, c.fa, seed++));
        ASSERT_TRUE(ktest::MakeNoise(b, c.wb, c.hb, c.fb, seed++));
        inputs.push_back(ktest::Block(a));
        inputs.push_back(ktest::Block(b));
        scores.push_back(ImgCompareImages(&a, &b, c.x, c.y, 0, 0));
        scores.push_back(ImgCompareImages(&a, &b, c.x, c.y, 1, 0));
        for (bool lab : {false, true}) {
            uint32_t *sa = nullptr, *sb = nullptr;
            const int64_t n = lab ? ImgCompareSamplesLab(&a, &b, c.x, c.y, &sa, &sb) : ImgCompareSamples(&a, &b, c.x, c.y, &sa, &sb);
            ASSERT_GT(n, 0);
            (lab ? labA : rawA).emplace_back(sa, sa + n);
            (lab ? labB : rawB).emplace_back(sb, sb + n);
            delete[] sa;
            delete[] sb;
        }
        char line[160];
        std::snprintf(line, sizeof line, "(%d,%d,%d,%d,%d,%d,%d,%d),", c.fa, c.wa, c.ha, c.fb, c.wb, c.hb, c.x, c.y);
        list += line;
    }
    const std::string script = PixelRules() + kReadBlock + list + "]\n" + R"(
import struct
def samples(pa, pb, fa, fb, x, y, lab):
    colour = fa >= 4 and fb >= 4
    ha, wa, hb, wb = len(pa), len(pa[0]), len(pb), len(pb[0])
    ax0, ay0 = max(x, 0), max(y, 0)
    w = min(x + wb, wa) - ax0
    h = min(y + hb, ha) - ay0
    def one(fmt, px):
        if lab:
            l, a, b = get_lab(fmt, px)
            v = [l * 255.0 / 100.0, a + 128.0, b + 128.0]
            v = [0 if not (t > 0) else 255 if t >= 255 else int(t) for t in v]
            return v if colour else v[:1]
        return list(colour_at(fmt, px, 8)) if colour else [grey_at(fmt, px, 8)]
    sa = [[], [], []]
    sb = [[], [], []]
    for r in range(h):
        for i in range(w):
            va = one(fa, pa[ay0 + r][ax0 + i])
            vb = one(fb, pb[ay0 - y + r][ax0 - x + i])
            for c in range(len(va)):
                sa[c].append(va[c]); sb[c].append(vb[c])
    return sa[0] + sa[1] + sa[2], sb[0] + sb[1] + sb[2]
out = b''
labs = b''
for k, (fa, wa, ha, fb, wb, hb, x, y) in enumerate(cases):
    pa = pixels(sys.argv[1 + 2 * k], fa, wa, ha)
    pb = pixels(sys.argv[2 + 2 * k], fb, wb, hb)
    a, b = samples(pa, pb, fa, fb, x, y, False)
    n = len(a)
    d = sum(abs(p - q) for p, q in zip(a, b))
    m0 = float(d) / n / 255.0 * 100.0
    norm = math.sqrt(sum(q * q for q in b)) * math.sqrt(sum(p * p for p in a))
    ma, mb = sum(a) / n, sum(b) / n
    t = sum((p - ma) * (q - mb) for p, q in zip(a, b)) / norm
    m1 = 100.0 - min(max(100.0 * t, 0.0), 100.0)
    out += struct.pack('<dd', m0, m1)
    out += struct.pack('<%dI' % n, *a) + struct.pack('<%dI' % n, *b)
    la, lb = samples(pa, pb, fa, fb, x, y, True)
    labs += struct.pack('<%dI' % n, *la) + struct.pack('<%dI' % n, *lb)
open(sys.argv[-1], 'wb').write(out + labs)
)";
    const std::string expected = ktest::RunNumpy(script, inputs);
    size_t at = 0;
    const auto take = [&](void* dst, size_t bytes) {
        ASSERT_LE(at + bytes, expected.size());
        std::memcpy(dst, expected.data() + at, bytes);
        at += bytes;
    };
    for (size_t k = 0; k < std::size(cases); ++k) {
        double m[2];
        take(m, sizeof m);
        EXPECT_EQ(scores[2 * k], m[0]) << "case " << k;
        EXPECT_NEAR(scores[2 * k + 1], m[1], 1e-9) << "case " << k;
        std::vector<uint32_t> ea(rawA[k].size()), eb(rawB[k].size());
        take(ea.data(), ea.size() * 4);
        take(eb.data(), eb.size() * 4);
        EXPECT_EQ(rawA[k], ea) << "case " << k;
        EXPECT_EQ(rawB[k], eb) << "case " << k;
    }
    for (size_t k = 0; k < std::size(cases); ++k) {
        std::vector<uint32_t> ea(labA[k].size()), eb(labB[k].size());
        take(ea.data(), ea.size() * 4);
        take(eb.data(), eb.size() * 4);
        for (size_t i = 0; i < ea.size(); ++i) {
            EXPECT_NEAR(double(labA[k][i]), double(ea[i]), 1.0) << "case " << k << " sample " << i;
            EXPECT_NEAR(double(labB[k][i]), double(eb[i]), 1.0) << "case " << k << " sample " << i;
        }
    }
    EXPECT_EQ(at, expected.size());
}

TEST(CompareImages, SameScoreWithOneAndAllThreads) {
    CImgBuff a, b;
    ASSERT_TRUE(ktest::MakeNoise(a, 300, 200, kImgRgb8, 3));
    ASSERT_TRUE(ktest::MakeNoise(b, 250, 180, kImgRgb8, 4));
    double one[2], all[2];
    ktest::WithOneAndAllThreads([&] { one[0] = ImgCompareImages(&a, &b, 20, 10, 0, 0); one[1] = ImgCompareImages(&a, &b, 20, 10, 1, 0); },
                                [&] { all[0] = ImgCompareImages(&a, &b, 20, 10, 0, 0); all[1] = ImgCompareImages(&a, &b, 20, 10, 1, 0); });
    EXPECT_EQ(one[0], all[0]);
    EXPECT_NEAR(one[1], all[1], 1e-9);
}

TEST(RectStatistics, EdgeCases) {
    CImgBuff img;
    ASSERT_TRUE(ktest::MakeNoise(img, 6, 5, kImgRgb8, 7));
    RectStatistics s;
    ASSERT_EQ(ImgRectStatistics(&img, 2, 3, 2, 3, &s), 1);
    double l, a, b;
    ASSERT_EQ(img.GetPixelLab(2, 3, &l, &a, &b), 1);
    EXPECT_DOUBLE_EQ(s.slot[2], l);
    EXPECT_DOUBLE_EQ(s.slot[5], a);
    EXPECT_DOUBLE_EQ(s.slot[8], b);
    for (int i : {0, 1, 3, 4, 6, 7, 9, 10, 11, 12, 13, 14, 15, 16}) EXPECT_EQ(s.slot[i], 0.0) << i;

    s.slot[0] = 42;
    for (const ImgRect r : {ImgRect{0, 0, 6, 4}, ImgRect{0, 0, 5, 5}, ImgRect{-1, 0, 3, 3}, ImgRect{3, 0, 2, 4}, ImgRect{0, 4, 5, 3}})
        EXPECT_EQ(ImgRectStatistics(&img, r.x0, r.y0, r.x1, r.y1, &s), 0);
    EXPECT_EQ(s.slot[0], 42.0);
    CImgBuff empty;
    EXPECT_EQ(ImgRectStatistics(&empty, 0, 0, 0, 0, &s), 0);
    EXPECT_EQ(ImgRectStatistics(&img, 0, 0, 1, 1, nullptr), 0);
}

// Every slot against a python model over the L*a*b* of the getters.
TEST(RectStatistics, MatchesNumpy) {
    const ImgRect rects[] = {{1, 2, 9, 8}, {0, 0, 11, 2}, {3, 1, 5, 9}, {0, 0, 11, 9}};
    std::vector<std::string> inputs;
    std::vector<double> ours;
    std::string list = "cases = [";
    for (int32_t f : {kImgRgb8, kImgGray16, kImgXyz}) {
        CImgBuff img;
        ASSERT_TRUE(ktest::MakeNoise(img, 12, 10, f, 20 + f));
        for (const ImgRect& r : rects) {
            RectStatistics s;
            ASSERT_EQ(ImgRectStatistics(&img, r.x0, r.y0, r.x1, r.y1, &s), 1);
            ours.insert(ours.end(), s.slot, s.slot + 17);
            inputs.push_back(ktest::Block(img));
            list += "(" + std::to_string(f) + "," + std::to_string(r.x0) + "," + std::to_string(r.y0) + "," + std::to_string(r.x1) + "," +
                    std::to_string(r.y1) + "),";
        }
    }
    const std::string script = PixelRules() + kReadBlock + list + "]\n" + R"(
out = []
for k, (f, x0, y0, x1, y1) in enumerate(cases):
    p = pixels(sys.argv[1 + k], f, 12, 10)
    lab = np.array([[get_lab(f, p[y][x]) for x in range(x0, x1 + 1)] for y in range(y0, y1 + 1)])
    s = np.zeros(17)
    mean = lab.reshape(-1, 3).mean(axis=0)
    s[2], s[5], s[8] = mean
    def run(means):
        spread = ((means - mean) ** 2).mean(axis=0)
        d2 = np.abs(means[2:] - 2 * means[1:-1] + means[:-2])[1:].sum(axis=0) if len(means) >= 4 else np.zeros(3)
        return np.sqrt(spread[0]), np.sqrt(max(spread[1], spread[2])), d2[0], max(d2[1], d2[2])
    s[9], s[11], s[13], s[15] = run(lab.mean(axis=1))
    s[10], s[12], s[14], s[16] = run(lab.mean(axis=0))
    out.append(s)
np.array(out).tofile(sys.argv[-1])
)";
    const std::string expected = ktest::RunNumpy(script, inputs);
    ASSERT_EQ(expected.size(), ours.size() * 8);
    for (size_t i = 0; i < ours.size(); ++i) {
        double e;
        std::memcpy(&e, expected.data() + 8 * i, 8);
        EXPECT_NEAR(ours[i], e, 1e-9 * (1 + std::fabs(e))) << "case " << i / 17 << " slot " << i % 17;
    }
}

}  // namespace
