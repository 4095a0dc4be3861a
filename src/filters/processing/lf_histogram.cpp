#include "filters/processing/lf_histogram.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "filters/core/cfgfile.h"
#include "filters/core/filterctrl.h"
#include "filters/processing/small_filter.h"
#include "platform/plat_messages.h"
#include "toolkit/fg_draw.h"
#include "toolkit/fg_screen.h"

CImgFilter* CreateLfHistogram() { return new (std::nothrow) CLfHistogram; }

namespace {

std::shared_ptr<ImgLevelTable> LevelTable(uint64_t min, uint64_t max) {
    ImgLevelTable* t = ImgLevelTableCreate(static_cast<uint16_t>(min * 256), static_cast<uint16_t>(max * 256 + 255));
    if (!t) return nullptr;
    return std::shared_ptr<ImgLevelTable>(t, [](ImgLevelTable* p) { ImgLevelTableFree(p); });
}

}  // namespace

CLfHistogram::CLfHistogram() : record_(new (std::nothrow) HistogramRecord) {
    rangeBar.orientation = kFgBarHorizontal;
    rangeBar.minimum = 0;
    rangeBar.maximum = 255;
    rangeBar.low = 0;
    rangeBar.high = 255;
    rangeBar.data = this;
    rangeBar.callback = [](CFgUIRangeBar*, void* data, int32_t lo, int32_t hi) {
        static_cast<CLfHistogram*>(data)->RangeChanged(lo, hi);
    };
    viewBar.orientation = kFgBarHorizontal;
    viewBar.minimum = 1;
    viewBar.maximum = 10000;
    viewBar.page = 1;
    viewBar.position = 10000;
    viewBar.data = this;
    viewBar.callback = [](CFgUIScrollBar*, void* data, int32_t v) { static_cast<CLfHistogram*>(data)->ViewChanged(v); };
    graph.Create(256, 100, 1, 1, 0, nullptr);
    AttachControls();
}

CLfHistogram::~CLfHistogram() {
    // The panel goes before the texture it draws.
    shownWindow_ = 0;
    Destroy();
}

PanelSpec CLfHistogram::Panel() {
    const int32_t w = kGraphX1 - kGraphX0 + 21, h = kGraphY1 - kGraphY0 + 68;
    return {L"Histogram", L"ヒストグラム", w, h, w, h,
            {
                {&rangeBar, 2, kGraphY1 - kGraphY0 + 13, 272, 20, nullptr, nullptr},
                {&viewBar, 2, kGraphY1 - kGraphY0 + 38, 272, 20, nullptr, nullptr},
            }};
}

void CLfHistogram::ShowUi(int32_t show, CFgScreen* parentScreen) {
    // The step stops posting to the window before it goes.
    if (!show) shownWindow_ = 0;
    CDialogFilterBase::ShowUi(show, parentScreen);
    if (!PanelShown()) {
        shownWindow_ = 0;
        return;
    }
    if (show) {
        graph.AttachToScreen(this);
        shownWindow_ = window;
        RedrawGraph();
    }
}

void CLfHistogram::OnEnable(int32_t) { RedrawGraph(); }

uint64_t CLfHistogram::Min() {
    CriticalSectionLock own(lock_);
    return min_;
}
uint64_t CLfHistogram::Max() {
    CriticalSectionLock own(lock_);
    return max_;
}
uint64_t CLfHistogram::View() {
    CriticalSectionLock own(lock_);
    return view_;
}
HistogramRecord CLfHistogram::Record() {
    CriticalSectionLock own(lock_);
    return record_ ? *record_ : HistogramRecord{};
}

void CLfHistogram::RangeChanged(int32_t lo, int32_t hi) {
    if (lo < 0 || hi > 255 || lo > hi) return;
    {
        CriticalSectionLock gl(g_GlLock);
        CriticalSectionLock own(lock_);
        if (static_cast<uint64_t>(lo) == min_ && static_cast<uint64_t>(hi) == max_) return;
        min_ = static_cast<uint64_t>(lo);
        max_ = static_cast<uint64_t>(hi);
        table_ = LevelTable(min_, max_);
    }
    rangeBar.low = lo;
    rangeBar.high = hi;
    if (FilterOn() && Chain())
        Chain()->Refilter(1);
    else
        RedrawGraph();
}

void CLfHistogram::ViewChanged(int32_t view) {
    if (view < 1 || view > 10000) return;
    {
        CriticalSectionLock gl(g_GlLock);
        CriticalSectionLock own(lock_);
        if (static_cast<uint64_t>(view) == view_) return;
        view_ = static_cast<uint64_t>(view);
    }
    viewBar.position = view;
    RedrawGraph();
}

