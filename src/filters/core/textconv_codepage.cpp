// Conversions between wide text (UTF-32) and UTF-8, which is also the
// system's ANSI code page.
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "filters/core/textconv.h"

namespace {

bool IsScalar(uint32_t c) { return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }

// Appends the UTF-8 form of c; false when c is no Unicode scalar value.
bool AppendUtf8(std::string& out, uint32_t c) {
    if (!IsScalar(c)) return false;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return true;
}

// Encodes text; unencodable code points become '?' when replace is set,
// otherwise the conversion fails. Null on failure or short memory.
char* EncodeUtf8(const wchar_t* text, bool replace) {
    if (!text) return nullptr;
    std::string out;
    try {
        for (const wchar_t* p = text; *p; ++p) {
            if (!AppendUtf8(out, static_cast<uint32_t>(*p))) {
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

// Strict decoder: rejects stray continuation bytes, truncated sequences,
// overlong forms, surrogates and values beyond U+10FFFF.
wchar_t* DecodeUtf8(const char* text) {
    if (!text) return nullptr;
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    size_t n = std::strlen(text);
    wchar_t* result = static_cast<wchar_t*>(std::malloc((n + 1) * sizeof(wchar_t)));
    if (!result) return nullptr;
    size_t count = 0;
    for (size_t i = 0; i < n;) {
        uint32_t c = s[i];
        size_t extra;
        uint32_t minimum;
        if (c < 0x80) {
            extra = 0;
            minimum = 0;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            minimum = 0x80;
            c &= 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            minimum = 0x800;
            c &= 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            minimum = 0x10000;
            c &= 0x07;
        } else {
            std::free(result);
            return nullptr;
        }
        if (n - i - 1 < extra) {
            std::free(result);
            return nullptr;
        }
        for (size_t k = 1; k <= extra; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) {
                std::free(result);
                return nullptr;
            }
            c = (c << 6) | (s[i + k] & 0x3F);
        }
        if (c < minimum || !IsScalar(c)) {
            std::free(result);
            return nullptr;
        }
        result[count++] = static_cast<wchar_t>(c);
        i += extra + 1;
    }
    result[count] = L'\0';
    return result;
}

}  // namespace

char* WideToAnsi(const wchar_t* text) { return EncodeUtf8(text, true); }

wchar_t* AnsiToWide(const char* text) { return DecodeUtf8(text); }

char* WideToUtf8(const wchar_t* text) { return EncodeUtf8(text, false); }

wchar_t* Utf8ToWide(const char* text) { return DecodeUtf8(text); }
