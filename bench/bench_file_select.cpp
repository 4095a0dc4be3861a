// Opening the file selection screen on a folder of 10,000 files (half ASCII,
// half Japanese names), from the call to its first drawn frame: listing,
// extension filter, both lists and the draw. The peer is a plain
// std::filesystem listing of the same folder with a sort of the names, in the
// same run (x_plain: ours / plain). Also appending 10,000 and 100,000 list
// items, whose time grows linearly.
#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "toolkit/fg_dialog.h"
#include "toolkit/fg_file_select.h"
#include "toolkit/fg_list.h"
#include "toolkit/fg_loop.h"

namespace {

namespace fs = std::filesystem;
constexpr int kFiles = 10000;

// The folder of files, made once per run and removed at exit (the path is
// never destroyed, so the exit handler can still read it).
const std::string& Folder() {
    static const std::string* path = [] {
        char pattern[] = "/tmp/kv-bench-files-XXXXXX";
        const char* made = mkdtemp(pattern);
        auto* dir = new std::string(made ? made : "");
        for (int i = 0; i < kFiles; ++i) {
            char name[64];
            if (i % 2)
                std::snprintf(name, sizeof name, "画像_%05d.png", i);
            else
                std::snprintf(name, sizeof name, "frame_%05d.jpg", i);
            std::ofstream(*dir + "/" + name);
        }
        for (int i = 0; i < 20; ++i) fs::create_directory(*dir + "/folder" + std::to_string(i));
        return dir;
    }();
    static const bool cleanup = std::atexit([] {
        std::error_code ec;
        if (!path->empty()) fs::remove_all(*path, ec);
    }) == 0;
    (void)cleanup;
    return *path;
}

// The peer: the names of the folder with std::filesystem, sorted.
size_t PlainListingAndSort(const std::string& dir) {
    std::vector<std::string> names;
    for (const fs::directory_entry& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    benchmark::DoNotOptimize(names.data());
    return names.size();
}

double Seconds(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

void BM_PlainListingAndSort(benchmark::State& state) {
    const std::string& dir = Folder();
    size_t n = 0;
    for (auto _ : state) n = PlainListingAndSort(dir);
    state.counters["names"] = static_cast<double>(n);
}

// From FgSelectFile's call to the modal loop's start, which follows the
// first drawn frame; the hook then ends the screen.
void BM_OpenFileSelection(benchmark::State& state) {
    const std::wstring dir(Folder().begin(), Folder().end());
    static std::chrono::steady_clock::time_point shown;
    static int listed = 0;
    FgModalStartHook previous = FgSetModalStartHook(
        [](CFgScreen* screen, void*) {
            shown = std::chrono::steady_clock::now();
            auto* files = static_cast<CFgFileSelectScreen*>(screen);
            listed = files->fileList.Count();
            files->done = 1;
        },
        nullptr);
    FgSelectFileOptions options;
    const std::wstring start(Folder().begin(), Folder().end());
    options.startPath = start.c_str();
    options.extensions = L"png jpg";
    wchar_t path[1024];
    // As in the program, a main window is up (keeping the OpenGL library
    // loaded) and its glyph pages are made when a file is chosen.
    CFgUIDialog main;
    main.Create(-1, -1, 640, 500, L"main", kFgStyleResizable, nullptr);
    FgSelectFile(path, 1024, &options, &main);
    // Each iteration also times the plain listing, so both run under the
    // same machine load.
    double ours = 0, plain = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        PlainListingAndSort(Folder());
        const auto t1 = std::chrono::steady_clock::now();
        FgSelectFile(path, 1024, &options, &main);
        plain += Seconds(t0, t1);
        ours += Seconds(t1, shown);
        state.SetIterationTime(Seconds(t1, shown));
    }
    FgSetModalStartHook(previous, nullptr);
    if (listed != kFiles) state.SkipWithError("not every file was listed");
    state.counters["files"] = listed;
    state.counters["x_plain"] = ours / plain;
}

// Choosing a folder in an open screen: listing, filter, both lists and one
// drawn frame, without the window's creation.
void BM_RefillLists(benchmark::State& state) {
    const std::wstring dir(Folder().begin(), Folder().end());
    CFgUIDialog main;
    main.Create(-1, -1, 640, 500, L"main", kFgStyleResizable, nullptr);
    CFgFileSelectScreen screen;
    FgSelectFileOptions options;
    options.startPath = dir.c_str();
    options.extensions = L"png jpg";
    screen.Open(&options, 1024, &main);
    double ours = 0, plain = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        PlainListingAndSort(Folder());
        const auto t1 = std::chrono::steady_clock::now();
        screen.FillLists(dir);
        const auto t2 = std::chrono::steady_clock::now();
        plain += Seconds(t0, t1);
        ours += Seconds(t1, t2);
        state.SetIterationTime(Seconds(t1, t2));
    }
    state.counters["files"] = screen.fileList.Count();
    state.counters["x_plain"] = ours / plain;
}

void BM_AppendListItems(benchmark::State& state) {
    const int32_t n = static_cast<int32_t>(state.range(0));
    std::vector<std::wstring> texts;
    for (int32_t i = 0; i < n; ++i) texts.push_back(L"画像_" + std::to_wstring(i) + L".png");
    for (auto _ : state) {
        CFgUIList list;
        list.SetRect(0, 0, 226, 130);
        for (const std::wstring& t : texts) list.InsertItem(-1, t.c_str(), 0, 0);
        benchmark::DoNotOptimize(list.items.data());
    }
    state.SetComplexityN(n);
}

}  // namespace

BENCHMARK(BM_PlainListingAndSort)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OpenFileSelection)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_RefillLists)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_AppendListItems)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

BENCHMARK_MAIN();
