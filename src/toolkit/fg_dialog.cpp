#include "toolkit/fg_dialog.h"

#include <GL/gl.h>

namespace {

const double kDefaultColors[8][3] = {
    {0, 0, 0}, {1, 1, 1}, {0.8, 0.95, 0.95}, {0, 0, 0}, {0, 0, 0}, {0.9, 0.9, 0.9}, {0.8, 0.95, 0.95}, {0.7, 0.7, 0.7},
};
constexpr uint16_t kKeyTab = 9;

}  // namespace

CFgUICtrl::CFgUICtrl() {
    for (int i = 0; i < 8; ++i)
        for (int c = 0; c < 3; ++c) colors[i][c] = kDefaultColors[i][c];
    font.Create(14, nullptr);
}

CFgUICtrl::~CFgUICtrl() {
    while (first) RemoveChild(first);
}

void CFgUICtrl::AddChild(CFgUIObj* child) {
    if (!child || child->parent) return;
    child->previous = last;
    child->next = nullptr;
    if (last)
        last->next = child;
    else
        first = child;
    last = child;
    child->parent = this;
    child->OnAttach();
}

void CFgUICtrl::RemoveChild(CFgUIObj* child) {
    if (!child || child->parent != this) return;
    if (child->previous)
        child->previous->next = child->next;
    else
        first = child->next;
    if (child->next)
        child->next->previous = child->previous;
    else
        last = child->previous;
    if (focused == child) focused = nullptr;
    if (hovered == child) hovered = nullptr;
    if (captured == child) child->ReleaseCapture();
    child->next = child->previous = nullptr;
    child->parent = nullptr;
}

void CFgUICtrl::Redraw() {
    if (!owner || owner->DeferRedraw() || !owner->BeginPaint()) return;
    FgExchangeSharedPages(&font);
    DrawBackground();
    for (CFgUIObj* child = first; child; child = child->next)
        if (child->visible) child->Draw(owner, &font);
    DrawOverlay();
    FgExchangeSharedPages(&font);
    owner->EndPaint(1);
}

int32_t CFgUICtrl::SetFocus(CFgUIObj* child) {
    if ((child && child->parent != this) || child == focused) return 0;
    CFgUIObj* old = focused;
    focused = child;
    if (old) {
        old->focused = 0;
        old->OnKillFocus(child);
    }
    if (child) {
        child->focused = 1;
        child->OnSetFocus();
    }
    Redraw();
    return 1;
}

bool CFgUICtrl::Eligible(const CFgUIObj* child) { return child->visible && child->enabled && child->tabStop; }

// The walk visits every child once, ending on the focused child itself, so
// it keeps the focus only when no other child qualifies.
void CFgUICtrl::FocusNext() {
    if (!first) return;
    CFgUIObj* child = focused && focused->next ? focused->next : first;
    for (CFgUIObj* c = first; c; c = c->next) {
        if (Eligible(child)) {
            SetFocus(child);
            return;
        }
        child = child->next ? child->next : first;
    }
    SetFocus(nullptr);
}

void CFgUICtrl::FocusPrevious() {
    if (!last) return;
    CFgUIObj* child = focused && focused->previous ? focused->previous : last;
    for (CFgUIObj* c = first; c; c = c->next) {
        if (Eligible(child)) {
            SetFocus(child);
            return;
        }
        child = child->previous ? child->previous : last;
    }
    SetFocus(nullptr);
}

void CFgUICtrl::EnableAll(int32_t enable) {
    const uint32_t on = enable ? 1 : 0;
    if (OnEnableAll(enable)) {
        for (CFgUIObj* child = first; child; child = child->next) {
            if (!child->CanEnable(enable)) continue;
            child->enabled = on;
            if (!on && focused == child) FocusNext();
        }
    }
    if (owner) owner->enabled = on;
    enabled = on;
    Redraw();
}

