// Bit masks, the span seed fill, the run flood and the range and
// foreground masks; floods checked against scipy.ndimage.label.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "image/bitmask.h"
#include "support/image_test_util.h"
#include "support/testsupport.h"

namespace {

TEST(BitMask, LayoutAndBounds) {
    BitMask* m = ImgBitMaskCreate(33, 2);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->pitch, 64u);
    EXPECT_EQ(ImgBitMaskSet(m, 32, 0, 1), 1);
    EXPECT_EQ(m->words[1], 0x80000000u);
    EXPECT_EQ(ImgBitMaskSet(m, 0, 1, 1), 1);
    EXPECT_EQ(m->words[2], 0x80000000u);
    EXPECT_EQ(ImgBitMaskSet(m, 33, 0, 1), 0);  // x = width
    EXPECT_EQ(ImgBitMaskSet(m, 0, 2, 1), 0);
    EXPECT_EQ(ImgBitMaskSet(m, -1, 0, 1), 0);
    EXPECT_EQ(m->words[0] | m->words[3], 0u);
    EXPECT_EQ(ImgBitMaskGet(m, 33, 0), 0);
    BitMask* c = ImgBitMaskClone(m);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(std::memcmp(c->words, m->words, 16), 0);
    EXPECT_EQ(ImgBitMaskSet(c, 32, 0, 0), 1);
    EXPECT_EQ(c->words[1], 0u);
    ImgBitMaskDestroy(c);
    ImgBitMaskDestroy(m);
    EXPECT_EQ(ImgBitMaskCreate(0, 5), nullptr);
    EXPECT_EQ(ImgBitMaskCreate(5, -1), nullptr);
    EXPECT_EQ(ImgBitMaskClone(nullptr), nullptr);
}

TEST(BitMask, RowScans) {
    BitMask* m = ImgBitMaskCreate(100, 1);
    uint32_t* row = ImgBitMaskRow(m, 0);
    ImgBitRowSetRange(row, 30, 70);
    EXPECT_EQ(ImgBitRowNextSet(row, 0, 99), 30);
    EXPECT_EQ(ImgBitRowNextSet(row, 0, 29), -1);
    EXPECT_EQ(ImgBitRowNextSet(row, 71, 99), -1);
    EXPECT_EQ(ImgBitRowNextClear(row, 30, 99), 71);
    EXPECT_EQ(ImgBitRowNextClear(row, 30, 70), -1);
    EXPECT_EQ(ImgBitRowPrevClear(row, 70, 0), 29);
    EXPECT_EQ(ImgBitRowPrevClear(row, 70, 30), -1);
    ImgBitRowClearRange(row, 31, 69);
    EXPECT_EQ(ImgBitRowNextSet(row, 31, 99), 70);
    ImgBitMaskDestroy(m);
}

// ---- seed fill ----

struct FillContext {
    const std::vector<uint8_t>* pixels;
    int32_t width;
    std::map<std::pair<int32_t, int32_t>, int> calls;
    std::vector<uint8_t> taken;
};

int32_t CountingTest(int32_t x, int32_t y, uint64_t user, BitMask*) {
    FillContext& c = *reinterpret_cast<FillContext*>(user);
    ++c.calls[{x, y}];
    const size_t i = static_cast<size_t>(y) * c.width + x;
    if (!(*c.pixels)[i]) return 0;
    c.taken[i] = 1;
    return 1;
}

TEST(SeedFill, CreationAndSeedEdgeCases) {
    EXPECT_EQ(ImgSeedFillCreate(0, 0, 9, 9, CountingTest, 6, 0), nullptr);
    EXPECT_EQ(ImgSeedFillCreate(5, 0, 4, 9, CountingTest, 4, 0), nullptr);
    SeedFill* one = ImgSeedFillCreate(3, 4, 3, 4, CountingTest, 8, 0);
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(one->stack->capacity, 3u);
    EXPECT_EQ(one->visited->width, 1);
    EXPECT_EQ(one->visited->height, 1);
    ImgSeedFillDestroy(one);
    ImgSeedFillDestroy(nullptr);
    EXPECT_EQ(ImgSeedFillFrom(nullptr, 0, 0), 0);

    std::vector<uint8_t> pixels(10 * 6, 1);
    pixels[2 * 10 + 3] = 0;
    FillContext c{&pixels, 10, {}, std::vector<uint8_t>(pixels.size())};
    SeedFill* f = ImgSeedFillCreate(0, 0, 9, 5, CountingTest, 4, reinterpret_cast<uint64_t>(&c));
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->orientation, 1u);  // wider than tall: spans along y
    int32_t first = 7, last = 7;
    EXPECT_EQ(ImgSeedFillSpan(f, 10, 2, &first, &last), 1);  // outside
    EXPECT_EQ(first, 2);
    EXPECT_EQ(last, 2);
    EXPECT_TRUE(c.calls.empty());
    EXPECT_EQ(ImgSeedFillRun(f), 1);
    EXPECT_EQ(ImgSeedFillSpan(f, 3, 2, &first, &last), 1);  // test fails: visited, nothing else
    EXPECT_EQ(c.calls.size(), 1u);
    EXPECT_EQ(ImgBitMaskGet(f->visited, 3, 2), 1);
    EXPECT_EQ(f->stack->read, f->stack->write);
    EXPECT_EQ(ImgSeedFillSpan(f, 3, 2, &first, &last), 1);  // already visited: not tested again
    EXPECT_EQ(c.calls.size(), 1u);
    ImgSeedFillDestroy(f);
}

