// The composite dialog: channels chosen with SEL or typed, composed in the
// colour spaces and checked against numpy, the enabled states, OPEN, and
// its screenshots in both languages.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/composite_ui.h"
#include "app/main_screen.h"
#include "app/support/main_screen_fixture.h"
#include "platform/plat_messages.h"
#include "support/testsupport.h"
#include "toolkit/support/file_select_answer.h"
#include "toolkit/support/ui_input.h"

namespace {

using namespace kvapptest;

void Click(CFgUIDialog& dialog, const CFgUIObj& control) {
    PlatPostTestClick(dialog.window, control.x + control.width / 2, control.y + control.height / 2);
    kvtest::Pump();
}

void Type(CFgUIDialog& dialog, const CFgUIEdit& edit, const std::wstring& text) {
    PlatPostTestClick(dialog.window, edit.x + edit.width - 2, edit.y + edit.height / 2);
    kvtest::PostText(dialog.window, text);
    kvtest::Pump();
}

class CompositeTest : public MainScreenTest {
protected:
    // A grey picture of random values, and its raw bytes beside it.
    std::string Grey(const std::string& name, int w, int h, int seed, int depth = 8) {
        const std::string path = fx.dir().file(name + ".png");
        char cmd[512];
        std::snprintf(cmd, sizeof cmd,
                      "convert -size %dx%d xc:gray50 -seed %d +noise Random -colorspace gray -depth %d "
                      "-define png:color-type=0 '%s' && convert '%s' -depth 8 'gray:%s.raw'",
                      w, h, seed, depth, path.c_str(), path.c_str(), fx.dir().file(name).c_str());
        EXPECT_EQ(kvtest::RunCommand(cmd), 0) << cmd;
        return path;
    }
    // The expected 8-bit RGB result of numpy for `space` over the raws.
    std::string Expected(const std::string& space, const std::vector<std::string>& rows, int w, int h) {
        const std::string py = R"(
import sys, numpy as np
space, W, H = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
chans = []
for spec in sys.argv[4:]:
    path, w, h = spec.split(':')
    a = np.fromfile(path, dtype=np.uint8).reshape(int(h), int(w)).astype(np.int64)
    full = np.zeros((H, W), np.int64)
    full[:int(h), :int(w)] = a
    chans.append(full)
if space == 'rgb':
    out = np.stack(chans[:3], axis=2)
elif space == 'cmy':
    out = 255 - np.stack(chans[:3], axis=2)
else:
    k = chans[3]
    out = np.stack([np.where(c + k > 255, 0, 255 - k - c) for c in chans[:3]], axis=2)
sys.stdout.write(out.astype(np.uint8).tobytes().hex())
)";
        std::vector<std::string> args = {space, std::to_string(w), std::to_string(h)};
        for (const std::string& r : rows) args.push_back(r);
        std::string out;
        if (kvtest::RunPython(py, args, &out) != 0) return "";
        return out;
    }
    static std::string Hex(const CImgBuff& image) {
        const C_ImgBuff* b = image.buffer;
        std::string hex;
        char two[3];
        for (int32_t y = 0; y < b->height; ++y)
            for (int32_t x = 0; x < b->width; ++x) {
                uint8_t rgb[3];
                b->GetPixelRgb8(x, y, &rgb[0], &rgb[1], &rgb[2]);
                for (uint8_t v : rgb) {
                    std::snprintf(two, 3, "%02x", v);
                    hex += two;
                }
            }
        return hex;
    }
};

TEST_F(CompositeTest, ChannelsComposeAsNumpyComputes) {
    const std::string a = Grey("a", 100, 80, 1), b = Grey("b", 120, 60, 2), c = Grey("c", 90, 90, 3);
    const std::string k = Grey("k", 120, 90, 4);
    screen->SetLanguage(L"en");
    screen->MenuCommand(g_ToolMenuItem, 20003);
    CCompositeUI& d = screen->composite;
    ASSERT_TRUE(d.IsOpen());
    EXPECT_EQ(d.openButton.enabled, 0u);
    kvtest::ModalAnswers answers({W(a), W(b)});
    Click(d, d.selButton[0]);
    Click(d, d.selButton[1]);
    Type(d, d.pathEdit[2], W(c));
    EXPECT_EQ(answers.messages.size(), 0u);
    EXPECT_EQ(d.rowMarker[0], -1);
    EXPECT_EQ(d.rowMarker[2], 0);
    ASSERT_TRUE(d.result.buffer && d.result.buffer->pixels);
    EXPECT_EQ(d.result.buffer->width, 120);
    EXPECT_EQ(d.result.buffer->height, 90);
    EXPECT_EQ(d.result.buffer->format, kImgRgb8);
    EXPECT_EQ(d.openButton.enabled, 1u);
    EXPECT_EQ(d.pathEdit[3].enabled, 0u);
    const std::vector<std::string> rows = {fx.dir().file("a") + ".raw:100:80", fx.dir().file("b") + ".raw:120:60",
                                           fx.dir().file("c") + ".raw:90:90", fx.dir().file("k") + ".raw:120:90"};
    const std::string rgb = Expected("rgb", rows, 120, 90);
    if (rgb.empty()) GTEST_SKIP() << "no python3-numpy";
    EXPECT_TRUE(Hex(d.result) == rgb);
    kvtest::SaveScreenshot(kvtest::CaptureFrame(d, d), "composite-en");

    Click(d, d.spaceRadio[kCompositeCmy]);
    EXPECT_TRUE(Hex(d.result) == Expected("cmy", rows, 120, 90));
    Click(d, d.spaceRadio[kCompositeCmyk]);
    EXPECT_EQ(d.pathEdit[3].enabled, 1u);
    Type(d, d.pathEdit[3], W(k));
    EXPECT_TRUE(Hex(d.result) == Expected("cmyk", rows, 120, 90));
    // Back to RGB: row 3 is ignored and disabled.
    Click(d, d.spaceRadio[kCompositeRgb]);
    EXPECT_EQ(d.pathEdit[3].enabled, 0u);
    EXPECT_TRUE(Hex(d.result) == rgb);

    // OPEN makes the result the document.
    Click(d, d.openButton);
    ASSERT_TRUE(screen->sourceImage.buffer && screen->sourceImage.buffer->pixels);
    EXPECT_EQ(screen->sourceImage.buffer->width, 120);
    EXPECT_EQ(Hex(screen->sourceImage), rgb);

    // DEL of a typed row only recomposes; of a SEL row it empties the row.
    Click(d, d.delButton[2]);
    EXPECT_EQ(d.pathEdit[2].GetText(), W(c));
    Click(d, d.delButton[0]);
    EXPECT_EQ(std::wstring(d.pathEdit[0].GetText()), L"");
    EXPECT_EQ(d.result.buffer->width, 120);
    EXPECT_EQ(d.result.buffer->height, 90);
    Click(d, d.delButton[1]);
    // Emptying every row clears the preview and disables OPEN and SAVE.
    Type(d, d.pathEdit[2], L"x");  // a path that cannot be read empties the row silently
    EXPECT_EQ(answers.messages.size(), 0u);
    EXPECT_FALSE(d.result.buffer && d.result.buffer->pixels);
    EXPECT_EQ(d.preview.ImageWidth(), 0);
    EXPECT_EQ(d.openButton.enabled, 0u);
    EXPECT_EQ(d.saveButton.enabled, 0u);
}

