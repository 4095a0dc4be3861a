// Binary morphology against scipy.ndimage on random blob frames, over the
// formats and both background levels; thinning, shaving and exclusive
// expansion by their properties and worked cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "image/kernels/morphology.h"
#include "support/kernel_test_util.h"

namespace {

const ImgRect kRegion{10, 7, 150, 110};

using Op = std::function<int32_t(CImgBuff&, int32_t conn, uint32_t bg, const ImgRect* r)>;

struct Named {
    const char* name;
    Op op;
};

std::vector<Named> Ops() {
    return {
        {"expand", [](CImgBuff& i, int32_t c, uint32_t bg, const ImgRect* r) { return ImgBinaryExpand(&i, c, bg, r); }},
        {"shrink",
         [](CImgBuff& i, int32_t c, uint32_t bg, const ImgRect* r) {
             BitMask* m = ImgForegroundMask(&i, bg, r->x0, r->y0, r->x1, r->y1);
             ImgBinaryShrink(m, &i, c, bg, r->x0, r->y0, r->x1, r->y1);
             ImgBitMaskDestroy(m);
             return 1;
         }},
        {"border", [](CImgBuff& i, int32_t c, uint32_t bg, const ImgRect* r) { return ImgBinaryBorder(&i, c, bg, r); }},
        {"fill", [](CImgBuff& i, int32_t c, uint32_t bg, const ImgRect* r) { return ImgBinaryFillHoles(&i, c, bg, r); }},
    };
}

// scipy transcription, for each op and connectivity 4 then 8: the region's
// mask is dilated / eroded (border 0) with the objects' structure, bordered
// with the other one's erosion, or hole-filled with the background's.
const char* kScript = R"(
from scipy import ndimage
a = np.fromfile(sys.argv[1], np.uint8).reshape(131, 173)
cross = ndimage.generate_binary_structure(2, 1)
box = np.ones((3, 3), bool)
outs = []
for op in ('expand', 'shrink', 'border', 'fill'):
    for conn in (4, 8):
        s = cross if conn == 4 else box
        other = box if conn == 4 else cross
        b = a.copy()
        r = b[7:111, 10:151]
        m = r != 0
        if op == 'expand':
            r[ndimage.binary_dilation(m, s) & ~m] = 255
        elif op == 'shrink':
            r[m & ~ndimage.binary_erosion(m, s, border_value=0)] = 0
        elif op == 'border':
            inner = ndimage.binary_erosion(m, other, border_value=0)
            r[m & inner] = 0
            r[m & ~inner] = 255
        else:
            r[ndimage.binary_fill_holes(m, other) & ~m] = 255
        outs.append(b)
np.concatenate([o.ravel() for o in outs]).tofile(sys.argv[-1])
)";

TEST(Morphology, AgainstScipyOnTheRegion) {
    CImgBuff source;
    ASSERT_TRUE(ktest::MakeBlobs(source, 173, 131, 21, 0.03, 180));
    const std::string expected = ktest::RunNumpy(kScript, {ktest::Block(source)});
    ASSERT_EQ(expected.size(), ktest::Block(source).size() * 8);
    std::vector<std::string> results;
    std::vector<std::string> inverted;
    for (const Named& op : Ops())
        for (int32_t conn : {4, 8}) {
            CImgBuff img;
            img.CopyFrom(&source);
            EXPECT_EQ(op.op(img, conn, 0, &kRegion), 1) << op.name;
            results.push_back(ktest::Block(img));
            // White background: the negative in, the negative out.
            CImgBuff neg;
            neg.CopyFrom(&source);
            for (int64_t i = 0; i < 173 * 131; ++i) neg.buffer->pixels[i] = 255 - neg.buffer->pixels[i];
            EXPECT_EQ(op.op(neg, conn, 1, &kRegion), 1);
            for (int64_t i = 0; i < 173 * 131; ++i) neg.buffer->pixels[i] = 255 - neg.buffer->pixels[i];
            EXPECT_EQ(ktest::Block(neg), results.back()) << op.name << " inverted " << conn;
            EXPECT_NE(results.back(), ktest::Block(source)) << op.name << " " << conn;
        }
    // Reported by first differing pixel: the blocks are too long to print.
    size_t at = 0;
    for (size_t i = 0; i < results.size(); ++i) {
        const std::string want = expected.substr(at, results[i].size());
        at += results[i].size();
        const auto diff = std::mismatch(want.begin(), want.end(), results[i].begin());
        EXPECT_TRUE(diff.first == want.end()) << Ops()[i / 2].name << " conn " << (i % 2 ? 8 : 4) << " first difference at pixel "
                                               << (diff.first - want.begin()) % 173 << "," << (diff.first - want.begin()) / 173;
    }
}

