#include "filters/processing/lf_atrans.h"

#include <GL/gl.h>

#include <cmath>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <new>

#include "filters/core/cfgfile.h"
#include "filters/core/filterctrl.h"
#include "image/kernels/rotate_scale.h"

CImgFilter* CreateLfAtrans() { return new (std::nothrow) CLfAtrans; }

namespace {

constexpr double kPi = 3.141592653589793;
// Diagonals shorter than this give no usable zoom.
constexpr double kShortestDiagonal = 22.6;

// Truncated toward zero and held inside the 32-bit range (NaN gives 0), so
// that points computed near the limits never wrap.
int32_t Saturate(double v) {
    if (!(v == v)) return 0;
    if (v >= 2147483647.0) return INT32_MAX;
    if (v <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(v);
}

int32_t Saturate(int64_t v) { return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v); }

// Direction of (dx, dy) in radians, with the vertical and horizontal cases
// exact.
double Direction(double dx, double dy) {
    if (dx == 0) return dy > 0 ? kPi / 2 : -kPi / 2;
    if (dy == 0) return dx > 0 ? 0.0 : kPi;
    return std::atan2(dy, dx);
}

double DirectionDegrees(double dx, double dy) {
    if (dx == 0) return dy > 0 ? 90.0 : -90.0;
    if (dy == 0) return dx > 0 ? 0.0 : 180.0;
    return std::atan2(dy, dx) * 180.0 / kPi;
}

// Half the sum, truncated toward zero, in 64 bits.
int32_t Middle(int32_t a, int32_t b) { return static_cast<int32_t>((static_cast<int64_t>(a) + b) / 2); }

// Up to four comma-separated signed decimal numbers, each saturated to 32
// bits; the count read.
int32_t ReadDiagonal(const wchar_t* text, int32_t out[4]) {
    const wchar_t* p = text;
    for (int32_t i = 0; i < 4; ++i) {
        if (i > 0) {
            if (*p != L',') return i;
            ++p;
        }
        while (std::iswspace(static_cast<wint_t>(*p))) ++p;
        bool negative = false;
        if (*p == L'+' || *p == L'-') negative = *p++ == L'-';
        if (*p < L'0' || *p > L'9') return i;
        int64_t v = 0;
        for (; *p >= L'0' && *p <= L'9'; ++p) v = v > (INT64_MAX - 9) / 10 ? INT64_MAX : v * 10 + (*p - L'0');
        out[i] = Saturate(negative ? -v : v);
    }
    return 4;
}

}  // namespace

CLfAtrans::CLfAtrans() {
    mirrorBox.callback = OnMirror;
    mirrorBox.data = this;
    inputAreaBox.callback = OnInputArea;
    inputAreaBox.data = this;
    setButton.callback = OnSet;
    setButton.data = this;
    AttachControls();
}

PanelSpec CLfAtrans::Panel() {
    const bool jp = Japanese();
    return {L"Zoom", L"部分拡大", 230, 110, 230, 110,
            {
                {&mirrorBox, 10, 10, 85, 20, L"mirror", L"鏡像"},
                {&inputAreaBox, 10, 40, jp ? 85 : 120, 20, L"input area", L"領域指定"},
                {&setButton, 10, 70, 210, 30, L"set", L"決定"},
            }};
}

CLfAtrans::Applied CLfAtrans::Get() const {
    std::lock_guard<std::mutex> hold(lock_);
    return applied_;
}

void CLfAtrans::Set(const Applied& applied) {
    std::lock_guard<std::mutex> hold(lock_);
    applied_ = applied;
}

bool CLfAtrans::TransformFromDiagonal(uint64_t w, uint64_t h, Point a, Point b, Transform* out) {
    if (w == 0 || h == 0) return false;
    // Differences of two 32-bit points need 33 bits: doubles hold them exactly.
    const double dx = static_cast<double>(b.x) - a.x, dy = static_cast<double>(b.y) - a.y;
    const double length = std::hypot(dx, dy);
    if (length == 0 || length < kShortestDiagonal) return false;
    const double wd = static_cast<double>(w), hd = static_cast<double>(h);
    out->scale = std::sqrt(wd * wd + hd * hd) / length;
    out->angle = DirectionDegrees(wd - 1, hd - 1) - DirectionDegrees(dx, dy);
    out->cx = Middle(a.x, b.x);
    out->cy = Middle(a.y, b.y);
    return true;
}

