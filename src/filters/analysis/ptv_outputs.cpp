// The outputs of the PTV filter: the vector field per grid cell derived
// from the tracks, the table window's two views (track coordinates, vectors)
// and the track file the tracks are saved to and loaded from.
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <functional>
#include <memory>
#include <new>
#include <string>

#include "filters/analysis/lf_ptv.h"
#include "filters/analysis/p2d_data.h"
#include "filters/core/filterctrl.h"
#include "filters/core/textconv.h"
#include "image/pool.h"
#include "media/codec.h"
#include "platform/atomic_save.h"
#include "platform/files.h"
#include "toolkit/fg_file_select.h"
#include "toolkit/fg_msgbox.h"

namespace {

// Text of a library call that returns malloc'd memory.
struct MallocText {
    explicit MallocText(char* p) : text(p) {}
    ~MallocText() { std::free(text); }
    MallocText(const MallocText&) = delete;
    MallocText& operator=(const MallocText&) = delete;
    char* text;
};

struct VectorJob {
    CLfPtv* filter;
    std::atomic<int32_t> failed{0};
};

void VectorKernel(void* arg, uint64_t first, uint64_t count) {
    auto* job = static_cast<VectorJob*>(arg);
    if (!job->filter->VectorFrames(static_cast<int32_t>(first), static_cast<int32_t>(count))) job->failed.store(1);
}

}  // namespace

// --- vector field ---

int32_t CLfPtv::SetupVectorGrid() {
    const uint64_t w = CImgFilter::width, h = CImgFilter::height;
    const uint64_t n = std::min<uint64_t>(CImgFilter::frames, INT32_MAX);
    if (w < 1 || h < 1 || w - 1 > INT32_MAX || h - 1 > INT32_MAX || n < 1) {
        flow.Clear();
        return 0;
    }
    return flow.SetupCentred(static_cast<int32_t>(w - 1), static_cast<int32_t>(h - 1), cellSize,
                             static_cast<int32_t>(n));
}

