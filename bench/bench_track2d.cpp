// AUTO TRACK of the 2D tracking filter over a 200-frame 1920 x 1080 RGB
// sequence in the test host (each Seek makes the scene and runs the chain on
// the controller's worker, as the program's scene bar does) with 1, 10 and
// 100 colour targets, beside the controller's headless run of the same
// targets over the same frames and the host's seek-and-run time alone. The
// budget per frame is headless + seek - making the scene (counted in both).
// The same runs in the offscreen main screen, the scenes written as BMP files
// and opened as a numbered sequence, the filter added as its menu command
// adds it; there the budget is headless + the main screen's seek-and-show
// (the filter in place, no target) - making the scene.
// Then the overlay of 100 targets with all-scene trails over 1,000 frames,
// drawn through a counting pen, against one 60 Hz frame.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include <filesystem>
#include <string>

#include <unistd.h>

#include "../tests/filters/analysis/support/track_host.h"
#include "../tests/filters/processing/support/fake_host.h"
#include "filters/analysis/lf_track2d.h"
#include "filters/analysis/track_hsv.h"
#include "app/main_screen.h"
#include "image/pool.h"
#include "media/frame_output.h"
#include "platform/utf8.h"
#include "toolkit/fg_loop.h"

namespace {

constexpr int32_t kW = 1920, kH = 1080, kFrames = 200;

double Seconds(const std::function<void()>& f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void Centre(int32_t i, int32_t t, double* x, double* y) {
    *x = 96 + (i % 10) * 180 + 0.7 * t;
    *y = 60 + (i / 10) * 96 + 0.3 * t;
}

// Scene t: a noisy grey ground with 100 red discs moving 0.7, 0.3 a frame.
void Scene(int32_t t, CImgBuff* f) {
    if (!f->buffer->pixels || f->buffer->width != kW) f->buffer->Create(kW, kH, kImgRgb8);
    uint8_t* p = f->buffer->pixels;
    for (size_t i = 0; i < static_cast<size_t>(kW) * kH * 3; ++i) p[i] = static_cast<uint8_t>(100 + (i * 2654435761u >> 28));
    for (int32_t i = 0; i < 100; ++i) {
        double cx, cy;
        Centre(i, t, &cx, &cy);
        for (int32_t y = static_cast<int32_t>(cy) - 11; y <= cy + 11; ++y)
            for (int32_t x = static_cast<int32_t>(cx) - 11; x <= cx + 11; ++x)
                if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= 100) f->SetPixelRgb8(x, y, 255, 0, 0);
    }
}

HsvRange Red() {
    CImgBuff one;
    one.buffer->Create(1, 1, kImgRgb8);
    one.SetPixelRgb8(0, 0, 255, 0, 0);
    uint16_t h, s, v;
    one.buffer->GetPixelHsv16(0, 0, &h, &s, &v);
    return {h, 0, s, s, v, v};
}

// The controller alone, the scene made on each GoToFrame.
class MadeHost : public TrackHost {
public:
    CImgBuff frame;
    int32_t GetFrameRange(int32_t* f, int32_t* l) override {
        *f = 0;
        *l = kFrames - 1;
        return 1;
    }
    int32_t GoToFrame(int32_t f) override {
        Scene(f, &frame);
        return 1;
    }
    CImgBuff* GetWorkImage() override { return &frame; }
    void GetImageSize(int32_t* w, int32_t* h) override {
        *w = kW;
        *h = kH;
    }
};

template <class Ctrl>
void AddTargets(Ctrl& c, int32_t n) {
    for (int32_t i = 0; i < n; ++i) {
        auto* t = new CTrackHSV;
        t->range = Red();
        double cx, cy;
        Centre(i, 0, &cx, &cy);
        TrackCentreBox(cx, cy, 41, 41, &t->x, &t->y);
        t->w = t->h = 41;
        if (c.AddTarget(t) < 0) delete t;
    }
}

class CountingPen : public COverlayPen {
public:
    uint64_t lines = 0;
    double sink = 0;
    void Colour(double, double, double) override {}
    void Line(double x1, double y1, double x2, double y2) override {
        ++lines;
        sink += x1 + y1 + x2 + y2;
    }
    void Triangle(double, double, double, double, double, double) override {}
    void Quad(double, double, double, double) override {}
};
double Identity(int32_t v) { return v; }

// AUTO in the program's own main screen over the scenes as BMP files.
void MainScreenRows(double make) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("kv_bench_track2d_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const auto name = [&](int32_t t) {
        char file[32];
        std::snprintf(file, sizeof file, "scene_%04d.bmp", t);
        return (dir / file).string();
    };
    CImgBuff scene;
    for (int32_t t = 0; t < kFrames; ++t) {
        Scene(t, &scene);
        if (!SaveImageFile(&scene, PlatUtf8ToWide(name(t).c_str()).c_str(), nullptr, nullptr)) {
            std::printf("main screen: the scenes could not be written\n");
            return;
        }
    }
    for (int32_t n : {1, 10, 100}) {
        CMainScreen screen;
        if (!screen.Create(-1, -1, 1280, 800, L"korvane 1.11.0", kFgStyleResizable, nullptr)) {
            std::printf("main screen: no window\n");
            break;
        }
        screen.Layout();
        screen.SetLanguage(L"en");
        screen.OpenSequenceFiles(PlatUtf8ToWide(name(0).c_str()).c_str(),
                                 PlatUtf8ToWide(name(kFrames - 1).c_str()).c_str());
        if (screen.sceneBar.sceneCount != static_cast<uint64_t>(kFrames)) {
            std::printf("main screen: the sequence did not open\n");
            break;
        }
        auto* f = static_cast<CLfTrack2d*>(CreateLfTrack2dHsv());
        screen.AddFilterCommand(f);
        FgPumpMessages();
        const double seek = Seconds([&] {
            for (int32_t t = 0; t < kFrames; ++t) {
                screen.sidePanel.Seek(static_cast<uint64_t>(t));
                FgPumpMessages();
            }
        }) / kFrames;
        screen.sidePanel.Seek(0);
        AddTargets(*f, n);
        f->RebuildIdList();
        f->tabs.SelectTab(CLfTrack2d::kTabTrack, 0);
        const double run = Seconds([&] { f->RunTracking(0); }) / kFrames;
        MadeHost headless;
        AddTargets(headless, n);
        headless.table.SetRows(kFrames);
        const double core = Seconds([&] { headless.TrackByScene(1, 1, 0); }) / kFrames;
        const double budget = core + seek - make;
        std::printf("main screen AUTO %3d targets: %.2f ms/frame; headless %.2f + seek-and-show %.2f - scene %.2f = "
                    "%.2f ms; ratio %.3f\n",
                    n, run * 1e3, core * 1e3, seek * 1e3, make * 1e3, budget * 1e3, run / budget);
    }
    std::filesystem::remove_all(dir);
}

}  // namespace

