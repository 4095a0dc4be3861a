#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/testsupport.h"

namespace {

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

TEST(FgPath, AppendRespectsSeparatorAndCapacity) {
    struct Case {
        const wchar_t* path;
        const wchar_t* name;
        const wchar_t* want;
    } cases[] = {
        {L"/usr", L"lib", L"/usr/lib"},
        {L"/usr/", L"lib", L"/usr/lib"},
        {L"/", L"etc", L"/etc"},
        {L"", L"name", L"name"},  // a relative name stays relative
        {L"a", L"", L"a"},
        {L"a", nullptr, L"a"},
    };
    for (const Case& c : cases) {
        wchar_t buf[64];
        std::wcscpy(buf, c.path);
        EXPECT_EQ(FgPathAppend(buf, 64, c.name), buf);
        EXPECT_STREQ(buf, c.want) << c.path;
    }
    // "abc" + "/" + "de" + terminator needs 7 characters.
    wchar_t small[7] = L"abc";
    EXPECT_EQ(FgPathAppend(small, 6, L"de"), nullptr);
    EXPECT_STREQ(small, L"abc");
    EXPECT_EQ(FgPathAppend(small, 7, L"de"), small);
    EXPECT_STREQ(small, L"abc/de");
}

TEST(FgPath, RemoveFileSpecAndFindFileName) {
    struct Case {
        const wchar_t* path;
        const wchar_t* folder;
        const wchar_t* name;  // null: FgPathFindFileName gives null
    } cases[] = {
        {L"/home/user/a.png", L"/home/user", L"a.png"},
        {L"/korvane", L"/", L"korvane"},  // program at the root keeps "/"
        {L"/", L"/", L""},
        {L"dir/", L"dir", L""},
        {L"file.txt", L"file.txt", L"file.txt"},
        {L"", L"", nullptr},
    };
    for (const Case& c : cases) {
        wchar_t buf[64];
        std::wcscpy(buf, c.path);
        EXPECT_STREQ(FgPathRemoveFileSpec(buf), c.folder) << c.path;
        const wchar_t* name = FgPathFindFileName(c.path);
        if (c.name) {
            ASSERT_NE(name, nullptr) << c.path;
            EXPECT_STREQ(name, c.name);
            EXPECT_GE(name, c.path);  // points into the path itself
        } else {
            EXPECT_EQ(name, nullptr);
        }
    }
    EXPECT_EQ(FgPathFindFileName(nullptr), nullptr);
}

TEST(FgPath, Normalize) {
    struct Case {
        const wchar_t* path;
        const wchar_t* want;
    } cases[] = {
        {L"a/./b/../c", L"a/c"},
        {L"/x/a/./b/../c", L"/x/a/c"},
        {L"/a/../..", L"/"},       // cannot climb above the root
        {L"/..", L"/"},
        {L"../a", L"../a"},        // a relative path keeps what it cannot resolve
        {L"a/../../b", L"../b"},
        {L"../../a/..", L"../.."},
        {L"a//b/", L"a/b"},
        {L"./", L""},
        {L"/", L"/"},
        {L"", L""},
    };
    for (const Case& c : cases) {
        wchar_t buf[64];
        std::wcscpy(buf, c.path);
        EXPECT_EQ(FgPathNormalize(buf), buf);
        EXPECT_STREQ(buf, c.want) << c.path;
    }
}

struct Listed {
    std::wstring name;
    int32_t isFolder;
    bool operator==(const Listed&) const = default;
};

// The listing as records; the names form of the same listing must agree.
std::optional<std::vector<Listed>> List(const std::string& folder) {
    std::vector<FgDirName> names;
    const bool listed = FgListDirectoryNames(Widen(folder).c_str(), &names);
    std::vector<Listed> byName;
    for (const FgDirName& n : names) byName.push_back({n.name, n.isFolder});
    uint64_t count = 12345;
    FgDirEntry* entries = FgListDirectory(Widen(folder).c_str(), &count);
    if (!entries) {
        EXPECT_EQ(count, 0u);
        EXPECT_FALSE(listed && !names.empty());
        return std::nullopt;
    }
    std::vector<Listed> out;
    for (uint64_t i = 0; i < count; ++i) out.push_back({entries[i].name, entries[i].isFolder});
    std::free(entries);
    EXPECT_TRUE(listed);
    EXPECT_EQ(byName, out);
    return out;
}

TEST(FgListDirectory, DotsFirstThenByCode) {
    kvtest::TempDir dir("listing");
    for (const char* f : {"b", "B", "a", "_x", "\xC3\xA9t\xC3\xA9", "\xE6\x97\xA5"}) kvtest::WriteFileBytes(dir.file(f), "x");
    ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.file("Zed").c_str(), 0755), 0);
    ASSERT_EQ(symlink("sub", dir.file("link").c_str()), 0);  // a link to a folder is a folder

    auto got = List(dir.path());
    ASSERT_TRUE(got.has_value());
    const std::vector<Listed> want = {
        {L".", 1}, {L"..", 1}, {L"B", 0},  {L"Zed", 1},        {L"_x", 0},     {L"a", 0},
        {L"b", 0}, {L"link", 1}, {L"sub", 1}, {L"\u00E9t\u00E9", 0}, {L"\u65E5", 0},
    };
    EXPECT_EQ(*got, want);
    EXPECT_EQ(FgDirectoryExists(Widen(dir.path()).c_str()), 1);
}

