// The pixel buffer: blocks, create, copy, clear, format conversion on the
// pool, canvas resize and the refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "image/imgbuff.h"
#include "support/image_test_util.h"

namespace {

uint64_t BlockSize(const C_ImgBuff& b) {
    uint64_t size;
    std::memcpy(&size, b.pixels - 8, sizeof size);
    return size;
}

bool AllZero(const C_ImgBuff& b) {
    uint64_t n = uint64_t(b.width) * b.height * b.BytesPerPixel();
    for (uint64_t i = 0; i < n; ++i) {
        if (b.pixels[i] != 0) return false;
    }
    return true;
}

bool SamePixels(const C_ImgBuff& a, const C_ImgBuff& b) {
    return a.format == b.format && a.width == b.width && a.height == b.height &&
           std::memcmp(a.pixels, b.pixels, size_t(a.width) * a.height * a.BytesPerPixel()) == 0;
}

TEST(PixelBuffer, FormatTables) {
    const int32_t bytes[10] = {0, 1, 2, 4, 3, 6, 12, 24, 6, 4};
    for (int f = 0; f < 10; ++f) EXPECT_EQ(g_ImgFormatBytes[f], bytes[f]);
    EXPECT_STREQ(ImgFormatName(0), "null");
    EXPECT_STREQ(ImgFormatName(1), "8bit grayscale");
    EXPECT_STREQ(ImgFormatName(7), "XYZ color");
    EXPECT_STREQ(ImgFormatName(8), "48bit color (HSV)");
    EXPECT_STREQ(ImgFormatName(9), "32bit color (CMYK)");
    EXPECT_STREQ(ImgFormatName(10), "unknown");
    EXPECT_STREQ(ImgFormatName(-1), "unknown");
    for (int f = 0; f < 12; ++f) {
        EXPECT_EQ(ImgFormatIn(ImgFormat8BitMask, f), f == 1 || f == 4 || f == 9) << f;
        EXPECT_EQ(ImgFormatIn(ImgFormat16BitMask, f), f == 2 || f == 5 || f == 8) << f;
    }
}

TEST(PixelBuffer, BlocksAreRoundedAndCarryTheirSize) {
    C_ImgBuff b;
    ASSERT_EQ(b.Create(1, 1, kImgRgb8), 1);
    EXPECT_EQ(BlockSize(b), 4096u);  // header 8 + pixels 3, rounded up
    ASSERT_EQ(b.Create(1022, 1, kImgGray32), 1);
    EXPECT_EQ(BlockSize(b), 4096u);  // 4088 + 8 fills the block exactly
    ASSERT_EQ(b.Create(1023, 1, kImgGray32), 1);
    EXPECT_EQ(BlockSize(b), 8192u);  // 4092 + 8
    EXPECT_TRUE(AllZero(b));
    uint8_t* p = ImgAllocPixels(10, 3);
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 30; ++i) EXPECT_EQ(p[i], 0);
    ImgFreePixels(p);
    ImgFreePixels(nullptr);
}

TEST(PixelBuffer, AllocationRefusesOverflowingSizes) {
    EXPECT_EQ(ImgAllocPixels(UINT64_MAX, 2), nullptr);
    EXPECT_EQ(ImgAllocPixels(uint64_t(1) << 63, 2), nullptr);
    EXPECT_EQ(ImgAllocPixels(UINT64_MAX - 100, 1), nullptr);  // the header and rounding overflow
    C_ImgBuff b;
    ASSERT_EQ(b.Create(4, 4, kImgGray8), 1);
    // 2^62 pixels of 24 bytes do not fit 64 bits: refused, buffer empty.
    EXPECT_EQ(b.Create(INT32_MAX, INT32_MAX, kImgXyz), 0);
    EXPECT_EQ(b.format, 0);
    EXPECT_EQ(b.width, 0);
    EXPECT_EQ(b.pixels, nullptr);
}

#if !defined(__SANITIZE_ADDRESS__)
// 65536 x 65536 wraps to 0 in 32 bits; in 64 bits it is 96 GiB, which
// either fails cleanly or is the whole image, never a small block.
TEST(PixelBuffer, HugeImageNeverWrapsToASmallBlock) {
    C_ImgBuff b;
    if (b.Create(65536, 65536, kImgXyz)) {
        EXPECT_EQ(b.width, 65536);
        EXPECT_EQ(BlockSize(b), (uint64_t(65536) * 65536 * 24 + 8 + 4095) / 4096 * 4096);
    } else {
        EXPECT_EQ(b.format, 0);
        EXPECT_EQ(b.pixels, nullptr);
    }
}
#endif

