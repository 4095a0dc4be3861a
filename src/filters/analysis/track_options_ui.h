// The small window in which the user edits the binarisation options of the
// colour tracker: the choice among several regions, noise removal by size,
// regions on the edge of the search box, hole fill and the preview mode.
// The controller's options block changes only when SET is pressed.
#pragma once

#include <atomic>
#include <cstdint>

#include "filters/analysis/track_ctrl.h"
#include "toolkit/fg_button.h"
#include "toolkit/fg_dialog.h"
#include "toolkit/fg_edit.h"
#include "toolkit/fg_tab.h"

class CTrack2ValOptUI : public CFgUIDialog {
public:
    using ApplyFn = void (*)(void* user);

    CTrack2ValOptUI();
    ~CTrack2ValOptUI() override;

    std::atomic<uint32_t>* block = nullptr;  // the options block being edited, not owned
    wchar_t language[65] = L"jp";
    uint32_t noiseLow = 0, noiseHigh = 0;
    ApplyFn apply = nullptr;
    void* applyUser = nullptr;

    CFgUIGroup group;
    CFgUIChkButton radios[3];
    CFgUIChkButton noiseAuto, noiseLess, noiseMore;
    CFgUIEdit lowEdit, highEdit;
    CFgUIChkButton edgeCheck, holeCheck, previewCheck;
    CFgUIButton setButton;

    // Loads the block into the controls and shows the window (a window that
    // is already open is reloaded, not doubled). 0 for a null block or a
    // window that cannot be made.
    int32_t Open(std::atomic<uint32_t>* options, CFgScreen* parentScreen);
    void Relabel(const wchar_t* languageCode);
    void ApplyRule();
    // Validates an edit box: a positive decimal count is taken, anything
    // else shows the last accepted number again.
    void CommitEdit(CFgUIEdit* edit);
    void Set();
};