int32_t CLfHistogram::DrawGraph(const HistogramRecord& record, uint64_t min, uint64_t max, uint64_t view,
                                bool enabled, CImgBuff* out) {
    const bool colour = record.kind == 1;
    if (!out || !out->buffer || !out->buffer->Create(256, 100, colour ? kImgRgb8 : kImgGray8)) return 0;
    C_ImgBuff& b = *out->buffer;
    std::memset(b.pixels, 0, static_cast<size_t>(256 * 100 * b.BytesPerPixel()));
    const uint64_t scale = std::max<uint64_t>(1, record.maximum * view / 10000);
    const int channels = colour ? 3 : 1;
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < 256; ++i) {
            const uint64_t h = std::min<uint64_t>(record.counts[c][i] * 100 / scale, 99);
            const uint8_t v = static_cast<uint64_t>(i) >= min && static_cast<uint64_t>(i) <= max ? 255 : 127;
            for (uint64_t k = 0; k < h; ++k) {
                uint8_t* p = b.PixelAt(i, 99 - static_cast<int32_t>(k));
                if (!colour) {
                    *p = v;
                } else if (c == 0) {
                    p[0] = v;
                    p[1] = p[2] = 0;
                } else {
                    p[c] = v;
                }
            }
        }
    if (!enabled) {
        const int32_t bytes = b.BytesPerPixel();
        for (int32_t i = 0; i < 256 * 100; ++i) {
            uint8_t* p = b.pixels + static_cast<size_t>(i) * static_cast<size_t>(bytes);
            const uint32_t grey = colour ? ImgGrayWeighted(p[0], p[1], p[2]) : p[0];
            if (grey == 0) std::memset(p, 64, static_cast<size_t>(bytes));
        }
    }
    return 1;
}

void CLfHistogram::Count(CImgBuff* image, const ImgRect& region, HistogramRecord* record) {
    *record = HistogramRecord{};
    const int32_t format = image->buffer->format;
    uint64_t largest = 0;
    auto maxOf = [](const uint64_t* counts) { return *std::max_element(counts + 1, counts + 255); };
    if (format <= kImgGray32) {
        record->kind = 0;
        if (ImgHistogram(image, 1, record->counts[0], &largest, &region)) record->maximum = maxOf(record->counts[0]);
        return;
    }
    record->kind = 1;
    for (int c = 0; c < 3; ++c) {
        ImgHistogram(image, 2 + c, record->counts[c], &largest, &region);
        record->maximum = std::max(record->maximum, maxOf(record->counts[c]));
    }
}

void CLfHistogram::RedrawGraph() {
    graphStale_ = 1;
    if (PanelShown()) CFgUICtrl::Redraw();
}

void CLfHistogram::DrawGraphTexture() {
    // Cleared before the counts are read: counts stored after that mark the
    // graph stale again for the paint their step posts.
    if (!graphStale_.exchange(0)) return;
    CriticalSectionLock gl(g_GlLock);
    CriticalSectionLock own(lock_);
    if (!record_) return;
    CImgBuff image;
    if (DrawGraph(*record_, min_, max_, view_, FilterOn(), &image)) graph.SetFromImage(&image, 1);
}

void CLfHistogram::PostUiWork() {
    // The step does no window work: the user-interface thread repaints and
    // carries out a picked range when this redraw arrives (a window gone by
    // then takes no message).
    if (const uint32_t shown = shownWindow_) PlatPostRedraw(shown);
}

