// The menu bar's seven menus and the command switch. File, View and Config
// are made as menu text each time they open; Processing, Measure and Tool
// are made when the bar is built (again after a change of language).
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "app/filter_registry.h"
#include "app/main_screen.h"
#include "filters/core/filter_plugin.h"
#include "filters/core/lf_plugin.h"
#include "image/pool.h"
#include "toolkit/fg_msgbox.h"

int32_t g_FileMenuItem = -1;
int32_t g_ViewMenuItem = -1;
int32_t g_ConfigMenuItem = -1;
int32_t g_ProcessingMenuItem = -1;
int32_t g_MeasureMenuItem = -1;
int32_t g_ToolMenuItem = -1;
int32_t g_PluginMenuItem = -1;

namespace {


// Menu text under construction, with the check marks of the language.
class MenuText {
public:
    MenuText(std::wstring* out, bool japanese) : out_(out), jp_(japanese) { out_->clear(); }
    // An entry without a mark.
    void Item(const wchar_t* label, int32_t id) {
        *out_ += label;
        Id(id);
    }
    // An entry with the checked or unchecked mark.
    void Check(bool checked, const wchar_t* label, int32_t id) {
        *out_ += Mark(checked);
        Item(label, id);
    }
    void Open(const wchar_t* label, bool marked = false) {
        if (marked) *out_ += Mark(false);
        *out_ += label;
        *out_ += L"\t{\n";
    }
    void Close() { *out_ += L"}\n"; }
    void Raw(const wchar_t* text) { *out_ += text; }

private:
    const wchar_t* Mark(bool checked) const { return jp_ ? (checked ? L"✓" : L"\u3000") : (checked ? L"*" : L" "); }
    void Id(int32_t id) {
        wchar_t number[24];
        std::swprintf(number, 24, L"\t%d\n", id);
        *out_ += number;
    }
    std::wstring* out_;
    bool jp_;
};

// A filter entry: its name in the language, greyed while the filter is unbuilt.
void FilterItem(MenuText& menu, uint32_t id, const wchar_t* language) {
    const wchar_t* name = FilterMenuName(id, language);
    if (!name) return;
    menu.Item(name, FilterBuilt(id) ? static_cast<int32_t>(id) : -1);
}

void FilterItems(MenuText& menu, std::initializer_list<uint32_t> ids, const wchar_t* language) {
    for (uint32_t id : ids) FilterItem(menu, id, language);
}

bool InList(uint32_t id, std::initializer_list<uint32_t> ids) {
    for (uint32_t v : ids)
        if (v == id) return true;
    return false;
}

constexpr std::initializer_list<uint32_t> kToolFilters = {10041, 10016, 10031, 10032, 10033, 10020, 10021, 10042};

}  // namespace

void CMainScreen::BuildMenus() {
    const bool jp = Japanese();
    const wchar_t* language = sidePanel.language.c_str();
    std::wstring processing, measure, tool;
    {
        MenuText m(&processing, jp);
        FilterItems(m, {10000, 10022, 10023, 10024}, language);
        m.Open(jp ? L"カラー画像処理" : L"Color image processing");
        FilterItems(m, {10030, 10018, 10001, 10025, 10026}, language);
        m.Close();
        m.Open(jp ? L"ピクセル値操作" : L"Pixel processing");
        FilterItems(m, {10028, 10003, 10027, 10007, 10006, 10017, 10010, 10029, 10019, 10015}, language);
        m.Close();
        m.Open(jp ? L"2値画像処理" : L"Binary image processing");
        FilterItems(m, {10034, 10002, 10011, 10004, 10005, 10035}, language);
        m.Close();
        m.Open(jp ? L"変形" : L"Deformation");
        FilterItems(m, {10040, 10008, 10009}, language);
        m.Close();
        m.Open(jp ? L"フーリエ変換" : L"Fourier transform");
        FilterItems(m, {10036, 10037, 10039, 10038}, language);
        m.Close();
    }
    {
        MenuText m(&measure, jp);
        FilterItems(m, {10012, 10013}, language);
    }
    {
        MenuText m(&tool, jp);
        m.Item(jp ? L"成分合成" : L"Composite", 20003);
        FilterItems(m, kToolFilters, language);
    }
    menuBar.RemoveAllItems();
    g_FileMenuItem = menuBar.AddItem(jp ? L"ファイル" : L"File", nullptr, &CMainScreen::BuildFileMenu, this);
    g_ViewMenuItem = menuBar.AddItem(jp ? L"表示" : L"View", nullptr, &CMainScreen::BuildViewMenu, this);
    g_ConfigMenuItem = menuBar.AddItem(jp ? L"設定" : L"Config", nullptr, &CMainScreen::BuildConfigMenu, this);
    g_ProcessingMenuItem =
        processing.empty() ? -1 : menuBar.AddItem(jp ? L"処理" : L"Processing", processing.c_str(), nullptr, this);
    g_MeasureMenuItem = measure.empty() ? -1 : menuBar.AddItem(jp ? L"計測" : L"Measure", measure.c_str(), nullptr, this);
    g_ToolMenuItem = tool.empty() ? -1 : menuBar.AddItem(jp ? L"ツール" : L"Tool", tool.c_str(), nullptr, this);
    g_PluginMenuItem = -1;
    if (wchar_t* plugins = ListFilterPlugins(language)) {
        if (plugins[0]) g_PluginMenuItem = menuBar.AddItem(jp ? L"プラグイン" : L"Plugin", plugins, nullptr, this);
        std::free(plugins);
    }
    if (jp && g_ViewMenuItem >= 0) {
        // The View menu stays usable while the window is locked.
        menuBar.items[static_cast<size_t>(g_ViewMenuItem)].state = 1;
        menuBar.RedrawParent();
    }
}

