#include "filters/processing/lf_lut.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>

#include "filters/core/cfgfile.h"
#include "filters/core/filterctrl.h"
#include "filters/processing/filter_file.h"
#include "filters/processing/small_filter.h"
#include "image/colour.h"
#include "image/kernels/kernel_frame.h"
#include "platform/plat_messages.h"
#include "toolkit/fg_draw.h"
#include "toolkit/fg_screen.h"

CImgFilter* CreateLfLut() { return new (std::nothrow) CLfLut; }

namespace {

const uint8_t kDefaultPalette[16][3] = {
    {0, 0, 0},       {255, 255, 255}, {255, 0, 0},     {0, 255, 0},     {0, 0, 255},     {0, 255, 255},
    {255, 0, 255},   {255, 255, 0},   {85, 85, 85},    {107, 107, 107}, {36, 36, 36},    {73, 73, 73},
    {109, 109, 109}, {146, 146, 146}, {182, 182, 182}, {219, 219, 219},
};

const FilterFileKind kLutFile{L"lut", L"lut_ver", LutVersionReadable};

// The top 8 bits of trunc(c x 4294967295), c clamped to 0..1.
uint8_t Top8(double c) { return static_cast<uint8_t>(ImgClampToU32(std::clamp(c, 0.0, 1.0) * 4294967295.0) >> 24); }

// Anchors interpolated over 0..255: p = i / 255 x (n - 1).
void Interpolated(const uint8_t (*anchors)[3], uint64_t n, uint8_t (*out)[256]) {
    for (int i = 0; i < 256; ++i) {
        const double p = i / 255.0 * static_cast<double>(n - 1);
        const auto k = static_cast<uint64_t>(p);
        for (int c = 0; c < 3; ++c) {
            if (p == static_cast<double>(k) || k >= n - 1) {
                out[c][i] = anchors[std::min(k, n - 1)][c];
                continue;
            }
            const double f = p - static_cast<double>(k);
            const double v = anchors[k + 1][c] * f + anchors[k][c] * (1 - f);
            out[c][i] = static_cast<uint8_t>(std::min(255.0, std::trunc(v)));
        }
    }
}

// Equal steps: k = trunc(i / (255 / n)), at most n - 1.
uint64_t Step(int i, uint64_t n) {
    const auto k = static_cast<uint64_t>(i / (255.0 / static_cast<double>(n)));
    return std::min(k, n - 1);
}

struct LutJob {
    C_ImgBuff* image;
    int32_t x0, x1;
    const uint8_t (*lut)[256];
    bool grey;
};

void LutRow(const LutJob& job, int32_t y) {
    C_ImgBuff& b = *job.image;
    const auto* r = job.lut[0];
    const auto* g = job.lut[1];
    const auto* bl = job.lut[2];
    uint8_t levels[kImgSpanPixels];
    for (int32_t x0 = job.x0; x0 <= job.x1; x0 += kImgSpanPixels) {
        const int32_t n = std::min(kImgSpanPixels, job.x1 - x0 + 1);
        ImgReadGray8Span(b, x0, y, n, levels);
        if (b.format == kImgGray8 && job.grey) {
            uint8_t* p = b.PixelAt(x0, y);
            for (int32_t i = 0; i < n; ++i) p[i] = r[levels[i]];
        } else if (b.format == kImgRgb8) {
            uint8_t* p = b.PixelAt(x0, y);
            for (int32_t i = 0; i < n; ++i, p += 3) {
                const uint8_t v = levels[i];
                p[0] = r[v];
                p[1] = job.grey ? r[v] : g[v];
                p[2] = job.grey ? r[v] : bl[v];
            }
        } else if (job.grey) {
            for (int32_t i = 0; i < n; ++i) b.SetPixelGray8(x0 + i, y, r[levels[i]]);
        } else {
            for (int32_t i = 0; i < n; ++i) {
                const uint8_t v = levels[i];
                b.SetPixelRgb8(x0 + i, y, r[v], g[v], bl[v]);
            }
        }
    }
}

}  // namespace

