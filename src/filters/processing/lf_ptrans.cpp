#include "filters/processing/lf_ptrans.h"

#include <cmath>
#include <new>

#include "filters/core/textconv.h"
#include "toolkit/fg_msgbox.h"

CImgFilter* CreateLfPtrans() { return new (std::nothrow) CLfPtrans; }

namespace {

// The image size as the camera computation takes it.
uint32_t Side(uint64_t v) { return v > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(v); }

}  // namespace

CLfPtrans::CLfPtrans() {
    const struct {
        CFgUIEdit* edit;
        CSetting<double>* setting;
    } table[6] = {{&focalEdit, &focal}, {&pixelEdit, &pixelUm}, {&inchEdit, &inch},
                  {&panEdit, &pan},     {&tiltEdit, &tilt},     {&zoomEdit, &zoom}};
    for (int i = 0; i < 6; ++i) {
        bindings_[i] = {this, table[i].edit, table[i].setting};
        table[i].edit->changed = OnTyped;
        table[i].edit->focusLost = OnCommit;
        table[i].edit->data = &bindings_[i];
    }
    calcButton.callback = OnCalc;
    calcButton.data = this;
    setButton.callback = OnSet;
    setButton.data = this;
    Publish();
    ShowSettings();
    AttachControls();
}

PanelSpec CLfPtrans::Panel() {
    const bool jp = Japanese();
    return {L"Projective transformation", L"射影変換", 270, 180, 270, 180,
            {
                {&focalLabel, 10, 10, jp ? 60 : 85, 20, L"focal length", L"焦点距離"},
                {&focalEdit, 180, 10, 50, 20, nullptr, nullptr},
                {&mmLabel, 230, 10, 20, 20, L"mm", L"mm"},
                {&pixelLabel, 10, 40, jp ? 140 : 70, 20, L"pixel size", L"撮像素子の画素サイズ"},
                {&pixelEdit, 180, 40, 50, 20, nullptr, nullptr},
                {&umLabel, 230, 40, 20, 20, L"um", L"um"},
                {&calcButton, 10, 70, 160, 20, L"calc from CCD size", L"撮像素子サイズから計算"},
                {&inchEdit, 180, 70, 50, 20, nullptr, nullptr},
                {&inchLabel, 230, 70, 30, 20, L"inch", L"inch"},
                {&panLabel, 10, 110, 30, 20, L"pan", L"pan"},
                {&panEdit, 40, 110, 40, 20, nullptr, nullptr},
                {&tiltLabel, 100, 110, 30, 20, L"tilt", L"tilt"},
                {&tiltEdit, 130, 110, 40, 20, nullptr, nullptr},
                {&zoomLabel, 190, 110, 30, 20, L"zoom", L"zoom"},
                {&zoomEdit, 220, 110, 40, 20, nullptr, nullptr},
                {&setButton, 10, 140, 250, 30, L"set", L"決定"},
            }};
}

CLfPtrans::Applied CLfPtrans::Get() const {
    std::lock_guard<std::mutex> hold(lock_);
    return applied_;
}

void CLfPtrans::Publish() {
    std::lock_guard<std::mutex> hold(lock_);
    applied_.zoom = zoom.Get();
    applied_.focal = focal.Get();
    applied_.pixelUm = pixelUm.Get();
}

void CLfPtrans::ApplyRules() {
    if (CFgUICtrl::enabled) setButton.enabled = pendingChanges ? 1 : 0;
}

void CLfPtrans::ShowValue(CFgUIEdit* edit, double value) {
    wchar_t text[400];
    DoubleToText(text, 400, value);
    // The text is the value's: no change notice.
    auto changed = edit->changed;
    edit->changed = nullptr;
    edit->SetLineText(0, text);
    edit->changed = changed;
}

void CLfPtrans::ShowSettings() {
    for (const EditBinding& b : bindings_) ShowValue(b.edit, b.setting->Get());
}

void CLfPtrans::MarkEdited() {
    if (!pendingChanges) {
        pendingChanges = 1;
        ApplyRules();
    }
    if (PanelShown()) CFgUICtrl::Redraw();
}

void CLfPtrans::ShowError(const wchar_t* english, const wchar_t* japanese) {
    const bool jp = Japanese();
    FgMessageBox(jp ? japanese : english, jp ? L"エラー" : L"error", 1, PanelShown() ? this : nullptr);
}

bool CLfPtrans::AcceptsCommit(const CSetting<double>* setting, const wchar_t* text, double* value) const {
    const bool angle = setting == &pan || setting == &tilt;
    if (!text) return false;
    // Digits with at most one point, not first; the angles may start with a
    // minus, which must be followed by a digit ("-" and "-.5" are no number).
    const wchar_t* p = text;
    if (angle && *p == L'-') ++p;
    if (*p < L'0' || *p > L'9') return false;
    bool point = false;
    for (; *p; ++p) {
        if (*p == L'.' && !point)
            point = true;
        else if (*p < L'0' || *p > L'9')
            return false;
    }
    const double v = TextToDouble(text, angle ? 1 : 0);
    if (!std::isfinite(v)) return false;
    if (angle ? !(v > -90 && v < 90) : !(v > 0)) return false;
    *value = v;
    return true;
}

