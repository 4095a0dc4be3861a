// Resampling and matching kernels beside their OpenCV peers on the same
// frames, in the same run, with one thread and with every processor on both
// sides: ImgRotateScale and ImgOverlapTransform against cv::warpAffine,
// ImgPerspectiveTransform against cv::warpPerspective (all linear), and
// ImgMatchTemplate against cv::matchTemplate over the same positions.
// At the end a table gives each pair's times and ratio (ours / OpenCV).
//
// The peers do not compute the same numbers (OpenCV rounds, uses
// fixed-point weights and its own correlation): compare times only.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

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

const char* FormatLabel(int32_t f) { return f == kImgGray8 ? "gray8" : f == kImgGray16 ? "gray16" : "rgb8"; }

std::string Label(const Frame& f) { return std::string(FormatLabel(f.format)) + "/" + std::to_string(f.width) + "x" + std::to_string(f.height); }

uint64_t Bytes(const Frame& f) { return uint64_t(f.width) * f.height * ImgFormatBytes(f.format); }

// A smooth textured frame (blobs and ramps with a little noise), the same
// for both sides.
void Fill(CImgBuff& img, const Frame& f, uint32_t seed) {
    img.buffer->Create(f.width, f.height, f.format);
    const int ch = f.format == kImgRgb8 ? 3 : 1;
    uint32_t s = seed * 2654435761u + 1;
    for (int32_t y = 0; y < f.height; ++y)
        for (int32_t x = 0; x < f.width; ++x)
            for (int c = 0; c < ch; ++c) {
                s = s * 1103515245u + 12345u;
                const double v = 0.5 + 0.3 * std::sin(0.031 * x + 0.7 * c + seed) * std::cos(0.023 * y - 0.4 * c) +
                                 0.15 * std::sin(0.21 * x * (1 + c) + 0.17 * y) + 0.05 * ((s >> 24) / 255.0 - 0.5);
                const double cl = std::min(1.0, std::max(0.0, v));
                if (f.format == kImgGray16)
                    reinterpret_cast<uint16_t*>(img.buffer->pixels)[uint64_t(y) * f.width + x] = uint16_t(cl * 65535);
                else
                    img.buffer->pixels[(uint64_t(y) * f.width + x) * ch + c] = uint8_t(cl * 255);
            }
}

uint64_t AllThreads() { return PoolGetProcessorCount(); }

void SetThreads(uint64_t n) {
    PoolSetThreadCount(n);
#ifdef KV_HAVE_OPENCV
    cv::setNumThreads(int(n));
#endif
}

#ifdef KV_HAVE_OPENCV
cv::Mat Wrap(CImgBuff& img) {
    const int f = img.buffer->format;
    return cv::Mat(img.buffer->height, img.buffer->width, f == kImgGray8 ? CV_8UC1 : f == kImgGray16 ? CV_16UC1 : CV_8UC3, img.buffer->pixels);
}
#endif

// Collects the shortest time of each benchmark's repetitions for the ratio
// table: on a shared machine the least disturbed run is the one that
// compares like with like. One-thread rows take the thread's processor
// time (all the work runs on the calling thread), which other load on the
// machine does not stretch; rows with every thread take real time.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Aggregate || r.aggregate_name != "min") continue;
            const std::string name = r.run_name.str();
            const bool oneThread = name.find("/t1/") != std::string::npos;
            times_[name] = oneThread ? r.GetAdjustedCPUTime() : r.GetAdjustedRealTime();
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

double Shortest(const std::vector<double>& v) { return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end()); }

// Benchmarks are registered in pairs: name + "/ours/" + tail and name +
// "/opencv/" + tail.
std::vector<std::pair<std::string, std::string>> g_pairs;

