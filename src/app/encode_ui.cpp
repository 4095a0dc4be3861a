#include "app/encode_ui.h"

#include <cwchar>
#include <initializer_list>

#include "app/dialog_support.h"
#include "media/codec.h"
#include "toolkit/fg_msgbox.h"

const wchar_t* const kEncodeExtensions[4] = {L"bmp", L"jpg", L"png", L"tif"};

namespace {

DialogPlace g_EncodePlace;

}  // namespace

CEncodeUI::CEncodeUI() {
    for (int k = 1; k < 3; ++k) codecRadio[0].AddToGroup(&codecRadio[k]);
    rateRadio[0].AddToGroup(&rateRadio[1]);
    for (int k = 1; k < 4; ++k) extensionRadio[0].AddToGroup(&extensionRadio[k]);
    for (int k = 1; k < 3; ++k) pathRadio[0].AddToGroup(&pathRadio[k]);
    std::initializer_list<CFgUIChkButton*> buttons = {&codecRadio[0],     &codecRadio[1],     &codecRadio[2],
                                                      &rateRadio[0],      &rateRadio[1],      &keyFrameCheck,
                                                      &extensionRadio[0], &extensionRadio[1], &extensionRadio[2],
                                                      &extensionRadio[3], &guideCheck,        &areaCheck,
                                                      &pathRadio[0],      &pathRadio[1],      &pathRadio[2]};
    for (CFgUIChkButton* b : buttons) {
        b->callback = &CEncodeUI::OnRadio;
        b->data = this;
    }
    for (CFgUIEdit* e : {&bpsEdit, &qualityEdit, &keyFrameEdit, &jpegEdit}) {
        e->changed = &CEncodeUI::OnEditChanged;
        e->data = this;
    }
    setButton.callback = &CEncodeUI::OnSet;
    setButton.data = this;
    for (CFgUIObj* c : std::initializer_list<CFgUIObj*>{
             &codecLabel, &codecRadio[0], &codecRadio[1], &codecRadio[2], &mp4Label, &rateRadio[0], &bpsEdit,
             &rateRadio[1], &qualityEdit, &keyFrameCheck, &keyFrameEdit, &extensionLabel, &extensionRadio[0],
             &extensionRadio[1], &extensionRadio[2], &extensionRadio[3], &jpegLabel, &jpegEdit, &guideCheck,
             &areaCheck, &pathLabel, &pathRadio[0], &pathRadio[1], &pathRadio[2], &setButton})
        AddChild(c);
    Layout();
}

