// Lines, the chart circle, the twice-as-large copy and the frame stack.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "image/kernels/image_shift.h"
#include "image/kernels/raster_stack.h"
#include "support/kernel_test_util.h"

namespace {

using Points = std::vector<std::pair<int, int>>;

// The points a rasteriser plots, read back from the image (relative to
// (ox, oy), sorted).
Points Recorded(int w, int h, int ox, int oy, const std::function<void(PlotGrayContext*)>& draw) {
    CImgBuff img;
    EXPECT_TRUE(img.buffer->Create(w, h, kImgGray16));
    PlotGrayContext ctx{&img, 0};
    draw(&ctx);
    Points p;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (*reinterpret_cast<uint16_t*>(img.buffer->PixelAt(x, y)) != 0) p.emplace_back(x - ox, y - oy);
    return p;
}

Points Sorted(Points p) {
    std::sort(p.begin(), p.end());
    return p;
}

struct Spy {
    Points points;
};
Spy* g_spy = nullptr;
void SpyPlot(int32_t ox, int32_t oy, int64_t a, int64_t b, PlotGrayContext*) {
    g_spy->points.emplace_back(static_cast<int>(ox + a), static_cast<int>(oy + b));
}

TEST(LineStepper, PlotsFromBothEndsInOrder) {
    struct Case {
        int n, m;
        Points order;
    } cases[] = {
        {5, 2, {{0, 0}, {4, 1}, {1, 0}, {3, 1}, {2, 1}, {2, 0}}},
        {4, 2, {{0, 0}, {3, 1}, {1, 0}, {2, 1}}},  // the halves do not cross
        {4, 4, {{0, 0}, {3, 3}, {1, 1}, {2, 2}}},
        {1, 1, {{0, 0}, {0, 0}}},
        {3, 1, {{0, 0}, {2, 0}, {1, 0}, {1, 0}}},
    };
    for (const Case& c : cases) {
        Spy spy;
        g_spy = &spy;
        ImgLineStepper(0, 0, c.n, c.m, SpyPlot, nullptr);
        EXPECT_EQ(spy.points, c.order) << c.n << "," << c.m;
    }
    g_spy = nullptr;
}

TEST(DrawLine, CasesAndEveryDirection) {
    const auto draw = [](int x0, int y0, int x1, int y1) {
        return Recorded(60, 60, 25, 25, [&](PlotGrayContext* c) {
            c->grey = 255;
            ImgDrawLine(x0 + 25, y0 + 25, x1 + 25, y1 + 25, c);
        });
    };
    EXPECT_EQ(draw(0, 0, 3, 3), Sorted({{0, 0}, {1, 1}, {2, 2}, {3, 3}}));
    EXPECT_EQ(draw(5, 2, 1, 2), Sorted({{1, 2}, {2, 2}, {3, 2}, {4, 2}, {5, 2}}));
    EXPECT_EQ(draw(2, 1, 2, 4), Sorted({{2, 1}, {2, 2}, {2, 3}, {2, 4}}));
    EXPECT_EQ(draw(7, 7, 7, 7), Sorted({{7, 7}}));
    EXPECT_EQ(draw(0, 0, 3, 1), Sorted({{0, 0}, {1, 0}, {2, 1}, {3, 1}}));
    EXPECT_EQ(draw(3, 1, 0, 0), Sorted({{0, 0}, {1, 0}, {2, 1}, {3, 1}}));

    // Every end point of a 33 x 33 box: every step of the major axis, both
    // ends, each point within half a pixel of the true line, and the minor
    // coordinate monotone along the major one.
    for (int ex = -16; ex <= 16; ++ex)
        for (int ey = -16; ey <= 16; ++ey) {
            const Points p = draw(0, 0, ex, ey);
            const bool xMajor = std::abs(ex) >= std::abs(ey);
            const int n = std::max(std::abs(ex), std::abs(ey)) + 1;
            // Where the minor step falls in the middle, both of its points
            // are drawn: one extra point at most.
            ASSERT_TRUE(static_cast<int>(p.size()) == n || static_cast<int>(p.size()) == n + 1) << ex << "," << ey;
            std::set<int> majors;
            std::vector<std::pair<int, int>> byMajor;
            for (const auto& [x, y] : p) {
                const int major = xMajor ? x : y, minor = xMajor ? y : x;
                majors.insert(major);
                // Both axes turned so that the line runs towards larger values.
                byMajor.emplace_back(major * (xMajor ? (ex < 0 ? -1 : 1) : (ey < 0 ? -1 : 1)),
                                     minor * (xMajor ? (ey < 0 ? -1 : 1) : (ex < 0 ? -1 : 1)));
                const double t = xMajor ? (ex == 0 ? 0.0 : double(x) / ex) : double(y) / ey;
                const double exact = t * (xMajor ? ey : ex);
                EXPECT_LE(std::fabs(minor - exact), 0.5 + 1e-9) << ex << "," << ey << " point " << x << "," << y;
            }
            EXPECT_EQ(static_cast<int>(majors.size()), n) << ex << "," << ey;
            std::sort(byMajor.begin(), byMajor.end());
            for (size_t k = 1; k < byMajor.size(); ++k) {
                const int step = byMajor[k].second - byMajor[k - 1].second;
                EXPECT_TRUE(step == 0 || step == 1) << ex << "," << ey;
            }
            EXPECT_TRUE(std::count(p.begin(), p.end(), std::pair{0, 0}) == 1 && std::count(p.begin(), p.end(), std::pair{ex, ey}) == 1);
        }
    // Points outside the image are left out; far coordinates are safe.
    CImgBuff img;
    ASSERT_TRUE(img.buffer->Create(4, 4, kImgRgb8));
    PlotGrayContext ctx{&img, 200};
    ImgDrawLine(-5, 1, 10, 1, &ctx);
    ImgDrawLine(INT32_MIN, 0, INT32_MIN + 3, 3, &ctx);
    for (int x = 0; x < 4; ++x) EXPECT_EQ(img.buffer->PixelAt(x, 1)[1], 200);
    EXPECT_EQ(img.buffer->PixelAt(0, 0)[0], 0);
}

TEST(ChartCircle, SpansTheChart) {
    CImgBuff img;
    ASSERT_TRUE(img.buffer->Create(256, 256, kImgGray8));
    PlotGrayContext ctx{&img, 255};
    EXPECT_EQ(ImgDrawChartCircle(&ctx), 1);
    int minX = 999, maxX = -1, minY = 999, maxY = -1, count = 0;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            if (*img.buffer->PixelAt(x, y)) {
                minX = std::min(minX, x);
                maxX = std::max(maxX, x);
                minY = std::min(minY, y);
                maxY = std::max(maxY, y);
                ++count;
                // On the circle of radius 128 about the middle of the chart.
                const double r = std::hypot(x - 127.5, y - 127.5);
                EXPECT_NEAR(r, 128.0, 1.5) << x << "," << y;
            }
    EXPECT_EQ(minX, 0);
    EXPECT_EQ(maxX, 255);
    EXPECT_EQ(minY, 0);
    EXPECT_EQ(maxY, 255);
    EXPECT_GT(count, 600);
}

// Against numpy's repeat of the 8-bit RGB rendering, in every format.
TEST(Enlarge2x, RepeatsEachPixel) {
    for (int32_t f : ktest::kAllFormats) {
        CImgBuff src, img;
        ASSERT_TRUE(ktest::MakeNoise(src, 7, 5, f, 30 + f));
        img.CopyFrom(&src);
        ASSERT_EQ(ImgEnlarge2x(&img), 1);
        ASSERT_EQ(img.buffer->width, 14);
        ASSERT_EQ(img.buffer->height, 10);
        ASSERT_EQ(img.buffer->format, f);
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 14; ++x) {
                CImgBuff one;
                ASSERT_TRUE(one.buffer->Create(1, 1, f));
                uint8_t r, g, b;
                src.buffer->GetPixelRgb8(x / 2, y / 2, &r, &g, &b);
                one.buffer->SetPixelRgb8(0, 0, r, g, b);
                ASSERT_EQ(std::memcmp(img.buffer->PixelAt(x, y), one.buffer->pixels, ImgFormatBytes(f)), 0) << ImgFormatName(f);
            }
    }
    // 16-bit grey passes through 8 bits: multiples of 257.
    CImgBuff g16;
    ASSERT_TRUE(ktest::MakeNoise(g16, 9, 4, kImgGray16, 2));
    ASSERT_EQ(ImgEnlarge2x(&g16), 1);
    for (uint16_t v : ktest::Values<uint16_t>(g16)) EXPECT_EQ(v % 257, 0);
    CImgBuff empty;
    EXPECT_EQ(ImgEnlarge2x(&empty), 0);

