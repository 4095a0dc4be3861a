// Keeping the pixels whose colour lies in a range of hue, saturation and
// value (or of brightness alone) and removing the others, or the reverse.
//
// Hue ranges are a centre and a half-width on the 16-bit hue circle (65536
// steps); a half-width of 32768 admits every hue, and a range may wrap
// through 0. Flags count as set when non-zero:
//   reverse - keep the pixels that do not match;
//   fill    - removed pixels become white (full scale), else black;
//   grey    - the output is a two-level mask: kept pixels get the other level.
#pragma once

#include <cstdint>

#include "image/imgbuff.h"

// Job of the HSV and brightness row workers; item i is row y0 + i. The
// brightness workers read only the image, V min, V max, the flags and the
// region.
struct HsvRangeJob {
    CImgBuff* image;
    uint16_t hueCentre;
    uint16_t hueHalfWidth;
    uint16_t satMin;
    uint16_t satMax;
    uint16_t valMin;
    uint16_t valMax;
    uint32_t reverse;
    uint32_t fill;
    uint32_t grey;
    int32_t x0, y0, x1, y1;
};

// Membership of every colour, quantised to 5 bits per channel.
struct ColorRangeTable {
    uint32_t greyFlag;    // 1: the grey entries follow the value range
    uint8_t grey[256];    // per 8-bit grey level, non-zero = kept
    uint8_t cube[32768];  // per (R >> 3) * 1024 + (G >> 3) * 32 + (B >> 3)
};
static_assert(sizeof(ColorRangeTable) == 33028, "the table is read field by field by its users");

// Job of the table row workers.
struct ColorTableJob {
    CImgBuff* image;
    const ColorRangeTable* table;
    uint32_t fill;
    uint32_t grey;
    int32_t x0, y0, x1, y1;
};

// Tests H, S and V of every pixel of the region (null: whole image); a grey
// image with satMin 0 is tested on brightness alone. 0 for a half-width
// above 32768, a minimum above its maximum, or a region that cannot be
// clipped (image unchanged).
int32_t ImgExtractHsvRange(CImgBuff* image, uint16_t hueCentre, uint16_t hueHalfWidth, uint16_t satMin, uint16_t satMax,
                           uint16_t valMin, uint16_t valMax, uint32_t reverse, uint32_t grey, uint32_t fill,
                           const ImgRect* roi);
// Tests the grey level (16-bit scale bounds; low > high matches nothing).
int32_t ImgExtractBrightnessRange(CImgBuff* image, uint16_t low, uint16_t high, uint32_t reverse, uint32_t grey, uint32_t fill,
                                  const ImgRect* roi);
// Null for a half-width above 32768, a minimum above its maximum, or no
// memory. Free with delete.
ColorRangeTable* ImgColorRangeTableCreate(uint16_t hueCentre, uint16_t hueHalfWidth, uint16_t satMin, uint16_t satMax,
                                          uint16_t valMin, uint16_t valMax, int32_t reverse);
// Widens a hue range so that it takes in `hue`, moving only its nearer end
// (the low end on a tie); the half-width stays at most 32768. Either output
// may be null.
void ImgHueRangeAdd(uint16_t centre, uint16_t halfWidth, uint16_t hue, uint16_t* newCentre, uint16_t* newHalfWidth);

// Row workers.
void ImgExtractHsvRows(void* job, uint64_t first, uint64_t count);               // HsvRangeJob
void ImgExtractBrightnessGray8Rows(void* job, uint64_t first, uint64_t count);   // HsvRangeJob, bounds >> 8
void ImgExtractBrightnessGray16Rows(void* job, uint64_t first, uint64_t count);  // HsvRangeJob
void ImgExtractByTableGray8Rows(void* job, uint64_t first, uint64_t count);      // ColorTableJob
void ImgExtractByTableRgb8Rows(void* job, uint64_t first, uint64_t count);       // ColorTableJob
