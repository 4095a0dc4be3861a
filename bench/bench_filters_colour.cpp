// The colour filters on 1920 x 1080 frames (RGB8 and RGB16), with one thread
// and with every processor, OpenCV with as many:
//  - component extraction, white balance, colour correction (warm cache),
//    Bayer convert (mosaic and both demosaics) and the wavelength filter
//    through the chain behind a whole-image "Process rect" against their
//    kernels called directly; select components + Reversal against the
//    working image made, negated and stored directly;
//  - the colour map's step (count, shade, texture) per view on RGB8, and
//    its counting against cv::cvtColor (XYZ, Lab, HSV_FULL) followed by a
//    256 x 256 cv::calcHist of the two chart channels.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench_chain.h"
#include "bench_support.h"
#include "filters/core/filterctrl.h"
#include "filters/core/workimage.h"
#include "filters/processing/colour_charts.h"
#include "filters/processing/lf_bayer.h"
#include "filters/processing/lf_color_correction.h"
#include "filters/processing/lf_color_map.h"
#include "filters/processing/lf_convert.h"
#include "filters/processing/lf_rect.h"
#include "filters/processing/lf_reversal.h"
#include "filters/processing/lf_select.h"
#include "filters/processing/lf_wave.h"
#include "filters/processing/lf_white_balance.h"
#include "image/kernels/kernels.h"
#include "image/pool.h"

#ifdef KV_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int32_t kWidth = 1920, kHeight = 1080;
const ImgRect kAll{0, 0, kWidth - 1, kHeight - 1};

struct Chain : kvbench::WholeImageChain {
    explicit Chain(std::vector<CImgFilter*> filters) : WholeImageChain(std::move(filters), kWidth, kHeight) {}
};

// Smooth colour fields with a little noise: many colours, as in a picture.
void Fill(CImgBuff& image, int32_t format) {
    image.buffer->Create(kWidth, kHeight, format);
    uint32_t s = 12345;
    for (int32_t y = 0; y < kHeight; ++y)
        for (int32_t x = 0; x < kWidth; ++x) {
            s = s * 1103515245u + 12345u;
            const uint32_t n = s >> 29;
            const auto r = static_cast<uint8_t>((x * 255 / kWidth + n) & 255);
            const auto g = static_cast<uint8_t>((y * 255 / kHeight + (n >> 1)) & 255);
            const auto b = static_cast<uint8_t>(((x + y) / 12 + n) & 255);
            image.buffer->SetPixelRgb8(x, y, r, g, b);
        }
}

const char* Label(int32_t format) { return format == kImgRgb8 ? "rgb8" : "rgb16"; }


// With `fresh`, every run starts from the filled frame again (untimed):
// the colour caches change the frame into colours they have not seen.
template <class Make>
std::function<void(benchmark::State&)> ChainBody(int32_t format, Make make, bool fresh = false) {
    return [format, make, fresh](benchmark::State& s) {
        Chain chain(make());
        CImgBuff image;
        Fill(image, format);
        if (fresh) {
            CImgBuff warm;
            warm.CopyFrom(&image);
            chain.RunChain(&warm, 0);
            kvbench::RunOnCopies(s, image, [&](CImgBuff* i) { chain.RunChain(i, 0); });
            return;
        }
        chain.RunChain(&image, 0);  // warm
        for (auto _ : s) chain.RunChain(&image, 0);
    };
}

}  // namespace

