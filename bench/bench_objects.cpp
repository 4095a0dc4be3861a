// Object kernels beside OpenCV on 4096 x 4096 binary frames of 1,000 and
// 10,000 discs (every fifth a ring): island counting against
// connectedComponentsWithStats, island measurement against that plus
// findContours and minAreaRect per contour, removal by size against
// connectedComponentsWithStats and an area table applied to the labels,
// binary expansion and degeneracy against dilate and erode. One thread and
// all threads, with a ratio table at the end.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "bench_support.h"
#include "image/kernels/kernels.h"

#ifdef KV_HAVE_OPENCV
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int32_t kSide = 4096;

// Discs on a jittered grid so that they do not touch.
void Discs(CImgBuff& img, int count) {
    img.buffer->Create(kSide, kSide, kImgGray8);
    const int per = static_cast<int>(std::ceil(std::sqrt(count)));
    const double cell = double(kSide) / per, rmax = cell * 0.4;
    std::mt19937 rng(count);
    std::uniform_real_distribution<double> u(0, 1);
    int made = 0;
    for (int j = 0; j < per && made < count; ++j)
        for (int i = 0; i < per && made < count; ++i, ++made) {
            const double r = rmax * (0.5 + 0.5 * u(rng));
            const double cx = (i + 0.5) * cell + (u(rng) - 0.5) * (cell - 2 * r - 2) * 0.9;
            const double cy = (j + 0.5) * cell + (u(rng) - 0.5) * (cell - 2 * r - 2) * 0.9;
            const double inner = made % 5 == 0 ? r * 0.5 : -1;
            for (int y = int(cy - r) - 1; y <= int(cy + r) + 1; ++y)
                for (int x = int(cx - r) - 1; x <= int(cx + r) + 1; ++x) {
                    if (x < 0 || y < 0 || x >= kSide || y >= kSide) continue;
                    const double d = std::hypot(x - cx, y - cy);
                    if (d <= r && d > inner) *img.buffer->PixelAt(x, y) = 255;
                }
        }
}

const CImgBuff& Frame(int count) {
    static CImgBuff f1000, f10000;
    CImgBuff& f = count == 1000 ? f1000 : f10000;
    if (!f.buffer->pixels) Discs(f, count);
    return f;
}

// Runs op on a fresh copy of the frame in every iteration (the copy untimed).
template <class Op>
void OnFreshFrame(benchmark::State& s, int count, Op op) {
    CImgBuff img;
    img.CopyFrom(&Frame(count));
    for (auto _ : s) {
        s.PauseTiming();
        PoolParallelCopy(img.buffer->pixels, Frame(count).buffer->pixels, uint64_t(kSide) * kSide);
        s.ResumeTiming();
        op(img);
    }
}

