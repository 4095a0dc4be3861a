#include "filters/analysis/lf_ameasure.h"

#include <GL/gl.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cwchar>
#include <new>

#include "filters/core/cfgfile.h"
#include "filters/core/filterctrl.h"
#include "filters/processing/region_clip.h"
#include "image/kernels/islands.h"
#include "toolkit/fg_font.h"
#include "toolkit/fg_text_columns.h"

CImgFilter* CreateLfAmeasure() { return new (std::nothrow) CLfAmeasure; }

namespace {

IslandRecord* HeapRecords(uint64_t n) { return new (std::nothrow) IslandRecord[n]; }

const wchar_t* const kEnglishTitles[CLfAmeasure::kMeasures] = {
    L"center of contour x", L"center of contour y", L"center of gravity x", L"center of gravity y",
    L"area", L"number of holes", L"hole area", L"total area",
    L"perimeter length", L"hole perimeter length", L"maximum brightness", L"minimum brightness",
    L"total brightness", L"average brightness", L"line length", L"circularity",
    L"equivalent circle diameter", L"sphere volume", L"maximum radius", L"minimum radius",
    L"average radius", L"long diameter", L"short diameter", L"inclination of major axis",
};
const wchar_t* const kJapaneseTitles[CLfAmeasure::kMeasures] = {
    L"輪郭の中心 X", L"輪郭の中心 Y", L"重心 X", L"重心 Y", L"面積", L"穴の数", L"穴面積", L"総面積",
    L"周囲長", L"穴の周囲長", L"最大輝度", L"最小輝度", L"合計輝度", L"平均輝度", L"線長", L"円形度",
    L"等価円直径", L"球体の体積", L"最大半径", L"最小半径", L"平均半径", L"長径", L"短径", L"長径の傾き",
};

// Measure j (1-24) of a record as its cell text.
void MeasureText(const IslandRecord& r, int32_t j, wchar_t* out, size_t size) {
    double v = 0;
    switch (j) {
        case 1: v = r.centreX; break;
        case 2: v = r.centreY; break;
        case 3: v = r.weightedX; break;
        case 4: v = r.weightedY; break;
        case 5: v = r.area; break;
        case 6: std::swprintf(out, size, L"%d", r.holes); return;
        case 7: v = r.holeArea; break;
        case 8: v = r.filledArea; break;
        case 9: v = r.perimeter; break;
        case 10: v = r.holePerimeter; break;
        case 11: std::swprintf(out, size, L"%u", r.maxValue); return;
        case 12: std::swprintf(out, size, L"%u", r.minValue); return;
        case 13: v = r.valueSum; break;
        case 14: v = r.meanValue; break;
        case 15: v = r.meanPerimeter; break;
        case 16: v = r.circularity; break;
        case 17: v = r.equivalentDiameter; break;
        case 18: v = r.equivalentVolume; break;
        case 19: v = r.maxRadius; break;
        case 20: v = r.minRadius; break;
        case 21: v = r.meanRadius; break;
        case 22: v = r.length; break;
        case 23: v = r.breadth; break;
        case 24: v = r.orientation; break;
        default: out[0] = 0; return;
    }
    std::swprintf(out, size, L"%.3f", v);
}

}  // namespace

CLfAmeasure::RecordAllocator CLfAmeasure::allocateRecords = HeapRecords;

const wchar_t* CLfAmeasure::Title(int32_t j, bool english) {
    if (j < 1 || j > kMeasures) return L"";
    return english ? kEnglishTitles[j - 1] : kJapaneseTitles[j - 1];
}

uint64_t CLfAmeasure::TitleColumnWidth(bool english) {
    // Display cells, not bytes: a Japanese title is as wide as its glyphs.
    static const std::array<uint64_t, 2> widths = [] {
        uint64_t w[2] = {0, 0};
        for (int32_t e = 0; e < 2; ++e)
            for (int32_t j = 1; j <= kMeasures; ++j) {
                uint64_t cells = 0;
                for (const wchar_t* c = Title(j, e == 1); *c; ++c) cells += static_cast<uint64_t>(FgCharCells(*c));
                w[e] = std::max(w[e], cells);
            }
        return std::array<uint64_t, 2>{w[0] ? w[0] : 12, w[1] ? w[1] : 26};
    }();
    return widths[english ? 1 : 0];
}

