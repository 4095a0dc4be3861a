#include "image/kernels/image_shift.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "image/colour.h"
#include "image/kernels/kernel_frame.h"

namespace {

// The fill pixel as the 8-bit grey setter stores it: the byte repeated in
// grey and RGB formats, the setter's rendering in XYZ, HSV and CMYK.
bool MakeFillPixel(int32_t format, uint8_t fill, uint8_t* out) {
    const int32_t bpp = ImgFormatBytes(format);
    if (format <= kImgRgb32) {
        std::memset(out, fill, static_cast<size_t>(bpp));
        return true;
    }
    C_ImgBuff one;
    if (!one.Create(1, 1, format) || !one.SetPixelGray8(0, 0, fill)) return false;
    std::memcpy(out, one.pixels, static_cast<size_t>(bpp));
    return true;
}

void FillPixels(uint8_t* p, uint64_t count, const uint8_t* pattern, int32_t bpp) {
    for (uint64_t i = 0; i < count; ++i, p += bpp) std::memcpy(p, pattern, static_cast<size_t>(bpp));
}

// A moved HSV or CMYK pixel is stored back through its RGB rendering.
void ReencodeMoved(C_ImgBuff& b, int32_t x0, int32_t x1, int32_t y) {
    if (b.format == kImgHsv16) {
        for (int32_t x = x0; x <= x1; ++x) {
            uint16_t r, g, bl;
            b.GetPixelRgb16(x, y, &r, &g, &bl);
            b.SetPixelRgb16(x, y, r, g, bl);
        }
    } else if (b.format == kImgCmyk8) {
        for (int32_t x = x0; x <= x1; ++x) {
            uint8_t r, g, bl;
            b.GetPixelRgb8(x, y, &r, &g, &bl);
            b.SetPixelRgb8(x, y, r, g, bl);
        }
    }
}

struct ShiftJob {
    CImgBuff* image;
    int32_t length;  // pixels along the line
    int32_t shift;   // clamped to -length .. length
    const uint8_t* fill;
};

void ImgShiftRows(void* ctx, uint64_t first, uint64_t count) {
    const ShiftJob& job = *static_cast<const ShiftJob*>(ctx);
    C_ImgBuff& b = *job.image->buffer;
    const int32_t bpp = b.BytesPerPixel();
    const int32_t w = job.length, s = job.shift;
    for (uint64_t i = first; i < first + count; ++i) {
        const int32_t y = static_cast<int32_t>(i);
        uint8_t* row = b.PixelAt(0, y);
        if (s > 0) {
            std::memmove(row + static_cast<size_t>(s) * bpp, row, static_cast<size_t>(w - s) * bpp);
            FillPixels(row, static_cast<uint64_t>(s), job.fill, bpp);
            ReencodeMoved(b, s, w - 1, y);
        } else {
            std::memmove(row, row + static_cast<size_t>(-s) * bpp, static_cast<size_t>(w + s) * bpp);
            FillPixels(row + static_cast<size_t>(w + s) * bpp, static_cast<uint64_t>(-s), job.fill, bpp);
            ReencodeMoved(b, 0, w + s - 1, y);
        }
    }
}

// The vertical pass moves whole rows: one block move on the calling thread,
// then the uncovered rows are filled (and moved HSV or CMYK rows re-encoded)
// on the pool, a row per item.
void ImgShiftColumns(const ShiftJob& job) {
    C_ImgBuff& b = *job.image->buffer;
    const int32_t bpp = b.BytesPerPixel();
    const int32_t h = job.length, s = job.shift;
    const size_t rowBytes = static_cast<size_t>(b.width) * static_cast<size_t>(bpp);
    if (s > 0)
        std::memmove(b.pixels + static_cast<size_t>(s) * rowBytes, b.pixels, static_cast<size_t>(h - s) * rowBytes);
    else
        std::memmove(b.pixels, b.pixels + static_cast<size_t>(-s) * rowBytes, static_cast<size_t>(h + s) * rowBytes);
    const int32_t fill0 = s > 0 ? 0 : h + s, fill1 = s > 0 ? s : h;
    auto rows = [&](uint64_t first, uint64_t count) {
        for (uint64_t i = first; i < first + count; ++i) {
            const int32_t y = static_cast<int32_t>(i);
            if (y >= fill0 && y < fill1)
                FillPixels(b.PixelAt(0, y), static_cast<uint64_t>(b.width), job.fill, bpp);
            else
                ReencodeMoved(b, 0, b.width - 1, y);
        }
    };
    PoolParallelRun(static_cast<uint64_t>(h), rows);
}

int32_t ClampShift(int32_t d, int32_t length) { return std::clamp(d, -length, length); }

// ---- Sub-pixel passes -------------------------------------------------

template <class T>
inline T StoreChannel(double v) {
    if constexpr (sizeof(T) == 1) return ImgClampToU8(v);
    else if constexpr (sizeof(T) == 2) return ImgClampToU16(v);
    else return ImgClampToU32(v);
}
template <>
inline double StoreChannel<double>(double v) { return v; }

// d = (1 - g) a + g b, element by element.
template <class T>
void BlendSpan(T* d, const T* a, const T* b, uint64_t n, double g) {
    const double keep = 1.0 - g;
    for (uint64_t i = 0; i < n; ++i) d[i] = StoreChannel<T>(keep * static_cast<double>(a[i]) + g * static_cast<double>(b[i]));
}
template <class T>
void BlendFillPixels(T* d, const T* a, uint64_t pixels, int32_t channels, const double* fill, double g) {
    const double keep = 1.0 - g;
    for (uint64_t p = 0; p < pixels; ++p)
        for (int32_t c = 0; c < channels; ++c, ++d, ++a) *d = StoreChannel<T>(keep * static_cast<double>(*a) + g * fill[c]);
}

struct SubpixelJob {
    C_ImgBuff* source;        // read
    C_ImgBuff* dest;          // written; same size and format
    double fraction;          // -1 < f < 1, not 0
    double fill[3];           // the fill per channel in the work format
};

template <class T>
void SubpixelRow(const SubpixelJob& job, int32_t y, bool vertical) {
    const C_ImgBuff& s = *job.source;
    const int32_t w = s.width, h = s.height;
    const int32_t ch = s.format <= kImgGray32 ? 1 : 3;
    const T* a = reinterpret_cast<const T*>(s.PixelAt(0, y));
    T* d = reinterpret_cast<T*>(job.dest->PixelAt(0, y));
    const double g = std::fabs(job.fraction);
    const bool forward = job.fraction > 0.0;  // content moves right or down
    if (!vertical) {
        const uint64_t inner = static_cast<uint64_t>(w - 1) * ch;
        if (forward) {
            BlendSpan(d + ch, a + ch, a, inner, g);
            BlendFillPixels(d, a, 1, ch, job.fill, g);
        } else {
            BlendSpan(d, a, a + ch, inner, g);
            BlendFillPixels(d + inner, a + inner, 1, ch, job.fill, g);
        }
        return;
    }
    const uint64_t n = static_cast<uint64_t>(w) * ch;
    const int32_t neighbour = forward ? y - 1 : y + 1;
    if (neighbour < 0 || neighbour >= h)
        BlendFillPixels(d, a, static_cast<uint64_t>(w), ch, job.fill, g);
    else
        BlendSpan(d, a, reinterpret_cast<const T*>(s.PixelAt(0, neighbour)), n, g);
}

void RunSubpixelPass(const SubpixelJob& job, bool vertical) {
    auto rows = [&](uint64_t first, uint64_t count) {
        for (uint64_t i = first; i < first + count; ++i) {
            const int32_t y = static_cast<int32_t>(i);
            switch (job.source->format) {
                case kImgGray8:
                case kImgRgb8: SubpixelRow<uint8_t>(job, y, vertical); break;
                case kImgGray16:
                case kImgRgb16: SubpixelRow<uint16_t>(job, y, vertical); break;
                case kImgGray32:
                case kImgRgb32: SubpixelRow<uint32_t>(job, y, vertical); break;
                default: SubpixelRow<double>(job, y, vertical); break;
            }
        }
    };
    PoolParallelRun(static_cast<uint64_t>(job.source->height), rows);
}

// Whole and fractional part of one displacement component. A whole part
// beyond the line leaves only the fill, with no fraction to blend.
void SplitShift(double d, int32_t length, int32_t* whole, double* fraction) {
    const double t = std::trunc(d);
    if (std::fabs(t) >= static_cast<double>(length)) {
        *whole = t > 0 ? length : -length;
        *fraction = 0.0;
        return;
    }
    *whole = static_cast<int32_t>(t);
    *fraction = d - t;
}

}  // namespace

