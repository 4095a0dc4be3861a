#include "filters/processing/lf_binary.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>
#include <vector>

#include "filters/core/cfgfile.h"
#include "filters/processing/region_clip.h"
#include "image/bitmask.h"
#include "image/kernels/kernel_frame.h"
#include "image/kernels/morphology.h"

CImgFilter* CreateLfBinary() { return new (std::nothrow) CLfBinary; }

// --- the 64-bit count setting ---

void CSettingCount64::Format(wchar_t* text, size_t size) const {
    std::swprintf(text, size, L"%lu", static_cast<unsigned long>(Get()));
}

bool CSettingCount64::Parse(const wchar_t* text) {
    // As wcstoul reads it: blanks, an optional sign, the digits up to the
    // first other character; too large saturates, "-n" wraps.
    const wchar_t* p = text;
    while (*p == L' ' || *p == L'\t' || *p == L'\n' || *p == L'\r' || *p == L'\f' || *p == L'\v') ++p;
    bool negative = false;
    if (*p == L'+' || *p == L'-') negative = *p++ == L'-';
    uint64_t v = 0;
    bool overflow = false;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
        const uint64_t digit = static_cast<uint64_t>(*p - L'0');
        if (v > (UINT64_MAX - digit) / 10) overflow = true;
        v = v * 10 + digit;
    }
    if (overflow)
        v = UINT64_MAX;
    else if (negative)
        v = 0 - v;
    Set(v);
    return true;
}

// --- the panel ---

CLfBinary::CLfBinary() {
    for (int i = 1; i < 6; ++i) typeButtons[0].AddToGroup(&typeButtons[i]);
    for (CFgUIChkButton& b : typeButtons) {
        b.callback = OnTypeRadio;
        b.data = this;
    }
    for (CFgUIEdit* e : {&repeatEdit, &shaveEdit}) {
        e->changed = OnCountTyped;
        e->focusLost = OnCountCommit;
        e->data = this;
    }
    UseSetButton(&setButton);
    ShowSettings();
    AttachControls();
}

PanelSpec CLfBinary::Panel() {
    const bool jp = Japanese();
    const int32_t radioW = jp ? 90 : 160, editX = jp ? 100 : 180, labelX = jp ? 145 : 220;
    return {L"Binary image process", L"2値画像処理", 275, 180, 275, 180,
            {
                {&typeButtons[0], 10, 10, radioW, 20, L"exclusive expansion", L"排他膨張"},
                {&typeButtons[1], 10, 30, radioW, 20, L"expansion", L"膨張"},
                {&typeButtons[2], 10, 50, radioW, 20, L"degeneracy", L"縮退"},
                {&typeButtons[3], 10, 70, radioW, 20, L"thinning", L"細線化"},
                {&typeButtons[4], 10, 90, radioW, 20, L"extract border", L"輪郭抽出"},
                {&typeButtons[5], 10, 110, radioW, 20, L"holl fill", L"穴埋め"},
                {&repeatEdit, editX, 30, 40, 20, nullptr, nullptr},
                {&repeatLabel, labelX, 30, jp ? 70 : 50, 20, L"repeat", L"回処理する"},
                {&shaveEdit, editX, 70, 40, 20, nullptr, nullptr},
                {&shaveLabel, labelX, 70, jp ? 120 : 50, 20, L"shave", L"pixelのヒゲを除去"},
                {&setButton, 10, 140, 255, 30, L"set", L"決定"},
            }};
}

void CLfBinary::ApplyRules() {
    const int32_t t = type.Pending();
    const uint32_t counted = t >= ExclusiveExpansion && t <= Degeneracy, thinning = t == Thinning;
    repeatEdit.enabled = repeatLabel.enabled = counted;
    shaveEdit.enabled = shaveLabel.enabled = thinning;
    setButton.enabled = pendingChanges ? 1 : 0;
    // A disabled control passes the focus on.
    for (CFgUIObj* c : {static_cast<CFgUIObj*>(&repeatEdit), static_cast<CFgUIObj*>(&shaveEdit)})
        if (!c->enabled && focused == c) FocusNext();
}

void CLfBinary::ShowCount(CFgUIEdit* edit) {
    wchar_t text[32];
    std::swprintf(text, 32, L"%lu", static_cast<unsigned long>(edit == &repeatEdit ? repeat.Pending() : shave.Pending()));
    auto changed = edit->changed;
    edit->changed = nullptr;
    edit->SetLineText(0, text);
    edit->changed = changed;
}

void CLfBinary::ShowSettings() {
    const int32_t t = type.Pending();
    typeButtons[0].SelectInGroup(t >= 0 && t <= 5 ? t : -1, 0);
    ShowCount(&repeatEdit);
    ShowCount(&shaveEdit);
}

void CLfBinary::LoadConfig(CCfgPack* pack) {
    CDialogFilter<CLfBinary>::LoadConfig(pack);
    bool shown = false;
    for (CFgUIEdit* edit : {&repeatEdit, &shaveEdit}) {
        const wchar_t* stored = CfgFindValue(pack, edit == &repeatEdit ? repeat.key : shave.key);
        if (!stored) continue;
        auto changed = edit->changed;
        edit->changed = nullptr;
        edit->SetLineText(0, stored);
        edit->changed = changed;
        shown = true;
    }
    if (shown && PanelShown()) CFgUICtrl::Redraw();
}

