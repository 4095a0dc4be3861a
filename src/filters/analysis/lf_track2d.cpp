// The 2D tracking filter: construction, the controller's hooks, the filter
// step, the overlay, the mouse and the settings. The panel and its commands
// are in lf_track2d_panel.cpp.
#include "filters/analysis/lf_track2d.h"

#include <sched.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <new>

#include "filters/analysis/sequence_run.h"
#include "filters/analysis/track_hsv.h"
#include "filters/analysis/track_pat.h"
#include "filters/core/cfgfile.h"
#include "filters/core/filterctrl.h"
#include "platform/utf8.h"
#include "toolkit/fg_font.h"
#include "toolkit/fg_keys.h"
#include "toolkit/fg_loop.h"

CImgFilter* CreateLfTrack2dHsv() { return new (std::nothrow) CLfTrack2d(0); }
CImgFilter* CreateLfTrack2dPattern() { return new (std::nothrow) CLfTrack2d(1); }

namespace {

int32_t ClampToInt(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

}  // namespace

CLfTrack2d::~CLfTrack2d() {
    tableWindow.Destroy();
    optionsUi.Destroy();
    Destroy();
    for (CTrackPanel*& p : panels) {
        delete p;
        p = nullptr;
    }
}

const wchar_t* CLfTrack2d::GetName(const wchar_t* languageCode) {
    const bool jp = languageCode && std::wcscmp(languageCode, L"jp") == 0;
    if (Engine() == 1) return jp ? L"2D パターン追跡" : L"2D pattern tracking";
    return jp ? L"2D HSV追跡" : L"2D hsv tracking";
}

void CLfTrack2d::EnableUi(int32_t enable) {
    if (Running()) return;
    CDialogFilterBase::EnableUi(enable);
    // Enabled again, the run state decides each control.
    if (enable) UpdateControls();
}

int32_t CLfTrack2d::QueryClose() {
    // A run, a STEP or a manual wait still uses the targets and the panel.
    if (Running() || stepping.load() || manualWait.load()) return 0;
    return CDialogFilterBase::QueryClose();
}

// --- state broadcasts ---

void CLfTrack2d::RemoveAllTargetsAndPoints() {
    selected = -1;
    RemoveAllTargets();
    CriticalSectionLock hold(lock);
    table.Reset();
}

void CLfTrack2d::OnSize(uint64_t, uint64_t, uint64_t, uint64_t frameCount) {
    // A new source discards every target and its points.
    RemoveAllTargetsAndPoints();
    {
        CriticalSectionLock hold(lock);
        table.SetRows(static_cast<uint32_t>(std::min<uint64_t>(frameCount, UINT32_MAX)));
    }
    RebuildIdList();
    SizeTable();
    // Inside a broadcast: the run is requested, not waited for.
    Rerun(1);
}

void CLfTrack2d::OnGuideColor(double red, double green, double blue) {
    const uint8_t bytes[3] = {static_cast<uint8_t>(red > 0 ? 255 : 0), static_cast<uint8_t>(green > 0 ? 255 : 0),
                              static_cast<uint8_t>(blue > 0 ? 255 : 0)};
    if (bytes[0] == guide_[0] && bytes[1] == guide_[1] && bytes[2] == guide_[2]) return;
    for (int i = 0; i < 3; ++i) {
        guide_[i] = bytes[i];
        tint[i] = bytes[i];
    }
    Rerun(1);
}

// --- controller hooks ---

int32_t CLfTrack2d::GetFrameRange(int32_t* first, int32_t* last) {
    const uint64_t n = CImgFilter::frames;
    if (n == 0 || !Chain()) return 0;
    const int32_t current = static_cast<int32_t>(std::min<uint64_t>(Chain()->GetCurrentFrame(), INT32_MAX));
    const int32_t end = static_cast<int32_t>(std::min<uint64_t>(n - 1, INT32_MAX));
    if (Step() > 0) {
        *first = std::min(current, end);
        *last = end;
    } else {
        *first = 0;
        *last = std::min(current, end);
    }
    return 1;
}

int32_t CLfTrack2d::GoToFrame(int32_t frame) {
    if (frame < 0 || static_cast<uint64_t>(frame) >= CImgFilter::frames || !Chain()) return 0;
    if (run_) {
        // The run helper seeks, takes the frame as it reached this filter,
        // pumps and reads the cancel: a frame never delivered ends the run.
        const CSequenceRun::StepResult got = run_->Step(static_cast<uint64_t>(frame), &runImage_);
        if (got == CSequenceRun::kCanceled) cancel = 1;
        return got == CSequenceRun::kReady ? 1 : 0;
    }
    return Chain()->Seek(static_cast<uint64_t>(frame)) ? 1 : 0;
}

int32_t CLfTrack2d::ProgressTick() {
    if (!g_QuitRequested.load() && !FgPumpMessages()) cancel = 1;
    if (g_QuitRequested.load()) cancel = 1;
    if (run_ && run_->Canceled()) cancel = 1;
    sched_yield();
    return cancel.load() ? 1 : 0;
}

void CLfTrack2d::Refresh() { Rerun(0); }

CImgBuff* CLfTrack2d::GetWorkImage() {
    if (run_) return &runImage_;
    std::unique_ptr<CImgBuff> capture(new (std::nothrow) CImgBuff);
    if (!capture || !capture->buffer) {
        workImage_.FreePixels();
        return &workImage_;
    }
    {
        std::lock_guard<std::mutex> hold(captureLock_);
        capture_ = capture.get();
    }
    Rerun(0);
    {
        std::lock_guard<std::mutex> hold(captureLock_);
        capture_ = nullptr;
    }
    const C_ImgBuff* b = capture->buffer;
    if (!b || !b->pixels || !workImage_.CopyFrom(capture.get())) workImage_.FreePixels();
    return &workImage_;
}

void CLfTrack2d::GetImageSize(int32_t* w, int32_t* h) {
    if (w) *w = static_cast<int32_t>(std::min<uint64_t>(CImgFilter::width, INT32_MAX));
    if (h) *h = static_cast<int32_t>(std::min<uint64_t>(CImgFilter::height, INT32_MAX));
}

int32_t CLfTrack2d::ManualTrack(int32_t target, int32_t frame, int32_t* x, int32_t* y) {
    if (target < 0 || target >= targetCount || frame < 0 || static_cast<uint32_t>(frame) >= table.Rows()) return 0;
    // A program that is quitting gets no click: the wait counts as a cancel.
    if (g_QuitRequested.load()) {
        cancel = 1;
        if (run_) run_->Cancel();
        return 0;
    }
    lostAnswer = 0;
    SelectTarget(target);
    if (Chain()) Chain()->EnableImageView(1);
    manualWait = 1;
    UpdateControls();
    Rerun(0);

    clickX = clickY = 0;
    FgRunModalLoop(&manualDone, nullptr);
    const bool quit = g_QuitRequested.load() != 0;

    manualWait = 0;
    const bool lost = lostAnswer.load() != 0;
    lostAnswer = 0;
    mouseMode = kMouseNone;
    if (Chain()) Chain()->EnableImageView(0);
    UpdateControls();
    Rerun(0);
    if (quit) {
        cancel = 1;
        if (run_) run_->Cancel();
        return 0;
    }
    // The run button's cancel ends the wait too: nothing is stored.
    if (cancel.load() || lost) return 0;
    *x = clickX;
    *y = clickY;
    return 1;
}

void CLfTrack2d::ShowOptions() {
    optionsUi.Relabel(language.c_str());
    optionsUi.Open(options, PanelShown() ? this : nullptr);
}

int32_t CLfTrack2d::AddTargetAt(CTrack* target, int32_t x, int32_t y) {
    if (!target) return -1;
    const int32_t index = CTrackCtrl::AddTargetAt(target, x, y);
    if (index < 0) {
        delete target;
        return -1;
    }
    {
        CriticalSectionLock hold(lock);
        target->x = x;
        target->y = y;
        target->w = target->h = 1;
    }
    AppendIdEntry(index);
    SelectTarget(index);
    return index;
}

// --- selection ---

int32_t CLfTrack2d::ValidSelection() const {
    const int32_t s = selected.load();
    return s >= 0 && s < targetCount ? s : -1;
}

void CLfTrack2d::SelectTarget(int32_t index) {
    if (index < 0 || index >= targetCount) index = targetCount > 0 ? std::clamp(index, 0, targetCount - 1) : -1;
    const int32_t before = selected.exchange(index);
    if (index != before && index >= 0) {
        // The filter step reads the panel's values for the selected target.
        CriticalSectionLock hold(lock);
        EnginePanel()->LoadFromTrack(targets[index]);
    }
}

void CLfTrack2d::GrowTable() {
    const uint64_t n = std::min<uint64_t>(CImgFilter::frames, UINT32_MAX);
    CriticalSectionLock hold(lock);
    if (table.Rows() < n) table.SetRows(static_cast<uint32_t>(n));
}

void CLfTrack2d::RedrawPicture() {
    if (FilterOn() && Chain()) Chain()->Redraw();
}

void CLfTrack2d::RepaintTable() { tableWindow.ContentsChanged(); }

// --- filter step ---

int32_t CLfTrack2d::OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h,
                             uint32_t connect, uint32_t, uint32_t*, uint32_t*) {
    options[kTrackOptConnect] = connect;
    CSequenceRun::Capture(this, image, frame);
    {
        std::lock_guard<std::mutex> hold(captureLock_);
        if (capture_ && image) capture_->CopyFrom(image);
    }
    // A new calibration reaches the table's calibration block.
    bool changed = false, usable = false;
    double scale = 0;
    int32_t axis = 0;
    std::wstring unit;
    {
        std::lock_guard<std::mutex> hold(calibLock_);
        unit.assign(calibUnit, std::min<size_t>(std::wcslen(calibUnit), 64));
        if (calibScale != seenScale_ || calibAxisY != seenAxis_ || unit != seenUnit_) {
            seenScale_ = calibScale;
            seenAxis_ = calibAxisY;
            seenUnit_ = unit;
            changed = true;
            scale = calibScale;
            axis = calibAxisY;
            usable = std::isfinite(scale) && scale > 0 && (axis == 1 || axis == -1);
        }
    }
    if (changed) {
        {
            CriticalSectionLock hold(lock);
            if (usable) {
                table.info.scale = scale;
                table.info.yDirection = axis;
                // Cut before a character that would not fit whole.
                P2dSetUnitText(&table.info, PlatWideToUtf8(unit.c_str()).c_str());
            } else {
                table.error = kP2dBadArgument;
            }
        }
        RepaintTable();
    }

    // Targets, boxes and the selection change on the user-interface thread:
    // the rest of the step holds the controller's lock.
    CriticalSectionLock hold(lock);
    const bool regist = currentTab_.load() == kTabRegist;
    CTrackPanel* panel = EnginePanel();
    if (regist) {
        if (!panel->OnFilter(image, frame, x, y, w, h)) return 1;
        const int32_t s = ValidSelection();
        if (s >= 0) panel->StoreToTrack(targets[s]);
    }
    const int32_t step = Step();
    const int32_t f = static_cast<int32_t>(std::min<uint64_t>(frame, INT32_MAX));
    if (mouseMode.load() == kMouseNone && !Running() && targetCount > 0) {
        // The boxes follow the recorded points while the user steps through.
        for (int32_t i = 0; i < targetCount; ++i) {
            double px = 0, py = 0;
            if (FindNearestPoint(i, f, step, &px, &py)) {
                CTrack* t = targets[i];
                TrackCentreBox(px, py, t->w, t->h, &t->x, &t->y);
            }
        }
    }
    const int32_t s = ValidSelection();
    const C_ImgBuff* b = image ? image->buffer : nullptr;
    if (regist && s >= 0 && b && b->pixels) {
        // The selected box shows what its engine sees.
        const CTrack* t = targets[s];
        const int64_t x0 = std::max<int64_t>(t->x, 0), y0 = std::max<int64_t>(t->y, 0);
        const int64_t x1 = std::min<int64_t>(static_cast<int64_t>(t->x) + t->w - 1, b->width - 1);
        const int64_t y1 = std::min<int64_t>(static_cast<int64_t>(t->y) + t->h - 1, b->height - 1);
        if (x0 <= x1 && y0 <= y1) {
            CImgBuff cut;
            if (image->ExtractRect(&cut, static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1),
                                   static_cast<int32_t>(y1)) &&
                cut.buffer && cut.buffer->pixels) {
                targets[s]->BuildPreview(&cut);
                image->PasteImage(&cut, static_cast<uint32_t>(x0), static_cast<uint32_t>(y0));
            }
        }
    }
    return 1;
}

