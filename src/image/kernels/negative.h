// The negative: every value of a region replaced by its complement.
#pragma once

#include <cstdint>

#include "image/imgbuff.h"

// Inverts every bit of each channel of the region (null: whole image).
// CMYK, HSV and XYZ pixels are inverted in their 8-, 16- and 32-bit RGB
// rendering and stored back in their own format. 1 done, 0 refused.
int32_t ImgNegate(CImgBuff* image, const ImgRect* roi);
