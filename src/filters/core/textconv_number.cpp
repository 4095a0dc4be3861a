// Number text: formatting without trailing zeros and strict decimal
// parsers. Always '.' as the decimal point, whatever the locale.
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <limits>
#include <string>

#include "filters/core/textconv.h"

void TrimTrailingZeros(wchar_t* text) {
    if (!text || !std::wcschr(text, L'.')) return;
    size_t n = std::wcslen(text);
    while (n > 0 && text[n - 1] == L'0') text[--n] = L'\0';
    if (n > 0 && text[n - 1] == L'.') text[n - 1] = L'\0';
}

wchar_t* DoubleToText(wchar_t* buffer, size_t size, double value) {
    if (!buffer) return nullptr;
    if (size == 0) return buffer;
    buffer[0] = L'0';
    if (size > 1) buffer[1] = L'\0';
    // "%lf" of the largest double has 309 digits before the point.
    char text[400];
    auto [end, ec] = std::to_chars(text, text + sizeof(text), value, std::chars_format::fixed, 6);
    if (ec != std::errc()) {
        buffer[size - 1] = L'\0';
        return buffer;
    }
    size_t length = static_cast<size_t>(end - text);
    if (length > size - 1) length = size - 1;
    for (size_t i = 0; i < length; ++i) buffer[i] = static_cast<wchar_t>(text[i]);
    buffer[length] = L'\0';
    buffer[size - 1] = L'\0';
    TrimTrailingZeros(buffer);
    return buffer;
}

wchar_t* DoubleToPlainText(wchar_t* buffer, size_t size, double value) {
    if (!buffer) return nullptr;
    if (size == 0) return buffer;
    std::string out = "0";
    if (std::isfinite(value) && value != 0.0) {
        // Round to 15 significant digits once, then spell the digits out
        // around the decimal point.
        char sci[64];
        auto [end, ec] = std::to_chars(sci, sci + sizeof(sci), value, std::chars_format::scientific, 14);
        if (ec == std::errc()) {
            const std::string text(sci, end);
            const size_t e = text.find('e');
            const bool negative = text[0] == '-';
            std::string digits;
            for (size_t i = negative ? 1 : 0; i < e; ++i)
                if (text[i] != '.') digits += text[i];
            const int exponent = std::atoi(text.c_str() + e + 1);
            // The point sits after digit number exponent + 1.
            std::string body;
            if (exponent < 0) {
                body = "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
            } else if (static_cast<size_t>(exponent) + 1 >= digits.size()) {
                body = digits + std::string(static_cast<size_t>(exponent) + 1 - digits.size(), '0');
            } else {
                body = digits.substr(0, static_cast<size_t>(exponent) + 1) + "." +
                       digits.substr(static_cast<size_t>(exponent) + 1);
            }
            out = (negative ? "-" : "") + body;
        }
    }
    size_t length = out.size() < size - 1 ? out.size() : size - 1;
    for (size_t i = 0; i < length; ++i) buffer[i] = static_cast<wchar_t>(out[i]);
    buffer[length] = L'\0';
    TrimTrailingZeros(buffer);
    return buffer;
}

double TextToDouble(const wchar_t* text, int32_t signAllowed) {
    if (!text) return 0.0;
    double sign = 1.0;
    if (signAllowed && *text == L'-') {
        sign = -1.0;
        ++text;
    }
    if (*text == L'\0' || *text == L'.') return 0.0;
    // Validate first, then let from_chars convert the digits exactly; it
    // is correctly rounded for any number of digits.
    std::string digits;
    bool point = false;
    for (const wchar_t* p = text; *p; ++p) {
        if (*p >= L'0' && *p <= L'9') {
            digits += static_cast<char>(*p);
        } else if (*p == L'.' && !point) {
            point = true;
            digits += '.';
        } else {
            return 0.0;
        }
    }
    double value = 0.0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, std::chars_format::fixed);
    if (ec != std::errc() || end != digits.data() + digits.size()) return 0.0;
    return value * sign;
}

int32_t TextToInt(const wchar_t* text) {
    if (!text) return 0;
    int32_t sign = 1;
    if (*text == L'-') {
        sign = -1;
        ++text;
    }
    if (*text == L'\0') return 0;
    int32_t value = 0;
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    for (const wchar_t* p = text; *p; ++p) {
        if (*p < L'0' || *p > L'9') return 0;
        int32_t digit = static_cast<int32_t>(*p - L'0');
        if (value > (kMax - digit) / 10) return 0;
        value = value * 10 + digit;
    }
    return value * sign;
}

uint64_t TextToUnsigned(const wchar_t* text) {
    if (!text || *text == L'\0') return 0;
    uint64_t value = 0;
    constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
    for (const wchar_t* p = text; *p; ++p) {
        if (*p < L'0' || *p > L'9') return 0;
        uint64_t digit = static_cast<uint64_t>(*p - L'0');
        if (value > (kMax - digit) / 10) return 0;
        value = value * 10 + digit;
    }
    return value;
}
