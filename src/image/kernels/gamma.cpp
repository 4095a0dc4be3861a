#include "image/kernels/gamma.h"

#include <cmath>
#include <new>

#include "image/kernels/kernel_frame.h"
#include "image/kernels/sample_tables.h"

namespace {

// The exponent g2 / g1, or NaN when the gammas are refused.
double GammaExponent(double g1, double g2) {
    if (!(g1 > 0.0) || !(g2 > 0.0)) return NAN;
    return g2 / g1;  // NaN only for two infinite gammas
}

struct GammaWideJob {
    CImgBuff* image;
    int32_t x0, y0, x1, y1;
    double exponent;
};

}  // namespace

GammaTable* ImgGammaTableCreate(double g1, double g2) {
    const double e = GammaExponent(g1, g2);
    if (std::isnan(e)) return nullptr;
    GammaTable* t = new (std::nothrow) GammaTable;
    if (!t) return nullptr;
    t->table16 = new (std::nothrow) uint16_t[65536];
    if (!t->table16) {
        delete t;
        return nullptr;
    }
    for (int i = 0; i < 256; ++i) t->table8[i] = ImgClampToU8(255.0 * std::pow(i / 255.0, e));
    for (int i = 0; i < 65536; ++i) t->table16[i] = ImgClampToU16(65535.0 * std::pow(i / 65535.0, e));
    return t;
}

void ImgGammaTableFree(GammaTable* table) {
    if (!table) return;
    delete[] table->table16;
    delete table;
}

int32_t ImgGammaTableApply(CImgBuff* image, const GammaTable* table, const ImgRect* roi) {
    if (!table) return 0;
    return ImgApplySampleTables(image, table->table8, table->table16, roi);
}

int32_t ImgGammaCorrectWide(CImgBuff* image, double g1, double g2, const ImgRect* roi) {
    const double e = GammaExponent(g1, g2);
    if (std::isnan(e) || !image || !image->buffer) return 0;
    if (image->buffer->format == kImgFormatNone) return 1;
    ImgRect r;
    if (!ImgGetRoi(&r, image, roi)) return 0;
    const GammaWideJob job{image, r.x0, r.y0, r.x1, r.y1, e};
    const auto curve = [e = job.exponent](uint32_t v) { return ImgClampToU32(std::pow(v / 4294967295.0, e) * 4294967295.0); };
    ImgForEachRegionRow(r, [&](int32_t y) { ImgMapSpan32(*job.image->buffer, job.x0, y, job.x1 - job.x0 + 1, curve); });
    return 1;
}

int32_t ImgGammaCorrect(CImgBuff* image, double g1, double g2, const ImgRect* roi) {
    if (!image || !image->buffer) return 0;
    ImgRect r;
    if (!ImgGetRoi(&r, image, roi)) return 0;
    const int32_t format = image->buffer->format;
    if (!ImgFormatIn(ImgFormat8BitMask, format) && !ImgFormatIn(ImgFormat16BitMask, format))
        return ImgGammaCorrectWide(image, g1, g2, &r);
    GammaTable* table = ImgGammaTableCreate(g1, g2);
    if (!table) return 0;
    const int32_t result = ImgGammaTableApply(image, table, &r);
    ImgGammaTableFree(table);
    return result;
}
