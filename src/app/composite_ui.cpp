#include "app/composite_ui.h"

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <initializer_list>

#include "app/dialog_support.h"
#include "app/main_screen.h"
#include "image/pool.h"
#include "media/frame_output.h"
#include "toolkit/fg_file_select.h"
#include "toolkit/fg_msgbox.h"
#include "toolkit/fg_texture.h"

namespace {

DialogPlace g_CompositePlace;

bool HasImage(const CImgBuff& image) {
    return image.buffer && image.buffer->pixels && image.buffer->format >= 1 && image.buffer->format <= 9;
}

}  // namespace

namespace {

constexpr uint32_t kFull = 0xFFFFFFFFu;
constexpr double kF = 4294967295.0;

struct ComposeJob {
    const C_ImgBuff* in[4] = {};
    int32_t used = 3;
    int32_t space = kCompositeRgb;
    C_ImgBuff* out = nullptr;
    bool bytes = false;  // every channel 8-bit grey and the result RGB8 in an RGB-family space
};

// The byte path: an 8-bit grey value v reads as v * 0x01010101 at 32 bits,
// and the RGB8 setter keeps the top byte, so RGB, CMY and CMYK reduce to
// their byte forms exactly.
void ComposeRowBytes(const ComposeJob& job, int32_t y) {
    const int32_t w = job.out->width;
    uint8_t* o = job.out->PixelAt(0, y);
    const uint8_t* row[4] = {};
    int32_t cw[4] = {};
    for (int32_t k = 0; k < job.used; ++k)
        if (job.in[k] && y < job.in[k]->height) {
            row[k] = job.in[k]->PixelAt(0, y);
            cw[k] = job.in[k]->width;
        }
    for (int32_t x = 0; x < w; ++x, o += 3) {
        uint32_t g[4];
        for (int32_t k = 0; k < 4; ++k) g[k] = k < job.used && x < cw[k] ? row[k][x] : 0;
        switch (job.space) {
            case kCompositeRgb:
                for (int32_t c = 0; c < 3; ++c) o[c] = static_cast<uint8_t>(g[c]);
                break;
            case kCompositeCmy:
                for (int32_t c = 0; c < 3; ++c) o[c] = static_cast<uint8_t>(255 - g[c]);
                break;
            default:  // CMYK
                for (int32_t c = 0; c < 3; ++c) o[c] = static_cast<uint8_t>(g[c] + g[3] > 255 ? 0 : 255 - g[3] - g[c]);
                break;
        }
    }
}

void ComposeRow(const ComposeJob& job, int32_t y) {
    if (job.bytes) return ComposeRowBytes(job, y);
    C_ImgBuff* out = job.out;
    for (int32_t x = 0; x < out->width; ++x) {
        uint32_t g[4] = {};
        for (int32_t k = 0; k < job.used; ++k)
            if (job.in[k] && job.in[k]->Contains(x, y)) job.in[k]->GetPixelGray32(x, y, &g[k]);
        switch (job.space) {
            case kCompositeRgb: out->SetPixelRgb32(x, y, g[0], g[1], g[2]); break;
            case kCompositeHsv:
                out->SetPixelHsv16(x, y, static_cast<uint16_t>(g[0] >> 16), static_cast<uint16_t>(g[1] >> 16),
                                   static_cast<uint16_t>(g[2] >> 16));
                break;
            case kCompositeCmy: out->SetPixelRgb32(x, y, kFull - g[0], kFull - g[1], kFull - g[2]); break;
            case kCompositeCmyk: {
                uint32_t rgb[3];
                for (int32_t c = 0; c < 3; ++c) rgb[c] = static_cast<double>(g[c]) + g[3] > kF ? 0 : kFull - g[3] - g[c];
                out->SetPixelRgb32(x, y, rgb[0], rgb[1], rgb[2]);
                break;
            }
            case kCompositeXyz: out->SetPixelXyz(x, y, g[0] / kF * 1.1, g[1] / kF * 1.1, g[2] / kF * 1.1); break;
            case kCompositeLab:
                out->SetPixelLab(x, y, g[0] / kF * 100.0, g[1] / kF * 255.0 - 128.0, g[2] / kF * 255.0 - 128.0);
                break;
            default: out->SetPixelLch(x, y, g[0] / kF * 100.0, g[1] / kF * 135.0, g[2] / kF * 2.0 * M_PI); break;
        }
    }
}

}  // namespace

