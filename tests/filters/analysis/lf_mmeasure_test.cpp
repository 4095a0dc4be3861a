// The result text of "Manual measurement" for every point count, both
// languages, the calibration and points far apart.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filters/analysis/lf_mmeasure.h"

namespace {

TEST(ManualMeasureText, EveryPointCountInBothLanguages) {
    using P = CLfMmeasure::Point;
    const struct {
        std::vector<P> points;
        bool jp;
        double scale;
        int32_t axisY;
        const wchar_t* unit;
        const wchar_t* expect;
    } cases[] = {
        {{}, false, 1, 1, L"", L""},
        {{{5, 0}}, false, 1, 1, L"", L"pos(5, 0)"},
        {{{5, 0}}, false, 1, -1, L"", L"pos(5, 479)"},  // the Y axis points up in a 480-row frame
        {{{5, 7}}, true, 1, 1, L"", L"座標(5, 7)"},
        {{{10, 10}, {13, 14}}, false, 0.5, 1, L"mm", L"length:2.500000mm"},
        {{{10, 10}, {13, 14}}, true, 0.5, 1, L"mm", L"距離:2.500000mm"},
        // Squares beyond 32 bits.
        {{{0, 0}, {40000, 30000}}, false, 1, 1, L"", L"length:50000.000000"},
        {{{-60000, 0}, {0, 0}}, false, 2, 1, L"px", L"length:120000.000000px"},
        {{{1, 1}, {1, 1}, {5, 5}}, false, 1, 1, L"", L"angle:---"},
        {{{1, 1}, {5, 5}, {5, 5}}, true, 1, 1, L"", L"内積:---"},
        // English gives the angle in radians, Japanese the normalised product.
        {{{10, 0}, {0, 0}, {0, 10}}, false, 1, 1, L"", L"angle:1.570796rad"},
        {{{10, 0}, {0, 0}, {0, 10}}, true, 1, 1, L"", L"内積:0.000000rad"},
        {{{10, 0}, {0, 0}, {-10, 0}}, false, 1, 1, L"", L"angle:3.141593rad"},
        {{{10, 0}, {0, 0}, {-10, 0}}, true, 1, 1, L"", L"内積:-1.000000rad"},
        {{{10, 0}, {0, 0}, {10, 10}}, false, 1, 1, L"", L"angle:0.785398rad"},
        {{{10, 0}, {0, 0}, {10, 10}}, true, 1, 1, L"", L"内積:0.707107rad"},
        {{{0, 0}, {3, 4}, {0, 0}, {3, 4}}, false, 1, 1, L"", L"angle:0.000000rad"},
        {{{0, 0}, {3, 4}, {0, 0}, {6, 8}}, true, 1, 1, L"", L"内積:1.000000rad"},
        // Parallel directions of odd lengths: the rounded product may pass 1.
        {{{0, 0}, {7, 3}, {1, 1}, {15, 7}}, false, 1, 1, L"", L"angle:0.000000rad"},
        {{{0, 0}, {5, 0}, {2, 2}, {2, 9}}, true, 1, 1, L"", L"内積:0.000000rad"},
        {{{0, 0}, {3, 4}, {2, 2}, {2, 2}}, false, 1, 1, L"", L"angle:---"},
        {{{0, 0}, {0, 0}, {2, 2}, {3, 2}}, false, 1, 1, L"", L"angle:---"},
        // Directions far apart: (50000, 0) against (0, -50000).
        {{{0, 0}, {50000, 0}, {0, 50000}, {0, 0}}, false, 1, 1, L"", L"angle:1.570796rad"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CLfMmeasure::ResultText(c.points.data(), static_cast<int32_t>(c.points.size()), c.jp, c.scale,
                                          c.axisY, c.unit, 480),
                  c.expect);
    }
}

}  // namespace
