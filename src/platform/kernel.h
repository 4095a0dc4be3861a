// Kernel services of the platform layer: locks, events, ticks, sleeping and
// the processor count, in the shape the rest of the system expects.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

// A critical section is recursive: the owning thread may enter it again.
class CriticalSection {
public:
    void Enter() { mutex_.lock(); }
    void Leave() { mutex_.unlock(); }
    bool TryEnter() { return mutex_.try_lock(); }
    std::recursive_mutex& Native() { return mutex_; }

private:
    std::recursive_mutex mutex_;
};

// Scoped Enter/Leave.
class CriticalSectionLock {
public:
    explicit CriticalSectionLock(CriticalSection& cs) : cs_(cs) { cs_.Enter(); }
    ~CriticalSectionLock() { cs_.Leave(); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

private:
    CriticalSection& cs_;
};

// An auto-reset event: Set releases exactly one waiter (or the next one to
// wait), then the event is clear again.
class AutoResetEvent {
public:
    void Set();
    void Reset();
    // Waits until set; timeoutMs < 0 waits forever. True when it was set.
    bool Wait(int64_t timeoutMs = -1);
    // Sets `other`, then waits on this event, as one step for the caller.
    bool SetAndWait(AutoResetEvent& other, int64_t timeoutMs = -1);

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool set_ = false;
};

// Milliseconds of a monotonic clock.
uint64_t PlatGetTickCount();
// Sleeps the calling thread; 0 yields the rest of its time slice.
void PlatSleep(uint32_t milliseconds);
// Processors this process may run on (sched_getaffinity), at least 1.
uint64_t PlatGetProcessorCount();
