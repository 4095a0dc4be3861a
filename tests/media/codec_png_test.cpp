// PNG stills: files made by ImageMagick read as OpenCV decodes them, files we
// write read back by independent tools, and broken files refused.
#include <gtest/gtest.h>

#include <cstring>

#include "media/codec.h"
#include "media/support/media_support.h"
#include "support/testsupport.h"

using kvmedia::Convert;
using kvmedia::FacadeReadStill;
using kvmedia::FacadeWriteStill;
using kvmedia::OpenCvPixels;
using kvmedia::Wide;

namespace {

struct PngCase {
    const char* name;
    const char* source;  // base8.png or base16.png
    const char* args;    // conversion of the source
    int bit_depth;
    int color_type;
    uint64_t bpp;
};

const PngCase kPngCases[] = {
    {"grey8", "base8.png", "-colorspace Gray", 8, 0, 1},
    {"grey16", "base16.png", "-colorspace Gray -depth 16", 16, 0, 2},
    {"grey4", "base8.png", "-colorspace Gray -depth 4", 4, 0, 1},
    {"grey2", "base8.png", "-colorspace Gray -depth 2", 2, 0, 1},
    {"grey1", "base8.png", "-colorspace Gray -threshold 50%", 1, 0, 1},
    {"rgb8", "base8.png", "", 8, 2, 3},
    {"rgb16", "base16.png", "-depth 16", 16, 2, 6},
    {"palette8", "base8.png", "-colors 40", 8, 3, 3},
    {"palette4", "base8.png", "-colors 12", 4, 3, 3},
    {"greyalpha8", "base8.png", "-colorspace Gray ( base8.png -channel R -separate ) -compose CopyOpacity -composite",
     8, 4, 1},
    {"greyalpha16", "base16.png",
     "-colorspace Gray -depth 16 ( base16.png -channel R -separate ) -compose CopyOpacity -composite", 16, 4, 2},
    {"rgba8", "base8.png", "( base8.png -channel G -separate ) -compose CopyOpacity -composite", 8, 6, 3},
    {"rgba16", "base16.png", "-depth 16 ( base16.png -channel G -separate ) -compose CopyOpacity -composite", 16, 6,
     6},
};

class PngFixtures : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new kvtest::TempDir("png");
        ASSERT_TRUE(Convert("-size 37x23 -seed 3 plasma:fractal -depth 8 " + dir_->file("base8.png")));
        ASSERT_TRUE(Convert("-size 37x23 -seed 3 plasma:fractal -depth 16 " + dir_->file("base16.png")));
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string File(const std::string& name) { return dir_->file(name); }
    static kvtest::TempDir* dir_;
};
kvtest::TempDir* PngFixtures::dir_ = nullptr;

TEST_F(PngFixtures, ReadsEveryLayoutAsOpenCvDecodesIt) {
    std::vector<kvmedia::OpenCvRequest> requests;
    for (const PngCase& c : kPngCases) {
        SCOPED_TRACE(c.name);
        std::string path = File(std::string(c.name) + ".png");
        std::string args = std::string(c.args);
        for (const char* base : {"base8.png", "base16.png"})
            for (size_t p = 0; (p = args.find(base, p)) != std::string::npos; p += File(base).size() + 2)
                args.replace(p, strlen(base), "'" + File(base) + "'");
        // Parentheses reach convert through the shell escaped.
        for (size_t p = 0; (p = args.find_first_of("()", p)) != std::string::npos; p += 2) args.insert(p, "\\");
        ASSERT_TRUE(Convert("'" + File(c.source) + "' " + args + " -define png:color-type=" +
                            std::to_string(c.color_type) + " -define png:bit-depth=" + std::to_string(c.bit_depth) +
                            " '" + path + "'"));
        std::string bytes = kvtest::ReadFileBytes(path);
        ASSERT_GT(bytes.size(), 26u);
        ASSERT_EQ(bytes[24], c.bit_depth) << "fixture has another bit depth";
        ASSERT_EQ(bytes[25], c.color_type) << "fixture has another colour type";
        requests.push_back({path, (c.bpp == 3 || c.bpp == 6) ? 3 : 1});
    }
    std::vector<std::string> expected = OpenCvPixels(requests);
    for (size_t i = 0; i < std::size(kPngCases); ++i) {
        const PngCase& c = kPngCases[i];
        SCOPED_TRACE(c.name);
        codec_file_info info{};
        std::string ours = FacadeReadStill(requests[i].path, &info);
        ASSERT_FALSE(ours.empty());
        EXPECT_EQ(info.kind, 1u);
        EXPECT_EQ(info.image_count, 1u);
        EXPECT_EQ(info.frame_count, 1u);
        EXPECT_EQ(info.width, 37u);
        EXPECT_EQ(info.height, 23u);
        EXPECT_EQ(info.bytes_per_pixel, c.bpp);
        EXPECT_EQ(info.frame_interval, 0u);
        ASSERT_EQ(expected[i].size(), ours.size());
        EXPECT_TRUE(expected[i] == ours);
    }
}

