#include "image/objects.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

constexpr double kSqrt2 = 1.4142135623730951;
constexpr double kPi = 3.141592653589793;
constexpr double kDegree = 0.017453292519943295;

bool MaskAt(const BitMask* m, int32_t x, int32_t y) {
    return x >= 0 && y >= 0 && x < m->width && y < m->height && ImgBitTest(ImgBitMaskRow(m, y), x);
}

void SetRuns(BitMask* m, const ImgBitRunList& runs, uint64_t from) {
    for (uint64_t i = from; i < runs.count; ++i) ImgBitRowSetRange(ImgBitMaskRow(m, runs.runs[i].y), runs.runs[i].x0, runs.runs[i].x1);
}

// Takes from `background` every 4-connected part that touches the box's
// border and sets it in `reach`; what stays in `background` lies in holes.
bool MarkOutside(BitMask* background, BitMask* reach) {
    const int32_t w = background->width, h = background->height;
    ImgBitRunList runs;
    const auto from = [&](int32_t x, int32_t y) {
        if (!ImgBitTest(ImgBitMaskRow(background, y), x)) return true;
        runs.count = 0;
        if (ImgBitMaskTakeComponent(background, x, y, 4, 0, 0, w - 1, h - 1, &runs) < 0) return false;
        SetRuns(reach, runs, 0);
        return true;
    };
    for (int32_t y = 0; y < h; ++y)
        if (!from(0, y) || !from(w - 1, y)) return false;
    for (int32_t y : {0, h - 1}) {
        const uint32_t* row = ImgBitMaskRow(background, y);
        for (int32_t x = ImgBitRowNextSet(row, 0, w - 1); x >= 0; x = ImgBitRowNextSet(row, x + 1, w - 1))
            if (!from(x, y)) return false;
    }
    return true;
}

}  // namespace

const ContourDirection ContourDirections[8] = {
    {0, -1, 1.0}, {1, -1, kSqrt2}, {1, 0, 1.0}, {1, 1, kSqrt2}, {0, 1, 1.0}, {-1, 1, kSqrt2}, {-1, 0, 1.0}, {-1, -1, kSqrt2},
};

// ---- object extraction ----

void ImgIslandObjectRelease(IslandObject* object) {
    if (!object) return;
    ImgBitMaskDestroy(object->object);
    ImgBitMaskDestroy(object->reach);
    *object = IslandObject{};
}

