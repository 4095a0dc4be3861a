#include "filters/analysis/overlay_pen.h"

#include <GL/gl.h>

#include <cmath>

namespace {

class GlPen : public COverlayPen {
public:
    void Colour(double red, double green, double blue) override { glColor3d(red, green, blue); }
    void Line(double x1, double y1, double x2, double y2) override {
        glBegin(GL_LINES);
        glVertex2d(x1, y1);
        glVertex2d(x2, y2);
        glEnd();
    }
    void Triangle(double x1, double y1, double x2, double y2, double x3, double y3) override {
        glBegin(GL_TRIANGLES);
        glVertex2d(x1, y1);
        glVertex2d(x2, y2);
        glVertex2d(x3, y3);
        glEnd();
    }
    void Quad(double x1, double y1, double x2, double y2) override {
        glBegin(GL_QUADS);
        glVertex2d(x1, y1);
        glVertex2d(x2, y1);
        glVertex2d(x2, y2);
        glVertex2d(x1, y2);
        glEnd();
    }
};

GlPen glPen;
COverlayPen* currentPen = &glPen;

}  // namespace

COverlayPen* OverlayPen() { return currentPen; }

COverlayPen* SetOverlayPen(COverlayPen* pen) {
    COverlayPen* previous = currentPen;
    currentPen = pen ? pen : &glPen;
    return previous;
}

void OverlayMapPoint(const OverlayRect& rect, double x, double y, int32_t* outX, int32_t* outY) {
    x -= rect.imageX0;
    y -= rect.imageY0;
    const int32_t z = rect.zoom;
    if (z == 0 || z == -1) {
        // Fitted views: the scale of each axis, sizes counted inclusively.
        const double iw = static_cast<double>(rect.imageX1) - rect.imageX0 + 1;
        const double ih = static_cast<double>(rect.imageY1) - rect.imageY0 + 1;
        const double vw = static_cast<double>(rect.viewX1) - rect.viewX0 + 1;
        const double vh = static_cast<double>(rect.viewY1) - rect.viewY0 + 1;
        if (iw > 0) x *= vw / iw;
        if (ih > 0) y *= vh / ih;
    } else if (z >= 2) {
        x *= z;
        y *= z;
    } else if (z <= -2) {
        x /= -static_cast<double>(z);
        y /= -static_cast<double>(z);
    }
    *outX = static_cast<int32_t>(std::lround(x + rect.viewX0));
    *outY = static_cast<int32_t>(std::lround(y + rect.viewY0));
}
