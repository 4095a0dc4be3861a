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

TEST(PlatX11Smoke, ClickAndKeysFromXdotool) {
    if (!std::getenv("DISPLAY") || !kvtest::HaveTool("xdotool") || !PlatSdlInit() ||
        std::string(SDL_GetCurrentVideoDriver()) != "x11")
        GTEST_SKIP() << "needs an X display and xdotool";
    kvtest::InstallMessageLog();
    uint32_t id = PlatCreateWindow(L"korvane-x11-smoke", 40, 30, 160, 120, kPlatStyleFixed);
    ASSERT_NE(id, 0u);
    PlatSetWindowUser(id, &g_User);
    PlatShowWindow(id, true);
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

}  // namespace
