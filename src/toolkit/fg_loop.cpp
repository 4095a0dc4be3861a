// The main, pumping and modal message loops and the hand-off wait.
#include "toolkit/fg_loop.h"

#include "platform/plat_messages.h"
#include "toolkit/fg_screen.h"

std::atomic<uint32_t> g_QuitRequested{0};
CFgScreen* g_MainScreen = nullptr;

namespace {
FgModalStartHook g_ModalStartHook = nullptr;
void* g_ModalStartUser = nullptr;
}  // namespace

FgModalStartHook FgSetModalStartHook(FgModalStartHook hook, void* user) {
    FgModalStartHook previous = g_ModalStartHook;
    g_ModalStartHook = hook;
    g_ModalStartUser = user;
    return previous;
}

void FgNotifyModalStart(CFgScreen* modalScreen) {
    if (g_ModalStartHook) g_ModalStartHook(modalScreen, g_ModalStartUser);
}

void FgRunMessageLoop(CFgScreen* mainScreen) {
    g_MainScreen = mainScreen;
    if (g_QuitRequested.load()) return;
    PlatMessage message;
    int32_t got;
    while ((got = PlatGetMessage(&message)) > 0) {
        PlatDispatchMessage(message);
        if (g_QuitRequested.load()) return;
    }
    if (got == 0) g_QuitRequested.store(1);
}

int32_t FgPumpMessages() {
    PlatMessage message;
    while (PlatPeekMessage(&message)) {
        if (message.kind == kPlatMsgQuit) {
            g_QuitRequested.store(1);
            return 0;
        }
        PlatDispatchMessage(message);
    }
    return 1;
}

void FgRunModalLoop(volatile int32_t* done, CFgScreen* modalScreen) {
    if (!done) {
        FgRunMessageLoop(g_MainScreen);
        return;
    }
    *done = 0;
    // A quitting program waits for no answer: the caller unwinds at once.
    if (g_QuitRequested.load()) return;
    FgNotifyModalStart(modalScreen);
    if (*done) return;
    PlatMessage message;
    while (PlatGetMessage(&message) > 0) {
        // Input for the other screens is dropped while the modal one runs.
        bool blocked = modalScreen && message.window != modalScreen->window && PlatIsInputMessage(message);
        if (!blocked) PlatDispatchMessage(message);
        if (*done) return;
        // A loop nested in this dispatch took the quit message: this loop
        // ends too, or it would wait for messages that no longer come.
        if (g_QuitRequested.load()) return;
    }
    g_QuitRequested.store(1);
}

int32_t FgWaitEvent(AutoResetEvent* objectToSignal, AutoResetEvent* event, CriticalSection* cs) {
    if (!event) return 0;
    event->Reset();
    if (cs) cs->Leave();
    bool ok = objectToSignal ? event->SetAndWait(*objectToSignal) : event->Wait();
    return ok ? 1 : 0;
}
