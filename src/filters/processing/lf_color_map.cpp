#include "filters/processing/lf_color_map.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

#include "filters/processing/colour_charts.h"
#include "filters/processing/region_clip.h"
#include "image/colour.h"
#include "image/kernels/kernel_frame.h"
#include "image/pool.h"
#include "media/frame_output.h"
#include "toolkit/fg_file_select.h"
#include "toolkit/fg_msgbox.h"
#include "toolkit/fg_screen.h"

CImgFilter* CreateLfColorMap() { return new (std::nothrow) CLfColorMap; }

bool CStrictSetting::Parse(const wchar_t* text) {
    const wchar_t* p = text;
    const bool negative = *p == L'-';
    if (negative) ++p;
    int64_t v = 0;
    bool valid = *p != 0;
    for (; *p; ++p) {
        if (*p < L'0' || *p > L'9' || v > (int64_t{INT32_MAX} + 1) / 10) {
            valid = false;
            break;
        }
        v = v * 10 + (*p - L'0');
    }
    if (negative) v = -v;
    if (!valid || v > INT32_MAX || v < INT32_MIN) v = 0;
    const auto value = static_cast<int32_t>(v);
    if (!Accepts(value)) return false;
    Set(value);
    return true;
}

namespace {

constexpr size_t kCells = 256 * 256;

// The cell of a pixel's X, Y, Z in the xy or L*a*b* view; false when it is
// not finite or lies outside the table.
inline bool XyzCell(uint32_t view, double X, double Y, double Z, int32_t* column, int32_t* row) {
    double c, r;
    if (view == kChartXy) {
        const double s = X + Y + Z;
        c = 255 * X / s;
        r = 255 * Y / s;
    } else {
        double l, a, b;
        ImgXyzToLab(X, Y, Z, &l, &a, &b);
        c = 255 * (a + 128) / 255;
        r = 255 * (b + 128) / 255;
    }
    // NaN and infinities fail both comparisons.
    if (!(c >= 0 && c < 256 && r >= 0 && r < 256)) return false;
    *column = static_cast<int32_t>(c);
    *row = static_cast<int32_t>(r);
    return true;
}

// Per-channel X, Y, Z contributions of 8-bit samples: the sums give the
// getter's X, Y, Z exactly (same products, same order of addition).
struct Rgb8XyzTables {
    double t[3][3][256];  // [channel][X, Y, Z][level]
    Rgb8XyzTables() {
        for (int c = 0; c < 3; ++c)
            for (int v = 0; v < 256; ++v) {
                double in[3] = {0, 0, 0};
                in[c] = static_cast<double>(static_cast<uint32_t>(v) * 16843009u) / 4294967295.0;
                ImgSrgbToXyz(in[0], in[1], in[2], &t[c][0][v], &t[c][1][v], &t[c][2][v]);
            }
    }
};

const Rgb8XyzTables& XyzTables() {
    static const Rgb8XyzTables tables;
    return tables;
}

// The cell of every 8-bit RGB colour met so far, per view: a colour's cell
// never changes, and a picture holds far fewer colours than pixels. Each
// entry holds the cell (row * 256 + column) inverted, so that the zero of a
// fresh page means "not known yet"; 1 (cell 65534) marks a colour without
// a cell. Neither 65535 nor 65534 is the cell of an sRGB colour in any view
// (both lie in the chart's bottom-right corner). Entries are written and
// read with relaxed atomics: racing workers store the same value.
constexpr uint16_t kUnknown = 0, kNoCell = 1;
constexpr size_t kColours = size_t{1} << 24;

// Colours within the same 8 x 8 x 8 block sit together (1 KB), so that the
// neighbouring colours of a picture share cache lines and pages.
inline size_t CacheIndex(const uint8_t* p) {
    const size_t r = p[0], g = p[1], b = p[2];
    return ((r >> 3) << 19) | ((g >> 3) << 14) | ((b >> 3) << 9) | ((r & 7) << 6) | ((g & 7) << 3) | (b & 7);
}

uint16_t* CellCache(uint32_t view) {
    static std::mutex lock;
    static uint16_t* caches[3] = {nullptr, nullptr, nullptr};
    static bool failed[3] = {false, false, false};
    std::lock_guard<std::mutex> hold(lock);
    if (!caches[view] && !failed[view]) {
        caches[view] = static_cast<uint16_t*>(std::calloc(kColours, sizeof(uint16_t)));
        failed[view] = caches[view] == nullptr;
    }
    return caches[view];
}

struct CountJob {
    const C_ImgBuff* image;
    ImgRect r;
    uint32_t view;
    uint32_t* table;
    uint32_t* maximum;
    std::mutex* lock;
    uint16_t* cache;  // for 8-bit RGB, or null
};

// The cell of one 8-bit RGB colour, exactly as the getters give it.
uint16_t Rgb8Entry(uint32_t view, const uint8_t* p) {
    int32_t column, row;
    if (view == kChartHsv) {
        uint16_t h, s, v;
        ImgRgb16ToHsv16(static_cast<uint16_t>(p[0] * 257), static_cast<uint16_t>(p[1] * 257),
                        static_cast<uint16_t>(p[2] * 257), &h, &s, &v);
        HsvWheelCell(h, s, &column, &row);
    } else {
        const Rgb8XyzTables& xyz = XyzTables();
        const double X = xyz.t[0][0][p[0]] + xyz.t[1][0][p[1]] + xyz.t[2][0][p[2]];
        const double Y = xyz.t[0][1][p[0]] + xyz.t[1][1][p[1]] + xyz.t[2][1][p[2]];
        const double Z = xyz.t[0][2][p[0]] + xyz.t[1][2][p[1]] + xyz.t[2][2][p[2]];
        if (!XyzCell(view, X, Y, Z, &column, &row)) return kNoCell;
    }
    return static_cast<uint16_t>(~(row * 256 + column));
}

void CountRows(void* ctx, uint64_t first, uint64_t count) {
    const CountJob& job = *static_cast<const CountJob*>(ctx);
    std::unique_ptr<uint32_t[]> own(new (std::nothrow) uint32_t[kCells]());
    if (!own) return;
    const C_ImgBuff& b = *job.image;
    const int32_t width = job.r.x1 - job.r.x0 + 1;
    uint16_t hsv[3 * kImgSpanPixels];
    for (uint64_t i = first; i < first + count; ++i) {
        const int32_t y = job.r.y0 + static_cast<int32_t>(i);
        if (job.cache) {
            const uint8_t* p = b.PixelAt(job.r.x0, y);
            for (int32_t k = 0; k < width; ++k, p += 3) {
                uint16_t* slot = job.cache + CacheIndex(p);
                uint16_t entry = __atomic_load_n(slot, __ATOMIC_RELAXED);
                if (entry == kUnknown) {
                    entry = Rgb8Entry(job.view, p);
                    __atomic_store_n(slot, entry, __ATOMIC_RELAXED);
                }
                if (entry != kNoCell) ++own[static_cast<uint16_t>(~entry)];
            }
            continue;
        }
        for (int32_t x0 = 0; x0 < width; x0 += kImgSpanPixels) {
            const int32_t n = std::min(kImgSpanPixels, width - x0), sx = job.r.x0 + x0;
            int32_t column, row;
            if (job.view == kChartHsv) {
                ImgReadHsv16Span(b, sx, y, n, hsv);
                for (int32_t k = 0; k < n; ++k) {
                    HsvWheelCell(hsv[3 * k], hsv[3 * k + 1], &column, &row);
                    ++own[static_cast<size_t>(row) * 256 + static_cast<size_t>(column)];
                }
                continue;
            }
            for (int32_t k = 0; k < n; ++k) {
                double X, Y, Z;
                b.GetPixelXyz(sx + k, y, &X, &Y, &Z);
                if (XyzCell(job.view, X, Y, Z, &column, &row))
                    ++own[static_cast<size_t>(row) * 256 + static_cast<size_t>(column)];
            }
        }
    }
    std::lock_guard<std::mutex> hold(*job.lock);
    uint32_t largest = *job.maximum;
    for (size_t c = 0; c < kCells; ++c) {
        if (!own[c]) continue;
        job.table[c] += own[c];
        largest = std::max(largest, job.table[c]);
    }
    *job.maximum = largest;
}

struct ShadeJob {
    C_ImgBuff* chart;
    uint32_t view, type;
    uint8_t background;
    const uint32_t* table;
    uint32_t maximum;
    double factor;
};

void ShadeRows(void* ctx, uint64_t first, uint64_t count) {
    const ShadeJob& job = *static_cast<const ShadeJob*>(ctx);
    C_ImgBuff& b = *job.chart;
    const double maximum = job.maximum;
    for (uint64_t i = first; i < first + count; ++i) {
        const auto row = static_cast<int32_t>(i);
        for (int32_t column = 0; column < 256; ++column) {
            uint8_t g;
            b.GetPixelGray8(column, row, &g);
            if (g == job.background) continue;
            const uint32_t n = job.table[static_cast<size_t>(255 - row) * 256 + static_cast<size_t>(column)];
            if (job.view == kChartHsv) {
                uint16_t h, s, v;
                b.GetPixelHsv16(column, row, &h, &s, &v);
                double nv = 39321;
                if (n) {
                    if (job.type == 0) nv = std::trunc(19660.5 * n / maximum + 45874.5);
                    if (job.type == 1) nv = std::trunc(std::log10(19660.5 * n / maximum + 1) * job.factor + 45874.5);
                    if (job.type == 2) nv = 65535;
                }
                b.SetPixelHsv16(column, row, h, s, static_cast<uint16_t>(std::min(nv, 65535.0)));
                continue;
            }
            double X, Y, Z, l, a, bb;
            b.GetPixelXyz(column, row, &X, &Y, &Z);
            ImgXyzToLab(X, Y, Z, &l, &a, &bb);
            l = 30;
            if (n) {
                if (job.type == 0) l = 65.0 * n / maximum + 35;
                if (job.type == 1) l = std::log10(65.0 * n / maximum + 1) * job.factor + 35;
                if (job.type == 2) l = 75;
            }
            b.SetPixelLab(column, row, l, a, bb);
        }
    }
}

}  // namespace