int32_t ComposeChannels(const CImgBuff* const channels[4], int32_t space, CImgBuff* result) {
    if (!result) return 0;
    result->FreePixels();
    ComposeJob job;
    job.used = space == kCompositeCmyk ? 4 : 3;
    job.space = space;
    int32_t w = 0, h = 0;
    uint64_t bytes = 0;
    bool allGrey8 = true;
    for (int32_t k = 0; k < job.used; ++k) {
        if (!channels[k] || !HasImage(*channels[k])) continue;
        job.in[k] = channels[k]->buffer;
        w = std::max(w, job.in[k]->width);
        h = std::max(h, job.in[k]->height);
        bytes = std::max(bytes, SourceBytesPerPixel(job.in[k]->format));
        allGrey8 = allGrey8 && job.in[k]->format == kImgGray8;
    }
    if (w == 0 || h == 0) return 0;
    const int32_t format = bytes == 1 || bytes == 3   ? kImgRgb8
                           : bytes == 2 || bytes == 6 ? kImgRgb16
                           : bytes == 4 || bytes == 12 ? kImgRgb32
                                                       : kImgXyz;
    job.out = result->buffer;
    if (!job.out || !job.out->Create(w, h, format)) {
        result->FreePixels();
        return 0;
    }
    job.bytes = allGrey8 && format == kImgRgb8 &&
                (space == kCompositeRgb || space == kCompositeCmy || space == kCompositeCmyk);
    // Rows are independent: each worker writes only its own rows.
    auto rows = [&job](uint64_t first, uint64_t count) {
        for (uint64_t y = first; y < first + count; ++y) ComposeRow(job, static_cast<int32_t>(y));
    };
    PoolParallelRun(static_cast<uint64_t>(h), rows);
    return 1;
}

CCompositeUI::CCompositeUI() {
    for (int k = 1; k < 7; ++k) spaceRadio[0].AddToGroup(&spaceRadio[k]);
    spaceRadio[0].SelectInGroup(kCompositeRgb, 0);
    AddChild(&preview);
    for (int k = 0; k < 7; ++k) {
        spaceRadio[k].callback = &CCompositeUI::OnRadio;
        spaceRadio[k].data = this;
        AddChild(&spaceRadio[k]);
    }
    for (int k = 0; k < 4; ++k) {
        pathEdit[k].changed = &CCompositeUI::OnEditChanged;
        pathEdit[k].data = this;
        AddChild(&pathEdit[k]);
        for (CFgUIButton* b : {&selButton[k], &delButton[k]}) {
            b->callback = &CCompositeUI::OnButton;
            b->data = this;
            AddChild(b);
        }
    }
    for (CFgUIButton* b : {&openButton, &saveButton}) {
        b->callback = &CCompositeUI::OnButton;
        b->data = this;
        AddChild(b);
    }
    Layout();
    UpdateEnabled();
}

void CCompositeUI::Layout() {
    const bool en = english != 0;
    preview.SetRect(8, 8, 292, 292);
    static const wchar_t* const kSpaces[7] = {L"RGB", L"HSV", L"CMY", L"CMYK", L"XYZ", L"L*a*b*", L"L*C*h"};
    static const int32_t kX[4] = {8, 88, 168, 248};
    for (int k = 0; k < 7; ++k) {
        if (k < 4)
            spaceRadio[k].SetRect(kX[k], 308, 60, 20);
        else
            spaceRadio[k].SetRect(kX[k - 4], 328, 80, 20);
        spaceRadio[k].SetLabel(kSpaces[k]);
    }
    for (int k = 0; k < 4; ++k) {
        pathEdit[k].SetRect(8, 356 + 20 * k, 212, 20);
        selButton[k].SetRect(220, 356 + 20 * k, 40, 20);
        selButton[k].SetLabel(en ? L"SEL" : L"選択");
        delButton[k].SetRect(260, 356 + 20 * k, 40, 20);
        delButton[k].SetLabel(en ? L"DEL" : L"削除");
    }
    openButton.SetRect(8, 444, 142, 28);
    openButton.SetLabel(en ? L"OPEN" : L"画像を開く");
    saveButton.SetRect(158, 444, 142, 28);
    saveButton.SetLabel(en ? L"SAVE" : L"画像を保存");
}

void CCompositeUI::UpdateEnabled() {
    auto enable = [this](CFgUIObj& c, bool on) {
        if (!on && c.focused) FocusNext();
        c.enabled = on ? 1 : 0;
    };
    const bool cmyk = spaceRadio[0].GetGroupSelection() == kCompositeCmyk;
    enable(pathEdit[3], cmyk);
    enable(selButton[3], cmyk);
    enable(delButton[3], cmyk);
    const bool has = HasImage(result);
    enable(openButton, has);
    enable(saveButton, has);
}

void CCompositeUI::Show(CFgScreen* parentScreen) {
    int32_t px, py;
    DialogOpenPlace(placed, windowX, windowY, g_CompositePlace, &px, &py);
    Layout();
    if (Create(px, py, 308, 480, english ? L"Composite" : L"成分合成", kFgStyleFixed, parentScreen)) {
        CFgTexture* texture = preview.GetTexture();
        if (texture->pixels && texture->screen != this) texture->AttachToScreen(this);
    }
    UpdateEnabled();
    Redraw();
}

