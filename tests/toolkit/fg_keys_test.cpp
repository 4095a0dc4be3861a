// Key translation of the JIS layout and the key-event rules, on a screen
// without a window (the handlers need none).
#include <gtest/gtest.h>

#include "toolkit/fg_keys.h"
#include "toolkit/support/screen_recorder.h"

namespace {

constexpr uint16_t kShift = kFgKeyStateShift;
constexpr uint16_t kCaps = kFgKeyStateCapsLock;

struct TranslationCase {
    uint32_t virtualKey;
    uint16_t state;
    uint16_t expected;
};

TEST(FgTranslateKey, JisTable) {
    const TranslationCase cases[] = {
        // Letters: upper case exactly when shift and caps lock differ.
        {'A', 0, 'a'}, {'A', kShift, 'A'}, {'Z', kCaps, 'Z'}, {'Z', kShift | kCaps, 'z'},
        // Digits and their shifted signs; 0 has none.
        {'1', 0, '1'}, {'1', kShift, '!'}, {'2', kShift, '"'}, {'7', kShift, '\''}, {'9', kShift, ')'},
        {'0', kShift, '0'},
        // Caps lock alone does not shift digits or punctuation.
        {'3', kCaps, '3'}, {186, kCaps, ':'},
        {186, 0, ':'}, {186, kShift, '*'}, {187, 0, ';'}, {187, kShift, '+'}, {188, 0, ','}, {188, kShift, '<'},
        {189, 0, '-'}, {189, kShift, '='}, {190, 0, '.'}, {190, kShift, '>'}, {191, 0, '/'}, {191, kShift, '?'},
        {192, 0, '@'}, {192, kShift, '`'}, {219, 0, '['}, {219, kShift, '{'}, {220, 0, '\\'}, {220, kShift, '|'},
        {221, 0, ']'}, {221, kShift, '}'}, {222, 0, '^'}, {222, kShift, '~'}, {226, 0, '\\'}, {226, kShift, '_'},
        // Everything else passes through unchanged, shifted or not.
        {8, kShift, 8}, {10, 0, 10}, {27, kShift, 27}, {46, 0, 46}, {112, kShift, 112}, {193, kShift, 193},
        {223, kShift, 223}, {227, kShift, 227}, {0xF2, 0, 0xF2},
    };
    for (const TranslationCase& c : cases)
        EXPECT_EQ(FgTranslateKey(c.virtualKey, c.state), c.expected) << "key " << c.virtualKey << " state " << c.state;
}

class KeyEvents : public ::testing::Test {
protected:
    void SetUp() override { g_KeyState = 0; }
    void TearDown() override { g_KeyState = 0; }
    kvtest::RecordingScreen screen;
};

TEST_F(KeyEvents, ShiftTwiceRepeatsAndReleasesOnce) {
    FgKeyDown(&screen, 16);
    FgKeyDown(&screen, 16);
    FgKeyDown(&screen, 'A');
    FgKeyUp(&screen, 'A');
    FgKeyUp(&screen, 16);
    FgKeyUp(&screen, 16);
    EXPECT_EQ(screen.Joined(), "special+ 1, state 16, repeat, down 65, up 65, special- 1, state 0");
}

TEST_F(KeyEvents, SpecialKeysSetTheirBits) {
    const struct {
        uint32_t virtualKey;
        uint16_t bit;
        uint32_t code;
    } keys[] = {{17, 32, 2}, {16, 16, 1}, {37, 4, 5}, {39, 8, 6}, {38, 1, 3}, {40, 2, 4}};
    uint16_t all = 0;
    for (const auto& k : keys) {
        screen.events.clear();
        FgKeyDown(&screen, k.virtualKey);
        all |= k.bit;
        EXPECT_EQ(screen.Joined(), "special+ " + std::to_string(k.code) + ", state " + std::to_string(all));
    }
    EXPECT_EQ(g_KeyState, 63);
    for (const auto& k : keys) FgKeyUp(&screen, k.virtualKey);
    EXPECT_EQ(g_KeyState, 0);
}

TEST_F(KeyEvents, AutoRepeatIsSwallowedAndCharactersRepeatAsPresses) {
    FgKeyDown(&screen, 'Q');
    FgChar(&screen, 'q');
    FgKeyDown(&screen, 'Q');  // repeat
    FgChar(&screen, 'q');
    FgKeyUp(&screen, 'Q');
    EXPECT_EQ(screen.Joined(), "down 113, char 113, up 113, down 113, char 113, up 113");
    EXPECT_EQ(screen.lastKeyDown, 0);
    EXPECT_EQ(screen.lastChar, 0);
}

TEST_F(KeyEvents, EnterBecomesLineFeed) {
    FgKeyDown(&screen, 13);
    FgChar(&screen, '\r');
    FgKeyUp(&screen, 13);
    EXPECT_EQ(screen.Joined(), "down 10, char 10, up 10");
}

TEST_F(KeyEvents, DeleteGoesDownOnceButDeletesOnEveryRepeat) {
    FgKeyDown(&screen, 46);
    FgKeyDown(&screen, 46);
    FgKeyDown(&screen, 46);
    FgKeyUp(&screen, 46);
    EXPECT_EQ(screen.Joined(), "down 46, char 127, char 127, char 127, up 46");
}

TEST_F(KeyEvents, ShiftedKeysTranslateOnTheWay) {
    FgKeyDown(&screen, 16);
    FgKeyDown(&screen, 226);
    FgKeyUp(&screen, 226);
    FgKeyUp(&screen, 16);
    FgKeyDown(&screen, 226);
    EXPECT_EQ(screen.Joined(), "special+ 1, state 16, down 95, up 95, special- 1, state 0, down 92");
}

}  // namespace
