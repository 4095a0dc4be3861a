// The main, modal and pumping loops over real screens, keyboard messages
// through the queue, and the hand-off wait.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/plat_messages.h"
#include "toolkit/fg_keys.h"
#include "toolkit/fg_loop.h"
#include "toolkit/fg_msgbox.h"
#include "toolkit/support/screen_recorder.h"

namespace {

using kvtest::RecordingScreen;

class FgLoop : public ::testing::Test {
protected:
    void SetUp() override {
        g_QuitRequested = 0;
        ASSERT_EQ(main.Create(0, 0, 200, 100, L"main", kFgStyleFixed, nullptr), 1);
        ASSERT_EQ(modal.Create(300, 0, 150, 80, L"modal", kFgStyleFixed, &main), 1);
        FgPumpMessages();
        main.events.clear();
        modal.events.clear();
        main.redraws = modal.redraws = 0;
        // A hung loop fails the test instead of blocking the run.
        watchdog = std::thread([this] {
            for (int i = 0; i < 500 && !finished.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (!finished.load()) PlatPostQuitMessage(99);
        });
    }
    void TearDown() override {
        finished = true;
        watchdog.join();
        FgPumpMessages();
        g_QuitRequested = 0;
        g_MainScreen = nullptr;
    }
    RecordingScreen main, modal;
    std::atomic<bool> finished{false};
    std::thread watchdog;
};

TEST_F(FgLoop, QuitInsideModalLoopEndsItAndTheMainLoop) {
    bool modalReturned = false;
    main.onClick = [&](RecordingScreen*, int32_t, int32_t) {
        main.onClick = nullptr;
        PlatPostTestClick(main.window, 7, 7);  // dropped while the modal screen runs
        PlatPostRedraw(main.window);           // still dispatched
        PlatPostTestKey(main.window, 'K', true);  // dropped
        PlatPostTestClick(modal.window, 5, 6);
        volatile int32_t done = 0;
        FgRunModalLoop(&done, &modal);
        modalReturned = true;
        EXPECT_EQ(done, 0);
        EXPECT_EQ(g_QuitRequested.load(), 1u);
    };
    modal.onClick = [](RecordingScreen*, int32_t, int32_t) { PlatPostQuitMessage(0); };
    PlatPostTestClick(main.window, 1, 2);
    PlatPostTestClick(main.window, 3, 4);  // after the quit: never dispatched
    FgRunMessageLoop(&main);
    finished = true;
    EXPECT_TRUE(modalReturned);
    EXPECT_EQ(g_MainScreen, &main);
    EXPECT_EQ(main.Joined(), "click 1 2");
    EXPECT_EQ(main.redraws, 1);
    EXPECT_EQ(modal.Joined(), "click 5 6");
    // Once set, the flag keeps the main loop from starting again.
    PlatPostTestClick(main.window, 9, 9);
    FgRunMessageLoop(&main);
    EXPECT_EQ(main.Joined(), "click 1 2");
}

TEST_F(FgLoop, ModalLoopEndsWhenItsFlagIsSet) {
    volatile int32_t done = 1;  // reset by the loop
    modal.onClick = [&](RecordingScreen*, int32_t, int32_t) { done = 1; };
    PlatPostTestClick(modal.window, 10, 10);
    PlatPostTestClick(modal.window, 11, 11);  // stays queued
    FgRunModalLoop(&done, &modal);
    finished = true;
    EXPECT_EQ(done, 1);
    EXPECT_EQ(g_QuitRequested.load(), 0u);
    EXPECT_EQ(modal.Joined(), "click 10 10");
    EXPECT_EQ(FgPumpMessages(), 1);
    EXPECT_EQ(modal.Joined(), "click 10 10, click 11 11");
}

TEST_F(FgLoop, ModalLoopWithoutScreenDispatchesToAll) {
    volatile int32_t done = 0;
    main.onClick = [&](RecordingScreen*, int32_t, int32_t) { done = 1; };
    PlatPostTestClick(modal.window, 1, 1);
    PlatPostTestClick(main.window, 2, 2);
    FgRunModalLoop(&done, nullptr);
    finished = true;
    EXPECT_EQ(modal.Joined(), "click 1 1");
    EXPECT_EQ(main.Joined(), "click 2 2");
}

TEST_F(FgLoop, ModalStartHookSeesEachModalScreenAndItsInputIsServed) {
    struct Seen {
        std::vector<CFgScreen*> screens;
        RecordingScreen* target;
    } seen{{}, &modal};
    FgModalStartHook previous = FgSetModalStartHook(
        [](CFgScreen* screen, void* user) {
            auto* s = static_cast<Seen*>(user);
            s->screens.push_back(screen);
            PlatPostTestClick(s->target->window, 4, 5);
        },
        &seen);
    EXPECT_EQ(previous, nullptr);
    volatile int32_t done = 0;
    modal.onClick = [&](RecordingScreen*, int32_t, int32_t) { done = 1; };
    FgRunModalLoop(&done, &modal);
    FgRunModalLoop(&done, nullptr);
    finished = true;
    FgSetModalStartHook(nullptr, nullptr);
    ASSERT_EQ(seen.screens.size(), 2u);
    EXPECT_EQ(seen.screens[0], &modal);
    EXPECT_EQ(seen.screens[1], nullptr);
    EXPECT_EQ(modal.Joined(), "click 4 5, click 4 5");
}

TEST_F(FgLoop, DestroyingTheMainScreenEndsTheMainLoop) {
    main.onClick = [](RecordingScreen* self, int32_t, int32_t) { self->Destroy(); };
    PlatPostTestClick(main.window, 1, 1);
    FgRunMessageLoop(&main);
    finished = true;
    EXPECT_EQ(main.window, 0u);
    EXPECT_EQ(g_QuitRequested.load(), 1u);
}

TEST_F(FgLoop, MessagePostedFromAnotherThreadWakesTheLoop) {
    main.onClick = [](RecordingScreen*, int32_t, int32_t) { PlatPostQuitMessage(0); };
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        PlatPostTestClick(main.window, 4, 4);
    });
    auto start = std::chrono::steady_clock::now();
    FgRunMessageLoop(&main);
    finished = true;
    poster.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(main.Joined(), "click 4 4");
}