uint32_t CLfColorMap::CountCells(const CImgBuff* image, const ImgRect& r, uint32_t view, uint32_t* table) {
    std::memset(table, 0, kCells * sizeof(uint32_t));
    if (!image || !image->buffer || !image->buffer->pixels || !ImgFormatValid(image->buffer->format) || view > 2)
        return 0;
    if (r.x0 < 0 || r.y0 < 0 || r.x1 < r.x0 || r.y1 < r.y0 || r.x1 >= image->buffer->width ||
        r.y1 >= image->buffer->height)
        return 0;
    uint32_t maximum = 0;
    std::mutex lock;
    CountJob job{image->buffer, r, view, table, &maximum, &lock,
                 image->buffer->format == kImgRgb8 ? CellCache(view) : nullptr};
    PoolParallelFor(CountRows, &job, static_cast<uint64_t>(r.y1 - r.y0 + 1));
    return maximum;
}

void CLfColorMap::ShadeChart(CImgBuff* chartImage, uint32_t view, uint32_t type, uint8_t background,
                             const uint32_t* table, uint32_t maximum) {
    const double factor = (view == kChartHsv ? 19660.5 : 65.0) / std::log10(maximum + 1.0);
    ShadeJob job{chartImage->buffer, view, type, background, table, maximum, factor};
    PoolParallelFor(ShadeRows, &job, 256);
}