void CLfBinary::OnTypeRadio(CFgUIChkButton* button, void* data) {
    auto* f = static_cast<CLfBinary*>(data);
    const int32_t index = (button->leader ? button->leader : button)->GetGroupSelection();
    if (index < 0 || index > 5 || index == f->type.Pending()) return;
    f->type.SetPending(index);
    f->Changed();
    f->ApplyRules();
}

void CLfBinary::OnCountTyped(CFgUIEdit*, void* data) { static_cast<CLfBinary*>(data)->Changed(); }

void CLfBinary::OnCountCommit(CFgUIEdit* edit, void* data) {
    auto* f = static_cast<CLfBinary*>(data);
    const bool isRepeat = edit == &f->repeatEdit;
    // Decimal digits only, not empty; the repeat count also not 0.
    const wchar_t* text = edit->GetText();
    bool valid = text && *text;
    uint64_t v = 0;
    for (const wchar_t* p = text; valid && *p; ++p) {
        const uint64_t digit = static_cast<uint64_t>(*p - L'0');
        if (*p < L'0' || *p > L'9' || v > (UINT64_MAX - digit) / 10) valid = false;
        else v = v * 10 + digit;
    }
    if (valid && isRepeat && v == 0) valid = false;
    if (!valid) {
        f->ShowCount(edit);
        if (f->PanelShown()) f->CFgUICtrl::Redraw();
        return;
    }
    CSettingCount64& s = isRepeat ? f->repeat : f->shave;
    if (v == s.Pending()) return;
    s.SetPending(v);
    f->Changed();
}

// --- the step ---

namespace {

// The region's bytes, to tell whether a pass changed anything.
// The region's rows before a pass, copied and compared on the pool: with
// the pass itself they are the whole cost of a repeat.
void CopyRegion(const CImgBuff* image, const ImgRect& r, std::vector<uint8_t>& out) {
    const size_t rowBytes = static_cast<size_t>(r.x1 - r.x0 + 1) * static_cast<size_t>(image->buffer->BytesPerPixel());
    out.resize(rowBytes * static_cast<size_t>(r.y1 - r.y0 + 1));
    ImgForEachRegionRow(r, [&](int32_t y) {
        std::memcpy(out.data() + rowBytes * static_cast<size_t>(y - r.y0), image->buffer->PixelAt(r.x0, y), rowBytes);
    });
}

bool SameRegion(const CImgBuff* image, const ImgRect& r, const std::vector<uint8_t>& before) {
    const size_t rowBytes = static_cast<size_t>(r.x1 - r.x0 + 1) * static_cast<size_t>(image->buffer->BytesPerPixel());
    std::atomic<bool> same{true};
    ImgForEachRegionRow(r, [&](int32_t y) {
        if (same.load(std::memory_order_relaxed) &&
            std::memcmp(before.data() + rowBytes * static_cast<size_t>(y - r.y0), image->buffer->PixelAt(r.x0, y), rowBytes))
            same.store(false, std::memory_order_relaxed);
    });
    return same.load();
}

}  // namespace

int32_t CLfBinary::OnFilter(CImgBuff* image, uint64_t, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                            uint32_t bg, uint32_t*, uint32_t*) {
    ImgRect r;
    if (!ClippedRegion(image, x, y, w, h, &r) || !image->buffer->format) return 1;
    const auto c = static_cast<int32_t>(connect);
    const int32_t t = type.Get();
    switch (t) {
    case ExclusiveExpansion:
    case Expansion:
    case Degeneracy: {
        if (c != 4 && c != 8) return 1;
        const uint64_t passes = repeat.Get();
        std::vector<uint8_t> before;
        for (uint64_t i = 0; i < passes; ++i) {
            CopyRegion(image, r, before);
            if (t == ExclusiveExpansion) {
                ImgBinaryExpandExclusive(image, c, bg, r.x0, r.y0, r.x1, r.y1);
            } else if (t == Expansion) {
                ImgBinaryExpand(image, c, bg, &r);
            } else {
                BitMask* mask = ImgForegroundMask(image, bg, r.x0, r.y0, r.x1, r.y1);
                if (!mask) continue;
                ImgBinaryShrink(mask, image, c, bg, r.x0, r.y0, r.x1, r.y1);
                ImgBitMaskDestroy(mask);
            }
            if (SameRegion(image, r, before)) break;
        }
        return 1;
    }
    case Thinning:
        ImgBinaryThin(image, c, bg, &r);
        if (shave.Get() > 0) ImgBinaryShave(image, shave.Get(), c, bg, &r);
        return 1;
    case ExtractBorder:
        ImgBinaryBorder(image, c, bg, &r);
        return 1;
    case HoleFill:
        ImgBinaryFillHoles(image, c, bg, &r);
        return 1;
    default:
        return 1;
    }
}
