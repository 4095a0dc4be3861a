// Perspective correction.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "image/kernels/perspective.h"
#include "image/kernels/resample_simd.h"
#include "support/kernel_test_util.h"

namespace {

TEST(CameraMatrix, FromSensor) {
    CameraMatrix m{};
    ASSERT_EQ(ImgCameraMatrixFromSensor(&m, 8.0, 640, 480, 5.0, 5.0), 1);
    EXPECT_DOUBLE_EQ(m.fx, 1600.0);
    EXPECT_DOUBLE_EQ(m.fy, 1600.0);
    EXPECT_EQ(m.cx, 320.0);
    EXPECT_EQ(m.cy, 240.0);
    const double nan = std::nan("");
    EXPECT_EQ(ImgCameraMatrixFromSensor(nullptr, 8.0, 640, 480, 5.0, 5.0), 0);
    for (const auto& bad : {std::vector<double>{0, 5, 5}, {-8, 5, 5}, {8, 0, 5}, {8, 5, -1}, {nan, 5, 5}, {8, nan, 5}})
        EXPECT_EQ(ImgCameraMatrixFromSensor(&m, bad[0], 640, 480, bad[1], bad[2]), 0);
    EXPECT_EQ(ImgCameraMatrixFromSensor(&m, 8.0, 0, 480, 5.0, 5.0), 0);
    EXPECT_EQ(ImgCameraMatrixFromSensor(&m, 8.0, 640, 0, 5.0, 5.0), 0);
}

CameraMatrix Camera(int w, int h) { return CameraMatrix{900.0, 880.0, w * 0.5, h * 0.5}; }

int32_t Transform(CImgBuff& img, double pan, double tilt, double roll, double zoom, uint32_t white) {
    const CameraMatrix cam = Camera(img.buffer->width, img.buffer->height);
    const double angles[3] = {pan, tilt, roll};
    return ImgPerspectiveTransform(&img, &cam, angles, zoom, white);
}

TEST(PerspectiveTransform, EdgeCasesInEveryFormat) {
    const int W = 24, H = 16;
    for (int32_t f : ktest::kAllFormats) {
        CImgBuff src;
        ASSERT_TRUE(ktest::MakeNoise(src, W, H, f, 70 + f));
        // Roll 180: output (X, Y) samples (W - X, H - Y); the first column
        // and row come from outside (white here), the pixel at (1, 1) is
        // source pixel (W - 1, H - 1).
        CImgBuff img;
        img.CopyFrom(&src);
        ASSERT_EQ(Transform(img, 0, 0, 180, 1, 1), 1) << ImgFormatName(f);
        for (int y = 0; y < H; ++y) {
            uint8_t g = 0;
            ASSERT_EQ(img.GetPixelGray8(0, y, &g), 1);
            EXPECT_EQ(g, 255) << ImgFormatName(f);
        }
        for (int x = 0; x < W; ++x) {
            uint8_t g = 0;
            ASSERT_EQ(img.GetPixelGray8(x, 0, &g), 1);
            EXPECT_EQ(g, 255) << ImgFormatName(f);
        }
        // Inside, a blend of the 2 x 2 source pixels ending at (W - X, H - Y)
        // (the position lands on or just before a whole pixel).
        for (const auto& p : {std::pair{W / 2, H / 2}, {3, 5}, {W - 1, H - 1}}) {
            uint16_t got[3];
            img.GetPixelRgb16(p.first, p.second, &got[0], &got[1], &got[2]);
            for (int c = 0; c < 3; ++c) {
                int lo = 65535, hi = 0;
                for (int q = 0; q < 4; ++q) {
                    uint16_t v[3];
                    src.GetPixelRgb16(W - p.first - q % 2, H - p.second - q / 2, &v[0], &v[1], &v[2]);
                    lo = std::min<int>(lo, v[c]);
                    hi = std::max<int>(hi, v[c]);
                }
                EXPECT_GE(got[c] + 257, lo) << ImgFormatName(f);
                EXPECT_LE(got[c], hi + 257) << ImgFormatName(f);
            }
        }

        // Refused: the image is unchanged.
        const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
        const double bad[][4] = {{90, 0, 0, 1}, {-90, 0, 0, 1}, {0, 90, 0, 1}, {0, 0, 0, 0}, {nan, 0, 0, 1},
                                 {0, 0, nan, 1}, {0, 0, inf, 1}, {0, 0, 0, inf}, {0, 0, 0, -2}};
        for (const auto& b : bad) {
            CImgBuff same;
            same.CopyFrom(&src);
            EXPECT_EQ(Transform(same, b[0], b[1], b[2], b[3], 0), 0);
            EXPECT_TRUE(ktest::Block(same) == ktest::Block(src));
        }
    }
    CImgBuff empty;
    EXPECT_EQ(Transform(empty, 0, 0, 0, 1, 0), 0);
    CImgBuff img;
    ASSERT_TRUE(ktest::MakeNoise(img, 8, 8, kImgGray8, 3));
    const double angles[3] = {0, 0, 0};
    EXPECT_EQ(ImgPerspectiveTransform(&img, nullptr, angles, 1.0, 0), 0);
    const CameraMatrix cam = Camera(8, 8);
    EXPECT_EQ(ImgPerspectiveTransform(&img, &cam, nullptr, 1.0, 0), 0);
    // A degenerate camera (focal length 0 puts the eye on the image).
    const CameraMatrix flat{0.0, 0.0, 4.0, 4.0};
    EXPECT_EQ(ImgPerspectiveTransform(&img, &flat, angles, 1.0, 0), 0);
}

TEST(PerspectiveTransform, SquareOnZoomAndFill) {
    const int W = 40, H = 30;
    std::vector<uint8_t> ramp(W * H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) ramp[y * W + x] = static_cast<uint8_t>(3 * x + 2 * y);
    // Square on: every pixel samples (about) its own position.
    CImgBuff img;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(img, W, H, kImgGray8, ramp));
    ASSERT_EQ(Transform(img, 0, 0, 0, 1, 0), 1);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) EXPECT_NEAR(*img.buffer->PixelAt(x, y), ramp[y * W + x], 3) << x << "," << y;
    // Zoom 2: the middle half fills the image.
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(img, W, H, kImgGray8, ramp));
    ASSERT_EQ(Transform(img, 0, 0, 0, 2, 0), 1);
    EXPECT_NEAR(*img.buffer->PixelAt(0, 0), ramp[(H / 4) * W + W / 4], 3);
    EXPECT_NEAR(*img.buffer->PixelAt(W - 2, H - 2), ramp[(3 * H / 4 - 1) * W + 3 * W / 4 - 1], 4);
    // Tilted away, a 16-bit image: what comes from outside is 0 or 65535.
    for (uint32_t white : {0u, 1u}) {
        CImgBuff wide;
        ASSERT_TRUE(ktest::MakeNoise(wide, W, H, kImgGray16, 4));
        ASSERT_EQ(Transform(wide, 35, 25, 0, 0.6, white), 1);
        EXPECT_EQ(ktest::Values<uint16_t>(wide)[0], white ? 65535 : 0);
    }
}

