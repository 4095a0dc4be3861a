#include "filters/analysis/track_options_ui.h"

#include <cstdint>
#include <cstdio>
#include <cwchar>

#include "filters/processing/edit_commit.h"
#include "platform/plat_window.h"

namespace {

void ShowNumber(CFgUIEdit* edit, uint32_t value) {
    wchar_t text[32];
    std::swprintf(text, 32, L"%ld", static_cast<long>(value));
    auto changed = edit->changed;
    edit->changed = nullptr;
    edit->SetLineText(0, text);
    edit->changed = changed;
}

}  // namespace

CTrack2ValOptUI::CTrack2ValOptUI() {
    for (int i = 1; i < 3; ++i) radios[0].AddToGroup(&radios[i]);
    CFgUIObj* controls[] = {&group,     &radios[0],  &radios[1], &radios[2], &noiseAuto,  &noiseLess,    &lowEdit,
                            &noiseMore, &highEdit,   &edgeCheck, &holeCheck, &previewCheck, &setButton};
    for (CFgUIObj* c : controls) AddChild(c);
    for (CFgUIChkButton* c : {&noiseAuto, &noiseLess, &noiseMore}) {
        c->data = this;
        c->callback = [](CFgUIChkButton*, void* data) {
            auto* d = static_cast<CTrack2ValOptUI*>(data);
            d->ApplyRule();
            d->CFgUICtrl::Redraw();
        };
    }
    for (CFgUIEdit* e : {&lowEdit, &highEdit}) {
        e->data = this;
        e->focusLost = [](CFgUIEdit* edit, void* data) { static_cast<CTrack2ValOptUI*>(data)->CommitEdit(edit); };
    }
    setButton.data = this;
    setButton.callback = [](CFgUIButton*, void* data) { static_cast<CTrack2ValOptUI*>(data)->Set(); };
    Relabel(nullptr);
}

CTrack2ValOptUI::~CTrack2ValOptUI() {
    // The controls are members: unlink them before the container goes.
    while (first) RemoveChild(first);
}

int32_t CTrack2ValOptUI::Open(std::atomic<uint32_t>* options, CFgScreen* parentScreen) {
    if (!options) return 0;
    block = options;
    radios[0].SelectInGroup(static_cast<int32_t>(block[kTrackOptMultiSelect].load()) <= 2
                                ? static_cast<int32_t>(block[kTrackOptMultiSelect].load())
                                : -1,
                            0);
    noiseAuto.checked = block[kTrackOptNoiseAuto] ? 1 : 0;
    noiseLess.checked = block[kTrackOptNoiseEnableLow] ? 1 : 0;
    noiseMore.checked = block[kTrackOptNoiseEnableHigh] ? 1 : 0;
    ShowNumber(&lowEdit, block[kTrackOptNoiseLow]);
    ShowNumber(&highEdit, block[kTrackOptNoiseHigh]);
    edgeCheck.checked = block[kTrackOptWindowCut] ? 1 : 0;
    holeCheck.checked = block[kTrackOptHoleFill] ? 1 : 0;
    previewCheck.checked = block[kTrackOptPreview] ? 1 : 0;
    noiseLow = block[kTrackOptNoiseLow];
    noiseHigh = block[kTrackOptNoiseHigh];
    // An open window is reloaded in place.
    if (!window && !Create(-1, -1, 232, 262, L"", kFgStyleFixed, parentScreen)) return 0;
    Relabel(language);
    ApplyRule();
    return 1;
}

