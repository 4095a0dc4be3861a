// Kernel services of the platform layer: locks, events, ticks, sleeping and
// the processor count, in the shape the rest of the system expects.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

// A critical section is recursive: the owning thread may enter it again.
class CriticalSection {
public:
    void Enter() {
        mutex_.lock();
        Entered();
    }
    void Leave() {
        if (--depth_ == 0) owner_.store(std::thread::id(), std::memory_order_relaxed);
        mutex_.unlock();
    }
    bool TryEnter() {
        if (!mutex_.try_lock()) return false;
        Entered();
        return true;
    }
    // Leaves every level the calling thread holds and returns how many (0
    // when it holds none), for a wait that must not keep the section.
    uint32_t LeaveAll() {
        if (owner_.load(std::memory_order_relaxed) != std::this_thread::get_id()) return 0;
        const uint32_t levels = depth_;
        for (uint32_t i = 0; i < levels; ++i) Leave();
        return levels;
    }
    // Enters the section `levels` times (what LeaveAll returned).
    void EnterLevels(uint32_t levels) {
        for (uint32_t i = 0; i < levels; ++i) Enter();
    }

private:
    void Entered() {
        if (depth_++ == 0) owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
    }

    std::recursive_mutex mutex_;
    // Written by the owning thread only; another thread never reads its
    // own id here, so a relaxed read answers "do I hold it" exactly.
    std::atomic<std::thread::id> owner_{};
    uint32_t depth_ = 0;
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
