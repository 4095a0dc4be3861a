// "Filter": chain runs against the convolution and median kernels on the
// clipped region, the Edge preset against numpy's raw weighted sum, the
// presets, the divisor box, the control rules, loads and the ".fmx" file
// flow, and the panel driven by clicks and characters in both languages.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "filters/core/cfgfile.h"
#include "filters/processing/lf_filter.h"
#include "filters/processing/support/region_runs.h"
#include "image/kernels/convolve.h"
#include "platform/plat_messages.h"
#include "platform/utf8.h"
#include "support/testsupport.h"
#include "toolkit/support/file_select_answer.h"
#include "toolkit/support/ui_input.h"

namespace {

std::wstring Saved(CImgFilter& f) {
    CCfgFile file;
    CCfgPack* pack = file.AddPack(L"filter");
    f.SaveConfig(pack);
    std::wstring text;
    for (const CCfgItem* i = pack->firstItem; i; i = i->next) text += std::wstring(i->key) + L"=" + i->value + L";";
    return text;
}

void Load(CImgFilter& f, const std::vector<std::pair<const wchar_t*, std::wstring>>& items) {
    CCfgFile file;
    CCfgPack* pack = file.AddPack(L"filter");
    for (const auto& [k, v] : items) pack->AddItem(k, v.c_str());
    f.LoadConfig(pack);
}

void CommitDiv(CLfFilter& f, const wchar_t* text) {
    f.divEdit.SetLineText(0, text);
    f.divEdit.focusLost(&f.divEdit, f.divEdit.data);
}

std::wstring List(const std::vector<int32_t>& values) {
    std::wstring s;
    for (size_t i = 0; i < values.size(); ++i) s += (i ? L"," : L"") + std::to_wstring(values[i]);
    return s;
}

const std::wstring kIdentityList = [] {
    std::vector<int32_t> v(81, 0);
    v[40] = 1;
    return List(v);
}();

class FilterTest : public testing::Test {
protected:
    void TearDown() override { kvtest::Pump(); }
    FakeHost host;
};

TEST_F(FilterTest, ChainRunsMatchTheKernelsOnTheClippedRegion) {
    auto* rect = static_cast<CLfRect*>(host.Add(CreateLfRect()));
    auto* f = static_cast<CLfFilter*>(host.Add(CreateLfFilter()));
    // A new filter: identity kernel applied, empty grid shown, "set" off.
    for (int32_t format : kvtest::RegionFormats())
        kvtest::ExpectChainMatchesDirect(host, rect, kvtest::RegionCases()[0], format, [](CImgBuff*, const ImgRect&, bool) {});
    for (const auto& row : f->grid.values)
        for (int32_t v : row) EXPECT_EQ(v, 0);
    EXPECT_EQ(f->setButton.enabled, 0u);
    // 5 x 5 with a fixed divisor; grid edits wait for "set".
    f->sizeButtons[0].SelectInGroup(1, 0);
    f->sizeButtons[1].callback(&f->sizeButtons[1], f->sizeButtons[1].data);
    int32_t k5[25];
    for (int32_t i = 0; i < 25; ++i) {
        k5[i] = (i * 7) % 11 - 3;
        f->grid.values[2 + i / 5][2 + i % 5] = k5[i];
    }
    f->autoDivBox.checked = 0;
    f->autoDivBox.callback(&f->autoDivBox, f->autoDivBox.data);
    CommitDiv(*f, L"9");
    EXPECT_EQ(f->setButton.enabled, 1u);
    kvtest::ExpectChainMatchesDirect(host, rect, kvtest::RegionCases()[0], kImgRgb8, [](CImgBuff*, const ImgRect&, bool) {});
    f->ApplyEdits();
    for (const kvtest::RegionCase& c : kvtest::RegionCases())
        for (int32_t format : kvtest::RegionFormats())
            kvtest::ExpectChainMatchesDirect(host, rect, c, format, [&](CImgBuff* img, const ImgRect& r, bool in) {
                if (in) { ASSERT_EQ(ImgConvolve(img, 5, k5, 0, 9, &r), 1); }
            });
    // The same kernel normalised, then the median over the window.
    f->autoDivBox.checked = 1;
    f->autoDivBox.callback(&f->autoDivBox, f->autoDivBox.data);
    f->ApplyEdits();
    kvtest::ExpectChainMatchesDirect(host, rect, kvtest::RegionCases()[1], kImgRgb16, [&](CImgBuff* img, const ImgRect& r, bool) {
        ASSERT_EQ(ImgConvolve(img, 5, k5, 1, 9, &r), 1);
    });
    f->medianBox.checked = 1;
    f->medianBox.callback(&f->medianBox, f->medianBox.data);
    f->ApplyEdits();
    for (const kvtest::RegionCase& c : kvtest::RegionCases())
        for (int32_t format : kvtest::RegionFormats())
            kvtest::ExpectChainMatchesDirect(host, rect, c, format, [&](CImgBuff* img, const ImgRect& r, bool in) {
                if (in) { ASSERT_EQ(ImgMedian(img, 5, &r), 1); }
            });
    // Off: frames pass.
    f->CImgFilter::enabled = 0;
    kvtest::ExpectChainMatchesDirect(host, rect, kvtest::RegionCases()[0], kImgGray8, [](CImgBuff*, const ImgRect&, bool) {});
}

TEST_F(FilterTest, EdgePresetMatchesNumpysWeightedSum) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "no Debian python3 with numpy";
    auto* rect = static_cast<CLfRect*>(host.Add(CreateLfRect()));
    auto* f = static_cast<CLfFilter*>(host.Add(CreateLfFilter()));
    f->OnMenu(103);
    EXPECT_EQ(f->Get().autoDiv, 1u);
    for (int32_t format : kvtest::RegionFormats()) {
        SCOPED_TRACE(format);
        rect->Set({1, 5, 4, 17, 13});
        CImgBuff image;
        kvtest::RandomImage(image, 40, 30, format, 11);
        kvtest::TempDir dir("edge_np");
        const std::vector<uint8_t> bytes = kvtest::Bytes(image);
        ASSERT_TRUE(kvtest::WriteFileBytes(dir.file("in.raw"), std::string(bytes.begin(), bytes.end())));
        host.RunChain(&image, 0);
        // Taps outside the region count as nothing. The block sums to 0, so
        // inside the sum is not divided, only clamped; along the border the
        // weights in the window sum above 1 and divide it, truncated.
        const char* script =
            "import sys, numpy as np\n"
            "i, o, ch, deep = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])\n"
            "t = np.uint16 if deep else np.uint8\n"
            "a = np.fromfile(i, t).reshape(30, 40, ch).astype(np.int64)\n"
            "k = np.array([[-1, -2, -1], [-2, 12, -2], [-1, -2, -1]])\n"
            "r = a[4:17, 5:22]\n"
            "p = np.pad(r, ((1, 1), (1, 1), (0, 0)))\n"
            "s = sum(k[dy, dx] * p[dy:dy + 13, dx:dx + 17] for dy in range(3) for dx in range(3))\n"
            "m = np.pad(np.ones((13, 17), np.int64), 1)\n"
            "w = sum(k[dy, dx] * m[dy:dy + 13, dx:dx + 17] for dy in range(3) for dx in range(3))[:, :, None]\n"
            "s = np.where(w > 1, np.trunc(s / np.where(w > 1, w, 1)), s).astype(np.int64)\n"
            "a[4:17, 5:22] = np.clip(s, 0, 65535 if deep else 255)\n"
            "a.astype(t).tofile(o)\n";
        std::string ignored;
        const int32_t channels = format == kImgGray8 ? 1 : 3;
        ASSERT_EQ(kvtest::RunPython(script,
                                    {dir.file("in.raw"), dir.file("out.raw"), std::to_string(channels),
                                     format == kImgRgb16 ? "1" : "0"},
                                    &ignored),
                  0);
        const std::string expect = kvtest::ReadFileBytes(dir.file("out.raw"));
        const std::vector<uint8_t> got = kvtest::Bytes(image);
        ASSERT_EQ(expect.size(), got.size());
        EXPECT_EQ(std::memcmp(expect.data(), got.data(), got.size()), 0);
    }
}

