// Output helpers with their prompts, answered through the modal-start hook:
// every notice and question in both languages, the depth question before a
// 16-bit grey image goes to JPEG (written with 8 bits, as identify reads
// it), and choosing the output for a run of frames.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "image/imgbuff.h"
#include "media/frame_output.h"
#include "media/image_module.h"
#include "media/support/media_support.h"
#include "media/support/prompt_script.h"
#include "support/testsupport.h"

using kvmedia::Box;
using kvmedia::Choose;
using kvmedia::PromptScript;
using kvmedia::Wide;

namespace {

namespace fs = std::filesystem;

class OutputPrompts : public ::testing::Test {
protected:
    OutputPrompts() : dir_("outputprompts") {
        fs::create_directory(dir_.file("plugin"));
        fs::copy_file(std::string(KV_BINARY_DIR) + "/bin/plugin/ozt.wim", dir_.file("plugin/ozt.wim"));
        EXPECT_EQ(LoadImageModules(Wide(dir_.file("plugin")).c_str()), 1);
        EXPECT_EQ(grey16_.buffer->Create(8, 6, kImgGray16), 1);
        for (int i = 0; i < 48; ++i) grey16_.buffer->SetPixelGray16(i % 8, i / 8, static_cast<uint16_t>(i * 1300));
        EXPECT_EQ(rgb_.buffer->Create(8, 6, kImgRgb8), 1);
    }
    ~OutputPrompts() override { UnloadImageModules(); }
    std::wstring Path(const std::string& name) const { return Wide(dir_.file(name)); }
    kvtest::TempDir dir_;
    CImgBuff grey16_;
    CImgBuff rgb_;
};

TEST_F(OutputPrompts, EveryNoticeAndQuestionInBothLanguages) {
    struct Texts {
        const wchar_t* language;
        const wchar_t *loadFailed, *saved, *saveFailed, *noPath, *noImage, *overwrite, *toGrey, *depth, *unsupported;
        const wchar_t *error, *confirmation;
    } languages[] = {
        {L"en", L"loading failed", L"saved", L"saving failed", L"here is no file path", L"there is no image",
         L"Do you want to overwrite it?",
         L"The specified file format does not correspond to a color image.\nDo you want to convert to grayscale "
         L"image and save?",
         L"The number of bits that can be handled by the file is insufficient.\nIt will deteriorate at the time of "
         L"storage. Are you sure?",
         L"Unsupported format", L"error", L"confirmation"},
        {L"jp", L"ロードできませんでした", L"セーブしました", L"セーブできませんでした", L"ファイルパスがありません",
         L"画像がありません", L"上書き保存しますか？",
         L"指定されたファイル形式はカラー画像に対応してません\nグレースケール画像に変換して保存しますか？",
         L"ファイルで扱えるbit数が不足しています\n保存時に劣化しますがよろしいですか？", L"対応していない形式です",
         L"エラー", L"確認"},
    };
    for (const Texts& t : languages) {
        SCOPED_TRACE(std::string(t.language, t.language + 2));
        CImgBuff loaded, empty;
        {
            PromptScript script({Box(t.loadFailed, t.error, 1)});
            EXPECT_EQ(LoadImageFile(&loaded, Path("none.png").c_str(), t.language, nullptr), 0);
        }
        {
            PromptScript script({Box(t.saved, t.confirmation, 1)});
            EXPECT_EQ(SaveImageFile(&rgb_, Path("ok.png").c_str(), t.language, nullptr), 1);
        }
        {
            PromptScript script({Box(t.saveFailed, t.error, 1)});
            EXPECT_EQ(SaveImageFile(&rgb_, Path("missing/x.png").c_str(), t.language, nullptr), 0);
        }
        {
            PromptScript script({Box(t.noPath, t.confirmation, 1), Box(t.noImage, t.confirmation, 1),
                                 Box(t.unsupported, t.confirmation, 1)});
            EXPECT_EQ(ConfirmSaveImage(&rgb_, L"", t.language, nullptr), 0);
            EXPECT_EQ(ConfirmSaveImage(&empty, Path("a.png").c_str(), t.language, nullptr), 0);
            EXPECT_EQ(ConfirmSaveImage(&rgb_, Path("noextension").c_str(), t.language, nullptr), 0);
        }
        {
            // Overwrite declined (second button); the depth question agreed.
            PromptScript script({Box(t.overwrite, t.confirmation, 0, 1), Box(t.depth, t.confirmation, 0, 0),
                                 Box(t.depth, t.confirmation, 0, 1)});
            EXPECT_EQ(ConfirmSaveImage(&rgb_, Path("ok.png").c_str(), t.language, nullptr), -1);
            EXPECT_EQ(ConfirmSaveImage(&grey16_, Path("g.jpg").c_str(), t.language, nullptr), 1);
            EXPECT_EQ(ConfirmSaveImage(&grey16_, Path("g.bmp").c_str(), t.language, nullptr), -1);
        }
        {
            // A module taking 8-bit grey only: a colour image asks first.
            g_ImageModules->first->caps = 0x701;
            PromptScript script({Box(t.toGrey, t.confirmation, 0, 0), Box(t.depth, t.confirmation, 0, 1)});
            EXPECT_EQ(ConfirmSaveImage(&rgb_, Path("c.ozt").c_str(), t.language, nullptr), 1);
            EXPECT_EQ(ConfirmSaveImage(&grey16_, Path("c.ozt").c_str(), t.language, nullptr), -1);
            g_ImageModules->first->caps = 0x77F;
        }
    }
}

TEST_F(OutputPrompts, SixteenBitGreyToJpegAsksAndWritesEightBits) {
    {
        PromptScript script({});  // nothing asked for PNG
        EXPECT_EQ(ConfirmSaveImage(&grey16_, Path("g.png").c_str(), L"en", nullptr), 1);
    }
    EXPECT_EQ(SaveImageFile(&grey16_, Path("g.png").c_str(), nullptr, nullptr), 1);
    EXPECT_EQ(SaveImageFile(&grey16_, Path("g.jpg").c_str(), nullptr, nullptr), 1);
    CImgBuff back;
    EXPECT_EQ(LoadImageFile(&back, Path("g.png").c_str(), nullptr, nullptr), 1);
    EXPECT_EQ(back.buffer->format, kImgGray16);
    EXPECT_EQ(memcmp(back.buffer->pixels, grey16_.buffer->pixels, 96), 0);
    // Through the module: the image comes back as it was saved.
    EXPECT_EQ(SaveImageFile(&grey16_, Path("g.ozt").c_str(), nullptr, nullptr), 1);
    EXPECT_EQ(LoadImageFile(&back, Path("g.ozt").c_str(), nullptr, nullptr), 1);
    EXPECT_EQ(back.buffer->format, kImgGray16);
    EXPECT_EQ(memcmp(back.buffer->pixels, grey16_.buffer->pixels, 96), 0);
    if (!kvtest::HaveTool("identify")) GTEST_SKIP() << "no ImageMagick";
    std::string out;
    ASSERT_EQ(kvtest::RunCommand("identify -format '%z %[channels]\n' '" + dir_.file("g.jpg") + "' '" +
                                     dir_.file("g.png") + "'",
                                 &out),
              0);
    EXPECT_EQ(out.substr(0, out.find('\n')), "8 gray");
    EXPECT_EQ(out.substr(out.find('\n') + 1, 3), "16 ");
}

TEST_F(OutputPrompts, ChoosingTheOutputOfARun) {
    int32_t cancelled = -1;
    {
        PromptScript script({Choose(Path("shot0007.png"))});
        FrameOutput* o = SaveFramesAs(&rgb_, 3, L"en", L"", L"save frames", nullptr, nullptr, &cancelled);
        ASSERT_NE(o, nullptr);
        EXPECT_EQ(cancelled, 0);
        EXPECT_EQ(std::wstring(o->nameFormat), Path("shot%04llu.png"));
        EXPECT_EQ(o->nextNumber, 7u);
        EXPECT_EQ(CloseFrameOutput(o), 1);
    }
    {
        PromptScript script({Choose(L"")});
        EXPECT_EQ(SaveFramesAs(&rgb_, 3, L"en", L"", L"save frames", nullptr, nullptr, &cancelled), nullptr);
        EXPECT_EQ(cancelled, 1);
    }
    {
        kvtest::WriteFileBytes(dir_.file("taken.avi"), "x");
        PromptScript script({Choose(Path("taken.avi")), Box(L"Do you want to overwrite it?", L"confirmation", 0, 1)});
        EXPECT_EQ(SaveFramesAs(&rgb_, 3, L"en", L"", L"save frames", nullptr, nullptr, &cancelled), nullptr);
        EXPECT_EQ(cancelled, 1);
    }
    {
        PromptScript script({Choose(Path("movie.avi"))});
        FrameOutput* o = SaveFramesAs(&rgb_, 2, L"en", L"", L"save frames", nullptr, nullptr, &cancelled);
        ASSERT_NE(o, nullptr);
        EXPECT_EQ(o->info.frame_interval, 33333u);
        EXPECT_NE(o->file, nullptr);
        EXPECT_EQ(WriteOutputFrame(o, &rgb_), 1);
        EXPECT_EQ(CloseFrameOutput(o), 1);
    }
    {
        PromptScript script({Choose(Path("clip.ozt"))});
        FrameOutput* o = SaveFramesAs(&rgb_, 2, L"en", L"", L"save frames", nullptr, nullptr, &cancelled);
        ASSERT_NE(o, nullptr);
        ASSERT_NE(o->stream, nullptr);
        EXPECT_EQ(o->stream->time, 33u);
        EXPECT_EQ(CloseFrameOutput(o), 1);
    }
    // The movie being read is refused, with the reason, before any question.
    codec_file* open = codec_file_open(Path("movie.avi").c_str(), nullptr, nullptr);
    ASSERT_NE(open, nullptr);
    const std::string before = kvtest::ReadFileBytes(dir_.file("movie.avi"));
    for (const wchar_t* language : {L"en", L"jp"}) {
        const bool jp = language[0] == L'j';
        PromptScript script({Choose(Path("movie.avi")),
                             Box(jp ? L"動画は自身を上書き保存する事はできません" : L"Videos cannot overwrite themselves",
                                 jp ? L"確認" : L"confirmation", 1)});
        EXPECT_EQ(SaveFramesAs(&rgb_, 2, language, L"", L"save frames", nullptr, nullptr, &cancelled), nullptr);
        EXPECT_EQ(cancelled, 0);
    }
    codec_file_close(open);
    EXPECT_EQ(kvtest::ReadFileBytes(dir_.file("movie.avi")), before);
}

}  // namespace
