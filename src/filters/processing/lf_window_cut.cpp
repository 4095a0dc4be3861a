#include "filters/processing/lf_window_cut.h"

#include <new>

#include "filters/processing/region_clip.h"
#include "image/kernels/object_removal.h"

CImgFilter* CreateLfWindowCut() { return new (std::nothrow) CLfWindowCut; }

CLfWindowCut::CLfWindowCut()
    : edges_{{this, &left}, {this, &top}, {this, &right}, {this, &bottom}} {
    CFgUIChkButton* boxes[4] = {&leftBox, &topBox, &rightBox, &bottomBox};
    for (int i = 0; i < 4; ++i) {
        boxes[i]->callback = OnEdgeBox;
        boxes[i]->data = &edges_[i];
    }
    ShowSettings();
    AttachControls();
}

PanelSpec CLfWindowCut::Panel() {
    return {L"Window cut", L"ウィンドウカット", 235, 115, 235, 115,
            {
                {&leftBox, 22, 10, 195, 20, L"erase left side object", L"左辺にかかった物体を除去"},
                {&topBox, 22, 35, 195, 20, L"erase top side object", L"上辺にかかった物体を除去"},
                {&rightBox, 22, 60, 195, 20, L"erase right side object", L"右辺にかかった物体を除去"},
                {&bottomBox, 22, 85, 195, 20, L"erase bottom side object", L"下辺にかかった物体を除去"},
            }};
}

void CLfWindowCut::ShowSettings() {
    leftBox.checked = left.Get();
    topBox.checked = top.Get();
    rightBox.checked = right.Get();
    bottomBox.checked = bottom.Get();
}

void CLfWindowCut::OnEdgeBox(CFgUIChkButton* box, void* data) {
    auto* edge = static_cast<Edge*>(data);
    edge->flag->Set(box->checked ? 1 : 0);
    edge->filter->Rerun(0);
}

int32_t CLfWindowCut::OnFilter(CImgBuff* image, uint64_t, int64_t x, int64_t y, int64_t w, int64_t h,
                               uint32_t connect, uint32_t bg, uint32_t*, uint32_t*) {
    ImgRect r;
    if (!ClippedRegion(image, x, y, w, h, &r)) return 1;
    return ImgEraseEdgeObjects(image, left.Get(), top.Get(), right.Get(), bottom.Get(), static_cast<int32_t>(connect),
                               bg, &r);
}
