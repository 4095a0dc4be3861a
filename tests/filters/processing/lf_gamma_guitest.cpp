// "Gamma" in real chain runs (a ramp against numpy, the kernels on the
// clipped rectangle, the identities), its edit boxes, enabling by type,
// settings and its panel.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "filters/core/cfgfile.h"
#include "filters/processing/lf_gamma.h"
#include "filters/processing/lf_rect.h"
#include "filters/processing/support/fake_host.h"
#include "image/kernels/gamma.h"
#include "platform/plat_messages.h"
#include "support/testsupport.h"
#include "toolkit/support/ui_input.h"

namespace {

std::wstring Saved(CImgFilter* f) {
    CCfgFile file;
    CCfgPack* pack = file.AddPack(L"t");
    f->SaveConfig(pack);
    std::wstring text;
    for (const CCfgItem* i = pack->firstItem; i; i = i->next) text += std::wstring(i->key) + L"=" + i->value + L";";
    return text;
}

void Noise(CImgBuff& image, int32_t w, int32_t h, int32_t format) {
    ASSERT_TRUE(image.buffer->Create(w, h, format));
    uint32_t seed = 99u + static_cast<uint32_t>(format);
    const size_t n = static_cast<size_t>(w) * h * static_cast<size_t>(image.buffer->BytesPerPixel());
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        image.buffer->pixels[i] = static_cast<uint8_t>(seed >> 24);
    }
    // XYZ samples are doubles: keep them ordinary numbers.
    if (format == kImgXyz)
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) image.buffer->SetPixelRgb8(x, y, static_cast<uint8_t>(x * 9), 100, static_cast<uint8_t>(y * 13));
}

class GammaTest : public testing::Test {
protected:
    void TearDown() override { kvtest::Pump(); }
    FakeHost host;
    CLfGamma* Add() { return static_cast<CLfGamma*>(host.Add(CreateLfGamma())); }
};

TEST_F(GammaTest, RampAgainstNumpyForEachTypeRow) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "no python3 with numpy";
    const struct {
        uint32_t type, rev;
        double gamma, from, to, exponent;
    } rows[] = {
        {0, 0, 2.2, 2.2, 1.8, 2.2},
        {0, 1, 2.2, 2.2, 1.8, 1 / 2.2},
        {1, 1, 2.2, 2.2, 1.8, 2.2 / 1.8},
        {2, 0, 2.2, 2.5, 1.6, 1.6 / 2.5},
    };
    std::ostringstream script;
    script << "import sys, numpy as np\n"
              "for e in sys.argv[1:]:\n"
              "    i = np.arange(256, dtype=np.float64)\n"
              "    print(' '.join(str(int(v)) for v in np.minimum(np.floor(255 * (i / 255) ** float(e)), 255)))\n";
    std::vector<std::string> args;
    for (const auto& r : rows) {
        std::ostringstream e;
        e.precision(17);
        e << r.exponent;
        args.push_back(e.str());
    }
    std::string out;
    ASSERT_EQ(kvtest::RunPython(script.str(), args, &out), 0);
    std::istringstream lines(out);
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "type " << r.type << " rev " << r.rev);
        std::vector<int> expected(256);
        for (int& v : expected) lines >> v;
        FakeHost h;
        auto* f = static_cast<CLfGamma*>(h.Add(CreateLfGamma()));
        f->type.Set(r.type);
        f->rev.Set(r.rev);
        f->gamma.Set(r.gamma);
        f->from.Set(r.from);
        f->to.Set(r.to);
        f->Rebuild();
        CImgBuff image;
        ASSERT_TRUE(image.buffer->Create(256, 2, kImgGray8));
        for (int i = 0; i < 512; ++i) image.buffer->pixels[i] = static_cast<uint8_t>(i);
        h.RunChain(&image, 0);
        std::vector<int> got(image.buffer->pixels, image.buffer->pixels + 256);
        EXPECT_EQ(got, expected);
        if (r.type == 0 && r.rev == 1) { EXPECT_EQ(got[64], 136); }
        if (r.type == 0 && r.rev == 0) { EXPECT_EQ(got[128], 55); }
    }
}

