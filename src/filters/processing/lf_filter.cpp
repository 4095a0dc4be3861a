#include "filters/processing/lf_filter.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <new>
#include <string>

#include "filters/core/cfgfile.h"
#include "filters/processing/filter_file.h"
#include "filters/processing/panel_rules.h"
#include "filters/processing/region_clip.h"
#include "image/kernels/convolve.h"

CImgFilter* CreateLfFilter() { return new (std::nothrow) CLfFilter; }

int32_t CLfFilter::filterMenuIndex_ = -1;

namespace {

const FilterFileKind kFmxFile{L"fmx", L"fmx_ver", FmxVersionReadable};

// Digits only, as a value of 1 to 2^31 - 1; false for anything else
// (a point, a sign, 0, or more than 32 bits hold).
bool ReadPositiveDigits(const wchar_t* text, int32_t* value) {
    if (!text || !*text) return false;
    int64_t v = 0;
    for (const wchar_t* p = text; *p; ++p) {
        if (*p < L'0' || *p > L'9') return false;
        v = v * 10 + (*p - L'0');
        if (v > INT32_MAX) return false;
    }
    if (v == 0) return false;
    *value = static_cast<int32_t>(v);
    return true;
}

// Exactly an optional minus and digits, as a 32-bit value (saturated).
bool ReadStrictInt(const wchar_t* text, int32_t* value) {
    if (!text) return false;
    const wchar_t* p = text[0] == L'-' ? text + 1 : text;
    if (!*p) return false;
    for (const wchar_t* q = p; *q; ++q)
        if (*q < L'0' || *q > L'9') return false;
    *value = SettingTextToInt32(text);
    return true;
}

// The next signed decimal of a comma list, read as wcstol reads it and held
// inside 32 bits; false when no number starts there.
bool ReadListValue(const wchar_t*& p, int32_t* value) {
    const wchar_t* q = p;
    while (std::iswspace(static_cast<wint_t>(*q))) ++q;
    if (*q == L'+' || *q == L'-') ++q;
    if (*q < L'0' || *q > L'9') return false;
    *value = SettingTextToInt32(p);
    while (*q >= L'0' && *q <= L'9') ++q;
    p = q;
    return true;
}

struct PresetKernel {
    int32_t id;
    int32_t block[9];
    const wchar_t* div;
};
const PresetKernel kPresets[] = {
    {101, {1, 2, 1, 2, 12, 2, 1, 2, 1}, L"24.0"},
    {102, {-1, -2, -1, -2, 24, -2, -1, -2, -1}, L"12.0"},
    {103, {-1, -2, -1, -2, 12, -2, -1, -2, -1}, L"1.0"},
    {104, {1, 2, 1, 2, 3, 2, 1, 2, 1}, L"15.0"},
    {105, {-1, -2, -1, -2, 18, -2, -1, -2, -1}, L"6.0"},
};

}  // namespace

CLfFilter::CLfFilter() {
    applied_.grid[4][4] = 1;
    applied_.kernel[4] = 1;
    menuBar.callback = OnMenuSelect;
    menuBar.data = this;
    for (int i = 1; i < 4; ++i) sizeButtons[0].AddToGroup(&sizeButtons[i]);
    for (CFgUIChkButton& b : sizeButtons) {
        b.callback = OnSizeRadio;
        b.data = this;
    }
    grid.client = this;
    grid.size = static_cast<int32_t>(panelSize);
    divEdit.changed = OnDivTyped;
    divEdit.focusLost = OnDivCommit;
    divEdit.data = this;
    for (CFgUIChkButton* b : {&medianBox, &autoDivBox}) {
        b->callback = OnCheck;
        b->data = this;
    }
    setButton.callback = OnSet;
    setButton.data = this;
    sizeButtons[0].SelectInGroup(static_cast<int32_t>((panelSize - 3) / 2), 0);
    ShowDiv();
    medianBox.checked = panelType;
    autoDivBox.checked = panelAutoDiv;
    AttachControls();
}

// The menu bar's popup must close before the controls go.
CLfFilter::~CLfFilter() { Destroy(); }

int32_t CLfFilter::MenuHeight() const { return static_cast<int32_t>(font.height ? font.height : 14); }

PanelSpec CLfFilter::Panel() {
    const int32_t m = MenuHeight();
    return {L"Filter", L"フィルター", 290, 338 + m, 290, 338 + m,
            {
                {&menuBar, 0, 0, 290, m, nullptr, nullptr},
                {&divLabel, 10, m + 238, 30, 20, L"div", L"除数"},
                {&sizeButtons[0], 10, m + 208, 50, 20, L"3x3", L"3x3"},
                {&sizeButtons[1], 80, m + 208, 50, 20, L"5x5", L"5x5"},
                {&sizeButtons[2], 150, m + 208, 50, 20, L"7x7", L"7x7"},
                {&sizeButtons[3], 220, m + 208, 50, 20, L"9x9", L"9x9"},
                {&grid, 10, m + 18, 270, 180, nullptr, nullptr},
                {&divEdit, 50, m + 238, 40, 20, nullptr, nullptr},
                {&medianBox, 150, m + 238, 110, 20, L"median", L"メディアン"},
                {&autoDivBox, 10, m + 268, 90, 20, L"auto div", L"自動除数"},
                {&setButton, 10, m + 298, 270, 30, L"set", L"決定"},
            }};
}

