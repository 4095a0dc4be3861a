// List boxes on the offscreen driver: items, the current item and selected
// flags, the scroll bar that follows the top item, clicks, keys and the wheel
// from posted messages, and drawing read back from the frame.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/plat_messages.h"
#include "toolkit/fg_dialog.h"
#include "toolkit/fg_list.h"
#include "toolkit/support/ui_input.h"

namespace {

using namespace kvtest;

class ListDialog : public CFgUIDialog {
public:
    CFgUIList single, multi;
    std::vector<std::string> calls;

    ListDialog() {
        single.SetRect(10, 10, 150, 100);
        multi.SetRect(170, 10, 150, 100);
        for (CFgUIList* l : {&single, &multi}) {
            l->data = this;
            l->callback = [](CFgUIList* list, void* data, int32_t item) {
                auto* d = static_cast<ListDialog*>(data);
                d->calls.push_back(std::string(list == &d->single ? "single " : "multi ") + std::to_string(item));
            };
            AddChild(l);
        }
        multi.RemoveAllItems(2, 0);
    }
};

std::vector<std::wstring> Texts(const CFgUIList& l) {
    std::vector<std::wstring> out;
    for (const FgListItem& item : l.items) out.push_back(item.text);
    return out;
}

void Fill(CFgUIList& l, int n, const wchar_t* stem = L"item ") {
    for (int i = 0; i < n; ++i) ASSERT_EQ(l.InsertItem(-1, (stem + std::to_wstring(i)).c_str(), i, 0), 1);
}

// Row r of a list at (x0, 10): rows are 14 pixels from y + 1.
int32_t RowY(int32_t r) { return 10 + 1 + 14 * r + 7; }

class FgListTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(d.Create(-1, -1, 330, 120, L"list", kFgStyleFixed, nullptr), 1);
        Pump();
    }
    ListDialog d;
};

TEST_F(FgListTest, InsertDeleteAndTheCurrentItemFollowingIt) {
    CFgUIList& l = d.single;
    EXPECT_EQ(l.InsertItem(0, L"a", 0, 0), 0) << "index 0 of an empty list";
    EXPECT_EQ(l.InsertItem(-2, L"a", 0, 0), 0);
    EXPECT_EQ(l.InsertItem(-1, nullptr, 0, 0), 0);
    EXPECT_EQ(l.top, -1);
    for (const wchar_t* t : {L"a", L"b", L"c", L"d"}) ASSERT_EQ(l.InsertItem(-1, t, 0, 0), 1);
    EXPECT_EQ(l.current, -1) << "inserting chooses nothing";
    EXPECT_EQ(l.top, 0);
    EXPECT_EQ(l.DeleteItem(4), 0);
    EXPECT_EQ(l.DeleteItem(-1), 0);
    ASSERT_EQ(l.DeleteItem(1), 1);
    EXPECT_EQ(Texts(l), (std::vector<std::wstring>{L"a", L"c", L"d"}));
    // The current item keeps naming its item through inserts and deletes before it.
    ASSERT_EQ(l.SetCurrent(2), 1);  // d
    ASSERT_EQ(l.InsertItem(0, L"z", 0, 0), 1);
    EXPECT_EQ(l.current, 3);
    ASSERT_EQ(l.DeleteItem(1), 1);  // a
    EXPECT_EQ(l.current, 2);
    EXPECT_EQ(l.items[2].text, L"d");
    EXPECT_EQ(l.items[2].selected, 1u);
    ASSERT_EQ(l.DeleteItem(0), 1);
    ASSERT_EQ(l.DeleteItem(0), 1);
    EXPECT_EQ(l.current, 0);
    ASSERT_EQ(l.SetCurrent(0), 1);
    EXPECT_EQ(l.SetCurrent(1), 0);
    EXPECT_EQ(l.SetCurrent(-2), 0);
    // Deleting the current item leaves none; the last delete empties the array.
    ASSERT_EQ(l.DeleteItem(0), 1);
    EXPECT_EQ(l.current, -1);
    EXPECT_EQ(l.top, -1);
    EXPECT_EQ(l.Capacity(), 0);
    // Texts are cut to 255 characters.
    ASSERT_EQ(l.InsertItem(-1, std::wstring(300, L'長').c_str(), 7, 0), 1);
    EXPECT_EQ(l.items[0].text, std::wstring(255, L'長'));
    EXPECT_EQ(l.items[0].data, 7u);
}

