// "Pseudo-color": replaces every pixel of the region by the colour a
// 256-entry table (the LUT) holds for its 8-bit grey level. The table is
// edited in the panel from a 16-colour palette: over a level range
// ("manual"), as a gradient through picked colours ("auto"), by presets,
// or loaded from a ".lut" file.
#pragma once

#include <atomic>
#include <cstdint>

#include "filters/processing/dialog_filter.h"
#include "image/imgbuff.h"
#include "platform/kernel.h"
#include "toolkit/fg_menubar.h"
#include "toolkit/fg_rangebar.h"
#include "toolkit/fg_scrollbar.h"
#include "toolkit/fg_tab.h"
#include "toolkit/fg_texture.h"

class CLfLut : public CDialogFilter<CLfLut> {
public:
    enum : int32_t { kPagePalette = 0, kPageManual = 1, kPageAuto = 2 };

    CLfLut();
    ~CLfLut() override;

    // Tables: [0] red, [1] green, [2] blue.
    uint8_t lut[3][256];
    uint8_t backup[3][256];
    uint8_t palette[3][16];
    uint8_t gradient[3][256];
    uint64_t gradientCount = 0;
    uint32_t preserveLuminance = 1;
    uint32_t interpolate = 1;
    int32_t selected = 0;
    std::atomic<uint32_t> grey{1};

    CFgTexture lutBar;  // 256 x 30
    CFgTexture swatches[16];

    CFgUIMenuBar menuBar;
    CFgUIButton lutReset, paletteReset;
    CFgUITab tabs;
    CFgUIScrollBar sliders[3];
    CFgUILabel sliderValues[3];
    CFgUILabel fromLabel, toLabel;
    CFgUIRangeBar rangeBar;
    CFgUIChkButton preserveCheck;
    CFgUIButton setButton;
    CFgUIChkButton interpolateCheck;
    CFgUIButton addButton;

    PanelSpec Panel() override;
    void ShowUi(int32_t show, CFgScreen* parent) override;
    void SaveConfig(CCfgPack* pack) override;
    void LoadConfig(CCfgPack* pack) override;
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t* workFormat, uint32_t* channelBytes) override;
    // A click on the picture (image coordinates).
    void OnLButtonDown(int64_t x, int64_t y, uint32_t flags) override;
    // A click on the panel (client coordinates).
    void OnLButtonDown(int32_t x, int32_t y) override;
    void DrawOverlay() override;
    void Redraw() override;

    // The menu bar's top strip height: its font height + 8.
    int32_t MenuHeight() const;
    static void SwatchPosition(int32_t k, int32_t m, int32_t* x, int32_t* y);

    // Table operations of the panel and menu.
    void ResetLut();
    void Undo();
    void SetRange();
    void AddColour();
    void InterpolateToggled(uint32_t on);
    void Preset(int32_t id);
    void ResetPalette();
    void SetPaletteComponent(int32_t channel, int32_t value);
    void SelectPaletteEntry(int32_t k);
    void MenuCommand(int32_t id);

    // Table rules, public for their tests.
    static void BuildGradient(const uint8_t (*colours)[256], uint64_t n, bool interpolate, uint8_t (*out)[256]);
    static void LuminanceColour(uint8_t r, uint8_t g, uint8_t b, int level, uint8_t* out);
    void RangeBarChanged(int32_t lo, int32_t hi);

private:
    // Runs `change` on the LUT under the own lock after copying it into the
    // backup (unless undoing), refreshes, then reruns and repaints.
    template <class F>
    void ChangeLut(bool keepBackup, F&& change);
    // Fills the LUT bar from the LUT and recomputes the grey flag.
    void Refresh();
    void FillSwatch(int32_t k);
    void ShowSliders(bool labels);

    CriticalSection lock_;  // after g_GlLock
    // A picture click waiting for the next step, and a picked range waiting
    // for the user-interface thread.
    std::atomic<uint32_t> pickRequest_{0};
    std::atomic<int64_t> pickX_{0}, pickY_{0};
    bool picked_ = false;
    int32_t pickedLo_ = 0, pickedHi_ = 0;
};

CImgFilter* CreateLfLut();
