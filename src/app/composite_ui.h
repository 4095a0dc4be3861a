// The composite dialog: up to four image files, read as grey values, become
// the components of one colour image in RGB, HSV, CMY, CMYK, XYZ, L*a*b* or
// L*C*h. The result is previewed in the dialog; OPEN makes it the document
// and SAVE writes it to a file.
#pragma once

#include <cstdint>

#include "image/imgbuff.h"
#include "toolkit/fg_button.h"
#include "toolkit/fg_dialog.h"
#include "toolkit/fg_edit.h"
#include "toolkit/fg_picture.h"

class CMainScreen;

enum : int32_t {
    kCompositeRgb = 0,
    kCompositeHsv = 1,
    kCompositeCmy = 2,
    kCompositeCmyk = 3,
    kCompositeXyz = 4,
    kCompositeLab = 5,
    kCompositeLch = 6,
};

// Composes `result` from the channel images (rows 0-2, and 3 for CMYK;
// empty channels are skipped) in colour space `space`; 0 when no channel
// holds an image or the result cannot be made (the result is then empty).
int32_t ComposeChannels(const CImgBuff* const channels[4], int32_t space, CImgBuff* result);

class CCompositeUI : public CFgUIDialog {
public:
    CCompositeUI();

    uint32_t placed = 0;
    int32_t windowX = 0, windowY = 0;
    uint32_t english = 0;
    CMainScreen* mainScreen = nullptr;

    CFgUIChkButton spaceRadio[7];
    CFgUIEdit pathEdit[4];
    CFgUIButton selButton[4], delButton[4];
    CFgUIButton openButton, saveButton;
    CFgUIPicture preview;
    CImgBuff channels[4];
    CImgBuff result;
    int32_t rowMarker[4] = {};  // -1: the row's image was chosen with SEL

    void Show(CFgScreen* parentScreen);
    bool IsOpen() const { return window != 0; }
    void SetLanguage(const wchar_t* code);
    // Row k from a path: empty or missing empties it (success); a file that
    // cannot be read leaves the channel as it was (0). Shows nothing.
    int32_t LoadRow(int32_t k, const wchar_t* path);
    void Select(int32_t k);
    void Delete(int32_t k);
    void Compose();
    void OpenResult();
    void SaveResult();
    void UpdateEnabled();
    int32_t QueryClose() override;

private:
    void Layout();
    static void OnRadio(CFgUIChkButton* button, void* data);
    static void OnEditChanged(CFgUIEdit* edit, void* data);
    static void OnButton(CFgUIButton* button, void* data);
    uint32_t filling_ = 0;
};