void CLfAtrans::CornersOf(uint64_t w, uint64_t h, Point a, Point b, Point out[4]) {
    const double beta = Direction(static_cast<double>(w) - 1, static_cast<double>(h) - 1);
    const double dx = static_cast<double>(b.x) - a.x, dy = static_cast<double>(b.y) - a.y;
    // The diagonal shortened to a side and turned onto it.
    auto side = [&](double length, double turn) {
        const double vx = dx * length, vy = dy * length;
        const double c = std::cos(turn), s = std::sin(turn);
        return Point{Saturate(a.x + (vx * c - vy * s)), Saturate(a.y + (vy * c + vx * s))};
    };
    out[0] = a;
    out[1] = side(std::cos(beta), -beta);
    out[2] = b;
    out[3] = side(std::sin(beta), kPi / 2 - beta);
}

void CLfAtrans::UpdateCorners() { CornersOf(CImgFilter::width, CImgFilter::height, currentA, currentB, corners); }

void CLfAtrans::RedrawPicture() {
    if (FilterOn() && Chain()) Chain()->Redraw();
}

void CLfAtrans::RedrawPanel() {
    if (PanelShown()) CFgUICtrl::Redraw();
}

void CLfAtrans::ApplyRules() {
    if (CFgUICtrl::enabled) setButton.enabled = inputAreaBox.checked ? 1 : 0;
}

// --- panel ---

void CLfAtrans::OnMirror(CFgUIChkButton* box, void* data) {
    auto* f = static_cast<CLfAtrans*>(data);
    {
        std::lock_guard<std::mutex> hold(f->lock_);
        f->applied_.mirror = box->checked ? 1 : 0;
    }
    f->Rerun(0);
}

void CLfAtrans::OnInputArea(CFgUIChkButton* box, void* data) { static_cast<CLfAtrans*>(data)->SetInputArea(box->checked != 0); }
void CLfAtrans::OnSet(CFgUIButton*, void* data) { static_cast<CLfAtrans*>(data)->ApplyArea(); }

void CLfAtrans::SetInputArea(bool on) {
    inputAreaBox.checked = on ? 1 : 0;
    inputArea_ = on ? 1 : 0;
    if (on) {
        const Applied ap = Get();
        if (ap.enable) {
            // Editing starts from the rectangle in use.
            currentA = ap.a;
            currentB = ap.b;
            drawn = 1;
            UpdateCorners();
        } else {
            drawn = 0;
        }
    }
    ApplyRules();
    RedrawPanel();
    Rerun(0);
}

void CLfAtrans::ApplyArea() {
    if (!InputArea()) return;
    Transform t;
    const uint64_t w = CImgFilter::width, h = CImgFilter::height;
    // A diagonal that gives no transform changes nothing that is applied:
    // the zoom in use (or none) stays, as does what a saved list holds.
    if (TransformFromDiagonal(w, h, currentA, currentB, &t)) {
        std::lock_guard<std::mutex> hold(lock_);
        applied_.a = currentA;
        applied_.b = currentB;
        applied_.sizeW = w;
        applied_.sizeH = h;
        applied_.transform = t;
        applied_.enable = 1;
    }
    drag = kNoDrag;
    inputAreaBox.checked = 0;
    inputArea_ = 0;
    ApplyRules();
    RedrawPanel();
    Rerun(0);
}

// --- settings ---

