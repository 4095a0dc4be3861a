#include "platform/kernel.h"

#include <errno.h>
#include <sched.h>
#include <unistd.h>

#include <chrono>
#include <thread>

void AutoResetEvent::Set() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        set_ = true;
    }
    cv_.notify_one();
}

void AutoResetEvent::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    set_ = false;
}

bool AutoResetEvent::Wait(int64_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (timeoutMs < 0) {
        cv_.wait(lock, [this] { return set_; });
    } else if (!cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return set_; })) {
        return false;
    }
    set_ = false;  // auto-reset: this waiter consumes the signal
    return true;
}

bool AutoResetEvent::SetAndWait(AutoResetEvent& other, int64_t timeoutMs) {
    // The signal latches until consumed, so a wake-up between the two steps
    // is not lost.
    other.Set();
    return Wait(timeoutMs);
}

uint64_t PlatGetTickCount() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void PlatSleep(uint32_t milliseconds) {
    if (milliseconds == 0) {
        std::this_thread::yield();
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
}

uint64_t PlatGetProcessorCount() {
    // Grow the set until the kernel's mask fits (machines with many CPUs).
    for (int cpus = 1024; cpus <= (1 << 20); cpus *= 2) {
        cpu_set_t* set = CPU_ALLOC(cpus);
        if (!set) break;
        size_t size = CPU_ALLOC_SIZE(cpus);
        CPU_ZERO_S(size, set);
        int rc = sched_getaffinity(0, size, set);
        int count = rc == 0 ? CPU_COUNT_S(size, set) : 0;
        CPU_FREE(set);
        if (rc == 0) return count > 0 ? static_cast<uint64_t>(count) : 1;
        if (errno != EINVAL) break;
    }
    long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<uint64_t>(online) : 1;
}
