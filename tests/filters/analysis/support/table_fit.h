// Checks that every text of a table window's grid fits its column whole:
// the drawing insets a text by 2 pixels on each side, so a column must be at
// least the text's width plus 4 pixels, or its digits are cut.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "toolkit/fg_cell.h"
#include "toolkit/fg_font.h"

namespace kvtest {

// The number of non-empty cells seen; a failure names the first cut cell.
inline int ExpectEveryTextFits(const CFgUICell& grid) {
    int seen = 0;
    if (!grid.textCallback) return 0;
    const uint64_t height = static_cast<uint64_t>(grid.FontHeight());
    for (uint64_t c = 0; c < grid.columns; ++c)
        for (uint64_t r = 0; r < grid.rows; ++r) {
            int32_t alignment = 0;
            double rgb[3] = {0, 0, 0};
            const wchar_t* text = grid.textCallback(c, r, &alignment, &rgb[0], &rgb[1], &rgb[2], grid.callbackData);
            if (!text || !*text) continue;
            ++seen;
            const int64_t need = FgTextWidth(text, height) + 4;
            if (need > grid.ColumnPixels(c)) {
                ADD_FAILURE() << "cell " << c << "," << r << " text of " << need - 4 << " pixels in a column of "
                              << grid.ColumnPixels(c);
                return seen;
            }
        }
    return seen;
}

}  // namespace kvtest
