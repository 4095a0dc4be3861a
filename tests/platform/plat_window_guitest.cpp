// Windows and messages of the platform layer on the offscreen driver, with
// SDL events fed through the translation as the event loop would.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "platform/plat_sdl.h"
#include "platform/plat_window.h"
#include "platform/support/message_log.h"

namespace {

using kvtest::DescribeAll;
using kvtest::PumpAndTake;

int g_User = 0;  // any non-null user pointer routes a window's messages to the log

class PlatWindow : public ::testing::Test {
protected:
    void SetUp() override {
        kvtest::InstallMessageLog();
        a = PlatCreateWindow(L"a", 0, 0, 200, 100, kPlatStyleFixed);
        b = PlatCreateWindow(L"b", 300, 100, 120, 80, kPlatStyleResizable);
        ASSERT_NE(a, 0u);
        ASSERT_NE(b, 0u);
        PlatSetWindowUser(a, &g_User);
        PlatSetWindowUser(b, &g_User);
        PumpAndTake();
    }
    void TearDown() override {
        PlatReleaseCapture();
        PlatDestroyWindow(a);
        PlatDestroyWindow(b);
        PumpAndTake();
    }
    uint32_t a = 0, b = 0;
};

SDL_Event Wheel(uint32_t window, float y, uint32_t direction = SDL_MOUSEWHEEL_NORMAL) {
    SDL_Event e{};
    e.type = SDL_MOUSEWHEEL;
    e.wheel.windowID = window;
    e.wheel.preciseY = y;
    e.wheel.y = static_cast<int32_t>(y);
    e.wheel.direction = direction;
    e.wheel.mouseX = 11;
    e.wheel.mouseY = 12;
    return e;
}

SDL_Event Key(uint32_t window, bool down, SDL_Scancode scancode, uint16_t modifiers = 0) {
    SDL_Event e{};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.windowID = window;
    e.key.keysym.scancode = scancode;
    e.key.keysym.mod = modifiers;
    return e;
}

SDL_Event WindowEvent(uint32_t window, SDL_WindowEventID id, int32_t d1 = 0, int32_t d2 = 0) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = window;
    e.window.event = id;
    e.window.data1 = d1;
    e.window.data2 = d2;
    return e;
}

TEST_F(PlatWindow, WheelDeliversWholeNotchesOnly) {
    for (float y : {0.4f, 0.4f, 0.4f, -2.5f, 1.0f}) PlatTranslateEvent(Wheel(a, y));
    // Away from the user is negative: 1.2 -> -1 (0.2 left), -2.3 -> +2 (-0.3 left), 0.7 -> nothing.
    EXPECT_EQ(DescribeAll(PumpAndTake()), "wheel 11 12 -1, wheel 11 12 2");
    PlatTranslateEvent(Wheel(a, 0.4f, SDL_MOUSEWHEEL_FLIPPED));  // 0.7 - 0.4 = 0.3
    PlatTranslateEvent(Wheel(a, 1.5f, SDL_MOUSEWHEEL_FLIPPED));  // 0.3 - 1.5 = -1.2
    EXPECT_EQ(DescribeAll(PumpAndTake()), "wheel 11 12 1");
    // Another window starts its own count.
    PlatTranslateEvent(Wheel(b, 0.9f));
    PlatTranslateEvent(Wheel(a, 0.9f));
    EXPECT_EQ(DescribeAll(PumpAndTake()), "");
}

TEST_F(PlatWindow, CaptureRoutesMouseMessagesToTheCapturingWindow) {
    SDL_Event move{};
    move.type = SDL_MOUSEMOTION;
    move.motion.windowID = b;
    move.motion.x = 5;
    move.motion.y = 6;
    SDL_Event down{};
    down.type = SDL_MOUSEBUTTONDOWN;
    down.button.windowID = b;
    down.button.button = SDL_BUTTON_RIGHT;
    down.button.x = 7;
    down.button.y = 8;
    PlatSetCapture(a);
    EXPECT_EQ(PlatGetCapture(), a);
    PlatTranslateEvent(move);
    PlatTranslateEvent(down);
    std::vector<PlatMessage> got = PumpAndTake();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].window, a);
    EXPECT_EQ(DescribeAll(got), "move 305 106 0, rdown 307 108 0");
    PlatReleaseCapture();
    PlatTranslateEvent(move);
    got = PumpAndTake();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].window, b);
    EXPECT_EQ(DescribeAll(got), "move 5 6 0");
    // Destroying the capturing window releases the capture.
    PlatSetCapture(b);
    PlatDestroyWindow(b);
    EXPECT_EQ(PlatGetCapture(), 0u);
}

