#include "toolkit/fg_button.h"

#include <GL/gl.h>

#include "toolkit/fg_dialog.h"
#include "toolkit/fg_draw.h"
#include "toolkit/fg_icons.h"
#include "toolkit/fg_keys.h"
#include "toolkit/fg_texture.h"

namespace {
constexpr uint16_t kKeySpace = 32;
constexpr uint16_t kKeyEnter = 10;
constexpr size_t kMaxLabel = 255;
const double kWhite[3] = {1, 1, 1};
const double kBlackColor[3] = {0, 0, 0};
const double kMidGrey[3] = {0.5, 0.5, 0.5};

std::wstring CutLabel(const wchar_t* text) {
    std::wstring s = text ? text : L"";
    if (s.size() > kMaxLabel) s.resize(kMaxLabel);
    return s;
}
}  // namespace

void CFgUIButton::SetLabel(const wchar_t* text) { label = CutLabel(text); }

void CFgUIButton::Press() {
    pressed = 1;
    RedrawParent();
    SetCapture();
}

void CFgUIButton::Release() {
    if (!pressed) return;
    pressed = 0;
    RedrawParent();
    ReleaseCapture();
    if (callback) callback(this, data);
}

void CFgUIButton::OnLButtonDown(int32_t, int32_t) { Press(); }
void CFgUIButton::OnLButtonUp(int32_t, int32_t) { Release(); }

void CFgUIButton::OnKeyDown(uint16_t key) {
    if (key == kKeySpace || key == kKeyEnter) Press();
}

void CFgUIButton::OnKeyUp(uint16_t key) {
    if (key == kKeySpace || key == kKeyEnter)
        Release();
    else
        CFgUIObj::OnKeyUp(key);
}

void CFgUIButton::Draw(CFgScreen* screen, CFgFont* font) {
    const int32_t right = Right();
    const int32_t bottom = Bottom();
    const double* text = Color(enabled ? kFgColorLabel : kFgColorDisabledText);
    const double* face = Color(enabled && focused ? kFgColorFocusFace : kFgColorFace);
    FgFillRect(screen, x, y, right, bottom, kMidGrey);
    if (!pressed) {
        FgFillRect(screen, x + 1, y + 1, right - 1, bottom - 1, kWhite);
        FgFillRect(screen, x + 2, y + 2, right, bottom, kBlackColor);
    }
    FgFillRect(screen, x + 2, y + 2, right - 1, bottom - 1, face);
    glColor3dv(kWhite);
    glBegin(GL_TRIANGLES);
    glVertex2d(screen->PixelToGlX(x + 2), screen->PixelToGlY(y + 2));
    glVertex2d(screen->PixelToGlX(x + 10), screen->PixelToGlY(y + 2));
    glVertex2d(screen->PixelToGlX(x + 2), screen->PixelToGlY(y + 10));
    glEnd();
    if (font) {
        screen->SetClipRect(x + 1, y + 1, right - 1, bottom - 1);
        glColor3dv(text);
        const int32_t fh = static_cast<int32_t>(font->height);
        font->DrawText((right - font->TextWidth(label.c_str()) + 1 + x) / 2, (bottom - fh + 1 + y) / 2,
                       label.c_str());
        glDisable(GL_STENCIL_TEST);
    }
}

CFgUIChkButton::CFgUIChkButton() { icons = FgAcquireIconAtlas(); }

CFgUIChkButton::~CFgUIChkButton() {
    if (icons) FgReleaseIconAtlas();
}

void CFgUIChkButton::SetLabel(const wchar_t* text) { label = CutLabel(text); }

int32_t CFgUIChkButton::AddToGroup(CFgUIChkButton* member) {
    if (!member || member == this || member->leader || (leader && leader != this)) return 0;
    member->checked = 0;
    if (!leader) {
        leader = this;
        groupIndex = 0;
        nextMember = this;
        previousMember = this;
    }
    CFgUIChkButton* lastMember = previousMember;
    lastMember->nextMember = member;
    member->previousMember = lastMember;
    member->nextMember = this;
    previousMember = member;
    member->groupIndex = lastMember->groupIndex + 1;
    member->leader = this;
    return 1;
}

