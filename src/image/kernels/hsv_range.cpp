#include "image/kernels/hsv_range.h"

#include <algorithm>
#include <cstring>
#include <new>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "image/colour.h"
#include "image/kernels/kernel_frame.h"
#include "image/pool.h"

namespace {

bool HueInRange(uint16_t hue, uint16_t centre, uint16_t halfWidth) {
    if (halfWidth >= 32768) return true;
    const uint16_t lo = static_cast<uint16_t>(centre - halfWidth), hi = static_cast<uint16_t>(centre + halfWidth);
    return lo <= hi ? (hue >= lo && hue <= hi) : (hue >= lo || hue <= hi);
}

// The level a pixel gets from its match.
struct LevelRule {
    bool reverse, fill, grey;
    uint8_t operator()(bool match) const {
        const bool kept = match != reverse;
        const uint8_t removed = fill ? kImgLevelWhite : kImgLevelBlack;
        if (!kept) return removed;
        if (!grey) return kImgLevelKeep;
        return fill ? kImgLevelBlack : kImgLevelWhite;
    }
};

// Runs decide(x0, y, n, levels) over the job's rows in spans and writes the
// levels; the region is intersected with the image first.
template <class Job, class Decide>
void ForEachSpan(const Job& in, uint64_t first, uint64_t count, Decide&& decide) {
    Job job = in;
    if (!ImgJobRegionInside(job.image ? job.image->buffer : nullptr, &job.x0, &job.y0, &job.x1, &job.y1)) return;
    C_ImgBuff& b = *job.image->buffer;
    uint8_t levels[kImgSpanPixels];
    for (uint64_t i = first; i < first + count; ++i) {
        const int64_t y = in.y0 + static_cast<int64_t>(i);
        if (y < job.y0 || y > job.y1) continue;
        for (int32_t x = job.x0; x <= job.x1; x += kImgSpanPixels) {
            const int32_t n = std::min(kImgSpanPixels, job.x1 - x + 1);
            decide(b, x, static_cast<int32_t>(y), n, levels);
            ImgWriteLevelsSpan(b, x, static_cast<int32_t>(y), n, levels);
        }
    }
}

LevelRule RuleOf(const HsvRangeJob& job) { return LevelRule{job.reverse != 0, job.fill != 0, job.grey != 0}; }

// The HSV16 range test of 8-bit RGB pixels, exact but without a division.
// Widening by 257 scales max, min and every difference alike, so with the
// 8-bit largest channel m and spread d = m - min (d = 0: H = 0, S = 0):
//   V = 257 m;  S = d * 65534 / m;
//   H = t (R largest; t < 0 wraps to 65535 + t), t + 21844 (G) or t + 43688
//   (B), with t = trunc(n / d), n = 10922 x (G - B, B - R or R - G).
// The hue range becomes at most two intervals of t per branch, and, d being
// positive, trunc(n / d) >= A becomes n - a d >= e, trunc(n / d) <= B
// becomes n - b d <= f. |a|, |b| <= 32767 (16-bit factors); |n| <= 10922 d.
struct Rgb8HsvTest {
    int32_t valLo, valHi;  // m range (valLo > valHi: none)
    int32_t satLo, satHi;  // 65534 d >= satLo m and 65534 d < satHi m
    int32_t greyMatch;     // d = 0: the hue 0 and saturation 0 in range
    int32_t count[3];      // t intervals per branch (R, G, B)
    int32_t a[3][2], e[3][2], b[3][2], f[3][2];
};

// The t intervals of one branch whose hues lie in the range, merged; false
// when more than two remain (cannot happen: two arcs meet in at most two).
bool BranchIntervals(const HsvRangeJob& job, int32_t branch, int32_t lo[2], int32_t hi[2], int32_t* count) {
    struct Span {
        int32_t from, to;
    };
    // Pieces of the branch: t range and the hue offset on it.
    struct Piece {
        int32_t tFrom, tTo, offset;
    };
    Piece pieces[2];
    int32_t pieceCount = 1;
    if (branch == 0) {
        pieces[0] = {-10922, -1, 65535};
        pieces[1] = {0, 10922, 0};
        pieceCount = 2;
    } else {
        pieces[0] = {-10922, 10922, branch == 1 ? 21844 : 43688};
    }
    Span hues[2];
    int32_t hueCount = 1;
    if (job.hueHalfWidth >= 32768) {
        hues[0] = {0, 65535};
    } else {
        const int32_t l = static_cast<uint16_t>(job.hueCentre - job.hueHalfWidth);
        const int32_t h = static_cast<uint16_t>(job.hueCentre + job.hueHalfWidth);
        if (l <= h) {
            hues[0] = {l, h};
        } else {
            hues[0] = {0, h};
            hues[1] = {l, 65535};
            hueCount = 2;
        }
    }
    Span spans[4];
    int32_t n = 0;
    for (int32_t p = 0; p < pieceCount; ++p)
        for (int32_t k = 0; k < hueCount; ++k) {
            const int32_t from = std::max(pieces[p].tFrom, hues[k].from - pieces[p].offset);
            const int32_t to = std::min(pieces[p].tTo, hues[k].to - pieces[p].offset);
            if (from <= to) spans[n++] = {from, to};
        }
    for (int32_t i = 1; i < n; ++i)  // at most four: by start
        for (int32_t j = i; j > 0 && spans[j].from < spans[j - 1].from; --j) std::swap(spans[j], spans[j - 1]);
    *count = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (*count > 0 && spans[i].from <= hi[*count - 1] + 1) {
            hi[*count - 1] = std::max(hi[*count - 1], spans[i].to);
            continue;
        }
        if (*count == 2) return false;
        lo[*count] = spans[i].from;
        hi[*count] = spans[i].to;
        ++*count;
    }
    return true;
}

