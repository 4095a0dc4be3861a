// The filter registry and filter-list files: the identifiers of the 43
// built-in filters, the factory's refusals, and ".ifl" files written and
// read through the main screen with test filters installed on rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/filter_registry.h"
#include "filters/core/filter_plugin.h"
#include "app/support/main_screen_fixture.h"
#include "filters/core/cfgfile.h"
#include "toolkit/support/file_select_answer.h"

namespace {

using namespace kvapptest;

// A filter named as a registry row, with one setting of its own.
class RowFilter : public CImgFilter {
public:
    explicit RowFilter(const wchar_t* english, bool ui = false, uint32_t filterKind = 0)
        : english_(english), ui_(ui) {
        kind = filterKind;
    }
    int32_t value = 0;
    const wchar_t* badValue = nullptr;  // a value the settings text cannot hold
    const wchar_t* GetName(const wchar_t*) override { return english_; }
    int32_t HasUi() override { return ui_ ? 1 : 0; }
    void SaveConfig(CCfgPack* pack) override {
        CImgFilter::SaveConfig(pack);
        wchar_t text[32];
        std::swprintf(text, 32, L"%d", value);
        pack->AddItem(L"value", badValue ? badValue : text);
    }
    void LoadConfig(CCfgPack* pack) override {
        CImgFilter::LoadConfig(pack);
        if (const wchar_t* v = CfgFindValue(pack, L"value")) value = static_cast<int32_t>(std::wcstol(v, nullptr, 10));
    }

private:
    const wchar_t* english_;
    bool ui_;
};

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

// Installs test filters on three rows for the life of a test and rebuilds
// the registry so that their identifiers are the rows' own.
class FilterListTest : public MainScreenTest {
protected:
    void SetUp() override {
        SetFilterFactory(10022, [] { return static_cast<CImgFilter*>(new RowFilter(L"Group tag", false, 1)); });
        SetFilterFactory(10007, [] { return static_cast<CImgFilter*>(new RowFilter(L"Gamma", true)); });
        SetFilterFactory(10042, [] { return static_cast<CImgFilter*>(new RowFilter(L"2D pattern tracking", true)); });
        MainScreenTest::SetUp();
        screen->SetLanguage(L"en");
    }
    void TearDown() override {
        MainScreenTest::TearDown();
        for (uint32_t id : {10022u, 10007u, 10042u}) SetFilterFactory(id, nullptr);
        BuildFilterRegistry();
    }
    RowFilter* Add(uint32_t id, int32_t value) {
        auto* f = static_cast<RowFilter*>(CreateFilterById(id));
        f->value = value;
        EXPECT_EQ(screen->AddFilterToChain(f, 0), 1);
        return f;
    }
    const FilterChain& Chain() const { return screen->sidePanel.chains[screen->sidePanel.activeChain]; }
    std::string Path(const char* name) { return fx.dir().file(name); }
};

TEST(FilterRegistry, IdentifiersOfTheFortyThreeFilters) {
    ASSERT_EQ(BuildFilterRegistry(), 1);
    const wchar_t* expected[] = {
        L"process_rect", L"component_extraction", L"extraction", L"reversal", L"noise_remover", L"window_cut",
        L"histogram", L"gamma", L"zoom", L"projective_transformation", L"filter", L"binary_image_process",
        L"auto_measurement", L"manual_measurement", L"mask", L"background_removal", L"generate_bg_image",
        L"equalize_histogram", L"select_components", L"bayer_convert", L"particle_tracking_/_ptv",
        L"2d_hsv_tracking", L"group_tag", L"up_convert", L"down_convert", L"white_balance", L"color_correction",
        L"pixel_value_adjustment", L"pseudo-color", L"color_filter", L"color_map", L"strobe_photo",
        L"anti_shake_/_composit", L"piv", L"change_conditions", L"separation", L"fft", L"ifft", L"frequency_mask",
        L"ifft_ex", L"flip", L"overlap_compare", L"2d_pattern_tracking"};
    ASSERT_EQ(g_FilterRegistryCount, 43u);
    for (uint32_t i = 0; i < 43; ++i) {
        EXPECT_EQ(g_FilterRegistry[i].id, 10000 + i);
        EXPECT_STREQ(g_FilterRegistry[i].identifier, expected[i]) << i;
    }
    FreeFilterRegistry();
    EXPECT_EQ(g_FilterRegistryCount, 0u);
    EXPECT_EQ(CreateFilterByName(L"gamma"), nullptr);
}

TEST(FilterRegistry, FactoryRefusesUnknownUnbuiltAndWrongCase) {
    ASSERT_TRUE(SetFilterFactory(10007, [] { return static_cast<CImgFilter*>(new RowFilter(L"Gamma")); }));
    ASSERT_TRUE(SetFilterFactory(10012, UnbuiltFilterFactory));
    EXPECT_FALSE(SetFilterFactory(10043, nullptr));
    EXPECT_FALSE(SetFilterFactory(9999, nullptr));
    ASSERT_EQ(BuildFilterRegistry(), 1);
    CImgFilter* gamma = CreateFilterByName(L"gamma");
    ASSERT_NE(gamma, nullptr);
    EXPECT_STREQ(gamma->GetName(L"en"), L"Gamma");
    EXPECT_EQ(gamma->owner, nullptr);  // the factory adds it to no chain
    delete gamma;
    for (const wchar_t* refused : {L"Gamma", L"GAMMA", L"gamma ", L"auto_measurement", L"", L"/no/such/plugin.wfm"})
        EXPECT_EQ(CreateFilterByName(refused), nullptr) << refused;
    EXPECT_EQ(CreateFilterByName(nullptr), nullptr);
    EXPECT_EQ(CreateFilterById(10043), nullptr);
    EXPECT_EQ(CreateFilterById(10012), nullptr);  // no factory
    EXPECT_FALSE(FilterBuilt(10012));
    SetFilterFactory(10007, nullptr);
    SetFilterFactory(10012, nullptr);
    ASSERT_EQ(BuildFilterRegistry(), 1);
}

TEST_F(FilterListTest, SavedChainIsGoldenAndReadsBackWithItsSettings) {
    screen->SetConnect(4);
    screen->sidePanel.bg.store(0);
    screen->sidePanel.SetCalibration(1.4e-6, -1, L"mm");
    Add(10022, 0);
    RowFilter* gamma = Add(10007, 7);
    Add(10042, 3);
    gamma->enabled = 0;
    const std::string path = Path("chain.ifl");
    ASSERT_EQ(screen->WriteFilterListFile(W(path).c_str()), 1);
    EXPECT_EQ(ReadText(path),
              "[korvane] {\n ifl_ver 1\n connect 4\n bg 0\n axis_y -1\n scale 0.0000014\n unit mm\n}\n"
              "[group_tag] {\n if_enable 1\n value 0\n}\n"
              "[gamma] {\n if_enable 0\n if_visible 1\n value 7\n}\n"
              "[2d_pattern_tracking] {\n if_enable 1\n if_visible 1\n value 3\n}\n");

    // Another chain and other header values, then the list again.
    screen->SetConnect(8);
    screen->sidePanel.bg.store(1);
    screen->sidePanel.SetCalibration(2.0, 1, L"px");
    screen->sidePanel.RemoveAllFilters(0);
    Add(10007, 99);
    ASSERT_EQ(screen->ReadFilterListFile(W(path).c_str()), 1);
    ASSERT_EQ(Chain().Count(), 3u);
    const int32_t values[] = {0, 7, 3};
    const wchar_t* ids[] = {L"group_tag", L"gamma", L"2d_pattern_tracking"};
    for (int i = 0; i < 3; ++i) {
        auto* f = static_cast<RowFilter*>(Chain().filters[static_cast<size_t>(i)]);
        EXPECT_STREQ(f->GetId(), ids[i]);
        EXPECT_EQ(f->value, values[i]);
        EXPECT_DOUBLE_EQ(f->calibScale, 1.4e-6);
        EXPECT_EQ(f->calibAxisY, -1);
        EXPECT_STREQ(f->calibUnit, L"mm");
    }
    EXPECT_EQ(Chain().filters[1]->enabled.load(), 0u);
    EXPECT_EQ(screen->sidePanel.connect.load(), 4u);
    EXPECT_EQ(screen->sidePanel.bg.load(), 0u);
    EXPECT_EQ(screen->sidePanelShown, 1u);
}

TEST_F(FilterListTest, ListOfTheActiveChainLoadsIntoTheActiveChain) {
    screen->sidePanel.SwitchChain(1);
    Add(10007, 5);
    const std::string path = Path("chain2.ifl");
    ASSERT_EQ(screen->WriteFilterListFile(W(path).c_str()), 1);
    screen->sidePanel.SwitchChain(3);
    ASSERT_EQ(screen->ReadFilterListFile(W(path).c_str()), 1);
    EXPECT_EQ(screen->sidePanel.chains[3].Count(), 1u);
    EXPECT_EQ(screen->sidePanel.chains[1].Count(), 1u);  // the other chains are untouched
    EXPECT_EQ(screen->sidePanel.chains[0].Count(), 0u);
}

TEST_F(FilterListTest, ReadingCases) {
    const std::string header = "[korvane] {\n ifl_ver 1\n connect 4\n bg 0\n axis_y -1\n scale 2.5\n unit cm\n}\n";
    struct Case {
        const char* name;
        std::string text;
        int32_t result;
        uint64_t filters;
        bool message;
        bool panelShown;  // a missing or newer version leaves the emptied panel shown
    };
    const Case cases[] = {
        {"no header", "[gamma] {\n if_enable 1\n}\n", 0, 0, false, false},
        {"no version", "[korvane] {\n connect 4\n}\n[gamma] {\n}\n", 0, 0, false, true},
        {"version 1", "[korvane] {\n ifl_ver 1\n}\n[gamma] {\n}\n", 1, 1, false, true},
        {"version 01", "[korvane] {\n ifl_ver 01\n}\n[gamma] {\n}\n", 1, 1, false, true},
        {"version 2", "[korvane] {\n ifl_ver 2\n}\n[gamma] {\n}\n", 0, 0, true, true},
        {"version beyond 64 bits", "[korvane] {\n ifl_ver 99999999999999999999999\n}\n[gamma] {\n}\n", 0, 0, true,
         true},
        {"header only", header, 1, 0, false, false},
        {"wrong case", header + "[gamma] {\n}\n[Gamma] {\n}\n", 0, 0, false, false},
        {"not a filter", header + "[gamma] {\n}\n[/no/such/plugin.wfm] {\n}\n", 0, 0, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        screen->sidePanel.RemoveAllFilters(1);
        Add(10042, 1);
        Add(10042, 2);
        const std::string path = Path("case.ifl");
        WriteText(path, c.text);
        kvtest::ModalAnswers answers;
        EXPECT_EQ(screen->ReadFilterListFile(W(path).c_str()), c.result);
        EXPECT_EQ(Chain().Count(), c.filters);
        EXPECT_EQ(screen->sidePanelShown, c.panelShown ? 1u : 0u);
        ASSERT_EQ(answers.messages.size(), c.message ? 1u : 0u);
        if (c.message) {
            EXPECT_EQ(answers.messages[0], L"It is a file created with a newer version and can not be read");
        }
    }
    // The header-only list applied its header.
    screen->SetConnect(8);
    WriteText(Path("header.ifl"), header);
    ASSERT_EQ(screen->ReadFilterListFile(W(Path("header.ifl")).c_str()), 1);
    EXPECT_EQ(screen->sidePanel.connect.load(), 4u);
    EXPECT_DOUBLE_EQ(screen->sidePanel.calibScale, 2.5);
    EXPECT_EQ(screen->sidePanel.calibAxisY, -1);
    EXPECT_STREQ(screen->sidePanel.calibUnit, L"cm");
}

TEST_F(FilterListTest, UnreadableFileChangesNothing) {
    Add(10007, 1);
    EXPECT_EQ(screen->ReadFilterListFile(W(Path("missing.ifl")).c_str()), 0);
    EXPECT_EQ(Chain().Count(), 1u);
    EXPECT_EQ(screen->sidePanelShown, 1u);
}

TEST_F(FilterListTest, FailedWriteKeepsTheOldListAndLeavesNoTemporary) {
    const std::string path = Path("kept.ifl");
    WriteText(path, "old list\n");
    RowFilter* f = Add(10007, 1);
    f->badValue = L"two\nlines";  // a value the settings text refuses to write
    EXPECT_EQ(screen->WriteFilterListFile(W(path).c_str()), 0);
    EXPECT_EQ(ReadText(path), "old list\n");
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(path).parent_path()))
        files += entry.path().filename().string().rfind("kept.ifl", 0) == 0 ? 1 : 0;
    EXPECT_EQ(files, 1);
    // A folder that does not exist: nothing written, failure reported.
    EXPECT_EQ(screen->WriteFilterListFile(W(Path("no/such/dir/x.ifl")).c_str()), 0);
    // Written again without the bad value, the list replaces the old one
    // with the usual file mode.
    f->badValue = nullptr;
    ASSERT_EQ(screen->WriteFilterListFile(W(path).c_str()), 1);
    EXPECT_NE(ReadText(path).find("[gamma]"), std::string::npos);
    const auto perms = std::filesystem::status(path).permissions();
    EXPECT_NE(perms & std::filesystem::perms::others_read, std::filesystem::perms::none);
}

}  // namespace

