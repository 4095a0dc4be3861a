// The main screen on the offscreen driver: menus and the command switch,
// mouse routing, layout, the busy lock, the frame road, the title readout,
// opening documents made by ImageMagick, the path policy, and the whole
// program from File > Open multi file to closing.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/filter_registry.h"
#include "app/main_screen.h"
#include "app/support/main_screen_fixture.h"
#include "filters/core/imgfilter.h"
#include "image/pool.h"
#include "media/codec.h"
#include "media/image_module.h"
#include "platform/plat_messages.h"
#include "platform/plat_window.h"
#include "platform/utf8.h"
#include "support/testsupport.h"
#include "toolkit/fg_file_select.h"
#include "toolkit/fg_loop.h"
#include "toolkit/fg_menu.h"
#include "toolkit/support/file_select_answer.h"
#include "toolkit/support/ui_input.h"

namespace {

using namespace kvapptest;

// --- menus ---

TEST_F(MainScreenTest, FileMenuFollowsTheDocumentInBothLanguages) {
    struct Case {
        const char* document;
        const wchar_t* language;
        const char* text;
    };
    // Saving needs an image, saving scenes two of them; "Image info" an image.
    const Case cases[] = {
        {"none", L"en",
         "Open image\t0\nSave image\t-1\nSave video\t-1\nSave multi page\t-1\nOpen multi file\t2\n"
         "Save multi file\t-1\nInfo\t-1\nOpen filter list\t7\nSave filter list\t8\n"},
        {"still", L"en",
         "Open image\t0\nSave image\t1\nSave video\t-1\nSave multi page\t-1\nOpen multi file\t2\n"
         "Save multi file\t-1\nImage info\t6\nOpen filter list\t7\nSave filter list\t8\n"},
        {"sequence", L"en",
         "Open image\t0\nSave image\t1\nSave video\t5\nSave multi page\t4\nOpen multi file\t2\n"
         "Save multi file\t3\nImage info\t6\nOpen filter list\t7\nSave filter list\t8\n"},
        {"none", L"jp",
         "画像を開く\t0\n画像を保存\t-1\n動画を保存\t-1\nマルチページ画像を保存\t-1\n連番画像を開く\t2\n"
         "連番画像を保存\t-1\n画像情報\t-1\n画像処理を開く\t7\n画像処理を保存\t8\n"},
        {"sequence", L"jp",
         "画像を開く\t0\n画像を保存\t1\n動画を保存\t5\nマルチページ画像を保存\t4\n連番画像を開く\t2\n"
         "連番画像を保存\t3\n画像情報\t6\n画像処理を開く\t7\n画像処理を保存\t8\n"},
    };
    const std::string still = fx.Solid("still.png", 32, 24, 10, 20, 30);
    const std::vector<std::string> seq = fx.Sequence("s", 3);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.document) + " " + PlatWideToUtf8(c.language));
        screen->SetLanguage(c.language);
        if (std::string(c.document) == "still") screen->OpenFile(W(still).c_str());
        if (std::string(c.document) == "sequence") screen->OpenSequenceFiles(W(seq[0]).c_str(), W(seq[2]).c_str());
        if (std::string(c.document) == "none") {
            kvtest::ModalAnswers answers;  // the failure is told
            screen->OpenFile(L"/nonexistent/x.png");
            EXPECT_EQ(answers.messages.size(), 1u);
        }
        EXPECT_EQ(Menu(&CMainScreen::BuildFileMenu), c.text);
    }
}

TEST_F(MainScreenTest, ViewAndConfigMenusGolden) {
    screen->SetLanguage(L"en");
    EXPECT_EQ(Menu(&CMainScreen::BuildViewMenu),
              " Image\t{\n*Std\t2\n Guide off\t1\n Original\t0\n}\n"
              " Color picker\t{\n OFF\t10\n*RGB\t11\n HSV\t12\n CMY\t13\n CMYK\t14\n XYZ\t15\n L*a*b*\t16\n"
              " L*C*h\t17\n}\n"
              " Guide color\t{\n Black\t400\n White\t407\n*Red\t401\n Green\t402\n Blue\t403\n Cyan\t404\n"
              " Magenta\t405\n Yellow\t406\n}\n"
              " Zoom\t{\n*Fit window\t1000\n   25%\t1025\n   50%\t1050\n  100%\t1100\n  200%\t1200\n  400%\t1400\n"
              "  800%\t1800\n 1600%\t1916\n}\n"
              " Playback speed\t{\n* Video\t299\n   3fps\t200\n   7.5fps\t201\n  15fps\t202\n  30fps\t203\n"
              "  50fps\t204\n  60fps\t205\n 100fps\t206\n}\n"
              " Video playback range\t-1\n Skip frame\t100\n Video panel\t101\n Side panel\t102\n");
    EXPECT_EQ(Menu(&CMainScreen::BuildConfigMenu),
              "Roll\t{\n*  0\t500\n -90\t503\n  90\t501\n 180\t502\n}\n"
              "Bg color\t{\n Black\t0\n*White\t255\n}\n"
              "Connect\t{\n 4\t4\n*8\t8\n}\n"
              "CPU\t{\n 1\t401\n 2\t402\n 3\t403\n*4\t404\n}\n"
              "Mouse wheel\t{\n Off\t100\n Zoom\t101\n*Video\t102\n}\n"
              "Language\t{\n 日本語\t300\n*English\t301\n}\n"
              "Calibration\t20001\nImage save settings\t20002\n");
    screen->SetLanguage(L"jp");
    screen->MenuCommand(g_ConfigMenuItem, 402);
    screen->MenuCommand(g_ConfigMenuItem, 503);
    screen->MenuCommand(g_ConfigMenuItem, 4);
    EXPECT_EQ(Menu(&CMainScreen::BuildConfigMenu),
              "回転\t{\n\u3000  0\t500\n✓-90\t503\n\u3000 90\t501\n\u3000180\t502\n}\n"
              "背景色\t{\n\u3000黒\t0\n✓白\t255\n}\n"
              "近傍\t{\n✓4\t4\n\u30008\t8\n}\n"
              "CPU\t{\n\u30001\t401\n✓2\t402\n\u30003\t403\n\u30004\t404\n}\n"
              "マウスホイール\t{\n\u3000OFF\t100\n\u3000表示倍率操作\t101\n✓シーン操作\t102\n}\n"
              "言語\t{\n✓日本語\t300\n\u3000Engish\t301\n}\n"
              "キャリブレーション設定\t20001\n画像保存設定\t20002\n");
    const std::string view = Menu(&CMainScreen::BuildViewMenu);
    EXPECT_EQ(view.rfind("\u3000表示内容\t{\n✓標準\t2\n", 0), 0u) << view;
    EXPECT_NE(view.find("\u3000動画再生範囲\t-1\n\u3000フレームスキップ\t100\n"), std::string::npos) << view;
}

