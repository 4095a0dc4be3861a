#include "filters/processing/lf_extract.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>

#include "filters/core/cfgfile.h"
#include "filters/processing/panel_rules.h"
#include "filters/processing/region_clip.h"
#include "image/kernels/hsv_range.h"
#include "image/kernels/kernel_frame.h"
#include "platform/plat_window.h"

CImgFilter* CreateLfExtract() { return new (std::nothrow) CLfExtract; }

namespace {

bool ColourFormat(int32_t format) { return format >= kImgRgb8 && format <= kImgCmyk8; }

// "%u,%u" with low <= high < 65536.
bool ParsePair(const wchar_t* text, uint16_t* low, uint16_t* high) {
    const wchar_t* comma = std::wcschr(text, L',');
    if (!comma) return false;
    const std::wstring first(text, comma);
    const uint32_t a = SettingTextToUInt32(first.c_str()), b = SettingTextToUInt32(comma + 1);
    if (a > b || b >= 65536) return false;
    *low = static_cast<uint16_t>(a);
    *high = static_cast<uint16_t>(b);
    return true;
}

}  // namespace

CLfExtract::CLfExtract() {
    for (CFgUIScrollBar* bar : {&hueBar, &widthBar}) {
        bar->orientation = kFgBarHorizontal;
        bar->minimum = 0;
        bar->page = 1;
        bar->step = 256;
        bar->callback = OnHueBar;
        bar->data = this;
    }
    hueBar.maximum = 65535;
    widthBar.maximum = 32768;
    for (CFgUIRangeBar* bar : {&satBar, &valBar}) {
        bar->orientation = kFgBarHorizontal;
        bar->minimum = 0;
        bar->maximum = 65535;
        bar->step = 256;
        bar->callback = OnRangeBar;
        bar->data = this;
    }
    for (CFgUIChkButton* box : {&reverseBox, &fillBox, &grayBox, &previewBox}) {
        box->callback = OnBox;
        box->data = this;
    }
    for (CFgUIChkButton* box : {&pickSetBox, &pickAddBox}) {
        box->callback = OnPickBox;
        box->data = this;
    }
    ShowSettings();
    AttachControls();
}

PanelSpec CLfExtract::Panel() {
    const bool jp = Japanese();
    const int32_t labelW = jp ? 60 : 80, barX = jp ? 75 : 95, barW = jp ? 294 : 274;
    return {L"Extraction", L"抽出", 380, 190, 380, 190,
            {
                {&hueLabel, 10, 10, labelW, 20, L"hue", L"色相"},
                {&widthLabel, 10, 35, labelW, 20, L"tolerance", L"許容範囲"},
                {&satLabel, 10, 60, labelW, 20, L"saturation", L"彩度"},
                {&valLabel, 10, 85, labelW, 20, L"bright", L"輝度"},
                {&hueBar, barX, 10, barW, 20, nullptr, nullptr},
                {&widthBar, barX, 35, barW, 20, nullptr, nullptr},
                {&satBar, barX, 60, barW, 20, nullptr, nullptr},
                {&valBar, barX, 85, barW, 20, nullptr, nullptr},
                {&reverseBox, 10, 115, 120, 20, L"reverse", L"反転"},
                {&fillBox, 10, 140, 120, 20, L"fill", L"塗りつぶす"},
                {&grayBox, 10, 165, 200, 20, L"grayscale", L"グレースケールとして処理"},
                {&pickSetBox, 245, 115, 130, 20, L"pickup and set", L"マウスで色選択"},
                {&pickAddBox, 245, 140, 130, 20, L"pickup and add", L"マウスで色追加"},
                {&previewBox, 245, 165, 130, 20, L"preview", L"プレビュー"},
            }};
}

void CLfExtract::ApplyRules() {
    const bool on = gray.Get() == 0;
    SetControlEnabled(this, &hueBar, on);
    SetControlEnabled(this, &widthBar, on);
    SetControlEnabled(this, &satBar, on);
}

void CLfExtract::ShowSettings() {
    reverseBox.checked = reverse.Get();
    fillBox.checked = fill.Get();
    grayBox.checked = gray.Get();
    ShowRanges();
}

