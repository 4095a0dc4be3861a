// Reading AVI movies through the media facade, frame by frame, against peers
// on the same files in the same run:
// - a 1080p MJPEG movie (300 frames, made by ffmpeg at -q:v 3) against
//   ffmpeg's single-threaded decode to RGB and a bare libjpeg-turbo decode of
//   the same frames from memory;
// - raw 1080p movies, 24-bit and 8-bit grey, in the page cache, against a
//   single-threaded memcpy of the same bytes.
// Our raw reads run on the worker pool; the /1 rows run on one thread.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "bench_support.h"
#include "image/pool.h"
#include "media/avi_riff.h"
#include "media/codec.h"

namespace {

constexpr uint64_t kWidth = 1920;
constexpr uint64_t kHeight = 1080;
constexpr int kMjpegFrames = 300;
constexpr int kRawFrames = 48;

std::string g_dir;
std::vector<std::string> g_jpegs;  // the MJPEG movie's frames

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }
std::string MjpegPath() { return g_dir + "/mjpeg.avi"; }
std::string RawPath(uint64_t bpp) { return g_dir + (bpp == 1 ? "/raw8.avi" : "/raw24.avi"); }

bool Run(const std::string& command, std::string* out = nullptr) {
    FILE* p = popen(command.c_str(), "r");
    if (!p) return false;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    if (out) *out = text;
    return pclose(p) == 0;
}

bool WriteRaw(uint64_t bpp) {
    codec_file_info info{kCodecKindMovie, 1, 0, bpp, kWidth, kHeight, 33333};
    codec_write_options options{0, 0, 0, 0, 0, 0};
    codec_file* f = codec_file_create(Wide(RawPath(bpp)).c_str(), &info, &options);
    if (!f) return false;
    std::vector<uint8_t> frame(kWidth * kHeight * bpp);
    bool ok = true;
    for (int i = 0; i < kRawFrames && ok; ++i) {
        for (size_t b = 0; b < frame.size(); ++b) frame[b] = static_cast<uint8_t>(b * 7 + i);
        ok = codec_file_write_frame(f, 0, 0, frame.data()) == 1;
    }
    return codec_file_close(f) && ok;
}

bool WriteFixtures() {
    char pattern[] = "/tmp/bench_avi_XXXXXX";
    if (!mkdtemp(pattern)) return false;
    g_dir = pattern;
    if (!Run("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=s=1920x1080:r=30 -frames " +
             std::to_string(kMjpegFrames) + " -c:v mjpeg -q:v 3 '" + MjpegPath() + "'"))
        return false;
    RiffFile* riff = riff_open(MjpegPath().c_str());
    if (!riff) return false;
    for (RiffChunk* c = riff_find_first(riff, RiffFourcc("00dc"), 0); c; c = riff_find(c, RiffFourcc("00dc"), 0)) {
        std::string data(c->size, '\0');
        if (!riff_read_data(riff, c, 0, data.data(), c->size)) break;
        g_jpegs.push_back(data);
    }
    riff_close(riff);
    return g_jpegs.size() == kMjpegFrames && WriteRaw(1) && WriteRaw(3);
}

