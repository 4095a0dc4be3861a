// The kernel, Fourier and deformation filters on 1920 x 1080 frames (RGB8
// and 48-bit RGB), one thread and every processor:
//   - each filter run through the chain behind a whole-image "Process rect"
//     against its kernels called directly on the same region (the chain's
//     overhead; the aim is at most 3%): 5 x 5 convolution and median, FFT ->
//     IFFT, both flips, zoom and projective transformation;
//   - the frequency-mask step on a 2048 x 2048 colour spectrum against
//     cv::Mat::setTo(0, mask) on the three planes with the ring mask made
//     beforehand (the aim is at most 1.5 x);
//   - offscreen, with every processor, steps that must fit one refresh at
//     60 Hz (16.7 ms): a frequency-mask range-bar step (panel redraw, then the
//     synchronous run Process rect 512 x 512 -> FFT -> Frequency mask -> IFFT
//     on RGB8), a zoom drag step (the move, then the picture redrawn with the
//     rectangle over it) and a kernel-grid keystroke's redraw.
// Runs on the offscreen driver unless SDL_VIDEODRIVER says otherwise.
#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "filters/core/filterctrl.h"
#include "filters/processing/lf_atrans.h"
#include "filters/processing/lf_fft.h"
#include "filters/processing/lf_filter.h"
#include "filters/processing/lf_flip.h"
#include "filters/processing/lf_freq_mask.h"
#include "filters/processing/lf_ifft.h"
#include "filters/processing/lf_ptrans.h"
#include "filters/processing/lf_rect.h"
#include "filters/processing/spectrum_records.h"
#include "image/kernels/convolve.h"
#include "image/kernels/flip_rotate.h"
#include "image/kernels/image_fft.h"
#include "image/kernels/perspective.h"
#include "image/kernels/rotate_scale.h"
#include "image/pool.h"
#include "platform/plat_window.h"
#include "toolkit/fg_dialog.h"
#include "toolkit/fg_loop.h"
#include "toolkit/fg_picture.h"

#ifdef KV_HAVE_OPENCV
#include <opencv2/core.hpp>
#endif

