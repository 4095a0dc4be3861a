// Edit boxes on the offscreen driver: editing, caret and selection driven by
// posted keys, characters and clicks; the clipboard; focus moves; drawing
// read back with a font of solid cells; and the word lists.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/plat_messages.h"
#include "toolkit/fg_dialog.h"
#include "toolkit/fg_edit.h"
#include "toolkit/fg_keys.h"
#include "toolkit/fg_text_columns.h"
#include "platform/utf8.h"
#include "toolkit/support/ui_input.h"

namespace {

using namespace kvtest;

class EditDialog : public CFgUIDialog {
public:
    CFgUIEdit multi, single, other;
    std::vector<std::string> log;

    EditDialog() {
        multi.multiLine = 1;
        multi.SetRect(10, 10, 200, 100);
        single.SetRect(10, 120, 120, 20);
        other.SetRect(140, 120, 60, 20);
        AddChild(&multi);
        AddChild(&single);
        AddChild(&other);
    }
};

std::wstring Doc(const CFgUIEdit& e) {
    std::wstring out;
    for (const FgEditLine* l = e.firstLine; l; l = l->next) out += l->text;
    return out;
}

std::string Pos(const FgEditLine* line, int32_t cell) {
    return std::to_string(line ? line->index : -1) + ":" + std::to_string(cell);
}

std::string Caret(const CFgUIEdit& e) { return Pos(e.caretLine, e.caretCell); }

std::string Sel(const CFgUIEdit& e) {
    if (!e.selStartLine) return "";
    return Pos(e.selStartLine, e.selStartCell) + "-" + Pos(e.selEndLine, e.selEndCell);
}

// The line list stays well formed: contiguous indices, a line feed ending
// every line but the last, and the widest width measured.
void ExpectWellFormed(const CFgUIEdit& e) {
    int32_t index = 0, widest = 0;
    const FgEditLine* prev = nullptr;
    for (const FgEditLine* l = e.firstLine; l; prev = l, l = l->next, ++index) {
        ASSERT_EQ(l->index, index);
        ASSERT_EQ(l->previous, prev);
        const size_t feed = l->text.find(L'\n');
        if (l->next && e.multiLine)
            EXPECT_EQ(feed, l->text.size() - 1) << "line " << index;
        else
            EXPECT_EQ(feed, std::wstring::npos) << "line " << index;
        widest = std::max(widest, FgTextColumns(l->text.c_str(), 1));
    }
    EXPECT_EQ(e.lastLine, prev);
    EXPECT_EQ(e.lineCount, index);
    EXPECT_EQ(e.widest, widest);
}

void Shift(uint32_t window, bool down) { PlatPostTestKey(window, kVkShift, down); }

// Runs one operation of the tables below on the dialog's window.
void Do(uint32_t w, const std::string& op) {
    static const struct {
        const char* name;
        uint32_t vk;
    } kArrows[] = {{"L", kVkLeft}, {"R", kVkRight}, {"U", kVkUp}, {"D", kVkDown}};
    for (const auto& a : kArrows) {
        if (op == a.name) return PostKey(w, a.vk);
        if (op == std::string("S") + a.name) {
            Shift(w, true);
            PostKey(w, a.vk);
            return Shift(w, false);
        }
    }
    if (op == "S^R") {  // Shift released before the arrow
        Shift(w, true);
        PlatPostTestKey(w, kVkRight, true);
        Shift(w, false);
        return PlatPostTestKey(w, kVkRight, false);
    }
    if (op == "RRR") {  // a held arrow: the press and two repeats
        for (int i = 0; i < 3; ++i) PlatPostTestKey(w, kVkRight, true);
        return PlatPostTestKey(w, kVkRight, false);
    }
    if (op == "BS") return PostTypedKey(w, kVkBack, 8);
    if (op == "DEL") return PostKey(w, kVkDelete);
    if (op == "ENTER") return PostTypedKey(w, kVkReturn, 13);
    if (op == "TAB") return PostTypedKey(w, kVkTab, 9);
    if (op == "CX" || op == "CC" || op == "CV") return PostCtrlLetter(w, op[1]);
    ASSERT_EQ(op.substr(0, 2), "t:") << op;
    // Typed text, given as UTF-8 (decoded without the C library's locale,
    // which is process-wide and would leak into the tests after these).
    PostText(w, PlatUtf8ToWide(op.c_str() + 2));
}

class FgEditTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(d.Create(-1, -1, 260, 160, L"edit", kFgStyleFixed, nullptr), 1);
        Pump();
    }
    void Start(CFgUIEdit& e, const wchar_t* text, int32_t line, int32_t cell) {
        e.Clear();
        if (e.multiLine) {
            if (*text) {
                ASSERT_EQ(e.AppendLine(text), 0);
            }
        } else {
            ASSERT_EQ(e.SetLineText(0, text), 1);
        }
        ASSERT_EQ(e.SetCaret(cell, line), 1);
        d.SetFocus(&e);
    }
    EditDialog d;
};

