// Vector pieces of the bilinear resampling kernels: the four neighbours of
// eight output pixels gathered from a work plane as doubles, and eight
// results stored back in the plane's channel type, clamped and truncated as
// ImgStoreSample does. AVX-512 (F, BW, DQ, VL) only; callers test
// ImgResampleVectorOk() and keep a scalar path.
#pragma once

#include <immintrin.h>

#include <cstdint>
#include <cstring>

// Whether the vector paths run: the processor has them and no test has
// switched them off.
bool ImgResampleVectorOk();
// Test seam: false runs every resampling kernel on its scalar path.
void ImgResampleUseVectorsForTesting(bool on);

#define KV_RESAMPLE_TARGET __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl"), always_inline)) inline

// GCC 12's AVX-512 headers fill unused lanes from a variable initialised
// by itself, which -Wuninitialized reports where the intrinsics inline.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// The neighbours (ix, iy), (ix + 1, iy), (ix, iy + 1), (ix + 1, iy + 1) of
// eight pixels as loaded: each neighbour pair of a row in up to three
// 64-bit lanes per pixel (8 bytes from the pair's start, then the next 8
// and 16 for wide pixels). Reads up to 8 bytes past a pair's end, so the
// lower row must not be the plane's last unless the plane has spare bytes
// after it. Channel c of each neighbour is then taken out as doubles.
template <class T, int C>
struct Neighbours8 {
    static constexpr int kLoads = C == 1 || sizeof(T) == 1 ? 1 : sizeof(T) == 2 ? 2 : 3;
    __m512i top[kLoads], bottom[kLoads];
};

// Eight 64-bit loads at base + offsets[i] for the lanes of `mask` (others
// 0). Plain loads assembled into a register: on the processors this was
// measured on they beat the gather instruction several times over.
KV_RESAMPLE_TARGET __m512i ImgLoad8(const uint8_t* base, const int64_t* offsets, __mmask8 mask) {
    static const uint64_t kNothing = 0;
    uint64_t v[8];
    for (int i = 0; i < 8; ++i) {
        // Lanes left out read a zero of their own, without a branch.
        const uint8_t* p = (mask >> i) & 1 ? base + offsets[i] : reinterpret_cast<const uint8_t*>(&kNothing);
        std::memcpy(&v[i], p, 8);
    }
    return _mm512_set_epi64(static_cast<long long>(v[7]), static_cast<long long>(v[6]), static_cast<long long>(v[5]),
                            static_cast<long long>(v[4]), static_cast<long long>(v[3]), static_cast<long long>(v[2]),
                            static_cast<long long>(v[1]), static_cast<long long>(v[0]));
}

// The neighbours of eight whole positions for the lanes of `top` and
// `bottom` (rows iy and iy + 1); others read nothing and hold 0.
template <class T, int C>
KV_RESAMPLE_TARGET void ImgGatherNeighboursMasked8(const uint8_t* base, uint64_t stride, __m256i ix, __m256i iy, __mmask8 top,
                                                   __mmask8 bottom, Neighbours8<T, C>* n) {
    alignas(64) int64_t offsets[8];
    _mm512_store_si512(offsets,
                       _mm512_add_epi64(_mm512_mullo_epi64(_mm512_cvtepi32_epi64(iy), _mm512_set1_epi64(static_cast<long long>(stride))),
                                        _mm512_mullo_epi64(_mm512_cvtepi32_epi64(ix), _mm512_set1_epi64(static_cast<long long>(C * sizeof(T))))));
    for (int k = 0; k < Neighbours8<T, C>::kLoads; ++k) {
        n->top[k] = ImgLoad8(base + 8 * k, offsets, top);
        n->bottom[k] = ImgLoad8(base + stride + 8 * k, offsets, bottom);
    }
}

// ix, iy: eight whole positions whose four neighbours lie inside.
template <class T, int C>
KV_RESAMPLE_TARGET void ImgGatherNeighbours8(const uint8_t* base, uint64_t stride, __m256i ix, __m256i iy, Neighbours8<T, C>* n) {
    ImgGatherNeighboursMasked8<T, C>(base, stride, ix, iy, 0xFF, 0xFF, n);
}

