// Finding a template image inside a search image: whole-pixel search over a
// window (optionally coarse to fine), sub-pixel refinement, and the rotated
// template set of the pattern tracker matched on the pool.
#pragma once

#include <cstdint>

#include "image/imgbuff.h"

class CriticalSection;

// A cancel test: a non-zero result asks the search to stop. Called from
// pool workers, once per scored position.
using MatchCancelFn = int (*)(void* user);

struct MatchSamples;

// Job of ImgMatchTemplateRows, shared by its workers.
struct MatchTemplateJob {
    const CImgBuff* a;  // search image
    const CImgBuff* b;  // template
    int32_t method;     // 0 mean absolute difference, otherwise correlation
    int32_t sampling;   // 0 8-bit samples, otherwise L*a*b*
    int32_t x0, x1, y0, y1;  // clipped window of top-left positions
    int32_t rx, ry;          // preferred position on equal scores
    int32_t noneYet;         // 1 until a worker merges a result
    int32_t bestX, bestY;
    double bestScore;
    double bestDistance;  // squared distance of the best from (rx, ry)
    MatchCancelFn cancel;
    void* user;
    CriticalSection* lock;
    const MatchSamples* samples;  // the samples of a and b prepared for the scan
};
// Pool worker: rows y0 + first .. y0 + first + count - 1 of the window.
void ImgMatchTemplateRows(void* job, uint64_t first, uint64_t count);

// Best position of B's top-left pixel in A within the inclusive window
// (x0, y0)-(x1, y1), scored as ImgCompareImages scores it: the lowest score,
// then the smallest squared distance from (rx, ry), then the earliest in
// row-major order. pyramid > 0 (raised to 16) first searches half-size
// copies while the template is at least twice that on each side and the
// window at least that wide, then only the 4 x 4 positions around the
// doubled coarse result. 1 found: outputs written. 0: the template does not
// fit at the window start, the clipped window is empty, no position has a
// score (score -1.0, outputs untouched), or the cancel test asked to stop
// (outputs written by the scan that ran, score -1.0 when it was a coarse one).
int32_t ImgMatchTemplate(const CImgBuff* a, const CImgBuff* b, int32_t rx, int32_t ry, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                         int32_t* outX, int32_t* outY, int32_t method, int32_t sampling, int32_t pyramid, double* score,
                         MatchCancelFn cancel, void* user);

// Job of ImgHalveRows: output pixel (x, y) is the mean of source pixels
// (x0 + 2x .. x0 + 2x + 1, y0 + 2y .. y0 + 2y + 1).
struct HalveJob {
    const C_ImgBuff* source;
    C_ImgBuff* destination;
    int32_t width;   // output width
    int32_t x0, y0;  // source origin
};
void ImgHalveRows(void* job, uint64_t first, uint64_t count);
// Destination = source at half its size (integer halves) in its format:
// means of 2 x 2 pixels truncated, through the 8-bit grey accessors for grey
// formats and the 8-bit RGB accessors for the others. 0 when it cannot be
// created.
int32_t ImgHalve(const CImgBuff* source, CImgBuff* destination);

// Score of B at the fractional position (x, y) of A: A resampled there by a
// sub-pixel shift of a cut-out one pixel larger than B. -1.0 when the
// cut-out does not lie inside A.
double ImgMatchScoreAt(const CImgBuff* a, const CImgBuff* b, double x, double y, int32_t method, int32_t sampling);
// Best fractional position in the rectangle (x0, y0)-(x1, y1) by recursive
// halving into quadrants until the rectangle is no wider than `step`. 0
// only when cancelled before anything was done (outputs untouched). Points
// are scored as ImgMatchScoreAt scores them; for 8-bit grey or RGB images
// of one format with 8-bit samples from exact integer sums, the correlation
// then as the whole-pixel scan scores it.
int32_t ImgRefineMatchSubpixel(const CImgBuff* a, const CImgBuff* b, double x0, double y0, double x1, double y1, double* outX,
                               double* outY, int32_t method, int32_t sampling, double step, double* score, MatchCancelFn cancel,
                               void* user);
// ImgRefineMatchSubpixel on (x - 1, y - 1)-(x + 1, y + 1); 0 for a step not
// above 0 (nothing written).
int32_t ImgRefineMatchAroundPixel(const CImgBuff* a, const CImgBuff* b, int32_t x, int32_t y, double* outX, double* outY,
                                  int32_t method, int32_t sampling, double step, double* score, MatchCancelFn cancel, void* user);

// The rotated template set: entry 0 unrotated, entries 2k - 1 and 2k turned
// by 10k and 360 - 10k degrees (k = 1 .. 17), entry 35 by 180.
constexpr int32_t kImageListEntries = 36;
struct ImageList {
    int64_t width;   // template width
    int64_t height;  // template height
    uint64_t count;  // images held
    CImgBuff* images;  // array of kImageListEntries handles
};
// The template (x0, y0)-(x1, y1) of the source turned about its centre in
// the 36 steps, each entry the template's size in the source's format;
// null for a reversed rectangle, a bounding square of the turns not inside
// the source, an empty source or no memory.
ImageList* ImgMakeRotatedTemplates(const CImgBuff* source, int32_t x0, int32_t y0, int32_t x1, int32_t y1);
// 0 for a null list, else 1 after releasing everything.
int32_t ImgDeleteImageList(ImageList* list);

// Job of ImgMatchPatternsKernel, filled by its caller.
struct MatchPatternsJob {
    const CImgBuff* search;
    const ImageList* list;
    int32_t rx, ry;
    int32_t x0, y0, x1, y1;
    int32_t method, sampling;
    double step;      // refinement step; results are refined positions only
    int32_t pyramid;  // 0 none; 1 .. 15 count as 16
    MatchCancelFn cancel;
    void* user;
    CriticalSection* lock;  // null: no locking
    uint64_t bestIndex;
    double bestScore;  // set to -1.0 by the caller: none yet
    double bestX, bestY;
};
// Pool worker over list entries: match, refine, merge the lowest score (on
// equal scores the lower entry index).
void ImgMatchPatternsKernel(void* job, uint64_t first, uint64_t count);

// Test seam: 0 scalar sums, 1 at most AVX2, 2 (default) the best the
// processor has. Returns the level in force.
int32_t ImgMatchLimitVectorLevelForTesting(int32_t level);
