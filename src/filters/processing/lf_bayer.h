// "Bayer convert": turns a colour image into a colour-filter-array mosaic,
// or demosaics one (linear or adaptive colour plane interpolation), for the
// four 2 x 2 Bayer patterns and the two X-Trans patterns, with optional
// per-channel gains.
#pragma once

#include <cfloat>
#include <limits>

#include "filters/processing/dialog_filter.h"

class CLfBayer : public CDialogFilter<CLfBayer> {
public:
    CLfBayer();

    static constexpr double kGainR = 3.344, kGainG = 1.704, kGainB = 8.772;
    static constexpr double kMinGain = std::numeric_limits<double>::denorm_min();

    CSetting<uint32_t> action{settings, L"action", 2, 0, 2};
    CSetting<uint32_t> filter{settings, L"filter", 0, 0, 5};
    CSettingFlag gain{settings, L"gain", 0};
    // A gain is a divisor of the mosaic: only positive finite values.
    CSetting<double> gainR{settings, L"gain_r", kGainR, kMinGain, DBL_MAX};
    CSetting<double> gainG{settings, L"gain_g", kGainG, kMinGain, DBL_MAX};
    CSetting<double> gainB{settings, L"gain_b", kGainB, kMinGain, DBL_MAX};

    CFgUIChkButton bayer, linear, acpi;
    CFgUIChkButton grbg, gbrg, rggb, bggr, xtrans, xtrans4;
    CFgUIChkButton gainButton;
    CFgUIButton reset;
    CFgUILabel labelR, labelG, labelB;
    CFgUIEdit editR, editG, editB;

    PanelSpec Panel() override;
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t* workFormat, uint32_t* channelBytes) override;

protected:
    void ApplyRules() override;
    void ShowSettings() override;

private:
    struct GainEdit {
        CLfBayer* filter;
        CFgUIEdit* edit;
        CSetting<double>* setting;
    };
    GainEdit gainEdits_[3];
    void ShowGains();
    void GainChanged();
    static void OnGainEdit(CFgUIEdit* edit, void* data);
};

CImgFilter* CreateLfBayer();
