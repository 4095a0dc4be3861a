// How different one image is from the part of another that it covers, and
// the colour and structure statistics of a rectangle.
#pragma once

#include <cstdint>

#include "image/imgbuff.h"

class CriticalSection;

// Score of B laid on A with its top-left pixel at (x, y) of A (x and y may
// be negative): the difference in percent, 0 .. 100, lower meaning more
// alike; -1.0 when nothing can be compared. method 0: mean absolute
// difference of the samples in percent of 255; otherwise 100 - 100 x the
// correlation of the samples about their means over the norm of the raw
// samples (any negative correlation gives 100). sampling 0: 8-bit samples
// (R, G, B, or grey when either image is grey); otherwise L*a*b* samples.
double ImgCompareImages(const CImgBuff* a, const CImgBuff* b, int32_t x, int32_t y, int32_t method, int32_t sampling);

// The samples of the overlap of B laid at (x, y) on A, row by row from the
// top of the overlap: with both images in a colour format three planes
// (channel 0, 1, 2) of one entry per pixel, else one grey entry per pixel.
// Returns their count n with two new[] arrays the caller deletes, or 0 with
// both outputs null (no overlap, no memory).
int64_t ImgCompareSamples(const CImgBuff* a, const CImgBuff* b, int32_t x, int32_t y, uint32_t** samplesA,
                          uint32_t** samplesB);
// The same with L*a*b* samples: L* x 255 / 100, a* + 128, b* + 128 (grey: L*
// only), each truncated and clamped to 0 .. 255.
int64_t ImgCompareSamplesLab(const CImgBuff* a, const CImgBuff* b, int32_t x, int32_t y, uint32_t** samplesA,
                             uint32_t** samplesB);

// One row of comparison samples: n pixels of row y from x0, which lie inside
// the image, as bytes; three per pixel with `colour`, else one.
void ImgCompareSampleRow(const C_ImgBuff& image, int32_t x0, int32_t y, int32_t n, bool colour, bool lab, uint8_t* out);
// Whether a pair of images is compared by colour (both in formats 4-9).
inline bool ImgCompareByColour(int32_t formatA, int32_t formatB) { return formatA >= kImgRgb8 && formatB >= kImgRgb8; }

// The mean-absolute-difference score of a sum over n samples.
inline double ImgCompareDifferenceScore(double sum, double n) { return sum / n / 255.0 * 100.0; }
// The correlation score of a total (the centred products over the norm).
inline double ImgCompareCorrelationScore(double total) {
    double c = 100.0 * total;
    if (c < 0.0) c = 0.0;
    if (c > 100.0) c = 100.0;
    return 100.0 - c;
}

// Shared by the summing workers over sample indices.
struct CompareImagesJob {
    const uint32_t* a;
    const uint32_t* b;
    double norm;
    double meanA;
    double meanB;
    double total;  // each worker adds its range's sum once, under the lock
    CriticalSection* lock;
};
// Pool workers over sample indices: the sum of |a - b|, and the sum of
// (a - mean a)(b - mean b) / norm.
void ImgCompareSumAbsDiff(void* job, uint64_t first, uint64_t count);
void ImgCompareSumCentredProducts(void* job, uint64_t first, uint64_t count);

// Colour and structure of a rectangle in L*a*b*. Slots 0, 1, 3, 4, 6, 7
// stay 0; 2, 5, 8: mean L*, a*, b*; 9, 10: spread of the row and of the
// column means of L*; 11, 12: the larger of the a* and b* spreads; 13, 14:
// summed absolute second differences of the row and column means of L*
// (from the fourth row or column on); 15, 16: the larger of those of a*, b*.
struct RectStatistics {
    double slot[17];
};
// 1 done; 0 refused (no image, a rectangle not inside it or reversed, no
// memory), nothing written.
int32_t ImgRectStatistics(const CImgBuff* image, int32_t x0, int32_t y0, int32_t x1, int32_t y1, RectStatistics* out);