bool MakeRgb8HsvTest(const HsvRangeJob& job, Rgb8HsvTest* t) {
    // 257 m in [valMin, valMax].
    t->valLo = (job.valMin + 256) / 257;
    t->valHi = job.valMax / 257;
    t->satLo = job.satMin;
    t->satHi = job.satMax + 1;
    t->greyMatch = job.satMin == 0 && HueInRange(0, job.hueCentre, job.hueHalfWidth) ? 1 : 0;
    for (int32_t branch = 0; branch < 3; ++branch) {
        int32_t lo[2], hi[2];
        if (!BranchIntervals(job, branch, lo, hi, &t->count[branch])) return false;
        for (int32_t k = 0; k < t->count[branch]; ++k) {
            // trunc(n / d) >= A: n >= A d (A >= 1), n > (A - 1) d (A <= 0).
            t->a[branch][k] = lo[k] >= 1 ? lo[k] : lo[k] - 1;
            t->e[branch][k] = lo[k] >= 1 ? 0 : 1;
            // trunc(n / d) <= B: n < (B + 1) d (B >= 0), n <= B d (B < 0).
            t->b[branch][k] = hi[k] >= 0 ? hi[k] + 1 : hi[k];
            t->f[branch][k] = hi[k] >= 0 ? -1 : 0;
        }
    }
    return true;
}

bool Rgb8InRange(const Rgb8HsvTest& t, int32_t r, int32_t g, int32_t b) {
    const int32_t m = std::max(r, std::max(g, b));
    const int32_t d = m - std::min(r, std::min(g, b));
    if (m < t.valLo || m > t.valHi) return false;
    if (d == 0) return t.greyMatch != 0;
    const int32_t s = 65534 * d;
    if (s < t.satLo * m || s >= t.satHi * m) return false;
    const int32_t branch = r == m ? 0 : g == m ? 1 : 2;
    const int32_t n = 10922 * (branch == 0 ? g - b : branch == 1 ? b - r : r - g);
    for (int32_t k = 0; k < t.count[branch]; ++k)
        if (n - t.a[branch][k] * d >= t.e[branch][k] && n - t.b[branch][k] * d <= t.f[branch][k]) return true;
    return false;
}

