#include "image/kernels/image_compare.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>

#include "image/colour.h"
#include "image/kernels/kernel_frame.h"
#include "image/pool.h"

void ImgCompareSampleRow(const C_ImgBuff& image, int32_t x0, int32_t y, int32_t n, bool colour, bool lab, uint8_t* out) {
    if (!lab) {
        if (colour) ImgReadRgb8Span(image, x0, y, n, out);
        else ImgReadGray8Span(image, x0, y, n, out);
        return;
    }
    for (int32_t i = 0; i < n; ++i) {
        double cx = 0, cy = 0, cz = 0, l = 0, a = 0, b = 0;
        image.GetPixelXyz(x0 + i, y, &cx, &cy, &cz);
        ImgXyzToLab(cx, cy, cz, &l, &a, &b);
        // XYZ pixels can lie outside the sRGB range: the samples are clamped
        // to a byte.
        if (colour) {
            out[3 * i] = ImgClampToU8(l * 255.0 / 100.0);
            out[3 * i + 1] = ImgClampToU8(a + 128.0);
            out[3 * i + 2] = ImgClampToU8(b + 128.0);
        } else {
            out[i] = ImgClampToU8(l * 255.0 / 100.0);
        }
    }
}

namespace {

bool HasPixels(const CImgBuff* h) { return h && h->buffer && ImgFormatValid(h->buffer->format) && h->buffer->pixels; }

int64_t CollectSamples(const CImgBuff* a, const CImgBuff* b, int32_t x, int32_t y, bool lab, uint32_t** samplesA,
                       uint32_t** samplesB) {
    if (samplesA) *samplesA = nullptr;
    if (samplesB) *samplesB = nullptr;
    if (!samplesA || !samplesB || !HasPixels(a) || !HasPixels(b)) return 0;
    const C_ImgBuff& A = *a->buffer;
    const C_ImgBuff& B = *b->buffer;
    const int64_t ax0 = std::max<int64_t>(x, 0), ay0 = std::max<int64_t>(y, 0);
    const int64_t w = std::min<int64_t>(int64_t{x} + B.width, A.width) - ax0;
    const int64_t h = std::min<int64_t>(int64_t{y} + B.height, A.height) - ay0;
    if (w < 1 || h < 1) return 0;
    const int64_t bx0 = ax0 - x, by0 = ay0 - y;
    const bool colour = ImgCompareByColour(A.format, B.format);
    const int64_t channels = colour ? 3 : 1;
    const int64_t pixels = w * h, n = pixels * channels;
    std::unique_ptr<uint32_t[]> sa(new (std::nothrow) uint32_t[static_cast<size_t>(n)]);
    std::unique_ptr<uint32_t[]> sb(sa ? new (std::nothrow) uint32_t[static_cast<size_t>(n)] : nullptr);
    std::unique_ptr<uint8_t[]> row(sb ? new (std::nothrow) uint8_t[static_cast<size_t>(2 * w * channels)] : nullptr);
    if (!row) return 0;
    uint8_t* rowA = row.get();
    uint8_t* rowB = row.get() + w * channels;
    for (int64_t r = 0; r < h; ++r) {
        ImgCompareSampleRow(A, static_cast<int32_t>(ax0), static_cast<int32_t>(ay0 + r), static_cast<int32_t>(w), colour, lab, rowA);
        ImgCompareSampleRow(B, static_cast<int32_t>(bx0), static_cast<int32_t>(by0 + r), static_cast<int32_t>(w), colour, lab, rowB);
        // Plane c holds channel c of every pixel of the overlap.
        for (int64_t c = 0; c < channels; ++c) {
            uint32_t* pa = sa.get() + c * pixels + r * w;
            uint32_t* pb = sb.get() + c * pixels + r * w;
            for (int64_t i = 0; i < w; ++i) {
                pa[i] = rowA[i * channels + c];
                pb[i] = rowB[i * channels + c];
            }
        }
    }
    *samplesA = sa.release();
    *samplesB = sb.release();
    return n;
}

}  // namespace

int64_t ImgCompareSamples(const CImgBuff* a, const CImgBuff* b, int32_t x, int32_t y, uint32_t** samplesA,
                          uint32_t** samplesB) {
    return CollectSamples(a, b, x, y, false, samplesA, samplesB);
}

int64_t ImgCompareSamplesLab(const CImgBuff* a, const CImgBuff* b, int32_t x, int32_t y, uint32_t** samplesA,
                             uint32_t** samplesB) {
    return CollectSamples(a, b, x, y, true, samplesA, samplesB);
}

void ImgCompareSumAbsDiff(void* ctx, uint64_t first, uint64_t count) {
    CompareImagesJob& job = *static_cast<CompareImagesJob*>(ctx);
    uint64_t sum = 0;
    for (uint64_t i = first; i < first + count; ++i)
        sum += static_cast<uint64_t>(std::abs(static_cast<int32_t>(job.a[i]) - static_cast<int32_t>(job.b[i])));
    CriticalSectionLock hold(*job.lock);
    job.total += static_cast<double>(sum);
}

void ImgCompareSumCentredProducts(void* ctx, uint64_t first, uint64_t count) {
    CompareImagesJob& job = *static_cast<CompareImagesJob*>(ctx);
    double sum = 0.0;
    for (uint64_t i = first; i < first + count; ++i)
        sum += (static_cast<double>(job.a[i]) - job.meanA) * (static_cast<double>(job.b[i]) - job.meanB) / job.norm;
    CriticalSectionLock hold(*job.lock);
    job.total += sum;
}