CLfLut::CLfLut() {
    for (int i = 0; i < 256; ++i)
        for (int c = 0; c < 3; ++c) lut[c][i] = backup[c][i] = static_cast<uint8_t>(i);
    for (int k = 0; k < 16; ++k)
        for (int c = 0; c < 3; ++c) palette[c][k] = kDefaultPalette[k][c];
    std::memset(gradient, 0, sizeof gradient);
    for (int k = 0; k < 16; ++k) FillSwatch(k);

    menuBar.data = this;
    menuBar.callback = [](CFgUIMenuBar*, void* data, int32_t, int32_t id) { static_cast<CLfLut*>(data)->MenuCommand(id); };
    lutReset.data = paletteReset.data = setButton.data = addButton.data = this;
    lutReset.callback = [](CFgUIButton*, void* d) { static_cast<CLfLut*>(d)->ResetLut(); };
    paletteReset.callback = [](CFgUIButton*, void* d) { static_cast<CLfLut*>(d)->ResetPalette(); };
    setButton.callback = [](CFgUIButton*, void* d) { static_cast<CLfLut*>(d)->SetRange(); };
    addButton.callback = [](CFgUIButton*, void* d) { static_cast<CLfLut*>(d)->AddColour(); };
    interpolateCheck.checked = 1;
    interpolateCheck.data = this;
    interpolateCheck.callback = [](CFgUIChkButton* b, void* d) { static_cast<CLfLut*>(d)->InterpolateToggled(b->checked); };
    preserveCheck.checked = 1;
    preserveCheck.data = this;
    preserveCheck.callback = [](CFgUIChkButton* b, void* d) { static_cast<CLfLut*>(d)->preserveLuminance = b->checked ? 1 : 0; };
    const double tints[3][3] = {{0.9, 0.7, 0.7}, {0.7, 0.9, 0.7}, {0.7, 0.7, 0.9}};
    for (int c = 0; c < 3; ++c) {
        CFgUIScrollBar& s = sliders[c];
        s.orientation = kFgBarHorizontal;
        s.minimum = 0;
        s.maximum = 255;
        s.page = 1;
        std::copy(tints[c], tints[c] + 3, s.color);
        s.data = this;
    }
    sliders[0].callback = [](CFgUIScrollBar*, void* d, int32_t v) { static_cast<CLfLut*>(d)->SetPaletteComponent(0, v); };
    sliders[1].callback = [](CFgUIScrollBar*, void* d, int32_t v) { static_cast<CLfLut*>(d)->SetPaletteComponent(1, v); };
    sliders[2].callback = [](CFgUIScrollBar*, void* d, int32_t v) { static_cast<CLfLut*>(d)->SetPaletteComponent(2, v); };
    rangeBar.orientation = kFgBarHorizontal;
    rangeBar.minimum = 0;
    rangeBar.maximum = 255;
    rangeBar.low = 0;
    rangeBar.high = 255;
    rangeBar.data = this;
    rangeBar.callback = [](CFgUIRangeBar*, void* d, int32_t lo, int32_t hi) { static_cast<CLfLut*>(d)->RangeBarChanged(lo, hi); };
    fromLabel.SetText(L"0");
    toLabel.SetText(L"255");

    tabs.AddTab(L"パレット編集");
    tabs.AddTab(L"LUT直接編集");
    tabs.AddTab(L"LUTグラデーション編集");
    for (int c = 0; c < 3; ++c) {
        tabs.AddControl(kPagePalette, &sliders[c]);
        tabs.AddControl(kPagePalette, &sliderValues[c]);
    }
    for (CFgUIObj* o : std::initializer_list<CFgUIObj*>{&fromLabel, &rangeBar, &toLabel, &preserveCheck, &setButton})
        tabs.AddControl(kPageManual, o);
    tabs.AddControl(kPageAuto, &interpolateCheck);
    tabs.AddControl(kPageAuto, &addButton);
    AttachControls();
    tabs.SelectTab(kPageAuto, 1);
    ShowSliders(true);
    Refresh();
}

CLfLut::~CLfLut() { Destroy(); }

int32_t CLfLut::MenuHeight() const { return static_cast<int32_t>(font.height ? font.height : 14) + 8; }

