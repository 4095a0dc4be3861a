// The kernel grid editor: a 9 x 9 grid of signed integers of which a
// centred square window (3, 5, 7 or 9 cells a side) is active. Left click
// adds 1 to a cell, right click takes 1 away; the arrow keys select a cell
// and digits, minus, backspace and C type its value. Cells outside the
// window are greyed and keep their values.
#pragma once

#include <cstdint>

#include "toolkit/fg_control.h"

// Told of every change of a cell.
class CFEditClient {
public:
    virtual ~CFEditClient() = default;
    virtual void OnEditChanged() {}
};

class CFEdit : public CFgUIObj {
public:
    int32_t values[9][9] = {};  // [row][column]
    int32_t size = 3;           // side of the active window
    int32_t cellWidth = 30, cellHeight = 20;
    int32_t selColumn = 4, selRow = 4;
    uint32_t fresh = 1;  // the next typed character starts a new value
    int32_t sign = 1;    // of the value being typed
    CFEditClient* client = nullptr;  // not owned

    // The cell under control-local pixel (x, y) changed by +1 / -1 and
    // selected; 0 (nothing changed) outside the grid, on a cell outside the
    // window, or when the value is at the end of the 32-bit range.
    int32_t IncrementCell(int32_t x, int32_t y);
    int32_t DecrementCell(int32_t x, int32_t y);
    // The active window row by row into size x size integers; 0 for null.
    int32_t GetKernel(int32_t* out) const;
    bool InWindow(int32_t column, int32_t row) const;

    void OnLButtonDown(int32_t x, int32_t y) override;
    void OnRButtonDown(int32_t x, int32_t y) override;
    void OnKeyStateChanged() override;
    void OnChar(uint16_t character) override;
    void Draw(CFgScreen* screen, CFgFont* font) override;

private:
    int32_t StepCell(int32_t x, int32_t y, int32_t step);
    void Changed();
};