// Every other format gives the grey8 result in its 8-bit grey reading
// (XYZ is left out: its grey does not round-trip at 8 bits).
TEST(Morphology, FormatsAgreeWithGrey8) {
    CImgBuff source;
    ASSERT_TRUE(ktest::MakeBlobs(source, 90, 60, 22, 0.03, 180));
    const ImgRect region{3, 2, 80, 55};
    for (const Named& op : Ops())
        for (int32_t conn : {4, 8}) {
            CImgBuff grey;
            grey.CopyFrom(&source);
            ASSERT_EQ(op.op(grey, conn, 0, &region), 1);
            for (int32_t f : {kImgGray16, kImgGray32, kImgRgb8, kImgRgb16, kImgRgb32, kImgHsv16, kImgCmyk8}) {
                CImgBuff img;
                ASSERT_TRUE(img.buffer->Create(90, 60, f));
                for (int y = 0; y < 60; ++y)
                    for (int x = 0; x < 90; ++x) img.buffer->SetPixelGray8(x, y, *source.buffer->PixelAt(x, y));
                ASSERT_EQ(op.op(img, conn, 0, &region), 1);
                for (int y = 0; y < 60; ++y)
                    for (int x = 0; x < 90; ++x) {
                        uint8_t g;
                        img.buffer->GetPixelGray8(x, y, &g);
                        ASSERT_EQ(g, *grey.buffer->PixelAt(x, y)) << op.name << " " << ImgFormatName(f) << " " << x << "," << y;
                    }
            }
        }
}

CImgBuff* Drawn(CImgBuff& img, const std::vector<std::string>& rows) {
    const int32_t h = int32_t(rows.size()), w = int32_t(rows[0].size());
    img.buffer->Create(w, h, kImgGray8);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) *img.buffer->PixelAt(x, y) = rows[y][x] == '#' ? 255 : 0;
    return &img;
}

std::vector<std::string> Rows(const CImgBuff& img) {
    std::vector<std::string> rows;
    for (int32_t y = 0; y < img.buffer->height; ++y) {
        std::string r;
        for (int32_t x = 0; x < img.buffer->width; ++x) r += *img.buffer->PixelAt(x, y) ? '#' : '.';
        rows.push_back(r);
    }
    return rows;
}