const wchar_t* CMainScreen::BuildFileMenu(void* data, int32_t) {
    static std::wstring text;
    CMainScreen* self = static_cast<CMainScreen*>(data);
    const bool jp = self->Japanese();
    const bool image = self->sourceImage.buffer && self->sourceImage.buffer->pixels;
    const uint64_t n = image ? self->sceneBar.sceneCount : 0;
    MenuText m(&text, jp);
    m.Item(jp ? L"画像を開く" : L"Open image", 0);
    m.Item(jp ? L"画像を保存" : L"Save image", image ? 1 : -1);
    m.Item(jp ? L"動画を保存" : L"Save video", n >= 2 ? 5 : -1);
    m.Item(jp ? L"マルチページ画像を保存" : L"Save multi page", n >= 2 ? 4 : -1);
    m.Item(jp ? L"連番画像を開く" : L"Open multi file", 2);
    m.Item(jp ? L"連番画像を保存" : L"Save multi file", n >= 2 ? 3 : -1);
    m.Item(jp ? L"画像情報" : (n == 0 ? L"Info" : L"Image info"), n == 0 ? -1 : 6);
    m.Item(jp ? L"画像処理を開く" : L"Open filter list", 7);
    m.Item(jp ? L"画像処理を保存" : L"Save filter list", 8);
    return text.c_str();
}

const wchar_t* CMainScreen::BuildViewMenu(void* data, int32_t) {
    static std::wstring text;
    CMainScreen* self = static_cast<CMainScreen*>(data);
    const bool jp = self->Japanese();
    const bool image = self->sourceImage.buffer && self->sourceImage.buffer->pixels;
    const uint64_t n = image ? self->sceneBar.sceneCount : 0;
    MenuText m(&text, jp);
    m.Open(jp ? L"表示内容" : L"Image", true);
    m.Check(self->displayContent == 2, jp ? L"標準" : L"Std", 2);
    m.Check(self->displayContent == 1, jp ? L"ガイドOFF" : L"Guide off", 1);
    m.Check(self->displayContent == 0, jp ? L"元画像" : L"Original", 0);
    m.Close();
    m.Open(jp ? L"カラーピッカー" : L"Color picker", true);
    static const wchar_t* const kPicker[8] = {L"OFF", L"RGB", L"HSV", L"CMY", L"CMYK", L"XYZ", L"L*a*b*", L"L*C*h"};
    for (uint32_t k = 0; k < 8; ++k) m.Check(self->colorPicker == k, kPicker[k], static_cast<int32_t>(10 + k));
    m.Close();
    m.Open(jp ? L"ガイド色" : L"Guide color", true);
    struct Guide {
        uint32_t k;
        const wchar_t *jp, *en;
    };
    static const Guide kGuides[8] = {{0, L"黒", L"Black"},     {7, L"白", L"White"},        {1, L"赤", L"Red"},
                                     {2, L"緑", L"Green"},     {3, L"青", L"Blue"},         {4, L"シアン", L"Cyan"},
                                     {5, L"マゼンタ", L"Magenta"}, {6, L"イエロー", L"Yellow"}};
    for (const Guide& g : kGuides) m.Check(self->guideColor == g.k, jp ? g.jp : g.en, static_cast<int32_t>(400 + g.k));
    m.Close();
    m.Open(jp ? L"倍率" : L"Zoom", true);
    struct Zoom {
        int32_t id, code;
        const wchar_t* label;
    };
    static const Zoom kZooms[8] = {{1000, 0, nullptr}, {1025, -4, L"  25%"}, {1050, -2, L"  50%"},
                                   {1100, 1, L" 100%"}, {1200, 2, L" 200%"},  {1400, 4, L" 400%"},
                                   {1800, 8, L" 800%"}, {1916, 16, L"1600%"}};
    for (const Zoom& z : kZooms)
        m.Check(self->picture.zoom == z.code, z.label ? z.label : (jp ? L"ウィンドウに合わせる" : L"Fit window"), z.id);
    m.Close();
    m.Open(jp ? L"動画再生速度" : L"Playback speed", true);
    m.Check(self->useMovieRate == 1, jp ? L"動画ファイル" : L" Video", 299);
    struct Rate {
        int32_t id;
        uint64_t ms;
        const wchar_t* label;
    };
    static const Rate kRates[7] = {{200, 333, L"  3fps"}, {201, 133, L"  7.5fps"}, {202, 66, L" 15fps"},
                                   {203, 33, L" 30fps"},  {204, 20, L" 50fps"},    {205, 16, L" 60fps"},
                                   {206, 10, L"100fps"}};
    for (const Rate& r : kRates) m.Check(self->useMovieRate == 0 && self->msPerFrame == r.ms, r.label, r.id);
    m.Close();
    const bool range = n >= 2 && self->menuBar.barEnabled != 0;
    m.Check(false, jp ? L"動画再生範囲" : L"Video playback range", range ? 20004 : -1);
    m.Check(self->frameSkip != 0, jp ? L"フレームスキップ" : L"Skip frame", 100);
    m.Check(self->sceneBarShown != 0, jp ? L"ビデオパネル" : L"Video panel", 101);
    m.Check(self->sidePanelShown != 0, jp ? L"サイドパネル" : L"Side panel", 102);
    return text.c_str();
}

