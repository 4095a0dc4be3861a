#include "image/kernels/template_match.h"

#include <immintrin.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "image/kernels/image_compare.h"
#include "image/kernels/image_shift.h"
#include "image/kernels/kernel_frame.h"
#include "image/kernels/rotate_scale.h"
#include "image/pool.h"

// The scan scores positions from integer sums over byte samples, which the
// difference score of ImgCompareImages reproduces to the bit and the
// correlation score to its last bits: |a - b| summed for the difference,
// and the sums of a, a^2, b, b^2 and ab for the correlation. The sums over
// the template run on whole rows with vector instructions, several
// positions at a time so that each template row is loaded once for all.

namespace {

enum : int32_t { kLevelScalar = 0, kLevelAvx2 = 1, kLevelAvx512 = 2 };

std::atomic<int32_t> g_matchLimit{kLevelAvx512};

int32_t DetectLevel() {
    static const int32_t best = __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") ? kLevelAvx512
                                : __builtin_cpu_supports("avx2")                                             ? kLevelAvx2
                                                                                                             : kLevelScalar;
    return best;
}

int32_t VectorLevel() { return std::min(DetectLevel(), g_matchLimit.load()); }

bool HaveVnni() {
    static const bool have = __builtin_cpu_supports("avx512vnni");
    return have;
}

// ---- sums over template rows ----------------------------------------------

// GCC 12's AVX-512 headers fill unused lanes from a variable initialised
// by itself, which -Wuninitialized reports where the intrinsics inline.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
//
// h rows of L bytes; the window's rows aStride apart; K positions `step`
// bytes apart from `a`. The template's rows come in the layout its kernel
// family wants (below).

template <int K>
void SadScalar(const uint8_t* a, int64_t aStride, int32_t step, const uint8_t* b, int32_t L, int32_t h, uint64_t* out) {
    for (int k = 0; k < K; ++k) {
        const uint8_t* ar = a + k * step;
        const uint8_t* br = b;
        uint64_t sum = 0;
        for (int32_t j = 0; j < h; ++j, ar += aStride, br += L) {
            uint32_t row = 0;
            for (int32_t i = 0; i < L; ++i) row += static_cast<uint32_t>(std::abs(int32_t{ar[i]} - int32_t{br[i]}));
            sum += row;
        }
        out[k] = sum;
    }
}

template <int K>
void DotScalar(const uint8_t* a, int64_t aStride, int32_t step, const uint8_t* b, int32_t L, int32_t h, int64_t* out) {
    for (int k = 0; k < K; ++k) {
        const uint8_t* ar = a + k * step;
        const uint8_t* br = b;
        uint64_t sum = 0;
        for (int32_t j = 0; j < h; ++j, ar += aStride, br += L)
            for (int32_t i = 0; i < L; ++i) sum += uint32_t{ar[i]} * uint32_t{br[i]};
        out[k] = static_cast<int64_t>(sum);
    }
}

// The kernels keep one accumulator per position in a named register: an
// array of them would be kept in memory (it is split into registers only
// before its loops are unrolled).
#define KV_EACH8(X) X(0) X(1) X(2) X(3) X(4) X(5) X(6) X(7)

// AVX2, rows of 32 bytes or more, template rows plain: 32-byte pieces, the
// last one ending at the row's end with the bytes that earlier pieces
// counted masked off on both sides.
template <int K>
__attribute__((target("avx2"))) void SadAvx2(const uint8_t* a, int64_t aStride, int32_t step, const uint8_t* b, int32_t L, int32_t h,
                                             uint64_t* out) {
    static_assert(K <= 8);
    const int32_t full = L & ~31, t = L - 32;
    const bool tail = (L & 31) != 0;
    alignas(32) uint8_t m[32];
    for (int32_t i = 0; i < 32; ++i) m[i] = i >= 32 - (L & 31) ? 0xFF : 0;
    const __m256i mask = _mm256_load_si256(reinterpret_cast<const __m256i*>(m));
#define KV_DECL(k) __m256i s##k = _mm256_setzero_si256();
    KV_EACH8(KV_DECL)
#undef KV_DECL
    for (int32_t j = 0; j < h; ++j, a += aStride, b += L) {
        for (int32_t i = 0; i < full; i += 32) {
            const __m256i bv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i));
#define KV_STEP(k) \
    if constexpr (K > k) s##k = _mm256_add_epi64(s##k, _mm256_sad_epu8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + k * step + i)), bv));
            KV_EACH8(KV_STEP)
#undef KV_STEP
        }
        if (tail) {
            const __m256i bv = _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + t)), mask);
#define KV_STEP(k)                                                                                                          \
    if constexpr (K > k)                                                                                                    \
        s##k = _mm256_add_epi64(                                                                                            \
            s##k, _mm256_sad_epu8(_mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + k * step + t)), mask), bv));
            KV_EACH8(KV_STEP)
#undef KV_STEP
        }
    }
#define KV_OUT(k)                                                        \
    if constexpr (K > k) {                                               \
        alignas(32) uint64_t v[4];                                       \
        _mm256_store_si256(reinterpret_cast<__m256i*>(v), s##k);         \
        out[k] = v[0] + v[1] + v[2] + v[3];                              \
    }
    KV_EACH8(KV_OUT)
#undef KV_OUT
}

// AVX2 products, rows of 16 bytes or more, template rows widened to 16
// bits: 16 samples a step. A 32-bit lane gains at most 2 x 255 x 255 a
// step, so the lanes are emptied into 64 bits before they could overflow.
template <int K>
__attribute__((target("avx2"))) void DotAvx2(const uint8_t* a, int64_t aStride, int32_t step, const int16_t* b, int32_t L, int32_t h,
                                             int64_t* out) {
    static_assert(K <= 8);
    const int32_t full = L & ~15, t = L - 16;
    const bool tail = (L & 15) != 0;
    alignas(32) int16_t m[16];
    for (int32_t i = 0; i < 16; ++i) m[i] = i >= 16 - (L & 15) ? -1 : 0;
    const __m256i mask = _mm256_load_si256(reinterpret_cast<const __m256i*>(m));
    const int64_t steps = (L + 15) / 16;
    const int32_t rowsPerFlush = static_cast<int32_t>(std::max<int64_t>(1, 2147483647 / (8 * 2 * 65025 * steps)));
    int64_t total[8] = {};
    for (int32_t j0 = 0; j0 < h; j0 += rowsPerFlush) {
        const int32_t j1 = std::min(h, j0 + rowsPerFlush);
#define KV_DECL(k) __m256i s##k = _mm256_setzero_si256();
        KV_EACH8(KV_DECL)
#undef KV_DECL
        for (int32_t j = j0; j < j1; ++j) {
            const uint8_t* ar = a + j * aStride;
            const int16_t* br = b + static_cast<int64_t>(j) * L;
#define KV_STEP(k)                                                                                                                 \
    if constexpr (K > k)                                                                                                           \
        s##k = _mm256_add_epi32(                                                                                                   \
            s##k, _mm256_madd_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(ar + k * step + i))), bv));
            for (int32_t i = 0; i < full; i += 16) {
                const __m256i bv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(br + i));
                KV_EACH8(KV_STEP)
            }
            if (tail) {
                const int32_t i = t;
                const __m256i bv = _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(br + t)), mask);
                KV_EACH8(KV_STEP)
            }
#undef KV_STEP
        }
#define KV_FLUSH(k)                                                      \
    if constexpr (K > k) {                                               \
        alignas(32) int32_t v[8];                                        \
        _mm256_store_si256(reinterpret_cast<__m256i*>(v), s##k);         \
        for (int q = 0; q < 8; ++q) total[k] += v[q];                    \
    }
        KV_EACH8(KV_FLUSH)
#undef KV_FLUSH
    }
    for (int k = 0; k < K; ++k) out[k] = total[k];
}

// Lane sums without the reduction intrinsics (whose helpers make GCC 12
// warn).
__attribute__((target("avx512f,avx512bw,avx512vl"))) inline int64_t SumLanes64(__m512i v) {
    const __m256i t = _mm256_add_epi64(_mm512_castsi512_si256(v), _mm512_castsi512_si256(_mm512_shuffle_i64x2(v, v, 0xEE)));
    const __m128i u = _mm_add_epi64(_mm256_castsi256_si128(t), _mm256_extracti128_si256(t, 1));
    return _mm_cvtsi128_si64(u) + _mm_extract_epi64(u, 1);
}
__attribute__((target("avx512f,avx512bw,avx512vl"))) inline int64_t SumLanes32(__m512i v) {
    return SumLanes64(_mm512_add_epi64(_mm512_cvtepi32_epi64(_mm512_castsi512_si256(v)),
                                       _mm512_cvtepi32_epi64(_mm512_castsi512_si256(_mm512_shuffle_i64x2(v, v, 0xEE)))));
}

// Two rows of at most 32 bytes in one register, each masked to L bytes.
#define KV_ROW_PAIR(p) \
    _mm512_inserti64x4(_mm512_castsi256_si512(_mm256_maskz_loadu_epi8(m, (p))), _mm256_maskz_loadu_epi8(m, (p) + aStride), 1)

// AVX-512, rows of at most 32 bytes: two rows to a register. The template's
// rows come packed in pairs of 32-byte halves, zero-padded.
template <int K>
__attribute__((target("avx512f,avx512bw,avx512vl"))) void SadShort512(const uint8_t* a, int64_t aStride, int32_t step,
                                                                      const uint8_t* pairs, int32_t L, int32_t h, uint64_t* out) {
    static_assert(K <= 8);
    const __mmask32 m = static_cast<__mmask32>(L >= 32 ? ~0u : (1u << L) - 1);
#define KV_DECL(k) __m512i s##k = _mm512_setzero_si512();
    KV_EACH8(KV_DECL)
#undef KV_DECL
    int32_t j = 0;
    for (; j + 1 < h; j += 2, a += 2 * aStride, pairs += 64) {
        const __m512i bv = _mm512_loadu_si512(pairs);
#define KV_STEP(k) if constexpr (K > k) s##k = _mm512_add_epi64(s##k, _mm512_sad_epu8(KV_ROW_PAIR(a + k * step), bv));
        KV_EACH8(KV_STEP)
#undef KV_STEP
    }
    if (j < h) {
        const __m256i bv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pairs));
#define KV_STEP(k) \
    if constexpr (K > k) s##k = _mm512_add_epi64(s##k, _mm512_zextsi256_si512(_mm256_sad_epu8(_mm256_maskz_loadu_epi8(m, a + k * step), bv)));
        KV_EACH8(KV_STEP)
