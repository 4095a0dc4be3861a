// The 2D tracking filter CLfTrack2d: the Tool-menu filter that tracks
// objects through a movie with the colour-range engine ("2D hsv tracking")
// or the pattern engine ("2D pattern tracking") and records their positions
// frame by frame. It is a dialog filter and the host of the track
// controller: it answers the controller's hooks (frames, work image, manual
// clicks, options), draws the targets and their trails over the picture,
// takes the mouse for drawing and choosing targets, and offers the panel
// with the run buttons, the ID editing commands, track files and the table.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "filters/analysis/csv_viewer.h"
#include "filters/analysis/track_ctrl.h"
#include "filters/analysis/track_options_ui.h"
#include "filters/processing/dialog_filter.h"
#include "image/imgbuff.h"
#include "toolkit/fg_edit.h"
#include "toolkit/fg_list.h"
#include "toolkit/fg_scrollbar.h"
#include "toolkit/fg_tab.h"

class CSequenceRun;

class CLfTrack2d : public CDialogFilter<CLfTrack2d>, public CTrackCtrl {
public:
    enum : int32_t { kTabRegist = 0, kTabTrack = 1, kTabEdit = 2 };
    enum : uint32_t { kMouseNone = 0, kMouseDraw = 1, kMouseMove = 2, kMouseManual = 3 };

    // engine 0: colour range, 1: pattern.
    explicit CLfTrack2d(uint32_t engine = 0);
    ~CLfTrack2d() override;

    // Settings in saving order. The options block of the controller mirrors
    // the last ten: it is copied into them before a save and from them
    // after a load.
    CSetting<uint32_t> engineIndex{settings, L"trackpanelsel", 0, 0, 1};
    CSettingFlag dispId{settings, L"disp_id", 1};
    CSettingFlag lineAll{settings, L"line_all", 0};
    CSetting<int32_t> lineLen{settings, L"line_len", 10, 0, 30};
    CSettingFlag activeScope{settings, L"active_scope", 1};
    CSettingFlag revers{settings, L"revers", 0};
    CSetting<int32_t> trackOrder{settings, L"track_order", 0, 0, 2};
    CSetting<uint32_t> connectOption{settings, L"connect", 8, 4, 8, SettingRule::Exact, {4, 8}};
    CSetting<uint32_t> multiSelect{settings, L"multi_select", 1, 0, 2};
    CSettingFlag noiseAuto{settings, L"noise_auto", 1};
    CSettingFlag noiseEnableLow{settings, L"noise_enable_l", 0};
    CSettingFlag noiseEnableHigh{settings, L"noise_enable_h", 0};
    CSetting<int32_t> noiseLow{settings, L"noise_l", 10, 1, INT32_MAX};
    CSetting<int32_t> noiseHigh{settings, L"noise_h", 1000, 1, INT32_MAX};
    CSettingFlag windowCut{settings, L"window_cut", 0};
    CSettingFlag holeFill{settings, L"holl_fill", 1};
    CSettingFlag previewOption{settings, L"preview", 1};

    // Run state (user-interface thread writes, the chain worker reads).
    std::atomic<uint32_t> running{0};     // a run of AUTO TRACK or MANUAL TRACK is going
    std::atomic<uint32_t> manualRun{0};   // the run was started by MANUAL TRACK
    std::atomic<uint32_t> cancel{0};
    std::atomic<uint32_t> manualWait{0};  // waiting for a click inside ManualTrack
    std::atomic<uint32_t> lostAnswer{0};
    std::atomic<uint32_t> stepping{0};    // STEP is in progress
    volatile int32_t manualDone = 0;      // ends the nested loop of ManualTrack
    int32_t clickX = 0, clickY = 0;

    // The engines' panels; only the one of the current engine is used.
    CTrackPanel* panels[2] = {nullptr, nullptr};

    std::atomic<uint32_t> mouseMode{kMouseNone};
    std::atomic<int32_t> selected{-1};  // index of the selected target, -1 none
    int32_t pressX = 0, pressY = 0, pointX = 0, pointY = 0;
    int32_t cornerX = 0, cornerY = 0;  // box corner at the press
    int32_t lastBoxW = 1, lastBoxH = 1;

    CTrack2ValOptUI optionsUi;
    CCsvViewer tableWindow;

    // Panel.
    CFgUIGroup traceGroup;
    CFgUIChkButton idCheck, allSceneCheck;
    CFgUILabel lineLabel;
    CFgUIScrollBar lineBar;
    CFgUIList idList;
    CFgUITab tabs;
    CFgUIButton delButton;
    CFgUIChkButton predictCheck, reversCheck;
    CFgUIChkButton orderRadios[3];
    CFgUIButton stepButton, autoButton, manualButton, skipButton, noDataButton, lostButton;
    CFgUILabel eraseIdLabel, eraseSceneLabel, eraseTildeLabel;
    CFgUIEdit eraseIdEdit, eraseFirstEdit, eraseLastEdit;
    CFgUIButton eraseButton;
    CFgUILabel splitIdLabel, splitSceneLabel;
    CFgUIEdit splitIdEdit, splitFrameEdit;
    CFgUIButton splitButton;
    CFgUILabel id1Label, id2Label;
    CFgUIEdit id1Edit, id2Edit;
    CFgUIButton concatButton;
    CFgUIButton dataButton, loadButton, saveButton;

    uint32_t Engine() const { return engine_.load(); }
    // The panel of the current engine (a panel that takes nothing when it
    // could not be made).
    CTrackPanel* EnginePanel() const;
    int32_t Step() const { return revers.Get() ? -1 : 1; }
    int32_t Order() const { return trackOrder.Get(); }
    int32_t Predict() const { return activeScope.Get() ? 1 : 0; }
    bool Running() const { return running.load() != 0; }

