// MP4 movies at 1080p, each beside its peer in the same run:
// - a libx264 baseline movie (8 Mb/s, 300 frames): the open (which decodes
//   every frame once) and sequential reads through the facade, against a
//   bare OpenH264 decode loop on the same samples and against ffmpeg's
//   single-thread decode to RGB;
// - RGB ↔ I420 against OpenCV's cvtColor, with one and all threads;
// - encoding through the facade against a bare OpenH264 EncodeFrame loop on
//   the same frames, with libx264's ultrafast rate printed beside them.
// Arguments of the form threads: 1 and the processor count.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "image/pool.h"
#include "media/codec.h"
#include "media/h264.h"
#include "media/i420.h"
#include "media/mp4.h"

#ifdef KV_HAVE_OPENCV
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr uint64_t kW = 1920, kH = 1080, kMovieFrames = 300, kEncodeFrames = 30;

std::string g_dir;
std::string MoviePath() { return g_dir + "/movie.mp4"; }
std::string RgbPath() { return g_dir + "/frames.rgb"; }
std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::vector<uint8_t> g_rgb;   // kEncodeFrames frames of the movie as RGB
std::vector<uint8_t> g_i420;  // ... and as I420 by rgb_to_i420
std::vector<std::vector<uint8_t>> g_units;  // the movie's samples in start-code form

bool Run(const std::string& command) { return system((command + " >/dev/null 2>&1").c_str()) == 0; }

// Real seconds of an ffmpeg run with -benchmark, the best of three.
double FfmpegSeconds(const std::string& args) {
    double best = 0;
    for (int i = 0; i < 3; ++i) {
        FILE* p = popen(("ffmpeg -nostdin -hide_banner -benchmark " + args + " 2>&1").c_str(), "r");
        if (!p) return 0;
        char line[512];
        double rtime = 0;
        while (fgets(line, sizeof line, p))
            if (const char* r = strstr(line, "rtime=")) rtime = atof(r + 6);
        pclose(p);
        if (rtime > 0 && (best == 0 || rtime < best)) best = rtime;
    }
    return best;
}

bool LoadSamples() {
    FILE* f = fopen(MoviePath().c_str(), "rb");
    if (!f) return false;
    Mp4Reader* r = mp4_reader_parse(f);
    if (!r) {
        fclose(f);
        return false;
    }
    for (uint32_t i = 0; i < r->sample_count; ++i) {
        const Mp4Sample& s = r->samples[i];
        // The parameter sets before the first sample, as the reader feeds them.
        const size_t at = i == 0 ? r->prefix_size : 0;
        std::vector<uint8_t> unit(at + size_t{s.size});
        memcpy(unit.data(), r->prefix, at);
        if (fseeko(f, static_cast<off_t>(s.offset), SEEK_SET) != 0 || fread(unit.data() + at, 1, s.size, f) != s.size)
            return false;
        for (size_t n = 0; n + 4 <= unit.size();) {
            const size_t length = (size_t(unit[n]) << 24) | (unit[n + 1] << 16) | (unit[n + 2] << 8) | unit[n + 3];
            unit[n] = unit[n + 1] = unit[n + 2] = 0;
            unit[n + 3] = 1;
            n += 4 + length;
        }
        g_units.push_back(std::move(unit));
    }
    codec_mp4_close(r);
    fclose(f);
    return true;
}

bool MakeFixtures() {
    char pattern[] = "/tmp/bench_mp4_XXXXXX";
    if (!mkdtemp(pattern)) return false;
    g_dir = pattern;
    if (!Run("ffmpeg -nostdin -y -f lavfi -i testsrc2=size=1920x1080:rate=30 -frames:v " +
             std::to_string(kMovieFrames) +
             " -c:v libx264 -profile:v baseline -bf 0 -b:v 8M -maxrate 8M -bufsize 8M -pix_fmt yuv420p '" +
             MoviePath() + "'"))
        return false;
    if (!Run("ffmpeg -nostdin -y -i '" + MoviePath() + "' -frames:v " + std::to_string(kEncodeFrames) +
             " -f rawvideo -pix_fmt rgb24 '" + RgbPath() + "'"))
        return false;
    g_rgb.resize(kW * kH * 3 * kEncodeFrames);
    FILE* f = fopen(RgbPath().c_str(), "rb");
    if (!f || fread(g_rgb.data(), 1, g_rgb.size(), f) != g_rgb.size()) return false;
    fclose(f);
    g_i420.resize(kW * kH * 3 / 2 * kEncodeFrames);
    for (uint64_t k = 0; k < kEncodeFrames; ++k) {
        uint8_t* y = g_i420.data() + k * kW * kH * 3 / 2;
        rgb_to_i420(kW, kH, g_rgb.data() + k * kW * kH * 3, y, y + kW * kH, y + kW * kH * 5 / 4);
    }
    return h264_library_acquire() && LoadSamples();
}

void BM_Mp4Open(benchmark::State& state) {
    for (auto _ : state) {
        codec_file* f = codec_file_open(Wide(MoviePath()).c_str(), nullptr, nullptr);
        if (!f || f->info.frame_count != kMovieFrames) state.SkipWithError("open failed");
        codec_file_close(f);
    }
}

