// The facade: extension table, path conversion, argument refusals, broken
// files and failing writes.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include <zlib.h>

#include "media/codec.h"
#include "media/support/media_support.h"
#include "support/testsupport.h"

using kvmedia::FacadeReadStill;
using kvmedia::FacadeWriteStill;
using kvmedia::Wide;

namespace {

TEST(CodecExtension, TableAndCharacterCounts) {
    struct Case {
        const wchar_t* path;
        uint64_t kind;
        uint64_t format;
    };
    const Case cases[] = {
        {L"A.PNG", 1, 1},  {L"a.png", 1, 1},     {L"dir.x/b.Jpg", 1, 2}, {L"a.jpeg", 1, 2}, {L"a.JPEG", 1, 2},
        {L"a.tif", 1, 3},  {L"a.tiff", 1, 3},    {L"a.bmp", 1, 4},       {L"a.dcm", 1, 5},  {L"a.avi", 2, 4},
        {L"a.MP4", 2, 1},  {L"a.gif", 0, 0},     {L"png", 0, 0},         {L".png", 1, 1},   {L"a.pngx", 0, 0},
        {L"a.jpe", 0, 0},  {L"a.tiffx", 0, 0},   {L"apng", 0, 0},        {L"a.p\u00c5g", 0, 0},
    };
    for (const Case& c : cases) {
        uint64_t format = 99;
        EXPECT_EQ(codec_extension_lookup(c.path, wcslen(c.path), &format), c.kind) << c.path;
        EXPECT_EQ(format, c.format) << c.path;
    }
    EXPECT_EQ(codec_file_open(L"png", nullptr, nullptr), nullptr);
    EXPECT_EQ(codec_file_open(nullptr, nullptr, nullptr), nullptr);
}

TEST(CodecPath, ConvertsToUtf8) {
    EXPECT_EQ(codec_path_to_ansi(nullptr), nullptr);
    char* empty = codec_path_to_ansi(L"");
    ASSERT_NE(empty, nullptr);
    EXPECT_STREQ(empty, "");
    free(empty);
    char* text = codec_path_to_ansi(L"/tmp/\u753b\u50cf-\u00e9-\U0001F600.png");
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "/tmp/\xe7\x94\xbb\xe5\x83\x8f-\xc3\xa9-\xf0\x9f\x98\x80.png");
    free(text);
    const wchar_t lone_surrogate[] = {L'a', static_cast<wchar_t>(0xD800), L'.', L'p', L'n', L'g', 0};
    EXPECT_EQ(codec_path_to_ansi(lone_surrogate), nullptr);
}

TEST(CodecFacade, JapaneseFileNameRoundTrip) {
    kvtest::TempDir dir("names");
    std::string path = dir.file("\xe7\x94\xbb\xe5\x83\x8f 1.png");
    const uint8_t px[4] = {9, 8, 7, 6};
    ASSERT_EQ(FacadeWriteStill(path, 2, 2, 1, px), 1);
    EXPECT_EQ(codec_file_exists(Wide(path).c_str()), 1);
    EXPECT_EQ(codec_file_exists(Wide(dir.file("missing.png")).c_str()), 0);
    // A folder or a pipe named like an output file is no file to overwrite.
    ASSERT_EQ(mkdir(dir.file("folder.png").c_str(), 0700), 0);
    EXPECT_EQ(codec_file_exists(Wide(dir.file("folder.png")).c_str()), 0);
    ASSERT_EQ(mkfifo(dir.file("pipe.png").c_str(), 0600), 0);
    EXPECT_EQ(codec_file_exists(Wide(dir.file("pipe.png")).c_str()), 0);
    EXPECT_EQ(codec_file_exists(nullptr), 0);
    EXPECT_EQ(FacadeReadStill(path), std::string(reinterpret_cast<const char*>(px), 4));
}

TEST(CodecFacade, CreateRefusals) {
    kvtest::TempDir dir("create");
    const std::wstring png = Wide(dir.file("a.png"));
    const codec_file_info good{kCodecKindStill, 1, 1, 1, 4, 4, 0};
    struct Case {
        const char* why;
        std::wstring path;
        codec_file_info info;
    };
    auto with = [&](auto change) {
        codec_file_info i = good;
        change(i);
        return i;
    };
    const Case cases[] = {
        {"dicom is read only", Wide(dir.file("a.dcm")), good},
        {"unknown extension", Wide(dir.file("a.gif")), good},
        {"zero width", png, with([](codec_file_info& i) { i.width = 0; })},
        {"zero height", png, with([](codec_file_info& i) { i.height = 0; })},
        {"zero bytes per pixel", png, with([](codec_file_info& i) { i.bytes_per_pixel = 0; })},
        {"still with an interval", png, with([](codec_file_info& i) { i.frame_interval = 40000; })},
        {"still without frames", png, with([](codec_file_info& i) { i.frame_count = 0; })},
        {"two images", png, with([](codec_file_info& i) { i.image_count = 2; })},
        {"movie without interval", Wide(dir.file("a.avi")), with([](codec_file_info& i) { i.kind = 2; })},
        {"width beyond the format", png, with([](codec_file_info& i) { i.width = 1ull << 32; })},
        {"no folder", Wide(dir.file("none/a.png")), good},
    };
    for (const Case& c : cases) {
        codec_file* f = codec_file_create(c.path.c_str(), &c.info, nullptr);
        EXPECT_EQ(f, nullptr) << c.why;
        codec_file_close(f);
    }
    EXPECT_EQ(codec_file_create(png.c_str(), nullptr, nullptr), nullptr);
    EXPECT_EQ(codec_file_close(nullptr), 0);
}

