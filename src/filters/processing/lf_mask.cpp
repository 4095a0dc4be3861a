#include "filters/processing/lf_mask.h"

#include <algorithm>
#include <cwchar>
#include <new>
#include <utility>

#include "filters/core/cfgfile.h"
#include "filters/processing/region_clip.h"
#include "image/kernels/kernel_frame.h"
#include "media/codec.h"
#include "toolkit/fg_file_select.h"
#include "toolkit/fg_msgbox.h"

CImgFilter* CreateLfMask() { return new (std::nothrow) CLfMask; }

CLfMask::CLfMask() {
    previewBox.callback = OnPreviewBox;
    outsideBox.callback = OnOutsideBox;
    loadButton.callback = OnLoadButton;
    previewBox.data = outsideBox.data = loadButton.data = this;
    ShowSettings();
    AttachControls();
}

PanelSpec CLfMask::Panel() {
    const int32_t wide = Japanese() ? 130 : 150;
    return {L"Mask", L"背景除去/マスク", 170, 110, 150, 110,
            {
                {&previewBox, 10, 10, 90, 20, L"preview", L"画像確認"},
                {&outsideBox, 10, 40, wide, 20, L"mask out of range", L"範囲外をマスク"},
                {&loadButton, 10, 70, wide, 30, L"image load", L"画像ロード"},
            }};
}

bool CLfMask::HasMask() const {
    std::lock_guard<std::mutex> hold(maskLock_);
    return mask_.buffer && mask_.buffer->format != 0 && mask_.buffer->pixels;
}

std::wstring CLfMask::MaskPath() const {
    std::lock_guard<std::mutex> hold(maskLock_);
    return path_;
}

void CLfMask::ApplyRules() { previewBox.enabled = HasMask() ? 1 : 0; }

void CLfMask::ShowSettings() {
    previewBox.checked = preview.Get();
    outsideBox.checked = outsideFull.Get();
}

bool CLfMask::LoadMask(const wchar_t* path) {
    if (!path || !path[0]) return false;
    CImgBuff scratch;
    if (!scratch.buffer) return false;
    codec_file* file = codec_file_open(path, nullptr, nullptr);
    if (!file) return false;
    const int32_t read = scratch.ReadFrame(file, 0);
    codec_file_close(file);
    if (!read || !scratch.buffer->pixels || scratch.buffer->format == 0) return false;
    std::wstring newPath;
    Plane plane;
    try {
        newPath = path;
        if (!MakePlane(*scratch.buffer, &plane)) return false;
    } catch (...) {
        return false;
    }
    std::lock_guard<std::mutex> hold(maskLock_);
    std::swap(mask_.buffer, scratch.buffer);
    std::swap(plane_, plane);
    path_.swap(newPath);
    return true;
}

bool CLfMask::MakePlane(const C_ImgBuff& mask, Plane* plane) {
    if (mask.width <= 0 || mask.height <= 0 || !mask.pixels) return false;
    const uint64_t samples = uint64_t(mask.width) * uint64_t(mask.height) * 3;
    plane->width = mask.width;
    plane->height = mask.height;
    plane->p16.resize(samples);
    for (int32_t y = 0; y < mask.height; ++y)
        ImgReadRgb16Span(mask, 0, y, mask.width, plane->p16.data() + uint64_t(y) * mask.width * 3);
    plane->eight = true;
    for (uint16_t v : plane->p16)
        if (v % 257 != 0) {
            plane->eight = false;
            break;
        }
    if (plane->eight) {
        plane->p8.resize(samples);
        for (uint64_t i = 0; i < samples; ++i) plane->p8[i] = static_cast<uint8_t>(plane->p16[i] / 257);
        std::vector<uint16_t>().swap(plane->p16);
    }
    return true;
}

