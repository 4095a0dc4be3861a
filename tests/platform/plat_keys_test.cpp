// Key positions, synthesised control characters and the text conversions of
// the platform layer.
#include <gtest/gtest.h>

#include "platform/plat_sdl.h"

namespace {

TEST(PlatKeys, ScancodesMapToJisVirtualKeys) {
    const struct {
        SDL_Scancode scancode;
        uint32_t virtualKey;
    } cases[] = {
        {SDL_SCANCODE_A, 'A'}, {SDL_SCANCODE_Z, 'Z'}, {SDL_SCANCODE_1, '1'}, {SDL_SCANCODE_9, '9'},
        {SDL_SCANCODE_0, '0'}, {SDL_SCANCODE_RETURN, 13}, {SDL_SCANCODE_KP_ENTER, 13}, {SDL_SCANCODE_ESCAPE, 27},
        {SDL_SCANCODE_BACKSPACE, 8}, {SDL_SCANCODE_TAB, 9}, {SDL_SCANCODE_SPACE, 32}, {SDL_SCANCODE_DELETE, 46},
        {SDL_SCANCODE_LSHIFT, 16}, {SDL_SCANCODE_RSHIFT, 16}, {SDL_SCANCODE_LCTRL, 17}, {SDL_SCANCODE_RCTRL, 17},
        {SDL_SCANCODE_CAPSLOCK, 20}, {SDL_SCANCODE_LEFT, 37}, {SDL_SCANCODE_UP, 38}, {SDL_SCANCODE_RIGHT, 39},
        {SDL_SCANCODE_DOWN, 40}, {SDL_SCANCODE_F1, 112}, {SDL_SCANCODE_F12, 123}, {SDL_SCANCODE_KP_0, 96},
        {SDL_SCANCODE_KP_9, 105},
        // Punctuation by position on the JIS keyboard.
        {SDL_SCANCODE_MINUS, 189}, {SDL_SCANCODE_EQUALS, 222}, {SDL_SCANCODE_INTERNATIONAL3, 220},
        {SDL_SCANCODE_LEFTBRACKET, 192}, {SDL_SCANCODE_RIGHTBRACKET, 219}, {SDL_SCANCODE_SEMICOLON, 187},
        {SDL_SCANCODE_APOSTROPHE, 186}, {SDL_SCANCODE_BACKSLASH, 221}, {SDL_SCANCODE_NONUSHASH, 221},
        {SDL_SCANCODE_COMMA, 188}, {SDL_SCANCODE_PERIOD, 190}, {SDL_SCANCODE_SLASH, 191},
        {SDL_SCANCODE_INTERNATIONAL1, 226},
        // Keys the toolkit has no use for.
        {SDL_SCANCODE_UNKNOWN, 0}, {SDL_SCANCODE_MUTE, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PlatVirtualKeyFromScancode(c.scancode), c.virtualKey) << SDL_GetScancodeName(c.scancode);
}

TEST(PlatKeys, ControlCharactersThatSdlSendsNoTextFor) {
    const struct {
        SDL_Scancode scancode;
        uint16_t modifiers;
        uint32_t character;
    } cases[] = {
        {SDL_SCANCODE_BACKSPACE, 0, 8}, {SDL_SCANCODE_TAB, KMOD_SHIFT, 9}, {SDL_SCANCODE_RETURN, 0, 13},
        {SDL_SCANCODE_KP_ENTER, 0, 13}, {SDL_SCANCODE_ESCAPE, 0, 27}, {SDL_SCANCODE_A, KMOD_LCTRL, 1},
        {SDL_SCANCODE_C, KMOD_RCTRL, 3}, {SDL_SCANCODE_Z, KMOD_LCTRL | KMOD_SHIFT, 26},
        {SDL_SCANCODE_A, 0, 0},                      // plain letters come as text
        {SDL_SCANCODE_A, KMOD_LCTRL | KMOD_LALT, 0},  // AltGr combinations are text too
        {SDL_SCANCODE_1, KMOD_LCTRL, 0}, {SDL_SCANCODE_DELETE, 0, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PlatControlCharacter(c.scancode, c.modifiers), c.character)
            << SDL_GetScancodeName(c.scancode) << " mod " << c.modifiers;
}

TEST(PlatText, Utf8RoundTripAndReplacement) {
    const std::wstring wide = L"a\u00e9\u65e5\U0001F600";
    const std::string utf8 = "a\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80";
    EXPECT_EQ(PlatWideToUtf8(wide.c_str()), utf8);
    EXPECT_EQ(PlatUtf8ToWide(utf8.c_str()), wide);
    EXPECT_EQ(PlatWideToUtf8(nullptr), "");
    EXPECT_EQ(PlatUtf8ToWide(nullptr), L"");
    const struct {
        const char* utf8;
        std::wstring wide;
    } bad[] = {
        {"\xC0\xAF", L"\uFFFD"},           // overlong
        {"\xED\xA0\x80x", L"\uFFFDx"},     // encoded surrogate
        {"\xE6\x97", L"\uFFFD"},           // cut at the end
        {"\xE6\x97" "A", L"\uFFFDA"},      // cut before a new character
        {"\xFF" "b", L"\uFFFDb"},          // no lead byte
        {"\x80" "c", L"\uFFFDc"},          // stray continuation
        {"\xF4\x90\x80\x80", L"\uFFFD"},   // beyond U+10FFFF
    };
    for (const auto& b : bad) EXPECT_EQ(PlatUtf8ToWide(b.utf8), b.wide) << b.utf8;
    const wchar_t invalid[] = {static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0x110000), 0};
    EXPECT_EQ(PlatWideToUtf8(invalid), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

}  // namespace
