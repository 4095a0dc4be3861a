#include "toolkit/fg_rangebar.h"

#include <algorithm>

#include <GL/gl.h>

#include "toolkit/fg_dialog.h"
#include "toolkit/fg_draw.h"
#include "toolkit/fg_keys.h"

bool CFgUIRangeBar::Active() const {
    return (orientation == kFgBarVertical || orientation == kFgBarHorizontal) && AxisLength() - 2 >= 15 &&
           maximum > minimum;
}

int32_t CFgUIRangeBar::ValuePixel(int32_t v) const {
    const int64_t track = AxisLength() - 17;  // T = e - 16 - s
    const int64_t range = static_cast<int64_t>(maximum) - minimum;
    if (range <= 0) return AxisStart() + 8;
    return static_cast<int32_t>(AxisStart() + 8 + (static_cast<int64_t>(v) - minimum) * track / range);
}

void CFgUIRangeBar::Notify(int32_t newLow, int32_t newHigh) {
    if (!(minimum <= newLow && newLow <= newHigh && newHigh <= maximum)) return;
    low = newLow;
    high = newHigh;
    if (notifying) return;
    notifying = 1;
    if (callback) callback(this, data, low, high);
    notifying = 0;
    RedrawParent();
}

void CFgUIRangeBar::OnLButtonDown(int32_t px, int32_t py) {
    if (dragMode != kDragNone || !Active()) return;
    const int32_t c = (orientation == kFgBarVertical ? py : px) + AxisStart();
    const int32_t pl = ValuePixel(low);
    const int32_t ph = ValuePixel(high);
    if (c >= pl - 7 && c <= pl - 1)
        dragMode = kDragLow;
    else if (c >= pl && c <= ph)
        dragMode = kDragSpan;
    else if (c >= ph + 1 && c <= ph + 7)
        dragMode = kDragHigh;
    else
        return;
    dragStartLow = low;
    dragStartHigh = high;
    dragStartX = px;
    dragStartY = py;
    dragDelta = 0;
    SetCapture();
}

void CFgUIRangeBar::OnMouseMove(int32_t px, int32_t py) {
    if (dragMode == kDragNone || !Active()) return;
    const int64_t travel = orientation == kFgBarVertical ? py - dragStartY : px - dragStartX;
    int64_t d = (static_cast<int64_t>(maximum) - minimum + 1) * travel / (AxisLength() - 16);
    int64_t newLow = low;
    int64_t newHigh = high;
    if (dragMode == kDragLow) {
        newLow = std::clamp<int64_t>(dragStartLow + d, minimum, high);
    } else if (dragMode == kDragHigh) {
        newHigh = std::clamp<int64_t>(dragStartHigh + d, low, maximum);
    } else {
        d = std::max<int64_t>(d, static_cast<int64_t>(minimum) - dragStartLow);
        d = std::min<int64_t>(d, static_cast<int64_t>(maximum) - dragStartHigh);
        newLow = dragStartLow + d;
        newHigh = dragStartHigh + d;
    }
    if (d == dragDelta) return;
    dragDelta = static_cast<int32_t>(d);
    Notify(static_cast<int32_t>(newLow), static_cast<int32_t>(newHigh));
}

void CFgUIRangeBar::OnLButtonUp(int32_t, int32_t) {
    dragMode = kDragNone;
    ReleaseCapture();
}

void CFgUIRangeBar::OnMouseWheel(int32_t px, int32_t py, int32_t notches) {
    if (!Active()) return;
    const int64_t d = static_cast<int64_t>(notches) * step;
    if (d == 0) return;
    const int32_t c = (orientation == kFgBarVertical ? py : px) + AxisStart();
    int64_t newLow = low;
    int64_t newHigh = high;
    if (c < ValuePixel(low)) {
        newLow = d < 0 ? std::max<int64_t>(low + d, minimum) : std::min<int64_t>(low + d, high);
    } else if (c > ValuePixel(high)) {
        newHigh = d < 0 ? std::max<int64_t>(high + d, low) : std::min<int64_t>(high + d, maximum);
    } else {
        // The span moves whole; at either end of the range it keeps its width.
        const int64_t span = static_cast<int64_t>(high) - low;
        newLow = low + d;
        newHigh = high + d;
        if (newLow < minimum) newLow = minimum, newHigh = minimum + span;
        if (newHigh > maximum) newHigh = maximum, newLow = maximum - span;
    }
    if (newLow != low || newHigh != high) Notify(static_cast<int32_t>(newLow), static_cast<int32_t>(newHigh));
}

void CFgUIRangeBar::OnKeyStateChanged() {
    if (!Active()) return;
    const uint16_t state = GetKeyState();
    const bool vertical = orientation == kFgBarVertical;
    const bool back = (state & (vertical ? kFgKeyStateUp : kFgKeyStateLeft)) != 0;
    const bool forward = (state & (vertical ? kFgKeyStateDown : kFgKeyStateRight)) != 0;
    const bool shift = (state & kFgKeyStateShift) != 0;
    const bool control = (state & kFgKeyStateControl) != 0;
    if (back) {
        if (control) {
            if (low > minimum) Notify(low - 1, high);
        } else if (shift) {
            if (high > low) Notify(low, high - 1);
        } else if (low > minimum) {
            Notify(low - 1, high - 1);
        }
    } else if (forward) {
        if (control) {
            if (low < high) Notify(low + 1, high);
        } else if (shift) {
            if (high < maximum) Notify(low, high + 1);
        } else if (high < maximum) {
            Notify(low + 1, high + 1);
        }
    }
}

void CFgUIRangeBar::Draw(CFgScreen* screen, CFgFont*) {
    const int32_t right = Right();
    const int32_t bottom = Bottom();
    const double* face = Color(!enabled ? kFgColorLight : focused ? kFgColorFocusFace : kFgColorFace);
    FgFillRect(screen, x, y, right, bottom, Color(kFgColorDark));
    FgFillRect(screen, x + 1, y + 1, right - 1, bottom - 1, face);
    if (!Active()) return;
    const bool vertical = orientation == kFgBarVertical;
    const int32_t s = AxisStart();
    const int32_t e = s + AxisLength() - 1;
    const int32_t pl = ValuePixel(low);
    const int32_t ph = ValuePixel(high);
    const double* trackColor = enabled ? color : Color(kFgColorFace);
    auto fillAlong = [&](int32_t from, int32_t to, const double* c) {
        if (from > to) return;
        if (vertical)
            FgFillRect(screen, x + 1, from, right - 1, to, c);
        else
            FgFillRect(screen, from, y + 1, to, bottom - 1, c);
    };
    fillAlong(s + 8, pl - 8, trackColor);
    fillAlong(ph + 8, e - 8, trackColor);
    // Two marks across each grip.
    const double* mark = Color(kFgColorDark);
    for (int32_t at : {pl - 5, pl - 3, ph + 3, ph + 5}) fillAlong(at, at, mark);
}