TEST_F(MainScreenTest, BarHoldsSevenMenusAndRebuildsOnLanguage) {
    screen->SetLanguage(L"en");
    ASSERT_GE(screen->menuBar.ItemCount(), 6);
    EXPECT_EQ(screen->menuBar.items[0].label, L"File");
    EXPECT_EQ(screen->menuBar.items[static_cast<size_t>(g_ToolMenuItem)].label, L"Tool");
    EXPECT_EQ(screen->menuBar.items[static_cast<size_t>(g_ViewMenuItem)].state, -1);
    // Every filter is listed; unbuilt ones are greyed.
    const std::wstring& processing = screen->menuBar.items[static_cast<size_t>(g_ProcessingMenuItem)].menuText;
    size_t entries = 0;
    for (size_t p = 0; (p = processing.find(L'\t', p)) != std::wstring::npos; ++p)
        if (processing[p + 1] != L'{') ++entries;
    EXPECT_EQ(entries, 32u);
    screen->SetLanguage(L"jp");
    EXPECT_EQ(screen->menuBar.items[0].label, L"ファイル");
    EXPECT_EQ(screen->menuBar.items[static_cast<size_t>(g_ViewMenuItem)].state, 1);
    // The trackers are named in Japanese too, as they name themselves.
    const std::wstring& tool = screen->menuBar.items[static_cast<size_t>(g_ToolMenuItem)].menuText;
    EXPECT_NE(tool.find(L"2D HSV追跡\t10021\n"), std::wstring::npos) << PlatWideToUtf8(tool.c_str());
    EXPECT_NE(tool.find(L"2D パターン追跡\t10042\n"), std::wstring::npos) << PlatWideToUtf8(tool.c_str());
    // The same language again changes nothing.
    screen->menuBar.items[0].label = L"kept";
    screen->SetLanguage(L"jp");
    EXPECT_EQ(screen->menuBar.items[0].label, L"kept");
}

TEST_F(MainScreenTest, CommandSwitchTable) {
    const std::vector<std::string> seq = fx.Sequence("c", 3);
    screen->OpenSequenceFiles(W(seq[0]).c_str(), W(seq[2]).c_str());
    struct Case {
        int32_t* menu;
        int32_t id;
        std::function<bool(CMainScreen&)> check;
        const char* what;
    };
    const Case cases[] = {
        {&g_ViewMenuItem, 1, [](CMainScreen& s) { return s.displayContent == 1; }, "guide off"},
        {&g_ViewMenuItem, 0, [](CMainScreen& s) { return s.displayContent == 0; }, "original"},
        {&g_ViewMenuItem, 2, [](CMainScreen& s) { return s.displayContent == 2; }, "std"},
        {&g_ViewMenuItem, 15, [](CMainScreen& s) { return s.colorPicker == 5; }, "xyz picker"},
        {&g_ViewMenuItem, 100, [](CMainScreen& s) { return s.frameSkip == 1 && s.sceneBar.frameSkip == 1; }, "skip"},
        {&g_ViewMenuItem, 202,
         [](CMainScreen& s) { return s.useMovieRate == 0 && s.msPerFrame == 66 && s.sceneBar.msPerScene == 66; },
         "15fps"},
        {&g_ViewMenuItem, 299, [](CMainScreen& s) { return s.useMovieRate == 1 && s.msPerFrame == 33; }, "video rate"},
        {&g_ViewMenuItem, 405,
         [](CMainScreen& s) {
             return s.guideColor == 5 && s.sidePanel.guideRed == 1 && s.sidePanel.guideGreen == 0 &&
                    s.sidePanel.guideBlue == 1;
         },
         "magenta"},
        {&g_ViewMenuItem, 1200, [](CMainScreen& s) { return s.picture.zoom == 2; }, "200%"},
        {&g_ViewMenuItem, 1025, [](CMainScreen& s) { return s.picture.zoom == -4; }, "25%"},
        {&g_ViewMenuItem, 101, [](CMainScreen& s) { return s.sceneBarShown == 0; }, "hide scene bar"},
        {&g_ViewMenuItem, 101, [](CMainScreen& s) { return s.sceneBarShown == 1; }, "show scene bar"},
        {&g_ViewMenuItem, 102, [](CMainScreen& s) { return s.sidePanelShown == 1; }, "show side panel"},
        {&g_ConfigMenuItem, 0, [](CMainScreen& s) { return s.sidePanel.bg.load() == 0; }, "black bg"},
        {&g_ConfigMenuItem, 4, [](CMainScreen& s) { return s.sidePanel.connect.load() == 4; }, "connect 4"},
        {&g_ConfigMenuItem, 101, [](CMainScreen& s) { return s.wheelMode == 1; }, "wheel zoom"},
        {&g_ConfigMenuItem, 403, [](CMainScreen&) { return g_PoolThreadCount.load() == 3; }, "3 threads"},
        {&g_ConfigMenuItem, 464, [](CMainScreen&) { return g_PoolThreadCount.load() == 4; }, "above P"},
        {&g_ConfigMenuItem, 501, [](CMainScreen& s) { return s.roll == 1 && s.sidePanel.CFilterCtrl::width == 48; }, "roll 90"},
        {&g_ConfigMenuItem, 301, [](CMainScreen& s) { return s.sidePanel.language == L"en"; }, "english"},
        // An id that means something in another menu does nothing here.
        {&g_FileMenuItem, 100, [](CMainScreen& s) { return s.frameSkip == 1 && s.wheelMode == 1; }, "file 100"},
        {&g_ConfigMenuItem, 999, [](CMainScreen& s) { return s.roll == 1; }, "unknown"},
    };
    for (const Case& c : cases) {
        screen->MenuCommand(*c.menu, c.id);
        EXPECT_TRUE(c.check(*screen)) << c.what;
    }
}

