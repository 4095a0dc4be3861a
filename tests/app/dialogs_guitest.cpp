// The calibration, play range and image save settings dialogs on the
// offscreen driver, driven by injected clicks and typed characters in both
// languages; message boxes are answered through the modal-start hook.
#include <gtest/gtest.h>

#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "app/main_screen.h"
#include "app/support/main_screen_fixture.h"
#include "filters/analysis/sequence_run.h"
#include "media/codec.h"
#include "platform/plat_messages.h"
#include "support/testsupport.h"
#include "toolkit/support/file_select_answer.h"
#include "toolkit/support/ui_input.h"

namespace {

using namespace kvapptest;

void Click(CFgUIDialog& dialog, const CFgUIObj& control) {
    PlatPostTestClick(dialog.window, control.x + control.width / 2, control.y + control.height / 2);
    kvtest::Pump();
}

// Replaces an edit's text as a user does: a click at its end, Backspace
// over what is there, then the new characters.
void Type(CFgUIDialog& dialog, const CFgUIEdit& edit, const std::wstring& text) {
    PlatPostTestClick(dialog.window, edit.x + edit.width - 2, edit.y + edit.height / 2);
    for (int k = 0; k < 24; ++k) kvtest::PostTypedKey(dialog.window, kvtest::kVkBack, 8);
    kvtest::PostText(dialog.window, text);
    kvtest::Pump();
}

std::wstring Text(const CFgUIEdit& edit) { return edit.GetText() ? edit.GetText() : L""; }

void Screenshot(CFgUIDialog& dialog, const std::string& name) {
    const PlatFrame frame = kvtest::CaptureFrame(dialog, dialog);
    ASSERT_GT(frame.width, 0);
    kvtest::SaveScreenshot(frame, name);
}

class DialogsTest : public MainScreenTest {
protected:
    // A control point of the main window over image pixel (ix, iy).
    bool PointOver(int32_t ix, int32_t iy, int32_t* cx, int32_t* cy) {
        const int32_t* r = screen->pictureRect;
        for (int32_t y = r[1]; y < r[1] + r[3]; ++y)
            for (int32_t x = r[0]; x < r[0] + r[2]; ++x) {
                int32_t px = x, py = y;
                if (screen->picture.ControlToImage(&px, &py) && px == ix && py == iy) {
                    *cx = x;
                    *cy = y;
                    return true;
                }
            }
        return false;
    }
    void ClickImage(int32_t ix, int32_t iy, bool right = false) {
        int32_t cx = 0, cy = 0;
        ASSERT_TRUE(PointOver(ix, iy, &cx, &cy));
        const uint32_t w = screen->window;
        PlatPostTestMouse(w, right ? kPlatMsgRButtonDown : kPlatMsgLButtonDown, cx, cy);
        PlatPostTestMouse(w, right ? kPlatMsgRButtonUp : kPlatMsgLButtonUp, cx, cy);
        kvtest::Pump();
    }
    // A 100-frame MJPG AVI made by ffmpeg.
    std::string Movie100() {
        const std::string path = fx.dir().file("hundred.avi");
        EXPECT_EQ(kvtest::RunCommand("ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=30 -frames:v 100 "
                                     "-c:v mjpeg -q:v 3 '" + path + "'"),
                  0);
        return path;
    }
};

// --- calibration ---

TEST_F(DialogsTest, CalibrationOpensWithTheCommittedScaleInBothLanguages) {
    screen->calibration.SetCalibration(0.05, 1, L"mm");
    for (const wchar_t* language : {L"en", L"jp"}) {
        screen->SetLanguage(language);
        screen->MenuCommand(g_ConfigMenuItem, 20001);
        CCalibrationUI& c = screen->calibration;
        ASSERT_TRUE(c.IsOpen());
        EXPECT_EQ(Text(c.pixelsEdit), L"1");
        EXPECT_EQ(Text(c.lengthEdit), L"0.05");
        EXPECT_EQ(Text(c.unitEdit), L"mm");
        EXPECT_EQ(c.yDownRadio.GetGroupSelection(), 0);
        EXPECT_STREQ(c.title, std::wcscmp(language, L"jp") == 0 ? L"キャリブレーション設定" : L"Calibration");
        EXPECT_EQ(c.width, 280u);
        EXPECT_EQ(c.height, 176u);
        Screenshot(c, std::string("calibration-") + (language[0] == L'j' ? "jp" : "en"));
        c.QueryClose();
        c.Destroy();
    }
    // A scale too small for "%lf" is shown whole.
    screen->calibration.SetCalibration(1.4e-6, -1, L"m");
    screen->calibration.Show(screen.get());
    EXPECT_EQ(Text(screen->calibration.lengthEdit), L"0.0000014");
    EXPECT_EQ(screen->calibration.yDownRadio.GetGroupSelection(), 1);
}

TEST_F(DialogsTest, CalibrationSetCommitsAndReRunsTheChain) {
    screen->OpenFile(W(fx.Solid("cal.png", 40, 30, 10, 20, 30)).c_str());
    ProbeFilter* probe = AddProbe();
    screen->SetLanguage(L"en");
    screen->MenuCommand(g_ConfigMenuItem, 20001);
    CCalibrationUI& c = screen->calibration;
    Type(c, c.pixelsEdit, L"200");
    Type(c, c.lengthEdit, L"10");
    Type(c, c.unitEdit, L"cm");
    Click(c, c.yUpRadio);
    const int runs = probe->runs;
    Click(c, c.setButton);
    EXPECT_EQ(c.scale, 0.05);
    EXPECT_EQ(c.axisY, -1);
    EXPECT_STREQ(c.unit, L"cm");
    EXPECT_EQ(screen->sidePanel.calibScale, 0.05);
    EXPECT_EQ(screen->sidePanel.calibAxisY, -1);
    EXPECT_EQ(probe->calibScale, 0.05);
    EXPECT_GT(probe->runs, runs);
    EXPECT_TRUE(c.IsOpen());

    // Refused: text, zero, infinities and not-a-number; nothing changes.
    kvtest::ModalAnswers answers;
    const wchar_t* bad[][2] = {{L"200", L"abc"}, {L"0", L"10"}, {L"1", L"inf"}, {L"nan", L"1"},
                               {L"1e-320", L"1e300"}, {L"-5", L"1"}};
    for (const auto& b : bad) {
        Type(c, c.pixelsEdit, b[0]);
        Type(c, c.lengthEdit, b[1]);
        Click(c, c.setButton);
    }
    ASSERT_EQ(answers.messages.size(), 6u);
    for (const std::wstring& m : answers.messages) EXPECT_EQ(m, L"the length value is incorrect");
    EXPECT_EQ(c.scale, 0.05);
    EXPECT_EQ(screen->sidePanel.calibScale, 0.05);
    screen->SetLanguage(L"jp");
    Type(c, c.lengthEdit, L"abc");
    Click(c, c.setButton);
    ASSERT_EQ(answers.messages.size(), 7u);
    EXPECT_EQ(answers.messages[6], L"長さの値が間違っています");
}

TEST_F(DialogsTest, CalibrationPointsFromClicksOnThePicture) {
    screen->OpenFile(W(fx.Solid("points.png", 40, 30, 10, 20, 30)).c_str());
    AddProbe();
    screen->MenuCommand(g_ConfigMenuItem, 20001);
    CCalibrationUI& c = screen->calibration;
    ClickImage(10, 10);
    ClickImage(13, 14);
    EXPECT_EQ(c.pointCount, 2);
    EXPECT_EQ(Text(c.pixelsEdit), L"5");
    EXPECT_EQ(c.editPixels, 5.0);
    ClickImage(20, 20);  // a third click is ignored
    EXPECT_EQ(c.pointCount, 2);
    EXPECT_EQ(c.pointX[1], 13);
    ClickImage(5, 5, true);  // a right click removes the last point
    EXPECT_EQ(c.pointCount, 1);
    ClickImage(16, 18);
    EXPECT_EQ(c.pointCount, 2);
    EXPECT_EQ(Text(c.pixelsEdit), L"10");
    // No filter saw a click while calibrating.
    for (const std::string& line : log) EXPECT_EQ(line.find("down"), std::string::npos) << line;
    Screenshot(*screen, "calibration-points");
    // Distances beyond 46,340 pixels do not overflow.
    c.pointCount = 0;
    c.AddPoint(0, 0);
    c.AddPoint(50000, 0);
    EXPECT_EQ(c.editPixels, 50000.0);
    // Closed, the clicks reach the filter again.
    c.QueryClose();
    c.Destroy();
    log.clear();
    ClickImage(3, 3);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0], "ldown 3,3 f0");
}