TEST_F(FgListTest, ReserveRoundsToEightAndGrowthIsGeometric) {
    CFgUIList& l = d.single;
    EXPECT_EQ(l.Reserve(0), 0);
    ASSERT_EQ(l.Reserve(3), 1);
    EXPECT_EQ(l.Capacity(), 8);
    ASSERT_EQ(l.Reserve(9), 1);
    EXPECT_EQ(l.Capacity(), 24);
    Fill(l, 25);
    EXPECT_EQ(l.Capacity(), 48);
    l.RemoveAllItems(0, 1);
    EXPECT_EQ(l.Capacity(), 0);
    EXPECT_EQ(l.Count(), 0);
}

TEST_F(FgListTest, TheBarShowsOnlyWhenItemsDoNotFit) {
    CFgUIList& l = d.single;
    EXPECT_EQ(l.VisibleRows(), 7);
    EXPECT_EQ(l.bar.page, 7);
    EXPECT_EQ(l.bar.tabStop, 0u);
    EXPECT_EQ(l.bar.x, 10 + 150 - 16);
    Fill(l, 5);
    EXPECT_EQ(l.bar.visible, 0u) << "five items fit in 100 pixels";
    EXPECT_EQ(l.bar.enabled, 0u);
    Fill(l, 3);
    EXPECT_EQ(l.bar.visible, 1u) << "(100 - 2) / 14 = 7 rows for 8 items";
    EXPECT_EQ(l.bar.maximum, 7);
    // Scrolled down, then emptied to fitting: the top item returns to 0.
    ASSERT_EQ(l.SetTopItem(1), 1);
    EXPECT_EQ(l.bar.position, 1);
    ASSERT_EQ(l.DeleteItem(7), 1);
    EXPECT_EQ(l.bar.visible, 0u);
    EXPECT_EQ(l.top, 0);
    l.RemoveAllItems(0, 1);
    EXPECT_EQ(l.bar.minimum, -1);
    EXPECT_EQ(l.bar.maximum, -1);
    EXPECT_EQ(l.bar.visible, 0u);
}

TEST_F(FgListTest, ScrollIntoViewKeysAndWheel) {
    CFgUIList& l = d.single;
    Fill(l, 20);
    ASSERT_EQ(l.SetCurrent(15), 1);
    EXPECT_EQ(l.top, 9);
    EXPECT_EQ(l.bar.position, 9);
    ASSERT_EQ(l.SetCurrent(2), 1);
    EXPECT_EQ(l.top, 2);
    EXPECT_EQ(l.items[15].selected, 0u);
    EXPECT_EQ(l.items[2].selected, 1u);
    d.SetFocus(&l);
    PostKey(d.window, kVkDown);
    PostKey(d.window, kVkDown);
    PostKey(d.window, kVkUp);
    Pump();
    EXPECT_EQ(l.current, 3);
    EXPECT_EQ(d.calls, (std::vector<std::string>{"single 3", "single 4", "single 3"}));
    // The wheel stops at 0 and where the last item is the last row.
    PlatPostMessage(d.window, kPlatMsgMouseWheel, 50, 50, -5);
    Pump();
    EXPECT_EQ(l.top, 0);
    PlatPostMessage(d.window, kPlatMsgMouseWheel, 50, 50, 100);
    Pump();
    EXPECT_EQ(l.top, 13);
    EXPECT_EQ(l.bar.position, 13);
    PlatPostMessage(d.window, kPlatMsgMouseWheel, 50, 50, 1);
    Pump();
    EXPECT_EQ(l.top, 13);
    // The bar moves the list.
    l.bar.Notify(5);
    EXPECT_EQ(l.top, 5);
    // Down at the last item changes nothing.
    ASSERT_EQ(l.SetCurrent(19), 1);
    d.calls.clear();
    PostKey(d.window, kVkDown);
    Pump();
    EXPECT_EQ(l.current, 19);
    EXPECT_TRUE(d.calls.empty());
}

