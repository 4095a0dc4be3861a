// Cell grid on the offscreen driver: geometry, the refusals of the sizing
// operations, bars and wheel, hit tests, the mouse callbacks, drawing only
// the visible cells (read back from the frame), and the CSV export checked
// byte for byte and by Python's csv reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/plat_messages.h"
#include "support/testsupport.h"
#include "platform/utf8.h"
#include "toolkit/fg_cell.h"
#include "toolkit/fg_dialog.h"
#include "toolkit/fg_font.h"
#include "toolkit/support/ui_input.h"

namespace {

using kvtest::PixelAt;

// Cell texts "c,r" unless a table is given; counts the calls.
struct Texts {
    int calls = 0;
    std::vector<std::vector<const wchar_t*>> table;
    std::wstring scratch;
    std::vector<std::string> events;
    int32_t alignment = 0;
};

const wchar_t* CellText(uint64_t c, uint64_t r, int32_t* alignment, double*, double*, double*, void* data) {
    auto* t = static_cast<Texts*>(data);
    ++t->calls;
    if (!t->table.empty()) return t->table[r][c];
    *alignment = t->alignment;
    t->scratch = std::to_wstring(c) + L"," + std::to_wstring(r);
    return t->scratch.c_str();
}

class GridDialog : public CFgUIDialog {
public:
    CFgUICell grid;
    Texts texts;
    GridDialog() {
        grid.textCallback = CellText;
        grid.callbackData = &texts;
        grid.pressCallback = [](uint64_t c, uint64_t r, void* d) {
            static_cast<Texts*>(d)->events.push_back("press " + std::to_string(c) + " " + std::to_string(r));
        };
        grid.dragCallback = [](uint64_t c, uint64_t r, void* d) {
            static_cast<Texts*>(d)->events.push_back("drag " + std::to_string(c) + " " + std::to_string(r));
        };
        grid.releaseCallback = [](uint64_t c, uint64_t r, void* d) {
            static_cast<Texts*>(d)->events.push_back("release " + std::to_string(c) + " " + std::to_string(r));
        };
    }
};

class FgCellTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(d.Create(-1, -1, 400, 300, L"grid", kFgStyleFixed, nullptr), 1);
        ASSERT_EQ(g.SetRect(25, 10, 380, 250), 1);
        d.AddChild(&g);
        kvtest::Pump();
    }
    GridDialog d;
    CFgUICell& g = d.grid;
};

TEST_F(FgCellTest, GeometryAndTheSizingRefusals) {
    EXPECT_EQ(g.x, 0) << "the grid sits at the left edge";
    ASSERT_EQ(g.SetSize(20, 100, 0), 1);
    EXPECT_EQ(g.ColumnPixels(0), 67);
    EXPECT_EQ(g.RowPixels(), 18);
    EXPECT_EQ(g.columnWidths[19], 9u);

    EXPECT_EQ(g.SetHeaderRows(5, 100, 0), 0) << "as many header rows as rows";
    ASSERT_EQ(g.SetHeaderRows(5, 1, 0), 1);
    EXPECT_EQ(g.headerColumns, 1u) << "always one header column";
    EXPECT_EQ(g.headerRows, 1u);
    EXPECT_EQ(g.firstColumn, 1u);
    EXPECT_EQ(g.firstRow, 1u);

    EXPECT_EQ(g.SetSize(3, 0, 0), 0);
    EXPECT_EQ(g.columns + g.rows + g.headerRows + g.headerColumns, 0u);
    EXPECT_EQ(g.laidOut, 0u);
    EXPECT_EQ(g.bars.horizontal.visible + g.bars.vertical.visible, 0u);
    EXPECT_EQ(g.SetSize(0, 3, 0), 0);
    EXPECT_EQ(g.SetSize(3, uint64_t{1} << 31, 0), 0) << "beyond what a bar can address";
    ASSERT_EQ(g.SetSize(2, 2, 0), 1);
    EXPECT_EQ(g.SetHeaderRows(1, 2, 0), 0);
    ASSERT_EQ(g.SetSize(1, 5, 0), 1);
    EXPECT_EQ(g.SetHeaderRows(1, 1, 0), 0) << "one column cannot have a header column";
}

