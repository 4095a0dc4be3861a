// Texture buffers and the display conversion between images and textures.
// Expected texels come from a numpy model of each pixel format's layout.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "image/imgbuff.h"
#include "support/testsupport.h"
#include "toolkit/fg_texture.h"

namespace {

TEST(FgTextureCreate, PowerOfTwoBufferWithPackedSourceInTheTopLeft) {
    const struct {
        uint64_t cw, ch, cols, rows, alpha, texW, texH;
    } cases[] = {
        {5, 3, 1, 1, 0, 8, 4},    {16, 16, 6, 2, 1, 128, 32}, {7, 14, 16, 8, 1, 128, 128},
        {1, 1, 1, 1, 0, 1, 1},    {33, 1, 2, 1, 0, 128, 1},
    };
    for (const auto& c : cases) {
        const uint64_t bpp = c.alpha ? 4 : 3;
        const uint64_t srcW = c.cw * c.cols, srcH = c.ch * c.rows;
        std::vector<uint8_t> src(srcW * srcH * bpp);
        for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(1 + i % 251);
        CFgTexture t;
        ASSERT_EQ(t.Create(c.cw, c.ch, c.cols, c.rows, c.alpha, src.data()), 1);
        EXPECT_EQ(t.texWidth, c.texW);
        EXPECT_EQ(t.texHeight, c.texH);
        EXPECT_EQ(t.byteSize, c.texW * c.texH * bpp);
        for (uint64_t y = 0; y < c.texH; ++y)
            for (uint64_t x = 0; x < c.texW * bpp; ++x) {
                const uint8_t want = (y < srcH && x < srcW * bpp) ? src[y * srcW * bpp + x] : 0;
                ASSERT_EQ(t.pixels[y * c.texW * bpp + x], want) << c.cw << "x" << c.ch << " at " << x << "," << y;
            }
    }
}

TEST(FgTextureCreate, RefusesEmptyGeometryAndClearsTheOldBuffer) {
    CFgTexture t;
    ASSERT_EQ(t.Create(4, 4, 1, 1, 1, nullptr), 1);
    EXPECT_EQ(t.Create(0, 4, 1, 1, 1, nullptr), 0);
    EXPECT_EQ(t.pixels, nullptr);
    EXPECT_EQ(t.texWidth, 0u);
    EXPECT_EQ(t.Create(4, 4, 0, 1, 0, nullptr), 0);
    EXPECT_EQ(t.Create(4, 4, 1, 0, 0, nullptr), 0);
    EXPECT_EQ(t.Create(uint64_t{1} << 31, uint64_t{1} << 31, 1, 1, 0, nullptr), 0);
}

TEST(FgTextureCopy, CopiesGeometryPixelsAndTint) {
    CFgTexture a, b;
    const uint8_t px[2 * 2 * 4] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    ASSERT_EQ(a.Create(2, 2, 1, 1, 1, px), 1);
    a.tinted = 1;
    ASSERT_EQ(b.CopyFrom(&a), 1);
    EXPECT_EQ(b.cellWidth, 2u);
    EXPECT_EQ(b.tinted, 1u);
    EXPECT_EQ(std::memcmp(a.pixels, b.pixels, a.byteSize), 0);
    CFgTexture empty;
    ASSERT_EQ(b.CopyFrom(&empty), 1);
    EXPECT_EQ(b.pixels, nullptr);
}

// Fills the pixel block with random bytes (valid doubles for XYZ).
void FillRandom(CImgBuff& img, uint32_t seed) {
    std::mt19937 rng(seed);
    C_ImgBuff* b = img.buffer;
    if (b->format == kImgXyz) {
        std::uniform_real_distribution<double> d(0.0, 1.05);
        for (int32_t y = 0; y < b->height; ++y)
            for (int32_t x = 0; x < b->width; ++x) b->SetPixelXyz(x, y, d(rng), d(rng), d(rng));
        return;
    }
    const size_t n = static_cast<size_t>(b->width) * b->height * b->BytesPerPixel();
    for (size_t i = 0; i < n; ++i) b->pixels[i] = static_cast<uint8_t>(rng());
}

// Expected texture buffer: every texel the most significant byte of its
// sample (grey repeated into R, G, B; CMYK shows K), zero padding.
const char* kTexelModel = R"(
import sys, numpy as np
fmt, w, h, cols = (int(a) for a in sys.argv[1:5])
raw = open(sys.argv[5], 'rb').read()
def grey(a): return np.repeat(a[:, :, None], 3, 2)
if fmt == 1: rgb = grey(np.frombuffer(raw, np.uint8).reshape(h, w))
elif fmt == 2: rgb = grey(np.frombuffer(raw, '<u2').reshape(h, w) >> 8)
elif fmt in (3, 9): rgb = grey(np.frombuffer(raw, '<u4').reshape(h, w) >> 24)
elif fmt == 4: rgb = np.frombuffer(raw, np.uint8).reshape(h, w, 3)
elif fmt in (5, 8): rgb = np.frombuffer(raw, '<u2').reshape(h, w, 3) >> 8
elif fmt == 6: rgb = np.frombuffer(raw, '<u4').reshape(h, w, 3) >> 24
p2 = lambda v: 1 << (v - 1).bit_length()
out = np.zeros((p2(h), p2(w * cols), 3), np.uint8)
out[:h, :w] = rgb
open(sys.argv[6], 'wb').write(out.tobytes())
)";

