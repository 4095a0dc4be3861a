// Convolution and median against numpy transcriptions of their border rules
// (exact, every depth group), scipy.ndimage.correlate, cv2.filter2D and
// cv2.medianBlur on the interior, and the worked edge cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "image/kernels/convolve.h"
#include "support/kernel_test_util.h"

namespace {

const ImgRect kRegion{3, 2, 33, 20};

// Shared numpy helpers: the region of an image as int64 (or float64) channels,
// every in-window cell of an n x n kernel as (dy, dx, weight) with the
// shifted samples and their validity.
const char* kHelpers = R"(
import struct
def load(path, w, h, dtype, ch):
    return np.fromfile(path, dtype).reshape(h, w, ch)
def cells(a, n):
    h = n // 2
    H, W = a.shape[:2]
    pad = np.zeros((H + 2 * h, W + 2 * h) + a.shape[2:], a.dtype)
    pad[h:h + H, h:h + W] = a
    ok = np.zeros((H + 2 * h, W + 2 * h), bool)
    ok[h:h + H, h:h + W] = True
    for j in range(n):
        for i in range(n):
            yield j, i, pad[j:j + H, i:i + W], ok[j:j + H, i:i + W]
def tdiv(a, b):
    q = np.abs(a) // np.abs(b)
    return np.where((a < 0) != (b < 0), -q, q)
def conv_int(a, k, n, normalise, divisor, top):
    a = a.astype(object) if top > 65535 else a.astype(np.int64)
    s = np.zeros(a.shape, a.dtype)
    ws = np.zeros(a.shape[:2], np.int64)
    for j, i, v, ok in cells(a, n):
        w = int(k[j * n + i])
        if w == 0: continue
        s = s + v * w
        ws = ws + ok * w
    ws = np.repeat(ws[:, :, None], a.shape[2], 2).astype(s.dtype)
    if normalise:
        q = np.where(ws > 1, tdiv(s, np.where(ws > 1, ws, 1)), s)
    else:
        q = tdiv(s, np.full(s.shape, divisor, s.dtype))
    q = np.where(s == 0, 0, q)
    return np.clip(q, 0, top)
def conv_3x3(a, k, top):
    a = a.astype(np.float64)
    s = np.zeros(a.shape)
    ws = np.zeros(a.shape[:2])
    for j, i, v, ok in cells(a, 3):
        s = s + np.where(ok[:, :, None], v * k[3 * j + i], 0.0)
        ws = ws + np.where(ok, k[3 * j + i], 0.0)
    v = s / np.where(ws >= 1.0, ws, 1.0)[:, :, None]
    return np.where(v >= top, top, np.where(~(v > 0), 0, np.trunc(np.nan_to_num(v))))
def median(a, n):
    a = a.astype(np.float64)
    stack, valid = [], []
    for j, i, v, ok in cells(a, n):
        stack.append(np.where(ok[:, :, None], v, np.inf))
        valid.append(np.repeat(ok[:, :, None], a.shape[2], 2))
    st = np.sort(np.stack(stack), axis=0)
    cnt = np.sum(np.stack(valid), axis=0)
    return np.take_along_axis(st, (cnt // 2)[None], 0)[0]
)";

struct Group {
    int32_t format;
    const char* dtype;
    int channels;
    int stride;  // stored samples per pixel
    const char* top;
};

const Group kGroups[] = {
    {kImgGray8, "np.uint8", 1, 1, "255"},     {kImgGray16, "np.uint16", 1, 1, "65535"},   {kImgGray32, "np.uint32", 1, 1, "4294967295"},
    {kImgRgb8, "np.uint8", 3, 3, "255"},      {kImgRgb16, "np.uint16", 3, 3, "65535"},    {kImgRgb32, "np.uint32", 3, 3, "4294967295"},
};

// Each result against its part of the expected bytes, by first difference
// (the blocks are too long to print).
void ExpectBlocks(const std::vector<std::string>& results, const std::string& expected) {
    size_t at = 0;
    for (size_t i = 0; i < results.size(); ++i) {
        const std::string want = expected.substr(std::min(at, expected.size()), results[i].size());
        at += results[i].size();
        ASSERT_EQ(want.size(), results[i].size()) << "case " << i;
        const auto d = std::mismatch(want.begin(), want.end(), results[i].begin());
        EXPECT_TRUE(d.first == want.end()) << "case " << i << ": first different byte " << (d.first - want.begin()) << " of "
                                           << want.size() << ", ours " << int(uint8_t(*d.second)) << ", expected "
                                           << int(uint8_t(*d.first));
    }
    EXPECT_EQ(at, expected.size());
}

// One case: the numpy expression over r (the region's samples) and ours.
struct Case {
    std::string expr;
    std::function<int32_t(CImgBuff&)> ours;
};

// Runs every case on a noise image of each group and compares with the
// numpy expressions pasted back into the image, in one numpy run.
void ExpectTranscription(const std::vector<Case>& cases, uint32_t seed) {
    std::string script = kHelpers;
    std::vector<std::string> inputs, results;
    int k = 0;
    for (const Group& g : kGroups) {
        CImgBuff img;
        ASSERT_TRUE(ktest::MakeNoise(img, 37, 23, g.format, seed + k));
        inputs.push_back(ktest::Block(img));
        for (const Case& c : cases) {
            CImgBuff work;
            work.CopyFrom(&img);
            ASSERT_EQ(c.ours(work), 1) << ImgFormatName(g.format) << " " << c.expr;
            results.push_back(ktest::Block(work));
            script += "a = load(sys.argv[" + std::to_string(k + 1) + "], 37, 23, " + g.dtype + ", " + std::to_string(g.stride) +
                      ")\ntop = " + g.top + "\nr = a[2:21, 3:34]\nr[...] = (" + c.expr + ").astype(" + g.dtype + ")\nouts.append(a)\n";
        }
        ++k;
    }
    script = "outs = []\n" + script + "open(sys.argv[-1], 'wb').write(b''.join(o.tobytes() for o in outs))\n";
    ExpectBlocks(results, ktest::RunNumpy(script, inputs));
}

TEST(Convolve, IntegerKernelsMatchTheBorderRules) {
    const int32_t k3[] = {1, 2, 1, 2, 4, 2, 1, 2, 1};
    const int32_t sharpen[] = {0, -1, 0, -1, 6, -1, 0, -1, 0};
    std::vector<int32_t> k5(25);
    for (int i = 0; i < 25; ++i) k5[i] = (i * 7) % 5 - 1;  // mixed signs, zeros
    std::string list = "[";
    for (int v : k5) list += std::to_string(v) + ",";
    ExpectTranscription({{"conv_int(r, [1, 2, 1, 2, 4, 2, 1, 2, 1], 3, True, 1, top)",
                          [&](CImgBuff& i) { return ImgConvolve(&i, 3, k3, 1, 0, &kRegion); }},
                         {"conv_int(r, [0, -1, 0, -1, 6, -1, 0, -1, 0], 3, False, 3, top)",
                          [&](CImgBuff& i) { return ImgConvolve(&i, 3, sharpen, 0, 3, &kRegion); }},
                         {"conv_int(r, " + list + "], 5, True, 1, top)", [&](CImgBuff& i) { return ImgConvolve(&i, 5, k5.data(), 1, 0, &kRegion); }}},
                        10);
}

TEST(Convolve, DoubleKernelMatchesTheBorderRules) {
    const double k[] = {1, 2, 1, 2, 3, 2, 1, 2, 1};
    const double odd[] = {0.3, -0.7, 0.1, 0.9, 0.05, -0.2, 0.4, 0.6, 0.0};  // sums below 1 at the borders
    // Over the whole image; the numpy side gets exactly the weights C++ uses.
    const auto hex = [](const double* kernel) {
        std::string h;
        const uint8_t* b = reinterpret_cast<const uint8_t*>(kernel);
        for (int i = 0; i < 72; ++i) {
            char t[3];
            std::snprintf(t, sizeof t, "%02x", b[i]);
            h += t;
        }
        return h;
    };
    std::string script = kHelpers;
    std::vector<std::string> inputs, results;
    int n = 0;
    for (const Group& g : kGroups) {
        CImgBuff img;
        ASSERT_TRUE(ktest::MakeNoise(img, 37, 23, g.format, 40 + n));
        inputs.push_back(ktest::Block(img));
        for (const double* kernel : {k, odd}) {
            CImgBuff work;
            work.CopyFrom(&img);
            ASSERT_EQ(ImgConvolve3x3(&work, 0, kernel), 1);
            results.push_back(ktest::Block(work));
            script += "a = load(sys.argv[" + std::to_string(n + 1) + "], 37, 23, " + g.dtype + ", " + std::to_string(g.stride) +
                      ")\nouts.append(conv_3x3(a, np.frombuffer(bytes.fromhex('" + hex(kernel) + "'), np.float64), " + g.top +
                      ").astype(" + g.dtype + "))\n";
        }
        ++n;
    }
    script = "outs = []\n" + script + "open(sys.argv[-1], 'wb').write(b''.join(o.tobytes() for o in outs))\n";
    ExpectBlocks(results, ktest::RunNumpy(script, inputs));
}

TEST(Median, MatchesTheBorderRules) {
    std::vector<Case> cases;
    for (uint64_t n : {3u, 5u, 7u})
        cases.push_back({"median(r, " + std::to_string(n) + ")", [n](CImgBuff& i) { return ImgMedian(&i, n, &kRegion); }});
    ExpectTranscription(cases, 50);
}

// The interiors against the libraries themselves, on larger frames.
TEST(Convolve, InteriorAgainstScipyAndOpenCv) {
    CImgBuff grey, rgb;
    ASSERT_TRUE(ktest::MakeNoise(grey, 64, 48, kImgGray8, 61));
    ASSERT_TRUE(ktest::MakeNoise(rgb, 64, 48, kImgRgb8, 62));
    const int32_t k5[25] = {1, 2, 3, 2, 1, 2, 4, 6, 4, 2, 3, 6, 9, 6, 3, 2, 4, 6, 4, 2, 1, 2, 3, 2, 1};
    const double k3[9] = {0.0625, 0.125, 0.0625, 0.125, 0.25, 0.125, 0.0625, 0.125, 0.0625};
    std::vector<std::string> results;
    for (CImgBuff* src : {&grey, &rgb}) {
        CImgBuff a, b, c, d;
        a.CopyFrom(src);
        b.CopyFrom(src);
        c.CopyFrom(src);
        d.CopyFrom(src);
        ASSERT_EQ(ImgConvolve(&a, 5, k5, 1, 0, nullptr), 1);
        ASSERT_EQ(ImgConvolve3x3(&b, 0, k3), 1);
        ASSERT_EQ(ImgMedian(&c, 3, nullptr), 1);
        ASSERT_EQ(ImgMedian(&d, 5, nullptr), 1);
        for (CImgBuff* r : {&a, &b, &c, &d}) results.push_back(ktest::Block(*r));
    }
    // Per image: correlate (exact on the interior), filter2D (within 1: its
    // sums run in another order), medianBlur 3 and 5 (exact).
    const std::string out = ktest::RunNumpy(R"(
import cv2
from scipy import ndimage
k5 = np.array([1,2,3,2,1,2,4,6,4,2,3,6,9,6,3,2,4,6,4,2,1,2,3,2,1], np.float64).reshape(5, 5)
k3 = np.array([1,2,1,2,4,2,1,2,1], np.float64).reshape(3, 3) / 16
res = []
for path, ch in ((sys.argv[1], 1), (sys.argv[2], 3)):
    a = np.fromfile(path, np.uint8).reshape(48, 64, ch)
    c = np.stack([ndimage.correlate(a[:, :, i].astype(np.float64), k5) for i in range(ch)], 2)
    res.append(np.clip(np.trunc(c / 81), 0, 255).astype(np.uint8))
    res.append(cv2.filter2D(a.astype(np.float64), -1, k3, borderType=cv2.BORDER_CONSTANT).reshape(48, 64, ch))
    res.append(cv2.medianBlur(a, 3).reshape(48, 64, ch))
    res.append(cv2.medianBlur(a, 5).reshape(48, 64, ch))
out = np.concatenate([r.astype(np.float64).ravel() for r in res])
out.tofile(sys.argv[-1])
)",
                                            {ktest::Block(grey), ktest::Block(rgb)});
    std::vector<double> peer(out.size() / 8);
    std::memcpy(peer.data(), out.data(), out.size());
    size_t at = 0;
    for (int img = 0; img < 2; ++img) {
        const int ch = img ? 3 : 1;
        for (int op = 0; op < 4; ++op) {
            const std::string& ours = results[img * 4 + op];
            const int margin = op == 3 || op == 0 ? 2 : 1;
            for (int y = margin; y < 48 - margin; ++y)
                for (int x = margin; x < 64 - margin; ++x)
                    for (int c = 0; c < ch; ++c) {
                        const size_t i = (size_t(y) * 64 + x) * ch + c;
                        const double mine = static_cast<uint8_t>(ours[i]);
                        if (op == 1) {
                            ASSERT_NEAR(mine, peer[at + i], 1.0) << "filter2D " << x << "," << y;
                            ASSERT_LE(mine, peer[at + i] + 1e-9);
                        } else {
                            ASSERT_EQ(mine, peer[at + i]) << "op " << op << " image " << img << " at " << x << "," << y;
                        }
                    }
            at += size_t(48) * 64 * ch;
        }
    }
}

TEST(Convolve, WorkedCasesAndRefusals) {
    // 1 2 1 / 2 3 2 / 1 2 1 keeps a uniform image uniform (15, 11, 8 at the
    // interior, edges and corners).
    CImgBuff img;
    ASSERT_TRUE(img.buffer->Create(6, 5, kImgGray8));
    std::memset(img.buffer->pixels, 100, 30);
    const double k[] = {1, 2, 1, 2, 3, 2, 1, 2, 1};
    ASSERT_EQ(ImgConvolve3x3(&img, 0, k), 1);
    for (uint8_t v : ktest::Values<uint8_t>(img)) EXPECT_EQ(v, 100);
    const double sixteenth[] = {0.0625, 0.0625, 0.0625, 0.0625, 0.0625, 0.0625, 0.0625, 0.0625, 0.0625};
    ASSERT_EQ(ImgConvolve3x3(&img, 0, sixteenth), 1);
    EXPECT_EQ(*img.buffer->PixelAt(2, 2), 56);  // 56.25
    EXPECT_EQ(*img.buffer->PixelAt(0, 0), 25);  // 4 cells
    // 254.9 stores 254; a negative sum stores 0 in both convolutions.
    // Weights below 1 are not scaled up: 255 x 0.9996 = 254.898.
    const double almost[] = {0, 0, 0, 0, 0.9996, 0, 0, 0, 0};
    std::memset(img.buffer->pixels, 255, 30);
    ASSERT_EQ(ImgConvolve3x3(&img, 0, almost), 1);
    EXPECT_EQ(*img.buffer->PixelAt(3, 3), 254);
    const double negative[] = {0, 0, 0, 0, -1, 0, 0, 0, 0};
    ASSERT_EQ(ImgConvolve3x3(&img, 0, negative), 1);
    EXPECT_EQ(*img.buffer->PixelAt(3, 3), 0);
    std::memset(img.buffer->pixels, 100, 30);
    const int32_t ineg[] = {0, 0, 0, 0, -1, 0, 0, 0, 0};
    ASSERT_EQ(ImgConvolve(&img, 3, ineg, 0, 1, nullptr), 1);
    EXPECT_EQ(*img.buffer->PixelAt(3, 3), 0);
    // Weights summing to 0 with normalising: the raw sum, clamped.
    std::memset(img.buffer->pixels, 100, 30);
    *img.buffer->PixelAt(2, 2) = 110;
    const int32_t zero[] = {0, 0, 0, -1, 1, 0, 0, 0, 0};
    ASSERT_EQ(ImgConvolve(&img, 3, zero, 1, 0, nullptr), 1);
    EXPECT_EQ(*img.buffer->PixelAt(2, 2), 10);
    EXPECT_EQ(*img.buffer->PixelAt(3, 2), 0);

    // Refusals leave the image unchanged.
    const std::string before = ktest::Block(img);
    const int32_t one[] = {1};
    EXPECT_EQ(ImgConvolve(&img, 2, one, 1, 0, nullptr), 0);
    EXPECT_EQ(ImgConvolve(&img, 0, one, 1, 0, nullptr), 0);
    EXPECT_EQ(ImgConvolve(&img, 1, one, 0, 0, nullptr), 0);
    EXPECT_EQ(ImgConvolve(&img, 1, one, 0, -2, nullptr), 0);
    EXPECT_EQ(ImgMedian(&img, 4, nullptr), 0);
    EXPECT_EQ(ImgMedian(&img, 0, nullptr), 0);
    const ImgRect outside{10, 10, 20, 20};
    EXPECT_EQ(ImgMedian(&img, 3, &outside), 0);
    EXPECT_EQ(ImgConvolve(&img, 1, one, 1, 0, &outside), 0);
    EXPECT_EQ(ImgMedian(&img, 1, nullptr), 1);  // N = 1 changes nothing
    EXPECT_EQ(ktest::Block(img), before);
    CImgBuff empty;
    EXPECT_EQ(ImgConvolve3x3(&empty, 0, k), 0);
    EXPECT_EQ(ImgMedian(&empty, 3, nullptr), 0);
}

TEST(Median, CornersUnsignedOrderAndHugeWindows) {
    CImgBuff img;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(img, 3, 3, kImgGray8, {10, 40, 0, 20, 30, 0, 0, 0, 0}));
    ASSERT_EQ(ImgMedian(&img, 3, nullptr), 1);
    EXPECT_EQ(*img.buffer->PixelAt(0, 0), 30);  // 10 20 30 40: the third smallest
    CImgBuff g32;
    ASSERT_TRUE(ktest::MakeFrom<uint32_t>(g32, 3, 1, kImgGray32, {0, 0, 4294967295u}));
    ASSERT_EQ(ImgMedian(&g32, 3, nullptr), 1);
    EXPECT_EQ(ktest::Values<uint32_t>(g32)[1], 0u);
    ASSERT_TRUE(ktest::MakeFrom<uint32_t>(g32, 3, 1, kImgGray32, {0, 4294967295u, 4294967295u}));
    ASSERT_EQ(ImgMedian(&g32, 3, nullptr), 1);
    EXPECT_EQ(ktest::Values<uint32_t>(g32)[1], 4294967295u);
    // A window far larger than the region covers all of it: each pixel gets
    // the region's upper median, without arrays of N x N samples.
    CImgBuff big;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(big, 4, 2, kImgGray8, {1, 2, 3, 4, 5, 6, 7, 8}));
    ASSERT_EQ(ImgMedian(&big, (uint64_t(1) << 63) + 1, nullptr), 1);
    for (uint8_t v : ktest::Values<uint8_t>(big)) EXPECT_EQ(v, 5);
}

