// The image handle: checked pixel access, paste, extract, region clipping.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "image/imgbuff.h"
#include "support/image_test_util.h"

namespace {

bool SamePixels(const C_ImgBuff& a, const C_ImgBuff& b) {
    return a.format == b.format && a.width == b.width && a.height == b.height &&
           std::memcmp(a.pixels, b.pixels, size_t(a.width) * a.height * a.BytesPerPixel()) == 0;
}

void Make(CImgBuff& h, int32_t w, int32_t ht, int32_t f, uint32_t seed) {
    ASSERT_EQ(h.buffer->Create(w, ht, f), 1);
    imgtest::FillPattern(*h.buffer, seed);
}

TEST(ImageHandle, GettersCheckBoundsFirst) {
    CImgBuff h;
    uint8_t v8 = 7;
    EXPECT_EQ(h.GetPixelGray8(0, 0, &v8), 0);  // empty
    Make(h, 4, 3, kImgRgb8, 1);
    uint16_t v16;
    uint32_t v32;
    uint8_t c[4];
    double d[3];
    struct {
        int32_t x, y;
    } outside[] = {{-1, 0}, {4, 0}, {0, -1}, {0, 3}, {INT32_MIN, 0}, {0, INT32_MAX}};
    for (const auto& p : outside) {
        EXPECT_EQ(h.GetPixelGray8(p.x, p.y, &v8), 0);
        EXPECT_EQ(h.GetPixelGray16(p.x, p.y, &v16), 0);
        EXPECT_EQ(h.GetPixelGray32(p.x, p.y, &v32), 0);
        EXPECT_EQ(h.GetPixelRgb8(p.x, p.y, &c[0], &c[1], &c[2]), 0);
        EXPECT_EQ(h.GetPixelCmyk8(p.x, p.y, &c[0], &c[1], &c[2], &c[3]), 0);
        EXPECT_EQ(h.GetPixelXyz(p.x, p.y, &d[0], &d[1], &d[2]), 0);
        EXPECT_EQ(h.GetPixelLab(p.x, p.y, &d[0], &d[1], &d[2]), 0);
        EXPECT_EQ(h.GetPixelLch(p.x, p.y, &d[0], &d[1], &d[2]), 0);
        EXPECT_EQ(h.buffer->GetPixelGrayDouble(p.x, p.y, &d[0]), 0);
        EXPECT_EQ(h.buffer->GetPixelRgbDouble(p.x, p.y, &d[0], &d[1], &d[2]), 0);
        EXPECT_EQ(h.SetPixelGray8(p.x, p.y, 1), 0);
        EXPECT_EQ(h.SetPixelRgb16(p.x, p.y, 1, 2, 3), 0);
        EXPECT_EQ(h.SetPixelXyz(p.x, p.y, 0.1, 0.2, 0.3), 0);
        EXPECT_EQ(h.SetPixelLch(p.x, p.y, 50, 10, 1), 0);
    }
    EXPECT_EQ(h.buffer->GetPixelGrayDouble(1, 1, nullptr), 1);
    EXPECT_EQ(h.SetPixelRgb8(3, 2, 200, 100, 50), 1);
    EXPECT_EQ(h.GetPixelGray8(3, 2, &v8), 1);
    EXPECT_EQ(v8, 124);  // (59800 + 58700 + 5700 + 500) / 1000
}

TEST(ImageHandle, Is8BitFormat) {
    CImgBuff h;
    EXPECT_FALSE(h.Is8BitFormat());
    for (int32_t f = 1; f <= 9; ++f) {
        ASSERT_EQ(h.buffer->Create(1, 1, f), 1);
        EXPECT_EQ(h.Is8BitFormat(), f == 1 || f == 4 || f == 9) << f;
    }
}

TEST(ImageHandle, LchHueWithoutDirectionIsZero) {
    CImgBuff h;
    Make(h, 2, 1, kImgRgb16, 1);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    uint16_t want[3], got[3];
    ASSERT_EQ(h.SetPixelLch(0, 0, 60, 40, 0.0), 1);
    h.GetPixelRgb16(0, 0, &want[0], &want[1], &want[2]);
    for (double hue : {nan, inf, -inf}) {
        ASSERT_EQ(h.SetPixelLch(1, 0, 60, 40, hue), 1);
        h.GetPixelRgb16(1, 0, &got[0], &got[1], &got[2]);
        EXPECT_EQ(std::memcmp(got, want, sizeof got), 0) << hue;
    }
    // A far angle ends and lands on the same colour as its reduced angle.
    ASSERT_EQ(h.SetPixelLch(1, 0, 60, 40, 1e300), 1);
    ASSERT_EQ(h.SetPixelLch(0, 0, 60, 40, std::fmod(1e300, 6.2831853)), 1);
    h.GetPixelRgb16(0, 0, &want[0], &want[1], &want[2]);
    h.GetPixelRgb16(1, 0, &got[0], &got[1], &got[2]);
    EXPECT_EQ(std::memcmp(got, want, sizeof got), 0);
}

TEST(ImageHandle, PasteFitsOrRefuses) {
    CImgBuff dst, src;
    Make(dst, 100, 100, kImgGray8, 1);
    Make(src, 10, 10, kImgGray8, 2);
    C_ImgBuff keep;
    keep.CopyFrom(dst.buffer);
    struct {
        uint32_t x, y;
    } refused[] = {{91, 90}, {90, 91}, {0xFFFFFFF8u, 0}, {0, 0xFFFFFFFFu}, {0x7FFFFFFFu, 0}, {0x80000000u, 5}};
    for (const auto& p : refused) {
        EXPECT_EQ(dst.PasteImage(&src, p.x, p.y), 0) << p.x << "," << p.y;
        EXPECT_TRUE(SamePixels(*dst.buffer, keep));
    }
    CImgBuff empty;
    EXPECT_EQ(dst.PasteImage(&empty, 0, 0), 0);
    EXPECT_EQ(empty.PasteImage(&src, 0, 0), 0);
    ASSERT_EQ(dst.PasteImage(&src, 90, 90), 1);
    for (int32_t y = 0; y < 100; ++y) {
        for (int32_t x = 0; x < 100; ++x) {
            bool inside = x >= 90 && y >= 90;
            std::vector<double> want = inside ? imgtest::GetRaw(*src.buffer, x - 90, y - 90) : imgtest::GetRaw(keep, x, y);
            ASSERT_EQ(imgtest::GetRaw(*dst.buffer, x, y), want) << x << "," << y;
        }
    }
    // Pasting an image onto itself changes nothing.
    keep.CopyFrom(dst.buffer);
    EXPECT_EQ(dst.PasteImage(&dst, 0, 0), 1);
    EXPECT_TRUE(SamePixels(*dst.buffer, keep));
    EXPECT_EQ(dst.PasteImage(&dst, 1, 0), 0);
}

TEST(ImageHandle, PasteRgb8IntoGray16WeightsTheWidenedChannels) {
    CImgBuff dst, src;
    Make(dst, 8, 6, kImgGray16, 1);
    Make(src, 3, 2, kImgRgb8, 2);
    ASSERT_EQ(dst.PasteImage(&src, 4, 3), 1);
    for (int32_t y = 0; y < 2; ++y) {
        for (int32_t x = 0; x < 3; ++x) {
            const uint8_t* p = src.buffer->PixelAt(x, y);
            uint32_t want = (299u * p[0] * 257 + 587u * p[1] * 257 + 114u * p[2] * 257 + 500) / 1000;
            EXPECT_EQ(imgtest::GetRaw(*dst.buffer, 4 + x, 3 + y)[0], double(want));
        }
    }
}

// Every format pair, with the destination large enough for the pool: the
// pasted pixels are the source converted to the destination's format, and
// nothing around them changes.
TEST(ImageHandle, PasteConvertsEveryFormatPair) {
    for (int32_t from = 1; from <= 9; ++from) {
        CImgBuff src;
        Make(src, 40, 30, from, uint32_t(from));
        for (int32_t to = 1; to <= 9; ++to) {
            CImgBuff dst;
            Make(dst, 64, 70, to, 100 + uint32_t(to));
            C_ImgBuff before, converted;
            before.CopyFrom(dst.buffer);
            converted.CopyFrom(src.buffer);
            ASSERT_EQ(converted.ConvertFormat(uint32_t(to)), 1);
            ASSERT_EQ(dst.PasteImage(&src, 5, 7), 1) << from << " -> " << to;
            for (int32_t y = 0; y < 70; ++y) {
                for (int32_t x = 0; x < 64; ++x) {
                    bool inside = x >= 5 && x < 45 && y >= 7 && y < 37;
                    std::vector<double> want =
                        inside ? imgtest::GetRaw(converted, x - 5, y - 7) : imgtest::GetRaw(before, x, y);
                    ASSERT_EQ(imgtest::GetRaw(*dst.buffer, x, y), want) << from << " -> " << to << " at " << x << "," << y;
                }
            }
        }
    }
}

TEST(ImageHandle, ExtractRect) {
    CImgBuff src, dst;
    Make(src, 20, 15, kImgRgb32, 3);
    ASSERT_EQ(src.ExtractRect(&dst, 5, 5, 5, 5), 1);
    EXPECT_EQ(dst.buffer->width, 1);
    EXPECT_EQ(dst.buffer->height, 1);
    EXPECT_EQ(imgtest::GetRaw(*dst.buffer, 0, 0), imgtest::GetRaw(*src.buffer, 5, 5));

    ASSERT_EQ(src.ExtractRect(&dst, 2, 3, 19, 14), 1);
    EXPECT_EQ(dst.buffer->format, kImgRgb32);
    EXPECT_EQ(dst.buffer->width, 18);
    EXPECT_EQ(dst.buffer->height, 12);
    for (int32_t y = 0; y < 12; ++y)
        for (int32_t x = 0; x < 18; ++x)
            ASSERT_EQ(imgtest::GetRaw(*dst.buffer, x, y), imgtest::GetRaw(*src.buffer, x + 2, y + 3));

    // Refused arguments leave the destination untouched.
    C_ImgBuff keep;
    keep.CopyFrom(dst.buffer);
    struct {
        int32_t x0, y0, x1, y1;
    } refused[] = {{6, 5, 5, 5}, {5, 6, 5, 5}, {-1, 0, 3, 3}, {0, -1, 3, 3}, {0, 0, 20, 3}, {0, 0, 3, 15}};
    for (const auto& r : refused) {
        EXPECT_EQ(src.ExtractRect(&dst, r.x0, r.y0, r.x1, r.y1), 0) << r.x0 << " " << r.y0 << " " << r.x1 << " " << r.y1;
        EXPECT_TRUE(SamePixels(*dst.buffer, keep));
    }
    CImgBuff empty;
    EXPECT_EQ(empty.ExtractRect(&dst, 0, 0, 0, 0), 0);
    EXPECT_TRUE(SamePixels(*dst.buffer, keep));
}

TEST(ImageHandle, ExtractIntoItselfKeepsTheSourceUntilCopied) {
    for (int32_t w : {20, 300}) {  // inline and on the pool
        CImgBuff h;
        Make(h, w, 40, kImgHsv16, 4);
        C_ImgBuff orig;
        orig.CopyFrom(h.buffer);
        ASSERT_EQ(h.ExtractRect(&h, 3, 4, w - 2, 38), 1);
        ASSERT_EQ(h.buffer->width, w - 4);
        ASSERT_EQ(h.buffer->height, 35);
        for (int32_t y = 0; y < 35; ++y)
            for (int32_t x = 0; x < w - 4; ++x)
                ASSERT_EQ(imgtest::GetRaw(*h.buffer, x, y), imgtest::GetRaw(orig, x + 3, y + 4)) << w;
    }
}

TEST(ImageHandle, CopyFromItselfKeepsTheImage) {
    CImgBuff h, other;
    Make(h, 9, 7, kImgCmyk8, 5);
    C_ImgBuff orig;
    orig.CopyFrom(h.buffer);
    EXPECT_EQ(h.CopyFrom(&h), &h);
    EXPECT_TRUE(SamePixels(*h.buffer, orig));
    other.CopyFrom(&h);
    EXPECT_TRUE(SamePixels(*other.buffer, orig));
    h.FreePixels();
    EXPECT_EQ(h.buffer->format, 0);
    EXPECT_EQ(h.buffer->pixels, nullptr);
}

TEST(ImageHandle, ClipRect) {
    CImgBuff img;
    Make(img, 40, 30, kImgGray8, 1);
    struct {
        ImgRect in;
        bool withImage;
        int32_t result;
        ImgRect out;
    } cases[] = {
        {{-10, 20, 50, -5}, true, 1, {0, 0, 39, 20}},  // reordered, raised, lowered
        {{50, 0, 60, 10}, true, 0, {}},                // right of the image
        {{0, 30, 5, 40}, true, 0, {}},                 // below the image
        {{-5, -5, -1, 10}, true, 0, {}},               // left of the image
        {{10, -7, 3, -1}, true, 0, {}},                // above the image
        {{3, 4, 10, 12}, true, 1, {3, 4, 10, 12}},     // inside: unchanged
        {{39, 29, 39, 29}, true, 1, {39, 29, 39, 29}},
        {{-10, 20, 500, -5}, false, 1, {0, 0, 500, 20}},  // no image: lower bounds only
    };
    for (const auto& c : cases) {
        ImgRect r = c.in;
        EXPECT_EQ(ImgClipRect(&r, c.withImage ? &img : nullptr), c.result)
            << c.in.x0 << " " << c.in.y0 << " " << c.in.x1 << " " << c.in.y1;
        if (c.result) {
            EXPECT_EQ(r.x0, c.out.x0);
            EXPECT_EQ(r.y0, c.out.y0);
            EXPECT_EQ(r.x1, c.out.x1);
            EXPECT_EQ(r.y1, c.out.y1);
        }
    }
    CImgBuff empty;
    ImgRect r{-3, 2, 1000, 5};
    EXPECT_EQ(ImgClipRect(&r, &empty), 1);  // an empty image does not clip
    EXPECT_EQ(r.x0, 0);
    EXPECT_EQ(r.x1, 1000);
}

TEST(ImageHandle, GetRoi) {
    CImgBuff img, empty;
    ImgRect out{9, 9, 9, 9};
    EXPECT_EQ(ImgGetRoi(&out, &empty, nullptr), 0);
    EXPECT_EQ(out.x0 | out.y0 | out.x1 | out.y1, 0);
    Make(img, 640, 480, kImgGray8, 1);
    EXPECT_EQ(ImgGetRoi(&out, &img, nullptr), 1);
    EXPECT_EQ(out.x0, 0);
    EXPECT_EQ(out.y0, 0);
    EXPECT_EQ(out.x1, 639);
    EXPECT_EQ(out.y1, 479);
    ImgRect in{700, 0, 800, 10};
    out = ImgRect{9, 9, 9, 9};
    EXPECT_EQ(ImgGetRoi(&out, &img, &in), 0);
    EXPECT_EQ(out.x0 | out.y0 | out.x1 | out.y1, 0);
    in = ImgRect{600, 470, 10, 500};
    EXPECT_EQ(ImgGetRoi(&out, &img, &in), 1);
    EXPECT_EQ(out.x0, 10);
    EXPECT_EQ(out.y0, 470);
    EXPECT_EQ(out.x1, 600);
    EXPECT_EQ(out.y1, 479);
    EXPECT_EQ(in.x0, 600);  // the caller's region is not changed
}

}  // namespace
