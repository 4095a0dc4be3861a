// The 2D tracking filter's panel: trail display, ID list, the three tabs
// (register, track, edit), the run buttons and their runs, STEP, the answers
// to a manual click, the ID editing commands, track files and the table.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cwchar>
#include <initializer_list>
#include <new>

#include "filters/analysis/lf_track2d.h"
#include "filters/analysis/sequence_run.h"
#include "filters/analysis/track_hsv.h"
#include "filters/analysis/track_pat.h"
#include "filters/core/filterctrl.h"
#include "filters/processing/panel_rules.h"
#include "media/codec.h"
#include "platform/utf8.h"
#include "toolkit/fg_file_select.h"
#include "toolkit/fg_loop.h"
#include "toolkit/fg_msgbox.h"

namespace {

// Panel geometry: left column (trail display and ID list), tabs at the
// right, the file buttons below them.
constexpr int32_t kLeftX = 4, kLeftW = 104;
constexpr int32_t kTabX = 112, kTabY = 4, kTabW = 274, kTabH = 248;

}  // namespace

CLfTrack2d::CLfTrack2d(uint32_t engine) {
    engine_ = engine ? 1 : 0;
    engineIndex.Set(engine_.load());

    traceGroup.label = L"trace";
    idCheck.checked = dispId.Get();
    allSceneCheck.checked = lineAll.Get();
    idCheck.data = allSceneCheck.data = this;
    idCheck.callback = [](CFgUIChkButton* b, void* d) {
        auto* f = static_cast<CLfTrack2d*>(d);
        f->dispId.Set(b->checked ? 1 : 0);
        f->UpdateControls();
        f->RedrawPicture();
    };
    allSceneCheck.callback = [](CFgUIChkButton* b, void* d) {
        auto* f = static_cast<CLfTrack2d*>(d);
        f->lineAll.Set(b->checked ? 1 : 0);
        f->UpdateControls();
        f->RedrawPicture();
    };
    lineBar.orientation = kFgBarHorizontal;
    lineBar.minimum = 0;
    lineBar.maximum = 30;
    lineBar.page = 1;
    lineBar.position = lineLen.Get();
    lineBar.data = this;
    lineBar.callback = [](CFgUIScrollBar*, void* d, int32_t v) {
        auto* f = static_cast<CLfTrack2d*>(d);
        f->lineLen.Set(std::clamp(v, 0, 30));
        f->RedrawPicture();
    };
    idList.data = this;
    idList.callback = [](CFgUIList*, void* d, int32_t item) { static_cast<CLfTrack2d*>(d)->ListChanged(item); };

    predictCheck.checked = activeScope.Get();
    reversCheck.checked = revers.Get();
    predictCheck.data = reversCheck.data = this;
    predictCheck.callback = [](CFgUIChkButton* b, void* d) {
        static_cast<CLfTrack2d*>(d)->activeScope.Set(b->checked ? 1 : 0);
    };
    reversCheck.callback = [](CFgUIChkButton* b, void* d) {
        auto* f = static_cast<CLfTrack2d*>(d);
        f->revers.Set(b->checked ? 1 : 0);
        f->Rerun(0);
    };
    orderRadios[0].AddToGroup(&orderRadios[1]);
    orderRadios[0].AddToGroup(&orderRadios[2]);
    orderRadios[0].SelectInGroup(trackOrder.Get(), 0);
    for (CFgUIChkButton& r : orderRadios) {
        r.data = this;
        r.callback = [](CFgUIChkButton* b, void* d) {
            auto* f = static_cast<CLfTrack2d*>(d);
            f->trackOrder.Set((b->leader ? b->leader : b)->GetGroupSelection());
        };
    }

    // One dispatcher for every command button.
    for (CFgUIButton* button : {&delButton, &stepButton, &autoButton, &manualButton, &skipButton, &noDataButton,
                                &lostButton, &eraseButton, &splitButton, &concatButton, &dataButton, &loadButton,
                                &saveButton}) {
        button->data = this;
        button->callback = [](CFgUIButton* pressed, void* d) {
            auto* f = static_cast<CLfTrack2d*>(d);
            if (pressed == &f->delButton) f->DeleteId();
            else if (pressed == &f->stepButton) f->StepTracking();
            else if (pressed == &f->autoButton) f->RunTracking(0);
            else if (pressed == &f->manualButton) f->RunTracking(1);
            else if (pressed == &f->skipButton) f->AnswerSkip();
            else if (pressed == &f->noDataButton) f->AnswerNoData();
            else if (pressed == &f->lostButton) f->AnswerLost();
            else if (pressed == &f->eraseButton) f->EraseData();
            else if (pressed == &f->splitButton) f->SplitId();
            else if (pressed == &f->concatButton) f->ConcatId();
            else if (pressed == &f->dataButton) f->ShowTable();
            else if (pressed == &f->loadButton) f->LoadTrackFile();
            else if (pressed == &f->saveButton) f->SaveTrackFile();
        };
    }

    tabs.AddTab(L"登録");
    tabs.AddTab(L"追跡");
    tabs.AddTab(L"修正");
    tabs.AddControl(kTabRegist, &delButton);
    for (CFgUIObj* o : std::initializer_list<CFgUIObj*>{&predictCheck, &reversCheck, &orderRadios[0], &orderRadios[1],
                                                        &orderRadios[2], &stepButton, &autoButton, &manualButton,
                                                        &skipButton, &noDataButton, &lostButton})
        tabs.AddControl(kTabTrack, o);
    for (CFgUIObj* o : std::initializer_list<CFgUIObj*>{
             &eraseIdLabel, &eraseIdEdit, &eraseSceneLabel, &eraseFirstEdit, &eraseTildeLabel, &eraseLastEdit,
             &eraseButton, &splitIdLabel, &splitIdEdit, &splitSceneLabel, &splitFrameEdit, &splitButton, &id1Label,
             &id1Edit, &id2Label, &id2Edit, &concatButton})
        tabs.AddControl(kTabEdit, o);
    tabs.data = this;
    tabs.callback = [](CFgUITab*, void* d, int32_t now, int32_t) { static_cast<CLfTrack2d*>(d)->TabChanged(now); };
    AttachControls();
    tabs.SelectTab(kTabRegist, 1);

    // The engines' panels add their controls to this dialog, hidden.
    panels[0] = new (std::nothrow) CPanelHSV(this, this);
    panels[1] = new (std::nothrow) CPanelPAT(this, this);
    for (CTrackPanel* p : panels) {
        if (!p) continue;
        p->change = PanelChanged;
        p->changeUser = this;
    }
    optionsUi.apply = [](void* user) { static_cast<CLfTrack2d*>(user)->Rerun(0); };
    optionsUi.applyUser = this;

    tableWindow.grid.textCallback = TableCallback;
    tableWindow.grid.callbackData = this;
    // A unit may hold a comma.
    tableWindow.quoteFields = 1;
    RebuildIdList();
    UpdateControls();
}

