// The side panel: the chain editor on the right of the main window and the
// main screen's chain controller. It lists the filters of the active chain
// (an enable icon, a settings-panel icon and the name per row), switches
// among the four chains by tabs, and edits the chain with DEL, UP, DOWN,
// right-button row drags and FLUSH. Through its CFilterCtrl base it is the
// host of every filter: the hooks forward to the main screen.
#pragma once

#include <cstdint>

#include "filters/core/filterctrl.h"
#include "toolkit/fg_button.h"
#include "toolkit/fg_control.h"
#include "toolkit/fg_scrollbar.h"
#include "toolkit/fg_texture.h"

class CMainScreen;

// Icon cells of the list, 20 x 20 each.
enum : uint64_t { kPanelIconNone = 0, kPanelIconCheck = 1, kPanelIconUiClosed = 2, kPanelIconUiOpen = 3 };
constexpr int32_t kPanelRowHeight = 20;

class CSidePanel : public CFgUIObj, public CFilterCtrl {
public:
    CSidePanel();
    // Stops the chain worker before the panel's members go, then empties
    // the four chains.
    ~CSidePanel() override;

    CMainScreen* mainScreen = nullptr;
    CFgUIButton deleteButton;
    CFgUIButton upButton;
    CFgUIButton downButton;
    CFgUIButton flushButton;
    CFgUIScrollBar listScrollBar;
    CFgTexture icons;  // four cells in a row; row 1 faded
    int32_t anchorRow = -1;
    int32_t rangeFirst = -1, rangeLast = -1;
    uint64_t listX = 0, listY = 0, listWidth = 0, listHeight = 0;
    uint64_t fullRows = 0;
    uint64_t shownRows = 0;
    uint32_t scrollNeeded = 0;
    uint64_t tabRects[4][4] = {};
    uint32_t dragging = 0;
    int32_t dragStartX = 0, dragStartY = 0;
    int32_t rowsMoved = 0;

    // Adds the filter to the active chain and selects it; 0 for a null
    // filter or a full chain (the filter then stays the caller's). While the
    // panel is shown the list is updated and the chain re-run.
    int32_t AddFilter(CImgFilter* filter);
    void Layout();
    void UpdateList();
    int32_t SwitchChain(int32_t n);
    void ClearRange() { anchorRow = rangeFirst = rangeLast = -1; }
    void OnDelete();
    void OnUp();
    void OnDown();
    void OnFlush();
    // The list row under dialog point (mx, my), or -1.
    int64_t RowAt(int32_t mx, int32_t my) const;

    void OnMouseMove(int32_t x, int32_t y) override;
    void OnLButtonDown(int32_t x, int32_t y) override;
    void OnRButtonDown(int32_t x, int32_t y) override;
    void OnRButtonUp(int32_t x, int32_t y) override;
    void Draw(CFgScreen* screen, CFgFont* font) override;
    void OnAttach() override;
    void OnVisibleChanged(uint32_t shown, uint64_t argument) override;
    int32_t CanEnable(int32_t enable) override;

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
    void ChangeCalibration(double scale, int32_t axisY, const wchar_t* unit) override;
    void SetSourceImage(CImgBuff* image) override;
    void GetSourceImage(CImgBuff* image) override;
    void GetResultImage(CImgBuff* image) override;
    void ReplaceSourceImage(CImgBuff* image) override;
    void GetEncodeSettings(codec_write_options* settings) override;

private:
    // Turns a one-row range into the plain selection of that row.
    void CollapseRange();
    bool InRange(int64_t row) const { return rangeFirst >= 0 && row >= rangeFirst && row <= rangeLast; }
    void ScrollTo(int32_t position);
    uint32_t updatingBar_ = 0;
};
