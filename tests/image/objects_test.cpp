// Objects taken out of a range mask, contours and the measurement of one
// object, on small drawn masks with known answers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image/objects.h"

namespace {

constexpr double kFourPi = 12.566370614359172;

// An 8-bit image drawn from rows of text: '#' is 255, anything else 0.
void Draw(CImgBuff& img, const std::vector<std::string>& rows) {
    const int32_t h = static_cast<int32_t>(rows.size()), w = static_cast<int32_t>(rows[0].size());
    ASSERT_TRUE(img.buffer->Create(w, h, kImgGray8));
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) *img.buffer->PixelAt(x, y) = rows[y][x] == '#' ? 255 : 0;
}

struct Taken {
    IslandSummary summary{};
    IslandRecord record{};
    IslandObject object{};
};

// Takes every object out of the drawn image and measures it.
std::vector<Taken> TakeAll(CImgBuff& img, int32_t connectivity, uint32_t islands, double lpp = 1.0, bool islandMask = true) {
    IslandSettings s{&img, 0, static_cast<uint32_t>(connectivity), islands, 1, lpp, 1, nullptr, 0};
    RangeMask range;
    EXPECT_EQ(ImgRangeMaskCreate(&range, &img, img.buffer->width - 1, img.buffer->height - 1, 1, 255), 1);
    BitMask* im = islandMask ? ImgBitMaskClone(range.mask) : nullptr;
    std::vector<Taken> out;
    int32_t x = 0, y = 0;
    for (;;) {
        Taken t;
        const int32_t got = ImgNextObject(&range, &s, &t.object, img.buffer->width - 1, img.buffer->height - 1, x, y, connectivity,
                                          islands, &t.summary.islands, im);
        EXPECT_GE(got, 0);
        if (got != 1) break;
        EXPECT_EQ(ImgMeasureObject(&t.object, &s, &t.summary, &t.record), 1);
        x = t.object.x + 1;
        y = t.object.y;
        if (x >= img.buffer->width) x = 0, ++y;
        ImgIslandObjectRelease(&t.object);
        out.push_back(t);
    }
    ImgRangeMaskRelease(&range);
    ImgBitMaskDestroy(im);
    return out;
}

TEST(Objects, SinglePixelObject) {
    CImgBuff img;
    Draw(img, {".....", "..#..", "....."});
    for (int conn : {4, 8}) {
        const auto all = TakeAll(img, conn, 0, 0.5);
        ASSERT_EQ(all.size(), 1u);
        const IslandRecord& r = all[0].record;
        EXPECT_EQ(r.startX, 2);
        EXPECT_EQ(r.startY, 1);
        EXPECT_EQ(r.centreX, 2.0);
        EXPECT_EQ(r.centreY, 1.0);
        EXPECT_EQ(r.weightedX, 2.0);
        EXPECT_EQ(r.weightedY, 1.0);
        EXPECT_EQ(r.perimeter, 0.5);
        EXPECT_EQ(r.area, 0.25);
        EXPECT_EQ(r.maxRadius, 0.0);
        EXPECT_EQ(r.minRadius, 0.0);
        EXPECT_EQ(r.length, 1.0);
        EXPECT_EQ(r.breadth, 1.0);
        EXPECT_EQ(r.orientation, 0.0);
        EXPECT_TRUE(std::signbit(r.orientation));
        EXPECT_DOUBLE_EQ(r.circularity, kFourPi);
        EXPECT_EQ(all[0].summary.singlePixelObjects, 1u);
        EXPECT_EQ(all[0].summary.pixelCount, 1u);
        EXPECT_EQ(r.maxValue, 255u);
        EXPECT_EQ(r.minValue, 255u);
    }
}

// A 3 x 3 square without its middle: one single-pixel hole whose contour
// has 4 points under 8-connectivity and 8 under 4-connectivity.
TEST(Objects, RingWithOnePixelHole) {
    CImgBuff img;
    Draw(img, {".....", ".###.", ".#.#.", ".###.", "....."});
    for (int conn : {4, 8}) {
        const auto all = TakeAll(img, conn, 0, 2.0);
        ASSERT_EQ(all.size(), 1u);
        const IslandRecord& r = all[0].record;
        EXPECT_EQ(r.holes, 1);
        EXPECT_EQ(r.holeArea, 4.0);
        EXPECT_EQ(r.area, 32.0);
        EXPECT_EQ(r.filledArea, 36.0);
        EXPECT_DOUBLE_EQ(r.perimeter, 16.0);
        EXPECT_DOUBLE_EQ(r.holePerimeter, conn == 8 ? 8 * std::sqrt(2.0) : 16.0);
        EXPECT_DOUBLE_EQ(r.meanPerimeter, (r.perimeter + r.holePerimeter) / 2);
        EXPECT_EQ(all[0].summary.singlePixelHoles, 1u);
        EXPECT_EQ(all[0].summary.holes, 1);
    }
}

