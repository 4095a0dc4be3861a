// Object removal by size and by edge against scipy labels, and the edge
// cases of both.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "image/kernels/object_removal.h"
#include "support/kernel_test_util.h"

namespace {

struct SizeCase {
    uint32_t minimum, maximum;
    int32_t connectivity;
    bool region;
};

struct EdgeCase {
    uint32_t left, top, right, bottom;
    int32_t connectivity;
    bool region;
};

const ImgRect kRegion{10, 7, 150, 110};

// Both kernels on one random frame, every case against a scipy
// transcription: label the region, erase by bincount or by edge labels.
TEST(ObjectRemoval, AgainstScipyLabels) {
    const SizeCase sizes[] = {{5, 0, 8, false}, {0, 100, 8, false}, {3, 40, 4, false}, {5, 0, 4, true}, {2, 30, 8, true}};
    const EdgeCase edges[] = {{1, 0, 0, 0, 8, false}, {0, 1, 1, 0, 4, false}, {1, 1, 1, 1, 8, true}, {0, 0, 0, 1, 4, true}};
    CImgBuff source;
    ASSERT_TRUE(ktest::MakeBlobs(source, 173, 131, 11, 0.08, 180));
    std::string script = "from scipy import ndimage\n"
                         "a = np.fromfile(sys.argv[1], np.uint8).reshape(131, 173)\n"
                         "outs = []\n"
                         "def label(conn, reg):\n"
                         "    sl = (slice(7, 111), slice(10, 151)) if reg else (slice(None), slice(None))\n"
                         "    st = np.ones((3, 3)) if conn == 8 else None\n"
                         "    return sl, ndimage.label(a[sl] != 0, structure=st)[0]\n";
    for (const SizeCase& c : sizes) {
        script += "sl, lab = label(" + std::to_string(c.connectivity) + ", " + (c.region ? "True" : "False") + ")\n" +
                  "n = np.bincount(lab.ravel())\n" + "kill = np.zeros(len(n), bool)\n" +
                  (c.minimum ? "kill |= n <= " + std::to_string(c.minimum) + "\n" : "") +
                  (c.maximum ? "kill |= n >= " + std::to_string(c.maximum) + "\n" : "") +
                  "kill[0] = False\nb = a.copy()\nb[sl][kill[lab]] = 0\nouts.append(b)\n";
    }
    for (const EdgeCase& c : edges) {
        script += "sl, lab = label(" + std::to_string(c.connectivity) + ", " + (c.region ? "True" : "False") + ")\n" +
                  "touch = set()\n" + (c.left ? "touch |= set(lab[:, 0].tolist())\n" : "") +
                  (c.right ? "touch |= set(lab[:, -1].tolist())\n" : "") + (c.top ? "touch |= set(lab[0, :].tolist())\n" : "") +
                  (c.bottom ? "touch |= set(lab[-1, :].tolist())\n" : "") + "touch.discard(0)\n" +
                  "b = a.copy()\nb[sl][np.isin(lab, list(touch))] = 0\nouts.append(b)\n";
    }
    script += "np.concatenate([o.ravel() for o in outs]).tofile(sys.argv[-1])\n";
    const std::string expected = ktest::RunNumpy(script, {ktest::Block(source)});

    std::vector<std::string> results;
    for (const SizeCase& c : sizes) {
        CImgBuff img;
        img.CopyFrom(&source);
        EXPECT_EQ(ImgRemoveObjectsBySize(&img, c.minimum, c.maximum, c.connectivity, 0, c.region ? &kRegion : nullptr), 1);
        results.push_back(ktest::Block(img));
    }
    for (const EdgeCase& c : edges) {
        CImgBuff img;
        img.CopyFrom(&source);
        EXPECT_EQ(ImgEraseEdgeObjects(&img, c.left, c.top, c.right, c.bottom, c.connectivity, 0, c.region ? &kRegion : nullptr), 1);
        results.push_back(ktest::Block(img));
    }
    ktest::ExpectConcatenated(results, expected);
    for (const std::string& r : results) EXPECT_NE(r, ktest::Block(source));
}

// Two 3-pixel objects touching diagonally, a 6-pixel bar and a 100-pixel block.
void Scene(CImgBuff& img, int32_t format, bool inverted) {
    ASSERT_TRUE(img.buffer->Create(40, 20, format));
    const uint8_t bg = inverted ? 255 : 0, fg = inverted ? 0 : 200;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x) img.buffer->SetPixelGray8(x, y, bg);
    for (int x = 1; x <= 3; ++x) img.buffer->SetPixelGray8(x, 1, fg);
    for (int x = 4; x <= 6; ++x) img.buffer->SetPixelGray8(x, 2, fg);
    for (int x = 10; x <= 15; ++x) img.buffer->SetPixelGray8(x, 5, fg);
    for (int y = 8; y < 18; ++y)
        for (int x = 20; x < 30; ++x) img.buffer->SetPixelGray8(x, y, fg);
}

