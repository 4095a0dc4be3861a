#include "app/composite_ui.h"

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <initializer_list>
#include <memory>
#include <new>

#include "app/dialog_support.h"
#include "app/main_screen.h"
#include "image/colour.h"
#include "image/kernels/kernel_frame.h"
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
    // Every channel 8-bit grey and the result RGB8: the byte paths below.
    bool bytes = false;
    // For XYZ, L*a*b* and L*C*h on the byte path: each channel's 256 values
    // as the space's numbers, and for L*C*h the hue's cosine and sine.
    double value[3][256] = {};
    double hueCos[256] = {}, hueSin[256] = {};
    // For L*a*b*: X depends on L and a only, Z on L and b, Y on L, so the
    // three are tables of the channel values (index L * 256 + a or b).
    std::unique_ptr<double[]> labX, labZ;
    double labY[256] = {};
};

// An 8-bit grey value v reads as v * 0x01010101 at 32 bits.
double Unit(uint32_t v) { return v * 0x01010101u / kF; }

// The L*a*b* tables through the same conversion a pixel takes; false when
// they cannot be allocated (the pixels then convert one by one).
bool FillLabTables(ComposeJob* job) {
    job->labX.reset(new (std::nothrow) double[65536]);
    job->labZ.reset(new (std::nothrow) double[65536]);
    if (!job->labX || !job->labZ) return false;
    auto rows = [job](uint64_t first, uint64_t count) {
        for (uint64_t l = first; l < first + count; ++l)
            for (uint32_t v = 0; v < 256; ++v) {
                const double* t = &job->value[0][0];
                double y;
                ImgLabToXyz(t[l], job->value[1][v], job->value[2][0], &job->labX[l * 256 + v], &y, nullptr);
                ImgLabToXyz(t[l], job->value[1][0], job->value[2][v], nullptr, &job->labY[l], &job->labZ[l * 256 + v]);
            }
    };
    PoolParallelRun(256, rows);
    return true;
}

void FillTables(ComposeJob* job) {
    for (uint32_t v = 0; v < 256; ++v) {
        const double u = Unit(v);
        switch (job->space) {
            case kCompositeXyz:
                for (auto& t : job->value) t[v] = u * 1.1;
                break;
            case kCompositeLab:
                job->value[0][v] = u * 100.0;
                job->value[1][v] = u * 255.0 - 128.0;
                job->value[2][v] = u * 255.0 - 128.0;
                break;
            case kCompositeLch:
                job->value[0][v] = u * 100.0;
                job->value[1][v] = u * 135.0;
                ImgLchToLab(0.0, 1.0, u * 2.0 * M_PI, nullptr, &job->hueCos[v], &job->hueSin[v]);
                break;
            default: break;
        }
    }
}

// Three byte rows interleaved into RGB, each byte XORed with `flip`, in
// one pass.
KV_KERNEL_CLONES void Interleave3(const uint8_t* a, const uint8_t* b, const uint8_t* c, uint8_t* o, int64_t n, uint8_t flip) {
    for (int64_t i = 0; i < n; ++i) {
        o[3 * i] = a[i] ^ flip;
        o[3 * i + 1] = b[i] ^ flip;
        o[3 * i + 2] = c[i] ^ flip;
    }
}

