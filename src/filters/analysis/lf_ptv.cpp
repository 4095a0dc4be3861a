#include "filters/analysis/lf_ptv.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <new>

#include "filters/analysis/ptv_detect.h"
#include "filters/analysis/ptv_link.h"
#include "filters/analysis/sequence_run.h"
#include "filters/core/cfgfile.h"
#include "filters/core/filterctrl.h"
#include "filters/core/textconv.h"
#include "filters/processing/edit_commit.h"
#include "filters/processing/panel_rules.h"
#include "toolkit/fg_font.h"
#include "toolkit/fg_msgbox.h"

CImgFilter* CreateLfPtv() { return new (std::nothrow) CLfPtv; }

void CSearchRadiusSetting::Format(wchar_t* text, size_t size) const {
    if (text && size) std::swprintf(text, size, L"%.1lf", Get());
}

int32_t PtvLeadingNumber(const wchar_t* text) {
    int64_t v = 0;
    for (const wchar_t* p = text; p && *p >= L'0' && *p <= L'9'; ++p) {
        v = v * 10 + (*p - L'0');
        if (v > INT32_MAX) return INT32_MAX;
    }
    return static_cast<int32_t>(v);
}

std::wstring PtvRadiusText(double value, bool oneDecimal) {
    wchar_t text[400];
    if (oneDecimal) {
        std::swprintf(text, 400, L"%.1lf", value);
        TrimTrailingZeros(text);
    } else {
        DoubleToText(text, 400, value);
    }
    return text;
}

namespace {

constexpr int32_t kCellSizes[4] = {8, 16, 32, 64};

// Panel geometry: the trace group on the left, the tabs on the right.
constexpr int32_t kGroupX = 8, kGroupY = 8, kGroupW = 156, kGroupH = 232;
constexpr int32_t kTabX = 172, kTabY = 8, kTabW = 210, kTabH = 260;

void SetEditText(CFgUIEdit& edit, const wchar_t* text) {
    auto changed = edit.changed;
    edit.changed = nullptr;
    edit.SetLineText(0, text);
    edit.changed = changed;
}

void SetEditNumber(CFgUIEdit& edit, int64_t value) {
    wchar_t text[32];
    std::swprintf(text, 32, L"%lld", static_cast<long long>(value));
    SetEditText(edit, text);
}

// Image point to view pixel: the particle's pixel centre lands in the middle
// of a magnified pixel. False for a point that cannot be placed.
bool MapPoint(const OverlayRect& r, double x, double y, int32_t* outX, int32_t* outY) {
    if (!std::isfinite(x) || !std::isfinite(y)) return false;
    double fx = 1.0, fy = 1.0;
    if (r.zoom >= 2) {
        fx = fy = r.zoom;
    } else if (r.zoom <= -2) {
        fx = fy = 1.0 / -static_cast<double>(r.zoom);
    } else if (r.zoom != 1) {
        fx = (static_cast<double>(r.viewX1) - r.viewX0 + 1) / (static_cast<double>(r.imageX1) - r.imageX0 + 1);
        fy = (static_cast<double>(r.viewY1) - r.viewY0 + 1) / (static_cast<double>(r.imageY1) - r.imageY0 + 1);
    }
    double px = (x - r.imageX0) * fx, py = (y - r.imageY0) * fy;
    if (fx > 1.0) px += fx / 2;
    if (fy > 1.0) py += fy / 2;
    px = std::floor(px) + r.viewX0;
    py = std::floor(py) + r.viewY0;
    // Far outside the view: not drawn (and never converted out of range).
    if (!(std::fabs(px) < 1e8) || !(std::fabs(py) < 1e8)) return false;
    *outX = static_cast<int32_t>(px);
    *outY = static_cast<int32_t>(py);
    return true;
}

}  // namespace

// --- the run's source: captures through the run helper, detects on the
// captured image with the step's rectangle, background and connectivity ---

class CPtvRunSource : public CPtvSource {
public:
    CPtvRunSource(CLfPtv* filter, IslandRecord* scratch) : filter_(filter), scratch_(scratch) {}

    Capture CaptureFrame(int32_t frame) override {
        switch (filter_->run_->Step(static_cast<uint64_t>(frame), &image_)) {
            case CSequenceRun::kReady:
                return kCaptured;
            case CSequenceRun::kMissing: {
                // Told once the run is over; the run goes on without it.
                std::vector<uint64_t>& missed = filter_->missedFrames_;
                if (std::find(missed.begin(), missed.end(), static_cast<uint64_t>(frame)) == missed.end())
                    missed.push_back(static_cast<uint64_t>(frame));
                return kMissing;
            }
            default:
                return kCancelled;
        }
    }
    void Detect(ParticleFrame* slot) override {
        ImgRect rect;
        uint32_t connect, bg;
        {
            std::lock_guard<std::mutex> hold(filter_->captureLock_);
            rect = filter_->captureRect_;
            connect = filter_->captureConnect_;
            bg = filter_->captureBg_;
        }
        PtvDetect(&image_, rect, connect, bg, slot, scratch_);
    }
    PtvLinkSettings Settings() override {
        PtvLinkSettings s;
        s.searchR = filter_->searchR.Get();
        s.prediction = filter_->activeScope.Get() != 0;
        s.adaptive = filter_->activeRange.Get() != 0;
        s.scale = filter_->ScaleCopy();
        return s;
    }
    void NoMemory() override { filter_->Message(L"メモリー不足です", L"poor memory", true); }

private:
    CLfPtv* filter_;
    IslandRecord* scratch_;
    CImgBuff image_;
};

