// Real X input under Xvfb (ctest runs these under xvfb-run), driven by
// xdotool: typing and selecting in an edit box, the clipboard both ways
// through xclip, and the file selection screen answered by typing and
// clicking, and a menu-bar menu with a submenu chosen and dismissed by the
// mouse and the keyboard. Skipped on other drivers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/plat_messages.h"
#include "platform/plat_sdl.h"
#include "platform/utf8.h"
#include "support/testsupport.h"
#include "toolkit/fg_dialog.h"
#include "toolkit/fg_edit.h"
#include "toolkit/fg_file_select.h"
#include "toolkit/fg_loop.h"
#include "toolkit/fg_menubar.h"
#include "toolkit/support/ui_input.h"

namespace {

bool HaveX11() {
    return std::getenv("DISPLAY") && kvtest::HaveTool("xdotool") && kvtest::HaveTool("xclip") && PlatSdlInit() &&
           std::string(SDL_GetCurrentVideoDriver()) == "x11";
}

// Runs a shell command on another thread while this thread pumps messages
// (selection requests and input are answered from the loop) until `until`
// holds after the command ended, or 20 seconds passed. The command's status.
int RunWhilePumping(const std::string& command, const std::function<bool()>& until, std::string* out = nullptr) {
    std::atomic<int> status{-1};
    std::string output;
    std::thread driver([&] { status = kvtest::RunCommand(command, &output); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        FgPumpMessages();
        if (status.load() >= 0 && until()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    driver.join();
    if (out) *out = output;
    return status.load();
}

std::wstring Doc(const CFgUIEdit& e) {
    std::wstring out;
    for (const FgEditLine* l = e.firstLine; l; l = l->next) out += l->text;
    return out;
}

const char kFind[] = "w=$(xdotool search --sync --name '%s' | head -1) && xdotool windowfocus --sync $w && ";

std::string Find(const char* title) {
    char buf[256];
    std::snprintf(buf, sizeof buf, kFind, title);
    return buf;
}

TEST(FgX11Smoke, EditBoxClipboardThroughXclip) {
    if (!HaveX11()) GTEST_SKIP() << "needs an X display, xdotool and xclip";
    class Dialog : public CFgUIDialog {
    public:
        CFgUIEdit edit;
        Dialog() {
            edit.multiLine = 1;
            edit.SetRect(10, 10, 280, 100);
            AddChild(&edit);
        }
    } d;
    ASSERT_EQ(d.Create(40, 30, 300, 120, L"korvane-x11-edit", kFgStyleFixed, nullptr), 1);
    d.SetFocus(&d.edit);
    FgPumpMessages();

    // Type, select the last word with Shift+Left (xdotool releases Shift
    // before the arrow) and copy it.
    ASSERT_EQ(RunWhilePumping(Find("korvane-x11-edit") +
                                  "xdotool type --delay 30 'hello world' && "
                                  "xdotool key --delay 30 shift+Left shift+Left shift+Left shift+Left shift+Left ctrl+c",
                              [&] { return d.edit.selStartLine != nullptr; }),
              0);
    FgPumpMessages();
    EXPECT_EQ(Doc(d.edit), L"hello world");
    EXPECT_EQ(d.edit.SelectedText(), L"world");
    std::string copied;
    ASSERT_EQ(RunWhilePumping("xclip -o -selection clipboard", [] { return true; }, &copied), 0);
    EXPECT_EQ(copied, "world");

    // Japanese text with CR LF from another program replaces the selection
    // without its carriage returns.
    kvtest::TempDir dir("x11clip");
    std::ofstream(dir.file("clip.txt"), std::ios::binary) << "日本語\r\nテキスト";
    ASSERT_EQ(kvtest::RunCommand("xclip -i -selection clipboard < '" + dir.file("clip.txt") + "' >/dev/null 2>&1"), 0);
    ASSERT_EQ(RunWhilePumping(Find("korvane-x11-edit") + "xdotool key --delay 30 ctrl+v",
                              [&] { return d.edit.lineCount == 2; }),
              0);
    FgPumpMessages();
    EXPECT_EQ(Doc(d.edit), L"hello 日本語\nテキスト");
    d.Destroy();
}

TEST(FgX11Smoke, FileSelectionByTypingAndClicking) {
    if (!HaveX11()) GTEST_SKIP() << "needs an X display, xdotool and xclip";
    kvtest::TempDir dir("x11files");
    for (const char* name : {"a.png", "画像001.png", "データ.jpg"}) std::ofstream(dir.file(name)) << "x";
    const std::wstring root = PlatUtf8ToWide(dir.path().c_str());
    FgSelectFileOptions options;
    options.title = L"korvane-x11-files";
    options.startPath = root.c_str();
    options.extensions = L"png jpg";

    // A watchdog closes a screen that is still open after 30 seconds.
    static std::atomic<uint32_t> window{0};
    FgModalStartHook previous =
        FgSetModalStartHook([](CFgScreen* screen, void*) { window = screen->window; }, nullptr);
    auto select = [&](const std::string& actions, wchar_t* path) {
        std::atomic<bool> finished{false};
        std::atomic<int> status{-1};
        std::thread driver([&] {
            status = kvtest::RunCommand(Find("korvane-x11-files") + actions);
            for (int i = 0; i < 3000 && !finished; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (!finished && window) PlatPostMessage(window, kPlatMsgClose);
        });
        const int32_t chosen = FgSelectFile(path, 1024, &options, nullptr);
        finished = true;
        driver.join();
        EXPECT_EQ(status.load(), 0) << actions;
        return chosen;
    };
    // OK is at (16, 182, 226, 32); the file list's rows are 14 pixels from 17.
    wchar_t path[1024] = L"";
    EXPECT_EQ(select("xdotool type --delay 30 'picked.png' && sleep 0.3 && "
                     "xdotool mousemove --window $w --sync 129 198 click 1",
                     path),
              1);
    EXPECT_EQ(std::wstring(path), root + L"/picked.png");
    EXPECT_STREQ(g_LastFileDir, root.c_str());
    // The listing order puts 画像001.png (U+753B) after データ.jpg (U+30C7): row 2.
    EXPECT_EQ(select("xdotool mousemove --window $w --sync 300 52 click 1 && sleep 0.3 && "
                     "xdotool mousemove --window $w --sync 129 198 click 1",
                     path),
              1);
    EXPECT_EQ(std::wstring(path), root + L"/画像001.png");
    FgSetModalStartHook(previous, nullptr);
    g_LastFileDir[0] = 0;
}

TEST(FgX11Smoke, MenuBarSubmenuByMouseAndKeys) {
    if (!HaveX11() || !kvtest::HaveTool("xwininfo")) GTEST_SKIP() << "needs an X display, xdotool and xwininfo";
    class Dialog : public CFgUIDialog {
    public:
        CFgUIMenuBar bar;
        std::vector<int32_t> chosen;
        Dialog() {
            AddChild(&bar);
            bar.AddItem(L"File", L"Open\t1\nRecent\t{\nOne\t21\nTwo\t22\n}\nQuit\t3\n", nullptr, nullptr);
            bar.callback = [](CFgUIMenuBar*, void* data, int32_t, int32_t id) {
                static_cast<Dialog*>(data)->chosen.push_back(id);
            };
            bar.data = this;
        }
    } d;
    ASSERT_EQ(d.Create(40, 30, 300, 120, L"korvane-x11-menu", kFgStyleFixed, nullptr), 1);
    FgPumpMessages();
    static std::atomic<int> opened{0};
    FgModalStartHook previous = FgSetModalStartHook([](CFgScreen*, void*) { ++opened; }, nullptr);
    auto at = [](int32_t x, int32_t y) {
        return "xdotool mousemove --sync " + std::to_string(x) + " " + std::to_string(y) + " click 1";
    };
    // 14-pixel font: rows of 16. The root menu (7 columns: 53 x 50) opens below
    // the title; "Recent" (row 1) opens its submenu (25 x 34) at the root's
    // right edge less half a row, level with the row.
    const int32_t rootX = d.x + 8, rootY = d.y + 22;
    const int32_t subX = rootX + 53 - 8, subY = rootY + 2 + 16;
    std::string tree;
    ASSERT_EQ(RunWhilePumping(Find("korvane-x11-menu") + at(d.x + 20, d.y + 10) + " && sleep 0.4 && " +
                                  at(rootX + 10, rootY + 2 + 16 + 7) + " && sleep 0.4 && xwininfo -root -tree && " +
                                  "(import -window root '" + kvtest::ScreenshotDir() + "/menu-x11-screen.png' || true) && " +
                                  at(subX + 10, subY + 2 + 16 + 7),
                              [&] { return !d.chosen.empty(); }, &tree),
              0);
    EXPECT_EQ(d.chosen, std::vector<int32_t>{22});
    auto place = [](int32_t w, int32_t h, int32_t x, int32_t y) {
        return std::to_string(w) + "x" + std::to_string(h) + "+" + std::to_string(x) + "+" + std::to_string(y);
    };
    EXPECT_NE(tree.find(place(53, 50, rootX, rootY)), std::string::npos) << tree;
    EXPECT_NE(tree.find(place(25, 34, subX, subY)), std::string::npos) << tree;

    // Esc, and a click on the desktop outside every window, close the tree
    // without a choice.
    for (const std::string& dismiss : {std::string("xdotool key Escape"), at(600, 440)}) {
        SCOPED_TRACE(dismiss);
        const int before = opened;
        ASSERT_EQ(RunWhilePumping(Find("korvane-x11-menu") + at(d.x + 20, d.y + 10) + " && sleep 0.4 && " +
                                      at(rootX + 10, rootY + 2 + 16 + 7) + " && sleep 0.4 && " + dismiss,
                                  [&] { return opened > before && PlatGetCapture() == 0; }),
                  0);
        EXPECT_EQ(opened, before + 1);
        EXPECT_EQ(PlatGetCapture(), 0u);
    }
    EXPECT_EQ(d.chosen, std::vector<int32_t>{22});
    FgSetModalStartHook(previous, nullptr);
    d.Destroy();
}

}  // namespace
