// The FFT core and the image FFT beside FFTW at its best (complex double,
// in place, FFTW_MEASURE plans made outside the timing, as FFTW's users do)
// in the same run, with one thread and with every processor on both sides
// (our pool's thread count and fftw_plan_with_nthreads of libfftw3_threads;
// without that library the benchmark is built without the peer). At the end a table gives each pair's times and
// ratio (ours / FFTW). The image FFT's peer is what its work amounts to:
// three forward transforms of 2048 x 2048 arrays loaded from the frame.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "image/kernels/kernels.h"
#include "image/pool.h"

#ifdef KV_HAVE_FFTW
#include <fftw3.h>
#endif

namespace {

void FillArray(FftComplex* a, uint64_t n) {
    uint32_t s = 12345;
    for (uint64_t i = 0; i < n; ++i) {
        s = s * 1103515245u + 12345u;
        a[i] = FftComplex{double(s >> 8) / 16777216.0, 0.0};
    }
}

FftComplex* NewArray(uint64_t n) { return static_cast<FftComplex*>(std::aligned_alloc(64, n * sizeof(FftComplex))); }

void OursTransform(benchmark::State& state, uint64_t side, bool inverse) {
    FftComplex* a = NewArray(side * side);
    FillArray(a, side * side);
    (inverse ? Ifft2D : Fft2D)(a, side, side);
    for (auto _ : state) {
        (inverse ? Ifft2D : Fft2D)(a, side, side);
        benchmark::DoNotOptimize(a);
    }
    std::free(a);
}

void MakeFrame(CImgBuff& img) {
    img.buffer->Create(1920, 1080, kImgRgb8);
    uint32_t s = 7;
    for (uint64_t i = 0; i < 1920ull * 1080 * 3; ++i) {
        s = s * 1103515245u + 12345u;
        img.buffer->pixels[i] = uint8_t(s >> 24);
    }
}

void OursImage(benchmark::State& state) {
    CImgBuff frame;
    MakeFrame(frame);
    // A filter keeps its state from frame to frame: the arrays of the same
    // geometry are reused, as FFTW's arrays are made outside the timing.
    ImgFftState st{};
    ImgFftForward(&st, &frame);
    for (auto _ : state) {
        ImgFftForward(&st, &frame);
        benchmark::DoNotOptimize(st.array[0]);
    }
    ImgFftReset(&st);
}

#ifdef KV_HAVE_FFTW
void PeerTransform(benchmark::State& state, uint64_t side, bool inverse, uint64_t threads) {
    fftw_complex* a = fftw_alloc_complex(side * side);
    fftw_plan_with_nthreads(int(threads));
    // Measuring overwrites the array, so it is filled after planning.
    fftw_plan p = fftw_plan_dft_2d(int(side), int(side), a, a, inverse ? FFTW_BACKWARD : FFTW_FORWARD, FFTW_MEASURE);
    FillArray(reinterpret_cast<FftComplex*>(a), side * side);
    fftw_execute(p);
    for (auto _ : state) {
        fftw_execute(p);
        benchmark::DoNotOptimize(a);
    }
    fftw_destroy_plan(p);
    fftw_free(a);
}

// Load of the three channels normalised into zeroed 2048 x 2048 arrays,
// three forward transforms.
void PeerImage(benchmark::State& state, uint64_t threads) {
    CImgBuff frame;
    MakeFrame(frame);
    const uint64_t s = 2048;
    fftw_complex* a[3];
    fftw_plan p[3];
    PoolSetThreadCount(threads);
    fftw_plan_with_nthreads(int(threads));
    for (int c = 0; c < 3; ++c) {
        a[c] = fftw_alloc_complex(s * s);
        p[c] = fftw_plan_dft_2d(int(s), int(s), a[c], a[c], FFTW_FORWARD, FFTW_MEASURE);
    }
    // The load runs on our pool with the same threads; one run before the
    // timing touches every page, as ours does.
    const auto run = [&] {
        for (int c = 0; c < 3; ++c) {
            PoolParallelZero(a[c], s * s * sizeof(fftw_complex));
            auto load = [&](uint64_t first, uint64_t count) {
                for (uint64_t y = first; y < first + count; ++y) {
                    const uint8_t* row = frame.buffer->pixels + y * 1920 * 3;
                    for (uint64_t x = 0; x < 1920; ++x) a[c][y * s + x][0] = row[x * 3 + c] / 255.0;
                }
            };
            PoolParallelRun(1080, load);
            fftw_execute(p[c]);
        }
    };
    run();
    for (auto _ : state) {
        run();
        benchmark::DoNotOptimize(a[0]);
    }
    for (int c = 0; c < 3; ++c) {
        fftw_destroy_plan(p[c]);
        fftw_free(a[c]);
    }
}
#endif

void Register(std::vector<std::string>& names, const std::string& op, const std::function<void(benchmark::State&)>& ours,
              const std::function<void(benchmark::State&, uint64_t)>& peer) {
    names.push_back(op);
    for (uint64_t t : {uint64_t(1), PoolGetProcessorCount()}) {
        const std::string suffix = "/t" + std::to_string(t);
        benchmark::RegisterBenchmark((op + "/ours" + suffix).c_str(),
                                     [ours, t](benchmark::State& s) {
                                         PoolSetThreadCount(t);
                                         ours(s);
                                     })
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(3)
            ->ComputeStatistics("min", kvbench::Shortest)
            ->ReportAggregatesOnly(true);
#ifdef KV_HAVE_FFTW
        benchmark::RegisterBenchmark((op + "/fftw" + suffix).c_str(), [peer, t](benchmark::State& s) { peer(s, t); })
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(3)
            ->ComputeStatistics("min", kvbench::Shortest)
            ->ReportAggregatesOnly(true);
#else
        (void)peer;
#endif
    }
}

}  // namespace