TEST_F(GammaTest, BehindARectangleTheKernelsOnTheClippedRegion) {
    for (int32_t format = 1; format <= 9; ++format)
        for (uint32_t type : {0u, 2u})
            for (const CLfRect::Rect& rc : {CLfRect::Rect{1, 3, 2, 10, 6}, CLfRect::Rect{1, 12, 8, 100, 100},
                                            CLfRect::Rect{1, 40, 40, 5, 5}}) {
                SCOPED_TRACE(testing::Message() << "format " << format << " type " << type << " x " << rc.x);
                CImgBuff image, expected;
                Noise(image, 20, 12, format);
                ASSERT_TRUE(expected.CopyFrom(&image));
                const double g0 = type == 0 ? 2.2 : 2.2, g1 = type == 0 ? 1.0 : 1.8;
                const ImgRect clip{static_cast<int32_t>(rc.x), static_cast<int32_t>(rc.y),
                                   static_cast<int32_t>(std::min<uint64_t>(19, rc.x + rc.w - 1)),
                                   static_cast<int32_t>(std::min<uint64_t>(11, rc.y + rc.h - 1))};
                if (rc.x < 20) {
                    if (format == kImgGray32 || format == kImgRgb32 || format == kImgXyz) {
                        ASSERT_TRUE(ImgGammaCorrect(&expected, g0, g1, &clip));
                    } else {
                        GammaTable* t = ImgGammaTableCreate(g0, g1);
                        ASSERT_TRUE(ImgGammaTableApply(&expected, t, &clip));
                        ImgGammaTableFree(t);
                    }
                }
                FakeHost h;
                static_cast<CLfRect*>(h.Add(CreateLfRect()))->Set(rc);
                auto* f = static_cast<CLfGamma*>(h.Add(CreateLfGamma()));
                f->type.Set(type);
                f->Rebuild();
                h.RunChain(&image, 0);
                ASSERT_EQ(std::memcmp(image.buffer->pixels, expected.buffer->pixels,
                                      20 * 12 * static_cast<size_t>(image.buffer->BytesPerPixel())),
                          0);
            }
}

TEST_F(GammaTest, IdentitiesLeaveEveryFormatUntouched) {
    for (int32_t format = 1; format <= 9; ++format)
        for (int which = 0; which < 3; ++which) {
            SCOPED_TRACE(testing::Message() << "format " << format << " case " << which);
            CImgBuff image, original;
            Noise(image, 9, 7, format);
            ASSERT_TRUE(original.CopyFrom(&image));
            FakeHost h;
            auto* f = static_cast<CLfGamma*>(h.Add(CreateLfGamma()));
            if (which == 0) f->gamma.Set(1.0);
            if (which == 1) {
                f->type.Set(1);
                f->to.Set(2.2);
            }
            if (which == 2) f->gamma.Set(0.0);  // no table: nothing
            f->Rebuild();
            h.RunChain(&image, 0);
            ASSERT_EQ(std::memcmp(image.buffer->pixels, original.buffer->pixels,
                                  9 * 7 * static_cast<size_t>(image.buffer->BytesPerPixel())),
                      0);
        }
}

TEST_F(GammaTest, EditTextsAreValidatedOnLosingTheFocus) {
    CLfGamma* f = Add();
    const struct {
        const wchar_t* text;
        double value;
        const wchar_t* shown;
        bool table;
        size_t reruns;
    } cases[] = {
        {L"-1", 2.2, L"2.2", true, 0}, {L"1e2", 2.2, L"2.2", true, 0}, {L".5", 2.2, L"2.2", true, 0},
        {L"", 2.2, L"2.2", true, 0},   {L"2.", 2.0, L"2.", true, 1},    {L"0", 0.0, L"0", false, 1},
        {L"1.5", 1.5, L"1.5", true, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "text " << testing::PrintToString(std::wstring(c.text)));
        f->gamma.Set(2.2);
        f->Rebuild();
        host.calls.clear();
        f->gammaEdit.SetLineText(0, c.text);
        f->gammaEdit.focusLost(&f->gammaEdit, f->gammaEdit.data);
        EXPECT_EQ(f->gamma.Get(), c.value);
        EXPECT_EQ(std::wstring(f->gammaEdit.GetText()), c.shown);
        EXPECT_EQ(f->HasTable(), c.table);
        EXPECT_EQ(std::count(host.calls.begin(), host.calls.end(), "Refilter(0)"), static_cast<long>(c.reruns));
    }
    // "from" does not matter for type 0: stored, no rerun.
    host.calls.clear();
    f->fromEdit.SetLineText(0, L"2.4");
    f->fromEdit.focusLost(&f->fromEdit, f->fromEdit.data);
    EXPECT_EQ(f->from.Get(), 2.4);
    EXPECT_TRUE(host.calls.empty());
}

