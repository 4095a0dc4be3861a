// Colour-filter-array mosaics: building the one-sample-per-pixel mosaic a
// sensor behind a filter pattern records, and rebuilding colour from it by
// linear interpolation or by adaptive colour plane interpolation.
#pragma once

#include <cstdint>

#include "image/imgbuff.h"

// Cell codes of a filter pattern.
enum : int8_t { kBayerNone = -1, kBayerRed = 1, kBayerGreen = 2, kBayerBlue = 3 };

// A filter pattern: its period and its cell codes, row-major, one row of
// `width` codes after another. The cell of pixel (x, y) is
// cells[(y mod height) * width + (x mod width)].
struct BayerPattern {
    int32_t width;
    int32_t height;
    int8_t cells[40];
};

// "GRBG", "GBRG", "RGGB", "BGGR" (2 x 2), "XTRANS", "XTRANS4" (6 x 6).
constexpr uint32_t kBayerPatternCount = 6;
extern const BayerPattern g_BayerPatterns[kBayerPatternCount];

// Mode 0 builds the mosaic of the region (each sample its cell's channel
// divided by that channel's gain; a whole colour image becomes grey of its
// depth); mode 1 demosaics linearly, mode 2 by adaptive colour plane
// interpolation (a grey image becomes colour of its depth first). Modes 1
// and 2 multiply by the gains. Gains are indexed by cell code ([1] red, [2]
// green, [3] blue); null means 1.0 each. Region null: the whole image.
// 1 done; 0 refused (mode above 2, pattern above 5, a region that cannot be
// clipped or is under 2 pixels wide or high, no memory) with the image
// unchanged.
int32_t ImgBayer(CImgBuff* image, uint32_t mode, uint32_t pattern, const double* gains, const ImgRect* region);
