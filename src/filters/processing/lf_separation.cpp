#include "filters/processing/lf_separation.h"

#include <new>

#include "filters/processing/region_clip.h"
#include "image/kernels/particles.h"

CImgFilter* CreateLfSeparation() { return new (std::nothrow) CLfSeparation; }

CLfSeparation::CLfSeparation() {
    grayBox.callback = OnGrayBox;
    grayBox.data = this;
    AttachControls();
}

PanelSpec CLfSeparation::Panel() {
    return {L"Separation", L"物体の分離", 112, 36, 112, 36, {{&grayBox, 8, 8, 96, 20, L"gray scale", L"輝度画像"}}};
}

// A load changes the setting; the box follows on the next paint.
void CLfSeparation::ShowSettings() { grayBox.checked = gray.Get(); }

void CLfSeparation::OnGrayBox(CFgUIChkButton* box, void* data) {
    auto* f = static_cast<CLfSeparation*>(data);
    f->gray.Set(box->checked ? 1 : 0);
    f->Rerun(0);
}

int32_t CLfSeparation::OnFilter(CImgBuff* image, uint64_t, int64_t x, int64_t y, int64_t w, int64_t h,
                                uint32_t connect, uint32_t bg, uint32_t*, uint32_t*) {
    ImgRect r;
    if (!ClippedRegion(image, x, y, w, h, &r)) return 1;
    return ImgSeparateParticles(image, gray.Get(), static_cast<int32_t>(connect), bg, &r);
}
