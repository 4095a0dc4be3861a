// The flow field store: grid set-up, outlier flags against a numpy model,
// and what its drawing sends to the pen.
#include "filters/analysis/flow_data.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/testsupport.h"

namespace {

struct SetupCase {
    int32_t right, bottom, step, frames;
    int32_t ok, x0, y0, columns, rows;
};

TEST(FlowData, SetupCentredTable) {
    const SetupCase cases[] = {
        {639, 479, 32, 10, 1, 32, 32, 18, 13},
        {94, 479, 32, 1, 0, 0, 0, 0, 0},   // 95 wide: c = 2
        {95, 479, 32, 1, 1, 32, 32, 1, 13},  // 96 wide: c = 3, one column
        {639, 479, 0, 1, 0, 0, 0, 0, 0},
        {-1, 479, 32, 1, 0, 0, 0, 0, 0},
        {639, 479, 32, 0, 0, 0, 0, 0, 0},
        {10, 10, 32, 1, 0, 0, 0, 0, 0},  // narrower than one cell
        {2, 2, 1, 1, 1, 1, 1, 1, 1},
        {99, 66, 10, 2, 1, 10, 13, 8, 4},  // (67 - 40) / 2 truncates to 13
    };
    for (const SetupCase& k : cases) {
        CFlowData f;
        SCOPED_TRACE(std::to_string(k.right) + "," + std::to_string(k.bottom) + " s" + std::to_string(k.step));
        ASSERT_EQ(f.SetupCentred(k.right, k.bottom, k.step, k.frames), k.ok);
        if (!k.ok) {
            EXPECT_EQ(f.vectors, nullptr);
            EXPECT_EQ(f.columns, 0);
            continue;
        }
        const int64_t w = k.right + 1, h = k.bottom + 1;
        const int64_t c = w / k.step, r = h / k.step;
        EXPECT_EQ(f.columns, c - 2);
        EXPECT_EQ(f.rows, r - 2);
        EXPECT_EQ(f.originX, (w - (c - 2) * k.step) / 2);
        EXPECT_EQ(f.originY, (h - (r - 2) * k.step) / 2);
        if (k.x0) { EXPECT_EQ(f.originX, k.x0); }
        if (k.y0) { EXPECT_EQ(f.originY, k.y0); }
        if (k.columns) { EXPECT_EQ(f.columns, k.columns); }
        EXPECT_EQ(f.frames, k.frames);
    }
}

TEST(FlowData, SetupRefusesBadValuesAndHugeCountsAndKeepsDrawingSettings) {
    CFlowData f;
    f.drawGrid = 0;
    f.colourBase = 7;
    f.selectedColumn = 3;
    EXPECT_EQ(f.Setup(-1, 0, 1, 1, 1, 1), 0);
    EXPECT_EQ(f.Setup(0, -1, 1, 1, 1, 1), 0);
    EXPECT_EQ(f.Setup(0, 0, 0, 1, 1, 1), 0);
    EXPECT_EQ(f.Setup(0, 0, 1, 0, 1, 1), 0);
    EXPECT_EQ(f.Setup(0, 0, 1, 1, 0, 1), 0);
    EXPECT_EQ(f.Setup(0, 0, 1, 1, 1, 0), 0);
    // 2^16 x 2^16 x 1 = 2^32 entries is refused, as are products that would wrap.
    EXPECT_EQ(f.Setup(0, 0, 1, 65536, 65536, 1), 0);
    EXPECT_EQ(f.Setup(0, 0, 1, INT32_MAX, INT32_MAX, INT32_MAX), 0);
    EXPECT_EQ(f.vectors, nullptr);
    ASSERT_EQ(f.Setup(3, 4, 5, 6, 7, 2), 1);
    EXPECT_EQ(f.originX, 3);
    EXPECT_EQ(f.originY, 4);
    EXPECT_EQ(f.step, 5);
    for (int i = 0; i < 6 * 7 * 2; ++i) {
        EXPECT_EQ(f.vectors[i].dx, 0.0);
        EXPECT_EQ(f.vectorFlags[i], 0);
    }
    EXPECT_EQ(f.frameFlags[0] + f.frameFlags[1], 0);
    // Index layout and range checks.
    EXPECT_EQ(f.VectorAt(2, 3, 1), f.vectors + (1 * 7 + 3) * 6 + 2);
    EXPECT_EQ(f.VectorAt(-1, 0, 0), nullptr);
    EXPECT_EQ(f.VectorAt(6, 0, 0), nullptr);
    EXPECT_EQ(f.VectorAt(0, 7, 0), nullptr);
    EXPECT_EQ(f.VectorAt(0, 0, 2), nullptr);
    EXPECT_EQ(f.drawGrid, 0u);
    EXPECT_EQ(f.colourBase, 7);
    EXPECT_EQ(f.selectedColumn, 3);
    f.Clear();
    EXPECT_EQ(f.VectorAt(0, 0, 0), nullptr);
    EXPECT_EQ(f.frames, 0);
    f.Validate(-1);  // tolerated on an empty store
}

// The documented neighbour cases on a 3 x 3 grid around the centre cell.
TEST(FlowData, NeighbourCases) {
    CFlowData f;
    ASSERT_EQ(f.Setup(0, 0, 8, 3, 3, 1), 1);
    *f.VectorAt(1, 1, 0) = {1, 0};
    // No neighbour: neither flag, however long.
    *f.VectorAt(1, 1, 0) = {100, 0};
    EXPECT_EQ(f.OutlierFlags(1, 1, 0, f.angleLimit, f.lengthRatio), 0);
    // Two neighbours within the limit: alike.
    *f.VectorAt(0, 0, 0) = {50, 10};
    *f.VectorAt(2, 2, 0) = {50, -10};
    EXPECT_EQ(f.OutlierFlags(1, 1, 0, f.angleLimit, f.lengthRatio) & 1, 0);
    // Two beyond the limit: a direction outlier.
    *f.VectorAt(0, 0, 0) = {0, 50};
    *f.VectorAt(2, 2, 0) = {-50, 0};
    EXPECT_EQ(f.OutlierFlags(1, 1, 0, f.angleLimit, f.lengthRatio) & 1, 1);
    // Length: mean 50, ratio 2: 100 is an outlier, 99.9 is not.
    EXPECT_EQ(f.OutlierFlags(1, 1, 0, f.angleLimit, f.lengthRatio) & 2, 2);
    *f.VectorAt(1, 1, 0) = {99.9, 0};
    EXPECT_EQ(f.OutlierFlags(1, 1, 0, f.angleLimit, f.lengthRatio) & 2, 0);
    // An exactly reversed neighbour whose cosine rounds below -1 is different.
    const double a = 0.1, b = 0.7;
    CFlowData g;
    ASSERT_EQ(g.Setup(0, 0, 8, 2, 1, 1), 1);
    *g.VectorAt(0, 0, 0) = {a * 3, b * 3};
    *g.VectorAt(1, 0, 0) = {-a, -b};
    EXPECT_FALSE(std::isnan(CFlowData::Angle(a * 3, b * 3, -a, -b)));
    EXPECT_EQ(g.OutlierFlags(0, 0, 0, g.angleLimit, g.lengthRatio) & 1, 1);
    // Zero vectors carry no flags.
    *f.VectorAt(1, 1, 0) = {0, 0};
    EXPECT_EQ(f.OutlierFlags(1, 1, 0, 0.0, 0.0), 0);
}

// Random fields with parallel, reversed and zero neighbours against a numpy
// model of the outlier rules.
TEST(FlowData, OutlierFlagsMatchNumpyModel) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "no python3 with numpy";
    const int cols = 23, rowsN = 17, framesN = 3;
    CFlowData f;
    ASSERT_EQ(f.Setup(0, 0, 4, cols, rowsN, framesN), 1);
    f.angleLimit = 0.6;
    f.lengthRatio = 1.7;
    std::mt19937 rng(27);
    std::uniform_real_distribution<double> u(-3, 3);
    std::uniform_int_distribution<int> kind(0, 9);
    for (int i = 0; i < cols * rowsN * framesN; ++i) {
        const int k = kind(rng);
        if (k == 0) {
            f.vectors[i] = {0, 0};
        } else if (k <= 3 && i > 0) {
            // Parallel or reversed copies of the previous vector, scaled.
            const double s = k == 1 ? 2.0 : (k == 2 ? -1.0 : -0.5);
            f.vectors[i] = {f.vectors[i - 1].dx * s, f.vectors[i - 1].dy * s};
        } else {
            f.vectors[i] = {u(rng), u(rng)};
        }
    }
    f.Validate(-1);
    kvtest::TempDir dir("flowdata");
    std::string bytes(reinterpret_cast<const char*>(f.vectors), sizeof(FlowVector) * cols * rowsN * framesN);
    ASSERT_TRUE(kvtest::WriteFileBytes(dir.file("v.bin"), bytes));
    const char* script = R"PY(
import sys, numpy as np
cols, rows, frames = int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
limit, ratio = float(sys.argv[5]), float(sys.argv[6])
v = np.fromfile(sys.argv[1], dtype='<f8').reshape(frames, rows, cols, 2)
out = []
for f in range(frames):
    for r in range(rows):
        for c in range(cols):
            a = v[f, r, c]
            if not a.any():
                out.append(0); continue
            lens = []; alike = diff = 0
            for dx, dy in [(-1,-1),(0,-1),(1,-1),(1,0),(1,1),(0,1),(-1,1),(-1,0)]:
                cc, rr = c + dx, r + dy
                if not (0 <= cc < cols and 0 <= rr < rows): continue
                w = v[f, rr, cc]
                if not w.any(): continue
                lens.append(np.linalg.norm(w))
                cosv = np.clip(np.dot(a, w) / (np.linalg.norm(a) * np.linalg.norm(w)), -1, 1)
                if np.arccos(cosv) >= limit: diff += 1
                else: alike += 1
            n = len(lens); fl = 0
            if n < 3:
                if n >= 1 and alike == 0: fl |= 1
            elif 2 * alike < diff: fl |= 1
            if n and np.linalg.norm(a) >= np.sum(lens) / n * ratio: fl |= 2
            out.append(fl)
print(' '.join(map(str, out)))
)PY";
    std::string out;
    ASSERT_EQ(kvtest::RunPython(script,
                                {dir.file("v.bin"), std::to_string(cols), std::to_string(rowsN),
                                 std::to_string(framesN), "0.6", "1.7"},
                                &out),
              0);
    std::istringstream in(out);
    int mismatches = 0, direction = 0, length = 0;
    for (int i = 0; i < cols * rowsN * framesN; ++i) {
        int expected = -1;
        in >> expected;
        if (expected != f.vectorFlags[i]) ++mismatches;
        direction += f.vectorFlags[i] & 1;
        length += (f.vectorFlags[i] >> 1) & 1;
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_GT(direction, 10);
    EXPECT_GT(length, 10);
    for (int i = 0; i < framesN; ++i) EXPECT_EQ(f.frameFlags[i], 1);
}

