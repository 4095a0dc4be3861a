// Opening a 100-page TIFF of 2048 x 2048 16-bit grey and reading every page
// through the media facade, against libtiff reading every strip of every
// page (TIFFReadEncodedStrip) into one frame buffer, in the same run. Two
// files: uncompressed (as our writer makes it) and LZW with the horizontal
// predictor in strips of libtiff's default size. Ours runs on one pool
// thread and on all of them; libtiff has one thread and reads through its
// mapping of the file and without one. Prints ours / libtiff's faster mode.
#include <benchmark/benchmark.h>

#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"
#include "image/pool.h"
#include "media/codec.h"

namespace {

constexpr uint32_t kSide = 2048;
constexpr uint32_t kPages = 100;
constexpr uint64_t kFrameBytes = uint64_t{kSide} * kSide * 2;

std::string g_dir;
std::string PlainPath() { return g_dir + "/plain.tif"; }
std::string LzwPath() { return g_dir + "/lzw.tif"; }

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// A 12-bit camera frame in 16 bits: shading that moves from page to page
// and a few bits of sensor noise.
void MakePage(uint32_t page, std::vector<uint16_t>& px) {
    uint32_t noise = 2463534242u + page;
    for (uint32_t y = 0; y < kSide; ++y) {
        for (uint32_t x = 0; x < kSide; ++x) {
            noise ^= noise << 13;
            noise ^= noise >> 17;
            noise ^= noise << 5;
            const double shade = 2048 + 1500 * std::sin((x + 7.0 * page) / 211.0) * std::cos(y / 157.0);
            px[uint64_t{y} * kSide + x] = static_cast<uint16_t>((static_cast<int>(shade) + (noise >> 28)) << 4);
        }
    }
}

bool WriteFixtures() {
    char pattern[] = "/tmp/bench_tiff_XXXXXX";
    if (!mkdtemp(pattern)) return false;
    g_dir = pattern;
    std::vector<uint16_t> px(uint64_t{kSide} * kSide);
    codec_file_info info{kCodecKindStill, 1, kPages, 2, kSide, kSide, 0};
    codec_file* ours = codec_file_create(Wide(PlainPath()).c_str(), &info, nullptr);
    TIFF* lzw = TIFFOpen(LzwPath().c_str(), "w");
    if (!ours || !lzw) return false;
    for (uint32_t page = 0; page < kPages; ++page) {
        MakePage(page, px);
        if (!codec_file_write_frame(ours, 0, 0, px.data())) return false;
        TIFFSetField(lzw, TIFFTAG_IMAGEWIDTH, kSide);
        TIFFSetField(lzw, TIFFTAG_IMAGELENGTH, kSide);
        TIFFSetField(lzw, TIFFTAG_BITSPERSAMPLE, 16);
        TIFFSetField(lzw, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(lzw, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(lzw, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(lzw, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        TIFFSetField(lzw, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
        const uint32_t rows = TIFFDefaultStripSize(lzw, 0);
        TIFFSetField(lzw, TIFFTAG_ROWSPERSTRIP, rows);
        const uint64_t strip_bytes = uint64_t{rows} * kSide * 2;
        for (uint32_t s = 0; s * rows < kSide; ++s) {
            const uint64_t left = kFrameBytes - s * strip_bytes;
            if (TIFFWriteEncodedStrip(lzw, s, reinterpret_cast<uint8_t*>(px.data()) + s * strip_bytes,
                                      static_cast<tmsize_t>(left < strip_bytes ? left : strip_bytes)) < 0)
                return false;
        }
        if (!TIFFWriteDirectory(lzw)) return false;
    }
    TIFFClose(lzw);
    return codec_file_close(ours) == 1;
}

// Both readers fill the same frame buffer page after page.
std::vector<uint8_t>& Frame() {
    static std::vector<uint8_t> frame(kFrameBytes);
    return frame;
}

void Ours(benchmark::State& state, const std::string& path) {
    const uint64_t threads = state.range(0) ? PoolGetProcessorCount() : 1;
    PoolSetThreadCount(threads);
    const std::wstring wide = Wide(path);
    for (auto _ : state) {
        codec_file* f = codec_file_open(wide.c_str(), nullptr, nullptr);
        if (!f || f->info.frame_count != kPages) {
            state.SkipWithError("facade open failed");
            break;
        }
        for (uint64_t page = 0; page < kPages; ++page)
            if (!codec_file_read_frame(f, 0, page, 0, Frame().data())) state.SkipWithError("facade read failed");
        codec_file_close(f);
        benchmark::DoNotOptimize(Frame().data());
    }
    state.counters["threads"] = static_cast<double>(threads);
}

// Mode "r" maps the file; "rm" reads it, straight into the frame for
// uncompressed strips.
void Libtiff(benchmark::State& state, const std::string& path) {
    const char* mode = state.range(0) ? "rm" : "r";
    for (auto _ : state) {
        TIFF* tif = TIFFOpen(path.c_str(), mode);
        if (!tif) {
            state.SkipWithError("libtiff open failed");
            break;
        }
        do {
            uint8_t* out = Frame().data();
            const tstrip_t strips = TIFFNumberOfStrips(tif);
            for (tstrip_t s = 0; s < strips; ++s) {
                const tmsize_t n = TIFFReadEncodedStrip(tif, s, out, -1);
                if (n < 0) state.SkipWithError("libtiff read failed");
                out += n;
            }
        } while (TIFFReadDirectory(tif));
        TIFFClose(tif);
        benchmark::DoNotOptimize(Frame().data());
    }
}

void BM_OursPlain(benchmark::State& state) { Ours(state, PlainPath()); }
void BM_LibtiffPlain(benchmark::State& state) { Libtiff(state, PlainPath()); }
void BM_OursLzw(benchmark::State& state) { Ours(state, LzwPath()); }
void BM_LibtiffLzw(benchmark::State& state) { Libtiff(state, LzwPath()); }

// Of three repetitions the shortest counts, the least disturbed on a shared machine.
void Register(benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3)->ComputeStatistics("min", kvbench::Shortest)
        ->ReportAggregatesOnly(true);
}
BENCHMARK(BM_OursPlain)->Arg(0)->Arg(1)->Apply(Register);
BENCHMARK(BM_LibtiffPlain)->Arg(0)->Arg(1)->Apply(Register);
BENCHMARK(BM_OursLzw)->Arg(0)->Arg(1)->Apply(Register);
BENCHMARK(BM_LibtiffLzw)->Arg(0)->Arg(1)->Apply(Register);

}  // namespace

int main(int argc, char** argv) {
    PoolStart();
    TIFFSetWarningHandler(nullptr);
    if (!WriteFixtures()) {
        fprintf(stderr, "could not write the test files\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    kvbench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* kind : {"Plain", "Lzw"}) {
        // libtiff in its faster mode.
        const double mapped = reporter.Time(std::string("BM_Libtiff") + kind + "/0");
        const double read = reporter.Time(std::string("BM_Libtiff") + kind + "/1");
        const double peer = mapped > 0 && read > 0 ? std::min(mapped, read) : 0;
        const double one = reporter.Time(std::string("BM_Ours") + kind + "/0");
        const double all = reporter.Time(std::string("BM_Ours") + kind + "/1");
        if (peer > 0 && one > 0 && all > 0)
            printf("%s: ours / libtiff = %.3f on 1 thread, %.3f on %llu threads\n", kind, one / peer, all / peer,
                   static_cast<unsigned long long>(PoolGetProcessorCount()));
    }
    unlink(PlainPath().c_str());
    unlink(LzwPath().c_str());
    rmdir(g_dir.c_str());
    benchmark::Shutdown();
    PoolStop();
    return 0;
}