const wchar_t* CMainScreen::BuildConfigMenu(void* data, int32_t) {
    static std::wstring text;
    CMainScreen* self = static_cast<CMainScreen*>(data);
    const bool jp = self->Japanese();
    MenuText m(&text, jp);
    m.Open(jp ? L"回転" : L"Roll");
    m.Check(self->roll == 0, L"  0", 500);
    m.Check(self->roll == -1, L"-90", 503);
    m.Check(self->roll == 1, L" 90", 501);
    m.Check(self->roll == 2, L"180", 502);
    m.Close();
    m.Open(jp ? L"背景色" : L"Bg color");
    m.Check(self->sidePanel.bg.load() == 0, jp ? L"黒" : L"Black", 0);
    m.Check(self->sidePanel.bg.load() != 0, jp ? L"白" : L"White", 255);
    m.Close();
    m.Open(jp ? L"近傍" : L"Connect");
    m.Check(self->sidePanel.connect.load() != 8, L"4", 4);
    m.Check(self->sidePanel.connect.load() == 8, L"8", 8);
    m.Close();
    m.Open(L"CPU");
    const uint64_t processors = PoolGetProcessorCount();
    const uint64_t threads = g_PoolThreadCount.load();
    for (uint64_t t = 1; t <= processors; ++t) {
        wchar_t label[24];
        std::swprintf(label, 24, L"%u", static_cast<unsigned>(t));
        m.Check(t == threads, label, static_cast<int32_t>(400 + t));
    }
    m.Close();
    m.Open(jp ? L"マウスホイール" : L"Mouse wheel");
    m.Check(self->wheelMode != 1 && self->wheelMode != 2, jp ? L"OFF" : L"Off", 100);
    m.Check(self->wheelMode == 1, jp ? L"表示倍率操作" : L"Zoom", 101);
    m.Check(self->wheelMode == 2, jp ? L"シーン操作" : L"Video", 102);
    m.Close();
    m.Raw(jp ? L"言語\t{\n✓日本語\t300\n\u3000Engish\t301\n}\n" : L"Language\t{\n 日本語\t300\n*English\t301\n}\n");
    m.Item(jp ? L"キャリブレーション設定" : L"Calibration", 20001);
    m.Item(jp ? L"画像保存設定" : L"Image save settings", 20002);
    return text.c_str();
}

void CMainScreen::OnMenuCommand(CFgUIMenuBar*, void* data, int32_t item, int32_t id) {
    if (CMainScreen* self = static_cast<CMainScreen*>(data)) self->MenuCommand(item, id);
}

void CMainScreen::AddFilterCommand(CImgFilter* filter) {
    if (filter && AddFilterToChain(filter, 1)) return;
    delete filter;
    FgMessageBox(Text(L"フィルターを追加できませんでした", L"can't add filter"), Text(L"エラー", L"error"), 1, this);
}

