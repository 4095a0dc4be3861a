// C_ImgBuff::ConvertFormat and its row converters. The four direct families
// (colour to grey, grey to colour, one step deeper, one step shallower) work
// on the pixel blocks a row at a time; every other pair goes pixel by pixel
// through the typed getters.
#include "image/format_convert.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "image/pool.h"

namespace {

// Conversions of at least this many pixels run their rows on the pool.
constexpr uint64_t kPoolConvertPixels = 4096;

const ImgConvertJob& JobOf(void* job) { return *static_cast<const ImgConvertJob*>(job); }

template <class T>
const T* SourceRow(const ImgConvertJob& j, uint64_t y) {
    return reinterpret_cast<const T*>(j.source->PixelAt(0, static_cast<int32_t>(y)));
}

template <class T>
T* DestinationRow(const ImgConvertJob& j, uint64_t y) {
    return reinterpret_cast<T*>(j.destination->PixelAt(0, static_cast<int32_t>(y)));
}

// The hot row loops get an AVX2 clone beside the baseline one, chosen once
// at load time; the arithmetic is the same in both. ThreadSanitizer cannot
// run the load-time resolver (it runs before the sanitizer is set up).
#if defined(__SANITIZE_THREAD__)
#define KV_ROW_CLONES
#else
#define KV_ROW_CLONES __attribute__((target_clones("avx2", "default")))
#endif

// Acc is wide enough for 1000 x the channel maximum: 32 bits for 8- and
// 16-bit channels (which lets the loop vectorise), 64 bits for 32-bit ones.
template <class T, class Acc>
inline __attribute__((always_inline)) void RgbToGrayRow(const T* __restrict s, T* __restrict d, int32_t w) {
    for (int32_t x = 0; x < w; ++x) {
        Acc v = Acc(299) * s[3 * x] + Acc(587) * s[3 * x + 1] + Acc(114) * s[3 * x + 2] + Acc(500);
        d[x] = static_cast<T>(v / 1000);
    }
}

template <class T>
inline __attribute__((always_inline)) void GrayToRgbRow(const T* __restrict s, T* __restrict d, int32_t w) {
    for (int32_t x = 0; x < w; ++x) d[3 * x] = d[3 * x + 1] = d[3 * x + 2] = s[x];
}

// Multiplying by 2^bits(From) + 1 (257 or 65537) repeats the value in both
// halves of the wider channel.
template <class From, class To>
inline __attribute__((always_inline)) void WidenRow(const From* __restrict s, To* __restrict d, uint64_t n) {
    constexpr To kFactor = static_cast<To>((To(1) << (8 * sizeof(From))) + 1);
    for (uint64_t i = 0; i < n; ++i) d[i] = static_cast<To>(s[i] * kFactor);
}

template <class From, class To>
inline __attribute__((always_inline)) void NarrowRow(const From* __restrict s, To* __restrict d, uint64_t n) {
    for (uint64_t i = 0; i < n; ++i) d[i] = static_cast<To>(s[i] >> (8 * sizeof(To)));
}

#if defined(__x86_64__)
// 8-bit colour to grey, 16 (SSSE3) or 32 (AVX2) pixels per step; each
// returns the number of pixels done, the plain loop finishes the row.
//
// Byte shuffles spread four pixels of a 16-byte load into the 16-bit pairs
// (R, G) and (B, 0); pmaddwd with (299, 587) and (114, 0) and the rounding
// 500 give the exact 32-bit sum x <= 255500. The division by 1000 is done as
// (x / 8) / 125: x / 8 < 32768 fits a 16-bit lane, and for every y < 32768
// y / 125 = (y * 33555) >> 22, since 33555 * 125 - 2^22 = 71 and
// 71 * 32767 < 2^22 keeps the error below one 125th.
constexpr int kGrayDivMul = 33555;
constexpr int kGrayDivShift = 22 - 16;

// The masks for pixels at bytes 0 .. 11 of a load; +4 for bytes 4 .. 15
// (the last group of a step, loaded so as not to read past the step).
#define KV_GRAY_RG_MASK(o) 0 + o, -1, 1 + o, -1, 3 + o, -1, 4 + o, -1, 6 + o, -1, 7 + o, -1, 9 + o, -1, 10 + o, -1
#define KV_GRAY_B_MASK(o) 2 + o, -1, -1, -1, 5 + o, -1, -1, -1, 8 + o, -1, -1, -1, 11 + o, -1, -1, -1
#define KV_SSSE3 __attribute__((target("ssse3"), always_inline)) inline
#define KV_AVX2 __attribute__((target("avx2"), always_inline)) inline

// x / 8 of four pixels' sums; the pixels lie at bytes o .. o + 11 of v.
template <int o>
KV_SSSE3 __m128i GraySums(__m128i v) {
    const __m128i rg = _mm_shuffle_epi8(v, _mm_setr_epi8(KV_GRAY_RG_MASK(o)));
    const __m128i b = _mm_shuffle_epi8(v, _mm_setr_epi8(KV_GRAY_B_MASK(o)));
    const __m128i x = _mm_add_epi32(_mm_madd_epi16(rg, _mm_set1_epi32(299 | (587 << 16))),
                                    _mm_madd_epi16(b, _mm_set1_epi32(114)));
    return _mm_srli_epi32(_mm_add_epi32(x, _mm_set1_epi32(500)), 3);
}

KV_SSSE3 __m128i Div125(__m128i y) {
    return _mm_srli_epi16(_mm_mulhi_epu16(y, _mm_set1_epi16(static_cast<int16_t>(kGrayDivMul))), kGrayDivShift);
}

__attribute__((target("ssse3"))) int32_t RgbToGrayRow8Ssse3(const uint8_t* s, uint8_t* d, int32_t w) {
    auto load = [&s](int k) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + k)); };
    int32_t x = 0;
    for (; x + 16 <= w; x += 16, s += 48) {
        const __m128i y01 = _mm_packs_epi32(GraySums<0>(load(0)), GraySums<0>(load(12)));
        const __m128i y23 = _mm_packs_epi32(GraySums<0>(load(24)), GraySums<4>(load(32)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + x), _mm_packus_epi16(Div125(y01), Div125(y23)));
    }
    return x;
}

