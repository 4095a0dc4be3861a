// The window-message queue of the platform layer: SDL events translated into
// messages addressed to a window id, waited for or polled by the toolkit's
// loops and dispatched to the window's handler found at dispatch time.
#pragma once

#include <cstdint>

enum PlatMsgKind : uint32_t {
    kPlatMsgNone = 0,
    // Mouse messages: a, b = client x, y (signed); wheel: c = notches.
    kPlatMsgMouseMove,
    kPlatMsgLButtonDown,
    kPlatMsgLButtonUp,
    kPlatMsgRButtonDown,
    kPlatMsgRButtonUp,
    kPlatMsgMButtonDown,
    kPlatMsgMButtonUp,
    kPlatMsgMouseWheel,
    // Key messages: a = virtual-key code (down, up) or character (char);
    // down, up: c = 1 when caps lock is toggled on after this key.
    kPlatMsgKeyDown,
    kPlatMsgKeyUp,
    kPlatMsgChar,
    kPlatMsgShow,     // a = 1 shown, 0 hidden
    kPlatMsgSize,     // a, b = client width, height; c = kPlatSize*
    kPlatMsgMove,     // a, b = client position on the desktop
    kPlatMsgClose,    // the close box was pressed
    kPlatMsgDestroy,  // the window is being destroyed
    kPlatMsgRedraw,   // coalesced: at most one waits per window
    kPlatMsgImeStart, // an input-method composition starts
    kPlatMsgQuit,     // a = exit code; never dispatched
};

enum : int32_t { kPlatSizeRestored = 0, kPlatSizeMinimized = 1, kPlatSizeMaximized = 2 };

struct PlatMessage {
    uint32_t window = 0;  // window id; 0 for the quit message
    PlatMsgKind kind = kPlatMsgNone;
    int32_t a = 0;
    int32_t b = 0;
    int32_t c = 0;
};

// True for the mouse and key messages (those a modal loop drops for other windows).
bool PlatIsInputMessage(const PlatMessage& message);

// Waits for the next message. 1 for a message, 0 for the quit message,
// -1 when the event system failed. User-interface thread only.
int32_t PlatGetMessage(PlatMessage* message);
// Takes the next message without waiting: 1 when one was taken, else 0.
// The quit message is taken like any other (kind kPlatMsgQuit).
int32_t PlatPeekMessage(PlatMessage* message);
// Sends the message to the handler of its window, if the window still exists.
void PlatDispatchMessage(const PlatMessage& message);

// The handler every window's messages go to, with the pointer stored for
// that window (PlatSetWindowUser). One per process.
using PlatWindowProc = void (*)(void* user, const PlatMessage& message);
void PlatSetWindowProc(PlatWindowProc proc);

// Any thread: queues a message and wakes the waiting loop.
void PlatPostMessage(uint32_t window, PlatMsgKind kind, int32_t a = 0, int32_t b = 0, int32_t c = 0);
// Any thread: queues a redraw for the window unless one is already waiting.
void PlatPostRedraw(uint32_t window);
// Any thread: the next wait or poll that finds no other message returns the quit message.
void PlatPostQuitMessage(int32_t exitCode);

// Mouse capture: while set, every mouse message of the program's windows (real
// input and the test entries below) goes to the capturing window with
// coordinates relative to its client area. The capture in force when a
// message is taken from the queue decides, so a capture that a handler sets
// or releases holds for every message after it. While a popup window holds
// the capture, key and character messages go to it too.
void PlatSetCapture(uint32_t window);
void PlatReleaseCapture();
uint32_t PlatGetCapture();

// The toggle state of caps lock as of the key message dispatched last.
bool PlatCapsLockToggled();

// Test entries: queue the messages real input would produce for a window.
void PlatPostTestClick(uint32_t window, int32_t x, int32_t y);  // left down and up at x, y
// One mouse message (a kind from kPlatMsgMouseMove to kPlatMsgMouseWheel),
// routed to the capturing window when it is taken, as real input is.
void PlatPostTestMouse(uint32_t window, PlatMsgKind kind, int32_t x, int32_t y, int32_t notches = 0);
// Key down or up of a virtual key; a caps-lock key down toggles the caps state.
void PlatPostTestKey(uint32_t window, uint32_t virtualKey, bool down);
void PlatPostTestChar(uint32_t window, uint32_t character);
