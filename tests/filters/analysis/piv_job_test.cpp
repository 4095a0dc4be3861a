// PivJob against a plain transcription of the analysis on byte arrays:
// patterns cut around each cell, the whole-pixel search (coarse to fine
// over halved copies, or exhaustive) scored by normalised correlation from
// exact integer sums with its tie rules, the quadrant refinement over
// bilinear sub-pixel shifts, and the stored vectors. Every vector must be
// the same to the bit, for several particle pairs, cell sizes, search
// sizes 0 and 1, fast processing on and off, on one thread and on all.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "filters/analysis/flow_data.h"
#include "filters/analysis/lf_piv.h"
#include "image/imgbuff.h"
#include "image/pool.h"

namespace {

struct Plane {
    int32_t w = 0, h = 0;
    std::vector<uint8_t> p;
    uint8_t At(int32_t x, int32_t y) const { return p[static_cast<size_t>(y) * w + x]; }
};

Plane Crop(const Plane& s, int32_t x0, int32_t y0, int32_t w, int32_t h) {
    Plane o{w, h, std::vector<uint8_t>(static_cast<size_t>(w) * h)};
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) o.p[static_cast<size_t>(y) * w + x] = s.At(x0 + x, y0 + y);
    return o;
}

// Means of 2 x 2 pixels, truncated.
Plane Halve(const Plane& s) {
    Plane o{s.w / 2, s.h / 2, {}};
    o.p.resize(static_cast<size_t>(o.w) * o.h);
    for (int32_t y = 0; y < o.h; ++y)
        for (int32_t x = 0; x < o.w; ++x)
            o.p[static_cast<size_t>(y) * o.w + x] = static_cast<uint8_t>(
                (s.At(2 * x, 2 * y) + s.At(2 * x + 1, 2 * y) + s.At(2 * x, 2 * y + 1) + s.At(2 * x + 1, 2 * y + 1)) / 4);
    return o;
}

// The correlation score of the pattern laid on `a` at (x, y) (inside):
// 100 - 100 (n sum ab - sum a sum b) / n / (|a| |b|), clamped to 0 .. 100;
// -1 where |a| |b| is 0.
double Score(const Plane& a, int32_t x, int32_t y, const Plane& b) {
    int64_t sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    for (int32_t j = 0; j < b.h; ++j)
        for (int32_t i = 0; i < b.w; ++i) {
            const int64_t u = a.At(x + i, y + j), v = b.At(i, j);
            sa += u;
            sb += v;
            saa += u * u;
            sbb += v * v;
            sab += u * v;
        }
    const int64_t n = int64_t{b.w} * b.h;
    const double norm = std::sqrt(static_cast<double>(sbb)) * std::sqrt(static_cast<double>(saa));
    if (!(norm > 0.0)) return -1.0;
    const double c = 100.0 * (static_cast<double>(n * sab - sa * sb) / static_cast<double>(n) / norm);
    return 100.0 - std::min(100.0, std::max(0.0, c));
}

// Best top-left of b in a over the window clipped to a: lowest score, then
// nearest (rx, ry), then first in row-major order. False when the window
// start does not fit, or nothing scored.
bool Scan(const Plane& a, const Plane& b, int32_t rx, int32_t ry, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
          int32_t* bx, int32_t* by) {
    if (int64_t{b.w} + x0 > a.w || int64_t{b.h} + y0 > a.h) return false;
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, a.w - b.w);
    y1 = std::min(y1, a.h - b.h);
    bool found = false;
    double best = 0;
    int64_t bestD = 0;
    for (int32_t y = y0; y <= y1; ++y)
        for (int32_t x = x0; x <= x1; ++x) {
            const double s = Score(a, x, y, b);
            if (s < 0) continue;
            const int64_t d = int64_t{x - rx} * (x - rx) + int64_t{y - ry} * (y - ry);
            if (!found || s < best || (s == best && d < bestD)) {
                found = true;
                best = s;
                bestD = d;
                *bx = x;
                *by = y;
            }
        }
    return found;
}

