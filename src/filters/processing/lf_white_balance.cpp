#include "filters/processing/lf_white_balance.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cwchar>
#include <new>

#include "filters/core/cfgfile.h"
#include "filters/processing/colour_pick.h"
#include "filters/processing/region_clip.h"
#include "platform/plat_window.h"
#include "toolkit/fg_screen.h"

CImgFilter* CreateLfWhiteBalance() { return new (std::nothrow) CLfWhiteBalance; }

namespace {
constexpr int32_t kSwatchSize = 96;
}

CLfWhiteBalance::CLfWhiteBalance() {
    for (CFgUIScrollBar& s : sliders) {
        s.orientation = kFgBarHorizontal;
        s.minimum = 0;
        s.maximum = 255;
        s.position = 0;
        s.data = this;
        s.callback = [](CFgUIScrollBar* bar, void* data, int32_t position) {
            auto* f = static_cast<CLfWhiteBalance*>(data);
            double rgb[3];
            f->Reference(rgb);
            rgb[bar - f->sliders] = (255 - position) / 255.0;
            if (f->SetReference(rgb[0], rgb[1], rgb[2])) f->Rerun(1);
        };
    }
    autoButton.data = this;
    autoButton.callback = [](CFgUIButton*, void* data) {
        auto* f = static_cast<CLfWhiteBalance*>(data);
        f->autoRequest.store(1);
        f->Rerun(1);
    };
    initButton.data = this;
    initButton.callback = [](CFgUIButton*, void* data) {
        auto* f = static_cast<CLfWhiteBalance*>(data);
        f->Reset();
        f->Rerun(0);
    };
    const double white[3] = {1, 1, 1};
    FillSwatch(&swatch, kSwatchSize, kSwatchSize, white);
    AttachControls();
}

CLfWhiteBalance::~CLfWhiteBalance() {
    CriticalSectionLock own(lock_);
    ImgColorLutDestroy(transform_);
    transform_ = nullptr;
}

PanelSpec CLfWhiteBalance::Panel() {
    return {L"White balance", L"ホワイトバランス", 216, 194, 216, 194,
            {
                {&autoButton, 112, 8, 96, 44, L"auto", L"オート"},
                {&initButton, 112, 60, 96, 44, L"init", L"初期化"},
                {&sliders[0], 8, 112, 200, 20, nullptr, nullptr},
                {&sliders[1], 8, 140, 200, 20, nullptr, nullptr},
                {&sliders[2], 8, 168, 200, 20, nullptr, nullptr},
            }};
}

void CLfWhiteBalance::Reference(double rgb[3]) const {
    CriticalSectionLock own(lock_);
    for (int i = 0; i < 3; ++i) rgb[i] = reference_[i];
}

bool CLfWhiteBalance::HasTransform() const {
    CriticalSectionLock own(lock_);
    return transform_ != nullptr;
}

int32_t CLfWhiteBalance::SetReference(double r, double g, double b) {
    {
        CriticalSectionLock own(lock_);
        const double v[3] = {r, g, b};
        for (double c : v)
            if (!(c >= 0 && c <= 1)) return 0;  // also NaN
        // Only a grey reference needs no transform; two equal components
        // still shift the third.
        ColorLut* next = nullptr;
        if (!(r == g && g == b)) {
            next = ImgColorLutCreateWhiteBalance(r, g, b);
            if (!next) return 0;
        }
        for (int i = 0; i < 3; ++i) {
            reference_[i] = v[i];
            positions_[i] = 255 - SwatchLevel(v[i]);
        }
        ImgColorLutDestroy(transform_);
        transform_ = next;
    }
    // Sliders and swatch follow on the user-interface thread.
    if (PlatIsUiThread()) {
        ShowReference();
    } else {
        shownDue_.store(1);
        CFgUICtrl::Redraw();
    }
    return 1;
}

void CLfWhiteBalance::Reset() {
    {
        CriticalSectionLock own(lock_);
        for (int i = 0; i < 3; ++i) {
            reference_[i] = 1;
            positions_[i] = 0;
        }
        ImgColorLutDestroy(transform_);
        transform_ = nullptr;
    }
    ShowReference();
}

