// A test window that shows a black picture of the frame's size one to one
// (or magnified) and draws the chain's overlays over it, so that the drawn
// pixels can be read back.
#pragma once

#include <cstdint>

#include "filters/core/filterctrl.h"
#include "image/imgbuff.h"
#include "platform/plat_window.h"
#include "toolkit/fg_dialog.h"
#include "toolkit/fg_picture.h"
#include "toolkit/fg_texture.h"
#include "toolkit/support/ui_input.h"

namespace kvtest {

class OverlayView : public CFgUIDialog {
public:
    OverlayView(CFilterCtrl* chain, int32_t width, int32_t height, int32_t zoom = 1) : chain_(chain) {
        CImgBuff black;
        black.buffer->Create(width, height, kImgGray8);
        CFgTexture texture;
        texture.SetFromImage(&black, 1);
        picture.SetImage(&texture);
        picture.overlayCallback = &OverlayView::DrawOverlay;
        picture.callbackData = this;
        picture.SetZoom(zoom);
        AddChild(&picture);
        const int32_t w = width * (zoom > 1 ? zoom : 1), h = height * (zoom > 1 ? zoom : 1);
        Create(-1, -1, static_cast<uint64_t>(w), static_cast<uint64_t>(h), L"overlay", kFgStyleFixed, nullptr);
        picture.SetRect(0, 0, w, h);
        picture.UpdateLayout();
    }
    // The window's pixels with the overlays drawn.
    PlatFrame Capture() { return CaptureFrame(*this, *this); }
    // The RGB of pixel (x, y) of a captured frame.
    static uint32_t Rgb(const PlatFrame& f, int32_t x, int32_t y) {
        const uint8_t* p = PixelAt(f, x, y);
        return p ? (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2] : 0xFFFFFFFFu;
    }

    CFgUIPicture picture;

private:
    static void DrawOverlay(CFgScreen* screen, CFgFont* font, int32_t vx0, int32_t vy0, int32_t vx1, int32_t vy1,
                            int32_t ix0, int32_t iy0, int32_t ix1, int32_t iy1, int32_t zoom, void* data) {
        auto* self = static_cast<OverlayView*>(data);
        OverlaySetScreenTarget(screen);
        self->chain_->DrawOverlays(screen, font, vx0, vy0, vx1, vy1, ix0, iy0, ix1, iy1, zoom);
    }
    CFilterCtrl* chain_;
};

}  // namespace kvtest
