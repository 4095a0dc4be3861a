#include "filters/processing/lf_wave.h"

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <new>
#include <vector>

#include "filters/core/textconv.h"
#include "filters/processing/colour_pick.h"
#include "filters/processing/panel_rules.h"
#include "filters/processing/small_filter.h"
#include "image/colour.h"
#include "image/kernels/wavelength_filter.h"
#include "platform/plat_window.h"

CImgFilter* CreateLfWave() { return new (std::nothrow) CLfWave; }

namespace {

constexpr int32_t kSwatchWidth = 94, kSwatchHeight = 28;
const EditNumberRule kNumberRule{true, false, UINT64_MAX};

}  // namespace

bool CLfWave::CRadioIndex::Parse(const wchar_t* text) {
    if (!text) return false;
    const wchar_t* p = text;
    bool negative = false;
    if (*p == L'-') {
        negative = true;
        ++p;
    }
    int64_t value = 0;
    bool valid = *p != 0;
    for (; *p; ++p) {
        if (*p < L'0' || *p > L'9' || value > INT32_MAX) {
            valid = false;
            break;
        }
        value = value * 10 + (*p - L'0');
    }
    if (!valid || value > INT32_MAX) {
        Set(0);
        return true;
    }
    const int32_t index = static_cast<int32_t>(negative ? -value : value);
    if (!Accepts(index)) return false;
    Set(index);
    return true;
}

bool CLfWave::CInverse::Parse(const wchar_t* text) {
    if (!text) return false;
    Set(std::wcscmp(text, L"0") == 0 ? 0 : 1);
    return true;
}

CLfWave::CLfWave() {
    // The radio groups store the selected index (-1 none) and rerun.
    filterOff.AddToGroup(&filterColour);
    filterOff.AddToGroup(&filterGrey);
    gainOff.AddToGroup(&gainNormalize);
    gainOff.AddToGroup(&gainRaw);
    gainOff.AddToGroup(&gainFree);
    for (CFgUIChkButton* b : {&filterOff, &filterColour, &filterGrey}) {
        b->data = this;
        b->callback = [](CFgUIChkButton* button, void* data) {
            auto* f = static_cast<CLfWave*>(data);
            f->filterMode.Set((button->leader ? button->leader : button)->GetGroupSelection());
            f->Changed(true);
        };
    }
    for (CFgUIChkButton* b : {&gainOff, &gainNormalize, &gainRaw, &gainFree}) {
        b->data = this;
        b->callback = [](CFgUIChkButton* button, void* data) {
            auto* f = static_cast<CLfWave*>(data);
            f->gainMode.Set((button->leader ? button->leader : button)->GetGroupSelection());
            f->Changed(true);
        };
    }
    inverseButton.data = this;
    inverseButton.callback = [](CFgUIChkButton* button, void* data) {
        auto* f = static_cast<CLfWave*>(data);
        f->inverse.Set(button->checked ? 1 : 0);
        if (f->gainMode.Get() == 3) f->Rerun(0);
    };
    const struct {
        CFgUIButton* button;
        double nm;
    } waves[] = {{&redButton, 610}, {&greenButton, 550.1}, {&blueButton, 465.8}};
    for (const auto& w : waves) {
        w.button->data = this;
        w.button->callback = [](CFgUIButton* button, void* data) {
            auto* f = static_cast<CLfWave*>(data);
            f->SetWavelength(button == &f->redButton ? 610 : button == &f->greenButton ? 550.1 : 465.8);
        };
    }
    for (CFgUIButton* b : {&redStrength, &greenStrength, &blueStrength, &brightness}) {
        b->data = this;
        b->callback = [](CFgUIButton* button, void* data) {
            auto* f = static_cast<CLfWave*>(data);
            const size_t i = button == &f->redStrength ? 0 : button == &f->greenStrength ? 1
                           : button == &f->blueStrength ? 2 : 3;
            f->freeGain.Set(f->componentGains[i]);
            f->ShowNumber(&f->freeEdit, f->freeGain.Get());
            f->Changed(true);
        };
    }
    waveEdit.data = this;
    waveEdit.focusLost = [](CFgUIEdit* edit, void* data) {
        auto* f = static_cast<CLfWave*>(data);
        double value = 0;
        if (!ParseEditNumber(edit->GetText(), kNumberRule, &value)) {
            f->ShowNumber(edit, f->wavelength.Get());
            f->Changed(false);
            return;
        }
        f->wavelength.Set(value);
        f->UpdateColour();
        f->Changed(true);
    };
    freeEdit.data = this;
    freeEdit.focusLost = [](CFgUIEdit* edit, void* data) {
        auto* f = static_cast<CLfWave*>(data);
        if (f->updating) return;
        double value = 0;
        if (!ParseEditNumber(edit->GetText(), kNumberRule, &value)) {
            f->ShowNumber(edit, f->freeGain.Get());
            f->Changed(false);
            return;
        }
        f->freeGain.Set(value);
        f->Changed(true);
    };
    ShowSettings();
    AttachControls();
}

