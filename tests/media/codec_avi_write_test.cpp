// AVI writing: files we write pass ffprobe and decode in ffmpeg to our
// pixels (MJPG as djpeg decodes its frames), their chunk layout checked by
// an independent RIFF walker, OpenDML segments with a lowered RIFF limit,
// and the failures the writer must report.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <cstring>
#include <map>

#include "image/pool.h"
#include "media/codec.h"
#include "media/codec_avi.h"
#include "media/codec_mem.h"
#include "media/support/avi_support.h"
#include "media/support/media_support.h"
#include "support/testsupport.h"

using kvavi::FacadeReadAll;
using kvavi::FacadeWriteMovie;
using kvavi::Ffmpeg;
using kvavi::FfmpegFrames;
using kvavi::FfprobeVideo;
using kvavi::Get32;
using kvavi::Set32;
using kvmedia::Pattern;
using kvmedia::Wide;

namespace {

class AviWrite : public ::testing::Test {
protected:
    void SetUp() override { dir_ = std::make_unique<kvtest::TempDir>("avi_write"); }
    std::string File(const std::string& name) const { return dir_->file(name); }
    std::unique_ptr<kvtest::TempDir> dir_;
};

// The RIFF walker's findings for a file.
std::map<std::string, std::string> Walk(const std::string& path) {
    std::map<std::string, std::string> out;
    std::string text;
    const std::string script = kvtest::ReadFileBytes(std::string(KV_SOURCE_DIR) + "/tests/media/support/riff_walk.py");
    if (kvtest::RunPython(script, {path}, &text) != 0) return out;
    size_t at = 0;
    while (at < text.size()) {
        const size_t nl = text.find('\n', at);
        const std::string line = text.substr(at, nl - at);
        const size_t eq = line.find('=');
        if (eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
        at = nl == std::string::npos ? text.size() : nl + 1;
    }
    return out;
}

// Smooth shading with some grain, so that compressed frames vary in size.
std::string Picture(uint32_t w, uint32_t h, uint32_t bpp, uint32_t seed) {
    std::string p(size_t(w) * h * bpp, '\0');
    const std::string grain = Pattern(p.size(), seed);
    for (size_t i = 0; i < p.size(); ++i) {
        const size_t pixel = i / bpp, x = pixel % w, y = pixel / w;
        p[i] = static_cast<char>((x * 4 + y * 3 + (i % bpp) * 60 + seed * 17 + (uint8_t(grain[i]) & 15)) & 255);
    }
    return p;
}

AviStream* Create(const std::string& path, uint32_t w, uint32_t h, uint32_t bits, uint64_t interval,
                  AviWriterOptions options) {
    return codec_avi_create(path.c_str(), w, h, bits, interval, &options);
}

TEST_F(AviWrite, WrittenMoviesPassFfprobeAndDecodeToOurPixels) {
    constexpr uint32_t w = 61, h = 35, frames = 3;
    struct Case {
        const char* name;
        uint32_t codec;
        uint32_t bpp;
    };
    const Case cases[] = {{"raw_grey", kAviRaw, 1}, {"raw_rgb", kAviRaw, 3}, {"png_grey", kAviPng, 1},
                          {"png_rgb", kAviPng, 3},   {"mjpg_grey", kAviMjpg, 1}, {"mjpg_rgb", kAviMjpg, 3}};
    std::string decode, maps;
    int input = 0;
    for (const Case& c : cases) {
        std::string pixels;
        for (uint32_t f = 0; f < frames; ++f) pixels += Picture(w, h, c.bpp, f + 1);
        const std::string avi = File(std::string(c.name) + ".avi");
        ASSERT_EQ(FacadeWriteMovie(avi, w, h, c.bpp, 40000, pixels, c.codec), 1) << c.name;
        ASSERT_TRUE(kvtest::WriteFileBytes(avi + ".in", pixels));
        decode += " -i '" + avi + "'";
        const std::string in = std::to_string(input++);
        if (c.codec == kAviMjpg) {
            maps += " -map " + in + " -c:v copy -f image2 '" + avi + "_%d.jpg'";
        } else {
            // Grey frames come out of ffmpeg's palette lookup as R = G = B.
            maps += " -map " + in + " -f rawvideo -pix_fmt rgb24 '" + avi + ".ff'";
        }
    }
    ASSERT_TRUE(Ffmpeg(decode + maps));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string avi = File(std::string(c.name) + ".avi");
        const kvavi::Probe probe = FfprobeVideo(avi);
        EXPECT_TRUE(probe.ok);
        EXPECT_EQ(probe.frames, frames);
        EXPECT_EQ(probe.width, w);
        EXPECT_EQ(probe.height, h);
        EXPECT_EQ(probe.rate, "25/1");
        std::string expected = kvtest::ReadFileBytes(avi + ".in");
        if (c.codec == kAviMjpg) {
            expected.clear();
            for (uint32_t f = 1; f <= frames; ++f) {
                int fw, fh, channels;
                expected += kvmedia::DjpegPixels(avi + "_" + std::to_string(f) + ".jpg", &fw, &fh, &channels);
                EXPECT_EQ(uint32_t(channels), c.bpp);
            }
        } else {
            std::string rgb;
            for (char v : expected) rgb.append(c.bpp == 1 ? 3 : 1, v);
            EXPECT_TRUE(kvtest::ReadFileBytes(avi + ".ff") == rgb);
        }
        codec_file_info info{};
        EXPECT_TRUE(FacadeReadAll(avi, &info) == expected);
        EXPECT_EQ(info.bytes_per_pixel, c.bpp);
        EXPECT_EQ(info.frame_interval, 40000u);

        const auto walk = Walk(avi);
        EXPECT_EQ(walk.at("riffs"), "1");
        EXPECT_EQ(walk.at("problems"), "");
        EXPECT_EQ(walk.at("junk"), c.bpp == 1 ? "790" : "1814");
        EXPECT_EQ(walk.at("movi"), "2048");
        EXPECT_EQ(walk.at("idx1_entries"), "3");
        EXPECT_EQ(walk.at("idx1_ok"), "1");
        EXPECT_EQ(walk.at("pads_ok"), "1");
        EXPECT_EQ(walk.at("avih_frames"), "3");
        EXPECT_EQ(walk.at("strh_length"), "3");
        EXPECT_EQ(walk.at("ix00_count"), "0");
    }
}

TEST_F(AviWrite, RawFramesReadAlikeOnThePool) {
    // 640 x 480 frames are read in several bands of rows, here on the pool.
    ASSERT_EQ(PoolStart(), 1);
    for (uint32_t bpp : {1u, 3u}) {
        SCOPED_TRACE(bpp);
        std::string pixels;
        for (uint32_t f = 0; f < 3; ++f) pixels += Picture(640, 480, bpp, f);
        ASSERT_EQ(FacadeWriteMovie(File("pool.avi"), 640, 480, bpp, 40000, pixels, kAviRaw), 1);
        EXPECT_TRUE(FacadeReadAll(File("pool.avi")) == pixels);
    }
    PoolStop();
}

TEST_F(AviWrite, JpegQualityAsCjpegWouldUseIt) {
    // Facade callers get 75 for 0; direct callers 85.
    const std::string rgb = Picture(40, 24, 3, 9);
    ASSERT_TRUE(kvtest::WriteFileBytes(File("in.ppm"), "P6\n40 24\n255\n" + rgb));
    ASSERT_EQ(FacadeWriteMovie(File("q75.avi"), 40, 24, 3, 40000, rgb, kAviMjpg, 0), 1);
    AviStream* s = Create(File("q85.avi"), 40, 24, 24, 40000, {0, kAviMjpg, 0, 0, 0});
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(codec_avi_write_one(s, rgb.data()), 1);
    ASSERT_EQ(codec_avi_close(s), 1);
    for (const char* q : {"75", "85"}) {
        SCOPED_TRACE(q);
        const std::string avi = File(std::string("q") + q + ".avi");
        ASSERT_TRUE(Ffmpeg("-i '" + avi + "' -c:v copy -f image2 '" + avi + ".jpg'"));
        ASSERT_EQ(kvtest::RunCommand("cjpeg -quality " + std::string(q) + " -outfile '" + avi + ".cjpeg' '" +
                                     File("in.ppm") + "'"),
                  0);
        EXPECT_TRUE(kvtest::ReadFileBytes(avi + ".jpg") == kvtest::ReadFileBytes(avi + ".cjpeg"));
    }
}

TEST_F(AviWrite, NoisyPngFrameWrites) {
    // Noise does not compress: the frame is larger than its raw size.
    const std::string noise = Pattern(640 * 480 * 3, 3);
    ASSERT_EQ(FacadeWriteMovie(File("noise.avi"), 640, 480, 3, 40000, noise, kAviPng), 1);
    EXPECT_GT(kvtest::ReadFileBytes(File("noise.avi")).size(), noise.size() + 1024);
    EXPECT_TRUE(FacadeReadAll(File("noise.avi")) == noise);
    EXPECT_TRUE(FfmpegFrames(File("noise.avi"), "rgb24") == noise);
}

TEST_F(AviWrite, SlowAndFastRates) {
    struct Case {
        uint64_t interval;
        const char* rate;  // as ffprobe gives it
        uint64_t read;     // interval read back
    };
    // Rates below 1 fps keep the exact interval; above, the integer rate.
    const Case cases[] = {{2000000, "1/2", 2000000}, {1500000, "2/3", 1500000}, {33367, "29/1", 34482}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.interval);
        const std::string avi = File("rate.avi");
        ASSERT_EQ(FacadeWriteMovie(avi, 16, 8, 1, c.interval, Picture(16, 8, 1, 1) + Picture(16, 8, 1, 2), kAviRaw), 1);
        EXPECT_EQ(FfprobeVideo(avi).rate, c.rate);
        codec_file_info info{};
        EXPECT_FALSE(FacadeReadAll(avi, &info).empty());
        EXPECT_EQ(info.frame_interval, c.read);
    }
}