// Every output pixel against a numpy replay of the plane, the window, the
// inverse map and the tenth-pixel sampler (python's math.sin and cos are the
// C library's), in the formats the workers read directly and 32-bit grey.
TEST(PerspectiveTransform, MatchesNumpyReplay) {
    struct Case {
        double pan, tilt, roll, zoom;
        uint32_t white;
    } cases[] = {{20, -10, 5, 1.0, 0}, {-35, 15, 0, 1.3, 1}, {0, 0, 180, 1.0, 1}, {10, 30, -72.5, 0.8, 0}, {0, 0, 0, 2.0, 1}, {60, 0, 370, 1, 1}};
    struct Fmt {
        int32_t format;
        const char* dtype;
        int channels;
        int shift;  // the worker reads 32-bit grey at 16 bits
        double maxv;
    } fmts[] = {{kImgGray8, "np.uint8", 1, 0, 255}, {kImgGray16, "np.uint16", 1, 0, 65535}, {kImgGray32, "np.uint32", 1, 16, 65535},
                {kImgRgb8, "np.uint8", 3, 0, 255},  {kImgRgb16, "np.uint16", 3, 0, 65535}};
    const int W = 45, H = 31;
    std::vector<std::string> inputs, results;
    std::string list = "cases = [";
    for (const Fmt& f : fmts)
        for (const Case& c : cases) {
            CImgBuff img, scalar;
            ASSERT_TRUE(ktest::MakeNoise(img, W, H, f.format, 21));
            inputs.push_back(ktest::Block(img));
            scalar.CopyFrom(&img);
            ASSERT_EQ(Transform(img, c.pan, c.tilt, c.roll, c.zoom, c.white), 1);
            results.push_back(ktest::Block(img));
            ImgResampleUseVectorsForTesting(false);
            ASSERT_EQ(Transform(scalar, c.pan, c.tilt, c.roll, c.zoom, c.white), 1);
            ImgResampleUseVectorsForTesting(true);
            EXPECT_TRUE(ktest::Block(scalar) == results.back()) << "scalar path " << ImgFormatName(f.format) << " " << c.pan;
            char line[200];
            std::snprintf(line, sizeof line, "(%s,%d,%d,%.17g,%.17g,%.17g,%.17g,%.17g,%u),", f.dtype, f.channels, f.shift, f.maxv, c.pan, c.tilt,
                          c.roll, c.zoom, c.white);
            list += line;
        }
    const std::string script = list + "]\n" + "W, H = " + std::to_string(W) + ", " + std::to_string(H) + "\n" + R"(
import math
PI = 3.141592653589793
def wrap(d):
    while d > 180: d -= 360
    while d < -180: d += 360
    return d
def sincos(deg):
    r = wrap(deg) / 180.0 * PI
    return math.sin(r), math.cos(r)
fx, fy, cx, cy = 900.0, 880.0, W * 0.5, H * 0.5
def tdiv(a, b):
    q = np.abs(a) // b
    return np.where(a < 0, -q, q)
out = []
for k, (dt, C, shift, mx, pan, tilt, roll, zoom, white) in enumerate(cases):
    src = np.fromfile(sys.argv[1 + k], dt).reshape(H, W, C).astype(np.int64) >> shift
    fill = 0 if not white else (255 if dt == np.uint8 else 65535)
    sr, cr = sincos(roll); sp, cp = sincos(pan); st, ct = sincos(tilt)
    ex, ey, ez = cx, cy, -((fx + fy) / 2.0)
    nx, ny, nz = sp * ct, st, -cp * ct
    def z(d, x, y): return -(nx * x + ny * y + d) / nz
    d = -(nx * 0.0 + ny * 0.0 + nz * 1.0)
    for ax, ay in ((0.0, 0.0), (W, 0.0), (W, H), (0.0, H)):
        t = -(nx * ax + ny * ay + nz * 1.0)
        if z(t, 0.0, 0.0) >= 0 and z(t, W, 0.0) >= 0 and z(t, 0.0, H) >= 0 and z(t, W, H) >= 0:
            d = t
            break
    def project(x, y, rs, rc):
        rx, ry, rz = x - ex, y - ey, 0.0 - ez
        den = nx * rx + ny * ry + nz * rz
        s = -(nx * ex + ny * ey + nz * ez + d) / den
        px, py, pz = ex + s * rx, ey + s * ry, ez + s * rz
        a = cp * px + sp * pz
        b = -sp * px + cp * pz
        c = ct * py + st * b
        depth = ct * b - st * py
        return a * rc - c * rs, a * rs + c * rc, depth
    d0 = project(0.0, 0.0, 0.0, 1.0)[2]
    us, vs = [], []
    for x, y in ((0.0, 0.0), (W, 0.0), (0.0, H), (W, H)):
        u, v, _ = project(x, y, sr, cr)
        us.append(u); vs.append(v)
    umin, umax, vmin, vmax = min(us), max(us), min(vs), max(vs)
    rw, rh, ar = umax - umin, vmax - vmin, W / H
    if ar > rw / rh:
        g = (rh * ar - rw) / 2.0; umin -= g; umax += g
    elif rw / rh > ar:
        g = (rw / ar - rh) / 2.0; vmin -= g; vmax += g
    if zoom != 1.0:
        uc, vc = (umin + umax) * 0.5, (vmin + vmax) * 0.5
        umin, umax = (umin - uc) / zoom + uc, (umax - uc) / zoom + uc
        vmin, vmax = (vmin - vc) / zoom + vc, (vmax - vc) / zoom + vc
    du, dv = (umax - umin) / W, (vmax - vmin) / H
    Y, X = np.mgrid[0:H, 0:W].astype(np.float64)
    u = umin + X * du
    v = vmin + Y * dv
    a = u * cr + v * sr
    c = -u * sr + v * cr
    py = c * ct - d0 * st
    b = c * st + d0 * ct
    px = a * cp - b * sp
    pz = a * sp + b * cp
    s = -ez / (pz - ez)
    x = (px - ex) * s + ex
    y = (py - ey) * s + ey
    inside = (x > -1.0) & (x < W) & (y > -1.0) & (y < H)
    xs, ys = np.where(inside, x, 0.0), np.where(inside, y, 0.0)
    X10, Y10 = np.trunc(xs * 10.0).astype(np.int64), np.trunc(ys * 10.0).astype(np.int64)
    ix, iy = tdiv(X10, 10), tdiv(Y10, 10)
    fx_, fy_ = X10 - 10 * ix, Y10 - 10 * iy
    def at(xx, yy):
        ok = (xx < W) & (yy < H)
        return np.where(ok[..., None], src[np.clip(yy, 0, H - 1), np.clip(xx, 0, W - 1)], fill)
    p00, p10, p01, p11 = at(ix, iy), at(ix + 1, iy), at(ix, iy + 1), at(ix + 1, iy + 1)
    FX, FY = fx_[..., None], fy_[..., None]
    r = np.where((FX == 0) & (FY == 0), p00,
        np.where(FY == 0, tdiv((10 - FX) * p00 + FX * p10, 10),
        np.where(FX == 0, tdiv((10 - FY) * p00 + FY * p01, 10),
                 tdiv((10 - FY) * ((10 - FX) * p00 + FX * p10) + FY * ((10 - FX) * p01 + FX * p11), 100))))
    r = np.clip(r, 0, int(mx))
    r = np.where(inside[..., None], r, fill)
    if shift:
        r = r * 65537
    out.append(r.astype(dt).tobytes())
open(sys.argv[-1], 'wb').write(b''.join(out))
)";
    ktest::ExpectConcatenated(results, ktest::RunNumpy(script, inputs));
}

