// "White balance" and "Color correction" on the offscreen driver: runs
// behind a processing rectangle against the transform cache applied to a
// cropped copy, picks from the picture, the panels' inputs, saved lists and
// refused loads, and the screenshots in both languages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "filters/processing/lf_color_correction.h"
#include "filters/processing/lf_white_balance.h"
#include "filters/processing/support/colour_support.h"
#include "image/kernels/colour_lut.h"
#include "toolkit/fg_keys.h"
#include "toolkit/fg_screen.h"

namespace {

using namespace kvcolour;

class ColourLutFilterTest : public testing::Test {
protected:
    void TearDown() override {
        // The key-state word is process-wide: no key stays held for the next test.
        CFgInput().SetKeyState(0);
        kvtest::Pump();
    }
    FakeHost host;
};

// The image with the cache applied to a copy of the clipped rectangle,
// pasted back.
void ApplyOnCrop(ColorLut* lut, CImgBuff& image, const ImgRect& rect) {
    ImgRect r = rect;
    if (!ImgClipRect(&r, &image)) return;
    CImgBuff crop;
    ASSERT_TRUE(image.ExtractRect(&crop, r.x0, r.y0, r.x1, r.y1));
    ASSERT_EQ(ImgColorLutApply(lut, &crop), 1);
    ASSERT_TRUE(image.PasteImage(&crop, static_cast<uint32_t>(r.x0), static_cast<uint32_t>(r.y0)));
}

struct RectCase {
    uint64_t x, y, w, h;
};
const RectCase kRects[] = {{0, 0, 0, 0}, {3, 2, 6, 5}, {8, 6, 20, 20}, {30, 30, 4, 4}, {uint64_t{1} << 31, 0, 4, 4}};

ImgRect ExpectedRect(const RectCase& c, int32_t w, int32_t h) {
    if (!c.w) return {0, 0, w - 1, h - 1};
    return {static_cast<int32_t>(std::min<uint64_t>(c.x, INT32_MAX)), static_cast<int32_t>(c.y),
            static_cast<int32_t>(std::min<uint64_t>(c.x + c.w - 1, INT32_MAX)), static_cast<int32_t>(c.y + c.h - 1)};
}

TEST_F(ColourLutFilterTest, WhiteBalanceBehindAProcessingRectangleEqualsTheCacheOnACrop) {
    ColorLut* lut = ImgColorLutCreateWhiteBalance(0.8, 0.9, 0.7);
    ASSERT_NE(lut, nullptr);
    for (int32_t format : {kImgRgb8, kImgRgb16})
        for (const RectCase& c : kRects) {
            SCOPED_TRACE(testing::Message() << format << " " << c.x);
            FakeHost chain;
            AddRect(chain, c.x, c.y, c.w, c.h);
            auto* f = static_cast<CLfWhiteBalance*>(chain.Add(CreateLfWhiteBalance()));
            ASSERT_EQ(f->SetReference(0.8, 0.9, 0.7), 1);
            CImgBuff image, expect;
            Noise(image, 12, 9, format);
            Copy(expect, image);
            chain.RunChain(&image, 0);
            ApplyOnCrop(lut, expect, ExpectedRect(c, 12, 9));
            EXPECT_TRUE(SameImage(image, expect));
        }
    ImgColorLutDestroy(lut);
}

TEST_F(ColourLutFilterTest, WhiteBalanceClickAutoSlidersAndInit) {
    host.SetLanguage(L"en");
    auto* f = static_cast<CLfWhiteBalance*>(host.Add(CreateLfWhiteBalance()));
    CImgBuff image, grey;
    ASSERT_TRUE(image.buffer->Create(10, 10, kImgRgb8));
    for (int32_t y = 0; y < 10; ++y)
        for (int32_t x = 0; x < 10; ++x)
            image.buffer->SetPixelRgbDouble(x, y, x < 3 && y < 3 ? 0.8 : 0.1, x < 3 && y < 3 ? 0.6 : 0.1,
                                            x < 3 && y < 3 ? 0.4 : 0.1);
    CImgBuff original;
    Copy(original, image);
    Noise(grey, 10, 10, kImgGray8);
    // A corner click averages the 9 pixels inside the image; the request
    // waits through grey frames.
    f->OnLButtonDown(0, 0, 0);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"Refilter(1)"}));
    host.RunChain(&grey, 0);
    EXPECT_EQ(f->clickRequest.load(), 1u);
    EXPECT_FALSE(f->HasTransform());
    host.RunChain(&image, 0);
    EXPECT_EQ(f->clickRequest.load(), 0u);
    double rgb[3];
    f->Reference(rgb);
    EXPECT_NEAR(rgb[0], 204 / 255.0, 1e-9);
    EXPECT_NEAR(rgb[1], 153 / 255.0, 1e-9);
    EXPECT_NEAR(rgb[2], 102 / 255.0, 1e-9);
    EXPECT_TRUE(f->HasTransform());
    EXPECT_EQ(f->sliders[0].position, 255 - 204);
    EXPECT_FALSE(SameImage(image, original));
    // "auto" on a region under 128 x 128: the mean of the region.
    CImgBuff small;
    Noise(small, 20, 16, kImgRgb8, 3);
    double mean[3] = {0, 0, 0};
    for (int32_t y = 0; y < 16; ++y)
        for (int32_t x = 0; x < 20; ++x) {
            double r, g, b;
            small.buffer->GetPixelRgbDouble(x, y, &r, &g, &b);
            mean[0] += r / 320, mean[1] += g / 320, mean[2] += b / 320;
        }
    host.calls.clear();
    Click(*f, f->autoButton);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"Refilter(1)"}));
    host.RunChain(&small, 0);
    f->Reference(rgb);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(rgb[i], mean[i], 1e-4);
    // R 0.5 puts the slider at 128; a slider move reruns without waiting.
    ASSERT_EQ(f->SetReference(0.5, 1, 1), 1);
    EXPECT_EQ(f->sliders[0].position, 128);
    EXPECT_EQ(f->sliders[1].position, 0);
    host.calls.clear();
    f->sliders[2].callback(&f->sliders[2], f->sliders[2].data, 51);
    f->Reference(rgb);
    EXPECT_NEAR(rgb[2], 204 / 255.0, 1e-12);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"Refilter(1)"}));
    EXPECT_EQ(Saved(f), L"if_enable=1;if_visible=1;R=0.500000;G=1.000000;B=0.800000;");
    // "init": white, no transform, nothing saved, the image passes.
    host.calls.clear();
    Click(*f, f->initButton);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"Refilter(0)"}));
    EXPECT_FALSE(f->HasTransform());
    EXPECT_EQ(f->sliders[0].position, 0);
    EXPECT_EQ(Saved(f), L"if_enable=1;if_visible=1;");
    Copy(original, small);
    host.RunChain(&small, 0);
    EXPECT_TRUE(SameImage(small, original));
    // Two equal components still build a transform; three make none.
    EXPECT_EQ(f->SetReference(0.5, 0.5, 0.9), 1);
    EXPECT_TRUE(f->HasTransform());
    EXPECT_EQ(f->SetReference(0.5, 0.5, 0.5), 1);
    EXPECT_FALSE(f->HasTransform());
}

