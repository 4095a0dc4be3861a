// Popup menus on the offscreen driver: the menu-text parser, tracking by
// mouse and keys through scripted input posted when the tracker starts, the
// submenu's place and the drawing of highlighted, greyed and submenu rows.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/plat_messages.h"
#include "toolkit/fg_keys.h"
#include "toolkit/fg_loop.h"
#include "toolkit/fg_menu.h"
#include "toolkit/support/ui_input.h"

namespace {

using kvtest::PixelAt;

struct ParseCase {
    const wchar_t* text;
    int32_t result;
    std::vector<int32_t> ids;  // of the root's items
    uint64_t columns;
};

TEST(FgMenuBuild, ParsesItemsSubmenusAndRefusesMalformedTexts) {
    const std::vector<ParseCase> cases = {
        {L"A\t1\nB\t-1\nC\t\n", 1, {1, -2, 0}, 1},
        {L"A\t-2147483649\nB\t2147483647\n", 1, {-2, 2147483647}, 1},
        {L"P\t{\nS\t101\nT\t{\nU\t7\n}\n}\nQ\t2\n", 1, {-1, 2}, 2},
        {L"P\t{S\t101\n}\nQ\t2\n", 1, {-1, 2}, 2},       // submenu lines right after "{"
        {L"A\t1\nno tab here\n", 1, {1}, 1},            // no TAB left: the menu ends
        {L"A\t1\n}\nB\t2\n", 1, {1}, 1},                // so does a line starting with "}"
        {L"日本語ab\t5\n", 1, {5}, 8},                  // 3 x 2 + 2 columns
        {L"", 1, {}, 0},
        {L"A\t1", 0, {}, 0},                            // missing LF
        {L"P\t{\nS\t1\n", 0, {}, 0},                    // unmatched "{"
        {L"A\t", 0, {}, 0},                             // nothing after TAB
        {L"A\t1\nP\t{\nS\t1}\n", 0, {}, 0},             // submenu line without its LF
        {L"A\t0000000000000000000000000000001\n", 1, {1}, 1},   // 31 characters
        {L"A\t00000000000000000000000000000001\n", 0, {}, 0},   // 32 characters
        {L"A\t2147483648\n", 0, {}, 0},                 // beyond 32 bits
        {L"A\t99999999999999999999999\n", 0, {}, 0},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "text #" << (&c - cases.data()));
        CFgUIMenuCtrl rec;
        rec.root.ctrl = &rec;
        EXPECT_EQ(rec.root.Build(c.text, nullptr), c.result);
        std::vector<int32_t> ids;
        for (const auto& item : rec.root.items) ids.push_back(item.id);
        EXPECT_EQ(ids, c.ids);
        EXPECT_EQ(rec.root.columns, c.columns);
    }
    CFgUIMenuCtrl rec;
    rec.root.ctrl = &rec;
    EXPECT_EQ(rec.root.Build(nullptr, nullptr), 1);
    EXPECT_EQ(rec.root.Count(), 0);
    ASSERT_EQ(rec.root.Build(L"P\t{\nS\t101\nT\t{\nU\t7\n}\n}\nQ\t2\n", nullptr), 1);
    const CFgUIMenu* p = rec.root.items[0].submenu.get();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->parentMenu, &rec.root);
    EXPECT_EQ(p->ctrl, &rec);
    ASSERT_EQ(p->Count(), 2);
    EXPECT_EQ(p->items[0].label, L"S");
    EXPECT_EQ(p->items[0].id, 101);
    ASSERT_NE(p->items[1].submenu, nullptr);
    EXPECT_EQ(p->items[1].submenu->items[0].id, 7);
    EXPECT_EQ(rec.root.items[1].label, L"Q");
}

// Root rows (16-pixel font, rows of 18): Open 1, Grey (greyed), More
// (submenu: Sub A 11, Sub B 12), Last 4. Five columns: 44 x 74 pixels.
const wchar_t kMenu[] = L"Open\t1\nGrey\t-1\nMore\t{\nSub A\t11\nSub B\t12\n}\nLast\t4\n";
constexpr int32_t kRow = 18;
constexpr int32_t kRootWidth = 44;
int32_t RowY(int32_t row) { return 2 + row * kRow + 8; }
// A point of submenu row `row` in root coordinates: the submenu of row 2
// opens at (width - 9, 2 + 2 x 18) from the root's corner.
int32_t SubX() { return kRootWidth - kRow / 2 + 10; }
int32_t SubY(int32_t row) { return 2 + 2 * kRow + RowY(row); }

using Script = std::function<void(uint32_t rootWindow)>;

