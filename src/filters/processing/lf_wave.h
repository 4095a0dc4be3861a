// "Color filter": an optical colour filter of monochromatic light of one
// wavelength. The image is tinted by the wavelength's sRGB colour, reduced
// to grey through it, or (grey images) scaled by a gain.
#pragma once

#include <atomic>
#include <cfloat>
#include <cstdint>

#include "filters/processing/dialog_filter.h"
#include "toolkit/fg_tab.h"
#include "toolkit/fg_texture.h"

class CLfWave : public CDialogFilter<CLfWave> {
public:
    // A radio group's index as saved: -1 (none) up to a maximum. A text with
    // anything but an optional "-" and digits, or beyond 32 bits, selects
    // the first radio; another value out of range is ignored.
    class CRadioIndex : public CSetting<int32_t> {
    public:
        CRadioIndex(CFilterSettingList& list, const wchar_t* key, int32_t maximum)
            : CSetting<int32_t>(list, key, 0, -1, maximum) {}
        bool Parse(const wchar_t* text) override;
    };
    // "0" is off, any other text on.
    class CInverse : public CSetting<uint32_t> {
    public:
        explicit CInverse(CFilterSettingList& list) : CSetting<uint32_t>(list, L"inverse", 0, 0, 1) {}
        bool Parse(const wchar_t* text) override;
    };

    CLfWave();

    CSetting<double> wavelength{settings, L"wave_length", 0, 0, DBL_MAX};
    CSetting<double> freeGain{settings, L"gain_free", 0, 0, DBL_MAX};
    CRadioIndex filterMode{settings, L"filter", 2};
    CRadioIndex gainMode{settings, L"gain", 3};
    CInverse inverse{settings};

    // The filter colour (0..1) and its brightness; user-interface thread.
    double componentGains[4] = {0, 0, 0, 0};
    // Set while the last image through the step was a colour image.
    std::atomic<uint32_t> colourSeen{0};
    uint32_t updating = 0;
    CFgTexture swatch;

    CFgUIGroup filterGroup, gainGroup;
    CFgUILabel waveLabel, nmLabel;
    CFgUIEdit waveEdit, freeEdit;
    CFgUIButton redButton, greenButton, blueButton;
    CFgUIChkButton filterOff, filterColour, filterGrey;
    CFgUIChkButton gainOff, gainNormalize, gainRaw, gainFree;
    CFgUIChkButton inverseButton;
    CFgUIButton redStrength, greenStrength, blueStrength, brightness;

    PanelSpec Panel() override;
    void ShowUi(int32_t show, CFgScreen* parent) override;
    void Redraw() override;
    void DrawOverlay() override;
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t* workFormat, uint32_t* channelBytes) override;

    // Sets the wavelength as a button or the edit box does.
    void SetWavelength(double nm);

protected:
    void ApplyRules() override;
    void ShowSettings() override;

private:
    void UpdateColour();
    void ShowNumber(CFgUIEdit* edit, double value);
    void Changed(bool rerun);
    std::atomic<uint32_t> rulesDue_{0};
};

CImgFilter* CreateLfWave();
