#include "image/kernels/bayer.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "image/kernels/kernel_frame.h"
#include "image/pool.h"

namespace {

constexpr int8_t R_ = kBayerRed, G_ = kBayerGreen, B_ = kBayerBlue, N_ = kBayerNone;

}  // namespace

const BayerPattern g_BayerPatterns[kBayerPatternCount] = {
    {2, 2, {G_, R_, B_, G_}},
    {2, 2, {G_, B_, R_, G_}},
    {2, 2, {R_, G_, G_, B_}},
    {2, 2, {B_, G_, G_, R_}},
    {6, 6, {G_, B_, G_, G_, R_, G_, R_, G_, R_, B_, G_, B_, G_, B_, G_, G_, R_, G_,
            G_, R_, G_, G_, B_, G_, B_, G_, B_, R_, G_, R_, G_, R_, G_, G_, B_, G_}},
    {6, 6, {G_, B_, G_, G_, R_, G_, R_, G_, R_, B_, G_, B_, G_, B_, G_, G_, R_, G_,
            N_, R_, N_, N_, B_, N_, B_, G_, B_, R_, G_, R_, N_, R_, G_, N_, B_, G_}},
};

namespace {

// The rounding of every result: add 0.5, clamp to the 32-bit range (NaN
// gives 0), truncate, then limit to the largest value of the depth group.
inline uint32_t RoundClamp(double v, uint32_t top) {
    const uint32_t u = ImgClampToU32(v + 0.5);
    return u > top ? top : u;
}

// The same rounding of num / 2^s computed exactly in integers.
template <class A>
inline uint32_t RoundShift(A num, int s, uint32_t top) {
    const A t = num + (A(1) << (s - 1));
    if (t < 0) return 0;
    const uint64_t u = static_cast<uint64_t>(t) >> s;
    return u > top ? top : static_cast<uint32_t>(u);
}

template <class T>
constexpr uint32_t TopOf() {
    return sizeof(T) == 1 ? 255u : sizeof(T) == 2 ? 65535u : 4294967295u;
}

// Sums of the 8- and 16-bit groups fit 32 bits; the 32-bit group sums in
// 64 bits (exact, as the doubles of the rule are).
template <class T>
using Acc = std::conditional_t<sizeof(T) == 4, int64_t, int32_t>;

int32_t GroupBits(int32_t format) {
    if (ImgFormatIn(ImgFormat8BitMask, format)) return 8;
    if (ImgFormatIn(ImgFormat16BitMask, format)) return 16;
    return 32;
}

// Gains of 1.0 (or none) leave every value as it is, so they take the
// integer paths.
bool UnitGains(const double* gains) { return !gains || (gains[1] == 1.0 && gains[2] == 1.0 && gains[3] == 1.0); }

void SetRgb(C_ImgBuff& b, int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t bl) { b.SetPixelRgb8(x, y, r, g, bl); }
void SetRgb(C_ImgBuff& b, int32_t x, int32_t y, uint16_t r, uint16_t g, uint16_t bl) { b.SetPixelRgb16(x, y, r, g, bl); }
void SetRgb(C_ImgBuff& b, int32_t x, int32_t y, uint32_t r, uint32_t g, uint32_t bl) { b.SetPixelRgb32(x, y, r, g, bl); }

// Everything a pass reads: the mosaic plane M (the entry image read as grey
// at the group's depth, or at 32 bits for the XTRANS linear pass), the image
// written, the pattern, the gains and the region.
template <class T, class S = T>
struct Run {
    S* m;
    C_ImgBuff* image;
    bool direct;  // the image is RGB of T: rows are written in place
    int32_t w, h;
    const BayerPattern* pattern;
    const double* gains;  // null: none (or all 1.0)
    int32_t x0, y0, x1, y1;

    const int8_t* Codes(int32_t y) const { return pattern->cells + (y % pattern->height) * pattern->width; }
    int8_t Code(const int8_t* codes, int32_t x) const { return codes[x % pattern->width]; }
};

// Runs f(xs, n, out) over the region's row y in spans; out is the image's
// own row when it is RGB of T, else a buffer handed to the setters after.
template <class T, class S, class F>
void ForSpans(const Run<T, S>& run, int32_t y, F&& f) {
    T buffer[3 * kImgSpanPixels];
    for (int32_t xs = run.x0; xs <= run.x1; xs += kImgSpanPixels) {
        const int32_t n = std::min(kImgSpanPixels, run.x1 - xs + 1);
        if (run.direct) {
            f(xs, n, reinterpret_cast<T*>(run.image->PixelAt(xs, y)));
            continue;
        }
        f(xs, n, buffer);
        for (int32_t i = 0; i < n; ++i) SetRgb(*run.image, xs + i, y, buffer[3 * i], buffer[3 * i + 1], buffer[3 * i + 2]);
    }
}

// Lanes of the vectorised interior loops: wide enough for every
// intermediate sum and difference of the group (quarters doubled to eighths
// included), narrow enough to pack many per vector.
template <class T>
using Lane = std::conditional_t<sizeof(T) == 1, int16_t, std::conditional_t<sizeof(T) == 2, int32_t, int64_t>>;

template <class T>
constexpr Lane<T> Clamp(Lane<T> v) {
    return v < 0 ? 0 : v > Lane<T>(TopOf<T>()) ? Lane<T>(TopOf<T>()) : v;
}

#if defined(__x86_64__)
#define KV_AVX2 __attribute__((target("avx2")))

bool HaveAvx2() {
    static const bool have = __builtin_cpu_supports("avx2");
    return have;
}

// Byte shuffles that place channel ch of 16 bytes into output block j of
// 48 interleaved bytes (elements of `size` bytes).
struct InterleaveMasks {
    alignas(16) int8_t m[3][3][16];  // [block][channel][byte]
    explicit InterleaveMasks(int size) {
        for (int j = 0; j < 3; ++j)
            for (int ch = 0; ch < 3; ++ch)
                for (int i = 0; i < 16; ++i) {
                    const int k = j * 16 + i, element = k / size, byte = k % size;
                    m[j][ch][i] = element % 3 == ch ? static_cast<int8_t>((element / 3) * size + byte) : int8_t(-128);
                }
    }
};

#endif

template <class T>
void Interleave(const T* r, const T* g, const T* b, T* o, int32_t n) {
    for (int32_t i = 0; i < n; ++i) o[3 * i] = r[i], o[3 * i + 1] = g[i], o[3 * i + 2] = b[i];
}

#if defined(__x86_64__)
// Lanes of the interior kernels: 16-bit lanes for 8-bit samples, 32-bit
// lanes for 16-bit samples; both fill 16 bytes of samples per vector.
template <class T>
struct Simd;

template <>
struct Simd<uint8_t> {
    static constexpr int32_t kLanes = 16;
    KV_AVX2 static __m256i Load(const uint8_t* p) { return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))); }
    // Saturating to 0 .. 255 is the clamp of the rounding.
    KV_AVX2 static __m128i Narrow(__m256i v) {
        return _mm256_castsi256_si128(_mm256_permute4x64_epi64(_mm256_packus_epi16(v, v), 0xD8));
    }
    KV_AVX2 static __m256i Set(int v) { return _mm256_set1_epi16(static_cast<int16_t>(v)); }
    KV_AVX2 static __m256i Add(__m256i a, __m256i b) { return _mm256_add_epi16(a, b); }
    KV_AVX2 static __m256i Sub(__m256i a, __m256i b) { return _mm256_sub_epi16(a, b); }
    KV_AVX2 static __m256i Twice(__m256i a) { return _mm256_add_epi16(a, a); }
    template <int S>
    KV_AVX2 static __m256i Shr(__m256i a) { return _mm256_srai_epi16(a, S); }
    KV_AVX2 static __m256i Abs(__m256i a) { return _mm256_abs_epi16(a); }
    KV_AVX2 static __m256i Less(__m256i a, __m256i b) { return _mm256_cmpgt_epi16(b, a); }
    KV_AVX2 static __m256i EvenLanes() { return _mm256_set1_epi32(0x0000FFFF); }
};

