// CFlowData: a field of displacement vectors on a regular grid of square
// cells, one vector per cell and frame, with outlier flags and the settings
// the field is drawn with.
#pragma once

#include <cstdint>

#include "filters/analysis/overlay_pen.h"

struct FlowVector {
    double dx;
    double dy;
};

class CFlowData {
public:
    enum : uint8_t { kDirectionOutlier = 1, kLengthOutlier = 2 };

    CFlowData() = default;
    CFlowData(const CFlowData&) = delete;
    CFlowData& operator=(const CFlowData&) = delete;
    virtual ~CFlowData();

    // Geometry of the field; zero while none is set up.
    int32_t originX = 0, originY = 0;
    int32_t step = 0;
    int32_t columns = 0, rows = 0;
    // Entry of (c, r, f) at (f * rows + r) * columns + c; (0, 0) = no vector.
    FlowVector* vectors = nullptr;
    uint8_t* vectorFlags = nullptr;
    // 1 = the vector flags of that frame are up to date.
    uint8_t* frameFlags = nullptr;
    int32_t frames = 0;

    // Drawing settings, kept by Clear and Setup; the owning filter writes them.
    uint32_t drawGrid = 1;
    double angleLimit = 0.78539816339744830962;
    double lengthRatio = 2.0;
    int32_t selectedColumn = -1, selectedRow = -1;
    int32_t colourBase = 2, colourStep = 2;

    void Clear();
    int32_t Setup(int32_t x0, int32_t y0, int32_t cellStep, int32_t cellColumns, int32_t cellRows,
                  int32_t frameCount);
    int32_t SetupCentred(int32_t right, int32_t bottom, int32_t cellStep, int32_t frameCount);
    FlowVector* VectorAt(int32_t column, int32_t row, int32_t frame);
    const FlowVector* VectorAt(int32_t column, int32_t row, int32_t frame) const;
    void Validate(int32_t frame);
    uint8_t OutlierFlags(int32_t column, int32_t row, int32_t frame, double limit, double ratio) const;
    int32_t Draw(bool colourCells, OverlayToGlFn toGlX, OverlayToGlFn toGlY, const OverlayRect& rect,
                 int32_t frame, double zoom, double guideRed, double guideGreen, double guideBlue,
                 bool eraseDirection, bool eraseLength);
    static int32_t DrawGrid(int32_t x0, int32_t y0, int32_t cellStep, int32_t cellColumns, int32_t cellRows,
                            OverlayToGlFn toGlX, OverlayToGlFn toGlY, const OverlayRect& rect, double red,
                            double green, double blue);

    // Angle in radians between two vectors; 0 when either is (0, 0).
    static double Angle(double ax, double ay, double bx, double by);
    // Colour of a vector of length L (pixels per frame) at brightness b.
    void LengthColour(double length, double brightness, double rgb[3]) const;
    // An arrow in image coordinates, mapped and drawn with the current pen.
    static void DrawArrow(double x1, double y1, double x2, double y2, OverlayToGlFn toGlX, OverlayToGlFn toGlY,
                          const OverlayRect& rect);

private:
    bool ValidateFrame(int32_t frame);
};