void CEncodeUI::Layout() {
    const bool en = english != 0;
    codecLabel.SetRect(8, 8, en ? 64 : 80, 20);
    codecLabel.SetText(en ? L"avi codec" : L"AVI圧縮方式");
    codecRadio[0].SetRect(8, 28, 70, 20);
    codecRadio[0].SetLabel(en ? L"bitmap" : L"無圧縮");
    codecRadio[1].SetRect(86, 28, 56, 20);
    codecRadio[1].SetLabel(L"jpg");
    codecRadio[2].SetRect(150, 28, 48, 20);
    codecRadio[2].SetLabel(L"png");
    mp4Label.SetRect(8, 56, en ? 80 : 56, 20);
    mp4Label.SetText(en ? L"mp4 quality" : L"MP4品質");
    rateRadio[0].SetRect(8, 76, 152, 20);
    rateRadio[0].SetLabel(L"bps");
    bpsEdit.SetRect(168, 76, 64, 20);
    rateRadio[1].SetRect(8, 96, 152, 20);
    rateRadio[1].SetLabel(en ? L"quality(1-100:101)" : L"品質(1-100:101MAX)");
    qualityEdit.SetRect(168, 96, 64, 20);
    keyFrameCheck.SetRect(8, 116, 152, 20);
    keyFrameCheck.SetLabel(en ? L"keyframe" : L"キー間隔");
    keyFrameEdit.SetRect(168, 116, 64, 20);
    extensionLabel.SetRect(8, 148, en ? 112 : 84, 20);
    extensionLabel.SetText(en ? L"image extensions" : L"画像の拡張子");
    for (int k = 0; k < 4; ++k) {
        // 80 pixels wide at a spacing of 56: the radios overlap.
        extensionRadio[k].SetRect(8 + 56 * k, 168, 80, 20);
        extensionRadio[k].SetLabel(kEncodeExtensions[k]);
    }
    if (en)
        jpegLabel.SetRect(8, 200, 136, 20);
    else
        jpegLabel.SetRect(8, 196, 112, 20);
    jpegLabel.SetText(en ? L"jpeg quality(1-100)" : L"JPEG品質(1-100)");
    jpegEdit.SetRect(8, 220, 32, 20);
    guideCheck.SetRect(8, 256, 224, 20);
    guideCheck.SetLabel(en ? L"save with guide" : L"ガイド描画も含めて保存");
    areaCheck.SetRect(8, 280, 224, 20);
    areaCheck.SetLabel(en ? L"save selected area" : L"選択領域内のみ保存");
    pathLabel.SetRect(8, 312, en ? 224 : 200, 28);
    pathLabel.SetText(en ? L"Default path when selecting file" : L"ファイル選択時のデフォルト値");
    static const wchar_t* const kPathEn[3] = {L"Individually managed", L"Prefer original image path",
                                              L"Priority to current path"};
    static const wchar_t* const kPathJp[3] = {L"個別に管理", L"元画像パスを優先", L"カレントパスを優先"};
    for (int k = 0; k < 3; ++k) {
        pathRadio[k].SetRect(8, 336 + 20 * k, 224, 28);
        pathRadio[k].SetLabel(en ? kPathEn[k] : kPathJp[k]);
    }
    setButton.SetRect(8, 416, 224, 28);
    setButton.SetLabel(en ? L"SET" : L"設定");
}

void CEncodeUI::Show(CFgScreen* parentScreen) {
    working = *static_cast<const EncodeValues*>(this);
    workingExtension = 2;
    for (int k = 0; k < 4; ++k)
        if (std::wcscmp(extension, kEncodeExtensions[k]) == 0) workingExtension = k;
    ++filling_;
    codecRadio[0].SelectInGroup(working.aviCodec < 3 ? static_cast<int32_t>(working.aviCodec) : -1, 0);
    rateRadio[0].SelectInGroup(working.mp4RateMode < 2 ? static_cast<int32_t>(working.mp4RateMode) : -1, 0);
    extensionRadio[0].SelectInGroup(workingExtension, 0);
    pathRadio[0].SelectInGroup(working.pathPolicy < 3 ? static_cast<int32_t>(working.pathPolicy) : -1, 0);
    keyFrameCheck.checked = working.mp4KeyFrameOn ? 1 : 0;
    guideCheck.checked = working.saveWithGuide ? 1 : 0;
    areaCheck.checked = working.saveSelectedArea ? 1 : 0;
    wchar_t number[16];
    std::swprintf(number, 16, L"%u", working.mp4Bps);
    SetEditText(&bpsEdit, number);
    std::swprintf(number, 16, L"%u", working.mp4Quality);
    SetEditText(&qualityEdit, number);
    std::swprintf(number, 16, L"%u", working.mp4KeyFrame);
    SetEditText(&keyFrameEdit, number);
    std::swprintf(number, 16, L"%u", working.jpegQuality);
    SetEditText(&jpegEdit, number);
    --filling_;
    int32_t px, py;
    DialogOpenPlace(placed, windowX, windowY, g_EncodePlace, &px, &py);
    Layout();
    if (!Create(px, py, 240, 448, english ? L"Image save settings" : L"画像保存設定", kFgStyleFixed, parentScreen))
        return;
    Redraw();
}

