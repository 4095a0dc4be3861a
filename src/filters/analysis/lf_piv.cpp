#include "filters/analysis/lf_piv.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <new>
#include <vector>

#include "filters/analysis/sequence_run.h"
#include "filters/core/cfgfile.h"
#include "filters/core/filterctrl.h"
#include "filters/processing/panel_rules.h"
#include "image/kernels/template_match.h"
#include "image/pool.h"
#include "toolkit/fg_msgbox.h"

CImgFilter* CreateLfPiv() { return new (std::nothrow) CLfPiv; }

// --- the analysis of one frame pair ---

int PivCancelRequested(void* filter) { return filter ? CSequenceRun::CancelRequestedFor(static_cast<CImgFilter*>(filter)) : 0; }

int32_t PivSearchRadius(int32_t s, int32_t q) {
    if (q <= -2) return s / (-q);
    if (q >= 2) return s * q;
    return s;
}

namespace {

constexpr int32_t kCorrelation = 1;  // ImgCompareImages' normalised-correlation mode
constexpr int32_t kShortcut = 16;    // coarse-to-fine shortcut of the fast search
constexpr int kMaxLevels = 32;

// One level of the coarse-to-fine search: sizes and the unclipped window of
// top-left corners, halved from the level above.
struct SearchLevel {
    int32_t W, H, wB, hB;
    int32_t x0, y0, x1, y1;
    int32_t rx, ry;
    int32_t pyramid;
};

// The levels a cell's search uses: level 0 is the full size, each further
// one halves the image, the pattern and the window while the pattern is at
// least twice the shortcut on each side and the window at least the
// shortcut wide. Returns the index of the coarsest level.
int SearchLevels(SearchLevel* lv, int32_t pyramid) {
    int K = 0;
    lv[0].pyramid = pyramid;
    while (K + 1 < kMaxLevels && lv[K].pyramid != 0) {
        const SearchLevel& c = lv[K];
        const int32_t m = std::max(c.pyramid, kShortcut);
        if (!(c.wB >= 2 * m && c.hB >= 2 * m && int64_t{c.x1} - c.x0 >= m && int64_t{c.y1} - c.y0 >= m)) break;
        SearchLevel& n = lv[K + 1];
        n = {c.W / 2, c.H / 2, c.wB / 2, c.hB / 2, c.x0 / 2, c.y0 / 2, c.x1 / 2, c.y1 / 2, c.rx / 2, c.ry / 2, m};
        ++K;
    }
    return K;
}

// State of one job shared by its parallel steps.
struct JobState {
    PivJobContext* ctx;
    PivCell* cells;
    int32_t columns, rows, step, x0, y0, radius, pyramid, grow;
    std::atomic<int32_t> error{0};
    // Halved copies of the previous image, made once per job: entry k is
    // level k (entry 0 the image itself).
    const CImgBuff* previousLevels[kMaxLevels] = {};
    int levelCount = 0;  // levels the cells' searches use (same for every cell)
};

// Places every cell's pattern: the cell's square grown by `grow` on every
// side, which must lie inside the current image (else the job fails).
void PlacePatternsKernel(void* arg, uint64_t first, uint64_t count) {
    auto& st = *static_cast<JobState*>(arg);
    const C_ImgBuff& current = *st.ctx->current->buffer;
    const int32_t s = st.step;
    for (uint64_t k = first; k < first + count; ++k) {
        PivCell& cell = st.cells[k];
        const int32_t c = static_cast<int32_t>(k % static_cast<uint64_t>(st.columns));
        const int32_t r = static_cast<int32_t>(k / static_cast<uint64_t>(st.columns));
        const int64_t px0 = int64_t{st.x0} + int64_t{c} * s - st.grow, py0 = int64_t{st.y0} + int64_t{r} * s - st.grow;
        const int64_t edge = int64_t{s} + 2 * int64_t{st.grow};
        if (px0 < 0 || py0 < 0 || px0 + edge > current.width || py0 + edge > current.height) {
            st.error.store(1);
            continue;
        }
        cell.size = static_cast<uint64_t>(edge);
        cell.x = static_cast<double>(px0);
        cell.y = static_cast<double>(py0);
    }
}

// Images a search worker reuses from cell to cell (all patterns of a job
// have one size, so no cut or halving allocates after the first).
struct WorkerImages {
    CImgBuff pattern;
    std::unique_ptr<CImgBuff> halved[kMaxLevels];
};

// The whole-pixel search of one pattern: the kernel's coarse-to-fine scan
// over the job's shared halved images (the same positions and scores as
// ImgMatchTemplate with its shortcut, without halving the image per cell).
bool SearchCell(const JobState& st, WorkerImages& images, int32_t cx, int32_t cy, int32_t* outX, int32_t* outY,
                void* cancelOwner) {
    const CImgBuff* pattern = &images.pattern;
    const int32_t r = st.radius;
    const CImgBuff* prev = st.ctx->previous;
    SearchLevel lv[kMaxLevels];
    lv[0] = {prev->buffer->width, prev->buffer->height, pattern->buffer->width, pattern->buffer->height,
             cx - r, cy - r, cx + r, cy + r, cx, cy, st.pyramid};
    const int K = std::min(SearchLevels(lv, st.pyramid), st.levelCount - 1);
    if (K == 0) {
        double score = -1.0;
        return ImgMatchTemplate(prev, pattern, cx, cy, cx - r, cy - r, cx + r, cy + r, outX, outY, kCorrelation, 0, 0,
                                &score, PivCancelRequested, cancelOwner) != 0;
    }
    const auto fits = [](const SearchLevel& l) { return int64_t{l.wB} + l.x0 <= l.W && int64_t{l.hB} + l.y0 <= l.H; };
    if (!fits(lv[0])) return false;
    const CImgBuff* patterns[kMaxLevels] = {pattern};
    for (int k = 1; k <= K; ++k) {
        if (!images.halved[k]) images.halved[k].reset(new (std::nothrow) CImgBuff);
        CImgBuff* halved = images.halved[k].get();
        if (!fits(lv[k]) || !halved || !halved->buffer || !ImgHalve(patterns[k - 1], halved)) return false;
        patterns[k] = halved;
    }
    int32_t bx = 0, by = 0;
    for (int k = K; k >= 0; --k) {
        const SearchLevel& l = lv[k];
        int64_t wx0 = l.x0, wy0 = l.y0, wx1 = l.x1, wy1 = l.y1, px = l.rx, py = l.ry;
        if (k < K) {
            wx0 = 2 * int64_t{bx} - 1;
            wx1 = 2 * int64_t{bx} + 2;
            wy0 = 2 * int64_t{by} - 1;
            wy1 = 2 * int64_t{by} + 2;
            px = 2 * int64_t{bx};
            py = 2 * int64_t{by};
        }
        double score = -1.0;
        int32_t x = 0, y = 0;
        if (!ImgMatchTemplate(st.previousLevels[k], patterns[k], static_cast<int32_t>(px), static_cast<int32_t>(py),
                              static_cast<int32_t>(wx0), static_cast<int32_t>(wy0), static_cast<int32_t>(wx1),
                              static_cast<int32_t>(wy1), &x, &y, kCorrelation, 0, 0, &score, PivCancelRequested,
                              cancelOwner))
            return false;
        bx = x;
        by = y;
    }
    *outX = bx;
    *outY = by;
    return true;
}

// Cuts each cell's pattern, searches it and refines the match. A pattern
// that cannot be cut fails the job; without an image to cut into, the
// worker's cells are not searched (their vectors stay (0, 0)).
void SearchKernel(void* arg, uint64_t first, uint64_t count) {
    auto& st = *static_cast<JobState*>(arg);
    void* owner = const_cast<void*>(st.ctx->cancelOwner);
    WorkerImages images;
    for (uint64_t k = first; k < first + count; ++k) {
        PivCell& cell = st.cells[k];
        if (!cell.size) continue;
        if (!images.pattern.buffer) {
            cell.size = 0;
            continue;
        }
        const int32_t cx = static_cast<int32_t>(cell.x), cy = static_cast<int32_t>(cell.y);
        const int32_t edge = static_cast<int32_t>(cell.size);
        if (!st.ctx->current->ExtractRect(&images.pattern, cx, cy, cx + edge - 1, cy + edge - 1) ||
            !images.pattern.buffer->pixels) {
            st.error.store(1);
            continue;
        }
        int32_t X = 0, Y = 0;
        if (!SearchCell(st, images, cx, cy, &X, &Y, owner)) continue;
        double fx = 0, fy = 0, score = -1.0;
        if (ImgRefineMatchSubpixel(st.ctx->previous, &images.pattern, X - 1.0, Y - 1.0, X + 1.0, Y + 1.0, &fx, &fy,
                                   kCorrelation, 0, 0.5, &score, PivCancelRequested, owner) &&
            score >= 0.0) {
            cell.x = fx;
            cell.y = fy;
            cell.score = score;
        }
    }
}

void StoreKernel(void* arg, uint64_t first, uint64_t count) {
    auto& st = *static_cast<JobState*>(arg);
    const PivJobContext& ctx = *st.ctx;
    const double half = ctx.bigPattern ? st.step / 2 : 0;
    for (uint64_t r = first; r < first + count; ++r) {
        for (int32_t c = 0; c < st.columns; ++c) {
            const PivCell& cell = st.cells[r * static_cast<uint64_t>(st.columns) + static_cast<uint64_t>(c)];
            FlowVector* v = ctx.flow->VectorAt(c, static_cast<int32_t>(r), ctx.frame);
            if (!v) continue;
            if (!cell.size) {
                *v = {0.0, 0.0};
                continue;
            }
            v->dx = (st.x0 + c * st.step) - (cell.x + half);
            v->dy = (st.y0 + static_cast<int32_t>(r) * st.step) - (cell.y + half);
        }
    }
}

}  // namespace