struct Tracked {
    int32_t id = -99;
    int32_t starts = 0;
    int32_t rootX = 0, rootY = 0;
    uint64_t rootWidth = 0, rootHeight = 0;
};

// Tracks the menu text with `script` posting input to the root menu when the
// tracker starts.
Tracked Track(const wchar_t* text, int32_t initialRow, const Script& script) {
    struct Context {
        const Script* script;
        Tracked* out;
    };
    Tracked out;
    Context context{&script, &out};
    FgModalStartHook previous = FgSetModalStartHook(
        [](CFgScreen* modal, void* user) {
            auto* c = static_cast<Context*>(user);
            ++c->out->starts;
            c->out->rootX = modal->x;
            c->out->rootY = modal->y;
            c->out->rootWidth = modal->width;
            c->out->rootHeight = modal->height;
            (*c->script)(modal->window);
        },
        &context);
    out.id = FgTrackPopupMenu(text, 40, 30, nullptr, nullptr, initialRow);
    FgSetModalStartHook(previous, nullptr);
    return out;
}

void Move(uint32_t w, int32_t x, int32_t y) { PlatPostTestMouse(w, kPlatMsgMouseMove, x, y); }
void Left(uint32_t w, int32_t x, int32_t y) {
    Move(w, x, y);
    PlatPostTestMouse(w, kPlatMsgLButtonDown, x, y);
    PlatPostTestMouse(w, kPlatMsgLButtonUp, x, y);
}
void Key(uint32_t w, uint32_t vk) { kvtest::PostKey(w, vk); }
void Char(uint32_t w, uint32_t c) { PlatPostTestChar(w, c); }

