// The scene bar along the bottom of the main window: five icon buttons
// (previous, next, play backward, stop, play forward) and a slider whose
// thumb marks the current scene of a movie or multi-frame document. It owns
// the play loop, a nested message loop that steps the position at a fixed
// interval and tells the listener of every change.
#pragma once

#include <cstdint>

#include "toolkit/fg_control.h"
#include "toolkit/fg_texture.h"

class CVideoPanelListener {
public:
    virtual ~CVideoPanelListener() = default;
    virtual void OnPositionChanged(uint64_t position) { (void)position; }
};

// Elements of the bar: seven button places (0 and 6 are never laid out),
// then the thumb.
enum : int32_t {
    kSceneFirst = 0,
    kScenePlayBackward = 1,
    kScenePrevious = 2,
    kSceneStop = 3,
    kSceneNext = 4,
    kScenePlayForward = 5,
    kSceneLast = 6,
    kSceneThumb = 7,
    kSceneElementCount = 8,
};
constexpr uint64_t kSceneIconCell = 32;
constexpr uint64_t kSceneIconCount = 9;  // cell 7 the track piece, 8 the thumb
// The play loop waits in slices of at most this many milliseconds.
constexpr uint64_t kPlayWaitSlice = 50;

// Window coordinates; x -1 means not shown and never hit.
struct SceneBarElement {
    int32_t x = -1;
    int32_t y = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    int32_t hitX = -1;
    uint32_t hitWidth = 0;
    uint64_t iconCell = 0;
};

class CVideoPanel : public CFgUIObj {
public:
    CVideoPanel();
    ~CVideoPanel() override;

    CFgTexture icons;
    SceneBarElement elements[kSceneElementCount];
    int64_t trackStart = 0;  // -1: no track
    int64_t trackEnd = 0;
    uint64_t sceneCount = 1;
    uint64_t position = 0;
    uint64_t msPerScene = 33;  // at least 1
    uint32_t frameSkip = 0;
    int32_t playDirection = 0;  // 0 stopped, +1 forward, -1 backward
    int32_t hovered = -1;
    int32_t dragAnchorX = 0;  // 0: no drag
    uint64_t dragStartPosition = 0;
    CVideoPanelListener* listener = nullptr;  // not owned
    // Set when the listener repaints the whole dialog, this bar included, for
    // every position it is told: the bar then adds no paint of its own.
    uint32_t listenerPaints = 0;

    // The play loop's clock and sleep; tests replace them.
    uint32_t (*tickCount)() = nullptr;
    void (*sleep)(uint32_t milliseconds) = nullptr;

    // 0 when p >= sceneCount; otherwise moves there, tells the listener and
    // repaints. Playback goes on.
    int32_t SetPosition(uint64_t p);
    // Stop playback and move one scene; 0 at the end.
    int32_t StepForward();
    int32_t StepBackward();
    // Plays in a direction (+1, -1) until the end, a stop or the quit
    // message; a loop already running takes the new direction instead.
    void Play(int32_t direction);
    void UpdateThumb();
    void Layout();

    void OnMouseMove(int32_t x, int32_t y) override;
    void OnLButtonDown(int32_t x, int32_t y) override;
    void OnLButtonUp(int32_t x, int32_t y) override;
    void OnKeyStateChanged() override;
    void OnKeyRepeat() override { OnKeyStateChanged(); }
    void Draw(CFgScreen* screen, CFgFont* font) override;
    void OnAttach() override;

private:
    void MoveTo(uint64_t p);
    bool Wait(uint64_t ms);
};
