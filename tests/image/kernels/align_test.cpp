// Two-point alignment and the choice of reference areas.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "image/kernels/align.h"
#include "image/kernels/image_compare.h"
#include "image/kernels/image_shift.h"
#include "support/kernel_test_util.h"

namespace {

// A smooth texture (sums of waves of several directions and lengths),
// structured in both directions everywhere.
void Texture(CImgBuff& img, int w, int h, int32_t format, uint32_t seed) {
    ASSERT_TRUE(img.buffer->Create(w, h, format));
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> phase(0, 6.28), freq(0.05, 0.35);
    double fx[6], fy[6], ph[6];
    for (int i = 0; i < 6; ++i) {
        fx[i] = freq(rng) * (i % 2 ? 1 : -1);
        fy[i] = freq(rng);
        ph[i] = phase(rng);
    }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double v[3] = {0.5, 0.5, 0.5};
            for (int i = 0; i < 6; ++i) v[i % 3] += 0.12 * std::sin(fx[i] * x + fy[i] * y + ph[i]) + 0.05 * std::sin(0.5 * fy[i] * x - ph[i]);
            img.buffer->SetPixelRgbDouble(x, y, v[0], v[1], v[2]);
        }
}

struct Refs {
    CImgBuff t0, t1;
    int32_t rx[2], ry[2];
    const CImgBuff* templates[2];
};

void CutReferences(const CImgBuff& frame, int margin, int tile, Refs* r) {
    TileScore a, b;
    ASSERT_EQ(ImgFindReferenceArea(&frame, margin, margin, frame.buffer->width - margin, frame.buffer->height - margin, tile, tile, &a, &b), 1);
    ASSERT_TRUE(frame.ExtractRect(&r->t0, a.x0, a.y0, a.x1, a.y1));
    ASSERT_TRUE(frame.ExtractRect(&r->t1, b.x0, b.y0, b.x1, b.y1));
    r->rx[0] = a.x0;
    r->ry[0] = a.y0;
    r->rx[1] = b.x0;
    r->ry[1] = b.y0;
    r->templates[0] = &r->t0;
    r->templates[1] = &r->t1;
}

TEST(ScoreTiles, GridAndScores) {
    CImgBuff img;
    Texture(img, 150, 90, kImgRgb8, 1);
    // 100 wide with 32-pixel tiles: 3 columns, the leftover 4 split 2 and 2;
    // 70 high with 20-pixel tiles: 3 rows, the leftover 10 split 5 and 5;
    // 101 wide: leftover 5 split 2 left, 3 right.
    struct Case {
        int x0, y0, x1, y1, tw, th, cols, rows, gx, gy;
    } cases[] = {{10, 5, 109, 74, 32, 20, 3, 3, 12, 10}, {10, 5, 110, 74, 32, 20, 3, 3, 12, 10}, {0, 0, 149, 89, 150, 90, 1, 1, 0, 0}};
    for (const Case& c : cases) {
        TileScore* raw = nullptr;
        TileScore* rawAll = nullptr;
        int32_t n = 0, nAll = 0;
        ktest::WithOneAndAllThreads([&] { n = ImgScoreTiles(&img, c.x0, c.y0, c.x1, c.y1, c.tw, c.th, &raw); },
                                    [&] { nAll = ImgScoreTiles(&img, c.x0, c.y0, c.x1, c.y1, c.tw, c.th, &rawAll); });
        std::unique_ptr<TileScore[]> tiles(raw), all(rawAll);
        ASSERT_EQ(n, c.cols * c.rows);
        ASSERT_EQ(nAll, n);
        EXPECT_EQ(std::memcmp(tiles.get(), all.get(), sizeof(TileScore) * n), 0);
        EXPECT_EQ(tiles[0].x0, c.gx);
        EXPECT_EQ(tiles[0].y0, c.gy);
        for (int j = 0; j < n; ++j) {
            const TileScore& t = tiles[j];
            EXPECT_EQ(t.x0, c.gx + (j % c.cols) * c.tw);
            EXPECT_EQ(t.y1, c.gy + (j / c.cols) * c.th + c.th - 1);
            RectStatistics s;
            ASSERT_EQ(ImgRectStatistics(&img, t.x0, t.y0, t.x1, t.y1, &s), 1);
            EXPECT_EQ(t.s0, std::min(s.slot[9], s.slot[10]));
            EXPECT_EQ(t.s1, std::min(s.slot[11], s.slot[12]));
            EXPECT_EQ(t.s2, std::min(s.slot[13], s.slot[14]));
            EXPECT_EQ(t.s3, std::min(s.slot[15], s.slot[16]));
        }
    }
    TileScore* raw = nullptr;
    for (const ImgRect r : {ImgRect{-1, 0, 50, 50}, ImgRect{0, 0, 150, 50}, ImgRect{20, 0, 10, 50}, ImgRect{0, 0, 20, 20}})
        EXPECT_EQ(ImgScoreTiles(&img, r.x0, r.y0, r.x1, r.y1, 32, 32, &raw), 0) << r.x0 << "," << r.x1;
    EXPECT_EQ(ImgScoreTiles(&img, 0, 0, 50, 50, 0, 10, &raw), 0);
    EXPECT_EQ(ImgScoreTiles(&img, 0, 0, 50, 50, 10, 10, nullptr), 0);
    CImgBuff empty;
    EXPECT_EQ(ImgScoreTiles(&empty, 0, 0, 0, 0, 1, 1, &raw), 0);
}

