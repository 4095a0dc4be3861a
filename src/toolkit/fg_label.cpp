#include "toolkit/fg_label.h"

#include <GL/gl.h>

#include "toolkit/fg_dialog.h"

void CFgUILabel::SetText(const wchar_t* value) {
    text = value ? value : L"";
    if (text.size() > 255) text.resize(255);
}

void CFgUILabel::Draw(CFgScreen* screen, CFgFont* font) {
    if (!font) return;
    const int32_t right = Right();
    const int32_t bottom = Bottom();
    const int32_t fh = static_cast<int32_t>(font->height);
    glColor3dv(Color(enabled ? kFgColorLabel : kFgColorDisabledText));
    screen->SetClipRect(x, y, right, bottom);
    font->DrawText((x + 1 + right - font->TextWidth(text.c_str())) / 2, (y + 1 + bottom - fh) / 2, text.c_str());
    glDisable(GL_STENCIL_TEST);
}
