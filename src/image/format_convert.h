// Row converters of C_ImgBuff::ConvertFormat, run over image rows by the
// worker pool (one row per index).
#pragma once

#include <cstdint>

#include "image/imgbuff.h"

struct ImgConvertJob {
    uint32_t targetFormat;
    const C_ImgBuff* source;
    C_ImgBuff* destination;  // already created at the source's size in the target format
    int32_t width;
};

// Colour to grey by ImgGrayWeighted: 4 -> 1 (and, through the deeper
// variants, 5 -> 2 and 6 -> 3).
void ImgRowRgbToGray(void* job, uint64_t firstRow, uint64_t rows);
void ImgRowRgb16ToGray16(void* job, uint64_t firstRow, uint64_t rows);
void ImgRowRgb32ToGray32(void* job, uint64_t firstRow, uint64_t rows);
// Grey to colour: R = G = B = grey (1 -> 4, 2 -> 5, 3 -> 6).
void ImgRowGrayToRgb(void* job, uint64_t firstRow, uint64_t rows);
// One step deeper, replicating each channel (1 -> 2, 2 -> 3, 4 -> 5, 5 -> 6).
void ImgRowWidenDepth(void* job, uint64_t firstRow, uint64_t rows);
// One step shallower, keeping the most significant bits (2 -> 1, 3 -> 2, 5 -> 4, 6 -> 5).
void ImgRowNarrowDepth(void* job, uint64_t firstRow, uint64_t rows);
// Any pair: each pixel read with the typed getter of the target format.
void ImgRowConvertGeneric(void* job, uint64_t firstRow, uint64_t rows);

// Test seam: the 8-bit colour-to-grey rows use the widest vector code the
// processor has (2 AVX2, 1 SSSE3, 0 plain C++); this caps it at the given
// level and returns the level now in use.
int32_t ImgConvertLimitVectorLevelForTesting(int32_t level);
