// Depth up-conversion against a numpy transcription of its steps, and the
// worked cases.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "image/kernels/up_convert.h"
#include "support/kernel_test_util.h"

namespace {

// A gradient with a sharp-edged block and some noise: both the mean and the
// convolved values survive somewhere.
void Scene(CImgBuff& img, int32_t format, int32_t w = 41, int32_t h = 29) {
    ASSERT_TRUE(img.buffer->Create(w, h, format));
    uint32_t s = 7;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            s = s * 1103515245u + 12345u;
            uint32_t v = (x * 5 + y * 3) % 256;
            if (x > 25 && y > 12) v = 255;
            if (x > 30 && y > 20) v = 0;
            if ((s >> 28) == 0) v = s >> 24;
            const uint32_t c[3] = {v, (v * 3) % 256, 255 - v};
            if (format <= kImgGray32) {
                img.buffer->SetPixelGray8(x, y, static_cast<uint8_t>(v));
            } else {
                img.buffer->SetPixelRgb8(x, y, static_cast<uint8_t>(c[0]), static_cast<uint8_t>(c[1]), static_cast<uint8_t>(c[2]));
            }
        }
}

const char* kSmooth = R"(
def cells(a):
    H, W = a.shape[:2]
    pad = np.zeros((H + 2, W + 2) + a.shape[2:], a.dtype)
    pad[1:1 + H, 1:1 + W] = a
    ok = np.zeros((H + 2, W + 2), np.int64)
    ok[1:1 + H, 1:1 + W] = 1
    for j in range(3):
        for i in range(3):
            yield j, i, pad[j:j + H, i:i + W], ok[j:j + H, i:i + W]
def tdiv(a, b):
    q = np.abs(a) // np.abs(b)
    return np.where((a < 0) != (b < 0), -q, q)
def conv(a, k, top):
    s = np.zeros(a.shape, np.int64)
    ws = np.zeros(a.shape[:2], np.int64)
    for j, i, v, ok in cells(a):
        s += v * k[3 * j + i]
        ws += ok * k[3 * j + i]
    ws = ws[:, :, None]
    q = np.where(ws > 1, tdiv(s, np.where(ws > 1, ws, 1)), s)
    return np.clip(np.where(s == 0, 0, q), 0, top)
def smooth(a, top, limit):
    a = conv(a, [0, 1, 0, 1, 5, 1, 0, 1, 0], top)
    a = conv(a, [0, -1, 0, -1, 10, -1, 0, -1, 0], top)
    s = np.zeros(a.shape, np.int64)
    n = np.zeros(a.shape[:2], np.int64)
    for j, i, v, ok in cells(a):
        s += v
        n += ok
    m = s // n[:, :, None]
    close = np.all(np.abs(m - a) <= limit, axis=2, keepdims=True)
    return np.where(close, m, a)
)";

const std::string kScript = std::string(kSmooth) + R"(
outs = []
for k, (path, ch, bits) in enumerate(((sys.argv[1], 1, 16), (sys.argv[1], 1, 32), (sys.argv[2], 3, 16), (sys.argv[2], 3, 32), (sys.argv[3], 1, 32), (sys.argv[4], 3, 32))):
    dt = np.uint8 if k < 4 else np.uint16
    a = np.fromfile(path, dt).reshape(29, 41, ch).astype(np.int64)
    if k < 4:
        a = smooth(a * 257, 65535, 512)
    if bits == 32:
        a = smooth(a * 65537, 4294967295, 131072)
    outs.append(a.astype(np.uint16 if bits == 16 else np.uint32))
open(sys.argv[-1], 'wb').write(b''.join(o.tobytes() for o in outs))
)";

TEST(UpConvert, MatchesTheSteps) {
    CImgBuff g8, c8, g16, c16;
    Scene(g8, kImgGray8);
    Scene(c8, kImgRgb8);
    Scene(g16, kImgGray16);
    Scene(c16, kImgRgb16);
    // 16-bit inputs that are not plain widenings of 8-bit levels.
    for (CImgBuff* i : {&g16, &c16}) {
        uint16_t* p = reinterpret_cast<uint16_t*>(i->buffer->pixels);
        const size_t n = size_t(41) * 29 * (i == &g16 ? 1 : 3);
        for (size_t k = 0; k < n; ++k) p[k] = static_cast<uint16_t>(p[k] + (k * 37) % 200);
    }
    const std::string expected = ktest::RunNumpy(kScript, {ktest::Block(g8), ktest::Block(c8), ktest::Block(g16), ktest::Block(c16)});
    std::vector<std::string> results;
    const struct {
        CImgBuff* source;
        uint32_t bits;
        int32_t format;
    } cases[] = {{&g8, 16, kImgGray16}, {&g8, 32, kImgGray32}, {&c8, 16, kImgRgb16}, {&c8, 32, kImgRgb32}, {&g16, 32, kImgGray32}, {&c16, 32, kImgRgb32}};
    for (const auto& c : cases) {
        CImgBuff img;
        img.CopyFrom(c.source);
        ASSERT_EQ(ImgUpConvertDepth(&img, c.bits), 1);
        EXPECT_EQ(img.buffer->format, c.format);
        results.push_back(ktest::Block(img));
    }
    size_t at = 0;
    for (size_t i = 0; i < results.size(); ++i) {
        const std::string want = expected.substr(std::min(at, expected.size()), results[i].size());
        at += results[i].size();
        EXPECT_TRUE(want == results[i]) << "case " << i;
    }
    EXPECT_EQ(at, expected.size());
}