void BM_Mp4ReadSequential(benchmark::State& state) {
    codec_file* f = codec_file_open(Wide(MoviePath()).c_str(), nullptr, nullptr);
    if (!f) {
        state.SkipWithError("open failed");
        return;
    }
    std::vector<uint8_t> frame(kW * kH * 3);
    for (auto _ : state)
        for (uint64_t k = 0; k < kMovieFrames; ++k)
            if (!codec_file_read_frame(f, 0, k, 0, frame.data())) state.SkipWithError("read failed");
    codec_file_close(f);
    state.counters["fps"] = benchmark::Counter(kMovieFrames, benchmark::Counter::kIsIterationInvariantRate);
}

// OpenH264 alone on the same samples: a new decoder, every sample decoded.
void BM_BareDecode(benchmark::State& state) {
    for (auto _ : state) {
        H264Decoder d{};
        if (!h264_decoder_reset(&d)) state.SkipWithError("no decoder");
        for (const auto& unit : g_units) {
            uint8_t* planes[3] = {};
            SBufferInfo info;
            memset(&info, 0, sizeof info);
            if (d.decoder->DecodeFrameNoDelay(unit.data(), static_cast<int>(unit.size()), planes, &info) != 0 ||
                info.iBufferStatus != 1)
                state.SkipWithError("decode failed");
            benchmark::DoNotOptimize(planes[0]);
        }
        h264_decoder_destroy(&d);
    }
    state.counters["fps"] = benchmark::Counter(kMovieFrames, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_RgbToI420(benchmark::State& state) {
    std::vector<uint8_t> out(kW * kH * 3 / 2);
    for (auto _ : state) {
        rgb_to_i420(kW, kH, g_rgb.data(), out.data(), out.data() + kW * kH, out.data() + kW * kH * 5 / 4);
        benchmark::DoNotOptimize(out.data());
    }
}

void BM_I420ToRgb(benchmark::State& state) {
    std::vector<uint8_t> out(kW * kH * 3);
    const uint8_t* y = g_i420.data();
    for (auto _ : state) {
        i420_to_rgb_rows(kW, kH, kW, kH, y, y + kW * kH, y + kW * kH * 5 / 4, out.data(), kW, kW / 2);
        benchmark::DoNotOptimize(out.data());
    }
}

#ifdef KV_HAVE_OPENCV
void BM_CvRgbToI420(benchmark::State& state) {
    const cv::Mat rgb(static_cast<int>(kH), static_cast<int>(kW), CV_8UC3, g_rgb.data());
    cv::Mat out(static_cast<int>(kH * 3 / 2), static_cast<int>(kW), CV_8UC1);
    for (auto _ : state) {
        cv::cvtColor(rgb, out, cv::COLOR_RGB2YUV_I420);
        benchmark::DoNotOptimize(out.data);
    }
}

void BM_CvI420ToRgb(benchmark::State& state) {
    const cv::Mat yuv(static_cast<int>(kH * 3 / 2), static_cast<int>(kW), CV_8UC1, g_i420.data());
    cv::Mat out(static_cast<int>(kH), static_cast<int>(kW), CV_8UC3);
    for (auto _ : state) {
        cv::cvtColor(yuv, out, cv::COLOR_YUV2RGB_I420);
        benchmark::DoNotOptimize(out.data);
    }
}
#else
// Registered only with OpenCV; kept so that the pairs build without it.
void BM_CvRgbToI420(benchmark::State& state) { state.SkipWithError("no OpenCV"); }
void BM_CvI420ToRgb(benchmark::State& state) { state.SkipWithError("no OpenCV"); }
#endif

// Encoding the frames through the facade: conversion, encoder and file.
void BM_Mp4Encode(benchmark::State& state) {
    const std::wstring path = Wide(g_dir + "/written.mp4");
    for (auto _ : state) {
        codec_file_info info{kCodecKindMovie, 1, 0, 3, kW, kH, 33333};
        codec_file* f = codec_file_create(path.c_str(), &info, nullptr);
        for (uint64_t k = 0; f && k < kEncodeFrames; ++k)
            if (!codec_file_write_frame(f, 0, 0, g_rgb.data() + k * kW * kH * 3)) state.SkipWithError("write failed");
        if (!codec_file_close(f)) state.SkipWithError("close failed");
    }
    state.counters["fps"] = benchmark::Counter(kEncodeFrames, benchmark::Counter::kIsIterationInvariantRate);
}

// OpenH264 alone on the same frames in I420, with the writer's settings.
void BM_BareEncode(benchmark::State& state) {
    Mp4Writer setup{};
    setup.width = kW;
    setup.height = kH;
    setup.interval = 33333;
    setup.max_bitrate = 30ull * kW * kH * 3 / 2 * 8;
    for (auto _ : state) {
        uint32_t rate = 5000000;
        ISVCEncoder* e = h264_encoder_create(&setup, &rate);
        if (!e) {
            state.SkipWithError("no encoder");
            break;
        }
        for (uint64_t k = 0; k < kEncodeFrames; ++k) {
            uint8_t* y = g_i420.data() + k * kW * kH * 3 / 2;
            SSourcePicture pic;
            memset(&pic, 0, sizeof pic);
            pic.iColorFormat = videoFormatI420;
            pic.iStride[0] = kW;
            pic.iStride[1] = pic.iStride[2] = kW / 2;
            pic.pData[0] = y;
            pic.pData[1] = y + kW * kH;
            pic.pData[2] = y + kW * kH * 5 / 4;
            pic.iPicWidth = kW;
            pic.iPicHeight = kH;
            SFrameBSInfo bs;
            memset(&bs, 0, sizeof bs);
            if (e->EncodeFrame(&pic, &bs) != 0) state.SkipWithError("encode failed");
            benchmark::DoNotOptimize(bs.iFrameSizeInBytes);
        }
        h264_encoder_destroy(e);
    }
    state.counters["fps"] = benchmark::Counter(kEncodeFrames, benchmark::Counter::kIsIterationInvariantRate);
}

void PrintRatio(const char* what, double ours, double peer) {
    if (ours > 0 && peer > 0) printf("%-52s %.3f\n", what, ours / peer);
}

}  // namespace

// A benchmark of whole runs (each iteration one pass), three times, keeping the shortest.
void Register(const std::string& name, void (*run)(benchmark::State&), uint64_t threads) {
    benchmark::RegisterBenchmark(name.c_str(),
                                 [run, threads](benchmark::State& s) {
                                     kvbench::SetThreads(threads);
                                     run(s);
                                 })
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1)
        ->Repetitions(3)
        ->ComputeStatistics("min", kvbench::Shortest)
        ->ReportAggregatesOnly(true);
}