TEST(SeedFill, DiagonalReachOnlyUnderEightConnectivity) {
    // A span 1..3 on row 1 and a pixel touching its end diagonally.
    std::vector<uint8_t> pixels(6 * 4, 0);
    for (int x = 1; x <= 3; ++x) pixels[1 * 6 + x] = 1;
    pixels[2 * 6 + 4] = 1;
    for (int conn : {4, 8}) {
        FillContext c{&pixels, 6, {}, std::vector<uint8_t>(pixels.size())};
        SeedFill* f = ImgSeedFillCreate(0, 0, 5, 3, CountingTest, conn, reinterpret_cast<uint64_t>(&c));
        ASSERT_EQ(ImgSeedFillFrom(f, 2, 1), 1);
        EXPECT_EQ(c.taken[2 * 6 + 4], conn == 8 ? 1 : 0) << conn;
        ImgSeedFillDestroy(f);
    }
}

// A random pattern of blobs, rings and noise; 1 = object.
std::vector<uint8_t> RandomBlobs(int32_t w, int32_t h, uint32_t seed, double noise) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> p(static_cast<size_t>(w) * h, 0);
    std::uniform_real_distribution<double> u(0, 1);
    for (int k = 0; k < w * h / 150; ++k) {
        const double cx = u(rng) * w, cy = u(rng) * h, r = 1 + u(rng) * 7, inner = u(rng) < 0.3 ? r * 0.5 : -1;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const double d = std::hypot(x - cx, y - cy);
                if (d <= r && d > inner) p[static_cast<size_t>(y) * w + x] = 1;
            }
    }
    for (auto& v : p)
        if (u(rng) < noise) v ^= 1;
    return p;
}

std::string Bytes(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

// scipy labels of the pattern: int32 per pixel, for 4 then 8 connectivity.
std::vector<int32_t> ScipyLabels(const std::vector<uint8_t>& p, int32_t w, int32_t h) {
    kvtest::TempDir dir("bitmask");
    const std::string in = dir.file("in.raw"), out = dir.file("out.raw");
    EXPECT_TRUE(kvtest::WriteFileBytes(in, Bytes(p)));
    std::string log;
    const int rc = kvtest::RunPython(
        "import sys, numpy as np\nfrom scipy import ndimage\n"
        "w, h = int(sys.argv[3]), int(sys.argv[4])\n"
        "a = np.fromfile(sys.argv[1], np.uint8).reshape(h, w)\n"
        "l4, _ = ndimage.label(a)\n"
        "l8, _ = ndimage.label(a, structure=np.ones((3, 3)))\n"
        "np.concatenate([l4.ravel(), l8.ravel()]).astype(np.int32).tofile(sys.argv[2])\n",
        {in, out, std::to_string(w), std::to_string(h)}, &log);
    EXPECT_EQ(rc, 0) << log;
    const std::string bytes = kvtest::ReadFileBytes(out);
    std::vector<int32_t> labels(bytes.size() / 4);
    std::memcpy(labels.data(), bytes.data(), labels.size() * 4);
    return labels;
}

// Every seed fill and run flood of a component equals its scipy label, and
// the counting test never sees a position twice.
TEST(SeedFill, FloodsEqualScipyComponents) {
    const int32_t w = 71, h = 53;
    for (uint32_t seed : {1u, 2u}) {
        const std::vector<uint8_t> p = RandomBlobs(w, h, seed, seed == 1 ? 0.02 : 0.3);
        const std::vector<int32_t> labels = ScipyLabels(p, w, h);
        ASSERT_EQ(labels.size(), p.size() * 2);
        for (int conn : {4, 8}) {
            const int32_t* lab = labels.data() + (conn == 4 ? 0 : p.size());
            BitMask* bits = ImgBitMaskCreate(w, h);
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x) ImgBitMaskSet(bits, x, y, p[static_cast<size_t>(y) * w + x]);
            std::vector<bool> seen(p.size());
            int components = 0;
            for (size_t i = 0; i < p.size(); ++i) {
                if (!p[i] || seen[i]) continue;
                ++components;
                const int32_t x = static_cast<int32_t>(i % w), y = static_cast<int32_t>(i / w);
                FillContext c{&p, w, {}, std::vector<uint8_t>(p.size())};
                SeedFill* f = ImgSeedFillCreate(0, 0, w - 1, h - 1, CountingTest, conn, reinterpret_cast<uint64_t>(&c));
                ASSERT_EQ(ImgSeedFillFrom(f, x, y), 1);
                ImgSeedFillDestroy(f);
                for (const auto& [pos, n] : c.calls) ASSERT_EQ(n, 1) << pos.first << "," << pos.second;
                ImgBitRunList runs;
                const int64_t n = ImgBitMaskTakeComponent(bits, x, y, conn, 0, 0, w - 1, h - 1, &runs);
                std::vector<uint8_t> fromRuns(p.size());
                for (uint64_t r = 0; r < runs.count; ++r)
                    for (int32_t rx = runs.runs[r].x0; rx <= runs.runs[r].x1; ++rx) fromRuns[static_cast<size_t>(runs.runs[r].y) * w + rx] = 1;
                int64_t size = 0;
                for (size_t j = 0; j < p.size(); ++j) {
                    const bool in = lab[j] == lab[i];
                    size += in;
                    ASSERT_EQ(c.taken[j], in ? 1 : 0) << "conn " << conn << " seed " << x << "," << y;
                    ASSERT_EQ(fromRuns[j], in ? 1 : 0) << "conn " << conn << " seed " << x << "," << y;
                    if (in) seen[j] = true;
                }
                EXPECT_EQ(n, size);
            }
            // The run flood took every object pixel out of the mask.
            for (int32_t y = 0; y < h; ++y) ASSERT_EQ(ImgBitRowNextSet(ImgBitMaskRow(bits, y), 0, w - 1), -1);
            int32_t most = 0;
            for (size_t j = 0; j < p.size(); ++j) most = std::max(most, lab[j]);
            EXPECT_EQ(components, most);
            ImgBitMaskDestroy(bits);
        }
    }
}