#undef KV_STEP
    }
#define KV_OUT(k) if constexpr (K > k) out[k] = static_cast<uint64_t>(SumLanes64(s##k));
    KV_EACH8(KV_OUT)
#undef KV_OUT
}

// AVX-512, longer rows: 64-byte pieces and a masked last piece; template
// rows plain.
template <int K>
__attribute__((target("avx512f,avx512bw,avx512vl"))) void SadLong512(const uint8_t* a, int64_t aStride, int32_t step, const uint8_t* b,
                                                                     int32_t L, int32_t h, uint64_t* out) {
    static_assert(K <= 8);
    const int32_t full = L & ~63;
    const __mmask64 tail = (L & 63) ? (~0ull >> (64 - (L & 63))) : 0;
#define KV_DECL(k) __m512i s##k = _mm512_setzero_si512();
    KV_EACH8(KV_DECL)
#undef KV_DECL
    for (int32_t j = 0; j < h; ++j, a += aStride, b += L) {
        for (int32_t i = 0; i < full; i += 64) {
            const __m512i bv = _mm512_loadu_si512(b + i);
#define KV_STEP(k) if constexpr (K > k) s##k = _mm512_add_epi64(s##k, _mm512_sad_epu8(_mm512_loadu_si512(a + k * step + i), bv));
            KV_EACH8(KV_STEP)
#undef KV_STEP
        }
        if (tail) {
            const __m512i bv = _mm512_maskz_loadu_epi8(tail, b + full);
#define KV_STEP(k) \
    if constexpr (K > k) s##k = _mm512_add_epi64(s##k, _mm512_sad_epu8(_mm512_maskz_loadu_epi8(tail, a + k * step + full), bv));
            KV_EACH8(KV_STEP)
#undef KV_STEP
        }
    }
#define KV_OUT(k) if constexpr (K > k) out[k] = static_cast<uint64_t>(SumLanes64(s##k));
    KV_EACH8(KV_OUT)
#undef KV_OUT
}

// Products of the unsigned window samples with the template samples less
// 128 as signed bytes: sum a (b - 128), to which the caller adds 128 sum a.
// A 32-bit lane gains at most 4 x 255 x 128 a step; lanes are emptied
// before 16 of them could overflow when added.
constexpr int64_t kVnniStepGain = 4 * 255 * 128;

template <int K>
__attribute__((target("avx512f,avx512bw,avx512vl,avx512vnni"))) void DotShortVnni(const uint8_t* a, int64_t aStride, int32_t step,
                                                                                  const uint8_t* pairs, int32_t L, int32_t h,
                                                                                  int64_t* out) {
    static_assert(K <= 8);
    const __mmask32 m = static_cast<__mmask32>(L >= 32 ? ~0u : (1u << L) - 1);
    const int32_t pairsPerFlush = static_cast<int32_t>(2147483647 / (16 * kVnniStepGain));
    int64_t total[8] = {};
    int32_t j = 0;
    while (j < h) {
#define KV_DECL(k) __m512i s##k = _mm512_setzero_si512();
        KV_EACH8(KV_DECL)
#undef KV_DECL
        for (int32_t done = 0; j + 1 < h && done < pairsPerFlush; ++done, j += 2, pairs += 64) {
            const __m512i bv = _mm512_loadu_si512(pairs);
            const uint8_t* ar = a + static_cast<int64_t>(j) * aStride;
#define KV_STEP(k) if constexpr (K > k) s##k = _mm512_dpbusd_epi32(s##k, KV_ROW_PAIR(ar + k * step), bv);
            KV_EACH8(KV_STEP)
#undef KV_STEP
        }
        if (j + 1 == h) {
            const __m512i bv = _mm512_zextsi256_si512(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(pairs)));
            const uint8_t* ar = a + static_cast<int64_t>(j) * aStride;
#define KV_STEP(k) \
    if constexpr (K > k) s##k = _mm512_dpbusd_epi32(s##k, _mm512_zextsi256_si512(_mm256_maskz_loadu_epi8(m, ar + k * step)), bv);
            KV_EACH8(KV_STEP)
#undef KV_STEP
            ++j;
        }
#define KV_FLUSH(k) if constexpr (K > k) total[k] += SumLanes32(s##k);
        KV_EACH8(KV_FLUSH)
#undef KV_FLUSH
    }
    for (int k = 0; k < K; ++k) out[k] = total[k];
}

template <int K>
__attribute__((target("avx512f,avx512bw,avx512vl,avx512vnni"))) void DotLongVnni(const uint8_t* a, int64_t aStride, int32_t step,
                                                                                 const uint8_t* b, int32_t L, int32_t h, int64_t* out) {
    static_assert(K <= 8);
    const int32_t full = L & ~63;
    const __mmask64 tail = (L & 63) ? (~0ull >> (64 - (L & 63))) : 0;
    const int64_t steps = (L + 63) / 64;
    const int32_t rowsPerFlush = static_cast<int32_t>(std::max<int64_t>(1, 2147483647 / (16 * kVnniStepGain * steps)));
    int64_t total[8] = {};
    for (int32_t j0 = 0; j0 < h; j0 += rowsPerFlush) {
        const int32_t j1 = std::min(h, j0 + rowsPerFlush);
#define KV_DECL(k) __m512i s##k = _mm512_setzero_si512();
        KV_EACH8(KV_DECL)
#undef KV_DECL
        for (int32_t j = j0; j < j1; ++j) {
            const uint8_t* ar = a + j * aStride;
            const uint8_t* br = b + static_cast<int64_t>(j) * L;
            for (int32_t i = 0; i < full; i += 64) {
                const __m512i bv = _mm512_loadu_si512(br + i);
#define KV_STEP(k) if constexpr (K > k) s##k = _mm512_dpbusd_epi32(s##k, _mm512_loadu_si512(ar + k * step + i), bv);
                KV_EACH8(KV_STEP)
#undef KV_STEP
            }
            if (tail) {
                const __m512i bv = _mm512_maskz_loadu_epi8(tail, br + full);
#define KV_STEP(k) if constexpr (K > k) s##k = _mm512_dpbusd_epi32(s##k, _mm512_maskz_loadu_epi8(tail, ar + k * step + full), bv);
                KV_EACH8(KV_STEP)
#undef KV_STEP
            }
        }
#define KV_FLUSH(k) if constexpr (K > k) total[k] += SumLanes32(s##k);
        KV_EACH8(KV_FLUSH)
#undef KV_FLUSH
    }
    for (int k = 0; k < K; ++k) out[k] = total[k];
}

#undef KV_ROW_PAIR
#undef KV_EACH8

#pragma GCC diagnostic pop

// Which kernels a scan runs.
enum class SadKind { kScalar, kAvx2, kShort512, kLong512 };
enum class DotKind { kScalar, kAvx2, kShortVnni, kLongVnni };

}  // namespace

int32_t ImgMatchLimitVectorLevelForTesting(int32_t level) {
    g_matchLimit.store(std::clamp(level, 0, 2));
    return VectorLevel();
}

// The samples of one scan: the window's samples (one or three bytes per
// pixel, the window's top-left position at `a`) and the template's in the
// layouts its kernels read.
struct MatchSamples {
    const uint8_t* a = nullptr;
    int64_t aStride = 0;
    int32_t channels = 1;
    int32_t L = 0;            // template row in bytes
    int32_t h = 0;            // template rows
    int32_t regionWidth = 0;  // window columns + template width - 1, in pixels
    int64_t n = 0;            // samples per position
    int32_t method = 0;
    const uint8_t* b = nullptr;  // template rows, L bytes each
    std::unique_ptr<uint8_t[]> ownA, ownB;
    SadKind sad = SadKind::kScalar;
    DotKind dot = DotKind::kScalar;
    int32_t group = 1;                   // positions the kernels take at once
    std::unique_ptr<uint8_t[]> packed;   // the template for the AVX-512 kernels
    std::unique_ptr<int16_t[]> wide;     // the template for the AVX2 products
    uint64_t sumB = 0, squaresB = 0;
    double rootSquaresB = 0.0;

    // Sums |a - b| of K positions from `at`.
    template <int K>
    void Differences(const uint8_t* at, uint64_t* out) const {
        switch (sad) {
            case SadKind::kShort512: return SadShort512<K>(at, aStride, channels, packed.get(), L, h, out);
            case SadKind::kLong512: return SadLong512<K>(at, aStride, channels, b, L, h, out);
            case SadKind::kAvx2: return SadAvx2<K>(at, aStride, channels, b, L, h, out);
            default: return SadScalar<K>(at, aStride, channels, b, L, h, out);
        }
    }
    // Sums a b of K positions from `at`, given their sums of a.
    template <int K>
    void Products(const uint8_t* at, const uint64_t* sumA, uint64_t* out) const {
        int64_t d[K];
        switch (dot) {
            case DotKind::kShortVnni: DotShortVnni<K>(at, aStride, channels, packed.get(), L, h, d); break;
            case DotKind::kLongVnni: DotLongVnni<K>(at, aStride, channels, packed.get(), L, h, d); break;
            case DotKind::kAvx2: DotAvx2<K>(at, aStride, channels, wide.get(), L, h, d); break;
            default: DotScalar<K>(at, aStride, channels, b, L, h, d); break;
        }
        const int64_t bias = dot == DotKind::kShortVnni || dot == DotKind::kLongVnni ? 128 : 0;
        for (int k = 0; k < K; ++k) out[k] = static_cast<uint64_t>(d[k] + bias * static_cast<int64_t>(sumA[k]));
    }
    void Differences(const uint8_t* at, int32_t count, uint64_t* out) const {
        if (count == 8) return Differences<8>(at, out);
        if (count == 4) return Differences<4>(at, out);
        for (int32_t k = 0; k < count; ++k) Differences<1>(at + k * channels, out + k);
    }
    void Products(const uint8_t* at, int32_t count, const uint64_t* sumA, uint64_t* out) const {
        if (count == 8) return Products<8>(at, sumA, out);
        if (count == 4) return Products<4>(at, sumA, out);
        for (int32_t k = 0; k < count; ++k) Products<1>(at + k * channels, sumA + k, out + k);
    }
};