TEST_F(FgLoop, PumpDispatchesEverythingAndReportsQuit) {
    PlatPostTestClick(main.window, 1, 1);
    PlatPostTestClick(modal.window, 2, 2);
    EXPECT_EQ(FgPumpMessages(), 1);
    EXPECT_EQ(main.Joined(), "click 1 1");
    EXPECT_EQ(modal.Joined(), "click 2 2");
    PlatPostQuitMessage(0);
    EXPECT_EQ(FgPumpMessages(), 0);
    EXPECT_EQ(g_QuitRequested.load(), 1u);
    finished = true;
}

TEST_F(FgLoop, KeyMessagesReachTheScreen) {
    g_KeyState = PlatCapsLockToggled() ? kFgKeyStateCapsLock : 0;
    uint16_t capsOff = g_KeyState;
    uint32_t w = main.window;
    PlatPostTestKey(w, 20, true);  // caps lock toggles
    PlatPostTestKey(w, 20, false);
    PlatPostTestKey(w, 229, true);  // input-method key: caps already agrees
    PlatPostTestKey(w, 'A', true);
    PlatPostTestKey(w, 'A', false);
    PlatPostTestKey(w, 20, true);
    PlatPostTestKey(w, 46, true);
    PlatPostTestKey(w, 46, true);
    PlatPostTestKey(w, 46, false);
    PlatPostTestKey(w, 13, true);
    PlatPostTestChar(w, 13);
    PlatPostTestChar(w, 13);  // repeated character: release and press first
    PlatPostTestKey(w, 13, false);
    FgPumpMessages();
    finished = true;
    std::string caps = "special+ 0, state " + std::to_string(capsOff ^ kFgKeyStateCapsLock);
    std::string back = "special+ 0, state " + std::to_string(capsOff);
    std::string letter = capsOff ? "97" : "65";
    EXPECT_EQ(main.Joined(), caps + ", down " + letter + ", up " + letter + ", " + back +
                                 ", down 46, char 127, char 127, up 46, down 10, char 10, up 10, down 10, char 10, up 10");
    g_KeyState = 0;
}

TEST(FgWaitEvent, SignalsLeavesTheLockAndWaits) {
    EXPECT_EQ(FgWaitEvent(nullptr, nullptr, nullptr), 0);
    AutoResetEvent request, reply;
    CriticalSection cs;
    std::atomic<bool> lockWasFree{false};
    std::thread worker([&] {
        request.Wait();
        lockWasFree = cs.TryEnter();
        if (lockWasFree) cs.Leave();
        reply.Set();
    });
    reply.Set();  // a stale signal is cleared before the wait
    cs.Enter();
    EXPECT_EQ(FgWaitEvent(&request, &reply, &cs), 1);
    worker.join();
    EXPECT_TRUE(lockWasFree.load());
}

}  // namespace

namespace {

// Once the program is quitting, a modal loop or a message box waits for no
// answer: it returns at once, with nothing shown and the queue untouched.
TEST_F(FgLoop, NothingModalWaitsOnceTheProgramIsQuitting) {
    int started = 0;
    const FgModalStartHook previous =
        FgSetModalStartHook([](CFgScreen*, void* user) { ++*static_cast<int*>(user); }, &started);
    g_QuitRequested = 1;
    PlatPostTestClick(modal.window, 4, 4);
    volatile int32_t done = 1;
    FgRunModalLoop(&done, &modal);
    EXPECT_EQ(done, 0);
    EXPECT_EQ(FgMessageBox(L"canceled", L"confirmation", 1, &main), -1);
    finished = true;
    FgSetModalStartHook(previous, nullptr);
    EXPECT_EQ(started, 0);
    EXPECT_EQ(modal.Joined(), "");
    EXPECT_EQ(FgPumpMessages(), 1);
    EXPECT_EQ(modal.Joined(), "click 4 4");
}

}  // namespace

namespace {

// A quit taken by a loop nested in a modal loop's dispatch ends the outer
// modal loop as well: it would otherwise wait for messages that never come.
TEST_F(FgLoop, QuitTakenByANestedLoopEndsTheOuterModalLoop) {
    RecordingScreen inner;
    ASSERT_EQ(inner.Create(0, 200, 100, 60, L"inner", kFgStyleFixed, &main), 1);
    FgPumpMessages();
    bool innerReturned = false, started = false;
    modal.onClick = [&](RecordingScreen*, int32_t, int32_t) {
        if (started) return;
        started = true;
        PlatPostTestClick(inner.window, 2, 2);
        volatile int32_t innerDone = 0;
        FgRunModalLoop(&innerDone, &inner);
        innerReturned = true;
    };
    inner.onClick = [](RecordingScreen*, int32_t, int32_t) { PlatPostQuitMessage(0); };
    PlatPostTestClick(modal.window, 1, 1);
    volatile int32_t done = 0;
    const auto start = std::chrono::steady_clock::now();
    FgRunModalLoop(&done, &modal);
    // The watchdog's own quit would end a stuck loop only after 5 s.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    finished = true;
    EXPECT_TRUE(innerReturned);
    EXPECT_EQ(done, 0);
    EXPECT_EQ(g_QuitRequested.load(), 1u);
}

}  // namespace
