// JPEG stills: files made by ImageMagick and cjpeg read exactly as djpeg
// decodes them, files we write decoded by djpeg, CMYK conversion, re-reads.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <algorithm>

#include <jpeglib.h>

#include "media/codec.h"
#include "media/support/media_support.h"
#include "support/testsupport.h"

using kvmedia::Convert;
using kvmedia::DjpegPixels;
using kvmedia::FacadeReadStill;
using kvmedia::FacadeWriteStill;
using kvmedia::Wide;

namespace {

class JpegFixtures : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new kvtest::TempDir("jpeg");
        ASSERT_TRUE(Convert("-size 61x35 -seed 5 plasma:fractal -depth 8 " + dir_->file("base.ppm")));
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string File(const std::string& name) { return dir_->file(name); }
    static kvtest::TempDir* dir_;
};
kvtest::TempDir* JpegFixtures::dir_ = nullptr;

TEST_F(JpegFixtures, ReadsGreyAndColourAsDjpegDecodes) {
    struct Case {
        const char* name;
        const char* command;  // %s: the base image, %o: the output
        uint64_t bpp;
    };
    const Case cases[] = {
        {"magick_colour.jpg", "convert %s -quality 85 %o", 3},
        {"magick_grey.jpg", "convert %s -colorspace Gray -quality 85 %o", 1},
        {"cjpeg_colour.jpg", "cjpeg -quality 70 -outfile %o %s", 3},
        {"cjpeg_grey.jpg", "cjpeg -grayscale -outfile %o %s", 1},
        {"cjpeg_progressive.jpg", "cjpeg -progressive -optimize -outfile %o %s", 3},
        {"magick_444.jpg", "convert %s -sampling-factor 1x1 -quality 95 %o", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string command = c.command;
        command.replace(command.find("%s"), 2, "'" + File("base.ppm") + "'");
        command.replace(command.find("%o"), 2, "'" + File(c.name) + "'");
        ASSERT_EQ(kvtest::RunCommand(command + " 2>/dev/null"), 0);
        int w = 0, h = 0, channels = 0;
        std::string expected = DjpegPixels(File(c.name), &w, &h, &channels);
        ASSERT_FALSE(expected.empty());
        codec_file_info info{};
        std::string ours = FacadeReadStill(File(c.name), &info);
        EXPECT_EQ(info.width, 61u);
        EXPECT_EQ(info.height, 35u);
        EXPECT_EQ(info.bytes_per_pixel, c.bpp);
        EXPECT_EQ(static_cast<uint64_t>(channels), c.bpp);
        EXPECT_TRUE(ours == expected);
    }
}

TEST_F(JpegFixtures, ReadingTwiceGivesThePictureTwice) {
    ASSERT_EQ(kvtest::RunCommand("cjpeg -outfile '" + File("twice.jpg") + "' '" + File("base.ppm") + "'"), 0);
    codec_file* f = codec_file_open(Wide(File("twice.jpg")).c_str(), nullptr, nullptr);
    ASSERT_NE(f, nullptr);
    std::string first(61 * 35 * 3, '\0'), second(61 * 35 * 3, '\0');
    EXPECT_EQ(codec_file_read_frame(f, 0, 0, 0, first.data()), 1);
    EXPECT_EQ(codec_file_read_frame(f, 0, 0, 0, second.data()), 1);
    EXPECT_TRUE(first == second);
    EXPECT_EQ(codec_file_close(f), 1);
}

// A 28-byte progressive, arithmetic-coded header claiming 65309 x 10244
// pixels: opening it reports the size without allocating the decoder's
// picture-sized coefficient buffers (a gigabyte); only a read would.
TEST_F(JpegFixtures, OpeningAHugeProgressiveHeaderAllocatesNothingPictureSized) {
    const uint8_t bytes[] = {0xff, 0xd8, 0x1f, 0x3c, 0x0e, 0xff, 0xca, 0x00, 0x0b, 0x08, 0x28, 0x04, 0xff, 0x1d,
                             0x01, 0x01, 0x11, 0x00, 0xff, 0xda, 0x00, 0x08, 0x01, 0x01, 0x1f, 0x2c, 0x28, 0x00};
    const std::string path = File("huge_progressive.jpg");
    FILE* out = fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    fwrite(bytes, 1, sizeof bytes, out);
    fclose(out);
    const size_t before = mallinfo2().hblkhd;
    codec_file* f = codec_file_open(Wide(path).c_str(), nullptr, nullptr);
    const size_t during = mallinfo2().hblkhd;
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->info.width, 65309u);
    EXPECT_EQ(f->info.height, 10244u);
    EXPECT_LT(during - std::min(during, before), size_t{64} << 20);
    codec_file_close(f);
}

