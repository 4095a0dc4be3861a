#include "toolkit/fg_menubar.h"

#include <GL/gl.h>

#include <algorithm>

#include "toolkit/fg_dialog.h"
#include "toolkit/fg_draw.h"
#include "toolkit/fg_font.h"
#include "toolkit/fg_keys.h"
#include "toolkit/fg_menu.h"

namespace {
constexpr uint64_t kDefaultFontHeight = 14;
const double kWhite[3] = {1, 1, 1};
const double kBlack[3] = {0, 0, 0};
}  // namespace

uint64_t CFgUIMenuBar::FontHeight() const { return parent ? parent->font.height : kDefaultFontHeight; }

void CFgUIMenuBar::Layout() {
    const uint64_t f = FontHeight();
    const int32_t fh = static_cast<int32_t>(f);
    const int32_t half = std::max(fh / 2, 1);
    layoutFontHeight = f;
    barHeight = fh + 8;
    joinedLabels.clear();
    int32_t previousEnd = 0;
    for (size_t i = 0; i < items.size(); ++i) {
        FgMenuBarItem& item = items[i];
        if (i) joinedLabels += L"  ";
        joinedLabels += item.label;
        // Whole half-cells, as the labels are drawn.
        const int32_t w = FgTextWidth(item.label.c_str(), f) / half * half;
        item.x0 = i == 0 ? 0 : previousEnd + 1 + fh;
        item.x1 = item.x0 + w - 1;
        previousEnd = item.x1;
    }
}

int32_t CFgUIMenuBar::AddItem(const wchar_t* label, const wchar_t* menuText, FgMenuBarItem::TextCallback textCallback,
                              void* itemData) {
    if (!label || !*label) return -1;
    FgMenuBarItem item;
    item.label = label;
    if (menuText) {
        item.menuText = menuText;
        item.hasMenuText = true;
    }
    item.textCallback = textCallback;
    item.data = itemData;
    items.push_back(std::move(item));
    Layout();
    return ItemCount() - 1;
}

void CFgUIMenuBar::RemoveAllItems() {
    items.clear();
    hot = -1;
    joinedLabels.clear();
}

int32_t CFgUIMenuBar::HitTest(int32_t px, int32_t py) const {
    if (py < 0 || py >= barHeight) return -1;
    const int32_t tx = px - 8;
    for (int32_t i = 0; i < ItemCount(); ++i)
        if (tx >= items[static_cast<size_t>(i)].x0 && tx <= items[static_cast<size_t>(i)].x1) return i;
    return -1;
}

void CFgUIMenuBar::OnAttach() { Layout(); }

void CFgUIMenuBar::Draw(CFgScreen* screen, CFgFont* font) {
    if (!font) return;
    if (font->height != layoutFontHeight) Layout();
    const int32_t screenWidth = static_cast<int32_t>(std::min<uint64_t>(screen->width, INT32_MAX));
    if (x != 0 || y != 0 || width != screenWidth || height != barHeight) {
        x = 0;
        y = 0;
        width = std::max(screenWidth, 1);
        height = barHeight;
        OnRectChanged(x, y, width, height);
    }
    FgDrawBevel(screen, 0, 0, width - 1, height - 1, Color(kFgColorFace), kWhite, kBlack);
    if (items.empty()) return;
    FgScissorRect(screen, 2, 2, width - 3, height - 3);
    if (hot >= 0 && hot < ItemCount()) {
        const FgMenuBarItem& h = items[static_cast<size_t>(hot)];
        FgFillRect(screen, h.x0 + 8, 2, h.x1 + 8, height - 3, Color(kFgColorFocusFace));
    }
    for (const FgMenuBarItem& item : items) {
        glColor3dv(Color(item.Greyed() ? kFgColorDisabledText : kFgColorLabel));
        font->DrawText(item.x0 + 8, 4, item.label.c_str());
    }
    glDisable(GL_SCISSOR_TEST);
}

void CFgUIMenuBar::OnMouseMove(int32_t px, int32_t py) {
    const int32_t i = HitTest(px, py);
    if (i < 0) {
        if (hot != -1) {
            hot = -1;
            RedrawParent();
        }
        return;
    }
    if (i == hot || items[static_cast<size_t>(i)].Greyed()) return;
    hot = i;
    RedrawParent();
}

void CFgUIMenuBar::DropContainerFocus() {
    if (parent) parent->SetFocus(nullptr);
}

void CFgUIMenuBar::OnLButtonDown(int32_t px, int32_t py) {
    const int32_t i = HitTest(px, py);
    if (i < 0 || items[static_cast<size_t>(i)].Greyed()) {
        DropContainerFocus();
        hot = -1;
        RedrawParent();
        return;
    }
    hot = i;
}

void CFgUIMenuBar::OnLButtonUp(int32_t, int32_t) { OpenMenu(-1); }

void CFgUIMenuBar::OnKeyStateChanged() {
    const int32_t n = ItemCount();
    if (n == 0) return;
    const uint16_t state = GetKeyState();
    if (state & kFgKeyStateRight) {
        hot = hot + 1 >= n ? 0 : hot + 1;
    } else if (state & kFgKeyStateLeft) {
        hot = hot <= 0 ? n - 1 : hot - 1;
    } else if ((state & kFgKeyStateDown) && hot >= 0) {
        SetKeyState(static_cast<uint16_t>(state & ~kFgKeyStateDown));
        OpenMenu(0);
        return;
    }
    RedrawParent();
}

void CFgUIMenuBar::OnChar(uint16_t character) {
    if (character == 10 || character == 32) OpenMenu(-1);
}

int32_t CFgUIMenuBar::CanEnable(int32_t enable) {
    barEnabled = enable ? 1 : 0;
    for (FgMenuBarItem& item : items) item.enabled = barEnabled;
    RedrawParent();
    return 0;
}

void CFgUIMenuBar::OnSetFocus() {
    if (!items.empty()) hot = 0;
}

void CFgUIMenuBar::OnKillFocus(CFgUIObj*) { hot = -1; }

void CFgUIMenuBar::OpenMenu(int32_t initialRow) {
    if (hot < 0 || hot >= ItemCount()) return;
    // A greyed title never opens, even when the keys put the hot mark on it.
    const int32_t index = hot;
    const FgMenuBarItem& item = items[static_cast<size_t>(index)];
    if (item.Greyed()) return;
    CFgScreen* owner = OwnerScreen();
    const int64_t ox = owner ? owner->x : 0, oy = owner ? owner->y : 0;
    const int32_t px = static_cast<int32_t>(std::clamp<int64_t>(ox + 8 + item.x0, 0, INT32_MAX));
    const int32_t py = static_cast<int32_t>(std::clamp<int64_t>(oy + barHeight, 0, INT32_MAX));
    // The stored text is copied: the items may change while the menu is open.
    const std::wstring stored = item.menuText;
    const wchar_t* text = item.textCallback ? item.textCallback(item.data, index)
                                            : (item.hasMenuText ? stored.c_str() : nullptr);
    const int32_t id = FgTrackPopupMenu(text, px, py, parent, owner, initialRow);
    if (id >= 0 && callback) callback(this, data, index, id);
    DropContainerFocus();
    RedrawParent();
}
