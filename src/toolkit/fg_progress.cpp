#include "toolkit/fg_progress.h"

#include <algorithm>

#include <GL/gl.h>

#include "toolkit/fg_dialog.h"
#include "toolkit/fg_draw.h"

int32_t CFgUIProgressBar::FillEnd() const {
    if (maximum == 0) return Right() - 1;
    return static_cast<int32_t>(x + 1 + static_cast<int64_t>(position) * (width - 2) / maximum);
}

void CFgUIProgressBar::Draw(CFgScreen* screen, CFgFont* font) {
    const int32_t right = Right();
    const int32_t bottom = Bottom();
    const int32_t fill = FillEnd();
    const double* full = Color(kFgColorText);
    const double* empty = Color(kFgColorLight);
    FgFillRect(screen, x, y, right, bottom, full);
    if (fill + 1 < right) FgDrawQuad(screen, fill + 1, y + 1, right, bottom, empty);
    if (text && font) {
        const double mixed[3] = {(full[0] + empty[0]) / 2, (full[1] + empty[1]) / 2, (full[2] + empty[2]) / 2};
        const int32_t fh = static_cast<int32_t>(font->height);
        glColor3dv(mixed);
        // Centred in the bar, never closer than 2 pixels to its left or top edge.
        font->DrawText(std::max(x + (width - font->TextWidth(text)) / 2, x + 2), std::max(y + (height - fh) / 2, y + 2),
                       text);
    }
}