CLfAmeasure::CLfAmeasure() {
    table.filter = this;
    table.grid.textCallback = CellCallback;
    table.grid.callbackData = this;
    table.quoteFields = 1;
    TitleColumnWidth(true);
    BuildMenus();
}

CLfAmeasure::~CLfAmeasure() {
    table.Destroy();
    table.menuBar.RemoveAllItems();
}

const wchar_t* CLfAmeasure::GetName(const wchar_t* languageCode) {
    return languageCode && std::wcscmp(languageCode, L"jp") == 0 ? L"自動計測" : L"Auto measurement";
}

void CLfAmeasure::BuildMenus() {
    // The table window builds "File"; "Option" follows with its text made
    // each time the menu opens, so the check mark follows the option.
    const bool jp = language == L"jp";
    table.SetLanguage(language.c_str());
    lastMenu = table.menuBar.AddItem(jp ? L"オプション" : L"Option", nullptr, OptionMenuText, this);
    table.menuBar.callback = OnMenu;
    table.menuBar.data = this;
    tableEnglish = jp ? 0 : 1;
}

const wchar_t* CLfAmeasure::OptionMenuText(void* data, int32_t) {
    auto* f = static_cast<CLfAmeasure*>(data);
    const bool on = f->island.Get() != 0;
    const wchar_t* text = f->tableEnglish ? (on ? L"*Island\t201\n" : L" Island\t201\n")
                                          : (on ? L"✓島処理\t201\n" : L"\u3000島処理\t201\n");
    std::wcsncpy(f->optionText_, text, 63);
    return f->optionText_;
}

void CLfAmeasure::OnMenu(CFgUIMenuBar*, void* data, int32_t, int32_t id) { static_cast<CLfAmeasure*>(data)->OnCommand(id); }

void CLfAmeasure::OnCommand(int32_t id) {
    if (id == CCsvViewer::kSaveCsvId) {
        // The latest result is saved, as one table.
        SyncGrid();
        table.SaveCsvCommand();
        return;
    }
    if (id == kIslandCommand) {
        island.Set(island.Get() ? 0 : 1);
        if (enabled && owner) owner->Refilter(0);
    }
}

void CLfAmeasure::OnLang(const wchar_t* languageCode) {
    (void)languageCode;
    BuildMenus();
    if (visible == 1 && !hiddenByTab && table.window) CImgFilter::OnLang(languageCode);
}

void CLfAmeasure::ShowUi(int32_t show, CFgScreen* parentScreen) {
    if (!show) {
        if (!table.window) return;
        placeKnown = sizeKnown = 1;
        placeX = table.x;
        placeY = table.y;
        sizeW = table.width;
        sizeH = table.height;
        table.Destroy();
        return;
    }
    if (table.window) return;
    const int32_t px = placeKnown ? placeX : -1, py = placeKnown ? placeY : -1;
    const uint64_t w = sizeKnown && sizeW ? sizeW : 300, h = sizeKnown && sizeH ? sizeH : 200;
    if (!table.Create(px, py, w, h, GetName(language.c_str()), kFgStyleResizable, parentScreen)) return;
    table.Layout();
    table.EnableAll(enabled ? 1 : 0);
    SyncGrid();
    table.Redraw();
}

void CLfAmeasure::EnableUi(int32_t enable) { table.EnableAll(enable); }

void CLfAmeasure::EmptyGrid() {
    table.grid.Reset(0);
    table.grid.UpdateLayout();
}

void CLfAmeasure::OnEnable(int32_t on) {
    table.EnableAll(on);
    if (!on) {
        // The result stays until the next step; the grid shows nothing till then.
        {
            std::lock_guard<std::mutex> hold(lock_);
            shownGeneration_ = generation_;
        }
        EmptyGrid();
    }
    if (table.window) table.Redraw();
}

std::shared_ptr<const CLfAmeasure::Result> CLfAmeasure::Results() const {
    std::lock_guard<std::mutex> hold(lock_);
    return result_;
}