// Against OpenCV's linear perspective warp with the same inverse map (a
// homography) on the interior of a smooth image: within 2 levels.
TEST(PerspectiveTransform, AgreesWithOpenCvWarpPerspective) {
    const int W = 96, H = 72;
    std::vector<uint8_t> px(static_cast<size_t>(W) * H * 3);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            for (int c = 0; c < 3; ++c)
                px[(static_cast<size_t>(y) * W + x) * 3 + c] =
                    static_cast<uint8_t>(128 + 90 * std::sin(0.08 * x + 0.05 * y + c) * std::cos(0.04 * y - 0.03 * x));
    CImgBuff img;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(img, W, H, kImgRgb8, px));
    const double pan = 18.0, tilt = -12.0, roll = 7.0, zoom = 1.4;
    ASSERT_EQ(Transform(img, pan, tilt, roll, zoom, 0), 1);
    char line[200];
    std::snprintf(line, sizeof line, "pan, tilt, roll, zoom = %.17g, %.17g, %.17g, %.17g\n", pan, tilt, roll, zoom);
    const std::string script = std::string(line) + "W, H = " + std::to_string(W) + ", " + std::to_string(H) + "\n" + R"(
import cv2, math
src = np.fromfile(sys.argv[1], np.uint8).reshape(H, W, 3)
def sc(deg):
    r = deg / 180.0 * math.pi
    return math.sin(r), math.cos(r)