TEST_F(CompositeTest, DepthsSpacesAndMessages) {
    const std::string g8 = Grey("g8", 20, 10, 5), g16 = Grey("g16", 20, 10, 6, 16);
    const std::string rgb8 = fx.Solid("rgb8.png", 20, 10, 200, 100, 50, "-define png:color-type=2");
    const std::string black = fx.Solid("black.png", 20, 10, 0, 0, 0, "-define png:color-type=0");
    const std::string white = fx.Solid("white.png", 20, 10, 255, 255, 255, "-define png:color-type=0");
    CCompositeUI& d = screen->composite;
    screen->SetLanguage(L"en");
    d.Show(screen.get());
    struct Case {
        std::string rows[4];
        int32_t space;
        int32_t format;
        uint8_t pixel[3];  // at (3, 3), -1 for not checked
        bool checkPixel;
    };
    const Case cases[] = {
        {{g8, g16, g8, ""}, kCompositeRgb, kImgRgb16, {}, false},
        {{rgb8, g16, g8, ""}, kCompositeRgb, kImgRgb8, {}, false},
        // Full-scale K is black whatever the inks.
        {{black, black, white, white}, kCompositeCmyk, kImgRgb8, {0, 0, 0}, true},
        {{black, black, black, black}, kCompositeCmyk, kImgRgb8, {255, 255, 255}, true},
        {{white, black, black, ""}, kCompositeHsv, kImgRgb8, {0, 0, 0}, true},
    };
    for (const Case& c : cases) {
        d.spaceRadio[0].SelectInGroup(c.space, 0);
        for (int k = 0; k < 4; ++k) ASSERT_EQ(d.LoadRow(k, W(c.rows[k]).c_str()), 1);
        d.Compose();
        ASSERT_TRUE(d.result.buffer && d.result.buffer->pixels);
        EXPECT_EQ(d.result.buffer->format, c.format);
        if (c.checkPixel) {
            uint8_t rgb[3];
            d.result.buffer->GetPixelRgb8(3, 3, &rgb[0], &rgb[1], &rgb[2]);
            EXPECT_EQ(rgb[0], c.pixel[0]);
            EXPECT_EQ(rgb[1], c.pixel[1]);
            EXPECT_EQ(rgb[2], c.pixel[2]);
        }
    }
    // SEL of a file that cannot be read: one message, the channel kept.
    d.spaceRadio[0].SelectInGroup(kCompositeRgb, 0);
    const std::string broken = fx.dir().file("broken.png");
    std::FILE* f = std::fopen(broken.c_str(), "wb");
    std::fputs("not a png", f);
    std::fclose(f);
    {
        kvtest::ModalAnswers answers({W(broken)});
        Click(d, d.selButton[0]);
        ASSERT_EQ(answers.messages.size(), 1u);
        EXPECT_EQ(answers.messages[0], L"loading failed");
    }
    EXPECT_TRUE(d.channels[0].buffer && d.channels[0].buffer->pixels);
    // SAVE with a result writes it (the overwrite question answered yes).
    const std::string out = fx.dir().file("composite.png");
    {
        kvtest::ModalAnswers answers({W(out)});
        Click(d, d.saveButton);
    }
    std::string info;
    ASSERT_EQ(kvtest::RunCommand("identify -format '%w %h' '" + out + "'", &info), 0);
    EXPECT_EQ(info, "20 10");
    screen->SetLanguage(L"jp");
    ASSERT_TRUE(d.IsOpen());
    EXPECT_STREQ(d.title, L"成分合成");
    EXPECT_EQ(d.openButton.label, L"画像を開く");
    kvtest::SaveScreenshot(kvtest::CaptureFrame(d, d), "composite-jp");
    // Without a result, SAVE says so.
    for (int k = 0; k < 4; ++k) d.LoadRow(k, L"");
    d.Compose();
    kvtest::ModalAnswers answers;
    d.SaveResult();
    ASSERT_EQ(answers.messages.size(), 1u);
    EXPECT_EQ(answers.messages[0], L"画像がありません");
}

}  // namespace