TEST(FindReferenceArea, FirstAndSecondChoice) {
    // Flat grey with structure (stripes both ways) in three tiles: tile 1 the
    // strongest, then tile 6 (farther from it) and tile 2 (next to it).
    CImgBuff img;
    ASSERT_TRUE(img.buffer->Create(64, 32, kImgGray8));
    std::memset(img.buffer->pixels, 128, 64 * 32);
    const auto paint = [&](int tx, int ty, int amplitude) {
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                *img.buffer->PixelAt(tx * 16 + x, ty * 16 + y) =
                    static_cast<uint8_t>(128 + ((x / 4) % 2 ? amplitude : -amplitude) / 2 + ((y / 4) % 2 ? amplitude : -amplitude) / 2);
    };
    paint(1, 0, 60);
    paint(2, 0, 50);
    paint(2, 1, 40);
    TileScore a{}, b{};
    ASSERT_EQ(ImgFindReferenceArea(&img, 0, 0, 63, 31, 16, 16, &a, &b), 1);
    EXPECT_EQ(a.x0, 16);
    EXPECT_EQ(a.y0, 0);
    EXPECT_EQ(b.x0, 32);
    EXPECT_EQ(b.y0, 16);

    // All tiles equal (flat): the first area is tile 0, the second the last.
    CImgBuff flat;
    ASSERT_TRUE(flat.buffer->Create(64, 32, kImgGray8));
    ASSERT_EQ(ImgFindReferenceArea(&flat, 0, 0, 63, 31, 16, 16, &a, &b), 1);
    EXPECT_EQ(a.x0, 0);
    EXPECT_EQ(a.y0, 0);
    EXPECT_EQ(b.x0, 48);
    EXPECT_EQ(b.y0, 16);
    // The last tile the strongest: the scan starts from the one before it;
    // all other weights 0 there, so that one is the second area.
    CImgBuff last;
    ASSERT_TRUE(last.buffer->Create(64, 32, kImgGray8));
    std::memset(last.buffer->pixels, 0, 64 * 32);
    for (int y = 16; y < 32; ++y)
        for (int x = 48; x < 64; ++x) *last.buffer->PixelAt(x, y) = static_cast<uint8_t>((x + 2 * y) % 7 * 30);
    ASSERT_EQ(ImgFindReferenceArea(&last, 0, 0, 63, 31, 16, 16, &a, &b), 1);
    EXPECT_EQ(a.x0, 48);
    EXPECT_EQ(a.y0, 16);
    EXPECT_EQ(b.x0, 32);
    EXPECT_EQ(b.y0, 16);
    // One tile only: refused.
    EXPECT_EQ(ImgFindReferenceArea(&img, 0, 0, 20, 20, 16, 16, &a, &b), 0);
}

