// Reading back what a dialog drew, for the view and menu tests.
#pragma once

#include <cstdint>
#include <string>

#include "platform/plat_window.h"

class CFgScreen;

namespace kvtest {

// Redraws the screen and returns the frame read before its swap.
PlatFrame CaptureRedraw(CFgScreen& screen);
inline const uint8_t* FramePixel(const PlatFrame& f, int32_t x, int32_t y) {
    return &f.rgba[(static_cast<size_t>(y) * f.width + x) * 4];
}
// 0xRRGGBB of a frame pixel.
inline uint32_t FrameRgb(const PlatFrame& f, int32_t x, int32_t y) {
    const uint8_t* p = FramePixel(f, x, y);
    return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
}
// Writes the frame as <screenshot folder>/<name>.png.
void SaveScreenshot(const PlatFrame& frame, const std::string& name);

}  // namespace kvtest
