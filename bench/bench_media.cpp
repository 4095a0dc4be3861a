// Opening and reading one 1920 x 1080 still through the media facade against
// a plain decode of the same file with libjpeg-turbo (as djpeg does) and
// libpng, in the same run; prints the facade's time over the plain one.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>

#include "media/codec.h"

namespace {

constexpr uint64_t kWidth = 1920;
constexpr uint64_t kHeight = 1080;

std::string g_dir;

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }
std::string JpegPath() { return g_dir + "/frame.jpg"; }
std::string PngPath() { return g_dir + "/frame.png"; }

// A picture with smooth shading, edges and a little grain, like a camera frame.
std::vector<uint8_t> MakeFrame() {
    std::vector<uint8_t> rgb(kWidth * kHeight * 3);
    uint32_t noise = 12345;
    for (uint64_t y = 0; y < kHeight; ++y) {
        for (uint64_t x = 0; x < kWidth; ++x) {
            noise = noise * 1664525u + 1013904223u;
            const double fx = static_cast<double>(x), fy = static_cast<double>(y);
            const double shade = 128 + 60 * std::sin(fx / 97.0) * std::cos(fy / 61.0);
            const double disc = ((fx - 960) * (fx - 960) + (fy - 540) * (fy - 540) < 300.0 * 300.0) ? 40 : 0;
            const int grain = static_cast<int>(noise >> 28) - 8;
            uint8_t* p = &rgb[(y * kWidth + x) * 3];
            for (int c = 0; c < 3; ++c) {
                const double v = shade + disc * (c - 1) + grain + c * 12;
                p[c] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
            }
        }
    }
    return rgb;
}

bool WriteFixtures() {
    char pattern[] = "/tmp/bench_media_XXXXXX";
    if (!mkdtemp(pattern)) return false;
    g_dir = pattern;
    std::vector<uint8_t> rgb = MakeFrame();
    codec_file_info info{kCodecKindStill, 1, 1, 3, kWidth, kHeight, 0};
    codec_write_options options{90, 0, 0, 0, 0, 0};
    for (const std::string& path : {JpegPath(), PngPath()}) {
        codec_file* f = codec_file_create(Wide(path).c_str(), &info, &options);
        if (!f) return false;
        int32_t written = codec_file_write_frame(f, 0, 0, rgb.data());
        if (!codec_file_close(f) || !written) return false;
    }
    return true;
}

void FacadeRead(benchmark::State& state, const std::string& path) {
    std::vector<uint8_t> buffer(kWidth * kHeight * 3);
    const std::wstring wide = Wide(path);
    for (auto _ : state) {
        codec_file* f = codec_file_open(wide.c_str(), nullptr, nullptr);
        if (!f || !codec_file_read_frame(f, 0, 0, 0, buffer.data())) state.SkipWithError("facade read failed");
        codec_file_close(f);
        benchmark::DoNotOptimize(buffer.data());
    }
}

void BM_FacadeJpeg(benchmark::State& state) { FacadeRead(state, JpegPath()); }
void BM_FacadePng(benchmark::State& state) { FacadeRead(state, PngPath()); }

void BM_PlainJpeg(benchmark::State& state) {
    std::vector<uint8_t> buffer(kWidth * kHeight * 3);
    for (auto _ : state) {
        FILE* f = fopen(JpegPath().c_str(), "rb");
        jpeg_decompress_struct c;
        jpeg_error_mgr err;
        c.err = jpeg_std_error(&err);
        jpeg_create_decompress(&c);
        jpeg_stdio_src(&c, f);
        jpeg_read_header(&c, TRUE);
        jpeg_start_decompress(&c);
        while (c.output_scanline < c.output_height) {
            JSAMPROW row = buffer.data() + static_cast<size_t>(c.output_scanline) * c.output_width * 3;
            jpeg_read_scanlines(&c, &row, 1);
        }
        jpeg_finish_decompress(&c);
        jpeg_destroy_decompress(&c);
        fclose(f);
        benchmark::DoNotOptimize(buffer.data());
    }
}

void BM_PlainPng(benchmark::State& state) {
    for (auto _ : state) {
        FILE* f = fopen(PngPath().c_str(), "rb");
        png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        if (setjmp(png_jmpbuf(png))) {
            state.SkipWithError("libpng failed");
            png_destroy_read_struct(&png, &info, nullptr);
            fclose(f);
            break;
        }
        png_init_io(png, f);
        png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
        benchmark::DoNotOptimize(png_get_rows(png, info));
        png_destroy_read_struct(&png, &info, nullptr);
        fclose(f);
    }
}

BENCHMARK(BM_FacadeJpeg)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_PlainJpeg)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_FacadePng)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_PlainPng)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Keeps each benchmark's real time per iteration for the ratios: the median
// when the run is repeated, else the one run.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            if (median || r.run_type == Run::RT_Iteration) times[r.run_name.function_name] = r.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
    if (!WriteFixtures()) {
        fprintf(stderr, "could not write the test frames\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* kind : {"Jpeg", "Png"}) {
        const double ours = reporter.times[std::string("BM_Facade") + kind];
        const double plain = reporter.times[std::string("BM_Plain") + kind];
        if (ours > 0 && plain > 0) printf("%s: facade / plain = %.3f\n", kind, ours / plain);
    }
    unlink(JpegPath().c_str());
    unlink(PngPath().c_str());
    rmdir(g_dir.c_str());
    benchmark::Shutdown();
    return 0;
}