// --- construction and panel ---

CLfPtv::CLfPtv() {
    idCheck.checked = dispId.Get();
    allSceneCheck.checked = lineAll.Get();
    idCheck.data = allSceneCheck.data = this;
    idCheck.callback = [](CFgUIChkButton* b, void* d) {
        auto* f = static_cast<CLfPtv*>(d);
        f->dispId.Set(b->checked ? 1 : 0);
        f->RedrawPicture();
    };
    allSceneCheck.callback = [](CFgUIChkButton* b, void* d) {
        auto* f = static_cast<CLfPtv*>(d);
        f->lineAll.Set(b->checked ? 1 : 0);
        f->RefreshControls();
        f->RedrawPicture();
    };
    SetupHorizontalSlider(lineSlider, 0, 30, lineLen.Get(), this, [](CFgUIScrollBar*, void* d, int32_t v) {
        auto* f = static_cast<CLfPtv*>(d);
        f->lineLen.Set(v);
        f->RedrawPicture();
    });
    idList.multiple = 1;
    idList.data = this;
    idList.callback = [](CFgUIList*, void* d, int32_t item) { static_cast<CLfPtv*>(d)->OnListChoice(item); };

    searchEdit.data = this;
    searchEdit.focusLost = [](CFgUIEdit*, void* d) { static_cast<CLfPtv*>(d)->CommitSearchEdit(); };
    SetEditText(searchEdit, PtvRadiusText(searchR.Get(), false).c_str());
    scopeCheck.checked = activeScope.Get();
    rangeCheck.checked = activeRange.Get();
    scopeCheck.data = rangeCheck.data = this;
    scopeCheck.callback = [](CFgUIChkButton* b, void* d) { static_cast<CLfPtv*>(d)->activeScope.Set(b->checked ? 1 : 0); };
    rangeCheck.callback = [](CFgUIChkButton* b, void* d) { static_cast<CLfPtv*>(d)->activeRange.Set(b->checked ? 1 : 0); };
    trackButton.data = this;
    trackButton.callback = [](CFgUIButton*, void* d) { static_cast<CLfPtv*>(d)->Track(); };

    eraseButton.data = splitButton.data = concatButton.data = this;
    eraseButton.callback = [](CFgUIButton*, void* d) { static_cast<CLfPtv*>(d)->EraseData(); };
    splitButton.callback = [](CFgUIButton*, void* d) { static_cast<CLfPtv*>(d)->SplitId(); };
    concatButton.callback = [](CFgUIButton*, void* d) { static_cast<CLfPtv*>(d)->ConcatId(); };

    cell8.AddToGroup(&cell16);
    cell8.AddToGroup(&cell32);
    cell8.AddToGroup(&cell64);
    cell8.SelectInGroup(cellSizeIndex.Get(), 0);
    cellSize = kCellSizes[cellSizeIndex.Get()];
    for (CFgUIChkButton* b : {&cell8, &cell16, &cell32, &cell64}) {
        b->data = this;
        b->callback = [](CFgUIChkButton* button, void* d) {
            static_cast<CLfPtv*>(d)->SelectCellSize((button->leader ? button->leader : button)->GetGroupSelection());
        };
    }
    gridCheck.checked = gridOn.Get();
    cellsCheck.checked = colourCells.Get();
    gridCheck.data = cellsCheck.data = this;
    gridCheck.callback = [](CFgUIChkButton* b, void* d) {
        auto* f = static_cast<CLfPtv*>(d);
        f->gridOn.Set(b->checked ? 1 : 0);
        f->flow.drawGrid = f->gridOn.Get();
        f->RedrawPicture();
    };
    cellsCheck.callback = [](CFgUIChkButton* b, void* d) {
        auto* f = static_cast<CLfPtv*>(d);
        f->colourCells.Set(b->checked ? 1 : 0);
        f->RedrawPicture();
    };
    SetupHorizontalSlider(zoomSlider, 10, 100, arrowZoom.Get(), this,
                [](CFgUIScrollBar*, void* d, int32_t v) { static_cast<CLfPtv*>(d)->SetArrowZoom(v); });
    SetupHorizontalSlider(colourSlider, 1, 32, colourBar.Get(), this,
                [](CFgUIScrollBar*, void* d, int32_t v) { static_cast<CLfPtv*>(d)->SetColourBar(v); });
    vectorButton.data = dataButton.data = loadButton.data = saveButton.data = this;
    vectorButton.callback = [](CFgUIButton*, void* d) { static_cast<CLfPtv*>(d)->ComputeVectors(); };
    dataButton.callback = [](CFgUIButton*, void* d) { static_cast<CLfPtv*>(d)->ShowTable(); };
    loadButton.callback = [](CFgUIButton*, void* d) { static_cast<CLfPtv*>(d)->LoadTrackFile(); };
    saveButton.callback = [](CFgUIButton*, void* d) { static_cast<CLfPtv*>(d)->SaveTrackFile(); };

    tabs.AddTab(L"追跡");
    tabs.AddTab(L"修正");
    tabs.AddTab(L"ptv");
    for (CFgUIObj* o : std::initializer_list<CFgUIObj*>{&searchLabel, &searchEdit, &unitLabel, &scopeCheck,
                                                        &rangeCheck, &trackButton})
        tabs.AddControl(kTabTrack, o);
    for (CFgUIObj* o : std::initializer_list<CFgUIObj*>{
             &eraseIdLabel, &eraseIdEdit, &eraseSceneLabel, &eraseFromEdit, &eraseToLabel, &eraseToEdit, &eraseButton,
             &splitIdLabel, &splitIdEdit, &splitSceneLabel, &splitSceneEdit, &splitButton, &id1Label, &id1Edit,
             &id2Label, &id2Edit, &concatButton})
        tabs.AddControl(kTabEdit, o);
    for (CFgUIObj* o : std::initializer_list<CFgUIObj*>{&cell8, &cell16, &cell32, &cell64, &gridCheck, &cellsCheck,
                                                        &zoomLabel, &zoomSlider, &colourLabel, &colourSlider,
                                                        &vectorButton})
        tabs.AddControl(kTabPtv, o);
    tabs.data = this;
    tabs.callback = [](CFgUITab*, void* d, int32_t, int32_t) {
        auto* f = static_cast<CLfPtv*>(d);
        // Any switch ends radius measuring; the picture shows tracks or vectors.
        f->radiusState = 0;
        f->RefreshControls();
        f->RedrawPicture();
    };
    AttachControls();
    tabs.SelectTab(kTabTrack, 1);

    flow.drawGrid = gridOn.Get();
    flow.colourBase = flow.colourStep = colourBar.Get();
    // The vector view's header cells hold "column,row": quoted, a spreadsheet keeps the columns aligned.
    table.quoteFields = 1;
}

