// Text and number conversions: the strict parsers against the C library's
// own conversions, overflow limits, and the UTF-8 code page.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "filters/core/textconv.h"

namespace {

std::string Narrow(const wchar_t* w) {
    std::string s;
    for (; *w; ++w) s += static_cast<char>(*w);
    return s;
}

TEST(TextConv, DoubleToTextDropsTrailingZeros) {
    const struct {
        double value;
        const wchar_t* text;
    } cases[] = {
        {1.0, L"1"},
        {0.1, L"0.1"},
        {-2.5, L"-2.5"},
        {0.25, L"0.25"},
        {12.0, L"12"},
        {100.0, L"100"},
        {0.0000001, L"0"},
        {1e20, L"100000000000000000000"},
        {123.4567891, L"123.456789"},
        {-0.0, L"-0"},
    };
    for (const auto& c : cases) {
        wchar_t buffer[64];
        EXPECT_EQ(DoubleToText(buffer, 64, c.value), buffer);
        EXPECT_STREQ(buffer, c.text) << c.value;
    }
}

TEST(TextConv, DoubleToTextCutsToBufferAndAcceptsNoBuffer) {
    wchar_t small[4];
    DoubleToText(small, 4, 12.5);  // "12.500000" cut to "12." then trimmed
    EXPECT_STREQ(small, L"12");
    wchar_t huge[512];
    DoubleToText(huge, 512, std::numeric_limits<double>::max());
    EXPECT_EQ(std::wcslen(huge), 309u);
    EXPECT_EQ(DoubleToText(nullptr, 10, 1.0), nullptr);
}

// Expected texts from numpy.format_float_positional(v, precision=15,
// unique=False, fractional=False, trim='-').
TEST(TextConv, DoubleToPlainTextKeepsFifteenSignificantDigitsWithoutExponent) {
    const struct {
        double value;
        const wchar_t* text;
    } cases[] = {
        {1.4e-6, L"0.0000014"},
        {4e-7, L"0.0000004"},
        {1e20, L"100000000000000000000"},
        {0.1, L"0.1"},
        {1.0 / 3.0, L"0.333333333333333"},
        {123456789.123456789, L"123456789.123457"},
        {-2.5e-12, L"-0.0000000000025"},
        {99999999999999.99, L"100000000000000"},
        {1.2345678901234567e20, L"123456789012346000000"},
        {0.5, L"0.5"},
        {0.0, L"0"},
        {std::numeric_limits<double>::infinity(), L"0"},
        {std::numeric_limits<double>::quiet_NaN(), L"0"},
    };
    for (const auto& c : cases) {
        wchar_t buffer[400];
        EXPECT_EQ(DoubleToPlainText(buffer, 400, c.value), buffer);
        EXPECT_STREQ(buffer, c.text) << c.value;
    }
    // The smallest subnormal still spells its digits; every text parses back
    // within the rounding of 15 digits.
    wchar_t buffer[400];
    DoubleToPlainText(buffer, 400, 5e-324);
    EXPECT_EQ(std::wcslen(buffer), 340u);
    for (double v : {1.4e-6, 3.14159265358979, 6.02214076e23, 1e-300, 0.001}) {
        DoubleToPlainText(buffer, 400, v);
        EXPECT_NEAR(TextToDouble(buffer, 1), v, v * 1e-14) << Narrow(buffer);
    }
    wchar_t small[5];
    EXPECT_STREQ(DoubleToPlainText(small, 5, 12.25), L"12.2");  // "12.25" cut
    EXPECT_EQ(DoubleToPlainText(nullptr, 10, 1.0), nullptr);
}

TEST(TextConv, TrimTrailingZeros) {
    const struct {
        const wchar_t* in;
        const wchar_t* out;
    } cases[] = {{L"100", L"100"}, {L"2.500", L"2.5"}, {L"3.000", L"3"}, {L"0.0", L"0"}, {L"10.", L"10"}, {L"", L""}};
    for (const auto& c : cases) {
        std::wstring text = c.in;
        TrimTrailingZeros(text.data());
        EXPECT_STREQ(text.c_str(), c.out) << Narrow(c.in);
    }
}

TEST(TextConv, TextToDoubleAcceptsOnlyPlainDecimals) {
    const struct {
        const wchar_t* text;
        int32_t sign;
        double value;
    } cases[] = {
        {L"12.50", 0, 12.5}, {L"7.", 0, 7.0},      {L"0.5", 0, 0.5}, {L".5", 0, 0.0},  {L"", 0, 0.0},
        {L"-3", 1, -3.0},    {L"-3", 0, 0.0},      {L"1e5", 0, 0.0}, {L" 1", 0, 0.0},  {L"1,5", 0, 0.0},
        {L"1.2.3", 0, 0.0},  {L"-", 1, 0.0},       {L"-.5", 1, 0.0}, {L"--1", 1, 0.0}, {L"+1", 1, 0.0},
        {L"0", 0, 0.0},      {L"-0.25", 1, -0.25},
    };
    for (const auto& c : cases) EXPECT_EQ(TextToDouble(c.text, c.sign), c.value) << Narrow(c.text);
    EXPECT_EQ(TextToDouble(nullptr, 1), 0.0);
}

// Beyond 19 significant digits a 64-bit accumulator wraps; the result must
// still be the nearest double, as the C library's strtod gives it.
TEST(TextConv, TextToDoubleKeepsLongDigitStrings) {
    ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    const wchar_t* cases[] = {
        L"18446744073709551616",          L"35000000000000000000",
        L"12345678901234567890123.5",     L"0.12345678901234567890123456",
        L"99999999999999999999.99",       L"1844674407370955161.6",
        L"0.000000000000000000000000001", L"3.14159265358979323846264338327950288",
    };
    for (const wchar_t* text : cases) {
        const std::string narrow = Narrow(text);
        EXPECT_EQ(TextToDouble(text, 0), std::strtod(narrow.c_str(), nullptr)) << narrow;
        EXPECT_EQ(TextToDouble((L"-" + std::wstring(text)).c_str(), 1), -std::strtod(narrow.c_str(), nullptr));
    }
    // Too large for a double: refused like any invalid text.
    EXPECT_EQ(TextToDouble(std::wstring(400, L'9').c_str(), 0), 0.0);
}

TEST(TextConv, TextToIntRefusesOverflow) {
    const struct {
        const wchar_t* text;
        int32_t value;
    } cases[] = {
        {L"-", 0},
        {L"", 0},
        {L"-12", -12},
        {L"0", 0},
        {L"2147483647", 2147483647},
        {L"-2147483647", -2147483647},
        {L"2147483648", 0},
        {L"-2147483648", 0},
        {L"99999999999", 0},
        {L"4294967297", 0},
        {L"12a", 0},
        {L"+1", 0},
        {L" 1", 0},
        {L"000000000000000042", 42},
    };
    for (const auto& c : cases) EXPECT_EQ(TextToInt(c.text), c.value) << Narrow(c.text);
    EXPECT_EQ(TextToInt(nullptr), 0);
}

TEST(TextConv, TextToUnsignedRefusesOverflow) {
    const struct {
        const wchar_t* text;
        uint64_t value;
    } cases[] = {
        {L"18446744073709551615", std::numeric_limits<uint64_t>::max()},
        {L"18446744073709551616", 0},
        {L"35000000000000000000", 0},  // wraps to a larger value than the step before
        {L"184467440737095516150", 0},
        {L"0", 0},
        {L"42", 42},
        {L"-1", 0},
        {L"", 0},
        {L"1 ", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(TextToUnsigned(c.text), c.value) << Narrow(c.text);
    EXPECT_EQ(TextToUnsigned(nullptr), 0u);
}

TEST(TextConv, FindExtension) {
    const wchar_t* twoPoints = L"a.b.c";
    EXPECT_EQ(FindExtension(twoPoints), twoPoints + 3);
    EXPECT_EQ(FindExtension(L".abc"), nullptr);
    EXPECT_EQ(FindExtension(L"abc"), nullptr);
    EXPECT_EQ(FindExtension(L""), nullptr);
    EXPECT_EQ(FindExtension(static_cast<const wchar_t*>(nullptr)), nullptr);
    wchar_t name[] = L"movie.mp4";
    EXPECT_EQ(FindExtension(name), name + 5);
}

TEST(TextConv, Utf8RoundTripAndEncoding) {
    const wchar_t* text = L"日本 abc é \U0001F600";
    char* utf8 = WideToUtf8(text);
    ASSERT_NE(utf8, nullptr);
    EXPECT_STREQ(utf8, "\xE6\x97\xA5\xE6\x9C\xAC abc \xC3\xA9 \xF0\x9F\x98\x80");
    wchar_t* back = Utf8ToWide(utf8);
    ASSERT_NE(back, nullptr);
    EXPECT_STREQ(back, text);
    std::free(utf8);
    std::free(back);

    char* empty = WideToAnsi(L"");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty[0], '\0');
    std::free(empty);
    wchar_t* emptyWide = Utf8ToWide("");
    ASSERT_NE(emptyWide, nullptr);
    EXPECT_EQ(emptyWide[0], L'\0');
    std::free(emptyWide);

    EXPECT_EQ(WideToAnsi(nullptr), nullptr);
    EXPECT_EQ(WideToUtf8(nullptr), nullptr);
    EXPECT_EQ(AnsiToWide(nullptr), nullptr);
}

TEST(TextConv, InvalidCodePointsAndSequences) {
    const wchar_t surrogate[] = {L'a', static_cast<wchar_t>(0xD800), L'b', 0};
    EXPECT_EQ(WideToUtf8(surrogate), nullptr);
    char* ansi = WideToAnsi(surrogate);
    ASSERT_NE(ansi, nullptr);
    EXPECT_STREQ(ansi, "a?b");
    std::free(ansi);
    const wchar_t beyond[] = {static_cast<wchar_t>(0x110000), 0};
    EXPECT_EQ(WideToUtf8(beyond), nullptr);

    const char* bad[] = {
        "\x80",              // stray continuation byte
        "\xC0\xAF",          // overlong '/'
        "\xE0\x80\xAF",      // overlong, three bytes
        "\xE3\x81",          // truncated
        "\xED\xA0\x80",      // surrogate
        "\xF4\x90\x80\x80",  // beyond U+10FFFF
        "\xFF",
        "ok\xC3",
    };
    for (const char* s : bad) {
        EXPECT_EQ(Utf8ToWide(s), nullptr) << static_cast<int>(static_cast<unsigned char>(s[0]));
        EXPECT_EQ(AnsiToWide(s), nullptr);
    }
}

}  // namespace
