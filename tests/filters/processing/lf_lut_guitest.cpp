// "Pseudo-color": the tables against numpy (presets, gradients, SET with
// and without preserved luminance), undo, chain runs over every format
// behind a rectangle, settings lists, ".lut" files and the panel's clicks.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "filters/core/cfgfile.h"
#include "filters/processing/lf_lut.h"
#include "filters/processing/lf_rect.h"
#include "filters/processing/support/fake_host.h"
#include "image/colour.h"
#include "image/pool.h"
#include "platform/plat_messages.h"
#include "platform/utf8.h"
#include "support/testsupport.h"
#include "toolkit/support/file_select_answer.h"
#include "toolkit/support/ui_input.h"

namespace {

std::vector<int> Table(const CLfLut& f) {
    std::vector<int> t;
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 256; ++i) t.push_back(f.lut[c][i]);
    return t;
}

// numpy's tables, one per line as 768 numbers (red, green, blue).
std::vector<std::vector<int>> NumpyTables(const std::string& script, const std::vector<std::string>& args) {
    std::string out;
    std::string rules = kvtest::ReadFileBytes(std::string(KV_SOURCE_DIR) + "/tests/image/oracle/pixel_rules.py");
    // Its functions only, not its own report.
    const size_t mainCall = rules.find("if __name__ == \"__main__\":");
    if (mainCall != std::string::npos) rules.replace(mainCall, 26, "if False:");
    EXPECT_EQ(kvtest::RunPython(rules + "\n" + script, args, &out), 0);
    std::vector<std::vector<int>> tables;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream values(line);
        std::vector<int> t;
        int v;
        while (values >> v) t.push_back(v);
        tables.push_back(t);
    }
    return tables;
}

const char* kTableModel = R"(
import sys, math
import numpy as np
def interp(anchors):
    n = len(anchors)
    out = np.zeros((3, 256), dtype=np.int64)
    for i in range(256):
        p = i / 255 * (n - 1)
        k = int(p)
        for c in range(3):
            if p == k or k >= n - 1:
                out[c][i] = anchors[min(k, n - 1)][c]
            else:
                f = p - k
                out[c][i] = min(255, math.trunc(anchors[k + 1][c] * f + anchors[k][c] * (1 - f)))
    return out
def steps(colours):
    n = len(colours)
    out = np.zeros((3, 256), dtype=np.int64)
    for i in range(256):
        k = min(int(i / (255 / n)), n - 1)
        for c in range(3):
            out[c][i] = colours[k][c]
    return out
def show(t):
    print(' '.join(str(int(v)) for v in t.ravel()))
B, K, W = (0, 0, 255), (0, 0, 0), (255, 255, 255)
C, G, Y, R = (0, 255, 255), (0, 255, 0), (255, 255, 0), (255, 0, 0)
show(interp([K, B, C, G, Y, R, W]))
show(interp([B, C, G, Y, R]))
show(steps([(round(k * 255 / 7),) * 3 for k in range(8)]))
show(steps([(round(k * 255 / 3),) * 3 for k in range(4)]))
pal = [(255, 0, 0), (0, 0, 255), (10, 200, 30)]
many = [((k * 7) % 256, (k * 13) % 256, (255 - k) % 256) for k in range(256)]
show(interp(pal[:1]))
show(interp(pal[:2]))
show(steps(pal[:2]))
show(interp(pal))
show(interp(many))
# SET: levels 40..90 with (200, 60, 20), identity elsewhere, with and without luminance
ident = np.array([list(range(256))] * 3)
plain = ident.copy()
plain[:, 40:91] = np.array([[200], [60], [20]])
show(plain)
lum = ident.copy()
x, y, z = srgb_to_xyz(200 / 255, 60 / 255, 20 / 255)
l, a, b = xyz_to_lab(x, y, z)
for i in range(40, 91):
    rgb = xyz_to_srgb(*lab_to_xyz(100 * i / 255, a, b))
    for c in range(3):
        lum[c][i] = math.trunc(rgb[c] * 4294967295) >> 24
show(lum)
)";

class LutTest : public testing::Test {
protected:
    void TearDown() override { kvtest::Pump(); }
    FakeHost host;
    CLfLut* Add() { return static_cast<CLfLut*>(host.Add(CreateLfLut())); }
    // A palette entry of the given colour, selected.
    static void Pick(CLfLut* f, int k, uint8_t r, uint8_t g, uint8_t b) {
        f->SelectPaletteEntry(k);
        f->SetPaletteComponent(0, r);
        f->SetPaletteComponent(1, g);
        f->SetPaletteComponent(2, b);
    }
};