CLfPtv::~CLfPtv() {
    table.Destroy();
    Destroy();
    store.Clear();
    flow.Clear();
}

const wchar_t* CLfPtv::GetName(const wchar_t* languageCode) {
    return languageCode && std::wcscmp(languageCode, L"jp") == 0 ? L"粒子追跡/PTV" : L"Particle tracking / PTV";
}

PanelSpec CLfPtv::Panel() {
    Relabel();
    const int32_t fh = static_cast<int32_t>(font.height ? font.height : 14);
    const int32_t gx = kGroupX + 8, gy = kGroupY + fh + 4, gw = kGroupW - 16;
    const int32_t X = kTabX + 2, Y = kTabY + 7 + fh;
    const int32_t W = (kTabW - 4) - 16;
    const int32_t x = X + 8;
    const bool jp = Japanese();
    const wchar_t* exec = Running() ? (jp ? L"中止" : L"CANCEL") : L"EXEC";
    return {L"Particle tracking / PTV",
            L"粒子追跡/PTV",
            390,
            276,
            390,
            276,
            {
                {&traceGroup, kGroupX, kGroupY, kGroupW, kGroupH, nullptr, nullptr},
                {&idCheck, gx, gy, gw, 20, L"id", L"ID表示"},
                {&allSceneCheck, gx, gy + 22, gw, 20, L"all scene", L"全てのシーン"},
                {&lineLabel, gx, gy + 46, gw, 18, L"line length", L"軌跡長"},
                {&lineSlider, gx, gy + 64, gw, 16, nullptr, nullptr},
                {&idList, gx, gy + 86, gw, kGroupY + kGroupH - 8 - (gy + 86), nullptr, nullptr},
                {&dataButton, kGroupX, 246, 50, 22, L"DATA", L"データ"},
                {&loadButton, kGroupX + 53, 246, 50, 22, L"LOAD", L"ロード"},
                {&saveButton, kGroupX + 106, 246, 50, 22, L"SAVE", L"セーブ"},
                {&tabs, kTabX, kTabY, kTabW, kTabH, nullptr, nullptr},
                // "track"
                {&searchLabel, x, Y + 10, 76, 20, L"search r", L"検索半径"},
                {&searchEdit, x + 78, Y + 10, 60, 20, nullptr, nullptr},
                {&unitLabel, x + 142, Y + 10, W - 142, 20, nullptr, nullptr},
                {&scopeCheck, x, Y + 40, W, 20, L"prediction frame", L"予測フレーム"},
                {&rangeCheck, x, Y + 62, W, 20, L"optimized search scope", L"検索半径最適化"},
                {&trackButton, x, Y + 186, W, 36, exec, Running() ? exec : L"実行"},
                // "edit"
                {&eraseIdLabel, x, Y + 6, 20, 20, L"ID", L"ID"},
                {&eraseIdEdit, x + 22, Y + 6, 40, 20, nullptr, nullptr},
                {&eraseSceneLabel, x + 66, Y + 6, 44, 20, L"scene", L"シーン"},
                {&eraseFromEdit, x + 110, Y + 6, 34, 20, nullptr, nullptr},
                {&eraseToLabel, x + 145, Y + 6, 10, 20, L"-", L"～"},
                {&eraseToEdit, x + 156, Y + 6, 34, 20, nullptr, nullptr},
                {&eraseButton, x, Y + 30, W, 24, L"DATA ERASE", L"データ削除"},
                {&splitIdLabel, x, Y + 62, 20, 20, L"ID", L"ID"},
                {&splitIdEdit, x + 22, Y + 62, 40, 20, nullptr, nullptr},
                {&splitSceneLabel, x, Y + 84, 128, 20, L"after the scene", L"シーン以降"},
                {&splitSceneEdit, x + 132, Y + 84, 40, 20, nullptr, nullptr},
                {&splitButton, x, Y + 108, W, 24, L"SPLIT ID", L"ID分割"},
                {&id1Label, x, Y + 144, 28, 20, L"id1", L"ID1"},
                {&id1Edit, x + 30, Y + 144, 56, 20, nullptr, nullptr},
                {&id2Label, x + 98, Y + 144, 28, 20, L"id2", L"ID2"},
                {&id2Edit, x + 128, Y + 144, 56, 20, nullptr, nullptr},
                {&concatButton, x, Y + 168, W, 24, L"CONCAT ID", L"ID結合"},
                // "ptv"
                {&cell8, x, Y + 8, 44, 20, L"8", L"8"},
                {&cell16, x + 48, Y + 8, 44, 20, L"16", L"16"},
                {&cell32, x + 96, Y + 8, 44, 20, L"32", L"32"},
                {&cell64, x + 144, Y + 8, 44, 20, L"64", L"64"},
                {&gridCheck, x, Y + 34, W, 20, L"grid on", L"グリッド表示"},
                {&cellsCheck, x, Y + 54, W, 20, L"coloring cells", L"セルを着色する"},
                {&zoomLabel, x, Y + 80, W, 18, labelText_[0], labelText_[0]},
                {&zoomSlider, x, Y + 98, W, 16, nullptr, nullptr},
                {&colourLabel, x, Y + 120, W, 18, labelText_[1], labelText_[1]},
                {&colourSlider, x, Y + 138, W, 16, nullptr, nullptr},
                {&vectorButton, x, Y + 186, W, 36, L"EXEC", L"実行"},
            }};
}