void PivJob(PivJobContext* ctx) {
    CFlowData* flow = ctx->flow;
    if (!flow || !ctx->previous || !ctx->current || !ctx->previous->buffer || !ctx->current->buffer ||
        !ctx->current->buffer->pixels || flow->columns < 1 || flow->rows < 1) {
        ctx->result.store(0);
        return;
    }
    const uint64_t n = static_cast<uint64_t>(flow->columns) * static_cast<uint64_t>(flow->rows);
    std::unique_ptr<PivCell[]> cells(new (std::nothrow) PivCell[n]);
    if (!cells) {
        ctx->result.store(0);
        return;
    }
    JobState st;
    st.ctx = ctx;
    st.cells = cells.get();
    st.columns = flow->columns;
    st.rows = flow->rows;
    st.step = flow->step;
    st.x0 = flow->originX;
    st.y0 = flow->originY;
    st.radius = PivSearchRadius(flow->step, ctx->searchCode);
    st.pyramid = ctx->level == 0 ? kShortcut : 0;
    st.grow = ctx->bigPattern ? flow->step / 2 : 0;

    PoolParallelFor(PlacePatternsKernel, &st, n);
    if (st.error.load()) {
        ctx->result.store(0);
        return;
    }

    // The halved previous images every cell's coarse search reads, made once
    // for the job, as deep as the patterns need.
    std::vector<std::unique_ptr<CImgBuff>> levels;
    st.previousLevels[0] = ctx->previous;
    st.levelCount = 1;
    if (st.pyramid) {
        const int32_t edge = flow->step + 2 * st.grow;
        SearchLevel lv[kMaxLevels];
        lv[0] = {ctx->previous->buffer->width, ctx->previous->buffer->height, edge, edge, -st.radius, -st.radius,
                 st.radius, st.radius, 0, 0, st.pyramid};
        const int K = SearchLevels(lv, st.pyramid);
        for (int k = 1; k <= K; ++k) {
            auto image = std::unique_ptr<CImgBuff>(new (std::nothrow) CImgBuff);
            if (!image || !image->buffer || !ImgHalve(st.previousLevels[k - 1], image.get())) break;
            st.previousLevels[k] = image.get();
            levels.push_back(std::move(image));
            st.levelCount = k + 1;
        }
    }

    PoolParallelFor(SearchKernel, &st, n);
    if (st.error.load()) {
        ctx->result.store(0);
        return;
    }
    PoolParallelFor(StoreKernel, &st, static_cast<uint64_t>(flow->rows));
    ctx->result.store(1);
}

