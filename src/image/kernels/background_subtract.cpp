#include "image/kernels/background_subtract.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "image/colour.h"
#include "image/kernels/kernel_frame.h"
#include "image/pool.h"

namespace {

// Typed reads and writes of one pixel as C values of type T, through the
// accessors of that value type.
template <class T, int C>
bool GetValues(const C_ImgBuff& b, int32_t x, int32_t y, T* v) {
    if constexpr (C == 1) {
        if constexpr (sizeof(T) == 1) return b.GetPixelGray8(x, y, v) != 0;
        else if constexpr (sizeof(T) == 2) return b.GetPixelGray16(x, y, v) != 0;
        else return b.GetPixelGray32(x, y, v) != 0;
    } else {
        if constexpr (sizeof(T) == 1) return b.GetPixelRgb8(x, y, &v[0], &v[1], &v[2]) != 0;
        else if constexpr (sizeof(T) == 2) return b.GetPixelRgb16(x, y, &v[0], &v[1], &v[2]) != 0;
        else return b.GetPixelRgb32(x, y, &v[0], &v[1], &v[2]) != 0;
    }
}
template <class T, int C>
void SetValues(C_ImgBuff& b, int32_t x, int32_t y, const T* v) {
    if constexpr (C == 1) {
        if constexpr (sizeof(T) == 1) b.SetPixelGray8(x, y, v[0]);
        else if constexpr (sizeof(T) == 2) b.SetPixelGray16(x, y, v[0]);
        else b.SetPixelGray32(x, y, v[0]);
    } else {
        if constexpr (sizeof(T) == 1) b.SetPixelRgb8(x, y, v[0], v[1], v[2]);
        else if constexpr (sizeof(T) == 2) b.SetPixelRgb16(x, y, v[0], v[1], v[2]);
        else b.SetPixelRgb32(x, y, v[0], v[1], v[2]);
    }
}

struct SubtractJob {
    CImgBuff* image;
    const CImgBuff* background;
    uint32_t mask;
    int32_t x0, y0, x1, y1;
};

// One row: grey and RGB samples are read and written in place; CMYK, HSV
// and XYZ through the RGB accessors of their depth. A background of another
// format is read through the accessors of the image's value type.
template <class T, int C>
void SubtractRow(const SubtractJob& job, int32_t y) {
    C_ImgBuff& img = *job.image->buffer;
    const C_ImgBuff& bg = *job.background->buffer;
    const bool direct = img.format <= kImgRgb32;
    const bool bgDirect = direct && bg.format == img.format;
    // Columns x0 .. inside-1 have a background pixel.
    const int32_t inside = (ImgFormatValid(bg.format) && bg.pixels && y < bg.height) ? std::min(job.x1 + 1, std::max(bg.width, job.x0))
                                                                                      : job.x0;
    T iv[C * kImgSpanPixels], bv[C * kImgSpanPixels];
    for (int32_t x = job.x0; x <= job.x1; x += kImgSpanPixels) {
        const int32_t n = std::min(kImgSpanPixels, job.x1 - x + 1);
        T* p = direct ? reinterpret_cast<T*>(img.PixelAt(x, y)) : iv;
        if (!direct)
            for (int32_t k = 0; k < n; ++k) GetValues<T, C>(img, x + k, y, iv + C * k);
        const int32_t withBg = std::clamp(inside - x, 0, n);
        if (withBg > 0) {
            const T* q = bv;
            if (bgDirect) q = reinterpret_cast<const T*>(bg.PixelAt(x, y));
            else
                for (int32_t k = 0; k < withBg; ++k)
                    if (!GetValues<T, C>(bg, x + k, y, bv + C * k)) std::fill_n(bv + C * k, C, T(0));
            for (int32_t i = 0; i < C * withBg; ++i) p[i] = p[i] > q[i] ? static_cast<T>(p[i] - q[i]) : T(0);
        }
        if (job.mask) std::fill(p + C * withBg, p + C * n, T(0));
        if (!direct)
            for (int32_t k = 0; k < n; ++k) SetValues<T, C>(img, x + k, y, iv + C * k);
    }
}

void SubtractRowByFormat(const SubtractJob& job, int32_t y) {
    switch (job.image->buffer->format) {
        case kImgGray8: SubtractRow<uint8_t, 1>(job, y); break;
        case kImgGray16: SubtractRow<uint16_t, 1>(job, y); break;
        case kImgGray32: SubtractRow<uint32_t, 1>(job, y); break;
        case kImgRgb8:
        case kImgCmyk8: SubtractRow<uint8_t, 3>(job, y); break;
        case kImgRgb16:
        case kImgHsv16: SubtractRow<uint16_t, 3>(job, y); break;
        default: SubtractRow<uint32_t, 3>(job, y); break;
    }
}

struct ExtractJob {
    CImgBuff* image;
    const CImgBuff* background;
    uint32_t paint;
    double level;
    uint64_t tileSize;
    int32_t x0, y0, x1, y1;
};

bool HasPixel(const CImgBuff* h, int32_t x, int32_t y) {
    const C_ImgBuff* b = h ? h->buffer : nullptr;
    return b && ImgFormatValid(b->format) && b->pixels && b->Contains(x, y);
}

void PaintSpan(C_ImgBuff& b, int32_t x0, int32_t x1, int32_t y, uint8_t level) {
    uint8_t levels[kImgSpanPixels];
    std::memset(levels, level, sizeof levels);
    for (int32_t x = x0; x <= x1; x += kImgSpanPixels) ImgWriteLevelsSpan(b, x, y, std::min(kImgSpanPixels, x1 - x + 1), levels);
}

}  // namespace

