// Picture view on the offscreen driver: zoom stepping, layout and bars,
// control-to-image mapping, and what each zoom code draws, read back from
// the frame with an image whose pixels encode their own coordinates.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "image/imgbuff.h"
#include "toolkit/fg_dialog.h"
#include "toolkit/fg_loop.h"
#include "toolkit/fg_picture.h"
#include "toolkit/support/ui_input.h"

namespace {

using kvtest::PixelAt;

// 0xRRGGBB of a frame pixel.
uint32_t Rgb(const PlatFrame& f, int32_t x, int32_t y) {
    const uint8_t* p = PixelAt(f, x, y);
    return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
}

constexpr uint8_t kMarkBlue = 200;  // every image pixel has this blue; the background has 51

// An image whose pixel (x, y) is (x, y, 200): what a frame pixel shows
// names the image pixel it came from.
void MakeCoordinateImage(CFgTexture* texture, int32_t w, int32_t h) {
    CImgBuff img;
    ASSERT_EQ(img.buffer->Create(w, h, kImgRgb8), 1);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            img.buffer->SetPixelRgb8(x, y, static_cast<uint8_t>(x), static_cast<uint8_t>(y), kMarkBlue);
    ASSERT_EQ(texture->SetFromImage(&img, 1), 1);
}

class PictureDialog : public CFgUIDialog {
public:
    CFgUIPicture picture;
};

class FgPictureTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(d.Create(-1, -1, 320, 240, L"picture", kFgStyleFixed, nullptr), 1);
        ASSERT_EQ(d.picture.SetRect(10, 20, 240, 180), 1);
        d.AddChild(&d.picture);
        FgPumpMessages();
    }
    void LoadImage(int32_t w, int32_t h) {
        CFgTexture image;
        MakeCoordinateImage(&image, w, h);
        d.picture.SetImage(&image);
    }
    PictureDialog d;
    CFgUIPicture& p = d.picture;
};

TEST_F(FgPictureTest, StepsVisitOneTwoFourAndTheReductions) {
    LoadImage(40, 30);
    const struct {
        int32_t start;
        int32_t steps;
        std::vector<int32_t> codes;
    } cases[] = {
        {0, 1, {1, 2, 4, 4}},       {0, -1, {1, -2, -4, -4}}, {-1, 1, {1, 2, 4}},
        {-1, -1, {1, -2, -4}},      {-4, 1, {-2, 1, 2}},      {4, -1, {2, 1, -2}},
        {0, 0, {0, 0}},             {-1, 0, {-1}},            {2, 0, {2}},
        {1, INT32_MAX, {4}},        {1, INT32_MIN, {-4}},     {0, 3, {4}},
        {0, -2, {-2}},              {-3, 1, {1}},             {100, -1, {4}},
        {INT32_MIN, 1, {-4}},       {INT32_MAX, INT32_MIN, {-4}},
    };
    for (const auto& c : cases) {
        p.zoom = c.start;
        for (int32_t expected : c.codes) {
            p.ZoomBySteps(c.steps);
            EXPECT_EQ(p.zoom, expected) << "from " << c.start << " by " << c.steps;
        }
    }
    // Without pixels nothing changes.
    CFgTexture empty;
    p.SetImage(&empty);
    p.zoom = 0;
    p.ZoomBySteps(1);
    EXPECT_EQ(p.zoom, 0);
}

