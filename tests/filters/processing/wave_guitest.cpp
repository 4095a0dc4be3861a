// "Color filter" on the offscreen driver: the wavelength buttons and the
// swatch, every output and gain mode against the kernel behind a processing
// rectangle, the enabling rule, edits, loads and the panel's screenshots.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "filters/processing/lf_wave.h"
#include "filters/processing/support/colour_support.h"
#include "image/kernels/wavelength_filter.h"

namespace {

using namespace kvcolour;

class WaveTest : public testing::Test {
protected:
    void TearDown() override { kvtest::Pump(); }
    FakeHost host;
};

std::vector<int> SwatchTexel(const CLfWave* f) { return {f->swatch.pixels[0], f->swatch.pixels[1], f->swatch.pixels[2]}; }

TEST_F(WaveTest, WavelengthButtonsGiveTheSwatchAndComponentGains) {
    host.SetLanguage(L"en");
    auto* f = static_cast<CLfWave*>(host.Add(CreateLfWave()));
    EXPECT_EQ(SwatchTexel(f), (std::vector<int>{0, 0, 0}));
    const struct {
        CFgUIButton* button;
        const wchar_t* text;
        std::vector<int> texel;
    } cases[] = {{&f->redButton, L"610", {255, 0, 0}},
                 {&f->greenButton, L"550.1", {0, 255, 0}},
                 {&f->blueButton, L"465.8", {0, 0, 255}}};
    for (const auto& c : cases) {
        Click(*f, *c.button);
        EXPECT_EQ(std::wstring(f->waveEdit.GetText()), c.text);
        EXPECT_EQ(SwatchTexel(f), c.texel);
    }
    Click(*f, f->greenButton);
    Click(*f, f->brightness);
    EXPECT_NEAR(f->freeGain.Get(), 0.587, 1e-12);
    EXPECT_EQ(std::wstring(f->freeEdit.GetText()), L"0.587");
    EXPECT_EQ(host.calls, std::vector<std::string>(5, "Refilter(0)"));
    // Invalid wavelength texts restore the stored value.
    for (const wchar_t* bad : {L"abc", L".5", L"1.2.3", L""}) {
        Type(*f, f->waveEdit, bad);
        EXPECT_EQ(std::wstring(f->waveEdit.GetText()), L"550.1");
        EXPECT_EQ(f->wavelength.Get(), 550.1);
    }
    Type(*f, f->waveEdit, L"700");
    EXPECT_EQ(f->wavelength.Get(), 700.0);
    EXPECT_EQ(SwatchTexel(f)[1], 0);
}

TEST_F(WaveTest, EveryModeEqualsTheKernelBehindAProcessingRectangle) {
    const struct {
        uint64_t x, y, w, h;
    } rects[] = {{0, 0, 0, 0}, {3, 2, 6, 5}, {8, 6, 20, 20}, {uint64_t{1} << 31, 0, 3, 3}};
    for (int32_t format : {kImgGray8, kImgRgb8, kImgGray16})
        for (uint32_t filter = 0; filter < 3; ++filter)
            for (uint32_t gain = 0; gain < 4; ++gain)
                for (const auto& rc : rects) {
                    SCOPED_TRACE(testing::Message() << "format " << format << " filter " << filter << " gain " << gain
                                                    << " x " << rc.x);
                    FakeHost chain;
                    AddRect(chain, rc.x, rc.y, rc.w, rc.h);
                    auto* f = static_cast<CLfWave*>(chain.Add(CreateLfWave()));
                    f->SetWavelength(550.1);
                    f->filterMode.Set(static_cast<int32_t>(filter));
                    f->gainMode.Set(static_cast<int32_t>(gain));
                    f->freeGain.Set(2);
                    f->inverse.Set(1);
                    CImgBuff image, expect;
                    Noise(image, 12, 9, format, filter * 8 + gain);
                    Copy(expect, image);
                    chain.RunChain(&image, 0);
                    ImgRect r{0, 0, 11, 8};
                    if (rc.w)
                        r = {static_cast<int32_t>(std::min<uint64_t>(rc.x, INT32_MAX)), static_cast<int32_t>(rc.y),
                             static_cast<int32_t>(std::min<uint64_t>(rc.x + rc.w - 1, INT32_MAX)),
                             static_cast<int32_t>(rc.y + rc.h - 1)};
                    ImgWavelengthFilter(&expect, 550.1, filter, gain, 0.5, &r);
                    EXPECT_TRUE(SameImage(image, expect));
                }
}

TEST_F(WaveTest, InverseOfAZeroGainLeavesTheImage) {
    auto* f = static_cast<CLfWave*>(host.Add(CreateLfWave()));
    f->gainMode.Set(3);
    f->inverse.Set(1);
    CImgBuff image, original;
    Noise(image, 8, 8, kImgGray8);
    Copy(original, image);
    host.RunChain(&image, 0);
    EXPECT_TRUE(SameImage(image, original));
    // Without inverse, a free gain of 0 is an ordinary gain.
    f->inverse.Set(0);
    host.RunChain(&image, 0);
    ImgWavelengthFilter(&original, 0, 0, 3, 0, nullptr);
    EXPECT_TRUE(SameImage(image, original));
}

TEST_F(WaveTest, EnablingRuleByModeAndFrames) {
    host.SetLanguage(L"en");
    auto* f = static_cast<CLfWave*>(host.Add(CreateLfWave()));
    auto gains = [f] {
        std::string s;
        for (const CFgUIObj* c : std::vector<const CFgUIObj*>{&f->gainOff, &f->gainNormalize, &f->gainRaw, &f->gainFree,
                                                              &f->freeEdit, &f->inverseButton, &f->redStrength,
                                                              &f->brightness})
            s += c->enabled ? '1' : '0';
        return s;
    };
    EXPECT_EQ(gains(), "11111111");
    CImgBuff colour, grey;
    Noise(colour, 4, 4, kImgRgb8);
    host.RunChain(&colour, 0);
    EXPECT_EQ(gains(), "00000000");
    Noise(grey, 4, 4, kImgGray8);
    host.RunChain(&grey, 0);
    EXPECT_EQ(gains(), "11111111");
    host.calls.clear();
    Click(*f, f->filterColour);
    EXPECT_EQ(f->filterMode.Get(), 1);
    EXPECT_EQ(gains(), "00000000");
    Click(*f, f->filterGrey);
    EXPECT_EQ(gains(), "11000000");
    Click(*f, f->gainNormalize);
    EXPECT_EQ(f->gainMode.Get(), 1);
    EXPECT_EQ(host.calls, std::vector<std::string>(3, "Refilter(0)"));
    // "inverse" reruns only in the free-gain mode.
    Click(*f, f->filterOff);
    host.calls.clear();
    Click(*f, f->inverseButton);
    EXPECT_EQ(f->inverse.Get(), 1u);
    EXPECT_TRUE(host.calls.empty());
    Click(*f, f->gainFree);
    host.calls.clear();
    Click(*f, f->inverseButton);
    EXPECT_EQ(host.calls, std::vector<std::string>(1, "Refilter(0)"));
    f->EnableUi(0);
    EXPECT_EQ(gains(), "00000000");
    EXPECT_EQ(f->waveEdit.enabled, 0u);
    f->EnableUi(1);
    EXPECT_EQ(gains(), "11111111");
    Click(*f, f->filterGrey);
    f->EnableUi(0);
    f->EnableUi(1);
    EXPECT_EQ(gains(), "11000000");
}

TEST_F(WaveTest, LoadsAndGoldenSection) {
    auto* f = static_cast<CLfWave*>(host.Add(CreateLfWave()));
    EXPECT_EQ(Saved(f), L"if_enable=1;if_visible=1;wave_length=0;gain_free=0;filter=0;gain=0;inverse=0;");
    const struct {
        const wchar_t* key;
        const wchar_t* value;
        int32_t filter, gain;
    } cases[] = {
        {L"filter", L"2", 2, 0},  {L"filter", L"x", 0, 0},   {L"filter", L"2", 2, 0}, {L"filter", L"5", 2, 0},
        {L"filter", L"-2", 2, 0}, {L"filter", L"-1", -1, 0}, {L"gain", L"3", -1, 3},  {L"gain", L"4", -1, 3},
        {L"gain", L"99999999999", -1, 0}, {L"gain", L"-1", -1, -1}, {L"gain", L"1a", -1, 0},
    };
    for (const auto& c : cases) {
        Load(f, c.key, c.value);
        EXPECT_EQ(f->filterMode.Get(), c.filter) << std::wstring(c.key) << L"=" << c.value;
        EXPECT_EQ(f->gainMode.Get(), c.gain) << std::wstring(c.key) << L"=" << c.value;
        EXPECT_EQ(f->filterOff.GetGroupSelection(), c.filter);
    }
    Load(f, L"inverse", L"yes");
    EXPECT_EQ(f->inverse.Get(), 1u);
    Load(f, L"inverse", L"0");
    EXPECT_EQ(f->inverse.Get(), 0u);
    Load(f, L"wave_length", L"465.8");
    EXPECT_EQ(std::wstring(f->waveEdit.GetText()), L"465.8");
    EXPECT_EQ(SwatchTexel(f), (std::vector<int>{0, 0, 255}));
    EXPECT_EQ(Saved(f), L"if_enable=1;if_visible=1;wave_length=465.8;gain_free=0;filter=-1;gain=0;inverse=0;");
    // With no radio selected the kernel is not called: the image stays.
    CImgBuff image, original;
    Noise(image, 4, 4, kImgRgb8);
    Copy(original, image);
    host.RunChain(&image, 0);
    EXPECT_TRUE(SameImage(image, original));
}

TEST_F(WaveTest, Screenshots) {
    for (const char* lang : {"en", "jp"}) {
        const std::wstring code(lang, lang + 2);
        FakeHost chain;
        chain.SetLanguage(code.c_str());
        auto* f = static_cast<CLfWave*>(chain.Add(CreateLfWave()));
        f->SetWavelength(550.1);
        kvtest::SaveScreenshot(kvtest::CaptureFrame(*f, *f), std::string("color_filter-") + lang);
    }
}

}  // namespace