void CLfLut::SwatchPosition(int32_t k, int32_t m, int32_t* x, int32_t* y) {
    *x = 8 + 1 + 32 * (k % 8);
    *y = m + 40 + 1 + 32 * (k / 8);
}

PanelSpec CLfLut::Panel() {
    const int32_t m = MenuHeight();
    PanelSpec spec{L"Pseudo-color", L"疑似カラー", 360, 264, 360, 264,
                   {
                       {&menuBar, 0, 0, 360, m, nullptr, nullptr},
                       {&lutReset, 272, m + 8, 80, 30, L"RESET", L"初期化"},
                       {&paletteReset, 272, m + 40, 80, 66, L"RESET", L"初期化"},
                   }};
    // The tabs have no room with a very tall menu font.
    if (142 - m >= 1) spec.controls.push_back({&tabs, 8, m + 114, 344, 142 - m, nullptr, nullptr});
    for (int c = 0; c < 3; ++c) {
        spec.controls.push_back({&sliders[c], 16, m + 144 + 28 * c, 294, 24, nullptr, nullptr});
        spec.controls.push_back({&sliderValues[c], 314, m + 144 + 28 * c, 32, 24, nullptr, nullptr});
    }
    spec.controls.push_back({&fromLabel, 16, m + 144, 32, 24, nullptr, nullptr});
    spec.controls.push_back({&rangeBar, 48, m + 144, 264, 24, nullptr, nullptr});
    spec.controls.push_back({&toLabel, 312, m + 144, 32, 24, nullptr, nullptr});
    spec.controls.push_back({&preserveCheck, 16, m + 172, 328, 24, L"preserve luminance", L"輝度を残す"});
    spec.controls.push_back({&setButton, 16, m + 200, 328, 24, L"SET", L"設定"});
    spec.controls.push_back({&interpolateCheck, 16, m + 172, 328, 24, L"interpolate", L"補完する"});
    spec.controls.push_back({&addButton, 16, m + 200, 328, 24, L"ADD", L"色を追加"});
    return spec;
}

void CLfLut::ShowUi(int32_t show, CFgScreen* parentScreen) {
    if (show && !PanelShown()) {
        const bool jp = Japanese();
        menuBar.RemoveAllItems();
        menuBar.AddItem(L"LUT",
                        jp ? L"LUTを開く\t1\nLUTを保存\t2\nプリセット\t{サーモグラフ1\t101\nサーモグラフ2\t102\n"
                             L"8階調グレースケール\t103\n4階調グレースケール\t104\nスペクトル\t105\n}\n"
                           : L"Open LUT\t1\nSave LUT\t2\nPreset\t{Thermal graph1\t101\nThermal graph2\t102\n"
                             L"Grayscale8\t103\nGrayscale4\t104\n}\n",
                        nullptr, nullptr);
        tabs.SetTabLabel(kPagePalette, jp ? L"パレット" : L"palette");
        tabs.SetTabLabel(kPageManual, jp ? L"手動" : L"manual");
        tabs.SetTabLabel(kPageAuto, jp ? L"自動" : L"auto");
    }
    CDialogFilterBase::ShowUi(show, parentScreen);
    if (show && PanelShown()) {
        {
            CriticalSectionLock gl(g_GlLock);
            CriticalSectionLock own(lock_);
            lutBar.AttachToScreen(this);
            for (CFgTexture& s : swatches) s.AttachToScreen(this);
        }
        CFgUICtrl::Redraw();
    }
}

// --- tables ---

void CLfLut::Refresh() {
    CriticalSectionLock gl(g_GlLock);
    CriticalSectionLock own(lock_);
    // The grey flag follows the LUT whether or not the bar can be shown.
    bool isGrey = true;
    for (int i = 0; i < 256 && isGrey; ++i) isGrey = lut[0][i] == lut[1][i] && lut[1][i] == lut[2][i];
    grey = isGrey ? 1 : 0;
    if (!lutBar.pixels && !lutBar.Create(256, 30, 1, 1, 0, nullptr)) return;
    if (PanelShown() && lutBar.screen != this) lutBar.AttachToScreen(this);
    for (uint64_t row = 0; row < 30; ++row) {
        uint8_t* p = lutBar.pixels + row * lutBar.RowBytes();
        for (int i = 0; i < 256; ++i, p += 3) {
            p[0] = lut[0][i];
            p[1] = lut[1][i];
            p[2] = lut[2][i];
        }
    }
    lutBar.Upload();
}