template <>
struct Simd<uint16_t> {
    static constexpr int32_t kLanes = 8;
    KV_AVX2 static __m256i Load(const uint16_t* p) {
        return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    }
    KV_AVX2 static __m128i Narrow(__m256i v) {
        return _mm256_castsi256_si128(_mm256_permute4x64_epi64(_mm256_packus_epi32(v, v), 0xD8));
    }
    KV_AVX2 static __m256i Set(int v) { return _mm256_set1_epi32(v); }
    KV_AVX2 static __m256i Add(__m256i a, __m256i b) { return _mm256_add_epi32(a, b); }
    KV_AVX2 static __m256i Sub(__m256i a, __m256i b) { return _mm256_sub_epi32(a, b); }
    KV_AVX2 static __m256i Twice(__m256i a) { return _mm256_add_epi32(a, a); }
    template <int S>
    KV_AVX2 static __m256i Shr(__m256i a) { return _mm256_srai_epi32(a, S); }
    KV_AVX2 static __m256i Abs(__m256i a) { return _mm256_abs_epi32(a); }
    KV_AVX2 static __m256i Less(__m256i a, __m256i b) { return _mm256_cmpgt_epi32(b, a); }
    KV_AVX2 static __m256i EvenLanes() { return _mm256_set1_epi64x(0x00000000FFFFFFFFll); }
};

KV_AVX2 inline __m256i Pick(__m256i mask, __m256i yes, __m256i no) { return _mm256_blendv_epi8(no, yes, mask); }

// 16 bytes of each of R, G and B to 48 interleaved bytes.
KV_AVX2 inline void StoreRgb(void* o, __m128i r, __m128i g, __m128i b, const __m128i (&mk)[3][3]) {
    __m128i* out = static_cast<__m128i*>(o);
    for (int j = 0; j < 3; ++j)
        _mm_storeu_si128(out + j, _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(r, mk[j][0]), _mm_shuffle_epi8(g, mk[j][1])),
                                               _mm_shuffle_epi8(b, mk[j][2])));
}

template <class T>
KV_AVX2 void LoadMasks(__m128i (&mk)[3][3]) {
    static const InterleaveMasks masks(sizeof(T));
    for (int j = 0; j < 3; ++j)
        for (int ch = 0; ch < 3; ++ch) mk[j][ch] = _mm_load_si128(reinterpret_cast<const __m128i*>(masks.m[j][ch]));
}

// (x + 2^(s-1)) >> s, clamped by the narrowing.
template <class T, int S>
KV_AVX2 inline __m256i Round(__m256i v) {
    using V = Simd<T>;
    return V::template Shr<S>(V::Add(v, V::Set(1 << (S - 1))));
}

// The linear interior, interleaved into o; returns the pixels done (a
// multiple of the lane count).
template <class T, bool RedRow>
KV_AVX2 int32_t Linear2x2Avx2(const T* row, const T* up, const T* dn, int32_t n, int32_t cp, T* o) {
    using V = Simd<T>;
    __m128i mk[3][3];
    LoadMasks<T>(mk);
    const __m256i colour = cp == 0 ? V::EvenLanes() : _mm256_xor_si256(V::EvenLanes(), _mm256_set1_epi8(-1));
    int32_t i = 0;
    for (; i + V::kLanes <= n; i += V::kLanes) {
        const __m256i l = V::Load(row + i - 1), r = V::Load(row + i + 1), c = V::Load(row + i);
        const __m256i u = V::Load(up + i), d = V::Load(dn + i);
        const __m256i lr = V::Add(l, r), ud = V::Add(u, d);
        const __m256i h = Round<T, 1>(lr), v = Round<T, 1>(ud), g = Round<T, 2>(V::Add(lr, ud));
        const __m256i diag = Round<T, 2>(V::Add(V::Add(V::Load(up + i - 1), V::Load(up + i + 1)), V::Add(V::Load(dn + i - 1), V::Load(dn + i + 1))));
        const __m256i own = Pick(colour, c, h), other = Pick(colour, diag, v);
        StoreRgb(o + 3 * i, V::Narrow(RedRow ? own : other), V::Narrow(Pick(colour, g, c)), V::Narrow(RedRow ? other : own), mk);
    }
    return i;
}