CTrackPanel* CLfTrack2d::EnginePanel() const {
    static CTrackPanel none;  // stands in for a panel that could not be made
    CTrackPanel* p = panels[engine_.load() ? 1 : 0];
    return p ? p : &none;
}

PanelSpec CLfTrack2d::Panel() {
    const bool jp = Japanese();
    const int32_t f = static_cast<int32_t>(font.height ? font.height : 14);
    const int32_t X = kTabX + 2, Y = kTabY + 7 + f;
    const wchar_t* cancelLabel = jp ? L"中止" : L"CANCEL";
    const bool r = Running(), m = manualRun.load() != 0;
    const wchar_t* english = Engine() ? L"2D pattern tracking" : L"2D hsv tracking";
    const wchar_t* japanese = Engine() ? L"2D パターン追跡" : L"2D HSV追跡";
    std::swprintf(lineText_, 64, L"%ls", jp ? L"軌跡長" : L"line length");
    return {english, japanese, 390, 292, 390, 292,
            {
                {&traceGroup, kLeftX, 4, kLeftW, 104, nullptr, nullptr},
                {&idCheck, kLeftX + 4, 22, kLeftW - 6, 20, L"id", L"ID表示"},
                {&allSceneCheck, kLeftX + 4, 42, kLeftW - 6, 20, L"all scene", L"全てのシーン"},
                {&lineLabel, kLeftX + 6, 62, kLeftW - 12, 20, L"line length", L"軌跡長"},
                {&lineBar, kLeftX + 6, 82, kLeftW - 12, 18, nullptr, nullptr},
                {&idList, kLeftX, 116, kLeftW, 168, nullptr, nullptr},
                {&tabs, kTabX, kTabY, kTabW, kTabH, nullptr, nullptr},
                {&delButton, X + 8, kTabY + kTabH - 34, 88, 24, L"DEL ID", L"ID削除"},
                {&predictCheck, X + 8, Y + 6, 200, 20, L"prediction frame", L"予測フレーム"},
                {&reversCheck, X + 8, Y + 26, 200, 20, L"revers", L"逆方向処理"},
                {&orderRadios[0], X + 8, Y + 50, 92, 20, L"by scene", L"シーン毎"},
                {&orderRadios[1], X + 102, Y + 50, 70, 20, L"by id", L"ID毎"},
                {&orderRadios[2], X + 174, Y + 50, 90, 20, L"only id", L"単独ID"},
                {&stepButton, X + 8, Y + 78, 112, 24, L"STEP", L"ステップ処理"},
                {&autoButton, X + 8, Y + 108, 112, 24, r && !m ? cancelLabel : L"AUTO TRACK",
                 r && !m ? cancelLabel : L"自動追跡"},
                {&manualButton, X + 124, Y + 108, 112, 24, r && m ? cancelLabel : L"MANUAL TRACK",
                 r && m ? cancelLabel : L"マニュアル追跡"},
                {&skipButton, X + 8, Y + 142, 74, 24, L"SKIP", L"スキップ"},
                {&noDataButton, X + 85, Y + 142, 74, 24, L"NO DATA", L"データ無し"},
                {&lostButton, X + 162, Y + 142, 74, 24, L"LOST", L"消失"},
                {&eraseIdLabel, X + 8, Y + 8, 26, 20, L"id", L"ID"},
                {&eraseIdEdit, X + 36, Y + 8, 40, 20, nullptr, nullptr},
                {&eraseSceneLabel, X + 82, Y + 8, 40, 20, L"scene", L"シーン"},
                {&eraseFirstEdit, X + 124, Y + 8, 46, 20, nullptr, nullptr},
                {&eraseTildeLabel, X + 172, Y + 8, 14, 20, L"-", L"～"},
                {&eraseLastEdit, X + 188, Y + 8, 46, 20, nullptr, nullptr},
                {&eraseButton, X + 124, Y + 32, 110, 22, L"DATA ERASE", L"データ削除"},
                {&splitIdLabel, X + 8, Y + 66, 26, 20, L"id", L"ID"},
                {&splitIdEdit, X + 36, Y + 66, 40, 20, nullptr, nullptr},
                {&splitSceneLabel, X + 82, Y + 66, 104, 20, L"after the scene", L"シーン以降"},
                {&splitFrameEdit, X + 188, Y + 66, 46, 20, nullptr, nullptr},
                {&splitButton, X + 124, Y + 90, 110, 22, L"SPLIT ID", L"ID分割"},
                {&id1Label, X + 8, Y + 124, 30, 20, L"id1", L"ID1"},
                {&id1Edit, X + 40, Y + 124, 40, 20, nullptr, nullptr},
                {&id2Label, X + 86, Y + 124, 30, 20, L"id2", L"ID2"},
                {&id2Edit, X + 118, Y + 124, 40, 20, nullptr, nullptr},
                {&concatButton, X + 124, Y + 148, 110, 22, L"CONCAT ID", L"ID結合"},
                {&dataButton, kTabX, 260, 86, 24, L"DATA", L"データ"},
                {&loadButton, kTabX + 94, 260, 86, 24, L"LOAD", L"ロード"},
                {&saveButton, kTabX + 188, 260, 86, 24, L"SAVE", L"セーブ"},
            }};
}