// A checkerboard flooded from its centre under 8-connectivity keeps more
// spans pending than the ring first holds: it grows, also while wrapped.
TEST(SeedFill, StackGrowsAndKeepsEveryPendingSpan) {
    const int32_t w = 64, h = 64;
    std::vector<uint8_t> p(static_cast<size_t>(w) * h, 0);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) p[static_cast<size_t>(y) * w + x] = (x + y) % 2 == 0;
    FillContext c{&p, w, {}, std::vector<uint8_t>(p.size())};
    SeedFill* f = ImgSeedFillCreate(0, 0, w - 1, h - 1, CountingTest, 8, reinterpret_cast<uint64_t>(&c));
    const uint32_t initial = f->stack->capacity;
    ASSERT_EQ(ImgSeedFillFrom(f, 32, 32), 1);
    EXPECT_GT(f->stack->capacity, initial);
    EXPECT_EQ(c.taken, p);
    for (const auto& [pos, n] : c.calls) ASSERT_EQ(n, 1);
    ImgSeedFillDestroy(f);
}

// ---- range and foreground masks ----

TEST(RangeMask, RefusesBadCornersAndFormats) {
    CImgBuff img;
    ASSERT_TRUE(img.buffer->Create(8, 6, kImgGray8));
    RangeMask r;
    EXPECT_EQ(ImgRangeMaskCreate(&r, &img, 8, 5, 1, 255), 0);
    EXPECT_EQ(ImgRangeMaskCreate(&r, &img, 7, 6, 1, 255), 0);
    EXPECT_EQ(ImgRangeMaskCreate(&r, &img, -1, 5, 1, 255), 0);
    EXPECT_EQ(r.mask, nullptr);
    CImgBuff empty;
    EXPECT_EQ(ImgRangeMaskCreate(&r, &empty, 0, 0, 1, 255), 0);
    ASSERT_EQ(ImgRangeMaskCreate(&r, &img, 3, 2, 1, 255), 1);
    EXPECT_EQ(r.width, 4);
    EXPECT_EQ(r.height, 3);
    ImgRangeMaskRelease(&r);
}

