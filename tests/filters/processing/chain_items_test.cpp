// The chain items without a panel in real chain runs: the processing
// rectangle, group tags, depth conversion, reversal and equalisation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "filters/core/cfgfile.h"
#include "filters/processing/lf_down_conv.h"
#include "filters/processing/lf_flatting_histogram.h"
#include "filters/processing/lf_group.h"
#include "filters/processing/lf_rect.h"
#include "filters/processing/lf_reversal.h"
#include "filters/processing/lf_up_conv.h"
#include "image/kernels/equalize.h"
#include "image/pool.h"
#include "filters/processing/support/fake_host.h"
#include "support/testsupport.h"

namespace {

void Fill(CImgBuff& image, int32_t w, int32_t h, int32_t format, uint8_t fill = 0) {
    ASSERT_TRUE(image.buffer->Create(w, h, format));
    std::memset(image.buffer->pixels, fill,
                static_cast<size_t>(w) * static_cast<size_t>(h) * static_cast<size_t>(image.buffer->BytesPerPixel()));
}

CLfRect* AddRect(FakeHost& host, uint64_t x, uint64_t y, uint64_t w, uint64_t h) {
    auto* r = static_cast<CLfRect*>(host.Add(CreateLfRect()));
    if (w) r->Set({1, x, y, w, h});
    return r;
}

TEST(ProcessRect, RegionsOfTheFiltersAfterIt) {
    FakeHost host;
    CImgBuff image;
    Fill(image, 40, 30, kImgGray8);
    ProbeFilter* before = static_cast<ProbeFilter*>(host.Add(new ProbeFilter));
    AddRect(host, 0, 0, 0, 0);  // never drawn: the whole image
    ProbeFilter* whole = static_cast<ProbeFilter*>(host.Add(new ProbeFilter));
    AddRect(host, 5, 6, 7, 8);
    ProbeFilter* first = static_cast<ProbeFilter*>(host.Add(new ProbeFilter));
    AddRect(host, 1, 2, 3, 4);
    ProbeFilter* second = static_cast<ProbeFilter*>(host.Add(new ProbeFilter));
    host.RunChain(&image, 0);
    auto region = [](const ProbeFilter* p) {
        const ProbeStep& s = p->steps.at(0);
        return std::vector<int64_t>{s.x, s.y, s.w, s.h};
    };
    EXPECT_EQ(region(before), (std::vector<int64_t>{0, 0, 40, 30}));
    EXPECT_EQ(region(whole), (std::vector<int64_t>{0, 0, 40, 30}));
    EXPECT_EQ(region(first), (std::vector<int64_t>{5, 6, 7, 8}));
    EXPECT_EQ(region(second), (std::vector<int64_t>{1, 2, 3, 4}));
    EXPECT_EQ(std::vector<int32_t>({host.regionX0, host.regionY0, host.regionX1, host.regionY1}),
              (std::vector<int32_t>{1, 2, 3, 5}));
}

TEST(ProcessRect, MouseSequences) {
    struct Step {
        char what;  // 'L' left down, 'R' right down, 'M' move, 'U' up
        int64_t x, y;
    };
    const struct {
        const char* name;
        std::vector<Step> steps;
        CLfRect::Rect expect;
        size_t reruns;
    } cases[] = {
        {"click", {{'L', 7, 9}, {'U', 7, 9}}, {1, 7, 9, 1, 1}, 1},
        {"drag", {{'L', 2, 3}, {'M', 10, 20}, {'U', 10, 20}}, {1, 2, 3, 9, 18}, 2},
        {"reversed drag", {{'L', 10, 20}, {'M', 2, 3}, {'U', 2, 3}}, {1, 2, 3, 9, 18}, 2},
        {"same point twice", {{'L', 4, 4}, {'M', 4, 4}, {'U', 4, 4}}, {1, 4, 4, 1, 1}, 1},
        {"move against the right and bottom edges",
         {{'L', 30, 20}, {'M', 39, 29}, {'U', 0, 0}, {'R', 35, 25}, {'M', 60, 60}, {'U', 0, 0}},
         {1, 30, 20, 10, 10}, 3},
        {"move against the left edge",
         {{'L', 5, 5}, {'M', 9, 9}, {'U', 0, 0}, {'R', 6, 6}, {'M', 0, 7}, {'U', 0, 0}},
         {1, 0, 6, 5, 5}, 3},
        {"right press outside starts nothing",
         {{'L', 5, 5}, {'U', 5, 5}, {'R', 20, 20}, {'M', 25, 25}, {'U', 0, 0}},
         {1, 5, 5, 1, 1}, 1},
        {"right press without a rectangle", {{'R', 1, 1}, {'M', 3, 3}}, {0, 0, 0, 0, 0}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeHost host;
        host.SetSourceFormat(40, 30, 1, 1);
        CLfRect* r = AddRect(host, 0, 0, 0, 0);
        for (const Step& s : c.steps) {
            if (s.what == 'L') r->OnLButtonDown(s.x, s.y, 0);
            if (s.what == 'R') r->OnRButtonDown(s.x, s.y, 0);
            if (s.what == 'M') r->OnMouseMove(s.x, s.y, 0);
            if (s.what == 'U') r->OnLButtonUp(s.x, s.y, 0);
        }
        const CLfRect::Rect got = r->Get();
        EXPECT_EQ(std::vector<uint64_t>({got.set, got.x, got.y, got.w, got.h}),
                  std::vector<uint64_t>({c.expect.set, c.expect.x, c.expect.y, c.expect.w, c.expect.h}));
        EXPECT_EQ(host.calls.size(), c.reruns);
    }
}

TEST(ProcessRect, MovingARectangleLargerThanTheSourceKeepsItAtTheEdge) {
    FakeHost host;
    host.SetSourceFormat(40, 30, 1, 1);
    CLfRect* r = AddRect(host, 0, 0, 50, 10);  // loaded for a larger picture
    r->OnRButtonDown(3, 3, 0);
    r->OnMouseMove(8, 3, 0);
    EXPECT_EQ(r->Get().x, 0u);  // not 2^64 - 10
    EXPECT_EQ(r->Get().w, 50u);
}

TEST(ProcessRect, OutlineCornersByZoom) {
    // Rectangle (10, 20, 5, 4) with the shown image part starting at (2, 4),
    // the view at (100, 50).
    const CLfRect::Rect r{1, 10, 20, 5, 4};
    const struct {
        int32_t zoom;
        int32_t dx1, dy1, ix1, iy1;  // view and image far corners
        std::vector<int32_t> corners;
    } cases[] = {
        // fit at 2.5 x 2: right + 1 and bottom + 1 before scaling
        {0, 100 + 249, 50 + 199, 2 + 99, 4 + 99, {100 + 20, 50 + 32, 100 + 32, 50 + 40}},
        {-1, 100 + 249, 50 + 199, 2 + 99, 4 + 99, {100 + 20, 50 + 32, 100 + 32, 50 + 40}},
        // fit below 2: no widening, truncation
        {0, 100 + 149, 50 + 99, 2 + 99, 4 + 99, {100 + 12, 50 + 16, 100 + 18, 50 + 19}},
        {2, 0, 0, 0, 0, {100 + 16, 50 + 32, 100 + 25, 50 + 39}},
        {-2, 0, 0, 0, 0, {100 + 4, 50 + 8, 100 + 6, 50 + 9}},
        {1, 0, 0, 0, 0, {100 + 8, 50 + 16, 100 + 12, 50 + 19}},
    };
    for (const auto& c : cases) {
        int32_t got[4];
        CLfRect::OutlineCorners(r, 100, 50, c.dx1, c.dy1, 2, 4, c.ix1, c.iy1, c.zoom, got);
        EXPECT_EQ(std::vector<int32_t>(got, got + 4), c.corners) << "zoom " << c.zoom << " dx1 " << c.dx1;
    }
}

TEST(ProcessRect, LoadTable) {
    const struct {
        const char* name;
        std::vector<std::pair<const wchar_t*, const wchar_t*>> items;
        CLfRect::Rect expect;
    } cases[] = {
        {"complete", {{L"set", L"1"}, {L"x", L"3"}, {L"y", L"4"}, {L"w", L"5"}, {L"h", L"6"}}, {1, 3, 4, 5, 6}},
        {"no w: x and y back to 0, set kept", {{L"set", L"1"}, {L"x", L"3"}, {L"y", L"4"}, {L"h", L"6"}},
         {1, 0, 0, 7, 7}},
        {"set other than 0 or 1 ignored", {{L"set", L"2"}, {L"x", L"3"}, {L"y", L"4"}, {L"w", L"5"}, {L"h", L"6"}},
         {1, 3, 4, 5, 6}},
        {"set 0", {{L"set", L"0"}, {L"x", L"3"}, {L"y", L"4"}, {L"w", L"5"}, {L"h", L"6"}}, {0, 3, 4, 5, 6}},
        {"zero width refused", {{L"set", L"1"}, {L"x", L"3"}, {L"y", L"4"}, {L"w", L"0"}, {L"h", L"6"}},
         {1, 1, 1, 7, 7}},
        {"beyond 2^63 refused",
         {{L"set", L"1"}, {L"x", L"9223372036854775807"}, {L"y", L"4"}, {L"w", L"2"}, {L"h", L"6"}},
         {1, 1, 1, 7, 7}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CLfRect r;
        r.Set({1, 1, 1, 7, 7});
        CCfgFile file;
        CCfgPack* pack = file.AddPack(L"process_rect");
        for (const auto& [k, v] : c.items) pack->AddItem(k, v);
        r.LoadConfig(pack);
        const CLfRect::Rect got = r.Get();
        EXPECT_EQ(std::vector<uint64_t>({got.set, got.x, got.y, got.w, got.h}),
                  std::vector<uint64_t>({c.expect.set, c.expect.x, c.expect.y, c.expect.w, c.expect.h}));
    }
    // Saved as the section names them.
    CLfRect r;
    r.Set({1, 3, 4, 5, 6});
    CCfgFile file;
    CCfgPack* pack = file.AddPack(L"process_rect");
    r.SaveConfig(pack);
    std::wstring text;
    for (const CCfgItem* i = pack->firstItem; i; i = i->next) text += std::wstring(i->key) + L"=" + i->value + L";";
    EXPECT_EQ(text, L"if_enable=0;set=1;x=3;y=4;w=5;h=6;");
}

TEST(GroupTag, DisabledTagSkipsToTheNextTag) {
    FakeHost host;
    CImgBuff image;
    Fill(image, 8, 8, kImgGray8);
    CImgFilter* tag1 = host.Add(CreateLfGroup());
    auto* a = static_cast<ProbeFilter*>(host.Add(new ProbeFilter));
    host.Add(CreateLfGroup());
    auto* b = static_cast<ProbeFilter*>(host.Add(new ProbeFilter));
    EXPECT_EQ(tag1->kind, 1u);
    host.RunChain(&image, 0);
    tag1->enabled = 0;
    host.RunChain(&image, 0);
    EXPECT_EQ(a->steps.size(), 1u);
    EXPECT_EQ(b->steps.size(), 2u);
    tag1->enabled = 1;
    host.RunChain(&image, 0);
    EXPECT_EQ(a->steps.size(), 2u);
}

// The up-conversion's widening and smoothing of a grey plane written out
// plainly: samples widened by `factor`, the two 3 x 3 kernels over the
// cells inside the image (the sum divided by the weight sum of those
// cells, truncated, when that sum is above 1; a zero sum stays 0; clipped
// to [0, top]), then each sample replaced by its window's truncated mean
// when that lies within `limit` of it.
using Plane = std::vector<int64_t>;

Plane Convolve(const Plane& a, int32_t w, int32_t h, const int64_t (&k)[9], int64_t top) {
    Plane out(a.size());
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            int64_t sum = 0, weights = 0;
            for (int32_t j = -1; j <= 1; ++j)
                for (int32_t i = -1; i <= 1; ++i) {
                    if (x + i < 0 || x + i >= w || y + j < 0 || y + j >= h) continue;
                    const int64_t kv = k[(j + 1) * 3 + (i + 1)];
                    sum += a[static_cast<size_t>((y + j) * w + x + i)] * kv;
                    weights += kv;
                }
            int64_t v = weights > 1 ? sum / weights : sum;  // C++ division truncates toward zero
            if (sum == 0) v = 0;
            out[static_cast<size_t>(y * w + x)] = std::clamp<int64_t>(v, 0, top);
        }
    return out;
}

Plane Smooth(Plane a, int32_t w, int32_t h, int64_t factor, int64_t top, int64_t limit) {
    for (int64_t& v : a) v *= factor;
    a = Convolve(a, w, h, {0, 1, 0, 1, 5, 1, 0, 1, 0}, top);
    a = Convolve(a, w, h, {0, -1, 0, -1, 10, -1, 0, -1, 0}, top);
    Plane out = a;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            int64_t sum = 0, n = 0;
            for (int32_t j = -1; j <= 1; ++j)
                for (int32_t i = -1; i <= 1; ++i)
                    if (x + i >= 0 && x + i < w && y + j >= 0 && y + j < h) {
                        sum += a[static_cast<size_t>((y + j) * w + x + i)];
                        ++n;
                    }
            const int64_t mean = sum / n, v = a[static_cast<size_t>(y * w + x)];
            if (std::llabs(mean - v) <= limit) out[static_cast<size_t>(y * w + x)] = mean;
        }
    return out;
}

// Every byte of a pixel is `low` left of the middle column and `high` from
// it on: a vertical step edge in every channel.
void StepEdge(CImgBuff& image, int32_t w, int32_t h, int32_t format, uint8_t low, uint8_t high) {
    ASSERT_TRUE(image.buffer->Create(w, h, format));
    const int32_t bytes = image.buffer->BytesPerPixel();
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) std::memset(image.buffer->PixelAt(x, y), x < w / 2 ? low : high, static_cast<size_t>(bytes));
}

