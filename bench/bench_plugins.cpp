// Image modules and filter plug-ins against their peers, in the same run:
// - 100 frames of 1920 x 1080, RGB24 and grey16, written and read through
//   the image-module host and ozt.wim (one call per frame, one image kept)
//   against fwrite/fread of the same bytes in the same folder, the two
//   alternating (timed by hand, the shortest of seven rounds);
// - a pass-through plug-in accepting only 8-bit grey fed a 1080p RGB24
//   frame (converted to grey and back by the adapter) against OpenCV's
//   cvtColor to grey and back on the same buffers;
// - a plug-in accepting the frame's own format through the adapter against
//   calling its on_filter directly.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "filters/core/filter_plugin.h"
#include "filters/core/filterctrl.h"
#include "filters/core/lf_plugin.h"
#include "image/imgbuff.h"
#include "media/image_module.h"
#include "platform/files.h"
#include "platform/utf8.h"

#ifdef KV_HAVE_OPENCV
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;
constexpr int kFrames = 100;

std::string g_dir;

struct Depth {
    const char* name;
    int32_t format;
    uint16_t bits;
};
const Depth kDepths[] = {{"rgb24", kImgRgb8, 24}, {"grey16", kImgGray16, 16}};

std::string OztPath(const Depth& d) { return g_dir + "/frames_" + d.name + ".ozt"; }
std::string RawPath(const Depth& d) { return g_dir + "/frames_" + d.name + ".raw"; }

void Fill(CImgBuff* image, const Depth& d) {
    image->buffer->Create(kWidth, kHeight, d.format);
    uint64_t n = uint64_t(kWidth) * kHeight * (d.bits / 8);
    for (uint64_t i = 0; i < n; ++i) image->buffer->pixels[i] = static_cast<uint8_t>(i * 13 + (i >> 12));
}

// Each returns the frames moved: kFrames when every call succeeded.
int HostWrite(const Depth& d, const CImgBuff& image) {
    std::wstring path = PlatUtf8ToWide(OztPath(d).c_str());
    ImageModuleStream* stream = CreateModuleStream(path.c_str(), kModuleStreamMultiFrame, kWidth, kHeight, d.bits, 0, 0);
    if (!stream) return 0;
    int done = 0;
    for (int f = 0; f < kFrames; ++f) done += WriteModuleFrame(stream, &image);
    return CloseModuleStream(stream) ? done : 0;
}

int PlainWrite(const Depth& d, const CImgBuff& image) {
    size_t bytes = size_t(kWidth) * kHeight * (d.bits / 8);
    FILE* f = fopen(RawPath(d).c_str(), "wb");
    if (!f) return 0;
    int done = 0;
    for (int i = 0; i < kFrames; ++i) done += fwrite(image.buffer->pixels, 1, bytes, f) == bytes;
    return fclose(f) == 0 ? done : 0;
}

int HostRead(const Depth& d, CImgBuff* image) {
    std::wstring path = PlatUtf8ToWide(OztPath(d).c_str());
    ImageModuleStream* stream = static_cast<ImageModuleStream*>(calloc(1, sizeof(ImageModuleStream)));
    stream->module = FindImageModule(L"ozt");
    if (!OpenModuleStream(stream, path.c_str())) {
        DiscardModuleStream(stream);
        return 0;
    }
    int done = 0;
    for (int f = 0; f < kFrames; ++f) done += ReadModuleFrame(stream, image, f);
    CloseModuleStream(stream);
    return done;
}