TEST_F(FilterTest, PresetsKeepTheDivisorAndTheDivisorBoxTakesPositiveIntegers) {
    CLfFilter f;
    CommitDiv(f, L"7");
    EXPECT_EQ(f.panelDiv, 7);
    const struct {
        int32_t id;
        int32_t centre, corner;
    } presets[] = {{101, 12, 1}, {102, 24, -1}, {103, 12, -1}, {104, 3, 1}, {105, 18, -1}};
    for (const auto& p : presets) {
        SCOPED_TRACE(p.id);
        f.grid.values[0][0] = 99;
        f.OnMenu(p.id);
        const CLfFilter::Applied a = f.Get();
        EXPECT_EQ(a.size, 3u);
        EXPECT_EQ(a.kernel[4], p.centre);
        EXPECT_EQ(a.kernel[0], p.corner);
        EXPECT_EQ(a.grid[0][0], 0) << "the preset's list covers the whole grid";
        EXPECT_EQ(a.div, 7);
        EXPECT_EQ(a.autoDiv, 1u);
        EXPECT_EQ(f.panelDiv, 7);
        EXPECT_EQ(f.setButton.enabled, 0u);
    }
    // Ids outside the menu's do nothing.
    f.grid.values[4][4] = 5;
    f.OnMenu(100);
    f.OnMenu(106);
    EXPECT_EQ(f.Get().kernel[4], 18);
    const struct {
        const wchar_t* text;
        int32_t expect;
    } divisors[] = {{L"12.5", 7}, {L"0", 7}, {L"99999999999", 7}, {L"2147483648", 7}, {L"", 7},
                    {L".5", 7},   {L"-3", 7}, {L"12", 12},         {L"2147483647", 2147483647}};
    for (const auto& d : divisors) {
        CommitDiv(f, d.text);
        EXPECT_EQ(f.panelDiv, d.expect) << testing::PrintToString(std::wstring(d.text));
        EXPECT_EQ(std::wstring(f.divEdit.GetText()), std::to_wstring(f.panelDiv));
        if (d.expect == 12) CommitDiv(f, L"7");
    }
}

