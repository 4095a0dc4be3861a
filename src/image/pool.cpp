#include "image/pool.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/thread_start.h"

std::atomic<uint64_t> g_ProcessorCount{0};
std::atomic<uint64_t> g_PoolThreadCount{0};
std::atomic<uint64_t> g_PoolStartCount{0};
std::atomic<uint32_t> g_PoolBusy{0};

namespace {

// One mailbox per worker: the fields are written before `posted` is set.
struct PoolSlot {
    std::condition_variable* wake;
    std::atomic<uint32_t> posted;  // set with work or stop, so a spinning worker sees it without the lock
    bool sleeping;                 // under the lock: the worker waits on its wake variable
    bool needsWake;                // the dispatcher's own note of whom to wake after unlocking
    uint64_t stop;
    PoolWorkerFn fn;
    void* ctx;
    uint64_t first;
    uint64_t count;
};

// The pool lock exists for the whole life of the process (constant
// initialised), so concurrent first starts cannot race on creating it.
std::mutex g_PoolLock;
// Serialises PoolStart and PoolStop: a start is complete (all workers
// checked in) before anyone sees the pool as running, and a stop is complete
// before the next start begins.
std::mutex g_PoolStartStopLock;

// Guarded by g_PoolLock.
PoolSlot* g_PoolSlots = nullptr;
uint64_t g_PoolSlotCount = 0;
std::thread* g_PoolThreads = nullptr;
PoolRange* g_PoolQueue = nullptr;
uint64_t g_PoolQueueCapacity = 0;
std::atomic<uint64_t> g_PoolOutstanding{0};   // ranges of the current call not yet finished
std::atomic<uint64_t> g_PoolQueueCursor{0};    // next queue entry to hand out
std::atomic<uint64_t> g_PoolQueueEnd{0};       // queue entries of the current call end here
std::condition_variable* g_PoolDone = nullptr;
uint64_t g_PoolCheckIn = 0;

// Set on the pool's own threads.
thread_local bool t_PoolWorker = false;

std::atomic<PoolDispatchHook> g_PoolDispatchHook{nullptr};
std::atomic<uint64_t> g_PoolFailWorkerAt{UINT64_MAX};

// Workers and the dispatcher spin this long before they sleep: a filter
// chain runs many kernels per frame, and a thread wake-up (tens to hundreds
// of microseconds on a virtual machine) would otherwise dominate small ones.
constexpr std::chrono::microseconds kPoolSpin{100};

template <class Done>
bool PoolSpinUntil(Done done) {
    const auto end = std::chrono::steady_clock::now() + kPoolSpin;
    for (;;) {
        for (int i = 0; i < 64; ++i) {
            if (done()) return true;
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
        }
        if (std::chrono::steady_clock::now() >= end) return false;
        // Leave the processor to a runnable thread (the dispatcher on a
        // machine with fewer cores than threads).
        std::this_thread::yield();
    }
}

// Ranges of the current call: the slot's own, then queued ones taken with
// one atomic step each, so that finishing a range takes no lock. The next
// range is taken before the finished one is counted down: while a worker
// holds a range the call cannot end, so it never reaches into the next call.
// Only the worker that finishes the last range takes the lock, to wake the
// dispatcher.
void PoolRunRanges(PoolWorkerFn fn, void* ctx, uint64_t first, uint64_t count) {
    for (;;) {
        fn(ctx, first, count);
        const uint64_t k = g_PoolQueueCursor.fetch_add(1, std::memory_order_relaxed);
        const bool more = k < g_PoolQueueEnd.load(std::memory_order_relaxed);
        if (more) {
            first = g_PoolQueue[k].first;
            count = g_PoolQueue[k].count;
        }
        if (g_PoolOutstanding.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            { std::lock_guard<std::mutex> sync(g_PoolLock); }
            g_PoolDone->notify_one();
            return;
        }
        if (!more) return;
    }
}

void PoolWorkerLoop(void* arg) {
    t_PoolWorker = true;
    PoolSlot* slot = static_cast<PoolSlot*>(arg);
    {
        std::lock_guard<std::mutex> lock(g_PoolLock);
        if (--g_PoolCheckIn == 0) g_PoolDone->notify_one();
    }
    for (;;) {
        if (!PoolSpinUntil([slot] { return slot->posted.load(std::memory_order_acquire) != 0; })) {
            std::unique_lock<std::mutex> lock(g_PoolLock);
            slot->sleeping = true;
            slot->wake->wait(lock, [slot] { return slot->posted.load(std::memory_order_acquire) != 0; });
            slot->sleeping = false;
        }
        // The posted flag was stored after the slot's fields (release), so
        // they are visible here without the lock.
        slot->posted.store(0, std::memory_order_relaxed);
        if (slot->stop != 0) return;
        PoolRunRanges(slot->fn, slot->ctx, slot->first, slot->count);
    }
}

// Starts one worker through the common thread start routine and waits until
// it has taken its argument out of the start record on this stack.
int32_t PoolCreateWorker(PoolSlot* slot, std::thread* handle, uint64_t index) {
    if (index >= g_PoolFailWorkerAt.load(std::memory_order_relaxed)) return 0;
    FgThreadStart start;
    start.function = PoolWorkerLoop;
    start.argument = slot;
    start.started.store(1, std::memory_order_relaxed);
    try {
        *handle = std::thread(FgThreadEntry, &start);
    } catch (const std::system_error&) {
        return 0;
    }
    while (start.started.load(std::memory_order_acquire) != 0) std::this_thread::yield();
    return 1;
}

// Frees slots, queue and condition variables; all workers have ended.
void PoolFreeState() {
    if (g_PoolSlots) {
        for (uint64_t i = 0; i < g_PoolSlotCount; ++i) delete g_PoolSlots[i].wake;
    }
    delete[] g_PoolSlots;
    delete[] g_PoolThreads;
    delete[] g_PoolQueue;
    delete g_PoolDone;
    g_PoolSlots = nullptr;
    g_PoolThreads = nullptr;
    g_PoolQueue = nullptr;
    g_PoolDone = nullptr;
    g_PoolSlotCount = 0;
    g_PoolQueueCapacity = 0;
    g_PoolOutstanding = 0;
}

// Tells the first `count` workers to stop and joins them. Called with the
// pool lock held; returns with it held.
void PoolStopWorkers(std::unique_lock<std::mutex>& lock, uint64_t count) {
    for (uint64_t i = 0; i < count; ++i) {
        g_PoolSlots[i].stop = 1;
        g_PoolSlots[i].posted.store(1, std::memory_order_release);
        g_PoolSlots[i].wake->notify_one();
    }
    lock.unlock();
    for (uint64_t i = 0; i < count; ++i) g_PoolThreads[i].join();
    lock.lock();
}

void PoolPostSlot(uint64_t i, PoolWorkerFn fn, void* ctx, uint64_t first, uint64_t count) {
    PoolSlot& s = g_PoolSlots[i];
    s.fn = fn;
    s.ctx = ctx;
    s.first = first;
    s.count = count;
    s.posted.store(1, std::memory_order_release);
}

// Reports a call's ranges before they are posted: entries below `posted`
// go to the slots, the rest wait in the queue.
void PoolReportDispatch(PoolDispatchHook hook, uint64_t posted, uint64_t queueNext) {
    std::vector<PoolRange> slots(g_PoolQueue, g_PoolQueue + posted);
    hook({slots.data(), posted, g_PoolQueue, g_PoolQueueCapacity, queueNext, g_PoolOutstanding.load()});
}

}  // namespace