TEST_F(MainScreenTest, UnbuiltFilterCommandShowsTheAddError) {
    screen->SetLanguage(L"en");
    ASSERT_TRUE(SetFilterFactory(10012, UnbuiltFilterFactory));
    ASSERT_EQ(BuildFilterRegistry(), 1);
    kvtest::ModalAnswers answers;
    screen->MenuCommand(g_MeasureMenuItem, 10012);
    ASSERT_EQ(answers.messages.size(), 1u);
    EXPECT_EQ(answers.messages[0], L"can't add filter");
    EXPECT_EQ(screen->sidePanel.chains[0].Count(), 0u);
    // A null filter (failed creation) is refused the same way.
    screen->AddFilterCommand(nullptr);
    EXPECT_EQ(answers.messages.size(), 2u);
    SetFilterFactory(10012, nullptr);
}

TEST_F(MainScreenTest, BuiltFilterIsListedAndAddedFromItsMenu) {
    screen->SetLanguage(L"en");
    ASSERT_TRUE(SetFilterFactory(10003, []() -> CImgFilter* { return new ProbeFilter; }));
    ASSERT_TRUE(SetFilterFactory(10012, UnbuiltFilterFactory));
    ASSERT_EQ(BuildFilterRegistry(), 1);
    screen->BuildMenus();
    const std::wstring& processing = screen->menuBar.items[static_cast<size_t>(g_ProcessingMenuItem)].menuText;
    EXPECT_NE(processing.find(L"Reversal\t10003\n"), std::wstring::npos);
    EXPECT_NE(processing.find(L"Filter\t10010\n"), std::wstring::npos);
    const std::wstring& measure = screen->menuBar.items[static_cast<size_t>(g_MeasureMenuItem)].menuText;
    EXPECT_NE(measure.find(L"Auto measurement\t-1\n"), std::wstring::npos);
    EXPECT_EQ(processing.rfind(L"Process rect\t10000\nGroup tag\t10022\nUp convert\t10023\nDown convert\t10024\n", 0), 0u);
    screen->MenuCommand(g_ProcessingMenuItem, 10003);
    EXPECT_EQ(screen->sidePanel.chains[0].Count(), 1u);
    EXPECT_EQ(screen->sidePanelShown, 1u);
    // The same id from the Measure menu is not a Measure filter.
    screen->MenuCommand(g_MeasureMenuItem, 10003);
    EXPECT_EQ(screen->sidePanel.chains[0].Count(), 1u);
    SetFilterFactory(10003, nullptr);
    SetFilterFactory(10012, nullptr);
}

TEST_F(MainScreenTest, DisplayContentReRunsOnlyOnChange) {
    const std::string still = fx.Solid("d.png", 16, 16, 1, 2, 3);
    screen->OpenFile(W(still).c_str());
    ProbeFilter* f = AddProbe();
    const int before = f->runs;
    screen->MenuCommand(g_ViewMenuItem, 2);  // already "Std"
    EXPECT_EQ(f->runs, before);
    screen->MenuCommand(g_ViewMenuItem, 0);  // the source, unfiltered: the worker is not woken
    EXPECT_EQ(f->runs, before);
    screen->MenuCommand(g_ViewMenuItem, 1);
    EXPECT_EQ(f->runs, before + 1);
}

// --- layout and busy lock ---

TEST_F(MainScreenTest, LayoutWithBothPanels) {
    const std::vector<std::string> seq = fx.Sequence("l", 2);
    screen->OpenSequenceFiles(W(seq[0]).c_str(), W(seq[1]).c_str());
    screen->ShowSidePanel();
    ASSERT_EQ(screen->font.height, 14u);
    const int32_t picture[4] = {0, 22, 456, 438}, side[4] = {456, 22, 184, 438}, bar[4] = {0, 460, 640, 40};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(screen->pictureRect[i], picture[i]) << i;
        EXPECT_EQ(screen->sidePanelRect[i], side[i]) << i;
        EXPECT_EQ(screen->sceneBarRect[i], bar[i]) << i;
    }
    screen->HideSidePanel();
    EXPECT_EQ(screen->pictureRect[2], 640);
    screen->HideSceneBar(0);
    EXPECT_EQ(screen->pictureRect[3], 478);
}

TEST_F(MainScreenTest, NestedBusyLocksHoldUntilTheLastUnlock) {
    screen->LockDialogs();
    screen->LockDialogs();
    EXPECT_EQ(screen->CFgUICtrl::enabled, 0u);
    EXPECT_EQ(screen->CFgScreen::enabled, 0u);
    screen->UnlockDialogs();
    EXPECT_EQ(screen->CFgUICtrl::enabled, 0u);
    screen->UnlockDialogs();
    EXPECT_EQ(screen->CFgUICtrl::enabled, 1u);
    screen->UnlockDialogs();  // unpaired: stays at 0
    EXPECT_EQ(screen->busyCount, 0u);
    screen->busyCount = UINT32_MAX;
    screen->LockDialogs();
    EXPECT_EQ(screen->busyCount, UINT32_MAX);
}

// --- mouse routing ---

