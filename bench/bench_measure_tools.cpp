// The measurement and tool filters beside OpenCV, one thread and all
// threads (OpenCV given as many as our pool):
//  - auto measurement: the filter step on binary 1024 x 1024 and
//    4096 x 4096 frames of 1,000 and 4,000 discs (every fifth a ring)
//    against connectedComponentsWithStats + findContours + minAreaRect of
//    every contour;
//  - overlap compare: the composition of a whole-frame overlay on 1080p
//    RGB8 and grey16 frames, "compare" against cv::blendLinear and "diff"
//    against absdiff + blendLinear (blendLinear takes 8-bit or float
//    samples only: grey16 is blended as float copies of the same samples,
//    converted outside the timing);
//  - strobe photo's change mask of a 1080p RGB8 pair against absdiff +
//    resize (INTER_AREA) to 4 x 4 cells;
//  - background generation (average, maximum, minimum) of 100 1080p RGB8
//    frames run through the test host against cv::accumulate, cv::max and
//    cv::min over the same frames in memory.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "../tests/filters/processing/support/fake_host.h"
#include "bench_frames.h"
#include "bench_support.h"
#include "filters/analysis/lf_ameasure.h"
#include "filters/analysis/lf_bg_create.h"
#include "filters/analysis/lf_overlap_compare.h"
#include "filters/analysis/lf_strobe_photo.h"
#include "image/imgbuff.h"
#include "image/pool.h"

#ifdef KV_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int32_t kWidth = 1920, kHeight = 1080;

// --- auto measurement ---

// `count` discs on a jittered grid of a side x side frame, so that they do
// not touch; every fifth is a ring.
void Discs(CImgBuff& img, int32_t side, int count) {
    img.buffer->Create(side, side, kImgGray8);
    std::memset(img.buffer->pixels, 0, static_cast<size_t>(side) * side);
    const int per = static_cast<int>(std::ceil(std::sqrt(count)));
    const double cell = double(side) / per, rmax = cell * 0.4;
    std::mt19937 rng(count + side);
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
                    if (x < 0 || y < 0 || x >= side || y >= side) continue;
                    const double d = std::hypot(x - cx, y - cy);
                    if (d <= r && d > inner) *img.buffer->PixelAt(x, y) = 255;
                }
        }
}

const CImgBuff& DiscFrame(int32_t side, int count) {
    static std::map<std::pair<int32_t, int>, std::unique_ptr<CImgBuff>> frames;
    auto& f = frames[{side, count}];
    if (!f) {
        f = std::make_unique<CImgBuff>();
        Discs(*f, side, count);
    }
    return *f;
}

// --- 1080p frames ---

void Rgb8Frame(CImgBuff& image, int k) {
    std::vector<uint8_t> rgb;
    kvbench::MakeMovingFrame(rgb, kWidth, kHeight, k);
    image.buffer->Create(kWidth, kHeight, kImgRgb8);
    std::memcpy(image.buffer->pixels, rgb.data(), rgb.size());
}

void Gray16Frame(CImgBuff& image, int k) {
    image.buffer->Create(kWidth, kHeight, kImgGray16);
    uint32_t s = 777u + 31u * static_cast<uint32_t>(k);
    for (int32_t y = 0; y < kHeight; ++y) {
        auto* row = reinterpret_cast<uint16_t*>(image.buffer->PixelAt(0, y));
        for (int32_t x = 0; x < kWidth; ++x) {
            s = s * 1664525u + 1013904223u;
            row[x] = static_cast<uint16_t>((x * 60000) / kWidth + ((x + 40 * k) / 64 % 5) * 900 + (s >> 28));
        }
    }
}

void MakeFrame(CImgBuff& image, int32_t format, int k) {
    if (format == kImgRgb8)
        Rgb8Frame(image, k);
    else
        Gray16Frame(image, k);
}

