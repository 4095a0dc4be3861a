#include "filters/processing/lf_color_correction.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <cwchar>
#include <new>
#include <string>

#include "filters/core/cfgfile.h"
#include "filters/processing/colour_pick.h"
#include "filters/processing/region_clip.h"
#include "platform/plat_window.h"
#include "toolkit/fg_draw.h"
#include "toolkit/fg_keys.h"
#include "toolkit/fg_screen.h"

CImgFilter* CreateLfColorCorrection() { return new (std::nothrow) CLfColorCorrection; }

const int32_t CLfColorCorrection::kDefaults[kRefs][3] = {{175, 54, 60}, {231, 199, 31}, {70, 148, 73},
                                                         {8, 133, 161}, {56, 61, 150},  {187, 86, 149}};

namespace {

constexpr int32_t kSquare = 96;

bool ValidColour(double r, double g, double b) {
    for (double c : {r, g, b})
        if (!(c >= 0 && c <= 1)) return false;  // also NaN
    return true;
}

}  // namespace

void CLfColorCorrection::SquareOf(int32_t index, int32_t* left, int32_t* top) {
    // Top row red, green, blue; bottom row cyan, magenta, yellow.
    static const int32_t places[kRefs][2] = {{8, 8}, {216, 112}, {112, 8}, {8, 112}, {216, 8}, {112, 112}};
    *left = places[index][0];
    *top = places[index][1];
}

CLfColorCorrection::CLfColorCorrection() {
    for (int32_t i = 0; i < kRefs; ++i)
        for (int c = 0; c < 3; ++c) colours_[kImage][i][c] = colours_[kStandard][i][c] = kDefaults[i][c] / 255.0;
    RefillSwatches();
    AttachControls();
}

CLfColorCorrection::~CLfColorCorrection() {
    CriticalSectionLock own(lock_);
    ImgColorLutDestroy(transform_);
    transform_ = nullptr;
}

PanelSpec CLfColorCorrection::Panel() { return {L"Color correction", L"色補正", 320, 216, 320, 216, {}}; }

void CLfColorCorrection::Colour(Which which, int32_t index, double rgb[3]) const {
    CriticalSectionLock own(lock_);
    for (int c = 0; c < 3; ++c) rgb[c] = colours_[which][index][c];
}

bool CLfColorCorrection::HasTransform() const {
    CriticalSectionLock own(lock_);
    return transform_ != nullptr;
}

ColorLut* CLfColorCorrection::Build(const double (&image)[kRefs][3], const double (&standard)[kRefs][3]) const {
    double ir[kRefs], ig[kRefs], ib[kRefs], sr[kRefs], sg[kRefs], sb[kRefs];
    for (int32_t i = 0; i < kRefs; ++i) {
        ir[i] = image[i][0], ig[i] = image[i][1], ib[i] = image[i][2];
        sr[i] = standard[i][0], sg[i] = standard[i][1], sb[i] = standard[i][2];
    }
    return ImgColorLutCreateColorCorrection(ir, ig, ib, sr, sg, sb, static_cast<int32_t>(correctS.load()), 0);
}

int32_t CLfColorCorrection::SetColour(Which which, int32_t index, double r, double g, double b) {
    if (index < 0 || index >= kRefs || !ValidColour(r, g, b)) return 0;
    {
        CriticalSectionLock own(lock_);
        double next[2][kRefs][3];
        std::memcpy(next, colours_, sizeof next);
        next[which][index][0] = r, next[which][index][1] = g, next[which][index][2] = b;
        ColorLut* built = Build(next[kImage], next[kStandard]);
        if (!built) return 0;
        std::memcpy(colours_, next, sizeof next);
        ImgColorLutDestroy(transform_);
        transform_ = built;
    }
    SwatchesChanged();
    return 1;
}

void CLfColorCorrection::Reset() {
    {
        CriticalSectionLock own(lock_);
        std::memcpy(colours_[kImage], colours_[kStandard], sizeof colours_[kImage]);
        ImgColorLutDestroy(transform_);
        transform_ = nullptr;
    }
    SwatchesChanged();
}

// Swatches are textures: refilled on the user-interface thread.
void CLfColorCorrection::SwatchesChanged() {
    if (PlatIsUiThread()) {
        RefillSwatches();
        if (PanelShown()) CFgUICtrl::Redraw();
        return;
    }
    swatchesDue_.store(1);
    CFgUICtrl::Redraw();
}

