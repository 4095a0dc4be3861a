// BMP stills: files from ImageMagick and ffmpeg read as OpenCV decodes
// them, crafted bitmaps for the layouts and the broken files that tools do
// not make, and written files read back by identify and OpenCV.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>

#include "media/codec.h"
#include "media/support/media_support.h"
#include "support/testsupport.h"

using kvmedia::FacadeReadStill;
using kvmedia::FacadeWriteStill;
using kvmedia::Wide;

namespace {

struct ToolCase {
    const char* name;
    const char* command;  // %s: the source PNG, %o: the bitmap made
    uint64_t bpp;         // of the frame we read
};

const ToolCase kToolCases[] = {
    {"im_bmp3_rgb", "convert %s BMP3:%o", 3},
    {"im_bmp_v5_rgb", "convert %s BMP:%o", 3},
    {"im_bmp3_palette", "convert %s -colors 40 -type Palette -compress none BMP3:%o", 3},
    {"im_bmp_v5_alpha", "convert %s -alpha set -channel A -evaluate set 50% +channel BMP:%o", 3},
    {"ff_rgb555", "ffmpeg -v error -i %s -pix_fmt rgb555le -y %o", 3},
    {"ff_rgb565", "ffmpeg -v error -i %s -pix_fmt rgb565le -y %o", 3},
    {"ff_bgra", "ffmpeg -v error -i %s -pix_fmt bgra -y %o", 3},
    {"ff_bgr24", "ffmpeg -v error -i %s -pix_fmt bgr24 -y %o", 3},
    {"ff_pal8", "ffmpeg -v error -i %s -pix_fmt pal8 -y %o", 3},
    {"ff_gray", "ffmpeg -v error -i %s -pix_fmt gray -y %o", 1},
    {"ff_monob", "ffmpeg -v error -i %s -pix_fmt monob -y %o", 3},
};

std::string Fill(std::string pattern, const std::string& source, const std::string& output) {
    pattern.replace(pattern.find("%s"), 2, "'" + source + "'");
    pattern.replace(pattern.find("%o"), 2, "'" + output + "'");
    return pattern;
}

TEST(BmpTools, FilesOfImageMagickAndFfmpegReadAsOpenCvDecodesThem) {
    kvtest::TempDir dir("bmptools");
    const std::string source = dir.file("source.png");
    ASSERT_TRUE(kvmedia::Convert("-size 37x23 -seed 5 plasma:fractal -depth 8 '" + source + "'"));
    std::vector<kvmedia::OpenCvRequest> requests;
    for (const ToolCase& c : kToolCases) {
        const std::string path = dir.file(std::string(c.name) + ".bmp");
        ASSERT_EQ(kvtest::RunCommand(Fill(c.command, source, path) + " 2>/dev/null"), 0) << c.name;
        requests.push_back({path, c.bpp == 1 ? 1 : 3});
    }
    std::vector<std::string> expected = kvmedia::OpenCvPixels(requests);
    for (size_t i = 0; i < std::size(kToolCases); ++i) {
        SCOPED_TRACE(kToolCases[i].name);
        codec_file_info info{};
        std::string ours = FacadeReadStill(requests[i].path, &info);
        ASSERT_FALSE(ours.empty());
        EXPECT_EQ(info.frame_count, 1u);
        EXPECT_EQ(info.width, 37u);
        EXPECT_EQ(info.height, 23u);
        EXPECT_EQ(info.bytes_per_pixel, kToolCases[i].bpp);
        EXPECT_TRUE(ours == expected[i]);
    }
}

// A bitmap made byte by byte.
struct BmpSpec {
    int32_t width = 3;
    int32_t height = 2;
    uint16_t bits = 24;
    uint32_t compression = 0;
    uint32_t header_size = 40;
    uint32_t colours_used = 0;
    std::vector<uint32_t> palette;  // 0x00RRGGBB, written B, G, R, 0
    std::vector<uint32_t> masks;    // written after a 40-byte header, else inside a longer one
    uint32_t gap = 0;               // bytes between the palette and the pixels, named by the data offset
    std::string rows;               // stored rows, bottom row first
};

std::string Le(uint64_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
    return s;
}

std::string MakeBmp(const BmpSpec& s) {
    std::string info = Le(s.header_size, 4) + Le(static_cast<uint32_t>(s.width), 4) +
                       Le(static_cast<uint32_t>(s.height), 4) + Le(1, 2) + Le(s.bits, 2) + Le(s.compression, 4) +
                       Le(static_cast<uint32_t>(s.rows.size()), 4) + Le(0, 8) + Le(s.colours_used, 4) + Le(0, 4);
    std::string masks;
    for (uint32_t m : s.masks) masks += Le(m, 4);
    if (s.header_size > 40) {
        info += masks;
        masks.clear();
        info.resize(s.header_size, '\x77');
    }
    std::string palette;
    for (uint32_t p : s.palette) palette += Le(p, 3) + '\0';
    const uint32_t offset = static_cast<uint32_t>(14 + info.size() + masks.size() + palette.size() + s.gap);
    std::string file = "BM" + Le(offset + static_cast<uint32_t>(s.rows.size()), 4) + Le(0, 4) + Le(offset, 4);
    return file + info + masks + palette + std::string(s.gap, '\x55') + s.rows;
}

class BmpCrafted : public ::testing::Test {
protected:
    kvtest::TempDir dir_{"bmpcraft"};
    std::string Read(const BmpSpec& spec, codec_file_info* info = nullptr) {
        const std::string path = dir_.file("c.bmp");
        EXPECT_TRUE(kvtest::WriteFileBytes(path, MakeBmp(spec)));
        return FacadeReadStill(path, info);
    }
};

TEST_F(BmpCrafted, LayoutsReadAsStored) {
    struct Case {
        const char* why;
        BmpSpec spec;
        std::string pixels;  // the frame read, R, G, B
    };
    auto spec = [](auto change) {
        BmpSpec s;
        change(s);
        return s;
    };
    std::string bits1;
    for (int bit : {1, 0, 1, 0, 0, 1, 0, 1, 0, 1}) bits1 += std::string(3, bit ? '\xff' : '\0');
    const Case cases[] = {
        {"24 bits of width 3: 12-byte rows whose padding is ignored", spec([](BmpSpec& s) {
             s.rows = std::string("\x01\x02\x03\x04\x05\x06\x07\x08\x09\xee\xee\xee", 12) +
                      std::string("\x0a\x0b\x0c\x0d\x0e\x0f\x10\x11\x12\xdd\xdd\xdd", 12);
         }),
         std::string("\x0c\x0b\x0a\x0f\x0e\x0d\x12\x11\x10\x03\x02\x01\x06\x05\x04\x09\x08\x07", 18)},
        {"1 bit, black and white, is RGB", spec([](BmpSpec& s) {
             s.bits = 1;
             s.width = 10;
             s.height = 1;
             s.palette = {0x000000, 0xFFFFFF};
             s.rows = std::string("\xa5\x40\0\0", 4);
         }),
         bits1},
        {"16 bits without bit fields: 5 bits a channel, shifted up by 3", spec([](BmpSpec& s) {
             s.bits = 16;
             s.width = 2;
             s.height = 1;
             s.rows = std::string("\xff\x7f\x1f\x7c", 4);  // 0x7FFF, 0x7C1F
         }),
         std::string("\xf8\xf8\xf8\xf8\x00\xf8", 6)},
        {"4 bits with three entries: indices past them are black", spec([](BmpSpec& s) {
             s.bits = 4;
             s.width = 4;
             s.height = 1;
             s.colours_used = 3;
             s.palette = {0x102030, 0x405060, 0x708090};
             s.rows = std::string("\x02\x9f\0\0", 4);
         }),
         std::string("\x10\x20\x30\x70\x80\x90\0\0\0\0\0\0", 12)},
        {"32 bits, fields inside a 124-byte header, a gap the data offset names", spec([](BmpSpec& s) {
             s.bits = 32;
             s.width = 1;
             s.height = 1;
             s.compression = 3;
             s.header_size = 124;
             s.masks = {0x000000FF, 0x0000FF00, 0x00FF0000};
             s.gap = 6;
             s.rows = Le(0x00332211, 4);
         }),
         std::string("\x11\x22\x33", 3)},
        {"16 bits, 5-6-5 fields after a 40-byte header, a zero mask as one bit", spec([](BmpSpec& s) {
             s.bits = 16;
             s.width = 2;
             s.height = 1;
             s.compression = 3;
             s.masks = {0xF800, 0x07E0, 0};
             s.rows = Le(0xFFFF, 2) + Le(0x0821, 2);
         }),
         std::string("\xf8\xfc\x80\x08\x04\x80", 6)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        codec_file_info info{};
        EXPECT_EQ(Read(c.spec, &info), c.pixels);
        EXPECT_EQ(info.bytes_per_pixel, 3u);
    }
}

// Only an 8-bit bitmap with all 256 entries (i, i, i) is grey.
TEST_F(BmpCrafted, GreyNeedsTheWholeRamp) {
    BmpSpec s;
    s.bits = 8;
    s.width = 4;
    s.height = 1;
    for (uint32_t i = 0; i < 256; ++i) s.palette.push_back(i * 0x010101);
    s.rows = std::string("\x00\x10\x80\xff", 4);
    codec_file_info info{};
    EXPECT_EQ(Read(s, &info), s.rows);
    EXPECT_EQ(info.bytes_per_pixel, 1u);

    s.palette[7] = 0x070708;
    EXPECT_EQ(Read(s, &info).size(), 12u);
    EXPECT_EQ(info.bytes_per_pixel, 3u);

    // Sixteen grey entries are not the ramp, and index 200 is past them.
    s.palette.resize(16);
    s.palette[7] = 0x070707;
    s.colours_used = 16;
    s.rows = std::string("\x00\x05\xc8\x0f", 4);
    EXPECT_EQ(Read(s, &info), std::string("\0\0\0\x05\x05\x05\0\0\0\x0f\x0f\x0f", 12));
    EXPECT_EQ(info.bytes_per_pixel, 3u);
}

TEST_F(BmpCrafted, RefusedFiles) {
    BmpSpec good;
    good.rows = std::string(2 * 12, '\x40');
    ASSERT_FALSE(Read(good).empty());
    struct Case {
        const char* why;
        BmpSpec spec;
    };
    auto with = [&](auto change) {
        BmpSpec s = good;
        change(s);
        return s;
    };
    const Case cases[] = {
        {"top-down", with([](BmpSpec& s) { s.height = -2; })},
        {"zero width", with([](BmpSpec& s) { s.width = 0; })},
        {"run lengths of 8 bits", with([](BmpSpec& s) {
             s.bits = 8;
             s.compression = 1;
         })},
        {"run lengths of 4 bits", with([](BmpSpec& s) {
             s.bits = 4;
             s.compression = 2;
         })},
        {"bit fields at 24 bits", with([](BmpSpec& s) {
             s.compression = 3;
             s.masks = {0xFF0000, 0xFF00, 0xFF};
         })},
        {"bit fields at 8 bits", with([](BmpSpec& s) {
             s.bits = 8;
             s.compression = 3;
             s.masks = {0xE0, 0x1C, 0x3};
         })},
        {"2 bits", with([](BmpSpec& s) { s.bits = 2; })},
        {"header of 12 bytes", with([](BmpSpec& s) { s.header_size = 12; })},
        {"more colours than 4 bits hold", with([](BmpSpec& s) {
             s.bits = 4;
             s.colours_used = 17;
             s.palette.assign(17, 0);
         })},
        {"more than 256 colours", with([](BmpSpec& s) {
             s.bits = 8;
             s.colours_used = 257;
             s.palette.assign(257, 0);
         })},
        {"rows past the end of the file", with([](BmpSpec& s) { s.rows.pop_back(); })},
        {"a size whose rows cannot be in the file", with([](BmpSpec& s) {
             s.width = 0x7FFFFFFF;
             s.height = 0x7FFFFFFF;
         })},
    };
    for (const Case& c : cases) EXPECT_TRUE(Read(c.spec).empty()) << c.why;
    std::string bytes = MakeBmp(good);
    bytes[0] = 'X';
    ASSERT_TRUE(kvtest::WriteFileBytes(dir_.file("magic.bmp"), bytes));
    EXPECT_TRUE(FacadeReadStill(dir_.file("magic.bmp")).empty());
}

TEST(BmpWriter, WrittenFilesReadBackInOtherTools) {
    kvtest::TempDir dir("bmpw");
    const uint64_t w = 29, h = 17;  // rows of 29 and 87 bytes: both padded
    std::vector<kvmedia::OpenCvRequest> requests;
    std::vector<std::string> written;
    for (uint64_t bpp : {1u, 3u}) {
        SCOPED_TRACE(bpp);
        const std::string path = dir.file("w" + std::to_string(bpp) + ".bmp");
        const std::string pixels = kvmedia::Pattern(w * h * bpp, static_cast<uint32_t>(bpp));
        ASSERT_EQ(FacadeWriteStill(path, w, h, bpp, pixels.data()), 1);
        std::string described;
        ASSERT_EQ(kvtest::RunCommand("identify -format '%w %h %[type] %[bmp:format]' '" + path + "'", &described), 0);
        EXPECT_EQ(described.substr(0, 6), "29 17 ");
        const std::string bytes = kvtest::ReadFileBytes(path);
        const uint64_t stride = (w * bpp + 3) / 4 * 4;
        const uint64_t offset = bpp == 1 ? 1078 : 54;
        ASSERT_EQ(bytes.size(), offset + stride * h);
        // Padding bytes are 0.
        for (uint64_t y = 0; y < h; ++y)
            for (uint64_t i = w * bpp; i < stride; ++i) EXPECT_EQ(bytes[offset + y * stride + i], 0);
        codec_file_info info{};
        EXPECT_TRUE(FacadeReadStill(path, &info) == pixels);
        EXPECT_EQ(info.bytes_per_pixel, bpp);
        requests.push_back({path, static_cast<int>(bpp)});
        written.push_back(pixels);
    }
    std::vector<std::string> decoded = kvmedia::OpenCvPixels(requests);
    for (size_t i = 0; i < written.size(); ++i) EXPECT_TRUE(decoded[i] == written[i]) << i;
}

TEST(BmpWriter, CreateRefusals) {
    kvtest::TempDir dir("bmprefuse");
    const std::wstring path = Wide(dir.file("r.bmp"));
    struct Case {
        const char* why;
        codec_file_info info;
    };
    const Case cases[] = {
        {"16-bit grey", {kCodecKindStill, 1, 1, 2, 4, 4, 0}},
        {"48-bit colour", {kCodecKindStill, 1, 1, 6, 4, 4, 0}},
        {"two frames", {kCodecKindStill, 1, 2, 3, 4, 4, 0}},
        {"a file of 4 GiB or more", {kCodecKindStill, 1, 1, 3, 40000, 40000, 0}},
        {"a width beyond 31 bits", {kCodecKindStill, 1, 1, 1, 1ull << 31, 1, 0}},
    };
    for (const Case& c : cases) {
        codec_file* f = codec_file_create(path.c_str(), &c.info, nullptr);
        EXPECT_EQ(f, nullptr) << c.why;
        codec_file_close(f);
    }
    // Nothing reaches the disk before close.
    codec_file_info info{kCodecKindStill, 1, 1, 3, 4, 4, 0};
    codec_file* f = codec_file_create(path.c_str(), &info, nullptr);
    ASSERT_NE(f, nullptr);
    EXPECT_NE(access(dir.file("r.bmp").c_str(), F_OK), 0);
    EXPECT_EQ(codec_file_close(f), 1);
    EXPECT_EQ(access(dir.file("r.bmp").c_str(), F_OK), 0);
}

}  // namespace
