#include "filters/processing/lf_bayer.h"

#include <new>

#include "filters/core/textconv.h"
#include "filters/processing/panel_rules.h"
#include "filters/processing/small_filter.h"
#include "image/kernels/bayer.h"

CImgFilter* CreateLfBayer() { return new (std::nothrow) CLfBayer; }

CLfBayer::CLfBayer() : gainEdits_{{this, &editR, &gainR}, {this, &editG, &gainG}, {this, &editB, &gainB}} {
    BindRadioGroup({&bayer, &linear, &acpi}, &action, {0, 1, 2});
    BindRadioGroup({&grbg, &gbrg, &rggb, &bggr, &xtrans, &xtrans4}, &filter, {0, 1, 2, 3, 4, 5});
    gainButton.data = this;
    gainButton.callback = [](CFgUIChkButton* b, void* data) {
        auto* f = static_cast<CLfBayer*>(data);
        f->gain.Set(b->checked ? 1 : 0);
        f->Rerun(0);
        f->ApplyRules();
        if (f->PanelShown()) f->CFgUICtrl::Redraw();
    };
    reset.data = this;
    reset.callback = [](CFgUIButton*, void* data) {
        auto* f = static_cast<CLfBayer*>(data);
        f->gainR.Set(kGainR);
        f->gainG.Set(kGainG);
        f->gainB.Set(kGainB);
        f->ShowGains();
        f->GainChanged();
    };
    for (GainEdit& g : gainEdits_) {
        g.edit->focusLost = OnGainEdit;
        g.edit->data = &g;
    }
    ShowSettings();
    AttachControls();
}

PanelSpec CLfBayer::Panel() {
    const bool jp = Japanese();
    const int32_t editWidth = jp ? 176 : 224;
    return {L"Bayer convert", L"ベイヤー変換", 330, 190, 280, 190,
            {
                {&bayer, 10, 10, jp ? 104 : 64, 20, L"bayer", L"ベイヤー化"},
                {&linear, 10, 30, jp ? 184 : 152, 20, L"demosaic(linear)", L"デモザイク(線形補間)"},
                {&acpi, 10, 50, jp ? 184 : 152, 20, L"demosaic(acpi)", L"デモザイク(ACPI)"},
                {&grbg, 10, 80, 56, 20, L"GRBG", L"GRBG"},
                {&gbrg, 10, 100, 56, 20, L"GBRG", L"GBRG"},
                {&rggb, 10, 120, 56, 20, L"RGGB", L"RGGB"},
                {&bggr, 10, 140, 56, 20, L"BGGR", L"BGGR"},
                {&xtrans, 200, 10, 72, 20, L"XTRANS", L"XTRANS"},
                {&xtrans4, 200, 30, 72, 20, L"XTRANS4", L"XTRANS4"},
                {&gainButton, 96, 80, jp ? 72 : 56, 20, L"gain", L"ゲイン"},
                {&reset, 96, 100, jp ? 176 : 224, 20, L"RESET", L"初期化"},
                {&labelR, 80, 120, 16, 20, L"R", L"R"},
                {&editR, 96, 120, editWidth, 20, nullptr, nullptr},
                {&labelG, 80, 140, 16, 20, L"G", L"G"},
                {&editG, 96, 140, editWidth, 20, nullptr, nullptr},
                {&labelB, 80, 160, 16, 20, L"B", L"B"},
                {&editB, 96, 160, editWidth, 20, nullptr, nullptr},
            }};
}

void CLfBayer::ApplyRules() {
    if (!CFgUICtrl::enabled) return;
    const bool on = gain.Get() != 0;
    for (CFgUIObj* c : std::initializer_list<CFgUIObj*>{&reset, &labelR, &labelG, &labelB, &editR, &editG, &editB})
        SetControlEnabled(this, c, on);
}

void CLfBayer::ShowGains() {
    for (GainEdit& g : gainEdits_) {
        wchar_t text[64];
        DoubleToText(text, 64, g.setting->Get());
        g.edit->SetLineText(0, text);
    }
}

void CLfBayer::ShowSettings() {
    gainButton.checked = gain.Get() ? 1 : 0;
    ShowGains();
}

void CLfBayer::GainChanged() {
    if (gain.Get()) Rerun(0);
    if (PanelShown()) CFgUICtrl::Redraw();
}

// An edit box lost the focus: digits with at most one inner point and not
// 0 (a gain divides the mosaic) become the gain; anything else is replaced
// by the gain's text.
void CLfBayer::OnGainEdit(CFgUIEdit* edit, void* data) {
    auto* g = static_cast<GainEdit*>(data);
    double value = 0;
    if (!ParseEditNumber(edit->GetText(), EditNumberRule{true, true, UINT64_MAX}, &value) ||
        !g->setting->Accepts(value)) {
        g->filter->ShowGains();
        if (g->filter->PanelShown()) g->filter->CFgUICtrl::Redraw();
        return;
    }
    if (value == g->setting->Get()) return;
    g->setting->Set(value);
    g->filter->GainChanged();
}

int32_t CLfBayer::OnFilter(CImgBuff* image, uint64_t, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t,
                           uint32_t, uint32_t*, uint32_t*) {
    const ImgRect r = RegionRect(x, y, w, h);
    const double gains[4] = {1.0, gainR.Get(), gainG.Get(), gainB.Get()};
    return ImgBayer(image, action.Get(), filter.Get(), gain.Get() ? gains : nullptr, &r);
}