void CLfPtv::Relabel() {
    const bool jp = Japanese();
    std::swprintf(labelText_[0], 80, jp ? L"表示倍率(x%.1f)" : L"zoom(x%.1f)", arrowZoom.Get() / 10.0);
    std::swprintf(labelText_[1], 80, jp ? L"%dpixel/frame毎" : L"every %dpixel/frame", colourBar.Get());
    traceGroup.label = jp ? L"軌跡" : L"trace";
    tabs.SetTabLabel(kTabTrack, jp ? L"追跡" : L"track");
    tabs.SetTabLabel(kTabEdit, jp ? L"修正" : L"edit");
    tabs.SetTabLabel(kTabPtv, L"ptv");
    unitLabel.SetText(UnitCopy().c_str());
    unitShown_ = true;
    if (!PanelShown()) return;
    zoomLabel.SetText(labelText_[0]);
    colourLabel.SetText(labelText_[1]);
}

void CLfPtv::RefreshControls() {
    const bool running = Running();
    for (CFgUIObj* o : std::initializer_list<CFgUIObj*>{
             &traceGroup, &idCheck, &allSceneCheck, &lineLabel, &lineSlider, &idList, &tabs, &searchLabel,
             &searchEdit, &unitLabel, &scopeCheck, &rangeCheck, &eraseIdLabel, &eraseIdEdit, &eraseSceneLabel,
             &eraseFromEdit, &eraseToLabel, &eraseToEdit, &eraseButton, &splitIdLabel, &splitIdEdit, &splitSceneLabel,
             &splitSceneEdit, &splitButton, &id1Label, &id1Edit, &id2Label, &id2Edit, &concatButton, &cell8, &cell16,
             &cell32, &cell64, &gridCheck, &cellsCheck, &zoomLabel, &zoomSlider, &colourLabel, &colourSlider,
             &vectorButton, &dataButton, &loadButton, &saveButton})
        SetControlEnabled(this, o, !running);
    SetControlEnabled(this, &trackButton, true);
    if (!running) {
        // The trace options belong to the track pictures, not to the vectors.
        const bool trace = tabs.current != kTabPtv;
        for (CFgUIObj* o : std::initializer_list<CFgUIObj*>{&traceGroup, &idCheck, &allSceneCheck, &lineLabel,
                                                            &lineSlider, &idList})
            SetControlEnabled(this, o, trace);
        SetControlEnabled(this, &lineSlider, trace && !allSceneCheck.checked);
    }
    if (PanelShown()) CFgUICtrl::Redraw();
}

void CLfPtv::ShowSettings() {
    idCheck.checked = dispId.Get();
    allSceneCheck.checked = lineAll.Get();
    lineSlider.position = lineLen.Get();
    SetEditText(searchEdit, PtvRadiusText(searchR.Get(), false).c_str());
    scopeCheck.checked = activeScope.Get();
    rangeCheck.checked = activeRange.Get();
    cell8.SelectInGroup(cellSizeIndex.Get(), 0);
    gridCheck.checked = gridOn.Get();
    cellsCheck.checked = colourCells.Get();
    zoomSlider.position = arrowZoom.Get();
    colourSlider.position = colourBar.Get();
    Relabel();
}