// --- overlay ---

bool CLfTrack2d::PointAt(int32_t target, int64_t frame, double* x, double* y) {
    if (target < 0 || frame < 0 || frame >= table.Rows()) return false;
    P2dPoint p{};
    if (!table.GetPoint(static_cast<uint32_t>(frame), static_cast<uint32_t>(target), &p) || !P2dPointPresent(p))
        return false;
    *x = p.x;
    *y = p.y;
    return true;
}

bool CLfTrack2d::IdChosen(int32_t index) const {
    if (idList.Count() == 0 || idList.items[0].selected) return true;
    const int32_t item = index + 1;
    return item < idList.Count() && idList.items[static_cast<size_t>(item)].selected != 0;
}

void CLfTrack2d::DrawTarget(int32_t index, int32_t frame, bool box, bool trail, int32_t outline,
                            const OverlayRect& rect, OverlayToGlFn toGlX, OverlayToGlFn toGlY, CFgFont* font) {
    COverlayPen* pen = OverlayPen();
    const double red = CImgFilter::guideRed, green = CImgFilter::guideGreen, blue = CImgFilter::guideBlue;
    pen->Colour(red, green, blue);
    const int32_t zoom = rect.zoom;
    auto view = [&](int64_t px, int64_t py, int32_t* vx, int32_t* vy) {
        *vx = ClampToInt(px);
        *vy = ClampToInt(py);
        CImgFilter::MapImageToView(vx, vy, rect.viewX0, rect.viewY0, rect.viewX1, rect.viewY1, rect.imageX0,
                                   rect.imageY0, rect.imageX1, rect.imageY1, zoom);
    };
    auto loop = [&](int32_t ax, int32_t ay, int32_t bx, int32_t by) {
        const double gx0 = toGlX(ax), gy0 = toGlY(ay), gx1 = toGlX(bx), gy1 = toGlY(by);
        pen->Line(gx0, gy0, gx1, gy0);
        pen->Line(gx1, gy0, gx1, gy1);
        pen->Line(gx1, gy1, gx0, gy1);
        pen->Line(gx0, gy1, gx0, gy0);
    };
    CTrack* t = targets[index];
    if (box) {
        int32_t ax, ay, bx, by;
        view(t->x, t->y, &ax, &ay);
        view(static_cast<int64_t>(t->x) + t->w - 1, static_cast<int64_t>(t->y) + t->h - 1, &bx, &by);
        if (zoom > 1) {
            bx += zoom - 1;
            by += zoom - 1;
        }
        loop(ax, ay, bx, by);
        if (outline > 0) loop(ax - outline, ay - outline, bx + outline, by + outline);
        if (font) {
            wchar_t text[24];
            std::swprintf(text, 24, L"%ld", static_cast<long>(index) + 1);
            font->DrawText(bx + 4, ay, text);
        }
        t->DrawOverlay(toGlX, toGlY, rect, red, green, blue);
        pen->Colour(red, green, blue);
    }
    if (!trail) return;
    const int32_t half = zoom > 1 ? zoom / 2 : 0;
    auto point = [&](int64_t f, double* gx, double* gy) {
        double px, py;
        if (!PointAt(index, f, &px, &py)) return false;
        int32_t vx, vy;
        view(static_cast<int64_t>(px), static_cast<int64_t>(py), &vx, &vy);
        *gx = vx + half;
        *gy = vy + half;
        return true;
    };
    double cx, cy;
    if (point(frame, &cx, &cy)) {
        const int32_t ix = static_cast<int32_t>(cx), iy = static_cast<int32_t>(cy);
        pen->Line(toGlX(ix - 4), toGlY(iy), toGlX(ix + 5), toGlY(iy));
        pen->Line(toGlX(ix), toGlY(iy - 4), toGlX(ix), toGlY(iy + 5));
    }
    const int64_t rows = table.Rows();
    double prevX = 0, prevY = 0;
    bool prev = false;
    auto visit = [&](int64_t f) {
        double gx, gy;
        if (!point(f, &gx, &gy)) {
            prev = false;  // a frame without a point breaks the line
            return;
        }
        if (prev)
            pen->Line(toGlX(static_cast<int32_t>(prevX)), toGlY(static_cast<int32_t>(prevY)),
                      toGlX(static_cast<int32_t>(gx)), toGlY(static_cast<int32_t>(gy)));
        prevX = gx;
        prevY = gy;
        prev = true;
    };
    if (lineAll.Get()) {
        for (int64_t f = 0; f < rows; ++f) visit(f);
    } else {
        const int64_t step = Step(), len = lineLen.Get();
        visit(frame);
        for (int64_t k = 1; k <= len; ++k) {
            const int64_t f = frame - k * step;
            if (f < 0 || f >= rows) break;
            visit(f);
        }
    }
}

