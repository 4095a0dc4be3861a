// HSV range extraction on every 8-bit RGB colour: the decision of the RGB8
// path equals the 16-bit HSV rule (ImgRgb16ToHsv16 of the widened colour and
// the range test) for hue ranges that wrap, touch the sextant borders, admit
// one hue or all, end next to hues that colours reach exactly, and for edge
// and random saturation and value bounds. Rows of 4096 pixels go through the
// 16-pixel steps; rows of 8 pixels through the plain loop alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "image/colour.h"
#include "image/kernels/hsv_range.h"
#include "image/pool.h"

namespace {

struct Range {
    uint16_t centre, halfWidth, sMin, sMax, vMin, vMax;
};

bool InRange(uint16_t h, uint16_t s, uint16_t v, const Range& q) {
    if (s < q.sMin || s > q.sMax || v < q.vMin || v > q.vMax) return false;
    if (q.halfWidth >= 32768) return true;
    const uint16_t lo = static_cast<uint16_t>(q.centre - q.halfWidth), hi = static_cast<uint16_t>(q.centre + q.halfWidth);
    return lo <= hi ? (h >= lo && h <= hi) : (h >= lo || h <= hi);
}

std::vector<Range> Ranges() {
    std::vector<Range> ranges = {
        {60000, 8000, 10000, 60000, 20000, 65535},  // wraps through 0
        {21844, 3000, 0, 65535, 0, 65535},          // around green
        {0, 32768, 1, 65534, 257, 65280},           // every hue, no grey
        {0, 32767, 0, 65535, 0, 65535},             // all but one hue
        {65535, 1, 0, 65535, 0, 65535},             // 65534 .. 0
        {10922, 5, 0, 65535, 0, 65535},             // the red-green border
        {32766, 2, 0, 65535, 0, 65535},             // the green-blue border
        {54611, 3, 0, 65535, 0, 65535},             // the blue-red border
        {0, 10922, 65534, 65534, 0, 65535},         // full saturation only
        {1, 0, 0, 0, 1, 256},                       // no colour and no grey
        {0, 0, 0, 65535, 258, 514},                 // V between two 8-bit levels
        {30000, 20000, 32767, 32768, 0, 65535},     // one saturation step
    };
    // Single hues next to hues that colours reach exactly (t = 10922 diff / d
    // whole: 10922, 5461 and 0 in each branch), so both ends of a range sit
    // on, just below and just above a reachable hue.
    for (int32_t exact : {0, 5461, 10922, 16383, 21844, 27305, 32766, 38227, 43688, 49149, 54610, 54613, 60074, 65534})
        for (int32_t delta : {-1, 0, 1})
            ranges.push_back({static_cast<uint16_t>(exact + delta), 0, 0, 65535, 0, 65535});
    // Likewise saturations reached exactly (d / m = 1/2, 1/7, 1/31 of 65534)
    // and values (257 m).
    for (int32_t exact : {32767, 9362, 2114})
        for (int32_t delta : {-1, 0, 1})
            ranges.push_back({0, 32768, static_cast<uint16_t>(exact + delta), static_cast<uint16_t>(exact + delta), 0, 65535});
    for (int32_t delta : {-1, 0, 1})
        ranges.push_back({0, 32768, 0, 65535, static_cast<uint16_t>(25700 + delta), static_cast<uint16_t>(25700 + delta)});
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int> any(0, 65535);
    for (int i = 0; i < 12; ++i) {
        Range q{static_cast<uint16_t>(any(rng)), static_cast<uint16_t>(any(rng) % 32769), static_cast<uint16_t>(any(rng)),
                static_cast<uint16_t>(any(rng)), static_cast<uint16_t>(any(rng)), static_cast<uint16_t>(any(rng))};
        if (q.sMin > q.sMax) std::swap(q.sMin, q.sMax);
        if (q.vMin > q.vMax) std::swap(q.vMin, q.vMax);
        ranges.push_back(q);
    }
    return ranges;
}

TEST(HsvRangeEveryColour, Rgb8DecisionEqualsTheHsv16Rule) {
    constexpr uint32_t kColours = 1u << 24;
    // Every colour once, as colour number c = R << 16 | G << 8 | B, and its HSV.
    CImgBuff wide, narrow;
    ASSERT_EQ(wide.buffer->Create(4096, 4096, kImgRgb8), 1);
    ASSERT_EQ(narrow.buffer->Create(8, kColours / 8, kImgRgb8), 1);
    std::vector<uint16_t> hue(kColours), sat(kColours);
    for (uint32_t c = 0; c < kColours; ++c) {
        uint8_t* p = wide.buffer->pixels + 3 * static_cast<uint64_t>(c);
        p[0] = static_cast<uint8_t>(c >> 16);
        p[1] = static_cast<uint8_t>(c >> 8);
        p[2] = static_cast<uint8_t>(c);
        uint16_t v;
        ImgRgb16ToHsv16(p[0] * 257, p[1] * 257, p[2] * 257, &hue[c], &sat[c], &v);
    }
    std::copy(wide.buffer->pixels, wide.buffer->pixels + 3 * static_cast<uint64_t>(kColours), narrow.buffer->pixels);
    CImgBuff img;
    std::vector<uint8_t> expected(kColours);
    for (const Range& q : Ranges()) {
        auto decide = [&](uint64_t first, uint64_t count) {
            for (uint64_t c = first; c < first + count; ++c) {
                const uint32_t m = std::max({static_cast<uint32_t>(c >> 16), static_cast<uint32_t>(c >> 8) & 255u,
                                             static_cast<uint32_t>(c) & 255u});
                expected[c] = InRange(hue[c], sat[c], static_cast<uint16_t>(m * 257), q) ? 255 : 0;
            }
        };
        PoolParallelRun(kColours, decide);
        for (const CImgBuff* layout : {&wide, &narrow}) {
            img.CopyFrom(layout);
            ASSERT_EQ(ImgExtractHsvRange(&img, q.centre, q.halfWidth, q.sMin, q.sMax, q.vMin, q.vMax, 0, 1, 0, nullptr), 1);
            uint64_t wrong = 0;
            uint32_t first = 0;
            const uint8_t* got = img.buffer->pixels;
            for (uint32_t c = 0; c < kColours; ++c)
                if (got[3 * static_cast<uint64_t>(c)] != expected[c] && wrong++ == 0) first = c;
            EXPECT_EQ(wrong, 0u) << "range " << q.centre << "/" << q.halfWidth << " S " << q.sMin << ".." << q.sMax
                                 << " V " << q.vMin << ".." << q.vMax << (layout == &wide ? " wide" : " narrow")
                                 << ": first colour " << std::hex << first;
        }
    }
}

}  // namespace
