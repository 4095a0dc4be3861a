// Output helpers without prompts: the pixel formats chosen for modules and
// for the built-in stills, extension lists, numbered output names and runs
// of output frames.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "image/imgbuff.h"
#include "media/frame_output.h"
#include "media/image_module.h"
#include "media/open_documents.h"
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

// ---- Replacing files ----------------------------------------------------

// Runs `body` while no file may grow past `limit` bytes: writes beyond it
// fail (EFBIG) instead of raising SIGXFSZ.
int32_t WithFileSizeLimit(rlim_t limit, const std::function<int32_t()>& body) {
    struct rlimit old_limit;
    if (getrlimit(RLIMIT_FSIZE, &old_limit) != 0) return -1;
    sighandler_t old_handler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = old_limit;
    limited.rlim_cur = limit;
    setrlimit(RLIMIT_FSIZE, &limited);
    const int32_t result = body();
    setrlimit(RLIMIT_FSIZE, &old_limit);
    signal(SIGXFSZ, old_handler);
    return result;
}

// Every file of a folder and its bytes.
std::map<std::string, std::string> FolderBytes(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const fs::directory_entry& e : fs::directory_iterator(folder))
        files[e.path().filename().string()] = kvtest::ReadFileBytes(e.path().string());
    return files;
}

// Each saver over targets that hold other bytes: a write that fails (the
// file size limit) or a run given up leaves every old byte and no
// temporary; a run that completes replaces the targets.
TEST_F(OutputWithOzt, FailedOrAbandonedSavesLeaveTheOldFiles) {
    CImgBuff image;
    ASSERT_EQ(image.buffer->Create(64, 48, kImgRgb8), 1);
    const std::string noise = kvmedia::Pattern(64 * 48 * 3, 7);
    memcpy(image.buffer->pixels, noise.data(), noise.size());
    enum Kind { kStill, kRun, kNumbered };
    struct Saver {
        const char* target;  // numbered runs: the first name
        Kind kind;
        std::vector<std::string> files;  // the targets the saver writes
    } savers[] = {
        {"s.png", kStill, {"s.png"}},
        {"s.tif", kStill, {"s.tif"}},
        {"s.bmp", kStill, {"s.bmp"}},
        {"s.jpg", kStill, {"s.jpg"}},
        {"s.ozt", kStill, {"s.ozt"}},  // the module's own create entry
        {"m.avi", kRun, {"m.avi"}},
        {"m.tif", kRun, {"m.tif"}},
        {"m.ozt", kRun, {"m.ozt"}},
        {"n01.png", kNumbered, {"n01.png", "n02.png", "n03.png"}},
        {"n01.bmp", kNumbered, {"n01.bmp", "n02.bmp", "n03.bmp"}},
    };
    enum Ending { kFails, kAbandoned, kCompletes };
    for (const Saver& saver : savers) {
        for (Ending ending : {kFails, kAbandoned, kCompletes}) {
            if (saver.kind == kStill && ending == kAbandoned) continue;  // a still has no run to give up
            SCOPED_TRACE(std::string(saver.target) + " ending " + std::to_string(ending));
            kvtest::TempDir dir("replace");
            std::map<std::string, std::string> old;
            for (const std::string& name : saver.files) {
                old[name] = "old " + name + " " + kvmedia::Pattern(20000, 3);
                ASSERT_TRUE(kvtest::WriteFileBytes(dir.file(name), old[name]));
            }
            const std::wstring target = Wide(dir.file(saver.target));
            int32_t result;
            if (saver.kind == kStill) {
                auto save = [&] { return SaveImageFile(&image, target.c_str(), nullptr, nullptr); };
                result = ending == kFails ? WithFileSizeLimit(100, save) : save();
            } else {
                FrameOutput* o = nullptr;
                if (saver.kind == kRun) {
                    o = OpenFrameOutput(&image, 3, target.c_str(), 0, nullptr);
                } else {
                    wchar_t format[1024];
                    uint64_t first;
                    ASSERT_EQ(BuildOutputNameFormat(target.c_str(), format, 0, &first), 1);
                    o = OpenNumberedOutput(&image, 3, format, first);
                }
                ASSERT_NE(o, nullptr);
                EXPECT_EQ(WriteOutputFrame(o, &image), 1);
                EXPECT_EQ(WriteOutputFrame(o, &image), 1);
                if (ending == kFails) {
                    // The third frame, or what its writer still buffers, cannot reach the disk.
                    result = WithFileSizeLimit(100, [&] {
                        WriteOutputFrame(o, &image);
                        return CloseFrameOutput(o);
                    });
                    o = nullptr;
                } else {
                    EXPECT_EQ(WriteOutputFrame(o, &image), 1);
                }
                if (ending == kAbandoned) {
                    AbortFrameOutput(o);
                    result = 0;
                } else if (ending == kCompletes) {
                    result = CloseFrameOutput(o);
                }
            }
            std::map<std::string, std::string> now = FolderBytes(dir.path());
            if (ending == kCompletes) {
                EXPECT_EQ(result, 1);
                ASSERT_EQ(now.size(), old.size());
                for (const std::string& name : saver.files) {
                    EXPECT_NE(now[name], old[name]) << name;
                    CImgBuff back;
                    ASSERT_EQ(LoadImageFile(&back, Wide(dir.file(name)).c_str(), nullptr, nullptr), 1) << name;
                    EXPECT_EQ(back.buffer->width, 64);
                }
            } else {
                EXPECT_EQ(result, 0);
                EXPECT_TRUE(now == old) << "files now: " << now.size();
            }
        }
    }
}

