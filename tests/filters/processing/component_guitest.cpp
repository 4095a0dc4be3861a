// "Component extraction" and "Select components" on the offscreen driver:
// every entry against the extraction kernel or the chain's component work
// images, the format after whole-image runs, the enabling rules, loads and
// the panels' screenshots in both languages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filters/processing/lf_convert.h"
#include "filters/processing/lf_reversal.h"
#include "filters/processing/lf_select.h"
#include "filters/processing/support/colour_support.h"
#include "image/kernels/component_extract.h"

namespace {

using namespace kvcolour;

// The kernel code of each entry with cmyk 0 and with cmyk 1.
constexpr int32_t kConvertCodes[19][2] = {{2, 2},   {3, 3},   {4, 4},   {1, 1},   {5, 5},   {6, 6},   {7, 7},
                                          {8, 11},  {9, 12},  {10, 13}, {14, 14}, {15, 15}, {16, 16}, {17, 17},
                                          {18, 18}, {19, 19}, {20, 20}, {21, 21}, {22, 22}};
// The chain's work-component code of each entry with cmyk 0 and with cmyk 1.
constexpr uint32_t kSelectCodes[19][2] = {{0, 0},   {1, 1},   {2, 2},   {3, 3},   {4, 4},   {5, 5},   {6, 6},
                                          {7, 10},  {8, 11},  {9, 12},  {13, 13}, {14, 14}, {15, 15}, {16, 16},
                                          {17, 17}, {18, 18}, {19, 19}, {20, 20}, {21, 21}};

class ComponentTest : public testing::Test {
protected:
    void TearDown() override { kvtest::Pump(); }
    FakeHost host;
};

TEST_F(ComponentTest, EveryEntryEqualsTheKernelAndWholeImagesTurnGrey) {
    for (uint32_t sel = 0; sel < 19; ++sel)
        for (uint32_t cmyk = 0; cmyk < 2; ++cmyk)
            for (uint32_t colour = 0; colour < 2; ++colour) {
                SCOPED_TRACE(testing::Message() << "sel " << sel << " cmyk " << cmyk << " colour " << colour);
                FakeHost chain;
                auto* f = static_cast<CLfConvert*>(chain.Add(CreateLfConvert()));
                f->sel.Set(sel);
                f->cmyk.Set(cmyk);
                f->color.Set(colour);
                CImgBuff image, expect;
                Noise(image, 13, 9, kImgRgb8, sel * 4 + cmyk);
                Copy(expect, image);
                chain.RunChain(&image, 0);
                ASSERT_EQ(ImgExtractComponent(&expect, kConvertCodes[sel][cmyk], static_cast<int32_t>(colour), nullptr),
                          1);
                if (!colour) {
                    ASSERT_EQ(expect.buffer->ConvertFormat(kImgGray8), 1);
                }
                EXPECT_TRUE(SameImage(image, expect));
            }
}

TEST_F(ComponentTest, WholeImagesTakeTheGreyOfTheirDepthAndSmallerRegionsKeepTheFormat) {
    const struct {
        int32_t format, grey;
    } cases[] = {{kImgRgb8, kImgGray8},  {kImgCmyk8, kImgGray8}, {kImgRgb16, kImgGray16},
                 {kImgHsv16, kImgGray16}, {kImgRgb32, kImgGray32}, {kImgXyz, kImgGray32}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        for (bool whole : {true, false}) {
            FakeHost chain;
            if (!whole) AddRect(chain, 1, 1, 4, 4);
            chain.Add(CreateLfConvert());
            CImgBuff image;
            ASSERT_TRUE(image.buffer->Create(8, 6, c.format));
            std::memset(image.buffer->pixels, 0, Bytes(image));  // finite in every format
            chain.RunChain(&image, 0);
            EXPECT_EQ(image.buffer->format, whole ? c.grey : c.format);
        }
    }
}

// Inside, partly outside, outside: the kernel on the clipped rectangle;
// pixels outside keep their values and the format stays colour.
TEST_F(ComponentTest, RunsBehindAProcessingRectangleEqualTheKernel) {
    const struct {
        uint64_t x, y, w, h;
    } cases[] = {{2, 3, 5, 4}, {10, 5, 20, 20}, {30, 30, 4, 4}, {uint64_t{1} << 32, 0, 4, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.x);
        FakeHost chain;
        AddRect(chain, c.x, c.y, c.w, c.h);
        auto* f = static_cast<CLfConvert*>(chain.Add(CreateLfConvert()));
        f->sel.Set(4);
        CImgBuff image, expect;
        Noise(image, 13, 9, kImgRgb16);
        Copy(expect, image);
        chain.RunChain(&image, 0);
        const ImgRect r{static_cast<int32_t>(std::min<uint64_t>(c.x, INT32_MAX)), static_cast<int32_t>(c.y),
                        static_cast<int32_t>(std::min<uint64_t>(c.x + c.w - 1, INT32_MAX)),
                        static_cast<int32_t>(c.y + c.h - 1)};
        ImgExtractComponent(&expect, kComponentHue, 0, &r);
        EXPECT_TRUE(SameImage(image, expect));
    }
}

TEST_F(ComponentTest, ExtractionPanelRulesFollowFramesAndSelections) {
    host.SetLanguage(L"en");
    auto* f = static_cast<CLfConvert*>(host.Add(CreateLfConvert()));
    // Disabled until the first colour frame.
    EXPECT_EQ(f->entries[0].enabled, 0u);
    EXPECT_EQ(f->colorButton.enabled, 0u);
    CImgBuff grey, colour;
    Noise(grey, 6, 4, kImgGray8);
    CImgBuff greyBefore;
    Copy(greyBefore, grey);
    Noise(colour, 6, 4, kImgRgb8);
    host.RunChain(&colour, 0);
    EXPECT_EQ(f->notColour.load(), 0u);
    EXPECT_EQ(f->entries[0].enabled, 1u);
    EXPECT_EQ(f->entries[10].enabled, 0u);  // K needs cmyk
    EXPECT_EQ(f->colorButton.enabled, 0u);  // GRAY
    EXPECT_EQ(f->cmykButton.enabled, 1u);
    host.RunChain(&grey, 0);
    EXPECT_TRUE(SameImage(grey, greyBefore));
    EXPECT_EQ(f->entries[0].enabled, 0u);
    EXPECT_EQ(f->cmykButton.enabled, 0u);
    Noise(colour, 6, 4, kImgRgb8);
    host.RunChain(&colour, 0);
    // Clicks: an entry reruns and applies the rules; "CMYK" enables K.
    host.calls.clear();
    Click(*f, f->entries[0]);
    EXPECT_EQ(f->sel.Get(), 0u);
    EXPECT_EQ(f->colorButton.enabled, 1u);
    Click(*f, f->entries[6]);  // V
    EXPECT_EQ(f->colorButton.enabled, 0u);
    Click(*f, f->cmykButton);
    EXPECT_EQ(f->cmyk.Get(), 1u);
    EXPECT_EQ(f->entries[10].enabled, 1u);
    Click(*f, f->entries[10]);
    EXPECT_EQ(f->sel.Get(), 10u);
    EXPECT_EQ(f->cmykButton.enabled, 0u);
    Click(*f, f->entries[1]);
    Click(*f, f->colorButton);
    EXPECT_EQ(f->color.Get(), 1u);
    EXPECT_EQ(host.calls, std::vector<std::string>(6, "Refilter(0)"));
    // The panel disabled and enabled again keeps the rules.
    f->EnableUi(0);
    f->EnableUi(1);
    EXPECT_EQ(f->entries[10].enabled, 1u);
    Load(f, L"cmyk", L"0");
    EXPECT_EQ(f->entries[10].enabled, 0u);
}

TEST_F(ComponentTest, ExtractionLoadsAndGoldenSection) {
    auto* f = static_cast<CLfConvert*>(host.Add(CreateLfConvert()));
    EXPECT_EQ(Saved(f), L"if_enable=1;if_visible=1;cmyk=0;color=0;sel=3;");
    for (const auto& c : std::vector<std::pair<const wchar_t*, const wchar_t*>>{
             {L"sel", L"19"}, {L"sel", L"-1"}, {L"color", L"2"}, {L"cmyk", L"yes"}})
        Load(f, c.first, c.second);
    EXPECT_EQ(Saved(f), L"if_enable=1;if_visible=1;cmyk=0;color=0;sel=3;");
    Load(f, L"sel", L"x");  // read as a C-library integer: 0
    EXPECT_EQ(f->sel.Get(), 0u);
    // sel 10 with cmyk 0: K is selected but disabled, and still extracted.
    Load(f, L"sel", L"10");
    Load(f, L"color", L"1");
    EXPECT_EQ(f->entries[0].GetGroupSelection(), 10);
    EXPECT_EQ(f->colorButton.checked, 1u);
    CImgBuff image, expect;
    Noise(image, 6, 4, kImgRgb8);
    Copy(expect, image);
    host.RunChain(&image, 0);
    EXPECT_EQ(f->entries[10].enabled, 0u);
    ImgExtractComponent(&expect, kComponentBlack, 1, nullptr);
    EXPECT_TRUE(SameImage(image, expect));
}

TEST_F(ComponentTest, SelectWritesTheWorkCodeOfEveryEntry) {
    for (uint32_t sel = 0; sel < 19; ++sel)
        for (uint32_t cmyk = 0; cmyk < 2; ++cmyk) {
            CLfSelect s;
            s.sel.Set(sel);
            s.cmyk.Set(cmyk);
            uint32_t work = 77;
            EXPECT_EQ(s.Filter(nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &work, nullptr), 1);
            EXPECT_EQ(work, kSelectCodes[sel][cmyk]) << sel << " " << cmyk;
        }
}

TEST_F(ComponentTest, SelectedRedIsReversedAloneAndAllEndsTheComponentWork) {
    auto* s = static_cast<CLfSelect*>(host.Add(CreateLfSelect()));
    auto* during = static_cast<ProbeFilter*>(host.Add(new ProbeFilter));
    host.Add(CreateLfReversal());
    auto* all = static_cast<CLfSelect*>(host.Add(CreateLfSelect()));
    auto* after = static_cast<ProbeFilter*>(host.Add(new ProbeFilter));
    s->sel.Set(1);  // R
    CImgBuff image, original;
    Noise(image, 7, 5, kImgRgb8);
    Copy(original, image);
    host.RunChain(&image, 0);
    ASSERT_EQ(image.buffer->format, kImgRgb8);
    const uint8_t* p = image.buffer->pixels;
    const uint8_t* o = original.buffer->pixels;
    for (size_t i = 0; i < Bytes(image); i += 3) {
        // Pixels are stored B, G, R or R, G, B: exactly one channel changes.
        int changed = 0;
        for (int k = 0; k < 3; ++k) changed += p[i + k] != o[i + k];
        ASSERT_LE(changed, 1);
    }
    // The red channel is the only one reversed.
    CImgBuff red, redReversed;
    Copy(red, original);
    ImgExtractComponent(&red, kComponentRed, 0, nullptr);
    Copy(redReversed, image);
    ImgExtractComponent(&redReversed, kComponentRed, 0, nullptr);
    for (size_t i = 0; i < Bytes(red); ++i) ASSERT_EQ(redReversed.buffer->pixels[i], 255 - red.buffer->pixels[i]);
    EXPECT_EQ(during->steps.at(0).format, kImgGray8);
    EXPECT_EQ(after->steps.at(0).format, kImgRgb8);
    // A second selector's code replaces the first one's.
    all->sel.Set(2);
    host.RunChain(&image, 0);
    EXPECT_EQ(after->steps.at(1).format, kImgGray8);
}

TEST_F(ComponentTest, SelectPanelRulesLoadsAndGoldenSection) {
    host.SetLanguage(L"en");
    auto* s = static_cast<CLfSelect*>(host.Add(CreateLfSelect()));
    EXPECT_EQ(Saved(s), L"if_enable=1;if_visible=1;cmyk=0;sel=0;");
    EXPECT_EQ(s->entries[10].enabled, 0u);
    Click(*s, s->entries[7]);
    EXPECT_EQ(s->sel.Get(), 7u);
    Click(*s, s->cmykButton);
    EXPECT_EQ(s->entries[10].enabled, 1u);
    Click(*s, s->entries[10]);
    EXPECT_EQ(s->cmykButton.enabled, 0u);
    EXPECT_EQ(host.calls, std::vector<std::string>(3, "Refilter(0)"));
    Load(s, L"sel", L"19");
    Load(s, L"cmyk", L"2");
    EXPECT_EQ(Saved(s), L"if_enable=1;if_visible=1;cmyk=1;sel=10;");
    Load(s, L"sel", L"0");
    Load(s, L"cmyk", L"0");
    EXPECT_EQ(s->entries[0].GetGroupSelection(), 0);
    EXPECT_EQ(s->cmykButton.checked, 0u);
    EXPECT_EQ(s->entries[10].enabled, 0u);
    EXPECT_EQ(s->cmykButton.enabled, 1u);
}

TEST_F(ComponentTest, Screenshots) {
    for (const char* lang : {"en", "jp"}) {
        const std::wstring code(lang, lang + 2);
        FakeHost chain;
        chain.SetLanguage(code.c_str());
        auto* f = static_cast<CLfConvert*>(chain.Add(CreateLfConvert()));
        CImgBuff colour;
        Noise(colour, 6, 4, kImgRgb8);
        chain.RunChain(&colour, 0);
        kvtest::SaveScreenshot(kvtest::CaptureFrame(*f, *f), std::string("component_extraction-") + lang);
        auto* s = static_cast<CLfSelect*>(chain.Add(CreateLfSelect()));
        EXPECT_EQ(s->CFgScreen::width, code == L"en" ? 325u : 450u);
        kvtest::SaveScreenshot(kvtest::CaptureFrame(*s, *s), std::string("select_components-") + lang);
    }
}

}  // namespace
