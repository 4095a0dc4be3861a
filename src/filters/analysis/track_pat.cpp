#include "filters/analysis/track_pat.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cwchar>
#include <new>

#include "image/pool.h"
#include "platform/kernel.h"
#include "toolkit/fg_dialog.h"

int32_t PatternReach(int32_t p) { return static_cast<int32_t>(std::lround(std::sqrt(2.0) * p)); }

CTrackPAT::~CTrackPAT() {
    if (templates) ImgDeleteImageList(templates);
}

int32_t CTrackPAT::CutTemplate(int32_t cx, int32_t cy) {
    if (!owner) return 0;
    CImgBuff* work = owner->GetWorkImage();
    if (!work) return 0;
    CImgBuff copy;
    if (!copy.CopyFrom(work) || !copy.buffer || !copy.buffer->pixels) return 0;
    const int64_t half = p;
    ImageList* list = ImgMakeRotatedTemplates(&copy, static_cast<int32_t>(cx - half), static_cast<int32_t>(cy - half),
                                              static_cast<int32_t>(cx + half), static_cast<int32_t>(cy + half));
    if (!list) return 0;  // the templates held before stay
    CriticalSectionLock hold(owner->lock);
    if (templates) ImgDeleteImageList(templates);
    templates = list;
    return 1;
}

int32_t CTrackPAT::Match(const CImgBuff* image, int32_t rotation, double* outX, double* outY, double* outScore) const {
    if (!templates || templates->count == 0 || !image || !image->buffer) return 0;
    const int64_t W = image->buffer->width, H = image->buffer->height, size = 2 * static_cast<int64_t>(p);
    if (W - size - 1 < 0 || H - size - 1 < 0) return 0;
    const int32_t sx = static_cast<int32_t>(W / 2 - p), sy = static_cast<int32_t>(H / 2 - p);
    const int32_t x1 = static_cast<int32_t>(W - size - 1), y1 = static_cast<int32_t>(H - size - 1);
    if (!rotation) {
        int32_t bx = 0, by = 0;
        double score = -1.0;
        if (!ImgMatchTemplate(image, &templates->images[0], sx, sy, 0, 0, x1, y1, &bx, &by, 0, 0, 16, &score, nullptr,
                              nullptr))
            return 0;
        double rx = 0, ry = 0;
        if (!ImgRefineMatchAroundPixel(image, &templates->images[0], bx, by, &rx, &ry, 0, 0, 0.1, &score, nullptr, nullptr))
            return 0;
        *outX = rx, *outY = ry, *outScore = score;
        return score >= 0 ? 1 : 0;
    }
    CriticalSection* lock = PoolNewCriticalSection();
    if (!lock) return 0;
    MatchPatternsJob job{};
    job.search = image;
    job.list = templates;
    job.rx = sx, job.ry = sy;
    job.x0 = 0, job.y0 = 0, job.x1 = x1, job.y1 = y1;
    job.method = 0, job.sampling = 0;
    job.step = 0.1;
    job.pyramid = 16;
    job.lock = lock;
    job.bestScore = -1.0;
    PoolParallelFor(ImgMatchPatternsKernel, &job, templates->count);
    delete lock;
    if (job.bestScore < 0) return 0;
    *outX = job.bestX, *outY = job.bestY, *outScore = job.bestScore;
    return 1;
}

int32_t CTrackPAT::Find(CImgBuff* image, double* x, double* y) {
    const uint32_t rotation = owner ? owner->Option(kTrackOptRotation) : 0;
    const uint32_t threshold = owner ? owner->Option(kTrackOptThreshold) : kTrackOptionDefaults[kTrackOptThreshold];
    double rx = 0, ry = 0, score = -1;
    if (!Match(image, rotation ? 1 : 0, &rx, &ry, &score)) return 0;
    // The threshold is a minimum similarity in percent.
    if (score < 0 || static_cast<double>(threshold) > 100.0 - score) return 0;
    if (x) *x = p + rx;
    if (y) *y = p + ry;
    return 1;
}

