#include "image/kernels/wavelength_filter.h"

#include "image/colour.h"
#include "image/kernels/kernel_frame.h"

namespace {

struct WaveJob {
    CImgBuff* image;
    uint32_t outputMode;
    double r, g, b, l, gain;
    int32_t x0, y0, x1, y1;
};

// At most 1.0; NaN passes through to the setter, which stores it as 0.
double AtMostOne(double v) { return v > 1.0 ? 1.0 : v; }

void WaveRow(const WaveJob& job, int32_t y) {
    C_ImgBuff& b = *job.image->buffer;
    for (int32_t x = job.x0; x <= job.x1; ++x) {
        if (job.outputMode == 0) {
            double v = 0.0;
            b.GetPixelGrayDouble(x, y, &v);
            const double w = AtMostOne(v * job.gain);
            b.SetPixelRgbDouble(x, y, w, w, w);
            continue;
        }
        double cr = 0.0, cg = 0.0, cb = 0.0;
        b.GetPixelRgbDouble(x, y, &cr, &cg, &cb);
        if (job.outputMode == 1) {
            b.SetPixelRgbDouble(x, y, cr * job.r, cg * job.g, cb * job.b);
        } else {
            const double v = AtMostOne((0.299 * cr * job.r + 0.587 * cg * job.g + 0.114 * cb * job.b) * job.gain);
            b.SetPixelRgbDouble(x, y, v, v, v);
        }
    }
}

}  // namespace

int32_t ImgWavelengthFilter(CImgBuff* image, double wavelength, uint32_t outputMode, uint32_t gainMode, double gain,
                            const ImgRect* region) {
    if (!image || !image->buffer) return 0;
    C_ImgBuff& b = *image->buffer;
    if (b.format == kImgFormatNone) return 1;
    if (wavelength < 0.0 || outputMode > 2 || gainMode > 3) return 0;
    ImgRect r;
    if (!ImgGetRoi(&r, image, region)) return 0;

    double x, y, z, cr, cg, cb;
    ImgWavelengthToXyz(wavelength, &x, &y, &z);
    ImgXyzToSrgb(x, y, z, &cr, &cg, &cb);
    const double l = 0.299 * cr + 0.587 * cg + 0.114 * cb;
    double g = 1.0;
    if (outputMode == 0) {
        if (gainMode == 0) return 1;
        if (gainMode == 1) {
            if (!(l > 0.0)) return 1;
            g = 1.0 / l;
        } else if (gainMode == 2) {
            g = l;
        } else {
            if (gain < 0.0) return 0;
            g = gain;
        }
    } else if (outputMode == 2 && gainMode == 1 && l > 0.0) {
        g = 1.0 / l;
    }
    const bool grey = b.format <= kImgGray32;
    if (outputMode == 0 && !grey) return 1;
    // A failed conversion is reported, never passed off as a tinted result.
    if (outputMode == 1 && grey && !b.ConvertFormat(static_cast<uint32_t>(b.format + 3))) return 0;

    const WaveJob job{image, outputMode, cr, cg, cb, l, g, r.x0, r.y0, r.x1, r.y1};
    ImgForEachRegionRow(r, [&](int32_t row) { WaveRow(job, row); });

    if (outputMode == 2 && !grey) {
        const int32_t target = ImgFormatIn(ImgFormat8BitMask, b.format) ? kImgGray8 : ImgFormatIn(ImgFormat16BitMask, b.format) ? kImgGray16 : kImgGray32;
        if (!b.ConvertFormat(static_cast<uint32_t>(target))) return 0;
    }
    return 1;
}
