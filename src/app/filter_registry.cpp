#include "app/filter_registry.h"

#include <cwchar>
#include <new>

#include "filters/core/imgfilter.h"
#include "filters/core/lf_plugin.h"
#include "filters/analysis/lf_ameasure.h"
#include "filters/analysis/lf_anti_shake.h"
#include "filters/analysis/lf_bg_create.h"
#include "filters/analysis/lf_mmeasure.h"
#include "filters/analysis/lf_overlap_compare.h"
#include "filters/analysis/lf_piv.h"
#include "filters/analysis/lf_ptv.h"
#include "filters/analysis/lf_strobe_photo.h"
#include "filters/analysis/lf_track2d.h"
#include "filters/processing/lf_atrans.h"
#include "filters/processing/lf_bayer.h"
#include "filters/processing/lf_bg_erase.h"
#include "filters/processing/lf_binary.h"
#include "filters/processing/lf_clear.h"
#include "filters/processing/lf_color_correction.h"
#include "filters/processing/lf_color_map.h"
#include "filters/processing/lf_config.h"
#include "filters/processing/lf_convert.h"
#include "filters/processing/lf_down_conv.h"
#include "filters/processing/lf_extract.h"
#include "filters/processing/lf_fft.h"
#include "filters/processing/lf_filter.h"
#include "filters/processing/lf_flatting_histogram.h"
#include "filters/processing/lf_flip.h"
#include "filters/processing/lf_freq_mask.h"
#include "filters/processing/lf_gamma.h"
#include "filters/processing/lf_group.h"
#include "filters/processing/lf_histogram.h"
#include "filters/processing/lf_ifft.h"
#include "filters/processing/lf_ifft_ex.h"
#include "filters/processing/lf_lut.h"
#include "filters/processing/lf_mask.h"
#include "filters/processing/lf_noise_remover.h"
#include "filters/processing/lf_ptrans.h"
#include "filters/processing/lf_rect.h"
#include "filters/processing/lf_reversal.h"
#include "filters/processing/lf_select.h"
#include "filters/processing/lf_separation.h"
#include "filters/processing/lf_up_conv.h"
#include "filters/processing/lf_wave.h"
#include "filters/processing/lf_white_balance.h"
#include "filters/processing/lf_window_cut.h"

namespace {

struct FilterRow {
    const wchar_t* english;
    const wchar_t* japanese;
    FilterFactoryFn builtin;            // null result while the class is not built
    FilterFactoryFn installed = nullptr;  // set by tests, taking the row's place
    bool built = false;                 // builtin makes a filter

    FilterFactoryFn Factory() const {
        if (installed == UnbuiltFilterFactory) return nullptr;
        return installed ? installed : built ? builtin : nullptr;
    }
};

// Indexed by command number - 10000.
FilterRow g_Rows[kFilterRegistryCount] = {
    {L"Process rect", L"処理領域", CreateLfRect},
    {L"Component extraction", L"成分抽出", CreateLfConvert},
    {L"Extraction", L"抽出", CreateLfExtract},
    {L"Reversal", L"反転", CreateLfReversal},
    {L"Noise remover", L"ノイズ除去", CreateLfNoiseRemover},
    {L"Window cut", L"ウィンドウカット", CreateLfWindowCut},
    {L"Histogram", L"ヒストグラム", CreateLfHistogram},
    {L"Gamma", L"ガンマ変換", CreateLfGamma},
    {L"Zoom", L"部分拡大", CreateLfAtrans},
    {L"Projective transformation", L"射影変換", CreateLfPtrans},
    {L"Filter", L"フィルター", CreateLfFilter},
    {L"Binary image process", L"2値画像処理", CreateLfBinary},
    {L"Auto measurement", L"自動計測", CreateLfAmeasure},
    {L"Manual measurement", L"マニュアル計測", CreateLfMmeasure},
    {L"Mask", L"背景除去/マスク", CreateLfMask},
    {L"Background removal", L"背景除去/マスク", CreateLfBgErase},
    {L"Generate BG image", L"背景画像の作成", CreateLfBgCreate},
    {L"Equalize histogram", L"ヒストグラム平坦化", CreateLfFlattingHistogram},
    {L"Select components", L"成分選択", CreateLfSelect},
    {L"Bayer convert", L"ベイヤー変換", CreateLfBayer},
    {L"Particle tracking / PTV", L"粒子追跡/PTV", CreateLfPtv},
    {L"2D hsv tracking", L"2D HSV追跡", CreateLfTrack2dHsv},
    {L"Group tag", L"グループタグ", CreateLfGroup},
    {L"Up convert", L"アップコンバート", CreateLfUpConv},
    {L"Down convert", L"ダウンコンバート", CreateLfDownConv},
    {L"White balance", L"ホワイトバランス", CreateLfWhiteBalance},
    {L"Color correction", L"色補正", CreateLfColorCorrection},
    {L"Pixel value adjustment", L"画素値調整", CreateLfClear},
    {L"Pseudo-color", L"疑似カラー", CreateLfLut},
    {L"Color filter", L"カラーフィルター", CreateLfWave},
    {L"Color map", L"色分布図", CreateLfColorMap},
    {L"Strobe photo", L"ストロボ写真の合成", CreateLfStrobePhoto},
    {L"Anti shake / Composit", L"ブレ補正 / 加算平均", CreateLfAntiShake},
    {L"PIV", L"PIV", CreateLfPiv},
    {L"Change conditions", L"条件変更", CreateLfConfig},
    {L"Separation", L"物体の分離", CreateLfSeparation},
    {L"FFT", L"FFT", CreateLfFFT},
    {L"IFFT", L"IFFT", CreateLfIFFT},
    {L"Frequency mask", L"周波数マスク", CreateLfFreqMask},
    {L"IFFT EX", L"IFFT EX", CreateLfIFFTEX},
    {L"Flip", L"反転", CreateLfFlip},
    {L"Overlap compare", L"重ねて比較", CreateLfOverlapCompare},
    {L"2D pattern tracking", L"2D パターン追跡", CreateLfTrack2dPattern},
};

FilterRow* Row(uint32_t id) {
    if (id < kFilterRegistryFirst || id >= kFilterRegistryFirst + kFilterRegistryCount) return nullptr;
    return &g_Rows[id - kFilterRegistryFirst];
}

}  // namespace