namespace {

// Column sums of grey samples: `rows` rows of n samples from p (rows
// `stride` apart), their sums and sums of squares per column added to or
// taken from colS and colQ. The vector kernel sums up to 65536 rows in
// 32-bit lanes (65536 x 255^2 < 2^32) before touching the 64-bit columns.
void ColumnSumsGray(const uint8_t* p, int64_t stride, int64_t rows, int64_t n, uint64_t* colS, uint64_t* colQ, bool add) {
    for (int64_t r = 0; r < rows; ++r, p += stride)
        for (int64_t x = 0; x < n; ++x) {
            const uint32_t v = p[x];
            if (add) {
                colS[x] += v;
                colQ[x] += v * v;
            } else {
                colS[x] -= v;
                colQ[x] -= v * v;
            }
        }
}
__attribute__((target("avx2"))) void ColumnSumsGrayAvx2(const uint8_t* p, int64_t stride, int64_t rows, int64_t n, uint64_t* colS,
                                                         uint64_t* colQ, bool add) {
    int64_t x = 0;
    for (; x + 16 <= n; x += 16)
        for (int64_t r0 = 0; r0 < rows; r0 += 65536) {
            const int64_t r1 = std::min(rows, r0 + 65536);
            __m256i s0 = _mm256_setzero_si256(), s1 = _mm256_setzero_si256(), q0 = _mm256_setzero_si256(), q1 = _mm256_setzero_si256();
            const uint8_t* q = p + r0 * stride + x;
            for (int64_t r = r0; r < r1; ++r, q += stride) {
                const __m256i v = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)));
                const __m256i sq = _mm256_mullo_epi16(v, v);  // at most 255^2: exact in 16 bits
                s0 = _mm256_add_epi32(s0, _mm256_cvtepu16_epi32(_mm256_castsi256_si128(v)));
                s1 = _mm256_add_epi32(s1, _mm256_cvtepu16_epi32(_mm256_extracti128_si256(v, 1)));
                q0 = _mm256_add_epi32(q0, _mm256_cvtepu16_epi32(_mm256_castsi256_si128(sq)));
                q1 = _mm256_add_epi32(q1, _mm256_cvtepu16_epi32(_mm256_extracti128_si256(sq, 1)));
            }
            alignas(32) uint32_t ts[16], tq[16];
            _mm256_store_si256(reinterpret_cast<__m256i*>(ts), s0);
            _mm256_store_si256(reinterpret_cast<__m256i*>(ts + 8), s1);
            _mm256_store_si256(reinterpret_cast<__m256i*>(tq), q0);
            _mm256_store_si256(reinterpret_cast<__m256i*>(tq + 8), q1);
            for (int k = 0; k < 16; ++k) {
                if (add) {
                    colS[x + k] += ts[k];
                    colQ[x + k] += tq[k];
                } else {
                    colS[x + k] -= ts[k];
                    colQ[x + k] -= tq[k];
                }
            }
        }
    if (x < n) ColumnSumsGray(p + x, stride, rows, n - x, colS + x, colQ + x, add);
}

// Sum and sum of squares of n bytes.
void ByteSums(const uint8_t* p, int64_t n, uint64_t* sum, uint64_t* squares) {
    uint64_t t = 0, q = 0;
    for (int64_t i = 0; i < n; ++i) {
        t += p[i];
        q += uint32_t{p[i]} * p[i];
    }
    *sum = t;
    *squares = q;
}
__attribute__((target("avx2"))) void ByteSumsAvx2(const uint8_t* p, int64_t n, uint64_t* sum, uint64_t* squares) {
    // A 32-bit lane of the squares gains at most 2 x 255^2 a step: emptied
    // every 16384 steps.
    uint64_t t = 0, q = 0;
    int64_t i = 0;
    while (i + 16 <= n) {
        const int64_t end = std::min(n & ~int64_t{15}, i + 16 * 16384);
        __m128i vt = _mm_setzero_si128();
        __m256i vq = _mm256_setzero_si256();
        for (; i < end; i += 16) {
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            const __m256i v = _mm256_cvtepu8_epi16(b);
            vt = _mm_add_epi64(vt, _mm_sad_epu8(b, _mm_setzero_si128()));
            vq = _mm256_add_epi32(vq, _mm256_madd_epi16(v, v));
        }
        alignas(16) uint64_t st[2];
        alignas(32) uint32_t sq[8];
        _mm_store_si128(reinterpret_cast<__m128i*>(st), vt);
        _mm256_store_si256(reinterpret_cast<__m256i*>(sq), vq);
        t += st[0] + st[1];
        for (int k = 0; k < 8; ++k) q += sq[k];
    }
    uint64_t rt = 0, rq = 0;
    ByteSums(p + i, n - i, &rt, &rq);
    *sum = t + rt;
    *squares = q + rq;
}

using u128 = unsigned __int128;

// Squared distance, exact for any two int32 points.
u128 SquaredDistance(int32_t x, int32_t y, int32_t rx, int32_t ry) {
    const int64_t dx = int64_t{x} - rx, dy = int64_t{y} - ry;
    const uint64_t ax = static_cast<uint64_t>(dx < 0 ? -dx : dx), ay = static_cast<uint64_t>(dy < 0 ? -dy : dy);
    return static_cast<u128>(ax) * ax + static_cast<u128>(ay) * ay;
}

struct Candidate {
    bool found = false;
    int32_t x = 0, y = 0;
    double score = 0.0;
    u128 distance = 0;
};

// Whether c beats the best so far: lower score, then nearer, then earlier
// in row-major order (which makes the result independent of how the rows
// were split over the pool).
bool Beats(const Candidate& c, const Candidate& best) {
    if (!best.found) return true;
    if (c.score != best.score) return c.score < best.score;
    if (c.distance != best.distance) return c.distance < best.distance;
    return c.y < best.y || (c.y == best.y && c.x < best.x);
}

// Sums of the samples and of their squares over the template-sized area at
// every position of one position row, kept up to date from row to row by
// column sums.
class WindowSums {
public:
    bool Init(const MatchSamples& s) {
        width_ = s.regionWidth;
        block_.reset(new (std::nothrow) uint64_t[static_cast<size_t>(4 * width_ + 2)]);
        return block_ != nullptr;
    }
    void Row(const MatchSamples& s, int64_t r) {
        uint64_t* colS = block_.get();
        uint64_t* colQ = colS + width_;
        if (last_ < 0 || r != last_ + 1) {
            std::fill(colS, colS + 2 * width_, 0);
            AddRows(s, r, s.h, true);
        } else {
            AddRows(s, r - 1, 1, false);
            AddRows(s, r + s.h - 1, 1, true);
        }
        last_ = r;
        uint64_t* ps = colQ + width_;
        uint64_t* pq = ps + width_ + 1;
        // Running totals in registers (the stores could alias the columns).
        uint64_t ts = 0, tq = 0;
        ps[0] = pq[0] = 0;
        for (int64_t x = 0; x < width_; ++x) {
            ts += colS[x];
            tq += colQ[x];
            ps[x + 1] = ts;
            pq[x + 1] = tq;
        }
    }
    // Position p of the row (0 = the window's first column).
    uint64_t Sum(int64_t p, int64_t w) const { return Prefix(0)[p + w] - Prefix(0)[p]; }
    uint64_t Squares(int64_t p, int64_t w) const { return Prefix(1)[p + w] - Prefix(1)[p]; }

private:
    const uint64_t* Prefix(int which) const { return block_.get() + 2 * width_ + which * (width_ + 1); }
    void AddRows(const MatchSamples& s, int64_t r, int64_t count, bool add) {
        uint64_t* colS = block_.get();
        uint64_t* colQ = colS + width_;
        if (s.channels == 1) {
            if (VectorLevel() >= kLevelAvx2) ColumnSumsGrayAvx2(s.a + r * s.aStride, s.aStride, count, width_, colS, colQ, add);
            else ColumnSumsGray(s.a + r * s.aStride, s.aStride, count, width_, colS, colQ, add);
            return;
        }
        for (int64_t j = 0; j < count; ++j) AddRow(s, r + j, add);
    }
    void AddRow(const MatchSamples& s, int64_t r, bool add) {
        uint64_t* colS = block_.get();
        uint64_t* colQ = colS + width_;
        const uint8_t* p = s.a + r * s.aStride;
        for (int64_t x = 0; x < width_; ++x, p += s.channels) {
            uint32_t t = 0, q = 0;
            for (int32_t c = 0; c < s.channels; ++c) {
                t += p[c];
                q += uint32_t{p[c]} * p[c];
            }
            if (add) {
                colS[x] += t;
                colQ[x] += q;
            } else {
                colS[x] -= t;
                colQ[x] -= q;
            }
        }
    }
    std::unique_ptr<uint64_t[]> block_;
    int64_t width_ = 0;
    int64_t last_ = -1;
};

bool HasPixels(const CImgBuff* h) { return h && h->buffer && ImgFormatValid(h->buffer->format) && h->buffer->pixels; }

// n sum ab - sum a sum b = n sum (a - mean a)(b - mean b), exactly, as a
// double.
double CentredProducts(int64_t n, uint64_t sumA, uint64_t sumB, uint64_t products) {
    int64_t nab, ab, centred;
    if (!__builtin_mul_overflow(n, static_cast<int64_t>(products), &nab) &&
        !__builtin_mul_overflow(static_cast<int64_t>(sumA), static_cast<int64_t>(sumB), &ab) &&
        !__builtin_sub_overflow(nab, ab, &centred))
        return static_cast<double>(centred);
    return static_cast<double>(static_cast<__int128>(n) * static_cast<__int128>(products) -
                               static_cast<__int128>(sumA) * static_cast<__int128>(sumB));
}
double CentredProducts(const MatchSamples& s, uint64_t sumA, uint64_t products) { return CentredProducts(s.n, sumA, s.sumB, products); }

// The score of a position from its centred products and sum of squares.
double CorrelationScore(int64_t n, double rootSquaresB, double centred, uint64_t squaresA) {
    const double norm = rootSquaresB * std::sqrt(static_cast<double>(squaresA));
    if (!(norm > 0.0)) return -1.0;
    return ImgCompareCorrelationScore(centred / static_cast<double>(n) / norm);
}
double CorrelationScore(const MatchSamples& s, double centred, uint64_t squaresA) {
    return CorrelationScore(s.n, s.rootSquaresB, centred, squaresA);
}