// A handler that takes the capture for window a on a left press and releases
// it on the release, as a control does, logging every message.
uint32_t g_CapturingWindow = 0;
void CaptureOnPress(void*, const PlatMessage& message) {
    kvtest::MessageLog().push_back(message);
    if (message.kind == kPlatMsgLButtonDown && message.window == g_CapturingWindow) PlatSetCapture(message.window);
    if (message.kind == kPlatMsgLButtonUp && PlatGetCapture() == message.window) PlatReleaseCapture();
}

SDL_Event Button(uint32_t window, bool down, int32_t x, int32_t y) {
    SDL_Event e{};
    e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    e.button.windowID = window;
    e.button.button = SDL_BUTTON_LEFT;
    e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.button.x = x;
    e.button.y = y;
    return e;
}

// A press that takes the capture and a release over another window, read
// from SDL in one batch: the release still goes to the capturing window
// (which lets the capture go), and the motion after it to the window under
// the pointer.
TEST_F(PlatWindow, CaptureTakenByAHandlerRoutesTheRestOfTheBatch) {
    g_CapturingWindow = a;
    PlatSetWindowProc(CaptureOnPress);
    SDL_Event events[3] = {Button(a, true, 10, 10), Button(b, false, 5, 6), {}};
    events[2].type = SDL_MOUSEMOTION;
    events[2].motion.windowID = b;
    events[2].motion.x = 7;
    events[2].motion.y = 8;
    for (SDL_Event& e : events) ASSERT_EQ(SDL_PushEvent(&e), 1);
    std::vector<PlatMessage> got = PumpAndTake();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(DescribeAll(got), "ldown 10 10 0, lup 305 106 0, move 7 8 0");
    EXPECT_EQ(got[0].window, a);
    EXPECT_EQ(got[1].window, a);
    EXPECT_EQ(got[2].window, b);
    EXPECT_EQ(PlatGetCapture(), 0u);
    // A capture set before the batch still routes it.
    PlatSetCapture(b);
    SDL_Event move = events[2];
    move.motion.windowID = a;
    ASSERT_EQ(SDL_PushEvent(&move), 1);
    got = PumpAndTake();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].window, b);
    EXPECT_EQ(DescribeAll(got), "move -293 -92 0");
}

TEST_F(PlatWindow, KeysBecomeKeyAndCharacterMessages) {
    PlatTranslateEvent(Key(a, true, SDL_SCANCODE_LCTRL, KMOD_LCTRL));
    PlatTranslateEvent(Key(a, true, SDL_SCANCODE_C, KMOD_LCTRL));
    PlatTranslateEvent(Key(a, false, SDL_SCANCODE_C, KMOD_LCTRL));
    PlatTranslateEvent(Key(a, true, SDL_SCANCODE_RETURN, KMOD_CAPS));
    PlatTranslateEvent(Key(a, true, SDL_SCANCODE_MUTE));  // no virtual key: nothing
    SDL_Event text{};
    text.type = SDL_TEXTINPUT;
    text.text.windowID = a;
    std::strcpy(text.text.text, "\xC3\xA9\xF0\x9F\x98\x80");
    PlatTranslateEvent(text);
    EXPECT_EQ(DescribeAll(PumpAndTake()),
              "keydown 17 0 0, keydown 67 0 0, char 3 0 0, keyup 67 0 0, keydown 13 0 1, char 13 0 0, "
              "char 233 0 0, char 65533 0 0");
    EXPECT_TRUE(PlatCapsLockToggled());
    PlatTranslateEvent(Key(a, false, SDL_SCANCODE_RETURN));
    PumpAndTake();
    EXPECT_FALSE(PlatCapsLockToggled());
}

