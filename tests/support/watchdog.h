// A watchdog for stress tests: ends the program when the test has not
// finished within its time (a lock-order deadlock would otherwise hang the
// run until ctest's timeout, with no word of the cause).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace kvtest {

class Watchdog {
public:
    explicit Watchdog(std::chrono::seconds limit = std::chrono::seconds(60))
        : thread_([this, limit] {
              std::unique_lock<std::mutex> hold(mutex_);
              if (!cv_.wait_for(hold, limit, [this] { return done_; })) {
                  std::fprintf(stderr, "deadlock: watchdog expired\n");
                  std::abort();
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

}  // namespace kvtest
