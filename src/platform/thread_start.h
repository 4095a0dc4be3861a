// The common start routine of the system's threads and its start record.
#pragma once

#include <atomic>
#include <cstdint>

using FgThreadFunction = void (*)(void* argument);

// Lives on the creator's stack; the creator sets started = 1 and may discard
// the record once the new thread has cleared it.
struct FgThreadStart {
    FgThreadFunction function;
    void* argument;
    std::atomic<uint32_t> started;
};

// Takes function and argument out of the record, clears the started flag,
// then runs function(argument). Returns 0 as the thread's result.
uint32_t FgThreadEntry(FgThreadStart* start);
