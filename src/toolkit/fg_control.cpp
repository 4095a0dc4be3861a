#include "toolkit/fg_control.h"

#include "platform/plat_messages.h"
#include "toolkit/fg_dialog.h"
#include "toolkit/fg_keys.h"

namespace {
constexpr uint16_t kKeyTab = 9;
constexpr uint16_t kKeyEnter = 10;
constexpr uint16_t kKeyEsc = 27;
const double kBlack[3] = {0, 0, 0};
}  // namespace

CFgUIObj::~CFgUIObj() {
    if (parent) parent->RemoveChild(this);
}

CFgScreen* CFgUIObj::OwnerScreen() const { return parent ? parent->owner : nullptr; }

const double* CFgUIObj::Color(uint32_t index) const {
    return parent && index < 8 ? parent->colors[index] : kBlack;
}

void CFgUIObj::RedrawParent() {
    if (parent) parent->Redraw();
}

void CFgUIObj::SetKeyState(uint16_t state) {
    if (CFgScreen* screen = OwnerScreen()) screen->SetKeyState(state);
}

uint16_t CFgUIObj::GetKeyState() {
    CFgScreen* screen = OwnerScreen();
    return screen ? screen->GetKeyState() : 0;
}

void CFgUIObj::OnKeyUp(uint16_t key) {
    if (!parent) return;
    if (key == kKeyTab) {
        if (GetKeyState() & kFgKeyStateShift)
            parent->FocusPrevious();
        else
            parent->FocusNext();
    } else if (key == kKeyEsc) {
        parent->FocusPrevious();
    } else if (key == kKeyEnter) {
        parent->FocusNext();
    }
}

int32_t CFgUIObj::SetRect(int32_t newX, int32_t newY, int32_t newWidth, int32_t newHeight) {
    if (newWidth < 1 || newHeight < 1) return 0;
    x = newX;
    y = newY;
    width = newWidth;
    height = newHeight;
    OnRectChanged(newX, newY, newWidth, newHeight);
    return 1;
}

void CFgUIObj::SetVisible(uint32_t shown, uint64_t argument) {
    visible = shown ? 1 : 0;
    OnVisibleChanged(visible, argument);
    if (!visible && parent && parent->focused == this) parent->FocusNext();
}

void CFgUIObj::SetCapture() {
    if (!parent || parent->captured) return;
    parent->captured = this;
    if (CFgScreen* screen = OwnerScreen()) PlatSetCapture(screen->window);
}

void CFgUIObj::ReleaseCapture() {
    if (!parent || parent->captured != this) return;
    parent->captured = nullptr;
    PlatReleaseCapture();
}
