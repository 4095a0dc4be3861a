// The program itself: without a display it explains and exits 1; under X
// (ctest runs the smoke case under Xvfb) it opens a sequence named on its
// command line, plays through it with the wheel, shows the scenes, and
// exits 0 when its window is closed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "support/testsupport.h"
#include "support/x11_program.h"

namespace {

using kvx11::Program;

TEST(KorvaneProgram, WithoutADisplayExplainsAndExitsOne) {
    std::string out;
    kvtest::TempDir dir("korvane_nodisplay");
    const int status = kvtest::RunCommand("XDG_CONFIG_HOME='" + dir.path() + "' SDL_VIDEODRIVER=no-such-driver '" +
                                              Program() + "' 2>&1",
                                          &out);
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.find("main window cannot be created"), std::string::npos) << out;
}

TEST(KorvaneX11Smoke, OpensSequenceFromCommandLinePlaysAndCloses) {
    if (!std::getenv("DISPLAY") || !kvtest::HaveTool("xdotool") || !kvtest::HaveTool("import"))
        GTEST_SKIP() << "needs an X display, xdotool and ImageMagick";
    kvtest::TempDir dir("korvane_x11");
    for (int k = 1; k <= 5; ++k) {
        char cmd[512];
        std::snprintf(cmd, sizeof cmd, "convert -size 160x120 xc:'rgb(%d,60,90)' -define png:color-type=2 '%s/f_%03d.png'",
                      40 * k, dir.path().c_str(), k);
        ASSERT_EQ(kvtest::RunCommand(cmd), 0);
    }
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setenv("SDL_VIDEODRIVER", "x11", 1);
        setenv("XDG_CONFIG_HOME", (dir.path() + "/config").c_str(), 1);
        const std::string first = dir.path() + "/f_001.png", last = dir.path() + "/f_005.png";
        execl(Program().c_str(), "korvane", first.c_str(), last.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    const std::string id = kvx11::FindWindow(pid, "korvane 1.11.0");
    if (id.empty()) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        FAIL() << "no main window";
    }
    // The title names the document: the sequence was opened.
    std::string title;
    for (int i = 0; i < 50; ++i) {
        kvtest::RunCommand("xdotool getwindowname " + id, &title);
        if (title.find("f_001.png") != std::string::npos) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_NE(title.find("f_001.png"), std::string::npos) << title;
    // Scenes through the wheel over the picture, then a look at the window.
    kvtest::RunCommand("xdotool mousemove --window " + id + " --sync 200 200");
    auto shot = [&](const std::string& name) {
        const std::string path = kvtest::ScreenshotDir() + "/" + name + ".png";
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        kvtest::RunCommand("import -window " + id + " '" + path + "'");
        std::string pixel;
        kvtest::RunCommand("convert '" + path + "' -format '%[fx:int(255*p{200,200}.r+0.5)]' info:", &pixel);
        return std::atoi(pixel.c_str());
    };
    const int firstRed = shot("main-screen-x11-first");
    // Either wheel direction may count as forward: the other one is tried
    // when the first stays on scene 1.
    kvtest::RunCommand("xdotool click --repeat 3 --delay 100 4");
    int laterRed = shot("main-screen-x11");
    if (laterRed == firstRed) {
        kvtest::RunCommand("xdotool click --repeat 3 --delay 100 5");
        laterRed = shot("main-screen-x11");
    }
    EXPECT_EQ(firstRed, 40);
    EXPECT_NE(laterRed, firstRed);
    EXPECT_EQ(laterRed % 40, 0);
    ASSERT_TRUE(kvx11::SendDeleteWindow(std::strtoul(id.c_str(), nullptr, 10)));
    EXPECT_EQ(kvx11::WaitForExit(pid, 10), 0) << "the program did not end with 0 after its window was closed";
}

}  // namespace