#ifdef KV_HAVE_OPENCV
cv::Mat Wrap(const CImgBuff& img) { return cv::Mat(img.buffer->height, img.buffer->width, CV_8UC1, img.buffer->pixels); }
#endif

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    PoolStart();
    kvbench::Pairs pairs;
    static std::vector<IslandRecord> records(20000);
    for (int count : {1000, 10000}) {
        const std::string frame = std::to_string(count) + " discs";
        pairs.Add(
            "islands count", frame,
            [count](benchmark::State& s) {
                CImgBuff img;
                img.CopyFrom(&Frame(count));
                IslandSettings set{&img, 0, 8, 1, 1, 1.0, 1, nullptr, 0};
                for (auto _ : s) benchmark::DoNotOptimize(ImgMeasureIslands(&set, nullptr, nullptr, 0, nullptr));
            },
            [count](benchmark::State& s) {
#ifdef KV_HAVE_OPENCV
                cv::Mat src = Wrap(Frame(count)), labels, stats, centroids;
                for (auto _ : s) benchmark::DoNotOptimize(cv::connectedComponentsWithStats(src, labels, stats, centroids, 8));
#endif
            });
        pairs.Add(
            "islands measure", frame,
            [count](benchmark::State& s) {
                CImgBuff img;
                img.CopyFrom(&Frame(count));
                IslandSettings set{&img, 0, 8, 1, 0, 1.0, 1, nullptr, 0};
                IslandSummary totals;
                for (auto _ : s) benchmark::DoNotOptimize(ImgMeasureIslands(&set, &totals, records.data(), records.size(), nullptr));
            },
            [count](benchmark::State& s) {
#ifdef KV_HAVE_OPENCV
                cv::Mat src = Wrap(Frame(count)), labels, stats, centroids;
                std::vector<std::vector<cv::Point>> contours;
                std::vector<cv::Vec4i> hierarchy;
                for (auto _ : s) {
                    cv::connectedComponentsWithStats(src, labels, stats, centroids, 8);
                    cv::findContours(src, contours, hierarchy, cv::RETR_CCOMP, cv::CHAIN_APPROX_NONE);
                    for (const auto& c : contours) benchmark::DoNotOptimize(cv::minAreaRect(c));
                }
#endif
            });
        pairs.Add(
            "remove by size", frame,
            [count](benchmark::State& s) { OnFreshFrame(s, count, [](CImgBuff& i) { ImgRemoveObjectsBySize(&i, 300, 0, 8, 0, nullptr); }); },
            [count](benchmark::State& s) {
#ifdef KV_HAVE_OPENCV
                cv::Mat src = Wrap(Frame(count)), labels, stats, centroids, dst = src.clone();
                for (auto _ : s) {
                    const int n = cv::connectedComponentsWithStats(src, labels, stats, centroids, 8);
                    std::vector<uint8_t> keep(n);
                    for (int i = 1; i < n; ++i) keep[i] = stats.at<int>(i, cv::CC_STAT_AREA) > 300 ? 255 : 0;
                    for (int y = 0; y < kSide; ++y) {
                        const int* l = labels.ptr<int>(y);
                        uint8_t* d = dst.ptr<uint8_t>(y);
                        for (int x = 0; x < kSide; ++x) d[x] = keep[l[x]];
                    }
                }
#endif
            });
    }
    for (int conn : {4, 8}) {
        const std::string frame = "10000 discs c" + std::to_string(conn);
        pairs.Add(
            "expand", frame,
            [conn](benchmark::State& s) { OnFreshFrame(s, 10000, [conn](CImgBuff& i) { ImgBinaryExpand(&i, conn, 0, nullptr); }); },
            [conn](benchmark::State& s) {
#ifdef KV_HAVE_OPENCV
                cv::Mat src = Wrap(Frame(10000)), dst;
                const cv::Mat k = cv::getStructuringElement(conn == 4 ? cv::MORPH_CROSS : cv::MORPH_RECT, cv::Size(3, 3));
                for (auto _ : s) cv::dilate(src, dst, k);
#endif
            });
        pairs.Add(
            "shrink", frame,
            [conn](benchmark::State& s) {
                OnFreshFrame(s, 10000, [conn](CImgBuff& i) {
                    BitMask* m = ImgForegroundMask(&i, 0, 0, 0, kSide - 1, kSide - 1);
                    ImgBinaryShrink(m, &i, conn, 0, 0, 0, kSide - 1, kSide - 1);
                    ImgBitMaskDestroy(m);
                });
            },
            [conn](benchmark::State& s) {
#ifdef KV_HAVE_OPENCV
                cv::Mat src = Wrap(Frame(10000)), dst;
                const cv::Mat k = cv::getStructuringElement(conn == 4 ? cv::MORPH_CROSS : cv::MORPH_RECT, cv::Size(3, 3));
                for (auto _ : s) cv::erode(src, dst, k);
#endif
            });
    }
    kvbench::RunAndPrint(pairs);
    PoolStop();
    return 0;
}
