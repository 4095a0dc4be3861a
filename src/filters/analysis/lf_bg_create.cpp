#include "filters/analysis/lf_bg_create.h"

#include <new>

#include "filters/analysis/sequence_run.h"
#include "filters/core/filterctrl.h"
#include "image/kernels/background_create.h"
#include "media/frame_output.h"
#include "media/codec.h"
#include "toolkit/fg_file_select.h"
#include "toolkit/fg_msgbox.h"

CImgFilter* CreateLfBgCreate() { return new (std::nothrow) CLfBgCreate; }

CLfBgCreate::CLfBgCreate() {
    for (int i = 0; i < 6; ++i) {
        if (i) methodButtons[0].AddToGroup(&methodButtons[i]);
        methodButtons[i].callback = OnRadio;
        methodButtons[i].data = this;
    }
    noiseBar.orientation = kFgBarHorizontal;
    noiseBar.minimum = 2;
    noiseBar.maximum = 20;
    noiseBar.page = 1;
    noiseBar.step = 1;
    noiseBar.callback = OnBar;
    noiseBar.data = this;
    saveButton.callback = OnButton;
    saveButton.data = this;
    ShowSettings();
    AttachControls();
}

PanelSpec CLfBgCreate::Panel() {
    const bool jp = Japanese();
    const int32_t labelX = jp ? 112 : 120, labelW = jp ? 184 : 176;
    return {L"Generate BG image", L"背景画像の作成", 304, 184, 304, 184,
            {
                {&methodButtons[0], 8, 8, jp ? 80 : 104, 20, L"RGB average", L"RGB平均"},
                {&methodButtons[1], 8, 28, 96, 20, L"RGB maxmum", L"RGB最大値"},
                {&methodButtons[2], 8, 48, 96, 20, L"RGB minmum", L"RGB最小値"},
                {&methodButtons[3], 8, 68, jp ? 216 : 232, 20, L"L*a*b* average(noise removal)",
                 L"L*a*b*平均(ノイズ排除)"},
                {&methodButtons[4], 8, 88, 216, 20, L"RGB maxmum(noise removal)", L"RGB最大値(ノイズ排除)"},
                {&methodButtons[5], 8, 108, 216, 20, L"RGB minmum(noise removal)", L"RGB最小値(ノイズ排除)"},
                {&noiseLabel, labelX, 8, labelW, 20, L"degree of noise removal", L"ノイズ除去レベル"},
                {&noiseBar, labelX, 28, labelW, 20, nullptr, nullptr},
                {&saveButton, 8, 140, 288, 36, Running() ? L"CANCEL" : L"SAVE", Running() ? L"中止" : L"画像を保存"},
            }};
}

void CLfBgCreate::ApplyRules() {
    const bool idle = !Running();
    for (CFgUIChkButton& b : methodButtons) b.enabled = idle ? 1 : 0;
    noiseLabel.enabled = noiseBar.enabled = idle && method.Get() == 3 ? 1 : 0;
    saveButton.enabled = 1;
    if (focused && focused != &saveButton && !focused->enabled) FocusNext();
    if (PanelShown()) CFgUICtrl::Redraw();
}

void CLfBgCreate::ShowSettings() {
    methodButtons[0].SelectInGroup(static_cast<int32_t>(method.Get()), 0);
    noiseBar.position = noiseLevel.Get();
}

void CLfBgCreate::EnableUi(int32_t enable) {
    if (Running()) return;
    CDialogFilter<CLfBgCreate>::EnableUi(enable);
}

int32_t CLfBgCreate::QueryClose() {
    if (Running()) return 0;
    return CDialogFilter<CLfBgCreate>::QueryClose();
}

void CLfBgCreate::OnRadio(CFgUIChkButton* button, void* data) {
    auto* f = static_cast<CLfBgCreate*>(data);
    const int32_t index = (button->leader ? button->leader : button)->GetGroupSelection();
    if (index < 0 || index > 5) return;
    f->method.Set(static_cast<uint32_t>(index));
    f->ApplyRules();
}

void CLfBgCreate::OnBar(CFgUIScrollBar*, void* data, int32_t position) {
    static_cast<CLfBgCreate*>(data)->noiseLevel.Set(position);
}

void CLfBgCreate::OnButton(CFgUIButton*, void* data) {
    auto* f = static_cast<CLfBgCreate*>(data);
    if (f->run_) {
        f->run_->Cancel();
        return;
    }
    f->SaveCommand();
}

int32_t CLfBgCreate::OnFilter(CImgBuff* image, uint64_t frame, int64_t, int64_t, int64_t, int64_t, uint32_t, uint32_t,
                              uint32_t*, uint32_t*) {
    // The plain methods fold the frame where it lies; the noise-excluding
    // ones fetch it twice and take a copy.
    if (fold_.load()) CSequenceRun::Visit(this, image, frame, FoldVisit, this);
    else CSequenceRun::Capture(this, image, frame);
    return 1;
}