int32_t ImgNextObject(RangeMask* rangeMask, const IslandSettings* settings, IslandObject* object, int32_t x1, int32_t y1,
                      int32_t x, int32_t y, int32_t connectivity, uint32_t islands, uint64_t* islandCount,
                      BitMask* islandMask) {
    (void)settings;  // the arguments carry connectivity and islands
    if (islandCount) *islandCount = 0;
    if (!object) return -1;
    *object = IslandObject{};
    if (!rangeMask || !rangeMask->mask || (connectivity != 4 && connectivity != 8)) return -1;
    BitMask* m = rangeMask->mask;
    x1 = std::min(x1, m->width - 1);
    y1 = std::min(y1, m->height - 1);
    if (x1 < 0 || y1 < 0) return 0;

    // The next set bit in raster order from (x, y).
    int64_t sx = static_cast<int64_t>(x) - rangeMask->x0, sy = static_cast<int64_t>(y) - rangeMask->y0;
    if (sy < 0) sx = sy = 0;
    if (sx < 0) sx = 0;
    int32_t seedX = -1, seedY = -1;
    for (; sy <= y1; ++sy, sx = 0) {
        if (sx > x1) continue;
        seedX = ImgBitRowNextSet(ImgBitMaskRow(m, static_cast<int32_t>(sy)), static_cast<int32_t>(sx), x1);
        if (seedX >= 0) {
            seedY = static_cast<int32_t>(sy);
            break;
        }
    }
    if (seedX < 0) return 0;

    // The object's pixels leave the range mask as they are flooded.
    int32_t result = 1;
    ImgBitRunList runs;
    if (ImgBitMaskTakeComponent(m, seedX, seedY, connectivity, 0, 0, x1, y1, &runs) < 0) result = -1;
    int32_t bx0 = seedX, by0 = seedY, bx1 = seedX, by1 = seedY;
    for (uint64_t i = 0; i < runs.count; ++i) {
        bx0 = std::min(bx0, runs.runs[i].x0);
        bx1 = std::max(bx1, runs.runs[i].x1);
        by0 = std::min(by0, runs.runs[i].y);
        by1 = std::max(by1, runs.runs[i].y);
    }
    const int32_t bw = bx1 - bx0 + 1, bh = by1 - by0 + 1;
    object->object = ImgBitMaskCreate(bw, bh);
    object->reach = ImgBitMaskCreate(bw, bh);
    if (!object->object || !object->reach) {
        // Put the pixels back, so that a failure leaves the range mask whole.
        for (uint64_t i = 0; i < runs.count; ++i) ImgBitRowSetRange(ImgBitMaskRow(m, runs.runs[i].y), runs.runs[i].x0, runs.runs[i].x1);
        ImgIslandObjectRelease(object);
        return -1;
    }
    object->x = rangeMask->x0 + bx0;
    object->y = rangeMask->y0 + by0;
    object->width = bw;
    object->height = bh;
    for (uint64_t i = 0; i < runs.count; ++i) {
        const ImgBitRun& r = runs.runs[i];
        ImgBitRowSetRange(ImgBitMaskRow(object->object, r.y - by0), r.x0 - bx0, r.x1 - bx0);
        ImgBitRowSetRange(ImgBitMaskRow(object->reach, r.y - by0), r.x0 - bx0, r.x1 - bx0);
    }

    // The background around the object joins the reach mask; the rest of
    // the box lies in holes.
    BitMask* holes = ImgBitMaskComplement(object->object);
    if (!holes || !MarkOutside(holes, object->reach)) {
        ImgBitMaskDestroy(holes);
        return -1;
    }
    // Hole pixels in raster order: range pixels there are islands.
    for (int32_t hy = 0; hy < bh; ++hy) {
        const uint32_t* hrow = ImgBitMaskRow(holes, hy);
        uint32_t* mrow = ImgBitMaskRow(m, by0 + hy);
        for (int32_t hx = ImgBitRowNextSet(hrow, 0, bw - 1); hx >= 0; hx = ImgBitRowNextSet(hrow, hx + 1, bw - 1)) {
            const int32_t rx = bx0 + hx;
            if (!ImgBitTest(mrow, rx)) continue;
            ImgBitSet(ImgBitMaskRow(object->reach, hy), hx);
            if (islands) {
                if (islandMask && result >= 0 && ImgBitMaskGet(islandMask, rx, by0 + hy)) {
                    if (islandCount) ++*islandCount;
                    ImgBitRunList scratch;
                    if (ImgBitMaskTakeComponent(islandMask, rx, by0 + hy, connectivity, 0, 0, islandMask->width - 1,
                                                islandMask->height - 1, &scratch) < 0)
                        result = -1;
                }
            } else {
                ImgBitSet(ImgBitMaskRow(object->object, hy), hx);
                ImgBitClear(mrow, rx);
            }
        }
    }
    ImgBitMaskDestroy(holes);
    return result;
}

// ---- contours ----

int32_t ImgContourFirstDir(const BitMask* mask, int32_t x, int32_t y, int32_t connectivity, int32_t inner) {
    static const int32_t kOuter4[] = {2, 4}, kOuter8[] = {2, 3, 4, 5}, kInner4[] = {4, 6}, kInner8[] = {3, 4, 5, 6};
    const int32_t* moves = inner ? (connectivity == 8 ? kInner8 : kInner4) : (connectivity == 8 ? kOuter8 : kOuter4);
    const int32_t count = connectivity == 8 ? 4 : 2;
    for (int32_t i = 0; i < count; ++i) {
        const ContourDirection& d = ContourDirections[moves[i]];
        if (MaskAt(mask, x + d.dx, y + d.dy)) return moves[i];
    }
    return -1;
}