void CLfTrack2d::OnOverlayView(OverlayToGlFn toGlX, OverlayToGlFn toGlY, CFgScreen*, CFgFont* font, int32_t dx0,
                               int32_t dy0, int32_t dx1, int32_t dy1, int32_t ix0, int32_t iy0, int32_t ix1,
                               int32_t iy1, int32_t zoom) {
    if (!toGlX || !toGlY || !Chain()) return;
    CriticalSectionLock hold(lock);
    if (targetCount == 0) return;
    const OverlayRect rect{dx0, dy0, dx1, dy1, ix0, iy0, ix1, iy1, zoom};
    const int32_t frame = static_cast<int32_t>(std::min<uint64_t>(Chain()->GetCurrentFrame(), INT32_MAX));
    const bool waiting = manualWait.load() != 0;
    const int32_t order = Order();
    const int32_t sel = ValidSelection();
    if (waiting || (Running() && (order == 1 || order == 2))) {
        const int32_t c = currentTarget.load();
        if (c >= 0 && c < targetCount) DrawTarget(c, frame, true, true, waiting ? 1 : 2, rect, toGlX, toGlY, font);
        return;
    }
    if (!Running() && currentTab_.load() != kTabRegist) {
        for (int32_t i = 0; i < targetCount; ++i) {
            if (!IdChosen(i)) continue;
            double px, py;
            const bool here = PointAt(i, frame, &px, &py);
            DrawTarget(i, frame, here, true, here && i == sel ? 2 : 0, rect, toGlX, toGlY, font);
        }
        return;
    }
    for (int32_t i = 0; i < targetCount; ++i) {
        if (targets[i]->lost) continue;
        DrawTarget(i, frame, true, false, i == sel ? 2 : 0, rect, toGlX, toGlY, font);
    }
}