TEST_F(FgPictureTest, LayoutOfWideTallAndEmptyImages) {
    // Fit, wide image in the 240 x 180 control: as wide as the view, centred vertically.
    LoadImage(200, 120);
    EXPECT_EQ(p.laidOut, 1u);
    EXPECT_EQ(p.bars.horizontalInUse + p.bars.verticalInUse, 0u);
    EXPECT_EQ(p.view.x0, 10);
    EXPECT_EQ(p.view.x1, 249);
    EXPECT_EQ(p.fit.x0, 10);
    EXPECT_EQ(p.fit.x1, 249);
    EXPECT_EQ(p.fit.y0, (20 + 199) / 2 - 144 / 2);
    EXPECT_EQ(p.fit.y1 - p.fit.y0 + 1, 240 * 120 / 200);
    // Tall image: as high as the view, centred horizontally.
    LoadImage(60, 200);
    EXPECT_EQ(p.fit.y0, 20);
    EXPECT_EQ(p.fit.y1, 199);
    EXPECT_EQ(p.fit.x1 - p.fit.x0 + 1, 180 * 60 / 200);
    EXPECT_EQ(p.fit.x0, (10 + 249) / 2 - 54 / 2);

    // Magnified past the control: both bars, the view less 16 pixels each way.
    LoadImage(200, 120);
    p.SetZoom(2);
    EXPECT_EQ(p.bars.horizontalInUse, 1u);
    EXPECT_EQ(p.bars.verticalInUse, 1u);
    EXPECT_EQ(p.view.x1, 10 + 240 - 16 - 1);
    EXPECT_EQ(p.view.y1, 20 + 180 - 16 - 1);
    EXPECT_EQ(p.bars.horizontal.page, (240 - 16) / 2);
    EXPECT_EQ(p.bars.horizontal.maximum, 199);
    EXPECT_EQ(p.bars.vertical.page, (180 - 16) / 2);
    EXPECT_EQ(p.bars.horizontal.visible, 1u);
    EXPECT_EQ(p.bars.horizontal.x, 10);
    EXPECT_EQ(p.bars.horizontal.Right(), p.view.x1);
    EXPECT_EQ(p.bars.vertical.Bottom(), p.view.y1);
    // Only the width exceeds the control: one bar, and the height keeps its room.
    LoadImage(300, 100);
    p.SetZoom(1);
    EXPECT_EQ(p.bars.horizontalInUse, 1u);
    EXPECT_EQ(p.bars.verticalInUse, 0u);
    EXPECT_EQ(p.bars.vertical.visible, 0u);
    EXPECT_EQ(p.bars.horizontal.page, 240);

    // A reduction larger than the image, and an empty image, lay out nothing and hide the bars.
    for (int32_t code : {-512, INT32_MIN}) {
        p.SetZoom(code);
        EXPECT_EQ(p.laidOut, 0u) << code;
        EXPECT_EQ(p.bars.horizontal.visible + p.bars.vertical.visible, 0u);
        EXPECT_EQ(p.bars.horizontal.maximum, 0);
        EXPECT_EQ(p.bars.horizontal.page, 1);
    }
    CFgTexture empty;
    for (int32_t code : {0, -1, 1, 2, -2}) {
        p.SetImage(&empty);
        p.SetZoom(code);
        EXPECT_EQ(p.laidOut, 0u) << code;
        EXPECT_EQ(p.bars.horizontal.visible + p.bars.vertical.visible, 0u);
    }
    // A zero-width rectangle is refused and changes nothing.
    EXPECT_EQ(p.SetRect(0, 0, 0, 50), 0);
    EXPECT_EQ(p.width, 240);
}

TEST_F(FgPictureTest, BarsClampAtTheFarEdgesAndKeepTheCentre) {
    LoadImage(200, 120);
    p.SetZoom(4);
    // Scrolled to the far right and bottom, then zoomed out: the larger
    // page is pulled back to end at the last pixel.
    p.bars.horizontal.position = p.bars.horizontal.maximum - p.bars.horizontal.page + 1;
    p.bars.vertical.position = 120 - p.bars.vertical.page;
    p.SetZoom(2);
    EXPECT_EQ(p.bars.horizontal.page, 224 / 2);
    EXPECT_EQ(p.bars.horizontal.position + p.bars.horizontal.page, 200);
    EXPECT_EQ(p.bars.vertical.position + p.bars.vertical.page, 120);
    // In the middle the centre is kept: centre 100 of 200 at zoom 2 and at zoom 4.
    p.SetZoom(1);
    p.SetZoom(2);
    p.bars.horizontal.position = 100 - p.bars.horizontal.page / 2;
    p.SetZoom(4);
    EXPECT_EQ(p.bars.horizontal.position + p.bars.horizontal.page / 2, 100);
    // A position moved by the owner past the end is pulled back by the layout.
    p.bars.horizontal.position = 5000;
    p.UpdateLayout();
    EXPECT_EQ(p.bars.horizontal.position, 200 - p.bars.horizontal.page);
}

