// Progress bar: the part up to position / maximum in colour 0, the rest in
// colour 1, with an optional text in the middle.
#pragma once

#include <cstdint>

#include "toolkit/fg_control.h"

class CFgUIProgressBar : public CFgUIObj {
public:
    const wchar_t* text = nullptr;  // not owned; may be null
    int32_t maximum = 0;            // 0 shows the bar full
    int32_t position = 0;

    // Last pixel column of the filled part.
    int32_t FillEnd() const;
    void Draw(CFgScreen* screen, CFgFont* font) override;
};