// The document being read is never the output: by its own name or another
// name of the same file, as one file, one file of an open sequence or a
// module's file. Once it is closed, the same output is allowed.
TEST_F(OutputWithOzt, TheOpenDocumentIsRefusedAsOutput) {
    CImgBuff image;
    ASSERT_EQ(image.buffer->Create(16, 8, kImgRgb8), 1);
    kvtest::TempDir dir("owndoc");
    fs::create_directory(dir.file("sub"));
    auto write_run = [&](const std::string& name) {
        FrameOutput* o = OpenFrameOutput(&image, 2, Wide(dir.file(name)).c_str(), 0, nullptr);
        return o && WriteOutputFrame(o, &image) && WriteOutputFrame(o, &image) && CloseFrameOutput(o);
    };
    ASSERT_TRUE(write_run("doc.avi"));
    ASSERT_TRUE(write_run("doc.tif"));
    ASSERT_TRUE(write_run("doc.ozt"));
    for (const char* n : {"seq01.png", "seq02.png", "seq03.png"})
        ASSERT_EQ(SaveImageFile(&image, Wide(dir.file(n)).c_str(), nullptr, nullptr), 1);
    fs::create_symlink(dir.file("doc.avi"), dir.file("link.avi"));
    const std::map<std::string, std::string> before = FolderBytes(dir.path());

    codec_file* movie = codec_file_open(Wide(dir.file("doc.avi")).c_str(), nullptr, nullptr);
    codec_file* pages = codec_file_open(Wide(dir.file("doc.tif")).c_str(), nullptr, nullptr);
    codec_file* sequence =
        codec_sequence_open(Wide(dir.file("seq01.png")).c_str(), Wide(dir.file("seq03.png")).c_str());
    ImageModuleStream* module = static_cast<ImageModuleStream*>(calloc(1, sizeof(ImageModuleStream)));
    module->module = g_ImageModules->first;
    ASSERT_TRUE(movie && pages && sequence);
    ASSERT_EQ(OpenModuleStream(module, Wide(dir.file("doc.ozt")).c_str()), 1);

    for (const char* name : {"doc.avi", "sub/../doc.avi", "./link.avi", "doc.tif", "doc.ozt"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(IsOpenDocument(Wide(dir.file(name)).c_str()), 1);
        EXPECT_EQ(OpenFrameOutput(&image, 2, Wide(dir.file(name)).c_str(), 0, nullptr), nullptr);
    }
    EXPECT_EQ(SaveImageFile(&image, Wide(dir.file("doc.tif")).c_str(), nullptr, nullptr), 0);
    EXPECT_EQ(SaveImageFile(&image, Wide(dir.file("seq02.png")).c_str(), nullptr, nullptr), 0);
    // A numbered run over the sequence fails at its first file and writes nothing.
    FrameOutput* o = OpenNumberedOutput(&image, 2, Wide(dir.file("seq%02llu.png")).c_str(), 2);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(WriteOutputFrame(o, &image), 0);
    EXPECT_EQ(CloseFrameOutput(o), 0);
    EXPECT_TRUE(FolderBytes(dir.path()) == before);
    // Numbers outside the sequence, and other files, are free.
    EXPECT_EQ(IsOpenDocument(Wide(dir.file("seq04.png")).c_str()), 0);
    EXPECT_EQ(IsOpenDocument(Wide(dir.file("seq2.png")).c_str()), 0);
    EXPECT_EQ(IsOpenDocument(Wide(dir.file("other.avi")).c_str()), 0);

    codec_file_close(movie);
    codec_file_close(pages);
    codec_file_close(sequence);
    EXPECT_EQ(CloseModuleStream(module), 1);
    for (const char* name : {"doc.avi", "doc.tif", "doc.ozt", "seq02.png"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(IsOpenDocument(Wide(dir.file(name)).c_str()), 0);
    }
    EXPECT_TRUE(write_run("doc.avi"));
    EXPECT_EQ(SaveImageFile(&image, Wide(dir.file("seq02.png")).c_str(), nullptr, nullptr), 1);
}

}  // namespace
