// "Separation": touching objects (particles) of a binary image inside the
// region cut apart, with the run's connectivity and background; optionally
// flooded over the image's own grey levels.
#pragma once

#include <cwchar>

#include "filters/processing/dialog_filter.h"

// A switch saved as "1" or "0" that any saved text other than exactly "0" sets.
class CSettingLooseFlag : public CSettingFlag {
public:
    using CSettingFlag::CSettingFlag;
    bool Parse(const wchar_t* text) override {
        Set(std::wcscmp(text, L"0") != 0 ? 1 : 0);
        return true;
    }
};

class CLfSeparation : public CDialogFilter<CLfSeparation> {
public:
    CLfSeparation();

    CSettingLooseFlag gray{settings, L"gray", 0};
    CFgUIChkButton grayBox;

    PanelSpec Panel() override;
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t* workFormat, uint32_t* channelBytes) override;

protected:
    void ShowSettings() override;

private:
    static void OnGrayBox(CFgUIChkButton* box, void* data);
};

class CImgFilter;

// A new "Separation" filter, or null when out of memory.
CImgFilter* CreateLfSeparation();
