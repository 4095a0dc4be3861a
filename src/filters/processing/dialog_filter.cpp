#include "filters/processing/dialog_filter.h"

#include <cmath>
#include <cstdio>
#include <cwchar>

#include "filters/core/filterctrl.h"
#include "filters/core/textconv.h"

// The controls, members of the derived filter, have unlinked themselves.
CDialogFilterBase::~CDialogFilterBase() { Destroy(); }

const wchar_t* CDialogFilterBase::GetName(const wchar_t* languageCode) {
    const PanelSpec spec = Panel();
    return languageCode && std::wcscmp(languageCode, L"jp") == 0 ? spec.japanese : spec.english;
}

void CDialogFilterBase::AttachControls() {
    if (attached_) return;
    attached_ = true;
    for (const PanelControl& c : Panel().controls) AddChild(c.control);
    ApplyRules();
}

void CDialogFilterBase::ShowUi(int32_t show, CFgScreen* parentScreen) {
    PanelPosition& classMemory = ClassPosition();
    if (!show) {
        if (!PanelShown()) return;
        classMemory = position = {1, x, y};
        Destroy();
        return;
    }
    if (PanelShown()) return;
    const bool jp = Japanese();
    if (!position.known) position = classMemory;
    const PanelSpec spec = Panel();
    const int32_t px = position.known ? position.x : -1, py = position.known ? position.y : -1;
    const int32_t w = jp ? spec.widthJp : spec.width, h = jp ? spec.heightJp : spec.height;
    if (!Create(px, py, static_cast<uint64_t>(w), static_cast<uint64_t>(h), jp ? spec.japanese : spec.english,
                kFgStyleFixed, parentScreen)) {
        CFgUICtrl::Redraw();
        return;
    }
    for (const PanelControl& c : spec.controls) {
        const wchar_t* label = jp && c.japanese ? c.japanese : c.english;
        if (label) {
            if (auto* b = dynamic_cast<CFgUIButton*>(c.control)) b->SetLabel(label);
            if (auto* b = dynamic_cast<CFgUIChkButton*>(c.control)) b->SetLabel(label);
            if (auto* l = dynamic_cast<CFgUILabel*>(c.control)) l->SetText(label);
        }
        c.control->SetRect(c.x, c.y, c.width, c.height);
    }
    CFgUICtrl::Redraw();
}

int32_t CDialogFilterBase::QueryClose() {
    if (!visible) return 0;
    visible = 0;
    uiParent = nullptr;
    ShowUi(0, nullptr);
    if (Chain()) Chain()->OnFilterUiClosed();
    return 0;
}

void CDialogFilterBase::SaveConfig(CCfgPack* pack) {
    CImgFilter::SaveConfig(pack);
    settings.Save(pack);
}

void CDialogFilterBase::LoadConfig(CCfgPack* pack) {
    CImgFilter::LoadConfig(pack);
    settings.Load(pack);
    pendingChanges = 0;
    if (setButton_) setButton_->enabled = 0;
    ShowBoundValues();
    ShowSettings();
    ApplyRules();
    if (PanelShown()) CFgUICtrl::Redraw();
}

void CDialogFilterBase::Rerun(int32_t async) {
    if (FilterOn() && Chain()) Chain()->Refilter(async);
}

// --- the deferred scheme ---

void CDialogFilterBase::UseSetButton(CFgUIButton* button) {
    setButton_ = button;
    button->callback = OnSetButton;
    button->data = this;
    button->enabled = 0;
}

void CDialogFilterBase::Changed() {
    if (!setButton_) {
        settings.Apply();
        ApplyRules();  // the controls that depend on the new value
        if (PanelShown()) CFgUICtrl::Redraw();
        Rerun(0);
        return;
    }
    if (!pendingChanges) {
        pendingChanges = 1;
        setButton_->enabled = 1;
        ApplyRules();
    }
    if (PanelShown()) CFgUICtrl::Redraw();
}

void CDialogFilterBase::ApplyPending() {
    settings.Apply();
    pendingChanges = 0;
    if (setButton_) setButton_->enabled = 0;
    ApplyRules();
    if (PanelShown()) CFgUICtrl::Redraw();
    Rerun(0);
}

void CDialogFilterBase::OnSetButton(CFgUIButton*, void* data) { static_cast<CDialogFilterBase*>(data)->ApplyPending(); }