// Samples of a plane image, little-endian, `size` bytes each.
Plane Samples(const CImgBuff& image, int32_t size) {
    const size_t n = static_cast<size_t>(image.buffer->width) * static_cast<size_t>(image.buffer->height) *
                     static_cast<size_t>(image.buffer->BytesPerPixel() / size);
    Plane out(n);
    for (size_t i = 0; i < n; ++i) {
        uint64_t v = 0;
        for (int32_t b = size - 1; b >= 0; --b) v = (v << 8) | image.buffer->pixels[i * static_cast<size_t>(size) + static_cast<size_t>(b)];
        out[i] = static_cast<int64_t>(v);
    }
    return out;
}

// The chain's depth items over a step edge: the channel bytes the filters
// after each item see, the format at the end, and every value against the
// plain transcription (widened and smoothed up, narrowed to the high byte
// or word down).
TEST(DepthConversion, UpAndDownThroughTheChannelBytes) {
    constexpr int32_t kW = 9, kH = 7;
    CImgBuff grey;
    StepEdge(grey, kW, kH, kImgGray8, 30, 220);
    const Plane eight = Samples(grey, 1);
    const Plane sixteen = Smooth(eight, kW, kH, 257, 65535, 512);
    const Plane thirtyTwo = Smooth(sixteen, kW, kH, 65537, 4294967295LL, 131072);
    Plane sixteenDown = sixteen;
    for (int64_t& v : sixteenDown) v >>= 8;
    // The step survives up-conversion: the edge columns keep their
    // convolved values, the flat parts their widened levels.
    ASSERT_EQ(sixteen[0], 30 * 257);
    ASSERT_EQ(sixteen[kW - 1], 220 * 257);
    ASSERT_NE(sixteen[kW / 2], 220 * 257);

    const struct {
        const char* name;
        int32_t format;
        std::vector<char> chain;  // 'u' up, 'd' down, 'p' probe
        std::vector<uint32_t> probeBytes;
        int32_t endFormat;
        int32_t sampleBytes;  // of the result; 0: the values are not compared
        Plane expect;         // empty: the bytes are unchanged
    } cases[] = {
        {"up three times on 8-bit grey", kImgGray8, {'u', 'p', 'u', 'p', 'u', 'p'}, {2, 4, 4}, 3, 4, thirtyTwo},
        {"up then down", kImgGray8, {'u', 'd', 'p'}, {1}, kImgGray8, 1, sixteenDown},
        {"down on 8 bits", kImgGray8, {'d', 'p'}, {1}, kImgGray8, 1, {}},
        {"down on 16-bit colour", 5, {'d', 'p'}, {1}, kImgRgb8, 1, {}},
        {"down on format 7", 7, {'d', 'p'}, {8}, 7, 1, {}},
        {"up on CMYK keeps its format until the end", 9, {'u', 'p'}, {2}, 5, 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeHost host;
        std::vector<ProbeFilter*> probes;
        for (char k : c.chain) {
            if (k == 'u') host.Add(CreateLfUpConv());
            if (k == 'd') host.Add(CreateLfDownConv());
            if (k == 'p') probes.push_back(static_cast<ProbeFilter*>(host.Add(new ProbeFilter)));
        }
        CImgBuff image;
        StepEdge(image, kW, kH, c.format, 30, 220);
        const std::vector<uint8_t> before(image.buffer->pixels,
                                          image.buffer->pixels + size_t{kW} * kH * static_cast<size_t>(image.buffer->BytesPerPixel()));
        host.RunChain(&image, 0);
        for (size_t i = 0; i < probes.size(); ++i) {
            EXPECT_EQ(probes[i]->steps.at(0).channelBytes, c.probeBytes[i]) << i;
            if (c.format == 9) {
                EXPECT_EQ(probes[i]->steps.at(0).format, 9);
            }
        }
        EXPECT_EQ(image.buffer->format, c.endFormat);
        if (!c.sampleBytes) continue;
        const Plane got = Samples(image, c.sampleBytes);
        if (!c.expect.empty()) {
            EXPECT_EQ(got, c.expect);
        } else if (c.format == 5) {
            // 16-bit samples of bytes (30, 30) and (220, 220): their high bytes.
            Plane want(got.size());
            for (size_t i = 0; i < want.size(); ++i) want[i] = before[2 * i + 1];
            EXPECT_EQ(got, want);
        } else {
            EXPECT_EQ(got, Plane(before.begin(), before.end()));
        }
    }
}

}  // namespace