TEST(RefinePointOffset, RadiusAndFractions) {
    CImgBuff frame;
    Texture(frame, 90, 70, kImgGray8, 3);
    CImgBuff tmpl;
    ASSERT_TRUE(frame.ExtractRect(&tmpl, 30, 20, 53, 43));
    double dx = 99, dy = 99;
    EXPECT_EQ(ImgRefinePointOffset(&frame, &tmpl, 30, 20, 0, &dx, &dy, 0), 0);
    EXPECT_EQ(dx, 99.0);
    // Radius 1: only the refinement, within a pixel of (x, y).
    ASSERT_EQ(ImgRefinePointOffset(&frame, &tmpl, 31, 20, 1, &dx, &dy, 0), 1);
    EXPECT_EQ(dx, -1.0);
    EXPECT_EQ(dy, 0.0);
    // Radius 8 searches +-7: an offset of 5 pixels is found, 9 is not.
    ASSERT_EQ(ImgRefinePointOffset(&frame, &tmpl, 35, 17, 8, &dx, &dy, 0), 1);
    EXPECT_EQ(dx, -5.0);
    EXPECT_EQ(dy, 3.0);
    dx = 99;
    ASSERT_EQ(ImgRefinePointOffset(&frame, &tmpl, 39, 20, 8, &dx, &dy, 0), 1);
    EXPECT_NE(dx, -9.0);
    // A frame moved by a fraction: the offset to a tenth.
    CImgBuff moved;
    moved.CopyFrom(&frame);
    ASSERT_EQ(ImgShiftSubpixel(&moved, 0.4, -0.3, 0), 1);
    ASSERT_EQ(ImgRefinePointOffset(&moved, &tmpl, 30, 20, 4, &dx, &dy, 0), 1);
    EXPECT_NEAR(dx, 0.4, 0.3);
    EXPECT_NEAR(dy, -0.3, 0.3);
    // Nothing to compare at a position outside the frame: refused.
    dx = 99;
    EXPECT_EQ(ImgRefinePointOffset(&frame, &tmpl, 200, 200, 1, &dx, &dy, 0), 0);
    EXPECT_EQ(dx, 99.0);
    CImgBuff empty;
    EXPECT_EQ(ImgRefinePointOffset(&empty, &tmpl, 30, 20, 4, &dx, &dy, 0), 0);
    EXPECT_EQ(ImgRefinePointOffset(&frame, &empty, 30, 20, 4, &dx, &dy, 0), 0);
}

TEST(ShiftByOffset, WholeOrFraction) {
    CImgBuff row;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(row, 6, 1, kImgGray8, {10, 20, 30, 40, 50, 60}));
    ASSERT_EQ(ImgShiftByOffset(1, &row, -2.7, 0.0, 0), 1);  // back by 2.7 truncated: +2
    EXPECT_EQ(ktest::Values<uint8_t>(row), (std::vector<uint8_t>{0, 0, 10, 20, 30, 40}));
    ASSERT_EQ(ImgShiftByOffset(0, &row, 0.5, 0.0, 0), 1);
    EXPECT_EQ(ktest::Values<uint8_t>(row), (std::vector<uint8_t>{0, 5, 15, 25, 35, 20}));
    EXPECT_EQ(ImgShiftByOffset(1, &row, std::nan(""), 0.0, 0), 0);
    EXPECT_EQ(ImgShiftByOffset(1, &row, 1e300, 0.0, 7), 1);
    EXPECT_EQ(ktest::Values<uint8_t>(row), (std::vector<uint8_t>(6, 7)));
}