// The same for pixels k .. k+3 in the low half and k+16 .. k+19 in the high
// half of a 256-bit group, so that the in-lane packs leave results in order.
template <int o>
KV_AVX2 __m256i GraySums(const uint8_t* p) {
    const __m256i v = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(p + 48), reinterpret_cast<const __m128i*>(p));
    const __m256i rg = _mm256_shuffle_epi8(v, _mm256_setr_epi8(KV_GRAY_RG_MASK(o), KV_GRAY_RG_MASK(o)));
    const __m256i b = _mm256_shuffle_epi8(v, _mm256_setr_epi8(KV_GRAY_B_MASK(o), KV_GRAY_B_MASK(o)));
    const __m256i x = _mm256_add_epi32(_mm256_madd_epi16(rg, _mm256_set1_epi32(299 | (587 << 16))),
                                       _mm256_madd_epi16(b, _mm256_set1_epi32(114)));
    return _mm256_srli_epi32(_mm256_add_epi32(x, _mm256_set1_epi32(500)), 3);
}

KV_AVX2 __m256i Div125(__m256i y) {
    return _mm256_srli_epi16(_mm256_mulhi_epu16(y, _mm256_set1_epi16(static_cast<int16_t>(kGrayDivMul))),
                             kGrayDivShift);
}

__attribute__((target("avx2"))) int32_t RgbToGrayRow8Avx2(const uint8_t* s, uint8_t* d, int32_t w) {
    int32_t x = 0;
    for (; x + 32 <= w; x += 32, s += 96) {
        const __m256i y01 = _mm256_packs_epi32(GraySums<0>(s), GraySums<0>(s + 12));
        const __m256i y23 = _mm256_packs_epi32(GraySums<0>(s + 24), GraySums<4>(s + 32));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + x), _mm256_packus_epi16(Div125(y01), Div125(y23)));
    }
    return x;
}

