// Frame sizes a file's data cannot back: small MP4, AVI and TIFF files
// whose headers declare frames of gigabytes are refused at open, before any
// caller allocates a frame; each beside its honest twin, the same data with
// a true size, which opens. The hostile files are the regression inputs of
// the fuzz targets, the twins their seeds.
#include <gtest/gtest.h>

#include <string>

#include "media/codec.h"
#include "media/support/media_support.h"

using kvmedia::Wide;

namespace {

std::string FuzzInput(const std::string& name) { return std::string(KV_SOURCE_DIR) + "/tests/fuzz/" + name; }

TEST(HostileFrameSizes, AreRefusedAtOpenWhileTheirTwinsOpen) {
    const struct {
        const char* hostile;  // under tests/fuzz/regressions
        const char* twin;     // under tests/fuzz/corpus
        uint64_t width, height;  // the twin's
        const char* why;
    } cases[] = {
        {"mp4/tkhd_65535.mp4", "mp4/x264_baseline.mp4", 64, 48,
         "track header 65535 x 65535 over a 64 x 48 stream and sample description"},
        {"mp4/tkhd_avc1_65535.mp4", "mp4/x264_baseline.mp4", 64, 48,
         "track header and sample description 65535 x 65535 over 64 x 48 pictures"},
        {"avi/mjpg_strf_7000.avi", "avi/mjpg.avi", 16, 12, "format 7000 x 7000 over 16 x 12 JPEG frames"},
        {"avi/png_strf_7000.avi", "avi/png.avi", 16, 12, "format 7000 x 7000 over 16 x 12 PNG frames"},
        {"tiff/plain16_60000.tif", "tiff/plain16_strips_cut.tif", 16, 16,
         "uncompressed 60000 x 60000 x 16 bits in 1 KB"},
        {"tiff/lzw_65000.tif", "tiff/lzw_literals.tif", 16, 16, "LZW 65000 x 65000 in 600 bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        codec_file* f = codec_file_open(Wide(FuzzInput(std::string("regressions/") + c.hostile)).c_str(), nullptr,
                                        nullptr);
        EXPECT_EQ(f, nullptr);
        if (f) codec_file_close(f);
        f = codec_file_open(Wide(FuzzInput(std::string("corpus/") + c.twin)).c_str(), nullptr, nullptr);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->info.width, c.width);
        EXPECT_EQ(f->info.height, c.height);
        codec_file_close(f);
    }
}

}  // namespace
