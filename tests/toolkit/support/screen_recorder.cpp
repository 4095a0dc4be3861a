#include "toolkit/support/screen_recorder.h"

#include <png.h>

#include <cstdio>

namespace kvtest {

void RecordingScreen::OnLButtonDown(int32_t x, int32_t y) {
    events.push_back("click " + std::to_string(x) + " " + std::to_string(y));
    if (onClick) onClick(this, x, y);
}
void RecordingScreen::OnMouseWheel(int32_t x, int32_t y, int32_t notches) {
    events.push_back("wheel " + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(notches));
}
void RecordingScreen::OnSpecialKeyDown(uint32_t code) { events.push_back("special+ " + std::to_string(code)); }
void RecordingScreen::OnSpecialKeyUp(uint32_t code) { events.push_back("special- " + std::to_string(code)); }
void RecordingScreen::OnKeyStateChanged() { events.push_back("state " + std::to_string(GetKeyState())); }
void RecordingScreen::OnKeyRepeat() { events.push_back("repeat"); }
void RecordingScreen::OnKeyDown(uint16_t key) { events.push_back("down " + std::to_string(key)); }
void RecordingScreen::OnKeyUp(uint16_t key) { events.push_back("up " + std::to_string(key)); }
void RecordingScreen::OnChar(uint16_t character) { events.push_back("char " + std::to_string(character)); }
int32_t RecordingScreen::QueryClose() {
    events.push_back("query-close");
    return allowClose;
}
void RecordingScreen::OnSize(uint64_t w, uint64_t h) {
    events.push_back("size " + std::to_string(w) + " " + std::to_string(h));
}
void RecordingScreen::OnShow(uint32_t show) { events.push_back("show " + std::to_string(show)); }
void RecordingScreen::Redraw() {
    if (DeferRedraw()) return;
    ++redraws;
}

std::string RecordingScreen::Joined() const {
    std::string out;
    for (const std::string& e : events) out += (out.empty() ? "" : ", ") + e;
    return out;
}

bool WritePngRgba(const std::string& path, int32_t width, int32_t height, const std::vector<uint8_t>& rgba) {
    if (width <= 0 || height <= 0 || rgba.size() != static_cast<size_t>(width) * height * 4) return false;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool ok = false;
    if (png && info && !setjmp(png_jmpbuf(png))) {
        png_init_io(png, file);
        png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (int32_t r = 0; r < height; ++r) png_write_row(png, &rgba[static_cast<size_t>(r) * width * 4]);
        png_write_end(png, nullptr);
        ok = true;
    }
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0 && ok;
}

}  // namespace kvtest
