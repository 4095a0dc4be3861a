// The frame road of the main screen: playing every scene of a 1080p PNG and
// JPEG (quality 90) sequence of 120 frames through the scene bar's play loop
// with an empty chain (offscreen driver, no frame skip, 1 ms per scene),
// counting the paints per scene, against decoding the same files
// alone with plain libpng and libjpeg-turbo. Prints the rate ratio and the
// time of each stage of the road per frame: read (the user-interface
// thread's wait for the frame), swap into the source, chain (copy in, run,
// copy out), SetFromImage, upload and paint.
#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <png.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/main_screen.h"
#include "bench_frames.h"
#include "bench_support.h"
#include "image/pool.h"
#include "media/codec.h"
#include "platform/utf8.h"
#include "toolkit/fg_loop.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080, kFrames = 120;

struct Sequence {
    std::vector<std::string> paths;
};

std::string g_Dir;
Sequence g_Png, g_Jpeg;

Sequence Write(const char* extension) {
    return Sequence{kvbench::WriteMovingSequence(g_Dir, std::string("road_") + extension, extension, kWidth, kHeight,
                                                 kFrames)};
}

// --- the peer: plain decoding ---

bool DecodePng(const std::string& path, std::vector<uint8_t>& out) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_RGB;
    out.resize(PNG_IMAGE_SIZE(image));
    return png_image_finish_read(&image, nullptr, out.data(), 0, nullptr) != 0;
}

bool DecodeJpeg(const std::string& path, std::vector<uint8_t>& out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr error;
    cinfo.err = jpeg_std_error(&error);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, f);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    const size_t stride = static_cast<size_t>(cinfo.output_width) * 3;
    out.resize(stride * cinfo.output_height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out.data() + stride * cinfo.output_scanline;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(f);
    return true;
}

void DecodeAlone(benchmark::State& state, const Sequence& s, bool png) {
    std::vector<uint8_t> out;
    for (auto _ : state)
        for (const std::string& p : s.paths) {
            if (!(png ? DecodePng(p, out) : DecodeJpeg(p, out))) state.SkipWithError("decode failed");
            benchmark::DoNotOptimize(out.data());
        }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(kFrames) * state.iterations(),
                                               benchmark::Counter::kIsRate);
}

// --- ours: playing through the main screen ---

FrameRoadTimes g_LastTimes[2][2];  // [png/jpeg][1 thread/all]
double g_LastPaintsPerScene[2][2];

// Counts the main screen's paints (each draws the picture and its overlay).
uint64_t g_Paints = 0;
void CountingOverlay(CFgScreen* screen, CFgFont* font, int32_t a, int32_t b, int32_t c, int32_t d, int32_t e,
                     int32_t f, int32_t g, int32_t h, int32_t zoom, void* data) {
    ++g_Paints;
    CMainScreen::OnPictureOverlay(screen, font, a, b, c, d, e, f, g, h, zoom, data);
}

