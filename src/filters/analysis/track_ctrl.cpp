#include "filters/analysis/track_ctrl.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>

#include "image/imgbuff.h"

const wchar_t* const kTrackOptionKeys[10] = {L"preview", L"connect",        L"noise_auto", L"noise_enable_l",
                                             L"noise_enable_h", L"noise_l", L"noise_h",    L"window_cut",
                                             L"holl_fill",      L"multi_select"};
const uint32_t kTrackOptionDefaults[kTrackOptCount] = {1, 8, 1, 0, 0, 10, 1000, 0, 1, 1, 0, 90};

namespace {

const P2dPoint kNoPoint = {-1.0, -1.0};
constexpr double kCoordinateLimit = 1073741824.0;  // 2^30

double ClampCoordinate(double v) {
    if (!(v >= -kCoordinateLimit)) return -kCoordinateLimit;  // also NaN
    if (v > kCoordinateLimit) return kCoordinateLimit;
    return v;
}

int32_t TruncToInt(double v) {
    v = std::trunc(v);
    if (v < static_cast<double>(INT32_MIN)) return INT32_MIN;
    if (v > static_cast<double>(INT32_MAX)) return INT32_MAX;
    return static_cast<int32_t>(v);
}

}  // namespace

void TrackCentreBox(double px, double py, int32_t w, int32_t h, int32_t* x, int32_t* y) {
    if (x) *x = TruncToInt(ClampCoordinate(px) - (static_cast<double>(w) - 1.0) * 0.5);
    if (y) *y = TruncToInt(ClampCoordinate(py) - (static_cast<double>(h) - 1.0) * 0.5);
}

CTrackCtrl::CTrackCtrl() {
    for (auto& t : tint) t.store(255);
    for (uint32_t i = 0; i < kTrackOptCount; ++i) options[i].store(kTrackOptionDefaults[i]);
    g_P2dLastError = 0;
}

CTrackCtrl::~CTrackCtrl() {
    RemoveAllTargets();
    table.Reset();
    delete emptyImage_;
}

CImgBuff* CTrackCtrl::GetWorkImage() {
    // One empty image kept for the life of the controller: callers never
    // free what this returns.
    if (!emptyImage_) emptyImage_ = new (std::nothrow) CImgBuff;
    return emptyImage_;
}

int32_t CTrackCtrl::AddTargetAt(CTrack* target, int32_t x, int32_t y) {
    if (!target) return -1;
    {
        CriticalSectionLock hold(lock);
        target->x = x;
        target->y = y;
    }
    return AddTarget(target);
}

int32_t CTrackCtrl::AddTarget(CTrack* target) {
    if (!target || target->w < 1 || target->h < 1) return -1;
    if ((static_cast<double>(target->x) + target->w - 1) * 0.5 < 0 ||
        (static_cast<double>(target->y) + target->h - 1) * 0.5 < 0)
        return -1;
    const uint32_t frameCount = GetFrameCount();
    CriticalSectionLock hold(lock);
    if (targetCount == INT32_MAX) return -1;
    CTrack** grown =
        static_cast<CTrack**>(std::realloc(targets, (static_cast<size_t>(targetCount) + 1) * sizeof(CTrack*)));
    if (!grown) return -1;
    targets = grown;
    targets[targetCount++] = target;
    target->owner = this;
    while (table.Columns() < static_cast<uint32_t>(targetCount)) {
        if (table.AddColumn() < 0) {
            // Without its column the target would pair with no points: take
            // it out again; the caller still owns it.
            --targetCount;
            target->owner = nullptr;
            if (targetCount == 0) {
                std::free(targets);
                targets = nullptr;
            }
            return -1;
        }
    }
    if (static_cast<uint64_t>(table.Rows()) < static_cast<uint64_t>(frameCount) + 1) table.SetRows(frameCount);
    return targetCount - 1;
}

int32_t CTrackCtrl::RemoveTarget(int32_t index) {
    CriticalSectionLock hold(lock);
    if (index < 0 || index >= targetCount) return 0;
    delete targets[index];
    for (int32_t i = index; i + 1 < targetCount; ++i) targets[i] = targets[i + 1];
    --targetCount;
    if (targetCount == 0) {
        std::free(targets);
        targets = nullptr;
    }
    return table.RemoveColumn(static_cast<uint32_t>(index));
}

