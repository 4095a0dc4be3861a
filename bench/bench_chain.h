// A filter chain behind a whole-image "Process rect" that runs on the
// calling thread, and the table of chain runs against direct kernel calls
// (the chain's overhead) at one thread and at every processor.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "filters/core/filterctrl.h"
#include "filters/processing/lf_rect.h"
#include "image/imgbuff.h"
#include "image/pool.h"

namespace kvbench {

struct WholeImageChain : CFilterCtrl {
    WholeImageChain(std::vector<CImgFilter*> filters, int32_t width, int32_t height) {
        uint64_t index;
        auto* rect = static_cast<CLfRect*>(CreateLfRect());
        AddFilter(rect, &index);
        rect->Set({1, 0, 0, static_cast<uint64_t>(width), static_cast<uint64_t>(height)});
        for (CImgFilter* f : filters) AddFilter(f, &index);
        SetSourceFormat(static_cast<uint64_t>(width), static_cast<uint64_t>(height), 3, 1);
    }
    ~WholeImageChain() override { StopWorker(); }
};

// Times `step` on a fresh copy of `source` each iteration (the copy is not
// timed), for filters that change the frame in place.
template <class Step>
void RunOnCopies(benchmark::State& s, const CImgBuff& source, Step&& step) {
    CImgBuff image;
    for (auto _ : s) {
        s.PauseTiming();
        image.CopyFrom(&source);
        s.ResumeTiming();
        step(&image);
    }
}

// Registers "<name>/chain/t<n>" and "<name>/direct/t<n>" and prints the
// overhead of each chain run over its direct calls.
struct Overhead {
    std::vector<std::string> names;
    void Add(const std::string& name, std::function<void(benchmark::State&)> chain,
             std::function<void(benchmark::State&)> direct) {
        names.push_back(name);
        for (uint64_t t : {uint64_t(1), PoolGetProcessorCount()})
            for (int side = 0; side < 2; ++side) {
                auto body = side ? direct : chain;
                benchmark::RegisterBenchmark((name + (side ? "/direct" : "/chain") + "/t" + std::to_string(t)).c_str(),
                                             [body, t](benchmark::State& s) {
                                                 SetThreads(t);
                                                 body(s);
                                             })
                    ->UseRealTime()
                    ->Unit(benchmark::kMillisecond)
                    ->Repetitions(5)
                    ->ComputeStatistics("min", Shortest)
                    ->ReportAggregatesOnly(true);
            }
    }
    void Print(const RatioReporter& r) const {
        const uint64_t all = PoolGetProcessorCount();
        std::printf("\n%-28s %10s %10s %9s %10s %10s %9s\n", "chain vs kernel", "chain 1t", "direct 1t", "overhead",
                    "chain all", "direct all", "overhead");
        for (const std::string& n : names) {
            const auto t = [&](const char* side, uint64_t th) { return r.Time(n + "/" + side + "/t" + std::to_string(th)); };
            const double c1 = t("chain", 1), d1 = t("direct", 1), ca = t("chain", all), da = t("direct", all);
            std::printf("%-28s %10.3f %10.3f %8.1f%% %10.3f %10.3f %8.1f%%\n", n.c_str(), c1, d1,
                        d1 > 0 ? (c1 / d1 - 1) * 100 : 0.0, ca, da, da > 0 ? (ca / da - 1) * 100 : 0.0);
        }
    }
};

}  // namespace kvbench
