// The message queue of the platform layer: SDL start-up, translation of SDL
// events into window messages, waiting, polling and dispatch.
#include "platform/plat_messages.h"

#include <atomic>
#include <cmath>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_set>

#include "platform/plat_sdl.h"
#include "platform/plat_window.h"

namespace {

std::atomic<bool> g_SdlReady{false};
uint32_t g_WakeEvent = 0;
std::thread::id g_UiThread;

// A queued message; mouse input is routed to the capturing window only when
// it is taken, so a capture set or released by a handler applies to every
// message after it, even ones translated in the same batch.
struct QueuedMessage {
    PlatMessage message;
    bool mouseInput = false;
};

// Posted messages, shared with other threads.
std::mutex g_QueueLock;
std::deque<QueuedMessage> g_Queue;
std::unordered_set<uint32_t> g_RedrawWaiting;
bool g_QuitPending = false;
int32_t g_QuitCode = 0;

// Input state of the user-interface thread.
PlatWindowProc g_WindowProc = nullptr;
uint32_t g_Capture = 0;
bool g_PopupCapture = false;  // a popup holds the capture
uint32_t g_WheelWindow = 0;
float g_WheelRest = 0.0f;
bool g_Composing = false;
// Caps-lock toggle as of the newest key message queued, and as of the key
// message dispatched last (what the handlers see, as with a key-state query).
std::atomic<bool> g_QueuedCaps{false};
std::atomic<bool> g_CapsToggled{false};

constexpr uint32_t kVkCapital = 20;

// Before start-up there is nothing to wake: start-up wakes the first wait itself.
void Wake() {
    if (!g_SdlReady.load()) return;
    SDL_Event event{};
    event.type = g_WakeEvent;
    SDL_PushEvent(&event);
}

void Enqueue(const PlatMessage& message, bool mouseInput = false) {
    {
        std::lock_guard<std::mutex> lock(g_QueueLock);
        if (message.kind == kPlatMsgRedraw && !g_RedrawWaiting.insert(message.window).second) return;
        g_Queue.push_back({message, mouseInput});
    }
    // Translation runs on the waiting thread itself and needs no wake-up.
    if (!PlatIsUiThread()) Wake();
}

void Enqueue(uint32_t window, PlatMsgKind kind, int32_t a = 0, int32_t b = 0, int32_t c = 0,
             bool mouseInput = false) {
    PlatMessage message;
    message.window = window;
    message.kind = kind;
    message.a = a;
    message.b = b;
    message.c = c;
    Enqueue(message, mouseInput);
}

// Mouse input goes to the capturing window when there is one, with the
// position made relative to that window's client area.
void RouteToCapture(PlatMessage* message) {
    if (!g_Capture || g_Capture == message->window) return;
    PlatWindowState* from = PlatFindWindow(message->window);
    PlatWindowState* to = PlatFindWindow(g_Capture);
    if (!from || !to) return;
    message->a += from->x - to->x;
    message->b += from->y - to->y;
    message->window = g_Capture;
}

// A popup never has the keyboard focus, so while one holds the capture
// (a menu being tracked) key messages go to it as well.
void RouteKeysToPopupCapture(PlatMessage* message) {
    if (!g_Capture || g_Capture == message->window) return;
    if (message->kind != kPlatMsgKeyDown && message->kind != kPlatMsgKeyUp && message->kind != kPlatMsgChar) return;
    PlatWindowState* to = PlatFindWindow(g_Capture);
    if (to && to->popup) message->window = g_Capture;
}

// Takes the next message; false when there is none.
bool TakeQueuedUnrouted(PlatMessage* message, bool* mouseInput) {
    std::lock_guard<std::mutex> lock(g_QueueLock);
    if (!g_Queue.empty()) {
        *message = g_Queue.front().message;
        *mouseInput = g_Queue.front().mouseInput;
        g_Queue.pop_front();
        if (message->kind == kPlatMsgRedraw) g_RedrawWaiting.erase(message->window);
        return true;
    }
    if (g_QuitPending) {
        g_QuitPending = false;
        *message = PlatMessage();
        message->kind = kPlatMsgQuit;
        message->a = g_QuitCode;
        return true;
    }
    return false;
}

bool TakeQueued(PlatMessage* message) {
    bool mouseInput = false;
    if (!TakeQueuedUnrouted(message, &mouseInput)) return false;
    if (mouseInput)
        RouteToCapture(message);
    else
        RouteKeysToPopupCapture(message);
    return true;
}

void EnqueueMouse(uint32_t window, PlatMsgKind kind, int32_t x, int32_t y, int32_t notches = 0) {
    Enqueue(window, kind, x, y, notches, true);
}

// While a popup holds the capture, a press outside every window of the
// program goes to it as well, at its place relative to the popup.
int OutsidePressWatch(void*, SDL_Event* event) {
    int button = 0;
    bool down = false;
    if (!g_PopupCapture || !PlatRawButtonEvent(*event, &button, &down) || button < 1 || button > 3) return 0;
    int gx = 0, gy = 0;
    SDL_GetGlobalMouseState(&gx, &gy);
    PlatWindowState* to = PlatFindWindow(g_Capture);
    if (!to || PlatPointOverWindow(gx, gy)) return 0;  // SDL reports those itself
    const PlatMsgKind kinds[3][2] = {{kPlatMsgLButtonUp, kPlatMsgLButtonDown},
                                     {kPlatMsgMButtonUp, kPlatMsgMButtonDown},
                                     {kPlatMsgRButtonUp, kPlatMsgRButtonDown}};
    Enqueue(g_Capture, kinds[button - 1][down ? 1 : 0], gx - to->x, gy - to->y);
    return 0;
}

void TranslateWindowEvent(const SDL_WindowEvent& event) {
    PlatWindowState* state = PlatFindWindow(event.windowID);
    if (!state) return;
    switch (event.event) {
        case SDL_WINDOWEVENT_MOVED:
            // Moves the program made itself were reported already.
            if (state->x == event.data1 && state->y == event.data2) return;
            state->x = event.data1;
            state->y = event.data2;
            Enqueue(event.windowID, kPlatMsgMove, state->x, state->y);
            return;
        case SDL_WINDOWEVENT_SIZE_CHANGED:
            if (state->width == event.data1 && state->height == event.data2) return;
            state->width = event.data1;
            state->height = event.data2;
            Enqueue(event.windowID, kPlatMsgSize, state->width, state->height,
                    (SDL_GetWindowFlags(state->sdl) & SDL_WINDOW_MAXIMIZED) ? kPlatSizeMaximized
                                                                             : kPlatSizeRestored);
            return;
        case SDL_WINDOWEVENT_CLOSE: Enqueue(event.windowID, kPlatMsgClose); return;
        case SDL_WINDOWEVENT_EXPOSED: Enqueue(event.windowID, kPlatMsgRedraw); return;
        default:
            // Shown and hidden only echo what the program did, which the
            // handler has already been told.
            return;
    }
}

void EnqueueText(uint32_t window, const char* utf8) {
    for (wchar_t c : PlatUtf8ToWide(utf8)) {
        // The toolkit's characters are 16-bit.
        Enqueue(window, kPlatMsgChar, c > 0xFFFF ? 0xFFFD : static_cast<int32_t>(c));
    }
}

}  // namespace