// A cheap test that a position's correlation is clearly below that of the
// best so far (score 0 < best < 100, correlation t > 0): t < tb exactly when
// centred^2 < (tb n |b|)^2 sum a^2 for positive centred sums. The margin
// keeps rounding from ever dropping a position that could tie or win.
struct CorrelationBound {
    bool active = false;
    double factor = 0.0;  // (tb n |b|)^2 (1 - margin)
    void Update(const MatchSamples& s, double bestScore) {
        const double t = (100.0 - bestScore) / 100.0;
        active = bestScore > 0.0 && bestScore < 100.0;
        const double k = t * static_cast<double>(s.n) * s.rootSquaresB;
        factor = k * k * (1.0 - 1e-6);
    }
    bool ClearlyWorse(double centred, uint64_t squaresA) const {
        if (!active) return false;
        return centred <= 0.0 || centred * centred < factor * static_cast<double>(squaresA);
    }
};

}  // namespace

void ImgMatchTemplateRows(void* ctx, uint64_t first, uint64_t count) {
    MatchTemplateJob& job = *static_cast<MatchTemplateJob*>(ctx);
    const MatchSamples& s = *job.samples;
    const int32_t wB = s.L / s.channels;
    const double n = static_cast<double>(s.n);
    const bool correlate = s.method != 0;
    WindowSums sums;
    const bool haveSums = correlate && sums.Init(s);
    const int32_t positions = job.x1 - job.x0 + 1;
    // Positions go to the kernels in groups of 8, then 4, then single ones
    // for the rest of a row: every position is scored once.
    const int32_t group = s.group;
    Candidate best;
    uint64_t bestDifference = ~0ull;
    CorrelationBound bound;
    bool stop = false;
    for (uint64_t i = first; i < first + count && !stop; ++i) {
        const int32_t y = job.y0 + static_cast<int32_t>(i);
        const uint8_t* row = s.a + static_cast<int64_t>(i) * s.aStride;
        if (haveSums) sums.Row(s, static_cast<int64_t>(i));
        for (int32_t p = 0; p < positions && !stop;) {
            int32_t g = group;
            while (g > positions - p) g = g == 8 ? 4 : 1;
            int32_t q = g;
            if (job.cancel)
                for (int32_t k = 0; k < q; ++k)
                    if (job.cancel(job.user)) {
                        q = k;
                        stop = true;
                        break;
                    }
            if (q == 0) break;
            const int32_t start = p;
            const uint8_t* at = row + static_cast<int64_t>(start) * s.channels;
            double scores[8];
            if (!correlate) {
                uint64_t d[8];
                s.Differences(at, g, d);
                for (int32_t k = 0; k < q; ++k) {
                    // Larger sums score higher: only those not above the best
                    // so far are turned into scores.
                    scores[k] = d[k] > bestDifference ? 1e300 : ImgCompareDifferenceScore(static_cast<double>(d[k]), n);
                    if (d[k] < bestDifference) bestDifference = d[k];
                }
            } else {
                uint64_t sa[8], sq[8], ab[8];
                for (int32_t k = 0; k < g; ++k) {
                    if (haveSums) {
                        sa[k] = sums.Sum(start + k, wB);
                        sq[k] = sums.Squares(start + k, wB);
                    } else {
                        // No memory for the column sums: each position on its own.
                        sa[k] = sq[k] = 0;
                        for (int32_t j = 0; j < s.h; ++j)
                            for (int32_t t = 0; t < s.L; ++t) {
                                const uint32_t v = at[j * s.aStride + k * s.channels + t];
                                sa[k] += v;
                                sq[k] += v * v;
                            }
                    }
                }
                s.Products(at, g, sa, ab);
                for (int32_t k = 0; k < q; ++k) {
                    const double centred = CentredProducts(s, sa[k], ab[k]);
                    scores[k] = bound.ClearlyWorse(centred, sq[k]) ? 1e300 : CorrelationScore(s, centred, sq[k]);
                }
            }
            for (int32_t k = 0; k < q; ++k) {
                if (scores[k] < 0.0 || (best.found && scores[k] > best.score)) continue;
                const Candidate c{true, job.x0 + start + k, y, scores[k], SquaredDistance(job.x0 + start + k, y, job.rx, job.ry)};
                if (Beats(c, best)) {
                    best = c;
                    if (correlate) bound.Update(s, best.score);
                }
            }
            p += q;
        }
    }
    if (!best.found) return;
    CriticalSectionLock hold(*job.lock);
    const Candidate shared{job.noneYet == 0, job.bestX, job.bestY, job.bestScore, SquaredDistance(job.bestX, job.bestY, job.rx, job.ry)};
    if (Beats(best, shared)) {
        job.noneYet = 0;
        job.bestX = best.x;
        job.bestY = best.y;
        job.bestScore = best.score;
        job.bestDistance = static_cast<double>(best.distance);
    }
}

namespace {

// The samples of the window (x0, y0)-(x1, y1) of level image A, whose pixel
// (0, 0) stands for level position (ax, ay), and of template B.
bool PrepareSamples(const C_ImgBuff& A, int32_t ax, int32_t ay, const C_ImgBuff& B, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                    int32_t method, int32_t sampling, MatchSamples* s) {
    const bool colour = ImgCompareByColour(A.format, B.format);
    const bool lab = sampling != 0;
    const int32_t rawFormat = colour ? kImgRgb8 : kImgGray8;
    s->channels = colour ? 3 : 1;
    s->method = method;
    s->L = B.width * s->channels;
    s->h = B.height;
    s->n = static_cast<int64_t>(s->L) * s->h;
    s->regionWidth = x1 - x0 + B.width;
    const int32_t rx0 = x0 - ax, ry0 = y0 - ay, rh = y1 - y0 + B.height;
    const int64_t rowBytes = static_cast<int64_t>(s->regionWidth) * s->channels;
    if (!lab && A.format == rawFormat) {
        s->a = A.PixelAt(rx0, ry0);
        s->aStride = static_cast<int64_t>(A.width) * s->channels;
    } else {
        // Samples of every other rendering are made once for the scan.
        s->ownA.reset(new (std::nothrow) uint8_t[static_cast<size_t>(rowBytes * rh)]);
        if (!s->ownA) return false;
        auto rows = [&](uint64_t first, uint64_t count) {
            for (uint64_t r = first; r < first + count; ++r)
                ImgCompareSampleRow(A, rx0, ry0 + static_cast<int32_t>(r), s->regionWidth, colour, lab, s->ownA.get() + rowBytes * r);
        };
        PoolParallelRun(static_cast<uint64_t>(rh), rows);
        s->a = s->ownA.get();
        s->aStride = rowBytes;
    }
    if (!lab && B.format == rawFormat) {
        s->b = B.pixels;
    } else {
        s->ownB.reset(new (std::nothrow) uint8_t[static_cast<size_t>(s->n)]);
        if (!s->ownB) return false;
        for (int32_t r = 0; r < B.height; ++r) ImgCompareSampleRow(B, 0, r, B.width, colour, lab, s->ownB.get() + static_cast<int64_t>(r) * s->L);
        s->b = s->ownB.get();
    }
    if (method != 0) {
        if (VectorLevel() >= kLevelAvx2) ByteSumsAvx2(s->b, s->n, &s->sumB, &s->squaresB);
        else ByteSums(s->b, s->n, &s->sumB, &s->squaresB);
        s->rootSquaresB = std::sqrt(static_cast<double>(s->squaresB));
    }

    // The kernels and the template's layout for them. Products take the
    // template less 128 as signed bytes (zero padding stays 0).
    const int32_t level = VectorLevel();
    const bool vnni = method != 0 && level >= kLevelAvx512 && HaveVnni();
    const bool shortRows = s->L <= 32;
    const uint8_t flip = method != 0 ? 0x80 : 0x00;
    if (level >= kLevelAvx512 && (method == 0 || vnni)) {
        if (shortRows) {
            const int64_t pairs = (s->h + 1) / 2;
            s->packed.reset(new (std::nothrow) uint8_t[static_cast<size_t>(pairs * 64)]());
            // Sizes in locals: the stores could alias *s, which would
            // otherwise be read again for every byte.
            const int32_t L = s->L, h = s->h;
            if (s->packed)
                for (int32_t j = 0; j < h; ++j) {
                    uint8_t* d = s->packed.get() + (j / 2) * 64 + (j % 2) * 32;
                    const uint8_t* b = s->b + int64_t{j} * L;
                    for (int32_t i = 0; i < L; ++i) d[i] = b[i] ^ flip;
                }
        } else if (vnni) {
            s->packed.reset(new (std::nothrow) uint8_t[static_cast<size_t>(s->n)]);
            const int64_t n = s->n;
            uint8_t* d = s->packed.get();
            const uint8_t* b = s->b;
            if (d)
                for (int64_t i = 0; i < n; ++i) d[i] = b[i] ^ flip;
        }
        // Eight positions at a time: eight independent sums hide the
        // latency of the vector additions and products.
        const bool ready = s->packed || (!shortRows && method == 0);
        if (ready) {
            s->sad = shortRows ? SadKind::kShort512 : SadKind::kLong512;
            s->dot = shortRows ? DotKind::kShortVnni : DotKind::kLongVnni;
            s->group = 8;
            return true;
        }
    }
    if (level >= kLevelAvx2) {
        if (method == 0 && s->L >= 32) {
            s->sad = SadKind::kAvx2;
            s->group = 8;
        } else if (method != 0 && s->L >= 16) {
            s->wide.reset(new (std::nothrow) int16_t[static_cast<size_t>(s->n)]);
            if (s->wide) {
                const int64_t n = s->n;
                int16_t* d = s->wide.get();
                const uint8_t* b = s->b;
                for (int64_t i = 0; i < n; ++i) d[i] = b[i];
                s->dot = DotKind::kAvx2;
                s->group = 8;
            }
        }
    }
    return true;
}

// Scans the clipped window of one level; false when no position scored.
bool ScanWindow(const CImgBuff* a, int32_t ax, int32_t ay, const CImgBuff* b, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t rx,
                int32_t ry, int32_t method, int32_t sampling, MatchCancelFn cancel, void* user, Candidate* out) {
    MatchSamples samples;
    if (!PrepareSamples(*a->buffer, ax, ay, *b->buffer, x0, y0, x1, y1, method, sampling, &samples)) return false;
    // A correlation with a template of zero samples has no score anywhere.
    if (method != 0 && samples.squaresB == 0) return false;
    CriticalSection lock;
    MatchTemplateJob job{};
    job.a = a;
    job.b = b;
    job.method = method;
    job.sampling = sampling;
    job.x0 = x0;
    job.x1 = x1;
    job.y0 = y0;
    job.y1 = y1;
    job.rx = rx;
    job.ry = ry;
    job.noneYet = 1;
    job.cancel = cancel;
    job.user = user;
    job.lock = &lock;
    job.samples = &samples;
    PoolParallelFor(ImgMatchTemplateRows, &job, static_cast<uint64_t>(y1 - y0 + 1));
    if (job.noneYet) return false;
    *out = Candidate{true, job.bestX, job.bestY, job.bestScore, 0};
    return true;
}

struct Span {
    int64_t lo, hi;  // inclusive; empty when lo > hi
    bool Empty() const { return lo > hi; }
};

// One level of the coarse-to-fine search: sizes, the caller's window, the
// preferred point and the pyramid minimum at that level, and the images.
struct Level {
    int32_t W, H, wB, hB;
    int32_t x0, y0, x1, y1;
    int32_t rx, ry;
    int32_t pyramid;
    std::unique_ptr<CImgBuff> ownA, ownB;
    const CImgBuff* a = nullptr;
    const CImgBuff* b = nullptr;
    int32_t ax = 0, ay = 0;  // level position of a's pixel (0, 0)
};

constexpr int kMaxLevels = 32;

// Positions a level scans, along one axis: the coarsest its clipped caller
// window, the others at most the 4 positions around a doubled coarse result.
Span ScanPositions(int64_t size, int64_t t, int64_t w0, int64_t w1, const Span* coarse) {
    if (!coarse) return {std::max<int64_t>(0, w0), std::min<int64_t>(w1, size - t)};
    return {std::max<int64_t>(0, 2 * coarse->lo - 1), std::min<int64_t>(size - t, 2 * coarse->hi + 2)};
}

// Pixels a level needs along one axis: those its scan reads and those the
// next coarser level is halved from.
Span LevelPixels(const Span& positions, int64_t t, const Span* coarser, int64_t size) {
    Span s = positions.Empty() ? Span{1, 0} : Span{positions.lo, positions.hi + t - 1};
    if (coarser && !coarser->Empty()) {
        s.lo = s.Empty() ? 2 * coarser->lo : std::min(s.lo, 2 * coarser->lo);
        s.hi = std::max(s.hi, 2 * coarser->hi + 1);
    }
    return {std::max<int64_t>(s.lo, 0), std::min<int64_t>(s.hi, size - 1)};
}

// Halves the part (xs, ys) of level image `source` (whose pixel (0, 0) is
// level position (sx, sy)) into `dest`.
bool HalveRegion(const C_ImgBuff& source, int32_t sx, int32_t sy, const Span& xs, const Span& ys, CImgBuff* dest) {
    if (!dest->buffer) return false;
    const int32_t w = static_cast<int32_t>(xs.hi - xs.lo + 1), h = static_cast<int32_t>(ys.hi - ys.lo + 1);
    if (!dest->buffer->Create(w, h, source.format)) return false;
    HalveJob job{&source, dest->buffer, w, static_cast<int32_t>(2 * xs.lo - sx), static_cast<int32_t>(2 * ys.lo - sy)};
    PoolParallelFor(ImgHalveRows, &job, static_cast<uint64_t>(h));
    return true;
}

}  // namespace

