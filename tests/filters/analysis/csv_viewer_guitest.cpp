// The table window on the offscreen driver: saving by a scripted file
// selection (and cancelling it), empty cells, the quoting switch read back by
// Python's csv reader, the language switch, the layout, the place a language
// switch notes for reopening, and a screenshot.
#include "filters/analysis/csv_viewer.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/atomic_save.h"
#include "platform/utf8.h"
#include "support/testsupport.h"
#include "toolkit/support/file_select_answer.h"
#include "toolkit/support/ui_input.h"

namespace {

struct Table {
    std::vector<std::vector<const wchar_t*>> cells;
};

const wchar_t* CellText(uint64_t c, uint64_t r, int32_t*, double*, double*, double*, void* data) {
    return static_cast<Table*>(data)->cells[r][c];
}

int FolderEntries(const std::string& folder) {
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) n += entry.path().filename() != "" ? 1 : 0;
    return n;
}

class CsvViewerTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(v.Create(-1, -1, 300, 300, L"table", 1, nullptr), 1);
        kvtest::Pump();
        ASSERT_EQ(v.grid.SetSize(3, 3, 0), 1);
        ASSERT_EQ(v.grid.SetHeaderRows(1, 1, 0), 1);
        v.grid.textCallback = CellText;
        v.grid.callbackData = &table;
        table.cells = {{L"", L"x", L"y"}, {L"1", nullptr, L"2.5"}, {L"2", L"a,b", L"say \"hi\""}};
    }
    void TearDown() override { v.Destroy(); }
    CCsvViewer v;
    Table table;
};

TEST_F(CsvViewerTest, SavesBySelectionAndCancelWritesNothing) {
    kvtest::TempDir dir("csv_viewer");
    const std::string path = dir.file("table.csv");
    {
        kvtest::ModalAnswers answers({L""});
        v.SaveCsvCommand();
        EXPECT_TRUE(answers.messages.empty());
        EXPECT_TRUE(kvtest::ReadFileBytes(path).empty());
    }
    {
        // Built in Japanese: the messages are Japanese until the switch.
        kvtest::ModalAnswers answers({PlatUtf8ToWide(path.c_str())});
        v.SaveCsvCommand();
        EXPECT_EQ(answers.messages, (std::vector<std::wstring>{L"セーブしました"}));
    }
    // Unquoted by default, empty cells keep their commas.
    EXPECT_EQ(kvtest::ReadFileBytes(path), ",x,y\n1,,2.5\n2,a,b,say \"hi\"\n");
    v.SetLanguage(L"en");
    EXPECT_EQ(v.english, 1u);
    ASSERT_EQ(v.menuBar.ItemCount(), 1);
    EXPECT_EQ(v.menuBar.items[0].label, L"File");
    EXPECT_EQ(v.menuBar.items[0].menuText, L"Save CSV\t101\n");
    v.quoteFields = 1;
    {
        // The same name again: replacing it is asked first.
        kvtest::ModalAnswers answers({PlatUtf8ToWide(path.c_str())});
        v.SaveCsvCommand();
        EXPECT_EQ(answers.messages, (std::vector<std::wstring>{L"Do you want to overwrite it?", L"saved"}));
    }
    EXPECT_EQ(kvtest::ReadFileBytes(path), ",x,y\n1,,2.5\n2,\"a,b\",\"say \"\"hi\"\"\"\n");
    std::string out;
    ASSERT_EQ(kvtest::RunPython("import csv, sys\n"
                                "rows = list(csv.reader(open(sys.argv[1], encoding='utf-8', newline='')))\n"
                                "print([len(r) for r in rows], rows[2][1], rows[2][2])\n",
                                {path}, &out),
              0);
    EXPECT_EQ(out, "[3, 3, 3] a,b say \"hi\"\n");
    {
        // A device that refuses every byte: the write fails at the flush.
        kvtest::ModalAnswers answers({L"/dev/full"});
        v.SaveCsvCommand();
        ASSERT_FALSE(answers.messages.empty());
        EXPECT_EQ(answers.messages.back(), L"saving failed");
    }
    v.SetLanguage(L"jp");
    EXPECT_EQ(v.english, 0u);
    EXPECT_EQ(v.menuBar.items[0].label, L"ファイル");
    EXPECT_EQ(v.menuBar.items[0].menuText, L"CSV保存\t101\n");
}

