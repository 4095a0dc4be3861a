#include "filters/processing/lf_bg_erase.h"

#include <cwchar>
#include <new>
#include <utility>

#include "filters/processing/region_clip.h"
#include "image/kernels/background_subtract.h"
#include "image/kernels/kernel_frame.h"
#include "media/frame_output.h"
#include "toolkit/fg_file_select.h"
#include "toolkit/fg_msgbox.h"

CImgFilter* CreateLfBgErase() { return new (std::nothrow) CLfBgErase; }

namespace {
constexpr uint64_t kTileSides[7] = {1, 2, 4, 8, 16, 32, 64};
}

CLfBgErase::CLfBgErase() {
    subtraction.AddToGroup(&extraction);
    subtraction.callback = extraction.callback = OnRadio;
    previewBox.callback = outsideBox.callback = OnBox;
    subtraction.data = extraction.data = previewBox.data = outsideBox.data = this;
    for (CFgUIScrollBar* bar : {&levelBar, &tileBar}) {
        bar->orientation = kFgBarHorizontal;
        bar->callback = OnBar;
        bar->data = this;
        bar->page = 1;
    }
    levelBar.minimum = 2;
    levelBar.maximum = 20;
    tileBar.minimum = 0;
    tileBar.maximum = 6;
    pathEdit.focusLost = OnPathCommit;
    pathEdit.data = this;
    selectButton.callback = OnSelect;
    selectButton.data = this;
    ShowSettings();
    AttachControls();
}

PanelSpec CLfBgErase::Panel() {
    if (Japanese())
        return {L"Background removal", L"背景除去/マスク", 352, 144, 304, 144,
                {
                    {&pathLabel, 8, 8, 56, 20, L"image path", L"画像パス"},
                    {&pathEdit, 8, 28, 232, 20, nullptr, nullptr},
                    {&selectButton, 248, 28, 48, 20, L"SEL", L"選択"},
                    {&subtraction, 8, 52, 96, 20, L"background subtraction", L"背景減算"},
                    {&extraction, 8, 72, 96, 20, L"object extraction", L"物体抽出"},
                    {&levelLabel, 8, 92, 72, 20, L"extraction level", L"抽出レベル"},
                    {&levelBar, 104, 92, 192, 20, nullptr, nullptr},
                    {&tileLabel, 8, 116, 80, 20, L"tile size", L"タイルサイズ"},
                    {&tileBar, 104, 116, 192, 20, nullptr, nullptr},
                    {&previewBox, 112, 52, 96, 20, L"preview", L"画像確認"},
                    {&outsideBox, 112, 72, 128, 20, L"mask out of range", L"範囲外をマスク"},
                }};
    return {L"Background removal", L"背景除去/マスク", 352, 144, 304, 144,
            {
                {&pathLabel, 8, 8, 68, 20, L"image path", L"画像パス"},
                {&pathEdit, 8, 28, 280, 20, nullptr, nullptr},
                {&selectButton, 296, 28, 48, 20, L"SEL", L"選択"},
                {&subtraction, 8, 52, 180, 20, L"background subtraction", L"背景減算"},
                {&extraction, 8, 72, 180, 20, L"object extraction", L"物体抽出"},
                {&levelLabel, 8, 92, 112, 20, L"extraction level", L"抽出レベル"},
                {&levelBar, 128, 92, 216, 20, nullptr, nullptr},
                {&tileLabel, 8, 116, 64, 20, L"tile size", L"タイルサイズ"},
                {&tileBar, 128, 116, 216, 20, nullptr, nullptr},
                {&previewBox, 196, 52, 180, 20, L"preview", L"画像確認"},
                {&outsideBox, 196, 72, 180, 20, L"mask out of range", L"範囲外をマスク"},
            }};
}

void CLfBgErase::ApplyRules() {
    const uint32_t on = eraseType.Get() == 1 ? 1 : 0;
    levelLabel.enabled = levelBar.enabled = tileLabel.enabled = tileBar.enabled = on;
    for (CFgUIObj* c : {static_cast<CFgUIObj*>(&levelBar), static_cast<CFgUIObj*>(&tileBar)})
        if (!c->enabled && focused == c) FocusNext();
}

void CLfBgErase::ShowSettings() {
    subtraction.SelectInGroup(static_cast<int32_t>(eraseType.Get()), 0);
    levelBar.position = extractLevel.Get();
    tileBar.position = tileSize.Get();
    previewBox.checked = preview.load();
    outsideBox.checked = outsideMasked.Get();
}

