// The play range dialog: a start scene, an end scene and a step, counted
// from 1. SET hands them to the main screen, whose scene bar then runs over
// the frames start - 1, start - 1 + step, ... up to end - 1.
#pragma once

#include <cstdint>

#include "toolkit/fg_button.h"
#include "toolkit/fg_dialog.h"
#include "toolkit/fg_edit.h"
#include "toolkit/fg_label.h"

class CMainScreen;

class CPlayEditUI : public CFgUIDialog {
public:
    CPlayEditUI();

    uint32_t placed = 0;
    int32_t windowX = 0, windowY = 0;
    uint64_t rangeStart = 1, rangeEnd = 1, rangeStep = 1;
    uint32_t english = 0;
    CMainScreen* mainScreen = nullptr;

    CFgUILabel startLabel, endLabel, stepLabel;
    CFgUIEdit startEdit, endEdit, stepEdit;
    CFgUIButton startCopy, endCopy, setButton, resetButton;

    uint64_t editStart = 1, editEnd = 1, editStep = 1;

    void Show(CFgScreen* parentScreen);
    bool IsOpen() const { return window != 0; }
    // A new document of `sceneCount` scenes: the whole of it, not applied.
    void ResetRange(uint64_t sceneCount);
    void SetLanguage(const wchar_t* code);
    // SET: 1 when the range was applied.
    int32_t Commit();
    void CopyCurrent(CFgUIEdit* edit);
    int32_t QueryClose() override;

private:
    void Layout();
    // Frames of the document for the range: the movie's count, 1 for a
    // still (which stays one scene), 0 without an image.
    uint64_t DocumentFrames() const;
    static void OnEditChanged(CFgUIEdit* edit, void* data);
    static void OnButton(CFgUIButton* button, void* data);
    uint32_t filling_ = 0;
};
