#include "filters/processing/edit_commit.h"

#include "filters/core/textconv.h"

bool ParseEditNumber(const wchar_t* text, const EditNumberRule& rule, double* value) {
    if (!text || !text[0] || text[0] == L'.') return false;
    bool point = false;
    uint64_t whole = 0;
    for (const wchar_t* p = text; *p; ++p) {
        if (*p == L'.' && rule.decimalPoint && !point) {
            point = true;
        } else if (*p >= L'0' && *p <= L'9') {
            // The integer part must fit 64 bits: a longer text is no number.
            if (!point) {
                const uint64_t digit = static_cast<uint64_t>(*p - L'0');
                if (whole > (UINT64_MAX - digit) / 10) return false;
                whole = whole * 10 + digit;
            }
        } else {
            return false;
        }
    }
    const double v = point ? TextToDouble(text, 0) : static_cast<double>(whole);
    if (whole > rule.maximum || (point && v > static_cast<double>(rule.maximum))) return false;
    if (rule.positive && v == 0.0) return false;
    if (value) *value = point ? v : static_cast<double>(whole);
    return true;
}