TEST_F(GammaTest, EnablingFollowsTheTypeAlsoAfterThePanelIsEnabledAgain) {
    host.SetLanguage(L"en");
    CLfGamma* f = Add();
    auto state = [&] {
        return std::vector<uint32_t>{f->gammaEdit.enabled, f->revCheck.enabled, f->gammaLabel.enabled,
                                     f->fromEdit.enabled, f->toEdit.enabled,   f->fromLabel.enabled,
                                     f->toLabel.enabled,  f->viewMode.enabled};
    };
    const std::vector<uint32_t> gammaOn{1, 1, 1, 0, 0, 0, 0, 1}, gammaOff{0, 0, 0, 1, 1, 1, 1, 1};
    EXPECT_EQ(state(), gammaOn);
    host.calls.clear();
    PlatPostTestClick(f->window, 20, 80);  // "view"
    kvtest::Pump();
    EXPECT_EQ(f->type.Get(), 2u);
    EXPECT_EQ(state(), gammaOff);
    EXPECT_EQ(host.calls, std::vector<std::string>{"Refilter(0)"});
    f->EnableUi(0);
    EXPECT_EQ(state(), std::vector<uint32_t>(8, 0));
    f->EnableUi(1);
    EXPECT_EQ(state(), gammaOff);
    PlatPostTestClick(f->window, 20, 20);  // "gamma"
    kvtest::Pump();
    EXPECT_EQ(state(), gammaOn);
    // The check button: rev 0 reruns for type 0.
    host.calls.clear();
    PlatPostTestClick(f->window, 245, 20);
    kvtest::Pump();
    EXPECT_EQ(f->rev.Get(), 0u);
    EXPECT_EQ(host.calls, std::vector<std::string>{"Refilter(0)"});
    kvtest::SaveScreenshot(kvtest::CaptureFrame(*f, *f), "gamma-en");
    host.SetLanguage(L"jp");
    EXPECT_STREQ(f->title, L"ガンマ変換");
    kvtest::SaveScreenshot(kvtest::CaptureFrame(*f, *f), "gamma-jp");
}

TEST_F(GammaTest, SettingsSaveAndLoad) {
    CLfGamma* f = Add();
    EXPECT_EQ(Saved(f), L"if_enable=1;if_visible=1;type=0;gamma=2.2;rev=1;from=2.2;to=1.8;");
    struct Item {
        const wchar_t *key, *value;
    };
    const struct {
        const char* name;
        std::vector<Item> items;
        uint32_t type, rev;
        double gamma, from;
        const wchar_t* gammaText;
    } cases[] = {
        {"type 3 ignored", {{L"type", L"3"}}, 0, 1, 2.2, 2.2, L"2.2"},
        {"type 2", {{L"type", L"2"}}, 2, 1, 2.2, 2.2, L"2.2"},
        {"nan ignored", {{L"gamma", L"nan"}, {L"from", L"inf"}}, 0, 1, 2.2, 2.2, L"2.2"},
        {"overflow ignored", {{L"gamma", L"1e999"}}, 0, 1, 2.2, 2.2, L"2.2"},
        {"text kept as written", {{L"gamma", L"1.50"}, {L"from", L"1e1"}}, 0, 1, 1.5, 10.0, L"1.50"},
        {"rev only exact", {{L"rev", L"01"}}, 0, 1, 2.2, 2.2, L"2.2"},
        {"rev 0", {{L"rev", L"0"}}, 0, 0, 2.2, 2.2, L"2.2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        f->type.Set(0);
        f->rev.Set(1);
        f->gamma.Set(2.2);
        f->from.Set(2.2);
        host.calls.clear();
        CCfgFile file;
        CCfgPack* pack = file.AddPack(L"gamma");
        for (const Item& i : c.items) pack->AddItem(i.key, i.value);
        f->LoadConfig(pack);
        EXPECT_EQ(f->type.Get(), c.type);
        EXPECT_EQ(f->rev.Get(), c.rev);
        EXPECT_EQ(f->revCheck.checked, c.rev);
        EXPECT_EQ(f->gamma.Get(), c.gamma);
        EXPECT_EQ(f->from.Get(), c.from);
        EXPECT_EQ(std::wstring(f->gammaEdit.GetText()), c.gammaText);
        EXPECT_EQ(f->fromEdit.enabled, c.type == 0 ? 0u : 1u);
        EXPECT_TRUE(host.calls.empty());  // loading does not rerun
    }
}

}  // namespace
