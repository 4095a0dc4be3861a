#include "toolkit/fg_menu.h"

#include <GL/gl.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cwchar>

#include "platform/plat_messages.h"
#include "platform/plat_window.h"
#include "toolkit/fg_dialog.h"
#include "toolkit/fg_draw.h"
#include "toolkit/fg_keys.h"
#include "toolkit/fg_loop.h"

namespace {

constexpr size_t kMaxIdCharacters = 31;
const double kWhite[3] = {1, 1, 1};
const double kBlack[3] = {0, 0, 0};

// Characters below 256 take one column, others two.
uint64_t LabelColumns(const std::wstring& label) {
    uint64_t n = 0;
    for (wchar_t c : label) n += static_cast<uint32_t>(c) < 256 ? 1 : 2;
    return n;
}

// The id field of a plain item. Negative ids are greyed items (-2); a field
// longer than 31 characters or a positive id beyond 32 bits is malformed.
bool ParseId(const wchar_t* begin, const wchar_t* end, int32_t* id) {
    const size_t length = static_cast<size_t>(end - begin);
    if (length > kMaxIdCharacters) return false;
    if (length == 0) {
        *id = 0;
        return true;
    }
    wchar_t field[kMaxIdCharacters + 1] = {};
    std::copy(begin, end, field);
    errno = 0;
    const long long value = std::wcstoll(field, nullptr, 10);
    if (value < 0) {
        *id = -2;
        return true;
    }
    if (errno == ERANGE || value > INT32_MAX) return false;
    *id = static_cast<int32_t>(value);
    return true;
}

int32_t ChosenId(int32_t id) { return id < 0 ? -1 : id; }

}  // namespace

CFgUIMenu::CFgUIMenu() = default;

CFgUIMenu::~CFgUIMenu() {
    items.clear();
    font.DetachFromScreen();
    Destroy();
}

int32_t CFgUIMenu::Build(const wchar_t* text, CFgUIMenu* parent) {
    items.clear();
    columns = 0;
    parentMenu = parent;
    highlighted = -1;
    if (!text) return 1;
    if (Parse(text, text + std::wcslen(text))) return 1;
    items.clear();
    columns = 0;
    return 0;
}

int32_t CFgUIMenu::Parse(const wchar_t* p, const wchar_t* end) {
    bool anySubmenu = false;
    while (p < end && *p != L'}') {
        const wchar_t* tab = std::find(p, end, L'\t');
        if (tab == end) break;
        Item item;
        item.label.assign(p, tab);
        const wchar_t* q = tab + 1;
        if (q == end) return 0;
        const wchar_t* field = q;
        const wchar_t* subBegin = nullptr;
        const wchar_t* subEnd = nullptr;
        while (q < end && *q != L'\n') {
            if (*q == L'{' && !subBegin) {
                int depth = 1;
                const wchar_t* r = q + 1;
                for (; r < end; ++r) {
                    if (*r == L'{') ++depth;
                    if (*r == L'}' && --depth == 0) break;
                }
                if (r == end) return 0;
                subBegin = q + 1;
                subEnd = r;
                q = r + 1;
                continue;
            }
            ++q;
        }
        if (q == end) return 0;  // every line ends with LF
        if (subBegin) {
            // The submenu's lines start after the "{" or after an LF right behind it.
            if (subBegin < subEnd && *subBegin == L'\n') ++subBegin;
            item.id = -1;
            item.submenu = std::make_unique<CFgUIMenu>();
            item.submenu->ctrl = ctrl;
            item.submenu->parentMenu = this;
            if (!item.submenu->Parse(subBegin, subEnd)) return 0;
            anySubmenu = true;
        } else if (!ParseId(field, q, &item.id)) {
            return 0;
        }
        columns = std::max(columns, LabelColumns(item.label));
        items.push_back(std::move(item));
        p = q + 1;
    }
    if (anySubmenu) ++columns;
    return 1;
}

int32_t CFgUIMenu::Show(int32_t px, int32_t py, CFgScreen* owner, int32_t initialRow) {
    if (px < 0 || py < 0 || !ctrl) return 0;
    highlighted = initialRow >= 0 && initialRow < Count() ? initialRow : -1;
    if (window) {
        PlatShowWindow(window, true);
        Redraw();
        return 1;
    }
    const uint64_t h = ctrl->fontHeight;
    const uint64_t w = columns * h / 2 + 4;
    const uint64_t hh = items.size() * (h + 2) + 2;
    if (w > INT32_MAX || hh > INT32_MAX) return 0;
    if (!Create(px, py, w, hh, L"", kFgStylePopup, owner)) return 0;
    if (!font.Create(h, nullptr)) {
        Destroy();
        return 0;
    }
    font.AttachToScreen(this);
    rowHeight = static_cast<int32_t>(h + 2);
    Redraw();
    return 1;
}