void CEncodeUI::SetLanguage(const wchar_t* code) {
    const uint32_t en = code && std::wcscmp(code, L"jp") == 0 ? 0 : 1;
    if (en == english) return;
    english = en;
    Layout();
    if (!IsOpen()) return;
    CFgScreen* parentScreen = parent;
    if (QueryClose()) Destroy();
    Show(parentScreen);
}

int32_t CEncodeUI::Commit() {
    const wchar_t* problem = nullptr;
    const bool en = english != 0;
    if (working.jpegQuality < 1 || working.jpegQuality > 100)
        problem = en ? L"Jpg quality should be in the range of 1-100" : L"JPG品質は1-100の範囲の値を設定してください";
    else if (working.mp4Quality < 1 || working.mp4Quality > 101)
        problem = en ? L"Mp4 quality should be in the range of 1-101" : L"MP4品質は1-101の範囲の値を設定してください";
    else if (working.mp4Bps == 0)
        problem = en ? L"bps, Please set a value of 1 or more" : L"bpsは1以上の値を設定してください";
    else if (working.mp4KeyFrame == 0)
        problem = en ? L"keyframe, Please set a value of 1 or more" : L"keyframeは1以上の値を設定してください";
    if (problem) {
        FgMessageBox(problem, en ? L"error" : L"エラー", 1, this);
        return 0;
    }
    *static_cast<EncodeValues*>(this) = working;
    if (workingExtension >= 0 && workingExtension < 4) std::wcscpy(extension, kEncodeExtensions[workingExtension]);
    return 1;
}

void CEncodeUI::GetWriteOptions(codec_write_options* options) const {
    if (!options) return;
    *options = {jpegQuality, aviCodec, spare, mp4RateMode == 1 ? mp4Quality : 0, mp4Bps,
                mp4KeyFrameOn ? mp4KeyFrame : 0};
}

int32_t CEncodeUI::QueryClose() {
    RememberDialogPlace(this, &placed, &windowX, &windowY, &g_EncodePlace);
    return 1;
}

void CEncodeUI::OnRadio(CFgUIChkButton* button, void* data) {
    auto* self = static_cast<CEncodeUI*>(data);
    if (self->filling_) return;
    EncodeValues& w = self->working;
    auto selection = [](const CFgUIChkButton& leader) {
        const int32_t s = leader.GetGroupSelection();
        return s;
    };
    if (button->leader == &self->codecRadio[0])
        w.aviCodec = static_cast<uint32_t>(selection(self->codecRadio[0]));
    else if (button->leader == &self->rateRadio[0])
        w.mp4RateMode = static_cast<uint32_t>(selection(self->rateRadio[0]));
    else if (button->leader == &self->extensionRadio[0])
        self->workingExtension = selection(self->extensionRadio[0]);
    else if (button->leader == &self->pathRadio[0])
        w.pathPolicy = static_cast<uint32_t>(selection(self->pathRadio[0]));
    else if (button == &self->keyFrameCheck)
        w.mp4KeyFrameOn = button->checked ? 1 : 0;
    else if (button == &self->guideCheck)
        w.saveWithGuide = button->checked ? 1 : 0;
    else if (button == &self->areaCheck)
        w.saveSelectedArea = button->checked ? 1 : 0;
}

void CEncodeUI::OnEditChanged(CFgUIEdit* edit, void* data) {
    auto* self = static_cast<CEncodeUI*>(data);
    if (self->filling_) return;
    const uint32_t value = EditTextToU32(edit->GetText());
    EncodeValues& w = self->working;
    if (edit == &self->bpsEdit)
        w.mp4Bps = value;
    else if (edit == &self->qualityEdit)
        w.mp4Quality = value;
    else if (edit == &self->keyFrameEdit)
        w.mp4KeyFrame = value;
    else
        w.jpegQuality = value;
}

void CEncodeUI::OnSet(CFgUIButton*, void* data) { static_cast<CEncodeUI*>(data)->Commit(); }