// 8 -> 16 bits over sizes whose rows fall into several bands and over
// images one or two pixels thin, on one thread and on all.
TEST(UpConvert, BandsAndThinImagesMatchTheSteps) {
    const struct {
        int32_t w, h;
    } sizes[] = {{1, 1}, {1, 7}, {7, 1}, {2, 2}, {3, 200}, {37, 130}, {64, 97}};
    std::vector<std::string> inputs;
    std::string shapes;
    std::vector<CImgBuff> sources(2 * std::size(sizes));
    size_t k = 0;
    for (const auto& size : sizes)
        for (int32_t f : {kImgGray8, kImgRgb8}) {
            Scene(sources[k], f, size.w, size.h);
            inputs.push_back(ktest::Block(sources[k++]));
            shapes += "(" + std::to_string(size.h) + ", " + std::to_string(size.w) + ", " + (f == kImgGray8 ? "1" : "3") + "), ";
        }
    const std::string expected = ktest::RunNumpy(std::string(kSmooth) + "shapes = [" + shapes + "]\n" +
                                                     "outs = [smooth(np.fromfile(sys.argv[1 + i], np.uint8).reshape(s).astype(np.int64) * 257, 65535, 512)"
                                                     ".astype(np.uint16).tobytes() for i, s in enumerate(shapes)]\n"
                                                     "open(sys.argv[-1], 'wb').write(b''.join(outs))\n",
                                                 inputs);
    const auto run = [&] {
        std::vector<std::string> results;
        for (const CImgBuff& source : sources) {
            CImgBuff img;
            img.CopyFrom(&source);
            EXPECT_EQ(ImgUpConvertDepth(&img, 16), 1);
            results.push_back(ktest::Block(img));
        }
        ktest::ExpectConcatenated(results, expected);
    };
    ktest::WithOneAndAllThreads(run, run);
}

TEST(UpConvert, WorkedCasesAndRefusals) {
    // A flat 8-bit level v ends as 257 v.
    CImgBuff flat;
    ASSERT_TRUE(flat.buffer->Create(6, 5, kImgGray8));
    std::memset(flat.buffer->pixels, 77, 30);
    ASSERT_EQ(ImgUpConvertDepth(&flat, 16), 1);
    for (uint16_t v : ktest::Values<uint16_t>(flat)) EXPECT_EQ(v, 77 * 257);
    // 16 -> 16 is nothing; 32 -> 16 narrows without smoothing.
    CImgBuff g16;
    ASSERT_TRUE(ktest::MakeNoise(g16, 7, 5, kImgGray16, 3));
    const std::string before = ktest::Block(g16);
    ASSERT_EQ(ImgUpConvertDepth(&g16, 16), 1);
    EXPECT_EQ(ktest::Block(g16), before);
    CImgBuff g32;
    ASSERT_TRUE(ktest::MakeNoise(g32, 7, 5, kImgGray32, 4));
    const std::vector<uint32_t> wide = ktest::Values<uint32_t>(g32);
    ASSERT_EQ(ImgUpConvertDepth(&g32, 16), 1);
    const std::vector<uint16_t> narrow = ktest::Values<uint16_t>(g32);
    ASSERT_EQ(narrow.size(), wide.size());
    for (size_t i = 0; i < wide.size(); ++i) EXPECT_EQ(narrow[i], wide[i] >> 16);
    // At a sharp edge the mean is far from the pixel: the convolved values stay.
    CImgBuff edge;
    ASSERT_TRUE(edge.buffer->Create(6, 3, kImgGray8));
    for (int y = 0; y < 3; ++y)
        for (int x = 3; x < 6; ++x) *edge.buffer->PixelAt(x, y) = 255;
    ASSERT_EQ(ImgUpConvertDepth(&edge, 16), 1);
    uint16_t v;
    edge.buffer->GetPixelGray16(2, 1, &v);
    EXPECT_NE(v, (255 * 257 * 3) / 9);  // not the window's mean
    for (int32_t f : {kImgXyz, kImgHsv16, kImgCmyk8}) {
        CImgBuff img;
        ASSERT_TRUE(ktest::MakeNoise(img, 4, 4, f, 5));
        const std::string b = ktest::Block(img);
        EXPECT_EQ(ImgUpConvertDepth(&img, 16), 0);
        EXPECT_EQ(ktest::Block(img), b);
    }
    EXPECT_EQ(ImgUpConvertDepth(&flat, 24), 0);
    CImgBuff empty;
    EXPECT_EQ(ImgUpConvertDepth(&empty, 16), 0);
}

}  // namespace