int Remaining(const CImgBuff& img, bool inverted) {
    int n = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x) {
            uint8_t g;
            img.buffer->GetPixelGray8(x, y, &g);
            n += g != (inverted ? 255 : 0);
        }
    return n;
}

TEST(ObjectRemoval, SizeLimitsConnectivityAndFormats) {
    struct Case {
        int32_t format;
        bool inverted;
        uint32_t minimum, maximum;
        int32_t connectivity;
        int remaining;
    } cases[] = {
        {kImgGray8, false, 5, 0, 8, 112},  // the diagonal pair is one 6-pixel object
        {kImgGray8, false, 5, 0, 4, 106},
        {kImgGray8, false, 6, 0, 8, 100},
        {kImgGray8, false, 0, 100, 8, 12},
        {kImgGray8, false, 0, 101, 8, 112},
        {kImgGray8, true, 5, 0, 4, 106},  // black objects on white
        {kImgRgb8, false, 5, 0, 4, 106},
        {kImgGray32, false, 0, 100, 8, 12},
        {kImgRgb16, true, 6, 0, 8, 100},
        {kImgHsv16, false, 6, 0, 8, 100},
        {kImgCmyk8, true, 6, 0, 8, 100},
    };
    for (const Case& c : cases) {
        CImgBuff img;
        Scene(img, c.format, c.inverted);
        ASSERT_EQ(ImgRemoveObjectsBySize(&img, c.minimum, c.maximum, c.connectivity, c.inverted, nullptr), 1);
        EXPECT_EQ(Remaining(img, c.inverted), c.remaining) << ImgFormatName(c.format) << " " << c.minimum << " " << c.maximum;
    }
    // A removed colour pixel is painted with the background, here white.
    CImgBuff rgb;
    Scene(rgb, kImgRgb8, true);
    ASSERT_EQ(ImgRemoveObjectsBySize(&rgb, 6, 0, 8, 1, nullptr), 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(rgb.buffer->PixelAt(10, 5)), 3), std::string(3, '\xff'));

    // Both limits off: 1 at once, even with a region outside the image.
    CImgBuff img;
    Scene(img, kImgGray8, false);
    const std::string before = ktest::Block(img);
    const ImgRect outside{100, 100, 120, 120};
    EXPECT_EQ(ImgRemoveObjectsBySize(&img, 0, 0, 8, 0, &outside), 1);
    EXPECT_EQ(ImgRemoveObjectsBySize(&img, 5, 0, 8, 0, &outside), 0);
    EXPECT_EQ(ImgRemoveObjectsBySize(&img, 5, 0, 6, 0, nullptr), 0);
    EXPECT_EQ(ImgEraseEdgeObjects(&img, 1, 1, 1, 1, 6, 0, nullptr), 0);
    EXPECT_EQ(ImgEraseEdgeObjects(&img, 1, 1, 1, 1, 4, 0, &outside), 0);
    CImgBuff empty;
    EXPECT_EQ(ImgRemoveObjectsBySize(&empty, 5, 0, 8, 0, nullptr), 0);
    EXPECT_EQ(ImgEraseEdgeObjects(&empty, 1, 1, 1, 1, 8, 0, nullptr), 0);
    EXPECT_EQ(ktest::Block(img), before);
}

TEST(ObjectRemoval, EdgeObjectsByEdgeAndRegion) {
    CImgBuff img;
    ASSERT_TRUE(img.buffer->Create(20, 12, kImgGray8));
    for (int x = 5; x <= 8; ++x) *img.buffer->PixelAt(x, 11) = 255;    // touches only the bottom
    for (int y = 0; y <= 3; ++y) *img.buffer->PixelAt(0, y) = 255;     // touches the image's left edge
    CImgBuff a;
    a.CopyFrom(&img);
    ASSERT_EQ(ImgEraseEdgeObjects(&a, 1, 1, 1, 0, 8, 0, nullptr), 1);
    EXPECT_EQ(*a.buffer->PixelAt(6, 11), 255);
    EXPECT_EQ(*a.buffer->PixelAt(0, 1), 0);
    // A region whose left edge is x = 1: the image-edge object survives; only
    // the part of the bottom object inside the region is erased.
    CImgBuff b;
    b.CopyFrom(&img);
    const ImgRect region{1, 0, 6, 11};
    ASSERT_EQ(ImgEraseEdgeObjects(&b, 1, 0, 0, 1, 8, 0, &region), 1);
    EXPECT_EQ(*b.buffer->PixelAt(0, 1), 255);
    EXPECT_EQ(*b.buffer->PixelAt(5, 11), 0);
    EXPECT_EQ(*b.buffer->PixelAt(6, 11), 0);
    EXPECT_EQ(*b.buffer->PixelAt(7, 11), 255);
}

}  // namespace
