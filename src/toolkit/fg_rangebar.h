// Range bar: selects a span (low, high) within a minimum-maximum range, with
// a grip at each end and a draggable middle.
#pragma once

#include <cstdint>

#include "toolkit/fg_control.h"
#include "toolkit/fg_scrollbar.h"

class CFgUIRangeBar : public CFgUIObj {
public:
    using Callback = void (*)(CFgUIRangeBar* bar, void* data, int32_t low, int32_t high);
    enum : uint32_t { kDragNone = 0, kDragLow = 1, kDragSpan = 2, kDragHigh = 3 };

    Callback callback = nullptr;
    void* data = nullptr;
    uint32_t orientation = 0;  // 1 vertical, 2 horizontal; anything else is inert
    int32_t minimum = 0;       // minimum <= low <= high <= maximum
    int32_t maximum = 0;
    int32_t low = 0;
    int32_t high = 0;
    int32_t step = 1;
    uint32_t dragMode = kDragNone;
    int32_t dragDelta = 0;
    int32_t dragStartLow = 0;
    int32_t dragStartHigh = 0;
    int32_t dragStartX = 0;
    int32_t dragStartY = 0;
    double color[3] = {0.7, 0.7, 0.7};

    // False when the bar takes no input: too short, an unknown orientation
    // or an empty range (maximum <= minimum).
    bool Active() const;
    // Axis pixel (in dialog pixels) of value v.
    int32_t ValuePixel(int32_t v) const;

    void Draw(CFgScreen* screen, CFgFont* font) override;
    void OnMouseMove(int32_t x, int32_t y) override;
    void OnLButtonDown(int32_t x, int32_t y) override;
    void OnLButtonUp(int32_t x, int32_t y) override;
    void OnMouseWheel(int32_t x, int32_t y, int32_t notches) override;
    void OnKeyStateChanged() override;
    void OnKeyRepeat() override { OnKeyStateChanged(); }

    // Stores a valid span and reports it unless a report is already running.
    void Notify(int32_t newLow, int32_t newHigh);

private:
    int32_t AxisStart() const { return orientation == kFgBarVertical ? y : x; }
    int32_t AxisLength() const { return orientation == kFgBarVertical ? height : width; }
};