TEST_F(PlatWindow, ProgramChangesReachTheHandlerAtOnceAndEchoesAreDropped) {
    PlatShowWindow(a, true);
    EXPECT_EQ(DescribeAll(kvtest::MessageLog()), "show 1 0 0");
    PlatShowWindow(a, true);  // no change, no message
    PlatShowWindow(a, false);
    PlatSetWindowSize(a, 250, 120);
    EXPECT_EQ(DescribeAll(PumpAndTake()), "show 1 0 0, show 0 0 0, size 250 120 0");
    int32_t w = 0, h = 0;
    ASSERT_TRUE(PlatGetWindowRect(a, nullptr, nullptr, &w, &h));
    EXPECT_EQ(w, 250);
    EXPECT_EQ(h, 120);
    // What the system reports on its own gets through; repeats of the known state do not.
    PlatTranslateEvent(WindowEvent(a, SDL_WINDOWEVENT_SIZE_CHANGED, 250, 120));
    PlatTranslateEvent(WindowEvent(a, SDL_WINDOWEVENT_SIZE_CHANGED, 260, 130));
    PlatTranslateEvent(WindowEvent(a, SDL_WINDOWEVENT_MOVED, 0, 0));
    PlatTranslateEvent(WindowEvent(a, SDL_WINDOWEVENT_MOVED, 20, 30));
    PlatTranslateEvent(WindowEvent(a, SDL_WINDOWEVENT_SHOWN));
    PlatTranslateEvent(WindowEvent(a, SDL_WINDOWEVENT_CLOSE));
    PlatTranslateEvent(WindowEvent(a, SDL_WINDOWEVENT_EXPOSED));
    PlatTranslateEvent(WindowEvent(a, SDL_WINDOWEVENT_EXPOSED));
    EXPECT_EQ(DescribeAll(PumpAndTake()), "size 260 130 0, moved 20 30 0, close 0 0 0, redraw 0 0 0");
    uint32_t id = a;
    PlatDestroyWindow(id);
    EXPECT_EQ(DescribeAll(kvtest::MessageLog()), "destroy 0 0 0");
    EXPECT_FALSE(PlatWindowExists(id));
    PlatPostTestClick(id, 1, 1);
    EXPECT_EQ(DescribeAll(PumpAndTake()), "destroy 0 0 0");  // nothing reaches a destroyed window
}

TEST_F(PlatWindow, QuitComesAfterTheQueuedMessagesAndWakesTheWait) {
    PlatPostTestClick(a, 1, 2);
    PlatPostQuitMessage(3);
    PlatMessage m;
    ASSERT_EQ(PlatGetMessage(&m), 1);
    EXPECT_EQ(m.kind, kPlatMsgLButtonDown);
    ASSERT_EQ(PlatGetMessage(&m), 1);
    ASSERT_EQ(PlatGetMessage(&m), 0);
    EXPECT_EQ(m.kind, kPlatMsgQuit);
    EXPECT_EQ(m.a, 3);
    std::thread poster([] { PlatPostQuitMessage(4); });
    ASSERT_EQ(PlatGetMessage(&m), 0);
    EXPECT_EQ(m.a, 4);
    poster.join();
    EXPECT_EQ(PlatPeekMessage(&m), 0);
}

TEST_F(PlatWindow, ContextCreationKeepsTheCurrentContext) {
    void* first = PlatCreateGlContext(a);
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(PlatMakeCurrent(a, first));
    void* second = PlatCreateGlContext(b);
    ASSERT_NE(second, nullptr);
    uint32_t window = 0;
    void* context = nullptr;
    PlatGetCurrent(&window, &context);
    EXPECT_EQ(window, a);
    EXPECT_EQ(context, first);
    PlatDeleteGlContext(first);  // the current one: nothing is current after
    PlatGetCurrent(&window, &context);
    EXPECT_EQ(context, nullptr);
    PlatDeleteGlContext(second);
}

TEST(PlatWindowCreate, RefusesEmptySizesAndCutsLongTitles) {
    EXPECT_EQ(PlatCreateWindow(L"x", 0, 0, 0, 10, kPlatStyleFixed), 0u);
    EXPECT_EQ(PlatCreateWindow(L"x", 0, 0, 10, -1, kPlatStyleFixed), 0u);
    std::wstring title(400, L'x');
    uint32_t id = PlatCreateWindow(title.c_str(), -1, -1, 10, 10, kPlatStylePopup);
    ASSERT_NE(id, 0u);
    EXPECT_EQ(std::string(SDL_GetWindowTitle(SDL_GetWindowFromID(id))).size(), 255u);
    PlatDestroyWindow(id);
    EXPECT_EQ(PlatGetSystemMetric(kPlatMetricMinWindowWidth), 136);
    EXPECT_EQ(PlatGetSystemMetric(kPlatMetricMinWindowHeight), 39);
}

}  // namespace