void CTrackPAT::DrawOverlay(OverlayToGlFn toGlX, OverlayToGlFn toGlY, const OverlayRect& rect, double red, double green,
                            double blue) {
    if (!toGlX || !toGlY) return;
    COverlayPen* pen = OverlayPen();
    pen->Colour(red, green, blue);
    const int64_t cx = static_cast<int64_t>(x) + searchHalfW, cy = static_cast<int64_t>(y) + searchHalfH;
    auto map = [&](int64_t px, int64_t py, bool far, double* gx, double* gy) {
        int32_t vx = static_cast<int32_t>(std::clamp<int64_t>(px, INT32_MIN, INT32_MAX));
        int32_t vy = static_cast<int32_t>(std::clamp<int64_t>(py, INT32_MIN, INT32_MAX));
        CImgFilter::MapImageToView(&vx, &vy, rect.viewX0, rect.viewY0, rect.viewX1, rect.viewY1, rect.imageX0,
                                   rect.imageY0, rect.imageX1, rect.imageY1, rect.zoom);
        // A far corner covers the whole enlarged pixel.
        if (far && rect.zoom > 1) {
            vx += rect.zoom - 1;
            vy += rect.zoom - 1;
        }
        *gx = toGlX(vx);
        *gy = toGlY(vy);
    };
    auto square = [&](int64_t hx, int64_t hy) {
        double ax, ay, bx, by;
        map(cx - hx, cy - hy, false, &ax, &ay);
        map(cx + hx, cy + hy, true, &bx, &by);
        pen->Line(ax, ay, bx, ay);
        pen->Line(bx, ay, bx, by);
        pen->Line(bx, by, ax, by);
        pen->Line(ax, by, ax, ay);
    };
    square(p, p);
    if (owner && owner->Option(kTrackOptRotation)) {
        const double radius = std::trunc(std::sqrt(2.0 * p * p));
        double gx[36], gy[36];
        for (int i = 0; i < 36; ++i) {
            double c = std::cos(i * 10.0 * M_PI / 180.0), s = std::sin(i * 10.0 * M_PI / 180.0);
            if (i == 9) c = 0, s = 1;
            if (i == 18) c = -1, s = 0;
            if (i == 27) c = 0, s = -1;
            map(cx + std::lround(radius * c), cy + std::lround(radius * s), false, &gx[i], &gy[i]);
        }
        for (int i = 0; i < 36; ++i) pen->Line(gx[i], gy[i], gx[(i + 1) % 36], gy[(i + 1) % 36]);
    }
    square(searchHalfW, searchHalfH);
}

// ---- panel ----

CPanelPAT::CPanelPAT(CTrackCtrl* ownerCtrl, CFgUICtrl* container) {
    owner = ownerCtrl;
    dialog = container;
    thresholdBar.orientation = kFgBarHorizontal;
    thresholdBar.minimum = 50;
    thresholdBar.maximum = 99;
    thresholdBar.position = 90;
    thresholdLabel.SetText(L"90");
    rollCheck.data = thresholdBar.data = this;
    rollCheck.callback = [](CFgUIChkButton* button, void* data) {
        auto* panel = static_cast<CPanelPAT*>(data);
        if (panel->owner) panel->owner->options[kTrackOptRotation] = button->checked ? 1 : 0;
        panel->Refresh();
    };
    thresholdBar.callback = [](CFgUIScrollBar*, void* data, int32_t position) {
        auto* panel = static_cast<CPanelPAT*>(data);
        if (panel->owner) panel->owner->options[kTrackOptThreshold] = static_cast<uint32_t>(position);
        panel->ShowThreshold();
        panel->Refresh();
    };
    CFgUIObj* controls[] = {&unplaced, &rollCheck, &thresholdBar, &thresholdLabel};
    for (CFgUIObj* c : controls) {
        c->visible = 0;
        if (dialog) dialog->AddChild(c);
    }
}

