// AVI files past the 2 GB and 1 GiB marks: one of ours written and read
// back, one of ffmpeg's read frame-exact against ffmpeg's frame checksums.
// Both are skipped when the disk has no room for them.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cstring>
#include <sstream>

#include <zlib.h>

#include "media/codec.h"
#include "media/support/avi_support.h"
#include "media/support/media_support.h"
#include "support/testsupport.h"

using kvmedia::Wide;

namespace {

bool Room(const std::string& dir, uint64_t bytes) {
    struct statvfs st;
    return statvfs(dir.c_str(), &st) == 0 && uint64_t{st.f_bavail} * st.f_frsize > bytes;
}

// The frame with its number stamped at both ends.
void Stamp(std::string& frame, uint32_t n) {
    memcpy(&frame[0], &n, 4);
    memcpy(&frame[frame.size() - 4], &n, 4);
}

TEST(AviLarge, OwnFilePast2GBReadsBack) {
    constexpr uint64_t w = 1920, h = 1080, frame_bytes = w * h * 3, frames = 350;  // 2.18 GB
    kvtest::TempDir dir("avi_large");
    if (!Room(dir.path(), frames * frame_bytes + (uint64_t{1} << 30))) GTEST_SKIP() << "no disk room for 2.2 GB";
    const std::string path = dir.file("large.avi");
    std::string frame = kvmedia::Pattern(frame_bytes, 11);
    codec_file_info info{kCodecKindMovie, 1, 0, 3, w, h, 40000};
    codec_file* f = codec_file_create(Wide(path).c_str(), &info, nullptr);
    ASSERT_NE(f, nullptr);
    for (uint32_t n = 0; n < frames; ++n) {
        Stamp(frame, n);
        ASSERT_EQ(codec_file_write_frame(f, 0, 0, frame.data()), 1) << n;
    }
    ASSERT_EQ(codec_file_close(f), 1);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_GT(uint64_t(st.st_size), 0x80000000u);

    f = codec_file_open(Wide(path).c_str(), nullptr, nullptr);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->info.frame_count, frames);
    std::string read(frame_bytes, '\0');
    for (uint32_t n = 0; n < frames; ++n) {
        ASSERT_EQ(codec_file_read_frame(f, 0, n, 0, read.data()), 1) << n;
        Stamp(frame, n);
        ASSERT_TRUE(read == frame) << n;
    }
    codec_file_close(f);
    EXPECT_EQ(kvavi::FfprobeVideo(path).frames, frames);
}

TEST(AviLarge, FfmpegFilePast1GiBReadsFrameExact) {
    constexpr uint64_t w = 1280, h = 720, frame_bytes = w * h * 3, frames = 420;  // 1.16 GB
    kvtest::TempDir dir("avi_ffmpeg_large");
    if (!Room(dir.path(), frames * frame_bytes + (uint64_t{1} << 30))) GTEST_SKIP() << "no disk room for 1.2 GB";
    const std::string path = dir.file("ffmpeg.avi");
    ASSERT_TRUE(kvavi::Ffmpeg("-f lavfi -i testsrc2=s=1280x720:r=25 -frames " + std::to_string(frames) +
                              " -c:v rawvideo -pix_fmt bgr24 '" + path + "'"));
    // ffmpeg continues in "AVIX" segments past 1 GiB.
    FILE* file = fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    char head[12];
    ASSERT_EQ(fread(head, 1, 8, file), 8u);
    uint32_t riff;
    memcpy(&riff, head + 4, 4);
    ASSERT_EQ(fseeko(file, 8 + off_t{riff} + (riff & 1), SEEK_SET), 0);
    ASSERT_EQ(fread(head, 1, 12, file), 12u);
    fclose(file);
    EXPECT_EQ(std::string(head + 8, 4), "AVIX");

    // framecrc gives the Adler-32 of each frame, started at 0.
    std::string crcs;
    ASSERT_EQ(kvtest::RunCommand("ffmpeg -nostdin -v error -i '" + path + "' -pix_fmt rgb24 -f framecrc - 2>/dev/null", &crcs), 0);
    std::vector<uint32_t> expected;
    std::istringstream in(crcs);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        expected.push_back(static_cast<uint32_t>(std::stoul(line.substr(line.rfind(' ') + 1), nullptr, 16)));
    }
    ASSERT_EQ(expected.size(), frames);
    codec_file* f = codec_file_open(Wide(path).c_str(), nullptr, nullptr);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->info.frame_count, frames);
    std::string read(frame_bytes, '\0');
    for (uint32_t n = 0; n < frames; ++n) {
        ASSERT_EQ(codec_file_read_frame(f, 0, n, 0, read.data()), 1) << n;
        const uint32_t sum =
            static_cast<uint32_t>(adler32(0, reinterpret_cast<const Bytef*>(read.data()), static_cast<uInt>(frame_bytes)));
        ASSERT_EQ(sum, expected[n]) << n;
    }
    codec_file_close(f);
}

}  // namespace
