// Menu bar on the offscreen driver: title spans and drawing, mouse and keys,
// greyed titles, the popup's place, the selection callback and the focus the
// container loses when a menu closes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/plat_messages.h"
#include "toolkit/fg_button.h"
#include "toolkit/fg_dialog.h"
#include "toolkit/fg_keys.h"
#include "toolkit/fg_loop.h"
#include "toolkit/fg_menu.h"
#include "toolkit/fg_menubar.h"
#include "toolkit/support/ui_input.h"

namespace {

using kvtest::PixelAt;

class BarDialog : public CFgUIDialog {
public:
    CFgUIMenuBar bar;
    CFgUIButton button;
    std::vector<std::string> chosen;
    int32_t textCalls = 0;

    BarDialog() {
        AddChild(&bar);
        button.SetLabel(L"OK");
        button.SetRect(20, 60, 60, 24);
        AddChild(&button);
        bar.callback = [](CFgUIMenuBar*, void* data, int32_t item, int32_t id) {
            static_cast<BarDialog*>(data)->chosen.push_back(std::to_string(item) + ":" + std::to_string(id));
        };
        bar.data = this;
    }
};

// Posts `script` input to the root menu whenever a menu is tracked and
// records where each menu opened.
struct MenuScript {
    std::vector<std::pair<int32_t, int32_t>> opened;
    void (*post)(uint32_t window) = nullptr;
};

void Hook(CFgScreen* modal, void* user) {
    auto* s = static_cast<MenuScript*>(user);
    s->opened.emplace_back(modal->x, modal->y);
    if (s->post) s->post(modal->window);
}

class FgMenuBarTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(d.Create(-1, -1, 300, 120, L"bar", kFgStyleFixed, nullptr), 1);
        ASSERT_EQ(d.bar.AddItem(L"File", L"Open\t1\nSave\t2\n", nullptr, nullptr), 0);
        ASSERT_EQ(d.bar.AddItem(L"View",
                                nullptr,
                                [](void* data, int32_t) -> const wchar_t* {
                                    ++static_cast<BarDialog*>(data)->textCalls;
                                    return L"Zoom\t7\nFit\t8\n";
                                },
                                &d),
                  1);
        kvtest::Pump();
        previous = FgSetModalStartHook(Hook, &script);
    }
    void TearDown() override { FgSetModalStartHook(previous, nullptr); }
    void Keys(uint16_t state) {
        d.bar.SetKeyState(state);
        d.bar.OnKeyStateChanged();
        d.bar.SetKeyState(0);
    }
    BarDialog d;
    MenuScript script;
    FgModalStartHook previous = nullptr;
};

TEST_F(FgMenuBarTest, TitleSpansAndDrawing) {
    EXPECT_EQ(d.bar.AddItem(L"", L"A\t1\n", nullptr, nullptr), -1);
    EXPECT_EQ(d.bar.AddItem(nullptr, nullptr, nullptr, nullptr), -1);
    ASSERT_EQ(d.bar.ItemCount(), 2);
    EXPECT_EQ(d.bar.items[0].x0, 0);
    EXPECT_EQ(d.bar.items[0].x1, 27);
    EXPECT_EQ(d.bar.items[1].x0, 42);
    EXPECT_EQ(d.bar.items[1].x1, 69);
    EXPECT_EQ(d.bar.barHeight, 22);
    EXPECT_EQ(d.bar.joinedLabels, L"File  View");
    EXPECT_EQ(d.bar.HitTest(8, 5), 0);
    EXPECT_EQ(d.bar.HitTest(7, 5), -1);
    EXPECT_EQ(d.bar.HitTest(40, 5), -1);  // between titles
    EXPECT_EQ(d.bar.HitTest(50, 5), 1);
    EXPECT_EQ(d.bar.HitTest(50, 22), -1);  // below the bar

    d.bar.OnMouseMove(55, 10);
    EXPECT_EQ(d.bar.hot, 1);
    PlatFrame f = kvtest::CaptureFrame(d, d);
    kvtest::SaveScreenshot(f, "menubar-hot");
    // The bar spans the screen; the hot title is filled from x0 + 8 in colour 6.
    EXPECT_EQ(d.bar.width, 300);
    EXPECT_EQ(d.bar.height, 22);
    const double* six = d.colors[kFgColorFocusFace];
    const uint8_t* in = PixelAt(f, 50, 19);
    EXPECT_NEAR(in[0], six[0] * 255, 1.0);
    EXPECT_NEAR(in[1], six[1] * 255, 1.0);
    EXPECT_NEAR(in[2], six[2] * 255, 1.0);
    const uint8_t* before = PixelAt(f, 49, 19);
    const double* five = d.colors[kFgColorFace];
    EXPECT_NEAR(before[0], five[0] * 255, 1.0);
    const uint8_t* corner = PixelAt(f, 0, 0);
    EXPECT_EQ(corner[0], 255);
    const uint8_t* bottom = PixelAt(f, 299, 21);
    EXPECT_EQ(bottom[0], 0);
    d.bar.OnMouseMove(40, 10);
    EXPECT_EQ(d.bar.hot, -1);
}

