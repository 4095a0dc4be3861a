// The run's region as the kernels' inclusive rectangle, inside the image.
#pragma once

#include <cstdint>

#include "image/imgbuff.h"

// The region saturated to 32-bit corners and then clipped to the image, so
// that a region far outside (or at coordinates beyond 32 bits) never wraps
// onto it. False when nothing of the image remains.
bool ClippedRegion(const CImgBuff* image, int64_t x, int64_t y, int64_t w, int64_t h, ImgRect* out);
