// Erasing whole connected objects of a (usually binary) image by painting
// them with the background level: by their pixel count, or because they
// touch chosen edges of the region.
#pragma once

#include <cstdint>

#include "image/imgbuff.h"

// Deletes the objects (pixels whose grey value, 8-bit for {1, 4, 9} and
// 16-bit otherwise, differs from the background) of at most `minimum` or at
// least `maximum` pixels; 0 switches a limit off, and with both off the call
// returns 1 at once. 1 done, 0 refused or out of memory.
int32_t ImgRemoveObjectsBySize(CImgBuff* image, uint32_t minimum, uint32_t maximum, int32_t connectivity, uint32_t inverted,
                               const ImgRect* region);
// Deletes the objects (judged by the 8-bit grey value) that touch the
// region's left, top, right or bottom edge where that flag is set.
int32_t ImgEraseEdgeObjects(CImgBuff* image, uint32_t left, uint32_t top, uint32_t right, uint32_t bottom, int32_t connectivity,
                            uint32_t inverted, const ImgRect* region);