// --- mouse ---

void CLfTrack2d::OnMouseMove(int64_t x64, int64_t y64, uint32_t) {
    const int32_t x = ClampToInt(x64), y = ClampToInt(y64);
    if (currentTab_.load() == kTabRegist && !EnginePanel()->OnMouseMove(x, y)) return;
    const uint32_t mode = mouseMode.load();
    const int32_t s = ValidSelection();
    if ((mode != kMouseDraw && mode != kMouseMove) || s < 0) return;
    pointX = x;
    pointY = y;
    {
        CriticalSectionLock hold(lock);
        CTrack* t = targets[s];
        if (mode == kMouseDraw) {
            t->x = std::min(pressX, pointX);
            t->y = std::min(pressY, pointY);
            t->w = ClampToInt(std::llabs(static_cast<int64_t>(pointX) - pressX) + 1);
            t->h = ClampToInt(std::llabs(static_cast<int64_t>(pointY) - pressY) + 1);
            lastBoxW = t->w;
            lastBoxH = t->h;
        } else {
            t->x = ClampToInt(static_cast<int64_t>(cornerX) + pointX - pressX);
            t->y = ClampToInt(static_cast<int64_t>(cornerY) + pointY - pressY);
        }
    }
    Rerun(0);
}

void CLfTrack2d::OnLButtonDown(int64_t x64, int64_t y64, uint32_t flags) {
    const int32_t x = ClampToInt(x64), y = ClampToInt(y64);
    const int32_t tab = static_cast<int32_t>(currentTab_.load());
    if (tab == kTabRegist && !EnginePanel()->OnLButtonDown(x, y)) return;
    if (!Chain()) return;
    if (manualWait.load()) {
        mouseMode = kMouseManual;
        pressX = pointX = x;
        pressY = pointY = y;
        return;
    }
    if (Running() || stepping.load()) return;
    const int32_t frame = static_cast<int32_t>(std::min<uint64_t>(Chain()->GetCurrentFrame(), INT32_MAX));
    auto inBox = [&](const CTrack* t) {
        return x >= t->x && x <= static_cast<int64_t>(t->x) + t->w - 1 && y >= t->y &&
               y <= static_cast<int64_t>(t->y) + t->h - 1;
    };
    if (tab == kTabRegist) {
        int32_t hit = -1;
        bool hasPoints = false;
        {
            CriticalSectionLock hold(lock);
            for (int32_t i = 0; i < targetCount && hit < 0; ++i)
                if (inBox(targets[i])) hit = i;
            if (hit >= 0) {
                for (uint32_t r = 0; r < table.Rows() && !hasPoints; ++r) {
                    double px, py;
                    hasPoints = PointAt(hit, r, &px, &py);
                }
                cornerX = targets[hit]->x;
                cornerY = targets[hit]->y;
            }
        }
        if (hit >= 0) {
            // A target with recorded points keeps its box.
            if (hasPoints) return;
            SelectTarget(hit);
            mouseMode = kMouseMove;
        } else {
            CTrack* t = EnginePanel()->CreateTrack();
            if (!t) return;
            if (AddTargetAt(t, x, y) < 0) return;  // deleted there
            mouseMode = kMouseDraw;
            SizeTable();
        }
        pressX = pointX = x;
        pressY = pointY = y;
        Rerun(0);
        return;
    }
    if (tab == kTabTrack) {
        int32_t hit = -1;
        {
            CriticalSectionLock hold(lock);
            for (int32_t i = 0; i < targetCount && hit < 0; ++i) {
                double px, py;
                if (PointAt(i, frame, &px, &py) && inBox(targets[i])) hit = i;
            }
        }
        if (hit < 0) return;
        SelectTarget(hit);
        Rerun(0);
        return;
    }
    // Edit tab: the nearest point of this frame fills the edit fields.
    int32_t best = -1;
    double bestD = 0;
    {
        CriticalSectionLock hold(lock);
        for (int32_t i = 0; i < targetCount; ++i) {
            double px, py;
            if (!PointAt(i, frame, &px, &py)) continue;
            const double d = (px - x) * (px - x) + (py - y) * (py - y);
            if (best < 0 || d < bestD) {
                best = i;
                bestD = d;
            }
        }
    }
    if (best < 0) return;
    const bool shift = (flags & 1u) || (GetKeyState() & kFgKeyStateShift);
    if (shift) {
        SetField(id2Edit, best + 1);
    } else {
        SetField(eraseIdEdit, best + 1);
        SetField(splitIdEdit, best + 1);
        SetField(id1Edit, best + 1);
        int64_t first = -1, last = -1;
        {
            CriticalSectionLock hold(lock);
            for (int64_t r = 0; r < table.Rows(); ++r) {
                double px, py;
                if (!PointAt(best, r, &px, &py)) continue;
                if (first < 0) first = r;
                last = r;
            }
        }
        if (first >= 0) {
            SetField(eraseFirstEdit, first + 1);
            SetField(eraseLastEdit, last + 1);
        }
        SetField(splitFrameEdit, static_cast<int64_t>(frame) + 1);
    }
    if (PanelShown()) CFgUICtrl::Redraw();
}

