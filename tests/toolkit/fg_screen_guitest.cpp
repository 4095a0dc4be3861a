// Screens on the offscreen driver: creation rules, context generations,
// painting read back from the frame buffer, the stencil clip, nesting,
// closing, resizing and the clipboard.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/plat_messages.h"
#include "platform/plat_window.h"
#include "support/testsupport.h"
#include "toolkit/fg_loop.h"
#include "toolkit/support/screen_recorder.h"

namespace {

using kvtest::RecordingScreen;

void Pump() { FgPumpMessages(); }

// The quad through the inclusive pixel rectangle, as every primitive draws it.
void FillRect(const CFgScreen& s, int32_t left, int32_t top, int32_t right, int32_t bottom) {
    glBegin(GL_QUADS);
    glVertex2d(s.PixelToGlX(left), s.PixelToGlY(top));
    glVertex2d(s.PixelToGlX(right + 1), s.PixelToGlY(top));
    glVertex2d(s.PixelToGlX(right + 1), s.PixelToGlY(bottom + 1));
    glVertex2d(s.PixelToGlX(left), s.PixelToGlY(bottom + 1));
    glEnd();
}

struct Rect {
    int32_t left, top, right, bottom;
    bool Contains(int32_t x, int32_t y) const { return x >= left && x <= right && y >= top && y <= bottom; }
};

// Pixels that differ from "red inside rect, black outside".
int CountWrongPixels(const PlatFrame& f, const Rect& r) {
    int wrong = 0;
    for (int32_t y = 0; y < f.height; ++y)
        for (int32_t x = 0; x < f.width; ++x) {
            const uint8_t* p = &f.rgba[(static_cast<size_t>(y) * f.width + x) * 4];
            bool red = p[0] == 255 && p[1] == 0 && p[2] == 0;
            bool black = p[0] == 0 && p[1] == 0 && p[2] == 0;
            if (r.Contains(x, y) ? !red : !black) ++wrong;
        }
    return wrong;
}

PlatFrame PaintAndCapture(CFgScreen& s, const std::function<void()>& draw) {
    PlatFrame frame;
    PlatCaptureNextSwap(s.window);
    if (!s.BeginPaint()) return frame;
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    draw();
    s.EndPaint(1);
    PlatTakeCapturedFrame(s.window, &frame);
    return frame;
}

void SaveScreenshot(const PlatFrame& f, const std::string& name) {
    kvtest::WritePngRgba(kvtest::ScreenshotDir() + "/" + name + ".png", f.width, f.height, f.rgba);
}

TEST(FgScreenCreate, RefusesBadArguments) {
    RecordingScreen s;
    const struct {
        int32_t x, y;
        uint64_t w, h;
        uint32_t style;
    } bad[] = {{-1, 0, 100, 100, 0}, {0, -1, 100, 100, 0}, {-2, -2, 100, 100, 0},
               {0, 0, 0, 100, 0},    {0, 0, 100, 0, 0},    {0, 0, 100, 100, 3}};
    for (const auto& b : bad) {
        EXPECT_EQ(s.Create(b.x, b.y, b.w, b.h, L"bad", b.style, nullptr), 0) << b.x << "," << b.y;
        EXPECT_EQ(s.window, 0u);
    }
}

TEST(FgScreenCreate, PlacesCentresAndRaisesToTheMinimum) {
    RecordingScreen parent;
    ASSERT_EQ(parent.Create(100, 50, 400, 300, L"parent", kFgStyleFixed, nullptr), 1);
    EXPECT_EQ(parent.x, 100);
    EXPECT_EQ(parent.y, 50);
    EXPECT_EQ(parent.Joined(), "show 1");
    EXPECT_EQ(parent.shown, 1u);
    EXPECT_EQ(parent.redraws, 1);

    RecordingScreen child;
    ASSERT_EQ(child.Create(-1, -1, 200, 100, L"child", kFgStyleFixed, &parent), 1);
    EXPECT_EQ(child.x, 200);
    EXPECT_EQ(child.y, 150);
    int32_t x = 0, y = 0, w = 0, h = 0;
    ASSERT_TRUE(PlatGetWindowRect(child.window, &x, &y, &w, &h));
    EXPECT_EQ(x, 200);
    EXPECT_EQ(y, 150);
    EXPECT_EQ(w, 200);
    EXPECT_EQ(h, 100);

    // A child larger than its parent overhangs it on both sides.
    RecordingScreen wide;
    ASSERT_EQ(wide.Create(-1, -1, 600, 300, L"wide", kFgStyleFixed, &parent), 1);
    EXPECT_EQ(wide.x, 0);
    EXPECT_EQ(wide.y, 50);

    const struct {
        uint32_t style;
        uint64_t w, h;
    } sizes[] = {{kFgStylePopup, 50, 20}, {kFgStyleFixed, 136, 39}, {kFgStyleResizable, 136, 39}};
    for (const auto& c : sizes) {
        RecordingScreen small;
        ASSERT_EQ(small.Create(0, 0, 50, 20, L"small", c.style, nullptr), 1);
        EXPECT_EQ(small.width, c.w) << "style " << c.style;
        EXPECT_EQ(small.height, c.h) << "style " << c.style;
        ASSERT_TRUE(PlatGetWindowRect(small.window, nullptr, nullptr, &w, &h));
        EXPECT_EQ(static_cast<uint64_t>(w), c.w);
        EXPECT_EQ(static_cast<uint64_t>(h), c.h);
    }
}

TEST(FgScreenCreate, TitleIsCutAndKeptWhenRecreated) {
    RecordingScreen s;
    std::wstring longTitle(300, L'あ');
    ASSERT_EQ(s.Create(0, 0, 200, 100, longTitle.c_str(), kFgStyleFixed, nullptr), 1);
    EXPECT_EQ(std::wstring(s.title), longTitle.substr(0, 255));
    // A new window with a null title keeps the stored one.
    s.Destroy();
    EXPECT_EQ(s.window, 0u);
    EXPECT_EQ(s.title[0], 0);
    ASSERT_EQ(s.Create(0, 0, 200, 100, nullptr, kFgStyleFixed, nullptr), 1);
    EXPECT_EQ(s.title[0], 0);
}

TEST(FgScreenCreate, HideAndShowMakeOneNewContext) {
    RecordingScreen s;
    ASSERT_EQ(s.Create(0, 0, 200, 100, L"gen", kFgStyleFixed, nullptr), 1);
    uint64_t generation = s.generation;
    void* firstContext = s.context;
    ASSERT_NE(firstContext, nullptr);
    s.events.clear();
    PlatShowWindow(s.window, false);
    EXPECT_EQ(s.shown, 0u);
    EXPECT_EQ(s.recreate, 1u);
    EXPECT_EQ(s.generation, generation);
    PlatShowWindow(s.window, true);
    EXPECT_EQ(s.generation, generation + 1);
    EXPECT_EQ(s.recreate, 0u);
    EXPECT_EQ(s.shown, 1u);
    EXPECT_NE(s.context, nullptr);
    Pump();  // the echoed show events are not delivered again
    EXPECT_EQ(s.Joined(), "show 0, show 1");
    ASSERT_EQ(s.BeginPaint(), 1);
    s.EndPaint(1);
}

TEST(FgScreenCreate, ResizeRecreatesTheContext) {
    const struct {
        uint32_t style;
        uint64_t storedWidth;
    } cases[] = {{kFgStyleResizable, 300}, {kFgStyleFixed, 200}};
    for (const auto& c : cases) {
        RecordingScreen s;
        ASSERT_EQ(s.Create(0, 0, 200, 100, L"size", c.style, nullptr), 1);
        uint64_t generation = s.generation;
        s.events.clear();
        PlatSetWindowSize(s.window, 300, 150);
        EXPECT_EQ(s.generation, generation + 1);
        EXPECT_EQ(s.width, c.storedWidth);
        Pump();
        EXPECT_EQ(s.Joined(), "size 300 150") << "style " << c.style;
    }
}

TEST(FgScreenClose, CloseBoxHonoursQueryCloseAndEnabled) {
    RecordingScreen s;
    ASSERT_EQ(s.Create(0, 0, 200, 100, L"close", kFgStyleFixed, nullptr), 1);
    s.events.clear();
    s.allowClose = 0;
    PlatPostMessage(s.window, kPlatMsgClose);
    Pump();
    EXPECT_NE(s.window, 0u);
    s.enabled = 0;
    s.allowClose = 1;
    PlatPostMessage(s.window, kPlatMsgClose);
    Pump();
    EXPECT_NE(s.window, 0u);
    EXPECT_EQ(s.Joined(), "query-close");
    s.enabled = 1;
    uint32_t id = s.window;
    PlatPostMessage(id, kPlatMsgClose);
    PlatPostTestClick(id, 1, 1);  // arrives after the window is gone: dropped
    Pump();
    EXPECT_EQ(s.window, 0u);
    EXPECT_FALSE(PlatWindowExists(id));
    EXPECT_EQ(s.Joined(), "query-close, query-close");
}

TEST(FgScreenClose, ScreenDestroyedInsideItsOwnHandler) {
    auto* s = new RecordingScreen;
    ASSERT_EQ(s->Create(0, 0, 200, 100, L"dies", kFgStyleFixed, nullptr), 1);
    uint32_t id = s->window;
    s->onClick = [](RecordingScreen* self, int32_t, int32_t) { delete self; };
    PlatPostTestClick(id, 3, 3);
    PlatPostTestKey(id, 'A', true);
    EXPECT_EQ(FgPumpMessages(), 1);  // the messages after the click find no screen
    EXPECT_FALSE(PlatWindowExists(id));
}

TEST(FgScreenClose, DestroyingTheMainScreenPostsQuit) {
    g_QuitRequested = 0;
    RecordingScreen s;
    ASSERT_EQ(s.Create(0, 0, 200, 100, L"main", kFgStyleFixed, nullptr), 1);
    g_MainScreen = &s;
    s.Destroy();
    EXPECT_EQ(FgPumpMessages(), 0);
    EXPECT_EQ(g_QuitRequested.load(), 1u);
    g_MainScreen = nullptr;
    g_QuitRequested = 0;
}

TEST(FgScreenPaint, InclusiveRectangleCoversExactlyItsPixels) {
    const struct {
        uint64_t w, h;
    } sizes[] = {{101, 77}, {64, 48}, {33, 9}};
    for (const auto& size : sizes) {
        RecordingScreen s;
        ASSERT_EQ(s.Create(0, 0, size.w, size.h, L"paint", kFgStylePopup, nullptr), 1);
        int32_t r = static_cast<int32_t>(size.w) - 1, b = static_cast<int32_t>(size.h) - 1;
        const Rect rects[] = {{0, 0, 0, 0}, {r, b, r, b}, {3, 2, r - 4, b - 1}, {0, 0, r, b}, {r / 2, 0, r / 2, b},
                              {0, b / 2, r, b / 2}, {1, 1, 2, 2}};
        for (const Rect& rect : rects) {
            PlatFrame f = PaintAndCapture(s, [&] {
                glColor3ub(255, 0, 0);
                FillRect(s, rect.left, rect.top, rect.right, rect.bottom);
            });
            ASSERT_EQ(f.width, static_cast<int32_t>(size.w));
            ASSERT_EQ(f.height, static_cast<int32_t>(size.h));
            EXPECT_EQ(CountWrongPixels(f, rect), 0)
                << size.w << "x" << size.h << " rect " << rect.left << "," << rect.top << "," << rect.right << ","
                << rect.bottom;
            if (&rect == &rects[2])
                SaveScreenshot(f, "screen_rect_" + std::to_string(size.w) + "x" + std::to_string(size.h));
        }
    }
}

TEST(FgScreenPaint, ConversionUsesTheRenderSizeOverride) {
    RecordingScreen s;
    ASSERT_EQ(s.Create(0, 0, 101, 77, L"conv", kFgStylePopup, nullptr), 1);
    // Pixel x sits half a pixel right of its left edge in OpenGL units.
    EXPECT_DOUBLE_EQ(s.PixelToGlX(0), -1.0 + 1.0 / 101);
    EXPECT_DOUBLE_EQ(s.PixelToGlX(101), 1.0 + 1.0 / 101);
    EXPECT_DOUBLE_EQ(s.PixelToGlY(0), 1.0 - 0.5 / 77);
    EXPECT_DOUBLE_EQ(s.PixelToGlY(77), -1.0 - 0.5 / 77);
    s.renderWidth = 16;
    s.renderHeight = 8;
    EXPECT_DOUBLE_EQ(s.PixelToGlX(8), 1.0 / 16);
    EXPECT_DOUBLE_EQ(s.PixelToGlY(4), -0.5 / 8);
}

TEST(FgScreenPaint, StencilClipKeepsDrawingInsideItsRectangle) {
    RecordingScreen s;
    ASSERT_EQ(s.Create(0, 0, 91, 61, L"clip", kFgStylePopup, nullptr), 1);
    const Rect clip{20, 10, 60, 40};
    PlatFrame f = PaintAndCapture(s, [&] {
        ASSERT_EQ(s.SetClipRect(clip.left, clip.top, clip.right, clip.bottom), 1);
        glColor3ub(255, 0, 0);
        FillRect(s, 0, 0, 90, 60);
        glDisable(GL_STENCIL_TEST);
    });
    EXPECT_EQ(CountWrongPixels(f, clip), 0);
    SaveScreenshot(f, "screen_stencil_clip");
    if (kvtest::HaveTool("convert")) {
        // ImageMagick's trim box of the saved picture is the clip rectangle.
        std::string box;
        ASSERT_EQ(kvtest::RunCommand("convert " + kvtest::ScreenshotDir() + "/screen_stencil_clip.png -format %@ info:",
                                     &box),
                  0);
        EXPECT_EQ(box, "41x31+20+10");
    }
    // The next paint starts unclipped: its stencil is cleared to 0.
    f = PaintAndCapture(s, [&] {
        glEnable(GL_STENCIL_TEST);
        glStencilFunc(GL_EQUAL, 0, ~0u);
        glColor3ub(255, 0, 0);
        FillRect(s, 0, 0, 90, 60);
        glDisable(GL_STENCIL_TEST);
    });
    EXPECT_EQ(CountWrongPixels(f, Rect{0, 0, 90, 60}), 0);
}

bool LockFreeOnOtherThread() {
    bool free = false;
    std::thread t([&] {
        free = g_GlLock.TryEnter();
        if (free) g_GlLock.Leave();
    });
    t.join();
    return free;
}

TEST(FgScreenPaint, NestedPaintsOnlyCount) {
    RecordingScreen s;
    ASSERT_EQ(s.Create(0, 0, 40, 30, L"nest", kFgStylePopup, nullptr), 1);
    PlatCaptureNextSwap(s.window);
    ASSERT_EQ(s.BeginPaint(), 1);
    ASSERT_EQ(s.BeginPaint(), 1);
    EXPECT_EQ(s.paintNesting, 2u);
    EXPECT_FALSE(LockFreeOnOtherThread());
    s.EndPaint(1);  // inner: no swap, lock still held
    PlatFrame f;
    EXPECT_FALSE(PlatTakeCapturedFrame(s.window, &f));
    EXPECT_FALSE(LockFreeOnOtherThread());
    EXPECT_EQ(g_RenderTargetKind, static_cast<uint32_t>(kFgTargetScreen));
    s.EndPaint(1);
    EXPECT_TRUE(PlatTakeCapturedFrame(s.window, &f));
    EXPECT_TRUE(LockFreeOnOtherThread());
    EXPECT_EQ(s.paintNesting, 0u);
    EXPECT_EQ(g_RenderTargetKind, static_cast<uint32_t>(kFgTargetNone));
    s.EndPaint(1);  // unmatched: nothing
    EXPECT_TRUE(LockFreeOnOtherThread());
}

TEST(FgScreenPaint, PaintOfAnotherScreenInsideAPaintKeepsTheOuterTarget) {
    RecordingScreen outer, inner;
    ASSERT_EQ(outer.Create(0, 0, 50, 40, L"outer", kFgStylePopup, nullptr), 1);
    ASSERT_EQ(inner.Create(60, 0, 20, 10, L"inner", kFgStylePopup, nullptr), 1);
    const Rect rect{5, 6, 30, 20};
    PlatFrame f = PaintAndCapture(outer, [&] {
        ASSERT_EQ(inner.BeginPaint(), 1);
        EXPECT_EQ(g_RenderTargetWidth, 20u);
        glClearColor(0, 0, 1, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        inner.EndPaint(1);
        EXPECT_EQ(g_RenderTargetKind, static_cast<uint32_t>(kFgTargetScreen));
        EXPECT_EQ(g_RenderTargetWidth, 50u);
        glColor3ub(255, 0, 0);
        FillRect(outer, rect.left, rect.top, rect.right, rect.bottom);
    });
    EXPECT_EQ(CountWrongPixels(f, rect), 0);
}

TEST(FgScreenPaint, WithoutAContextPaintingDoesNothing) {
    RecordingScreen s;
    EXPECT_EQ(s.BeginPaint(), 0);
    EXPECT_TRUE(LockFreeOnOtherThread());
    s.EndPaint(1);
}

TEST(FgScreenRedraw, RedrawFromAnotherThreadIsPostedOnce) {
    RecordingScreen s;
    ASSERT_EQ(s.Create(0, 0, 200, 100, L"redraw", kFgStyleFixed, nullptr), 1);
    Pump();
    s.redraws = 0;
    std::thread t([&] {
        for (int i = 0; i < 5; ++i) s.Redraw();
    });
    t.join();
    EXPECT_EQ(s.redraws, 0);
    Pump();
    EXPECT_EQ(s.redraws, 1);
}

TEST(FgScreenClipboard, RoundTripDropsCarriageReturns) {
    ASSERT_EQ(CFgScreen::SetClipboardText(L"ab\r\nc\r\n日本"), 1);
    // "ab\nc\n日本" and its terminator.
    EXPECT_EQ(CFgScreen::GetClipboardText(nullptr, 0), 8u);
    wchar_t buffer[16];
    std::fill(std::begin(buffer), std::end(buffer), L'#');
    EXPECT_EQ(CFgScreen::GetClipboardText(buffer, 0), 8u);  // size 0 writes nothing
    EXPECT_EQ(buffer[0], L'#');
    EXPECT_EQ(CFgScreen::GetClipboardText(buffer, 16), 8u);
    EXPECT_EQ(std::wstring(buffer), L"ab\nc\n日本");
    std::fill(std::begin(buffer), std::end(buffer), L'#');
    EXPECT_EQ(CFgScreen::GetClipboardText(buffer, 4), 8u);  // cut, still terminated
    EXPECT_EQ(std::wstring(buffer), L"ab\n");
    EXPECT_EQ(buffer[4], L'#');
    EXPECT_EQ(CFgScreen::SetClipboardText(L""), 1);
    EXPECT_EQ(CFgScreen::GetClipboardText(buffer, 16), 0u);
}

TEST(FgScreenIme, PointMustBeInside) {
    RecordingScreen s;
    ASSERT_EQ(s.Create(0, 0, 200, 100, L"ime", kFgStyleFixed, nullptr), 1);
    EXPECT_EQ(s.imeX, 0);
    EXPECT_EQ(s.SetImePoint(-1, 5), 0);
    EXPECT_EQ(s.SetImePoint(5, -1), 0);
    EXPECT_EQ(s.imeX, 0);
    EXPECT_EQ(s.SetImePoint(12, 34), 1);
    EXPECT_EQ(s.imeX, 12);
    EXPECT_EQ(s.imeY, 34);
}

}  // namespace