CLfColorMap::CLfColorMap() : counts_(new (std::nothrow) uint32_t[kCells]()) {
    BuildColourCharts();
    chart.Create(256, 256, 1, 1, 0, nullptr);
    menuBar.data = this;
    menuBar.callback = [](CFgUIMenuBar*, void* data, int32_t, int32_t id) {
        static_cast<CLfColorMap*>(data)->MenuCommand(id);
    };
    AttachControls();
}

CLfColorMap::~CLfColorMap() {
    // The panel goes before the texture it draws.
    Destroy();
    menuBar.RemoveAllItems();
}

int32_t CLfColorMap::MenuHeight() const { return static_cast<int32_t>(font.height ? font.height : 14) + 8; }

PanelSpec CLfColorMap::Panel() {
    const int32_t fh = MenuHeight() - 8;
    return {L"Color map", L"色分布図", 264, fh + 272, 264, fh + 272, {{&menuBar, 0, 0, 264, fh + 8, nullptr, nullptr}}};
}

const wchar_t* CLfColorMap::ViewMenuText() {
    const bool jp = Japanese();
    const wchar_t* on = jp ? L"\u2713" : L"*";
    const wchar_t* off = jp ? L"\u3000" : L" ";
    const int32_t v = view.Get(), t = type.Get(), b = bg.Get();
    auto item = [&](bool checked, const wchar_t* label, const wchar_t* id) {
        return std::wstring(checked ? on : off) + label + L"\t" + id + L"\n";
    };
    viewMenu_ = std::wstring(jp ? L"色度図" : L"Color diagram") + L"\t{" + item(v == 0, L"xy", L"101") +
                item(v == 1, L"L*a*b*", L"102") + item(v == 2, L"HSV", L"103") + L"}\n" +
                (jp ? L"表示方法" : L"type") + L"\t{" + item(t == 0, jp ? L"標準" : L"Std", L"201") +
                item(t == 1, jp ? L"log変換" : L"Log", L"202") + item(t == 2, jp ? L"分布" : L"Distribution", L"203") +
                L"}\n" + (jp ? L"背景色" : L"Bg color") + L"\t{" + item(b == 0, jp ? L"黒" : L"Black", L"301") +
                item(b == 255, jp ? L"白" : L"White", L"302") + L"}\n";
    return viewMenu_.c_str();
}