void CLfTrack2d::OnLButtonUp(int64_t x64, int64_t y64, uint32_t) {
    const int32_t x = ClampToInt(x64), y = ClampToInt(y64);
    if (currentTab_.load() == kTabRegist) {
        if (!EnginePanel()->OnLButtonUp(x, y)) return;
    }
    {
        const int32_t s = ValidSelection();
        if (s >= 0 && currentTab_.load() == kTabRegist) EnginePanel()->StoreToTrack(targets[s]);
    }
    const uint32_t mode = mouseMode.exchange(kMouseNone);
    if (mode == kMouseDraw) {
        const int32_t s = ValidSelection();
        double px = 0, py = 0;
        if (s >= 0 && FindNearestPoint(s, static_cast<int32_t>(GetFrameCount()), Step(), &px, &py)) {
            CriticalSectionLock hold(lock);
            CTrack* t = targets[s];
            TrackCentreBox(px, py, t->w, t->h, &t->x, &t->y);
        }
        Rerun(0);
    } else if (mode == kMouseManual && manualWait.load()) {
        clickX = x;
        clickY = y;
        manualDone = 1;
    }
}

void CLfTrack2d::OnRButtonDown(int64_t x64, int64_t y64, uint32_t) {
    const int32_t x = ClampToInt(x64), y = ClampToInt(y64);
    if (currentTab_.load() != kTabRegist) return;
    if (!EnginePanel()->OnRButtonDown(x, y)) {
        const int32_t s = ValidSelection();
        if (s >= 0) EnginePanel()->StoreToTrack(targets[s]);
        return;
    }
    if (!Chain() || Running() || stepping.load() || manualWait.load()) return;
    CTrack* t = EnginePanel()->CreateTrack();
    if (!t) return;
    t->w = lastBoxW;
    t->h = lastBoxH;
    t->x = ClampToInt(static_cast<int64_t>(x) - lastBoxW / 2);
    t->y = ClampToInt(static_cast<int64_t>(y) - lastBoxH / 2);
    const int32_t index = AddTarget(t);
    if (index < 0) {
        delete t;
        return;
    }
    AppendIdEntry(index);
    SelectTarget(index);
    SizeTable();
    pressX = pointX = x;
    pressY = pointY = y;
    {
        // The filter step may move the new box meanwhile.
        CriticalSectionLock hold(lock);
        cornerX = t->x;
        cornerY = t->y;
    }
    mouseMode = kMouseMove;
    Rerun(0);
}

