// The pixel-processing filters on 1920 x 1080 frames (RGB8, grey8, grey16),
// with one thread and with every processor, OpenCV with as many:
//  - gamma and histogram through the chain behind a whole-image "Process
//    rect" against their kernels called directly (the chain's overhead);
//  - the histogram step (count and stretch; with its panel hidden it draws
//    no graph) on RGB8, beside cv::calcHist of three channels plus cv::LUT;
//  - the filters without a kernel against their nearest OpenCV peers:
//    grey8 through a colour LUT against cv::applyColorMap with a user map,
//    adjust +100 on RGB8 against cv::add of a scalar, set on grey16 against
//    Mat::setTo.
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
#include "filters/processing/lf_clear.h"
#include "filters/processing/lf_gamma.h"
#include "filters/processing/lf_histogram.h"
#include "filters/processing/lf_lut.h"
#include "filters/processing/lf_rect.h"
#include "image/kernels/gamma.h"
#include "image/kernels/histogram_levels.h"
#include "image/pool.h"

#ifdef KV_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int32_t kWidth = 1920, kHeight = 1080;
const ImgRect kAll{0, 0, kWidth - 1, kHeight - 1};

struct Chain : kvbench::WholeImageChain {
    explicit Chain(CImgFilter* filter) : WholeImageChain({filter}, kWidth, kHeight) {}
};

void Fill(CImgBuff& image, int32_t format) {
    image.buffer->Create(kWidth, kHeight, format);
    const uint64_t bytes = uint64_t(kWidth) * kHeight * ImgFormatBytes(format);
    uint32_t s = 12345;
    for (uint64_t i = 0; i < bytes; ++i) {
        s = s * 1103515245u + 12345u;
        image.buffer->pixels[i] = static_cast<uint8_t>((i / 7 % 200) + (s >> 29));
    }
}

const char* Label(int32_t format) { return format == kImgRgb8 ? "rgb8" : format == kImgGray8 ? "gray8" : "gray16"; }