void CLfPtv::ShowUi(int32_t show, CFgScreen* parentScreen) {
    if (!show) {
        HidePanel(parentScreen);
        return;
    }
    const bool wasShown = PanelShown();
    CDialogFilterBase::ShowUi(1, parentScreen);
    if (!wasShown && PanelShown()) {
        Relabel();
        RefreshControls();
        int32_t x, y, w, h;
        if (table.TakeNotedPlace(&x, &y, &w, &h)) OpenTable(x, y, w, h, true);
    }
}

void CLfPtv::DrawBackground() {
    // The filter step notes a new unit on the chain worker; the label takes
    // it here, on the interface thread.
    if (!unitShown_.exchange(true)) unitLabel.SetText(UnitCopy().c_str());
    CDialogFilterBase::DrawBackground();
}

void CLfPtv::OnSize(uint64_t, uint64_t, uint64_t, uint64_t) {
    // The controller has stored the new size and frame count.
    store.Clear();
    flow.Clear();
    SetupVectorGrid();
    RefillIdList();
    if (Chain()) Chain()->Redraw();
}

void CLfPtv::RepaintPanel() {
    if (PanelShown()) CFgUICtrl::Redraw();
}

void CLfPtv::RebuildTableIfOpen() {
    if (table.window) SizeTable();
}

void CLfPtv::Message(const wchar_t* jp, const wchar_t* en, bool error) {
    const bool j = Japanese();
    FgMessageBox(j ? jp : en, error ? (j ? L"エラー" : L"error") : (j ? L"確認" : L"confirmation"), 1,
                 PanelShown() ? this : nullptr);
}

void CLfPtv::InputError() {
    const bool j = Japanese();
    FgMessageBox(j ? L"入力内容が間違っています" : L"The input content is incorrect", j ? L"エラー" : L"error", 1,
                 nullptr);
}

double CLfPtv::ScaleCopy() { return calib_.Get().scale; }

int32_t CLfPtv::AxisCopy() { return calib_.Get().axis; }

std::wstring CLfPtv::UnitCopy() { return calib_.Get().unit; }

// --- control actions ---

void CLfPtv::SelectCellSize(int32_t index) {
    if (index < 0 || index > 3) return;
    cellSizeIndex.Set(index);
    cellSize = kCellSizes[index];
    SetupVectorGrid();
    RedrawPicture();
}

void CLfPtv::SetArrowZoom(int32_t v) {
    arrowZoom.Set(v);
    Relabel();
    RepaintPanel();
    RedrawPicture();
}

void CLfPtv::SetColourBar(int32_t v) {
    colourBar.Set(v);
    flow.colourBase = flow.colourStep = v;
    Relabel();
    RepaintPanel();
    RedrawPicture();
}

void CLfPtv::SelectTab(int32_t index) { tabs.SelectTab(index, 0); }

void CLfPtv::CommitSearchEdit() {
    double value = 0;
    if (ParseEditNumber(searchEdit.GetText(), EditNumberRule{true, true, UINT64_MAX}, &value) && value > 0.0 &&
        std::isfinite(value)) {
        searchR.Set(value);
        return;
    }
    SetEditText(searchEdit, PtvRadiusText(searchR.Get(), false).c_str());
    RepaintPanel();
}

void CLfPtv::SetSearchRadius(double value, bool oneDecimal) {
    const std::wstring text = PtvRadiusText(value, oneDecimal);
    SetEditText(searchEdit, text.c_str());
    // The value is what the box shows.
    searchR.Set(TextToDouble(text.c_str(), 0));
    RepaintPanel();
}

void CLfPtv::OnListChoice(int32_t item) {
    if (item < 0 || item >= idList.Count()) return;
    if (idList.items[static_cast<size_t>(item)].selected) {
        if (item == 0) {
            for (int32_t i = 1; i < idList.Count(); ++i) idList.SetItemSelected(i, 0);
        } else {
            idList.SetItemSelected(0, 0);
        }
    }
    RepaintPanel();
    RedrawPicture();
}

std::vector<uint8_t> CLfPtv::ShownIds() {
    const int32_t n = std::max(store.GetIdCount(), 0);
    std::vector<uint8_t> shown(static_cast<size_t>(n), 0);
    if (idList.Count() == 0) return shown;
    if (idList.items[0].selected) {
        std::fill(shown.begin(), shown.end(), uint8_t{1});
        return shown;
    }
    for (int32_t i = 1; i < idList.Count() && i <= n; ++i)
        if (idList.items[static_cast<size_t>(i)].selected) shown[static_cast<size_t>(i - 1)] = 1;
    return shown;
}

void CLfPtv::RefillIdList() {
    idList.RemoveAllItems(2, 0);
    const int32_t n = store.GetIdCount();
    if (n > 0 && idList.Reserve(n + 1)) {
        idList.InsertItem(-1, L"ALL", 0, 0);
        wchar_t text[16];
        for (int32_t i = 0; i < n; ++i) {
            std::swprintf(text, 16, L"%d", i + 1);
            idList.InsertItem(-1, text, 0, 0);
        }
        idList.SetItemSelected(0, 1);
    }
    RepaintPanel();
}

// --- tracking ---

