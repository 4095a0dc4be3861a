// Overlay drawing of the active chain and the display-to-OpenGL coordinate
// converters that the filters draw with.
#include <cmath>

#include "filters/core/filterctrl.h"
#include "toolkit/fg_screen.h"

namespace {

// Painting happens on the user-interface thread only.
CFgScreen* g_OverlayScreen = nullptr;
bool g_OverlayToTexture = false;
double g_OverlayTexWidth = 0.0;
double g_OverlayTexHeight = 0.0;

}  // namespace

void OverlaySetScreenTarget(CFgScreen* screen) { g_OverlayScreen = screen; }

void OverlaySetTextureTarget(uint64_t texWidth, uint64_t texHeight) {
    g_OverlayToTexture = texWidth > 0 && texHeight > 0;
    g_OverlayTexWidth = static_cast<double>(texWidth);
    g_OverlayTexHeight = static_cast<double>(texHeight);
}

double OverlayPixelToGlX(int32_t x) {
    double w;
    if (g_OverlayToTexture)
        w = g_OverlayTexWidth;
    else if (g_OverlayScreen && g_OverlayScreen->width > 0)
        w = static_cast<double>(g_OverlayScreen->width);
    else
        return 0.0;
    return (x - w / 2) / (w / 2) + 1.0 / w;
}

double OverlayPixelToGlY(int32_t y) {
    if (g_OverlayToTexture) {
        const double h = g_OverlayTexHeight;
        return (y - h / 2) / (h / 2) + 1.0 / h;
    }
    if (!g_OverlayScreen || g_OverlayScreen->height == 0) return 0.0;
    // Screen rows run downwards, OpenGL's upwards.
    const double h = static_cast<double>(g_OverlayScreen->height);
    return ((h - y) - h / 2) / (h / 2) - 0.5 / h;
}

void OverlayPixelToGl(double* x, double* y) {
    // Whole pixels; values beyond the i32 range are held at its ends.
    auto whole = [](double v) {
        if (!(v > -2147483648.0)) return INT32_MIN;
        if (!(v < 2147483647.0)) return INT32_MAX;
        return static_cast<int32_t>(std::trunc(v));
    };
    if (x) *x = OverlayPixelToGlX(whole(*x));
    if (y) *y = OverlayPixelToGlY(whole(*y));
}

void CFilterCtrl::DrawOverlays(CFgScreen* screen, CFgFont* font, int32_t dx0, int32_t dy0, int32_t dx1, int32_t dy1,
                               int32_t ix0, int32_t iy0, int32_t ix1, int32_t iy1, int32_t zoom) {
    if (!screen || !screen->context) return;
    if (dx0 > dx1 || dy0 > dy1 || ix0 > ix1 || iy0 > iy1) return;
    // Runs beside the worker: the chain is only edited on this thread.
    for (CImgFilter* f : chains[activeChain].filters) {
        if (!f->enabled) continue;
        f->OnOverlayView(OverlayPixelToGlX, OverlayPixelToGlY, screen, font, dx0, dy0, dx1, dy1, ix0, iy0, ix1, iy1,
                         zoom);
    }
}
