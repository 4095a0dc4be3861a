// Tab control and group frame on the offscreen driver: header geometry, page
// visibility through selection and removal, the callback rules, mouse and
// keys, and the drawing of headers, page outline and group frame.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/plat_messages.h"
#include "toolkit/fg_button.h"
#include "toolkit/fg_dialog.h"
#include "toolkit/fg_label.h"
#include "toolkit/fg_tab.h"
#include "toolkit/support/ui_input.h"

namespace {

using kvtest::PixelAt;

class TabDialog : public CFgUIDialog {
public:
    CFgUIGroup group;
    CFgUITab tab;
    CFgUIButton buttons[4];
    std::vector<std::string> calls;

    TabDialog() {
        group.label = L"Group グループ";
        group.SetRect(10, 150, 200, 60);
        AddChild(&group);
        tab.SetRect(10, 10, 220, 130);
        tab.callback = [](CFgUITab*, void* data, int32_t now, int32_t old) {
            static_cast<TabDialog*>(data)->calls.push_back(std::to_string(now) + "<" + std::to_string(old));
        };
        tab.data = this;
        AddChild(&tab);
        const wchar_t* labels[4] = {L"one", L"two", L"three", L"four"};
        for (int i = 0; i < 4; ++i) {
            buttons[i].SetLabel(labels[i]);
            buttons[i].SetRect(20 + 50 * i, 60, 45, 24);
            AddChild(&buttons[i]);
        }
    }
    // Tabs "A", "BB", "CCC" with buttons 0, 1, 2 and 3 on pages 0, 1, 2 and 2.
    void Fill() {
        tab.AddTab(L"A");
        tab.AddTab(L"BB");
        tab.AddTab(L"CCC");
        tab.AddControl(0, &buttons[0]);
        tab.AddControl(1, &buttons[1]);
        tab.AddControl(2, &buttons[2]);
        tab.AddControl(2, &buttons[3]);
    }
    std::string Visible() const {
        std::string s;
        for (const auto& b : buttons) s += b.visible ? '1' : '0';
        return s;
    }
};

class FgTabTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(d.Create(-1, -1, 240, 220, L"tabs", kFgStyleFixed, nullptr), 1);
        kvtest::Pump();
    }
    TabDialog d;
    CFgUITab& t = d.tab;
};

TEST(FgTabHeaders, SpanByTheHalfWidthRuleBeforeAndAfterAttaching) {
    CFgUITab loose;  // no container: 14-pixel font
    EXPECT_EQ(loose.AddTab(L""), -1);
    EXPECT_EQ(loose.AddTab(nullptr), -1);
    EXPECT_EQ(loose.TabCount(), 0);
    EXPECT_EQ(loose.current, -1);
    EXPECT_EQ(loose.AddTab(L"A"), 0);
    EXPECT_EQ(loose.AddTab(L"BB"), 1);
    EXPECT_EQ(loose.current, 0);
    EXPECT_EQ(loose.tabs[0].x0, 1);
    EXPECT_EQ(loose.tabs[0].x1, 12);
    EXPECT_EQ(loose.tabs[1].x0, 14);
    EXPECT_EQ(loose.tabs[1].x1, 32);
    EXPECT_EQ(loose.tabs[1].y0, 1);
    EXPECT_EQ(loose.tabs[1].y1, 21);
    // A kanji counts the full height; a longer first label moves the second.
    EXPECT_EQ(loose.SetTabLabel(0, L"日本"), 1);
    EXPECT_EQ(loose.tabs[0].x1, 1 + 28 + 4);
    EXPECT_EQ(loose.tabs[1].x0, 35);
    EXPECT_EQ(loose.SetTabLabel(2, L"x"), 0);
    EXPECT_EQ(loose.SetTabLabel(-1, L"x"), 0);
    EXPECT_EQ(loose.SetTabLabel(0, L""), 0);
    // Attached to a dialog with a 20-pixel font, the headers follow it.
    CFgUIDialog dialog;
    dialog.font.Create(20, nullptr);
    loose.SetRect(0, 0, 100, 80);
    dialog.AddChild(&loose);
    EXPECT_EQ(loose.tabs[0].x1, 1 + 40 + 4);
    EXPECT_EQ(loose.tabs[0].y1, 27);
    int32_t l, top, r, b;
    ASSERT_EQ(loose.GetPageRect(&l, &top, &r, &b), 1);
    EXPECT_EQ(top, 27);
    EXPECT_EQ(r, 97);
    loose.SetRect(0, 0, 100, 29);
    EXPECT_EQ(loose.GetPageRect(nullptr, nullptr, nullptr, nullptr), 0);
}