void CLfPtv::Track() {
    if (run_) {
        run_->Cancel();
        return;
    }
    radiusState = 0;
    const bool jp = Japanese();
    if (CImgFilter::frames < 4) {
        Message(L"4フレーム以上の画像が必要です", L"need an image of 4 frames or more", true);
        return;
    }
    CSequenceRun run(this);
    const CSequenceRun::BeginResult begun = run.Begin(&trackButton, jp ? L"中止" : L"CANCEL");
    if (begun == CSequenceRun::kBusy) return;
    if (begun != CSequenceRun::kStarted) {
        Message(L"メモリー不足です", L"poor memory", true);
        return;
    }
    // Whatever way the run ends, the run state goes with it.
    struct RunState {
        CLfPtv* f;
        ~RunState() { f->run_ = nullptr; }
    } state{this};
    run_ = &run;
    RefreshControls();
    store.Clear();
    missedFrames_.clear();
    const int32_t last = static_cast<int32_t>(std::min<uint64_t>(CImgFilter::frames, INT32_MAX)) - 1;
    if (!RunTracking(last)) store.Clear();
    if (run.Canceled()) {
        Message(L"中止しました", L"canceled", false);
    } else if (!missedFrames_.empty()) {
        std::sort(missedFrames_.begin(), missedFrames_.end());
        Message(LostFramesText(missedFrames_, false, true).c_str(), LostFramesText(missedFrames_, false, false).c_str(),
                true);
    }
    RefillIdList();
    run.End();
    run_ = nullptr;
    RefreshControls();
    SizeTable();
    RedrawPicture();
}

int32_t CLfPtv::RunTracking(int32_t last) {
    if (!run_) return 0;
    // The window's buffers are made once and shared: one run exists at a time.
    static PtvWindow* window = new (std::nothrow) PtvWindow;
    std::unique_ptr<IslandRecord[]> scratch(new (std::nothrow) IslandRecord[kPtvSlotCapacity]);
    CPtvRunSource source(this, scratch.get());
    if (!window || !scratch) {
        source.NoMemory();
        return 0;
    }
    return PtvTrackFrames(&store, last, &source, window);
}

// --- filter step, overlay and mouse ---

int32_t CLfPtv::OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h,
                         uint32_t connect, uint32_t bg, uint32_t*, uint32_t*) {
    if (CSequenceRun::Capture(this, image, frame)) {
        const auto clamp = [](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); };
        std::lock_guard<std::mutex> hold(captureLock_);
        captureRect_ = {clamp(x), clamp(y), clamp(x + w - 1), clamp(y + h - 1)};
        captureConnect_ = connect;
        captureBg_ = bg;
    }
    if (RefreshCalibCopy(63)) {
        unitShown_ = false;
        RepaintPanel();
        RepaintTable();
    }
    return 1;
}

void CLfPtv::OnOverlayView(OverlayToGlFn toGlX, OverlayToGlFn toGlY, CFgScreen*, CFgFont* font, int32_t dx0,
                           int32_t dy0, int32_t dx1, int32_t dy1, int32_t ix0, int32_t iy0, int32_t ix1, int32_t iy1,
                           int32_t zoom) {
    if (Running() || !toGlX || !toGlY) return;
    const OverlayRect rect{dx0, dy0, dx1, dy1, ix0, iy0, ix1, iy1, zoom};
    if (tabs.current == kTabPtv) {
        const uint64_t frame = Chain() ? Chain()->GetCurrentFrame() : 0;
        flow.drawGrid = gridOn.Get();
        flow.Draw(colourCells.Get() != 0, toGlX, toGlY, rect, static_cast<int32_t>(std::min<uint64_t>(frame, INT32_MAX)),
                  arrowZoom.Get() / 10.0, guideRed, guideGreen, guideBlue, false, false);
        return;
    }
    DrawTracks(toGlX, toGlY, font, rect);
}