template <class Ours, class Peer>
void RegisterPair(const std::string& name, const std::string& tail, Ours ours, Peer peer) {
    for (uint64_t threads : {uint64_t{1}, AllThreads()}) {
        const std::string t = tail + "/t" + std::to_string(threads);
        benchmark::RegisterBenchmark((name + "/ours/" + t).c_str(), [=](benchmark::State& s) {
            SetThreads(threads);
            ours(s);
        })->UseRealTime()->Unit(benchmark::kMillisecond)->Repetitions(3)->ComputeStatistics("min", Shortest)->ReportAggregatesOnly(true);
#ifdef KV_HAVE_OPENCV
        benchmark::RegisterBenchmark((name + "/opencv/" + t).c_str(), [=](benchmark::State& s) {
            SetThreads(threads);
            peer(s);
        })->UseRealTime()->Unit(benchmark::kMillisecond)->Repetitions(3)->ComputeStatistics("min", Shortest)->ReportAggregatesOnly(true);
#else
        (void)peer;
#endif
        g_pairs.emplace_back(name, t);
    }
}

// ---- warps ----

void RegisterWarps() {
    const Frame frames[] = {{1920, 1080, kImgRgb8}, {1920, 1080, kImgGray16}};
    for (const Frame& f : frames) {
        const double angle = 7.5, scale = 1.07;
        const int cx = f.width / 2 + 13, cy = f.height / 2 - 9;
        RegisterPair("rotate_scale", Label(f),
                     [=](benchmark::State& s) {
                         CImgBuff src, work;
                         Fill(src, f, 1);
                         work.CopyFrom(&src);
                         for (auto _ : s) {
                             s.PauseTiming();
                             PoolParallelCopy(work.buffer->pixels, src.buffer->pixels, Bytes(f));
                             s.ResumeTiming();
                             ImgRotateScale(&work, cx, cy, angle, scale, 0, 0);
                         }
                     },
                     [=](benchmark::State& s) {
#ifdef KV_HAVE_OPENCV
                         CImgBuff src;
                         Fill(src, f, 1);
                         cv::Mat a = Wrap(src), d;
                         // The same inverse map as ours.
                         const double th = -angle * 3.141592653589793 / 180.0, c = std::cos(th), sn = std::sin(th);
                         const double ox = (f.width - 1) / 2, oy = (f.height - 1) / 2;
                         cv::Mat m = (cv::Mat_<double>(2, 3) << c / scale, -sn / scale, cx - (ox * c - oy * sn) / scale, sn / scale,
                                      c / scale, cy - (ox * sn + oy * c) / scale);
                         for (auto _ : s)
                             cv::warpAffine(a, d, m, a.size(), cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_CONSTANT);
#else
                         (void)s;
#endif
                     });
        RegisterPair("overlap", Label(f),
                     [=](benchmark::State& s) {
                         CImgBuff src, out, mask;
                         Fill(src, f, 1);
                         int32_t x0, y0;
                         for (auto _ : s) ImgOverlapTransform(&src, 5.5, -3.25, angle, scale, &out, &mask, &x0, &y0);
                     },
                     [=](benchmark::State& s) {
#ifdef KV_HAVE_OPENCV
                         // The same box and inverse map; OpenCV gives no coverage mask.
                         CImgBuff src, out, mask;
                         Fill(src, f, 1);
                         int32_t x0, y0;
                         ImgOverlapTransform(&src, 5.5, -3.25, angle, scale, &out, &mask, &x0, &y0);
                         cv::Mat a = Wrap(src), d;
                         const double th = -angle * 3.141592653589793 / 180.0, c = std::cos(th), sn = std::sin(th);
                         const double ccx = (f.width - 1) * 0.5, ccy = (f.height - 1) * 0.5;
                         const double ox = x0 - 5.5 - ccx, oy = y0 + 3.25 - ccy;
                         cv::Mat m = (cv::Mat_<double>(2, 3) << c / scale, -sn / scale, (ox * c - oy * sn) / scale + ccx, sn / scale,
                                      c / scale, (ox * sn + oy * c) / scale + ccy);
                         const cv::Size size(out.buffer->width, out.buffer->height);
                         for (auto _ : s) cv::warpAffine(a, d, m, size, cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_CONSTANT);
#else
                         (void)s;
#endif
                     });
        // Perspective: a camera looking 12 degrees across and 8 degrees down
        // at the scene, zoomed so that the view stays within the frame; the
        // peer warps by a homography of about the same shape, also within
        // the frame.
        RegisterPair("perspective", Label(f),
                     [=](benchmark::State& s) {
                         CImgBuff src, work;
                         Fill(src, f, 1);
                         work.CopyFrom(&src);
                         const CameraMatrix cam{1400.0, 1400.0, f.width * 0.5, f.height * 0.5};
                         const double angles[3] = {12.0, 8.0, 0.0};
                         for (auto _ : s) {
                             s.PauseTiming();
                             PoolParallelCopy(work.buffer->pixels, src.buffer->pixels, Bytes(f));
                             s.ResumeTiming();
                             ImgPerspectiveTransform(&work, &cam, angles, 1.3, 0);
                         }
                     },
                     [=](benchmark::State& s) {
#ifdef KV_HAVE_OPENCV
                         CImgBuff src;
                         Fill(src, f, 1);
                         cv::Mat a = Wrap(src), d;
                         const float w = float(f.width), h = float(f.height);
                         const cv::Point2f out[4] = {{0, 0}, {w, 0}, {0, h}, {w, h}};
                         const cv::Point2f in[4] = {{0.12f * w, 0.10f * h}, {0.86f * w, 0.14f * h}, {0.10f * w, 0.88f * h}, {0.90f * w, 0.84f * h}};
                         const cv::Mat m = cv::getPerspectiveTransform(out, in);
                         for (auto _ : s)
                             cv::warpPerspective(a, d, m, a.size(), cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_CONSTANT);
#else
                         (void)s;
#endif
                     });
    }
}

