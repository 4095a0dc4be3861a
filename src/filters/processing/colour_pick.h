// Pieces shared by the filters that take a colour from the picture and
// transform the processed region: the 5 x 5 mean around a clicked point
// and an 8-bit swatch texture.
#pragma once

#include <cstdint>

#include "image/imgbuff.h"

class CFgTexture;

// Mean R, G, B (0..1) of the 5 x 5 block centred on (x, y), counting only
// pixels inside the image; the number of pixels counted (0: none, rgb as
// it was).
int32_t MeanRgb5x5(const CImgBuff* image, int64_t x, int64_t y, double rgb[3]);

// The top 8 bits of a 0..1 component scaled to 32 bits (0 for NaN).
uint8_t SwatchLevel(double v);

// Fills the texture with one colour (0..1 components), width x height.
void FillSwatch(CFgTexture* texture, int32_t width, int32_t height, const double rgb[3]);
