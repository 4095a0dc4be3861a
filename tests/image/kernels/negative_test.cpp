// The negative and the region handling every kernel shares.
#include <gtest/gtest.h>

#include "image/kernels/negative.h"
#include "support/kernel_test_util.h"

namespace {

struct RegionCase {
    ImgRect roi;
    int result;
    ImgRect changed;  // expected inclusive rectangle of changed pixels
};

// On a 40 x 30 grey8 image of zeros: which pixels turn to 255.
TEST(KernelFrame, RegionIsOrderedAndClipped) {
    const RegionCase cases[] = {
        {{5, 6, 10, 12}, 1, {5, 6, 10, 12}},
        {{10, 12, 5, 6}, 1, {5, 6, 10, 12}},      // corners swapped
        {{-10, 20, 50, -5}, 1, {0, 0, 39, 20}},   // partly outside on every side
        {{35, 25, 100, 100}, 1, {35, 25, 39, 29}},
        {{0, 29, 39, 29}, 1, {0, 29, 39, 29}},    // one row
        {{50, 0, 60, 10}, 0, {}},                 // wholly right of the image
        {{-20, -20, -1, 5}, 0, {}},               // wholly left
    };
    for (const RegionCase& c : cases) {
        CImgBuff img;
        ASSERT_TRUE(img.buffer->Create(40, 30, kImgGray8));
        EXPECT_EQ(ImgNegate(&img, &c.roi), c.result) << c.roi.x0 << "," << c.roi.y0 << "," << c.roi.x1 << "," << c.roi.y1;
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x) {
                const bool inside = c.result && x >= c.changed.x0 && x <= c.changed.x1 && y >= c.changed.y0 && y <= c.changed.y1;
                ASSERT_EQ(*img.buffer->PixelAt(x, y), inside ? 255 : 0) << x << "," << y;
            }
    }
}

TEST(KernelFrame, NullRegionIsTheWholeImageAndEmptyImageIsRefused) {
    CImgBuff img;
    ASSERT_TRUE(img.buffer->Create(7, 5, kImgGray16));
    EXPECT_EQ(ImgNegate(&img, nullptr), 1);
    for (uint16_t v : ktest::Values<uint16_t>(img)) ASSERT_EQ(v, 65535);

    CImgBuff empty;
    EXPECT_EQ(ImgNegate(&empty, nullptr), 0);
    EXPECT_EQ(ImgNegate(nullptr, nullptr), 0);
}

// Grey and RGB at every depth: every bit of every channel inverted, which
// plain index arithmetic on the block checks; twice gives the image back.
TEST(Negate, IntegerFormatsInvertEveryBit) {
    for (int32_t f : {kImgGray8, kImgGray16, kImgGray32, kImgRgb8, kImgRgb16, kImgRgb32}) {
        CImgBuff img;
        ASSERT_TRUE(ktest::MakeNoise(img, 37, 23, f, 7));
        const std::string before = ktest::Block(img);
        const ImgRect roi{3, 4, 30, 20};
        ASSERT_EQ(ImgNegate(&img, &roi), 1);
        const std::string after = ktest::Block(img);
        const int bpp = img.buffer->BytesPerPixel();
        for (int y = 0; y < 23; ++y)
            for (int x = 0; x < 37; ++x)
                for (int k = 0; k < bpp; ++k) {
                    const size_t i = (static_cast<size_t>(y) * 37 + x) * bpp + k;
                    const bool inside = x >= 3 && x <= 30 && y >= 4 && y <= 20;
                    ASSERT_EQ(static_cast<uint8_t>(after[i]), inside ? static_cast<uint8_t>(~before[i]) : static_cast<uint8_t>(before[i]))
                        << ImgFormatName(f) << " " << x << "," << y;
                }
        ASSERT_EQ(ImgNegate(&img, &roi), 1);
        EXPECT_EQ(ktest::Block(img), before) << ImgFormatName(f);
    }
}

TEST(Negate, WorkedValues) {
    CImgBuff g8;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(g8, 3, 1, kImgGray8, {0, 200, 255}));
    ASSERT_EQ(ImgNegate(&g8, nullptr), 1);
    EXPECT_EQ(ktest::Values<uint8_t>(g8), (std::vector<uint8_t>{255, 55, 0}));
    CImgBuff g32;
    ASSERT_TRUE(ktest::MakeFrom<uint32_t>(g32, 2, 1, kImgGray32, {0, 4000000000u}));
    ASSERT_EQ(ImgNegate(&g32, nullptr), 1);
    EXPECT_EQ(ktest::Values<uint32_t>(g32), (std::vector<uint32_t>{4294967295u, 294967295u}));
}

// CMYK, HSV and XYZ are inverted in their RGB rendering: reading RGB back
// gives the complement (exactly for CMYK, whose RGB round trip is exact).
TEST(Negate, OtherColourFormatsInvertTheirRgbRendering) {
    {
        CImgBuff img;
        ASSERT_TRUE(ktest::MakeNoise(img, 16, 8, kImgCmyk8, 3));
        std::vector<uint8_t> before;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 16; ++x) {
                uint8_t r, g, b;
                img.buffer->GetPixelRgb8(x, y, &r, &g, &b);
                before.insert(before.end(), {r, g, b});
            }
        ASSERT_EQ(ImgNegate(&img, nullptr), 1);
        size_t i = 0;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 16; ++x, i += 3) {
                uint8_t r, g, b;
                img.buffer->GetPixelRgb8(x, y, &r, &g, &b);
                ASSERT_EQ(r, 255 - before[i]);
                ASSERT_EQ(g, 255 - before[i + 1]);
                ASSERT_EQ(b, 255 - before[i + 2]);
            }
    }
    for (int32_t f : {kImgHsv16, kImgXyz}) {
        CImgBuff img;
        ASSERT_TRUE(img.buffer->Create(2, 1, f));
        img.buffer->SetPixelRgb16(0, 0, 65535, 0, 0);
        img.buffer->SetPixelRgb16(1, 0, 0, 0, 0);
        ASSERT_EQ(ImgNegate(&img, nullptr), 1);
        uint16_t r, g, b;
        img.buffer->GetPixelRgb16(0, 0, &r, &g, &b);
        EXPECT_LE(r, 1) << ImgFormatName(f);
        EXPECT_GE(g, 65534) << ImgFormatName(f);
        EXPECT_GE(b, 65534) << ImgFormatName(f);
        img.buffer->GetPixelRgb16(1, 0, &r, &g, &b);
        EXPECT_GE(r, 65534) << ImgFormatName(f);
    }
}

}  // namespace
