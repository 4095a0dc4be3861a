#include "toolkit/fg_progress_box.h"

#include <GL/gl.h>

#include <algorithm>

namespace {
const wchar_t kAbort[] = L"中断";
}  // namespace

CFgUIProgressBox::CFgUIProgressBox() {
    abortButton.SetLabel(kAbort);
    abortButton.data = this;
    abortButton.callback = [](CFgUIButton*, void* data) { static_cast<CFgUIProgressBox*>(data)->cancel = 1; };
    AddChild(&bar);
    AddChild(&abortButton);
}

int32_t CFgUIProgressBox::Open(int32_t maximum, int32_t, const wchar_t* title, const wchar_t* text,
                               CFgScreen* parentScreen) {
    const int32_t fh = static_cast<int32_t>(font.height);
    const int32_t abortWidth = font.TextWidth(kAbort);
    const int32_t m = std::max(text ? font.TextWidth(text) : 0, 16 * fh);
    cancel = 0;
    bar.maximum = maximum;
    bar.position = 0;
    message = text;
    bar.SetRect(8, fh + 16, m + 4, fh + 4);
    abortButton.SetRect((m + 20 - (fh + 16 + abortWidth)) / 2, 2 * fh + 28, abortWidth + fh + 16, fh + 16);
    abortButton.SetVisible(1, 0);
    messageX = 10;
    messageY = 8;
    blockWidth = m;
    CFgScreen::enabled = 0;  // the close box does nothing
    return Create(-1, -1, static_cast<uint64_t>(m + 20), static_cast<uint64_t>(3 * fh + 52), title, kFgStyleFixed,
                  parentScreen);
}

void CFgUIProgressBox::DrawOverlay() {
    if (!message) return;
    glColor3dv(colors[kFgColorText]);
    font.DrawText((messageX + blockWidth - font.TextWidth(message)) / 2, messageY, message);
}