TEST_F(FilterTest, ControlRulesFollowTheTypeAndAutoDivisor) {
    auto* f = static_cast<CLfFilter*>(host.Add(CreateLfFilter()));
    const struct {
        uint32_t median, autoDiv;
        uint32_t grid, div, autoBox;
    } rules[] = {{0, 1, 1, 0, 1}, {0, 0, 1, 1, 1}, {1, 0, 0, 0, 0}, {1, 1, 0, 0, 0}};
    for (const auto& r : rules) {
        f->medianBox.checked = r.median;
        f->medianBox.callback(&f->medianBox, f->medianBox.data);
        f->autoDivBox.checked = r.autoDiv;
        f->autoDivBox.callback(&f->autoDivBox, f->autoDivBox.data);
        EXPECT_EQ(f->grid.enabled, r.grid);
        EXPECT_EQ(f->divEdit.enabled, r.div);
        EXPECT_EQ(f->divLabel.enabled, r.div);
        EXPECT_EQ(f->autoDivBox.enabled, r.autoBox);
        for (CFgUIChkButton& b : f->sizeButtons) EXPECT_EQ(b.enabled, 1u);
        EXPECT_EQ(f->setButton.enabled, 1u);
    }
    // The grid loses the focus with its enabled state.
    f->medianBox.checked = 0;
    f->medianBox.callback(&f->medianBox, f->medianBox.data);
    f->SetFocus(&f->grid);
    f->medianBox.checked = 1;
    f->medianBox.callback(&f->medianBox, f->medianBox.data);
    EXPECT_NE(f->focused, &f->grid);
    // Disabled and enabled again, the rules still hold.
    f->EnableUi(0);
    f->EnableUi(1);
    EXPECT_EQ(f->grid.enabled, 0u);
    f->ApplyEdits();
    f->EnableUi(0);
    f->EnableUi(1);
    EXPECT_EQ(f->setButton.enabled, 0u);
}

