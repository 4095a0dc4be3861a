// The 256-bin histogram of a region, and the level stretch that maps an
// input range linearly onto the full range.
#pragma once

#include <cstdint>

#include "image/imgbuff.h"
#include "platform/kernel.h"

// Job of the histogram row workers; item i is row y0 + i. Each chunk counts
// into its own bins and adds them to `bins` once, under `lock`.
struct HistogramJob {
    CImgBuff* image;
    int32_t x0, y0, x1, y1;
    uint64_t* bins;  // 256
    CriticalSection* lock;
};

// Row workers of the four modes: brightness (the 8-bit grey reading), and
// the red, green and blue channel of the 8-bit RGB reading. Grey images
// count their 8-bit level in every mode.
void ImgHistogramBrightnessRows(void* job, uint64_t first, uint64_t count);
void ImgHistogramRedRows(void* job, uint64_t first, uint64_t count);
void ImgHistogramGreenRows(void* job, uint64_t first, uint64_t count);
void ImgHistogramBlueRows(void* job, uint64_t first, uint64_t count);
void ImgHistogramGrayRows(void* job, uint64_t first, uint64_t count);

// Counts the region (null: whole image) for mode 1 brightness, 2 red,
// 3 green or 4 blue into bins[256] and reports the largest bin. 0 for
// another mode, null bins or largest, a region that cannot be clipped, or no
// lock (bins then untouched).
int32_t ImgHistogram(CImgBuff* image, int32_t mode, uint64_t* bins, uint64_t* largest, const ImgRect* roi);

// [low, high] (16-bit scale) onto the full range at 8 and 16 bits.
struct ImgLevelTable {
    uint8_t table8[256];
    uint16_t* table16;  // 65536 entries
};

// Null when low > high or memory runs out. low = high thresholds: low and
// below become 0, above it the maximum.
ImgLevelTable* ImgLevelTableCreate(uint16_t low, uint16_t high);
// 0 for null; else frees both arrays, 1.
int32_t ImgLevelTableFree(ImgLevelTable* table);
// Applies the table to the region: the 8-bit table to grey8, RGB8 and CMYK8
// (as RGB8), the 16-bit one to the others (32-bit values by their high 16
// bits, HSV and XYZ as RGB16). 0 for a null table or a refused region.
int32_t ImgLevelTableApply(CImgBuff* image, const ImgLevelTable* table, const ImgRect* roi);
// The same stretch at 32 bits without a table: [low * 65536,
// high * 65536 + 65535] onto [0, 4294967295]. 0 for a refused region or
// low > high.
int32_t ImgLevelStretch(CImgBuff* image, uint16_t low, uint16_t high, const ImgRect* roi);