// The green interior into p; returns the pixels done.
template <class T>
KV_AVX2 int32_t GreenAvx2(const T* c, int64_t w, int32_t n, int32_t gp, T* p) {
    using V = Simd<T>;
    const __m256i green = gp == 0 ? V::EvenLanes() : _mm256_xor_si256(V::EvenLanes(), _mm256_set1_epi8(-1));
    int32_t i = 0;
    for (; i + V::kLanes <= n; i += V::kLanes) {
        const T* q = c + i;
        const __m256i c0 = V::Load(q), l1 = V::Load(q - 1), r1 = V::Load(q + 1);
        const __m256i u1 = V::Load(q - w), d1 = V::Load(q + w);
        const __m256i c2 = V::Twice(c0);
        const __m256i h2 = V::Sub(V::Sub(c2, V::Load(q - 2)), V::Load(q + 2));
        const __m256i v2 = V::Sub(V::Sub(c2, V::Load(q - 2 * w)), V::Load(q + 2 * w));
        const __m256i dh = V::Add(V::Abs(h2), V::Abs(V::Sub(l1, r1))), dv = V::Add(V::Abs(v2), V::Abs(V::Sub(u1, d1)));
        const __m256i eh = V::Add(V::Twice(V::Add(l1, r1)), h2), ev = V::Add(V::Twice(V::Add(u1, d1)), v2);
        const __m256i hLess = V::Less(dh, dv), vLess = V::Less(dv, dh);
        const __m256i e8 = Pick(hLess, V::Twice(eh), Pick(vLess, V::Twice(ev), V::Add(eh, ev)));
        const __m256i g = Pick(green, c0, Round<T, 3>(e8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i), V::Narrow(g));
    }
    return i;
}

// The colour interior, interleaved into o; returns the pixels done.
template <class T, bool RedRow>
KV_AVX2 int32_t ColourAvx2(const T* m, int64_t w, const T* pu, const T* pc, const T* pd, int32_t n, int32_t cp, T* o) {
    using V = Simd<T>;
    __m128i mk[3][3];
    LoadMasks<T>(mk);
    const __m256i colour = cp == 0 ? V::EvenLanes() : _mm256_xor_si256(V::EvenLanes(), _mm256_set1_epi8(-1));
    int32_t i = 0;
    for (; i + V::kLanes <= n; i += V::kLanes) {
        const T* mq = m + i;
        const T *pq = pc + i, *pn = pu + i, *ps = pd + i;
        const __m256i p0 = V::Load(pq), m0 = V::Load(mq), p2 = V::Twice(p0);
        const __m256i xh = V::Sub(V::Sub(V::Add(V::Twice(V::Add(V::Load(mq - 1), V::Load(mq + 1))), p2), V::Load(pq - 1)), V::Load(pq + 1));
        const __m256i xv = V::Sub(V::Sub(V::Add(V::Twice(V::Add(V::Load(mq - w), V::Load(mq + w))), p2), V::Load(pn)), V::Load(ps));
        const __m256i mne = V::Load(mq + 1 - w), msw = V::Load(mq - 1 + w), mnw = V::Load(mq - 1 - w), mse = V::Load(mq + 1 + w);
        const __m256i a2 = V::Sub(V::Sub(p2, V::Load(pn + 1)), V::Load(ps - 1));
        const __m256i d2 = V::Sub(V::Sub(p2, V::Load(pn - 1)), V::Load(ps + 1));
        const __m256i da = V::Add(V::Abs(a2), V::Abs(V::Sub(mne, msw))), dd = V::Add(V::Abs(d2), V::Abs(V::Sub(mnw, mse)));
        const __m256i ea = V::Add(V::Twice(V::Add(mne, msw)), a2), ed = V::Add(V::Twice(V::Add(mnw, mse)), d2);
        const __m256i e8 = Pick(V::Less(da, dd), V::Twice(ea), Pick(V::Less(dd, da), V::Twice(ed), V::Add(ea, ed)));
        const __m256i est = Round<T, 3>(e8);
        const __m256i first = Round<T, 2>(RedRow ? xh : xv), second = Round<T, 2>(RedRow ? xv : xh);
        const __m256i r = Pick(colour, RedRow ? m0 : est, first), b = Pick(colour, RedRow ? est : m0, second);
        StoreRgb(o + 3 * i, V::Narrow(r), V::Narrow(p0), V::Narrow(b), mk);
    }
    return i;
}
#endif

// ---- mode 0: mosaic ----

template <class T>
void ReadRgbRow(const C_ImgBuff& src, int32_t x, int32_t y, int32_t n, T* rgb) {
    if constexpr (sizeof(T) == 1) {
        ImgReadRgb8Span(src, x, y, n, rgb);
    } else if constexpr (sizeof(T) == 2) {
        ImgReadRgb16Span(src, x, y, n, rgb);
    } else {
        for (int32_t i = 0; i < n; ++i) src.GetPixelRgb32(x + i, y, &rgb[3 * i], &rgb[3 * i + 1], &rgb[3 * i + 2]);
    }
}

void SetGray(C_ImgBuff& b, int32_t x, int32_t y, uint8_t v) { b.SetPixelGray8(x, y, v); }
void SetGray(C_ImgBuff& b, int32_t x, int32_t y, uint16_t v) { b.SetPixelGray16(x, y, v); }
void SetGray(C_ImgBuff& b, int32_t x, int32_t y, uint32_t v) { b.SetPixelGray32(x, y, v); }

template <class T>
void MosaicRow(const C_ImgBuff& src, C_ImgBuff& dst, const BayerPattern& pat, const double* gains, int32_t x0, int32_t x1,
               int32_t y) {
    const int8_t* codes = pat.cells + (y % pat.height) * pat.width;
    const bool direct = dst.format == kImgGray8 + (sizeof(T) == 1 ? 0 : sizeof(T) == 2 ? 1 : 2);
    T rgb[3 * kImgSpanPixels], out[kImgSpanPixels];
    for (int32_t xs = x0; xs <= x1; xs += kImgSpanPixels) {
        const int32_t n = std::min(kImgSpanPixels, x1 - xs + 1);
        ReadRgbRow(src, xs, y, n, rgb);
        for (int32_t i = 0; i < n; ++i) {
            const int8_t c = codes[(xs + i) % pat.width];
            if (c < kBayerRed || c > kBayerBlue) {
                out[i] = 0;
            } else if (!gains) {
                out[i] = rgb[3 * i + c - 1];
            } else {
                out[i] = static_cast<T>(RoundClamp(rgb[3 * i + c - 1] / gains[c], TopOf<T>()));
            }
        }
        if (direct) {
            std::memcpy(dst.PixelAt(xs, y), out, sizeof(T) * static_cast<size_t>(n));
        } else {
            for (int32_t i = 0; i < n; ++i) SetGray(dst, xs + i, y, out[i]);
        }
    }
}

