// List box: a vertical list of text items with a scroll bar at its right
// edge, in single selection (one current item) or multiple selection (a
// selected flag per item, toggled by click or space).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/fg_control.h"
#include "toolkit/fg_scrollbar.h"

struct FgListItem {
    std::wstring text;  // at most 255 characters
    uint32_t data = 0;  // chosen by the owner
    uint32_t selected = 0;
};

class CFgUIList : public CFgUIObj {
public:
    // Called with the item clicked or moved to.
    using Callback = void (*)(CFgUIList* list, void* data, int32_t item);

    Callback callback = nullptr;
    void* data = nullptr;
    CFgUIScrollBar bar;
    int32_t hovered = -1;
    std::vector<FgListItem> items;  // the owner reads texts, data and flags here
    int32_t current = -1;
    int32_t top = -1;  // first visible item; -1 while the list is empty
    uint32_t multiple = 0;

    int32_t Count() const { return static_cast<int32_t>(items.size()); }
    int32_t Capacity() const { return capacity_; }
    // Frees every item; mode 2 switches to multiple selection, other modes
    // keep the selection mode.
    void RemoveAllItems(int32_t mode, int32_t redraw);
    // Grows the capacity by n rounded up to a multiple of 8.
    int32_t Reserve(int32_t n);
    // Before item `index` (below the count), or appended for -1. The current
    // item keeps pointing at its item.
    int32_t InsertItem(int32_t index, const wchar_t* text, uint32_t itemData, int32_t redraw);
    int32_t DeleteItem(int32_t index);
    int32_t SetTopItem(int32_t index);
    // Single selection only; -1 chooses nothing.
    int32_t SetCurrent(int32_t index);
    // Multiple selection only.
    int32_t SetItemSelected(int32_t index, int32_t flag);

    // Rows of the font height; also the bar's page.
    int32_t VisibleRows() const;
    // The item under a point relative to the list, or -1.
    int32_t RowAt(int32_t px, int32_t py) const;
    void ScrollCurrentIntoView();

    void Draw(CFgScreen* screen, CFgFont* font) override;
    void OnAttach() override;
    void OnRectChanged(int32_t newX, int32_t newY, int32_t newWidth, int32_t newHeight) override;
    void OnVisibleChanged(uint32_t shown, uint64_t argument) override;
    void OnMouseMove(int32_t x, int32_t y) override;
    void OnLButtonDown(int32_t x, int32_t y) override;
    void OnMouseWheel(int32_t x, int32_t y, int32_t notches) override;
    void OnKeyStateChanged() override;
    void OnKeyRepeat() override { OnKeyStateChanged(); }
    void OnKeyUp(uint16_t key) override;
    void OnKillFocus(CFgUIObj* newFocus) override;
    void OnMouseLeave() override;

private:
    int32_t FontHeight() const;
    void UpdateScrollRange();
    void PlaceBar();
    void HideBar();
    void Notify(int32_t item);
    bool Grow(size_t wanted);

    int32_t capacity_ = 0;
};
