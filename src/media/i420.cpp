// RGB ↔ I420 with the codecs' integer formulas. Every quotient is a
// truncating division by 1000 of a numerator that is never negative where
// it matters (a negative colour numerator clamps to 0 either way), so the
// vector rows divide by 8 with a shift and then by 125 with an exact
// multiply-high of the 16-bit remainder; both give floor(n / 1000).
#include "media/i420.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>

#include "image/pool.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

std::atomic<int32_t> g_VectorAllowed{1};

bool UseAvx2() {
#if defined(__x86_64__)
    static const bool have = __builtin_cpu_supports("avx2");
    return have && g_VectorAllowed.load(std::memory_order_relaxed);
#else
    return false;
#endif
}

// n / 1000 truncated toward zero and clamped to a byte.
inline uint8_t ColourByte(int32_t n) {
    if (n < 0) return 0;
    n /= 1000;
    return static_cast<uint8_t>(n > 255 ? 255 : n);
}

inline void YuvToRgb(int32_t y, int32_t u, int32_t v, uint8_t* out) {
    const int32_t ty = 1164 * (y - 16);
    u -= 128;
    v -= 128;
    out[0] = ColourByte(ty + 1793 * v);
    out[1] = ColourByte(ty - 213 * u - 533 * v);
    out[2] = ColourByte(ty + 2112 * u);
}

inline int32_t LumaOf(const uint8_t* p) { return (183 * p[0] + 614 * p[1] + 62 * p[2] + 16000) / 1000; }
inline int32_t BlueDiffOf(const uint8_t* p) { return (439 * p[2] - 339 * p[1] - 101 * p[0] + 128000) / 1000; }
inline int32_t RedDiffOf(const uint8_t* p) { return (439 * p[0] - 399 * p[1] - 40 * p[2] + 128000) / 1000; }

// Pixels [x, n) of one row, chroma from column x / 2.
void ConvertRowScalar(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, uint64_t x, uint64_t n) {
    for (; x < n; ++x) YuvToRgb(y[x], u[x / 2], v[x / 2], out + 3 * x);
}

// Luma of row pixels [x, w) and, for the second row of a pair, chroma of
// the blocks from x / 2 up to w / 2.
void RgbRowPairScalar(const uint8_t* a, const uint8_t* b, uint8_t* ya, uint8_t* yb, uint8_t* u, uint8_t* v,
                      uint64_t x, uint64_t w) {
    for (uint64_t i = x; i < w; ++i) ya[i] = static_cast<uint8_t>(LumaOf(a + 3 * i));
    if (!b) return;
    for (uint64_t i = x; i < w; ++i) yb[i] = static_cast<uint8_t>(LumaOf(b + 3 * i));
    for (uint64_t k = x / 2; k < w / 2; ++k) {
        const uint8_t* p = a + 6 * k;
        const uint8_t* q = b + 6 * k;
        u[k] = static_cast<uint8_t>(
            (BlueDiffOf(p) + BlueDiffOf(p + 3) + BlueDiffOf(q) + BlueDiffOf(q + 3)) >> 2);
        v[k] = static_cast<uint8_t>((RedDiffOf(p) + RedDiffOf(p + 3) + RedDiffOf(q) + RedDiffOf(q + 3)) >> 2);
    }
}

#if defined(__x86_64__)
#define KV_AVX2 __attribute__((target("avx2"), always_inline)) inline

// x / 125 for 16-bit x below 59074: 71 × x < 2^22 keeps the error below one 125th.
KV_AVX2 __m256i Div125(__m256i x) {
    return _mm256_srli_epi16(_mm256_mulhi_epu16(x, _mm256_set1_epi16(static_cast<int16_t>(33555))), 6);
}

// Byte masks that interleave eight pixels' R, G (bytes 0-7, 8-15 of one
// register) and B (bytes 0-7 of another) into 24 bytes: the first 16 and
// the last 8.
struct InterleaveMasks {
    alignas(32) int8_t rg_first[32], b_first[32], rg_last[32], b_last[32];
};
constexpr InterleaveMasks MakeInterleaveMasks() {
    InterleaveMasks m{};
    for (int lane = 0; lane < 2; ++lane) {
        for (int k = 0; k < 16; ++k) {
            for (int part = 0; part < 2; ++part) {
                const int byte = k + 16 * part;  // output byte
                const int pixel = byte / 3, channel = byte % 3;
                const bool used = part == 0 || k < 8;
                int8_t rg = -1, b = -1;
                if (used && channel == 0) rg = static_cast<int8_t>(pixel);
                if (used && channel == 1) rg = static_cast<int8_t>(8 + pixel);
                if (used && channel == 2) b = static_cast<int8_t>(pixel);
                (part == 0 ? m.rg_first : m.rg_last)[16 * lane + k] = rg;
                (part == 0 ? m.b_first : m.b_last)[16 * lane + k] = b;
            }
        }
    }
    return m;
}
constexpr InterleaveMasks kInterleave = MakeInterleaveMasks();