void CLfLut::FillSwatch(int32_t k) {
    CriticalSectionLock gl(g_GlLock);
    CFgTexture& s = swatches[k];
    if (!s.pixels && !s.Create(30, 30, 1, 1, 0, nullptr)) return;
    for (uint64_t row = 0; row < 30; ++row) {
        uint8_t* p = s.pixels + row * s.RowBytes();
        for (int i = 0; i < 30; ++i, p += 3) {
            p[0] = palette[0][k];
            p[1] = palette[1][k];
            p[2] = palette[2][k];
        }
    }
    s.Upload();
}

template <class F>
void CLfLut::ChangeLut(bool keepBackup, F&& change) {
    {
        CriticalSectionLock gl(g_GlLock);
        CriticalSectionLock own(lock_);
        if (!keepBackup) std::memcpy(backup, lut, sizeof lut);
        change();
        Refresh();
    }
    Rerun(0);
    if (PanelShown()) CFgUICtrl::Redraw();
}

void CLfLut::ResetLut() {
    ChangeLut(false, [&] {
        for (int i = 0; i < 256; ++i)
            for (int c = 0; c < 3; ++c) lut[c][i] = static_cast<uint8_t>(i);
        gradientCount = 0;
    });
}

void CLfLut::Undo() {
    ChangeLut(true, [&] { std::memcpy(lut, backup, sizeof lut); });
}

void CLfLut::LuminanceColour(uint8_t r, uint8_t g, uint8_t b, int level, uint8_t* out) {
    double x, y, z, l, a, bb;
    ImgSrgbToXyz(r / 255.0, g / 255.0, b / 255.0, &x, &y, &z);
    ImgXyzToLab(x, y, z, &l, &a, &bb);
    l = 100.0 * level / 255.0;
    ImgLabToXyz(l, a, bb, &x, &y, &z);
    double c[3];
    ImgXyzToSrgb(x, y, z, &c[0], &c[1], &c[2]);
    for (int k = 0; k < 3; ++k) out[k] = Top8(c[k]);
}

void CLfLut::SetRange() {
    const int32_t from = rangeBar.low, to = rangeBar.high;
    if (from > to) return;
    const uint8_t r = palette[0][selected], g = palette[1][selected], b = palette[2][selected];
    ChangeLut(false, [&] {
        for (int32_t i = std::max(from, 0); i <= std::min(to, 255); ++i) {
            uint8_t c[3] = {r, g, b};
            if (preserveLuminance) LuminanceColour(r, g, b, i, c);
            for (int k = 0; k < 3; ++k) lut[k][i] = c[k];
        }
    });
}

void CLfLut::BuildGradient(const uint8_t (*colours)[256], uint64_t n, bool interpolateOn, uint8_t (*out)[256]) {
    if (n == 0) return;
    if (n == 1 || interpolateOn) {
        uint8_t anchors[256][3];
        for (uint64_t k = 0; k < n; ++k)
            for (int c = 0; c < 3; ++c) anchors[k][c] = colours[c][k];
        if (n == 1) {
            for (int i = 0; i < 256; ++i)
                for (int c = 0; c < 3; ++c) out[c][i] = anchors[0][c];
            return;
        }
        Interpolated(anchors, n, out);
        return;
    }
    for (int i = 0; i < 256; ++i) {
        const uint64_t k = Step(i, n);
        for (int c = 0; c < 3; ++c) out[c][i] = colours[c][k];
    }
}

void CLfLut::AddColour() {
    if (gradientCount >= 256) return;
    for (int c = 0; c < 3; ++c) gradient[c][gradientCount] = palette[c][selected];
    ++gradientCount;
    ChangeLut(false, [&] { BuildGradient(gradient, gradientCount, interpolate != 0, lut); });
}