void CTrack2ValOptUI::Relabel(const wchar_t* languageCode) {
    if (languageCode && *languageCode && languageCode != language) {
        std::wcsncpy(language, languageCode, 64);
        language[64] = 0;
    }
    const bool jp = std::wcscmp(language, L"jp") == 0;
    if (window) {
        std::wcsncpy(title, jp ? L"2値化追跡設定" : L"Binary tracking settings", 255);
        PlatSetWindowTitle(window, title);
    }
    struct Item {
        CFgUIObj* control;
        int32_t x, y, w, h;
        const wchar_t* en;
        const wchar_t* ja;
    } items[] = {
        {&group, 8, 8, 216, 80, L"select from multiple", L"複数候補時処理"},
        {&radios[0], 16, 24, 200, 20, L"manual", L"マニュアル入力"},
        {&radios[1], 16, 44, 200, 20, L"choice by prediction X,Y", L"予測点に近いものを選択"},
        {&radios[2], 16, 64, 200, 20, L"choice by size", L"大きいものを選択"},
        {&noiseAuto, 8, 96, 216, 20, L"noise remove (auto)", L"ノイズ除去(自動設定)"},
        {&noiseLess, 8, 116, 160, 20, L"noise remove (less)", L"ノイズ除去(以下)"},
        {&lowEdit, 168, 116, 56, 20, nullptr, nullptr},
        {&noiseMore, 8, 136, 160, 20, L"noise remove (more)", L"ノイズ除去(以上)"},
        {&highEdit, 168, 136, 56, 20, nullptr, nullptr},
        {&edgeCheck, 8, 156, 216, 20, L"delete one that on the edge", L"追跡枠に掛かったものは削除"},
        {&holeCheck, 8, 176, 216, 20, L"holl fill", L"穴埋め"},
        {&previewCheck, 8, 196, 216, 20, L"preview on", L"プレビューに反映"},
        {&setButton, 8, 224, 216, 30, L"SET", L"設定"},
    };
    for (const Item& it : items) {
        it.control->SetRect(it.x, it.y, it.w, it.h);
        const wchar_t* text = jp ? it.ja : it.en;
        if (!text) continue;
        if (it.control == &group)
            group.label = text;
        else if (it.control == &setButton)
            setButton.SetLabel(text);
        else
            static_cast<CFgUIChkButton*>(it.control)->SetLabel(text);
    }
    ApplyRule();
    if (window) CFgUICtrl::Redraw();
}

void CTrack2ValOptUI::ApplyRule() {
    auto enable = [this](CFgUIObj* c, bool on) {
        c->enabled = on ? 1 : 0;
        if (!on && focused == c) FocusNext();
    };
    const bool manual = !noiseAuto.checked;
    enable(&noiseLess, manual);
    enable(&noiseMore, manual);
    enable(&lowEdit, manual && noiseLess.checked);
    enable(&highEdit, manual && noiseMore.checked);
}

void CTrack2ValOptUI::CommitEdit(CFgUIEdit* edit) {
    uint32_t* number = edit == &lowEdit ? &noiseLow : &noiseHigh;
    double value = 0;
    const EditNumberRule rule{false, true, UINT32_MAX};
    if (ParseEditNumber(edit->GetText(), rule, &value))
        *number = static_cast<uint32_t>(value);
    else
        ShowNumber(edit, *number);
    if (window) CFgUICtrl::Redraw();
}

void CTrack2ValOptUI::Set() {
    // The box being typed into counts as committed.
    if (focused == &lowEdit || focused == &highEdit) CommitEdit(static_cast<CFgUIEdit*>(focused));
    if (!block) return;
    block[kTrackOptMultiSelect] = static_cast<uint32_t>(radios[0].GetGroupSelection());
    block[kTrackOptNoiseAuto] = noiseAuto.checked ? 1 : 0;
    block[kTrackOptNoiseEnableLow] = noiseLess.checked ? 1 : 0;
    block[kTrackOptNoiseEnableHigh] = noiseMore.checked ? 1 : 0;
    block[kTrackOptNoiseLow] = noiseLow;
    block[kTrackOptNoiseHigh] = noiseHigh;
    block[kTrackOptWindowCut] = edgeCheck.checked ? 1 : 0;
    block[kTrackOptHoleFill] = holeCheck.checked ? 1 : 0;
    block[kTrackOptPreview] = previewCheck.checked ? 1 : 0;
    if (apply) apply(applyUser);
}