int32_t PivRunJobThread(const CImgBuff* previous, const CImgBuff* current, int32_t frame, int32_t level,
                        int32_t bigPattern, int32_t searchCode, CFlowData* flow, const void* cancelOwner) {
    PivJobContext ctx;
    ctx.previous = previous;
    ctx.current = current;
    ctx.frame = frame;
    ctx.level = level;
    ctx.bigPattern = bigPattern;
    ctx.searchCode = searchCode;
    ctx.flow = flow;
    ctx.cancelOwner = cancelOwner;
    const int32_t started = SequenceRunJob(
        [](void* arg) -> int32_t {
            auto* c = static_cast<PivJobContext*>(arg);
            PivJob(c);
            return c->result.load();
        },
        &ctx);
    return started == 1 ? 1 : 0;
}

// --- the filter ---

namespace {

constexpr int32_t kCellSizes[4] = {8, 16, 32, 64};
constexpr double kPi = 3.14159265358979323846;

// Panel geometry: the tab control and its page's client origin.
constexpr int32_t kTabX = 8, kTabY = 8, kTabW = 208, kTabH = 328;

bool LoadedFlag(const wchar_t* text) { return std::wcscmp(text, L"0") != 0; }

}  // namespace

CLfPiv::CLfPiv() {
    cell8.AddToGroup(&cell16);
    cell8.AddToGroup(&cell32);
    cell8.AddToGroup(&cell64);
    cell8.SelectInGroup(cellSizeIndex.Get(), 0);
    for (CFgUIChkButton* b : {&cell8, &cell16, &cell32, &cell64}) {
        b->data = this;
        b->callback = [](CFgUIChkButton* button, void* d) {
            static_cast<CLfPiv*>(d)->SelectCellSize((button->leader ? button->leader : button)->GetGroupSelection());
        };
    }
    fastCheck.checked = fastScan.Get();
    bigCheck.checked = largePattern.Get();
    fastCheck.data = bigCheck.data = this;
    fastCheck.callback = [](CFgUIChkButton* b, void* d) {
        auto* f = static_cast<CLfPiv*>(d);
        f->fastScan.Set(b->checked ? 1 : 0);
        f->RefreshControls();
    };
    bigCheck.callback = [](CFgUIChkButton* b, void* d) {
        auto* f = static_cast<CLfPiv*>(d);
        f->largePattern.Set(b->checked ? 1 : 0);
        f->RefreshControls();
    };
    SetupHorizontalSlider(searchSlider, 0, 2, searchSize.Get(), this,
                [](CFgUIScrollBar*, void* d, int32_t v) { static_cast<CLfPiv*>(d)->SetSearchSize(v); });
    execButton.data = this;
    execButton.callback = [](CFgUIButton*, void* d) { static_cast<CLfPiv*>(d)->Execute(); };

    gridCheck.checked = gridOn.Get();
    cellsCheck.checked = colourCells.Get();
    directionCheck.checked = eraseDirection.Get();
    lengthCheck.checked = eraseLength.Get();
    gridCheck.data = cellsCheck.data = directionCheck.data = lengthCheck.data = this;
    gridCheck.callback = [](CFgUIChkButton* b, void* d) {
        auto* f = static_cast<CLfPiv*>(d);
        f->gridOn.Set(b->checked ? 1 : 0);
        f->flow.drawGrid = f->gridOn.Get();
        f->RedrawPicture();
    };
    cellsCheck.callback = [](CFgUIChkButton* b, void* d) {
        auto* f = static_cast<CLfPiv*>(d);
        f->colourCells.Set(b->checked ? 1 : 0);
        f->RedrawPicture();
    };
    directionCheck.callback = [](CFgUIChkButton* b, void* d) {
        auto* f = static_cast<CLfPiv*>(d);
        f->eraseDirection.Set(b->checked ? 1 : 0);
        f->RedrawPicture();
        f->RepaintTable();
    };
    lengthCheck.callback = [](CFgUIChkButton* b, void* d) {
        auto* f = static_cast<CLfPiv*>(d);
        f->eraseLength.Set(b->checked ? 1 : 0);
        f->RedrawPicture();
        f->RepaintTable();
    };
    SetupHorizontalSlider(zoomSlider, 10, 100, arrowZoom.Get(), this,
                [](CFgUIScrollBar*, void* d, int32_t v) { static_cast<CLfPiv*>(d)->SetArrowZoom(v); });
    SetupHorizontalSlider(colourSlider, 1, 32, colourBar.Get(), this,
                [](CFgUIScrollBar*, void* d, int32_t v) { static_cast<CLfPiv*>(d)->SetColourBar(v); });
    SetupHorizontalSlider(directionSlider, 30, 120, directionLimit.Get(), this,
                [](CFgUIScrollBar*, void* d, int32_t v) { static_cast<CLfPiv*>(d)->SetDirectionLimit(v); });
    SetupHorizontalSlider(lengthSlider, 15, 30, lengthLimit.Get(), this,
                [](CFgUIScrollBar*, void* d, int32_t v) { static_cast<CLfPiv*>(d)->SetLengthLimit(v); });
    dataButton.data = this;
    dataButton.callback = [](CFgUIButton*, void* d) { static_cast<CLfPiv*>(d)->ShowTable(); };

    tabs.AddTab(L"計測");
    tabs.AddTab(L"結果");
    for (CFgUIObj* o : std::initializer_list<CFgUIObj*>{&cell8, &cell16, &cell32, &cell64, &fastCheck, &bigCheck,
                                                        &searchLabel, &searchSlider, &execButton})
        tabs.AddControl(kPageMeasure, o);
    for (CFgUIObj* o : std::initializer_list<CFgUIObj*>{&gridCheck, &cellsCheck, &zoomLabel, &zoomSlider,
                                                        &colourLabel, &colourSlider, &directionCheck,
                                                        &directionSlider, &lengthCheck, &lengthSlider, &dataButton})
        tabs.AddControl(kPageResult, o);
    tabs.data = this;
    tabs.callback = [](CFgUITab*, void* d, int32_t, int32_t) { static_cast<CLfPiv*>(d)->RedrawPicture(); };
    AttachControls();
    tabs.SelectTab(kPageMeasure, 1);

    flow.drawGrid = gridOn.Get();
    flow.colourBase = flow.colourStep = colourBar.Get();
    flow.angleLimit = directionLimit.Get() / 180.0 * kPi;
    flow.lengthRatio = lengthLimit.Get() / 10.0;
    // The header cells hold "column,row": quoted, a spreadsheet keeps the columns aligned.
    table.quoteFields = 1;
}