void CFgUIMenu::HideSubmenus() {
    for (Item& item : items)
        if (item.submenu && item.submenu->window && item.submenu->shown) item.submenu->Hide();
}

void CFgUIMenu::Hide() {
    HideSubmenus();
    if (window && PlatGetCapture() == window) PlatReleaseCapture();
    highlighted = -1;
    if (window) PlatShowWindow(window, false);
}

void CFgUIMenu::Clear() {
    items.clear();
    columns = 0;
    highlighted = -1;
    font.DetachFromScreen();
    Destroy();
    rowHeight = 0;
}

void CFgUIMenu::MakeActive() {
    ctrl->active = this;
    PlatSetCapture(window);
}

void CFgUIMenu::HideTree() {
    ctrl->root.Hide();
    ctrl->currentId = -1;
    ctrl->done = 1;
}

int32_t CFgUIMenu::RowAt(int32_t px, int32_t py) const {
    const int32_t w = static_cast<int32_t>(width), h = static_cast<int32_t>(height);
    if (rowHeight <= 0 || px < 2 || px > w - 3 || py < 2 || py > h - 3) return -1;
    if ((py - 2) % rowHeight > rowHeight - 3) return -1;
    const int32_t row = (py - 2) / rowHeight;
    return row < Count() ? row : -1;
}

void CFgUIMenu::Highlight(int32_t row) {
    highlighted = row;
    ctrl->currentId = row >= 0 ? ChosenId(items[static_cast<size_t>(row)].id) : -1;
    Redraw();
}

CFgUIMenu* CFgUIMenu::ChainMenuAt(int32_t px, int32_t py, int32_t* cx, int32_t* cy) {
    const int64_t dx = static_cast<int64_t>(x) + px, dy = static_cast<int64_t>(y) + py;
    for (CFgUIMenu* m = this; m; m = m->parentMenu) {
        if (!m->window || !m->shown) continue;
        const int64_t lx = dx - m->x, ly = dy - m->y;
        if (lx >= 0 && ly >= 0 && lx < static_cast<int64_t>(m->width) && ly < static_cast<int64_t>(m->height)) {
            *cx = static_cast<int32_t>(lx);
            *cy = static_cast<int32_t>(ly);
            return m;
        }
    }
    return nullptr;
}

void CFgUIMenu::OpenSubmenu(int32_t row, int32_t initialRow) {
    HideSubmenus();
    CFgUIMenu* sub = items[static_cast<size_t>(row)].submenu.get();
    const int32_t sx = x + static_cast<int32_t>(width) - rowHeight / 2;
    const int32_t sy = y + 2 + row * rowHeight;
    if (!sub->Show(sx, sy, this, initialRow)) {
        ctrl->currentId = -1;
        return;
    }
    ctrl->currentId = sub->highlighted >= 0 ? ChosenId(sub->items[static_cast<size_t>(sub->highlighted)].id) : -1;
    sub->MakeActive();
}

void CFgUIMenu::Activate() {
    if (highlighted < 0 || highlighted >= Count()) return;
    const Item& item = items[static_cast<size_t>(highlighted)];
    if (item.id == -2) return;
    if (item.submenu)
        OpenSubmenu(highlighted, -1);
    else
        ctrl->done = 1;
}

void CFgUIMenu::OnMouseMove(int32_t px, int32_t py) {
    if (!ctrl || ctrl->active != this) return;
    const int32_t row = RowAt(px, py);
    if (row >= 0 && row != highlighted) Highlight(row);
}

void CFgUIMenu::OnLButtonDown(int32_t px, int32_t py) {
    if (!ctrl || ctrl->active != this) return;
    int32_t cx, cy;
    if (!ChainMenuAt(px, py, &cx, &cy)) HideTree();
}

void CFgUIMenu::OnLButtonUp(int32_t px, int32_t py) {
    if (!ctrl || ctrl->active != this) return;
    int32_t cx, cy;
    CFgUIMenu* m = ChainMenuAt(px, py, &cx, &cy);
    if (!m) return;
    if (m == this) {
        // The release acts on the row under the pointer.
        OnMouseMove(px, py);
        Activate();
        return;
    }
    Hide();
    ctrl->currentId = -1;
    m->MakeActive();
    m->OnMouseMove(cx, cy);
    m->OnLButtonDown(cx, cy);
    m->OnLButtonUp(cx, cy);
}

