// Conversions between wide text (UTF-32) and UTF-8, which is also the
// system's ANSI code page.
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "filters/core/textconv.h"
#include "platform/utf8.h"

namespace {

// Encodes text; code points that UTF-8 cannot hold become '?' when replace
// is set, otherwise the conversion fails. Null on failure or short memory.
char* EncodeUtf8(const wchar_t* text, bool replace) {
    if (!text) return nullptr;
    std::string out;
    try {
        for (const wchar_t* p = text; *p; ++p) {
            if (!PlatAppendUtf8(&out, static_cast<char32_t>(*p))) {
                if (!replace) return nullptr;
                out += '?';
            }
        }
    } catch (...) {
        return nullptr;
    }
    char* result = static_cast<char*>(std::malloc(out.size() + 1));
    if (!result) return nullptr;
    std::memcpy(result, out.c_str(), out.size() + 1);
    return result;
}

// Strict decoder: any stray continuation byte, truncated or overlong
// sequence, surrogate or value beyond U+10FFFF fails the whole text.
wchar_t* DecodeUtf8(const char* text) {
    if (!text) return nullptr;
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    wchar_t* result = static_cast<wchar_t*>(std::malloc((std::strlen(text) + 1) * sizeof(wchar_t)));
    if (!result) return nullptr;
    size_t count = 0;
    while (*s) {
        char32_t c;
        bool valid;
        s += PlatDecodeUtf8(s, &c, &valid);
        if (!valid) {
            std::free(result);
            return nullptr;
        }
        result[count++] = static_cast<wchar_t>(c);
    }
    result[count] = L'\0';
    return result;
}

}  // namespace

char* WideToAnsi(const wchar_t* text) { return EncodeUtf8(text, true); }

wchar_t* AnsiToWide(const char* text) { return DecodeUtf8(text); }

char* WideToUtf8(const wchar_t* text) { return EncodeUtf8(text, false); }

wchar_t* Utf8ToWide(const char* text) { return DecodeUtf8(text); }