namespace {

using namespace kvapptest;

TEST_F(MainScreenTest, BuiltFiltersMatchTheirRowsAndRoundTripThroughAList) {
    screen->SetLanguage(L"en");
    const uint32_t built[] = {10000, 10034, 10022, 10023, 10024, 10003, 10017, 10004, 10005, 10011, 10035, 10014,
                              10015, 10040, 10008, 10009, 10010, 10036, 10037, 10039, 10038, 10027, 10007, 10006, 10028,
                              10019, 10001, 10018, 10029, 10025, 10026, 10002, 10030, 10041, 10013,
                              10020, 10012, 10016, 10031, 10032, 10033, 10021, 10042};
    for (uint32_t id = 10000; id <= 10042; ++id) {
        CImgFilter* f = CreateFilterById(id);
        const bool isBuilt = std::find(std::begin(built), std::end(built), id) != std::end(built);
        EXPECT_EQ(f != nullptr, isBuilt) << id;
        EXPECT_EQ(FilterBuilt(id), isBuilt) << id;
        if (!f) continue;
        EXPECT_STREQ(f->GetId(), g_FilterRegistry[id - 10000].identifier) << id;
        EXPECT_STREQ(f->GetName(L"en"), FilterMenuName(id, L"en")) << id;
        // Menus name every filter as it names itself, in both languages.
        EXPECT_STREQ(f->GetName(L"jp"), FilterMenuName(id, L"jp")) << id;
        EXPECT_STREQ(f->GetName(nullptr), FilterMenuName(id, L"en")) << id;
        delete f;
    }
    for (uint32_t id : built) ASSERT_EQ(screen->AddFilterToChain(CreateFilterById(id), 0), 1) << id;
    kvtest::TempDir dir("all_seven");
    const std::string path = dir.file("seven.ifl");
    ASSERT_EQ(screen->WriteFilterListFile(W(path).c_str()), 1);
    const char* golden =
        "[korvane] {\n ifl_ver 1\n connect 8\n bg 1\n axis_y 1\n scale 1\n unit \n}\n"
        "[process_rect] {\n if_enable 1\n set 0\n x 0\n y 0\n w 0\n h 0\n}\n"
        "[change_conditions] {\n if_enable 1\n if_visible 1\n connect 8\n bg 1\n}\n"
        "[group_tag] {\n if_enable 1\n}\n"
        "[up_convert] {\n if_enable 1\n}\n"
        "[down_convert] {\n if_enable 1\n}\n"
        "[reversal] {\n if_enable 1\n}\n"
        "[equalize_histogram] {\n if_enable 1\n}\n"
        "[noise_remover] {\n if_enable 1\n if_visible 1\n enable_min 1\n enable_max 0\n ui_min 10\n ui_max 1000\n"
        " param_min 10\n param_max 0\n}\n"
        "[window_cut] {\n if_enable 1\n if_visible 1\n top 1\n bottom 1\n left 1\n right 1\n}\n"
        "[binary_image_process] {\n if_enable 1\n if_visible 1\n type 5\n repeat 1\n shave 0\n}\n"
        "[separation] {\n if_enable 1\n if_visible 1\n gray 0\n}\n"
        "[mask] {\n if_enable 1\n if_visible 1\n preview 1\n default_mask 1\n}\n"
        "[background_removal] {\n if_enable 1\n if_visible 1\n erase_type 0\n extract_level 2\n tile_size 0\n"
        " default_mask 0\n}\n"
        "[flip] {\n if_enable 1\n if_visible 1\n flip_h 0\n flip_v 0\n}\n"
        "[zoom] {\n if_enable 1\n if_visible 1\n mirror 0\n enable 0\n diagonal 0,0,0,0\n}\n"
        "[projective_transformation] {\n if_enable 1\n if_visible 1\n f 0\n size_pixel_us 0\n size_inch 0\n pan 0\n"
        " tilt 0\n zoom 1\n}\n"
        "[filter] {\n if_enable 1\n if_visible 1\n size 3\n filter_array "
        "0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,1,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0\n"
        " div 1\n auto_div 1\n type 0\n}\n"
        "[fft] {\n if_enable 1\n}\n"
        "[ifft] {\n if_enable 1\n}\n"
        "[ifft_ex] {\n if_enable 1\n}\n"
        "[frequency_mask] {\n if_enable 1\n if_visible 1\n range_min 179\n range_max 179\n revers 0\n}\n"
        "[pixel_value_adjustment] {\n if_enable 1\n if_visible 1\n mode 1\n sel 128\n}\n"
        "[gamma] {\n if_enable 1\n if_visible 1\n type 0\n gamma 2.2\n rev 1\n from 2.2\n to 1.8\n}\n"
        "[histogram] {\n if_enable 1\n if_visible 1\n min 0\n max 255\n view 10000\n}\n";
    // The pseudo-colour section: the identity LUT and the default palette.
    std::string identity;
    for (int i = 0; i < 256; ++i) identity += (i ? "," : "") + std::to_string(i);
    const std::string lutSection = "[pseudo-color] {\n if_enable 1\n if_visible 1\n LUT_R " + identity +
                                   "\n LUT_G " + identity + "\n LUT_B " + identity +
                                   "\n PAL_R 0,255,255,0,0,0,255,255,85,107,36,73,109,146,182,219"
                                   "\n PAL_G 0,255,0,255,0,255,0,255,85,107,36,73,109,146,182,219"
                                   "\n PAL_B 0,255,0,0,255,255,255,0,85,107,36,73,109,146,182,219"
                                   "\n PRESERVE_LUMINANCE 1\n INTERPOLATE 1\n}\n";
    // The colour filters' sections.
    const std::string colourSections =
        "[bayer_convert] {\n if_enable 1\n if_visible 1\n action 2\n filter 0\n gain 0\n gain_r 3.344\n"
        " gain_g 1.704\n gain_b 8.772\n}\n"
        "[component_extraction] {\n if_enable 1\n if_visible 1\n cmyk 0\n color 0\n sel 3\n}\n"
        "[select_components] {\n if_enable 1\n if_visible 1\n cmyk 0\n sel 0\n}\n"
        "[color_filter] {\n if_enable 1\n if_visible 1\n wave_length 0\n gain_free 0\n filter 0\n gain 0\n"
        " inverse 0\n}\n"
        "[white_balance] {\n if_enable 1\n if_visible 1\n}\n"
        "[color_correction] {\n if_enable 1\n if_visible 1\n"
        " STD_R 0.686275 ,0.905882 ,0.274510 ,0.031373 ,0.219608 ,0.733333\n"
        " STD_G 0.211765 ,0.780392 ,0.580392 ,0.521569 ,0.239216 ,0.337255\n"
        " STD_B 0.235294 ,0.121569 ,0.286275 ,0.631373 ,0.588235 ,0.584314\n"
        " IMG_R 0.686275 ,0.905882 ,0.274510 ,0.031373 ,0.219608 ,0.733333\n"
        " IMG_G 0.211765 ,0.780392 ,0.580392 ,0.521569 ,0.239216 ,0.337255\n"
        " IMG_B 0.235294 ,0.121569 ,0.286275 ,0.631373 ,0.588235 ,0.584314\n"
        " CORRECT_S 0\n}\n";
    // Extraction and the colour map.
    const std::string mapSections =
        "[extraction] {\n if_enable 1\n if_visible 1\n reverse 0\n fill 0\n gray 0\n hc 0\n hw 32768\n"
        " s 0,65535\n v 0,65535\n}\n"
        "[color_map] {\n if_enable 1\n if_visible 1\n view 0\n type 1\n bg 0\n}\n";
    // The measurement and tool filters' sections.
    const std::string toolSections =
        "[overlap_compare] {\n if_enable 1\n if_visible 1\n}\n"
        "[manual_measurement] {\n if_enable 1\n if_visible 1\n}\n"
        "[particle_tracking_/_ptv] {\n if_enable 1\n if_visible 1\n disp_id 1\n line_all 0\n line_len 10\n"
        " search_r 5.0\n active_scope 1\n active_range 1\n cell_size 2\n grid 1\n cell 0\n arrow_zoom 30\n"
        " color_bar 2\n}\n"
        "[auto_measurement] {\n if_enable 1\n if_visible 1\n island 1\n}\n"
        "[generate_bg_image] {\n if_enable 1\n if_visible 1\n sel 0\n noise_level 2\n}\n"
        "[strobe_photo] {\n if_enable 1\n if_visible 1\n}\n"
        "[anti_shake_/_composit] {\n if_enable 1\n if_visible 1\n sel 0\n type 0\n zoom 0\n anti_noise 1\n}\n";
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string pivSection =
        "[piv] {\n if_enable 1\n if_visible 1\n cell_size 2\n large_pattern 1\n fast_scan 1\n search_size 0\n"
        " grid 1\n cell 0\n arrow_zoom 30\n color_bar 2\n erase_r 1\n erase_r_val 45\n erase_l 1\n erase_l_val 20\n}\n";
    const std::string trackKeys =
        " disp_id 1\n line_all 0\n line_len 10\n active_scope 1\n revers 0\n track_order 0\n connect 8\n"
        " multi_select 1\n noise_auto 1\n noise_enable_l 0\n noise_enable_h 0\n noise_l 10\n noise_h 1000\n"
        " window_cut 0\n holl_fill 1\n preview 1\n}\n";
    const std::string trackSections =
        "[2d_hsv_tracking] {\n if_enable 1\n if_visible 1\n trackpanelsel 0\n" + trackKeys +
        "[2d_pattern_tracking] {\n if_enable 1\n if_visible 1\n trackpanelsel 1\n" + trackKeys;
    EXPECT_EQ(text.str(),
              golden + lutSection + colourSections + mapSections + toolSections + pivSection + trackSections);
    screen->sidePanel.RemoveAllFilters(1);
    ASSERT_EQ(screen->ReadFilterListFile(W(path).c_str()), 1);
    const FilterChain& chain = screen->sidePanel.chains[0];
    ASSERT_EQ(chain.Count(), std::size(built));
    for (size_t i = 0; i < std::size(built); ++i) EXPECT_STREQ(chain.filters[i]->GetId(), g_FilterRegistry[built[i] - 10000].identifier);
}

}  // namespace