sr, cr = sc(roll); sp, cp = sc(pan); st, ct = sc(tilt)
fx, fy, cx, cy = 900.0, 880.0, W * 0.5, H * 0.5
ex, ey, ez = cx, cy, -(fx + fy) / 2.0
nx, ny, nz = sp * ct, st, -cp * ct
def z(d, x, y): return -(nx * x + ny * y + d) / nz
d = -nz
for ax, ay in ((0.0, 0.0), (W, 0.0), (W, H), (0.0, H)):
    t = -(nx * ax + ny * ay + nz)
    if min(z(t, 0, 0), z(t, W, 0), z(t, 0, H), z(t, W, H)) >= 0:
        d = t
        break
def project(x, y, rs, rc):
    r = np.array([x - ex, y - ey, -ez])
    n = np.array([nx, ny, nz])
    s = -(n @ np.array([ex, ey, ez]) + d) / (n @ r)
    p = np.array([ex, ey, ez]) + s * r
    a = cp * p[0] + sp * p[2]
    b = -sp * p[0] + cp * p[2]
    c = ct * p[1] + st * b
    return a * rc - c * rs, a * rs + c * rc, ct * b - st * p[1]
d0 = project(0, 0, 0, 1)[2]
pts = [project(x, y, sr, cr) for x, y in ((0, 0), (W, 0), (0, H), (W, H))]
umin, umax = min(p[0] for p in pts), max(p[0] for p in pts)
vmin, vmax = min(p[1] for p in pts), max(p[1] for p in pts)
rw, rh, ar = umax - umin, vmax - vmin, W / H
if ar > rw / rh:
    g = (rh * ar - rw) / 2; umin -= g; umax += g
