// The settings text: writing, reading back, tolerant reading of hand-edited
// files and the in-memory lists.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "filters/core/cfgfile.h"
#include "filters/core/textconv.h"
#include "support/testsupport.h"

namespace {

using Section = std::pair<std::wstring, std::vector<std::pair<std::wstring, std::wstring>>>;

std::vector<Section> Sections(const CCfgFile& file) {
    std::vector<Section> out;
    for (const CCfgPack* p = file.firstPack; p; p = p->next) {
        Section s{p->name, {}};
        for (const CCfgItem* i = p->firstItem; i; i = i->next) s.second.emplace_back(i->key, i->value);
        out.push_back(std::move(s));
    }
    return out;
}

std::wstring PathOf(const std::string& path) {
    wchar_t* wide = Utf8ToWide(path.c_str());
    std::wstring out = wide ? wide : L"";
    std::free(wide);
    return out;
}

// Writes every section with CCfgPack::Write as the program does.
bool WriteAll(const CCfgFile& file, const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = true;
    for (const CCfgPack* p = file.firstPack; p && ok; p = p->next) ok = p->Write(f) == 1;
    std::fclose(f);
    return ok;
}

std::vector<Section> LoadText(const std::string& text, int32_t* result = nullptr) {
    kvtest::TempDir dir("cfg");
    std::string path = dir.file("t.cfg");
    EXPECT_TRUE(kvtest::WriteFileBytes(path, text));
    CCfgFile file;
    int32_t ok = file.Load(PathOf(path).c_str());
    if (result) *result = ok;
    return Sections(file);
}

TEST(CfgFile, WriteThenLoadRoundTrip) {
    kvtest::TempDir dir("cfg");
    const std::string path = dir.file("ラウンド.cfg");  // UTF-8 file name
    const std::wstring longValue(20000, L'x');
    CCfgFile out;
    CCfgPack* a = out.AddPack(L"setting");
    ASSERT_NE(a, nullptr);
    a->AddItem(L"scale", L"0.5");
    a->AddItem(L"unit", L"mm 単位 with  blanks");
    a->AddItem(L"キー", L"値");
    a->AddItem(L"list", L"1,2,,3");
    a->AddItem(L"long", longValue.c_str());
    ASSERT_NE(out.AddPack(L"empty"), nullptr);
    // A plug-in filter's section is named by its module path, of any length.
    const std::wstring modulePath = L"/opt/" + std::wstring(300, L'd') + L"/プラグイン/filter.wfm";
    CCfgPack* m = out.AddPack(modulePath.c_str());
    ASSERT_NE(m, nullptr);
    m->AddItem(L"if_enable", L"1");
    CCfgPack* c = out.AddPack(L"a b");
    c->AddItem(L"k", L"v");
    c->AddItem(L"k", L"w");
    ASSERT_TRUE(WriteAll(out, path));

    CCfgFile in;
    ASSERT_EQ(in.Load(PathOf(path).c_str()), 1);
    EXPECT_EQ(Sections(in), Sections(out));
    EXPECT_EQ(in.lastPack->name, std::wstring(L"a b"));
    EXPECT_EQ(in.lastPack->prev->name, modulePath);
    EXPECT_EQ(in.lastPack->prev->prev->prev, in.firstPack);
}

TEST(CfgFile, WriterProducesExactLines) {
    kvtest::TempDir dir("cfg");
    CCfgFile file;
    CCfgPack* p = file.AddPack(L"filter");
    p->AddItem(L"if_enable", L"1");
    p->AddItem(L"名前", L"é");
    file.AddPack(L"none");
    ASSERT_TRUE(WriteAll(file, dir.file("w.cfg")));
    EXPECT_EQ(kvtest::ReadFileBytes(dir.file("w.cfg")),
              "[filter] {\n if_enable 1\n \xE5\x90\x8D\xE5\x89\x8D \xC3\xA9\n}\n[none] {\n}\n");
}

TEST(CfgFile, WriteRefusesWhatItCannotStore) {
    kvtest::TempDir dir("cfg");
    FILE* f = std::fopen(dir.file("x.cfg").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    CCfgPack unnamed;
    EXPECT_EQ(unnamed.Write(f), 0);
    CCfgPack bad;
    bad.SetName(L"bad");
    const wchar_t surrogate[] = {static_cast<wchar_t>(0xDC00), 0};
    bad.AddItem(L"k", surrogate);
    EXPECT_EQ(bad.Write(f), 0);
    EXPECT_EQ(bad.Write(nullptr), 0);
    std::fclose(f);
}

// A line break inside a name, key or value would read back as lines of their
// own (a file name with a line feed could open a forged section): such a
// section is refused whole, and what the file held before stays as it was.
TEST(CfgFile, WriteRefusesLineBreaksInsideALine) {
    const struct {
        const wchar_t* name;
        const wchar_t* key;
        const wchar_t* value;
    } cases[] = {
        {L"main", L"last_dir", L"/home/u/odd\n}\n[evil] {\n scale 9"},
        {L"main", L"last_dir", L"/home/u/odd\rname"},
        {L"main", L"last\ndir", L"1"},
        {L"main", L"last_dir\r", L"1"},
        {L"ma\nin", L"last_dir", L"1"},
    };
    for (const auto& c : cases) {
        kvtest::TempDir dir("cfg");
        const std::string path = dir.file("x.cfg");
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        CCfgPack good;
        good.SetName(L"good");
        good.AddItem(L"k", L"v");
        EXPECT_EQ(good.Write(f), 1);
        CCfgPack bad;
        bad.SetName(c.name);
        bad.AddItem(L"scale", L"1");
        bad.AddItem(c.key, c.value);
        EXPECT_EQ(bad.Write(f), 0) << static_cast<int>(&c - cases);
        std::fclose(f);
        EXPECT_EQ(kvtest::ReadFileBytes(path), "[good] {\n k v\n}\n") << static_cast<int>(&c - cases);
    }
}

// A file that starts with a UTF-8 byte-order mark keeps its first section;
// a mark anywhere else is text.
TEST(CfgFile, ReadSkipsALeadingByteOrderMark) {
    auto s = LoadText("\xEF\xBB\xBF[first] {\r\n a 1\r\n}\r\n[second] {\n \xEF\xBB\xBF 2\n}\n");
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0].first, L"first");
    ASSERT_EQ(s[0].second.size(), 1u);
    EXPECT_EQ(s[0].second[0], std::make_pair(std::wstring(L"a"), std::wstring(L"1")));
    ASSERT_EQ(s[1].second.size(), 1u);
    EXPECT_EQ(s[1].second[0].first, L"\xFEFF");
    EXPECT_EQ(LoadText("\xEF\xBB\xBF").size(), 0u);
}