// --- showing and language ---

void CLfTrack2d::ShowUi(int32_t show, CFgScreen* parentScreen) {
    if (!show) {
        if (tableWindow.window) tableWindow.Destroy();
        if (optionsUi.window) optionsUi.Destroy();
        EnginePanel()->CancelAdd();
        EnginePanel()->Layout(0, 0, 0, 0, 0, language.c_str());
        CDialogFilterBase::ShowUi(0, parentScreen);
        return;
    }
    const bool wasShown = PanelShown();
    if (!wasShown) {
        const bool jp = Japanese();
        tabs.SetTabLabel(kTabRegist, jp ? L"登録" : L"regist");
        tabs.SetTabLabel(kTabTrack, jp ? L"追跡" : L"track");
        tabs.SetTabLabel(kTabEdit, jp ? L"修正" : L"edit");
        traceGroup.label = jp ? L"軌跡" : L"trace";
    }
    CDialogFilterBase::ShowUi(1, parentScreen);
    if (wasShown || !PanelShown()) return;
    // Each showing starts on the first tab.
    if (tabs.current != kTabRegist) {
        tabs.SelectTab(kTabRegist, 0);
    } else {
        currentTab_ = kTabRegist;
        LayoutEngine();
    }
    UpdateControls();
    if (tableNoted_) {
        tableNoted_ = false;
        OpenTable(tableX_, tableY_, tableW_, tableH_);
    }
}

