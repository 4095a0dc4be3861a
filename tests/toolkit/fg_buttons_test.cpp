// Radio groups and the focus walk of a container, without a window.
#include <gtest/gtest.h>

#include "toolkit/fg_button.h"
#include "toolkit/fg_dialog.h"

namespace {

struct Group {
    CFgUIDialog dialog;
    CFgUIChkButton b[3];
    Group() {
        for (auto& x : b) dialog.AddChild(&x);
        b[1].checked = 1;
        EXPECT_EQ(b[0].AddToGroup(&b[1]), 1);
        EXPECT_EQ(b[0].AddToGroup(&b[2]), 1);
    }
};

TEST(FgRadioGroup, MembersAreLinkedInARing) {
    Group g;
    EXPECT_EQ(g.b[1].checked, 0u) << "a member is unchecked when added";
    EXPECT_EQ(g.b[0].leader, &g.b[0]);
    EXPECT_EQ(g.b[2].groupIndex, 2);
    EXPECT_EQ(g.b[2].nextMember, &g.b[0]);
    EXPECT_EQ(g.b[0].previousMember, &g.b[2]);
    EXPECT_EQ(g.b[2].GetGroupSelection(), -1);
    // Grouped buttons cannot join again, and a member cannot lead.
    CFgUIChkButton other;
    EXPECT_EQ(other.AddToGroup(&g.b[1]), 0);
    EXPECT_EQ(g.b[1].AddToGroup(&other), 0);
    EXPECT_EQ(g.b[0].AddToGroup(&g.b[2]), 0);
    EXPECT_EQ(g.b[0].AddToGroup(nullptr), 0);
}

TEST(FgRadioGroup, SelectionChecksExactlyOneMember) {
    Group g;
    EXPECT_EQ(g.b[1].SelectInGroup(2, 1), 1);
    EXPECT_EQ(g.b[0].GetGroupSelection(), 2);
    EXPECT_EQ(g.b[2].checked, 1u);
    EXPECT_EQ(g.dialog.focused, &g.b[2]);
    EXPECT_EQ(g.b[0].SelectInGroup(-2, 0), 0);
    EXPECT_EQ(g.b[0].SelectInGroup(-1, 0), 1);
    EXPECT_EQ(g.b[2].checked, 0u);
    EXPECT_EQ(g.b[0].GetGroupSelection(), -1);
    EXPECT_EQ(g.b[0].SelectInGroup(1, 0), 1);
    // An index no member has unchecks the old member and leaves no selection,
    // so the old member can be selected again.
    EXPECT_EQ(g.b[0].SelectInGroup(7, 0), 0);
    EXPECT_EQ(g.b[1].checked, 0u);
    EXPECT_EQ(g.b[0].GetGroupSelection(), -1);
    EXPECT_EQ(g.b[0].SelectInGroup(1, 0), 1);
    EXPECT_EQ(g.b[1].checked, 1u);
    CFgUIChkButton plain;
    EXPECT_EQ(plain.SelectInGroup(0, 0), 0);
}

TEST(FgContainer, FocusWalksSkipIneligibleChildrenAndOverlapsGoToTheLast) {
    CFgUIDialog dialog;
    CFgUIButton a, b, c, d;
    for (CFgUIButton* x : {&a, &b, &c, &d}) {
        x->SetRect(0, 0, 50, 20);
        dialog.AddChild(x);
    }
    EXPECT_EQ(a.SetRect(5, 5, 0, 10), 0);
    EXPECT_EQ(a.width, 50);
    b.tabStop = 0;
    c.enabled = 0;
    dialog.FocusNext();
    EXPECT_EQ(dialog.focused, &a);
    dialog.FocusNext();
    EXPECT_EQ(dialog.focused, &d);
    dialog.FocusNext();
    EXPECT_EQ(dialog.focused, &a);
    dialog.FocusPrevious();
    EXPECT_EQ(dialog.focused, &d);
    d.SetVisible(0, 0);  // hiding the focused child moves the focus on
    EXPECT_EQ(dialog.focused, &a);
    a.enabled = 0;
    dialog.FocusNext();
    EXPECT_EQ(dialog.focused, nullptr) << "no eligible child";
    // All four overlap: the one added last takes the press.
    a.enabled = c.enabled = d.visible = 1;
    dialog.RouteLButtonDown(10, 10);
    EXPECT_EQ(dialog.captured, &d);
    EXPECT_EQ(d.pressed, 1u);
    dialog.RouteLButtonUp(500, 500);
    EXPECT_EQ(d.pressed, 0u);
    EXPECT_EQ(dialog.captured, nullptr);
}

}  // namespace
