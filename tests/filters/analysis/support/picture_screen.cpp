#include "picture_screen.h"

#include "filters/core/filterctrl.h"
#include "image/imgbuff.h"
#include "toolkit/fg_loop.h"
#include "toolkit/fg_texture.h"
#include "toolkit/support/ui_input.h"

namespace kvtest {

PictureScreen::PictureScreen(CFilterCtrl* chainHost, int32_t width, int32_t height) : host(chainHost) {
    Create(-1, -1, width, height, L"picture", kFgStyleFixed, nullptr);
    picture.SetRect(0, 0, width, height);
    picture.overlayCallback = &PictureScreen::Overlay;
    picture.callbackData = this;
    AddChild(&picture);
    FgPumpMessages();
}

PictureScreen::~PictureScreen() {
    OverlaySetScreenTarget(nullptr);
    Destroy();
}

PlatFrame PictureScreen::Shoot(const CImgBuff* image, const std::string& name, int32_t zoom) {
    CFgTexture texture;
    if (image && image->buffer && image->buffer->pixels) texture.SetFromImage(image, 1);
    picture.SetImage(&texture);
    picture.SetZoom(zoom);
    picture.UpdateLayout();
    OverlaySetScreenTarget(this);
    PlatFrame frame = CaptureFrame(*this, *this);
    if (!name.empty()) SaveScreenshot(frame, name);
    return frame;
}

void PictureScreen::Overlay(CFgScreen* screen, CFgFont* font, int32_t viewX0, int32_t viewY0, int32_t viewX1,
                            int32_t viewY1, int32_t imageX0, int32_t imageY0, int32_t imageX1, int32_t imageY1,
                            int32_t zoom, void* data) {
    auto* self = static_cast<PictureScreen*>(data);
    if (self && self->host)
        self->host->DrawOverlays(screen, font, viewX0, viewY0, viewX1, viewY1, imageX0, imageY0, imageX1, imageY1,
                                 zoom);
}

}  // namespace kvtest
