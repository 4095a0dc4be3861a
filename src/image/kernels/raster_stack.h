// Lines and the chart circle plotted point by point, the twice-as-large
// copy of an image, and the stack that adds aligned frames on a grid twice
// as fine as the frames.
#pragma once

#include <cstdint>

#include "image/imgbuff.h"

// Where the rasterisers plot: an image and a grey level.
struct PlotGrayContext {
    CImgBuff* image;
    uint8_t grey;
};
// Writes the grey level at (x, y) through the 8-bit grey setter (any
// format); points outside the image are ignored.
void PlotGrayPixel(int32_t x, int32_t y, PlotGrayContext* context);

// Octant thunks: origin (ox, oy), a along the major axis, b along the minor
// one, to the image points (ox + a, oy + b), (ox + b, oy + a),
// (ox - b, oy + a), (ox - a, oy + b), (ox - a, oy - b), (ox - b, oy - a),
// (ox + b, oy - a), (ox + a, oy - b).
using ImgOctantPlotFn = void (*)(int32_t ox, int32_t oy, int64_t a, int64_t b, PlotGrayContext* context);
void ImgOctantPlot1(int32_t ox, int32_t oy, int64_t a, int64_t b, PlotGrayContext* context);
void ImgOctantPlot2(int32_t ox, int32_t oy, int64_t a, int64_t b, PlotGrayContext* context);
void ImgOctantPlot3(int32_t ox, int32_t oy, int64_t a, int64_t b, PlotGrayContext* context);
void ImgOctantPlot4(int32_t ox, int32_t oy, int64_t a, int64_t b, PlotGrayContext* context);
void ImgOctantPlot5(int32_t ox, int32_t oy, int64_t a, int64_t b, PlotGrayContext* context);
void ImgOctantPlot6(int32_t ox, int32_t oy, int64_t a, int64_t b, PlotGrayContext* context);
void ImgOctantPlot7(int32_t ox, int32_t oy, int64_t a, int64_t b, PlotGrayContext* context);
void ImgOctantPlot8(int32_t ox, int32_t oy, int64_t a, int64_t b, PlotGrayContext* context);

// n points along the major axis and m along the minor one (n >= m >= 1),
// drawn from both ends towards the middle.
void ImgLineStepper(int32_t ox, int32_t oy, int64_t n, int64_t m, ImgOctantPlotFn thunk, PlotGrayContext* context);
// The line from (x0, y0) to (x1, y1), both ends included.
void ImgDrawLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, PlotGrayContext* context);
// One eighth of the radius-128 circle about (ox, oy): 91 steps.
void ImgChartArcOctant(int32_t ox, int32_t oy, ImgOctantPlotFn thunk, PlotGrayContext* context);
// The radius-128 circle of a 256 x 256 chart, spanning columns and rows
// 0 to 255. Returns 1.
int32_t ImgDrawChartCircle(PlotGrayContext* context);

// Job of ImgEnlarge2xRows: source rows.
struct Enlarge2xJob {
    const C_ImgBuff* source;
    C_ImgBuff* destination;
};
void ImgEnlarge2xRows(void* job, uint64_t first, uint64_t count);
// Replaces the image by its twice-as-large copy, each pixel repeated over
// 2 x 2, every format through 8-bit R, G, B. 1 done; 0 for an empty image
// or no memory (image unchanged).
int32_t ImgEnlarge2x(CImgBuff* image);

// The frame stack: two reference areas of the first frame, the first frame
// enlarged (the output's size and format), and sums of R, G, B and hits on
// the fine grid of (scale x width) x (scale x height) cells.
struct FrameStack {
    CImgBuff* template1;
    CImgBuff* template2;
    CImgBuff* workFrame;
    CImgBuff* enlargedTemplate1;
    uint32_t sampling;
    int32_t ref1x, ref1y, ref2x, ref2y;
    int32_t width, height;
    int32_t scale;
    uint32_t* sumR;
    uint32_t* sumG;
    uint32_t* sumB;
    uint32_t* hits;
};
// A stack holding `frame` (a copy of it is aligned and added; the frame is
// not changed), or null: an empty frame, no two reference areas of 32 x 32
// within a 32-pixel margin, no memory, or the frame not added.
FrameStack* ImgFrameStackCreate(const CImgBuff* frame);
// Aligns the frame in place to the stack's reference areas (uncovered
// pixels take the fill grey level) and adds its pixels at their sub-pixel
// corrected cells. 1 added; 0 refused (another size or format outside
// 1-9, the alignment failed): nothing added, the frame maybe aligned.
int32_t ImgFrameStackAdd(FrameStack* stack, CImgBuff* frame, uint8_t fill);
// Job of the fill passes and of the division.
struct FrameStackJob {
    FrameStack* stack;
    C_ImgBuff* output;
    uint8_t* source;  // per cell: 1 where it holds a value the passes may spread
    uint8_t* filled;  // per cell: set by the current pass
};
void ImgFrameStackFillRows(void* job, uint64_t first, uint64_t count);
void ImgFrameStackDivideRows(void* job, uint64_t first, uint64_t count);
// Fills the cells no frame reached from their neighbours, pass by pass,
// writes the mean of every cell into `output` (the first frame enlarged, in
// its format) and frees the stack. 1 done; 0 for a null stack or output
// (the stack is freed all the same) or no memory.
int32_t ImgFrameStackResolve(FrameStack* stack, CImgBuff* output);
