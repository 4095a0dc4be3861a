// The filter base: identifier, names, common settings keys, language
// rebuild of a shown UI, calibration and the image-to-display mapping.
#include <gtest/gtest.h>

#include <string>

#include "filters/core/cfgfile.h"
#include "filters/core/imgfilter.h"
#include "support/recording_filter.h"

namespace {

class NamedFilter : public CImgFilter {
public:
    explicit NamedFilter(const wchar_t* name) : name_(name) {}
    const wchar_t* GetName(const wchar_t*) override { return name_; }
    const wchar_t* name_;
};

CFgScreen* FakeParent() { return reinterpret_cast<CFgScreen*>(0x1000); }

TEST(ImgFilter, DefaultNames) {
    CImgFilter f;
    EXPECT_STREQ(f.GetName(L"jp"), L"空");
    EXPECT_STREQ(f.GetName(L"en"), L"null");
    EXPECT_STREQ(f.GetName(L"jpn"), L"null");
    EXPECT_STREQ(f.GetName(nullptr), L"null");
    EXPECT_STREQ(f.GetId(), L"null");
}

TEST(ImgFilter, IdentifierIsLowerCasedCutAndCached) {
    NamedFilter longName(L"Very Long Filter Name With Many Words");
    EXPECT_STREQ(longName.GetId(), L"very_long_filter_name_with_many_");
    longName.name_ = L"Other";
    EXPECT_STREQ(longName.GetId(), L"very_long_filter_name_with_many_");  // never refreshed
    NamedFilter mixed(L"Process rect Ä1");
    EXPECT_STREQ(mixed.GetId(), L"process_rect_Ä1");  // only A-Z are lowered
}

TEST(ImgFilter, SaveConfigWritesCommonKeys) {
    RecordingFilter plain("f", nullptr, false), withUi("g", nullptr, true);
    plain.enabled = 1;
    withUi.visible = 1;
    CCfgPack a, b;
    plain.SaveConfig(&a);
    withUi.SaveConfig(&b);
    ASSERT_NE(a.firstItem, nullptr);
    EXPECT_STREQ(a.firstItem->key, L"if_enable");
    EXPECT_STREQ(a.firstItem->value, L"1");
    EXPECT_EQ(a.firstItem->next, nullptr);
    ASSERT_NE(b.lastItem, nullptr);
    EXPECT_STREQ(b.firstItem->value, L"0");
    EXPECT_STREQ(b.lastItem->key, L"if_visible");
    EXPECT_STREQ(b.lastItem->value, L"1");
}

TEST(ImgFilter, LoadConfigTakesOnlyExactValues) {
    const struct {
        const wchar_t* enable;
        const wchar_t* visible;
        std::vector<std::string> calls;
        uint32_t enabled, shown;
    } cases[] = {
        {L"0", nullptr, {"f.OnEnable(0)"}, 0, 1},
        {L"1", L"0", {"f.OnEnable(1)", "f.ShowUi(0)(null)"}, 1, 0},
        {L"yes", L"2", {}, 7, 1},
        {L" 1", L"1 ", {}, 7, 1},
        {nullptr, L"1", {"f.ShowUi(1)(parent)"}, 7, 1},
    };
    for (const auto& c : cases) {
        CallLog log;
        RecordingFilter f("f", &log);
        f.enabled = 7;
        f.visible = 1;
        f.uiParent = FakeParent();
        CCfgPack pack;
        pack.AddItem(L"other", L"x");
        if (c.enable) pack.AddItem(L"if_enable", c.enable);
        if (c.visible) pack.AddItem(L"if_visible", c.visible);
        pack.AddItem(L"if_enable", L"1");  // only the first item counts
        if (!c.enable) pack.lastItem->Set(nullptr, L"bad");
        f.LoadConfig(&pack);
        EXPECT_EQ(log.Take(), c.calls);
        EXPECT_EQ(f.enabled, c.enabled);
        EXPECT_EQ(f.visible, c.shown);
    }
}

TEST(ImgFilter, LoadConfigShowsWithStoredParentEvenWithoutOne) {
    CallLog log;
    RecordingFilter f("f", &log);
    CCfgPack pack;
    pack.AddItem(L"if_visible", L"1");
    f.LoadConfig(&pack);
    EXPECT_EQ(log.Take(), (std::vector<std::string>{"f.ShowUi(1)(null)"}));
}

TEST(ImgFilter, LanguageRebuildsOnlyAShownUi) {
    CallLog log;
    RecordingFilter f("f", &log, true);
    f.OnLang(L"en");
    EXPECT_EQ(log.Take(), (std::vector<std::string>{"f.OnLang(en)"}));
    f.visible = 1;
    f.uiParent = FakeParent();
    f.OnLang(L"jp");
    EXPECT_EQ(log.Take(), (std::vector<std::string>{"f.OnLang(jp)", "f.ShowUi(0)(null)", "f.ShowUi(1)(parent)"}));
    EXPECT_EQ(f.uiParent, FakeParent());
    EXPECT_EQ(f.visible, 1u);
    f.hiddenByTab = 1;  // the chain switch shows it again
    f.OnLang(L"en");
    EXPECT_EQ(log.Take(), (std::vector<std::string>{"f.OnLang(en)"}));
}

TEST(ImgFilter, SetCalibrationStoresAndForwards) {
    CallLog log;
    RecordingFilter f("f", &log);
    f.SetCalibration(0.5, -1, L"mm");
    EXPECT_EQ(f.calibScale, 0.5);
    EXPECT_EQ(f.calibAxisY, -1);
    EXPECT_STREQ(f.calibUnit, L"mm");
    f.SetCalibration(2.0, 1, nullptr);
    EXPECT_STREQ(f.calibUnit, L"");
    EXPECT_EQ(log.Take(), (std::vector<std::string>{"f.OnCalib(0.500000,-1,mm)", "f.OnCalib(2.000000,1,null)"}));
    std::wstring longUnit(300, L'u');
    f.SetCalibration(1.0, 1, longUnit.c_str());
    EXPECT_EQ(std::wstring(f.calibUnit), std::wstring(255, L'u'));
}

TEST(ImgFilter, DefaultFilterPassesValues) {
    struct Probe : CImgFilter {
        int32_t OnFilter(CImgBuff*, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t c, uint32_t b,
                         uint32_t* wf, uint32_t* cb) override {
            seen = {static_cast<int64_t>(frame), x, y, w, h, c, b};
            *wf = 3;
            *cb = 2;
            return 1;
        }
        std::vector<int64_t> seen;
    } p;
    int64_t x = 1, y = 2, w = 3, h = 4;
    uint32_t c = 8, b = 1, wf = 0, cb = 1;
    p.Filter(nullptr, 9, &x, &y, &w, &h, &c, &b, &wf, &cb);
    EXPECT_EQ(p.seen, (std::vector<int64_t>{9, 1, 2, 3, 4, 8, 1}));
    EXPECT_EQ(wf, 3u);
    EXPECT_EQ(cb, 2u);
}

TEST(ImgFilter, MapImageToView) {
    const struct {
        int32_t x, y;
        int32_t d[4], i[4];
        int32_t zoom;
        int32_t outX, outY;
    } cases[] = {
        {7, 7, {10, 20, 400, 400}, {0, 0, 99, 99}, -3, 12, 22},
        {-7, -7, {10, 20, 400, 400}, {0, 0, 99, 99}, -3, 8, 18},  // truncation toward zero
        {10, 10, {0, 0, 249, 99}, {0, 0, 99, 99}, 0, 26, 10},     // 2.5 times wide: middle of the pixel
        {10, 10, {0, 0, 249, 299}, {0, 0, 99, 99}, -1, 26, 31},
        {15, 5, {100, 50, 999, 999}, {10, 0, 99, 99}, 4, 120, 70},
        {15, 5, {100, 50, 999, 999}, {10, 0, 99, 99}, 1, 105, 55},
        {50, 50, {0, 0, 49, 49}, {0, 0, 99, 99}, 0, 25, 25},  // shrunk to fit
    };
    for (const auto& c : cases) {
        int32_t x = c.x, y = c.y;
        EXPECT_EQ(
            CImgFilter::MapImageToView(&x, &y, c.d[0], c.d[1], c.d[2], c.d[3], c.i[0], c.i[1], c.i[2], c.i[3], c.zoom),
            1);
        EXPECT_EQ(x, c.outX) << "zoom " << c.zoom;
        EXPECT_EQ(y, c.outY) << "zoom " << c.zoom;
    }
}

}  // namespace
