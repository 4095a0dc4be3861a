#include "filters/processing/lf_freq_mask.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>
#include <vector>

#include "filters/core/cfgfile.h"
#include "filters/processing/spectrum_records.h"
#include "image/pool.h"

CImgFilter* CreateLfFreqMask() { return new (std::nothrow) CLfFreqMask; }

CLfFreqMask::CLfFreqMask() {
    AddSpectrumUser();
    reversBox.callback = OnBox;
    reversBox.data = this;
    range.orientation = kFgBarHorizontal;
    range.minimum = 0;
    range.maximum = 179;
    range.low = band_.low;
    range.high = band_.high;
    range.callback = OnRange;
    range.data = this;
    AttachControls();
}

CLfFreqMask::~CLfFreqMask() { ReleaseSpectrumUser(); }

CLfFreqMask::Band CLfFreqMask::Get() const {
    std::lock_guard<std::mutex> hold(lock_);
    return band_;
}

void CLfFreqMask::Set(const Band& band) {
    std::lock_guard<std::mutex> hold(lock_);
    band_ = band;
}

PanelSpec CLfFreqMask::Panel() {
    return {L"Frequency mask", L"周波数マスク", 216, 70, 216, 70,
            {
                {&reversBox, 10, 10, 196, 20, L"revers", L"反転"},
                {&range, 10, 40, 197, 20, nullptr, nullptr},
            }};
}

void CLfFreqMask::ControlsChanged() {
    Set({reversBox.checked ? 1u : 0u, range.low, range.high});
    if (PanelShown()) CFgUICtrl::Redraw();
    // While the bar is dragged every step refilters and waits.
    Rerun(0);
}

void CLfFreqMask::OnBox(CFgUIChkButton*, void* data) { static_cast<CLfFreqMask*>(data)->ControlsChanged(); }
void CLfFreqMask::OnRange(CFgUIRangeBar*, void* data, int32_t, int32_t) {
    static_cast<CLfFreqMask*>(data)->ControlsChanged();
}

void CLfFreqMask::SaveConfig(CCfgPack* pack) {
    CDialogFilterBase::SaveConfig(pack);
    if (!pack) return;
    const Band b = Get();
    wchar_t text[16];
    std::swprintf(text, 16, L"%d", b.low);
    pack->AddItem(L"range_min", text);
    std::swprintf(text, 16, L"%d", b.high);
    pack->AddItem(L"range_max", text);
    pack->AddItem(L"revers", b.revers ? L"1" : L"0");
}

void CLfFreqMask::LoadConfig(CCfgPack* pack) {
    CDialogFilterBase::LoadConfig(pack);
    if (!pack) return;
    Band b = Get();
    if (const wchar_t* text = CfgFindValue(pack, L"revers")) {
        b.revers = std::wcscmp(text, L"0") != 0 ? 1 : 0;
        reversBox.checked = b.revers;
        Set(b);
    }
    const wchar_t* lowText = CfgFindValue(pack, L"range_min");
    const wchar_t* highText = CfgFindValue(pack, L"range_max");
    if (lowText && highText) {
        const int32_t low = SettingTextToInt32(lowText), high = SettingTextToInt32(highText);
        if (0 <= low && low <= high && high <= 179) {
            // The bar reports the new span once, which refilters.
            range.Notify(low, high);
        }
    }
    if (PanelShown()) CFgUICtrl::Redraw();
}

namespace {

struct MaskJob {
    ImgFftState* state;
    CImgBuff* picture;
    CLfFreqMask::Band band;
    uint64_t n;
    uint64_t offsetX, offsetY;  // of the picture in the plane
    int32_t planes;
    double centre, ringsPerUnit;
};

void MaskRows(void* ctx, uint64_t first, uint64_t count) {
    auto* job = static_cast<MaskJob*>(ctx);
    const uint64_t n = job->n;
    C_ImgBuff* pic = job->picture->buffer;
    const int32_t bpp = pic->BytesPerPixel();
    const bool cmyk = pic->format == kImgCmyk8;
    for (uint64_t y = first; y < first + count; ++y) {
        const double dy = static_cast<double>(y) - job->centre;
        const bool pictureRow = y >= job->offsetY && y - job->offsetY < static_cast<uint64_t>(pic->height);
        for (uint64_t x = 0; x < n; ++x) {
            const double dx = static_cast<double>(x) - job->centre;
            const auto ring = static_cast<int32_t>(std::sqrt(dy * dy + dx * dx) * job->ringsPerUnit + 0.5);
            const bool inBand = job->band.low <= ring && ring <= job->band.high;
            if (inBand == (job->band.revers != 0)) continue;
            for (int32_t p = 0; p < job->planes; ++p) job->state->array[p][n * y + x] = {0.0, 0.0};
            if (pictureRow && x >= job->offsetX && x - job->offsetX < static_cast<uint64_t>(pic->width)) {
                const auto px = static_cast<int32_t>(x - job->offsetX), py = static_cast<int32_t>(y - job->offsetY);
                // Zero bytes are white in CMYK: black through the RGB setter.
                if (cmyk)
                    pic->SetPixelRgb8(px, py, 0, 0, 0);
                else
                    std::memset(pic->PixelAt(px, py), 0, static_cast<size_t>(bpp));
            }
        }
    }
}

}  // namespace

int32_t CLfFreqMask::MaskSpectrum(SpectrumRecord* record, CImgBuff* picture, const Band& band) {
    ImgFftState& st = record->state;
    if (st.transformWidth < 2 || !st.array[0] || picture->buffer->width != st.width ||
        picture->buffer->height != st.height)
        return 0;
    const auto n = static_cast<uint64_t>(st.transformWidth);
    MaskJob job{};
    job.state = &st;
    job.picture = picture;
    job.band = band;
    job.n = n;
    job.offsetX = (n - static_cast<uint64_t>(st.width)) / 2;
    job.offsetY = (static_cast<uint64_t>(st.transformHeight) - static_cast<uint64_t>(st.height)) / 2;
    job.planes = st.array[1] && st.array[2] ? 3 : 1;
    job.centre = (static_cast<double>(n) - 1) / 2;
    job.ringsPerUnit = 179.0 / std::sqrt(2 * job.centre * job.centre);
    return PoolParallelFor(MaskRows, &job, static_cast<uint64_t>(st.transformHeight));
}

int32_t CLfFreqMask::OnFilter(CImgBuff* image, uint64_t, int64_t, int64_t, int64_t, int64_t, uint32_t, uint32_t,
                              uint32_t*, uint32_t*) {
    SpectrumRecord record;
    if (!PopSpectrum(&record)) return 1;
    CImgBuff picture;
    if (!image->ExtractRect(&picture, record.x0, record.y0, record.x1, record.y1) ||
        !MaskSpectrum(&record, &picture, Get()) || !PushSpectrum(record)) {
        ImgFftReset(&record.state);
        return 1;
    }
    image->PasteImage(&picture, static_cast<uint32_t>(record.x0), static_cast<uint32_t>(record.y0));
    return 1;
}