CLfPiv::~CLfPiv() {
    table.Destroy();
    Destroy();
}

const wchar_t* CLfPiv::GetName(const wchar_t*) { return L"PIV"; }

int32_t CLfPiv::CellSize() const {
    const int32_t i = cellSizeIndex.Get();
    return i >= 0 && i < 4 ? kCellSizes[i] : planCell;
}

PanelSpec CLfPiv::Panel() {
    Relabel();
    const int32_t f = static_cast<int32_t>(font.height ? font.height : 14);
    const int32_t X = kTabX + 2, Y = kTabY + 7 + f;
    const int32_t W = (kTabW - 4) - 16;
    const int32_t x = X + 8;
    const bool jp = Japanese();
    const wchar_t* exec = Running() ? (jp ? L"中止" : L"CANCEL") : L"EXEC";
    return {L"PIV", L"PIV", 224, 344, 224, 344,
            {
                {&tabs, kTabX, kTabY, kTabW, kTabH, nullptr, nullptr},
                {&cell8, X + 8, Y + 8, 40, 20, L"8", L"8"},
                {&cell16, X + 58, Y + 8, 40, 20, L"16", L"16"},
                {&cell32, X + 108, Y + 8, 40, 20, L"32", L"32"},
                {&cell64, X + 158, Y + 8, 40, 20, L"64", L"64"},
                {&fastCheck, x, Y + 36, W, 20, L"fast processing", L"高速処理をする"},
                {&bigCheck, x, Y + 56, W, 20, L"look at big pattern", L"大きなパターンで検索"},
                {&searchLabel, x, Y + 84, W, 20, labelText_[0], labelText_[0]},
                {&searchSlider, x, Y + 104, W, 20, nullptr, nullptr},
                {&execButton, x, Y + 254, W, 40, exec, Running() ? exec : L"実行"},
                {&gridCheck, x, Y + 8, W, 20, L"grid on", L"グリッド表示"},
                {&cellsCheck, x, Y + 28, W, 20, L"coloring cells", L"セルを着色する"},
                {&zoomLabel, x, Y + 56, W, 20, labelText_[1], labelText_[1]},
                {&zoomSlider, x, Y + 76, W, 20, nullptr, nullptr},
                {&colourLabel, x, Y + 104, W, 20, labelText_[2], labelText_[2]},
                {&colourSlider, x, Y + 124, W, 20, nullptr, nullptr},
                {&directionCheck, x, Y + 152, W, 20, labelText_[3], labelText_[3]},
                {&directionSlider, x, Y + 172, W, 20, nullptr, nullptr},
                {&lengthCheck, x, Y + 200, W, 20, lengthText_, lengthText_},
                {&lengthSlider, x, Y + 220, W, 20, nullptr, nullptr},
                {&dataButton, x, Y + 254, W, 40, L"DATA", L"データ"},
            }};
}

