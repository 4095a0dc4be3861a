// Colour kernels beside OpenCV on 4096 x 3072 frames, one thread and all
// threads on both sides, with a ratio table at the end:
//  - ImgBayer mode 1 (linear) against cv::cvtColor Bayer to RGB, mode 2
//    (adaptive colour plane) against its edge-aware variant, on 8- and
//    16-bit RGGB mosaics. Each of our runs starts from the grey mosaic again
//    (restored outside the timing), since the kernel turns it into colour.
//  - ImgExtractComponent grey, R, S, V and L* of an RGB8 frame against
//    cvtColor to grey, extractChannel, cvtColor to HSV (full range) and to
//    L*a*b*.
// The results differ (OpenCV's edge-aware variant is another method, and
// its colour conversions use fixed-point tables): compare times only.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <string>

#include "bench_support.h"
#include "image/kernels/kernels.h"

#ifdef KV_HAVE_OPENCV
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int32_t kW = 4096, kH = 3072;

// A smooth picture with a little noise, as a sensor would see it.
const CImgBuff& Picture(int32_t format) {
    static CImgBuff frames[10];
    CImgBuff& f = frames[format];
    if (!f.buffer->pixels) {
        f.buffer->Create(kW, kH, format);
        std::mt19937 rng(format);
        C_ImgBuff& b = *f.buffer;
        const int ch = format == kImgRgb8 ? 3 : 1;
        for (int32_t y = 0; y < kH; ++y)
            for (int32_t x = 0; x < kW; ++x)
                for (int c = 0; c < ch; ++c) {
                    const double v = 0.5 + 0.35 * std::sin(0.013 * x + 0.9 * c) * std::cos(0.011 * y - 0.5 * c) +
                                     0.1 * std::sin(0.17 * x + 0.13 * y) + 0.04 * ((rng() >> 24) / 255.0 - 0.5);
                    const double cl = std::min(1.0, std::max(0.0, v));
                    const uint64_t i = (uint64_t(y) * kW + x) * ch + c;
                    if (format == kImgGray16) reinterpret_cast<uint16_t*>(b.pixels)[i] = uint16_t(cl * 65535);
                    else b.pixels[i] = uint8_t(cl * 255);
                }
    }
    return f;
}

#ifdef KV_HAVE_OPENCV
cv::Mat Wrap(const CImgBuff& img) {
    const int f = img.buffer->format;
    return cv::Mat(img.buffer->height, img.buffer->width, f == kImgGray8 ? CV_8UC1 : f == kImgGray16 ? CV_16UC1 : CV_8UC3,
                   img.buffer->pixels);
}
#endif

auto OursBayer(int32_t format, uint32_t mode) {
    return [format, mode](benchmark::State& s) {
        CImgBuff img;
        for (auto _ : s) {
            s.PauseTiming();
            img.CopyFrom(&Picture(format));
            s.ResumeTiming();
            ImgBayer(&img, mode, 2, nullptr, nullptr);
        }
    };
}

auto PeerBayer(int32_t format, int code) {
    return [format, code](benchmark::State& s) {
#ifdef KV_HAVE_OPENCV
        cv::Mat src = Wrap(Picture(format)), dst;
        for (auto _ : s) cv::cvtColor(src, dst, code);
#else
        (void)format, (void)code, (void)s;
#endif
    };
}

auto OursComponent(int32_t code) {
    return [code](benchmark::State& s) {
        CImgBuff img;
        for (auto _ : s) {
            s.PauseTiming();
            img.CopyFrom(&Picture(kImgRgb8));
            s.ResumeTiming();
            ImgExtractComponent(&img, code, 0, nullptr);
        }
    };
}

// code >= 0: a cvtColor conversion; -1: extractChannel of channel 0.
auto PeerComponent(int code) {
    return [code](benchmark::State& s) {
#ifdef KV_HAVE_OPENCV
        cv::Mat src = Wrap(Picture(kImgRgb8)), dst;
        for (auto _ : s) {
            if (code < 0) cv::extractChannel(src, dst, 0);
            else cv::cvtColor(src, dst, code);
        }
#else
        (void)code, (void)s;
#endif
    };
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    PoolStart();
    kvbench::Pairs pairs;
#ifdef KV_HAVE_OPENCV
    const int linear = cv::COLOR_BayerBG2RGB, edge = cv::COLOR_BayerBG2RGB_EA;
#else
    const int linear = 0, edge = 0;
#endif
    for (int32_t f : {kImgGray8, kImgGray16}) {
        const std::string frame = std::string(f == kImgGray8 ? "gray8" : "gray16") + "/4096x3072";
        pairs.Add("bayer linear", frame, OursBayer(f, 1), PeerBayer(f, linear));
        pairs.Add("bayer adaptive", frame, OursBayer(f, 2), PeerBayer(f, edge));
    }
#ifdef KV_HAVE_OPENCV
    const int grey = cv::COLOR_BGR2GRAY, hsv = cv::COLOR_BGR2HSV_FULL, lab = cv::COLOR_BGR2Lab;
#else
    const int grey = 0, hsv = 0, lab = 0;
#endif
    const std::string rgb = "rgb8/4096x3072";
    pairs.Add("component grey", rgb, OursComponent(kComponentGrey), PeerComponent(grey));
    pairs.Add("component R", rgb, OursComponent(kComponentRed), PeerComponent(-1));
    pairs.Add("component S", rgb, OursComponent(kComponentSaturation), PeerComponent(hsv));
    pairs.Add("component V", rgb, OursComponent(kComponentValue), PeerComponent(hsv));
    pairs.Add("component L*", rgb, OursComponent(kComponentLightness), PeerComponent(lab));
    kvbench::RunAndPrint(pairs);
    PoolStop();
    return 0;
}