// ---- matching ----

#ifdef KV_HAVE_OPENCV
int PeerMethod(int method) { return method == 0 ? cv::TM_SQDIFF : cv::TM_CCOEFF_NORMED; }
#endif

// A PIV-like grid: 32 x 32 templates of the first frame at every 32 pixels,
// each searched over +-32 (a 96 x 96 window) in the second frame, which is
// the first moved by (3, -2) with a little noise.
struct PivGrid {
    CImgBuff first, second;
    std::vector<std::pair<int32_t, int32_t>> cells;
    std::vector<std::unique_ptr<CImgBuff>> templates;
};

std::shared_ptr<PivGrid> MakePivGrid(const Frame& f) {
    auto g = std::make_shared<PivGrid>();
    Fill(g->first, f, 3);
    g->second.CopyFrom(&g->first);
    ImgShift(&g->second, 3, -2, 0);
    uint32_t s = 77;
    const uint64_t n = Bytes(f);
    for (uint64_t i = 0; i < n; i += 3) {
        s = s * 1103515245u + 12345u;
        g->second.buffer->pixels[i] = uint8_t(g->second.buffer->pixels[i] + ((s >> 28) & 3));
    }
    for (int32_t y = 32; y + 64 <= f.height; y += 32)
        for (int32_t x = 32; x + 64 <= f.width; x += 32) {
            g->cells.emplace_back(x, y);
            g->templates.push_back(std::make_unique<CImgBuff>());
            g->first.ExtractRect(g->templates.back().get(), x, y, x + 31, y + 31);
        }
    return g;
}

