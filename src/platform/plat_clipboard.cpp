// Clipboard text of the platform layer.
#include "platform/plat_sdl.h"
#include "platform/plat_window.h"

bool PlatGetClipboardText(std::wstring* text) {
    if (!PlatSdlInit() || !SDL_HasClipboardText()) return false;
    char* utf8 = SDL_GetClipboardText();
    if (!utf8) return false;
    *text = PlatUtf8ToWide(utf8);
    SDL_free(utf8);
    return !text->empty();
}

bool PlatSetClipboardText(const wchar_t* text) {
    if (!PlatSdlInit()) return false;
    return SDL_SetClipboardText(PlatWideToUtf8(text).c_str()) == 0;
}