// Every format: the bits equal the grey getter of the group's width.
TEST(RangeMask, MarksTheGroupWidthGreyRangeInEveryFormat) {
    for (int32_t f = 1; f <= 9; ++f) {
        CImgBuff img;
        ASSERT_TRUE(img.buffer->Create(77, 9, f));
        imgtest::FillPattern(*img.buffer, 5 + f);
        const int bits = ImgFormatGroupBits(f);
        const uint32_t top = ImgFormatGroupMax(f);
        const uint32_t low = top / 4, high = top / 4 * 3;
        RangeMask r;
        ASSERT_EQ(ImgRangeMaskCreate(&r, &img, 70, 8, low, high), 1);
        int set = 0;
        for (int32_t y = 0; y < 9; ++y)
            for (int32_t x = 0; x < 71; ++x) {
                uint32_t v;
                if (bits == 8) {
                    uint8_t g;
                    img.buffer->GetPixelGray8(x, y, &g);
                    v = g;
                } else if (bits == 16) {
                    uint16_t g;
                    img.buffer->GetPixelGray16(x, y, &g);
                    v = g;
                } else {
                    img.buffer->GetPixelGray32(x, y, &v);
                }
                const bool in = v >= low && v <= high;
                set += in;
                ASSERT_EQ(ImgBitMaskGet(r.mask, x, y), in ? 1 : 0) << ImgFormatName(f) << " " << x << "," << y;
            }
        EXPECT_GT(set, 0) << ImgFormatName(f);
        ImgRangeMaskRelease(&r);
    }
}

TEST(ForegroundMask, DiffersFromTheBackgroundLevel) {
    CImgBuff g16;
    ASSERT_TRUE(g16.buffer->Create(3, 1, kImgGray16));
    const uint16_t v16[] = {65535, 65534, 0};
    std::memcpy(g16.buffer->pixels, v16, sizeof v16);
    BitMask* m = ImgForegroundMask(&g16, 1, 0, 0, 2, 0);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->words[0], 0x60000000u);
    ImgBitMaskDestroy(m);

    CImgBuff rgb;
    ASSERT_TRUE(rgb.buffer->Create(2, 1, kImgRgb8));
    rgb.buffer->pixels[2] = 1;  // (0, 0, 1)
    m = ImgForegroundMask(&rgb, 0, 0, 0, 1, 0);
    EXPECT_EQ(m->words[0], 0x80000000u);
    ImgBitMaskDestroy(m);

    EXPECT_EQ(ImgForegroundMask(&rgb, 0, 1, 0, 0, 0), nullptr);
    EXPECT_EQ(ImgForegroundMask(&rgb, 0, 0, 0, 2, 0), nullptr);
    EXPECT_EQ(ImgForegroundMask(&rgb, 0, -1, 0, 1, 0), nullptr);
    CImgBuff empty;
    EXPECT_EQ(ImgForegroundMask(&empty, 0, 0, 0, 0, 0), nullptr);
}

// Every format, both background levels, against the RGB getters of the
// group's width.
TEST(ForegroundMask, EveryFormatAgainstTheGetters) {
    for (int32_t f = 1; f <= 9; ++f)
        for (uint32_t inv : {0u, 1u}) {
            CImgBuff img;
            ASSERT_TRUE(img.buffer->Create(70, 5, f));
            imgtest::FillPattern(*img.buffer, 3);
            // Some pixels exactly at the background level.
            for (int32_t x = 0; x < 70; x += 3) img.buffer->SetPixelGray8(x, 2, inv ? 255 : 0);
            const int32_t x0 = 2, y0 = 1, x1 = 66, y1 = 4;
            BitMask* m = ImgForegroundMask(&img, inv, x0, y0, x1, y1);
            ASSERT_NE(m, nullptr);
            const int bits = ImgFormatGroupBits(f);
            int set = 0, clear = 0;
            for (int32_t y = y0; y <= y1; ++y)
                for (int32_t x = x0; x <= x1; ++x) {
                    uint32_t c[3];
                    if (bits == 8) {
                        uint8_t r, g, b;
                        img.buffer->GetPixelRgb8(x, y, &r, &g, &b);
                        c[0] = r, c[1] = g, c[2] = b;
                    } else if (bits == 16) {
                        uint16_t r, g, b;
                        img.buffer->GetPixelRgb16(x, y, &r, &g, &b);
                        c[0] = r, c[1] = g, c[2] = b;
                    } else {
                        img.buffer->GetPixelRgb32(x, y, &c[0], &c[1], &c[2]);
                    }
                    const uint32_t bg = inv ? ImgFormatGroupMax(f) : 0;
                    const bool fg = c[0] != bg || c[1] != bg || c[2] != bg;
                    (fg ? set : clear)++;
                    ASSERT_EQ(ImgBitMaskGet(m, x - x0, y - y0), fg ? 1 : 0) << ImgFormatName(f) << " " << x << "," << y;
                }
            EXPECT_GT(set, 0);
            // XYZ white does not read back as the full 32-bit level.
            if (!(f == kImgXyz && inv)) {
                EXPECT_GT(clear, 0) << ImgFormatName(f);
            }
            ImgBitMaskDestroy(m);
        }
}

}  // namespace
