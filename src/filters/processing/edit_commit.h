// Validation of a numeric edit box's text when the box loses the focus.
#pragma once

#include <cstdint>

// What a numeric edit accepts: decimal digits only; with `decimalPoint` also
// one '.' that is not the first character; with `positive` not the value 0.
struct EditNumberRule {
    bool decimalPoint = false;
    bool positive = false;
    uint64_t maximum = UINT64_MAX;  // a larger value (or one beyond 64 bits) is invalid
};

// True and the value for a valid text; false for an empty text, any other
// character, a second point, a leading point, 0 for a positive count, or a
// value above the rule's maximum.
bool ParseEditNumber(const wchar_t* text, const EditNumberRule& rule, double* value);
