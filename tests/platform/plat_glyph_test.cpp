// The glyph rasteriser: every glyph of the characters the toolkit draws
// keeps all its ink inside its cell, at the sizes the dialogs use.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/plat_glyph.h"

namespace {

std::vector<uint32_t> Characters() {
    std::vector<uint32_t> codes;
    for (uint32_t c = 0x21; c < 0x7F; ++c) codes.push_back(c);   // ASCII
    for (uint32_t c = 0xA1; c <= 0xFF; ++c) codes.push_back(c);  // Latin-1
    for (uint32_t c = 0x3041; c <= 0x3093; ++c) codes.push_back(c);  // hiragana
    for (uint32_t c = 0x30A1; c <= 0x30F6; ++c) codes.push_back(c);  // katakana
    for (uint32_t c = 0xFF61; c <= 0xFF9F; ++c) codes.push_back(c);  // half-width kana
    // The rest of the half-width rule (yen, overline), the full-width
    // macron, and kanji of the dialogs' labels.
    for (uint32_t c : {0xA5u, 0x203Eu, 0xFFE3u, 0x6F22u, 0x5B57u, 0x8A2Du, 0x5B9Au, 0x78BAu, 0x8A8Du, 0x9F8Du,
                       0x9B31u, 0x7E8Fu})
        codes.push_back(c);
    return codes;
}

TEST(PlatGlyph, EveryGlyphKeepsItsInkInsideItsCell) {
    const std::vector<uint32_t> codes = Characters();
    for (const wchar_t* face : {static_cast<const wchar_t*>(nullptr), L"ＭＳ ゴシック"}) {
        for (int32_t height : {12, 14, 16, 20}) {
            PlatGlyphFont* font = PlatGlyphOpen(face, height);
            ASSERT_NE(font, nullptr) << height;
            for (uint32_t code : codes) {
                // Page 0 holds half-width cells; every other page full-width ones.
                const int32_t width = code < 128 ? height / 2 : height;
                std::vector<uint8_t> cell(static_cast<size_t>(width) * height, 0xAB);
                ASSERT_EQ(PlatGlyphRender(font, code, cell.data(), width, height, width), 1);
                uint64_t drawn = 0;
                for (uint8_t v : cell) drawn += v;
                const uint64_t ink = PlatGlyphInkForTesting(font, code);
                char what[48];
                std::snprintf(what, sizeof what, "U+%04X at %d %s", code, height, face ? "gothic" : "mincho");
                EXPECT_GT(ink, 0u) << what;
                EXPECT_EQ(drawn, ink) << what;
            }
            PlatGlyphClose(font);
        }
    }
}

TEST(PlatGlyph, BlanksAndControlsLeaveTheCellEmpty) {
    PlatGlyphFont* font = PlatGlyphOpen(nullptr, 14);
    ASSERT_NE(font, nullptr);
    for (uint32_t code : {0x20u, 0x0Au, 0x7Fu, 0x3000u}) {
        std::vector<uint8_t> cell(14 * 14, 0xAB);
        ASSERT_EQ(PlatGlyphRender(font, code, cell.data(), 14, 14, 14), 1);
        for (uint8_t v : cell) ASSERT_EQ(v, 0) << code;
    }
    PlatGlyphClose(font);
}

}  // namespace
