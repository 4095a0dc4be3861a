#include "toolkit/fg_tab.h"

#include <GL/gl.h>

#include <algorithm>

#include "toolkit/fg_dialog.h"
#include "toolkit/fg_draw.h"
#include "toolkit/fg_font.h"
#include "toolkit/fg_keys.h"

namespace {

constexpr uint64_t kDefaultFontHeight = 14;
const double kBlack[3] = {0, 0, 0};

// One-pixel lines as filled rectangles, so that they cover exactly their pixels.
void HLine(CFgScreen* s, int32_t x0, int32_t x1, int32_t y) {
    if (x0 <= x1) FgFillRect(s, x0, y, x1, y, kBlack);
}
void VLine(CFgScreen* s, int32_t x, int32_t y0, int32_t y1) {
    if (y0 <= y1) FgFillRect(s, x, y0, x, y1, kBlack);
}

// Stores an inclusive rectangle through the pointers given; 0 when it is empty.
int32_t StoreRect(int32_t l, int32_t t, int32_t r, int32_t b, int32_t* left, int32_t* top, int32_t* right,
                  int32_t* bottom) {
    if (r - l + 1 < 1 || b - t + 1 < 1) return 0;
    if (left) *left = l;
    if (top) *top = t;
    if (right) *right = r;
    if (bottom) *bottom = b;
    return 1;
}

}  // namespace

CFgUITab::~CFgUITab() {
    // The pages' controls may be gone already: only the records go.
    tabs.clear();
}

int32_t CFgUITab::FontHeight() const {
    return static_cast<int32_t>(parent ? parent->font.height : kDefaultFontHeight);
}

void CFgUITab::LayoutHeaders(size_t from) {
    const int32_t f = FontHeight();
    for (size_t i = from; i < tabs.size(); ++i) {
        FgTabRecord& t = tabs[i];
        t.y0 = 1;
        t.y1 = f + 7;
        t.x0 = i == 0 ? 1 : tabs[i - 1].x1 + 2;
        t.x1 = t.x0 + FgTextWidth(t.label.c_str(), static_cast<uint64_t>(f)) + 4;
    }
}

void CFgUITab::ShowControls(const FgTabRecord& tab, uint32_t shown) {
    for (CFgUIObj* c : tab.controls)
        if (c) c->SetVisible(shown, 0);
}

int32_t CFgUITab::AddTab(const wchar_t* label) {
    if (!label || !*label) return -1;
    FgTabRecord record;
    record.label = label;
    tabs.push_back(std::move(record));
    LayoutHeaders(tabs.size() - 1);
    if (current < 0) current = 0;
    return TabCount() - 1;
}

int32_t CFgUITab::RemoveTab(int32_t index) {
    if (index < 0 || index >= TabCount()) return 0;
    ShowControls(tabs[static_cast<size_t>(index)], 0);
    tabs.erase(tabs.begin() + index);
    if (pressedTab == index) {
        pressedTab = -1;
    } else if (pressedTab > index) {
        --pressedTab;
    }
    if (tabs.empty()) {
        current = -1;
    } else if (index < current) {
        --current;
    } else if (index == current) {
        current = std::min(index, TabCount() - 1);
        ShowControls(tabs[static_cast<size_t>(current)], 1);
    }
    LayoutHeaders(static_cast<size_t>(index));
    RedrawParent();
    return 1;
}

void CFgUITab::RemoveAllTabs() {
    while (!tabs.empty()) RemoveTab(TabCount() - 1);
}

int32_t CFgUITab::SetTabLabel(int32_t index, const wchar_t* label) {
    if (index < 0 || index >= TabCount() || !label || !*label) return 0;
    tabs[static_cast<size_t>(index)].label = label;
    // Later headers follow this one.
    LayoutHeaders(static_cast<size_t>(index));
    return 1;
}

int32_t CFgUITab::AddControl(int32_t index, CFgUIObj* control) {
    if (index < 0 || index >= TabCount() || !control) return 0;
    tabs[static_cast<size_t>(index)].controls.push_back(control);
    control->SetVisible(index == current ? 1 : 0, 0);
    return 1;
}

int32_t CFgUITab::SelectTab(int32_t index, int32_t force) {
    if (index < 0 || index >= TabCount()) return 0;
    if (!force && index == current) return 1;
    const int32_t old = current;
    if (old >= 0 && old < TabCount() && old != index) ShowControls(tabs[static_cast<size_t>(old)], 0);
    current = index;
    ShowControls(tabs[static_cast<size_t>(index)], 1);
    RedrawParent();
    if (callback) callback(this, data, index, old);
    return 1;
}