int main() {
    PoolStart();
    CImgBuff scratch;
    const double make = Seconds([&] {
        for (int32_t t = 0; t < 20; ++t) Scene(t, &scratch);
    }) / 20;
    for (int32_t n : {1, 10, 100}) {
        FakeHost host;
        host.SetLanguage(L"en");
        auto* f = static_cast<CLfTrack2d*>(host.Add(CreateLfTrack2dHsv()));
        host.OpenSequence(kFrames, [](uint64_t i, CImgBuff* out) {
            Scene(static_cast<int32_t>(i), out);
            return true;
        });
        const double seek = Seconds([&] {
            for (int32_t t = 0; t < kFrames; ++t) host.Seek(static_cast<uint64_t>(t));
        }) / kFrames;
        host.Seek(0);
        AddTargets(*f, n);
        f->RebuildIdList();
        f->tabs.SelectTab(CLfTrack2d::kTabTrack, 0);
        const double run = Seconds([&] { f->RunTracking(0); }) / kFrames;
        MadeHost headless;
        AddTargets(headless, n);
        headless.table.SetRows(kFrames);
        const double core = Seconds([&] { headless.TrackByScene(1, 1, 0); }) / kFrames;
        const double budget = core + seek - make;
        std::printf("AUTO %3d targets: %.2f ms/frame; headless %.2f + seek-and-run %.2f - scene %.2f = %.2f ms; ratio %.3f\n",
                    n, run * 1e3, core * 1e3, seek * 1e3, make * 1e3, budget * 1e3, run / budget);
    }
    MainScreenRows(make);
    {
        FakeHost host;
        auto* f = static_cast<CLfTrack2d*>(host.Add(CreateLfTrack2dHsv()));
        host.SetSourceFormat(kW, kH, 3, 1000);
        AddTargets(*f, 100);
        for (int32_t i = 0; i < 100; ++i)
            for (uint32_t r = 0; r < 1000; ++r) {
                double cx, cy;
                Centre(i, static_cast<int32_t>(r % 200), &cx, &cy);
                f->table.SetPoint(r, static_cast<uint32_t>(i), {cx, cy});
            }
        f->RebuildIdList();
        f->tabs.SelectTab(CLfTrack2d::kTabTrack, 0);
        f->lineAll.Set(1);
        host.currentFrame = 500;
        CountingPen pen;
        COverlayPen* previous = SetOverlayPen(&pen);
        const int reps = 10;
        const double paint = Seconds([&] {
            for (int k = 0; k < reps; ++k)
                f->OnOverlayView(Identity, Identity, nullptr, nullptr, 0, 0, kW - 1, kH - 1, 0, 0, kW - 1, kH - 1, 1);
        }) / reps;
        SetOverlayPen(previous);
        std::printf("overlay, 100 targets, all-scene trails over 1000 frames: %.2f ms (%llu lines) against 16.7 ms\n",
                    paint * 1e3, static_cast<unsigned long long>(pen.lines / reps));
    }
    PoolStop();
    return 0;
}
