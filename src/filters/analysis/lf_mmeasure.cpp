#include "filters/analysis/lf_mmeasure.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <new>

#include "filters/core/filterctrl.h"
#include "image/imgbuff.h"
#include "platform/plat_messages.h"

CImgFilter* CreateLfMmeasure() { return new (std::nothrow) CLfMmeasure; }

CLfMmeasure::CLfMmeasure() {
    clearButton.callback = OnClear;
    clearButton.data = this;
    AttachControls();
}

PanelSpec CLfMmeasure::Panel() {
    return {L"Manual measurement", L"マニュアル計測", 256, 48, 256, 48,
            {
                {&resultLabel, 8, 8, 184, 32, nullptr, nullptr},
                {&clearButton, 200, 8, 48, 32, L"CLS", L"クリア"},
            }};
}

std::vector<CLfMmeasure::Point> CLfMmeasure::Points() const {
    std::lock_guard<std::mutex> hold(lock_);
    return {points_, points_ + count_};
}

std::wstring CLfMmeasure::Text() const {
    std::lock_guard<std::mutex> hold(lock_);
    return text_;
}

std::wstring CLfMmeasure::ResultText(const Point* p, int32_t count, bool jp, double scale, int32_t axisY,
                                     const wchar_t* unit, uint64_t height) {
    wchar_t text[256] = {};
    const wchar_t* angleHead = jp ? L"内積:" : L"angle:";
    // The inner product of u and v over their lengths; differences and
    // products in doubles, so points at any 32-bit distance stay exact enough.
    // The Japanese label names that product; the English one promises the
    // angle in radians, so it gets acos of the product (kept within [-1, 1]
    // against rounding).
    auto cosine = [&](const Point& ua, const Point& ub, const Point& va, const Point& vb) {
        const double ux = static_cast<double>(int64_t{ub.x} - ua.x), uy = static_cast<double>(int64_t{ub.y} - ua.y);
        const double vx = static_cast<double>(int64_t{vb.x} - va.x), vy = static_cast<double>(int64_t{vb.y} - va.y);
        const double product =
            (ux * vx + uy * vy) / (std::sqrt(ux * ux + uy * uy) * std::sqrt(vx * vx + vy * vy));
        std::swprintf(text, 256, L"%ls%frad", angleHead,
                      jp ? product : std::acos(std::clamp(product, -1.0, 1.0)));
    };
    auto same = [](const Point& a, const Point& b) { return a.x == b.x && a.y == b.y; };
    switch (count) {
        case 1: {
            int64_t y = p[0].y;
            if (axisY < 0) y = static_cast<int64_t>(height) - 1 - y;
            std::swprintf(text, 256, jp ? L"座標(%ld, %ld)" : L"pos(%ld, %ld)", static_cast<long>(p[0].x),
                          static_cast<long>(y));
            break;
        }
        case 2: {
            // The squares in 64 bits: 32-bit sums overflow beyond 46,340 pixels.
            const double dx = static_cast<double>(int64_t{p[1].x} - p[0].x);
            const double dy = static_cast<double>(int64_t{p[1].y} - p[0].y);
            std::swprintf(text, 256, jp ? L"距離:%f%ls" : L"length:%f%ls", std::sqrt(dx * dx + dy * dy) * scale,
                          unit ? unit : L"");
            break;
        }
        case 3:
            if (same(p[0], p[1]) || same(p[2], p[1]))
                std::swprintf(text, 256, L"%ls---", angleHead);
            else
                cosine(p[1], p[0], p[1], p[2]);
            break;
        case 4:
            if (same(p[0], p[1]) || same(p[2], p[3]))
                std::swprintf(text, 256, L"%ls---", angleHead);
            else
                cosine(p[0], p[1], p[2], p[3]);
            break;
        default:
            break;
    }
    return text;
}

void CLfMmeasure::Recompute(bool onWorker) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        const uint64_t h = frameHeight_ ? frameHeight_ : CImgFilter::height;
        text_ = ResultText(points_, count_, Japanese(), calibScale, calibAxisY, calibUnit, h);
    }
    if (onWorker) {
        if (PanelShown()) PlatPostRedraw(window);
        return;
    }
    if (FilterOn() && Chain()) Chain()->Redraw();
    if (PanelShown()) CFgUICtrl::Redraw();
}