void CPanelPAT::ShowThreshold() {
    wchar_t text[16];
    std::swprintf(text, 16, L"%d", static_cast<int>(owner ? owner->Option(kTrackOptThreshold) : thresholdBar.position));
    thresholdLabel.SetText(text);
}

void CPanelPAT::Refresh() {
    if (owner) owner->Refresh();
}

void CPanelPAT::Layout(int32_t show, int32_t x, int32_t y, int32_t, int32_t, const wchar_t* language) {
    const bool jp = language && std::wcscmp(language, L"jp") == 0;
    if (!show) {
        rollCheck.SetVisible(0, 0);
        thresholdBar.SetVisible(0, 0);
        thresholdLabel.SetVisible(0, 0);
        return;
    }
    rollCheck.SetLabel(jp ? L"回転処理" : L"roll pat");
    rollCheck.SetRect(x + 10, y + 10, 80, 20);
    thresholdBar.SetRect(x + 10, y + 30, 200, 20);
    thresholdLabel.SetRect(x + 210, y + (jp ? 30 : 3), 20, 20);
    ShowThreshold();
    rollCheck.SetVisible(1, 0);
    thresholdBar.SetVisible(1, 0);
    thresholdLabel.SetVisible(1, 0);
}

CTrack* CPanelPAT::CreateTrack() { return new (std::nothrow) CTrackPAT; }

void CPanelPAT::Reset() {
    unplaced.SetText(L"");
    state = 0;
    edited = nullptr;
}

int32_t CPanelPAT::CancelAdd() {
    const uint32_t was = state;
    CTrackPAT* target = edited;
    state = 0;
    edited = nullptr;
    if (was == 1 && owner && target) {
        // Only a target still being drawn is taken back, and only while it is
        // the newest one: a moved target keeps its place and its points.
        owner->table.error = 0;
        const int32_t last = static_cast<int32_t>(owner->table.Columns()) - 1;
        if (last >= 0 && last < owner->targetCount && owner->targets[last] == target) {
            owner->RemoveTarget(last);
            return 1;
        }
    }
    return 0;
}

void CPanelPAT::StoreSizes() {
    if (!edited) return;
    if (owner) owner->lock.Enter();
    edited->p = p;
    edited->searchHalfW = searchHalfW;
    edited->searchHalfH = searchHalfH;
    edited->x = static_cast<int32_t>(centreX - static_cast<int64_t>(searchHalfW));
    edited->y = static_cast<int32_t>(centreY - static_cast<int64_t>(searchHalfH));
    edited->w = static_cast<int32_t>(2 * static_cast<int64_t>(searchHalfW) + 1);
    edited->h = static_cast<int32_t>(2 * static_cast<int64_t>(searchHalfH) + 1);
    if (owner) owner->lock.Leave();
}

int32_t CPanelPAT::OnLButtonDown(int32_t x, int32_t y) {
    if (state != 0 || !owner) return 0;
    pressX = pointerX = x;
    pressY = pointerY = y;
    CTrack* hit = nullptr;
    {
        CriticalSectionLock hold(owner->lock);
        for (int32_t i = 0; i < owner->targetCount && !hit; ++i) {
            CTrack* t = owner->targets[i];
            if (x >= t->x && x <= static_cast<int64_t>(t->x) + t->w - 1 && y >= t->y &&
                y <= static_cast<int64_t>(t->y) + t->h - 1)
                hit = t;
        }
    }
    if (hit) {
        CTrackPAT* pat = dynamic_cast<CTrackPAT*>(hit);
        if (!pat) return 0;  // a target without a pattern is not moved here
        edited = pat;
        LoadFromTrack(pat);
        p = pat->p;
        searchHalfW = pat->searchHalfW;
        searchHalfH = pat->searchHalfH;
        centreX = pressCentreX = static_cast<int32_t>(pat->x + static_cast<int64_t>(searchHalfW));
        centreY = pressCentreY = static_cast<int32_t>(pat->y + static_cast<int64_t>(searchHalfH));
        state = 3;
        Refresh();
        return 0;
    }
    centreX = x;
    centreY = y;
    p = 1;
    searchHalfW = searchHalfH = 2;
    CTrackPAT* t = static_cast<CTrackPAT*>(CreateTrack());
    if (!t) return 0;
    t->p = p;
    t->searchHalfW = searchHalfW;
    t->searchHalfH = searchHalfH;
    if (owner->AddTargetAt(t, x, y) < 0) return 0;  // deleted by the owner
    edited = t;
    state = 1;
    Refresh();
    return 0;
}

