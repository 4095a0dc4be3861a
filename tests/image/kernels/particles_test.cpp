// Particle separation: touching discs, plateaus in grey mode, inverted
// images, colour images and refusals; object counts by scipy's label.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "image/kernels/islands.h"
#include "image/kernels/particles.h"
#include "support/kernel_test_util.h"

namespace {

void Disc(CImgBuff& img, double cx, double cy, double r, uint8_t v) {
    for (int y = 0; y < img.buffer->height; ++y)
        for (int x = 0; x < img.buffer->width; ++x)
            if (std::hypot(x - cx, y - cy) <= r) img.buffer->SetPixelGray8(x, y, v);
}

int Objects(CImgBuff& img, int32_t conn, uint32_t inverted = 0) {
    IslandSettings s{&img, inverted, static_cast<uint32_t>(conn), 1, 1, 1.0, 1, nullptr, 0};
    return ImgMeasureIslands(&s, nullptr, nullptr, 0, nullptr);
}

// scipy's component counts of several grey8 images (objects: non-zero),
// under 4 then 8 connectivity each.
std::vector<int> ScipyCounts(const std::vector<const CImgBuff*>& images) {
    std::string script = "from scipy import ndimage\nout = []\n";
    std::vector<std::string> inputs;
    for (size_t i = 0; i < images.size(); ++i) {
        inputs.push_back(ktest::Block(*images[i]));
        script += "a = np.fromfile(sys.argv[" + std::to_string(i + 1) + "], np.uint8).reshape(" + std::to_string(images[i]->buffer->height) +
                  ", " + std::to_string(images[i]->buffer->width) + ") != 0\n" +
                  "out += [ndimage.label(a)[1], ndimage.label(a, structure=np.ones((3, 3)))[1]]\n";
    }
    script += "open(sys.argv[-1], 'w').write(' '.join(str(v) for v in out))\n";
    const std::string text = ktest::RunNumpy(script, inputs);
    std::vector<int> counts;
    size_t at = 0;
    while (at < text.size()) {
        counts.push_back(std::stoi(text.substr(at)));
        at = text.find(' ', at);
        if (at == std::string::npos) break;
        ++at;
    }
    return counts;
}

TEST(Particles, TouchingDiscsComeApart) {
    std::vector<CImgBuff*> results;
    CImgBuff pair4, pair8, single, inv;
    for (CImgBuff* img : {&pair4, &pair8, &single, &inv}) {
        ASSERT_TRUE(img->buffer->Create(48, 30, kImgGray8));
        if (img == &inv) std::memset(img->buffer->pixels, 255, 48 * 30);
    }
    const uint8_t fg = 255;
    Disc(pair4, 17, 15, 7, fg);
    Disc(pair4, 30, 15, 7, fg);
    std::memcpy(pair8.buffer->pixels, pair4.buffer->pixels, 48 * 30);
    Disc(single, 24, 15, 7, fg);
    Disc(inv, 17, 15, 7, 0);
    Disc(inv, 30, 15, 7, 0);
    ASSERT_EQ(Objects(pair4, 4), 1);
    ASSERT_EQ(ImgSeparateParticles(&pair4, 0, 4, 0, nullptr), 1);
    ASSERT_EQ(ImgSeparateParticles(&pair8, 0, 8, 0, nullptr), 1);
    ASSERT_EQ(ImgSeparateParticles(&single, 0, 8, 0, nullptr), 1);
    ASSERT_EQ(ImgSeparateParticles(&inv, 0, 8, 1, nullptr), 1);
    const std::vector<int> counts = ScipyCounts({&pair4, &pair8, &single});
    ASSERT_EQ(counts.size(), 6u);
    EXPECT_EQ(counts[0], 2);  // pair under 4
    EXPECT_EQ(counts[3], 2);  // pair under 8
    EXPECT_EQ(counts[4], 1);  // single disc
    EXPECT_EQ(Objects(inv, 8, 1), 2);
    // The line between is one background column, and lines are white when inverted.
    for (CImgBuff* img : {&pair4, &pair8}) {
        int column = -1, cuts = 0;
        for (int x = 18; x <= 29; ++x)
            if (*img->buffer->PixelAt(x, 15) == 0) column = x, ++cuts;
        EXPECT_EQ(cuts, 1);
        EXPECT_TRUE(column == 23 || column == 24) << column;
    }
    EXPECT_EQ(*inv.buffer->PixelAt(23, 15) & *inv.buffer->PixelAt(24, 15), 0);
    EXPECT_TRUE(*inv.buffer->PixelAt(23, 15) == 255 || *inv.buffer->PixelAt(24, 15) == 255);
    // A disc loses the lone tips of its outline (smoothed distance 0).
    EXPECT_EQ(*single.buffer->PixelAt(24, 8), 0);
    EXPECT_EQ(*single.buffer->PixelAt(24, 9), 255);
}

TEST(Particles, GreyPlateauIsCutBetweenPeaks) {
    CImgBuff img;
    ASSERT_TRUE(img.buffer->Create(40, 20, kImgGray8));
    for (int y = 4; y < 16; ++y)
        for (int x = 4; x < 36; ++x) *img.buffer->PixelAt(x, y) = 10;
    Disc(img, 12, 10, 3, 70);
    Disc(img, 27, 10, 3, 70);
    for (int32_t conn : {4, 8}) {
        CImgBuff work;
        work.CopyFrom(&img);
        ASSERT_EQ(ImgSeparateParticles(&work, 1, conn, 0, nullptr), 1);
        EXPECT_EQ(Objects(work, conn), 2) << conn;
        EXPECT_EQ(*work.buffer->PixelAt(12, 10), 70);
        EXPECT_EQ(*work.buffer->PixelAt(2, 2), 0);  // level 0 stays background
    }
}

TEST(Particles, ColourKeepsObjectPixelsAndRegionsAreChecked) {
    CImgBuff img;
    ASSERT_TRUE(img.buffer->Create(48, 30, kImgRgb8));
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 48; ++x)
            if (std::hypot(x - 17, y - 15) <= 7 || std::hypot(x - 30, y - 15) <= 7) img.buffer->SetPixelRgb8(x, y, 200, 40, 90);
    CImgBuff work;
    work.CopyFrom(&img);
    const ImgRect region{2, 2, 45, 27};
    ASSERT_EQ(ImgSeparateParticles(&work, 0, 8, 0, &region), 1);
    uint8_t r, g, b;
    work.buffer->GetPixelRgb8(17, 15, &r, &g, &b);
    EXPECT_EQ(r, 200);
    EXPECT_EQ(g, 40);
    EXPECT_EQ(b, 90);
    EXPECT_EQ(Objects(work, 8), 2);

