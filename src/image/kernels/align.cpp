#include "image/kernels/align.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

#include "image/kernels/image_compare.h"
#include "image/kernels/image_shift.h"
#include "image/kernels/rotate_scale.h"
#include "image/kernels/template_match.h"
#include "image/pool.h"

namespace {

bool HasPixels(const CImgBuff* h) { return h && h->buffer && ImgFormatValid(h->buffer->format) && h->buffer->pixels; }

// a - b and a + b of 32-bit values, kept within 32 bits (windows are
// clipped to the image afterwards anyway).
int32_t Sub32(int64_t a, int64_t b) { return static_cast<int32_t>(std::clamp<int64_t>(a - b, INT32_MIN, INT32_MAX)); }
int32_t Add32(int64_t a, int64_t b) { return static_cast<int32_t>(std::clamp<int64_t>(a + b, INT32_MIN, INT32_MAX)); }

// Distance between two points, the squares formed in 64 bits.
double Distance(int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
    const int64_t dx = x1 - x0, dy = y1 - y0;
    return std::sqrt(static_cast<double>(dx * dx + dy * dy));
}

}  // namespace

int32_t ImgShiftByOffset(int32_t integerOnly, CImgBuff* frame, double ox, double oy, uint8_t fill) {
    if (std::isnan(ox) || std::isnan(oy)) return 0;
    if (integerOnly) {
        // Shifts of a whole width or more all leave only the fill.
        const auto whole = [](double v) { return static_cast<int32_t>(std::clamp(std::trunc(-v), -2147483647.0, 2147483647.0)); };
        return ImgShift(frame, whole(ox), whole(oy), fill);
    }
    return ImgShiftSubpixel(frame, -ox, -oy, fill);
}

int32_t ImgRefinePointOffset(const CImgBuff* frame, const CImgBuff* tmpl, int32_t x, int32_t y, int32_t radius, double* dx, double* dy,
                             int32_t sampling) {
    if (!HasPixels(frame) || !HasPixels(tmpl) || radius < 1) return 0;
    int32_t bx = x, by = y;
    if (radius >= 2 && !ImgMatchTemplate(frame, tmpl, x, y, Add32(x, 1 - int64_t{radius}), Add32(y, 1 - int64_t{radius}),
                                         Add32(x, radius - 1), Add32(y, radius - 1), &bx, &by, 0, sampling, 1, nullptr, nullptr, nullptr))
        return 0;
    double fx = 0, fy = 0, score = -1.0;
    if (!ImgRefineMatchSubpixel(frame, tmpl, bx - 1.0, by - 1.0, bx + 1.0, by + 1.0, &fx, &fy, 0, sampling, 0.1, &score, nullptr,
                                nullptr))
        return 0;
    // Nothing could be compared around (bx, by): no offset to report.
    if (score < 0.0) return 0;
    if (dx) *dx = fx - x;
    if (dy) *dy = fy - y;
    return 1;
}

namespace {

// The alignment of both variants.
struct AlignSettings {
    int32_t integerOnly;
    int32_t matchMethod;
    int32_t matchSampling;
    int32_t refineSampling;
};

int32_t AlignTwoPoints(const AlignSettings& a, CImgBuff* frame, const CImgBuff* const* templates, const int32_t* refX,
                       const int32_t* refY, const int32_t* searchX, const int32_t* searchY, int32_t radius, uint8_t fill, double* foundX,
                       double* foundY) {
    if (!templates || !HasPixels(templates[0]) || !HasPixels(templates[1]) || !refX || !refY || !searchX || !searchY ||
        !HasPixels(frame) || radius < 1)
        return 0;
    int32_t bx[2], by[2];
    for (int i = 0; i < 2; ++i)
        if (!ImgMatchTemplate(frame, templates[i], searchX[i], searchY[i], Sub32(searchX[i], radius), Sub32(searchY[i], radius),
                              Add32(searchX[i], radius), Add32(searchY[i], radius), &bx[i], &by[i], a.matchMethod, a.matchSampling, 1,
                              nullptr, nullptr, nullptr))
            return 0;
    double px[2], py[2];
    for (int i = 0; i < 2; ++i)
        if (!ImgRefineMatchAroundPixel(frame, templates[i], bx[i], by[i], &px[i], &py[i], a.matchMethod, a.matchSampling, 0.1, nullptr,
                                       nullptr, nullptr))
            return 0;
    if (foundX) {
        foundX[0] = px[0];
        foundX[1] = px[1];
    }
    if (foundY) {
        foundY[0] = py[0];
        foundY[1] = py[1];
    }

    // Scale and turn from the two distances and directions. Coinciding
    // points have neither: refused before the frame is touched.
    const double dr = Distance(refX[0], refY[0], refX[1], refY[1]);
    const double df = std::sqrt((px[1] - px[0]) * (px[1] - px[0]) + (py[1] - py[0]) * (py[1] - py[0]));
    const double s = dr / df;
    if (dr == 0.0 || df == 0.0 || !std::isfinite(s)) return 0;
    const double theta = std::atan2(static_cast<double>(int64_t{refY[1]} - refY[0]), static_cast<double>(int64_t{refX[1]} - refX[0])) -
                         std::atan2(py[1] - py[0], px[1] - px[0]);
    const int32_t cx = frame->buffer->width / 2, cy = frame->buffer->height / 2;
    if (!ImgRotateScale(frame, cx, cy, theta / 3.141592653589793 * 180.0, s, 0, fill)) return 0;

    // Where point 0 went, found again within 7 pixels.
    const double xp = cx + s * (std::cos(theta) * (px[0] - cx) - std::sin(theta) * (py[0] - cy));
    const double yp = cy + s * (std::sin(theta) * (px[0] - cx) + std::cos(theta) * (py[0] - cy));
    if (!(std::fabs(xp) < 2e9 && std::fabs(yp) < 2e9)) return 0;
    const int32_t ix = static_cast<int32_t>(xp), iy = static_cast<int32_t>(yp);
    double dx = 0, dy = 0;
    if (!ImgRefinePointOffset(frame, templates[0], ix, iy, 8, &dx, &dy, a.refineSampling)) return 0;
    const double ox = dx + static_cast<double>(int64_t{ix} - refX[0]), oy = dy + static_cast<double>(int64_t{iy} - refY[0]);
    return ImgShiftByOffset(a.integerOnly, frame, ox, oy, fill);
}

}  // namespace

