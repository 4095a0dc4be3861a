// Saving scenes and composing channels.
//
// Saving: the main screen saves every scene of a 1080p PNG sequence of 120
// frames as an MJPG AVI and as a PNG sequence (each scene is stepped to,
// run through the chain and shown, as a save does), against reading the
// same frames and writing them straight through the codec facade. Also the
// share of a save spent stepping and showing, and a save with the guides
// rendered into every frame.
//
// Composing: 1920 x 1080 from three 8-bit grey channels in RGB and in
// L*a*b*, against OpenCV's cv::merge and cv::cvtColor(COLOR_Lab2RGB) on
// floats, at one thread and at all.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/composite_ui.h"
#include "app/main_screen.h"
#include "bench_frames.h"
#include "bench_support.h"
#include "image/pool.h"
#include "media/codec.h"
#include "platform/utf8.h"
#include "toolkit/fg_loop.h"

#ifdef KV_HAVE_OPENCV
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int kWidth = 1920, kHeight = 1080, kFrames = 120;

std::string g_Dir;
std::vector<std::string> g_Paths;

std::wstring Wide(const std::string& s) { return PlatUtf8ToWide(s.c_str()); }

// --- the peer: read and write through the facade ---

void Direct(benchmark::State& state, bool avi) {
    const std::string out = g_Dir + (avi ? "/direct.avi" : "/direct_0001.png");
    for (auto _ : state) {
        codec_file* in = codec_sequence_open(Wide(g_Paths.front()).c_str(), Wide(g_Paths.back()).c_str());
        if (!in) {
            state.SkipWithError("cannot open the sequence");
            return;
        }
        codec_file_info info = in->info;
        info.kind = avi ? kCodecKindMovie : kCodecKindStill;
        info.frame_interval = avi ? 33000 : 0;
        codec_write_options options{75, 1, 0, 0, 0, 0};
        codec_file* file = avi ? codec_file_create(Wide(out).c_str(), &info, &options)
                               : codec_sequence_create(Wide(out).c_str(), &info, &options);
        std::vector<uint8_t> rgb(static_cast<size_t>(info.width) * info.height * info.bytes_per_pixel);
        for (uint64_t i = 0; file && i < info.frame_count; ++i)
            if (!codec_file_read_frame(in, 0, i, 0, rgb.data()) || !codec_file_write_frame(file, 0, 0, rgb.data()))
                state.SkipWithError("copy failed");
        codec_file_close(in);
        if (!file || !codec_file_close(file)) state.SkipWithError("cannot write");
    }
}

// --- ours: the main screen's save ---

enum class Mode { kAvi, kPng, kAviGuides, kStepOnly };

void Save(benchmark::State& state, Mode mode) {
    CMainScreen screen;
    if (!screen.Create(-1, -1, 1280, 800, L"korvane", kFgStyleResizable, nullptr)) {
        state.SkipWithError("no window");
        return;
    }
    screen.Layout();
    screen.OpenSequenceFiles(Wide(g_Paths.front()).c_str(), Wide(g_Paths.back()).c_str());
    if (screen.sceneBar.sceneCount != static_cast<uint64_t>(kFrames)) {
        state.SkipWithError("sequence did not open");
        return;
    }
    screen.saveSettings.saveWithGuide = mode == Mode::kAviGuides ? 1 : 0;
    const std::string out = g_Dir + (mode == Mode::kPng ? "/ours_0001.png" : "/ours.avi");
    for (auto _ : state) {
        if (mode == Mode::kStepOnly) {
            CImgBuff image;
            for (uint64_t i = 0; i < static_cast<uint64_t>(kFrames); ++i) {
                screen.sceneBar.SetPosition(i);
                if (!screen.PrepareSaveImage(&image)) state.SkipWithError("no frame");
                FgPumpMessages();
            }
            continue;
        }
        const int32_t r = screen.SaveScenesBuiltIn(Wide(out).c_str(), L"en", mode == Mode::kPng ? 1 : 0, nullptr,
                                                   kFrames - 1, mode == Mode::kPng ? 0 : 33);
        if (r != 1) state.SkipWithError("save failed");
    }
}

// --- composing ---

struct Channels {
    CImgBuff image[3];
#ifdef KV_HAVE_OPENCV
    cv::Mat grey[3];
    cv::Mat lab;  // the L*a*b* floats the channels stand for
#endif
};
Channels g_Channels;

