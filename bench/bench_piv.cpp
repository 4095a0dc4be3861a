// PIV: one frame pair of 1024 x 1024 8-bit particles, cells of 16 with
// patterns of 32 x 32 (3,844 vectors), by PivJob (search size 0 and 1, fast
// processing on and off) on one thread and on all, against FFTW's float
// r2c cross-correlation of the same window pairs with arg-max and a
// three-point Gaussian peak (plans made outside the timing); and a
// 100-frame run through the test host against PivJob's own rate.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "../tests/filters/processing/support/fake_host.h"
#include "bench_support.h"
#include "filters/analysis/flow_data.h"
#include "filters/analysis/lf_piv.h"
#include "image/imgbuff.h"
#include "image/pool.h"

#ifdef KV_HAVE_FFTW3F
#include <fftw3.h>
#endif

namespace {

constexpr int32_t kSize = 1024, kCell = 16, kWindow = 32;
constexpr int32_t kColumns = kSize / kCell - 2, kRows = kSize / kCell - 2;
constexpr double kVectors = double(kColumns) * kRows;

void Particles(CImgBuff* image, double dx, double dy) {
    image->buffer->Create(kSize, kSize, kImgGray8);
    std::vector<float> acc(static_cast<size_t>(kSize) * kSize, 0.0f);
    uint32_t seed = 12345;
    const int count = static_cast<int>(0.03 * kSize * kSize);
    for (int p = 0; p < count; ++p) {
        seed = seed * 1103515245u + 12345u;
        const double px = (seed >> 8) % (kSize * 64) / 64.0 + dx;
        seed = seed * 1103515245u + 12345u;
        const double py = (seed >> 8) % (kSize * 64) / 64.0 + dy;
        for (int y = std::max(0, int(py) - 4); y <= std::min(kSize - 1, int(py) + 4); ++y)
            for (int x = std::max(0, int(px) - 4); x <= std::min(kSize - 1, int(px) + 4); ++x)
                acc[size_t(y) * kSize + x] += float(std::exp(-((x - px) * (x - px) + (y - py) * (y - py)) / 2.0));
    }
    for (size_t i = 0; i < acc.size(); ++i) image->buffer->pixels[i] = uint8_t(std::min(1.0f, acc[i]) * 230);
}

struct Pair {
    CImgBuff previous, current;
    Pair() {
        Particles(&previous, 0, 0);
        Particles(&current, 2.3, -1.7);
    }
};
Pair& Frames() {
    static Pair pair;
    return pair;
}

void RunJob(benchmark::State& state, int32_t level, int32_t searchCode) {
    Pair& p = Frames();
    CFlowData flow;
    flow.Setup(kCell, kCell, kCell, kColumns, kRows, 2);
    for (auto _ : state) {
        PivJobContext ctx;
        ctx.previous = &p.previous;
        ctx.current = &p.current;
        ctx.frame = 1;
        ctx.level = level;
        ctx.bigPattern = 1;
        ctx.searchCode = searchCode;
        ctx.flow = &flow;
        PivJob(&ctx);
        benchmark::DoNotOptimize(ctx.result.load());
    }
    state.counters["vectors/s"] = benchmark::Counter(kVectors, benchmark::Counter::kIsIterationInvariantRate);
}

#ifdef KV_HAVE_FFTW3F
// One worker's FFTW buffers; the plans are shared (new-array execution).
struct FftBuffers {
    float* a = fftwf_alloc_real(kWindow * kWindow);
    float* b = fftwf_alloc_real(kWindow * kWindow);
    float* r = fftwf_alloc_real(kWindow * kWindow);
    fftwf_complex* fa = fftwf_alloc_complex(kWindow * (kWindow / 2 + 1));
    fftwf_complex* fb = fftwf_alloc_complex(kWindow * (kWindow / 2 + 1));
    ~FftBuffers() {
        fftwf_free(a);
        fftwf_free(b);
        fftwf_free(r);
        fftwf_free(fa);
        fftwf_free(fb);
    }
};

struct FftJob {
    const CImgBuff* previous;
    const CImgBuff* current;
    fftwf_plan forward, inverse;
    std::vector<FlowVector>* out;
};

double GaussPeak(float l, float c, float u) {
    if (l <= 0 || c <= 0 || u <= 0) return 0.0;
    const double den = 2 * std::log(l) - 4 * std::log(c) + 2 * std::log(u);
    return den == 0 ? 0.0 : (std::log(l) - std::log(u)) / den;
}

void FftKernel(void* arg, uint64_t first, uint64_t count) {
    auto& job = *static_cast<FftJob*>(arg);
    thread_local FftBuffers buf;  // each worker's own
    const int n = kWindow, nc = kWindow / 2 + 1;
    for (uint64_t k = first; k < first + count; ++k) {
        const int c = int(k % kColumns), r = int(k / kColumns);
        const int x0 = kCell + c * kCell - kCell / 2, y0 = kCell + r * kCell - kCell / 2;
        double ma = 0, mb = 0;
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                ma += buf.a[y * n + x] = job.previous->buffer->pixels[size_t(y0 + y) * kSize + x0 + x];
                mb += buf.b[y * n + x] = job.current->buffer->pixels[size_t(y0 + y) * kSize + x0 + x];
            }
        ma /= n * n;
        mb /= n * n;
        for (int i = 0; i < n * n; ++i) {
            buf.a[i] -= float(ma);
            buf.b[i] -= float(mb);
        }
        fftwf_execute_dft_r2c(job.forward, buf.a, buf.fa);
        fftwf_execute_dft_r2c(job.forward, buf.b, buf.fb);
        for (int i = 0; i < n * nc; ++i) {
            const float re = buf.fa[i][0] * buf.fb[i][0] + buf.fa[i][1] * buf.fb[i][1];
            const float im = buf.fa[i][0] * buf.fb[i][1] - buf.fa[i][1] * buf.fb[i][0];
            buf.fa[i][0] = re;
            buf.fa[i][1] = im;
        }
        fftwf_execute_dft_c2r(job.inverse, buf.fa, buf.r);
        int best = 0;
        for (int i = 1; i < n * n; ++i)
            if (buf.r[i] > buf.r[best]) best = i;
        const int iy = best / n, ix = best % n;
        const auto at = [&](int y, int x) { return buf.r[((y + n) % n) * n + (x + n) % n]; };
        const double fx = (ix < n / 2 ? ix : ix - n) + GaussPeak(at(iy, ix - 1), at(iy, ix), at(iy, ix + 1));
        const double fy = (iy < n / 2 ? iy : iy - n) + GaussPeak(at(iy - 1, ix), at(iy, ix), at(iy + 1, ix));
        (*job.out)[k] = {fx, fy};
    }
}