int32_t ImgMatchTemplate(const CImgBuff* a, const CImgBuff* b, int32_t rx, int32_t ry, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                         int32_t* outX, int32_t* outY, int32_t method, int32_t sampling, int32_t pyramid, double* score,
                         MatchCancelFn cancel, void* user) {
    const auto fail = [score] {
        if (score) *score = -1.0;
        return 0;
    };
    if (!HasPixels(a) || !HasPixels(b)) return fail();
    Level lv[kMaxLevels];
    lv[0].W = a->buffer->width;
    lv[0].H = a->buffer->height;
    lv[0].wB = b->buffer->width;
    lv[0].hB = b->buffer->height;
    lv[0].x0 = x0;
    lv[0].y0 = y0;
    lv[0].x1 = x1;
    lv[0].y1 = y1;
    lv[0].rx = rx;
    lv[0].ry = ry;
    lv[0].pyramid = pyramid;
    lv[0].a = a;
    lv[0].b = b;
    const auto fits = [](const Level& l) { return int64_t{l.wB} + l.x0 <= l.W && int64_t{l.hB} + l.y0 <= l.H; };
    if (!fits(lv[0])) return fail();

    // The levels of the search, as far as the sizes allow.
    int K = 0;
    while (K + 1 < kMaxLevels && lv[K].pyramid != 0) {
        const Level& c = lv[K];
        const int32_t m = std::max(c.pyramid, 16);
        if (!(c.wB >= 2 * m && c.hB >= 2 * m && int64_t{c.x1} - c.x0 >= m && int64_t{c.y1} - c.y0 >= m)) break;
        Level& n = lv[K + 1];
        n.W = c.W / 2;
        n.H = c.H / 2;
        n.wB = c.wB / 2;
        n.hB = c.hB / 2;
        n.x0 = c.x0 / 2;
        n.y0 = c.y0 / 2;
        n.x1 = c.x1 / 2;
        n.y1 = c.y1 / 2;
        n.rx = c.rx / 2;
        n.ry = c.ry / 2;
        n.pyramid = m;
        ++K;
    }
    // Only the parts of the half-size copies that a scan or a coarser copy
    // reads are made: the same pixels as halving the whole image.
    Span needX[kMaxLevels], needY[kMaxLevels];
    for (int k = K; k >= 1; --k) {
        const Level& l = lv[k];
        Span px, py;
        if (k == K) {
            px = ScanPositions(l.W, l.wB, l.x0, l.x1, nullptr);
            py = ScanPositions(l.H, l.hB, l.y0, l.y1, nullptr);
        } else {
            const Level& c = lv[k + 1];
            const Span cx = ScanPositions(c.W, c.wB, c.x0, c.x1, nullptr), cy = ScanPositions(c.H, c.hB, c.y0, c.y1, nullptr);
            px = ScanPositions(l.W, l.wB, 0, 0, &cx);
            py = ScanPositions(l.H, l.hB, 0, 0, &cy);
        }
        needX[k] = LevelPixels(px, l.wB, k < K ? &needX[k + 1] : nullptr, l.W);
        needY[k] = LevelPixels(py, l.hB, k < K ? &needY[k + 1] : nullptr, l.H);
    }
    for (int k = 1; k <= K; ++k) {
        Level& l = lv[k];
        if (needX[k].Empty() || needY[k].Empty()) return fail();
        l.ownA.reset(new (std::nothrow) CImgBuff);
        l.ownB.reset(new (std::nothrow) CImgBuff);
        if (!l.ownA || !l.ownB || !HalveRegion(*lv[k - 1].a->buffer, lv[k - 1].ax, lv[k - 1].ay, needX[k], needY[k], l.ownA.get()) ||
            !ImgHalve(lv[k - 1].b, l.ownB.get())) {
            // No copy: this level and those below are not searched.
            K = k - 1;
            break;
        }
        l.a = l.ownA.get();
        l.b = l.ownB.get();
        l.ax = static_cast<int32_t>(needX[k].lo);
        l.ay = static_cast<int32_t>(needY[k].lo);
        if (!fits(l)) return fail();
    }

    int32_t bx = 0, by = 0;
    for (int k = K; k >= 0; --k) {
        const Level& l = lv[k];
        int64_t wx0 = l.x0, wy0 = l.y0, wx1 = l.x1, wy1 = l.y1, px = l.rx, py = l.ry;
        if (k < K) {
            wx0 = 2 * int64_t{bx} - 1;
            wx1 = 2 * int64_t{bx} + 2;
            wy0 = 2 * int64_t{by} - 1;
            wy1 = 2 * int64_t{by} + 2;
            px = 2 * int64_t{bx};
            py = 2 * int64_t{by};
        }
        wx0 = std::max<int64_t>(wx0, 0);
        wy0 = std::max<int64_t>(wy0, 0);
        wx1 = std::min<int64_t>(wx1, int64_t{l.W} - l.wB);
        wy1 = std::min<int64_t>(wy1, int64_t{l.H} - l.hB);
        if (wx0 > wx1 || wy0 > wy1) return fail();
        Candidate best;
        if (!ScanWindow(l.a, l.ax, l.ay, l.b, static_cast<int32_t>(wx0), static_cast<int32_t>(wy0), static_cast<int32_t>(wx1),
                        static_cast<int32_t>(wy1), static_cast<int32_t>(px), static_cast<int32_t>(py), method, sampling, cancel, user, &best))
            return fail();
        if (score) *score = best.score;
        if (outX) *outX = best.x;
        if (outY) *outY = best.y;
        if (cancel && cancel(user)) {
            if (k > 0 && score) *score = -1.0;
            return 0;
        }
        bx = best.x;
        by = best.y;
    }
    return 1;
}

void ImgHalveRows(void* ctx, uint64_t first, uint64_t count) {
    const HalveJob& job = *static_cast<const HalveJob*>(ctx);
    const C_ImgBuff& s = *job.source;
    C_ImgBuff& d = *job.destination;
    const bool colour = s.format >= kImgRgb8;
    const int32_t C = colour ? 3 : 1;
    constexpr int32_t kChunk = kImgSpanPixels / 2;
    uint8_t top[2 * kChunk * 3], bottom[2 * kChunk * 3], out[kChunk * 3];
    const bool direct = d.format == (colour ? kImgRgb8 : kImgGray8);
    if (direct && s.format == d.format) {
        // Samples read in place: the 8-bit means straight from the rows.
        const int64_t W = int64_t{job.width} * C;
        for (uint64_t i = first; i < first + count; ++i) {
            const int32_t y = static_cast<int32_t>(i);
            const uint8_t* top = s.PixelAt(job.x0, job.y0 + 2 * y);
            const uint8_t* bottom = s.PixelAt(job.x0, job.y0 + 2 * y + 1);
            uint8_t* out = d.PixelAt(0, y);
            if (C == 1) {
                for (int64_t k = 0; k < W; ++k)
                    out[k] = static_cast<uint8_t>((top[2 * k] + top[2 * k + 1] + bottom[2 * k + 1] + bottom[2 * k]) / 4);
            } else {
                for (int64_t x = 0; x < job.width; ++x)
                    for (int32_t c = 0; c < 3; ++c) {
                        const int64_t l = 6 * x + c, r = l + 3;
                        out[3 * x + c] = static_cast<uint8_t>((top[l] + top[r] + bottom[r] + bottom[l]) / 4);
                    }
            }
        }
        return;
    }
    for (uint64_t i = first; i < first + count; ++i) {
        const int32_t y = static_cast<int32_t>(i);
        const int32_t sy = job.y0 + 2 * y;
        for (int32_t x0 = 0; x0 < job.width; x0 += kChunk) {
            const int32_t n = std::min(kChunk, job.width - x0);
            const int32_t sx = job.x0 + 2 * x0;
            if (colour) {
                ImgReadRgb8Span(s, sx, sy, 2 * n, top);
                ImgReadRgb8Span(s, sx, sy + 1, 2 * n, bottom);
            } else {
                ImgReadGray8Span(s, sx, sy, 2 * n, top);
                ImgReadGray8Span(s, sx, sy + 1, 2 * n, bottom);
            }
            for (int32_t k = 0; k < n; ++k)
                for (int32_t c = 0; c < C; ++c) {
                    const int32_t l = 2 * k * C + c, r = l + C;
                    out[k * C + c] = static_cast<uint8_t>((top[l] + top[r] + bottom[r] + bottom[l]) / 4);
                }
            if (direct) {
                std::memcpy(d.PixelAt(x0, y), out, static_cast<size_t>(n) * C);
            } else {
                for (int32_t k = 0; k < n; ++k) {
                    if (colour) d.SetPixelRgb8(x0 + k, y, out[3 * k], out[3 * k + 1], out[3 * k + 2]);
                    else d.SetPixelGray8(x0 + k, y, out[k]);
                }
            }
        }
    }
}