    // CImgFilter.
    const wchar_t* GetName(const wchar_t* languageCode) override;
    PanelSpec Panel() override;
    void EnableUi(int32_t enable) override;
    void ShowUi(int32_t show, CFgScreen* parent) override;
    void OnLang(const wchar_t* languageCode) override;
    void OnSize(uint64_t w, uint64_t h, uint64_t bpp, uint64_t frameCount) override;
    void OnGuideColor(double red, double green, double blue) override;
    void OnOverlayView(OverlayToGlFn toGlX, OverlayToGlFn toGlY, CFgScreen* screen, CFgFont* font, int32_t dx0,
                       int32_t dy0, int32_t dx1, int32_t dy1, int32_t ix0, int32_t iy0, int32_t ix1, int32_t iy1,
                       int32_t zoom) override;
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t* workFormat, uint32_t* channelBytes) override;
    void OnMouseMove(int64_t x, int64_t y, uint32_t flags) override;
    void OnLButtonDown(int64_t x, int64_t y, uint32_t flags) override;
    void OnLButtonUp(int64_t x, int64_t y, uint32_t flags) override;
    void OnRButtonDown(int64_t x, int64_t y, uint32_t flags) override;
    void OnRButtonUp(int64_t x, int64_t y, uint32_t flags) override;
    void SaveConfig(CCfgPack* pack) override;
    void LoadConfig(CCfgPack* pack) override;
    int32_t QueryClose() override;

    // CTrackCtrl hooks.
    int32_t GetFrameRange(int32_t* first, int32_t* last) override;
    int32_t GoToFrame(int32_t frame) override;
    int32_t ProgressTick() override;
    void Refresh() override;
    CImgBuff* GetWorkImage() override;
    void GetImageSize(int32_t* w, int32_t* h) override;
    int32_t ManualTrack(int32_t target, int32_t frame, int32_t* x, int32_t* y) override;
    void ShowOptions() override;
    int32_t AddTargetAt(CTrack* target, int32_t x, int32_t y) override;

    // Panel commands (the buttons' actions).
    void RunTracking(int32_t manual);  // AUTO TRACK (0), MANUAL TRACK (1)
    void StepTracking();
    void AnswerSkip();
    void AnswerNoData();
    void AnswerLost();
    void DeleteId();
    void EraseData();
    void SplitId();
    void ConcatId();
    void ShowTable();
    void LoadTrackFile();
    void SaveTrackFile();
    // Enables the controls for the running, manual-wait and manual-run flags.
    void UpdateControls();
    // The ID list as "ALL", "1" ... n with "ALL" chosen.
    void RebuildIdList();
    // Entries added or removed at the end so that they match the targets.
    void SyncIdList();
    // Text of a table cell (in a buffer of the filter).
    const wchar_t* CellText(uint64_t column, uint64_t row);
    // Sizes the table window's grid for the targets and frames.
    void SizeTable();
    // Whether target `index` is chosen in the ID list ("ALL" chooses all).
    bool IdChosen(int32_t index) const;

protected:
    void ShowSettings() override;

private:
    void OptionsToSettings();
    void SelectTarget(int32_t index);
    // Selection bound-checked: the index when it names a target, else -1.
    int32_t ValidSelection() const;
    // The entry of target `index` when it is the next number; `redraw`
    // repaints the list when the panel is shown.
    void AppendIdEntry(int32_t index, int32_t redraw = 1);
    void RemoveAllTargetsAndPoints();
    // A table shorter than the source grows to its frame count.
    void GrowTable();
    void RedrawPicture();
    void RepaintTable();
    void LayoutEngine();
    void TabChanged(int32_t tab);
    void ListChanged(int32_t item);
    void ShowMessage(const wchar_t* jp, const wchar_t* en, bool error);
    bool ReadField(CFgUIEdit& edit, int64_t* value) const;
    void SetField(CFgUIEdit& edit, int64_t value);
    void DrawTarget(int32_t index, int32_t frame, bool box, bool trail, int32_t outline, const OverlayRect& rect,
                    OverlayToGlFn toGlX, OverlayToGlFn toGlY, CFgFont* font);
    bool PointAt(int32_t target, int64_t frame, double* x, double* y);
    void OpenTable(int32_t x, int32_t y, int32_t w, int32_t h);
    static void PanelChanged(CTrackPanel* panel, void* user);
    static const wchar_t* TableCallback(uint64_t column, uint64_t row, int32_t* alignment, double*, double*, double*,
                                        void* data);

    std::atomic<uint32_t> engine_{0};
    std::atomic<uint32_t> currentTab_{kTabRegist};
    CSequenceRun* run_ = nullptr;
    CImgBuff runImage_;   // the frame the run's last step captured
    CImgBuff workImage_;  // the last work image captured outside a run
    // The image a synchronous chain run copies in the filter step.
    std::mutex captureLock_;
    CImgBuff* capture_ = nullptr;
    // The calibration last seen by the filter step, read by the table texts.
    std::mutex calibLock_;
    double seenScale_ = 0.0;
    int32_t seenAxis_ = 0;
    std::wstring seenUnit_;
    uint8_t guide_[3] = {255, 255, 255};
    wchar_t cellText_[80] = {};
    wchar_t lineText_[64] = {};
    bool tableNoted_ = false;
    int32_t tableX_ = -1, tableY_ = -1, tableW_ = 300, tableH_ = 300;
};

// A new 2D tracking filter in colour-range (HSV) mode, or in pattern mode.
CImgFilter* CreateLfTrack2dHsv();
CImgFilter* CreateLfTrack2dPattern();
