// Gamma correction: tables, the per-channel path and refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "image/kernels/gamma.h"
#include "support/kernel_test_util.h"

namespace {

struct TableDeleter {
    void operator()(GammaTable* t) const { ImgGammaTableFree(t); }
};
using Table = std::unique_ptr<GammaTable, TableDeleter>;

// Both curves against numpy for a few exponents.
TEST(Gamma, TablesMatchNumpy) {
    const double pairs[][2] = {{1.0, 2.0}, {2.0, 1.0}, {2.2, 1.0}, {1.0, 1.0}, {0.45, 1.7}};
    std::string ours, script = "out = []\n";
    for (const auto& p : pairs) {
        Table t(ImgGammaTableCreate(p[0], p[1]));
        ASSERT_TRUE(t);
        ours.append(reinterpret_cast<const char*>(t->table8), 256);
        ours.append(reinterpret_cast<const char*>(t->table16), 65536 * 2);
        char line[200];
        std::snprintf(line, sizeof line, "e = %.17g / %.17g\n", p[1], p[0]);
        script += line;
        script +=
            "i = np.arange(256, dtype=np.float64)\n"
            "out.append(np.minimum(np.trunc(255.0 * (i / 255.0) ** e), 255).astype(np.uint8).tobytes())\n"
            "i = np.arange(65536, dtype=np.float64)\n"
            "out.append(np.minimum(np.trunc(65535.0 * (i / 65535.0) ** e), 65535).astype(np.uint16).tobytes())\n";
    }
    script += "open(sys.argv[-1], 'wb').write(b''.join(out))\n";
    EXPECT_EQ(ours, ktest::RunNumpy(script, {}));
}

TEST(Gamma, WorkedValues) {
    CImgBuff g8;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(g8, 3, 1, kImgGray8, {0, 128, 255}));
    ASSERT_EQ(ImgGammaCorrect(&g8, 1.0, 2.0, nullptr), 1);
    EXPECT_EQ(ktest::Values<uint8_t>(g8), (std::vector<uint8_t>{0, 64, 255}));
    CImgBuff g16;
    ASSERT_TRUE(ktest::MakeFrom<uint16_t>(g16, 1, 1, kImgGray16, {100}));
    ASSERT_EQ(ImgGammaCorrect(&g16, 2.0, 1.0, nullptr), 1);
    EXPECT_EQ(ktest::Values<uint16_t>(g16), std::vector<uint16_t>{2559});
}

// Equal gammas leave every format unchanged, 32-bit values included.
TEST(Gamma, EqualGammasChangeNothing) {
    for (int32_t f : {kImgGray8, kImgGray16, kImgGray32, kImgRgb8, kImgRgb16, kImgRgb32}) {
        CImgBuff img;
        ASSERT_TRUE(ktest::MakeNoise(img, 9, 7, f, 3));
        const std::string before = ktest::Block(img);
        ASSERT_EQ(ImgGammaCorrect(&img, 1.7, 1.7, nullptr), 1);
        EXPECT_EQ(ktest::Block(img), before) << ImgFormatName(f);
    }
}

// The table reaches 32-bit samples through their high 16 bits; the direct
// path computes the power at 32 bits.
TEST(Gamma, WideFormats) {
    CImgBuff img;
    ASSERT_TRUE(ktest::MakeFrom<uint32_t>(img, 3, 1, kImgGray32, {0x80000000u, 0xFFFFFFFFu, 0x12345678u}));
    Table t(ImgGammaTableCreate(1.0, 2.0));
    ASSERT_EQ(ImgGammaTableApply(&img, t.get(), nullptr), 1);
    const uint32_t hi = t->table16[0x8000];
    EXPECT_EQ(ktest::Values<uint32_t>(img)[0], hi * 65537u);
    EXPECT_EQ(ktest::Values<uint32_t>(img)[1], 0xFFFFFFFFu);

    ASSERT_TRUE(ktest::MakeFrom<uint32_t>(img, 3, 1, kImgRgb32, {0x80000000u, 0xFFFFFFFFu, 0, 5, 6, 7, 8, 9, 10}));
    ASSERT_EQ(ImgGammaCorrect(&img, 1.0, 2.0, nullptr), 1);
    const std::vector<uint32_t> v = ktest::Values<uint32_t>(img);
    EXPECT_EQ(v[0], static_cast<uint32_t>(std::pow(0x80000000u / 4294967295.0, 2.0) * 4294967295.0));
    EXPECT_EQ(v[1], 0xFFFFFFFFu);
    EXPECT_EQ(v[2], 0u);

    // XYZ goes through its 32-bit RGB rendering.
    CImgBuff xyz;
    ASSERT_TRUE(xyz.buffer->Create(1, 1, kImgXyz));
    xyz.buffer->SetPixelRgb8(0, 0, 255, 128, 0);
    ASSERT_EQ(ImgGammaCorrect(&xyz, 1.0, 2.0, nullptr), 1);
    uint8_t r, g, b;
    xyz.buffer->GetPixelRgb8(0, 0, &r, &g, &b);
    EXPECT_GE(r, 254);
    EXPECT_NEAR(g, 64, 1);
    EXPECT_EQ(b, 0);
}

