// "White balance": the user names the colour that should be neutral (a
// click on the picture, "auto", or three sliders); a colour transform that
// shifts a* and b* so that it becomes neutral is applied to the processed
// region of every frame.
#pragma once

#include <atomic>
#include <cstdint>

#include "filters/processing/dialog_filter.h"
#include "image/kernels/colour_lut.h"
#include "platform/kernel.h"
#include "toolkit/fg_scrollbar.h"
#include "toolkit/fg_texture.h"

class CLfWhiteBalance : public CDialogFilter<CLfWhiteBalance> {
public:
    CLfWhiteBalance();
    ~CLfWhiteBalance() override;

    CFgUIButton autoButton, initButton;
    CFgUIScrollBar sliders[3];
    CFgTexture swatch;

    // 1 when the reference (0..1 each) is taken: the transform is rebuilt
    // (none for a neutral reference); 0 with everything unchanged.
    int32_t SetReference(double r, double g, double b);
    // Back to white without a transform.
    void Reset();
    void Reference(double rgb[3]) const;
    bool HasTransform() const;

    PanelSpec Panel() override;
    void ShowUi(int32_t show, CFgScreen* parent) override;
    void Redraw() override;
    void DrawOverlay() override;
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t* workFormat, uint32_t* channelBytes) override;
    void OnLButtonDown(int64_t x, int64_t y, uint32_t flags) override;
    void SaveConfig(CCfgPack* pack) override;
    void LoadConfig(CCfgPack* pack) override;

    std::atomic<uint32_t> clickRequest{0}, autoRequest{0};
    std::atomic<int32_t> clickX{0}, clickY{0};

private:
    // Sliders and swatch from the reference; user-interface thread.
    void ShowReference();
    mutable CriticalSection lock_;  // reference, transform, slider positions
    double reference_[3] = {1, 1, 1};
    ColorLut* transform_ = nullptr;
    int32_t positions_[3] = {0, 0, 0};
    std::atomic<uint32_t> shownDue_{0};
};

CImgFilter* CreateLfWhiteBalance();
