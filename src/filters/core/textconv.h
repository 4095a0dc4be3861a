// Text and number conversions shared by the settings files, the filters and
// the plug-in hosts. Every allocating conversion returns a new block made
// with malloc that the caller releases with free. The "ANSI" code page of
// the system is UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>

// Wide text to the ANSI code page; a code point with no encoding becomes
// '?'. Null for null input or short memory; "" (allocated) for "".
char* WideToAnsi(const wchar_t* text);
// ANSI text to wide text; null for null input, invalid text or short memory.
wchar_t* AnsiToWide(const char* text);
// Wide text to UTF-8; null for null input, a code point that UTF-8 cannot
// hold (surrogates, beyond U+10FFFF) or short memory; "" for "".
char* WideToUtf8(const wchar_t* text);
// Strict UTF-8 to wide text (overlong forms, surrogates and truncated
// sequences fail); null on failure; an empty wide text for "".
wchar_t* Utf8ToWide(const char* text);

// Removes the trailing zeros after a decimal point, and the point itself
// when nothing follows it: "2.500" -> "2.5", "3.000" -> "3", "100" stays.
void TrimTrailingZeros(wchar_t* text);
// Formats value as "%lf" (always with '.'), cut to size - 1 characters,
// then without trailing zeros. Returns buffer; null for a null buffer.
wchar_t* DoubleToText(wchar_t* buffer, size_t size, double value);
// Plain decimal with at most 15 significant digits, never an exponent,
// without trailing zeros: 1.4e-6 -> "0.0000014", 1e20 ->
// "100000000000000000000". Not finite numbers give "0". Cut to size - 1
// characters (a 400-character buffer holds every double). Returns buffer;
// null for a null buffer.
wchar_t* DoubleToPlainText(wchar_t* buffer, size_t size, double value);
// Strict decimal: [-]digits[.digits] ("-" only when signAllowed). Any other
// form (exponent, blank, comma, leading point, empty) gives 0.0.
double TextToDouble(const wchar_t* text, int32_t signAllowed);
// [-]digits; anything else or a value beyond 2147483647 gives 0.
int32_t TextToInt(const wchar_t* text);
// digits only; anything else or a value beyond 2^64 - 1 gives 0.
uint64_t TextToUnsigned(const wchar_t* text);

// The last '.' of a file name when it is not the first character, else null.
const wchar_t* FindExtension(const wchar_t* name);
wchar_t* FindExtension(wchar_t* name);