// --- bound controls ---

void CDialogFilterBase::BindRadioGroup(std::vector<CFgUIChkButton*> buttons, CSetting<uint32_t>* setting,
                                       std::vector<uint32_t> values) {
    if (buttons.empty()) return;
    radios_.push_back({this, buttons, setting, values});
    RadioBinding& b = radios_.back();
    for (size_t i = 1; i < buttons.size(); ++i) buttons[0]->AddToGroup(buttons[i]);
    for (CFgUIChkButton* button : buttons) {
        button->callback = OnRadio;
        button->data = &b;
    }
    ShowBoundValues();
}

void CDialogFilterBase::OnRadio(CFgUIChkButton* button, void* data) {
    auto* b = static_cast<RadioBinding*>(data);
    const int32_t index = (button->leader ? button->leader : button)->GetGroupSelection();
    if (index < 0 || static_cast<size_t>(index) >= b->values.size()) return;
    const uint32_t value = b->values[static_cast<size_t>(index)];
    if (value == b->setting->Pending()) return;
    b->setting->SetPending(value);
    b->filter->Changed();
}

void CDialogFilterBase::BindEdit(CFgUIEdit* edit, CSetting<uint32_t>* setting, EditNumberRule rule) {
    edits_.push_back({this, edit, setting, nullptr, rule});
    EditBinding& b = edits_.back();
    edit->changed = OnEditChanged;
    edit->focusLost = OnEditCommit;
    edit->data = &b;
    ShowEditValue(b);
}

void CDialogFilterBase::BindEdit(CFgUIEdit* edit, CSetting<double>* setting, EditNumberRule rule) {
    edits_.push_back({this, edit, nullptr, setting, rule});
    EditBinding& b = edits_.back();
    edit->changed = OnEditChanged;
    edit->focusLost = OnEditCommit;
    edit->data = &b;
    ShowEditValue(b);
}

void CDialogFilterBase::ShowEditValue(EditBinding& b) {
    wchar_t text[400];
    if (b.unsignedSetting)
        std::swprintf(text, 400, L"%lu", static_cast<unsigned long>(b.unsignedSetting->Pending()));
    else
        DoubleToText(text, 400, b.realSetting->Pending());
    // The text is the value's: no change notice.
    auto changed = b.edit->changed;
    b.edit->changed = nullptr;
    b.edit->SetLineText(0, text);
    b.edit->changed = changed;
}

void CDialogFilterBase::OnEditChanged(CFgUIEdit*, void* data) {
    auto* b = static_cast<EditBinding*>(data);
    CDialogFilterBase* f = b->filter;
    if (f->setButton_ && !f->pendingChanges) {
        f->pendingChanges = 1;
        f->setButton_->enabled = 1;
        f->ApplyRules();
    }
    if (f->PanelShown()) f->CFgUICtrl::Redraw();
}

void CDialogFilterBase::OnEditCommit(CFgUIEdit* edit, void* data) {
    auto* b = static_cast<EditBinding*>(data);
    double value = 0;
    EditNumberRule rule = b->rule;
    if (b->unsignedSetting) {
        rule.decimalPoint = false;
        if (rule.maximum > UINT32_MAX) rule.maximum = UINT32_MAX;
    }
    if (!ParseEditNumber(edit->GetText(), rule, &value)) {
        b->filter->ShowEditValue(*b);
        if (b->filter->PanelShown()) b->filter->CFgUICtrl::Redraw();
        return;
    }
    bool same;
    if (b->unsignedSetting) {
        const auto v = static_cast<uint32_t>(value);
        same = v == b->unsignedSetting->Pending();
        if (!same) b->unsignedSetting->SetPending(v);
    } else {
        same = value == b->realSetting->Pending();
        if (!same) b->realSetting->SetPending(value);
    }
    if (same) return;
    b->filter->Changed();
}

void CDialogFilterBase::ShowBoundValues() {
    for (RadioBinding& r : radios_) {
        int32_t index = -1;
        for (size_t i = 0; i < r.values.size(); ++i)
            if (r.values[i] == r.setting->Pending()) index = static_cast<int32_t>(i);
        r.buttons[0]->SelectInGroup(index, 0);
    }
    for (EditBinding& e : edits_) ShowEditValue(e);
}
