// "Select components": processes no pixels; from this filter on, the chain
// hands the later filters a grey working image of one colour component
// (the entry "ALL" ends that).
#pragma once

#include <cstdint>

#include "filters/processing/component_panel.h"

class CLfSelect : public CComponentPanel<CLfSelect> {
public:
    CLfSelect();

    // Declared in the order of their keys in a saved section.
    CSettingFlag cmyk{settings, L"cmyk", 0};
    CSetting<uint32_t> sel{settings, L"sel", 0, 0, kEntries - 1};

    // The chain's work-component code of an entry (0: the whole image).
    static uint32_t Code(uint32_t sel, uint32_t cmyk);

    PanelSpec Panel() override;
    int32_t Filter(CImgBuff* image, uint64_t frame, int64_t* x, int64_t* y, int64_t* w, int64_t* h,
                   uint32_t* connect, uint32_t* bg, uint32_t* workFormat, uint32_t* channelBytes) override;

protected:
    void ApplyRules() override;
    void ShowSettings() override;
};

CImgFilter* CreateLfSelect();
