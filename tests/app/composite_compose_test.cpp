// Composing channels in every colour space: the same picture on one and on
// all pool threads, and the picture numpy computes from the colour
// definitions (CIE L*a*b* with the D65 white, the sRGB matrix and curve).
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "app/composite_ui.h"
#include "image/pool.h"
#include "support/testsupport.h"

namespace {

class ComposeChannelsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { PoolStart(); }
    static void TearDownTestSuite() { PoolStop(); }

    // A random 8-bit grey channel; its bytes are appended to `raw` as hex.
    static void Channel(CImgBuff& image, int32_t w, int32_t h, uint32_t seed, std::string* raw) {
        ASSERT_TRUE(image.buffer->Create(w, h, kImgGray8));
        std::mt19937 rng(seed);
        char two[3];
        for (int32_t i = 0; i < w * h; ++i) {
            image.buffer->pixels[i] = static_cast<uint8_t>(rng());
            std::snprintf(two, sizeof two, "%02x", image.buffer->pixels[i]);
            *raw += two;
        }
    }

    static std::string Hex(const CImgBuff& image) {
        const C_ImgBuff* b = image.buffer;
        std::string hex;
        char two[3];
        for (int32_t y = 0; y < b->height; ++y)
            for (int32_t x = 0; x < b->width; ++x) {
                uint8_t rgb[3];
                b->GetPixelRgb8(x, y, &rgb[0], &rgb[1], &rgb[2]);
                for (uint8_t v : rgb) {
                    std::snprintf(two, sizeof two, "%02x", v);
                    hex += two;
                }
            }
        return hex;
    }
};

// numpy's picture, as hex RGB bytes, for the space over channels given as
// "w:h:hex" (missing pixels read 0; the result is as large as the largest).
const char* kOracle = R"(
import sys, numpy as np
space = sys.argv[1]
specs = [s.split(':') for s in sys.argv[2:]]
W = max(int(s[0]) for s in specs); H = max(int(s[1]) for s in specs)
ch = []
for w, h, hx in specs:
    a = np.frombuffer(bytes.fromhex(hx), np.uint8).reshape(int(h), int(w)).astype(np.float64)
    full = np.zeros((H, W)); full[:int(h), :int(w)] = a
    ch.append(full)
v = [c / 255.0 for c in ch]
def srgb8(X, Y, Z):
    M = np.array([[3.2404542, -1.5371385, -0.4985314], [-0.969266, 1.8760108, 0.041556], [0.0556434, -0.2040259, 1.0572252]])
    lin = np.einsum('ij,jhw->hwi', M, np.stack([X, Y, Z]))
    c = np.where(lin <= 0.0031308, 12.92 * lin, 1.055 * np.power(np.maximum(lin, 0), 1 / 2.4) - 0.055)
    c = np.clip(np.nan_to_num(c), 0, 1)
    return np.floor(np.floor(c * 4294967295.0) / 16777216.0).astype(np.uint8)
def lab(L, a, b):
    fy = (L + 16) / 116; fx = fy + a / 500; fz = fy - b / 200
    finv = lambda t: np.where(t > 6 / 29, t ** 3, (t - 4 / 29) * 108 / 841)
    return srgb8(finv(fx) * 0.950489, finv(fy), finv(fz) * 1.08884)
if space == 'xyz':
    out = srgb8(v[0] * 1.1, v[1] * 1.1, v[2] * 1.1)
elif space == 'lab':
    out = lab(v[0] * 100, v[1] * 255 - 128, v[2] * 255 - 128)
elif space == 'lch':
    C = v[1] * 135; h = v[2] * 2 * np.pi
    out = lab(v[0] * 100, C * np.cos(h), C * np.sin(h))
elif space == 'rgb':
    out = np.stack(ch[:3], 2).astype(np.uint8)
elif space == 'cmy':
    out = (255 - np.stack(ch[:3], 2)).astype(np.uint8)
else:
    k = ch[3]
    out = np.stack([np.where(c + k > 255, 0, 255 - k - c) for c in ch[:3]], 2).astype(np.uint8)
sys.stdout.write(out.tobytes().hex())
)";

