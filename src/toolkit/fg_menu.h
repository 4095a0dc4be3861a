// Popup menus built from menu text and tracked in their own message loop.
//
// Menu text: one item per line, each ended by LF. An item line is a label, a
// TAB and a field: a decimal id (at most 31 characters; empty = 0; negative =
// greyed, stored as -2) or "{" followed by the lines of a submenu, which ends
// with a line starting with "}" (the LF after that "}" ends the item line).
// A menu ends at the end of the text or at a line starting with "}".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "toolkit/fg_font.h"
#include "toolkit/fg_screen.h"

class CFgUICtrl;
class CFgUIMenuCtrl;

class CFgUIMenu : public CFgScreen {
public:
    struct Item {
        std::wstring label;
        int32_t id = 0;  // -1 for a submenu, -2 for a greyed item
        std::unique_ptr<CFgUIMenu> submenu;
    };

    CFgUIMenu();
    ~CFgUIMenu() override;

    // Parses the text (null gives an empty menu); 0 for a malformed text,
    // which leaves the menu empty.
    int32_t Build(const wchar_t* text, CFgUIMenu* parentMenu);
    // Opens the window at a desktop position (both >= 0), owned by `owner`;
    // the initial row is highlighted (-1 for none).
    int32_t Show(int32_t x, int32_t y, CFgScreen* owner, int32_t initialRow);
    // Hides the open submenus, then this menu, releasing the capture.
    void Hide();
    // Frees the items and submenus and destroys the window.
    void Clear();
    // Makes this the menu that takes the input, with the mouse capture.
    void MakeActive();

    void OnMouseMove(int32_t x, int32_t y) override;
    void OnLButtonDown(int32_t x, int32_t y) override;
    void OnLButtonUp(int32_t x, int32_t y) override;
    void OnRButtonUp(int32_t x, int32_t y) override;
    void OnKeyStateChanged() override;
    void OnChar(uint16_t character) override;
    void Redraw() override;

    CFgFont font;
    int32_t rowHeight = 0;
    CFgUIMenuCtrl* ctrl = nullptr;
    CFgUIMenu* parentMenu = nullptr;
    std::vector<Item> items;
    int32_t highlighted = -1;
    uint64_t columns = 0;  // widest label in columns (characters >= 256 count 2), +1 with a submenu

    int32_t Count() const { return static_cast<int32_t>(items.size()); }

private:
    int32_t Parse(const wchar_t* text, const wchar_t* end);
    // The row under a client point, -1 outside the rows or in a row gap.
    int32_t RowAt(int32_t px, int32_t py) const;
    void Highlight(int32_t row);
    // Acts on the highlighted row as a left release over it does.
    void Activate();
    void OpenSubmenu(int32_t row, int32_t initialRow);
    void HideSubmenus();
    // The menu of the chain from this one to the root under a point of this
    // menu's client area, with the point converted to its client area.
    CFgUIMenu* ChainMenuAt(int32_t px, int32_t py, int32_t* cx, int32_t* cy);
    void HideTree();
};

// The tracking record shared by the menus of one tree.
class CFgUIMenuCtrl {
public:
    CFgUIMenu root;
    CFgUIMenu* active = nullptr;  // the menu that holds the mouse capture
    int32_t currentId = -1;
    uint32_t done = 0;
    uint32_t closeOnUp = 0;  // up at the first row of the root closes the tree
    uint64_t fontHeight = 16;
    double textColor[3] = {0, 0, 0};
    double backColor[3] = {1, 1, 1};
};

// Shows the menu at a desktop position, tracks mouse and keys until an item
// is chosen or the menu is closed, and returns the chosen id (-1 for none or
// for a malformed text). The container, when given, supplies the font height
// and colours; `initialRow` 0 highlights the first row, -1 none.
int32_t FgTrackPopupMenu(const wchar_t* text, int32_t x, int32_t y, CFgUICtrl* container, CFgScreen* owner,
                         int32_t initialRow);