TEST_F(ColourLutFilterTest, WhiteBalanceLoads) {
    auto* f = static_cast<CLfWhiteBalance*>(host.Add(CreateLfWhiteBalance()));
    const struct {
        const wchar_t *r, *g, *b;
        bool taken;
    } cases[] = {{L"0.9", L"0.8", L"0.7", true}, {L"1.5", L"0.8", L"0.7", false}, {L"nan", L"0.8", L"0.7", false},
                 {L"0.9", nullptr, L"0.7", false}, {L"-0.1", L"0.8", L"0.7", false}, {L"inf", L"1", L"1", false}};
    for (const auto& c : cases) {
        ASSERT_EQ(f->SetReference(0.2, 0.3, 0.4), 1);
        CCfgFile file;
        CCfgPack* pack = file.AddPack(L"white_balance");
        pack->AddItem(L"R", c.r);
        if (c.g) pack->AddItem(L"G", c.g);
        pack->AddItem(L"B", c.b);
        f->LoadConfig(pack);
        double rgb[3];
        f->Reference(rgb);
        EXPECT_EQ(rgb[0], c.taken ? 0.9 : 0.2) << std::wstring(c.r);
    }
    // Round trip.
    CCfgFile file;
    CCfgPack* pack = file.AddPack(L"white_balance");
    f->SaveConfig(pack);
    auto* g = static_cast<CLfWhiteBalance*>(host.Add(CreateLfWhiteBalance()));
    g->LoadConfig(pack);
    EXPECT_EQ(Saved(g), Saved(f));
}

