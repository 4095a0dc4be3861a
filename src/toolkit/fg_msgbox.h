// Modal message box with one or two buttons.
#pragma once

#include <cstdint>

#include "toolkit/fg_button.h"
#include "toolkit/fg_dialog.h"
#include "toolkit/fg_font.h"

// Types: 0 "OK" (1) and "Cancel" (0); 2 "はい" (1) and "いいえ" (0); any
// other "OK" (0). Returns the chosen button's result, 0 when the box cannot
// be created and -1 when the program is quitting.
int32_t FgMessageBox(const wchar_t* text, const wchar_t* title, int32_t type, CFgScreen* parent);

class CMsgboxScreen : public CFgUIDialog {
public:
    CFgUIButton buttons[2];
    volatile int32_t done = 0;
    int32_t result = -1;
    FgTextLayout layout;  // the text's lines, W = layout.width, T = layout.height
    int32_t fontHeight = 0;
    int32_t type = 1;

    // Lays the text out, creates the screen centred on the parent and adds
    // the buttons; 0 when the screen cannot be created.
    int32_t Open(const wchar_t* text, const wchar_t* title, int32_t boxType, CFgScreen* parent);
    // Runs the modal loop until a button is chosen or the quit message
    // arrives, then destroys the screen; returns the result.
    int32_t RunModal();
    int32_t ButtonCount() const { return type == 0 || type == 2 ? 2 : 1; }

    void DrawOverlay() override;
};