int32_t ImgAlignTwoPoints(int32_t integerOnly, CImgBuff* frame, const CImgBuff* const* templates, const int32_t* refX, const int32_t* refY,
                          int32_t radius, uint8_t fill, int32_t sampling) {
    const AlignSettings a{integerOnly, 0, sampling, sampling};
    return AlignTwoPoints(a, frame, templates, refX, refY, refX, refY, radius, fill, nullptr, nullptr);
}

int32_t ImgAlignTwoPointsEx(CImgBuff* frame, const CImgBuff* const* templates, const int32_t* refX, const int32_t* refY,
                            const int32_t* searchX, const int32_t* searchY, int32_t radius, uint8_t fill, double* foundX, double* foundY) {
    const AlignSettings a{0, 1, 0, 0};
    return AlignTwoPoints(a, frame, templates, refX, refY, searchX, searchY, radius, fill, foundX, foundY);
}

void ImgScoreTilesRows(void* ctx, uint64_t first, uint64_t count) {
    const ScoreTilesJob& job = *static_cast<const ScoreTilesJob*>(ctx);
    for (uint64_t r = first; r < first + count; ++r)
        for (int32_t c = 0; c < job.columns; ++c) {
            TileScore& t = job.tiles[r * static_cast<uint64_t>(job.columns) + static_cast<uint64_t>(c)];
            t.x0 = job.x0 + c * job.tileWidth;
            t.y0 = job.y0 + static_cast<int32_t>(r) * job.tileHeight;
            t.x1 = t.x0 + job.tileWidth - 1;
            t.y1 = t.y0 + job.tileHeight - 1;
            RectStatistics st;
            if (!ImgRectStatistics(job.frame, t.x0, t.y0, t.x1, t.y1, &st)) continue;
            t.s0 = std::min(st.slot[9], st.slot[10]);
            t.s1 = std::min(st.slot[11], st.slot[12]);
            t.s2 = std::min(st.slot[13], st.slot[14]);
            t.s3 = std::min(st.slot[15], st.slot[16]);
        }
}

int32_t ImgScoreTiles(const CImgBuff* frame, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t tileWidth, int32_t tileHeight,
                      TileScore** out) {
    if (!out || !HasPixels(frame)) return 0;
    const C_ImgBuff& b = *frame->buffer;
    if (x0 < 0 || x0 > x1 || x1 >= b.width || y0 < 0 || y0 > y1 || y1 >= b.height) return 0;
    if (tileWidth < 1 || tileHeight < 1 || tileWidth > x1 - x0 + 1 || tileHeight > y1 - y0 + 1) return 0;
    // The grid centred in the rectangle: an odd leftover column goes right,
    // an odd leftover row down.
    const int32_t rw = (x1 - x0 + 1) % tileWidth, rh = (y1 - y0 + 1) % tileHeight;
    x0 += rw / 2;
    x1 -= rw - rw / 2;
    y0 += rh / 2;
    y1 -= rh - rh / 2;
    const int32_t columns = (x1 - x0 + 1) / tileWidth, rows = (y1 - y0 + 1) / tileHeight;
    const int64_t n = int64_t{columns} * rows;
    if (n > INT32_MAX) return 0;
    TileScore* tiles = new (std::nothrow) TileScore[static_cast<size_t>(n)]();
    if (!tiles) return 0;
    ScoreTilesJob job{frame, tiles, x0, y0, columns, tileWidth, tileHeight};
    PoolParallelFor(ImgScoreTilesRows, &job, static_cast<uint64_t>(rows));
    *out = tiles;
    return static_cast<int32_t>(n);
}

int32_t ImgFindReferenceArea(const CImgBuff* frame, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t tileWidth, int32_t tileHeight,
                             TileScore* first, TileScore* second) {
    if (!HasPixels(frame) || !first || !second) return 0;
    TileScore* raw = nullptr;
    const int32_t n = ImgScoreTiles(frame, x0, y0, x1, y1, tileWidth, tileHeight, &raw);
    std::unique_ptr<TileScore[]> tiles(raw);
    if (n < 2) return 0;
    const auto total = [](const TileScore& t) { return t.s0 + t.s1 + t.s2 + t.s3; };
    int32_t best = 0;
    for (int32_t j = 1; j < n; ++j)
        if (total(tiles[j]) > total(tiles[best])) best = j;
    // Weight: distance from the first area over the rectangle's diagonal,
    // times the total.
    const double diagonal = Distance(x0, y0, x1, y1);
    const auto weight = [&](int32_t j) {
        return Distance(tiles[best].x0, tiles[best].y0, tiles[j].x0, tiles[j].y0) / diagonal * total(tiles[j]);
    };
    int32_t other = best == n - 1 ? n - 2 : n - 1;
    double otherWeight = weight(other);
    for (int32_t j = n - 1; j >= 0; --j) {
        if (j == best) continue;
        const double wj = weight(j);
        if (wj > otherWeight) {
            other = j;
            otherWeight = wj;
        }
    }
    *first = tiles[best];
    *second = tiles[other];
    return 1;
}