// floor(n / 1000) of 32-bit n clamped to 0 .. 255999, as 16-bit lanes:
// a, b hold the pixels of the two halves that unpacklo/unpackhi made.
KV_AVX2 __m256i ColourBytes16(__m256i a, __m256i b) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i top = _mm256_set1_epi32(255999);
    a = _mm256_srli_epi32(_mm256_min_epi32(_mm256_max_epi32(a, zero), top), 3);
    b = _mm256_srli_epi32(_mm256_min_epi32(_mm256_max_epi32(b, zero), top), 3);
    return Div125(_mm256_packus_epi32(a, b));
}

// Pixels 0 .. 16k - 1 of one row; returns the pixels done.
__attribute__((target("avx2"))) uint64_t ConvertRowAvx2(const uint8_t* y, const uint8_t* u, const uint8_t* v,
                                                        uint8_t* out, uint64_t n) {
    const __m256i c16 = _mm256_set1_epi16(16), c128 = _mm256_set1_epi16(128);
    const __m256i kR = _mm256_set1_epi32(1164 | (1793 << 16));
    const __m256i kGu = _mm256_set1_epi32(1164 | (-213 << 16));
    const __m256i kGv = _mm256_set1_epi32(-533 & 0xFFFF);
    const __m256i kB = _mm256_set1_epi32(1164 | (2112 << 16));
    const __m256i rg_first = _mm256_load_si256(reinterpret_cast<const __m256i*>(kInterleave.rg_first));
    const __m256i b_first = _mm256_load_si256(reinterpret_cast<const __m256i*>(kInterleave.b_first));
    const __m256i rg_last = _mm256_load_si256(reinterpret_cast<const __m256i*>(kInterleave.rg_last));
    const __m256i b_last = _mm256_load_si256(reinterpret_cast<const __m256i*>(kInterleave.b_last));
    const __m256i zero = _mm256_setzero_si256();
    uint64_t x = 0;
    for (; x + 16 <= n; x += 16) {
        const __m256i yy = _mm256_sub_epi16(
            _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x))), c16);
        const __m128i u8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + x / 2));
        const __m128i v8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + x / 2));
        // Each chroma sample twice, for pixels 0-15 in order.
        const __m256i uu = _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_unpacklo_epi8(u8, u8)), c128);
        const __m256i vv = _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_unpacklo_epi8(v8, v8)), c128);

        const __m256i yu_lo = _mm256_unpacklo_epi16(yy, uu), yu_hi = _mm256_unpackhi_epi16(yy, uu);
        const __m256i yv_lo = _mm256_unpacklo_epi16(yy, vv), yv_hi = _mm256_unpackhi_epi16(yy, vv);
        const __m256i v0_lo = _mm256_unpacklo_epi16(vv, zero), v0_hi = _mm256_unpackhi_epi16(vv, zero);
        const __m256i r = ColourBytes16(_mm256_madd_epi16(yv_lo, kR), _mm256_madd_epi16(yv_hi, kR));
        const __m256i g = ColourBytes16(_mm256_add_epi32(_mm256_madd_epi16(yu_lo, kGu), _mm256_madd_epi16(v0_lo, kGv)),
                                        _mm256_add_epi32(_mm256_madd_epi16(yu_hi, kGu), _mm256_madd_epi16(v0_hi, kGv)));
        const __m256i b = ColourBytes16(_mm256_madd_epi16(yu_lo, kB), _mm256_madd_epi16(yu_hi, kB));

        const __m256i rg = _mm256_packus_epi16(r, g);  // per half: R0-7, G0-7
        const __m256i bb = _mm256_packus_epi16(b, b);
        const __m256i first = _mm256_or_si256(_mm256_shuffle_epi8(rg, rg_first), _mm256_shuffle_epi8(bb, b_first));
        const __m256i last = _mm256_or_si256(_mm256_shuffle_epi8(rg, rg_last), _mm256_shuffle_epi8(bb, b_last));
        uint8_t* o = out + 3 * x;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm256_castsi256_si128(first));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(o + 16), _mm256_castsi256_si128(last));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 24), _mm256_extracti128_si256(first, 1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(o + 40), _mm256_extracti128_si256(last, 1));
    }
    return x;
}

