#include "filters/processing/region_clip.h"

#include "filters/processing/small_filter.h"

bool ClippedRegion(const CImgBuff* image, int64_t x, int64_t y, int64_t w, int64_t h, ImgRect* out) {
    *out = {0, 0, -1, -1};
    if (!image || !image->buffer || !image->buffer->pixels || w <= 0 || h <= 0) return false;
    // x + w - 1 saturates instead of overflowing for regions near the 64-bit limit.
    const int64_t x1 = x > INT64_MAX - w ? INT64_MAX : x + w - 1;
    const int64_t y1 = y > INT64_MAX - h ? INT64_MAX : y + h - 1;
    ImgRect r = RegionRect(x, y, 1, 1);
    const ImgRect far = RegionRect(x1, y1, 1, 1);
    r.x1 = far.x0;
    r.y1 = far.y0;
    if (r.x1 < 0 || r.y1 < 0 || r.x0 >= image->buffer->width || r.y0 >= image->buffer->height) return false;
    if (!ImgClipRect(&r, image)) return false;
    *out = r;
    return true;
}
