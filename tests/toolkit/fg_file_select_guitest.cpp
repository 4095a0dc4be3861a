// The file selection screen on the offscreen driver, over a temporary folder
// with Japanese names: the lists and the extension filter, folder moves,
// typed relative and absolute paths, the access error, the start path and
// the remembered folder, and FgSelectFile's buffer rules. Input is posted to
// the screen, or given through the modal-start hook when the screen runs its
// own loop.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/plat_messages.h"
#include "platform/utf8.h"
#include "support/testsupport.h"
#include "toolkit/fg_file_select.h"
#include "toolkit/fg_loop.h"
#include "toolkit/fg_msgbox.h"
#include "toolkit/support/file_select_answer.h"
#include "toolkit/support/ui_input.h"

namespace {

using namespace kvtest;
namespace fs = std::filesystem;

std::vector<std::wstring> Texts(const CFgUIList& l) {
    std::vector<std::wstring> out;
    for (const FgListItem& item : l.items) out.push_back(item.text);
    return out;
}

std::wstring Wide(const std::string& utf8) { return PlatUtf8ToWide(utf8.c_str()); }

void Click(CFgScreen& s, const CFgUIObj& c, int32_t dx = -1, int32_t dy = -1) {
    PlatPostTestClick(s.window, c.x + (dx < 0 ? c.width / 2 : dx), c.y + (dy < 0 ? c.height / 2 : dy));
}

// Row r of a list: rows are 14 pixels from the list's top + 1.
void ClickRow(CFgScreen& s, const CFgUIList& l, int32_t r) { Click(s, l, 20, 1 + 14 * r + 7); }

int32_t RowOf(const CFgUIList& l, const std::wstring& text) {
    for (int32_t i = 0; i < l.Count(); ++i)
        if (l.items[static_cast<size_t>(i)].text == text) return i;
    return -1;
}

class FgFileSelectTest : public testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"a.PNG", "b.jpg", "c.tif", "noext", "画像001.png", "データ.jpg"})
            std::ofstream(dir.file(name)) << "x";
        for (const char* name : {"sub", "サブ", "locked"}) fs::create_directory(dir.file(name));
        std::ofstream(dir.file("サブ/内側.png")) << "x";
        root = Wide(dir.path());
        g_LastFileDir[0] = 0;
    }
    void TearDown() override {
        chmod(dir.file("locked").c_str(), 0755);
        g_LastFileDir[0] = 0;
    }
    // Makes `locked` unreadable: without permissions, or gone when root may
    // read anything.
    void Lock() {
        if (geteuid() == 0)
            fs::remove(dir.file("locked"));
        else
            chmod(dir.file("locked").c_str(), 0);
    }
    int32_t OpenAt(CFgFileSelectScreen& s, const std::wstring& start, const wchar_t* extensions = nullptr,
                   uint64_t size = 1024) {
        FgSelectFileOptions options;
        options.startPath = start.c_str();
        options.extensions = extensions;
        return s.Open(&options, size, nullptr);
    }

    TempDir dir{"filesel"};
    std::wstring root;
};

TEST_F(FgFileSelectTest, ListsFollowTheFilterInListingOrder) {
    CFgFileSelectScreen s;
    ASSERT_EQ(OpenAt(s, root, L" png  JPG\n"), 1);
    EXPECT_EQ(s.width, 492u);
    EXPECT_EQ(s.height, 230u);
    EXPECT_STREQ(s.title, L"ファイル選択");
    EXPECT_EQ(s.currentFolder, root);
    EXPECT_EQ(Texts(s.folderList), (std::vector<std::wstring>{L".", L"..", L"locked", L"sub", L"サブ"}));
    // Extensions compare without case; c.tif and the file without one are left out.
    EXPECT_EQ(Texts(s.fileList), (std::vector<std::wstring>{L"a.PNG", L"b.jpg", L"データ.jpg", L"画像001.png"}));
    EXPECT_EQ(s.folderList.VisibleRows(), 130 / 14);
    EXPECT_EQ(s.focused, &s.nameField);
    s.Destroy();

    CFgFileSelectScreen all;
    ASSERT_EQ(OpenAt(all, root), 1);
    EXPECT_EQ(Texts(all.fileList),
              (std::vector<std::wstring>{L"a.PNG", L"b.jpg", L"c.tif", L"noext", L"データ.jpg", L"画像001.png"}));
    all.Destroy();
}