// The whole-pixel search of one cell, coarse to fine while the pattern is
// at least 32 and the window at least 16 wide at the level being halved.
bool Search(const std::vector<Plane>& previous, const Plane& pattern, int32_t cx, int32_t cy, int32_t r, bool fast,
            int32_t* outX, int32_t* outY) {
    struct Level {
        int32_t wB, hB, x0, y0, x1, y1, rx, ry;
    };
    std::vector<Level> lv{{pattern.w, pattern.h, cx - r, cy - r, cx + r, cy + r, cx, cy}};
    std::vector<Plane> patterns{pattern};
    while (fast) {
        const Level& c = lv.back();
        if (!(c.wB >= 32 && c.hB >= 32 && c.x1 - c.x0 >= 16 && c.y1 - c.y0 >= 16)) break;
        lv.push_back({c.wB / 2, c.hB / 2, c.x0 / 2, c.y0 / 2, c.x1 / 2, c.y1 / 2, c.rx / 2, c.ry / 2});
        patterns.push_back(Halve(patterns.back()));
    }
    const int K = static_cast<int>(lv.size()) - 1;
    // With halved levels, the pattern must fit at the window start of each.
    for (int k = 0; K > 0 && k <= K; ++k) {
        const Level& l = lv[static_cast<size_t>(k)];
        const Plane& a = previous[static_cast<size_t>(k)];
        if (int64_t{l.wB} + l.x0 > a.w || int64_t{l.hB} + l.y0 > a.h) return false;
    }
    int32_t bx = 0, by = 0;
    for (int k = K; k >= 0; --k) {
        const Level& l = lv[static_cast<size_t>(k)];
        const Plane& a = previous[static_cast<size_t>(k)];
        const bool ok = k == K ? Scan(a, patterns[static_cast<size_t>(k)], l.rx, l.ry, l.x0, l.y0, l.x1, l.y1, &bx, &by)
                               : Scan(a, patterns[static_cast<size_t>(k)], 2 * bx, 2 * by, 2 * bx - 1, 2 * by - 1,
                                      2 * bx + 2, 2 * by + 2, &bx, &by);
        if (!ok) return false;
    }
    *outX = bx;
    *outY = by;
    return true;
}

// One blend of a sample with its neighbour (or the black fill) by g,
// truncated to a byte.
uint8_t Blend(uint8_t s, double n, double g) {
    const double v = (1.0 - g) * s + g * n;
    return v >= 255.0 ? 255 : static_cast<uint8_t>(v);
}

// The score of the pattern at a fractional position: the part of a one
// pixel larger than the pattern at the truncated position, moved by minus
// the fraction (horizontally, then vertically; uncovered edges blend with
// black), compared at its top-left.
double ScoreAt(const Plane& a, const Plane& b, double x, double y) {
    const int64_t ix = static_cast<int64_t>(x), iy = static_cast<int64_t>(y);
    if (ix < 0 || iy < 0 || ix + b.w >= a.w || iy + b.h >= a.h) return -1.0;
    Plane c = Crop(a, static_cast<int32_t>(ix), static_cast<int32_t>(iy), b.w + 1, b.h + 1);
    const double fx = -(x - static_cast<double>(ix)), fy = -(y - static_cast<double>(iy));
    if (fx != 0.0) {
        Plane d = c;
        for (int32_t j = 0; j < c.h; ++j)
            for (int32_t i = 0; i < c.w; ++i) {
                const int32_t from = fx > 0 ? i - 1 : i + 1;
                const double n = from < 0 || from >= c.w ? 0.0 : c.At(from, j);
                d.p[static_cast<size_t>(j) * c.w + i] = Blend(c.At(i, j), n, std::fabs(fx));
            }
        c = d;
    }
    if (fy != 0.0) {
        Plane d = c;
        for (int32_t j = 0; j < c.h; ++j)
            for (int32_t i = 0; i < c.w; ++i) {
                const int32_t from = fy > 0 ? j - 1 : j + 1;
                const double n = from < 0 || from >= c.h ? 0.0 : c.At(i, from);
                d.p[static_cast<size_t>(j) * c.w + i] = Blend(c.At(i, j), n, std::fabs(fy));
            }
        c = d;
    }
    return Score(c, 0, 0, b);
}