CFgUIObj* CFgUICtrl::RouteTarget(int32_t x, int32_t y, Press press) {
    CFgUIObj* target = captured;
    for (CFgUIObj* c = last; c && !target; c = c->previous)
        if (c->visible && c->enabled && c->Contains(x, y)) target = c;
    if (!target) {
        if (CFgUIObj* old = hovered) {
            hovered = nullptr;
            old->OnMouseLeave();
        }
        return nullptr;
    }
    if ((press == Press::Left && target->tabStop) || press == Press::Other) SetFocus(target);
    if (target != hovered) {
        CFgUIObj* old = hovered;
        hovered = target;
        if (old) old->OnMouseLeave();
        target->OnMouseEnter();
    }
    return target;
}

void CFgUICtrl::RouteMouseMove(int32_t x, int32_t y) {
    if (CFgUIObj* t = RouteTarget(x, y, Press::None)) t->OnMouseMove(x - t->x, y - t->y);
}
void CFgUICtrl::RouteLButtonDown(int32_t x, int32_t y) {
    if (CFgUIObj* t = RouteTarget(x, y, Press::Left)) t->OnLButtonDown(x - t->x, y - t->y);
}
void CFgUICtrl::RouteLButtonUp(int32_t x, int32_t y) {
    if (CFgUIObj* t = RouteTarget(x, y, Press::None)) t->OnLButtonUp(x - t->x, y - t->y);
}
void CFgUICtrl::RouteRButtonDown(int32_t x, int32_t y) {
    if (CFgUIObj* t = RouteTarget(x, y, Press::Other)) t->OnRButtonDown(x - t->x, y - t->y);
}
void CFgUICtrl::RouteRButtonUp(int32_t x, int32_t y) {
    if (CFgUIObj* t = RouteTarget(x, y, Press::None)) t->OnRButtonUp(x - t->x, y - t->y);
}
void CFgUICtrl::RouteMButtonDown(int32_t x, int32_t y) {
    if (CFgUIObj* t = RouteTarget(x, y, Press::Other)) t->OnMButtonDown(x - t->x, y - t->y);
}
void CFgUICtrl::RouteMButtonUp(int32_t x, int32_t y) {
    if (CFgUIObj* t = RouteTarget(x, y, Press::None)) t->OnMButtonUp(x - t->x, y - t->y);
}
void CFgUICtrl::RouteMouseWheel(int32_t x, int32_t y, int32_t notches) {
    if (CFgUIObj* t = RouteTarget(x, y, Press::None)) t->OnMouseWheel(x - t->x, y - t->y, notches);
}

CFgUIDialog::CFgUIDialog() {
    owner = this;
    font.AttachToScreen(this);
}

CFgUIDialog::~CFgUIDialog() {
    font.DetachFromScreen();
    Destroy();
}

void CFgUIDialog::DrawBackground() {
    glColor3dv(colors[kFgColorFace]);
    glBegin(GL_QUADS);
    glVertex2d(-1, -1);
    glVertex2d(1, -1);
    glVertex2d(1, 1);
    glVertex2d(-1, 1);
    glEnd();
}

void CFgUIDialog::Redraw() { CFgUICtrl::Redraw(); }

CFgUIObj* CFgUIDialog::KeyTarget() const {
    return focused && focused->visible && focused->enabled ? focused : nullptr;
}

void CFgUIDialog::OnSpecialKeyDown(uint32_t code) {
    if (CFgUIObj* t = KeyTarget()) t->OnSpecialKeyDown(code);
}
void CFgUIDialog::OnSpecialKeyUp(uint32_t code) {
    if (CFgUIObj* t = KeyTarget()) t->OnSpecialKeyUp(code);
}
void CFgUIDialog::OnKeyStateChanged() {
    if (CFgUIObj* t = KeyTarget()) t->OnKeyStateChanged();
}
void CFgUIDialog::OnKeyRepeat() {
    if (CFgUIObj* t = KeyTarget()) t->OnKeyRepeat();
}
void CFgUIDialog::OnKeyDown(uint16_t key) {
    if (CFgUIObj* t = KeyTarget()) t->OnKeyDown(key);
}
void CFgUIDialog::OnKeyUp(uint16_t key) {
    if (CFgUIObj* t = KeyTarget())
        t->OnKeyUp(key);
    else if (!focused && key == kKeyTab)
        FocusNext();
}
void CFgUIDialog::OnChar(uint16_t character) {
    if (CFgUIObj* t = KeyTarget()) t->OnChar(character);
}