void CLfExtract::ShowRanges() {
    ExtractRanges r;
    uint32_t mode;
    {
        CriticalSectionLock own(lock_);
        r = ranges_;
        mode = pickMode_;
        pickedDue_ = false;
    }
    // Each bar only shows a value it can hold (a pair only when ordered).
    if (r.hueCentre >= hueBar.minimum && r.hueCentre <= hueBar.maximum) hueBar.position = r.hueCentre;
    if (r.hueWidth >= widthBar.minimum && r.hueWidth <= widthBar.maximum) widthBar.position = r.hueWidth;
    if (r.satLow <= r.satHigh) {
        satBar.low = r.satLow;
        satBar.high = r.satHigh;
    }
    if (r.valLow <= r.valHigh) {
        valBar.low = r.valLow;
        valBar.high = r.valHigh;
    }
    pickSetBox.checked = mode == 1 ? 1 : 0;
    pickAddBox.checked = mode == 2 ? 1 : 0;
}

ExtractRanges CLfExtract::Ranges() const {
    CriticalSectionLock own(lock_);
    return ranges_;
}

uint32_t CLfExtract::PickMode() const {
    CriticalSectionLock own(lock_);
    return pickMode_;
}

size_t CLfExtract::PickHistorySize() const {
    CriticalSectionLock own(lock_);
    return history_.size();
}

void CLfExtract::SetRanges(const ExtractRanges& r) {
    {
        CriticalSectionLock own(lock_);
        ranges_ = r;
    }
    ShowRanges();
    Rerun(1);
    if (PanelShown()) CFgUICtrl::Redraw();
}

void CLfExtract::EndPick() {
    {
        CriticalSectionLock own(lock_);
        if (pickMode_ == 0) return;
        pickMode_ = 0;
        history_.clear();
        history_.shrink_to_fit();
    }
    pickSetBox.checked = pickAddBox.checked = 0;
    if (PanelShown()) CFgUICtrl::Redraw();
}

void CLfExtract::OnHueBar(CFgUIScrollBar* bar, void* data, int32_t position) {
    auto* f = static_cast<CLfExtract*>(data);
    {
        CriticalSectionLock own(f->lock_);
        if (bar == &f->hueBar) f->ranges_.hueCentre = static_cast<uint16_t>(std::clamp(position, 0, 65535));
        if (bar == &f->widthBar) f->ranges_.hueWidth = static_cast<uint16_t>(std::clamp(position, 0, 32768));
    }
    f->Rerun(1);
    f->EndPick();
}

void CLfExtract::OnRangeBar(CFgUIRangeBar* bar, void* data, int32_t low, int32_t high) {
    auto* f = static_cast<CLfExtract*>(data);
    if (low < 0 || high > 65535 || low > high) return;
    {
        CriticalSectionLock own(f->lock_);
        uint16_t* pair = bar == &f->satBar ? &f->ranges_.satLow : &f->ranges_.valLow;
        pair[0] = static_cast<uint16_t>(low);
        pair[1] = static_cast<uint16_t>(high);
    }
    f->Rerun(1);
    f->EndPick();
}

void CLfExtract::OnBox(CFgUIChkButton* box, void* data) {
    auto* f = static_cast<CLfExtract*>(data);
    const uint32_t on = box->checked ? 1 : 0;
    if (box == &f->reverseBox) f->reverse.Set(on);
    if (box == &f->fillBox) f->fill.Set(on);
    if (box == &f->grayBox) f->gray.Set(on);
    if (box == &f->previewBox) f->preview_.store(on);
    f->Rerun(0);
    if (box == &f->grayBox) f->ApplyRules();
    if (f->PanelShown()) f->CFgUICtrl::Redraw();
}

