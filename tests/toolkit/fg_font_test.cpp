// Glyph-page fonts without a screen: creation, the half-width advance,
// line layout, rasterised pages and page sharing with the shared font.
#include <gtest/gtest.h>

#include <cstring>

#include "toolkit/fg_font.h"

namespace {

// Largest coverage inside cell `index` of a page (16 x 8 cells, RGBA).
int CellCoverage(const CFgTexture& page, uint32_t index) {
    const uint64_t cx = (index % 16) * page.cellWidth, cy = (index / 16) * page.cellHeight;
    int best = 0;
    for (uint64_t y = 0; y < page.cellHeight; ++y)
        for (uint64_t x = 0; x < page.cellWidth; ++x) {
            const uint8_t* p = page.pixels + ((cy + y) * page.texWidth + cx + x) * 4;
            EXPECT_TRUE(p[0] == p[1] && p[1] == p[2] && p[2] == p[3]) << "coverage is not in all four bytes";
            best = std::max<int>(best, p[3]);
        }
    return best;
}

TEST(FgFont, HeightBelowTwoFails) {
    CFgFont font;
    EXPECT_EQ(font.Create(1, nullptr), 0);
    EXPECT_EQ(font.height, 0u);
    EXPECT_EQ(font.Create(2, nullptr), 1);
    EXPECT_EQ(font.face, L"ＭＳ 明朝");
}

TEST(FgFont, AdvancesFollowTheHalfWidthRule) {
    CFgFont font;
    ASSERT_EQ(font.Create(15, nullptr), 1);
    const struct {
        const wchar_t* text;
        int32_t width;
    } cases[] = {
        {L"A1", 2 * 7},           {L"漢", 15},         {L"\u00a5", 7},  {L"\u203e", 7},
        {L"\uff71", 7},           {L"\u3042", 15},     {L"\uff60", 15}, {L"\U0001F600", 15},
        {L"a\u3042\uff9fb", 7 + 15 + 7 + 7}, {L"", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(font.TextWidth(c.text), c.width) << static_cast<uint32_t>(c.text[0]);
}

TEST(FgFont, LayoutSplitsAtLineFeeds) {
    CFgFont font;
    ASSERT_EQ(font.Create(14, nullptr), 1);
    FgTextLayout layout;
    ASSERT_EQ(font.LayoutLines(L"ab\n漢字テスト\n", &layout), 3);
    EXPECT_EQ(layout.lines[0].text, L"ab");
    EXPECT_EQ(layout.lines[0].width, 14);
    EXPECT_EQ(layout.lines[1].width, 5 * 14);
    EXPECT_EQ(layout.lines[1].y, 14);
    EXPECT_EQ(layout.lines[2].text, L"");
    EXPECT_EQ(layout.lines[2].y, 28);
    EXPECT_EQ(layout.width, 70);
    EXPECT_EQ(layout.height, 42);
}

TEST(FgFont, PagesHoldGlyphsWhereCharactersHaveThem) {
    for (const wchar_t* face : {static_cast<const wchar_t*>(nullptr), L"ＭＳ ゴシック", L"DejaVu Sans"}) {
        CFgFont font;
        ASSERT_EQ(font.Create(16, face), 1);
        ASSERT_EQ(font.EnsurePage(0), 1);
        const CFgTexture& latin = font.pages[0];
        EXPECT_EQ(latin.cellWidth, 8u);
        EXPECT_EQ(latin.cellHeight, 16u);
        EXPECT_EQ(latin.tinted, 1u);
        EXPECT_GT(CellCoverage(latin, 'A'), 128);
        EXPECT_GT(CellCoverage(latin, 'g'), 128);
        EXPECT_EQ(CellCoverage(latin, ' '), 0);
        EXPECT_EQ(CellCoverage(latin, 0), 0);
        const uint32_t kanji = 0x6F22;  // 漢
        ASSERT_EQ(font.EnsurePage(kanji / 128), 1);
        const CFgTexture& page = font.pages[kanji / 128];
        EXPECT_EQ(page.cellWidth, 16u);
        EXPECT_GT(CellCoverage(page, kanji % 128), 128);
    }
}

TEST(FgFont, EmptyFaceGivesWhitePages) {
    CFgFont font;
    ASSERT_EQ(font.Create(4, L""), 1);
    ASSERT_EQ(font.EnsurePage(3), 1);
    const CFgTexture& page = font.pages[3];
    for (uint64_t i = 0; i < page.byteSize; ++i) ASSERT_EQ(page.pixels[i], 255);
}

TEST(FgFont, PagesAreSharedThroughTheSharedFont) {
    CFgFont a, b, other;
    ASSERT_EQ(a.Create(14, nullptr), 1);
    ASSERT_EQ(b.Create(14, nullptr), 1);
    ASSERT_EQ(other.Create(15, nullptr), 1);
    const uint32_t page = 0x3042 / 128;
    ASSERT_EQ(a.EnsurePage(page), 1);
    FgExchangeSharedPages(&a);
    CFgFont* shared = FgSharedFont();
    ASSERT_NE(shared, nullptr);
    ASSERT_NE(shared->pages[page].pixels, nullptr);
    FgExchangeSharedPages(&b);
    ASSERT_NE(b.pages[page].pixels, nullptr);
    EXPECT_EQ(std::memcmp(a.pages[page].pixels, b.pages[page].pixels, a.pages[page].byteSize), 0);
    EXPECT_EQ(b.pages[page].tinted, 1u);
    // A font of another height takes nothing.
    FgExchangeSharedPages(&other);
    EXPECT_EQ(other.pages[page].pixels, nullptr);
}

}  // namespace
