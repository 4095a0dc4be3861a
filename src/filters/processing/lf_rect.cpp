#include "filters/processing/lf_rect.h"

#include <GL/gl.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <new>

#include "filters/core/cfgfile.h"
#include "filters/core/filterctrl.h"
#include "filters/processing/filter_settings.h"
#include "image/imgbuff.h"

CImgFilter* CreateLfRect() { return new (std::nothrow) CLfRect; }

const wchar_t* CLfRect::GetName(const wchar_t* languageCode) {
    return languageCode && std::wcscmp(languageCode, L"jp") == 0 ? L"処理領域" : L"Process rect";
}

CLfRect::Rect CLfRect::Get() const {
    std::lock_guard<std::mutex> hold(lock_);
    return rect_;
}

void CLfRect::Set(const Rect& r) {
    std::lock_guard<std::mutex> hold(lock_);
    rect_ = r;
}

int32_t CLfRect::Filter(CImgBuff* image, uint64_t, int64_t* x, int64_t* y, int64_t* w, int64_t* h, uint32_t*,
                        uint32_t*, uint32_t*, uint32_t*) {
    const Rect r = Get();
    if (r.set) {
        *x = static_cast<int64_t>(r.x);
        *y = static_cast<int64_t>(r.y);
        *w = static_cast<int64_t>(r.w);
        *h = static_cast<int64_t>(r.h);
    } else if (image && image->buffer && image->buffer->format >= 1 && image->buffer->format <= 9) {
        *x = *y = 0;
        *w = image->buffer->width;
        *h = image->buffer->height;
    }
    return 1;
}

void CLfRect::Rerun() {
    if (enabled && owner) owner->Refilter(0);
}

void CLfRect::OnLButtonDown(int64_t px, int64_t py, uint32_t) {
    if (dragMode != 0) return;
    dragMode = 1;
    anchorX = lastX = static_cast<uint64_t>(px);
    anchorY = lastY = static_cast<uint64_t>(py);
    Set({1, anchorX, anchorY, 1, 1});
    Rerun();
}

void CLfRect::OnRButtonDown(int64_t px, int64_t py, uint32_t) {
    if (dragMode != 0) return;
    const Rect r = Get();
    const auto ux = static_cast<uint64_t>(px), uy = static_cast<uint64_t>(py);
    if (!r.set || ux < r.x || ux - r.x >= r.w || uy < r.y || uy - r.y >= r.h) return;
    dragMode = 2;
    moveOriginX = r.x;
    moveOriginY = r.y;
    anchorX = lastX = ux;
    anchorY = lastY = uy;
}

namespace {

// The move of one axis, kept inside the source: the far-edge limit applies
// last, then the origin is kept at 0 or more (a rectangle larger than the
// source stays at its near edge instead of wrapping).
uint64_t MovedOrigin(uint64_t origin, uint64_t size, int64_t delta, uint64_t sourceSize) {
    int64_t o = static_cast<int64_t>(origin);
    int64_t d = delta;
    if (o + d < 0) d = -o;
    if (o + static_cast<int64_t>(size) - 1 + d >= static_cast<int64_t>(sourceSize))
        d = static_cast<int64_t>(sourceSize) - static_cast<int64_t>(size) - o;
    return static_cast<uint64_t>(std::max<int64_t>(o + d, 0));
}

}  // namespace

void CLfRect::OnMouseMove(int64_t px, int64_t py, uint32_t) {
    if (dragMode != 1 && dragMode != 2) return;
    const auto ux = static_cast<uint64_t>(px), uy = static_cast<uint64_t>(py);
    if (ux == lastX && uy == lastY) return;
    lastX = ux;
    lastY = uy;
    Rect r = Get();
    if (dragMode == 1) {
        r.x = std::min(anchorX, ux);
        r.y = std::min(anchorY, uy);
        r.w = std::max(anchorX, ux) - r.x + 1;
        r.h = std::max(anchorY, uy) - r.y + 1;
    } else {
        const int64_t dx = static_cast<int32_t>(ux - anchorX), dy = static_cast<int32_t>(uy - anchorY);
        r.x = MovedOrigin(moveOriginX, r.w, dx, CImgFilter::width);
        r.y = MovedOrigin(moveOriginY, r.h, dy, CImgFilter::height);
    }
    Set(r);
    Rerun();
}

void CLfRect::OnLButtonUp(int64_t, int64_t, uint32_t) { dragMode = 0; }
void CLfRect::OnRButtonUp(int64_t, int64_t, uint32_t) { dragMode = 0; }

