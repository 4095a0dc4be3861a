// Mirrors of a rectangle and quarter turns of a whole image: pure pixel
// moves, the bytes of every pixel kept as they are.
#pragma once

#include <cstdint>

#include "image/imgbuff.h"

// Job of the mirror row workers: an inclusive rectangle that lies inside the
// image with x0 <= x1 and y0 <= y1 (callers clip it first; a job outside the
// image is ignored).
struct MirrorJob {
    CImgBuff* image;
    int32_t x0, y0, x1, y1;
};

// Pool worker: item i reverses the pixels x0 .. x1 of row y0 + i
// (count = y1 - y0 + 1).
void ImgMirrorHorizontalRows(void* job, uint64_t first, uint64_t count);
// Pool worker: item i exchanges the segments x0 .. x1 of rows y0 + i and
// y1 - i (count = (y1 - y0 + 1) / 2, so an odd middle row stays). Works
// without a row buffer, so it cannot fail half way.
void ImgMirrorVerticalRows(void* job, uint64_t first, uint64_t count);

// Turns the image by quarter turns, clockwise as displayed for positive
// `turns` (taken modulo 4); odd turns swap width and height. 1 done, 0
// refused (no image, or no memory for the turned block: image unchanged).
int32_t ImgRotateQuarterTurns(CImgBuff* image, int32_t turns);