int32_t CLfPtv::VectorFrames(int32_t first, int32_t count) {
    const int64_t cells = static_cast<int64_t>(flow.columns) * flow.rows;
    if (cells < 1) return 1;
    std::unique_ptr<double[]> sumX(new (std::nothrow) double[static_cast<size_t>(cells)]);
    std::unique_ptr<double[]> sumY(new (std::nothrow) double[static_cast<size_t>(cells)]);
    std::unique_ptr<int64_t[]> counts(new (std::nothrow) int64_t[static_cast<size_t>(cells)]);
    if (!sumX || !sumY || !counts) return 0;
    try {
        CParticleFrameIndex previous;
        const int32_t end = std::min(first + count, std::min(store.frameCount, flow.frames));
        for (int32_t f = std::max(first, 1); f < end; ++f) {
            std::fill(sumX.get(), sumX.get() + cells, 0.0);
            std::fill(sumY.get(), sumY.get() + cells, 0.0);
            std::fill(counts.get(), counts.get() + cells, int64_t{0});
            const ParticleFrame& pf = store.frames[f];
            for (int32_t i = 0; i < pf.count; ++i) {
                const Particle& q = pf.records[i];
                if (q.id < 0) continue;
                const Particle* p = previous.Record(store, f - 1, q.id);
                if (!p || (p->x == q.x && p->y == q.y)) continue;
                if (!std::isfinite(q.x) || !std::isfinite(q.y) || !std::isfinite(p->x) || !std::isfinite(p->y))
                    continue;
                // The cell of the particle's whole pixel; a position left of
                // or above the grid is outside it.
                const double ix = std::trunc(q.x) - flow.originX, iy = std::trunc(q.y) - flow.originY;
                if (ix < 0 || iy < 0) continue;
                const double c = std::floor(ix / flow.step), r = std::floor(iy / flow.step);
                if (c >= flow.columns || r >= flow.rows) continue;
                const size_t k = static_cast<size_t>(r) * static_cast<size_t>(flow.columns) + static_cast<size_t>(c);
                sumX[k] += q.x - p->x;
                sumY[k] += q.y - p->y;
                ++counts[k];
            }
            for (int32_t r = 0; r < flow.rows; ++r) {
                for (int32_t c = 0; c < flow.columns; ++c) {
                    const size_t k = static_cast<size_t>(r) * static_cast<size_t>(flow.columns) + static_cast<size_t>(c);
                    FlowVector* v = flow.VectorAt(c, r, f);
                    if (counts[k]) {
                        *v = {sumX[k] / static_cast<double>(counts[k]), sumY[k] / static_cast<double>(counts[k])};
                    } else {
                        *v = {0.0, 0.0};
                    }
                }
            }
            // Track vectors are never hidden as outliers: the frame counts as
            // validated with every flag clear.
            const size_t base = static_cast<size_t>(f) * static_cast<size_t>(cells);
            std::fill(flow.vectorFlags + base, flow.vectorFlags + base + static_cast<size_t>(cells), uint8_t{0});
            flow.frameFlags[f] = 1;
        }
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return 1;
}

void CLfPtv::ComputeVectors() {
    if (Running()) return;
    if (!SetupVectorGrid()) {
        Message(L"失敗しました", L"failed", true);
        return;
    }
    RedrawPicture();
    VectorJob job{this};
    const int32_t frames = std::min(store.frameCount, flow.frames);
    if (frames > 1 && !PoolParallelFor(VectorKernel, &job, static_cast<uint64_t>(frames))) job.failed.store(1);
    if (job.failed.load()) Message(L"失敗しました", L"failed", true);
    RedrawPicture();
    RepaintTable();
}

// --- table window ---

void CLfPtv::OpenTable(int32_t x, int32_t y, int32_t w, int32_t h, bool trackTitle) {
    table.SetLanguage(language.c_str());
    SizeTable();
    const bool jp = !table.english;
    const bool track = trackTitle || tabs.current != kTabPtv;
    const wchar_t* title = track ? (jp ? L"追跡データ" : L"TRACK DATA") : (jp ? L"ベクトルデータ" : L"VECTOR DATA");
    table.Open(x, y, w, h, title, PanelShown() ? this : nullptr);
}

void CLfPtv::ShowTable() { OpenTable(-1, -1, 300, 300, false); }

void CLfPtv::SizeTable() {
    uint64_t columns = 0;
    uint64_t rows = 0;
    const uint64_t ids = static_cast<uint64_t>(std::max(store.GetIdCount(), 0));
    const uint64_t frames = static_cast<uint64_t>(std::max(store.frameCount, 0));
    if (ids && frames) {
        if (tabs.current != kTabPtv) {
            columns = 2 * ids + 1;
            rows = frames + 2;
        } else if (flow.vectors) {
            columns = 2 * static_cast<uint64_t>(flow.columns) * static_cast<uint64_t>(flow.rows) + 1;
            rows = static_cast<uint64_t>(flow.frames) + 2;
        }
    }
    table.SizeWithHeaders(columns, rows);
    RepaintTable();
}

const wchar_t* CLfPtv::CellText(uint64_t j, uint64_t i, int32_t* flags) {
    if (tabs.current == kTabPtv) {
        // Vector view: speed and direction of each cell per frame.
        FlowTableView view = TableView();
        // The length in pixels is scaled.
        view.speed = [](const FlowVector& v, double scale, uint64_t T) {
            const double perFrame = scale * std::sqrt(v.dx * v.dx + v.dy * v.dy);
            return T ? perFrame * 1000.0 / static_cast<double>(T) : perFrame;
        };
        return FlowTableCellText(flow, view, j, i, flags, cellText_);
    }
    // Track view: x and y of each id per frame.
    const CCalibCopy::Values calib = calib_.Get();
    wchar_t* out = cellText_;
    out[0] = 0;
    const bool odd = (j % 2) == 1;
    const uint64_t ids = static_cast<uint64_t>(std::max(store.GetIdCount(), 0));
    if (j == 0) {
        if (i == 0) {
            std::swprintf(out, 65, L"%ls", calib.unit.empty() ? L"pixel" : calib.unit.c_str());
        } else if (i >= 2) {
            std::swprintf(out, 65, L"%lu", static_cast<unsigned long>(i - 1));
            if (flags) *flags = 1;
        }
        return out;
    }
    const uint64_t k = (j - 1) / 2;
    if (k >= ids) return out;
    if (i == 0) {
        if (odd) std::swprintf(out, 65, L"%lu", static_cast<unsigned long>(k + 1));
        return out;
    }
    if (i == 1) {
        std::swprintf(out, 65, L"%ls", odd ? L"X" : L"Y");
        return out;
    }
    const uint64_t frame = i - 2;
    if (frame >= static_cast<uint64_t>(std::max(store.frameCount, 0))) return out;
    const Particle* p = tableIndex_.Record(store, static_cast<int32_t>(frame), static_cast<int32_t>(k));
    if (!p) return out;
    double value;
    if (odd) {
        value = p->x;
    } else {
        value = calib.axis < 0 ? static_cast<double>(CImgFilter::height) - 1.0 - p->y : p->y;
    }
    std::swprintf(out, 65, L"%.1lf", value * calib.scale);
    return out;
}

// --- track files ---

namespace {

// Asks for a track file: "temp.p2d" in the folder of the last selection.
bool AskTrackFile(CLfPtv* f, bool save, wchar_t* path) {
    const bool jp = f->Japanese();
    wchar_t start[kFgPathMax + 1];
    std::wcsncpy(start, g_LastFileDir, kFgPathMax);
    start[kFgPathMax] = L'\0';
    if (!start[0] || !FgPathAppend(start, kFgPathMax + 1, L"temp.p2d")) std::wcscpy(start, L"temp.p2d");
    FgSelectFileOptions options;
    options.title = save ? (jp ? L"保存するファイル名を選択" : L"select file name to save")
                         : (jp ? L"ファイルを選択" : L"select file");
    options.startPath = start;
    options.extensions = L"p2d";
    path[0] = L'\0';
    return FgSelectFile(path, kFgPathMax + 1, &options, f->PanelShown() ? f : nullptr) && path[0];
}

}  // namespace

int32_t CLfPtv::SaveTrackFile() {
    if (Running()) return 0;
    wchar_t path[kFgPathMax + 1];
    if (!AskTrackFile(this, true, path)) return 0;
    const bool jp = Japanese();
    if (codec_file_exists(path) &&
        FgMessageBox(jp ? L"上書き保存しますか？" : L"Do you want to overwrite it?", jp ? L"確認" : L"confirmation", 2,
                     PanelShown() ? this : nullptr) != 1)
        return 0;
    return SaveTrackFileTo(path);
}

int32_t CLfPtv::SaveTrackFileTo(const wchar_t* path) {
    MallocText target(path ? WideToUtf8(path) : nullptr);
    if (!target.text) {
        Message(L"メモリー不足です", L"poor memory", true);
        return 0;
    }
    const int32_t ids = std::max(store.GetIdCount(), 0);
    const int32_t frames = std::max(store.frameCount, 0);
    P2dHeader header{};
    header.magic = kP2dMagic;
    header.mark = kP2dMark;
    header.version = 1;
    header.columns = static_cast<uint32_t>(ids);
    header.rows = static_cast<uint32_t>(frames);
    P2dInfo info{};
    info.scale = ScaleCopy();
    info.yDirection = AxisCopy();
    {
        MallocText unit(WideToUtf8(UnitCopy().c_str()));
        // Cut at the last whole character, so that the unit reads back.
        P2dSetUnitText(&info, unit.text ? unit.text : "");
    }
    // Written beside the target and renamed over it only when complete: a
    // failed save leaves the old file as it was.
    AtomicSave save;
    FILE* file = save.BeginUtf8(target.text) ? std::fopen(save.TemporaryPathUtf8().c_str(), "wb") : nullptr;
    bool ok = file != nullptr;
    std::unique_ptr<P2dPoint[]> row(ids > 0 ? new (std::nothrow) P2dPoint[static_cast<size_t>(ids)] : nullptr);
    if (ids > 0 && !row) ok = false;
    ok = ok && P2dWriteHeader(file, &header) && P2dWriteInfo(file, &info);
    CParticleFrameIndex index;
    for (int32_t f = 0; ok && f < frames && ids > 0; ++f) {
        for (int32_t id = 0; id < ids; ++id) {
            const Particle* p = index.Record(store, f, id);
            row[static_cast<size_t>(id)] = p && p->valid ? P2dPoint{p->x, p->y} : P2dPoint{-1.0, -1.0};
        }
        ok = P2dWritePoints(file, static_cast<uint64_t>(ids), row.get()) != 0;
    }
    if (file) {
        ok = (std::fflush(file) == 0) && ok;
        ok = (std::fclose(file) == 0) && ok;
    }
    ok = ok && save.Commit();
    if (!ok) {
        Message(L"セーブできませんでした", L"saving failed", true);
        return 0;
    }
    Message(L"セーブしました", L"saved", false);
    return 1;
}

int32_t CLfPtv::LoadTrackFile() {
    if (Running()) return 0;
    wchar_t path[kFgPathMax + 1];
    if (!AskTrackFile(this, false, path)) return 0;
    return LoadTrackFileFrom(path);
}

int32_t PtvReadTrackFile(const wchar_t* path, CParticleData* store,
                         const std::function<void(const P2dInfo&)>& calibration) {
    store->Clear();
    MallocText ansi(path ? WideToAnsi(path) : nullptr);
    FILE* file = ansi.text ? std::fopen(ansi.text, "rb") : nullptr;
    if (!file) return 0;
    const auto finish = [&](int32_t result) {
        std::fclose(file);
        if (result != 1) store->Clear();
        return result;
    };
    P2dHeader header{};
    if (!P2dReadHeader(file, &header)) return finish(g_P2dLastError == kP2dVersion ? -1 : 0);
    if (header.columns > INT32_MAX || header.rows > INT32_MAX) return finish(0);
    // The counts come from the file: it must hold every point before any
    // memory is taken for them.
    const uint64_t points = static_cast<uint64_t>(header.columns) * header.rows;
    struct stat st {};
    if (fstat(fileno(file), &st) != 0 || st.st_size < 40) return finish(0);
    if ((static_cast<uint64_t>(st.st_size) - 40) / sizeof(P2dPoint) < points) return finish(0);
    P2dInfo info{};
    if (!P2dReadInfo(file, &info, header.mark)) return finish(0);
    // Only a usable calibration is handed on; the points load either way.
    if (calibration && std::isfinite(info.scale) && info.scale > 0.0 && (info.yDirection == 1 || info.yDirection == -1))
        calibration(info);
    // Without columns the file holds no particle, and its row count alone
    // (up to 2^31 - 1 from a 40-byte file) is no reason to size the store:
    // it is loaded empty.
    if (header.rows == 0 || header.columns == 0) return finish(1);
    const int32_t columns = static_cast<int32_t>(header.columns);
    const int32_t rows = static_cast<int32_t>(header.rows);
    if (!store->SetFrames(rows)) return finish(0);
    std::unique_ptr<P2dPoint[]> row(new (std::nothrow) P2dPoint[static_cast<size_t>(columns)]);
    if (!row) return finish(0);
    for (int32_t f = 0; f < rows; ++f) {
        if (!P2dReadPoints(file, static_cast<uint64_t>(columns), row.get(), header.mark)) return finish(0);
        for (int32_t c = 0; c < columns; ++c) {
            const P2dPoint& p = row[static_cast<size_t>(c)];
            // Not finite or negative: no particle.
            if (!P2dPointPresent(p)) continue;
            if (store->AddParticle(f, Particle{c, 1, p.x, p.y}) < 0) return finish(0);
        }
    }
    store->idCount = 0;
    store->GetIdCount();
    return finish(1);
}

int32_t CLfPtv::LoadTrackFileFrom(const wchar_t* path) {
    const int32_t result = PtvReadTrackFile(path, &store, [this](const P2dInfo& info) {
        if (!FilterOn() || !Chain()) return;
        const std::string unitText = P2dUnitText(info);
        wchar_t* unit = Utf8ToWide(unitText.c_str());
        Chain()->ChangeCalibration(info.scale, info.yDirection, unit ? unit : L"");
        std::free(unit);
    });
    if (result == -1) Message(L"未対応のバージョンです", L"unsupported version", true);
    if (result != 1) Message(L"ロードできませんでした", L"loading failed", true);
    RefillIdList();
    RepaintPanel();
    RedrawPicture();
    RebuildTableIfOpen();
    return result == 1 ? 1 : 0;
}
