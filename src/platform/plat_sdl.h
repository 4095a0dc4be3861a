// Internal to the window part of the platform layer: the SDL start-up and the
// state that the window and message code share.
#pragma once

#include <cstdint>
#include <string>

#include <SDL.h>

#include "platform/utf8.h"

// Starts SDL's video and event systems once; false when they are unavailable.
bool PlatSdlInit();

// What the layer knows of one of its windows.
struct PlatWindowState {
    SDL_Window* sdl = nullptr;
    void* user = nullptr;
    int32_t x = 0;  // client position and size as last reported to the handler
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool shown = false;
    bool popup = false;  // a borderless popup (menus): placed exactly, never focused
};
// Null when the id names no window of the layer. User-interface thread only.
PlatWindowState* PlatFindWindow(uint32_t window);

// A raw press or release of a mouse button (1 left, 2 middle, 3 right)
// anywhere on the desktop; valid only inside an SDL event watch, where the
// event's data still exists.
bool PlatRawButtonEvent(const SDL_Event& event, int* button, bool* down);
// True when a desktop point lies in the client area of a shown window.
bool PlatPointOverWindow(int32_t x, int32_t y);

// Translates one SDL event into queued messages.
void PlatTranslateEvent(const SDL_Event& event);
// Clears capture and pending input state that refers to a destroyed window.
void PlatForgetWindowInput(uint32_t window);

// The virtual-key code of the key at the scancode's position on a JIS
// keyboard; 0 for keys the toolkit does not use.
uint32_t PlatVirtualKeyFromScancode(SDL_Scancode scancode);
// Control character a key press produces that SDL sends no text for
// (Backspace, Tab, Enter, Esc, Ctrl+letter); 0 for none.
uint32_t PlatControlCharacter(SDL_Scancode scancode, uint16_t modifiers);

