// Image-module host: loading folders of good and broken libraries, the
// lookup tables, refusing formats a module reports before anything is
// allocated, numbered sequences and numbered writing.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "image/imgbuff.h"
#include "media/image_module.h"
#include "media/support/media_support.h"
#include "support/testsupport.h"

using kvmedia::Wide;

namespace {

namespace fs = std::filesystem;

std::string TestLib(const std::string& name) { return std::string(KV_BINARY_DIR) + "/testlibs/" + name + ".so"; }

void Install(const std::string& lib, const std::string& target) {
    fs::copy_file(TestLib(lib), target, fs::copy_options::overwrite_existing);
}

// Loads the folder's modules; unloads them when the test ends.
class ModuleHost : public ::testing::Test {
protected:
    ModuleHost() : dir_("imagemodules") {}
    ~ModuleHost() override { UnloadImageModules(); }
    std::string Load() {
        testing::internal::CaptureStderr();
        EXPECT_EQ(LoadImageModules(Wide(dir_.path()).c_str()), 1);
        return testing::internal::GetCapturedStderr();
    }
    std::string Path(const std::string& name) const { return dir_.file(name); }
    int CountModules() const {
        int n = 0;
        for (ImageModule* m = g_ImageModules ? g_ImageModules->first : nullptr; m; m = m->next) ++n;
        return n;
    }
    // A file of the fake module claiming the given format.
    std::string Claim(const std::string& name, const std::string& line) const {
        kvtest::WriteFileBytes(Path(name), line + "\n");
        return Path(name);
    }
    kvtest::TempDir dir_;
};

TEST_F(ModuleHost, LoaderKeepsGoodLibrariesAndRefusesBrokenOnesWithOneLineEach) {
    Install("tm_fake", Path("Codec.WIM"));        // capitals
    Install("tm_fake_movie", Path("codec.wimx")); // only three letters compared
    Install("tm_fake", Path("codec.wi"));
    fs::create_directory(Path("x.wim"));
    Install("tm_fake", Path("wim"));
    Install("tm_no_write", Path("nowrite.wim"));
    Install("tm_null_exts", Path("nullexts.wim"));
    Install("tm_unresolved", Path("unresolved.wim"));
    kvtest::WriteFileBytes(Path("text.wim"), "not a library\n");
    std::string log = Load();

    EXPECT_EQ(CountModules(), 2);
    EXPECT_NE(FindImageModule(L"fk"), nullptr);
    EXPECT_NE(FindImageModule(L"fkm"), nullptr);
    EXPECT_EQ(FindImageModule(L"nw"), nullptr);
    // Refused libraries are unloaded again.
    EXPECT_EQ(dlopen(Path("nowrite.wim").c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
    EXPECT_EQ(dlopen(Path("nullexts.wim").c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);

    // One line per refused library, naming the file and the reason.
    int lines = 0;
    for (char c : log) lines += c == '\n';
    EXPECT_EQ(lines, 4) << log;
    EXPECT_NE(log.find("nowrite.wim refused: missing entry point: em_write"), std::string::npos) << log;
    EXPECT_NE(log.find("nullexts.wim refused: em_info gave no extension list"), std::string::npos) << log;
    EXPECT_NE(log.find("unresolved.wim refused: cannot be loaded: "), std::string::npos) << log;
    EXPECT_NE(log.find("fake_symbol_nobody_defines"), std::string::npos) << log;
    EXPECT_NE(log.find("text.wim refused: cannot be loaded"), std::string::npos) << log;

    UnloadImageModules();
    EXPECT_EQ(g_ImageModules, nullptr);
    EXPECT_EQ(g_ImageModuleStillExts, nullptr);
    EXPECT_EQ(dlopen(Path("Codec.WIM").c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
}

TEST_F(ModuleHost, ExtensionListsLookupsAndCapsFollowLoadOrder) {
    Install("tm_fake", Path("a.wim"));        // fk: still, formats 1-7
    Install("tm_fake_again", Path("b.wim"));  // FK: multi-frame; comes second
    Install("tm_fake_movie", Path("c.wim"));  // fkm FKQ: multi-frame and movie
    Load();
    ASSERT_EQ(CountModules(), 3);
    EXPECT_STREQ(g_ImageModuleStillExts, L"fk FK fkm FKQ");
    EXPECT_STREQ(g_ImageModuleMultiFrameExts, L"FK fkm FKQ");
    EXPECT_STREQ(g_ImageModuleMovieExts, L"fkm FKQ");

    // Case-free lookups; the first module in load order serves "fk".
    EXPECT_EQ(FindImageModule(L"FK"), g_ImageModules->first);
    EXPECT_EQ(FindImageModule(L"fkq"), g_ImageModules->last);
    EXPECT_EQ(FindImageModule(L"fkmx"), nullptr);
    EXPECT_EQ(FindImageModule(L""), nullptr);
    EXPECT_EQ(GetImageModuleCaps(L"/data/A.FK"), 0x17Fu);
    EXPECT_EQ(GetImageModuleCaps(L"/data/clip.fkq"), 0x601u);
    EXPECT_EQ(GetImageModuleCaps(L"/data/.fk"), 0u);  // a full stop first is no extension
    EXPECT_EQ(GetImageModuleCaps(L"/data.fk/name"), 0u);
    EXPECT_EQ(GetImageModuleCaps(L""), 0u);
}

TEST_F(ModuleHost, WithoutModulesEverythingFails) {
    Load();  // an empty folder still makes the (empty) list
    EXPECT_EQ(CountModules(), 0);
    EXPECT_EQ(g_ImageModuleStillExts, nullptr);
    EXPECT_EQ(GetImageModuleCaps(L"/x/a.ozt"), 0u);
    EXPECT_EQ(CreateModuleStream(Wide(Path("a.ozt")).c_str(), 0, 4, 4, 8, 1, 0), nullptr);
    ImageModuleStream stream{};
    CImgBuff image;
    EXPECT_EQ(ReadModuleFrame(&stream, &image, 0), 0);
    UnloadImageModules();
    EXPECT_EQ(LoadImageModules(L""), 0);
}

// Formats a module reports are checked before the image is made: em_read
// of the fake module fills the whole claimed frame, so an accepted bad
// claim would write past the image (caught by the sanitizer build).
TEST_F(ModuleHost, ReportedFormatsAreCheckedBeforeAllocating) {
    Install("tm_fake", Path("fake.wim"));
    Load();
    struct Case {
        const char* claim;  // bits width height frames time
        bool accepted;
    } cases[] = {
        {"24 5 3 2 0", true},
        {"192 1 1 1 0", true},
        {"8 2147483648 1 1 0", false},  // 2^31 columns
        {"8 1 4294967296 1 0", false},
        {"192 2147483647 2147483647 1 0", false},  // byte size overflows 64 bits
        {"7 4 4 1 0", false},
        {"40 4 4 1 0", false},
        {"8 4 4 0 0", false},
        {"8 0 4 1 0", false},
        {"0 4 4 1 0", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.claim);
        ImageModuleStream* s = static_cast<ImageModuleStream*>(calloc(1, sizeof(ImageModuleStream)));
        s->module = FindImageModule(L"fk");
        int32_t opened = OpenModuleStream(s, Wide(Claim("c.fk", c.claim)).c_str());
        CImgBuff image;
        int32_t read = opened ? ReadModuleFrame(s, &image, 0) : 0;
        EXPECT_EQ(opened && read, c.accepted);
        if (c.accepted) {
            EXPECT_EQ(static_cast<uint64_t>(image.buffer->width), s->width);
            EXPECT_EQ(image.buffer->format, ImageModuleFormatOfBits(s->bits));
            EXPECT_EQ(ReadModuleFrame(s, &image, s->frames), 0);
        }
        DiscardModuleStream(s);
    }
}

TEST_F(ModuleHost, StreamModesFollowFlagsFramesAndTime) {
    Install("tm_fake", Path("a.wim"));
    Install("tm_fake_movie", Path("b.wim"));
    Load();
    struct Case {
        const char* ext;
        const char* claim;
        uint32_t mode;
    } cases[] = {
        {"fk", "8 2 2 1 0", kModuleStreamStill},
        {"fk", "8 2 2 3 40", kModuleStreamMultiFrame},  // no movie flag: time ignored
        {"fkm", "8 2 2 3 0", kModuleStreamMultiFrame},
        {"fkm", "8 2 2 1 40", kModuleStreamMovie},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.claim);
        ImageModuleStream* s = static_cast<ImageModuleStream*>(calloc(1, sizeof(ImageModuleStream)));
        s->module = FindImageModule(Wide(c.ext).c_str());
        ASSERT_EQ(OpenModuleStream(s, Wide(Claim(std::string("m.") + c.ext, c.claim)).c_str()), 1);
        EXPECT_EQ(s->mode, c.mode);
        EXPECT_EQ(CloseModuleStream(s), 1);
    }
}

TEST_F(ModuleHost, NumberedSequencesForReading) {
    Install("tm_fake", Path("fake.wim"));
    Load();
    for (const char* n : {"a009.fk", "a010.fk", "a011.fk", "b9.fk", "p%d.fk", "p%d0.fk"})
        Claim(n, std::string("16 3 2 1 0"));
    Claim("a012.fk", "8 3 2 1 0");  // another depth
    struct Case {
        const char* first;
        const char* last;
        uint64_t frames;  // 0: refused
        const char* format;
    } cases[] = {
        {"a009.fk", "a011.fk", 3, "a%03llu.fk"},
        {"a009.fk", "a012.fk", 4, "a%03llu.fk"},
        {"a9.fk", "a011.fk", 0, nullptr},  // a padded run of another width
        {"a11.fk", "a9.fk", 0, nullptr},   // backwards
        {"b9.fk", "b12.fk", 4, "b%llu.fk"},
        {"a009.fk", "a011.fkx", 0, nullptr},
        {"a009.fk", "b011.fk", 0, nullptr},
        {"a.fk", "a.fk", 0, nullptr},  // no number
        {"p%d.fk", "p%d9.fk", 0, nullptr},
        {"p%d0.fk", "p%d2.fk", 3, "p%%d%01llu.fk"},  // a '%' of the name stays text
        {"a00000000000000000009.fk", "a00000000000000000011.fk", 0, nullptr},  // 20-digit field
        {"a99999999999999999999.fk", "a99999999999999999999.fk", 0, nullptr},  // beyond 64 bits
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.first) + " " + c.last);
        ImageModuleStream* s = static_cast<ImageModuleStream*>(calloc(1, sizeof(ImageModuleStream)));
        s->module = FindImageModule(L"fk");
        int32_t ok = OpenModuleSequence(s, Wide(Path(c.first)).c_str(), Wide(Path(c.last)).c_str());
        EXPECT_EQ(ok, c.frames != 0);
        if (ok) {
            EXPECT_EQ(s->frames, c.frames);
            EXPECT_EQ(s->mode, kModuleStreamNumbered);
            EXPECT_EQ(std::string(s->path), Path(c.format));
            EXPECT_EQ(s->bits, 16);
            CImgBuff image;
            EXPECT_EQ(ReadModuleFrame(s, &image, 0), 1);
            EXPECT_EQ(image.buffer->format, kImgGray16);
            if (c.frames == 4 && c.first[0] == 'a') { EXPECT_EQ(ReadModuleFrame(s, &image, 3), 0); }  // 8-bit file
            EXPECT_EQ(ReadModuleFrame(s, &image, c.frames), 0);
            EXPECT_EQ(CloseModuleStream(s), 1);
        } else {
            DiscardModuleStream(s);
        }
    }
}

TEST_F(ModuleHost, NumberedWritingStopsWhereTheFieldEnds) {
    Install("tm_fake", Path("fake.wim"));
    Load();
    CImgBuff image;
    ASSERT_EQ(image.buffer->Create(3, 2, kImgGray8), 1);

    ImageModuleStream* s = CreateModuleStream(Wide(Path("b98.fk")).c_str(), 1, 3, 2, 8, 0, 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->lastNumber, UINT64_MAX);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(WriteModuleFrame(s, &image), 1);
    for (const char* n : {"b98.fk", "b99.fk", "b100.fk"}) EXPECT_TRUE(fs::exists(Path(n))) << n;
    EXPECT_EQ(CloseModuleStream(s), 1);

    s = CreateModuleStream(Wide(Path("c098.fk")).c_str(), 1, 3, 2, 8, 0, 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->lastNumber, 999u);
    int written = 0;
    while (written < 1000 && WriteModuleFrame(s, &image)) ++written;
    EXPECT_EQ(written, 902);  // c098 .. c999; c1000 does not fit the field
    EXPECT_TRUE(fs::exists(Path("c999.fk")));
    EXPECT_FALSE(fs::exists(Path("c1000.fk")));
    EXPECT_EQ(CloseModuleStream(s), 1);

    s = CreateModuleStream(Wide(Path("d0998.fk")).c_str(), 1, 3, 2, 8, 2, 0);  // frame limit 2
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(WriteModuleFrame(s, &image), 1);
    EXPECT_EQ(WriteModuleFrame(s, &image), 1);
    EXPECT_EQ(WriteModuleFrame(s, &image), 0);
    EXPECT_TRUE(fs::exists(Path("d0999.fk")));
    EXPECT_FALSE(fs::exists(Path("d1000.fk")));
    EXPECT_EQ(CloseModuleStream(s), 1);

    // Refused: no digits, a padded field beyond 19 digits, a number beyond 64 bits.
    for (const char* n : {"e.fk", "e00000000000000000001.fk", "e18446744073709551616.fk"})
        EXPECT_EQ(CreateModuleStream(Wide(Path(n)).c_str(), 1, 3, 2, 8, 0, 0), nullptr) << n;
    s = CreateModuleStream(Wide(Path("e0000000000000000001.fk")).c_str(), 1, 3, 2, 8, 0, 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->lastNumber, 9999999999999999999u);
    DiscardModuleStream(s);
}

TEST_F(ModuleHost, CreationChecksAndConversionOnWrite) {
    Install("tm_fake", Path("fake.wim"));
    Load();
    const std::wstring path = Wide(Path("w.fk"));
    struct Case {
        uint32_t mode;
        uint64_t width, height;
        uint16_t bits;
        uint64_t frames, time;
        bool made;
    } cases[] = {
        {0, 4, 2, 24, 1, 0, true},   {0, 4, 2, 24, 2, 0, false},  {0, 4, 2, 24, 1, 33, false},
        {2, 4, 2, 24, 0, 0, true},   {3, 4, 2, 24, 0, 0, false},  {3, 4, 2, 24, 0, 33, true},
        {4, 4, 2, 24, 1, 0, false},  {0, 0, 2, 24, 1, 0, false},  {0, 4, 2, 12, 1, 0, false},
        {0, 4, 2, 40, 1, 0, true},   {0, 2147483648u, 1, 8, 1, 0, false},
    };
    for (const Case& c : cases) {
        ImageModuleStream* s = CreateModuleStream(path.c_str(), c.mode, c.width, c.height, c.bits, c.frames, c.time);
        EXPECT_EQ(s != nullptr, c.made) << c.mode << " " << c.bits << " " << c.frames << " " << c.time;
        if (s) { EXPECT_EQ(CloseModuleStream(s), 1); }
    }
    EXPECT_EQ(CreateModuleStream(Wide(Path("w.png")).c_str(), 0, 4, 2, 24, 1, 0), nullptr);

    // 40 bits: no image converts to it, pixels in the layout still go.
    ImageModuleStream* s = CreateModuleStream(path.c_str(), 2, 4, 2, 40, 0, 0);
    ASSERT_NE(s, nullptr);
    CImgBuff image;
    ASSERT_EQ(image.buffer->Create(4, 2, kImgGray8), 1);
    EXPECT_EQ(WriteModuleFrame(s, &image), 0);
    uint8_t pixels[40] = {};
    EXPECT_EQ(WriteModulePixels(s, pixels), 1);
    EXPECT_EQ(CloseModuleStream(s), 1);

    // An HSV image is converted for a 48-bit stream, not written as it is.
    s = CreateModuleStream(path.c_str(), 0, 1, 1, 48, 1, 0);
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(image.buffer->Create(1, 1, kImgHsv16), 1);
    image.buffer->SetPixelHsv16(0, 0, 0, 65535, 65535);  // pure red
    CImgBuff expected;
    expected.CopyFrom(&image);
    ASSERT_EQ(expected.buffer->ConvertFormat(kImgRgb16), 1);
    EXPECT_EQ(WriteModuleFrame(s, &image), 1);
    CImgBuff small;
    ASSERT_EQ(small.buffer->Create(2, 1, kImgRgb16), 1);
    EXPECT_EQ(WriteModuleFrame(s, &small), 0);  // another size
    EXPECT_EQ(CloseModuleStream(s), 1);
    std::string bytes = kvtest::ReadFileBytes(Path("w.fk"));
    ASSERT_GE(bytes.size(), 6u);
    EXPECT_EQ(memcmp(bytes.data() + bytes.size() - 6, expected.buffer->pixels, 6), 0);
}

TEST(ImageModuleTables, SaveFormatIndexAndBitsToFormat) {
    struct Case {
        const wchar_t* ext;
        int32_t index;
    } cases[] = {{L"bmp", 0}, {L"JPG", 1}, {L"jpeg", 1}, {L"Png", 2}, {L"tif", 3}, {L"TIFF", 3},
                 {L"tiffany", 3}, {L"gif", -1}, {L"jp", -1}, {L"", -1}, {nullptr, -1}};
    for (const Case& c : cases) EXPECT_EQ(GetSaveFormatIndex(c.ext), c.index) << (c.ext ? c.ext : L"null");
    const uint32_t bits[] = {8, 16, 24, 32, 48, 96, 192, 40, 0, 7};
    const int32_t formats[] = {1, 2, 4, 3, 5, 6, 7, 0, 0, 0};
    for (size_t i = 0; i < std::size(bits); ++i) EXPECT_EQ(ImageModuleFormatOfBits(bits[i]), formats[i]) << bits[i];
}

}  // namespace