    CImgBuff rgb;
    ASSERT_TRUE(ktest::MakeNoise(rgb, 33, 21, kImgRgb8, 4));
    const std::string before = ktest::Block(rgb);
    ASSERT_EQ(ImgEnlarge2x(&rgb), 1);
    const std::string expected = ktest::RunNumpy(
        "a = np.fromfile(sys.argv[1], np.uint8).reshape(21, 33, 3)\n"
        "np.repeat(np.repeat(a, 2, axis=0), 2, axis=1).tofile(sys.argv[2])\n",
        {before});
    EXPECT_TRUE(ktest::Block(rgb) == expected);
}

// A textured frame with structure everywhere.
void Texture(CImgBuff& img, int w, int h, int32_t format, uint32_t seed) {
    ASSERT_TRUE(img.buffer->Create(w, h, format));
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> phase(0, 6.28), freq(0.06, 0.3);
    double fx[6], fy[6], ph[6];
    for (int i = 0; i < 6; ++i) {
        fx[i] = freq(rng) * (i % 2 ? 1 : -1);
        fy[i] = freq(rng);
        ph[i] = phase(rng);
    }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double v[3] = {0.5, 0.5, 0.5};
            for (int i = 0; i < 6; ++i) v[i % 3] += 0.13 * std::sin(fx[i] * x + fy[i] * y + ph[i]);
            img.buffer->SetPixelRgbDouble(x, y, v[0], v[1], v[2]);
        }
}

