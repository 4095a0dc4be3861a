// The settings file: written from the defaults, read back through a restart
// of the main screen, the values it accepts and ignores, damaged files, and
// a save that fails part-way.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "app/main_screen.h"
#include "app/support/main_screen_fixture.h"
#include "image/pool.h"
#include "platform/atomic_save.h"
#include "support/testsupport.h"
#include "toolkit/fg_file_select.h"

namespace {

using namespace kvapptest;
namespace fs = std::filesystem;

class SettingsTest : public MainScreenTest {
protected:
    std::string Folder() const { return fx.dir().path() + "/config/korvane"; }
    std::string CfgPath() const { return Folder() + "/korvane.cfg"; }
    void WriteCfg(const std::string& bytes) {
        fs::create_directories(Folder());
        std::ofstream(CfgPath(), std::ios::binary) << bytes;
    }
    // The program ends (writing its settings) and starts again (reading them).
    void Restart() {
        screen.reset();
        screen = std::make_unique<CMainScreen>();
    }
    // Starts a screen over `bytes`; the settings lines it printed on stderr.
    std::string StartWith(const std::string& bytes) {
        screen.reset();
        WriteCfg(bytes);
        testing::internal::CaptureStderr();
        screen = std::make_unique<CMainScreen>();
        const std::string err = testing::internal::GetCapturedStderr();
        std::string lines;
        size_t at = 0;
        while ((at = err.find("korvane: settings file", at)) != std::string::npos) {
            const size_t end = err.find('\n', at);
            lines += err.substr(at, end - at + 1);
            at = end;
        }
        return lines;
    }
};

TEST_F(SettingsTest, DefaultsWrittenAsGolden) {
    FgSetLastFileDir(L"/tmp");
    screen.reset();
    EXPECT_EQ(kvtest::ReadFileBytes(CfgPath()),
              "[korvane] {\n cfg_ver 1\n use_cpu 4\n last_dir /tmp\n wheel_mode 2\n color_picker 1\n"
              " guide_color 1\n frame_skip 0\n auto_ms_per_frame 1\n ms_per_frame 33\n zoom 0\n connect 8\n bg 1\n"
              " lang jp\n axis_y 1\n scale 1\n unit \n ext png\n encode_codec 1\n encode_jpg 75\n"
              " encode_mp4_bps_sel 0\n encode_mp4_bps 5000000\n encode_mp4_ql 25\n encode_mp4_key_sel 1\n"
              " encode_mp4_key 10\n encode_regist 2\n}\n");
    // Nothing is left beside it.
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(Folder())) files += entry.is_regular_file();
    EXPECT_EQ(files, 1u);
}

TEST_F(SettingsTest, RestartKeepsWhatTheUserSet) {
    screen->SetLanguage(L"en");
    screen->SetGuideColor(6);
    screen->picture.SetZoom(4);
    screen->calibration.SetCalibration(1.4e-6, -1, L"µm");
    screen->saveSettings.jpegQuality = 90;
    screen->saveSettings.aviCodec = 2;
    screen->saveSettings.mp4Bps = 4294967295u;
    screen->saveSettings.mp4RateMode = 1;
    screen->saveSettings.pathPolicy = 0;
    std::wcscpy(screen->saveSettings.extension, L"tif");
    screen->MenuCommand(g_ConfigMenuItem, 402);
    Restart();
    EXPECT_EQ(screen->sidePanel.language, L"en");
    EXPECT_EQ(screen->saveSettings.english, 1u);
    EXPECT_EQ(screen->menuBar.items[0].label, L"File");
    EXPECT_EQ(screen->guideColor, 6u);
    EXPECT_EQ(screen->sidePanel.guideBlue, 0.0);
    EXPECT_EQ(screen->picture.zoom, 4);
    // The scale survives in plain decimals ("%lf" would give 0.000001).
    EXPECT_EQ(screen->calibration.scale, 1.4e-6);
    EXPECT_EQ(screen->sidePanel.calibScale, 1.4e-6);
    EXPECT_EQ(screen->calibration.axisY, -1);
    EXPECT_STREQ(screen->sidePanel.calibUnit, L"µm");
    EXPECT_EQ(screen->saveSettings.jpegQuality, 90u);
    EXPECT_EQ(screen->saveSettings.aviCodec, 2u);
    EXPECT_EQ(screen->saveSettings.mp4Bps, 4294967295u);
    EXPECT_EQ(screen->saveSettings.mp4RateMode, 1u);
    EXPECT_EQ(screen->saveSettings.pathPolicy, 0u);
    EXPECT_STREQ(screen->saveSettings.extension, L"tif");
    EXPECT_EQ(g_PoolThreadCount.load(), 2u);
    SetWorkerThreadCount(4);
}