uint64_t PoolGetProcessorCount() {
    uint64_t p = g_ProcessorCount.load(std::memory_order_acquire);
    if (p != 0) return p;
    p = PlatGetProcessorCount();
    uint64_t expected = 0;
    if (g_ProcessorCount.compare_exchange_strong(expected, p)) {
        g_PoolThreadCount.store(p);
        return p;
    }
    return expected;
}

int32_t PoolSetProcessorCountForTesting(uint64_t p) {
    std::lock_guard<std::mutex> serial(g_PoolStartStopLock);
    if (p == 0 || g_PoolStartCount.load() != 0 || g_PoolBusy.load() != 0) return 0;
    g_ProcessorCount.store(p);
    g_PoolThreadCount.store(p);
    return 1;
}

void PoolSetDispatchHookForTesting(PoolDispatchHook hook) { g_PoolDispatchHook.store(hook); }

void PoolFailWorkerForTesting(uint64_t n) { g_PoolFailWorkerAt.store(n); }

int32_t PoolStart() {
    const uint64_t p = PoolGetProcessorCount();
    if (p < 2) return 1;  // one processor: every call runs inline

    {
        std::lock_guard<std::mutex> lock(g_PoolLock);
        if (g_PoolStartCount.load() != 0) {
            g_PoolStartCount.fetch_add(1);
            return 1;
        }
    }
    // A worker sees the count at 0 only while the last stop waits for the
    // call it works for: its own calls run inline, and waiting for the stop
    // here would never end.
    if (t_PoolWorker) return 1;

    std::lock_guard<std::mutex> serial(g_PoolStartStopLock);
    std::unique_lock<std::mutex> lock(g_PoolLock);
    if (g_PoolStartCount.load() != 0) {
        g_PoolStartCount.fetch_add(1);
        return 1;
    }

    g_PoolSlots = new (std::nothrow) PoolSlot[p]();
    g_PoolThreads = new (std::nothrow) std::thread[p];
    g_PoolQueue = new (std::nothrow) PoolRange[2 * p]();
    g_PoolDone = new (std::nothrow) std::condition_variable;
    if (!g_PoolSlots || !g_PoolThreads || !g_PoolQueue || !g_PoolDone) {
        PoolFreeState();
        return 0;
    }
    g_PoolSlotCount = p;
    g_PoolQueueCapacity = 2 * p;
    g_PoolOutstanding = 0;
    g_PoolCheckIn = p;

    for (uint64_t i = 0; i < p; ++i) {
        PoolSlot& slot = g_PoolSlots[i];
        slot.wake = new (std::nothrow) std::condition_variable;
        if (!slot.wake || !PoolCreateWorker(&slot, &g_PoolThreads[i], i)) {
            // Stop the workers made so far at once; the pool is not running.
            PoolStopWorkers(lock, i);
            PoolFreeState();
            return 0;
        }
    }
    // Every worker has checked in and waits on its slot once the lock is ours.
    g_PoolDone->wait(lock, [] { return g_PoolCheckIn == 0; });
    g_PoolStartCount.store(1);
    return 1;
}