int32_t CFgUITab::GetPageRect(int32_t* left, int32_t* top, int32_t* right, int32_t* bottom) const {
    return StoreRect(x + 2, y + 7 + FontHeight(), x + width - 3, y + height - 3, left, top, right, bottom);
}

void CFgUITab::OnAttach() { LayoutHeaders(0); }

void CFgUITab::OnLButtonDown(int32_t px, int32_t py) {
    for (size_t i = 0; i < tabs.size(); ++i) {
        const FgTabRecord& t = tabs[i];
        if (px >= t.x0 && px <= t.x1 && py >= t.y0 && py <= t.y1) {
            pressedTab = static_cast<int32_t>(i);
            pressing = 1;
            SetCapture();
            return;
        }
    }
}

void CFgUITab::OnLButtonUp(int32_t, int32_t) {
    if (!pressing) return;
    pressing = 0;
    ReleaseCapture();
    const int32_t tab = pressedTab;
    pressedTab = -1;
    SelectTab(tab, 0);
}

void CFgUITab::OnKeyStateChanged() {
    const int32_t n = TabCount();
    if (n < 2) return;
    const uint16_t state = GetKeyState();
    if (state & kFgKeyStateRight)
        SelectTab(current + 1 >= n ? 0 : current + 1, 0);
    else if (state & kFgKeyStateLeft)
        SelectTab(current <= 0 ? n - 1 : current - 1, 0);
}

void CFgUITab::Draw(CFgScreen* screen, CFgFont* font) {
    if (!font) return;
    if (!tabs.empty() && tabs[0].y1 != FontHeight() + 7) LayoutHeaders(0);
    const double* text = Color(enabled ? kFgColorLabel : kFgColorDisabledText);
    const double* face = Color(enabled && focused ? kFgColorFocusFace : kFgColorFace);
    const int32_t right = Right(), bottom = Bottom();
    const int32_t pageTop = y + FontHeight() + 7;
    FgScissorRect(screen, x, y, right, bottom);
    // The page outline; its top edge stays open under the current header.
    const FgTabRecord* open = current >= 0 && current < TabCount() ? &tabs[static_cast<size_t>(current)] : nullptr;
    if (open) {
        HLine(screen, x, x + open->x0, pageTop);
        HLine(screen, x + open->x1, right, pageTop);
    } else {
        HLine(screen, x, right, pageTop);
    }
    HLine(screen, x, right, bottom);
    VLine(screen, x, pageTop, bottom);
    VLine(screen, right, pageTop, bottom);
    for (const FgTabRecord& t : tabs) {
        const int32_t l = x + t.x0, r = x + t.x1, tp = y + t.y0, bt = y + t.y1;
        HLine(screen, l, r, tp);
        VLine(screen, l, tp, bt);
        VLine(screen, r, tp, bt);
        if (&t != open) HLine(screen, l, r, bt);
    }
    if (open && focused) FgFillRect(screen, x + open->x0 + 1, y + open->y0 + 1, x + open->x1 - 1, y + open->y1, face);
    glColor3dv(text);
    for (const FgTabRecord& t : tabs) font->DrawText(x + 3 + t.x0, y + 4 + t.y0, t.label.c_str());
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_STENCIL_TEST);
}

int32_t CFgUIGroup::GetInnerRect(int32_t* left, int32_t* top, int32_t* right, int32_t* bottom) const {
    const int32_t f = static_cast<int32_t>(parent ? parent->font.height : kDefaultFontHeight);
    return StoreRect(x + 2, y + 2 + f, x + width - 3, y + height - 3, left, top, right, bottom);
}

void CFgUIGroup::Draw(CFgScreen* screen, CFgFont* font) {
    if (!font) return;
    const int32_t f = static_cast<int32_t>(font->height);
    const int32_t right = Right(), bottom = Bottom();
    FgScissorRect(screen, x, y, right, bottom);
    glColor3dv(Color(enabled ? kFgColorLabel : kFgColorDisabledText));
    const int32_t labelEnd = x + 6 + font->DrawText(x + 6, y, label.c_str());
    // One strip around the control from the label's left to its right end,
    // with its top edge through the label's middle.
    const int32_t top = y + (f - 1) / 2;
    HLine(screen, x, x + 2, top);
    VLine(screen, x, top, bottom);
    HLine(screen, x, right, bottom);
    VLine(screen, right, top, bottom);
    HLine(screen, labelEnd, right, top);
    glDisable(GL_SCISSOR_TEST);
}
