// Viewing a region through a narrow-band colour filter: the sRGB colour of
// a light wavelength multiplies every pixel, and the result stays in colour
// or becomes grey, optionally with a gain.
#pragma once

#include <cstdint>

#include "image/imgbuff.h"

// Output mode 0: grey images only, each grey level times the gain (gain
// mode 1: 1 / the filter's lightness L, 2: L, 3: `gain`; 0 does nothing);
// 1: every colour tinted by the filter (a grey image becomes RGB of its
// depth first); 2: the tinted colour's grey, divided by L in gain mode 1
// (the image becomes grey of its depth group afterwards). Region null: the
// whole image. 1 done or nothing to do; 0 for a negative wavelength, an
// output mode above 2, a gain mode above 3, a negative gain in output mode
// 0 with gain mode 3, a region that cannot be clipped, or a failed format
// conversion (image unchanged when it fails before the pixels are touched).
int32_t ImgWavelengthFilter(CImgBuff* image, double wavelength, uint32_t outputMode, uint32_t gainMode, double gain,
                            const ImgRect* region);