void CLfLut::InterpolateToggled(uint32_t on) {
    interpolate = on ? 1 : 0;
    ChangeLut(false, [&] { BuildGradient(gradient, gradientCount, interpolate != 0, lut); });
}

void CLfLut::Preset(int32_t id) {
    if (id < 101 || id > 105) return;
    ChangeLut(false, [&] {
        static const uint8_t thermal1[7][3] = {{0, 0, 0},   {0, 0, 255}, {0, 255, 255},  {0, 255, 0},
                                               {255, 255, 0}, {255, 0, 0}, {255, 255, 255}};
        switch (id) {
            case 101:
                Interpolated(thermal1, 7, lut);
                break;
            case 102:
                Interpolated(thermal1 + 1, 5, lut);
                break;
            case 103:
            case 104: {
                const uint64_t n = id == 103 ? 8 : 4;
                for (int i = 0; i < 256; ++i) {
                    const uint64_t k = Step(i, n);
                    // Levels spread evenly over 0..255, rounded (0, 36, 73, ... for 8).
                    const auto v = static_cast<uint8_t>(std::lround(static_cast<double>(k) * 255.0 / static_cast<double>(n - 1)));
                    for (int c = 0; c < 3; ++c) lut[c][i] = v;
                }
                break;
            }
            default:
                for (int i = 0; i < 256; ++i) {
                    double x, y, z, c[3];
                    ImgWavelengthToXyz(400 + (301 * i) / 255, &x, &y, &z);
                    ImgXyzToSrgb(x, y, z, &c[0], &c[1], &c[2]);
                    for (int k = 0; k < 3; ++k) lut[k][i] = Top8(c[k]);
                }
                break;
        }
    });
}

void CLfLut::ShowSliders(bool labels) {
    for (int c = 0; c < 3; ++c) {
        const int32_t v = palette[c][selected];
        if (v >= sliders[c].minimum && v <= sliders[c].maximum) sliders[c].position = v;
        if (labels) sliderValues[c].SetText(std::to_wstring(v).c_str());
    }
}

void CLfLut::ResetPalette() {
    for (int k = 0; k < 16; ++k)
        for (int c = 0; c < 3; ++c) palette[c][k] = kDefaultPalette[k][c];
    for (int k = 0; k < 16; ++k) FillSwatch(k);
    ShowSliders(true);
    if (PanelShown()) CFgUICtrl::Redraw();
}

void CLfLut::SetPaletteComponent(int32_t channel, int32_t value) {
    if (channel < 0 || channel > 2 || value < 0 || value > 255) return;
    palette[channel][selected] = static_cast<uint8_t>(value);
    FillSwatch(selected);
    sliderValues[channel].SetText(std::to_wstring(value).c_str());
    if (PanelShown()) CFgUICtrl::Redraw();
}

void CLfLut::SelectPaletteEntry(int32_t k) {
    if (k < 0 || k > 15) return;
    selected = k;
    ShowSliders(true);
    if (PanelShown()) CFgUICtrl::Redraw();
}

void CLfLut::RangeBarChanged(int32_t lo, int32_t hi) {
    fromLabel.SetText(std::to_wstring(lo).c_str());
    toLabel.SetText(std::to_wstring(hi).c_str());
    if (PanelShown()) CFgUICtrl::Redraw();
}

void CLfLut::MenuCommand(int32_t id) {
    if (id == 1)
        OpenFilterFile(this, this, kLutFile);
    else if (id == 2)
        SaveFilterFile(this, this, kLutFile);
    else
        Preset(id);
}

// --- settings ---

void CLfLut::SaveConfig(CCfgPack* pack) {
    CDialogFilterBase::SaveConfig(pack);
    if (!pack) return;
    auto list = [](const uint8_t* values, int n) {
        std::wstring text;
        for (int i = 0; i < n; ++i) text += (i ? L"," : L"") + std::to_wstring(values[i]);
        return text;
    };
    CriticalSectionLock own(lock_);
    const wchar_t* lutKeys[3] = {L"LUT_R", L"LUT_G", L"LUT_B"};
    const wchar_t* palKeys[3] = {L"PAL_R", L"PAL_G", L"PAL_B"};
    for (int c = 0; c < 3; ++c) pack->AddItem(lutKeys[c], list(lut[c], 256).c_str());
    for (int c = 0; c < 3; ++c) pack->AddItem(palKeys[c], list(palette[c], 16).c_str());
    pack->AddItem(L"PRESERVE_LUMINANCE", preserveLuminance ? L"1" : L"0");
    pack->AddItem(L"INTERPOLATE", interpolate ? L"1" : L"0");
}