// What the extraction writes into an 8-bit RGB pixel: removed pixels get
// `removed` in every channel; kept ones keep their colour, or get `kept`
// when the output is a mask.
struct Rgb8Output {
    bool reverse, mask;
    uint8_t removed, kept;
};

Rgb8Output OutputOf(const LevelRule& rule) {
    const uint8_t removed = rule.fill ? 0xFF : 0x00;
    return Rgb8Output{rule.reverse, rule.grey, removed, static_cast<uint8_t>(~removed)};
}

void ExtractRgb8Plain(const Rgb8HsvTest& t, const Rgb8Output& o, uint8_t* p, int32_t n) {
    for (int32_t i = 0; i < n; ++i, p += 3) {
        const bool kept = Rgb8InRange(t, p[0], p[1], p[2]) != o.reverse;
        if (kept && !o.mask) continue;
        p[0] = p[1] = p[2] = kept ? o.kept : o.removed;
    }
}

#if defined(__x86_64__)
#define KV_AVX2 __attribute__((target("avx2")))

// 16 masks of 16 bits to 16 bytes, in order.
KV_AVX2 inline __m128i NarrowMasks(__m256i v) {
    return _mm256_castsi256_si128(_mm256_permute4x64_epi64(_mm256_packs_epi16(v, v), 0x08));
}

// pmaddwd factors that turn the pairs (diff, d) into 10922 diff - factor d.
KV_AVX2 inline __m256i HueFactors(int32_t factor) {
    return _mm256_set1_epi32(static_cast<int32_t>(10922u | (static_cast<uint32_t>(static_cast<uint16_t>(-factor)) << 16)));
}

