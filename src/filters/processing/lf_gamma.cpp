#include "filters/processing/lf_gamma.h"

#include <cmath>
#include <cwchar>
#include <new>

#include "filters/core/cfgfile.h"
#include "filters/core/textconv.h"
#include "filters/processing/small_filter.h"

CImgFilter* CreateLfGamma() { return new (std::nothrow) CLfGamma; }

CLfGamma::CLfGamma() {
    gammaMode.AddToGroup(&correctionMode);
    gammaMode.AddToGroup(&viewMode);
    for (CFgUIChkButton* radio : {&gammaMode, &correctionMode, &viewMode}) {
        radio->data = this;
        radio->callback = [](CFgUIChkButton* button, void* data) {
            auto* f = static_cast<CLfGamma*>(data);
            const int32_t index = (button->leader ? button->leader : button)->GetGroupSelection();
            if (index < 0 || index > 2) return;
            f->type.Set(static_cast<uint32_t>(index));
            f->ApplyRules();
            if (f->PanelShown()) f->CFgUICtrl::Redraw();
            f->Rebuild();
            f->Rerun(0);
        };
    }
    gammaMode.SelectInGroup(0, 0);
    revCheck.checked = 1;
    revCheck.data = this;
    revCheck.callback = [](CFgUIChkButton* button, void* data) {
        auto* f = static_cast<CLfGamma*>(data);
        f->rev.Set(button->checked ? 1 : 0);
        if (f->type.Get() != 0) return;
        f->Rebuild();
        f->Rerun(0);
    };
    for (CFgUIEdit* edit : {&gammaEdit, &fromEdit, &toEdit}) {
        edit->data = this;
        edit->focusLost = OnEdit;
    }
    ShowValue(&gammaEdit, gamma.Get());
    ShowValue(&fromEdit, from.Get());
    ShowValue(&toEdit, to.Get());
    Rebuild();
    AttachControls();
}

CLfGamma::~CLfGamma() { ImgGammaTableFree(table_); }

PanelSpec CLfGamma::Panel() {
    const bool jp = Japanese();
    return {L"Gamma", L"ガンマ変換", 350, 100, 310, 100,
            {
                {&gammaMode, 10, 10, 100, 20, L"gamma", L"ガンマ変換"},
                {&correctionMode, 10, 40, 100, 20, L"correction", L"画像を補正"},
                {&viewMode, 10, 70, 100, 20, L"view", L"表示を再現"},
                {&gammaLabel, 120, 10, 40, 20, L"gamma", L"ガンマ"},
                {&gammaEdit, jp ? 165 : 185, 10, 40, 20, nullptr, nullptr},
                {&revCheck, jp ? 215 : 235, 10, jp ? 80 : 100, 20, L"correction", L"補正"},
                {&fromLabel, 120, 55, jp ? 40 : 55, 20, L"orignal", L"元環境"},
                {&fromEdit, jp ? 165 : 185, 55, 40, 20, nullptr, nullptr},
                {&toLabel, jp ? 215 : 225, 55, 40, 20, L"new", L"新環境"},
                {&toEdit, 260, 55, 40, 20, nullptr, nullptr},
            }};
}

void CLfGamma::Pair(double* g0, double* g1) const {
    switch (type.Get()) {
        case 0:
            if (rev.Get()) {
                *g0 = gamma.Get();
                *g1 = 1.0;
            } else {
                *g0 = 1.0;
                *g1 = gamma.Get();
            }
            return;
        case 1:
            *g0 = to.Get();
            *g1 = from.Get();
            return;
        default:
            *g0 = from.Get();
            *g1 = to.Get();
            return;
    }
}

void CLfGamma::Rebuild() {
    double g0, g1;
    Pair(&g0, &g1);
    // Built first, exchanged under the lock the step holds while it applies
    // the table, freed once no step can use it.
    GammaTable* fresh = ImgGammaTableCreate(g0, g1);
    GammaTable* old;
    {
        std::lock_guard<std::mutex> hold(tableLock_);
        old = table_;
        table_ = fresh;
        g0_ = g0;
        g1_ = g1;
    }
    ImgGammaTableFree(old);
}

bool CLfGamma::HasTable() {
    std::lock_guard<std::mutex> hold(tableLock_);
    return table_ != nullptr;
}

