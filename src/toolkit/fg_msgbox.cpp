#include "toolkit/fg_msgbox.h"

#include <GL/gl.h>

#include <algorithm>

#include "toolkit/fg_loop.h"

namespace {

// The left button of a two-button box answers 1, every other button 0.
void OnChoice(CFgUIButton* button, void* data) {
    auto* box = static_cast<CMsgboxScreen*>(data);
    box->result = box->ButtonCount() == 2 && button == &box->buttons[0] ? 1 : 0;
    box->done = 1;
}

}  // namespace

int32_t CMsgboxScreen::Open(const wchar_t* text, const wchar_t* title, int32_t boxType, CFgScreen* parentScreen) {
    type = boxType;
    fontHeight = static_cast<int32_t>(font.height);
    font.LayoutLines(text, &layout);
    int32_t w = std::max(layout.width, type == 1 ? 80 : 176);
    const int32_t t = layout.height;
    const int32_t clientWidth = w + 32;
    for (FgTextLine& line : layout.lines) {
        line.x = (clientWidth - line.width) / 2;
        line.y += 8;
    }
    if (!Create(-1, -1, static_cast<uint64_t>(clientWidth), static_cast<uint64_t>(t + 38 + fontHeight), title,
                kFgStyleFixed, parentScreen))
        return 0;
    // The window may have come out wider than asked (system minimum).
    if (static_cast<int64_t>(width) > clientWidth) {
        const int32_t extra = static_cast<int32_t>(width) - clientWidth;
        w = static_cast<int32_t>(width) - 32;
        for (FgTextLine& line : layout.lines) line.x += extra / 2;
    }
    CFgScreen::enabled = 0;  // only a button closes the box
    static const wchar_t* const kLabels[3][2] = {{L"OK", L"Cancel"}, {L"OK", nullptr}, {L"はい", L"いいえ"}};
    const int32_t row = type == 0 ? 0 : type == 2 ? 2 : 1;
    const int32_t count = ButtonCount();
    for (int32_t i = 0; i < count; ++i) {
        CFgUIButton& b = buttons[i];
        b.SetLabel(kLabels[row][i]);
        if (count == 1)
            b.SetRect((w - 48) / 2, t + 16, 80, fontHeight + 10);
        else
            b.SetRect((w - 144) / 2 + 96 * i, t + 20, 80, fontHeight + 10);
        b.callback = OnChoice;
        b.data = this;
        AddChild(&b);
    }
    if (count == 1) SetFocus(&buttons[0]);
    Redraw();
    return 1;
}

int32_t CMsgboxScreen::RunModal() {
    FgRunModalLoop(&done, this);
    Destroy();
    return done ? result : -1;
}

void CMsgboxScreen::DrawOverlay() {
    glColor3dv(colors[kFgColorText]);
    for (const FgTextLine& line : layout.lines) font.DrawText(line.x, line.y, line.text.c_str());
}

int32_t FgMessageBox(const wchar_t* text, const wchar_t* title, int32_t type, CFgScreen* parent) {
    // A quitting program shows no box: nobody would be left to answer it.
    if (g_QuitRequested.load()) return -1;
    CMsgboxScreen box;
    if (!box.Open(text, title, type, parent)) return 0;
    return box.RunModal();
}
