#include "image/kernels/overlap_transform.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "image/kernels/kernel_frame.h"
#include "image/kernels/rotate_scale.h"
#include "image/pool.h"

namespace {

// Positions beyond this lie far outside any image: no neighbour inside.
constexpr double kFar = 1e9;

template <class T, int C>
void OverlapRows(const OverlapTransformJob& job, uint64_t first, uint64_t count) {
    const ImgWorkPlane& s = *job.plane;
    const OverlapGeometry g = job.geometry;
    C_ImgBuff& out = *job.output->buffer;
    C_ImgBuff& mask = *job.mask->buffer;
    const int64_t w = s.width, h = s.height;
    const uint8_t* const base = s.pixels;
    const uint64_t stride = s.stride;
    constexpr int32_t kChunk = kImgSpanPixels;
    T values[kChunk * C];
    uint8_t cover[kChunk];
    for (uint64_t j = first; j < first + count; ++j) {
        const int32_t row = static_cast<int32_t>(j);
        const double ey = static_cast<double>(job.minY + static_cast<int64_t>(row)) - g.dy - g.cy;
        for (int32_t x0 = 0; x0 < job.width; x0 += kChunk) {
            const int32_t n = std::min(kChunk, job.width - x0);
            for (int32_t k = 0; k < n; ++k) {
                T* o = values + k * C;
                const double ex = static_cast<double>(job.minX + static_cast<int64_t>(x0 + k)) - g.dx - g.cx;
                const double u = (ex * g.cosNeg - ey * g.sinNeg) * g.invS + g.cx;
                const double v = (ex * g.sinNeg + ey * g.cosNeg) * g.invS + g.cy;
                if (!(u > -kFar && u < kFar && v > -kFar && v < kFar)) {
                    for (int c = 0; c < C; ++c) o[c] = 0;
                    cover[k] = 0;
                    continue;
                }
                const double fu = std::floor(u), fv = std::floor(v);
                const int64_t ix = static_cast<int64_t>(fu), iy = static_cast<int64_t>(fv);
                const double fx = u - fu, fy = v - fv;
                // Neighbours outside the source are left out with weight 0.
                const bool inX0 = ix >= 0 && ix < w, inX1 = ix + 1 >= 0 && ix + 1 < w;
                const bool inY0 = iy >= 0 && iy < h, inY1 = iy + 1 >= 0 && iy + 1 < h;
                const double w00 = inX0 && inY0 ? (1.0 - fx) * (1.0 - fy) : 0.0;
                const double w10 = inX1 && inY0 ? fx * (1.0 - fy) : 0.0;
                const double w01 = inX0 && inY1 ? (1.0 - fx) * fy : 0.0;
                const double w11 = inX1 && inY1 ? fx * fy : 0.0;
                const double W = w00 + w10 + w01 + w11;
                cover[k] = ImgClampToU8(W * 255.0);
                if (W == 0.0) {
                    for (int c = 0; c < C; ++c) o[c] = 0;
                    continue;
                }
                const double inv = 1.0 / W;
                const T* r0 = reinterpret_cast<const T*>(base + stride * static_cast<uint64_t>(inY0 ? iy : 0));
                const T* r1 = reinterpret_cast<const T*>(base + stride * static_cast<uint64_t>(inY1 ? iy + 1 : 0));
                const int64_t c0 = inX0 ? ix * C : 0, c1 = inX1 ? (ix + 1) * C : 0;
                for (int c = 0; c < C; ++c) {
                    double acc = 0.0;
                    if (w00 != 0.0) acc += w00 * static_cast<double>(r0[c0 + c]);
                    if (w10 != 0.0) acc += w10 * static_cast<double>(r0[c1 + c]);
                    if (w01 != 0.0) acc += w01 * static_cast<double>(r1[c0 + c]);
                    if (w11 != 0.0) acc += w11 * static_cast<double>(r1[c1 + c]);
                    o[c] = ImgStoreSample<T>(acc * inv);
                }
            }
            ImgStoreWorkRow(out, x0, row, n, s.format, values);
            std::memcpy(mask.PixelAt(x0, row), cover, static_cast<size_t>(n));
        }
    }
}

}  // namespace

void ImgOverlapTransformGray8Rows(void* job, uint64_t first, uint64_t count) {
    OverlapRows<uint8_t, 1>(*static_cast<const OverlapTransformJob*>(job), first, count);
}
void ImgOverlapTransformGray16Rows(void* job, uint64_t first, uint64_t count) {
    OverlapRows<uint16_t, 1>(*static_cast<const OverlapTransformJob*>(job), first, count);
}
void ImgOverlapTransformGray32Rows(void* job, uint64_t first, uint64_t count) {
    OverlapRows<uint32_t, 1>(*static_cast<const OverlapTransformJob*>(job), first, count);
}
void ImgOverlapTransformRgb8Rows(void* job, uint64_t first, uint64_t count) {
    OverlapRows<uint8_t, 3>(*static_cast<const OverlapTransformJob*>(job), first, count);
}
void ImgOverlapTransformRgb16Rows(void* job, uint64_t first, uint64_t count) {
    OverlapRows<uint16_t, 3>(*static_cast<const OverlapTransformJob*>(job), first, count);
}
void ImgOverlapTransformRgb32Rows(void* job, uint64_t first, uint64_t count) {
    OverlapRows<uint32_t, 3>(*static_cast<const OverlapTransformJob*>(job), first, count);
}

