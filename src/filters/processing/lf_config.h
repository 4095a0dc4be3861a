// "Change conditions": a chain item that processes no pixels but gives the
// filters after it in the same run another connectivity (4 or 8) and
// background (black or white). Every run starts again from the chain's own.
#pragma once

#include "filters/processing/dialog_filter.h"

class CLfConfig : public CDialogFilter<CLfConfig> {
public:
    CLfConfig();

    CSetting<uint32_t> connectivity{settings, L"connect", 8, 4, 8, SettingRule::Exact, {4, 8}};
    CSettingFlag background{settings, L"bg", 1};
    uint32_t takenFromChain = 0;

    CFgUILabel connectLabel, bgLabel;
    CFgUIChkButton connect4, connect8, black, white;

    PanelSpec Panel() override;
    void ShowUi(int32_t show, CFgScreen* parent) override;
    int32_t Filter(CImgBuff* image, uint64_t frame, int64_t* x, int64_t* y, int64_t* w, int64_t* h,
                   uint32_t* connect, uint32_t* bg, uint32_t* workFormat, uint32_t* channelBytes) override;
};

CImgFilter* CreateLfConfig();