int32_t CFgUIChkButton::GetGroupSelection() const { return leader ? leader->groupSelection : -1; }

CFgUIChkButton* CFgUIChkButton::Member(int32_t index) const {
    if (!leader) return nullptr;
    CFgUIChkButton* m = leader;
    do {
        if (m->groupIndex == index) return m;
        m = m->nextMember;
    } while (m && m != leader);
    return nullptr;
}

int32_t CFgUIChkButton::SelectInGroup(int32_t index, int32_t focus) {
    if (index < -1 || !leader) return 0;
    CFgUIChkButton* head = leader;
    if (index == head->groupSelection) return 1;
    if (CFgUIChkButton* old = Member(head->groupSelection)) old->checked = 0;
    // Nothing is checked from here on until a member is found, so the
    // selection says none rather than naming the unchecked member.
    head->groupSelection = -1;
    if (index == -1) return 1;
    CFgUIChkButton* chosen = Member(index);
    if (!chosen) return 0;
    chosen->checked = 1;
    head->groupSelection = index;
    if (focus && chosen->parent) chosen->parent->SetFocus(chosen);
    return 1;
}

void CFgUIChkButton::Press() {
    pressed = 1;
    RedrawParent();
    SetCapture();
}

void CFgUIChkButton::Click() {
    pressed = 0;
    if (leader)
        SelectInGroup(groupIndex, 0);
    else
        checked = checked ? 0 : 1;
    ReleaseCapture();
    if (callback) callback(this, data);
    RedrawParent();
}

void CFgUIChkButton::OnLButtonDown(int32_t, int32_t) { Press(); }
void CFgUIChkButton::OnLButtonUp(int32_t, int32_t) { Click(); }

void CFgUIChkButton::OnKeyDown(uint16_t key) {
    if (key == kKeySpace) Press();
}

void CFgUIChkButton::OnKeyUp(uint16_t key) {
    if (key == kKeySpace)
        Click();
    else
        CFgUIObj::OnKeyUp(key);
}

void CFgUIChkButton::OnKeyStateChanged() {
    if (!leader) return;
    const uint16_t state = GetKeyState();
    const int32_t lastIndex = leader->previousMember->groupIndex;
    const int32_t current = leader->groupSelection;
    int32_t index;
    if (state & (kFgKeyStateDown | kFgKeyStateRight))
        index = current < 0 || current >= lastIndex ? 0 : current + 1;
    else if (state & (kFgKeyStateUp | kFgKeyStateLeft))
        index = current <= 0 ? lastIndex : current - 1;
    else
        return;
    if (CFgUIChkButton* member = Member(index)) {
        member->Press();
        member->Click();
    }
}

void CFgUIChkButton::Draw(CFgScreen* screen, CFgFont* font) {
    const int32_t right = Right();
    const int32_t bottom = Bottom();
    screen->SetClipRect(x, y, right, bottom);
    if (icons) {
        uint64_t cell = enabled ? (focused ? 0 : 2) : 4;
        if (checked) cell += 1;
        if (leader) cell += kFgIconRadioOffset;
        if (icons->AttachToScreen(screen)) {
            icons->DrawCell(x, (bottom - 16 + y) / 2, 0, 0, cell);
            icons->ReleaseGl();
        }
    }
    if (font) {
        screen->SetClipRect(x + 3, y + 3, right - 3, bottom - 3);
        glColor3dv(Color(enabled ? kFgColorLabel : kFgColorDisabledText));
        const int32_t fh = label.empty() ? 0 : static_cast<int32_t>(font->height);
        font->DrawText(x + 8 + 16, (y + 1 + bottom - fh) / 2, label.c_str());
    }
    glDisable(GL_STENCIL_TEST);
}