// 16 pixels per step: the channels are gathered from the 48 bytes by byte
// shuffles, the tests run on 16-bit lanes (hue factors through pmaddwd,
// saturation products in 32 bits), and each pixel's kept mask is spread
// back over its three bytes. Returns the pixels done; the plain loop
// finishes the span.
KV_AVX2 int32_t ExtractRgb8Avx2(const Rgb8HsvTest& t, const Rgb8Output& o, uint8_t* p, int32_t n) {
    const __m128i rA = _mm_setr_epi8(0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i rB = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, 2, 5, 8, 11, 14, -1, -1, -1, -1, -1);
    const __m128i rC = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 1, 4, 7, 10, 13);
    const __m128i gA = _mm_setr_epi8(1, 4, 7, 10, 13, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i gB = _mm_setr_epi8(-1, -1, -1, -1, -1, 0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1);
    const __m128i gC = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 2, 5, 8, 11, 14);
    const __m128i bA = _mm_setr_epi8(2, 5, 8, 11, 14, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i bB = _mm_setr_epi8(-1, -1, -1, -1, -1, 1, 4, 7, 10, 13, -1, -1, -1, -1, -1, -1);
    const __m128i bC = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 3, 6, 9, 12, 15);
    const __m128i spread[3] = {_mm_setr_epi8(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5),
                               _mm_setr_epi8(5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10),
                               _mm_setr_epi8(10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15)};
    const bool anyValue = t.valLo <= t.valHi && t.valLo <= 255;
    const __m128i valLo = _mm_set1_epi8(static_cast<char>(std::min(t.valLo, 255)));
    const __m128i valHi = _mm_set1_epi8(static_cast<char>(std::min(t.valHi, 255)));
    const __m128i valAny = _mm_set1_epi8(anyValue ? -1 : 0);
    const __m128i grey = _mm_set1_epi8(t.greyMatch ? -1 : 0);
    const __m128i reverse = _mm_set1_epi8(o.reverse ? -1 : 0);
    const __m128i removed = _mm_set1_epi8(static_cast<char>(o.removed));
    const __m128i keptLevel = _mm_set1_epi8(static_cast<char>(o.kept));
    const __m128i ones = _mm_set1_epi8(-1);
    const __m256i satLo = _mm256_set1_epi32(t.satLo), satHi = _mm256_set1_epi32(t.satHi), satK = _mm256_set1_epi32(65534);
    // Factors of the interval bounds, and e - 1 and f to compare with.
    __m256i lower[3][2], upper[3][2], lowerMin[3][2], upperMax[3][2];
    for (int32_t k = 0; k < 3; ++k)
        for (int32_t j = 0; j < t.count[k]; ++j) {
            lower[k][j] = HueFactors(t.a[k][j]);
            upper[k][j] = HueFactors(t.b[k][j]);
            lowerMin[k][j] = _mm256_set1_epi32(t.e[k][j] - 1);
            upperMax[k][j] = _mm256_set1_epi32(t.f[k][j]);
        }
    int32_t x = 0;
    for (; x + 16 <= n; x += 16) {
        __m128i* q = reinterpret_cast<__m128i*>(p + 3 * x);
        const __m128i va = _mm_loadu_si128(q), vb = _mm_loadu_si128(q + 1), vc = _mm_loadu_si128(q + 2);
        const __m128i r8 = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(va, rA), _mm_shuffle_epi8(vb, rB)), _mm_shuffle_epi8(vc, rC));
        const __m128i g8 = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(va, gA), _mm_shuffle_epi8(vb, gB)), _mm_shuffle_epi8(vc, gC));
        const __m128i b8 = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(va, bA), _mm_shuffle_epi8(vb, bB)), _mm_shuffle_epi8(vc, bC));
        const __m128i m8 = _mm_max_epu8(r8, _mm_max_epu8(g8, b8));
        const __m128i d8 = _mm_sub_epi8(m8, _mm_min_epu8(r8, _mm_min_epu8(g8, b8)));
        const __m128i isR = _mm_cmpeq_epi8(r8, m8);
        const __m128i isG = _mm_andnot_si128(isR, _mm_cmpeq_epi8(g8, m8));
        const __m128i isB = _mm_andnot_si128(_mm_or_si128(isR, isG), ones);
        const __m128i value = _mm_and_si128(
            valAny, _mm_and_si128(_mm_cmpeq_epi8(_mm_max_epu8(m8, valLo), m8), _mm_cmpeq_epi8(_mm_min_epu8(m8, valHi), m8)));

        const __m256i r = _mm256_cvtepu8_epi16(r8), g = _mm256_cvtepu8_epi16(g8), b = _mm256_cvtepu8_epi16(b8);
        const __m256i d = _mm256_cvtepu8_epi16(d8);
        __m128i hue = _mm_setzero_si128();
        const __m128i isBranch[3] = {isR, isG, isB};
        for (int32_t k = 0; k < 3; ++k) {
            if (t.count[k] == 0) continue;
            const __m256i diff = k == 0 ? _mm256_sub_epi16(g, b) : k == 1 ? _mm256_sub_epi16(b, r) : _mm256_sub_epi16(r, g);
            const __m256i lo = _mm256_unpacklo_epi16(diff, d), hi = _mm256_unpackhi_epi16(diff, d);
            __m256i in = _mm256_setzero_si256();
            for (int32_t j = 0; j < t.count[k]; ++j) {
                const __m256i above = _mm256_packs_epi32(_mm256_cmpgt_epi32(_mm256_madd_epi16(lo, lower[k][j]), lowerMin[k][j]),
                                                         _mm256_cmpgt_epi32(_mm256_madd_epi16(hi, lower[k][j]), lowerMin[k][j]));
                const __m256i beyond = _mm256_packs_epi32(_mm256_cmpgt_epi32(_mm256_madd_epi16(lo, upper[k][j]), upperMax[k][j]),
                                                          _mm256_cmpgt_epi32(_mm256_madd_epi16(hi, upper[k][j]), upperMax[k][j]));
                in = _mm256_or_si256(in, _mm256_andnot_si256(beyond, above));
            }
            hue = _mm_or_si128(hue, _mm_and_si128(isBranch[k], NarrowMasks(in)));
        }
        // 65534 d >= satLo m and 65534 d < satHi m, pixels 0-7 and 8-15.
        __m256i sat[2];
        for (int32_t h = 0; h < 2; ++h) {
            const __m256i d32 = _mm256_cvtepu8_epi32(h ? _mm_srli_si128(d8, 8) : d8);
            const __m256i m32 = _mm256_cvtepu8_epi32(h ? _mm_srli_si128(m8, 8) : m8);
            const __m256i sd = _mm256_mullo_epi32(d32, satK);
            sat[h] = _mm256_andnot_si256(_mm256_cmpgt_epi32(_mm256_mullo_epi32(m32, satLo), sd),
                                         _mm256_cmpgt_epi32(_mm256_mullo_epi32(m32, satHi), sd));
        }
        const __m128i satOk = NarrowMasks(_mm256_permute4x64_epi64(_mm256_packs_epi32(sat[0], sat[1]), 0xD8));
        const __m128i flat = _mm_cmpeq_epi8(d8, _mm_setzero_si128());
        const __m128i match = _mm_and_si128(value, _mm_blendv_epi8(_mm_and_si128(hue, satOk), grey, flat));
        const __m128i kept = _mm_xor_si128(match, reverse);
        const __m128i in[3] = {va, vb, vc};
        for (int32_t i = 0; i < 3; ++i) {
            const __m128i keep = _mm_shuffle_epi8(kept, spread[i]);
            _mm_storeu_si128(q + i, _mm_blendv_epi8(removed, o.mask ? keptLevel : in[i], keep));
        }
    }
    return x;
}