// The recursive quadrant refinement over (x0, y0)-(x1, y1).
void Refine(const Plane& a, const Plane& b, double x0, double y0, double x1, double y1, double step, double* ox,
            double* oy, double* os) {
    const double cx = (x0 + x1) * 0.5, cy = (y0 + y1) * 0.5;
    const double sc = ScoreAt(a, b, cx, cy);
    *ox = cx;
    *oy = cy;
    *os = sc;
    if (sc <= 0.0) return;
    const double gx[3] = {x0, cx, x1}, gy[3] = {y0, cy, y1};
    double ps[9];
    for (int p = 0; p < 9; ++p) ps[p] = p == 4 ? sc : ScoreAt(a, b, gx[p % 3], gy[p / 3]);
    static constexpr int kQuad[4][4] = {{0, 1, 3, 4}, {1, 2, 4, 5}, {3, 4, 6, 7}, {4, 5, 7, 8}};
    int chosen = -1;
    double chosenSum = 0;
    for (int q = 0; q < 4; ++q) {
        double sum = 0;
        bool valid = true;
        for (int p : kQuad[q])
            if (p != 4) {
                valid = valid && ps[p] >= 0;
                sum += ps[p];
            }
        if (valid && (chosen < 0 || sum < chosenSum)) {
            chosen = q;
            chosenSum = sum;
        }
    }
    if (chosen < 0) return;
    const int* quad = kQuad[chosen];
    if (x1 - x0 > step) {
        double rx, ry, rs;
        Refine(a, b, gx[quad[0] % 3], gy[quad[0] / 3], gx[quad[3] % 3], gy[quad[3] / 3], step, &rx, &ry, &rs);
        int rank = 0;
        if (rs >= 0 && rs < sc) {
            *ox = rx;
            *oy = ry;
            *os = rs;
            rank = 5;
        }
        for (int p = 0; p < 9; ++p) {
            const int rk = p < 4 ? 4 - p : p - 4;
            if (ps[p] >= 0 && (ps[p] < *os || (ps[p] == *os && rk < rank))) {
                *ox = gx[p % 3];
                *oy = gy[p / 3];
                *os = ps[p];
                rank = rk;
            }
        }
        return;
    }
    int best = quad[0];
    for (int k = 1; k < 4; ++k)
        if (ps[quad[k]] < ps[best]) best = quad[k];
    *ox = gx[best % 3];
    *oy = gy[best / 3];
    *os = ps[best];
}

// Vectors of one pair: big patterns (edge 2s), radius from the search code.
std::vector<FlowVector> ReferenceVectors(const Plane& previous, const Plane& current, int32_t x0, int32_t y0,
                                         int32_t s, int32_t columns, int32_t rows, int32_t code, bool fast) {
    std::vector<Plane> levels{previous};
    while (levels.back().w >= 2 && levels.back().h >= 2 && levels.size() < 8) levels.push_back(Halve(levels.back()));
    const int32_t r = PivSearchRadius(s, code);
    std::vector<FlowVector> out;
    for (int32_t row = 0; row < rows; ++row)
        for (int32_t c = 0; c < columns; ++c) {
            const int32_t px = x0 + c * s - s / 2, py = y0 + row * s - s / 2;
            const Plane pattern = Crop(current, px, py, 2 * s, 2 * s);
            double x = px, y = py;
            int32_t X = 0, Y = 0;
            if (Search(levels, pattern, px, py, r, fast, &X, &Y)) {
                double rx, ry, rs;
                Refine(previous, pattern, X - 1.0, Y - 1.0, X + 1.0, Y + 1.0, 0.5, &rx, &ry, &rs);
                if (rs >= 0) {
                    x = rx;
                    y = ry;
                }
            }
            out.push_back({(x0 + c * s) - (x + s / 2), (y0 + row * s) - (y + s / 2)});
        }
    return out;
}

