// Correcting the perspective of a picture of a flat scene taken obliquely:
// the image re-rendered as seen square-on to the scene plane, optionally
// turned in the plane and zoomed.
#pragma once

#include <cstdint>

#include "image/imgbuff.h"

struct ImgWorkPlane;

// A camera's focal lengths and principal point, in pixels.
struct CameraMatrix {
    double fx, fy;
    double cx, cy;
};
// fx = focal / (pixel width / 1000), fy likewise, cx = width x 0.5,
// cy = height x 0.5. 0 for a null record or any value not above 0.
int32_t ImgCameraMatrixFromSensor(CameraMatrix* out, double focalMm, uint32_t width, uint32_t height, double pixelWidthUm,
                                  double pixelHeightUm);

// {sin x, cos x, sin(-x), cos(-x)} of the angle wrapped into [-180, 180]
// degrees, converted as (x / 180) x 3.141592653589793. 0 (nothing
// written) for a non-finite angle.
int32_t ImgAngleSinCos(double* out, double degrees);

// The eye and the scene plane N.P + D = 0 with its depth d0 and the sin/cos
// records of pan and tilt.
struct PerspectiveEye {
    double x, y, z;
};
struct PerspectivePlane {
    double nx, ny, nz;
    double d;
    double depth;
    double pan[4];
    double tilt[4];
};
// Image point (x, y) to plane coordinates (u, v): the eye ray through
// (x, y, 0) met with the plane, pan and tilt undone, then turned by the
// roll. 0 when the ray is parallel to the plane.
int32_t ImgPerspectiveProject(const PerspectivePlane* plane, const PerspectiveEye* eye, double x, double y, double* u, double* v,
                              double* depth, const double* roll);
// 1 when the plane's z = -(Nx x + Ny y + D) / Nz is at least 0 at (width, 0),
// (0, height) and (width, height).
int32_t ImgPerspectivePlaneInFront(int32_t width, int32_t height, const PerspectivePlane* plane);

// Job of the row workers; read only.
struct PerspectiveJob {
    CImgBuff* image;              // written
    const ImgWorkPlane* scratch;  // the image before the call, as its worker reads it
    int32_t x0, y0, x1, y1;       // the whole image
    const PerspectiveEye* eye;
    const PerspectivePlane* plane;
    const double* roll;
    double umin, vmin, du, dv;
    int32_t width, height;
    int32_t fill;  // 0, or 255 for the 8-bit formats and 65535 for the others
};
// Row workers by accessor: 8-bit grey (format 1), 16-bit grey (2, 3),
// 8-bit RGB (4, 9), 16-bit RGB (5-8).
void ImgPerspectiveGray8Rows(void* job, uint64_t first, uint64_t count);
void ImgPerspectiveGray16Rows(void* job, uint64_t first, uint64_t count);
void ImgPerspectiveRgb8Rows(void* job, uint64_t first, uint64_t count);
void ImgPerspectiveRgb16Rows(void* job, uint64_t first, uint64_t count);

// Re-renders the image as seen square-on to a scene plane turned by
// angles[0] (pan) and angles[1] (tilt) degrees from the camera, turned in
// the plane by angles[2] (roll) and zoomed, at the image's size and format.
// Samples at tenths of a pixel in integers; what comes from outside the
// image is black, or with `white` set the format's maximum. 1 done; 0
// refused with the image unchanged: no image, camera or angles, pan or tilt
// not strictly between -90 and 90, a non-finite roll, zoom not above 0 or
// not finite, an eye ray parallel to the plane, a view that cannot be
// framed, or no memory.
int32_t ImgPerspectiveTransform(CImgBuff* image, const CameraMatrix* camera, const double* angles, double zoom, uint32_t white);
