#include "app/scene_bar.h"

#include <GL/gl.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

#include "platform/kernel.h"
#include "toolkit/fg_dialog.h"
#include "toolkit/fg_draw.h"
#include "toolkit/fg_icons.h"
#include "toolkit/fg_loop.h"

namespace {

constexpr uint16_t kKeyUp = 1, kKeyDown = 2, kKeyLeft = 4, kKeyRight = 8, kKeyShift = 16;

// Distance from (x, y) to the rounded rectangle's outline.
bool RoundedFrame(double x, double y) {
    const double x0 = 2, y0 = 2, x1 = 30, y1 = 30, r = 6;
    const double cx = std::clamp(x, x0 + r, x1 - r), cy = std::clamp(y, y0 + r, y1 - r);
    const double d = std::hypot(x - cx, y - cy);
    return std::fabs(d - r) <= 0.75;
}

// A triangle pointing left (-1) or right (+1) with its tip at tipX.
bool Triangle(double x, double y, double tipX, int direction) {
    const double along = direction < 0 ? x - tipX : tipX - x;  // 0 at the tip
    return along >= 0 && along <= 8 && std::fabs(y - 16) <= along * 0.75;
}

bool Dot(double x, double y, double cx) { return std::hypot(x - cx, y - 16) <= 3; }

bool Bar(double x, double y, double x0) { return x >= x0 && x < x0 + 2.5 && y >= 10 && y < 22; }

bool SceneIconInk(uint64_t cell, double x, double y) {
    if (cell <= 6 && RoundedFrame(x, y)) return true;
    switch (cell) {
        case 0: return Bar(x, y, 9) || Triangle(x, y, 12, -1);
        case 1: return Triangle(x, y, 11, -1) || Triangle(x, y, 17, -1);
        case 2: return Triangle(x, y, 9, -1) || Dot(x, y, 22);
        case 3: return std::hypot(x - 16, y - 16) <= 5;
        case 4: return Dot(x, y, 10) || Triangle(x, y, 23, +1);
        case 5: return Triangle(x, y, 21, +1) || Triangle(x, y, 15, +1);
        case 6: return Triangle(x, y, 20, +1) || Bar(x, y, 20.5);
        case 7: return y >= 15 && y < 17;
        case 8: {
            // An upright bar with rounded ends inside the 12-pixel hit box.
            const double cy = std::clamp(y, 8.0, 24.0);
            return std::hypot(x - 16, y - cy) <= 4;
        }
        default: return false;
    }
}

uint32_t DefaultTick() { return static_cast<uint32_t>(PlatGetTickCount()); }

}  // namespace

CVideoPanel::CVideoPanel() {
    FgBuildIconStrip(&icons, kSceneIconCell, kSceneIconCell, kSceneIconCount, SceneIconInk);
    for (int32_t i = 0; i < kSceneElementCount; ++i) elements[i].iconCell = static_cast<uint64_t>(i == kSceneThumb ? 8 : i);
    tickCount = DefaultTick;
    sleep = PlatSleep;
}

CVideoPanel::~CVideoPanel() { icons.ReleaseGl(); }

void CVideoPanel::OnAttach() {
    if (CFgScreen* screen = OwnerScreen()) icons.AttachToScreen(screen);
}

void CVideoPanel::MoveTo(uint64_t p) {
    position = p;
    UpdateThumb();
    if (listener) listener->OnPositionChanged(p);
    // One paint per scene: a listener that shows the scene has painted it.
    if (!listener || !listenerPaints) RedrawParent();
}

int32_t CVideoPanel::SetPosition(uint64_t p) {
    if (p >= sceneCount) return 0;
    MoveTo(p);
    return 1;
}

int32_t CVideoPanel::StepForward() {
    if (sceneCount == 0 || position >= sceneCount - 1) return 0;
    playDirection = 0;
    MoveTo(position + 1);
    return 1;
}

int32_t CVideoPanel::StepBackward() {
    if (position == 0) return 0;
    playDirection = 0;
    MoveTo(position - 1);
    return 1;
}

