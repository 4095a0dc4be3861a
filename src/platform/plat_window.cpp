// Windows and OpenGL contexts of the platform layer on SDL2.
#include "platform/plat_window.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "platform/plat_messages.h"
#include "platform/plat_sdl.h"

namespace {

// Every window of the layer by id. User-interface thread only.
std::unordered_map<uint32_t, PlatWindowState>& Windows() {
    static std::unordered_map<uint32_t, PlatWindowState> windows;
    return windows;
}

std::unordered_set<uint32_t> g_CaptureArmed;
std::unordered_map<uint32_t, PlatFrame> g_CapturedFrames;

constexpr size_t kMaxTitleCharacters = 255;

}  // namespace

int32_t PlatGetSystemMetric(PlatMetric metric) {
    switch (metric) {
        case kPlatMetricMinWindowWidth: return 136;
        case kPlatMetricMinWindowHeight: return 39;
    }
    return 0;
}

PlatWindowState* PlatFindWindow(uint32_t window) {
    auto it = Windows().find(window);
    return it == Windows().end() ? nullptr : &it->second;
}

uint32_t PlatCreateWindow(const wchar_t* title, int32_t x, int32_t y, int32_t width, int32_t height,
                          PlatWindowStyle style) {
    if (width <= 0 || height <= 0 || !PlatSdlInit()) return 0;
    std::wstring cut = title ? std::wstring(title) : std::wstring();
    if (cut.size() > kMaxTitleCharacters) cut.resize(kMaxTitleCharacters);
    uint32_t flags = SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN;
    if (style == kPlatStyleResizable) flags |= SDL_WINDOW_RESIZABLE;
    // Popups are menus: on X11 an override-redirect window, placed exactly
    // and never given the keyboard focus (the capture brings keys to it).
    if (style == kPlatStylePopup) flags |= SDL_WINDOW_BORDERLESS | SDL_WINDOW_POPUP_MENU | SDL_WINDOW_SKIP_TASKBAR;
    int sx = x < 0 ? SDL_WINDOWPOS_UNDEFINED : x;
    int sy = x < 0 ? SDL_WINDOWPOS_UNDEFINED : y;
    SDL_Window* sdl = SDL_CreateWindow(PlatWideToUtf8(cut.c_str()).c_str(), sx, sy, width, height, flags);
    if (!sdl) return 0;
    uint32_t id = SDL_GetWindowID(sdl);
    PlatWindowState state;
    state.sdl = sdl;
    state.popup = style == kPlatStylePopup;
    SDL_GetWindowPosition(sdl, &state.x, &state.y);
    SDL_GetWindowSize(sdl, &state.width, &state.height);
    Windows()[id] = state;
    return id;
}

void PlatDestroyWindow(uint32_t window) {
    if (!PlatFindWindow(window)) return;
    PlatMessage destroy;
    destroy.window = window;
    destroy.kind = kPlatMsgDestroy;
    PlatDispatchMessage(destroy);
    // The handler may have destroyed the window itself.
    PlatWindowState* state = PlatFindWindow(window);
    if (!state) return;
    SDL_Window* sdl = state->sdl;
    Windows().erase(window);
    PlatForgetWindowInput(window);
    g_CaptureArmed.erase(window);
    g_CapturedFrames.erase(window);
    SDL_DestroyWindow(sdl);
}

bool PlatPointOverWindow(int32_t x, int32_t y) {
    for (const auto& [id, state] : Windows())
        if (state.shown && x >= state.x && y >= state.y && x - state.x < state.width && y - state.y < state.height)
            return true;
    return false;
}

void PlatSetWindowTitle(uint32_t window, const wchar_t* title) {
    PlatWindowState* state = PlatFindWindow(window);
    if (!state) return;
    std::wstring cut = title ? std::wstring(title) : std::wstring();
    if (cut.size() > kMaxTitleCharacters) cut.resize(kMaxTitleCharacters);
    SDL_SetWindowTitle(state->sdl, PlatWideToUtf8(cut.c_str()).c_str());
}

void PlatShowWindow(uint32_t window, bool show) {
    PlatWindowState* state = PlatFindWindow(window);
    if (!state || state->shown == show) return;
    state->shown = show;
    if (show) {
        // Without a window manager SDL focuses every window it maps; a popup
        // hands the keyboard focus straight back, so the window that had it
        // keeps it (and the mouse capture, which follows that focus).
        SDL_Window* focus = state->popup ? SDL_GetKeyboardFocus() : nullptr;
        SDL_ShowWindow(state->sdl);
        if (focus && focus != state->sdl) SDL_SetWindowInputFocus(focus);
    } else {
        SDL_HideWindow(state->sdl);
    }
    PlatMessage message;
    message.window = window;
    message.kind = kPlatMsgShow;
    message.a = show ? 1 : 0;
    PlatDispatchMessage(message);
}

