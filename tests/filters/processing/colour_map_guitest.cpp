// The colour map's panel on the offscreen driver: menus in both languages,
// menu commands and their reruns, "Save image" before any step, and the
// charts after a hue-and-saturation sweep saved through "Save image" for a
// person to look at, with the panel's screenshots.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "filters/processing/lf_color_map.h"
#include "filters/processing/support/fake_host.h"
#include "media/frame_output.h"
#include "platform/utf8.h"
#include "support/testsupport.h"
#include "toolkit/support/file_select_answer.h"
#include "toolkit/support/ui_input.h"

namespace {

// Hue across, saturation down, full value: every hue and saturation once.
void Sweep(CImgBuff& image) {
    ASSERT_TRUE(image.buffer->Create(256, 128, kImgRgb8));
    for (int32_t y = 0; y < 128; ++y)
        for (int32_t x = 0; x < 256; ++x)
            image.buffer->SetPixelHsv16(x, y, static_cast<uint16_t>(x * 256), static_cast<uint16_t>(y * 516), 65535);
}

TEST(ColorMapPanel, MenusCommandsAndSavedCharts) {
    FakeHost host;
    host.SetLanguage(L"en");
    auto* f = static_cast<CLfColorMap*>(host.Add(CreateLfColorMap()));
    ASSERT_TRUE(f->PanelShown());
    EXPECT_EQ(f->CFgScreen::width, 264u);
    EXPECT_EQ(f->CFgScreen::height, static_cast<uint64_t>(f->MenuHeight() - 8 + 272));
    ASSERT_EQ(f->menuBar.ItemCount(), 2);
    EXPECT_EQ(f->menuBar.items[0].label, L"File");
    EXPECT_EQ(f->menuBar.items[0].menuText, L"Save image\t1\n");
    EXPECT_EQ(std::wstring(f->ViewMenuText()),
              L"Color diagram\t{*xy\t101\n L*a*b*\t102\n HSV\t103\n}\ntype\t{ Std\t201\n*Log\t202\n Distribution\t203\n}\n"
              L"Bg color\t{*Black\t301\n White\t302\n}\n");
    {
        kvtest::ModalAnswers answers;
        f->MenuCommand(1);  // before any step
        EXPECT_EQ(answers.messages, std::vector<std::wstring>{L"there is no image"});
    }
    f->MenuCommand(103);
    EXPECT_EQ(f->view.Get(), 2);
    EXPECT_EQ(host.calls, std::vector<std::string>{"Refilter(0)"});
    f->MenuCommand(302);
    EXPECT_EQ(f->bg.Get(), 255);
    f->MenuCommand(201);
    EXPECT_EQ(f->type.Get(), 0);
    f->MenuCommand(999);  // nothing
    EXPECT_EQ(host.calls.size(), 3u);
    host.SetLanguage(L"jp");
    EXPECT_EQ(f->menuBar.items[0].label, L"画像ファイル");
    EXPECT_EQ(f->menuBar.items[0].menuText, L"画像を保存\t1\n");
    EXPECT_EQ(f->menuBar.items[1].label, L"表示");
    EXPECT_EQ(std::wstring(f->ViewMenuText()),
              L"色度図\t{\u3000xy\t101\n\u3000L*a*b*\t102\n\u2713HSV\t103\n}\n表示方法\t{\u2713標準\t201\n\u3000log変換\t202\n"
              L"\u3000分布\t203\n}\n背景色\t{\u3000黒\t301\n\u2713白\t302\n}\n");
    host.SetLanguage(L"en");
    f->bg.Set(0);
    f->type.Set(1);

    // A sweep on each chart, saved through the menu.
    CImgBuff sweep;
    Sweep(sweep);
    const char* names[3] = {"color_map-xy", "color_map-lab", "color_map-hsv"};
    for (int32_t view = 0; view < 3; ++view) {
        SCOPED_TRACE(view);
        f->view.Set(view);
        CImgBuff work;
        ASSERT_TRUE(work.CopyFrom(&sweep));
        host.RunChain(&work, 0);
        kvtest::Pump();
        const std::string path = kvtest::ScreenshotDir() + "/" + names[view] + ".png";
        std::remove(path.c_str());
        {
            kvtest::ModalAnswers answers({PlatUtf8ToWide(path.c_str())});
            f->MenuCommand(1);
        }
        CImgBuff saved;
        ASSERT_TRUE(LoadImageFile(&saved, PlatUtf8ToWide(path.c_str()).c_str(), nullptr, nullptr));
        EXPECT_EQ(saved.buffer->width, 256);
        EXPECT_EQ(saved.buffer->height, 256);
        if (view == 2) kvtest::SaveScreenshot(kvtest::CaptureFrame(*f, *f), "color_map-en");
    }
    host.SetLanguage(L"jp");
    kvtest::SaveScreenshot(kvtest::CaptureFrame(*f, *f), "color_map-jp");
    kvtest::Pump();
}

}  // namespace
