#include "toolkit/fg_list.h"

#include <algorithm>
#include <climits>
#include <new>

#include "toolkit/fg_dialog.h"
#include "toolkit/fg_draw.h"
#include "toolkit/fg_font.h"
#include "toolkit/fg_keys.h"
#include "toolkit/fg_text_batch.h"

namespace {

constexpr uint16_t kKeySpace = 32;
constexpr int32_t kBarWidth = 16;
constexpr size_t kMaxText = 255;

bool ValidBarPosition(const CFgUIScrollBar& bar, int32_t value) {
    return value >= bar.minimum && static_cast<int64_t>(value) + bar.page - 1 <= bar.maximum;
}

// The bar moves the list: its position is the top item.
void OnBarMoved(CFgUIScrollBar*, void* data, int32_t position) {
    auto* list = static_cast<CFgUIList*>(data);
    if (list->top != position) list->SetTopItem(position);
}

}  // namespace

int32_t CFgUIList::FontHeight() const {
    const int32_t f = parent ? static_cast<int32_t>(parent->font.height) : 14;
    return f > 0 ? f : 1;
}

int32_t CFgUIList::VisibleRows() const { return std::max(1, height / FontHeight()); }

void CFgUIList::HideBar() {
    bar.visible = 0;
    bar.enabled = 0;
    // A hidden bar holding the focus passes it on.
    if (parent && parent->focused == &bar) parent->FocusNext();
}

void CFgUIList::UpdateScrollRange() {
    if (items.empty()) {
        bar.minimum = bar.maximum = -1;
        HideBar();
        return;
    }
    bar.minimum = 0;
    bar.maximum = Count() - 1;
    bar.visible = visible;
    bar.enabled = enabled;
    // When every item fits the bar goes away.
    if ((height - 2) / FontHeight() >= Count()) {
        bar.position = 0;
        HideBar();
    }
}

void CFgUIList::PlaceBar() {
    bar.SetRect(x + width - kBarWidth, y, kBarWidth, height);
    bar.page = VisibleRows();
    UpdateScrollRange();
}

void CFgUIList::Notify(int32_t item) {
    if (notifying || !callback) return;
    notifying = 1;
    callback(this, data, item);
    notifying = 0;
}

bool CFgUIList::Grow(size_t wanted) {
    if (wanted > static_cast<size_t>(INT32_MAX)) return false;
    try {
        items.reserve(wanted);
    } catch (const std::bad_alloc&) {
        return false;
    }
    capacity_ = static_cast<int32_t>(wanted);
    return true;
}

void CFgUIList::RemoveAllItems(int32_t mode, int32_t redraw) {
    std::vector<FgListItem>().swap(items);
    capacity_ = 0;
    current = -1;
    top = -1;
    hovered = -1;
    if (mode == 2) multiple = 1;
    // A bar already at 0 has nothing to report (and would repaint for it).
    if (bar.position != 0 && ValidBarPosition(bar, 0)) bar.Notify(0);
    UpdateScrollRange();
    if (redraw) RedrawParent();
}

int32_t CFgUIList::Reserve(int32_t n) {
    if (n < 1 || n > INT32_MAX - 7) return 0;
    const int64_t wanted = static_cast<int64_t>(capacity_) + ((static_cast<int64_t>(n) + 7) / 8) * 8;
    return Grow(static_cast<size_t>(wanted)) ? 1 : 0;
}

int32_t CFgUIList::InsertItem(int32_t index, const wchar_t* text, uint32_t itemData, int32_t redraw) {
    if (!text || index < -1 || index >= Count()) return 0;
    // A full array doubles, so that filling a list takes linear time.
    if (Count() == capacity_ && !Grow(std::max<size_t>(8, static_cast<size_t>(capacity_) * 2))) return 0;
    FgListItem item;
    item.data = itemData;
    try {
        const size_t length = std::char_traits<wchar_t>::length(text);
        item.text.assign(text, std::min(length, kMaxText));
        if (index < 0)
            items.push_back(std::move(item));
        else
            items.insert(items.begin() + index, std::move(item));
    } catch (const std::bad_alloc&) {
        return 0;
    }
    // The current and hovered items follow their items.
    if (index >= 0 && current >= index) ++current;
    if (index >= 0 && hovered >= index) ++hovered;
    if (top == -1) top = 0;
    UpdateScrollRange();
    if (ValidBarPosition(bar, top)) bar.position = top;
    if (redraw) RedrawParent();
    return 1;
}

int32_t CFgUIList::DeleteItem(int32_t index) {
    if (index < 0 || index >= Count()) return 0;
    items.erase(items.begin() + index);
    if (items.empty()) {
        std::vector<FgListItem>().swap(items);
        capacity_ = 0;
    }
    if (current == index)
        current = -1;
    else if (current > index)
        --current;
    if (hovered == index)
        hovered = -1;
    else if (hovered > index)
        --hovered;
    if (top > Count() - 1) --top;
    UpdateScrollRange();
    bar.Notify(top);
    RedrawParent();
    return 1;
}

int32_t CFgUIList::SetTopItem(int32_t index) {
    if (index < -1 || index >= Count()) return 0;
    top = index;
    UpdateScrollRange();
    const int32_t position = std::max(index, 0);
    if (ValidBarPosition(bar, position)) bar.Notify(position);
    return 1;
}

int32_t CFgUIList::SetCurrent(int32_t index) {
    if (multiple || index < -1 || index >= Count()) return 0;
    if (current >= 0 && current < Count()) items[current].selected = 0;
    current = index;
    if (index >= 0) items[index].selected = 1;
    ScrollCurrentIntoView();
    return 1;
}

