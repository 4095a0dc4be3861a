#include "app/dialog_support.h"

#include <locale.h>

#include <algorithm>
#include <cerrno>
#include <cwchar>
#include <cwctype>

#include "toolkit/fg_edit.h"
#include "toolkit/fg_screen.h"

namespace {

locale_t CLocale() {
    static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return c;
}

}  // namespace

double EditTextToDouble(const wchar_t* text) {
    if (!text) return 0.0;
    const locale_t c = CLocale();
    return c ? wcstod_l(text, nullptr, c) : std::wcstod(text, nullptr);
}

uint32_t EditTextToU32(const wchar_t* text) {
    if (!text) return 0;
    const wchar_t* p = text;
    while (std::iswspace(static_cast<wint_t>(*p))) ++p;
    bool negative = false;
    if (*p == L'+' || *p == L'-') {
        negative = *p == L'-';
        ++p;
    }
    if (*p < L'0' || *p > L'9') return 0;
    // The magnitude saturates beyond 32 bits, as a 32-bit strtoul does, and
    // a minus then negates it modulo 2^32 unless it overflowed.
    uint64_t value = 0;
    bool overflow = false;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
        value = value * 10 + static_cast<uint64_t>(*p - L'0');
        if (value > UINT32_MAX) {
            overflow = true;
            value = UINT32_MAX;
        }
    }
    if (overflow) return UINT32_MAX;
    const uint32_t v = static_cast<uint32_t>(value);
    return negative ? static_cast<uint32_t>(0u - v) : v;
}

void RememberDialogPlace(const CFgScreen* screen, uint32_t* placed, int32_t* x, int32_t* y, DialogPlace* run) {
    if (!screen || !screen->window) return;
    *placed = 1;
    *x = std::max(screen->x, 0);
    *y = std::max(screen->y, 0);
    if (run) {
        run->placed = 1;
        run->x = *x;
        run->y = *y;
    }
}

void DialogOpenPlace(uint32_t placed, int32_t x, int32_t y, const DialogPlace& run, int32_t* outX, int32_t* outY) {
    if (placed) {
        *outX = x;
        *outY = y;
    } else if (run.placed) {
        *outX = run.x;
        *outY = run.y;
    } else {
        *outX = -1;
        *outY = -1;
    }
}

void SetEditText(CFgUIEdit* edit, const wchar_t* text) {
    if (!edit) return;
    edit->SetLineText(0, text ? text : L"");
}