int32_t ImgHalve(const CImgBuff* source, CImgBuff* destination) {
    if (!HasPixels(source) || !destination || !destination->buffer) return 0;
    const C_ImgBuff& s = *source->buffer;
    // Halving into the source itself goes through a temporary.
    C_ImgBuff temporary;
    C_ImgBuff* d = destination->buffer == source->buffer ? &temporary : destination->buffer;
    if (!d->Create(s.width / 2, s.height / 2, s.format)) return 0;
    HalveJob job{&s, d, d->width, 0, 0};
    PoolParallelFor(ImgHalveRows, &job, static_cast<uint64_t>(d->height));
    if (d == &temporary) destination->buffer->TakePixels(&temporary);
    return 1;
}

double ImgMatchScoreAt(const CImgBuff* a, const CImgBuff* b, double x, double y, int32_t method, int32_t sampling) {
    if (!HasPixels(a) || !HasPixels(b)) return -1.0;
    // Positions beyond any image cannot be cut out.
    if (!(std::fabs(x) < 2e9 && std::fabs(y) < 2e9)) return -1.0;
    const int64_t ix = static_cast<int64_t>(x), iy = static_cast<int64_t>(y);
    const int64_t x1 = ix + b->buffer->width, y1 = iy + b->buffer->height;
    if (ix < 0 || iy < 0 || x1 >= a->buffer->width || y1 >= a->buffer->height) return -1.0;
    CImgBuff cut;
    if (!a->ExtractRect(&cut, static_cast<int32_t>(ix), static_cast<int32_t>(iy), static_cast<int32_t>(x1), static_cast<int32_t>(y1)))
        return -1.0;
    if (!ImgShiftSubpixel(&cut, -(x - static_cast<double>(ix)), -(y - static_cast<double>(iy)), 0)) return -1.0;
    return ImgCompareImages(&cut, b, 0, 0, method, sampling);
}

namespace {

// Row kernels of the refinement's scorer (below).
//
// One blend row in integers: d = (ws s + wn nb) >> 8, ws + wn = 256; a null
// nb is the black fill.
void BlendRowDyadic(const uint8_t* s, const uint8_t* nb, uint8_t* d, int64_t count, uint16_t ws, uint16_t wn) {
    if (nb)
        for (int64_t i = 0; i < count; ++i) d[i] = static_cast<uint8_t>((ws * s[i] + wn * nb[i]) >> 8);
    else
        for (int64_t i = 0; i < count; ++i) d[i] = static_cast<uint8_t>((ws * s[i]) >> 8);
}
// The same 16 samples a step: the weighted sum is at most 256 x 255 and
// fits an unsigned 16-bit lane.
__attribute__((target("avx2"))) void BlendRowDyadicAvx2(const uint8_t* s, const uint8_t* nb, uint8_t* d, int64_t count, uint16_t ws,
                                                         uint16_t wn) {
    const __m256i vs = _mm256_set1_epi16(static_cast<int16_t>(ws)), vn = _mm256_set1_epi16(static_cast<int16_t>(wn));
    int64_t i = 0;
    for (; i + 16 <= count; i += 16) {
        __m256i v = _mm256_mullo_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i))), vs);
        if (nb)
            v = _mm256_add_epi16(
                v, _mm256_mullo_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(nb + i))), vn));
        v = _mm256_srli_epi16(v, 8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)));
    }
    BlendRowDyadic(s + i, nb ? nb + i : nullptr, d + i, count - i, ws, wn);
}

// Sum of |a - b| over h rows of L samples (b's rows packed).
uint64_t AbsDiffRows(const uint8_t* a, int64_t aStride, const uint8_t* b, int64_t L, int64_t h) {
    uint64_t sum = 0;
    for (int64_t j = 0; j < h; ++j, a += aStride, b += L)
        for (int64_t i = 0; i < L; ++i) sum += static_cast<uint32_t>(std::abs(int32_t{a[i]} - int32_t{b[i]}));
    return sum;
}
__attribute__((target("avx2"))) uint64_t AbsDiffRowsAvx2(const uint8_t* a, int64_t aStride, const uint8_t* b, int64_t L, int64_t h) {
    const int64_t full = L & ~int64_t{31};
    __m256i acc = _mm256_setzero_si256();
    uint64_t rest = 0;
    for (int64_t j = 0; j < h; ++j, a += aStride, b += L) {
        for (int64_t i = 0; i < full; i += 32)
            acc = _mm256_add_epi64(acc, _mm256_sad_epu8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i)),
                                                        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i))));
        for (int64_t i = full; i < L; ++i) rest += static_cast<uint32_t>(std::abs(int32_t{a[i]} - int32_t{b[i]}));
    }
    alignas(32) uint64_t v[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(v), acc);
    return v[0] + v[1] + v[2] + v[3] + rest;
}

// Sums of a, a^2 and a b over h rows of L samples (b's rows packed; the
// vector kernel reads them widened to 16 bits).
struct RowSums {
    uint64_t sumA = 0, squaresA = 0, products = 0;
};
RowSums CorrelationRows(const uint8_t* a, int64_t aStride, const uint8_t* b, int64_t L, int64_t h) {
    RowSums r;
    for (int64_t j = 0; j < h; ++j, a += aStride, b += L)
        for (int64_t i = 0; i < L; ++i) {
            const uint64_t u = a[i], v = b[i];
            r.sumA += u;
            r.squaresA += u * u;
            r.products += u * v;
        }
    return r;
}
// 16 samples a step into 32-bit lanes, which gain at most 2 x 255 x 255 a
// step and are emptied into 64 bits before they could overflow.
__attribute__((target("avx2"))) RowSums CorrelationRowsAvx2(const uint8_t* a, int64_t aStride, const int16_t* b, int64_t L, int64_t h) {
    const int64_t full = L & ~int64_t{15};
    const int64_t steps = std::max<int64_t>(1, full / 16);
    const int64_t rowsPerFlush = std::max<int64_t>(1, 2147483647 / (2 * 65025 * steps));
    const __m256i ones = _mm256_set1_epi16(1);
    RowSums r;
    for (int64_t j0 = 0; j0 < h; j0 += rowsPerFlush) {
        const int64_t j1 = std::min(h, j0 + rowsPerFlush);
        __m256i t = _mm256_setzero_si256(), q = _mm256_setzero_si256(), p = _mm256_setzero_si256();
        for (int64_t j = j0; j < j1; ++j) {
            const uint8_t* ar = a + j * aStride;
            const int16_t* br = b + j * L;
            for (int64_t i = 0; i < full; i += 16) {
                const __m256i u = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(ar + i)));
                t = _mm256_add_epi32(t, _mm256_madd_epi16(u, ones));
                q = _mm256_add_epi32(q, _mm256_madd_epi16(u, u));
                p = _mm256_add_epi32(p, _mm256_madd_epi16(u, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(br + i))));
            }
            for (int64_t i = full; i < L; ++i) {
                const uint64_t u = ar[i], v = static_cast<uint64_t>(br[i]);
                r.sumA += u;
                r.squaresA += u * u;
                r.products += u * v;
            }
        }
        alignas(32) int32_t vt[8], vq[8], vp[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(vt), t);
        _mm256_store_si256(reinterpret_cast<__m256i*>(vq), q);
        _mm256_store_si256(reinterpret_cast<__m256i*>(vp), p);
        for (int k = 0; k < 8; ++k) {
            r.sumA += static_cast<uint64_t>(vt[k]);
            r.squaresA += static_cast<uint64_t>(vq[k]);
            r.products += static_cast<uint64_t>(vp[k]);
        }
    }
    return r;
}

// How a refinement's cut-out is shifted along one axis: 0 not at all; 1
// each sample blends with the next one (content moves left or up); 2 with
// the previous one, the first with the black fill. Weights s and n sum to
// 256: blend = (s x sample + n x neighbour) >> 8.
struct ShiftAxis {
    int32_t mode = 0;
    uint16_t s = 256, n = 0;
};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
// The cut-out at src (rows `stride` apart, C channels) shifted by the two
// blends and compared with the template's h rows of L samples (widened to
// 16 bits) in one pass: 32 samples of a row at a time, each row blended
// horizontally once and kept for the vertical blend of the next. Sums go
// through 32-bit lanes, which gain at most 2 x 255 x 255 a row and are
// emptied into 64 bits every 4096 rows.
// Up to 32 samples from p widened to 16 bits, blended horizontally. The
// previous samples of a row's first piece are its own samples moved up by C
// lanes (the first C lanes the fill): nothing before the row is read.
__attribute__((target("avx512f,avx512bw,avx512vl"))) inline __m512i ShiftedRow512(const uint8_t* p, bool first, int64_t C, __mmask32 m,
                                                                                  __mmask32 mPrev, __m512i moveUp, int32_t mode,
                                                                                  __m512i ws, __m512i wn) {
    const __m512i x = _mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(m, p));
    if (mode == 0) return x;
    const __m512i nb = mode == 1 ? _mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(m, p + C))
                       : first   ? _mm512_maskz_permutexvar_epi16(mPrev, moveUp, x)
                                 : _mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(m, p - C));
    return _mm512_srli_epi16(_mm512_add_epi16(_mm512_mullo_epi16(x, ws), _mm512_mullo_epi16(nb, wn)), 8);
}

