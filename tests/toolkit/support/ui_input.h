// Input for the toolkit's GUI tests: keys, chords and typed text posted to a
// screen's window the way the platform layer queues real input, and frames
// read back from the screen's next swap.
#pragma once

#include <cstdint>
#include <string>

#include "platform/plat_window.h"

class CFgUICtrl;
class CFgScreen;

namespace kvtest {

// Virtual keys.
enum : uint32_t {
    kVkBack = 8,
    kVkTab = 9,
    kVkReturn = 13,
    kVkShift = 16,
    kVkControl = 17,
    kVkEscape = 27,
    kVkSpace = 32,
    kVkLeft = 37,
    kVkUp = 38,
    kVkRight = 39,
    kVkDown = 40,
    kVkDelete = 46,
};

// Down and up of one key.
void PostKey(uint32_t window, uint32_t vk);
// A key as a keyboard sends it: down, its character when it has one, up.
void PostTypedKey(uint32_t window, uint32_t vk, uint32_t character);
// Ctrl with a letter: the control code arrives as the character (Ctrl+C is 3).
void PostCtrlLetter(uint32_t window, char letter);
// Each character of the text as a character message, as an input method
// delivers committed text.
void PostText(uint32_t window, const std::wstring& text);
// Dispatches everything queued.
void Pump();

// Redraws the dialog and reads back the frame it swapped.
PlatFrame CaptureFrame(CFgUICtrl& dialog, CFgScreen& screen);
const uint8_t* PixelAt(const PlatFrame& frame, int32_t x, int32_t y);
// Saves the frame under the screenshot folder as `name`.png.
void SaveScreenshot(const PlatFrame& frame, const std::string& name);

}  // namespace kvtest
