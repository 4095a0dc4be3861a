// Push buttons, check buttons and radio groups.
#pragma once

#include <cstdint>
#include <string>

#include "toolkit/fg_control.h"

class CFgTexture;

class CFgUIButton : public CFgUIObj {
public:
    using Callback = void (*)(CFgUIButton* button, void* data);

    Callback callback = nullptr;
    void* data = nullptr;
    std::wstring label;  // up to 255 characters
    uint32_t pressed = 0;

    void SetLabel(const wchar_t* text);

    void OnLButtonDown(int32_t x, int32_t y) override;
    // The release need not be over the button: the press captured the mouse.
    void OnLButtonUp(int32_t x, int32_t y) override;
    void OnKeyDown(uint16_t key) override;
    void OnKeyUp(uint16_t key) override;
    void Draw(CFgScreen* screen, CFgFont* font) override;

private:
    void Press();
    void Release();
};

// A check box, or a radio button when it belongs to a group. The group's
// first button is its leader and holds the selection; members form a ring
// (the last member's next is the leader, the leader's previous the last).
class CFgUIChkButton : public CFgUIObj {
public:
    using Callback = void (*)(CFgUIChkButton* button, void* data);

    CFgUIChkButton();
    ~CFgUIChkButton() override;

    Callback callback = nullptr;
    void* data = nullptr;
    std::wstring label;  // up to 255 characters
    uint32_t checked = 0;
    int32_t groupSelection = -1;  // meaningful in the leader
    int32_t groupIndex = -1;
    CFgUIChkButton* leader = nullptr;  // null: a plain check box
    CFgUIChkButton* nextMember = nullptr;
    CFgUIChkButton* previousMember = nullptr;
    uint32_t pressed = 0;
    CFgTexture* icons = nullptr;  // reference to the shared icon atlas

    void SetLabel(const wchar_t* text);
    // Called on the leader: appends `member` to the group; 0 when the member
    // is missing or already grouped, or this button leads no group of its own.
    int32_t AddToGroup(CFgUIChkButton* member);
    int32_t GetGroupSelection() const;
    // Checks the member with `index` (-1: none) and unchecks the previous
    // one; with `focus` the checked member also takes the focus.
    int32_t SelectInGroup(int32_t index, int32_t focus);

    void OnLButtonDown(int32_t x, int32_t y) override;
    void OnLButtonUp(int32_t x, int32_t y) override;
    // Arrow keys step the selection of a group, wrapping at both ends.
    void OnKeyStateChanged() override;
    void OnKeyDown(uint16_t key) override;
    void OnKeyUp(uint16_t key) override;
    void Draw(CFgScreen* screen, CFgFont* font) override;

private:
    void Press();
    void Click();
    CFgUIChkButton* Member(int32_t index) const;
};