template <bool kDifferences>
__attribute__((target("avx512f,avx512bw,avx512vl"))) RowSums ShiftedSums512(const uint8_t* src, int64_t stride, int64_t C, int64_t L,
                                                                           int64_t h, ShiftAxis hx, ShiftAxis vy, const int16_t* b,
                                                                           uint64_t* differences) {
    const __m512i ones = _mm512_set1_epi16(1);
    const __m512i hs = _mm512_set1_epi16(static_cast<int16_t>(hx.s)), hn = _mm512_set1_epi16(static_cast<int16_t>(hx.n));
    const __m512i vs = _mm512_set1_epi16(static_cast<int16_t>(vy.s)), vn = _mm512_set1_epi16(static_cast<int16_t>(vy.n));
    alignas(64) int16_t up[32];
    for (int32_t i = 0; i < 32; ++i) up[i] = static_cast<int16_t>(i >= C ? i - C : 0);
    const __m512i moveUp = _mm512_load_si512(up);
    RowSums r;
    uint64_t diff = 0;
    for (int64_t i0 = 0; i0 < L; i0 += 32) {
        const int64_t lanes = std::min<int64_t>(32, L - i0);
        const __mmask32 m = static_cast<__mmask32>(lanes == 32 ? ~0u : (1u << lanes) - 1);
        // The previous sample of the first C lanes of a row is the fill.
        const __mmask32 mPrev = i0 == 0 ? static_cast<__mmask32>(m & ~((1u << C) - 1)) : m;
#define KV_SHIFTED_ROW(j) ShiftedRow512(src + (j) * stride + i0, i0 == 0, C, m, mPrev, moveUp, hx.mode, hs, hn)
        __m512i prev = _mm512_setzero_si512(), cur = KV_SHIFTED_ROW(0);
        for (int64_t j0 = 0; j0 < h; j0 += 4096) {
            const int64_t j1 = std::min(h, j0 + 4096);
            __m512i t = _mm512_setzero_si512(), q = _mm512_setzero_si512(), pr = _mm512_setzero_si512();
            for (int64_t j = j0; j < j1; ++j) {
                // Row j + 1 of the cut-out exists (it is one row taller).
                const __m512i next = vy.mode == 2 && j + 1 == h ? _mm512_setzero_si512() : KV_SHIFTED_ROW(j + 1);
                __m512i v = cur;
                if (vy.mode != 0)
                    v = _mm512_srli_epi16(_mm512_add_epi16(_mm512_mullo_epi16(cur, vs), _mm512_mullo_epi16(vy.mode == 1 ? next : prev, vn)), 8);
                const __m512i bv = _mm512_maskz_loadu_epi16(m, b + j * L + i0);
                if constexpr (kDifferences) {
                    t = _mm512_add_epi32(t, _mm512_madd_epi16(_mm512_abs_epi16(_mm512_sub_epi16(v, bv)), ones));
                } else {
                    t = _mm512_add_epi32(t, _mm512_madd_epi16(v, ones));
                    q = _mm512_add_epi32(q, _mm512_madd_epi16(v, v));
                    pr = _mm512_add_epi32(pr, _mm512_madd_epi16(v, bv));
                }
                prev = cur;
                cur = next;
            }
            if constexpr (kDifferences) {
                diff += static_cast<uint64_t>(SumLanes32(t));
            } else {
                r.sumA += static_cast<uint64_t>(SumLanes32(t));
                r.squaresA += static_cast<uint64_t>(SumLanes32(q));
                r.products += static_cast<uint64_t>(SumLanes32(pr));
            }
        }
    }
#undef KV_SHIFTED_ROW
    if (differences) *differences = diff;
    return r;
}
#pragma GCC diagnostic pop

// The scores of one refinement. Byte images of one format (grey or RGB,
// 8-bit samples) are scored without making images: the cut-out's shift is
// blended row by row into buffers kept for the whole refinement, exactly as
// ImgShiftSubpixel blends it, and the sums are integers. The difference
// score is then ImgMatchScoreAt's to the bit; the correlation is scored from
// the exact sums as the whole-pixel scan scores it, so the refinement's
// whole-pixel grid agrees with the scan. Other images go through
// ImgMatchScoreAt. A position asked for again gets its score back.
class RefineScorer {
public:
    RefineScorer(const CImgBuff* a, const CImgBuff* b, int32_t method, int32_t sampling)
        : a_(a), b_(b), method_(method), sampling_(sampling) {
        if (!HasPixels(a) || !HasPixels(b) || sampling != 0) return;
        const C_ImgBuff& A = *a->buffer;
        const C_ImgBuff& B = *b->buffer;
        if (A.format != B.format || (A.format != kImgGray8 && A.format != kImgRgb8)) return;
        channels_ = A.format == kImgRgb8 ? 3 : 1;
        L_ = static_cast<int64_t>(B.width) * channels_;
        // Rows of the horizontal pass (one more than B for the vertical
        // neighbour) and of the vertical pass.
        const int64_t rows = int64_t{B.height} + 1;
        work_.reset(new (std::nothrow) uint8_t[static_cast<size_t>(L_ * (2 * rows))]);
        if (!work_) return;
        n_ = L_ * B.height;
        if (VectorLevel() >= kLevelAvx2) ByteSumsAvx2(B.pixels, n_, &sumB_, &squaresB_);
        else ByteSums(B.pixels, n_, &sumB_, &squaresB_);
        rootSquaresB_ = std::sqrt(static_cast<double>(squaresB_));
        avx2_ = VectorLevel() >= kLevelAvx2;
        avx512_ = VectorLevel() >= kLevelAvx512;
        if ((avx2_ && method != 0) || avx512_) {
            wide_.reset(new (std::nothrow) int16_t[static_cast<size_t>(n_)]);
            if (wide_)
                for (int64_t i = 0; i < n_; ++i) wide_[i] = B.pixels[i];
        }
        fast_ = true;
    }

    double At(double x, double y) {
        for (int32_t i = 0; i < memoCount_; ++i)
            if (memo_[i].x == x && memo_[i].y == y) return memo_[i].score;
        const double s = fast_ ? Score(x, y) : ImgMatchScoreAt(a_, b_, x, y, method_, sampling_);
        if (memoCount_ < kMemo) memo_[memoCount_++] = {x, y, s};
        return s;
    }

private:
    // A blend of samples s with neighbours nb (null: the black fill) by
    // g = |fraction|: keep s + g nb in doubles, truncated to a byte. For g a
    // multiple of 1/256 every term of that sum is exact, so integers give
    // the same bytes.
    // The integer blend of a shift fraction f (0: no shift), when |f| is a
    // multiple of 1/256 (see BlendRow).
    static bool Dyadic(double f, ShiftAxis* axis) {
        if (f == 0.0) return true;
        const double m = std::fabs(f) * 256.0;
        if (m != std::floor(m)) return false;
        axis->mode = f < 0.0 ? 1 : 2;
        axis->n = static_cast<uint16_t>(m);
        axis->s = static_cast<uint16_t>(256 - axis->n);
        return true;
    }

    void BlendRow(const uint8_t* s, const uint8_t* nb, uint8_t* d, int64_t count, double g) const {
        const double keep = 1.0 - g;
        const double m = g * 256.0;
        if (m == std::floor(m)) {
            const uint16_t wn = static_cast<uint16_t>(m), ws = static_cast<uint16_t>(256 - wn);
            if (avx2_) BlendRowDyadicAvx2(s, nb, d, count, ws, wn);
            else BlendRowDyadic(s, nb, d, count, ws, wn);
            return;
        }
        for (int64_t i = 0; i < count; ++i)
            d[i] = ImgClampToU8(keep * static_cast<double>(s[i]) + g * (nb ? static_cast<double>(nb[i]) : 0.0));
    }

    double Score(double x, double y) {
        const C_ImgBuff& A = *a_->buffer;
        const C_ImgBuff& B = *b_->buffer;
        if (!(std::fabs(x) < 2e9 && std::fabs(y) < 2e9)) return -1.0;
        const int64_t ix = static_cast<int64_t>(x), iy = static_cast<int64_t>(y);
        if (ix < 0 || iy < 0 || ix + B.width >= A.width || iy + B.height >= A.height) return -1.0;
        // The cut-out is moved by minus the fraction: content from the right
        // (below) blends in, or for a negative position from the left.
        const double fx = -(x - static_cast<double>(ix)), fy = -(y - static_cast<double>(iy));
        const int64_t stride = static_cast<int64_t>(A.width) * channels_, C = channels_;
        const uint8_t* src = A.pixels + iy * stride + ix * C;
        int64_t srcStride = stride;
        ShiftAxis hx, vy;
        if (avx512_ && wide_ && Dyadic(fx, &hx) && Dyadic(fy, &vy)) {
            const int64_t h = B.height;
            if (method_ == 0) {
                uint64_t sum = 0;
                ShiftedSums512<true>(src, stride, C, L_, h, hx, vy, wide_.get(), &sum);
                return ImgCompareDifferenceScore(static_cast<double>(sum), static_cast<double>(n_));
            }
            const RowSums r = ShiftedSums512<false>(src, stride, C, L_, h, hx, vy, wide_.get(), nullptr);
            return CorrelationScore(n_, rootSquaresB_, CentredProducts(n_, r.sumA, sumB_, r.products), r.squaresA);
        }
        // Only B's part of the cut-out is compared: the horizontal pass makes
        // B's columns, for B's rows and the one below when a vertical pass
        // follows; the vertical pass makes B's rows.
        const int64_t hRows = int64_t{B.height} + (fy != 0.0 ? 1 : 0);
        uint8_t* horizontal = work_.get();
        uint8_t* vertical = work_.get() + L_ * (int64_t{B.height} + 1);
        if (fx != 0.0) {
            const double g = std::fabs(fx);
            for (int64_t j = 0; j < hRows; ++j) {
                const uint8_t* s = src + j * srcStride;
                uint8_t* d = horizontal + j * L_;
                if (fx < 0.0) {
                    BlendRow(s, s + C, d, L_, g);
                } else {
                    BlendRow(s, nullptr, d, C, g);
                    BlendRow(s + C, s, d + C, L_ - C, g);
                }
            }
            src = horizontal;
            srcStride = L_;
        }
        if (fy != 0.0) {
            const double g = std::fabs(fy);
            for (int64_t j = 0; j < B.height; ++j) {
                const uint8_t* s = src + j * srcStride;
                const uint8_t* nb = fy < 0.0 ? s + srcStride : j > 0 ? s - srcStride : nullptr;
                BlendRow(s, nb, vertical + j * L_, L_, g);
            }
            src = vertical;
            srcStride = L_;
        }
        return Compare(src, srcStride);
    }

