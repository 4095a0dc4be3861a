#include "image/bitmask.h"

#include <immintrin.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "image/pool.h"

// ---- masks ----

BitMask* ImgBitMaskCreate(int32_t width, int32_t height) {
    if (width < 1 || height < 1) return nullptr;
    BitMask* m = static_cast<BitMask*>(std::malloc(sizeof(BitMask)));
    if (!m) return nullptr;
    m->width = width;
    m->height = height;
    m->pitch = (static_cast<uint32_t>(width) + 31u) & ~31u;
    const uint64_t words = static_cast<uint64_t>(m->pitch >> 5) * static_cast<uint64_t>(height);
    m->words = static_cast<uint32_t*>(std::calloc(words, sizeof(uint32_t)));
    if (!m->words) {
        std::free(m);
        return nullptr;
    }
    return m;
}

BitMask* ImgBitMaskClone(const BitMask* mask) {
    if (!mask) return nullptr;
    BitMask* m = ImgBitMaskCreate(mask->width, mask->height);
    if (!m) return nullptr;
    std::memcpy(m->words, mask->words, static_cast<uint64_t>(mask->pitch >> 5) * mask->height * sizeof(uint32_t));
    return m;
}

BitMask* ImgBitMaskComplement(const BitMask* mask) {
    BitMask* c = ImgBitMaskCreate(mask->width, mask->height);
    if (!c) return nullptr;
    const uint32_t words = ImgBitMaskWordsPerRow(mask);
    const uint32_t tail = (mask->width & 31) ? 0xFFFFFFFFu << (32 - (mask->width & 31)) : 0xFFFFFFFFu;
    for (int32_t y = 0; y < mask->height; ++y) {
        const uint32_t* s = ImgBitMaskRow(mask, y);
        uint32_t* d = ImgBitMaskRow(c, y);
        for (uint32_t i = 0; i < words; ++i) d[i] = ~s[i];
        d[words - 1] &= tail;
    }
    return c;
}

void ImgBitMaskDestroy(BitMask* mask) {
    if (!mask) return;
    std::free(mask->words);
    std::free(mask);
}

int32_t ImgBitMaskSet(BitMask* mask, int32_t x, int32_t y, uint32_t value) {
    if (!mask || x < 0 || y < 0 || x >= mask->width || y >= mask->height) return 0;
    uint32_t* row = ImgBitMaskRow(mask, y);
    if (value) {
        ImgBitSet(row, x);
    } else {
        ImgBitClear(row, x);
    }
    return 1;
}

int32_t ImgBitMaskGet(const BitMask* mask, int32_t x, int32_t y) {
    if (!mask || x < 0 || y < 0 || x >= mask->width || y >= mask->height) return 0;
    return ImgBitTest(ImgBitMaskRow(mask, y), x) ? 1 : 0;
}

namespace {

// Bits first .. last of one word (positions within the word, MSB first).
inline uint32_t WordBits(int32_t first, int32_t last) {
    return (0xFFFFFFFFu >> first) & (0xFFFFFFFFu << (31 - last));
}

}  // namespace

void ImgBitRowSetRange(uint32_t* row, int32_t first, int32_t last) {
    if (first > last) return;
    int32_t w0 = first >> 5, w1 = last >> 5;
    if (w0 == w1) {
        row[w0] |= WordBits(first & 31, last & 31);
        return;
    }
    row[w0] |= 0xFFFFFFFFu >> (first & 31);
    for (int32_t w = w0 + 1; w < w1; ++w) row[w] = 0xFFFFFFFFu;
    row[w1] |= 0xFFFFFFFFu << (31 - (last & 31));
}

void ImgBitRowClearRange(uint32_t* row, int32_t first, int32_t last) {
    if (first > last) return;
    int32_t w0 = first >> 5, w1 = last >> 5;
    if (w0 == w1) {
        row[w0] &= ~WordBits(first & 31, last & 31);
        return;
    }
    row[w0] &= ~(0xFFFFFFFFu >> (first & 31));
    for (int32_t w = w0 + 1; w < w1; ++w) row[w] = 0;
    row[w1] &= ~(0xFFFFFFFFu << (31 - (last & 31)));
}

