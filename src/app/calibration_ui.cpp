#include "app/calibration_ui.h"

#include <GL/gl.h>

#include <cmath>
#include <cwchar>

#include "app/dialog_support.h"
#include "app/main_screen.h"
#include "filters/core/filterctrl.h"
#include "filters/core/textconv.h"
#include "toolkit/fg_msgbox.h"

namespace {

DialogPlace g_CalibrationPlace;

void CopyUnit(wchar_t* to, const wchar_t* from) {
    std::wcsncpy(to, from ? from : L"", kCalibUnitMax - 1);
    to[kCalibUnitMax - 1] = 0;
}

}  // namespace

void FormatCalibrationNumber(wchar_t* buffer, uint64_t size, double value) {
    DoubleToPlainText(buffer, static_cast<size_t>(size), value);
}

CCalibrationUI::CCalibrationUI() {
    yDownRadio.AddToGroup(&yUpRadio);
    yDownRadio.SelectInGroup(0, 0);
    yDownRadio.callback = yUpRadio.callback = &CCalibrationUI::OnRadio;
    yDownRadio.data = yUpRadio.data = this;
    for (CFgUIEdit* e : {&pixelsEdit, &lengthEdit, &unitEdit}) {
        e->changed = &CCalibrationUI::OnEditChanged;
        e->data = this;
    }
    setButton.callback = &CCalibrationUI::OnSet;
    setButton.data = this;
    yDownRadio.SetRect(8, 8, 128, 20);
    yUpRadio.SetRect(8, 28, 128, 20);
    pixelsLabel.SetRect(8, 56, 128, 20);
    pixelsEdit.SetRect(144, 56, 128, 20);
    lengthLabel.SetRect(8, 84, 128, 20);
    lengthEdit.SetRect(144, 84, 128, 20);
    unitLabel.SetRect(8, 112, 128, 20);
    unitEdit.SetRect(144, 112, 128, 20);
    setButton.SetRect(8, 140, 264, 28);
    for (CFgUIObj* c : std::initializer_list<CFgUIObj*>{&yDownRadio, &yUpRadio, &pixelsLabel, &pixelsEdit,
                                                        &lengthLabel, &lengthEdit, &unitLabel, &unitEdit, &setButton})
        AddChild(c);
    Label();
}

void CCalibrationUI::Label() {
    const bool en = english != 0;
    yDownRadio.SetLabel(en ? L"Y axis down" : L"Y軸下向き");
    yUpRadio.SetLabel(en ? L"Y axis up" : L"Y軸上向き");
    pixelsLabel.SetText(en ? L"pixels" : L"ピクセル距離");
    lengthLabel.SetText(en ? L"length" : L"実距離");
    unitLabel.SetText(en ? L"unit" : L"単位");
    setButton.SetLabel(en ? L"SET" : L"設定");
}

void CCalibrationUI::FillEdits() {
    ++filling_;
    yDownRadio.SelectInGroup(editAxisY < 0 ? 1 : 0, 0);
    wchar_t number[400];
    FormatCalibrationNumber(number, 400, editLength);
    SetEditText(&lengthEdit, number);
    FormatCalibrationNumber(number, 400, editPixels);
    SetEditText(&pixelsEdit, number);
    SetEditText(&unitEdit, editUnit);
    --filling_;
}

void CCalibrationUI::Show(CFgScreen* parentScreen) {
    editAxisY = axisY;
    editLength = scale;
    editPixels = 1.0;
    CopyUnit(editUnit, unit);
    pointX[0] = 0, pointY[0] = 0;
    pointX[1] = 1, pointY[1] = 0;
    FillEdits();
    int32_t px, py;
    DialogOpenPlace(placed, windowX, windowY, g_CalibrationPlace, &px, &py);
    Label();
    if (!Create(px, py, 280, 176, english ? L"Calibration" : L"キャリブレーション設定", kFgStyleFixed,
                parentScreen)) {
        if (mainScreen) mainScreen->Redraw();
        return;
    }
    Redraw();
}

void CCalibrationUI::SetCalibration(double newScale, int32_t newAxisY, const wchar_t* newUnit) {
    scale = newScale;
    axisY = newAxisY;
    CopyUnit(unit, newUnit);
    if (!IsOpen()) return;
    FillEdits();
    Redraw();
}

void CCalibrationUI::SetLanguage(const wchar_t* code) {
    const uint32_t en = code && std::wcscmp(code, L"jp") == 0 ? 0 : 1;
    if (en == english) return;
    english = en;
    Label();
    if (!IsOpen()) return;
    // Closed as the close box would, so the place is kept, and opened again.
    CFgScreen* parentScreen = parent;
    if (QueryClose()) Destroy();
    Show(parentScreen);
}

void CCalibrationUI::AddPoint(int32_t x, int32_t y) {
    if (pointCount >= 2) return;
    pointX[pointCount] = x;
    pointY[pointCount] = y;
    ++pointCount;
    if (mainScreen) mainScreen->Redraw();
    if (pointCount < 2) return;
    // In 64 bits: the squares overflow 32 bits beyond 46,340 pixels.
    const int64_t dx = static_cast<int64_t>(pointX[1]) - pointX[0];
    const int64_t dy = static_cast<int64_t>(pointY[1]) - pointY[0];
    editPixels = std::sqrt(static_cast<double>(dx * dx + dy * dy));
    wchar_t number[400];
    FormatCalibrationNumber(number, 400, editPixels);
    ++filling_;
    SetEditText(&pixelsEdit, number);
    --filling_;
    Redraw();
}

