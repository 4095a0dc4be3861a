// Drawing and swapping a 1280 x 800 cell grid of 20 columns with 100 and
// with 100,000 rows, scrolled to the middle: only the visible cells are
// asked for their text, so both should cost the same (no peer library; the
// ratio of the two rows is the measure, and each should stay under one
// refresh at 60 Hz, 16.7 ms). Runs on the offscreen driver unless
// SDL_VIDEODRIVER says otherwise.
#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "image/pool.h"
#include "platform/plat_window.h"
#include "toolkit/fg_cell.h"
#include "toolkit/fg_dialog.h"
#include "toolkit/fg_loop.h"

namespace {

class GridScreen : public CFgUIDialog {
public:
    CFgUICell grid;
    wchar_t text[32];
};

const wchar_t* NumberText(uint64_t c, uint64_t r, int32_t* alignment, double*, double*, double*, void* data) {
    auto* screen = static_cast<GridScreen*>(data);
    *alignment = 1;
    std::swprintf(screen->text, 32, L"%llu.%02llu", static_cast<unsigned long long>(r),
                  static_cast<unsigned long long>(c));
    return screen->text;
}

std::unique_ptr<GridScreen> g_Screen;

void BM_GridDraw(benchmark::State& state) {
    if (!g_Screen) {
        g_Screen = std::make_unique<GridScreen>();
        if (!g_Screen->Create(0, 0, 1280, 800, L"bench grid", kFgStyleFixed, nullptr)) {
            g_Screen.reset();
            return state.SkipWithError("no window");
        }
        g_Screen->grid.SetRect(0, 0, 1280, 800);
        g_Screen->grid.textCallback = NumberText;
        g_Screen->grid.callbackData = g_Screen.get();
        g_Screen->AddChild(&g_Screen->grid);
        FgPumpMessages();
    }
    GridScreen& s = *g_Screen;
    const uint64_t rows = static_cast<uint64_t>(state.range(0));
    s.grid.SetSize(20, rows, 0);
    s.grid.SetHeaderRows(1, 1, 0);
    s.grid.ScrollToCell(1, rows / 2);
    for (auto _ : state) {
        s.Redraw();
        PlatMakeCurrent(s.window, s.context);
        glFinish();
        PlatMakeCurrent(0, nullptr);
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_GridDraw)->Arg(100)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly();

int main(int argc, char** argv) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    PoolStart();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_Screen.reset();
    PoolStop();
    return 0;
}
