// Default behaviour of the filter base: identifier, names, language
// rebuild, chain-run entry, common settings keys, calibration and the
// image-to-display mapping.
#include <cwchar>

#include "filters/core/cfgfile.h"
#include "filters/core/imgfilter.h"

void MakeFilterId(const wchar_t* name, wchar_t* out) {
    size_t n = 0;
    for (; name && name[n] && n < static_cast<size_t>(kFilterIdMax); ++n) {
        wchar_t c = name[n];
        if (c == L' ')
            c = L'_';
        else if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
        out[n] = c;
    }
    out[n] = L'\0';
}

const wchar_t* CImgFilter::GetId() {
    if (idCache[0] == L'\0') MakeFilterId(GetName(L"en"), idCache);
    return idCache;
}

const wchar_t* CImgFilter::GetName(const wchar_t* languageCode) {
    return languageCode && std::wcscmp(languageCode, L"jp") == 0 ? L"空" : L"null";
}

void CImgFilter::OnLang(const wchar_t* /*languageCode*/) {
    // A filter of an inactive chain keeps its UI closed; the chain switch
    // shows it again with the new labels.
    if (visible != 1 || hiddenByTab) return;
    CFgScreen* parent = uiParent;
    visible = 0;
    uiParent = nullptr;
    ShowUi(0, nullptr);
    visible = 1;
    uiParent = parent;
    ShowUi(1, parent);
}

int32_t CImgFilter::Filter(CImgBuff* image, uint64_t frame, int64_t* x, int64_t* y, int64_t* w, int64_t* h,
                           uint32_t* connect, uint32_t* bg, uint32_t* workFormat, uint32_t* channelBytes) {
    return OnFilter(image, frame, *x, *y, *w, *h, *connect, *bg, workFormat, channelBytes);
}

void CImgFilter::SaveConfig(CCfgPack* pack) {
    if (!pack) return;
    pack->AddItem(L"if_enable", enabled ? L"1" : L"0");
    if (HasUi()) pack->AddItem(L"if_visible", visible ? L"1" : L"0");
}

void CImgFilter::LoadConfig(CCfgPack* pack) {
    if (!pack) return;
    if (const wchar_t* v = CfgFindValue(pack, L"if_enable")) {
        if (std::wcscmp(v, L"0") == 0) {
            enabled = 0;
            OnEnable(0);
        } else if (std::wcscmp(v, L"1") == 0) {
            enabled = 1;
            OnEnable(1);
        }
    }
    if (const wchar_t* v = CfgFindValue(pack, L"if_visible")) {
        if (std::wcscmp(v, L"0") == 0) {
            visible = 0;
            uiParent = nullptr;
            ShowUi(0, nullptr);
        } else if (std::wcscmp(v, L"1") == 0) {
            visible = 1;
            ShowUi(1, uiParent);
        }
    }
}

void CImgFilter::SetCalibration(double scale, int32_t axisY, const wchar_t* unit) {
    calibScale = scale;
    calibAxisY = axisY;
    size_t n = 0;
    for (; unit && unit[n] && n < static_cast<size_t>(kFilterUnitMax - 1); ++n) calibUnit[n] = unit[n];
    calibUnit[n] = L'\0';
    OnCalib(scale, axisY, unit);
}

int32_t CImgFilter::MapImageToView(int32_t* x, int32_t* y, int32_t dx0, int32_t dy0, int32_t dx1, int32_t dy1,
                                   int32_t ix0, int32_t iy0, int32_t ix1, int32_t iy1, int32_t zoom) {
    // 64-bit intermediates: a magnified far point must not overflow.
    int64_t px = static_cast<int64_t>(*x) - ix0;
    int64_t py = static_cast<int64_t>(*y) - iy0;
    if (zoom == 0 || zoom == -1) {
        double rx = static_cast<double>(static_cast<int64_t>(dx1) - dx0 + 1) /
                    static_cast<double>(static_cast<int64_t>(ix1) - ix0 + 1);
        double ry = static_cast<double>(static_cast<int64_t>(dy1) - dy0 + 1) /
                    static_cast<double>(static_cast<int64_t>(iy1) - iy0 + 1);
        px = static_cast<int64_t>(static_cast<double>(px) * rx);
        py = static_cast<int64_t>(static_cast<double>(py) * ry);
        // Land in the middle of an enlarged pixel.
        if (rx > 2.0) px += static_cast<int64_t>(rx * 0.5);
        if (ry > 2.0) py += static_cast<int64_t>(ry * 0.5);
    } else if (zoom >= 2) {
        px *= zoom;
        py *= zoom;
    } else if (zoom <= -2) {
        px /= -static_cast<int64_t>(zoom);
        py /= -static_cast<int64_t>(zoom);
    }
    *x = static_cast<int32_t>(px + dx0);
    *y = static_cast<int32_t>(py + dy0);
    return 1;
}
