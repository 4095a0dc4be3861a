#include "filters/processing/lf_select.h"

#include <new>

#include "filters/processing/panel_rules.h"

CImgFilter* CreateLfSelect() { return new (std::nothrow) CLfSelect; }

namespace {

struct Entry {
    int32_t column;  // -1: the "ALL" line
    int32_t top;
    const wchar_t* english;
    const wchar_t* japanese;
};
constexpr Entry kLayout[CLfSelect::kEntries] = {
    {-1, 95, L"ALL", L"全て"},  {0, 10, L"R", L"R成分"},   {0, 30, L"G", L"G成分"},   {0, 50, L"B", L"B成分"},
    {1, 10, L"H", L"色相"},     {1, 30, L"S", L"彩度"},    {1, 50, L"V", L"輝度"},    {2, 10, L"C", L"C成分"},
    {2, 30, L"M", L"M成分"},    {2, 50, L"Y", L"Y成分"},   {2, 70, L"K", L"K成分"},   {3, 10, L"X", L"X成分"},
    {3, 30, L"Y", L"Y成分"},    {3, 50, L"Z", L"Z成分"},   {4, 10, L"L*", L"L*成分"}, {4, 30, L"a*", L"a*成分"},
    {4, 50, L"b*", L"b*成分"},  {5, 30, L"C*", L"C*成分"}, {5, 50, L"h", L"h成分"}};

}  // namespace

uint32_t CLfSelect::Code(uint32_t s, uint32_t withCmyk) {
    if (s >= kEntries) return 0;
    if (s >= 7 && s <= 9) return withCmyk ? s + 3 : s;
    return s >= kSelK ? s + 3 : s;
}

CLfSelect::CLfSelect() {
    BindEntries(&sel, &cmyk);
    ShowSettings();
    AttachControls();
}

PanelSpec CLfSelect::Panel() {
    const bool jp = Japanese();
    PanelSpec spec{L"Select components", L"成分選択", 325, 125, 450, 125, {}};
    for (uint32_t i = 0; i < kEntries; ++i) {
        const Entry& e = kLayout[i];
        const int32_t left = e.column < 0 ? 20 : 20 + e.column * (jp ? 70 : 50);
        spec.controls.push_back({&entries[i], left, e.top, 70, 20, e.english, e.japanese});
    }
    spec.controls.push_back({&cmykButton, jp ? 160 : 120, 95, 100, 20, L"CMYK", L"CMYK"});
    return spec;
}

void CLfSelect::ApplyRules() {
    if (!CFgUICtrl::enabled) return;
    SetControlEnabled(this, &entries[kSelK], cmyk.Get() != 0);
    SetControlEnabled(this, &cmykButton, sel.Get() != kSelK);
}

void CLfSelect::ShowSettings() { cmykButton.checked = cmyk.Get() ? 1 : 0; }

int32_t CLfSelect::Filter(CImgBuff*, uint64_t, int64_t*, int64_t*, int64_t*, int64_t*, uint32_t*, uint32_t*,
                          uint32_t* workFormat, uint32_t*) {
    if (workFormat) *workFormat = Code(sel.Get(), cmyk.Get());
    return 1;
}
