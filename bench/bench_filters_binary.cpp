// The binary-image and file-mask filters on 1920 x 1080 frames, with one
// thread and with every processor, OpenCV with as many:
//  - each filter through the chain behind a whole-image "Process rect"
//    against its kernel called directly (the chain's overhead): extraction,
//    mask and background removal on RGB8, the binary filters on a binary
//    frame of 1,000 discs; the binary process with repeat 5 against five
//    calls;
//  - the mask, which has no kernel, against cv::subtract on RGB8 and 48-bit
//    frames;
//  - extraction with its hatched preview against without.
// Every iteration starts from a fresh copy of the frame (untimed), as the
// filters change it in place.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench_chain.h"
#include "bench_support.h"
#include "filters/processing/lf_bg_erase.h"
#include "filters/processing/lf_binary.h"
#include "filters/processing/lf_extract.h"
#include "filters/processing/lf_mask.h"
#include "filters/processing/lf_noise_remover.h"
#include "filters/processing/lf_separation.h"
#include "filters/processing/lf_window_cut.h"
#include "image/kernels/background_subtract.h"
#include "image/kernels/hsv_range.h"
#include "image/kernels/morphology.h"
#include "image/kernels/object_removal.h"
#include "image/kernels/particles.h"
#include "image/pool.h"
#include "media/frame_output.h"
#include "platform/utf8.h"

#ifdef KV_HAVE_OPENCV
#include <opencv2/core.hpp>
#endif

namespace {

constexpr int32_t kWidth = 1920, kHeight = 1080;
const ImgRect kAll{0, 0, kWidth - 1, kHeight - 1};
constexpr uint32_t kWhite = 1;  // the chain's background: white
const ExtractRanges kRanges{11000, 6000, 9000, 60000, 12000, 58000};

struct Chain : kvbench::WholeImageChain {
    explicit Chain(CImgFilter* filter) : WholeImageChain({filter}, kWidth, kHeight) {}
};

// Smooth colour fields with a little noise, at 8 or 16 bits a channel.
void FillColour(CImgBuff& image, int32_t format, uint32_t seed) {
    image.buffer->Create(kWidth, kHeight, format);
    uint32_t s = seed;
    for (int32_t y = 0; y < kHeight; ++y)
        for (int32_t x = 0; x < kWidth; ++x) {
            s = s * 1103515245u + 12345u;
            const uint32_t n = s >> 27;
            const auto r = static_cast<uint16_t>(((x * 255 / kWidth + n) & 255) * 257);
            const auto g = static_cast<uint16_t>(((y * 255 / kHeight + (n >> 1)) & 255) * 257);
            const auto b = static_cast<uint16_t>((((x + y) / 12 + n) & 255) * 257);
            image.buffer->SetPixelRgb16(x, y, r, g, b);
        }
}

// Black discs of radius 4 to 19 on white, some touching and some on the
// edges, with single-pixel specks.
void FillDiscs(CImgBuff& image) {
    image.buffer->Create(kWidth, kHeight, kImgGray8);
    std::fill(image.buffer->pixels, image.buffer->pixels + uint64_t(kWidth) * kHeight, uint8_t(255));
    uint32_t s = 777;
    const auto next = [&s](uint32_t range) {
        s = s * 1103515245u + 12345u;
        return (s >> 8) % range;
    };
    for (int disc = 0; disc < 1000; ++disc) {
        const int32_t cx = int32_t(next(kWidth)), cy = int32_t(next(kHeight)), r = 4 + int32_t(next(16));
        for (int32_t y = std::max(0, cy - r); y <= std::min(kHeight - 1, cy + r); ++y)
            for (int32_t x = std::max(0, cx - r); x <= std::min(kWidth - 1, cx + r); ++x)
                if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) image.buffer->pixels[uint64_t(y) * kWidth + x] = 0;
    }
    for (int speck = 0; speck < 500; ++speck) image.buffer->pixels[next(kWidth * kHeight)] = 0;
}

