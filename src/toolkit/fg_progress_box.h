// Progress box: a small dialog with a message, a progress bar and a "中断"
// (abort) button, shown while a long operation runs on the user-interface
// thread. The operation advances the bar, redraws, pumps messages and stops
// when `cancel` is set; the close box does nothing.
#pragma once

#include <cstdint>

#include "toolkit/fg_button.h"
#include "toolkit/fg_dialog.h"
#include "toolkit/fg_progress.h"

class CFgUIProgressBox : public CFgUIDialog {
public:
    CFgUIProgressBox();

    CFgUIProgressBar bar;
    CFgUIButton abortButton;
    uint32_t cancel = 0;               // set by "中断"
    const wchar_t* message = nullptr;  // owned by the caller; may be null
    int32_t messageX = 10;
    int32_t messageY = 8;
    int32_t blockWidth = 0;

    // Lays out for the message (at least 16 font heights wide) and creates
    // the box centred on the parent; the bar runs from 0 to `maximum`.
    // `unused` is ignored. 0 when the screen cannot be created.
    int32_t Open(int32_t maximum, int32_t unused, const wchar_t* title, const wchar_t* text, CFgScreen* parent);

    void DrawOverlay() override;
};