int PlainRead(const Depth& d, std::vector<uint8_t>* buffer) {
    FILE* f = fopen(RawPath(d).c_str(), "rb");
    if (!f) return 0;
    int done = 0;
    for (int i = 0; i < kFrames; ++i) done += fread(buffer->data(), 1, buffer->size(), f) == buffer->size();
    fclose(f);
    return done;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// The host and the plain calls alternate, so that both meet the same state
// of the page cache and its write-back; the shortest of each is kept.
void CompareOzt(const Depth& d, int rounds) {
    CImgBuff image, back;
    Fill(&image, d);
    std::vector<uint8_t> buffer(size_t(kWidth) * kHeight * (d.bits / 8));
    double hostWrite = 1e9, plainWrite = 1e9, hostRead = 1e9, plainRead = 1e9;
    for (int r = 0; r < rounds; ++r) {
        auto t = std::chrono::steady_clock::now();
        if (HostWrite(d, image) != kFrames) fprintf(stderr, "ozt write failed\n");
        hostWrite = std::min(hostWrite, Seconds(t));
        t = std::chrono::steady_clock::now();
        if (PlainWrite(d, image) != kFrames) fprintf(stderr, "fwrite failed\n");
        plainWrite = std::min(plainWrite, Seconds(t));
        t = std::chrono::steady_clock::now();
        if (HostRead(d, &back) != kFrames) fprintf(stderr, "ozt read failed\n");
        hostRead = std::min(hostRead, Seconds(t));
        t = std::chrono::steady_clock::now();
        if (PlainRead(d, &buffer) != kFrames) fprintf(stderr, "fread failed\n");
        plainRead = std::min(plainRead, Seconds(t));
    }
    if (memcmp(back.buffer->pixels, image.buffer->pixels, buffer.size()) != 0) fprintf(stderr, "frames differ\n");
    printf("%-7s 100 frames: write host %7.1f ms, fwrite %7.1f ms, speed ratio %.3f; "
           "read host %6.1f ms, fread %6.1f ms, speed ratio %.3f\n",
           d.name, hostWrite * 1e3, plainWrite * 1e3, plainWrite / hostWrite, hostRead * 1e3, plainRead * 1e3,
           plainRead / hostRead);
}

// The adapter over a loaded pass-through plug-in.
void AdapterFilter(benchmark::State& s, uint32_t caps) {
    g_FilterPluginTable[0].caps = caps;
    CImgFilter* filter = CreatePluginFilter(0);
    CImgBuff image;
    Fill(&image, kDepths[0]);
    for (auto _ : s) filter->OnFilter(&image, 0, 0, 0, kWidth, kHeight, 8, 1, nullptr, nullptr);
    delete filter;
}

void DirectFilter(benchmark::State& s) {
    CImgBuff image;
    Fill(&image, kDepths[0]);
    fp_on_filter_fn onFilter = g_FilterPluginTable[0].on_filter;
    for (auto _ : s)
        onFilter(nullptr, image.buffer->pixels, kWidth, kHeight, 24, 0, 0, 0, kWidth - 1, kHeight - 1, 8, 1);
}

#ifdef KV_HAVE_OPENCV
void OpenCvGreyAndBack(benchmark::State& s) {
    CImgBuff image;
    Fill(&image, kDepths[0]);
    cv::Mat rgb(kHeight, kWidth, CV_8UC3, image.buffer->pixels);
    cv::Mat grey;
    for (auto _ : s) {
        cv::cvtColor(rgb, grey, cv::COLOR_RGB2GRAY);
        cv::cvtColor(grey, rgb, cv::COLOR_GRAY2RGB);
    }
}
#endif

template <class Fn>
void Register(const std::string& name, Fn fn) {
    benchmark::RegisterBenchmark(name.c_str(), fn)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond)
        ->Repetitions(3)
        ->ComputeStatistics("min", kvbench::Shortest)
        ->ReportAggregatesOnly(true);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::wstring exe = FgGetExeDir();
    g_dir = PlatWideToUtf8(exe.c_str()) + "/bench-plugins-work";
    std::string mk = "mkdir -p '" + g_dir + "'";
    if (system(mk.c_str()) != 0) return 1;
    if (!LoadImageModules((exe + L"/plugin").c_str()) || !FindImageModule(L"ozt")) {
        fprintf(stderr, "ozt.wim not found in %s/plugin\n", PlatWideToUtf8(exe.c_str()).c_str());
        return 1;
    }
    CFilterCtrl host;
    if (!LoadFilterPlugins((exe + L"/bench-plugin").c_str(), &host)) {
        fprintf(stderr, "pass-through plug-in not found\n");
        return 1;
    }
    Register("adapter/grey_only/rgb24", [](benchmark::State& s) { AdapterFilter(s, FP_CAP_GRAY8); });
#ifdef KV_HAVE_OPENCV
    Register("adapter/opencv_grey_and_back/rgb24", OpenCvGreyAndBack);
#endif
    Register("adapter/own_format/rgb24", [](benchmark::State& s) { AdapterFilter(s, FP_CAP_RGB24); });
    Register("adapter/direct_on_filter/rgb24", DirectFilter);

    kvbench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printf("\nozt through the host against fwrite/fread of the same bytes (speed ratio = peer time / ours)\n");
    for (const Depth& d : kDepths) CompareOzt(d, 7);
    double ours = reporter.Time("adapter/grey_only/rgb24"), cv = reporter.Time("adapter/opencv_grey_and_back/rgb24");
    printf("adapter grey-only / OpenCV cvtColor grey and back: %.3f (time ratio)\n", cv > 0 ? ours / cv : 0.0);
    double own = reporter.Time("adapter/own_format/rgb24"), direct = reporter.Time("adapter/direct_on_filter/rgb24");
    printf("adapter own format vs direct on_filter: +%.3f ms per call (%.6f ms vs %.6f ms)\n", own - direct, own, direct);
    benchmark::Shutdown();
    UnloadFilterPlugins();
    UnloadImageModules();
    std::string rm = "rm -rf '" + g_dir + "'";
    return system(rm.c_str()) == 0 ? 0 : 1;
}
