// In-memory JPEG and PNG frames: pictures made by cjpeg and ImageMagick
// decode as djpeg and OpenCV decode them; sizes, layouts and damage that do
// not fit the frame are refused; encoded frames decode back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "media/codec_avi.h"
#include "media/codec_mem.h"
#include "media/support/media_support.h"
#include "support/testsupport.h"

using kvmedia::Convert;
using kvmedia::OpenCvPixels;

namespace {

class MemCodecs : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new kvtest::TempDir("mem");
        ASSERT_TRUE(Convert("-size 61x35 -seed 5 plasma:fractal -depth 8 " + dir_->file("base.ppm")));
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string File(const std::string& name) { return dir_->file(name); }
    static std::string Bytes(const std::string& name) { return kvtest::ReadFileBytes(File(name)); }
    static kvtest::TempDir* dir_;
};
kvtest::TempDir* MemCodecs::dir_ = nullptr;

using Pixels = std::unique_ptr<uint8_t, decltype(&free)>;
const uint8_t* Data(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }
std::string Text(const uint8_t* p, size_t n) { return p ? std::string(reinterpret_cast<const char*>(p), n) : std::string(); }

TEST_F(MemCodecs, JpegDecodesAsDjpegAtItsOwnSizeOnly) {
    struct Case {
        const char* name;
        const char* command;
        uint32_t components;
    };
    const Case cases[] = {
        {"grey.jpg", "cjpeg -grayscale -outfile %o %s", 1},
        {"colour.jpg", "cjpeg -quality 80 -outfile %o %s", 3},
        {"progressive.jpg", "cjpeg -progressive -outfile %o %s", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string command = c.command;
        command.replace(command.find("%o"), 2, "'" + File(c.name) + "'");
        command.replace(command.find("%s"), 2, "'" + File("base.ppm") + "'");
        ASSERT_EQ(kvtest::RunCommand(command), 0);
        const std::string jpeg = Bytes(c.name);
        int w, h, channels;
        const std::string expected = kvmedia::DjpegPixels(File(c.name), &w, &h, &channels);
        EXPECT_EQ(codec_jpeg_mem_probe(Data(jpeg), jpeg.size()), c.components);
        Pixels right(codec_jpeg_mem_decode(61, 35, Data(jpeg), jpeg.size()), free);
        EXPECT_TRUE(Text(right.get(), 61 * 35 * c.components) == expected);
        for (auto [ww, hh] : {std::pair{60u, 35u}, std::pair{62u, 35u}, std::pair{61u, 34u}})
            EXPECT_EQ(Pixels(codec_jpeg_mem_decode(ww, hh, Data(jpeg), jpeg.size()), free), nullptr);
        // A buffer of the other layout is refused.
        std::string other(61 * 35 * 3, '\0');
        EXPECT_EQ(codec_jpeg_mem_decode_into(61, 35, 4 - c.components, Data(jpeg), jpeg.size(),
                                             reinterpret_cast<uint8_t*>(other.data())),
                  0);
        // Cut short: the picture is incomplete.
        EXPECT_EQ(Pixels(codec_jpeg_mem_decode(61, 35, Data(jpeg), jpeg.size() / 2), free), nullptr);
    }
    ASSERT_TRUE(Convert("'" + File("base.ppm") + "' -colorspace CMYK '" + File("cmyk.jpg") + "'"));
    const std::string cmyk = Bytes("cmyk.jpg");
    EXPECT_EQ(codec_jpeg_mem_probe(Data(cmyk), cmyk.size()), 0u);
    EXPECT_EQ(Pixels(codec_jpeg_mem_decode(61, 35, Data(cmyk), cmyk.size()), free), nullptr);
    EXPECT_EQ(Pixels(codec_jpeg_mem_decode(61, 35, nullptr, 0), free), nullptr);
    EXPECT_EQ(codec_jpeg_mem_probe(Data(cmyk), 0), 0u);
}

TEST_F(MemCodecs, PngDecodesAsOpenCvInEachLayout) {
    struct Case {
        const char* name;
        const char* options;  // ImageMagick
        uint32_t channels;    // 0: refused by both decoders
    };
    const Case cases[] = {
        {"grey.png", "-colorspace Gray -depth 8 -define png:color-type=0", 1},
        {"grey_alpha.png", "-colorspace Gray -alpha set -depth 8 -define png:color-type=4", 1},
        {"rgb.png", "-depth 8 -define png:color-type=2", 3},
        {"rgba.png", "-alpha set -depth 8 -define png:color-type=6", 3},
        {"palette.png", "-colors 10 -define png:color-type=3 -define png:bit-depth=8", 3},
        {"rgb16.png", "-depth 16 -define png:bit-depth=16", 0},
        {"grey4.png", "-colorspace Gray -depth 4 -define png:color-type=0 -define png:bit-depth=4", 0},
    };
    std::vector<kvmedia::OpenCvRequest> requests;
    for (const Case& c : cases) {
        ASSERT_TRUE(Convert("'" + File("base.ppm") + "' " + c.options + " '" + File(c.name) + "'")) << c.name;
        requests.push_back({File(c.name), c.channels ? static_cast<int>(c.channels) : 3});
    }
    const std::vector<std::string> expected = OpenCvPixels(requests);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        std::string png = Bytes(c.name);
        Pixels grey(codec_png_mem_decode_gray(61, 35, Data(png), png.size()), free);
        Pixels rgb(codec_png_mem_decode_rgb(61, 35, Data(png), png.size()), free);
        EXPECT_EQ(grey != nullptr, c.channels == 1);
        EXPECT_EQ(rgb != nullptr, c.channels == 3);
        if (c.channels == 0) continue;
        EXPECT_TRUE(Text(c.channels == 1 ? grey.get() : rgb.get(), 61 * 35 * c.channels) == expected[i]);
        // The signature is never read; the size must be the frame's.
        png.replace(1, 3, "XYZ");
        Pixels damaged(c.channels == 1 ? codec_png_mem_decode_gray(61, 35, Data(png), png.size())
                                       : codec_png_mem_decode_rgb(61, 35, Data(png), png.size()),
                       free);
        EXPECT_TRUE(Text(damaged.get(), 61 * 35 * c.channels) == expected[i]);
        EXPECT_EQ(Pixels(codec_png_mem_decode_rgb(60, 35, Data(png), png.size()), free), nullptr);
        EXPECT_EQ(Pixels(codec_png_mem_decode_gray(61, 36, Data(png), png.size()), free), nullptr);
        // Cut inside the picture data: the read callback runs dry.
        EXPECT_EQ(Pixels(codec_png_mem_decode_rgb(61, 35, Data(png), png.size() / 2), free), nullptr);
    }
}