bool PlatSdlInit() {
    if (g_SdlReady.load()) return true;
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // A click that activates a window is also a click, as the toolkit expects.
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    // The window system keeps a pressed window's pointer events for it until
    // the release. SDL's own capture on a press would grab the pointer for the
    // window with the keyboard focus instead, which need not be the one
    // pressed (a drag over the picture while a panel has the focus).
    SDL_SetHint(SDL_HINT_MOUSE_AUTO_CAPTURE, "0");
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) return false;
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 1);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    // No profile requested: the driver's compatibility context, with OpenGL 1.x.
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, 0);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
    g_WakeEvent = SDL_RegisterEvents(1);
    SDL_StartTextInput();
    g_UiThread = std::this_thread::get_id();
    g_SdlReady.store(true);
    // Messages posted before start-up need a wake-up of their own.
    Wake();
    return true;
}

bool PlatIsUiThread() { return !g_SdlReady.load() || std::this_thread::get_id() == g_UiThread; }

bool PlatIsInputMessage(const PlatMessage& message) {
    return message.kind >= kPlatMsgMouseMove && message.kind <= kPlatMsgChar;
}

void PlatTranslateEvent(const SDL_Event& event) {
    switch (event.type) {
        case SDL_WINDOWEVENT: TranslateWindowEvent(event.window); return;
        case SDL_MOUSEMOTION:
            EnqueueMouse(event.motion.windowID, kPlatMsgMouseMove, event.motion.x, event.motion.y);
            return;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            bool down = event.type == SDL_MOUSEBUTTONDOWN;
            PlatMsgKind kind;
            switch (event.button.button) {
                case SDL_BUTTON_LEFT: kind = down ? kPlatMsgLButtonDown : kPlatMsgLButtonUp; break;
                case SDL_BUTTON_RIGHT: kind = down ? kPlatMsgRButtonDown : kPlatMsgRButtonUp; break;
                case SDL_BUTTON_MIDDLE: kind = down ? kPlatMsgMButtonDown : kPlatMsgMButtonUp; break;
                default: return;
            }
            EnqueueMouse(event.button.windowID, kind, event.button.x, event.button.y);
            return;
        }
        case SDL_MOUSEWHEEL: {
            // Fine-grained wheels report fractions of a notch; only whole
            // notches are delivered, the rest waits for the next motion.
            if (g_WheelWindow != event.wheel.windowID) g_WheelWindow = event.wheel.windowID, g_WheelRest = 0.0f;
            float motion = event.wheel.preciseY;
            if (event.wheel.direction == SDL_MOUSEWHEEL_FLIPPED) motion = -motion;
            g_WheelRest += motion;
            float whole = std::trunc(g_WheelRest);
            if (whole == 0.0f) return;
            g_WheelRest -= whole;
            // Motion away from the user is a negative notch count.
            EnqueueMouse(event.wheel.windowID, kPlatMsgMouseWheel, event.wheel.mouseX, event.wheel.mouseY,
                         -static_cast<int32_t>(whole));
            return;
        }
        case SDL_KEYDOWN:
        case SDL_KEYUP: {
            bool caps = (event.key.keysym.mod & KMOD_CAPS) != 0;
            g_QueuedCaps.store(caps);
            uint32_t vk = PlatVirtualKeyFromScancode(event.key.keysym.scancode);
            if (!vk) return;
            uint32_t window = event.key.windowID;
            if (event.type == SDL_KEYUP) {
                Enqueue(window, kPlatMsgKeyUp, static_cast<int32_t>(vk), 0, caps);
                return;
            }
            Enqueue(window, kPlatMsgKeyDown, static_cast<int32_t>(vk), 0, caps);
            if (uint32_t c = PlatControlCharacter(event.key.keysym.scancode, event.key.keysym.mod))
                Enqueue(window, kPlatMsgChar, static_cast<int32_t>(c));
            return;
        }
        case SDL_TEXTINPUT: EnqueueText(event.text.windowID, event.text.text); return;
        case SDL_TEXTEDITING: {
            bool composing = event.edit.text[0] != '\0';
            if (composing && !g_Composing) Enqueue(event.edit.windowID, kPlatMsgImeStart);
            g_Composing = composing;
            return;
        }
        default: return;
    }
}

