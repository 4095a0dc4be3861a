// MP4 reading: libx264 movies made by ffmpeg read frame for frame as
// ffmpeg decodes them, frame-exact random access, the scan's progress, and
// files that must be refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>

#include "media/codec.h"
#include "media/codec_formats.h"
#include "media/mp4.h"
#include "media/support/media_support.h"
#include "media/support/mp4_support.h"
#include "support/testsupport.h"

using kvmedia::Wide;

namespace {

constexpr const char* kSource = "-f lavfi -i testsrc2=size=320x240:rate=30:duration=2";
constexpr const char* kX264 = " -c:v libx264 -pix_fmt yuv420p ";
constexpr const char* kBaseline = "-profile:v baseline -bf 0 -g 30";

// The libx264 movies, each made on first use.
std::string Movie(const std::string& name) {
    std::string args;
    if (name == "base") args = std::string(kSource) + kX264 + kBaseline;
    if (name == "main") args = std::string(kSource) + kX264 + "-profile:v main -bf 0";
    if (name == "high") args = std::string(kSource) + kX264 + "-profile:v high -bf 0";
    if (name == "bframes") args = std::string(kSource) + kX264 + "-profile:v high -bf 2";
    if (name == "intra") args = std::string(kSource) + kX264 + "-g 1";
    if (name == "audio")
        args = "-f lavfi -i sine=frequency=440:duration=2 " + std::string(kSource) + " -map 0:a -map 1:v -c:a aac" +
               kX264 + kBaseline;
    if (name == "onegop")
        args = "-f lavfi -i testsrc2=size=64x48:rate=30:duration=2" + std::string(kX264) +
               "-profile:v baseline -bf 0 -x264-params keyint=600:scenecut=0";
    if (name == "rows180") args = "-f lavfi -i testsrc2=size=320x180:rate=30:duration=2" + std::string(kX264) + kBaseline;
    const std::string path = kvmp4::CachedMovie(name, args);
    EXPECT_FALSE(path.empty()) << "ffmpeg could not make " << name;
    return path;
}

// The decoder's current picture as tight I420 planes.
std::string HeldYuv(const Mp4Reader* r) {
    const H264Decoder& d = r->decoder;
    std::string out;
    for (uint32_t row = 0; row < d.height; ++row) out.append(reinterpret_cast<const char*>(d.y) + row * d.y_stride, d.width);
    for (const uint8_t* plane : {d.u, d.v})
        for (uint32_t row = 0; row < (d.height + 1) / 2; ++row)
            out.append(reinterpret_cast<const char*>(plane) + row * d.uv_stride, (d.width + 1) / 2);
    return out;
}

// Every frame read in order, as RGB and as the decoder's I420 picture.
void ReadAll(codec_file* f, std::string* rgb, std::string* yuv) {
    const uint64_t bytes = f->info.width * f->info.height * 3;
    std::string frame(bytes, '\0');
    for (uint64_t k = 0; k < f->info.frame_count; ++k) {
        ASSERT_EQ(codec_file_read_frame(f, 0, k, 0, frame.data()), 1) << "frame " << k;
        rgb->append(frame);
        if (yuv) yuv->append(HeldYuv(f->mp4_reader));
    }
}

TEST(Mp4Movies, LibX264MoviesReadAsFfmpegDecodesThem) {
    const struct {
        const char* name;
        uint64_t width, height;
    } cases[] = {
        {"base", 320, 240},
        {"high", 320, 240},
        {"audio", 320, 240},
        {"rows180", 320, 180},
    };
    // numpy's RGB of ffmpeg's pictures, at and around the key frames, one
    // run for each size.
    const uint64_t checked[] = {0, 1, 29, 30, 59};
    std::string yuv_by_size[2], ours_by_size[2];
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        codec_file* f = codec_file_open(Wide(Movie(c.name)).c_str(), nullptr, nullptr);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->info.kind, kCodecKindMovie);
        EXPECT_EQ(f->info.width, c.width);
        EXPECT_EQ(f->info.height, c.height);
        EXPECT_EQ(f->info.bytes_per_pixel, 3u);
        EXPECT_EQ(f->info.frame_count, 60u);
        EXPECT_EQ(f->info.frame_interval, 33333u);
        std::string rgb, yuv;
        ReadAll(f, &rgb, &yuv);
        EXPECT_EQ(codec_file_close(f), 1);
        const std::string expected_yuv = kvmp4::CachedYuv(Movie(c.name));
        ASSERT_EQ(expected_yuv.size(), c.width * c.height * 3 / 2 * 60);
        EXPECT_TRUE(yuv == expected_yuv);
        const int size = c.height == 240 ? 0 : 1;
        const uint64_t yuv_bytes = c.width * c.height * 3 / 2, rgb_bytes = c.width * c.height * 3;
        for (uint64_t k : checked) {
            yuv_by_size[size] += expected_yuv.substr(k * yuv_bytes, yuv_bytes);
            ours_by_size[size] += rgb.substr(k * rgb_bytes, rgb_bytes);
        }
    }
    for (int size = 0; size < 2; ++size) {
        const std::string expected = kvmp4::NumpyRgbOfYuv(yuv_by_size[size], 320, size == 0 ? 240 : 180);
        EXPECT_EQ(expected.size(), ours_by_size[size].size());
        EXPECT_TRUE(ours_by_size[size] == expected) << "size " << size;
    }
}

