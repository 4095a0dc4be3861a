// The "PIV" filter CLfPiv: particle image velocimetry over a whole
// sequence. It plans a grid of square cells over the image; EXEC steps the
// host through every frame and, for each pair, searches every cell's
// pattern of frame i in frame i - 1 on the worker pool (a job thread per
// pair), storing one vector per cell and frame in its flow store. The
// result is drawn as coloured arrows over the picture, vectors are picked
// and deleted with the mouse, and speeds and directions are listed in the
// table window. The image passing through is never changed.
#pragma once

#include <atomic>
#include <cstdint>

#include "filters/analysis/flow_data.h"
#include "filters/analysis/table_filter.h"
#include "image/imgbuff.h"
#include "toolkit/fg_scrollbar.h"
#include "toolkit/fg_tab.h"

// One cell of a job: where its pattern lies and, after the search, where it
// matched. The pattern itself is cut from the current image when the cell
// is searched, into an image the searching worker reuses for its cells.
struct PivCell {
    uint64_t size = 0;    // pattern edge; 0 for a cell that is not searched
    double x = 0, y = 0;  // pattern top-left in the current image, then matched top-left in the previous one
    double score = 0;
};

// One frame pair.
struct PivJobContext {
    const CImgBuff* previous = nullptr;
    const CImgBuff* current = nullptr;
    int32_t frame = 0;           // i: vectors go to frame i of the store
    int32_t level = 0;           // 0 coarse-to-fine shortcut, 1 exhaustive
    int32_t bigPattern = 1;      // patterns grow by s/2 on every side
    int32_t searchCode = -2;     // -2, 1 or 2: radius s/2, s, 2s
    CFlowData* flow = nullptr;   // geometry (origin, step, columns, rows) and target
    const void* cancelOwner = nullptr;  // the filter whose cancel flag the search reads
    std::atomic<int32_t> result{-1};
};

// Analyses one pair: cut patterns, search, store (each on the pool); the
// context's result becomes 1 or 0.
void PivJob(PivJobContext* context);
// PivJob on a thread of its own, waited for while messages are pumped.
int32_t PivRunJobThread(const CImgBuff* previous, const CImgBuff* current, int32_t frame, int32_t level,
                        int32_t bigPattern, int32_t searchCode, CFlowData* flow, const void* cancelOwner);
// The search's progress callback: the filter's cancel flag (0 for null).
int PivCancelRequested(void* filter);
// Search radius in pixels of cell size s for a search code.
int32_t PivSearchRadius(int32_t s, int32_t searchCode);

class CLfPiv : public CTableFilter<CLfPiv> {
public:
    enum : int32_t { kPageMeasure = 0, kPageResult = 1 };

    CLfPiv();
    ~CLfPiv() override;

    // Settings in saving order; the controls mirror them.
    CSetting<int32_t> cellSizeIndex{settings, L"cell_size", 2, -1, 3};
    CSettingFlag largePattern{settings, L"large_pattern", 1};
    CSettingFlag fastScan{settings, L"fast_scan", 1};
    CSetting<int32_t> searchSize{settings, L"search_size", 0, 0, 2};
    CSettingFlag gridOn{settings, L"grid", 1};
    CSettingFlag colourCells{settings, L"cell", 0};
    CSetting<int32_t> arrowZoom{settings, L"arrow_zoom", 30, 10, 100};
    CSetting<int32_t> colourBar{settings, L"color_bar", 2, 1, 32};
    CSettingFlag eraseDirection{settings, L"erase_r", 1};
    CSetting<int32_t> directionLimit{settings, L"erase_r_val", 45, 30, 120};
    CSettingFlag eraseLength{settings, L"erase_l", 1};
    CSetting<int32_t> lengthLimit{settings, L"erase_l_val", 20, 15, 30};
    // Only gates "look at big pattern" (below 2: enabled); loaded, never saved.
    int32_t methodLevel = 1;

    CFlowData flow;

    // The planned grid.
    int32_t planX0 = 0, planY0 = 0, planCell = 32, planColumns = 0, planRows = 0, planFrames = 0;

    // Panel.
    CFgUITab tabs;
    CFgUIChkButton cell8, cell16, cell32, cell64;
    CFgUIChkButton fastCheck, bigCheck;
    CFgUILabel searchLabel;
    CFgUIScrollBar searchSlider;
    CFgUIButton execButton;
    CFgUIChkButton gridCheck, cellsCheck;
    CFgUILabel zoomLabel;
    CFgUIScrollBar zoomSlider;
    CFgUILabel colourLabel;
    CFgUIScrollBar colourSlider;
    CFgUIChkButton directionCheck;
    CFgUIScrollBar directionSlider;
    CFgUIChkButton lengthCheck;
    CFgUIScrollBar lengthSlider;
    CFgUIButton dataButton;

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

    // The execute button: runs the analysis, or cancels the run in progress.
    void Execute();
    int32_t CellSize() const;
    // Plans the grid for the current image and cell size; a grid the image
    // cannot hold keeps the previous plan.
    void PlanGrid();
    // Controls enabled by the run state and the settings.
    void RefreshControls();
    // The "DATA" button: shows the table window.
    void ShowTable();
    // Sizes the table for the store (frameCount: rows of frames).
    void SizeTable(int32_t frameCount);
    // Text of a table cell (at most 64 characters, in a buffer of the filter).
    const wchar_t* CellText(uint64_t column, uint64_t row, int32_t* flags);

    // Control actions (also the loaded values' way in).
    void SelectCellSize(int32_t index);
    void SetSearchSize(int32_t value);
    void SetArrowZoom(int32_t value);
    void SetColourBar(int32_t value);
    void SetDirectionLimit(int32_t value);
    void SetLengthLimit(int32_t value);

protected:
    void ApplyRules() override { RefreshControls(); }
    void ShowSettings() override;

private:
    void Relabel();
    // Zeroes every vector and frame flag: each frame is validated again when next drawn.
    void ClearFlags();
    void OpenTable(int32_t x, int32_t y, int32_t w, int32_t h);

    int32_t finishedFrames_ = -1;  // during a run: frames 0 .. n - 1 are complete; -1 all
    int32_t analysedFrames_ = -1;  // after a run that ended early: frames 0 .. n - 1 hold vectors; -1 all
    wchar_t labelText_[4][80] = {};
    wchar_t lengthText_[80] = {};
};

CImgFilter* CreateLfPiv();