void CLfMmeasure::DrawBackground() {
    resultLabel.SetText(Text().c_str());
    CFgUIDialog::DrawBackground();
}

void CLfMmeasure::ShowUi(int32_t show, CFgScreen* parent) {
    CDialogFilter<CLfMmeasure>::ShowUi(show, parent);
    if (show) Recompute(false);
}

void CLfMmeasure::OnEnable(int32_t on) {
    if (on) {
        Recompute(false);
        return;
    }
    {
        std::lock_guard<std::mutex> hold(lock_);
        text_.clear();
    }
    if (PanelShown()) CFgUICtrl::Redraw();
}

int32_t CLfMmeasure::OnFilter(CImgBuff* image, uint64_t, int64_t, int64_t, int64_t, int64_t, uint32_t, uint32_t,
                              uint32_t*, uint32_t*) {
    if (image && image->buffer && image->buffer->format) {
        std::lock_guard<std::mutex> hold(lock_);
        frameHeight_ = static_cast<uint64_t>(image->buffer->height);
    }
    Recompute(true);
    return 1;
}

void CLfMmeasure::OnLButtonDown(int64_t x, int64_t y, uint32_t) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (count_ >= 4) return;
        auto clamp = [](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); };
        points_[count_++] = {clamp(x), clamp(y)};
    }
    Recompute(false);
}

void CLfMmeasure::OnRButtonDown(int64_t, int64_t, uint32_t) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (count_ == 0) return;
        --count_;
    }
    Recompute(false);
}

void CLfMmeasure::ClearPoints() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        count_ = 0;
        text_.clear();
    }
    if (FilterOn() && Chain()) Chain()->Redraw();
    if (PanelShown()) CFgUICtrl::Redraw();
}

void CLfMmeasure::OnClear(CFgUIButton*, void* data) { static_cast<CLfMmeasure*>(data)->ClearPoints(); }

void CLfMmeasure::OnOverlayView(OverlayToGlFn toGlX, OverlayToGlFn toGlY, CFgScreen*, CFgFont*, int32_t dx0,
                                int32_t dy0, int32_t dx1, int32_t dy1, int32_t ix0, int32_t iy0, int32_t ix1,
                                int32_t iy1, int32_t zoom) {
    if (!toGlX || !toGlY) return;
    const std::vector<Point> points = Points();
    if (points.empty()) return;
    Point v[4];
    for (size_t i = 0; i < points.size(); ++i) {
        v[i] = points[i];
        MapImageToView(&v[i].x, &v[i].y, dx0, dy0, dx1, dy1, ix0, iy0, ix1, iy1, zoom);
        // The middle of a magnified pixel.
        if (zoom > 1) {
            v[i].x += zoom / 2;
            v[i].y += zoom / 2;
        }
    }
    auto vertex = [&](int32_t x, int32_t y) { glVertex2d(toGlX(x), toGlY(y)); };
    auto line = [&](const Point& a, const Point& b) {
        glBegin(GL_LINES);
        vertex(a.x, a.y);
        vertex(b.x, b.y);
        glEnd();
    };
    auto point = [&](const Point& a) {
        glBegin(GL_POINTS);
        vertex(a.x, a.y);
        glEnd();
    };
    glColor3d(guideRed, guideGreen, guideBlue);
    switch (points.size()) {
        case 1:
            line({v[0].x - 4, v[0].y}, {v[0].x + 5, v[0].y});
            line({v[0].x, v[0].y - 4}, {v[0].x, v[0].y + 5});
            break;
        case 2:
            line(v[0], v[1]);
            point(v[1]);
            break;
        case 3:
            glBegin(GL_LINE_STRIP);
            for (int i = 0; i < 3; ++i) vertex(v[i].x, v[i].y);
            glEnd();
            point(v[2]);
            break;
        default:
            line(v[0], v[1]);
            point(v[1]);
            line(v[2], v[3]);
            point(v[3]);
            break;
    }
}