TEST_F(FgPictureTest, ControlToImageAtEachCode) {
    LoadImage(200, 120);
    p.SetZoom(2);
    p.bars.horizontal.position = 10;
    int32_t x = p.view.x0 + 5, y = p.view.y0 + 7;
    EXPECT_EQ(p.ControlToImage(&x, &y), 1);
    EXPECT_EQ(x, 12);
    EXPECT_EQ(y, 3 + p.bars.vertical.position);
    // Outside the view (on the bar): 0, unchanged.
    x = p.view.x1 + 1, y = p.view.y0;
    EXPECT_EQ(p.ControlToImage(&x, &y), 0);
    EXPECT_EQ(x, p.view.x1 + 1);

    p.SetZoom(-2);
    x = p.view.x0 + 5, y = p.view.y0 + 5;
    EXPECT_EQ(p.ControlToImage(&x, &y), 1);
    EXPECT_EQ(x, 10);
    // Beyond the shown image but inside the view: converted, and 0.
    x = p.view.x0 + 150, y = p.view.y0;
    EXPECT_EQ(p.ControlToImage(&x, &y), 0);
    EXPECT_EQ(x, 300);

    // Fit: only the fit rectangle maps; above and below it is nothing.
    p.SetZoom(0);
    x = p.fit.x0, y = p.fit.y0 - 1;
    EXPECT_EQ(p.ControlToImage(&x, &y), 0);
    EXPECT_EQ(y, p.fit.y0 - 1);
    x = p.fit.x1, y = p.fit.y1;
    EXPECT_EQ(p.ControlToImage(&x, &y), 1);
    EXPECT_EQ(x, 199);
    EXPECT_EQ(y, 119);
    x = p.fit.x0 + 120, y = p.fit.y0 + 72;
    EXPECT_EQ(p.ControlToImage(&x, &y), 1);
    EXPECT_EQ(x, 200 * 120 / 240);
    EXPECT_EQ(y, 120 * 72 / 144);

    p.SetZoom(-1);
    x = p.view.x1, y = p.view.y0 + 90;
    EXPECT_EQ(p.ControlToImage(&x, &y), 1);
    EXPECT_EQ(x, 200 * 239 / 240);
    EXPECT_EQ(y, 120 * 90 / 180);
}

TEST_F(FgPictureTest, WideImagesAndLargeCodesDoNotWrap) {
    // Stretch of a 70000-pixel row over 40000 pixels: W x 39999 exceeds 32 bits.
    CFgUIPicture wide;
    ASSERT_EQ(wide.SetRect(0, 0, 40000, 40000), 1);
    CFgTexture row;
    ASSERT_EQ(row.Create(70000, 1, 1, 1, 0, nullptr), 1);
    wide.SetImage(&row);
    wide.SetZoom(-1);
    int32_t x = 39999, y = 0;
    EXPECT_EQ(wide.ControlToImage(&x, &y), 1);
    EXPECT_EQ(x, static_cast<int32_t>(70000LL * 39999 / 40000));
    // Fit: the view height times W exceeds 32 bits as well.
    wide.SetZoom(0);
    EXPECT_EQ(wide.fit.x0, 0);
    EXPECT_EQ(wide.fit.x1, 39999);
    EXPECT_EQ(wide.fit.y1 - wide.fit.y0 + 1, 0) << "40000 x 1 / 70000 rounds to no row";

    // A huge reduction: |z| x 4 = 2^32 would wrap to pixel 0.
    LoadImage(20, 20);
    p.SetZoom(1);
    p.SetZoom(-(1 << 30));
    x = p.view.x0 + 4, y = p.view.y0;
    EXPECT_EQ(p.ControlToImage(&x, &y), 0);
    EXPECT_EQ(x, INT32_MAX);
    // A huge magnification: W x z stays a size, the bars are in use.
    p.SetZoom(INT32_MAX);
    EXPECT_EQ(p.laidOut, 1u);
    EXPECT_EQ(p.bars.horizontalInUse, 1u);
    x = p.view.x1, y = p.view.y1;
    EXPECT_EQ(p.ControlToImage(&x, &y), 1);
    const PlatFrame f = kvtest::CaptureFrame(d, d);
    EXPECT_EQ(f.width, 320);
}

