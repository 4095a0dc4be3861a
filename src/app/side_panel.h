// The side panel: the chain editor on the right of the main window and the
// main screen's chain controller. Through its CFilterCtrl base it is the
// host of every filter: the hooks forward to the main screen.
#pragma once

#include <cstdint>

#include "filters/core/filterctrl.h"
#include "toolkit/fg_control.h"
#include "toolkit/fg_scrollbar.h"

class CMainScreen;

class CSidePanel : public CFgUIObj, public CFilterCtrl {
public:
    CSidePanel();
    // Stops the chain worker before the panel's members go.
    ~CSidePanel() override;

    CMainScreen* mainScreen = nullptr;
    CFgUIScrollBar listScrollBar;

    // Adds the filter to the active chain and selects it; 0 for a null
    // filter or a full chain (the filter then stays the caller's).
    int32_t AddFilter(CImgFilter* filter);
    void Layout() {}
    void UpdateList() {}

    void OnFilterUiClosed() override;
    void LockUi(int32_t lockFlag, CImgFilter* filter) override;
    void Refilter(int32_t async) override;
    // On the worker thread: marks the result ready for the main screen.
    void OnFrameDone() override;
    void Redraw() override;
    int32_t Seek(uint64_t frame) override;
    uint64_t GetCurrentFrame() override;
    uint64_t GetMediaFrameTime() override;
    uint64_t GetFrameInterval() override;
    void EnableImageView(int32_t flag) override;
    void SetSourceImage(CImgBuff* image) override;
    void GetSourceImage(CImgBuff* image) override;
    void GetResultImage(CImgBuff* image) override;
    void ReplaceSourceImage(CImgBuff* image) override;
};
