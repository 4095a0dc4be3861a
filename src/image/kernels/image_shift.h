// Moving the whole content of an image by a displacement, in place.
#pragma once

#include <cstdint>

#include "image/imgbuff.h"

// After the call pixel (x, y) holds what was at (x - dx, y - dy), or the fill
// grey level where that lay outside. CMYK and HSV pixels that move pass
// through their 8- and 16-bit RGB rendering. 1 done, 0 refused (no image).
int32_t ImgShift(CImgBuff* image, int32_t dx, int32_t dy, uint8_t fill);
// The whole part of (dx, dy) as ImgShift, then a linear blend with the next
// pixel for the fraction, horizontally and then vertically; the uncovered
// edge blends with the fill. A displacement beyond the image leaves only the
// fill. 0 refused (no image, NaN, or no memory for the work copies), image
// unchanged.
int32_t ImgShiftSubpixel(CImgBuff* image, double dx, double dy, uint8_t fill);