namespace {

// Away from zero: a positive non-integer up, a negative one down.
double RoundAway(double v) { return v > 0.0 ? std::ceil(v) : std::floor(v); }

}  // namespace

bool ImgOverlapBounds(const OverlapGeometry& g, int32_t width, int32_t height, int32_t* minX, int32_t* minY, int32_t* maxX,
                      int32_t* maxY) {
    const double px[4] = {0.0, width - 1.0, 0.0, width - 1.0}, py[4] = {0.0, 0.0, height - 1.0, height - 1.0};
    double lx = 0, hx = 0, ly = 0, hy = 0;
    for (int i = 0; i < 4; ++i) {
        const double ex = px[i] - g.cx, ey = py[i] - g.cy;
        const double X = (ex * g.cosA - ey * g.sinA) * g.s + g.cx + g.dx;
        const double Y = (ex * g.sinA + ey * g.cosA) * g.s + g.cy + g.dy;
        if (i == 0 || X < lx) lx = X;
        if (i == 0 || X > hx) hx = X;
        if (i == 0 || Y < ly) ly = Y;
        if (i == 0 || Y > hy) hy = Y;
    }
    lx = RoundAway(lx);
    hx = RoundAway(hx);
    ly = RoundAway(ly);
    hy = RoundAway(hy);
    // The box and its size must stay within 32-bit coordinates; NaN fails.
    constexpr double kLimit = 1073741823.0;
    for (double v : {lx, hx, ly, hy})
        if (!(v >= -kLimit && v <= kLimit)) return false;
    *minX = static_cast<int32_t>(lx);
    *maxX = static_cast<int32_t>(hx);
    *minY = static_cast<int32_t>(ly);
    *maxY = static_cast<int32_t>(hy);
    return *minX < *maxX && *minY < *maxY;
}

int32_t ImgOverlapTransform(const CImgBuff* source, double dx, double dy, double angle, double scale, CImgBuff* output, CImgBuff* mask,
                            int32_t* outX0, int32_t* outY0) {
    if (!source || !source->buffer || !ImgFormatValid(source->buffer->format) || !source->buffer->pixels) return 0;
    if (!output || !output->buffer || !mask || !mask->buffer || output->buffer == mask->buffer) return 0;
    const C_ImgBuff& src = *source->buffer;
    double a, na;
    if (!ImgWrapDegrees(angle, &a) || !ImgWrapDegrees(-angle, &na)) return 0;
    if (!std::isfinite(scale) || !std::isfinite(dx) || !std::isfinite(dy)) return 0;
    a = a * 3.141592653589793 / 180.0;
    na = na * 3.141592653589793 / 180.0;
    OverlapGeometry g{(src.width - 1) * 0.5, (src.height - 1) * 0.5, dx, dy, std::sin(a), std::cos(a), scale,
                      std::sin(na),          std::cos(na),           1.0 / scale};
    int32_t minX, minY, maxX, maxY;
    if (!ImgOverlapBounds(g, src.width, src.height, &minX, &minY, &maxX, &maxY)) return 0;
    const int32_t w = maxX - minX + 1, h = maxY - minY + 1;

    // The source is read where it lies, in its accessor's rendering (CMYK,
    // HSV and XYZ through a converted copy). An output or mask that is the
    // source itself is made aside and takes the pixels at the end.
    const int32_t work = ImgResampleFormat(src.format);
    ImgWorkPlane plane;
    if (!ImgViewWorkPlane(src, work, &plane)) return 0;
    const bool outAside = output->buffer == source->buffer, maskAside = mask->buffer == source->buffer;
    CImgBuff outTemp, maskTemp;
    CImgBuff* out = outAside ? &outTemp : output;
    CImgBuff* msk = maskAside ? &maskTemp : mask;
    if (!out->buffer || !msk->buffer || !out->buffer->Create(w, h, src.format)) return 0;
    if (!msk->buffer->Create(w, h, kImgGray8)) {
        out->FreePixels();
        return 0;
    }
    if (outX0) *outX0 = minX;
    if (outY0) *outY0 = minY;
    OverlapTransformJob job{source, out, msk, g, minX, minY, w, h, &plane};
    static constexpr PoolWorkerFn kWorkers[7] = {nullptr,
                                                 ImgOverlapTransformGray8Rows,
                                                 ImgOverlapTransformGray16Rows,
                                                 ImgOverlapTransformGray32Rows,
                                                 ImgOverlapTransformRgb8Rows,
                                                 ImgOverlapTransformRgb16Rows,
                                                 ImgOverlapTransformRgb32Rows};
    PoolParallelFor(kWorkers[work], &job, static_cast<uint64_t>(h));
    if (outAside) output->buffer->TakePixels(outTemp.buffer);
    if (maskAside) mask->buffer->TakePixels(maskTemp.buffer);
    return 1;
}