void CTrackCtrl::RemoveAllTargets() {
    CriticalSectionLock hold(lock);
    const int32_t count = targetCount;
    for (int32_t i = 0; i < count; ++i) delete targets[i];
    std::free(targets);
    targets = nullptr;
    targetCount = 0;
    if (count > 0) table.RemoveLeadingColumns(static_cast<uint32_t>(count));
}

int32_t CTrackCtrl::FindNearestPoint(int32_t target, int32_t frame, int32_t step, double* x, double* y) {
    CriticalSectionLock hold(lock);
    const int64_t rows = table.Rows();
    if (target < 0 || static_cast<uint32_t>(target) >= table.Columns() || frame < 0 || frame >= rows) return 0;
    P2dPoint p{};
    auto present = [&](int64_t row) {
        return table.GetPoint(static_cast<uint32_t>(row), static_cast<uint32_t>(target), &p) && P2dPointPresent(p);
    };
    bool found = present(frame);
    if (!found && step != 0) {
        for (int64_t r = static_cast<int64_t>(frame) - step; r >= 0 && r < rows; r -= step)
            if ((found = present(r))) break;
        if (!found)
            for (int64_t r = static_cast<int64_t>(frame) + step; r >= 0 && r < rows; r += step)
                if ((found = present(r))) break;
    }
    if (!found) {
        if (x) *x = 0;
        if (y) *y = 0;
        return 0;
    }
    if (x) *x = p.x;
    if (y) *y = p.y;
    return 1;
}

void CTrackCtrl::PlaceTarget(int32_t target, int32_t frame, int32_t step, int32_t predict) {
    CriticalSectionLock hold(lock);
    const int64_t rows = table.Rows();
    if (target < 0 || target >= targetCount || frame < 0 || frame >= rows) return;
    CTrack* t = targets[target];
    double px = 0, py = 0;
    if (FindNearestPoint(target, frame, step, &px, &py)) TrackCentreBox(px, py, t->w, t->h, &t->x, &t->y);
    if (!predict) return;
    if (!((step >= 1 && frame >= 2) || (step <= -1 && frame < rows - 2))) return;
    const int64_t r1 = static_cast<int64_t>(frame) - step, r2 = static_cast<int64_t>(frame) - 2 * static_cast<int64_t>(step);
    if (r1 < 0 || r1 >= rows || r2 < 0 || r2 >= rows) {
        table.error = kP2dBadArgument;
        return;
    }
    P2dPoint p1{}, p2{};
    if (!table.GetPoint(static_cast<uint32_t>(r1), static_cast<uint32_t>(target), &p1) ||
        !table.GetPoint(static_cast<uint32_t>(r2), static_cast<uint32_t>(target), &p2))
        return;
    if (!P2dPointPresent(p1) || !P2dPointPresent(p2)) return;
    TrackCentreBox(2.0 * p1.x - p2.x, 2.0 * p1.y - p2.y, t->w, t->h, &t->x, &t->y);
}

int32_t CTrackCtrl::Tick() {
    if (ProgressTick()) cancelled_ = true;
    return cancelled_ ? 1 : 0;
}

