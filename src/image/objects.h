// Connected objects ("islands") taken one at a time out of a range mask, each
// with box-sized masks that tell its holes from the background around it;
// contour tracing and the shape measurement of one object. The three island
// records are read field by field by the measuring and tracking filters.
#pragma once

#include <cstdint>

#include "image/bitmask.h"
#include "image/imgbuff.h"

// Non-zero to stop.
using IslandProgressFn = int32_t (*)(int32_t count, int64_t maximum, uint64_t user);

struct IslandSettings {
    CImgBuff* image;        // grey values are read from it
    uint32_t inverted;      // objects are the pixels below the maximum; weight = maximum - value
    uint32_t connectivity;  // 4 or 8
    uint32_t islands;       // an object in another's hole stays an object of its own
    uint32_t unweighted;    // every pixel weighs 1 in the weighted centre
    double lengthPerPixel;
    int32_t yAxis;  // -1: y grows upwards
    IslandProgressFn progress;  // may be null
    uint64_t user;
};
static_assert(sizeof(IslandSettings) == 56, "read by size by the measuring filters");

struct IslandObject {
    BitMask* object;  // the object, box-sized
    BitMask* reach;   // the object and every pixel that is not in one of its holes
    int32_t x, y;     // the box's top-left in range-mask coordinates
    int32_t width, height;
};

struct IslandRecord {
    uint64_t reserved;
    int32_t startX, startY;          // first pixel in raster order
    double centreX, centreY;         // mean of the outer contour points
    double weightedX, weightedY;     // weighted centre; 0 when the weights sum to 0
    double area;                     // pixels x length per pixel squared
    int32_t holes;
    double holeArea;
    double filledArea;               // area + hole area
    double perimeter;                // outer contour length
    double holePerimeter;            // the contour lengths of all holes, added up
    uint32_t maxValue, minValue;
    double valueSum;
    double meanValue;
    double meanPerimeter;            // (perimeter + hole perimeter) / 2
    double circularity;              // 4 pi filled area / perimeter squared
    double equivalentDiameter;
    double equivalentVolume;
    double maxRadius, minRadius, meanRadius;
    double length, breadth;          // sides of the smallest-area enclosing rectangle, pixels
    double orientation;              // radians of the long side
};
static_assert(sizeof(IslandRecord) == 200, "read by size by the measuring filters");

struct IslandSummary {
    double regionArea;
    uint64_t objects;
    int64_t holes;
    uint64_t islands;
    uint64_t singlePixelObjects;
    uint64_t singlePixelHoles;
    double area;
    double holeArea;
    uint32_t maxValue, minValue;
    double valueSum;
    double meanValue;
    uint64_t pixelCount;
};
static_assert(sizeof(IslandSummary) == 96, "read by size by the measuring filters");

// Moves of a contour trace, clockwise from up (y downward).
struct ContourDirection {
    int32_t dx, dy;
    double step;
};
extern const ContourDirection ContourDirections[8];

// Takes the next object out of the range mask, searching in raster order
// from (x, y) and flooding within (0, 0)-(x1, y1) at `connectivity`. With
// `islands`, objects in its holes stay in the range mask and, when an island
// mask is given, are counted into *islandCount and erased from that mask;
// without, they become part of this object. 1 taken, 0 none left, -1 on
// failure. The caller frees the object's two masks.
int32_t ImgNextObject(RangeMask* rangeMask, const IslandSettings* settings, IslandObject* object, int32_t x1, int32_t y1,
                      int32_t x, int32_t y, int32_t connectivity, uint32_t islands, uint64_t* islandCount,
                      BitMask* islandMask);
// Frees the object's masks and zeroes the record.
void ImgIslandObjectRelease(IslandObject* object);
// Measures one object of settings->image. 1, or 0 when the hole measurement
// failed. Zeroes both records first, except the summary's islands field.
int32_t ImgMeasureObject(const IslandObject* object, const IslandSettings* settings, IslandSummary* summary,
                         IslandRecord* record);
// Number of holes (0 for an empty box, -1 on failure); adds the area and the
// contour length of every hole and counts single-pixel holes into `summary`.
int32_t ImgMeasureHoles(const IslandObject* object, const IslandSettings* settings, IslandSummary* summary, double* holeArea,
                        double* holePerimeter);
// Traces a contour from (x, y) of the mask; *points gets x, y pairs (free
// with std::free). The number of points, or -1 when memory runs out.
int64_t ImgTraceContour(const BitMask* mask, int32_t x, int32_t y, int32_t connectivity, int32_t inner, double** points);
int32_t ImgContourFirstDir(const BitMask* mask, int32_t x, int32_t y, int32_t connectivity, int32_t inner);
int32_t ImgContourNextDir(const BitMask* mask, int32_t x, int32_t y, int32_t connectivity, int32_t lastMove);
// Length of a closed contour of n points (n = 1: one pixel), times `scale`.
double ImgContourLength(const double* points, int64_t n, double scale);
void ImgRotatedExtent(const double* points, int64_t n, double degrees, double* width, double* height, double* area);
int32_t ImgMinAreaRect(const double* points, int64_t n, double* shortSide, double* longSide, double* angle);
