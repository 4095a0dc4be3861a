#include "image/kernels/sample_tables.h"

#include "image/kernels/kernel_frame.h"

namespace {

struct SampleTableJob {
    CImgBuff* image;
    int32_t x0, y0, x1, y1;
    const uint8_t* table8;
    const uint16_t* table16;
};

void MapRow(const SampleTableJob& job, int32_t y) {
    C_ImgBuff& b = *job.image->buffer;
    const int32_t n = job.x1 - job.x0 + 1;
    const uint64_t samples = static_cast<uint64_t>(n) * (b.format <= kImgGray32 ? 1u : 3u);
    const uint8_t* t8 = job.table8;
    const uint16_t* t16 = job.table16;
    switch (b.format) {
        case kImgGray8:
        case kImgRgb8: {
            uint8_t* p = b.PixelAt(job.x0, y);
            for (uint64_t i = 0; i < samples; ++i) p[i] = t8[p[i]];
            return;
        }
        case kImgGray16:
        case kImgRgb16: {
            uint16_t* p = reinterpret_cast<uint16_t*>(b.PixelAt(job.x0, y));
            for (uint64_t i = 0; i < samples; ++i) p[i] = t16[p[i]];
            return;
        }
        case kImgGray32:
        case kImgRgb32: {
            // Read as the high 16 bits, written back widened (x 65537).
            uint32_t* p = reinterpret_cast<uint32_t*>(b.PixelAt(job.x0, y));
            for (uint64_t i = 0; i < samples; ++i) p[i] = t16[p[i] >> 16] * 65537u;
            return;
        }
        case kImgCmyk8:
            for (int32_t x = job.x0; x <= job.x1; ++x) {
                uint8_t r, g, bl;
                b.GetPixelRgb8(x, y, &r, &g, &bl);
                b.SetPixelRgb8(x, y, t8[r], t8[g], t8[bl]);
            }
            return;
        default:  // XYZ, HSV16
            for (int32_t x = job.x0; x <= job.x1; ++x) {
                uint16_t r, g, bl;
                b.GetPixelRgb16(x, y, &r, &g, &bl);
                b.SetPixelRgb16(x, y, t16[r], t16[g], t16[bl]);
            }
            return;
    }
}

}  // namespace

int32_t ImgApplySampleTables(CImgBuff* image, const uint8_t* table8, const uint16_t* table16, const ImgRect* roi) {
    if (!image || !image->buffer || !table8 || !table16) return 0;
    ImgRect r;
    if (!ImgGetRoi(&r, image, roi)) return 0;
    const SampleTableJob job{image, r.x0, r.y0, r.x1, r.y1, table8, table16};
    ImgForEachRegionRow(r, [&](int32_t y) { MapRow(job, y); });
    return 1;
}
