#include "image/kernels/rotate_scale.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <new>

#include "image/kernels/kernel_frame.h"
#include "image/kernels/resample_simd.h"
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

std::atomic<bool> g_resampleVectors{true};

}  // namespace

bool ImgResampleVectorOk() {
    static const bool have = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                             __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl");
    return have && g_resampleVectors.load(std::memory_order_relaxed);
}

void ImgResampleUseVectorsForTesting(bool on) { g_resampleVectors.store(on); }

namespace {

// Positions beyond this lie far outside any image: their pixels take the
// outside value without integer steps.
constexpr double kFar = 1e9;

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// Eight output pixels of a row from dx = X - ox (the first of them): false,
// with nothing written, unless all their neighbours lie inside the plane
// (and its lower rows are not the plane's last when it has no spare bytes).
// The arithmetic is the scalar path's, operation by operation.
template <class T, int C>
__attribute__((target("avx512f,avx512bw,avx512dq,avx512vl"))) bool RotateGroup8(const RotateScaleJob& job, const ImgWorkPlane& s,
                                                                               double dx0, double dys, double dyc, double outside,
                                                                               T* out) {
    const __m512d dx = _mm512_add_pd(_mm512_set1_pd(dx0), _mm512_set_pd(7, 6, 5, 4, 3, 2, 1, 0));
    const __m512d u = _mm512_add_pd(
        _mm512_mul_pd(_mm512_sub_pd(_mm512_mul_pd(dx, _mm512_set1_pd(job.cosT)), _mm512_set1_pd(dys)), _mm512_set1_pd(job.invScale)),
        _mm512_set1_pd(job.cx));
    const __m512d v = _mm512_add_pd(
        _mm512_mul_pd(_mm512_add_pd(_mm512_mul_pd(dx, _mm512_set1_pd(job.sinT)), _mm512_set1_pd(dyc)), _mm512_set1_pd(job.invScale)),
        _mm512_set1_pd(job.cy));
    const __m512d far = _mm512_set1_pd(kFar);
    const __mmask8 near = _mm512_cmp_pd_mask(_mm512_abs_pd(u), far, _CMP_LT_OQ) & _mm512_cmp_pd_mask(_mm512_abs_pd(v), far, _CMP_LT_OQ);
    if (near != 0xFF) return false;
    const __m256i ix = _mm512_cvttpd_epi32(u), iy = _mm512_cvttpd_epi32(v);
    const int32_t lastRow = s.block ? s.height - 1 : s.height - 2;
    const __m256i inside = _mm256_and_si256(
        _mm256_and_si256(_mm256_cmpgt_epi32(ix, _mm256_set1_epi32(-1)), _mm256_cmpgt_epi32(_mm256_set1_epi32(s.width - 1), ix)),
        _mm256_and_si256(_mm256_cmpgt_epi32(iy, _mm256_set1_epi32(-1)), _mm256_cmpgt_epi32(_mm256_set1_epi32(lastRow), iy)));
    const __m512d fx = _mm512_sub_pd(u, _mm512_cvtepi32_pd(ix)), fy = _mm512_sub_pd(v, _mm512_cvtepi32_pd(iy));
    const __m512d one = _mm512_set1_pd(1.0);
    const __m512d gx = _mm512_sub_pd(one, fx), gy = _mm512_sub_pd(one, fy);
    Neighbours8<T, C> n;
    if (_mm256_movemask_epi8(inside) == -1) {
        ImgGatherNeighbours8<T, C>(s.pixels, s.stride, ix, iy, &n);
    } else {
        // No neighbour of any of the eight inside: all four are the outside
        // value, blended as the scalar path blends them.
        const __m256i off = _mm256_or_si256(
            _mm256_or_si256(_mm256_cmpgt_epi32(_mm256_set1_epi32(-1), ix), _mm256_cmpgt_epi32(ix, _mm256_set1_epi32(s.width - 1))),
            _mm256_or_si256(_mm256_cmpgt_epi32(_mm256_set1_epi32(-1), iy), _mm256_cmpgt_epi32(iy, _mm256_set1_epi32(s.height - 1))));
        if (_mm256_movemask_epi8(off) != -1) return false;
        const __m512d o = _mm512_set1_pd(outside);
        const __m512d r = _mm512_add_pd(_mm512_mul_pd(_mm512_add_pd(_mm512_mul_pd(o, gx), _mm512_mul_pd(o, fx)), gy),
                                        _mm512_mul_pd(_mm512_add_pd(_mm512_mul_pd(o, gx), _mm512_mul_pd(o, fx)), fy));
        const __m512d rs[3] = {r, r, r};
        ImgStoreResults8<T, C>(out, rs);
        return true;
    }
    __m512d r[C];
    for (int c = 0; c < C; ++c) {
        __m512d p00, p10, p01, p11;
        ImgNeighbourChannel8<T, C>(n, c, &p00, &p10, &p01, &p11);
        r[c] = _mm512_add_pd(_mm512_mul_pd(_mm512_add_pd(_mm512_mul_pd(p00, gx), _mm512_mul_pd(p10, fx)), gy),
                             _mm512_mul_pd(_mm512_add_pd(_mm512_mul_pd(p01, gx), _mm512_mul_pd(p11, fx)), fy));
    }
    ImgStoreResults8<T, C>(out, r);
    return true;
}

#pragma GCC diagnostic pop

// One output pixel from its source position (u, v).
template <class T, int C>
void RotatePixel(const ImgWorkPlane& s, double u, double v, double outside, T* o) {
    const int64_t w = s.width, h = s.height;
    if (!(u > -kFar && u < kFar && v > -kFar && v < kFar)) {
        for (int c = 0; c < C; ++c) o[c] = ImgStoreSample<T>(outside);
        return;
    }
    const int64_t ix = static_cast<int64_t>(u), iy = static_cast<int64_t>(v);
    const double fx = u - static_cast<double>(ix), fy = v - static_cast<double>(iy);
    const double gx = 1.0 - fx, gy = 1.0 - fy;
    if (ix >= 0 && ix + 1 < w && iy >= 0 && iy + 1 < h) {
        const T* p0 = reinterpret_cast<const T*>(s.pixels + s.stride * static_cast<uint64_t>(iy)) + ix * C;
        const T* p1 = reinterpret_cast<const T*>(reinterpret_cast<const uint8_t*>(p0) + s.stride);
        for (int c = 0; c < C; ++c) {
            const double r = (static_cast<double>(p0[c]) * gx + static_cast<double>(p0[C + c]) * fx) * gy +
                             (static_cast<double>(p1[c]) * gx + static_cast<double>(p1[C + c]) * fx) * fy;
            o[c] = ImgStoreSample<T>(r);
        }
        return;
    }
    const T* p[4];
    const int64_t nx[4] = {ix, ix + 1, ix, ix + 1}, ny[4] = {iy, iy, iy + 1, iy + 1};
    for (int q = 0; q < 4; ++q)
        p[q] = nx[q] >= 0 && nx[q] < w && ny[q] >= 0 && ny[q] < h
                   ? reinterpret_cast<const T*>(s.pixels + s.stride * static_cast<uint64_t>(ny[q])) + nx[q] * C
                   : nullptr;
    for (int c = 0; c < C; ++c) {
        double v4[4];
        for (int q = 0; q < 4; ++q) v4[q] = p[q] ? static_cast<double>(p[q][c]) : outside;
        const double r = (v4[0] * gx + v4[1] * fx) * gy + (v4[2] * gx + v4[3] * fx) * fy;
        o[c] = ImgStoreSample<T>(r);
    }
}

template <class T, int C>
void RotateRows(const RotateScaleJob& job, uint64_t first, uint64_t count) {
    const ImgWorkPlane& s = *job.scratch;
    C_ImgBuff& img = *job.image->buffer;
    const int32_t w = img.width;
    const double sinT = job.sinT, cosT = job.cosT, inv = job.invScale;
    const double cx = job.cx, cy = job.cy;
    const int32_t ox = job.ox, oy = job.oy;
    const bool mirror = job.mirror != 0;
    const bool vectors = ImgResampleVectorOk();
    const double outside = job.whiteOutside > 0 ? ImgChannelMax<T>() : 0.0;
    constexpr int32_t kChunk = kImgSpanPixels;
    T out[kChunk * C + 8 * C];
    for (uint64_t i = first; i < first + count; ++i) {
        const int32_t y = static_cast<int32_t>(i);
        const double dy = static_cast<double>(y - oy);
        const double dys = dy * sinT, dyc = dy * cosT;
        for (int32_t x0 = 0; x0 < w; x0 += kChunk) {
            const int32_t n = std::min(kChunk, w - x0);
            // Straight into the image where it is stored as rendered.
            const bool direct = !mirror && img.format == s.format;
            T* dst = direct ? reinterpret_cast<T*>(img.PixelAt(x0, y)) : out;
            // Groups of eight where all their neighbours lie inside, pixel by
            // pixel elsewhere.
            for (int32_t k = 0; k < n;) {
                if (vectors && k + 8 <= n && RotateGroup8<T, C>(job, s, static_cast<double>(x0 + k - ox), dys, dyc, outside, dst + k * C)) {
                    k += 8;
                    continue;
                }
                for (const int32_t end = std::min(n, k + 8); k < end; ++k) {
                    const double dx = static_cast<double>(x0 + k - ox);
                    RotatePixel<T, C>(s, (dx * cosT - dys) * inv + cx, (dx * sinT + dyc) * inv + cy, outside, dst + k * C);
                }
            }
            if (direct) continue;
            if (mirror)
                for (int32_t a = 0, b = n - 1; a < b; ++a, --b)
                    for (int c = 0; c < C; ++c) std::swap(out[a * C + c], out[b * C + c]);
            ImgStoreWorkRow(img, mirror ? w - x0 - n : x0, y, n, s.format, out);
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