#undef KV_GRAY_RG_MASK
#undef KV_GRAY_B_MASK
#undef KV_SSSE3
#undef KV_AVX2
#endif

// Vector levels of the 8-bit colour-to-grey rows, chosen once from the processor.
constexpr int32_t kLevelScalar = 0, kLevelSsse3 = 1, kLevelAvx2 = 2;

int32_t BestVectorLevel() {
#if defined(__x86_64__)
    static const int32_t best = __builtin_cpu_supports("avx2")    ? kLevelAvx2
                                : __builtin_cpu_supports("ssse3") ? kLevelSsse3
                                                                  : kLevelScalar;
    return best;
#else
    return kLevelScalar;
#endif
}

std::atomic<int32_t> g_VectorLevelLimit{kLevelAvx2};

int32_t VectorLevel() { return std::min(BestVectorLevel(), g_VectorLevelLimit.load(std::memory_order_relaxed)); }

void RgbToGrayRow8(const uint8_t* s, uint8_t* d, int32_t w) {
    int32_t x = 0;
#if defined(__x86_64__)
    switch (VectorLevel()) {
    case kLevelAvx2:
        x = RgbToGrayRow8Avx2(s, d, w);
        break;
    case kLevelSsse3:
        x = RgbToGrayRow8Ssse3(s, d, w);
        break;
    default:
        break;
    }
#endif
    RgbToGrayRow<uint8_t, uint32_t>(s + 3 * x, d + x, w - x);
}

KV_ROW_CLONES void RgbToGrayRow16(const uint16_t* s, uint16_t* d, int32_t w) {
    RgbToGrayRow<uint16_t, uint32_t>(s, d, w);
}
void RgbToGrayRow32(const uint32_t* s, uint32_t* d, int32_t w) { RgbToGrayRow<uint32_t, uint64_t>(s, d, w); }
KV_ROW_CLONES void GrayToRgbRow8(const uint8_t* s, uint8_t* d, int32_t w) { GrayToRgbRow<uint8_t>(s, d, w); }
KV_ROW_CLONES void GrayToRgbRow16(const uint16_t* s, uint16_t* d, int32_t w) { GrayToRgbRow<uint16_t>(s, d, w); }
void GrayToRgbRow32(const uint32_t* s, uint32_t* d, int32_t w) { GrayToRgbRow<uint32_t>(s, d, w); }
KV_ROW_CLONES void WidenRow8(const uint8_t* s, uint16_t* d, uint64_t n) { WidenRow<uint8_t, uint16_t>(s, d, n); }
KV_ROW_CLONES void WidenRow16(const uint16_t* s, uint32_t* d, uint64_t n) { WidenRow<uint16_t, uint32_t>(s, d, n); }
KV_ROW_CLONES void NarrowRow16(const uint16_t* s, uint8_t* d, uint64_t n) { NarrowRow<uint16_t, uint8_t>(s, d, n); }
KV_ROW_CLONES void NarrowRow32(const uint32_t* s, uint16_t* d, uint64_t n) { NarrowRow<uint32_t, uint16_t>(s, d, n); }

// Runs a row function over rows first .. first + rows - 1 of the job; n is
// the row function's length argument (pixels or channel values per row).
template <class From, class To, class N>
void EachRow(const ImgConvertJob& j, uint64_t first, uint64_t rows, void (*row)(const From*, To*, N), N n) {
    for (uint64_t y = first; y < first + rows; ++y) row(SourceRow<From>(j, y), DestinationRow<To>(j, y), n);
}

int ChannelsOf(int32_t format) { return format <= kImgGray32 ? 1 : 3; }

