// Mutual exclusion between the chain worker's runs and the edits and
// broadcasts of the user-interface thread. Re-entrant on the owning thread;
// an owner that must wait for the worker (a synchronous re-run requested
// from inside an edit) hands the gate over for the wait and takes it back.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class ChainGate {
public:
    void Enter() {
        std::unique_lock<std::mutex> hold(mutex_);
        const std::thread::id self = std::this_thread::get_id();
        if (depth_ > 0 && owner_ == self) {
            ++depth_;
            return;
        }
        free_.wait(hold, [this] { return depth_ == 0; });
        owner_ = self;
        depth_ = 1;
    }

    void Leave() {
        std::lock_guard<std::mutex> hold(mutex_);
        if (--depth_ == 0) {
            owner_ = std::thread::id();
            free_.notify_all();
        }
    }

    // Releases every level held by the calling thread; returns how many.
    uint32_t Suspend() {
        std::lock_guard<std::mutex> hold(mutex_);
        if (depth_ == 0 || owner_ != std::this_thread::get_id()) return 0;
        uint32_t levels = depth_;
        depth_ = 0;
        owner_ = std::thread::id();
        free_.notify_all();
        return levels;
    }

    // Takes back the levels that Suspend released.
    void Resume(uint32_t levels) {
        if (levels == 0) return;
        std::unique_lock<std::mutex> hold(mutex_);
        free_.wait(hold, [this] { return depth_ == 0; });
        owner_ = std::this_thread::get_id();
        depth_ = levels;
    }

private:
    std::mutex mutex_;
    std::condition_variable free_;
    std::thread::id owner_;
    uint32_t depth_ = 0;
};

// Scoped Enter/Leave.
class ChainGateHold {
public:
    explicit ChainGateHold(ChainGate& gate) : gate_(gate) { gate_.Enter(); }
    ~ChainGateHold() { gate_.Leave(); }
    ChainGateHold(const ChainGateHold&) = delete;
    ChainGateHold& operator=(const ChainGateHold&) = delete;

private:
    ChainGate& gate_;
};