void PlatForgetWindowInput(uint32_t window) {
    if (g_Capture == window) PlatReleaseCapture();
    if (g_WheelWindow == window) g_WheelWindow = 0, g_WheelRest = 0.0f;
}

int32_t PlatGetMessage(PlatMessage* message) {
    if (!PlatSdlInit()) return -1;
    for (;;) {
        if (TakeQueued(message)) return message->kind == kPlatMsgQuit ? 0 : 1;
        SDL_Event event;
        if (!SDL_WaitEvent(&event)) return -1;
        PlatTranslateEvent(event);
        while (SDL_PollEvent(&event)) PlatTranslateEvent(event);
    }
}

int32_t PlatPeekMessage(PlatMessage* message) {
    if (PlatSdlInit()) {
        SDL_Event event;
        while (SDL_PollEvent(&event)) PlatTranslateEvent(event);
    }
    return TakeQueued(message) ? 1 : 0;
}

void PlatDispatchMessage(const PlatMessage& message) {
    // The window is looked up now: an earlier handler may have destroyed it.
    if (message.kind == kPlatMsgKeyDown || message.kind == kPlatMsgKeyUp) g_CapsToggled.store(message.c != 0);
    void* user = PlatGetWindowUser(message.window);
    if (user && g_WindowProc && message.kind != kPlatMsgQuit) g_WindowProc(user, message);
}

