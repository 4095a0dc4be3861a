// "Zoom": chain runs against the turning kernel with an independently
// computed transform, the five mouse drags with corners computed another
// way, "set" with a usable and an unusable diagonal, a new image size,
// loads near the 32-bit limits, and the panel in both languages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "filters/core/cfgfile.h"
#include "filters/processing/lf_atrans.h"
#include "filters/processing/lf_group.h"
#include "filters/processing/support/region_runs.h"
#include "image/kernels/rotate_scale.h"
#include "platform/plat_messages.h"
#include "support/testsupport.h"
#include "toolkit/support/ui_input.h"

namespace {

using Point = CLfAtrans::Point;

std::wstring Saved(CImgFilter& f) {
    CCfgFile file;
    CCfgPack* pack = file.AddPack(L"zoom");
    f.SaveConfig(pack);
    std::wstring text;
    for (const CCfgItem* i = pack->firstItem; i; i = i->next) text += std::wstring(i->key) + L"=" + i->value + L";";
    return text;
}

void Load(CImgFilter& f, const std::vector<std::pair<const wchar_t*, const wchar_t*>>& items) {
    CCfgFile file;
    CCfgPack* pack = file.AddPack(L"zoom");
    for (const auto& [k, v] : items) pack->AddItem(k, v);
    f.LoadConfig(pack);
}

// The diagonal's transform worked out from the definition: the diagonal's
// length against the image diagonal, the angle between them, its midpoint.
struct Expected {
    int32_t cx, cy;
    double angle, scale;
};
Expected ExpectedTransform(double w, double h, Point a, Point b) {
    const double dx = static_cast<double>(b.x) - a.x, dy = static_cast<double>(b.y) - a.y;
    const double deg = 180.0 / 3.141592653589793;
    return {static_cast<int32_t>((static_cast<int64_t>(a.x) + b.x) / 2),
            static_cast<int32_t>((static_cast<int64_t>(a.y) + b.y) / 2),
            std::atan2(h - 1, w - 1) * deg - std::atan2(dy, dx) * deg, std::hypot(w, h) / std::hypot(dx, dy)};
}

// The rectangle of the image's aspect over the diagonal, by lengths and
// directions: the width side runs at the diagonal's direction less the
// image diagonal's, the height side a quarter turn further.
void ExpectedCorners(double w, double h, Point a, Point b, double out[4][2]) {
    const double dx = static_cast<double>(b.x) - a.x, dy = static_cast<double>(b.y) - a.y;
    const double length = std::hypot(dx, dy), beta = std::atan2(h - 1, w - 1), alpha = std::atan2(dy, dx);
    const double wide = length * std::cos(beta), tall = length * std::sin(beta), side = alpha - beta;
    out[0][0] = a.x, out[0][1] = a.y;
    out[1][0] = a.x + wide * std::cos(side), out[1][1] = a.y + wide * std::sin(side);
    out[2][0] = b.x, out[2][1] = b.y;
    out[3][0] = a.x - tall * std::sin(side), out[3][1] = a.y + tall * std::cos(side);
}

void ExpectCorners(const CLfAtrans& z, double w, double h) {
    double c[4][2];
    ExpectedCorners(w, h, z.currentA, z.currentB, c);
    for (int i = 0; i < 4; ++i) {
        // Both truncate; rounding on either side of a whole number may differ by one.
        EXPECT_NEAR(z.corners[i].x, c[i][0], 1.0) << "corner " << i;
        EXPECT_NEAR(z.corners[i].y, c[i][1], 1.0) << "corner " << i;
    }
}

class ZoomTest : public testing::Test {
protected:
    void SetUp() override { host.SetSourceFormat(40, 30, 3, 1); }
    void TearDown() override { kvtest::Pump(); }
    FakeHost host;
};

TEST_F(ZoomTest, ChainRunsTurnTheWholeImageWhateverTheRectangle) {
    auto* rect = static_cast<CLfRect*>(host.Add(CreateLfRect()));
    auto* zoom = static_cast<CLfAtrans*>(host.Add(CreateLfAtrans()));
    const struct {
        Point a, b;
        uint32_t mirror;
    } diagonals[] = {{{5, 4}, {29, 22}, 0}, {{30, 2}, {8, 25}, 1}, {{0, 0}, {39, 29}, 0}};
    for (const auto& d : diagonals) {
        CLfAtrans::Applied ap;
        ap.enable = 1;
        ap.a = d.a;
        ap.b = d.b;
        ap.sizeW = 40;
        ap.sizeH = 30;
        ap.mirror = d.mirror;
        ASSERT_TRUE(CLfAtrans::TransformFromDiagonal(40, 30, d.a, d.b, &ap.transform));
        const Expected e = ExpectedTransform(40, 30, d.a, d.b);
        EXPECT_EQ(ap.transform.cx, e.cx);
        EXPECT_EQ(ap.transform.cy, e.cy);
        EXPECT_NEAR(ap.transform.angle, e.angle, 1e-9);
        EXPECT_NEAR(ap.transform.scale, e.scale, 1e-12);
        zoom->Set(ap);
        for (const kvtest::RegionCase& c : kvtest::RegionCases())
            for (int32_t format : kvtest::RegionFormats())
                kvtest::ExpectChainMatchesDirect(host, rect, c, format, [&](CImgBuff* img, const ImgRect&, bool) {
                    ASSERT_EQ(ImgRotateScale(img, e.cx, e.cy, e.angle, e.scale, static_cast<int32_t>(d.mirror), 1), 1);
                });
    }
    // The whole image as the rectangle gives it back scaled by the ratio of
    // the diagonals, unturned, about the middle.
    CLfAtrans::Transform t;
    ASSERT_TRUE(CLfAtrans::TransformFromDiagonal(40, 30, {0, 0}, {39, 29}, &t));
    EXPECT_DOUBLE_EQ(t.scale, std::hypot(40.0, 30.0) / std::hypot(39.0, 29.0));
    EXPECT_DOUBLE_EQ(t.angle, 0.0);
    EXPECT_EQ(t.cx, 19);
    EXPECT_EQ(t.cy, 14);
}

TEST_F(ZoomTest, FramesPassWhileOffEditingOrWithoutARectangle) {
    CImgFilter* tag = host.Add(CreateLfGroup());
    auto* zoom = static_cast<CLfAtrans*>(host.Add(CreateLfAtrans()));
    CImgBuff image;
    kvtest::RandomImage(image, 40, 30, kImgRgb8, 3);
    const std::vector<uint8_t> before = kvtest::Bytes(image);
    auto same = [&] {
        CImgBuff copy;
        kvtest::RandomImage(copy, 40, 30, kImgRgb8, 3);
        host.RunChain(&copy, 0);
        return kvtest::Bytes(copy) == before;
    };
    // "mirror" alone, with no rectangle applied.
    zoom->mirrorBox.checked = 1;
    zoom->mirrorBox.callback(&zoom->mirrorBox, zoom->mirrorBox.data);
    EXPECT_TRUE(same());
    CLfAtrans::Applied ap = zoom->Get();
    ap.enable = 1;
    ap.a = {2, 2};
    ap.b = {30, 20};
    ap.sizeW = 40;
    ap.sizeH = 30;
    ASSERT_TRUE(CLfAtrans::TransformFromDiagonal(40, 30, ap.a, ap.b, &ap.transform));
    zoom->Set(ap);
    EXPECT_FALSE(same());
    zoom->SetInputArea(true);  // the area is being edited: unzoomed
    EXPECT_TRUE(same());
    zoom->SetInputArea(false);
    zoom->CImgFilter::enabled = 0;
    EXPECT_TRUE(same());
    zoom->CImgFilter::enabled = 1;
    tag->enabled = 0;  // a tag switched off skips the filters after it
    EXPECT_TRUE(same());
    tag->enabled = 1;
    // Enabled with a scale of 0 (a list whose diagonal gives no transform).
    ap.transform = {};
    zoom->Set(ap);
    EXPECT_TRUE(same());
}

TEST_F(ZoomTest, SetTakesTheDrawnAreaAndAnUnusableOneChangesNothing) {
    auto* zoom = static_cast<CLfAtrans*>(host.Add(CreateLfAtrans()));
    // A first "set" whose diagonal is too short leaves the filter without a zoom.
    zoom->SetInputArea(true);
    EXPECT_EQ(zoom->setButton.enabled, 1u);
    zoom->OnLButtonDown(10, 10, 1);
    zoom->OnMouseMove(25, 25, 1);  // 21.2 pixels
    zoom->OnLButtonUp(25, 25, 1);
    zoom->ApplyArea();
    EXPECT_EQ(zoom->Get().enable, 0u);
    EXPECT_FALSE(zoom->InputArea());
    EXPECT_EQ(zoom->setButton.enabled, 0u);
    EXPECT_EQ(Saved(*zoom), L"if_enable=1;if_visible=1;mirror=0;enable=0;diagonal=0,0,0,0;");
    // A usable one is applied.
    zoom->SetInputArea(true);
    zoom->OnLButtonDown(4, 3, 0);
    zoom->OnMouseMove(24, 20, 0);
    zoom->OnLButtonUp(24, 20, 0);
    EXPECT_EQ(zoom->currentB, (Point{24, 3 + static_cast<int32_t>(20.0 / 39 * 29)}));
    zoom->ApplyArea();
    const CLfAtrans::Applied good = zoom->Get();
    EXPECT_EQ(good.enable, 1u);
    EXPECT_EQ(good.a, (Point{4, 3}));
    EXPECT_EQ(good.b, zoom->currentB);
    EXPECT_EQ(Saved(*zoom), L"if_enable=1;if_visible=1;mirror=0;enable=1;diagonal=4,3,24,17;");
    // Turning the area on again starts from the applied rectangle; an
    // unusable diagonal then keeps the zoom, its diagonal and what is saved.
    zoom->SetInputArea(true);
    EXPECT_EQ(zoom->drawn, 1u);
    EXPECT_EQ(zoom->currentA, good.a);
    zoom->OnLButtonDown(30, 20, 0);
    zoom->OnMouseMove(31, 21, 0);
    zoom->ApplyArea();
    const CLfAtrans::Applied kept = zoom->Get();
    EXPECT_EQ(kept.a, good.a);
    EXPECT_EQ(kept.b, good.b);
    EXPECT_EQ(kept.transform.scale, good.transform.scale);
    EXPECT_EQ(kept.enable, 1u);
    EXPECT_FALSE(zoom->InputArea());
    EXPECT_EQ(zoom->drag, 0u);
    EXPECT_EQ(Saved(*zoom), L"if_enable=1;if_visible=1;mirror=0;enable=1;diagonal=4,3,24,17;");
    // Turning the area on with nothing applied clears the drawing.
    Load(*zoom, {{L"enable", L"0"}, {L"diagonal", L"4,3,24,17"}});
    zoom->SetInputArea(true);
    EXPECT_EQ(zoom->drawn, 0u);
}

TEST_F(ZoomTest, MouseDragsDrawMoveAndTurnTheRectangle) {
    auto* zoom = static_cast<CLfAtrans*>(host.Add(CreateLfAtrans()));
    const struct {
        uint64_t w, h;
    } sizes[] = {{40, 30}, {30, 40}};
    for (const auto& s : sizes) {
        SCOPED_TRACE(std::to_string(s.w) + " x " + std::to_string(s.h));
        host.SetSourceFormat(s.w, s.h, 3, 1);
        zoom->SetInputArea(true);
        host.calls.clear();
        // 1: to the image's aspect; up or to the left changes nothing.
        zoom->OnLButtonDown(5, 6, 0);
        EXPECT_EQ(zoom->drag, static_cast<uint32_t>(CLfAtrans::kDrawAspect));
        zoom->OnMouseMove(3, 20, 0);
        zoom->OnMouseMove(20, 4, 0);
        EXPECT_EQ(zoom->currentB, (Point{5, 6}));
        zoom->OnMouseMove(25, 27, 0);
        const double wd = static_cast<double>(s.w), hd = static_cast<double>(s.h);
        const Point aspect = s.w >= s.h ? Point{25, 6 + static_cast<int32_t>(20 / (wd - 1) * (hd - 1))}
                                        : Point{5 + static_cast<int32_t>(21 / (hd - 1) * (wd - 1)), 27};
        EXPECT_EQ(zoom->currentB, aspect);
        ExpectCorners(*zoom, wd, hd);
        zoom->OnLButtonUp(25, 27, 0);
        EXPECT_EQ(zoom->drag, 0u);
        // 2: freely, with shift.
        zoom->OnLButtonDown(8, 9, 1);
        EXPECT_EQ(zoom->drag, static_cast<uint32_t>(CLfAtrans::kDrawFree));
        zoom->OnMouseMove(3, 28, 1);
        EXPECT_EQ(zoom->currentB, (Point{3, 28}));
        ExpectCorners(*zoom, wd, hd);
        zoom->OnMouseMove(30, 26, 1);
        zoom->OnLButtonUp(30, 26, 1);
        ExpectCorners(*zoom, wd, hd);
        // A right press farther from the centre than A is starts nothing.
        zoom->OnRButtonDown(0, 0, 0);
        EXPECT_EQ(zoom->drag, 0u);
        // 3: moving.
        zoom->OnRButtonDown(20, 18, 0);
        EXPECT_EQ(zoom->drag, static_cast<uint32_t>(CLfAtrans::kMove));
        zoom->OnMouseMove(15, 21, 0);
        EXPECT_EQ(zoom->currentA, (Point{3, 12}));
        EXPECT_EQ(zoom->currentB, (Point{25, 29}));
        ExpectCorners(*zoom, wd, hd);
        zoom->OnRButtonUp(15, 21, 0);
        // 4: turning about the centre by the pointer's turn.
        const Point m{14, 20};
        zoom->OnRButtonDown(m.x + 4, m.y, 1);
        EXPECT_EQ(zoom->drag, static_cast<uint32_t>(CLfAtrans::kTurn));
        EXPECT_EQ(zoom->pivot, m);
        zoom->OnMouseMove(m.x, m.y + 4, 1);  // a quarter turn, clockwise on the screen
        EXPECT_NEAR(zoom->currentA.x, m.x - (12 - m.y), 1);
        EXPECT_NEAR(zoom->currentA.y, m.y + (3 - m.x), 1);
        EXPECT_NEAR(zoom->currentB.x, m.x - (29 - m.y), 1);
        EXPECT_NEAR(zoom->currentB.y, m.y + (25 - m.x), 1);
        ExpectCorners(*zoom, wd, hd);
        zoom->OnRButtonUp(m.x, m.y + 4, 1);
        EXPECT_EQ(zoom->drag, 0u);
        // Each move in a drag redraws the picture; the end of a drag does not.
        EXPECT_EQ(std::count(host.calls.begin(), host.calls.end(), "Redraw"), 7);
        EXPECT_EQ(std::count(host.calls.begin(), host.calls.end(), "Refilter(0)"), 0);
        zoom->SetInputArea(false);
    }
}

TEST_F(ZoomTest, ANewImageSizeRecomputesTheTransform) {
    auto* zoom = static_cast<CLfAtrans*>(host.Add(CreateLfAtrans()));
    zoom->SetInputArea(true);
    zoom->OnLButtonDown(4, 3, 1);
    zoom->OnMouseMove(30, 22, 1);
    zoom->OnLButtonUp(30, 22, 1);
    zoom->ApplyArea();
    CImgBuff image, expect;
    kvtest::RandomImage(image, 64, 48, kImgGray8, 2);
    kvtest::RandomImage(expect, 64, 48, kImgGray8, 2);
    host.RunChain(&image, 0);
    const Expected e = ExpectedTransform(64, 48, {4, 3}, {30, 22});
    ASSERT_EQ(ImgRotateScale(&expect, e.cx, e.cy, e.angle, e.scale, 0, 1), 1);
    EXPECT_TRUE(kvtest::Bytes(image) == kvtest::Bytes(expect));
    EXPECT_EQ(zoom->Get().sizeW, 64u);
    EXPECT_NEAR(zoom->Get().transform.scale, e.scale, 1e-12);
}

TEST_F(ZoomTest, SettingsLoadsAndPointsNearTheLimits) {
    CLfAtrans zoom;
    EXPECT_EQ(Saved(zoom), L"if_enable=0;if_visible=0;mirror=0;enable=0;diagonal=0,0,0,0;");
    const struct {
        const char* name;
        std::vector<std::pair<const wchar_t*, const wchar_t*>> items;
        uint32_t enable, mirror;
        Point a, b;
    } cases[] = {
        {"round trip", {{L"mirror", L"1"}, {L"enable", L"1"}, {L"diagonal", L"4,3,24,17"}}, 1, 1, {4, 3}, {24, 17}},
        {"three values", {{L"enable", L"1"}, {L"diagonal", L"4,3,24"}}, 0, 0, {0, 0}, {0, 0}},
        {"no diagonal", {{L"enable", L"1"}}, 0, 0, {0, 0}, {0, 0}},
        {"inexact flags", {{L"mirror", L"yes"}, {L"enable", L"2"}, {L"diagonal", L"1,2,3,4"}}, 0, 0, {1, 2}, {3, 4}},
        {"beyond 32 bits", {{L"enable", L"1"}, {L"diagonal", L"-9999999999,-2147483648, 2147483647,99999999999"}},
         1, 0, {INT32_MIN, INT32_MIN}, {INT32_MAX, INT32_MAX}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CLfAtrans z;
        z.CImgFilter::width = 40;
        z.CImgFilter::height = 30;
        z.SetInputArea(true);
        Load(z, c.items);
        const CLfAtrans::Applied ap = z.Get();
        EXPECT_EQ(ap.enable, c.enable);
        EXPECT_EQ(ap.mirror, c.mirror);
        EXPECT_EQ(z.mirrorBox.checked, c.mirror);
        EXPECT_EQ(ap.a, c.a);
        EXPECT_EQ(ap.b, c.b);
        EXPECT_FALSE(z.InputArea());
        EXPECT_EQ(z.drawn, 0u);
        if (c.enable) {
            EXPECT_EQ(z.currentA, c.a);
            EXPECT_EQ(ap.sizeW, 40u);
            const Expected e = ExpectedTransform(40, 30, c.a, c.b);
            EXPECT_EQ(ap.transform.cx, e.cx);
            EXPECT_EQ(ap.transform.cy, e.cy);
            EXPECT_NEAR(ap.transform.scale, e.scale, e.scale * 1e-12);
            EXPECT_TRUE(std::isfinite(ap.transform.angle));
        }
    }
    // A loaded diagonal too short for this size zooms nothing.
    CLfAtrans z;
    z.CImgFilter::width = 40;
    z.CImgFilter::height = 30;
    Load(z, {{L"enable", L"1"}, {L"diagonal", L"1,1,5,5"}});
    EXPECT_EQ(z.Get().enable, 1u);
    EXPECT_EQ(z.Get().transform.scale, 0.0);
    // Moving and turning a rectangle at the limits saturates instead of wrapping.
    Load(z, {{L"enable", L"1"}, {L"diagonal", L"2147483000,2147483000,2147483640,2147483640"}});
    z.SetInputArea(true);
    z.OnRButtonDown(2147483320, 2147483320, 0);
    z.OnMouseMove(int64_t{2147483320} + 100000, 2147483320 - 100000, 0);
    EXPECT_EQ(z.currentB.x, INT32_MAX);
    EXPECT_EQ(z.currentA.y, 2147483000 - 100000);
    z.OnRButtonUp(0, 0, 0);
    z.OnRButtonDown(z.currentA.x, z.currentA.y, 1);
    ASSERT_EQ(z.drag, static_cast<uint32_t>(CLfAtrans::kTurn));
    // Turned far beyond the range: held at the limits (the sanitizer build
    // reports any overflow on the way).
    z.OnMouseMove(INT64_MIN, INT64_MAX, 1);
    EXPECT_EQ(z.currentB.x, INT32_MAX);
}

TEST_F(ZoomTest, PanelClicksInBothLanguages) {
    for (const wchar_t* language : {L"en", L"jp"}) {
        const bool jp = std::wstring(language) == L"jp";
        SCOPED_TRACE(jp ? "jp" : "en");
        host.SetLanguage(language);
        auto* zoom = static_cast<CLfAtrans*>(host.Add(CreateLfAtrans()));
        ASSERT_TRUE(zoom->PanelShown());
        EXPECT_EQ(zoom->CFgScreen::width, 230u);
        EXPECT_EQ(zoom->CFgScreen::height, 110u);
        EXPECT_EQ(zoom->inputAreaBox.label, jp ? L"領域指定" : L"input area");
        EXPECT_EQ(zoom->inputAreaBox.width, jp ? 85 : 120);
        EXPECT_EQ(zoom->setButton.enabled, 0u);
        host.calls.clear();
        PlatPostTestClick(zoom->window, 20, 50);  // "input area"
        kvtest::Pump();
        EXPECT_TRUE(zoom->InputArea());
        EXPECT_EQ(zoom->setButton.enabled, 1u);
        zoom->OnLButtonDown(2, 2, 0);
        zoom->OnMouseMove(35, 30, 0);
        zoom->OnLButtonUp(35, 30, 0);
        kvtest::SaveScreenshot(kvtest::CaptureFrame(*zoom, *zoom), std::string("zoom-") + (jp ? "jp" : "en"));
        PlatPostTestClick(zoom->window, 100, 85);  // "set"
        kvtest::Pump();
        EXPECT_FALSE(zoom->InputArea());
        EXPECT_EQ(zoom->inputAreaBox.checked, 0u);
        EXPECT_EQ(zoom->Get().enable, 1u);
        PlatPostTestClick(zoom->window, 20, 20);  // "mirror"
        kvtest::Pump();
        EXPECT_EQ(zoom->Get().mirror, 1u);
        EXPECT_EQ(host.calls, (std::vector<std::string>{"Refilter(0)", "Redraw", "Redraw", "Refilter(0)", "Refilter(0)"}));
    }
}

}  // namespace