TEST_F(FilterTest, SettingsLoadsAndTheOuterCells) {
    CLfFilter f;
    EXPECT_EQ(Saved(f), L"if_enable=0;if_visible=0;size=3;filter_array=" + kIdentityList + L";div=1;auto_div=1;type=0;");
    // Edits not applied are not saved.
    f.grid.values[4][4] = 5;
    f.OnEditChanged();
    EXPECT_EQ(Saved(f), L"if_enable=0;if_visible=0;size=3;filter_array=" + kIdentityList + L";div=1;auto_div=1;type=0;");
    // 9 x 9 and back to 3 x 3: the outer cells are kept, saved and reloaded.
    std::vector<int32_t> cells(81);
    for (int32_t i = 0; i < 81; ++i) cells[i] = i - 40;
    Load(f, {{L"size", L"9"}, {L"filter_array", List(cells)}, {L"div", L"24"}, {L"auto_div", L"0"}, {L"type", L"1"}});
    EXPECT_EQ(f.Get().size, 9u);
    EXPECT_EQ(f.sizeButtons[0].GetGroupSelection(), 3);
    EXPECT_EQ(f.Get().kernel[80], 40);
    f.sizeButtons[0].SelectInGroup(0, 0);
    f.sizeButtons[0].callback(&f.sizeButtons[0], f.sizeButtons[0].data);
    f.ApplyEdits();
    const CLfFilter::Applied a = f.Get();
    EXPECT_EQ(a.size, 3u);
    EXPECT_EQ(a.kernel[0], -10);
    EXPECT_EQ(a.grid[0][0], -40);
    const std::wstring saved = Saved(f);
    EXPECT_EQ(saved, L"if_enable=0;if_visible=0;size=3;filter_array=" + List(cells) + L";div=24;auto_div=0;type=1;");
    CLfFilter g;
    Load(g, {{L"size", L"3"}, {L"filter_array", List(cells)}, {L"div", L"24"}, {L"auto_div", L"0"}, {L"type", L"1"}});
    EXPECT_EQ(Saved(g), saved);
    // Loads that are ignored, in part or whole.
    const struct {
        const char* name;
        std::vector<std::pair<const wchar_t*, std::wstring>> items;
        uint64_t size;
        int32_t firstCell, cell9, lastCell;
        int32_t div;
        uint32_t autoDiv, type;
    } cases[] = {
        {"size 4", {{L"size", L"4"}, {L"filter_array", L"5,5,5"}}, 3, -40, -31, 40, 24, 0, 1},
        {"size without a list", {{L"size", L"5"}}, 3, -40, -31, 40, 24, 0, 1},
        {"a short list", {{L"size", L"5"}, {L"filter_array", L"7,8"}}, 5, 7, -31, 40, 24, 0, 1},
        {"a list beyond 81 values", {{L"size", L"3"}, {L"filter_array", List(std::vector<int32_t>(200, 3))}}, 3, 3, 3, 3, 24, 0, 1},
        {"div with a point", {{L"div", L"24.0"}}, 3, -40, -31, 40, 24, 0, 1},
        {"div beyond 32 bits", {{L"div", L"4294967297"}}, 3, -40, -31, 40, 24, 0, 1},
        {"div 0", {{L"div", L"0"}}, 3, -40, -31, 40, 24, 0, 1},
        {"div 3, flags", {{L"div", L"3"}, {L"auto_div", L"1"}, {L"type", L"0"}}, 3, -40, -31, 40, 3, 1, 0},
        {"inexact flags", {{L"auto_div", L"yes"}, {L"type", L"2"}}, 3, -40, -31, 40, 24, 0, 1},
        {"type text", {{L"type", L"x"}}, 3, -40, -31, 40, 24, 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CLfFilter h;
        Load(h, {{L"size", L"3"}, {L"filter_array", List(cells)}, {L"div", L"24"}, {L"auto_div", L"0"}, {L"type", L"1"}});
        Load(h, c.items);
        const CLfFilter::Applied b = h.Get();
        EXPECT_EQ(b.size, c.size);
        EXPECT_EQ(b.grid[0][0], c.firstCell);
        EXPECT_EQ(b.grid[1][0], c.cell9);
        EXPECT_EQ(b.grid[8][8], c.lastCell);
        EXPECT_EQ(b.div, c.div);
        EXPECT_EQ(b.autoDiv, c.autoDiv);
        EXPECT_EQ(b.type, c.type);
        EXPECT_EQ(h.medianBox.checked, c.type);
        EXPECT_EQ(std::wstring(h.divEdit.GetText()), std::to_wstring(c.div));
    }
}

TEST_F(FilterTest, KernelFilesSaveAndOpen) {
    host.SetLanguage(L"en");
    auto* f = static_cast<CLfFilter*>(host.Add(CreateLfFilter()));
    f->OnMenu(102);
    kvtest::TempDir dir("fmx");
    const std::string path = dir.file("sharpen.fmx");
    const std::wstring wpath = PlatUtf8ToWide(path.c_str());
    {
        kvtest::ModalAnswers answers({wpath});
        f->OnMenu(2);
        EXPECT_EQ(answers.messages, std::vector<std::wstring>{L"saved"});
    }
    std::vector<int32_t> cells(81, 0);
    const int32_t block[9] = {-1, -2, -1, -2, 24, -2, -1, -2, -1};
    for (int32_t i = 0; i < 9; ++i) cells[(3 + i / 3) * 9 + 3 + i % 3] = block[i];
    std::string list;
    for (size_t i = 0; i < cells.size(); ++i) list += (i ? "," : "") + std::to_string(cells[i]);
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "[filter] {\n fmx_ver 1\n if_enable 1\n if_visible 1\n size 3\n filter_array " + list +
                              "\n div 1\n auto_div 1\n type 0\n}\n");
    // Opened into another filter; versions 0 and 1 load, 2 and none do not.
    auto* g = static_cast<CLfFilter*>(host.Add(CreateLfFilter()));
    const struct {
        const char* version;
        const wchar_t* message;
        bool loads;
    } versions[] = {{"1", nullptr, true}, {"0", nullptr, true},
                    {"2", L"It is a file created with a newer version and can not be read", false},
                    {nullptr, L"loading failed", false}};
    for (const auto& v : versions) {
        SCOPED_TRACE(v.version ? v.version : "none");
        std::string body = text.str();
        const size_t at = body.find(" fmx_ver 1\n");
        body.replace(at, 11, v.version ? std::string(" fmx_ver ") + v.version + "\n" : std::string());
        ASSERT_TRUE(kvtest::WriteFileBytes(path, body));
        g->OnMenu(104);
        kvtest::ModalAnswers answers({wpath});
        g->OnMenu(1);
        EXPECT_EQ(answers.messages.empty(), v.message == nullptr);
        if (v.message) { EXPECT_EQ(answers.messages, std::vector<std::wstring>{v.message}); }
        EXPECT_EQ(g->Get().kernel[4], v.loads ? 24 : 3);
    }
    // A refused overwrite leaves the file.
    const std::string before = kvtest::ReadFileBytes(path);
    kvtest::ModalAnswers answers({wpath});
    answers.buttons = {1};
    f->OnMenu(2);
    EXPECT_EQ(kvtest::ReadFileBytes(path), before);
}

