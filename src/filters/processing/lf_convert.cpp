#include "filters/processing/lf_convert.h"

#include <new>

#include "filters/processing/panel_rules.h"
#include "filters/processing/small_filter.h"
#include "image/kernels/component_extract.h"
#include "platform/plat_window.h"

CImgFilter* CreateLfConvert() { return new (std::nothrow) CLfConvert; }

namespace {

// Kernel codes by entry; C, M, Y take the inks of the CMYK split with cmyk on.
constexpr int32_t kCodes[CLfConvert::kEntries] = {
    kComponentRed,   kComponentGreen,      kComponentBlue,          kComponentGrey,
    kComponentHue,   kComponentSaturation, kComponentValue,         kComponentComplementRed,
    kComponentComplementGreen, kComponentComplementBlue, kComponentBlack, kComponentX,
    kComponentY,     kComponentZ,          kComponentLightness,     kComponentA,
    kComponentB,     kComponentChroma,     kComponentHueAngle};

struct Entry {
    int32_t column;  // 0..5
    int32_t top;
    const wchar_t* english;
    const wchar_t* japanese;
};
constexpr Entry kLayout[CLfConvert::kEntries] = {
    {0, 10, L"R", L"R成分"},   {0, 30, L"G", L"G成分"},   {0, 50, L"B", L"B成分"},   {0, 70, L"GRAY", L"グレー"},
    {1, 10, L"H", L"色相"},    {1, 30, L"S", L"彩度"},    {1, 50, L"V", L"輝度"},    {2, 10, L"C", L"C成分"},
    {2, 30, L"M", L"M成分"},   {2, 50, L"Y", L"Y成分"},   {2, 70, L"K", L"K成分"},   {3, 10, L"X", L"X成分"},
    {3, 30, L"Y", L"Y成分"},   {3, 50, L"Z", L"Z成分"},   {4, 10, L"L", L"L*成分"},  {4, 30, L"a*", L"a*成分"},
    {4, 50, L"b*", L"b*成分"}, {5, 30, L"C", L"C*成分"},  {5, 50, L"h", L"h成分"}};

// The grey format of a colour format's channel depth.
int32_t GreyOfDepth(int32_t format) {
    switch (format) {
        case kImgRgb8:
        case kImgCmyk8:
            return kImgGray8;
        case kImgRgb16:
        case kImgHsv16:
            return kImgGray16;
        default:
            return kImgGray32;
    }
}

}  // namespace

int32_t CLfConvert::Code(uint32_t s, uint32_t withCmyk) {
    if (s >= kEntries) return 0;
    const int32_t code = kCodes[s];
    if (withCmyk && code >= kComponentComplementRed && code <= kComponentComplementBlue) return code + 3;
    return code;
}

CLfConvert::CLfConvert() {
    BindEntries(&sel, &cmyk);
    colorButton.data = this;
    colorButton.callback = [](CFgUIChkButton* b, void* data) {
        auto* f = static_cast<CLfConvert*>(data);
        f->color.Set(b->checked ? 1 : 0);
        f->Rerun(0);
    };
    ShowSettings();
    AttachControls();
}

PanelSpec CLfConvert::Panel() {
    const bool jp = Japanese();
    PanelSpec spec{L"Component extraction", L"成分抽出", 290, 125, 465, 125, {}};
    for (uint32_t i = 0; i < kEntries; ++i)
        spec.controls.push_back({&entries[i], 30 + kLayout[i].column * (jp ? 70 : 40), kLayout[i].top, jp ? 70 : 40, 20,
                                 kLayout[i].english, kLayout[i].japanese});
    spec.controls.push_back({&colorButton, 30, 95, 100, 20, L"color", L"色を着ける"});
    spec.controls.push_back({&cmykButton, jp ? 170 : 110, 95, 100, 20, L"CMYK", L"CMYK"});
    return spec;
}

// Radio clicks reach the frame, which reruns; the entry rules follow here.
void CLfConvert::ApplyRules() {
    if (!CFgUICtrl::enabled) return;
    const bool off = notColour.load() != 0;
    const uint32_t s = sel.Get();
    for (uint32_t i = 0; i < kEntries; ++i) SetControlEnabled(this, &entries[i], !off && (i != kSelK || cmyk.Get()));
    SetControlEnabled(this, &colorButton, !off && s != 3 && s != 6 && s != 14);
    SetControlEnabled(this, &cmykButton, !off && s != kSelK);
}

void CLfConvert::ShowSettings() {
    colorButton.checked = color.Get() ? 1 : 0;
    cmykButton.checked = cmyk.Get() ? 1 : 0;
}

// The worker only notes that the rules are due; they are applied on the
// user-interface thread with the redraw that the note posts.
void CLfConvert::NotColourChanged(uint32_t value) {
    notColour.store(value);
    if (PlatIsUiThread()) {
        RulesChanged();
        return;
    }
    rulesDue_.store(1);
    CFgUICtrl::Redraw();
}

void CLfConvert::Redraw() {
    if (PlatIsUiThread() && rulesDue_.exchange(0)) ApplyRules();
    CFgUIDialog::Redraw();
}

int32_t CLfConvert::OnFilter(CImgBuff* image, uint64_t, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t,
                             uint32_t, uint32_t*, uint32_t*) {
    if (!image || !image->buffer) return 0;
    const int32_t format = image->buffer->format;
    if (format < kImgRgb8 || format > kImgCmyk8) {
        if (!notColour.load()) NotColourChanged(1);
        return 1;
    }
    if (notColour.load()) NotColourChanged(0);
    const ImgRect r = RegionRect(x, y, w, h);
    const uint32_t colourise = color.Get();
    ImgExtractComponent(image, Code(sel.Get(), cmyk.Get()), static_cast<int32_t>(colourise), &r);
    // The component of the whole image becomes a grey image of its depth.
    if (!colourise && x == 0 && y == 0 && w == image->buffer->width && h == image->buffer->height)
        image->buffer->ConvertFormat(static_cast<uint32_t>(GreyOfDepth(format)));
    return 1;
}
