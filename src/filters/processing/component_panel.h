// CComponentPanel: the panel part shared by the filters that pick one of
// the colour components with a radio entry per component and a CMYK box
// ("Component extraction", "Select components"). A click on either stores
// the value and reruns, then the filter's control rules follow.
#pragma once

#include <cstdint>
#include <vector>

#include "filters/processing/dialog_filter.h"
#include "filters/processing/panel_rules.h"

template <class Derived>
class CComponentPanel : public CDialogFilter<Derived> {
public:
    static constexpr uint32_t kEntries = 19;
    static constexpr uint32_t kSelK = 10;

    CFgUIChkButton entries[kEntries];
    CFgUIChkButton cmykButton;

protected:
    // Binds entry i to the value i of `sel` and the CMYK box to `cmyk`.
    void BindEntries(CSetting<uint32_t>* sel, CSettingFlag* cmyk) {
        std::vector<CFgUIChkButton*> group;
        std::vector<uint32_t> values;
        for (uint32_t i = 0; i < kEntries; ++i) {
            group.push_back(&entries[i]);
            values.push_back(i);
        }
        this->BindRadioGroup(group, sel, values);
        followUp_.Attach(group.data(), group.size(), [](void* owner) {
            static_cast<CComponentPanel*>(owner)->RulesChanged();
        }, this);
        cmyk_ = cmyk;
        cmykButton.data = this;
        cmykButton.callback = [](CFgUIChkButton* b, void* data) {
            auto* f = static_cast<CComponentPanel*>(data);
            f->cmyk_->Set(b->checked ? 1 : 0);
            f->Rerun(0);
            f->RulesChanged();
        };
    }
    // The control rules apply again and a shown panel repaints.
    void RulesChanged() {
        this->ApplyRules();
        if (this->PanelShown()) this->CFgUICtrl::Redraw();
    }

private:
    RadioFollowUp followUp_;
    CSettingFlag* cmyk_ = nullptr;
};
