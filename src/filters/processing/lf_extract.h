// "Extraction": keeps the pixels whose hue, saturation and brightness lie
// in chosen ranges and sets the others to the background level, optionally
// as a two-level image. The ranges come from the bars or are picked from
// the picture with the mouse; a preview hatches the pixels that would be
// removed in the guide colour.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "filters/processing/dialog_filter.h"
#include "image/imgbuff.h"
#include "platform/kernel.h"
#include "toolkit/fg_rangebar.h"
#include "toolkit/fg_scrollbar.h"

// The six range values on the 16-bit HSV scale.
struct ExtractRanges {
    uint16_t hueCentre = 0;
    uint16_t hueWidth = 32768;  // half-width; 32768 admits every hue
    uint16_t satLow = 0, satHigh = 65535;
    uint16_t valLow = 0, valHigh = 65535;
    bool operator==(const ExtractRanges&) const = default;
};

class CLfExtract : public CDialogFilter<CLfExtract> {
public:
    CLfExtract();

    // Declared in the order of their keys in a saved section; the ranges
    // ("hc", "hw", "s", "v") follow them.
    CSettingFlag reverse{settings, L"reverse", 0};
    CSettingFlag fill{settings, L"fill", 0};
    CSettingFlag gray{settings, L"gray", 0};

    CFgUILabel hueLabel, widthLabel, satLabel, valLabel;
    CFgUIScrollBar hueBar, widthBar;
    CFgUIRangeBar satBar, valBar;
    CFgUIChkButton reverseBox, fillBox, grayBox, pickSetBox, pickAddBox, previewBox;

    PanelSpec Panel() override;
    void ShowUi(int32_t show, CFgScreen* parent) override;
    void Redraw() override;
    void OnGuideColor(double red, double green, double blue) override;
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t* workFormat, uint32_t* channelBytes) override;
    void OnLButtonDown(int64_t x, int64_t y, uint32_t flags) override;
    void OnRButtonDown(int64_t x, int64_t y, uint32_t flags) override;
    void SaveConfig(CCfgPack* pack) override;
    void LoadConfig(CCfgPack* pack) override;

    ExtractRanges Ranges() const;
    // 0 off, 1 pick and set, 2 pick and add.
    uint32_t PickMode() const;
    size_t PickHistorySize() const;
    // Stores the six values, moves the bars that can show them, reruns
    // (asynchronously) and repaints: the undo and "pick and set" step.
    void SetRanges(const ExtractRanges& r);
    // The preview's tint colour as bytes of the guide colour.
    uint32_t GuideBytes() const { return guide_.load(); }

    // The extraction of the step on an image and its clipped rectangle,
    // without the preview: by hue, saturation and brightness for a colour
    // image, by brightness alone for grey images or with `grey`. A filled
    // extraction of a whole colour picture becomes grey.
    static void Extract(CImgBuff* image, const ImgRect& r, const ExtractRanges& ranges, uint32_t reverse,
                        uint32_t grey, uint32_t fill, uint32_t background);
    // The preview on a colour image and its clipped rectangle: the
    // extraction as a two-level mask (removed pixels black), and every pixel
    // of r whose mask pixel reads 0 as 8-bit grey averaged with the 4 x 4
    // check of the guide colour (bytes 0xRRGGBB), counted from the
    // rectangle's corner. Ranges the range kernels refuse leave the mask as
    // the picture. False when out of memory (rows may be left unhatched).
    static bool Preview(CImgBuff* image, const ImgRect& r, const ExtractRanges& ranges, uint32_t reverse, uint32_t grey,
                        uint32_t guide);

protected:
    void ApplyRules() override;
    void ShowSettings() override;

private:
    static void OnHueBar(CFgUIScrollBar* bar, void* data, int32_t position);
    static void OnRangeBar(CFgUIRangeBar* bar, void* data, int32_t low, int32_t high);
    static void OnBox(CFgUIChkButton* box, void* data);
    static void OnPickBox(CFgUIChkButton* box, void* data);
    // A bar moved: a pick mode ends.
    void EndPick();
    // Bars and toggles from the ranges and the pick mode (user-interface thread).
    void ShowRanges();
    void UpdateGuide();
    // Carries out a requested pick on the image (under the lock).
    void PickLocked(const CImgBuff* image);

    mutable CriticalSection lock_;  // ranges, pick history, pick request and mode
    ExtractRanges ranges_;
    std::vector<ExtractRanges> history_;
    uint32_t pickMode_ = 0;
    bool pickRequest_ = false;
    int64_t pickX_ = 0, pickY_ = 0;
    bool pickedDue_ = false;  // a pick's result waits for the controls
    std::atomic<uint32_t> preview_{0};
    std::atomic<uint32_t> guide_{0xFF0000};
};

class CImgFilter;

// A new "Extraction" filter, or null when out of memory.
CImgFilter* CreateLfExtract();
