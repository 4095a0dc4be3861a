// MP4 writing: files checked by ffprobe, decoded by ffmpeg as our reader
// decodes them, luma quality against the source, the box layout by a box
// walker of its own, grey sources, bit rates, long intervals and failures.
#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdlib>

#include "media/codec.h"
#include "media/i420.h"
#include "media/mp4.h"
#include "media/support/media_support.h"
#include "media/support/mp4_support.h"
#include "support/testsupport.h"

using kvmedia::Wide;

namespace {

constexpr uint64_t kW = 640, kH = 480, kFrames = 40;

// A moving scene with smooth shading and sharp edges, as a camera might see.
std::string Scene(uint64_t w, uint64_t h, uint64_t frames) {
    std::string rgb(w * h * 3 * frames, '\0');
    uint8_t* p = reinterpret_cast<uint8_t*>(rgb.data());
    for (uint64_t k = 0; k < frames; ++k) {
        for (uint64_t y = 0; y < h; ++y) {
            for (uint64_t x = 0; x < w; ++x, p += 3) {
                const double fx = static_cast<double>(x) + 4.0 * static_cast<double>(k), fy = static_cast<double>(y);
                const double shade = 120 + 50 * std::sin(fx / 41.0) * std::cos(fy / 29.0);
                const bool disc = (fx - 300) * (fx - 300) + (fy - 240) * (fy - 240) < 90.0 * 90.0;
                p[0] = static_cast<uint8_t>(shade + (disc ? 60 : 0));
                p[1] = static_cast<uint8_t>(shade * 0.8 + static_cast<double>(y) / 8);
                p[2] = static_cast<uint8_t>(disc ? 40 : 255 - shade);
            }
        }
    }
    return rgb;
}

// Writes the frames through the facade; the close result.
int32_t WriteMovie(const std::string& path, uint64_t w, uint64_t h, uint64_t bpp, uint64_t interval,
                   const std::string& pixels, const codec_write_options* options) {
    codec_file_info info{kCodecKindMovie, 1, 0, bpp, w, h, interval};
    codec_file* f = codec_file_create(Wide(path).c_str(), &info, options);
    if (!f) return -1;
    const uint64_t bytes = w * h * bpp;
    for (uint64_t at = 0; at + bytes <= pixels.size(); at += bytes)
        EXPECT_EQ(codec_file_write_frame(f, 0, 0, pixels.data() + at), 1);
    return codec_file_close(f);
}

std::string Probe(const std::string& path) {
    std::string out;
    kvtest::RunCommand("ffprobe -v error -count_packets -show_streams '" + path + "'", &out);
    return out;
}

// Boxes, sample table and media of a written file, checked in python.
const char* kBoxWalker = R"(
import struct, sys
data = open(sys.argv[1], 'rb').read()
def boxes(at, end):
    while at < end:
        size, kind = struct.unpack('>I4s', data[at:at + 8])
        head = 8
        if size == 1:
            size, head = struct.unpack('>Q', data[at + 8:at + 16])[0], 16
        yield kind.decode(), at + head, at + size
        at += size
top = {k: (a, e) for k, a, e in boxes(0, len(data))}
assert list(top) == ['ftyp', 'mdat', 'moov'], list(top)
assert data[:32] == struct.pack('>I4s4sI4s4s4s4s', 32, b'ftyp', b'isom', 512, b'isom', b'iso2', b'avc1', b'mp41')
mdat_at, mdat_end = top['mdat']
assert mdat_at == 48 and (mdat_end - mdat_at) % 8 == 0
def find(kind, at, end):
    for k, a, e in boxes(at, end):
        if k == kind:
            return a, e
        if k in ('moov', 'trak', 'mdia', 'minf', 'stbl'):
            r = find(kind, a, e)
            if r:
                return r
a, e = find('stco', *top['moov'])
assert struct.unpack('>III', data[a:a + 12]) == (0, 1, 48)
a, e = find('stsz', *top['moov'])
count = struct.unpack('>I', data[a + 8:a + 12])[0]
sizes = struct.unpack('>%dI' % count, data[a + 12:a + 12 + 4 * count])
a, e = find('stss', *top['moov'])
sync = list(struct.unpack('>%dI' % struct.unpack('>I', data[a + 4:a + 8])[0], data[a + 8:e]))
a, e = find('mdhd', *top['moov'])
timescale = struct.unpack('>I', data[a + 12:a + 16])[0]
a, e = find('stts', *top['moov'])
stts = struct.unpack('>II', data[a + 8:a + 16]) if e - a >= 16 else ()
# Samples follow each other from 48; the sync ones hold IDR slices.
at, idr = 48, []
for n, size in enumerate(sizes):
    end, types = at + size, []
    while at < end:
        length = struct.unpack('>I', data[at:at + 4])[0]
        types.append(data[at + 4] & 31)
        at += 4 + length
    assert at == end
    if 5 in types:
        idr.append(n + 1)
assert at <= mdat_end and mdat_end - at < 8
print(count, timescale, *stts, 'sync', *sync, 'idr', *idr)
)";

