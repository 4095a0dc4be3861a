// The pieces every filter shares: settings read and written as declared,
// the 32-bit integer reading, and the numeric edit validator.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "filters/core/cfgfile.h"
#include "filters/processing/edit_commit.h"
#include "filters/processing/filter_settings.h"

namespace {

TEST(FilterSettings, IntegersReadAsThirtyTwoBitConversionsDo) {
    const struct {
        const wchar_t* text;
        int32_t signedValue;
        uint32_t unsignedValue;
    } cases[] = {
        {L"12", 12, 12},           {L"  7", 7, 7},          {L"+5", 5, 5},
        {L"-3", -3, 4294967293u},  {L"12abc", 12, 12},      {L"abc", 0, 0},
        {L"", 0, 0},               {L"2147483647", INT32_MAX, 2147483647u},
        {L"2147483648", INT32_MAX, 2147483648u},            {L"-2147483649", INT32_MIN, 2147483647u},
        {L"4294967295", INT32_MAX, UINT32_MAX},             {L"4294967296", INT32_MAX, UINT32_MAX},
        {L"99999999999999999999999", INT32_MAX, UINT32_MAX}, {L"-1", -1, UINT32_MAX},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SettingTextToInt32(c.text), c.signedValue) << std::wstring(c.text).size();
        EXPECT_EQ(SettingTextToUInt32(c.text), c.unsignedValue);
    }
}

// A filter's worth of declared settings.
struct Declared {
    CFilterSettingList list;
    CSettingFlag flag{list, L"flag", 1};
    CSetting<uint32_t> connect{list, L"connect", 8, 4, 8, SettingRule::Exact, {4, 8}};
    CSetting<int32_t> level{list, L"level", -5, -10, 10};
    CSetting<uint32_t> size{list, L"size", 3, 1, 99, SettingRule::Clamp};
    CSetting<double> gain{list, L"gain", 1.5, 0.0, 100.0};
};

TEST(FilterSettings, SavedInDeclarationOrderWithTheirDefaults) {
    Declared d;
    CCfgFile file;
    CCfgPack* pack = file.AddPack(L"test");
    d.list.Save(pack);
    std::wstring text;
    for (const CCfgItem* i = pack->firstItem; i; i = i->next) text += std::wstring(i->key) + L"=" + i->value + L";";
    EXPECT_EQ(text, L"flag=1;connect=8;level=-5;size=3;gain=1.5;");
}

TEST(FilterSettings, LoadRulesPerKind) {
    const struct {
        const wchar_t* key;
        const wchar_t* text;
        const char* expect;  // the settings after the load, as "flag connect level size gain"
    } cases[] = {
        {L"flag", L"0", "0 8 -5 3 1.5"},     {L"flag", L"1", "1 8 -5 3 1.5"},
        {L"flag", L"2", "1 8 -5 3 1.5"},     {L"flag", L" 0", "1 8 -5 3 1.5"},
        {L"connect", L"4", "1 4 -5 3 1.5"},  {L"connect", L"6", "1 8 -5 3 1.5"},
        {L"connect", L"04", "1 8 -5 3 1.5"}, {L"level", L"7", "1 8 7 3 1.5"},
        {L"level", L"11", "1 8 -5 3 1.5"},   {L"level", L"-10x", "1 8 -10 3 1.5"},
        {L"size", L"500", "1 8 -5 99 1.5"},  {L"size", L"0", "1 8 -5 1 1.5"},
        {L"size", L"-1", "1 8 -5 99 1.5"},   {L"gain", L"2.25", "1 8 -5 3 2.25"},
        {L"gain", L"1e3", "1 8 -5 3 0"},     {L"gain", L"-2", "1 8 -5 3 0"},
        {L"gain", L"101", "1 8 -5 3 1.5"},
    };
    for (const auto& c : cases) {
        Declared d;
        CCfgFile file;
        CCfgPack* pack = file.AddPack(L"test");
        pack->AddItem(c.key, c.text);
        d.list.Load(pack);
        char got[96];
        std::snprintf(got, sizeof got, "%u %u %d %u %g", d.flag.Get(), d.connect.Get(), d.level.Get(), d.size.Get(),
                      d.gain.Get());
        EXPECT_STREQ(got, c.expect) << "key " << std::string(c.key, c.key + std::wcslen(c.key));
    }
}

TEST(FilterSettings, PendingCopyAppliesOnlyWhenAsked) {
    Declared d;
    d.level.SetPending(4);
    EXPECT_EQ(d.level.Get(), -5);
    d.list.Apply();
    EXPECT_EQ(d.level.Get(), 4);
    d.level.SetPending(9);
    d.list.Revert();
    EXPECT_EQ(d.level.Pending(), 4);
    d.level.Set(2);  // a load sets both
    EXPECT_EQ(d.level.Pending(), 2);
}

TEST(EditCommit, TextsOfNumericEdits) {
    const EditNumberRule whole{};
    const EditNumberRule count{false, true, UINT64_MAX};
    const EditNumberRule real{true, false, UINT64_MAX};
    const EditNumberRule small{false, false, 4294967295u};
    const struct {
        const wchar_t* text;
        const EditNumberRule* rule;
        bool valid;
        double value;
    } cases[] = {
        {L"12", &whole, true, 12},   {L"", &whole, false, 0},     {L"abc", &whole, false, 0},
        {L"0", &whole, true, 0},     {L"0", &count, false, 0},    {L"3", &count, true, 3},
        {L".5", &real, false, 0},    {L"0.5", &real, true, 0.5},  {L"1.2.3", &real, false, 0},
        {L"1.", &real, true, 1},     {L"1.5", &whole, false, 0},  {L"-1", &whole, false, 0},
        {L" 1", &whole, false, 0},   {L"18446744073709551615", &whole, true, 18446744073709551615.0},
        {L"99999999999999999999", &whole, false, 0},  // beyond 64 bits: not a number
        {L"4294967296", &small, false, 0},           {L"4294967295", &small, true, 4294967295.0},
    };
    for (const auto& c : cases) {
        double v = -1;
        EXPECT_EQ(ParseEditNumber(c.text, *c.rule, &v), c.valid) << std::wstring(c.text).size();
        if (c.valid) {
            EXPECT_EQ(v, c.value);
        }
    }
}

}  // namespace