void RunFftw(benchmark::State& state) {
    Pair& p = Frames();
    FftBuffers planning;
    fftwf_plan forward = fftwf_plan_dft_r2c_2d(kWindow, kWindow, planning.a, planning.fa, FFTW_MEASURE);
    fftwf_plan inverse = fftwf_plan_dft_c2r_2d(kWindow, kWindow, planning.fa, planning.r, FFTW_MEASURE);
    std::vector<FlowVector> out(size_t(kColumns) * kRows);
    for (auto _ : state) {
        FftJob job;
        job.previous = &p.previous;
        job.current = &p.current;
        job.forward = forward;
        job.inverse = inverse;
        job.out = &out;
        PoolParallelFor(FftKernel, &job, uint64_t(kColumns) * kRows);
        benchmark::DoNotOptimize(out.data());
    }
    fftwf_destroy_plan(forward);
    fftwf_destroy_plan(inverse);
    state.counters["vectors/s"] = benchmark::Counter(kVectors, benchmark::Counter::kIsIterationInvariantRate);
}
#endif

// 100 frames of the particle field moving steadily, run by EXEC through the
// test host. Only the run is timed: making the host and the filter's panel
// (a window) is not part of it.
void RunHost(benchmark::State& state) {
    static std::vector<std::unique_ptr<CImgBuff>> frames;
    if (frames.empty())
        for (int k = 0; k < 100; ++k) {
            frames.push_back(std::make_unique<CImgBuff>());
            Particles(frames.back().get(), 1.1 * k, -0.6 * k);
        }
    for (auto _ : state) {
        FakeHost host;
        host.SetLanguage(L"en");
        auto* piv = static_cast<CLfPiv*>(host.Add(CreateLfPiv()));
        piv->SelectCellSize(1);
        host.OpenSequence(frames.size(), [](uint64_t i, CImgBuff* out) {
            out->CopyFrom(frames[i].get());
            return true;
        });
        const auto start = std::chrono::steady_clock::now();
        piv->Execute();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        benchmark::DoNotOptimize(piv->flow.vectors);
    }
    state.counters["vectors/s"] =
        benchmark::Counter(kVectors * 99, benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

int main(int argc, char** argv) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    benchmark::Initialize(&argc, argv);
    const uint64_t all = PoolGetProcessorCount();
    struct Variant {
        const char* name;
        int32_t level, code;
    } variants[] = {{"fast/index0", 0, -2}, {"fast/index1", 0, 1}, {"exhaustive/index0", 1, -2},
                    {"exhaustive/index1", 1, 1}};
    for (uint64_t t : {uint64_t(1), all}) {
        const std::string suffix = "/t" + std::to_string(t);
        for (const Variant& v : variants)
            benchmark::RegisterBenchmark((std::string("piv/") + v.name + suffix).c_str(),
                                         [v, t](benchmark::State& s) {
                                             kvbench::SetThreads(t);
                                             RunJob(s, v.level, v.code);
                                         })
                ->UseRealTime()
                ->Unit(benchmark::kMillisecond)
                ->Repetitions(3)
                ->ComputeStatistics("min", kvbench::Shortest)
                ->ReportAggregatesOnly(true);
#ifdef KV_HAVE_FFTW3F
        benchmark::RegisterBenchmark(("fftw/r2c" + suffix).c_str(),
                                     [t](benchmark::State& s) {
                                         kvbench::SetThreads(t);
                                         RunFftw(s);
                                     })
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(3)
            ->ComputeStatistics("min", kvbench::Shortest)
            ->ReportAggregatesOnly(true);
#endif
    }
    benchmark::RegisterBenchmark("host/100frames/t1",
                                 [](benchmark::State& s) {
                                     kvbench::SetThreads(1);
                                     RunHost(s);
                                 })
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1)
        ->Repetitions(2)
        ->ComputeStatistics("min", kvbench::Shortest)
        ->ReportAggregatesOnly(true);

    kvbench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto rate = [&](const std::string& name) {
        const double ms = reporter.Time(name);
        return ms > 0 ? kVectors / (ms / 1000.0) : 0.0;
    };
    std::printf("\n%-22s %14s %14s %14s\n", "", "vectors/s 1t", "vectors/s all", "per core all");
    for (const Variant& v : variants) {
        const std::string n = std::string("piv/") + v.name;
        std::printf("%-22s %14.0f %14.0f %14.0f\n", n.c_str(), rate(n + "/t1"), rate(n + "/t" + std::to_string(all)),
                    rate(n + "/t" + std::to_string(all)) / double(all));
    }
#ifdef KV_HAVE_FFTW3F
    std::printf("%-22s %14.0f %14.0f %14.0f\n", "fftw/r2c", rate("fftw/r2c/t1"), rate("fftw/r2c/t" + std::to_string(all)),
                rate("fftw/r2c/t" + std::to_string(all)) / double(all));
    const double f1 = rate("fftw/r2c/t1");
    if (f1 > 0)
        std::printf("fast index 0 / FFTW on one thread: %.2f (above 1: PIV faster)\n", rate("piv/fast/index0/t1") / f1);
#endif
    const double host = reporter.Time("host/100frames/t1");
    if (host > 0)
        std::printf("100-frame run through the host, one thread: %.0f vectors/s = %.0f%% of PivJob's fast index 0 rate\n",
                    kVectors * 99 / (host / 1000.0), 100.0 * (kVectors * 99 / (host / 1000.0)) / rate("piv/fast/index0/t1"));
    benchmark::Shutdown();
    return 0;
}
