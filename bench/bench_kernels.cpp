// Point-wise and pixel-moving kernels beside their OpenCV peers on the same
// frames, in the same run, with one thread and with every processor on both
// sides (our pool's thread count and cv::setNumThreads): negative against
// cv::bitwise_not, gamma and level tables against cv::LUT, mirrors and turns against cv::flip /
// cv::rotate, equalisation against cv::equalizeHist, HSV range extraction
// against cvtColor + inRange, background subtraction against absdiff +
// threshold. Every peer writes into an output made before the timing (in
// place where ours works in place). A copy of the same bytes
// (PoolParallelCopy) with the same threads is the yardstick of the point kernels. At the end a table gives
// each pair's times and ratio (ours / OpenCV).
//
// The peers do not compute the same numbers in every case (OpenCV's HSV and
// equalisation differ from ours): compare times only.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "image/kernels/kernels.h"
#include "image/pool.h"

#ifdef KV_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

struct Frame {
    int32_t width, height, format;
};

std::string Label(const Frame& f) {
    return std::string(f.format == kImgGray8 ? "gray8" : "rgb8") + "/" + std::to_string(f.width) + "x" + std::to_string(f.height);
}

uint64_t Bytes(const Frame& f) { return uint64_t(f.width) * f.height * ImgFormatBytes(f.format); }

// A frame of fixed noise; `seed` picks one of several.
void Fill(CImgBuff& img, const Frame& f, uint32_t seed) {
    img.buffer->Create(f.width, f.height, f.format);
    uint32_t s = seed * 2654435761u + 1;
    const uint64_t n = Bytes(f);
    for (uint64_t i = 0; i < n; ++i) {
        s = s * 1103515245u + 12345u;
        img.buffer->pixels[i] = uint8_t(s >> 24);
    }
}

void Finish(benchmark::State& state, const Frame& f) { state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Bytes(f))); }

// Runs `op` on the frame; with `fresh` the input is restored before each
// iteration (not timed) because the operation changes what it reads.
template <class Op>
void RunOurs(benchmark::State& state, const Frame& f, bool fresh, Op op) {
    CImgBuff source, work;
    Fill(source, f, 1);
    work.CopyFrom(&source);
    for (auto _ : state) {
        if (fresh) {
            state.PauseTiming();
            PoolParallelCopy(work.buffer->pixels, source.buffer->pixels, Bytes(f));
            state.ResumeTiming();
        }
        op(work);
        benchmark::DoNotOptimize(work.buffer->pixels);
    }
    Finish(state, f);
}

#ifdef KV_HAVE_OPENCV
cv::Mat Wrap(CImgBuff& img) {
    return cv::Mat(img.buffer->height, img.buffer->width, img.buffer->format == kImgGray8 ? CV_8UC1 : CV_8UC3, img.buffer->pixels);
}

template <class Op>
void RunOpenCv(benchmark::State& state, const Frame& f, Op op) {
    CImgBuff source, second;
    Fill(source, f, 1);
    Fill(second, f, 2);
    cv::Mat src = Wrap(source), other = Wrap(second), dst;
    op(src, other, dst);  // allocates the destination once
    for (auto _ : state) {
        op(src, other, dst);
        benchmark::DoNotOptimize(dst.data);
    }
    Finish(state, f);
}
#endif

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const Frame frames[] = {{1920, 1080, kImgGray8}, {1920, 1080, kImgRgb8}, {4096, 3072, kImgGray8}, {4096, 3072, kImgRgb8}};
    static GammaTable* gamma = ImgGammaTableCreate(1.0, 2.2);
    static ImgLevelTable* levels = ImgLevelTableCreate(256 * 20, 256 * 230 + 255);
    kvbench::Pairs pairs;
    std::vector<std::string> pointFrames;  // "<op>|<frame>" of the point kernels
    const uint64_t all = PoolGetProcessorCount();

#ifdef KV_HAVE_OPENCV
    using PeerOp = std::function<void(cv::Mat&, cv::Mat&, cv::Mat&)>;
#else
    using PeerOp = std::function<void()>;
