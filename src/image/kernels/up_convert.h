// Depth up-conversion: a grey or RGB image raised to 16 or 32 bits per
// channel, with the coarse steps of the old depth smoothed over.
#pragma once

#include <cstdint>

#include "image/imgbuff.h"

// Job of the mean pass; item i is row i.
struct ImgUpConvertJob {
    const CImgBuff* copy;  // source: the image after the two convolutions
    CImgBuff* image;       // destination
    int32_t width;
};
// Each pixel becomes the mean of its 3 x 3 window (the pixels inside the
// image) when that lies within 512 (16-bit) or 131072 (32-bit) of it in
// every channel.
void ImgUpConvertMeanRows(void* job, uint64_t first, uint64_t count);

// Converts to 16 or 32 bits per channel; a depth reached from a smaller one
// is smoothed. 1 done (also when the image already has that depth); 0 for
// other bits or a format outside 1-6 (image unchanged), or when a step
// failed (earlier steps stay applied).
int32_t ImgUpConvertDepth(CImgBuff* image, uint32_t bits);
