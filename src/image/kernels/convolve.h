// Neighbourhood filters: the 3 x 3 double-weight convolution over the whole
// image, the N x N integer convolution and the N x N median over a region.
// Every sample is read from a copy of the region and every result written
// into the image, so each output sees unfiltered neighbours; windows are
// clipped to the copy.
#pragma once

#include <atomic>
#include <cstdint>

#include "image/imgbuff.h"

// Job of the 3 x 3 and median row workers; item i is region row y0 + i.
struct ImgNeighbourJob {
    CImgBuff* image;        // destination
    const CImgBuff* copy;   // the region, in the image's format
    uint64_t n;             // window size (3 for the convolution)
    const double* kernel;   // nine weights, row-major; null for the median
    int32_t x0, y0, x1, y1;
    std::atomic<int32_t> result;  // 1; median workers lower it to 0 when out of memory
    const uint32_t* xyzRgb;       // XYZ copies: their 32-bit RGB rendering, 3 per pixel
};

// Job of the integer convolution's row worker.
struct ImgConvolveJob {
    CImgBuff* image;
    const CImgBuff* copy;
    uint64_t n;
    const int32_t* kernel;  // n x n, row-major
    int32_t divisor;        // 1 when normalising
    int32_t normalise;
    int32_t x0, y0, x1, y1;
    // The copy's samples as filtered: grey and RGB as stored, CMYK, HSV and
    // XYZ in their RGB rendering; and the accumulator width (32, 64, 128)
    // that no sum can overflow.
    const void* samples;
    int32_t sampleBits;
    int32_t channels;
    int32_t accumulatorBits;
};

// Weighted 3 x 3 sum of every sample divided by the sum of the weights that
// fall inside the image (at least 1.0), truncated and clamped. Grey and RGB
// samples, HSV's and CMYK's first three (K kept) are filtered as stored; XYZ
// through its 32-bit RGB rendering. `reserved` is not read. 1, or 0 for an
// empty image or no memory (image unchanged).
int32_t ImgConvolve3x3(CImgBuff* image, uintptr_t reserved, const double* kernel);
// N x N integer convolution (N odd) of the region (null: whole image),
// divided by the in-window weight sum when normalising (only when it is
// above 1) or else by `divisor`, truncated toward zero and clamped. Colour
// windows are read through the RGB accessors; HSV, CMYK and XYZ results are
// stored back through the RGB setters. 0 for an even or zero N, a divisor
// of 0 or less without normalising, a refused region or no memory.
int32_t ImgConvolve(CImgBuff* image, uint64_t n, const int32_t* kernel, int32_t normalise, int32_t divisor, const ImgRect* region);
// N x N median (N odd) of the region, channel by channel; a window cut by
// the region's border takes the upper of its two middle values. 0 for an
// even or zero N, a refused region, no memory for the copy, or when a row
// worker got no memory (its rows then stay unfiltered).
int32_t ImgMedian(CImgBuff* image, uint64_t n, const ImgRect* region);

// Row workers.
void ImgConvolve3x3Rows(void* job, uint64_t first, uint64_t count);  // ImgNeighbourJob
void ImgMedianRows(void* job, uint64_t first, uint64_t count);       // ImgNeighbourJob
void ImgConvolveRows(void* job, uint64_t first, uint64_t count);     // ImgConvolveJob