int32_t CLfBgCreate::FoldVisit(const CImgBuff* image, void* filter) {
    ImgBackgroundFold* fold = static_cast<CLfBgCreate*>(filter)->fold_.load();
    if (!fold) return 0;
    // A refused frame still counts as delivered: the run then stops on the
    // fold's count, not as a missing frame.
    fold->Add(image);
    return 1;
}

int32_t CLfBgCreate::FoldFrames(CSequenceRun& run, int32_t mode, uint64_t count, CImgBuff* background) {
    ImgBackgroundFold fold(mode);
    fold_.store(&fold);
    int32_t result = 1;
    for (uint64_t i = 0; i < count && result == 1; ++i) {
        const uint64_t before = fold.Count();
        const CSequenceRun::StepResult got = run.Step(i, nullptr);
        if (got == CSequenceRun::kMissing && lostFrame_ < 0) lostFrame_ = static_cast<int64_t>(i);
        // Out of memory for the accumulators, or the frame not delivered.
        if (got != CSequenceRun::kReady || fold.Count() != before + 1) result = 0;
    }
    fold_.store(nullptr);
    return result == 1 ? fold.Finish(background) : 0;
}

int32_t CLfBgCreate::FetchFrame(uint64_t index, CImgBuff* image, void* filter) {
    auto* f = static_cast<CLfBgCreate*>(filter);
    if (!f || !f->run_) return 0;
    const CSequenceRun::StepResult got = f->run_->Step(index, image);
    // The background is made of every frame or not at all: the first frame
    // missing ends it, and is named.
    if (got == CSequenceRun::kMissing && f->lostFrame_ < 0) f->lostFrame_ = static_cast<int64_t>(index);
    return got == CSequenceRun::kReady ? 1 : 0;
}

int32_t CLfBgCreate::Generate(CImgBuff* background) {
    // The kernels take a destination that already has a format; frame 0
    // then gives it its size and format.
    if (run_ || !background->buffer || !background->buffer->Create(1, 1, kImgGray8)) return 0;
    CSequenceRun run(this);
    const bool jp = Japanese();
    if (run.Begin(&saveButton, jp ? L"中止" : L"CANCEL") != CSequenceRun::kStarted) return 0;
    run_ = &run;
    lostFrame_ = -1;
    ApplyRules();
    const uint64_t count = CImgFilter::frames ? CImgFilter::frames : 1;
    int32_t result = 0;
    switch (method.Get()) {
        case 0: result = FoldFrames(run, 0, count, background); break;
        case 1: result = FoldFrames(run, 1, count, background); break;
        case 2: result = FoldFrames(run, -1, count, background); break;
        case 3:
            result = ImgCreateBackgroundDenoised(background, count, 0, static_cast<double>(noiseLevel.Get()),
                                                 FetchFrame, this);
            break;
        case 4: result = ImgCreateBackgroundDenoised(background, count, 1, 0.0, FetchFrame, this); break;
        case 5: result = ImgCreateBackgroundDenoised(background, count, -1, 0.0, FetchFrame, this); break;
        default: break;
    }
    const bool canceled = run.Canceled();
    run_ = nullptr;
    run.End();
    ApplyRules();
    if (canceled) return -1;
    return result == 1 ? 1 : 0;
}

void CLfBgCreate::SaveCommand() {
    if (run_) return;
    const bool jp = Japanese();
    CFgScreen* parent = PanelShown() ? this : nullptr;
    FgSelectFileOptions options;
    options.title = jp ? L"保存するファイル名を選択" : L"select file name to save";
    options.startPath = g_LastFileDir;
    options.extensions = GetImageExtensionList();
    wchar_t path[kFgPathMax + 1] = {};
    if (!FgSelectFile(path, kFgPathMax + 1, &options, parent) || !path[0]) return;
    if (codec_file_exists(path) &&
        FgMessageBox(jp ? L"上書き保存しますか？" : L"Do you want to overwrite it?", jp ? L"確認" : L"confirmation", 2,
                     parent) != 1)
        return;
    CImgBuff background;
    const int32_t result = background.buffer ? Generate(&background) : 0;
    if (result < 0) {
        FgMessageBox(jp ? L"中止しました" : L"canceled", jp ? L"確認" : L"confirmation", 1, parent);
    } else if (result == 1) {
        SaveImageFile(&background, path, language.c_str(), parent);
    } else if (lostFrame_ >= 0) {
        FgMessageBox(LostFramesText({static_cast<uint64_t>(lostFrame_)}, true, jp).c_str(), jp ? L"エラー" : L"error",
                     1, parent);
    } else {
        // Nothing was written: the frames could not be read or combined.
        FgMessageBox(jp ? L"セーブできませんでした" : L"saving failed", jp ? L"エラー" : L"error", 1, parent);
    }
}