void CLfGamma::ApplyRules() {
    const uint32_t gammaType = type.Get() == 0 ? 1 : 0;
    const bool panelOn = CFgUICtrl::enabled != 0;
    for (CFgUIObj* c : std::initializer_list<CFgUIObj*>{&gammaLabel, &gammaEdit, &revCheck})
        c->enabled = panelOn ? gammaType : 0;
    for (CFgUIObj* c : std::initializer_list<CFgUIObj*>{&fromLabel, &fromEdit, &toLabel, &toEdit})
        c->enabled = panelOn ? 1 - gammaType : 0;
    for (CFgUIObj* c : std::initializer_list<CFgUIObj*>{&gammaMode, &correctionMode, &viewMode})
        c->enabled = panelOn ? 1 : 0;
    if (focused && !focused->enabled) FocusNext();
}

int32_t CLfGamma::OnEnableAll(int32_t enable) {
    // The panel's state first, then the rule decides each control; the
    // container then leaves the controls as they are.
    CFgUICtrl::enabled = enable ? 1 : 0;
    ApplyRules();
    return 0;
}

void CLfGamma::ShowValue(CFgUIEdit* edit, double value) {
    wchar_t text[400];
    DoubleToText(text, 400, value);
    edit->SetLineText(0, text);
}

void CLfGamma::OnEdit(CFgUIEdit* edit, void* data) {
    auto* f = static_cast<CLfGamma*>(data);
    CSetting<double>* s = edit == &f->gammaEdit ? &f->gamma : edit == &f->fromEdit ? &f->from : &f->to;
    double value = 0;
    if (!ParseEditNumber(edit->GetText(), EditNumberRule{true, false, UINT64_MAX}, &value) || !std::isfinite(value)) {
        f->ShowValue(edit, s->Get());
        if (f->PanelShown()) f->CFgUICtrl::Redraw();
        return;
    }
    s->Set(value);
    const bool matters = s == &f->gamma ? f->type.Get() == 0 : f->type.Get() != 0;
    if (!matters) return;
    f->Rebuild();
    f->Rerun(0);
}

void CLfGamma::LoadConfig(CCfgPack* pack) {
    const struct {
        const wchar_t* key;
        CSetting<double>* setting;
        CFgUIEdit* edit;
        double before;
    } edits[] = {{L"gamma", &gamma, &gammaEdit, gamma.Get()},
                 {L"from", &from, &fromEdit, from.Get()},
                 {L"to", &to, &toEdit, to.Get()}};
    CDialogFilterBase::LoadConfig(pack);
    gammaMode.SelectInGroup(static_cast<int32_t>(type.Get()), 0);
    revCheck.checked = rev.Get();
    for (const auto& e : edits) {
        // A decimal floating-point reading; a value that is not finite
        // ("nan", "inf", an overflow) leaves the setting as it was. An
        // accepted text is shown as the file wrote it.
        const wchar_t* text = pack ? CfgFindValue(pack, e.key) : nullptr;
        double value = e.before;
        if (text) value = std::wcstod(text, nullptr);
        if (text && std::isfinite(value)) {
            e.setting->Set(value);
            e.edit->SetLineText(0, text);
        } else {
            e.setting->Set(e.before);
            ShowValue(e.edit, e.before);
        }
    }
    ApplyRules();
    if (PanelShown()) CFgUICtrl::Redraw();
    Rebuild();
}

int32_t CLfGamma::OnFilter(CImgBuff* image, uint64_t, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t, uint32_t,
                           uint32_t*, uint32_t*) {
    if (!image || !image->buffer) return 0;
    const uint32_t t = type.Get();
    if (t == 0 && gamma.Get() == 1.0) return 1;
    if (t != 0 && from.Get() == to.Get()) return 1;
    const ImgRect r = RegionRect(x, y, w, h);
    std::lock_guard<std::mutex> hold(tableLock_);
    if (!table_) return 1;
    switch (image->buffer->format) {
        case kImgGray32:
        case kImgRgb32:
        case kImgXyz:
            if (g0_ == g1_) return 1;
            return ImgGammaCorrect(image, g0_, g1_, &r);
        default:
            return ImgGammaTableApply(image, table_, &r);
    }
}