void CLfWhiteBalance::ShowReference() {
    double rgb[3];
    {
        CriticalSectionLock own(lock_);
        for (int i = 0; i < 3; ++i) {
            rgb[i] = reference_[i];
            sliders[i].position = positions_[i];
        }
    }
    FillSwatch(&swatch, kSwatchSize, kSwatchSize, rgb);
    if (PanelShown()) CFgUICtrl::Redraw();
}

void CLfWhiteBalance::ShowUi(int32_t show, CFgScreen* parentScreen) {
    CDialogFilterBase::ShowUi(show, parentScreen);
    if (show && PanelShown()) {
        swatch.AttachToScreen(this);
        CFgUICtrl::Redraw();
    }
}

void CLfWhiteBalance::Redraw() {
    if (PlatIsUiThread() && shownDue_.exchange(0)) {
        ShowReference();
        return;
    }
    CFgUIDialog::Redraw();
}

void CLfWhiteBalance::DrawOverlay() { swatch.DrawCell(8, 8, kSwatchSize, kSwatchSize, 0); }

void CLfWhiteBalance::OnLButtonDown(int64_t x, int64_t y, uint32_t) {
    clickX.store(static_cast<int32_t>(std::clamp<int64_t>(x, INT32_MIN, INT32_MAX)));
    clickY.store(static_cast<int32_t>(std::clamp<int64_t>(y, INT32_MIN, INT32_MAX)));
    clickRequest.store(1);
    Rerun(1);
}

int32_t CLfWhiteBalance::OnFilter(CImgBuff* image, uint64_t, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t,
                                  uint32_t, uint32_t*, uint32_t*) {
    CriticalSectionLock gl(g_GlLock);
    CriticalSectionLock own(lock_);
    if (!image || !image->buffer || image->buffer->format < kImgRgb8 || image->buffer->format > kImgCmyk8) return 0;
    if (!transform_ && !clickRequest.load() && !autoRequest.load()) return 0;
    if (clickRequest.exchange(0)) {
        double mean[3];
        if (MeanRgb5x5(image, clickX.load(), clickY.load(), mean)) SetReference(mean[0], mean[1], mean[2]);
    }
    ImgRect r;
    if (!ClippedRegion(image, x, y, w, h, &r)) return 0;
    const bool whole = r.x0 == 0 && r.y0 == 0 && r.x1 == image->buffer->width - 1 && r.y1 == image->buffer->height - 1;
    CImgBuff copy;
    CImgBuff* work = image;
    if (!whole) {
        if (!image->ExtractRect(&copy, r.x0, r.y0, r.x1, r.y1)) return 0;
        work = &copy;
    }
    if (autoRequest.exchange(0)) {
        double rgb[3];
        int32_t blocksUsed = 0;
        if (ImgEstimateWhiteBalance(work, &rgb[0], &rgb[1], &rgb[2], 60, 40, &blocksUsed) && blocksUsed)
            SetReference(rgb[0], rgb[1], rgb[2]);
        else if (ImgEstimateWhiteBalance(work, &rgb[0], &rgb[1], &rgb[2], 0, 0, nullptr))
            SetReference(rgb[0], rgb[1], rgb[2]);
    }
    if (!transform_) return 1;
    if (!ImgColorLutApply(transform_, work)) return 0;
    if (!whole) image->PasteImage(work, static_cast<uint32_t>(r.x0), static_cast<uint32_t>(r.y0));
    return 1;
}

void CLfWhiteBalance::SaveConfig(CCfgPack* pack) {
    CDialogFilterBase::SaveConfig(pack);
    if (!pack) return;
    CriticalSectionLock own(lock_);
    if (!transform_) return;  // a neutral reference writes nothing
    const wchar_t* keys[3] = {L"R", L"G", L"B"};
    for (int i = 0; i < 3; ++i) {
        wchar_t text[64];
        std::swprintf(text, 64, L"%lf", reference_[i]);
        pack->AddItem(keys[i], text);
    }
}

void CLfWhiteBalance::LoadConfig(CCfgPack* pack) {
    CDialogFilterBase::LoadConfig(pack);
    if (!pack) return;
    double v[3];
    const wchar_t* keys[3] = {L"R", L"G", L"B"};
    for (int i = 0; i < 3; ++i) {
        const wchar_t* text = CfgFindValue(pack, keys[i]);
        v[i] = text ? std::wcstod(text, nullptr) : -1;
    }
    if (v[0] >= 0 && v[1] >= 0 && v[2] >= 0) SetReference(v[0], v[1], v[2]);
}
