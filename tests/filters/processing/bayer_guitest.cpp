// "Bayer convert" on the offscreen driver: runs in a real chain behind a
// processing rectangle against the mosaic kernel called directly, the gain
// edits and their rules, the saved section and refused loads, and the
// panel's screenshots in both languages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "filters/processing/lf_bayer.h"
#include "filters/processing/support/colour_support.h"
#include "image/kernels/bayer.h"

namespace {

using namespace kvcolour;

class BayerTest : public testing::Test {
protected:
    void TearDown() override { kvtest::Pump(); }
    FakeHost host;
};

TEST_F(BayerTest, DefaultsAreAcpiOnGrbgWithoutGainsAndSaveGolden) {
    auto* f = static_cast<CLfBayer*>(host.Add(CreateLfBayer()));
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(Saved(f), L"if_enable=1;if_visible=1;action=2;filter=0;gain=0;gain_r=3.344;gain_g=1.704;gain_b=8.772;");
    EXPECT_EQ(f->acpi.GetGroupSelection(), 2);
    EXPECT_EQ(f->grbg.GetGroupSelection(), 0);
    CImgBuff image, expect;
    Noise(image, 24, 18, kImgGray8);
    Copy(expect, image);
    host.RunChain(&image, 0);
    const ImgRect whole{0, 0, 23, 17};
    ASSERT_EQ(ImgBayer(&expect, 2, 0, nullptr, &whole), 1);
    EXPECT_TRUE(SameImage(image, expect));
    EXPECT_EQ(image.buffer->format, kImgRgb8);
}

// Inside, partly outside and outside the image: the kernel on the clipped
// rectangle, with the gains only when "gain" is on; nothing else changes.
TEST_F(BayerTest, RunsBehindAProcessingRectangleEqualTheKernel) {
    const struct {
        uint64_t x, y, w, h;
        uint32_t action, pattern, gain;
        int32_t format;
    } cases[] = {
        {4, 3, 10, 8, 0, 2, 1, kImgRgb8},  {4, 3, 10, 8, 1, 1, 0, kImgRgb16},
        {20, 10, 30, 30, 2, 4, 1, kImgRgb8}, {20, 10, 30, 30, 0, 5, 0, kImgRgb16},
        {40, 40, 5, 5, 0, 3, 1, kImgRgb8},   {0, 0, 0, 0, 1, 3, 1, kImgGray16},
        {uint64_t{1} << 31, 0, 10, 10, 0, 0, 0, kImgRgb8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y << " action " << c.action << " pattern " << c.pattern);
        FakeHost chain;
        AddRect(chain, c.x, c.y, c.w, c.h);
        auto* f = static_cast<CLfBayer*>(chain.Add(CreateLfBayer()));
        f->action.Set(c.action);
        f->filter.Set(c.pattern);
        f->gain.Set(c.gain);
        f->gainR.Set(2.5);
        CImgBuff image, expect;
        Noise(image, 24, 18, c.format);
        Copy(expect, image);
        chain.RunChain(&image, 0);
        const double gains[4] = {1.0, 2.5, CLfBayer::kGainG, CLfBayer::kGainB};
        ImgRect r{0, 0, 23, 17};
        if (c.w) {
            // Saturated corners, then clipped by the kernel: a rectangle
            // beyond 2^31 stays off the image.
            r = {static_cast<int32_t>(std::min<uint64_t>(c.x, INT32_MAX)), static_cast<int32_t>(c.y),
                 static_cast<int32_t>(std::min<uint64_t>(c.x + c.w - 1, INT32_MAX)),
                 static_cast<int32_t>(c.y + c.h - 1)};
        }
        const int32_t done = ImgBayer(&expect, c.action, c.pattern, c.gain ? gains : nullptr, &r);
        EXPECT_TRUE(SameImage(image, expect));
        if (!done) {
            CImgBuff original;
            Noise(original, 24, 18, c.format);
            EXPECT_TRUE(SameImage(image, original));
        }
    }
}

TEST_F(BayerTest, GainEditsAcceptOnlyPositiveDecimalsAndRerunWhenGainIsOn) {
    host.SetLanguage(L"en");
    auto* f = static_cast<CLfBayer*>(host.Add(CreateLfBayer()));
    // Gain off: the edits and "RESET" are disabled.
    for (CFgUIObj* c : std::vector<CFgUIObj*>{&f->editR, &f->editG, &f->editB, &f->reset, &f->labelR})
        EXPECT_EQ(c->enabled, 0u);
    Click(*f, f->gainButton);
    EXPECT_EQ(f->gain.Get(), 1u);
    EXPECT_EQ(f->editR.enabled, 1u);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"Refilter(0)"}));
    const struct {
        const wchar_t* text;
        double stored;
        const wchar_t* shown;
        size_t reruns;
    } cases[] = {
        {L"2.", 2.0, L"2.", 1},        {L".5", 2.0, L"2", 0},   {L"1.2.3", 2.0, L"2", 0},
        {L"0", 2.0, L"2", 0},         {L"0.0", 2.0, L"2", 0},  {L"", 2.0, L"2", 0},
        {L"-1", 2.0, L"2", 0},        {L"0.25", 0.25, L"0.25", 1}, {L"0.25", 0.25, L"0.25", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "text " << std::string(c.text, c.text + std::wcslen(c.text)));
        host.calls.clear();
        Type(*f, f->editR, c.text);
        EXPECT_EQ(f->gainR.Get(), c.stored);
        EXPECT_EQ(std::wstring(f->editR.GetText()), c.shown);
        EXPECT_EQ(host.calls.size(), c.reruns);
    }
    // "RESET" restores the three gains.
    host.calls.clear();
    Click(*f, f->reset);
    EXPECT_EQ(f->gainR.Get(), CLfBayer::kGainR);
    EXPECT_EQ(std::wstring(f->editR.GetText()), L"3.344");
    EXPECT_EQ(host.calls, (std::vector<std::string>{"Refilter(0)"}));
    // Gain off: an edit is stored but nothing reruns.
    Click(*f, f->gainButton);
    EXPECT_EQ(f->editG.enabled, 0u);
    host.calls.clear();
    f->editG.SetLineText(0, L"4");
    f->editG.focusLost(&f->editG, f->editG.data);
    EXPECT_EQ(f->gainG.Get(), 4.0);
    EXPECT_EQ(host.calls, (std::vector<std::string>{}));
    // A focused edit that is disabled by a load passes the focus on.
    Load(f, L"gain", L"1");
    f->SetFocus(&f->editG);
    Load(f, L"gain", L"0");
    EXPECT_EQ(f->editG.enabled, 0u);
    EXPECT_NE(f->focused, &f->editG);
    // A radio click reruns and waits.
    host.calls.clear();
    Click(*f, f->rggb);
    EXPECT_EQ(f->filter.Get(), 2u);
    Click(*f, f->bayer);
    EXPECT_EQ(f->action.Get(), 0u);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"Refilter(0)", "Refilter(0)"}));
    // The whole panel disabled and enabled again keeps the rule.
    f->EnableUi(0);
    EXPECT_EQ(f->acpi.enabled, 0u);
    f->EnableUi(1);
    EXPECT_EQ(f->acpi.enabled, 1u);
    EXPECT_EQ(f->editR.enabled, 0u);
}

