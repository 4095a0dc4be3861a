// Turning and scaling an image about a centre point, with the angle wrap and
// the work renderings that the resampling kernels share.
#pragma once

#include <cstdint>
#include <memory>

#include "image/imgbuff.h"

// The angle in degrees wrapped into [-180, 180] by whole turns, with the
// result that stepping by 360 would give (180 and -180 stay), in constant
// time. False, with nothing written, for a non-finite angle.
bool ImgWrapDegrees(double degrees, double* wrapped);
// The wrapped angle in radians (x 3.141592653589793 / 180); NaN for a
// non-finite angle.
double ImgNormalizeAngleRad(double degrees);

// An image rendered in the format of one accessor: grey or RGB at 8, 16 or
// 32 bits (formats 1-6), rows without padding, spare bytes after the last
// row for reads that run past a pixel.
struct ImgWorkPlane {
    std::unique_ptr<uint8_t[]> block;
    uint8_t* pixels = nullptr;
    int32_t width = 0, height = 0, format = 0;
    uint64_t stride = 0;  // bytes per row
};
// The rendering through which the resampling kernels read a format: grey
// and RGB formats as they are, CMYK at 8-bit RGB, HSV at 16-bit RGB, XYZ at
// 32-bit RGB.
int32_t ImgResampleFormat(int32_t format);
// Renders the image as the getters of `workFormat` (1-6) read it. False when
// memory runs out.
bool ImgMakeWorkPlane(const C_ImgBuff& image, int32_t workFormat, ImgWorkPlane* out);
// The same without a copy where the image is in the work format already
// (the plane then reads the image's own pixels, with no spare bytes).
bool ImgViewWorkPlane(const C_ImgBuff& image, int32_t workFormat, ImgWorkPlane* out);

// A resampled channel value: the maximum of the channel type at or above
// it, 0 at or below 0 (and for NaN), else truncated toward zero.
template <class T>
constexpr double ImgChannelMax() {
    return sizeof(T) == 1 ? 255.0 : sizeof(T) == 2 ? 65535.0 : 4294967295.0;
}
template <class T>
T ImgStoreSample(double r) {
    if (!(r > 0.0)) return 0;
    if (r >= ImgChannelMax<T>()) return static_cast<T>(ImgChannelMax<T>());
    return static_cast<T>(r);
}
// Writes n pixels given in `workFormat` into row y of the image from x0, as
// the setters of that format store them.
void ImgStoreWorkRow(C_ImgBuff& image, int32_t x0, int32_t y, int32_t n, int32_t workFormat, const void* values);

// Job of the rotation row workers; read only.
struct RotateScaleJob {
    const ImgWorkPlane* scratch;  // the image before the call, read
    CImgBuff* image;              // written
    int32_t cx, cy;               // source point brought to the output centre
    int32_t ox, oy;               // output centre ((width - 1) / 2, (height - 1) / 2)
    int32_t mirror;
    double sinT, cosT;
    double invScale;
    int32_t x0, y0, x1, y1;  // output rectangle: the whole image
    uint16_t whiteOutside;   // > 0: what comes from outside is the channel maximum
};
// Row workers by accessor: image rows first .. first + count - 1.
void ImgRotateScaleGray8Rows(void* job, uint64_t first, uint64_t count);
void ImgRotateScaleGray16Rows(void* job, uint64_t first, uint64_t count);
void ImgRotateScaleGray32Rows(void* job, uint64_t first, uint64_t count);
void ImgRotateScaleRgb8Rows(void* job, uint64_t first, uint64_t count);
void ImgRotateScaleRgb16Rows(void* job, uint64_t first, uint64_t count);
void ImgRotateScaleRgb32Rows(void* job, uint64_t first, uint64_t count);

// Turns the image by `angle` degrees (clockwise as displayed) and scales it
// by `scale` about source point (cx, cy), which lands on the output centre
// ((width - 1) / 2, (height - 1) / 2); mirrors the result left-right when
// `mirror` is set. Bilinear samples, truncated; what comes from outside the
// source is the channel maximum when `whiteOutside` > 0, else 0. CMYK, HSV
// and XYZ are resampled in their RGB rendering. 1 done; 0 refused (no
// image, scale not above 0 or not finite, angle not finite, no memory),
// image unchanged.
int32_t ImgRotateScale(CImgBuff* image, int32_t cx, int32_t cy, double angle, double scale, int32_t mirror, uint16_t whiteOutside);