// ---- mode 1: linear, 2 x 2 patterns ----

// The values in eighths: c, the horizontal, vertical and diagonal means and
// G = (H + V) / 2 over the neighbours inside the image (counts 1, 2 or 4,
// so the eighths are exact).
template <class T>
void Linear2x2Pixel(const Run<T>& run, const int8_t* codes, int32_t x, int32_t y, T* o) {
    using A = Acc<T>;
    const T* row = run.m + static_cast<int64_t>(y) * run.w;
    const T* up = y > 0 ? row - run.w : nullptr;
    const T* dn = y + 1 < run.h ? row + run.w : nullptr;
    const bool left = x > 0, right = x + 1 < run.w;
    A sh = 0, sv = 0, sd = 0;
    int nh = 0, nv = 0, nd = 0;
    if (left) sh += row[x - 1], ++nh;
    if (right) sh += row[x + 1], ++nh;
    for (const T* r : {up, dn}) {
        if (!r) continue;
        sv += r[x], ++nv;
        if (left) sd += r[x - 1], ++nd;
        if (right) sd += r[x + 1], ++nd;
    }
    const A c8 = A(row[x]) * 8, h8 = sh * (8 / nh), v8 = sv * (8 / nv), d8 = sd * (8 / nd), g8 = (h8 + v8) / 2;
    const int8_t code = run.Code(codes, x);
    A v[3];
    if (code == kBayerRed) {
        v[0] = c8, v[1] = g8, v[2] = d8;
    } else if (code == kBayerBlue) {
        v[0] = d8, v[1] = g8, v[2] = c8;
    } else if (run.Code(codes, x + 1) == kBayerRed) {
        v[0] = h8, v[1] = c8, v[2] = v8;
    } else {
        v[0] = v8, v[1] = c8, v[2] = h8;
    }
    for (int k = 0; k < 3; ++k)
        o[k] = static_cast<T>(run.gains ? RoundClamp(static_cast<double>(v[k]) / 8.0 * run.gains[k + 1], TopOf<T>())
                                        : RoundShift<A>(v[k], 3, TopOf<T>()));
}

// Interior pixels without gains, as planes: lanes of parity `cp` are red
// or blue cells, the others green. Means round half up in integers.
template <class T, bool RedRow>
KV_KERNEL_CLONES void Linear2x2Planar(const T* __restrict row, const T* __restrict up, const T* __restrict dn, int32_t n,
                                      int32_t cp, T* __restrict R, T* __restrict G, T* __restrict B) {
    using L = Lane<T>;
    for (int32_t i = 0; i < n; ++i) {
        const L l = row[i - 1], r = row[i + 1], u = up[i], d = dn[i], c = row[i];
        const L h = static_cast<L>((l + r + 1) >> 1), v = static_cast<L>((u + d + 1) >> 1);
        const L g = static_cast<L>((l + r + u + d + 2) >> 2);
        const L diag = static_cast<L>((L(up[i - 1]) + L(up[i + 1]) + L(dn[i - 1]) + L(dn[i + 1]) + 2) >> 2);
        const bool colour = (i & 1) == cp;
        G[i] = static_cast<T>(colour ? g : c);
        if (RedRow) {
            R[i] = static_cast<T>(colour ? c : h);
            B[i] = static_cast<T>(colour ? diag : v);
        } else {
            R[i] = static_cast<T>(colour ? diag : v);
            B[i] = static_cast<T>(colour ? c : h);
        }
    }
}

template <class T>
void Linear2x2Row(const Run<T>& run, int32_t y) {
    const int8_t* codes = run.Codes(y);
    const T* row = run.m + static_cast<int64_t>(y) * run.w;
    const bool fast = !run.gains && y > 0 && y + 1 < run.h;
    const bool redRow = codes[0] == kBayerRed || codes[1] == kBayerRed;
    const int32_t colourPhase = codes[0] == kBayerGreen ? 1 : 0;  // parity of x at red or blue cells
    ForSpans(run, y, [&](int32_t xs, int32_t n, T* o) {
        const int32_t xe = xs + n - 1;
        // Pixels with both horizontal neighbours inside go through the planes.
        const int32_t a = std::max(xs, 1), b = std::min(xe, run.w - 2);
        if (!fast || a > b) {
            for (int32_t x = xs; x <= xe; ++x) Linear2x2Pixel(run, codes, x, y, o + 3 * (x - xs));
            return;
        }
        for (int32_t x = xs; x < a; ++x) Linear2x2Pixel(run, codes, x, y, o + 3 * (x - xs));
        const int32_t cp = (colourPhase - a) & 1;
        const T *up = row - run.w, *dn = row + run.w;
        int32_t done = 0;
#if defined(__x86_64__)
        if constexpr (sizeof(T) <= 2) {
            if (HaveAvx2())
                done = redRow ? Linear2x2Avx2<T, true>(row + a, up + a, dn + a, b - a + 1, cp, o + 3 * (a - xs))
                              : Linear2x2Avx2<T, false>(row + a, up + a, dn + a, b - a + 1, cp, o + 3 * (a - xs));
        }
#endif
        const int32_t at = a + done, rest = b - at + 1;
        T r[kImgSpanPixels], g[kImgSpanPixels], bl[kImgSpanPixels];
        if (redRow) {
            Linear2x2Planar<T, true>(row + at, up + at, dn + at, rest, cp, r, g, bl);
        } else {
            Linear2x2Planar<T, false>(row + at, up + at, dn + at, rest, cp, r, g, bl);
        }
        Interleave(r, g, bl, o + 3 * (at - xs), rest);
        for (int32_t x = b + 1; x <= xe; ++x) Linear2x2Pixel(run, codes, x, y, o + 3 * (x - xs));
    });
}

// ---- mode 1: linear, XTRANS patterns (32-bit samples) ----