void CLfExtract::OnPickBox(CFgUIChkButton* box, void* data) {
    auto* f = static_cast<CLfExtract*>(data);
    if (!box->checked) {
        {
            CriticalSectionLock own(f->lock_);
            f->pickMode_ = 0;
            f->history_.clear();
            f->history_.shrink_to_fit();
        }
        if (f->PanelShown()) f->CFgUICtrl::Redraw();
        return;
    }
    if (box == &f->pickSetBox) {
        {
            CriticalSectionLock own(f->lock_);
            f->pickMode_ = 1;
            f->history_.push_back(f->ranges_);
        }
        f->pickAddBox.checked = 0;
        f->SetRanges(ExtractRanges{});
        return;
    }
    {
        CriticalSectionLock own(f->lock_);
        f->pickMode_ = 2;
    }
    f->pickSetBox.checked = 0;
    f->Rerun(0);
    if (f->PanelShown()) f->CFgUICtrl::Redraw();
}

void CLfExtract::OnLButtonDown(int64_t x, int64_t y, uint32_t) {
    {
        CriticalSectionLock own(lock_);
        if (pickMode_ == 0) return;
        pickX_ = x;
        pickY_ = y;
        pickRequest_ = true;
    }
    Rerun(0);
}

void CLfExtract::OnRButtonDown(int64_t, int64_t, uint32_t) {
    ExtractRanges last;
    {
        CriticalSectionLock own(lock_);
        if (pickMode_ == 0 || history_.empty()) return;
        last = history_.back();
        history_.pop_back();
        if (history_.empty()) history_.shrink_to_fit();
    }
    SetRanges(last);
}

void CLfExtract::UpdateGuide() {
    const auto byte = [](double c) -> uint32_t { return c >= 0 && c <= 1 ? static_cast<uint32_t>(c * 255) : c > 1 ? 255 : 0; };
    guide_.store(byte(guideRed) << 16 | byte(guideGreen) << 8 | byte(guideBlue));
}

void CLfExtract::OnGuideColor(double, double, double) {
    UpdateGuide();
    if (preview_.load()) Rerun(0);
}

void CLfExtract::ShowUi(int32_t show, CFgScreen* parentScreen) {
    UpdateGuide();
    CDialogFilterBase::ShowUi(show, parentScreen);
}

void CLfExtract::Redraw() {
    if (DeferRedraw()) return;
    bool due;
    {
        CriticalSectionLock own(lock_);
        due = pickedDue_;
    }
    if (due) ShowRanges();
    CFgUIDialog::Redraw();
}

void CLfExtract::PickLocked(const CImgBuff* image) {
    pickRequest_ = false;
    if (!image || !image->buffer || !image->buffer->pixels || !ImgFormatValid(image->buffer->format)) return;
    const C_ImgBuff& b = *image->buffer;
    const int64_t px = pickX_, py = pickY_;
    ImgRect square{static_cast<int32_t>(std::clamp<int64_t>(px - 2, INT32_MIN, INT32_MAX)),
                   static_cast<int32_t>(std::clamp<int64_t>(py - 2, INT32_MIN, INT32_MAX)),
                   static_cast<int32_t>(std::clamp<int64_t>(px + 2, INT32_MIN, INT32_MAX)),
                   static_cast<int32_t>(std::clamp<int64_t>(py + 2, INT32_MIN, INT32_MAX))};
    const bool any = ImgClipRect(&square, image) != 0;
    history_.push_back(ranges_);
    const bool colour = ColourFormat(b.format);
    ExtractRanges r = ranges_;
    if (pickMode_ == 1 && px >= 0 && py >= 0 && px < b.width && py < b.height) {
        uint16_t h, s, v;
        b.GetPixelHsv16(static_cast<int32_t>(px), static_cast<int32_t>(py), &h, &s, &v);
        if (colour) {
            r.hueCentre = h;
            r.hueWidth = 0;
            r.satLow = r.satHigh = s;
        }
        r.valLow = r.valHigh = v;
    }
    if (any)
        for (int32_t y = square.y0; y <= square.y1; ++y)
            for (int32_t x = square.x0; x <= square.x1; ++x) {
                uint16_t h, s, v;
                b.GetPixelHsv16(x, y, &h, &s, &v);
                if (colour) {
                    ImgHueRangeAdd(r.hueCentre, r.hueWidth, h, &r.hueCentre, &r.hueWidth);
                    r.satLow = std::min(r.satLow, s);
                    r.satHigh = std::max(r.satHigh, s);
                }
                r.valLow = std::min(r.valLow, v);
                r.valHigh = std::max(r.valHigh, v);
            }
    ranges_ = r;
    if (pickMode_ == 1) pickMode_ = 2;
    pickedDue_ = true;
}

