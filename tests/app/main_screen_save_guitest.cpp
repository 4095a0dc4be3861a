// Saving the result and every scene, checked with identify, ffprobe and
// tiffinfo on the files written; the questions answered through the
// modal-start hook; guides and the selected area; failed saves and the
// refusal to overwrite the open movie.
#include <gtest/gtest.h>

#include <GL/gl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/main_screen.h"
#include "app/support/main_screen_fixture.h"
#include "media/support/prompt_script.h"
#include "platform/atomic_save.h"
#include "support/testsupport.h"
#include "toolkit/fg_file_select.h"
#include "toolkit/fg_msgbox.h"
#include "toolkit/fg_progress_box.h"
#include "toolkit/support/file_select_answer.h"
#include "platform/plat_messages.h"

namespace {

using namespace kvapptest;
using kvmedia::Box;
using kvmedia::Choose;
namespace fs = std::filesystem;

std::string Shell(const std::string& command) {
    std::string out;
    EXPECT_EQ(kvtest::RunCommand(command, &out), 0) << command;
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

// Sets the processed region and draws a filled square in the top-left
// corner of the image as its overlay.
class RegionFilter : public CImgFilter {
public:
    int64_t rx = 0, ry = 0, rw = 0, rh = 0;
    const wchar_t* GetName(const wchar_t*) override { return L"Region"; }
    int32_t Filter(CImgBuff*, uint64_t, int64_t* x, int64_t* y, int64_t* w, int64_t* h, uint32_t*, uint32_t*,
                   uint32_t*, uint32_t*) override {
        if (rw > 0) *x = rx, *y = ry, *w = rw, *h = rh;
        return 1;
    }
    void OnOverlayView(OverlayToGlFn toGlX, OverlayToGlFn toGlY, CFgScreen*, CFgFont*, int32_t dx0, int32_t dy0,
                       int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) override {
        glColor3d(0, 1, 0);
        glBegin(GL_QUADS);
        glVertex2d(toGlX(dx0), toGlY(dy0));
        glVertex2d(toGlX(dx0 + 8), toGlY(dy0));
        glVertex2d(toGlX(dx0 + 8), toGlY(dy0 + 6));
        glVertex2d(toGlX(dx0), toGlY(dy0 + 6));
        glEnd();
    }
};

class SaveTest : public MainScreenTest {
protected:
    std::string Out(const std::string& name) const { return fx.dir().file(name); }
    void ExpectUnlocked() { EXPECT_EQ(screen->busyCount, 0u); }
};

TEST_F(SaveTest, ImageOfAStillAndOfAMovieFrame) {
    screen->SetLanguage(L"en");
    screen->OpenFile(W(fx.Solid("still.png", 33, 21, 250, 10, 20)).c_str());
    const std::string png = Out("result.png");
    {
        kvmedia::PromptScript script({Choose(W(png)), Box(L"saved", L"confirmation", 1)});
        screen->MenuCommand(g_FileMenuItem, 1);
    }
    ExpectUnlocked();
    EXPECT_EQ(Shell("identify -format '%w %h %z %[channels]' '" + png + "'"), "33 21 8 srgb");
    ASSERT_TRUE(screen->lastSavePath);
    EXPECT_EQ(std::wstring(screen->lastSavePath), W(png));
    // Overwriting asks first; "no" changes nothing and says nothing more.
    const std::string before = kvtest::ReadFileBytes(png);
    {
        kvmedia::PromptScript script(
            {Choose(W(png)), Box(L"Do you want to overwrite it?", L"confirmation", 2, 1)});
        screen->SaveImage();
    }
    EXPECT_EQ(kvtest::ReadFileBytes(png), before);
    // A failed write leaves the old file and no temporary.
    screen->MenuCommand(g_ConfigMenuItem, 255);
    const AtomicSaveHook previous = AtomicSaveSetTestHook([](const char*, void*) { return 0; }, nullptr);
    {
        kvmedia::PromptScript script({Choose(W(png)), Box(L"Do you want to overwrite it?", L"confirmation", 2, 0),
                                      Box(L"saving failed (write)", L"error", 1)});
        screen->SaveImage();
    }
    AtomicSaveSetTestHook(previous, nullptr);
    ExpectUnlocked();
    EXPECT_EQ(kvtest::ReadFileBytes(png), before);
    for (const auto& entry : fs::directory_iterator(fx.dir().path()))
        EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();

    // A movie's frame: saved, but the remembered save folder stays.
    const std::vector<std::string> seq = fx.Sequence("m", 3);
    screen->OpenSequenceFiles(W(seq[0]).c_str(), W(seq[2]).c_str());
    delete[] screen->lastSavePath;
    screen->lastSavePath = nullptr;
    const std::string jpg = Out("frame.jpg");
    {
        kvmedia::PromptScript script({Choose(W(jpg)), Box(L"saved", L"confirmation", 1)});
        screen->SaveImage();
    }
    EXPECT_EQ(Shell("identify -format '%w %h %m' '" + jpg + "'"), "64 48 JPEG");
    EXPECT_EQ(screen->lastSavePath, nullptr);
}

TEST_F(SaveTest, DepthQuestionBeforeJpegOfADeepResult) {
    screen->SetLanguage(L"en");
    const std::string deep = Out("deep-source.png");
    ASSERT_EQ(kvtest::RunCommand("convert -size 16x12 gradient:'#012345678901'-'#fedcba987654' "
                                 "-depth 16 -define png:color-type=2 '" + deep + "'"),
              0);
    screen->OpenFile(W(deep).c_str());
    ASSERT_EQ(screen->resultImage.buffer->format, kImgRgb16);
    const wchar_t* question =
        L"The number of bits that can be handled by the file is insufficient.\nIt will deteriorate at the time of "
        L"storage. Are you sure?";
    const std::string jpg = Out("deep.jpg");
    {
        kvmedia::PromptScript script({Choose(W(jpg)), Box(question, L"confirmation", 2, 1)});
        screen->SaveImage();
    }
    ExpectUnlocked();
    EXPECT_FALSE(fs::exists(jpg));
    {
        kvmedia::PromptScript script({Choose(W(jpg)), Box(question, L"confirmation", 2, 0),
                                      Box(L"saved", L"confirmation", 1)});
        screen->SaveImage();
    }
    EXPECT_EQ(Shell("identify -format '%w %h %z' '" + jpg + "'"), "16 12 8");
    // PNG holds 16 bits: nothing is asked.
    const std::string png = Out("deep16.png");
    {
        kvmedia::PromptScript script({Choose(W(png)), Box(L"saved", L"confirmation", 1)});
        screen->SaveImage();
    }
    EXPECT_EQ(Shell("identify -format '%z' '" + png + "'"), "16");
}

TEST_F(SaveTest, ScenesAsMovieSequenceAndMultiPage) {
    if (kvtest::RunCommand("which ffprobe tiffinfo > /dev/null") != 0) GTEST_SKIP() << "no ffprobe or tiffinfo";
    screen->SetLanguage(L"en");
    const std::vector<std::string> seq = fx.Sequence("odd", 3, 641, 480);
    screen->OpenSequenceFiles(W(seq[0]).c_str(), W(seq[2]).c_str());
    ASSERT_EQ(screen->sceneBar.sceneCount, 3u);
    // MP4: odd sizes made even.
    const std::string mp4 = Out("scenes.MP4");
    {
        kvmedia::PromptScript script({Choose(W(mp4)), Box(L"saved", L"confirmation", 1)});
        screen->SaveScenes(0, 33);
    }
    ExpectUnlocked();
    EXPECT_EQ(Shell("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                  "stream=width,height,nb_read_frames -of csv=p=0 '" + mp4 + "'"),
              "640,480,3");
    EXPECT_EQ(std::wstring(screen->lastSavePath), W(mp4));
    EXPECT_EQ(screen->sceneBar.position, 2u);  // the run ends on the last scene
    // AVI at the scene bar's interval, from the menu.
    screen->sceneBar.msPerScene = 33;
    const std::string avi = Out("scenes.avi");
    {
        kvmedia::PromptScript script({Choose(W(avi)), Box(L"saved", L"confirmation", 1)});
        screen->MenuCommand(g_FileMenuItem, 5);
    }
    EXPECT_EQ(Shell("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                  "stream=width,height,nb_read_frames -of csv=p=0 '" + avi + "'"),
              "641,480,3");
    // The main header's microseconds per frame (the stream rate is whole frames a second).
    const std::string bytes = kvtest::ReadFileBytes(avi);
    ASSERT_GT(bytes.size(), 36u);
    EXPECT_EQ(bytes.substr(24, 4), "avih");
    const uint8_t* us = reinterpret_cast<const uint8_t*>(bytes.data() + 32);
    EXPECT_EQ(us[0] | us[1] << 8 | us[2] << 16 | us[3] << 24, 33000);
    // Multi-page TIFF.
    const std::string tif = Out("pages.tif");
    {
        kvmedia::PromptScript script({Choose(W(tif)), Box(L"saved", L"confirmation", 1)});
        screen->MenuCommand(g_FileMenuItem, 4);
    }
    EXPECT_EQ(Shell("tiffinfo '" + tif + "' 2>/dev/null | grep -c 'TIFF Directory'"), "3");
    // Numbered files.
    const std::string first = Out("num_001.png");
    {
        kvmedia::PromptScript script({Choose(W(first)), Box(L"saved", L"confirmation", 1)});
        screen->MenuCommand(g_FileMenuItem, 3);
    }
    for (const char* name : {"num_001.png", "num_002.png", "num_003.png"})
        EXPECT_EQ(Shell("identify -format '%w %h' '" + Out(name) + "'"), "641 480") << name;
    ExpectUnlocked();
}

// Every scene save writes each scene's own frame, whether the scene bar is
// shown or hidden (View > Video panel): lossless outputs equal their source
// frames pixel for pixel (ImageMagick's compare), the MJPEG AVI's frames
// (decoded by ffmpeg) keep each frame's own red level, the ozt movie read
// back through its module equals the frames as opened.
TEST_F(SaveTest, EveryScenesOwnFrameWithTheBarShownOrHidden) {
    if (kvtest::RunCommand("which ffmpeg compare > /dev/null") != 0) GTEST_SKIP() << "no ffmpeg or compare";
    screen->SetLanguage(L"en");
    const int n = 4;
    const std::vector<std::string> seq = fx.Sequence("src", n);
    auto bytes = [](const CImgBuff& image) {
        const C_ImgBuff* b = image.buffer;
        return std::string(reinterpret_cast<const char*>(b->pixels),
                           static_cast<size_t>(b->width) * b->height * b->BytesPerPixel());
    };
    auto same = [](const std::string& a, const std::string& b) {
        return Shell("compare -metric AE '" + a + "' '" + b + "' null: 2>&1 || true") == "0";
    };
    struct Format {
        const char* name;
        int32_t command;  // of the File menu
        const char* file;
    };
    const Format formats[] = {
        {"numbered files", 3, "num_001.png"},
        {"multi-page TIFF", 4, "pages.tif"},
        {"AVI", 5, "movie.avi"},
        {"ozt movie", 5, "movie.ozt"},
    };
    for (const bool shown : {true, false}) {
        for (const Format& f : formats) {
            SCOPED_TRACE(std::string(f.name) + (shown ? ", bar shown" : ", bar hidden"));
            const std::string dir = Out(std::string(shown ? "shown_" : "hidden_") + std::to_string(&f - formats));
            fs::create_directories(dir);
            const std::string target = dir + "/" + f.file;
            screen->OpenSequenceFiles(W(seq[0]).c_str(), W(seq[n - 1]).c_str());
            ASSERT_EQ(screen->sceneBar.sceneCount, static_cast<uint64_t>(n));
            std::vector<std::string> opened;
            for (int k = 0; k < n; ++k) {
                ASSERT_EQ(screen->SeekScene(k), 1);
                opened.push_back(bytes(screen->sourceImage));
            }
            ASSERT_EQ(screen->SeekScene(1), 1);  // the current scene is not the first
            if (!shown) screen->MenuCommand(g_ViewMenuItem, 101);
            ASSERT_EQ(screen->sceneBarShown, shown ? 1u : 0u);
            screen->sceneBar.msPerScene = 40;
            {
                kvmedia::PromptScript script({Choose(W(target)), Box(L"saved", L"confirmation", 1)});
                screen->MenuCommand(g_FileMenuItem, f.command);
            }
            ExpectUnlocked();
            if (f.command == 3) {
                for (int k = 0; k < n; ++k) {
                    char name[32];
                    std::snprintf(name, sizeof name, "/num_%03d.png", k + 1);
                    EXPECT_TRUE(same(seq[k], dir + name)) << k;
                }
            } else if (f.command == 4) {
                EXPECT_EQ(Shell("identify '" + target + "' | wc -l"), std::to_string(n));
                for (int k = 0; k < n; ++k) EXPECT_TRUE(same(seq[k], target + "[" + std::to_string(k) + "]")) << k;
            } else if (std::string(f.file).find("avi") != std::string::npos) {
                ASSERT_EQ(kvtest::RunCommand("ffmpeg -v error -i '" + target + "' '" + dir + "/f_%03d.png'"), 0);
                for (int k = 0; k < n; ++k) {
                    char name[32];
                    std::snprintf(name, sizeof name, "/f_%03d.png", k + 1);
                    const std::string red =
                        Shell("convert '" + dir + name + "' -format '%[fx:int(255*p{40,30}.r+0.5)]' info:");
                    EXPECT_NEAR(std::atoi(red.c_str()), 20 * (k + 1), 4) << k;
                }
                EXPECT_FALSE(fs::exists(dir + "/f_005.png"));
            } else {
                screen->OpenFile(W(target).c_str());
                ASSERT_NE(screen->moduleStream, nullptr);
                ASSERT_EQ(screen->sceneBar.sceneCount, static_cast<uint64_t>(n));
                for (int k = 0; k < n; ++k) {
                    ASSERT_EQ(screen->SeekScene(k), 1);
                    EXPECT_EQ(bytes(screen->sourceImage), opened[k]) << k;
                }
            }
            if (!screen->sceneBarShown) screen->MenuCommand(g_ViewMenuItem, 101);
        }
    }
}

TEST_F(SaveTest, RefusalsAndNoticesReleaseTheLock) {
    screen->SetLanguage(L"en");
    {
        kvmedia::PromptScript script({Box(L"there is no image", L"confirmation", 1)});
        screen->SaveScenes(0, 33);
    }
    ExpectUnlocked();
    {
        kvmedia::PromptScript script({Box(L"there is no image", L"confirmation", 1)});
        screen->SaveImage();
    }
    screen->OpenFile(W(fx.Solid("one.png", 8, 8, 1, 2, 3)).c_str());
    {
        kvmedia::PromptScript script({Box(L"there is no video", L"confirmation", 1)});
        screen->SaveScenes(1, 0);
    }
    ExpectUnlocked();
    // The open movie cannot be overwritten, also through a link to it.
    const std::string movie = Out("open.avi");
    ASSERT_EQ(kvtest::RunCommand("ffmpeg -v error -y -f lavfi -i testsrc=size=32x24:rate=30 -frames:v 4 -c:v mjpeg '" +
                                 movie + "'"),
              0);
    const std::string link = Out("link.avi");
    ASSERT_EQ(symlink(movie.c_str(), link.c_str()), 0);
    screen->OpenFile(W(movie).c_str());
    ASSERT_EQ(screen->sceneBar.sceneCount, 4u);
    const std::string before = kvtest::ReadFileBytes(movie);
    for (const std::string& target : {movie, link}) {
        kvmedia::PromptScript script({Choose(W(target)), Box(L"Videos cannot overwrite themselves", L"confirmation", 1)});
        screen->SaveScenes(0, 33);
    }
    ExpectUnlocked();
    EXPECT_EQ(kvtest::ReadFileBytes(movie), before);
    // Cancelling the selection ends quietly.
    {
        kvmedia::PromptScript script({Choose(L"")});
        screen->SaveScenes(0, 0);
    }
    ExpectUnlocked();
}

// A numbered run is checked whole before its first file is written: names
// that include a file of the open sequence are refused, and other existing
// files are replaced only after one question that counts them.
TEST_F(SaveTest, NumberedRunOverTheOpenSequenceIsRefusedAndOthersAskOnce) {
    screen->SetLanguage(L"en");
    const std::vector<std::string> seq = fx.Sequence("ov", 6);
    std::vector<std::string> before;
    for (const std::string& p : seq) before.push_back(kvtest::ReadFileBytes(p));
    screen->OpenSequenceFiles(W(seq[0]).c_str(), W(seq[5]).c_str());
    AddProbe()->invert = true;
    // The typed name itself, a later file of the sequence, and a name before
    // the first whose run reaches into it.
    for (const char* name : {"ov_001.png", "ov_002.png", "ov_000.png"}) {
        SCOPED_TRACE(name);
        kvmedia::PromptScript script(
            {Choose(W(Out(name))), Box(L"Videos cannot overwrite themselves", L"confirmation", 1)});
        screen->MenuCommand(g_FileMenuItem, 3);
    }
    ExpectUnlocked();
    for (size_t k = 0; k < seq.size(); ++k) EXPECT_EQ(kvtest::ReadFileBytes(seq[k]), before[k]) << seq[k];
    EXPECT_FALSE(fs::exists(Out("ov_000.png")));

    // Two of the six files of another run exist: "no" leaves both and
    // writes nothing, "yes" replaces them with the run.
    const std::string dir = Out("other");
    fs::create_directories(dir);
    const std::string old2 = fx.Solid("other/out_002.png", 5, 5, 1, 2, 3);
    const std::string old4 = fx.Solid("other/out_004.png", 5, 5, 4, 5, 6);
    const std::string bytes2 = kvtest::ReadFileBytes(old2), bytes4 = kvtest::ReadFileBytes(old4);
    const wchar_t* question = L"2 files already exist. Do you want to overwrite them?";
    {
        kvmedia::PromptScript script({Choose(W(dir + "/out_001.png")), Box(question, L"confirmation", 2, 1)});
        screen->MenuCommand(g_FileMenuItem, 3);
    }
    EXPECT_EQ(kvtest::ReadFileBytes(old2), bytes2);
    EXPECT_EQ(kvtest::ReadFileBytes(old4), bytes4);
    EXPECT_FALSE(fs::exists(dir + "/out_001.png"));
    {
        kvmedia::PromptScript script({Choose(W(dir + "/out_001.png")), Box(question, L"confirmation", 2, 0),
                                      Box(L"saved", L"confirmation", 1)});
        screen->MenuCommand(g_FileMenuItem, 3);
    }
    ExpectUnlocked();
    for (int k = 1; k <= 6; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "/out_%03d.png", k);
        // Frame k inverted: red 255 - 20 k.
        EXPECT_EQ(Shell("convert '" + dir + name + "' -format '%[fx:int(255*p{40,30}.r+0.5)]' info:"),
                  std::to_string(255 - 20 * k))
            << name;
    }
}

TEST_F(SaveTest, GuidesAndSelectedArea) {
    screen->SetLanguage(L"en");
    const std::vector<std::string> seq = fx.Sequence("g", 2, 64, 48);
    screen->OpenSequenceFiles(W(seq[0]).c_str(), W(seq[1]).c_str());
    auto* region = new RegionFilter;
    ASSERT_EQ(screen->AddFilterToChain(region, 1), 1);
    screen->saveSettings.saveWithGuide = 1;
    const std::string png = Out("guide.png");
    {
        kvmedia::PromptScript script({Choose(W(png)), Box(L"saved", L"confirmation", 1)});
        screen->SaveImage();
    }
    ASSERT_EQ(Shell("identify -format '%w %h' '" + png + "'"), "64 48");
    // The overlay's square is in the top-left corner, not the bottom-left.
    EXPECT_EQ(Shell("convert '" + png + "' -format '%[pixel:p{2,2}]' info:"), "srgb(0,255,0)");
    EXPECT_NE(Shell("convert '" + png + "' -format '%[pixel:p{2,45}]' info:"), "srgb(0,255,0)");
    // With guides every scene is written as 8-bit RGB.
    const std::string tif = Out("guides.tif");
    {
        kvmedia::PromptScript script({Choose(W(tif)), Box(L"saved", L"confirmation", 1)});
        screen->SaveScenes(0, 0);
    }
    EXPECT_EQ(Shell("identify -format '%z ' '" + tif + "'"), "8 8");
    // Only the selected area.
    screen->saveSettings.saveWithGuide = 0;
    screen->saveSettings.saveSelectedArea = 1;
    region->rx = 10, region->ry = 5, region->rw = 20, region->rh = 12;
    screen->RunFilterChain(0);
    const std::string area = Out("area.png");
    {
        kvmedia::PromptScript script({Choose(W(area)), Box(L"saved", L"confirmation", 1)});
        screen->SaveImage();
    }
    EXPECT_EQ(Shell("identify -format '%w %h' '" + area + "'"), "20 12");
    ExpectUnlocked();
}

// Records, when the "saved" notice opens, which dialogs the busy lock holds.
struct LockProbe {
    CMainScreen* screen;
    std::vector<uint32_t> enabled;
    static void Hook(CFgScreen* modal, void* user) {
        auto* self = static_cast<LockProbe*>(user);
        if (auto* files = dynamic_cast<CFgFileSelectScreen*>(modal)) {
            files->nameField.SetLineText(0, self->path.c_str());
            PlatPostTestClick(files->window, files->okButton.x + 2, files->okButton.y + 2);
        } else if (auto* box = dynamic_cast<CMsgboxScreen*>(modal)) {
            CMainScreen& s = *self->screen;
            self->enabled = {s.CFgUICtrl::enabled, s.calibration.CFgUICtrl::enabled, s.playEdit.CFgUICtrl::enabled,
                             s.saveSettings.CFgUICtrl::enabled, s.composite.CFgUICtrl::enabled};
            PlatPostTestClick(box->window, box->buttons[0].x + 2, box->buttons[0].y + 2);
        }
    }
    std::wstring path;
};

TEST_F(SaveTest, DialogsAreLockedDuringASaveButTheCompositeIsNot) {
    screen->OpenFile(W(fx.Solid("lock.png", 8, 8, 1, 2, 3)).c_str());
    screen->calibration.Show(screen.get());
    screen->composite.Show(screen.get());
    LockProbe probe{screen.get(), {}, W(Out("locked.png"))};
    const FgModalStartHook previous = FgSetModalStartHook(&LockProbe::Hook, &probe);
    screen->SaveImage();
    FgSetModalStartHook(previous, nullptr);
    EXPECT_EQ(probe.enabled, (std::vector<uint32_t>{0, 0, 0, 0, 1}));
    ExpectUnlocked();
    EXPECT_EQ(screen->calibration.CFgUICtrl::enabled, 1u);
}

// Presses the progress box's abort on its third run.
class CancelFilter : public CImgFilter {
public:
    CFgUIProgressBox* box = nullptr;
    int runs = 0;
    const wchar_t* GetName(const wchar_t*) override { return L"Cancel"; }
    int32_t OnFilter(CImgBuff*, uint64_t, int64_t, int64_t, int64_t, int64_t, uint32_t, uint32_t, uint32_t*,
                     uint32_t*) override {
        if (box && ++runs == 3) box->cancel = 1;
        return 1;
    }
};

TEST_F(SaveTest, CancelledRunKeepsTheFramesWritten) {
    if (kvtest::RunCommand("which ffprobe > /dev/null") != 0) GTEST_SKIP() << "no ffprobe";
    const std::vector<std::string> seq = fx.Sequence("c", 5);
    screen->OpenSequenceFiles(W(seq[0]).c_str(), W(seq[4]).c_str());
    auto* cancel = new CancelFilter;
    ASSERT_EQ(screen->AddFilterToChain(cancel, 1), 1);
    CFgUIProgressBox box;
    ASSERT_EQ(box.Open(5, 0, L"saving", nullptr, screen.get()), 1);
    cancel->box = &box;
    const std::string avi = Out("cancelled.avi");
    EXPECT_EQ(screen->SaveScenesBuiltIn(W(avi).c_str(), L"en", 0, &box, 4, 33), -1);
    cancel->box = nullptr;
    box.Destroy();
    EXPECT_EQ(Shell("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames "
                    "-of csv=p=0 '" + avi + "'"),
              "3");
}

// Closes the main window on its third run, as the window manager's close
// box would in the middle of a save.
class CloseFilter : public CImgFilter {
public:
    CMainScreen* screen = nullptr;
    int runs = 0;
    uint32_t enabledAtClose = 1;
    const wchar_t* GetName(const wchar_t*) override { return L"Close"; }
    int32_t OnFilter(CImgBuff*, uint64_t, int64_t, int64_t, int64_t, int64_t, uint32_t, uint32_t, uint32_t*,
                     uint32_t*) override {
        if (screen && ++runs == 3) {
            enabledAtClose = screen->CFgScreen::enabled;
            PlatPostMessage(screen->window, kPlatMsgClose);
        }
        return 1;
    }
};

// The close cancels the save at once, with no box: the file holds the
// frames written and is whole, and the program's loop ends.
TEST_F(SaveTest, CloseDuringASaveCancelsItAndEndsTheProgram) {
    if (kvtest::RunCommand("which ffprobe > /dev/null") != 0) GTEST_SKIP() << "no ffprobe";
    screen->SetLanguage(L"en");
    const std::vector<std::string> seq = fx.Sequence("q", 6);
    screen->OpenSequenceFiles(W(seq[0]).c_str(), W(seq[5]).c_str());
    auto* closer = new CloseFilter;
    ASSERT_EQ(screen->AddFilterToChain(closer, 1), 1);
    closer->screen = screen.get();
    const std::string avi = Out("closed.avi");
    {
        kvmedia::PromptScript script({Choose(W(avi))});
        screen->SaveScenes(0, 33);
    }
    closer->screen = nullptr;
    EXPECT_EQ(closer->enabledAtClose, 0u);
    EXPECT_EQ(g_QuitRequested.load(), 1u);  // the main loop ends after this dispatch
    ExpectUnlocked();
    EXPECT_NE(screen->window, 0u);  // the save's screen was not destroyed under it
    EXPECT_EQ(Shell("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames "
                    "-of csv=p=0 '" + avi + "'"),
              "3");
    g_QuitRequested = 0;  // the flag ends the program's loop; this test goes on
}

// The ozt image module of the plugin folder writes what its extension
// names: the result as a still, the scenes as a movie at the scene
// interval; both read back through the module with the same pixels.
TEST_F(SaveTest, ResultAndScenesThroughTheImageModule) {
    screen->SetLanguage(L"en");
    const std::vector<std::string> seq = fx.Sequence("mod", 3, 20, 10);
    screen->OpenSequenceFiles(W(seq[0]).c_str(), W(seq[2]).c_str());
    ASSERT_EQ(screen->sceneBar.sceneCount, 3u);
    auto bytes = [](const CImgBuff& image) {
        const C_ImgBuff* b = image.buffer;
        return std::string(reinterpret_cast<const char*>(b->pixels),
                           static_cast<size_t>(b->width) * b->height * b->BytesPerPixel());
    };
    std::vector<std::string> frames;
    for (uint64_t k = 0; k < 3; ++k) {
        ASSERT_EQ(screen->sceneBar.SetPosition(k), 1);
        frames.push_back(bytes(screen->resultImage));
    }
    ASSERT_NE(frames[0], frames[2]);
    ASSERT_EQ(screen->sceneBar.SetPosition(1), 1);
    const std::string still = Out("still.ozt");
    {
        kvmedia::PromptScript script({Choose(W(still)), Box(L"saved", L"confirmation", 1)});
        screen->SaveImage();
    }
    screen->sceneBar.msPerScene = 40;
    const std::string movie = Out("movie.ozt");
    {
        kvmedia::PromptScript script({Choose(W(movie)), Box(L"saved", L"confirmation", 1)});
        screen->SaveScenes(0, 40);
    }
    ExpectUnlocked();
    screen->OpenFile(W(still).c_str());
    EXPECT_EQ(screen->sceneBar.sceneCount, 1u);
    EXPECT_EQ(bytes(screen->sourceImage), frames[1]);
    screen->OpenFile(W(movie).c_str());
    ASSERT_NE(screen->moduleStream, nullptr);
    ASSERT_EQ(screen->sceneBar.sceneCount, 3u);
    EXPECT_EQ(screen->movieMsPerFrame, 40u);
    for (uint64_t k = 0; k < 3; ++k) {
        ASSERT_EQ(screen->sceneBar.SetPosition(k), 1);
        EXPECT_EQ(bytes(screen->sourceImage), frames[k]) << k;
    }
}

}  // namespace
