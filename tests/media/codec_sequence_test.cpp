// Numbered sequences: naming and counting, reading every frame, writing a
// run of files and reading it back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "media/codec.h"
#include "media/support/media_support.h"
#include "support/testsupport.h"

using kvmedia::FacadeReadStill;
using kvmedia::FacadeWriteStill;
using kvmedia::Wide;

namespace {

// A 3 x 2 grey picture whose every pixel holds `value`.
void WriteFlat(const std::string& path, uint8_t value, uint64_t width = 3) {
    std::string px(width * 2, static_cast<char>(value));
    ASSERT_EQ(FacadeWriteStill(path, width, 2, 1, px.data()), 1) << path;
}

codec_file* OpenSequence(const kvtest::TempDir& dir, const std::string& first, const std::string& last) {
    return codec_sequence_open(Wide(dir.file(first)).c_str(), Wide(dir.file(last)).c_str());
}

TEST(CodecSequence, OpenCountsAndNamesFrames) {
    kvtest::TempDir dir("seqopen");
    for (int n = 8; n <= 12; ++n) {
        char name[32];
        snprintf(name, sizeof name, "img%04d.png", n);
        WriteFlat(dir.file(name), static_cast<uint8_t>(n * 10));
        WriteFlat(dir.file("img" + std::to_string(n) + ".png"), static_cast<uint8_t>(n));
    }
    struct Case {
        const char* first;
        const char* last;
        uint64_t frames;       // 0: refused
        uint64_t first_value;  // pixel value of frame 0
    };
    const Case cases[] = {
        {"img0008.png", "img0012.png", 5, 80}, {"img8.png", "img12.png", 5, 8},
        {"img0010.png", "img0009.png", 1, 90},  // first above last: the last file alone
        {"img08.png", "img123.png", 0, 0},      // widths differ with a leading zero
        {"img0008.png", "img0012.jpg", 0, 0},   // other suffix
        {"img0008.png", "pic0012.png", 0, 0},   // other prefix
        {"img.png", "img.png", 0, 0},           // no number
        {"img0007.png", "img0012.png", 0, 0},   // the first file does not exist
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.first) + " .. " + c.last);
        codec_file* f = OpenSequence(dir, c.first, c.last);
        if (c.frames == 0) {
            EXPECT_EQ(f, nullptr);
            codec_file_close(f);
            continue;
        }
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->mode, 3u);
        EXPECT_EQ(f->info.kind, 1u);
        EXPECT_EQ(f->format, 1u);
        EXPECT_EQ(f->info.frame_count, c.frames);
        uint8_t px[6] = {};
        ASSERT_EQ(codec_file_read_frame(f, 0, 0, 0, px), 1);
        EXPECT_EQ(px[0], c.first_value);
        EXPECT_EQ(codec_file_read_frame(f, 0, c.frames, 0, px), 0) << "past the last frame";
        EXPECT_EQ(codec_file_close(f), 1);
    }
}

TEST(CodecSequence, ReadsEveryFrameAndFailsOnlyTheBadOnes) {
    kvtest::TempDir dir("seqread");
    WriteFlat(dir.file("s098.png"), 98);
    WriteFlat(dir.file("s099.png"), 99);
    WriteFlat(dir.file("s100.png"), 100, 4);  // another size
    // s101.png is missing: a gap
    WriteFlat(dir.file("s102.png"), 102);
    codec_file* f = OpenSequence(dir, "s098.png", "s102.png");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(f->info.frame_count, 5u);
    const int expected[5] = {98, 99, -1, -1, 102};
    for (uint64_t i = 0; i < 5; ++i) {
        uint8_t px[6] = {};
        int32_t ok = codec_file_read_frame(f, 0, i, 0, px);
        EXPECT_EQ(ok, expected[i] >= 0) << i;
        if (ok) {
            EXPECT_EQ(px[5], expected[i]) << i;
        }
    }
    EXPECT_EQ(codec_file_close(f), 1);
}