void CLfPiv::Relabel() {
    const bool jp = Japanese();
    static const wchar_t* const kSearchEn[3] = {L"grid size / 2", L"grid size", L"grid size x 2"};
    static const wchar_t* const kSearchJp[3] = {L"±グリッド/2", L"±グリッド", L"±グリッドx2"};
    const int32_t s = std::clamp(searchSize.Get(), 0, 2);
    std::swprintf(labelText_[0], 80, L"%ls", jp ? kSearchJp[s] : kSearchEn[s]);
    std::swprintf(labelText_[1], 80, jp ? L"ベクトルの表示倍率(x%.1f)" : L"zoom(x%.1f)", arrowZoom.Get() / 10.0);
    std::swprintf(labelText_[2], 80, jp ? L"色の変化(%ldpixel/frame毎)" : L"color(every %ldpixel/frame)",
                  static_cast<long>(colourBar.Get()));
    std::swprintf(labelText_[3], 80, jp ? L"削除目安%ld度以上異なる" : L"del more than %ld deg",
                  static_cast<long>(directionLimit.Get()));
    std::swprintf(lengthText_, 80, jp ? L"削除目安%.1f倍以上長い" : L"del more than %.1f times",
                  lengthLimit.Get() / 10.0);
    if (!PanelShown()) return;
    searchLabel.SetText(labelText_[0]);
    zoomLabel.SetText(labelText_[1]);
    colourLabel.SetText(labelText_[2]);
    directionCheck.SetLabel(labelText_[3]);
    lengthCheck.SetLabel(lengthText_);
}

void CLfPiv::RefreshControls() {
    const bool running = Running();
    for (CFgUIObj* o : std::initializer_list<CFgUIObj*>{
             &tabs, &cell8, &cell16, &cell32, &cell64, &fastCheck, &bigCheck, &searchLabel, &searchSlider, &gridCheck,
             &cellsCheck, &zoomLabel, &zoomSlider, &colourLabel, &colourSlider, &directionCheck, &directionSlider,
             &lengthCheck, &lengthSlider, &dataButton})
        SetControlEnabled(this, o, !running);
    SetControlEnabled(this, &execButton, true);
    if (!running) {
        const bool cell8Selected = cellSizeIndex.Get() == 0;
        SetControlEnabled(this, &fastCheck, !(cell8Selected && !bigCheck.checked));
        SetControlEnabled(this, &bigCheck, methodLevel < 2);
    }
    if (PanelShown()) CFgUICtrl::Redraw();
}

