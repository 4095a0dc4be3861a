#include "image/kernels/up_convert.h"

#include <algorithm>

#include "image/kernels/convolve.h"
#include "image/kernels/kernel_frame.h"

namespace {

template <class T, class Sum>
void MeanRow(const ImgUpConvertJob& job, int32_t y) {
    const C_ImgBuff& src = *job.copy->buffer;
    C_ImgBuff& dst = *job.image->buffer;
    const int channels = src.format <= kImgGray32 ? 1 : 3;
    const int32_t w = job.width, h = src.height;
    const Sum limit = sizeof(T) == 2 ? 512 : 131072;
    const int32_t y0 = std::max(0, y - 1), y1 = std::min(h - 1, y + 1);
    const T* rows[3];
    for (int32_t yy = y0; yy <= y1; ++yy) rows[yy - y0] = reinterpret_cast<const T*>(src.PixelAt(0, yy));
    T* out = reinterpret_cast<T*>(dst.PixelAt(0, y));
    const T* mid = reinterpret_cast<const T*>(src.PixelAt(0, y));
    for (int32_t x = 0; x < w; ++x) {
        const int32_t x0 = std::max(0, x - 1), x1 = std::min(w - 1, x + 1);
        const Sum n = static_cast<Sum>((x1 - x0 + 1) * (y1 - y0 + 1));
        T mean[3];
        bool close = true;
        for (int ch = 0; ch < channels; ++ch) {
            Sum s = 0;
            for (int32_t r = 0; r <= y1 - y0; ++r)
                for (int32_t xx = x0; xx <= x1; ++xx) s += rows[r][xx * channels + ch];
            mean[ch] = static_cast<T>(s / n);
            const Sum v = mid[x * channels + ch];
            close = close && (mean[ch] > v ? mean[ch] - v : v - mean[ch]) <= limit;
        }
        if (close)
            for (int ch = 0; ch < channels; ++ch) out[x * channels + ch] = mean[ch];
    }
}

// The smoothing step at the depth just reached.
int32_t Smooth(CImgBuff* image) {
    static const int32_t kFirst[9] = {0, 1, 0, 1, 5, 1, 0, 1, 0};
    static const int32_t kSecond[9] = {0, -1, 0, -1, 10, -1, 0, -1, 0};
    if (!ImgConvolve(image, 3, kFirst, 1, 0, nullptr) || !ImgConvolve(image, 3, kSecond, 1, 0, nullptr)) return 0;
    CImgBuff copy;
    if (!copy.buffer || !copy.CopyFrom(image) || !copy.buffer->pixels) return 0;
    ImgUpConvertJob job{&copy, image, image->buffer->width};
    PoolParallelFor(ImgUpConvertMeanRows, &job, static_cast<uint64_t>(image->buffer->height));
    return 1;
}

int32_t Step(CImgBuff* image, int32_t format, bool smooth) {
    if (!image->buffer->ConvertFormat(static_cast<uint32_t>(format))) return 0;
    return smooth ? Smooth(image) : 1;
}

}  // namespace

void ImgUpConvertMeanRows(void* ctx, uint64_t first, uint64_t count) {
    const ImgUpConvertJob& job = *static_cast<const ImgUpConvertJob*>(ctx);
    const int32_t f = job.copy->buffer->format;
    for (uint64_t i = first; i < first + count; ++i) {
        const int32_t y = static_cast<int32_t>(i);
        if (f == kImgGray16 || f == kImgRgb16) {
            MeanRow<uint16_t, uint32_t>(job, y);
        } else if (f == kImgGray32 || f == kImgRgb32) {
            MeanRow<uint32_t, uint64_t>(job, y);
        }
    }
}

int32_t ImgUpConvertDepth(CImgBuff* image, uint32_t bits) {
    if (bits != 16 && bits != 32) return 0;
    if (!image || !image->buffer || !image->buffer->pixels) return 0;
    const int32_t f = image->buffer->format;
    if (f < kImgGray8 || f > kImgRgb32) return 0;
    const bool grey = f <= kImgGray32;
    const int32_t f16 = grey ? kImgGray16 : kImgRgb16, f32 = grey ? kImgGray32 : kImgRgb32;
    const int depth = f == kImgGray8 || f == kImgRgb8 ? 8 : f == kImgGray16 || f == kImgRgb16 ? 16 : 32;
    if (static_cast<uint32_t>(depth) == bits) return 1;
    if (bits == 16) return Step(image, f16, depth == 8);  // from 32 bits: no smoothing
    if (depth == 8 && !Step(image, f16, true)) return 0;
    return Step(image, f32, true);
}
