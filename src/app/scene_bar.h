// The scene bar along the bottom of the main window: the current scene of a
// movie or multi-frame document and the listener told of every change. This
// is the bar's position model; its buttons, slider and play loop draw on it.
#pragma once

#include <cstdint>

#include "toolkit/fg_control.h"

class CVideoPanelListener {
public:
    virtual ~CVideoPanelListener() = default;
    virtual void OnPositionChanged(uint64_t position) { (void)position; }
};

class CVideoPanel : public CFgUIObj {
public:
    uint64_t sceneCount = 1;
    uint64_t position = 0;
    uint64_t msPerScene = 33;
    uint32_t frameSkip = 0;
    int32_t playDirection = 0;  // 0 stopped, +1 forward, -1 backward
    CVideoPanelListener* listener = nullptr;  // not owned

    // 0 when p >= sceneCount; otherwise moves there, tells the listener and
    // repaints. Playback goes on.
    int32_t SetPosition(uint64_t p);
    // Stop playback and move one scene; 0 at the end.
    int32_t StepForward();
    int32_t StepBackward();
    void UpdateThumb() {}
    void Layout() {}
    void Draw(CFgScreen* screen, CFgFont* font) override;
};