// Where view pixel (px, py) lands in image coordinates (its centre), for
// the codes whose scale is not a whole number of screen pixels per image pixel.
struct Mapping {
    double x0, y0, scaleX, scaleY, sourceX, sourceY;
};

// Every pixel of the control: image pixels where the image is drawn, 0.2
// grey elsewhere, the bars over their strips.
void CheckFrame(const PlatFrame& f, const CFgUIPicture& p, const FgBarRect& dest, const Mapping& map,
                const std::string& what) {
    int bad = 0;
    for (int32_t py = p.y; py <= p.view.y1 && bad < 5; ++py) {
        for (int32_t px = p.x; px <= p.view.x1 && bad < 5; ++px) {
            const uint8_t* got = PixelAt(f, px, py);
            const bool inside = px >= dest.x0 && px <= dest.x1 && py >= dest.y0 && py <= dest.y1;
            if (!inside) {
                if (got[0] != 51 || got[1] != 51 || got[2] != 51)
                    ++bad, ADD_FAILURE() << what << ": background expected at " << px << "," << py;
                continue;
            }
            if (got[2] != kMarkBlue) {
                ++bad, ADD_FAILURE() << what << ": image expected at " << px << "," << py;
                continue;
            }
            int32_t ix = px, iy = py;
            const int32_t hit = p.ControlToImage(&ix, &iy);
            if (map.scaleX == 1 && map.scaleY == 1 && p.zoom >= 1) {
                // Magnified: exactly the pixel ControlToImage names.
                if (!hit || got[0] != ix || got[1] != iy)
                    ++bad, ADD_FAILURE() << what << ": at " << px << "," << py << " drew " << int(got[0]) << ","
                                         << int(got[1]) << " mapped " << ix << "," << iy;
                continue;
            }
            // Reduced or scaled: within the 2 x 2 image pixels around the
            // pixel centre's image point, and ControlToImage names a pixel
            // whose area the screen pixel covers.
            const double cx = map.sourceX + (px - map.x0 + 0.5) * map.scaleX;
            const double cy = map.sourceY + (py - map.y0 + 0.5) * map.scaleY;
            const double lowX = std::floor(cx - 0.5), lowY = std::floor(cy - 0.5);
            const bool near = got[0] >= lowX && got[0] <= lowX + 1 && got[1] >= lowY && got[1] <= lowY + 1;
            const bool covered = hit && ix >= std::floor(cx - map.scaleX / 2) - 1 && ix <= cx &&
                                 iy >= std::floor(cy - map.scaleY / 2) - 1 && iy <= cy;
            if (!near || !covered)
                ++bad, ADD_FAILURE() << what << ": at " << px << "," << py << " drew " << int(got[0]) << ","
                                     << int(got[1]) << " for centre " << cx << "," << cy << ", mapped " << ix << ","
                                     << iy;
        }
    }
}

