#include "image/kernels/rotate_scale.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "image/kernels/kernel_frame.h"
#include "image/pool.h"

bool ImgWrapDegrees(double degrees, double* wrapped) {
    if (!std::isfinite(degrees)) return false;
    // fmod is exact, and so is each step of 360 below 2^56, so this is the
    // value the stepping loop reaches. + 0.0 makes a -0 a 0, as the loop.
    double r = degrees;
    if (r > 180.0) {
        r = std::fmod(r, 360.0);
        if (r > 180.0) r -= 360.0;
    } else if (r < -180.0) {
        r = std::fmod(r, 360.0);
        if (r < -180.0) r += 360.0;
    }
    *wrapped = r + 0.0;
    return true;
}

double ImgNormalizeAngleRad(double degrees) {
    double d;
    if (!ImgWrapDegrees(degrees, &d)) return std::nan("");
    return d * 3.141592653589793 / 180.0;
}

int32_t ImgResampleFormat(int32_t format) {
    switch (format) {
        case kImgCmyk8: return kImgRgb8;
        case kImgHsv16: return kImgRgb16;
        case kImgXyz: return kImgRgb32;
        default: return format;
    }
}

bool ImgMakeWorkPlane(const C_ImgBuff& image, int32_t workFormat, ImgWorkPlane* out) {
    if (!ImgFormatValid(image.format) || !image.pixels || workFormat < kImgGray8 || workFormat > kImgRgb32) return false;
    const uint64_t stride = static_cast<uint64_t>(image.width) * static_cast<uint64_t>(ImgFormatBytes(workFormat));
    // 64 spare bytes let vector loads run past the last pixel.
    out->block.reset(new (std::nothrow) uint8_t[stride * static_cast<uint64_t>(image.height) + 64]);
    if (!out->block) return false;
    out->pixels = out->block.get();
    out->width = image.width;
    out->height = image.height;
    out->format = workFormat;
    out->stride = stride;
    std::memset(out->pixels + stride * static_cast<uint64_t>(image.height), 0, 64);
    auto rows = [&](uint64_t first, uint64_t count) {
        for (uint64_t i = first; i < first + count; ++i) {
            const int32_t y = static_cast<int32_t>(i);
            uint8_t* d = out->pixels + stride * i;
            if (image.format == workFormat) {
                std::memcpy(d, image.PixelAt(0, y), stride);
                continue;
            }
            switch (workFormat) {
                case kImgGray8: ImgReadGray8Span(image, 0, y, image.width, d); break;
                case kImgGray16: ImgReadGray16Span(image, 0, y, image.width, reinterpret_cast<uint16_t*>(d)); break;
                case kImgRgb8: ImgReadRgb8Span(image, 0, y, image.width, d); break;
                case kImgRgb16: ImgReadRgb16Span(image, 0, y, image.width, reinterpret_cast<uint16_t*>(d)); break;
                case kImgGray32:
                    for (int32_t x = 0; x < image.width; ++x) {
                        uint32_t v = 0;
                        image.GetPixelGray32(x, y, &v);
                        std::memcpy(d + 4 * x, &v, 4);
                    }
                    break;
                default:
                    for (int32_t x = 0; x < image.width; ++x) {
                        uint32_t c[3] = {0, 0, 0};
                        image.GetPixelRgb32(x, y, &c[0], &c[1], &c[2]);
                        std::memcpy(d + 12 * x, c, 12);
                    }
                    break;
            }
        }
    };
    PoolParallelRun(static_cast<uint64_t>(image.height), rows);
    return true;
}

bool ImgViewWorkPlane(const C_ImgBuff& image, int32_t workFormat, ImgWorkPlane* out) {
    if (image.format != workFormat) return ImgMakeWorkPlane(image, workFormat, out);
    if (!ImgFormatValid(image.format) || !image.pixels) return false;
    out->block.reset();
    out->pixels = image.pixels;
    out->width = image.width;
    out->height = image.height;
    out->format = workFormat;
    out->stride = static_cast<uint64_t>(image.width) * static_cast<uint64_t>(ImgFormatBytes(workFormat));
    return true;
}

