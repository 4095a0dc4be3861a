// What every kernel shares: double-to-integer steps that are defined for
// every input, the row split of a clipped region over the worker pool, and
// span readers and writers that switch on the pixel format once per span.
#pragma once

#include <cmath>
#include <cstdint>

#include "image/imgbuff.h"
#include "image/pool.h"

// Hot row loops get an AVX2 clone beside the baseline one, chosen once at
// load time; the arithmetic (and its order) is the same in both.
// ThreadSanitizer cannot run the load-time resolver; clang (the fuzz build)
// cannot clone function templates.
#if defined(__SANITIZE_THREAD__) || defined(__clang__)
#define KV_KERNEL_CLONES
#else
#define KV_KERNEL_CLONES __attribute__((target_clones("avx2", "default")))
#endif

// Truncation toward zero with clamping at 0 and the channel maximum; NaN
// gives 0. Testing in double first keeps the conversion defined.
inline uint32_t ImgClampToU32(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= 4294967295.0) return 4294967295u;
    return static_cast<uint32_t>(v);
}
inline uint16_t ImgClampToU16(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= 65535.0) return 65535;
    return static_cast<uint16_t>(v);
}
inline uint8_t ImgClampToU8(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= 255.0) return 255;
    return static_cast<uint8_t>(v);
}

// The grey rule of the pixel accessors: (299 R + 587 G + 114 B + 500) / 1000.
inline uint32_t ImgGrayWeighted32(uint32_t r, uint32_t g, uint32_t b) { return (299 * r + 587 * g + 114 * b + 500) / 1000; }
inline uint32_t ImgGrayWeighted64(uint64_t r, uint64_t g, uint64_t b) {
    return static_cast<uint32_t>((299 * r + 587 * g + 114 * b + 500) / 1000);
}

// Rows of a clipped region: the region's rows cut over the pool, f(y) for
// each image row y0 .. y1.
template <class F>
void ImgForEachRegionRow(const ImgRect& roi, F&& f) {
    auto chunk = [&](uint64_t first, uint64_t count) {
        for (uint64_t i = first; i < first + count; ++i) f(static_cast<int32_t>(roi.y0 + static_cast<int64_t>(i)));
    };
    PoolParallelRun(static_cast<uint64_t>(static_cast<int64_t>(roi.y1) - roi.y0 + 1), chunk);
}

// Intersects a job's region (filled by a caller of a row worker) with the
// image, so that workers never address outside the pixel block. False when
// nothing remains.
bool ImgJobRegionInside(const C_ImgBuff* image, int32_t* x0, int32_t* y0, int32_t* x1, int32_t* y1);

// Pixels handled per span by the span readers' callers (stack buffers).
constexpr int32_t kImgSpanPixels = 512;

// Read n pixels (x0 .. x0+n-1) of row y, which lie inside the image, in the
// rendering of the typed getters: grey at 8 or 16 bits, RGB at 8 or 16 bits
// (three values per pixel), HSV16 (three per pixel). Formats whose
// rendering is plain arithmetic on the stored samples are read directly;
// the others through the getters.
void ImgReadGray8Span(const C_ImgBuff& image, int32_t x0, int32_t y, int32_t n, uint8_t* out);
void ImgReadGray16Span(const C_ImgBuff& image, int32_t x0, int32_t y, int32_t n, uint16_t* out);
void ImgReadRgb8Span(const C_ImgBuff& image, int32_t x0, int32_t y, int32_t n, uint8_t* out);
void ImgReadRgb16Span(const C_ImgBuff& image, int32_t x0, int32_t y, int32_t n, uint16_t* out);
void ImgReadHsv16Span(const C_ImgBuff& image, int32_t x0, int32_t y, int32_t n, uint16_t* out);

// Two-level output of the extraction kernels.
enum : uint8_t { kImgLevelKeep = 0, kImgLevelBlack = 1, kImgLevelWhite = 2 };
// Writes black or white (the grey setters' 0 and full scale, rendered in the
// image's format) where `levels` says so, leaves kImgLevelKeep pixels.
void ImgWriteLevelsSpan(C_ImgBuff& image, int32_t x0, int32_t y, int32_t n, const uint8_t* levels);

// Maps every channel of n pixels of row y through f at 32 bits: integer
// samples are widened to 32 bits by replication and narrowed back to their
// depth (the grey and RGB 32-bit accessors' rule, done directly), XYZ, HSV
// and CMYK pixels go through the 32-bit RGB accessors.
template <class F>
void ImgMapSpan32(C_ImgBuff& image, int32_t x0, int32_t y, int32_t n, F&& f) {
    const int32_t format = image.format;
    const uint64_t samples = static_cast<uint64_t>(n) * (format <= kImgGray32 ? 1u : 3u);
    switch (format) {
        case kImgGray8:
        case kImgRgb8: {
            uint8_t* p = image.PixelAt(x0, y);
            for (uint64_t i = 0; i < samples; ++i) p[i] = static_cast<uint8_t>(f(p[i] * 16843009u) >> 24);
            return;
        }
        case kImgGray16:
        case kImgRgb16: {
            uint16_t* p = reinterpret_cast<uint16_t*>(image.PixelAt(x0, y));
            for (uint64_t i = 0; i < samples; ++i) p[i] = static_cast<uint16_t>(f(p[i] * 65537u) >> 16);
            return;
        }
        case kImgGray32:
        case kImgRgb32: {
            uint32_t* p = reinterpret_cast<uint32_t*>(image.PixelAt(x0, y));
            for (uint64_t i = 0; i < samples; ++i) p[i] = f(p[i]);
            return;
        }
        default:
            for (int32_t x = x0; x < x0 + n; ++x) {
                uint32_t r, g, b;
                if (image.GetPixelRgb32(x, y, &r, &g, &b)) image.SetPixelRgb32(x, y, f(r), f(g), f(b));
            }
            return;
    }
}