TEST_F(FgCellTest, BarsPagesAndTheWheel) {
    ASSERT_EQ(g.SetSize(20, 100, 0), 1);
    ASSERT_EQ(g.SetHeaderRows(1, 1, 0), 1);
    ASSERT_EQ(g.bars.horizontalInUse + g.bars.verticalInUse, 2u);
    EXPECT_EQ(g.view.x1, 380 - 16 - 1);
    EXPECT_EQ(g.view.y1, 10 + 250 - 16 - 1);
    EXPECT_EQ(g.bars.vertical.page, (234 - 18) / 18);
    EXPECT_EQ(g.bars.vertical.minimum, 1);
    EXPECT_EQ(g.bars.vertical.maximum, 99);
    EXPECT_EQ(g.bars.horizontal.page, 4) << "4 x 67 of the last columns fit into 364 - 67";
    EXPECT_EQ(g.bars.horizontal.minimum, 1);

    // One row below the top: three notches up would land in the header, one moves to the top.
    ASSERT_EQ(g.ScrollToCell(1, 2), 1);
    g.OnMouseWheel(0, 0, -3);
    EXPECT_EQ(g.firstRow, 2u);
    g.OnMouseWheel(0, 0, -1);
    EXPECT_EQ(g.firstRow, 1u);
    g.OnMouseWheel(0, 0, -1);
    EXPECT_EQ(g.firstRow, 1u);
    g.OnMouseWheel(0, 0, 3);
    EXPECT_EQ(g.firstRow, 4u);
    EXPECT_EQ(g.bars.vertical.position, 4);
    // Near the end the target is capped; at the end nothing moves.
    ASSERT_EQ(g.ScrollToCell(3, 95), 1);
    EXPECT_EQ(g.firstRow, 100u - 12u) << "the layout keeps the last page full";
    EXPECT_EQ(g.firstColumn, 3u);
    g.OnMouseWheel(0, 0, 1);
    EXPECT_EQ(g.firstRow, 88u);
    g.OnMouseWheel(0, 0, -5);
    EXPECT_EQ(g.firstRow, 83u);
    g.OnMouseWheel(0, 0, 100);
    EXPECT_EQ(g.firstRow, 88u);

    // Refusals: header cells and cells past the end.
    EXPECT_EQ(g.ScrollToCell(0, 5), 0);
    EXPECT_EQ(g.ScrollToCell(2, 0), 0);
    EXPECT_EQ(g.ScrollToCell(20, 5), 0);
    EXPECT_EQ(g.ScrollToCell(2, 100), 0);
    // Dragging the bar (its callback) moves the first visible row.
    g.bars.vertical.Notify(50);
    EXPECT_EQ(g.firstRow, 50u);
    // When everything fits again the first cells return to the headers.
    ASSERT_EQ(g.SetRect(0, 10, 2000, 2000), 1);
    EXPECT_EQ(g.bars.horizontalInUse + g.bars.verticalInUse, 0u);
    EXPECT_EQ(g.firstRow, 1u);
    EXPECT_EQ(g.firstColumn, 1u);
}

TEST_F(FgCellTest, HitTestsAcrossHeadersAndScrolledColumns) {
    ASSERT_EQ(g.SetSize(20, 100, 0), 1);
    ASSERT_EQ(g.SetHeaderRows(1, 2, 0), 1);
    ASSERT_EQ(g.ScrollToCell(5, 40), 1);
    const struct {
        int32_t x, y;
        int32_t hit;
        uint64_t column, row;
    } cases[] = {
        {0, 0, 1, 0, 0},       {66, 17, 1, 0, 0},      {67, 18, 1, 5, 1},   {133, 35, 1, 5, 1},
        {134, 36, 1, 6, 40},   {10, 36 + 18, 1, 0, 41}, {300, 100, 1, 8, 40 + 100 / 18 - 2},
        {10, 233, 1, 0, 40 + 233 / 18 - 2}, {10, 234, 0, 0, 0}, {-1, 5, 0, 0, 0},
    };
    for (const auto& c : cases) {
        uint64_t column = 99, row = 99;
        EXPECT_EQ(g.HitTest(c.x, c.y, &column, &row), c.hit) << c.x << "," << c.y;
        if (c.hit) {
            EXPECT_EQ(column, c.column) << c.x << "," << c.y;
            EXPECT_EQ(row, c.row) << c.x << "," << c.y;
        }
    }
    // Past the last column: nothing.
    ASSERT_EQ(g.SetSize(3, 5, 0), 1);
    uint64_t column, row;
    EXPECT_EQ(g.HitTest(3 * 67, 5, &column, &row), 0);
    EXPECT_EQ(g.HitTest(10, 5 * 18, &column, &row), 0) << "below the last row";
}