void PoolStop() {
    std::lock_guard<std::mutex> serial(g_PoolStartStopLock);
    std::unique_lock<std::mutex> lock(g_PoolLock);
    if (g_PoolStartCount.load() == 0) return;
    if (g_PoolStartCount.fetch_sub(1) > 1) return;
    // The count is 0, so new calls run inline; let a call in flight finish.
    while (g_PoolBusy.load() != 0) {
        lock.unlock();
        std::this_thread::yield();
        lock.lock();
    }
    PoolStopWorkers(lock, g_PoolSlotCount);
    PoolFreeState();
}

int32_t PoolParallelFor(PoolWorkerFn fn, void* ctx, uint64_t n) {
    if (n == 0) return 1;
    uint64_t t = g_PoolThreadCount.load(std::memory_order_relaxed);
    if (g_PoolBusy.load(std::memory_order_relaxed) != 0 || t < 2 || n < 2 ||
        g_PoolStartCount.load(std::memory_order_acquire) == 0) {
        fn(ctx, 0, n);
        return 1;
    }
    std::unique_lock<std::mutex> lock(g_PoolLock);
    if (g_PoolBusy.load(std::memory_order_relaxed) != 0 || g_PoolStartCount.load(std::memory_order_relaxed) == 0) {
        lock.unlock();
        fn(ctx, 0, n);
        return 1;
    }
    g_PoolBusy.store(1, std::memory_order_relaxed);
    if (t > g_PoolSlotCount) t = g_PoolSlotCount;
    const uint64_t q = g_PoolQueueCapacity;  // 2P > T
    // Every range goes into the queue array first (entries below `posted`
    // go to the slots); the slots are posted last, once the queue a worker
    // may reach is complete.
    uint64_t ranges;
    if (n < q) {
        for (uint64_t i = 0; i < n; ++i) g_PoolQueue[i] = {i, 1};
        g_PoolQueue[n] = {0, 0};
        ranges = n;
    } else {
        // q chunks; the first n mod q are one index longer.
        const uint64_t c = n / q;
        const uint64_t r = n % q;
        uint64_t first = 0;
        for (uint64_t k = 0; k < q; ++k) {
            const uint64_t count = c + (k < r ? 1 : 0);
            g_PoolQueue[k] = {first, count};
            first += count;
        }
        ranges = q;
    }
    const uint64_t posted = ranges < t ? ranges : t;
    g_PoolOutstanding.store(ranges, std::memory_order_relaxed);
    g_PoolQueueCursor.store(posted, std::memory_order_relaxed);
    g_PoolQueueEnd.store(ranges, std::memory_order_relaxed);
    if (PoolDispatchHook hook = g_PoolDispatchHook.load(std::memory_order_relaxed)) PoolReportDispatch(hook, posted, ranges > posted ? posted : 0);
    for (uint64_t i = 0; i < posted; ++i) PoolPostSlot(i, fn, ctx, g_PoolQueue[i].first, g_PoolQueue[i].count);
    // Only sleeping workers need a wake-up; spinning ones see their posted
    // flag. Waking outside the lock spares the woken workers a wait on it.
    for (uint64_t i = 0; i < posted; ++i) g_PoolSlots[i].needsWake = g_PoolSlots[i].sleeping;
    lock.unlock();
    for (uint64_t i = 0; i < posted; ++i)
        if (g_PoolSlots[i].needsWake) g_PoolSlots[i].wake->notify_one();
    PoolSpinUntil([] { return g_PoolOutstanding.load(std::memory_order_acquire) == 0; });
    lock.lock();
    // The predicate is tested under the lock, so no completion is missed.
    g_PoolDone->wait(lock, [] { return g_PoolOutstanding.load(std::memory_order_acquire) == 0; });
    g_PoolBusy.store(0, std::memory_order_relaxed);
    return 1;
}

