#include "filters/processing/fedit.h"

#include <GL/gl.h>

#include <cstdio>

#include "toolkit/fg_dialog.h"
#include "toolkit/fg_draw.h"
#include "toolkit/fg_font.h"
#include "toolkit/fg_keys.h"

namespace {

const double kGrey03[3] = {0.3, 0.3, 0.3};
const double kGrey07[3] = {0.7, 0.7, 0.7};
const double kGrey09[3] = {0.9, 0.9, 0.9};
const double kWhiteCell[3] = {1.0, 1.0, 1.0};
const double kBlackCell[3] = {0.0, 0.0, 0.0};
const double kRed[3] = {1.0, 0.0, 0.0};

// A one-pixel outline on the rectangle's border pixels.
void Outline(CFgScreen* screen, int32_t x0, int32_t y0, int32_t x1, int32_t y1, const double* color) {
    const FgColorRect edges[4] = {
        {x0, y0, x1, y0, color}, {x0, y1, x1, y1, color}, {x0, y0, x0, y1, color}, {x1, y0, x1, y1, color}};
    FgFillRects(screen, edges, 4);
}

// Width of the text for centring: half the font height for the half-width
// characters, the full height for the others.
int32_t CentringWidth(const wchar_t* text, int32_t fontHeight) {
    int32_t w = 0;
    for (const wchar_t* p = text; *p; ++p) {
        const auto c = static_cast<uint32_t>(*p);
        const bool half = c < 128 || c == 165 || c == 8254 || (c >= 0xFF61 && c <= 0xFF9F);
        w += half ? fontHeight / 2 : fontHeight;
    }
    return w;
}

// One wrapping step inside [lo, hi].
int32_t Wrap(int32_t v, int32_t step, int32_t lo, int32_t hi) {
    v += step;
    if (v < lo) return hi;
    if (v > hi) return lo;
    return v;
}

}  // namespace

bool CFEdit::InWindow(int32_t column, int32_t row) const {
    const int32_t lo = 4 - size / 2, hi = 4 + size / 2;
    return column >= lo && column <= hi && row >= lo && row <= hi;
}

int32_t CFEdit::StepCell(int32_t x, int32_t y, int32_t step) {
    if (x < 0 || y < 0 || cellWidth <= 0 || cellHeight <= 0) return 0;
    const int32_t column = x / cellWidth, row = y / cellHeight;
    if (column > 8 || row > 8 || !InWindow(column, row)) return 0;
    int32_t& v = values[row][column];
    // A step past the end of the 32-bit range is refused; the value stays.
    if ((step > 0 && v == INT32_MAX) || (step < 0 && v == INT32_MIN)) return 0;
    v += step;
    selColumn = column;
    selRow = row;
    fresh = 1;
    if (step < 0) sign = 1;
    return 1;
}

int32_t CFEdit::IncrementCell(int32_t x, int32_t y) { return StepCell(x, y, 1); }
int32_t CFEdit::DecrementCell(int32_t x, int32_t y) { return StepCell(x, y, -1); }

int32_t CFEdit::GetKernel(int32_t* out) const {
    if (!out) return 0;
    const int32_t lo = 4 - size / 2, hi = 4 + size / 2;
    for (int32_t r = lo; r <= hi; ++r)
        for (int32_t c = lo; c <= hi; ++c) *out++ = values[r][c];
    return 1;
}

void CFEdit::Changed() {
    if (client) client->OnEditChanged();
    RedrawParent();
}

void CFEdit::OnLButtonDown(int32_t x, int32_t y) {
    if (IncrementCell(x, y)) Changed();
}

void CFEdit::OnRButtonDown(int32_t x, int32_t y) {
    if (DecrementCell(x, y)) Changed();
}

void CFEdit::OnKeyStateChanged() {
    if (!InWindow(selColumn, selRow)) return;
    const uint16_t state = GetKeyState();
    const int32_t lo = 4 - size / 2, hi = 4 + size / 2;
    const bool up = state & kFgKeyStateUp, down = state & kFgKeyStateDown;
    const bool left = state & kFgKeyStateLeft, right = state & kFgKeyStateRight;
    bool moved = false;
    if (up != down) {
        selRow = Wrap(selRow, up ? -1 : 1, lo, hi);
        moved = true;
    }
    if (left != right) {
        selColumn = Wrap(selColumn, left ? -1 : 1, lo, hi);
        moved = true;
    }
    if (!moved) return;
    fresh = 1;
    RedrawParent();
}

void CFEdit::OnChar(uint16_t c) {
    if (!InWindow(selColumn, selRow)) return;
    int32_t& v = values[selRow][selColumn];
    if (c == L'C' || c == L'c') {
        v = 0;
        fresh = 1;
        Changed();
        return;
    }
    const bool digit = c >= L'0' && c <= L'9', minus = c == L'-', back = c == 8;
    if (!digit && !minus && !back) return;
    bool startedNegative = false;
    if (fresh) {
        v = 0;
        sign = minus ? -1 : 1;
        startedNegative = minus;
        if (!back) fresh = 0;
    }
    if (!startedNegative) {
        if (back) {
            v /= 10;
            if (v == 0) fresh = 1;
        } else if (digit) {
            // |v| x 10 + d in 64 bits: a digit that leaves the 32-bit range
            // is refused and the value stays.
            const int64_t magnitude = v < 0 ? -static_cast<int64_t>(v) : v;
            const int64_t typed = (magnitude * 10 + (c - L'0')) * sign;
            if (typed > INT32_MAX || typed < INT32_MIN) return;
            v = static_cast<int32_t>(typed);
        }
    }
    Changed();
}

void CFEdit::Draw(CFgScreen* screen, CFgFont* font) {
    const double* outline = enabled ? kBlackCell : kGrey03;
    auto cellRect = [&](int32_t column, int32_t row, int32_t r[4]) {
        r[0] = x + column * cellWidth;
        r[1] = y + row * cellHeight;
        r[2] = r[0] + cellWidth - 1;
        r[3] = r[1] + cellHeight - 1;
    };
    int32_t r[4];
    for (int32_t row = 0; row < 9; ++row)
        for (int32_t column = 0; column < 9; ++column) {
            cellRect(column, row, r);
            FgDrawFrame(screen, r[0], r[1], r[2], r[3], kGrey07, outline);
        }
    const int32_t lo = 4 - size / 2, hi = 4 + size / 2;
    const int32_t fh = font ? static_cast<int32_t>(font->height) : 0;
    for (int32_t row = lo; row <= hi; ++row)
        for (int32_t column = lo; column <= hi; ++column) {
            const int32_t v = values[row][column];
            const double* fill = !enabled ? kGrey07 : v == 0 ? kGrey09 : v > 0 ? kWhiteCell : kBlackCell;
            const double* ink = !enabled ? kGrey09 : v < 0 ? kWhiteCell : kBlackCell;
            cellRect(column, row, r);
            FgDrawFrame(screen, r[0], r[1], r[2], r[3], fill, outline);
            if (!font) continue;
            wchar_t text[16];
            std::swprintf(text, 16, L"%ld", static_cast<long>(v));
            screen->SetClipRect(r[0] + 1, r[1] + 1, r[2] - 1, r[3] - 1);
            glColor3dv(ink);
            font->DrawText(r[0] + (cellWidth - CentringWidth(text, fh)) / 2, r[1] + (cellHeight - fh) / 2, text);
            glDisable(GL_STENCIL_TEST);
        }
    if (focused && enabled && InWindow(selColumn, selRow)) {
        cellRect(selColumn, selRow, r);
        Outline(screen, r[0], r[1], r[2], r[3], kRed);
    }
}