TEST_F(FgCellTest, PressDragAndRelease) {
    ASSERT_EQ(g.SetSize(3, 5, 0), 1);
    const uint32_t w = d.window;
    auto at = [&](PlatMsgKind kind, int32_t x, int32_t y) { PlatPostMessage(w, kind, x, 10 + y); };
    at(kPlatMsgLButtonDown, 10, 20);   // cell 0, 1
    at(kPlatMsgMouseMove, 20, 25);     // same cell
    at(kPlatMsgMouseMove, 80, 25);     // cell 1, 1
    at(kPlatMsgLButtonDown, 150, 50);  // already pressed
    at(kPlatMsgLButtonUp, 300, 50);    // no cell: the press stays
    at(kPlatMsgMouseMove, 150, 40);    // cell 2, 2
    at(kPlatMsgLButtonUp, 150, 60);    // release on cell 2, 3
    at(kPlatMsgMouseMove, 10, 10);     // not pressed any more
    kvtest::Pump();
    EXPECT_EQ(d.texts.events, (std::vector<std::string>{"press 0 1", "drag 0 1", "drag 1 1", "drag 2 2",
                                                        "release 2 3"}));
    EXPECT_EQ(g.pressed, 0u);
    EXPECT_EQ(d.focused, &g);
}

TEST_F(FgCellTest, OnlyTheDrawnCellsAskForTheirText) {
    for (uint64_t rows : {uint64_t{100}, uint64_t{100000}}) {
        ASSERT_EQ(g.SetSize(20, rows, 0), 1);
        ASSERT_EQ(g.SetHeaderRows(1, 1, 0), 1);
        g.ScrollToCell(3, rows / 2);
        d.texts.calls = 0;
        kvtest::CaptureFrame(d, d);
        // Rows start every 18 pixels in a view 234 high, columns every 67 in 364.
        EXPECT_EQ(d.texts.calls, 13 * 6) << rows;
    }
}

