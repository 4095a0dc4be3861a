// Runs of a filter in a real chain behind a processing rectangle, compared
// with the kernels called directly on the clipped region.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "filters/processing/lf_rect.h"
#include "filters/processing/support/fake_host.h"
#include "image/imgbuff.h"

namespace kvtest {

// An image of random bytes (doubles of the deep formats stay finite: only
// integer formats are used here).
inline void RandomImage(CImgBuff& image, int32_t w, int32_t h, int32_t format, uint32_t seed) {
    ASSERT_TRUE(image.buffer->Create(w, h, format));
    std::mt19937 rng(seed);
    const size_t n = static_cast<size_t>(w) * static_cast<size_t>(h) * static_cast<size_t>(image.buffer->BytesPerPixel());
    for (size_t i = 0; i < n; ++i) image.buffer->pixels[i] = static_cast<uint8_t>(rng());
}

inline std::vector<uint8_t> Bytes(const CImgBuff& image) {
    const size_t n = static_cast<size_t>(image.buffer->width) * static_cast<size_t>(image.buffer->height) *
                     static_cast<size_t>(image.buffer->BytesPerPixel());
    return std::vector<uint8_t>(image.buffer->pixels, image.buffer->pixels + n);
}

// A processing rectangle, and where it lies against a 40 x 30 image.
struct RegionCase {
    const char* name;
    uint64_t x, y, w, h;
};
inline const std::vector<RegionCase>& RegionCases() {
    static const std::vector<RegionCase> cases = {
        {"inside", 5, 4, 17, 13},
        {"partly outside", 30, 20, 25, 25},
        {"wholly outside", 50, 40, 5, 5},
        {"beyond the 32-bit corners", 1ull << 32, 3, 5, 5},
    };
    return cases;
}

// Formats the comparisons run over: grey 8-bit, RGB 8-bit and 48-bit RGB.
inline const std::vector<int32_t>& RegionFormats() {
    static const std::vector<int32_t> formats = {kImgGray8, kImgRgb8, kImgRgb16};
    return formats;
}

// Runs `filter` (already added after a Process rect) on a random image and
// compares with `direct` applied to a copy with the clipped region (a
// region of zero size when nothing remains).
inline void ExpectChainMatchesDirect(FakeHost& host, CLfRect* rect, const RegionCase& c, int32_t format,
                                     const std::function<void(CImgBuff*, const ImgRect&, bool)>& direct) {
    SCOPED_TRACE(std::string(c.name) + " format " + std::to_string(format));
    rect->Set({1, c.x, c.y, c.w, c.h});
    CImgBuff image, expect;
    RandomImage(image, 40, 30, format, 7);
    RandomImage(expect, 40, 30, format, 7);
    host.RunChain(&image, 0);
    ImgRect r{static_cast<int32_t>(std::min<uint64_t>(c.x, INT32_MAX)), static_cast<int32_t>(std::min<uint64_t>(c.y, INT32_MAX)),
              static_cast<int32_t>(std::min<uint64_t>(c.x + c.w - 1, INT32_MAX)),
              static_cast<int32_t>(std::min<uint64_t>(c.y + c.h - 1, INT32_MAX))};
    const bool inside = ImgClipRect(&r, &expect) != 0;
    direct(&expect, r, inside);
    EXPECT_TRUE(Bytes(image) == Bytes(expect));
}

}  // namespace kvtest
