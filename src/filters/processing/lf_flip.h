// "Flip": mirrors the processing rectangle left-right, top-bottom, or both
// (half a turn), in place and in the image's own pixel format.
#pragma once

#include "filters/processing/dialog_filter.h"

class CLfFlip : public CDialogFilter<CLfFlip> {
public:
    CLfFlip();

    CSettingFlag flipH{settings, L"flip_h", 0};
    CSettingFlag flipV{settings, L"flip_v", 0};

    CFgUIChkButton horizontal, vertical;

    PanelSpec Panel() override;
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t* workFormat, uint32_t* channelBytes) override;

protected:
    void ShowSettings() override;

private:
    static void OnCheck(CFgUIChkButton* button, void* data);
};

// A new "Flip" filter, or null when out of memory.
CImgFilter* CreateLfFlip();
