#include "filters/processing/lf_config.h"

#include <new>

#include "filters/core/filterctrl.h"

CImgFilter* CreateLfConfig() { return new (std::nothrow) CLfConfig; }

CLfConfig::CLfConfig() {
    BindRadioGroup({&connect4, &connect8}, &connectivity, {4, 8});
    BindRadioGroup({&black, &white}, &background, {0, 1});
    AttachControls();
}

PanelSpec CLfConfig::Panel() {
    return {L"Change conditions", L"条件変更", 176, 100, 176, 100,
            {
                {&connectLabel, 8, 8, 64, 20, L"connect", L"近傍接続"},
                {&connect4, 8, 28, 60, 20, L"4", L"4"},
                {&connect8, 106, 28, 60, 20, L"8", L"8"},
                {&bgLabel, 8, 54, 64, 20, L"bg color", L"背景色"},
                {&black, 8, 74, 64, 20, L"black", L"黒"},
                {&white, 106, 74, 64, 20, L"white", L"白"},
            }};
}

void CLfConfig::ShowUi(int32_t show, CFgScreen* parentScreen) {
    // The first show starts from the chain's conditions.
    if (!takenFromChain && Chain()) {
        connectivity.Set(Chain()->connect.load() == 4 ? 4 : 8);
        background.Set(Chain()->bg.load() == 0 ? 0 : 1);
        connect4.SelectInGroup(connectivity.Get() == 4 ? 0 : 1, 0);
        black.SelectInGroup(background.Get() == 0 ? 0 : 1, 0);
        takenFromChain = 1;
    }
    CDialogFilterBase::ShowUi(show, parentScreen);
}

int32_t CLfConfig::Filter(CImgBuff*, uint64_t, int64_t*, int64_t*, int64_t*, int64_t*, uint32_t* connect,
                          uint32_t* bg, uint32_t*, uint32_t*) {
    *connect = connectivity.Get();
    *bg = background.Get();
    return 1;
}
