// The image save settings dialog: the extension of saved images, the JPEG
// quality, the AVI frame codec, the MP4 rate control and key-frame interval,
// the start folder of file selections, and whether saved pictures carry the
// guides or only the selected area. The dialog edits working copies; SET
// checks and commits them. The committed values are what every save, file
// selection and the settings file use.
#pragma once

#include <cstdint>

#include "toolkit/fg_button.h"
#include "toolkit/fg_dialog.h"
#include "toolkit/fg_edit.h"
#include "toolkit/fg_label.h"

struct codec_write_options;

// The values the dialog edits.
struct EncodeValues {
    uint32_t jpegQuality = 75;
    uint32_t aviCodec = 1;  // 0 bitmap, 1 JPEG, 2 PNG
    uint32_t spare = 0;
    uint32_t mp4Quality = 25;
    uint32_t mp4Bps = 5000000;
    uint32_t mp4KeyFrame = 10;
    uint32_t mp4RateMode = 0;  // 0 bit rate, 1 quality
    uint32_t mp4KeyFrameOn = 1;
    uint32_t saveWithGuide = 0;
    uint32_t saveSelectedArea = 0;
    uint32_t pathPolicy = 2;  // 0 separate folders, 1 open folder first, 2 save folder first
};

class CEncodeUI : public CFgUIDialog, public EncodeValues {
public:
    CEncodeUI();

    uint32_t placed = 0;
    int32_t windowX = 0, windowY = 0;
    uint32_t english = 0;
    // The committed image extension: "bmp", "jpg", "png" or "tif" as SET
    // leaves it; the settings file may put any four characters here.
    wchar_t extension[5] = L"png";

    CFgUILabel codecLabel;
    CFgUIChkButton codecRadio[3];
    CFgUILabel mp4Label;
    CFgUIChkButton rateRadio[2];
    CFgUIEdit bpsEdit, qualityEdit;
    CFgUIChkButton keyFrameCheck;
    CFgUIEdit keyFrameEdit;
    CFgUILabel extensionLabel;
    CFgUIChkButton extensionRadio[4];
    CFgUILabel jpegLabel;
    CFgUIEdit jpegEdit;
    CFgUIChkButton guideCheck, areaCheck;
    CFgUILabel pathLabel;
    CFgUIChkButton pathRadio[3];
    CFgUIButton setButton;

    EncodeValues working;
    int32_t workingExtension = 2;

    void Show(CFgScreen* parentScreen);
    bool IsOpen() const { return window != 0; }
    void SetLanguage(const wchar_t* code);
    // SET: 1 when the working values passed the checks and were committed.
    int32_t Commit();
    // The six values the writers take: the quality only in quality mode, the
    // key-frame interval only when it is switched on.
    void GetWriteOptions(codec_write_options* options) const;
    int32_t QueryClose() override;

private:
    void Layout();
    static void OnRadio(CFgUIChkButton* button, void* data);
    static void OnEditChanged(CFgUIEdit* edit, void* data);
    static void OnSet(CFgUIButton* button, void* data);
    uint32_t filling_ = 0;
};

// The four extensions of saved images, in radio order.
extern const wchar_t* const kEncodeExtensions[4];
