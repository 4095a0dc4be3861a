// Wide text (UTF-32) and UTF-8, which is also the system's "ANSI" code page.
#pragma once

#include <cstddef>
#include <string>

// Appends the UTF-8 form of c; false, appending nothing, when c is not a
// Unicode scalar value (a surrogate or beyond U+10FFFF).
bool PlatAppendUtf8(std::string* out, char32_t c);

// Decodes the sequence at p (at least one byte, NUL-terminated text).
// Returns the bytes it covers: a truncated sequence covers its lead and the
// continuation bytes present. *valid is false for a stray or invalid lead
// byte, a truncated or overlong sequence and a non-scalar value.
size_t PlatDecodeUtf8(const unsigned char* p, char32_t* c, bool* valid);

// Lenient conversions for display and system calls: what cannot be encoded
// or decoded becomes U+FFFD.
std::string PlatWideToUtf8(const wchar_t* text);
std::wstring PlatUtf8ToWide(const char* text);
