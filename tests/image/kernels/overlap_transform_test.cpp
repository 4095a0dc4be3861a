// Move-and-rotate into a new image with a coverage mask.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "image/kernels/overlap_transform.h"
#include "image/kernels/resample_simd.h"
#include "support/kernel_test_util.h"

namespace {

struct Placed {
    int32_t result = -1, x0 = -99, y0 = -99;
    CImgBuff out, mask;
};

void Place(const CImgBuff& src, double dx, double dy, double angle, double scale, Placed* p) {
    p->result = ImgOverlapTransform(&src, dx, dy, angle, scale, &p->out, &p->mask, &p->x0, &p->y0);
}

// The source as its accessor renders it (CMYK, HSV and XYZ through RGB).
std::string Rendered(const CImgBuff& source) {
    CImgBuff copy;
    copy.CopyFrom(&source);
    C_ImgBuff& b = *copy.buffer;
    for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width; ++x) {
            uint32_t r, g, bl;
            if (b.format == kImgCmyk8 || b.format == kImgHsv16 || b.format == kImgXyz) {
                b.GetPixelRgb32(x, y, &r, &g, &bl);
                if (b.format == kImgCmyk8) b.SetPixelRgb8(x, y, uint8_t(r >> 24), uint8_t(g >> 24), uint8_t(bl >> 24));
                else if (b.format == kImgHsv16) b.SetPixelRgb16(x, y, uint16_t(r >> 16), uint16_t(g >> 16), uint16_t(bl >> 16));
                else b.SetPixelRgb32(x, y, r, g, bl);
            }
        }
    return ktest::Block(copy);
}

TEST(OverlapTransform, EdgeCasesInEveryFormat) {
    const int W = 9, H = 7;
    for (int32_t f : ktest::kAllFormats) {
        CImgBuff src;
        ASSERT_TRUE(ktest::MakeNoise(src, W, H, f, 60 + f));
        // Unmoved: the box is the source, the output its rendering, full cover.
        Placed p;
        Place(src, 0, 0, 0, 1, &p);
        ASSERT_EQ(p.result, 1) << ImgFormatName(f);
        EXPECT_EQ(p.x0, 0);
        EXPECT_EQ(p.y0, 0);
        EXPECT_EQ(p.out.buffer->format, f);
        EXPECT_TRUE(ktest::Block(p.out) == Rendered(src)) << ImgFormatName(f);
        EXPECT_EQ(ktest::Values<uint8_t>(p.mask), std::vector<uint8_t>(W * H, 255));

        // Half a pixel right: the box starts at 11, every pixel blends two
        // columns, the last one only its left neighbour (cover 127).
        Placed half;
        Place(src, 10.5, 0, 0, 1, &half);
        ASSERT_EQ(half.result, 1);
        EXPECT_EQ(half.x0, 11);
        EXPECT_EQ(half.out.buffer->width, W);
        const int bpp = ImgFormatBytes(f);
        const std::string rendered = Rendered(src);
        for (int y = 0; y < H; ++y) {
            EXPECT_EQ(*half.mask.buffer->PixelAt(W - 1, y), 127);
            EXPECT_EQ(*half.mask.buffer->PixelAt(0, y), 255);
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(half.out.buffer->PixelAt(W - 1, y)), bpp),
                      rendered.substr((static_cast<size_t>(y) * W + W - 1) * bpp, bpp))
                << ImgFormatName(f);
        }
        Placed left;
        Place(src, -3.5, 0, 0, 1, &left);
        ASSERT_EQ(left.result, 1);
        EXPECT_EQ(left.x0, -4);
        EXPECT_EQ(*left.mask.buffer->PixelAt(0, 3), 127);

        // Turned by 45 degrees: a larger box whose corners are uncovered.
        Placed turned;
        Place(src, 0, 0, 45, 1, &turned);
        ASSERT_EQ(turned.result, 1);
        EXPECT_GT(turned.out.buffer->width, W);
        EXPECT_EQ(*turned.mask.buffer->PixelAt(0, 0), 0);
        EXPECT_EQ(*turned.mask.buffer->PixelAt(turned.out.buffer->width - 1, turned.out.buffer->height - 1), 0);
    }
}

