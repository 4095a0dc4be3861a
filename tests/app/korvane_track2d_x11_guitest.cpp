// A user's whole 2D tracking session in the program under X, driven by
// xdotool: a numbered sequence opened from the command line, "2D hsv
// tracking" added from the Tool menu, a box drawn round a moving disc and its
// colour picked, AUTO TRACK to the end, the track file saved through SAVE and
// the table saved as CSV from the table window, both through the file
// selection screen. Python then reads the CSV with csv and the track file
// with struct against the disc's true path.
//
// Where to click comes from a twin of the program's main screen made in this
// process from the same code, fonts and files before the program starts.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "app/main_screen.h"
#include "filters/analysis/lf_track2d.h"
#include "filters/analysis/track_hsv.h"
#include "image/pool.h"
#include "media/frame_output.h"
#include "platform/utf8.h"
#include "support/testsupport.h"
#include "support/x11_program.h"
#include "toolkit/fg_file_select.h"
#include "toolkit/fg_loop.h"

namespace {

constexpr int32_t kW = 200, kH = 150, kFrames = 40;
constexpr double kX0 = 30, kY0 = 40, kVx = 3.1, kVy = 1.7, kR = 7;

// A red disc on a slightly textured grey ground, on a straight sub-pixel path.
void DiscFrame(int32_t t, CImgBuff* out) {
    out->buffer->Create(kW, kH, kImgRgb8);
    const double cx = kX0 + kVx * t, cy = kY0 + kVy * t;
    for (int32_t y = 0; y < kH; ++y)
        for (int32_t x = 0; x < kW; ++x) {
            const uint8_t g = static_cast<uint8_t>(100 + (x * 7 + y * 13 + t) % 9);
            const bool in = (x - cx) * (x - cx) + (y - cy) * (y - cy) <= kR * kR;
            out->SetPixelRgb8(x, y, in ? 230 : g, in ? 30 : g, in ? 30 : g);
        }
}

// Where a user clicks, in each window's own pixels.
struct Point {
    int32_t x = 0, y = 0;
    std::string Args() const { return std::to_string(x) + " " + std::to_string(y); }
};
Point Centre(const CFgUIObj& c) { return {c.x + c.width / 2, c.y + c.height / 2}; }
// A check button is clicked on its box, at its left end.
Point Box(const CFgUIObj& c) { return {c.x + c.height / 2, c.y + c.height / 2}; }

struct Plan {
    bool japanese = false;
    Point toolTitle;
    int32_t toolRow = -1;  // the tracker's row in the Tool menu
    Point boxFrom, boxTo, disc;  // over the picture, scene 1
    std::wstring panelTitle;
    Point colorSet, trackTab, autoButton, saveButton, dataButton;
    Point tableFileTitle;
    std::wstring tableTitle;
    Point fileOk;
    int32_t yDirection = 1;
};

// The main window's pixel that shows image pixel (ix, iy).
bool PictureAt(const CMainScreen& screen, int32_t ix, int32_t iy, Point* out) {
    const FgBarRect& f = screen.picture.fit;
    for (int32_t y = f.y0; y <= f.y1; ++y)
        for (int32_t x = f.x0; x <= f.x1; ++x) {
            int32_t px = x, py = y;
            if (screen.picture.ControlToImage(&px, &py) && px == ix && py == iy) {
                // The middle of the screen pixels that show it.
                int32_t x1 = x, y1 = y;
                for (;;) {
                    int32_t qx = x1 + 1, qy = y;
                    if (x1 + 1 > f.x1 || !screen.picture.ControlToImage(&qx, &qy) || qx != ix) break;
                    ++x1;
                }
                for (;;) {
                    int32_t qx = x, qy = y1 + 1;
                    if (y1 + 1 > f.y1 || !screen.picture.ControlToImage(&qx, &qy) || qy != iy) break;
                    ++y1;
                }
                *out = {(x + x1) / 2, (y + y1) / 2};
                return true;
            }
        }
    return false;
}

// The same session's layout, made by the program's own code in this process.
bool MakePlan(const std::string& first, const std::string& last, const std::string& config, Plan* plan) {
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    PoolStart();
    bool ok = false;
    {
        CMainScreen screen;
        if (!screen.Create(-1, -1, 640, 500, L"korvane twin", kFgStyleResizable, nullptr)) {
            PoolStop();
            return false;
        }
        screen.Layout();
        screen.OpenSequenceFiles(PlatUtf8ToWide(first.c_str()).c_str(), PlatUtf8ToWide(last.c_str()).c_str());
        FgPumpMessages();
        plan->japanese = screen.Japanese();
        // The Tool title and the tracker's row in its menu.
        const wchar_t* tool = plan->japanese ? L"ツール" : L"Tool";
        int32_t item = -1;
        for (int32_t i = 0; i < screen.menuBar.ItemCount(); ++i)
            if (screen.menuBar.items[static_cast<size_t>(i)].label == tool) item = i;
        if (item >= 0) {
            const FgMenuBarItem& bar = screen.menuBar.items[static_cast<size_t>(item)];
            plan->toolTitle = {screen.menuBar.x + 8 + (bar.x0 + bar.x1) / 2,
                               screen.menuBar.y + screen.menuBar.barHeight / 2};
            int32_t row = 0;
            for (size_t at = 0; at < bar.menuText.size();) {
                const size_t end = bar.menuText.find(L'\n', at);
                const std::wstring line = bar.menuText.substr(at, end - at);
                if (line.size() > 6 && line.compare(line.size() - 6, 6, L"\t10021") == 0) plan->toolRow = row;
                ++row;
                at = end == std::wstring::npos ? bar.menuText.size() : end + 1;
            }
            // The command the row gives.
            screen.menuBar.callback(&screen.menuBar, screen.menuBar.data, item, 10021);
        }
        FgPumpMessages();
        auto* track = dynamic_cast<CLfTrack2d*>(screen.SelectedFilter());
        const int32_t cx = static_cast<int32_t>(std::lround(kX0)), cy = static_cast<int32_t>(std::lround(kY0));
        if (track && track->window && plan->toolRow >= 0 && PictureAt(screen, cx - 12, cy - 12, &plan->boxFrom) &&
            PictureAt(screen, cx + 12, cy + 12, &plan->boxTo) && PictureAt(screen, cx, cy, &plan->disc)) {
            plan->panelTitle = track->title;
            auto* hsv = static_cast<CPanelHSV*>(track->panels[0]);
            plan->colorSet = Box(hsv->colorSet);
            const FgTabRecord& tab = track->tabs.tabs[CLfTrack2d::kTabTrack];
            plan->trackTab = {track->tabs.x + (tab.x0 + tab.x1) / 2, track->tabs.y + (tab.y0 + tab.y1) / 2};
            plan->saveButton = Centre(track->saveButton);
            plan->dataButton = Centre(track->dataButton);
            track->tabs.SelectTab(CLfTrack2d::kTabTrack, 0);
            plan->autoButton = Centre(track->autoButton);
            plan->yDirection = track->calibAxisY;
            track->ShowTable();
            CCsvViewer& table = track->tableWindow;
            if (table.window && table.menuBar.ItemCount() > 0) {
                plan->tableTitle = table.title;
                const FgMenuBarItem& file = table.menuBar.items[0];
                plan->tableFileTitle = {table.menuBar.x + 8 + (file.x0 + file.x1) / 2,
                                        table.menuBar.y + table.menuBar.barHeight / 2};
                ok = true;
            }
        }
        CFgFileSelectScreen files;
        plan->fileOk = Centre(files.okButton);
    }
    PoolStop();
    return ok;
}

TEST(KorvaneX11Track2d, TracksADiscFromTheToolMenuAndSavesTrackFileAndCsv) {
    const char* driver = std::getenv("SDL_VIDEODRIVER");
    if (!std::getenv("DISPLAY") || !driver || std::string(driver) != "x11" || !kvtest::HaveTool("xdotool") ||
        !kvtest::HaveTool("import") || kvtest::DebianPython().empty())
        GTEST_SKIP() << "needs X (SDL on x11), xdotool, ImageMagick and Python";
    kvtest::TempDir dir("korvane_x11_track2d");
    CImgBuff frame;
    auto name = [&](int32_t t) {
        char file[32];
        std::snprintf(file, sizeof file, "disc_%03d.bmp", t + 1);
        return dir.file(file);
    };
    for (int32_t t = 0; t < kFrames; ++t) {
        DiscFrame(t, &frame);
        ASSERT_TRUE(SaveImageFile(&frame, PlatUtf8ToWide(name(t).c_str()).c_str(), nullptr, nullptr));
    }
    Plan plan;
    ASSERT_TRUE(MakePlan(name(0), name(kFrames - 1), dir.path() + "/twin-config", &plan));

    const std::string out = dir.path() + "/out";
    ASSERT_EQ(kvtest::RunCommand("mkdir -p '" + out + "'"), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setenv("SDL_VIDEODRIVER", "x11", 1);
        setenv("XDG_CONFIG_HOME", (dir.path() + "/config").c_str(), 1);
        // The file selection starts in Documents while no file was chosen yet.
        setenv("XDG_DOCUMENTS_DIR", out.c_str(), 1);
        const std::string first = name(0), last = name(kFrames - 1);
        execl(kvx11::Program().c_str(), "korvane", first.c_str(), last.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // Ends the program whatever happens below.
    struct Reaper {
        pid_t pid;
        ~Reaper() {
            if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
        }
    } reaper{pid};
    const std::string main = kvx11::FindWindow(pid, "korvane 1.11.0");
    ASSERT_FALSE(main.empty()) << "no main window";
    std::string title;
    for (int i = 0; i < 50 && title.find("disc_001") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        kvtest::RunCommand("xdotool getwindowname " + main, &title);
    }
    ASSERT_NE(title.find("disc_001"), std::string::npos) << title;
    // Each step is given 30 seconds: xdotool waits for moves that may not come.
    auto run = [](const std::string& command) {
        std::string quoted = "'";
        for (char c : command) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        std::string text;
        const int status = kvtest::RunCommand("timeout 30 sh -c " + quoted + "' 2>&1", &text);
        EXPECT_EQ(status, 0) << command << "\n" << text;
        return status == 0;
    };
    auto shot = [&](const std::string& name) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        kvtest::RunCommand("import -window root '" + kvtest::ScreenshotDir() + "/korvane-x11-track2d-" + name + ".png'");
    };
    auto at = [](const std::string& window, const Point& p) {
        return "xdotool mousemove --window " + window + " --sync " + p.Args();
    };
    auto utf8 = [](const std::wstring& w) { return PlatWideToUtf8(w.c_str()); };
    const bool jp = plan.japanese;
    // Answers the "saved" box with its focused OK button.
    auto confirmSaved = [&] {
        const std::string box = kvx11::FindWindow(pid, jp ? "確認" : "confirmation", 10);
        if (box.empty()) return false;
        shot("saved");
        return run("xdotool windowfocus --sync " + box + " key space");
    };

    // A menu opened at its title and its row chosen by the keys; the window
    // the command opens, or empty. A menu the keys missed is closed and
    // opened again.
    auto choose = [&](const std::string& window, const Point& menuTitle, int32_t row, const std::string& opens) {
        std::string keys;
        for (int32_t i = 0; i <= row; ++i) keys += " Down";
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (!run("xdotool windowfocus --sync " + window + " && " + at(window, menuTitle) +
                     " click 1 && sleep 0.5 && xdotool key --delay 60" + keys + " space"))
                break;
            const std::string opened = kvx11::FindWindow(pid, opens, 15);
            if (!opened.empty()) return opened;
            run("xdotool key Escape");
        }
        return std::string();
    };

    // Tool > 2D hsv tracking.
    const std::string panel = choose(main, plan.toolTitle, plan.toolRow, utf8(plan.panelTitle));
    ASSERT_FALSE(panel.empty()) << "no tracker panel";
    // The panel opens over the picture: moved aside as a user would.
    ASSERT_TRUE(run("xdotool windowmove --sync " + panel + " 0 0"));
    shot("panel");

    // A box dragged round the disc, then "color set" and a click on the disc.
    ASSERT_TRUE(run(at(main, plan.boxFrom) + " mousedown 1 && sleep 0.1 && " +
                    at(main, Point{(plan.boxFrom.x + plan.boxTo.x) / 2, (plan.boxFrom.y + plan.boxTo.y) / 2}) +
                    " && sleep 0.1 && " + at(main, plan.boxTo) + " && sleep 0.1 && xdotool mouseup 1"));
    ASSERT_TRUE(run("sleep 0.3 && " + at(panel, plan.colorSet) + " click 1 && sleep 0.3 && " + at(main, plan.disc) +
                    " click 1"));
    shot("target");

    // AUTO TRACK on the second tab; the run has ended once SAVE opens the
    // file selection (the panel takes no input while it runs).
    ASSERT_TRUE(run(at(panel, plan.trackTab) + " click 1 && sleep 0.3 && " + at(panel, plan.autoButton) + " click 1"));
    std::string saveScreen;
    for (int i = 0; i < 20 && saveScreen.empty(); ++i) {
        ASSERT_TRUE(run("sleep 0.5 && " + at(panel, plan.saveButton) + " click 1"));
        saveScreen = kvx11::FindWindow(pid, jp ? "保存するファイル名を選択" : "select file name to save", 2);
    }
    ASSERT_FALSE(saveScreen.empty()) << "SAVE opened no file selection";
    shot("tracked");
    // The name offered is temp.p2d in Documents.
    ASSERT_TRUE(run(at(saveScreen, plan.fileOk) + " click 1"));
    ASSERT_TRUE(confirmSaved());

    // DATA opens the table; its File > Save CSV, named by typing.
    ASSERT_TRUE(run(at(panel, plan.dataButton) + " click 1"));
    const std::string table = kvx11::FindWindow(pid, utf8(plan.tableTitle), 10);
    ASSERT_FALSE(table.empty()) << "DATA opened no table";
    shot("table");
    const std::string csvScreen = choose(table, plan.tableFileTitle, 0, "ファイル選択");
    ASSERT_FALSE(csvScreen.empty()) << "Save CSV opened no file selection";
    ASSERT_TRUE(run("xdotool windowfocus --sync " + csvScreen + " && xdotool type --delay 30 'track.csv' && sleep 0.3 && " +
                    at(csvScreen, plan.fileOk) + " click 1"));
    ASSERT_TRUE(confirmSaved());

    ASSERT_TRUE(kvx11::SendDeleteWindow(std::strtoul(main.c_str(), nullptr, 10)));
    EXPECT_EQ(kvx11::WaitForExit(pid, 15), 0) << "the program did not end after its window was closed";
    reaper.pid = 0;

    // The disc's true path against both files.
    std::string result;
    ASSERT_EQ(kvtest::RunPython(
                  "import csv, struct, sys\n"
                  "n, x0, y0, vx, vy, h, down = int(sys.argv[3]), *map(float, sys.argv[4:9]), int(sys.argv[9])\n"
                  "def true(f):\n"
                  "    y = y0 + vy * f\n"
                  "    return x0 + vx * f, y if down == 1 else h - 1 - y\n"
                  "rows = list(csv.reader(open(sys.argv[1], encoding='utf-8', newline='')))\n"
                  "worst = max(max(abs(float(r[1]) - true(int(r[0]) - 1)[0]), abs(float(r[2]) - true(int(r[0]) - 1)[1]))\n"
                  "            for r in rows[2:])\n"
                  "print('csv', len(rows) - 2, sorted(set(len(r) for r in rows)), rows[1][1:], worst < 0.25)\n"
                  "data = open(sys.argv[2], 'rb').read()\n"
                  "magic, mark, version, columns, frames = struct.unpack_from('<4sHHII', data, 0)\n"
                  "scale, direction, unit = struct.unpack_from('<di12s', data, 16)\n"
                  "points = [struct.unpack_from('<dd', data, 40 + 16 * i) for i in range(columns * frames)]\n"
                  "worst = max(max(abs(p[0] - (x0 + vx * f)), abs(p[1] - (y0 + vy * f))) for f, p in enumerate(points))\n"
                  "print('p2d', magic, hex(mark), version, columns, frames, len(data) == 40 + 16 * columns * frames,\n"
                  "      scale, direction, worst < 0.25)\n",
                  {out + "/track.csv", out + "/temp.p2d", std::to_string(kFrames), std::to_string(kX0),
                   std::to_string(kY0), std::to_string(kVx), std::to_string(kVy), std::to_string(kH),
                   std::to_string(plan.yDirection)},
                  &result),
              0);
    EXPECT_EQ(result, "csv " + std::to_string(kFrames) + " [3] ['X', 'Y'] True\np2d b'P2D\\x00' 0x484c 1 1 " +
                          std::to_string(kFrames) + " True 1.0 " + std::to_string(plan.yDirection) + " True\n");
}

}  // namespace
