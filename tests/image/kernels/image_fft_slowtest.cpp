// A 1080p colour frame goes through its spectrum picture and back (the
// picture as zero mask) to itself within one level.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "image/kernels/image_fft.h"
#include "support/kernel_test_util.h"

namespace {

TEST(ImageFftSlow, FullHdRoundTripWithinOneLevel) {
    CImgBuff img, pic, back;
    ASSERT_TRUE(ktest::MakeNoise(img, 1920, 1080, kImgRgb8, 8));
    ImgFftState st{};
    ASSERT_EQ(ImgFftForward(&st, &img), 1);
    EXPECT_EQ(st.transformWidth, 2048);
    ASSERT_EQ(ImgFftSpectrumImage(&st, &pic), 1);
    ASSERT_EQ(ImgFftInverse(&st, &back, &pic, nullptr), 1);
    ImgFftReset(&st);
    ASSERT_EQ(back.buffer->width, 1920);
    ASSERT_EQ(back.buffer->height, 1080);
    const std::string a = ktest::Block(img), b = ktest::Block(back);
    ASSERT_EQ(a.size(), b.size());
    int worst = 0;
    for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(int(uint8_t(a[i])) - int(uint8_t(b[i]))));
    EXPECT_LE(worst, 1);
}

}  // namespace
