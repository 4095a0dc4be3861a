// Pixel-addressed drawing primitives shared by controls, menus and the
// progress box. Rectangles are given by inclusive pixel corners.
#pragma once

#include <cstddef>
#include <cstdint>

class CFgScreen;

// Quad with the corner points (a, b), (c, b), (c, d), (a, d).
void FgDrawQuad(CFgScreen* screen, double a, double b, double c, double d, const double* color);
void FgFillRect(CFgScreen* screen, int32_t x0, int32_t y0, int32_t x1, int32_t y1, const double* color);
// Outer colour over the rectangle, inner colour one pixel inside it.
void FgDrawFrame(CFgScreen* screen, int32_t x0, int32_t y0, int32_t x1, int32_t y1, const double* inner,
                 const double* outer);
// Raised face: a light top-left edge and a dark bottom-right edge.
void FgDrawBevel(CFgScreen* screen, int32_t x0, int32_t y0, int32_t x1, int32_t y1, const double* face,
                 const double* light, const double* dark);
// Restricts drawing to the inclusive pixel rectangle of the screen's
// render size with the scissor test (the caller disables GL_SCISSOR_TEST);
// the same pixels as the stencil clip without clearing the stencil buffer.
void FgScissorRect(CFgScreen* screen, int32_t x0, int32_t y0, int32_t x1, int32_t y1);

// One filled rectangle of a batch (inclusive pixel corners).
struct FgColorRect {
    int32_t x0, y0, x1, y1;
    const double* color;
};
// The same pixels as FgFillRect for each rectangle in order, in one batch.
void FgFillRects(CFgScreen* screen, const FgColorRect* rects, size_t count);
