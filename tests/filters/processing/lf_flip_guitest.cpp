// "Flip" in real chain runs against numpy's flips of the clipped region,
// its settings, and its panel driven by clicks in both languages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filters/core/cfgfile.h"
#include "filters/processing/lf_flip.h"
#include "filters/processing/support/region_runs.h"
#include "platform/plat_messages.h"
#include "support/testsupport.h"
#include "toolkit/support/ui_input.h"

namespace {

// numpy flips the region's pixels (each pixel's bytes kept together).
void NumpyFlip(CImgBuff* image, const ImgRect& r, bool h, bool v) {
    kvtest::TempDir dir("flip_np");
    const std::string in = dir.file("in.raw"), out = dir.file("out.raw");
    const std::vector<uint8_t> bytes = kvtest::Bytes(*image);
    ASSERT_TRUE(kvtest::WriteFileBytes(in, std::string(bytes.begin(), bytes.end())));
    const char* script =
        "import sys, numpy as np\n"
        "i, o, w, hh, b, x0, y0, x1, y1, fh, fv = sys.argv[1:]\n"
        "w, hh, b, x0, y0, x1, y1, fh, fv = map(int, (w, hh, b, x0, y0, x1, y1, fh, fv))\n"
        "a = np.fromfile(i, np.uint8).reshape(hh, w, b)\n"
        "r = a[y0:y1 + 1, x0:x1 + 1]\n"
        "if fh: r = r[:, ::-1]\n"
        "if fv: r = r[::-1, :]\n"
        "a[y0:y1 + 1, x0:x1 + 1] = r.copy()\n"
        "a.tofile(o)\n";
    std::string ignored;
    ASSERT_EQ(kvtest::RunPython(script,
                                {in, out, std::to_string(image->buffer->width), std::to_string(image->buffer->height),
                                 std::to_string(image->buffer->BytesPerPixel()), std::to_string(r.x0),
                                 std::to_string(r.y0), std::to_string(r.x1), std::to_string(r.y1), h ? "1" : "0",
                                 v ? "1" : "0"},
                                &ignored),
              0);
    const std::string flipped = kvtest::ReadFileBytes(out);
    ASSERT_EQ(flipped.size(), bytes.size());
    std::memcpy(image->buffer->pixels, flipped.data(), flipped.size());
}

class FlipTest : public testing::Test {
protected:
    void TearDown() override { kvtest::Pump(); }
    FakeHost host;
};

TEST_F(FlipTest, ChainRunsMatchNumpyFlipsOfTheClippedRegion) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "no Debian python3 with numpy";
    auto* rect = static_cast<CLfRect*>(host.Add(CreateLfRect()));
    auto* flip = static_cast<CLfFlip*>(host.Add(CreateLfFlip()));
    for (const auto& [h, v] : {std::pair{0, 0}, {1, 0}, {0, 1}, {1, 1}}) {
        flip->flipH.Set(h);
        flip->flipV.Set(v);
        for (const kvtest::RegionCase& c : kvtest::RegionCases())
            for (int32_t format : kvtest::RegionFormats())
                kvtest::ExpectChainMatchesDirect(host, rect, c, format, [&](CImgBuff* img, const ImgRect& r, bool in) {
                    SCOPED_TRACE("h " + std::to_string(h) + " v " + std::to_string(v));
                    if (in) NumpyFlip(img, r, h, v);
                });
    }
}

TEST_F(FlipTest, OneRowAndDisabledOrTaggedOffPassUnchanged) {
    auto* rect = static_cast<CLfRect*>(host.Add(CreateLfRect()));
    auto* flip = static_cast<CLfFlip*>(host.Add(CreateLfFlip()));
    flip->flipV.Set(1);
    CImgBuff image;
    kvtest::RandomImage(image, 40, 30, kImgRgb8, 3);
    const std::vector<uint8_t> before = kvtest::Bytes(image);
    rect->Set({1, 0, 7, 40, 1});  // one row: top-bottom changes nothing
    host.RunChain(&image, 0);
    EXPECT_TRUE(kvtest::Bytes(image) == before);
    rect->Set({1, 0, 0, 40, 30});
    flip->CImgFilter::enabled = 0;
    host.RunChain(&image, 0);
    EXPECT_TRUE(kvtest::Bytes(image) == before);
}