int32_t CLfHistogram::OnFilter(CImgBuff* image, uint64_t, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t,
                               uint32_t, uint32_t*, uint32_t*) {
    bool haveRecord;
    uint64_t min, max;
    std::shared_ptr<ImgLevelTable> table;
    {
        CriticalSectionLock own(lock_);
        haveRecord = record_ != nullptr;
        min = min_;
        max = max_;
        table = table_;
    }
    if (!haveRecord) {
        PostUiWork();
        return 1;
    }
    HistogramRecord counted;  // an image of no valid format counts nothing: a black graph
    bool pick = false;
    int32_t lowest = -1, highest = -1;
    if (image && image->buffer && ImgFormatValid(image->buffer->format)) {
        const ImgRect region = RegionRect(x, y, w, h);
        Count(image, region, &counted);
        pick = autoRange_.exchange(0) != 0;
        if (pick) {
            for (int i = 0; i < 256; ++i) {
                const bool used =
                    counted.counts[0][i] || (counted.kind == 1 && (counted.counts[1][i] || counted.counts[2][i]));
                if (!used) continue;
                if (lowest < 0) lowest = i;
                highest = i;
            }
            if (lowest < 0) lowest = highest = 0;
        } else if (!(min == 0 && max == 255)) {
            switch (image->buffer->format) {
                case kImgGray32:
                case kImgRgb32:
                case kImgXyz:
                    ImgLevelStretch(image, static_cast<uint16_t>(min * 256), static_cast<uint16_t>(max * 256 + 255),
                                    &region);
                    break;
                default:
                    if (table) ImgLevelTableApply(image, table.get(), &region);
                    break;
            }
        }
    }
    {
        CriticalSectionLock own(lock_);
        *record_ = counted;
        if (pick) {
            picked_ = true;
            pickedLo_ = lowest;
            pickedHi_ = highest;
        }
    }
    // Marked after the counts are stored: the panel's next paint draws the
    // graph from them (a hidden panel draws it when shown).
    graphStale_ = 1;
    PostUiWork();
    return 1;
}

void CLfHistogram::Redraw() {
    if (DeferRedraw()) return;
    bool picked;
    int32_t lo, hi;
    {
        CriticalSectionLock own(lock_);
        picked = picked_;
        lo = pickedLo_;
        hi = pickedHi_;
        picked_ = false;
    }
    if (picked && lo <= hi && lo >= rangeBar.minimum && hi <= rangeBar.maximum) {
        // Moves the bar and runs its callback (unless it is inside it).
        rangeBar.Notify(lo, hi);
    }
    CFgUIDialog::Redraw();
}

void CLfHistogram::OnLButtonDown(int32_t px, int32_t py) {
    if (px < kGraphX0 || px > kGraphX1 || py < kGraphY0 || py > kGraphY1) {
        RouteLButtonDown(px, py);
        return;
    }
    if (Min() == 0 && Max() == 255) {
        if (!FilterOn()) return;
        autoRange_ = 1;
        if (Chain()) Chain()->Refilter(1);
        return;
    }
    if (rangeBar.minimum == 0 && rangeBar.maximum == 255) {
        rangeBar.Notify(0, 255);
        if (PanelShown()) CFgUICtrl::Redraw();
    }
}

void CLfHistogram::DrawOverlay() {
    DrawGraphTexture();
    static const double black[3] = {0, 0, 0};
    FgFillRect(this, kGraphX0 - 1, kGraphY0 - 1, kGraphX1 + 1, kGraphY1 + 1, black);
    graph.DrawRegion(kGraphX0, kGraphY0, 256, 100, 0, 0, 256, 100);
}

void CLfHistogram::SaveConfig(CCfgPack* pack) {
    CDialogFilterBase::SaveConfig(pack);
    if (!pack) return;
    const uint64_t values[3] = {Min(), Max(), View()};
    const wchar_t* keys[3] = {L"min", L"max", L"view"};
    for (int i = 0; i < 3; ++i) {
        wchar_t text[32];
        std::swprintf(text, 32, L"%lu", static_cast<unsigned long>(values[i]));
        pack->AddItem(keys[i], text);
    }
}

void CLfHistogram::LoadConfig(CCfgPack* pack) {
    CDialogFilterBase::LoadConfig(pack);
    if (!pack) return;
    const wchar_t* minText = CfgFindValue(pack, L"min");
    const wchar_t* maxText = CfgFindValue(pack, L"max");
    if (minText && maxText) {
        const int32_t lo = SettingTextToInt32(minText), hi = SettingTextToInt32(maxText);
        if (lo >= 0 && lo <= hi && hi <= 255) {
            CriticalSectionLock gl(g_GlLock);
            CriticalSectionLock own(lock_);
            min_ = static_cast<uint64_t>(lo);
            max_ = static_cast<uint64_t>(hi);
            table_ = LevelTable(min_, max_);
            rangeBar.low = lo;
            rangeBar.high = hi;
        }
    }
    if (const wchar_t* viewText = CfgFindValue(pack, L"view")) {
        const int32_t v = SettingTextToInt32(viewText);
        if (v >= 1 && v <= 10000) {
            {
                CriticalSectionLock gl(g_GlLock);
                CriticalSectionLock own(lock_);
                view_ = static_cast<uint64_t>(v);
            }
            viewBar.position = v;
        }
    }
    RedrawGraph();
}