void CCompositeUI::SetLanguage(const wchar_t* code) {
    const uint32_t en = code && std::wcscmp(code, L"jp") == 0 ? 0 : 1;
    if (en == english) return;
    english = en;
    Layout();
    if (!IsOpen()) return;
    CFgScreen* parentScreen = parent;
    if (QueryClose()) Destroy();
    Show(parentScreen);
}

int32_t CCompositeUI::LoadRow(int32_t k, const wchar_t* path) {
    if (k < 0 || k > 3) return 0;
    if (!path || !path[0]) {
        channels[k].FreePixels();
        return 1;
    }
    // Without a language: the dialog shows its own single message after SEL,
    // and typing a path shows nothing.
    CImgBuff image;
    if (!LoadImageFile(&image, path, nullptr, mainScreen)) return 0;
    return channels[k].CopyFrom(&image) ? 1 : 0;
}

void CCompositeUI::Select(int32_t k) {
    wchar_t name[kFgPathMax + 1] = {};
    FgSelectFileOptions options;
    options.title = english ? L"select file" : L"ファイルを選択";
    options.extensions = GetImageExtensionList();
    if (FgSelectFile(name, kFgPathMax + 1, &options, this) && name[0]) {
        if (LoadRow(k, name)) {
            ++filling_;
            SetEditText(&pathEdit[k], name);
            --filling_;
            rowMarker[k] = -1;
        } else {
            FgMessageBox(english ? L"loading failed" : L"ロードできませんでした", english ? L"error" : L"エラー", 1,
                         this);
        }
    }
    Compose();
}

void CCompositeUI::Delete(int32_t k) {
    if (rowMarker[k] == -1) {
        ++filling_;
        pathEdit[k].Clear();
        --filling_;
        channels[k].FreePixels();
    }
    Compose();
}

void CCompositeUI::Compose() {
    result.FreePixels();
    UpdateEnabled();
    const CImgBuff* in[4] = {&channels[0], &channels[1], &channels[2], &channels[3]};
    const int32_t space = spaceRadio[0].GetGroupSelection();
    if (!ComposeChannels(in, space < 0 ? kCompositeRgb : space, &result)) {
        CFgTexture* texture = preview.GetTexture();
        texture->Clear();
        preview.UpdateLayout();
        UpdateEnabled();
        Redraw();
        return;
    }
    CFgTexture temporary;
    if (temporary.SetFromImage(&result, 1)) {
        const int32_t oldW = preview.ImageWidth(), oldH = preview.ImageHeight();
        preview.SetImage(&temporary);
        if (oldW != preview.ImageWidth() || oldH != preview.ImageHeight()) preview.UpdateLayout();
        CFgTexture* texture = preview.GetTexture();
        if (IsOpen() && texture->screen != this) texture->AttachToScreen(this);
        preview.UpdateLayout();
    }
    UpdateEnabled();
    Redraw();
}

void CCompositeUI::OpenResult() {
    if (!HasImage(result) || !mainScreen) return;
    mainScreen->SetDocumentImage(&result);
}

void CCompositeUI::SaveResult() {
    const bool en = english != 0;
    if (!HasImage(result)) {
        FgMessageBox(en ? L"there is no image" : L"画像がありません", en ? L"confirmation" : L"確認", 1, this);
        return;
    }
    wchar_t name[kFgPathMax + 1] = {};
    FgSelectFileOptions options;
    options.title = en ? L"select file name to save" : L"保存するファイル名を選択";
    options.extensions = mainScreen ? mainScreen->saveStillExtensions : nullptr;
    if (!FgSelectFile(name, kFgPathMax + 1, &options, this) || !name[0]) return;
    const wchar_t* language = en ? L"en" : L"jp";
    if (ConfirmSaveImage(&result, name, language, this) == 1) SaveImageFile(&result, name, language, this);
}

int32_t CCompositeUI::QueryClose() {
    RememberDialogPlace(this, &placed, &windowX, &windowY, &g_CompositePlace);
    return 1;
}

void CCompositeUI::OnRadio(CFgUIChkButton*, void* data) {
    auto* self = static_cast<CCompositeUI*>(data);
    self->UpdateEnabled();
    self->Compose();
}

void CCompositeUI::OnEditChanged(CFgUIEdit* edit, void* data) {
    auto* self = static_cast<CCompositeUI*>(data);
    if (self->filling_) return;
    const int32_t k = static_cast<int32_t>(edit - self->pathEdit);
    if (!self->LoadRow(k, edit->GetText())) self->channels[k].FreePixels();
    self->Compose();
}

void CCompositeUI::OnButton(CFgUIButton* button, void* data) {
    auto* self = static_cast<CCompositeUI*>(data);
    for (int32_t k = 0; k < 4; ++k) {
        if (button == &self->selButton[k]) return self->Select(k);
        if (button == &self->delButton[k]) return self->Delete(k);
    }
    if (button == &self->openButton)
        self->OpenResult();
    else
        self->SaveResult();
}