elif rw / rh > ar:
    g = (rw / ar - rh) / 2; vmin -= g; vmax += g
uc, vc = (umin + umax) / 2, (vmin + vmax) / 2
umin, umax, vmin, vmax = (umin - uc) / zoom + uc, (umax - uc) / zoom + uc, (vmin - vc) / zoom + vc, (vmax - vc) / zoom + vc
du, dv = (umax - umin) / W, (vmax - vmin) / H
# Px, Py, Pz are affine in (X, Y); the source position is their projection.
def P(X, Y):
    u, v = umin + X * du, vmin + Y * dv
    a, c = u * cr + v * sr, -u * sr + v * cr
    b = c * st + d0 * ct
    return np.array([a * cp - b * sp, c * ct - d0 * st, a * sp + b * cp])
o, e1, e2 = P(0, 0), P(1, 0) - P(0, 0), P(0, 1) - P(0, 0)
A = np.stack([e1, e2, o], axis=1)  # rows Px, Py, Pz over (X, Y, 1)
Hm = np.array([-ez * A[0] + ex * A[2], -ez * A[1] + ey * A[2], A[2] - ez * np.array([0, 0, 1.0])])
out = cv2.warpPerspective(src, Hm, (W, H), flags=cv2.INTER_LINEAR | cv2.WARP_INVERSE_MAP, borderMode=cv2.BORDER_CONSTANT)
open(sys.argv[-1], 'wb').write(out.tobytes())
)";
    const std::string expected = ktest::RunNumpy(script, {std::string(px.begin(), px.end())});
    ASSERT_EQ(expected.size(), px.size());
    int worst = 0, compared = 0;
    for (int y = 6; y < H - 6; ++y)
        for (int x = 6; x < W - 6; ++x)
            for (int c = 0; c < 3; ++c) {
                const size_t i = (static_cast<size_t>(y) * W + x) * 3 + c;
                const int e = static_cast<uint8_t>(expected[i]);
                if (e == 0) continue;
                worst = std::max(worst, std::abs(int(img.buffer->pixels[i]) - e));
                ++compared;
            }
    EXPECT_LE(worst, 2);
    EXPECT_GT(compared, 10000);
}

}  // namespace
