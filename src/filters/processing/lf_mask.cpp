#include "filters/processing/lf_mask.h"

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
    try {
        newPath = path;
    } catch (...) {
        return false;
    }
    std::lock_guard<std::mutex> hold(maskLock_);
    std::swap(mask_.buffer, scratch.buffer);
    path_.swap(newPath);
    return true;
}

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
    // Rows of the clipped region over the pool; the mask's top-left corner
    // sits on the image's, unscaled.
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