TEST_F(ColourLutFilterTest, ColorCorrectionGoldenSectionAndRectangles) {
    auto* f = static_cast<CLfColorCorrection*>(host.Add(CreateLfColorCorrection()));
    const std::wstring saved = Saved(f);
    EXPECT_NE(saved.find(L"STD_R=0.686275 ,0.905882 ,0.274510 ,0.031373 ,0.219608 ,0.733333;"), std::wstring::npos)
        << saved;
    EXPECT_NE(saved.find(L"IMG_R=0.686275 ,0.905882"), std::wstring::npos);
    EXPECT_NE(saved.find(L";CORRECT_S=0;"), std::wstring::npos);
    EXPECT_FALSE(f->HasTransform());
    // A changed image colour builds the transform; runs equal it on a crop.
    ASSERT_EQ(f->SetColour(CLfColorCorrection::kImage, 0, 0.8, 0.3, 0.2), 1);
    double img[3][6], std_[3][6];
    for (int i = 0; i < 6; ++i) {
        double a[3], b[3];
        f->Colour(CLfColorCorrection::kImage, i, a);
        f->Colour(CLfColorCorrection::kStandard, i, b);
        for (int c = 0; c < 3; ++c) img[c][i] = a[c], std_[c][i] = b[c];
    }
    ColorLut* lut = ImgColorLutCreateColorCorrection(img[0], img[1], img[2], std_[0], std_[1], std_[2], 0, 0);
    ASSERT_NE(lut, nullptr);
    for (const RectCase& c : kRects) {
        SCOPED_TRACE(c.x);
        FakeHost chain;
        AddRect(chain, c.x, c.y, c.w, c.h);
        auto* g = static_cast<CLfColorCorrection*>(chain.Add(CreateLfColorCorrection()));
        ASSERT_EQ(g->SetColour(CLfColorCorrection::kImage, 0, 0.8, 0.3, 0.2), 1);
        CImgBuff image, expect;
        Noise(image, 12, 9, kImgRgb8);
        Copy(expect, image);
        chain.RunChain(&image, 0);
        ApplyOnCrop(lut, expect, ExpectedRect(c, 12, 9));
        EXPECT_TRUE(SameImage(image, expect));
    }
    ImgColorLutDestroy(lut);
}

TEST_F(ColourLutFilterTest, ColorCorrectionPicksKeysAndClicks) {
    host.SetLanguage(L"en");
    auto* f = static_cast<CLfColorCorrection*>(host.Add(CreateLfColorCorrection()));
    CImgBuff image;
    ASSERT_TRUE(image.buffer->Create(8, 8, kImgRgb8));
    auto paint = [&](double r, double g, double b) {
        for (int32_t y = 0; y < 8; ++y)
            for (int32_t x = 0; x < 8; ++x) image.buffer->SetPixelRgbDouble(x, y, r, g, b);
    };
    // No selection: the request stays pending and nothing changes.
    paint(0.8, 0.2, 0.2);
    f->OnLButtonDown(int64_t{4}, int64_t{4}, 0u);
    host.RunChain(&image, 0);
    EXPECT_EQ(f->clickRequest.load(), 1u);
    EXPECT_FALSE(f->HasTransform());
    // The key table: none selected gives red; rows and wrapping columns.
    const struct {
        uint16_t keys;
        int32_t from, to;
    } keys[] = {{kFgKeyStateLeft, -1, 0},  {kFgKeyStateDown, 0, 3},  {kFgKeyStateUp, 3, 0},
                {kFgKeyStateLeft, 0, 4},   {kFgKeyStateLeft, 4, 2},  {kFgKeyStateLeft, 2, 0},
                {kFgKeyStateRight, 0, 2},  {kFgKeyStateRight, 4, 0}, {kFgKeyStateLeft, 3, 1},
                {kFgKeyStateLeft, 1, 5},   {kFgKeyStateLeft, 5, 3},  {kFgKeyStateRight, 3, 5},
                {kFgKeyStateUp | kFgKeyStateDown, 2, 2}, {kFgKeyStateUp | kFgKeyStateRight, 1, 0},
                {kFgKeyStateLeft | kFgKeyStateRight, 5, 5}};
    for (const auto& k : keys) {
        f->selected.store(k.from);
        f->SetKeyState(k.keys);
        f->OnKeyStateChanged();
        EXPECT_EQ(f->selected.load(), k.to) << k.keys << " from " << k.from;
    }
    // Picks: grey and a hue equal to a neighbour's are refused.
    f->selected.store(0);
    host.calls.clear();
    paint(0.5, 0.5, 0.5);
    f->OnLButtonDown(int64_t{4}, int64_t{4}, 0u);
    host.RunChain(&image, 0);
    EXPECT_EQ(f->clickRequest.load(), 0u);
    EXPECT_FALSE(f->HasTransform());
    double yellow[3];
    f->Colour(CLfColorCorrection::kImage, 1, yellow);
    paint(yellow[0], yellow[1], yellow[2]);
    f->OnLButtonDown(int64_t{4}, int64_t{4}, 0u);
    host.RunChain(&image, 0);
    EXPECT_FALSE(f->HasTransform());
    paint(0.8, 0.2, 0.3);
    f->OnLButtonDown(int64_t{0}, int64_t{7}, 0u);
    host.RunChain(&image, 0);
    EXPECT_TRUE(f->HasTransform());
    double red[3];
    f->Colour(CLfColorCorrection::kImage, 0, red);
    EXPECT_NEAR(red[0], 204 / 255.0, 1e-9);
    EXPECT_EQ(host.calls, std::vector<std::string>(3, "Refilter(0)"));
    // Space restores the selected image colour from its standard colour.
    host.calls.clear();
    f->OnChar(L' ');
    f->Colour(CLfColorCorrection::kImage, 0, red);
    EXPECT_NEAR(red[0], 175 / 255.0, 1e-12);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"Refilter(0)"}));
    // Panel clicks: the upper half selects, the lower half also restores.
    ASSERT_EQ(f->SetColour(CLfColorCorrection::kImage, 2, 0.2, 0.7, 0.3), 1);
    host.calls.clear();
    PlatPostTestClick(f->window, 112 + 48, 8 + 10);
    kvtest::Pump();
    EXPECT_EQ(f->selected.load(), 2);
    EXPECT_TRUE(host.calls.empty());
    PlatPostTestClick(f->window, 112 + 48, 8 + 60);
    kvtest::Pump();
    double green[3];
    f->Colour(CLfColorCorrection::kImage, 2, green);
    EXPECT_NEAR(green[1], 148 / 255.0, 1e-12);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"Refilter(0)"}));
}