// Channel c of the left and right neighbour of a pair, from its loads.
template <class T, int C>
KV_RESAMPLE_TARGET void ImgPairChannel8(const __m512i* g, int c, __m512d* left, __m512d* right) {
    constexpr int kBits = 8 * sizeof(T);
    const __m512i low = _mm512_set1_epi64(static_cast<long long>((uint64_t{1} << kBits) - 1));
    // Bit position of channel c of the left and of the right pixel within
    // the pair's bytes, and the load that holds it.
    const int l = kBits * c, r = kBits * (C + c);
    const __m512i gl = g[l / 64], gr = g[r / 64];
    const __m512i vl = (l % 64) + kBits < 64 ? _mm512_and_si512(_mm512_srli_epi64(gl, l % 64), low) : _mm512_srli_epi64(gl, l % 64);
    const __m512i vr = (r % 64) + kBits < 64 ? _mm512_and_si512(_mm512_srli_epi64(gr, r % 64), low) : _mm512_srli_epi64(gr, r % 64);
    *left = _mm512_cvtepi64_pd(vl);
    *right = _mm512_cvtepi64_pd(vr);
}

template <class T, int C>
KV_RESAMPLE_TARGET void ImgNeighbourChannel8(const Neighbours8<T, C>& n, int c, __m512d* p00, __m512d* p10, __m512d* p01, __m512d* p11) {
    ImgPairChannel8<T, C>(n.top, c, p00, p10);
    ImgPairChannel8<T, C>(n.bottom, c, p01, p11);
}

// Eight results per channel stored as T, pixel by pixel (channels
// interleaved): the maximum at or above it, 0 at or below 0, else truncated.
template <class T, int C>
KV_RESAMPLE_TARGET void ImgStoreResults8(T* out, const __m512d* r) {
    constexpr double kMax = sizeof(T) == 1 ? 255.0 : sizeof(T) == 2 ? 65535.0 : 4294967295.0;
    __m256i v[C];
    for (int c = 0; c < C; ++c) {
        const __m512d m = _mm512_min_pd(_mm512_max_pd(r[c], _mm512_setzero_pd()), _mm512_set1_pd(kMax));
        v[c] = sizeof(T) == 4 ? _mm512_cvttpd_epu32(m) : _mm512_cvttpd_epi32(m);
    }
    if constexpr (C == 1) {
        if constexpr (sizeof(T) == 1) _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm256_cvtepi32_epi8(v[0]));
        else if constexpr (sizeof(T) == 2) _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_cvtepi32_epi16(v[0]));
        else _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), v[0]);
    } else if constexpr (sizeof(T) <= 2) {
        // Words R0-R7 G0-G7 B0-B7 put in pixel order.
        const __m512i words = _mm512_inserti64x4(
            _mm512_castsi256_si512(_mm256_inserti128_si256(_mm256_castsi128_si256(_mm256_cvtepi32_epi16(v[0])), _mm256_cvtepi32_epi16(v[1]), 1)),
            _mm256_castsi128_si256(_mm256_cvtepi32_epi16(v[2])), 1);
        const __m512i order = _mm512_set_epi16(31, 31, 31, 31, 31, 31, 31, 31, 23, 15, 7, 22, 14, 6, 21, 13, 5, 20, 12, 4, 19, 11, 3, 18,
                                               10, 2, 17, 9, 1, 16, 8, 0);
        const __m512i pixels = _mm512_permutexvar_epi16(order, words);
        if constexpr (sizeof(T) == 1) _mm256_mask_storeu_epi8(out, 0xFFFFFF, _mm512_cvtepi16_epi8(pixels));
        else _mm512_mask_storeu_epi16(out, 0xFFFFFF, pixels);
    } else {
        const __m512i rg = _mm512_inserti64x4(_mm512_castsi256_si512(v[0]), v[1], 1);
        const __m512i b = _mm512_castsi256_si512(v[2]);
        // Dwords 0-15 of rg are R0-R7 G0-G7; 16-23 of the pair are B0-B7.
        alignas(64) static const int32_t kOrder[24] = {0, 8, 16, 1, 9, 17, 2, 10, 18, 3, 11, 19, 4, 12, 20, 5, 13, 21, 6, 14, 22, 7, 15, 23};
        const __m512i lo = _mm512_permutex2var_epi32(rg, _mm512_load_si512(kOrder), b);
        const __m512i hi = _mm512_permutex2var_epi32(rg, _mm512_castsi256_si512(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(kOrder + 16))), b);
        _mm512_storeu_si512(out, lo);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 16), _mm512_castsi512_si256(hi));
    }
}

#pragma GCC diagnostic pop