// Waits `ms` in slices, pumping messages between them, so that a stop or a
// close is honoured within a slice at any rate. False when the loop must end
// at once (quit); a stop ends the wait early.
bool CVideoPanel::Wait(uint64_t ms) {
    do {
        const uint64_t slice = std::min<uint64_t>(ms, kPlayWaitSlice);
        sleep(static_cast<uint32_t>(slice));
        ms -= slice;
        if (!FgPumpMessages() || g_QuitRequested.load()) return false;
    } while (ms > 0 && playDirection != 0);
    return true;
}

void CVideoPanel::Play(int32_t direction) {
    const int32_t old = playDirection;
    playDirection = direction;
    // A running loop takes the new direction at its next step.
    if (old != 0) return;
    int64_t pending = 0;
    do {
        const uint32_t t1 = tickCount();
        int64_t step = pending ? pending : playDirection;
        // 64-bit clamps: scene counts beyond 2^31 stay in range.
        const int64_t pos = static_cast<int64_t>(std::min<uint64_t>(position, INT64_MAX));
        const int64_t count = static_cast<int64_t>(std::min<uint64_t>(sceneCount, INT64_MAX));
        if (step >= 0) {
            if (pos + step >= count) step = count - pos - 1;
        } else if (-step > pos) {
            step = -pos;
        }
        if (step == 0) {
            playDirection = 0;
            return;
        }
        const int64_t next = pos + step;
        if (next >= 0 && next < count) MoveTo(static_cast<uint64_t>(next));
        const uint32_t elapsed = tickCount() - t1;  // right across a wrap of the counter
        const uint64_t interval = std::max<uint64_t>(msPerScene, 1);
        bool going = true;
        if (elapsed <= interval) {
            pending = 0;
            going = Wait(interval - elapsed);
        } else if (frameSkip) {
            pending = static_cast<int64_t>(elapsed / interval + 1) * playDirection;
            going = Wait(elapsed % interval);
        } else {
            pending = 0;
            going = FgPumpMessages() && !g_QuitRequested.load();
        }
        if (!going) return;
    } while (playDirection != 0);
}

// --- layout ---

void CVideoPanel::Layout() {
    const int32_t x0 = x + width - 36, y0 = y + 4;
    const struct {
        int32_t element, x;
    } places[] = {{kScenePlayForward, x0},
                  {kSceneStop, x0 - 32},
                  {kScenePlayBackward, x0 - 64},
                  {kSceneNext, x0 - 112},
                  {kScenePrevious, x0 - 144}};
    for (const auto& p : places) {
        SceneBarElement& e = elements[p.element];
        e.x = p.x;
        e.y = y0;
        e.width = e.height = 32;
        e.hitX = p.x;
        e.hitWidth = 32;
    }
    if (x0 - 144 <= 32) {
        trackStart = trackEnd = -1;
    } else {
        trackStart = 0;
        trackEnd = x0 - 176;
    }
    SceneBarElement& thumb = elements[kSceneThumb];
    thumb.y = y0;
    thumb.width = thumb.height = 32;
    UpdateThumb();
}

void CVideoPanel::UpdateThumb() {
    SceneBarElement& thumb = elements[kSceneThumb];
    int64_t tx = trackStart;
    if (sceneCount >= 2 && trackStart >= 0) {
        // 128-bit product: a long track over many scenes cannot wrap.
        const unsigned __int128 span = static_cast<unsigned __int128>(trackEnd - trackStart + 1);
        tx = trackStart + static_cast<int64_t>(span * position / (sceneCount - 1));
    }
    thumb.x = static_cast<int32_t>(tx);
    thumb.hitX = thumb.x < 0 ? -1 : thumb.x + (32 - 12) / 2;
    thumb.hitWidth = 12;
}

// --- drawing ---

