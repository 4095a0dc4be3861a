// Image frames into and out of media files.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "image/imgbuff.h"
#include "media/codec.h"
#include "media/frame_glue.h"
#include "media/support/media_support.h"
#include "support/testsupport.h"

using kvmedia::Wide;

namespace {

TEST(FrameGlue, PixelFormatTable) {
    const int32_t expected[13] = {0, 1, 2, 4, 3, 0, 5, 0, 0, 0, 0, 0, 6};
    for (int bpp = 0; bpp <= 12; ++bpp) {
        EXPECT_EQ(g_FramePixelFormat[bpp], expected[bpp]) << bpp;
        if (expected[bpp]) {
            EXPECT_EQ(ImgFormatBytes(expected[bpp]), bpp);
        }
    }
}

TEST(FrameGlue, GetFrameInfo) {
    CImgBuff image;
    codec_file_info info;
    memset(&info, 0xab, sizeof info);
    EXPECT_EQ(image.GetFrameInfo(&info), 0);
    const codec_file_info zero{};
    EXPECT_EQ(memcmp(&info, &zero, sizeof info), 0);
    ASSERT_EQ(image.buffer->Create(640, 480, kImgRgb16), 1);
    EXPECT_EQ(image.GetFrameInfo(&info), 1);
    const codec_file_info rgb16{1, 1, 1, 6, 640, 480, 0};
    EXPECT_EQ(memcmp(&info, &rgb16, sizeof info), 0);
}

// A handle that only describes frames: the glue must refuse it before
// touching any codec or allocating.
codec_file Described(uint64_t kind, uint64_t bpp, uint64_t width, uint64_t height) {
    codec_file f{};
    f.info = {kind, 1, 1, bpp, width, height, 0};
    f.format = kCodecPng;
    f.mode = kCodecModeRead;
    return f;
}

TEST(FrameGlue, ReadFrameRefusesBeforeAllocating) {
    struct Case {
        const char* why;
        codec_file file;
    };
    const Case cases[] = {
        {"5 bytes per pixel", Described(1, 5, 8, 8)},
        {"24 bytes per pixel", Described(1, 24, 8, 8)},
        {"no bytes per pixel", Described(1, 0, 8, 8)},
        {"kind 0", Described(0, 1, 8, 8)},
        {"kind 3", Described(3, 1, 8, 8)},
        {"width beyond i32", Described(1, 1, 1ull << 32, 1)},
        {"height truncating to a small i32", Described(1, 3, 4, (1ull << 32) + 2)},
        {"zero width", Described(1, 1, 0, 8)},
    };
    for (const Case& c : cases) {
        CImgBuff image;
        ASSERT_EQ(image.buffer->Create(2, 2, kImgGray8), 1);
        codec_file f = c.file;
        EXPECT_EQ(image.ReadFrame(&f, 0), 0) << c.why;
        EXPECT_EQ(image.buffer->width, 2) << c.why << ": the image must stay as it was";
    }
    CImgBuff image;
    EXPECT_EQ(image.ReadFrame(nullptr, 0), 0);
}

TEST(FrameGlue, WriteFrameNeedsTheFileFormat) {
    struct Case {
        const char* why;
        int32_t format;
        codec_file file;
    };
    const Case cases[] = {
        {"grey16 image into a 3-byte file", kImgGray16, Described(1, 3, 4, 4)},
        {"CMYK image into a grey32 file", kImgCmyk8, Described(1, 4, 4, 4)},
        {"HSV image into an RGB16 file", kImgHsv16, Described(1, 6, 4, 4)},
        {"other width", kImgGray8, Described(1, 1, 5, 4)},
        {"movie kind 0", kImgGray8, Described(0, 1, 4, 4)},
    };
    for (const Case& c : cases) {
        CImgBuff image;
        ASSERT_EQ(image.buffer->Create(4, 4, c.format), 1);
        codec_file f = c.file;
        f.mode = kCodecModeWrite;
        EXPECT_EQ(image.WriteFrame(&f), 0) << c.why;
    }
    CImgBuff empty;
    EXPECT_EQ(empty.WriteFrame(nullptr), 0);
}

TEST(FrameGlue, ImagesRoundTripThroughFiles) {
    kvtest::TempDir dir("glue");
    for (int32_t format : {kImgGray8, kImgGray16, kImgRgb8, kImgRgb16}) {
        SCOPED_TRACE(format);
        CImgBuff image;
        ASSERT_EQ(image.buffer->Create(13, 7, format), 1);
        std::string pattern = kvmedia::Pattern(13 * 7 * ImgFormatBytes(format), static_cast<uint32_t>(format));
        memcpy(image.buffer->pixels, pattern.data(), pattern.size());
        codec_file_info info;
        ASSERT_EQ(image.GetFrameInfo(&info), 1);
        std::wstring path = Wide(dir.file("f" + std::to_string(format) + ".png"));
        codec_file* out = codec_file_create(path.c_str(), &info, nullptr);
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(image.WriteFrame(out), 1);
        EXPECT_EQ(codec_file_close(out), 1);

        codec_file* in = codec_file_open(path.c_str(), nullptr, nullptr);
        ASSERT_NE(in, nullptr);
        CImgBuff back;
        EXPECT_EQ(back.ReadFrame(in, 0), 1);
        CImgBuff past;
        EXPECT_EQ(past.ReadFrame(in, 1), 0) << "a still has one frame";
        EXPECT_EQ(codec_file_close(in), 1);
        EXPECT_EQ(back.buffer->format, format);
        EXPECT_EQ(back.buffer->width, 13);
        EXPECT_EQ(back.buffer->height, 7);
        EXPECT_EQ(memcmp(back.buffer->pixels, pattern.data(), pattern.size()), 0);
    }
}

}  // namespace
