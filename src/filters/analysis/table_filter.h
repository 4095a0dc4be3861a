// CTableFilter: the panel plumbing of the analysis filters that step the
// host through the whole sequence and list their results in the table
// window (PIV, PTV): the run state that keeps the panel enabled and open,
// the table window that goes and comes back with the panel, the copy of the
// chain's calibration the table reads, and the vector table's cells.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "filters/analysis/csv_viewer.h"
#include "filters/analysis/flow_data.h"
#include "filters/core/filterctrl.h"
#include "filters/processing/dialog_filter.h"
#include "toolkit/fg_scrollbar.h"

class CSequenceRun;

// The loaded integer rule of these panels' settings: an optional '-' and
// decimal digits; anything else, or overflow, reads as 0.
int32_t LoadedConfigInt(const wchar_t* text);

// A horizontal slider stepping by one from `value`.
void SetupHorizontalSlider(CFgUIScrollBar& bar, int32_t minimum, int32_t maximum, int32_t value, void* data,
                           CFgUIScrollBar::Callback callback);

// The calibration (scale, Y-axis direction, unit) the filter step last saw,
// read on the interface thread.
class CCalibCopy {
public:
    struct Values {
        double scale = 1.0;
        int32_t axis = 1;
        std::wstring unit;
    };
    // Takes the calibration, the unit cut to `maxUnit` characters; true when
    // anything changed.
    bool Refresh(double scale, int32_t axis, const wchar_t* unit, size_t maxUnit);
    Values Get();

private:
    std::mutex lock_;
    Values values_;
};

// How the vector table shows a field: its calibration, the host's
// milliseconds per frame, the language and the speed of a vector.
struct FlowTableView {
    double scale = 1.0;
    int32_t axis = 1;           // below 1: the Y axis points up, directions are mirrored
    std::wstring unit;          // empty: "pixel"
    uint64_t frameTime = 0;     // 0 (sequences, stills): speeds per frame
    bool japanese = false;
    // Frames from this one on are left blank (-1: none is).
    int64_t frameLimit = -1;
    // Speed of a vector of pixels per frame in calibration units per second
    // (per frame without a frame time).
    double (*speed)(const FlowVector& v, double scale, uint64_t frameTime) = nullptr;
};

// Text of cell (column, row) of the vector table into out (65 characters):
// column 0 heads the speed unit and "rad" over the frame numbers (flags
// set to 1 on those), every grid cell k has the columns 2k + 1 (speed) and
// 2k + 2 (direction) headed "column,row" and "speed" / "direction".
const wchar_t* FlowTableCellText(const CFlowData& flow, const FlowTableView& view, uint64_t column, uint64_t row,
                                 int32_t* flags, wchar_t* out);

template <class Derived>
class CTableFilter : public CDialogFilter<Derived> {
public:
    CCsvViewer table;

    bool Running() const { return run_ != nullptr; }

    // While a run lasts the panel stays enabled and cannot be closed.
    void EnableUi(int32_t enable) override {
        if (Running()) return;
        CDialogFilterBase::EnableUi(enable);
    }
    int32_t QueryClose() override {
        if (Running()) return 0;
        return CDialogFilterBase::QueryClose();
    }
    void OnLang(const wchar_t* languageCode) override {
        table.NoteForLanguage(languageCode);
        CImgFilter::OnLang(languageCode);
    }

protected:
    CTableFilter() {
        table.grid.textCallback = TableCallback;
        table.grid.callbackData = this;
    }

    // Hiding the panel closes the table window with it.
    void HidePanel(CFgScreen* parentScreen) {
        if (table.window) table.Destroy();
        CDialogFilterBase::ShowUi(0, parentScreen);
    }
    void RedrawPicture() {
        if (this->FilterOn() && this->Chain()) this->Chain()->Redraw();
    }
    // The table's texts changed: its columns are fitted again and it is repainted.
    void RepaintTable() { table.ContentsChanged(); }
    // The filter step's part: takes the chain's calibration; true when it changed.
    bool RefreshCalibCopy(size_t maxUnit) {
        return calib_.Refresh(this->calibScale, this->calibAxisY, this->calibUnit, maxUnit);
    }
    // The vector table's view: the calibration copy, the host's frame time
    // and the panel's language (the speed is the caller's).
    FlowTableView TableView() {
        const CCalibCopy::Values calib = calib_.Get();
        FlowTableView view;
        view.scale = calib.scale;
        view.axis = calib.axis;
        view.unit = calib.unit;
        view.frameTime = this->Chain() ? this->Chain()->GetMediaFrameTime() : 0;
        view.japanese = this->Japanese();
        return view;
    }

    CSequenceRun* run_ = nullptr;
    CCalibCopy calib_;
    wchar_t cellText_[65] = {};  // the table cell CellText returns

private:
    static const wchar_t* TableCallback(uint64_t column, uint64_t row, int32_t* flags, double*, double*, double*,
                                        void* data) {
        return static_cast<Derived*>(static_cast<CTableFilter*>(data))->CellText(column, row, flags);
    }
};
