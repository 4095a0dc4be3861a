// The "Particle tracking / PTV" filter CLfPtv. EXEC steps the host through
// the whole sequence, finds the particles of every frame and links them
// into tracks (ptv_link.h) kept in the filter's particle store. The tracks
// are drawn over the picture with their ids and trails, corrected by hand
// (erase, split, join), turned into a vector field per grid cell, listed in
// the table window and saved to or loaded from a track file. The image
// passing through is never changed.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "filters/analysis/flow_data.h"
#include "filters/analysis/p2d_data.h"
#include "filters/analysis/particle_data.h"
#include "filters/analysis/table_filter.h"
#include "image/imgbuff.h"
#include "toolkit/fg_list.h"
#include "toolkit/fg_scrollbar.h"
#include "toolkit/fg_tab.h"

// The search radius, saved with one decimal.
class CSearchRadiusSetting : public CSetting<double> {
public:
    using CSetting<double>::CSetting;
    void Format(wchar_t* text, size_t size) const override;
};

// Reads a typed id or scene number: the leading decimal digits (none gives
// 0), saturating at INT32_MAX.
int32_t PtvLeadingNumber(const wchar_t* text);
// "%lf" of a value without trailing zeros and point, or with "%.1lf" when
// oneDecimal.
std::wstring PtvRadiusText(double value, bool oneDecimal);

class CLfPtv : public CTableFilter<CLfPtv> {
public:
    enum : int32_t { kTabTrack = 0, kTabEdit = 1, kTabPtv = 2 };

    CLfPtv();
    ~CLfPtv() override;

    // Settings in saving order.
    CSettingFlag dispId{settings, L"disp_id", 1};
    CSettingFlag lineAll{settings, L"line_all", 0};
    CSetting<int32_t> lineLen{settings, L"line_len", 10, 0, 30};
    CSearchRadiusSetting searchR{settings, L"search_r", 5.0, 0.0, 1e300};
    CSettingFlag activeScope{settings, L"active_scope", 1};
    CSettingFlag activeRange{settings, L"active_range", 1};
    CSetting<int32_t> cellSizeIndex{settings, L"cell_size", 2, 0, 3};
    CSettingFlag gridOn{settings, L"grid", 1};
    CSettingFlag colourCells{settings, L"cell", 0};
    CSetting<int32_t> arrowZoom{settings, L"arrow_zoom", 30, 10, 100};
    CSetting<int32_t> colourBar{settings, L"color_bar", 2, 1, 32};

    CParticleData store;
    CFlowData flow;
    int32_t cellSize = 32;  // pixels of the vector grid's cells

    // Radius measuring: 0 none, 1 centre set.
    int32_t radiusState = 0;
    int32_t centreX = 0, centreY = 0;

    // Panel: the trace group beside the three tabs.
    CFgUIGroup traceGroup;
    CFgUIChkButton idCheck, allSceneCheck;
    CFgUILabel lineLabel;
    CFgUIScrollBar lineSlider;
    CFgUIList idList;
    CFgUITab tabs;
    CFgUILabel searchLabel, unitLabel;
    CFgUIEdit searchEdit;
    CFgUIChkButton scopeCheck, rangeCheck;
    CFgUIButton trackButton;
    CFgUILabel eraseIdLabel, eraseSceneLabel, eraseToLabel;
    CFgUIEdit eraseIdEdit, eraseFromEdit, eraseToEdit;
    CFgUIButton eraseButton;
    CFgUILabel splitIdLabel, splitSceneLabel;
    CFgUIEdit splitIdEdit, splitSceneEdit;
    CFgUIButton splitButton;
    CFgUILabel id1Label, id2Label;
    CFgUIEdit id1Edit, id2Edit;
    CFgUIButton concatButton;
    CFgUIChkButton cell8, cell16, cell32, cell64;
    CFgUIChkButton gridCheck, cellsCheck;
    CFgUILabel zoomLabel;
    CFgUIScrollBar zoomSlider;
    CFgUILabel colourLabel;
    CFgUIScrollBar colourSlider;
    CFgUIButton vectorButton;
    CFgUIButton dataButton, loadButton, saveButton;