// The byte paths give what the setters give: the RGB8 setter keeps the top
// byte of a 32-bit channel, so RGB, CMY and CMYK reduce to byte arithmetic,
// and the colour spaces keep the setters' arithmetic but find the curve's
// byte in a table.
void ComposeRowBytes(const ComposeJob& job, int32_t y) {
    const int32_t w = job.out->width;
    uint8_t* o = job.out->PixelAt(0, y);
    // Channel rows widened to the result with zeros (missing rows and columns read 0).
    const uint8_t* row[4] = {};
    int32_t cw[4] = {};
    for (int32_t k = 0; k < job.used; ++k)
        if (job.in[k] && y < job.in[k]->height) {
            row[k] = job.in[k]->PixelAt(0, y);
            cw[k] = job.in[k]->width;
        }
    auto at = [&](int32_t k, int32_t x) -> uint32_t { return x < cw[k] ? row[k][x] : 0; };
    if (job.space == kCompositeRgb || job.space == kCompositeCmy || job.space == kCompositeCmyk) {
        // One channel at a time: a tight loop over the columns every channel
        // row covers, then the rest, where missing pixels read 0.
        const bool cmyk = job.space == kCompositeCmyk;
        const uint8_t flip = job.space == kCompositeCmy ? 255 : 0;
        // The columns that all three rows cover, in one interleaving pass.
        const int32_t common = cmyk ? 0 : std::min({w, cw[0], cw[1], cw[2]});
        if (common > 0) Interleave3(row[0], row[1], row[2], o, common, flip);
        for (int32_t c = 0; c < 3; ++c) {
            uint8_t* p = o + c + 3 * int64_t(common);
            int32_t n = std::max(common, std::min(w, cw[c]));
            if (cmyk) n = std::min(n, cw[3]);
            const uint8_t* r = row[c];
            const uint8_t* kr = row[3];
            int32_t x = common;
            if (cmyk) {
                for (; x < n; ++x, p += 3) {
                    const uint32_t g = r[x], k = kr[x];
                    *p = static_cast<uint8_t>(g + k > 255 ? 0 : 255 - k - g);
                }
            } else {
                for (; x < n; ++x, p += 3) *p = static_cast<uint8_t>(r[x] ^ flip);
            }
            for (; x < w; ++x, p += 3) {
                const uint32_t g = at(c, x), k = cmyk ? at(3, x) : 0;
                *p = cmyk ? static_cast<uint8_t>(g + k > 255 ? 0 : 255 - k - g) : static_cast<uint8_t>(g ^ flip);
            }
        }
        return;
    }
    for (int32_t x = 0; x < w; ++x, o += 3) {
        const uint32_t v0 = at(0, x), v1 = at(1, x), v2 = at(2, x);
        double cx = job.value[0][v0], cy = job.value[1][v1], cz = job.value[2][v2];
        if (job.labX) {
            cx = job.labX[v0 << 8 | v1];
            cy = job.labY[v0];
            cz = job.labZ[v0 << 8 | v2];
        } else if (job.space == kCompositeLch) {
            const double chroma = cy;
            cy = chroma * job.hueCos[v2];
            cz = chroma * job.hueSin[v2];
        }
        if (job.space != kCompositeXyz && !job.labX) ImgLabToXyz(cx, cy, cz, &cx, &cy, &cz);
        double lin[3];
        ImgXyzToLinearRgb(cx, cy, cz, &lin[0], &lin[1], &lin[2]);
        for (int32_t c = 0; c < 3; ++c) o[c] = ImgLinearToSrgb8(lin[c]);
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
    if (w == 0 || h == 0) {
        result->FreePixels();
        return 0;
    }
    const int32_t format = bytes == 1 || bytes == 3   ? kImgRgb8
                           : bytes == 2 || bytes == 6 ? kImgRgb16
                           : bytes == 4 || bytes == 12 ? kImgRgb32
                                                       : kImgXyz;
    // A result of the same size and format is reused (a preview recomposes
    // often) without clearing: every pixel of it is written below.
    job.out = result->buffer;
    const bool reuse = job.out && job.out->pixels && job.out->width == w && job.out->height == h && job.out->format == format;
    if (!job.out || (!reuse && !job.out->Create(w, h, format))) {
        result->FreePixels();
        return 0;
    }
    job.bytes = allGrey8 && format == kImgRgb8 && space != kCompositeHsv;
    if (job.bytes) {
        FillTables(&job);
        if (space == kCompositeLab && !FillLabTables(&job)) job.labX.reset();
    }
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
