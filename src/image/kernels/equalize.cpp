#include "image/kernels/equalize.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "image/kernels/kernel_frame.h"
#include "image/pool.h"

namespace {

// The level of a grey pixel at its depth, and at 32 bits.
uint32_t GrayLevel(const C_ImgBuff& b, int32_t x, int32_t y) {
    const uint8_t* p = b.PixelAt(x, y);
    switch (b.format) {
        case kImgGray8: return *p;
        case kImgGray16: return *reinterpret_cast<const uint16_t*>(p);
        default: return *reinterpret_cast<const uint32_t*>(p);
    }
}
uint32_t Widen32(int32_t format, uint32_t v) {
    return format == kImgGray8 ? v * 16843009u : format == kImgGray16 ? v * 65537u : v;
}

// The rank order as one number: greater ranks first.
inline uint64_t RankKey(const ImgRankRecord& r) {
    return (static_cast<uint64_t>(r.level) << 32) | (static_cast<uint32_t>(r.key) ^ 0x80000000u);
}

// 8- and 16-bit images of at most 2^32 pixels are sorted in compact items:
// the key, shortened by CompactKey, in the high half, the pixel's row-major
// index in the low half. The level needs no place: all items of a bucket
// share it. Other images are sorted in whole records.
using RankItem = uint64_t;

// Where two 8- or 16-bit pixels of one level have different keys below
// saturation, their neighbourhood means differ by at least a 64th of the
// widening factor (the means are sums over at most eight neighbours), so
// the keys differ by more than 2^18 or 2^9 and the bits below never decide
// their order. A saturated key may lie only 1 above an unsaturated one, so
// it gets a value of its own above all the others. The keys of these depths
// never reach the lower bound.
template <class T>
uint32_t CompactKey(int32_t key) {
    static_assert(sizeof(T) <= 2);
    constexpr uint32_t drop = sizeof(T) == 1 ? 18 : 9;
    if (key == INT32_MAX) return (0xFFFFFFFFu >> drop) + 1;
    return (static_cast<uint32_t>(key) ^ 0x80000000u) >> drop;
}
inline uint64_t RankKey(RankItem item) { return item & 0xFFFFFFFF00000000u; }
inline uint64_t PixelIndex(const C_ImgBuff& b, const ImgRankRecord& r) {
    return static_cast<uint64_t>(r.y) * static_cast<uint64_t>(b.width) + r.x;
}
inline uint64_t PixelIndex(const C_ImgBuff&, RankItem item) { return item & 0xFFFFFFFFu; }
inline bool RanksAfter(const ImgRankRecord& a, const ImgRankRecord& b) { return CompareRankRecords(&a, &b) > 0; }
inline bool RanksAfter(RankItem a, RankItem b) { return RankKey(a) < RankKey(b); }

template <class T>
void Put(ImgRankRecord* to, uint32_t level, int32_t key, int32_t x, int32_t y, uint64_t) {
    *to = ImgRankRecord{level, key, static_cast<uint32_t>(x), static_cast<uint32_t>(y)};
}
template <class T>
void Put(RankItem* to, uint32_t, int32_t key, int32_t, int32_t, uint64_t index) {
    static_assert(sizeof(T) <= 2);
    *to = (static_cast<uint64_t>(CompactKey<T>(key)) << 32) | index;
}

// Pixels are counted and placed by row bands: the records of every band go
// to the buckets of their first sort digit (the level for 8- and 16-bit
// images, its top 16 bits for 32-bit ones), each band's share of a bucket
// after those of the bands above it. Buckets follow each other greater
// digit first, so the records are then in rank order but for the order
// inside each bucket, and the same as a stable sort would leave them.
template <class T>
constexpr uint32_t kDigitShift = sizeof(T) == 4 ? 16 : 0;
template <class T>
constexpr uint64_t kBuckets = sizeof(T) == 1 ? 256 : 65536;

struct RankRecordsJob {
    const C_ImgBuff* image;
    int32_t width, height;
    void* records;  // ImgRankRecord or RankItem array
    bool compact;   // RankItem
    uint64_t rowsPerBand;
    uint64_t* slots;  // per band and bucket: the count, then the next free record
};

// mean(neighbours) - level, truncated and clamped to i32.
int32_t ContrastKey(uint64_t sum, int count, uint32_t level) {
    const double mean = count ? static_cast<double>(sum) / count : 0.0;
    const double d = std::trunc(mean - static_cast<double>(level));
    if (d >= 2147483647.0) return INT32_MAX;
    if (d <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(d);
}

template <class T>
void CountBand(const RankRecordsJob& job, uint64_t band) {
    uint64_t* count = job.slots + band * kBuckets<T>;
    const uint64_t y1 = std::min<uint64_t>(static_cast<uint64_t>(job.height), (band + 1) * job.rowsPerBand);
    for (uint64_t y = band * job.rowsPerBand; y < y1; ++y) {
        const T* row = reinterpret_cast<const T*>(job.image->PixelAt(0, static_cast<int32_t>(y)));
        for (int32_t x = 0; x < job.width; ++x) ++count[row[x] >> kDigitShift<T>];
    }
}

// Counts the pixels of each band per bucket.
void ImgCountLevelsRows(void* ctx, uint64_t first, uint64_t count) {
    const RankRecordsJob& job = *static_cast<const RankRecordsJob*>(ctx);
    for (uint64_t band = first; band < first + count; ++band) {
        switch (job.image->format) {
            case kImgGray8: CountBand<uint8_t>(job, band); break;
            case kImgGray16: CountBand<uint16_t>(job, band); break;
            default: CountBand<uint32_t>(job, band); break;
        }
    }
}

// One row's records, each put in the next free place of its bucket: pixels
// with all eight neighbours inside are summed straight from the three rows;
// the border goes through ImgNeighbourContrast.
template <class T, class Item>
void RankRow(const RankRecordsJob& job, int32_t y, uint64_t* slot) {
    constexpr uint64_t widen = sizeof(T) == 1 ? 16843009u : sizeof(T) == 2 ? 65537u : 1u;
    const C_ImgBuff& b = *job.image;
    const int32_t w = job.width;
    Item* records = static_cast<Item*>(job.records);
    const T* row = reinterpret_cast<const T*>(b.PixelAt(0, y));
    const uint64_t rowIndex = static_cast<uint64_t>(y) * static_cast<uint64_t>(w);
    const auto put = [&](int32_t x, int32_t key) { Put<T>(records + slot[row[x] >> kDigitShift<T>]++, row[x], key, x, y, rowIndex + x); };
    if (y == 0 || y == job.height - 1 || w < 3) {
        for (int32_t x = 0; x < w; ++x) put(x, ImgNeighbourContrast(b, x, y));
        return;
    }
    const T* up = row - w;
    const T* down = row + w;
    put(0, ImgNeighbourContrast(b, 0, y));
    for (int32_t x = 1; x < w - 1; ++x) {
        const uint64_t sum = static_cast<uint64_t>(up[x - 1]) + up[x] + up[x + 1] + row[x - 1] + row[x + 1] + down[x - 1] +
                             down[x] + down[x + 1];
        // mean - level = (sum - 8 level) / 8 exactly; integer division
        // truncates toward zero as the key does.
        const int64_t key = (static_cast<int64_t>(sum * widen) - 8 * static_cast<int64_t>(row[x])) / 8;
        put(x, key >= INT32_MAX ? INT32_MAX : key <= INT32_MIN ? INT32_MIN : static_cast<int32_t>(key));
    }
    put(w - 1, ImgNeighbourContrast(b, w - 1, y));
}

template <class Item>
void RankBand(const RankRecordsJob& job, uint64_t band) {
    const uint64_t y1 = std::min<uint64_t>(static_cast<uint64_t>(job.height), (band + 1) * job.rowsPerBand);
    for (uint64_t y = band * job.rowsPerBand; y < y1; ++y) {
        const int32_t yy = static_cast<int32_t>(y);
        if (job.image->format == kImgGray8) RankRow<uint8_t, Item>(job, yy, job.slots + band * kBuckets<uint8_t>);
        else if (job.image->format == kImgGray16) RankRow<uint16_t, Item>(job, yy, job.slots + band * kBuckets<uint16_t>);
        else if constexpr (std::is_same_v<Item, ImgRankRecord>) RankRow<uint32_t, Item>(job, yy, job.slots + band * kBuckets<uint32_t>);
    }
}

void ImgRankRecordsRows(void* ctx, uint64_t first, uint64_t count) {
    const RankRecordsJob& job = *static_cast<const RankRecordsJob*>(ctx);
    for (uint64_t band = first; band < first + count; ++band) {
        if (job.compact) RankBand<RankItem>(job, band);
        else RankBand<ImgRankRecord>(job, band);
    }
}

// Buckets this small are sorted by insertion.
constexpr uint64_t kInsertionSort = 24;
// Chunks of a large bucket sorted over the pool.
constexpr uint64_t kSortChunks = 32;
// Widest radix digit, in bits, and its number of counters: narrow digits
// keep the scatter of each pass within a few hundred cache lines.
constexpr uint32_t kDigitBits = 8;
constexpr uint64_t kDigitValues = uint64_t{1} << kDigitBits;

// Stable sort of recs[0, n) in rank order by least-significant-digit radix
// passes over the bits of RankKey in which the records differ; `scratch`
// holds n records, `counts` kDigitValues per chunk. The
// records are cut into `chunks` pieces, counted and scattered on the pool
// (inline for one chunk, or when called from a worker).
template <class Item>
void RadixSortRank(Item* recs, Item* scratch, uint64_t n, uint64_t chunks, uint64_t* counts) {
    if (n <= kInsertionSort) {
        for (uint64_t i = 1; i < n; ++i) {
            const Item r = recs[i];
            uint64_t j = i;
            for (; j > 0 && RanksAfter(recs[j - 1], r); --j) recs[j] = recs[j - 1];
            recs[j] = r;
        }
        return;
    }
    chunks = std::max<uint64_t>(1, std::min(chunks, n / 4096));
    const auto begin = [&](uint64_t c) { return c * n / chunks; };
    // Bits in which some keys differ: counts[c * kDigitValues] and the next
    // counter take each chunk's AND and OR of its keys.
    auto varying = [&](uint64_t first, uint64_t count) {
        for (uint64_t c = first; c < first + count; ++c) {
            uint64_t all = ~uint64_t{0}, any = 0;
            for (uint64_t i = begin(c); i < begin(c + 1); ++i) {
                all &= RankKey(recs[i]);
                any |= RankKey(recs[i]);
            }
            counts[c * kDigitValues] = all;
            counts[c * kDigitValues + 1] = any;
        }
    };
    PoolParallelRun(chunks, varying);
    uint64_t all = ~uint64_t{0}, any = 0;
    for (uint64_t c = 0; c < chunks; ++c) {
        all &= counts[c * kDigitValues];
        any |= counts[c * kDigitValues + 1];
    }
    const uint64_t differ = all ^ any;
    if (differ == 0) return;
    // The bits from the lowest to the highest differing one, in as few
    // passes as digits allow, the digits equally wide.
    const uint32_t lo = static_cast<uint32_t>(std::countr_zero(differ)), hi = 63 - static_cast<uint32_t>(std::countl_zero(differ));
    const uint32_t passes = (hi - lo + kDigitBits) / kDigitBits, bits = (hi - lo + passes) / passes;
    const uint64_t values = uint64_t{1} << bits, mask = values - 1;
    Item* src = recs;
    Item* dst = scratch;
    for (uint32_t pass = 0; pass < passes; ++pass) {
        const uint32_t shift = lo + pass * bits;
        // Digit 0 for the greatest bits: the greater keys come first.
        const auto digit = [shift, mask](const Item& r) { return mask - ((RankKey(r) >> shift) & mask); };
        auto count = [&](uint64_t first, uint64_t cn) {
            for (uint64_t c = first; c < first + cn; ++c) {
                uint64_t* h = counts + c * kDigitValues;
                std::fill(h, h + values, 0);
                for (uint64_t i = begin(c); i < begin(c + 1); ++i) ++h[digit(src[i])];
            }
        };
        PoolParallelRun(chunks, count);
        uint64_t at = 0;
        for (uint64_t d = 0; d < values; ++d) {
            for (uint64_t c = 0; c < chunks; ++c) {
                const uint64_t k = counts[c * kDigitValues + d];
                counts[c * kDigitValues + d] = at;
                at += k;
            }
        }
        auto scatter = [&](uint64_t first, uint64_t cn) {
            for (uint64_t c = first; c < first + cn; ++c) {
                uint64_t* next = counts + c * kDigitValues;
                for (uint64_t i = begin(c); i < begin(c + 1); ++i) dst[next[digit(src[i])]++] = src[i];
            }
        };
        PoolParallelRun(chunks, scatter);
        std::swap(src, dst);
    }
    if (src != recs) PoolParallelCopy(recs, src, n * sizeof(Item));
}

struct BucketSortJob {
    void* records;          // ImgRankRecord or RankItem array
    const uint64_t* edges;  // bucket k in rank order holds records edges[k] .. edges[k+1]-1
    uint64_t large;         // buckets of this size and more are left to the caller
};

// Sorts the buckets of the range that are not large, with a scratch array
// of the largest of them that stays in cache from bucket to bucket. Without
// memory for it the standard stable sort gives the same order.
template <class Item>
void ImgSortBucketsRows(void* ctx, uint64_t first, uint64_t count) {
    const BucketSortJob& job = *static_cast<const BucketSortJob*>(ctx);
    uint64_t largest = 0;
    for (uint64_t k = first; k < first + count; ++k) {
        const uint64_t size = job.edges[k + 1] - job.edges[k];
        if (size < job.large) largest = std::max(largest, size);
    }
    std::unique_ptr<uint64_t[]> counts(new (std::nothrow) uint64_t[kDigitValues]);
    std::unique_ptr<Item[]> scratch(new (std::nothrow) Item[largest]);
    for (uint64_t k = first; k < first + count; ++k) {
        Item* at = static_cast<Item*>(job.records) + job.edges[k];
        const uint64_t size = job.edges[k + 1] - job.edges[k];
        if (size >= job.large) continue;
        if (counts && scratch) RadixSortRank(at, scratch.get(), size, 1, counts.get());
        else std::stable_sort(at, at + size, [](const Item& a, const Item& b) { return RanksAfter(b, a); });
    }
}

void WriteLevel(uint8_t* p, int32_t format, uint32_t level) {
    switch (format) {
        case kImgGray8: *p = static_cast<uint8_t>(level); break;
        case kImgGray16: *reinterpret_cast<uint16_t*>(p) = static_cast<uint16_t>(level); break;
        default: *reinterpret_cast<uint32_t*>(p) = level; break;
    }
}

template <class Item>
void WriteLevel(C_ImgBuff& b, const Item& r, uint32_t level) {
    WriteLevel(b.pixels + PixelIndex(b, r) * static_cast<uint64_t>(b.BytesPerPixel()), b.format, level);
}

struct ShareJob {
    C_ImgBuff* image;
    const void* sorted;      // ImgRankRecord or RankItem array
    const uint64_t* bounds;  // level top - j goes to records bounds[j] .. bounds[j+1]-1
    uint32_t top;
};

template <class T, class Item>
void WriteShare(const ShareJob& job, uint64_t j) {
    const T level = static_cast<T>(job.top - j);
    const C_ImgBuff& b = *job.image;
    T* pixels = reinterpret_cast<T*>(b.pixels);
    const Item* sorted = static_cast<const Item*>(job.sorted);
    for (uint64_t i = job.bounds[j]; i < job.bounds[j + 1]; ++i) pixels[PixelIndex(b, sorted[i])] = level;
}

// Writes the levels of their shares to the records' pixels; every pixel
// is written once, so the levels go out in parallel.
template <class Item>
void ImgWriteSharesRows(void* ctx, uint64_t first, uint64_t count) {
    const ShareJob& job = *static_cast<const ShareJob*>(ctx);
    for (uint64_t j = first; j < first + count; ++j) {
        if (job.image->format == kImgGray8) WriteShare<uint8_t, Item>(job, j);
        else WriteShare<uint16_t, Item>(job, j);
    }
}

// Equal shares: levels from `top` down to 0, each taking the next
// trunc(carried fraction + quantum) records. `bounds` holds top + 2
// entries.
template <class Item>
uint64_t AssignShares(C_ImgBuff& b, const Item* sorted, uint64_t n, uint32_t top, uint64_t* bounds) {
    const double quantum = static_cast<double>(n) / (static_cast<double>(top) + 1.0);
    double r = 0.0;
    uint64_t done = 0;
    bounds[0] = 0;
    for (uint64_t j = 0; j <= top; ++j) {
        r += quantum;
        const double k = std::trunc(r);
        r -= k;
        done += std::min<uint64_t>(static_cast<uint64_t>(k), n - done);
        bounds[j + 1] = done;
    }
    ShareJob job{&b, sorted, bounds, top};
    PoolParallelFor(ImgWriteSharesRows<Item>, &job, static_cast<uint64_t>(top) + 1);
    return done;
}

// Spread levels: from `top` down in steps of (top + 1) / n, the fraction
// carried from step to step.
template <class Item>
uint64_t AssignSteps(C_ImgBuff& b, const Item* sorted, uint64_t n, uint32_t top) {
    const double step = (static_cast<double>(top) + 1.0) / static_cast<double>(n);
    double f = 0.0;
    int64_t level = top;
    uint64_t done = 0;
    while (true) {
        WriteLevel(b, sorted[done++], static_cast<uint32_t>(level));
        if (done == n) break;
        const double t = f + step;
        const double whole = std::trunc(t);
        if (static_cast<double>(level) - whole < 0.0) break;
        f = t - whole;
        level -= static_cast<int64_t>(whole);
    }
    return done;
}

struct ChannelJob {
    CImgBuff* source;   // colour image
    CImgBuff* channel;  // grey image of the same size
    int32_t c;          // 0 R, 1 G, 2 B
};

// Channel c of the colour pixels of row y at the channel image's depth.
void ImgExtractChannelRows(const ChannelJob& job, int32_t y) {
    const C_ImgBuff& s = *job.source->buffer;
    C_ImgBuff& d = *job.channel->buffer;
    const int32_t w = s.width;
    switch (d.format) {
        case kImgGray8: {
            uint8_t rgb[3 * kImgSpanPixels];
            uint8_t* out = d.PixelAt(0, y);
            for (int32_t x = 0; x < w; x += kImgSpanPixels) {
                const int32_t n = std::min(kImgSpanPixels, w - x);
                ImgReadRgb8Span(s, x, y, n, rgb);
                for (int32_t k = 0; k < n; ++k) out[x + k] = rgb[3 * k + job.c];
            }
            return;
        }
        case kImgGray16: {
            uint16_t rgb[3 * kImgSpanPixels];
            uint16_t* out = reinterpret_cast<uint16_t*>(d.PixelAt(0, y));
            for (int32_t x = 0; x < w; x += kImgSpanPixels) {
                const int32_t n = std::min(kImgSpanPixels, w - x);
                ImgReadRgb16Span(s, x, y, n, rgb);
                for (int32_t k = 0; k < n; ++k) out[x + k] = rgb[3 * k + job.c];
            }
            return;
        }
        default: {
            uint32_t* out = reinterpret_cast<uint32_t*>(d.PixelAt(0, y));
            for (int32_t x = 0; x < w; ++x) {
                uint32_t rgb[3] = {0, 0, 0};
                if (s.format == kImgRgb32) std::memcpy(rgb, s.PixelAt(x, y), sizeof rgb);
                else s.GetPixelRgb32(x, y, &rgb[0], &rgb[1], &rgb[2]);
                out[x] = rgb[job.c];
            }
            return;
        }
    }
}

// Puts the channel image's levels back as channel c of the colour pixels.
void ImgInsertChannelRows(const ChannelJob& job, int32_t y) {
    C_ImgBuff& s = *job.source->buffer;
    const C_ImgBuff& d = *job.channel->buffer;
    const int32_t w = s.width, c = job.c;
    switch (s.format) {
        case kImgRgb8: {
            uint8_t* p = s.PixelAt(0, y);
            const uint8_t* v = d.PixelAt(0, y);
            for (int32_t x = 0; x < w; ++x) p[3 * x + c] = v[x];
            return;
        }
        case kImgRgb16: {
            uint16_t* p = reinterpret_cast<uint16_t*>(s.PixelAt(0, y));
            const uint16_t* v = reinterpret_cast<const uint16_t*>(d.PixelAt(0, y));
            for (int32_t x = 0; x < w; ++x) p[3 * x + c] = v[x];
            return;
        }
        case kImgRgb32: {
            uint32_t* p = reinterpret_cast<uint32_t*>(s.PixelAt(0, y));
            const uint32_t* v = reinterpret_cast<const uint32_t*>(d.PixelAt(0, y));
            for (int32_t x = 0; x < w; ++x) p[3 * x + c] = v[x];
            return;
        }
        case kImgCmyk8: {
            const uint8_t* v = d.PixelAt(0, y);
            for (int32_t x = 0; x < w; ++x) {
                uint8_t rgb[3];
                s.GetPixelRgb8(x, y, &rgb[0], &rgb[1], &rgb[2]);
                rgb[c] = v[x];
                s.SetPixelRgb8(x, y, rgb[0], rgb[1], rgb[2]);
            }
            return;
        }
        case kImgHsv16: {
            const uint16_t* v = reinterpret_cast<const uint16_t*>(d.PixelAt(0, y));
            for (int32_t x = 0; x < w; ++x) {
                uint16_t rgb[3];
                s.GetPixelRgb16(x, y, &rgb[0], &rgb[1], &rgb[2]);
                rgb[c] = v[x];
                s.SetPixelRgb16(x, y, rgb[0], rgb[1], rgb[2]);
            }
            return;
        }
        default: {  // XYZ
            const uint32_t* v = reinterpret_cast<const uint32_t*>(d.PixelAt(0, y));
            for (int32_t x = 0; x < w; ++x) {
                uint32_t rgb[3];
                s.GetPixelRgb32(x, y, &rgb[0], &rgb[1], &rgb[2]);
                rgb[c] = v[x];
                s.SetPixelRgb32(x, y, rgb[0], rgb[1], rgb[2]);
            }
            return;
        }
    }
}

template <class Row>
void ForEachRow(const ChannelJob& job, Row row) {
    auto rows = [&](uint64_t first, uint64_t count) {
        for (uint64_t i = first; i < first + count; ++i) row(job, static_cast<int32_t>(i));
    };
    PoolParallelRun(static_cast<uint64_t>(job.source->buffer->height), rows);
}

int32_t ChannelFormat(int32_t format) {
    if (ImgFormatIn(ImgFormat8BitMask, format)) return kImgGray8;
    if (ImgFormatIn(ImgFormat16BitMask, format)) return kImgGray16;
    return kImgGray32;
}

}  // namespace

int32_t ImgNeighbourContrast(const C_ImgBuff& image, int32_t x, int32_t y) {
    static constexpr int kOffsets[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {-1, 0}, {1, 0}, {-1, 1}, {0, 1}, {1, 1}};
    uint64_t sum = 0;
    int count = 0;
    for (const auto& o : kOffsets) {
        const int64_t nx = static_cast<int64_t>(x) + o[0], ny = static_cast<int64_t>(y) + o[1];
        if (nx < 0 || ny < 0 || nx >= image.width || ny >= image.height) continue;
        sum += Widen32(image.format, GrayLevel(image, static_cast<int32_t>(nx), static_cast<int32_t>(ny)));
        ++count;
    }
    return ContrastKey(sum, count, GrayLevel(image, x, y));
}

int32_t CompareRankRecords(const ImgRankRecord* a, const ImgRankRecord* b) {
    const uint64_t ka = RankKey(*a), kb = RankKey(*b);
    return ka > kb ? -2 : ka < kb ? 2 : 0;
}

namespace {

// Records in rank order: the pixels are counted per band and bucket, then
// placed into their buckets (a stable counting sort by the first digit),
// and each bucket is sorted by the whole key. Small buckets are sorted one
// per work item; a bucket too large for one thread's fair share is sorted
// over the pool by itself. 0 when memory runs out.
template <class T, class Item>
int32_t RankRecords(const C_ImgBuff& b, Item* records) {
    const uint64_t width = static_cast<uint64_t>(b.width), height = static_cast<uint64_t>(b.height), n = width * height;
    constexpr uint64_t buckets = kBuckets<T>;
    // Enough bands to share the work, few enough that counting them per
    // bucket stays cheap against the pixels.
    const uint64_t bands = std::clamp<uint64_t>(n / (4 * buckets), 1, std::min<uint64_t>(height, sizeof(T) == 1 ? 64 : 16));
    const uint64_t rowsPerBand = (height + bands - 1) / bands;
    std::unique_ptr<uint64_t[]> slots(new (std::nothrow) uint64_t[bands * buckets]());
    std::unique_ptr<uint64_t[]> edges(new (std::nothrow) uint64_t[buckets + 1]);
    std::unique_ptr<uint64_t[]> counts(new (std::nothrow) uint64_t[kDigitValues * kSortChunks]);
    if (!slots || !edges || !counts) return 0;
    RankRecordsJob job{&b, b.width, b.height, records, std::is_same_v<Item, RankItem>, rowsPerBand, slots.get()};
    PoolParallelFor(ImgCountLevelsRows, &job, (height + rowsPerBand - 1) / rowsPerBand);
    uint64_t at = 0;
    for (uint64_t k = 0; k < buckets; ++k) {
        edges[k] = at;
        for (uint64_t band = 0; band < bands; ++band) {
            uint64_t& slot = slots[band * buckets + (buckets - 1 - k)];
            const uint64_t c = slot;
            slot = at;
            at += c;
        }
    }
    edges[buckets] = at;
    PoolParallelFor(ImgRankRecordsRows, &job, (height + rowsPerBand - 1) / rowsPerBand);

    const uint64_t threads = std::max<uint64_t>(1, g_PoolThreadCount.load());
    const uint64_t large = std::max<uint64_t>(65536, n / (2 * threads));
    uint64_t largest = 0;
    for (uint64_t k = 0; k < buckets; ++k) largest = std::max(largest, edges[k + 1] - edges[k]);
    std::unique_ptr<Item[]> scratch(largest >= large ? new (std::nothrow) Item[largest] : nullptr);
    if (largest >= large && !scratch) return 0;
    BucketSortJob sortJob{records, edges.get(), large};
    PoolParallelFor(ImgSortBucketsRows<Item>, &sortJob, buckets);
    for (uint64_t k = 0; k < buckets; ++k) {
        const uint64_t e = edges[k], size = edges[k + 1] - e;
        if (size >= large) RadixSortRank(records + e, scratch.get(), size, kSortChunks, counts.get());
    }
    return 1;
}

// ---- 8-bit grey images with equal shares ----
//
// Inside one level L the rank order is that of the neighbourhood mean m: the
// key is trunc(m * 16843009 - L), and two means of at most eight neighbours
// that differ do so by at least a 40th of a level, far more than the
// truncation and L take; equal means give equal keys. Only the saturation
// of the key merges means: every m above 127.5 (and 127.5 itself at L = 0)
// has the greatest key; m is never negative, so the least is never reached.
// In 120ths of a level (exact for 8, 5 and 3 neighbours) the fine class of a
// pixel inside its level is 120 m, or one class above all others for the
// saturated keys, greater first, ties by position.
//
// No record is sorted. The pixels are counted per coarse class (level, fine
// class / 512); walked in rank order, these take consecutive ranks, and a
// coarse class whose ranks all fall into one share gets that share's level
// at once. The few that straddle a share boundary are resolved exactly:
// their pixels are gathered in scan order with their fine class, which
// decides their rank inside the coarse class. The saturated class of a
// level, often half its pixels, ranks by scan order alone: its pixels take
// the level of their rank as they are met.
namespace flat8 {

// 120 m from this on (one less at level 0) has the saturated key. The
// saturated class is numbered 2^14 - 1, alone in the last coarse class of
// its level, where pixels rank by position only.
constexpr int32_t kSaturation = 15301;
constexpr int32_t kSaturated = (1 << 14) - 1;
constexpr uint32_t kFineBits = 9;                   // fine classes per coarse class: 2^kFineBits
constexpr uint32_t kFineMask = (1u << kFineBits) - 1;
constexpr uint32_t kBinBits = 14 - kFineBits;       // fine classes < 2^14
constexpr uint32_t kCoarse = 256u << kBinBits;      // fine class >> kFineBits << 8 | level
// The saturated pixels of every level: kCoarse - 256 + level.
constexpr uint32_t kSaturatedCoarse = kCoarse - 256;

// v: 120 times the mean.
inline uint32_t FineClass(int32_t v, int32_t level) {
    return static_cast<uint32_t>(v >= (level == 0 ? kSaturation - 1 : kSaturation) ? kSaturated : v);
}

// The class of a pixel at the edge of the image (3 or 5 neighbours); `up`
// or `down` is null at the top or bottom row.
uint32_t EdgeClass(const uint8_t* up, const uint8_t* row, const uint8_t* down, int32_t w, int32_t x) {
    int32_t sum = 0, count = 0;
    const uint8_t* rows[3] = {up, row, down};
    for (int32_t dy = 0; dy < 3; ++dy)
        for (int32_t dx = -1; dx <= 1; ++dx) {
            const int32_t nx = x + dx;
            if (!rows[dy] || (dy == 1 && dx == 0) || nx < 0 || nx >= w) continue;
            sum += rows[dy][nx];
            ++count;
        }
    return FineClass(120 / count * sum, row[x]);
}

// The coarse class of a pixel: fine class >> kFineBits << 8 | level, so
// that the saturated classes of all levels lie side by side.
inline uint16_t CoarseOf(uint32_t level, uint32_t fine) { return static_cast<uint16_t>(fine >> kFineBits << 8 | level); }

// The fine and coarse classes of the inner pixels 1 .. w-2 of an inner row,
// in 16-bit lanes (the sum is at most 2040, 15 times it below 2^15): column
// sums first, then three of them less the pixel itself.
KV_KERNEL_CLONES void InnerClasses(const uint8_t* up, const uint8_t* row, const uint8_t* down, int32_t w, uint16_t* out,
                                   uint16_t* coarse, uint16_t* column) {
    for (int32_t x = 0; x < w; ++x) column[x] = static_cast<uint16_t>(up[x] + row[x] + down[x]);
    for (int32_t x = 1; x < w - 1; ++x) {
        const uint16_t s = static_cast<uint16_t>(column[x - 1] + column[x] + column[x + 1] - row[x]);
        const uint16_t v = static_cast<uint16_t>(15 * s);
        const uint16_t limit = row[x] == 0 ? kSaturation - 1 : kSaturation;
        const uint16_t c = v >= limit ? static_cast<uint16_t>(kSaturated) : v;
        out[x] = c;
        coarse[x] = static_cast<uint16_t>(c >> kFineBits << 8 | row[x]);
    }
}

// The classes of a row from its own levels and those of the rows above and
// below (null outside the image).
void RowClasses(const uint8_t* up, const uint8_t* row, const uint8_t* down, int32_t w, uint16_t* out, uint16_t* coarse,
                uint16_t* column) {
    const auto edge = [&](int32_t x) {
        out[x] = static_cast<uint16_t>(EdgeClass(up, row, down, w, x));
        coarse[x] = CoarseOf(row[x], out[x]);
    };
    if (!up || !down) {
        for (int32_t x = 0; x < w; ++x) edge(x);
        return;
    }
    edge(0);
    InnerClasses(up, row, down, w, out, coarse, column);
    edge(w - 1);
}

// Hands out the levels of rank order: the level of rank r is top - j for
// bounds[j] <= r < bounds[j + 1], 0 from `done` on.
struct LevelOfRank {
    const uint64_t* bounds;
    uint64_t done;
    uint32_t j = 0;
    uint8_t operator()(uint64_t r) {
        if (r >= done) return 0;
        while (bounds[j + 1] <= r) ++j;
        return static_cast<uint8_t>(255 - j);
    }
};

// The ranks one band hands to a straddling class ranked by position: they
// rise from pixel to pixel, so the share changes only where a boundary is
// passed. `bound` is the first rank of the next share.
struct Cursor {
    uint64_t rank, bound;
    uint32_t j;  // share: level 255 - j, 0 from 256 (past `done`) on
    uint8_t level;
    void Advance(const uint64_t* bounds) {
        while (rank >= bound) {
            ++j;
            level = j < 256 ? static_cast<uint8_t>(255 - j) : 0;
            bound = j < 256 ? bounds[j + 1] : UINT64_MAX;
        }
    }
};

struct Job {
    uint8_t* pixels;  // row y at pixels + y * stride, levels written in place
    uint64_t stride;
    int32_t w, h;
    uint64_t rowsPerBand;
    uint16_t* classes;      // per band: one row of fine classes, one of coarse classes, one of column sums
    uint32_t* counts;       // per band: kCoarse counters
    const uint16_t* table;  // per coarse class: its level, 256 + its straddling index, or kByPosition | that index
    uint64_t straddling;    // number of straddling coarse classes
    uint64_t* next;         // per band and straddling class: the next place in `items`, or the next rank
    uint64_t* items;        // per straddling class, in scan order: place in `out` << kFineBits | fine class & kFineMask
    const uint64_t* bounds;      // share boundaries in rank order (LevelOfRank)
    uint64_t done;               // ranks from here on get level 0
    Cursor* cursors;             // per band and straddling class ranked by position
    uint32_t* list;              // per band: one row of positions
    uint32_t* saturated;         // per row: the band's counts of saturated pixels per level so far
    const uint32_t* straddlingClass;  // per straddling class: its coarse class
    const uint64_t* bandRank;    // per band and straddling class ranked by position: its first rank in the band
    const uint64_t* eventBegin;  // per band, and one past the last: its first row event
    const uint64_t* events;      // row << 16 | straddling class: a row where the class changes level
    uint16_t* tables;            // per band: kCoarse + 1 table entries
    uint8_t* rows;               // per band: 4 rows (the rows just outside it, two of its own) as they were
};

// Marks a straddling class of one fine class in the table: its pixels rank
// by scan order alone and take their levels at once.
constexpr uint16_t kByPosition = 0x8000;

// Runs fn on each row of the band with its classes. With `writes`, fn
// overwrites the row: the classes of the next row are taken from a copy of
// it as it was, and those at the band's ends from the copies of the rows
// outside the band, which other bands overwrite.
template <class RowFn>
void ForBandRows(const Job& job, uint64_t band, bool writes, RowFn&& fn) {
    const uint64_t w = static_cast<uint64_t>(job.w), h = static_cast<uint64_t>(job.h);
    const uint64_t y0 = band * job.rowsPerBand, y1 = std::min<uint64_t>(h, y0 + job.rowsPerBand);
    uint16_t* cls = job.classes + 3 * band * w;
    uint16_t* coarse = cls + w;
    uint8_t* saved = job.rows + 4 * band * w;
    uint8_t* kept[2] = {saved + 2 * w, saved + 3 * w};
    for (uint64_t y = y0; y < y1; ++y) {
        uint8_t* row = job.pixels + y * job.stride;
        const uint8_t* up = y == 0 ? nullptr : !writes ? row - job.stride : y == y0 ? saved : kept[(y - 1) & 1];
        const uint8_t* down = y + 1 == h ? nullptr : writes && y + 1 == y1 ? saved + w : row + job.stride;
        RowClasses(up, row, down, job.w, cls, coarse, coarse + w);
        if (writes) std::memcpy(kept[y & 1], row, w);
        fn(y, cls, coarse);
    }
}

void CountRows(void* ctx, uint64_t first, uint64_t count) {
    const Job& job = *static_cast<const Job*>(ctx);
    for (uint64_t band = first; band < first + count; ++band) {
        uint32_t* counts = job.counts + band * kCoarse;
        std::fill(counts, counts + kCoarse, 0u);
        ForBandRows(job, band, false, [&](uint64_t y, const uint16_t*, const uint16_t* coarse) {
            // Locals: the stores could otherwise be taken to change the job.
            const int32_t w = job.w;
            for (int32_t x = 0; x < w; ++x) ++counts[coarse[x]];
            // Where the saturated pixels of each level stand after the row:
            // the rows where a share boundary falls among them are found
            // from these.
            std::memcpy(job.saturated + 256 * y, counts + kSaturatedCoarse, 256 * sizeof(uint32_t));
        });
    }
}

void LevelRows(void* ctx, uint64_t first, uint64_t count) {
    const Job& job = *static_cast<const Job*>(ctx);
    for (uint64_t band = first; band < first + count; ++band) {
        uint64_t* next = job.next + band * job.straddling;
        uint32_t* list = job.list + band * static_cast<uint64_t>(job.w);
        Cursor* cursors = job.cursors + band * job.straddling;
        const uint64_t* bandRank = job.bandRank + band * job.straddling;
        const uint64_t y0 = band * job.rowsPerBand;
        // The band's own table: a class ranked by position takes the level
        // of its next rank, and goes through its cursor only in the rows
        // where a share boundary falls among its pixels.
        uint16_t* table = job.tables + band * (kCoarse + 1);
        std::memcpy(table, job.table, (kCoarse + 1) * sizeof(uint16_t));
        for (uint64_t s = 0; s < job.straddling; ++s) {
            if (!(job.table[job.straddlingClass[s]] & kByPosition)) continue;
            Cursor& c = cursors[s];
            c.rank = bandRank[s];
            c.Advance(job.bounds);
            table[job.straddlingClass[s]] = c.level;
        }
        const uint64_t* event = job.events + job.eventBegin[band];
        const uint64_t* const eventEnd = job.events + job.eventBegin[band + 1];
        ForBandRows(job, band, true, [&](uint64_t y, const uint16_t* cls, const uint16_t* coarse) {
            const uint64_t* const rowEvents = event;
            for (; event < eventEnd && *event >> 16 == y; ++event) {
                const uint32_t s = static_cast<uint32_t>(*event & 0xFFFF), k = job.straddlingClass[s];
                cursors[s].rank = bandRank[s] + (y > y0 ? job.saturated[256 * (y - 1) + (k & 255)] : 0);
                table[k] = static_cast<uint16_t>(kByPosition | s);
            }
            // Locals: the stores could otherwise be taken to change the job.
            const int32_t w = job.w;
            uint64_t* items = job.items;
            const uint64_t at = y * job.stride;
            uint8_t* out = job.pixels + at;
            // Every pixel takes its class's level; the positions of those in
            // straddling classes are listed without a branch and mended
            // after.
            uint32_t m = 0;
            for (int32_t x = 0; x < w; ++x) {
                const uint16_t t = table[coarse[x]];
                out[x] = static_cast<uint8_t>(t);
                list[m] = static_cast<uint32_t>(x);
                m += t >= 256;
            }
            for (uint32_t i = 0; i < m; ++i) {
                const uint32_t x = list[i];
                const uint32_t t = table[coarse[x]];
                if (t & kByPosition) {
                    Cursor& c = cursors[t & ~kByPosition];
                    if (c.rank >= c.bound) c.Advance(job.bounds);
                    out[x] = c.level;
                    ++c.rank;
                } else {
                    items[next[t - 256]++] = (at + x) << kFineBits | (cls[x] & kFineMask);
                }
            }
            for (const uint64_t* e = rowEvents; e < event; ++e) {
                const uint32_t s = static_cast<uint32_t>(*e & 0xFFFF);
                Cursor& c = cursors[s];
                c.Advance(job.bounds);
                table[job.straddlingClass[s]] = c.level;
            }
        });
    }
}

struct StraddleJob {
    const uint64_t* bounds;
    uint64_t done;
    const uint64_t* itemBegin;  // per straddling class, and one past the last
    const uint64_t* rankBase;   // per straddling class: its first rank
    const uint64_t* items;
    uint8_t* out;
};

// The pixels of each straddling coarse class ranked by fine class (greater
// first), then by scan order, which the items keep.
void StraddleRows(void* ctx, uint64_t first, uint64_t count) {
    const StraddleJob& job = *static_cast<const StraddleJob*>(ctx);
    for (uint64_t k = first; k < first + count; ++k) {
        uint64_t place[kFineMask + 1] = {};
        const uint64_t b = job.itemBegin[k], e = job.itemBegin[k + 1];
        for (uint64_t i = b; i < e; ++i) ++place[job.items[i] & kFineMask];
        uint64_t at = job.rankBase[k];
        for (int32_t f = kFineMask; f >= 0; --f) {
            const uint64_t c = place[f];
            place[f] = at;
            at += c;
        }
        // Ranks rise within each fine class but not from item to item:
        // each item looks for its share from the class's first one on.
        LevelOfRank level{job.bounds, job.done};
        level(job.rankBase[k]);
        const uint32_t j0 = level.j;
        for (uint64_t i = b; i < e; ++i) {
            level.j = j0;
            const uint64_t r = place[job.items[i] & kFineMask]++;
            job.out[job.items[i] >> kFineBits] = level(r);
        }
    }
}

struct LevelJob {
    uint8_t* pixels;  // row y at pixels + y * stride
    uint64_t w, stride, rowsPerChunk, h;
    const uint8_t* lut;  // level by level, when no level is cut by a share boundary
};

void MapLevelRows(void* ctx, uint64_t first, uint64_t count) {
    const LevelJob& job = *static_cast<const LevelJob*>(ctx);
    uint8_t lut[256];
    std::memcpy(lut, job.lut, sizeof lut);
    for (uint64_t c = first; c < first + count; ++c) {
        for (uint64_t y = c * job.rowsPerChunk; y < std::min(job.h, (c + 1) * job.rowsPerChunk); ++y) {
            uint8_t* p = job.pixels + y * job.stride;
            for (uint64_t x = 0; x < job.w; ++x) p[x] = lut[p[x]];
        }
    }
}

}  // namespace flat8

// Flattens an 8-bit grey image of at least 3 x 3 and fewer than 2^32 pixels
// (row y at pixels + y * stride) with equal shares, in place. 0 when memory
// runs out (image unchanged).
int32_t FlattenGray8(uint8_t* pixels, int32_t w, int32_t h, uint64_t stride) {
    using namespace flat8;
    const uint64_t n = static_cast<uint64_t>(w) * static_cast<uint64_t>(h);
    const uint64_t threads = std::max<uint64_t>(1, g_PoolThreadCount.load());
    const uint64_t bands = std::min<uint64_t>(static_cast<uint64_t>(h), threads);
    const uint64_t rowsPerBand = (static_cast<uint64_t>(h) + bands - 1) / bands;
    const uint64_t used = (static_cast<uint64_t>(h) + rowsPerBand - 1) / rowsPerBand;

    // The equal shares, as AssignShares hands them out.
    uint64_t bounds[257];
    const double quantum = static_cast<double>(n) / 256.0;
    double carried = 0.0;
    uint64_t done = 0;
    bounds[0] = 0;
    for (uint32_t j = 0; j <= 255; ++j) {
        carried += quantum;
        const double k = std::trunc(carried);
        carried -= k;
        done += std::min<uint64_t>(static_cast<uint64_t>(k), n - done);
        bounds[j + 1] = done;
    }

    std::unique_ptr<uint16_t[]> classes(new (std::nothrow) uint16_t[3 * used * static_cast<uint64_t>(w)]);
    std::unique_ptr<uint32_t[]> counts(new (std::nothrow) uint32_t[used * kCoarse]);
    std::unique_ptr<uint16_t[]> table(new (std::nothrow) uint16_t[kCoarse + 1]());
    std::unique_ptr<uint32_t[]> saturated(new (std::nothrow) uint32_t[256 * static_cast<uint64_t>(h)]);
    std::unique_ptr<uint32_t[]> list(new (std::nothrow) uint32_t[used * static_cast<uint64_t>(w)]);
    if (!classes || !counts || !table || !list || !saturated) return 0;
    std::unique_ptr<uint8_t[]> rows(new (std::nothrow) uint8_t[4 * used * static_cast<uint64_t>(w)]);
    if (!rows) return 0;
    Job job{pixels,  stride,  w,      h,    rowsPerBand, classes.get(), counts.get(), table.get(),     0,       nullptr, nullptr,
            bounds,  done,    nullptr, list.get(), saturated.get(), nullptr,     nullptr,         nullptr, nullptr, nullptr,
            rows.get()};
    PoolParallelFor(CountRows, &job, used);
    std::vector<uint64_t> total(kCoarse);
    for (uint32_t k = 0; k < kCoarse; ++k)
        for (uint64_t band = 0; band < used; ++band) total[k] += counts[band * kCoarse + k];

    // When no level is cut by a share boundary, the neighbourhoods decide
    // nothing: every level goes to one share.
    {
        uint8_t lut[256] = {};
        LevelOfRank level{bounds, done};
        uint64_t rank = 0;
        bool cut = false;
        for (uint32_t v = 256; v-- > 0 && !cut;) {
            uint64_t c = 0;
            for (uint32_t k = v; k < kCoarse; k += 256) c += total[k];
            if (c == 0) continue;
            lut[v] = level(rank);
            cut = level(rank + c - 1) != lut[v];
            rank += c;
        }
        if (!cut) {
            const uint64_t chunks = std::min<uint64_t>(4 * threads, std::max<uint64_t>(1, n >> 16));
            const uint64_t rows = (static_cast<uint64_t>(h) + chunks - 1) / chunks;
            LevelJob levels{pixels, static_cast<uint64_t>(w), stride, rows, static_cast<uint64_t>(h), lut};
            PoolParallelFor(MapLevelRows, &levels, (static_cast<uint64_t>(h) + rows - 1) / rows);
            return 1;
        }
    }


    // Coarse classes in rank order: each takes the next ranks; one whose
    // first and last rank get the same level takes that level.
    std::vector<uint32_t> straddling;  // coarse classes
    std::vector<uint64_t> rankBase;
    std::vector<uint32_t> firstShare;  // the share of each one's first rank
    LevelOfRank level{bounds, done};
    uint64_t rank = 0;
    for (uint32_t i = kCoarse; i-- > 0;) {
        const uint32_t k = (i & ((1u << kBinBits) - 1)) << 8 | i >> kBinBits;  // level first, then class
        const uint64_t c = total[k];
        if (c == 0) continue;
        const uint8_t a = level(rank);
        const uint32_t ja = level.j;
        const uint8_t z = level(rank + c - 1);
        if (a == z) {
            table[k] = a;
        } else {
            const bool byPosition = k >= kSaturatedCoarse;
            table[k] = static_cast<uint16_t>(byPosition ? kByPosition | straddling.size() : 256 + straddling.size());
            straddling.push_back(k);
            rankBase.push_back(rank);
            firstShare.push_back(ja);
        }
        rank += c;
    }
    // Places of the straddling classes' pixels, band after band; for those
    // ranked by position alone, their ranks.
    const uint64_t sc = straddling.size();
    std::vector<uint64_t> next(used * sc), itemBegin(sc + 1);
    std::vector<Cursor> cursors(used * sc);
    uint64_t at = 0;
    for (uint64_t s = 0; s < sc; ++s) {
        itemBegin[s] = at;
        const bool byPosition = table[straddling[s]] & kByPosition;
        uint64_t r = rankBase[s];
        for (uint64_t band = 0; band < used; ++band) {
            const uint64_t c = counts[band * kCoarse + straddling[s]];
            next[band * sc + s] = at;
            if (byPosition) {
                const uint32_t j = firstShare[s];
                cursors[band * sc + s] = Cursor{r, bounds[j + 1], j, static_cast<uint8_t>(255 - j)};
            }
            (byPosition ? r : at) += c;
        }
    }
    itemBegin[sc] = at;
    // The rows of each band where a class ranked by position changes level:
    // the row holding the first rank of every share that begins among the
    // band's ranks of the class (the row's cumulative count passes it).
    std::vector<uint64_t> bandRank(used * sc), eventBegin(used + 1), events;
    for (uint64_t band = 0; band < used; ++band) {
        eventBegin[band] = events.size();
        const uint64_t y0 = band * rowsPerBand, y1 = std::min<uint64_t>(static_cast<uint64_t>(h), y0 + rowsPerBand);
        for (uint64_t s = 0; s < sc; ++s) {
            if (!(table[straddling[s]] & kByPosition)) continue;
            const uint32_t L = straddling[s] & 255;
            const uint64_t r = cursors[band * sc + s].rank, c = counts[band * kCoarse + straddling[s]];
            bandRank[band * sc + s] = r;
            uint32_t j = firstShare[s];
            while (j < 256 && bounds[j + 1] <= r) ++j;
            while (j < 256 && bounds[j + 1] < r + c) {
                const uint64_t passed = bounds[j + 1] - r;  // pixels of the band before the boundary
                uint64_t lo = y0, hi = y1 - 1;            // first row whose count exceeds `passed`
                while (lo < hi) {
                    const uint64_t mid = lo + (hi - lo) / 2;
                    if (saturated[256 * mid + L] > passed) hi = mid;
                    else lo = mid + 1;
                }
                events.push_back(lo << 16 | s);
                const uint64_t after = r + saturated[256 * lo + L];
                while (j < 256 && bounds[j + 1] <= after) ++j;
            }
        }
        std::sort(events.begin() + static_cast<std::ptrdiff_t>(eventBegin[band]), events.end());
    }
    eventBegin[used] = events.size();
    std::unique_ptr<uint16_t[]> tables(new (std::nothrow) uint16_t[used * (kCoarse + 1)]);
    std::unique_ptr<uint64_t[]> items(new (std::nothrow) uint64_t[std::max<uint64_t>(at, 1)]);
    if (!items || !tables) return 0;
    job.straddlingClass = straddling.data();
    job.bandRank = bandRank.data();
    job.eventBegin = eventBegin.data();
    job.events = events.data();
    job.tables = tables.get();
    job.straddling = sc;
    job.next = next.data();
    job.items = items.get();
    job.cursors = cursors.data();
    // The rows just outside each band as they were, before the bands
    // overwrite them.
    for (uint64_t band = 0; band < used; ++band) {
        const uint64_t y0 = band * rowsPerBand, y1 = std::min<uint64_t>(static_cast<uint64_t>(h), y0 + rowsPerBand);
        uint8_t* saved = rows.get() + 4 * band * static_cast<uint64_t>(w);
        if (y0 > 0) std::memcpy(saved, pixels + (y0 - 1) * stride, static_cast<size_t>(w));
        if (y1 < static_cast<uint64_t>(h)) std::memcpy(saved + w, pixels + y1 * stride, static_cast<size_t>(w));
    }
    PoolParallelFor(LevelRows, &job, used);
    StraddleJob sj{bounds, done, itemBegin.data(), rankBase.data(), items.get(), pixels};
    PoolParallelFor(StraddleRows, &sj, sc);
    return 1;
}


// 8-bit grey images that FlattenGray8 takes.
bool RanksByClasses(int32_t format, int32_t width, int32_t height) {
    const uint64_t n = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    return format == kImgGray8 && width >= 3 && height >= 3 && n >= 256 && n < uint64_t{1} << 32;
}

// Ranks the image's pixels in `Item`s and hands out the levels.
template <class Item>
int32_t FlattenAs(C_ImgBuff& b) {
    const uint64_t n = static_cast<uint64_t>(b.width) * static_cast<uint64_t>(b.height);
    if (n > SIZE_MAX / (2 * sizeof(Item))) return 0;  // records and the sort's scratch
    std::unique_ptr<Item[]> records(new (std::nothrow) Item[n]);
    const uint32_t top = b.format == kImgGray8 ? 255u : b.format == kImgGray16 ? 65535u : 4294967295u;
    const bool shares = b.format != kImgGray32 && n > top;
    std::unique_ptr<uint64_t[]> bounds(shares ? new (std::nothrow) uint64_t[top + 2ull] : nullptr);
    if (!records || (shares && !bounds)) return 0;
    const int32_t ranked = b.format == kImgGray8    ? RankRecords<uint8_t>(b, records.get())
                           : b.format == kImgGray16 ? RankRecords<uint16_t>(b, records.get())
                                                    : RankRecords<uint32_t>(b, records.get());
    if (!ranked) return 0;
    const uint64_t done = shares ? AssignShares(b, records.get(), n, top, bounds.get()) : AssignSteps(b, records.get(), n, top);
    for (uint64_t i = done; i < n; ++i) WriteLevel(b, records[i], 0);
    return 1;
}

}  // namespace

int32_t ImgFlattenGray(CImgBuff* image, int32_t width, int32_t height) {
    if (!image || !image->buffer) return 0;
    C_ImgBuff& b = *image->buffer;
    if (b.format < kImgGray8 || b.format > kImgGray32 || !b.pixels || width < 1 || height < 1 || width != b.width ||
        height != b.height)
        return 0;
    const uint64_t n = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    if (RanksByClasses(b.format, width, height)) return FlattenGray8(b.pixels, b.width, b.height, static_cast<uint64_t>(b.width));
    if (b.format != kImgGray32 && n <= uint64_t{1} << 32) return FlattenAs<RankItem>(b);
    return FlattenAs<ImgRankRecord>(b);
}

int32_t ImgExtractChannel(CImgBuff* source, CImgBuff* channel, int32_t c) {
    if (!source || !source->buffer || !channel || !channel->buffer || c < 1 || c > 3) return 0;
    const C_ImgBuff& s = *source->buffer;
    if (!ImgFormatValid(s.format) || !channel->buffer->Create(s.width, s.height, ChannelFormat(s.format))) return 0;
    ForEachRow(ChannelJob{source, channel, c - 1}, ImgExtractChannelRows);
    return 1;
}

int32_t ImgFlattenHistogram(CImgBuff* image, const ImgRect* roi) {
    if (!image || !image->buffer) return 0;
    ImgRect r;
    if (!ImgGetRoi(&r, image, roi)) return 0;
    // An 8-bit grey region is flattened where it lies.
    C_ImgBuff& ib = *image->buffer;
    if (ib.pixels && RanksByClasses(ib.format, r.x1 - r.x0 + 1, r.y1 - r.y0 + 1))
        return FlattenGray8(ib.PixelAt(r.x0, r.y0), r.x1 - r.x0 + 1, r.y1 - r.y0 + 1, static_cast<uint64_t>(ib.width));
    CImgBuff work;
    if (!work.buffer || !image->ExtractRect(&work, r.x0, r.y0, r.x1, r.y1)) return 0;
    const C_ImgBuff& wb = *work.buffer;
    if (!ImgFormatValid(wb.format)) return 0;
    if (wb.format <= kImgGray32) {
        if (!ImgFlattenGray(&work, wb.width, wb.height)) return 0;
        return image->PasteImage(&work, static_cast<uint32_t>(r.x0), static_cast<uint32_t>(r.y0)) ? 1 : 0;
    }
    CImgBuff channel;
    if (!channel.buffer) return 0;
    for (int32_t c = 1; c <= 3; ++c) {
        if (!ImgExtractChannel(&work, &channel, c)) return 0;
        if (!ImgFlattenGray(&channel, wb.width, wb.height)) return 0;
        ForEachRow(ChannelJob{&work, &channel, c - 1}, ImgInsertChannelRows);
    }
    return image->PasteImage(&work, static_cast<uint32_t>(r.x0), static_cast<uint32_t>(r.y0)) ? 1 : 0;
}