TEST_F(FgTabTest, PagesShowOnlyTheCurrentTabsControls) {
    d.Fill();
    EXPECT_EQ(t.current, 0);
    EXPECT_EQ(d.Visible(), "1000") << "controls of other pages are hidden at once";
    // Without force the current tab changes nothing and calls nothing.
    EXPECT_EQ(t.SelectTab(0, 0), 1);
    EXPECT_TRUE(d.calls.empty());
    EXPECT_EQ(t.SelectTab(0, 1), 1);
    EXPECT_EQ(d.calls, std::vector<std::string>{"0<0"});
    EXPECT_EQ(t.SelectTab(2, 0), 1);
    EXPECT_EQ(d.Visible(), "0011");
    EXPECT_EQ(d.calls.back(), "2<0");
    for (int32_t bad : {3, -1, -1000}) {
        EXPECT_EQ(t.SelectTab(bad, 1), 0) << bad;
    }
    EXPECT_EQ(t.current, 2);
    // A focused control on the page that goes passes the focus on.
    d.SetFocus(&d.buttons[2]);
    EXPECT_EQ(t.SelectTab(1, 0), 1);
    EXPECT_NE(d.focused, &d.buttons[2]);
    EXPECT_EQ(d.buttons[2].focused, 0u);
    EXPECT_EQ(d.Visible(), "0100");
}

TEST_F(FgTabTest, RemovingTabsKeepsPagesConsistent) {
    d.Fill();
    t.AddTab(L"D");
    ASSERT_EQ(t.SelectTab(2, 0), 1);
    d.calls.clear();
    // An earlier tab goes: the same tab stays current at a lower index.
    ASSERT_EQ(t.RemoveTab(0), 1);
    EXPECT_EQ(t.current, 1);
    EXPECT_EQ(t.tabs[1].label, L"CCC");
    EXPECT_EQ(d.Visible(), "0011");
    EXPECT_EQ(t.tabs[0].x0, 1) << "later headers move left";
    // The current tab goes: the tab now at its index becomes current, its controls shown.
    ASSERT_EQ(t.RemoveTab(1), 1);
    EXPECT_EQ(t.current, 1);
    EXPECT_EQ(t.tabs[1].label, L"D");
    EXPECT_EQ(d.Visible(), "0000");
    ASSERT_EQ(t.SelectTab(0, 0), 1);
    EXPECT_EQ(d.Visible(), "0100");
    d.calls.clear();
    // A later tab goes: nothing moves.
    ASSERT_EQ(t.RemoveTab(1), 1);
    EXPECT_EQ(t.current, 0);
    // Bad indices.
    EXPECT_EQ(t.RemoveTab(1), 0);
    EXPECT_EQ(t.RemoveTab(-1), 0);
    // The current last tab goes: none is left.
    ASSERT_EQ(t.RemoveTab(0), 1);
    EXPECT_EQ(t.current, -1);
    EXPECT_EQ(d.Visible(), "0000");
    EXPECT_TRUE(d.calls.empty()) << "removal calls no callback";

    // Removing the current last tab makes the new last tab current with its controls.
    d.Fill();
    ASSERT_EQ(t.SelectTab(2, 0), 1);
    ASSERT_EQ(t.RemoveTab(2), 1);
    EXPECT_EQ(t.current, 1);
    EXPECT_EQ(d.Visible(), "0100");
    t.RemoveAllTabs();
    EXPECT_EQ(t.TabCount(), 0);
    EXPECT_EQ(d.Visible(), "0000");
}

