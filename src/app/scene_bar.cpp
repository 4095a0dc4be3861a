#include "app/scene_bar.h"

#include <cstdio>

#include "toolkit/fg_dialog.h"
#include "toolkit/fg_draw.h"
#include "toolkit/fg_font.h"

int32_t CVideoPanel::SetPosition(uint64_t p) {
    if (p >= sceneCount) return 0;
    position = p;
    UpdateThumb();
    if (listener) listener->OnPositionChanged(p);
    RedrawParent();
    return 1;
}

int32_t CVideoPanel::StepForward() {
    if (sceneCount == 0 || position >= sceneCount - 1) return 0;
    playDirection = 0;
    return SetPosition(position + 1);
}

int32_t CVideoPanel::StepBackward() {
    if (position == 0) return 0;
    playDirection = 0;
    return SetPosition(position - 1);
}

void CVideoPanel::Draw(CFgScreen* screen, CFgFont*) {
    FgFillRect(screen, x, y, Right(), Bottom(), Color(kFgColorFace));
}
