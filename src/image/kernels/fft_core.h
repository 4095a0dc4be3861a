// The numeric core of the Fourier filters: complex arrays, the 1-D FFT, the
// forward and inverse 2-D transforms, transpose, quadrant swap, power
// spectrum and the logarithmic display scale.
//
// Conventions: forward X(k) = sum_j x(j) e^(-2 pi i j k / n), unscaled; the
// inverse is scaled by 1/(width * height). A complex array of width x height
// is row-major, element (x, y) at index width * y + x.
//
// Twiddle table for a length M: for every level length s = M, M/2, ..., 2 the
// s/2 factors W(s, k) = cos(t) - i sin(t), t = k * 2pi / s, levels longest
// first, so the level of length s starts at factor M - s (M - 1 in all).
#pragma once

#include <cstdint>

struct FftComplex {
    double re;
    double im;
};

// Fills `table` (room for at least M - 1 factors) with the twiddle levels of
// M, a power of two >= 2.
void FftMakeTwiddles(FftComplex* table, uint64_t m);

// Forward transform of data[0 .. n-1] in place, n a power of two >= 1;
// `data` has room for 3n - 2 elements, those behind the first n are scratch.
// `twiddles` is the level of length n of a twiddle table. Always 1.
int32_t Fft1D(FftComplex* data, uint64_t n, const FftComplex* twiddles);

// 2-D transforms in place. 0 for a null array, a side that is not a power of
// two >= 2, a size that does not fit in memory, or a pass that cannot get
// its memory (the array is then unchanged only when the table failed).
int32_t Fft2D(FftComplex* data, uint64_t width, uint64_t height);
int32_t Ifft2D(FftComplex* data, uint64_t width, uint64_t height);

// Fft2D of up to three arrays of the same sides that the caller fills row
// by row: fill(context, first, count) writes rows first .. first+count-1 of
// every array (count <= 4, from the pool) just before their row transforms,
// while they are in cache. Rows from filledRows on are taken as zero: they
// are neither filled, read nor row-transformed, and the column pass writes
// them. The result is that of filling the whole array and calling Fft2D.
// 0 for a null array or fill, a count outside 1 .. 3, the sides that Fft2D
// refuses, or memory that cannot be had.
constexpr int32_t kFftFilledArrays = 3;
using FftFillFn = void (*)(void* context, uint64_t first, uint64_t count);
int32_t FftForwardFilled(FftComplex* const* arrays, int32_t count, uint64_t width, uint64_t height, uint64_t filledRows, FftFillFn fill,
                         void* context);

// destination (height x width) = transpose of source (width x height); the
// two may be the same array. 0 when the temporary of the same-array case
// cannot be allocated or the size does not fit.
int32_t FftTranspose(const FftComplex* source, FftComplex* destination, uint64_t width, uint64_t height);

// Exchanges element (x, y) of the top half with ((x + width/2) mod width,
// y + height/2): the zero frequency moves between (0, 0) and the centre.
int32_t FftShiftQuadrants(FftComplex* data, uint64_t width, uint64_t height);

// destination(i) = re^2 + im^2 of source(i). 0 for null pointers or count 0.
int32_t FftPowerSpectrum(double* destination, const FftComplex* source, uint64_t count);

// v -> log10(|v| + 1) / log10(max |v| + 1) in place; the factor
// 1 / log10(max |v| + 1) goes to *scale when given. An all-zero array gives
// the factor +infinity and NaN values. 0 when the call's lock cannot be made.
int32_t FftLogScale(double* values, uint64_t count, double* scale);

// Pool workers of the passes above.
struct FftRowsJob {
    FftComplex* array;
    uint64_t length;           // L, the length of each row or column
    uint64_t lines;            // how many rows or columns there are
    uint64_t stride;           // elements between rows (the array's width)
    uint64_t filled;           // columns: rows from here on are zero and not read
    const FftComplex* twiddles;  // the level of length L
    const uint32_t* reversal;  // bit reversal of 0 .. L-1
    int32_t failed;            // set when a chunk could not get its buffer
};
// Groups first .. first+count-1 of four rows each (forward; inverse divides
// by L); the last group may be short.
void FftForwardRows(void* job, uint64_t first, uint64_t count);
void FftInverseRows(void* job, uint64_t first, uint64_t count);
// The same over blocks of sixteen columns, each column of length L.
void FftForwardColumns(void* job, uint64_t first, uint64_t count);
void FftInverseColumns(void* job, uint64_t first, uint64_t count);

struct FftTransposeJob {
    const FftComplex* source;
    FftComplex* destination;
    uint64_t width;
    uint64_t height;
};
void FftTransposeRows(void* job, uint64_t first, uint64_t count);

struct FftShiftJob {
    FftComplex* array;
    uint64_t width;
    uint64_t height;
};
void FftShiftRows(void* job, uint64_t first, uint64_t count);

struct FftPowerJob {
    double* destination;
    const FftComplex* source;
};
void FftPowerItems(void* job, uint64_t first, uint64_t count);
