#include "image/kernels/equalize.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

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

struct RankRecordsJob {
    const C_ImgBuff* image;
    int32_t width, height;
    ImgRankRecord* records;
};

// mean(neighbours) - level, truncated and clamped to i32.
int32_t ContrastKey(uint64_t sum, int count, uint32_t level) {
    const double mean = count ? static_cast<double>(sum) / count : 0.0;
    const double d = std::trunc(mean - static_cast<double>(level));
    if (d >= 2147483647.0) return INT32_MAX;
    if (d <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(d);
}

// One row's records: pixels with all eight neighbours inside are summed
// straight from the three rows; the border goes through
// ImgNeighbourContrast.
template <class T>
void RankRow(const RankRecordsJob& job, int32_t y, uint64_t widen) {
    const C_ImgBuff& b = *job.image;
    const int32_t w = job.width;
    ImgRankRecord* r = job.records + static_cast<uint64_t>(y) * static_cast<uint64_t>(w);
    const T* row = reinterpret_cast<const T*>(b.PixelAt(0, y));
    const bool inner = y > 0 && y < job.height - 1;
    const T* up = inner ? row - w : nullptr;
    const T* down = inner ? row + w : nullptr;
    for (int32_t x = 0; x < w; ++x) {
        int32_t key;
        if (inner && x > 0 && x < w - 1) {
            const uint64_t sum = static_cast<uint64_t>(up[x - 1]) + up[x] + up[x + 1] + row[x - 1] + row[x + 1] + down[x - 1] +
                                 down[x] + down[x + 1];
            key = ContrastKey(sum * widen, 8, row[x]);
        } else {
            key = ImgNeighbourContrast(b, x, y);
        }
        r[x] = ImgRankRecord{row[x], key, static_cast<uint32_t>(x), static_cast<uint32_t>(y)};
    }
}

void ImgRankRecordsRows(void* ctx, uint64_t first, uint64_t count) {
    const RankRecordsJob& job = *static_cast<const RankRecordsJob*>(ctx);
    for (uint64_t i = first; i < first + count; ++i) {
        const int32_t y = static_cast<int32_t>(i);
        switch (job.image->format) {
            case kImgGray8: RankRow<uint8_t>(job, y, 16843009u); break;
            case kImgGray16: RankRow<uint16_t>(job, y, 65537u); break;
            default: RankRow<uint32_t>(job, y, 1u); break;
        }
    }
}

// Records merged per work item once pairs of runs grow long: the late
// passes, with few pairs, are cut into pieces of the output so that every
// thread takes part. Where each piece starts in the two runs follows from
// the stable merge order, so the result is that of one merge per pair.
constexpr uint64_t kMergePiece = 32768;

struct MergePassJob {
    const ImgRankRecord* source;
    ImgRankRecord* dest;
    uint64_t n;             // records in all
    uint64_t run;           // records per run; a pair is two runs
    uint64_t piecesPerPair;  // work items per complete pair
};

// How many of the first `d` merged records come from the left run.
uint64_t LeftShare(const ImgRankRecord* left, uint64_t nl, const ImgRankRecord* right, uint64_t nr, uint64_t d) {
    uint64_t lo = d > nr ? d - nr : 0, hi = std::min(d, nl);
    while (lo < hi) {
        const uint64_t i = lo + (hi - lo) / 2, j = d - i;
        // Left record i is taken before right record j-1 unless the right
        // one ranks strictly first.
        if (j > 0 && RankKey(left[i]) >= RankKey(right[j - 1])) lo = i + 1;
        else hi = i;
    }
    return lo;
}

void ParallelMergeSortPass(void* ctx, uint64_t first, uint64_t count) {
    const MergePassJob& job = *static_cast<const MergePassJob*>(ctx);
    for (uint64_t item = first; item < first + count; ++item) {
        const uint64_t pairIndex = item / job.piecesPerPair, piece = item % job.piecesPerPair;
        const uint64_t at = pairIndex * 2 * job.run;
        const uint64_t nl = std::min(job.run, job.n - at), nr = std::min(job.run, job.n - at - nl);
        const uint64_t d0 = std::min(nl + nr, piece * kMergePiece);
        const uint64_t d1 = job.piecesPerPair == 1 ? nl + nr : std::min(nl + nr, d0 + kMergePiece);
        const ImgRankRecord* left = job.source + at;
        const ImgRankRecord* right = left + nl;
        const uint64_t i0 = LeftShare(left, nl, right, nr, d0), i1 = LeftShare(left, nl, right, nr, d1);
        MergeSortedRuns(left + i0, right + (d0 - i0), job.dest + at + d0, i1 - i0, (d1 - i1) - (d0 - i0));
    }
}

void WriteLevel(C_ImgBuff& b, const ImgRankRecord& r, uint32_t level) {
    uint8_t* p = b.PixelAt(static_cast<int32_t>(r.x), static_cast<int32_t>(r.y));
    switch (b.format) {
        case kImgGray8: *p = static_cast<uint8_t>(level); break;
        case kImgGray16: *reinterpret_cast<uint16_t*>(p) = static_cast<uint16_t>(level); break;
        default: *reinterpret_cast<uint32_t*>(p) = level; break;
    }
}

// Equal shares: levels from `top` down to 0, each taking the next
// trunc(carried fraction + quantum) records.
uint64_t AssignShares(C_ImgBuff& b, const ImgRankRecord* sorted, uint64_t n, uint32_t top) {
    const double quantum = static_cast<double>(n) / (static_cast<double>(top) + 1.0);
    double r = 0.0;
    uint64_t done = 0;
    for (int64_t level = top; level >= 0 && done < n; --level) {
        r += quantum;
        const double k = std::trunc(r);
        r -= k;
        const uint64_t take = std::min<uint64_t>(static_cast<uint64_t>(k), n - done);
        for (uint64_t j = 0; j < take; ++j) WriteLevel(b, sorted[done + j], static_cast<uint32_t>(level));
        done += take;
    }
    return done;
}

// Spread levels: from `top` down in steps of (top + 1) / n, the fraction
// carried from step to step.
uint64_t AssignSteps(C_ImgBuff& b, const ImgRankRecord* sorted, uint64_t n, uint32_t top) {
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

void MergeSortedRuns(const ImgRankRecord* left, const ImgRankRecord* right, ImgRankRecord* dest, uint64_t leftCount,
                     uint64_t rightCount) {
    const ImgRankRecord* leftEnd = left + leftCount;
    const ImgRankRecord* rightEnd = right + rightCount;
    while (left < leftEnd && right < rightEnd) {
        // The left head wins ties: that keeps the sort stable. Written
        // without a branch on the data, which would be mispredicted half
        // the time.
        const bool takeRight = RankKey(*right) > RankKey(*left);
        *dest++ = *(takeRight ? right : left);
        right += takeRight;
        left += !takeRight;
    }
    while (left < leftEnd) *dest++ = *left++;
    while (right < rightEnd) *dest++ = *right++;
}

int32_t ParallelMergeSort(ImgRankRecord* records, uint64_t n) {
    if (!records || n == 0) return 0;
    if (n == 1) return 1;
    ImgRankRecord* second = new (std::nothrow) ImgRankRecord[n];
    if (!second) return 0;
    ImgRankRecord* source = records;
    ImgRankRecord* dest = second;
    for (uint64_t run = 1; run < n; run *= 2) {
        // A tail of more than one run is merged like a full pair; a tail of
        // one run is copied as it is.
        const uint64_t pair = 2 * run, rest = n % pair, pairs = n / pair + (rest > run ? 1 : 0);
        const uint64_t pieces = pair > kMergePiece ? pair / kMergePiece : 1;
        MergePassJob job{source, dest, n, run, pieces};
        PoolParallelFor(ParallelMergeSortPass, &job, pairs * pieces);
        if (rest > 0 && rest <= run) std::memcpy(dest + (n - rest), source + (n - rest), rest * sizeof(ImgRankRecord));
        std::swap(source, dest);
    }
    if (source != records) std::memcpy(records, source, n * sizeof(ImgRankRecord));
    delete[] second;
    return 1;
}

int32_t ImgFlattenGray(CImgBuff* image, int32_t width, int32_t height) {
    if (!image || !image->buffer) return 0;
    C_ImgBuff& b = *image->buffer;
    if (b.format < kImgGray8 || b.format > kImgGray32 || !b.pixels || width < 1 || height < 1 || width != b.width ||
        height != b.height)
        return 0;
    const uint64_t n = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    if (n > SIZE_MAX / (2 * sizeof(ImgRankRecord))) return 0;  // records and the sort's second array
    ImgRankRecord* records = new (std::nothrow) ImgRankRecord[n];
    if (!records) return 0;
    RankRecordsJob job{&b, width, height, records};
    PoolParallelFor(ImgRankRecordsRows, &job, static_cast<uint64_t>(height));
    if (!ParallelMergeSort(records, n)) {
        delete[] records;
        return 0;
    }
    const uint32_t top = b.format == kImgGray8 ? 255u : b.format == kImgGray16 ? 65535u : 4294967295u;
    const uint64_t done = (b.format != kImgGray32 && n > top) ? AssignShares(b, records, n, top) : AssignSteps(b, records, n, top);
    for (uint64_t i = done; i < n; ++i) WriteLevel(b, records[i], 0);
    delete[] records;
    return 1;
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