void CMainScreen::MenuCommand(int32_t item, int32_t id) {
    if (item < 0) return;
    const uint32_t u = static_cast<uint32_t>(id);
    if (item == g_FileMenuItem) {
        switch (id) {
            case 0: OpenFile(nullptr); break;
            case 1: SaveImage(); break;
            case 2: OpenSequence(); break;
            case 3: SaveScenes(1, 0); break;
            case 4: SaveScenes(0, 0); break;
            case 5: SaveScenes(0, sceneBar.msPerScene); break;
            case 6: ShowInfo(); break;
            case 7: LoadFilterListCommand(); break;
            case 8: SaveFilterListCommand(); break;
            default: break;
        }
        return;
    }
    if (item == g_ProcessingMenuItem) {
        if (id >= 10000 && id <= 10040) AddFilterCommand(CreateFilterById(u));
        return;
    }
    if (item == g_MeasureMenuItem) {
        if (id == 10012 || id == 10013) AddFilterCommand(CreateFilterById(u));
        return;
    }
    if (item == g_ToolMenuItem) {
        if (id == 20003) {
            if (!composite.IsOpen()) composite.Show(this);
        } else if (InList(u, kToolFilters)) {
            AddFilterCommand(CreateFilterById(u));
        }
        return;
    }
    if (item == g_PluginMenuItem && item >= 0) {
        // The id is the module's index; an adapter that found no module is
        // refused like any filter that cannot be made.
        if (id >= 0) AddFilterCommand(CreatePluginFilter(u));
        return;
    }
    if (item == g_ViewMenuItem) {
        if (id >= 0 && id <= 2) {
            if (displayContent != u) {
                displayContent = u;
                RunFilterChain(0);
            }
        } else if (id >= 10 && id <= 17) {
            colorPicker = u - 10;
            UpdateTitle();
        } else if (id == 100) {
            frameSkip = frameSkip ? 0 : 1;
            if (msPerFrame != 0) {
                sceneBar.msPerScene = msPerFrame;
                sceneBar.frameSkip = frameSkip;
            }
        } else if (id == 101) {
            if (sceneBarShown)
                HideSceneBar(0);
            else
                ShowSceneBar(0);
        } else if (id == 102) {
            if (sidePanelShown)
                HideSidePanel();
            else
                ShowSidePanel();
        } else if (id >= 200 && id <= 206) {
            static const uint64_t kMs[7] = {333, 133, 66, 33, 20, 16, 10};
            useMovieRate = 0;
            msPerFrame = kMs[id - 200];
            sceneBar.msPerScene = msPerFrame;
            sceneBar.frameSkip = frameSkip != 0;
        } else if (id == 299) {
            useMovieRate = 1;
            msPerFrame = movieMsPerFrame ? movieMsPerFrame : 33;
            sceneBar.msPerScene = msPerFrame;
            sceneBar.frameSkip = frameSkip != 0;
        } else if (id >= 400 && id <= 407) {
            SetGuideColor(u - 400);
        } else if (id == 20004) {
            if (!playEdit.IsOpen()) playEdit.Show(this);
        } else {
            static const int32_t kZoomIds[8] = {1000, 1025, 1050, 1100, 1200, 1400, 1800, 1916};
            static const int32_t kZoomCodes[8] = {0, -4, -2, 1, 2, 4, 8, 16};
            for (int i = 0; i < 8; ++i)
                if (id == kZoomIds[i]) {
                    picture.SetZoom(kZoomCodes[i]);
                    CFgUIDialog::Redraw();
                }
        }
        return;
    }
    if (item == g_ConfigMenuItem) {
        if (id == 0 || id == 255) {
            const uint32_t value = id == 255 ? 1 : 0;
            if (sidePanel.bg.load() != value) {
                sidePanel.bg.store(value);
                sidePanel.Refilter(0);
            }
        } else if (id == 4 || id == 8) {
            SetConnect(u);
        } else if (id >= 100 && id <= 102) {
            wheelMode = u - 100;
        } else if (id == 300 || id == 301) {
            SetLanguage(id == 300 ? L"jp" : L"en");
        } else if (id == 400) {
            SetWorkerThreadCount(0);
            UpdateTitle();
        } else if (id >= 401 && id <= 464) {
            SetWorkerThreadCount(id - 400);
            UpdateTitle();
        } else if (id == 20001) {
            if (!calibration.IsOpen()) calibration.Show(this);
        } else if (id == 20002) {
            if (!saveSettings.IsOpen()) saveSettings.Show(this);
        } else if (id >= 500 && id <= 503) {
            static const int32_t kRolls[4] = {0, 1, 2, -1};
            const int32_t newRoll = kRolls[id - 500];
            if (newRoll != roll) {
                roll = newRoll;
                SetSourceFormat(lastSourceFormat[0], lastSourceFormat[1], lastSourceFormat[2], lastSourceFormat[3]);
                LoadFrame(1);
            }
        }
        return;
    }
}