namespace {

template <bool kSet>
int32_t NextBit(const uint32_t* row, int32_t x, int32_t limit) {
    if (x > limit) return -1;
    int32_t w = x >> 5;
    const int32_t lastWord = limit >> 5;
    uint32_t bits = (kSet ? row[w] : ~row[w]) & (0xFFFFFFFFu >> (x & 31));
    while (!bits) {
        if (++w > lastWord) return -1;
        bits = kSet ? row[w] : ~row[w];
    }
    const int32_t r = (w << 5) + __builtin_clz(bits);
    return r <= limit ? r : -1;
}

}  // namespace

int32_t ImgBitRowNextSet(const uint32_t* row, int32_t x, int32_t limit) { return NextBit<true>(row, x, limit); }
int32_t ImgBitRowNextClear(const uint32_t* row, int32_t x, int32_t limit) { return NextBit<false>(row, x, limit); }

int32_t ImgBitRowPrevClear(const uint32_t* row, int32_t x, int32_t limit) {
    if (x < limit) return -1;
    int32_t w = x >> 5;
    const int32_t firstWord = limit >> 5;
    uint32_t bits = ~row[w] & (0xFFFFFFFFu << (31 - (x & 31)));
    while (!bits) {
        if (--w < firstWord) return -1;
        bits = ~row[w];
    }
    const int32_t r = (w << 5) + 31 - __builtin_ctz(bits);
    return r >= limit ? r : -1;
}

// ---- seed fill ----

namespace {

bool VisitedTest(const SeedFill* f, int32_t x, int32_t y) {
    return ImgBitTest(ImgBitMaskRow(f->visited, y - f->y0), x - f->x0);
}
void VisitedMark(SeedFill* f, int32_t x, int32_t y) { ImgBitSet(ImgBitMaskRow(f->visited, y - f->y0), x - f->x0); }

// Doubles the ring; a wrapped ring moves its upper part to the new end.
int32_t GrowStack(SeedFillSpanStack* s) {
    if (s->capacity == 0 || s->capacity > 0x7FFFFFFFu) return 0;
    const uint32_t old = s->capacity;
    SeedFillSpan* e = static_cast<SeedFillSpan*>(std::realloc(s->entries, static_cast<uint64_t>(old) * 2 * sizeof(SeedFillSpan)));
    if (!e) return 0;
    s->entries = e;
    s->capacity = old * 2;
    if (s->write < s->read) {
        std::memmove(e + s->read + old, e + s->read, static_cast<uint64_t>(old - s->read) * sizeof(SeedFillSpan));
        s->read += static_cast<int32_t>(old);
    }
    return 1;
}

// Under 4-connectivity the shortest pending span is taken next.
void PickShortest(SeedFillSpanStack* s) {
    if (s->read == s->write) return;
    int32_t best = s->read;
    for (int32_t i = s->read; i != s->write; i = (i + 1) % static_cast<int32_t>(s->capacity)) {
        if (s->entries[i].last - s->entries[i].first < s->entries[best].last - s->entries[best].first) best = i;
    }
    std::swap(s->entries[best], s->entries[s->read]);
}

}  // namespace