TEST(PixelBuffer, CreateRules) {
    C_ImgBuff b;
    EXPECT_EQ(b.Create(0, 0, 0), 1);  // unchanged geometry of an empty buffer
    ASSERT_EQ(b.Create(3, 2, kImgRgb16), 1);
    imgtest::FillPattern(b, 1);
    uint8_t* block = b.pixels;
    EXPECT_EQ(b.Create(3, 2, kImgRgb16), 1);  // same geometry: cleared in place
    EXPECT_EQ(b.pixels, block);
    EXPECT_TRUE(AllZero(b));
    EXPECT_EQ(b.Create(0, 0, 0), 0);  // frees and refuses
    EXPECT_EQ(b.pixels, nullptr);
    struct {
        int32_t w, h, f;
    } refused[] = {{0, 5, 1}, {5, 0, 1}, {-1, 5, 1}, {5, -3, 4}, {5, 5, 0}, {5, 5, 10}, {5, 5, -1}};
    for (const auto& r : refused) {
        ASSERT_EQ(b.Create(2, 2, kImgGray8), 1);
        EXPECT_EQ(b.Create(r.w, r.h, r.f), 0) << r.w << " " << r.h << " " << r.f;
        EXPECT_EQ(b.format, 0);
        EXPECT_EQ(b.width, 0);
        EXPECT_EQ(b.height, 0);
        EXPECT_EQ(b.pixels, nullptr);
    }
}

TEST(PixelBuffer, CopyFrom) {
    C_ImgBuff src, dst;
    ASSERT_EQ(src.Create(7, 5, kImgXyz), 1);
    imgtest::FillPattern(src, 2);
    EXPECT_EQ(dst.CopyFrom(&src), &dst);
    EXPECT_TRUE(SamePixels(src, dst));
    EXPECT_NE(src.pixels, dst.pixels);

    // Copying onto itself keeps the image.
    C_ImgBuff keep;
    keep.CopyFrom(&src);
    EXPECT_EQ(src.CopyFrom(&src), &src);
    EXPECT_TRUE(SamePixels(src, keep));

    // An empty source empties the copy.
    C_ImgBuff empty;
    dst.CopyFrom(&empty);
    EXPECT_EQ(dst.format, 0);
    EXPECT_EQ(dst.pixels, nullptr);

    // From 1 MiB the copy runs on the pool.
    C_ImgBuff big, bigCopy;
    ASSERT_EQ(big.Create(700, 600, kImgRgb8), 1);
    imgtest::FillPattern(big, 3);
    bigCopy.CopyFrom(&big);
    EXPECT_TRUE(SamePixels(big, bigCopy));
    big.CopyFrom(&big);
    EXPECT_TRUE(SamePixels(big, bigCopy));
}

TEST(PixelBuffer, Clear) {
    C_ImgBuff b;
    b.Clear();  // empty: nothing to do
    for (int32_t w : {5, 800}) {  // below and above 1 MiB of RGB32
        ASSERT_EQ(b.Create(w, 200, kImgRgb32), 1);
        imgtest::FillPattern(b, 4);
        b.Clear();
        EXPECT_TRUE(AllZero(b)) << w;
        EXPECT_EQ(b.width, w);
    }
}

TEST(PixelBuffer, ConvertFormatRefusalsAndNoOps) {
    C_ImgBuff b;
    EXPECT_EQ(b.ConvertFormat(kImgGray8), 0);  // empty
    ASSERT_EQ(b.Create(4, 3, kImgRgb8), 1);
    imgtest::FillPattern(b, 5);
    C_ImgBuff keep;
    keep.CopyFrom(&b);
    uint8_t* block = b.pixels;
    EXPECT_EQ(b.ConvertFormat(kImgRgb8), 1);
    EXPECT_EQ(b.pixels, block);
    for (uint32_t bad : {0u, 10u, 0xFFFFFFFFu}) {
        EXPECT_EQ(b.ConvertFormat(bad), 0);
        EXPECT_TRUE(SamePixels(b, keep));
    }
}