TEST_F(DialogsTest, CalibrationOutsideChangeAndLanguageSwitch) {
    screen->SetLanguage(L"en");
    screen->MenuCommand(g_ConfigMenuItem, 20001);
    CCalibrationUI& c = screen->calibration;
    Type(c, c.lengthEdit, L"7");
    // A filter changes the calibration: committed, the edits keep the user's.
    screen->sidePanel.ChangeCalibration(0.5, -1, L"in");
    EXPECT_EQ(c.scale, 0.5);
    EXPECT_EQ(c.axisY, -1);
    EXPECT_EQ(Text(c.lengthEdit), L"7");
    EXPECT_EQ(c.yDownRadio.GetGroupSelection(), 0);
    EXPECT_EQ(screen->sidePanel.calibScale, 0.5);
    // The language switch re-opens it at the same place.
    const int32_t x = c.x, y = c.y;
    screen->SetLanguage(L"jp");
    ASSERT_TRUE(c.IsOpen());
    EXPECT_STREQ(c.title, L"キャリブレーション設定");
    EXPECT_EQ(c.setButton.label, L"設定");
    EXPECT_EQ(c.placed, 1u);
    EXPECT_EQ(c.x, x);
    EXPECT_EQ(c.y, y);
}

// --- play range ---

TEST_F(DialogsTest, PlayRangeOverAHundredFrameMovie) {
    const std::string movie = Movie100();
    screen->OpenFile(W(movie).c_str());
    ASSERT_TRUE(screen->movieFile);
    ASSERT_EQ(screen->sceneBar.sceneCount, 100u);
    screen->SetLanguage(L"en");
    screen->MenuCommand(g_ViewMenuItem, 20004);
    CPlayEditUI& p = screen->playEdit;
    ASSERT_TRUE(p.IsOpen());
    EXPECT_EQ(Text(p.endEdit), L"100");
    kvtest::ModalAnswers answers;
    struct Case {
        const wchar_t *start, *end, *step;
        const wchar_t* message;  // null: accepted
        uint64_t scenes;
    };
    const Case cases[] = {
        {L"11", L"20", L"3", nullptr, 4},
        {L"1", L"100", L"1", nullptr, 100},
        {L"1", L"101", L"1", L"that's beyond the scope of the video", 100},
        {L"1", L"100", L"100", L"that's beyond the scope of the video", 100},
        {L"1", L"100", L"99", nullptr, 2},
        {L"5", L"4", L"1", L"the value you entered is incorrect", 2},
        {L"1", L"10", L"0", L"the value you entered is incorrect", 2},
        {L"x", L"10", L"1", L"the value you entered is incorrect", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(PlatWideToUtf8((std::wstring(c.start) + L"," + c.end + L"," + c.step).c_str()));
        const size_t before = answers.messages.size();
        Type(p, p.startEdit, c.start);
        Type(p, p.endEdit, c.end);
        Type(p, p.stepEdit, c.step);
        Click(p, p.setButton);
        if (c.message) {
            ASSERT_EQ(answers.messages.size(), before + 1);
            EXPECT_EQ(answers.messages.back(), c.message);
        } else {
            EXPECT_EQ(answers.messages.size(), before);
        }
        EXPECT_EQ(screen->sceneBar.sceneCount, c.scenes);
        if (std::wstring(c.start) == L"11") {
            EXPECT_EQ(screen->playRangeSet, 1u);
            const uint64_t frames[4] = {10, 13, 16, 19};
            for (uint64_t k = 0; k < 4; ++k) {
                screen->sceneBar.SetPosition(k);
                EXPECT_EQ(screen->currentFrame, frames[k]);
            }
        }
        if (std::wstring(c.step) == L"1" && std::wstring(c.end) == L"100") { EXPECT_EQ(screen->playRangeSet, 0u); }
    }
    EXPECT_EQ(p.rangeStep, 99u);
    // COPY takes the frame shown; RESET shows the whole movie but applies nothing.
    Type(p, p.startEdit, L"1");
    Type(p, p.endEdit, L"100");
    Type(p, p.stepEdit, L"1");
    Click(p, p.setButton);
    screen->sceneBar.SetPosition(40);
    Click(p, p.startCopy);
    EXPECT_EQ(Text(p.startEdit), L"41");
    EXPECT_EQ(p.editStart, 41u);
    Click(p, p.endCopy);
    Click(p, p.setButton);
    EXPECT_EQ(screen->sceneBar.sceneCount, 1u);
    Click(p, p.resetButton);
    EXPECT_EQ(Text(p.startEdit), L"1");
    EXPECT_EQ(Text(p.endEdit), L"100");
    EXPECT_EQ(Text(p.stepEdit), L"1");
    EXPECT_EQ(screen->sceneBar.sceneCount, 1u);
    Click(p, p.setButton);
    EXPECT_EQ(screen->sceneBar.sceneCount, 100u);
    Screenshot(p, "play-range-en");
    screen->SetLanguage(L"jp");
    ASSERT_TRUE(p.IsOpen());
    EXPECT_STREQ(p.title, L"動画再生設定");
    Screenshot(p, "play-range-jp");
}

TEST_F(DialogsTest, PlayRangeOfAStillStaysOneScene) {
    screen->OpenFile(W(fx.Solid("still.png", 20, 20, 1, 2, 3)).c_str());
    screen->SetLanguage(L"en");
    screen->playEdit.Show(screen.get());
    CPlayEditUI& p = screen->playEdit;
    kvtest::ModalAnswers answers;
    Click(p, p.resetButton);
    EXPECT_EQ(Text(p.endEdit), L"1");
    Type(p, p.endEdit, L"2");
    Click(p, p.setButton);
    ASSERT_EQ(answers.messages.size(), 1u);
    EXPECT_EQ(answers.messages[0], L"that's beyond the scope of the video");
    // A still has no scenes to step over: even its whole range is refused.
    Type(p, p.endEdit, L"1");
    Click(p, p.setButton);
    EXPECT_EQ(answers.messages.size(), 2u);
    EXPECT_EQ(screen->sceneBar.sceneCount, 1u);
    EXPECT_EQ(screen->playRangeSet, 0u);
    // Opening a sequence resets the dialog to its scene count.
    const std::vector<std::string> seq = fx.Sequence("r", 4);
    screen->OpenSequenceFiles(W(seq[0]).c_str(), W(seq[3]).c_str());
    EXPECT_EQ(Text(p.endEdit), L"4");
    EXPECT_EQ(p.rangeEnd, 4u);
}

// A filter's run locks the main screen and every dialog, the composite
// too: a play range SET mid-run would change the frames under the run.
// When the run ends inside a busy lock, that lock holds all but the composite.
TEST_F(DialogsTest, RunLockDisablesEveryDialogUntilTheRunEnds) {
    screen->SetLanguage(L"en");
    const std::vector<std::string> seq = fx.Sequence("k", 4);
    screen->OpenSequenceFiles(W(seq[0]).c_str(), W(seq[3]).c_str());
    ProbeFilter* filter = AddProbe();
    CPlayEditUI& p = screen->playEdit;
    screen->calibration.Show(screen.get());
    p.Show(screen.get());
    screen->saveSettings.Show(screen.get());
    screen->composite.Show(screen.get());
    const std::initializer_list<CFgUIDialog*> dialogs{screen.get(), &screen->calibration, &p, &screen->saveSettings,
                                                      &screen->composite};
    {
        CSequenceRun run(filter);
        ASSERT_EQ(run.Begin(nullptr, nullptr), CSequenceRun::kStarted);
        for (CFgUIDialog* d : dialogs) {
            EXPECT_EQ(d->CFgScreen::enabled, 0u) << PlatWideToUtf8(d->title);
            EXPECT_EQ(d->CFgUICtrl::enabled, 0u) << PlatWideToUtf8(d->title);
        }
        Type(p, p.endEdit, L"2");
        Click(p, p.setButton);
        EXPECT_EQ(screen->playRangeSet, 0u);
        EXPECT_EQ(screen->sceneBar.sceneCount, 4u);
        screen->LockDialogs();
    }
    for (CFgUIDialog* d : dialogs)
        EXPECT_EQ(d->CFgScreen::enabled, d == &screen->composite ? 1u : 0u) << PlatWideToUtf8(d->title);
    screen->UnlockDialogs();
    for (CFgUIDialog* d : dialogs) EXPECT_EQ(d->CFgScreen::enabled, 1u) << PlatWideToUtf8(d->title);
    Type(p, p.endEdit, L"2");
    Click(p, p.setButton);
    EXPECT_EQ(screen->sceneBar.sceneCount, 2u);
}

// --- image save settings ---

TEST_F(DialogsTest, SaveSettingsChecksAndCommits) {
    screen->SetLanguage(L"en");
    std::wcscpy(screen->saveSettings.extension, L"jpeg");
    screen->MenuCommand(g_ConfigMenuItem, 20002);
    CEncodeUI& e = screen->saveSettings;
    ASSERT_TRUE(e.IsOpen());
    // A committed extension none of the four shows png.
    EXPECT_EQ(e.extensionRadio[0].GetGroupSelection(), 2);
    EXPECT_EQ(Text(e.bpsEdit), L"5000000");
    EXPECT_EQ(Text(e.jpegEdit), L"75");
    Screenshot(e, "save-settings-en");
    kvtest::ModalAnswers answers;
    struct Case {
        const wchar_t *jpeg, *quality, *bps, *key;
        const wchar_t* message;
    };
    const Case cases[] = {
        {L"0", L"25", L"1", L"1", L"Jpg quality should be in the range of 1-100"},
        {L"101", L"25", L"1", L"1", L"Jpg quality should be in the range of 1-100"},
        {L"100", L"102", L"1", L"1", L"Mp4 quality should be in the range of 1-101"},
        {L"100", L"0", L"1", L"1", L"Mp4 quality should be in the range of 1-101"},
        {L"100", L"101", L"0", L"1", L"bps, Please set a value of 1 or more"},
        {L"100", L"101", L"1", L"abc", L"keyframe, Please set a value of 1 or more"},
        {L"100", L"101", L"-1", L"30", nullptr},
    };
    for (const Case& c : cases) {
        const size_t before = answers.messages.size();
        Type(e, e.jpegEdit, c.jpeg);
        Type(e, e.qualityEdit, c.quality);
        Type(e, e.bpsEdit, c.bps);
        Type(e, e.keyFrameEdit, c.key);
        Click(e, e.setButton);
        if (c.message) {
            ASSERT_EQ(answers.messages.size(), before + 1) << c.message;
            EXPECT_EQ(answers.messages.back(), c.message);
            EXPECT_EQ(e.jpegQuality, 75u);
        } else {
            EXPECT_EQ(answers.messages.size(), before);
        }
    }
    EXPECT_EQ(e.jpegQuality, 100u);
    EXPECT_EQ(e.mp4Quality, 101u);
    EXPECT_EQ(e.mp4Bps, 4294967295u);  // "-1" as a 32-bit strtoul reads it
    EXPECT_EQ(e.mp4KeyFrame, 30u);
    EXPECT_STREQ(e.extension, L"png");
    // Bit-rate mode: no quality for the writers; key frames off: no interval.
    codec_write_options o{};
    screen->sidePanel.GetEncodeSettings(&o);
    EXPECT_EQ(o.jpeg_quality, 100u);
    EXPECT_EQ(o.mp4_quality, 0u);
    EXPECT_EQ(o.mp4_key_interval, 30u);
    Click(e, e.rateRadio[1]);
    Click(e, e.keyFrameCheck);
    Click(e, e.codecRadio[2]);
    Click(e, e.extensionRadio[3]);
    Click(e, e.guideCheck);
    Click(e, e.areaCheck);
    Click(e, e.pathRadio[1]);
    screen->sidePanel.GetEncodeSettings(&o);
    EXPECT_EQ(o.mp4_quality, 0u);  // not committed yet
    Click(e, e.setButton);
    screen->sidePanel.GetEncodeSettings(&o);
    EXPECT_EQ(o.mp4_quality, 101u);
    EXPECT_EQ(o.mp4_key_interval, 0u);
    EXPECT_EQ(o.avi_codec, 2u);
    EXPECT_STREQ(e.extension, L"tif");
    EXPECT_EQ(e.saveWithGuide, 1u);
    EXPECT_EQ(e.saveSelectedArea, 1u);
    EXPECT_EQ(e.pathPolicy, 1u);
    // Japanese messages and labels; edits abandoned without SET are lost.
    screen->SetLanguage(L"jp");
    ASSERT_TRUE(e.IsOpen());
    EXPECT_STREQ(e.title, L"画像保存設定");
    Screenshot(e, "save-settings-jp");
    Type(e, e.jpegEdit, L"0");
    Click(e, e.setButton);
    EXPECT_EQ(answers.messages.back(), L"JPG品質は1-100の範囲の値を設定してください");
    e.QueryClose();
    e.Destroy();
    e.Show(screen.get());
    EXPECT_EQ(Text(e.jpegEdit), L"100");
}

// --- busy lock ---

TEST_F(DialogsTest, BusyLockDisablesTheThreeDialogs) {
    screen->calibration.Show(screen.get());
    screen->playEdit.Show(screen.get());
    screen->saveSettings.Show(screen.get());
    screen->LockDialogs();
    screen->LockDialogs();
    for (CFgUIDialog* d : std::initializer_list<CFgUIDialog*>{screen.get(), &screen->calibration, &screen->playEdit,
                                                             &screen->saveSettings}) {
        EXPECT_EQ(d->CFgUICtrl::enabled, 0u);
        EXPECT_EQ(d->CFgScreen::enabled, 0u);
    }
    EXPECT_EQ(screen->calibration.setButton.enabled, 0u);
    screen->UnlockDialogs();
    EXPECT_EQ(screen->playEdit.CFgUICtrl::enabled, 0u);
    screen->UnlockDialogs();
    for (CFgUIDialog* d : std::initializer_list<CFgUIDialog*>{screen.get(), &screen->calibration, &screen->playEdit,
                                                             &screen->saveSettings})
        EXPECT_EQ(d->CFgUICtrl::enabled, 1u);
    EXPECT_EQ(screen->saveSettings.setButton.enabled, 1u);
}

}  // namespace