TEST_F(FilterTest, PanelClicksAndTypingInBothLanguages) {
    for (const wchar_t* language : {L"en", L"jp"}) {
        const bool jp = std::wstring(language) == L"jp";
        SCOPED_TRACE(jp ? "jp" : "en");
        host.SetLanguage(language);
        auto* f = static_cast<CLfFilter*>(host.Add(CreateLfFilter()));
        ASSERT_TRUE(f->PanelShown());
        const int32_t m = f->MenuHeight();
        EXPECT_EQ(f->CFgScreen::width, 290u);
        EXPECT_EQ(f->CFgScreen::height, static_cast<uint64_t>(338 + m));
        ASSERT_EQ(f->menuBar.ItemCount(), 1);
        EXPECT_EQ(f->menuBar.items[0].label, jp ? L"フィルター" : L"Filter");
        EXPECT_EQ(f->medianBox.label, jp ? L"メディアン" : L"median");
        host.calls.clear();
        // The centre cell: a click, then typed digits and a minus.
        PlatPostTestClick(f->window, 10 + 4 * 30 + 15, m + 18 + 4 * 20 + 10);
        kvtest::Pump();
        kvtest::PostText(f->window, L"-8");
        kvtest::Pump();
        EXPECT_EQ(f->grid.values[4][4], -8);
        EXPECT_EQ(f->setButton.enabled, 1u);
        EXPECT_EQ(f->Get().kernel[4], 1);
        PlatPostTestClick(f->window, 90, m + 218);  // 5x5
        kvtest::Pump();
        EXPECT_EQ(f->grid.size, 5);
        kvtest::SaveScreenshot(kvtest::CaptureFrame(*f, *f), std::string("filter-") + (jp ? "jp" : "en"));
        PlatPostTestClick(f->window, 140, m + 310);  // "set"
        kvtest::Pump();
        EXPECT_EQ(f->Get().size, 5u);
        EXPECT_EQ(f->Get().kernel[12], -8);
        EXPECT_EQ(f->setButton.enabled, 0u);
        EXPECT_EQ(host.calls, std::vector<std::string>{"Refilter(0)"});
    }
}

}  // namespace
