// Tab control: a row of tab headers over a framed page area; each tab owns
// controls of the same dialog, and only the current tab's controls are
// visible. Group frame: a labelled frame drawn around controls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/fg_control.h"

struct FgTabRecord {
    std::wstring label;
    int32_t x0 = 0;  // header rectangle, relative to the control
    int32_t y0 = 0;
    int32_t x1 = 0;
    int32_t y1 = 0;
    std::vector<CFgUIObj*> controls;
};

class CFgUITab : public CFgUIObj {
public:
    using Callback = void (*)(CFgUITab* tab, void* data, int32_t newIndex, int32_t oldIndex);

    ~CFgUITab() override;

    Callback callback = nullptr;
    void* data = nullptr;
    std::vector<FgTabRecord> tabs;
    int32_t current = -1;
    uint32_t pressing = 0;
    int32_t pressedTab = -1;

    // The new index, or -1 for a null or empty label. The first tab added becomes current.
    int32_t AddTab(const wchar_t* label);
    // Hides the removed tab's controls. The current tab stays current; when
    // it is the one removed, the tab now at its index (or the last) becomes
    // current with its controls shown. No callback.
    int32_t RemoveTab(int32_t index);
    void RemoveAllTabs();
    int32_t SetTabLabel(int32_t index, const wchar_t* label);
    // The control is shown only while the tab is current.
    int32_t AddControl(int32_t index, CFgUIObj* control);
    // Hides the old page, shows the new one, repaints and calls the
    // callback; without force the current tab gives 1 and nothing happens.
    int32_t SelectTab(int32_t index, int32_t force);
    // The page area below the headers (any pointer may be null); 0 when empty.
    int32_t GetPageRect(int32_t* left, int32_t* top, int32_t* right, int32_t* bottom) const;
    int32_t TabCount() const { return static_cast<int32_t>(tabs.size()); }

    void Draw(CFgScreen* screen, CFgFont* font) override;
    void OnAttach() override;
    void OnLButtonDown(int32_t x, int32_t y) override;
    void OnLButtonUp(int32_t x, int32_t y) override;
    void OnKeyStateChanged() override;

private:
    int32_t FontHeight() const;
    // Headers from tab `from` on, each after the one before it.
    void LayoutHeaders(size_t from);
    static void ShowControls(const FgTabRecord& tab, uint32_t shown);
};

class CFgUIGroup : public CFgUIObj {
public:
    // It only draws: not a tab stop.
    CFgUIGroup() { tabStop = 0; }

    std::wstring label;

    int32_t GetInnerRect(int32_t* left, int32_t* top, int32_t* right, int32_t* bottom) const;
    void Draw(CFgScreen* screen, CFgFont* font) override;
};
