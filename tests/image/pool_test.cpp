#include "image/pool.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

static bool operator==(const PoolRange& a, const PoolRange& b) { return a.first == b.first && a.count == b.count; }

namespace {

struct Dispatch {
    std::vector<PoolRange> slots;
    std::vector<PoolRange> queued;  // from the read position up to the end marker or Q
    bool endMarker = false;         // the queue ended on a {0, 0} entry before Q
    uint64_t queueNext = 0;
    uint64_t outstanding = 0;
};

std::mutex g_RecordLock;
std::vector<Dispatch> g_Dispatches;

void RecordDispatch(const PoolDispatchInfo& info) {
    Dispatch d;
    d.slots.assign(info.slots, info.slots + info.slotCount);
    d.queueNext = info.queueNext;
    d.outstanding = info.outstanding;
    if (info.queueNext != 0) {
        uint64_t i = info.queueNext;
        for (; i < info.queueCapacity && info.queue[i].count != 0; ++i) d.queued.push_back(info.queue[i]);
        d.endMarker = i < info.queueCapacity;
    }
    std::lock_guard<std::mutex> lock(g_RecordLock);
    g_Dispatches.push_back(d);
}

std::vector<Dispatch> TakeDispatches() {
    std::lock_guard<std::mutex> lock(g_RecordLock);
    std::vector<Dispatch> out;
    out.swap(g_Dispatches);
    return out;
}

void StopPoolCompletely() {
    while (g_PoolStartCount.load() != 0) PoolStop();
}

int CountThreads() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

// The thread count once it has stopped changing (joined threads leave /proc
// with a small delay).
int StableThreadCount() {
    int n = CountThreads();
    for (int same = 0, i = 0; same < 3 && i < 200; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        int m = CountThreads();
        same = m == n ? same + 1 : 0;
        n = m;
    }
    return n;
}

// Threads that were joined may linger in /proc for a moment: poll briefly.
int ThreadsSettle(int expected) {
    int n = CountThreads();
    for (int i = 0; i < 200 && n != expected; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        n = CountThreads();
    }
    return n;
}

// Counts how often each index ran and on which thread.
struct CountJob {
    std::vector<std::atomic<int>> hits;
    std::vector<std::thread::id> thread;
    explicit CountJob(uint64_t n) : hits(n), thread(n) {}
};

void CountRows(void* ctx, uint64_t first, uint64_t count) {
    CountJob* job = static_cast<CountJob*>(ctx);
    for (uint64_t i = first; i < first + count; ++i) {
        job->hits[i].fetch_add(1);
        job->thread[i] = std::this_thread::get_id();
    }
}

// Every test runs on a freshly started pool with P = 8, T = 8, whatever the
// machine has, and leaves the pool stopped with the real processor count.
class PoolTest : public ::testing::Test {
protected:
    void SetUp() override {
        StopPoolCompletely();
        ASSERT_EQ(PoolSetProcessorCountForTesting(8), 1);
        TakeDispatches();
        PoolSetDispatchHookForTesting(RecordDispatch);
        ASSERT_EQ(PoolStart(), 1);
    }
    void TearDown() override {
        PoolSetDispatchHookForTesting(nullptr);
        PoolFailWorkerForTesting(UINT64_MAX);
        StopPoolCompletely();
        PoolSetProcessorCountForTesting(PlatGetProcessorCount());
    }
};

std::vector<PoolRange> Singles(uint64_t from, uint64_t to) {
    std::vector<PoolRange> v;
    for (uint64_t i = from; i < to; ++i) v.push_back({i, 1});
    return v;
}

TEST_F(PoolTest, DispatchTableWithEightProcessors) {
    // Chunks of n = 100 over Q = 16: c = 6, r = 4, so four chunks of 7 first.
    std::vector<PoolRange> chunks100;
    for (uint64_t k = 0, first = 0; k < 16; ++k) {
        uint64_t c = k < 4 ? 7 : 6;
        chunks100.push_back({first, c});
        first += c;
    }
    struct Case {
        uint64_t n;
        bool distributed;
        std::vector<PoolRange> slots, queued;
        bool endMarker;
        uint64_t outstanding;
    } cases[] = {
        {0, false, {}, {}, false, 0},
        {1, false, {}, {}, false, 0},
        {5, true, Singles(0, 5), {}, false, 5},
        {8, true, Singles(0, 8), {}, false, 8},
        {12, true, Singles(0, 8), Singles(8, 12), true, 12},
        {15, true, Singles(0, 8), Singles(8, 15), true, 15},
        {16, true, Singles(0, 8), Singles(8, 16), false, 16},
        {100, true, {chunks100.begin(), chunks100.begin() + 8}, {chunks100.begin() + 8, chunks100.end()}, false, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("n = " + std::to_string(c.n));
        CountJob job(c.n);
        EXPECT_EQ(PoolParallelFor(CountRows, &job, c.n), 1);
        for (uint64_t i = 0; i < c.n; ++i) EXPECT_EQ(job.hits[i].load(), 1) << i;
        std::vector<Dispatch> d = TakeDispatches();
        if (!c.distributed) {
            EXPECT_TRUE(d.empty());
            for (uint64_t i = 0; i < c.n; ++i) EXPECT_EQ(job.thread[i], std::this_thread::get_id());
            continue;
        }
        ASSERT_EQ(d.size(), 1u);
        EXPECT_EQ(d[0].slots, c.slots);
        EXPECT_EQ(d[0].queued, c.queued);
        EXPECT_EQ(d[0].endMarker, c.endMarker);
        EXPECT_EQ(d[0].queueNext, c.queued.empty() ? 0u : 8u);
        EXPECT_EQ(d[0].outstanding, c.outstanding);
        // The caller only waits; the workers run every range.
        for (uint64_t i = 0; i < c.n; ++i) EXPECT_NE(job.thread[i], std::this_thread::get_id());
    }
}

TEST_F(PoolTest, EveryIndexOnceForLargeAndOddCounts) {
    for (uint64_t t : {8u, 3u, 2u}) {
        ASSERT_EQ(PoolSetThreadCount(t), 1);
        for (uint64_t n : {2u, 7u, 17u, 31u, 1000u, 65537u}) {
            SCOPED_TRACE("T = " + std::to_string(t) + ", n = " + std::to_string(n));
            CountJob job(n);
            PoolParallelFor(CountRows, &job, n);
            for (uint64_t i = 0; i < n; ++i) ASSERT_EQ(job.hits[i].load(), 1) << i;
            std::vector<Dispatch> d = TakeDispatches();
            ASSERT_EQ(d.size(), 1u);
            EXPECT_EQ(d[0].slots.size(), std::min<uint64_t>(n, t));
            // With fewer threads than processors the chunk count stays 2P.
            if (n >= 16) {
                EXPECT_EQ(d[0].slots.size() + d[0].queued.size(), 16u);
            }
        }
    }
}

// Back-to-back calls reuse one job record on the caller's stack, as kernels
// do: a call must return only once every range, queued ones included, has
// finished, or a late worker would read the next call's job.
struct FinishJob {
    uint64_t n;
    std::atomic<uint64_t> finished;
};

void FinishRows(void* ctx, uint64_t first, uint64_t count) {
    FinishJob* job = static_cast<FinishJob*>(ctx);
    for (uint64_t i = first; i < first + count; ++i) {
        volatile uint64_t spin = (i * 7919) % 97;
        while (spin > 0) spin = spin - 1;
    }
    job->finished.fetch_add(count);
}

TEST_F(PoolTest, CallsReturnOnlyAfterEveryRangeFinished) {
    FinishJob job;
    for (int round = 0; round < 3000; ++round) {
        job.n = 2 + static_cast<uint64_t>(round * 37) % 300;
        job.finished.store(0);
        PoolParallelFor(FinishRows, &job, job.n);
        ASSERT_EQ(job.finished.load(), job.n) << "round " << round;
    }
}

TEST_F(PoolTest, OneThreadRunsInline) {
    ASSERT_EQ(PoolSetThreadCount(1), 1);
    CountJob job(1000);
    PoolParallelFor(CountRows, &job, 1000);
    for (uint64_t i = 0; i < 1000; ++i) {
        ASSERT_EQ(job.hits[i].load(), 1);
        ASSERT_EQ(job.thread[i], std::this_thread::get_id());
    }
    EXPECT_TRUE(TakeDispatches().empty());
}

TEST_F(PoolTest, SetThreadCountRefusals) {
    EXPECT_EQ(PoolSetThreadCount(0), 0);
    EXPECT_EQ(PoolSetThreadCount(9), 0);
    EXPECT_EQ(g_PoolThreadCount.load(), 8u);
    EXPECT_EQ(PoolSetThreadCount(8), 1);
    // Refused while a call distributes work.
    std::atomic<int32_t> duringCall{-1};
    auto f = [&](uint64_t first, uint64_t) {
        if (first == 0) duringCall = PoolSetThreadCount(4);
    };
    PoolParallelRun(4, f);
    EXPECT_EQ(duringCall.load(), 0);
    EXPECT_EQ(g_PoolThreadCount.load(), 8u);
}

TEST_F(PoolTest, NestedCallRunsInlineOnTheWorker) {
    std::atomic<int> innerOk{0}, innerTotal{0};
    auto outer = [&](uint64_t first, uint64_t count) {
        for (uint64_t i = first; i < first + count; ++i) {
            CountJob inner(50);
            PoolParallelFor(CountRows, &inner, 50);
            bool ok = true;
            for (uint64_t k = 0; k < 50; ++k)
                ok = ok && inner.hits[k].load() == 1 && inner.thread[k] == std::this_thread::get_id();
            innerOk += ok;
            innerTotal += 1;
        }
    };
    PoolParallelRun(40, outer);
    EXPECT_EQ(innerTotal.load(), 40);
    EXPECT_EQ(innerOk.load(), 40);
    EXPECT_EQ(TakeDispatches().size(), 1u);  // only the outer call was distributed
}

TEST_F(PoolTest, SecondCallerRunsInlineWhileTheFirstDistributes) {
    std::atomic<bool> firstRunning{false}, secondDone{false};
    auto slow = [&](uint64_t, uint64_t) {
        firstRunning = true;
        while (!secondDone) std::this_thread::yield();
    };
    std::thread a([&] { PoolParallelRun(8, slow); });
    while (!firstRunning) std::this_thread::yield();
    CountJob job(100);
    PoolParallelFor(CountRows, &job, 100);
    secondDone = true;
    a.join();
    for (uint64_t i = 0; i < 100; ++i) {
        EXPECT_EQ(job.hits[i].load(), 1);
        EXPECT_EQ(job.thread[i], std::this_thread::get_id());
    }
    EXPECT_EQ(TakeDispatches().size(), 1u);
}

TEST_F(PoolTest, StartsAndStopsAreCounted) {
    const int threadsRunning = StableThreadCount();
    EXPECT_EQ(g_PoolStartCount.load(), 1u);
    EXPECT_EQ(PoolStart(), 1);
    EXPECT_EQ(g_PoolStartCount.load(), 2u);
    EXPECT_EQ(ThreadsSettle(threadsRunning), threadsRunning);  // a second start makes no threads
    PoolStop();
    EXPECT_EQ(g_PoolStartCount.load(), 1u);
    CountJob job(10);
    PoolParallelFor(CountRows, &job, 10);
    EXPECT_EQ(TakeDispatches().size(), 1u);  // still running
    PoolStop();
    EXPECT_EQ(g_PoolStartCount.load(), 0u);
    EXPECT_EQ(ThreadsSettle(threadsRunning - 8), threadsRunning - 8);  // the workers were joined
    PoolParallelFor(CountRows, &job, 10);
    EXPECT_TRUE(TakeDispatches().empty());  // no pool: inline
    PoolStop();                             // unmatched stop does nothing
    EXPECT_EQ(g_PoolStartCount.load(), 0u);
}

TEST_F(PoolTest, LastStopLetsTheCallInFlightFinish) {
    const int threads = StableThreadCount();
    std::atomic<bool> inCall{false};
    std::atomic<int32_t> lazyStart{-1};
    std::atomic<int> innerInline{0};
    CountJob outer(8);
    auto work = [&](uint64_t first, uint64_t count) {
        if (first == 0) {
            inCall = true;
            while (g_PoolStartCount.load() != 0) std::this_thread::yield();  // the stop has begun
            // What an image constructed inside a worker does at this moment.
            lazyStart = PoolStart();
            CountJob inner(10);
            PoolParallelFor(CountRows, &inner, 10);
            innerInline = inner.thread[9] == std::this_thread::get_id();
        }
        CountRows(&outer, first, count);
    };
    std::thread caller([&] { PoolParallelRun(8, work); });
    while (!inCall) std::this_thread::yield();
    PoolStop();
    caller.join();
    EXPECT_EQ(lazyStart.load(), 1);
    EXPECT_EQ(innerInline.load(), 1);
    for (uint64_t i = 0; i < 8; ++i) EXPECT_EQ(outer.hits[i].load(), 1);
    EXPECT_EQ(g_PoolStartCount.load(), 0u);
    EXPECT_EQ(ThreadsSettle(threads - 8), threads - 8);
}

TEST_F(PoolTest, SingleProcessorNeedsNoPool) {
    StopPoolCompletely();
    const int threads = StableThreadCount();
    ASSERT_EQ(PoolSetProcessorCountForTesting(1), 1);
    EXPECT_EQ(PoolStart(), 1);
    EXPECT_EQ(g_PoolStartCount.load(), 0u);
    EXPECT_EQ(ThreadsSettle(threads), threads);
    CountJob job(100);
    PoolParallelFor(CountRows, &job, 100);
    for (uint64_t i = 0; i < 100; ++i) EXPECT_EQ(job.thread[i], std::this_thread::get_id());
    PoolStop();
    EXPECT_EQ(g_PoolStartCount.load(), 0u);
}

TEST_F(PoolTest, ProcessorCountIsFixedWhileRunning) {
    EXPECT_EQ(PoolSetProcessorCountForTesting(4), 0);
    EXPECT_EQ(PoolGetProcessorCount(), 8u);
}

TEST_F(PoolTest, FailedStartStopsTheWorkersItMade) {
    StopPoolCompletely();
    const int threads = StableThreadCount();
    PoolFailWorkerForTesting(5);  // workers 0-4 start, the sixth fails
    EXPECT_EQ(PoolStart(), 0);
    EXPECT_EQ(g_PoolStartCount.load(), 0u);
    EXPECT_EQ(ThreadsSettle(threads), threads);
    CountJob job(64);
    PoolParallelFor(CountRows, &job, 64);
    for (uint64_t i = 0; i < 64; ++i) {
        EXPECT_EQ(job.hits[i].load(), 1);
        EXPECT_EQ(job.thread[i], std::this_thread::get_id());
    }
    // The next start succeeds from a clean state.
    PoolFailWorkerForTesting(UINT64_MAX);
    EXPECT_EQ(PoolStart(), 1);
    EXPECT_EQ(ThreadsSettle(threads + 8), threads + 8);
    PoolParallelFor(CountRows, &job, 64);
    EXPECT_EQ(TakeDispatches().size(), 1u);
}

TEST_F(PoolTest, CopyAndZeroGoToThePoolFromOneMebibyte) {
    const uint64_t sizes[] = {kPoolBulkBytes - 1, kPoolBulkBytes, kPoolBulkBytes + 12345};
    for (uint64_t n : sizes) {
        SCOPED_TRACE(n);
        std::vector<uint8_t> src(n), dst(n, 0xEE);
        for (uint64_t i = 0; i < n; ++i) src[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
        EXPECT_EQ(PoolParallelCopy(dst.data(), src.data(), n), dst.data());
        EXPECT_EQ(std::memcmp(dst.data(), src.data(), n), 0);
        EXPECT_EQ(PoolParallelZero(dst.data(), n), dst.data());
        EXPECT_EQ(std::count(dst.begin(), dst.end(), 0), static_cast<std::ptrdiff_t>(n));
        std::vector<Dispatch> d = TakeDispatches();
        if (n < kPoolBulkBytes) {
            EXPECT_TRUE(d.empty());
        } else {
            ASSERT_EQ(d.size(), 2u);  // one copy, one fill, each in 2P chunks
            EXPECT_EQ(d[0].outstanding, 16u);
            EXPECT_EQ(d[1].outstanding, 16u);
        }
    }
    EXPECT_EQ(PoolParallelCopy(nullptr, nullptr, 0), nullptr);
}

TEST_F(PoolTest, FillKernelUsesTheLowByte) {
    uint8_t buf[8] = {};
    PoolFillJob job{buf, 0x1234AB};
    PoolFillKernel(&job, 2, 4);
    const uint8_t want[8] = {0, 0, 0xAB, 0xAB, 0xAB, 0xAB, 0, 0};
    EXPECT_EQ(std::memcmp(buf, want, 8), 0);
}

TEST_F(PoolTest, ConcurrentLazyStartsAreSafe) {
    PoolSetDispatchHookForTesting(nullptr);
    for (int round = 0; round < 5; ++round) {
        StopPoolCompletely();
        const int threads = StableThreadCount();
        constexpr int kCallers = 12;
        std::atomic<int> starts{0}, bad{0};
        std::atomic<bool> go{false};
        std::vector<std::thread> callers;
        for (int c = 0; c < kCallers; ++c) {
            callers.emplace_back([&] {
                while (!go) std::this_thread::yield();
                if (PoolStart() == 1) starts++;
                // When PoolParallelFor returns, every index must be done:
                // the job lives on this stack.
                CountJob job(257);
                PoolParallelFor(CountRows, &job, 257);
                for (uint64_t i = 0; i < 257; ++i) bad += job.hits[i].load() != 1;
            });
        }
        go = true;
        for (std::thread& t : callers) t.join();
        EXPECT_EQ(bad.load(), 0);
        EXPECT_EQ(starts.load(), kCallers);
        EXPECT_EQ(g_PoolStartCount.load(), static_cast<uint64_t>(kCallers));
        EXPECT_EQ(ThreadsSettle(threads + 8), threads + 8);
        StopPoolCompletely();
        EXPECT_EQ(ThreadsSettle(threads), threads);
    }
}

TEST(PoolCriticalSection, NewCriticalSectionIsRecursive) {
    CriticalSection* cs = PoolNewCriticalSection();
    ASSERT_NE(cs, nullptr);
    cs->Enter();
    EXPECT_TRUE(cs->TryEnter());
    cs->Leave();
    cs->Leave();
    delete cs;
}

}  // namespace