TEST_F(AviWrite, OpenDmlPastTheRiffLimit) {
    // 64 x 48 raw frames of 9216 bytes against a 256 KiB limit: about 27
    // frames a segment.
    constexpr uint32_t w = 64, h = 48, frames = 100, limit = 256 << 10;
    const std::string avi = File("odml.avi");
    AviStream* s = Create(avi, w, h, 24, 40000, {0, kAviRaw, 0, 0, limit});
    ASSERT_NE(s, nullptr);
    std::string pixels;
    for (uint32_t f = 0; f < frames; ++f) {
        const std::string one = Picture(w, h, 3, f);
        pixels += one;
        ASSERT_EQ(codec_avi_write_one(s, one.data()), 1) << f;
    }
    ASSERT_EQ(codec_avi_close(s), 1);

    const auto walk = Walk(avi);
    EXPECT_EQ(walk.at("problems"), "");
    const int riffs = std::stoi(walk.at("riffs"));
    EXPECT_GE(riffs, 3);
    EXPECT_LE(std::stoul(walk.at("max_riff")) + 8, limit);
    EXPECT_EQ(walk.at("indx_entries"), std::to_string(riffs));
    EXPECT_EQ(walk.at("ix00_count"), std::to_string(riffs));
    EXPECT_EQ(walk.at("ix00_frames"), std::to_string(frames));
    EXPECT_EQ(walk.at("ix00_ok"), "1");
    EXPECT_EQ(walk.at("idx1_ok"), "1");
    EXPECT_EQ(walk.at("avih_frames"), walk.at("idx1_entries"));
    EXPECT_EQ(walk.at("odml_in_hdrl"), "1");
    EXPECT_EQ(walk.at("dmlh_frames"), std::to_string(frames));
    EXPECT_EQ(walk.at("strh_length"), std::to_string(frames));

    const kvavi::Probe probe = FfprobeVideo(avi);
    EXPECT_EQ(probe.frames, frames);
    EXPECT_TRUE(FfmpegFrames(avi, "rgb24") == pixels);
    codec_file_info info{};
    EXPECT_TRUE(FacadeReadAll(avi, &info) == pixels);
    EXPECT_EQ(info.frame_count, frames);

    // The super index alone is read: a spoiled "idx1" changes nothing, and
    // bit 31 of a standard-index size only marks a frame that is no key frame.
    std::string bytes = kvtest::ReadFileBytes(avi);
    const size_t idx1 = bytes.find("idx1");
    memset(&bytes[idx1 + 8], 0xEE, 64);
    for (size_t ix = bytes.find("ix00"); ix != std::string::npos; ix = bytes.find("ix00", ix + 4)) {
        const uint32_t n = Get32(bytes, ix + 12);
        for (uint32_t i = 0; i < n; i += 2) Set32(bytes, ix + 36 + 8 * i, Get32(bytes, ix + 36 + 8 * i) | 0x80000000u);
    }
    ASSERT_TRUE(kvtest::WriteFileBytes(File("odml_marked.avi"), bytes));
    EXPECT_TRUE(FacadeReadAll(File("odml_marked.avi")) == pixels);
    // The OpenDML count bounds the frames read; a standard-index entry of
    // size 0 is left out.
    const size_t dmlh = bytes.find("dmlh") + 8;
    for (uint32_t declared : {60u, 1000u}) {
        SCOPED_TRACE(declared);
        Set32(bytes, dmlh, declared);
        ASSERT_TRUE(kvtest::WriteFileBytes(File("odml_count.avi"), bytes));
        EXPECT_TRUE(FacadeReadAll(File("odml_count.avi")) == pixels.substr(0, std::min(declared, frames) * w * h * 3));
    }
    const size_t second = bytes.find("ix00") + 32 + 8;
    Set32(bytes, second + 4, 0);
    ASSERT_TRUE(kvtest::WriteFileBytes(File("odml_empty.avi"), bytes));
    EXPECT_TRUE(FacadeReadAll(File("odml_empty.avi"), &info) == pixels.substr(0, w * h * 3) + pixels.substr(2 * w * h * 3));
    EXPECT_EQ(info.frame_count, frames - 1);

    // A recording that stopped in its third segment (the headers, counts
    // and super index are written at close) reads every whole frame.
    s = Create(File("stopped.avi"), w, h, 24, 40000, {0, kAviRaw, 0, 0, limit});
    ASSERT_NE(s, nullptr);
    for (uint32_t f = 0; f < 70; ++f) ASSERT_EQ(codec_avi_write_one(s, pixels.data() + f * w * h * 3), 1);
    const std::string stopped = kvtest::ReadFileBytes(File("stopped.avi"));
    codec_avi_close(s);
    ASSERT_TRUE(kvtest::WriteFileBytes(File("stopped_copy.avi"), stopped.substr(0, stopped.size() - 5000)));
    const std::string read = FacadeReadAll(File("stopped_copy.avi"), &info);
    EXPECT_EQ(info.frame_count, 69u);
    EXPECT_TRUE(read == pixels.substr(0, 69 * w * h * 3));
}

