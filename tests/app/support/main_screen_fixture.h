// The main screen's test fixture: a screen on the offscreen driver with a
// four-thread pool, a probe filter, and pictures made by ImageMagick.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/main_screen.h"
#include "filters/core/imgfilter.h"
#include "image/pool.h"
#include "platform/utf8.h"
#include "support/testsupport.h"
#include "toolkit/fg_loop.h"
#include "toolkit/support/ui_input.h"

namespace kvapptest {

inline std::wstring W(const std::string& s) { return PlatUtf8ToWide(s.c_str()); }

// A filter that records its mouse input and inverts 8-bit RGB frames.
class ProbeFilter : public CImgFilter {
public:
    std::vector<std::string>* log = nullptr;
    std::atomic<int> runs{0};
    bool invert = false;
    char tag = '?';  // a name for orders in tests
    const wchar_t* GetName(const wchar_t*) override { return L"Probe"; }
    int32_t OnFilter(CImgBuff* image, uint64_t, int64_t, int64_t, int64_t, int64_t, uint32_t, uint32_t, uint32_t*,
                     uint32_t*) override {
        ++runs;
        if (invert && image->buffer->format == kImgRgb8) {
            C_ImgBuff* b = image->buffer;
            const uint64_t n = static_cast<uint64_t>(b->width) * b->height * 3;
            for (uint64_t i = 0; i < n; ++i) b->pixels[i] = 255 - b->pixels[i];
        }
        return 1;
    }
    void Note(const char* what, int64_t x, int64_t y, uint32_t flags) {
        if (!log) return;
        char text[96];
        std::snprintf(text, sizeof text, "%s %lld,%lld f%u", what, static_cast<long long>(x),
                      static_cast<long long>(y), flags);
        log->push_back(text);
    }
    void OnMouseMove(int64_t x, int64_t y, uint32_t f) override { Note("move", x, y, f); }
    void OnLButtonDown(int64_t x, int64_t y, uint32_t f) override { Note("ldown", x, y, f); }
    void OnLButtonUp(int64_t x, int64_t y, uint32_t f) override { Note("lup", x, y, f); }
    void OnRButtonDown(int64_t x, int64_t y, uint32_t f) override { Note("rdown", x, y, f); }
    void OnRButtonUp(int64_t x, int64_t y, uint32_t f) override { Note("rup", x, y, f); }
};

// Fixtures made by ImageMagick.
class Fixtures {
public:
    Fixtures() : dir_("main_screen") {}
    // A solid 8-bit RGB picture of the given size and colour.
    std::string Solid(const std::string& name, int w, int h, int r, int g, int b, const std::string& extra = "") {
        const std::string path = dir_.file(name);
        char cmd[512];
        std::snprintf(cmd, sizeof cmd, "convert -size %dx%d xc:'rgb(%d,%d,%d)' %s '%s'", w, h, r, g, b, extra.c_str(),
                      path.c_str());
        EXPECT_EQ(kvtest::RunCommand(cmd), 0) << cmd;
        return path;
    }
    // Frames stem_001.png .. stem_NNN.png, frame k with red = 20 k and a white
    // square whose left edge moves with k.
    std::vector<std::string> Sequence(const std::string& stem, int count, int w = 64, int h = 48) {
        std::vector<std::string> paths;
        for (int k = 1; k <= count; ++k) {
            char name[64], cmd[512];
            std::snprintf(name, sizeof name, "%s_%03d.png", stem.c_str(), k);
            const std::string path = dir_.file(name);
            std::snprintf(cmd, sizeof cmd,
                          "convert -size %dx%d xc:'rgb(%d,60,90)' -fill white -draw 'rectangle %d,4 %d,12' "
                          "-define png:color-type=2 '%s'",
                          w, h, 20 * k, 2 * k, 2 * k + 6, path.c_str());
            EXPECT_EQ(kvtest::RunCommand(cmd), 0) << cmd;
            paths.push_back(path);
        }
        return paths;
    }
    const kvtest::TempDir& dir() const { return dir_; }

private:
    kvtest::TempDir dir_;
};

class MainScreenTest : public testing::Test {
protected:
    void SetUp() override {
        // The settings file is read and written in a folder of the test's own.
        setenv("XDG_CONFIG_HOME", (fx.dir().path() + "/config").c_str(), 1);
        // Four processors, so that the CPU menu is the same on every machine.
        PoolSetProcessorCountForTesting(4);
        PoolStart();
        PoolSetThreadCount(4);
        screen = std::make_unique<CMainScreen>();
        ASSERT_EQ(screen->Create(-1, -1, 640, 500, L"korvane 1.11.0", kFgStyleResizable, nullptr), 1);
        std::wcscpy(screen->baseTitle, L"korvane 1.11.0");
        screen->Layout();
        kvtest::Pump();
    }
    void TearDown() override {
        screen.reset();
        // A test that ran the main loop leaves the quit of its screen's
        // destruction queued and the flag set: neither reaches the next test.
        g_MainScreen = nullptr;
        kvtest::Pump();
        g_QuitRequested = 0;
        PoolStop();
    }
    ProbeFilter* AddProbe() {
        auto* f = new ProbeFilter;
        f->log = &log;
        EXPECT_EQ(screen->AddFilterToChain(f, 1), 1);
        return f;
    }
    std::string File(const std::wstring&) const { return PlatWideToUtf8(CMainScreen::BuildFileMenu(screen.get(), 0)); }
    std::string Menu(const wchar_t* (*build)(void*, int32_t)) const {
        return PlatWideToUtf8(build(screen.get(), 0));
    }
    int32_t ImageCenterX() const { return screen->picture.fit.x0 + (screen->picture.fit.x1 - screen->picture.fit.x0) / 2; }
    int32_t ImageCenterY() const { return screen->picture.fit.y0 + (screen->picture.fit.y1 - screen->picture.fit.y0) / 2; }

    std::unique_ptr<CMainScreen> screen;
    std::vector<std::string> log;
    Fixtures fx;
};

}  // namespace kvapptest
