// Placing an image in a plane, scaled and turned about its own centre and
// moved, into a new image just large enough to hold it, with a mask of how
// much of each output pixel it covers.
#pragma once

#include <cstdint>

#include "image/imgbuff.h"

struct ImgWorkPlane;

// The placement: source centre, offset, the turn and its inverse, the scale
// and its inverse.
struct OverlapGeometry {
    double cx, cy;
    double dx, dy;
    double sinA, cosA;
    double s;
    double sinNeg, cosNeg;
    double invS;
};

// Job of the row workers: output rows first .. first + count - 1, columns
// 0 .. width - 1.
struct OverlapTransformJob {
    const CImgBuff* source;
    CImgBuff* output;
    CImgBuff* mask;
    OverlapGeometry geometry;
    int32_t minX, minY;
    int32_t width, height;
    const ImgWorkPlane* plane;  // the source as its accessor reads it
};
void ImgOverlapTransformGray8Rows(void* job, uint64_t first, uint64_t count);
void ImgOverlapTransformGray16Rows(void* job, uint64_t first, uint64_t count);
void ImgOverlapTransformGray32Rows(void* job, uint64_t first, uint64_t count);
void ImgOverlapTransformRgb8Rows(void* job, uint64_t first, uint64_t count);
void ImgOverlapTransformRgb16Rows(void* job, uint64_t first, uint64_t count);
void ImgOverlapTransformRgb32Rows(void* job, uint64_t first, uint64_t count);

// The box of the placed corners, each extreme rounded away from zero (a
// positive non-integer up, a negative one down). True when minX < maxX and
// minY < maxY and the box lies within 32-bit coordinates.
bool ImgOverlapBounds(const OverlapGeometry& g, int32_t width, int32_t height, int32_t* minX, int32_t* minY, int32_t* maxX,
                      int32_t* maxY);

// Places the source scaled by `scale`, turned by `angle` degrees (clockwise
// as displayed) about its centre ((width - 1) / 2, (height - 1) / 2) and
// moved by (dx, dy); renders it into `output` (re-created at the box size,
// the source's format) and `mask` (8-bit grey, 255 where the output pixel
// lies wholly on the placed image, 0 where wholly off it), and writes the
// plane position of the output's top-left pixel. Bilinear samples from the
// neighbours that lie inside the source, weighted by their share. 1 done;
// 0 refused: no source, a non-finite angle, scale or offset, an empty box
// or one beyond 32-bit coordinates, no memory (the output's pixels then
// released).
int32_t ImgOverlapTransform(const CImgBuff* source, double dx, double dy, double angle, double scale, CImgBuff* output, CImgBuff* mask,
                            int32_t* outX0, int32_t* outY0);