TEST(CodecSequence, WideDigitFieldsAndOverflowAreRefused) {
    kvtest::TempDir dir("seqwide");
    const std::string nineteen = "0000000000000000001";
    WriteFlat(dir.file("w" + nineteen + ".png"), 1);
    codec_file* f = OpenSequence(dir, "w" + nineteen + ".png", "w" + nineteen + ".png");
    ASSERT_NE(f, nullptr) << "19 digits fit";
    EXPECT_EQ(codec_file_close(f), 1);
    WriteFlat(dir.file("w0" + nineteen + ".png"), 1);
    EXPECT_EQ(OpenSequence(dir, "w0" + nineteen + ".png", "w0" + nineteen + ".png"), nullptr);

    codec_file_info info{kCodecKindStill, 1, 3, 1, 3, 2, 0};
    EXPECT_EQ(codec_sequence_create(Wide(dir.file("w09999999999999999999.png")).c_str(), &info, nullptr), nullptr);
    // 9999999999999999999 + 2^64 - 1 files would pass the end of u64.
    info.frame_count = UINT64_MAX;
    EXPECT_EQ(codec_sequence_create(Wide(dir.file("w9999999999999999999.png")).c_str(), &info, nullptr), nullptr);
    info.frame_count = 0;
    EXPECT_EQ(codec_sequence_create(Wide(dir.file("w1.png")).c_str(), &info, nullptr), nullptr);
}