// Characters beyond U+FFFF sort as their surrogate pairs do: after U+D7FF,
// before U+E000. Names that are not UTF-8 would all show as U+FFFD and
// could not be opened again: they are left out.
TEST(FgListDirectory, Utf16OrderAndNoUndecodableNames) {
    kvtest::TempDir dir("order");
    for (const char* f : {"\xEF\xBC\xA1", "\xF0\x9F\x98\x80", "\xEE\x80\x80", "z", "\xED\x9F\xBF",
                          "bad\xFF", "bad\xFE", "\xC0\xAF", "\xF0\x9F\x98"})
        ASSERT_TRUE(kvtest::WriteFileBytes(dir.file(f), "x")) << f;
    auto got = List(dir.path());
    ASSERT_TRUE(got.has_value());
    const std::vector<Listed> want = {{L".", 1},           {L"..", 1},     {L"z", 0},     {L"\uD7FF", 0},
                                      {L"\U0001F600", 0}, {L"\uE000", 0}, {L"\uFF21", 0}};
    EXPECT_EQ(*got, want);
}

TEST(FgListDirectory, EmptyAndMissingFolders) {
    kvtest::TempDir dir("empty");
    auto got = List(dir.path());
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(*got, (std::vector<Listed>{{L".", 1}, {L"..", 1}}));

    EXPECT_FALSE(List(dir.file("missing")).has_value());
    EXPECT_EQ(FgDirectoryExists(Widen(dir.file("missing")).c_str()), 0);
    kvtest::WriteFileBytes(dir.file("plain"), "x");
    EXPECT_FALSE(List(dir.file("plain")).has_value());
    EXPECT_EQ(FgDirectoryExists(Widen(dir.file("plain")).c_str()), 0);
    uint64_t count = 7;
    EXPECT_EQ(FgListDirectory(nullptr, &count), nullptr);
    EXPECT_EQ(count, 0u);
}

TEST(FgFolders, ExeDirIsTheFolderOfTheTestProgram) {
    // The test programs are built into <build>/bin.
    const std::filesystem::path expected = std::filesystem::canonical(std::string(KV_BINARY_DIR) + "/bin");
    EXPECT_EQ(std::wstring(FgGetExeDir()), expected.wstring());
}

// Sets or clears environment variables for one test and restores them.
class EnvGuard {
public:
    void Set(const char* name, const char* value) {
        Remember(name);
        if (value) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~EnvGuard() {
        for (auto& [name, value] : saved_) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
    }

private:
    void Remember(const char* name) {
        for (auto& s : saved_)
            if (s.first == name) return;
        const char* v = std::getenv(name);
        saved_.push_back({name, v ? std::optional<std::string>(v) : std::nullopt});
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(FgFolders, DocumentsDirFollowsTheXdgRules) {
    kvtest::TempDir dir("docs");
    const std::string home = dir.file("home");
    const std::string config = dir.file("config");
    std::filesystem::create_directories(home);
    std::filesystem::create_directories(config);
    EnvGuard env;
    env.Set("HOME", home.c_str());
    env.Set("XDG_CONFIG_HOME", config.c_str());
    env.Set("XDG_DOCUMENTS_DIR", nullptr);

    // Nothing configured and no Documents folder: the home folder.
    EXPECT_EQ(std::wstring(FgGetDocumentsDir()), Widen(home));
    // $HOME/Documents once it exists.
    std::filesystem::create_directories(home + "/Documents");
    EXPECT_EQ(std::wstring(FgGetDocumentsDir()), Widen(home + "/Documents"));
    // user-dirs.dirs with $HOME expanded; comments and other keys ignored.
    kvtest::WriteFileBytes(config + "/user-dirs.dirs",
                           "# written by xdg-user-dirs-update\n"
                           "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                           "XDG_DOCUMENTS_DIR=\"$HOME/Papers/\"\r\n");
    EXPECT_EQ(std::wstring(FgGetDocumentsDir()), Widen(home + "/Papers"));
    kvtest::WriteFileBytes(config + "/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"/srv/shared docs\"\n");
    EXPECT_EQ(std::wstring(FgGetDocumentsDir()), L"/srv/shared docs");
    // A relative entry is not usable: back to $HOME/Documents.
    kvtest::WriteFileBytes(config + "/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"Documents\"\n");
    EXPECT_EQ(std::wstring(FgGetDocumentsDir()), Widen(home + "/Documents"));
    // Without XDG_CONFIG_HOME the file is read from ~/.config.
    env.Set("XDG_CONFIG_HOME", nullptr);
    std::filesystem::create_directories(home + "/.config");
    kvtest::WriteFileBytes(home + "/.config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Own\"\n");
    EXPECT_EQ(std::wstring(FgGetDocumentsDir()), Widen(home + "/Own"));
    // The environment variable comes first.
    env.Set("XDG_DOCUMENTS_DIR", "/data/docs");
    EXPECT_EQ(std::wstring(FgGetDocumentsDir()), L"/data/docs");
}

TEST(FgWideToAnsi, EncodesUtf8) {
    struct Case {
        const wchar_t* text;
        const char* want;
    } cases[] = {
        {L"plain", "plain"},
        {L"", ""},
        {L"\u00E9\u65E5\u672C", "\xC3\xA9\xE6\x97\xA5\xE6\x9C\xAC"},
        {L"\U0001D11E", "\xF0\x9D\x84\x9E"},
    };
    for (const Case& c : cases) {
        char* s = FgWideToAnsi(c.text);
        ASSERT_NE(s, nullptr);
        EXPECT_STREQ(s, c.want);
        std::free(s);
    }
    // Not a scalar value: replaced, not dropped.
    const wchar_t bad[] = {L'a', static_cast<wchar_t>(0xD800), L'b', 0};
    char* s = FgWideToAnsi(bad);
    EXPECT_STREQ(s, "a\xEF\xBF\xBD" "b");
    std::free(s);
    EXPECT_EQ(FgWideToAnsi(nullptr), nullptr);
}

}  // namespace