namespace {

inline uint32_t Less(uint32_t a, uint32_t b) { return a > b ? a - b : 0; }

// Subtraction (or, with `show`, the mask itself) over n pixels of an image
// row, in the arithmetic of the 16-bit RGB accessors: samples widened to 16
// bits, the difference narrowed back; grey is the weighted grey of the three
// differences. `m` holds three samples a pixel, 8-bit values (widened by
// 257) or 16-bit ones.
template <class M>
void MaskCovered(uint8_t* row, int32_t format, int32_t n, const M* m, bool show) {
    constexpr uint32_t kWiden = sizeof(M) == 1 ? 257u : 1u;
    switch (format) {
        case kImgRgb8:
            if (sizeof(M) == 1) {  // (a * 257 - b * 257) >> 8 is a - b
                if (show)
                    for (int32_t s = 0; s < 3 * n; ++s) row[s] = uint8_t(m[s]);
                else
                    for (int32_t s = 0; s < 3 * n; ++s) row[s] = row[s] > m[s] ? uint8_t(row[s] - m[s]) : 0;
            } else {
                for (int32_t s = 0; s < 3 * n; ++s) row[s] = uint8_t((show ? m[s] : Less(row[s] * 257u, m[s])) >> 8);
            }
            return;
        case kImgRgb16: {
            uint16_t* p = reinterpret_cast<uint16_t*>(row);
            for (int32_t s = 0; s < 3 * n; ++s) p[s] = uint16_t(show ? m[s] * kWiden : Less(p[s], m[s] * kWiden));
            return;
        }
        case kImgGray8:
            for (int32_t i = 0; i < n; ++i) {
                const uint32_t v = row[i] * 257u, r = m[3 * i] * kWiden, g = m[3 * i + 1] * kWiden,
                               b = m[3 * i + 2] * kWiden;
                row[i] = uint8_t((show ? ImgGrayWeighted32(r, g, b) : ImgGrayWeighted32(Less(v, r), Less(v, g), Less(v, b))) >> 8);
            }
            return;
        default: {  // kImgGray16
            uint16_t* p = reinterpret_cast<uint16_t*>(row);
            for (int32_t i = 0; i < n; ++i) {
                const uint32_t v = p[i], r = m[3 * i] * kWiden, g = m[3 * i + 1] * kWiden, b = m[3 * i + 2] * kWiden;
                p[i] = uint16_t(show ? ImgGrayWeighted32(r, g, b) : ImgGrayWeighted32(Less(v, r), Less(v, g), Less(v, b)));
            }
            return;
        }
    }
}

// Pixels the mask does not cover take the outside level, 0 or 65535 on all
// three channels: its grey is itself, so subtracting it leaves the pixel or
// clears it.
void MaskOutside(uint8_t* row, int32_t format, int32_t n, uint16_t outside, bool show) {
    if (!show && outside == 0) return;
    const uint16_t level = show ? outside : 0;
    const uint64_t samples = uint64_t(n) * (format == kImgRgb8 || format == kImgRgb16 ? 3 : 1);
    if (format == kImgRgb8 || format == kImgGray8)
        std::fill(row, row + samples, uint8_t(level >> 8));
    else
        std::fill(reinterpret_cast<uint16_t*>(row), reinterpret_cast<uint16_t*>(row) + samples, level);
}

}  // namespace

void CLfMask::ShowLoadFailed() {
    const bool jp = Japanese();
    FgMessageBox(jp ? L"ロードできませんでした" : L"loading failed", jp ? L"エラー" : L"error", 1,
                 PanelShown() ? this : nullptr);
}

void CLfMask::SaveConfig(CCfgPack* pack) {
    CDialogFilterBase::SaveConfig(pack);
    if (HasMask()) pack->AddItem(L"path", MaskPath().c_str());
}

void CLfMask::LoadConfig(CCfgPack* pack) {
    const CCfgItem* pathItem = nullptr;
    for (const CCfgItem* i = pack->firstItem; i && !pathItem; i = i->next)
        if (i->key && std::wcscmp(i->key, L"path") == 0) pathItem = i;
    if (pathItem && !LoadMask(pathItem->value)) {
        ShowLoadFailed();
        // The panel opens so the user can choose another mask.
        for (CCfgItem* i = pack->firstItem; i; i = i->next)
            if (i->key && std::wcscmp(i->key, L"if_visible") == 0) {
                i->Set(nullptr, L"1");
                break;
            }
    }
    CDialogFilterBase::LoadConfig(pack);
}