// A PNG of a few pixels written byte by byte, for layouts that tools do not
// make on request.
std::string RawPng(int width, int height, int depth, int color_type, const std::string& plte,
                   const std::string& raw_rows) {
    static const char* script = R"(
import sys, struct, zlib
w, h, depth, ctype = (int(v) for v in sys.argv[1:5])
plte = bytes.fromhex(sys.argv[5]); rows = bytes.fromhex(sys.argv[6])
def chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, depth, ctype, 0, 0, 0))
if plte: png += chunk(b'PLTE', plte)
png += chunk(b'IDAT', zlib.compress(rows)) + chunk(b'IEND', b'')
sys.stdout.write(png.hex())
)";
    auto hex = [](const std::string& s) {
        static const char* digits = "0123456789abcdef";
        std::string h;
        for (unsigned char c : s) h += {digits[c >> 4], digits[c & 15]};
        return h;
    };
    std::string out;
    if (kvtest::RunPython(script,
                          {std::to_string(width), std::to_string(height), std::to_string(depth),
                           std::to_string(color_type), hex(plte), hex(raw_rows)},
                          &out) != 0)
        return {};
    std::string bytes;
    for (size_t i = 0; i + 1 < out.size(); i += 2) bytes.push_back(static_cast<char>(std::stoi(out.substr(i, 2), nullptr, 16)));
    return bytes;
}

TEST_F(PngFixtures, PaletteIndexBeyondThePaletteIsBlackAndSamplesAreBigEndian) {
    // 4-bit palette of 10 entries; the pixels are indices 1, 12, 9, 15.
    std::string plte;
    for (int i = 0; i < 10; ++i) plte += {char(10 + i), char(100 + i), char(200 + i)};
    std::string png = RawPng(4, 1, 4, 3, plte, std::string("\0\x1c\x9f", 3));
    ASSERT_FALSE(png.empty());
    ASSERT_TRUE(kvtest::WriteFileBytes(File("pal10.png"), png));
    std::string rgb = FacadeReadStill(File("pal10.png"));
    EXPECT_EQ(rgb, std::string("\x0b\x65\xc9\0\0\0\x13\x6d\xd1\0\0\0", 12));

    // 16-bit grey with alpha: the sample bytes 0x12 0x34 read as 0x1234.
    png = RawPng(2, 1, 16, 4, "", std::string("\0\x12\x34\xff\xff\xab\xcd\0\0", 9));
    ASSERT_TRUE(kvtest::WriteFileBytes(File("ga16raw.png"), png));
    std::string grey = FacadeReadStill(File("ga16raw.png"));
    ASSERT_EQ(grey.size(), 4u);
    uint16_t v[2];
    memcpy(v, grey.data(), 4);
    EXPECT_EQ(v[0], 0x1234);
    EXPECT_EQ(v[1], 0xabcd);
}

TEST_F(PngFixtures, WrittenFilesReadRightByOtherTools) {
    struct WriteCase {
        uint64_t bpp;
        const char* type;  // identify's %[type]
        int depth;
    };
    const WriteCase cases[] = {{1, "Grayscale", 8}, {2, "Grayscale", 16}, {3, "TrueColor", 8}, {6, "TrueColor", 16}};
    const uint64_t w = 29, h = 17;
    std::vector<std::string> written;
    std::vector<kvmedia::OpenCvRequest> requests;
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(c.bpp);
        std::string pixels = kvmedia::Pattern(w * h * c.bpp, static_cast<uint32_t>(c.bpp));
        std::string path = File("out" + std::to_string(c.bpp) + ".png");
        ASSERT_EQ(FacadeWriteStill(path, w, h, c.bpp, pixels.data()), 1);
        std::string described;
        ASSERT_EQ(kvtest::RunCommand("identify -format '%w %h %z %[type]' '" + path + "'", &described), 0);
        EXPECT_EQ(described, "29 17 " + std::to_string(c.depth) + " " + c.type);
        if (kvtest::HaveTool("pngcheck")) {
            EXPECT_EQ(kvtest::RunCommand("pngcheck -q '" + path + "'"), 0);
        }
        EXPECT_TRUE(FacadeReadStill(path) == pixels);
        written.push_back(pixels);
        requests.push_back({path, (c.bpp == 3 || c.bpp == 6) ? 3 : 1});
    }
    std::vector<std::string> decoded = OpenCvPixels(requests);
    for (size_t i = 0; i < written.size(); ++i) EXPECT_TRUE(decoded[i] == written[i]) << cases[i].bpp;
}

TEST_F(PngFixtures, CreateRefusesLayoutsWithoutPngForm) {
    uint8_t px[12] = {};
    for (uint64_t bpp : {4u, 12u}) EXPECT_EQ(FacadeWriteStill(File("no.png"), 1, 1, bpp, px), 0) << bpp;
    codec_file_info two_frames{kCodecKindStill, 1, 2, 1, 4, 4, 0};
    EXPECT_EQ(codec_file_create(Wide(File("two.png")).c_str(), &two_frames, nullptr), nullptr);
}

// A second frame into a one-picture file fails and leaves the first intact.
TEST_F(PngFixtures, OneFramePerFile) {
    codec_file_info info{kCodecKindStill, 1, 1, 1, 3, 2, 0};
    codec_file* f = codec_file_create(Wide(File("one.png")).c_str(), &info, nullptr);
    ASSERT_NE(f, nullptr);
    const uint8_t a[6] = {1, 2, 3, 4, 5, 6}, b[6] = {};
    EXPECT_EQ(codec_file_write_frame(f, 0, 0, a), 1);
    EXPECT_EQ(codec_file_write_frame(f, 0, 0, b), 0);
    EXPECT_EQ(codec_file_close(f), 1);
    EXPECT_EQ(FacadeReadStill(File("one.png")), std::string(reinterpret_cast<const char*>(a), 6));
}

}  // namespace