void CLfExtract::Extract(CImgBuff* image, const ImgRect& r, const ExtractRanges& ranges, uint32_t reverseFlag,
                         uint32_t grey, uint32_t fillFlag, uint32_t background) {
    const int32_t format = image->buffer->format;
    const bool colour = ColourFormat(format);
    // The kernels' flags: their "grey" is the two-level output (fill here),
    // their "fill" the removed pixels' level (the background here).
    if (!grey && colour) {
        ImgExtractHsvRange(image, ranges.hueCentre, ranges.hueWidth, ranges.satLow, ranges.satHigh, ranges.valLow,
                           ranges.valHigh, reverseFlag, fillFlag, background, &r);
    } else if (ranges.valLow <= ranges.valHigh) {
        ImgExtractBrightnessRange(image, ranges.valLow, ranges.valHigh, reverseFlag, fillFlag, background, &r);
    }
    // A filled extraction of the whole picture is a two-level grey image.
    if (colour && fillFlag && r.x0 == 0 && r.y0 == 0 && r.x1 == image->buffer->width - 1 &&
        r.y1 == image->buffer->height - 1)
        image->buffer->ConvertFormat(format == kImgRgb8 || format == kImgCmyk8 ? kImgGray8 : kImgGray16);
}

namespace {

// Tints of the even and the odd cells, and a span's bytes of them per row
// parity: spans start on a cell boundary and hold an even number of cells,
// so one pattern per parity serves them all.
struct HatchTints {
    uint8_t tint[2][3];
    uint8_t pattern[2][3 * kImgSpanPixels];
};
static_assert(kImgSpanPixels % 8 == 0, "spans hold whole pairs of cells");

void MakeTints(uint32_t guide, HatchTints* h) {
    const uint8_t channel[3] = {static_cast<uint8_t>(guide >> 16), static_cast<uint8_t>(guide >> 8),
                                static_cast<uint8_t>(guide)};
    const bool flagged = channel[0] || channel[1] || channel[2];
    for (int c = 0; c < 3; ++c) {
        h->tint[0][c] = flagged ? (channel[c] ? 192 : 0) : 127;
        h->tint[1][c] = flagged ? (channel[c] ? 64 : 0) : 0;
    }
    for (int parity = 0; parity < 2; ++parity)
        for (int32_t i = 0; i < kImgSpanPixels; ++i)
            for (int c = 0; c < 3; ++c) h->pattern[parity][3 * i + c] = h->tint[((i >> 2) + parity) & 1][c];
}

// 8-bit RGB bytes under a mask of the same layout whose bytes are 0x00
// (removed: averaged with the pattern) or 0xFF (kept), without branches.
KV_KERNEL_CLONES void HatchTwoLevelRgb8(uint8_t* p, const uint8_t* m, const uint8_t* pat, int32_t bytes) {
    for (int32_t s = 0; s < bytes; ++s) {
        const uint8_t blended = static_cast<uint8_t>((p[s] + pat[s]) >> 1);
        p[s] = static_cast<uint8_t>((p[s] & m[s]) | (blended & ~m[s]));
    }
}

// The hatch of one row of the rectangle: `width` pixels from (x0, y) under
// row my of the mask m (from its column 0); cy is the row's cell row.
// `twoLevel`: m is the extraction's mask in the image's format, so an RGB8
// mask holds 0x00 or 0xFF in all three bytes of a pixel.
void HatchRow(C_ImgBuff& b, int32_t x0, int32_t y, int32_t width, const C_ImgBuff& m, int32_t my, int32_t cy,
              const HatchTints& h, bool twoLevel) {
    if (b.format == kImgRgb8 && m.format == kImgRgb8) {
        const uint8_t* pat = h.pattern[cy & 1];
        const uint8_t* lv = m.PixelAt(0, my);
        uint8_t* row = b.PixelAt(x0, y);
        for (int32_t s0 = 0; s0 < width; s0 += kImgSpanPixels) {
            const int32_t n = std::min(kImgSpanPixels, width - s0);
            if (twoLevel) {
                HatchTwoLevelRgb8(row + 3 * s0, lv + 3 * s0, pat, 3 * n);
                continue;
            }
            // The picture as its own mask (refused ranges): its weighted
            // grey is 0 below 500 / 1000.
            uint8_t sel[3 * kImgSpanPixels];
            for (int32_t k = 0; k < n; ++k) {
                const uint8_t* q = lv + 3 * (s0 + k);
                const bool removed = 299u * q[0] + 587u * q[1] + 114u * q[2] < 500u;
                sel[3 * k] = sel[3 * k + 1] = sel[3 * k + 2] = removed ? 0xFF : 0;
            }
            uint8_t* p = row + 3 * s0;
            for (int32_t s = 0; s < 3 * n; ++s)
                p[s] = static_cast<uint8_t>((p[s] & ~sel[s]) | (((p[s] + pat[s]) >> 1) & sel[s]));
        }
        return;
    }
    uint8_t levels[kImgSpanPixels];
    for (int32_t s0 = 0; s0 < width; s0 += kImgSpanPixels) {
        const int32_t n = std::min(kImgSpanPixels, width - s0);
        ImgReadGray8Span(m, s0, my, n, levels);
        for (int32_t k = 0; k < n; ++k) {
            if (levels[k]) continue;
            const int32_t dx = s0 + k;
            const uint8_t* t = h.tint[(dx / 4 + cy) & 1];
            const int32_t x = x0 + dx;
            uint8_t pr, pg, pb;
            b.GetPixelRgb8(x, y, &pr, &pg, &pb);
            b.SetPixelRgb8(x, y, static_cast<uint8_t>((pr + t[0]) / 2), static_cast<uint8_t>((pg + t[1]) / 2),
                           static_cast<uint8_t>((pb + t[2]) / 2));
        }
    }
}

// Bytes of a band's copy: small enough to stay in cache between its copy,
// its extraction and its hatch.
constexpr int64_t kBandBytes = 64 * 1024;

}  // namespace

