// Look-up tables over the samples of a region, shared by the gamma and level
// kernels.
#pragma once

#include <cstdint>

#include "image/imgbuff.h"

// Maps every channel of the clipped region (null: whole image) through
// `table8` (256 entries) or `table16` (65536 entries):
//   grey8, RGB8, CMYK8 (as its 8-bit RGB)       -> table8
//   grey16, RGB16, HSV16 (as its 16-bit RGB)    -> table16
//   grey32, RGB32, XYZ (as their 16-bit values) -> table16, widened back
// 1 done, 0 for a missing table or a region that cannot be clipped.
int32_t ImgApplySampleTables(CImgBuff* image, const uint8_t* table8, const uint16_t* table16, const ImgRect* roi);