SeedFill* ImgSeedFillCreate(int32_t x0, int32_t y0, int32_t x1, int32_t y1, SeedFillTest test, int32_t connectivity,
                            uint64_t user) {
    if (connectivity != 4 && connectivity != 8) return nullptr;
    if (x0 > x1 || y0 > y1) return nullptr;
    const int64_t w = static_cast<int64_t>(x1) - x0 + 1, h = static_cast<int64_t>(y1) - y0 + 1;
    if (w > 0x7FFFFFFF || h > 0x7FFFFFFF) return nullptr;
    SeedFill* f = static_cast<SeedFill*>(std::calloc(1, sizeof(SeedFill)));
    if (!f) return nullptr;
    f->stack = static_cast<SeedFillSpanStack*>(std::calloc(1, sizeof(SeedFillSpanStack)));
    const int64_t m = std::min(w, h);
    const uint64_t capacity = 2 * static_cast<uint64_t>((m + 1) / 2) + 1;
    if (f->stack) {
        f->stack->entries = static_cast<SeedFillSpan*>(std::malloc(capacity * sizeof(SeedFillSpan)));
        f->stack->capacity = static_cast<uint32_t>(capacity);
    }
    f->visited = ImgBitMaskCreate(static_cast<int32_t>(w), static_cast<int32_t>(h));
    if (!f->stack || !f->stack->entries || !f->visited) {
        ImgSeedFillDestroy(f);
        return nullptr;
    }
    f->x0 = x0;
    f->y0 = y0;
    f->x1 = x1;
    f->y1 = y1;
    f->orientation = w <= h ? 0 : 1;
    f->diagonal = connectivity == 8 ? 1 : 0;
    f->test = test;
    f->user = user;
    return f;
}

void ImgSeedFillDestroy(SeedFill* fill) {
    if (!fill) return;
    if (fill->stack) std::free(fill->stack->entries);
    std::free(fill->stack);
    ImgBitMaskDestroy(fill->visited);
    std::free(fill);
}

int32_t ImgSeedFillSpan(SeedFill* fill, int32_t x, int32_t y, int32_t* first, int32_t* last) {
    const bool alongX = fill->orientation == 0;
    const int32_t a = alongX ? x : y, b = alongX ? y : x;
    int32_t lo = a, hi = a;
    const auto report = [&] {
        if (first) *first = lo;
        if (last) *last = hi;
    };
    if (x < fill->x0 || x > fill->x1 || y < fill->y0 || y > fill->y1 || VisitedTest(fill, x, y)) {
        report();
        return 1;
    }
    VisitedMark(fill, x, y);
    if (!fill->test(x, y, fill->user, fill->visited)) {
        report();
        return 1;
    }
    const int32_t lower = alongX ? fill->x0 : fill->y0, upper = alongX ? fill->x1 : fill->y1;
    // The walk stops at a visited position without testing it, so that no
    // position is tested twice.
    const auto accept = [&](int32_t p) {
        const int32_t px = alongX ? p : b, py = alongX ? b : p;
        if (VisitedTest(fill, px, py)) return false;
        VisitedMark(fill, px, py);
        return fill->test(px, py, fill->user, fill->visited) != 0;
    };
    for (int32_t p = a - 1; p >= lower && accept(p); --p) lo = p;
    for (int32_t p = a + 1; p <= upper && accept(p); ++p) hi = p;
    report();
    SeedFillSpanStack* s = fill->stack;
    if ((static_cast<uint32_t>(s->write) + 1) % s->capacity == static_cast<uint32_t>(s->read) && !GrowStack(s)) return 0;
    s->entries[s->write] = SeedFillSpan{lo, hi, b};
    s->write = static_cast<int32_t>((static_cast<uint32_t>(s->write) + 1) % s->capacity);
    return 1;
}

int32_t ImgSeedFillRun(SeedFill* fill) {
    SeedFillSpanStack* s = fill->stack;
    const int32_t d = fill->diagonal ? 1 : 0;
    for (;;) {
        if (!fill->diagonal && s->capacity) PickShortest(s);
        if (s->capacity == 0 || s->read == s->write) return 1;
        const SeedFillSpan span = s->entries[s->read];
        s->read = static_cast<int32_t>((static_cast<uint32_t>(s->read) + 1) % s->capacity);
        for (int32_t line : {span.line - 1, span.line + 1}) {
            for (int64_t p = static_cast<int64_t>(span.first) - d; p <= static_cast<int64_t>(span.last) + d;) {
                int32_t lo, hi;
                const int32_t q = static_cast<int32_t>(p);
                if (!(fill->orientation == 0 ? ImgSeedFillSpan(fill, q, line, &lo, &hi) : ImgSeedFillSpan(fill, line, q, &lo, &hi)))
                    return 0;
                p = static_cast<int64_t>(hi) + 1;
            }
        }
    }
}