PanelSpec CLfWave::Panel() {
    const bool jp = Japanese();
    const int32_t g = jp ? 146 : 154;  // left of the gain radios
    return {L"Color filter", L"カラーフィルター", 260, 200, 260, 200,
            {
                {&filterGroup, 8, 32, jp ? 118 : 126, 132, nullptr, nullptr},
                {&gainGroup, jp ? 134 : 142, 32, jp ? 118 : 110, 132, nullptr, nullptr},
                {&waveLabel, 8, 8, jp ? 28 : 77, 20, L"wave length", L"波長"},
                {&waveEdit, jp ? 38 : 87, 10, 64, 18, nullptr, nullptr},
                {&nmLabel, jp ? 104 : 153, 8, 14, 20, L"nm", L"nm"},
                {&redButton, 188, 8, 16, 20, L"R", L"R"},
                {&greenButton, 212, 8, 16, 20, L"G", L"G"},
                {&blueButton, 236, 8, 16, 20, L"B", L"B"},
                {&filterOff, 20, 52, jp ? 96 : 104, 20, L"off", L"OFF"},
                {&filterColour, 20, 72, jp ? 96 : 104, 20, L"color image", L"カラー出力"},
                {&filterGrey, 20, 92, jp ? 96 : 104, 20, L"gray image", L"グレー出力"},
                {&gainOff, g, 52, jp ? 96 : 88, 20, L"off", L"OFF"},
                {&gainNormalize, g, 72, jp ? 96 : 92, 20, L"normalize", L"正規化"},
                {&gainRaw, g, 92, jp ? 96 : 88, 20, L"raw", L"RAW化"},
                {&gainFree, g, 112, 24, 20, L"", L""},
                {&freeEdit, jp ? 170 : 178, 112, jp ? 72 : 64, 20, nullptr, nullptr},
                {&inverseButton, g, 132, jp ? 96 : 88, 20, L"inverse", L"逆数"},
                {&redStrength, 8, 172, 55, 20, L"R STR", L"R成分量"},
                {&greenStrength, 71, 172, 55, 20, L"G STR", L"G成分量"},
                {&blueStrength, 134, 172, 55, 20, L"B STR", L"B成分量"},
                {&brightness, 197, 172, 55, 20, L"BRIGHT", L"輝度"},
            }};
}

void CLfWave::ShowUi(int32_t show, CFgScreen* parentScreen) {
    CDialogFilterBase::ShowUi(show, parentScreen);
    if (!show || !PanelShown()) return;
    filterGroup.label = Japanese() ? L"フィルタ" : L"filter";
    gainGroup.label = Japanese() ? L"ゲイン" : L"gain";
    swatch.AttachToScreen(this);
    ShowNumber(&freeEdit, freeGain.Get());
    CFgUICtrl::Redraw();
}