// Gaussian particles of radius about 1.5 px, moved by an affine map about
// the image centre: shift (tx, ty), turn by `angle` radians, shear.
Plane Particles(int32_t w, int32_t h, uint32_t seed, double tx, double ty, double angle, double shear) {
    std::vector<double> acc(static_cast<size_t>(w) * h, 0.0);
    const int count = w * h / 30;
    const double mx = w / 2.0, my = h / 2.0;
    for (int p = 0; p < count; ++p) {
        seed = seed * 1103515245u + 12345u;
        const double x = (seed >> 8) % (w * 16) / 16.0 - mx;
        seed = seed * 1103515245u + 12345u;
        const double y = (seed >> 8) % (h * 16) / 16.0 - my;
        const double px = mx + tx + std::cos(angle) * x - std::sin(angle) * y + shear * y;
        const double py = my + ty + std::sin(angle) * x + std::cos(angle) * y;
        for (int yy = std::max(0, static_cast<int>(py) - 4); yy <= std::min(h - 1, static_cast<int>(py) + 4); ++yy)
            for (int xx = std::max(0, static_cast<int>(px) - 4); xx <= std::min(w - 1, static_cast<int>(px) + 4); ++xx)
                acc[static_cast<size_t>(yy) * w + xx] +=
                    std::exp(-((xx - px) * (xx - px) + (yy - py) * (yy - py)) / 2.5);
    }
    Plane out{w, h, std::vector<uint8_t>(acc.size())};
    for (size_t i = 0; i < acc.size(); ++i) out.p[i] = static_cast<uint8_t>(std::min(1.0, acc[i]) * 230.0);
    return out;
}

void ToImage(const Plane& p, CImgBuff* image) {
    ASSERT_TRUE(image->buffer->Create(p.w, p.h, kImgGray8));
    std::copy(p.p.begin(), p.p.end(), image->buffer->pixels);
}

TEST(PivJob, VectorsEqualAPlainTranscriptionOfTheAnalysis) {
    struct PairCase {
        uint32_t seed;
        double tx, ty, angle, shear;
    };
    const PairCase pairs[] = {
        {11, 2.6, -1.3, 0.0, 0.0},    // sub-pixel shift
        {23, -3.25, 4.5, 0.0, 0.0},   // quarter and half pixels
        {37, 0.4, 0.7, 0.03, 0.0},    // solid rotation
        {41, -1.2, 2.1, 0.0, 0.04},   // shear
    };
    const int32_t w = 200, h = 168;
    const uint64_t all = PoolGetProcessorCount();
    for (const PairCase& pc : pairs) {
        const Plane a = Particles(w, h, pc.seed, 0, 0, 0, 0);
        const Plane b = Particles(w, h, pc.seed, pc.tx, pc.ty, pc.angle, pc.shear);
        CImgBuff previous, current;
        ToImage(a, &previous);
        ToImage(b, &current);
        for (int32_t s : {8, 16, 32}) {
            const int32_t columns = w / s - 2, rows = h / s - 2;
            const int32_t x0 = (w - s * columns) / 2, y0 = (h - s * rows) / 2;
            for (int32_t code : {-2, 1})
                for (bool fast : {true, false}) {
                    const std::vector<FlowVector> expected = ReferenceVectors(a, b, x0, y0, s, columns, rows, code, fast);
                    for (uint64_t threads : {uint64_t{1}, all}) {
                        ASSERT_EQ(PoolSetThreadCount(threads), 1);
                        CFlowData flow;
                        ASSERT_TRUE(flow.Setup(x0, y0, s, columns, rows, 2));
                        PivJobContext ctx;
                        ctx.previous = &previous;
                        ctx.current = &current;
                        ctx.frame = 1;
                        ctx.level = fast ? 0 : 1;
                        ctx.bigPattern = 1;
                        ctx.searchCode = code;
                        ctx.flow = &flow;
                        PivJob(&ctx);
                        ASSERT_EQ(ctx.result.load(), 1);
                        int differ = 0;
                        for (int32_t row = 0; row < rows; ++row)
                            for (int32_t c = 0; c < columns; ++c) {
                                const FlowVector& e = expected[static_cast<size_t>(row * columns + c)];
                                const FlowVector* v = flow.VectorAt(c, row, 1);
                                if (v->dx != e.dx || v->dy != e.dy) {
                                    if (++differ <= 3)
                                        ADD_FAILURE() << "seed " << pc.seed << " s " << s << " code " << code << " fast "
                                                      << fast << " threads " << threads << " cell " << c << "," << row
                                                      << ": " << v->dx << "," << v->dy << " expected " << e.dx << ","
                                                      << e.dy;
                                }
                            }
                        EXPECT_EQ(differ, 0);
                    }
                }
        }
    }
    PoolSetThreadCount(all);
}

}  // namespace
