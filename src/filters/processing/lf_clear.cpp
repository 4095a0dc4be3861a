#include "filters/processing/lf_clear.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>

#include "filters/core/cfgfile.h"
#include "filters/processing/small_filter.h"
#include "image/kernels/kernel_frame.h"

CImgFilter* CreateLfClear() { return new (std::nothrow) CLfClear; }

CLfClear::CLfClear() {
    setRadio.AddToGroup(&adjustRadio);
    for (CFgUIChkButton* radio : {&setRadio, &adjustRadio}) {
        radio->data = this;
        radio->callback = [](CFgUIChkButton* button, void* data) {
            auto* f = static_cast<CLfClear*>(data);
            const int32_t index = (button->leader ? button->leader : button)->GetGroupSelection();
            if (index != 0 && index != 1) return;
            f->mode.Set(static_cast<uint32_t>(index));
            f->Rerun(1);
        };
    }
    levelBar.orientation = kFgBarHorizontal;
    levelBar.minimum = 0;
    levelBar.maximum = 255;
    levelBar.page = 1;
    levelBar.data = this;
    levelBar.callback = [](CFgUIScrollBar*, void* data, int32_t position) {
        static_cast<CLfClear*>(data)->LevelChanged(position);
    };
    minButton.callback = [](CFgUIButton*, void* d) { static_cast<CLfClear*>(d)->levelBar.Notify(0); };
    centerButton.callback = [](CFgUIButton*, void* d) { static_cast<CLfClear*>(d)->levelBar.Notify(128); };
    maxButton.callback = [](CFgUIButton*, void* d) { static_cast<CLfClear*>(d)->levelBar.Notify(255); };
    for (CFgUIButton* b : {&minButton, &centerButton, &maxButton}) b->data = this;
    ShowSettings();
    AttachControls();
}

PanelSpec CLfClear::Panel() {
    return {L"Pixel value adjustment", L"画素値調整", 272, 92, 272, 92,
            {
                {&setRadio, 8, 8, 80, 20, L"setting", L"設定"},
                {&adjustRadio, 96, 8, Japanese() ? 80 : 100, 20, L"adjustment", L"調整"},
                {&minButton, 8, 36, 80, 20, L"min", L"最小"},
                {&centerButton, 96, 36, 80, 20, L"center", L"中央"},
                {&maxButton, 184, 36, 80, 20, L"max", L"最大"},
                {&levelBar, 8, 64, 256, 20, nullptr, nullptr},
            }};
}

void CLfClear::ShowSettings() {
    setRadio.SelectInGroup(mode.Get() == kModeSet ? 0 : 1, 0);
    levelBar.position = static_cast<int32_t>(level.Get());
}

void CLfClear::LevelChanged(int32_t position) {
    if (position < 0 || position > 255) return;
    level.Set(static_cast<uint32_t>(position));
    levelBar.position = position;
    if (PanelShown()) CFgUICtrl::Redraw();
    Rerun(1);
}

void CLfClear::LoadConfig(CCfgPack* pack) {
    CDialogFilterBase::LoadConfig(pack);
    if (!pack) return;
    // Any saved mode other than exactly "0" means adjustment.
    if (const wchar_t* text = CfgFindValue(pack, L"mode")) mode.Set(std::wcscmp(text, L"0") == 0 ? kModeSet : kModeAdjust);
    ShowSettings();
    // An accepted level acts as a move of the bar (which reruns).
    if (const wchar_t* text = CfgFindValue(pack, L"sel")) {
        const int32_t v = SettingTextToInt32(text);
        if (v >= 0 && v <= 255) LevelChanged(v);
    }
    if (PanelShown()) CFgUICtrl::Redraw();
}

int32_t CLfClear::OnFilter(CImgBuff* image, uint64_t, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t, uint32_t,
                           uint32_t*, uint32_t*) {
    const ImgRect r = RegionRect(x, y, w, h);
    return LfClearApply(image, &r, mode.Get(), level.Get());
}

