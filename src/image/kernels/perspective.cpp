#include "image/kernels/perspective.h"

#include <algorithm>
#include <cstring>
#include <cmath>

#include "image/kernels/kernel_frame.h"
#include "image/kernels/resample_simd.h"
#include "image/kernels/rotate_scale.h"
#include "image/pool.h"

int32_t ImgCameraMatrixFromSensor(CameraMatrix* out, double focalMm, uint32_t width, uint32_t height, double pixelWidthUm,
                                  double pixelHeightUm) {
    if (!out || !(focalMm > 0.0) || width == 0 || height == 0 || !(pixelWidthUm > 0.0) || !(pixelHeightUm > 0.0)) return 0;
    out->fx = focalMm / (pixelWidthUm / 1000.0);
    out->fy = focalMm / (pixelHeightUm / 1000.0);
    out->cx = width * 0.5;
    out->cy = height * 0.5;
    return 1;
}

int32_t ImgAngleSinCos(double* out, double degrees) {
    double d;
    if (!out || !ImgWrapDegrees(degrees, &d)) return 0;
    const double r = d / 180.0 * 3.141592653589793, rn = -r;
    out[0] = std::sin(r);
    out[1] = std::cos(r);
    out[2] = std::sin(rn);
    out[3] = std::cos(rn);
    return 1;
}

int32_t ImgPerspectiveProject(const PerspectivePlane* plane, const PerspectiveEye* eye, double x, double y, double* u, double* v,
                              double* depth, const double* roll) {
    const PerspectivePlane& p = *plane;
    const PerspectiveEye& e = *eye;
    const double rx = x - e.x, ry = y - e.y, rz = 0.0 - e.z;
    const double denominator = p.nx * rx + p.ny * ry + p.nz * rz;
    if (denominator == 0.0) return 0;
    const double s = -(p.nx * e.x + p.ny * e.y + p.nz * e.z + p.d) / denominator;
    const double px = e.x + s * rx, py = e.y + s * ry, pz = e.z + s * rz;
    // Undo pan, then tilt.
    const double a = p.pan[1] * px + p.pan[0] * pz;
    const double b = -p.pan[0] * px + p.pan[1] * pz;
    const double c = p.tilt[1] * py + p.tilt[0] * b;
    if (depth) *depth = p.tilt[1] * b - p.tilt[0] * py;
    *u = a * roll[1] - c * roll[0];
    *v = a * roll[0] + c * roll[1];
    return 1;
}

namespace {

// The plane's z at image point (x, y).
double PlaneZ(const PerspectivePlane& p, double x, double y) { return -(p.nx * x + p.ny * y + p.d) / p.nz; }

}  // namespace

int32_t ImgPerspectivePlaneInFront(int32_t width, int32_t height, const PerspectivePlane* plane) {
    const double w = width, h = height;
    return PlaneZ(*plane, w, 0.0) >= 0.0 && PlaneZ(*plane, 0.0, h) >= 0.0 && PlaneZ(*plane, w, h) >= 0.0 ? 1 : 0;
}