// A frame equal to the reference: odd sizes come back unchanged; even
// sizes are turned one pixel up and left and shifted back, the first column
// and row taking the fill. A frame moved by (+3, +2) ends moved back.
TEST(AlignTwoPoints, ReferenceFrames) {
    for (int odd : {1, 0}) {
        CImgBuff ref;
        Texture(ref, 120 + odd, 90 + odd, kImgGray8, 5);
        Refs r;
        CutReferences(ref, 16, 24, &r);
        for (int integerOnly : {1, 0}) {
            CImgBuff frame;
            frame.CopyFrom(&ref);
            ASSERT_EQ(ImgAlignTwoPoints(integerOnly, &frame, r.templates, r.rx, r.ry, 8, 0, 0), 1);
            const C_ImgBuff& f = *frame.buffer;
            for (int y = 0; y < f.height; ++y)
                for (int x = 0; x < f.width; ++x) {
                    const uint8_t want = !odd && (x == 0 || y == 0) ? 0 : *ref.buffer->PixelAt(x, y);
                    ASSERT_EQ(*f.PixelAt(x, y), want) << x << "," << y << " odd " << odd << " integer " << integerOnly;
                }
        }
    }
    CImgBuff ref;
    Texture(ref, 121, 91, kImgGray8, 6);
    Refs r;
    CutReferences(ref, 16, 24, &r);
    CImgBuff frame;
    frame.CopyFrom(&ref);
    ASSERT_EQ(ImgShift(&frame, 3, 2, 0), 1);
    ASSERT_EQ(ImgAlignTwoPoints(1, &frame, r.templates, r.rx, r.ry, 8, 0, 0), 1);
    for (int y = 0; y < 91 - 2; ++y)
        for (int x = 0; x < 121 - 3; ++x) ASSERT_EQ(*frame.buffer->PixelAt(x, y), *ref.buffer->PixelAt(x, y)) << x << "," << y;
}

TEST(AlignTwoPoints, Refusals) {
    CImgBuff ref;
    Texture(ref, 101, 81, kImgGray8, 7);
    Refs r;
    CutReferences(ref, 16, 20, &r);
    CImgBuff frame;
    frame.CopyFrom(&ref);
    const std::string before = ktest::Block(frame);
    EXPECT_EQ(ImgAlignTwoPoints(0, &frame, r.templates, r.rx, r.ry, 0, 0, 0), 0);
    EXPECT_EQ(ImgAlignTwoPoints(0, &frame, nullptr, r.rx, r.ry, 8, 0, 0), 0);
    EXPECT_EQ(ImgAlignTwoPoints(0, &frame, r.templates, nullptr, r.ry, 8, 0, 0), 0);
    CImgBuff empty;
    const CImgBuff* withEmpty[2] = {&r.t0, &empty};
    EXPECT_EQ(ImgAlignTwoPoints(0, &frame, withEmpty, r.rx, r.ry, 8, 0, 0), 0);
    EXPECT_EQ(ImgAlignTwoPoints(0, &empty, r.templates, r.rx, r.ry, 8, 0, 0), 0);
    // Coinciding reference points, or one template found twice: no scale
    // or direction, refused before the turn.
    const int32_t sameX[2] = {r.rx[0], r.rx[0]}, sameY[2] = {r.ry[0], r.ry[0]};
    EXPECT_EQ(ImgAlignTwoPoints(0, &frame, r.templates, sameX, sameY, 8, 0, 0), 0);
    const CImgBuff* twice[2] = {&r.t0, &r.t0};
    const int32_t nearX[2] = {r.rx[0], r.rx[0] + 3}, nearY[2] = {r.ry[0], r.ry[0]};
    EXPECT_EQ(ImgAlignTwoPoints(0, &frame, twice, nearX, nearY, 8, 0, 0), 0);
    EXPECT_TRUE(ktest::Block(frame) == before);
    // A template that does not fit in its window: not found.
    const int32_t farX[2] = {r.rx[0], 5000}, farY[2] = {r.ry[0], 5000};
    EXPECT_EQ(ImgAlignTwoPoints(0, &frame, r.templates, farX, farY, 8, 0, 0), 0);
    EXPECT_TRUE(ktest::Block(frame) == before);
}

