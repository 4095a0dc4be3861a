// The pair of scroll bars that the picture view and the cell grid embed: a
// 16-pixel strip at the bottom and one at the right of the control, linked
// into the control's container right after it so that they are drawn over
// it and hit first.
#pragma once

#include <cstdint>

#include "toolkit/fg_scrollbar.h"

struct FgBarRect {
    int32_t x0 = 0;
    int32_t y0 = 0;
    int32_t x1 = -1;
    int32_t y1 = -1;
};

class CFgViewBars {
public:
    CFgUIScrollBar horizontal;
    CFgUIScrollBar vertical;
    FgBarRect horizontalRect;
    FgBarRect verticalRect;
    uint32_t horizontalInUse = 0;
    uint32_t verticalInUse = 0;

    // The full-length strips of a control at (x, y, w, h); each bar takes
    // its rectangle when that is at least 1 x 1.
    void Place(int32_t x, int32_t y, int32_t w, int32_t h);
    // Orientation, an empty range, no tab stop, `owner` as callback data,
    // and both bars linked after `owner` in its container.
    void Attach(CFgUIObj* owner);
    // Which bars a content of totalWidth x totalHeight needs in a w x h
    // control (a bar takes 16 pixels from the other direction).
    void Choose(int64_t w, int64_t h, int64_t totalWidth, int64_t totalHeight);
    // Resizes the bars in use to end at the view's right and bottom edges.
    void FitToView(int32_t viewRight, int32_t viewBottom);
    // Both bars out of use, hidden and reset.
    void DropBoth();
    // The bars in use take the control's visible flag.
    void FollowVisible(uint32_t shown, uint64_t argument);
    void Enable(int32_t enable);

    // Visible with its OnVisibleChanged.
    static void Show(CFgUIScrollBar& bar);
    // Hidden, the focus moved on when it had it, and reset.
    static void Hide(CFgUIScrollBar& bar);
    // Minimum 0, maximum 0, page 1, position 0.
    static void Reset(CFgUIScrollBar& bar);
    // Sets the control's enabled flag when its CanEnable accepts; a
    // disabled control passes the focus on.
    static void EnableControl(CFgUIObj& control, int32_t enable);
};

// Links `child` into `anchor`'s container right after `anchor`, then calls
// the child's OnAttach. Nothing happens when anchor has no container or
// child already has one.
void FgLinkAfter(CFgUIObj* anchor, CFgUIObj* child);
