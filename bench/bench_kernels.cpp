// Point-wise and pixel-moving kernels beside their OpenCV peers on the same
// frames, in the same run, with one thread and with every processor on both
// sides (our pool's thread count and cv::setNumThreads): negative, gamma and
// level tables against cv::LUT, mirrors and turns against cv::flip /
// cv::rotate, equalisation against cv::equalizeHist, HSV range extraction
// against cvtColor + inRange, background subtraction against absdiff +
// threshold. A copy of the same bytes (PoolParallelCopy) with the same
// threads is the yardstick of the point kernels. At the end a table gives
// each pair's times and ratio (ours / OpenCV).
//
// The peers do not compute the same numbers in every case (OpenCV's HSV and
// equalisation differ from ours): compare times only.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
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

uint64_t AllThreads() { return PoolGetProcessorCount(); }

void SetThreads(uint64_t n) {
    PoolSetThreadCount(n);
#ifdef KV_HAVE_OPENCV
    cv::setNumThreads(int(n));
#endif
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

// The ratio table's collector is shared by the benchmark programs.
using kvbench::RatioReporter;

struct Pair {
    std::string op;
    Frame frame;
    uint64_t threads;
    bool point;  // compared with the copy of the same bytes too
};

std::string Tail(const Frame& f, uint64_t threads) { return Label(f) + "/t" + std::to_string(threads); }

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const Frame frames[] = {{1920, 1080, kImgGray8}, {1920, 1080, kImgRgb8}, {4096, 3072, kImgGray8}, {4096, 3072, kImgRgb8}};
    static GammaTable* gamma = ImgGammaTableCreate(1.0, 2.2);
    static ImgLevelTable* levels = ImgLevelTableCreate(256 * 20, 256 * 230 + 255);
    std::vector<Pair> pairs;

    for (const Frame& f : frames) {
        for (uint64_t threads : {uint64_t{1}, AllThreads()}) {
            const std::string tail = Tail(f, threads);
            // Every benchmark first sets both sides to the same thread count.
            const auto reg = [&](const std::string& name, auto fn) {
                benchmark::RegisterBenchmark((name + "/" + tail).c_str(), [=](benchmark::State& s) {
                    SetThreads(threads);
                    fn(s);
                })->UseRealTime()->Unit(benchmark::kMillisecond);
            };
            reg("copy/pool", [f](benchmark::State& s) {
                CImgBuff a, b;
                Fill(a, f, 1);
                Fill(b, f, 2);
                for (auto _ : s) PoolParallelCopy(b.buffer->pixels, a.buffer->pixels, Bytes(f));
                Finish(s, f);
            });
            reg("negate/ours", [f](benchmark::State& s) { RunOurs(s, f, false, [](CImgBuff& i) { ImgNegate(&i, nullptr); }); });
            reg("gamma/ours", [f](benchmark::State& s) { RunOurs(s, f, false, [](CImgBuff& i) { ImgGammaTableApply(&i, gamma, nullptr); }); });
            reg("levels/ours", [f](benchmark::State& s) { RunOurs(s, f, false, [](CImgBuff& i) { ImgLevelTableApply(&i, levels, nullptr); }); });
            reg("flip_h/ours", [f](benchmark::State& s) {
                RunOurs(s, f, false, [f](CImgBuff& i) {
                    MirrorJob job{&i, 0, 0, f.width - 1, f.height - 1};
                    PoolParallelFor(ImgMirrorHorizontalRows, &job, uint64_t(f.height));
                });
            });
            reg("flip_v/ours", [f](benchmark::State& s) {
                RunOurs(s, f, false, [f](CImgBuff& i) {
                    MirrorJob job{&i, 0, 0, f.width - 1, f.height - 1};
                    PoolParallelFor(ImgMirrorVerticalRows, &job, uint64_t(f.height / 2));
                });
            });
            reg("turn_cw/ours", [f](benchmark::State& s) { RunOurs(s, f, false, [](CImgBuff& i) { ImgRotateQuarterTurns(&i, 1); }); });
            reg("half_turn/ours", [f](benchmark::State& s) { RunOurs(s, f, false, [](CImgBuff& i) { ImgRotateQuarterTurns(&i, 2); }); });
            reg("bgsub/ours", [f](benchmark::State& s) {
                CImgBuff bg;
                Fill(bg, f, 2);
                RunOurs(s, f, true, [&bg](CImgBuff& i) { ImgSubtractBackground(&i, &bg, 0, nullptr); });
            });
            if (f.format == kImgGray8)
                reg("equalize/ours", [f](benchmark::State& s) { RunOurs(s, f, true, [](CImgBuff& i) { ImgFlattenHistogram(&i, nullptr); }); });
            else
                reg("hsv_range/ours", [f](benchmark::State& s) {
                    RunOurs(s, f, true, [](CImgBuff& i) { ImgExtractHsvRange(&i, 60000, 8000, 10000, 60000, 20000, 65535, 0, 1, 0, nullptr); });
                });
#ifdef KV_HAVE_OPENCV
            reg("negate/opencv", [f](benchmark::State& s) {
                cv::Mat lut(1, 256, CV_8U);
                for (int i = 0; i < 256; ++i) lut.at<uint8_t>(i) = uint8_t(255 - i);
                RunOpenCv(s, f, [&lut](cv::Mat& a, cv::Mat&, cv::Mat&) { cv::LUT(a, lut, a); });
            });
            reg("gamma/opencv", [f](benchmark::State& s) {
                cv::Mat lut(1, 256, CV_8U, gamma->table8);
                RunOpenCv(s, f, [&lut](cv::Mat& a, cv::Mat&, cv::Mat&) { cv::LUT(a, lut, a); });
            });
            reg("levels/opencv", [f](benchmark::State& s) {
                cv::Mat lut(1, 256, CV_8U, levels->table8);
                RunOpenCv(s, f, [&lut](cv::Mat& a, cv::Mat&, cv::Mat&) { cv::LUT(a, lut, a); });
            });
            reg("flip_h/opencv", [f](benchmark::State& s) { RunOpenCv(s, f, [](cv::Mat& a, cv::Mat&, cv::Mat& d) { cv::flip(a, d, 1); }); });
            reg("flip_v/opencv", [f](benchmark::State& s) { RunOpenCv(s, f, [](cv::Mat& a, cv::Mat&, cv::Mat& d) { cv::flip(a, d, 0); }); });
            reg("turn_cw/opencv", [f](benchmark::State& s) {
                RunOpenCv(s, f, [](cv::Mat& a, cv::Mat&, cv::Mat& d) { cv::rotate(a, d, cv::ROTATE_90_CLOCKWISE); });
            });
            reg("half_turn/opencv", [f](benchmark::State& s) {
                RunOpenCv(s, f, [](cv::Mat& a, cv::Mat&, cv::Mat& d) { cv::rotate(a, d, cv::ROTATE_180); });
            });
            reg("bgsub/opencv", [f](benchmark::State& s) {
                cv::Mat diff;
                RunOpenCv(s, f, [&diff](cv::Mat& a, cv::Mat& b, cv::Mat& d) {
                    cv::absdiff(a, b, diff);
                    cv::threshold(diff, d, 0, 255, cv::THRESH_TOZERO);
                });
            });
            if (f.format == kImgGray8)
                reg("equalize/opencv", [f](benchmark::State& s) { RunOpenCv(s, f, [](cv::Mat& a, cv::Mat&, cv::Mat& d) { cv::equalizeHist(a, d); }); });
            else
                reg("hsv_range/opencv", [f](benchmark::State& s) {
                    cv::Mat hsv;
                    RunOpenCv(s, f, [&hsv](cv::Mat& a, cv::Mat&, cv::Mat& d) {
                        cv::cvtColor(a, hsv, cv::COLOR_RGB2HSV_FULL);
                        cv::inRange(hsv, cv::Scalar(0, 39, 78), cv::Scalar(255, 234, 255), d);
                    });
                });
#endif
            for (const char* op : {"negate", "gamma", "levels"}) pairs.push_back({op, f, threads, true});
            for (const char* op : {"flip_h", "flip_v", "turn_cw", "half_turn", "bgsub"}) pairs.push_back({op, f, threads, false});
            pairs.push_back({f.format == kImgGray8 ? "equalize" : "hsv_range", f, threads, false});
        }
    }

    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("\n%-12s %-16s %7s %10s %10s %12s %12s\n", "kernel", "frame", "threads", "ours ms", "opencv ms", "ours/opencv",
                "ours/copy");
    for (const Pair& p : pairs) {
        // The trailing '/' keeps t1 from matching t16.
        const std::string tail = Tail(p.frame, p.threads) + "/";
        const double ours = reporter.Time(p.op + "/ours/" + tail), peer = reporter.Time(p.op + "/opencv/" + tail);
        const double copy = reporter.Time("copy/pool/" + tail);
        if (ours <= 0) continue;
        std::printf("%-12s %-16s %7llu %10.3f %10.3f %12.2f", p.op.c_str(), Label(p.frame).c_str(),
                    static_cast<unsigned long long>(p.threads), ours, peer, peer > 0 ? ours / peer : 0.0);
        if (p.point && copy > 0) std::printf(" %12.2f", ours / copy);
        std::printf("\n");
    }
    SetThreads(AllThreads());
    ImgGammaTableFree(gamma);
    ImgLevelTableFree(levels);
    benchmark::Shutdown();
    return 0;
}
