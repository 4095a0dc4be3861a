// Worker pool: parallel byte copy and fill against single-threaded
// memcpy/memset on 256 MiB, and the cost of one parallel-for dispatch.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "image/pool.h"

namespace {

constexpr uint64_t kBytes = 256ull << 20;

// Source and destination, touched once so page faults stay out of the timing.
struct Buffers {
    std::vector<uint8_t> src = std::vector<uint8_t>(kBytes, 0x5A);
    std::vector<uint8_t> dst = std::vector<uint8_t>(kBytes, 0x01);
};

Buffers& Shared() {
    static Buffers b;
    return b;
}

void BM_PoolParallelCopy(benchmark::State& state) {
    Buffers& b = Shared();
    for (auto _ : state) benchmark::DoNotOptimize(PoolParallelCopy(b.dst.data(), b.src.data(), kBytes));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
}

void BM_Memcpy(benchmark::State& state) {
    Buffers& b = Shared();
    for (auto _ : state) benchmark::DoNotOptimize(std::memcpy(b.dst.data(), b.src.data(), kBytes));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
}

void BM_PoolParallelZero(benchmark::State& state) {
    Buffers& b = Shared();
    for (auto _ : state) benchmark::DoNotOptimize(PoolParallelZero(b.dst.data(), kBytes));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
}

void BM_Memset(benchmark::State& state) {
    Buffers& b = Shared();
    for (auto _ : state) benchmark::DoNotOptimize(std::memset(b.dst.data(), 0, kBytes));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
}

void TouchRange(void* ctx, uint64_t first, uint64_t count) {
    benchmark::DoNotOptimize(ctx);
    benchmark::DoNotOptimize(first + count);
}

// One dispatch of 2P tiny ranges: posting, waking the workers, waiting.
void BM_PoolDispatchTiny(benchmark::State& state) {
    const uint64_t n = 2 * PoolGetProcessorCount();
    int ctx = 0;
    for (auto _ : state) PoolParallelFor(TouchRange, &ctx, n);
}

BENCHMARK(BM_PoolParallelCopy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PoolParallelZero)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Memset)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PoolDispatchTiny)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Console output plus the real time of each benchmark, for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal.
    RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs)
            if (!r.error_occurred && r.run_type == Run::RT_Iteration) seconds_[r.benchmark_name()] = r.GetAdjustedRealTime();
    }
    void PrintRatio(const char* ours, const char* peer) const {
        auto a = seconds_.find(ours);
        auto b = seconds_.find(peer);
        if (a == seconds_.end() || b == seconds_.end() || a->second <= 0) return;
        std::printf("%s is %.2fx as fast as %s\n", ours, b->second / a->second, peer);
    }

private:
    std::map<std::string, double> seconds_;
};

}  // namespace

int main(int argc, char** argv) {
    PoolStart();
    std::printf("pool: %llu processors, %llu worker threads\n",
                static_cast<unsigned long long>(PoolGetProcessorCount()),
                static_cast<unsigned long long>(g_PoolThreadCount.load()));
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatio("BM_PoolParallelCopy/real_time", "BM_Memcpy/real_time");
    reporter.PrintRatio("BM_PoolParallelZero/real_time", "BM_Memset/real_time");
    benchmark::Shutdown();
    PoolStop();
    return 0;
}
