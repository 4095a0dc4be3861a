// Working component images: every code extracts its component at the right
// depth (checked against the colour rules computed here from the sRGB, HSV,
// CMYK and CIE definitions) and writes a changed component back.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "filters/core/workimage.h"
#include "image/imgbuff.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kU32 = 4294967295.0;

// Reference colour maths, from the published definitions.
struct Lab {
    double l, a, b;
};

double Linear(double c8) {
    double c = c8 / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

void RefXyz(int r, int g, int b, double xyz[3]) {
    const double lr = Linear(r), lg = Linear(g), lb = Linear(b);
    xyz[0] = 0.4124564 * lr + 0.3575761 * lg + 0.1804375 * lb;
    xyz[1] = 0.2126729 * lr + 0.7151522 * lg + 0.0721750 * lb;
    xyz[2] = 0.0193339 * lr + 0.1191920 * lg + 0.9503041 * lb;
}

Lab RefLab(int r, int g, int b) {
    double xyz[3];
    RefXyz(r, g, b, xyz);
    auto f = [](double t) {
        const double d = 6.0 / 29.0;
        return t > d * d * d ? std::cbrt(t) : t / (3 * d * d) + 4.0 / 29.0;
    };
    const double fx = f(xyz[0] / 0.950489), fy = f(xyz[1]), fz = f(xyz[2] / 1.08884);
    return {116 * fy - 16, 500 * (fx - fy), 200 * (fy - fz)};
}

// The 32-bit encodings: range low..high onto 0..2^32-1.
double Decode(uint32_t code, uint32_t v) {
    const double t = v / kU32;
    switch (code) {
        case 14:
        case 15:
        case 16: return t * 1.1;
        case 17: return t * 100.0;
        case 18:
        case 19: return t * 255.0 - 128.0;
        case 20: return t * 135.0;
        default: return t * 2 * kPi;
    }
}

double RefComponent(uint32_t code, int r, int g, int b) {
    if (code <= 16) {
        double xyz[3];
        RefXyz(r, g, b, xyz);
        return xyz[code - 14];
    }
    const Lab lab = RefLab(r, g, b);
    switch (code) {
        case 17: return lab.l;
        case 18: return lab.a;
        case 19: return lab.b;
        case 20: return std::hypot(lab.a, lab.b);
        default: {
            double h = std::atan2(lab.b, lab.a);
            return h < 0 ? h + 2 * kPi : h;
        }
    }
}

uint64_t WorkValue(const CImgBuff& work, int32_t x, int32_t y) {
    const C_ImgBuff* w = work.buffer;
    if (w->format == kImgGray8) return w->pixels[y * w->width + x];
    if (w->format == kImgGray16) return reinterpret_cast<const uint16_t*>(w->pixels)[y * w->width + x];
    return reinterpret_cast<const uint32_t*>(w->pixels)[y * w->width + x];
}

void SetWorkValue(CImgBuff& work, int32_t x, int32_t y, uint64_t v) {
    C_ImgBuff* w = work.buffer;
    if (w->format == kImgGray8)
        w->pixels[y * w->width + x] = static_cast<uint8_t>(v);
    else if (w->format == kImgGray16)
        reinterpret_cast<uint16_t*>(w->pixels)[y * w->width + x] = static_cast<uint16_t>(v);
    else
        reinterpret_cast<uint32_t*>(w->pixels)[y * w->width + x] = static_cast<uint32_t>(v);
}

// A 3 x 2 frame: (200, 100, 50), black, white / grey 128, (12, 200, 130), (0, 0, 255).
void MakeFrame(CImgBuff& frame, int32_t format) {
    ASSERT_EQ(frame.buffer->Create(3, 2, kImgRgb8), 1);
    const int colours[6][3] = {{200, 100, 50},  {0, 0, 0},      {255, 255, 255},
                               {128, 128, 128}, {12, 200, 130}, {0, 0, 255}};
    for (int i = 0; i < 6; ++i) frame.buffer->SetPixelRgb8(i % 3, i / 3, colours[i][0], colours[i][1], colours[i][2]);
    if (format != kImgRgb8) {
        ASSERT_EQ(frame.buffer->ConvertFormat(format), 1);
    }
}

struct Extraction {
    uint32_t code;
    int32_t frameFormat;
    int32_t workFormat;
    int32_t frameAfter;  // the frame's format once prepared
    double expected;     // at pixel (0, 0), the colour (200, 100, 50)
    double tolerance;
};

// Codes 1-13 at the working depth; 14-21 through their 32-bit encodings.
TEST(WorkImage, EveryCodeExtractsItsComponent) {
    const double hue16 = 10922.0 * 20.0 / 60.0;  // 20 degrees; 10922 per sextant
    const double hue32 = 715827882.0 * 20.0 / 60.0;
    const Extraction cases[] = {
        {1, kImgRgb8, kImgGray8, kImgRgb8, 200, 0},
        {2, kImgRgb8, kImgGray8, kImgRgb8, 100, 0},
        {3, kImgRgb8, kImgGray8, kImgRgb8, 50, 0},
        {4, kImgRgb8, kImgGray16, kImgRgb16, hue16, 3},
        {5, kImgRgb8, kImgGray16, kImgRgb16, 49150, 0},  // S = (max - min) * 65534 / max
        {6, kImgRgb8, kImgGray16, kImgRgb16, 200 * 257, 0},
        {7, kImgRgb8, kImgGray8, kImgRgb8, 55, 0},
        {8, kImgRgb8, kImgGray8, kImgRgb8, 155, 0},
        {9, kImgRgb8, kImgGray8, kImgRgb8, 205, 0},
        {10, kImgRgb8, kImgGray8, kImgRgb8, 0, 0},  // K = 255 - max = 55, C = 255 - R - K
        {11, kImgRgb8, kImgGray8, kImgRgb8, 100, 0},
        {12, kImgRgb8, kImgGray8, kImgRgb8, 150, 0},
        {13, kImgRgb8, kImgGray8, kImgRgb8, 55, 0},
        {11, kImgRgb16, kImgGray16, kImgRgb16, 100 * 257, 0},
        {13, kImgRgb16, kImgGray16, kImgRgb16, 55 * 257, 0},
        {12, kImgRgb32, kImgGray32, kImgRgb32, 150 * 16843009.0, 0},
        {2, kImgGray16, kImgGray16, kImgGray16, 0, -1},  // grey: every channel the same
        {6, kImgRgb32, kImgGray32, kImgRgb32, 200 * 16843009.0, 0},
        {4, kImgRgb32, kImgGray32, kImgRgb32, hue32, 200},
        {5, kImgHsv16, kImgGray16, kImgHsv16, 49150, 0},
        {14, kImgRgb8, kImgGray32, kImgXyz, 0, 2e-3},
        {15, kImgRgb8, kImgGray32, kImgXyz, 0, 2e-3},
        {16, kImgRgb8, kImgGray32, kImgXyz, 0, 2e-3},
        {17, kImgRgb8, kImgGray32, kImgXyz, 0, 0.2},
        {18, kImgRgb8, kImgGray32, kImgXyz, 0, 0.2},
        {19, kImgRgb8, kImgGray32, kImgXyz, 0, 0.2},
        {20, kImgRgb16, kImgGray32, kImgXyz, 0, 0.2},
        {21, kImgRgb32, kImgGray32, kImgXyz, 0, 0.005},
        {1, kImgXyz, kImgGray32, kImgXyz, 200 * 16843009.0, 2e5},
    };
    for (const Extraction& c : cases) {
        SCOPED_TRACE("code " + std::to_string(c.code) + " format " + std::to_string(c.frameFormat));
        CImgBuff frame, work;
        MakeFrame(frame, c.frameFormat);
        ASSERT_EQ(MakeWorkingImage(&frame, &work, c.code), 1);
        EXPECT_EQ(work.buffer->format, c.workFormat);
        EXPECT_EQ(work.buffer->width, 3);
        EXPECT_EQ(work.buffer->height, 2);
        EXPECT_EQ(frame.buffer->format, c.frameAfter);
        const uint64_t v = WorkValue(work, 0, 0);
        if (c.code >= 14) {
            EXPECT_NEAR(Decode(c.code, static_cast<uint32_t>(v)), RefComponent(c.code, 200, 100, 50), c.tolerance);
            // grey 128 at (0, 1): a* and b* near 0, L* 53.59
            if (c.code == 17) {
                EXPECT_NEAR(Decode(17, static_cast<uint32_t>(WorkValue(work, 0, 1))), 53.585, 0.2);
            }
        } else if (c.tolerance < 0) {
            EXPECT_EQ(WorkValue(work, 0, 1), 128u * 257u);
        } else {
            EXPECT_NEAR(static_cast<double>(v), c.expected, c.tolerance);
        }
    }
}

TEST(WorkImage, EdgeValuesOfTheDerivedModels) {
    CImgBuff frame, work;
    MakeFrame(frame, kImgRgb16);
    ASSERT_EQ(MakeWorkingImage(&frame, &work, 13), 1);
    EXPECT_EQ(WorkValue(work, 2, 0), 0u);      // white: K 0
    EXPECT_EQ(WorkValue(work, 1, 0), 65535u);  // black: K full
    ASSERT_EQ(MakeWorkingImage(&frame, &work, 5), 1);
    EXPECT_EQ(WorkValue(work, 0, 1), 0u);      // grey has no saturation
    EXPECT_EQ(WorkValue(work, 2, 1), 65534u);  // pure blue: S is scaled to 65534
    CImgBuff grey, gw;
    ASSERT_EQ(grey.buffer->Create(2, 1, kImgGray8), 1);
    grey.buffer->SetPixelGray8(0, 0, 17);
    grey.buffer->SetPixelGray8(1, 0, 230);
    ASSERT_EQ(MakeWorkingImage(&grey, &gw, 1), 1);
    EXPECT_EQ(WorkValue(gw, 0, 0), 17u);
    EXPECT_EQ(WorkValue(gw, 1, 0), 230u);
    ASSERT_EQ(StoreWorkingImage(&grey, &gw, 1), 1);
    EXPECT_EQ(grey.buffer->format, kImgGray8);
    EXPECT_EQ(grey.buffer->pixels[0], 17);
    EXPECT_EQ(grey.buffer->pixels[1], 230);
}

// Extracting and storing back unchanged leaves every pixel as it was.
TEST(WorkImage, UnchangedComponentRoundTrips) {
    for (uint32_t code = 1; code <= kWorkCodeMax; ++code) {
        SCOPED_TRACE("code " + std::to_string(code));
        CImgBuff frame, work, before;
        MakeFrame(frame, kImgRgb8);
        ASSERT_EQ(MakeWorkingImage(&frame, &work, code), 1);
        before.CopyFrom(&frame);
        ASSERT_EQ(StoreWorkingImage(&frame, &work, code), 1);
        ASSERT_EQ(frame.buffer->format, before.buffer->format);
        for (int32_t y = 0; y < 2; ++y) {
            for (int32_t x = 0; x < 3; ++x) {
                uint32_t a[3], b[3];
                frame.buffer->GetPixelRgb32(x, y, &a[0], &a[1], &a[2]);
                before.buffer->GetPixelRgb32(x, y, &b[0], &b[1], &b[2]);
                // HSV at 16 bits and the colour encodings round a little.
                const double tolerance = code >= 4 && code <= 6 ? 1e-3 * kU32 : code >= 14 ? 1e-4 * kU32 : 0;
                for (int i = 0; i < 3; ++i) EXPECT_NEAR(a[i], b[i], tolerance) << x << "," << y;
            }
        }
    }
}

struct WriteBack {
    uint32_t code;
    int32_t frameFormat;
    int32_t x, y;
    std::function<uint64_t(uint64_t)> change;  // new working value from the old
    std::function<void(const C_ImgBuff*)> check;
};

void ExpectRgb8(const C_ImgBuff* f, int32_t x, int32_t y, int r, int g, int b, int tolerance = 0) {
    uint8_t cr, cg, cb;
    f->GetPixelRgb8(x, y, &cr, &cg, &cb);
    EXPECT_NEAR(cr, r, tolerance);
    EXPECT_NEAR(cg, g, tolerance);
    EXPECT_NEAR(cb, b, tolerance);
}

TEST(WorkImage, ChangedComponentIsWrittenBack) {
    const Lab orange = RefLab(200, 100, 50);
    const double chroma = std::hypot(orange.a, orange.b);
    const double hue = std::atan2(orange.b, orange.a);
    const WriteBack cases[] = {
        {1, kImgRgb8, 0, 0, [](uint64_t) { return 77; }, [](const C_ImgBuff* f) { ExpectRgb8(f, 0, 0, 77, 100, 50); }},
        {3, kImgRgb8, 0, 0, [](uint64_t) { return 0; }, [](const C_ImgBuff* f) { ExpectRgb8(f, 0, 0, 200, 100, 0); }},
        {7, kImgRgb8, 0, 0, [](uint64_t) { return 0; }, [](const C_ImgBuff* f) { ExpectRgb8(f, 0, 0, 255, 100, 50); }},
        {9, kImgRgb8, 0, 0, [](uint64_t v) { return v - 5; },
         [](const C_ImgBuff* f) { ExpectRgb8(f, 0, 0, 200, 100, 55); }},
        {10, kImgRgb8, 0, 0, [](uint64_t) { return 255; }, [](const C_ImgBuff* f) { ExpectRgb8(f, 0, 0, 0, 100, 50); }},
        {13, kImgRgb8, 0, 0, [](uint64_t) { return 0; },
         [](const C_ImgBuff* f) { ExpectRgb8(f, 0, 0, 255, 155, 105); }},
        {13, kImgRgb16, 1, 0, [](uint64_t) { return 0; },
         [](const C_ImgBuff* f) { ExpectRgb8(f, 1, 0, 255, 255, 255); }},
        {11, kImgRgb32, 0, 0, [](uint64_t) { return 0; },
         [](const C_ImgBuff* f) {
             uint32_t r, g, b;
             f->GetPixelRgb32(0, 0, &r, &g, &b);
             EXPECT_EQ(std::vector<uint32_t>({r, g, b}),
                       std::vector<uint32_t>({200u * 16843009u, 200u * 16843009u, 50u * 16843009u}));
         }},
        {5, kImgRgb8, 0, 0, [](uint64_t) { return 0; },
         [](const C_ImgBuff* f) {
             EXPECT_EQ(f->format, kImgRgb16);
             uint16_t r, g, b;
             f->GetPixelRgb16(0, 0, &r, &g, &b);
             EXPECT_EQ(std::vector<int>({r, g, b}), std::vector<int>({51400, 51400, 51400}));
         }},
        {6, kImgRgb8, 0, 0, [](uint64_t) { return 0; }, [](const C_ImgBuff* f) { ExpectRgb8(f, 0, 0, 0, 0, 0); }},
        {6, kImgRgb32, 0, 0, [](uint64_t v) { return v / 2; },
         [](const C_ImgBuff* f) { ExpectRgb8(f, 0, 0, 100, 50, 25, 1); }},
        {17, kImgGray8, 0, 1, [](uint64_t) { return 4294967295u; },
         [](const C_ImgBuff* f) { ExpectRgb8(f, 0, 1, 255, 255, 255, 1); }},
        {19, kImgRgb8, 0, 0, [](uint64_t) { return static_cast<uint64_t>(128.0 / 255.0 * kU32); },  // b* = 0
         [orange](const C_ImgBuff* f) {
             double l, a, b;
             f->GetPixelLab(0, 0, &l, &a, &b);
             EXPECT_NEAR(l, orange.l, 0.2);
             EXPECT_NEAR(a, orange.a, 0.2);
             EXPECT_NEAR(b, 0.0, 0.01);
         }},
        {21, kImgRgb8, 0, 0, [hue](uint64_t) { return static_cast<uint64_t>((hue + kPi / 2) / (2 * kPi) * kU32); },
         [orange, chroma, hue](const C_ImgBuff* f) {
             double l, c, h;
             f->GetPixelLch(0, 0, &l, &c, &h);
             EXPECT_NEAR(l, orange.l, 0.2);
             EXPECT_NEAR(c, chroma, 0.2);
             EXPECT_NEAR(h, hue + kPi / 2, 0.005);
         }},
        {15, kImgRgb8, 0, 0, [](uint64_t) { return static_cast<uint64_t>(0.5 / 1.1 * kU32); },
         [](const C_ImgBuff* f) {
             double x, y, z;
             f->GetPixelXyz(0, 0, &x, &y, &z);
             EXPECT_NEAR(y, 0.5, 1e-6);
         }},
    };
    for (const WriteBack& c : cases) {
        SCOPED_TRACE("code " + std::to_string(c.code) + " format " + std::to_string(c.frameFormat));
        CImgBuff frame, work;
        if (c.frameFormat == kImgGray8) {
            ASSERT_EQ(frame.buffer->Create(1, 2, kImgGray8), 1);
            frame.buffer->SetPixelGray8(0, 1, 128);
        } else {
            MakeFrame(frame, c.frameFormat);
        }
        ASSERT_EQ(MakeWorkingImage(&frame, &work, c.code), 1);
        SetWorkValue(work, c.x, c.y, c.change(WorkValue(work, c.x, c.y)));
        ASSERT_EQ(StoreWorkingImage(&frame, &work, c.code), 1);
        c.check(frame.buffer);
    }
}

TEST(WorkImage, CodesBeyondTheTableAndMismatchedImages) {
    CImgBuff frame, work;
    MakeFrame(frame, kImgRgb16);
    ASSERT_EQ(MakeWorkingImage(&frame, &work, 30), 1);
    EXPECT_EQ(work.buffer->format, kImgGray16);
    EXPECT_EQ(WorkValue(work, 0, 0), 0u);  // not filled
    SetWorkValue(work, 1, 1, 9);
    ASSERT_EQ(StoreWorkingImage(&frame, &work, 30), 1);
    EXPECT_EQ(frame.buffer->format, kImgGray16);  // replaced by the working image
    EXPECT_EQ(WorkValue(frame, 1, 1), 9u);

    CImgBuff other, small;
    MakeFrame(other, kImgRgb8);
    ASSERT_EQ(small.buffer->Create(2, 2, kImgGray8), 1);
    EXPECT_EQ(StoreWorkingImage(&other, &small, 1), 0);  // another size: left alone
    ExpectRgb8(other.buffer, 0, 0, 200, 100, 50);
    CImgBuff empty;
    EXPECT_EQ(StoreWorkingImage(&other, &empty, 1), 0);
    EXPECT_EQ(MakeWorkingImage(&empty, &work, 1), 0);
}

}  // namespace
