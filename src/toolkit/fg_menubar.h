// Menu bar: a strip of titles across the top of its screen, each opening a
// popup menu from stored menu text or from text the owner makes on demand.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/fg_control.h"

class CFgUIMenuBar;

struct FgMenuBarItem {
    using TextCallback = const wchar_t* (*)(void* data, int32_t item);

    std::wstring label;
    std::wstring menuText;
    bool hasMenuText = false;
    // Its text stays the callback's: valid until the menu closes, never freed by the bar.
    TextCallback textCallback = nullptr;
    void* data = nullptr;
    int32_t x0 = 0;  // the label's span, relative to the left text margin
    int32_t x1 = 0;
    int32_t state = -1;
    uint32_t enabled = 1;

    // State 0, or state -1 with the enabled flag cleared.
    bool Greyed() const { return state == 0 || (state == -1 && !enabled); }
};

class CFgUIMenuBar : public CFgUIObj {
public:
    using SelectCallback = void (*)(CFgUIMenuBar* bar, void* data, int32_t item, int32_t id);

    SelectCallback callback = nullptr;
    void* data = nullptr;
    std::vector<FgMenuBarItem> items;
    int32_t hot = -1;
    uint32_t barEnabled = 1;  // the last value given to CanEnable
    std::wstring joinedLabels;
    int32_t barWidth = 0;
    int32_t barHeight = 0;
    uint64_t layoutFontHeight = 0;

    // The new item's index, or -1 for a null or empty label.
    int32_t AddItem(const wchar_t* label, const wchar_t* menuText, FgMenuBarItem::TextCallback textCallback,
                    void* itemData);
    void RemoveAllItems();
    int32_t ItemCount() const { return static_cast<int32_t>(items.size()); }
    // The item whose title holds a point of the bar, or -1.
    int32_t HitTest(int32_t px, int32_t py) const;

    void Draw(CFgScreen* screen, CFgFont* font) override;
    void OnAttach() override;
    void OnMouseMove(int32_t x, int32_t y) override;
    void OnLButtonDown(int32_t x, int32_t y) override;
    void OnLButtonUp(int32_t x, int32_t y) override;
    void OnKeyStateChanged() override;
    void OnKeyRepeat() override { OnKeyStateChanged(); }
    void OnChar(uint16_t character) override;
    // Greys or restores every title but keeps the bar itself enabled, so it
    // still takes the mouse; returns 0.
    int32_t CanEnable(int32_t enable) override;
    void OnSetFocus() override;
    void OnKillFocus(CFgUIObj* newFocus) override;

private:
    uint64_t FontHeight() const;
    void Layout();
    void OpenMenu(int32_t initialRow);
    void DropContainerFocus();
};
