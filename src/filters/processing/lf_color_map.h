// "Color map": how the colours of the processed region are distributed, on
// one of three 256 x 256 colour charts (xy chromaticity, a*b* plane, HSV
// wheel) shown in the panel: cells that hold pixels are drawn brighter.
// The image is not changed.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "filters/processing/dialog_filter.h"
#include "image/imgbuff.h"
#include "platform/kernel.h"
#include "toolkit/fg_menubar.h"
#include "toolkit/fg_texture.h"

// A number setting read strictly: an optional "-" and decimal digits; any
// other text, or one that overflows, reads as 0. A value outside the
// accepted set leaves the setting unchanged.
class CStrictSetting : public CSetting<int32_t> {
public:
    using CSetting<int32_t>::CSetting;
    bool Parse(const wchar_t* text) override;
};

class CLfColorMap : public CDialogFilter<CLfColorMap> {
public:
    CLfColorMap();
    ~CLfColorMap() override;

    CStrictSetting view{settings, L"view", 0, 0, 2};  // 0 xy, 1 L*a*b*, 2 HSV
    CStrictSetting type{settings, L"type", 1, 0, 2};  // 0 Std, 1 Log, 2 Distribution
    CStrictSetting bg{settings, L"bg", 0, 0, 255, SettingRule::Range, {0, 255}};

    CFgUIMenuBar menuBar;
    CFgTexture chart;  // 256 x 256, the chart last drawn

    PanelSpec Panel() override;
    void ShowUi(int32_t show, CFgScreen* parent) override;
    void DrawOverlay() override;
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t* workFormat, uint32_t* channelBytes) override;

    int32_t MenuHeight() const;
    // The chart's top-left in the panel.
    int32_t ChartTop() const { return MenuHeight() + 4; }
    void MenuCommand(int32_t id);
    // The "View" menu's text for the current settings.
    const wchar_t* ViewMenuText();
    // "Save image": the shown chart into an image file chosen by the user.
    void SaveImage();
    bool HasChart() const;
    // The chart as last drawn, as an 8-bit RGB image (false before any step).
    bool ChartImage(CImgBuff* out) const;

    // The count table of the last step: 256 x 256 cells, row index first
    // (rows run upwards on the chart), and its largest cell.
    uint32_t Count(int32_t column, int32_t row) const;
    uint32_t MaxCount() const;

    // Counts the pixels of a clipped region into a 256 x 256 table by the
    // cell of the view; pixels whose cell is not finite or outside the
    // table are skipped. Returns the largest cell.
    static uint32_t CountCells(const CImgBuff* image, const ImgRect& r, uint32_t view, uint32_t* table);
    // Shades a copy of a chart by the counts (type 0 Std, 1 Log, 2
    // Distribution); `background` is the chart's outside level.
    static void ShadeChart(CImgBuff* chartImage, uint32_t view, uint32_t type, uint8_t background, const uint32_t* table,
                           uint32_t maximum);

private:
    mutable CriticalSection chartLock_;  // the texture, after g_GlLock
    bool chartDrawn_ = false;
    mutable std::mutex countLock_;
    std::unique_ptr<uint32_t[]> counts_;
    uint32_t maxCount_ = 0;
    std::wstring viewMenu_;
};

class CImgFilter;

// A new "Color map" filter, or null when out of memory.
CImgFilter* CreateLfColorMap();
