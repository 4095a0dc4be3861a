#include "toolkit/fg_picture.h"

#include <GL/gl.h>

#include <algorithm>
#include <climits>
#include <tuple>

#include "toolkit/fg_dialog.h"
#include "toolkit/fg_draw.h"
#include "toolkit/fg_screen.h"

namespace {

int32_t Saturate(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// One bar of the view over an image side of `size` pixels, showing `page`
// of them: the position is pulled back so that the page ends at the last
// pixel, and a valid range is stored without notifying.
void LayoutBar(CFgUIScrollBar& bar, bool inUse, int64_t page, int64_t size) {
    if (!inUse) {
        CFgViewBars::Hide(bar);
        return;
    }
    int64_t p = bar.position;
    if (p + page - 1 > size - 1) p = size - page;
    if (p >= 0 && p + page - 1 <= size - 1) {
        bar.minimum = 0;
        bar.maximum = static_cast<int32_t>(size - 1);
        bar.page = static_cast<int32_t>(page);
        bar.position = static_cast<int32_t>(p);
    }
    CFgViewBars::Show(bar);
}

}  // namespace

CFgUIPicture::CFgUIPicture() = default;

CFgUIPicture::~CFgUIPicture() {
    texture.ReleaseGl();
    texture.Clear();
}

int32_t CFgUIPicture::SetRect(int32_t newX, int32_t newY, int32_t newWidth, int32_t newHeight) {
    if (!CFgUIObj::SetRect(newX, newY, newWidth, newHeight)) return 0;
    bars.Place(x, y, width, height);
    view.x0 = x;
    view.y0 = y;
    UpdateLayout();
    return 1;
}

void CFgUIPicture::Enable(int32_t enable) {
    CFgViewBars::EnableControl(*this, enable);
    bars.Enable(enable);
}

void CFgUIPicture::SetImage(const CFgTexture* image) {
    const int32_t oldWidth = ImageWidth();
    const int32_t oldHeight = ImageHeight();
    if (image && image != &texture) {
        if (image->pixels)
            texture.CopyFrom(image);
        else
            texture.Clear();
    }
    painted = 0;
    if (ImageWidth() != oldWidth || ImageHeight() != oldHeight) UpdateLayout();
    CFgScreen* owner = OwnerScreen();
    if (!texture.screen && texture.pixels && owner) texture.AttachToScreen(owner);
}

CFgTexture* CFgUIPicture::GetTexture() {
    // The name is kept: the next draw sends the refilled rows into it.
    CriticalSectionLock gl(g_GlLock);
    CriticalSectionLock own(texture.lock);
    handedOut_ = 1;
    handedOutAt_ = texture.sendCount;
    if (texture.hasName) texture.uploadPending = 1;
    return &texture;
}

void CFgUIPicture::UpdateLayout() {
    // Layout may run on the thread that refilled the texture: it is kept
    // apart from painting by the OpenGL lock.
    CriticalSectionLock gl(g_GlLock);
    if (handedOut_) {
        // The caller has filled the texture it was handed: it is sent again
        // unless the fill sent it already.
        CriticalSectionLock own(texture.lock);
        handedOut_ = 0;
        if (texture.hasName && texture.sendCount == handedOutAt_) texture.uploadPending = 1;
    }
    laidOut = 1;
    const int64_t imageWidth = ImageWidth();
    const int64_t imageHeight = ImageHeight();
    const int64_t z = zoom;
    if (z == kFit || z == kStretch) {
        if (imageWidth == 0 || imageHeight == 0) {
            laidOut = 0;
            bars.DropBoth();
            return;
        }
        bars.horizontalInUse = bars.verticalInUse = 0;
    } else {
        int64_t shownWidth = imageWidth, shownHeight = imageHeight;
        if (z > 1) {
            shownWidth = imageWidth * z;
            shownHeight = imageHeight * z;
        } else if (z < -1) {
            shownWidth = imageWidth / -z;
            shownHeight = imageHeight / -z;
        }
        if (shownWidth == 0 || shownHeight == 0) {
            laidOut = 0;
            bars.DropBoth();
            return;
        }
        bars.Choose(width, height, shownWidth, shownHeight);
    }
    const int64_t availableWidth = width - (bars.verticalInUse ? 16 : 0);
    const int64_t availableHeight = height - (bars.horizontalInUse ? 16 : 0);
    view = {x, y, static_cast<int32_t>(x + availableWidth - 1), static_cast<int32_t>(y + availableHeight - 1)};
    bars.FitToView(view.x1, view.y1);
    int64_t pageWidth = availableWidth, pageHeight = availableHeight;
    if (z > 1) {
        pageWidth /= z;
        pageHeight /= z;
    } else if (z < -1) {
        pageWidth *= -z;
        pageHeight *= -z;
    }
    LayoutBar(bars.horizontal, bars.horizontalInUse, pageWidth, imageWidth);
    LayoutBar(bars.vertical, bars.verticalInUse, pageHeight, imageHeight);
    fit = view;
    if (z == kFit) {
        const int64_t vw = static_cast<int64_t>(view.x1) - view.x0 + 1;
        const int64_t vh = static_cast<int64_t>(view.y1) - view.y0 + 1;
        const int64_t fw = vh * imageWidth / imageHeight;
        if (fw <= vw) {
            const int64_t cx = (static_cast<int64_t>(view.x0) + view.x1) / 2;
            fit.x0 = static_cast<int32_t>(cx - fw / 2);
            fit.x1 = static_cast<int32_t>(fit.x0 + fw - 1);
        } else {
            const int64_t fh = vw * imageHeight / imageWidth;
            const int64_t cy = (static_cast<int64_t>(view.y0) + view.y1) / 2;
            fit.y0 = static_cast<int32_t>(cy - fh / 2);
            fit.y1 = static_cast<int32_t>(fit.y0 + fh - 1);
        }
    }
}

void CFgUIPicture::SetZoom(int32_t code) {
    const int64_t cx = bars.horizontalInUse ? bars.horizontal.page / 2 + static_cast<int64_t>(bars.horizontal.position)
                                            : ImageWidth() / 2;
    const int64_t cy = bars.verticalInUse ? bars.vertical.page / 2 + static_cast<int64_t>(bars.vertical.position)
                                          : ImageHeight() / 2;
    zoom = code;
    UpdateLayout();
    for (auto [bar, inUse, centre] : {std::tuple{&bars.horizontal, bars.horizontalInUse, cx},
                                      std::tuple{&bars.vertical, bars.verticalInUse, cy}}) {
        if (!inUse) continue;
        const int64_t wanted = std::max<int64_t>(0, centre - bar->page / 2);
        if (wanted >= bar->minimum && wanted + bar->page - 1 <= bar->maximum) bar->Notify(static_cast<int32_t>(wanted));
    }
}

void CFgUIPicture::ZoomBySteps(int32_t steps) {
    if (!texture.pixels) return;
    int64_t z = zoom;
    int64_t n = steps;
    if (z == kFit || z == kStretch) {
        // No steps change nothing; any step in either direction lands on 1.
        if (n == 0) return;
        z = 1;
        n += n >= 1 ? -1 : 1;
    }
    // Per step; once the code lies beyond the clamp in the direction of
    // travel, further steps cannot bring it back.
    for (; n >= 1; --n) {
        if (z > 0) {
            if (z >= 4) break;
            z *= 2;
        } else {
            z /= 2;
            if (z == -1 || z == 0) z = 1;
        }
    }
    for (; n < 0; ++n) {
        if (z > 0) {
            z /= 2;
            if (z == 0) z = -2;
        } else {
            if (z <= -4) break;
            z *= 2;
        }
    }
    z = std::clamp<int64_t>(z, -4, 4);
    if (z == zoom) return;
    SetZoom(static_cast<int32_t>(z));
    RedrawParent();
}

int32_t CFgUIPicture::ControlToImage(int32_t* px, int32_t* py) const {
    if (!px || !py) return 0;
    const FgBarRect& area = zoom == kFit ? fit : view;
    if (*px < area.x0 || *px > area.x1 || *py < area.y0 || *py > area.y1) return 0;
    const int64_t imageWidth = ImageWidth();
    const int64_t imageHeight = ImageHeight();
    int64_t dx = static_cast<int64_t>(*px) - view.x0;
    int64_t dy = static_cast<int64_t>(*py) - view.y0;
    const int64_t z = zoom;
    if (z == kFit) {
        dx = imageWidth * (static_cast<int64_t>(*px) - fit.x0) / (static_cast<int64_t>(fit.x1) - fit.x0 + 1);
        dy = imageHeight * (static_cast<int64_t>(*py) - fit.y0) / (static_cast<int64_t>(fit.y1) - fit.y0 + 1);
    } else if (z == kStretch) {
        dx = imageWidth * dx / (static_cast<int64_t>(view.x1) - view.x0 + 1);
        dy = imageHeight * dy / (static_cast<int64_t>(view.y1) - view.y0 + 1);
    } else if (z <= -2) {
        dx *= -z;
        dy *= -z;
    } else if (z >= 2) {
        dx /= z;
        dy /= z;
    }
    // A bar out of use sits at 0.
    dx += bars.horizontal.position;
    dy += bars.vertical.position;
    *px = Saturate(dx);
    *py = Saturate(dy);
    return dx >= 0 && dx < imageWidth && dy >= 0 && dy < imageHeight ? 1 : 0;
}

void CFgUIPicture::SourceSpan(int64_t* sx, int64_t* sy, int64_t* sw, int64_t* sh) const {
    const int64_t imageWidth = ImageWidth();
    const int64_t imageHeight = ImageHeight();
    *sx = 0;
    *sw = imageWidth;
    *sy = 0;
    *sh = imageHeight;
    // A partly visible next column or row is drawn too.
    if (bars.horizontalInUse) {
        *sx = bars.horizontal.position;
        *sw = bars.horizontal.page + (*sx + bars.horizontal.page < imageWidth ? 1 : 0);
    }
    if (bars.verticalInUse) {
        *sy = bars.vertical.position;
        *sh = bars.vertical.page + (*sy + bars.vertical.page < imageHeight ? 1 : 0);
    }
}

void CFgUIPicture::FillAround(CFgScreen* screen, const FgBarRect& outer, const FgBarRect& inner) const {
    if (inner.x1 < inner.x0 || inner.y1 < inner.y0) {
        FgFillRect(screen, outer.x0, outer.y0, outer.x1, outer.y1, background);
        return;
    }
    if (inner.y0 > outer.y0) FgFillRect(screen, outer.x0, outer.y0, outer.x1, inner.y0 - 1, background);
    if (inner.y1 < outer.y1) FgFillRect(screen, outer.x0, inner.y1 + 1, outer.x1, outer.y1, background);
    if (inner.x0 > outer.x0) FgFillRect(screen, outer.x0, inner.y0, inner.x0 - 1, inner.y1, background);
    if (inner.x1 < outer.x1) FgFillRect(screen, inner.x1 + 1, inner.y0, outer.x1, inner.y1, background);
}

void CFgUIPicture::Paint(CFgScreen* screen, CFgFont* font) {
    if (painted) {
        painted = 0;
        texture.Upload();
    }
    if (paintCallback) {
        paintCallback(screen, font, &texture, callbackData);
        painted = 1;
    }
}

void CFgUIPicture::Draw(CFgScreen* screen, CFgFont* font) {
    const FgBarRect control{x, y, Right(), Bottom()};
    if (!laidOut) {
        FgFillRect(screen, control.x0, control.y0, control.x1, control.y1, background);
        return;
    }
    int64_t sx, sy, sw, sh;
    SourceSpan(&sx, &sy, &sw, &sh);
    const int64_t z = zoom;
    int64_t x0 = view.x0, y0 = view.y0, x1 = view.x1, y1 = view.y1;
    if (z == kFit) {
        x0 = fit.x0, y0 = fit.y0, x1 = fit.x1, y1 = fit.y1;
    } else if (z >= 1) {
        x1 = x0 - 1 + z * sw;
        y1 = y0 - 1 + z * sh;
    } else if (z <= -2) {
        // Whole screen pixels of |z| image pixels each, so that the drawn
        // scale is exactly the one ControlToImage maps back with.
        x1 = x0 + sw / -z - 1;
        y1 = y0 + sh / -z - 1;
        sw = sw / -z * -z;
        sh = sh / -z * -z;
    }
    // The background shows around the image: an opaque image covers the
    // part of the view it is drawn over, so only the rest is filled.
    FgBarRect covered{view.x0, view.y0, view.x0 - 1, view.y0 - 1};
    if (!texture.screen && texture.pixels) texture.AttachToScreen(screen);
    const bool drawable = x1 >= x0 && y1 >= y0 && texture.pixels && texture.screen == screen;
    if (drawable && !texture.alpha)
        covered = {Saturate(std::max<int64_t>(x0, view.x0)), Saturate(std::max<int64_t>(y0, view.y0)),
                   Saturate(std::min<int64_t>(x1, view.x1)), Saturate(std::min<int64_t>(y1, view.y1))};
    FillAround(screen, control, covered);
    Paint(screen, font);
    // The view clip is a scissor: the same pixels as a stencil clip, and
    // nothing clipped while the paint callback drew into the texture.
    FgScissorRect(screen, view.x0, view.y0, view.x1, view.y1);
    if (drawable &&
        !texture.DrawRegion(static_cast<double>(x0), static_cast<double>(y0), static_cast<double>(x1 - x0 + 1),
                            static_cast<double>(y1 - y0 + 1), static_cast<double>(sx), static_cast<double>(sy),
                            static_cast<double>(sw), static_cast<double>(sh)) &&
        covered.x1 >= covered.x0)
        FgFillRect(screen, covered.x0, covered.y0, covered.x1, covered.y1, background);
    if (overlayCallback)
        overlayCallback(screen, font, Saturate(x0), Saturate(y0), Saturate(x1), Saturate(y1), Saturate(sx),
                        Saturate(sy), Saturate(sx + sw - 1), Saturate(sy + sh - 1), zoom, callbackData);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_STENCIL_TEST);
}

void CFgUIPicture::RenderAtImageSize(CFgScreen* screen, CFgFont* font) {
    if (!laidOut) return;
    Paint(screen, font);
    if (!texture.screen && texture.pixels) texture.AttachToScreen(screen);
    texture.DrawFullViewport();
    const int32_t w = ImageWidth() - 1;
    const int32_t h = ImageHeight() - 1;
    if (overlayCallback) overlayCallback(screen, font, 0, 0, w, h, 0, 0, w, h, 1, callbackData);
}

void CFgUIPicture::OnAttach() {
    bars.Place(x, y, width, height);
    view.x0 = x;
    view.y0 = y;
    bars.Attach(this);
    UpdateLayout();
    CFgScreen* owner = OwnerScreen();
    if (texture.pixels && owner) texture.AttachToScreen(owner);
}

void CFgUIPicture::OnVisibleChanged(uint32_t shown, uint64_t argument) { bars.FollowVisible(shown, argument); }