int32_t CPanelPAT::OnMouseMove(int32_t x, int32_t y) {
    pointerX = x;
    pointerY = y;
    if (state == 0 || !owner || !edited) return 0;
    int32_t W = 0, H = 0;
    owner->GetImageSize(&W, &H);
    if (state == 1) {
        const double dx = static_cast<double>(pointerX) - centreX, dy = static_cast<double>(pointerY) - centreY;
        int64_t r = static_cast<int64_t>(std::trunc(std::sqrt(dx * dx + dy * dy))) + 1;
        if (centreX - r < 0) r = centreX;
        if (centreX + r >= W) r = static_cast<int64_t>(W) - centreX - 1;
        if (centreY - r < 0) r = centreY;
        if (centreY + r >= H) r = static_cast<int64_t>(H) - centreY - 1;
        if (r < 0) r = 0;
        int64_t np = std::llround(static_cast<double>(r) * std::cos(M_PI / 4));
        // The rotated templates need the whole half-diagonal inside the image.
        const int64_t room = std::min({static_cast<int64_t>(centreX), static_cast<int64_t>(centreY),
                                       static_cast<int64_t>(W) - 1 - centreX, static_cast<int64_t>(H) - 1 - centreY});
        while (np > 0 && PatternReach(static_cast<int32_t>(np)) > room) --np;
        if (np < 0) np = 0;
        p = static_cast<uint32_t>(np);
        searchHalfW = searchHalfH = 3 * p;
    } else {
        const int64_t d = PatternReach(static_cast<int32_t>(p));
        centreX = static_cast<int32_t>(std::max<int64_t>(d, std::min<int64_t>(pointerX, static_cast<int64_t>(W) - d - 1)));
        centreY = static_cast<int32_t>(std::max<int64_t>(d, std::min<int64_t>(pointerY, static_cast<int64_t>(H) - d - 1)));
    }
    StoreSizes();
    Refresh();
    return 0;
}

int32_t CPanelPAT::OnLButtonUp(int32_t, int32_t) {
    if (state == 1) {
        if (edited) edited->CutTemplate(centreX, centreY);
        state = 0;
    } else if (state == 3) {
        if (edited) edited->CutTemplate(centreX, centreY);
        centreX = pressCentreX + (pointerX - pressX);
        centreY = pressCentreY + (pointerY - pressY);
        state = 0;
    }
    return 0;
}

int32_t CPanelPAT::OnRButtonDown(int32_t x, int32_t y) {
    if (state != 0 || !owner) return 0;
    pressX = pointerX = centreX = x;
    pressY = pointerY = centreY = y;
    if (!p || !searchHalfW || !searchHalfH) return 0;
    CTrackPAT* t = static_cast<CTrackPAT*>(CreateTrack());
    if (!t) return 0;
    t->p = p;
    t->searchHalfW = searchHalfW;
    t->searchHalfH = searchHalfH;
    if (owner->AddTargetAt(t, x, y) < 0) return 0;
    edited = t;
    StoreSizes();
    state = 2;
    Refresh();
    return 0;
}

int32_t CPanelPAT::OnRButtonUp() {
    if (state == 2) {
        if (edited) edited->CutTemplate(centreX, centreY);
        state = 0;
    }
    return 0;
}