namespace {

// Fields of a comma list into entries 0, 1, ...; stops at a field above 255
// (a negative one counts as above), at the list's end or at the table's.
void ReadList(const wchar_t* text, uint8_t* table, int size) {
    if (!text) return;
    int i = 0;
    const wchar_t* p = text;
    while (i < size) {
        const wchar_t* comma = std::wcschr(p, L',');
        const std::wstring field(p, comma ? static_cast<size_t>(comma - p) : std::wcslen(p));
        const uint32_t v = SettingTextToUInt32(field.c_str());
        if (v > 255) return;
        table[i++] = static_cast<uint8_t>(v);
        if (!comma) return;
        p = comma + 1;
    }
}

}  // namespace

void CLfLut::LoadConfig(CCfgPack* pack) {
    CDialogFilterBase::LoadConfig(pack);
    if (!pack) return;
    {
        CriticalSectionLock gl(g_GlLock);
        CriticalSectionLock own(lock_);
        const wchar_t* lutKeys[3] = {L"LUT_R", L"LUT_G", L"LUT_B"};
        const wchar_t* palKeys[3] = {L"PAL_R", L"PAL_G", L"PAL_B"};
        for (int c = 0; c < 3; ++c) ReadList(CfgFindValue(pack, lutKeys[c]), lut[c], 256);
        for (int c = 0; c < 3; ++c) ReadList(CfgFindValue(pack, palKeys[c]), palette[c], 16);
        if (const wchar_t* t = CfgFindValue(pack, L"PRESERVE_LUMINANCE")) preserveLuminance = std::wcscmp(t, L"0") ? 1 : 0;
        if (const wchar_t* t = CfgFindValue(pack, L"INTERPOLATE")) interpolate = std::wcscmp(t, L"0") ? 1 : 0;
        preserveCheck.checked = preserveLuminance;
        interpolateCheck.checked = interpolate;
    }
    for (int k = 0; k < 16; ++k) FillSwatch(k);
    Refresh();
    ShowSliders(false);
    if (PanelShown()) CFgUICtrl::Redraw();
}

// --- the step and the panel's input ---

