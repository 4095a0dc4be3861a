#include "toolkit/fg_draw.h"

#include <GL/gl.h>

#include "toolkit/fg_screen.h"

void FgDrawQuad(CFgScreen* screen, double a, double b, double c, double d, const double* color) {
    if (!screen || !color) return;
    const double left = screen->PixelToGlX(a);
    const double right = screen->PixelToGlX(c);
    const double top = screen->PixelToGlY(b);
    const double bottom = screen->PixelToGlY(d);
    glColor3dv(color);
    glBegin(GL_QUADS);
    glVertex2d(left, top);
    glVertex2d(right, top);
    glVertex2d(right, bottom);
    glVertex2d(left, bottom);
    glEnd();
}

void FgFillRect(CFgScreen* screen, int32_t x0, int32_t y0, int32_t x1, int32_t y1, const double* color) {
    FgDrawQuad(screen, x0, y0, x1 + 1.0, y1 + 1.0, color);
}

void FgDrawFrame(CFgScreen* screen, int32_t x0, int32_t y0, int32_t x1, int32_t y1, const double* inner,
                 const double* outer) {
    FgDrawQuad(screen, x0, y0, x1 + 1.0, y1 + 1.0, outer);
    FgDrawQuad(screen, x0 + 1.0, y0 + 1.0, x1, y1, inner);
}

void FgDrawBevel(CFgScreen* screen, int32_t x0, int32_t y0, int32_t x1, int32_t y1, const double* face,
                 const double* light, const double* dark) {
    static const double kMidGrey[3] = {0.5, 0.5, 0.5};
    FgDrawQuad(screen, x0, y0, x1 + 1.0, y1 + 1.0, kMidGrey);
    FgDrawQuad(screen, x0, y0, x1, y1, light);
    FgDrawQuad(screen, x0 + 1.0, y0 + 1.0, x1 + 1.0, y1 + 1.0, dark);
    FgDrawQuad(screen, x0 + 1.0, y0 + 1.0, x1, y1, face);
}