void CLfTrack2d::OnLang(const wchar_t* languageCode) {
    if (tableWindow.window) {
        tableWindow.SetLanguage(languageCode);
        tableNoted_ = true;
        tableX_ = tableWindow.x;
        tableY_ = tableWindow.y;
        tableW_ = static_cast<int32_t>(tableWindow.width);
        tableH_ = static_cast<int32_t>(tableWindow.height);
    }
    optionsUi.Relabel(languageCode);
    CImgFilter::OnLang(languageCode);
}

void CLfTrack2d::LayoutEngine() {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    const bool show = PanelShown() && currentTab_.load() == kTabRegist &&
                      tabs.GetPageRect(&left, &top, &right, &bottom);
    EnginePanel()->Layout(show ? 1 : 0, left, top, right, bottom, language.c_str());
}

void CLfTrack2d::TabChanged(int32_t tab) {
    EnginePanel()->CancelAdd();
    SyncIdList();
    currentTab_ = static_cast<uint32_t>(std::clamp(tab, 0, 2));
    const int32_t s = ValidSelection();
    if (tab == kTabRegist && s >= 0) {
        CriticalSectionLock hold(lock);
        EnginePanel()->LoadFromTrack(targets[s]);
    }
    LayoutEngine();
    if (tab != kTabRegist) EnginePanel()->Reset();
    if (PanelShown()) CFgUICtrl::Redraw();
    Rerun(1);
}

void CLfTrack2d::PanelChanged(CTrackPanel* panel, void* user) {
    auto* f = static_cast<CLfTrack2d*>(user);
    if (panel == f->panels[0]) {
        const int32_t s = f->ValidSelection();
        if (s >= 0 && f->targets[s]->kind == 1) panel->StoreToTrack(f->targets[s]);
    }
    f->Rerun(0);
}

// --- control states ---

void CLfTrack2d::UpdateControls() {
    const bool r = Running(), m = manualWait.load() != 0, x = manualRun.load() != 0;
    const bool idle = !r && !m;
    for (CFgUIObj* o : std::initializer_list<CFgUIObj*>{
             &traceGroup, &idCheck, &allSceneCheck, &lineLabel, &idList, &tabs, &predictCheck, &reversCheck,
             &orderRadios[0], &orderRadios[1], &orderRadios[2], &stepButton, &dataButton, &loadButton, &saveButton})
        SetControlEnabled(this, o, idle);
    SetControlEnabled(this, &lineBar, idle && !allSceneCheck.checked);
    SetControlEnabled(this, &autoButton, !x && (r || !m));
    SetControlEnabled(this, &manualButton, (x || !r) && (r || !m));
    SetControlEnabled(this, &skipButton, m || x);
    SetControlEnabled(this, &noDataButton, m || x);
    SetControlEnabled(this, &lostButton, (m || x) && r);
    if (PanelShown()) CFgUICtrl::Redraw();
}

