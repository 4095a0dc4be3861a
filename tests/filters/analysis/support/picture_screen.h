// A picture screen for the analysis filters' display tests: a window whose
// picture shows a host's last chain result with the overlays of the active
// chain drawn over it, as the main screen does, captured into the
// screenshot folder.
#pragma once

#include <string>

#include "platform/plat_window.h"
#include "toolkit/fg_dialog.h"
#include "toolkit/fg_picture.h"

class CFilterCtrl;
class CImgBuff;

namespace kvtest {

class PictureScreen : public CFgUIDialog {
public:
    // A width x height window (client size) with the picture filling it.
    PictureScreen(CFilterCtrl* host, int32_t width, int32_t height);
    ~PictureScreen() override;

    CFilterCtrl* host;
    CFgUIPicture picture;

    // Shows `image` (null: nothing) at zoom code `zoom` and draws it with
    // the overlays; the frame read back is saved as ScreenshotDir()/name.png
    // when a name is given, and returned.
    PlatFrame Shoot(const CImgBuff* image, const std::string& name = {}, int32_t zoom = 1);

private:
    static void Overlay(CFgScreen* screen, CFgFont* font, int32_t viewX0, int32_t viewY0, int32_t viewX1,
                        int32_t viewY1, int32_t imageX0, int32_t imageY0, int32_t imageX1, int32_t imageY1,
                        int32_t zoom, void* data);
};

}  // namespace kvtest