TEST(Objects, BlockContourAndRectangle) {
    CImgBuff img;
    std::vector<std::string> rows(6, std::string(12, '.'));
    for (int y = 1; y <= 4; ++y) rows[y] = ".##########.";
    Draw(img, rows);
    for (int conn : {4, 8}) {
        const auto all = TakeAll(img, conn, 0);
        ASSERT_EQ(all.size(), 1u);
        const IslandRecord& r = all[0].record;
        EXPECT_DOUBLE_EQ(r.perimeter, 24.0);
        EXPECT_EQ(r.length, 10.0);
        EXPECT_EQ(r.breadth, 4.0);
        EXPECT_EQ(r.orientation, 0.0);
        EXPECT_TRUE(std::signbit(r.orientation));
        EXPECT_EQ(r.holes, 0);
        EXPECT_DOUBLE_EQ(r.centreX, 5.5);
        EXPECT_DOUBLE_EQ(r.centreY, 2.5);
    }
    // The trace itself: 24 points.
    BitMask* m = ImgBitMaskCreate(10, 4);
    for (int y = 0; y < 4; ++y) ImgBitRowSetRange(ImgBitMaskRow(m, y), 0, 9);
    for (int conn : {4, 8}) {
        double* pts = nullptr;
        EXPECT_EQ(ImgTraceContour(m, 0, 0, conn, 0, &pts), 24);
        std::free(pts);
    }
    ImgBitMaskDestroy(m);
    // A vertical block: long side along y.
    const double pts[] = {0, 0, 0, 9, 3, 0, 3, 9};
    double s, l, a;
    ImgMinAreaRect(pts, 4, &s, &l, &a);
    EXPECT_EQ(s, 4.0);
    EXPECT_EQ(l, 10.0);
    EXPECT_DOUBLE_EQ(a, 3.141592653589793 / 2);
}

TEST(Objects, IslandsJoinTheRingOrStandAlone) {
    CImgBuff img;
    Draw(img, {".......", ".#####.", ".#...#.", ".#.#.#.", ".#...#.", ".#####.", "......."});
    {
        const auto all = TakeAll(img, 8, 0);
        ASSERT_EQ(all.size(), 1u);
        EXPECT_EQ(all[0].record.area, 17.0);  // the dot is part of the ring
        EXPECT_EQ(all[0].record.holes, 1);
        EXPECT_EQ(all[0].record.holeArea, 8.0);  // the dot is no hole pixel
        EXPECT_EQ(all[0].summary.islands, 0u);
    }
    {
        const auto all = TakeAll(img, 8, 1);
        ASSERT_EQ(all.size(), 2u);
        EXPECT_EQ(all[0].record.area, 16.0);
        EXPECT_EQ(all[0].summary.islands, 1u);
        EXPECT_EQ(all[0].record.holeArea, 8.0);
        EXPECT_EQ(all[1].record.area, 1.0);
        EXPECT_EQ(all[1].record.startX, 3);
        EXPECT_EQ(all[1].record.startY, 3);
    }
    {
        // Islands are counted only with an island mask.
        const auto all = TakeAll(img, 8, 1, 1.0, false);
        ASSERT_EQ(all.size(), 2u);
        EXPECT_EQ(all[0].summary.islands, 0u);
    }
}

TEST(Objects, CornerTouchingSquaresAndBoxEdges) {
    CImgBuff img;
    Draw(img, {"##..", "##..", "..##", "..##"});
    EXPECT_EQ(TakeAll(img, 8, 0).size(), 1u);
    EXPECT_EQ(TakeAll(img, 4, 0).size(), 2u);
    // Neighbours beyond the box count as clear when tracing: a 2 x 2 block
    // on a mask of its own size has 4 contour points.
    BitMask* m = ImgBitMaskCreate(2, 2);
    for (int y = 0; y < 2; ++y) ImgBitRowSetRange(ImgBitMaskRow(m, y), 0, 1);
    double* pts = nullptr;
    EXPECT_EQ(ImgTraceContour(m, 0, 0, 8, 0, &pts), 4);
    std::free(pts);
    ImgBitMaskDestroy(m);
}

TEST(Objects, WeightsAndValuesFollowTheSettings) {
    CImgBuff img;
    ASSERT_TRUE(img.buffer->Create(4, 1, kImgGray16));
    const uint16_t v[] = {0, 100, 300, 0};
    std::memcpy(img.buffer->pixels, v, sizeof v);
    IslandSettings s{&img, 0, 8, 0, 0, 1.0, 1, nullptr, 0};
    RangeMask range;
    ASSERT_EQ(ImgRangeMaskCreate(&range, &img, 3, 0, 1, 65535), 1);
    IslandObject o;
    uint64_t islands = 0;
    ASSERT_EQ(ImgNextObject(&range, &s, &o, 3, 0, 0, 0, 8, 0, &islands, nullptr), 1);
    IslandSummary sum{};
    IslandRecord rec;
    ASSERT_EQ(ImgMeasureObject(&o, &s, &sum, &rec), 1);
    EXPECT_DOUBLE_EQ(rec.weightedX, (100.0 * 1 + 300.0 * 2) / 400.0);
    EXPECT_EQ(rec.maxValue, 300u);
    EXPECT_EQ(rec.minValue, 100u);
    EXPECT_EQ(rec.valueSum, 400.0);
    EXPECT_EQ(rec.meanValue, 200.0);
    s.inverted = 1;  // weights 65535 - value
    ASSERT_EQ(ImgMeasureObject(&o, &s, &sum, &rec), 1);
    EXPECT_DOUBLE_EQ(rec.weightedX, (65435.0 * 1 + 65235.0 * 2) / (65435.0 + 65235.0));
    ImgIslandObjectRelease(&o);
    EXPECT_EQ(ImgNextObject(&range, &s, &o, 3, 0, 0, 0, 8, 0, &islands, nullptr), 0);
    EXPECT_EQ(ImgNextObject(&range, &s, &o, 3, 0, 0, 0, 6, 0, &islands, nullptr), -1);
    ImgRangeMaskRelease(&range);
}

}  // namespace