TEST(Morphology, WorkedCases) {
    CImgBuff a;
    ImgBinaryExpand(Drawn(a, {".....", ".....", "..#..", ".....", "....."}), 8, 0, nullptr);
    EXPECT_EQ(Rows(a), (std::vector<std::string>{".....", ".###.", ".###.", ".###.", "....."}));
    ImgBinaryExpand(Drawn(a, {".....", ".....", "..#..", ".....", "....."}), 4, 0, nullptr);
    EXPECT_EQ(Rows(a), (std::vector<std::string>{".....", "..#..", ".###.", "..#..", "....."}));
    for (int32_t conn : {4, 8}) {
        Drawn(a, {".....", ".###.", ".###.", ".###.", "....."});
        BitMask* m = ImgForegroundMask(&a, 0, 0, 0, 4, 4);
        ImgBinaryShrink(m, &a, conn, 0, 0, 0, 4, 4);
        ImgBitMaskDestroy(m);
        EXPECT_EQ(Rows(a), (std::vector<std::string>{".....", ".....", "..#..", ".....", "....."}));
    }
    ImgBinaryBorder(Drawn(a, {".......", ".#####.", ".#####.", ".#####.", ".#####.", ".#####.", "......."}), 8, 0, nullptr);
    EXPECT_EQ(Rows(a), (std::vector<std::string>{".......", ".#####.", ".#...#.", ".#...#.", ".#...#.", ".#####.", "......."}));
    ImgBinaryFillHoles(Drawn(a, {"#.....", "###...", "#.#...", "###..."}), 8, 0, nullptr);
    EXPECT_EQ(Rows(a), (std::vector<std::string>{"#.....", "###...", "###...", "###..."}));
    // Exclusive expansion: one background pixel between two dots stays; with
    // two, the earlier dot takes its neighbour and one pixel still separates.
    ImgBinaryExpandExclusive(Drawn(a, {".....", ".#.#.", "....."}), 4, 0, 0, 0, 4, 2);
    EXPECT_EQ(Rows(a), (std::vector<std::string>{".#.#.", "##.##", ".#.#."}));
    ImgBinaryExpandExclusive(Drawn(a, {"......", ".#..#.", "......"}), 4, 0, 0, 0, 5, 2);
    EXPECT_EQ(Rows(a), (std::vector<std::string>{".#..#.", "###.##", ".#..#."}));
    // Refusals leave the image as it was.
    Drawn(a, {"..#..", "....."});
    EXPECT_EQ(ImgBinaryExpand(&a, 6, 0, nullptr), 0);
    EXPECT_EQ(ImgBinaryThin(&a, 6, 0, nullptr), 0);
    EXPECT_EQ(ImgBinaryShave(&a, 3, 6, 0, nullptr), 0);
    EXPECT_EQ(ImgBinaryBorder(&a, 6, 0, nullptr), 0);
    EXPECT_EQ(ImgBinaryFillHoles(&a, 6, 0, nullptr), 0);
    EXPECT_EQ(ImgBinaryExpandExclusive(&a, 6, 0, 0, 0, 4, 1), 0);
    EXPECT_EQ(ImgBinaryExpandExclusive(&a, 4, 0, 0, 0, 5, 1), 0);
    const ImgRect outside{10, 10, 20, 20};
    EXPECT_EQ(ImgBinaryExpand(&a, 8, 0, &outside), 0);
    EXPECT_EQ(Rows(a), (std::vector<std::string>{"..#..", "....."}));
    CImgBuff empty;
    EXPECT_EQ(ImgBinaryFillHoles(&empty, 8, 0, nullptr), 0);
}

uint32_t Crc32(const uint8_t* p, size_t n) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

TEST(Thinning, TableIsPinned) {
    uint32_t sum = 0;
    for (uint8_t v : g_ImgThinTable) sum += v;
    EXPECT_EQ(sum, 8760u);
    EXPECT_EQ(Crc32(g_ImgThinTable, 256), 0x7eadd58du);
}

int Components(const CImgBuff& img, int32_t conn) {
    // A flood count on the 8-bit reading, independent of the kernels.
    const int32_t w = img.buffer->width, h = img.buffer->height;
    std::vector<uint8_t> seen(size_t(w) * h);
    int n = 0;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            if (!*img.buffer->PixelAt(x, y) || seen[size_t(y) * w + x]) continue;
            ++n;
            std::vector<std::pair<int32_t, int32_t>> stack{{x, y}};
            seen[size_t(y) * w + x] = 1;
            while (!stack.empty()) {
                const auto [cx, cy] = stack.back();
                stack.pop_back();
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        if (conn == 4 && dx && dy) continue;
                        const int32_t nx = cx + dx, ny = cy + dy;
                        if (nx < 0 || ny < 0 || nx >= w || ny >= h || seen[size_t(ny) * w + nx] || !*img.buffer->PixelAt(nx, ny)) continue;
                        seen[size_t(ny) * w + nx] = 1;
                        stack.emplace_back(nx, ny);
                    }
            }
        }
    return n;
}