// The spectrum preset: level i takes the wavelength 400 + trunc(301 i / 255)
// nm; numpy converts that wavelength's CIE values to sRGB by the pixel
// rules and keeps the top 8 bits of each 32-bit component.
TEST_F(LutTest, SpectrumPresetAgainstNumpy) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "no python3 with numpy";
    kvtest::TempDir dir("lut_spectrum");
    const std::string cie = dir.file("cie.txt");
    std::string text;
    for (int nm = 400; nm <= 701; ++nm) {
        double x, y, z;
        ImgWavelengthToXyz(nm, &x, &y, &z);
        char line[96];
        std::snprintf(line, sizeof line, "%.17g %.17g %.17g\n", x, y, z);
        text += line;
    }
    ASSERT_TRUE(kvtest::WriteFileBytes(cie, text));
    const auto expected = NumpyTables(R"(
import sys, math
cie = [tuple(float(v) for v in line.split()) for line in open(sys.argv[1])]
out = [[0] * 256 for _ in range(3)]
for i in range(256):
    rgb = xyz_to_srgb(*cie[(301 * i) // 255])
    for c in range(3):
        out[c][i] = math.trunc(rgb[c] * 4294967295) >> 24
print(' '.join(str(v) for row in out for v in row))
)",
                                      {cie});
    ASSERT_EQ(expected.size(), 1u);
    CLfLut* f = Add();
    f->Preset(105);
    EXPECT_EQ(Table(*f), expected[0]);
    EXPECT_EQ(f->grey.load(), 0u);
}

TEST_F(LutTest, TablesAgainstNumpy) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "no python3 with numpy";
    const auto expected = NumpyTables(kTableModel, {});
    ASSERT_EQ(expected.size(), 11u);
    CLfLut* f = Add();
    for (int id = 101; id <= 104; ++id) {
        f->Preset(id);
        EXPECT_EQ(Table(*f), expected[static_cast<size_t>(id - 101)]) << id;
    }
    f->Preset(101);
    EXPECT_EQ(std::vector<int>({f->lut[0][128], f->lut[1][128], f->lut[2][128]}), std::vector<int>({2, 255, 0}));
    f->Preset(104);
    EXPECT_EQ(f->lut[0][63], 0);
    EXPECT_EQ(f->lut[0][64], 85);
    // Spectrum: 400 nm is dark, the middle green-dominated.
    f->Preset(105);
    EXPECT_GT(f->lut[1][100], f->lut[2][100]);
    EXPECT_EQ(f->grey.load(), 0u);

    const uint8_t pal[3][3] = {{255, 0, 0}, {0, 0, 255}, {10, 200, 30}};
    auto gradientOf = [&](int n, bool interpolate) {
        f->ResetLut();
        if (f->interpolate != (interpolate ? 1u : 0u)) f->InterpolateToggled(interpolate);
        for (int k = 0; k < n; ++k) {
            Pick(f, k, pal[k][0], pal[k][1], pal[k][2]);
            f->AddColour();
        }
        return Table(*f);
    };
    EXPECT_EQ(gradientOf(1, true), expected[4]);
    EXPECT_EQ(gradientOf(1, false), expected[4]);
    EXPECT_EQ(gradientOf(2, true), expected[5]);
    EXPECT_EQ(gradientOf(2, false), expected[6]);
    f->InterpolateToggled(1);  // the same list, now interpolated
    EXPECT_EQ(Table(*f), expected[5]);
    EXPECT_EQ(gradientOf(3, true), expected[7]);
    f->ResetLut();
    for (int k = 0; k < 256; ++k) {
        Pick(f, 3, static_cast<uint8_t>((k * 7) % 256), static_cast<uint8_t>((k * 13) % 256),
             static_cast<uint8_t>((255 - k) % 256));
        f->AddColour();
    }
    EXPECT_EQ(Table(*f), expected[8]);
    Pick(f, 3, 1, 2, 3);
    f->AddColour();  // a 257th colour is ignored
    EXPECT_EQ(f->gradientCount, 256u);
    EXPECT_EQ(Table(*f), expected[8]);

    for (uint32_t preserve : {0u, 1u}) {
        f->ResetLut();
        Pick(f, 5, 200, 60, 20);
        f->preserveLuminance = preserve;
        f->rangeBar.Notify(40, 90);
        f->SetRange();
        EXPECT_EQ(Table(*f), expected[9 + preserve]) << "preserve " << preserve;
    }
}