bool HaveAvx2() {
    static const bool have = __builtin_cpu_supports("avx2");
    return have;
}
#endif

// The range test applied to n RGB8 pixels at p, in place.
void ExtractRgb8(const Rgb8HsvTest& t, const Rgb8Output& o, uint8_t* p, int32_t n) {
    int32_t done = 0;
#if defined(__x86_64__)
    if (HaveAvx2()) done = ExtractRgb8Avx2(t, o, p, n);
#endif
    ExtractRgb8Plain(t, o, p + 3 * static_cast<ptrdiff_t>(done), n - done);
}

}  // namespace

void ImgExtractHsvRows(void* ctx, uint64_t first, uint64_t count) {
    const HsvRangeJob& job = *static_cast<const HsvRangeJob*>(ctx);
    const LevelRule rule = RuleOf(job);
    // 8-bit RGB rows are decided and written in place by the exact integer
    // test above, without the per-pixel HSV conversion.
    Rgb8HsvTest test;
    if (job.image && job.image->buffer && job.image->buffer->format == kImgRgb8 && MakeRgb8HsvTest(job, &test)) {
        HsvRangeJob clipped = job;
        C_ImgBuff& b = *job.image->buffer;
        if (!ImgJobRegionInside(&b, &clipped.x0, &clipped.y0, &clipped.x1, &clipped.y1)) return;
        const Rgb8Output output = OutputOf(rule);
        for (uint64_t i = first; i < first + count; ++i) {
            const int64_t y = job.y0 + static_cast<int64_t>(i);
            if (y < clipped.y0 || y > clipped.y1) continue;
            ExtractRgb8(test, output, b.PixelAt(clipped.x0, static_cast<int32_t>(y)), clipped.x1 - clipped.x0 + 1);
        }
        return;
    }
    ForEachSpan(job, first, count, [&](const C_ImgBuff& b, int32_t x, int32_t y, int32_t n, uint8_t* levels) {
        uint16_t hsv[3 * kImgSpanPixels];
        ImgReadHsv16Span(b, x, y, n, hsv);
        for (int32_t k = 0; k < n; ++k) {
            const uint16_t h = hsv[3 * k], s = hsv[3 * k + 1], v = hsv[3 * k + 2];
            levels[k] = rule(s >= job.satMin && s <= job.satMax && v >= job.valMin && v <= job.valMax &&
                             HueInRange(h, job.hueCentre, job.hueHalfWidth));
        }
    });
}

