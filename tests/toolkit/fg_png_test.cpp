// The toolkit's PNG loader, on files written byte by byte by a Python
// script (chunks, zlib and CRC by hand), and glyph pages read from PNGs.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/testsupport.h"
#include "toolkit/fg_font.h"
#include "toolkit/fg_png.h"

namespace {

// Writes <name>.png and <name>.rgba (the expected RGBA pixels) for each case.
const char* kPngWriter = R"(
import struct, sys, zlib, os
out = sys.argv[1]
def chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xffffffff)
def png(w, h, depth, ctype, rows, extra=b''):
    raw = b''.join(b'\0' + r for r in rows)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, depth, ctype, 0, 0, 0)) +
            extra + chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b''))
def save(name, data, rgba):
    open(os.path.join(out, name + '.png'), 'wb').write(data)
    open(os.path.join(out, name + '.rgba'), 'wb').write(bytes(rgba))
w, h = 5, 3
px = [[(x * 50 + y * 7) % 256 for x in range(w)] for y in range(h)]
save('grey', png(w, h, 8, 0, [bytes(r) for r in px]), [v for r in px for g in r for v in (g, g, g, 255)])
rgb = [[(x * 40, y * 90, (x + y) * 20) for x in range(w)] for y in range(h)]
save('rgb', png(w, h, 8, 2, [bytes(v for p in r for v in p) for r in rgb]),
     [v for r in rgb for p in r for v in p + (255,)])
save('rgb16', png(w, h, 16, 2, [b''.join(struct.pack('>HHH', p[0] * 257 + 3, p[1] * 256 + 255, p[2] * 256) for p in r) for r in rgb]),
     [v for r in rgb for p in r for v in p + (255,)])
ga = [[(x * 60, 255 - y * 100) for x in range(w)] for y in range(h)]
save('greyalpha', png(w, h, 8, 4, [bytes(v for p in r for v in p) for r in ga]),
     [v for r in ga for p in r for v in (p[0], p[0], p[0], p[1])])
rgba = [[(x, y, x * y, 128 + x) for x in range(w)] for y in range(h)]
save('rgba', png(w, h, 8, 6, [bytes(v for p in r for v in p) for r in rgba]), [v for r in rgba for p in r for v in p])
# Palette of two entries; index 5 lies beyond it and reads as opaque black.
pal = [(200, 10, 20), (5, 250, 6)]
idx = [[0, 1, 5], [1, 0, 255]]
save('palette', png(3, 2, 8, 3, [bytes(r) for r in idx], chunk(b'PLTE', bytes(v for p in pal for v in p))),
     [v for r in idx for i in r for v in ((pal[i] if i < len(pal) else (0, 0, 0)) + (255,))])
# A glyph page smaller and one larger than a 128 x 128 page.
def solid(w, h, grey):
    return png(w, h, 8, 0, [bytes([grey] * w) for _ in range(h)])
open(os.path.join(out, 'small0.png'), 'wb').write(solid(10, 6, 200))
open(os.path.join(out, 'large0.png'), 'wb').write(solid(300, 200, 77))
good = png(64, 64, 8, 0, [bytes(range(64)) for _ in range(64)])
open(os.path.join(out, 'truncated.png'), 'wb').write(good[:len(good) // 2])
bad = bytearray(good)
ihdr_end = 8 + 8 + 13 + 4
bad[ihdr_end + 8:ihdr_end + 16] = b'\xff' * 8  # garbage at the start of the compressed data
open(os.path.join(out, 'corrupt.png'), 'wb').write(bytes(bad))
open(os.path.join(out, 'notpng.png'), 'wb').write(b'GIF89a' + b'\0' * 40)
# A header that claims 100000 x 100000 pixels over a few bytes of data.
open(os.path.join(out, 'huge.png'), 'wb').write(png(100000, 100000, 8, 6, [b'\0' * 8]))
)";

class FgPngTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new kvtest::TempDir("png");
        std::string log;
        ok_ = kvtest::RunPython(kPngWriter, {dir_->path()}, &log) == 0;
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override {
        if (!ok_) GTEST_SKIP() << "python3 could not write the fixtures";
    }
    static std::wstring Path(const std::string& name) {
        const std::string p = dir_->file(name);
        return std::wstring(p.begin(), p.end());
    }
    static kvtest::TempDir* dir_;
    static bool ok_;
};
kvtest::TempDir* FgPngTest::dir_ = nullptr;
bool FgPngTest::ok_ = false;

