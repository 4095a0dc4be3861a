// Opening what cannot be opened: the main screen says which file and why
// (it cannot be read, is not a supported kind, or is damaged) in the chosen
// language, and the title never names a document that is not open.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/support/main_screen_fixture.h"
#include "toolkit/support/file_select_answer.h"

namespace {

using namespace kvapptest;

const wchar_t* const kUnreadable = L"The file cannot be read";
const wchar_t* const kUnsupported = L"This kind of file is not supported";
const wchar_t* const kDamaged = L"The file is damaged";

class OpenFailureTest : public MainScreenTest {
protected:
    std::string Path(const std::string& name) const { return fx.dir().file(name); }
    std::string Make(const std::string& name, const std::string& command) {
        const std::string path = Path(name);
        const std::string cmd = command + " '" + path + "'";
        EXPECT_EQ(kvtest::RunCommand(cmd.c_str()), 0) << cmd;
        return path;
    }
    // A file of the given bytes.
    std::string Bytes(const std::string& name, const std::string& bytes) {
        const std::string path = Path(name);
        EXPECT_TRUE(kvtest::WriteFileBytes(path, bytes));
        return path;
    }
    // Opens a good still first, so that a failure is seen to close it.
    void OpenGoodStill() {
        screen->OpenFile(W(good_).c_str());
        ASSERT_TRUE(screen->sourceImage.buffer->pixels);
        ASSERT_STREQ(screen->titleText, L"korvane 1.11.0 - 4core  good.png");
    }
    void ExpectNoDocument() {
        EXPECT_EQ(screen->sourceImage.buffer->pixels, nullptr);
        EXPECT_STREQ(screen->documentPath, L"");
        EXPECT_STREQ(screen->titleText, L"korvane 1.11.0 - 4core");
        EXPECT_EQ(screen->movieFile, nullptr);
        EXPECT_EQ(screen->sceneBarShown, 0u);
    }
    void SetUp() override {
        MainScreenTest::SetUp();
        good_ = fx.Solid("good.png", 16, 12, 10, 20, 30);
    }
    std::string good_;
};

// A BMP with a negative height (rows stored top-down).
std::string TopDownBmp() {
    std::string b(54 + 4 * 4 * 3, '\0');
    auto le32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    le32(2, static_cast<uint32_t>(b.size()));
    le32(10, 54);
    le32(14, 40);
    le32(18, 4);
    le32(22, static_cast<uint32_t>(-4));
    b[26] = 1;
    b[28] = 24;
    return b;
}

// A DICOM file whose meta group names implicit VR little endian.
std::string ImplicitVrDicom() {
    std::string d(128, '\0');
    d += "DICM";
    const std::string uid = std::string("1.2.840.10008.1.2") + '\0';  // even length
    d += std::string("\x02\x00\x10\x00", 4) + "UI";
    d += static_cast<char>(uid.size());
    d += '\0';
    d += uid;
    // Implicit VR from here on: (0028,0010) rows, length 2, value 4.
    d += std::string("\x28\x00\x10\x00\x02\x00\x00\x00\x04\x00", 10);
    return d;
}

TEST_F(OpenFailureTest, EachFailureNamesTheFileAndWhy) {
    screen->SetLanguage(L"en");
    const bool haveFfmpeg = kvtest::HaveTool("ffmpeg");
    std::filesystem::create_directories(Path("folder.png"));
    std::string truncated = kvtest::ReadFileBytes(good_);
    truncated.resize(truncated.size() / 2);
    struct Case {
        std::string path;
        const wchar_t* why;
    };
    std::vector<Case> cases = {
        {Path("missing.png"), kUnreadable},
        {Path("folder.png"), kUnreadable},
        {fx.dir().path(), kUnreadable},
        {Bytes("notes.png", "just some text, not a picture\n"), kUnsupported},
        {Bytes("notes.txt", "plain text\n"), kUnsupported},
        {Make("deflate.tif", "convert -size 8x8 xc:gray -compress zip"), kUnsupported},
        {Make("jpeg.tif", "convert -size 8x8 xc:gray -compress jpeg"), kUnsupported},
        {Make("tiled.tif", "convert -size 64x64 xc:gray -define tiff:tile-geometry=16x16"), kUnsupported},
        {Bytes("topdown.bmp", TopDownBmp()), kUnsupported},
        {Bytes("implicit.dcm", ImplicitVrDicom()), kUnsupported},
        {Bytes("truncated.png", truncated), kDamaged},
        // Kinds an image module reads: the module cannot say more than that
        // the file did not open.
        {Path("missing.ozt"), kUnreadable},
        {Bytes("garbage.ozt", "not what the module writes"), kDamaged},
    };
    if (haveFfmpeg) {
        const std::string source = "ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=10 -frames:v 8 ";
        cases.push_back({Make("bframes.mp4", source + "-c:v libx264 -bf 2 -pix_fmt yuv420p -y"), kUnsupported});
        cases.push_back({Make("png.avi", source + "-c:v png -y"), kUnsupported});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        OpenGoodStill();
        kvtest::ModalAnswers answers;
        screen->OpenFile(W(c.path).c_str());
        EXPECT_EQ(answers.messages, (std::vector<std::wstring>{std::wstring(c.why) + L"\n" + W(c.path)}));
        ExpectNoDocument();
        EXPECT_EQ(screen->lastOpenPath, nullptr);
    }
    if (!haveFfmpeg) GTEST_SKIP() << "the movie cases need ffmpeg";
}

TEST_F(OpenFailureTest, JapaneseMessages) {
    screen->SetLanguage(L"jp");
    const std::string text = Bytes("text.jpg", "not a jpeg");
    std::string truncated = kvtest::ReadFileBytes(good_);
    truncated.resize(60);
    const std::string damaged = Bytes("damaged.png", truncated);
    kvtest::ModalAnswers answers;
    screen->OpenFile(W(Path("none.png")).c_str());
    screen->OpenFile(W(text).c_str());
    screen->OpenFile(W(damaged).c_str());
    EXPECT_EQ(answers.messages, (std::vector<std::wstring>{L"ファイルを読み込めません\n" + W(Path("none.png")),
                                                           L"対応していない種類のファイルです\n" + W(text),
                                                           L"ファイルが壊れています\n" + W(damaged)}));
}

// Two names (as on the command line) that do not open: the message names the
// first, and the title names no file over the empty picture.
TEST_F(OpenFailureTest, SequenceThatDoesNotOpen) {
    screen->SetLanguage(L"en");
    const std::string a = Bytes("t_001.png", "text");
    const std::string b = Bytes("t_002.png", "text");
    struct Case {
        std::string first, last;
        const wchar_t* why;
    } cases[] = {
        {a, b, kUnsupported},
        {Path("gone_001.png"), Path("gone_005.png"), kUnreadable},
        {good_, Path("other.png"), kUnsupported},  // no numbered run
        {Bytes("m_001.ozt", "garbage"), Path("m_004.ozt"), kDamaged},  // an image module's kind
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.first);
        OpenGoodStill();
        kvtest::ModalAnswers answers;
        screen->OpenSequenceFiles(W(c.first).c_str(), W(c.last).c_str());
        EXPECT_EQ(answers.messages, (std::vector<std::wstring>{std::wstring(c.why) + L"\n" + W(c.first)}));
        ExpectNoDocument();
    }
    // A run whose frames open says nothing and names its first file.
    const std::vector<std::string> seq = fx.Sequence("ok", 3);
    kvtest::ModalAnswers answers;
    screen->OpenSequenceFiles(W(seq[0]).c_str(), W(seq[2]).c_str());
    EXPECT_TRUE(answers.messages.empty());
    EXPECT_STREQ(screen->titleText, L"korvane 1.11.0 - 4core  ok_001.png");
}

}  // namespace
