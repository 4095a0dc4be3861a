// Particle tracking on 1024 x 1024 8-bit frames of 1,000 and 4,000 discs
// moving 2-8 pixels a frame: detection of one frame beside OpenCV's
// connectedComponentsWithStats plus findContours (mean of the contour
// points), one thread and all threads; and linking alone from the exact
// positions of 20 frames (search_r 10, prediction and adaptive radius on),
// per frame, with its share of the detection time; and the whole run of
// the PTV filter by EXEC through the test host over the 20 frames, in frames
// per second beside the detection-alone rate.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "../tests/filters/processing/support/fake_host.h"
#include "bench_support.h"
#include "filters/analysis/lf_ptv.h"
#include "filters/analysis/ptv_detect.h"
#include "filters/analysis/ptv_link.h"

#ifdef KV_HAVE_OPENCV
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int32_t kSide = 1024;
constexpr int32_t kFrames = 20;

struct Pt {
    double x, y;
};

// Positions of `count` particles over kFrames frames: straight or gently
// turning paths at 2-8 pixels a frame, wrapped around the frame.
const std::vector<std::vector<Pt>>& Paths(int count) {
    static std::vector<std::vector<Pt>> p1000, p4000;
    std::vector<std::vector<Pt>>& p = count == 1000 ? p1000 : p4000;
    if (!p.empty()) return p;
    std::mt19937 rng(count);
    std::uniform_real_distribution<double> u(0, 1);
    p.assign(kFrames, {});
    for (int i = 0; i < count; ++i) {
        double x = u(rng) * kSide, y = u(rng) * kSide;
        const double speed = 2 + 6 * u(rng), turn = (u(rng) - 0.5) * 0.1;
        double a = u(rng) * 6.283185307179586;
        for (int f = 0; f < kFrames; ++f) {
            p[f].push_back({x, y});
            x = std::fmod(x + speed * std::cos(a) + kSide, kSide);
            y = std::fmod(y + speed * std::sin(a) + kSide, kSide);
            a += turn;
        }
    }
    return p;
}

const CImgBuff& Frame(int count) {
    static CImgBuff f1000, f4000;
    CImgBuff& img = count == 1000 ? f1000 : f4000;
    if (img.buffer->pixels) return img;
    img.buffer->Create(kSide, kSide, kImgGray8);
    const double r = 2.5;
    for (const Pt& c : Paths(count)[0]) {
        for (int y = int(c.y - r) - 1; y <= int(c.y + r) + 1; ++y)
            for (int x = int(c.x - r) - 1; x <= int(c.x + r) + 1; ++x) {
                if (x < 0 || y < 0 || x >= kSide || y >= kSide) continue;
                if (std::hypot(x - c.x, y - c.y) <= r) *img.buffer->PixelAt(x, y) = 255;
            }
    }
    return img;
}

// Frame f of the moving discs.
const CImgBuff& FrameAt(int count, int f) {
    static std::map<std::pair<int, int>, std::unique_ptr<CImgBuff>> cache;
    auto& slot = cache[{count, f}];
    if (slot) return *slot;
    slot = std::make_unique<CImgBuff>();
    CImgBuff& img = *slot;
    img.buffer->Create(kSide, kSide, kImgGray8);
    const double r = 2.5;
    for (const Pt& c : Paths(count)[static_cast<size_t>(f)]) {
        for (int y = int(c.y - r) - 1; y <= int(c.y + r) + 1; ++y)
            for (int x = int(c.x - r) - 1; x <= int(c.x + r) + 1; ++x) {
                if (x < 0 || y < 0 || x >= kSide || y >= kSide) continue;
                if (std::hypot(x - c.x, y - c.y) <= r) *img.buffer->PixelAt(x, y) = 255;
            }
    }
    return img;
}

// The whole run: EXEC of the filter over kFrames frames in the test host.
void RunHost(benchmark::State& state, int count) {
    for (int f = 0; f < kFrames; ++f) FrameAt(count, f);
    for (auto _ : state) {
        // The host, the filter's panel and the opened sequence are made
        // outside the timed part: the run alone is timed.
        state.PauseTiming();
        auto host = std::make_unique<FakeHost>();
        host->SetLanguage(L"en");
        host->bg.store(0);
        auto* ptv = static_cast<CLfPtv*>(host->Add(CreateLfPtv()));
        ptv->searchR.Set(10.0);
        host->OpenSequence(kFrames, [count](uint64_t i, CImgBuff* out) {
            out->CopyFrom(&FrameAt(count, static_cast<int>(i)));
            return true;
        });
        state.ResumeTiming();
        ptv->Track();
        benchmark::DoNotOptimize(ptv->store.idCount);
        state.PauseTiming();
        host.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}

class FeedSource : public CPtvSource {
public:
    explicit FeedSource(const std::vector<std::vector<Pt>>& frames) : frames_(frames) {}
    Capture CaptureFrame(int32_t frame) override {
        current_ = frame;
        return kCaptured;
    }
    void Detect(ParticleFrame* slot) override {
        const std::vector<Pt>& f = frames_[current_];
        const int32_t n = std::min<int32_t>(int32_t(f.size()), kPtvSlotCapacity);
        for (int32_t i = 0; i < n; ++i) slot->records[i] = Particle{-1, 1, f[i].x, f[i].y};
        slot->count = n;
    }
    PtvLinkSettings Settings() override {
        PtvLinkSettings s;
        s.searchR = 10.0;
        return s;
    }
    void NoMemory() override {}

private:
    const std::vector<std::vector<Pt>>& frames_;
    int32_t current_ = 0;
};

#ifdef KV_HAVE_OPENCV
cv::Mat Wrap(const CImgBuff& img) { return cv::Mat(img.buffer->height, img.buffer->width, CV_8UC1, img.buffer->pixels); }
#endif

}  // namespace