TEST(FgDisplayConvert, EveryFormatMatchesTheTexelModel) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "no python3 with numpy";
    kvtest::TempDir dir("texels");
    const struct {
        int32_t format, w, h;
        uint64_t columns;
    } cases[] = {{kImgGray8, 7, 5, 1},  {kImgGray16, 9, 3, 1}, {kImgGray32, 5, 6, 1},
                 {kImgRgb8, 13, 4, 2},  {kImgRgb16, 6, 5, 1},  {kImgRgb32, 3, 7, 1},
                 {kImgHsv16, 5, 5, 1},  {kImgCmyk8, 11, 2, 3}};
    for (const auto& c : cases) {
        CImgBuff img;
        ASSERT_EQ(img.buffer->Create(c.w, c.h, c.format), 1);
        FillRandom(img, static_cast<uint32_t>(c.format));
        const std::string in = dir.file("in.raw"), out = dir.file("out.raw");
        ASSERT_TRUE(kvtest::WriteFileBytes(
            in, std::string(reinterpret_cast<const char*>(img.buffer->pixels),
                            static_cast<size_t>(c.w) * c.h * img.buffer->BytesPerPixel())));
        std::string log;
        ASSERT_EQ(kvtest::RunPython(kTexelModel,
                                    {std::to_string(c.format), std::to_string(c.w), std::to_string(c.h),
                                     std::to_string(c.columns), in, out},
                                    &log),
                  0)
            << log;
        CFgTexture t;
        ASSERT_EQ(t.SetFromImage(&img, c.columns), 1) << c.format;
        EXPECT_EQ(t.alpha, 0u);
        EXPECT_EQ(t.cellWidth, static_cast<uint64_t>(c.w));
        EXPECT_EQ(t.columns, c.columns);
        EXPECT_EQ(t.rows, 1u);
        const std::string want = kvtest::ReadFileBytes(out);
        ASSERT_EQ(want.size(), t.byteSize) << "format " << c.format;
        EXPECT_EQ(std::memcmp(want.data(), t.pixels, t.byteSize), 0) << "format " << c.format;
    }
}

TEST(FgDisplayConvert, XyzGoesThroughItsSrgbConversion) {
    CImgBuff img;
    ASSERT_EQ(img.buffer->Create(5, 3, kImgXyz), 1);
    FillRandom(img, 7);
    CFgTexture t;
    ASSERT_EQ(t.SetFromImage(&img, 1), 1);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 5; ++x) {
            uint8_t r, g, b;
            img.buffer->GetPixelRgb8(x, y, &r, &g, &b);
            const uint8_t* texel = t.pixels + y * t.RowBytes() + x * 3;
            EXPECT_EQ(texel[0], r);
            EXPECT_EQ(texel[1], g);
            EXPECT_EQ(texel[2], b);
        }
}

TEST(FgDisplayConvert, CmykShowsItsKByteAndHsvItsChannels) {
    CImgBuff cmyk;
    ASSERT_EQ(cmyk.buffer->Create(1, 1, kImgCmyk8), 1);
    ASSERT_EQ(cmyk.buffer->SetPixelCmyk8(0, 0, 0, 0, 0, 255), 1);
    CFgTexture t;
    ASSERT_EQ(t.SetFromImage(&cmyk, 1), 1);
    EXPECT_EQ(t.pixels[0], 255);
    EXPECT_EQ(t.pixels[1], 255);
    EXPECT_EQ(t.pixels[2], 255);

    CImgBuff hsv;
    ASSERT_EQ(hsv.buffer->Create(1, 1, kImgHsv16), 1);
    ASSERT_EQ(hsv.buffer->SetPixelHsv16(0, 0, 0, 65534, 65535), 1);
    ASSERT_EQ(t.SetFromImage(&hsv, 1), 1);
    EXPECT_EQ(t.pixels[0], 0);
    EXPECT_EQ(t.pixels[1], 255);
    EXPECT_EQ(t.pixels[2], 255);
}

TEST(FgDisplayConvert, RefusesAnImageWithoutFormat) {
    CImgBuff empty;
    CFgTexture t;
    EXPECT_EQ(t.SetFromImage(&empty, 1), 0);
    EXPECT_EQ(t.SetFromImage(nullptr, 1), 0);
}

TEST(FgCopyFromTexture, TakesTheFirstCellOfRgbAndRgbaTextures) {
    for (uint64_t alpha : {0u, 1u}) {
        const uint64_t bpp = alpha ? 4 : 3;
        // Two 3 x 2 cells side by side.
        std::vector<uint8_t> src(6 * 2 * bpp);
        for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(10 + i);
        CFgTexture t;
        ASSERT_EQ(t.Create(3, 2, 2, 1, alpha, src.data()), 1);
        CImgBuff img;
        ASSERT_EQ(img.CopyFromTexture(&t), 1);
        ASSERT_EQ(img.buffer->format, kImgRgb8);
        ASSERT_EQ(img.buffer->width, 3);
        ASSERT_EQ(img.buffer->height, 2);
        for (int32_t y = 0; y < 2; ++y)
            for (int32_t x = 0; x < 3; ++x)
                for (int ch = 0; ch < 3; ++ch)
                    EXPECT_EQ(img.buffer->pixels[(y * 3 + x) * 3 + ch], src[(y * 6 + x) * bpp + ch])
                        << "alpha " << alpha << " at " << x << "," << y;
    }
    CFgTexture empty;
    CImgBuff img;
    EXPECT_EQ(img.CopyFromTexture(&empty), 0);
}

}  // namespace
