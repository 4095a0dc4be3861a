// Screens: window creation with an OpenGL context per window, painting,
// pixel-to-OpenGL conversion, the stencil clip, clipboard text, the
// input-method point and the handler that turns window messages into calls.
#include "toolkit/fg_screen.h"

#include <GL/gl.h>

#include <algorithm>
#include <cassert>
#include <climits>
#include <string>

#include "platform/plat_messages.h"
#include "platform/plat_window.h"
#include "toolkit/fg_keys.h"
#include "toolkit/fg_loop.h"

CriticalSection g_GlLock;
uint32_t g_RenderTargetKind = kFgTargetNone;
uint64_t g_RenderTargetWidth = 0;
uint64_t g_RenderTargetHeight = 0;

namespace {

void ScreenWindowProc(void* user, const PlatMessage& message) {
    auto* screen = static_cast<CFgScreen*>(user);
    const int32_t a = message.a, b = message.b;
    switch (message.kind) {
        case kPlatMsgMouseMove: screen->OnMouseMove(a, b); return;
        case kPlatMsgLButtonDown: screen->OnLButtonDown(a, b); return;
        case kPlatMsgLButtonUp: screen->OnLButtonUp(a, b); return;
        case kPlatMsgRButtonDown: screen->OnRButtonDown(a, b); return;
        case kPlatMsgRButtonUp: screen->OnRButtonUp(a, b); return;
        case kPlatMsgMButtonDown: screen->OnMButtonDown(a, b); return;
        case kPlatMsgMButtonUp: screen->OnMButtonUp(a, b); return;
        case kPlatMsgMouseWheel: screen->OnMouseWheel(a, b, message.c); return;
        case kPlatMsgKeyDown: FgKeyDown(screen, static_cast<uint32_t>(a)); return;
        case kPlatMsgKeyUp: FgKeyUp(screen, static_cast<uint32_t>(a)); return;
        case kPlatMsgChar: FgChar(screen, static_cast<uint32_t>(a)); return;
        case kPlatMsgImeStart: PlatSetImePoint(screen->window, screen->imeX, screen->imeY); return;
        case kPlatMsgShow:
            if (screen->reentry) return;
            screen->OnShow(static_cast<uint32_t>(a));
            screen->shown = static_cast<uint32_t>(a);
            // A hidden screen gets a fresh context when shown again, also
            // when its last context could not be created.
            if (!a) {
                screen->recreate = 1;
            } else if (screen->recreate) {
                ++screen->reentry;
                screen->Create(-1, -1, screen->width, screen->height, nullptr, screen->style, screen->parent);
                --screen->reentry;
            }
            return;
        case kPlatMsgDestroy:
            if (screen == g_MainScreen) PlatPostQuitMessage(0);
            return;
        case kPlatMsgMove:
            screen->x = a;
            screen->y = b;
            return;
        case kPlatMsgSize:
            if (message.c == kPlatSizeMinimized || a <= 0 || b <= 0) return;
            screen->Create(-1, -1, static_cast<uint64_t>(a), static_cast<uint64_t>(b), nullptr, screen->style,
                           screen->parent);
            screen->OnSize(static_cast<uint64_t>(a), static_cast<uint64_t>(b));
            return;
        case kPlatMsgClose:
            if (!screen->enabled) {
                screen->OnCloseWhileDisabled();
                return;
            }
            if (!screen->QueryClose()) return;
            screen->Destroy();
            return;
        case kPlatMsgRedraw: screen->Redraw(); return;
        case kPlatMsgNone:
        case kPlatMsgQuit: return;
    }
}

void CopyTitle(wchar_t (&to)[256], const wchar_t* from) {
    size_t n = 0;
    if (from)
        for (; n < 255 && from[n]; ++n) to[n] = from[n];
    to[n] = 0;
}

}  // namespace

void CFgInput::SetKeyState(uint16_t state) { g_KeyState = state; }

uint16_t CFgInput::GetKeyState() { return g_KeyState; }

CFgScreen::~CFgScreen() { Destroy(); }

int32_t CFgScreen::Create(int32_t x, int32_t y, uint64_t width, uint64_t height, const wchar_t* title,
                          uint32_t style, CFgScreen* parent) {
    bool systemPlaced = x == -1 && y == -1;
    if (!(systemPlaced || (x >= 0 && y >= 0)) || width == 0 || height == 0 || width > INT32_MAX ||
        height > INT32_MAX || style > kFgStylePopup)
        return 0;
    if (window && !title) {
        // The window stays; only its context is made anew.
        if (this->style == kFgStyleResizable) {
            this->width = width;
            this->height = height;
        }
        PlatDeleteGlContext(context);
        context = nullptr;
    } else {
        if (style != kFgStylePopup) {
            width = std::max<uint64_t>(width, static_cast<uint64_t>(PlatGetSystemMetric(kPlatMetricMinWindowWidth)));
            height =
                std::max<uint64_t>(height, static_cast<uint64_t>(PlatGetSystemMetric(kPlatMetricMinWindowHeight)));
        }
        if (parent && (x < 0 || y < 0)) {
            // Signed: a screen larger than its parent overhangs it evenly.
            x = parent->x + static_cast<int32_t>((static_cast<int64_t>(parent->width) - static_cast<int64_t>(width)) / 2);
            y = parent->y +
                static_cast<int32_t>((static_cast<int64_t>(parent->height) - static_cast<int64_t>(height)) / 2);
        }
        std::wstring keptTitle = title ? std::wstring(title) : std::wstring();
        Destroy();
        PlatSetWindowProc(ScreenWindowProc);
        uint32_t id = PlatCreateWindow(keptTitle.c_str(), x < 0 ? -1 : x, y, static_cast<int32_t>(width),
                                       static_cast<int32_t>(height), static_cast<PlatWindowStyle>(style));
        if (!id) return 0;
        if (x < 0) PlatGetWindowRect(id, &x, &y, nullptr, nullptr);
        PlatSetWindowUser(id, this);
        window = id;
        this->parent = parent;
        this->x = x;
        this->y = y;
        this->width = width;
        this->height = height;
        this->style = style;
        CopyTitle(this->title, keptTitle.c_str());
    }
    // A failed context is not an error here: painting does nothing until the
    // next show after a hide or the next resize creates one.
    context = PlatCreateGlContext(window);
    shown = 1;
    imeX = 0;
    imeY = 0;
    ++generation;
    PlatShowWindow(window, true);
    recreate = 0;
    Redraw();
    return 1;
}

