// The calibration dialog: the length scale, Y direction and unit every
// filter measures with. A pixel distance, typed or measured by two clicks on
// the picture while the dialog is open, and the real length it stands for
// give scale = length / pixels; SET commits it to the chain and re-runs it.
// The committed values here are the program's calibration record.
#pragma once

#include <cstdint>

#include "toolkit/fg_button.h"
#include "toolkit/fg_dialog.h"
#include "toolkit/fg_edit.h"
#include "toolkit/fg_label.h"

class CMainScreen;

constexpr int32_t kCalibUnitMax = 256;

class CCalibrationUI : public CFgUIDialog {
public:
    CCalibrationUI();

    uint32_t placed = 0;
    int32_t windowX = 0, windowY = 0;
    int32_t pointCount = 0;
    int32_t pointX[2] = {0, 1};
    int32_t pointY[2] = {0, 0};
    int32_t axisY = 1;   // +1 Y axis down, -1 up
    double scale = 1.0;  // length units per pixel
    wchar_t unit[kCalibUnitMax] = {};
    uint32_t english = 0;
    CMainScreen* mainScreen = nullptr;

    CFgUIChkButton yDownRadio, yUpRadio;
    CFgUILabel pixelsLabel, lengthLabel, unitLabel;
    CFgUIEdit pixelsEdit, lengthEdit, unitEdit;
    CFgUIButton setButton;

    int32_t editAxisY = 1;
    double editLength = 1.0;
    double editPixels = 1.0;
    wchar_t editUnit[kCalibUnitMax] = {};

    void Show(CFgScreen* parentScreen);
    bool IsOpen() const { return window != 0; }
    // A change from a filter or a loaded file: the committed values only;
    // an open dialog keeps showing its working values.
    void SetCalibration(double newScale, int32_t newAxisY, const wchar_t* newUnit);
    void SetLanguage(const wchar_t* code);
    void AddPoint(int32_t x, int32_t y);
    // Drops the last measured point (a right click on the picture).
    void RemovePoint();
    // The measured points over the picture, in the guide colour.
    void DrawPoints(int32_t viewX0, int32_t viewY0, int32_t viewX1, int32_t viewY1, int32_t imageX0, int32_t imageY0,
                    int32_t imageX1, int32_t imageY1, int32_t zoom);
    // SET: commits the working values when they make a scale.
    void Commit();
    int32_t QueryClose() override;

private:
    void Label();
    void FillEdits();
    static void OnRadio(CFgUIChkButton* button, void* data);
    static void OnEditChanged(CFgUIEdit* edit, void* data);
    static void OnSet(CFgUIButton* button, void* data);
    uint32_t filling_ = 0;  // edits being filled by the dialog itself
};

// A calibration number as the dialogs show it: plain decimal, no exponent.
void FormatCalibrationNumber(wchar_t* buffer, uint64_t size, double value);