// A pen that records what is drawn.
struct Recorder : COverlayPen {
    struct Op {
        char kind;  // 'c' colour, 'l' line, 't' triangle, 'q' quad
        double v[6];
    };
    std::vector<Op> ops;
    void Colour(double r, double g, double b) override { ops.push_back({'c', {r, g, b}}); }
    void Line(double a, double b, double c, double d) override { ops.push_back({'l', {a, b, c, d}}); }
    void Triangle(double a, double b, double c, double d, double e, double f) override {
        ops.push_back({'t', {a, b, c, d, e, f}});
    }
    void Quad(double a, double b, double c, double d) override { ops.push_back({'q', {a, b, c, d}}); }
    int Count(char k) const {
        int n = 0;
        for (const Op& o : ops) n += o.kind == k;
        return n;
    }
};

struct PenScope {
    Recorder rec;
    COverlayPen* old;
    PenScope() { old = SetOverlayPen(&rec); }
    ~PenScope() { SetOverlayPen(old); }
};

double Same(int32_t v) { return v; }

TEST(FlowData, ArrowHeads) {
    PenScope scope;
    OverlayRect rect;  // zoom code 1: image pixels are view pixels
    rect.viewX1 = rect.imageX1 = 1000;
    rect.viewY1 = rect.imageY1 = 1000;
    const double s15 = std::sin(3.14159265358979323846 / 12);
    // Vertical: base at the mid-point's y, h sin 15 either side.
    CFlowData::DrawArrow(100, 100, 100, 300, Same, Same, rect);
    ASSERT_EQ(scope.rec.ops.size(), 2u);
    EXPECT_EQ(scope.rec.ops[1].kind, 't');
    EXPECT_EQ(scope.rec.ops[1].v[0], 100);
    EXPECT_EQ(scope.rec.ops[1].v[1], 300);
    EXPECT_EQ(scope.rec.ops[1].v[2], std::lround(100 - 100 * s15));
    EXPECT_EQ(scope.rec.ops[1].v[3], 200);
    EXPECT_EQ(scope.rec.ops[1].v[4], std::lround(100 + 100 * s15));
    // Horizontal.
    scope.rec.ops.clear();
    CFlowData::DrawArrow(100, 50, 500, 50, Same, Same, rect);
    ASSERT_EQ(scope.rec.ops.size(), 2u);
    EXPECT_EQ(scope.rec.ops[1].v[2], 300);
    EXPECT_EQ(scope.rec.ops[1].v[3], std::lround(50 + 200 * s15));
    EXPECT_EQ(scope.rec.ops[1].v[5], std::lround(50 - 200 * s15));
    // Oblique at 45 degrees: the head's sides make 15 degrees with the shaft.
    scope.rec.ops.clear();
    CFlowData::DrawArrow(100, 100, 500, 500, Same, Same, rect);
    ASSERT_EQ(scope.rec.ops.size(), 2u);
    const double h = std::hypot(400, 400) / 2, t = std::atan2(-400.0, -400.0), a = 3.14159265358979323846 / 12;
    EXPECT_EQ(scope.rec.ops[1].v[2], std::lround(500 + h * std::cos(t - a)));
    EXPECT_EQ(scope.rec.ops[1].v[3], std::lround(500 + h * std::sin(t - a)));
    EXPECT_EQ(scope.rec.ops[1].v[4], std::lround(500 + h * std::cos(t + a)));
    EXPECT_EQ(scope.rec.ops[1].v[5], std::lround(500 + h * std::sin(t + a)));
    // Coinciding points draw nothing.
    scope.rec.ops.clear();
    CFlowData::DrawArrow(5, 5, 5, 5, Same, Same, rect);
    EXPECT_TRUE(scope.rec.ops.empty());
}