// Rows of conversions from 4096 pixels run on the pool; the result matches
// the same pixels converted on the calling thread.
TEST(PixelBuffer, LargeConversionsMatchSmallOnes) {
    for (int32_t from = 1; from <= 9; ++from) {
        C_ImgBuff big;
        ASSERT_EQ(big.Create(64, 65, from), 1);  // 4160 pixels
        imgtest::FillPattern(big, uint32_t(from));
        for (int32_t to = 1; to <= 9; ++to) {
            C_ImgBuff large, small;
            large.CopyFrom(&big);
            // 63 x 65 = 4095 pixels: the same pixels, converted inline.
            ASSERT_EQ(small.Create(63, 65, from), 1);
            for (int32_t y = 0; y < 65; ++y) std::memcpy(small.PixelAt(0, y), big.PixelAt(0, y), 63 * big.BytesPerPixel());
            ASSERT_EQ(large.ConvertFormat(uint32_t(to)), 1);
            ASSERT_EQ(small.ConvertFormat(uint32_t(to)), 1);
            for (int32_t y = 0; y < 65; ++y) {
                ASSERT_EQ(std::memcmp(small.PixelAt(0, y), large.PixelAt(0, y), 63 * large.BytesPerPixel()), 0)
                    << from << " -> " << to << " row " << y;
            }
        }
    }
}

TEST(PixelBuffer, ResizeCanvas) {
    C_ImgBuff b;
    EXPECT_EQ(b.ResizeCanvas(4, 4), 0);  // empty
    ASSERT_EQ(b.Create(5, 4, kImgRgb16), 1);
    imgtest::FillPattern(b, 6);
    C_ImgBuff orig;
    orig.CopyFrom(&b);
    uint8_t* block = b.pixels;
    EXPECT_EQ(b.ResizeCanvas(5, 4), 1);
    EXPECT_EQ(b.pixels, block);

    ASSERT_EQ(b.ResizeCanvas(3, 2), 1);
    EXPECT_EQ(b.width, 3);
    EXPECT_EQ(b.height, 2);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 3; ++x) EXPECT_EQ(imgtest::GetRaw(b, x, y), imgtest::GetRaw(orig, x, y));

    b.CopyFrom(&orig);
    ASSERT_EQ(b.ResizeCanvas(8, 6), 1);
    EXPECT_EQ(b.format, kImgRgb16);
    for (int32_t y = 0; y < 6; ++y) {
        for (int32_t x = 0; x < 8; ++x) {
            std::vector<double> want = x < 5 && y < 4 ? imgtest::GetRaw(orig, x, y) : std::vector<double>{0, 0, 0};
            EXPECT_EQ(imgtest::GetRaw(b, x, y), want) << x << "," << y;
        }
    }

    C_ImgBuff keep;
    keep.CopyFrom(&b);
    EXPECT_EQ(b.ResizeCanvas(0x80000000u, 2), 0);
    EXPECT_EQ(b.ResizeCanvas(3, 0), 0);
    EXPECT_TRUE(SamePixels(b, keep));
}

}  // namespace

// Large blocks are recycled between images of the same size: a new image
// must still start all zero, and an uncleared block must be the right size.
TEST(PixelBuffer, RecycledLargeBlocksStartZeroed) {
    for (int round = 0; round < 3; ++round) {
        C_ImgBuff a;
        ASSERT_EQ(a.Create(1024, 700, kImgRgb8), 1);
        std::memset(a.pixels, 0xA5, size_t(1024) * 700 * 3);
        a.FreePixels();
        C_ImgBuff b;
        ASSERT_EQ(b.Create(1024, 700, kImgRgb8), 1);
        EXPECT_TRUE(AllZero(b)) << "round " << round;
        EXPECT_EQ(BlockSize(b), (uint64_t(1024) * 700 * 3 + 8 + 4095) / 4096 * 4096);
        std::memset(b.pixels, 0x5A, size_t(1024) * 700 * 3);
        ASSERT_EQ(b.ConvertFormat(kImgGray8), 1);  // an uncleared block, every byte written
        for (size_t i = 0; i < size_t(1024) * 700; ++i) ASSERT_EQ(b.pixels[i], 0x5A) << i;
    }
}