TEST(Mp4Movies, BFramesAndTracksWithoutSyncTableAreRefused) {
    for (const char* name : {"bframes", "intra"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(codec_file_open(Wide(Movie(name)).c_str(), nullptr, nullptr), nullptr);
    }
}

// Above the Baseline profile the decoder holds pictures back even without
// B-frames: a jump must still give the frame asked for, not the one before.
TEST(Mp4Movies, FramesReadInAnyOrderEqualTheSequentialDecode) {
    const uint64_t bytes = 320 * 240 * 3;
    // Backwards across the key frame at 30, forwards across it, a random
    // order, and each frame twice in a row.
    std::vector<uint64_t> order = {59, 31, 30, 29, 0, 28, 29, 30, 31, 45, 12, 44, 13};
    std::vector<uint64_t> shuffled(60);
    for (uint64_t k = 0; k < 60; ++k) shuffled[k] = k;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
    order.insert(order.end(), shuffled.begin(), shuffled.end());
    for (const char* name : {"high", "main", "base"}) {
        SCOPED_TRACE(name);
        codec_file* f = codec_file_open(Wide(Movie(name)).c_str(), nullptr, nullptr);
        ASSERT_NE(f, nullptr);
        std::string sequential;
        ReadAll(f, &sequential, nullptr);
        ASSERT_EQ(sequential.size(), 60 * bytes);
        std::string frame(bytes, '\0');
        uint64_t wrong = 0;
        for (uint64_t k : order) {
            for (int twice = 0; twice < 2; ++twice) {
                ASSERT_EQ(codec_file_read_frame(f, 0, k, 0, frame.data()), 1);
                if (frame != sequential.substr(k * bytes, bytes)) ++wrong;
            }
        }
        EXPECT_EQ(wrong, 0u) << "of " << 2 * order.size() << " reads";
        // The next frame continues the decoder; the same frame is not decoded again.
        ASSERT_EQ(codec_file_read_frame(f, 0, 10, 0, frame.data()), 1);
        const ISVCDecoder* decoder = f->mp4_reader->decoder.decoder;
        ASSERT_EQ(codec_file_read_frame(f, 0, 11, 0, frame.data()), 1);
        EXPECT_EQ(f->mp4_reader->decoder.decoder, decoder);
        EXPECT_TRUE(frame == sequential.substr(11 * bytes, bytes));
        const uint8_t* picture = f->mp4_reader->decoder.y;
        ASSERT_EQ(codec_file_read_frame(f, 0, 11, 0, frame.data()), 1);
        EXPECT_EQ(f->mp4_reader->decoder.y, picture);
        EXPECT_EQ(f->mp4_reader->decoder.last_sample, 12u);
        // Frames past the end are refused.
        EXPECT_EQ(codec_file_read_frame(f, 0, 60, 0, frame.data()), 0);
        EXPECT_EQ(codec_mp4_read_frames(f, 0, 59, 2, frame.data()), 0);
        EXPECT_EQ(codec_mp4_read_frames(f, 1, 0, 1, frame.data()), 0);
        EXPECT_EQ(codec_mp4_read_frames(f, 0, 60, 0, frame.data()), 1);
        EXPECT_EQ(codec_file_close(f), 1);
    }
}

struct ProgressLog {
    std::vector<std::tuple<uint64_t, uint64_t, int32_t>> calls;
    size_t stop_after = SIZE_MAX;  // phase-0 calls that return 1
};

int32_t LogProgress(uint64_t done, uint64_t total, int32_t phase, void* context) {
    auto* log = static_cast<ProgressLog*>(context);
    log->calls.emplace_back(done, total, phase);
    if (phase != 0) return 1;
    return --log->stop_after == 0 ? 0 : 1;
}

// One damaged sample in a movie of one group of pictures: the frames before
// it read as before, it and every later frame are dropped, and the open
// decodes each sample about once (not again from the key frame for every
// later frame).
TEST(Mp4Movies, ADamagedSampleDropsTheRestOfItsGroupInOnePass) {
    const std::string movie = Movie("onegop");
    codec_file* f = codec_file_open(Wide(movie).c_str(), nullptr, nullptr);
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(f->info.frame_count, 60u);
    std::string honest;
    ReadAll(f, &honest, nullptr);
    const Mp4Sample damaged = f->mp4_reader->samples[10];
    for (uint32_t k = 1; k < 60; ++k) ASSERT_EQ(f->mp4_reader->samples[k].sync, 0) << k;
    codec_file_close(f);
    const uint64_t bytes = 64 * 48 * 3;

    const struct {
        const char* why;
        uint32_t at;  // bytes into the sample
        std::string with;
    } cases[] = {
        {"a NAL length past the sample", 0, kvmp4::Be32(0x7FFFFFF0)},
        {"a NAL header of a forbidden form", 4, std::string(1, '\xFF')},
    };
    kvtest::TempDir dir("mp4_damaged");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        std::string file = kvtest::ReadFileBytes(movie);
        file.replace(damaged.offset + c.at, c.with.size(), c.with);
        const std::string path = dir.file("damaged.mp4");
        ASSERT_TRUE(kvtest::WriteFileBytes(path, file));
        ProgressLog log;
        f = codec_file_open(Wide(path).c_str(), LogProgress, &log);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->info.frame_count, 10u);
        EXPECT_LE(f->mp4_reader->fed_samples, 2u * 60u);
        // Progress still counts every frame once.
        EXPECT_EQ(log.calls.size(), 62u);
        std::string read;
        ReadAll(f, &read, nullptr);
        EXPECT_TRUE(read == honest.substr(0, 10 * bytes));
        codec_file_close(f);
    }
}