void CLfPtv::DrawTracks(OverlayToGlFn toGlX, OverlayToGlFn toGlY, CFgFont* font, const OverlayRect& rect) {
    COverlayPen* pen = OverlayPen();
    pen->Colour(guideRed, guideGreen, guideBlue);
    const auto line = [&](int32_t ax, int32_t ay, int32_t bx, int32_t by) {
        pen->Line(toGlX(ax), toGlY(ay), toGlX(bx), toGlY(by));
    };
    if (radiusState == 1) {
        double scale = ScaleCopy();
        if (!std::isfinite(scale) || scale <= 0.0) scale = 1.0;
        const double r = searchR.Get() / scale;
        constexpr int kSegments = 64;
        int32_t px = 0, py = 0, qx = 0, qy = 0;
        bool have = MapPoint(rect, centreX + r, centreY, &px, &py);
        for (int k = 1; k <= kSegments; ++k) {
            const double a = 2.0 * 3.14159265358979323846 * k / kSegments;
            const bool next = MapPoint(rect, centreX + r * std::cos(a), centreY + r * std::sin(a), &qx, &qy);
            if (have && next) line(px, py, qx, qy);
            have = next;
            px = qx;
            py = qy;
        }
    }
    const uint64_t current = Chain() ? Chain()->GetCurrentFrame() : 0;
    if (current >= static_cast<uint64_t>(std::max(store.frameCount, 0))) return;
    const int32_t frame = static_cast<int32_t>(current);
    const std::vector<uint8_t> shown = ShownIds();
    const int32_t n = static_cast<int32_t>(shown.size());
    // The tracks drawn: shown ids with a particle in the current frame.
    std::vector<uint8_t> active(shown.size(), 0);
    const ParticleFrame& now = store.frames[frame];
    for (int32_t i = 0; i < now.count; ++i) {
        const Particle& p = now.records[i];
        if (p.id < 0 || p.id >= n || !shown[static_cast<size_t>(p.id)]) continue;
        active[static_cast<size_t>(p.id)] = 1;
        int32_t px = 0, py = 0;
        if (!MapPoint(rect, p.x, p.y, &px, &py)) continue;
        line(px - 4, py, px + 5, py);
        line(px, py - 4, px, py + 5);
        if (dispId.Get() && font) {
            wchar_t text[16];
            std::swprintf(text, 16, L"%ld", static_cast<long>(p.id) + 1);
            font->DrawText(px + 2, py + 2, text);
        }
    }
    // Trails: each drawn track's steps between consecutive frames.
    const int32_t first = lineAll.Get() ? 0 : std::max(0, frame - lineLen.Get());
    const int32_t last = lineAll.Get() ? store.frameCount - 1 : frame;
    CParticleFrameIndex previous;
    for (int32_t f = first + 1; f <= last; ++f) {
        const ParticleFrame& pf = store.frames[f];
        for (int32_t i = 0; i < pf.count; ++i) {
            const Particle& q = pf.records[i];
            if (q.id < 0 || q.id >= n || !active[static_cast<size_t>(q.id)]) continue;
            const Particle* p = previous.Record(store, f - 1, q.id);
            int32_t ax = 0, ay = 0, bx = 0, by = 0;
            if (p && MapPoint(rect, p->x, p->y, &ax, &ay) && MapPoint(rect, q.x, q.y, &bx, &by)) line(ax, ay, bx, by);
        }
    }
}

void CLfPtv::OnLButtonDown(int64_t x, int64_t y, uint32_t flags) {
    if (Running()) return;
    if (tabs.current == kTabTrack) {
        if (radiusState == 0) {
            centreX = static_cast<int32_t>(std::clamp<int64_t>(x, INT32_MIN, INT32_MAX));
            centreY = static_cast<int32_t>(std::clamp<int64_t>(y, INT32_MIN, INT32_MAX));
            radiusState = 1;
        } else {
            const double dx = static_cast<double>(x) - centreX, dy = static_cast<double>(y) - centreY;
            SetSearchRadius(std::sqrt(dx * dx + dy * dy) * ScaleCopy(), true);
        }
        if (Chain()) Chain()->Redraw();
    } else if (tabs.current == kTabEdit) {
        Pick(x, y, (flags & 1) != 0);
    }
}

void CLfPtv::OnRButtonDown(int64_t, int64_t, uint32_t) {
    if (Running()) return;
    if (radiusState > 0) --radiusState;
    if (Chain()) Chain()->Redraw();
}

void CLfPtv::Pick(int64_t x, int64_t y, bool shift) {
    const uint64_t current = Chain() ? Chain()->GetCurrentFrame() : 0;
    if (current >= static_cast<uint64_t>(std::max(store.frameCount, 0))) return;
    const int32_t frame = static_cast<int32_t>(current);
    const ParticleFrame& f = store.frames[frame];
    int32_t best = -1;
    double bestD = 0;
    for (int32_t i = 0; i < f.count; ++i) {
        const Particle& p = f.records[i];
        if (p.id < 0) continue;
        const double dx = p.x - static_cast<double>(x), dy = p.y - static_cast<double>(y);
        const double d = dx * dx + dy * dy;
        if (!std::isfinite(d)) continue;
        if (best < 0 || d < bestD) {
            best = i;
            bestD = d;
        }
    }
    if (best < 0) return;
    const int32_t id = f.records[best].id;
    if (shift) {
        SetEditNumber(id2Edit, int64_t{id} + 1);
        RepaintPanel();
        return;
    }
    int32_t firstFrame = -1, lastFrame = -1;
    for (int32_t k = 0; k < store.frameCount; ++k) {
        if (store.FindRecord(k, id) < 0) continue;
        if (firstFrame < 0) firstFrame = k;
        lastFrame = k;
    }
    SetEditNumber(eraseIdEdit, int64_t{id} + 1);
    SetEditNumber(splitIdEdit, int64_t{id} + 1);
    SetEditNumber(id1Edit, int64_t{id} + 1);
    SetEditNumber(eraseFromEdit, int64_t{firstFrame} + 1);
    SetEditNumber(eraseToEdit, int64_t{lastFrame} + 1);
    SetEditNumber(splitSceneEdit, int64_t{frame} + 1);
    RepaintPanel();
}

// --- edit commands ---

bool CLfPtv::EraseData() {
    if (Running()) return false;
    const int32_t id = PtvLeadingNumber(eraseIdEdit.GetText());
    const int32_t from = PtvLeadingNumber(eraseFromEdit.GetText());
    const int32_t to = PtvLeadingNumber(eraseToEdit.GetText());
    const int32_t ids = store.GetIdCount();
    if (id < 1 || id > ids || from < 1 || from > to || to > store.frameCount) {
        InputError();
        return false;
    }
    for (int32_t f = from - 1; f <= to - 1; ++f) store.RemoveParticle(f, id - 1);
    RepaintTable();
    RedrawPicture();
    return true;
}

