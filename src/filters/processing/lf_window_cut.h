// "Window cut": erases the objects of a binary image that touch chosen edges
// of the region, so that only objects wholly inside the window remain.
#pragma once

#include "filters/processing/dialog_filter.h"

class CLfWindowCut : public CDialogFilter<CLfWindowCut> {
public:
    CLfWindowCut();

    // Declared in the order of their keys in a saved section.
    CSettingFlag top{settings, L"top", 1};
    CSettingFlag bottom{settings, L"bottom", 1};
    CSettingFlag left{settings, L"left", 1};
    CSettingFlag right{settings, L"right", 1};
    CFgUIChkButton leftBox, topBox, rightBox, bottomBox;

    PanelSpec Panel() override;
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t* workFormat, uint32_t* channelBytes) override;

protected:
    void ShowSettings() override;

private:
    struct Edge {
        CLfWindowCut* filter;
        CSettingFlag* flag;
    };
    Edge edges_[4];
    static void OnEdgeBox(CFgUIChkButton* box, void* data);
};

class CImgFilter;

// A new "Window cut" filter, or null when out of memory.
CImgFilter* CreateLfWindowCut();
