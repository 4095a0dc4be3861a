#include "toolkit/fg_text_columns.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

TEST(FgTextColumns, HalfWidthRule) {
    struct Case {
        uint32_t code;
        bool half;
    } cases[] = {
        {'A', true},     {0x7F, true},    {0x80, false},   {0xA5, true},     {0xE9, false},
        {0xFF, false},   {0x203E, true},  {0x3042, false}, {0xFF60, false},  {0xFF61, true},
        {0xFF9F, true},  {0xFFA0, false}, {0xFFFD, false}, {0x1F600, false}, {0xFFFFFFFFu, false},
    };
    for (const Case& c : cases) {
        const wchar_t ch = static_cast<wchar_t>(c.code);
        EXPECT_EQ(FgIsHalfWidth(ch), c.half) << std::hex << c.code;
        EXPECT_EQ(FgCharCells(ch), c.half ? 1 : 2) << std::hex << c.code;
    }
}

TEST(FgTextColumns, WholeTextColumns) {
    struct Case {
        const wchar_t* text;
        int32_t countLf;
        int32_t want;
    } cases[] = {
        {L"abc\t", 0, 4},   // tab after 3 characters ends at 4
        {L"abcd\t", 0, 8},  // on a stop already: a full 4
        {L"\t", 0, 4},
        {L"\u3042\t", 0, 4},
        {L"\u3042\u3044", 0, 4},
        {L"\u00E9", 0, 2},  // 128-255 are full width like everything outside the rule
        {L"\uFF71\uFF72", 0, 2},
        {L"ab\ncd", 1, 5},
        {L"ab\ncd", 0, 4},
        {L"", 1, 0},
        {nullptr, 1, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(FgTextColumns(c.text, c.countLf), c.want) << (c.text ? c.text : L"(null)");
}

TEST(FgTextColumns, ColumnToCharacter) {
    // "a" at 0, a tab covering 1-3, "b" at 4, a wide character at 5-6, then LF.
    const wchar_t* line = L"a\tb\u3042\ncd";
    struct Case {
        int32_t column, start, index, noStopIndex;
    } cases[] = {
        {-5, 0, 0, 0}, {0, 0, 0, 0}, {1, 1, 1, 1}, {3, 1, 1, 1}, {4, 4, 2, 2},
        {5, 5, 3, 3},  {6, 5, 3, 3}, {7, 7, 4, 4},  // the LF ends the line
        {8, 7, 4, 5},  {9, 7, 4, 6}, {100, 7, 4, 7},  // past the end of the text: its length
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.column);
        EXPECT_EQ(FgColumnStart(line, c.column), c.start);
        EXPECT_EQ(FgCharIndexAtColumn(line, c.column), c.index);
        EXPECT_EQ(FgCharIndexAtColumnNoStop(line, c.column), c.noStopIndex);
    }
    EXPECT_EQ(FgColumnStart(nullptr, 3), 0);
    EXPECT_EQ(FgCharIndexAtColumn(L"", 3), 0);
}

TEST(FgTextColumns, CharacterWidthAtColumn) {
    struct Case {
        const wchar_t* text;
        int32_t column, want;
    } cases[] = {
        {L"\t", 0, 4}, {L"\t", 1, 3}, {L"\t", 3, 1}, {L"\t", 4, 4}, {L"\t", -2, 4},
        {L"a", 7, 1},  {L"\u3042", 0, 2}, {L"\u00E9", 0, 2}, {L"\uFF9F", 0, 1}, {L"", 0, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(FgCharColumns(c.text, c.column), c.want) << c.column;
    EXPECT_EQ(FgCharColumns(nullptr, 0), 0);
}

TEST(FgTextColumns, ExpandTabs) {
    struct Case {
        const wchar_t* text;
        const wchar_t* want;
    } cases[] = {
        {L"a\tb\n", L"a   b"},
        {L"abcd\tx", L"abcd    x"},
        {L"\u3042\tx", L"\u3042  x"},
        {L"ab\t\n\tc", L"ab  \n    c"},  // columns restart after a line feed
        {L"x\n\n", L"x\n"},               // only one trailing LF goes
        {L"", L""},
    };
    for (const Case& c : cases) EXPECT_STREQ(FgExpandTabs(c.text), c.want);
    EXPECT_STREQ(FgExpandTabs(nullptr), L"");

    // A long text of tabs grows fourfold and is not cut.
    const std::wstring tabs(100000, L'\t');
    const std::wstring out = FgExpandTabs(tabs.c_str());
    EXPECT_EQ(out, std::wstring(400000, L' '));

    // Each thread has its own buffer.
    const wchar_t* mine = FgExpandTabs(L"main\t");
    std::wstring other;
    std::thread([&] { other = FgExpandTabs(L"other\t"); }).join();
    EXPECT_STREQ(mine, L"main    ");
    EXPECT_EQ(other, L"other   ");
}

}  // namespace