// A textured frame moved, turned and scaled with cv2.warpAffine is brought
// back onto its reference, in both variants.
TEST(AlignTwoPoints, RealignsWarpedFrames) {
    const int W = 240, H = 180;
    CImgBuff ref;
    Texture(ref, W, H, kImgRgb8, 9);
    struct Case {
        double dx, dy, angle, scale;
    } cases[] = {{4.5, -3.25, 0.0, 1.0}, {-2.0, 1.5, 3.0, 1.0}, {1.25, 2.0, -2.0, 1.02}};
    std::string list = "cases = [";
    for (const Case& c : cases) {
        char line[120];
        std::snprintf(line, sizeof line, "(%.17g,%.17g,%.17g,%.17g),", c.dx, c.dy, c.angle, c.scale);
        list += line;
    }
    const std::string script = list + "]\n" + "W, H = " + std::to_string(W) + ", " + std::to_string(H) + "\n" + R"(
import cv2
a = np.fromfile(sys.argv[1], np.uint8).reshape(H, W, 3)
out = []
for dx, dy, angle, scale in cases:
    # Turned about the middle (clockwise as displayed for a positive angle),
    # scaled, then moved.
    M = cv2.getRotationMatrix2D(((W - 1) / 2, (H - 1) / 2), -angle, scale)
    M[0, 2] += dx
    M[1, 2] += dy
    out.append(cv2.warpAffine(a, M, (W, H), flags=cv2.INTER_LINEAR, borderMode=cv2.BORDER_REFLECT).tobytes())
open(sys.argv[-1], 'wb').write(b''.join(out))
)";
    const std::string warped = ktest::RunNumpy(script, {ktest::Block(ref)});
    const size_t bytes = static_cast<size_t>(W) * H * 3;
    ASSERT_EQ(warped.size(), bytes * std::size(cases));
    Refs r;
    CutReferences(ref, 32, 32, &r);
    for (size_t k = 0; k < std::size(cases); ++k) {
        for (int variant = 0; variant < 2; ++variant) {
            CImgBuff frame;
            ASSERT_TRUE(ktest::MakeFrom<uint8_t>(frame, W, H, kImgRgb8, std::vector<uint8_t>(warped.begin() + k * bytes, warped.begin() + (k + 1) * bytes)));
            double fx[2] = {0, 0}, fy[2] = {0, 0};
            const int32_t result = variant == 0 ? ImgAlignTwoPoints(0, &frame, r.templates, r.rx, r.ry, 16, 0, 0)
                                                : ImgAlignTwoPointsEx(&frame, r.templates, r.rx, r.ry, r.rx, r.ry, 16, 0, fx, fy);
            ASSERT_EQ(result, 1) << "case " << k << " variant " << variant;
            if (variant == 1) {
                EXPECT_NEAR(fx[0], r.rx[0] + cases[k].dx, 2.5);
            }
            // The interior matches the reference closely.
            double sum = 0;
            int count = 0, worst = 0;
            for (int y = 30; y < H - 30; ++y)
                for (int x = 30; x < W - 30; ++x)
                    for (int c = 0; c < 3; ++c) {
                        const int d = std::abs(int(frame.buffer->PixelAt(x, y)[c]) - int(ref.buffer->PixelAt(x, y)[c]));
                        sum += d;
                        worst = std::max(worst, d);
                        ++count;
                    }
            EXPECT_LT(sum / count, 3.0) << "case " << k << " variant " << variant;
            EXPECT_LT(worst, 40) << "case " << k << " variant " << variant;
        }
    }
}

}  // namespace
