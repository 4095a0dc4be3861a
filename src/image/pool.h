// The process-wide worker pool and its parallel-for.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/kernel.h"

// Processes exactly the indices first .. first+count-1; may run concurrently
// with other ranges of the same call, in no fixed order.
using PoolWorkerFn = void (*)(void* ctx, uint64_t first, uint64_t count);

// Contexts of the byte-range workers.
struct PoolCopyJob {
    uint8_t* dst;
    const uint8_t* src;
};
struct PoolFillJob {
    uint8_t* dst;
    uint32_t value;
};

// Byte copies and fills go to the pool from this size up.
constexpr uint64_t kPoolBulkBytes = 0x100000;

extern std::atomic<uint64_t> g_ProcessorCount;   // P; 0 = not yet read
extern std::atomic<uint64_t> g_PoolThreadCount;  // T, 1 <= T <= P
extern std::atomic<uint64_t> g_PoolStartCount;   // starts not yet matched by a stop
extern std::atomic<uint32_t> g_PoolBusy;         // 1 while a call distributes work

// Starts the pool (one worker per processor) or counts one more start. Safe to
// call from several threads at once: it returns once the pool is fully
// running. 1 running (or no pool needed on one processor), 0 on failure,
// after which nothing of the attempt is left and every call runs inline.
int32_t PoolStart();
// Counts one start down; the last one stops and joins the workers.
void PoolStop();
// Runs fn over [0, n) on the workers while the caller waits; runs it inline
// for n < 2, one thread, no running pool, or while another call distributes
// (which includes calls from inside a worker function). Always 1.
int32_t PoolParallelFor(PoolWorkerFn fn, void* ctx, uint64_t n);
// P, read from the system once; the first read also sets T = P.
uint64_t PoolGetProcessorCount();
// Sets T; refused (0) for 0, more than P, or while a call distributes.
int32_t PoolSetThreadCount(uint64_t n);
// A new heap lock for the per-call totals of kernels; null when out of memory.
CriticalSection* PoolNewCriticalSection();
// Copy or zero n bytes, on the pool from kPoolBulkBytes up; return dst.
void* PoolParallelCopy(void* dst, const void* src, uint64_t n);
void* PoolParallelZero(void* dst, uint64_t n);
void PoolCopyKernel(void* ctx, uint64_t first, uint64_t count);  // ctx: PoolCopyJob
void PoolFillKernel(void* ctx, uint64_t first, uint64_t count);  // ctx: PoolFillJob

// Test seam: sets P (and T) before the pool first reads it from the system.
// Refused (0) while the pool is running.
int32_t PoolSetProcessorCountForTesting(uint64_t p);

// A range of indices [first, first+count); count 0 ends the queue.
struct PoolRange {
    uint64_t first;
    uint64_t count;
};

// What one distributed call posted, handed to the dispatch hook under the
// pool lock before the workers are woken.
struct PoolDispatchInfo {
    const PoolRange* slots;  // range posted to slot i, for i < slotCount
    uint64_t slotCount;
    const PoolRange* queue;  // the whole queue, queueCapacity entries
    uint64_t queueCapacity;
    uint64_t queueNext;  // position of the first queued range; 0 = none
    uint64_t outstanding;
};
using PoolDispatchHook = void (*)(const PoolDispatchInfo& info);

// Test seams: observe every distributed call (null switches it off), and let
// PoolStart fail when it creates worker number n (counting from 0;
// UINT64_MAX = never).
void PoolSetDispatchHookForTesting(PoolDispatchHook hook);
void PoolFailWorkerForTesting(uint64_t n);

// Runs a callable f(first, count) over [0, n) through PoolParallelFor.
template <class F>
int32_t PoolParallelRun(uint64_t n, F& f) {
    return PoolParallelFor(
        [](void* ctx, uint64_t first, uint64_t count) { (*static_cast<F*>(ctx))(first, count); }, &f, n);
}