void CLfWave::ApplyRules() {
    updating = 1;
    const bool panel = CFgUICtrl::enabled != 0;
    for (CFgUIObj* c : std::initializer_list<CFgUIObj*>{&waveEdit, &redButton, &greenButton, &blueButton, &filterOff,
                                                         &filterColour, &filterGrey})
        SetControlEnabled(this, c, panel);
    const int32_t mode = filterMode.Get();
    const bool allGains = panel && mode == 0 && !colourSeen.load();
    const bool firstTwo = allGains || (panel && mode == 2);
    SetControlEnabled(this, &gainOff, firstTwo);
    SetControlEnabled(this, &gainNormalize, firstTwo);
    for (CFgUIObj* c : std::initializer_list<CFgUIObj*>{&gainRaw, &gainFree, &freeEdit, &inverseButton, &redStrength,
                                                         &greenStrength, &blueStrength, &brightness})
        SetControlEnabled(this, c, allGains);
    updating = 0;
}

void CLfWave::ShowNumber(CFgUIEdit* edit, double value) {
    wchar_t text[64];
    DoubleToText(text, 64, value);
    auto changed = edit->changed;
    edit->changed = nullptr;
    edit->SetLineText(0, text);
    edit->changed = changed;
}

void CLfWave::ShowSettings() {
    filterOff.SelectInGroup(filterMode.Get(), 0);
    gainOff.SelectInGroup(gainMode.Get(), 0);
    inverseButton.checked = inverse.Get() ? 1 : 0;
    ShowNumber(&waveEdit, wavelength.Get());
    ShowNumber(&freeEdit, freeGain.Get());
    UpdateColour();
}

void CLfWave::SetWavelength(double nm) {
    wavelength.Set(nm);
    ShowNumber(&waveEdit, nm);
    UpdateColour();
    Changed(true);
}

// The filter colour, its brightness and the swatch from the wavelength.
void CLfWave::UpdateColour() {
    double x, y, z, r, g, b;
    ImgWavelengthToXyz(wavelength.Get(), &x, &y, &z);
    ImgXyzToSrgb(x, y, z, &r, &g, &b);
    componentGains[0] = r;
    componentGains[1] = g;
    componentGains[2] = b;
    componentGains[3] = 0.587 * g + 0.299 * r + 0.114 * b;
    FillSwatch(&swatch, kSwatchWidth, kSwatchHeight, componentGains);
}

void CLfWave::DrawOverlay() { swatch.DrawCell(20, 120, kSwatchWidth, kSwatchHeight, 0); }

void CLfWave::Changed(bool rerun) {
    ApplyRules();
    if (PanelShown()) CFgUICtrl::Redraw();
    if (rerun) Rerun(0);
}

void CLfWave::Redraw() {
    if (PlatIsUiThread() && rulesDue_.exchange(0)) ApplyRules();
    CFgUIDialog::Redraw();
}

int32_t CLfWave::OnFilter(CImgBuff* image, uint64_t, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t,
                          uint32_t, uint32_t*, uint32_t*) {
    if (!image || !image->buffer) return 0;
    const int32_t format = image->buffer->format;
    const uint32_t colour = format >= kImgRgb8 && format <= kImgCmyk8 ? 1 : 0;
    if (format >= kImgGray8 && colour != colourSeen.load()) {
        colourSeen.store(colour);
        // The rules are applied on the user-interface thread.
        if (PlatIsUiThread()) {
            ApplyRules();
            if (PanelShown()) CFgUICtrl::Redraw();
        } else {
            rulesDue_.store(1);
            CFgUICtrl::Redraw();
        }
    }
    const ImgRect r = RegionRect(x, y, w, h);
    const double free = freeGain.Get();
    const int32_t filter = filterMode.Get(), gainIndex = gainMode.Get();
    if (filter < 0 || gainIndex < 0) return 0;
    // The inverse of a zero gain leaves the image as it is, like a refused gain.
    if (inverse.Get() && free == 0 && filter == 0 && gainIndex == 3) return 0;
    const double gain = inverse.Get() && free != 0 ? 1.0 / free : free;
    return ImgWavelengthFilter(image, wavelength.Get(), static_cast<uint32_t>(filter), static_cast<uint32_t>(gainIndex),
                               gain, &r);
}
