// The first processing filters on 1920 x 1080 frames: "Process rect (whole
// image) -> Reversal -> Equalize histogram" run through the chain against the
// two kernels called directly (the chain's overhead), and the filters'
// kernels beside their OpenCV peers with one thread and with every processor:
// reversal against cv::bitwise_not, equalisation against cv::equalizeHist on
// 8-bit grey (reported only: ranking by stable order is not OpenCV's
// cumulative table), up convert 8 -> 16 bits against convertTo + a 3 x 3 blur.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "bench_support.h"
#include "filters/core/filterctrl.h"
#include "filters/processing/lf_flatting_histogram.h"
#include "filters/processing/lf_rect.h"
#include "filters/processing/lf_reversal.h"
#include "image/kernels/kernels.h"
#include "image/pool.h"

#ifdef KV_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int32_t kWidth = 1920, kHeight = 1080;

void Fill(CImgBuff& image, int32_t format) {
    image.buffer->Create(kWidth, kHeight, format);
    const uint64_t bytes = uint64_t(kWidth) * kHeight * ImgFormatBytes(format);
    uint32_t s = 12345;
    for (uint64_t i = 0; i < bytes; ++i) {
        s = s * 1103515245u + 12345u;
        image.buffer->pixels[i] = static_cast<uint8_t>((i / 7 % 200) + (s >> 29));
    }
}

// A controller whose chain is run on the calling thread.
struct Chain : CFilterCtrl {
    Chain() {
        uint64_t index;
        AddFilter(CreateLfRect(), &index);
        AddFilter(CreateLfReversal(), &index);
        AddFilter(CreateLfFlattingHistogram(), &index);
        SetSourceFormat(kWidth, kHeight, 3, 1);
    }
    ~Chain() override { StopWorker(); }
};

void ChainRun(benchmark::State& state, int32_t format) {
    Chain chain;
    CImgBuff image;
    Fill(image, format);
    for (auto _ : state) chain.RunChain(&image, 0);
}

void KernelsDirect(benchmark::State& state, int32_t format) {
    CImgBuff image;
    Fill(image, format);
    const ImgRect all{0, 0, kWidth - 1, kHeight - 1};
    for (auto _ : state) {
        ImgNegate(&image, &all);
        ImgFlattenHistogram(&image, &all);
    }
}

#ifdef KV_HAVE_OPENCV
cv::Mat Wrap(CImgBuff& image) {
    const int32_t f = image.buffer->format;
    const int type = f == kImgGray8 ? CV_8UC1 : f == kImgGray16 ? CV_16UC1 : CV_8UC3;
    return cv::Mat(kHeight, kWidth, type, image.buffer->pixels);
}
#endif

}  // namespace

int main(int argc, char** argv) {
    PoolStart();
    benchmark::Initialize(&argc, argv);
    const uint64_t all = PoolGetProcessorCount();
    for (int32_t format : {kImgRgb8, kImgGray16}) {
        const std::string label = format == kImgRgb8 ? "rgb8" : "gray16";
        benchmark::RegisterBenchmark(("chain/" + label).c_str(),
                                     [format, all](benchmark::State& s) {
                                         kvbench::SetThreads(all);
                                         ChainRun(s, format);
                                     })
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(3)
            ->ComputeStatistics("min", kvbench::Shortest)
            ->ReportAggregatesOnly(true);
        benchmark::RegisterBenchmark(("kernels/" + label).c_str(),
                                     [format, all](benchmark::State& s) {
                                         kvbench::SetThreads(all);
                                         KernelsDirect(s, format);
                                     })
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(3)
            ->ComputeStatistics("min", kvbench::Shortest)
            ->ReportAggregatesOnly(true);
    }

    kvbench::Pairs pairs;
    for (int32_t format : {kImgRgb8, kImgGray8, kImgGray16}) {
        const std::string label = format == kImgRgb8 ? "rgb8" : format == kImgGray8 ? "gray8" : "gray16";
        pairs.Add(
            "reversal", label,
            [format](benchmark::State& s) {
                CImgBuff image;
                Fill(image, format);
                const ImgRect r{0, 0, kWidth - 1, kHeight - 1};
                for (auto _ : s) ImgNegate(&image, &r);
            },
            [format](benchmark::State& s) {
#ifdef KV_HAVE_OPENCV
                CImgBuff image;
                Fill(image, format);
                cv::Mat m = Wrap(image);
                for (auto _ : s) cv::bitwise_not(m, m);
#else
                (void)format, (void)s;
#endif
            });
    }
    pairs.Add(
        "equalize", "gray8",
        [](benchmark::State& s) {
            CImgBuff image;
            Fill(image, kImgGray8);
            const ImgRect r{0, 0, kWidth - 1, kHeight - 1};
            for (auto _ : s) ImgFlattenHistogram(&image, &r);
        },
        [](benchmark::State& s) {
#ifdef KV_HAVE_OPENCV
            CImgBuff image;
            Fill(image, kImgGray8);
            cv::Mat m = Wrap(image);
            for (auto _ : s) cv::equalizeHist(m, m);
#else
            (void)s;
#endif
        });
    for (int32_t format : {kImgGray8, kImgRgb8}) {
        const std::string label = format == kImgRgb8 ? "rgb8" : "gray8";
        pairs.Add(
            "upconvert16", label,
            [format](benchmark::State& s) {
                CImgBuff source, image;
                Fill(source, format);
                for (auto _ : s) {
                    s.PauseTiming();
                    image.CopyFrom(&source);
                    s.ResumeTiming();
                    ImgUpConvertDepth(&image, 16);
                }
            },
            [format](benchmark::State& s) {
#ifdef KV_HAVE_OPENCV
                CImgBuff source;
                Fill(source, format);
                cv::Mat m = Wrap(source), wide, out;
                for (auto _ : s) {
                    m.convertTo(wide, format == kImgRgb8 ? CV_16UC3 : CV_16UC1, 257.0);
                    cv::blur(wide, out, cv::Size(3, 3));
                }
#else
                (void)format, (void)s;
#endif
            });
    }

    kvbench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n%-10s %12s %12s %10s\n", "frame", "chain ms", "kernels ms", "overhead");
    for (const char* label : {"rgb8", "gray16"}) {
        const double c = reporter.Time(std::string("chain/") + label);
        const double k = reporter.Time(std::string("kernels/") + label);
        std::printf("%-10s %12.2f %12.2f %9.1f%%\n", label, c, k, k > 0 ? (c / k - 1.0) * 100.0 : 0.0);
    }
    pairs.Print(reporter);
    benchmark::Shutdown();
    PoolStop();
    return 0;
}