void CLfTrack2d::OnRButtonUp(int64_t, int64_t, uint32_t) {
    if (currentTab_.load() == kTabRegist && !EnginePanel()->OnRButtonUp()) return;
    if (mouseMode.load() != kMouseManual) mouseMode = kMouseNone;
}

// --- settings ---

void CLfTrack2d::OptionsToSettings() {
    // The options block is edited by its own window: its words are copied
    // into the settings that save them.
    engineIndex.Set(Engine());
    connectOption.Set(Option(kTrackOptConnect) == 4 ? 4 : 8);
    multiSelect.Set(Option(kTrackOptMultiSelect));
    noiseAuto.Set(Option(kTrackOptNoiseAuto) ? 1 : 0);
    noiseEnableLow.Set(Option(kTrackOptNoiseEnableLow) ? 1 : 0);
    noiseEnableHigh.Set(Option(kTrackOptNoiseEnableHigh) ? 1 : 0);
    noiseLow.Set(static_cast<int32_t>(std::min<uint32_t>(Option(kTrackOptNoiseLow), INT32_MAX)));
    noiseHigh.Set(static_cast<int32_t>(std::min<uint32_t>(Option(kTrackOptNoiseHigh), INT32_MAX)));
    windowCut.Set(Option(kTrackOptWindowCut) ? 1 : 0);
    holeFill.Set(Option(kTrackOptHoleFill) ? 1 : 0);
    previewOption.Set(Option(kTrackOptPreview) ? 1 : 0);
}