double ImgLabDistance(const CImgBuff* a, const CImgBuff* b, int32_t x, int32_t y) {
    if (!HasPixel(a, x, y) || !HasPixel(b, x, y)) return 0.0;
    double xa, ya, za, xb, yb, zb;
    if (!a->buffer->GetPixelXyz(x, y, &xa, &ya, &za) || !b->buffer->GetPixelXyz(x, y, &xb, &yb, &zb)) return 0.0;
    double la, aa, ba, lb, ab, bb;
    ImgXyzToLab(xa, ya, za, &la, &aa, &ba);
    ImgXyzToLab(xb, yb, zb, &lb, &ab, &bb);
    const double dl = la - lb, da = aa - ab, db = ba - bb;
    if (la <= 50.0 || lb <= 50.0) return dl * dl;
    return dl * dl + 0.25 * da * da + 0.25 * db * db;
}

int32_t ImgSubtractBackground(CImgBuff* image, const CImgBuff* background, uint32_t mask, const ImgRect* roi) {
    if (!image || !image->buffer || !background || !background->buffer) return 0;
    if (background->buffer->format == kImgFormatNone) return 1;
    ImgRect r;
    if (!ImgGetRoi(&r, image, roi)) return 0;
    const SubtractJob job{image, background, mask, r.x0, r.y0, r.x1, r.y1};
    ImgForEachRegionRow(r, [&](int32_t y) { SubtractRowByFormat(job, y); });
    return 1;
}

int32_t ImgExtractObjects(CImgBuff* image, const CImgBuff* background, uint32_t paint, double level, uint64_t tileSize,
                          const ImgRect* roi) {
    if (!image || !image->buffer || !background || !background->buffer) return 0;
    if (background->buffer->format == kImgFormatNone) return 1;
    if (!(level >= 0.0)) return 0;
    ImgRect r;
    if (!ImgGetRoi(&r, image, roi)) return 0;
    const ExtractJob job{image, background, paint, level, tileSize, r.x0, r.y0, r.x1, r.y1};
    C_ImgBuff& b = *image->buffer;
    const uint8_t paintLevel = paint ? kImgLevelWhite : kImgLevelBlack;
    if (tileSize < 2) {
        const double limit = level * level;
        ImgForEachRegionRow(r, [&](int32_t y) {
            uint8_t levels[1] = {paintLevel};
            for (int32_t x = job.x0; x <= job.x1; ++x)
                if (HasPixel(job.background, x, y) && ImgLabDistance(job.image, job.background, x, y) <= limit)
                    ImgWriteLevelsSpan(b, x, y, 1, levels);
        });
        return 1;
    }
    const uint64_t w = static_cast<uint64_t>(r.x1 - r.x0) + 1, h = static_cast<uint64_t>(r.y1 - r.y0) + 1;
    const uint64_t t = tileSize;
    const uint64_t columns = w / t + (w % t != 0), rows = h / t + (h % t != 0);
    auto tiles = [&](uint64_t first, uint64_t count) {
        for (uint64_t i = first; i < first + count; ++i) {
            const uint64_t row = i / columns, column = i % columns;
            const int32_t tx0 = static_cast<int32_t>(job.x0 + column * t), ty0 = static_cast<int32_t>(job.y0 + row * t);
            const int32_t tx1 = tx0 + static_cast<int32_t>(std::min<uint64_t>(t - 1, static_cast<uint64_t>(job.x1 - tx0)));
            const int32_t ty1 = ty0 + static_cast<int32_t>(std::min<uint64_t>(t - 1, static_cast<uint64_t>(job.y1 - ty0)));
            double sum = 0.0;
            for (int32_t y = ty0; y <= ty1; ++y)
                for (int32_t x = tx0; x <= tx1; ++x) sum += ImgLabDistance(job.image, job.background, x, y);
            const double pixels = static_cast<double>(tx1 - tx0 + 1) * static_cast<double>(ty1 - ty0 + 1);
            if (sum / pixels <= job.level)
                for (int32_t y = ty0; y <= ty1; ++y) PaintSpan(b, tx0, tx1, y, paintLevel);
        }
    };
    PoolParallelRun(columns * rows, tiles);
    return 1;
}