TEST_F(BayerTest, LoadsTakeOnlyValidValuesAndRoundTrip) {
    auto* f = static_cast<CLfBayer*>(host.Add(CreateLfBayer()));
    const struct {
        const wchar_t* key;
        const wchar_t* value;
        const wchar_t* expect;  // the key's saved text afterwards
    } cases[] = {
        {L"action", L"0", L"action=0;"},     {L"action", L"3", L"action=0;"},  {L"action", L"-1", L"action=0;"},
        {L"filter", L"5", L"filter=5;"},     {L"filter", L"6", L"filter=5;"},  {L"gain", L"1", L"gain=1;"},
        {L"gain", L"2", L"gain=1;"},         {L"gain", L"01", L"gain=1;"},     {L"gain_r", L"0", L"gain_r=3.344;"},
        {L"gain_r", L"-1", L"gain_r=3.344;"}, {L"gain_r", L"nan", L"gain_r=3.344;"}, {L"gain_r", L"inf", L"gain_r=3.344;"},
        {L"gain_g", L"0.5", L"gain_g=0.5;"}, {L"gain_b", L"12.25", L"gain_b=12.25;"},
    };
    for (const auto& c : cases) {
        Load(f, c.key, c.value);
        EXPECT_NE(Saved(f).find(c.expect), std::wstring::npos) << std::wstring(c.key) << L" " << c.value;
    }
    // The panel shows what was loaded.
    EXPECT_EQ(f->bayer.GetGroupSelection(), 0);
    EXPECT_EQ(f->grbg.GetGroupSelection(), 5);
    EXPECT_EQ(f->gainButton.checked, 1u);
    EXPECT_EQ(std::wstring(f->editG.GetText()), L"0.5");
    EXPECT_EQ(f->editG.enabled, 1u);
    // Round trip into a fresh filter.
    CCfgFile file;
    CCfgPack* pack = file.AddPack(L"bayer_convert");
    f->SaveConfig(pack);
    auto* g = static_cast<CLfBayer*>(host.Add(CreateLfBayer()));
    g->LoadConfig(pack);
    EXPECT_EQ(Saved(g), Saved(f));
}

TEST_F(BayerTest, Screenshots) {
    for (const wchar_t* lang : {L"en", L"jp"}) {
        FakeHost chain;
        chain.SetLanguage(lang);
        auto* f = static_cast<CLfBayer*>(chain.Add(CreateLfBayer()));
        EXPECT_EQ(f->CFgScreen::width, std::wstring(lang) == L"en" ? 330u : 280u);
        EXPECT_EQ(f->editR.width, std::wstring(lang) == L"en" ? 224 : 176);
        kvtest::SaveScreenshot(kvtest::CaptureFrame(*f, *f),
                               std::string("bayer_convert-") + (std::wstring(lang) == L"en" ? "en" : "jp"));
    }
}

}  // namespace