bool CLfExtract::Preview(CImgBuff* image, const ImgRect& r, const ExtractRanges& q, uint32_t reverseFlag, uint32_t grey,
                         uint32_t guide) {
    C_ImgBuff& b = *image->buffer;
    const int32_t format = b.format;
    const int32_t width = r.x1 - r.x0 + 1;
    // The row worker that Extract's kernel would run, as a two-level mask
    // (removed black, kept white); none for ranges the kernel refuses.
    HsvRangeJob job{nullptr, q.hueCentre, q.hueWidth, q.satLow, q.satHigh, q.valLow, q.valHigh, reverseFlag, 0, 1, 0, 0,
                    width - 1, 0};
    PoolWorkerFn worker = nullptr;
    if (!grey) {
        if (q.hueWidth <= 32768 && q.satLow <= q.satHigh && q.valLow <= q.valHigh) worker = ImgExtractHsvRows;
    } else if (q.valLow <= q.valHigh) {
        worker = ImgFormatIn(ImgFormat8BitMask, format) ? ImgExtractBrightnessGray8Rows : ImgExtractBrightnessGray16Rows;
    }
    HatchTints tints;
    MakeTints(guide, &tints);
    // Each band of rows is copied, extracted and hatched while it is in
    // cache, on the pool; bands never overlap, so the copies see the
    // picture before its hatch.
    const uint64_t rowBytes = static_cast<uint64_t>(width) * static_cast<uint64_t>(b.BytesPerPixel());
    const uint64_t bandRows = std::max<uint64_t>(1, static_cast<uint64_t>(kBandBytes) / rowBytes);
    std::atomic<bool> failed{false};
    auto chunk = [&](uint64_t first, uint64_t count) {
        const int32_t rows = static_cast<int32_t>(std::min(count, bandRows));
        CImgBuff band;
        if (!band.buffer || !band.buffer->Create(width, rows, format)) {
            failed.store(true);
            return;
        }
        HsvRangeJob own = job;
        own.image = &band;
        for (uint64_t i = first; i < first + count; i += static_cast<uint64_t>(rows)) {
            const int32_t n = static_cast<int32_t>(std::min<uint64_t>(static_cast<uint64_t>(rows), first + count - i));
            const int32_t y0 = r.y0 + static_cast<int32_t>(i);
            for (int32_t k = 0; k < n; ++k) std::memcpy(band.buffer->PixelAt(0, k), b.PixelAt(r.x0, y0 + k), rowBytes);
            if (worker) {
                own.y1 = n - 1;
                worker(&own, 0, static_cast<uint64_t>(n));
            }
            for (int32_t k = 0; k < n; ++k)
                HatchRow(b, r.x0, y0 + k, width, *band.buffer, k, (y0 + k - r.y0) / 4, tints, worker != nullptr);
        }
    };
    PoolParallelRun(static_cast<uint64_t>(r.y1 - r.y0 + 1), chunk);
    return !failed.load();
}