void CLfAtrans::SaveConfig(CCfgPack* pack) {
    CDialogFilterBase::SaveConfig(pack);
    if (!pack) return;
    const Applied ap = Get();
    pack->AddItem(L"mirror", ap.mirror ? L"1" : L"0");
    pack->AddItem(L"enable", ap.enable ? L"1" : L"0");
    wchar_t text[64];
    std::swprintf(text, 64, L"%ld,%ld,%ld,%ld", static_cast<long>(ap.a.x), static_cast<long>(ap.a.y),
                  static_cast<long>(ap.b.x), static_cast<long>(ap.b.y));
    pack->AddItem(L"diagonal", text);
}

void CLfAtrans::LoadConfig(CCfgPack* pack) {
    CDialogFilterBase::LoadConfig(pack);
    if (!pack) return;
    Applied ap = Get();
    if (const wchar_t* t = CfgFindValue(pack, L"mirror")) {
        if (std::wcscmp(t, L"0") == 0) ap.mirror = 0;
        if (std::wcscmp(t, L"1") == 0) ap.mirror = 1;
    }
    if (const wchar_t* t = CfgFindValue(pack, L"enable")) {
        if (std::wcscmp(t, L"0") == 0) ap.enable = 0;
        if (std::wcscmp(t, L"1") == 0) ap.enable = 1;
    }
    int32_t values[4] = {};
    const wchar_t* diagonal = CfgFindValue(pack, L"diagonal");
    if (!diagonal || ReadDiagonal(diagonal, values) < 4) {
        ap.enable = 0;
    } else {
        ap.a = {values[0], values[1]};
        ap.b = {values[2], values[3]};
    }
    if (ap.enable) {
        currentA = ap.a;
        currentB = ap.b;
        UpdateCorners();
        ap.sizeW = CImgFilter::width;
        ap.sizeH = CImgFilter::height;
        // A diagonal that gives no transform here zooms nothing until an
        // image size it fits arrives, rather than keeping an older zoom.
        if (!TransformFromDiagonal(ap.sizeW, ap.sizeH, ap.a, ap.b, &ap.transform)) ap.transform = {};
    }
    Set(ap);
    mirrorBox.checked = ap.mirror;
    inputAreaBox.checked = 0;
    inputArea_ = 0;
    drawn = 0;
    drag = kNoDrag;
    ApplyRules();
    RedrawPanel();
}

// --- the step ---

int32_t CLfAtrans::OnFilter(CImgBuff* image, uint64_t, int64_t, int64_t, int64_t, int64_t, uint32_t, uint32_t bg,
                            uint32_t*, uint32_t*) {
    // While the area is edited the picture shows unzoomed under it.
    if (InputArea() || !image || !image->buffer || !image->buffer->pixels) return 1;
    Applied ap;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (!applied_.enable) return 1;
        const auto w = static_cast<uint64_t>(image->buffer->width), h = static_cast<uint64_t>(image->buffer->height);
        if (w != applied_.sizeW || h != applied_.sizeH) {
            TransformFromDiagonal(w, h, applied_.a, applied_.b, &applied_.transform);
            applied_.sizeW = w;
            applied_.sizeH = h;
        }
        ap = applied_;
    }
    if (!(ap.transform.scale > 0)) return 1;
    return ImgRotateScale(image, ap.transform.cx, ap.transform.cy, ap.transform.angle, ap.transform.scale,
                          static_cast<int32_t>(ap.mirror), bg ? 1 : 0);
}

// --- mouse and overlay ---

void CLfAtrans::OnLButtonDown(int64_t x, int64_t y, uint32_t flags) {
    if (!InputArea() || drag != kNoDrag) return;
    const Point p{Saturate(x), Saturate(y)};
    dragStartX = x;
    dragStartY = y;
    currentA = currentB = p;
    drawn = 1;
    if (flags & 1) {
        drag = kDrawFree;
    } else {
        drag = kDrawAspect;
        savedA = savedB = p;
    }
    UpdateCorners();
    RedrawPicture();
}