TEST_F(FgCellTest, DrawsHeadersBodyRangeAndAlignedText) {
    ASSERT_EQ(g.SetSize(4, 6, 0), 1);
    ASSERT_EQ(g.SetHeaderRows(1, 1, 0), 1);
    g.rangeOn = 1;
    g.rangeFirstColumn = 2, g.rangeFirstRow = 0, g.rangeLastColumn = 3, g.rangeLastRow = 2;
    d.texts.alignment = -1;
    PlatFrame f = kvtest::CaptureFrame(d, d);
    ASSERT_EQ(f.width, 400);
    // The pixel is the colour 0xRRGGBB within 1 per channel (the GL may
    // round a colour such as 0.7 x 255 either way).
    auto is = [&](int32_t x, int32_t y, uint32_t expected) {
        const uint8_t* p = PixelAt(f, x, y);
        for (int i = 0; i < 3; ++i)
            if (std::abs(int(p[i]) - int((expected >> (16 - 8 * i)) & 255)) > 1) return false;
        return true;
    };
    const int32_t top = 10;
    // Header cell (1, 0): face 0.9 with a white top and left edge; grid line at its right.
    EXPECT_TRUE(is(67 + 60, top + 14, 0xe6e6e6u));
    EXPECT_TRUE(is(67 + 60, top, 0xffffffu));
    EXPECT_TRUE(is(67, top + 14, 0xffffffu));
    EXPECT_TRUE(is(133, top + 14, 0xb3b3b3u)) << "grid line";
    // Header cell (2, 0) inside the range: colour 7 face.
    EXPECT_TRUE(is(134 + 60, top + 14, 0xb3b3b3u));
    // Body cells: white, and colour 2 inside the range.
    EXPECT_TRUE(is(67 + 60, top + 18 + 16, 0xffffffu));
    EXPECT_TRUE(is(134 + 60, top + 18 + 16, 0xccf2f2u));
    EXPECT_TRUE(is(134 + 60, top + 3 * 18 + 16, 0xffffffu)) << "below the range";
    // Beyond the last column: the face.
    EXPECT_TRUE(is(4 * 67 + 20, top + 20, 0xe6e6e6u));
    // Left-aligned text starts 2 pixels into the cell; right-aligned text
    // ends 2 pixels before the right edge; centred text is centred.
    auto inkSpan = [&](int32_t left, int32_t rowTop) {
        int32_t first = 999, last = -1;
        for (int32_t yy = rowTop + 2; yy < rowTop + 16; ++yy)
            for (int32_t xx = left; xx < left + 66; ++xx)
                if (PixelAt(f, xx, yy)[0] < 100) first = std::min(first, xx), last = std::max(last, xx);
        return std::pair{first - left, last - left};
    };
    const auto leftSpan = inkSpan(67, top + 36);
    EXPECT_GE(leftSpan.first, 2);
    EXPECT_LE(leftSpan.first, 4);
    d.texts.alignment = 1;
    f = kvtest::CaptureFrame(d, d);
    const auto rightSpan = inkSpan(67, top + 36);
    EXPECT_LE(rightSpan.second, 66 - 2);
    EXPECT_GE(rightSpan.second, 66 - 4);
    d.texts.alignment = 0;
    f = kvtest::CaptureFrame(d, d);
    const auto centreSpan = inkSpan(67, top + 36);
    EXPECT_NEAR((centreSpan.first + centreSpan.second) / 2.0, 33, 2.5);
    // Disabled: body text in colour 7, no range colours.
    g.enabled = 0;
    f = kvtest::CaptureFrame(d, d);
    EXPECT_TRUE(is(134 + 60, top + 18 + 16, 0xffffffu));
    int dark = 0;
    for (int32_t yy = top + 18; yy < top + 36; ++yy)
        for (int32_t xx = 67; xx < 133; ++xx) dark += PixelAt(f, xx, yy)[0] < 100;
    EXPECT_EQ(dark, 0) << "disabled text is grey";
}

TEST_F(FgCellTest, ScreenshotOfALargeTableScrolledToTheMiddle) {
    ASSERT_EQ(g.SetRect(0, 10, 400, 290), 1);
    ASSERT_EQ(g.SetSize(8, 10000, 0), 1);
    ASSERT_EQ(g.SetHeaderRows(1, 2, 0), 1);
    g.columnWidths[0] = 6;
    g.rangeOn = 1;
    g.rangeFirstColumn = 2, g.rangeFirstRow = 5000, g.rangeLastColumn = 4, g.rangeLastRow = 5003;
    ASSERT_EQ(g.ScrollToCell(2, 4998), 1);
    const PlatFrame f = kvtest::CaptureFrame(d, d);
    kvtest::SaveScreenshot(f, "grid_10000_rows_middle");
    EXPECT_EQ(g.firstRow, 4998u);
    EXPECT_EQ(g.bars.horizontal.visible + g.bars.vertical.visible, 2u);
}