TEST_F(FgTabTest, MouseAndArrowKeysSelect) {
    d.Fill();
    const uint32_t w = d.window;
    // Press on header "BB" (control-relative 14-32), release anywhere.
    PlatPostMessage(w, kPlatMsgLButtonDown, 10 + 20, 10 + 5);
    PlatPostMessage(w, kPlatMsgLButtonUp, 200, 200);
    kvtest::Pump();
    EXPECT_EQ(t.current, 1);
    EXPECT_EQ(d.captured, nullptr);
    EXPECT_EQ(d.focused, &t);
    // A press below the headers selects nothing.
    PlatPostTestClick(w, 10 + 5, 10 + 40);
    kvtest::Pump();
    EXPECT_EQ(t.current, 1);
    kvtest::PostKey(w, kvtest::kVkRight);
    kvtest::PostKey(w, kvtest::kVkRight);
    kvtest::Pump();
    EXPECT_EQ(t.current, 0) << "right wraps to the first tab";
    kvtest::PostKey(w, kvtest::kVkLeft);
    kvtest::Pump();
    EXPECT_EQ(t.current, 2) << "left wraps to the last tab";
    EXPECT_EQ(d.calls, (std::vector<std::string>{"1<0", "2<1", "0<2", "2<0"}));
}

TEST_F(FgTabTest, DrawsHeadersPageAndGroupFrame) {
    d.Fill();
    ASSERT_EQ(t.SelectTab(1, 0), 1);
    d.SetFocus(&t);
    PlatFrame f = kvtest::CaptureFrame(d, d);
    kvtest::SaveScreenshot(f, "tabs_group_focused");
    auto black = [&](int32_t x, int32_t y) { return PixelAt(f, x, y)[0] < 40; };
    const int32_t pageTop = 10 + 14 + 7;
    EXPECT_TRUE(black(10, pageTop + 20)) << "page outline, left";
    EXPECT_TRUE(black(229, pageTop + 20)) << "page outline, right";
    EXPECT_TRUE(black(10 + 100, 139)) << "page outline, bottom";
    EXPECT_TRUE(black(10 + 5, pageTop)) << "closed header A";
    EXPECT_TRUE(black(10 + 14, 11)) << "header BB, left edge";
    EXPECT_FALSE(black(10 + 24, pageTop)) << "the current header is open to the page";
    // Focused: the current header is filled with colour 6.
    const uint8_t* inside = PixelAt(f, 10 + 16, 12);
    EXPECT_NEAR(inside[0], 204, 1);
    EXPECT_NEAR(inside[2], 242, 1);
    // Group frame: its top edge through the label's middle, open where the label is.
    const int32_t frameTop = 150 + 13 / 2;
    EXPECT_TRUE(black(10, frameTop + 10));
    EXPECT_TRUE(black(11, frameTop));
    EXPECT_FALSE(black(14, frameTop)) << "gap before the label";
    EXPECT_TRUE(black(100, 209)) << "bottom edge";
    EXPECT_TRUE(black(200, frameTop)) << "top edge after the label";
    int labelInk = 0;
    for (int32_t x = 16; x < 16 + 13 * 7; ++x)
        for (int32_t y = 150; y < 164; ++y) labelInk += black(x, y);
    EXPECT_GT(labelInk, 20);
    int32_t l, top, r, b;
    ASSERT_EQ(d.group.GetInnerRect(&l, &top, &r, &b), 1);
    EXPECT_EQ(top, 150 + 2 + 14);
    EXPECT_EQ(r, 10 + 200 - 3);

    // Label ink inside the headers: dark when enabled, colour 7 when disabled.
    auto headerInk = [&] {
        int dark = 0;
        for (const FgTabRecord& h : t.tabs)
            for (int32_t x = 10 + h.x0 + 1; x < 10 + h.x1; ++x)
                for (int32_t y = 10 + h.y0 + 1; y < 10 + h.y1; ++y) dark += PixelAt(f, x, y)[0] < 100;
        return dark;
    };
    EXPECT_GT(headerInk(), 20);
    d.EnableAll(0);
    f = kvtest::CaptureFrame(d, d);
    kvtest::SaveScreenshot(f, "tabs_group_disabled");
    EXPECT_EQ(headerInk(), 0);
}

}  // namespace