namespace {

constexpr int32_t kWidth = 1920, kHeight = 1080;

void Fill(CImgBuff& image, int32_t format, int32_t w = kWidth, int32_t h = kHeight) {
    image.buffer->Create(w, h, format);
    const uint64_t bytes = uint64_t(w) * h * ImgFormatBytes(format);
    uint32_t s = 12345;
    for (uint64_t i = 0; i < bytes; ++i) {
        s = s * 1103515245u + 12345u;
        image.buffer->pixels[i] = static_cast<uint8_t>((i / 7 % 200) + (s >> 29));
    }
}

const int32_t kKernel5[25] = {1, 2, 3, 2, 1, 2, 4, 6, 4, 2, 3, 6, 9, 6, 3, 2, 4, 6, 4, 2, 1, 2, 3, 2, 1};
const CLfAtrans::Point kDiagA{300, 200}, kDiagB{1500, 875};
constexpr double kFocal = 8, kPitch = 5, kPan = 12, kTilt = -8, kZoom = 1.1;

// A controller whose chain runs on the calling thread; "Refilter" runs it
// at once on a copy of the source, as the synchronous re-run does.
struct Chain : CFilterCtrl {
    CImgBuff* frame = nullptr;
    CImgBuff work;
    explicit Chain(int32_t w = kWidth, int32_t h = kHeight) {
        uint64_t index;
        AddFilter(CreateLfRect(), &index);
        SetSourceFormat(static_cast<uint64_t>(w), static_cast<uint64_t>(h), 3, 1);
    }
    ~Chain() override { StopWorker(); }
    CImgFilter* Add(CImgFilter* f) {
        uint64_t index;
        AddFilter(f, &index);
        f->enabled = 1;
        return f;
    }
    void Refilter(int32_t) override {
        if (!frame) return;
        work.CopyFrom(frame);
        RunChain(&work, 0);
    }
};

enum Op { kConvolve, kMedian, kFftIfft, kFlip, kZoomOp, kProjective };
const char* OpName(Op op) {
    static const char* names[] = {"convolve5", "median5", "fft_ifft", "flip", "zoom", "projective"};
    return names[op];
}

void Setup(Chain& chain, Op op) {
    switch (op) {
    case kConvolve:
    case kMedian: {
        auto* f = static_cast<CLfFilter*>(chain.Add(CreateLfFilter()));
        f->panelSize = 5;
        f->grid.size = 5;
        for (int32_t i = 0; i < 25; ++i) f->grid.values[2 + i / 5][2 + i % 5] = kKernel5[i];
        f->panelType = op == kMedian ? 1 : 0;
        f->ApplyEdits();
        break;
    }
    case kFftIfft:
        chain.Add(CreateLfFFT());
        chain.Add(CreateLfIFFT());
        break;
    case kFlip: {
        auto* f = static_cast<CLfFlip*>(chain.Add(CreateLfFlip()));
        f->flipH.Set(1);
        f->flipV.Set(1);
        break;
    }
    case kZoomOp: {
        auto* f = static_cast<CLfAtrans*>(chain.Add(CreateLfAtrans()));
        CLfAtrans::Applied a;
        a.enable = 1;
        a.a = kDiagA;
        a.b = kDiagB;
        a.sizeW = kWidth;
        a.sizeH = kHeight;
        CLfAtrans::TransformFromDiagonal(kWidth, kHeight, kDiagA, kDiagB, &a.transform);
        f->Set(a);
        break;
    }
    case kProjective: {
        auto* f = static_cast<CLfPtrans*>(chain.Add(CreateLfPtrans()));
        f->focal.Set(kFocal);
        f->pixelUm.Set(kPitch);
        f->pan.Set(kPan);
        f->tilt.Set(kTilt);
        f->zoom.Set(kZoom);
        f->ApplyCamera();
        break;
    }
    }
}

// The same work with the kernels called directly on the whole image.
void Direct(CImgBuff* image, Op op) {
    const ImgRect all{0, 0, kWidth - 1, kHeight - 1};
    switch (op) {
    case kConvolve:
        ImgConvolve(image, 5, kKernel5, 1, 1, &all);
        break;
    case kMedian:
        ImgMedian(image, 5, &all);
        break;
    case kFftIfft: {
        CImgBuff part;
        ImgFftState st{};
        image->ExtractRect(&part, 0, 0, kWidth - 1, kHeight - 1);
        ImgFftForward(&st, &part);
        ImgFftSpectrumImage(&st, &part);
        ImgFftInverse(&st, &part, &part, nullptr);
        ImgFftReset(&st);
        image->PasteImage(&part, 0, 0);
        break;
    }
    case kFlip: {
        MirrorJob job{image, 0, 0, kWidth - 1, kHeight - 1};
        PoolParallelFor(ImgMirrorHorizontalRows, &job, kHeight);
        PoolParallelFor(ImgMirrorVerticalRows, &job, kHeight / 2);
        break;
    }
    case kZoomOp: {
        CLfAtrans::Transform t;
        CLfAtrans::TransformFromDiagonal(kWidth, kHeight, kDiagA, kDiagB, &t);
        ImgRotateScale(image, t.cx, t.cy, t.angle, t.scale, 0, 1);
        break;
    }
    case kProjective: {
        CameraMatrix cam;
        ImgCameraMatrixFromSensor(&cam, kFocal, kWidth, kHeight, kPitch, kPitch);
        const double angles[3] = {kPan, kTilt, 0};
        ImgPerspectiveTransform(image, &cam, angles, kZoom, 1);
        break;
    }
    }
}

// Each iteration starts from the same frame (restored outside the timing).
void ChainRun(benchmark::State& state, Op op, int32_t format) {
    Chain chain;
    Setup(chain, op);
    CImgBuff source, image;
    Fill(source, format);
    for (auto _ : state) {
        state.PauseTiming();
        image.CopyFrom(&source);
        state.ResumeTiming();
        chain.RunChain(&image, 0);
    }
}

void DirectRun(benchmark::State& state, Op op, int32_t format) {
    CImgBuff source, image;
    Fill(source, format);
    for (auto _ : state) {
        state.PauseTiming();
        image.CopyFrom(&source);
        state.ResumeTiming();
        Direct(&image, op);
    }
}

// --- the frequency-mask step against OpenCV ---

constexpr int32_t kPlane = 2048;
const CLfFreqMask::Band kBand{0, 40, 90};

struct MaskFixture {
    SpectrumRecord record{};
    CImgBuff source, picture;
    MaskFixture() {
        Fill(source, kImgRgb8, kPlane, kPlane);
        ImgFftForward(&record.state, &source);
    }
    ~MaskFixture() { ImgFftReset(&record.state); }
};

void MaskOurs(benchmark::State& state) {
    MaskFixture f;
    for (auto _ : state) {
        state.PauseTiming();
        f.picture.CopyFrom(&f.source);
        state.ResumeTiming();
        CLfFreqMask::MaskSpectrum(&f.record, &f.picture, kBand);
    }
}

void MaskOpenCv(benchmark::State& state) {
#ifdef KV_HAVE_OPENCV
    MaskFixture f;
    // The ring mask made once, as the filter's rule makes it.
    cv::Mat mask(kPlane, kPlane, CV_8UC1);
    const double c = (kPlane - 1) / 2.0, k = 179.0 / std::sqrt(2 * c * c);
    for (int32_t y = 0; y < kPlane; ++y)
        for (int32_t x = 0; x < kPlane; ++x) {
            const int ring = static_cast<int>(std::sqrt((y - c) * (y - c) + (x - c) * (x - c)) * k + 0.5);
            mask.at<uint8_t>(y, x) = ring >= kBand.low && ring <= kBand.high ? 255 : 0;
        }
    cv::Mat planes[3];
    for (int p = 0; p < 3; ++p) planes[p] = cv::Mat(kPlane, kPlane, CV_64FC2, f.record.state.array[p]);
    cv::Mat picture(kPlane, kPlane, CV_8UC3, f.source.buffer->pixels);
    for (auto _ : state) {
        for (cv::Mat& m : planes) m.setTo(cv::Scalar(0, 0), mask);
        picture.setTo(cv::Scalar(0, 0, 0), mask);
    }
#else
    (void)state;
#endif
}

// --- interactive steps, offscreen ---

class PictureScreen : public CFgUIDialog {
public:
    CFgUIPicture picture;
};

void Finish(CFgScreen& screen) {
    PlatMakeCurrent(screen.window, screen.context);
    glFinish();
    PlatMakeCurrent(0, nullptr);
}

void BandDragStep(benchmark::State& state) {
    kvbench::SetThreads(PoolGetProcessorCount());
    Chain chain;
    static_cast<CLfRect*>(chain.chains[0].filters[0])->Set({1, 100, 100, 512, 512});
    chain.Add(CreateLfFFT());
    auto* mask = static_cast<CLfFreqMask*>(chain.Add(CreateLfFreqMask()));
    chain.Add(CreateLfIFFT());
    CImgBuff source;
    Fill(source, kImgRgb8);
    chain.frame = &source;
    mask->ShowUi(1, nullptr);
    if (!mask->PanelShown()) return state.SkipWithError("no window");
    FgPumpMessages();
    int32_t i = 0;
    for (auto _ : state) {
        const int32_t low = i++ % 60;
        // The bar's report: the panel redraws, then the run refilters and waits.
        mask->range.Notify(low, low + 20);
        Finish(*mask);
    }
    mask->ShowUi(0, nullptr);
}

void ZoomDragStep(benchmark::State& state) {
    kvbench::SetThreads(PoolGetProcessorCount());
    PictureScreen screen;
    if (!screen.Create(0, 0, 1280, 720, L"bench zoom", kFgStyleFixed, nullptr)) return state.SkipWithError("no window");
    screen.picture.SetRect(0, 0, 1280, 720);
    screen.AddChild(&screen.picture);
    CImgBuff frame;
    Fill(frame, kImgRgb8);
    screen.picture.GetTexture()->SetFromImage(&frame, 1);
    screen.picture.UpdateLayout();
    Chain chain;
    auto* zoom = static_cast<CLfAtrans*>(chain.Add(CreateLfAtrans()));
    zoom->SetInputArea(true);
    zoom->OnLButtonDown(200, 150, 1);
    static CLfAtrans* s_Zoom;
    s_Zoom = zoom;
    screen.picture.paintCallback = [](CFgScreen* s, CFgFont* font, CFgTexture*, void*) {
        OverlaySetScreenTarget(s);
        s_Zoom->OnOverlayView(OverlayPixelToGlX, OverlayPixelToGlY, s, font, 0, 0, 1279, 719, 0, 0, kWidth - 1,
                              kHeight - 1, 0);
        OverlaySetScreenTarget(nullptr);
    };
    FgPumpMessages();
    int32_t i = 0;
    for (auto _ : state) {
        const int32_t step = i++ % 400;
        zoom->OnMouseMove(600 + step, 500 + step / 2, 1);
        screen.Redraw();
        Finish(screen);
    }
    screen.picture.paintCallback = nullptr;
}

void GridKeystroke(benchmark::State& state) {
    kvbench::SetThreads(PoolGetProcessorCount());
    Chain chain;
    auto* f = static_cast<CLfFilter*>(chain.Add(CreateLfFilter()));
    f->ShowUi(1, nullptr);
    if (!f->PanelShown()) return state.SkipWithError("no window");
    FgPumpMessages();
    const wchar_t keys[] = L"123456789\b";
    int32_t i = 0;
    for (auto _ : state) {
        f->grid.OnChar(static_cast<uint16_t>(keys[i++ % 10]));
        Finish(*f);
    }
    f->ShowUi(0, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    PoolStart();
    benchmark::Initialize(&argc, argv);
    const uint64_t all = PoolGetProcessorCount();
    const Op ops[] = {kConvolve, kMedian, kFftIfft, kFlip, kZoomOp, kProjective};
    const int32_t formats[] = {kImgRgb8, kImgRgb16};
    std::vector<std::string> rows;
    for (Op op : ops)
        for (int32_t format : formats)
            for (uint64_t t : {uint64_t{1}, all}) {
                const std::string row = std::string(OpName(op)) + "/" + (format == kImgRgb8 ? "rgb8" : "rgb48") +
                                        "/t" + std::to_string(t);
                rows.push_back(row);
                for (const char* side : {"chain", "kernels"}) {
                    const bool chainSide = side[0] == 'c';
                    benchmark::RegisterBenchmark((std::string(side) + "/" + row).c_str(),
                                                 [op, format, t, chainSide](benchmark::State& s) {
                                                     kvbench::SetThreads(t);
                                                     if (chainSide)
                                                         ChainRun(s, op, format);
                                                     else
                                                         DirectRun(s, op, format);
                                                 })
                        ->UseRealTime()
                        ->Unit(benchmark::kMillisecond)
                        ->Repetitions(3)
                        ->ComputeStatistics("min", kvbench::Shortest)
                        ->ReportAggregatesOnly(true);
                }
            }
    kvbench::Pairs pairs;
    pairs.Add("freq_mask_step", "2048sq_rgb", MaskOurs, MaskOpenCv);
    for (auto [name, fn] : {std::pair{"ui/band_drag_step", &BandDragStep}, std::pair{"ui/zoom_drag_step", &ZoomDragStep},
                            std::pair{"ui/grid_keystroke", &GridKeystroke}})
        benchmark::RegisterBenchmark(name, fn)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(3)
            ->ComputeStatistics("min", kvbench::Shortest)
            ->ReportAggregatesOnly(true);

    kvbench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n%-28s %12s %12s %10s\n", "filter", "chain ms", "kernels ms", "overhead");
    for (const std::string& row : rows) {
        const double c = reporter.Time("chain/" + row), k = reporter.Time("kernels/" + row);
        std::printf("%-28s %12.2f %12.2f %9.1f%%\n", row.c_str(), c, k, k > 0 ? (c / k - 1.0) * 100.0 : 0.0);
    }
    pairs.Print(reporter);
    std::printf("\n%-28s %12s %s\n", "interactive step", "ms", "(one refresh at 60 Hz: 16.7 ms)");
    for (const char* name : {"ui/band_drag_step", "ui/zoom_drag_step", "ui/grid_keystroke"})
        std::printf("%-28s %12.2f\n", name, reporter.Time(name));
    benchmark::Shutdown();
    PoolStop();
    return 0;
}
