#include "app/play_edit_ui.h"

#include <cwchar>
#include <initializer_list>

#include "app/dialog_support.h"
#include "app/main_screen.h"
#include "media/codec.h"
#include "media/image_module.h"
#include "toolkit/fg_msgbox.h"

namespace {

DialogPlace g_PlayEditPlace;

// 64-bit scene numbers as an unsigned decimal: digits only, or 0.
uint64_t EditTextToU64(const wchar_t* text) {
    if (!text) return 0;
    const uint32_t low = EditTextToU32(text);
    // Values that fit 32 bits read as a 32-bit strtoul reads them; longer
    // numbers of frames are read whole.
    uint64_t value = 0;
    const wchar_t* p = text;
    while (*p == L' ' || *p == L'\t') ++p;
    if (*p < L'0' || *p > L'9') return low;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
        if (value > (UINT64_MAX - 9) / 10) return UINT64_MAX;
        value = value * 10 + static_cast<uint64_t>(*p - L'0');
    }
    return value;
}

void ShowNumber(CFgUIEdit* edit, uint64_t value) {
    wchar_t number[24];
    std::swprintf(number, 24, L"%llu", static_cast<unsigned long long>(value));
    SetEditText(edit, number);
}

}  // namespace

CPlayEditUI::CPlayEditUI() {
    for (CFgUIEdit* e : {&startEdit, &endEdit, &stepEdit}) {
        e->changed = &CPlayEditUI::OnEditChanged;
        e->data = this;
    }
    for (CFgUIButton* b : {&startCopy, &endCopy, &setButton, &resetButton}) {
        b->callback = &CPlayEditUI::OnButton;
        b->data = this;
    }
    startLabel.SetRect(8, 8, 100, 20);
    startEdit.SetRect(116, 8, 60, 20);
    startCopy.SetRect(184, 8, 48, 20);
    endLabel.SetRect(8, 36, 100, 20);
    endEdit.SetRect(116, 36, 60, 20);
    endCopy.SetRect(184, 36, 48, 20);
    stepLabel.SetRect(8, 64, 100, 20);
    stepEdit.SetRect(116, 64, 60, 20);
    setButton.SetRect(8, 92, 168, 30);
    resetButton.SetRect(184, 92, 48, 30);
    for (CFgUIObj* c : std::initializer_list<CFgUIObj*>{&startLabel, &startEdit, &startCopy, &endLabel, &endEdit,
                                                        &endCopy, &stepLabel, &stepEdit, &setButton, &resetButton})
        AddChild(c);
    Layout();
}

void CPlayEditUI::Layout() {
    const bool en = english != 0;
    startLabel.SetText(en ? L"start" : L"開始シーン");
    endLabel.SetText(en ? L"end" : L"終了シーン");
    stepLabel.SetText(en ? L"step" : L"間隔");
    startCopy.SetLabel(L"COPY");
    endCopy.SetLabel(L"COPY");
    setButton.SetLabel(en ? L"SET" : L"設定");
    resetButton.SetLabel(en ? L"RESET" : L"初期化");
}

void CPlayEditUI::Show(CFgScreen* parentScreen) {
    ++filling_;
    ShowNumber(&startEdit, rangeStart);
    ShowNumber(&endEdit, rangeEnd);
    ShowNumber(&stepEdit, rangeStep);
    --filling_;
    editStart = rangeStart;
    editEnd = rangeEnd;
    editStep = rangeStep;
    int32_t px, py;
    DialogOpenPlace(placed, windowX, windowY, g_PlayEditPlace, &px, &py);
    Layout();
    if (!Create(px, py, 240, 130, english ? L"Video play edit" : L"動画再生設定", kFgStyleFixed, parentScreen)) return;
    Redraw();
}

void CPlayEditUI::ResetRange(uint64_t sceneCount) {
    rangeStart = 1;
    rangeEnd = sceneCount;
    rangeStep = 1;
    ++filling_;
    ShowNumber(&startEdit, 1);
    ShowNumber(&endEdit, sceneCount);
    ShowNumber(&stepEdit, 1);
    --filling_;
    editStart = 1;
    editEnd = sceneCount;
    editStep = 1;
    if (IsOpen()) Redraw();
}

void CPlayEditUI::SetLanguage(const wchar_t* code) {
    const uint32_t en = code && std::wcscmp(code, L"jp") == 0 ? 0 : 1;
    if (en == english) return;
    english = en;
    Layout();
    if (!IsOpen()) return;
    CFgScreen* parentScreen = parent;
    if (QueryClose()) Destroy();
    Show(parentScreen);
}

uint64_t CPlayEditUI::DocumentFrames() const {
    if (!mainScreen) return 1;
    if (mainScreen->movieFile) return mainScreen->movieFile->info.frame_count;
    if (mainScreen->moduleStream) return mainScreen->moduleStream->frames;
    return 1;
}

int32_t CPlayEditUI::Commit() {
    const bool en = english != 0;
    const uint64_t frames = DocumentFrames();
    const uint64_t m = frames ? frames - 1 : 0;
    const wchar_t* problem = nullptr;
    if (editStart == 0 || editEnd == 0 || editStep == 0 || editStart > editEnd)
        problem = en ? L"the value you entered is incorrect" : L"入力した値が間違っています";
    else if (editEnd - 1 > m || editStep > m)
        problem = en ? L"that's beyond the scope of the video" : L"動画の範囲を超えています";
    if (problem) {
        FgMessageBox(problem, en ? L"error" : L"エラー", 1, this);
        return 0;
    }
    rangeStart = editStart;
    rangeEnd = editEnd;
    rangeStep = editStep;
    if (mainScreen) mainScreen->SetPlayRange(editStart, editEnd, editStep);
    return 1;
}

void CPlayEditUI::CopyCurrent(CFgUIEdit* edit) {
    uint64_t value = 1;
    if (mainScreen && (mainScreen->movieFile || mainScreen->moduleStream) && mainScreen->sourceImage.buffer &&
        mainScreen->sourceImage.buffer->pixels)
        value = mainScreen->currentFrame + 1;
    ++filling_;
    ShowNumber(edit, value);
    --filling_;
    (edit == &startEdit ? editStart : editEnd) = value;
    Redraw();
}

int32_t CPlayEditUI::QueryClose() {
    RememberDialogPlace(this, &placed, &windowX, &windowY, &g_PlayEditPlace);
    return 1;
}

void CPlayEditUI::OnEditChanged(CFgUIEdit* edit, void* data) {
    auto* self = static_cast<CPlayEditUI*>(data);
    if (self->filling_) return;
    const uint64_t value = EditTextToU64(edit->GetText());
    if (edit == &self->startEdit)
        self->editStart = value;
    else if (edit == &self->endEdit)
        self->editEnd = value;
    else
        self->editStep = value;
}

void CPlayEditUI::OnButton(CFgUIButton* button, void* data) {
    auto* self = static_cast<CPlayEditUI*>(data);
    if (button == &self->startCopy)
        self->CopyCurrent(&self->startEdit);
    else if (button == &self->endCopy)
        self->CopyCurrent(&self->endEdit);
    else if (button == &self->resetButton)
        self->ResetRange(self->DocumentFrames());
    else
        self->Commit();
}