void CCalibrationUI::RemovePoint() {
    if (pointCount > 0) --pointCount;
    if (mainScreen) mainScreen->Redraw();
}

void CCalibrationUI::DrawPoints(int32_t viewX0, int32_t viewY0, int32_t viewX1, int32_t viewY1, int32_t imageX0,
                                int32_t imageY0, int32_t imageX1, int32_t imageY1, int32_t zoom) {
    if (pointCount <= 0) return;
    int32_t vx[2], vy[2];
    for (int32_t k = 0; k < pointCount && k < 2; ++k) {
        int64_t dx = static_cast<int64_t>(pointX[k]) - imageX0;
        int64_t dy = static_cast<int64_t>(pointY[k]) - imageY0;
        if (zoom == 0 || zoom == -1) {
            const double sx = static_cast<double>(viewX1 - viewX0 + 1) / static_cast<double>(imageX1 - imageX0 + 1);
            const double sy = static_cast<double>(viewY1 - viewY0 + 1) / static_cast<double>(imageY1 - imageY0 + 1);
            dx = static_cast<int64_t>(static_cast<double>(dx) * sx);
            dy = static_cast<int64_t>(static_cast<double>(dy) * sy);
            // The middle of an enlarged pixel.
            if (sx > 2) dx += static_cast<int64_t>(sx * 0.5);
            if (sy > 2) dy += static_cast<int64_t>(sy * 0.5);
        } else if (zoom >= 2) {
            dx = dx * zoom + zoom / 2;
            dy = dy * zoom + zoom / 2;
        } else if (zoom <= -2) {
            dx /= -zoom;
            dy /= -zoom;
        }
        vx[k] = static_cast<int32_t>(viewX0 + dx);
        vy[k] = static_cast<int32_t>(viewY0 + dy);
    }
    static const double kGuide[8][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1},
                                        {0, 1, 1}, {1, 0, 1}, {1, 1, 0}, {1, 1, 1}};
    const uint32_t g = mainScreen && mainScreen->guideColor < 8 ? mainScreen->guideColor : 1;
    glColor3d(kGuide[g][0], kGuide[g][1], kGuide[g][2]);
    auto vertex = [](int32_t x, int32_t y) { glVertex2d(OverlayPixelToGlX(x), OverlayPixelToGlY(y)); };
    if (pointCount == 1) {
        glBegin(GL_LINES);
        vertex(vx[0] - 4, vy[0]);
        vertex(vx[0] + 5, vy[0]);
        vertex(vx[0], vy[0] - 4);
        vertex(vx[0], vy[0] + 5);
        glEnd();
        return;
    }
    glBegin(GL_LINES);
    vertex(vx[0], vy[0]);
    vertex(vx[1], vy[1]);
    glEnd();
    glBegin(GL_POINTS);
    vertex(vx[1], vy[1]);
    glEnd();
}

void CCalibrationUI::Commit() {
    // Only a finite positive length and distance make a scale every filter
    // can use ("inf" and "nan" read as numbers, and a quotient may leave
    // the range of doubles).
    const double newScale = editLength / editPixels;
    const bool valid = std::isfinite(editLength) && std::isfinite(editPixels) && editLength > 0 && editPixels > 0 &&
                       std::isfinite(newScale) && newScale > 0;
    if (!valid) {
        FgMessageBox(english ? L"the length value is incorrect" : L"長さの値が間違っています",
                     english ? L"error" : L"エラー", 1, this);
        return;
    }
    axisY = editAxisY;
    scale = newScale;
    CopyUnit(unit, editUnit);
    if (!mainScreen) return;
    mainScreen->sidePanel.SetCalibration(scale, axisY, unit);
    mainScreen->sidePanel.Refilter(0);
}

int32_t CCalibrationUI::QueryClose() {
    RememberDialogPlace(this, &placed, &windowX, &windowY, &g_CalibrationPlace);
    return 1;
}

void CCalibrationUI::OnRadio(CFgUIChkButton* button, void* data) {
    auto* self = static_cast<CCalibrationUI*>(data);
    self->editAxisY = button == &self->yUpRadio ? -1 : 1;
}

void CCalibrationUI::OnEditChanged(CFgUIEdit* edit, void* data) {
    auto* self = static_cast<CCalibrationUI*>(data);
    if (self->filling_) return;
    const wchar_t* text = edit->GetText();
    if (edit == &self->pixelsEdit)
        self->editPixels = EditTextToDouble(text);
    else if (edit == &self->lengthEdit)
        self->editLength = EditTextToDouble(text);
    else
        CopyUnit(self->editUnit, text);
}

void CCalibrationUI::OnSet(CFgUIButton*, void* data) { static_cast<CCalibrationUI*>(data)->Commit(); }
