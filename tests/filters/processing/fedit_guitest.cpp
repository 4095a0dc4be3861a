// The kernel grid editor on the offscreen driver: clicks, keys and typed
// characters as one table of steps, values at the ends of the 32-bit range,
// the active window, and the cell fills, text colours and focus outline
// read back from the frame.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "filters/processing/fedit.h"
#include "platform/plat_messages.h"
#include "support/testsupport.h"
#include "toolkit/fg_dialog.h"
#include "toolkit/support/ui_input.h"

namespace {

class CountingClient : public CFEditClient {
public:
    int changes = 0;
    void OnEditChanged() override { ++changes; }
};

class GridDialog : public CFgUIDialog {
public:
    CFEdit grid;
    CountingClient client;
    GridDialog() { grid.client = &client; }
};

constexpr int32_t kLeft = 10, kTop = 10;

class FEditTest : public testing::Test {
public:
    void SetUp() override {
        ASSERT_EQ(d.Create(-1, -1, 290, 200, L"grid", kFgStyleFixed, nullptr), 1);
        ASSERT_EQ(g.SetRect(kLeft, kTop, 270, 180), 1);
        d.AddChild(&g);
        kvtest::Pump();
    }
    void TearDown() override { kvtest::Pump(); }
    // Client pixels of a cell's middle.
    static int32_t X(int32_t column) { return kLeft + column * 30 + 15; }
    static int32_t Y(int32_t row) { return kTop + row * 20 + 10; }
    void Click(int32_t column, int32_t row, bool right = false) {
        if (right) {
            PlatPostTestMouse(d.window, kPlatMsgRButtonDown, X(column), Y(row));
            PlatPostTestMouse(d.window, kPlatMsgRButtonUp, X(column), Y(row));
        } else {
            PlatPostTestClick(d.window, X(column), Y(row));
        }
        kvtest::Pump();
    }
    void Key(uint32_t vk) {
        kvtest::PostKey(d.window, vk);
        kvtest::Pump();
    }
    void Type(const std::wstring& text) {
        kvtest::PostText(d.window, text);
        kvtest::Pump();
    }
    GridDialog d;
    CFEdit& g = d.grid;
};

TEST_F(FEditTest, ClicksKeysAndCharactersAsOneTable) {
    struct Step {
        const char* what;
        std::function<void(FEditTest&)> act;
        int32_t column, row;  // the selection afterwards
        int32_t value;        // of the selected cell
        int changes;          // client notices of this step
    };
    const std::vector<Step> steps = {
        {"click the centre", [](FEditTest& t) { t.Click(4, 4); }, 4, 4, 1, 1},
        {"a digit replaces the clicked value", [](FEditTest& t) { t.Type(L"5"); }, 4, 4, 5, 1},
        {"later digits append", [](FEditTest& t) { t.Type(L"30"); }, 4, 4, 530, 2},
        {"backspace drops the last digit", [](FEditTest& t) { t.Type(L"\b"); }, 4, 4, 53, 1},
        {"to 0 and afresh", [](FEditTest& t) { t.Type(L"\b\b7"); }, 4, 4, 7, 3},
        {"clear, then minus starts a negative value", [](FEditTest& t) { t.Type(L"C-12"); }, 4, 4, -12, 4},
        {"backspace keeps the sign", [](FEditTest& t) { t.Type(L"\b"); }, 4, 4, -1, 1},
        {"a minus inside a value does nothing", [](FEditTest& t) { t.Type(L"-"); }, 4, 4, -1, 1},
        {"other characters are ignored", [](FEditTest& t) { t.Type(L"x+ "); }, 4, 4, -1, 0},
        {"lower-case c clears", [](FEditTest& t) { t.Type(L"c"); }, 4, 4, 0, 1},
        {"up on the window's top row wraps to its bottom", [](FEditTest& t) {
             t.Key(kvtest::kVkUp);
             t.Key(kvtest::kVkUp);
         }, 4, 5, 0, 0},
        {"left twice wraps to the right edge", [](FEditTest& t) {
             t.Key(kvtest::kVkLeft);
             t.Key(kvtest::kVkLeft);
         }, 5, 5, 0, 0},
        {"right click takes one away and selects", [](FEditTest& t) { t.Click(3, 3, true); }, 3, 3, -1, 1},
        {"the value typed after it starts afresh and positive", [](FEditTest& t) { t.Type(L"8"); }, 3, 3, 8, 1},
        {"a greyed cell outside the window takes no click", [](FEditTest& t) { t.Click(0, 0); }, 3, 3, 8, 0},
        {"a click beside the grid changes nothing", [](FEditTest& t) { t.Click(2, 8, true); }, 3, 3, 8, 0},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        const int before = d.client.changes;
        s.act(*this);
        EXPECT_EQ(g.selColumn, s.column);
        EXPECT_EQ(g.selRow, s.row);
        EXPECT_EQ(g.values[g.selRow][g.selColumn], s.value);
        EXPECT_EQ(d.client.changes - before, s.changes);
    }
    EXPECT_EQ(g.values[0][0], 0);
    EXPECT_EQ(g.values[4][4], 0);
}

TEST_F(FEditTest, ValuesStayInsideThe32BitRange) {
    Click(4, 4);
    Type(L"2147483647");
    EXPECT_EQ(g.values[4][4], INT32_MAX);
    int before = d.client.changes;
    Type(L"0");  // one digit more is refused
    EXPECT_EQ(g.values[4][4], INT32_MAX);
    EXPECT_EQ(d.client.changes, before);
    before = d.client.changes;
    EXPECT_EQ(g.IncrementCell(X(4) - kLeft, Y(4) - kTop), 0);
    EXPECT_EQ(g.values[4][4], INT32_MAX);
    Type(L"C-2147483648");
    EXPECT_EQ(g.values[4][4], INT32_MIN);
    Type(L"1");  // |-2147483648| x 10 would overflow
    EXPECT_EQ(g.values[4][4], INT32_MIN);
    EXPECT_EQ(g.DecrementCell(X(4) - kLeft, Y(4) - kTop), 0);
    EXPECT_EQ(g.values[4][4], INT32_MIN);
    // A loaded extreme cell selected by the keys is typed over afresh.
    g.values[3][4] = INT32_MIN;
    Key(kvtest::kVkUp);
    Type(L"\b");
    EXPECT_EQ(g.values[3][4], 0);
    g.values[3][4] = INT32_MIN;
    Type(L"-");
    Type(L"9");
    EXPECT_EQ(g.values[3][4], -9);
}

TEST_F(FEditTest, TheWindowFollowsTheSizeAndTheKernelIsItsCells) {
    for (int32_t r = 0; r < 9; ++r)
        for (int32_t c = 0; c < 9; ++c) g.values[r][c] = r * 9 + c;
    int32_t k[81];
    for (int32_t size : {3, 5, 7, 9}) {
        g.size = size;
        ASSERT_EQ(g.GetKernel(k), 1);
        const int32_t lo = 4 - size / 2;
        for (int32_t i = 0; i < size * size; ++i) EXPECT_EQ(k[i], (lo + i / size) * 9 + lo + i % size) << size;
    }
    EXPECT_EQ(g.GetKernel(nullptr), 0);
    // 9 x 9: the corner takes clicks; back to 3 x 3 it keeps its value and
    // the selection left outside the window ignores keys.
    Click(0, 0);
    EXPECT_EQ(g.values[0][0], 1);
    g.size = 3;
    Key(kvtest::kVkDown);
    EXPECT_EQ(g.selRow, 0);
    Type(L"5");
    EXPECT_EQ(g.values[0][0], 1);
}

TEST_F(FEditTest, FillsTextColoursAndTheFocusOutline) {
    g.size = 5;
    g.values[4][4] = 7;     // positive: white, black text
    g.values[4][3] = -345;  // negative: black, white text
    g.values[0][0] = 9;     // outside: 0.7
    Click(4, 4);
    g.values[4][4] = 7;
    auto cell = [&](const PlatFrame& f, int32_t c, int32_t r, int32_t dx, int32_t dy) {
        return kvtest::PixelAt(f, kLeft + c * 30 + dx, kTop + r * 20 + dy);
    };
    // Pixels of the given level in a cell's interior.
    auto inkCount = [&](const PlatFrame& f, int32_t c, int32_t r, int level) {
        int n = 0;
        for (int32_t y = 1; y < 19; ++y)
            for (int32_t x = 1; x < 29; ++x)
                if (std::abs(cell(f, c, r, x, y)[0] - level) < 40 && std::abs(cell(f, c, r, x, y)[2] - level) < 40) ++n;
        return n;
    };
    PlatFrame f = kvtest::CaptureFrame(d, d);
    kvtest::SaveScreenshot(f, "kernel_grid");
    EXPECT_NEAR(cell(f, 0, 0, 3, 3)[0], 179, 2);  // outside the window
    EXPECT_NEAR(cell(f, 2, 2, 3, 3)[0], 230, 2);  // zero
    EXPECT_NEAR(cell(f, 4, 4, 3, 3)[0], 255, 2);  // positive
    EXPECT_NEAR(cell(f, 3, 4, 3, 3)[0], 0, 2);    // negative
    EXPECT_GT(inkCount(f, 4, 4, 0), 5);            // black "7"
    EXPECT_GT(inkCount(f, 3, 4, 255), 10);         // white "-345"
    EXPECT_EQ(inkCount(f, 0, 0, 0), 0) << "cells outside the window show no value";
    // Outlines: black; the focused selected cell's in red.
    EXPECT_NEAR(cell(f, 2, 2, 0, 5)[0], 0, 2);
    const uint8_t* red = cell(f, 4, 4, 0, 5);
    EXPECT_GT(red[0], 200);
    EXPECT_LT(red[1], 50);
    EXPECT_LT(red[2], 50);
    // Disabled: every cell 0.7 with 0.3 outlines and 0.9 text, no red.
    g.enabled = 0;
    f = kvtest::CaptureFrame(d, d);
    EXPECT_NEAR(cell(f, 3, 4, 3, 3)[0], 179, 2);
    EXPECT_NEAR(cell(f, 4, 4, 3, 3)[0], 179, 2);
    EXPECT_NEAR(cell(f, 2, 2, 0, 5)[0], 77, 2);
    EXPECT_NEAR(cell(f, 4, 4, 0, 5)[0], 77, 2);
    EXPECT_GT(inkCount(f, 3, 4, 230), 10);
}

}  // namespace