TEST(Convolve, CmykKeepsKAndOtherFormatsGoThroughRgb) {
    CImgBuff cmyk;
    ASSERT_TRUE(ktest::MakeNoise(cmyk, 9, 7, kImgCmyk8, 70));
    const std::vector<uint8_t> before = ktest::Values<uint8_t>(cmyk);
    const double k[] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
    ASSERT_EQ(ImgConvolve3x3(&cmyk, 0, k), 1);
    std::vector<uint8_t> after = ktest::Values<uint8_t>(cmyk);
    for (size_t i = 3; i < after.size(); i += 4) ASSERT_EQ(after[i], before[i]);
    CImgBuff m;
    ASSERT_TRUE(ktest::MakeNoise(m, 9, 7, kImgCmyk8, 71));
    const std::vector<uint8_t> mb = ktest::Values<uint8_t>(m);
    ASSERT_EQ(ImgMedian(&m, 3, nullptr), 1);
    after = ktest::Values<uint8_t>(m);
    for (size_t i = 3; i < after.size(); i += 4) ASSERT_EQ(after[i], mb[i]);
    // HSV, CMYK and XYZ in ImgConvolve: a uniform colour stays that colour.
    for (int32_t f : {kImgHsv16, kImgCmyk8, kImgXyz}) {
        CImgBuff u;
        ASSERT_TRUE(u.buffer->Create(5, 4, f));
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 5; ++x) u.buffer->SetPixelRgb8(x, y, 200, 100, 50);
        const int32_t ones[] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
        ASSERT_EQ(ImgConvolve(&u, 3, ones, 1, 0, nullptr), 1);
        ASSERT_EQ(ImgMedian(&u, 3, nullptr), 1);
        ASSERT_EQ(ImgConvolve3x3(&u, 0, k), 1);
        uint8_t r, g, b;
        u.buffer->GetPixelRgb8(2, 2, &r, &g, &b);
        EXPECT_NEAR(r, 200, 1) << ImgFormatName(f);
        EXPECT_NEAR(g, 100, 1) << ImgFormatName(f);
        EXPECT_NEAR(b, 50, 1) << ImgFormatName(f);
    }
}