namespace {

struct ClearJob {
    C_ImgBuff* image;
    int32_t x0, x1;
    uint32_t level;
    uint8_t table8[256];  // the 8-bit shift, clamped
    int64_t offset16, offset32;
};

void AdjustRow(const ClearJob& job, int32_t y) {
    C_ImgBuff& b = *job.image;
    const uint8_t* t = job.table8;
    const int32_t n = job.x1 - job.x0 + 1;
    switch (b.format) {
        case kImgGray8:
        case kImgRgb8: {
            uint8_t* p = b.PixelAt(job.x0, y);
            const int64_t samples = static_cast<int64_t>(n) * (b.format == kImgGray8 ? 1 : 3);
            // The table's clamped shift as saturating arithmetic, written in
            // the forms the compiler turns into vector saturating adds and
            // subtractions.
            const int32_t shift = static_cast<int32_t>(job.level) - 128;
            if (shift >= 0) {
                const auto s = static_cast<uint8_t>(shift);
                for (int64_t i = 0; i < samples; ++i) {
                    const auto v = static_cast<uint8_t>(p[i] + s);
                    p[i] = v < p[i] ? uint8_t(255) : v;
                }
            } else {
                const auto s = static_cast<uint8_t>(-shift);
                for (int64_t i = 0; i < samples; ++i) p[i] = p[i] >= s ? static_cast<uint8_t>(p[i] - s) : uint8_t(0);
            }
            (void)t;
            return;
        }
        case kImgGray16:
        case kImgRgb16: {
            auto* p = reinterpret_cast<uint16_t*>(b.PixelAt(job.x0, y));
            const int64_t samples = static_cast<int64_t>(n) * (b.format == kImgGray16 ? 1 : 3);
            const int32_t off = static_cast<int32_t>(job.offset16);
            for (int64_t i = 0; i < samples; ++i) p[i] = static_cast<uint16_t>(std::clamp(p[i] + off, 0, 65535));
            return;
        }
        case kImgGray32:
        case kImgRgb32: {
            auto* p = reinterpret_cast<uint32_t*>(b.PixelAt(job.x0, y));
            const int64_t samples = static_cast<int64_t>(n) * (b.format == kImgGray32 ? 1 : 3);
            for (int64_t i = 0; i < samples; ++i)
                p[i] = static_cast<uint32_t>(std::clamp<int64_t>(p[i] + job.offset32, 0, 4294967295));
            return;
        }
        case kImgCmyk8:
            for (int32_t x = job.x0; x <= job.x1; ++x) {
                uint8_t r, g, bl;
                b.GetPixelRgb8(x, y, &r, &g, &bl);
                b.SetPixelRgb8(x, y, t[r], t[g], t[bl]);
            }
            return;
        case kImgHsv16:
            for (int32_t x = job.x0; x <= job.x1; ++x) {
                uint16_t c[3];
                b.GetPixelRgb16(x, y, &c[0], &c[1], &c[2]);
                for (uint16_t& v : c) v = static_cast<uint16_t>(std::clamp<int64_t>(v + job.offset16, 0, 65535));
                b.SetPixelRgb16(x, y, c[0], c[1], c[2]);
            }
            return;
        default:  // XYZ, through the 32-bit RGB accessors
            for (int32_t x = job.x0; x <= job.x1; ++x) {
                uint32_t c[3];
                b.GetPixelRgb32(x, y, &c[0], &c[1], &c[2]);
                for (uint32_t& v : c)
                    v = static_cast<uint32_t>(std::clamp<int64_t>(v + job.offset32, 0, 4294967295));
                b.SetPixelRgb32(x, y, c[0], c[1], c[2]);
            }
            return;
    }
}

void SetRow(const ClearJob& job, int32_t y) {
    C_ImgBuff& b = *job.image;
    const auto bytes = static_cast<size_t>(b.BytesPerPixel());
    const size_t n = static_cast<size_t>(job.x1 - job.x0 + 1);
    uint8_t* p = b.PixelAt(job.x0, y);
    if (b.format <= kImgRgb32) {
        // Every byte becomes the level byte.
        std::memset(p, static_cast<int>(job.level), n * bytes);
        return;
    }
    // XYZ, HSV and CMYK: the grey setter's pixel, written once and copied
    // along the row (it is the same for every pixel).
    b.SetPixelGray8(job.x0, y, static_cast<uint8_t>(job.level));
    for (size_t i = 1; i < n; ++i) std::memcpy(p + i * bytes, p, bytes);
}

}  // namespace

int32_t LfClearApply(CImgBuff* image, const ImgRect* region, uint32_t mode, uint32_t level) {
    if (!image || !image->buffer || !ImgFormatValid(image->buffer->format) || level > 255) return 0;
    ImgRect r;
    if (!ImgGetRoi(&r, image, region)) return 0;
    if (mode != CLfClear::kModeSet && level == 128) return 1;
    ClearJob job;
    job.image = image->buffer;
    job.x0 = r.x0;
    job.x1 = r.x1;
    job.level = level;
    for (int v = 0; v < 256; ++v) job.table8[v] = static_cast<uint8_t>(std::clamp<int>(v + static_cast<int>(level) - 128, 0, 255));
    job.offset16 = static_cast<int64_t>(level) * 257 - 32896;
    job.offset32 = static_cast<int64_t>(level) * 16843009 - 2155905152LL;
    if (mode == CLfClear::kModeSet)
        ImgForEachRegionRow(r, [&](int32_t y) { SetRow(job, y); });
    else
        ImgForEachRegionRow(r, [&](int32_t y) { AdjustRow(job, y); });
    return 1;
}