PoolWorkerFn ChooseConverter(int32_t from, int32_t to) {
    struct Pair {
        int32_t from, to;
        PoolWorkerFn fn;
    };
    static const Pair kPairs[] = {
        {kImgRgb8, kImgGray8, ImgRowRgbToGray},     {kImgRgb16, kImgGray16, ImgRowRgbToGray},
        {kImgRgb32, kImgGray32, ImgRowRgbToGray},   {kImgGray8, kImgRgb8, ImgRowGrayToRgb},
        {kImgGray16, kImgRgb16, ImgRowGrayToRgb},   {kImgGray32, kImgRgb32, ImgRowGrayToRgb},
        {kImgGray8, kImgGray16, ImgRowWidenDepth},  {kImgGray16, kImgGray32, ImgRowWidenDepth},
        {kImgRgb8, kImgRgb16, ImgRowWidenDepth},    {kImgRgb16, kImgRgb32, ImgRowWidenDepth},
        {kImgGray32, kImgGray16, ImgRowNarrowDepth}, {kImgGray16, kImgGray8, ImgRowNarrowDepth},
        {kImgRgb32, kImgRgb16, ImgRowNarrowDepth},  {kImgRgb16, kImgRgb8, ImgRowNarrowDepth},
    };
    for (const Pair& p : kPairs) {
        if (p.from == from && p.to == to) return p.fn;
    }
    return ImgRowConvertGeneric;
}

}  // namespace

void ImgRowRgbToGray(void* job, uint64_t first, uint64_t rows) {
    const ImgConvertJob& j = JobOf(job);
    if (ImgFormatIn(ImgFormat16BitMask, j.source->format)) {
        ImgRowRgb16ToGray16(job, first, rows);
    } else if (j.source->format == kImgRgb32) {
        ImgRowRgb32ToGray32(job, first, rows);
    } else {
        EachRow(j, first, rows, RgbToGrayRow8, j.width);
    }
}

void ImgRowRgb16ToGray16(void* job, uint64_t first, uint64_t rows) {
    const ImgConvertJob& j = JobOf(job);
    EachRow(j, first, rows, RgbToGrayRow16, j.width);
}

void ImgRowRgb32ToGray32(void* job, uint64_t first, uint64_t rows) {
    const ImgConvertJob& j = JobOf(job);
    EachRow(j, first, rows, RgbToGrayRow32, j.width);
}

void ImgRowGrayToRgb(void* job, uint64_t first, uint64_t rows) {
    const ImgConvertJob& j = JobOf(job);
    switch (j.source->format) {
    case kImgGray8:
        EachRow(j, first, rows, GrayToRgbRow8, j.width);
        break;
    case kImgGray16:
        EachRow(j, first, rows, GrayToRgbRow16, j.width);
        break;
    default:
        EachRow(j, first, rows, GrayToRgbRow32, j.width);
        break;
    }
}

void ImgRowWidenDepth(void* job, uint64_t first, uint64_t rows) {
    const ImgConvertJob& j = JobOf(job);
    uint64_t n = static_cast<uint64_t>(j.width) * ChannelsOf(j.source->format);
    if (ImgFormatIn(ImgFormat8BitMask, j.source->format)) {
        EachRow(j, first, rows, WidenRow8, n);
    } else {
        EachRow(j, first, rows, WidenRow16, n);
    }
}

void ImgRowNarrowDepth(void* job, uint64_t first, uint64_t rows) {
    const ImgConvertJob& j = JobOf(job);
    uint64_t n = static_cast<uint64_t>(j.width) * ChannelsOf(j.source->format);
    if (ImgFormatIn(ImgFormat16BitMask, j.source->format)) {
        EachRow(j, first, rows, NarrowRow16, n);
    } else {
        EachRow(j, first, rows, NarrowRow32, n);
    }
}

namespace {

// Calls store(x, y, destination pixel) for every pixel of the rows.
template <class F>
void EachPixel(const ImgConvertJob& j, uint64_t first, uint64_t rows, F store) {
    for (uint64_t row = first; row < first + rows; ++row) {
        int32_t y = static_cast<int32_t>(row);
        for (int32_t x = 0; x < j.width; ++x) store(x, y, j.destination->PixelAt(x, y));
    }
}

// Stores the channel values as they lie in a pixel of their type.
template <class T, size_t N>
void Put(uint8_t* d, const T (&v)[N]) {
    std::memcpy(d, v, sizeof v);
}

}  // namespace