    const wchar_t* GetName(const wchar_t* languageCode) override;
    PanelSpec Panel() override;
    void ShowUi(int32_t show, CFgScreen* parent) override;
    void OnSize(uint64_t w, uint64_t h, uint64_t bpp, uint64_t frameCount) override;
    void OnOverlayView(OverlayToGlFn toGlX, OverlayToGlFn toGlY, CFgScreen* screen, CFgFont* font, int32_t dx0,
                       int32_t dy0, int32_t dx1, int32_t dy1, int32_t ix0, int32_t iy0, int32_t ix1, int32_t iy1,
                       int32_t zoom) override;
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t* workFormat, uint32_t* channelBytes) override;
    void OnLButtonDown(int64_t x, int64_t y, uint32_t flags) override;
    void OnRButtonDown(int64_t x, int64_t y, uint32_t flags) override;
    void LoadConfig(CCfgPack* pack) override;
    void DrawBackground() override;

    // The track button: starts tracking, or cancels the run in progress.
    void Track();
    // Detects and links frames 0..last into the (cleared) store; 1 when done.
    int32_t RunTracking(int32_t last);

    // The edit commands; false (with the input message) for refused input.
    bool EraseData();
    bool SplitId();
    bool ConcatId();

    // The list's choice: which ids are drawn (index = id).
    std::vector<uint8_t> ShownIds();
    // Removes every entry; with ids, "ALL" and "1".."n" with "ALL" chosen.
    void RefillIdList();

    // Control actions (also the loaded values' way in).
    void SelectCellSize(int32_t index);
    void SetArrowZoom(int32_t value);
    void SetColourBar(int32_t value);
    void SelectTab(int32_t index);
    void RefreshControls();

    // The calibration the last filter step saw.
    double ScaleCopy();
    int32_t AxisCopy();
    std::wstring UnitCopy();

    // --- outputs ---
    // Sets up the vector grid for the image and cell size; 0 when the image cannot hold one.
    int32_t SetupVectorGrid();
    // The vector EXEC: the field of every frame from the tracks.
    void ComputeVectors();
    // Workers' part of ComputeVectors: frames first..first+count-1 (frame 0
    // skipped); 0 when scratch memory ran out.
    int32_t VectorFrames(int32_t first, int32_t count);
    // The "DATA" button: opens or refreshes the table window.
    void ShowTable();
    // Sizes the table for the view of the current tab.
    void SizeTable();
    // Text of a table cell (at most 64 characters, in a buffer of the filter).
    const wchar_t* CellText(uint64_t column, uint64_t row, int32_t* flags);
    // Track files; 1 when saved / loaded. The path-taking forms skip the
    // file selection (and the overwrite question).
    int32_t SaveTrackFile();
    int32_t LoadTrackFile();
    int32_t SaveTrackFileTo(const wchar_t* path);
    int32_t LoadTrackFileFrom(const wchar_t* path);

protected:
    void ApplyRules() override { RefreshControls(); }
    void ShowSettings() override;

private:
    std::vector<uint64_t> missedFrames_;  // frames the last run could not get
    friend class CPtvRunSource;
    void Relabel();
    void RepaintPanel();
    void RebuildTableIfOpen();
    void OpenTable(int32_t x, int32_t y, int32_t w, int32_t h, bool trackTitle);
    void CommitSearchEdit();
    void SetSearchRadius(double value, bool oneDecimal);
    void OnListChoice(int32_t item);
    void Pick(int64_t x, int64_t y, bool shift);
    void InputError();
    void Message(const wchar_t* jp, const wchar_t* en, bool error);
    void DrawTracks(OverlayToGlFn toGlX, OverlayToGlFn toGlY, CFgFont* font, const struct OverlayRect& rect);

    wchar_t labelText_[3][80] = {};
    // The image, rectangle, background and connectivity of the last capture.
    std::mutex captureLock_;
    ImgRect captureRect_{0, 0, -1, -1};
    uint32_t captureConnect_ = 8, captureBg_ = 0;
    std::atomic<bool> unitShown_{false};  // the unit label shows the calibration copy's unit
    // Table look-ups: the record of each id in one frame.
    CParticleFrameIndex tableIndex_;
};

CImgFilter* CreateLfPtv();

// Reads a track file into `store` (cleared first): the file's length must
// hold every point its counts promise before any memory is taken; points
// that are not finite or negative are absent. A usable calibration (finite
// scale above 0, direction +1 or -1) goes to `calibration` before the points
// are read. 1 loaded, -1 a version this program does not read, 0 otherwise
// (the store left empty).
int32_t PtvReadTrackFile(const wchar_t* path, CParticleData* store,
                         const std::function<void(const P2dInfo&)>& calibration);
