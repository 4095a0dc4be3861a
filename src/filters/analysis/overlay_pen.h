// The few drawing primitives the analysis overlays use. Drawing goes through
// the current pen, an OpenGL pen by default; tests install a recorder.
#pragma once

#include <cstdint>

#include "filters/core/imgfilter.h"

// The view and image rectangles and the zoom code an overlay step receives.
struct OverlayRect {
    int32_t viewX0 = 0, viewY0 = 0, viewX1 = 0, viewY1 = 0;
    int32_t imageX0 = 0, imageY0 = 0, imageX1 = 0, imageY1 = 0;
    int32_t zoom = 1;
};

class COverlayPen {
public:
    virtual ~COverlayPen() = default;
    virtual void Colour(double red, double green, double blue) = 0;
    // Coordinates are already mapped to GL.
    virtual void Line(double x1, double y1, double x2, double y2) = 0;
    virtual void Triangle(double x1, double y1, double x2, double y2, double x3, double y3) = 0;
    // A filled axis-aligned quad between two corners.
    virtual void Quad(double x1, double y1, double x2, double y2) = 0;
};

// The pen drawing now; never null.
COverlayPen* OverlayPen();
// Installs a pen (null restores the OpenGL pen); returns the previous one.
COverlayPen* SetOverlayPen(COverlayPen* pen);

// Maps an image point to the screen: relative to the image rectangle, scaled
// by the zoom code, moved to the view and rounded to whole pixels (halves
// away from zero). Results are view pixels before the to-GL functions.
void OverlayMapPoint(const OverlayRect& rect, double x, double y, int32_t* outX, int32_t* outY);
