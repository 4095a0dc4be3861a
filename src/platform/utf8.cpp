#include "platform/utf8.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsScalar(char32_t c) { return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }

}  // namespace

bool PlatAppendUtf8(std::string* out, char32_t c) {
    if (!IsScalar(c)) return false;
    if (c < 0x80) {
        *out += static_cast<char>(c);
    } else if (c < 0x800) {
        *out += static_cast<char>(0xC0 | (c >> 6));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *out += static_cast<char>(0xE0 | (c >> 12));
        *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *out += static_cast<char>(0xF0 | (c >> 18));
        *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return true;
}

size_t PlatDecodeUtf8(const unsigned char* p, char32_t* c, bool* valid) {
    const unsigned char lead = p[0];
    int extra;
    char32_t v;
    if (lead < 0x80) {
        extra = 0, v = lead;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1, v = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, v = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, v = lead & 0x07;
    } else {
        *c = kReplacement;
        *valid = false;
        return 1;
    }
    int taken = 0;
    // A NUL is no continuation byte, so this never reads past the text.
    while (taken < extra && (p[1 + taken] & 0xC0) == 0x80) v = (v << 6) | (p[1 + taken++] & 0x3F);
    static constexpr char32_t kMinimum[4] = {0, 0x80, 0x800, 0x10000};
    *valid = taken == extra && v >= kMinimum[extra] && IsScalar(v);
    *c = *valid ? v : kReplacement;
    return static_cast<size_t>(1 + taken);
}

std::string PlatWideToUtf8(const wchar_t* text) {
    std::string out;
    if (!text) return out;
    for (; *text; ++text)
        if (!PlatAppendUtf8(&out, static_cast<char32_t>(*text))) PlatAppendUtf8(&out, kReplacement);
    return out;
}

std::wstring PlatUtf8ToWide(const char* text) {
    std::wstring out;
    if (!text) return out;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        char32_t c;
        bool valid;
        p += PlatDecodeUtf8(p, &c, &valid);
        out += static_cast<wchar_t>(c);
    }
    return out;
}
