#include "platform/thread_start.h"

uint32_t FgThreadEntry(FgThreadStart* start) {
    FgThreadFunction function = start->function;
    void* argument = start->argument;
    // From here on the creator may discard the record.
    start->started.store(0, std::memory_order_release);
    function(argument);
    return 0;
}