TEST_F(FgFileSelectTest, FoldersFilesAndOk) {
    CFgFileSelectScreen s;
    ASSERT_EQ(OpenAt(s, root, L"png"), 1);
    // OK with an empty name does nothing.
    Click(s, s.okButton);
    Pump();
    EXPECT_EQ(s.done, 0);
    // Into サブ, up again with "..", and "." stays.
    ClickRow(s, s.folderList, RowOf(s.folderList, L"サブ"));
    Pump();
    EXPECT_EQ(s.currentFolder, root + L"/サブ");
    EXPECT_EQ(Texts(s.fileList), std::vector<std::wstring>{L"内側.png"});
    ClickRow(s, s.folderList, 1);
    Pump();
    EXPECT_EQ(s.currentFolder, root);
    ClickRow(s, s.folderList, 0);
    Pump();
    EXPECT_EQ(s.currentFolder, root);
    // A file puts its name in the field and the path together.
    ClickRow(s, s.fileList, RowOf(s.fileList, L"画像001.png"));
    Pump();
    EXPECT_STREQ(s.nameField.GetText(), L"画像001.png");
    EXPECT_EQ(s.selectedPath, root + L"/画像001.png");
    SaveScreenshot(CaptureFrame(s, s), "file_select_japanese");
    Click(s, s.okButton);
    Pump();
    EXPECT_EQ(s.done, 1);
    EXPECT_EQ(s.result, 1u);
    s.Destroy();
}

// The name field as each repaint of the screen showed it.
class WatchedFileSelect : public CFgFileSelectScreen {
public:
    std::vector<std::wstring> shownNames;
    void DrawOverlay() override {
        const wchar_t* name = nameField.GetText();
        shownNames.push_back(name ? name : L"");
        CFgFileSelectScreen::DrawOverlay();
    }
};

// A click in the file list is shown in the name field at once: the last
// repaint after the click shows the name that OK opens.
TEST_F(FgFileSelectTest, AFileClickRepaintsTheNameField) {
    WatchedFileSelect s;
    ASSERT_EQ(OpenAt(s, root, L"png jpg"), 1);
    Pump();
    for (const wchar_t* name : {L"b.jpg", L"a.PNG"}) {
        s.shownNames.clear();
        ClickRow(s, s.fileList, RowOf(s.fileList, name));
        Pump();
        EXPECT_EQ(s.selectedPath, root + L"/" + name);
        ASSERT_FALSE(s.shownNames.empty());
        EXPECT_EQ(s.shownNames.back(), name);
    }
    s.Destroy();
}

// Records, shoots and answers every message box while it lives.
class MessageBoxWatch {
public:
    MessageBoxWatch() { previous_ = FgSetModalStartHook(&MessageBoxWatch::Hook, this); }
    ~MessageBoxWatch() { FgSetModalStartHook(previous_, nullptr); }
    std::vector<std::wstring> messages;
    PlatFrame first;

private:
    static void Hook(CFgScreen* screen, void* user) {
        auto* self = static_cast<MessageBoxWatch*>(user);
        auto* box = dynamic_cast<CMsgboxScreen*>(screen);
        if (!box) return;
        self->messages.push_back(box->layout.lines.empty() ? L"" : box->layout.lines[0].text);
        if (self->first.width == 0) self->first = CaptureFrame(*box, *box);
        PostKey(box->window, kVkReturn);  // one button: Enter chooses it
    }
    FgModalStartHook previous_ = nullptr;
};

TEST_F(FgFileSelectTest, AnUnreadableFolderKeepsThePreviousOne) {
    MessageBoxWatch watch;
    CFgFileSelectScreen s;
    ASSERT_EQ(OpenAt(s, root), 1);
    const std::vector<std::wstring> files = Texts(s.fileList);
    Lock();
    ClickRow(s, s.folderList, RowOf(s.folderList, L"locked"));
    Pump();
    EXPECT_EQ(watch.messages, std::vector<std::wstring>{L"アクセスできません"});
    EXPECT_EQ(s.currentFolder, root);
    EXPECT_EQ(Texts(s.fileList), files);
    ASSERT_GT(watch.first.width, 0);
    SaveScreenshot(watch.first, "file_select_access_error");
    // A typed path into a folder that cannot be listed keeps folder and path.
    s.nameField.SetLineText(0, L"x.png");
    const std::wstring before = s.selectedPath;
    s.nameField.SetLineText(0, L"nosuch/z.png");
    EXPECT_EQ(s.currentFolder, root);
    EXPECT_EQ(s.selectedPath, before);
    EXPECT_EQ(watch.messages.size(), 2u);
    s.Destroy();
}

TEST_F(FgFileSelectTest, TypedPathsMoveToTheirFolder) {
    CFgFileSelectScreen s;
    ASSERT_EQ(OpenAt(s, root), 1);
    const struct {
        std::wstring typed;
        std::wstring folder;
        const wchar_t* field;
    } steps[] = {
        // Typed character by character: each '/' resolves the text so far.
        // A relative path: its folder becomes current, the name stays.
        {L"sub/x.png", root + L"/sub", L"x.png"},
        // A path naming a folder: that folder, and an empty field.
        {L"../サブ/", root + L"/サブ", L""},
        {L"../", root, L""},
        // An absolute path, typed or pasted character by character.
        {root + L"/sub/new.png", root + L"/sub", L"new.png"},
        {L"/", L"/", L""},
        {root + L"/データ.jpg", root, L"データ.jpg"},
    };
    for (const auto& step : steps) {
        s.nameField.Clear();
        PostText(s.window, step.typed);
        Pump();
        EXPECT_EQ(s.currentFolder, step.folder);
        EXPECT_STREQ(s.nameField.GetText(), step.field);
        const std::wstring expected = step.field[0] ? (step.folder == L"/" ? L"/" : step.folder + L"/") + step.field
                                                    : step.folder;
        EXPECT_EQ(s.selectedPath, expected);
    }
    // Pasting works the same way, ending with the name after the last '/'.
    ASSERT_EQ(CFgScreen::SetClipboardText((root + L"/サブ/貼り付け.png").c_str()), 1);
    s.nameField.Clear();
    PostCtrlLetter(s.window, 'v');
    Pump();
    EXPECT_EQ(s.currentFolder, root + L"/サブ");
    EXPECT_STREQ(s.nameField.GetText(), L"貼り付け.png");
    Click(s, s.okButton);
    Pump();
    EXPECT_EQ(s.result, 1u);
    EXPECT_EQ(s.selectedPath, root + L"/サブ/貼り付け.png");
    s.Destroy();
}

