// The frame of every filter with a settings panel: a filter that is also a
// toolkit dialog. A filter built on it declares
//   - its settings once, as CSetting members (filter_settings.h);
//   - its panel as a table: size and names per language, and each control
//     with its rectangle and English and Japanese label (Panel());
//   - its filter step, a few lines calling kernels (OnFilter or Filter).
// The frame opens the panel when the filter joins a chain and remembers
// where it was closed (per filter and per class), rebuilds it on a language
// change, saves and loads the declared settings, binds radio groups and
// numeric edit boxes to settings, and offers the two ways a change reaches
// the chain: at once (Rerun) or on the "set" button.
#pragma once

#include <cstdint>
#include <list>
#include <vector>

#include "filters/core/imgfilter.h"
#include "filters/processing/edit_commit.h"
#include "filters/processing/filter_settings.h"
#include "toolkit/fg_button.h"
#include "toolkit/fg_dialog.h"
#include "toolkit/fg_edit.h"
#include "toolkit/fg_label.h"

// Where a panel was last hidden.
struct PanelPosition {
    uint32_t known = 0;
    int32_t x = 0, y = 0;
};

// One control of a panel: its rectangle and its label in both languages
// (null: the control has no label).
struct PanelControl {
    CFgUIObj* control;
    int32_t x, y, width, height;
    const wchar_t* english;
    const wchar_t* japanese;
};

// A panel: the filter's names, its client size in each language and its
// controls in container order (the drawing and Tab order).
struct PanelSpec {
    const wchar_t* english;
    const wchar_t* japanese;
    int32_t width, height;
    int32_t widthJp, heightJp;
    std::vector<PanelControl> controls;
};

class CDialogFilterBase : public CImgFilter, public CFgUIDialog {
public:
    CDialogFilterBase() = default;
    ~CDialogFilterBase() override;

    PanelPosition position;  // of this filter's panel
    uint32_t pendingChanges = 0;  // the deferred scheme's edits not yet applied
    CFilterSettingList settings;

    const wchar_t* GetName(const wchar_t* languageCode) override;
    int32_t HasUi() override { return 1; }
    // Enables or disables the whole panel; enabled again, the control rules
    // decide each dependent control once the container has enabled them all.
    void EnableUi(int32_t enable) override {
        EnableAll(enable);
        if (enable) ApplyRules();
    }
    // Creates (show non-zero) or destroys the panel window.
    void ShowUi(int32_t show, CFgScreen* parent) override;
    void SaveConfig(CCfgPack* pack) override;
    void LoadConfig(CCfgPack* pack) override;
    // The close box hides the panel; the filter stays in the chain.
    int32_t QueryClose() override;

    bool Japanese() const { return language == L"jp"; }
    bool FilterOn() const { return CImgFilter::enabled.load() != 0; }
    // The chain controller the filter is in (the dialog has an owner screen too).
    CFilterCtrl* Chain() const { return CImgFilter::owner; }
    bool PanelShown() const { return window != 0; }
    // A change that applies at once: the chain runs again when the filter is
    // on and in a chain (async 0 waits and shows, 1 requests a run).
    void Rerun(int32_t async);

    // The panel's description; called on every show.
    virtual PanelSpec Panel() = 0;

protected:
    // Appends the panel's controls to the container, in table order. The
    // derived constructor calls it once its controls exist.
    void AttachControls();
    // Which controls are enabled for the current settings.
    virtual void ApplyRules() {}
    // The controls show the settings (after a load); the frame has already
    // updated the bound radio groups and edits.
    virtual void ShowSettings() {}
    // The per-class memory of the last hidden panel (CDialogFilter below).
    virtual PanelPosition& ClassPosition() = 0;

    // A radio group bound to a setting: member i stands for values[i]. A
    // click stores the value and reacts by the scheme in use.
    void BindRadioGroup(std::vector<CFgUIChkButton*> buttons, CSetting<uint32_t>* setting,
                        std::vector<uint32_t> values);
    // A numeric edit box bound to a setting: the text shows the value; on
    // losing the focus a valid text is stored, an invalid one replaced by
    // the stored value.
    void BindEdit(CFgUIEdit* edit, CSetting<uint32_t>* setting, EditNumberRule rule = {});
    void BindEdit(CFgUIEdit* edit, CSetting<double>* setting, EditNumberRule rule = {true, false, UINT64_MAX});
    // The deferred scheme: controls edit the pending copies, this button
    // ("set" / "決定") applies them.
    void UseSetButton(CFgUIButton* button);
    // A control changed a pending value.
    void Changed();
    // The "set" button: applies the pending copies and reruns.
    void ApplyPending();

private:
    struct RadioBinding {
        CDialogFilterBase* filter;
        std::vector<CFgUIChkButton*> buttons;
        CSetting<uint32_t>* setting;
        std::vector<uint32_t> values;
    };
    struct EditBinding {
        CDialogFilterBase* filter;
        CFgUIEdit* edit;
        CSetting<uint32_t>* unsignedSetting;
        CSetting<double>* realSetting;
        EditNumberRule rule;
    };
    static void OnRadio(CFgUIChkButton* button, void* data);
    static void OnEditChanged(CFgUIEdit* edit, void* data);
    static void OnEditCommit(CFgUIEdit* edit, void* data);
    static void OnSetButton(CFgUIButton* button, void* data);
    void ShowBoundValues();
    void ShowEditValue(EditBinding& b);
    std::list<RadioBinding> radios_;
    std::list<EditBinding> edits_;
    CFgUIButton* setButton_ = nullptr;
    bool attached_ = false;
};

// The frame for filter class Derived: one panel-position memory per class.
template <class Derived>
class CDialogFilter : public CDialogFilterBase {
protected:
    PanelPosition& ClassPosition() override {
        static PanelPosition last;
        return last;
    }
};