void CTrackCtrl::TrackTarget(CImgBuff* image, int32_t target, int32_t frame, int32_t step, int32_t predict, int32_t manual) {
    {
        CriticalSectionLock hold(lock);
        if (target < 0 || target >= targetCount || targets[target]->lost) return;
    }
    currentTarget = target;
    currentFrame = frame;
    skip = 0;
    PlaceTarget(target, frame, step, predict);

    P2dPoint point = kNoPoint;
    bool found = false;
    if (!manual) {
        CriticalSectionLock hold(lock);
        CTrack* t = targets[target];
        const C_ImgBuff* b = image ? image->buffer : nullptr;
        const int64_t W = b ? b->width : 0, H = b ? b->height : 0;
        const int64_t x0 = t->x > 0 ? t->x : 0, y0 = t->y > 0 ? t->y : 0;
        const int64_t x1 = std::min<int64_t>(static_cast<int64_t>(t->x) + t->w - 1, W - 1);
        const int64_t y1 = std::min<int64_t>(static_cast<int64_t>(t->y) + t->h - 1, H - 1);
        if (b && b->pixels && x0 <= x1 && y0 <= y1) {
            CImgBuff cut;
            double fx = 0, fy = 0;
            if (image->ExtractRect(&cut, static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1),
                                   static_cast<int32_t>(y1)) &&
                cut.buffer && cut.buffer->pixels && t->Find(&cut, &fx, &fy)) {
                point = {fx + static_cast<double>(x0), fy + static_cast<double>(y0)};
                found = true;
            }
        }
    }
    if (!found) {
        int32_t mx = -1, my = -1;
        if (ManualTrack(target, frame, &mx, &my)) {
            point = {static_cast<double>(mx), static_cast<double>(my)};
        } else {
            point = kNoPoint;
            CriticalSectionLock hold(lock);
            if (target < targetCount) targets[target]->lost = 1;
        }
    }
    if (!skip && !Tick()) {
        CriticalSectionLock hold(lock);
        table.SetPoint(static_cast<uint32_t>(frame), static_cast<uint32_t>(target), point);
    }
    if (!skip && !Tick() && point.x >= 0 && point.y >= 0) {
        CriticalSectionLock hold(lock);
        if (target < targetCount) {
            CTrack* t = targets[target];
            TrackCentreBox(point.x, point.y, t->w, t->h, &t->x, &t->y);
        }
    }
    skip = 0;
}

void CTrackCtrl::ClearLostFlags() {
    CriticalSectionLock hold(lock);
    for (int32_t i = 0; i < targetCount; ++i) targets[i]->lost = 0;
}

void CTrackCtrl::TrackByScene(int32_t step, int32_t predict, int32_t manual) {
    currentTarget = -1;
    currentFrame = -1;
    int32_t first = 0, last = 0;
    if (!GetFrameRange(&first, &last) || targetCount == 0) return;
    cancelled_ = false;
    ClearLostFlags();
    CImgBuff scratch;
    for (int64_t frame = step > 0 ? first : last; frame >= first && frame <= last; frame += step) {
        const int32_t f = static_cast<int32_t>(frame);
        for (int32_t i = 0; i < targetCount; ++i) PlaceTarget(i, f, step, predict);
        if (!GoToFrame(f)) break;
        CImgBuff* work = GetWorkImage();
        if (work) scratch.CopyFrom(work);
        currentFrame = f;
        int32_t remaining = 0;
        for (int32_t i = 0; i < targetCount; ++i) {
            if (Tick()) break;
            currentTarget = i;
            TrackTarget(&scratch, i, f, step, predict, manual);
            if (i < targetCount && !targets[i]->lost) ++remaining;
        }
        if (cancelled_ || remaining == 0) break;
        if (step == 0) break;
    }
    ClearLostFlags();
    Refresh();
}

void CTrackCtrl::TrackById(int32_t step, int32_t predict, int32_t only, int32_t manual) {
    currentTarget = -1;
    currentFrame = -1;
    int32_t first = 0, last = 0;
    if (!GetFrameRange(&first, &last) || targetCount == 0) return;
    if (only >= targetCount) return;
    cancelled_ = false;
    ClearLostFlags();
    CImgBuff scratch;
    const int32_t from = only >= 0 ? only : 0;
    for (int32_t i = from; i < targetCount && (only < 0 || i == only); ++i) {
        currentTarget = i;
        for (int64_t frame = step > 0 ? first : last; frame >= first && frame <= last; frame += step) {
            const int32_t f = static_cast<int32_t>(frame);
            PlaceTarget(i, f, step, predict);
            if (!GoToFrame(f)) break;
            CImgBuff* work = GetWorkImage();
            if (work) scratch.CopyFrom(work);
            currentFrame = f;
            if (Tick()) break;
            TrackTarget(&scratch, i, f, step, predict, manual);
            if (i >= targetCount || targets[i]->lost) break;
            if (step == 0) break;
        }
        if (cancelled_) break;
    }
    ClearLostFlags();
    Refresh();
}

int32_t CTrackCtrl::ClearPoints(int32_t target, int32_t first, int32_t last) {
    CriticalSectionLock hold(lock);
    if (target < 0 || static_cast<uint32_t>(target) >= table.Columns() || first < 0 ||
        static_cast<int64_t>(last) >= static_cast<int64_t>(table.Rows()) || first > last)
        return 0;
    for (int32_t r = first; r <= last; ++r)
        table.SetPoint(static_cast<uint32_t>(r), static_cast<uint32_t>(target), kNoPoint);
    return 1;
}