TEST(OverlapTransform, RefusalsLeaveTheOutputs) {
    CImgBuff src, thin;
    ASSERT_TRUE(ktest::MakeNoise(src, 8, 6, kImgRgb8, 1));
    ASSERT_TRUE(ktest::MakeNoise(thin, 1, 6, kImgGray8, 2));
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    struct Case {
        const CImgBuff* src;
        double dx, dy, angle, scale;
    } cases[] = {{&thin, 0, 0, 0, 1},  {&src, 0, 0, 0, 0},   {&src, 0, 0, nan, 1},   {&src, 0, 0, inf, 1}, {&src, nan, 0, 0, 1},
                 {&src, 0, -inf, 0, 1}, {&src, 0, 0, 0, nan}, {&src, 0, 0, 0, 1e300}, {&src, 3e9, 0, 0, 1}};
    for (const Case& c : cases) {
        Placed p;
        ASSERT_TRUE(ktest::MakeNoise(p.out, 3, 3, kImgGray16, 5));
        const std::string before = ktest::Block(p.out);
        Place(*c.src, c.dx, c.dy, c.angle, c.scale, &p);
        EXPECT_EQ(p.result, 0) << c.dx << " " << c.dy << " " << c.angle << " " << c.scale;
        EXPECT_EQ(ktest::Block(p.out), before);
        EXPECT_EQ(p.x0, -99);
    }
    CImgBuff empty;
    Placed p;
    Place(empty, 0, 0, 0, 1, &p);
    EXPECT_EQ(p.result, 0);
    // A negative scale places the image turned by a further half turn.
    Placed neg;
    Place(src, 0, 0, 0, -1, &neg);
    ASSERT_EQ(neg.result, 1);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) EXPECT_EQ(std::memcmp(neg.out.buffer->PixelAt(x, y), src.buffer->PixelAt(7 - x, 5 - y), 3), 0);
    // Into the source itself.
    CImgBuff self;
    self.CopyFrom(&src);
    int32_t x0, y0;
    ASSERT_EQ(ImgOverlapTransform(&self, 2, 1, 30, 1.2, &self, &p.mask, &x0, &y0), 1);
    Placed aside;
    Place(src, 2, 1, 30, 1.2, &aside);
    EXPECT_TRUE(ktest::Block(self) == ktest::Block(aside.out));
}

