// Neighbourhood filters beside OpenCV on 4096 x 3072 frames of noise
// (grey8, RGB8, grey16): the integer convolution at 3 x 3 and 5 x 5 and the
// double 3 x 3 against cv::filter2D, the median at 3 and 5 against
// cv::medianBlur. One thread and all threads, with a ratio table at the end.
// Results differ at the borders (OpenCV reflects, ours clips the window):
// compare times only.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "bench_support.h"
#include "image/kernels/kernels.h"

#ifdef KV_HAVE_OPENCV
#include <opencv2/imgproc.hpp>
#endif

namespace {

struct Frame {
    const char* name;
    int32_t format;
};

const CImgBuff& Noise(int32_t format) {
    static CImgBuff frames[10];
    CImgBuff& f = frames[format];
    if (!f.buffer->pixels) {
        f.buffer->Create(4096, 3072, format);
        std::mt19937 rng(format);
        const uint64_t n = uint64_t(4096) * 3072 * f.buffer->BytesPerPixel();
        for (uint64_t i = 0; i < n; ++i) f.buffer->pixels[i] = static_cast<uint8_t>(rng() >> 24);
    }
    return f;
}

#ifdef KV_HAVE_OPENCV
cv::Mat Wrap(const CImgBuff& img) {
    const int type = img.buffer->format == kImgGray8 ? CV_8UC1 : img.buffer->format == kImgRgb8 ? CV_8UC3 : CV_16UC1;
    return cv::Mat(img.buffer->height, img.buffer->width, type, img.buffer->pixels);
}
#endif

template <class Op>
auto Ours(int32_t format, Op op) {
    return [format, op](benchmark::State& s) {
        CImgBuff img;
        img.CopyFrom(&Noise(format));
        for (auto _ : s) op(img);
    };
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    PoolStart();
    kvbench::Pairs pairs;
    static const int32_t k3[9] = {1, 2, 1, 2, 4, 2, 1, 2, 1};
    static int32_t k5[25];
    for (int i = 0; i < 25; ++i) k5[i] = 1 + (i % 5 == 2) + (i / 5 == 2);
    static const double d3[9] = {1, 2, 1, 2, 4, 2, 1, 2, 1};
    for (const Frame f : {Frame{"gray8", kImgGray8}, Frame{"rgb8", kImgRgb8}, Frame{"gray16", kImgGray16}}) {
        const int32_t format = f.format;
        pairs.Add("convolve 3x3", f.name, Ours(format, [](CImgBuff& i) { ImgConvolve(&i, 3, k3, 1, 0, nullptr); }),
                  [format](benchmark::State& s) {
#ifdef KV_HAVE_OPENCV
                      cv::Mat src = Wrap(Noise(format)), dst, k(3, 3, CV_32F);
                      for (int i = 0; i < 9; ++i) k.at<float>(i / 3, i % 3) = k3[i] / 16.0f;
                      for (auto _ : s) cv::filter2D(src, dst, -1, k);
#endif
                  });
        pairs.Add("convolve 5x5", f.name, Ours(format, [](CImgBuff& i) { ImgConvolve(&i, 5, k5, 1, 0, nullptr); }),
                  [format](benchmark::State& s) {
#ifdef KV_HAVE_OPENCV
                      cv::Mat src = Wrap(Noise(format)), dst, k(5, 5, CV_32F);
                      int sum = 0;
                      for (int v : k5) sum += v;
                      for (int i = 0; i < 25; ++i) k.at<float>(i / 5, i % 5) = float(k5[i]) / sum;
                      for (auto _ : s) cv::filter2D(src, dst, -1, k);
#endif
                  });
        pairs.Add("convolve3x3 double", f.name, Ours(format, [](CImgBuff& i) { ImgConvolve3x3(&i, 0, d3); }),
                  [format](benchmark::State& s) {
#ifdef KV_HAVE_OPENCV
                      cv::Mat src = Wrap(Noise(format)), dst, k(3, 3, CV_64F);
                      for (int i = 0; i < 9; ++i) k.at<double>(i / 3, i % 3) = d3[i] / 16.0;
                      for (auto _ : s) cv::filter2D(src, dst, -1, k);
#endif
                  });
        for (int n : {3, 5}) {
            pairs.Add("median " + std::to_string(n), f.name, Ours(format, [n](CImgBuff& i) { ImgMedian(&i, n, nullptr); }),
                      [format, n](benchmark::State& s) {
#ifdef KV_HAVE_OPENCV
                          cv::Mat src = Wrap(Noise(format)), dst;
                          for (auto _ : s) cv::medianBlur(src, dst, n);
#endif
                      });
        }
    }
    kvbench::RunAndPrint(pairs);
    PoolStop();
    return 0;
}