template <class T>
void LinearXtransRow(const Run<T, uint32_t>& run, int32_t y) {
    static const int kDx[8] = {-1, 0, 1, 1, 1, 0, -1, -1};
    static const int kDy[8] = {-1, -1, -1, 0, 1, 1, 1, 0};
    static const double kWeight[8] = {2, 3, 2, 3, 2, 3, 2, 3};
    const int shift = 32 - 8 * static_cast<int>(sizeof(T));
    ForSpans(run, y, [&](int32_t xs, int32_t n, T* o) {
        for (int32_t x = xs; x < xs + n; ++x, o += 3) {
            const int8_t own = run.Code(run.Codes(y), x);
            double sum[4] = {0, 0, 0, 0}, weight[4] = {0, 0, 0, 0};
            for (int k = 0; k < 8; ++k) {
                const int32_t nx = x + kDx[k], ny = y + kDy[k];
                if (nx < 0 || ny < 0 || nx >= run.w || ny >= run.h) continue;
                const int8_t c = run.Code(run.Codes(ny), nx);
                if (c < kBayerRed || c > kBayerBlue) continue;
                sum[c] += kWeight[k] * run.m[static_cast<int64_t>(ny) * run.w + nx];
                weight[c] += kWeight[k];
            }
            for (int ch = 1; ch <= 3; ++ch) {
                double v = ch == own ? static_cast<double>(run.m[static_cast<int64_t>(y) * run.w + x])
                                     : weight[ch] > 0 ? sum[ch] / weight[ch] : 0.0;
                if (run.gains) v *= run.gains[ch];
                o[ch - 1] = static_cast<T>(RoundClamp(v, 4294967295u) >> shift);
            }
        }
    });
}

// ---- mode 2: adaptive colour plane interpolation ----

template <class T>
void GainRow(const Run<T>& run, int32_t y) {
    const int8_t* codes = run.Codes(y);
    T* row = run.m + static_cast<int64_t>(y) * run.w;
    for (int32_t x = run.x0; x <= run.x1; ++x) {
        const int8_t c = run.Code(codes, x);
        const double g = run.gains[c == kBayerRed ? 1 : c == kBayerGreen ? 2 : 3];
        row[x] = static_cast<T>(RoundClamp(row[x] * g, TopOf<T>()));
    }
}

// Green at a red, blue or unfiltered cell.
template <class T>
T GreenAt(const Run<T>& run, int32_t x, int32_t y) {
    using A = Acc<T>;
    const int64_t w = run.w;
    const T* c = run.m + y * w + x;
    const bool hc = x >= 2 && x + 2 < run.w, vc = y >= 2 && y + 2 < run.h;
    if (!hc && !vc) {
        // The mean of the four neighbours inside the image.
        double sum = 0;
        int n = 0;
        if (x > 0) sum += c[-1], ++n;
        if (x + 1 < run.w) sum += c[1], ++n;
        if (y > 0) sum += c[-w], ++n;
        if (y + 1 < run.h) sum += c[w], ++n;
        return static_cast<T>(RoundClamp(sum / n, TopOf<T>()));
    }
    // Estimates in quarters; the tie in eighths.
    A eh = 0, ev = 0, dh = 0, dv = 0;
    if (hc) {
        const A second = 2 * A(c[0]) - c[-2] - c[2];
        eh = 2 * (A(c[-1]) + c[1]) + second;
        dh = (second < 0 ? -second : second) + (c[-1] > c[1] ? A(c[-1]) - c[1] : A(c[1]) - c[-1]);
    }
    if (vc) {
        const A second = 2 * A(c[0]) - c[-2 * w] - c[2 * w];
        ev = 2 * (A(c[-w]) + c[w]) + second;
        dv = (second < 0 ? -second : second) + (c[-w] > c[w] ? A(c[-w]) - c[w] : A(c[w]) - c[-w]);
    }
    if (!vc || (hc && dh < dv)) return static_cast<T>(RoundShift<A>(eh, 2, TopOf<T>()));
    if (!hc || dv < dh) return static_cast<T>(RoundShift<A>(ev, 2, TopOf<T>()));
    return static_cast<T>(RoundShift<A>(eh + ev, 3, TopOf<T>()));
}

// Interior green of a 2 x 2 pattern as a plane: lanes of parity `gp` copy
// their green sample, the others take the estimate of the smoother
// direction (quarters doubled to eighths, so one rounding serves all three).
template <class T>
KV_KERNEL_CLONES void GreenPlanar(const T* __restrict c, int64_t w, int32_t n, int32_t gp, T* __restrict p) {
    using L = Lane<T>;
    for (int32_t i = 0; i < n; ++i) {
        const L c0 = c[i], l1 = c[i - 1], r1 = c[i + 1], l2 = c[i - 2], r2 = c[i + 2];
        const L u1 = c[i - w], d1 = c[i + w], u2 = c[i - 2 * w], d2 = c[i + 2 * w];
        const L h2 = static_cast<L>(2 * c0 - l2 - r2), v2 = static_cast<L>(2 * c0 - u2 - d2);
        const L hd = static_cast<L>(l1 - r1), vd = static_cast<L>(u1 - d1);
        const L dh = static_cast<L>((h2 < 0 ? -h2 : h2) + (hd < 0 ? -hd : hd));
        const L dv = static_cast<L>((v2 < 0 ? -v2 : v2) + (vd < 0 ? -vd : vd));
        const L eh = static_cast<L>(2 * (l1 + r1) + h2), ev = static_cast<L>(2 * (u1 + d1) + v2);
        const L e8 = static_cast<L>(dh < dv ? 2 * eh : dv < dh ? 2 * ev : eh + ev);
        const L g = Clamp<T>(static_cast<L>((e8 + 4) >> 3));
        p[i] = static_cast<T>((i & 1) == gp ? c0 : g);
    }
}

template <class T>
void GreenRow(const Run<T>& run, int32_t y, int32_t gx0, int32_t gx1, T* p) {
    const int8_t* codes = run.Codes(y);
    const int64_t w = run.w;
    const T* m = run.m + y * w;
    const auto one = [&](int32_t x) { p[x] = run.Code(codes, x) == kBayerGreen ? m[x] : GreenAt(run, x, y); };
    const int32_t a = std::max(gx0, 2), b = std::min(gx1, run.w - 3);
    if (run.pattern->width != 2 || y < 2 || y + 2 >= run.h || a > b) {
        for (int32_t x = gx0; x <= gx1; ++x) one(x);
        return;
    }
    for (int32_t x = gx0; x < a; ++x) one(x);
    const int32_t greenPhase = codes[0] == kBayerGreen ? 0 : 1, gp = (greenPhase - a) & 1;
    int32_t done = 0;
#if defined(__x86_64__)
    if constexpr (sizeof(T) <= 2) {
        if (HaveAvx2()) done = GreenAvx2<T>(m + a, w, b - a + 1, gp, p + a);
    }
#endif
    GreenPlanar<T>(m + a + done, w, b - a + 1 - done, gp, p + a + done);
    for (int32_t x = b + 1; x <= gx1; ++x) one(x);
}