    const std::string before = ktest::Block(img);
    for (const ImgRect& bad : {ImgRect{-1, 0, 10, 10}, ImgRect{0, 0, 48, 10}, ImgRect{10, 5, 5, 20}}) {
        EXPECT_EQ(ImgSeparateParticles(&img, 0, 8, 0, &bad), 0);
    }
    EXPECT_EQ(ImgSeparateParticles(&img, 0, 6, 0, nullptr), 0);
    EXPECT_EQ(ktest::Block(img), before);
    CImgBuff black;
    ASSERT_TRUE(black.buffer->Create(10, 10, kImgGray8));
    EXPECT_EQ(ImgSeparateParticles(&black, 0, 8, 0, nullptr), 0);  // top level 0
    CImgBuff empty;
    EXPECT_EQ(ImgSeparateParticles(&empty, 0, 8, 0, nullptr), 0);
}

// More than 255 markers: labels start again at 1, and every dot survives.
TEST(Particles, LabelsWrapAfter255) {
    CImgBuff img;
    ASSERT_TRUE(img.buffer->Create(20 * 6, 15 * 6, kImgGray8));
    for (int j = 0; j < 15; ++j)
        for (int i = 0; i < 20; ++i) Disc(img, i * 6 + 3, j * 6 + 3, 1.5, 255);
    CImgBuff markers;
    markers.CopyFrom(&img);
    EXPECT_EQ(ImgParticleLabelMarkers(&markers), 255);
    EXPECT_EQ(*markers.buffer->PixelAt(3 + 6 * 14, 3 + 6 * 12), 255);  // the 255th dot
    EXPECT_EQ(*markers.buffer->PixelAt(3 + 6 * 15, 3 + 6 * 12), 1);    // the 256th
    ASSERT_EQ(ImgSeparateParticles(&img, 0, 8, 0, nullptr), 1);
    EXPECT_EQ(Objects(img, 8), 300);
}

}  // namespace
