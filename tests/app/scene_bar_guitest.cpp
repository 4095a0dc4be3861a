// The scene bar: layout and thumb, the play loop with a scripted clock and
// a recorded sleep, drags, keys, and its drawing in a dialog.
#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "app/scene_bar.h"
#include "platform/plat_messages.h"
#include "toolkit/fg_dialog.h"
#include "toolkit/fg_loop.h"
#include "toolkit/support/ui_input.h"

namespace {

// Records every position it is told; may act on the bar at a position.
class Recorder : public CVideoPanelListener {
public:
    std::vector<uint64_t> seen;
    std::function<void(uint64_t)> at;
    void OnPositionChanged(uint64_t p) override {
        seen.push_back(p);
        if (at) at(p);
    }
};

// The play loop's clock: each pass reads it twice (start, end); `passes`
// gives the duration of each pass in order, 0 when none is left.
std::deque<uint32_t> g_Passes;
std::vector<uint32_t> g_Sleeps;
uint32_t g_Now = 0;
bool g_PassStarted = false;
uint32_t ScriptedTick() {
    if (!g_PassStarted) {
        g_PassStarted = true;
        return g_Now;
    }
    g_PassStarted = false;
    g_Now += g_Passes.empty() ? 0 : g_Passes.front();
    if (!g_Passes.empty()) g_Passes.pop_front();
    return g_Now;
}
std::function<void()> g_AfterSleep;
void RecordSleep(uint32_t ms) {
    g_Sleeps.push_back(ms);
    if (g_AfterSleep) g_AfterSleep();
}

class SceneBarTest : public testing::Test {
protected:
    void SetUp() override {
        // A quit message left by an earlier test would end the loop early.
        FgPumpMessages();
        g_QuitRequested = 0;
        g_Passes.clear();
        g_Sleeps.clear();
        g_AfterSleep = nullptr;
        g_Now = 0xFFFFFFF0u;  // the counter wraps during the test
        g_PassStarted = false;
        bar.tickCount = ScriptedTick;
        bar.sleep = RecordSleep;
        bar.listener = &recorder;
        bar.SetRect(0, 460, 640, 40);
        bar.Layout();
    }
    CVideoPanel bar;
    Recorder recorder;
};

TEST_F(SceneBarTest, LayoutPlacesButtonsTrackAndThumb) {
    const int32_t x0 = 640 - 36;
    EXPECT_EQ(bar.elements[kScenePlayForward].x, x0);
    EXPECT_EQ(bar.elements[kSceneStop].x, x0 - 32);
    EXPECT_EQ(bar.elements[kScenePlayBackward].x, x0 - 64);
    EXPECT_EQ(bar.elements[kSceneNext].x, x0 - 112);
    EXPECT_EQ(bar.elements[kScenePrevious].x, x0 - 144);
    EXPECT_EQ(bar.elements[kSceneFirst].x, -1);
    EXPECT_EQ(bar.elements[kSceneLast].x, -1);
    EXPECT_EQ(bar.elements[kSceneNext].y, 464);
    EXPECT_EQ(bar.trackStart, 0);
    EXPECT_EQ(bar.trackEnd, x0 - 176);
    // One scene: the thumb at the track's start.
    EXPECT_EQ(bar.elements[kSceneThumb].x, 0);
    EXPECT_EQ(bar.elements[kSceneThumb].hitX, 10);
    bar.sceneCount = 11;
    const struct {
        uint64_t position;
        int32_t x;
    } thumbs[] = {{0, 0}, {5, (428 + 1) * 5 / 10}, {10, 429}};
    for (const auto& t : thumbs) {
        bar.position = t.position;
        bar.UpdateThumb();
        EXPECT_EQ(bar.elements[kSceneThumb].x, t.x) << t.position;
    }
    // Narrower than 213 pixels: no track.
    bar.SetRect(0, 460, 212, 40);
    bar.Layout();
    EXPECT_EQ(bar.trackStart, -1);
    EXPECT_EQ(bar.trackEnd, -1);
    bar.SetRect(0, 460, 213, 40);
    bar.Layout();
    EXPECT_EQ(bar.trackStart, 0);
}

TEST_F(SceneBarTest, PlayLoopCases) {
    struct Case {
        const char* name;
        uint64_t count, start;
        int32_t direction;
        uint32_t frameSkip;
        std::vector<uint32_t> passes;
        std::vector<uint64_t> told;
        std::vector<uint32_t> sleeps;
    };
    const Case cases[] = {
        {"forward at the last scene", 5, 4, +1, 0, {}, {}, {}},
        {"backward from 3", 10, 3, -1, 0, {5, 5, 5}, {2, 1, 0}, {28, 28, 28}},
        {"a pass of exactly the interval", 3, 0, +1, 0, {33, 33}, {1, 2}, {0, 0}},
        {"late without skipping", 4, 0, +1, 0, {50, 50, 50}, {1, 2, 3}, {}},
        // 50 ms late: the next step is 50 / 33 + 1 = 2 scenes after a 17 ms sleep.
        {"late with skipping", 6, 0, +1, 1, {50, 10, 10}, {1, 3, 4, 5}, {17, 23, 23, 33}},
        {"skipping clamps at the end", 4, 0, +1, 1, {100, 10}, {1, 3}, {1, 23}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        recorder.seen.clear();
        bar.sceneCount = c.count;
        bar.position = c.start;
        bar.frameSkip = c.frameSkip;
        bar.msPerScene = 33;
        g_Passes.assign(c.passes.begin(), c.passes.end());
        bar.Play(c.direction);
        EXPECT_EQ(recorder.seen, c.told);
        EXPECT_EQ(g_Sleeps, c.sleeps);
        EXPECT_EQ(bar.playDirection, 0);
    }
}

// However long the interval (a settings file can hold 2^64 - 1), the loop
// waits in short slices and a stop or a quit ends it after the slice.
TEST_F(SceneBarTest, LongIntervalsWaitInSlicesAndStopAtOnce) {
    struct Case {
        const char* name;
        uint64_t msPerScene;
        uint32_t frameSkip;
        std::vector<uint32_t> passes;
        bool quit;  // else the stop button
    };
    const Case cases[] = {
        {"largest interval, stop", UINT64_MAX, 0, {7}, false},
        {"largest interval, quit", UINT64_MAX, 0, {7}, true},
        {"beyond 32 bits, stop", (uint64_t{1} << 32) + 40, 0, {7}, false},
        {"an hour, late with skipping, quit", 3600000, 1, {3600000 + 130}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        recorder.seen.clear();
        bar.sceneCount = 10;
        bar.position = 0;
        bar.msPerScene = c.msPerScene;
        bar.frameSkip = c.frameSkip;
        g_Passes.assign(c.passes.begin(), c.passes.end());
        g_AfterSleep = [&] {
            if (g_Sleeps.size() < 3) return;
            if (c.quit)
                g_QuitRequested = 1;
            else
                bar.playDirection = 0;
        };
        bar.Play(+1);
        EXPECT_EQ(recorder.seen, std::vector<uint64_t>{1});
        EXPECT_EQ(g_Sleeps.size(), 3u);
        for (uint32_t ms : g_Sleeps) EXPECT_LE(ms, 50u);
        g_AfterSleep = nullptr;
        g_QuitRequested = 0;
        bar.playDirection = 0;
    }
}

TEST_F(SceneBarTest, PlayingTheOtherWayReversesTheRunningLoop) {
    bar.sceneCount = 10;
    bar.position = 5;
    int loops = 0;
    recorder.at = [&](uint64_t p) {
        if (p == 7) {
            // The handler of the other play button, dispatched inside the loop.
            const int32_t old = bar.playDirection;
            bar.Play(-1);
            loops += old != 0 ? 0 : 1;
        }
        if (p == 4) bar.playDirection = 0;  // the stop button
    };
    bar.Play(+1);
    EXPECT_EQ(recorder.seen, (std::vector<uint64_t>{6, 7, 6, 5, 4}));
    EXPECT_EQ(loops, 0);
}

TEST_F(SceneBarTest, OneSceneChangesNothing) {
    bar.sceneCount = 1;
    EXPECT_EQ(bar.StepForward(), 0);
    EXPECT_EQ(bar.StepBackward(), 0);
    bar.Play(+1);
    bar.Play(-1);
    EXPECT_EQ(bar.SetPosition(1), 0);
    EXPECT_TRUE(recorder.seen.empty());
    EXPECT_EQ(bar.elements[kSceneThumb].x, bar.trackStart);
}

TEST_F(SceneBarTest, ThumbDragMovesByTrackLengthsAndClamps) {
    bar.sceneCount = 100;
    bar.position = 10;
    bar.UpdateThumb();
    const int32_t hitX = bar.elements[kSceneThumb].hitX;
    bar.OnMouseMove(hitX + 2, 10);
    ASSERT_EQ(bar.hovered, kSceneThumb);
    bar.playDirection = 1;
    bar.OnLButtonDown(hitX + 2, 10);
    EXPECT_EQ(bar.playDirection, 0);
    const int64_t span = bar.trackEnd - bar.trackStart + 1;
    bar.OnMouseMove(hitX + 2 + static_cast<int32_t>(span) / 10, 10);  // a tenth of the track
    EXPECT_EQ(bar.position, 10u + 100 * (span / 10) / span);
    bar.OnMouseMove(hitX + 2 + static_cast<int32_t>(span), 10);  // a whole track: clamped
    EXPECT_EQ(bar.position, 99u);
    bar.OnMouseMove(hitX + 2 - static_cast<int32_t>(span), 10);
    EXPECT_EQ(bar.position, 0u);
    bar.OnLButtonUp(0, 0);
    EXPECT_EQ(bar.dragAnchorX, 0);
    // Beyond 2^31 scenes the drag and the thumb stay exact in 64 bits.
    const uint64_t huge = uint64_t{1} << 40;
    bar.sceneCount = huge;
    bar.position = huge / 2;
    bar.UpdateThumb();
    EXPECT_EQ(bar.elements[kSceneThumb].x, static_cast<int32_t>(span * (huge / 2) / (huge - 1)));
    bar.dragAnchorX = 100;
    bar.dragStartPosition = huge / 2;
    bar.OnMouseMove(100 + 3, 10);
    EXPECT_EQ(bar.position, huge / 2 + static_cast<uint64_t>(3 * static_cast<__int128>(huge) / span));
    bar.OnMouseMove(100 + static_cast<int32_t>(span), 10);
    EXPECT_EQ(bar.position, huge - 1);
    bar.dragAnchorX = 0;
}

TEST_F(SceneBarTest, PlayLoopBeyondThirtyTwoBitScenes) {
    const uint64_t huge = (uint64_t{1} << 32) + 5;
    bar.sceneCount = huge;
    bar.position = huge - 3;
    bar.msPerScene = 1;
    bar.Play(+1);
    EXPECT_EQ(recorder.seen, (std::vector<uint64_t>{huge - 2, huge - 1}));
}

TEST_F(SceneBarTest, ArrowKeysStepPlayAndStop) {
    // The key state lives with the owner screen.
    CFgUIDialog dialog;
    ASSERT_EQ(dialog.Create(-1, -1, 640, 40, L"bar", 0, nullptr), 1);
    dialog.AddChild(&bar);
    bar.sceneCount = 5;
    bar.position = 2;
    bar.SetKeyState(8);  // right
    bar.OnKeyStateChanged();
    EXPECT_EQ(bar.position, 3u);
    bar.SetKeyState(4);  // left
    bar.OnKeyRepeat();
    EXPECT_EQ(bar.position, 2u);
    bar.SetKeyState(8 | 16);  // shift + right plays to the end
    bar.OnKeyStateChanged();
    EXPECT_EQ(bar.position, 4u);
    bar.SetKeyState(4 | 16);
    bar.OnKeyStateChanged();
    EXPECT_EQ(bar.position, 0u);
    bar.playDirection = 1;
    bar.SetKeyState(1);  // up stops
    bar.OnKeyStateChanged();
    EXPECT_EQ(bar.playDirection, 0);
    bar.SetKeyState(0);
    dialog.RemoveChild(&bar);
    dialog.Destroy();
}

// A dialog holding only the bar, to read back what it draws.
TEST(SceneBarDrawing, HoverBandIconsAndTheDisabledLook) {
    CFgUIDialog dialog;
    ASSERT_EQ(dialog.Create(-1, -1, 640, 40, L"bar", 0, nullptr), 1);
    CVideoPanel bar;
    dialog.AddChild(&bar);
    bar.SetRect(0, 0, 640, 40);
    bar.sceneCount = 20;
    bar.position = 10;
    bar.Layout();
    const SceneBarElement& play = bar.elements[kScenePlayForward];
    bar.OnMouseMove(play.x + 5, 10);
    ASSERT_EQ(bar.hovered, kScenePlayForward);
    PlatFrame frame = kvtest::CaptureFrame(dialog, dialog);
    kvtest::SaveScreenshot(frame, "scene-bar");
    const uint8_t* band = kvtest::PixelAt(frame, play.x + 1, 1);  // above the icon's frame
    EXPECT_NEAR(band[0], 0.7 * 255, 2);
    EXPECT_EQ(band[1], 255);
    const uint8_t* ground = kvtest::PixelAt(frame, bar.elements[kSceneStop].x + 1, 1);
    EXPECT_EQ(ground[0], 255);
    // The stop icon's dot is black when enabled, half-way grey when disabled.
    const int32_t dotX = bar.elements[kSceneStop].x + 16, dotY = bar.elements[kSceneStop].y + 16;
    EXPECT_LT(kvtest::PixelAt(frame, dotX, dotY)[0], 10);
    bar.enabled = 0;
    frame = kvtest::CaptureFrame(dialog, dialog);
    kvtest::SaveScreenshot(frame, "scene-bar-disabled");
    EXPECT_NEAR(kvtest::PixelAt(frame, dotX, dotY)[0], 128, 3);
    EXPECT_EQ(kvtest::PixelAt(frame, play.x + 1, 1)[0], 255);  // no hover band
    // A panel without a track still draws the end piece and the thumb.
    bar.enabled = 1;
    bar.SetRect(0, 0, 200, 40);
    bar.Layout();
    frame = kvtest::CaptureFrame(dialog, dialog);
    int ink = 0;
    for (int32_t x = 0; x < 10; ++x) ink += kvtest::PixelAt(frame, x, 20)[0] < 100 ? 1 : 0;
    EXPECT_GT(ink, 0);
    dialog.RemoveChild(&bar);
    dialog.Destroy();
}

}  // namespace