void CLfColorCorrection::RefillSwatches() {
    double copy[2][kRefs][3];
    {
        CriticalSectionLock own(lock_);
        std::memcpy(copy, colours_, sizeof copy);
    }
    for (int32_t i = 0; i < kRefs; ++i) {
        FillSwatch(&swatches[kImage][i], kSquare, kSquare / 2, copy[kImage][i]);
        FillSwatch(&swatches[kStandard][i], kSquare, kSquare, copy[kStandard][i]);
    }
}

void CLfColorCorrection::ShowUi(int32_t show, CFgScreen* parentScreen) {
    CDialogFilterBase::ShowUi(show, parentScreen);
    if (!show || !PanelShown()) return;
    for (auto& row : swatches)
        for (CFgTexture& t : row) t.AttachToScreen(this);
    CFgUICtrl::Redraw();
}

void CLfColorCorrection::Redraw() {
    if (PlatIsUiThread() && swatchesDue_.exchange(0)) RefillSwatches();
    CFgUIDialog::Redraw();
}

void CLfColorCorrection::DrawOverlay() {
    const int32_t s = selected.load();
    if (s >= 0 && s < kRefs) {
        int32_t left, top;
        SquareOf(s, &left, &top);
        const double black[3] = {0, 0, 0};
        FgFillRect(this, left - 4, top - 4, left + kSquare + 3, top + kSquare + 3, black);
    }
    for (int32_t i = 0; i < kRefs; ++i) {
        int32_t left, top;
        SquareOf(i, &left, &top);
        swatches[kStandard][i].DrawCell(left, top, kSquare, kSquare, 0);
        swatches[kImage][i].DrawCell(left, top, kSquare, kSquare / 2, 0);
    }
}

void CLfColorCorrection::OnLButtonDown(int32_t x, int32_t y) {
    for (int32_t i = 0; i < kRefs; ++i) {
        int32_t left, top;
        SquareOf(i, &left, &top);
        if (x < left || x >= left + kSquare || y < top || y >= top + kSquare) continue;
        selected.store(i);
        if (y >= top + kSquare / 2) {
            double standard[3];
            Colour(kStandard, i, standard);
            SetColour(kImage, i, standard[0], standard[1], standard[2]);
            Rerun(0);
        }
        CFgUICtrl::Redraw();
        return;
    }
    CFgUIDialog::OnLButtonDown(x, y);
}

void CLfColorCorrection::OnKeyStateChanged() {
    const uint16_t keys = GetKeyState();
    int32_t s = selected.load();
    const int32_t before = s;
    if (s < 0 || s >= kRefs) {
        s = 0;
    } else {
        static const int32_t other[kRefs] = {3, 4, 5, 0, 1, 2};  // the other row
        static const int32_t leftOf[kRefs] = {4, 5, 0, 1, 2, 3};  // red -> blue -> green -> red, cyan -> yellow -> magenta -> cyan
        static const int32_t rightOf[kRefs] = {2, 3, 4, 5, 0, 1};
        const bool up = keys & kFgKeyStateUp, down = keys & kFgKeyStateDown;
        const bool left = keys & kFgKeyStateLeft, right = keys & kFgKeyStateRight;
        if (up != down) s = other[s];
        if (left != right) s = left ? leftOf[s] : rightOf[s];
    }
    selected.store(s);
    if (s != before) CFgUICtrl::Redraw();
}

void CLfColorCorrection::OnChar(uint16_t character) {
    const int32_t s = selected.load();
    if (character != L' ' || s < 0 || s >= kRefs) return;
    double standard[3];
    Colour(kStandard, s, standard);
    SetColour(kImage, s, standard[0], standard[1], standard[2]);
    Rerun(0);
}

void CLfColorCorrection::OnLButtonDown(int64_t x, int64_t y, uint32_t) {
    clickX.store(static_cast<int32_t>(std::clamp<int64_t>(x, INT32_MIN, INT32_MAX)));
    clickY.store(static_cast<int32_t>(std::clamp<int64_t>(y, INT32_MIN, INT32_MAX)));
    clickRequest.store(1);
    Rerun(0);
}