void CLfRect::OutlineCorners(const Rect& r, int32_t dx0, int32_t dy0, int32_t dx1, int32_t dy1, int32_t ix0,
                             int32_t iy0, int32_t ix1, int32_t iy1, int32_t zoom, int32_t c[4]) {
    int32_t left = static_cast<int32_t>(r.x) - ix0, top = static_cast<int32_t>(r.y) - iy0;
    int32_t right = left + static_cast<int32_t>(r.w) - 1, bottom = top + static_cast<int32_t>(r.h) - 1;
    if (zoom == 0 || zoom == -1) {
        const double rx = static_cast<double>(dx1 - dx0 + 1) / (ix1 - ix0 + 1);
        const double ry = static_cast<double>(dy1 - dy0 + 1) / (iy1 - iy0 + 1);
        if (rx >= 2.0) ++right;
        if (ry >= 2.0) ++bottom;
        left = static_cast<int32_t>(left * rx);
        right = static_cast<int32_t>(right * rx);
        top = static_cast<int32_t>(top * ry);
        bottom = static_cast<int32_t>(bottom * ry);
    } else if (zoom >= 2) {
        left *= zoom;
        top *= zoom;
        right = (right + 1) * zoom - 1;
        bottom = (bottom + 1) * zoom - 1;
    } else if (zoom <= -2) {
        left /= -zoom;
        top /= -zoom;
        right /= -zoom;
        bottom /= -zoom;
    }
    c[0] = left + dx0;
    c[1] = top + dy0;
    c[2] = right + dx0;
    c[3] = bottom + dy0;
}

void CLfRect::OnOverlayView(OverlayToGlFn toGlX, OverlayToGlFn toGlY, CFgScreen*, CFgFont*, int32_t dx0, int32_t dy0,
                            int32_t dx1, int32_t dy1, int32_t ix0, int32_t iy0, int32_t ix1, int32_t iy1,
                            int32_t zoom) {
    const Rect r = Get();
    if (!r.set || !toGlX || !toGlY) return;
    int32_t c[4];
    OutlineCorners(r, dx0, dy0, dx1, dy1, ix0, iy0, ix1, iy1, zoom, c);
    glColor3d(guideRed, guideGreen, guideBlue);
    glBegin(GL_POINTS);
    glVertex2d(toGlX(c[0]), toGlY(c[1]));
    glEnd();
    glBegin(GL_LINE_LOOP);
    glVertex2d(toGlX(c[0]), toGlY(c[1]));
    glVertex2d(toGlX(c[2]), toGlY(c[1]));
    glVertex2d(toGlX(c[2]), toGlY(c[3]));
    glVertex2d(toGlX(c[0]), toGlY(c[3]));
    glEnd();
}

void CLfRect::SaveConfig(CCfgPack* pack) {
    CImgFilter::SaveConfig(pack);
    if (!pack) return;
    const Rect r = Get();
    pack->AddItem(L"set", r.set ? L"1" : L"0");
    const uint64_t values[4] = {r.x, r.y, r.w, r.h};
    const wchar_t* keys[4] = {L"x", L"y", L"w", L"h"};
    for (int i = 0; i < 4; ++i) {
        wchar_t text[32];
        std::swprintf(text, 32, L"%lu", static_cast<unsigned long>(values[i]));
        pack->AddItem(keys[i], text);
    }
}

void CLfRect::LoadConfig(CCfgPack* pack) {
    CImgFilter::LoadConfig(pack);
    if (!pack) return;
    Rect r = Get();
    uint64_t values[4] = {};
    const wchar_t* keys[4] = {L"x", L"y", L"w", L"h"};
    bool complete = true;
    for (int i = 0; i < 4 && complete; ++i) {
        const wchar_t* text = CfgFindValue(pack, keys[i]);
        if (!text) {
            complete = false;
            break;
        }
        values[i] = std::wcstoull(text, nullptr, 10);
    }
    if (!complete) {
        // The fields read by this load go back to 0; the set flag stays.
        uint64_t* fields[4] = {&r.x, &r.y, &r.w, &r.h};
        for (int i = 0; i < 4 && CfgFindValue(pack, keys[i]); ++i) *fields[i] = 0;
        Set(r);
        return;
    }
    // A rectangle of no width or height, or one reaching beyond the signed
    // 64-bit region of a run, is refused: the rectangle stays, and so does
    // the set flag unless the section clears it.
    const uint64_t limit = uint64_t{1} << 63;
    const bool fits = values[2] != 0 && values[3] != 0 && values[0] < limit && values[2] <= limit - values[0] &&
                      values[1] < limit && values[3] <= limit - values[1];
    if (fits) {
        r.x = values[0];
        r.y = values[1];
        r.w = values[2];
        r.h = values[3];
    }
    if (const wchar_t* set = CfgFindValue(pack, L"set")) {
        if (std::wcscmp(set, L"0") == 0) r.set = 0;
        if (std::wcscmp(set, L"1") == 0 && fits) r.set = 1;
    }
    Set(r);
}