// Output and mask against a numpy replay of the placement and the sampler.
TEST(OverlapTransform, MatchesNumpyReplay) {
    struct Case {
        double dx, dy, angle, scale;
    } cases[] = {{3.25, -1.5, 27.0, 1.0}, {0.0, 0.0, -140.5, 0.7}, {-5.75, 8.125, 90.0, 1.6}, {1.0, 2.0, 400.0, 1.0}, {0.5, 0.5, -12.0, -0.9}};
    struct Fmt {
        int32_t format;
        const char* dtype;
        int channels;
        double maxv;
    } fmts[] = {{kImgGray8, "np.uint8", 1, 255.0},       {kImgGray16, "np.uint16", 1, 65535.0}, {kImgGray32, "np.uint32", 1, 4294967295.0},
                {kImgRgb8, "np.uint8", 3, 255.0},        {kImgRgb16, "np.uint16", 3, 65535.0},  {kImgRgb32, "np.uint32", 3, 4294967295.0}};
    const int W = 33, H = 20;
    std::vector<std::string> inputs, results;
    std::string list = "cases = [";
    for (const Fmt& f : fmts)
        for (const Case& c : cases) {
            CImgBuff src;
            ASSERT_TRUE(ktest::MakeNoise(src, W, H, f.format, 13));
            Placed p, scalar;
            Place(src, c.dx, c.dy, c.angle, c.scale, &p);
            ASSERT_EQ(p.result, 1);
            // The scalar path gives the same pixels as the vector one.
            ImgResampleUseVectorsForTesting(false);
            Place(src, c.dx, c.dy, c.angle, c.scale, &scalar);
            ImgResampleUseVectorsForTesting(true);
            EXPECT_TRUE(ktest::Block(scalar.out) == ktest::Block(p.out) && ktest::Block(scalar.mask) == ktest::Block(p.mask))
                << ImgFormatName(f.format) << " " << c.angle;
            inputs.push_back(ktest::Block(src));
            std::string r(reinterpret_cast<const char*>(&p.x0), 4);
            r += std::string(reinterpret_cast<const char*>(&p.y0), 4);
            const int32_t size[2] = {p.out.buffer->width, p.out.buffer->height};
            r += std::string(reinterpret_cast<const char*>(size), 8);
            results.push_back(r + ktest::Block(p.out) + ktest::Block(p.mask));
            char line[200];
            std::snprintf(line, sizeof line, "(%s,%d,%.17g,%.17g,%.17g,%.17g,%.17g),", f.dtype, f.channels, f.maxv, c.dx, c.dy, c.angle,
                          c.scale);
            list += line;
        }
    const std::string script = list + "]\n" + "W, H = " + std::to_string(W) + ", " + std::to_string(H) + "\n" + R"(
import math, struct
def wrap(d):
    while d > 180: d -= 360
    while d < -180: d += 360
    return d
def away(v):
    return math.ceil(v) if v > 0 else math.floor(v)
out = []
for k, (dt, C, mx, dx, dy, angle, s) in enumerate(cases):
    a = np.fromfile(sys.argv[1 + k], dt).reshape(H, W, C).astype(np.float64)
    ra = wrap(angle) * 3.141592653589793 / 180.0
    rn = wrap(-angle) * 3.141592653589793 / 180.0
    sa, ca, sn, cn = math.sin(ra), math.cos(ra), math.sin(rn), math.cos(rn)
    cx, cy = (W - 1) * 0.5, (H - 1) * 0.5
    xs, ys = [], []
    for px, py in ((0, 0), (W - 1, 0), (0, H - 1), (W - 1, H - 1)):
        ex, ey = px - cx, py - cy
        xs.append((ex * ca - ey * sa) * s + cx + dx)
        ys.append((ex * sa + ey * ca) * s + cy + dy)
    x0, x1, y0, y1 = away(min(xs)), away(max(xs)), away(min(ys)), away(max(ys))
    w, h = x1 - x0 + 1, y1 - y0 + 1
    inv = 1.0 / s
    Y, X = np.mgrid[y0:y1 + 1, x0:x1 + 1].astype(np.float64)
    ex, ey = X - dx - cx, Y - dy - cy
    u = (ex * cn - ey * sn) * inv + cx
    v = (ex * sn + ey * cn) * inv + cy
    fu, fv = np.floor(u), np.floor(v)
    fx, fy = u - fu, v - fv
    ix, iy = fu.astype(np.int64), fv.astype(np.int64)
    def inside(xx, yy):
        return (xx >= 0) & (xx < W) & (yy >= 0) & (yy < H)
    def val(xx, yy):
        return a[np.clip(yy, 0, H - 1), np.clip(xx, 0, W - 1)]
    ws = [np.where(inside(ix, iy), (1.0 - fx) * (1.0 - fy), 0.0), np.where(inside(ix + 1, iy), fx * (1.0 - fy), 0.0),
          np.where(inside(ix, iy + 1), (1.0 - fx) * fy, 0.0), np.where(inside(ix + 1, iy + 1), fx * fy, 0.0)]
    ps = [val(ix, iy), val(ix + 1, iy), val(ix, iy + 1), val(ix + 1, iy + 1)]
    Wt = ((ws[0] + ws[1]) + ws[2]) + ws[3]
    acc = np.zeros(Wt.shape + (C,))
    for wq, pq in zip(ws, ps):
        acc = np.where((wq != 0.0)[..., None], acc + wq[..., None] * pq, acc)
    safe = np.where(Wt == 0.0, 1.0, Wt)
    r = acc * (1.0 / safe)[..., None]
    o = np.where(Wt[..., None] == 0.0, 0.0, np.where(r >= mx, mx, np.where(r > 0, np.trunc(r), 0.0))).astype(dt)
    m = np.minimum(np.trunc(Wt * 255.0), 255).astype(np.uint8)
    out.append(struct.pack('<iiii', x0, y0, w, h) + o.tobytes() + m.tobytes())
open(sys.argv[-1], 'wb').write(b''.join(out))
)";
    ktest::ExpectConcatenated(results, ktest::RunNumpy(script, inputs));
}

