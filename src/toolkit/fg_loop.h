// Message loops, the quit flag and the worker hand-off wait of the toolkit.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/kernel.h"

class CFgScreen;

extern std::atomic<uint32_t> g_QuitRequested;  // set once by any loop that receives the quit message
extern CFgScreen* g_MainScreen;

// Stores the main screen (whose destruction posts the quit message) and
// dispatches messages until the quit message arrives or the quit flag is set;
// does not start once the flag is set.
void FgRunMessageLoop(CFgScreen* mainScreen);
// Dispatches every queued message; 0 when the quit message arrived (the
// quit flag is then set), 1 when the queue is empty.
int32_t FgPumpMessages();
// Sets *done = 0 and dispatches until *done is non-zero; mouse and key
// messages for screens other than `modalScreen` (when given) are dropped.
// The quit message ends it with the quit flag set. A null `done` runs the
// main loop instead.
void FgRunModalLoop(volatile int32_t* done, CFgScreen* modalScreen);
// Test seam: a function called with the modal screen each time a modal loop
// starts (`FgRunModalLoop` with its modal screen, the menu tracker with its
// root menu), before the first message is taken. Tests post their input to
// the screen there. Null in the program; the previous hook is returned.
using FgModalStartHook = void (*)(CFgScreen* modalScreen, void* user);
FgModalStartHook FgSetModalStartHook(FgModalStartHook hook, void* user);
// Calls the installed hook, if any; every modal loop calls it once at its start.
void FgNotifyModalStart(CFgScreen* modalScreen);
// Resets `event`, leaves `cs` when given, then signals `objectToSignal`
// (when given) and waits on `event` without a time limit. 0 for a null event.
int32_t FgWaitEvent(AutoResetEvent* objectToSignal, AutoResetEvent* event, CriticalSection* cs);