// Created and resolved at once: cell (2x, 2y) holds pixel (x, y), a cell
// between two of them their mean, a cell between four the mean of four.
TEST(FrameStack, SingleFrameGivesTheDoublePattern) {
    CImgBuff frame;
    Texture(frame, 131, 99, kImgGray8, 3);
    const std::string before = ktest::Block(frame);
    FrameStack* stack = ImgFrameStackCreate(&frame);
    ASSERT_NE(stack, nullptr);
    EXPECT_EQ(ktest::Block(frame), before);  // the caller's frame is not changed
    CImgBuff out;
    ASSERT_EQ(ImgFrameStackResolve(stack, &out), 1);
    ASSERT_EQ(out.buffer->width, 262);
    ASSERT_EQ(out.buffer->height, 198);
    const auto p = [&](int x, int y) { return int(*frame.buffer->PixelAt(x, y)); };
    const auto o = [&](int x, int y) { return int(*out.buffer->PixelAt(x, y)); };
    for (int y = 0; y < 98; ++y)
        for (int x = 0; x < 130; ++x) {
            ASSERT_EQ(o(2 * x, 2 * y), p(x, y)) << x << "," << y;
            ASSERT_EQ(o(2 * x + 1, 2 * y), (2 * p(x, y) + 2 * p(x + 1, y)) / 4) << x << "," << y;
            ASSERT_EQ(o(2 * x, 2 * y + 1), (2 * p(x, y) + 2 * p(x, y + 1)) / 4) << x << "," << y;
            ASSERT_EQ(o(2 * x + 1, 2 * y + 1), (p(x, y) + p(x + 1, y) + p(x, y + 1) + p(x + 1, y + 1)) / 4) << x << "," << y;
        }
}

