// Output helpers without prompts: the pixel formats chosen for modules and
// for the built-in stills, extension lists, numbered output names and runs
// of output frames.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "image/imgbuff.h"
#include "media/frame_output.h"
#include "media/image_module.h"
#include "media/support/media_support.h"
#include "support/testsupport.h"

using kvmedia::Wide;

namespace {

namespace fs = std::filesystem;

class OutputWithOzt : public ::testing::Test {
protected:
    OutputWithOzt() : dir_("frameoutput") {
        fs::create_directory(dir_.file("plugin"));
        fs::copy_file(std::string(KV_BINARY_DIR) + "/bin/plugin/ozt.wim", dir_.file("plugin/ozt.wim"));
        EXPECT_EQ(LoadImageModules(Wide(dir_.file("plugin")).c_str()), 1);
    }
    ~OutputWithOzt() override { UnloadImageModules(); }
    kvtest::TempDir dir_;
};

TEST(OutputPixelTypes, BuiltinStillsByExtension) {
    // Per image format 1..9: the format chosen, '*' when reduced.
    struct Row {
        const wchar_t* path;
        const char* chosen[9];
    } rows[] = {
        {L"/a/x.png", {"1", "2", "2*", "4", "5", "5*", "5*", "5", "4"}},
        {L"/a/x.TIF", {"1", "2", "3", "4", "5", "6", "6", "5", "4"}},
        {L"/a/x.tiff", {"1", "2", "3", "4", "5", "6", "6", "5", "4"}},
        {L"/a/x.jpg", {"1", "1*", "1*", "4", "4*", "4*", "4*", "4*", "4"}},
        {L"/a/x.bmp", {"1", "1*", "1*", "4", "4*", "4*", "4*", "4*", "4"}},
        {L"/a/x.gif", {"1", "1*", "1*", "4", "4*", "4*", "4*", "4*", "4"}},
        {L"/a/x.jpegx", {"0", "0", "0", "0", "0", "0", "0", "0", "0"}},
        {L"/a/x", {"0", "0", "0", "0", "0", "0", "0", "0", "0"}},
        {L"/a/.png", {"0", "0", "0", "0", "0", "0", "0", "0", "0"}},
        {L"", {"0", "0", "0", "0", "0", "0", "0", "0", "0"}},
    };
    for (const Row& r : rows) {
        for (int32_t f = 1; f <= 9; ++f) {
            int32_t reduced = -1;
            int32_t chosen = ChooseBuiltinPixelType(r.path, &reduced, f);
            EXPECT_EQ(std::to_string(chosen) + (reduced ? "*" : ""), r.chosen[f - 1])
                << f << " " << std::string(r.path, r.path + wcslen(r.path));
        }
    }
    int32_t reduced;
    EXPECT_EQ(ChooseBuiltinPixelType(L"/a/x.png", &reduced, 0), 0);
    EXPECT_EQ(ChooseBuiltinPixelType(L"/a/x.png", &reduced, 10), 0);
}

TEST_F(OutputWithOzt, ModulePixelTypesFollowEachRowsPreferences) {
    // Accepted sets, and per image format 1..9 the choice: R reduced, G grey.
    struct Row {
        uint32_t caps;
        const char* chosen[9];
    } rows[] = {
        {0x7F, {"1", "2", "3", "4", "5", "6", "7", "5", "4"}},
        {0x01, {"1", "1R", "1R", "1G", "1GR", "1GR", "1GR", "1GR", "1G"}},
        {0x08, {"4", "4", "4R", "4", "4R", "4R", "4R", "4R", "4"}},
        {0x02, {"2", "2", "2R", "2G", "2G", "2GR", "2GR", "2G", "2G"}},
        {0x24, {"3", "3", "3", "6", "6", "6", "6R", "6", "6"}},
        {0x40, {"7", "7", "7", "7", "7", "7", "7", "7", "7"}},
        {0x00, {"0", "0", "0", "0", "0", "0", "0", "0", "0"}},
    };
    ASSERT_NE(g_ImageModules->first, nullptr);
    for (const Row& r : rows) {
        g_ImageModules->first->caps = 0x700 | r.caps;
        for (int32_t f = 1; f <= 9; ++f) {
            CImgBuff image;
            ASSERT_EQ(image.buffer->Create(2, 2, f), 1);
            int32_t reduced = -1, grey = -1;
            int32_t chosen = ChooseModulePixelType(&image, L"/a/b.OZT", &reduced, &grey);
            std::string got = std::to_string(chosen) + (grey ? "G" : "") + (reduced ? "R" : "");
            EXPECT_EQ(got, r.chosen[f - 1]) << "caps " << r.caps << " format " << f;
        }
    }
    CImgBuff image;
    ASSERT_EQ(image.buffer->Create(2, 2, kImgRgb8), 1);
    int32_t reduced, grey;
    EXPECT_EQ(ChooseModulePixelType(&image, L"/a/b.png", &reduced, &grey), 0);  // no module claims it
}

TEST_F(OutputWithOzt, ExtensionListsAndKinds) {
    EXPECT_STREQ(GetImageExtensionList(), L"jpg jpeg tif tiff png bmp ozt");
    EXPECT_STREQ(GetWritableExtensionList(), L"avi mp4 tif tiff jpg jpeg png bmp ozt ozt ozt");
    struct Case {
        const wchar_t* ext;
        int movie, multi;
    } cases[] = {{L"avi", 1, 0}, {L"MP4", 1, 0}, {L"tif", 0, 1}, {L"TIFF", 0, 1}, {L"ozt", 1, 1},
                 {L"Ozt", 1, 1}, {L"png", 0, 0}, {L"", 0, 0},    {L"oz", 0, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(IsMovieExtension(c.ext), c.movie) << int(c.ext[0]);
        EXPECT_EQ(IsMultiFrameExtension(c.ext), c.multi) << int(c.ext[0]);
    }
    UnloadImageModules();
    EXPECT_STREQ(GetImageExtensionList(), L"jpg jpeg tif tiff png bmp");
    EXPECT_EQ(IsMovieExtension(L"ozt"), 0);
}

TEST(OutputNames, NumberedNameFormats) {
    struct Case {
        const wchar_t* path;
        const wchar_t* format;  // null: refused
        uint64_t first;
    } cases[] = {
        {L"/out/shot0007.png", L"/out/shot%04llu.png", 7},
        {L"/out/shot7.png", L"/out/shot%llu.png", 7},
        {L"/out/shot.png", L"/out/shot%llu.png", 0},
        {L"/out/0042.png", L"/out/%04llu.png", 42},  // digits only: all number
        {L"/out/123.png", L"/out/%llu.png", 123},
        {L"/o%d/s%s1.png", L"/o%%d/s%%s%llu.png", 1},  // '%' of the path stays text
        {L"/out/a.b7.tif", L"/out/a.b%llu.tif", 7},
        {L"/out/shot.", nullptr, 0},
        {L"/out/shot", nullptr, 0},
        {L"shot7.png", nullptr, 0},   // no folder
        {L"/shot7.png", nullptr, 0},  // a separator first is not seen
        {L"/out/s0000000000000000001.png", L"/out/s%019llu.png", 1},
        {L"/out/s00000000000000000001.png", nullptr, 0},  // 20-digit field
        {L"/out/s18446744073709551615.png", L"/out/s%llu.png", 18446744073709551615ull},
        {L"/out/s18446744073709551616.png", nullptr, 0},  // beyond 64 bits
    };
    for (const Case& c : cases) {
        wchar_t format[1024] = L"junk";
        uint64_t first = 99;
        int32_t ok = BuildOutputNameFormat(c.path, format, 0, &first);
        EXPECT_EQ(ok, c.format != nullptr) << std::string(c.path, c.path + wcslen(c.path));
        if (ok) {
            EXPECT_STREQ(format, c.format);
            EXPECT_EQ(first, c.first);
        }
    }
    std::wstring longFolder = L"/" + std::wstring(1030, L'd') + L"/a1.png";
    wchar_t format[1024];
    uint64_t first;
    EXPECT_EQ(BuildOutputNameFormat(longFolder.c_str(), format, 0, &first), 0);
}

TEST_F(OutputWithOzt, NumberedRunsNameTheirFiles) {
    CImgBuff image;
    ASSERT_EQ(image.buffer->Create(4, 3, kImgRgb8), 1);
    struct Case {
        const char* chosen;
        int frames;
        std::vector<std::string> names;
    } cases[] = {
        {"shot0007.png", 3, {"shot0007.png", "shot0008.png", "shot0009.png"}},
        {"shot7.png", 4, {"shot7.png", "shot8.png", "shot9.png", "shot10.png"}},
        {"shot.png", 2, {"shot0.png", "shot1.png"}},
        {"run98.ozt", 3, {"run98.ozt", "run99.ozt", "run100.ozt"}},
    };
    for (const Case& c : cases) {
        kvtest::TempDir out("numbered");
        wchar_t format[1024];
        uint64_t first;
        ASSERT_EQ(BuildOutputNameFormat(Wide(out.file(c.chosen)).c_str(), format, 0, &first), 1);
        FrameOutput* o = OpenNumberedOutput(&image, c.frames, format, first);
        ASSERT_NE(o, nullptr);
        for (int i = 0; i < c.frames; ++i) EXPECT_EQ(WriteOutputFrame(o, &image), 1);
        EXPECT_EQ(CloseFrameOutput(o), 1);
        size_t files = 0;
        for (auto& e : fs::directory_iterator(out.path())) files += e.is_regular_file();
        EXPECT_EQ(files, c.names.size()) << c.chosen;
        for (const std::string& n : c.names) EXPECT_TRUE(fs::exists(out.file(n))) << n;
    }
}

TEST_F(OutputWithOzt, MovieAndMultiFrameOutputs) {
    CImgBuff image, other;
    ASSERT_EQ(image.buffer->Create(16, 8, kImgRgb8), 1);
    ASSERT_EQ(other.buffer->Create(8, 8, kImgRgb8), 1);
    for (int i = 0; i < 16 * 8 * 3; ++i) image.buffer->pixels[i] = static_cast<uint8_t>(i);

    // ".ozt" without an interval: a timed movie of 33 ms per frame.
    FrameOutput* o = OpenFrameOutput(&image, 2, Wide(dir_.file("m.ozt")).c_str(), 0, nullptr);
    ASSERT_NE(o, nullptr);
    ASSERT_NE(o->stream, nullptr);
    EXPECT_EQ(o->stream->time, 33u);
    EXPECT_EQ(WriteOutputFrame(o, &image), 1);
    EXPECT_EQ(WriteOutputFrame(o, &other), 0);  // another size writes nothing
    EXPECT_EQ(WriteOutputFrame(o, &image), 1);
    EXPECT_EQ(CloseFrameOutput(o), 1);
    std::string bytes = kvtest::ReadFileBytes(dir_.file("m.ozt"));
    ASSERT_EQ(bytes.size(), 24u + 2 * 16 * 8 * 3);
    EXPECT_EQ(static_cast<uint8_t>(bytes[16]), 2);
    EXPECT_EQ(static_cast<uint8_t>(bytes[20]), 33);

    // ".avi" without an interval: 33333 microseconds per frame.
    o = OpenFrameOutput(&image, 2, Wide(dir_.file("m.avi")).c_str(), 0, nullptr);
    ASSERT_NE(o, nullptr);
    ASSERT_NE(o->file, nullptr);
    EXPECT_EQ(WriteOutputFrame(o, &image), 1);
    EXPECT_EQ(WriteOutputFrame(o, &other), 0);
    EXPECT_EQ(WriteOutputFrame(o, &image), 1);
    EXPECT_EQ(CloseFrameOutput(o), 1);
    codec_file* f = codec_file_open(Wide(dir_.file("m.avi")).c_str(), nullptr, nullptr);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->info.frame_interval, 33333u);
    EXPECT_EQ(f->info.frame_count, 2u);
    codec_file_close(f);

    // A multi-frame TIFF keeps no interval, whatever is given.
    o = OpenFrameOutput(&image, 2, Wide(dir_.file("m.tif")).c_str(), 40000, nullptr);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o->info.frame_interval, 0u);
    EXPECT_EQ(WriteOutputFrame(o, &image), 1);
    EXPECT_EQ(WriteOutputFrame(o, &image), 1);
    EXPECT_EQ(CloseFrameOutput(o), 1);
    f = codec_file_open(Wide(dir_.file("m.tif")).c_str(), nullptr, nullptr);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->info.frame_count, 2u);
    codec_file_close(f);

    EXPECT_EQ(OpenFrameOutput(&image, 2, Wide(dir_.file("m.xyz")).c_str(), 0, nullptr), nullptr);
    CImgBuff empty;
    EXPECT_EQ(OpenFrameOutput(&empty, 2, Wide(dir_.file("n.avi")).c_str(), 0, nullptr), nullptr);
}

}  // namespace
