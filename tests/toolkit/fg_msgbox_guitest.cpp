// Message boxes on the offscreen driver: layout, the buttons of each type
// chosen by injected clicks and keys, and screenshots of each type.
#include <gtest/gtest.h>

#include <string>

#include "platform/plat_messages.h"
#include "platform/plat_window.h"
#include "support/testsupport.h"
#include "toolkit/fg_loop.h"
#include "toolkit/fg_msgbox.h"
#include "toolkit/support/screen_recorder.h"

namespace {

constexpr uint32_t kVkTab = 9, kVkReturn = 13;

void ClickButton(CMsgboxScreen& box, int i) {
    const CFgUIButton& b = box.buttons[i];
    PlatPostTestClick(box.window, b.x + b.width / 2, b.y + b.height / 2);
}

void Key(uint32_t window, uint32_t vk) {
    PlatPostTestKey(window, vk, true);
    PlatPostTestKey(window, vk, false);
}

void Screenshot(CMsgboxScreen& box, const std::string& name) {
    PlatCaptureNextSwap(box.window);
    box.Redraw();
    PlatFrame f;
    ASSERT_TRUE(PlatTakeCapturedFrame(box.window, &f));
    kvtest::WritePngRgba(kvtest::ScreenshotDir() + "/" + name + ".png", f.width, f.height, f.rgba);
    // Some text pixels (colour 0, black) are drawn above the buttons.
    int dark = 0;
    for (int32_t y = 8; y < box.buttons[0].y - 2; ++y)
        for (int32_t x = 0; x < f.width; ++x) dark += f.rgba[(static_cast<size_t>(y) * f.width + x) * 4] < 60;
    EXPECT_GT(dark, 20) << name;
}

TEST(FgMessageBox, EachTypeAnswersByItsButtons) {
    const struct {
        int32_t type;
        const wchar_t* text;
        int button;
        int32_t result;
        const wchar_t* labels[2];
        const char* shot;
    } cases[] = {
        {0, L"ファイルを上書きしますか？", 0, 1, {L"OK", L"Cancel"}, "msgbox_type0_jp"},
        {0, L"Overwrite the file?", 1, 0, {L"OK", L"Cancel"}, "msgbox_type0_en"},
        {1, L"ファイルを保存できませんでした。", 0, 0, {L"OK", nullptr}, "msgbox_type1_jp"},
        {1, L"The file could not be saved.\nCheck the folder.", 0, 0, {L"OK", nullptr}, "msgbox_type1_en"},
        {2, L"8ビットに変換しますか？", 0, 1, {L"はい", L"いいえ"}, "msgbox_type2_jp"},
        {2, L"Convert to 8 bit?", 1, 0, {L"はい", L"いいえ"}, "msgbox_type2_en"},
    };
    for (const auto& c : cases) {
        CMsgboxScreen box;
        ASSERT_EQ(box.Open(c.text, c.type == 1 && c.text[0] == L'F' ? L"エラー" : L"confirmation", c.type, nullptr),
                  1);
        EXPECT_EQ(box.buttons[0].label, c.labels[0]);
        if (c.labels[1]) {
            EXPECT_EQ(box.buttons[1].label, c.labels[1]);
        }
        EXPECT_EQ(box.ButtonCount(), c.labels[1] ? 2 : 1);
        Screenshot(box, c.shot);
        ClickButton(box, c.button);
        EXPECT_EQ(box.RunModal(), c.result) << c.shot;
        EXPECT_EQ(box.window, 0u);
    }
}

TEST(FgMessageBox, LayoutFollowsTheText) {
    CMsgboxScreen box;
    ASSERT_EQ(box.Open(L"line one\nline two", L"t", 0, nullptr), 1);
    const int32_t fh = box.fontHeight;
    EXPECT_EQ(box.height, static_cast<uint64_t>(2 * fh + 38 + fh));
    EXPECT_EQ(box.width, 32u + 176u);
    EXPECT_EQ(box.buttons[0].x, (176 - 144) / 2);
    EXPECT_EQ(box.buttons[1].x, (176 - 144) / 2 + 96);
    EXPECT_EQ(box.buttons[0].y, 2 * fh + 20);
    EXPECT_EQ(box.buttons[0].height, fh + 10);
    EXPECT_EQ(box.layout.lines[1].y, 8 + fh);
    EXPECT_EQ(box.layout.lines[0].x, (208 - 8 * fh / 2) / 2);
    ClickButton(box, 1);
    EXPECT_EQ(box.RunModal(), 0);

    CMsgboxScreen empty;
    ASSERT_EQ(empty.Open(L"", L"t", 1, nullptr), 1);
    // 80 + 32 is below the smallest window: the box and its text move to the real width.
    EXPECT_EQ(empty.width, static_cast<uint64_t>(PlatGetSystemMetric(kPlatMetricMinWindowWidth)));
    EXPECT_EQ(empty.buttons[0].x, (static_cast<int32_t>(empty.width) - 32 - 48) / 2);
    ClickButton(empty, 0);
    EXPECT_EQ(empty.RunModal(), 0);
}

TEST(FgMessageBox, EnterAndTabAndTheCloseBox) {
    // One button: it has the focus, Enter chooses it.
    CMsgboxScreen one;
    ASSERT_EQ(one.Open(L"notice", L"t", 1, nullptr), 1);
    EXPECT_EQ(one.focused, &one.buttons[0]);
    Key(one.window, kVkReturn);
    EXPECT_EQ(one.RunModal(), 0);
    EXPECT_EQ(one.done, 1);

    // Two buttons: the close box and Enter do nothing until Tab focuses the
    // first button; a second Tab moves to the second one.
    CMsgboxScreen two;
    ASSERT_EQ(two.Open(L"question", L"t", 2, nullptr), 1);
    EXPECT_EQ(two.focused, nullptr);
    PlatPostMessage(two.window, kPlatMsgClose);
    Key(two.window, kVkReturn);
    FgPumpMessages();
    EXPECT_EQ(two.done, 0);
    EXPECT_NE(two.window, 0u);
    Key(two.window, kVkTab);
    FgPumpMessages();
    EXPECT_EQ(two.focused, &two.buttons[0]);
    Key(two.window, kVkTab);
    Key(two.window, kVkReturn);
    EXPECT_EQ(two.RunModal(), 0);
    EXPECT_EQ(two.focused, &two.buttons[1]);
}

TEST(FgMessageBox, TheQuitMessageEndsTheBoxWithMinusOne) {
    kvtest::RecordingScreen parent;
    ASSERT_EQ(parent.Create(40, 30, 400, 300, L"parent", kFgStyleFixed, nullptr), 1);
    g_QuitRequested = 0;
    PlatPostQuitMessage(0);
    EXPECT_EQ(FgMessageBox(L"終了しますか？", L"確認", 2, &parent), -1);
    EXPECT_EQ(g_QuitRequested.load(), 1u);
    g_QuitRequested = 0;
}

}  // namespace