int main(int argc, char** argv) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    benchmark::Initialize(&argc, argv);
    PoolStart();
    kvbench::Pairs pairs;
    static PtvWindow window;
    static std::vector<IslandRecord> scratch(kPtvSlotCapacity);
    for (int count : {1000, 4000}) {
        const std::string frame = std::to_string(count) + " discs";
        pairs.Add("detection", frame,
                  [count](benchmark::State& s) {
                      CImgBuff img;
                      img.CopyFrom(&Frame(count));
                      for (auto _ : s) {
                          benchmark::DoNotOptimize(
                              PtvDetect(&img, ImgRect{0, 0, kSide - 1, kSide - 1}, 8, 0, &window.slots[0], scratch.data()));
                      }
                  },
                  [count](benchmark::State& s) {
#ifdef KV_HAVE_OPENCV
                      const cv::Mat src = Wrap(Frame(count));
                      cv::Mat labels, stats, centroids;
                      std::vector<std::vector<cv::Point>> contours;
                      for (auto _ : s) {
                          cv::connectedComponentsWithStats(src, labels, stats, centroids, 8);
                          cv::findContours(src, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
                          double sum = 0;
                          for (const auto& c : contours) {
                              double x = 0, y = 0;
                              for (const cv::Point& q : c) {
                                  x += q.x;
                                  y += q.y;
                              }
                              sum += x / c.size() + y / c.size();
                          }
                          benchmark::DoNotOptimize(sum);
                      }
#else
                      (void)s;
                      (void)count;
#endif
                  });
        benchmark::RegisterBenchmark(("linking/" + frame + "/per frame").c_str(),
                                     [count](benchmark::State& s) {
                                         FeedSource source(Paths(count));
                                         for (auto _ : s) {
                                             CParticleData store;
                                             benchmark::DoNotOptimize(PtvTrackFrames(&store, kFrames - 1, &source, &window));
                                         }
                                         s.SetItemsProcessed(s.iterations() * kFrames);
                                     })
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(3)
            ->ComputeStatistics("min", kvbench::Shortest)
            ->ReportAggregatesOnly(true);
        for (uint64_t t : {uint64_t(1), PoolGetProcessorCount()})
            benchmark::RegisterBenchmark(("host/" + frame + "/t" + std::to_string(t)).c_str(),
                                         [count, t](benchmark::State& s) {
                                             kvbench::SetThreads(t);
                                             RunHost(s, count);
                                         })
                ->UseRealTime()
                ->Unit(benchmark::kMillisecond)
                ->Repetitions(3)
                ->ComputeStatistics("min", kvbench::Shortest)
                ->ReportAggregatesOnly(true);
    }
    kvbench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    pairs.Print(reporter);
    std::printf("\n%-14s %14s %18s %10s\n", "frame", "link/frame ms", "detect 1t ms", "share");
    for (int count : {1000, 4000}) {
        const std::string frame = std::to_string(count) + " discs";
        const double link = reporter.Time("linking/" + frame) / kFrames;
        const double detect = reporter.Time("detection/ours/" + frame + "/t1");
        std::printf("%-14s %14.3f %18.3f %9.1f%%\n", frame.c_str(), link, detect, detect > 0 ? 100.0 * link / detect : 0.0);
    }
    std::printf("\n%-14s %8s %16s %18s %10s\n", "frame", "threads", "run frames/s", "detect frames/s", "ratio");
    for (int count : {1000, 4000}) {
        const std::string frame = std::to_string(count) + " discs";
        for (uint64_t t : {uint64_t(1), PoolGetProcessorCount()}) {
            const std::string ts = "/t" + std::to_string(t);
            const double run = reporter.Time("host/" + frame + ts);
            const double detect = reporter.Time("detection/ours/" + frame + ts);
            const double runRate = run > 0 ? 1000.0 * kFrames / run : 0.0;
            const double detectRate = detect > 0 ? 1000.0 / detect : 0.0;
            std::printf("%-14s %8llu %16.1f %18.1f %9.1f%%\n", frame.c_str(), static_cast<unsigned long long>(t),
                        runRate, detectRate, detectRate > 0 ? 100.0 * runRate / detectRate : 0.0);
        }
    }
    benchmark::Shutdown();
    return 0;
}
