// Bringing a frame into register with a reference frame by two reference
// areas cut from it, and choosing two good reference areas automatically.
#pragma once

#include <cstdint>

#include "image/imgbuff.h"

// One tile of a rectangle with its structure scores (from the tile's
// RectStatistics): s0 the L* spread of the row and column means, s1 the
// chroma spread, s2 the L* curvature, s3 the chroma curvature, each the
// weaker of the two directions. A tile's total is s0 + s1 + s2 + s3.
struct TileScore {
    int32_t x0, y0, x1, y1;
    double s0, s1, s2, s3;
};

// Job of ImgScoreTilesRows: tile (row r, column c) is record
// r x columns + c, its top-left corner at (x0 + c x tileWidth,
// y0 + r x tileHeight).
struct ScoreTilesJob {
    const CImgBuff* frame;
    TileScore* tiles;
    int32_t x0, y0;
    int32_t columns;
    int32_t tileWidth, tileHeight;
};
void ImgScoreTilesRows(void* job, uint64_t first, uint64_t count);

// Tiles the rectangle (x0, y0)-(x1, y1) of the frame, the grid centred in it
// (an odd leftover column or row goes to the right or bottom), and scores
// every tile on the pool. Returns the number of tiles with a new[] array
// the caller deletes, or 0: no frame, a rectangle not inside it or
// reversed, a tile size below 1 or larger than the rectangle, no output
// pointer, or no memory.
int32_t ImgScoreTiles(const CImgBuff* frame, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t tileWidth, int32_t tileHeight,
                      TileScore** out);
// The tile of greatest total (first on ties), then the tile that best
// combines a high total with a large distance from it (the later on
// ties). 0 when fewer than two tiles fit.
int32_t ImgFindReferenceArea(const CImgBuff* frame, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t tileWidth, int32_t tileHeight,
                             TileScore* first, TileScore* second);

// Moves the frame back by the offset: by whole pixels (truncated) with
// `integerOnly`, else by the exact fraction. The shift's result; 0 for a
// NaN offset.
int32_t ImgShiftByOffset(int32_t integerOnly, CImgBuff* frame, double ox, double oy, uint8_t fill);

// The template's offset (dx, dy) from its expected top-left position
// (x, y) in the frame to a tenth of a pixel: a whole-pixel search within
// radius - 1, then a refinement within one pixel. 1 with the offset
// written; 0 (nothing written) for an empty frame or template, a radius
// below 1, a search that finds nothing, or a refinement with no score.
int32_t ImgRefinePointOffset(const CImgBuff* frame, const CImgBuff* tmpl, int32_t x, int32_t y, int32_t radius, double* dx, double* dy,
                             int32_t sampling);

// Finds the two templates near their reference points (top-left corners
// in the reference frame) within `radius`, turns and scales the frame
// about its centre so that the distance and direction between them match
// the references, finds template 0 again and shifts the frame so that it
// returns to its reference point (whole pixels with `integerOnly`).
// Uncovered pixels take the fill grey level (0 or 255). 1 aligned; 0
// failed: a missing or empty argument, radius below 1, a template not
// found, reference or found points that coincide, a refused turn or shift.
// A failure after the turn leaves the frame turned and scaled.
int32_t ImgAlignTwoPoints(int32_t integerOnly, CImgBuff* frame, const CImgBuff* const* templates, const int32_t* refX, const int32_t* refY,
                          int32_t radius, uint8_t fill, int32_t sampling);
// The same searching around (searchX[i], searchY[i]) by correlation of
// 8-bit samples, writing the positions found (before the turn) to foundX
// and foundY when given, and always shifting by the exact fraction.
int32_t ImgAlignTwoPointsEx(CImgBuff* frame, const CImgBuff* const* templates, const int32_t* refX, const int32_t* refY,
                            const int32_t* searchX, const int32_t* searchY, int32_t radius, uint8_t fill, double* foundX, double* foundY);