void CLfPtrans::OnTyped(CFgUIEdit*, void* data) { static_cast<EditBinding*>(data)->filter->MarkEdited(); }

void CLfPtrans::OnCommit(CFgUIEdit* edit, void* data) {
    auto* b = static_cast<EditBinding*>(data);
    CLfPtrans* f = b->filter;
    double v = 0;
    if (!f->AcceptsCommit(b->setting, edit->GetText(), &v)) {
        f->ShowValue(edit, b->setting->Get());
        if (f->PanelShown()) f->CFgUICtrl::Redraw();
        return;
    }
    if (v == b->setting->Get()) return;
    b->setting->Set(v);
    // A committed zoom reaches the next run without "set".
    f->Publish();
    f->MarkEdited();
}

void CLfPtrans::OnCalc(CFgUIButton*, void* data) { static_cast<CLfPtrans*>(data)->CalcPixelSize(); }
void CLfPtrans::OnSet(CFgUIButton*, void* data) { static_cast<CLfPtrans*>(data)->ApplyCamera(); }

void CLfPtrans::CalcPixelSize() {
    const uint64_t w = CImgFilter::width, h = CImgFilter::height;
    if (!w || !h) return ShowError(L"no image", L"画像がありません");
    if (!(inch.Get() > 0)) return ShowError(L"enter inch", L"inchを入力してください");
    // The diagonal along the image's aspect; the horizontal pitch in micrometres.
    const double wd = static_cast<double>(w), hd = static_cast<double>(h);
    const double v = std::cos(std::atan2(hd, wd)) * inch.Get() * 25.4 * 1000 / wd;
    ShowValue(&pixelEdit, v);
    if (v != pixelUm.Get()) {
        pixelUm.Set(v);
        Publish();
        MarkEdited();
    } else if (PanelShown()) {
        CFgUICtrl::Redraw();
    }
}

bool CLfPtrans::Activate() {
    const uint64_t w = CImgFilter::width, h = CImgFilter::height;
    CameraMatrix camera{};
    if (!w || !h || !ImgCameraMatrixFromSensor(&camera, focal.Get(), Side(w), Side(h), pixelUm.Get(), pixelUm.Get()))
        return false;
    {
        std::lock_guard<std::mutex> hold(lock_);
        applied_.active = 1;
        applied_.sizeW = w;
        applied_.sizeH = h;
        applied_.camera = camera;
        applied_.pan = pan.Get();
        applied_.tilt = tilt.Get();
        applied_.roll = 0;
    }
    Publish();
    pendingChanges = 0;
    ApplyRules();
    if (PanelShown()) CFgUICtrl::Redraw();
    return true;
}

void CLfPtrans::ApplyCamera() {
    if (!CImgFilter::width || !CImgFilter::height) return ShowError(L"no image", L"画像がありません");
    if (!(focal.Get() > 0)) return ShowError(L"enter focal length", L"焦点距離を入力してください");
    if (!(pixelUm.Get() > 0))
        return ShowError(L"enter the pixel size of the imaging device", L"撮像素子の画素サイズを入力してください");
    if (!Activate()) return ShowError(L"can't calculate", L"カメラパラメーターを計算できませんでした");
    Rerun(0);
}

void CLfPtrans::LoadConfig(CCfgPack* pack) {
    CDialogFilterBase::LoadConfig(pack);
    if (!pack) return;
    Publish();
    // A camera that can be computed now takes effect at the next run;
    // otherwise "set" applies the loaded values later.
    if (!Activate()) MarkEdited();
    ApplyRules();
    if (PanelShown()) CFgUICtrl::Redraw();
}

int32_t CLfPtrans::OnFilter(CImgBuff* image, uint64_t, int64_t, int64_t, int64_t, int64_t, uint32_t, uint32_t bg,
                            uint32_t*, uint32_t*) {
    if (!image || !image->buffer || !image->buffer->pixels) return 1;
    Applied ap;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (!applied_.active) return 1;
        const auto w = static_cast<uint64_t>(image->buffer->width), h = static_cast<uint64_t>(image->buffer->height);
        CameraMatrix camera{};
        // A new image size moves the optical centre with it.
        if ((w != applied_.sizeW || h != applied_.sizeH) &&
            ImgCameraMatrixFromSensor(&camera, applied_.focal, Side(w), Side(h), applied_.pixelUm, applied_.pixelUm)) {
            applied_.camera = camera;
            applied_.sizeW = w;
            applied_.sizeH = h;
        }
        ap = applied_;
    }
    const double angles[3] = {ap.pan, ap.tilt, ap.roll};
    return ImgPerspectiveTransform(image, &ap.camera, angles, ap.zoom, bg ? 1 : 0);
}