// Writes a CMYK JPEG as Adobe applications do (inverted samples) with the
// library itself: every pixel of column block i has the samples cmyk[i].
void WriteCmykJpeg(const std::string& path, const uint8_t (*cmyk)[4], int blocks) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    jpeg_stdio_dest(&c, f);
    c.image_width = 16 * blocks;
    c.image_height = 16;
    c.input_components = 4;
    c.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 100, TRUE);
    c.write_Adobe_marker = TRUE;
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(c.image_width * 4);
    for (int x = 0; x < 16 * blocks; ++x) memcpy(&row[x * 4], cmyk[x / 16], 4);
    while (c.next_scanline < c.image_height) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    fclose(f);
}

TEST_F(JpegFixtures, CmykConvertsToRgb) {
    const uint8_t cmyk[4][4] = {{255, 255, 255, 255}, {40, 90, 200, 0}, {0, 255, 255, 255}, {255, 127, 255, 200}};
    WriteCmykJpeg(File("cmyk.jpg"), cmyk, 4);
    codec_file_info info{};
    std::string rgb = FacadeReadStill(File("cmyk.jpg"), &info);
    ASSERT_EQ(info.bytes_per_pixel, 3u);
    ASSERT_EQ(rgb.size(), 64u * 16u * 3u);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const int k = cmyk[i][3];
        for (int ch = 0; ch < 3; ++ch) {
            const int expected = k - (255 - cmyk[i][ch]) * k / 255;
            const int got = static_cast<uint8_t>(rgb[((8 * 64) + i * 16 + 8) * 3 + ch]);
            EXPECT_NEAR(got, expected, 3) << "channel " << ch;
        }
    }
}

TEST_F(JpegFixtures, WrittenFilesDecodeWithDjpeg) {
    const int w = 48, h = 32;
    for (uint64_t bpp : {1u, 3u}) {
        SCOPED_TRACE(bpp);
        // Smooth ramps survive compression closely.
        std::string pixels(w * h * bpp, '\0');
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (uint64_t c = 0; c < bpp; ++c) pixels[(y * w + x) * bpp + c] = static_cast<char>(x * 2 + y * 2 + c * 40);
        std::string path = File("out" + std::to_string(bpp) + ".jpeg");
        codec_write_options options{95, 0, 0, 0, 0, 0};
        ASSERT_EQ(FacadeWriteStill(path, w, h, bpp, pixels.data(), &options), 1);
        int dw = 0, dh = 0, channels = 0;
        std::string decoded = DjpegPixels(path, &dw, &dh, &channels);
        ASSERT_EQ(dw, w);
        ASSERT_EQ(dh, h);
        ASSERT_EQ(static_cast<uint64_t>(channels), bpp);
        double worst = 0;
        for (size_t i = 0; i < pixels.size(); ++i)
            worst = std::max(worst, std::fabs(double(uint8_t(decoded[i])) - double(uint8_t(pixels[i]))));
        EXPECT_LE(worst, 8.0);
        EXPECT_TRUE(FacadeReadStill(path) == decoded);
    }
}

TEST_F(JpegFixtures, QualityOptionReachesTheEncoder) {
    std::string pixels = kvmedia::Pattern(64 * 64 * 3, 9);
    codec_write_options low{10, 0, 0, 0, 0, 0};
    ASSERT_EQ(FacadeWriteStill(File("q10.jpg"), 64, 64, 3, pixels.data(), &low), 1);
    ASSERT_EQ(FacadeWriteStill(File("q75.jpg"), 64, 64, 3, pixels.data()), 1);
    codec_write_options zero{};
    ASSERT_EQ(FacadeWriteStill(File("q0.jpg"), 64, 64, 3, pixels.data(), &zero), 1);
    std::string q;
    ASSERT_EQ(kvtest::RunCommand("identify -format '%Q' '" + File("q75.jpg") + "'", &q), 0);
    EXPECT_EQ(q, "75");
    ASSERT_EQ(kvtest::RunCommand("identify -format '%Q' '" + File("q10.jpg") + "'", &q), 0);
    EXPECT_EQ(q, "10");
    EXPECT_EQ(kvtest::ReadFileBytes(File("q0.jpg")), kvtest::ReadFileBytes(File("q75.jpg")));
}

TEST_F(JpegFixtures, CreateRefusesOtherDepthsAndAnIncompleteFileFailsAtClose) {
    uint8_t px[6] = {};
    for (uint64_t bpp : {2u, 4u, 6u, 12u}) EXPECT_EQ(FacadeWriteStill(File("bad.jpg"), 1, 1, bpp, px), 0) << bpp;
    // Created but never written: the picture is incomplete.
    codec_file_info info{kCodecKindStill, 1, 1, 3, 8, 8, 0};
    codec_file* f = codec_file_create(Wide(File("empty.jpg")).c_str(), &info, nullptr);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(codec_file_close(f), 0);
}

}  // namespace
