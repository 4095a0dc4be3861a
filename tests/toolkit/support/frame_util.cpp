#include "toolkit/support/frame_util.h"

#include "support/testsupport.h"
#include "toolkit/fg_screen.h"
#include "toolkit/support/screen_recorder.h"

namespace kvtest {

PlatFrame CaptureRedraw(CFgScreen& screen) {
    PlatFrame frame;
    PlatCaptureNextSwap(screen.window);
    screen.Redraw();
    PlatTakeCapturedFrame(screen.window, &frame);
    return frame;
}

void SaveScreenshot(const PlatFrame& frame, const std::string& name) {
    WritePngRgba(ScreenshotDir() + "/" + name + ".png", frame.width, frame.height, frame.rgba);
}

}  // namespace kvtest
