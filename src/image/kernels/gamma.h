// Gamma correction: every channel value v of full scale M becomes
// M (v / M)^(g2 / g1).
#pragma once

#include <cstdint>

#include "image/imgbuff.h"

// The curve for one pair of gammas at 8 and 16 bits; build it once when the
// gammas change and apply it to any number of images.
struct GammaTable {
    uint8_t table8[256];
    uint16_t* table16;  // 65536 entries
};

// Null when a gamma is not above 0 (or NaN), or memory runs out.
GammaTable* ImgGammaTableCreate(double g1, double g2);
// Frees the 16-bit curve and the record; null is ignored.
void ImgGammaTableFree(GammaTable* table);
// Applies the curve to the region (null: whole image); grey32, RGB32 and XYZ
// through their 16-bit values. 0 for a null table or a region that cannot be
// clipped.
int32_t ImgGammaTableApply(CImgBuff* image, const GammaTable* table, const ImgRect* roi);
// The power per channel at 32 bits, for any format. 0 for a gamma not above
// 0 or a region that cannot be clipped; 1 without work for an empty image.
int32_t ImgGammaCorrectWide(CImgBuff* image, double g1, double g2, const ImgRect* roi);
// One-off correction: through a temporary table for the 8- and 16-bit
// formats, per channel for grey32, RGB32 and XYZ.
int32_t ImgGammaCorrect(CImgBuff* image, double g1, double g2, const ImgRect* roi);