int32_t CLfColorCorrection::OnFilter(CImgBuff* image, uint64_t, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t,
                                     uint32_t, uint32_t*, uint32_t*) {
    // The user-interface thread replaces the transform too: it is read and
    // applied under the own lock, taken after g_GlLock.
    CriticalSectionLock gl(g_GlLock);
    CriticalSectionLock own(lock_);
    if (!image || !image->buffer || image->buffer->format < kImgRgb8 || image->buffer->format > kImgCmyk8) return 0;
    if (!transform_ && !clickRequest.load()) return 0;
    const int32_t s = selected.load();
    if (s >= 0 && s < kRefs && clickRequest.exchange(0)) {
        double mean[3];
        if (MeanRgb5x5(image, clickX.load(), clickY.load(), mean)) SetColour(kImage, s, mean[0], mean[1], mean[2]);
    }
    if (!transform_) return 0;
    ImgRect r;
    if (!ClippedRegion(image, x, y, w, h, &r)) return 0;
    const bool whole = r.x0 == 0 && r.y0 == 0 && r.x1 == image->buffer->width - 1 && r.y1 == image->buffer->height - 1;
    if (whole) return ImgColorLutApply(transform_, image);
    CImgBuff copy;
    if (!image->ExtractRect(&copy, r.x0, r.y0, r.x1, r.y1)) return 0;
    if (!ImgColorLutApply(transform_, &copy)) return 0;
    return image->PasteImage(&copy, static_cast<uint32_t>(r.x0), static_cast<uint32_t>(r.y0));
}

namespace {
const wchar_t* const kKeys[2][3] = {{L"IMG_R", L"IMG_G", L"IMG_B"}, {L"STD_R", L"STD_G", L"STD_B"}};
}

void CLfColorCorrection::SaveConfig(CCfgPack* pack) {
    CDialogFilterBase::SaveConfig(pack);
    if (!pack) return;
    double copy[2][kRefs][3];
    {
        CriticalSectionLock own(lock_);
        std::memcpy(copy, colours_, sizeof copy);
    }
    for (int which : {kStandard, kImage})
        for (int c = 0; c < 3; ++c) {
            std::wstring text;
            for (int32_t i = 0; i < kRefs; ++i) {
                wchar_t piece[64];
                std::swprintf(piece, 64, L",%lf", copy[which][i][c]);
                if (i) text += L' ';
                text += piece;
            }
            pack->AddItem(kKeys[which][c], text.c_str() + 1);
        }
    pack->AddItem(L"CORRECT_S", correctS.load() ? L"1" : L"0");
}

void CLfColorCorrection::LoadConfig(CCfgPack* pack) {
    CDialogFilterBase::LoadConfig(pack);
    if (!pack) return;
    // CORRECT_S first, so that the transform built below uses it.
    if (const wchar_t* text = CfgFindValue(pack, L"CORRECT_S")) correctS.store(std::wcscmp(text, L"0") == 0 ? 0 : 1);
    double loaded[2][kRefs][3];
    for (int32_t i = 0; i < kRefs; ++i)
        for (int c = 0; c < 3; ++c) loaded[kImage][i][c] = loaded[kStandard][i][c] = kDefaults[i][c] / 255.0;
    for (int which : {kStandard, kImage})
        for (int c = 0; c < 3; ++c) {
            const wchar_t* p = CfgFindValue(pack, kKeys[which][c]);
            for (int32_t i = 0; p && i < kRefs; ++i) {
                loaded[which][i][c] = std::wcstod(p, nullptr);
                p = std::wcschr(p, L',');
                if (p) ++p;
            }
        }
    // The whole loaded set at once when it is valid; otherwise colour by
    // colour, keeping what each refused value replaced.
    bool allValid = true;
    for (const auto& set : loaded)
        for (const auto& rgb : set) allValid = allValid && ValidColour(rgb[0], rgb[1], rgb[2]);
    if (allValid) {
        CriticalSectionLock own(lock_);
        if (ColorLut* built = Build(loaded[kImage], loaded[kStandard])) {
            std::memcpy(colours_, loaded, sizeof colours_);
            ImgColorLutDestroy(transform_);
            transform_ = built;
            SwatchesChanged();
            return;
        }
    }
    for (int32_t i = 0; i < kRefs; ++i) {
        SetColour(kStandard, i, loaded[kStandard][i][0], loaded[kStandard][i][1], loaded[kStandard][i][2]);
        SetColour(kImage, i, loaded[kImage][i][0], loaded[kImage][i][1], loaded[kImage][i][2]);
    }
}
