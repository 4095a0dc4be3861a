#include "image/kernels/overlap_transform.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "image/kernels/kernel_frame.h"
#include "image/kernels/resample_simd.h"
#include "image/kernels/rotate_scale.h"
#include "image/pool.h"

namespace {

// Positions beyond this lie far outside any image: no neighbour inside.
constexpr double kFar = 1e9;

// One output pixel from its source position (u, v): its value and its
// coverage.
template <class T, int C>
void OverlapPixel(const ImgWorkPlane& s, double u, double v, T* o, uint8_t* cover) {
    const int64_t w = s.width, h = s.height;
    if (!(u > -kFar && u < kFar && v > -kFar && v < kFar)) {
        for (int c = 0; c < C; ++c) o[c] = 0;
        *cover = 0;
        return;
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
    *cover = ImgClampToU8(W * 255.0);
    if (W == 0.0) {
        for (int c = 0; c < C; ++c) o[c] = 0;
        return;
    }
    const double inv = 1.0 / W;
    const T* r0 = reinterpret_cast<const T*>(s.pixels + s.stride * static_cast<uint64_t>(inY0 ? iy : 0));
    const T* r1 = reinterpret_cast<const T*>(s.pixels + s.stride * static_cast<uint64_t>(inY1 ? iy + 1 : 0));
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

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// Eight output pixels of a row from ex = X - dx - cx (the first of them):
// false, with nothing written, unless all their neighbours lie inside the
// plane (and its lower rows are not the plane's last when it has no spare
// bytes). With every neighbour inside, the weights all count and the sums
// are the scalar path's, operation by operation.
template <class T, int C>
__attribute__((target("avx512f,avx512bw,avx512dq,avx512vl"))) bool OverlapGroup8(const OverlapGeometry& g, const ImgWorkPlane& s,
                                                                                double X0, double ey, T* out, uint8_t* cover) {
    const __m512d X = _mm512_add_pd(_mm512_set1_pd(X0), _mm512_set_pd(7, 6, 5, 4, 3, 2, 1, 0));
    const __m512d ex = _mm512_sub_pd(_mm512_sub_pd(X, _mm512_set1_pd(g.dx)), _mm512_set1_pd(g.cx));
    const __m512d u = _mm512_add_pd(
        _mm512_mul_pd(_mm512_sub_pd(_mm512_mul_pd(ex, _mm512_set1_pd(g.cosNeg)), _mm512_set1_pd(ey * g.sinNeg)), _mm512_set1_pd(g.invS)),
        _mm512_set1_pd(g.cx));
    const __m512d v = _mm512_add_pd(
        _mm512_mul_pd(_mm512_add_pd(_mm512_mul_pd(ex, _mm512_set1_pd(g.sinNeg)), _mm512_set1_pd(ey * g.cosNeg)), _mm512_set1_pd(g.invS)),
        _mm512_set1_pd(g.cy));
    const __m512d far = _mm512_set1_pd(kFar);
    const __mmask8 near = _mm512_cmp_pd_mask(_mm512_abs_pd(u), far, _CMP_LT_OQ) & _mm512_cmp_pd_mask(_mm512_abs_pd(v), far, _CMP_LT_OQ);
    if (near != 0xFF) return false;
    const __m512d fu = _mm512_roundscale_pd(u, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
    const __m512d fv = _mm512_roundscale_pd(v, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
    const __m256i ix = _mm512_cvttpd_epi32(fu), iy = _mm512_cvttpd_epi32(fv);
    const int32_t lastRow = s.block ? s.height - 1 : s.height - 2;
    const __m256i inside = _mm256_and_si256(
        _mm256_and_si256(_mm256_cmpgt_epi32(ix, _mm256_set1_epi32(-1)), _mm256_cmpgt_epi32(_mm256_set1_epi32(s.width - 1), ix)),
        _mm256_and_si256(_mm256_cmpgt_epi32(iy, _mm256_set1_epi32(-1)), _mm256_cmpgt_epi32(_mm256_set1_epi32(lastRow), iy)));
    if (_mm256_movemask_epi8(inside) != -1) {
        // No neighbour of any of the eight inside: weight 0, value 0.
        const __m256i off = _mm256_or_si256(
            _mm256_or_si256(_mm256_cmpgt_epi32(_mm256_set1_epi32(-1), ix), _mm256_cmpgt_epi32(ix, _mm256_set1_epi32(s.width - 1))),
            _mm256_or_si256(_mm256_cmpgt_epi32(_mm256_set1_epi32(-1), iy), _mm256_cmpgt_epi32(iy, _mm256_set1_epi32(s.height - 1))));
        if (_mm256_movemask_epi8(off) != -1) return false;
        std::memset(out, 0, 8 * C * sizeof(T));
        std::memset(cover, 0, 8);
        return true;
    }
    const __m512d fx = _mm512_sub_pd(u, fu), fy = _mm512_sub_pd(v, fv);
    const __m512d one = _mm512_set1_pd(1.0);
    const __m512d gx = _mm512_sub_pd(one, fx), gy = _mm512_sub_pd(one, fy);
    const __m512d w00 = _mm512_mul_pd(gx, gy), w10 = _mm512_mul_pd(fx, gy), w01 = _mm512_mul_pd(gx, fy), w11 = _mm512_mul_pd(fx, fy);
    const __m512d W = _mm512_add_pd(_mm512_add_pd(_mm512_add_pd(w00, w10), w01), w11);
    const __m512d inv = _mm512_div_pd(one, W);
    const __m512d c255 = _mm512_min_pd(_mm512_max_pd(_mm512_mul_pd(W, _mm512_set1_pd(255.0)), _mm512_setzero_pd()), _mm512_set1_pd(255.0));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(cover), _mm256_cvtepi32_epi8(_mm512_cvttpd_epi32(c255)));
    Neighbours8<T, C> n;
    ImgGatherNeighbours8<T, C>(s.pixels, s.stride, ix, iy, &n);
    __m512d r[C];
    for (int c = 0; c < C; ++c) {
        __m512d p00, p10, p01, p11;
        ImgNeighbourChannel8<T, C>(n, c, &p00, &p10, &p01, &p11);
        const __m512d acc = _mm512_add_pd(
            _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(w00, p00), _mm512_mul_pd(w10, p10)), _mm512_mul_pd(w01, p01)), _mm512_mul_pd(w11, p11));
        r[c] = _mm512_mul_pd(acc, inv);
    }
    ImgStoreResults8<T, C>(out, r);
    return true;
}

#pragma GCC diagnostic pop

template <class T, int C>
void OverlapRows(const OverlapTransformJob& job, uint64_t first, uint64_t count) {
    const ImgWorkPlane& s = *job.plane;
    const OverlapGeometry g = job.geometry;
    C_ImgBuff& out = *job.output->buffer;
    C_ImgBuff& mask = *job.mask->buffer;
    const bool vectors = ImgResampleVectorOk();
    constexpr int32_t kChunk = kImgSpanPixels;
    T values[kChunk * C];
    for (uint64_t j = first; j < first + count; ++j) {
        const int32_t row = static_cast<int32_t>(j);
        const double ey = static_cast<double>(job.minY + static_cast<int64_t>(row)) - g.dy - g.cy;
        for (int32_t x0 = 0; x0 < job.width; x0 += kChunk) {
            const int32_t n = std::min(kChunk, job.width - x0);
            // Straight into the output where it is stored as rendered.
            const bool direct = out.format == s.format;
            T* dst = direct ? reinterpret_cast<T*>(out.PixelAt(x0, row)) : values;
            uint8_t* cov = mask.PixelAt(x0, row);
            // Groups of eight where all their neighbours lie inside (or none
            // does), pixel by pixel elsewhere.
            for (int32_t k = 0; k < n;) {
                const double X = static_cast<double>(job.minX + static_cast<int64_t>(x0 + k));
                if (vectors && k + 8 <= n && OverlapGroup8<T, C>(g, s, X, ey, dst + k * C, cov + k)) {
                    k += 8;
                    continue;
                }
                for (const int32_t end = std::min(n, k + 8); k < end; ++k) {
                    const double ex = static_cast<double>(job.minX + static_cast<int64_t>(x0 + k)) - g.dx - g.cx;
                    const double u = (ex * g.cosNeg - ey * g.sinNeg) * g.invS + g.cx;
                    const double v = (ex * g.sinNeg + ey * g.cosNeg) * g.invS + g.cy;
                    OverlapPixel<T, C>(s, u, v, dst + k * C, cov + k);
                }
            }
            if (!direct) ImgStoreWorkRow(out, x0, row, n, s.format, values);
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