// The table pass equals reading each pixel with the 8-bit (grey8, RGB8,
// CMYK) or 16-bit accessors, looking up and writing back, in every format.
TEST(Gamma, TableApplyMatchesTheAccessors) {
    Table t(ImgGammaTableCreate(1.0, 0.6));
    const ImgRect roi{1, 0, 6, 1};
    for (int32_t f : ktest::kAllFormats) {
        CImgBuff img, ref;
        ASSERT_TRUE(ktest::MakeNoise(img, 8, 2, f, 12));
        ref.CopyFrom(&img);
        ASSERT_EQ(ImgGammaTableApply(&img, t.get(), &roi), 1);
        C_ImgBuff& r = *ref.buffer;
        const bool eight = f == kImgGray8 || f == kImgRgb8 || f == kImgCmyk8;
        for (int y = 0; y <= 1; ++y)
            for (int x = 1; x <= 6; ++x) {
                if (f <= kImgGray32) {
                    uint16_t v;
                    r.GetPixelGray16(x, y, &v);
                    if (eight) r.SetPixelGray8(x, y, t->table8[v >> 8]);
                    else r.SetPixelGray16(x, y, t->table16[v]);
                } else if (eight) {
                    uint8_t a, b, c;
                    r.GetPixelRgb8(x, y, &a, &b, &c);
                    r.SetPixelRgb8(x, y, t->table8[a], t->table8[b], t->table8[c]);
                } else {
                    uint16_t a, b, c;
                    r.GetPixelRgb16(x, y, &a, &b, &c);
                    r.SetPixelRgb16(x, y, t->table16[a], t->table16[b], t->table16[c]);
                }
            }
        EXPECT_EQ(ktest::Block(img), ktest::Block(ref)) << ImgFormatName(f);
    }
}

// Long rows (the table pass works on many samples at a time): every
// sample of the region mapped, nothing outside it touched.
TEST(Gamma, TableApplyLongRows) {
    Table t(ImgGammaTableCreate(1.0, 2.2));
    for (int32_t f : {kImgGray8, kImgRgb8}) {
        CImgBuff img;
        ASSERT_TRUE(ktest::MakeNoise(img, 301, 5, f, 13));
        const std::vector<uint8_t> before = ktest::Values<uint8_t>(img);
        const ImgRect roi{3, 1, 299, 3};
        ASSERT_EQ(ImgGammaTableApply(&img, t.get(), &roi), 1);
        const std::vector<uint8_t> after = ktest::Values<uint8_t>(img);
        const int c = f == kImgGray8 ? 1 : 3;
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 301 * c; ++x) {
                const size_t i = static_cast<size_t>(y) * 301 * c + x;
                const bool inside = y >= 1 && y <= 3 && x >= 3 * c && x < 300 * c;
                ASSERT_EQ(after[i], inside ? t->table8[before[i]] : before[i]) << x << "," << y;
            }
    }
}

TEST(Gamma, Refusals) {
    for (const auto& g : {std::pair{0.0, 1.0}, {1.0, 0.0}, {-1.0, 1.0}, {std::nan(""), 1.0}, {1.0, std::nan("")},
                          {INFINITY, INFINITY}}) {
        EXPECT_EQ(ImgGammaTableCreate(g.first, g.second), nullptr);
        CImgBuff img;
        ASSERT_TRUE(ktest::MakeNoise(img, 4, 4, kImgGray32, 1));
        const std::string before = ktest::Block(img);
        EXPECT_EQ(ImgGammaCorrect(&img, g.first, g.second, nullptr), 0);
        EXPECT_EQ(ImgGammaCorrectWide(&img, g.first, g.second, nullptr), 0);
        EXPECT_EQ(ktest::Block(img), before);
    }
    CImgBuff img;
    ASSERT_TRUE(ktest::MakeNoise(img, 4, 4, kImgGray8, 1));
    const ImgRect outside{10, 10, 20, 20};
    Table t(ImgGammaTableCreate(1.0, 2.0));
    EXPECT_EQ(ImgGammaTableApply(&img, t.get(), &outside), 0);
    EXPECT_EQ(ImgGammaTableApply(&img, nullptr, nullptr), 0);
    CImgBuff empty;
    EXPECT_EQ(ImgGammaCorrectWide(&empty, 1.0, 2.0, nullptr), 1);
    EXPECT_EQ(ImgGammaCorrect(&empty, 1.0, 2.0, nullptr), 0);
}

}  // namespace