TEST_F(ColourLutFilterTest, ColorCorrectionLoadsLists) {
    auto* f = static_cast<CLfColorCorrection*>(host.Add(CreateLfColorCorrection()));
    // Moving every image colour one step round the circle is valid as a
    // whole, though the first step alone would make two hues equal.
    CCfgFile file;
    CCfgPack* pack = file.AddPack(L"color_correction");
    pack->AddItem(L"IMG_R", L"0.905882 ,0.274510 ,0.031373 ,0.219608 ,0.733333 ,0.686275");
    pack->AddItem(L"IMG_G", L"0.780392 ,0.580392 ,0.521569 ,0.239216 ,0.337255 ,0.211765");
    pack->AddItem(L"IMG_B", L"0.121569 ,0.286275 ,0.631373 ,0.588235 ,0.584314 ,0.235294");
    pack->AddItem(L"CORRECT_S", L"1");
    f->LoadConfig(pack);
    EXPECT_TRUE(f->HasTransform());
    EXPECT_EQ(f->correctS.load(), 1u);
    double c[3];
    f->Colour(CLfColorCorrection::kImage, 5, c);
    EXPECT_NEAR(c[0], 0.686275, 1e-12);
    const std::wstring saved = Saved(f);
    EXPECT_NE(saved.find(L"IMG_R=0.905882 ,0.274510 ,0.031373 ,0.219608 ,0.733333 ,0.686275;"), std::wstring::npos);
    EXPECT_NE(saved.find(L"CORRECT_S=1;"), std::wstring::npos);
    // The transform was built with CORRECT_S: a reload of the same list
    // applies the same thing as a filter that had it on before.
    auto* g = static_cast<CLfColorCorrection*>(host.Add(CreateLfColorCorrection()));
    CCfgFile second;
    CCfgPack* again = second.AddPack(L"color_correction");
    f->SaveConfig(again);
    g->LoadConfig(again);
    EXPECT_EQ(Saved(g), saved);
    // "nan" and values out of range keep the colour they would replace.
    CCfgFile third;
    CCfgPack* bad = third.AddPack(L"color_correction");
    bad->AddItem(L"STD_R", L"nan ,1.5 ,0.274510 ,0.031373 ,0.219608 ,0.733333");
    auto* h = static_cast<CLfColorCorrection*>(host.Add(CreateLfColorCorrection()));
    h->LoadConfig(bad);
    h->Colour(CLfColorCorrection::kStandard, 0, c);
    EXPECT_NEAR(c[0], 175 / 255.0, 1e-12);
    h->Colour(CLfColorCorrection::kStandard, 1, c);
    EXPECT_NEAR(c[0], 231 / 255.0, 1e-12);
    EXPECT_EQ(h->SetColour(CLfColorCorrection::kImage, 0, NAN, 0.2, 0.2), 0);
}

TEST_F(ColourLutFilterTest, Screenshots) {
    for (const char* lang : {"en", "jp"}) {
        const std::wstring code(lang, lang + 2);
        FakeHost chain;
        chain.SetLanguage(code.c_str());
        auto* w = static_cast<CLfWhiteBalance*>(chain.Add(CreateLfWhiteBalance()));
        w->SetReference(0.9, 0.8, 0.6);
        kvtest::SaveScreenshot(kvtest::CaptureFrame(*w, *w), std::string("white_balance-") + lang);
        auto* c = static_cast<CLfColorCorrection*>(chain.Add(CreateLfColorCorrection()));
        c->selected.store(2);
        c->SetColour(CLfColorCorrection::kImage, 0, 0.8, 0.3, 0.2);
        kvtest::SaveScreenshot(kvtest::CaptureFrame(*c, *c), std::string("color_correction-") + lang);
    }
}

}  // namespace