#ifdef KV_HAVE_OPENCV
cv::Mat Wrap(const CImgBuff& image) {
    const int32_t f = image.buffer->format;
    const int type = f == kImgGray8 ? CV_8UC1 : f == kImgGray16 ? CV_16UC1 : CV_8UC3;
    return cv::Mat(image.buffer->height, image.buffer->width, type, image.buffer->pixels);
}
#endif

// A whole-frame overlay: another frame of the same format, fully covering.
std::unique_ptr<CLfOverlapCompare::Overlay> WholeOverlay(int32_t format) {
    auto o = std::make_unique<CLfOverlapCompare::Overlay>();
    MakeFrame(o->image, format, 7);
    o->mask.buffer->Create(kWidth, kHeight, kImgGray8);
    std::memset(o->mask.buffer->pixels, 255, static_cast<size_t>(kWidth) * kHeight);
    o->format = format;
    return o;
}

constexpr int32_t kTransparency = 50;

void OverlapOurs(benchmark::State& s, int32_t format, int32_t mode) {
    const auto overlay = WholeOverlay(format);
    CImgBuff frame;
    MakeFrame(frame, format, 0);
    for (auto _ : s) CLfOverlapCompare::Compose(&frame, *overlay, mode, kTransparency);
}

void OverlapPeer(benchmark::State& s, int32_t format, int32_t mode) {
#ifdef KV_HAVE_OPENCV
    const auto overlay = WholeOverlay(format);
    CImgBuff frame;
    MakeFrame(frame, format, 0);
    cv::Mat a = Wrap(frame), b = Wrap(overlay->image), diff, out;
    if (format == kImgGray16) {
        // blendLinear's other depth.
        a.convertTo(a, CV_32F);
        b.convertTo(b, CV_32F);
    }
    // The weight of the overlay at full coverage, as the filter takes it.
    const float w = static_cast<float>(kTransparency * 255 / 100) / 255.0f;
    const cv::Mat w2(kHeight, kWidth, CV_32FC1, cv::Scalar(w)), w1(kHeight, kWidth, CV_32FC1, cv::Scalar(1.0f - w));
    for (auto _ : s) {
        if (mode == 0) {
            cv::blendLinear(a, b, w1, w2, out);
        } else {
            cv::absdiff(a, b, diff);
            cv::blendLinear(a, diff, w1, w2, out);
        }
        benchmark::DoNotOptimize(out.data);
    }
#else
    (void)s, (void)format, (void)mode;
#endif
}

// --- background generation ---

constexpr int kFrames = 100, kDistinct = 10;  // frame i shows picture i % 10

const std::vector<std::unique_ptr<CImgBuff>>& Movie() {
    static std::vector<std::unique_ptr<CImgBuff>> frames;
    if (frames.empty())
        for (int k = 0; k < kDistinct; ++k) {
            frames.push_back(std::make_unique<CImgBuff>());
            Rgb8Frame(*frames.back(), k);
        }
    return frames;
}

void BackgroundOurs(benchmark::State& s, uint32_t method) {
    Movie();
    FakeHost host;
    host.SetLanguage(L"en");
    auto* f = static_cast<CLfBgCreate*>(host.Add(CreateLfBgCreate()));
    host.OpenSequence(kFrames, [](uint64_t i, CImgBuff* out) {
        out->CopyFrom(Movie()[i % kDistinct].get());
        return true;
    });
    f->method.Set(method);
    for (auto _ : s) {
        CImgBuff background;
        if (f->Generate(&background) != 1) s.SkipWithError("generation failed");
        benchmark::DoNotOptimize(background.buffer->pixels);
    }
}