void ImgStoreWorkRow(C_ImgBuff& image, int32_t x0, int32_t y, int32_t n, int32_t workFormat, const void* values) {
    if (image.format == workFormat) {
        std::memcpy(image.PixelAt(x0, y), values, static_cast<size_t>(n) * static_cast<size_t>(ImgFormatBytes(workFormat)));
        return;
    }
    const uint8_t* v8 = static_cast<const uint8_t*>(values);
    const uint16_t* v16 = static_cast<const uint16_t*>(values);
    const uint32_t* v32 = static_cast<const uint32_t*>(values);
    for (int32_t i = 0; i < n; ++i) {
        const int32_t x = x0 + i;
        switch (workFormat) {
            case kImgGray8: image.SetPixelGray8(x, y, v8[i]); break;
            case kImgGray16: image.SetPixelGray16(x, y, v16[i]); break;
            case kImgGray32: image.SetPixelGray32(x, y, v32[i]); break;
            case kImgRgb8: image.SetPixelRgb8(x, y, v8[3 * i], v8[3 * i + 1], v8[3 * i + 2]); break;
            case kImgRgb16: image.SetPixelRgb16(x, y, v16[3 * i], v16[3 * i + 1], v16[3 * i + 2]); break;
            default: image.SetPixelRgb32(x, y, v32[3 * i], v32[3 * i + 1], v32[3 * i + 2]); break;
        }
    }
}

namespace {

// Positions beyond this lie far outside any image: their pixels take the
// outside value without integer steps.
constexpr double kFar = 1e9;

template <class T, int C>
void RotateRows(const RotateScaleJob& job, uint64_t first, uint64_t count) {
    const uint8_t* const base = job.scratch->pixels;
    const uint64_t stride = job.scratch->stride;
    const int32_t workFormat = job.scratch->format;
    C_ImgBuff& img = *job.image->buffer;
    const int32_t w = img.width, h = img.height;
    const double sinT = job.sinT, cosT = job.cosT, inv = job.invScale;
    const double cx = job.cx, cy = job.cy;
    const int32_t ox = job.ox, oy = job.oy;
    const bool mirror = job.mirror != 0;
    const double outside = job.whiteOutside > 0 ? ImgChannelMax<T>() : 0.0;
    const T outsideStored = ImgStoreSample<T>(outside);
    constexpr int32_t kChunk = kImgSpanPixels;
    T out[kChunk * C];
    double us[kChunk], vs[kChunk];
    for (uint64_t i = first; i < first + count; ++i) {
        const int32_t y = static_cast<int32_t>(i);
        const double dy = static_cast<double>(y - oy);
        const double dys = dy * sinT, dyc = dy * cosT;
        for (int32_t x0 = 0; x0 < w; x0 += kChunk) {
            const int32_t n = std::min(kChunk, w - x0);
            for (int32_t k = 0; k < n; ++k) {
                const double dx = static_cast<double>(x0 + k - ox);
                us[k] = (dx * cosT - dys) * inv + cx;
                vs[k] = (dx * sinT + dyc) * inv + cy;
            }
            for (int32_t k = 0; k < n; ++k) {
                // Mirrored output fills the chunk's buffer from its far end.
                T* o = out + (mirror ? n - 1 - k : k) * C;
                const double u = us[k], v = vs[k];
                if (!(u > -kFar && u < kFar && v > -kFar && v < kFar)) {
                    for (int c = 0; c < C; ++c) o[c] = outsideStored;
                    continue;
                }
                const int64_t ix = static_cast<int64_t>(u), iy = static_cast<int64_t>(v);
                const double fx = u - static_cast<double>(ix), fy = v - static_cast<double>(iy);
                const double gx = 1.0 - fx, gy = 1.0 - fy;
                if (ix >= 0 && ix + 1 < w && iy >= 0 && iy + 1 < h) {
                    const T* p0 = reinterpret_cast<const T*>(base + stride * static_cast<uint64_t>(iy)) + ix * C;
                    const T* p1 = reinterpret_cast<const T*>(reinterpret_cast<const uint8_t*>(p0) + stride);
                    for (int c = 0; c < C; ++c) {
                        const double r = (static_cast<double>(p0[c]) * gx + static_cast<double>(p0[C + c]) * fx) * gy +
                                         (static_cast<double>(p1[c]) * gx + static_cast<double>(p1[C + c]) * fx) * fy;
                        o[c] = ImgStoreSample<T>(r);
                    }
                    continue;
                }
                const T* p[4];
                const int64_t nx[4] = {ix, ix + 1, ix, ix + 1}, ny[4] = {iy, iy, iy + 1, iy + 1};
                for (int q = 0; q < 4; ++q)
                    p[q] = nx[q] >= 0 && nx[q] < w && ny[q] >= 0 && ny[q] < h
                               ? reinterpret_cast<const T*>(base + stride * static_cast<uint64_t>(ny[q])) + nx[q] * C
                               : nullptr;
                for (int c = 0; c < C; ++c) {
                    double v4[4];
                    for (int q = 0; q < 4; ++q) v4[q] = p[q] ? static_cast<double>(p[q][c]) : outside;
                    const double r = (v4[0] * gx + v4[1] * fx) * gy + (v4[2] * gx + v4[3] * fx) * fy;
                    o[c] = ImgStoreSample<T>(r);
                }
            }
            ImgStoreWorkRow(img, mirror ? w - x0 - n : x0, y, n, workFormat, out);
        }
    }
}

}  // namespace

