#include "toolkit/fg_scrollbar.h"

#include <algorithm>

#include <GL/gl.h>

#include "toolkit/fg_dialog.h"
#include "toolkit/fg_draw.h"
#include "toolkit/fg_icons.h"
#include "toolkit/fg_keys.h"
#include "toolkit/fg_texture.h"

CFgUIScrollBar::CFgUIScrollBar() { arrows = FgAcquireArrowTexture(); }

CFgUIScrollBar::~CFgUIScrollBar() {
    if (arrows) FgReleaseArrowTexture();
}

void CFgUIScrollBar::Notify(int32_t value) {
    if (value >= minimum && static_cast<int64_t>(value) + page - 1 <= maximum) position = value;
    if (notifying) return;
    notifying = 1;
    if (callback) callback(this, data, position);
    notifying = 0;
    RedrawParent();
}

int32_t CFgUIScrollBar::LineForward() {
    if (static_cast<int64_t>(position) + page - 1 >= maximum) return 0;
    Notify(position + 1);
    return 1;
}

int32_t CFgUIScrollBar::LineBack() {
    if (position <= minimum) return 0;
    Notify(position - 1);
    return 1;
}

int32_t CFgUIScrollBar::PageForward() {
    if (static_cast<int64_t>(position) + page - 1 >= maximum) return 0;
    const int64_t last = static_cast<int64_t>(maximum) - page + 1;
    const int64_t next = static_cast<int64_t>(position) + page;
    Notify(static_cast<int32_t>(next > last ? std::max<int64_t>(last, minimum) : next));
    return 1;
}

int32_t CFgUIScrollBar::PageBack() {
    if (position <= minimum) return 0;
    const int64_t back = static_cast<int64_t>(position) - page;
    Notify(static_cast<int32_t>(back < minimum ? minimum : back));
    return 1;
}

// A range that is empty or inverted shows a full-length thumb, the page
// counts at most the whole range, and the thumb never leaves the track.
CFgUIScrollBar::Geometry CFgUIScrollBar::Layout() const {
    Geometry g{};
    const bool vertical = orientation == kFgBarVertical;
    const int32_t length = vertical ? height : width;
    g.start = vertical ? y : x;
    g.end = g.start + length - 2;
    g.track = length - 2 >= 36;
    if (!g.track) return g;
    g.trackLength = length - 34;
    const int64_t range = static_cast<int64_t>(maximum) - minimum + 1;
    int64_t thumb = g.trackLength;
    if (range > 0) thumb = std::min<int64_t>(page, range) * g.trackLength / range;
    g.thumbLength = static_cast<int32_t>(std::clamp<int64_t>(thumb, 4, std::max(4, g.trackLength)));
    const int64_t room = static_cast<int64_t>(maximum) - page - minimum + 1;
    g.thumbStart = g.start + 17;
    if (room >= 1) {
        // The owner may set a position outside the range: the thumb stays
        // on the track, at its nearer end.
        const int64_t offset = std::clamp<int64_t>(static_cast<int64_t>(position) - minimum, 0, room);
        g.thumbStart += static_cast<int32_t>(static_cast<__int128>(offset) * (g.trackLength - g.thumbLength) / room);
    }
    return g;
}

void CFgUIScrollBar::OnLButtonDown(int32_t px, int32_t py) {
    if (!Active()) return;
    const Geometry g = Layout();
    if (!g.track) {
        LineForward();
        return;
    }
    const int32_t c = (orientation == kFgBarVertical ? py : px) + g.start;
    if (c <= g.start + 16) {
        if (position > minimum) LineBack();
    } else if (c >= g.end - 15) {
        LineForward();
    } else if (c < g.thumbStart) {
        PageBack();
    } else if (c < g.thumbStart + g.thumbLength) {
        dragging = 1;
        dragStartPosition = position;
        dragStartX = px;
        dragStartY = py;
        SetCapture();
        RedrawParent();
    } else {
        PageForward();
    }
}