TEST_F(AviWrite, ClassicOnlyStopsAtTheLimit) {
    constexpr uint32_t w = 64, h = 48, limit = 100 << 10;
    const std::string avi = File("classic.avi");
    AviStream* s = Create(avi, w, h, 8, 40000, {1, kAviRaw, 0, 0, limit});
    ASSERT_NE(s, nullptr);
    const std::string grey = Picture(w, h, 1, 5);
    uint32_t written = 0;
    while (written < 100 && codec_avi_write_one(s, grey.data())) ++written;
    // Each frame takes a 3080-byte chunk and 16 bytes of "idx1", after the
    // 2060 bytes of header and "movi" list and before the 8 of "idx1".
    EXPECT_EQ(written, (limit - 2060 - 8) / (3080 + 16));
    EXPECT_EQ(codec_avi_write_one(s, grey.data()), 0);
    ASSERT_EQ(codec_avi_close(s), 1);
    const auto walk = Walk(avi);
    EXPECT_EQ(walk.at("riffs"), "1");
    EXPECT_LE(std::stoul(walk.at("max_riff")), limit);
    EXPECT_EQ(FfprobeVideo(avi).frames, written);
}

TEST_F(AviWrite, RefusedCreationsAndFrames) {
    const std::string path = File("refused.avi");
    const AviWriterOptions plain{0, kAviRaw, 0, 0, 0};
    EXPECT_EQ(Create(path, 16, 16, 16, 40000, plain), nullptr);
    EXPECT_EQ(Create(path, 16, 16, 32, 40000, plain), nullptr);
    EXPECT_EQ(Create(path, 16, 16, 24, 0, plain), nullptr);
    EXPECT_EQ(Create(path, 0, 16, 24, 40000, plain), nullptr);
    EXPECT_EQ(Create(path, 16, 16, 24, 40000, {2, kAviRaw, 0, 0, 0}), nullptr);
    EXPECT_EQ(Create(path, 16, 16, 24, 40000, {0, 3, 0, 0, 0}), nullptr);
    EXPECT_EQ(codec_avi_create("", 16, 16, 24, 40000, nullptr), nullptr);
    // A frame that cannot fit one RIFF chunk with the header is refused at
    // creation (here 1000 x 1000 x 3 against 2 MiB, and 1 GiB at the real limit).
    EXPECT_EQ(Create(path, 1000, 1000, 24, 40000, {0, kAviRaw, 0, 0, 2 << 20}), nullptr);
    EXPECT_EQ(Create(path, 32768, 32768, 24, 40000, plain), nullptr);
    // The facade refuses depths the writer has no layout for.
    codec_file_info info{kCodecKindMovie, 1, 0, 2, 16, 16, 40000};
    EXPECT_EQ(codec_file_create(Wide(path).c_str(), &info, nullptr), nullptr);
    // A compressed frame too large for any segment fails alone; smaller
    // frames go on in the next segments. Noise makes a PNG larger than its
    // raw size, which a limit just large enough for a raw frame cannot take.
    constexpr uint32_t side = 128, raw = side * side * 3;
    const std::string noise = Pattern(raw, 4), flat(raw, '\x40');
    AviStream shape{};
    shape.width = shape.height = side;
    shape.bit_count = 24;
    uint64_t noisy = 0;
    free(codec_png_mem_encode(&shape, reinterpret_cast<const uint8_t*>(noise.data()), &noisy));
    const uint32_t limit = 2048 + 12 + raw + 9 + 64;
    ASSERT_GT(2060 + noisy + 8 + 40, limit);
    AviStream* s = Create(path, side, side, 24, 40000, {0, kAviPng, 0, 0, limit});
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(codec_avi_write_one(s, flat.data()), 1);
    EXPECT_EQ(codec_avi_write_one(s, noise.data()), 0);
    // Small frames: hundreds fit a segment, whose indexes then need room.
    for (int i = 0; i < 400; ++i) ASSERT_EQ(codec_avi_write_one(s, flat.data()), 1) << i;
    EXPECT_EQ(codec_avi_close(s), 1);
    codec_file_info read{};
    EXPECT_FALSE(FacadeReadAll(path, &read).empty());
    EXPECT_EQ(read.frame_count, 401u);
    // The first segment, which went on after the refused frame, kept room
    // for both its indexes.
    const auto walk = Walk(path);
    EXPECT_EQ(walk.at("problems"), "");
    EXPECT_GE(std::stoi(walk.at("riffs")), 2);
    EXPECT_LE(std::stoul(walk.at("max_riff")) + 8, limit);
    EXPECT_EQ(FfprobeVideo(path).frames, 401u);
}

