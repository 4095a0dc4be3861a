// "Color correction": six reference colours (red, yellow, green, cyan,
// blue, magenta), each with the colour it should have and the colour it has
// in the picture (measured by a click); a transform that maps the image
// colours onto the standard ones by hue sectors is applied to the processed
// region of every frame.
#pragma once

#include <atomic>
#include <cstdint>

#include "filters/processing/dialog_filter.h"
#include "image/kernels/colour_lut.h"
#include "platform/kernel.h"
#include "toolkit/fg_texture.h"

class CLfColorCorrection : public CDialogFilter<CLfColorCorrection> {
public:
    static constexpr int32_t kRefs = 6;
    enum Which { kImage = 0, kStandard = 1 };
    // The standard colours at construction, as k / 255.
    static const int32_t kDefaults[kRefs][3];

    CLfColorCorrection();
    ~CLfColorCorrection() override;

    // Sets one colour (0..1 each) and rebuilds the transform from the whole
    // set; 0 with everything unchanged when a value is out of range or not
    // finite, or the set gives no transform.
    int32_t SetColour(Which which, int32_t index, double r, double g, double b);
    // Every image colour back to its standard colour, no transform.
    void Reset();
    void Colour(Which which, int32_t index, double rgb[3]) const;
    bool HasTransform() const;

    std::atomic<int32_t> selected{-1};
    std::atomic<uint32_t> correctS{0};
    std::atomic<uint32_t> clickRequest{0};
    std::atomic<int32_t> clickX{0}, clickY{0};
    CFgTexture swatches[2][kRefs];  // image (96 x 48), standard (96 x 96)

    // The top-left corner of a reference's square in the panel.
    static void SquareOf(int32_t index, int32_t* left, int32_t* top);

    PanelSpec Panel() override;
    void ShowUi(int32_t show, CFgScreen* parent) override;
    void Redraw() override;
    void DrawOverlay() override;
    void OnLButtonDown(int32_t x, int32_t y) override;
    void OnKeyStateChanged() override;
    void OnChar(uint16_t character) override;
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t* workFormat, uint32_t* channelBytes) override;
    void OnLButtonDown(int64_t x, int64_t y, uint32_t flags) override;
    void SaveConfig(CCfgPack* pack) override;
    void LoadConfig(CCfgPack* pack) override;

private:
    ColorLut* Build(const double (&image)[kRefs][3], const double (&standard)[kRefs][3]) const;
    void RefillSwatches();
    void SwatchesChanged();
    mutable CriticalSection lock_;  // colours and transform
    double colours_[2][kRefs][3];
    ColorLut* transform_ = nullptr;
    std::atomic<uint32_t> swatchesDue_{0};
};

CImgFilter* CreateLfColorCorrection();