int32_t ImgSeedFillFrom(SeedFill* fill, int32_t x, int32_t y) {
    if (!fill || !fill->visited) return 0;
    ImgSeedFillSpan(fill, x, y, nullptr, nullptr);
    return ImgSeedFillRun(fill);
}

// ---- range and foreground masks ----

namespace {

// Packs n predicates (pixel i of the span -> bit x0 + i) into a mask row
// whose bits x0 .. x0 + n - 1 are clear; x0 is a multiple of 32.
template <class Pred>
void PackBits(uint32_t* row, int32_t x0, int32_t n, Pred&& pred) {
    uint32_t* w = row + (x0 >> 5);
    int32_t i = 0;
    for (; i + 32 <= n; i += 32) {
        uint32_t word = 0;
        for (int32_t k = 0; k < 32; ++k) word |= static_cast<uint32_t>(pred(i + k) ? 1u : 0u) << (31 - k);
        *w++ = word;
    }
    if (i < n) {
        uint32_t word = 0;
        for (int32_t k = 0; i + k < n; ++k) word |= static_cast<uint32_t>(pred(i + k) ? 1u : 0u) << (31 - k);
        *w = word;
    }
}

inline uint32_t Reverse16(uint32_t v) {
    v = ((v >> 1) & 0x5555u) | ((v & 0x5555u) << 1);
    v = ((v >> 2) & 0x3333u) | ((v & 0x3333u) << 2);
    v = ((v >> 4) & 0x0F0Fu) | ((v & 0x0F0Fu) << 4);
    return ((v >> 8) & 0x00FFu) | ((v & 0x00FFu) << 8);
}

// Bytes in [low, high] to bits, 32 at a time: the compare mask's bytes are
// reversed so that the first pixel lands in the word's top bit.
__attribute__((target("avx2"))) int32_t PackByteRangeAvx2(uint32_t* row, const uint8_t* p, int32_t n, uint8_t low, uint8_t high) {
    const __m256i lo = _mm256_set1_epi8(static_cast<char>(low)), span = _mm256_set1_epi8(static_cast<char>(high - low));
    const __m256i reverse = _mm256_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8, 7,
                                             6, 5, 4, 3, 2, 1, 0);
    int32_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i a = _mm256_sub_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i)), lo);
        __m256i m = _mm256_cmpeq_epi8(_mm256_min_epu8(a, span), a);
        m = _mm256_permute4x64_epi64(_mm256_shuffle_epi8(m, reverse), 0x4E);
        row[i >> 5] = static_cast<uint32_t>(_mm256_movemask_epi8(m));
    }
    return i;
}

bool HaveAvx2() {
#if defined(__SANITIZE_THREAD__)
    return false;
#else
    static const bool have = __builtin_cpu_supports("avx2");
    return have;
#endif
}

// Bytes in [low, high] to bits, 16 at a time.
void PackByteRange(uint32_t* row, const uint8_t* p, int32_t n, uint8_t low, uint8_t high) {
    const __m128i lo = _mm_set1_epi8(static_cast<char>(low)), span = _mm_set1_epi8(static_cast<char>(high - low));
    int32_t i = HaveAvx2() ? PackByteRangeAvx2(row, p, n, low, high) : 0;
    for (; i + 32 <= n; i += 32) {
        __m128i a = _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)), lo);
        __m128i b = _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 16)), lo);
        const uint32_t ma = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(a, span), a)));
        const uint32_t mb = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(b, span), b)));
        row[i >> 5] = (Reverse16(ma) << 16) | Reverse16(mb);
    }
    if (i < n) PackBits(row, i, n - i, [&](int32_t k) { return static_cast<uint8_t>(p[i + k] - low) <= static_cast<uint8_t>(high - low); });
}

template <class T>
const T* Samples(const C_ImgBuff& b, int32_t x, int32_t y) {
    return reinterpret_cast<const T*>(b.PixelAt(x, y));
}

}  // namespace

int32_t ImgFormatGroupBits(int32_t format) {
    if (ImgFormatIn(ImgFormat8BitMask, format)) return 8;
    if (ImgFormatIn(ImgFormat16BitMask, format)) return 16;
    return 32;
}