CLfHistogram* StretchingHistogram() {
    auto* f = static_cast<CLfHistogram*>(CreateLfHistogram());
    f->RangeChanged(20, 230);  // not yet in a chain: no rerun
    return f;
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

    kvbench::Overhead overhead;
    for (int32_t format : {kImgRgb8, kImgGray8, kImgGray16}) {
        const std::string label = Label(format);
        overhead.Add(
            "gamma/" + label,
            [format](benchmark::State& s) {
                Chain chain(CreateLfGamma());
                CImgBuff image;
                Fill(image, format);
                for (auto _ : s) chain.RunChain(&image, 0);
            },
            [format](benchmark::State& s) {
                CImgBuff image;
                Fill(image, format);
                GammaTable* table = ImgGammaTableCreate(2.2, 1.0);
                for (auto _ : s) ImgGammaTableApply(&image, table, &kAll);
                ImgGammaTableFree(table);
            });
        overhead.Add(
            "histogram/" + label,
            [format](benchmark::State& s) {
                Chain chain(StretchingHistogram());
                CImgBuff image;
                Fill(image, format);
                for (auto _ : s) chain.RunChain(&image, 0);
            },
            [format](benchmark::State& s) {
                CImgBuff image;
                Fill(image, format);
                ImgLevelTable* table = ImgLevelTableCreate(20 * 256, 230 * 256 + 255);
                HistogramRecord record;
                for (auto _ : s) {
                    CLfHistogram::Count(&image, kAll, &record);
                    ImgLevelTableApply(&image, table, &kAll);
                }
                ImgLevelTableFree(table);
            });
    }

    // The histogram step on RGB8, beside calcHist + LUT.
    kvbench::Pairs pairs;
    pairs.Add(
        "histogram step", "rgb8",
        [](benchmark::State& s) {
            std::unique_ptr<CLfHistogram> f(StretchingHistogram());
            CImgBuff image;
            Fill(image, kImgRgb8);
            for (auto _ : s) f->OnFilter(&image, 0, 0, 0, kWidth, kHeight, 8, 1, nullptr, nullptr);
        },
        [](benchmark::State& s) {
#ifdef KV_HAVE_OPENCV
            CImgBuff image;
            Fill(image, kImgRgb8);
            cv::Mat m = Wrap(image);
            cv::Mat lut(1, 256, CV_8UC1);
            for (int i = 0; i < 256; ++i) lut.at<uint8_t>(i) = cv::saturate_cast<uint8_t>((i - 20) * 255 / 210);
            const int histSize[] = {256};
            const float range[] = {0, 256};
            const float* ranges[] = {range};
            for (auto _ : s) {
                cv::Mat hist[3];
                for (int c = 0; c < 3; ++c) cv::calcHist(&m, 1, &c, cv::Mat(), hist[c], 1, histSize, ranges);
                cv::LUT(m, lut, m);
            }
#else
            (void)s;
#endif
        });
    // Grey8 through a colour LUT into RGB8.
    pairs.Add(
        "pseudo-color", "gray8",
        [](benchmark::State& s) {
            std::unique_ptr<CLfLut> f(static_cast<CLfLut*>(CreateLfLut()));
            f->Preset(101);
            CImgBuff source, image;
            Fill(source, kImgGray8);
            for (auto _ : s) {
                s.PauseTiming();
                image.CopyFrom(&source);
                s.ResumeTiming();
                f->OnFilter(&image, 0, 0, 0, kWidth, kHeight, 8, 1, nullptr, nullptr);
            }
        },
        [](benchmark::State& s) {
#ifdef KV_HAVE_OPENCV
            std::unique_ptr<CLfLut> f(static_cast<CLfLut*>(CreateLfLut()));
            f->Preset(101);
            cv::Mat map(256, 1, CV_8UC3);
            for (int i = 0; i < 256; ++i) map.at<cv::Vec3b>(i) = cv::Vec3b(f->lut[2][i], f->lut[1][i], f->lut[0][i]);
            CImgBuff source;
            Fill(source, kImgGray8);
            cv::Mat m = Wrap(source), out;
            for (auto _ : s) cv::applyColorMap(m, out, map);
#else
            (void)s;
#endif
        });
    pairs.Add(
        "adjust +100", "rgb8",
        [](benchmark::State& s) {
            std::unique_ptr<CLfClear> f(static_cast<CLfClear*>(CreateLfClear()));
            f->mode.Set(CLfClear::kModeAdjust);
            f->level.Set(228);  // 128 + 100
            CImgBuff image;
            Fill(image, kImgRgb8);
            for (auto _ : s) f->OnFilter(&image, 0, 0, 0, kWidth, kHeight, 8, 1, nullptr, nullptr);
        },
        [](benchmark::State& s) {
#ifdef KV_HAVE_OPENCV
            CImgBuff image;
            Fill(image, kImgRgb8);
            cv::Mat m = Wrap(image);
            for (auto _ : s) cv::add(m, cv::Scalar(100, 100, 100), m);
#else
            (void)s;
#endif
        });
    pairs.Add(
        "set", "gray16",
        [](benchmark::State& s) {
            std::unique_ptr<CLfClear> f(static_cast<CLfClear*>(CreateLfClear()));
            f->mode.Set(CLfClear::kModeSet);
            f->level.Set(200);
            CImgBuff image;
            Fill(image, kImgGray16);
            for (auto _ : s) f->OnFilter(&image, 0, 0, 0, kWidth, kHeight, 8, 1, nullptr, nullptr);
        },
        [](benchmark::State& s) {
#ifdef KV_HAVE_OPENCV
            CImgBuff image;
            Fill(image, kImgGray16);
            cv::Mat m = Wrap(image);
            for (auto _ : s) m.setTo(cv::Scalar(200 * 257));
#else
            (void)s;
#endif
        });

    kvbench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    overhead.Print(reporter);
    pairs.Print(reporter);
    std::printf("(the histogram step is within one 60 Hz refresh when its time is below 16.7 ms)\n");
    benchmark::Shutdown();
    PoolStop();
    return 0;
}