TEST_F(FgPngTest, ColourTypesBecomeRgba) {
    for (const char* name : {"grey", "rgb", "rgb16", "greyalpha", "rgba", "palette"}) {
        CFgPngLoader png;
        ASSERT_EQ(png.Load(Path(std::string(name) + ".png").c_str()), 1) << name;
        const std::string want = kvtest::ReadFileBytes(dir_->file(std::string(name) + ".rgba"));
        ASSERT_EQ(want.size(), static_cast<size_t>(png.Width()) * png.Height() * 4) << name;
        std::vector<uint8_t> got(want.size());
        ASSERT_EQ(png.CopyRgba(got.data(), got.size()), 1) << name;
        EXPECT_EQ(std::memcmp(got.data(), want.data(), want.size()), 0) << name;
        EXPECT_EQ(png.CopyRgba(got.data(), got.size() - 1), 0) << name;
    }
}

TEST_F(FgPngTest, BrokenFilesFailWithoutEndingTheProcess) {
    for (const char* name : {"truncated.png", "corrupt.png", "notpng.png", "missing.png", "huge.png"}) {
        CFgPngLoader png;
        EXPECT_EQ(png.Load(Path(name).c_str()), 0) << name;
        EXPECT_EQ(png.png, nullptr) << name;
        uint8_t pixel[4];
        EXPECT_EQ(png.CopyRgba(pixel, 4), 0) << name;
    }
    // A good load after a failed one still works.
    CFgPngLoader png;
    EXPECT_EQ(png.Load(Path("corrupt.png").c_str()), 0);
    EXPECT_EQ(png.Load(Path("grey.png").c_str()), 1);
    EXPECT_EQ(png.Width(), 5u);
}

// Page 0 of a 16-pixel font is 16 x 8 cells of 8 x 16 pixels: 128 x 128.
TEST_F(FgPngTest, GlyphPageImagesOfAnotherSizeAreCutOrPadded) {
    const struct {
        const char* pattern;
        uint32_t w, h;
        uint8_t grey;
    } cases[] = {{"small%d.png", 10, 6, 200}, {"large%d.png", 300, 200, 77}};
    for (const auto& c : cases) {
        CFgFont font;
        font.pagePattern = Path(c.pattern);
        ASSERT_EQ(font.Create(16, nullptr), 1);
        ASSERT_EQ(font.EnsurePage(0), 1) << c.pattern;
        const CFgTexture& page = font.pages[0];
        ASSERT_EQ(page.texWidth, 128u);
        ASSERT_EQ(page.texHeight, 128u);
        EXPECT_EQ(page.tinted, 1u);
        for (uint32_t y = 0; y < 128; ++y)
            for (uint32_t x = 0; x < 128; ++x) {
                const uint8_t* p = page.pixels + (y * 128 + x) * 4;
                const bool inside = x < c.w && y < c.h;
                ASSERT_EQ(p[0], inside ? c.grey : 0) << c.pattern << " " << x << "," << y;
                ASSERT_EQ(p[3], inside ? 255 : 0) << c.pattern << " " << x << "," << y;
            }
        // A page without its file cannot be made and draws nothing.
        EXPECT_EQ(font.EnsurePage(1), 0);
        EXPECT_EQ(font.pages[1].pixels, nullptr);
    }
}

}  // namespace