int32_t ImgContourNextDir(const BitMask* mask, int32_t x, int32_t y, int32_t connectivity, int32_t lastMove) {
    const int32_t step = connectivity == 8 ? 1 : 2, tries = connectivity == 8 ? 7 : 4;
    int32_t d = (lastMove + 6) & 7;
    for (int32_t i = 0; i < tries; ++i, d = (d + step) & 7) {
        if (MaskAt(mask, x + ContourDirections[d].dx, y + ContourDirections[d].dy)) return d;
    }
    return -1;
}

int64_t ImgTraceContour(const BitMask* mask, int32_t x, int32_t y, int32_t connectivity, int32_t inner, double** points) {
    *points = nullptr;
    const int32_t d0 = ImgContourFirstDir(mask, x, y, connectivity, inner);
    if (d0 < 0) {
        double* p = static_cast<double*>(std::malloc(2 * sizeof(double)));
        if (!p) return -1;
        p[0] = x;
        p[1] = y;
        *points = p;
        return 1;
    }
    // A closed walk visits each (position, move) at most once.
    const int64_t cap = 8 * static_cast<int64_t>(mask->width) * mask->height + 8;
    const auto walk = [&](double* out) {
        int64_t n = 0;
        int32_t px = x, py = y, d = d0;
        do {
            if (out) {
                out[2 * n] = px;
                out[2 * n + 1] = py;
            }
            px += ContourDirections[d].dx;
            py += ContourDirections[d].dy;
            ++n;
            d = ImgContourNextDir(mask, px, py, connectivity, d);
        } while (d >= 0 && !(px == x && py == y && d == d0) && n < cap);
        return n;
    };
    const int64_t n = walk(nullptr);
    double* p = static_cast<double*>(std::malloc(static_cast<uint64_t>(n) * 2 * sizeof(double)));
    if (!p) return -1;
    walk(p);
    *points = p;
    return n;
}

double ImgContourLength(const double* points, int64_t n, double scale) {
    if (n <= 0) return 0.0;
    if (n == 1) return scale;
    const auto dist = [&](int64_t a, int64_t b) {
        const double dx = points[2 * a] - points[2 * b], dy = points[2 * a + 1] - points[2 * b + 1];
        return std::sqrt(dx * dx + dy * dy);
    };
    double length = dist(0, n - 1);
    for (int64_t i = 1; i < n; ++i) length += dist(i - 1, i);
    return length * scale;
}

// ---- smallest enclosing rectangle ----

void ImgRotatedExtent(const double* points, int64_t n, double degrees, double* width, double* height, double* area) {
    const double a = degrees * kDegree, c = std::cos(a), s = std::sin(a);
    double umin = 0, umax = 0, vmin = 0, vmax = 0;
    for (int64_t i = 0; i < n; ++i) {
        const double x = points[2 * i], y = points[2 * i + 1];
        const double u = x * c - y * s, v = x * s + y * c;
        if (i == 0 || u < umin) umin = u;
        if (i == 0 || u > umax) umax = u;
        if (i == 0 || v < vmin) vmin = v;
        if (i == 0 || v > vmax) vmax = v;
    }
    const double w = umax - umin + 1.0, h = vmax - vmin + 1.0;
    if (width) *width = w;
    if (height) *height = h;
    if (area) *area = w * h;
}

