// Static text, centred in its rectangle.
#pragma once

#include <string>

#include "toolkit/fg_control.h"

class CFgUILabel : public CFgUIObj {
public:
    std::wstring text;  // up to 255 characters

    void SetText(const wchar_t* value);
    void Draw(CFgScreen* screen, CFgFont* font) override;
};
