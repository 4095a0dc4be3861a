// UTF-8 <-> wide text for the SDL calls of the platform layer.
#include "platform/plat_sdl.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsScalar(char32_t c) { return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }

}  // namespace

std::string PlatWideToUtf8(const wchar_t* text) {
    std::string out;
    if (!text) return out;
    for (; *text; ++text) {
        char32_t c = static_cast<char32_t>(*text);
        if (!IsScalar(c)) c = kReplacement;
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
    }
    return out;
}

std::wstring PlatUtf8ToWide(const char* text) {
    std::wstring out;
    if (!text) return out;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        unsigned char lead = *p++;
        int extra;
        char32_t c;
        if (lead < 0x80) {
            extra = 0, c = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1, c = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2, c = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3, c = lead & 0x07;
        } else {
            out += static_cast<wchar_t>(kReplacement);
            continue;
        }
        int taken = 0;
        while (taken < extra && (*p & 0xC0) == 0x80) c = (c << 6) | (*p++ & 0x3F), ++taken;
        // Truncated sequences, overlong forms and non-scalars are replaced.
        static constexpr char32_t kMinimum[4] = {0, 0x80, 0x800, 0x10000};
        if (taken < extra || c < kMinimum[extra] || !IsScalar(c)) c = kReplacement;
        out += static_cast<wchar_t>(c);
    }
    return out;
}