TEST_F(MemCodecs, PaletteIndicesPastThePaletteAreBlack) {
    // 4 x 1, palette of two entries, indices 0, 1, 2, 255.
    static const char* script = R"(
import sys, struct, zlib
def chunk(t, d): return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d) & 0xffffffff)
png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', 4, 1, 8, 3, 0, 0, 0))
png += chunk(b'PLTE', bytes([10, 20, 30, 40, 50, 60])) + chunk(b'IDAT', zlib.compress(bytes([0, 0, 1, 2, 255])))
png += chunk(b'IEND', b'')
open(sys.argv[1], 'wb').write(png)
)";
    ASSERT_EQ(kvtest::RunPython(script, {File("short_palette.png")}, nullptr), 0);
    const std::string png = Bytes("short_palette.png");
    Pixels rgb(codec_png_mem_decode_rgb(4, 1, Data(png), png.size()), free);
    ASSERT_NE(rgb, nullptr);
    EXPECT_EQ(Text(rgb.get(), 12), std::string("\x0a\x14\x1e\x28\x32\x3c", 6) + std::string(6, '\0'));
}

TEST_F(MemCodecs, EncodedFramesDecodeBack) {
    for (uint32_t bits : {8u, 24u}) {
        SCOPED_TRACE(bits);
        AviStream s{};
        s.width = 61;
        s.height = 35;
        s.bit_count = bits;
        s.grey = bits == 8;
        for (int v = 0; v < 256; ++v) s.palette[v] = AviRgb{uint8_t(v), uint8_t(v), uint8_t(v)};
        s.jpeg_quality = 90;
        const uint32_t channels = bits / 8;
        const std::string pixels = kvmedia::Pattern(61 * 35 * channels, bits);
        uint64_t size = 0;
        Pixels png(codec_png_mem_encode(&s, Data(pixels), &size), free);
        ASSERT_NE(png, nullptr);
        ASSERT_TRUE(kvtest::WriteFileBytes(File("encoded.png"), Text(png.get(), size)));
        EXPECT_TRUE(OpenCvPixels({{File("encoded.png"), static_cast<int>(channels)}})[0] == pixels);
        std::string back(pixels.size(), '\0');
        EXPECT_EQ(codec_png_mem_decode_into(61, 35, channels, png.get(), size, reinterpret_cast<uint8_t*>(back.data())), 1);
        EXPECT_TRUE(back == pixels);

        Pixels jpeg(codec_jpeg_mem_encode(&s, Data(pixels), &size), free);
        ASSERT_NE(jpeg, nullptr);
        ASSERT_TRUE(kvtest::WriteFileBytes(File("encoded.jpg"), Text(jpeg.get(), size)));
        int w, h, c;
        const std::string djpeg = kvmedia::DjpegPixels(File("encoded.jpg"), &w, &h, &c);
        EXPECT_EQ(uint32_t(c), channels);
        EXPECT_EQ(codec_jpeg_mem_decode_into(61, 35, channels, jpeg.get(), size, reinterpret_cast<uint8_t*>(back.data())),
                  1);
        EXPECT_TRUE(back == djpeg);
    }
}

}  // namespace