#endif
    for (const Frame& f : frames) {
        const std::string l = Label(f);
        const auto add = [&](const std::string& op, std::function<void(CImgBuff&)> ours, bool fresh, PeerOp peer) {
            pairs.Add(op, l, [=](benchmark::State& s) { RunOurs(s, f, fresh, ours); },
                      [=](benchmark::State& s) {
#ifdef KV_HAVE_OPENCV
                          RunOpenCv(s, f, peer);
#else
                          (void)s;
#endif
                      });
        };
#ifdef KV_HAVE_OPENCV
        const auto lut = [](const uint8_t* table) {
            return PeerOp([m = cv::Mat(1, 256, CV_8U, const_cast<uint8_t*>(table)).clone()](cv::Mat& a, cv::Mat&, cv::Mat&) {
                cv::LUT(a, m, a);
            });
        };
#define KV_PEER(...) PeerOp(__VA_ARGS__)
#else
        const auto lut = [](const uint8_t*) { return PeerOp([] {}); };
#define KV_PEER(...) PeerOp([] {})
#endif
        // The yardstick of the point kernels: a copy of the same bytes.
        for (uint64_t t : {uint64_t{1}, all})
            benchmark::RegisterBenchmark(("copy/pool/" + l + "/t" + std::to_string(t)).c_str(), [f, t](benchmark::State& s) {
                kvbench::SetThreads(t);
                CImgBuff a, b;
                Fill(a, f, 1);
                Fill(b, f, 2);
                for (auto _ : s) PoolParallelCopy(b.buffer->pixels, a.buffer->pixels, Bytes(f));
                Finish(s, f);
            })
                ->UseRealTime()
                ->Unit(benchmark::kMillisecond)
                ->Repetitions(3)
                ->ComputeStatistics("min", kvbench::Shortest)
                ->ReportAggregatesOnly(true);
        add("negate", [](CImgBuff& i) { ImgNegate(&i, nullptr); }, false,
            KV_PEER([](cv::Mat& a, cv::Mat&, cv::Mat&) { cv::bitwise_not(a, a); }));
        add("gamma", [](CImgBuff& i) { ImgGammaTableApply(&i, gamma, nullptr); }, false, lut(gamma->table8));
        add("levels", [](CImgBuff& i) { ImgLevelTableApply(&i, levels, nullptr); }, false, lut(levels->table8));
        for (const char* op : {"negate", "gamma", "levels"}) pointFrames.push_back(std::string(op) + "|" + l);
        add("flip_h",
            [f](CImgBuff& i) {
                MirrorJob job{&i, 0, 0, f.width - 1, f.height - 1};
                PoolParallelFor(ImgMirrorHorizontalRows, &job, uint64_t(f.height));
            },
            false, KV_PEER([](cv::Mat& a, cv::Mat&, cv::Mat& d) { cv::flip(a, d, 1); }));
        add("flip_v",
            [f](CImgBuff& i) {
                MirrorJob job{&i, 0, 0, f.width - 1, f.height - 1};
                PoolParallelFor(ImgMirrorVerticalRows, &job, uint64_t(f.height / 2));
            },
            false, KV_PEER([](cv::Mat& a, cv::Mat&, cv::Mat& d) { cv::flip(a, d, 0); }));
        add("turn_cw", [](CImgBuff& i) { ImgRotateQuarterTurns(&i, 1); }, false,
            KV_PEER([](cv::Mat& a, cv::Mat&, cv::Mat& d) { cv::rotate(a, d, cv::ROTATE_90_CLOCKWISE); }));
        add("half_turn", [](CImgBuff& i) { ImgRotateQuarterTurns(&i, 2); }, false,
            KV_PEER([](cv::Mat& a, cv::Mat&, cv::Mat& d) { cv::rotate(a, d, cv::ROTATE_180); }));
        {
            auto bg = std::make_shared<CImgBuff>();
            Fill(*bg, f, 2);
            add("bgsub", [bg](CImgBuff& i) { ImgSubtractBackground(&i, bg.get(), 0, nullptr); }, true,
                KV_PEER([diff = std::make_shared<cv::Mat>()](cv::Mat& a, cv::Mat& b, cv::Mat& d) {
                    cv::absdiff(a, b, *diff);
                    cv::threshold(*diff, d, 0, 255, cv::THRESH_TOZERO);
                }));
        }
        if (f.format == kImgGray8)
            add("equalize", [](CImgBuff& i) { ImgFlattenHistogram(&i, nullptr); }, true,
                KV_PEER([](cv::Mat& a, cv::Mat&, cv::Mat& d) { cv::equalizeHist(a, d); }));
        else
            add("hsv_range",
                [](CImgBuff& i) { ImgExtractHsvRange(&i, 60000, 8000, 10000, 60000, 20000, 65535, 0, 1, 0, nullptr); }, true,
                KV_PEER([hsv = std::make_shared<cv::Mat>()](cv::Mat& a, cv::Mat&, cv::Mat& d) {
                    cv::cvtColor(a, *hsv, cv::COLOR_RGB2HSV_FULL);
                    cv::inRange(*hsv, cv::Scalar(0, 39, 78), cv::Scalar(255, 234, 255), d);
                }));
#undef KV_PEER
    }

    kvbench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    pairs.Print(reporter);
    std::printf("\n%-22s %-18s %10s %10s\n", "point kernel", "frame", "ours/copy 1t", "all");
    for (const std::string& n : pointFrames) {
        const std::string op = n.substr(0, n.find('|')), frame = n.substr(n.find('|') + 1);
        const auto ratio = [&](uint64_t t) {
            const std::string tail = "/" + frame + "/t" + std::to_string(t) + "/";
            const double ours = reporter.Time(op + "/ours" + tail), copy = reporter.Time("copy/pool" + tail);
            return copy > 0 ? ours / copy : 0.0;
        };
        std::printf("%-22s %-18s %10.2f %10.2f\n", op.c_str(), frame.c_str(), ratio(1), ratio(all));
    }
    kvbench::SetThreads(all);
    ImgGammaTableFree(gamma);
    ImgLevelTableFree(levels);
    benchmark::Shutdown();
    return 0;
}