void CLfAmeasure::Publish(std::shared_ptr<const Result> result) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        result_ = std::move(result);
        ++generation_;
    }
    // Off the user-interface thread this posts a repaint, which resizes the grid.
    if (table.window) table.Redraw();
}

void CLfAmeasure::SyncGrid() {
    uint64_t count = 0;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (shownGeneration_ == generation_) return;
        shownGeneration_ = generation_;
        shown_ = result_;
        count = result_ ? result_->count : 0;
    }
    CFgUICell& g = table.grid;
    const bool hadColumns = g.columns > 0;
    const uint64_t column = std::max<uint64_t>(g.firstColumn, 1), row = std::max<uint64_t>(g.firstRow, 1);
    if (count < 1 || !g.SetSize(count + 1, kMeasures + 1, 0)) {
        EmptyGrid();
        return;
    }
    g.SetHeaderRows(1, 1, 0);
    // Every column as wide as its widest text: no number is cut.
    g.FitColumns();
    // The view keeps its place.
    if (hadColumns) g.ScrollToCell(std::min(column, count), row);
}

std::wstring CLfAmeasure::CellText(uint64_t column, uint64_t row, int32_t* alignment) const {
    return CellTextOf(Results().get(), column, row, alignment);
}

std::wstring CLfAmeasure::CellTextOf(const Result* r, uint64_t column, uint64_t row, int32_t* alignment) const {
    if (alignment) *alignment = column == 0 ? -1 : row == 0 ? 0 : 1;
    if (!r || column > r->count || row > static_cast<uint64_t>(kMeasures)) return L"";
    wchar_t text[257] = {};
    if (column == 0) {
        if (row == 0) {
            if (calibUnit[0]) std::swprintf(text, 257, tableEnglish ? L"unit:%ls" : L"単位:%ls", calibUnit);
            return text;
        }
        return Title(static_cast<int32_t>(row), tableEnglish != 0);
    }
    if (row == 0) {
        std::swprintf(text, 257, L"ID%lu", static_cast<unsigned long>(column));
        return text;
    }
    MeasureText(r->records[column - 1], static_cast<int32_t>(row), text, 257);
    return text;
}

const wchar_t* CLfAmeasure::CellCallback(uint64_t column, uint64_t row, int32_t* alignment, double*, double*, double*,
                                         void* data) {
    auto* f = static_cast<CLfAmeasure*>(data);
    const std::wstring text = f->CellTextOf(f->shown_.get(), column, row, alignment);
    std::wcsncpy(f->cell_, text.c_str(), 256);
    f->cell_[256] = 0;
    return f->cell_;
}

int32_t CLfAmeasure::OnFilter(CImgBuff* image, uint64_t, int64_t x, int64_t y, int64_t w, int64_t h,
                              uint32_t connect, uint32_t bg, uint32_t*, uint32_t*) {
    ImgRect region;
    if (!image || !image->buffer || !ImgFormatValid(image->buffer->format) ||
        !ClippedRegion(image, x, y, w, h, &region)) {
        Publish(nullptr);
        return 1;
    }
    IslandSettings s{image, bg ? 1u : 0u, connect, island.Get(), 0, calibScale, calibAxisY, nullptr, 0};
    auto measure = [&](IslandRecord* records, uint64_t room) {
        return ImgMeasureIslands(&s, nullptr, records, room, &region);
    };
    auto result = std::make_shared<Result>();
    // First into room for a quarter more islands than the last step found:
    // when they fit with room to spare, one pass has measured them all (a
    // full room may have left some out).
    const uint64_t last = lastIslands_.load();
    uint64_t room = std::max<uint64_t>(last + last / 4 + 1, kFirstRoom);
    result->records.reset(allocateRecords(room));
    int32_t measured = 0;
    uint64_t total = 0;
    if (result->records) {
        measured = measure(result->records.get(), room);
        if (measured < 1) {
            lastIslands_ = 0;
            Publish(nullptr);
            return 1;
        }
        if (static_cast<uint64_t>(measured) < room) total = static_cast<uint64_t>(measured);
    }
    if (!total) {
        const int32_t n = measure(nullptr, 0);
        if (n < 1) {
            lastIslands_ = 0;
            Publish(nullptr);
            return 1;
        }
        total = static_cast<uint64_t>(n);
    }
    lastIslands_ = total;
    if (!result->records || total > room) {
        // Measured again into room for all of them, or, when memory runs
        // short, into the largest power of two below the one at or above
        // the count that can be had.
        result->records.reset();
        room = total;
        result->records.reset(allocateRecords(room));
        if (!result->records) {
            uint64_t p = 1;
            while (p < room) p <<= 1;
            for (room = p / 2; room > 0 && !result->records; room /= 2) {
                result->records.reset(allocateRecords(room));
                if (result->records) break;
            }
            if (!result->records) {
                Publish(nullptr);
                return 1;
            }
        }
        measured = measure(result->records.get(), room);
        if (measured < 1) {
            Publish(nullptr);
            return 1;
        }
    } else if (total * 2 < room) {
        // Far fewer than the room: the table keeps only what it shows.
        std::unique_ptr<IslandRecord[]> exact(allocateRecords(total));
        if (exact) {
            std::copy(result->records.get(), result->records.get() + total, exact.get());
            result->records = std::move(exact);
        }
    }
    result->count = std::min<uint64_t>(static_cast<uint64_t>(measured), room);
    Publish(std::move(result));
    return 1;
}