void ImgExtractBrightnessGray8Rows(void* ctx, uint64_t first, uint64_t count) {
    const HsvRangeJob& job = *static_cast<const HsvRangeJob*>(ctx);
    const LevelRule rule = RuleOf(job);
    const uint8_t lo = static_cast<uint8_t>(job.valMin >> 8), hi = static_cast<uint8_t>(job.valMax >> 8);
    ForEachSpan(job, first, count, [&](const C_ImgBuff& b, int32_t x, int32_t y, int32_t n, uint8_t* levels) {
        uint8_t grey[kImgSpanPixels];
        ImgReadGray8Span(b, x, y, n, grey);
        for (int32_t k = 0; k < n; ++k) levels[k] = rule(grey[k] >= lo && grey[k] <= hi);
    });
}

void ImgExtractBrightnessGray16Rows(void* ctx, uint64_t first, uint64_t count) {
    const HsvRangeJob& job = *static_cast<const HsvRangeJob*>(ctx);
    const LevelRule rule = RuleOf(job);
    ForEachSpan(job, first, count, [&](const C_ImgBuff& b, int32_t x, int32_t y, int32_t n, uint8_t* levels) {
        uint16_t grey[kImgSpanPixels];
        ImgReadGray16Span(b, x, y, n, grey);
        for (int32_t k = 0; k < n; ++k) levels[k] = rule(grey[k] >= job.valMin && grey[k] <= job.valMax);
    });
}

void ImgExtractByTableGray8Rows(void* ctx, uint64_t first, uint64_t count) {
    const ColorTableJob& job = *static_cast<const ColorTableJob*>(ctx);
    if (!job.table) return;
    const LevelRule rule{false, job.fill != 0, job.grey != 0};
    ForEachSpan(job, first, count, [&](const C_ImgBuff& b, int32_t x, int32_t y, int32_t n, uint8_t* levels) {
        uint8_t grey[kImgSpanPixels];
        ImgReadGray8Span(b, x, y, n, grey);
        for (int32_t k = 0; k < n; ++k) levels[k] = rule(job.table->grey[grey[k]] != 0);
    });
}

void ImgExtractByTableRgb8Rows(void* ctx, uint64_t first, uint64_t count) {
    const ColorTableJob& job = *static_cast<const ColorTableJob*>(ctx);
    if (!job.table) return;
    const LevelRule rule{false, job.fill != 0, job.grey != 0};
    ForEachSpan(job, first, count, [&](const C_ImgBuff& b, int32_t x, int32_t y, int32_t n, uint8_t* levels) {
        uint8_t rgb[3 * kImgSpanPixels];
        ImgReadRgb8Span(b, x, y, n, rgb);
        for (int32_t k = 0; k < n; ++k) {
            const uint8_t* p = rgb + 3 * k;
            levels[k] = rule(job.table->cube[(p[0] >> 3) * 1024 + (p[1] >> 3) * 32 + (p[2] >> 3)] != 0);
        }
    });
}

int32_t ImgExtractHsvRange(CImgBuff* image, uint16_t hueCentre, uint16_t hueHalfWidth, uint16_t satMin, uint16_t satMax,
                           uint16_t valMin, uint16_t valMax, uint32_t reverse, uint32_t grey, uint32_t fill,
                           const ImgRect* roi) {
    if (hueHalfWidth > 32768 || satMin > satMax || valMin > valMax || !image || !image->buffer) return 0;
    ImgRect r;
    if (!ImgGetRoi(&r, image, roi)) return 0;
    HsvRangeJob job{image, hueCentre, hueHalfWidth, satMin, satMax, valMin, valMax, reverse, fill, grey, r.x0, r.y0, r.x1, r.y1};
    const int32_t format = image->buffer->format;
    PoolWorkerFn worker = ImgExtractHsvRows;
    if (format <= kImgGray32 && satMin == 0) worker = format == kImgGray8 ? ImgExtractBrightnessGray8Rows : ImgExtractBrightnessGray16Rows;
    PoolParallelFor(worker, &job, static_cast<uint64_t>(r.y1 - r.y0 + 1));
    return 1;
}

