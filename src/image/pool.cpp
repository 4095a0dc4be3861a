#include "image/pool.h"

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

// One mailbox per worker. A posted range always has count >= 1, so count 0
// means "nothing posted".
struct PoolSlot {
    std::condition_variable* wake;
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
uint64_t g_PoolQueueNext = 0;
uint64_t g_PoolOutstanding = 0;
std::condition_variable* g_PoolDone = nullptr;
uint64_t g_PoolCheckIn = 0;

// Set on the pool's own threads.
thread_local bool t_PoolWorker = false;

std::atomic<PoolDispatchHook> g_PoolDispatchHook{nullptr};
std::atomic<uint64_t> g_PoolFailWorkerAt{UINT64_MAX};

void PoolWorkerLoop(void* arg) {
    t_PoolWorker = true;
    PoolSlot* slot = static_cast<PoolSlot*>(arg);
    std::unique_lock<std::mutex> lock(g_PoolLock);
    if (--g_PoolCheckIn == 0) g_PoolDone->notify_one();
    for (;;) {
        while (slot->count == 0 && slot->stop == 0) slot->wake->wait(lock);
        if (slot->stop != 0) return;
        PoolWorkerFn fn = slot->fn;
        void* ctx = slot->ctx;
        uint64_t first = slot->first;
        uint64_t count = slot->count;
        slot->count = 0;
        for (;;) {
            lock.unlock();
            fn(ctx, first, count);
            lock.lock();
            if (--g_PoolOutstanding == 0) {
                // Still under the lock: the dispatcher wakes once this
                // worker is back waiting.
                g_PoolDone->notify_one();
                break;
            }
            if (g_PoolQueueNext == 0) break;
            const PoolRange& r = g_PoolQueue[g_PoolQueueNext];
            first = r.first;
            count = r.count;
            ++g_PoolQueueNext;
            if (g_PoolQueueNext == g_PoolQueueCapacity || g_PoolQueue[g_PoolQueueNext].count == 0) g_PoolQueueNext = 0;
        }
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
    g_PoolQueueNext = 0;
    g_PoolOutstanding = 0;
}

// Tells the first `count` workers to stop and joins them. Called with the
// pool lock held; returns with it held.
void PoolStopWorkers(std::unique_lock<std::mutex>& lock, uint64_t count) {
    for (uint64_t i = 0; i < count; ++i) {
        g_PoolSlots[i].stop = 1;
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
}

void PoolReportDispatch(PoolDispatchHook hook, uint64_t posted) {
    std::vector<PoolRange> slots(posted);
    for (uint64_t i = 0; i < posted; ++i) slots[i] = {g_PoolSlots[i].first, g_PoolSlots[i].count};
    hook({slots.data(), posted, g_PoolQueue, g_PoolQueueCapacity, g_PoolQueueNext, g_PoolOutstanding});
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
    g_PoolQueueNext = 0;
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
    uint64_t posted;
    if (n <= t) {
        for (uint64_t i = 0; i < n; ++i) PoolPostSlot(i, fn, ctx, i, 1);
        posted = n;
        g_PoolOutstanding = n;
        g_PoolQueueNext = 0;
    } else if (n < q) {
        for (uint64_t i = 0; i < t; ++i) PoolPostSlot(i, fn, ctx, i, 1);
        for (uint64_t i = t; i < n; ++i) g_PoolQueue[i] = {i, 1};
        g_PoolQueue[n] = {0, 0};
        posted = t;
        g_PoolOutstanding = n;
        g_PoolQueueNext = t;
    } else {
        // q chunks; the first n mod q are one index longer.
        const uint64_t c = n / q;
        const uint64_t r = n % q;
        uint64_t first = 0;
        for (uint64_t k = 0; k < q; ++k) {
            const uint64_t count = c + (k < r ? 1 : 0);
            if (k < t) {
                PoolPostSlot(k, fn, ctx, first, count);
            } else {
                g_PoolQueue[k] = {first, count};
            }
            first += count;
        }
        posted = t;
        g_PoolOutstanding = q;
        g_PoolQueueNext = t;
    }
    if (PoolDispatchHook hook = g_PoolDispatchHook.load(std::memory_order_relaxed)) PoolReportDispatch(hook, posted);
    for (uint64_t i = 0; i < posted; ++i) g_PoolSlots[i].wake->notify_one();
    // The wait releases the lock atomically, so no completion is missed.
    g_PoolDone->wait(lock, [] { return g_PoolOutstanding == 0; });
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