TEST_F(MainScreenTest, MouseRoutingToTheSelectedFilter) {
    const std::string still = fx.Solid("m.png", 100, 80, 50, 50, 50);
    screen->OpenFile(W(still).c_str());
    AddProbe();
    const int32_t cx = ImageCenterX(), cy = ImageCenterY();
    int32_t ix = cx, iy = cy;
    ASSERT_EQ(screen->picture.ControlToImage(&ix, &iy), 1);
    screen->SetKeyState(16);  // shift
    screen->OnLButtonDown(cx, cy);
    screen->OnLButtonDown(cx, cy);  // a second press without release is not passed on
    screen->SetKeyState(0);
    screen->OnMouseMove(cx + 4, cy);
    screen->OnLButtonUp(2, screen->pictureRect[1] + 2);  // released off the image: the last point
    int32_t mx = cx + 4, my = cy;
    screen->picture.ControlToImage(&mx, &my);
    char expect[4][64];
    std::snprintf(expect[0], 64, "ldown %d,%d f1", ix, iy);
    std::snprintf(expect[1], 64, "move %d,%d f0", mx, my);
    std::snprintf(expect[2], 64, "lup %d,%d f0", mx, my);
    ASSERT_EQ(log.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(log[static_cast<size_t>(i)], expect[i]);
    // A disabled filter gets nothing; a locked window takes presses on the
    // picture only while image-view input is allowed.
    log.clear();
    screen->LockDialogs();
    screen->OnRButtonDown(cx, cy);
    screen->OnRButtonUp(cx, cy);
    EXPECT_TRUE(log.empty());
    screen->imageViewInput = 1;
    screen->OnRButtonDown(cx, cy);
    screen->OnRButtonUp(cx, cy);
    EXPECT_EQ(log.size(), 2u);
    screen->UnlockDialogs();
    log.clear();
    screen->sidePanel.chains[0].selected->enabled = 0;
    screen->OnLButtonDown(cx, cy);
    screen->OnLButtonUp(cx, cy);
    EXPECT_TRUE(log.empty());
}

TEST_F(MainScreenTest, WheelChangesSceneByMode) {
    const std::vector<std::string> seq = fx.Sequence("w", 4);
    screen->OpenSequenceFiles(W(seq[0]).c_str(), W(seq[3]).c_str());
    const int32_t cx = ImageCenterX(), cy = ImageCenterY();
    screen->OnMouseWheel(cx, cy, 2);
    EXPECT_EQ(screen->sceneBar.position, 2u);
    EXPECT_EQ(screen->currentFrame, 2u);
    screen->OnMouseWheel(cx, cy, 10);  // clamped to the last scene
    EXPECT_EQ(screen->sceneBar.position, 3u);
    screen->wheelMode = 0;
    screen->OnMouseWheel(cx, cy, -1);
    EXPECT_EQ(screen->sceneBar.position, 3u);
    screen->OnMouseWheel(10, screen->sceneBarRect[1] + 5, -3);  // over the scene bar
    EXPECT_EQ(screen->sceneBar.position, 0u);
    screen->wheelMode = 1;
    screen->OnMouseWheel(cx, cy, 1);
    EXPECT_NE(screen->picture.zoom, 0);
    EXPECT_EQ(screen->sceneBar.position, 0u);
}

// --- frame road ---

TEST_F(MainScreenTest, StillRolledTenTimesIsTurnedOnce) {
    const std::string still = fx.Solid("r.png", 40, 20, 9, 9, 9);
    screen->OpenFile(W(still).c_str());
    screen->MenuCommand(g_ConfigMenuItem, 501);
    for (int i = 0; i < 10; ++i) screen->LoadFrame(1);
    EXPECT_EQ(screen->sourceImage.buffer->width, 20);
    EXPECT_EQ(screen->sourceImage.buffer->height, 40);
    EXPECT_EQ(screen->sidePanel.CFilterCtrl::width, 20u);
    screen->MenuCommand(g_ConfigMenuItem, 500);
    EXPECT_EQ(screen->sourceImage.buffer->width, 40);
    // Opening a document clears the roll.
    screen->MenuCommand(g_ConfigMenuItem, 502);
    screen->OpenFile(W(still).c_str());
    EXPECT_EQ(screen->roll, 0);
}

TEST_F(MainScreenTest, PlayRangeMapsScenesToFrames) {
    const std::vector<std::string> seq = fx.Sequence("p", 10);
    screen->OpenSequenceFiles(W(seq[0]).c_str(), W(seq[9]).c_str());
    screen->MenuCommand(g_ConfigMenuItem, 501);
    screen->SetPlayRange(2, 10, 3);
    EXPECT_EQ(screen->sceneBar.sceneCount, 3u);
    EXPECT_EQ(screen->sidePanel.CFilterCtrl::width, 48u);  // told with the roll's swap
    EXPECT_EQ(screen->sidePanel.frames, 3u);
    std::vector<uint64_t> frames;
    for (uint64_t s = 0; s < 3; ++s) {
        ASSERT_EQ(screen->SeekScene(s), 1);
        frames.push_back(screen->currentFrame);
    }
    EXPECT_EQ(frames, (std::vector<uint64_t>{1, 4, 7}));
    EXPECT_EQ(screen->SeekScene(3), 0);
    screen->SetPlayRange(1, 10, 1);
    EXPECT_EQ(screen->playRangeSet, 0u);
    EXPECT_EQ(screen->sceneBar.sceneCount, 10u);
}

// A range set on one document is gone when the next one opens, whatever
// kind either is: scene 0 of the next document is its frame 0.
TEST_F(MainScreenTest, PlayRangeEndsWithItsDocument) {
    const std::string clip = fx.dir().file("ranged.ozt");
    ImageModuleStream* out = CreateModuleStream(W(clip).c_str(), kModuleStreamMovie, 64, 48, 24, 4, 40);
    ASSERT_NE(out, nullptr);
    for (int k = 0; k < 4; ++k) {
        CImgBuff frame;
        ASSERT_TRUE(frame.buffer->Create(64, 48, kImgRgb8));
        std::memset(frame.buffer->pixels, 50 * (k + 1), 64 * 48 * 3);
        ASSERT_EQ(WriteModuleFrame(out, &frame), 1);
    }
    ASSERT_EQ(CloseModuleStream(out), 1);
    const std::vector<std::string> seq = fx.Sequence("next", 3);
    auto red = [&] {
        uint8_t r, g, b;
        screen->sourceImage.GetPixelRgb8(40, 30, &r, &g, &b);
        return r;
    };
    struct Case {
        const char* name;
        std::function<void()> openFirst, openNext;
        uint64_t nextScenes;
        std::vector<uint8_t> nextReds;
    };
    const Case cases[] = {
        {"stream, then a sequence", [&] { screen->OpenFile(W(clip).c_str()); },
         [&] { screen->OpenSequenceFiles(W(seq[0]).c_str(), W(seq[2]).c_str()); }, 3, {20, 40, 60}},
        {"sequence, then a stream", [&] { screen->OpenSequenceFiles(W(seq[0]).c_str(), W(seq[2]).c_str()); },
         [&] { screen->OpenFile(W(clip).c_str()); }, 4, {50, 100, 150, 200}},
        {"stream, then a still", [&] { screen->OpenFile(W(clip).c_str()); },
         [&] { screen->OpenFile(W(seq[1]).c_str()); }, 1, {40}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.openFirst();
        screen->SetPlayRange(2, 3, 1);
        ASSERT_EQ(screen->playRangeSet, 1u);
        ASSERT_EQ(screen->sceneBar.sceneCount, 2u);
        c.openNext();
        EXPECT_EQ(screen->playRangeSet, 0u);
        ASSERT_EQ(screen->sceneBar.sceneCount, c.nextScenes);
        std::vector<uint8_t> reds;
        for (uint64_t s = 0; s < c.nextScenes; ++s) {
            ASSERT_EQ(screen->SeekScene(s), 1);
            reds.push_back(red());
        }
        EXPECT_EQ(reds, c.nextReds);
    }
}

TEST_F(MainScreenTest, StillKeepsOneSceneUnderAPlayRange) {
    const std::string still = fx.Solid("one.png", 8, 8, 1, 1, 1);
    screen->OpenFile(W(still).c_str());
    screen->SetPlayRange(1, 2, 1);
    EXPECT_EQ(screen->sceneBar.sceneCount, 1u);
    EXPECT_EQ(screen->SeekScene(0), 1);
    EXPECT_EQ(screen->SeekScene(5), 0);
}

TEST_F(MainScreenTest, ResultReachesThePictureAtEveryScene) {
    const std::vector<std::string> seq = fx.Sequence("t", 4);
    screen->OpenSequenceFiles(W(seq[0]).c_str(), W(seq[3]).c_str());
    ProbeFilter* f = AddProbe();
    f->invert = true;
    screen->RunFilterChain(0);
    // Expected pixels from OpenCV, inverted as RGB.
    const std::string py =
        "import sys, cv2\n"
        "for p in sys.argv[1:]:\n"
        "    a = 255 - cv2.imread(p)[:, :, ::-1]\n"
        "    print(' '.join(str(int(v)) for v in (a[8, 0], a[8, 20], a[30, 40]) for v in v))\n";
    std::string out;
    std::vector<std::string> args(seq.begin(), seq.end());
    if (kvtest::RunPython(py, args, &out) != 0) GTEST_SKIP() << "no python3-opencv";
    std::vector<std::string> lines;
    for (size_t p = 0, q; (q = out.find('\n', p)) != std::string::npos; p = q + 1) lines.push_back(out.substr(p, q - p));
    ASSERT_EQ(lines.size(), 4u);
    for (uint64_t s = 0; s < 4; ++s) {
        screen->sceneBar.SetPosition(s);
        const CFgTexture& t = screen->picture.texture;
        ASSERT_EQ(t.cellWidth, 64u);
        std::string got;
        for (auto [x, y] : {std::pair{0, 8}, std::pair{20, 8}, std::pair{40, 30}}) {
            const uint8_t* p = t.pixels + (static_cast<uint64_t>(y) * t.texWidth + x) * t.BytesPerTexel();
            for (int c = 0; c < 3; ++c) got += (got.empty() ? "" : " ") + std::to_string(p[c]);
        }
        EXPECT_EQ(got, lines[s]) << "scene " << s;
    }
}

TEST_F(MainScreenTest, AsynchronousResultIsShownByTheUserInterfaceThread) {
    const std::vector<std::string> seq = fx.Sequence("a", 3);
    screen->OpenSequenceFiles(W(seq[0]).c_str(), W(seq[2]).c_str());
    ProbeFilter* f = AddProbe();
    f->invert = true;
    const int before = f->runs;
    const uint64_t sends = screen->picture.texture.sendCount;
    screen->RunFilterChain(1);
    for (int i = 0; i < 200 && f->runs == before; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_GT(f->runs, before);
    for (int i = 0; i < 100 && screen->picture.texture.sendCount == sends; ++i) {
        kvtest::Pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_GT(screen->picture.texture.sendCount, sends);
    EXPECT_EQ(screen->picture.texture.pixels[0], 255 - 20);
}

// The play loop's clock for the pace test: the scene bar's injected tick
// count and sleep read and advance it; each chain run and each paint of the
// main screen advance it by a fixed cost, so a paint the loop does not
// account for shows up as a slower pace.
std::atomic<uint32_t> g_PlayClock{0};
constexpr uint32_t kChainCost = 57, kPaintCost = 10;  // a 67 ms scene
uint32_t PlayClockTick() { return g_PlayClock.load(); }
void PlayClockSleep(uint32_t ms) { g_PlayClock += ms; }
std::atomic<uint64_t> g_Paints{0};
void CountingOverlay(CFgScreen* screen, CFgFont* font, int32_t a, int32_t b, int32_t c, int32_t d, int32_t e,
                     int32_t f, int32_t g, int32_t h, int32_t zoom, void* data) {
    ++g_Paints;
    g_PlayClock += kPaintCost;
    CMainScreen::OnPictureOverlay(screen, font, a, b, c, d, e, f, g, h, zoom, data);
}

class CostlyFilter : public CImgFilter {
public:
    const wchar_t* GetName(const wchar_t*) override { return L"Costly"; }
    int32_t OnFilter(CImgBuff*, uint64_t, int64_t, int64_t, int64_t, int64_t, uint32_t, uint32_t, uint32_t*,
                     uint32_t*) override {
        g_PlayClock += kChainCost;
        return 1;
    }
};

// Playing paints each scene once, and the loop sleeps only the rest of the
// interval, so a 67 ms scene plays at the set rate (or as fast as it can
// when the interval is shorter than the scene).
TEST_F(MainScreenTest, PlayingPaintsEachSceneOnceAtTheSetPace) {
    const int n = 6;
    const std::vector<std::string> seq = fx.Sequence("pace", n);
    screen->OpenSequenceFiles(W(seq[0]).c_str(), W(seq[n - 1]).c_str());
    ASSERT_EQ(screen->AddFilterToChain(new CostlyFilter, 1), 1);
    screen->picture.overlayCallback = CountingOverlay;
    screen->sceneBar.tickCount = PlayClockTick;
    screen->sceneBar.sleep = PlayClockSleep;
    screen->sceneBar.frameSkip = 0;
    const auto tick = screen->sceneBar.tickCount;
    const auto sleep = screen->sceneBar.sleep;
    for (const uint64_t interval : {66u, 133u, 333u}) {
        SCOPED_TRACE(interval);
        ASSERT_EQ(screen->SeekScene(0), 1);
        kvtest::Pump();
        screen->sceneBar.msPerScene = interval;
        g_Paints = 0;
        g_PlayClock = 0;
        screen->sceneBar.Play(+1);
        EXPECT_EQ(screen->sceneBar.position, static_cast<uint64_t>(n - 1));
        kvtest::Pump();  // a redraw posted for a scene would be a paint too
        EXPECT_EQ(g_Paints.load(), static_cast<uint64_t>(n - 1));
        const double perScene = static_cast<double>(g_PlayClock.load()) / (n - 1);
        EXPECT_EQ(perScene, static_cast<double>(std::max<uint64_t>(interval, kChainCost + kPaintCost)));
        std::printf("interval %llu ms: %.2f paints per scene, %.2f scenes/s\n",
                    static_cast<unsigned long long>(interval), static_cast<double>(g_Paints.load()) / (n - 1),
                    1000.0 / perScene);
    }
    screen->sceneBar.tickCount = tick;
    screen->sceneBar.sleep = sleep;
}

TEST_F(MainScreenTest, DestroyedDuringAnAsynchronousRun) {
    const std::vector<std::string> seq = fx.Sequence("x", 3, 320, 240);
    screen->OpenSequenceFiles(W(seq[0]).c_str(), W(seq[2]).c_str());
    for (int i = 0; i < 3; ++i) AddProbe()->invert = true;
    screen->sceneBar.playDirection = 1;  // the reader decodes ahead
    screen->LoadFrame(0);
    screen->RunFilterChain(1);
    screen.reset();  // joins the worker and the reader before the images go
    SUCCEED();
}

// --- title ---

TEST(MainScreenReadout, FormatsPerModeAndDepth) {
    PoolStart();
    struct Case {
        int32_t format;
        uint32_t mode;
        std::function<void(CImgBuff&)> fill;
        const wchar_t* text;
    };
    const Case cases[] = {
        {kImgRgb8, 1, [](CImgBuff& b) { b.SetPixelRgb8(1, 2, 10, 20, 30); }, L" - 4core (1, 2) R:10 G:20 B:30"},
        {kImgGray16, 1, [](CImgBuff& b) { b.SetPixelGray16(1, 2, 0x1234); }, L" - 4core (1, 2) R:1234 G:1234 B:1234"},
        {kImgGray32, 1, [](CImgBuff& b) { b.SetPixelGray32(1, 2, 0x89ABCDEF); },
         L" - 4core (1, 2) R:89ABCDEF G:89ABCDEF B:89ABCDEF"},
        // Red: H 0; green: (0 - 0) x 42 / 255 + 84 = 84, printed 84 / 255 x 359.
        {kImgRgb8, 2, [](CImgBuff& b) { b.SetPixelRgb8(1, 2, 255, 0, 0); }, L" - 4core (1, 2) H:0 S:254 V:255"},
        {kImgRgb8, 2, [](CImgBuff& b) { b.SetPixelRgb8(1, 2, 0, 255, 0); }, L" - 4core (1, 2) H:118 S:254 V:255"},
        {kImgGray8, 2, [](CImgBuff& b) { b.SetPixelGray8(1, 2, 77); }, L" - 4core (1, 2) H:0 S:0 V:77"},
        {kImgRgb8, 3, [](CImgBuff& b) { b.SetPixelRgb8(1, 2, 10, 20, 30); }, L" - 4core (1, 2) C:245 M:235 Y:225"},
        {kImgRgb16, 3, [](CImgBuff& b) { b.SetPixelRgb16(1, 2, 0, 0x10, 0xFFFF); },
         L" - 4core (1, 2) C:FFFF M:FFEF Y:0000"},
        {kImgCmyk8, 4, [](CImgBuff& b) { b.SetPixelCmyk8(1, 2, 1, 2, 3, 4); }, L" - 4core (1, 2) C:1 M:2 Y:3 K:4"},
        {kImgRgb16, 4, [](CImgBuff& b) { b.SetPixelRgb16(1, 2, 0x1000, 0x2000, 0x3000); },
         L" - 4core (1, 2) C:2000 M:1000 Y:0000 K:CFFF"},
        {kImgRgb32, 4, [](CImgBuff& b) { b.SetPixelRgb32(1, 2, 0, 0, 0); },
         L" - 4core (1, 2) C:00000000 M:00000000 Y:00000000 K:FFFFFFFF"},
        {kImgXyz, 5, [](CImgBuff& b) { b.SetPixelXyz(1, 2, 0.25, 0.5, 0.125); },
         L" - 4core (1, 2) X:0.250000 Y:0.500000 Z:0.125000"},
        // Y = 0 is black: L* 0, no chroma, hue 0.
        {kImgXyz, 7, [](CImgBuff& b) { b.SetPixelXyz(1, 2, 0, 0, 0); },
         L" - 4core (1, 2) L*:0.000000 C*:0.000000 h:0"},
    };
    for (const Case& c : cases) {
        CImgBuff image;
        ASSERT_EQ(image.buffer->Create(4, 4, c.format), 1);
        c.fill(image);
        wchar_t out[kMainTitleMax];
        CMainScreen::FormatReadout(out, kMainTitleMax, &image, 1, 2, c.mode, 4);
        EXPECT_STREQ(out, c.text) << c.format << "/" << c.mode;
        // Outside the result there is no readout.
        CMainScreen::FormatReadout(out, kMainTitleMax, &image, 4, 0, c.mode, 4);
        EXPECT_STREQ(out, L"");
    }
    PoolStop();
}

TEST_F(MainScreenTest, TitleShowsThreadsReadoutAndFileName) {
    const std::string still = fx.Solid("title.png", 50, 40, 200, 100, 50);
    screen->OpenFile(W(still).c_str());
    screen->cursorX = 0;
    screen->cursorY = 0;
    screen->UpdateTitle();
    EXPECT_STREQ(screen->titleText, L"korvane 1.11.0 - 4core  title.png");
    int32_t x = ImageCenterX(), y = ImageCenterY();
    screen->OnMouseMove(x, y);
    screen->picture.ControlToImage(&x, &y);
    wchar_t expect[200];
    std::swprintf(expect, 200, L"korvane 1.11.0 - 4core (%d, %d) R:200 G:100 B:50  title.png", x, y);
    EXPECT_STREQ(screen->titleText, expect);
    screen->MenuCommand(g_ViewMenuItem, 10);  // picker off
    EXPECT_STREQ(screen->titleText, L"korvane 1.11.0 - 4core  title.png");
}

// --- opening documents ---

TEST_F(MainScreenTest, OpensStillsMadeByImageMagick) {
    struct Case {
        const char* name;
        const char* extra;
        int32_t format;
    };
    const Case cases[] = {
        {"a.png", "-define png:color-type=2", kImgRgb8}, {"b.jpg", "-quality 95", kImgRgb8},
        {"c.bmp", "-type TrueColor", kImgRgb8},          {"d.tif", "-compress none -depth 8", kImgRgb8},
        {"e.png", "-fx 'i/w*0.7+0.001' -colorspace Gray -depth 16", kImgGray16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = fx.Solid(c.name, 30, 20, 128, 64, 32, c.extra);
        screen->OpenFile(W(path).c_str());
        ASSERT_TRUE(screen->sourceImage.buffer->pixels);
        EXPECT_EQ(screen->sourceImage.buffer->format, c.format);
        EXPECT_EQ(screen->sourceImage.buffer->width, 30);
        EXPECT_EQ(screen->movieFile, nullptr);
        EXPECT_EQ(screen->sceneBarShown, 0u);
        EXPECT_EQ(screen->sceneBar.sceneCount, 1u);
        EXPECT_STREQ(screen->documentPath, W(path).c_str());
        EXPECT_EQ(screen->stillImage.buffer->width, 30);
        EXPECT_EQ(screen->busyCount, 0u);
        EXPECT_EQ(screen->picture.ImageWidth(), 30);
    }
}

TEST_F(MainScreenTest, OpensSequencesAndFallsBackToOneFrame) {
    const std::vector<std::string> seq = fx.Sequence("q", 5);
    screen->OpenSequenceFiles(W(seq[0]).c_str(), W(seq[4]).c_str());
    ASSERT_NE(screen->movieFile, nullptr);
    EXPECT_EQ(screen->sceneBar.sceneCount, 5u);
    EXPECT_EQ(screen->sceneBarShown, 1u);
    EXPECT_EQ(screen->sidePanel.bytesPerPixel, 3u);
    EXPECT_EQ(screen->stillImage.buffer->pixels, nullptr);
    uint8_t r, g, b;
    screen->sceneBar.SetPosition(3);
    screen->sourceImage.GetPixelRgb8(40, 40, &r, &g, &b);
    EXPECT_EQ(r, 80);
    // First and last the same file: a still.
    screen->OpenSequenceFiles(W(seq[1]).c_str(), W(seq[1]).c_str());
    EXPECT_EQ(screen->movieFile, nullptr);
    EXPECT_EQ(screen->sceneBarShown, 0u);
    ASSERT_TRUE(screen->sourceImage.buffer->pixels);
    screen->sourceImage.GetPixelRgb8(40, 40, &r, &g, &b);
    EXPECT_EQ(r, 40);
    // A file that does not open forgets the folders and shows nothing.
    {
        kvtest::ModalAnswers answers;
        screen->OpenFile(W(fx.dir().file("missing.png")).c_str());
    }
    EXPECT_EQ(screen->lastOpenPath, nullptr);
    EXPECT_EQ(screen->sourceImage.buffer->pixels, nullptr);
    EXPECT_STREQ(screen->documentPath, L"");
    EXPECT_EQ(screen->picture.ImageWidth(), 0);
}

TEST_F(MainScreenTest, PathPolicyDecidesTheRememberedFolders) {
    const std::string still = fx.Solid("pp.png", 8, 8, 1, 1, 1);
    const std::wstring path = W(still);
    for (uint32_t policy : {0u, 1u, 2u}) {
        SCOPED_TRACE(policy);
        delete[] screen->lastSavePath;
        screen->lastSavePath = nullptr;
        screen->saveSettings.pathPolicy = policy;
        screen->OpenFile(path.c_str());
        ASSERT_NE(screen->lastOpenPath, nullptr);
        EXPECT_STREQ(screen->lastOpenPath, path.c_str());
        EXPECT_EQ(screen->lastSavePath != nullptr, policy != 0);
    }
    wchar_t save[] = L"/tmp/saved";
    delete[] screen->lastSavePath;
    screen->lastSavePath = new wchar_t[16];
    std::wcscpy(screen->lastSavePath, save);
    screen->saveSettings.pathPolicy = 0;
    EXPECT_STREQ(screen->OpenStartFolder(), path.c_str());
    EXPECT_STREQ(screen->SaveStartFolder(), save);
    screen->saveSettings.pathPolicy = 1;
    EXPECT_STREQ(screen->SaveStartFolder(), path.c_str());
    screen->saveSettings.pathPolicy = 2;
    EXPECT_STREQ(screen->OpenStartFolder(), save);
}

TEST(MainScreenHelpers, ExtensionListsPathsAndThreads) {
    auto join = [](const wchar_t* a, const wchar_t* b) {
        wchar_t* j = JoinExtensionLists(a, b);
        std::wstring s = j;
        delete[] j;
        return s;
    };
    EXPECT_EQ(join(L"ozt", L"jpg jpeg"), L"ozt jpg jpeg");
    EXPECT_EQ(join(L"", L"avi mp4"), L"avi mp4");
    EXPECT_EQ(join(nullptr, nullptr), L"");
    EXPECT_EQ(ComparePaths(L"/a/b/../c.png", L"/a/c.png"), 0);
    EXPECT_NE(ComparePaths(L"/a/C.png", L"/a/c.png"), 0);  // case counts
    EXPECT_EQ(ComparePaths(L"/a", nullptr), -1);
    kvtest::TempDir dir("paths");
    const std::string real = dir.file("real.png");
    kvtest::WriteFileBytes(real, "x");
    std::filesystem::create_symlink(real, dir.file("link.png"));
    EXPECT_EQ(ComparePaths(W(dir.file("link.png")).c_str(), W(real).c_str()), 0);
    EXPECT_EQ(SourceBytesPerPixel(kImgXyz), 24u);
    EXPECT_EQ(SourceBytesPerPixel(kImgGray32), 4u);
    EXPECT_EQ(SourceBytesPerPixel(12), 0u);
}

// The ozt module built into the program's plugin folder is loaded, and its
// extension comes before the built-in ones.
TEST_F(MainScreenTest, ImageModulesOfThePluginFolderComeFirst) {
    EXPECT_STREQ(screen->openExtensions, L"ozt jpg jpeg tif tiff png bmp dcm ozt avi mp4");
    EXPECT_STREQ(screen->stillExtensions, L"ozt jpg jpeg tif tiff png bmp dcm");
    EXPECT_STREQ(screen->multiPageExtensions, L"ozt tif tiff dcm");
    EXPECT_STREQ(screen->saveStillExtensions, L"ozt jpg jpeg tif tiff png bmp");
    EXPECT_STREQ(screen->saveMovieExtensions, L"ozt avi mp4");
    EXPECT_EQ(g_PluginMenuItem, -1);  // no filter plug-ins there
}

TEST_F(MainScreenTest, OpensAMultiFrameFileThroughItsImageModule) {
    const std::string path = fx.dir().file("clip.ozt");
    ImageModuleStream* out = CreateModuleStream(W(path).c_str(), kModuleStreamMovie, 8, 6, 24, 3, 40);
    ASSERT_NE(out, nullptr);
    for (int k = 0; k < 3; ++k) {
        CImgBuff frame;
        ASSERT_TRUE(frame.buffer->Create(8, 6, kImgRgb8));
        std::memset(frame.buffer->pixels, 50 * (k + 1), 8 * 6 * 3);
        ASSERT_EQ(WriteModuleFrame(out, &frame), 1);
    }
    ASSERT_EQ(CloseModuleStream(out), 1);
    screen->OpenFile(W(path).c_str());
    ASSERT_NE(screen->moduleStream, nullptr);
    EXPECT_EQ(screen->movieFile, nullptr);
    EXPECT_EQ(screen->sceneBar.sceneCount, 3u);
    EXPECT_EQ(screen->movieMsPerFrame, 40u);
    uint8_t r, g, b;
    screen->sourceImage.GetPixelRgb8(1, 1, &r, &g, &b);
    EXPECT_EQ(r, 50);
    ASSERT_EQ(screen->sceneBar.SetPosition(2), 1);
    screen->sourceImage.GetPixelRgb8(1, 1, &r, &g, &b);
    EXPECT_EQ(r, 150);
    EXPECT_EQ(screen->sidePanel.GetCurrentFrame(), 2u);
    // Another document closes the stream.
    screen->OpenFile(W(fx.Solid("after.png", 4, 4, 1, 2, 3)).c_str());
    EXPECT_EQ(screen->moduleStream, nullptr);
}

// A stream's time per frame beyond any settable interval is not taken as
// the playing rate: it would stall the play loop and overflow a movie save.
TEST_F(MainScreenTest, AModuleRateBeyondAnyIntervalIsIgnored) {
    const uint64_t before = screen->sceneBar.msPerScene;
    for (uint64_t time : {kMaxMsPerFrame + 1, uint64_t{0xFFFFFFFF}}) {
        SCOPED_TRACE(time);
        const std::string path = fx.dir().file("slow.ozt");
        ImageModuleStream* out = CreateModuleStream(W(path).c_str(), kModuleStreamMovie, 4, 4, 8, 2, time);
        ASSERT_NE(out, nullptr);
        for (int k = 0; k < 2; ++k) {
            CImgBuff frame;
            ASSERT_TRUE(frame.buffer->Create(4, 4, kImgGray8));
            std::memset(frame.buffer->pixels, k, 16);
            ASSERT_EQ(WriteModuleFrame(out, &frame), 1);
        }
        ASSERT_EQ(CloseModuleStream(out), 1);
        screen->OpenFile(W(path).c_str());
        ASSERT_NE(screen->moduleStream, nullptr);
        EXPECT_EQ(screen->movieMsPerFrame, 0u);
        EXPECT_EQ(screen->sceneBar.msPerScene, before);
    }
}

TEST_F(MainScreenTest, InfoMessage) {
    screen->SetLanguage(L"en");
    kvtest::ModalAnswers answers;
    screen->ShowInfo();
    const std::string still = fx.Solid("info.png", 33, 22, 10, 20, 30);
    screen->OpenFile(W(still).c_str());
    screen->ShowInfo();
    screen->movieMsPerFrame = 16;
    screen->ShowInfo();
    ASSERT_EQ(answers.messages.size(), 3u);
    EXPECT_EQ(answers.messages[0], L"image is not open");
    EXPECT_EQ(answers.messages[1], L"W:33 H:22 24bit color");
    EXPECT_EQ(answers.messages[2], L"W:33 H:22 24bit color 62fps");
}

// --- the whole program ---

// Chooses "Open multi file" (row 4) in the File popup and lets the file
// selections and message boxes be answered by `answers`.
struct MenuThenFiles {
    FgModalStartHook answerHook = nullptr;
    kvtest::ModalAnswers* answers = nullptr;
    int menus = 0;
    static void Hook(CFgScreen* screen, void* user) {
        auto* self = static_cast<MenuThenFiles*>(user);
        if (dynamic_cast<CFgUIMenu*>(screen)) {
            ++self->menus;
            const int32_t y = 2 + 16 * 4 + 7;
            PlatPostTestMouse(screen->window, kPlatMsgMouseMove, 10, y);
            PlatPostTestMouse(screen->window, kPlatMsgLButtonDown, 10, y);
            PlatPostTestMouse(screen->window, kPlatMsgLButtonUp, 10, y);
            return;
        }
        if (self->answerHook) self->answerHook(screen, self->answers);
    }
};

TEST_F(MainScreenTest, OpenMultiFileFromTheMenuPlaySaveAndClose) {
    const std::vector<std::string> seq = fx.Sequence("e2e", 6, 320, 240);
    screen->ShowSidePanel();
    kvtest::ModalAnswers answers({W(seq[0]), W(seq[5])});
    MenuThenFiles script;
    script.answers = &answers;
    script.answerHook = FgSetModalStartHook(&MenuThenFiles::Hook, &script);
    // Press and release on "File" in the menu bar.
    PlatPostTestMouse(screen->window, kPlatMsgLButtonDown, 12, 6);
    PlatPostTestMouse(screen->window, kPlatMsgLButtonUp, 12, 6);
    kvtest::Pump();
    FgSetModalStartHook(script.answerHook, &answers);
    EXPECT_EQ(script.menus, 1);
    ASSERT_NE(screen->movieFile, nullptr);
    EXPECT_EQ(screen->sceneBar.sceneCount, 6u);
    AddProbe()->invert = true;
    // Play: the play button's loop shows every scene in turn, the reader
    // decoding ahead, and stops at the last.
    const SceneBarElement& play = screen->sceneBar.elements[kScenePlayForward];
    PlatPostTestMouse(screen->window, kPlatMsgMouseMove, play.x + 16, play.y + 16);
    PlatPostTestMouse(screen->window, kPlatMsgLButtonDown, play.x + 16, play.y + 16);
    PlatPostTestMouse(screen->window, kPlatMsgLButtonUp, play.x + 16, play.y + 16);
    kvtest::Pump();
    EXPECT_EQ(screen->sceneBar.position, 5u);
    EXPECT_EQ(screen->sceneBar.playDirection, 0);
    EXPECT_GE(screen->prefetch.hits, 4u);
    uint8_t r, g, b;
    screen->sourceImage.GetPixelRgb8(100, 100, &r, &g, &b);
    EXPECT_EQ(r, 120);
    const PlatFrame frame = kvtest::CaptureFrame(*screen, *screen);
    ASSERT_EQ(frame.width, 640);
    kvtest::SaveScreenshot(frame, "main-screen");
    // Close: the close box ends the loop.
    PlatPostMessage(screen->window, kPlatMsgClose);
    FgRunMessageLoop(screen.get());
    EXPECT_EQ(g_QuitRequested.load(), 1u);
    screen.reset();
    g_QuitRequested = 0;
}

}  // namespace