TEST_F(FgMenuBarTest, ArrowKeysWrap) {
    Keys(kFgKeyStateRight);
    EXPECT_EQ(d.bar.hot, 0);
    Keys(kFgKeyStateRight);
    EXPECT_EQ(d.bar.hot, 1);
    Keys(kFgKeyStateRight);
    EXPECT_EQ(d.bar.hot, 0);
    Keys(kFgKeyStateLeft);
    EXPECT_EQ(d.bar.hot, 1);
    d.bar.hot = -1;
    Keys(kFgKeyStateLeft);
    EXPECT_EQ(d.bar.hot, 1);
    EXPECT_TRUE(script.opened.empty());
}

TEST_F(FgMenuBarTest, ChoosingCallsBackWithItemAndId) {
    // The container's 14-pixel font gives rows of 16: row 1 ("Fit") at y 18..33.
    script.post = [](uint32_t w) {
        PlatPostTestMouse(w, kPlatMsgMouseMove, 10, 2 + 16 + 7);
        PlatPostTestMouse(w, kPlatMsgLButtonDown, 10, 2 + 16 + 7);
        PlatPostTestMouse(w, kPlatMsgLButtonUp, 10, 2 + 16 + 7);
    };
    // Press and release on "View": the popup opens below it.
    d.bar.OnLButtonDown(50, 5);
    EXPECT_EQ(d.bar.hot, 1);
    d.bar.OnLButtonUp(50, 5);
    ASSERT_EQ(script.opened.size(), 1u);
    EXPECT_EQ(script.opened[0].first, d.x + 8 + 42);
    EXPECT_EQ(script.opened[0].second, d.y + 22);
    EXPECT_EQ(d.textCalls, 1);
    EXPECT_EQ(d.chosen, std::vector<std::string>{"1:8"});

    // Down on a hot title opens its menu at the first entry; Enter chooses it.
    script.post = [](uint32_t w) { PlatPostTestChar(w, 10); };
    d.bar.hot = 0;
    d.bar.SetKeyState(kFgKeyStateDown);
    d.bar.OnKeyStateChanged();
    EXPECT_EQ(d.bar.GetKeyState() & kFgKeyStateDown, 0);
    d.bar.SetKeyState(0);
    EXPECT_EQ(d.chosen, (std::vector<std::string>{"1:8", "0:1"}));
}

TEST_F(FgMenuBarTest, NoChoiceCallsNothingButDropsTheFocus) {
    script.post = [](uint32_t w) { PlatPostTestChar(w, 27); };
    d.SetFocus(&d.button);
    ASSERT_EQ(d.button.focused, 1u);
    d.bar.OnLButtonDown(10, 5);
    d.bar.OnLButtonUp(10, 5);
    EXPECT_EQ(script.opened.size(), 1u);
    EXPECT_TRUE(d.chosen.empty());
    EXPECT_EQ(d.button.focused, 0u);
    EXPECT_EQ(d.focused, nullptr);

    // A press beside the titles also takes the focus away and clears the hot title.
    d.SetFocus(&d.button);
    d.bar.hot = 1;
    d.bar.OnLButtonDown(200, 5);
    EXPECT_EQ(d.button.focused, 0u);
    EXPECT_EQ(d.bar.hot, -1);
}

TEST_F(FgMenuBarTest, DisabledDialogGreysTitlesButTheBarTakesTheMouse) {
    d.EnableAll(0);
    EXPECT_EQ(d.bar.enabled, 1u);
    EXPECT_EQ(d.bar.barEnabled, 0u);
    EXPECT_TRUE(d.bar.items[0].Greyed());
    EXPECT_TRUE(d.bar.items[1].Greyed());
    d.bar.OnMouseMove(10, 5);
    EXPECT_EQ(d.bar.hot, -1);
    d.bar.OnLButtonDown(10, 5);
    d.bar.OnLButtonUp(10, 5);
    EXPECT_TRUE(script.opened.empty());
    // The keys may put the hot mark on a greyed title, which still never opens.
    Keys(kFgKeyStateRight);
    EXPECT_EQ(d.bar.hot, 0);
    Keys(kFgKeyStateDown);
    d.bar.OnChar(10);
    EXPECT_TRUE(script.opened.empty());
    kvtest::SaveScreenshot(kvtest::CaptureFrame(d, d), "menubar-disabled");

    d.EnableAll(1);
    EXPECT_FALSE(d.bar.items[0].Greyed());
    d.bar.items[1].state = 0;  // greyed whatever the dialog says
    EXPECT_TRUE(d.bar.items[1].Greyed());
    d.bar.hot = -1;
    d.bar.OnMouseMove(50, 5);
    EXPECT_EQ(d.bar.hot, -1);
    d.bar.items[1].state = 1;  // enabled whatever the dialog says
    d.EnableAll(0);
    EXPECT_FALSE(d.bar.items[1].Greyed());
}

TEST_F(FgMenuBarTest, FocusMakesTheFirstTitleHot) {
    d.SetFocus(&d.bar);
    EXPECT_EQ(d.bar.hot, 0);
    d.SetFocus(&d.button);
    EXPECT_EQ(d.bar.hot, -1);
    d.bar.RemoveAllItems();
    EXPECT_EQ(d.bar.ItemCount(), 0);
    EXPECT_TRUE(d.bar.joinedLabels.empty());
    d.SetFocus(&d.bar);
    EXPECT_EQ(d.bar.hot, -1);
}

}  // namespace