TEST(FgMenuTracking, MouseAndKeysChooseOrCancel) {
    struct Case {
        const char* name;
        int32_t initialRow;
        Script script;
        int32_t expected;
    };
    const std::vector<Case> cases = {
        {"right release on a root item chooses it", -1,
         [](uint32_t w) {
             Move(w, 20, RowY(0));
             PlatPostTestMouse(w, kPlatMsgRButtonUp, 20, RowY(0));
         },
         1},
        {"a greyed item highlights but gives -1", -1,
         [](uint32_t w) {
             Left(w, 20, RowY(1));
             PlatPostTestMouse(w, kPlatMsgRButtonUp, 20, RowY(1));
         },
         -1},
        {"a click on a greyed item does not end tracking", -1,
         [](uint32_t w) {
             Left(w, 20, RowY(1));
             Left(w, 20, RowY(3));
         },
         4},
        {"a click outside every menu", -1, [](uint32_t w) { Left(w, -30, 200); }, -1},
        {"up on the first row closes", 0, [](uint32_t w) { Key(w, kvtest::kVkUp); }, -1},
        {"down on the last row stays", 3,
         [](uint32_t w) {
             Key(w, kvtest::kVkDown);
             Char(w, 10);
         },
         4},
        {"down from no row reaches the first", -1,
         [](uint32_t w) {
             Key(w, kvtest::kVkDown);
             Char(w, 32);
         },
         1},
        {"right opens the submenu at its first row", 2,
         [](uint32_t w) {
             Key(w, kvtest::kVkRight);
             Char(w, 10);
         },
         11},
        {"keys move inside the submenu", 2,
         [](uint32_t w) {
             Key(w, kvtest::kVkRight);
             Key(w, kvtest::kVkDown);
             Char(w, 10);
         },
         12},
        {"left returns to the parent", 2,
         [](uint32_t w) {
             Key(w, kvtest::kVkRight);
             Key(w, kvtest::kVkLeft);
             Key(w, kvtest::kVkDown);
             Char(w, 10);
         },
         4},
        {"a click opens the submenu, a click in it chooses", -1,
         [](uint32_t w) {
             Left(w, 20, RowY(2));
             Left(w, SubX(), SubY(1));
         },
         12},
        {"a click on the parent from the submenu goes to the parent", -1,
         [](uint32_t w) {
             Left(w, 20, RowY(2));
             Move(w, SubX(), SubY(0));
             Left(w, 20, RowY(0));
         },
         1},
        {"right release in a submenu returns to the parent", 2,
         [](uint32_t w) {
             Key(w, kvtest::kVkRight);
             PlatPostTestMouse(w, kPlatMsgRButtonUp, SubX(), SubY(0));
             Key(w, kvtest::kVkDown);
             Char(w, 10);
         },
         4},
        {"Esc closes the whole tree", 2,
         [](uint32_t w) {
             Key(w, kvtest::kVkRight);
             Char(w, 27);
         },
         -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Tracked t = Track(kMenu, c.initialRow, c.script);
        EXPECT_EQ(t.starts, 1);
        EXPECT_EQ(t.id, c.expected);
        EXPECT_EQ(t.rootX, 40);
        EXPECT_EQ(t.rootY, 30);
        EXPECT_EQ(t.rootWidth, 44u);
        EXPECT_EQ(t.rootHeight, 74u);
        EXPECT_EQ(PlatGetCapture(), 0u);
    }
}

TEST(FgMenuTracking, MalformedTextShowsNothing) {
    Tracked t = Track(L"A\t1\nB\t{\n", 0, [](uint32_t) {});
    EXPECT_EQ(t.starts, 0);
    EXPECT_EQ(t.id, -1);
}

PlatFrame CaptureMenu(CFgUIMenu& menu) {
    PlatFrame frame;
    PlatCaptureNextSwap(menu.window);
    menu.Redraw();
    PlatTakeCapturedFrame(menu.window, &frame);
    return frame;
}

bool IsGrey(const uint8_t* p, uint8_t v) { return p[0] == v && p[1] == v && p[2] == v; }

TEST(FgMenuDrawing, SubmenuPlaceHighlightGreyAndCheckMarks) {
    CFgUIMenuCtrl rec;
    rec.root.ctrl = &rec;
    ASSERT_EQ(rec.root.Build(L"✓Grid\t1\n　Greyed\t-1\n　More\t{\nStep 1\t11\nStep 2\t-1\n}\n", nullptr), 1);
    EXPECT_EQ(rec.root.columns, 9u);  // "✓" and "　" take two columns each
    ASSERT_EQ(rec.root.Show(100, 80, nullptr, 2), 1);
    rec.root.MakeActive();
    const int32_t w = static_cast<int32_t>(rec.root.width);
    EXPECT_EQ(w, 9 * 8 + 4);
    rec.root.SetKeyState(kFgKeyStateRight);
    rec.root.OnKeyStateChanged();
    rec.root.SetKeyState(0);
    CFgUIMenu* sub = rec.root.items[2].submenu.get();
    ASSERT_TRUE(sub->window && sub->shown);
    EXPECT_EQ(rec.active, sub);
    EXPECT_EQ(PlatGetCapture(), sub->window);
    EXPECT_EQ(sub->x, 100 + w - 9);
    EXPECT_EQ(sub->y, 80 + 2 + 2 * 18);
    EXPECT_EQ(rec.currentId, 11);

    PlatFrame root = CaptureMenu(rec.root);
    PlatFrame open = CaptureMenu(*sub);
    kvtest::SaveScreenshot(root, "menu-root");
    kvtest::SaveScreenshot(open, "menu-submenu");
    ASSERT_EQ(root.width, w);
    // Row 2 is highlighted: filled in the text colour up to (h/2) x columns + 1,
    // its submenu block in the background colour; row 0's end is white.
    const int32_t blockX = (9 - 1) * 8 + 2;
    EXPECT_TRUE(IsGrey(PixelAt(root, blockX - 1, RowY(2)), 0));
    EXPECT_TRUE(IsGrey(PixelAt(root, blockX + 2, RowY(2)), 255));
    EXPECT_TRUE(IsGrey(PixelAt(root, blockX + 2, RowY(0)), 255));
    // Row 1 is greyed: its label pixels are the mean of black and white.
    bool greyLabel = false;
    for (int32_t x = 2; x < 40 && !greyLabel; ++x)
        for (int32_t y = 2 + kRow; y < 2 + 2 * kRow - 2 && !greyLabel; ++y) {
            const uint8_t* p = PixelAt(root, x, y);
            greyLabel = p[0] > 100 && p[0] < 155 && p[0] == p[1] && p[1] == p[2];
        }
    EXPECT_TRUE(greyLabel);
    // Bevel: white top-left edge, black bottom-right edge.
    EXPECT_TRUE(IsGrey(PixelAt(root, 0, 0), 255));
    EXPECT_TRUE(IsGrey(PixelAt(root, w - 1, root.height - 1), 0));

    // Left closes the submenu and gives the capture back to the root.
    rec.root.SetKeyState(kFgKeyStateLeft);
    sub->OnKeyStateChanged();
    EXPECT_FALSE(sub->shown);
    EXPECT_EQ(rec.active, &rec.root);
    EXPECT_EQ(PlatGetCapture(), rec.root.window);
    EXPECT_EQ(rec.currentId, -1);
    rec.root.SetKeyState(0);
    rec.root.Hide();
    EXPECT_EQ(PlatGetCapture(), 0u);
    EXPECT_EQ(rec.root.Show(-1, 0, nullptr, -1), 0);
}

}  // namespace