int32_t CLfExtract::OnFilter(CImgBuff* image, uint64_t, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t,
                             uint32_t bg, uint32_t*, uint32_t*) {
    if (!image || !image->buffer || !image->buffer->pixels || !ImgFormatValid(image->buffer->format)) return 1;
    ExtractRanges ranges;
    bool picked = false;
    {
        CriticalSectionLock own(lock_);
        if (pickRequest_) {
            PickLocked(image);
            picked = pickedDue_;
        }
        ranges = ranges_;
    }
    // The controls follow on the user-interface thread (a posted redraw
    // when this runs on the chain worker).
    if (picked) {
        if (PlatIsUiThread())
            ShowRanges();
        else
            CFgUICtrl::Redraw();
    }
    ImgRect r;
    if (!preview_.load()) {
        if (ClippedRegion(image, x, y, w, h, &r)) Extract(image, r, ranges, reverse.Get(), gray.Get(), fill.Get(), bg);
        return 1;
    }
    // The preview: the result shown over the picture (in colour), removed
    // pixels hatched.
    const int32_t format = image->buffer->format;
    if (format <= kImgGray32 && !image->buffer->ConvertFormat(format + 3)) return 0;
    if (!ClippedRegion(image, x, y, w, h, &r)) return 1;
    return Preview(image, r, ranges, reverse.Get(), gray.Get(), guide_.load()) ? 1 : 0;
}

void CLfExtract::SaveConfig(CCfgPack* pack) {
    CDialogFilterBase::SaveConfig(pack);
    if (!pack) return;
    const ExtractRanges r = Ranges();
    wchar_t text[32];
    std::swprintf(text, 32, L"%u", static_cast<unsigned>(r.hueCentre));
    pack->AddItem(L"hc", text);
    std::swprintf(text, 32, L"%u", static_cast<unsigned>(r.hueWidth));
    pack->AddItem(L"hw", text);
    std::swprintf(text, 32, L"%u,%u", static_cast<unsigned>(r.satLow), static_cast<unsigned>(r.satHigh));
    pack->AddItem(L"s", text);
    std::swprintf(text, 32, L"%u,%u", static_cast<unsigned>(r.valLow), static_cast<unsigned>(r.valHigh));
    pack->AddItem(L"v", text);
}

void CLfExtract::LoadConfig(CCfgPack* pack) {
    CDialogFilterBase::LoadConfig(pack);
    if (!pack) return;
    {
        CriticalSectionLock own(lock_);
        if (const wchar_t* t = CfgFindValue(pack, L"hc")) {
            const uint32_t v = SettingTextToUInt32(t);
            if (v < 65536) ranges_.hueCentre = static_cast<uint16_t>(v);
        }
        if (const wchar_t* t = CfgFindValue(pack, L"hw")) {
            const uint32_t v = SettingTextToUInt32(t);
            if (v <= 32768) ranges_.hueWidth = static_cast<uint16_t>(v);
        }
        if (const wchar_t* t = CfgFindValue(pack, L"s")) ParsePair(t, &ranges_.satLow, &ranges_.satHigh);
        if (const wchar_t* t = CfgFindValue(pack, L"v")) ParsePair(t, &ranges_.valLow, &ranges_.valHigh);
    }
    ShowRanges();
    ApplyRules();
    if (PanelShown()) CFgUICtrl::Redraw();
}