uint32_t ImgFormatGroupMax(int32_t format) {
    const int32_t bits = ImgFormatGroupBits(format);
    return bits == 8 ? 255u : bits == 16 ? 65535u : 0xFFFFFFFFu;
}

void ImgReadGroupGraySpan(const C_ImgBuff& b, int32_t x0, int32_t y, int32_t n, uint32_t* out) {
    switch (b.format) {
        case kImgGray8: {
            const uint8_t* s = Samples<uint8_t>(b, x0, y);
            for (int32_t i = 0; i < n; ++i) out[i] = s[i];
            return;
        }
        case kImgGray16: {
            const uint16_t* s = Samples<uint16_t>(b, x0, y);
            for (int32_t i = 0; i < n; ++i) out[i] = s[i];
            return;
        }
        case kImgGray32:
            std::memcpy(out, b.PixelAt(x0, y), static_cast<size_t>(n) * 4);
            return;
        case kImgRgb8: {
            const uint8_t* s = Samples<uint8_t>(b, x0, y);
            for (int32_t i = 0; i < n; ++i, s += 3) out[i] = ImgGrayWeighted(s[0], s[1], s[2]);
            return;
        }
        case kImgRgb16: {
            const uint16_t* s = Samples<uint16_t>(b, x0, y);
            for (int32_t i = 0; i < n; ++i, s += 3) out[i] = ImgGrayWeighted(s[0], s[1], s[2]);
            return;
        }
        case kImgRgb32: {
            const uint32_t* s = Samples<uint32_t>(b, x0, y);
            for (int32_t i = 0; i < n; ++i, s += 3) out[i] = ImgGrayWeighted(s[0], s[1], s[2]);
            return;
        }
        case kImgCmyk8:
            for (int32_t i = 0; i < n; ++i) {
                uint8_t v = 0;
                b.GetPixelGray8(x0 + i, y, &v);
                out[i] = v;
            }
            return;
        case kImgHsv16:
            for (int32_t i = 0; i < n; ++i) {
                uint16_t v = 0;
                b.GetPixelGray16(x0 + i, y, &v);
                out[i] = v;
            }
            return;
        default:
            for (int32_t i = 0; i < n; ++i) {
                out[i] = 0;
                b.GetPixelGray32(x0 + i, y, &out[i]);
            }
            return;
    }
}

namespace {

struct RangeJob {
    const C_ImgBuff* image;
    BitMask* mask;
    uint32_t low, high;
};

}  // namespace

void ImgRangeMaskRows(void* ctx, uint64_t first, uint64_t count) {
    const RangeJob& job = *static_cast<const RangeJob*>(ctx);
    const C_ImgBuff& b = *job.image;
    const int32_t w = job.mask->width;
    constexpr int32_t kSpan = 1024;  // a multiple of 32
    for (uint64_t i = first; i < first + count; ++i) {
        const int32_t y = static_cast<int32_t>(i);
        uint32_t* row = ImgBitMaskRow(job.mask, y);
        for (int32_t x = 0; x < w; x += kSpan) {
            const int32_t n = std::min(kSpan, w - x);
            if (b.format == kImgGray8) {
                PackByteRange(row + (x >> 5), b.PixelAt(x, y), n, static_cast<uint8_t>(job.low), static_cast<uint8_t>(job.high));
            } else {
                uint32_t v[kSpan];
                ImgReadGroupGraySpan(b, x, y, n, v);
                PackBits(row, x, n, [&](int32_t k) { return v[k] >= job.low && v[k] <= job.high; });
            }
        }
    }
}

