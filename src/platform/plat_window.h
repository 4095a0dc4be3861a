// Top-level windows and their OpenGL contexts. Windows are named by their id
// (never 0); each carries a user pointer that receives its messages
// (plat_messages.h). Everything here runs on the user-interface thread, the
// thread that created the first window.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum PlatWindowStyle : uint32_t {
    kPlatStyleFixed = 0,      // frame and caption, not resizable
    kPlatStyleResizable = 1,  // frame and caption, resizable
    kPlatStylePopup = 2,      // no frame
};

// Constant system metrics of the layer.
enum PlatMetric : uint32_t {
    kPlatMetricMinWindowWidth = 0,
    kPlatMetricMinWindowHeight = 1,
};
int32_t PlatGetSystemMetric(PlatMetric metric);

// True on the user-interface thread (or before any window was created).
bool PlatIsUiThread();

// Creates a hidden window with the given client size at the given client
// position; x < 0 lets the system place it. 0 on failure.
uint32_t PlatCreateWindow(const wchar_t* title, int32_t x, int32_t y, int32_t width, int32_t height,
                          PlatWindowStyle style);
// Sends the destroy message to the window's handler, then destroys it.
void PlatDestroyWindow(uint32_t window);
// Shows or hides; when the state changes the show message reaches the
// handler before this returns.
void PlatShowWindow(uint32_t window, bool show);
// Resizes the client area; the size message reaches the handler before this returns.
void PlatSetWindowSize(uint32_t window, int32_t width, int32_t height);
// Replaces the caption text (cut as at creation).
void PlatSetWindowTitle(uint32_t window, const wchar_t* title);
void PlatSetWindowUser(uint32_t window, void* user);
void* PlatGetWindowUser(uint32_t window);
bool PlatWindowExists(uint32_t window);
// Client position on the desktop and client size.
bool PlatGetWindowRect(uint32_t window, int32_t* x, int32_t* y, int32_t* width, int32_t* height);

// The X11 window id of the window; 0 without one (another video driver,
// no such window). User-interface thread only.
uint64_t PlatGetNativeWindowId(uint32_t window);

// OpenGL 1.x compatibility context with 24-bit colour, depth and stencil.
// Creating one leaves the current context as it was. Null on failure.
void* PlatCreateGlContext(uint32_t window);
void PlatDeleteGlContext(void* context);
// Makes the context current on the window; (0, null) makes none current.
bool PlatMakeCurrent(uint32_t window, void* context);
void PlatGetCurrent(uint32_t* window, void** context);
void PlatSwapWindow(uint32_t window);

// Test entry: the next swap of the window reads its back buffer first.
struct PlatFrame {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgba;  // rows top to bottom
};
void PlatCaptureNextSwap(uint32_t window);
// Hands over the frame read at the last armed swap; false when there is none.
bool PlatTakeCapturedFrame(uint32_t window, PlatFrame* frame);

// Places the input-method composition window at a client point of the
// window; x < 0 returns it to the system's default place.
void PlatSetImePoint(uint32_t window, int32_t x, int32_t y);

// Clipboard text. Get: false when there is no text. Set: a null or empty
// text empties the clipboard (and returns true when that worked).
bool PlatGetClipboardText(std::wstring* text);
bool PlatSetClipboardText(const wchar_t* text);
