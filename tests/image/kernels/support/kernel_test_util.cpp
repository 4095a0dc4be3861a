#include "kernel_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "image/pool.h"
#include "support/testsupport.h"

namespace ktest {

const int32_t kAllFormats[9] = {kImgGray8, kImgGray16, kImgGray32, kImgRgb8, kImgRgb16, kImgRgb32, kImgXyz, kImgHsv16, kImgCmyk8};

bool MakeNoise(CImgBuff& image, int32_t w, int32_t h, int32_t format, uint32_t seed) {
    if (!image.buffer->Create(w, h, format)) return false;
    std::mt19937 rng(seed);
    C_ImgBuff& b = *image.buffer;
    const uint64_t bytes = static_cast<uint64_t>(w) * h * b.BytesPerPixel();
    if (format == kImgXyz) {
        std::uniform_real_distribution<double> d(0.0, 1.1);
        double* p = reinterpret_cast<double*>(b.pixels);
        for (uint64_t i = 0; i < bytes / 8; ++i) p[i] = d(rng);
    } else {
        for (uint64_t i = 0; i < bytes; ++i) b.pixels[i] = static_cast<uint8_t>(rng() >> 24);
    }
    return true;
}

bool MakeBlobs(CImgBuff& image, int32_t w, int32_t h, uint32_t seed, double noise, uint8_t object) {
    if (!image.buffer->Create(w, h, kImgGray8)) return false;
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0, 1);
    uint8_t* p = image.buffer->pixels;
    for (int k = 0; k < w * h / 150; ++k) {
        const double cx = u(rng) * w, cy = u(rng) * h, r = 1 + u(rng) * 7, inner = u(rng) < 0.3 ? r * 0.5 : -1;
        for (int y = std::max(0, int(cy - r - 1)); y < std::min(h, int(cy + r + 2)); ++y)
            for (int x = std::max(0, int(cx - r - 1)); x < std::min(w, int(cx + r + 2)); ++x) {
                const double d = std::hypot(x - cx, y - cy);
                if (d <= r && d > inner) p[static_cast<size_t>(y) * w + x] = object;
            }
    }
    for (int64_t i = 0; i < int64_t(w) * h; ++i)
        if (u(rng) < noise) p[i] = p[i] ? 0 : object;
    return true;
}

template <class T>
bool MakeFrom(CImgBuff& image, int32_t w, int32_t h, int32_t format, const std::vector<T>& values) {
    if (!image.buffer->Create(w, h, format)) return false;
    const uint64_t bytes = static_cast<uint64_t>(w) * h * image.buffer->BytesPerPixel();
    if (values.size() * sizeof(T) != bytes) return false;
    std::memcpy(image.buffer->pixels, values.data(), bytes);
    return true;
}
template bool MakeFrom<uint8_t>(CImgBuff&, int32_t, int32_t, int32_t, const std::vector<uint8_t>&);
template bool MakeFrom<uint16_t>(CImgBuff&, int32_t, int32_t, int32_t, const std::vector<uint16_t>&);
template bool MakeFrom<uint32_t>(CImgBuff&, int32_t, int32_t, int32_t, const std::vector<uint32_t>&);
template bool MakeFrom<double>(CImgBuff&, int32_t, int32_t, int32_t, const std::vector<double>&);

std::string Block(const CImgBuff& image) {
    const C_ImgBuff& b = *image.buffer;
    if (!b.pixels) return {};
    return std::string(reinterpret_cast<const char*>(b.pixels), static_cast<size_t>(b.width) * b.height * b.BytesPerPixel());
}

template <class T>
std::vector<T> Values(const CImgBuff& image) {
    const std::string bytes = Block(image);
    std::vector<T> v(bytes.size() / sizeof(T));
    std::memcpy(v.data(), bytes.data(), v.size() * sizeof(T));
    return v;
}
template std::vector<uint8_t> Values<uint8_t>(const CImgBuff&);
template std::vector<uint16_t> Values<uint16_t>(const CImgBuff&);
template std::vector<uint32_t> Values<uint32_t>(const CImgBuff&);
template std::vector<double> Values<double>(const CImgBuff&);

std::string RunNumpy(const std::string& script, const std::vector<std::string>& inputs) {
    kvtest::TempDir dir("kernels");
    std::vector<std::string> args;
    for (size_t i = 0; i < inputs.size(); ++i) {
        args.push_back(dir.file("in" + std::to_string(i) + ".raw"));
        EXPECT_TRUE(kvtest::WriteFileBytes(args.back(), inputs[i]));
    }
    args.push_back(dir.file("out.raw"));
    std::string out;
    const int rc = kvtest::RunPython("import sys\nimport numpy as np\n" + script, args, &out);
    EXPECT_EQ(rc, 0) << out;
    return kvtest::ReadFileBytes(args.back());
}

void WithOneAndAllThreads(const std::function<void()>& one, const std::function<void()>& all) {
    const uint64_t p = PoolGetProcessorCount();
    ASSERT_EQ(PoolSetThreadCount(1), 1);
    one();
    ASSERT_EQ(PoolSetThreadCount(p), 1);
    all();
}

void ExpectConcatenated(const std::vector<std::string>& results, const std::string& expected) {
    size_t at = 0;
    for (size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(results[i], expected.substr(at, results[i].size())) << "case " << i;
        at += results[i].size();
    }
    EXPECT_EQ(at, expected.size());
}

}  // namespace ktest
