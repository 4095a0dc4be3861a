// Binary morphology: expansion, exclusive expansion, degeneracy, thinning,
// whisker shaving, border and hole fill. A binary image is any image read
// against a background level (black with the flag clear, the format's
// maximum with it set); every other pixel is object. Results are painted as
// pure black or white; object pixels an operation does not touch keep their
// values. Neighbourhoods never reach outside the rectangle: a neighbour
// outside counts as background. Connectivity (4 or 8) is the objects'.
#pragma once

#include <atomic>
#include <cstdint>

#include "image/bitmask.h"
#include "image/imgbuff.h"

// 256 entries by neighbour code (TL, T, TR, L, R, BL, B, BR as bits 7 .. 0):
// bit k deletes the centre in sub-pass k under 4-connectivity, bit 4 + k
// under 8-connectivity.
extern const uint8_t g_ImgThinTable[256];

// Job of the thinning row workers; item i is region row y0 + i.
struct ImgThinJob {
    CImgBuff* image;
    BitMask* mask;
    BitMask* candidates;
    int32_t subPass;
    std::atomic<int32_t> changed;  // only ever raised to 1
    int32_t connectivity;
    int32_t x0, y0, x1, y1;
    uint8_t background;
};
void ImgBinaryThinCandidateRows(void* job, uint64_t first, uint64_t count);
void ImgBinaryThinDeleteRows(void* job, uint64_t first, uint64_t count);

// Region: null for the whole image. 1 done, 0 refused or out of memory.
int32_t ImgBinaryExpand(CImgBuff* image, int32_t connectivity, uint32_t background, const ImgRect* region);
// One layer removed; `mask` is the foreground mask of the (clipped)
// rectangle, made by the caller with the same background flag.
void ImgBinaryShrink(const BitMask* mask, CImgBuff* image, int32_t connectivity, uint32_t background, int32_t x0, int32_t y0,
                     int32_t x1, int32_t y1);
// Objects grow by one pixel without touching each other; the earlier object
// in raster order wins a contested pixel. The rectangle is already clipped.
int32_t ImgBinaryExpandExclusive(CImgBuff* image, int32_t connectivity, uint32_t background, int32_t x0, int32_t y0, int32_t x1,
                                 int32_t y1);
int32_t ImgBinaryThin(CImgBuff* image, int32_t connectivity, uint32_t background, const ImgRect* region);
// Removes branches shorter than `length` pixels between an end point and a
// junction. The length is capped at the region's pixel count, which no
// whisker exceeds.
int32_t ImgBinaryShave(CImgBuff* image, uint64_t length, int32_t connectivity, uint32_t background, const ImgRect* region);
int32_t ImgBinaryBorder(CImgBuff* image, int32_t connectivity, uint32_t background, const ImgRect* region);
int32_t ImgBinaryFillHoles(CImgBuff* image, int32_t connectivity, uint32_t background, const ImgRect* region);