void CLfMask::OnPreviewBox(CFgUIChkButton* box, void* data) {
    auto* f = static_cast<CLfMask*>(data);
    f->preview.Set(box->checked ? 1 : 0);
    f->Rerun(0);
}

void CLfMask::OnOutsideBox(CFgUIChkButton* box, void* data) {
    auto* f = static_cast<CLfMask*>(data);
    f->outsideFull.Set(box->checked ? 1 : 0);
    f->Rerun(0);
}

void CLfMask::OnLoadButton(CFgUIButton*, void* data) {
    auto* f = static_cast<CLfMask*>(data);
    const bool jp = f->Japanese();
    FgSelectFileOptions options;
    options.title = jp ? L"マスク画像を選択" : L"select mask image";
    wchar_t path[kFgPathMax + 1] = {};
    if (!FgSelectFile(path, kFgPathMax + 1, &options, f) || !path[0]) return;
    if (!f->LoadMask(path)) {
        f->ShowLoadFailed();
        return;
    }
    if (!f->preview.Get()) {
        f->preview.Set(1);
        f->previewBox.checked = 1;
    }
    f->ApplyRules();
    if (f->PanelShown()) f->CFgUICtrl::Redraw();
    f->Rerun(0);
}

int32_t CLfMask::OnFilter(CImgBuff* image, uint64_t, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t, uint32_t,
                          uint32_t*, uint32_t*) {
    ImgRect r;
    if (!ClippedRegion(image, x, y, w, h, &r) || !image->buffer->format) return 1;
    const bool show = preview.Get() != 0;
    const uint16_t outside = outsideFull.Get() ? 65535 : 0;
    std::lock_guard<std::mutex> hold(maskLock_);
    const C_ImgBuff* mask = mask_.buffer && mask_.buffer->pixels && mask_.buffer->format ? mask_.buffer : nullptr;
    C_ImgBuff* img = image->buffer;
    const int32_t format = img->format;
    if (format == kImgRgb8 || format == kImgRgb16 || format == kImgGray8 || format == kImgGray16) {
        // Plain samples on both sides; the mask's top-left corner sits on
        // the image's, unscaled.
        const Plane& plane = plane_;
        const int32_t width = r.x1 - r.x0 + 1;
        const uint64_t pixelBytes = uint64_t(ImgFormatBytes(format));
        ImgForEachRegionRow(r, [&](int32_t py) {
            uint8_t* row = img->PixelAt(r.x0, py);
            int32_t covered = 0;
            if (mask && py < plane.height && r.x0 < plane.width) {
                covered = std::min(width, plane.width - r.x0);
                const uint64_t at = (uint64_t(py) * plane.width + r.x0) * 3;
                if (plane.eight)
                    MaskCovered(row, format, covered, plane.p8.data() + at, show);
                else
                    MaskCovered(row, format, covered, plane.p16.data() + at, show);
            }
            MaskOutside(row + covered * pixelBytes, format, width - covered, outside, show);
        });
        return 1;
    }
    // Other formats through the accessors.
    ImgForEachRegionRow(r, [&](int32_t py) {
        const bool maskRow = mask && py < mask->height;
        for (int32_t px = r.x0; px <= r.x1; ++px) {
            uint16_t mr = outside, mg = outside, mb = outside;
            if (maskRow && px < mask->width) mask->GetPixelRgb16(px, py, &mr, &mg, &mb);
            if (show) {
                img->SetPixelRgb16(px, py, mr, mg, mb);
                continue;
            }
            uint16_t ir = 0, ig = 0, ib = 0;
            if (!img->GetPixelRgb16(px, py, &ir, &ig, &ib)) ir = ig = ib = 0;
            img->SetPixelRgb16(px, py, ir > mr ? ir - mr : 0, ig > mg ? ig - mg : 0, ib > mb ? ib - mb : 0);
        }
    });
    return 1;
}