FilterRegistryEntry* g_FilterRegistry = nullptr;
uint32_t g_FilterRegistryCount = 0;

int32_t BuildFilterRegistry() {
    FreeFilterRegistry();
    auto* table = new (std::nothrow) FilterRegistryEntry[kFilterRegistryCount];
    if (!table) return 0;
    for (uint32_t i = 0; i < kFilterRegistryCount; ++i) {
        FilterRegistryEntry& entry = table[i];
        entry.id = kFilterRegistryFirst + i;
        static_assert(sizeof(entry.identifier) / sizeof(wchar_t) > kFilterIdMax, "identifier too short");
        FilterRow& row = g_Rows[i];
        CImgFilter* filter = row.builtin ? row.builtin() : nullptr;
        row.built = filter != nullptr;
        if (row.installed) {
            delete filter;
            filter = row.Factory() ? row.installed() : nullptr;
        }
        if (!row.Factory()) {
            MakeFilterId(row.english, entry.identifier);
            continue;
        }
        if (!filter) {
            delete[] table;
            return 0;
        }
        std::wcsncpy(entry.identifier, filter->GetId(), kFilterIdMax);
        entry.identifier[kFilterIdMax] = L'\0';
        delete filter;
    }
    g_FilterRegistry = table;
    g_FilterRegistryCount = kFilterRegistryCount;
    return 1;
}

void FreeFilterRegistry() {
    delete[] g_FilterRegistry;
    g_FilterRegistry = nullptr;
    g_FilterRegistryCount = 0;
}

CImgFilter* CreateFilterByName(const wchar_t* identifier) {
    if (!identifier) return nullptr;
    for (uint32_t i = 0; i < g_FilterRegistryCount; ++i)
        if (std::wcscmp(g_FilterRegistry[i].identifier, identifier) == 0) return CreateFilterById(g_FilterRegistry[i].id);
    // Any other identifier names a plug-in module by its path; null when no
    // loaded plug-in has that path.
    return CreatePluginFilterByPath(identifier);
}

CImgFilter* CreateFilterById(uint32_t id) {
    const FilterRow* row = Row(id);
    return row && row->Factory() ? row->Factory()() : nullptr;
}

const wchar_t* FilterMenuName(uint32_t id, const wchar_t* language) {
    const FilterRow* row = Row(id);
    if (!row) return nullptr;
    return language && std::wcscmp(language, L"jp") == 0 ? row->japanese : row->english;
}

bool FilterBuilt(uint32_t id) {
    const FilterRow* row = Row(id);
    return row && row->Factory();
}

CImgFilter* UnbuiltFilterFactory() { return nullptr; }

bool SetFilterFactory(uint32_t id, FilterFactoryFn factory) {
    FilterRow* row = Row(id);
    if (!row) return false;
    row->installed = factory;
    return true;
}