void CLfPiv::ShowSettings() {
    cell8.SelectInGroup(cellSizeIndex.Get(), 0);
    fastCheck.checked = fastScan.Get();
    bigCheck.checked = largePattern.Get();
    searchSlider.position = searchSize.Get();
    gridCheck.checked = gridOn.Get();
    cellsCheck.checked = colourCells.Get();
    zoomSlider.position = arrowZoom.Get();
    colourSlider.position = colourBar.Get();
    directionCheck.checked = eraseDirection.Get();
    directionSlider.position = directionLimit.Get();
    lengthCheck.checked = eraseLength.Get();
    lengthSlider.position = lengthLimit.Get();
    Relabel();
}

void CLfPiv::ShowUi(int32_t show, CFgScreen* parentScreen) {
    if (!show) {
        HidePanel(parentScreen);
        return;
    }
    const bool wasShown = PanelShown();
    if (!wasShown) {
        const bool jp = Japanese();
        tabs.SetTabLabel(kPageMeasure, jp ? L"計測" : L"measure");
        tabs.SetTabLabel(kPageResult, jp ? L"結果" : L"result");
    }
    CDialogFilterBase::ShowUi(1, parentScreen);
    if (!wasShown && PanelShown()) {
        RefreshControls();
        int32_t x, y, w, h;
        if (table.TakeNotedPlace(&x, &y, &w, &h)) OpenTable(x, y, w, h);
    }
}

void CLfPiv::OnSize(uint64_t w, uint64_t h, uint64_t, uint64_t frameCount) {
    (void)w, (void)h, (void)frameCount;  // stored by the controller before the call
    flow.Clear();
    analysedFrames_ = -1;
    PlanGrid();
}

void CLfPiv::PlanGrid() {
    const int64_t w = static_cast<int64_t>(CImgFilter::width), h = static_cast<int64_t>(CImgFilter::height);
    const int64_t s = CellSize();
    if (s >= 1 && w >= s && h >= s && w / s >= 3 && h / s >= 3 && w <= INT32_MAX && h <= INT32_MAX) {
        planCell = static_cast<int32_t>(s);
        planColumns = static_cast<int32_t>(w / s - 2);
        planRows = static_cast<int32_t>(h / s - 2);
        planX0 = static_cast<int32_t>((w - s * planColumns) / 2);
        planY0 = static_cast<int32_t>((h - s * planRows) / 2);
        planFrames = static_cast<int32_t>(std::min<uint64_t>(CImgFilter::frames, INT32_MAX));
        RedrawPicture();
    }
}

void CLfPiv::SelectCellSize(int32_t index) {
    if (index < 0 || index > 3) return;
    const bool changed = index != cellSizeIndex.Get();
    cellSizeIndex.Set(index);
    if (changed) PlanGrid();
    RefreshControls();
}

void CLfPiv::SetSearchSize(int32_t v) {
    searchSize.Set(v);
    Relabel();
    RepaintTable();
}

void CLfPiv::SetArrowZoom(int32_t v) {
    arrowZoom.Set(v);
    Relabel();
    RedrawPicture();
}

void CLfPiv::SetColourBar(int32_t v) {
    colourBar.Set(v);
    flow.colourBase = flow.colourStep = v;
    Relabel();
    RedrawPicture();
}

void CLfPiv::SetDirectionLimit(int32_t v) {
    directionLimit.Set(v);
    const double limit = v / 180.0 * kPi;
    if (limit > 0 && flow.lengthRatio > 1) flow.angleLimit = limit;
    ClearFlags();
    Relabel();
    RedrawPicture();
    RepaintTable();
}

void CLfPiv::SetLengthLimit(int32_t v) {
    lengthLimit.Set(v);
    const double ratio = v / 10.0;
    if (ratio > 1 && flow.angleLimit > 0) flow.lengthRatio = ratio;
    ClearFlags();
    Relabel();
    RedrawPicture();
    RepaintTable();
}

void CLfPiv::ClearFlags() {
    if (!flow.vectors) return;
    const uint64_t n = static_cast<uint64_t>(flow.columns) * static_cast<uint64_t>(flow.rows) *
                       static_cast<uint64_t>(flow.frames);
    std::fill(flow.vectorFlags, flow.vectorFlags + n, uint8_t{0});
    std::fill(flow.frameFlags, flow.frameFlags + flow.frames, uint8_t{0});
}

// --- running ---

