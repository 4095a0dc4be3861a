// Shared by the kernel benchmarks that compare with OpenCV at one thread and
// at all threads: the thread setting of both sides and the ratio table.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "image/pool.h"

#ifdef KV_HAVE_OPENCV
#include <opencv2/core.hpp>
#endif

namespace kvbench {

// Our pool and OpenCV get the same number of threads.
inline void SetThreads(uint64_t n) {
    PoolSetThreadCount(n);
#ifdef KV_HAVE_OPENCV
    cv::setNumThreads(static_cast<int>(n));
#endif
}

// Collects the real time of every run for the ratio table; of repeated
// benchmarks the shortest repetition, the least disturbed on a shared
// machine.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name != "min") continue;
            times_[r.run_type == Run::RT_Aggregate ? r.run_name.str() : r.benchmark_name()] = r.GetAdjustedRealTime();
        }
    }
    double Time(const std::string& name) const {
        for (const auto& [key, t] : times_)
            if (key.rfind(name, 0) == 0) return t;
        return 0.0;
    }

private:
    std::map<std::string, double> times_;
};

inline double Shortest(const std::vector<double>& v) { return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end()); }

// Registers "<op>/ours/<frame>/t<n>" and "<op>/opencv/<frame>/t<n>" for one
// thread and for all processors, and remembers the pair for the table.
struct Pairs {
    std::vector<std::string> names;  // "<op>|<frame>"
    template <class Ours, class Peer>
    void Add(const std::string& op, const std::string& frame, Ours ours, Peer peer) {
        names.push_back(op + "|" + frame);
        for (uint64_t t : {uint64_t(1), PoolGetProcessorCount()}) {
            const std::string suffix = "/" + frame + "/t" + std::to_string(t);
            benchmark::RegisterBenchmark((op + "/ours" + suffix).c_str(),
                                         [ours, t](benchmark::State& s) {
                                             SetThreads(t);
                                             ours(s);
                                         })
                ->UseRealTime()
                ->Unit(benchmark::kMillisecond)
                ->Repetitions(3)
                ->ComputeStatistics("min", Shortest)
                ->ReportAggregatesOnly(true);
#ifdef KV_HAVE_OPENCV
            benchmark::RegisterBenchmark((op + "/opencv" + suffix).c_str(),
                                         [peer, t](benchmark::State& s) {
                                             SetThreads(t);
                                             peer(s);
                                         })
                ->UseRealTime()
                ->Unit(benchmark::kMillisecond)
                ->Repetitions(3)
                ->ComputeStatistics("min", Shortest)
                ->ReportAggregatesOnly(true);
#else
            (void)peer;
#endif
        }
    }
    void Print(const RatioReporter& r) const {
        const uint64_t all = PoolGetProcessorCount();
        std::printf("\n%-22s %-18s %10s %10s %8s %10s %10s %8s\n", "kernel", "frame", "ours 1t", "cv 1t", "ratio", "ours all",
                    "cv all", "ratio");
        for (const std::string& n : names) {
            const std::string op = n.substr(0, n.find('|')), frame = n.substr(n.find('|') + 1);
            const auto t = [&](const char* side, uint64_t th) {
                return r.Time(op + "/" + side + "/" + frame + "/t" + std::to_string(th));
            };
            const double o1 = t("ours", 1), p1 = t("opencv", 1), oa = t("ours", all), pa = t("opencv", all);
            std::printf("%-22s %-18s %10.2f %10.2f %8.2f %10.2f %10.2f %8.2f\n", op.c_str(), frame.c_str(), o1, p1,
                        p1 > 0 ? o1 / p1 : 0.0, oa, pa, pa > 0 ? oa / pa : 0.0);
        }
        std::printf("(ratio = ours / OpenCV; below 1 means ours is faster)\n");
    }
};

// Runs the registered benchmarks, prints the pairs' table and shuts down.
inline void RunAndPrint(const Pairs& pairs) {
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    pairs.Print(reporter);
    benchmark::Shutdown();
}

}  // namespace kvbench