TEST_F(FgFileSelectTest, StartPathAndTheRememberedFolder) {
    ModalAnswers answers({L"new.png", L"", root + L"/サブ/内側.png", L"b.jpg"});
    wchar_t path[1024] = L"unchanged";
    // A start path naming a missing file opens its folder with the name in the field.
    FgSelectFileOptions options;
    const std::wstring start = root + L"/new.png";
    options.startPath = start.c_str();
    options.title = L"保存するファイル名を選択";
    ASSERT_EQ(FgSelectFile(path, 1024, &options, nullptr), 1);
    EXPECT_EQ(answers.startFolders.back(), root);
    EXPECT_EQ(answers.startNames.back(), L"new.png");
    EXPECT_EQ(std::wstring(path), root + L"/new.png");
    EXPECT_EQ(std::wstring(g_LastFileDir), root);
    // The next call opens the last folder; cancelling changes nothing.
    EXPECT_EQ(FgSelectFile(path, 1024, nullptr, nullptr), 0);
    EXPECT_EQ(answers.startFolders.back(), root);
    EXPECT_EQ(std::wstring(path), root + L"/new.png");
    // An answer in another folder moves the remembered folder there.
    ASSERT_EQ(FgSelectFile(path, 1024, nullptr, nullptr), 1);
    EXPECT_EQ(std::wstring(path), root + L"/サブ/内側.png");
    EXPECT_EQ(std::wstring(g_LastFileDir), root + L"/サブ");
    ASSERT_EQ(FgSelectFile(path, 1024, nullptr, nullptr), 1);
    EXPECT_EQ(answers.startFolders.back(), root + L"/サブ");
    EXPECT_EQ(std::wstring(path), root + L"/サブ/b.jpg");
    EXPECT_TRUE(answers.messages.empty());
}

TEST_F(FgFileSelectTest, ThePathMustFitTheBuffer) {
    wchar_t path[8] = L"keep";
    {
        ModalAnswers answers({L"b.jpg"});
        EXPECT_EQ(FgSelectFile(path, 0, nullptr, nullptr), 0);
        EXPECT_TRUE(answers.startFolders.empty()) << "no screen for a buffer of size 0";
        EXPECT_STREQ(path, L"keep");
    }
    // A path longer than size - 1 cannot be chosen: OK does nothing, the
    // close box then ends the screen.
    CFgFileSelectScreen s;
    ASSERT_EQ(OpenAt(s, root, nullptr, 8), 1);
    EXPECT_EQ(s.limit, 7u);
    s.nameField.SetLineText(0, L"b.jpg");
    Click(s, s.okButton);
    Pump();
    EXPECT_EQ(s.done, 0);
    PlatPostMessage(s.window, kPlatMsgClose);
    Pump();
    EXPECT_EQ(s.done, 1);
    EXPECT_EQ(s.result, 0u);
    EXPECT_EQ(s.window, 0u);
    // Relative to the root a short path fits.
    CFgFileSelectScreen r;
    ASSERT_EQ(OpenAt(r, L"/x.png", nullptr, 8), 1);
    EXPECT_EQ(r.currentFolder, L"/");
    EXPECT_EQ(r.selectedPath, L"/x.png");
    Click(r, r.okButton);
    Pump();
    EXPECT_EQ(r.result, 1u);
    r.Destroy();
}

TEST(FgLastFileDir, NormalisedWithoutTrailingSlash) {
    const struct {
        std::wstring in;
        std::wstring out;
    } cases[] = {
        {L"/data/", L"/data"},
        {L"/", L"/"},
        {L"/a/./b/../c", L"/a/c"},
        {L"", L""},
        {L"/" + std::wstring(2000, L'x'), L"/" + std::wstring(1022, L'x')},
    };
    for (const auto& c : cases) {
        FgSetLastFileDir(c.in.c_str());
        EXPECT_EQ(std::wstring(g_LastFileDir), c.out);
    }
    FgSetLastFileDir(nullptr);
    EXPECT_EQ(g_LastFileDir[0], L'\0');
}

}  // namespace