void CLfPiv::Execute() {
    if (run_) {
        run_->Cancel();
        return;
    }
    const bool jp = Japanese();
    const wchar_t* errorTitle = jp ? L"エラー" : L"error";
    const int32_t frameCount = static_cast<int32_t>(std::min<uint64_t>(CImgFilter::frames, INT32_MAX));
    if (frameCount < 2) {
        FgMessageBox(jp ? L"2フレーム以上の画像が必要です" : L"need an image of 2 frames or more", errorTitle, 1, this);
        return;
    }
    CSequenceRun run(this);
    const CSequenceRun::BeginResult begun = run.Begin(&execButton, jp ? L"中止" : L"CANCEL");
    if (begun == CSequenceRun::kBusy) return;
    if (begun != CSequenceRun::kStarted ||
        !flow.Setup(planX0, planY0, planCell, planColumns, planRows, frameCount)) {
        run.End();
        FgMessageBox(jp ? L"メモリー不足です" : L"poor memory", errorTitle, 1, this);
        return;
    }
    // Whatever way the loop ends, the run state goes with the run.
    struct RunState {
        CLfPiv* f;
        ~RunState() {
            f->run_ = nullptr;
            f->finishedFrames_ = -1;
        }
    } state{this};
    run_ = &run;
    finishedFrames_ = 1;
    RefreshControls();
    PlanGrid();

    const int32_t level = fastScan.Get() ? 0 : 1;
    const int32_t big = largePattern.Get() ? 1 : 0;
    static const int32_t kSearchCodes[3] = {-2, 1, 2};
    const int32_t q = kSearchCodes[std::clamp(searchSize.Get(), 0, 2)];
    CImgBuff buffers[2];
    int previous = 0;
    // A frame the chain never delivers ends the run, as a failed job does;
    // the frames after it hold no vectors and show blank cells.
    int64_t lost = -1;
    int32_t analysed = 0;
    if (run.Step(0, &buffers[0]) == CSequenceRun::kReady) {
        analysed = 1;
        for (int32_t i = 1; i < frameCount; ++i) {
            const int current = 1 - previous;
            const CSequenceRun::StepResult got = run.Step(static_cast<uint64_t>(i), &buffers[current]);
            if (got != CSequenceRun::kReady) {
                if (got != CSequenceRun::kCanceled) lost = i;
                break;
            }
            if (!PivRunJobThread(&buffers[previous], &buffers[current], i, level, big, q, &flow,
                                 static_cast<const CImgFilter*>(this)))
                break;
            flow.Validate(i);
            finishedFrames_ = i + 1;
            analysed = i + 1;
            previous = current;
        }
    } else if (!run.Canceled()) {
        lost = 0;
    }
    buffers[0].FreePixels();
    buffers[1].FreePixels();
    analysedFrames_ = analysed >= frameCount ? -1 : analysed;
    if (run.Canceled())
        FgMessageBox(jp ? L"中止しました" : L"canceled", jp ? L"確認" : L"confirmation", 1, this);
    else if (lost >= 0)
        FgMessageBox(LostFramesText({static_cast<uint64_t>(lost)}, true, jp).c_str(), errorTitle, 1, this);
    run.End();
    run_ = nullptr;
    finishedFrames_ = -1;
    RefreshControls();
    tabs.SelectTab(kPageResult, 0);
    if (PanelShown()) CFgUICtrl::Redraw();
    SizeTable(frameCount);
    RedrawPicture();
}

// --- filter step, overlay and mouse ---

int32_t CLfPiv::OnFilter(CImgBuff* image, uint64_t frame, int64_t, int64_t, int64_t, int64_t, uint32_t, uint32_t,
                         uint32_t*, uint32_t*) {
    CSequenceRun::Capture(this, image, frame);
    if (RefreshCalibCopy(64)) RepaintTable();
    return 1;
}

void CLfPiv::OnOverlayView(OverlayToGlFn toGlX, OverlayToGlFn toGlY, CFgScreen*, CFgFont*, int32_t dx0, int32_t dy0,
                           int32_t dx1, int32_t dy1, int32_t ix0, int32_t iy0, int32_t ix1, int32_t iy1,
                           int32_t zoom) {
    if (Running()) return;
    const OverlayRect rect{dx0, dy0, dx1, dy1, ix0, iy0, ix1, iy1, zoom};
    if (tabs.current == kPageResult) {
        const uint64_t frame = Chain() ? Chain()->GetCurrentFrame() : 0;
        flow.Draw(colourCells.Get() != 0, toGlX, toGlY, rect, static_cast<int32_t>(std::min<uint64_t>(frame, INT32_MAX)),
                  arrowZoom.Get() / 10.0, guideRed, guideGreen, guideBlue, eraseDirection.Get() != 0,
                  eraseLength.Get() != 0);
    } else {
        CFlowData::DrawGrid(planX0, planY0, planCell, planColumns, planRows, toGlX, toGlY, rect, guideRed, guideGreen,
                            guideBlue);
    }
}

