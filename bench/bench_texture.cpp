// Display conversion of a full-HD frame into a texture's CPU copy, against a
// plain memcpy of the same texture buffer. The frames-per-second counter is
// the rate at which a movie of that format could be shown by this step alone.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <random>
#include <vector>

#include "image/imgbuff.h"
#include "image/pool.h"
#include "toolkit/fg_texture.h"

namespace {

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;

void FillRandom(CImgBuff& img, int32_t format) {
    img.buffer->Create(kWidth, kHeight, format);
    std::mt19937 rng(1);
    const size_t n = static_cast<size_t>(kWidth) * kHeight * img.buffer->BytesPerPixel();
    for (size_t i = 0; i < n; ++i) img.buffer->pixels[i] = static_cast<uint8_t>(rng());
}

void BM_MemcpyTextureBuffer(benchmark::State& state) {
    const size_t bytes = size_t{2048} * 2048 * 3;  // the texture buffer of a 1920 x 1080 frame
    std::vector<uint8_t> a(bytes, 1), b(bytes);
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), bytes);
        benchmark::DoNotOptimize(b.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// Each iteration also copies a buffer of the texture's size with memcpy,
// timed apart, so both run under the same machine load.
void BM_SetFromImage(benchmark::State& state) {
    const int32_t format = static_cast<int32_t>(state.range(0));
    CImgBuff img;
    FillRandom(img, format);
    CFgTexture texture;
    texture.SetFromImage(&img, 1);
    std::vector<uint8_t> from(texture.byteSize, 1), to(texture.byteSize);
    double ours = 0, copy = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        std::memcpy(to.data(), from.data(), to.size());
        benchmark::DoNotOptimize(to.data());
        auto t1 = std::chrono::steady_clock::now();
        texture.SetFromImage(&img, 1);
        benchmark::DoNotOptimize(texture.pixels);
        auto t2 = std::chrono::steady_clock::now();
        const double seconds = std::chrono::duration<double>(t2 - t1).count();
        copy += std::chrono::duration<double>(t1 - t0).count();
        ours += seconds;
        state.SetIterationTime(seconds);
    }
    state.counters["fps"] = static_cast<double>(state.iterations()) / ours;
    state.counters["x_memcpy"] = ours / copy;
    state.SetLabel(ImgFormatName(format));
}

}  // namespace

BENCHMARK(BM_MemcpyTextureBuffer)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SetFromImage)->Arg(kImgRgb8)->Arg(kImgGray16)->Arg(kImgRgb16)->Unit(benchmark::kMillisecond)->UseManualTime();

int main(int argc, char** argv) {
    PoolStart();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PoolStop();
    return 0;
}