// The colour of a pixel whose eight neighbours lie inside the image: the
// diagonal estimate and the horizontal and vertical colour of green cells,
// in quarters (the tie in eighths), rounded and clamped.
template <class T>
void ColourInside(const Run<T>& run, const T* const* rows, const int8_t* codes, int32_t x, int32_t y, T* o) {
    using A = Acc<T>;
    const int64_t w = run.w;
    const T* m = run.m + y * w + x;
    const T *pn = rows[0] + x, *p = rows[1] + x, *ps = rows[2] + x;
    const int8_t code = run.Code(codes, x);
    const A p2 = 2 * A(p[0]);
    o[1] = p[0];
    if (code == kBayerGreen) {
        const T xh = static_cast<T>(RoundShift<A>(2 * (A(m[-1]) + m[1]) + p2 - p[-1] - p[1], 2, TopOf<T>()));
        const T xv = static_cast<T>(RoundShift<A>(2 * (A(m[-w]) + m[w]) + p2 - pn[0] - ps[0], 2, TopOf<T>()));
        const bool redRight = run.Code(codes, x + 1) == kBayerRed;
        o[0] = redRight ? xh : xv;
        o[2] = redRight ? xv : xh;
        return;
    }
    const A a2 = p2 - pn[1] - ps[-1], d2 = p2 - pn[-1] - ps[1];
    const A am = A(m[1 - w]) - m[w - 1], dm = A(m[-1 - w]) - m[1 + w];
    const A da = (a2 < 0 ? -a2 : a2) + (am < 0 ? -am : am), dd = (d2 < 0 ? -d2 : d2) + (dm < 0 ? -dm : dm);
    const A ea = 2 * (A(m[1 - w]) + m[w - 1]) + a2, ed = 2 * (A(m[-1 - w]) + m[1 + w]) + d2;
    const T est = static_cast<T>(da < dd ? RoundShift<A>(ea, 2, TopOf<T>())
                                 : da > dd ? RoundShift<A>(ed, 2, TopOf<T>())
                                           : RoundShift<A>(ea + ed, 3, TopOf<T>()));
    o[0] = code == kBayerRed ? m[0] : est;
    o[2] = code == kBayerRed ? est : m[0];
}

// Colour at the image border: means of the neighbours inside the image.
template <class T>
void ColourBorder(const Run<T>& run, const T* const* rows, const int8_t* codes, int32_t x, int32_t y, T* o) {
    const int64_t w = run.w;
    const T* m = run.m + y * w + x;
    const bool left = x > 0, right = x + 1 < run.w, top = y > 0, bottom = y + 1 < run.h;
    const auto mean = [](double sum, int n) { return static_cast<T>(RoundClamp(sum / n, TopOf<T>())); };
    const int8_t code = run.Code(codes, x);
    o[1] = rows[1][x];
    if (code == kBayerGreen) {
        const T h = mean((left ? double(m[-1]) : 0.0) + (right ? double(m[1]) : 0.0), left + right);
        const T v = mean((top ? double(m[-w]) : 0.0) + (bottom ? double(m[w]) : 0.0), top + bottom);
        const bool redRight = run.Code(codes, x + 1) == kBayerRed;
        o[0] = redRight ? h : v;
        o[2] = redRight ? v : h;
        return;
    }
    double sum = 0;
    int n = 0;
    if (top && left) sum += m[-w - 1], ++n;
    if (top && right) sum += m[-w + 1], ++n;
    if (bottom && left) sum += m[w - 1], ++n;
    if (bottom && right) sum += m[w + 1], ++n;
    const T d = mean(sum, n);
    o[0] = code == kBayerRed ? m[0] : d;
    o[2] = code == kBayerRed ? d : m[0];
}

// Interior colour of a 2 x 2 pattern as planes: lanes of parity `cp` are
// red or blue cells (diagonal estimate), the others green (horizontal and
// vertical colour).
template <class T, bool RedRow>
KV_KERNEL_CLONES void ColourPlanar(const T* __restrict m, int64_t w, const T* __restrict pn, const T* __restrict p,
                                   const T* __restrict ps, int32_t n, int32_t cp,
                                   T* __restrict R, T* __restrict G, T* __restrict B) {
    using L = Lane<T>;
    for (int32_t i = 0; i < n; ++i) {
        const L p0 = p[i], m0 = m[i], p2 = static_cast<L>(2 * p0);
        const L xh8 = static_cast<L>(2 * (2 * (L(m[i - 1]) + L(m[i + 1])) + p2 - L(p[i - 1]) - L(p[i + 1])));
        const L xv8 = static_cast<L>(2 * (2 * (L(m[i - w]) + L(m[i + w])) + p2 - L(pn[i]) - L(ps[i])));
        const L mne = m[i + 1 - w], msw = m[i - 1 + w], mnw = m[i - 1 - w], mse = m[i + 1 + w];
        const L a2 = static_cast<L>(p2 - L(pn[i + 1]) - L(ps[i - 1])), d2 = static_cast<L>(p2 - L(pn[i - 1]) - L(ps[i + 1]));
        const L am = static_cast<L>(mne - msw), dm = static_cast<L>(mnw - mse);
        const L da = static_cast<L>((a2 < 0 ? -a2 : a2) + (am < 0 ? -am : am));
        const L dd = static_cast<L>((d2 < 0 ? -d2 : d2) + (dm < 0 ? -dm : dm));
        const L ea = static_cast<L>(2 * (mne + msw) + a2), ed = static_cast<L>(2 * (mnw + mse) + d2);
        const L e8 = static_cast<L>(da < dd ? 2 * ea : da > dd ? 2 * ed : ea + ed);
        const bool colour = (i & 1) == cp;
        // Green cells take the horizontal or vertical colour, colour cells
        // their own sample and the diagonal estimate.
        const L first8 = RedRow ? xh8 : xv8, second8 = RedRow ? xv8 : xh8;
        const L est = Clamp<T>(static_cast<L>((e8 + 4) >> 3));
        const L first = Clamp<T>(static_cast<L>((first8 + 4) >> 3)), second = Clamp<T>(static_cast<L>((second8 + 4) >> 3));
        G[i] = static_cast<T>(p0);
        R[i] = static_cast<T>(colour ? (RedRow ? m0 : est) : first);
        B[i] = static_cast<T>(colour ? (RedRow ? est : m0) : second);
    }
}