void Play(benchmark::State& state, const Sequence& s, int which, uint64_t threads) {
    kvbench::SetThreads(threads);
    CMainScreen screen;
    if (!screen.Create(-1, -1, 1280, 800, L"korvane 1.11.0", kFgStyleResizable, nullptr)) {
        state.SkipWithError("no window");
        return;
    }
    screen.Layout();
    screen.frameSkip = 0;
    screen.msPerFrame = 1;
    screen.sceneBar.msPerScene = 1;
    screen.sceneBar.frameSkip = 0;
    screen.OpenSequenceFiles(PlatUtf8ToWide(s.paths.front().c_str()).c_str(),
                             PlatUtf8ToWide(s.paths.back().c_str()).c_str());
    if (screen.sceneBar.sceneCount != static_cast<uint64_t>(kFrames)) {
        state.SkipWithError("sequence did not open");
        return;
    }
    screen.picture.overlayCallback = CountingOverlay;
    const uint64_t scenes = kFrames - 1;  // played from scene 0 to the last
    for (auto _ : state) {
        state.PauseTiming();
        screen.SeekScene(0);
        FgPumpMessages();
        screen.times = FrameRoadTimes{};
        g_Paints = 0;
        state.ResumeTiming();
        screen.measureTimes = 1;
        // The scene bar's own play loop at 1 ms per scene, as the play
        // button runs it; it returns at the last scene.
        screen.sceneBar.Play(+1);
        FgPumpMessages();
        screen.measureTimes = 0;
        g_LastTimes[which][threads == 1 ? 0 : 1] = screen.times;
        g_LastPaintsPerScene[which][threads == 1 ? 0 : 1] = static_cast<double>(g_Paints) / scenes;
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(scenes) * state.iterations(),
                                               benchmark::Counter::kIsRate);
    state.counters["paints_per_scene"] = g_LastPaintsPerScene[which][threads == 1 ? 0 : 1];
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    PoolStart();
    g_Dir = (std::filesystem::temp_directory_path() / ("kv_bench_road_" + std::to_string(getpid()))).string();
    std::filesystem::create_directories(g_Dir);
    g_Png = Write("png");
    g_Jpeg = Write("jpg");
    const uint64_t all = PoolGetProcessorCount();
    const char* kinds[2] = {"png", "jpeg"};
    for (int which = 0; which < 2; ++which) {
        const Sequence* s = which == 0 ? &g_Png : &g_Jpeg;
        const bool png = which == 0;
        benchmark::RegisterBenchmark((std::string("decode_alone/") + kinds[which]).c_str(),
                                     [s, png](benchmark::State& st) { DecodeAlone(st, *s, png); })
            ->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)
            ->ComputeStatistics("min", kvbench::Shortest)->ReportAggregatesOnly(true);
        for (uint64_t t : {uint64_t(1), all})
            benchmark::RegisterBenchmark((std::string("play/") + kinds[which] + "/t" + std::to_string(t)).c_str(),
                                         [s, which, t](benchmark::State& st) { Play(st, *s, which, t); })
                ->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)
                ->ComputeStatistics("min", kvbench::Shortest)->ReportAggregatesOnly(true);
    }
    kvbench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("\n%-6s %12s %12s %12s %8s %8s %8s\n", "seq", "decode ms/f", "play 1t ms/f", "play all ms/f", "r 1t",
                "r all", "target");
    for (int which = 0; which < 2; ++which) {
        const std::string k = kinds[which];
        // Times per frame: decoding covers every frame, playing every scene
        // after the first.
        const double d = reporter.Time("decode_alone/" + k) / kFrames;
        const double p1 = reporter.Time("play/" + k + "/t1") / (kFrames - 1);
        const double pa = reporter.Time("play/" + k + "/t" + std::to_string(all)) / (kFrames - 1);
        std::printf("%-6s %12.2f %12.2f %12.2f %8.2f %8.2f %8s\n", k.c_str(), d, p1, pa, p1 > 0 ? d / p1 : 0.0,
                    pa > 0 ? d / pa : 0.0, which == 0 ? ">=0.9" : ">=0.7");
    }
    std::printf("\nper frame, ms (all threads): read/wait, swap, chain (copy in + run + copy out), SetFromImage, "
                "upload+paint\n");
    for (int which = 0; which < 2; ++which) {
        const FrameRoadTimes& t = g_LastTimes[which][1];
        const double n = t.frames ? static_cast<double>(t.frames) : 1.0;
        const double decode = reporter.Time(std::string("decode_alone/") + kinds[which]) / kFrames;
        std::printf("%-6s paints per scene: %.2f (1 thread), %.2f (all threads)\n", kinds[which],
                    g_LastPaintsPerScene[which][0], g_LastPaintsPerScene[which][1]);
        std::printf("%-6s read %.2f  swap %.3f  chain %.2f  convert %.2f  upload %.2f  (one decode %.2f; "
                    "copies+convert %.0f%% of it)\n",
                    kinds[which], 1e3 * t.readSeconds / n, 1e3 * t.swapSeconds / n, 1e3 * t.chainSeconds / n,
                    1e3 * t.convertSeconds / n, 1e3 * t.uploadSeconds / n, decode,
                    decode > 0 ? 100.0 * 1e3 * (t.swapSeconds + t.chainSeconds + t.convertSeconds) / n / decode : 0.0);
    }
    std::filesystem::remove_all(g_Dir);
    PoolStop();
    return 0;
}
