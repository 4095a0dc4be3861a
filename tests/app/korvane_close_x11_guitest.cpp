// The program under X ends at the first close of its main window
// (WM_DELETE_WINDOW, as a window manager's close box sends it), whatever it
// went through before: a command-line document that fails to open (its
// error box still up), a TIFF sequence, File > Open cycles (the later ones
// typing a whole path, which leaves a message box over the file selection),
// a large picture zoomed by the wheel.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/testsupport.h"
#include "support/x11_program.h"

namespace {

TEST(KorvaneX11Close, OneCloseEndsTheProgramAfterEachState) {
    if (!std::getenv("DISPLAY") || !kvtest::HaveTool("xdotool") || !kvtest::HaveTool("convert"))
        GTEST_SKIP() << "needs an X display, xdotool and ImageMagick";
    kvtest::TempDir dir("korvane_close");
    const std::string d = dir.path();
    for (int k = 1; k <= 3; ++k) {
        char cmd[512];
        std::snprintf(cmd, sizeof cmd, "convert -size 160x120 xc:'rgb(%d,60,90)' -compress none '%s/t_%03d.tif'",
                      60 * k, d.c_str(), k);
        ASSERT_EQ(kvtest::RunCommand(cmd), 0);
    }
    ASSERT_EQ(kvtest::RunCommand("convert -size 2048x2048 gradient:red-blue -define png:color-type=2 '" + d +
                                 "/big.png'"),
              0);
    auto run = [](const std::string& command) { kvtest::RunCommand(command); };
    struct State {
        const char* name;
        std::vector<std::string> args;
        std::function<void(const std::string& window, pid_t pid)> act;
    } states[] = {
        {"a document that cannot be opened", {d + "/missing.png"}, [](const std::string&, pid_t) {}},
        {"a TIFF sequence", {d + "/t_001.tif", d + "/t_003.tif"}, [](const std::string&, pid_t) {}},
        {"File > Open three times",
         {},
         [&](const std::string& w, pid_t pid) {
             // File > the first item (open an image), its path typed into the file selection.
             for (int k = 1; k <= 3; ++k) {
                 run("xdotool windowfocus --sync " + w + " mousemove --window " + w +
                     " 12 6 click 1 sleep 0.3 key Down space sleep 0.6");
                 std::string select;
                 kvtest::RunCommand("for x in $(xdotool search --onlyvisible --pid " + std::to_string(pid) +
                                        "); do [ $x != " + w + " ] && echo $x; done | tail -1",
                                    &select);
                 select = kvx11::Trim(select);
                 ASSERT_FALSE(select.empty()) << "no file selection";
                 run("xdotool windowfocus --sync " + select + " type --delay 5 '" + d + "/t_00" + std::to_string(k) +
                     ".tif'");
                 run("xdotool mousemove --window " + select + " 129 198 click 1 sleep 0.4");  // OK
             }
             std::string title;
             kvtest::RunCommand("xdotool getwindowname " + w, &title);
             EXPECT_NE(title.find("t_00"), std::string::npos) << title;
         }},
        {"a large picture zoomed", {d + "/big.png"},
         [&](const std::string& w, pid_t) {
             run("xdotool mousemove --window " + w + " --sync 300 300");
             for (int k = 0; k < 4; ++k) run("xdotool click 4 sleep 0.3");
         }},
    };
    for (const State& s : states) {
        SCOPED_TRACE(s.name);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            setenv("SDL_VIDEODRIVER", "x11", 1);
            setenv("XDG_CONFIG_HOME", (d + "/config").c_str(), 1);
            std::vector<char*> argv{const_cast<char*>("korvane")};
            for (const std::string& a : s.args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(kvx11::Program().c_str(), argv.data());
            _exit(127);
        }
        const std::string id = kvx11::FindWindow(pid, "korvane 1.11.0");
        if (id.empty()) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            ADD_FAILURE() << "no main window";
            continue;
        }
        s.act(id, pid);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        ASSERT_TRUE(kvx11::SendDeleteWindow(std::strtoul(id.c_str(), nullptr, 10)));
        EXPECT_EQ(kvx11::WaitForExit(pid, 5), 0) << "one close did not end the program";
    }
}

}  // namespace