// 32-bit samples with the largest weights: sums beyond 64 bits.
TEST(Convolve, WideSumsDoNotOverflow) {
    CImgBuff img;
    ASSERT_TRUE(ktest::MakeFrom<uint32_t>(img, 3, 1, kImgGray32, {4294967295u, 4294967295u, 4294967295u}));
    const int32_t k[] = {0, 0, 0, 2147483647, 2147483647, 2147483647, 0, 0, 0};
    ASSERT_EQ(ImgConvolve(&img, 3, k, 1, 0, nullptr), 1);
    EXPECT_EQ(ktest::Values<uint32_t>(img), (std::vector<uint32_t>{4294967295u, 4294967295u, 4294967295u}));
    ASSERT_TRUE(ktest::MakeFrom<uint32_t>(img, 3, 1, kImgGray32, {4294967295u, 4294967295u, 4294967295u}));
    const int32_t mixed[] = {0, 0, 0, 2147483647, -2147483647 - 1, 2147483647, 0, 0, 0};
    ASSERT_EQ(ImgConvolve(&img, 3, mixed, 0, 2147483647, nullptr), 1);
    // Middle: (2^31 - 2) (2^32 - 1) / (2^31 - 1), from partial sums near 2^63.
    const std::vector<uint32_t> v = ktest::Values<uint32_t>(img);
    EXPECT_EQ(v[0], 0u);  // -(2^32 - 1) / divisor < 0
    EXPECT_EQ(v[1], 4294967292u);
}

}  // namespace