int32_t ImgShift(CImgBuff* image, int32_t dx, int32_t dy, uint8_t fill) {
    if (!image || !image->buffer || !ImgFormatValid(image->buffer->format) || !image->buffer->pixels) return 0;
    if (dx == 0 && dy == 0) return 1;
    C_ImgBuff& b = *image->buffer;
    uint8_t pattern[24];
    if (!MakeFillPixel(b.format, fill, pattern)) return 0;
    if (dx != 0) {
        ShiftJob job{image, b.width, ClampShift(dx, b.width), pattern};
        PoolParallelFor(ImgShiftRows, &job, static_cast<uint64_t>(b.height));
    }
    if (dy != 0) ImgShiftColumns(ShiftJob{image, b.height, ClampShift(dy, b.height), pattern});
    return 1;
}

int32_t ImgShiftSubpixel(CImgBuff* image, double dx, double dy, uint8_t fill) {
    if (!image || !image->buffer || !ImgFormatValid(image->buffer->format) || !image->buffer->pixels) return 0;
    if (std::isnan(dx) || std::isnan(dy)) return 0;
    C_ImgBuff& b = *image->buffer;
    int32_t ix, iy;
    double fx, fy;
    SplitShift(dx, b.width, &ix, &fx);
    SplitShift(dy, b.height, &iy, &fy);
    if (fx == 0.0 && fy == 0.0) return ImgShift(image, ix, iy, fill);

    // The work goes on copies so that a refusal leaves the image as it was.
    // HSV and CMYK are blended in their 16- and 8-bit RGB rendering.
    const int32_t format = b.format;
    const int32_t work = format == kImgHsv16 ? kImgRgb16 : format == kImgCmyk8 ? kImgRgb8 : format;
    CImgBuff src, dst;
    if (!src.buffer || !dst.buffer) return 0;
    src.CopyFrom(image);
    if (src.buffer->format != format || !ImgShift(&src, ix, iy, fill)) return 0;
    if (work != format && !src.buffer->ConvertFormat(static_cast<uint32_t>(work))) return 0;
    if (!dst.buffer->Create(b.width, b.height, work)) return 0;

    SubpixelJob job{src.buffer, dst.buffer, 0.0, {0, 0, 0}};
    switch (work) {
        case kImgGray8:
        case kImgRgb8: job.fill[0] = job.fill[1] = job.fill[2] = fill; break;
        case kImgGray16:
        case kImgRgb16: job.fill[0] = job.fill[1] = job.fill[2] = fill * 257.0; break;
        case kImgGray32:
        case kImgRgb32: job.fill[0] = job.fill[1] = job.fill[2] = fill * 16843009.0; break;
        default: {
            const uint32_t v = fill * 16843009u;
            ImgRgb32ToXyz(v, v, v, &job.fill[0], &job.fill[1], &job.fill[2]);
            break;
        }
    }
    if (fx != 0.0) {
        job.fraction = fx;
        RunSubpixelPass(job, false);
        std::swap(job.source, job.dest);
        // The horizontal result is stored in the image's own format before
        // the vertical pass reads it back.
        if (fy != 0.0 && work != format &&
            !(job.source->ConvertFormat(static_cast<uint32_t>(format)) && job.source->ConvertFormat(static_cast<uint32_t>(work))))
            return 0;
    }
    if (fy != 0.0) {
        job.fraction = fy;
        RunSubpixelPass(job, true);
        std::swap(job.source, job.dest);
    }
    C_ImgBuff* result = job.source;
    if (work != format && !result->ConvertFormat(static_cast<uint32_t>(format))) return 0;
    b.TakePixels(result);
    return 1;
}
