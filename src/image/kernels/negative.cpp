#include "image/kernels/negative.h"

#include "image/kernels/kernel_frame.h"

namespace {

struct NegateJob {
    CImgBuff* image;
    int32_t x0, y0, x1, y1;
};

void NegateRow(const NegateJob& job, int32_t y) {
    C_ImgBuff& b = *job.image->buffer;
    switch (b.format) {
        case kImgCmyk8:
            for (int32_t x = job.x0; x <= job.x1; ++x) {
                uint8_t r, g, bl;
                b.GetPixelRgb8(x, y, &r, &g, &bl);
                b.SetPixelRgb8(x, y, 255 - r, 255 - g, 255 - bl);
            }
            return;
        case kImgHsv16:
            for (int32_t x = job.x0; x <= job.x1; ++x) {
                uint16_t r, g, bl;
                b.GetPixelRgb16(x, y, &r, &g, &bl);
                b.SetPixelRgb16(x, y, 65535 - r, 65535 - g, 65535 - bl);
            }
            return;
        case kImgXyz:
            for (int32_t x = job.x0; x <= job.x1; ++x) {
                uint32_t r, g, bl;
                b.GetPixelRgb32(x, y, &r, &g, &bl);
                b.SetPixelRgb32(x, y, ~r, ~g, ~bl);
            }
            return;
        default: {
            // Grey and RGB at any depth: the complement of every channel is
            // the complement of every byte.
            uint8_t* p = b.PixelAt(job.x0, y);
            const uint64_t n = static_cast<uint64_t>(job.x1 - job.x0 + 1) * static_cast<uint64_t>(b.BytesPerPixel());
            for (uint64_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(~p[i]);
            return;
        }
    }
}

}  // namespace

int32_t ImgNegate(CImgBuff* image, const ImgRect* roi) {
    if (!image || !image->buffer) return 0;
    ImgRect r;
    if (!ImgGetRoi(&r, image, roi)) return 0;
    const NegateJob job{image, r.x0, r.y0, r.x1, r.y1};
    ImgForEachRegionRow(r, [&](int32_t y) { NegateRow(job, y); });
    return 1;
}