int32_t CFgUIList::SetItemSelected(int32_t index, int32_t flag) {
    if (!multiple || index < 0 || index >= Count()) return 0;
    items[index].selected = flag ? 1 : 0;
    return 1;
}

void CFgUIList::ScrollCurrentIntoView() {
    if (multiple || items.empty()) return;
    if (top == -1) {
        top = 0;
        if (ValidBarPosition(bar, 0)) bar.position = 0;
    }
    if (current >= 0) {
        const int32_t rows = VisibleRows();
        if (current < top)
            top = current;
        else if (current >= top + rows)
            top = current - rows + 1;
    }
    // Where top is no valid bar position, the report of the bar's own
    // position brings the top item back to it.
    bar.Notify(top);
}

int32_t CFgUIList::RowAt(int32_t px, int32_t py) const {
    if (px < 1 || px > width - kBarWidth || py < 1 || py >= height || top < 0) return -1;
    const int64_t row = static_cast<int64_t>((py - 1) / FontHeight()) + top;
    return row < Count() ? static_cast<int32_t>(row) : -1;
}

void CFgUIList::OnAttach() {
    bar.tabStop = 0;
    bar.orientation = kFgBarVertical;
    bar.data = this;
    bar.callback = OnBarMoved;
    if (parent && !bar.parent) parent->AddChild(&bar);
    PlaceBar();
    ScrollCurrentIntoView();
}

void CFgUIList::OnRectChanged(int32_t, int32_t, int32_t, int32_t) {
    PlaceBar();
    RedrawParent();
    ScrollCurrentIntoView();
}

void CFgUIList::OnVisibleChanged(uint32_t shown, uint64_t) {
    if (shown)
        UpdateScrollRange();
    else
        HideBar();
}

void CFgUIList::OnMouseMove(int32_t px, int32_t py) {
    const int32_t row = RowAt(px, py);
    if (row == hovered) return;
    hovered = row;
    RedrawParent();
}

void CFgUIList::OnLButtonDown(int32_t px, int32_t py) {
    const int32_t row = RowAt(px, py);
    if (row < 0) return;
    if (multiple) {
        items[row].selected ^= 1;
        current = row;
    } else {
        SetCurrent(row);
    }
    ScrollCurrentIntoView();
    RedrawParent();
    // Last: the callback may refill the list.
    Notify(row);
}

void CFgUIList::OnKeyStateChanged() {
    const uint16_t state = GetKeyState();
    int32_t next = current;
    if ((state & kFgKeyStateDown) && current < Count() - 1)
        next = current + 1;
    else if ((state & kFgKeyStateUp) && current > 0)
        next = current - 1;
    if (next == current || multiple) return;
    SetCurrent(next);
    RedrawParent();
    Notify(next);
}

void CFgUIList::OnKeyUp(uint16_t key) {
    if (key != kKeySpace) {
        CFgUIObj::OnKeyUp(key);
        return;
    }
    if (!multiple || current < 0 || current >= Count()) return;
    items[current].selected ^= 1;
    RedrawParent();
    Notify(current);
}

void CFgUIList::OnMouseWheel(int32_t, int32_t, int32_t notches) {
    const int64_t p = bar.position;
    int64_t next = p;
    if (notches < 0 && p > bar.minimum) {
        next = std::max<int64_t>(p + notches, bar.minimum);
    } else if (notches > 0) {
        if (p + bar.page - 1 >= bar.maximum) return;
        next = std::min<int64_t>(p + notches, static_cast<int64_t>(bar.maximum) - bar.page + 1);
    }
    if (next == p) return;
    SetTopItem(static_cast<int32_t>(next));
    RedrawParent();
}

void CFgUIList::OnKillFocus(CFgUIObj*) {
    hovered = -1;
    RedrawParent();
}

void CFgUIList::OnMouseLeave() {
    hovered = -1;
    RedrawParent();
}

void CFgUIList::Draw(CFgScreen* screen, CFgFont* font) {
    const int32_t right = Right();
    const int32_t bottom = Bottom();
    const double* text = Color(enabled ? kFgColorText : kFgColorDisabledText);
    const double* back = Color(enabled ? kFgColorLight : kFgColorFace);
    FgDrawFrame(screen, x, y, right, bottom, back, text);
    if (!font || items.empty() || top < 0) return;
    const int32_t f = static_cast<int32_t>(font->height);
    if (f < 1 || width < f + kBarWidth || height < 32) return;
    const int32_t clipRight = bar.visible ? right - kBarWidth : right - 1;
    const int32_t clipBottom = bottom - 1;
    // Row fills first, then the texts in one batch per glyph page, both cut
    // to the inside of the frame (less the bar).
    std::vector<FgColorRect> fills;
    CFgTextBatch texts(font);
    int32_t rowTop = y + 1;
    for (int32_t i = top; i < Count() && rowTop <= clipBottom; ++i, rowTop += f) {
        const FgListItem& item = items[static_cast<size_t>(i)];
        const int32_t rowBottom = std::min(rowTop + f - 1, clipBottom);
        const double* ink = text;
        if (item.selected) {
            fills.push_back({x + 1, rowTop, clipRight, rowBottom, text});
            ink = back;
        } else if (i == hovered && enabled) {
            fills.push_back({x + 1, rowTop, clipRight, rowBottom, Color(kFgColorHighlight)});
        }
        texts.Add(x + 1, rowTop, item.text.c_str(), ink, x + 1, y + 1, clipRight, clipBottom);
    }
    FgFillRects(screen, fills.data(), fills.size());
    texts.Draw();
}