int main(int argc, char** argv) {
    PoolStart();
#ifdef KV_HAVE_FFTW
    fftw_init_threads();
#endif
    std::vector<std::string> names;
    for (uint64_t side : {uint64_t(256), uint64_t(1024), uint64_t(2048)}) {
        for (bool inverse : {false, true}) {
            const std::string op = std::string(inverse ? "Ifft2D" : "Fft2D") + "/" + std::to_string(side);
            Register(names, op, [side, inverse](benchmark::State& s) { OursTransform(s, side, inverse); },
                     [side, inverse](benchmark::State& s, uint64_t t) {
#ifdef KV_HAVE_FFTW
                         PeerTransform(s, side, inverse, t);
#else
                         (void)s, (void)t;
#endif
                     });
        }
    }
    Register(names, "ImgFftForward/1920x1080rgb8", OursImage, [](benchmark::State& s, uint64_t t) {
#ifdef KV_HAVE_FFTW
        PeerImage(s, t);
#else
        (void)s, (void)t;
#endif
    });
    benchmark::Initialize(&argc, argv);
    kvbench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const uint64_t all = PoolGetProcessorCount();
    std::printf("\n%-28s %10s %10s %8s %10s %10s %8s\n", "transform", "ours 1t", "fftw 1t", "ratio", "ours all", "fftw all", "ratio");
    for (const std::string& op : names) {
        const auto t = [&](const char* side, uint64_t th) { return reporter.Time(op + "/" + side + "/t" + std::to_string(th)); };
        const double o1 = t("ours", 1), p1 = t("fftw", 1), oa = t("ours", all), pa = t("fftw", all);
        std::printf("%-28s %10.2f %10.2f %8.2f %10.2f %10.2f %8.2f\n", op.c_str(), o1, p1, p1 > 0 ? o1 / p1 : 0.0, oa, pa,
                    pa > 0 ? oa / pa : 0.0);
    }
#ifdef KV_HAVE_FFTW
    std::printf("(ratio = ours / FFTW_MEASURE; below 1 means ours is faster; FFTW threads = our pool's)\n");
#else
    std::printf("(no peer: libfftw3 with libfftw3_threads was not found at build time)\n");
#endif
    benchmark::Shutdown();
#ifdef KV_HAVE_FFTW
    fftw_cleanup_threads();
#endif
    PoolStop();
    return 0;
}