int32_t ImgRangeMaskCreate(RangeMask* rangeMask, const CImgBuff* image, int32_t x1, int32_t y1, uint32_t low, uint32_t high) {
    if (!rangeMask) return 0;
    *rangeMask = RangeMask{nullptr, nullptr, 0, 0, 0, 0};
    if (!image || !image->buffer || !ImgFormatValid(image->buffer->format) || !image->buffer->pixels) return 0;
    const C_ImgBuff& b = *image->buffer;
    if (x1 < 0 || y1 < 0 || x1 >= b.width || y1 >= b.height) return 0;
    const uint32_t top = ImgFormatGroupMax(b.format);
    rangeMask->width = x1 + 1;
    rangeMask->height = y1 + 1;
    rangeMask->mask = ImgBitMaskCreate(x1 + 1, y1 + 1);
    if (!rangeMask->mask) return 0;
    if (low > high || low > top) return 1;  // nothing lies in the range
    RangeJob job{&b, rangeMask->mask, low, std::min(high, top)};
    PoolParallelFor(ImgRangeMaskRows, &job, static_cast<uint64_t>(y1) + 1);
    return 1;
}

void ImgRangeMaskRelease(RangeMask* rangeMask) {
    if (!rangeMask) return;
    ImgBitMaskDestroy(rangeMask->mask);
    ImgBitMaskDestroy(rangeMask->second);
    rangeMask->mask = rangeMask->second = nullptr;
}

namespace {

struct ForegroundJob {
    const C_ImgBuff* image;
    BitMask* mask;
    int32_t x0, y0;
    uint32_t inverted;
};

void ForegroundRows(void* ctx, uint64_t first, uint64_t count) {
    const ForegroundJob& job = *static_cast<const ForegroundJob*>(ctx);
    const C_ImgBuff& b = *job.image;
    const int32_t w = job.mask->width;
    const bool inv = job.inverted != 0;
    const uint32_t bg8 = inv ? 255u : 0u, bg16 = inv ? 65535u : 0u, bg32 = inv ? 0xFFFFFFFFu : 0u;
    constexpr int32_t kSpan = 512;
    for (uint64_t i = first; i < first + count; ++i) {
        const int32_t my = static_cast<int32_t>(i), y = job.y0 + my;
        uint32_t* row = ImgBitMaskRow(job.mask, my);
        for (int32_t mx = 0; mx < w; mx += kSpan) {
            const int32_t n = std::min(kSpan, w - mx), x = job.x0 + mx;
            switch (b.format) {
                case kImgGray8:
                    // Differs from 0: [1, 255]; from 255: [0, 254].
                    PackByteRange(row + (mx >> 5), b.PixelAt(x, y), n, inv ? 0 : 1, inv ? 254 : 255);
                    break;
                case kImgGray16: {
                    const uint16_t* s = Samples<uint16_t>(b, x, y);
                    PackBits(row, mx, n, [&](int32_t k) { return s[k] != bg16; });
                    break;
                }
                case kImgGray32: {
                    const uint32_t* s = Samples<uint32_t>(b, x, y);
                    PackBits(row, mx, n, [&](int32_t k) { return s[k] != bg32; });
                    break;
                }
                case kImgRgb8: {
                    const uint8_t* s = Samples<uint8_t>(b, x, y);
                    PackBits(row, mx, n, [&](int32_t k) { return (s[3 * k] != bg8) | (s[3 * k + 1] != bg8) | (s[3 * k + 2] != bg8); });
                    break;
                }
                case kImgRgb16: {
                    const uint16_t* s = Samples<uint16_t>(b, x, y);
                    PackBits(row, mx, n, [&](int32_t k) { return (s[3 * k] != bg16) | (s[3 * k + 1] != bg16) | (s[3 * k + 2] != bg16); });
                    break;
                }
                case kImgRgb32: {
                    const uint32_t* s = Samples<uint32_t>(b, x, y);
                    PackBits(row, mx, n, [&](int32_t k) { return (s[3 * k] != bg32) | (s[3 * k + 1] != bg32) | (s[3 * k + 2] != bg32); });
                    break;
                }
                case kImgCmyk8: {
                    PackBits(row, mx, n, [&](int32_t k) {
                        uint8_t r, g, bl;
                        b.GetPixelRgb8(x + k, y, &r, &g, &bl);
                        return r != bg8 || g != bg8 || bl != bg8;
                    });
                    break;
                }
                case kImgHsv16: {
                    PackBits(row, mx, n, [&](int32_t k) {
                        uint16_t r, g, bl;
                        b.GetPixelRgb16(x + k, y, &r, &g, &bl);
                        return r != bg16 || g != bg16 || bl != bg16;
                    });
                    break;
                }
                default: {  // XYZ
                    PackBits(row, mx, n, [&](int32_t k) {
                        uint32_t r, g, bl;
                        b.GetPixelRgb32(x + k, y, &r, &g, &bl);
                        return r != bg32 || g != bg32 || bl != bg32;
                    });
                    break;
                }
            }
        }
    }
}

}  // namespace

