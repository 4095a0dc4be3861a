// Dialogs: a screen joined with the control container that owns the list of
// child controls, the colour table, the dialog font, focus, mouse capture and
// hover, and routes input to the children.
#pragma once

#include <cstdint>

#include "toolkit/fg_control.h"
#include "toolkit/fg_font.h"
#include "toolkit/fg_screen.h"

// Colour table indices and their uses.
enum : uint32_t {
    kFgColorText = 0,          // message-box text, progress-bar filled part
    kFgColorLight = 1,         // progress-bar empty part
    kFgColorHighlight = 2,
    kFgColorDark = 3,
    kFgColorLabel = 4,         // text of enabled labels and buttons, popup-menu text
    kFgColorFace = 5,          // dialog background, button face, popup-menu background
    kFgColorFocusFace = 6,     // face of the focused button
    kFgColorDisabledText = 7,  // text of disabled controls
};

class CFgUICtrl {
public:
    CFgUICtrl();
    virtual ~CFgUICtrl();
    CFgUICtrl(const CFgUICtrl&) = delete;
    CFgUICtrl& operator=(const CFgUICtrl&) = delete;

    double colors[8][3];
    CFgUIObj* first = nullptr;
    CFgUIObj* last = nullptr;
    CFgUIObj* focused = nullptr;
    CFgUIObj* captured = nullptr;
    CFgUIObj* hovered = nullptr;
    CFgScreen* owner = nullptr;
    CFgFont font;  // 14 pixels high, default face
    uint32_t enabled = 1;

    virtual void DrawBackground() {}
    virtual void DrawOverlay() {}
    virtual int32_t OnEnableAll(int32_t enable) {
        (void)enable;
        return 1;
    }

    void AddChild(CFgUIObj* child);
    // Unlinks a child (its destructor calls this).
    void RemoveChild(CFgUIObj* child);
    void Redraw();
    int32_t SetFocus(CFgUIObj* child);
    void FocusNext();
    void FocusPrevious();
    void EnableAll(int32_t enable);

    void RouteMouseMove(int32_t x, int32_t y);
    void RouteLButtonDown(int32_t x, int32_t y);
    void RouteLButtonUp(int32_t x, int32_t y);
    void RouteRButtonDown(int32_t x, int32_t y);
    void RouteRButtonUp(int32_t x, int32_t y);
    void RouteMButtonDown(int32_t x, int32_t y);
    void RouteMButtonUp(int32_t x, int32_t y);
    void RouteMouseWheel(int32_t x, int32_t y, int32_t notches);

private:
    enum class Press { None, Left, Other };
    CFgUIObj* RouteTarget(int32_t x, int32_t y, Press press);
    static bool Eligible(const CFgUIObj* child);
};

class CFgUIDialog : public CFgScreen, public CFgUICtrl {
public:
    CFgUIDialog();
    ~CFgUIDialog() override;

    void DrawBackground() override;
    void Redraw() override;

    void OnMouseMove(int32_t x, int32_t y) override { RouteMouseMove(x, y); }
    void OnLButtonDown(int32_t x, int32_t y) override { RouteLButtonDown(x, y); }
    void OnLButtonUp(int32_t x, int32_t y) override { RouteLButtonUp(x, y); }
    void OnRButtonDown(int32_t x, int32_t y) override { RouteRButtonDown(x, y); }
    void OnRButtonUp(int32_t x, int32_t y) override { RouteRButtonUp(x, y); }
    void OnMButtonDown(int32_t x, int32_t y) override { RouteMButtonDown(x, y); }
    void OnMButtonUp(int32_t x, int32_t y) override { RouteMButtonUp(x, y); }
    void OnMouseWheel(int32_t x, int32_t y, int32_t notches) override { RouteMouseWheel(x, y, notches); }
    // Key events go to the focused child when it is visible and enabled.
    void OnSpecialKeyDown(uint32_t code) override;
    void OnSpecialKeyUp(uint32_t code) override;
    void OnKeyStateChanged() override;
    void OnKeyRepeat() override;
    void OnKeyDown(uint16_t key) override;
    // With no focused child, Tab focuses the first tab stop.
    void OnKeyUp(uint16_t key) override;
    void OnChar(uint16_t character) override;

private:
    CFgUIObj* KeyTarget() const;
};
