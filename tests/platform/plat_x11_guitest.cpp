// Real X input through SDL into the layer's messages: runs only on an X
// display (ctest runs it under Xvfb), driven by xdotool.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/plat_sdl.h"
#include "platform/plat_window.h"
#include "platform/support/message_log.h"
#include "support/testsupport.h"

namespace {

int g_User = 0;

bool Has(const std::vector<PlatMessage>& got, PlatMsgKind kind, int32_t a, int32_t b = -1) {
    return std::any_of(got.begin(), got.end(),
                       [&](const PlatMessage& m) { return m.kind == kind && m.a == a && (b < 0 || m.b == b); });
}

bool HaveX11() {
    return std::getenv("DISPLAY") && kvtest::HaveTool("xdotool") && PlatSdlInit() &&
           std::string(SDL_GetCurrentVideoDriver()) == "x11";
}

// A shown 160 x 120 window at (x, 30); 0 when it cannot be made.
uint32_t ShowWindow(const wchar_t* title, int32_t x) {
    const uint32_t id = PlatCreateWindow(title, x, 30, 160, 120, kPlatStyleFixed);
    if (!id) return 0;
    PlatSetWindowUser(id, &g_User);
    PlatShowWindow(id, true);
    return id;
}

TEST(PlatX11Smoke, ClickAndKeysFromXdotool) {
    if (!HaveX11()) GTEST_SKIP() << "needs an X display and xdotool";
    kvtest::InstallMessageLog();
    const uint32_t id = ShowWindow(L"korvane-x11-smoke", 40);
    ASSERT_NE(id, 0u);
    kvtest::PumpAndTake();

    std::atomic<int> status{-1};
    std::thread driver([&] {
        status = kvtest::RunCommand(
            "w=$(xdotool search --sync --name korvane-x11-smoke | head -1) && "
            "xdotool windowfocus --sync $w && xdotool mousemove --window $w --sync 60 50 && xdotool click 1 && "
            "xdotool key --delay 20 shift+a Return ctrl+c BackSpace");
    });
    std::vector<PlatMessage> got;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    bool driverDone = false;
    while (std::chrono::steady_clock::now() < deadline) {
        std::vector<PlatMessage> more = kvtest::PumpAndTake();
        got.insert(got.end(), more.begin(), more.end());
        if (driverDone && Has(got, kPlatMsgChar, 8)) break;
        if (!driverDone && status.load() >= 0) driverDone = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    driver.join();
    PlatDestroyWindow(id);
    ASSERT_EQ(status.load(), 0);
    SCOPED_TRACE(kvtest::DescribeAll(got));
    EXPECT_TRUE(Has(got, kPlatMsgLButtonDown, 60, 50));
    EXPECT_TRUE(Has(got, kPlatMsgLButtonUp, 60, 50));
    EXPECT_TRUE(Has(got, kPlatMsgKeyDown, 16));
    EXPECT_TRUE(Has(got, kPlatMsgKeyDown, 'A'));
    EXPECT_TRUE(Has(got, kPlatMsgChar, 'A'));
    EXPECT_TRUE(Has(got, kPlatMsgKeyDown, 13));
    EXPECT_TRUE(Has(got, kPlatMsgChar, 13));
    EXPECT_TRUE(Has(got, kPlatMsgChar, 3));
    EXPECT_TRUE(Has(got, kPlatMsgChar, 8));
    EXPECT_TRUE(Has(got, kPlatMsgKeyUp, 'C'));
}

// A drag that starts in one window while another has the keyboard focus:
// every event of the press goes to the pressed window, at its coordinates
// (at or beyond its edge where the pointer crosses the other window).
TEST(PlatX11Smoke, DragStaysWithThePressedWindowWhileAnotherHasTheFocus) {
    if (!HaveX11()) GTEST_SKIP() << "needs an X display and xdotool";
    kvtest::InstallMessageLog();
    const uint32_t a = ShowWindow(L"korvane-x11-press", 40);
    const uint32_t b = ShowWindow(L"korvane-x11-focus", 260);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    kvtest::PumpAndTake();
    std::atomic<int> status{-1};
    std::thread driver([&] {
        status = kvtest::RunCommand(
            "a=$(xdotool search --sync --name korvane-x11-press | head -1) && "
            "b=$(xdotool search --sync --name korvane-x11-focus | head -1) && "
            "xdotool windowfocus --sync $b && sleep 0.2 && "
            "xdotool mousemove --window $a --sync 30 40 mousedown 1 && sleep 0.1 && "
            "xdotool mousemove --window $a --sync 90 70 && sleep 0.1 && "
            "xdotool mousemove --window $a --sync 250 60 && sleep 0.1 && "
            "xdotool mousemove --window $a --sync 120 100 && sleep 0.1 && xdotool mouseup 1");
    });
    std::vector<PlatMessage> got;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        std::vector<PlatMessage> more = kvtest::PumpAndTake();
        got.insert(got.end(), more.begin(), more.end());
        if (status.load() >= 0 && Has(got, kPlatMsgLButtonUp, 120)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    driver.join();
    PlatDestroyWindow(a);
    PlatDestroyWindow(b);
    ASSERT_EQ(status.load(), 0);
    SCOPED_TRACE(kvtest::DescribeAll(got));
    // From the press to the release, only the pressed window hears the mouse.
    std::vector<std::string> drag;
    bool pressed = false;
    for (const PlatMessage& m : got) {
        if (m.kind == kPlatMsgLButtonDown) pressed = true;
        if (!pressed || m.kind < kPlatMsgMouseMove || m.kind > kPlatMsgMouseWheel) continue;
        const int32_t x = m.window == a && m.a >= 159 && m.a <= 250 ? 250 : m.a;
        drag.push_back((m.window == a ? "a " : m.window == b ? "b " : "? ") + std::to_string(m.kind) + " " +
                       std::to_string(x) + "," + std::to_string(m.b));
        if (m.kind == kPlatMsgLButtonUp) break;
    }
    const std::string move = std::to_string(kPlatMsgMouseMove), down = std::to_string(kPlatMsgLButtonDown),
                      up = std::to_string(kPlatMsgLButtonUp);
    EXPECT_EQ(drag, (std::vector<std::string>{"a " + down + " 30,40", "a " + move + " 90,70", "a " + move + " 250,60",
                                              "a " + move + " 120,100", "a " + up + " 120,100"}));
}

}  // namespace