BitMask* ImgForegroundMask(const CImgBuff* image, uint32_t inverted, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    if (!image || !image->buffer || !ImgFormatValid(image->buffer->format) || !image->buffer->pixels) return nullptr;
    const C_ImgBuff& b = *image->buffer;
    if (x0 > x1 || y0 > y1 || x0 < 0 || y0 < 0 || x1 >= b.width || y1 >= b.height) return nullptr;
    BitMask* m = ImgBitMaskCreate(x1 - x0 + 1, y1 - y0 + 1);
    if (!m) return nullptr;
    ForegroundJob job{&b, m, x0, y0, inverted};
    PoolParallelFor(ForegroundRows, &job, static_cast<uint64_t>(y1 - y0) + 1);
    return m;
}

// ---- run flood ----

ImgBitRunList::~ImgBitRunList() { std::free(runs); }

bool ImgBitRunList::Push(int32_t y, int32_t x0, int32_t x1) {
    if (count == capacity) {
        const uint64_t grown = capacity ? capacity * 2 : 256;
        ImgBitRun* r = static_cast<ImgBitRun*>(std::realloc(runs, grown * sizeof(ImgBitRun)));
        if (!r) return false;
        runs = r;
        capacity = grown;
    }
    runs[count++] = ImgBitRun{y, x0, x1};
    return true;
}

int64_t ImgBitMaskTakeComponent(BitMask* mask, int32_t x, int32_t y, int32_t connectivity, int32_t bx0, int32_t by0,
                                int32_t bx1, int32_t by1, ImgBitRunList* out) {
    bx0 = std::max(bx0, 0);
    by0 = std::max(by0, 0);
    bx1 = std::min(bx1, mask->width - 1);
    by1 = std::min(by1, mask->height - 1);
    if (x < bx0 || x > bx1 || y < by0 || y > by1) return 0;
    uint32_t* row = ImgBitMaskRow(mask, y);
    if (!ImgBitTest(row, x)) return 0;
    // Takes the run through (px, py), which is set; false when out of memory.
    int64_t pixels = 0;
    const auto take = [&](uint32_t* r, int32_t px, int32_t py) {
        const int32_t before = ImgBitRowPrevClear(r, px, bx0);
        const int32_t after = ImgBitRowNextClear(r, px, bx1);
        const int32_t s = before < 0 ? bx0 : before + 1, e = after < 0 ? bx1 : after - 1;
        ImgBitRowClearRange(r, s, e);
        pixels += e - s + 1;
        return out->Push(py, s, e);
    };
    const uint64_t start = out->count;
    if (!take(row, x, y)) return -1;
    const int32_t d = connectivity == 8 ? 1 : 0;
    // The list is also the queue: every run is taken once and then examined once.
    for (uint64_t i = start; i < out->count; ++i) {
        const ImgBitRun run = out->runs[i];
        for (int32_t ny : {run.y - 1, run.y + 1}) {
            if (ny < by0 || ny > by1) continue;
            uint32_t* nrow = ImgBitMaskRow(mask, ny);
            const int32_t limit = std::min(bx1, run.x1 + d);
            for (int32_t p = ImgBitRowNextSet(nrow, std::max(bx0, run.x0 - d), limit); p >= 0;
                 p = ImgBitRowNextSet(nrow, p, limit)) {
                if (!take(nrow, p, ny)) return -1;
                p = out->runs[out->count - 1].x1 + 2;
                if (p > limit) break;
            }
        }
    }
    return pixels;
}