TEST_F(FgPictureTest, EachCodeDrawsTheMappedPixels) {
    // Sides that are not multiples of the reductions.
    constexpr int32_t W = 203, H = 123;
    LoadImage(W, H);
    const struct {
        int32_t code;
        int32_t hPos, vPos;
        const char* shot;
    } cases[] = {
        {0, 0, 0, "picture_fit"},   {-1, 0, 0, "picture_stretch"}, {1, 37, 0, "picture_zoom1"},
        {2, 41, 13, "picture_zoom2"}, {4, 200, 200, "picture_zoom4"}, {-2, 0, 0, "picture_zoom-2"},
        {-4, 0, 0, "picture_zoom-4"},
    };
    for (const auto& c : cases) {
        p.SetZoom(c.code);
        // Scroll; a position past the end is pulled back by the layout.
        p.bars.horizontal.position = c.hPos;
        p.bars.vertical.position = c.vPos;
        p.UpdateLayout();
        ASSERT_EQ(p.laidOut, 1u);
        const PlatFrame f = kvtest::CaptureFrame(d, d);
        ASSERT_EQ(f.width, 320);
        kvtest::SaveScreenshot(f, c.shot);
        FgBarRect dest = p.view;
        Mapping map{double(p.view.x0), double(p.view.y0), 1, 1, 0, 0};
        if (c.code == 0) {
            dest = p.fit;
            map = {double(p.fit.x0), double(p.fit.y0), double(W) / (p.fit.x1 - p.fit.x0 + 1),
                   double(H) / (p.fit.y1 - p.fit.y0 + 1), 0, 0};
        } else if (c.code == -1) {
            map.scaleX = double(W) / (p.view.x1 - p.view.x0 + 1);
            map.scaleY = double(H) / (p.view.y1 - p.view.y0 + 1);
        } else if (c.code <= -2) {
            dest.x1 = p.view.x0 + W / -c.code - 1;
            dest.y1 = p.view.y0 + H / -c.code - 1;
            map.scaleX = map.scaleY = -c.code;
        } else {
            // Magnified: the image from the bar positions on, cut by the view.
            dest.x1 = std::min(p.view.x1, p.view.x0 + c.code * (W - p.bars.horizontal.position) - 1);
            dest.y1 = std::min(p.view.y1, p.view.y0 + c.code * (H - p.bars.vertical.position) - 1);
        }
        CheckFrame(f, p, dest, map, c.shot);
        // The bars in use are drawn over their strips (dark outline, not the background).
        if (p.bars.horizontalInUse) {
            EXPECT_NE(Rgb(f, p.x + 20, p.Bottom()), 0x333333u) << c.shot;
        }
    }
}

TEST_F(FgPictureTest, ThePaintCallbackAlwaysGetsTheStoredPixels) {
    LoadImage(64, 32);
    struct Seen {
        int calls = 0;
        int mismatches = 0;
    } seen;
    p.callbackData = &seen;
    p.paintCallback = [](CFgScreen*, CFgFont*, CFgTexture* t, void* data) {
        auto* s = static_cast<Seen*>(data);
        ++s->calls;
        // Read the texture as OpenGL holds it and compare with the CPU copy.
        std::vector<uint8_t> held(t->texWidth * t->texHeight * 3);
        glBindTexture(GL_TEXTURE_2D, t->glName);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, held.data());
        for (uint64_t y = 0; y < t->cellHeight; ++y)
            for (uint64_t i = 0; i < t->cellWidth * 3; ++i)
                if (held[y * t->RowBytes() + i] != t->pixels[y * t->RowBytes() + i]) ++s->mismatches;
        // Then draw into it: a white block in the top-left corner.
        std::vector<uint8_t> white(8 * 8 * 3, 255);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 8, 8, GL_RGB, GL_UNSIGNED_BYTE, white.data());
        glBindTexture(GL_TEXTURE_2D, 0);
    };
    p.SetZoom(1);
    for (int i = 0; i < 3; ++i) {
        const PlatFrame f = kvtest::CaptureFrame(d, d);
        EXPECT_EQ(Rgb(f, p.view.x0 + 2, p.view.y0 + 2), 0xffffffu) << "the callback's drawing shows";
        EXPECT_EQ(Rgb(f, p.view.x0 + 20, p.view.y0 + 9), (20u << 16) | (9u << 8) | kMarkBlue);
    }
    EXPECT_GE(seen.calls, 3);
    EXPECT_EQ(seen.mismatches, 0);
    EXPECT_EQ(p.painted, 1u);
    // A new image clears the mark.
    LoadImage(64, 32);
    EXPECT_EQ(p.painted, 0u);
}