TEST_F(LutTest, UndoTwiceGivesTheSameBackup) {
    CLfLut* f = Add();
    f->Preset(102);
    const std::vector<int> thermal = Table(*f);
    f->Preset(104);
    host.calls.clear();
    f->Undo();
    EXPECT_EQ(Table(*f), thermal);
    f->Undo();
    EXPECT_EQ(Table(*f), thermal);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"Refilter(0)", "Refilter(0)"}));
}

// The accessors' model: v = grey8, then SetPixelGray8(lut red) for a grey
// table, SetPixelRgb8(lut) for a colour one (grey images widened first).
TEST_F(LutTest, ChainRunsOverEveryFormatInsideTheRectangleOnly) {
    PoolStart();
    for (uint64_t threads : {uint64_t{1}, PoolGetProcessorCount()}) {
        PoolSetThreadCount(threads);
        for (int preset : {0, 101, 103})
            for (int32_t format = 1; format <= 9; ++format)
                for (const CLfRect::Rect& rc : {CLfRect::Rect{1, 2, 3, 9, 7}, CLfRect::Rect{1, 10, 6, 50, 50},
                                                CLfRect::Rect{1, 30, 30, 5, 5}}) {
                    SCOPED_TRACE(testing::Message() << "threads " << threads << " preset " << preset << " format "
                                                    << format << " x " << rc.x);
                    CImgBuff image, expected;
                    ASSERT_TRUE(image.buffer->Create(16, 12, format));
                    for (int32_t y = 0; y < 12; ++y)
                        for (int32_t x = 0; x < 16; ++x)
                            image.buffer->SetPixelRgb8(x, y, static_cast<uint8_t>(x * 16), static_cast<uint8_t>(y * 20),
                                                       static_cast<uint8_t>((x * y * 7) % 256));
                    ASSERT_TRUE(expected.CopyFrom(&image));
                    FakeHost h;
                    static_cast<CLfRect*>(h.Add(CreateLfRect()))->Set(rc);
                    auto* f = static_cast<CLfLut*>(h.Add(CreateLfLut()));
                    if (preset) f->Preset(preset);
                    const bool grey = preset != 101;
                    C_ImgBuff& e = *expected.buffer;
                    if (!grey && format <= kImgGray32) {
                        const uint32_t widened[4] = {0, kImgRgb8, kImgRgb16, kImgRgb32};
                        ASSERT_TRUE(e.ConvertFormat(widened[format]));
                    }
                    for (int32_t y = static_cast<int32_t>(rc.y); y < 12 && y < static_cast<int32_t>(rc.y + rc.h); ++y)
                        for (int32_t x = static_cast<int32_t>(rc.x); x < 16 && x < static_cast<int32_t>(rc.x + rc.w); ++x) {
                            uint8_t v;
                            e.GetPixelGray8(x, y, &v);
                            if (grey)
                                e.SetPixelGray8(x, y, f->lut[0][v]);
                            else
                                e.SetPixelRgb8(x, y, f->lut[0][v], f->lut[1][v], f->lut[2][v]);
                        }
                    h.RunChain(&image, 0);
                    ASSERT_EQ(image.buffer->format, e.format);
                    ASSERT_EQ(std::memcmp(image.buffer->pixels, e.pixels, 16 * 12 * static_cast<size_t>(e.BytesPerPixel())),
                              0);
                }
    }
    PoolStop();
}

