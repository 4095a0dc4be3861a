#include "toolkit/fg_viewbars.h"

#include <utility>

#include "toolkit/fg_dialog.h"

void FgLinkAfter(CFgUIObj* anchor, CFgUIObj* child) {
    CFgUICtrl* container = anchor ? anchor->parent : nullptr;
    if (!container || !child || child->parent) return;
    child->previous = anchor;
    child->next = anchor->next;
    if (anchor->next)
        anchor->next->previous = child;
    else
        container->last = child;
    anchor->next = child;
    child->parent = container;
    child->OnAttach();
}

void CFgViewBars::Place(int32_t x, int32_t y, int32_t w, int32_t h) {
    horizontalRect = {x, y + h - 16, x + w - 17, y + h - 1};
    verticalRect = {x + w - 16, y, x + w - 1, y + h - 17};
    for (auto [bar, r] : {std::pair{&horizontal, &horizontalRect}, std::pair{&vertical, &verticalRect}}) {
        const int32_t bw = r->x1 - r->x0 + 1;
        const int32_t bh = r->y1 - r->y0 + 1;
        if (bw >= 1 && bh >= 1) bar->SetRect(r->x0, r->y0, bw, bh);
    }
}

void CFgViewBars::Attach(CFgUIObj* owner) {
    horizontal.orientation = kFgBarHorizontal;
    vertical.orientation = kFgBarVertical;
    for (CFgUIScrollBar* bar : {&horizontal, &vertical}) {
        bar->minimum = 0;
        bar->maximum = 0;
        bar->tabStop = 0;
        bar->data = owner;
    }
    // The vertical bar goes in first so that the order is owner, horizontal, vertical.
    FgLinkAfter(owner, &vertical);
    FgLinkAfter(owner, &horizontal);
}

void CFgViewBars::Choose(int64_t w, int64_t h, int64_t totalWidth, int64_t totalHeight) {
    horizontalInUse = verticalInUse = 0;
    if (w < totalWidth) {
        horizontalInUse = 1;
        verticalInUse = totalHeight > h - 16;
    } else if (totalHeight > h) {
        verticalInUse = 1;
        horizontalInUse = totalWidth > w - 16;
    }
}

void CFgViewBars::FitToView(int32_t viewRight, int32_t viewBottom) {
    if (horizontalInUse) {
        horizontalRect.x1 = viewRight;
        horizontal.SetRect(horizontalRect.x0, horizontalRect.y0, horizontalRect.x1 - horizontalRect.x0 + 1,
                           horizontalRect.y1 - horizontalRect.y0 + 1);
    }
    if (verticalInUse) {
        verticalRect.y1 = viewBottom;
        vertical.SetRect(verticalRect.x0, verticalRect.y0, verticalRect.x1 - verticalRect.x0 + 1,
                         verticalRect.y1 - verticalRect.y0 + 1);
    }
}

void CFgViewBars::DropBoth() {
    horizontalInUse = verticalInUse = 0;
    Hide(horizontal);
    Hide(vertical);
}

void CFgViewBars::FollowVisible(uint32_t shown, uint64_t argument) {
    if (horizontalInUse) horizontal.SetVisible(shown, argument);
    if (verticalInUse) vertical.SetVisible(shown, argument);
}

void CFgViewBars::Enable(int32_t enable) {
    EnableControl(horizontal, enable);
    EnableControl(vertical, enable);
}

void CFgViewBars::Show(CFgUIScrollBar& bar) {
    bar.visible = 1;
    bar.OnVisibleChanged(1, 0);
}

void CFgViewBars::Hide(CFgUIScrollBar& bar) {
    bar.SetVisible(0, 0);
    Reset(bar);
}

void CFgViewBars::Reset(CFgUIScrollBar& bar) {
    bar.minimum = 0;
    bar.maximum = 0;
    bar.page = 1;
    bar.position = 0;
}

void CFgViewBars::EnableControl(CFgUIObj& control, int32_t enable) {
    if (!control.CanEnable(enable)) return;
    control.enabled = enable ? 1 : 0;
    if (!control.enabled && control.parent && control.parent->focused == &control) control.parent->FocusNext();
}
