// Object tracking over a movie: the controller that owns the targets and
// their point table and runs them through frames (prediction, manual
// fallback, editing of the result), the base of every target and the base of
// the engines' settings panels.
#pragma once

#include <atomic>
#include <cstdint>

#include "filters/analysis/overlay_pen.h"
#include "filters/analysis/p2d_data.h"
#include "filters/core/imgfilter.h"
#include "platform/kernel.h"

class CImgBuff;
class CTrackCtrl;
class CFgUICtrl;

// Indices of the options block.
enum : uint32_t {
    kTrackOptPreview = 0,
    kTrackOptConnect = 1,
    kTrackOptNoiseAuto = 2,
    kTrackOptNoiseEnableLow = 3,
    kTrackOptNoiseEnableHigh = 4,
    kTrackOptNoiseLow = 5,
    kTrackOptNoiseHigh = 6,
    kTrackOptWindowCut = 7,
    kTrackOptHoleFill = 8,
    kTrackOptMultiSelect = 9,
    kTrackOptRotation = 10,
    kTrackOptThreshold = 11,
    kTrackOptCount = 12,
};

// Settings keys of words 0-9 (words 10 and 11 are not saved).
extern const wchar_t* const kTrackOptionKeys[10];
extern const uint32_t kTrackOptionDefaults[kTrackOptCount];

// A tracking target. A plain CTrack is never found automatically: it is
// tracked by hand only.
class CTrack {
public:
    CTrack() = default;
    CTrack(const CTrack&) = delete;
    CTrack& operator=(const CTrack&) = delete;
    virtual ~CTrack() = default;

    CTrackCtrl* owner = nullptr;
    uint32_t kind = 0;  // 1 made by an engine panel, 0 loaded from a track file
    uint32_t lost = 0;  // lost during the current run
    int32_t x = 0, y = 0;  // search box corner, image pixels
    int32_t w = 1, h = 1;  // search box size, at least 1

    virtual void DrawOverlay(OverlayToGlFn toGlX, OverlayToGlFn toGlY, const OverlayRect& rect, double red, double green,
                             double blue) {
        (void)toGlX, (void)toGlY, (void)rect, (void)red, (void)green, (void)blue;
    }
    virtual void BuildPreview(CImgBuff* image) { (void)image; }
    // `image` is the cut-out of the search box; x, y come back in its pixels.
    virtual int32_t Find(CImgBuff* image, double* x, double* y) {
        (void)image, (void)x, (void)y;
        return 0;
    }
    virtual void Spare() {}
};

// The base of the engines' settings panels. For OnFilter and the mouse
// operations a result of 0 means the panel took the event.
class CTrackPanel {
public:
    using ChangeFn = void (*)(CTrackPanel* panel, void* user);

    CTrackPanel() = default;
    CTrackPanel(const CTrackPanel&) = delete;
    CTrackPanel& operator=(const CTrackPanel&) = delete;
    virtual ~CTrackPanel() = default;

    ChangeFn change = nullptr;
    void* changeUser = nullptr;
    CTrackCtrl* owner = nullptr;
    CFgUICtrl* dialog = nullptr;  // the container that receives the controls

    virtual void Draw() {}
    virtual void Layout(int32_t show, int32_t x, int32_t y, int32_t right, int32_t bottom, const wchar_t* language) {
        (void)show, (void)x, (void)y, (void)right, (void)bottom, (void)language;
    }
    virtual CTrack* CreateTrack() { return nullptr; }
    virtual void LoadFromTrack(CTrack* track) { (void)track; }
    virtual void StoreToTrack(CTrack* track) { (void)track; }
    virtual void Reset() {}
    virtual int32_t CancelAdd() { return 0; }
    virtual int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t width, int64_t height) {
        (void)image, (void)frame, (void)x, (void)y, (void)width, (void)height;
        return 1;
    }
    virtual int32_t OnMouseMove(int32_t x, int32_t y) {
        (void)x, (void)y;
        return 1;
    }
    virtual int32_t OnLButtonDown(int32_t x, int32_t y) {
        (void)x, (void)y;
        return 1;
    }
    virtual int32_t OnLButtonUp(int32_t x, int32_t y) {
        (void)x, (void)y;
        return 1;
    }
    virtual int32_t OnRButtonDown(int32_t x, int32_t y) {
        (void)x, (void)y;
        return 1;
    }
    virtual int32_t OnRButtonUp() { return 1; }

