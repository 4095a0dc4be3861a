// The span readers and writers read the stored samples directly where the
// typed accessors' rendering is plain arithmetic; they must give exactly
// what the accessors give, in every format.
#include <gtest/gtest.h>

#include "image/kernels/kernel_frame.h"
#include "support/kernel_test_util.h"

namespace {

TEST(KernelFrame, SpanReadersMatchTheAccessors) {
    const int w = 40, h = 3;
    for (int32_t f : ktest::kAllFormats) {
        CImgBuff img;
        ASSERT_TRUE(ktest::MakeNoise(img, w, h, f, 70));
        const C_ImgBuff& b = *img.buffer;
        for (int y = 0; y < h; ++y) {
            uint8_t g8[w], rgb8[3 * w];
            uint16_t g16[w], rgb16[3 * w], hsv[3 * w];
            ImgReadGray8Span(b, 1, y, w - 1, g8);
            ImgReadGray16Span(b, 1, y, w - 1, g16);
            ImgReadRgb8Span(b, 1, y, w - 1, rgb8);
            ImgReadRgb16Span(b, 1, y, w - 1, rgb16);
            ImgReadHsv16Span(b, 1, y, w - 1, hsv);
            for (int i = 0; i < w - 1; ++i) {
                const int x = i + 1;
                uint8_t v8, r8, gg8, b8;
                uint16_t v16, r16, gg16, b16, hh, ss, vv;
                b.GetPixelGray8(x, y, &v8);
                b.GetPixelGray16(x, y, &v16);
                b.GetPixelRgb8(x, y, &r8, &gg8, &b8);
                b.GetPixelRgb16(x, y, &r16, &gg16, &b16);
                b.GetPixelHsv16(x, y, &hh, &ss, &vv);
                ASSERT_EQ(g8[i], v8) << ImgFormatName(f);
                ASSERT_EQ(g16[i], v16) << ImgFormatName(f);
                ASSERT_EQ(rgb8[3 * i], r8) << ImgFormatName(f);
                ASSERT_EQ(rgb8[3 * i + 1], gg8) << ImgFormatName(f);
                ASSERT_EQ(rgb8[3 * i + 2], b8) << ImgFormatName(f);
                ASSERT_EQ(rgb16[3 * i], r16) << ImgFormatName(f);
                ASSERT_EQ(rgb16[3 * i + 1], gg16) << ImgFormatName(f);
                ASSERT_EQ(rgb16[3 * i + 2], b16) << ImgFormatName(f);
                ASSERT_EQ(hsv[3 * i], hh) << ImgFormatName(f);
                ASSERT_EQ(hsv[3 * i + 1], ss) << ImgFormatName(f);
                ASSERT_EQ(hsv[3 * i + 2], vv) << ImgFormatName(f);
            }
        }
    }
}

// A 32-bit mapping applied to the samples equals reading with the 32-bit
// grey (mono) or RGB (colour) getter, mapping, and writing with the setter.
TEST(KernelFrame, MapSpan32MatchesTheAccessors) {
    const auto f32 = [](uint32_t v) { return v / 3 + 0x10000000u; };
    for (int32_t f : ktest::kAllFormats) {
        CImgBuff img, ref;
        ASSERT_TRUE(ktest::MakeNoise(img, 9, 2, f, 71));
        ref.CopyFrom(&img);
        ImgMapSpan32(*img.buffer, 2, 1, 6, f32);
        C_ImgBuff& r = *ref.buffer;
        for (int x = 2; x < 8; ++x) {
            if (f <= kImgGray32) {
                uint32_t v;
                r.GetPixelGray32(x, 1, &v);
                r.SetPixelGray32(x, 1, f32(v));
            } else {
                uint32_t a, b, c;
                r.GetPixelRgb32(x, 1, &a, &b, &c);
                r.SetPixelRgb32(x, 1, f32(a), f32(b), f32(c));
            }
        }
        EXPECT_EQ(ktest::Block(img), ktest::Block(ref)) << ImgFormatName(f);
    }
}

TEST(KernelFrame, LevelWriterMatchesTheGreySetter) {
    for (int32_t f : ktest::kAllFormats) {
        CImgBuff img, ref;
        ASSERT_TRUE(ktest::MakeNoise(img, 3, 1, f, 72));
        ref.CopyFrom(&img);
        const uint8_t levels[3] = {kImgLevelBlack, kImgLevelKeep, kImgLevelWhite};
        ImgWriteLevelsSpan(*img.buffer, 0, 0, 3, levels);
        ref.buffer->SetPixelGray16(0, 0, 0);
        ref.buffer->SetPixelGray16(2, 0, 65535);
        EXPECT_EQ(ktest::Block(img), ktest::Block(ref)) << ImgFormatName(f);
    }
}

TEST(KernelFrame, ClampsAreDefinedForEveryDouble) {
    EXPECT_EQ(ImgClampToU8(std::nan("")), 0);
    EXPECT_EQ(ImgClampToU8(-1e300), 0);
    EXPECT_EQ(ImgClampToU8(254.999), 254);
    EXPECT_EQ(ImgClampToU8(1e300), 255);
    EXPECT_EQ(ImgClampToU16(INFINITY), 65535);
    EXPECT_EQ(ImgClampToU32(4294967294.9), 4294967294u);
    EXPECT_EQ(ImgClampToU32(4294967296.0), 4294967295u);
    EXPECT_EQ(ImgClampToU32(-INFINITY), 0u);
}

}  // namespace
