// Helpers of the image tests: raw channel access of a pixel in any format.
#pragma once

#include <vector>

#include "image/imgbuff.h"

namespace imgtest {

// Channels per pixel of a format (grey 1, CMYK 4, the others 3).
int Channels(int32_t format);

// Stores / loads the channels of pixel (x, y) as they lie in the block,
// converted to double (exact for every channel type).
void PutRaw(C_ImgBuff& b, int32_t x, int32_t y, const std::vector<double>& v);
std::vector<double> GetRaw(const C_ImgBuff& b, int32_t x, int32_t y);

// Fills every pixel with a deterministic pattern that spans each channel's
// range (doubles within -0.1 .. 1.2 for XYZ).
void FillPattern(C_ImgBuff& b, uint32_t seed);

}  // namespace imgtest
