// Showing a new 1920 x 1080 RGB frame in the picture view (hand out the
// texture, fill it from a prepared frame, lay out, draw, swap, finish), at
// fit and at zoom 1, against a bare loop in the same window that sends the
// same frame with glTexSubImage2D and draws one quad. Also an unchanged
// frame and a frame with a paint callback (which sends the stored pixels
// again before the callback). Real time per frame; one refresh at 60 Hz is
// 16.7 ms. Runs on the offscreen driver unless SDL_VIDEODRIVER says otherwise.
#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "image/imgbuff.h"
#include "image/pool.h"
#include "platform/plat_window.h"
#include "toolkit/fg_dialog.h"
#include "toolkit/fg_loop.h"
#include "toolkit/fg_picture.h"

namespace {

constexpr int32_t kFrameWidth = 1920;
constexpr int32_t kFrameHeight = 1080;
constexpr int32_t kScreenWidth = 1280;
constexpr int32_t kScreenHeight = 720;
constexpr int kFrames = 4;

class PictureScreen : public CFgUIDialog {
public:
    CFgUIPicture picture;
};

struct Fixture {
    PictureScreen screen;
    CImgBuff frames[kFrames];
    bool ok = false;

    Fixture() {
        for (int i = 0; i < kFrames; ++i) {
            frames[i].buffer->Create(kFrameWidth, kFrameHeight, kImgRgb8);
            uint8_t* p = frames[i].buffer->pixels;
            for (int32_t y = 0; y < kFrameHeight; ++y)
                for (int32_t x = 0; x < kFrameWidth; ++x, p += 3) {
                    p[0] = static_cast<uint8_t>(x + 40 * i);
                    p[1] = static_cast<uint8_t>(y);
                    p[2] = static_cast<uint8_t>((x ^ y) + i);
                }
        }
        if (!screen.Create(0, 0, kScreenWidth, kScreenHeight, L"bench picture", kFgStyleFixed, nullptr)) return;
        screen.picture.SetRect(0, 0, kScreenWidth, kScreenHeight);
        screen.AddChild(&screen.picture);
        FgPumpMessages();
        ok = true;
    }

    // Waits until the swapped frame is complete.
    void Finish() {
        PlatMakeCurrent(screen.window, screen.context);
        glFinish();
        PlatMakeCurrent(0, nullptr);
    }
};

std::unique_ptr<Fixture> g_Fixture;

Fixture& Shared() {
    if (!g_Fixture) g_Fixture = std::make_unique<Fixture>();
    return *g_Fixture;
}

void NewFrames(benchmark::State& state, int32_t zoom) {
    Fixture& f = Shared();
    if (!f.ok) return state.SkipWithError("no window");
    CFgUIPicture& p = f.screen.picture;
    p.paintCallback = nullptr;
    p.SetZoom(zoom);
    int i = 0;
    for (auto _ : state) {
        CFgTexture* t = p.GetTexture();
        t->SetFromImage(&f.frames[i++ % kFrames], 1);
        p.UpdateLayout();
        f.screen.Redraw();
        f.Finish();
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_PictureNewFrameFit(benchmark::State& state) { NewFrames(state, CFgUIPicture::kFit); }
void BM_PictureNewFrameZoom1(benchmark::State& state) { NewFrames(state, 1); }

void BM_PictureUnchangedFrame(benchmark::State& state) {
    Fixture& f = Shared();
    if (!f.ok) return state.SkipWithError("no window");
    CFgUIPicture& p = f.screen.picture;
    p.paintCallback = nullptr;
    p.SetZoom(CFgUIPicture::kFit);
    for (auto _ : state) {
        f.screen.Redraw();
        f.Finish();
    }
}

void BM_PicturePaintCallbackFrame(benchmark::State& state) {
    Fixture& f = Shared();
    if (!f.ok) return state.SkipWithError("no window");
    CFgUIPicture& p = f.screen.picture;
    p.SetZoom(CFgUIPicture::kFit);
    p.paintCallback = [](CFgScreen*, CFgFont*, CFgTexture*, void*) {};
    for (auto _ : state) {
        f.screen.Redraw();
        f.Finish();
    }
    p.paintCallback = nullptr;
}

// The same bytes through glTexSubImage2D into a texture of the same
// power-of-two size, one quad over the window, swap and finish.
void BM_BareTexSubImage(benchmark::State& state) {
    Fixture& f = Shared();
    if (!f.ok) return state.SkipWithError("no window");
    PlatMakeCurrent(f.screen.window, f.screen.context);
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB8, 2048, 2048, 0, GL_RGB, GL_UNSIGNED_BYTE, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    const double s1 = kFrameWidth / 2048.0, t1 = kFrameHeight / 2048.0;
    int i = 0;
    for (auto _ : state) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, kFrameWidth, kFrameHeight, GL_RGB, GL_UNSIGNED_BYTE,
                        f.frames[i++ % kFrames].buffer->pixels);
        glEnable(GL_TEXTURE_2D);
        glColor3d(1, 1, 1);
        glBegin(GL_QUADS);
        glTexCoord2d(0, t1);
        glVertex2d(-1, -1);
        glTexCoord2d(s1, t1);
        glVertex2d(1, -1);
        glTexCoord2d(s1, 0);
        glVertex2d(1, 1);
        glTexCoord2d(0, 0);
        glVertex2d(-1, 1);
        glEnd();
        glDisable(GL_TEXTURE_2D);
        PlatSwapWindow(f.screen.window);
        glFinish();
    }
    glBindTexture(GL_TEXTURE_2D, 0);
    glDeleteTextures(1, &name);
    PlatMakeCurrent(0, nullptr);
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_BareTexSubImage)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_PictureNewFrameFit)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_PictureNewFrameZoom1)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_PictureUnchangedFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_PicturePaintCallbackFrame)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly();

int main(int argc, char** argv) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    PoolStart();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_Fixture.reset();
    PoolStop();
    return 0;
}