// Reads the movie's frames in turn through the facade, one a iteration.
void FacadeFrames(benchmark::State& state, const std::string& path, uint64_t threads) {
    const uint64_t all = PoolGetProcessorCount();
    PoolSetThreadCount(threads ? threads : all);
    codec_file* f = codec_file_open(Wide(path).c_str(), nullptr, nullptr);
    if (!f) {
        state.SkipWithError("open failed");
        return;
    }
    const uint64_t bytes = f->info.width * f->info.height * f->info.bytes_per_pixel;
    std::vector<uint8_t> buffer(bytes);
    uint64_t frame = 0;
    for (auto _ : state) {
        if (!codec_file_read_frame(f, 0, frame, 0, buffer.data())) state.SkipWithError("read failed");
        frame = (frame + 1) % f->info.frame_count;
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.SetItemsProcessed(state.iterations());
    codec_file_close(f);
    PoolSetThreadCount(all);
}

void BM_AviMjpeg(benchmark::State& state) { FacadeFrames(state, MjpegPath(), 0); }

// The same frames decoded from memory by libjpeg-turbo with its defaults.
void BM_BareLibjpeg(benchmark::State& state) {
    std::vector<uint8_t> buffer(kWidth * kHeight * 3);
    std::vector<JSAMPROW> rows(kHeight);
    for (uint64_t y = 0; y < kHeight; ++y) rows[y] = buffer.data() + y * kWidth * 3;
    size_t frame = 0;
    for (auto _ : state) {
        const std::string& jpeg = g_jpegs[frame];
        frame = (frame + 1) % g_jpegs.size();
        jpeg_decompress_struct c;
        jpeg_error_mgr err;
        c.err = jpeg_std_error(&err);
        jpeg_create_decompress(&c);
        jpeg_mem_src(&c, reinterpret_cast<const unsigned char*>(jpeg.data()), jpeg.size());
        jpeg_read_header(&c, TRUE);
        jpeg_start_decompress(&c);
        while (c.output_scanline < c.output_height)
            jpeg_read_scanlines(&c, rows.data() + c.output_scanline, c.output_height - c.output_scanline);
        jpeg_finish_decompress(&c);
        jpeg_destroy_decompress(&c);
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_AviRaw24(benchmark::State& state) { FacadeFrames(state, RawPath(3), static_cast<uint64_t>(state.range(0))); }
void BM_AviRaw8(benchmark::State& state) { FacadeFrames(state, RawPath(1), static_cast<uint64_t>(state.range(0))); }

// memcpy of frames of the same size, from a source as large as the movie.
void Memcpy(benchmark::State& state, uint64_t bpp) {
    const uint64_t bytes = kWidth * kHeight * bpp;
    std::vector<uint8_t> source(bytes * kRawFrames, 1), dest(bytes);
    uint64_t frame = 0;
    for (auto _ : state) {
        memcpy(dest.data(), source.data() + frame * bytes, bytes);
        frame = (frame + 1) % kRawFrames;
        benchmark::DoNotOptimize(dest.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
void BM_Memcpy24(benchmark::State& state) { Memcpy(state, 3); }
void BM_Memcpy8(benchmark::State& state) { Memcpy(state, 1); }

// Three repetitions each; the ratios take the shortest.
#define KV_AVI_BENCH(fn, unit)                                                                                \
    BENCHMARK(fn)->Unit(unit)->MinTime(1.0)->UseRealTime()->Repetitions(3)->ComputeStatistics("min", kvbench::Shortest) \
        ->ReportAggregatesOnly(true)
KV_AVI_BENCH(BM_AviMjpeg, benchmark::kMillisecond);
KV_AVI_BENCH(BM_BareLibjpeg, benchmark::kMillisecond);
KV_AVI_BENCH(BM_AviRaw24, benchmark::kMicrosecond)->Arg(0)->Arg(1);
KV_AVI_BENCH(BM_Memcpy24, benchmark::kMicrosecond);
KV_AVI_BENCH(BM_AviRaw8, benchmark::kMicrosecond)->Arg(0)->Arg(1);
KV_AVI_BENCH(BM_Memcpy8, benchmark::kMicrosecond);

// ffmpeg's own decode of the whole MJPEG movie to RGB with `threads`
// threads: frames a second from its real time (median of three runs).
double FfmpegFps(int threads) {
    std::vector<double> rates;
    for (int i = 0; i < 3; ++i) {
        std::string out;
        if (!Run("ffmpeg -nostdin -threads " + std::to_string(threads) + " -benchmark -i '" + MjpegPath() +
                     "' -pix_fmt rgb24 -f null - 2>&1",
                 &out))
            return 0;
        const size_t at = out.find("rtime=");
        if (at == std::string::npos) return 0;
        rates.push_back(kMjpegFrames / atof(out.c_str() + at + 6));
    }
    std::sort(rates.begin(), rates.end());
    return rates[1];
}

void Cleanup() {
    unlink(MjpegPath().c_str());
    unlink(RawPath(1).c_str());
    unlink(RawPath(3).c_str());
    rmdir(g_dir.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    PoolStart();
    if (!WriteFixtures()) {
        fprintf(stderr, "could not write the test movies\n");
        Cleanup();
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    kvbench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto fps = [&](const char* name) {
        const double ms = reporter.Time(name);
        return ms > 0 ? 1000.0 / ms : 0.0;
    };
    const double ours = fps("BM_AviMjpeg"), bare = fps("BM_BareLibjpeg");
    const double ffmpeg1 = FfmpegFps(1), ffmpeg_all = FfmpegFps(static_cast<int>(PoolGetProcessorCount()));
    printf("MJPEG 1080p: ours %.1f fps, bare libjpeg-turbo %.1f fps, ffmpeg 1 thread %.1f fps, ffmpeg %llu threads %.1f fps\n",
           ours, bare, ffmpeg1, static_cast<unsigned long long>(PoolGetProcessorCount()), ffmpeg_all);
    if (ffmpeg1 > 0) printf("MJPEG: ours / ffmpeg (1 thread) = %.3f\n", ours / ffmpeg1);
    if (ffmpeg_all > 0) printf("MJPEG: ours / ffmpeg (all threads) = %.3f\n", ours / ffmpeg_all);
    if (bare > 0) printf("MJPEG: ours / bare libjpeg-turbo = %.3f\n", ours / bare);
    for (const char* depth : {"24", "8"}) {
        const double copy = reporter.Time(std::string("BM_Memcpy") + depth);
        for (const char* arg : {"0", "1"}) {
            const double read = reporter.Time(std::string("BM_AviRaw") + depth + "/" + arg);
            if (read > 0 && copy > 0)
                printf("raw %s-bit: ours (%s) / memcpy (1 thread), bytes a second = %.3f\n", depth,
                       arg[0] == '0' ? "all threads" : "1 thread", copy / read);
        }
    }
    Cleanup();
    benchmark::Shutdown();
    PoolStop();
    return 0;
}