template <class T>
void ColourRow(const Run<T>& run, int32_t y, const T* const* rows) {
    const int8_t* codes = run.Codes(y);
    const bool rowInside = y > 0 && y + 1 < run.h;
    const bool planar = rowInside && run.pattern->width == 2;
    const bool redRow = codes[0] == kBayerRed || codes[1] == kBayerRed;
    const int32_t colourPhase = codes[0] == kBayerGreen ? 1 : 0;
    const int64_t w = run.w;
    ForSpans(run, y, [&](int32_t xs, int32_t n, T* o) {
        const int32_t xe = xs + n - 1;
        const auto one = [&](int32_t x) {
            if (rowInside && x > 0 && x + 1 < run.w) {
                ColourInside(run, rows, codes, x, y, o + 3 * (x - xs));
            } else {
                ColourBorder(run, rows, codes, x, y, o + 3 * (x - xs));
            }
        };
        const int32_t a = std::max(xs, 1), b = std::min(xe, run.w - 2);
        if (!planar || a > b) {
            for (int32_t x = xs; x <= xe; ++x) one(x);
            return;
        }
        for (int32_t x = xs; x < a; ++x) one(x);
        const T* m = run.m + y * w;
        const T *pn = rows[0], *p = rows[1], *ps = rows[2];
        const int32_t cp = (colourPhase - a) & 1;
        int32_t done = 0;
#if defined(__x86_64__)
        if constexpr (sizeof(T) <= 2) {
            if (HaveAvx2())
                done = redRow ? ColourAvx2<T, true>(m + a, w, pn + a, p + a, ps + a, b - a + 1, cp, o + 3 * (a - xs))
                              : ColourAvx2<T, false>(m + a, w, pn + a, p + a, ps + a, b - a + 1, cp, o + 3 * (a - xs));
        }
#endif
        const int32_t at = a + done, rest = b - at + 1;
        T r[kImgSpanPixels], g[kImgSpanPixels], bl[kImgSpanPixels];
        if (redRow) {
            ColourPlanar<T, true>(m + at, w, pn + at, p + at, ps + at, rest, cp, r, g, bl);
        } else {
            ColourPlanar<T, false>(m + at, w, pn + at, p + at, ps + at, rest, cp, r, g, bl);
        }
        Interleave(r, g, bl, o + 3 * (at - xs), rest);
        for (int32_t x = b + 1; x <= xe; ++x) one(x);
    });
}

// ---- planes ----

// A block of count samples of T, uncleared (every sample is written before
// it is read); freed with ImgFreePixels.
template <class T>
T* NewPlane(int32_t w, int32_t h) {
    return reinterpret_cast<T*>(ImgAllocPixelsUncleared(static_cast<uint64_t>(w) * static_cast<uint64_t>(h), sizeof(T)));
}

struct PlaneGuard {
    uint8_t* block = nullptr;
    ~PlaneGuard() { ImgFreePixels(block); }
};

// The image read as grey at the depth of S, through the grey getters'
// rendering (the 32-bit getter for S of 32 bits).
template <class S>
void FillGreyPlane(const C_ImgBuff& img, S* plane) {
    const int64_t w = img.width;
    const ImgRect all{0, 0, img.width - 1, img.height - 1};
    ImgForEachRegionRow(all, [&](int32_t y) {
        S* row = plane + y * w;
        if constexpr (sizeof(S) == 1) {
            ImgReadGray8Span(img, 0, y, img.width, row);
        } else if constexpr (sizeof(S) == 2) {
            ImgReadGray16Span(img, 0, y, img.width, row);
        } else if (img.format == kImgGray8) {
            const uint8_t* s = img.PixelAt(0, y);
            for (int32_t x = 0; x < img.width; ++x) row[x] = s[x] * 16843009u;
        } else if (img.format == kImgGray16) {
            const uint16_t* s = reinterpret_cast<const uint16_t*>(img.PixelAt(0, y));
            for (int32_t x = 0; x < img.width; ++x) row[x] = s[x] * 65537u;
        } else {
            for (int32_t x = 0; x < img.width; ++x) img.GetPixelGray32(x, y, &row[x]);
        }
    });
}

// Grey to colour of the same depth: every channel the grey value.
template <class T>
void ReplicateGrey(const C_ImgBuff& grey, C_ImgBuff& rgb) {
    const ImgRect all{0, 0, grey.width - 1, grey.height - 1};
    ImgForEachRegionRow(all, [&](int32_t y) {
        const T* s = reinterpret_cast<const T*>(grey.PixelAt(0, y));
        T* d = reinterpret_cast<T*>(rgb.PixelAt(0, y));
        for (int32_t x = 0; x < grey.width; ++x) d[3 * x] = d[3 * x + 1] = d[3 * x + 2] = s[x];
    });
}

int32_t Mosaic(CImgBuff* image, const BayerPattern& pat, const double* gains, const ImgRect& r) {
    C_ImgBuff& b = *image->buffer;
    const bool whole = r.x0 == 0 && r.y0 == 0 && r.x1 == b.width - 1 && r.y1 == b.height - 1;
    const int32_t bits = GroupBits(b.format);
    if (UnitGains(gains)) gains = nullptr;
    // A whole colour image becomes grey of its group; the entry pixels stay
    // as the source. Otherwise every pixel reads only itself before it is
    // written, so the image is its own source.
    C_ImgBuff source;
    const C_ImgBuff* src = &b;
    if (whole && b.format >= kImgRgb8) {
        C_ImgBuff grey;
        if (!grey.Create(b.width, b.height, bits == 8 ? kImgGray8 : bits == 16 ? kImgGray16 : kImgGray32)) return 0;
        source.TakePixels(&b);
        b.TakePixels(&grey);
        src = &source;
    }
    ImgForEachRegionRow(r, [&](int32_t y) {
        if (bits == 8) MosaicRow<uint8_t>(*src, b, pat, gains, r.x0, r.x1, y);
        else if (bits == 16) MosaicRow<uint16_t>(*src, b, pat, gains, r.x0, r.x1, y);
        else MosaicRow<uint32_t>(*src, b, pat, gains, r.x0, r.x1, y);
    });
    return 1;
}