int32_t ImgExtractBrightnessRange(CImgBuff* image, uint16_t low, uint16_t high, uint32_t reverse, uint32_t grey, uint32_t fill,
                                  const ImgRect* roi) {
    if (!image || !image->buffer) return 0;
    ImgRect r;
    if (!ImgGetRoi(&r, image, roi)) return 0;
    HsvRangeJob job{image, 0, 32768, 0, 65535, low, high, reverse, fill, grey, r.x0, r.y0, r.x1, r.y1};
    const PoolWorkerFn worker =
        ImgFormatIn(ImgFormat8BitMask, image->buffer->format) ? ImgExtractBrightnessGray8Rows : ImgExtractBrightnessGray16Rows;
    PoolParallelFor(worker, &job, static_cast<uint64_t>(r.y1 - r.y0 + 1));
    return 1;
}

ColorRangeTable* ImgColorRangeTableCreate(uint16_t hueCentre, uint16_t hueHalfWidth, uint16_t satMin, uint16_t satMax,
                                          uint16_t valMin, uint16_t valMax, int32_t reverse) {
    if (hueHalfWidth > 32768 || satMin > satMax || valMin > valMax) return nullptr;
    ColorRangeTable* t = new (std::nothrow) ColorRangeTable;
    if (!t) return nullptr;
    const uint8_t base = reverse ? 1 : 0, mark = reverse ? 0 : 1;
    t->greyFlag = 0;
    std::memset(t->grey, base, sizeof t->grey);
    std::memset(t->cube, base, sizeof t->cube);
    // A 5-bit value widened to 16 bits by repeating its bits: 0 -> 0, 31 -> 65535.
    const auto widen = [](uint32_t v) { return static_cast<uint16_t>((v << 11) | (v << 6) | (v << 1) | (v >> 4)); };
    for (uint32_t r5 = 0; r5 < 32; ++r5)
        for (uint32_t g5 = 0; g5 < 32; ++g5)
            for (uint32_t b5 = 0; b5 < 32; ++b5) {
                uint16_t h, s, v;
                ImgRgb16ToHsv16(widen(r5), widen(g5), widen(b5), &h, &s, &v);
                if (s >= satMin && s <= satMax && v >= valMin && v <= valMax && HueInRange(h, hueCentre, hueHalfWidth))
                    t->cube[r5 * 1024 + g5 * 32 + b5] = mark;
            }
    if (satMin > 0) return t;
    t->greyFlag = 1;
    for (uint32_t v = valMin >> 8; v <= static_cast<uint32_t>(valMax >> 8); ++v) t->grey[v] = mark;
    return t;
}

void ImgHueRangeAdd(uint16_t centre, uint16_t halfWidth, uint16_t hue, uint16_t* newCentre, uint16_t* newHalfWidth) {
    uint16_t c = centre, w = halfWidth;
    if (halfWidth < 32768 && !HueInRange(hue, centre, halfWidth)) {
        const int32_t lo = (centre - halfWidth + 65536) % 65536, hi = (centre + halfWidth) % 65536;
        const int32_t dLo = (lo - hue + 65536) % 65536, dHi = (hue - hi + 65536) % 65536;
        int32_t step;
        if (dHi < dLo) {
            step = (dHi + 1) / 2;
            c = static_cast<uint16_t>((centre + step) % 65536);
        } else {
            step = (dLo + 1) / 2;
            c = static_cast<uint16_t>((centre - step + 65536) % 65536);
        }
        w = static_cast<uint16_t>(std::min(halfWidth + step, 32768));
    }
    if (newCentre) *newCentre = c;
    if (newHalfWidth) *newHalfWidth = w;
}
