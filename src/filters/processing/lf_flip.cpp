#include "filters/processing/lf_flip.h"

#include <new>

#include "filters/processing/small_filter.h"
#include "image/kernels/flip_rotate.h"
#include "image/pool.h"

CImgFilter* CreateLfFlip() { return new (std::nothrow) CLfFlip; }

CLfFlip::CLfFlip() {
    for (CFgUIChkButton* b : {&horizontal, &vertical}) {
        b->callback = OnCheck;
        b->data = this;
    }
    ShowSettings();
    AttachControls();
}

PanelSpec CLfFlip::Panel() {
    // English names the mirror axis, Japanese the direction of the mirror;
    // the shorter Japanese labels sit closer together.
    const bool jp = Japanese();
    return {L"Flip", L"反転", 230, 60, 150, 60,
            {
                {&horizontal, 10, 10, jp ? 60 : 100, 20, L"vertical", L"水平"},
                {&vertical, jp ? 80 : 120, 10, jp ? 60 : 100, 20, L"horizontal", L"垂直"},
            }};
}

void CLfFlip::ShowSettings() {
    horizontal.checked = flipH.Get();
    vertical.checked = flipV.Get();
}

void CLfFlip::OnCheck(CFgUIChkButton*, void* data) {
    auto* f = static_cast<CLfFlip*>(data);
    f->flipH.Set(f->horizontal.checked ? 1 : 0);
    f->flipV.Set(f->vertical.checked ? 1 : 0);
    f->Rerun(0);
}

int32_t CLfFlip::OnFilter(CImgBuff* image, uint64_t, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t, uint32_t,
                          uint32_t*, uint32_t*) {
    const bool mirrorRows = flipH.Get() != 0, mirrorColumns = flipV.Get() != 0;
    if (!mirrorRows && !mirrorColumns) return 1;
    ImgRect r = RegionRect(x, y, w, h);
    if (!ImgClipRect(&r, image)) return 1;
    MirrorJob job{image, r.x0, r.y0, r.x1, r.y1};
    const uint64_t rows = static_cast<uint64_t>(r.y1 - r.y0) + 1;
    // Left-right first; both together make half a turn.
    if (mirrorRows) PoolParallelFor(ImgMirrorHorizontalRows, &job, rows);
    if (mirrorColumns && rows / 2) PoolParallelFor(ImgMirrorVerticalRows, &job, rows / 2);
    return 1;
}
