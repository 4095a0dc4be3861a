// "Pixel value adjustment": shifts every sample of the region by a signed
// amount (adjustment) or sets every sample to one level (setting); one
// 0..255 slider gives the level, 128 being no shift.
#pragma once

#include "filters/processing/dialog_filter.h"
#include "image/imgbuff.h"
#include "toolkit/fg_scrollbar.h"

class CLfClear : public CDialogFilter<CLfClear> {
public:
    enum : uint32_t { kModeSet = 0, kModeAdjust = 1 };

    CLfClear();

    CSetting<uint32_t> mode{settings, L"mode", kModeAdjust, 0, 1, SettingRule::Exact};
    CSetting<uint32_t> level{settings, L"sel", 128, 0, 255};

    CFgUIChkButton setRadio, adjustRadio;
    CFgUIButton minButton, centerButton, maxButton;
    CFgUIScrollBar levelBar;

    PanelSpec Panel() override;
    void LoadConfig(CCfgPack* pack) override;
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t* workFormat, uint32_t* channelBytes) override;

    // The bar moved to `position` (also a loaded level): store, repaint, rerun.
    void LevelChanged(int32_t position);

protected:
    void ShowSettings() override;
};

// Applies the filter's arithmetic to the region of an image (rows on the
// pool); 1 when the image and region are usable.
int32_t LfClearApply(CImgBuff* image, const ImgRect* region, uint32_t mode, uint32_t level);

CImgFilter* CreateLfClear();