void CFgUIMenu::OnRButtonUp(int32_t px, int32_t py) {
    if (!ctrl || ctrl->active != this) return;
    OnMouseMove(px, py);
    Hide();
    if (this == &ctrl->root) {
        ctrl->done = 1;
        return;
    }
    ctrl->currentId = -1;
    parentMenu->MakeActive();
}

void CFgUIMenu::OnKeyStateChanged() {
    if (!ctrl || ctrl->active != this) return;
    const uint16_t state = GetKeyState();
    if (state & kFgKeyStateDown) {
        if (highlighted < Count() - 1) Highlight(highlighted + 1);
    } else if (state & kFgKeyStateUp) {
        if (highlighted > 0)
            Highlight(highlighted - 1);
        else if (this == &ctrl->root && ctrl->closeOnUp)
            HideTree();
    } else if (state & kFgKeyStateRight) {
        if (highlighted >= 0 && items[static_cast<size_t>(highlighted)].submenu) {
            SetKeyState(static_cast<uint16_t>(state & ~kFgKeyStateRight));
            OpenSubmenu(highlighted, 0);
        }
    } else if (state & kFgKeyStateLeft) {
        if (parentMenu) {
            SetKeyState(static_cast<uint16_t>(state & ~kFgKeyStateLeft));
            Hide();
            ctrl->currentId = -1;
            parentMenu->MakeActive();
        }
    }
}

void CFgUIMenu::OnChar(uint16_t character) {
    if (!ctrl || ctrl->active != this) return;
    if (character == 10 || character == 32)
        Activate();
    else if (character == 27)
        HideTree();
}

void CFgUIMenu::Redraw() {
    if (DeferRedraw()) return;
    if (!ctrl || rowHeight <= 0 || !BeginPaint()) return;
    FgExchangeSharedPages(&font);
    const int32_t w = static_cast<int32_t>(width), hh = static_cast<int32_t>(height);
    const int32_t h = static_cast<int32_t>(ctrl->fontHeight);
    const double* text = ctrl->textColor;
    const double* back = ctrl->backColor;
    double grey[3];
    for (int i = 0; i < 3; ++i) grey[i] = (text[i] + back[i]) / 2;
    FgDrawBevel(this, 0, 0, w - 1, hh - 1, back, kWhite, kBlack);
    FgScissorRect(this, 2, 2, w - 3, hh - 3);
    const int32_t cols = static_cast<int32_t>(columns);
    for (int32_t i = 0; i < Count(); ++i) {
        const Item& item = items[static_cast<size_t>(i)];
        const int32_t top = 2 + i * rowHeight;
        const double* color = item.id == -2 ? grey : text;
        if (i == highlighted) {
            FgFillRect(this, 2, top, (h / 2) * cols + 1, top + h - 1, text);
            color = back;
        }
        glColor3dv(color);
        font.DrawText(2, top, item.label.c_str());
        if (item.submenu) FgFillRect(this, (cols - 1) * (h / 2) + 2, top + 1, w - 4, top + h - 2, color);
    }
    glDisable(GL_SCISSOR_TEST);
    FgExchangeSharedPages(&font);
    EndPaint(1);
}

int32_t FgTrackPopupMenu(const wchar_t* text, int32_t x, int32_t y, CFgUICtrl* container, CFgScreen* owner,
                         int32_t initialRow) {
    // The record holds a whole screen with its font: too large for the stack.
    auto record = std::make_unique<CFgUIMenuCtrl>();
    CFgUIMenuCtrl& rec = *record;
    if (container) {
        rec.fontHeight = container->font.height;
        std::copy(container->colors[kFgColorLabel], container->colors[kFgColorLabel] + 3, rec.textColor);
        std::copy(container->colors[kFgColorFace], container->colors[kFgColorFace] + 3, rec.backColor);
    }
    rec.closeOnUp = 1;
    rec.root.ctrl = &rec;
    if (!rec.root.Build(text, nullptr)) return -1;
    int32_t row = -1;
    if (initialRow >= 0 && initialRow < rec.root.Count()) {
        row = initialRow;
        rec.currentId = ChosenId(rec.root.items[static_cast<size_t>(row)].id);
    }
    // A menu that cannot be shown chose nothing.
    if (!rec.root.Show(x, y, owner, row)) return -1;
    rec.root.MakeActive();
    FgNotifyModalStart(&rec.root);
    PlatMessage message;
    while (!rec.done) {
        if (PlatGetMessage(&message) <= 0) {
            g_QuitRequested.store(1);
            rec.currentId = -1;
            break;
        }
        PlatDispatchMessage(message);
        // A loop nested in the dispatch took the quit message.
        if (g_QuitRequested.load()) {
            rec.currentId = -1;
            break;
        }
    }
    PlatReleaseCapture();
    rec.root.Clear();
    return rec.currentId;
}