// --- ID list ---

void CLfTrack2d::RebuildIdList() {
    // Filled without repainting: one repaint at the end, however many
    // targets a track file brought.
    idList.RemoveAllItems(2, 0);
    idList.InsertItem(-1, L"ALL", 0, 0);
    for (int32_t i = 0; i < targetCount; ++i) AppendIdEntry(i, 0);
    idList.SetItemSelected(0, 1);
    if (PanelShown()) CFgUICtrl::Redraw();
}

void CLfTrack2d::AppendIdEntry(int32_t index, int32_t redraw) {
    // Entries stay numbered 1 ... n: one is added only for the next number.
    if (index + 1 != idList.Count()) return;
    wchar_t text[24];
    std::swprintf(text, 24, L"%d", index + 1);
    idList.InsertItem(-1, text, static_cast<uint32_t>(index), redraw && PanelShown() ? 1 : 0);
}

void CLfTrack2d::SyncIdList() {
    const int32_t before = idList.Count();
    if (idList.Count() == 0) idList.InsertItem(-1, L"ALL", 0, 0);
    while (idList.Count() > targetCount + 1) idList.DeleteItem(idList.Count() - 1);
    while (idList.Count() < targetCount + 1) AppendIdEntry(idList.Count() - 1, 0);
    if (idList.Count() != before && PanelShown()) idList.RedrawParent();
}

void CLfTrack2d::ListChanged(int32_t item) {
    if (item < 0 || item >= idList.Count()) return;
    if (item == 0) {
        if (idList.items[0].selected)
            for (int32_t i = 1; i < idList.Count(); ++i) idList.SetItemSelected(i, 0);
    } else if (idList.items[static_cast<size_t>(item)].selected) {
        idList.SetItemSelected(0, 0);
    }
    UpdateControls();
    RedrawPicture();
}

// --- runs ---

void CLfTrack2d::RunTracking(int32_t manual) {
    if (Running()) {
        // The run button cancels; a waiting manual click ends too.
        cancel = 1;
        if (run_) run_->Cancel();
        manualDone = 1;
        return;
    }
    if (manualWait.load() || stepping.load() || !Chain()) return;
    const bool jp = Japanese();
    mouseMode = kMouseNone;
    EnginePanel()->CancelAdd();
    SyncIdList();
    GrowTable();
    const int32_t order = Order();
    const int32_t only = order == 2 ? ValidSelection() : -1;
    // "only id" without a selected target has nothing to track.
    if (order == 2 && only < 0) return;
    CSequenceRun run(this);
    const CSequenceRun::BeginResult begun =
        run.Begin(manual ? &manualButton : &autoButton, jp ? L"中止" : L"CANCEL");
    if (begun == CSequenceRun::kBusy) return;
    if (begun != CSequenceRun::kStarted) {
        ShowMessage(L"メモリー不足です", L"poor memory", true);
        return;
    }
    run_ = &run;
    cancel = 0;
    ClearCancel();
    running = 1;
    manualRun = manual ? 1 : 0;
    UpdateControls();

    if (order <= 0)
        TrackByScene(Step(), Predict(), manual);
    else
        TrackById(Step(), Predict(), only, manual);

    const int32_t current = currentTarget.load();
    if (current >= 0 && current < targetCount) selected = current;
    if (ValidSelection() < 0) selected = targetCount > 0 ? 0 : -1;
    runImage_.FreePixels();
    const bool canceled = cancel.load() || run.Canceled();
    // A program that is quitting shows no message: nothing would answer it.
    if (canceled && !g_QuitRequested.load()) ShowMessage(L"中止しました", L"canceled", false);
    run.End();
    run_ = nullptr;
    running = 0;
    manualRun = 0;
    cancel = 0;
    manualWait = 0;
    UpdateControls();
    if (PanelShown()) CFgUICtrl::Redraw();
    Rerun(0);
    SizeTable();
}