int32_t PoolSetThreadCount(uint64_t n) {
    if (n == 0) return 0;
    const uint64_t p = PoolGetProcessorCount();
    if (n > p || g_PoolBusy.load() != 0) return 0;
    g_PoolThreadCount.store(n);
    return 1;
}

CriticalSection* PoolNewCriticalSection() { return new (std::nothrow) CriticalSection; }

void PoolCopyKernel(void* ctx, uint64_t first, uint64_t count) {
    const PoolCopyJob* job = static_cast<const PoolCopyJob*>(ctx);
    std::memcpy(job->dst + first, job->src + first, count);
}

void PoolFillKernel(void* ctx, uint64_t first, uint64_t count) {
    const PoolFillJob* job = static_cast<const PoolFillJob*>(ctx);
    std::memset(job->dst + first, static_cast<int>(job->value & 0xFFu), count);
}

void* PoolParallelCopy(void* dst, const void* src, uint64_t n) {
    if (n == 0) return dst;
    if (n < kPoolBulkBytes) return std::memcpy(dst, src, n);
    PoolCopyJob job{static_cast<uint8_t*>(dst), static_cast<const uint8_t*>(src)};
    PoolParallelFor(PoolCopyKernel, &job, n);
    return dst;
}

void* PoolParallelZero(void* dst, uint64_t n) {
    if (n == 0) return dst;
    if (n < kPoolBulkBytes) return std::memset(dst, 0, n);
    PoolFillJob job{static_cast<uint8_t*>(dst), 0};
    PoolParallelFor(PoolFillKernel, &job, n);
    return dst;
}
