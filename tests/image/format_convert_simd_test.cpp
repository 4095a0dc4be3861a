// The vector rows of the 8-bit colour-to-grey conversion against the plain
// integer rule, at every vector level the processor offers; the grey-to-colour
// rows are checked on the same rows on the way back.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "image/format_convert.h"
#include "image/imgbuff.h"

namespace {

uint8_t GreyRule(uint32_t r, uint32_t g, uint32_t b) { return uint8_t((299 * r + 587 * g + 114 * b + 500) / 1000); }

// The distinct levels in use when capping at 0, 1 and 2; the widest is
// restored when the object dies.
class VectorLevels {
public:
    VectorLevels() {
        for (int32_t cap = 0; cap <= 2; ++cap) {
            int32_t level = ImgConvertLimitVectorLevelForTesting(cap);
            if (levels_.empty() || levels_.back() != level) levels_.push_back(level);
        }
    }
    ~VectorLevels() { ImgConvertLimitVectorLevelForTesting(2); }
    const std::vector<int32_t>& all() const { return levels_; }
    void Use(int32_t level) { ASSERT_EQ(ImgConvertLimitVectorLevelForTesting(level), level); }

private:
    std::vector<int32_t> levels_;
};

// A row of n bytes ending right before an inaccessible page, so that any
// access past the row's end faults.
class GuardedRow {
public:
    explicit GuardedRow(size_t n) : page_(size_t(sysconf(_SC_PAGESIZE))) {
        pages_ = (n + page_ - 1) / page_ + 1;
        void* m = mmap(nullptr, pages_ * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (m == MAP_FAILED) return;
        base_ = static_cast<uint8_t*>(m);
        mprotect(base_ + (pages_ - 1) * page_, page_, PROT_NONE);
        row_ = base_ + (pages_ - 1) * page_ - n;
    }
    ~GuardedRow() {
        if (base_) munmap(base_, pages_ * page_);
    }
    uint8_t* row() const { return row_; }

private:
    size_t page_, pages_ = 0;
    uint8_t* base_ = nullptr;
    uint8_t* row_ = nullptr;
};

// A buffer header over memory it does not own; emptied before destruction.
struct BorrowedImage : C_ImgBuff {
    BorrowedImage(uint8_t* p, int32_t w, int32_t h, int32_t f) {
        pixels = p;
        width = w;
        height = h;
        format = f;
    }
    ~BorrowedImage() override { pixels = nullptr; }
};

TEST(FormatConvertVector, EveryRgbTripleGivesTheIntegerGrey) {
    // One 4096 x 4096 image holds all 2^24 colours: pixel i is (i >> 16, i >> 8, i) bytes.
    constexpr int32_t kSide = 4096;
    constexpr uint32_t kCount = uint32_t(kSide) * kSide;
    C_ImgBuff source;
    ASSERT_EQ(source.Create(kSide, kSide, kImgRgb8), 1);
    std::vector<uint8_t> expected(kCount);
    for (uint32_t i = 0; i < kCount; ++i) {
        uint8_t* p = source.pixels + 3 * uint64_t(i);
        p[0] = uint8_t(i >> 16);
        p[1] = uint8_t(i >> 8);
        p[2] = uint8_t(i);
        expected[i] = GreyRule(p[0], p[1], p[2]);
    }
    VectorLevels levels;
    for (int32_t level : levels.all()) {
        levels.Use(level);
        C_ImgBuff grey;
        grey.CopyFrom(&source);
        ASSERT_EQ(grey.ConvertFormat(kImgGray8), 1);
        ASSERT_EQ(grey.format, kImgGray8);
        if (std::memcmp(grey.pixels, expected.data(), kCount) != 0) {
            uint32_t i = 0;
            while (grey.pixels[i] == expected[i]) ++i;
            FAIL() << "level " << level << ": RGB (" << (i >> 16) << ", " << ((i >> 8) & 255) << ", " << (i & 255)
                   << ") gave " << int(grey.pixels[i]) << ", expected " << int(expected[i]);
        }
    }
}

// Every width from 1 to 100 covers no full vector step, several, and each
// tail length of both step sizes, in both directions; rows end at an
// inaccessible page, so a read or write past the row faults.
TEST(FormatConvertVector, AnyWidthConvertsWithinItsRow) {
    VectorLevels levels;
    uint32_t seed = 7;
    for (int32_t w = 1; w <= 100; ++w) {
        GuardedRow colourRow{size_t(w) * 3}, greyRow{size_t(w)}, backRow{size_t(w) * 3};
        ASSERT_NE(colourRow.row(), nullptr);
        ASSERT_NE(greyRow.row(), nullptr);
        ASSERT_NE(backRow.row(), nullptr);
        uint8_t* src = colourRow.row();
        uint8_t* grey = greyRow.row();
        uint8_t* back = backRow.row();
        for (int32_t i = 0; i < 3 * w; ++i) {
            seed = seed * 1103515245u + 12345u;
            src[i] = uint8_t(seed >> 24);
        }
        BorrowedImage colourImage(src, w, 1, kImgRgb8), greyImage(grey, w, 1, kImgGray8);
        BorrowedImage backImage(back, w, 1, kImgRgb8);
        ImgConvertJob toGrey{kImgGray8, &colourImage, &greyImage, w};
        ImgConvertJob toColour{kImgRgb8, &greyImage, &backImage, w};
        for (int32_t level : levels.all()) {
            levels.Use(level);
            std::memset(grey, 0xAA, size_t(w));
            std::memset(back, 0xAA, size_t(w) * 3);
            ImgRowRgbToGray(&toGrey, 0, 1);
            ImgRowGrayToRgb(&toColour, 0, 1);
            for (int32_t x = 0; x < w; ++x) {
                const uint8_t* p = src + 3 * x;
                ASSERT_EQ(grey[x], GreyRule(p[0], p[1], p[2])) << "level " << level << " width " << w << " x " << x;
                for (int c = 0; c < 3; ++c) {
                    ASSERT_EQ(back[3 * x + c], grey[x]) << "level " << level << " width " << w << " x " << x;
                }
            }
        }
    }
}

// ConvertFormat keeps every row of a many-row image in its place at each
// level, both ways (the rows run on the pool from 4096 pixels).
TEST(FormatConvertVector, RowsStayInPlace) {
    constexpr int32_t kWidth = 67, kHeight = 90;  // a tail of 3 after the vector steps
    C_ImgBuff source;
    ASSERT_EQ(source.Create(kWidth, kHeight, kImgRgb8), 1);
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) source.SetPixelRgb8(x, y, uint8_t(3 * y), uint8_t(x + y), uint8_t(255 - x));
    }
    VectorLevels levels;
    for (int32_t level : levels.all()) {
        levels.Use(level);
        C_ImgBuff grey, colour;
        grey.CopyFrom(&source);
        ASSERT_EQ(grey.ConvertFormat(kImgGray8), 1);
        colour.CopyFrom(&grey);
        ASSERT_EQ(colour.ConvertFormat(kImgRgb8), 1);
        for (int32_t y = 0; y < kHeight; ++y) {
            for (int32_t x = 0; x < kWidth; ++x) {
                const uint8_t expected = GreyRule(3 * y & 255, (x + y) & 255, 255 - x);
                ASSERT_EQ(*grey.PixelAt(x, y), expected) << "level " << level << " at " << x << ", " << y;
                const uint8_t* p = colour.PixelAt(x, y);
                ASSERT_TRUE(p[0] == expected && p[1] == expected && p[2] == expected)
                    << "level " << level << " at " << x << ", " << y;
            }
        }
    }
}

}  // namespace