void CLfPiv::OnLButtonDown(int64_t x, int64_t y, uint32_t) {
    if (Running() || !flow.vectors || x < flow.originX || y < flow.originY) return;
    const int64_t c = (x - flow.originX) / flow.step, r = (y - flow.originY) / flow.step;
    if (c >= flow.columns || r >= flow.rows) return;
    if (c == flow.selectedColumn && r == flow.selectedRow) {
        flow.selectedColumn = flow.selectedRow = -1;
    } else {
        flow.selectedColumn = static_cast<int32_t>(c);
        flow.selectedRow = static_cast<int32_t>(r);
    }
    RedrawPicture();
}

void CLfPiv::OnRButtonDown(int64_t, int64_t, uint32_t) {
    if (Running() || flow.selectedColumn < 0 || flow.selectedRow < 0) return;
    const uint64_t frame = Chain() ? Chain()->GetCurrentFrame() : 0;
    if (frame >= static_cast<uint64_t>(std::max(flow.frames, 0))) return;
    FlowVector* v = flow.VectorAt(flow.selectedColumn, flow.selectedRow, static_cast<int32_t>(frame));
    if (!v || (v->dx == 0.0 && v->dy == 0.0)) return;
    *v = {0.0, 0.0};
    flow.selectedColumn = flow.selectedRow = -1;
    flow.Validate(static_cast<int32_t>(frame));
    RedrawPicture();
    RepaintTable();
}

// --- settings ---

void CLfPiv::LoadConfig(CCfgPack* pack) {
    CImgFilter::LoadConfig(pack);
    if (!pack) return;
    if (const wchar_t* t = CfgFindValue(pack, L"cell_size")) {
        const int32_t v = LoadedConfigInt(t);
        if (v >= 0 && v <= 3) {
            cellSizeIndex.Set(v);
            cell8.SelectInGroup(v, 0);
            PlanGrid();
        }
    }
    const auto flag = [pack](const wchar_t* key, CSettingFlag& setting, CFgUIChkButton& check) {
        if (const wchar_t* t = CfgFindValue(pack, key)) {
            setting.Set(LoadedFlag(t) ? 1 : 0);
            check.checked = setting.Get();
        }
    };
    const auto slider = [pack](const wchar_t* key, CFgUIScrollBar& bar) {
        if (const wchar_t* t = CfgFindValue(pack, key)) {
            const int32_t v = LoadedConfigInt(t);
            if (v >= bar.minimum && v <= bar.maximum) {
                bar.position = v;
                bar.callback(&bar, bar.data, v);
            }
        }
    };
    flag(L"large_pattern", largePattern, bigCheck);
    flag(L"fast_scan", fastScan, fastCheck);
    slider(L"search_size", searchSlider);
    flag(L"grid", gridOn, gridCheck);
    flow.drawGrid = gridOn.Get();
    flag(L"cell", colourCells, cellsCheck);
    slider(L"arrow_zoom", zoomSlider);
    slider(L"color_bar", colourSlider);
    flag(L"erase_r", eraseDirection, directionCheck);
    slider(L"erase_r_val", directionSlider);
    flag(L"erase_l", eraseLength, lengthCheck);
    slider(L"erase_l_val", lengthSlider);
    if (const wchar_t* t = CfgFindValue(pack, L"level")) {
        const int32_t v = LoadedConfigInt(t);
        if (v >= 0 && v <= 2) methodLevel = v;
    }
    RefreshControls();
    if (PanelShown()) CFgUICtrl::Redraw();
}

// --- table ---

void CLfPiv::OpenTable(int32_t x, int32_t y, int32_t w, int32_t h) {
    table.SetLanguage(language.c_str());
    SizeTable(flow.frames);
    table.Open(x, y, w, h, table.english ? L"VECTOR DATA" : L"ベクトルデータ", this);
}

void CLfPiv::ShowTable() { OpenTable(-1, -1, 300, 300); }

void CLfPiv::SizeTable(int32_t frameCount) {
    const uint64_t n = flow.vectors ? static_cast<uint64_t>(flow.columns) * static_cast<uint64_t>(flow.rows) : 0;
    const uint64_t f = frameCount > 0 ? static_cast<uint64_t>(frameCount) : 0;
    table.SizeWithHeaders(n && f ? 2 * n + 1 : 0, f + 2);
    RepaintTable();
}

const wchar_t* CLfPiv::CellText(uint64_t column, uint64_t row, int32_t* flags) {
    FlowTableView view = TableView();
    // While a job runs only the finished frames are read; after a run that
    // ended early, only the frames it analysed.
    view.frameLimit = finishedFrames_ >= 0 ? finishedFrames_ : analysedFrames_;
    // Each component is scaled before the length is taken.
    view.speed = [](const FlowVector& v, double scale, uint64_t T) {
        const double perFrame = std::sqrt((scale * v.dx) * (scale * v.dx) + (scale * v.dy) * (scale * v.dy));
        return T ? 1000.0 / static_cast<double>(T) * perFrame : perFrame;
    };
    return FlowTableCellText(flow, view, column, row, flags, cellText_);
}