TEST_F(FgEditTest, KeysEditAndMoveTheCaretAndSelection) {
    const struct {
        const char* name;
        const wchar_t* start;
        int32_t line, cell;
        std::vector<std::string> ops;
        const wchar_t* doc;
        const char* caret;
        const char* sel;
    } cases[] = {
        {"tab at cell 3", L"abc", 0, 3, {"TAB"}, L"abc\t", "0:4", ""},
        {"tab at cell 4", L"abcd", 0, 4, {"TAB"}, L"abcd\t", "0:8", ""},
        {"half-width katakana", L"", 0, 0, {"t:ｱ"}, L"ｱ", "0:1", ""},
        {"hiragana", L"", 0, 0, {"t:あ"}, L"あ", "0:2", ""},
        {"yen sign 165", L"", 0, 0, {"t:¥"}, L"¥", "0:1", ""},
        {"micro sign", L"", 0, 0, {"t:µ"}, L"µ", "0:2", ""},
        {"left steps by width", L"ｱあ¥µ", 0, 6, {"L", "L"}, L"ｱあ¥µ", "0:3", ""},
        {"right over a tab", L"a\tb", 0, 1, {"R"}, L"a\tb", "0:4", ""},
        {"right past the line feed", L"ab\ncd", 0, 2, {"R"}, L"ab\ncd", "1:0", ""},
        {"left at cell 0", L"ab\ncd", 1, 0, {"L"}, L"ab\ncd", "0:2", ""},
        {"down keeps the wanted cell", L"abcdef\nx\nabcdef", 0, 5, {"D", "D"}, L"abcdef\nx\nabcdef", "2:5", ""},
        {"up snaps to a character", L"あいう\nabcdef", 1, 3, {"U"}, L"あいう\nabcdef", "0:2", ""},
        {"backspace joins lines", L"ab\ncd", 1, 0, {"BS"}, L"abcd", "0:2", ""},
        {"backspace over a wide character", L"aあb", 0, 3, {"BS"}, L"ab", "0:1", ""},
        {"delete at the line feed", L"ab\ncd", 0, 2, {"DEL"}, L"abcd", "0:2", ""},
        {"delete at the end", L"ab", 0, 2, {"DEL"}, L"ab", "0:2", ""},
        {"enter splits", L"abcd", 0, 2, {"ENTER"}, L"ab\ncd", "1:0", ""},
        {"enter at the end", L"ab", 0, 2, {"ENTER"}, L"ab\n", "1:0", ""},
        {"ctrl+x without selection", L"abc", 0, 1, {"CX"}, L"abc", "0:1", ""},
        {"shift+right twice", L"abc\ndef", 0, 1, {"SR", "SR"}, L"abc\ndef", "0:3", "0:1-0:2"},
        {"shift+left back", L"abc", 0, 3, {"SL", "SL"}, L"abc", "0:1", "0:1-0:2"},
        {"later position at cell 0", L"ab\ncd", 0, 0, {"SD"}, L"ab\ncd", "1:0", "0:0-0:2"},
        {"back to the anchor", L"abc", 0, 1, {"SR", "SL"}, L"abc", "0:1", ""},
        {"plain arrow ends it", L"abc", 0, 0, {"SR", "L"}, L"abc", "0:0", ""},
        {"shift let go first", L"abcd", 0, 0, {"S^R", "S^R"}, L"abcd", "0:2", "0:0-0:1"},
        {"held arrow repeats", L"abcd", 0, 0, {"RRR"}, L"abcd", "0:3", ""},
        {"typing replaces it", L"abc", 0, 0, {"SR", "SR", "t:X"}, L"Xc", "0:1", ""},
        {"cut across lines", L"abc\ndef", 0, 1, {"SD", "CX"}, L"aef", "0:1", ""},
        {"backspace deletes it", L"abc\ndef\ngh", 0, 2, {"SD", "SD", "BS"}, L"ab", "0:2", ""},
        {"enter replaces it", L"abcd", 0, 1, {"SR", "SR", "ENTER"}, L"a\nd", "1:0", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Start(d.multi, c.start, c.line, c.cell);
        for (const std::string& op : c.ops) Do(d.window, op);
        Pump();
        EXPECT_EQ(Doc(d.multi), c.doc);
        EXPECT_EQ(Caret(d.multi), c.caret);
        EXPECT_EQ(Sel(d.multi), c.sel);
        ExpectWellFormed(d.multi);
    }
}

TEST_F(FgEditTest, SingleLineFieldHoldsOneLine) {
    CFgUIEdit& s = d.single;
    EXPECT_STREQ(s.GetText(), L"");
    ASSERT_EQ(s.SetLineText(0, L"12\n"), 1);
    EXPECT_STREQ(s.GetText(), L"12");
    EXPECT_EQ(s.SetLineText(1, L"x"), 0);
    EXPECT_EQ(s.SetLineText(0, nullptr), 0);
    EXPECT_EQ(s.AppendLine(L"x"), -1);
    EXPECT_EQ(s.DeleteLine(0), 0);
    d.SetFocus(&s);
    ASSERT_EQ(s.SetCaret(2, 0), 1);
    // Tab is ignored and Enter inserts nothing in a field.
    PostText(d.window, L"3\t4");
    Pump();
    EXPECT_STREQ(s.GetText(), L"1234");
    // Enter commits without deleting a selection.
    ASSERT_EQ(s.SetSelection(0, 0, 0, 1), 1);
    Do(d.window, "ENTER");
    Pump();
    EXPECT_STREQ(s.GetText(), L"1234");
    EXPECT_EQ(d.focused, &d.other);
    ExpectWellFormed(s);
}

TEST_F(FgEditTest, EnterAndEscMoveTheFocusOnRelease) {
    int32_t handled = 0;
    d.single.data = &handled;
    const struct {
        uint32_t vk;
        bool shift;
        bool callbackHandles;
        CFgUIEdit* focusAfter;
    } cases[] = {
        {kVkReturn, false, false, &d.other},
        {kVkEscape, false, false, &d.multi},
        {kVkEscape, true, false, &d.other},
        {kVkReturn, false, true, &d.single},
        {kVkEscape, false, true, &d.single},
    };
    for (const auto& c : cases) {
        CFgUIEdit::KeyCallback handler = [](CFgUIEdit*, void* data, uint16_t) -> int32_t {
            ++*static_cast<int32_t*>(data);
            return 1;
        };
        d.single.key = c.callbackHandles ? handler : nullptr;
        d.SetFocus(&d.single);
        if (c.shift) Shift(d.window, true);
        PlatPostTestKey(d.window, c.vk, true);
        PlatPostTestChar(d.window, c.vk);
        Pump();
        EXPECT_EQ(d.focused, &d.single) << "nothing moves before the release";
        PlatPostTestKey(d.window, c.vk, false);
        if (c.shift) Shift(d.window, false);
        Pump();
        EXPECT_EQ(d.focused, c.focusAfter) << c.vk << " shift " << c.shift;
    }
    EXPECT_EQ(handled, 2);
    // Tab passes the focus on from a field; in a multi-line text it is a character.
    d.SetFocus(&d.single);
    Do(d.window, "TAB");
    Pump();
    EXPECT_EQ(d.focused, &d.other);
    d.SetFocus(&d.multi);
    Do(d.window, "TAB");
    Pump();
    EXPECT_EQ(d.focused, &d.multi);
}

TEST_F(FgEditTest, CtrlLettersReachTheControlKeyCallback) {
    std::wstring seen;
    d.multi.data = &seen;
    d.multi.controlKey = [](CFgUIEdit*, void* data, uint16_t c) { *static_cast<std::wstring*>(data) += c; };
    Start(d.multi, L"abc", 0, 1);
    for (char letter : std::string("ADGKSUWYBTZHJ")) PostCtrlLetter(d.window, letter);
    // Letters that arrive as characters while Ctrl is held count the same.
    PlatPostTestKey(d.window, kVkControl, true);
    PostText(d.window, L"eq1");
    PlatPostTestKey(d.window, kVkControl, false);
    Pump();
    EXPECT_EQ(seen, L"ADGKSUWYBeq");
    EXPECT_EQ(Doc(d.multi), L"abc");
}

TEST_F(FgEditTest, CopyAndPasteRoundTripWithoutCarriageReturns) {
    Start(d.multi, L"第一行\nsecond", 0, 2);
    Do(d.window, "SD");
    Do(d.window, "CC");
    Pump();
    std::vector<wchar_t> buffer(64);
    ASSERT_EQ(CFgScreen::GetClipboardText(buffer.data(), buffer.size()), 6u);
    EXPECT_STREQ(buffer.data(), L"一行\nse");
    // Pasting over the selection puts the same text back.
    Do(d.window, "CV");
    Pump();
    EXPECT_EQ(Doc(d.multi), L"第一行\nsecond");
    EXPECT_EQ(Caret(d.multi), "1:2");
    // Paste at the end of the text.
    ASSERT_EQ(d.multi.SetCaret(6, 1), 1);
    Do(d.window, "CV");
    Pump();
    EXPECT_EQ(Doc(d.multi), L"第一行\nsecond一行\nse");
    // Text with CR LF from another program loses its carriage returns.
    ASSERT_EQ(CFgScreen::SetClipboardText(L"日本\r\n語\r\n"), 1);
    Start(d.multi, L"", 0, 0);
    Do(d.window, "CV");
    Pump();
    EXPECT_EQ(Doc(d.multi), L"日本\n語\n");
    EXPECT_EQ(Caret(d.multi), "2:0");
    ExpectWellFormed(d.multi);
    // A field takes the pasted line feeds as Enter: no line feed is kept.
    d.SetFocus(&d.single);
    Do(d.window, "CV");
    Pump();
    EXPECT_STREQ(d.single.GetText(), L"日本語");
    // Ctrl+X without a selection leaves the clipboard alone.
    Do(d.window, "CX");
    Pump();
    ASSERT_EQ(CFgScreen::GetClipboardText(buffer.data(), buffer.size()), 6u);
    EXPECT_STREQ(buffer.data(), L"日本\n語\n");
}

TEST_F(FgEditTest, DeleteSelectionAcrossLines) {
    CFgUIEdit& m = d.multi;
    Start(m, L"abc\ndef\nghi", 0, 0);
    EXPECT_EQ(m.SetSelection(0, 4, 0, 1), 0) << "cell past the line feed";
    EXPECT_EQ(m.SetSelection(2, 0, 0, 1), 1) << "the pair is ordered";
    EXPECT_EQ(Sel(m), "0:1-2:0");
    EXPECT_EQ(m.SelectedText(), L"bc\ndef\ng");
    m.DeleteSelection();
    EXPECT_EQ(Doc(m), L"ahi");
    EXPECT_EQ(Caret(m), "0:1");
    ExpectWellFormed(m);
    // A selection ending on a line feed joins the next line.
    Start(m, L"ab\ncd\nef", 0, 0);
    ASSERT_EQ(m.SetSelection(0, 1, 1, 2), 1);
    m.DeleteSelection();
    EXPECT_EQ(Doc(m), L"aef");
    ExpectWellFormed(m);
    EXPECT_EQ(m.SetSelection(-1, 0, 0, 0), 1);
    EXPECT_EQ(Sel(m), "");
    // Wide characters: cells must start a character.
    Start(m, L"あい", 0, 0);
    EXPECT_EQ(m.SetSelection(0, 1, 0, 2), 0);
    EXPECT_EQ(m.SetSelection(0, 2, 0, 2), 1);
    EXPECT_EQ(m.SelectedText(), L"い");
}

TEST_F(FgEditTest, AppendDeleteAndSetLines) {
    CFgUIEdit& m = d.multi;
    int changes = 0;
    m.data = &changes;
    m.changed = [](CFgUIEdit*, void* data) { ++*static_cast<int*>(data); };
    const struct {
        const char* op;
        const wchar_t* text;
        int32_t index;
        int32_t result;
        const wchar_t* doc;
    } steps[] = {
        {"append", L"a", 0, 0, L"a"},
        {"append", L"b", 0, 1, L"a\nb"},
        {"append", L"c\n", 0, 2, L"a\nb\nc\n"},
        {"append", L"d", 0, 3, L"a\nb\nc\nd"},
        {"append", L"", 0, -1, L"a\nb\nc\nd"},
        {"append", L"e\nf", 0, 4, L"a\nb\nc\nd\ne\nf"},
        {"set", L"x", 0, 1, L"x\nb\nc\nd\ne\nf"},
        {"set", L"y\n", 5, 1, L"x\nb\nc\nd\ne\ny"},
        {"set", L"long line", 2, 1, L"x\nb\nlong line\nd\ne\ny"},
        {"set", L"", 2, 1, L"x\nb\n\nd\ne\ny"},
        {"set", L"z", 6, 0, L"x\nb\n\nd\ne\ny"},
        {"delete", nullptr, 5, 1, L"x\nb\n\nd\ne"},
        {"delete", nullptr, 0, 1, L"b\n\nd\ne"},
        {"delete", nullptr, 9, 0, L"b\n\nd\ne"},
        {"delete", nullptr, 1, 1, L"b\nd\ne"},
    };
    int expectedChanges = 0;
    for (const auto& s : steps) {
        SCOPED_TRACE(std::string(s.op) + " " + std::to_string(s.index));
        int32_t got;
        if (std::string(s.op) == "append")
            got = m.AppendLine(s.text);
        else if (std::string(s.op) == "set")
            got = m.SetLineText(s.index, s.text);
        else
            got = m.DeleteLine(s.index);
        EXPECT_EQ(got, s.result);
        if (got >= 0 && !(std::string(s.op) != "append" && got == 0)) ++expectedChanges;
        EXPECT_EQ(Doc(m), s.doc);
        ExpectWellFormed(m);
    }
    EXPECT_EQ(changes, expectedChanges);
    // Deleting down to the only line empties it and returns 0.
    while (m.lineCount > 1) ASSERT_EQ(m.DeleteLine(0), 1);
    EXPECT_EQ(m.DeleteLine(0), 0);
    EXPECT_EQ(Doc(m), L"");
    EXPECT_STREQ(m.GetText(), L"");
}

TEST_F(FgEditTest, ViewFollowsTheCaretAndTheWheel) {
    CFgUIEdit& m = d.multi;
    // 100 pixels high: (100 - 4) / 16 = 6 whole rows.
    ASSERT_EQ(m.VisibleRows(), 6);
    std::wstring text;
    for (int i = 0; i < 20; ++i) text += L"line " + std::to_wstring(i) + L"\n";
    Start(m, text.c_str(), 0, 0);
    ASSERT_EQ(m.lineCount, 21);
    ASSERT_EQ(m.SetCaret(0, 10), 1);
    EXPECT_EQ(m.firstVisible->index, 5);
    ASSERT_EQ(m.SetCaret(0, 2), 1);
    EXPECT_EQ(m.firstVisible->index, 2);
    // The wheel stops at line 0 and where the last line is the last row.
    PlatPostMessage(d.window, kPlatMsgMouseWheel, 50, 50, -5);
    Pump();
    EXPECT_EQ(m.firstVisible->index, 0);
    PlatPostMessage(d.window, kPlatMsgMouseWheel, 50, 50, 100);
    Pump();
    EXPECT_EQ(m.firstVisible->index, 15);
    PlatPostMessage(d.window, kPlatMsgMouseWheel, 50, 50, 1);
    Pump();
    EXPECT_EQ(m.firstVisible->index, 15);
    // A text of empty lines accepts cell 0 as the first visible cell.
    Start(m, L"\n\n\n", 0, 0);
    EXPECT_EQ(m.SetTopLine(0, 2), 1);
    EXPECT_EQ(m.firstVisible->index, 2);
    EXPECT_EQ(m.SetTopLine(1, 0), 0);
    // Typing past the right edge scrolls by cells: 196 / 7 = 28 visible.
    Start(m, L"", 0, 0);
    PostText(d.window, std::wstring(30, L'x'));
    Pump();
    EXPECT_EQ(m.firstCell, 30 - 28 + 1);
}

TEST_F(FgEditTest, ClicksPlaceTheCaretAndDragsSelect) {
    CFgUIEdit& m = d.multi;
    Start(m, L"abcdef\nあいう\nxy", 0, 0);
    d.SetFocus(nullptr);
    // Row 1, cell 3 (inside い, which starts at 2); rows 16 and cells 7 pixels.
    PlatPostTestClick(d.window, 10 + 2 + 7 * 3 + 3, 10 + 2 + 16 + 5);
    Pump();
    EXPECT_EQ(d.focused, &m);
    EXPECT_EQ(Caret(m), "1:2");
    // Below the last line: the last line, clamped to its end.
    PlatPostTestClick(d.window, 10 + 150, 10 + 95);
    Pump();
    EXPECT_EQ(Caret(m), "2:2");
    // Drag from line 0 cell 1 to line 1 cell 4.
    PlatPostMessage(d.window, kPlatMsgLButtonDown, 10 + 2 + 7 + 2, 10 + 2 + 3);
    PlatPostMessage(d.window, kPlatMsgMouseMove, 10 + 2 + 28 + 2, 10 + 2 + 16 + 3);
    PlatPostMessage(d.window, kPlatMsgLButtonUp, 10 + 2 + 28 + 2, 10 + 2 + 16 + 3);
    Pump();
    EXPECT_EQ(Sel(m), "0:1-1:2");
    EXPECT_EQ(m.SelectedText(), L"bcdef\nあい");
    EXPECT_EQ(d.captured, nullptr);
    // Shift+click extends the selection from its anchor.
    Shift(d.window, true);
    PlatPostTestClick(d.window, 10 + 2 + 7 * 1 + 2, 10 + 2 + 32 + 3);
    Shift(d.window, false);
    Pump();
    EXPECT_EQ(Sel(m), "0:1-2:0");
}

TEST_F(FgEditTest, OddFontHeightUsesEvenCellsForClicksAndCaret) {
    ASSERT_EQ(d.font.Create(15, L""), 1);  // F = 15, F' = 16: cells 8, rows 18
    CFgUIEdit& m = d.multi;
    Start(m, L"0123456789abcdef\nline\n0123456789abcdef\nx", 0, 0);
    PlatPostTestClick(d.window, 10 + 2 + 8 * 10 + 1, 10 + 2 + 18 * 2 + 1);
    Pump();
    EXPECT_EQ(Caret(m), "2:10");
    EXPECT_EQ(d.imeX, 10 + 2 + 80);
    EXPECT_EQ(d.imeY, 10 + 2 + 36);
    ASSERT_EQ(m.SetCaret(4, 1), 1);
    const PlatFrame f = CaptureFrame(d, d);
    auto grey = [&](int32_t x, int32_t y) { return PixelAt(f, x, y)[0]; };
    // Row 1 ("line") starts 18 pixels below row 0; its glyphs are 15 high.
    EXPECT_GT(grey(13, 12 + 17), 150);
    EXPECT_LT(grey(13, 12 + 18), 60);
    EXPECT_LT(grey(13, 12 + 18 + 14), 60);
    // Its fourth glyph ends at 12 + 24 + 6; the caret bar stands at cell 4.
    EXPECT_LT(grey(12 + 30, 35), 60);
    EXPECT_GT(grey(12 + 31, 35), 150);
    EXPECT_LT(grey(12 + 32, 35), 60);
    EXPECT_LT(grey(12 + 33, 35), 60);
    EXPECT_GT(grey(12 + 34, 35), 150);
}

TEST_F(FgEditTest, DrawsCaretSelectionAndCentredField) {
    ASSERT_EQ(d.font.Create(14, L""), 1);  // solid cells, 7 x 14 and 14 x 14
    Start(d.single, L"ab", 0, 0);
    Start(d.multi, L"ab\ncd", 1, 2);
    ASSERT_EQ(d.multi.SetSelection(0, 1, 1, 0), 1);
    const PlatFrame f = CaptureFrame(d, d);
    SaveScreenshot(f, "edit_solid_cells");
    auto grey = [&](int32_t x, int32_t y) { return PixelAt(f, x, y)[0]; };
    const int32_t left = 12, top = 12;
    // Focused background: colour 2 (0.8 red); text: colour 0 (black).
    EXPECT_LT(grey(left + 3, top + 6), 30) << "a";
    EXPECT_NEAR(grey(left + 7 + 3, top + 6), 204, 2) << "b, selected: inverted";
    EXPECT_LT(grey(left + 14 + 3, top + 6), 30) << "the selected line feed";
    EXPECT_NEAR(grey(left + 21 + 3, top + 6), 204, 2) << "after the line feed";
    EXPECT_NEAR(grey(left + 3, top + 16 + 6), 204, 2) << "c, selected";
    EXPECT_LT(grey(left + 7 + 3, top + 16 + 6), 30) << "d";
    // The caret: 2 pixels wide, 14 high, at cell 2 of row 1.
    for (int32_t y = top + 16; y < top + 16 + 14; ++y) {
        EXPECT_LT(grey(left + 14, y), 30);
        EXPECT_LT(grey(left + 15, y), 30);
    }
    EXPECT_NEAR(grey(left + 16, top + 16 + 6), 204, 2);
    // The field is not focused (white) and its text is centred: rows 122-135
    // of the inner area 122-137.
    int32_t first = -1, last = -1;
    for (int32_t y = 121; y < 139; ++y)
        if (grey(13, y) < 30) last = y, first = first < 0 ? y : first;
    EXPECT_EQ(first, 122);
    EXPECT_EQ(last, 135);
    EXPECT_EQ(grey(13 + 14, 128), 255) << "after the two cells";
}

TEST_F(FgEditTest, JapaneseScreenshots) {
    CFgUIEdit& m = d.multi;
    Start(m, L"日本語のテキスト\n二行目 second line\n三行目\tタブ", 0, 0);
    ASSERT_EQ(m.SetSelection(0, 8, 1, 4), 1);
    ASSERT_EQ(m.SetCaret(13, 1), 1);
    d.SetFocus(&m);
    Start(d.single, L"ファイル名.png", 0, 0);
    d.SetFocus(&m);
    const PlatFrame f = CaptureFrame(d, d);
    SaveScreenshot(f, "edit_japanese");
    int dark = 0;
    for (int32_t y = 12; y < 60; ++y)
        for (int32_t x = 12; x < 200; ++x) dark += PixelAt(f, x, y)[0] < 100;
    EXPECT_GT(dark, 300);
}

TEST(FgWordList, NormaliseAndMatch) {
    const struct {
        const wchar_t* text;
        const wchar_t* normal;
    } lists[] = {
        {nullptr, nullptr},       {L"", nullptr},         {L" \t\n ", nullptr},
        {L"png", L"PNG"},         {L"  png\tJPG\n", L"PNG JPG"}, {L"a  b\t\tc", L"A B C"},
        {L"Tif tiff", L"TIF TIFF"}, {L"ü x", L"ü X"},
    };
    for (const auto& l : lists) {
        wchar_t* got = NormalizeWordList(l.text);
        if (!l.normal)
            EXPECT_EQ(got, nullptr);
        else
            EXPECT_STREQ(got, l.normal);
        std::free(got);
    }
    wchar_t* list = NormalizeWordList(L" png JPG tif ");
    const struct {
        const wchar_t* word;
        int32_t in;
    } words[] = {
        {L"png", 1}, {L"PNG", 1}, {L"Jpg", 1}, {L"tif", 1}, {L"tiff", 0}, {L"ti", 0},
        {L"", 0},    {L"png jpg", 0}, {L"g", 0}, {nullptr, 0},
    };
    for (const auto& w : words) EXPECT_EQ(WordListContains(list, w.word), w.in) << (w.word ? "word" : "null");
    std::free(list);
    EXPECT_EQ(WordListContains(nullptr, L"anything"), 1);
    EXPECT_EQ(WordListContains(nullptr, nullptr), 0);
}

}  // namespace