// Masks for the pixels at bytes o .. o + 11 of a load: R and G as the
// 16-bit halves of one 32-bit lane, B alone in the low half of another.
#define KV_RG_MASK(o) 0 + o, -1, 1 + o, -1, 3 + o, -1, 4 + o, -1, 6 + o, -1, 7 + o, -1, 9 + o, -1, 10 + o, -1
#define KV_B_MASK(o) 2 + o, -1, -1, -1, 5 + o, -1, -1, -1, 8 + o, -1, -1, -1, 11 + o, -1, -1, -1

// Pixels k .. k + 3 in the low half and k + 16 .. k + 19 in the high half,
// so that the in-half packs leave 32 pixels in order.
struct PixelPairs {
    __m256i rg, b;
};
template <int o>
KV_AVX2 PixelPairs LoadPixels(const uint8_t* p) {
    const __m256i v = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(p + 48), reinterpret_cast<const __m128i*>(p));
    return {_mm256_shuffle_epi8(v, _mm256_setr_epi8(KV_RG_MASK(o), KV_RG_MASK(o))),
            _mm256_shuffle_epi8(v, _mm256_setr_epi8(KV_B_MASK(o), KV_B_MASK(o)))};
}

// (rg · (cr, cg) + b · cb + bias) / 8 per pixel.
KV_AVX2 __m256i Eighths(const PixelPairs& p, __m256i crg, __m256i cb, __m256i bias) {
    return _mm256_srli_epi32(
        _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(p.rg, crg), _mm256_madd_epi16(p.b, cb)), bias), 3);
}

// Y, U and V of 32 pixels of one row as 16-bit lanes: [0-7 | 16-23] and [8-15 | 24-31].
struct RowValues {
    __m256i y01, y23, u01, u23, v01, v23;
};
KV_AVX2 RowValues RowValuesAvx2(const uint8_t* s) {
    const PixelPairs p[4] = {LoadPixels<0>(s), LoadPixels<0>(s + 12), LoadPixels<0>(s + 24), LoadPixels<4>(s + 32)};
    const __m256i cy = _mm256_set1_epi32(183 | (614 << 16)), cyb = _mm256_set1_epi32(62),
                  by = _mm256_set1_epi32(16000);
    const __m256i cu = _mm256_set1_epi32((-101 & 0xFFFF) | (-339 << 16)), cub = _mm256_set1_epi32(439);
    const __m256i cv = _mm256_set1_epi32(439 | (-399 << 16)), cvb = _mm256_set1_epi32(-40 & 0xFFFF);
    const __m256i bc = _mm256_set1_epi32(128000);
    RowValues r;
    r.y01 = Div125(_mm256_packs_epi32(Eighths(p[0], cy, cyb, by), Eighths(p[1], cy, cyb, by)));
    r.y23 = Div125(_mm256_packs_epi32(Eighths(p[2], cy, cyb, by), Eighths(p[3], cy, cyb, by)));
    r.u01 = Div125(_mm256_packs_epi32(Eighths(p[0], cu, cub, bc), Eighths(p[1], cu, cub, bc)));
    r.u23 = Div125(_mm256_packs_epi32(Eighths(p[2], cu, cub, bc), Eighths(p[3], cu, cub, bc)));
    r.v01 = Div125(_mm256_packs_epi32(Eighths(p[0], cv, cvb, bc), Eighths(p[1], cv, cvb, bc)));
    r.v23 = Div125(_mm256_packs_epi32(Eighths(p[2], cv, cvb, bc), Eighths(p[3], cv, cvb, bc)));
    return r;
}

// The 16 block averages of two rows' per-pixel values, in order.
KV_AVX2 __m128i BlockAverages(__m256i a01, __m256i a23, __m256i b01, __m256i b23) {
    const __m256i ones = _mm256_set1_epi16(1);
    const __m256i s01 = _mm256_srli_epi32(_mm256_madd_epi16(_mm256_add_epi16(a01, b01), ones), 2);
    const __m256i s23 = _mm256_srli_epi32(_mm256_madd_epi16(_mm256_add_epi16(a23, b23), ones), 2);
    const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(s01, s23), _mm256_setzero_si256());
    return _mm256_castsi256_si128(_mm256_permute4x64_epi64(bytes, 0x08));
}

// Rows a and b (b null for a lone last row) in steps of 32 pixels; returns the pixels done.
__attribute__((target("avx2"))) uint64_t RgbRowPairAvx2(const uint8_t* a, const uint8_t* b, uint8_t* ya,
                                                        uint8_t* yb, uint8_t* u, uint8_t* v, uint64_t w) {
    uint64_t x = 0;
    for (; x + 32 <= w; x += 32) {
        const RowValues ra = RowValuesAvx2(a + 3 * x);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(ya + x), _mm256_packus_epi16(ra.y01, ra.y23));
        if (!b) continue;
        const RowValues rb = RowValuesAvx2(b + 3 * x);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(yb + x), _mm256_packus_epi16(rb.y01, rb.y23));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(u + x / 2), BlockAverages(ra.u01, ra.u23, rb.u01, rb.u23));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(v + x / 2), BlockAverages(ra.v01, ra.v23, rb.v01, rb.v23));
    }
    return x;
}