void CVideoPanel::Draw(CFgScreen* screen, CFgFont*) {
    static const double kWhiteColor[3] = {1, 1, 1};
    static const double kHover[3] = {0.7, 1.0, 1.0};
    // Controls are attached before their screen has a window.
    if (!icons.screen && screen) icons.AttachToScreen(screen);
    FgFillRect(screen, x, y, Right(), Bottom(), kWhiteColor);
    const uint64_t faded = enabled ? 0 : kSceneIconCount;
    for (int32_t i = 0; i < kSceneThumb; ++i) {
        const SceneBarElement& e = elements[i];
        if (e.x < 0) continue;
        if (enabled && hovered == i)
            FgFillRect(screen, e.x, y, e.x + static_cast<int32_t>(e.width) - 1, Bottom(), kHover);
    }
    const SceneBarElement& thumb = elements[kSceneThumb];
    if (hovered == kSceneThumb && thumb.hitX >= 0)
        FgFillRect(screen, thumb.hitX, y, thumb.hitX + 11, Bottom(), kHover);
    glColor3dv(kWhiteColor);
    for (int32_t i = 0; i < kSceneThumb; ++i) {
        const SceneBarElement& e = elements[i];
        if (e.x >= 0) icons.DrawCell(e.x, e.y, e.width, e.height, e.iconCell + faded);
    }
    for (int64_t px = trackStart + 15; px < trackEnd - 15; px += 30)
        icons.DrawCell(static_cast<double>(px), thumb.y, 32, 32, 7 + faded);
    icons.DrawCell(static_cast<double>(trackEnd - 16), thumb.y, 32, 32, 7 + faded);
    icons.DrawCell(thumb.x, thumb.y, 32, 32, 8 + faded);
}

// --- mouse and keys ---

void CVideoPanel::OnMouseMove(int32_t mx, int32_t my) {
    if (dragAnchorX != 0) {
        const int64_t span = trackEnd - trackStart + 1;
        if (span <= 0) return;
        // A 128-bit product: long drags over many scenes cannot overflow.
        const int64_t count = static_cast<int64_t>(std::min<uint64_t>(sceneCount, INT64_MAX));
        const __int128 scaled = static_cast<__int128>(mx - dragAnchorX) * count / span;
        const int64_t start = static_cast<int64_t>(std::min<uint64_t>(dragStartPosition, INT64_MAX));
        int64_t delta = static_cast<int64_t>(std::clamp<__int128>(scaled, -static_cast<__int128>(INT64_MAX), INT64_MAX));
        if (delta >= 0 && start + delta >= count) delta = count - start - 1;
        if (delta < 0 && -delta > start) delta = -start;
        const uint64_t target = static_cast<uint64_t>(start + delta);
        if (target != position) SetPosition(target);
        return;
    }
    const int32_t wx = mx + x, wy = my + y;
    int32_t found = -1;
    for (int32_t i = 0; i < kSceneElementCount; ++i) {
        const SceneBarElement& e = elements[i];
        if (e.x < 0 || e.hitX < 0) continue;
        if (wx >= e.hitX && wx < e.hitX + static_cast<int64_t>(e.hitWidth) && wy >= e.y &&
            wy < e.y + static_cast<int64_t>(e.height)) {
            found = i;
            break;
        }
    }
    if (found != hovered) {
        hovered = found;
        RedrawParent();
    }
}

void CVideoPanel::OnLButtonDown(int32_t mx, int32_t) {
    switch (hovered) {
        case kScenePlayBackward: Play(-1); break;
        case kScenePrevious: StepBackward(); break;
        case kSceneStop: playDirection = 0; break;
        case kSceneNext: StepForward(); break;
        case kScenePlayForward: Play(+1); break;
        case kSceneThumb:
            playDirection = 0;
            dragStartPosition = position;
            dragAnchorX = mx;
            SetCapture();
            break;
        default: break;
    }
}

void CVideoPanel::OnLButtonUp(int32_t, int32_t) {
    if (dragAnchorX == 0) return;
    dragAnchorX = 0;
    dragStartPosition = 0;
    ReleaseCapture();
}

void CVideoPanel::OnKeyStateChanged() {
    const uint16_t keys = GetKeyState();
    const bool shift = (keys & kKeyShift) != 0;
    if (keys & kKeyRight) {
        if (shift)
            Play(+1);
        else
            StepForward();
    } else if (keys & kKeyLeft) {
        if (shift)
            Play(-1);
        else
            StepBackward();
    } else if (keys & (kKeyUp | kKeyDown)) {
        playDirection = 0;
    }
}
