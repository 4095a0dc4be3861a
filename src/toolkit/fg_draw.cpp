#include "toolkit/fg_draw.h"

#include <GL/gl.h>

#include <algorithm>
#include <climits>

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

void FgScissorRect(CFgScreen* screen, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    if (!screen) return;
    const int64_t h = screen->renderHeight ? screen->renderHeight : static_cast<int64_t>(screen->height);
    const int64_t w = std::max<int64_t>(0, static_cast<int64_t>(x1) - x0 + 1);
    const int64_t rows = std::max<int64_t>(0, static_cast<int64_t>(y1) - y0 + 1);
    glEnable(GL_SCISSOR_TEST);
    glScissor(x0, static_cast<GLint>(h - 1 - y1), static_cast<GLsizei>(std::min<int64_t>(w, INT32_MAX)),
              static_cast<GLsizei>(std::min<int64_t>(rows, INT32_MAX)));
}

void FgFillRects(CFgScreen* screen, const FgColorRect* rects, size_t count) {
    if (!screen || !rects || count == 0) return;
    glBegin(GL_QUADS);
    for (size_t i = 0; i < count; ++i) {
        const FgColorRect& r = rects[i];
        if (!r.color) continue;
        const double left = screen->PixelToGlX(r.x0);
        const double right = screen->PixelToGlX(r.x1 + 1.0);
        const double top = screen->PixelToGlY(r.y0);
        const double bottom = screen->PixelToGlY(r.y1 + 1.0);
        glColor3dv(r.color);
        glVertex2d(left, top);
        glVertex2d(right, top);
        glVertex2d(right, bottom);
        glVertex2d(left, bottom);
    }
    glEnd();
}