TEST_F(FgPictureTest, AFilledTextureShowsAtTheNextDraw) {
    LoadImage(64, 32);
    p.SetZoom(1);
    kvtest::CaptureFrame(d, d);
    const uint32_t name = p.texture.glName;
    // On this thread: the rows are refilled in place and the name is kept.
    CFgTexture* t = p.GetTexture();
    for (uint64_t y = 0; y < t->cellHeight; ++y)
        for (uint64_t x = 0; x < t->cellWidth; ++x) {
            uint8_t* px = t->pixels + y * t->RowBytes() + x * 3;
            px[0] = 9, px[1] = 8, px[2] = kMarkBlue;
        }
    p.UpdateLayout();
    PlatFrame f = kvtest::CaptureFrame(d, d);
    EXPECT_EQ(Rgb(f, p.view.x0 + 30, p.view.y0 + 30), 0x0908c8u);
    EXPECT_EQ(p.texture.glName, name);
    // On a worker: the texture is handed out and refilled there, a new size
    // included; the user-interface thread sends it at its next draw.
    std::thread worker([&] {
        CFgTexture* w = p.GetTexture();
        CImgBuff img;
        img.buffer->Create(100, 50, kImgRgb8);
        for (int32_t y = 0; y < 50; ++y)
            for (int32_t x = 0; x < 100; ++x) img.buffer->SetPixelRgb8(x, y, 1, 2, 3);
        w->SetFromImage(&img, 1);
        p.UpdateLayout();
    });
    worker.join();
    f = kvtest::CaptureFrame(d, d);
    EXPECT_EQ(Rgb(f, p.view.x0 + 99, p.view.y0 + 49), 0x010203u);
    EXPECT_EQ(Rgb(f, p.view.x0 + 100, p.view.y0 + 49), 0x333333u);
}

TEST_F(FgPictureTest, OverlayGetsTheShownRectanglesAndVisibilityReachesTheBars) {
    LoadImage(200, 120);
    std::vector<int32_t> args;
    p.callbackData = &args;
    p.overlayCallback = [](CFgScreen*, CFgFont*, int32_t a, int32_t b, int32_t c, int32_t dd, int32_t e, int32_t f,
                           int32_t g, int32_t h, int32_t z, void* data) {
        *static_cast<std::vector<int32_t>*>(data) = {a, b, c, dd, e, f, g, h, z};
    };
    p.SetZoom(2);
    p.bars.horizontal.position = 10;
    kvtest::CaptureFrame(d, d);
    const int32_t page = p.bars.horizontal.page, vpage = p.bars.vertical.page;
    EXPECT_EQ(args, (std::vector<int32_t>{10, 20, 10 - 1 + 2 * (page + 1), 20 - 1 + 2 * (vpage + 1), 10,
                                          p.bars.vertical.position, 10 + page, p.bars.vertical.position + vpage, 2}));
    p.SetVisible(0, 0);
    EXPECT_EQ(p.bars.horizontal.visible + p.bars.vertical.visible, 0u);
    p.SetVisible(1, 0);
    EXPECT_EQ(p.bars.horizontal.visible + p.bars.vertical.visible, 2u);
    p.Enable(0);
    EXPECT_EQ(p.enabled + p.bars.horizontal.enabled + p.bars.vertical.enabled, 0u);
    // The bars follow the picture in the container, so they are hit first.
    EXPECT_EQ(p.next, &p.bars.horizontal);
    EXPECT_EQ(p.bars.horizontal.next, &p.bars.vertical);
}

}  // namespace
