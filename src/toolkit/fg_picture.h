// Picture view: one image shown at a zoom code (fit, stretch, magnify or
// reduce) with a horizontal and a vertical scroll bar when it is larger
// than the control, a mapping from control points back to image pixels,
// and callbacks that draw into the texture before it is shown and over it
// afterwards. The picture takes no mouse or key input of its own.
#pragma once

#include <cstdint>

#include "toolkit/fg_control.h"
#include "toolkit/fg_texture.h"
#include "toolkit/fg_viewbars.h"

class CFgUIPicture : public CFgUIObj {
public:
    using PaintCallback = void (*)(CFgScreen* screen, CFgFont* font, CFgTexture* texture, void* data);
    using OverlayCallback = void (*)(CFgScreen* screen, CFgFont* font, int32_t viewX0, int32_t viewY0,
                                     int32_t viewX1, int32_t viewY1, int32_t imageX0, int32_t imageY0,
                                     int32_t imageX1, int32_t imageY1, int32_t zoom, void* data);

    // Zoom codes: 0 fit, -1 stretch, n >= 1 n screen pixels per image
    // pixel, n <= -2 one screen pixel per |n| image pixels.
    enum : int32_t { kFit = 0, kStretch = -1 };

    CFgUIPicture();
    ~CFgUIPicture() override;

    PaintCallback paintCallback = nullptr;
    OverlayCallback overlayCallback = nullptr;
    void* callbackData = nullptr;
    // Inclusive, in container coordinates: the control less the bars in
    // use, and the aspect-keeping placement of zoom code 0 (the view for
    // every other code).
    FgBarRect view;
    FgBarRect fit;
    int32_t zoom = kFit;
    uint32_t laidOut = 0;
    CFgTexture texture;  // the image is its first cell, W x H
    CFgViewBars bars;
    double background[3] = {0.2, 0.2, 0.2};
    uint32_t painted = 0;  // the paint callback ran since the texture was last sent

    // 0 when width or height is below 1.
    int32_t SetRect(int32_t x, int32_t y, int32_t width, int32_t height);
    void Enable(int32_t enable);
    // Copies the texture's geometry and pixels.
    void SetImage(const CFgTexture* image);
    // The picture's texture for the caller to fill (then UpdateLayout);
    // the next draw sends it. Any thread; no OpenGL work here.
    CFgTexture* GetTexture();
    // Keeps the view centre; does not repaint by itself.
    void SetZoom(int32_t code);
    // Doubles or halves per step within -4..4 and repaints on a change.
    void ZoomBySteps(int32_t steps);
    // Container point to image pixel; 1 when inside the image. A point
    // outside the view (fit: the fit rectangle) gives 0 and stays unchanged.
    int32_t ControlToImage(int32_t* x, int32_t* y) const;
    void UpdateLayout();
    // The whole image 1:1 over the whole current viewport, with the overlay.
    void RenderAtImageSize(CFgScreen* screen, CFgFont* font);

    int32_t ImageWidth() const { return static_cast<int32_t>(texture.cellWidth); }
    int32_t ImageHeight() const { return static_cast<int32_t>(texture.cellHeight); }

    void Draw(CFgScreen* screen, CFgFont* font) override;
    void OnAttach() override;
    void OnVisibleChanged(uint32_t shown, uint64_t argument) override;

private:
    // Source rectangle of the image that the view shows.
    void SourceSpan(int64_t* sourceX, int64_t* sourceY, int64_t* sourceWidth, int64_t* sourceHeight) const;
    // Sends the stored pixels again when the paint callback drew into the
    // texture, then runs the paint callback.
    void Paint(CFgScreen* screen, CFgFont* font);
    // Fills `outer` less `inner` with the background colour.
    void FillAround(CFgScreen* screen, const FgBarRect& outer, const FgBarRect& inner) const;

    uint32_t handedOut_ = 0;    // GetTexture ran since the last layout
    uint64_t handedOutAt_ = 0;  // the texture's send count then
};