void CLfColorMap::ShowUi(int32_t show, CFgScreen* parentScreen) {
    if (show && !PanelShown()) {
        const bool jp = Japanese();
        menuBar.RemoveAllItems();
        menuBar.AddItem(jp ? L"画像ファイル" : L"File", jp ? L"画像を保存\t1\n" : L"Save image\t1\n", nullptr, nullptr);
        menuBar.AddItem(jp ? L"表示" : L"View", nullptr,
                        [](void* data, int32_t) { return static_cast<CLfColorMap*>(data)->ViewMenuText(); }, this);
    }
    CDialogFilterBase::ShowUi(show, parentScreen);
    if (show && PanelShown()) {
        {
            CriticalSectionLock gl(g_GlLock);
            CriticalSectionLock own(chartLock_);
            chart.AttachToScreen(this);
        }
        CFgUICtrl::Redraw();
    }
}

void CLfColorMap::DrawOverlay() {
    CriticalSectionLock own(chartLock_);
    if (!chartDrawn_) return;
    const double top = ChartTop();
    const double xs[4] = {4, 4 + 256.0, 4 + 256.0, 4}, ys[4] = {top, top, top + 256, top + 256};
    chart.DrawCellQuad(xs, ys, 0, 1, 1);
}

void CLfColorMap::MenuCommand(int32_t id) {
    switch (id) {
        case 1: SaveImage(); return;
        case 101: case 102: case 103: view.Set(id - 101); break;
        case 201: case 202: case 203: type.Set(id - 201); break;
        case 301: bg.Set(0); break;
        case 302: bg.Set(255); break;
        default: return;
    }
    Rerun(0);
}

bool CLfColorMap::HasChart() const {
    CriticalSectionLock own(chartLock_);
    return chartDrawn_;
}

bool CLfColorMap::ChartImage(CImgBuff* out) const {
    CriticalSectionLock gl(g_GlLock);
    CriticalSectionLock own(chartLock_);
    return chartDrawn_ && out->CopyFromTexture(&chart);
}

void CLfColorMap::SaveImage() {
    const bool jp = Japanese();
    CImgBuff image;
    if (!ChartImage(&image)) {
        FgMessageBox(jp ? L"画像がありません" : L"there is no image", jp ? L"確認" : L"confirmation", 1,
                     PanelShown() ? this : nullptr);
        return;
    }
    FgSelectFileOptions options;
    options.title = jp ? L"保存するファイル名を選択" : L"select file name to save";
    options.extensions = GetImageExtensionList();
    wchar_t path[1024] = {};
    if (!FgSelectFile(path, 1024, &options, PanelShown() ? this : nullptr) || !path[0]) return;
    const wchar_t* lang = jp ? L"jp" : L"en";
    if (ConfirmSaveImage(&image, path, lang, this) == 1) SaveImageFile(&image, path, lang, this);
}

uint32_t CLfColorMap::Count(int32_t column, int32_t row) const {
    std::lock_guard<std::mutex> hold(countLock_);
    if (!counts_ || column < 0 || column > 255 || row < 0 || row > 255) return 0;
    return counts_[static_cast<size_t>(row) * 256 + static_cast<size_t>(column)];
}

uint32_t CLfColorMap::MaxCount() const {
    std::lock_guard<std::mutex> hold(countLock_);
    return maxCount_;
}

int32_t CLfColorMap::OnFilter(CImgBuff* image, uint64_t, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t,
                              uint32_t, uint32_t*, uint32_t*) {
    const int32_t v = view.Get(), t = type.Get();
    const auto background = static_cast<uint8_t>(bg.Get());
    if (v < 0 || v > 2 || t < 0 || t > 2 || !counts_) return 1;
    const CImgBuff* stored = ColourChart(static_cast<uint32_t>(v));
    if (!stored) return 1;
    CImgBuff scratch;
    if (!scratch.CopyFrom(stored)) return 1;
    if (background) ChartOutsideTo(&scratch, background);
    if (image && image->buffer && image->buffer->pixels && ImgFormatValid(image->buffer->format)) {
        // Counted and shaded outside every lock but the count table's.
        std::lock_guard<std::mutex> hold(countLock_);
        ImgRect r;
        if (ClippedRegion(image, x, y, w, h, &r))
            maxCount_ = CountCells(image, r, static_cast<uint32_t>(v), counts_.get());
        else {
            std::memset(counts_.get(), 0, kCells * sizeof(uint32_t));
            maxCount_ = 0;
        }
        ShadeChart(&scratch, static_cast<uint32_t>(v), static_cast<uint32_t>(t), background, counts_.get(), maxCount_);
    }
    {
        CriticalSectionLock gl(g_GlLock);
        CriticalSectionLock own(chartLock_);
        chartDrawn_ = chart.SetFromImage(&scratch, 1) != 0;
    }
    CFgUICtrl::Redraw();
    return 1;
}