void PlatSetWindowProc(PlatWindowProc proc) { g_WindowProc = proc; }

void PlatPostMessage(uint32_t window, PlatMsgKind kind, int32_t a, int32_t b, int32_t c) {
    Enqueue(window, kind, a, b, c);
}

void PlatPostRedraw(uint32_t window) { Enqueue(window, kPlatMsgRedraw); }

void PlatPostQuitMessage(int32_t exitCode) {
    {
        std::lock_guard<std::mutex> lock(g_QueueLock);
        g_QuitPending = true;
        g_QuitCode = exitCode;
    }
    if (!PlatIsUiThread()) Wake();
}

void PlatSetCapture(uint32_t window) {
    g_Capture = window;
    PlatWindowState* state = PlatFindWindow(window);
    g_PopupCapture = state && state->popup;
    if (g_PopupCapture) {
        static bool watching = false;
        if (!watching) SDL_AddEventWatch(OutsidePressWatch, nullptr);
        watching = true;
        SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
    }
    SDL_CaptureMouse(SDL_TRUE);
}

void PlatReleaseCapture() {
    if (!g_Capture) return;
    g_Capture = 0;
    if (g_PopupCapture) SDL_EventState(SDL_SYSWMEVENT, SDL_IGNORE);
    g_PopupCapture = false;
    SDL_CaptureMouse(SDL_FALSE);
}

uint32_t PlatGetCapture() { return g_Capture; }

bool PlatCapsLockToggled() { return g_CapsToggled.load(); }

void PlatPostTestClick(uint32_t window, int32_t x, int32_t y) {
    EnqueueMouse(window, kPlatMsgLButtonDown, x, y);
    EnqueueMouse(window, kPlatMsgLButtonUp, x, y);
}

void PlatPostTestMouse(uint32_t window, PlatMsgKind kind, int32_t x, int32_t y, int32_t notches) {
    if (kind < kPlatMsgMouseMove || kind > kPlatMsgMouseWheel) return;
    EnqueueMouse(window, kind, x, y, notches);
}

void PlatPostTestKey(uint32_t window, uint32_t virtualKey, bool down) {
    bool caps = g_QueuedCaps.load();
    if (down && virtualKey == kVkCapital) g_QueuedCaps.store(caps = !caps);
    Enqueue(window, down ? kPlatMsgKeyDown : kPlatMsgKeyUp, static_cast<int32_t>(virtualKey), 0, caps);
}

void PlatPostTestChar(uint32_t window, uint32_t character) {
    Enqueue(window, kPlatMsgChar, static_cast<int32_t>(character));
}