TEST(CodecSequence, CreateNamesFiles) {
    struct Case {
        const char* name;
        uint64_t count;
        std::vector<std::string> files;  // empty: refused
    };
    const Case cases[] = {
        {"out0098.png", 3, {"out0098.png", "out0099.png", "out0100.png"}},
        {"out98.png", 3, {"out98.png", "out99.png", "out100.png"}},
        {"out09.png", 100, {}},  // 108 needs three digits
        {"out09.png", 91, {"out09.png", "out99.png"}},
        {"out.png", 2, {}},
        {"out7.gif", 2, {}},
        {"50%-1.png", 2, {"50%-1.png", "50%-2.png"}},
        {"n4294967296.png", 2, {"n4294967296.png", "n4294967297.png"}},
        {"n09999999999.jpg", 2, {"n09999999999.jpg", "n10000000000.jpg"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kvtest::TempDir dir("seqcreate");
        codec_file_info info{kCodecKindStill, 1, c.count, 1, 3, 2, 0};
        codec_file* f = codec_sequence_create(Wide(dir.file(c.name)).c_str(), &info, nullptr);
        if (c.files.empty()) {
            EXPECT_EQ(f, nullptr);
            codec_file_close(f);
            continue;
        }
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->mode, 4u);
        for (uint64_t i = 0; i < c.count; ++i) {
            std::string px(6, static_cast<char>(i));
            EXPECT_EQ(codec_file_write_frame(f, 0, 0, px.data()), 1) << i;
        }
        uint8_t extra[6] = {};
        EXPECT_EQ(codec_file_write_frame(f, 0, 0, extra), 0) << "one file more than asked";
        EXPECT_EQ(codec_file_close(f), 1);
        for (const std::string& file : c.files) EXPECT_EQ(codec_file_exists(Wide(dir.file(file)).c_str()), 1) << file;
        std::string listing;
        kvtest::RunCommand("ls '" + dir.path() + "' | wc -l", &listing);
        EXPECT_EQ(std::stoul(listing), c.count);
    }
}

TEST(CodecSequence, WrittenSequenceReadsBack) {
    kvtest::TempDir dir("seqround");
    const uint64_t w = 5, h = 4, count = 4;
    for (const char* ext : {".png", ".jpg"}) {
        SCOPED_TRACE(ext);
        codec_file_info info{kCodecKindStill, 1, count, 3, w, h, 0};
        codec_write_options options{100, 0, 0, 0, 0, 0};
        codec_file* out = codec_sequence_create(Wide(dir.file(std::string("f000") + ext)).c_str(), &info, &options);
        ASSERT_NE(out, nullptr);
        for (uint64_t i = 0; i < count; ++i) {
            std::string px(w * h * 3, static_cast<char>(40 + i * 50));
            ASSERT_EQ(codec_file_write_frame(out, 0, 0, px.data()), 1);
        }
        ASSERT_EQ(codec_file_close(out), 1);
        codec_file* in = codec_sequence_open(Wide(dir.file(std::string("f000") + ext)).c_str(),
                                             Wide(dir.file(std::string("f003") + ext)).c_str());
        ASSERT_NE(in, nullptr);
        ASSERT_EQ(in->info.frame_count, count);
        ASSERT_EQ(in->info.bytes_per_pixel, 3u);
        for (uint64_t i = 0; i < count; ++i) {
            std::string px(w * h * 3, '\0');
            ASSERT_EQ(codec_file_read_frame(in, 0, i, 0, px.data()), 1);
            EXPECT_NEAR(static_cast<uint8_t>(px[7]), 40 + i * 50, 1) << i;
        }
        EXPECT_EQ(codec_file_close(in), 1);
    }
}

// Frames of every PNG layout (those read straight into the frame and those
// converted) read as each file does alone; a frame cut short fails alone.
TEST(CodecSequence, PngLayoutsReadAsTheirStills) {
    kvtest::TempDir dir("seqpng");
    const std::string source = dir.file("source.png");
    ASSERT_EQ(std::system(("convert -size 37x23 gradient:red-blue -swirl 120 -depth 8 PNG24:" + source).c_str()), 0);
    struct Layout {
        const char* name;
        const char* options;
        uint64_t bpp;
    };
    const Layout layouts[] = {
        {"rgb", "PNG24:", 3},
        {"rgb_interlaced", "-interlace PNG PNG24:", 3},
        {"grey", "-colorspace Gray -define png:color-type=0 -define png:bit-depth=8 PNG:", 1},
        {"grey_interlaced", "-colorspace Gray -define png:color-type=0 -define png:bit-depth=8 -interlace PNG PNG:", 1},
        {"rgb16", "PNG48:", 6},
        {"palette", "-colors 40 PNG8:", 3},
        {"rgba", "-alpha set PNG32:", 3},
    };
    for (const Layout& layout : layouts) {
        SCOPED_TRACE(layout.name);
        const std::string base = std::string(layout.name) + "_";
        for (int n = 0; n < 3; ++n) {
            const std::string out = dir.file(base + std::to_string(n) + ".png");
            const std::string flip = n == 1 ? " -flip" : n == 2 ? " -flop" : "";
            ASSERT_EQ(std::system(("convert " + source + flip + " " + layout.options + out).c_str()), 0);
        }
        // The last frame is cut short.
        const std::string cut = dir.file(base + "2.png");
        std::string bytes;
        {
            std::ifstream in(cut, std::ios::binary);
            bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        ASSERT_GT(bytes.size(), 200u);
        std::ofstream(cut, std::ios::binary | std::ios::trunc).write(bytes.data(), bytes.size() - 120);
        codec_file* in = OpenSequence(dir, base + "0.png", base + "2.png");
        ASSERT_NE(in, nullptr);
        ASSERT_EQ(in->info.bytes_per_pixel, layout.bpp);
        for (int n = 0; n < 2; ++n) {
            codec_file_info info{};
            const std::string still = FacadeReadStill(dir.file(base + std::to_string(n) + ".png"), &info);
            ASSERT_EQ(still.size(), 37u * 23u * layout.bpp) << n;
            std::string frame(still.size(), '\x55');
            ASSERT_EQ(codec_file_read_frame(in, 0, n, 0, frame.data()), 1) << n;
            EXPECT_EQ(frame, still) << n;
        }
        std::string frame(37u * 23u * layout.bpp, '\0');
        EXPECT_EQ(codec_file_read_frame(in, 0, 2, 0, frame.data()), 0);
        EXPECT_EQ(codec_file_close(in), 1);
    }
}

}  // namespace
