// "Projective transformation": chain runs against the perspective kernel
// with the camera worked out from the focal length and pixel pitch, a new
// image size, the commit rules of the boxes, the pixel pitch from the
// device size, the messages, loads and the panel in both languages.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "filters/core/cfgfile.h"
#include "filters/processing/lf_ptrans.h"
#include "filters/processing/support/region_runs.h"
#include "image/kernels/perspective.h"
#include "platform/plat_messages.h"
#include "support/testsupport.h"
#include "toolkit/support/file_select_answer.h"
#include "toolkit/support/ui_input.h"

namespace {

std::wstring Saved(CImgFilter& f) {
    CCfgFile file;
    CCfgPack* pack = file.AddPack(L"projective_transformation");
    f.SaveConfig(pack);
    std::wstring text;
    for (const CCfgItem* i = pack->firstItem; i; i = i->next) text += std::wstring(i->key) + L"=" + i->value + L";";
    return text;
}

void Load(CImgFilter& f, const std::vector<std::pair<const wchar_t*, const wchar_t*>>& items) {
    CCfgFile file;
    CCfgPack* pack = file.AddPack(L"projective_transformation");
    for (const auto& [k, v] : items) pack->AddItem(k, v);
    f.LoadConfig(pack);
}

void Commit(CFgUIEdit& edit, const wchar_t* text) {
    edit.SetLineText(0, text);
    edit.focusLost(&edit, edit.data);
}

// The kernel's transform with the camera of a sensor of square pixels:
// focal length in pixels f / (pitch / 1000), centre at half the size.
void Direct(CImgBuff* image, double f, double pitch, double pan, double tilt, double zoom) {
    const CameraMatrix camera{f / (pitch / 1000), f / (pitch / 1000), image->buffer->width * 0.5,
                              image->buffer->height * 0.5};
    const double angles[3] = {pan, tilt, 0};
    ASSERT_EQ(ImgPerspectiveTransform(image, &camera, angles, zoom, 1), 1);
}

class PtransTest : public testing::Test {
protected:
    void SetUp() override { host.SetSourceFormat(40, 30, 3, 1); }
    void TearDown() override { kvtest::Pump(); }
    FakeHost host;
};

TEST_F(PtransTest, ChainRunsMatchTheKernelOverTheWholeImage) {
    auto* rect = static_cast<CLfRect*>(host.Add(CreateLfRect()));
    auto* p = static_cast<CLfPtrans*>(host.Add(CreateLfPtrans()));
    // Nothing happens before a successful "set".
    for (int32_t format : kvtest::RegionFormats())
        kvtest::ExpectChainMatchesDirect(host, rect, kvtest::RegionCases()[0], format,
                                         [](CImgBuff*, const ImgRect&, bool) {});
    Commit(p->focalEdit, L"8");
    Commit(p->pixelEdit, L"15");
    Commit(p->panEdit, L"12.5");
    Commit(p->tiltEdit, L"-7");
    EXPECT_EQ(p->setButton.enabled, 1u);
    // Not yet applied: frames still pass.
    kvtest::ExpectChainMatchesDirect(host, rect, kvtest::RegionCases()[0], kImgRgb8, [](CImgBuff*, const ImgRect&, bool) {});
    host.calls.clear();
    p->ApplyCamera();
    EXPECT_EQ(host.calls, std::vector<std::string>{"Refilter(0)"});
    EXPECT_EQ(p->setButton.enabled, 0u);
    for (const kvtest::RegionCase& c : kvtest::RegionCases())
        for (int32_t format : kvtest::RegionFormats())
            kvtest::ExpectChainMatchesDirect(host, rect, c, format, [](CImgBuff* img, const ImgRect&, bool) {
                Direct(img, 8, 15, 12.5, -7, 1);
            });
    // A committed zoom takes effect at the next run without "set"; a new
    // pan waits for it.
    Commit(p->zoomEdit, L"1.5");
    Commit(p->panEdit, L"30");
    kvtest::ExpectChainMatchesDirect(host, rect, kvtest::RegionCases()[1], kImgRgb16,
                                     [](CImgBuff* img, const ImgRect&, bool) { Direct(img, 8, 15, 12.5, -7, 1.5); });
    // No turn and no zoom gives the image back, within the one level that
    // the kernel's truncated interpolation may lose.
    Commit(p->panEdit, L"0");
    Commit(p->tiltEdit, L"0");
    Commit(p->zoomEdit, L"1");
    p->ApplyCamera();
    kvtest::ExpectChainMatchesDirect(host, rect, kvtest::RegionCases()[0], kImgGray8,
                                     [](CImgBuff* img, const ImgRect&, bool) { Direct(img, 8, 15, 0, 0, 1); });
    CImgBuff ramp;
    ASSERT_TRUE(ramp.buffer->Create(40, 30, kImgGray8));
    for (int32_t y = 0; y < 30; ++y)
        for (int32_t x = 0; x < 40; ++x) ramp.buffer->PixelAt(x, y)[0] = static_cast<uint8_t>(x * 5 + y * 3);
    const std::vector<uint8_t> before = kvtest::Bytes(ramp);
    host.RunChain(&ramp, 0);
    const std::vector<uint8_t> after = kvtest::Bytes(ramp);
    for (size_t i = 0; i < before.size(); ++i) ASSERT_LE(std::abs(before[i] - after[i]), 1) << i;
}

TEST_F(PtransTest, ANewImageSizeMovesTheCentreAndOffPasses) {
    auto* p = static_cast<CLfPtrans*>(host.Add(CreateLfPtrans()));
    Load(*p, {{L"f", L"6"}, {L"size_pixel_us", L"9.5"}, {L"pan", L"-20"}, {L"tilt", L"15"}, {L"zoom", L"0.8"}});
    EXPECT_EQ(p->Get().active, 1u);
    EXPECT_EQ(p->setButton.enabled, 0u);
    CImgBuff image, expect;
    kvtest::RandomImage(image, 64, 50, kImgRgb8, 4);
    kvtest::RandomImage(expect, 64, 50, kImgRgb8, 4);
    host.RunChain(&image, 0);
    Direct(&expect, 6, 9.5, -20, 15, 0.8);
    EXPECT_TRUE(kvtest::Bytes(image) == kvtest::Bytes(expect));
    EXPECT_EQ(p->Get().sizeW, 64u);
    EXPECT_DOUBLE_EQ(p->Get().camera.cx, 32.0);
    EXPECT_DOUBLE_EQ(p->Get().camera.cy, 25.0);
    // Disabled: frames pass.
    p->CImgFilter::enabled = 0;
    kvtest::RandomImage(image, 64, 50, kImgRgb8, 4);
    host.RunChain(&image, 0);
    kvtest::RandomImage(expect, 64, 50, kImgRgb8, 4);
    EXPECT_TRUE(kvtest::Bytes(image) == kvtest::Bytes(expect));
}

TEST_F(PtransTest, BoxesTakeOnlyValuesInTheirRange) {
    CLfPtrans p;
    const struct {
        CFgUIEdit CLfPtrans::*edit;
        CSetting<double> CLfPtrans::*setting;
        const wchar_t* text;
        double expect;  // after committing over a stored 5
    } cases[] = {
        {&CLfPtrans::focalEdit, &CLfPtrans::focal, L"12.5", 12.5},
        {&CLfPtrans::focalEdit, &CLfPtrans::focal, L"0", 5},
        {&CLfPtrans::focalEdit, &CLfPtrans::focal, L".5", 5},
        {&CLfPtrans::focalEdit, &CLfPtrans::focal, L"-3", 5},
        {&CLfPtrans::pixelEdit, &CLfPtrans::pixelUm, L"1.2.3", 5},
        {&CLfPtrans::inchEdit, &CLfPtrans::inch, L"0.5", 0.5},
        {&CLfPtrans::zoomEdit, &CLfPtrans::zoom, L"0.0", 5},
        {&CLfPtrans::zoomEdit, &CLfPtrans::zoom, L"2", 2},
        {&CLfPtrans::panEdit, &CLfPtrans::pan, L"-89.5", -89.5},
        {&CLfPtrans::panEdit, &CLfPtrans::pan, L"90", 5},
        {&CLfPtrans::panEdit, &CLfPtrans::pan, L"-90", 5},
        {&CLfPtrans::panEdit, &CLfPtrans::pan, L"-", 5},
        {&CLfPtrans::panEdit, &CLfPtrans::pan, L"-.5", 5},
        {&CLfPtrans::panEdit, &CLfPtrans::pan, L"", 5},
        {&CLfPtrans::tiltEdit, &CLfPtrans::tilt, L"-45", -45},
        {&CLfPtrans::tiltEdit, &CLfPtrans::tilt, L"1e1", 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)));
        (p.*c.setting).Set(5);
        Commit(p.*c.edit, c.text);
        EXPECT_EQ((p.*c.setting).Get(), c.expect);
        wchar_t shown[64];
        std::swprintf(shown, 64, L"%g", c.expect);
        EXPECT_EQ(std::wstring((p.*c.edit).GetText()), shown);
    }
}