// Against OpenCV's inverse-mapped linear warp where the output lies wholly
// on the moved image: within 2 levels.
TEST(OverlapTransform, AgreesWithOpenCvWarpAffine) {
    const int W = 60, H = 44;
    std::vector<uint8_t> px(static_cast<size_t>(W) * H * 3);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            for (int c = 0; c < 3; ++c)
                px[(static_cast<size_t>(y) * W + x) * 3 + c] =
                    static_cast<uint8_t>(128 + 100 * std::sin(0.12 * x - 0.05 * y + c) * std::cos(0.06 * y + 0.02 * x));
    CImgBuff src;
    ASSERT_TRUE(ktest::MakeFrom<uint8_t>(src, W, H, kImgRgb8, px));
    const double dx = 4.3, dy = -2.7, angle = 21.0, scale = 1.15;
    Placed p;
    Place(src, dx, dy, angle, scale, &p);
    ASSERT_EQ(p.result, 1);
    const int w = p.out.buffer->width, h = p.out.buffer->height;
    char line[200];
    std::snprintf(line, sizeof line, "dx, dy, angle, s, x0, y0, w, h = %.17g, %.17g, %.17g, %.17g, %d, %d, %d, %d\n", dx, dy, angle, scale,
                  p.x0, p.y0, w, h);
    const std::string script = std::string(line) + "W, H = " + std::to_string(W) + ", " + std::to_string(H) + "\n" + R"(
import cv2, math
a = np.fromfile(sys.argv[1], np.uint8).reshape(H, W, 3)
t = -angle * math.pi / 180.0
c, sn = math.cos(t), math.sin(t)
cx, cy = (W - 1) * 0.5, (H - 1) * 0.5
# output (i, j) -> plane (x0 + i, y0 + j) -> source
ox, oy = x0 - dx - cx, y0 - dy - cy
M = np.array([[c / s, -sn / s, (ox * c - oy * sn) / s + cx], [sn / s, c / s, (ox * sn + oy * c) / s + cy]])
o = cv2.warpAffine(a, M, (w, h), flags=cv2.INTER_LINEAR | cv2.WARP_INVERSE_MAP, borderMode=cv2.BORDER_CONSTANT)
open(sys.argv[-1], 'wb').write(o.tobytes())
)";
    const std::string expected = ktest::RunNumpy(script, {ktest::Block(src)});
    ASSERT_EQ(expected.size(), static_cast<size_t>(w) * h * 3);
    int worst = 0, compared = 0;
    for (int y = 1; y < h - 1; ++y)
        for (int x = 1; x < w - 1; ++x) {
            // Pixels wholly on the image, with neighbours that are too.
            bool full = true;
            for (int q = -1; q <= 1; ++q)
                for (int r = -1; r <= 1; ++r) full = full && *p.mask.buffer->PixelAt(x + r, y + q) == 255;
            if (!full) continue;
            for (int c = 0; c < 3; ++c) {
                const size_t i = (static_cast<size_t>(y) * w + x) * 3 + c;
                worst = std::max(worst, std::abs(int(p.out.buffer->pixels[i]) - int(static_cast<uint8_t>(expected[i]))));
                ++compared;
            }
        }
    EXPECT_LE(worst, 2);
    EXPECT_GT(compared, 3000);
}

}  // namespace
