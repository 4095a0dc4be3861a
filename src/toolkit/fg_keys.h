// Keyboard input of the toolkit: the key-state word, the special keys and
// the translation of virtual keys for the JIS keyboard layout.
#pragma once

#include <cstdint>

class CFgScreen;

// Key-state word bits.
enum : uint16_t {
    kFgKeyStateUp = 1,
    kFgKeyStateDown = 2,
    kFgKeyStateLeft = 4,
    kFgKeyStateRight = 8,
    kFgKeyStateShift = 16,
    kFgKeyStateControl = 32,
    kFgKeyStateCapsLock = 64,
};

// Special-key codes of OnSpecialKeyDown / OnSpecialKeyUp.
enum : uint32_t {
    kFgSpecialCapsLock = 0,
    kFgSpecialShift = 1,
    kFgSpecialControl = 2,
    kFgSpecialUp = 3,
    kFgSpecialDown = 4,
    kFgSpecialLeft = 5,
    kFgSpecialRight = 6,
};

// The process-wide key-state word (CFgInput's default key state).
extern uint16_t g_KeyState;

// The character code of a virtual key under the given key-state word.
uint16_t FgTranslateKey(uint32_t virtualKey, uint16_t keyState);

// Turn key-down, key-up and character messages into the screen's key events.
void FgKeyDown(CFgScreen* screen, uint32_t virtualKey);
void FgKeyUp(CFgScreen* screen, uint32_t virtualKey);
void FgChar(CFgScreen* screen, uint32_t character);