double ImgCompareImages(const CImgBuff* a, const CImgBuff* b, int32_t x, int32_t y, int32_t method, int32_t sampling) {
    uint32_t* sa = nullptr;
    uint32_t* sb = nullptr;
    const int64_t n = CollectSamples(a, b, x, y, sampling != 0, &sa, &sb);
    std::unique_ptr<uint32_t[]> ownA(sa), ownB(sb);
    if (n < 1) return -1.0;
    CriticalSection lock;
    CompareImagesJob job{sa, sb, 0.0, 0.0, 0.0, 0.0, &lock};
    const double count = static_cast<double>(n);
    if (method == 0) {
        PoolParallelFor(ImgCompareSumAbsDiff, &job, static_cast<uint64_t>(n));
        return ImgCompareDifferenceScore(job.total, count);
    }
    // Squares of byte samples: the 64-bit sums are exact and so are the
    // doubles made from them.
    uint64_t sumA = 0, sumB = 0, squaresA = 0, squaresB = 0;
    for (int64_t i = 0; i < n; ++i) {
        sumA += sa[i];
        sumB += sb[i];
        squaresA += uint64_t{sa[i]} * sa[i];
        squaresB += uint64_t{sb[i]} * sb[i];
    }
    job.norm = std::sqrt(static_cast<double>(squaresB)) * std::sqrt(static_cast<double>(squaresA));
    if (!(job.norm > 0.0)) return -1.0;
    job.meanA = static_cast<double>(sumA) / count;
    job.meanB = static_cast<double>(sumB) / count;
    PoolParallelFor(ImgCompareSumCentredProducts, &job, static_cast<uint64_t>(n));
    return ImgCompareCorrelationScore(job.total);
}

namespace {

// Spread and curvature of a run of means of L*, a*, b* (rows or columns).
struct MeanRun {
    double spread[3] = {0, 0, 0};
    double curvature[3] = {0, 0, 0};
};

MeanRun ScanMeans(const double* sums, int64_t count, double divisor, const double* mean) {
    MeanRun run;
    double p1[3] = {0, 0, 0}, p2[3] = {0, 0, 0};
    int counted = 0;
    for (int64_t i = 0; i < count; ++i) {
        double m[3];
        for (int c = 0; c < 3; ++c) {
            m[c] = sums[3 * i + c] / divisor;
            const double d = m[c] - mean[c];
            run.spread[c] += d * d;
        }
        // The first three means only fill the history.
        if (counted < 3) {
            ++counted;
        } else {
            for (int c = 0; c < 3; ++c) run.curvature[c] += std::fabs((m[c] - p1[c]) - (p1[c] - p2[c]));
        }
        for (int c = 0; c < 3; ++c) {
            p2[c] = p1[c];
            p1[c] = m[c];
        }
    }
    return run;
}

}  // namespace

int32_t ImgRectStatistics(const CImgBuff* image, int32_t x0, int32_t y0, int32_t x1, int32_t y1, RectStatistics* out) {
    if (!out || !HasPixels(image)) return 0;
    const C_ImgBuff& img = *image->buffer;
    if (x0 < 0 || x0 > x1 || x1 >= img.width || y0 < 0 || y0 > y1 || y1 >= img.height) return 0;
    const int64_t w = int64_t{x1} - x0 + 1, h = int64_t{y1} - y0 + 1;
    // Every pixel is converted once; each sum below still sees its additions
    // in the order of a row, a column or the whole rectangle row by row.
    std::unique_ptr<double[]> rows(new (std::nothrow) double[static_cast<size_t>(3 * h)]());
    std::unique_ptr<double[]> cols(rows ? new (std::nothrow) double[static_cast<size_t>(3 * w)]() : nullptr);
    if (!cols) return 0;
    double total[3] = {0, 0, 0};
    for (int64_t j = 0; j < h; ++j) {
        for (int64_t i = 0; i < w; ++i) {
            double cx = 0, cy = 0, cz = 0, lab[3] = {0, 0, 0};
            img.GetPixelXyz(static_cast<int32_t>(x0 + i), static_cast<int32_t>(y0 + j), &cx, &cy, &cz);
            ImgXyzToLab(cx, cy, cz, &lab[0], &lab[1], &lab[2]);
            for (int c = 0; c < 3; ++c) {
                total[c] += lab[c];
                rows[3 * j + c] += lab[c];
                cols[3 * i + c] += lab[c];
            }
        }
    }
    RectStatistics s{};
    const double area = static_cast<double>(w * h);
    const double mean[3] = {total[0] / area, total[1] / area, total[2] / area};
    s.slot[2] = mean[0];
    s.slot[5] = mean[1];
    s.slot[8] = mean[2];
    const MeanRun byRow = ScanMeans(rows.get(), h, static_cast<double>(w), mean);
    const MeanRun byCol = ScanMeans(cols.get(), w, static_cast<double>(h), mean);
    const double hd = static_cast<double>(h), wd = static_cast<double>(w);
    s.slot[9] = std::sqrt(byRow.spread[0] / hd);
    s.slot[10] = std::sqrt(byCol.spread[0] / wd);
    s.slot[11] = std::sqrt(std::max(byRow.spread[1] / hd, byRow.spread[2] / hd));
    s.slot[12] = std::sqrt(std::max(byCol.spread[1] / wd, byCol.spread[2] / wd));
    s.slot[13] = byRow.curvature[0];
    s.slot[14] = byCol.curvature[0];
    s.slot[15] = std::max(byRow.curvature[1], byRow.curvature[2]);
    s.slot[16] = std::max(byCol.curvature[1], byCol.curvature[2]);
    *out = s;
    return 1;
}