class Mp4Writing : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new kvtest::TempDir("mp4write");
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string File(const std::string& name) { return dir_->file(name); }
    static kvtest::TempDir* dir_;
};
kvtest::TempDir* Mp4Writing::dir_ = nullptr;

TEST_F(Mp4Writing, WrittenMoviesPassFfprobeAndDecodeInFfmpegAsInOurReader) {
    const codec_write_options options{0, 0, 0, 0, 0, 30};
    const std::string path = File("rgb.mp4");
    const std::string scene = Scene(kW, kH, kFrames);
    ASSERT_EQ(WriteMovie(path, kW, kH, 3, 33333, scene, &options), 1);

    const std::string probe = Probe(path);
    for (const char* line : {"codec_name=h264", "width=640", "height=480", "r_frame_rate=30/1", "nb_read_packets=40"})
        EXPECT_NE(probe.find(line), std::string::npos) << line << "\n" << probe;

    std::string walk;
    ASSERT_EQ(kvtest::RunPython(kBoxWalker, {path}, &walk), 0) << walk;
    EXPECT_EQ(walk, "40 30 40 1 sync 1 31 idr 1 31\n");

    // ffmpeg's decode equals ours, frame for frame.
    const std::string expected = kvmp4::FfmpegYuv(path);
    codec_file* f = codec_file_open(Wide(path).c_str(), nullptr, nullptr);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->info.frame_count, kFrames);
    EXPECT_EQ(f->info.frame_interval, 33333u);
    std::string ours, frame(kW * kH * 3, '\0');
    for (uint64_t k = 0; k < kFrames; ++k) {
        ASSERT_EQ(codec_file_read_frame(f, 0, k, 0, frame.data()), 1);
        const H264Decoder& d = f->mp4_reader->decoder;
        for (uint32_t r = 0; r < d.height; ++r) ours.append(reinterpret_cast<const char*>(d.y) + r * d.y_stride, d.width);
        for (const uint8_t* plane : {d.u, d.v})
            for (uint32_t r = 0; r < d.height / 2; ++r)
                ours.append(reinterpret_cast<const char*>(plane) + r * d.uv_stride, d.width / 2);
    }
    codec_file_close(f);
    EXPECT_TRUE(ours == expected);

    // Luma against the source's own I420 at the default bit rate.
    std::string reference(kW * kH * 3 / 2 * kFrames, '\0');
    for (uint64_t k = 0; k < kFrames; ++k) {
        uint8_t* y = reinterpret_cast<uint8_t*>(reference.data()) + k * kW * kH * 3 / 2;
        rgb_to_i420(kW, kH, reinterpret_cast<const uint8_t*>(scene.data()) + k * kW * kH * 3, y, y + kW * kH,
                    y + kW * kH * 5 / 4);
    }
    ASSERT_TRUE(kvtest::WriteFileBytes(File("reference.yuv"), reference));
    std::string psnr;
    kvtest::RunCommand("ffmpeg -nostdin -v info -f rawvideo -pix_fmt yuv420p -s 640x480 -framerate 30 -i '" + File("reference.yuv") +
                           "' -i '" + path + "' -lavfi psnr -f null - 2>&1 | grep -o 'y:[0-9.]*' | tail -1",
                       &psnr);
    ASSERT_GT(psnr.size(), 2u) << "no PSNR from ffmpeg";
    EXPECT_GE(std::atof(psnr.c_str() + 2), 40.0) << psnr;
}

TEST_F(Mp4Writing, GreyFramesWriteTheFileOfTheirGreyColourFrames) {
    const uint64_t w = 96, h = 64, frames = 4;
    const std::string scene = Scene(w, h, frames);
    std::string grey(w * h * frames, '\0'), rgb;
    for (size_t i = 0; i < grey.size(); ++i) {
        grey[i] = scene[i * 3 + 1];
        rgb.append(3, grey[i]);
    }
    const codec_write_options options{0, 0, 0, 0, 2000000, 2};
    ASSERT_EQ(WriteMovie(File("grey8.mp4"), w, h, 1, 40000, grey, &options), 1);
    ASSERT_EQ(WriteMovie(File("grey24.mp4"), w, h, 3, 40000, rgb, &options), 1);
    EXPECT_EQ(kvtest::RunCommand("cmp -s '" + File("grey8.mp4") + "' '" + File("grey24.mp4") + "'"), 0);
}

TEST_F(Mp4Writing, SizesAndDepthsTheTrackCannotHoldAreRefused) {
    const struct {
        uint64_t w, h, bpp;
    } cases[] = {{641, 480, 3}, {640, 481, 3}, {640, 480, 2}, {640, 480, 6}, {70000, 2, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << " x " << c.h << " x " << c.bpp);
        codec_file_info info{kCodecKindMovie, 1, 0, c.bpp, c.w, c.h, 33333};
        EXPECT_EQ(codec_file_create(Wide(File("refused.mp4")).c_str(), &info, nullptr), nullptr);
        EXPECT_EQ(g_H264.references, 0u);
    }
}