void MakeChannels() {
    std::vector<uint8_t> rgb;
    kvbench::MakeMovingFrame(rgb, kWidth, kHeight, 7);
    for (int c = 0; c < 3; ++c) {
        C_ImgBuff* b = g_Channels.image[c].buffer;
        b->Create(kWidth, kHeight, kImgGray8);
        for (size_t i = 0; i < static_cast<size_t>(kWidth) * kHeight; ++i) b->pixels[i] = rgb[3 * i + c];
#ifdef KV_HAVE_OPENCV
        g_Channels.grey[c] = cv::Mat(kHeight, kWidth, CV_8UC1, b->pixels);
#endif
    }
#ifdef KV_HAVE_OPENCV
    cv::Mat f[3];
    g_Channels.grey[0].convertTo(f[0], CV_32F, 100.0 / 255.0);
    g_Channels.grey[1].convertTo(f[1], CV_32F, 1.0, -128.0);
    g_Channels.grey[2].convertTo(f[2], CV_32F, 1.0, -128.0);
    cv::merge(f, 3, g_Channels.lab);
#endif
}

void Compose(benchmark::State& state, int32_t space) {
    const CImgBuff* in[4] = {&g_Channels.image[0], &g_Channels.image[1], &g_Channels.image[2], nullptr};
    CImgBuff result;
    for (auto _ : state)
        if (!ComposeChannels(in, space, &result)) state.SkipWithError("compose failed");
}

void PeerCompose([[maybe_unused]] benchmark::State& state, [[maybe_unused]] bool lab) {
#ifdef KV_HAVE_OPENCV
    cv::Mat out;
    for (auto _ : state) {
        if (lab) {
            cv::cvtColor(g_Channels.lab, out, cv::COLOR_Lab2RGB);
        } else {
            cv::merge(g_Channels.grey, 3, out);
        }
        benchmark::DoNotOptimize(out.data);
    }
#endif
}

void RegisterSave(const char* name, void (*fn)(benchmark::State&, Mode), Mode mode) {
    benchmark::RegisterBenchmark(name, [fn, mode](benchmark::State& s) { fn(s, mode); })
        ->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(2)
        ->ComputeStatistics("min", kvbench::Shortest)->ReportAggregatesOnly(true);
}

void RegisterDirect(const char* name, bool avi) {
    benchmark::RegisterBenchmark(name, [avi](benchmark::State& s) { Direct(s, avi); })
        ->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(2)
        ->ComputeStatistics("min", kvbench::Shortest)->ReportAggregatesOnly(true);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    PoolStart();
    g_Dir = (std::filesystem::temp_directory_path() / ("kv_bench_save_" + std::to_string(getpid()))).string();
    std::filesystem::create_directories(g_Dir);
    g_Paths = kvbench::WriteMovingSequence(g_Dir, "save", "png", kWidth, kHeight, kFrames);
    MakeChannels();

    RegisterDirect("direct/avi", true);
    RegisterDirect("direct/png", false);
    RegisterSave("save/avi", Save, Mode::kAvi);
    RegisterSave("save/png", Save, Mode::kPng);
    RegisterSave("save/avi_guides", Save, Mode::kAviGuides);
    RegisterSave("step_and_show", Save, Mode::kStepOnly);

    kvbench::Pairs pairs;
    pairs.Add("compose_rgb", "1080p", [](benchmark::State& s) { Compose(s, kCompositeRgb); },
              [](benchmark::State& s) { PeerCompose(s, false); });
    pairs.Add("compose_lab", "1080p", [](benchmark::State& s) { Compose(s, kCompositeLab); },
              [](benchmark::State& s) { PeerCompose(s, true); });

    kvbench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    pairs.Print(reporter);
    const double da = reporter.Time("direct/avi"), dp = reporter.Time("direct/png");
    const double sa = reporter.Time("save/avi"), sp = reporter.Time("save/png");
    const double sg = reporter.Time("save/avi_guides"), step = reporter.Time("step_and_show");
    std::printf("\n%-10s %12s %12s %8s %8s\n", "save", "direct ms", "ours ms", "ratio", "target");
    std::printf("%-10s %12.0f %12.0f %8.2f %8s\n", "avi", da, sa, da > 0 ? sa / da : 0.0, "<=1.25");
    std::printf("%-10s %12.0f %12.0f %8.2f %8s\n", "png", dp, sp, dp > 0 ? sp / dp : 0.0, "<=1.25");
    std::printf("avi with guides %.0f ms (%.2f x direct); stepping and showing alone %.0f ms (%.0f%% of the avi save)\n",
                sg, da > 0 ? sg / da : 0.0, step, sa > 0 ? 100.0 * step / sa : 0.0);
    std::printf("compose targets: rgb <= 2x cv::merge, lab <= 3x cvtColor\n");
    benchmark::Shutdown();
    std::filesystem::remove_all(g_Dir);
    PoolStop();
    return 0;
}
