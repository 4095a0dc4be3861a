// "Component extraction": replaces a colour image by one of 19 colour
// components, as grey of the same depth or, colourised, as a colour image
// showing that component alone.
#pragma once

#include <atomic>
#include <cstdint>

#include "filters/processing/component_panel.h"

class CLfConvert : public CComponentPanel<CLfConvert> {
public:
    CLfConvert();

    // Declared in the order of their keys in a saved section.
    CSettingFlag cmyk{settings, L"cmyk", 0};
    CSettingFlag color{settings, L"color", 0};
    CSetting<uint32_t> sel{settings, L"sel", 3, 0, kEntries - 1};
    // Set while the last image was not a colour image; the panel starts
    // disabled until a colour frame arrives.
    std::atomic<uint32_t> notColour{1};

    CFgUIChkButton colorButton;

    // The kernel's component code of an entry.
    static int32_t Code(uint32_t sel, uint32_t cmyk);

    PanelSpec Panel() override;
    void Redraw() override;
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t* workFormat, uint32_t* channelBytes) override;

protected:
    void ApplyRules() override;
    void ShowSettings() override;

private:
    void NotColourChanged(uint32_t value);
    std::atomic<uint32_t> rulesDue_{0};
};

CImgFilter* CreateLfConvert();