// Fitting: each column as wide as its widest text, headers included and
// full-width characters counted by the drawing's rule; a right-aligned
// number wider than the default 9 cells is drawn whole (its first digit's
// ink lies inside the cell).
TEST_F(FgCellTest, FitColumnsMakesEveryTextFitItsColumn) {
    ASSERT_EQ(g.SetSize(4, 3, 0), 1);
    ASSERT_EQ(g.SetHeaderRows(1, 1, 0), 1);
    d.texts.table = {
        {L"", L"pixel/frame", L"面積", nullptr},
        {L"1", L"307200.000", L"1.5", nullptr},
        {L"2", L"7", L"面積面積面積面積面積", nullptr},
    };
    g.FitColumns();
    const uint64_t f = static_cast<uint64_t>(g.FontHeight());
    const uint64_t expected[4] = {1, 11, (FgTextWidth(L"面積面積面積面積面積", f) + f / 2 - 1) / (f / 2), 1};
    for (uint64_t c = 0; c < 4; ++c) EXPECT_EQ(g.columnWidths[c], expected[c]) << "column " << c;
    for (uint64_t c = 0; c < 3; ++c)
        for (uint64_t r = 0; r < 3; ++r)
            if (const wchar_t* t = d.texts.table[r][c]) {
                EXPECT_LE(FgTextWidth(t, f) + 4, static_cast<uint64_t>(g.ColumnPixels(c))) << c << "," << r;
            }
    // Drawn right-aligned: the leading "3" has ink left of where a 9-cell
    // column would start its text.
    d.texts.table[0][1] = L"";
    d.texts.table[2][1] = L"";
    d.texts.table[1][0] = L"";
    d.texts.table[1][2] = L"";
    d.texts.table[2][2] = L"";
    g.FitColumns();
    const PlatFrame frame = kvtest::CaptureFrame(d, d);
    const int32_t left = static_cast<int32_t>(g.ColumnPixels(0));
    const int32_t right = left + static_cast<int32_t>(g.ColumnPixels(1)) - 1;
    const int32_t nineCells = static_cast<int32_t>(9 * (f / 2) + 4);
    const int32_t rowTop = g.y + static_cast<int32_t>(g.RowPixels());
    int ink = 0;
    for (int32_t yy = rowTop + 2; yy < rowTop + static_cast<int32_t>(g.RowPixels()) - 2; ++yy)
        for (int32_t xx = left + 1; xx < right + 1 - nineCells + 2; ++xx) ink += PixelAt(frame, xx, yy)[0] < 100;
    EXPECT_GT(ink, 0) << "the first digit is drawn";
}

TEST_F(FgCellTest, SaveCsvWritesEveryCellUnquoted) {
    ASSERT_EQ(g.SetSize(3, 3, 0), 1);
    ASSERT_EQ(g.SetHeaderRows(1, 1, 0), 1);
    d.texts.table = {
        {L"", L"長さ", L"面積"},
        {L"1", L"12.5", nullptr},
        {L"2", L"1,5", L"日本語 text"},
    };
    kvtest::TempDir dir("cell-csv");
    const std::string path = dir.file("表.csv");
    ASSERT_EQ(g.SaveCsv(PlatUtf8ToWide(path.c_str()).c_str()), 1);
    EXPECT_EQ(kvtest::ReadFileBytes(path), ",長さ,面積\n1,12.5,\n2,1,5,日本語 text\n");
    std::string out;
    ASSERT_EQ(kvtest::RunPython("import csv, sys\n"
                                "rows = list(csv.reader(open(sys.argv[1], encoding='utf-8', newline='')))\n"
                                "print(len(rows), [len(r) for r in rows], rows[0][1], rows[2][3])\n",
                                {path}, &out),
              0);
    EXPECT_EQ(out, "3 [3, 3, 4] 長さ 日本語 text\n") << "the comma adds a field";

    // Without a text callback every cell is empty.
    g.textCallback = nullptr;
    ASSERT_EQ(g.SaveCsv(PlatUtf8ToWide(path.c_str()).c_str()), 1);
    EXPECT_EQ(kvtest::ReadFileBytes(path), ",,\n,,\n,,\n");
    // A full disk and a missing folder fail.
    EXPECT_EQ(g.SaveCsv(L"/dev/full"), 0);
    EXPECT_EQ(g.SaveCsv(PlatUtf8ToWide(dir.file("no/such.csv").c_str()).c_str()), 0);
    EXPECT_EQ(g.SaveCsv(nullptr), 0);
}

}  // namespace