int32_t CTrackCtrl::MergeTargets(int32_t kept, int32_t other) {
    CriticalSectionLock hold(lock);
    // Merging a target into itself would only delete it.
    if (kept == other || kept < 0 || other < 0 || kept >= targetCount || other >= targetCount) return 0;
    const uint32_t columns = table.Columns();
    if (static_cast<uint32_t>(kept) < columns && static_cast<uint32_t>(other) < columns) {
        for (uint32_t r = 0; r < table.Rows(); ++r) {
            P2dPoint a{}, b{};
            table.GetPoint(r, static_cast<uint32_t>(kept), &a);
            table.GetPoint(r, static_cast<uint32_t>(other), &b);
            if (!P2dPointPresent(a) && P2dPointPresent(b)) table.SetPoint(r, static_cast<uint32_t>(kept), b);
        }
    }
    RemoveTarget(other);
    return 1;
}

int32_t CTrackCtrl::SplitTarget(int32_t target, int32_t frame) {
    CriticalSectionLock hold(lock);
    if (target < 0 || target >= targetCount || static_cast<uint32_t>(target) >= table.Columns() || frame < 0) return 0;
    const uint32_t rows = table.Rows();
    uint32_t start = rows;
    for (uint32_t r = static_cast<uint32_t>(frame); r < rows; ++r) {
        P2dPoint p{};
        if (table.GetPoint(r, static_cast<uint32_t>(target), &p) && P2dPointPresent(p)) {
            start = r;
            break;
        }
    }
    if (start >= rows) return 0;
    const CTrack* source = targets[target];
    CTrack* split = new (std::nothrow) CTrack;
    if (!split) return 0;
    split->owner = source->owner;
    split->kind = source->kind;
    split->lost = source->lost;
    split->x = source->x;
    split->y = source->y;
    split->w = source->w;
    split->h = source->h;
    // The new target exists before any point moves, so a failed add loses
    // nothing.
    const int32_t column = AddTarget(split);
    if (column < 0) {
        delete split;
        return 0;
    }
    for (uint32_t r = start; r < table.Rows(); ++r) {
        P2dPoint p{};
        if (!table.GetPoint(r, static_cast<uint32_t>(target), &p) || !P2dPointPresent(p)) continue;
        table.SetPoint(r, static_cast<uint32_t>(column), p);
        table.SetPoint(r, static_cast<uint32_t>(target), kNoPoint);
    }
    return 1;
}

int32_t CTrackCtrl::LoadP2d(const char* path) {
    // Read first, into a table of its own: only a file that loads replaces
    // the targets and the points.
    CP2dData loaded;
    if (!loaded.Load(path)) {
        CriticalSectionLock hold(lock);
        table.error = loaded.error ? loaded.error : kP2dIo;
        return 0;
    }
    const uint32_t frameCount = GetFrameCount();
    CriticalSectionLock hold(lock);
    RemoveAllTargets();
    table.Reset();
    table.header = loaded.header;
    table.info = loaded.info;
    table.points = loaded.points;
    loaded.points = nullptr;
    loaded.header.columns = loaded.header.rows = 0;
    const uint32_t columns = table.Columns();
    for (uint32_t c = 0; c < columns; ++c) {
        double px = 0, py = 0;
        if (c > static_cast<uint32_t>(INT32_MAX) ||
            !FindNearestPoint(static_cast<int32_t>(c), static_cast<int32_t>(std::min<uint32_t>(frameCount, INT32_MAX)), 1,
                              &px, &py)) {
            px = py = 0;
        }
        CTrack* t = new (std::nothrow) CTrack;
        if (t) {
            t->kind = 0;
            t->w = t->h = 11;
            t->x = TruncToInt(ClampCoordinate(px)) - 5;
            t->y = TruncToInt(ClampCoordinate(py)) - 5;
        }
        if (!t || AddTarget(t) < 0) {
            delete t;
            RemoveAllTargets();
            table.Reset();
            return 0;
        }
    }
    return 1;
}