protected:
    void NotifyChange() {
        if (change) change(this, changeUser);
    }
};

// Centres a w x h box on (px, py): corner = trunc(p - (size - 1) / 2), the
// point first clamped to +-2^30 so that any finite point gives a defined
// corner.
void TrackCentreBox(double px, double py, int32_t w, int32_t h, int32_t* x, int32_t* y);

class CTrackCtrl {
public:
    CTrackCtrl();
    CTrackCtrl(const CTrackCtrl&) = delete;
    CTrackCtrl& operator=(const CTrackCtrl&) = delete;
    // Removes every target, then resets the table.
    virtual ~CTrackCtrl();

    std::atomic<uint8_t> tint[3];  // red, green, blue flags of the preview tint
    std::atomic<int32_t> currentTarget{-1};
    std::atomic<int32_t> currentFrame{-1};
    std::atomic<uint32_t> skip{0};  // set during one step: store nothing, move nothing
    std::atomic<uint32_t> options[kTrackOptCount];
    CTrack** targets = nullptr;
    int32_t targetCount = 0;
    CP2dData table;
    // Taken by every operation that changes targets, boxes or the table, for
    // its own length; never held across the host's hooks.
    CriticalSection lock;

    // Host hooks.
    virtual int32_t GetFrameRange(int32_t* first, int32_t* last) {
        (void)first, (void)last;
        return 0;
    }
    virtual int32_t GoToFrame(int32_t frame) {
        (void)frame;
        return 0;
    }
    virtual uint32_t GetFrameCount() { return 0; }
    // Non-zero when the user cancelled; the host pumps its messages here.
    virtual int32_t ProgressTick() { return 0; }
    virtual void Refresh() {}
    // The current frame as the trackers see it; copied at once, not freed.
    virtual CImgBuff* GetWorkImage();
    virtual void GetImageSize(int32_t* w, int32_t* h) {
        if (w) *w = 0;
        if (h) *h = 0;
    }
    // 1 with an integer point (possibly (-1, -1)), 0 to take the target as lost.
    virtual int32_t ManualTrack(int32_t target, int32_t frame, int32_t* x, int32_t* y) {
        (void)target, (void)frame, (void)x, (void)y;
        return 0;
    }
    virtual void ShowOptions() {}
    virtual int32_t AddTargetAt(CTrack* target, int32_t x, int32_t y);

    uint32_t Option(uint32_t index) const { return index < kTrackOptCount ? options[index].load() : 0; }

    int32_t AddTarget(CTrack* target);
    int32_t RemoveTarget(int32_t index);
    // Every target and its column of the table, in time linear in the
    // table's size.
    void RemoveAllTargets();
    void TrackByScene(int32_t step, int32_t predict, int32_t manual);
    void TrackById(int32_t step, int32_t predict, int32_t only, int32_t manual);
    void TrackTarget(CImgBuff* image, int32_t target, int32_t frame, int32_t step, int32_t predict, int32_t manual);
    void PlaceTarget(int32_t target, int32_t frame, int32_t step, int32_t predict);
    int32_t FindNearestPoint(int32_t target, int32_t frame, int32_t step, double* x, double* y);
    int32_t ClearPoints(int32_t target, int32_t first, int32_t last);
    int32_t SplitTarget(int32_t target, int32_t frame);
    int32_t MergeTargets(int32_t kept, int32_t other);
    // The file is read into a table of its own first: a file that does not
    // load leaves targets and table as they were, with the reason in the
    // table's error field.
    int32_t LoadP2d(const char* path);
    // Forgets a cancel latched by an earlier run, for a host that tracks
    // single steps outside TrackByScene and TrackById.
    void ClearCancel() { cancelled_ = false; }

private:
    // ProgressTick, latched: once the user cancelled, the rest of the run
    // sees the cancel too.
    int32_t Tick();
    void ClearLostFlags();
    CImgBuff* emptyImage_ = nullptr;
    bool cancelled_ = false;
};
