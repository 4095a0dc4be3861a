// Histogram counting and the level stretch.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "image/kernels/histogram_levels.h"
#include "support/kernel_test_util.h"

namespace {

struct LevelDeleter {
    void operator()(ImgLevelTable* t) const { ImgLevelTableFree(t); }
};
using Levels = std::unique_ptr<ImgLevelTable, LevelDeleter>;

std::vector<uint64_t> Histogram(CImgBuff& img, int mode, const ImgRect* roi, uint64_t* largest) {
    std::vector<uint64_t> bins(256, 99);
    EXPECT_EQ(ImgHistogram(&img, mode, bins.data(), largest, roi), 1);
    return bins;
}

// Every mode of RGB8, RGB16 and grey16 images against numpy bincount of the
// 8-bit readings (brightness by the integer grey rule).
TEST(Histogram, MatchesNumpy) {
    const int w = 61, h = 37;
    const ImgRect roi{5, 3, 50, 30};
    struct Fmt {
        int32_t format;
        const char* dtype;
        int channels;
        int shift;
    } fmts[] = {{kImgRgb8, "np.uint8", 3, 0}, {kImgRgb16, "np.uint16", 3, 8}, {kImgGray16, "np.uint16", 1, 8}};
    std::vector<std::string> inputs;
    std::vector<uint64_t> ours;
    std::string cases = "cases = [";
    for (const Fmt& f : fmts) {
        CImgBuff img;
        ASSERT_TRUE(ktest::MakeNoise(img, w, h, f.format, 21));
        inputs.push_back(ktest::Block(img));
        for (int mode = 1; mode <= 4; ++mode) {
            uint64_t largest = 0;
            const std::vector<uint64_t> bins = Histogram(img, mode, &roi, &largest);
            EXPECT_EQ(largest, *std::max_element(bins.begin(), bins.end()));
            ours.insert(ours.end(), bins.begin(), bins.end());
        }
        cases += "(" + std::string(f.dtype) + "," + std::to_string(f.channels) + "," + std::to_string(f.shift) + "),";
    }
    const std::string script = cases + "]\n"
        "out = []\n"
        "for i, (dt, C, sh) in enumerate(cases):\n"
        "    a = np.fromfile(sys.argv[1 + i], dt).reshape(" + std::to_string(h) + ", " + std::to_string(w) + ", C)\n"
        "    a = a[3:31, 5:51].astype(np.uint64)\n"
        "    if C == 1:\n"
        "        v = [a[..., 0] >> sh] * 4\n"
        "    else:\n"
        "        grey = (299 * a[..., 0] + 587 * a[..., 1] + 114 * a[..., 2] + 500) // 1000\n"
        "        v = [grey >> sh] + [a[..., c] >> sh for c in range(3)]\n"
        "    for m in v:\n"
        "        out.append(np.bincount(m.ravel().astype(np.int64), minlength=256).astype(np.uint64).tobytes())\n"
        "open(sys.argv[-1], 'wb').write(b''.join(out))\n";
    const std::string expected = ktest::RunNumpy(script, inputs);
    ASSERT_EQ(expected.size(), ours.size() * 8);
    EXPECT_EQ(0, std::memcmp(expected.data(), ours.data(), expected.size()));
}

TEST(Histogram, WorkedValues) {
    CImgBuff red;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(red, 1, 1, kImgRgb8, {255, 0, 0}));
    uint64_t largest = 0;
    EXPECT_EQ(Histogram(red, 2, nullptr, &largest)[255], 1u);
    EXPECT_EQ(Histogram(red, 3, nullptr, &largest)[0], 1u);
    EXPECT_EQ(Histogram(red, 4, nullptr, &largest)[0], 1u);
    EXPECT_EQ(Histogram(red, 1, nullptr, &largest)[76], 1u);
    EXPECT_EQ(largest, 1u);

    CImgBuff g16;
    ASSERT_TRUE(ktest::MakeFrom<uint16_t>(g16, 1, 1, kImgGray16, {0x12FF}));
    EXPECT_EQ(Histogram(g16, 1, nullptr, &largest)[0x12], 1u);

    // Grey images count their level in every mode.
    CImgBuff grey;
    ASSERT_TRUE(ktest::MakeNoise(grey, 20, 10, kImgGray32, 4));
    const auto m1 = Histogram(grey, 1, nullptr, &largest);
    for (int mode = 2; mode <= 4; ++mode) EXPECT_EQ(Histogram(grey, mode, nullptr, &largest), m1);

    // CMYK counts its RGB rendering: (0, 0, 0, 255) is black.
    CImgBuff cmyk;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(cmyk, 2, 1, kImgCmyk8, {0, 0, 0, 255, 0, 255, 255, 0}));
    EXPECT_EQ(Histogram(cmyk, 2, nullptr, &largest)[255], 1u);  // (255, 0, 0)
    EXPECT_EQ(Histogram(cmyk, 2, nullptr, &largest)[0], 1u);
}