void CFgScreen::Destroy() {
    if (context) {
        PlatDeleteGlContext(context);
        context = nullptr;
    }
    if (window) {
        uint32_t id = window;
        PlatDestroyWindow(id);
        window = 0;
    }
    width = 0;
    height = 0;
    style = 0;
    title[0] = 0;
}

int32_t CFgScreen::BeginPaint() {
    assert(PlatIsUiThread() && "only the user-interface thread paints");
    g_GlLock.Enter();
    if (!window || !context) {
        g_GlLock.Leave();
        return 0;
    }
    if (paintNesting > 0) {
        ++paintNesting;
        g_GlLock.Leave();  // the outermost paint still holds it
        return 1;
    }
    // A screen may paint while another one does: keep what that one drew into.
    PlatGetCurrent(&savedWindow_, &savedContext_);
    savedTargetKind_ = g_RenderTargetKind;
    savedTargetWidth_ = g_RenderTargetWidth;
    savedTargetHeight_ = g_RenderTargetHeight;
    if (!PlatMakeCurrent(window, context)) {
        g_GlLock.Leave();
        return 0;
    }
    paintNesting = 1;
    glClearStencil(0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    g_RenderTargetKind = kFgTargetScreen;
    g_RenderTargetWidth = width;
    g_RenderTargetHeight = height;
    return 1;
}

void CFgScreen::EndPaint(int32_t swap) {
    if (paintNesting == 0) return;
    if (paintNesting > 1) {
        --paintNesting;
        return;
    }
    if (swap && window && context) PlatSwapWindow(window);
    if (!savedContext_ || !PlatMakeCurrent(savedWindow_, savedContext_)) PlatMakeCurrent(0, nullptr);
    paintNesting = 0;
    g_RenderTargetKind = savedTargetKind_;
    g_RenderTargetWidth = savedTargetWidth_;
    g_RenderTargetHeight = savedTargetHeight_;
    savedWindow_ = 0;
    savedContext_ = nullptr;
    g_GlLock.Leave();
}

double CFgScreen::PixelToGlX(double px) const {
    double w = renderWidth ? static_cast<double>(renderWidth) : static_cast<double>(width);
    return (px - w / 2) / (w / 2) + 1 / w;
}

double CFgScreen::PixelToGlY(double py) const {
    double h = renderHeight ? static_cast<double>(renderHeight) : static_cast<double>(height);
    return (h - py - h / 2) / (h / 2) - 0.5 / h;
}

int32_t CFgScreen::SetClipRect(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    // Stencil 1 everywhere, 0 inside the rectangle; then pass only where 0.
    glClearStencil(1);
    glClear(GL_STENCIL_BUFFER_BIT);
    glEnable(GL_STENCIL_TEST);
    glStencilFunc(GL_ALWAYS, 0, ~0u);
    glStencilOp(GL_REPLACE, GL_REPLACE, GL_REPLACE);
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    glDepthMask(GL_FALSE);
    glBegin(GL_QUADS);
    glVertex2d(PixelToGlX(left), PixelToGlY(top));
    glVertex2d(PixelToGlX(right + 1.0), PixelToGlY(top));
    glVertex2d(PixelToGlX(right + 1.0), PixelToGlY(bottom + 1.0));
    glVertex2d(PixelToGlX(left), PixelToGlY(bottom + 1.0));
    glEnd();
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDepthMask(GL_TRUE);
    glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
    glStencilFunc(GL_EQUAL, 0, ~0u);
    return 1;
}

int32_t CFgScreen::SetImePoint(int32_t x, int32_t y) {
    if (x < 0 || y < 0) return 0;
    imeX = x;
    imeY = y;
    if (window) PlatSetImePoint(window, x, y);
    return 1;
}

uint64_t CFgScreen::GetClipboardText(wchar_t* buffer, uint64_t size) {
    std::wstring text;
    if (!PlatGetClipboardText(&text)) return 0;
    uint64_t returns = static_cast<uint64_t>(std::count(text.begin(), text.end(), L'\r'));
    uint64_t needed = text.size() + 1 - returns;
    if (buffer && size > 0) {
        uint64_t n = 0;
        for (wchar_t c : text) {
            if (n + 1 >= size) break;
            if (c != L'\r') buffer[n++] = c;
        }
        buffer[n] = 0;
    }
    return needed;
}

int32_t CFgScreen::SetClipboardText(const wchar_t* text) {
    return PlatSetClipboardText(text && *text ? text : nullptr) ? 1 : 0;
}

bool CFgScreen::DeferRedraw() {
    if (PlatIsUiThread()) return false;
    if (window) PlatPostRedraw(window);
    return true;
}