void CLfFilter::BuildMenu() {
    menuBar.RemoveAllItems();
    const bool jp = Japanese();
    filterMenuIndex_ = menuBar.AddItem(
        jp ? L"フィルター" : L"Filter",
        jp ? L"フィルターを開く\t1\nフィルターを保存\t2\nプリセット\t{スムージング\t101\nスムージング2\t104\n"
             L"シャープネス\t102\nシャープネス2\t105\nエッジ\t103\n}\n"
           : L"Open filter\t1\nSave filter\t2\nPreset\t{Smooth\t101\nSmooth2\t104\nSharpen\t102\nSharpen2\t105\n"
             L"Edge\t103\n}\n",
        nullptr, nullptr);
}

void CLfFilter::ShowUi(int32_t show, CFgScreen* parentScreen) {
    if (show && !PanelShown()) BuildMenu();
    CDialogFilterBase::ShowUi(show, parentScreen);
}

CLfFilter::Applied CLfFilter::Get() const {
    std::lock_guard<std::mutex> hold(lock_);
    return applied_;
}

// --- the panel ---

void CLfFilter::ApplyRules() {
    if (!CFgUICtrl::enabled) return;
    const bool median = panelType != 0;
    SetControlEnabled(this, &grid, !median);
    SetControlEnabled(this, &autoDivBox, !median);
    SetControlEnabled(this, &divEdit, !median && !panelAutoDiv);
    SetControlEnabled(this, &divLabel, !median && !panelAutoDiv);
    for (CFgUIChkButton& b : sizeButtons) SetControlEnabled(this, &b, true);
    SetControlEnabled(this, &setButton, pendingChanges != 0);
}

void CLfFilter::MarkEdited() {
    if (!pendingChanges) {
        pendingChanges = 1;
        ApplyRules();
    }
    if (PanelShown()) CFgUICtrl::Redraw();
}

void CLfFilter::ShowDiv() {
    wchar_t text[32];
    std::swprintf(text, 32, L"%ld", static_cast<long>(panelDiv));
    auto changed = divEdit.changed;
    divEdit.changed = nullptr;
    divEdit.SetLineText(0, text);
    divEdit.changed = changed;
}

void CLfFilter::OnEditChanged() {
    MarkEdited();
    if (PanelShown()) CFgUICtrl::Redraw();
}

void CLfFilter::OnSizeRadio(CFgUIChkButton* button, void* data) {
    auto* f = static_cast<CLfFilter*>(data);
    const int32_t index = (button->leader ? button->leader : button)->GetGroupSelection();
    if (index < 0 || index > 3) return;
    f->panelSize = static_cast<uint64_t>(2 * index + 3);
    f->grid.size = 2 * index + 3;
    f->MarkEdited();
}

void CLfFilter::OnDivTyped(CFgUIEdit*, void* data) { static_cast<CLfFilter*>(data)->MarkEdited(); }

void CLfFilter::OnDivCommit(CFgUIEdit* edit, void* data) {
    auto* f = static_cast<CLfFilter*>(data);
    int32_t v = 0;
    if (!ReadPositiveDigits(edit->GetText(), &v)) {
        f->ShowDiv();
        if (f->PanelShown()) f->CFgUICtrl::Redraw();
        return;
    }
    if (v == f->panelDiv) return;
    f->panelDiv = v;
    f->MarkEdited();
}

void CLfFilter::OnCheck(CFgUIChkButton* box, void* data) {
    auto* f = static_cast<CLfFilter*>(data);
    if (box == &f->medianBox)
        f->panelType = box->checked ? 1 : 0;
    else
        f->panelAutoDiv = box->checked ? 1 : 0;
    f->MarkEdited();
    f->ApplyRules();
}

void CLfFilter::OnSet(CFgUIButton*, void* data) { static_cast<CLfFilter*>(data)->ApplyEdits(); }

void CLfFilter::ApplyEdits() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        applied_.type = panelType != 0 ? 1 : 0;
        applied_.size = panelSize;
        applied_.div = panelDiv;
        applied_.autoDiv = panelAutoDiv;
        grid.GetKernel(applied_.kernel);
        std::memcpy(applied_.grid, grid.values, sizeof applied_.grid);
    }
    pendingChanges = 0;
    ApplyRules();
    if (PanelShown()) CFgUICtrl::Redraw();
    Rerun(0);
}