// Modes 1 and 2 for the group of T. A grey image is given a colour block of
// its depth (the grey replicated outside the region) and its entry block
// serves as the mosaic plane; a colour image keeps its block and gets a
// grey plane of its own. Every block is allocated before the image changes.
template <class T>
int32_t Demosaic(CImgBuff* image, uint32_t mode, const BayerPattern& pat, const double* gains, const ImgRect& r) {
    C_ImgBuff& b = *image->buffer;
    const int32_t w = b.width, h = b.height;
    const bool grey = b.format <= kImgGray32;
    const bool whole = r.x0 == 0 && r.y0 == 0 && r.x1 == w - 1 && r.y1 == h - 1;
    const bool xtrans = mode == 1 && pat.width != 2;
    const bool wide = xtrans && sizeof(T) != 4;  // 32-bit samples from a narrower image
    const int32_t colourFormat = sizeof(T) == 1 ? kImgRgb8 : sizeof(T) == 2 ? kImgRgb16 : kImgRgb32;

    C_ImgBuff colour;
    if (grey) {
        colour.pixels = ImgAllocPixelsUncleared(static_cast<uint64_t>(w) * static_cast<uint64_t>(h), 3 * sizeof(T));
        if (!colour.pixels) return 0;
        colour.format = colourFormat;
        colour.width = w;
        colour.height = h;
    }
    PlaneGuard mGuard, pGuard;
    void* m = nullptr;
    if (!grey || wide) {
        if (xtrans) {
            uint32_t* plane = NewPlane<uint32_t>(w, h);
            mGuard.block = reinterpret_cast<uint8_t*>(plane);
            if (plane) FillGreyPlane(b, plane);
            m = plane;
        } else {
            T* plane = NewPlane<T>(w, h);
            mGuard.block = reinterpret_cast<uint8_t*>(plane);
            if (plane) FillGreyPlane(b, plane);
            m = plane;
        }
        if (!m) return 0;
    }
    // Mode 2 works in bands of rows; each band keeps the green of three
    // rows (the row being coloured and its neighbours) in a ring.
    const int32_t rows = r.y1 - r.y0 + 1;
    const int32_t bandRows = std::max<int32_t>(16, static_cast<int32_t>((rows + 4 * PoolGetProcessorCount() - 1) / (4 * PoolGetProcessorCount())));
    const int32_t bands = (rows + bandRows - 1) / bandRows;
    T* rings = nullptr;
    if (mode == 2) {
        rings = NewPlane<T>(w, 3 * bands);
        pGuard.block = reinterpret_cast<uint8_t*>(rings);
        if (!rings) return 0;
    }
    C_ImgBuff source;
    if (grey) {
        source.TakePixels(&b);
        b.TakePixels(&colour);
        if (!whole) ReplicateGrey<T>(source, b);
        if (!m) m = source.pixels;
    }

    const bool direct = b.format == colourFormat;
    const double* g = UnitGains(gains) ? nullptr : gains;
    if (xtrans) {
        const Run<T, uint32_t> run{static_cast<uint32_t*>(m), &b, direct, w, h, &pat, g, r.x0, r.y0, r.x1, r.y1};
        ImgForEachRegionRow(r, [&](int32_t y) { LinearXtransRow(run, y); });
        return 1;
    }
    const Run<T> run{static_cast<T*>(m), &b, direct, w, h, &pat, g, r.x0, r.y0, r.x1, r.y1};
    if (mode == 1) {
        ImgForEachRegionRow(r, [&](int32_t y) { Linear2x2Row(run, y); });
        return 1;
    }
    if (g) ImgForEachRegionRow(r, [&](int32_t y) { GainRow(run, y); });
    // Green over the columns of the region grown by one pixel and the rows
    // next to each coloured row, so that the colour step reads no unset green.
    const int32_t gx0 = std::max(r.x0 - 1, 0), gx1 = std::min(r.x1 + 1, w - 1);
    auto band = [&](uint64_t first, uint64_t count) {
        for (uint64_t k = first; k < first + count; ++k) {
            T* ring = rings + static_cast<int64_t>(k) * 3 * w;
            const auto green = [&](int32_t y) { return ring + (y % 3) * static_cast<int64_t>(w); };
            const int32_t ya = r.y0 + static_cast<int32_t>(k) * bandRows, yb = std::min(ya + bandRows - 1, r.y1);
            int32_t next = std::max(ya - 1, 0);
            for (int32_t y = ya; y <= yb; ++y) {
                for (; next <= std::min(y + 1, h - 1); ++next) GreenRow(run, next, gx0, gx1, green(next));
                const T* rowsP[3] = {y > 0 ? green(y - 1) : nullptr, green(y), y + 1 < h ? green(y + 1) : nullptr};
                ColourRow(run, y, rowsP);
            }
        }
    };
    PoolParallelRun(static_cast<uint64_t>(bands), band);
    return 1;
}

}  // namespace

int32_t ImgBayer(CImgBuff* image, uint32_t mode, uint32_t pattern, const double* gains, const ImgRect* region) {
    if (!image || !image->buffer || mode > 2 || pattern >= kBayerPatternCount) return 0;
    ImgRect r;
    if (!ImgGetRoi(&r, image, region)) return 0;
    if (r.x1 - r.x0 < 1 || r.y1 - r.y0 < 1) return 0;
    const BayerPattern& pat = g_BayerPatterns[pattern];
    if (mode == 0) return Mosaic(image, pat, gains, r);
    switch (GroupBits(image->buffer->format)) {
        case 8: return Demosaic<uint8_t>(image, mode, pat, gains, r);
        case 16: return Demosaic<uint16_t>(image, mode, pat, gains, r);
        default: return Demosaic<uint32_t>(image, mode, pat, gains, r);
    }
}