void ImgRowConvertGeneric(void* job, uint64_t first, uint64_t rows) {
    const ImgConvertJob& j = JobOf(job);
    const C_ImgBuff* s = j.source;
    switch (j.targetFormat) {
    case kImgGray8:
        EachPixel(j, first, rows, [s](int32_t x, int32_t y, uint8_t* d) { s->GetPixelGray8(x, y, d); });
        break;
    case kImgGray16:
        EachPixel(j, first, rows, [s](int32_t x, int32_t y, uint8_t* d) {
            uint16_t v[1];
            s->GetPixelGray16(x, y, &v[0]);
            Put(d, v);
        });
        break;
    case kImgGray32:
        EachPixel(j, first, rows, [s](int32_t x, int32_t y, uint8_t* d) {
            uint32_t v[1];
            s->GetPixelGray32(x, y, &v[0]);
            Put(d, v);
        });
        break;
    case kImgRgb8:
        EachPixel(j, first, rows, [s](int32_t x, int32_t y, uint8_t* d) { s->GetPixelRgb8(x, y, d, d + 1, d + 2); });
        break;
    case kImgRgb16:
        EachPixel(j, first, rows, [s](int32_t x, int32_t y, uint8_t* d) {
            uint16_t v[3];
            s->GetPixelRgb16(x, y, &v[0], &v[1], &v[2]);
            Put(d, v);
        });
        break;
    case kImgRgb32:
        EachPixel(j, first, rows, [s](int32_t x, int32_t y, uint8_t* d) {
            uint32_t v[3];
            s->GetPixelRgb32(x, y, &v[0], &v[1], &v[2]);
            Put(d, v);
        });
        break;
    case kImgXyz:
        EachPixel(j, first, rows, [s](int32_t x, int32_t y, uint8_t* d) {
            double v[3];
            s->GetPixelXyz(x, y, &v[0], &v[1], &v[2]);
            Put(d, v);
        });
        break;
    case kImgHsv16:
        EachPixel(j, first, rows, [s](int32_t x, int32_t y, uint8_t* d) {
            uint16_t v[3];
            s->GetPixelHsv16(x, y, &v[0], &v[1], &v[2]);
            Put(d, v);
        });
        break;
    default:  // kImgCmyk8
        EachPixel(j, first, rows,
                  [s](int32_t x, int32_t y, uint8_t* d) { s->GetPixelCmyk8(x, y, d, d + 1, d + 2, d + 3); });
        break;
    }
}

int32_t ImgConvertLimitVectorLevelForTesting(int32_t level) {
    g_VectorLevelLimit.store(std::clamp(level, kLevelScalar, kLevelAvx2), std::memory_order_relaxed);
    return VectorLevel();
}

int32_t C_ImgBuff::ConvertFormat(uint32_t target) {
    if (!ImgFormatValid(format) || !pixels) return 0;
    if (target == static_cast<uint32_t>(format)) return 1;
    if (target < 1 || target > 9) return 0;
    // Every converter writes every byte of its rows, so the new block needs
    // no clearing first.
    C_ImgBuff converted;
    converted.pixels = ImgAllocPixelsUncleared(static_cast<uint64_t>(width) * static_cast<uint64_t>(height),
                                               static_cast<uint64_t>(g_ImgFormatBytes[target]));
    if (!converted.pixels) return 0;
    converted.format = static_cast<int32_t>(target);
    converted.width = width;
    converted.height = height;
    ImgConvertJob job{target, this, &converted, width};
    PoolWorkerFn fn = ChooseConverter(format, static_cast<int32_t>(target));
    if (static_cast<uint64_t>(width) * static_cast<uint64_t>(height) >= kPoolConvertPixels) {
        PoolParallelFor(fn, &job, static_cast<uint64_t>(height));
    } else {
        fn(&job, 0, static_cast<uint64_t>(height));
    }
    TakePixels(&converted);
    return 1;
}
