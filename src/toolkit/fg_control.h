// The control base: every control of a dialog is a CFgUIObj linked into the
// dialog's control container (CFgUICtrl, fg_dialog.h).
#pragma once

#include <cstdint>

#include "toolkit/fg_screen.h"

class CFgUICtrl;
class CFgFont;

class CFgUIObj : public CFgInput {
public:
    CFgUIObj() = default;
    // Unlinks the control from its container, so no pointer to it remains.
    ~CFgUIObj() override;
    CFgUIObj(const CFgUIObj&) = delete;
    CFgUIObj& operator=(const CFgUIObj&) = delete;

    int32_t x = 0;  // rectangle in the dialog's client pixels
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    uint32_t visible = 1;
    uint32_t enabled = 1;
    uint32_t focused = 0;
    uint32_t tabStop = 1;
    uint32_t notifying = 0;  // set while the control's own callback runs
    CFgUIObj* next = nullptr;
    CFgUIObj* previous = nullptr;
    CFgUICtrl* parent = nullptr;

    // The key state lives with the owner screen.
    void SetKeyState(uint16_t state) override;
    uint16_t GetKeyState() override;
    // Focus keys on release: Tab and Enter to the next tab stop, Shift+Tab
    // and Esc to the previous one.
    void OnKeyUp(uint16_t key) override;

    virtual void Draw(CFgScreen* screen, CFgFont* font) { (void)screen, (void)font; }
    virtual void OnAttach() {}
    virtual void OnRectChanged(int32_t newX, int32_t newY, int32_t newWidth, int32_t newHeight) {
        (void)newX, (void)newY, (void)newWidth, (void)newHeight;
    }
    virtual void OnVisibleChanged(uint32_t shown, uint64_t argument) { (void)shown, (void)argument; }
    virtual int32_t CanEnable(int32_t enable) {
        (void)enable;
        return 1;
    }
    virtual void OnSetFocus() {}
    virtual void OnKillFocus(CFgUIObj* newFocus) { (void)newFocus; }
    virtual void OnMouseEnter() {}
    virtual void OnMouseLeave() {}

    // 0 when width or height is below 1 (the rectangle is kept).
    int32_t SetRect(int32_t newX, int32_t newY, int32_t newWidth, int32_t newHeight);
    void SetVisible(uint32_t shown, uint64_t argument);
    // Takes the mouse for the owner screen when no control of the container holds it.
    void SetCapture();
    void ReleaseCapture();

    int32_t Right() const { return x + width - 1; }
    int32_t Bottom() const { return y + height - 1; }
    bool Contains(int32_t px, int32_t py) const { return px >= x && px < x + width && py >= y && py < y + height; }
    CFgScreen* OwnerScreen() const;
    // Colour `index` of the container's colour table (black without a container).
    const double* Color(uint32_t index) const;
    // Repaints the whole dialog.
    void RedrawParent();
};