TEST_F(SettingsTest, AcceptedAndIgnoredValues) {
    struct Case {
        const char* line;
        std::function<bool(CMainScreen&)> check;
    };
    const Case cases[] = {
        {"use_cpu 3", [](CMainScreen&) { return g_PoolThreadCount.load() == 3; }},
        {"use_cpu 0", [](CMainScreen&) { return g_PoolThreadCount.load() == 4; }},
        {"use_cpu 2", [](CMainScreen&) { return g_PoolThreadCount.load() == 2; }},
        {"use_cpu -1", [](CMainScreen&) { return g_PoolThreadCount.load() == 4; }},
        {"use_cpu 9", [](CMainScreen&) { return g_PoolThreadCount.load() == 4; }},
        {"frame_skip true", [](CMainScreen& s) { return s.frameSkip == 0; }},
        {"frame_skip 1", [](CMainScreen& s) { return s.frameSkip == 1 && s.sceneBar.frameSkip == 1; }},
        {"zoom 3", [](CMainScreen& s) { return s.picture.zoom == 0; }},
        {"zoom -2", [](CMainScreen& s) { return s.picture.zoom == -2; }},
        {"ext jpeg", [](CMainScreen& s) { return std::wcscmp(s.saveSettings.extension, L"jpeg") == 0; }},
        {"ext tiffany", [](CMainScreen& s) { return std::wcscmp(s.saveSettings.extension, L"tiff") == 0; }},
        {"wheel_mode x", [](CMainScreen& s) { return s.wheelMode == 2; }},
        {"wheel_mode 0", [](CMainScreen& s) { return s.wheelMode == 0; }},
        {"guide_color 8", [](CMainScreen& s) { return s.guideColor == 1; }},
        {"ms_per_frame 0", [](CMainScreen& s) { return s.msPerFrame == 33; }},
        {"ms_per_frame 50", [](CMainScreen& s) { return s.msPerFrame == 50 && s.sceneBar.msPerScene == 50; }},
        {"connect 6", [](CMainScreen& s) { return s.sidePanel.connect.load() == 8; }},
        {"bg 0", [](CMainScreen& s) { return s.sidePanel.bg.load() == 0; }},
        {"axis_y 2", [](CMainScreen& s) { return s.calibration.axisY == 1; }},
        {"scale 0", [](CMainScreen& s) { return s.calibration.scale == 1.0; }},
        {"scale 1e-6", [](CMainScreen& s) { return s.calibration.scale == 1.0; }},
        {"scale 0.0000004", [](CMainScreen& s) { return s.calibration.scale == 4e-7 && s.sidePanel.calibScale == 4e-7; }},
        {"encode_jpg 101", [](CMainScreen& s) { return s.saveSettings.jpegQuality == 75; }},
        {"encode_jpg 100", [](CMainScreen& s) { return s.saveSettings.jpegQuality == 100; }},
        // Beyond 32 bits is refused, not wrapped to 0.
        {"encode_mp4_bps 4294967296", [](CMainScreen& s) { return s.saveSettings.mp4Bps == 5000000; }},
        {"encode_mp4_key 4294967297", [](CMainScreen& s) { return s.saveSettings.mp4KeyFrame == 10; }},
        {"encode_mp4_ql 101", [](CMainScreen& s) { return s.saveSettings.mp4Quality == 101; }},
        {"encode_mp4_ql 102", [](CMainScreen& s) { return s.saveSettings.mp4Quality == 25; }},
        {"encode_mp4_bps_sel 7", [](CMainScreen& s) { return s.saveSettings.mp4RateMode == 1; }},
        {"encode_mp4_key_sel 0", [](CMainScreen& s) { return s.saveSettings.mp4KeyFrameOn == 0; }},
        {"encode_codec 3", [](CMainScreen& s) { return s.saveSettings.aviCodec == 1; }},
        {"encode_regist 1", [](CMainScreen& s) { return s.saveSettings.pathPolicy == 1; }},
        {"lang en", [](CMainScreen& s) { return s.sidePanel.language == L"en" && s.calibration.english == 1; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(StartWith(std::string("[korvane] {\n cfg_ver 1\n ") + c.line + "\n}\n"), "");
        EXPECT_TRUE(c.check(*screen));
        SetWorkerThreadCount(4);
    }
    // Written back in plain decimals.
    StartWith("[korvane] {\n cfg_ver 1\n scale 0.0000004\n}\n");
    screen.reset();
    EXPECT_NE(kvtest::ReadFileBytes(CfgPath()).find(" scale 0.0000004\n"), std::string::npos);
}

// A time per frame no movie can hold is damage: the default stays, one
// line says so, and the rest of the file applies.
TEST_F(SettingsTest, MsPerFrameBeyondAnyMovieIsRefusedWithOneLine) {
    struct Case {
        const char* value;
        uint64_t expected;
        bool refused;
    };
    const Case cases[] = {
        {"18446744073709551615", 33, true},
        {"4294967296", 33, true},
        {"4294968", 33, true},
        {"4294967", 4294967, false},
        {"1", 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        const std::string lines =
            StartWith(std::string("[korvane] {\n cfg_ver 1\n guide_color 5\n ms_per_frame ") + c.value + "\n}\n");
        if (c.refused) {
            EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 1) << lines;
            EXPECT_NE(lines.find(CfgPath()), std::string::npos) << lines;
            EXPECT_NE(lines.find("ms_per_frame"), std::string::npos) << lines;
        } else {
            EXPECT_EQ(lines, "");
        }
        EXPECT_EQ(screen->msPerFrame, c.expected);
        EXPECT_EQ(screen->sceneBar.msPerScene, c.expected);
        EXPECT_EQ(screen->guideColor, 5u);
    }
}

TEST_F(SettingsTest, CrLfFileIsRead) {
    EXPECT_EQ(StartWith("[korvane] {\r\n cfg_ver 1\r\n guide_color 3\r\n lang en\r\n unit mm\r\n}\r\n"), "");
    EXPECT_EQ(screen->guideColor, 3u);
    EXPECT_EQ(screen->sidePanel.language, L"en");
    EXPECT_STREQ(screen->calibration.unit, L"mm");
}

TEST_F(SettingsTest, DamagedFilesGiveDefaultsAndOneLine) {
    const std::string good = "[korvane] {\n cfg_ver 1\n lang en\n guide_color 5\n}\n";
    struct Case {
        const char* what;
        std::string bytes;
        const char* reason;
    };
    const Case cases[] = {
        {"empty", "", "no \"korvane\" section"},
        {"truncated inside a line", good.substr(0, good.find("guide_co") + 8), "cut short"},
        {"binary", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), "not settings text"},
        {"invalid UTF-8", "[korvane] {\n cfg_ver 1\n unit \xff\xfe\n lang en\n}\n", "not settings text"},
        {"no section", " cfg_ver 1\n lang en\n", "no \"korvane\" section"},
        {"other section", "[other] {\n cfg_ver 1\n lang en\n}\n", "no \"korvane\" section"},
        {"no version", "[korvane] {\n lang en\n guide_color 5\n}\n", "no \"cfg_ver\""},
        {"version 2", "[korvane] {\n cfg_ver 2\n lang en\n guide_color 5\n}\n", "newer version"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string lines = StartWith(c.bytes);
        EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 1) << lines;
        EXPECT_NE(lines.find(CfgPath()), std::string::npos) << lines;
        EXPECT_NE(lines.find(c.reason), std::string::npos) << lines;
        EXPECT_EQ(screen->sidePanel.language, L"jp");
        EXPECT_EQ(screen->guideColor, 1u);
    }
    // A folder where the file should be cannot be read; no file says nothing.
    screen.reset();
    fs::remove(CfgPath());
    fs::create_directories(CfgPath());
    testing::internal::CaptureStderr();
    screen = std::make_unique<CMainScreen>();
    EXPECT_NE(testing::internal::GetCapturedStderr().find("korvane: settings file"), std::string::npos);
    screen.reset();
    fs::remove(CfgPath());
    testing::internal::CaptureStderr();
    screen = std::make_unique<CMainScreen>();
    EXPECT_EQ(testing::internal::GetCapturedStderr().find("korvane: settings file"), std::string::npos);
}

int32_t TruncateAndFail(const char* temporary, void* user) {
    *static_cast<std::string*>(user) = temporary;
    std::ofstream(temporary, std::ios::binary | std::ios::trunc) << "[korvane] {\n cfg_v";
    return 0;
}

TEST_F(SettingsTest, FailedSaveKeepsTheOldFile) {
    screen->SetGuideColor(4);
    screen.reset();
    const std::string before = kvtest::ReadFileBytes(CfgPath());
    ASSERT_NE(before.find("guide_color 4"), std::string::npos);
    screen = std::make_unique<CMainScreen>();
    screen->SetGuideColor(2);
    std::string temporary;
    const AtomicSaveHook previous = AtomicSaveSetTestHook(&TruncateAndFail, &temporary);
    screen->SaveSettings();
    AtomicSaveSetTestHook(previous, nullptr);
    EXPECT_EQ(temporary.rfind(Folder() + "/.korvane.", 0), 0u) << temporary;
    EXPECT_EQ(temporary.substr(temporary.size() - 4), ".cfg");
    EXPECT_EQ(kvtest::ReadFileBytes(CfgPath()), before);
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(Folder())) files += entry.is_regular_file();
    EXPECT_EQ(files, 1u);
}

}  // namespace
