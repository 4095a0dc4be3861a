// Pixel-format conversion of a 4096 x 3072 frame: C_ImgBuff::ConvertFormat
// beside OpenCV's cvtColor / convertTo on the same pixels, in the same run.
// OpenCV's RGB -> grey uses other (fixed-point) weights: compare times only.
#include <benchmark/benchmark.h>

#include <cstring>

#include "image/imgbuff.h"
#include "image/pool.h"

#ifdef KV_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int32_t kWidth = 4096;
constexpr int32_t kHeight = 3072;

// One shared source frame per format, filled with a fixed pattern.
const C_ImgBuff& Source(int32_t format) {
    static C_ImgBuff frames[10];
    C_ImgBuff& f = frames[format];
    if (!f.pixels) {
        f.Create(kWidth, kHeight, format);
        uint64_t n = uint64_t(kWidth) * kHeight * f.BytesPerPixel();
        uint32_t s = 12345;
        for (uint64_t i = 0; i < n; ++i) {
            s = s * 1103515245u + 12345u;
            f.pixels[i] = uint8_t(s >> 24);
        }
    }
    return f;
}

// Each iteration converts a fresh copy of the source (the copy is not timed).
void BM_ConvertFormat(benchmark::State& state) {
    int32_t from = int32_t(state.range(0));
    int32_t to = int32_t(state.range(1));
    const C_ImgBuff& src = Source(from);
    C_ImgBuff work;
    for (auto _ : state) {
        state.PauseTiming();
        work.CopyFrom(&src);
        state.ResumeTiming();
        if (!work.ConvertFormat(uint32_t(to))) state.SkipWithError("conversion refused");
        benchmark::DoNotOptimize(work.pixels);
    }
    state.SetItemsProcessed(state.iterations() * int64_t(kWidth) * kHeight);
}

#ifdef KV_HAVE_OPENCV
cv::Mat Wrap(const C_ImgBuff& b) {
    static const int kTypes[10] = {0, CV_8UC1, CV_16UC1, CV_32SC1, CV_8UC3, CV_16UC3, CV_32SC3, 0, 0, 0};
    return cv::Mat(b.height, b.width, kTypes[b.format], b.pixels);
}

// Like ConvertFormat, each OpenCV conversion produces a new image (the
// destination is allocated in the timed region).
void BM_OpenCv(benchmark::State& state) {
    int32_t from = int32_t(state.range(0));
    int32_t to = int32_t(state.range(1));
    cv::Mat src = Wrap(Source(from));
    for (auto _ : state) {
        cv::Mat dst;
        if (from == kImgRgb8 && to == kImgGray8) {
            cv::cvtColor(src, dst, cv::COLOR_RGB2GRAY);
        } else if (from == kImgGray8 && to == kImgRgb8) {
            cv::cvtColor(src, dst, cv::COLOR_GRAY2RGB);
        } else {
            src.convertTo(dst, CV_8U, 1.0 / 256.0);  // RGB16 -> RGB8
        }
        benchmark::DoNotOptimize(dst.data);
    }
    state.SetItemsProcessed(state.iterations() * int64_t(kWidth) * kHeight);
}

// The same with the destination allocated once outside the timing.
void BM_OpenCvPreallocated(benchmark::State& state) {
    int32_t from = int32_t(state.range(0));
    int32_t to = int32_t(state.range(1));
    cv::Mat src = Wrap(Source(from));
    cv::Mat dst;
    for (auto _ : state) {
        if (from == kImgRgb8 && to == kImgGray8) {
            cv::cvtColor(src, dst, cv::COLOR_RGB2GRAY);
        } else if (from == kImgGray8 && to == kImgRgb8) {
            cv::cvtColor(src, dst, cv::COLOR_GRAY2RGB);
        } else {
            src.convertTo(dst, CV_8U, 1.0 / 256.0);
        }
        benchmark::DoNotOptimize(dst.data);
    }
    state.SetItemsProcessed(state.iterations() * int64_t(kWidth) * kHeight);
}
#endif

void Pairs(benchmark::internal::Benchmark* b) {
    b->Args({kImgRgb8, kImgGray8})->Args({kImgGray8, kImgRgb8})->Args({kImgRgb16, kImgRgb8});
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_ConvertFormat)->Apply(Pairs);
#ifdef KV_HAVE_OPENCV
BENCHMARK(BM_OpenCv)->Apply(Pairs);
BENCHMARK(BM_OpenCvPreallocated)->Apply(Pairs);
#endif

}  // namespace

int main(int argc, char** argv) {
    PoolStart();
#ifdef KV_HAVE_OPENCV
    // OpenCV threads as many workers as our pool.
    cv::setNumThreads(int(PoolGetProcessorCount()));
#endif
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PoolStop();
    return 0;
}
