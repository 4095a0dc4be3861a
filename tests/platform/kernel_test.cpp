#include "platform/kernel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/thread_start.h"
#include "support/testsupport.h"

namespace {

TEST(AutoResetEvent, OneSetReleasesOneWait) {
    AutoResetEvent e;
    EXPECT_FALSE(e.Wait(0));
    e.Set();
    e.Set();  // a second Set before any wait does not count twice
    EXPECT_TRUE(e.Wait(0));
    EXPECT_FALSE(e.Wait(0));
    e.Set();
    e.Reset();
    EXPECT_FALSE(e.Wait(0));
}

TEST(AutoResetEvent, EachSetReleasesExactlyOneWaiter) {
    AutoResetEvent e;
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) waiters.emplace_back([&] {
        if (e.Wait(5000)) released++;
    });
    for (int expected = 1; expected <= 3; ++expected) {
        e.Set();
        const uint64_t until = PlatGetTickCount() + 2000;
        while (released.load() < expected && PlatGetTickCount() < until) PlatSleep(1);
        PlatSleep(20);  // give a wrongly released second waiter time to show
        EXPECT_EQ(released.load(), expected);
    }
    for (std::thread& t : waiters) t.join();
}

TEST(AutoResetEvent, WaitTimesOut) {
    AutoResetEvent e;
    const uint64_t t0 = PlatGetTickCount();
    EXPECT_FALSE(e.Wait(40));
    EXPECT_GE(PlatGetTickCount() - t0, 39u);
}

TEST(AutoResetEvent, SetAndWaitPingPong) {
    AutoResetEvent ping, pong;
    int rounds = 0;
    std::thread partner([&] {
        for (int i = 0; i < 500; ++i) {
            ping.Wait();
            ++rounds;
            pong.Set();
        }
    });
    for (int i = 0; i < 500; ++i) ASSERT_TRUE(pong.SetAndWait(ping, 5000));
    partner.join();
    EXPECT_EQ(rounds, 500);
}

TEST(CriticalSection, IsRecursiveAndExcludesOtherThreads) {
    CriticalSection cs;
    cs.Enter();
    {
        CriticalSectionLock again(cs);  // same thread enters again
        bool otherGot = true;
        std::thread([&] { otherGot = cs.TryEnter(); }).join();
        EXPECT_FALSE(otherGot);
    }
    bool otherGot = true;
    std::thread([&] { otherGot = cs.TryEnter(); }).join();
    EXPECT_FALSE(otherGot);  // still held once
    cs.Leave();
    std::thread([&] {
        otherGot = cs.TryEnter();
        if (otherGot) cs.Leave();
    }).join();
    EXPECT_TRUE(otherGot);
}

// A wait that must not keep the section leaves every level and takes them back.
TEST(CriticalSection, LeaveAllReleasesEveryLevelOfTheCaller) {
    CriticalSection cs;
    EXPECT_EQ(cs.LeaveAll(), 0u);  // not held
    cs.Enter();
    cs.Enter();
    cs.Enter();
    uint32_t otherLevels = 99;
    std::thread([&] { otherLevels = cs.LeaveAll(); }).join();
    EXPECT_EQ(otherLevels, 0u);  // another thread's levels are not its own
    EXPECT_EQ(cs.LeaveAll(), 3u);
    bool otherGot = false;
    std::thread([&] {
        otherGot = cs.TryEnter();
        if (otherGot) cs.Leave();
    }).join();
    EXPECT_TRUE(otherGot);
    cs.EnterLevels(3);
    cs.Leave();
    cs.Leave();
    std::thread([&] { otherGot = cs.TryEnter(); }).join();
    EXPECT_FALSE(otherGot);  // one level still held
    EXPECT_EQ(cs.LeaveAll(), 1u);
}

TEST(PlatKernel, TicksAndSleep) {
    const uint64_t t0 = PlatGetTickCount();
    PlatSleep(25);
    const uint64_t t1 = PlatGetTickCount();
    EXPECT_GE(t1 - t0, 24u);
    EXPECT_LT(t1 - t0, 2000u);
    PlatSleep(0);  // yields only
}

TEST(PlatKernel, ProcessorCountHonoursAffinity) {
    std::string out;
    ASSERT_EQ(kvtest::RunCommand("nproc", &out), 0);
    EXPECT_EQ(PlatGetProcessorCount(), std::stoull(out));
    // A child restricted to one processor sees one.
    if (kvtest::HaveTool("taskset")) {
        ASSERT_EQ(kvtest::RunCommand("taskset -c 0 nproc", &out), 0);
        EXPECT_EQ(std::stoull(out), 1u);
    }
}

struct StartProbe {
    std::atomic<int> ran{0};
    void* seenArgument = nullptr;
};

void ProbeMain(void* argument) {
    StartProbe* probe = static_cast<StartProbe*>(argument);
    probe->seenArgument = argument;
    probe->ran = 1;
}

TEST(FgThreadEntry, ClearsTheFlagAndRunsTheFunction) {
    StartProbe probe;
    uint32_t result = 99;
    {
        FgThreadStart start;
        start.function = ProbeMain;
        start.argument = &probe;
        start.started = 1;
        std::thread t([&] { result = FgThreadEntry(&start); });
        while (start.started.load() != 0) PlatSleep(0);
        // The record may be discarded now: the thread has what it needs.
        start.function = nullptr;
        start.argument = nullptr;
        t.join();
    }
    EXPECT_EQ(probe.ran.load(), 1);
    EXPECT_EQ(probe.seenArgument, &probe);
    EXPECT_EQ(result, 0u);
}

}  // namespace