void CFgUIScrollBar::OnMouseMove(int32_t px, int32_t py) {
    if (!dragging || !Active()) return;
    const Geometry g = Layout();
    const bool vertical = orientation == kFgBarVertical;
    const int64_t travel = vertical ? py - dragStartY : px - dragStartX;
    const int64_t divisor = static_cast<int64_t>(vertical ? height : width) - 30 - g.thumbLength;
    const int64_t room = static_cast<int64_t>(maximum) - page - minimum + 1;
    // Without room to move, or without track to move along, the thumb stays.
    if (!g.track || divisor <= 0 || room <= 0) return;
    int64_t next = dragStartPosition + room * travel / divisor;
    next = std::min<int64_t>(next, static_cast<int64_t>(maximum) - page + 1);
    next = std::max<int64_t>(next, minimum);
    if (next != position) Notify(static_cast<int32_t>(next));
}

void CFgUIScrollBar::OnLButtonUp(int32_t, int32_t) {
    dragging = 0;
    ReleaseCapture();
}

void CFgUIScrollBar::OnMouseWheel(int32_t, int32_t, int32_t notches) {
    if (!Active()) return;
    const int64_t d = static_cast<int64_t>(notches) * step;
    int64_t next = position;
    if (d < 0 && position > minimum) {
        next = std::max<int64_t>(position + d, minimum);
    } else if (d > 0 && static_cast<int64_t>(position) + page - 1 < maximum) {
        next = position + d;
        if (next + page - 1 > maximum) next = static_cast<int64_t>(maximum) - page + 1;
    }
    if (next != position) Notify(static_cast<int32_t>(next));
}

void CFgUIScrollBar::OnKeyStateChanged() {
    if (!Active()) return;
    const uint16_t state = GetKeyState();
    const bool shift = (state & kFgKeyStateShift) != 0;
    const uint16_t forward = orientation == kFgBarVertical ? kFgKeyStateDown : kFgKeyStateRight;
    const uint16_t back = orientation == kFgBarVertical ? kFgKeyStateUp : kFgKeyStateLeft;
    if (state & forward) {
        if (shift)
            PageForward();
        else
            LineForward();
    } else if (state & back) {
        if (shift)
            PageBack();
        else
            LineBack();
    }
}

void CFgUIScrollBar::Draw(CFgScreen* screen, CFgFont*) {
    const int32_t right = Right();
    const int32_t bottom = Bottom();
    const double* face = Color(!enabled ? kFgColorLight : focused ? kFgColorFocusFace : kFgColorFace);
    FgFillRect(screen, x, y, right, bottom, Color(kFgColorDark));
    FgFillRect(screen, x + 1, y + 1, right - 1, bottom - 1, face);
    if (!Active()) return;
    const Geometry g = Layout();
    if (!g.track) return;
    const bool vertical = orientation == kFgBarVertical;
    const double* trackColor = enabled ? color : Color(kFgColorFace);
    const int32_t trackFirst = g.start + 17;
    const int32_t trackLast = trackFirst + g.trackLength - 1;
    const int32_t thumbLast = g.thumbStart + g.thumbLength - 1;
    auto fillAlong = [&](int32_t from, int32_t to) {
        if (from > to) return;
        if (vertical)
            FgFillRect(screen, x + 1, from, right - 1, to, trackColor);
        else
            FgFillRect(screen, from, y + 1, to, bottom - 1, trackColor);
    };
    fillAlong(trackFirst, g.thumbStart - 1);
    fillAlong(thumbLast + 1, trackLast);
    if (arrows && arrows->AttachToScreen(screen)) {
        const uint64_t disabled = enabled ? 0 : 4;
        const uint64_t backCell = (vertical ? 0 : 2) + disabled;
        const int32_t across = (vertical ? width : height) - 2;
        glColor3dv(Color(kFgColorLight));
        if (vertical) {
            arrows->DrawCell(x + 1, g.start + 1, across, 16, backCell);
            arrows->DrawCell(x + 1, g.end - 15, across, 16, backCell + 1);
        } else {
            arrows->DrawCell(g.start + 1, y + 1, 16, across, backCell);
            arrows->DrawCell(g.end - 15, y + 1, 16, across, backCell + 1);
        }
        arrows->ReleaseGl();
    }
}