bool CLfPtv::SplitId() {
    if (Running()) return false;
    const int32_t id = PtvLeadingNumber(splitIdEdit.GetText());
    const int32_t scene = PtvLeadingNumber(splitSceneEdit.GetText());
    const int32_t ids = store.GetIdCount();
    if (id < 1 || id > ids || scene < 1 || scene > store.frameCount || ids == INT32_MAX) {
        InputError();
        return false;
    }
    const int32_t newId = ids;
    bool moved = false;
    for (int32_t f = scene - 1; f < store.frameCount; ++f) {
        Particle p{};
        if (!store.GetParticle(f, id - 1, &p)) continue;
        p.id = newId;
        // The copy first: when memory runs short the particle keeps its old id.
        if (store.AddParticle(f, p) < 0) break;
        store.RemoveParticle(f, id - 1);
        moved = true;
    }
    // A track that has no particle from that scene on gives no new id.
    if (moved) {
        wchar_t text[16];
        std::swprintf(text, 16, L"%d", idList.Count());
        idList.InsertItem(-1, text, 0, 0);
        RepaintPanel();
    }
    RebuildTableIfOpen();
    RedrawPicture();
    return true;
}

bool CLfPtv::ConcatId() {
    if (Running()) return false;
    const int32_t id1 = PtvLeadingNumber(id1Edit.GetText());
    const int32_t id2 = PtvLeadingNumber(id2Edit.GetText());
    const int32_t ids = store.GetIdCount();
    if (id1 < 1 || id1 > ids || id2 < 1 || id2 > ids || id1 == id2) {
        InputError();
        return false;
    }
    for (int32_t f = 0; f < store.frameCount; ++f) {
        Particle p{};
        if (store.GetParticle(f, id1 - 1, &p) && p.valid) continue;
        Particle q{};
        const bool other = store.GetParticle(f, id2 - 1, &q) && q.valid;
        if (other) {
            q.id = id1 - 1;
            Particle old{};
            const bool hadOld = store.GetParticle(f, id1 - 1, &old);
            store.RemoveParticle(f, id1 - 1);
            if (store.AddParticle(f, q) < 0 && hadOld) store.AddParticle(f, old);
        } else {
            store.RemoveParticle(f, id1 - 1);
        }
    }
    store.DeleteId(id2 - 1);
    if (idList.Count() > 0) idList.DeleteItem(idList.Count() - 1);
    // The list now ends one id earlier; choices past the end are gone with it.
    RepaintPanel();
    RebuildTableIfOpen();
    RedrawPicture();
    return true;
}

// --- settings ---

void CLfPtv::LoadConfig(CCfgPack* pack) {
    CImgFilter::LoadConfig(pack);
    if (!pack) return;
    const auto exact = [pack](const wchar_t* key, CSettingFlag& setting, CFgUIChkButton& check) {
        if (const wchar_t* t = CfgFindValue(pack, key)) {
            if (std::wcscmp(t, L"0") == 0 || std::wcscmp(t, L"1") == 0) {
                setting.Set(t[0] == L'1' ? 1 : 0);
                check.checked = setting.Get();
            }
        }
    };
    const auto onUnlessZero = [pack](const wchar_t* key, CSettingFlag& setting, CFgUIChkButton& check) {
        if (const wchar_t* t = CfgFindValue(pack, key)) {
            setting.Set(std::wcscmp(t, L"0") != 0 ? 1 : 0);
            check.checked = setting.Get();
        }
    };
    const auto slider = [pack](const wchar_t* key, CFgUIScrollBar& bar, bool act) {
        if (const wchar_t* t = CfgFindValue(pack, key)) {
            const int32_t v = LoadedConfigInt(t);
            if (v >= bar.minimum && v <= bar.maximum) {
                bar.position = v;
                if (act) bar.callback(&bar, bar.data, v);
                return true;
            }
        }
        return false;
    };
    exact(L"disp_id", dispId, idCheck);
    exact(L"line_all", lineAll, allSceneCheck);
    if (slider(L"line_len", lineSlider, false)) lineLen.Set(lineSlider.position);
    if (const wchar_t* t = CfgFindValue(pack, L"search_r")) {
        const double v = TextToDouble(t, 1);
        if (v > 0.0 && std::isfinite(v)) {
            searchR.Set(v);
            SetEditText(searchEdit, PtvRadiusText(v, false).c_str());
        }
    }
    exact(L"active_scope", activeScope, scopeCheck);
    exact(L"active_range", activeRange, rangeCheck);
    if (const wchar_t* t = CfgFindValue(pack, L"cell_size")) {
        const int32_t v = LoadedConfigInt(t);
        if (v >= 0 && v <= 3) {
            // The grid is set up again only by the radio buttons, EXEC and a new image.
            cellSizeIndex.Set(v);
            cell8.SelectInGroup(v, 0);
            cellSize = kCellSizes[v];
        }
    }
    onUnlessZero(L"grid", gridOn, gridCheck);
    flow.drawGrid = gridOn.Get();
    onUnlessZero(L"cell", colourCells, cellsCheck);
    slider(L"arrow_zoom", zoomSlider, true);
    slider(L"color_bar", colourSlider, true);
    RefreshControls();
    RepaintPanel();
}
