#include "filters/processing/lf_noise_remover.h"

#include <cstdio>
#include <new>

#include "filters/core/cfgfile.h"
#include "filters/processing/region_clip.h"
#include "image/kernels/object_removal.h"

CImgFilter* CreateLfNoiseRemover() { return new (std::nothrow) CLfNoiseRemover; }

CLfNoiseRemover::CLfNoiseRemover()
    : limits_{{this, &minOn, &minEntered, &minEffective, &minEdit}, {this, &maxOn, &maxEntered, &maxEffective, &maxEdit}} {
    minBox.callback = maxBox.callback = OnSwitch;
    minBox.data = &limits_[0];
    maxBox.data = &limits_[1];
    for (Limit& l : limits_) {
        l.edit->focusLost = OnEditCommit;
        l.edit->data = &l;
    }
    ShowSettings();
    AttachControls();
}

PanelSpec CLfNoiseRemover::Panel() {
    if (Japanese())
        return {L"Noise remover", L"ノイズ除去", 250, 65, 220, 65,
                {
                    {&minEdit, 10, 10, 60, 20, nullptr, nullptr},
                    {&minBox, 75, 10, 140, 20, L"pixel under del", L"pixel以下を削除"},
                    {&maxEdit, 10, 35, 60, 20, nullptr, nullptr},
                    {&maxBox, 75, 35, 140, 20, L"pixel over del", L"pixel以上を削除"},
                }};
    return {L"Noise remover", L"ノイズ除去", 250, 65, 220, 65,
            {
                {&minEdit, 25, 10, 60, 20, nullptr, nullptr},
                {&minBox, 90, 10, 140, 20, L"pixel under del", L"pixel以下を削除"},
                {&maxEdit, 25, 35, 60, 20, nullptr, nullptr},
                {&maxBox, 90, 35, 140, 20, L"pixel over del", L"pixel以上を削除"},
            }};
}

void CLfNoiseRemover::ApplyRules() {
    minEdit.enabled = minOn.Get();
    maxEdit.enabled = maxOn.Get();
}

void CLfNoiseRemover::ShowEntered(const Limit& limit) {
    wchar_t text[16];
    std::swprintf(text, 16, L"%lu", static_cast<unsigned long>(limit.entered->Get()));
    limit.edit->SetLineText(0, text);
}

void CLfNoiseRemover::ShowSettings() {
    minBox.checked = minOn.Get();
    maxBox.checked = maxOn.Get();
    for (const Limit& l : limits_) ShowEntered(l);
}

void CLfNoiseRemover::LoadConfig(CCfgPack* pack) {
    CDialogFilter<CLfNoiseRemover>::LoadConfig(pack);
    bool shown = false;
    for (const Limit& l : limits_) {
        const wchar_t* stored = CfgFindValue(pack, l.entered->key);
        if (!stored) continue;
        l.edit->SetLineText(0, stored);
        shown = true;
    }
    if (shown && PanelShown()) CFgUICtrl::Redraw();
}

void CLfNoiseRemover::OnEditCommit(CFgUIEdit* edit, void* data) {
    auto* l = static_cast<Limit*>(data);
    double value = 0;
    if (!ParseEditNumber(edit->GetText(), EditNumberRule{false, false, UINT32_MAX}, &value)) {
        ShowEntered(*l);
        if (l->filter->PanelShown()) l->filter->CFgUICtrl::Redraw();
        return;
    }
    l->entered->Set(static_cast<uint32_t>(value));
    if (!l->on->Get()) return;
    l->effective->Set(l->entered->Get());
    l->filter->Rerun(0);
}

void CLfNoiseRemover::OnSwitch(CFgUIChkButton* box, void* data) {
    auto* l = static_cast<Limit*>(data);
    l->on->Set(box->checked ? 1 : 0);
    l->filter->ApplyRules();
    l->effective->Set(l->on->Get() ? l->entered->Get() : 0);
    if (l->filter->PanelShown()) l->filter->CFgUICtrl::Redraw();
    l->filter->Rerun(0);
}

int32_t CLfNoiseRemover::OnFilter(CImgBuff* image, uint64_t, int64_t x, int64_t y, int64_t w, int64_t h,
                                  uint32_t connect, uint32_t bg, uint32_t*, uint32_t*) {
    ImgRect r;
    if (!ClippedRegion(image, x, y, w, h, &r)) return 1;
    return ImgRemoveObjectsBySize(image, minEffective.Get(), maxEffective.Get(), static_cast<int32_t>(connect), bg, &r);
}