TEST(FlowData, LengthColours) {
    CFlowData f;  // base 2, step 2
    struct {
        double length;
        double r, g, b;
    } cases[] = {{0.5, 0, 0, 1}, {2, 0, 0, 1}, {2.01, 0, 1, 0}, {4, 0, 1, 0},
                 {5, 1, 1, 0},   {6, 1, 1, 0}, {7, 1, 0.5, 0}, {8.5, 1, 0, 0}};
    for (const auto& k : cases) {
        double rgb[3];
        f.LengthColour(k.length, 1.0, rgb);
        EXPECT_EQ(rgb[0], k.r) << k.length;
        EXPECT_EQ(rgb[1], k.g) << k.length;
        EXPECT_EQ(rgb[2], k.b) << k.length;
    }
    double rgb[3];
    f.LengthColour(4, 0.5, rgb);
    EXPECT_EQ(rgb[1], 0.5);
}

// Two cells, one an outlier; the grid, the fills, the erase masks and the selection.
TEST(FlowData, DrawMasksAndSelection) {
    PenScope scope;
    CFlowData f;
    ASSERT_EQ(f.Setup(10, 20, 8, 3, 1, 1), 1);
    *f.VectorAt(0, 0, 0) = {1, 0};
    *f.VectorAt(1, 0, 0) = {1, 0.1};
    *f.VectorAt(2, 0, 0) = {-9, 0};  // reversed and long
    OverlayRect rect;
    rect.viewX1 = rect.imageX1 = 99;
    rect.viewY1 = rect.imageY1 = 99;
    f.Draw(true, Same, Same, rect, 0, 1.0, 1, 1, 1, false, false);
    EXPECT_EQ(f.frameFlags[0], 1);  // validated lazily
    EXPECT_EQ(f.vectorFlags[2], 3);
    EXPECT_EQ(scope.rec.Count('q'), 3);
    EXPECT_EQ(scope.rec.Count('t'), 3);
    EXPECT_EQ(scope.rec.Count('l'), 2 + 4 + 3);  // grid lines and shafts
    scope.rec.ops.clear();
    f.Draw(true, Same, Same, rect, 0, 1.0, 1, 1, 1, true, false);
    EXPECT_EQ(scope.rec.Count('q'), 2);
    EXPECT_EQ(scope.rec.Count('t'), 2);
    scope.rec.ops.clear();
    f.drawGrid = 0;
    f.selectedColumn = 2;
    f.selectedRow = 0;
    f.Draw(true, Same, Same, rect, 0, 1.0, 1, 1, 1, false, true);
    // Two fills and the selected cell, two arrows and the selected one in cyan.
    EXPECT_EQ(scope.rec.Count('q'), 3);
    EXPECT_EQ(scope.rec.Count('t'), 3);
    ASSERT_GE(scope.rec.ops.size(), 3u);
    const auto& last = scope.rec.ops[scope.rec.ops.size() - 3];
    EXPECT_EQ(last.kind, 'c');
    EXPECT_EQ(last.v[0], 0);
    EXPECT_EQ(last.v[1], 1);
    EXPECT_EQ(last.v[2], 1);
    // The first fill is the cell square, mapped; its colour is blue at 0.5.
    EXPECT_EQ(scope.rec.ops[0].kind, 'c');
    EXPECT_EQ(scope.rec.ops[0].v[2], 0.5);
    EXPECT_EQ(scope.rec.ops[1].kind, 'q');
    EXPECT_EQ(scope.rec.ops[1].v[0], 10);
    EXPECT_EQ(scope.rec.ops[1].v[1], 20);
    EXPECT_EQ(scope.rec.ops[1].v[2], 18);
    EXPECT_EQ(scope.rec.ops[1].v[3], 28);
    // Out-of-range frames draw the grid only; missing mappings draw nothing.
    scope.rec.ops.clear();
    f.drawGrid = 1;
    f.Draw(false, Same, Same, rect, 5, 1.0, 1, 1, 1, false, false);
    EXPECT_EQ(scope.rec.Count('t'), 0);
    EXPECT_EQ(scope.rec.Count('l'), 6);
    scope.rec.ops.clear();
    EXPECT_EQ(CFlowData::DrawGrid(0, 0, 8, 3, 1, nullptr, Same, rect, 1, 1, 1), 0);
    EXPECT_EQ(CFlowData::DrawGrid(0, 0, 0, 3, 1, Same, Same, rect, 1, 1, 1), 0);
    EXPECT_TRUE(scope.rec.ops.empty());
}

TEST(FlowData, MappingZoomCodes) {
    OverlayRect r;
    r.viewX0 = 5, r.viewY0 = 7, r.viewX1 = 5 + 199, r.viewY1 = 7 + 99;
    r.imageX0 = 10, r.imageY0 = 20, r.imageX1 = 10 + 99, r.imageY1 = 20 + 99;
    int32_t x, y;
    r.zoom = 0;  // fitted: 2x horizontally, 1x vertically
    OverlayMapPoint(r, 30.25, 40, &x, &y);
    EXPECT_EQ(x, 5 + 41);
    EXPECT_EQ(y, 7 + 20);
    r.zoom = 3;
    OverlayMapPoint(r, 11.5, 20, &x, &y);
    EXPECT_EQ(x, 5 + 5);  // 4.5 rounds away from zero
    r.zoom = -2;
    OverlayMapPoint(r, 15, 25, &x, &y);
    EXPECT_EQ(x, 5 + 3);  // 2.5 -> 3
    EXPECT_EQ(y, 7 + 3);
    r.zoom = 1;
    OverlayMapPoint(r, 8, 20, &x, &y);
    EXPECT_EQ(x, 3);
}

}  // namespace
