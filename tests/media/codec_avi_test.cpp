// AVI reading: files made by ffmpeg read frame-exact against ffmpeg's own
// decode (djpeg for MJPG frames, numpy for I420), and crafted files (broken
// counts, sizes, offsets, nesting, rates, truncation) read as far as they
// are sound and refused where they are not.
#include <gtest/gtest.h>

#include <cstring>

#include "media/avi_riff.h"
#include "media/codec.h"
#include "media/codec_avi.h"
#include "media/support/avi_support.h"
#include "media/support/media_support.h"
#include "support/testsupport.h"

using kvavi::Build;
using kvavi::Chunk;
using kvavi::FacadeReadAll;
using kvavi::Ffmpeg;
using kvavi::FfmpegFrames;
using kvavi::FindChunk;
using kvavi::FramesOf;
using kvavi::Get32;
using kvavi::HdrlOf;
using kvavi::Idx1Entry;
using kvavi::Set32;
using kvmedia::Wide;

namespace {

constexpr int kFrames = 4;

class AviRead : public ::testing::Test {
protected:
    static void SetUpTestSuite() { dir_ = new kvtest::TempDir("avi_read"); }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string File(const std::string& name) { return dir_->file(name); }
    // testsrc2 movies of kFrames frames made by one ffmpeg run: each output
    // is (file name, output options).
    static void MakeAll(int w, int h, const std::vector<std::pair<std::string, std::string>>& outputs) {
        std::string args = "-f lavfi -i testsrc2=s=" + std::to_string(w) + "x" + std::to_string(h) + ":r=25";
        for (const auto& [name, options] : outputs)
            args += " -map 0 -frames " + std::to_string(kFrames) + " " + options + " '" + File(name) + "'";
        ASSERT_TRUE(Ffmpeg(args));
    }
    static std::string Make(const std::string& name, int w, int h, const std::string& options) {
        MakeAll(w, h, {{name, options}});
        return File(name);
    }
    static std::string Bytes(const std::string& path) { return kvtest::ReadFileBytes(path); }
    static std::string Save(const std::string& name, const std::string& bytes) {
        EXPECT_TRUE(kvtest::WriteFileBytes(File(name), bytes));
        return File(name);
    }
    static kvtest::TempDir* dir_;
};
kvtest::TempDir* AviRead::dir_ = nullptr;

// RGB of I420 planes as numpy computes it: Y' = Y - 16, chroma from
// (x/2, y/2) of planes ceil(w/2) x ceil(h/2), divisions truncated.
std::string NumpyI420(const std::string& planes_path, int w, int h) {
    static const char* script = R"(
import sys, numpy as np
path, w, h = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
cw, ch = (w + 1) // 2, (h + 1) // 2
frame = w * h + 2 * cw * ch
raw = np.fromfile(path, dtype=np.uint8)
out = []
def tdiv(a): return np.where(a < 0, -((-a) // 1000), a // 1000)
for f in range(len(raw) // frame):
    p = raw[f * frame:(f + 1) * frame].astype(np.int64)
    y = p[:w * h].reshape(h, w) - 16
    u = p[w * h:w * h + cw * ch].reshape(ch, cw) - 128
    v = p[w * h + cw * ch:].reshape(ch, cw) - 128
    u = np.repeat(np.repeat(u, 2, 0), 2, 1)[:h, :w]
    v = np.repeat(np.repeat(v, 2, 0), 2, 1)[:h, :w]
    rgb = np.dstack([tdiv(1164 * y + 1793 * v), tdiv(1164 * y - 213 * u - 533 * v), tdiv(1164 * y + 2112 * u)])
    out.append(np.clip(rgb, 0, 255).astype(np.uint8))
np.concatenate(out).tofile(path + '.rgb')
)";
    if (kvtest::RunPython(script, {planes_path, std::to_string(w), std::to_string(h)}, nullptr) != 0) return {};
    return kvtest::ReadFileBytes(planes_path + ".rgb");
}

struct Made {
    const char* name;
    const char* options;
    const char* expected;  // ffmpeg pixel format of the expected frames, "djpeg" or "i420"
};

TEST_F(AviRead, FfmpegMoviesReadFrameExact) {
    const Made cases[] = {
        {"bgr24", "-c:v rawvideo -pix_fmt bgr24", "rgb24"},
        {"bgra", "-c:v rawvideo -pix_fmt bgra", "rgb24"},
        {"pal8", "-c:v rawvideo -pix_fmt pal8", "rgb24"},
        {"png", "-c:v png -vtag 'png '", "rgb24"},
        {"mjpg", "-c:v mjpeg -q:v 4", "djpeg"},
        {"i420", "-c:v rawvideo -pix_fmt yuv420p", "yuv420p"},
    };
    const std::pair<int, int> sizes[] = {{64, 48}, {62, 46}};
    auto name = [](const Made& c, int w) { return std::string(c.name) + "_" + std::to_string(w) + ".avi"; };
    // One ffmpeg run makes the movies of a size, one decodes them all.
    std::string decode;
    for (const auto& [w, h] : sizes) {
        std::vector<std::pair<std::string, std::string>> outputs;
        for (const Made& c : cases) outputs.push_back({name(c, w), c.options});
        MakeAll(w, h, outputs);
        for (const Made& c : cases) {
            const std::string avi = File(name(c, w));
            decode += " -i '" + avi + "'";
        }
    }
    int input = 0;
    std::string maps;
    for (const auto& [w, h] : sizes) {
        for (const Made& c : cases) {
            const std::string avi = File(name(c, w));
            const std::string in = std::to_string(input++);
            if (std::string(c.expected) == "djpeg") {
                maps += " -map " + in + " -c:v copy -f image2 '" + avi + "_%03d.jpg'";
            } else {
                maps += " -map " + in + " -f rawvideo -pix_fmt " + c.expected + " '" + avi + ".raw'";
            }
        }
    }
    ASSERT_TRUE(Ffmpeg(decode + maps));

    for (const auto& [w, h] : sizes) {
        for (const Made& c : cases) {
            const std::string avi = File(name(c, w));
            SCOPED_TRACE(avi);
            std::string expected;
            if (std::string(c.expected) == "djpeg") {
                for (int i = 1; i <= kFrames; ++i) {
                    char jpg[24];
                    snprintf(jpg, sizeof jpg, "_%03d.jpg", i);
                    int fw, fh, channels;
                    expected += kvmedia::DjpegPixels(avi + jpg, &fw, &fh, &channels);
                }
            } else if (std::string(c.expected) == "yuv420p") {
                expected = NumpyI420(avi + ".raw", w, h);
            } else {
                expected = kvtest::ReadFileBytes(avi + ".raw");
            }
            ASSERT_EQ(expected.size(), size_t(w) * h * 3 * kFrames);
            codec_file_info info{};
            const std::string ours = FacadeReadAll(avi, &info);
            EXPECT_EQ(info.kind, kCodecKindMovie);
            EXPECT_EQ(info.frame_count, uint64_t(kFrames));
            EXPECT_EQ(info.width, uint64_t(w));
            EXPECT_EQ(info.height, uint64_t(h));
            EXPECT_EQ(info.bytes_per_pixel, 3u);
            EXPECT_EQ(info.frame_interval, 40000u);
            EXPECT_TRUE(ours == expected);
        }
    }
}

TEST_F(AviRead, GreyJpegFramesOfAColourStreamReadAsGrey) {
    // Grey JPEGs muxed as they are: ffmpeg declares the stream 24-bit.
    ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc2=s=62x46:r=25 -frames 3 -pix_fmt gray '" + File("g%d.pgm") + "'"));
    for (int i = 1; i <= 3; ++i) {
        const std::string n = std::to_string(i);
        ASSERT_EQ(kvtest::RunCommand("cjpeg -grayscale -outfile '" + File("g" + n + ".jpg") + "' '" + File("g" + n + ".pgm") + "'"), 0);
    }
    const std::string avi = File("grey_mjpg.avi");
    ASSERT_TRUE(Ffmpeg("-framerate 25 -i '" + File("g%d.jpg") + "' -c:v copy '" + avi + "'"));
    ASSERT_EQ(Get32(Bytes(avi), FindChunk(Bytes(avi), "strf") + 8 + 12) >> 16, 24u);
    std::string expected;
    for (int i = 1; i <= 3; ++i) {
        int w, h, ch;
        expected += kvmedia::DjpegPixels(File("g" + std::to_string(i) + ".jpg"), &w, &h, &ch);
        ASSERT_EQ(ch, 1);
    }
    codec_file_info info{};
    const std::string ours = FacadeReadAll(avi, &info);
    EXPECT_EQ(info.bytes_per_pixel, 1u);
    EXPECT_EQ(info.frame_count, 3u);
    EXPECT_TRUE(ours == expected);
}

TEST_F(AviRead, RateAndRefusedStreams) {
    MakeAll(64, 48, {{"ntsc.avi", "-c:v mjpeg -r 30000/1001"},
                     {"y800.avi", "-c:v rawvideo -pix_fmt gray"},
                     {"mpng.avi", "-c:v png"},
                     {"grey_png.avi", "-c:v png -pix_fmt gray -vtag 'png '"}});
    codec_file_info info{};
    EXPECT_FALSE(FacadeReadAll(File("ntsc.avi"), &info).empty());
    EXPECT_EQ(info.frame_interval, 34482u);
    // ffmpeg's own tags for grey raw and PNG frames, and grey PNG streams
    // declared with 40 bits, are not frames this reader takes.
    for (const char* name : {"y800.avi", "mpng.avi", "grey_png.avi"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(codec_file_open(Wide(File(name)).c_str(), nullptr, nullptr), nullptr);
    }
}

// ---- Crafted files ---------------------------------------------------------

class AviCrafted : public AviRead {
protected:
    // A 64 x 48 MJPG movie and its frames as read here (exact against djpeg
    // above), and a 62 x 46 raw 24-bit top-down movie and its frames as
    // ffmpeg decodes them; made when first asked for.
    static const std::string& Mjpg() {
        if (mjpg_.empty()) {
            mjpg_ = Bytes(Make("base_mjpg.avi", 64, 48, "-c:v mjpeg"));
            mjpg_frames_ = FacadeReadAll(File("base_mjpg.avi"));
        }
        return mjpg_;
    }
    static const std::string& MjpgFrames() { return Mjpg(), mjpg_frames_; }
    static const std::string& Raw() {
        if (raw_.empty()) {
            raw_ = Bytes(Make("base_raw.avi", 62, 46, "-c:v rawvideo -pix_fmt bgr24"));
            raw_frames_ = FfmpegFrames(File("base_raw.avi"), "rgb24");
        }
        return raw_;
    }
    static const std::string& RawFrames() { return Raw(), raw_frames_; }
    // Frames read from crafted bytes; -1 when the open fails.
    static int64_t Read(const std::string& name, const std::string& bytes, std::string* frames = nullptr,
                        codec_file_info* info = nullptr) {
        codec_file_info local{};
        codec_file_info* i = info ? info : &local;
        const std::string path = Save(name, bytes);
        codec_file* f = codec_file_open(Wide(path).c_str(), nullptr, nullptr);
        if (!f) return -1;
        *i = f->info;
        codec_file_close(f);
        std::string all = FacadeReadAll(path);
        if (frames) *frames = all;
        return static_cast<int64_t>(i->frame_count);
    }
    static std::string mjpg_, raw_, mjpg_frames_, raw_frames_;
};
std::string AviCrafted::mjpg_, AviCrafted::raw_, AviCrafted::mjpg_frames_, AviCrafted::raw_frames_;

std::string Frames(const std::string& all, uint64_t frame_bytes, std::initializer_list<int> which) {
    std::string out;
    for (int i : which) out += all.substr(i * frame_bytes, frame_bytes);
    return out;
}

TEST_F(AviCrafted, HeaderCountsAboveAndBelowTheTruth) {
    const uint64_t fb = 64 * 48 * 3;
    std::string frames;
    for (uint32_t declared : {2u, 100u}) {
        std::string b = Mjpg();
        Set32(b, FindChunk(b, "avih") + 8 + 16, declared);
        SCOPED_TRACE(declared);
        EXPECT_EQ(Read("count.avi", b, &frames), declared < kFrames ? int64_t(declared) : int64_t(kFrames));
        EXPECT_TRUE(frames == MjpgFrames().substr(0, fb * std::min<uint32_t>(declared, kFrames)));
    }
}

TEST_F(AviCrafted, ZeroLengthChunksAndEntriesAreLeftOut) {
    const uint64_t fb = 64 * 48 * 3;
    const std::string hdrl = HdrlOf(Mjpg());
    std::vector<Chunk> chunks = FramesOf(Mjpg());
    chunks.insert(chunks.begin() + 1, Chunk{"00dc", ""});
    chunks.insert(chunks.begin() + 3, Chunk{"01wb", "audio"});
    const std::vector<uint32_t> at = kvavi::MoviOffsets(chunks);
    std::vector<Idx1Entry> idx1;
    for (size_t i = 0; i < chunks.size(); ++i)
        idx1.push_back(Idx1Entry{chunks[i].fourcc, at[i], static_cast<uint32_t>(chunks[i].data.size())});
    std::string frames;
    // With "idx1", and by the chunk scan without it.
    EXPECT_EQ(Read("zero_idx1.avi", Build(hdrl, chunks, &idx1), &frames), kFrames);
    EXPECT_TRUE(frames == MjpgFrames());
    EXPECT_EQ(Read("zero_scan.avi", Build(hdrl, chunks, nullptr), &frames), kFrames);
    EXPECT_TRUE(frames == MjpgFrames());
    // An entry of size 0 drops its frame; one of its sizes counts the header.
    idx1[2].size = 0;
    idx1[0].size += 8;
    EXPECT_EQ(Read("zero_entry.avi", Build(hdrl, chunks, &idx1), &frames), kFrames - 1);
    EXPECT_TRUE(frames == Frames(MjpgFrames(), fb, {0, 2, 3}));
}

TEST_F(AviCrafted, Idx1OffsetsPastTheEndAreDropped) {
    const uint64_t fb = 64 * 48 * 3;
    const std::string hdrl = HdrlOf(Mjpg());
    const std::vector<Chunk> chunks = FramesOf(Mjpg());
    const std::vector<uint32_t> at = kvavi::MoviOffsets(chunks);
    std::vector<Idx1Entry> idx1;
    for (size_t i = 0; i < chunks.size(); ++i)
        idx1.push_back(Idx1Entry{"00dc", at[i], static_cast<uint32_t>(chunks[i].data.size())});
    idx1[1].offset = 0x7FFFFFF0;
    std::string frames;
    EXPECT_EQ(Read("past.avi", Build(hdrl, chunks, &idx1), &frames), kFrames - 1);
    EXPECT_TRUE(frames == Frames(MjpgFrames(), fb, {0, 2, 3}));
    // Absolute offsets (the chunk id found where the first entry points).
    const size_t movi = Build(hdrl, chunks, nullptr).find("movi");
    for (Idx1Entry& e : idx1) e.offset += static_cast<uint32_t>(movi);
    idx1[1].offset = 0xFFFFFFF0;
    EXPECT_EQ(Read("absolute.avi", Build(hdrl, chunks, &idx1), &frames), kFrames - 1);
    EXPECT_TRUE(frames == Frames(MjpgFrames(), fb, {0, 2, 3}));
}

TEST_F(AviCrafted, TruncatedFiles) {
    // Cut inside the header: refused.
    EXPECT_EQ(Read("cut_header.avi", Mjpg().substr(0, FindChunk(Mjpg(), "strf") + 20)), -1);
    EXPECT_EQ(Read("cut_strh.avi", Mjpg().substr(0, FindChunk(Mjpg(), "strh") + 12)), -1);
    // Cut inside the third frame: the frames before the cut read.
    const std::vector<Chunk> chunks = FramesOf(Raw());
    const size_t third = Raw().find("movi") + 4 + 2 * (8 + chunks[0].data.size());
    std::string frames;
    EXPECT_EQ(Read("cut_movi.avi", Raw().substr(0, third + 100), &frames), 2);
    EXPECT_TRUE(frames == RawFrames().substr(0, 2 * 62 * 46 * 3));
    // A recording that stopped before its sizes and counts were written.
    std::string open_ended = Raw().substr(0, third + 100);
    Set32(open_ended, 4, 0);
    Set32(open_ended, open_ended.find("movi") - 4, 0);
    Set32(open_ended, FindChunk(open_ended, "avih") + 8 + 16, 0);
    EXPECT_EQ(Read("open_ended.avi", open_ended, &frames), 2);
    EXPECT_TRUE(frames == RawFrames().substr(0, 2 * 62 * 46 * 3));
}

TEST_F(AviCrafted, StructureOutsideTheMovie) {
    // Bytes after the last RIFF chunk that are not one are ignored.
    EXPECT_EQ(Read("trailing.avi", Mjpg() + "trailing garbage"), kFrames);
    // A file that does not start with "RIFF" has no header to find.
    EXPECT_EQ(Read("not_riff.avi", "JUNK" + Mjpg().substr(4)), -1);
    // Lists nested past 32 levels are refused; 30 levels are fine.
    for (int depth : {30, 40}) {
        std::string inner = "JUNK" + std::string(4, '\0');
        for (int i = 0; i < depth; ++i) {
            std::string l = "LIST" + std::string(4, '\0') + "deep" + inner;
            Set32(l, 4, static_cast<uint32_t>(l.size() - 8));
            inner = l;
        }
        std::string hdrl = HdrlOf(Mjpg());
        hdrl += inner;
        Set32(hdrl, 4, static_cast<uint32_t>(hdrl.size() - 8));
        SCOPED_TRACE(depth);
        EXPECT_EQ(Read("deep.avi", Build(hdrl, FramesOf(Mjpg()), nullptr)), depth < 32 ? kFrames : -1);
    }
}

TEST_F(AviCrafted, FrameRates) {
    struct Case {
        uint32_t scale, rate;
        int64_t interval;  // -1: refused
    };
    const Case cases[] = {{1, 25, 40000}, {2, 1, 2000000}, {1001, 30000, 34482}, {0, 25, -1}, {1, 0, -1}, {3, 2, 1500000}};
    for (const Case& c : cases) {
        std::string b = Mjpg();
        const size_t strh = FindChunk(b, "strh") + 8;
        Set32(b, strh + 20, c.scale);
        Set32(b, strh + 24, c.rate);
        codec_file_info info{};
        SCOPED_TRACE(c.interval);
        const int64_t n = Read("rate.avi", b, nullptr, &info);
        if (c.interval < 0) {
            EXPECT_EQ(n, -1);
        } else {
            EXPECT_EQ(info.frame_interval, uint64_t(c.interval));
        }
    }
    // Without a video stream header there is no rate.
    std::string b = Mjpg();
    memcpy(&b[FindChunk(b, "strh") + 8], "auds", 4);
    EXPECT_EQ(Read("no_vids.avi", b), -1);
}

TEST_F(AviCrafted, PalettesAndBitmapHeaders) {
    const std::string pal8 = Bytes(Make("pal.avi", 62, 46, "-c:v rawvideo -pix_fmt pal8"));
    const std::string pal8_frames = FfmpegFrames(File("pal.avi"), "rgb24");
    std::string frames;
    codec_file_info info{};
    // More than 256 colours: the palette holds the first 256.
    std::string b = pal8;
    const size_t bi = FindChunk(b, "strf") + 8;
    Set32(b, bi + 32, 300);
    EXPECT_EQ(Read("clr300.avi", b, &frames, &info), kFrames);
    EXPECT_EQ(info.bytes_per_pixel, 3u);
    EXPECT_TRUE(frames == pal8_frames);
    // A grey palette gives 1 byte a pixel, through the palette.
    b = pal8;
    for (int i = 0; i < 256; ++i) Set32(b, bi + 40 + 4 * i, static_cast<uint32_t>(255 - i) * 0x010101u);
    EXPECT_EQ(Read("grey_pal.avi", b, &frames, &info), kFrames);
    EXPECT_EQ(info.bytes_per_pixel, 1u);
    const std::vector<Chunk> chunks = FramesOf(pal8);
    ASSERT_EQ(frames.size(), size_t(62 * 46 * kFrames));
    bool inverted = true;
    for (int f = 0; f < kFrames; ++f)
        for (int y = 0; y < 46; ++y)
            for (int x = 0; x < 62; ++x)
                inverted &= uint8_t(frames[(f * 46 + y) * 62 + x]) == 255 - uint8_t(chunks[f].data[y * 64 + x]);
    EXPECT_TRUE(inverted);
    // Bottom-up rows give the same picture as top-down ones.
    b = Raw();
    const size_t rbi = FindChunk(b, "strf") + 8;
    Set32(b, rbi + 8, 46);
    std::vector<Chunk> flipped = FramesOf(b);
    for (Chunk& c : flipped) {
        std::string rows;
        for (int y = 45; y >= 0; --y) rows += c.data.substr(y * 188, 188);
        c.data = rows;
    }
    EXPECT_EQ(Read("bottom_up.avi", Build(HdrlOf(b), flipped, nullptr), &frames), kFrames);
    EXPECT_TRUE(frames == RawFrames());
    // Raw frames shorter than the picture fail to read, the others read.
    flipped[1].data.resize(100);
    codec_file* f = codec_file_open(Wide(Save("short_raw.avi", Build(HdrlOf(b), flipped, nullptr))).c_str(), nullptr, nullptr);
    ASSERT_NE(f, nullptr);
    std::string one(62 * 46 * 3, '\0');
    EXPECT_EQ(codec_file_read_frame(f, 0, 0, 0, one.data()), 1);
    EXPECT_EQ(codec_file_read_frame(f, 0, 1, 0, one.data()), 0);
    EXPECT_EQ(codec_file_read_frame(f, 0, 2, 0, one.data()), 1);
    EXPECT_TRUE(one == RawFrames().substr(2 * 62 * 46 * 3, 62 * 46 * 3));
    codec_file_close(f);
}

TEST_F(AviCrafted, I420FramesOfOddSize) {
    // 5 x 3: chroma planes of 3 x 2.
    const int w = 5, h = 3, need = w * h + 2 * 3 * 2;
    std::string hdrl = HdrlOf(Bytes(Make("i420_base.avi", 64, 48, "-c:v rawvideo -pix_fmt yuv420p")));
    const size_t bi = FindChunk(hdrl, "strf") + 8;
    Set32(hdrl, bi + 4, w);
    Set32(hdrl, bi + 8, h);
    const std::string planes = kvmedia::Pattern(2 * need, 7);
    std::vector<Chunk> chunks = {{"00dc", planes.substr(0, need)}, {"00dc", planes.substr(need, need - 1)}};
    ASSERT_TRUE(kvtest::WriteFileBytes(File("odd.yuv"), planes.substr(0, need)));
    const std::string expected = NumpyI420(File("odd.yuv"), w, h);
    ASSERT_EQ(expected.size(), size_t(w * h * 3));
    codec_file* f = codec_file_open(Wide(Save("odd_i420.avi", Build(hdrl, chunks, nullptr))).c_str(), nullptr, nullptr);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->info.frame_count, 2u);
    std::string one(w * h * 3, '\0');
    EXPECT_EQ(codec_file_read_frame(f, 0, 0, 0, one.data()), 1);
    EXPECT_TRUE(one == expected);
    EXPECT_EQ(codec_file_read_frame(f, 0, 1, 0, one.data()), 0);  // one byte short
    codec_file_close(f);
}

TEST_F(AviCrafted, PngFrameWithoutItsEnd) {
    const std::string png = Bytes(Make("png_base.avi", 64, 48, "-c:v png -vtag 'png '"));
    std::vector<Chunk> chunks = FramesOf(png);
    for (Chunk& c : chunks) c.data.resize(c.data.size() - 8);
    std::string frames;
    EXPECT_EQ(Read("png_short.avi", Build(HdrlOf(png), chunks, nullptr), &frames), kFrames);
    EXPECT_TRUE(frames == FfmpegFrames(File("png_base.avi"), "rgb24"));
}

TEST_F(AviCrafted, ChunkTreeWalk) {
    RiffFile* f = riff_open(Save("tree.avi", Mjpg()).c_str());
    ASSERT_NE(f, nullptr);
    RiffChunk* movi = riff_find_first(f, RiffFourcc("LIST"), RiffFourcc("movi"));
    ASSERT_NE(movi, nullptr);
    EXPECT_EQ(movi->offset, Mjpg().find("movi") - 8);
    int frames = 0;
    for (RiffChunk* c = riff_find(movi, RiffFourcc("00dc"), 0); c; c = riff_find(c, RiffFourcc("00dc"), 0)) ++frames;
    EXPECT_EQ(frames, kFrames);
    RiffChunk* strh = riff_find_first(f, RiffFourcc("strh"), 0);
    ASSERT_NE(strh, nullptr);
    EXPECT_EQ(riff_seek_data(f, strh, 0), 0);
    char type[4];
    ASSERT_EQ(fread(type, 1, 4, f->stream), 4u);
    EXPECT_EQ(memcmp(type, "vids", 4), 0);
    EXPECT_NE(riff_seek_data(f, strh, strh->size), 0);
    uint8_t past[8];
    EXPECT_EQ(riff_read_data(f, strh, strh->size - 4, past, 8), 0);
    riff_close(f);
}

}  // namespace