TEST_F(LutTest, SettingsListsAndFlags) {
    CLfLut* f = Add();
    CCfgFile saved;
    CCfgPack* pack = saved.AddPack(L"pseudo-color");
    f->SaveConfig(pack);
    std::string identity;
    for (int i = 0; i < 256; ++i) identity += (i ? "," : "") + std::to_string(i);
    EXPECT_EQ(std::wstring(CfgFindValue(pack, L"LUT_R")), std::wstring(identity.begin(), identity.end()));
    EXPECT_STREQ(CfgFindValue(pack, L"PAL_R"), L"0,255,255,0,0,0,255,255,85,107,36,73,109,146,182,219");
    EXPECT_STREQ(CfgFindValue(pack, L"PRESERVE_LUMINANCE"), L"1");
    EXPECT_STREQ(CfgFindValue(pack, L"INTERPOLATE"), L"1");
    std::wstring three00;
    for (int i = 0; i < 300; ++i) three00 += (i ? L"," : L"") + std::to_wstring(255 - i % 256);
    const struct {
        const char* name;
        const wchar_t* key;
        std::wstring value;
        std::vector<int> firstRed;  // entries 0..3 of the red LUT after loading
    } cases[] = {
        {"ten values", L"LUT_R", L"9,9,9,9,9,9,9,9,9,9", {9, 9, 9, 9}},
        {"third value 300", L"LUT_R", L"7,8,300,5", {7, 8, 2, 3}},
        {"negative stops", L"LUT_R", L"7,-1,5", {7, 1, 2, 3}},
        {"300 values: the table's size bounds reading", L"LUT_R", three00, {255, 254, 253, 252}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        f->ResetLut();
        CCfgFile file;
        CCfgPack* p = file.AddPack(L"pseudo-color");
        p->AddItem(c.key, c.value.c_str());
        host.calls.clear();
        f->LoadConfig(p);
        EXPECT_EQ(std::vector<int>(f->lut[0], f->lut[0] + 4), c.firstRed);
        EXPECT_EQ(f->lut[0][10], c.value == three00 ? 245 : 10);
        EXPECT_TRUE(host.calls.empty());  // loading does not rerun
    }
    for (const auto& [text, value] : std::vector<std::pair<const wchar_t*, uint32_t>>{{L"yes", 1}, {L"0", 0}, {L"", 1}}) {
        CCfgFile file;
        CCfgPack* p = file.AddPack(L"pseudo-color");
        p->AddItem(L"PRESERVE_LUMINANCE", text);
        p->AddItem(L"INTERPOLATE", text);
        f->LoadConfig(p);
        EXPECT_EQ(f->preserveLuminance, value);
        EXPECT_EQ(f->interpolate, value);
        EXPECT_EQ(f->preserveCheck.checked, value);
    }
    // A colour list makes the flag colour; grey again once all three agree.
    CCfgFile file;
    CCfgPack* p = file.AddPack(L"pseudo-color");
    p->AddItem(L"LUT_G", L"200");
    f->LoadConfig(p);
    EXPECT_EQ(f->grey.load(), 0u);
}

TEST_F(LutTest, LutFilesThroughThePanelMenu) {
    host.SetLanguage(L"en");
    CLfLut* f = Add();
    kvtest::TempDir dir("lf_lut_files");
    const std::string path = dir.file("thermal.lut");
    const std::wstring wpath(path.begin(), path.end());
    f->Preset(101);
    const std::vector<int> thermal = Table(*f);
    {
        kvtest::ModalAnswers answers({wpath});
        f->MenuCommand(2);
        EXPECT_EQ(answers.messages, std::vector<std::wstring>{L"saved"});
    }
    const std::string text = kvtest::ReadFileBytes(path);
    EXPECT_EQ(text.rfind("[pseudo-color] {\n lut_ver 1\n if_enable 1\n if_visible 1\n LUT_R 0,0,0,0,0,0,0,0,0,0,0,0,0,", 0), 0u);
    EXPECT_NE(text.find("\n INTERPOLATE 1\n}\n"), std::string::npos);
    f->ResetLut();
    {
        kvtest::ModalAnswers answers({wpath});
        host.calls.clear();
        f->MenuCommand(1);
        EXPECT_TRUE(answers.messages.empty());
        EXPECT_EQ(Table(*f), thermal);
        EXPECT_EQ(host.calls.back(), "Refilter(0)");
    }
    const struct {
        const char* version;
        bool loaded;
    } versions[] = {{"0", true}, {"1", true}, {"x", true}, {"2", false}, {"-1", false}};
    for (const auto& v : versions) {
        SCOPED_TRACE(v.version);
        std::string edited = text;
        edited.replace(edited.find("lut_ver 1"), 9, std::string("lut_ver ") + v.version);
        ASSERT_TRUE(kvtest::WriteFileBytes(path, edited));
        f->ResetLut();
        kvtest::ModalAnswers answers({wpath});
        f->MenuCommand(1);
        EXPECT_EQ(Table(*f) == thermal, v.loaded);
        if (!v.loaded) {
            EXPECT_EQ(answers.messages,
                      std::vector<std::wstring>{L"It is a file created with a newer version and can not be read"});
        }
    }
}

TEST_F(LutTest, PanelClicksPagesAndMenus) {
    for (const wchar_t* language : {L"en", L"jp"}) {
        const bool jp = std::wcscmp(language, L"jp") == 0;
        FakeHost h;
        h.SetLanguage(language);
        auto* f = static_cast<CLfLut*>(h.Add(CreateLfLut()));
        ASSERT_TRUE(f->PanelShown());
        const int32_t m = f->MenuHeight();
        ASSERT_EQ(m, 22);
        EXPECT_EQ(f->tabs.height, 120);
        EXPECT_EQ(f->tabs.current, CLfLut::kPageAuto);
        const std::wstring menu = f->menuBar.items.at(0).menuText;
        EXPECT_EQ(menu.find(L"105") != std::wstring::npos, jp);
        EXPECT_EQ(menu.rfind(jp ? L"LUTを開く\t1\n" : L"Open LUT\t1\n", 0), 0u);

        // The LUT bar: x 263 undoes, 264 does not.
        f->Preset(104);
        f->Preset(103);
        PlatPostTestClick(f->window, 263, m + 20);
        kvtest::Pump();
        EXPECT_EQ(f->lut[0][64], 85);  // back to preset 104
        f->Preset(103);
        PlatPostTestClick(f->window, 264, m + 20);
        kvtest::Pump();
        EXPECT_EQ(f->lut[0][64], 73);
        // Swatches: 15 is hit, the gaps are not.
        int32_t sx, sy;
        CLfLut::SwatchPosition(15, m, &sx, &sy);
        PlatPostTestClick(f->window, sx + 29, sy + 29);
        kvtest::Pump();
        EXPECT_EQ(f->selected, 15);
        EXPECT_EQ(f->sliders[0].position, 219);
        EXPECT_EQ(f->sliderValues[0].text, L"219");
        CLfLut::SwatchPosition(1, m, &sx, &sy);
        PlatPostTestClick(f->window, sx - 1, sy + 5);  // the gap after swatch 0
        kvtest::Pump();
        EXPECT_EQ(f->selected, 15);
        PlatPostTestClick(f->window, sx + 30, sy + 5);  // the gap after swatch 1
        kvtest::Pump();
        EXPECT_EQ(f->selected, 15);
        PlatPostTestClick(f->window, sx, sy);
        kvtest::Pump();
        EXPECT_EQ(f->selected, 1);
        f->Preset(101);
        kvtest::SaveScreenshot(kvtest::CaptureFrame(*f, *f), std::string("pseudo-color-") + (jp ? "jp" : "en"));

        // Picture clicks: ignored on pages 0 and 2; on page 1 the next run
        // sets the range to the 5 x 5 neighbourhood's extremes.
        CImgBuff image;
        ASSERT_TRUE(image.buffer->Create(20, 20, kImgGray8));
        for (int i = 0; i < 400; ++i) image.buffer->pixels[i] = static_cast<uint8_t>(i % 20 + 10 * (i / 20));
        for (int page : {0, 2}) {
            f->tabs.SelectTab(page, 0);
            h.calls.clear();
            f->OnLButtonDown(int64_t{10}, int64_t{10}, 0);
            EXPECT_TRUE(h.calls.empty());
        }
        f->tabs.SelectTab(CLfLut::kPageManual, 0);
        f->OnLButtonDown(int64_t{10}, int64_t{10}, 0);
        EXPECT_EQ(h.calls, std::vector<std::string>{"Refilter(0)"});
        f->ResetLut();
        h.RunChain(&image, 0);
        kvtest::Pump();
        EXPECT_EQ(f->rangeBar.low, 8 + 80);
        EXPECT_EQ(f->rangeBar.high, 12 + 120);
        EXPECT_EQ(f->fromLabel.text, L"88");
        EXPECT_EQ(f->toLabel.text, L"132");
        kvtest::SaveScreenshot(kvtest::CaptureFrame(*f, *f), std::string("pseudo-color-manual-") + (jp ? "jp" : "en"));
    }
}

TEST_F(LutTest, NoTabsWithAVeryTallMenuFont) {
    CLfLut* f = Add();
    f->ShowUi(0, nullptr);
    f->tabs.height = 5;
    f->font.height = 134;
    EXPECT_EQ(f->MenuHeight(), 142);
    f->ShowUi(1, nullptr);
    EXPECT_EQ(f->tabs.height, 5);  // not placed
    f->font.height = 14;
}

TEST_F(LutTest, GreyImagesBecomeColourAfterAColourSet) {
    for (int32_t format : {kImgGray8, kImgGray16}) {
        FakeHost h;
        auto* f = static_cast<CLfLut*>(h.Add(CreateLfLut()));
        f->SelectPaletteEntry(2);  // red
        f->SetRange();
        EXPECT_EQ(f->grey.load(), 0u);
        CImgBuff image;
        ASSERT_TRUE(image.buffer->Create(4, 4, format));
        h.RunChain(&image, 0);
        EXPECT_EQ(image.buffer->format, format == kImgGray8 ? kImgRgb8 : kImgRgb16);
    }
}

}  // namespace