void ImgRotateScaleGray8Rows(void* job, uint64_t first, uint64_t count) {
    RotateRows<uint8_t, 1>(*static_cast<const RotateScaleJob*>(job), first, count);
}
void ImgRotateScaleGray16Rows(void* job, uint64_t first, uint64_t count) {
    RotateRows<uint16_t, 1>(*static_cast<const RotateScaleJob*>(job), first, count);
}
void ImgRotateScaleGray32Rows(void* job, uint64_t first, uint64_t count) {
    RotateRows<uint32_t, 1>(*static_cast<const RotateScaleJob*>(job), first, count);
}
void ImgRotateScaleRgb8Rows(void* job, uint64_t first, uint64_t count) {
    RotateRows<uint8_t, 3>(*static_cast<const RotateScaleJob*>(job), first, count);
}
void ImgRotateScaleRgb16Rows(void* job, uint64_t first, uint64_t count) {
    RotateRows<uint16_t, 3>(*static_cast<const RotateScaleJob*>(job), first, count);
}
void ImgRotateScaleRgb32Rows(void* job, uint64_t first, uint64_t count) {
    RotateRows<uint32_t, 3>(*static_cast<const RotateScaleJob*>(job), first, count);
}

int32_t ImgRotateScale(CImgBuff* image, int32_t cx, int32_t cy, double angle, double scale, int32_t mirror, uint16_t whiteOutside) {
    if (!image || !image->buffer || !ImgFormatValid(image->buffer->format) || !image->buffer->pixels) return 0;
    if (!(scale > 0.0) || !std::isfinite(scale)) return 0;
    const double theta = ImgNormalizeAngleRad(-angle);
    if (std::isnan(theta)) return 0;
    C_ImgBuff& b = *image->buffer;
    const int32_t work = ImgResampleFormat(b.format);
    ImgWorkPlane scratch;
    if (!ImgMakeWorkPlane(b, work, &scratch)) return 0;
    RotateScaleJob job{&scratch, image, cx, cy, (b.width - 1) / 2, (b.height - 1) / 2, mirror ? 1 : 0, std::sin(theta), std::cos(theta),
                       1.0 / scale, 0, 0, b.width - 1, b.height - 1, whiteOutside};
    static constexpr PoolWorkerFn kWorkers[7] = {nullptr,
                                                 ImgRotateScaleGray8Rows,
                                                 ImgRotateScaleGray16Rows,
                                                 ImgRotateScaleGray32Rows,
                                                 ImgRotateScaleRgb8Rows,
                                                 ImgRotateScaleRgb16Rows,
                                                 ImgRotateScaleRgb32Rows};
    PoolParallelFor(kWorkers[work], &job, static_cast<uint64_t>(b.height));
    return 1;
}
