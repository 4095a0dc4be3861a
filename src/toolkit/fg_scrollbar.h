// Scroll bar: a value window (position and page) within a minimum-maximum
// range, with arrows, a track and a draggable thumb.
#pragma once

#include <cstdint>

#include "toolkit/fg_control.h"

class CFgTexture;

enum : uint32_t { kFgBarVertical = 1, kFgBarHorizontal = 2 };

class CFgUIScrollBar : public CFgUIObj {
public:
    using Callback = void (*)(CFgUIScrollBar* bar, void* data, int32_t position);

    CFgUIScrollBar();
    ~CFgUIScrollBar() override;

    Callback callback = nullptr;
    void* data = nullptr;
    uint32_t orientation = 0;  // 1 vertical, 2 horizontal; anything else is inert
    int32_t minimum = 0;
    int32_t maximum = 0;
    int32_t page = 1;
    int32_t position = 0;  // valid when minimum <= position and position + page - 1 <= maximum
    int32_t step = 1;      // per wheel notch
    uint32_t dragging = 0;
    int32_t dragStartPosition = 0;
    int32_t dragStartX = 0;
    int32_t dragStartY = 0;
    double color[3] = {0.7, 0.7, 0.7};
    CFgTexture* arrows = nullptr;  // shared arrow images

    int32_t LineForward();
    int32_t LineBack();
    int32_t PageForward();
    int32_t PageBack();

    // Along the bar's axis, in dialog pixels.
    struct Geometry {
        bool track;          // false below 38 pixels: no arrows, thumb or track
        int32_t start;       // s, the bar's first pixel
        int32_t end;         // e, the last usable pixel
        int32_t trackLength; // T
        int32_t thumbStart;
        int32_t thumbLength; // K
    };
    Geometry Layout() const;

    void Draw(CFgScreen* screen, CFgFont* font) override;
    void OnMouseMove(int32_t x, int32_t y) override;
    void OnLButtonDown(int32_t x, int32_t y) override;
    void OnLButtonUp(int32_t x, int32_t y) override;
    void OnMouseWheel(int32_t x, int32_t y, int32_t notches) override;
    void OnKeyStateChanged() override;
    void OnKeyRepeat() override { OnKeyStateChanged(); }

    // Stores `value` when it is a valid position, then reports the position
    // unless a report is already running.
    void Notify(int32_t value);

private:
    bool Active() const { return orientation == kFgBarVertical || orientation == kFgBarHorizontal; }
};