TEST(Histogram, Refusals) {
    CImgBuff img;
    ASSERT_TRUE(ktest::MakeNoise(img, 4, 4, kImgGray8, 1));
    std::vector<uint64_t> bins(256, 7);
    uint64_t largest = 5;
    const ImgRect outside{-9, -9, -1, -1};
    EXPECT_EQ(ImgHistogram(&img, 0, bins.data(), &largest, nullptr), 0);
    EXPECT_EQ(ImgHistogram(&img, 5, bins.data(), &largest, nullptr), 0);
    EXPECT_EQ(ImgHistogram(&img, 1, nullptr, &largest, nullptr), 0);
    EXPECT_EQ(ImgHistogram(&img, 1, bins.data(), nullptr, nullptr), 0);  // no place for the largest bin
    EXPECT_EQ(ImgHistogram(&img, 1, bins.data(), &largest, &outside), 0);
    EXPECT_EQ(bins, std::vector<uint64_t>(256, 7));
    EXPECT_EQ(largest, 5u);
}

TEST(LevelTable, Entries) {
    Levels id(ImgLevelTableCreate(0, 65535));
    ASSERT_TRUE(id);
    for (int i = 0; i < 65536; ++i) ASSERT_EQ(id->table16[i], i);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(id->table8[i], i);

    Levels mid(ImgLevelTableCreate(256 * 50, 256 * 200 + 255));
    EXPECT_EQ(mid->table8[49], 0);
    EXPECT_EQ(mid->table8[50], 0);
    EXPECT_EQ(mid->table8[125], 127);
    EXPECT_EQ(mid->table8[200], 255);
    EXPECT_EQ(mid->table8[201], 255);
    EXPECT_EQ(mid->table16[256 * 200 + 255], 65535);

    Levels thr(ImgLevelTableCreate(1000, 1000));
    EXPECT_EQ(thr->table16[999], 0);
    EXPECT_EQ(thr->table16[1000], 0);
    EXPECT_EQ(thr->table16[1001], 65535);
    EXPECT_EQ(thr->table8[3], 0);
    EXPECT_EQ(thr->table8[4], 255);

    EXPECT_EQ(ImgLevelTableCreate(2, 1), nullptr);
    EXPECT_EQ(ImgLevelTableFree(nullptr), 0);
}

TEST(LevelTable, ApplyByFormat) {
    Levels t(ImgLevelTableCreate(256 * 50, 256 * 200 + 255));
    CImgBuff rgb;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(rgb, 2, 1, kImgRgb8, {10, 125, 250, 1, 2, 3}));
    const ImgRect first{0, 0, 0, 0};
    ASSERT_EQ(ImgLevelTableApply(&rgb, t.get(), &first), 1);
    EXPECT_EQ(ktest::Values<uint8_t>(rgb), (std::vector<uint8_t>{0, 127, 255, 1, 2, 3}));

    CImgBuff g32;
    ASSERT_TRUE(ktest::MakeFrom<uint32_t>(g32, 1, 1, kImgGray32, {0x7D00FFFFu}));
    ASSERT_EQ(ImgLevelTableApply(&g32, t.get(), nullptr), 1);
    EXPECT_EQ(ktest::Values<uint32_t>(g32)[0], t->table16[0x7D00] * 65537u);
    EXPECT_EQ(ImgLevelTableApply(&g32, nullptr, nullptr), 0);
}

TEST(LevelStretch, Values) {
    CImgBuff img;
    const uint32_t v = 1234;
    ASSERT_TRUE(ktest::MakeFrom<uint32_t>(img, 4, 1, kImgGray32, {v * 65536, v * 65536 + 65535, v * 65536 - 1, v * 65536 + 65536}));
    ASSERT_EQ(ImgLevelStretch(&img, v, v, nullptr), 1);
    EXPECT_EQ(ktest::Values<uint32_t>(img), (std::vector<uint32_t>{0, 4294967295u, 0, 4294967295u}));

    CImgBuff noise;
    ASSERT_TRUE(ktest::MakeNoise(noise, 8, 8, kImgRgb32, 2));
    const std::string before = ktest::Block(noise);
    ASSERT_EQ(ImgLevelStretch(&noise, 0, 65535, nullptr), 1);
    EXPECT_EQ(ktest::Block(noise), before);
    EXPECT_EQ(ImgLevelStretch(&noise, 2, 1, nullptr), 0);
    EXPECT_EQ(ktest::Block(noise), before);

    // An 8-bit image goes through the 32-bit reading and back.
    CImgBuff g8;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(g8, 3, 1, kImgGray8, {49, 125, 201}));
    ASSERT_EQ(ImgLevelStretch(&g8, 256 * 50, 256 * 200 + 255, nullptr), 1);
    EXPECT_EQ(ktest::Values<uint8_t>(g8), (std::vector<uint8_t>{0, 127, 255}));
}

}  // namespace