bool CLfBgErase::HasBackground() const {
    std::lock_guard<std::mutex> hold(backgroundLock_);
    return background_.buffer && background_.buffer->pixels && background_.buffer->format;
}

bool CLfBgErase::LoadBackground(const wchar_t* path, bool tell) {
    CImgBuff scratch;
    const bool loaded = scratch.buffer && path && path[0] && LoadImageFile(&scratch, path, nullptr, nullptr) &&
                        scratch.buffer->pixels && scratch.buffer->format;
    if (loaded) {
        std::lock_guard<std::mutex> hold(backgroundLock_);
        std::swap(background_.buffer, scratch.buffer);
    } else if (tell) {
        const bool jp = Japanese();
        FgMessageBox(jp ? L"ロードできませんでした" : L"loading failed", jp ? L"エラー" : L"error", 1,
                     PanelShown() ? this : nullptr);
    }
    return loaded;
}

void CLfBgErase::OnRadio(CFgUIChkButton* button, void* data) {
    auto* f = static_cast<CLfBgErase*>(data);
    const int32_t index = (button->leader ? button->leader : button)->GetGroupSelection();
    if (index != 0 && index != 1) return;
    f->eraseType.Set(static_cast<uint32_t>(index));
    f->ApplyRules();
    if (f->PanelShown()) f->CFgUICtrl::Redraw();
    f->Rerun(0);
}

void CLfBgErase::OnBox(CFgUIChkButton* box, void* data) {
    auto* f = static_cast<CLfBgErase*>(data);
    if (box == &f->previewBox) f->preview = box->checked ? 1 : 0;
    if (box == &f->outsideBox) f->outsideMasked.Set(box->checked ? 1 : 0);
    f->Rerun(0);
}

void CLfBgErase::OnBar(CFgUIScrollBar* bar, void* data, int32_t position) {
    auto* f = static_cast<CLfBgErase*>(data);
    if (bar == &f->levelBar) f->extractLevel.Set(position);
    if (bar == &f->tileBar) f->tileSize.Set(position);
    if (f->eraseType.Get() == 1) f->Rerun(1);
}

void CLfBgErase::OnPathCommit(CFgUIEdit* edit, void* data) {
    auto* f = static_cast<CLfBgErase*>(data);
    const wchar_t* text = edit->GetText();
    if (!text || !text[0]) return;
    f->LoadBackground(text, true);
    f->Rerun(0);
}

void CLfBgErase::OnSelect(CFgUIButton*, void* data) {
    auto* f = static_cast<CLfBgErase*>(data);
    const bool jp = f->Japanese();
    FgSelectFileOptions options;
    options.title = jp ? L"ファイルを選択" : L"select file";
    options.startPath = g_LastFileDir;
    options.extensions = GetImageExtensionList();
    wchar_t path[kFgPathMax + 1] = {};
    if (!FgSelectFile(path, kFgPathMax + 1, &options, f) || !path[0]) return;
    f->pathEdit.SetLineText(0, path);
    if (f->PanelShown()) f->CFgUICtrl::Redraw();
    f->LoadBackground(path, true);
    f->Rerun(0);
}

int32_t CLfBgErase::OnFilter(CImgBuff* image, uint64_t, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t,
                             uint32_t bg, uint32_t*, uint32_t*) {
    ImgRect r;
    if (!ClippedRegion(image, x, y, w, h, &r) || !image->buffer->format) return 1;
    const uint32_t masked = outsideMasked.Get();
    std::lock_guard<std::mutex> hold(backgroundLock_);
    if (!preview.load()) {
        if (eraseType.Get() == 0) return ImgSubtractBackground(image, &background_, masked, &r);
        const int32_t tile = tileSize.Get();
        return ImgExtractObjects(image, &background_, bg, static_cast<double>(extractLevel.Get()),
                                 kTileSides[tile >= 0 && tile <= 6 ? tile : 0], &r);
    }
    // The background itself, white or black where it has no pixel.
    const C_ImgBuff* back =
        background_.buffer && background_.buffer->pixels && background_.buffer->format ? background_.buffer : nullptr;
    const uint16_t outside = masked ? 65535 : 0;
    C_ImgBuff* img = image->buffer;
    ImgForEachRegionRow(r, [&](int32_t py) {
        const bool backRow = back && py < back->height;
        for (int32_t px = r.x0; px <= r.x1; ++px) {
            uint16_t cr = outside, cg = outside, cb = outside;
            if (backRow && px < back->width) back->GetPixelRgb16(px, py, &cr, &cg, &cb);
            img->SetPixelRgb16(px, py, cr, cg, cb);
        }
    });
    return 1;
}