int main(int argc, char** argv) {
    PoolStart();
    if (!MakeFixtures()) {
        fprintf(stderr, "could not make the 1080p movie (ffmpeg with libx264 and OpenH264 needed)\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    const uint64_t all = PoolGetProcessorCount();
    for (uint64_t t : {uint64_t{1}, all}) {
        const std::string threads = "/t" + std::to_string(t);
        Register("mp4_open" + threads, BM_Mp4Open, t);
        Register("mp4_read" + threads, BM_Mp4ReadSequential, t);
        Register("mp4_encode" + threads, BM_Mp4Encode, t);
    }
    Register("bare_decode", BM_BareDecode, 1);
    Register("bare_encode", BM_BareEncode, 1);
    kvbench::Pairs pairs;
    pairs.Add("rgb_to_i420", "1920x1080", BM_RgbToI420, BM_CvRgbToI420);
    pairs.Add("i420_to_rgb_rows", "1920x1080", BM_I420ToRgb, BM_CvI420ToRgb);
    kvbench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    pairs.Print(reporter);

    // ffmpeg's own single-thread decode to RGB and libx264's ultrafast encode, in ms.
    const double ffmpeg_decode = 1000 * FfmpegSeconds("-threads 1 -i '" + MoviePath() + "' -pix_fmt rgb24 -f null -");
    const double x264_encode =
        1000 * FfmpegSeconds("-f rawvideo -pix_fmt rgb24 -s 1920x1080 -r 30 -i '" + RgbPath() +
                             "' -c:v libx264 -preset ultrafast -pix_fmt yuv420p -f null -");
    printf("\nmovie ratios (ours / peer, time: below 1 means ours is faster)\n");
    for (uint64_t t : {uint64_t{1}, all}) {
        const std::string threads = "/t" + std::to_string(t);
        printf("-- %llu thread%s\n", static_cast<unsigned long long>(t), t == 1 ? "" : "s");
        PrintRatio("open (scan of 300 frames) / ffmpeg -threads 1 decode", reporter.Time("mp4_open" + threads),
                   ffmpeg_decode);
        PrintRatio("sequential read / ffmpeg -threads 1 decode to RGB", reporter.Time("mp4_read" + threads),
                   ffmpeg_decode);
        PrintRatio("sequential read / bare OpenH264 decode", reporter.Time("mp4_read" + threads),
                   reporter.Time("bare_decode"));
        PrintRatio("facade encode / bare OpenH264 EncodeFrame", reporter.Time("mp4_encode" + threads),
                   reporter.Time("bare_encode"));
    }
    const double read_all = reporter.Time("mp4_read/t" + std::to_string(all));
    if (read_all > 0) printf("sequential read, all threads: %.1f frames/s\n", kMovieFrames * 1000.0 / read_all);
    if (ffmpeg_decode > 0)
        printf("ffmpeg -threads 1 decode to RGB: %.1f frames/s\n", kMovieFrames * 1000.0 / ffmpeg_decode);
    const double encode_all = reporter.Time("mp4_encode/t" + std::to_string(all));
    if (encode_all > 0) printf("facade encode, all threads: %.1f frames/s\n", kEncodeFrames * 1000.0 / encode_all);
    if (x264_encode > 0) printf("libx264 -preset ultrafast: %.1f frames/s\n", kEncodeFrames * 1000.0 / x264_encode);
    h264_library_release();
    Run("rm -rf '" + g_dir + "'");
    benchmark::Shutdown();
    PoolStop();
    return 0;
}
