// FFT core. Rows and columns are transformed in groups of four lanes: a
// group is gathered into a small buffer in bit-reversed order (real and
// imaginary parts split, one vector of four lanes per element), transformed
// by iterative radix-4 decimation-in-time stages on whole vectors, and
// scattered back. The columns are so read a cache line at a time without a
// transpose of the whole array, and every butterfly works on four
// transforms at once.
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
inline void Stages(V* b, uint64_t n, const FftComplex* tw) {
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

KV_KERNEL_CLONES void LaneStages(Lanes* b, uint64_t n, const FftComplex* tw) { Stages(b, n, tw); }

void MakeReversal(uint32_t* rev, uint64_t n) {
    const int bits = Log2(n);
    rev[0] = 0;
    for (uint64_t j = 1; j < n; ++j) rev[j] = (rev[j >> 1] >> 1) | static_cast<uint32_t>((j & 1) << (bits - 1));
}

// Transforms lanes first .. first+count-1, in groups of four: lane l starts
// at array + l * laneStep, its element j is elemStep further on per j. The
// inverse conjugates on the way in and out and divides by L.
void LanePass(const FftRowsJob* job, uint64_t first, uint64_t count, uint64_t laneStep, uint64_t elemStep, bool inverse) {
    const uint64_t n = job->length;
    std::unique_ptr<Lanes, FreeDeleter> buffer(static_cast<Lanes*>(AlignedAlloc(n * 2 * sizeof(Lanes))));
    if (!buffer) {
        __atomic_store_n(&const_cast<FftRowsJob*>(job)->failed, 1, __ATOMIC_RELAXED);
        return;
    }
    double* d = reinterpret_cast<double*>(buffer.get());
    const uint32_t* rev = job->reversal;
    const double sign = inverse ? -1.0 : 1.0;
    const double re = inverse ? 1.0 / static_cast<double>(n) : 1.0;
    const double im = inverse ? -re : 1.0;
    for (uint64_t lane = first; lane < first + count; lane += kLanes) {
        const int lanes = static_cast<int>(std::min<uint64_t>(kLanes, first + count - lane));
        const FftComplex* src = job->array + lane * laneStep;
        if (lanes == kLanes) {
            for (uint64_t j = 0; j < n; ++j) {
                const FftComplex* e = src + j * elemStep;
                double* o = d + rev[j] * 2 * kLanes;
                for (int l = 0; l < kLanes; ++l) {
                    o[l] = e[l * laneStep].re;
                    o[kLanes + l] = sign * e[l * laneStep].im;
                }
            }
        } else {
            for (uint64_t j = 0; j < n; ++j) {
                const FftComplex* e = src + j * elemStep;
                double* o = d + rev[j] * 2 * kLanes;
                for (int l = 0; l < kLanes; ++l) {
                    o[l] = l < lanes ? e[l * laneStep].re : 0.0;
                    o[kLanes + l] = l < lanes ? sign * e[l * laneStep].im : 0.0;
                }
            }
        }
        LaneStages(buffer.get(), n, job->twiddles);
        FftComplex* dst = job->array + lane * laneStep;
        for (uint64_t j = 0; j < n; ++j) {
            FftComplex* e = dst + j * elemStep;
            const double* s = d + j * 2 * kLanes;
            for (int l = 0; l < lanes; ++l) e[l * laneStep] = FftComplex{s[l] * re, s[kLanes + l] * im};
        }
    }
}

int32_t Transform2D(FftComplex* data, uint64_t width, uint64_t height, bool inverse) {
    if (!data || !PowerOfTwoAtLeast2(width) || !PowerOfTwoAtLeast2(height)) return 0;
    if (!ArrayBytes(width, height, sizeof(FftComplex)) || width > (uint64_t(1) << 31) || height > (uint64_t(1) << 31)) return 0;
    const uint64_t m = std::max(width, height);
    std::unique_ptr<FftComplex, FreeDeleter> table(static_cast<FftComplex*>(AlignedAlloc(2 * m * sizeof(FftComplex))));
    std::unique_ptr<uint32_t, FreeDeleter> rev(static_cast<uint32_t*>(AlignedAlloc((width + height) * sizeof(uint32_t))));
    if (!table || !rev) return 0;
    FftMakeTwiddles(table.get(), m);
    MakeReversal(rev.get(), width);
    MakeReversal(rev.get() + width, height);
    FftRowsJob rows{data, width, width, table.get() + (m - width), rev.get(), 0};
    PoolParallelFor(inverse ? FftInverseRows : FftForwardRows, &rows, height);
    if (rows.failed) return 0;
    FftRowsJob columns{data, height, width, table.get() + (m - height), rev.get() + width, 0};
    PoolParallelFor(inverse ? FftInverseColumns : FftForwardColumns, &columns, width);
    return columns.failed ? 0 : 1;
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

void FftForwardRows(void* job, uint64_t first, uint64_t count) {
    const FftRowsJob* j = static_cast<const FftRowsJob*>(job);
    LanePass(j, first, count, j->stride, 1, false);
}
void FftInverseRows(void* job, uint64_t first, uint64_t count) {
    const FftRowsJob* j = static_cast<const FftRowsJob*>(job);
    LanePass(j, first, count, j->stride, 1, true);
}
void FftForwardColumns(void* job, uint64_t first, uint64_t count) {
    const FftRowsJob* j = static_cast<const FftRowsJob*>(job);
    LanePass(j, first, count, 1, j->stride, false);
}
void FftInverseColumns(void* job, uint64_t first, uint64_t count) {
    const FftRowsJob* j = static_cast<const FftRowsJob*>(job);
    LanePass(j, first, count, 1, j->stride, true);
}

int32_t Fft2D(FftComplex* data, uint64_t width, uint64_t height) { return Transform2D(data, width, height, false); }
int32_t Ifft2D(FftComplex* data, uint64_t width, uint64_t height) { return Transform2D(data, width, height, true); }

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