TEST(CfgFile, ReadsCrLfAndLinesOfAnyLength) {
    const std::string longValue(10000, 'v');
    int32_t ok = 0;
    auto s = LoadText("[crlf] {\r\n a 1\r\n long " + longValue + "\r\n}\r\n[next] {\r\n b 2\r\n}", &ok);
    EXPECT_EQ(ok, 1);
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0].first, L"crlf");
    ASSERT_EQ(s[0].second.size(), 2u);
    EXPECT_EQ(s[0].second[0].second, L"1");
    EXPECT_EQ(s[0].second[1].second, std::wstring(longValue.begin(), longValue.end()));
    EXPECT_EQ(s[1].second.size(), 1u);
}

TEST(CfgFile, HeaderForms) {
    const struct {
        const char* header;
        const wchar_t* name;  // null: no header
    } cases[] = {
        {"  [hdr]\t\t{  ", L"hdr"},
        {"[a b] {", L"a b"},
        {"[a  b]  {", nullptr},  // only the first run of blanks is joined
        {"[x] {x", nullptr},
        {"[x]{", nullptr},
        {"[x] { ", L"x"},
        {"x] {", nullptr},
        {"[12345678901234567890123456789012] {", L"12345678901234567890123456789012"},
        {"[123456789012345678901234567890123] {", L"123456789012345678901234567890123"},
    };
    for (const auto& c : cases) {
        auto s = LoadText(std::string(c.header) + "\n k v\n}\n");
        if (!c.name) {
            EXPECT_TRUE(s.empty()) << c.header;
        } else {
            ASSERT_EQ(s.size(), 1u) << c.header;
            EXPECT_EQ(s[0].first, c.name);
            EXPECT_EQ(s[0].second.size(), 1u);
        }
    }
}

// A header whose name is empty is skipped with its lines and the reading
// goes on (the empty name used to end the reading silently); a long name is
// a name like any other.
TEST(CfgFile, EmptyNamesSkipTheirSectionOnly) {
    int32_t ok = 0;
    const std::string longName(5000, 'n');
    auto s = LoadText(
        "[" + longName + "] {\n long 1\n}\n"
        "[] {\n lost 2\n}\n"
        "[kept] {\n k v\n}\n",
        &ok);
    EXPECT_EQ(ok, 1);
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0].first, std::wstring(longName.begin(), longName.end()));
    EXPECT_EQ(s[0].second, (std::vector<std::pair<std::wstring, std::wstring>>{{L"long", L"1"}}));
    EXPECT_EQ(s[1].first, L"kept");
    EXPECT_EQ(s[1].second, (std::vector<std::pair<std::wstring, std::wstring>>{{L"k", L"v"}}));
}

TEST(CfgFile, ItemLines) {
    auto s = LoadText(
        "outside the section\n"
        "[s] {\n"
        " key    a  b\n"
        "keyonly\n"
        "keyonly   \n"
        "\n"
        "\tdup 1\n"
        " dup 2\n"
        " bad \xC3\x28 utf8\n"
        " tab\t\tvalue\twith tab\n"
        " }\n"
        "after end\n"
        "[open] {\n"
        " last 1");
    ASSERT_EQ(s.size(), 2u);
    const std::vector<std::pair<std::wstring, std::wstring>> items = {
        {L"key", L"a  b"}, {L"dup", L"1"}, {L"dup", L"2"}, {L"tab", L"value\twith tab"}};
    EXPECT_EQ(s[0].second, items);
    EXPECT_EQ(s[1].first, L"open");  // the missing last "}" is tolerated
    EXPECT_EQ(s[1].second.size(), 1u);
}

