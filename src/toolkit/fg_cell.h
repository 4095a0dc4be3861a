// Cell grid: a read-only table whose cell texts and colours come from the
// owner through a callback at drawing and export time, with frozen header
// rows and one header column, two scroll bars, press, drag and release
// callbacks per cell, and export as comma-separated text.
#pragma once

#include <cstdint>
#include <memory>

#include "toolkit/fg_control.h"
#include "toolkit/fg_viewbars.h"

class CFgUICell : public CFgUIObj {
public:
    // Returns the cell's text (null draws nothing and exports as empty).
    // The alignment comes preset to 0 (< 0 left, 0 centred, > 0 right) and
    // the colour to the cell's default text colour.
    using TextCallback = const wchar_t* (*)(uint64_t column, uint64_t row, int32_t* alignment, double* red,
                                           double* green, double* blue, void* data);
    using CellCallback = void (*)(uint64_t column, uint64_t row, void* data);

    CFgUICell();
    ~CFgUICell() override;

    TextCallback textCallback = nullptr;
    CellCallback pressCallback = nullptr;
    CellCallback dragCallback = nullptr;
    CellCallback releaseCallback = nullptr;
    void* callbackData = nullptr;
    uint64_t columns = 0;
    uint64_t rows = 0;
    uint64_t headerColumns = 0;
    uint64_t headerRows = 0;
    // Width of each column in half-width character cells; the owner may set them.
    std::unique_ptr<uint64_t[]> columnWidths;
    uint64_t firstColumn = 0;  // the first scrolled column and row shown after the headers
    uint64_t firstRow = 0;
    // Cells inside this inclusive range draw in the highlight colours.
    uint32_t rangeOn = 0;
    uint64_t rangeFirstColumn = 0;
    uint64_t rangeFirstRow = 0;
    uint64_t rangeLastColumn = 0;
    uint64_t rangeLastRow = 0;
    FgBarRect view;  // the control less the bars in use
    uint32_t laidOut = 0;
    uint32_t pressed = 0;
    uint64_t pressedColumn = 0;
    uint64_t pressedRow = 0;
    CFgViewBars bars;

    // The grid always sits at the container's left edge: x is taken as 0.
    int32_t SetRect(int32_t x, int32_t y, int32_t width, int32_t height);
    // Clears everything; with non-zero counts (each at most 2^31 - 1, what
    // a scroll bar can address) makes columns of width 9. 0 for a zero or
    // too large count, or no memory.
    int32_t SetSize(uint64_t columns, uint64_t rows, int32_t redraw);
    void Reset(int32_t redraw);
    // One header column (whatever the first argument says) and `rows`
    // header rows; needs 2 columns or more and rows below the row count.
    int32_t SetHeaderRows(uint64_t columnsArgument, uint64_t rows, int32_t redraw);
    // Makes a cell outside the headers the first visible one.
    int32_t ScrollToCell(uint64_t column, uint64_t row);
    // Control-relative point to cell.
    int32_t HitTest(int32_t x, int32_t y, uint64_t* column, uint64_t* row) const;
    // Every cell, headers included: "," between cells, LF after each row,
    // UTF-8; with `quote` set, a field holding ',', '"', CR or LF is put in
    // double quotes with its quotes doubled, others stay as they are. 0 when
    // the file cannot be written completely.
    int32_t SaveCsv(const wchar_t* path, int32_t quote = 0);
    // Sizes every column to its widest text, header cells included (at
    // least one half-width cell), and lays the grid out again.
    void FitColumns();
    // Recomputes the bars, the view and the first visible cell; owners call
    // it after writing counts or widths directly.
    void UpdateLayout();

    // Pixels: a column is width x (F / 2) + 4 wide, a row F + 4 high.
    int64_t ColumnPixels(uint64_t column) const;
    int64_t RowPixels() const { return FontHeight() + 4; }
    int64_t FontHeight() const;

    void Draw(CFgScreen* screen, CFgFont* font) override;
    void OnAttach() override;
    void OnVisibleChanged(uint32_t shown, uint64_t argument) override;
    void OnMouseMove(int32_t x, int32_t y) override;
    void OnLButtonDown(int32_t x, int32_t y) override;
    void OnLButtonUp(int32_t x, int32_t y) override;
    void OnMouseWheel(int32_t x, int32_t y, int32_t notches) override;

private:
    struct CellPainter;
    bool InRange(uint64_t column, uint64_t row) const;
    void DrawCell(CellPainter& painter, uint64_t column, uint64_t row, int32_t left, int32_t top, int32_t right,
                  bool header);
    void Repaint(int32_t redraw) {
        if (redraw) RedrawParent();
    }
};