TEST(Thinning, KeepsComponentsAndIsStable) {
    CImgBuff source;
    ASSERT_TRUE(ktest::MakeBlobs(source, 120, 90, 31, 0.0));
    for (int32_t conn : {4, 8}) {
        CImgBuff img;
        img.CopyFrom(&source);
        ASSERT_EQ(ImgBinaryThin(&img, conn, 0, nullptr), 1);
        EXPECT_EQ(Components(img, conn), Components(source, conn)) << conn;
        const std::string after = ktest::Block(img), before = ktest::Block(source);
        EXPECT_LT(std::count(after.begin(), after.end(), '\xff'), std::count(before.begin(), before.end(), '\xff') / 2);
        const std::string once = ktest::Block(img);
        ASSERT_EQ(ImgBinaryThin(&img, conn, 0, nullptr), 1);
        EXPECT_EQ(ktest::Block(img), once) << conn;
        if (conn != 8) continue;
        for (int y = 0; y + 1 < 90; ++y)
            for (int x = 0; x + 1 < 120; ++x)
                ASSERT_FALSE(*img.buffer->PixelAt(x, y) && *img.buffer->PixelAt(x + 1, y) && *img.buffer->PixelAt(x, y + 1) &&
                             *img.buffer->PixelAt(x + 1, y + 1))
                    << x << "," << y;
    }
    // A bar 3 pixels thick becomes a line; a line stays as it is.
    for (int32_t conn : {4, 8}) {
        CImgBuff bar;
        Drawn(bar, {"............", ".##########.", ".##########.", ".##########.", "............"});
        ImgBinaryThin(&bar, conn, 0, nullptr);
        int rows = 0;
        for (const std::string& r : Rows(bar)) rows += r.find('#') != std::string::npos;
        EXPECT_EQ(rows, 1) << conn;
        CImgBuff line;
        Drawn(line, {"..........", ".########.", ".........."});
        ImgBinaryThin(&line, conn, 0, nullptr);
        EXPECT_EQ(Rows(line)[1], ".########.") << conn;
    }
}

TEST(Shave, ShortSpursGoLongOnesStay) {
    std::vector<std::string> rows(12, std::string(30, '.'));
    for (int x = 2; x <= 26; ++x) rows[9][x] = '#';      // the line
    for (int y = 7; y <= 8; ++y) rows[y][8] = '#';       // spur of 2
    for (int y = 4; y <= 8; ++y) rows[y][18] = '#';      // spur of 5
    rows[1][3] = rows[1][4] = '#';                       // a free 2-pixel segment
    // The largest length reaches every junction: both spurs go, the line
    // and the segment (whose walks end on no junction) stay.
    for (uint64_t length : {uint64_t(3), ~uint64_t(0)}) {
        CImgBuff img;
        Drawn(img, rows);
        ASSERT_EQ(ImgBinaryShave(&img, length, 4, 0, nullptr), 1);
        std::vector<std::string> expected = rows;
        expected[7][8] = expected[8][8] = '.';
        if (length != 3)
            for (int y = 4; y <= 8; ++y) expected[y][18] = '.';
        EXPECT_EQ(Rows(img), expected) << length;
    }
    // White background: the same with the levels swapped.
    CImgBuff inv;
    Drawn(inv, rows);
    for (int64_t i = 0; i < 12 * 30; ++i) inv.buffer->pixels[i] = 255 - inv.buffer->pixels[i];
    ASSERT_EQ(ImgBinaryShave(&inv, 3, 4, 1, nullptr), 1);
    EXPECT_EQ(*inv.buffer->PixelAt(8, 7), 255);
    EXPECT_EQ(*inv.buffer->PixelAt(18, 5), 0);
}

// Objects grow by at most one pixel and never merge.
TEST(ExclusiveExpansion, GrowsWithoutJoining) {
    CImgBuff source;
    ASSERT_TRUE(ktest::MakeBlobs(source, 120, 90, 41, 0.0));
    for (int32_t conn : {4, 8}) {
        CImgBuff img, dilated;
        img.CopyFrom(&source);
        dilated.CopyFrom(&source);
        ASSERT_EQ(ImgBinaryExpandExclusive(&img, conn, 0, 0, 0, 119, 89), 1);
        ImgBinaryExpand(&dilated, conn, 0, nullptr);
        EXPECT_EQ(Components(img, conn), Components(source, conn)) << conn;
        int grew = 0;
        for (int64_t i = 0; i < 120 * 90; ++i) {
            if (img.buffer->pixels[i] && !dilated.buffer->pixels[i]) FAIL() << "outside the dilation";
            grew += img.buffer->pixels[i] && !source.buffer->pixels[i];
        }
        EXPECT_GT(grew, 100);
    }
}

}  // namespace