void CLfTrack2d::StepTracking() {
    if (Running() || stepping.load() || manualWait.load() || !Chain()) return;
    GrowTable();
    const int32_t s = ValidSelection();
    if (targetCount == 0 || table.Rows() == 0 || s < 0) return;
    CFilterCtrl* host = Chain();
    // The host stays locked while the step (and a manual click in it) lasts:
    // no other source or filter change can take the targets away.
    stepping = 1;
    host->LockUi(1, this);
    const int32_t f = static_cast<int32_t>(std::min<uint64_t>(host->GetCurrentFrame(), INT32_MAX));
    CImgBuff image;
    image.CopyFrom(GetWorkImage());
    cancel = 0;
    ClearCancel();
    const int32_t step = Step();
    TrackTarget(&image, s, f, step, Predict(), 0);
    {
        CriticalSectionLock hold(lock);
        if (s < targetCount) targets[s]->lost = 0;
    }
    const int64_t rows = table.Rows();
    const int32_t last = targetCount - 1;
    const int64_t next = static_cast<int64_t>(f) + step;
    const bool inside = next >= 0 && next < rows;
    const int32_t order = Order();
    bool end = false;
    int32_t nextId = s;
    int64_t nextFrame = f;
    if (order == 1 || order == 2) {
        if (inside) {
            nextFrame = next;
        } else if (order == 1 && s < last) {
            nextId = s + 1;
            nextFrame = step > 0 ? 0 : rows - 1;
        } else {
            end = true;
        }
    } else if (s >= last) {
        if (inside) {
            nextFrame = next;
            nextId = 0;
        } else {
            end = true;
        }
    } else {
        nextId = s + 1;
    }
    if (!end) {
        SelectTarget(nextId);
        if (nextFrame != f)
            host->Seek(static_cast<uint64_t>(nextFrame));
        else
            Rerun(0);
    }
    RepaintTable();
    host->LockUi(0, this);
    stepping = 0;
    cancel = 0;
    UpdateControls();
    if (end && !g_QuitRequested.load()) ShowMessage(L"最終シーンです", L"end of scene", false);
}

void CLfTrack2d::AnswerSkip() {
    if (!manualWait.load()) return;
    skip = 1;
    clickX = clickY = 0;
    manualDone = 1;
}

void CLfTrack2d::AnswerNoData() {
    if (!manualWait.load()) return;
    clickX = clickY = -1;
    manualDone = 1;
}

void CLfTrack2d::AnswerLost() {
    if (!manualWait.load()) return;
    lostAnswer = 1;
    manualDone = 1;
}

// --- ID editing ---

void CLfTrack2d::DeleteId() {
    if (Running() || stepping.load() || manualWait.load()) return;
    const int32_t s = ValidSelection();
    if (s < 0) return;
    if (!EnginePanel()->CancelAdd()) RemoveTarget(s);
    SelectTarget(selected.load());
    SyncIdList();
    if (PanelShown()) CFgUICtrl::Redraw();
    SizeTable();
    Rerun(0);
}

bool CLfTrack2d::ReadField(CFgUIEdit& edit, int64_t* value) const {
    const wchar_t* p = edit.GetText();
    if (!p) return false;
    while (*p == L' ') ++p;
    bool negative = false;
    if (*p == L'-' || *p == L'+') negative = *p++ == L'-';
    if (*p < L'0' || *p > L'9') return false;
    int64_t v = 0;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
        v = v * 10 + (*p - L'0');
        if (v > INT32_MAX) return false;
    }
    while (*p == L' ') ++p;
    if (*p) return false;
    *value = negative ? -v : v;
    return true;
}

void CLfTrack2d::SetField(CFgUIEdit& edit, int64_t value) {
    wchar_t text[32];
    std::swprintf(text, 32, L"%lld", static_cast<long long>(value));
    edit.SetLineText(0, text);
}

void CLfTrack2d::EraseData() {
    int64_t id = 0, first = 0, last = 0;
    const int64_t n = targetCount, frameCount = static_cast<int64_t>(std::min<uint64_t>(CImgFilter::frames, INT32_MAX));
    if (!ReadField(eraseIdEdit, &id) || !ReadField(eraseFirstEdit, &first) || !ReadField(eraseLastEdit, &last) ||
        id < 1 || id > n || first > last || last > frameCount) {
        ShowMessage(L"入力内容が間違っています", L"The input content is incorrect", true);
        return;
    }
    ClearPoints(static_cast<int32_t>(id - 1), static_cast<int32_t>(first - 1), static_cast<int32_t>(last - 1));
    RepaintTable();
    Rerun(0);
}