namespace {

// The points on the convex hull's boundary (collinear ones kept). Every
// other point lies strictly inside, so at every angle its projection stays
// below the extremes by far more than rounding: the extents are unchanged.
int64_t HullBoundary(const double* points, int64_t n, double* out) {
    struct P {
        double x, y;
    };
    P* p = reinterpret_cast<P*>(out + 4 * n);  // scratch after room for 2n hull points
    for (int64_t i = 0; i < n; ++i) p[i] = P{points[2 * i], points[2 * i + 1]};
    std::sort(p, p + n, [](const P& a, const P& b) { return a.x < b.x || (a.x == b.x && a.y < b.y); });
    n = std::unique(p, p + n, [](const P& a, const P& b) { return a.x == b.x && a.y == b.y; }) - p;
    if (n < 3) {
        for (int64_t i = 0; i < n; ++i) out[2 * i] = p[i].x, out[2 * i + 1] = p[i].y;
        return n;
    }
    const auto cross = [](const P& o, const P& a, const P& b) { return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x); };
    P* h = reinterpret_cast<P*>(out);
    int64_t k = 0;
    for (int64_t i = 0; i < n; ++i) {  // lower chain
        while (k >= 2 && cross(h[k - 2], h[k - 1], p[i]) < 0) --k;
        h[k++] = p[i];
    }
    const int64_t lower = k + 1;
    for (int64_t i = n - 2; i >= 0; --i) {  // upper chain
        while (k >= lower && cross(h[k - 2], h[k - 1], p[i]) < 0) --k;
        h[k++] = p[i];
    }
    return k;
}

}  // namespace

int32_t ImgMinAreaRect(const double* points, int64_t n, double* shortSide, double* longSide, double* angle) {
    // The extents only depend on the hull's boundary points.
    double* hull = n > 16 ? static_cast<double*>(std::malloc(static_cast<uint64_t>(n) * 6 * sizeof(double)))
                          : nullptr;
    const double* use = points;
    int64_t m = n;
    if (hull) {
        m = HullBoundary(points, n, hull);
        use = hull;
    }
    double area[90], width[90], height[90];
    bool done[90] = {};
    const auto eval = [&](int32_t a) {
        if (!done[a]) ImgRotatedExtent(use, m, a, &width[a], &height[a], &area[a]);
        done[a] = true;
    };
    int32_t best = 0;
    const auto consider = [&](int32_t a) {
        eval(a);
        if (area[a] < area[best]) best = a;
    };
    for (int32_t a = 0; a < 90; a += 3) consider(a);
    bool minimum[30];
    for (int32_t k = 0; k < 30; ++k) {
        const double here = area[3 * k], prev = area[3 * ((k + 29) % 30)], next = area[3 * ((k + 1) % 30)];
        minimum[k] = here < prev && here <= next;
    }
    if (minimum[0]) {
        consider(1);
        consider(2);
    }
    for (int32_t k = 1; k < 30; ++k) {
        if (!minimum[k]) continue;
        for (int32_t a : {3 * k - 2, 3 * k - 1, 3 * k + 1, 3 * k + 2}) consider(a);
    }
    if (minimum[0]) {
        consider(88);
        consider(89);
    }
    std::free(hull);
    const double w = width[best], h = height[best];
    if (w < h) {
        if (shortSide) *shortSide = w;
        if (longSide) *longSide = h;
        if (angle) *angle = kPi / 2 - best * (kPi / 180);
    } else {
        if (shortSide) *shortSide = h;
        if (longSide) *longSide = w;
        if (angle) *angle = -(best * (kPi / 180));
    }
    return 1;
}

// ---- measurement ----

