#include "filters/analysis/ptv_detect.h"

#include "filters/analysis/ptv_link.h"
#include "image/kernels/islands.h"

int32_t PtvDetect(CImgBuff* image, const ImgRect& rect, uint32_t connect, uint32_t bg, ParticleFrame* slot,
                  IslandRecord* scratch) {
    slot->count = 0;
    if (!image || !scratch) return -1;
    IslandSettings s{};
    s.image = image;
    s.inverted = bg ? 1 : 0;
    s.connectivity = connect;
    s.islands = 0;
    s.unweighted = 1;
    s.lengthPerPixel = 1.0;
    s.yAxis = 1;
    const int32_t n = ImgMeasureIslands(&s, nullptr, scratch, kPtvSlotCapacity, &rect);
    if (n < 0) return -1;
    for (int32_t i = 0; i < n; ++i) slot->records[i] = Particle{-1, 1, scratch[i].centreX, scratch[i].centreY};
    slot->count = n;
    return n;
}
