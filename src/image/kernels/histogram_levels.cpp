#include "image/kernels/histogram_levels.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "image/kernels/kernel_frame.h"
#include "image/kernels/sample_tables.h"
#include "image/pool.h"

namespace {

// Counts one channel (-1: the 8-bit grey reading; 0, 1, 2: R, G, B of the
// 8-bit RGB reading) of the job's rows first .. first+count-1, then merges.
void CountRows(void* ctx, uint64_t first, uint64_t count, int channel) {
    HistogramJob job = *static_cast<const HistogramJob*>(ctx);
    if (!job.bins || !job.lock) return;
    const int32_t y0 = job.y0;
    if (!ImgJobRegionInside(job.image ? job.image->buffer : nullptr, &job.x0, &job.y0, &job.x1, &job.y1)) return;
    const C_ImgBuff& b = *job.image->buffer;
    if (b.format <= kImgGray32) channel = -1;
    uint64_t local[256] = {};
    uint8_t values[3 * kImgSpanPixels];
    for (uint64_t i = first; i < first + count; ++i) {
        const int64_t y = y0 + static_cast<int64_t>(i);
        if (y < job.y0 || y > job.y1) continue;
        for (int32_t x = job.x0; x <= job.x1; x += kImgSpanPixels) {
            const int32_t n = std::min(kImgSpanPixels, job.x1 - x + 1);
            if (channel < 0) {
                ImgReadGray8Span(b, x, static_cast<int32_t>(y), n, values);
                for (int32_t k = 0; k < n; ++k) ++local[values[k]];
            } else {
                ImgReadRgb8Span(b, x, static_cast<int32_t>(y), n, values);
                for (int32_t k = 0; k < n; ++k) ++local[values[3 * k + channel]];
            }
        }
    }
    CriticalSectionLock hold(*job.lock);
    for (int v = 0; v < 256; ++v) job.bins[v] += local[v];
}

struct LevelStretchJob {
    CImgBuff* image;
    int32_t x0, y0, x1, y1;
    double scale;
    double offset;
};

}  // namespace

void ImgHistogramGrayRows(void* job, uint64_t first, uint64_t count) { CountRows(job, first, count, -1); }
void ImgHistogramBrightnessRows(void* job, uint64_t first, uint64_t count) { CountRows(job, first, count, -1); }
void ImgHistogramRedRows(void* job, uint64_t first, uint64_t count) { CountRows(job, first, count, 0); }
void ImgHistogramGreenRows(void* job, uint64_t first, uint64_t count) { CountRows(job, first, count, 1); }
void ImgHistogramBlueRows(void* job, uint64_t first, uint64_t count) { CountRows(job, first, count, 2); }

int32_t ImgHistogram(CImgBuff* image, int32_t mode, uint64_t* bins, uint64_t* largest, const ImgRect* roi) {
    static constexpr PoolWorkerFn kWorkers[4] = {ImgHistogramBrightnessRows, ImgHistogramRedRows, ImgHistogramGreenRows,
                                                 ImgHistogramBlueRows};
    if (mode < 1 || mode > 4 || !bins || !largest || !image || !image->buffer) return 0;
    ImgRect r;
    if (!ImgGetRoi(&r, image, roi)) return 0;
    std::unique_ptr<CriticalSection> lock(PoolNewCriticalSection());
    if (!lock) return 0;
    std::memset(bins, 0, 256 * sizeof(uint64_t));
    HistogramJob job{image, r.x0, r.y0, r.x1, r.y1, bins, lock.get()};
    PoolParallelFor(kWorkers[mode - 1], &job, static_cast<uint64_t>(r.y1 - r.y0 + 1));
    *largest = *std::max_element(bins, bins + 256);
    return 1;
}

ImgLevelTable* ImgLevelTableCreate(uint16_t low, uint16_t high) {
    if (low > high) return nullptr;
    ImgLevelTable* t = new (std::nothrow) ImgLevelTable;
    if (!t) return nullptr;
    t->table16 = new (std::nothrow) uint16_t[65536];
    if (!t->table16) {
        delete t;
        return nullptr;
    }
    for (uint32_t i = 0; i < 65536; ++i) {
        if (i < low) t->table16[i] = 0;
        else if (i > high) t->table16[i] = 65535;
        else if (low == high) t->table16[i] = 0;
        else t->table16[i] = static_cast<uint16_t>((i - low) * 65535u / static_cast<uint32_t>(high - low));
    }
    const uint32_t l = low >> 8, h = high >> 8;
    for (uint32_t i = 0; i < 256; ++i) {
        if (i < l) t->table8[i] = 0;
        else if (i > h) t->table8[i] = 255;
        else if (l == h) t->table8[i] = 0;
        else t->table8[i] = static_cast<uint8_t>((i - l) * 255u / (h - l));
    }
    return t;
}

int32_t ImgLevelTableFree(ImgLevelTable* table) {
    if (!table) return 0;
    delete[] table->table16;
    delete table;
    return 1;
}

int32_t ImgLevelTableApply(CImgBuff* image, const ImgLevelTable* table, const ImgRect* roi) {
    if (!table) return 0;
    return ImgApplySampleTables(image, table->table8, table->table16, roi);
}

int32_t ImgLevelStretch(CImgBuff* image, uint16_t low, uint16_t high, const ImgRect* roi) {
    if (!image || !image->buffer || low > high) return 0;
    ImgRect r;
    if (!ImgGetRoi(&r, image, roi)) return 0;
    const uint32_t lo = static_cast<uint32_t>(low) << 16, hi = (static_cast<uint32_t>(high) << 16) + 65535u;
    const LevelStretchJob job{image, r.x0, r.y0, r.x1, r.y1, 4294967295.0 / static_cast<double>(hi - lo), static_cast<double>(lo)};
    const auto stretch = [&job](uint32_t v) { return ImgClampToU32((static_cast<double>(v) - job.offset) * job.scale); };
    ImgForEachRegionRow(r, [&](int32_t y) { ImgMapSpan32(*job.image->buffer, job.x0, y, job.x1 - job.x0 + 1, stretch); });
    return 1;
}