void CLfTrack2d::SaveConfig(CCfgPack* pack) {
    OptionsToSettings();
    CDialogFilterBase::SaveConfig(pack);
}

void CLfTrack2d::LoadConfig(CCfgPack* pack) {
    // Settings not in the pack keep the values the options block holds.
    OptionsToSettings();
    CDialogFilterBase::LoadConfig(pack);
}

void CLfTrack2d::ShowSettings() {
    options[kTrackOptConnect] = connectOption.Get();
    options[kTrackOptMultiSelect] = multiSelect.Get();
    options[kTrackOptNoiseAuto] = noiseAuto.Get();
    options[kTrackOptNoiseEnableLow] = noiseEnableLow.Get();
    options[kTrackOptNoiseEnableHigh] = noiseEnableHigh.Get();
    options[kTrackOptNoiseLow] = static_cast<uint32_t>(noiseLow.Get());
    options[kTrackOptNoiseHigh] = static_cast<uint32_t>(noiseHigh.Get());
    options[kTrackOptWindowCut] = windowCut.Get();
    options[kTrackOptHoleFill] = holeFill.Get();
    options[kTrackOptPreview] = previewOption.Get();
    const uint32_t engine = engineIndex.Get() ? 1 : 0;
    if (engine != Engine()) {
        EnginePanel()->CancelAdd();
        EnginePanel()->Layout(0, 0, 0, 0, 0, language.c_str());
        engine_ = engine;
        LayoutEngine();
    }
    idCheck.checked = dispId.Get();
    allSceneCheck.checked = lineAll.Get();
    lineBar.position = lineLen.Get();
    predictCheck.checked = activeScope.Get();
    reversCheck.checked = revers.Get();
    orderRadios[0].SelectInGroup(trackOrder.Get(), 0);
    UpdateControls();
}