// Limits the size of files this process writes for as long as it lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old_);
        previous_ = signal(SIGXFSZ, SIG_IGN);
        rlimit r = old_;
        r.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &r);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        signal(SIGXFSZ, previous_);
    }

private:
    rlimit old_;
    sighandler_t previous_;
};

TEST_F(AviWrite, FailedWritesAreOverwrittenAndReported) {
    constexpr uint32_t w = 32, h = 32;
    const std::string path = File("full.avi");
    AviStream* s = Create(path, w, h, 24, 40000, {0, kAviRaw, 0, 0, 0});
    ASSERT_NE(s, nullptr);
    const std::string a = Picture(w, h, 3, 1), b = Picture(w, h, 3, 2);
    const uint64_t chunk = 8 + w * h * 3;
    ASSERT_EQ(codec_avi_write_one(s, a.data()), 1);
    {
        // Room for half of the next frame: it fails and is not counted.
        FileSizeLimit limit(2048 + 12 + chunk + chunk / 2);
        EXPECT_EQ(codec_avi_write_one(s, b.data()), 0);
    }
    ASSERT_EQ(codec_avi_write_one(s, b.data()), 1);
    ASSERT_EQ(codec_avi_close(s), 1);
    EXPECT_TRUE(FacadeReadAll(path) == a + b);
    EXPECT_TRUE(FfmpegFrames(path, "rgb24") == a + b);

    // When the indexes cannot be written, closing says so.
    s = Create(path, w, h, 24, 40000, {0, kAviRaw, 0, 0, 0});
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(codec_avi_write_one(s, a.data()), 1);
    {
        FileSizeLimit limit(2048 + 12 + chunk);
        EXPECT_EQ(codec_avi_close(s), 0);
    }
}

}  // namespace
