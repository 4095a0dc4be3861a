// Message loops, the quit flag and the worker hand-off wait of the toolkit.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/kernel.h"

class CFgScreen;

extern std::atomic<uint32_t> g_QuitRequested;  // set once by any loop that receives the quit message
extern CFgScreen* g_MainScreen;

void FgRunMessageLoop(CFgScreen* mainScreen);
// Dispatches every queued message; 0 when the quit message arrived (the
// quit flag is then set), 1 when the queue is empty.
int32_t FgPumpMessages();
void FgRunModalLoop(volatile int32_t* done, CFgScreen* modalScreen);
// Resets `event`, leaves `cs` when given, then signals `objectToSignal`
// (when given) and waits on `event` without a time limit. 0 for a null event.
int32_t FgWaitEvent(AutoResetEvent* objectToSignal, AutoResetEvent* event, CriticalSection* cs);