std::function<void(benchmark::State&)> ChainBody(std::function<void(CImgBuff&)> fill,
                                                 std::function<CImgFilter*()> make) {
    return [fill, make](benchmark::State& s) {
        CImgBuff source;
        fill(source);
        Chain chain(make());
        kvbench::RunOnCopies(s, source, [&](CImgBuff* image) { chain.RunChain(image, 0); });
    };
}

std::function<void(benchmark::State&)> DirectBody(std::function<void(CImgBuff&)> fill,
                                                  std::function<void(CImgBuff*)> step) {
    return [fill, step](benchmark::State& s) {
        CImgBuff source;
        fill(source);
        kvbench::RunOnCopies(s, source, step);
    };
}

// The mask and the background as PNG files, written once.
std::string g_MaskPath, g_BackgroundPath;

void WriteFiles() {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "kv_bench_binary";
    std::filesystem::create_directories(dir);
    g_MaskPath = (dir / "mask.png").string();
    g_BackgroundPath = (dir / "background.png").string();
    CImgBuff mask, background;
    FillColour(mask, kImgRgb8, 99);
    FillColour(background, kImgRgb8, 4242);
    SaveImageFile(&mask, PlatUtf8ToWide(g_MaskPath.c_str()).c_str(), nullptr, nullptr);
    SaveImageFile(&background, PlatUtf8ToWide(g_BackgroundPath.c_str()).c_str(), nullptr, nullptr);
}

