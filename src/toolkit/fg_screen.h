// Screens of the toolkit: top-level windows with their own OpenGL context,
// drawn with OpenGL 1.x immediate mode, and the input interface their
// messages are turned into.
#pragma once

#include <cstdint>

#include "platform/kernel.h"

// Input operations; the defaults do nothing except the key-state pair, which
// stores and returns the process-wide key-state word.
class CFgInput {
public:
    virtual ~CFgInput() = default;
    virtual void SetKeyState(uint16_t state);
    virtual uint16_t GetKeyState();
    virtual void OnMouseMove(int32_t x, int32_t y) { (void)x, (void)y; }
    virtual void OnLButtonDown(int32_t x, int32_t y) { (void)x, (void)y; }
    virtual void OnLButtonUp(int32_t x, int32_t y) { (void)x, (void)y; }
    virtual void OnRButtonDown(int32_t x, int32_t y) { (void)x, (void)y; }
    virtual void OnRButtonUp(int32_t x, int32_t y) { (void)x, (void)y; }
    virtual void OnMButtonDown(int32_t x, int32_t y) { (void)x, (void)y; }
    virtual void OnMButtonUp(int32_t x, int32_t y) { (void)x, (void)y; }
    virtual void OnMouseWheel(int32_t x, int32_t y, int32_t notches) { (void)x, (void)y, (void)notches; }
    virtual void OnSpecialKeyDown(uint32_t code) { (void)code; }
    virtual void OnSpecialKeyUp(uint32_t code) { (void)code; }
    virtual void OnKeyStateChanged() {}
    virtual void OnKeyRepeat() {}
    virtual void OnKeyDown(uint16_t key) { (void)key; }
    virtual void OnKeyUp(uint16_t key) { (void)key; }
    virtual void OnChar(uint16_t character) { (void)character; }
};

// Screen styles.
enum : uint32_t { kFgStyleFixed = 0, kFgStyleResizable = 1, kFgStylePopup = 2 };

// What is being drawn (g_RenderTargetKind).
enum : uint32_t { kFgTargetNone = 0, kFgTargetScreen = 1, kFgTargetTexture = 2 };

class CFgScreen : public CFgInput {
public:
    CFgScreen() = default;
    ~CFgScreen() override;
    CFgScreen(const CFgScreen&) = delete;
    CFgScreen& operator=(const CFgScreen&) = delete;

    virtual int32_t QueryClose() { return 1; }
    // A close request that arrived while the screen was disabled; the
    // screen stays (a long operation may be using it).
    virtual void OnCloseWhileDisabled() {}
    virtual void OnSize(uint64_t width, uint64_t height) { (void)width, (void)height; }
    virtual void OnShow(uint32_t show) { (void)show; }
    // Overrides that paint start with `if (DeferRedraw()) return;` so that a
    // call from another thread becomes a posted redraw.
    virtual void Redraw() {}

    // x, y both -1 (system placement, or centred on the parent) or both >= 0;
    // width and height are the client size, non-zero. With a window already
    // there and a null title only the OpenGL context is re-created.
    int32_t Create(int32_t x, int32_t y, uint64_t width, uint64_t height, const wchar_t* title, uint32_t style,
                   CFgScreen* parent);
    void Destroy();

    // Bracket every drawing; paints nest. BeginPaint holds g_GlLock until
    // the outermost EndPaint. User-interface thread only.
    int32_t BeginPaint();
    void EndPaint(int32_t swap);

    // OpenGL coordinates of a pixel position of the render size (the
    // override while drawing into a texture, else the client size).
    double PixelToGlX(double x) const;
    double PixelToGlY(double y) const;
    // Restricts drawing to the inclusive pixel rectangle until the caller
    // disables the stencil test.
    int32_t SetClipRect(int32_t left, int32_t top, int32_t right, int32_t bottom);
    // Places the input-method composition window (both >= 0).
    int32_t SetImePoint(int32_t x, int32_t y);

    // The size a buffer needs for the clipboard text (carriage returns are
    // dropped, terminator counted); copies at most size - 1 characters when
    // a buffer is given. 0 when there is no text.
    static uint64_t GetClipboardText(wchar_t* buffer, uint64_t size);
    static int32_t SetClipboardText(const wchar_t* text);

    // True when called off the user-interface thread; a redraw of this
    // screen is then posted (at most one waits at a time).
    bool DeferRedraw();

    uint64_t reentry = 0;  // raised while the context is re-created on show
    uint32_t enabled = 1;  // a disabled screen ignores the close box
    uint16_t lastKeyDown = 0;
    uint16_t lastChar = 0;
    CFgScreen* parent = nullptr;
    int32_t x = 0;  // client position on the desktop
    int32_t y = 0;
    uint64_t width = 0;  // client size
    uint64_t height = 0;
    int32_t renderWidth = 0;  // render-size override while drawing into a texture; 0 = none
    int32_t renderHeight = 0;
    uint32_t shown = 0;
    uint32_t style = 0;
    uint32_t recreate = 0;  // set on hide: the next show re-creates the context
    wchar_t title[256] = {};
    uint64_t generation = 0;  // raised with every context created
    int32_t imeX = -1;
    int32_t imeY = -1;
    void* context = nullptr;
    uint32_t window = 0;  // platform window id, 0 = none
    uint64_t paintNesting = 0;

private:
    // What was current when the outermost paint began, restored at its end.
    uint32_t savedWindow_ = 0;
    void* savedContext_ = nullptr;
    uint32_t savedTargetKind_ = 0;
    uint64_t savedTargetWidth_ = 0;
    uint64_t savedTargetHeight_ = 0;
};

// Process-wide OpenGL lock: held from the outermost BeginPaint to its
// EndPaint and by texture work. Order: before any texture's own lock.
extern CriticalSection g_GlLock;
extern uint32_t g_RenderTargetKind;
extern uint64_t g_RenderTargetWidth;
extern uint64_t g_RenderTargetHeight;