namespace {

TEST(PixelSteps, ReversalAndEqualisationStayInsideTheRectangle) {
    for (uint64_t threads : {uint64_t{1}, uint64_t{0}}) {
        SCOPED_TRACE(threads);
        PoolStart();
        PoolSetThreadCount(threads ? threads : 64);
        CImgBuff image;
        Fill(image, 64, 48, kImgGray8);
        uint32_t seed = 12345;
        for (int i = 0; i < 64 * 48; ++i) {
            seed = seed * 1103515245u + 12345u;
            image.buffer->pixels[i] = static_cast<uint8_t>(seed >> 24);
        }
        CImgBuff original, expected;
        ASSERT_TRUE(original.CopyFrom(&image));
        ASSERT_TRUE(expected.CopyFrom(&image));
        // Reversal is 255 - v inside the rectangle; equalisation there is
        // the kernel's own (checked against numpy in its tests).
        const ImgRect roi{10, 5, 10 + 20 - 1, 5 + 15 - 1};
        for (int y = roi.y0; y <= roi.y1; ++y)
            for (int x = roi.x0; x <= roi.x1; ++x) *expected.buffer->PixelAt(x, y) = 255 - *original.buffer->PixelAt(x, y);
        ASSERT_TRUE(ImgFlattenHistogram(&expected, &roi));

        FakeHost host;
        AddRect(host, 10, 5, 20, 15);
        host.Add(CreateLfReversal());
        host.Add(CreateLfFlattingHistogram());
        host.RunChain(&image, 0);
        EXPECT_EQ(std::memcmp(image.buffer->pixels, expected.buffer->pixels, 64 * 48), 0);
        int outsideChanged = 0;
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x)
                if ((x < roi.x0 || x > roi.x1 || y < roi.y0 || y > roi.y1) &&
                    *image.buffer->PixelAt(x, y) != *original.buffer->PixelAt(x, y))
                    ++outsideChanged;
        EXPECT_EQ(outsideChanged, 0);
        PoolStop();
    }
}

}  // namespace