CImgFilter* MakeMask() {
    auto* f = static_cast<CLfMask*>(CreateLfMask());
    f->LoadMask(PlatUtf8ToWide(g_MaskPath.c_str()).c_str());
    f->preview.Set(0);
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    PoolStart();
    benchmark::Initialize(&argc, argv);
    WriteFiles();
    const auto rgb8 = [](CImgBuff& i) { FillColour(i, kImgRgb8, 12345); };
    const auto rgb16 = [](CImgBuff& i) { FillColour(i, kImgRgb16, 12345); };
    const auto discs = [](CImgBuff& i) { FillDiscs(i); };

    kvbench::Overhead overhead;
    overhead.Add("extraction/rgb8",
                 ChainBody(rgb8,
                           [] {
                               auto* f = static_cast<CLfExtract*>(CreateLfExtract());
                               f->SetRanges(kRanges);
                               return f;
                           }),
                 DirectBody(rgb8, [](CImgBuff* i) {
                     ImgExtractHsvRange(i, kRanges.hueCentre, kRanges.hueWidth, kRanges.satLow, kRanges.satHigh,
                                        kRanges.valLow, kRanges.valHigh, 0, 0, kWhite, &kAll);
                 }));
    overhead.Add("binary expand x5/discs",
                 ChainBody(discs,
                           [] {
                               auto* f = static_cast<CLfBinary*>(CreateLfBinary());
                               f->type.Set(CLfBinary::Expansion);
                               f->repeat.Set(5);
                               return f;
                           }),
                 DirectBody(discs, [](CImgBuff* i) {
                     for (int k = 0; k < 5; ++k) ImgBinaryExpand(i, 8, kWhite, &kAll);
                 }));
    overhead.Add("binary hole fill/discs", ChainBody(discs, [] { return CreateLfBinary(); }),
                 DirectBody(discs, [](CImgBuff* i) { ImgBinaryFillHoles(i, 8, kWhite, &kAll); }));
    overhead.Add("noise remover/discs", ChainBody(discs, [] { return CreateLfNoiseRemover(); }),
                 DirectBody(discs, [](CImgBuff* i) { ImgRemoveObjectsBySize(i, 10, 0, 8, kWhite, &kAll); }));
    overhead.Add("window cut/discs", ChainBody(discs, [] { return CreateLfWindowCut(); }),
                 DirectBody(discs, [](CImgBuff* i) { ImgEraseEdgeObjects(i, 1, 1, 1, 1, 8, kWhite, &kAll); }));
    overhead.Add("separation/discs", ChainBody(discs, [] { return CreateLfSeparation(); }),
                 DirectBody(discs, [](CImgBuff* i) { ImgSeparateParticles(i, 0, 8, kWhite, &kAll); }));
    overhead.Add("background removal/rgb8",
                 ChainBody(rgb8,
                           [] {
                               auto* f = static_cast<CLfBgErase*>(CreateLfBgErase());
                               f->LoadBackground(PlatUtf8ToWide(g_BackgroundPath.c_str()).c_str(), false);
                               return f;
                           }),
                 [rgb8](benchmark::State& s) {
                     CImgBuff source, background;
                     rgb8(source);
                     FillColour(background, kImgRgb8, 4242);
                     kvbench::RunOnCopies(s, source, [&](CImgBuff* i) { ImgSubtractBackground(i, &background, 0, &kAll); });
                 });

    // The mask against cv::subtract of the same mask.
    kvbench::Pairs pairs;
    for (int32_t format : {kImgRgb8, kImgRgb16}) {
        const auto fill = format == kImgRgb8 ? std::function<void(CImgBuff&)>(rgb8) : rgb16;
        pairs.Add(
            "mask", format == kImgRgb8 ? "rgb8" : "rgb16", ChainBody(fill, MakeMask),
            [fill, format](benchmark::State& s) {
#ifdef KV_HAVE_OPENCV
                CImgBuff source, mask;
                fill(source);
                FillColour(mask, format, 99);
                const int type = format == kImgRgb8 ? CV_8UC3 : CV_16UC3;
                cv::Mat m(kHeight, kWidth, type, mask.buffer->pixels);
                CImgBuff image;
                for (auto _ : s) {
                    s.PauseTiming();
                    image.CopyFrom(&source);
                    s.ResumeTiming();
                    cv::Mat img(kHeight, kWidth, type, image.buffer->pixels);
                    cv::subtract(img, m, img);
                }
#else
                (void)s;
#endif
            });
    }

    // Extraction with the hatched preview against without.
    const std::vector<std::string> previewNames = {"extraction preview", "extraction plain"};
    for (uint64_t t : {uint64_t(1), PoolGetProcessorCount()})
        for (int preview = 0; preview < 2; ++preview) {
            auto body = ChainBody(rgb8, [preview] {
                auto* f = static_cast<CLfExtract*>(CreateLfExtract());
                f->SetRanges(kRanges);
                if (preview) {
                    f->previewBox.checked = 1;
                    f->previewBox.callback(&f->previewBox, f->previewBox.data);
                }
                return f;
            });
            benchmark::RegisterBenchmark((previewNames[preview ? 0 : 1] + "/t" + std::to_string(t)).c_str(),
                                         [body, t](benchmark::State& s) {
                                             kvbench::SetThreads(t);
                                             body(s);
                                         })
                ->UseRealTime()
                ->Unit(benchmark::kMillisecond)
                ->Repetitions(5)
                ->ComputeStatistics("min", kvbench::Shortest)
                ->ReportAggregatesOnly(true);
        }

    kvbench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    overhead.Print(reporter);
    pairs.Print(reporter);
    std::printf("\n%-22s %10s %10s %8s\n", "extraction", "preview", "plain", "ratio");
    for (uint64_t t : {uint64_t(1), PoolGetProcessorCount()}) {
        const double p = reporter.Time("extraction preview/t" + std::to_string(t));
        const double q = reporter.Time("extraction plain/t" + std::to_string(t));
        std::printf("%-22s %10.3f %10.3f %8.2f\n", ("threads " + std::to_string(t)).c_str(), p, q, q > 0 ? p / q : 0.0);
    }
    benchmark::Shutdown();
    PoolStop();
    return 0;
}