TEST_F(PtransTest, PixelPitchFromTheDeviceAndTheMessages) {
    host.SetLanguage(L"en");
    auto* p = static_cast<CLfPtrans*>(host.Add(CreateLfPtrans()));
    host.SetSourceFormat(640, 480, 3, 1);
    {
        kvtest::ModalAnswers answers;
        p->CalcPixelSize();  // no device size yet
        Commit(p->inchEdit, L"0.5");
        p->CalcPixelSize();
        EXPECT_NEAR(p->pixelUm.Get(), 15.875, 1e-12);
        EXPECT_EQ(std::wstring(p->pixelEdit.GetText()), L"15.875");
        EXPECT_EQ(answers.messages, std::vector<std::wstring>{L"enter inch"});
    }
    const struct {
        const char* name;
        uint64_t w;
        double f, pitch;
        const wchar_t* english;
        const wchar_t* japanese;
    } cases[] = {
        {"no image", 0, 8, 15, L"no image", L"画像がありません"},
        {"no focal length", 640, 0, 15, L"enter focal length", L"焦点距離を入力してください"},
        {"no pitch", 640, 8, 0, L"enter the pixel size of the imaging device", L"撮像素子の画素サイズを入力してください"},
    };
    for (const wchar_t* language : {L"en", L"jp"}) {
        host.SetLanguage(language);
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            host.SetSourceFormat(c.w, 480, 3, 1);
            p->focal.Set(c.f);
            p->pixelUm.Set(c.pitch);
            kvtest::ModalAnswers answers;
            host.calls.clear();
            p->ApplyCamera();
            EXPECT_EQ(answers.messages,
                      std::vector<std::wstring>{std::wstring(language) == L"jp" ? c.japanese : c.english});
            EXPECT_EQ(p->Get().active, 0u);
            EXPECT_TRUE(host.calls.empty());
        }
        kvtest::ModalAnswers answers;
        host.SetSourceFormat(0, 0, 3, 1);
        Commit(p->inchEdit, L"1");
        p->CalcPixelSize();
        EXPECT_EQ(answers.messages, std::vector<std::wstring>{std::wstring(language) == L"jp" ? L"画像がありません"
                                                                                               : L"no image"});
    }
}

