#include "app/filter_registry.h"

#include <cwchar>
#include <new>

#include "filters/core/imgfilter.h"

namespace {

struct FilterRow {
    const wchar_t* english;
    const wchar_t* japanese;
    FilterFactoryFn factory;
};

// Indexed by command number - 10000.
FilterRow g_Rows[kFilterRegistryCount] = {
    {L"Process rect", L"処理領域", nullptr},
    {L"Component extraction", L"成分抽出", nullptr},
    {L"Extraction", L"抽出", nullptr},
    {L"Reversal", L"反転", nullptr},
    {L"Noise remover", L"ノイズ除去", nullptr},
    {L"Window cut", L"ウィンドウカット", nullptr},
    {L"Histogram", L"ヒストグラム", nullptr},
    {L"Gamma", L"ガンマ変換", nullptr},
    {L"Zoom", L"部分拡大", nullptr},
    {L"Projective transformation", L"射影変換", nullptr},
    {L"Filter", L"フィルター", nullptr},
    {L"Binary image process", L"2値画像処理", nullptr},
    {L"Auto measurement", L"自動計測", nullptr},
    {L"Manual measurement", L"マニュアル計測", nullptr},
    {L"Mask", L"背景除去/マスク", nullptr},
    {L"Background removal", L"背景除去/マスク", nullptr},
    {L"Generate BG image", L"背景画像の作成", nullptr},
    {L"Equalize histogram", L"ヒストグラム平坦化", nullptr},
    {L"Select components", L"成分選択", nullptr},
    {L"Bayer convert", L"ベイヤー変換", nullptr},
    {L"Particle tracking / PTV", L"粒子追跡/PTV", nullptr},
    {L"2D hsv tracking", L"2D hsv tracking", nullptr},
    {L"Group tag", L"グループタグ", nullptr},
    {L"Up convert", L"アップコンバート", nullptr},
    {L"Down convert", L"ダウンコンバート", nullptr},
    {L"White balance", L"ホワイトバランス", nullptr},
    {L"Color correction", L"色補正", nullptr},
    {L"Pixel value adjustment", L"画素値調整", nullptr},
    {L"Pseudo-color", L"疑似カラー", nullptr},
    {L"Color filter", L"カラーフィルター", nullptr},
    {L"Color map", L"色分布図", nullptr},
    {L"Strobe photo", L"ストロボ写真の合成", nullptr},
    {L"Anti shake / Composit", L"ブレ補正 / 加算平均", nullptr},
    {L"PIV", L"PIV", nullptr},
    {L"Change conditions", L"条件変更", nullptr},
    {L"Separation", L"物体の分離", nullptr},
    {L"FFT", L"FFT", nullptr},
    {L"IFFT", L"IFFT", nullptr},
    {L"Frequency mask", L"周波数マスク", nullptr},
    {L"IFFT EX", L"IFFT EX", nullptr},
    {L"Flip", L"反転", nullptr},
    {L"Overlap compare", L"重ねて比較", nullptr},
    {L"2D pattern tracking", L"2D pattern tracking", nullptr},
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
        if (!g_Rows[i].factory) {
            MakeFilterId(g_Rows[i].english, entry.identifier);
            continue;
        }
        CImgFilter* filter = g_Rows[i].factory();
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
    return nullptr;
}

CImgFilter* CreateFilterById(uint32_t id) {
    const FilterRow* row = Row(id);
    return row && row->factory ? row->factory() : nullptr;
}

const wchar_t* FilterMenuName(uint32_t id, const wchar_t* language) {
    const FilterRow* row = Row(id);
    if (!row) return nullptr;
    return language && std::wcscmp(language, L"jp") == 0 ? row->japanese : row->english;
}

bool FilterBuilt(uint32_t id) {
    const FilterRow* row = Row(id);
    return row && row->factory;
}

bool SetFilterFactory(uint32_t id, FilterFactoryFn factory) {
    FilterRow* row = Row(id);
    if (!row) return false;
    row->factory = factory;
    return true;
}
