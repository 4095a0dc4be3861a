#include "filters/processing/colour_pick.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "toolkit/fg_texture.h"

int32_t MeanRgb5x5(const CImgBuff* image, int64_t x, int64_t y, double rgb[3]) {
    if (!image || !image->buffer || !image->buffer->pixels) return 0;
    const int64_t w = image->buffer->width, h = image->buffer->height;
    double sum[3] = {0, 0, 0};
    int32_t count = 0;
    for (int64_t py = y - 2; py <= y + 2; ++py)
        for (int64_t px = x - 2; px <= x + 2; ++px) {
            if (px < 0 || py < 0 || px >= w || py >= h) continue;
            double r, g, b;
            if (!image->buffer->GetPixelRgbDouble(static_cast<int32_t>(px), static_cast<int32_t>(py), &r, &g, &b))
                continue;
            sum[0] += r;
            sum[1] += g;
            sum[2] += b;
            ++count;
        }
    if (count)
        for (int i = 0; i < 3; ++i) rgb[i] = sum[i] / count;
    return count;
}

uint8_t SwatchLevel(double v) {
    if (!(v > 0)) return 0;
    if (v >= 1) return 255;
    return static_cast<uint8_t>(static_cast<uint32_t>(v * 4294967295.0) >> 24);
}

void FillSwatch(CFgTexture* texture, int32_t width, int32_t height, const double rgb[3]) {
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
    const uint8_t level[3] = {SwatchLevel(rgb[0]), SwatchLevel(rgb[1]), SwatchLevel(rgb[2])};
    for (size_t i = 0; i < pixels.size(); i += 3) std::copy(level, level + 3, pixels.begin() + static_cast<long>(i));
    // The texture keeps its screen and name: the new pixels are sent again.
    if (texture->Create(static_cast<uint64_t>(width), static_cast<uint64_t>(height), 1, 1, 0, pixels.data()))
        texture->Upload();
}