void RegisterMatching() {
    const Frame frames[] = {{2048, 2048, kImgGray8}, {2048, 2048, kImgRgb8}};
    for (const Frame& f : frames) {
        for (int method : {0, 1}) {
            const std::string tail = Label(f) + "/m" + std::to_string(method);
            RegisterPair("match_piv", tail,
                         [=](benchmark::State& s) {
                             const auto g = MakePivGrid(f);
                             for (auto _ : s)
                                 for (size_t i = 0; i < g->cells.size(); ++i) {
                                     const auto [x, y] = g->cells[i];
                                     int32_t bx, by;
                                     double score;
                                     ImgMatchTemplate(&g->second, g->templates[i].get(), x, y, x - 32, y - 32, x + 32, y + 32, &bx, &by,
                                                      method, 0, 0, &score, nullptr, nullptr);
                                     benchmark::DoNotOptimize(bx);
                                 }
                         },
                         [=](benchmark::State& s) {
#ifdef KV_HAVE_OPENCV
                             const auto g = MakePivGrid(f);
                             cv::Mat second = Wrap(g->second), result;
                             std::vector<cv::Mat> templates;
                             for (auto& t : g->templates) templates.push_back(Wrap(*t));
                             for (auto _ : s)
                                 for (size_t i = 0; i < g->cells.size(); ++i) {
                                     const auto [x, y] = g->cells[i];
                                     cv::matchTemplate(second(cv::Rect(x - 32, y - 32, 96, 96)), templates[i], result, PeerMethod(method));
                                     cv::Point lo, hi;
                                     cv::minMaxLoc(result, nullptr, nullptr, &lo, &hi);
                                     benchmark::DoNotOptimize(lo);
                                 }
#else
                             (void)s;
#endif
                         });
            // One 64 x 64 template over +-64, with and without coarse levels.
            for (int pyramid : {0, 1}) {
                const std::string t2 = Label(f) + "/m" + std::to_string(method) + "/p" + std::to_string(pyramid);
                RegisterPair("match_64", t2,
                             [=](benchmark::State& s) {
                                 const auto g = MakePivGrid(f);
                                 CImgBuff tmpl;
                                 g->first.ExtractRect(&tmpl, 1000, 1000, 1063, 1063);
                                 for (auto _ : s) {
                                     int32_t bx, by;
                                     double score;
                                     ImgMatchTemplate(&g->second, &tmpl, 1000, 1000, 936, 936, 1064, 1064, &bx, &by, method, 0, pyramid, &score,
                                                      nullptr, nullptr);
                                     benchmark::DoNotOptimize(bx);
                                 }
                             },
                             [=](benchmark::State& s) {
#ifdef KV_HAVE_OPENCV
                                 const auto g = MakePivGrid(f);
                                 CImgBuff tmpl;
                                 g->first.ExtractRect(&tmpl, 1000, 1000, 1063, 1063);
                                 cv::Mat second = Wrap(g->second), t = Wrap(tmpl), result;
                                 for (auto _ : s) {
                                     cv::matchTemplate(second(cv::Rect(936, 936, 192, 192)), t, result, PeerMethod(method));
                                     cv::Point lo, hi;
                                     cv::minMaxLoc(result, nullptr, nullptr, &lo, &hi);
                                     benchmark::DoNotOptimize(lo);
                                 }
#else
                                 (void)s;
#endif
                             });
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    // The same heap for both sides whatever ran before: without this, the
    // peer's temporary buffers came from fresh pages on every call once our
    // frames had been freed (glibc's adaptive thresholds).
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
    RegisterWarps();
    RegisterMatching();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n%-16s %-28s %10s %10s %12s\n", "kernel", "case", "ours ms", "opencv ms", "ours/opencv");
    for (const auto& [name, tail] : g_pairs) {
        const double ours = reporter.Time(name + "/ours/" + tail), peer = reporter.Time(name + "/opencv/" + tail);
        if (ours <= 0) continue;
        std::printf("%-16s %-28s %10.3f %10.3f %12.2f\n", name.c_str(), tail.c_str(), ours, peer, peer > 0 ? ours / peer : 0.0);
    }
    SetThreads(AllThreads());
    benchmark::Shutdown();
    return 0;
}
