// A screen that records the input and screen events it receives, for the
// toolkit's screen, loop and keyboard tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "toolkit/fg_screen.h"

namespace kvtest {

class RecordingScreen : public CFgScreen {
public:
    std::vector<std::string> events;  // e.g. "down 97", "char 127", "special+ 1"
    std::function<void(RecordingScreen*, int32_t, int32_t)> onClick;  // called on left button down
    int32_t allowClose = 1;
    int redraws = 0;

    void OnLButtonDown(int32_t x, int32_t y) override;
    void OnMouseWheel(int32_t x, int32_t y, int32_t notches) override;
    void OnSpecialKeyDown(uint32_t code) override;
    void OnSpecialKeyUp(uint32_t code) override;
    void OnKeyStateChanged() override;
    void OnKeyRepeat() override;
    void OnKeyDown(uint16_t key) override;
    void OnKeyUp(uint16_t key) override;
    void OnChar(uint16_t character) override;
    int32_t QueryClose() override;
    void OnSize(uint64_t width, uint64_t height) override;
    void OnShow(uint32_t show) override;
    void Redraw() override;

    std::string Joined() const;  // the events separated by ", "
};

// Writes tightly packed RGBA rows (top first) as a PNG file.
bool WritePngRgba(const std::string& path, int32_t width, int32_t height, const std::vector<uint8_t>& rgba);

}  // namespace kvtest