TEST(Mp4Movies, TheScanReportsProgressAndCanBeCancelled) {
    ProgressLog full;
    codec_file* f = codec_file_open(Wide(Movie("base")).c_str(), LogProgress, &full);
    ASSERT_NE(f, nullptr);
    std::string sequential;
    ReadAll(f, &sequential, nullptr);
    codec_file_close(f);
    ASSERT_EQ(full.calls.size(), 62u);
    EXPECT_EQ(full.calls.front(), std::make_tuple(0ull, 60ull, 1));
    for (uint64_t k = 1; k <= 60; ++k) EXPECT_EQ(full.calls[k], std::make_tuple(k, 60ull, 0));
    EXPECT_EQ(full.calls.back(), std::make_tuple(60ull, 60ull, 2));

    // Stopped after 10 frames: the rest stay planned and read as before.
    ProgressLog cancelled;
    cancelled.stop_after = 10;
    f = codec_file_open(Wide(Movie("base")).c_str(), LogProgress, &cancelled);
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(cancelled.calls.size(), 12u);
    EXPECT_EQ(cancelled.calls.back(), std::make_tuple(60ull, 60ull, 2));
    EXPECT_EQ(f->info.frame_count, 60u);
    std::string again;
    ReadAll(f, &again, nullptr);
    EXPECT_TRUE(again == sequential);
    codec_file_close(f);
}

}  // namespace