namespace {

using namespace kvapptest;

// A filter plug-in loaded from a test folder: its Plugin menu entry adds it,
// a stale module index is refused with the add-filter error, and a filter
// list names it by its module path, however long (here a 100-character
// folder), and reads it back.
TEST_F(MainScreenTest, PluginMenuAndPluginFiltersInLists) {
    screen->SetLanguage(L"en");
    kvtest::TempDir dir("plugin_menu");
    std::string pluginDir = dir.path() + "/plugins_";
    pluginDir.append(pluginDir.size() < 100 ? 100 - pluginDir.size() : 1, 'p');
    ASSERT_GE(pluginDir.size(), 100u);
    std::filesystem::create_directories(pluginDir);
    const std::string module = pluginDir + "/a.wfm";
    std::filesystem::copy_file(std::string(KV_BINARY_DIR) + "/testlibs/tp_plugin.so", module);
    UnloadFilterPlugins();
    ASSERT_EQ(LoadFilterPlugins(W(pluginDir).c_str(), &screen->sidePanel), 1);
    screen->BuildMenus();
    ASSERT_GE(g_PluginMenuItem, 0);
    EXPECT_EQ(screen->menuBar.items[static_cast<size_t>(g_PluginMenuItem)].menuText, L"Test plug-in\t0\n");
    kvtest::ModalAnswers answers;
    screen->MenuCommand(g_PluginMenuItem, 0);
    ASSERT_EQ(screen->sidePanel.chains[0].Count(), 1u);
    screen->MenuCommand(g_PluginMenuItem, 7);  // no such module: nothing added
    EXPECT_EQ(screen->sidePanel.chains[0].Count(), 1u);
    EXPECT_EQ(answers.messages, (std::vector<std::wstring>{L"can't add filter"}));

    const std::string list = dir.file("with_plugin.ifl");
    ASSERT_EQ(screen->WriteFilterListFile(W(list).c_str()), 1);
    std::ifstream in(list, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("[" + module + "] {\n"), std::string::npos) << text.str();
    screen->sidePanel.RemoveAllFilters(1);
    ASSERT_EQ(screen->ReadFilterListFile(W(list).c_str()), 1);
    ASSERT_EQ(screen->sidePanel.chains[0].Count(), 1u);
    EXPECT_STREQ(screen->sidePanel.chains[0].filters[0]->GetName(L"en"), L"Test plug-in");
    EXPECT_STREQ(screen->sidePanel.chains[0].filters[0]->GetId(), W(module).c_str());
    screen->sidePanel.RemoveAllFilters(1);
    UnloadFilterPlugins();
}

}  // namespace