TEST_F(PtransTest, SettingsAndLoads) {
    CLfPtrans p;
    EXPECT_EQ(Saved(p), L"if_enable=0;if_visible=0;f=0;size_pixel_us=0;size_inch=0;pan=0;tilt=0;zoom=1;");
    // Without an image a load waits for "set".
    Load(p, {{L"f", L"4.5"}, {L"size_pixel_us", L"3.75"}, {L"size_inch", L"0.33"}, {L"pan", L"-12.25"},
             {L"tilt", L"80"}, {L"zoom", L"2"}});
    EXPECT_EQ(Saved(p), L"if_enable=0;if_visible=0;f=4.5;size_pixel_us=3.75;size_inch=0.33;pan=-12.25;tilt=80;zoom=2;");
    EXPECT_EQ(std::wstring(p.panEdit.GetText()), L"-12.25");
    EXPECT_EQ(p.Get().active, 0u);
    EXPECT_EQ(p.setButton.enabled, 1u);
    // A pan of 120 loads; the kernel refuses it and frames pass.
    auto* q = static_cast<CLfPtrans*>(host.Add(CreateLfPtrans()));
    Load(*q, {{L"f", L"8"}, {L"size_pixel_us", L"15"}, {L"pan", L"120"}});
    EXPECT_EQ(q->pan.Get(), 120.0);
    EXPECT_EQ(q->Get().active, 1u);
    EXPECT_EQ(q->Get().pan, 120.0);
    CImgBuff image;
    kvtest::RandomImage(image, 40, 30, kImgRgb8, 1);
    const std::vector<uint8_t> before = kvtest::Bytes(image);
    host.RunChain(&image, 0);
    EXPECT_TRUE(kvtest::Bytes(image) == before);
}

TEST_F(PtransTest, PanelInBothLanguages) {
    for (const wchar_t* language : {L"en", L"jp"}) {
        const bool jp = std::wstring(language) == L"jp";
        SCOPED_TRACE(jp ? "jp" : "en");
        host.SetLanguage(language);
        auto* p = static_cast<CLfPtrans*>(host.Add(CreateLfPtrans()));
        ASSERT_TRUE(p->PanelShown());
        EXPECT_EQ(p->CFgScreen::width, 270u);
        EXPECT_EQ(p->CFgScreen::height, 180u);
        EXPECT_EQ(p->focalLabel.width, jp ? 60 : 85);
        EXPECT_EQ(p->pixelLabel.width, jp ? 140 : 70);
        EXPECT_EQ(p->calcButton.label, jp ? L"撮像素子サイズから計算" : L"calc from CCD size");
        // Typing into a box marks the panel edited; "set" applies.
        PlatPostTestClick(p->window, 200, 20);
        kvtest::Pump();
        kvtest::PostText(p->window, L"8");
        kvtest::Pump();
        EXPECT_EQ(p->setButton.enabled, 1u);
        PlatPostTestClick(p->window, 200, 50);  // the focal length commits
        kvtest::Pump();
        kvtest::PostText(p->window, L"15");
        kvtest::Pump();
        PlatPostTestClick(p->window, 60, 120);  // pan
        kvtest::Pump();
        EXPECT_EQ(p->focal.Get(), 8.0);
        EXPECT_EQ(p->pixelUm.Get(), 15.0);
        kvtest::SaveScreenshot(kvtest::CaptureFrame(*p, *p), std::string("projective_transformation-") + (jp ? "jp" : "en"));
        host.calls.clear();
        PlatPostTestClick(p->window, 130, 155);  // "set"
        kvtest::Pump();
        EXPECT_EQ(p->Get().active, 1u);
        EXPECT_EQ(p->setButton.enabled, 0u);
        EXPECT_EQ(host.calls, std::vector<std::string>{"Refilter(0)"});
    }
}

}  // namespace