void BackgroundPeer(benchmark::State& s, uint32_t method) {
#ifdef KV_HAVE_OPENCV
    const auto& movie = Movie();
    // Outputs allocated once, outside the timing.
    cv::Mat out(kHeight, kWidth, CV_8UC3), sum(kHeight, kWidth, CV_64FC3);
    for (auto _ : s) {
        if (method == 0) {
            sum.setTo(cv::Scalar::all(0));
            for (int i = 0; i < kFrames; ++i) cv::accumulate(Wrap(*movie[i % kDistinct]), sum);
            sum.convertTo(out, CV_8UC3, 1.0 / kFrames);
        } else {
            Wrap(*movie[0]).copyTo(out);
            for (int i = 1; i < kFrames; ++i) {
                if (method == 1)
                    cv::max(out, Wrap(*movie[i % kDistinct]), out);
                else
                    cv::min(out, Wrap(*movie[i % kDistinct]), out);
            }
        }
        benchmark::DoNotOptimize(out.data);
    }
#else
    (void)s, (void)method;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    PoolStart();
    benchmark::Initialize(&argc, argv);
    kvbench::Pairs pairs;

    for (int32_t side : {1024, 4096})
        for (int count : {1000, 4000}) {
            const std::string frame = std::to_string(side) + "/" + std::to_string(count);
            pairs.Add(
                "auto measurement", frame,
                [side, count](benchmark::State& s) {
                    std::unique_ptr<CLfAmeasure> f(static_cast<CLfAmeasure*>(CreateLfAmeasure()));
                    CImgBuff image;
                    image.CopyFrom(&DiscFrame(side, count));
                    for (auto _ : s) f->OnFilter(&image, 0, 0, 0, side, side, 8, 0, nullptr, nullptr);
                    if (!f->Results() || f->Results()->count != static_cast<uint64_t>(count))
                        s.SkipWithError("wrong island count");
                },
                [side, count](benchmark::State& s) {
#ifdef KV_HAVE_OPENCV
                    cv::Mat src = Wrap(DiscFrame(side, count)), labels, stats, centroids;
                    std::vector<std::vector<cv::Point>> contours;
                    std::vector<cv::Vec4i> hierarchy;
                    for (auto _ : s) {
                        cv::connectedComponentsWithStats(src, labels, stats, centroids, 8);
                        cv::findContours(src, contours, hierarchy, cv::RETR_CCOMP, cv::CHAIN_APPROX_NONE);
                        for (const auto& c : contours) benchmark::DoNotOptimize(cv::minAreaRect(c));
                    }
#else
                    (void)s;
#endif
                });
        }

    for (int32_t format : {kImgRgb8, kImgGray16}) {
        const std::string frame = format == kImgRgb8 ? "1080p rgb8" : "1080p gray16";
        for (int32_t mode : {0, 1})
            pairs.Add(
                mode == 0 ? "overlap compare" : "overlap diff", frame,
                [format, mode](benchmark::State& s) { OverlapOurs(s, format, mode); },
                [format, mode](benchmark::State& s) { OverlapPeer(s, format, mode); });
    }

    pairs.Add(
        "strobe change mask", "1080p rgb8",
        [](benchmark::State& s) {
            CImgBuff a, b;
            Rgb8Frame(a, 0);
            Rgb8Frame(b, 1);
            std::vector<uint8_t> cells;
            for (auto _ : s) CLfStrobePhoto::ChangedCells(a, b, &cells);
        },
        [](benchmark::State& s) {
#ifdef KV_HAVE_OPENCV
            CImgBuff a, b;
            Rgb8Frame(a, 0);
            Rgb8Frame(b, 1);
            cv::Mat diff, cells;
            for (auto _ : s) {
                cv::absdiff(Wrap(a), Wrap(b), diff);
                cv::resize(diff, cells, cv::Size(kWidth / 4, kHeight / 4), 0, 0, cv::INTER_AREA);
                benchmark::DoNotOptimize(cells.data);
            }
#else
            (void)s;
#endif
        });

    const char* methods[3] = {"average", "maximum", "minimum"};
    for (uint32_t m = 0; m < 3; ++m)
        pairs.Add(
            std::string("background ") + methods[m], "100 x 1080p rgb8",
            [m](benchmark::State& s) { BackgroundOurs(s, m); }, [m](benchmark::State& s) { BackgroundPeer(s, m); });

    kvbench::RunAndPrint(pairs);
    PoolStop();
    return 0;
}