TEST(CfgFile, LoadFailsForMissingFile) {
    CCfgFile file;
    EXPECT_EQ(file.Load(L"/nonexistent/folder/none.cfg"), 0);
    EXPECT_EQ(file.Load(nullptr), 0);
    EXPECT_EQ(file.firstPack, nullptr);
}

TEST(CfgFile, ValueList) {
    CCfgPack p;
    CCfgItem* item = p.AddItem(L"list", L"1,2,,3");
    const wchar_t* t = item->GetValueList();
    std::vector<std::wstring> tokens;
    for (; t <= item->listEnd; t += std::wcslen(t) + 1) tokens.emplace_back(t);
    EXPECT_EQ(tokens, (std::vector<std::wstring>{L"1", L"2", L"", L"3"}));
    EXPECT_EQ(item->GetValueList(), item->listCopy);  // reused
    ASSERT_EQ(item->Set(nullptr, L"a, b"), 1);
    EXPECT_EQ(item->listCopy, nullptr);
    EXPECT_STREQ(item->GetValueList(), L"a");
    EXPECT_STREQ(item->GetValueList() + 2, L" b");
    EXPECT_STREQ(item->key, L"list");
}

TEST(CfgFile, ItemSetRules) {
    CCfgItem free;
    EXPECT_EQ(free.Set(nullptr, L"v"), 0);  // no key yet
    EXPECT_EQ(free.Set(L"k", nullptr), 0);
    EXPECT_EQ(free.Set(L"k", L"v"), 1);
    EXPECT_EQ(free.Set(L"k2", L"v2"), 1);
    EXPECT_STREQ(free.key, L"k2");
    EXPECT_STREQ(free.value, L"v2");
}

TEST(CfgFile, NamesAndUnlinking) {
    CCfgFile file;
    EXPECT_EQ(file.AddPack(L""), nullptr);
    CCfgPack* longName = file.AddPack(L"123456789012345678901234567890123");
    ASSERT_NE(longName, nullptr);
    EXPECT_STREQ(longName->name, L"123456789012345678901234567890123");
    delete longName;
    CCfgPack* a = file.AddPack(L"a");
    CCfgPack* b = file.AddPack(L"b");
    CCfgPack* c = file.AddPack(L"c");
    b->AddItem(L"1", L"x");
    CCfgItem* mid = b->AddItem(L"2", L"y");
    b->AddItem(L"3", L"z");
    delete mid;
    EXPECT_STREQ(b->firstItem->next->key, L"3");
    EXPECT_EQ(b->lastItem->prev, b->firstItem);
    EXPECT_EQ(b->SetName(L""), 0);
    EXPECT_STREQ(b->name, L"b");
    EXPECT_EQ(b->SetName(L"renamed"), 1);  // clears the items
    EXPECT_EQ(b->firstItem, nullptr);
    delete b;
    EXPECT_EQ(a->next, c);
    EXPECT_EQ(c->prev, a);
    delete a;
    EXPECT_EQ(file.firstPack, c);
    delete c;
    EXPECT_EQ(file.firstPack, nullptr);
    EXPECT_EQ(file.lastPack, nullptr);
}

TEST(CfgFile, LineHelpers) {
    const struct {
        const wchar_t* in;
        int32_t trim;
        const wchar_t* trimmed;
        int32_t norm;
        const wchar_t* normalized;
    } cases[] = {
        {L"  a \t b  c \n", 1, L"a \t b  c", 1, L"a b  c"},
        {L" \t\n ", 0, L"", 0, L""},
        {L"word\r", 1, L"word\r", 0, L"word\r"},  // a CR is no blank
        {L"k\tv", 1, L"k\tv", 1, L"k v"},
    };
    for (const auto& c : cases) {
        std::wstring t = c.in, n = c.in;
        EXPECT_EQ(TrimCfgBlanks(t.data()), c.trim);
        EXPECT_STREQ(t.c_str(), c.trimmed);
        EXPECT_EQ(NormalizeCfgLine(n.data()), c.norm);
        if (c.norm) {
            EXPECT_STREQ(n.c_str(), c.normalized);
        }
    }
    EXPECT_EQ(TrimCfgBlanks(nullptr), 0);
}

// Saved through a symbolic link, the file it names gets the text and the
// link stays.
TEST(CfgFileSave, ThroughALinkTheFileIsReplacedAndTheLinkStays) {
    kvtest::TempDir dir("cfg");
    kvtest::WriteFileBytes(dir.file("real.cfg"), "[old]\n");
    std::filesystem::create_symlink("real.cfg", dir.file("korvane.cfg"));
    CCfgFile cfg;
    CCfgPack* pack = cfg.AddPack(L"main");
    ASSERT_NE(pack, nullptr);
    pack->AddItem(L"key", L"value");
    ASSERT_EQ(cfg.Save(PathOf(dir.file("korvane.cfg")).c_str()), 1);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("korvane.cfg")));
    EXPECT_NE(kvtest::ReadFileBytes(dir.file("real.cfg")).find("key"), std::string::npos);
}

}  // namespace