void CLfAmeasure::OnOverlayView(OverlayToGlFn toGlX, OverlayToGlFn toGlY, CFgScreen*, CFgFont* font, int32_t dx0,
                                int32_t dy0, int32_t dx1, int32_t dy1, int32_t ix0, int32_t iy0, int32_t ix1,
                                int32_t iy1, int32_t zoom) {
    std::shared_ptr<const Result> r = Results();
    if (!r || !toGlX || !toGlY) return;
    double fx, fy;
    if (zoom >= 1) {
        fx = fy = zoom;
    } else if (zoom <= -2) {
        fx = fy = 1.0 / -zoom;
    } else {
        fx = static_cast<double>(dx1 - dx0 + 1) / (ix1 - ix0 + 1);
        fy = static_cast<double>(dy1 - dy0 + 1) / (iy1 - iy0 + 1);
    }
    glColor3d(guideRed, guideGreen, guideBlue);
    for (uint64_t k = 0; k < r->count; ++k) {
        const IslandRecord& rec = r->records[k];
        auto place = [](double c, int32_t i0, double f, int32_t d0) {
            double p = std::trunc((std::trunc(c) - i0) * f);
            if (f >= 2) p += std::trunc(f / 2);
            p += d0;
            return static_cast<int32_t>(std::clamp(p, -1e9, 1e9));
        };
        const int32_t px = place(rec.weightedX, ix0, fx, dx0), py = place(rec.weightedY, iy0, fy, dy0);
        glBegin(GL_LINES);
        glVertex2d(toGlX(px), toGlY(py - 3));
        glVertex2d(toGlX(px), toGlY(py + 4));
        glVertex2d(toGlX(px - 3), toGlY(py));
        glVertex2d(toGlX(px + 4), toGlY(py));
        glEnd();
        if (font) {
            wchar_t text[32];
            std::swprintf(text, 32, L"ID:%lu", static_cast<unsigned long>(k + 1));
            font->DrawText(px + 3, py + 3, text);
        }
    }
}

void CLfAmeasure::SaveConfig(CCfgPack* pack) {
    CImgFilter::SaveConfig(pack);
    settings.Save(pack);
}

void CLfAmeasure::LoadConfig(CCfgPack* pack) {
    CImgFilter::LoadConfig(pack);
    settings.Load(pack);
    if (table.window) table.Redraw();
}

void CAmeasureTable::DrawBackground() {
    if (filter) filter->SyncGrid();
    CCsvViewer::DrawBackground();
}

int32_t CAmeasureTable::QueryClose() {
    // The close box hides the window; the filter stays in the chain.
    if (!filter || !filter->visible) return 0;
    filter->visible = 0;
    filter->uiParent = nullptr;
    filter->ShowUi(0, nullptr);
    if (filter->owner) filter->owner->OnFilterUiClosed();
    return 0;
}
