// The main screen torn down while its chain worker and its frame reader are
// busy: no window is needed, so this runs in the sanitizer builds too.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>

#include "app/main_screen.h"
#include "filters/core/imgfilter.h"
#include "image/pool.h"
#include "platform/utf8.h"
#include "support/testsupport.h"

namespace {

class SlowInvert : public CImgFilter {
public:
    const wchar_t* GetName(const wchar_t*) override { return L"Slow invert"; }
    int32_t OnFilter(CImgBuff* image, uint64_t, int64_t, int64_t, int64_t, int64_t, uint32_t, uint32_t, uint32_t*,
                     uint32_t*) override {
        C_ImgBuff* b = image->buffer;
        const uint64_t n = static_cast<uint64_t>(b->width) * b->height * static_cast<uint64_t>(b->BytesPerPixel());
        for (int pass = 0; pass < 3; ++pass)
            for (uint64_t i = 0; i < n; ++i) b->pixels[i] = static_cast<uint8_t>(255 - b->pixels[i]);
        return 1;
    }
};

TEST(MainScreenTeardown, DestroyedDuringAsynchronousRunsAndReadsAhead) {
    if (!kvtest::HaveTool("convert")) GTEST_SKIP() << "needs ImageMagick";
    kvtest::TempDir dir("main_destroy");
    for (int k = 1; k <= 4; ++k) {
        char cmd[512];
        std::snprintf(cmd, sizeof cmd, "convert -size 640x480 xc:'rgb(%d,1,2)' -define png:color-type=2 '%s/d_%03d.png'",
                      30 * k, dir.path().c_str(), k);
        ASSERT_EQ(kvtest::RunCommand(cmd), 0);
    }
    setenv("XDG_CONFIG_HOME", (dir.path() + "/config").c_str(), 1);
    PoolStart();
    const std::wstring first = PlatUtf8ToWide((dir.path() + "/d_001.png").c_str());
    const std::wstring last = PlatUtf8ToWide((dir.path() + "/d_004.png").c_str());
    for (int round = 0; round < 3; ++round) {
        auto screen = std::make_unique<CMainScreen>();
        screen->OpenSequenceFiles(first.c_str(), last.c_str());
        ASSERT_EQ(screen->sceneBar.sceneCount, 4u);
        for (int i = 0; i < 3; ++i) ASSERT_EQ(screen->sidePanel.AddFilter(new SlowInvert), 1);
        screen->sceneBar.playDirection = 1;
        screen->sceneBar.position = 1;
        screen->currentFrame = 1;
        screen->LoadFrame(0);  // the reader starts on scene 2
        screen->RunFilterChain(1);
        screen->RunFilterChain(1);
        screen.reset();  // worker and reader joined before the images go
    }
    PoolStop();
}

}  // namespace