namespace {

// Source position of output pixel (X, Y): the inverse of the forward map.
inline void SourcePosition(const PerspectiveJob& job, int32_t X, int32_t Y, double* x, double* y) {
    const PerspectivePlane& p = *job.plane;
    const PerspectiveEye& e = *job.eye;
    const double* r = job.roll;
    const double u = job.umin + X * job.du, v = job.vmin + Y * job.dv;
    const double a = u * r[1] + v * r[0];
    const double c = -u * r[0] + v * r[1];
    const double py = c * p.tilt[1] - p.depth * p.tilt[0];
    const double b = c * p.tilt[0] + p.depth * p.tilt[1];
    const double px = a * p.pan[1] - b * p.pan[0];
    const double pz = a * p.pan[0] + b * p.pan[1];
    const double s = -e.z / (pz - e.z);
    *x = (px - e.x) * s + e.x;
    *y = (py - e.y) * s + e.y;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// Eight output pixels of row Y from X0: the inverse map and the tenth-pixel
// sampler with the scalar path's arithmetic. The sampler's integer steps
// are done on whole numbers held in doubles, where they are exact: the
// tenth positions (trunc(t x 0.1) is t / 10 for whole t well below 2^40, as
// 0.1 rounds up), the weighted sums, and their truncated division by 100. One weighted
// sum serves every case, as a neighbour weighted 0 adds nothing.
template <class T, int C>
__attribute__((target("avx512f,avx512bw,avx512dq,avx512vl"))) void PerspectiveGroup8(const PerspectiveJob& job, const ImgWorkPlane& s,
                                                                                    int32_t X0, double v, T* out) {
    const PerspectivePlane& p = *job.plane;
    const PerspectiveEye& e = *job.eye;
    const double* r = job.roll;
    const __m512d X = _mm512_add_pd(_mm512_set1_pd(X0), _mm512_set_pd(7, 6, 5, 4, 3, 2, 1, 0));
    const __m512d u = _mm512_add_pd(_mm512_set1_pd(job.umin), _mm512_mul_pd(X, _mm512_set1_pd(job.du)));
    const __m512d a = _mm512_add_pd(_mm512_mul_pd(u, _mm512_set1_pd(r[1])), _mm512_set1_pd(v * r[0]));
    const __m512d c = _mm512_add_pd(_mm512_mul_pd(_mm512_xor_pd(u, _mm512_set1_pd(-0.0)), _mm512_set1_pd(r[0])), _mm512_set1_pd(v * r[1]));
    const __m512d py = _mm512_sub_pd(_mm512_mul_pd(c, _mm512_set1_pd(p.tilt[1])), _mm512_set1_pd(p.depth * p.tilt[0]));
    const __m512d b = _mm512_add_pd(_mm512_mul_pd(c, _mm512_set1_pd(p.tilt[0])), _mm512_set1_pd(p.depth * p.tilt[1]));
    const __m512d px = _mm512_sub_pd(_mm512_mul_pd(a, _mm512_set1_pd(p.pan[1])), _mm512_mul_pd(b, _mm512_set1_pd(p.pan[0])));
    const __m512d pz = _mm512_add_pd(_mm512_mul_pd(a, _mm512_set1_pd(p.pan[0])), _mm512_mul_pd(b, _mm512_set1_pd(p.pan[1])));
    const __m512d ez = _mm512_set1_pd(e.z);
    const __m512d sc = _mm512_div_pd(_mm512_set1_pd(-e.z), _mm512_sub_pd(pz, ez));
    const __m512d x = _mm512_add_pd(_mm512_mul_pd(_mm512_sub_pd(px, _mm512_set1_pd(e.x)), sc), _mm512_set1_pd(e.x));
    const __m512d y = _mm512_add_pd(_mm512_mul_pd(_mm512_sub_pd(py, _mm512_set1_pd(e.y)), sc), _mm512_set1_pd(e.y));
    const __m512d minus1 = _mm512_set1_pd(-1.0);
    const __mmask8 inside = _mm512_cmp_pd_mask(x, minus1, _CMP_GT_OQ) & _mm512_cmp_pd_mask(x, _mm512_set1_pd(job.width), _CMP_LT_OQ) &
                            _mm512_cmp_pd_mask(y, minus1, _CMP_GT_OQ) & _mm512_cmp_pd_mask(y, _mm512_set1_pd(job.height), _CMP_LT_OQ);
    const double fillValue = job.fill;
    __m512d res[C];
    if (inside == 0) {
        for (int ch = 0; ch < C; ++ch) res[ch] = _mm512_set1_pd(fillValue);
        ImgStoreResults8<T, C>(out, res);
        return;
    }
    const __m512d zero = _mm512_setzero_pd(), ten = _mm512_set1_pd(10.0);
    // Positions of the lanes outside are set to 0 so that every step below
    // stays defined; their results are replaced by the fill.
    const __m512d xs = _mm512_mask_blend_pd(inside, zero, x), ys = _mm512_mask_blend_pd(inside, zero, y);
    const __m512d tx = _mm512_roundscale_pd(_mm512_mul_pd(xs, ten), _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    const __m512d ty = _mm512_roundscale_pd(_mm512_mul_pd(ys, ten), _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    const __m512d tenth = _mm512_set1_pd(0.1);
    const __m512d ixd = _mm512_roundscale_pd(_mm512_mul_pd(tx, tenth), _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    const __m512d iyd = _mm512_roundscale_pd(_mm512_mul_pd(ty, tenth), _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    const __m512d fx = _mm512_sub_pd(tx, _mm512_mul_pd(ixd, ten)), fy = _mm512_sub_pd(ty, _mm512_mul_pd(iyd, ten));
    const __m256i ix = _mm512_cvttpd_epi32(ixd), iy = _mm512_cvttpd_epi32(iyd);
    const __mmask8 right = inside & _mm512_cmp_pd_mask(ixd, _mm512_set1_pd(job.width - 1), _CMP_LT_OQ);
    const __mmask8 below = inside & _mm512_cmp_pd_mask(iyd, _mm512_set1_pd(job.height - 1), _CMP_LT_OQ);
    Neighbours8<T, C> n;
    ImgGatherNeighboursMasked8<T, C>(s.pixels, s.stride, ix, iy, inside, below, &n);
    const __m512d fill = _mm512_set1_pd(fillValue);
    const __m512d gx = _mm512_sub_pd(ten, fx), gy = _mm512_sub_pd(ten, fy);
    // 0.01 rounds up as 0.1 does: trunc(t x 0.01) is t / 100 for whole t.
    const __m512d hundredth = _mm512_set1_pd(0.01), maxv = _mm512_set1_pd(ImgChannelMax<T>());
    for (int ch = 0; ch < C; ++ch) {
        __m512d p00, p10, p01, p11;
        ImgNeighbourChannel8<T, C>(n, ch, &p00, &p10, &p01, &p11);
        p10 = _mm512_mask_blend_pd(right, fill, p10);
        p01 = _mm512_mask_blend_pd(below, fill, p01);
        p11 = _mm512_mask_blend_pd(right & below, fill, p11);
        const __m512d top = _mm512_add_pd(_mm512_mul_pd(gx, p00), _mm512_mul_pd(fx, p10));
        const __m512d bottom = _mm512_add_pd(_mm512_mul_pd(gx, p01), _mm512_mul_pd(fx, p11));
        const __m512d sum = _mm512_add_pd(_mm512_mul_pd(gy, top), _mm512_mul_pd(fy, bottom));
        const __m512d q = _mm512_roundscale_pd(_mm512_mul_pd(sum, hundredth), _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
        res[ch] = _mm512_mask_blend_pd(inside, fill, _mm512_min_pd(_mm512_max_pd(q, zero), maxv));
    }
    ImgStoreResults8<T, C>(out, res);
}

#pragma GCC diagnostic pop

template <class T, int C>
void PerspectiveRows(const PerspectiveJob& job, uint64_t first, uint64_t count) {
    const ImgWorkPlane& s = *job.scratch;
    C_ImgBuff& img = *job.image->buffer;
    const int32_t w = job.width, h = job.height;
    const double wd = w, hd = h;
    const int32_t fill = job.fill;
    const bool vectors = ImgResampleVectorOk();
    constexpr int32_t kChunk = kImgSpanPixels;
    T out[kChunk * C];
    const auto at = [&](int32_t x, int32_t y, int c) -> int32_t {
        return reinterpret_cast<const T*>(s.pixels + s.stride * static_cast<uint64_t>(y))[static_cast<int64_t>(x) * C + c];
    };
    for (uint64_t i = first; i < first + count; ++i) {
        const int32_t Y = static_cast<int32_t>(i);
        const double v = job.vmin + Y * job.dv;
        for (int32_t x0 = 0; x0 < w; x0 += kChunk) {
            const int32_t n = std::min(kChunk, w - x0);
            const bool direct = img.format == s.format;
            T* dst = direct ? reinterpret_cast<T*>(img.PixelAt(x0, Y)) : out;
            int32_t k = 0;
            if (vectors)
                for (; k + 8 <= n; k += 8) PerspectiveGroup8<T, C>(job, s, x0 + k, v, dst + k * C);
            for (; k < n; ++k) {
                T* o = dst + k * C;
                double x, y;
                SourcePosition(job, x0 + k, Y, &x, &y);
                // Inside when the truncated position lies in the image; NaN
                // and far positions are outside.
                if (!(x > -1.0 && x < wd && y > -1.0 && y < hd)) {
                    for (int c = 0; c < C; ++c) o[c] = static_cast<T>(fill);
                    continue;
                }
                const int64_t X10 = static_cast<int64_t>(x * 10.0), Y10 = static_cast<int64_t>(y * 10.0);
                const int32_t ix = static_cast<int32_t>(X10 / 10), fx = static_cast<int32_t>(X10 % 10);
                const int32_t iy = static_cast<int32_t>(Y10 / 10), fy = static_cast<int32_t>(Y10 % 10);
                const bool right = ix + 1 < w, below = iy + 1 < h;
                for (int c = 0; c < C; ++c) {
                    const int32_t p00 = at(ix, iy, c);
                    int32_t r;
                    if (fx == 0 && fy == 0) {
                        r = p00;
                    } else if (fy == 0) {
                        const int32_t p10 = right ? at(ix + 1, iy, c) : fill;
                        r = ((10 - fx) * p00 + fx * p10) / 10;
                    } else if (fx == 0) {
                        const int32_t p01 = below ? at(ix, iy + 1, c) : fill;
                        r = ((10 - fy) * p00 + fy * p01) / 10;
                    } else {
                        const int32_t p10 = right ? at(ix + 1, iy, c) : fill;
                        const int32_t p01 = below ? at(ix, iy + 1, c) : fill;
                        const int32_t p11 = right && below ? at(ix + 1, iy + 1, c) : fill;
                        r = ((10 - fy) * ((10 - fx) * p00 + fx * p10) + fy * ((10 - fx) * p01 + fx * p11)) / 100;
                    }
                    // Positions in (-1, 0) extrapolate: clamped before storing.
                    o[c] = static_cast<T>(std::clamp<int32_t>(r, 0, static_cast<int32_t>(ImgChannelMax<T>())));
                }
            }
            if (!direct) ImgStoreWorkRow(img, x0, Y, n, s.format, out);
        }
    }
}

}  // namespace

void ImgPerspectiveGray8Rows(void* job, uint64_t first, uint64_t count) {
    PerspectiveRows<uint8_t, 1>(*static_cast<const PerspectiveJob*>(job), first, count);
}
void ImgPerspectiveGray16Rows(void* job, uint64_t first, uint64_t count) {
    PerspectiveRows<uint16_t, 1>(*static_cast<const PerspectiveJob*>(job), first, count);
}
void ImgPerspectiveRgb8Rows(void* job, uint64_t first, uint64_t count) {
    PerspectiveRows<uint8_t, 3>(*static_cast<const PerspectiveJob*>(job), first, count);
}
void ImgPerspectiveRgb16Rows(void* job, uint64_t first, uint64_t count) {
    PerspectiveRows<uint16_t, 3>(*static_cast<const PerspectiveJob*>(job), first, count);
}

int32_t ImgPerspectiveTransform(CImgBuff* image, const CameraMatrix* camera, const double* angles, double zoom, uint32_t white) {
    if (!image || !image->buffer || !ImgFormatValid(image->buffer->format) || !image->buffer->pixels || !camera || !angles) return 0;
    C_ImgBuff& b = *image->buffer;
    const int32_t fill = white == 0 ? 0 : ImgFormatIn(ImgFormat8BitMask, b.format) ? 255 : 65535;
    const double pan = angles[0], tilt = angles[1];
    if (!(pan > -90.0 && pan < 90.0) || !(tilt > -90.0 && tilt < 90.0) || !(zoom > 0.0) || !std::isfinite(zoom)) return 0;
    PerspectivePlane plane{};
    double roll[4];
    if (!ImgAngleSinCos(roll, angles[2]) || !ImgAngleSinCos(plane.pan, pan) || !ImgAngleSinCos(plane.tilt, tilt)) return 0;
    const PerspectiveEye eye{camera->cx, camera->cy, -((camera->fx + camera->fy) / 2.0)};
    plane.nx = plane.pan[0] * plane.tilt[1];
    plane.ny = plane.tilt[0];
    plane.nz = -plane.pan[1] * plane.tilt[1];
    const double w = b.width, h = b.height;

    // The plane through the first anchor that puts it in front of the image
    // at all four corners; (0, 0) when none does.
    const double anchors[4][2] = {{0.0, 0.0}, {w, 0.0}, {w, h}, {0.0, h}};
    plane.d = -(plane.nx * 0.0 + plane.ny * 0.0 + plane.nz * 1.0);
    for (const auto& an : anchors) {
        PerspectivePlane trial = plane;
        trial.d = -(plane.nx * an[0] + plane.ny * an[1] + plane.nz * 1.0);
        if (PlaneZ(trial, 0.0, 0.0) >= 0.0 && ImgPerspectivePlaneInFront(b.width, b.height, &trial)) {
            plane.d = trial.d;
            break;
        }
    }
    const double noRoll[4] = {0.0, 1.0, 0.0, 1.0};
    double u0, v0;
    if (!ImgPerspectiveProject(&plane, &eye, 0.0, 0.0, &u0, &v0, &plane.depth, noRoll)) return 0;

    // The window of plane coordinates that the corners span, fitted to the
    // image's aspect and zoomed about its centre.
    const double corners[4][2] = {{0.0, 0.0}, {w, 0.0}, {0.0, h}, {w, h}};
    double umin = 0, umax = 0, vmin = 0, vmax = 0;
    for (int i = 0; i < 4; ++i) {
        double u, v;
        if (!ImgPerspectiveProject(&plane, &eye, corners[i][0], corners[i][1], &u, &v, nullptr, roll)) return 0;
        umin = i == 0 ? u : std::min(umin, u);
        umax = i == 0 ? u : std::max(umax, u);
        vmin = i == 0 ? v : std::min(vmin, v);
        vmax = i == 0 ? v : std::max(vmax, v);
    }
    const double rw = umax - umin, rh = vmax - vmin, ar = w / h;
    if (ar > rw / rh) {
        const double grow = (rh * ar - rw) / 2.0;
        umin -= grow;
        umax += grow;
    } else if (rw / rh > ar) {
        const double grow = (rw / ar - rh) / 2.0;
        vmin -= grow;
        vmax += grow;
    }
    if (zoom != 1.0) {
        const double uc = (umin + umax) * 0.5, vc = (vmin + vmax) * 0.5;
        umin = (umin - uc) / zoom + uc;
        umax = (umax - uc) / zoom + uc;
        vmin = (vmin - vc) / zoom + vc;
        vmax = (vmax - vc) / zoom + vc;
    }
    const double du = (umax - umin) / w, dv = (vmax - vmin) / h;
    // A camera that gives no sound window (a degenerate or non-finite one)
    // is refused.
    if (!std::isfinite(umin) || !std::isfinite(vmin) || !std::isfinite(du) || !std::isfinite(dv) || !(rw > 0.0) || !(rh > 0.0)) return 0;

    const int32_t work = b.format == kImgGray8 ? kImgGray8 : b.format <= kImgGray32 ? kImgGray16 : ImgFormatIn(ImgFormat8BitMask, b.format) ? kImgRgb8 : kImgRgb16;
    ImgWorkPlane scratch;
    if (!ImgMakeWorkPlane(b, work, &scratch)) return 0;
    PerspectiveJob job{image, &scratch, 0, 0, b.width - 1, b.height - 1, &eye, &plane, roll, umin, vmin, du, dv, b.width, b.height, fill};
    const PoolWorkerFn worker = work == kImgGray8    ? ImgPerspectiveGray8Rows
                                : work == kImgGray16 ? ImgPerspectiveGray16Rows
                                : work == kImgRgb8   ? ImgPerspectiveRgb8Rows
                                                     : ImgPerspectiveRgb16Rows;
    PoolParallelFor(worker, &job, static_cast<uint64_t>(b.height));
    return 1;
}