TEST_F(FgListTest, ClicksChooseAndToggle) {
    Fill(d.single, 3);
    Fill(d.multi, 3);
    PlatPostTestClick(d.window, 40, RowY(1));
    Pump();
    EXPECT_EQ(d.single.current, 1);
    EXPECT_EQ(d.focused, &d.single);
    // Below the last item and over the bar's strip: no row.
    PlatPostTestClick(d.window, 40, RowY(5));
    PlatPostTestClick(d.window, 10 + 150 - 8, RowY(0));
    Pump();
    EXPECT_EQ(d.single.current, 1);
    // Multiple selection: each click toggles its item and calls back.
    PlatPostTestClick(d.window, 200, RowY(0));
    PlatPostTestClick(d.window, 200, RowY(2));
    PlatPostTestClick(d.window, 200, RowY(0));
    Pump();
    EXPECT_EQ(d.multi.items[0].selected, 0u);
    EXPECT_EQ(d.multi.items[2].selected, 1u);
    EXPECT_EQ(d.multi.current, 0);
    // Space toggles the current item; arrows change nothing.
    PostKey(d.window, kVkSpace);
    PostKey(d.window, kVkDown);
    Pump();
    EXPECT_EQ(d.multi.items[0].selected, 1u);
    EXPECT_EQ(d.multi.current, 0);
    EXPECT_EQ(d.calls, (std::vector<std::string>{"single 1", "multi 0", "multi 2", "multi 0", "multi 0"}));
    EXPECT_EQ(d.multi.SetCurrent(1), 0);
    EXPECT_EQ(d.single.SetItemSelected(1, 1), 0);
    EXPECT_EQ(d.multi.SetItemSelected(1, 1), 1);
    // Mode 0 after mode 2 keeps multiple selection.
    d.multi.RemoveAllItems(0, 0);
    EXPECT_EQ(d.multi.multiple, 1u);
}

TEST_F(FgListTest, ACallbackMayRefillItsList) {
    Fill(d.single, 4);
    d.single.callback = [](CFgUIList* list, void*, int32_t item) {
        list->RemoveAllItems(0, 0);
        for (int i = 0; i <= item; ++i) list->InsertItem(-1, L"again", 0, 0);
    };
    PlatPostTestClick(d.window, 40, RowY(3));
    Pump();
    EXPECT_EQ(d.single.Count(), 4);
    EXPECT_EQ(d.single.current, -1);
}

TEST_F(FgListTest, DrawsSelectedAndHoveredRows) {
    Fill(d.single, 12, L"ファイル ");
    Fill(d.multi, 6, L"file ");
    ASSERT_EQ(d.single.SetCurrent(4), 1);
    ASSERT_EQ(d.multi.SetItemSelected(1, 1), 1);
    ASSERT_EQ(d.multi.SetItemSelected(2, 1), 1);
    PlatPostMessage(d.window, kPlatMsgMouseMove, 40, RowY(2));
    Pump();
    EXPECT_EQ(d.single.hovered, 2);
    PlatFrame f = CaptureFrame(d, d);
    SaveScreenshot(f, "list_single_hover");
    auto red = [&](int32_t x, int32_t y) { return PixelAt(f, x, y)[0]; };
    // The hovered row in colour 2 (0.8 red), the current one filled with the
    // text colour, the others white; the bar at the right edge.
    EXPECT_NEAR(red(140, RowY(2)), 204, 2);
    EXPECT_LT(red(140, RowY(4)), 30);
    EXPECT_EQ(red(140, RowY(3)), 255);
    EXPECT_EQ(d.single.bar.visible, 1u);
    EXPECT_NE(red(152, RowY(3)), 255) << "the bar";
    // Multiple selection: rows 1 and 2 filled; no bar (six items fit).
    EXPECT_LT(red(300, RowY(1)), 30);
    EXPECT_LT(red(300, RowY(2)), 30);
    EXPECT_EQ(red(300, RowY(3)), 255);
    EXPECT_EQ(red(315, RowY(3)), 255);
    // Leaving the list clears the hover.
    PlatPostMessage(d.window, kPlatMsgMouseMove, 165, 115);
    PlatPostMessage(d.window, kPlatMsgMouseMove, 250, RowY(4));
    Pump();
    EXPECT_EQ(d.single.hovered, -1);
    EXPECT_EQ(d.multi.hovered, 4);
    f = CaptureFrame(d, d);
    SaveScreenshot(f, "list_multiple_hover");
    EXPECT_NEAR(PixelAt(f, 300, RowY(4))[0], 204, 2);
    // Disabled: no hover colour, text colour 7 on colour 5.
    d.multi.enabled = 0;
    f = CaptureFrame(d, d);
    EXPECT_EQ(PixelAt(f, 300, RowY(4))[0], 230);
}

}  // namespace