#undef KV_RG_MASK
#undef KV_B_MASK
#undef KV_AVX2
#endif

struct ToI420Job {
    uint64_t width, height;
    const uint8_t* rgb;
    uint8_t *y, *u, *v;
};

void ToI420Pairs(void* ctx, uint64_t first, uint64_t count) {
    const ToI420Job& j = *static_cast<const ToI420Job*>(ctx);
    const bool vector = UseAvx2();
    for (uint64_t pair = first; pair < first + count; ++pair) {
        const uint64_t row = 2 * pair;
        const uint8_t* a = j.rgb + row * j.width * 3;
        const uint8_t* b = row + 1 < j.height ? a + j.width * 3 : nullptr;
        uint8_t* ya = j.y + row * j.width;
        uint8_t* u = j.u + pair * (j.width / 2);
        uint8_t* v = j.v + pair * (j.width / 2);
        uint64_t x = 0;
#if defined(__x86_64__)
        if (vector) x = RgbRowPairAvx2(a, b, ya, ya + j.width, u, v, j.width);
#endif
        RgbRowPairScalar(a, b, ya, ya + j.width, u, v, x, j.width);
    }
}

struct ToRgbJob {
    uint64_t width, height, picture_width, picture_height;
    const uint8_t *y, *u, *v;
    uint8_t* out;
    uint64_t y_stride, uv_stride;
};

// One row stretched from p picture pixels to w > p output pixels.
void StretchRow(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, uint64_t w, uint64_t p) {
    const uint64_t last = p - 1, chroma_last = (p + 1) / 2 - 1;
    for (uint64_t x = 0; x < w; ++x) {
        const double f = static_cast<double>(x) * static_cast<double>(p) / static_cast<double>(w);
        const uint64_t i = static_cast<uint64_t>(f);
        const double t = f - static_cast<double>(i);
        const uint64_t i1 = std::min(i + 1, last);
        const uint64_t c = i / 2, c1 = std::min(i / 2 + 1, chroma_last);
        auto mix = [t](uint8_t a, uint8_t b) {
            return static_cast<int32_t>(static_cast<uint8_t>(a * (1.0 - t) + b * t));
        };
        YuvToRgb(mix(y[i], y[i1]), mix(u[c], u[c1]), mix(v[c], v[c1]), out + 3 * x);
    }
}

void ToRgbRows(void* ctx, uint64_t first, uint64_t count) {
    const ToRgbJob& j = *static_cast<const ToRgbJob*>(ctx);
    const bool vector = UseAvx2();
    for (uint64_t row = first; row < first + count; ++row) {
        uint8_t* out = j.out + row * j.width * 3;
        if (row >= j.picture_height || j.picture_width == 0) {
            memset(out, 0, j.width * 3);
            continue;
        }
        const uint8_t* y = j.y + row * j.y_stride;
        const uint8_t* u = j.u + (row / 2) * j.uv_stride;
        const uint8_t* v = j.v + (row / 2) * j.uv_stride;
        if (j.width > j.picture_width && j.picture_width <= j.y_stride) {
            StretchRow(y, u, v, out, j.width, j.picture_width);
            continue;
        }
        // The picture's pixels up to the output width, never past the stride.
        const uint64_t n = std::min(j.width, std::min(j.picture_width, j.y_stride));
        uint64_t x = 0;
#if defined(__x86_64__)
        if (vector) x = ConvertRowAvx2(y, u, v, out, n);
#endif
        ConvertRowScalar(y, u, v, out, x, n);
        memset(out + 3 * n, 0, (j.width - n) * 3);
    }
}

}  // namespace

void rgb_to_i420(uint64_t width, uint64_t height, const uint8_t* rgb, uint8_t* y, uint8_t* u, uint8_t* v) {
    if (width == 0 || height == 0) return;
    ToI420Job job{width, height, rgb, y, u, v};
    PoolParallelFor(ToI420Pairs, &job, (height + 1) / 2);
}

void i420_to_rgb_rows(uint64_t width, uint64_t height, uint64_t picture_width, uint64_t picture_height,
                      const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, uint64_t y_stride,
                      uint64_t uv_stride) {
    if (width == 0 || height == 0) return;
    ToRgbJob job{width, height, picture_width, picture_height, y, u, v, out, y_stride, uv_stride};
    PoolParallelFor(ToRgbRows, &job, height);
}

void i420_set_vector_for_testing(int32_t enabled) { g_VectorAllowed.store(enabled ? 1 : 0); }