void CLfTrack2d::SplitId() {
    int64_t id = 0, frame = 0;
    const int64_t n = targetCount, frameCount = static_cast<int64_t>(std::min<uint64_t>(CImgFilter::frames, INT32_MAX));
    if (!ReadField(splitIdEdit, &id) || !ReadField(splitFrameEdit, &frame) || id < 1 || id > n || frame < 1 ||
        frame > frameCount) {
        ShowMessage(L"入力内容が間違っています", L"The input content is incorrect", true);
        return;
    }
    SplitTarget(static_cast<int32_t>(id - 1), static_cast<int32_t>(frame - 1));
    RebuildIdList();
    SelectTarget(selected.load());
    SizeTable();
    Rerun(0);
}

void CLfTrack2d::ConcatId() {
    int64_t a = 0, b = 0;
    const int64_t n = targetCount;
    // Joining an ID with itself would only delete it.
    if (!ReadField(id1Edit, &a) || !ReadField(id2Edit, &b) || a < 1 || a > n || b < 1 || b > n || a == b) {
        ShowMessage(L"入力内容が間違っています", L"The input content is incorrect", true);
        return;
    }
    MergeTargets(static_cast<int32_t>(a - 1), static_cast<int32_t>(b - 1));
    RebuildIdList();
    SelectTarget(selected.load());
    SizeTable();
    Rerun(0);
}

// --- messages and files ---

void CLfTrack2d::ShowMessage(const wchar_t* jp, const wchar_t* en, bool error) {
    const bool j = Japanese();
    const wchar_t* title = error ? (j ? L"エラー" : L"error") : (j ? L"確認" : L"confirmation");
    FgMessageBox(j ? jp : en, title, 1, PanelShown() ? this : nullptr);
}

namespace {

// "temp.p2d" in the last folder a file was chosen in.
std::wstring DefaultTrackPath() {
    std::wstring path = g_LastFileDir;
    if (!path.empty() && path.back() != L'/') path += L'/';
    return path + L"temp.p2d";
}

}  // namespace

void CLfTrack2d::LoadTrackFile() {
    if (Running() || stepping.load() || manualWait.load()) return;
    const bool jp = Japanese();
    wchar_t path[kFgPathMax + 1] = {};
    const std::wstring start = DefaultTrackPath();
    FgSelectFileOptions options;
    options.title = jp ? L"ファイルを選択" : L"select file";
    options.startPath = start.c_str();
    options.extensions = L"p2d";
    if (!FgSelectFile(path, kFgPathMax + 1, &options, PanelShown() ? this : nullptr) || !path[0]) return;
    const std::string file = PlatWideToUtf8(path);
    EnginePanel()->CancelAdd();
    if (!LoadP2d(file.c_str())) {
        const uint32_t error = table.error;
        if (error == kP2dVersion)
            ShowMessage(L"未対応のバージョンです", L"unsupported version", true);
        else
            ShowMessage(L"ロードできませんでした", L"loading failed", true);
        return;
    }
    table.error = 0;
    // Only a usable calibration reaches the host: a scale of 0 or NaN from
    // a file would reach every filter of the chain.
    const P2dInfo info = table.info;
    if (FilterOn() && Chain() && std::isfinite(info.scale) && info.scale > 0 &&
        (info.yDirection == 1 || info.yDirection == -1)) {
        const std::wstring unit = PlatUtf8ToWide(P2dUnitText(info).c_str());
        Chain()->ChangeCalibration(info.scale, info.yDirection, unit.c_str());
    }
    // A file shorter than the movie: points tracked beyond its rows must fit.
    GrowTable();
    RebuildIdList();
    selected = targetCount > 0 ? 0 : -1;
    if (PanelShown()) CFgUICtrl::Redraw();
    SizeTable();
    Rerun(0);
}