void CLfAtrans::OnRButtonDown(int64_t x, int64_t y, uint32_t flags) {
    if (drag != kNoDrag || !drawn) return;
    const Point m{Middle(currentA.x, currentB.x), Middle(currentA.y, currentB.y)};
    const double px = static_cast<double>(x) - m.x, py = static_cast<double>(y) - m.y;
    const double ax = static_cast<double>(currentA.x) - m.x, ay = static_cast<double>(currentA.y) - m.y;
    if (std::hypot(px, py) > std::hypot(ax, ay)) return;
    dragStartX = x;
    dragStartY = y;
    savedA = currentA;
    savedB = currentB;
    if (flags & 1) {
        drag = kTurn;
        pivot = m;
        startAngle = std::atan2(py, px);
    } else {
        drag = kMove;
    }
}

void CLfAtrans::OnMouseMove(int64_t x, int64_t y, uint32_t) {
    const double xd = static_cast<double>(x), yd = static_cast<double>(y);
    const double sx = static_cast<double>(dragStartX), sy = static_cast<double>(dragStartY);
    switch (drag) {
    case kDrawAspect: {
        if (x <= dragStartX || y <= dragStartY) return;
        const double w = static_cast<double>(CImgFilter::width), h = static_cast<double>(CImgFilter::height);
        if (w >= h) {
            currentB.x = Saturate(x);
            currentB.y = Saturate(currentA.y + std::trunc(w > 1 ? (xd - sx) / (w - 1) * (h - 1) : 0.0));
        } else {
            currentB.y = Saturate(y);
            currentB.x = Saturate(currentA.x + std::trunc(h > 1 ? (yd - sy) / (h - 1) * (w - 1) : 0.0));
        }
        break;
    }
    case kDrawFree:
        currentB = {Saturate(x), Saturate(y)};
        break;
    case kMove:
        currentA = {Saturate(savedA.x + (xd - sx)), Saturate(savedA.y + (yd - sy))};
        currentB = {Saturate(savedB.x + (xd - sx)), Saturate(savedB.y + (yd - sy))};
        break;
    case kTurn: {
        const double theta = std::atan2(yd - pivot.y, xd - pivot.x) - startAngle;
        const double c = std::cos(theta), s = std::sin(theta);
        auto turned = [&](Point p) {
            const double dx = static_cast<double>(p.x) - pivot.x, dy = static_cast<double>(p.y) - pivot.y;
            return Point{Saturate(pivot.x + (dx * c - dy * s)), Saturate(pivot.y + (dy * c + dx * s))};
        };
        currentA = turned(savedA);
        currentB = turned(savedB);
        break;
    }
    default:
        return;
    }
    UpdateCorners();
    RedrawPicture();
}

void CLfAtrans::OnLButtonUp(int64_t, int64_t, uint32_t) {
    if (drag == kDrawAspect || drag == kDrawFree) drag = kNoDrag;
}

void CLfAtrans::OnRButtonUp(int64_t, int64_t, uint32_t) {
    if (drag == kMove || drag == kTurn) drag = kNoDrag;
}

void CLfAtrans::OnOverlayView(OverlayToGlFn toGlX, OverlayToGlFn toGlY, CFgScreen*, CFgFont*, int32_t dx0, int32_t dy0,
                              int32_t dx1, int32_t dy1, int32_t ix0, int32_t iy0, int32_t ix1, int32_t iy1,
                              int32_t zoom) {
    if (!InputArea() || !drawn || !toGlX || !toGlY) return;
    double gx[4], gy[4];
    for (int i = 0; i < 4; ++i) {
        int32_t vx = corners[i].x, vy = corners[i].y;
        MapImageToView(&vx, &vy, dx0, dy0, dx1, dy1, ix0, iy0, ix1, iy1, zoom);
        gx[i] = toGlX(vx);
        gy[i] = toGlY(vy);
    }
    glColor3d(guideRed, guideGreen, guideBlue);
    glBegin(GL_POINTS);
    glVertex2d(gx[0], gy[0]);
    glEnd();
    glBegin(GL_LINE_LOOP);
    for (int i = 0; i < 4; ++i) glVertex2d(gx[i], gy[i]);
    glEnd();
}
