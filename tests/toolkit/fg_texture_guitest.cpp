// Textures on a screen: texels land on the pixels they name, uploads from
// another thread wait for the next draw, a re-created context re-attaches,
// and rendering into a texture fills its CPU copy.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "image/imgbuff.h"
#include "platform/plat_window.h"
#include "toolkit/fg_draw.h"
#include "toolkit/fg_loop.h"
#include "toolkit/fg_texture.h"
#include "toolkit/support/screen_recorder.h"

namespace {

PlatFrame Paint(CFgScreen& s, const std::function<void()>& draw) {
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

const uint8_t* At(const PlatFrame& f, int32_t x, int32_t y) {
    return &f.rgba[(static_cast<size_t>(y) * f.width + x) * 4];
}

// A 5 x 3 RGB image whose every pixel is distinct.
void FillImage(CImgBuff& img, uint8_t base) {
    ASSERT_EQ(img.buffer->Create(5, 3, kImgRgb8), 1);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 5; ++x)
            img.buffer->SetPixelRgb8(x, y, static_cast<uint8_t>(base + 40 * x), static_cast<uint8_t>(base + 70 * y),
                                     static_cast<uint8_t>(base + 10 * (x + y)));
}

void ExpectImageAt(const PlatFrame& f, const CImgBuff& img, int32_t left, int32_t top) {
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 5; ++x) {
            uint8_t r, g, b;
            img.GetPixelRgb8(x, y, &r, &g, &b);
            const uint8_t* p = At(f, left + x, top + y);
            EXPECT_EQ(p[0], r) << x << "," << y;
            EXPECT_EQ(p[1], g) << x << "," << y;
            EXPECT_EQ(p[2], b) << x << "," << y;
        }
    EXPECT_EQ(At(f, left + 5, top)[0], 0) << "nothing right of the cell";
    EXPECT_EQ(At(f, left, top + 3)[1], 0) << "nothing below the cell";
}

class FgTextureScreen : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(s.Create(-1, -1, 64, 48, L"texture", kFgStyleFixed, nullptr), 1);
        FgPumpMessages();
    }
    kvtest::RecordingScreen s;
};

TEST_F(FgTextureScreen, CellTexelsLandOnTheirPixels) {
    CImgBuff img;
    FillImage(img, 20);
    CFgTexture t;
    ASSERT_EQ(t.SetFromImage(&img, 1), 1);
    EXPECT_EQ(t.texWidth, 8u);
    EXPECT_EQ(t.texHeight, 4u);
    ASSERT_EQ(t.AttachToScreen(&s), 1);
    const PlatFrame f = Paint(s, [&] { EXPECT_EQ(t.DrawCell(10, 7, 0, 0, 0), 1); });
    ExpectImageAt(f, img, 10, 7);
    // Another screen cannot take an attached texture.
    kvtest::RecordingScreen other;
    ASSERT_EQ(other.Create(-1, -1, 64, 48, L"other", kFgStyleFixed, nullptr), 1);
    EXPECT_EQ(t.AttachToScreen(&other), 0);
    EXPECT_EQ(t.DrawCell(0, 0, 0, 0, 1), 0) << "cell index past the grid";
}

TEST_F(FgTextureScreen, UploadFromAnotherThreadWaitsForTheNextDraw) {
    CImgBuff first, second;
    FillImage(first, 20);
    FillImage(second, 90);
    CFgTexture t;
    ASSERT_EQ(t.SetFromImage(&first, 1), 1);
    ASSERT_EQ(t.AttachToScreen(&s), 1);
    std::thread worker([&] {
        // The worker holds no context: the texture only records the change.
        EXPECT_EQ(t.SetFromImage(&second, 1), 1);
    });
    worker.join();
    EXPECT_EQ(t.uploadPending.load(), 1u);
    const PlatFrame f = Paint(s, [&] { t.DrawCell(3, 4, 0, 0, 0); });
    EXPECT_EQ(t.uploadPending.load(), 0u);
    ExpectImageAt(f, second, 3, 4);
}

TEST_F(FgTextureScreen, ANewContextReattachesOnTheNextDraw) {
    CImgBuff img;
    FillImage(img, 5);
    CFgTexture t;
    ASSERT_EQ(t.SetFromImage(&img, 1), 1);
    ASSERT_EQ(t.AttachToScreen(&s), 1);
    const uint64_t generation = s.generation;
    PlatShowWindow(s.window, false);
    PlatShowWindow(s.window, true);
    FgPumpMessages();
    ASSERT_EQ(s.generation, generation + 1);
    EXPECT_EQ(t.screenGeneration, generation);
    const PlatFrame f = Paint(s, [&] { t.DrawCell(0, 0, 0, 0, 0); });
    EXPECT_EQ(t.screenGeneration, s.generation);
    ExpectImageAt(f, img, 0, 0);
}

TEST_F(FgTextureScreen, RenderingIntoATextureFillsItsCpuCopy) {
    CFgTexture t;
    ASSERT_EQ(t.Create(6, 5, 1, 1, 1, nullptr), 1);
    ASSERT_EQ(t.AttachToScreen(&s), 1);
    ASSERT_EQ(t.BeginRenderTo(), 1);
    EXPECT_EQ(g_RenderTargetKind, static_cast<uint32_t>(kFgTargetTexture));
    EXPECT_EQ(s.renderWidth, 8);
    glClearColor(0, 1, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    t.EndRenderTo();
    EXPECT_EQ(s.renderWidth, 0);
    EXPECT_EQ(t.rendering, 0u);
    CImgBuff img;
    ASSERT_EQ(img.CopyFromTexture(&t), 1);
    ASSERT_EQ(img.buffer->width, 6);
    for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 6; ++x) {
            uint8_t r, g, b;
            img.GetPixelRgb8(x, y, &r, &g, &b);
            EXPECT_EQ(r, 0);
            EXPECT_EQ(g, 255);
            EXPECT_EQ(b, 0);
        }
}

TEST_F(FgTextureScreen, DrawingPrimitivesCoverInclusiveRectangles) {
    const double red[3] = {1, 0, 0}, blue[3] = {0, 0, 1}, green[3] = {0, 1, 0}, white[3] = {1, 1, 1},
                 grey[3] = {0.25, 0.25, 0.25};
    const PlatFrame f = Paint(s, [&] {
        FgDrawFrame(&s, 2, 3, 9, 8, red, blue);
        FgFillRect(&s, 20, 20, 20, 25, green);
        FgDrawBevel(&s, 30, 10, 40, 20, red, white, grey);
    });
    auto rgb = [&](int32_t x, int32_t y) {
        const uint8_t* p = At(f, x, y);
        return (p[0] << 16) | (p[1] << 8) | p[2];
    };
    EXPECT_EQ(rgb(2, 3), 0x0000ff);
    EXPECT_EQ(rgb(9, 8), 0x0000ff);
    EXPECT_EQ(rgb(3, 4), 0xff0000);
    EXPECT_EQ(rgb(8, 7), 0xff0000);
    EXPECT_EQ(rgb(10, 8), 0);
    EXPECT_EQ(rgb(20, 20), 0x00ff00);
    EXPECT_EQ(rgb(20, 25), 0x00ff00);
    EXPECT_EQ(rgb(21, 25), 0);
    EXPECT_EQ(rgb(20, 26), 0);
    EXPECT_EQ(rgb(30, 10), 0xffffff) << "light top-left edge";
    EXPECT_EQ(rgb(40, 20), 0x404040) << "dark bottom-right edge";
    EXPECT_EQ(rgb(35, 15), 0xff0000) << "face";
}

}  // namespace