TEST_F(FlipTest, SettingsSaveAndLoadOnlyExactFlags) {
    CLfFlip flip;
    auto saved = [&] {
        CCfgFile file;
        CCfgPack* pack = file.AddPack(L"flip");
        flip.SaveConfig(pack);
        std::wstring text;
        for (const CCfgItem* i = pack->firstItem; i; i = i->next) text += std::wstring(i->key) + L"=" + i->value + L";";
        return text;
    };
    EXPECT_EQ(saved(), L"if_enable=0;if_visible=0;flip_h=0;flip_v=0;");
    const struct {
        const wchar_t* h;
        const wchar_t* v;
        uint32_t expectH, expectV;
    } cases[] = {
        {L"1", L"1", 1, 1}, {L"0", L"1", 0, 1}, {L"2", L"1", 1, 1}, {L"1 ", L"x", 1, 1}, {L"-1", L"", 1, 1},
    };
    for (const auto& c : cases) {
        flip.flipH.Set(1);
        flip.flipV.Set(1);
        CCfgFile file;
        CCfgPack* pack = file.AddPack(L"flip");
        pack->AddItem(L"flip_h", c.h);
        pack->AddItem(L"flip_v", c.v);
        flip.LoadConfig(pack);
        EXPECT_EQ(flip.flipH.Get(), c.expectH) << static_cast<const void*>(c.h);
        EXPECT_EQ(flip.flipV.Get(), c.expectV);
        EXPECT_EQ(flip.horizontal.checked, c.expectH);
    }
    flip.flipH.Set(0);
    CCfgFile file;
    flip.LoadConfig(file.AddPack(L"flip"));  // missing keys leave both
    EXPECT_EQ(flip.flipH.Get(), 0u);
    EXPECT_EQ(flip.flipV.Get(), 1u);
}

TEST_F(FlipTest, PanelClicksSetTheFlagsAndRefilterInBothLanguages) {
    for (const wchar_t* language : {L"en", L"jp"}) {
        const bool jp = std::wstring(language) == L"jp";
        SCOPED_TRACE(jp ? "jp" : "en");
        host.SetLanguage(language);
        auto* flip = static_cast<CLfFlip*>(host.Add(CreateLfFlip()));
        ASSERT_TRUE(flip->PanelShown());
        EXPECT_EQ(flip->CFgScreen::width, jp ? 150u : 230u);
        EXPECT_EQ(flip->horizontal.label, jp ? L"水平" : L"vertical");
        EXPECT_EQ(flip->vertical.label, jp ? L"垂直" : L"horizontal");
        host.calls.clear();
        PlatPostTestClick(flip->window, 20, 20);
        kvtest::Pump();
        EXPECT_EQ(flip->flipH.Get(), 1u);
        EXPECT_EQ(flip->flipV.Get(), 0u);
        PlatPostTestClick(flip->window, jp ? 90 : 130, 20);
        kvtest::Pump();
        EXPECT_EQ(flip->flipV.Get(), 1u);
        EXPECT_EQ(host.calls, (std::vector<std::string>{"Refilter(0)", "Refilter(0)"}));
        const PlatFrame frame = kvtest::CaptureFrame(*flip, *flip);
        kvtest::SaveScreenshot(frame, std::string("flip-") + (jp ? "jp" : "en"));
        // Off: a click stores the flag but does not refilter.
        flip->CImgFilter::enabled = 0;
        host.calls.clear();
        PlatPostTestClick(flip->window, 20, 20);
        kvtest::Pump();
        EXPECT_EQ(flip->flipH.Get(), 0u);
        EXPECT_TRUE(host.calls.empty());
    }
}

}  // namespace