void PlatSetWindowSize(uint32_t window, int32_t width, int32_t height) {
    PlatWindowState* state = PlatFindWindow(window);
    if (!state || width <= 0 || height <= 0) return;
    SDL_SetWindowSize(state->sdl, width, height);
    SDL_GetWindowSize(state->sdl, &state->width, &state->height);
    PlatMessage message;
    message.window = window;
    message.kind = kPlatMsgSize;
    message.a = state->width;
    message.b = state->height;
    message.c = kPlatSizeRestored;
    PlatDispatchMessage(message);
}

void PlatSetWindowUser(uint32_t window, void* user) {
    if (PlatWindowState* state = PlatFindWindow(window)) state->user = user;
}

void* PlatGetWindowUser(uint32_t window) {
    PlatWindowState* state = PlatFindWindow(window);
    return state ? state->user : nullptr;
}

bool PlatWindowExists(uint32_t window) { return PlatFindWindow(window) != nullptr; }

bool PlatGetWindowRect(uint32_t window, int32_t* x, int32_t* y, int32_t* width, int32_t* height) {
    PlatWindowState* state = PlatFindWindow(window);
    if (!state) return false;
    if (x) *x = state->x;
    if (y) *y = state->y;
    if (width) *width = state->width;
    if (height) *height = state->height;
    return true;
}

void* PlatCreateGlContext(uint32_t window) {
    PlatWindowState* state = PlatFindWindow(window);
    if (!state) return nullptr;
    // SDL makes a new context current; the caller expects the current one kept.
    SDL_Window* oldWindow = SDL_GL_GetCurrentWindow();
    SDL_GLContext oldContext = SDL_GL_GetCurrentContext();
    SDL_GLContext context = SDL_GL_CreateContext(state->sdl);
    SDL_GL_MakeCurrent(oldContext ? oldWindow : nullptr, oldContext);
    return context;
}

void PlatDeleteGlContext(void* context) {
    if (!context) return;
    if (SDL_GL_GetCurrentContext() == context) SDL_GL_MakeCurrent(nullptr, nullptr);
    SDL_GL_DeleteContext(context);
}

bool PlatMakeCurrent(uint32_t window, void* context) {
    if (!context) return SDL_GL_MakeCurrent(nullptr, nullptr) == 0;
    PlatWindowState* state = PlatFindWindow(window);
    if (!state) return false;
    return SDL_GL_MakeCurrent(state->sdl, context) == 0;
}

void PlatGetCurrent(uint32_t* window, void** context) {
    SDL_GLContext current = SDL_GL_GetCurrentContext();
    SDL_Window* sdl = current ? SDL_GL_GetCurrentWindow() : nullptr;
    if (window) *window = sdl ? SDL_GetWindowID(sdl) : 0;
    if (context) *context = current;
}

void PlatSwapWindow(uint32_t window) {
    PlatWindowState* state = PlatFindWindow(window);
    if (!state) return;
    if (g_CaptureArmed.erase(window)) {
        // Loaded at run time: the layer itself does not link OpenGL.
        using ReadPixels = void (*)(int, int, int, int, unsigned, unsigned, void*);
        using SetInt = void (*)(unsigned, int);
        auto readPixels = reinterpret_cast<ReadPixels>(SDL_GL_GetProcAddress("glReadPixels"));
        auto pixelStore = reinterpret_cast<SetInt>(SDL_GL_GetProcAddress("glPixelStorei"));
        auto readBuffer = reinterpret_cast<void (*)(unsigned)>(SDL_GL_GetProcAddress("glReadBuffer"));
        int w = 0, h = 0;
        SDL_GL_GetDrawableSize(state->sdl, &w, &h);
        if (readPixels && pixelStore && readBuffer && w > 0 && h > 0) {
            constexpr unsigned kBack = 0x0405, kRgba = 0x1908, kUnsignedByte = 0x1401, kPackAlignment = 0x0D05;
            std::vector<uint8_t> bottomUp(static_cast<size_t>(w) * h * 4);
            readBuffer(kBack);
            pixelStore(kPackAlignment, 1);
            readPixels(0, 0, w, h, kRgba, kUnsignedByte, bottomUp.data());
            PlatFrame& frame = g_CapturedFrames[window];
            frame.width = w;
            frame.height = h;
            frame.rgba.resize(bottomUp.size());
            size_t row = static_cast<size_t>(w) * 4;
            for (int r = 0; r < h; ++r)
                std::copy_n(&bottomUp[(h - 1 - r) * row], row, &frame.rgba[r * row]);
        }
    }
    SDL_GL_SwapWindow(state->sdl);
}

void PlatCaptureNextSwap(uint32_t window) { g_CaptureArmed.insert(window); }

bool PlatTakeCapturedFrame(uint32_t window, PlatFrame* frame) {
    auto it = g_CapturedFrames.find(window);
    if (it == g_CapturedFrames.end()) return false;
    *frame = std::move(it->second);
    g_CapturedFrames.erase(it);
    return true;
}

void PlatSetImePoint(uint32_t window, int32_t x, int32_t y) {
    // SDL places the composition window of the focused window; the system
    // default place needs no call.
    PlatWindowState* state = PlatFindWindow(window);
    if (!state || x < 0 || y < 0) return;
    SDL_Rect rect{x, y, 1, 1};
    SDL_SetTextInputRect(&rect);
}