// Saving over an existing file: the question comes first, and a "no", a
// write that fails part-way (file size limit) or a rename that fails leaves
// every old byte; only a completed save replaces the file.
TEST_F(CsvViewerTest, ReplacingAFileAsksAndAFailedSaveKeepsTheOldBytes) {
    kvtest::TempDir dir("csv_viewer_replace");
    const std::string path = dir.file("table.csv");
    const std::string old = "old contents that must survive\n";
    v.SetLanguage(L"en");
    enum Failure { kNone, kSizeLimit, kRename };
    struct Case {
        int button;  // 0 OK, 1 Cancel
        Failure failure;
        std::vector<std::wstring> messages;
        bool replaced;
    };
    const Case cases[] = {
        {1, kNone, {L"Do you want to overwrite it?"}, false},
        {0, kSizeLimit, {L"Do you want to overwrite it?", L"saving failed"}, false},
        {0, kRename, {L"Do you want to overwrite it?", L"saving failed"}, false},
        {0, kNone, {L"Do you want to overwrite it?", L"saved"}, true},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(kvtest::WriteFileBytes(path, old));
        kvtest::ModalAnswers answers({PlatUtf8ToWide(path.c_str())});
        answers.buttons = {c.button};
        rlimit previousLimit{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previousLimit), 0);
        auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        if (c.failure == kSizeLimit) {
            rlimit small = previousLimit;
            small.rlim_cur = 8;
            ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        }
        const AtomicSaveHook refuse = [](const char*, void*) -> int32_t { return 0; };
        AtomicSaveHook previousHook = AtomicSaveSetTestHook(c.failure == kRename ? refuse : nullptr, nullptr);
        v.SaveCsvCommand();
        AtomicSaveSetTestHook(previousHook, nullptr);
        setrlimit(RLIMIT_FSIZE, &previousLimit);
        std::signal(SIGXFSZ, previousHandler);
        EXPECT_EQ(answers.messages, c.messages) << "case " << (&c - cases);
        EXPECT_EQ(kvtest::ReadFileBytes(path), c.replaced ? ",x,y\n1,,2.5\n2,a,b,say \"hi\"\n" : old)
            << "case " << (&c - cases);
        // No temporary is left beside the file.
        EXPECT_EQ(FolderEntries(dir.path()), 1) << "case " << (&c - cases);
    }
}

TEST_F(CsvViewerTest, GridFillsTheWindowBelowTheBar) {
    v.OnSize(v.width, v.height);
    const int32_t top = static_cast<int32_t>(v.font.height ? v.font.height : 14) + 8;
    EXPECT_EQ(v.grid.y, top);
    EXPECT_EQ(v.grid.width, 300);
    EXPECT_EQ(v.grid.height, 300 - top);
    v.SetLanguage(L"en");
    kvtest::Pump();
    kvtest::SaveScreenshot(kvtest::CaptureFrame(v, v), "csv_viewer_table");
}

TEST_F(CsvViewerTest, LanguageSwitchNotesThePlaceToReopenAtOnce) {
    v.Destroy();
    int32_t x = 0, y = 0, w = 0, h = 0;
    // A closed window takes no language and notes nothing.
    v.NoteForLanguage(L"en");
    EXPECT_EQ(v.english, 0u);
    EXPECT_FALSE(v.TakeNotedPlace(&x, &y, &w, &h));

    v.Open(40, 30, 320, 200, L"table", nullptr);
    ASSERT_NE(v.window, 0u);
    EXPECT_EQ(v.width, 320u);
    EXPECT_EQ(v.height, 200u);
    EXPECT_EQ(v.grid.width, 320);  // laid out below the bar
    // An open window is only repainted: neither moved nor resized.
    v.Open(0, 0, 100, 100, L"other", nullptr);
    EXPECT_EQ(v.width, 320u);
    EXPECT_STREQ(v.title, L"table");

    const int32_t openX = v.x, openY = v.y;
    v.NoteForLanguage(L"en");
    EXPECT_EQ(v.english, 1u);
    v.Destroy();
    ASSERT_TRUE(v.TakeNotedPlace(&x, &y, &w, &h));
    EXPECT_EQ(x, openX);
    EXPECT_EQ(y, openY);
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 200);
    EXPECT_FALSE(v.TakeNotedPlace(&x, &y, &w, &h));  // taken once

    // A size of 0 still opens a window (the toolkit's smallest).
    v.Open(-1, -1, 0, 0, L"table", nullptr);
    EXPECT_NE(v.window, 0u);
}

}  // namespace
