// Comparing an image with a stored background of the same scene: background
// subtraction and object extraction. The background may have another size;
// it is read only where it has pixels.
#pragma once

#include <cstdint>

#include "image/imgbuff.h"

// Every channel of the region becomes image - background, or 0 where the
// background is greater. Where the background has no pixel the image stays
// as it is, or becomes 0 with `mask` set. CMYK, HSV and XYZ work on their
// RGB rendering. 1 done (also for an empty background), 0 refused.
int32_t ImgSubtractBackground(CImgBuff* image, const CImgBuff* background, uint32_t mask, const ImgRect* roi);
// Paints white (paint set) or black the pixels, or with tileSize >= 2 the
// square tiles, that lie within `level` of the background: a pixel when its
// squared L*a*b* distance is at most level^2, a tile when the mean of its
// pixels' squared distances is at most level. 1 done (also for an empty
// background), 0 for a negative or NaN level or a refused region.
int32_t ImgExtractObjects(CImgBuff* image, const CImgBuff* background, uint32_t paint, double level, uint64_t tileSize,
                          const ImgRect* roi);
// Squared L*a*b* distance of pixel (x, y) of two images: lightness alone
// when either L* is 50 or less, else dL^2 + (da^2 + db^2) / 4 as two terms.
// 0 when either pixel lies outside its image.
double ImgLabDistance(const CImgBuff* a, const CImgBuff* b, int32_t x, int32_t y);
