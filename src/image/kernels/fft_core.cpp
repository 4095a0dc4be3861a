// FFT core. Rows and columns are transformed four at a time, one per lane
// of a vector: a group is gathered into a small buffer in bit-reversed order
// (real and imaginary parts split, one vector of four lanes per element, so
// each element fills one cache line), transformed by iterative radix-4
// decimation-in-time stages on whole vectors, and scattered back. The
// gathers and scatters are 4 x 4 transposes in registers. Columns are read
// sixteen at a time (a run of 256 bytes per row) without a transpose of the
// whole array; rows four at a time. Each lane's arithmetic is the same
// whatever its neighbours, so the split over the pool never changes a bit.
#include "image/kernels/fft_core.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "image/kernels/kernel_frame.h"
#include "image/pool.h"

namespace {

constexpr int kLanes = 4;
using Lanes = double __attribute__((vector_size(kLanes * sizeof(double))));

bool PowerOfTwoAtLeast2(uint64_t v) { return v >= 2 && (v & (v - 1)) == 0; }

int Log2(uint64_t v) { return 63 - __builtin_clzll(v); }

// width * height * element bytes, or 0 when the product does not fit.
uint64_t ArrayBytes(uint64_t width, uint64_t height, uint64_t element) {
    uint64_t n = 0, bytes = 0;
    if (__builtin_mul_overflow(width, height, &n) || __builtin_mul_overflow(n, element, &bytes)) return 0;
    if (bytes > static_cast<uint64_t>(SIZE_MAX) - 64) return 0;
    return bytes;
}

void* AlignedAlloc(uint64_t bytes) {
    const uint64_t rounded = (bytes + 63) & ~uint64_t(63);
    return std::aligned_alloc(64, rounded ? rounded : 64);
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// Stages of a transform of length n on a buffer that holds the input in
// bit-reversed order; element j is the pair (b[2j] real, b[2j+1] imaginary),
// each of type V (a scalar or a vector of lanes). `tw` is the level of
// length n; the level of length s lies at tw + (n - s).
template <class V>
inline __attribute__((always_inline)) void Stages(V* b, uint64_t n, const FftComplex* tw) {
    uint64_t m = 1;
    if (Log2(n) & 1) {
        for (uint64_t j = 0; j < n; j += 2) {
            const V ar = b[2 * j], ai = b[2 * j + 1], br = b[2 * j + 2], bi = b[2 * j + 3];
            b[2 * j] = ar + br;
            b[2 * j + 1] = ai + bi;
            b[2 * j + 2] = ar - br;
            b[2 * j + 3] = ai - bi;
        }
        m = 2;
    } else if (n >= 4) {
        // First radix-4 stage: every factor is 1.
        for (uint64_t j = 0; j < n; j += 4) {
            V* p = b + 2 * j;
            const V b0r = p[0] + p[2], b0i = p[1] + p[3], b1r = p[0] - p[2], b1i = p[1] - p[3];
            const V b2r = p[4] + p[6], b2i = p[5] + p[7], b3r = p[4] - p[6], b3i = p[5] - p[7];
            p[0] = b0r + b2r;
            p[1] = b0i + b2i;
            p[4] = b0r - b2r;
            p[5] = b0i - b2i;
            // (-i) * b3 = b3i - i b3r
            p[2] = b1r + b3i;
            p[3] = b1i - b3r;
            p[6] = b1r - b3i;
            p[7] = b1i + b3r;
        }
        m = 4;
    }
    for (; m < n; m *= 4) {
        const FftComplex* w2 = tw + (n - 2 * m);
        const FftComplex* w4 = tw + (n - 4 * m);
        for (uint64_t g = 0; g < n; g += 4 * m) {
            V* p0 = b + 2 * g;
            V* p1 = p0 + 2 * m;
            V* p2 = p0 + 4 * m;
            V* p3 = p0 + 6 * m;
            for (uint64_t k = 0; k < m; ++k) {
                const double c2 = w2[k].re, s2 = w2[k].im, c4 = w4[k].re, s4 = w4[k].im;
                const V a0r = p0[2 * k], a0i = p0[2 * k + 1], a1r = p1[2 * k], a1i = p1[2 * k + 1];
                const V a2r = p2[2 * k], a2i = p2[2 * k + 1], a3r = p3[2 * k], a3i = p3[2 * k + 1];
                // Level 2m: (a0, a1) and (a2, a3), factor W(2m, k).
                const V t1r = a1r * c2 - a1i * s2, t1i = a1r * s2 + a1i * c2;
                const V t3r = a3r * c2 - a3i * s2, t3i = a3r * s2 + a3i * c2;
                const V b0r = a0r + t1r, b0i = a0i + t1i, b1r = a0r - t1r, b1i = a0i - t1i;
                const V b2r = a2r + t3r, b2i = a2i + t3i, b3r = a2r - t3r, b3i = a2i - t3i;
                // Level 4m: factor W(4m, k) for (b0, b2), W(4m, k + m) = -i W(4m, k) for (b1, b3).
                const V u2r = b2r * c4 - b2i * s4, u2i = b2r * s4 + b2i * c4;
                const V u3r = b3r * c4 - b3i * s4, u3i = b3r * s4 + b3i * c4;
                p0[2 * k] = b0r + u2r;
                p0[2 * k + 1] = b0i + u2i;
                p2[2 * k] = b0r - u2r;
                p2[2 * k + 1] = b0i - u2i;
                p1[2 * k] = b1r + u3i;
                p1[2 * k + 1] = b1i - u3r;
                p3[2 * k] = b1r - u3i;
                p3[2 * k + 1] = b1i + u3r;
            }
        }
    }
}

#define FFT_INLINE inline __attribute__((always_inline))

// A vector of four doubles read from or written to memory aligned to 8 bytes.
using LanesU = double __attribute__((vector_size(kLanes * sizeof(double)), aligned(8)));

FFT_INLINE const LanesU* At(const FftComplex* p) { return reinterpret_cast<const LanesU*>(p); }
FFT_INLINE LanesU* At(FftComplex* p) { return reinterpret_cast<LanesU*>(p); }

void MakeReversal(uint32_t* rev, uint64_t n) {
    const int bits = Log2(n);
    rev[0] = 0;
    for (uint64_t j = 1; j < n; ++j) rev[j] = (rev[j >> 1] >> 1) | static_cast<uint32_t>((j & 1) << (bits - 1));
}

// Scaling of the scatter: forward (1, 1); inverse (1/L, -1/L), which with the
// negated imaginary parts of the gather makes the conjugate of the forward
// transform of the conjugate, divided by L.
struct Scale {
    double re, im, sign;
};
Scale ScaleOf(uint64_t n, bool inverse) {
    const double r = inverse ? 1.0 / static_cast<double>(n) : 1.0;
    return Scale{r, inverse ? -r : 1.0, inverse ? -1.0 : 1.0};
}

// Four rows (elements j, j + 1 of rows r[0..3]) into the buffer, and back.
FFT_INLINE void GatherRows(Lanes* b, FftComplex* const r[4], uint64_t n, const uint32_t* rev, double sign) {
    for (uint64_t j = 0; j < n; j += 2) {
        const Lanes a0 = *At(r[0] + j), a1 = *At(r[1] + j), a2 = *At(r[2] + j), a3 = *At(r[3] + j);
        const Lanes t0 = __builtin_shufflevector(a0, a1, 0, 4, 2, 6), t1 = __builtin_shufflevector(a0, a1, 1, 5, 3, 7);
        const Lanes t2 = __builtin_shufflevector(a2, a3, 0, 4, 2, 6), t3 = __builtin_shufflevector(a2, a3, 1, 5, 3, 7);
        Lanes* e0 = b + 2 * rev[j];
        Lanes* e1 = b + 2 * rev[j + 1];
        e0[0] = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
        e0[1] = __builtin_shufflevector(t1, t3, 0, 1, 4, 5) * sign;
        e1[0] = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
        e1[1] = __builtin_shufflevector(t1, t3, 2, 3, 6, 7) * sign;
    }
}

FFT_INLINE void ScatterRows(const Lanes* b, FftComplex* const r[4], uint64_t n, Scale s) {
    for (uint64_t j = 0; j < n; j += 2) {
        const Lanes re0 = b[2 * j] * s.re, im0 = b[2 * j + 1] * s.im, re1 = b[2 * j + 2] * s.re, im1 = b[2 * j + 3] * s.im;
        const Lanes a = __builtin_shufflevector(re0, im0, 0, 4, 2, 6), c = __builtin_shufflevector(re0, im0, 1, 5, 3, 7);
        const Lanes d = __builtin_shufflevector(re1, im1, 0, 4, 2, 6), e = __builtin_shufflevector(re1, im1, 1, 5, 3, 7);
        *At(r[0] + j) = __builtin_shufflevector(a, d, 0, 1, 4, 5);
        *At(r[1] + j) = __builtin_shufflevector(c, e, 0, 1, 4, 5);
        *At(r[2] + j) = __builtin_shufflevector(a, d, 2, 3, 6, 7);
        *At(r[3] + j) = __builtin_shufflevector(c, e, 2, 3, 6, 7);
    }
}

// Lanes of fewer than four lines (sides of 2): element j of lane l at
// p + l * laneStep + j * elemStep; missing lanes are zero.
FFT_INLINE void GatherPartial(Lanes* b, const FftComplex* p, int lanes, uint64_t laneStep, uint64_t elemStep, uint64_t n,
                              const uint32_t* rev, double sign) {
    for (uint64_t j = 0; j < n; ++j) {
        Lanes re = {0, 0, 0, 0}, im = {0, 0, 0, 0};
        for (int l = 0; l < lanes; ++l) {
            re[l] = p[l * laneStep + j * elemStep].re;
            im[l] = p[l * laneStep + j * elemStep].im;
        }
        b[2 * rev[j]] = re;
        b[2 * rev[j] + 1] = im * sign;
    }
}

FFT_INLINE void ScatterPartial(const Lanes* b, FftComplex* p, int lanes, uint64_t laneStep, uint64_t elemStep, uint64_t n, Scale s) {
    for (uint64_t j = 0; j < n; ++j) {
        const Lanes re = b[2 * j] * s.re, im = b[2 * j + 1] * s.im;
        for (int l = 0; l < lanes; ++l) p[l * laneStep + j * elemStep] = FftComplex{re[l], im[l]};
    }
}

// Lines (rows or columns) per pool index.
constexpr uint64_t kRowGroup = kLanes;
constexpr uint64_t kColumnGroups = 4;
constexpr uint64_t kColumnBlock = kColumnGroups * kLanes;

Lanes* LaneBuffer(const FftRowsJob* job, uint64_t groups) {
    Lanes* b = static_cast<Lanes*>(AlignedAlloc(groups * job->length * 2 * sizeof(Lanes)));
    if (!b) __atomic_store_n(&const_cast<FftRowsJob*>(job)->failed, 1, __ATOMIC_RELAXED);
    return b;
}

// Transforms rows y .. y+lanes-1 (lanes <= 4) of job->array.
FFT_INLINE void RowGroup(Lanes* b, const FftRowsJob* job, uint64_t y, int lanes, Scale s) {
    const uint64_t n = job->length;
    FftComplex* row = job->array + y * job->stride;
    if (lanes == kLanes) {
        FftComplex* const r[4] = {row, row + job->stride, row + 2 * job->stride, row + 3 * job->stride};
        GatherRows(b, r, n, job->reversal, s.sign);
        Stages(b, n, job->twiddles);
        ScatterRows(b, r, n, s);
    } else {
        GatherPartial(b, row, lanes, job->stride, 1, n, job->reversal, s.sign);
        Stages(b, n, job->twiddles);
        ScatterPartial(b, row, lanes, job->stride, 1, n, s);
    }
}

// Row groups first .. first+count-1 of four rows each.
KV_KERNEL_CLONES void RowGroups(const FftRowsJob* job, uint64_t first, uint64_t count, bool inverse) {
    std::unique_ptr<Lanes, FreeDeleter> buffer(LaneBuffer(job, 1));
    if (!buffer) return;
    const Scale s = ScaleOf(job->length, inverse);
    for (uint64_t g = first; g < first + count; ++g) {
        const uint64_t y = g * kRowGroup;
        RowGroup(buffer.get(), job, y, static_cast<int>(std::min<uint64_t>(kLanes, job->lines - y)), s);
    }
}

// Column blocks first .. first+count-1 of sixteen columns each: every row
// of a block is one run of 256 bytes, gathered into four lane buffers.
// Elements from row job->filled on are zero and are not read.
KV_KERNEL_CLONES void ColumnBlocks(const FftRowsJob* job, uint64_t first, uint64_t count, bool inverse) {
    const uint64_t n = job->length, columns = job->lines, stride = job->stride, filled = std::min(job->filled, n);
    std::unique_ptr<Lanes, FreeDeleter> buffer(LaneBuffer(job, kColumnGroups));
    if (!buffer) return;
    Lanes* b = buffer.get();
    const uint32_t* rev = job->reversal;
    const Scale s = ScaleOf(n, inverse);
    const Lanes zero = {0, 0, 0, 0};
    for (uint64_t blk = first; blk < first + count; ++blk) {
        const uint64_t x = blk * kColumnBlock;
        FftComplex* top = job->array + x;
        if (x + kColumnBlock <= columns) {
            for (uint64_t j = 0; j < filled; ++j) {
                const FftComplex* p = top + j * stride;
                for (uint64_t g = 0; g < kColumnGroups; ++g) {
                    const Lanes c01 = *At(p + g * kLanes), c23 = *At(p + g * kLanes + 2);
                    Lanes* e = b + (g * n + rev[j]) * 2;
                    e[0] = __builtin_shufflevector(c01, c23, 0, 2, 4, 6);
                    e[1] = __builtin_shufflevector(c01, c23, 1, 3, 5, 7) * s.sign;
                }
            }
            for (uint64_t j = filled; j < n; ++j)
                for (uint64_t g = 0; g < kColumnGroups; ++g) {
                    Lanes* e = b + (g * n + rev[j]) * 2;
                    e[0] = zero;
                    e[1] = zero;
                }
            for (uint64_t g = 0; g < kColumnGroups; ++g) Stages(b + g * n * 2, n, job->twiddles);
            for (uint64_t j = 0; j < n; ++j) {
                FftComplex* p = top + j * stride;
                for (uint64_t g = 0; g < kColumnGroups; ++g) {
                    const Lanes* e = b + (g * n + j) * 2;
                    const Lanes re = e[0] * s.re, im = e[1] * s.im;
                    *At(p + g * kLanes) = __builtin_shufflevector(re, im, 0, 4, 1, 5);
                    *At(p + g * kLanes + 2) = __builtin_shufflevector(re, im, 2, 6, 3, 7);
                }
            }
        } else {
            // A narrow array: groups of up to four columns.
            for (uint64_t c = x; c < columns; c += kLanes) {
                const int lanes = static_cast<int>(std::min<uint64_t>(kLanes, columns - c));
                GatherPartial(b, job->array + c, lanes, 1, stride, filled, rev, s.sign);
                for (uint64_t j = filled; j < n; ++j) b[2 * rev[j]] = b[2 * rev[j] + 1] = zero;
                Stages(b, n, job->twiddles);
                ScatterPartial(b, job->array + c, lanes, 1, stride, n, s);
            }
        }
    }
}

// Twiddle table and bit reversals of a width x height transform.
struct Plan {
    std::unique_ptr<FftComplex, FreeDeleter> table;
    std::unique_ptr<uint32_t, FreeDeleter> rev;
    uint64_t width = 0, height = 0;

    bool Make(uint64_t w, uint64_t h) {
        width = w, height = h;
        const uint64_t m = std::max(w, h);
        table.reset(static_cast<FftComplex*>(AlignedAlloc(2 * m * sizeof(FftComplex))));
        rev.reset(static_cast<uint32_t*>(AlignedAlloc((w + h) * sizeof(uint32_t))));
        if (!table || !rev) return false;
        FftMakeTwiddles(table.get(), m);
        MakeReversal(rev.get(), w);
        MakeReversal(rev.get() + w, h);
        return true;
    }
    // Rows of length width, `height` of them.
    FftRowsJob Rows(FftComplex* data) const {
        const uint64_t m = std::max(width, height);
        return FftRowsJob{data, width, height, width, width, table.get() + (m - width), rev.get(), 0};
    }
    // Columns of length height, `width` of them, zero from row `filled` on.
    FftRowsJob Columns(FftComplex* data, uint64_t filled) const {
        const uint64_t m = std::max(width, height);
        return FftRowsJob{data, height, width, width, filled, table.get() + (m - height), rev.get() + width, 0};
    }
};

bool SidesUsable(uint64_t width, uint64_t height) {
    return PowerOfTwoAtLeast2(width) && PowerOfTwoAtLeast2(height) && ArrayBytes(width, height, sizeof(FftComplex)) &&
           width <= (uint64_t(1) << 31) && height <= (uint64_t(1) << 31);
}

int32_t Transform2D(FftComplex* data, uint64_t width, uint64_t height, bool inverse) {
    if (!data || !SidesUsable(width, height)) return 0;
    Plan plan;
    if (!plan.Make(width, height)) return 0;
    FftRowsJob rows = plan.Rows(data);
    PoolParallelFor(inverse ? FftInverseRows : FftForwardRows, &rows, (height + kRowGroup - 1) / kRowGroup);
    if (rows.failed) return 0;
    FftRowsJob columns = plan.Columns(data, height);
    PoolParallelFor(inverse ? FftInverseColumns : FftForwardColumns, &columns, (width + kColumnBlock - 1) / kColumnBlock);
    return columns.failed ? 0 : 1;
}

// Fill and row transforms of the arrays of an FftForwardFilled call, by
// groups of four rows.
struct FilledJob {
    FftRowsJob rows[kFftFilledArrays];
    int arrays;
    uint64_t filled;
    FftFillFn fill;
    void* context;
};

KV_KERNEL_CLONES void FilledRowGroups(void* ctx, uint64_t first, uint64_t count) {
    FilledJob* job = static_cast<FilledJob*>(ctx);
    std::unique_ptr<Lanes, FreeDeleter> buffer(LaneBuffer(&job->rows[0], 1));
    if (!buffer) return;
    const Scale s = ScaleOf(job->rows[0].length, false);
    for (uint64_t g = first; g < first + count; ++g) {
        const uint64_t y = g * kRowGroup;
        const uint64_t lanes = std::min<uint64_t>(kLanes, job->filled - y);
        job->fill(job->context, y, lanes);
        for (int a = 0; a < job->arrays; ++a) RowGroup(buffer.get(), &job->rows[a], y, static_cast<int>(lanes), s);
    }
}

struct LogScaleJob {
    CriticalSection* lock;
    double* array;
    double maximum;
    double factor;
};

void FftMaxAbsItems(void* ctx, uint64_t first, uint64_t count) {
    LogScaleJob* job = static_cast<LogScaleJob*>(ctx);
    double local = 0.0;
    for (uint64_t i = first; i < first + count; ++i) local = std::max(local, std::fabs(job->array[i]));
    CriticalSectionLock hold(*job->lock);
    if (local > job->maximum) job->maximum = local;
}

void FftLogScaleItems(void* ctx, uint64_t first, uint64_t count) {
    const LogScaleJob* job = static_cast<const LogScaleJob*>(ctx);
    for (uint64_t i = first; i < first + count; ++i) job->array[i] = std::log10(std::fabs(job->array[i]) + 1.0) * job->factor;
}

}  // namespace

void FftMakeTwiddles(FftComplex* table, uint64_t m) {
    for (uint64_t s = m; s >= 2; s /= 2) {
        FftComplex* level = table + (m - s);
        for (uint64_t k = 0; k < s / 2; ++k) {
            const double t = static_cast<double>(k) * 6.283185307179586 / static_cast<double>(s);
            level[k] = FftComplex{std::cos(t), -std::sin(t)};
        }
    }
}

int32_t Fft1D(FftComplex* data, uint64_t n, const FftComplex* twiddles) {
    if (n < 2) return 1;
    // The scratch behind the values (2n - 2 elements) holds the split
    // buffer of 2n doubles.
    double* b = reinterpret_cast<double*>(data + n);
    const int bits = Log2(n);
    for (uint64_t j = 0; j < n; ++j) {
        uint64_t r = 0;
        for (int i = 0; i < bits; ++i) r |= ((j >> i) & 1) << (bits - 1 - i);
        b[2 * r] = data[j].re;
        b[2 * r + 1] = data[j].im;
    }
    Stages(b, n, twiddles);
    for (uint64_t j = 0; j < n; ++j) data[j] = FftComplex{b[2 * j], b[2 * j + 1]};
    return 1;
}

void FftForwardRows(void* job, uint64_t first, uint64_t count) { RowGroups(static_cast<const FftRowsJob*>(job), first, count, false); }
void FftInverseRows(void* job, uint64_t first, uint64_t count) { RowGroups(static_cast<const FftRowsJob*>(job), first, count, true); }
void FftForwardColumns(void* job, uint64_t first, uint64_t count) { ColumnBlocks(static_cast<const FftRowsJob*>(job), first, count, false); }
void FftInverseColumns(void* job, uint64_t first, uint64_t count) { ColumnBlocks(static_cast<const FftRowsJob*>(job), first, count, true); }

int32_t Fft2D(FftComplex* data, uint64_t width, uint64_t height) { return Transform2D(data, width, height, false); }
int32_t Ifft2D(FftComplex* data, uint64_t width, uint64_t height) { return Transform2D(data, width, height, true); }

int32_t FftForwardFilled(FftComplex* const* arrays, int32_t count, uint64_t width, uint64_t height, uint64_t filledRows, FftFillFn fill,
                         void* context) {
    if (!arrays || count < 1 || count > kFftFilledArrays || !fill || !SidesUsable(width, height)) return 0;
    for (int32_t a = 0; a < count; ++a)
        if (!arrays[a]) return 0;
    filledRows = std::min(filledRows, height);
    Plan plan;
    if (!plan.Make(width, height)) return 0;
    FilledJob job{};
    job.arrays = count;
    job.filled = filledRows;
    job.fill = fill;
    job.context = context;
    for (int32_t a = 0; a < count; ++a) job.rows[a] = plan.Rows(arrays[a]);
    PoolParallelFor(FilledRowGroups, &job, (filledRows + kRowGroup - 1) / kRowGroup);
    if (job.rows[0].failed) return 0;
    for (int32_t a = 0; a < count; ++a) {
        FftRowsJob columns = plan.Columns(arrays[a], filledRows);
        PoolParallelFor(FftForwardColumns, &columns, (width + kColumnBlock - 1) / kColumnBlock);
        if (columns.failed) return 0;
    }
    return 1;
}

void FftTransposeRows(void* job, uint64_t first, uint64_t count) {
    const FftTransposeJob* j = static_cast<const FftTransposeJob*>(job);
    constexpr uint64_t kTile = 32;
    for (uint64_t y0 = first; y0 < first + count; y0 += kTile) {
        const uint64_t y1 = std::min(first + count, y0 + kTile);
        for (uint64_t x0 = 0; x0 < j->width; x0 += kTile) {
            const uint64_t x1 = std::min(j->width, x0 + kTile);
            for (uint64_t y = y0; y < y1; ++y)
                for (uint64_t x = x0; x < x1; ++x) j->destination[j->height * x + y] = j->source[j->width * y + x];
        }
    }
}

int32_t FftTranspose(const FftComplex* source, FftComplex* destination, uint64_t width, uint64_t height) {
    const uint64_t bytes = ArrayBytes(width, height, sizeof(FftComplex));
    if (!bytes) return width == 0 || height == 0 ? 1 : 0;
    std::unique_ptr<FftComplex, FreeDeleter> temporary;
    if (source == destination) {
        temporary.reset(static_cast<FftComplex*>(AlignedAlloc(bytes)));
        if (!temporary) return 0;
        PoolParallelCopy(temporary.get(), source, bytes);
        source = temporary.get();
    }
    FftTransposeJob job{source, destination, width, height};
    PoolParallelFor(FftTransposeRows, &job, height);
    return 1;
}

void FftShiftRows(void* job, uint64_t first, uint64_t count) {
    const FftShiftJob* j = static_cast<const FftShiftJob*>(job);
    const uint64_t w = j->width, half = w / 2;
    for (uint64_t y = first; y < first + count; ++y) {
        FftComplex* a = j->array + w * y;
        FftComplex* b = j->array + w * (y + j->height / 2);
        std::swap_ranges(a, a + (w - half), b + half);
        std::swap_ranges(a + (w - half), a + w, b);
    }
}

int32_t FftShiftQuadrants(FftComplex* data, uint64_t width, uint64_t height) {
    if (!data) return 1;
    FftShiftJob job{data, width, height};
    PoolParallelFor(FftShiftRows, &job, height / 2);
    return 1;
}

void FftPowerItems(void* job, uint64_t first, uint64_t count) {
    const FftPowerJob* j = static_cast<const FftPowerJob*>(job);
    for (uint64_t i = first; i < first + count; ++i) j->destination[i] = j->source[i].re * j->source[i].re + j->source[i].im * j->source[i].im;
}

int32_t FftPowerSpectrum(double* destination, const FftComplex* source, uint64_t count) {
    if (!destination || !source || count == 0) return 0;
    FftPowerJob job{destination, source};
    PoolParallelFor(FftPowerItems, &job, count);
    return 1;
}

int32_t FftLogScale(double* values, uint64_t count, double* scale) {
    std::unique_ptr<CriticalSection> lock(PoolNewCriticalSection());
    if (!lock) return 0;
    LogScaleJob job{lock.get(), values, 0.0, 0.0};
    if (values) PoolParallelFor(FftMaxAbsItems, &job, count);
    job.factor = 1.0 / std::log10(job.maximum + 1.0);
    if (values) PoolParallelFor(FftLogScaleItems, &job, count);
    if (scale) *scale = job.factor;
    return 1;
}
