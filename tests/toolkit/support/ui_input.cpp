#include "toolkit/support/ui_input.h"

#include <gtest/gtest.h>

#include "platform/plat_messages.h"
#include "support/testsupport.h"
#include "toolkit/fg_dialog.h"
#include "toolkit/fg_loop.h"
#include "toolkit/support/screen_recorder.h"

namespace {

// The toolkit keeps the key-state word and the quit request process-wide,
// and a test binary runs all its tests in one process: every test starts
// with no key held and no quit requested, whatever the test before it left.
class InputStateReset : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override {
        CFgInput().SetKeyState(0);
        g_QuitRequested.store(0);
    }
};

const bool g_InputStateResetRegistered = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new InputStateReset);
    return true;
}();

}  // namespace

namespace kvtest {

void PostKey(uint32_t window, uint32_t vk) {
    PlatPostTestKey(window, vk, true);
    PlatPostTestKey(window, vk, false);
}

void PostTypedKey(uint32_t window, uint32_t vk, uint32_t character) {
    PlatPostTestKey(window, vk, true);
    if (character) PlatPostTestChar(window, character);
    PlatPostTestKey(window, vk, false);
}

void PostCtrlLetter(uint32_t window, char letter) {
    const uint32_t upper = static_cast<uint32_t>(letter >= 'a' ? letter - 32 : letter);
    PlatPostTestKey(window, kVkControl, true);
    PostTypedKey(window, upper, upper - 'A' + 1);
    PlatPostTestKey(window, kVkControl, false);
}

void PostText(uint32_t window, const std::wstring& text) {
    for (wchar_t c : text) PlatPostTestChar(window, static_cast<uint32_t>(c));
}

void Pump() { FgPumpMessages(); }

PlatFrame CaptureFrame(CFgUICtrl& dialog, CFgScreen& screen) {
    PlatFrame frame;
    PlatCaptureNextSwap(screen.window);
    dialog.Redraw();
    PlatTakeCapturedFrame(screen.window, &frame);
    return frame;
}

const uint8_t* PixelAt(const PlatFrame& frame, int32_t x, int32_t y) {
    return &frame.rgba[(static_cast<size_t>(y) * frame.width + x) * 4];
}

void SaveScreenshot(const PlatFrame& frame, const std::string& name) {
    WritePngRgba(ScreenshotDir() + "/" + name + ".png", frame.width, frame.height, frame.rgba);
}

}  // namespace kvtest