// --- menu, presets and kernel files ---

void CLfFilter::OnMenuSelect(CFgUIMenuBar*, void* data, int32_t item, int32_t id) {
    if (item != filterMenuIndex_) return;
    static_cast<CLfFilter*>(data)->OnMenu(id);
}

void CLfFilter::OnMenu(int32_t id) {
    if (id == 1)
        OpenFilterFile(this, this, kFmxFile);
    else if (id == 2)
        SaveFilterFile(this, this, kFmxFile);
    else if (id >= 101 && id <= 105)
        Preset(id);
}

void CLfFilter::Preset(int32_t id) {
    for (const PresetKernel& p : kPresets) {
        if (p.id != id) continue;
        std::wstring list;
        for (int32_t r = 0; r < 9; ++r)
            for (int32_t c = 0; c < 9; ++c) {
                const bool block = r >= 3 && r <= 5 && c >= 3 && c <= 5;
                if (!list.empty()) list += L',';
                list += std::to_wstring(block ? p.block[(r - 3) * 3 + (c - 3)] : 0);
            }
        CCfgFile file;
        CCfgPack* section = file.AddPack(GetId());
        if (!section) return;
        section->AddItem(L"size", L"3");
        section->AddItem(L"filter_array", list.c_str());
        section->AddItem(L"div", p.div);
        section->AddItem(L"auto_div", L"1");
        section->AddItem(L"type", L"0");
        LoadConfig(section);
        return;
    }
}

// --- settings ---

void CLfFilter::SaveConfig(CCfgPack* pack) {
    CDialogFilterBase::SaveConfig(pack);
    if (!pack) return;
    const Applied a = Get();
    wchar_t text[64];
    std::swprintf(text, 64, L"%lu", static_cast<unsigned long>(a.size));
    pack->AddItem(L"size", text);
    std::wstring list;
    for (int32_t r = 0; r < 9; ++r)
        for (int32_t c = 0; c < 9; ++c) {
            if (r || c) list += L',';
            list += std::to_wstring(a.grid[r][c]);
        }
    pack->AddItem(L"filter_array", list.c_str());
    std::swprintf(text, 64, L"%d", static_cast<int>(a.div));
    pack->AddItem(L"div", text);
    pack->AddItem(L"auto_div", a.autoDiv ? L"1" : L"0");
    pack->AddItem(L"type", a.type ? L"1" : L"0");
}

void CLfFilter::LoadConfig(CCfgPack* pack) {
    CDialogFilterBase::LoadConfig(pack);
    if (!pack) return;
    const wchar_t* sizeText = CfgFindValue(pack, L"size");
    const wchar_t* list = CfgFindValue(pack, L"filter_array");
    if (sizeText && list) {
        const uint32_t size = SettingTextToUInt32(sizeText);
        if (size == 3 || size == 5 || size == 7 || size == 9) {
            panelSize = size;
            sizeButtons[0].SelectInGroup(static_cast<int32_t>(size / 2 - 1), 0);
            grid.size = static_cast<int32_t>(size);
            // At most the 81 cells; a shorter list leaves the others.
            const wchar_t* p = list;
            for (int32_t i = 0; i < 81; ++i) {
                int32_t v = 0;
                if (!ReadListValue(p, &v)) break;
                grid.values[i / 9][i % 9] = v;
                if (*p != L',') break;
                ++p;
            }
        }
    }
    int32_t div = 0;
    // Digits only, and within 32 bits: "24.0" and an overflowing text leave the divisor.
    if (ReadPositiveDigits(CfgFindValue(pack, L"div"), &div)) {
        panelDiv = div;
        ShowDiv();
    }
    if (const wchar_t* t = CfgFindValue(pack, L"auto_div")) {
        if (std::wcscmp(t, L"0") == 0) panelAutoDiv = 0;
        if (std::wcscmp(t, L"1") == 0) panelAutoDiv = 1;
        autoDivBox.checked = panelAutoDiv;
    }
    int32_t type = 0;
    if (ReadStrictInt(CfgFindValue(pack, L"type"), &type) && (type == 0 || type == 1)) {
        panelType = static_cast<uint32_t>(type);
        medianBox.checked = panelType;
    }
    ApplyEdits();
}

// --- the step ---

int32_t CLfFilter::OnFilter(CImgBuff* image, uint64_t, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t, uint32_t,
                            uint32_t*, uint32_t*) {
    ImgRect r;
    if (!ClippedRegion(image, x, y, w, h, &r)) return 1;
    const Applied a = Get();
    if (a.type == 1) return ImgMedian(image, a.size, &r);
    return ImgConvolve(image, a.size, a.kernel, static_cast<int32_t>(a.autoDiv), a.div, &r);
}