TEST(CodecFacade, ReadAndWriteArgumentChecks) {
    kvtest::TempDir dir("args");
    const uint8_t px[6] = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(FacadeWriteStill(dir.file("a.png"), 3, 2, 1, px), 1);
    codec_file* f = codec_file_open(Wide(dir.file("a.png")).c_str(), nullptr, nullptr);
    ASSERT_NE(f, nullptr);
    uint8_t out[6] = {};
    EXPECT_EQ(codec_file_read_frame(f, 1, 0, 0, out), 0);
    EXPECT_EQ(codec_file_read_frame(f, 0, 1, 0, out), 0);
    EXPECT_EQ(codec_file_read_frame(f, 0, 0, 0, nullptr), 0);
    EXPECT_EQ(codec_file_read_frame(nullptr, 0, 0, 0, out), 0);
    EXPECT_EQ(codec_file_write_frame(f, 0, 0, px), 0) << "a reading handle takes no frames";
    EXPECT_EQ(codec_file_read_frame(f, 0, 0, 0, out), 1) << "refusals leave the handle usable";
    EXPECT_EQ(memcmp(out, px, 6), 0);
    EXPECT_EQ(codec_file_close(f), 1);
}

// Broken files fail to open or to read, never crash (also run under the
// sanitizers).
TEST(CodecFacade, BrokenFilesAreRefused) {
    kvtest::TempDir dir("broken");
    ASSERT_TRUE(kvmedia::Convert("-size 40x30 -seed 2 plasma:fractal '" + dir.file("good.png") + "'"));
    ASSERT_TRUE(kvmedia::Convert("-size 40x30 -seed 2 plasma:fractal -quality 90 '" + dir.file("good.jpg") + "'"));
    const std::string png = kvtest::ReadFileBytes(dir.file("good.png"));
    const std::string jpg = kvtest::ReadFileBytes(dir.file("good.jpg"));
    ASSERT_GT(png.size(), 100u);
    ASSERT_GT(jpg.size(), 300u);

    // PNG header with a huge size and a matching checksum, the data of the
    // small picture.
    std::string huge_png = png;
    const char huge_dims[8] = {0, 0x0f, 0x42, 0x3f, 0, 0x0f, 0x42, 0x3f};  // 999999 x 999999
    memcpy(&huge_png[16], huge_dims, 8);
    const uint32_t c = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(&huge_png[12]), 17));
    const char crc_bytes[4] = {char(c >> 24), char(c >> 16), char(c >> 8), char(c)};
    memcpy(&huge_png[29], crc_bytes, 4);

    // JPEG frame header declaring 60000 x 60000.
    std::string huge_jpg = jpg;
    size_t sof = huge_jpg.find("\xff\xc0");
    ASSERT_NE(sof, std::string::npos);
    memcpy(&huge_jpg[sof + 5], "\xea\x60\xea\x60", 4);

    auto flip = [](std::string s, size_t from) {
        for (size_t i = from; i < s.size(); i += 7) s[i] = static_cast<char>(~s[i]);
        return s;
    };
    const std::pair<const char*, std::string> cases[] = {
        {"empty.png", ""},
        {"empty.jpg", ""},
        {"signature.png", "\x89PNG\r\n"},
        {"notpng.png", "GIF89a and more bytes than a signature"},
        {"truncated.png", png.substr(0, png.size() / 2)},
        {"truncated_header.png", png.substr(0, 20)},
        {"truncated.jpg", jpg.substr(0, jpg.size() / 2)},
        {"truncated_header.jpg", jpg.substr(0, 100)},
        {"corrupt.png", flip(png, 40)},
        {"corrupt.jpg", flip(jpg, jpg.size() / 2)},
        {"huge.png", huge_png},
        {"huge.jpg", huge_jpg},
    };
    for (const auto& [name, bytes] : cases) {
        ASSERT_TRUE(kvtest::WriteFileBytes(dir.file(name), bytes));
        EXPECT_TRUE(FacadeReadStill(dir.file(name)).empty()) << name;
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(codec_file_open(Wide(dir.file("notpng.png")).c_str(), nullptr, nullptr), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "png:Bad sig.\n");
    ASSERT_EQ(mkdir(dir.file("folder.png").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(dir.file("folder.jpg").c_str(), 0700), 0);
    EXPECT_EQ(codec_file_open(Wide(dir.file("folder.png")).c_str(), nullptr, nullptr), nullptr);
    EXPECT_EQ(codec_file_open(Wide(dir.file("folder.jpg")).c_str(), nullptr, nullptr), nullptr);
    EXPECT_EQ(codec_file_open(Wide(dir.file("missing.jpg")).c_str(), nullptr, nullptr), nullptr);
    // The intact files still read.
    EXPECT_FALSE(FacadeReadStill(dir.file("good.png")).empty());
    EXPECT_FALSE(FacadeReadStill(dir.file("good.jpg")).empty());
}

// A disk that refuses the data: the close reports the failure.
TEST(CodecFacade, FailedFinalWriteFailsTheClose) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    kvtest::TempDir dir("full");
    std::string pixels = kvmedia::Pattern(32 * 32 * 3, 4);
    for (const char* name : {"full.png", "full.jpg", "full.tif", "full.bmp"}) {
        ASSERT_EQ(symlink("/dev/full", dir.file(name).c_str()), 0);
        codec_file_info info{kCodecKindStill, 1, 1, 3, 32, 32, 0};
        codec_file* f = codec_file_create(Wide(dir.file(name)).c_str(), &info, nullptr);
        ASSERT_NE(f, nullptr) << name;
        codec_file_write_frame(f, 0, 0, pixels.data());
        EXPECT_EQ(codec_file_close(f), 0) << name;
    }
}

}  // namespace