int32_t ImgMeasureHoles(const IslandObject* object, const IslandSettings* settings, IslandSummary* summary, double* holeArea,
                        double* holePerimeter) {
    if (holeArea) *holeArea = 0;
    if (holePerimeter) *holePerimeter = 0;
    if (!object || !object->object || !object->reach || object->width < 1 || object->height < 1) return 0;
    const int32_t w = object->width, h = object->height;
    const double lpp = settings->lengthPerPixel;
    const int32_t connectivity = settings->connectivity == 8 ? 8 : 4;
    // The map gains each hole as it is filled; `open` holds its clear pixels.
    BitMask* map = ImgBitMaskClone(object->reach);
    BitMask* open = map ? ImgBitMaskComplement(map) : nullptr;
    if (!map || !open) {
        ImgBitMaskDestroy(map);
        ImgBitMaskDestroy(open);
        return -1;
    }
    int32_t holes = 0;
    double area = 0, perimeter = 0;
    ImgBitRunList runs;
    bool failed = false;
    for (int32_t y = 0; y < h && !failed; ++y) {
        const uint32_t* orow = ImgBitMaskRow(open, y);
        const uint32_t* objrow = ImgBitMaskRow(object->object, y);
        for (int32_t x = ImgBitRowNextSet(orow, 0, w - 1); x >= 0; x = ImgBitRowNextSet(orow, x + 1, w - 1)) {
            if (x < 1 || !ImgBitTest(objrow, x - 1)) continue;
            ++holes;
            double* points = nullptr;
            const int64_t n = ImgTraceContour(map, x - 1, y, connectivity, 1, &points);
            if (n < 0) {
                failed = true;
                break;
            }
            perimeter += ImgContourLength(points, n, lpp);
            std::free(points);
            runs.count = 0;
            const int64_t count = ImgBitMaskTakeComponent(open, x, y, 4, 0, 0, w - 1, h - 1, &runs);
            if (count < 0) {
                failed = true;
                break;
            }
            SetRuns(map, runs, 0);
            if (count == 1 && summary) ++summary->singlePixelHoles;
            area += static_cast<double>(count) * lpp * lpp;
        }
    }
    ImgBitMaskDestroy(map);
    ImgBitMaskDestroy(open);
    if (failed) return -1;
    if (holeArea) *holeArea = area;
    if (holePerimeter) *holePerimeter = perimeter;
    return holes;
}