int main(int argc, char** argv) {
    PoolStart();
    benchmark::Initialize(&argc, argv);
    BuildColourCharts();

    kvbench::Overhead overhead;
    for (int32_t format : {kImgRgb8, kImgRgb16}) {
        const std::string label = Label(format);
        // Component extraction, coloured (the format stays, so runs repeat).
        overhead.Add(
            "component/" + label,
            ChainBody(format, [] {
                auto* f = static_cast<CLfConvert*>(CreateLfConvert());
                f->color.Set(1);
                return std::vector<CImgFilter*>{f};
            }),
            [format](benchmark::State& s) {
                CImgBuff image;
                Fill(image, format);
                const int32_t code = CLfConvert::Code(3, 0);
                for (auto _ : s) ImgExtractComponent(&image, code, 1, &kAll);
            });
        overhead.Add(
            "white balance/" + label,
            ChainBody(format, [] {
                auto* f = static_cast<CLfWhiteBalance*>(CreateLfWhiteBalance());
                f->SetReference(0.9, 0.8, 0.7);
                return std::vector<CImgFilter*>{f};
            }, true),
            [format](benchmark::State& s) {
                CImgBuff image;
                Fill(image, format);
                ColorLut* lut = ImgColorLutCreateWhiteBalance(0.9, 0.8, 0.7);
                CImgBuff warm;
                warm.CopyFrom(&image);
                ImgColorLutApply(lut, &warm);
                kvbench::RunOnCopies(s, image, [&](CImgBuff* i) { ImgColorLutApply(lut, i); });
                ImgColorLutDestroy(lut);
            });
        overhead.Add(
            "colour correction/" + label,
            ChainBody(format, [] {
                auto* f = static_cast<CLfColorCorrection*>(CreateLfColorCorrection());
                const auto& d = CLfColorCorrection::kDefaults[0];
                f->SetColour(CLfColorCorrection::kImage, 0, d[0] / 255.0, (d[1] + 20) / 255.0, d[2] / 255.0);
                return std::vector<CImgFilter*>{f};
            }, true),
            [format](benchmark::State& s) {
                CImgBuff image;
                Fill(image, format);
                double ir[6], ig[6], ib[6], sr[6], sg[6], sb[6];
                for (int i = 0; i < 6; ++i) {
                    const auto& d = CLfColorCorrection::kDefaults[i];
                    ir[i] = sr[i] = d[0] / 255.0;
                    ig[i] = sg[i] = d[1] / 255.0;
                    ib[i] = sb[i] = d[2] / 255.0;
                }
                ig[0] = (CLfColorCorrection::kDefaults[0][1] + 20) / 255.0;
                ColorLut* lut = ImgColorLutCreateColorCorrection(ir, ig, ib, sr, sg, sb, 0, 0);
                CImgBuff warm;
                warm.CopyFrom(&image);
                ImgColorLutApply(lut, &warm);
                kvbench::RunOnCopies(s, image, [&](CImgBuff* i) { ImgColorLutApply(lut, i); });
                ImgColorLutDestroy(lut);
            });
        for (uint32_t action : {0u, 1u, 2u}) {
            const char* names[3] = {"mosaic", "linear", "acpi"};
            overhead.Add(
                std::string("bayer ") + names[action] + "/" + label,
                ChainBody(format, [action] {
                    auto* f = static_cast<CLfBayer*>(CreateLfBayer());
                    f->action.Set(action);
                    return std::vector<CImgFilter*>{f};
                }),
                [format, action](benchmark::State& s) {
                    CImgBuff image;
                    Fill(image, format);
                    for (auto _ : s) ImgBayer(&image, action, 0, nullptr, &kAll);
                });
        }
        overhead.Add(
            "wavelength 550.1/" + label,
            ChainBody(format, [] {
                auto* f = static_cast<CLfWave*>(CreateLfWave());
                f->SetWavelength(550.1);
                f->filterMode.Set(1);
                f->gainMode.Set(0);
                return std::vector<CImgFilter*>{f};
            }),
            [format](benchmark::State& s) {
                CImgBuff image;
                Fill(image, format);
                for (auto _ : s) ImgWavelengthFilter(&image, 550.1, 1, 0, 1.0, &kAll);
            });
        overhead.Add(
            "select R + reversal/" + label,
            ChainBody(format, [] {
                auto* f = static_cast<CLfSelect*>(CreateLfSelect());
                f->sel.Set(1);
                return std::vector<CImgFilter*>{f, CreateLfReversal()};
            }),
            [format](benchmark::State& s) {
                CImgBuff image, work;
                Fill(image, format);
                const uint32_t code = CLfSelect::Code(1, 0);
                for (auto _ : s) {
                    MakeWorkingImage(&image, &work, code);
                    ImgNegate(&work, &kAll);
                    StoreWorkingImage(&image, &work, code);
                }
            });
    }

    // The colour map: its step per view, and its counting beside OpenCV.
    kvbench::Pairs pairs;
    const char* views[3] = {"xy", "lab", "hsv"};
    for (uint32_t view = 0; view < 3; ++view) {
        benchmark::RegisterBenchmark((std::string("color map step/") + views[view]).c_str(),
                                     [view](benchmark::State& s) {
                                         kvbench::SetThreads(PoolGetProcessorCount());
                                         CLfColorMap f;
                                         f.view.Set(static_cast<int32_t>(view));
                                         CImgBuff image;
                                         Fill(image, kImgRgb8);
                                         for (auto _ : s) f.OnFilter(&image, 0, 0, 0, kWidth, kHeight, 8, 1, nullptr, nullptr);
                                     })
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(3)
            ->ComputeStatistics("min", kvbench::Shortest)
            ->ReportAggregatesOnly(true);
        pairs.Add(
            std::string("count ") + views[view], "rgb8",
            [view](benchmark::State& s) {
                CImgBuff image;
                Fill(image, kImgRgb8);
                std::unique_ptr<uint32_t[]> table(new uint32_t[65536]);
                for (auto _ : s) benchmark::DoNotOptimize(CLfColorMap::CountCells(&image, kAll, view, table.get()));
            },
            [view](benchmark::State& s) {
#ifdef KV_HAVE_OPENCV
                CImgBuff image;
                Fill(image, kImgRgb8);
                cv::Mat m(kHeight, kWidth, CV_8UC3, image.buffer->pixels), converted, hist;
                const int code = view == 0 ? cv::COLOR_RGB2XYZ : view == 1 ? cv::COLOR_RGB2Lab : cv::COLOR_RGB2HSV_FULL;
                const int channels[2][2] = {{0, 1}, {1, 2}};
                const int* ch = channels[view == 1 ? 1 : 0];
                const int histSize[] = {256, 256};
                const float range[] = {0, 256};
                const float* ranges[] = {range, range};
                for (auto _ : s) {
                    cv::cvtColor(m, converted, code);
                    cv::calcHist(&converted, 1, ch, cv::Mat(), hist, 2, histSize, ranges);
                }
#else
                (void)view, (void)s;
#endif
            });
    }

    kvbench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    overhead.Print(reporter);
    std::printf("\n%-22s %10s\n", "color map step (all)", "ms");
    for (const char* v : views)
        std::printf("%-22s %10.2f\n", v, reporter.Time(std::string("color map step/") + v));
    std::printf("(within one 60 Hz refresh when below 16.7 ms)\n");
    pairs.Print(reporter);
    benchmark::Shutdown();
    PoolStop();
    return 0;
}