TEST_F(ComposeChannelsTest, EverySpaceMatchesNumpyOnOneAndAllThreads) {
    CImgBuff images[4];
    std::vector<std::string> specs;
    const int32_t sizes[4][2] = {{64, 48}, {60, 50}, {70, 40}, {64, 50}};
    for (int k = 0; k < 4; ++k) {
        std::string raw;
        Channel(images[k], sizes[k][0], sizes[k][1], 11u + k, &raw);
        specs.push_back(std::to_string(sizes[k][0]) + ":" + std::to_string(sizes[k][1]) + ":" + raw);
    }
    const CImgBuff* channels[4] = {&images[0], &images[1], &images[2], &images[3]};
    struct Case {
        int32_t space;
        const char* name;
        bool exact;  // the colour spaces may differ by one step where numpy rounds the curve differently
    };
    const Case cases[] = {{kCompositeRgb, "rgb", true}, {kCompositeCmy, "cmy", true}, {kCompositeCmyk, "cmyk", true},
                          {kCompositeXyz, "xyz", false}, {kCompositeLab, "lab", false}, {kCompositeLch, "lch", false}};
    // One result reused across the spaces (as the preview does): nothing of
    // the previous space may stay behind.
    CImgBuff reused;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string ours;
        for (uint64_t threads : {uint64_t{1}, PoolGetProcessorCount()}) {
            ASSERT_EQ(PoolSetThreadCount(threads), 1);
            CImgBuff result;
            ASSERT_EQ(ComposeChannels(channels, c.space, &result), 1);
            ASSERT_EQ(result.buffer->format, kImgRgb8);
            ASSERT_EQ(result.buffer->width, 70);
            ASSERT_EQ(result.buffer->height, 50);
            const std::string hex = Hex(result);
            if (ours.empty()) ours = hex;
            EXPECT_TRUE(hex == ours) << "threads " << threads;
        }
        ASSERT_EQ(ComposeChannels(channels, c.space, &reused), 1);
        EXPECT_TRUE(Hex(reused) == ours) << "reused result";
        std::vector<std::string> args = {c.name};
        const int used = c.space == kCompositeCmyk ? 4 : 3;
        for (int k = 0; k < used; ++k) args.push_back(specs[k]);
        std::string expected;
        if (kvtest::RunPython(kOracle, args, &expected) != 0 || expected.empty()) GTEST_SKIP() << "no python3-numpy";
        ASSERT_EQ(expected.size(), ours.size());
        size_t off = 0, differ = 0;
        for (size_t i = 0; i < ours.size(); i += 2) {
            const int a = std::stoi(ours.substr(i, 2), nullptr, 16), b = std::stoi(expected.substr(i, 2), nullptr, 16);
            if (a != b) ++differ;
            if (a - b > 1 || b - a > 1) ++off;
        }
        EXPECT_EQ(off, 0u);
        if (c.exact) EXPECT_EQ(differ, 0u);
        else EXPECT_LE(differ, ours.size() / 2 / 100) << "more than 1% of the channels a step away";
    }
}

// 8-bit grey channels take a byte path; RGB8 pictures of the same greys read
// the same 32-bit values through the pixel accessors. Both must give the
// same bytes in every space.
TEST_F(ComposeChannelsTest, BytePathGivesWhatTheAccessorsGive) {
    constexpr int32_t kW = 256, kH = 200;
    CImgBuff grey[4], rgb[4];
    std::mt19937 rng(3);
    for (int k = 0; k < 4; ++k) {
        ASSERT_TRUE(grey[k].buffer->Create(kW, kH - 10 * k, kImgGray8));
        ASSERT_TRUE(rgb[k].buffer->Create(kW, kH - 10 * k, kImgRgb8));
        for (int32_t i = 0; i < kW * (kH - 10 * k); ++i) {
            // Row 0 holds every value; the rest is random.
            const uint8_t v = static_cast<uint8_t>(i < kW ? i : rng());
            grey[k].buffer->pixels[i] = v;
            for (int c = 0; c < 3; ++c) rgb[k].buffer->pixels[3 * i + c] = v;
        }
    }
    const CImgBuff* greys[4] = {&grey[0], &grey[1], &grey[2], &grey[3]};
    const CImgBuff* rgbs[4] = {&rgb[0], &rgb[1], &rgb[2], &rgb[3]};
    for (int32_t space : {kCompositeRgb, kCompositeCmy, kCompositeCmyk, kCompositeXyz, kCompositeLab, kCompositeLch}) {
        CImgBuff fast, reference;
        ASSERT_EQ(ComposeChannels(greys, space, &fast), 1);
        ASSERT_EQ(ComposeChannels(rgbs, space, &reference), 1);
        ASSERT_EQ(fast.buffer->format, kImgRgb8);
        ASSERT_EQ(reference.buffer->format, kImgRgb8);
        EXPECT_TRUE(Hex(fast) == Hex(reference)) << "space " << space;
    }
}

}  // namespace