int32_t ImgMeasureObject(const IslandObject* object, const IslandSettings* settings, IslandSummary* summary,
                         IslandRecord* record) {
    // Cleared byte by byte, padding included: the records are copied by size.
    const uint64_t islands = summary->islands;
    std::memset(summary, 0, sizeof *summary);
    summary->islands = islands;
    std::memset(record, 0, sizeof *record);
    record->minValue = 0xFFFFFFFFu;
    summary->minValue = 0xFFFFFFFFu;
    if (!object || !object->object || !settings || !settings->image || !settings->image->buffer) return 0;
    const C_ImgBuff& image = *settings->image->buffer;
    if (!ImgFormatValid(image.format)) return 0;
    const BitMask* om = object->object;
    const int32_t w = om->width, h = om->height;
    const double lpp = settings->lengthPerPixel;
    const int32_t connectivity = settings->connectivity == 8 ? 8 : 4;

    int32_t sx = -1, sy = 0;
    for (; sy < h && sx < 0; ++sy) sx = ImgBitRowNextSet(ImgBitMaskRow(om, sy), 0, w - 1);
    --sy;
    if (sx < 0) return 1;
    record->startX = object->x + sx;
    record->startY = object->y + sy;

    double* points = nullptr;
    const int64_t n = ImgTraceContour(om, sx, sy, connectivity, 0, &points);
    if (n < 0) return 0;
    double mx = 0, my = 0;
    for (int64_t i = 0; i < n; ++i) {
        mx += points[2 * i];
        my += points[2 * i + 1];
    }
    const double cx = mx / static_cast<double>(n) + object->x, cy = my / static_cast<double>(n) + object->y;
    record->centreX = cx;
    record->centreY = cy;
    record->perimeter = ImgContourLength(points, n, lpp);

    // Values at the group's width; weights in 128 bits, which no object overflows.
    const uint32_t top = ImgFormatGroupMax(image.format);
    uint64_t count = 0;
    uint32_t vmax = 0, vmin = 0xFFFFFFFFu;
    double vsum = 0;
    unsigned __int128 sw = 0, swx = 0, swy = 0;
    uint32_t values[512];
    for (int32_t y = 0; y < h; ++y) {
        const uint32_t* row = ImgBitMaskRow(om, y);
        const uint64_t iy = static_cast<uint64_t>(object->y + y);
        for (int32_t x = ImgBitRowNextSet(row, 0, w - 1); x >= 0;) {
            const int32_t after = ImgBitRowNextClear(row, x, w - 1);
            const int32_t end = after < 0 ? w - 1 : after - 1;
            for (int32_t s = x; s <= end; s += 512) {
                const int32_t len = std::min(512, end - s + 1);
                ImgReadGroupGraySpan(image, object->x + s, object->y + y, len, values);
                for (int32_t k = 0; k < len; ++k) {
                    const uint32_t v = values[k];
                    ++count;
                    vmax = std::max(vmax, v);
                    vmin = std::min(vmin, v);
                    vsum += v;
                    const uint64_t wt = settings->unweighted ? 1u : settings->inverted ? top - v : v;
                    sw += wt;
                    swx += static_cast<unsigned __int128>(wt) * static_cast<uint64_t>(object->x + s + k);
                    swy += static_cast<unsigned __int128>(wt) * iy;
                }
            }
            x = after < 0 ? -1 : ImgBitRowNextSet(row, after, w - 1);
        }
    }
    if (sw != 0) {
        record->weightedX = static_cast<double>(swx) / static_cast<double>(sw);
        record->weightedY = static_cast<double>(swy) / static_cast<double>(sw);
    }
    record->maxValue = vmax;
    record->minValue = vmin;
    record->valueSum = vsum;
    if (count) record->meanValue = vsum / static_cast<double>(count);
    if (count == 1) summary->singlePixelObjects = 1;
    record->area = static_cast<double>(count) * lpp * lpp;

    double holeArea = 0, holePerimeter = 0;
    const int32_t holes = ImgMeasureHoles(object, settings, summary, &holeArea, &holePerimeter);
    if (holes < 0) {
        std::free(points);
        return 0;
    }
    record->holes = holes;
    record->holeArea = holeArea;
    record->holePerimeter = holePerimeter;
    record->filledArea = record->area + holeArea;
    const double d = 2.0 * std::sqrt(record->filledArea / kPi);
    record->equivalentDiameter = d;
    record->equivalentVolume = (d / 2) * (d / 2) * kPi * d * 2.0 / 3.0;
    record->meanPerimeter = (record->perimeter + holePerimeter) * 0.5;
    record->circularity = 12.566370614359172 * record->filledArea / (record->perimeter * record->perimeter);

    // Radii, then the contour in image coordinates for the rectangle.
    double rmax = 0, rmin = 0, rsum = 0;
    const bool flip = settings->yAxis == -1;
    for (int64_t i = 0; i < n; ++i) {
        const double px = points[2 * i] + object->x, py = points[2 * i + 1] + object->y;
        const double r = std::sqrt((px - cx) * (px - cx) + (py - cy) * (py - cy)) * lpp;
        if (i == 0 || r > rmax) rmax = r;
        if (i == 0 || r < rmin) rmin = r;
        rsum += r;
        points[2 * i] = px;
        points[2 * i + 1] = flip ? static_cast<double>(image.height - 1) - py : py;
    }
    record->maxRadius = rmax;
    record->minRadius = rmin;
    record->meanRadius = rsum / static_cast<double>(n);
    ImgMinAreaRect(points, n, &record->breadth, &record->length, &record->orientation);
    std::free(points);

    summary->objects = 1;
    summary->holes = holes;
    summary->area = record->area;
    summary->holeArea = holeArea;
    summary->maxValue = vmax;
    summary->minValue = vmin;
    summary->valueSum = vsum;
    summary->meanValue = record->meanValue;
    summary->pixelCount = count;
    return 1;
}