// Frames moved by whole pixels come back: the stack of the reference and
// a moved copy equals the reference's double pattern away from the edges.
TEST(FrameStack, MovedFramesComeBack) {
    CImgBuff ref;
    Texture(ref, 131, 99, kImgRgb8, 4);
    FrameStack* single = ImgFrameStackCreate(&ref);
    ASSERT_NE(single, nullptr);
    CImgBuff expected;
    ASSERT_EQ(ImgFrameStackResolve(single, &expected), 1);

    FrameStack* stack = ImgFrameStackCreate(&ref);
    ASSERT_NE(stack, nullptr);
    for (const auto& d : {std::pair{3, -2}, {-4, 1}}) {
        CImgBuff moved;
        moved.CopyFrom(&ref);
        ASSERT_EQ(ImgShift(&moved, d.first, d.second, 0), 1);
        ASSERT_EQ(ImgFrameStackAdd(stack, &moved, 0), 1);
    }
    // Another size is refused and adds nothing.
    CImgBuff small;
    Texture(small, 130, 99, kImgRgb8, 4);
    EXPECT_EQ(ImgFrameStackAdd(stack, &small, 0), 0);
    CImgBuff out;
    ASSERT_EQ(ImgFrameStackResolve(stack, &out), 1);
    // The same with one pool thread.
    CImgBuff one;
    ktest::WithOneAndAllThreads(
        [&] {
            FrameStack* s1 = ImgFrameStackCreate(&ref);
            ASSERT_NE(s1, nullptr);
            for (const auto& d : {std::pair{3, -2}, {-4, 1}}) {
                CImgBuff moved;
                moved.CopyFrom(&ref);
                ImgShift(&moved, d.first, d.second, 0);
                ASSERT_EQ(ImgFrameStackAdd(s1, &moved, 0), 1);
            }
            ASSERT_EQ(ImgFrameStackResolve(s1, &one), 1);
        },
        [] {});
    EXPECT_TRUE(ktest::Block(one) == ktest::Block(out));
    for (int y = 12; y < 2 * 99 - 12; ++y)
        for (int x = 12; x < 2 * 131 - 12; ++x)
            ASSERT_EQ(std::memcmp(out.buffer->PixelAt(x, y), expected.buffer->PixelAt(x, y), 3), 0) << x << "," << y;
}

TEST(FrameStack, Refusals) {
    // Too small for two 32 x 32 tiles inside a 32-pixel margin.
    CImgBuff small;
    Texture(small, 64, 64, kImgGray8, 5);
    EXPECT_EQ(ImgFrameStackCreate(&small), nullptr);
    CImgBuff empty;
    EXPECT_EQ(ImgFrameStackCreate(&empty), nullptr);
    EXPECT_EQ(ImgFrameStackCreate(nullptr), nullptr);
    EXPECT_EQ(ImgFrameStackResolve(nullptr, &empty), 0);
    // A stack whose cells hold nothing resolves (the passes stop when one
    // fills nothing) to the enlarged first frame.
    CImgBuff frame;
    Texture(frame, 131, 99, kImgGray8, 6);
    FrameStack* stack = ImgFrameStackCreate(&frame);
    ASSERT_NE(stack, nullptr);
    const uint64_t cells = 4ull * 131 * 99;
    std::memset(stack->hits, 0, cells * 4);
    CImgBuff out;
    ASSERT_EQ(ImgFrameStackResolve(stack, &out), 1);
    CImgBuff enlarged;
    enlarged.CopyFrom(&frame);
    ASSERT_EQ(ImgEnlarge2x(&enlarged), 1);
    EXPECT_TRUE(ktest::Block(out) == ktest::Block(enlarged));
}

}  // namespace