int32_t CLfLut::OnFilter(CImgBuff* image, uint64_t, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t, uint32_t,
                         uint32_t*, uint32_t*) {
    if (!image || !image->buffer || !ImgFormatValid(image->buffer->format)) return 1;
    C_ImgBuff& b = *image->buffer;
    if (pickRequest_.load() && tabs.current == kPageManual) {
        pickRequest_ = 0;
        const int64_t px = pickX_.load(), py = pickY_.load();
        int32_t lo = 255, hi = 0;
        for (int64_t yy = py - 2; yy <= py + 2; ++yy)
            for (int64_t xx = px - 2; xx <= px + 2; ++xx) {
                if (xx < 0 || yy < 0 || xx >= b.width || yy >= b.height) continue;
                uint8_t v = 0;
                b.GetPixelGray8(static_cast<int32_t>(xx), static_cast<int32_t>(yy), &v);
                lo = std::min<int32_t>(lo, v);
                hi = std::max<int32_t>(hi, v);
            }
        if (lo <= hi) {
            CriticalSectionLock own(lock_);
            picked_ = true;
            pickedLo_ = lo;
            pickedHi_ = hi;
        }
        // The user-interface thread moves the range bar on this redraw.
        if (window) PlatPostRedraw(window);
    }
    const ImgRect region = RegionRect(x, y, w, h);
    // The table is copied under the filter's lock; the pass itself holds no
    // lock, so painting and edits never wait for a whole frame.
    uint8_t table[3][256];
    {
        CriticalSectionLock own(lock_);
        std::memcpy(table, lut, sizeof table);
    }
    const bool isGrey = grey.load() != 0;
    if (!isGrey && b.format == kImgGray8) {
        // Grey to colour and through the table in one pass: the rectangle's
        // pixels take the table's colours, the others their grey.
        ImgRect r;
        if (!ImgGetRoi(&r, image, &region)) {
            b.ConvertFormat(kImgRgb8);
            return 1;
        }
        C_ImgBuff coloured;
        if (!coloured.Create(b.width, b.height, kImgRgb8)) return 1;
        const ImgRect all{0, 0, b.width - 1, b.height - 1};
        ImgForEachRegionRow(all, [&](int32_t row) {
            const uint8_t* g = b.PixelAt(0, row);
            uint8_t* p = coloured.PixelAt(0, row);
            const bool inside = row >= r.y0 && row <= r.y1;
            const int32_t from = inside ? r.x0 : b.width, to = inside ? r.x1 + 1 : b.width;
            const auto replicate = [&](int32_t i0, int32_t i1) {
                for (int32_t i = i0; i < i1; ++i) p[3 * i] = p[3 * i + 1] = p[3 * i + 2] = g[i];
            };
            replicate(0, from);
            for (int32_t i = from; i < to; ++i) {
                const uint8_t v = g[i];
                p[3 * i] = table[0][v];
                p[3 * i + 1] = table[1][v];
                p[3 * i + 2] = table[2][v];
            }
            replicate(to, b.width);
        });
        b.TakePixels(&coloured);
        return 1;
    }
    if (!isGrey && b.format <= kImgGray32) {
        const uint32_t colour[4] = {0, kImgRgb8, kImgRgb16, kImgRgb32};
        if (!b.ConvertFormat(colour[b.format])) return 1;
    }
    ImgRect r;
    if (!ImgGetRoi(&r, image, &region)) return 1;
    const LutJob job{&b, r.x0, r.x1, table, isGrey};
    ImgForEachRegionRow(r, [&](int32_t row) { LutRow(job, row); });
    return 1;
}

void CLfLut::OnLButtonDown(int64_t x, int64_t y, uint32_t) {
    if (tabs.current != kPageManual) return;
    pickX_ = x;
    pickY_ = y;
    pickRequest_ = 1;
    Rerun(0);
}

void CLfLut::Redraw() {
    if (DeferRedraw()) return;
    bool picked;
    int32_t lo, hi;
    {
        CriticalSectionLock own(lock_);
        picked = picked_;
        lo = pickedLo_;
        hi = pickedHi_;
        picked_ = false;
    }
    if (picked && lo >= rangeBar.minimum && hi <= rangeBar.maximum) rangeBar.Notify(lo, hi);
    CFgUIDialog::Redraw();
}

void CLfLut::OnLButtonDown(int32_t px, int32_t py) {
    const int32_t m = MenuHeight();
    if (px >= 8 && px < 264 && py >= m + 8 && py < m + 38) {
        Undo();
        return;
    }
    for (int32_t k = 0; k < 16; ++k) {
        int32_t sx, sy;
        SwatchPosition(k, m, &sx, &sy);
        if (px >= sx && px < sx + 30 && py >= sy && py < sy + 30) {
            SelectPaletteEntry(k);
            return;
        }
    }
    RouteLButtonDown(px, py);
}

void CLfLut::DrawOverlay() {
    static const double red[3] = {1, 0, 0}, white[3] = {1, 1, 1};
    const int32_t m = MenuHeight();
    int32_t sx, sy;
    SwatchPosition(selected, m, &sx, &sy);
    FgFillRect(this, sx - 2, sy - 2, sx + 32, sy + 32, red);
    FgFillRect(this, sx - 1, sy - 1, sx + 31, sy + 31, white);
    for (int32_t k = 0; k < 16; ++k) {
        SwatchPosition(k, m, &sx, &sy);
        swatches[k].DrawRegion(sx, sy, 30, 30, 0, 0, 30, 30);
    }
    lutBar.DrawRegion(8, m + 8, 256, 30, 0, 0, 256, 30);
}