TEST_F(Mp4Writing, BitRatesFollowQualityWithoutWrapping) {
    const struct {
        uint64_t w, h, interval;
        uint32_t quality, bitrate;
        uint64_t max;
        uint32_t target;
    } cases[] = {
        {640, 480, 33333, 100, 0, 110592000, 11059200},
        {640, 480, 33333, 0, 0, 110592000, 5000000},
        {640, 480, 33333, 0, 750000, 110592000, 750000},
        {640, 480, 33333, 500, 0, 110592000, 110592000},
        // 1024 × 1024 at 1000 frames a second passes 32 bits; the encoder takes at most INT32_MAX.
        {1024, 1024, 1000, 101, 0, 12582912000ull, INT32_MAX},
        {1024, 1024, 1000, 50, 0, 12582912000ull, 629145600},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << " x " << c.h << " quality " << c.quality);
        const Mp4WriterOptions options{c.quality, c.bitrate, 0};
        Mp4Writer* w = codec_mp4_create(File("rate.mp4").c_str(), c.w, c.h, 24, c.interval, &options);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->max_bitrate, c.max);
        ASSERT_EQ(h264_library_acquire(), 1);
        const std::string frame(c.w * c.h * 3, '\x40');
        EXPECT_EQ(codec_mp4_write(w, 1, frame.data()), 1);
        // Rates above the encoder's highest level are lowered until it takes them.
        if (c.max < INT32_MAX) {
            EXPECT_EQ(w->base_bitrate, c.target);
        } else {
            EXPECT_LE(w->base_bitrate, c.target);
            EXPECT_GE(w->base_bitrate, c.target / 16);
        }
        EXPECT_EQ(codec_mp4_close_writer(w), 1);
        h264_library_release();
    }
}

TEST_F(Mp4Writing, IntervalsAboveASecondCountMicroseconds) {
    const uint64_t w = 64, h = 48;
    const std::string frames = Scene(w, h, 3);
    ASSERT_EQ(WriteMovie(File("slow.mp4"), w, h, 3, 2000000, frames, nullptr), 1);
    std::string walk;
    ASSERT_EQ(kvtest::RunPython(kBoxWalker, {File("slow.mp4")}, &walk), 0) << walk;
    EXPECT_EQ(walk.substr(0, walk.find(" sync")), "3 1000000 3 2000000");
    EXPECT_NE(Probe(File("slow.mp4")).find("avg_frame_rate=1/2"), std::string::npos);
    codec_file* f = codec_file_open(Wide(File("slow.mp4")).c_str(), nullptr, nullptr);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->info.frame_interval, 2000000u);
    EXPECT_EQ(f->info.frame_count, 3u);
    codec_file_close(f);
}

// A frame that fails halfway leaves nothing behind: the samples after it
// start where it started and the next one is a key frame.
TEST_F(Mp4Writing, AFailedFrameLeavesTheFileAsBefore) {
    const uint64_t w = 160, h = 120, frames = 10;
    const std::string pixels = Scene(w, h, frames);
    const uint64_t bytes = w * h * 3;
    codec_file_info info{kCodecKindMovie, 1, 0, 3, w, h, 33333};
    codec_file* f = codec_file_create(Wide(File("failed.mp4")).c_str(), &info, nullptr);
    ASSERT_NE(f, nullptr);
    for (uint64_t k = 0; k < frames; ++k) {
        if (k == 5) {
            codec_mp4_fail_sample_for_testing(5, 40);
            EXPECT_EQ(codec_file_write_frame(f, 0, 0, pixels.data() + k * bytes), 0);
        }
        EXPECT_EQ(codec_file_write_frame(f, 0, 0, pixels.data() + k * bytes), 1);
    }
    ASSERT_EQ(codec_file_close(f), 1);
    std::string walk;
    ASSERT_EQ(kvtest::RunPython(kBoxWalker, {File("failed.mp4")}, &walk), 0) << walk;
    EXPECT_EQ(walk, "10 30 10 1 sync 1 6 idr 1 6\n");
    // ffmpeg decodes every frame without a complaint, as our reader does.
    std::string errors;
    kvtest::RunCommand("ffmpeg -nostdin -v error -i '" + File("failed.mp4") + "' -f null - 2>&1", &errors);
    EXPECT_EQ(errors, "");
    f = codec_file_open(Wide(File("failed.mp4")).c_str(), nullptr, nullptr);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->info.frame_count, frames);
    codec_file_close(f);
}

TEST_F(Mp4Writing, CloseReportsAFileThatCouldNotBeCompleted) {
    // Every write to /dev/full fails once the stream's buffer is flushed.
    const std::string full = File("full.mp4");
    ASSERT_EQ(symlink("/dev/full", full.c_str()), 0);
    codec_file_info info{kCodecKindMovie, 1, 0, 3, 64, 48, 33333};
    codec_file* f = codec_file_create(Wide(full).c_str(), &info, nullptr);
    ASSERT_NE(f, nullptr);
    const std::string frames = Scene(64, 48, 2);
    codec_file_write_frame(f, 0, 0, frames.data());
    codec_file_write_frame(f, 0, 0, frames.data() + 64 * 48 * 3);
    EXPECT_EQ(codec_file_close(f), 0);
    EXPECT_EQ(g_H264.references, 0u);
}

}  // namespace