    // B compared with the rows at a.
    double Compare(const uint8_t* a, int64_t aStride) const {
        const uint8_t* b = b_->buffer->pixels;
        const int64_t h = b_->buffer->height;
        if (method_ == 0) {
            const uint64_t sum = avx2_ ? AbsDiffRowsAvx2(a, aStride, b, L_, h) : AbsDiffRows(a, aStride, b, L_, h);
            return ImgCompareDifferenceScore(static_cast<double>(sum), static_cast<double>(n_));
        }
        const RowSums r = wide_ ? CorrelationRowsAvx2(a, aStride, wide_.get(), L_, h) : CorrelationRows(a, aStride, b, L_, h);
        return CorrelationScore(n_, rootSquaresB_, CentredProducts(n_, r.sumA, sumB_, r.products), r.squaresA);
    }

    static constexpr int32_t kMemo = 32;
    struct Memo {
        double x, y, score;
    };
    const CImgBuff* a_;
    const CImgBuff* b_;
    int32_t method_, sampling_;
    bool fast_ = false, avx2_ = false, avx512_ = false;
    int32_t channels_ = 1;
    int64_t L_ = 0, n_ = 0;
    uint64_t sumB_ = 0, squaresB_ = 0;
    double rootSquaresB_ = 0.0;
    std::unique_ptr<uint8_t[]> work_;
    std::unique_ptr<int16_t[]> wide_;  // B widened for the vector products
    Memo memo_[kMemo];
    int32_t memoCount_ = 0;
};

int32_t Refine(RefineScorer& scorer, double x0, double y0, double x1, double y1, double* outX, double* outY, double step,
               double* score, MatchCancelFn cancel, void* user) {
    if (cancel && cancel(user)) return 0;
    const auto finish = [&](double s, double x, double y) {
        if (score) *score = s;
        if (outX) *outX = x;
        if (outY) *outY = y;
        return 1;
    };
    const double cx = (x0 + x1) * 0.5, cy = (y0 + y1) * 0.5;
    const double sc = scorer.At(cx, cy);
    if (sc == 0.0 || sc < 0.0) return finish(sc, cx, cy);
    // The grid 0-8 row by row: columns x0, cx, x1; rows y0, cy, y1.
    const double gx[3] = {x0, cx, x1}, gy[3] = {y0, cy, y1};
    double ps[9];
    for (int p = 0; p < 9; ++p) ps[p] = p == 4 ? sc : scorer.At(gx[p % 3], gy[p / 3]);
    static constexpr int kQuad[4][4] = {{0, 1, 3, 4}, {1, 2, 4, 5}, {3, 4, 6, 7}, {4, 5, 7, 8}};
    int chosen = -1;
    double chosenSum = 0.0;
    for (int q = 0; q < 4; ++q) {
        double sum = 0.0;
        bool valid = true;
        for (int k = 0; k < 4; ++k) {
            const int p = kQuad[q][k];
            if (p == 4) continue;
            if (ps[p] < 0.0) valid = false;
            sum += ps[p];
        }
        if (valid && (chosen < 0 || sum < chosenSum)) {
            chosen = q;
            chosenSum = sum;
        }
    }
    if (chosen < 0) return finish(sc, cx, cy);
    const int* quad = kQuad[chosen];
    if (x1 - x0 > step) {
        const int first = quad[0], last = quad[3];
        double rx = 0, ry = 0, rs = -1.0;
        const int32_t got =
            Refine(scorer, gx[first % 3], gy[first / 3], gx[last % 3], gy[last / 3], &rx, &ry, step, &rs, cancel, user);
        // The deeper result counts as farther from the centre than any grid
        // point: a grid point with an equal score wins.
        double bs = sc, bx = cx, by = cy;
        int rank = 0;
        if (got == 1 && rs >= 0.0 && rs < sc) {
            bs = rs;
            bx = rx;
            by = ry;
            rank = 5;
        }
        for (int p = 0; p < 9; ++p) {
            const int r = p < 4 ? 4 - p : p - 4;
            if (ps[p] >= 0.0 && (ps[p] < bs || (ps[p] == bs && r < rank))) {
                bs = ps[p];
                bx = gx[p % 3];
                by = gy[p / 3];
                rank = r;
            }
        }
        return finish(bs, bx, by);
    }
    int best = quad[0];
    for (int k = 1; k < 4; ++k)
        if (ps[quad[k]] < ps[best]) best = quad[k];
    return finish(ps[best], gx[best % 3], gy[best / 3]);
}

}  // namespace

int32_t ImgRefineMatchSubpixel(const CImgBuff* a, const CImgBuff* b, double x0, double y0, double x1, double y1, double* outX,
                               double* outY, int32_t method, int32_t sampling, double step, double* score, MatchCancelFn cancel,
                               void* user) {
    RefineScorer scorer(a, b, method, sampling);
    return Refine(scorer, x0, y0, x1, y1, outX, outY, step, score, cancel, user);
}

int32_t ImgRefineMatchAroundPixel(const CImgBuff* a, const CImgBuff* b, int32_t x, int32_t y, double* outX, double* outY,
                                  int32_t method, int32_t sampling, double step, double* score, MatchCancelFn cancel, void* user) {
    if (!(step > 0.0)) return 0;
    const double fx = x, fy = y;
    return ImgRefineMatchSubpixel(a, b, fx - 1.0, fy - 1.0, fx + 1.0, fy + 1.0, outX, outY, method, sampling, step, score, cancel, user);
}

namespace {

// Angle of list entry e in degrees: 0, 10, 350, 20, 340, ..., 170, 190, 180.
double EntryAngle(int32_t e) {
    if (e == 0) return 0.0;
    if (e == kImageListEntries - 1) return 180.0;
    const int32_t k = (e + 1) / 2;
    return e % 2 ? 10.0 * k : 360.0 - 10.0 * k;
}

}  // namespace

ImageList* ImgMakeRotatedTemplates(const CImgBuff* source, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    if (x0 > x1 || y0 > y1 || !HasPixels(source)) return nullptr;
    const C_ImgBuff& s = *source->buffer;
    const double cx = (static_cast<double>(x0) + x1) * 0.5, cy = (static_cast<double>(y0) + y1) * 0.5;
    const double r = std::sqrt((cx - x0) * (cx - x0) + (cy - y0) * (cy - y0));
    // The square that holds the template in every turn about its centre.
    const double bx0 = std::round(cx - r), bx1 = std::round(cx + r), by0 = std::round(cy - r), by1 = std::round(cy + r);
    if (bx0 < 0 || by0 < 0 || bx1 >= s.width || by1 >= s.height) return nullptr;
    const int32_t sx0 = static_cast<int32_t>(bx0), sy0 = static_cast<int32_t>(by0);
    const int32_t ox = x0 - sx0, oy = y0 - sy0;
    const int32_t w = x1 - x0 + 1, h = y1 - y0 + 1;
    const int32_t rcx = static_cast<int32_t>(std::trunc(cx)) - sx0, rcy = static_cast<int32_t>(std::trunc(cy)) - sy0;

    ImageList* list = new (std::nothrow) ImageList{w, h, 0, nullptr};
    if (!list) return nullptr;
    list->images = new (std::nothrow) CImgBuff[kImageListEntries];
    if (!list->images) {
        delete list;
        return nullptr;
    }
    // Every entry is made at the template's size.
    for (int32_t e = 0; e < kImageListEntries; ++e) {
        if (!list->images[e].buffer || !list->images[e].buffer->Create(w, h, s.format)) {
            ImgDeleteImageList(list);
            return nullptr;
        }
        ++list->count;
    }
    CImgBuff square, work;
    bool ok = source->ExtractRect(&square, sx0, sy0, static_cast<int32_t>(bx1), static_cast<int32_t>(by1)) &&
              square.ExtractRect(&list->images[0], ox, oy, ox + w - 1, oy + h - 1);
    for (int32_t e = 1; ok && e < kImageListEntries; ++e) {
        work.CopyFrom(&square);
        ok = work.buffer && work.buffer->format == s.format && ImgRotateScale(&work, rcx, rcy, EntryAngle(e), 1.0, 0, 0) &&
             work.ExtractRect(&list->images[e], ox, oy, ox + w - 1, oy + h - 1);
    }
    if (!ok) {
        ImgDeleteImageList(list);
        return nullptr;
    }
    return list;
}

int32_t ImgDeleteImageList(ImageList* list) {
    if (!list) return 0;
    if (list->images) {
        for (uint64_t i = list->count; i-- > 0;) list->images[i].FreePixels();
        delete[] list->images;
    }
    delete list;
    return 1;
}

void ImgMatchPatternsKernel(void* ctx, uint64_t first, uint64_t count) {
    MatchPatternsJob& job = *static_cast<MatchPatternsJob*>(ctx);
    if (!job.list || !job.list->images) return;
    const int32_t pyramid = job.pyramid >= 1 && job.pyramid < 16 ? 16 : job.pyramid;
    bool found = false;
    uint64_t bestIndex = 0;
    double bestScore = 0.0, bestX = 0.0, bestY = 0.0;
    for (uint64_t i = first; i < first + count && i < job.list->count; ++i) {
        const CImgBuff* entry = &job.list->images[i];
        int32_t ix = 0, iy = 0;
        double local = -1.0;
        if (!ImgMatchTemplate(job.search, entry, job.rx, job.ry, job.x0, job.y0, job.x1, job.y1, &ix, &iy, job.method, job.sampling,
                              pyramid, &local, job.cancel, job.user))
            continue;
        if (!(job.step > 0.0)) continue;
        double fx = 0, fy = 0, s = -1.0;
        if (ImgRefineMatchSubpixel(job.search, entry, ix - 1.0, iy - 1.0, ix + 1.0, iy + 1.0, &fx, &fy, job.method, job.sampling, job.step,
                                   &s, job.cancel, job.user) == 1 &&
            s >= 0.0 && (!found || s < bestScore)) {
            found = true;
            bestIndex = i;
            bestScore = s;
            bestX = fx;
            bestY = fy;
        }
    }
    if (!found) return;
    if (job.lock) job.lock->Enter();
    if (job.bestScore < 0.0 || job.bestScore > bestScore || (job.bestScore == bestScore && job.bestIndex > bestIndex)) {
        job.bestIndex = bestIndex;
        job.bestScore = bestScore;
        job.bestX = bestX;
        job.bestY = bestY;
    }
    if (job.lock) job.lock->Leave();
}
