// "Noise remover": deletes the objects of a binary image by their size in
// pixels (at most a minimum, at least a maximum, or both).
#pragma once

#include "filters/processing/dialog_filter.h"

class CLfNoiseRemover : public CDialogFilter<CLfNoiseRemover> {
public:
    CLfNoiseRemover();

    // Declared in the order of their keys in a saved section. The effective
    // values ("param_*") are what the kernel receives: the entered value
    // while its switch is on, 0 (no limit) while it is off.
    CSettingFlag minOn{settings, L"enable_min", 1};
    CSettingFlag maxOn{settings, L"enable_max", 0};
    CSetting<uint32_t> minEntered{settings, L"ui_min", 10, 0, UINT32_MAX};
    CSetting<uint32_t> maxEntered{settings, L"ui_max", 1000, 0, UINT32_MAX};
    CSetting<uint32_t> minEffective{settings, L"param_min", 10, 0, UINT32_MAX};
    CSetting<uint32_t> maxEffective{settings, L"param_max", 0, 0, UINT32_MAX};

    CFgUIEdit minEdit, maxEdit;
    CFgUIChkButton minBox, maxBox;

    PanelSpec Panel() override;
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t* workFormat, uint32_t* channelBytes) override;

    // Loads as every dialog filter does; the limit boxes then show the
    // stored text itself ("007" stays "007").
    void LoadConfig(CCfgPack* pack) override;

protected:
    void ApplyRules() override;
    void ShowSettings() override;

private:
    // One limit: its switch, entered and effective values and controls.
    struct Limit {
        CLfNoiseRemover* filter;
        CSettingFlag* on;
        CSetting<uint32_t>* entered;
        CSetting<uint32_t>* effective;
        CFgUIEdit* edit;
    };
    Limit limits_[2];
    static void OnEditCommit(CFgUIEdit* edit, void* data);
    static void OnSwitch(CFgUIChkButton* box, void* data);
    static void ShowEntered(const Limit& limit);
};

class CImgFilter;

// A new "Noise remover" filter, or null when out of memory.
CImgFilter* CreateLfNoiseRemover();