void CLfTrack2d::SaveTrackFile() {
    if (Running() || stepping.load() || manualWait.load()) return;
    const bool jp = Japanese();
    wchar_t path[kFgPathMax + 1] = {};
    const std::wstring start = DefaultTrackPath();
    FgSelectFileOptions options;
    options.title = jp ? L"保存するファイル名を選択" : L"select file name to save";
    options.startPath = start.c_str();
    options.extensions = L"p2d";
    CFgScreen* parent = PanelShown() ? this : nullptr;
    if (!FgSelectFile(path, kFgPathMax + 1, &options, parent) || !path[0]) return;
    if (codec_file_exists(path) &&
        FgMessageBox(jp ? L"上書き保存しますか？" : L"Do you want to overwrite it?", jp ? L"確認" : L"confirmation", 0,
                     parent) != 1)
        return;
    const std::string file = PlatWideToUtf8(path);
    int32_t saved;
    {
        CriticalSectionLock hold(lock);
        saved = table.Save(file.c_str());
    }
    if (saved)
        ShowMessage(L"セーブしました", L"saved", false);
    else
        ShowMessage(L"セーブできませんでした (write)", L"saving failed (write)", true);
}

// --- table ---

void CLfTrack2d::ShowTable() { OpenTable(tableX_, tableY_, tableW_, tableH_); }

void CLfTrack2d::OpenTable(int32_t x, int32_t y, int32_t w, int32_t h) {
    tableWindow.SetLanguage(language.c_str());
    SizeTable();
    if (tableWindow.window) {
        tableWindow.Redraw();
        return;
    }
    const wchar_t* title = tableWindow.english ? L"TRACK DATA" : L"追跡データ";
    if (tableWindow.Create(x, y, static_cast<uint64_t>(std::max(w, 1)), static_cast<uint64_t>(std::max(h, 1)), title,
                           1, this))
        tableWindow.Layout();
}

void CLfTrack2d::SizeTable() {
    const uint64_t n = targetCount > 0 ? static_cast<uint64_t>(targetCount) : 0, rows = table.Rows();
    tableWindow.SizeWithHeaders(n && rows ? 2 * n + 1 : 0, rows + 2);
    RepaintTable();
}

const wchar_t* CLfTrack2d::TableCallback(uint64_t column, uint64_t row, int32_t*, double*, double*, double*,
                                         void* data) {
    return static_cast<CLfTrack2d*>(data)->CellText(column, row);
}

const wchar_t* CLfTrack2d::CellText(uint64_t column, uint64_t row) {
    wchar_t* out = cellText_;
    out[0] = 0;
    CriticalSectionLock hold(lock);
    const uint64_t n = targetCount > 0 ? static_cast<uint64_t>(targetCount) : 0;
    if (!n || !table.Rows()) return out;
    if (column == 0) {
        if (row == 0) {
            const size_t len = std::min<size_t>(std::wcslen(calibUnit), 64);
            if (len)
                std::swprintf(out, 80, L"%.*ls", static_cast<int>(len), calibUnit);
            else
                std::swprintf(out, 80, L"pixel");
        } else if (row >= 2) {
            std::swprintf(out, 80, L"%lu", static_cast<unsigned long>(row - 1));
        }
        return out;
    }
    const uint64_t k = (column - 1) / 2;
    const bool odd = column % 2 == 1;
    if (k >= n) return out;
    if (row == 0) {
        if (odd) std::swprintf(out, 80, L"%lu", static_cast<unsigned long>(k + 1));
        return out;
    }
    if (row == 1) {
        std::swprintf(out, 80, L"%ls", odd ? L"X" : L"Y");
        return out;
    }
    double x = 0, y = 0;
    if (!PointAt(static_cast<int32_t>(k), static_cast<int64_t>(row - 2), &x, &y)) return out;
    const double scale = calibScale;
    double v = odd ? x : y;
    if (!odd && calibAxisY == -1) v = static_cast<double>(CImgFilter::height) - 1.0 - y;
    std::swprintf(out, 80, L"%.1lf", v * scale);
    return out;
}
