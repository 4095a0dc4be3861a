#include "toolkit/fg_edit.h"

#include <GL/gl.h>

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <new>
#include <vector>

#include "toolkit/fg_dialog.h"
#include "toolkit/fg_draw.h"
#include "toolkit/fg_font.h"
#include "toolkit/fg_keys.h"
#include "toolkit/fg_text_columns.h"

namespace {

constexpr uint16_t kKeyBackspace = 8;
constexpr uint16_t kKeyTab = 9;
constexpr uint16_t kKeyEnter = 10;
constexpr uint16_t kKeyEsc = 27;
constexpr uint16_t kKeyDelete = 127;
const double kBlack[3] = {0, 0, 0};
constexpr uint16_t kArrowBits = kFgKeyStateUp | kFgKeyStateDown | kFgKeyStateLeft | kFgKeyStateRight;

// Cells up to the line's end, its line feed not counted (where the caret
// stands at the end of the line).
int32_t LineEnd(const FgEditLine* line) { return FgTextColumns(line->text.c_str(), 0); }
// Cells of the line with its line feed, as widths are compared.
int32_t LineWidth(const FgEditLine* line) { return FgTextColumns(line->text.c_str(), 1); }
// Index of the character covering `cell` (the line feed or the end past it).
size_t IndexAtCell(const FgEditLine* line, int32_t cell) {
    return static_cast<size_t>(FgCharIndexAtColumn(line->text.c_str(), cell));
}
// Start cell of the character covering `cell`; the line's end past it.
int32_t SnapCell(const FgEditLine* line, int32_t cell) { return FgColumnStart(line->text.c_str(), cell); }
// Cells of the first `index` characters.
int32_t CellAtIndex(const FgEditLine* line, size_t index) {
    int32_t cell = 0;
    for (size_t i = 0; i < index && i < line->text.size(); ++i) cell += FgCharColumns(&line->text[i], cell);
    return cell;
}

bool Before(const FgEditLine* a, int32_t aCell, const FgEditLine* b, int32_t bCell) {
    return a->index < b->index || (a->index == b->index && aCell < bCell);
}

// Floor division, so that points above or left of the text give negative rows.
int32_t FloorDiv(int32_t a, int32_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n'; }
wchar_t UpperAscii(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c; }

// The letters whose Ctrl combination goes to the control-key callback.
bool IsControlLetter(uint16_t c) {
    const uint16_t u = c >= 'a' && c <= 'z' ? static_cast<uint16_t>(c - 32) : c;
    return u == 'A' || u == 'B' || (u >= 'D' && u <= 'G') || (u >= 'K' && u <= 'S') || u == 'U' || u == 'W' ||
           u == 'Y';
}

}  // namespace

CFgUIEdit::CFgUIEdit() {
    firstLine = lastLine = caretLine = firstVisible = new FgEditLine;
}

CFgUIEdit::~CFgUIEdit() { FreeLines(); }

void CFgUIEdit::FreeLines() {
    for (FgEditLine* line = firstLine; line;) {
        FgEditLine* next = line->next;
        delete line;
        line = next;
    }
    firstLine = lastLine = caretLine = firstVisible = nullptr;
    selStartLine = selEndLine = anchorLine = nullptr;
    lineCount = 0;
}

int32_t CFgUIEdit::FontHeight() const {
    return parent ? static_cast<int32_t>(parent->font.height) : 14;
}

int32_t CFgUIEdit::EvenFontHeight() const {
    const int32_t f = FontHeight();
    return f + (f & 1);
}

int32_t CFgUIEdit::VisibleRows() const {
    if (width < 5 || height < 5) return 0;
    return (height - 4) / (EvenFontHeight() + 2);
}

int32_t CFgUIEdit::VisibleCells() const {
    const int32_t cell = EvenFontHeight() / 2;
    if (width < 5 || height < 5 || cell < 1) return 0;
    return (width - 4) / cell;
}

FgEditLine* CFgUIEdit::LineAt(int32_t index) const {
    if (index < 0 || index >= lineCount) return nullptr;
    // Walk from the nearer end.
    if (index < lineCount / 2) {
        FgEditLine* line = firstLine;
        while (line && line->index != index) line = line->next;
        return line;
    }
    FgEditLine* line = lastLine;
    while (line && line->index != index) line = line->previous;
    return line;
}

void CFgUIEdit::Renumber(FgEditLine* from) {
    int32_t index = from && from->previous ? from->previous->index + 1 : 0;
    for (FgEditLine* line = from; line; line = line->next) line->index = index++;
}

void CFgUIEdit::Unlink(FgEditLine* line) {
    if (line->previous)
        line->previous->next = line->next;
    else
        firstLine = line->next;
    if (line->next)
        line->next->previous = line->previous;
    else
        lastLine = line->previous;
    line->next = line->previous = nullptr;
    --lineCount;
}

void CFgUIEdit::InsertAfter(FgEditLine* after, FgEditLine* line) {
    line->previous = after;
    line->next = after->next;
    if (after->next)
        after->next->previous = line;
    else
        lastLine = line;
    after->next = line;
    ++lineCount;
}

void CFgUIEdit::MeasureWidest() {
    widest = 0;
    for (FgEditLine* line = firstLine; line; line = line->next) widest = std::max(widest, LineWidth(line));
}

void CFgUIEdit::LineChanged(FgEditLine* line, int32_t oldWidth) {
    const int32_t now = LineWidth(line);
    if (now >= widest)
        widest = now;
    else if (oldWidth >= widest)
        MeasureWidest();
}

void CFgUIEdit::ClearSelection() {
    if (selStartLine) redrawNeeded = 1;
    selStartLine = selEndLine = nullptr;
    selStartCell = selEndCell = 0;
}

void CFgUIEdit::NotifyChanged() {
    if (!changed || notifying) return;
    notifying = 1;
    changed(this, data);
    notifying = 0;
}

void CFgUIEdit::NotifyViewMoved() {
    if (viewMoved) viewMoved(this, data);
}

void CFgUIEdit::Clear() {
    FgEditLine* fresh = new (std::nothrow) FgEditLine;
    if (!fresh) return;  // the old text stays, still consistent
    if (lineCount != 1 || !firstLine->text.empty()) modified = 1;
    FreeLines();
    firstLine = lastLine = caretLine = firstVisible = fresh;
    lineCount = 1;
    widest = caretCell = wantedCell = firstCell = 0;
    selecting = dropSelection = 0;
    redrawNeeded = 1;
    NotifyChanged();
}

int32_t CFgUIEdit::SetLineText(int32_t index, const wchar_t* text) {
    FgEditLine* line = LineAt(index);
    if (!line || !text) return 0;
    std::wstring value(text);
    // A line holds at most one line feed, at its end, and only when another
    // line follows it.
    const size_t feed = value.find(L'\n');
    if (feed != std::wstring::npos) value.resize(feed);
    if (multiLine && line != lastLine) value += L'\n';
    const int32_t oldWidth = LineWidth(line);
    line->text = std::move(value);
    if (multiLine)
        LineChanged(line, oldWidth);
    else
        widest = LineWidth(line);
    ClearSelection();
    anchorLine = nullptr;
    if (line == caretLine) {
        caretCell = SnapCell(line, std::min(caretCell, LineEnd(line)));
        wantedCell = std::min(wantedCell, caretCell);
        if (ScrollToCaret()) NotifyViewMoved();
    }
    modified = 1;
    redrawNeeded = 1;
    NotifyChanged();
    return 1;
}

const wchar_t* CFgUIEdit::GetText() const { return firstLine ? firstLine->text.c_str() : nullptr; }

int32_t CFgUIEdit::AppendLine(const wchar_t* text) {
    if (!multiLine || !text || !*text) return -1;
    const std::wstring value(text);
    // The text goes after the whole text: a last line holding text ends
    // first, and every line feed of the text starts a new line.
    const bool endLast = !lastLine->text.empty();
    size_t needed = static_cast<size_t>(std::count(value.begin(), value.end(), L'\n')) + (endLast ? 1 : 0);
    std::vector<FgEditLine*> fresh;
    fresh.reserve(needed);
    for (size_t i = 0; i < needed; ++i) {
        FgEditLine* line = new (std::nothrow) FgEditLine;
        if (!line) {
            for (FgEditLine* l : fresh) delete l;
            return -1;
        }
        fresh.push_back(line);
    }
    size_t next = 0;
    FgEditLine* target = lastLine;
    if (endLast) {
        const int32_t oldWidth = LineWidth(target);
        target->text += L'\n';
        LineChanged(target, oldWidth);
        InsertAfter(target, fresh[next++]);
        target = lastLine;
        target->index = target->previous->index + 1;
    }
    const int32_t received = target->index;
    for (size_t start = 0;;) {
        const size_t feed = value.find(L'\n', start);
        const size_t end = feed == std::wstring::npos ? value.size() : feed + 1;
        target->text.assign(value, start, end - start);
        LineChanged(target, 0);
        if (feed == std::wstring::npos) break;
        InsertAfter(target, fresh[next++]);
        target->next->index = target->index + 1;
        target = target->next;
        start = end;
    }
    modified = 1;
    // A row counts as visible when it starts inside the inner area.
    const int32_t rowsStarting = height >= 5 ? (height - 5) / (EvenFontHeight() + 2) + 1 : 0;
    const int32_t row = received - firstVisible->index;
    if (row >= 0 && row < rowsStarting) redrawNeeded = 1;
    NotifyChanged();
    return received;
}

int32_t CFgUIEdit::DeleteLine(int32_t index) {
    if (!multiLine) return 0;
    FgEditLine* line = LineAt(index);
    if (!line) return 0;
    if (lineCount == 1) {
        const bool hadText = !line->text.empty();
        line->text.clear();
        widest = caretCell = wantedCell = firstCell = 0;
        ClearSelection();
        anchorLine = nullptr;
        if (hadText) {
            modified = 1;
            redrawNeeded = 1;
            NotifyChanged();
        }
        return 0;
    }
    const int32_t oldWidth = LineWidth(line);
    FgEditLine* neighbour = line->next ? line->next : line->previous;
    const bool wasLast = line == lastLine;
    FgEditLine* after = line->next;
    if (selStartLine == line || selEndLine == line) ClearSelection();
    if (anchorLine == line) anchorLine = nullptr;
    if (firstVisible == line) firstVisible = neighbour;
    if (caretLine == line) {
        caretLine = neighbour;
        caretCell = wantedCell = 0;
    }
    Unlink(line);
    if (after) Renumber(after);
    delete line;
    if (wasLast && !lastLine->text.empty() && lastLine->text.back() == L'\n') {
        lastLine->text.pop_back();
        if (caretLine == lastLine) caretCell = std::min(caretCell, LineEnd(lastLine));
        if (selEndLine == lastLine && selEndCell >= LineEnd(lastLine)) ClearSelection();
        if (anchorLine == lastLine && anchorCell > LineEnd(lastLine)) anchorLine = nullptr;
    }
    if (oldWidth >= widest || wasLast) MeasureWidest();
    modified = 1;
    redrawNeeded = 1;
    NotifyChanged();
    return 1;
}

int32_t CFgUIEdit::SetTopLine(int32_t cell, int32_t index) {
    // Cell 0 is always a valid first cell, also for a text of empty lines.
    if (cell < 0 || (cell > 0 && cell >= widest)) return 0;
    FgEditLine* line = LineAt(index);
    if (!line) return 0;
    firstCell = cell;
    firstVisible = line;
    redrawNeeded = 1;
    NotifyViewMoved();
    return 1;
}

int32_t CFgUIEdit::SetCaret(int32_t cell, int32_t index) {
    if (cell < 0 || cell > widest) return 0;
    FgEditLine* line = LineAt(index);
    if (!line) return 0;
    caretLine = line;
    caretCell = SnapCell(line, cell);
    wantedCell = cell;
    redrawNeeded = 1;
    if (ScrollToCaret()) NotifyViewMoved();
    return 1;
}

int32_t CFgUIEdit::SetSelection(int32_t startLine, int32_t startCell, int32_t endLine, int32_t endCell) {
    if (startLine < 0) {
        ClearSelection();
        return 1;
    }
    FgEditLine* s = LineAt(startLine);
    FgEditLine* e = LineAt(endLine);
    // Each cell must start a character of its line, the line feed included.
    auto startsCharacter = [](const FgEditLine* line, int32_t cell) {
        return cell >= 0 && cell < LineWidth(line) && SnapCell(line, cell) == cell;
    };
    if (!s || !e || !startsCharacter(s, startCell) || !startsCharacter(e, endCell)) return 0;
    if (Before(e, endCell, s, startCell)) {
        std::swap(s, e);
        std::swap(startCell, endCell);
    }
    selStartLine = s;
    selStartCell = startCell;
    selEndLine = e;
    selEndCell = endCell;
    anchorLine = nullptr;
    redrawNeeded = 1;
    return 1;
}

std::wstring CFgUIEdit::SelectedText() const {
    std::wstring out;
    if (!selStartLine || !selEndLine) return out;
    for (const FgEditLine* line = selStartLine; line; line = line->next) {
        const size_t from = line == selStartLine ? IndexAtCell(line, selStartCell) : 0;
        size_t to = line->text.size();
        if (line == selEndLine) to = std::min(to, IndexAtCell(line, selEndCell) + 1);
        if (from < to) out.append(line->text, from, to - from);
        if (line == selEndLine) break;
    }
    return out;
}

void CFgUIEdit::Copy() {
    const std::wstring text = SelectedText();
    if (!text.empty()) CFgScreen::SetClipboardText(text.c_str());
}

void CFgUIEdit::Paste() {
    const uint64_t size = CFgScreen::GetClipboardText(nullptr, 0);
    if (size < 2) return;
    std::vector<wchar_t> text(size);
    CFgScreen::GetClipboardText(text.data(), size);
    const uint16_t state = GetKeyState();
    SetKeyState(state & ~(kFgKeyStateShift | kFgKeyStateControl | kFgKeyStateCapsLock));
    // One repaint for the whole text rather than one per character.
    ++pasting_;
    for (size_t i = 0; i < text.size() && text[i]; ++i) OnChar(static_cast<uint16_t>(text[i]));
    --pasting_;
    SetKeyState(state);
    if (redrawNeeded && !pasting_) RedrawParent();
}

bool CFgUIEdit::RemoveSelection() {
    if (!selStartLine || !selEndLine) return false;
    FgEditLine* s = selStartLine;
    FgEditLine* e = selEndLine;
    const size_t from = IndexAtCell(s, selStartCell);
    const size_t to = std::min(e->text.size(), IndexAtCell(e, selEndCell) + 1);
    ClearSelection();
    Splice(s, from, e, to, std::wstring());
    return true;
}

void CFgUIEdit::DeleteSelection() {
    if (!RemoveSelection()) return;
    anchorLine = nullptr;
    const bool moved = ScrollToCaret();
    NotifyChanged();
    if (moved) NotifyViewMoved();
    if (redrawNeeded) RedrawParent();
}

// The result is split at its line feeds so that every line but the last
// ends in one.
bool CFgUIEdit::Splice(FgEditLine* s, size_t from, FgEditLine* e, size_t to, const std::wstring& insert) {
    std::wstring merged = s->text.substr(0, from);
    merged += insert;
    merged.append(e->text, to, std::wstring::npos);
    const size_t caretIndex = from + insert.size();
    // When the removed text took e's line feed, the line after e joins.
    FgEditLine* stop = e->next;
    if (stop && (merged.empty() || merged.back() != L'\n')) {
        merged += stop->text;
        stop = stop->next;
    }
    // Piece starts: after every line feed, except that a final line feed
    // followed by further lines ends the last piece.
    std::vector<size_t> starts{0};
    for (size_t i = 0; i < merged.size(); ++i)
        if (merged[i] == L'\n' && (i + 1 < merged.size() || !stop)) starts.push_back(i + 1);
    std::vector<FgEditLine*> fresh;
    fresh.reserve(starts.size() - 1);
    for (size_t k = 1; k < starts.size(); ++k) {
        FgEditLine* line = new (std::nothrow) FgEditLine;
        if (!line) {
            for (FgEditLine* l : fresh) delete l;
            return false;
        }
        fresh.push_back(line);
    }
    bool rescan = LineWidth(s) >= widest;
    const bool renumber = s->next != stop || !fresh.empty();
    for (FgEditLine* line = s->next; line != stop;) {
        FgEditLine* next = line->next;
        rescan = rescan || LineWidth(line) >= widest;
        if (firstVisible == line) firstVisible = s;
        if (caretLine == line) caretLine = s;
        if (anchorLine == line) anchorLine = nullptr;
        if (selStartLine == line || selEndLine == line) ClearSelection();
        Unlink(line);
        delete line;
        line = next;
    }
    int32_t newWidest = 0;
    FgEditLine* line = s;
    FgEditLine* caretAt = s;
    size_t caretOffset = 0;
    for (size_t k = 0; k < starts.size(); ++k) {
        const size_t end = k + 1 < starts.size() ? starts[k + 1] : merged.size();
        if (k > 0) {
            InsertAfter(line, fresh[k - 1]);
            line = line->next;
        }
        line->text.assign(merged, starts[k], end - starts[k]);
        newWidest = std::max(newWidest, LineWidth(line));
        if (caretIndex >= starts[k] && (caretIndex < end || k + 1 == starts.size())) {
            caretAt = line;
            caretOffset = caretIndex - starts[k];
        }
    }
    if (renumber) Renumber(s);
    if (newWidest >= widest)
        widest = newWidest;
    else if (rescan)
        MeasureWidest();
    caretLine = caretAt;
    caretCell = CellAtIndex(caretAt, caretOffset);
    wantedCell = caretCell;
    modified = 1;
    redrawNeeded = 1;
    return true;
}

bool CFgUIEdit::ScrollToCaret() {
    if (!caretLine || !firstVisible) return false;
    const int32_t rows = std::max(1, VisibleRows());
    const int32_t cells = std::max(1, VisibleCells());
    bool moved = false;
    if (caretLine->index < firstVisible->index) {
        firstVisible = caretLine;
        moved = true;
    } else if (caretLine->index > firstVisible->index + rows - 1) {
        FgEditLine* top = caretLine;
        for (int32_t i = 1; i < rows && top->previous; ++i) top = top->previous;
        firstVisible = top;
        moved = true;
    }
    if (caretCell < firstCell) {
        firstCell = caretCell;
        moved = true;
    } else if (caretCell > firstCell + cells - 1) {
        firstCell = caretCell - cells + 1;
        moved = true;
    }
    if (moved) redrawNeeded = 1;
    PlaceImePoint();
    return moved;
}

void CFgUIEdit::PlaceImePoint() {
    CFgScreen* screen = OwnerScreen();
    if (!screen || !hasFocus || !caretLine || !firstVisible) return;
    const int32_t fe = EvenFontHeight();
    screen->SetImePoint(x + 2 + (caretCell - firstCell) * (fe / 2),
                        y + 2 + (caretLine->index - firstVisible->index) * (fe + 2));
}

void CFgUIEdit::SelectFromAnchor() {
    if (!anchorLine) return;
    const FgEditLine* aLine = anchorLine;
    int32_t aCell = anchorCell;
    const FgEditLine* cLine = caretLine;
    int32_t cCell = caretCell;
    if (aLine == cLine && aCell == cCell) {
        ClearSelection();
        return;
    }
    if (Before(cLine, cCell, aLine, aCell)) {
        std::swap(aLine, cLine);
        std::swap(aCell, cCell);
    }
    // From the earlier position up to the character before the later one;
    // a later position at cell 0 ends on the line feed of the line before it.
    selStartLine = const_cast<FgEditLine*>(aLine);
    selStartCell = aCell;
    if (cCell == 0) {
        selEndLine = cLine->previous;
        selEndCell = LineEnd(selEndLine);
    } else {
        selEndLine = const_cast<FgEditLine*>(cLine);
        selEndCell = SnapCell(cLine, cCell - 1);
    }
    redrawNeeded = 1;
}

void CFgUIEdit::EndSelectionIfDropped() {
    if (!dropSelection) return;
    dropSelection = 0;
    ClearSelection();
    anchorLine = nullptr;
}

void CFgUIEdit::AnchorAtCaret() {
    if (anchorLine) return;
    anchorLine = caretLine;
    anchorCell = caretCell;
}

void CFgUIEdit::BeginCaretMove() {
    if (shiftHeld || selecting) {
        AnchorAtCaret();
    } else if (anchorLine || selStartLine) {
        dropSelection = 1;
    }
}

// Only an arrow that went down moves the caret: releasing Shift while an
// arrow is still held would otherwise move it once more without Shift and
// end the selection just made.
void CFgUIEdit::OnKeyStateChanged() {
    const uint16_t state = GetKeyState();
    const uint16_t pressed = static_cast<uint16_t>(state & kArrowBits & ~arrowsDown_);
    arrowsDown_ = static_cast<uint16_t>(state & kArrowBits);
    shiftHeld = (state & kFgKeyStateShift) ? 1 : 0;
    MoveByArrows(pressed);
}

void CFgUIEdit::OnKeyRepeat() {
    const uint16_t state = GetKeyState();
    arrowsDown_ = static_cast<uint16_t>(state & kArrowBits);
    shiftHeld = (state & kFgKeyStateShift) ? 1 : 0;
    MoveByArrows(arrowsDown_);
}

void CFgUIEdit::MoveByArrows(uint16_t arrows) {
    const bool up = arrows & kFgKeyStateUp, down = arrows & kFgKeyStateDown;
    const bool left = !listMode && (arrows & kFgKeyStateLeft), right = !listMode && (arrows & kFgKeyStateRight);
    if (!up && !down && !left && !right) return;
    BeginCaretMove();
    FgEditLine* line = caretLine;
    if (up) {
        if (line->previous) {
            caretLine = line->previous;
            caretCell = SnapCell(caretLine, wantedCell);
        }
    } else if (down) {
        if (line->next) {
            caretLine = line->next;
            caretCell = SnapCell(caretLine, wantedCell);
        }
    } else if (left) {
        if (caretCell > 0) {
            caretCell = SnapCell(line, caretCell - 1);
        } else if (line->previous) {
            caretLine = line->previous;
            caretCell = LineEnd(caretLine);
        }
        wantedCell = caretCell;
    } else {
        const size_t i = IndexAtCell(line, caretCell);
        if (i < line->text.size() && line->text[i] != L'\n') {
            caretCell += FgCharColumns(&line->text[i], caretCell);
        } else if (line->next) {
            caretLine = line->next;
            caretCell = 0;
        }
        wantedCell = caretCell;
    }
    redrawNeeded = 1;
    SelectFromAnchor();
    const bool moved = ScrollToCaret();
    EndSelectionIfDropped();
    if (moved) NotifyViewMoved();
    if (redrawNeeded) RedrawParent();
}

bool CFgUIEdit::InsertCharacter(wchar_t c) {
    const size_t i = IndexAtCell(caretLine, caretCell);
    return Splice(caretLine, i, caretLine, i, std::wstring(1, c));
}

bool CFgUIEdit::DeleteBackward() {
    FgEditLine* line = caretLine;
    if (caretCell > 0) {
        const size_t i = IndexAtCell(line, caretCell);
        return i > 0 && Splice(line, i - 1, line, i, std::wstring());
    }
    // At cell 0 the line joins the previous one, the caret at its old end.
    FgEditLine* prev = line->previous;
    return prev && Splice(prev, prev->text.size() - 1, line, 0, std::wstring());
}

bool CFgUIEdit::DeleteForward() {
    FgEditLine* line = caretLine;
    const size_t i = IndexAtCell(line, caretCell);
    return i < line->text.size() && Splice(line, i, line, i + 1, std::wstring());
}

void CFgUIEdit::OnChar(uint16_t character) {
    const uint16_t state = GetKeyState();
    bool textChanged = false;
    if (state & kFgKeyStateControl) {
        uint16_t c = character;
        // Ctrl with a letter arrives as its control code (Ctrl+D is 4).
        if (c >= 1 && c <= 26 && c != 3 && c != 22 && c != 24) c = static_cast<uint16_t>('A' + c - 1);
        if (c < 1 || c > 121) return;
        if (c == 3 || c == 'C' || c == 'c') {
            Copy();
        } else if (c == 22 || c == 'V' || c == 'v') {
            Paste();
        } else if (c == 24 || c == 'X' || c == 'x') {
            Copy();
            textChanged = RemoveSelection();
        } else if (IsControlLetter(c)) {
            if (controlKey) controlKey(this, data, c);
            return;
        } else {
            return;
        }
    } else {
        switch (character) {
            case kKeyBackspace: textChanged = RemoveSelection() || DeleteBackward(); break;
            case kKeyTab:
                if (multiLine) {
                    textChanged = RemoveSelection();
                    textChanged = InsertCharacter(L'\t') || textChanged;
                }
                break;
            case kKeyEnter:
                if (multiLine) {
                    textChanged = RemoveSelection();
                    textChanged = InsertCharacter(L'\n') || textChanged;
                } else if (!key || !key(this, data, kKeyEnter)) {
                    // The selection of a field stays: Enter only commits.
                    pendingFocusMove = 1;
                }
                break;
            case kKeyEsc:
                if (!key || !key(this, data, kKeyEsc)) pendingFocusMove = (state & kFgKeyStateShift) ? 1 : -1;
                break;
            case kKeyDelete: textChanged = RemoveSelection() || DeleteForward(); break;
            default:
                // Other control codes have no glyph and no meaning here.
                if (character < 32) break;
                textChanged = RemoveSelection();
                textChanged = InsertCharacter(static_cast<wchar_t>(character)) || textChanged;
                break;
        }
    }
    if (textChanged) anchorLine = nullptr;
    const bool moved = ScrollToCaret();
    EndSelectionIfDropped();
    if (textChanged) NotifyChanged();
    if (moved) NotifyViewMoved();
    if (redrawNeeded && !pasting_) RedrawParent();
}

void CFgUIEdit::OnKeyUp(uint16_t key) {
    if (pendingFocusMove) {
        const int32_t move = pendingFocusMove;
        pendingFocusMove = 0;
        if (parent) {
            if (move > 0)
                parent->FocusNext();
            else
                parent->FocusPrevious();
        }
        return;
    }
    // Tab is a character of a multi-line text; a field passes the focus on.
    if (key == kKeyTab && !multiLine) CFgUIObj::OnKeyUp(key);
}

void CFgUIEdit::PositionFromPoint(int32_t px, int32_t py, FgEditLine** line, int32_t* cell) const {
    const int32_t fe = EvenFontHeight();
    int64_t row = static_cast<int64_t>(FloorDiv(py - 2, fe + 2)) + (firstVisible ? firstVisible->index : 0);
    if (!multiLine) row = 0;
    // A point below the last line names the last line.
    row = std::clamp<int64_t>(row, 0, lineCount - 1);
    *line = LineAt(static_cast<int32_t>(row));
    const int64_t c = static_cast<int64_t>(FloorDiv(px - 2, std::max(1, fe / 2))) + firstCell;
    *cell = static_cast<int32_t>(std::clamp<int64_t>(c, 0, INT32_MAX));
}

void CFgUIEdit::OnLButtonDown(int32_t px, int32_t py) {
    ClearSelection();
    FgEditLine* line;
    int32_t cell;
    PositionFromPoint(px, py, &line, &cell);
    if (!line) return;
    if (listMode) cell = LineEnd(line);
    wantedCell = cell;
    shiftHeld = (GetKeyState() & kFgKeyStateShift) ? 1 : 0;
    if (shiftHeld || selecting)
        AnchorAtCaret();
    else
        anchorLine = nullptr;
    caretLine = line;
    caretCell = SnapCell(line, std::min(cell, LineEnd(line)));
    SelectFromAnchor();
    if (!listMode) {
        selecting = 1;
        AnchorAtCaret();
        SetCapture();
    }
    ShowCaretMove();
}

void CFgUIEdit::ShowCaretMove() {
    redrawNeeded = 1;
    if (ScrollToCaret()) NotifyViewMoved();
    RedrawParent();
}

void CFgUIEdit::OnMouseMove(int32_t px, int32_t py) {
    if (!selecting) return;
    FgEditLine* line;
    int32_t cell;
    PositionFromPoint(px, py, &line, &cell);
    if (!line) return;
    cell = std::min(cell, widest);
    const int32_t snapped = SnapCell(line, cell);
    if (line == caretLine && snapped == caretCell) return;
    caretLine = line;
    caretCell = snapped;
    wantedCell = cell;
    SelectFromAnchor();
    ShowCaretMove();
}

void CFgUIEdit::OnLButtonUp(int32_t, int32_t) {
    selecting = 0;
    ReleaseCapture();
}

void CFgUIEdit::OnMouseWheel(int32_t, int32_t, int32_t notches) {
    if (wheel) {
        wheel(this, data, notches);
        return;
    }
    if (notches == 0 || !firstVisible) return;
    const int32_t rows = std::max(1, VisibleRows());
    const int32_t first = firstVisible->index;
    int64_t target = static_cast<int64_t>(first) + notches;
    if (notches > 0) {
        // Nothing to do when the last line is already in view.
        if (lastLine->index < first + rows) return;
        target = std::min<int64_t>(target, lineCount - rows);
    }
    target = std::max<int64_t>(target, 0);
    if (target == first) return;
    firstVisible = LineAt(static_cast<int32_t>(target));
    redrawNeeded = 1;
    NotifyViewMoved();
    RedrawParent();
}

void CFgUIEdit::OnAttach() {
    if (!parent) return;
    std::copy(parent->colors[kFgColorText], parent->colors[kFgColorText] + 3, textColor);
    std::copy(parent->colors[kFgColorLight], parent->colors[kFgColorLight] + 3, backColor);
}

void CFgUIEdit::OnSetFocus() {
    hasFocus = 1;
    arrowsDown_ = static_cast<uint16_t>(GetKeyState() & kArrowBits);
    redrawNeeded = 1;
    PlaceImePoint();
}

void CFgUIEdit::OnKillFocus(CFgUIObj*) {
    if (CFgScreen* screen = OwnerScreen()) screen->imeX = screen->imeY = -1;
    redrawNeeded = 1;
    shiftHeld = 0;
    hasFocus = 0;
    if (focusLost) focusLost(this, data);
}

void CFgUIEdit::Draw(CFgScreen* screen, CFgFont* font) {
    const int32_t right = Right();
    const int32_t bottom = Bottom();
    const double* text;
    const double* back;
    if (listMode) {
        text = textColor;
        back = backColor;
        FgFillRect(screen, x, y, right, bottom, back);
    } else {
        text = Color(enabled ? kFgColorText : kFgColorDisabledText);
        back = Color(!enabled ? kFgColorFace : hasFocus ? kFgColorHighlight : kFgColorLight);
        FgDrawFrame(screen, x, y, right, bottom, back, kBlack);
    }
    redrawNeeded = 0;
    if (!font || width < 5 || height < 5 || !firstVisible) return;
    const int32_t f = static_cast<int32_t>(font->height);
    const int32_t fe = f + (f & 1);
    const int32_t cellWidth = fe / 2;
    const int32_t rowHeight = fe + 2;
    const int32_t innerLeft = x + 2, innerTop = y + 2, innerRight = right - 2, innerBottom = bottom - 2;
    const int32_t singleTop = (innerTop + innerBottom) / 2 - f / 2;
    screen->SetClipRect(innerLeft, innerTop, innerRight, innerBottom);
    auto selected = [&](const FgEditLine* line, int32_t cell) {
        if (!selStartLine || line->index < selStartLine->index || line->index > selEndLine->index) return false;
        if (line == selStartLine && cell < selStartCell) return false;
        if (line == selEndLine && cell > selEndCell) return false;
        return true;
    };
    int32_t row = 0;
    for (const FgEditLine* line = firstVisible; line; line = line->next, ++row) {
        const int32_t top = multiLine ? innerTop + row * rowHeight : singleTop;
        if (top > innerBottom) break;
        int32_t cell = 0;
        for (size_t i = 0; i < line->text.size(); ++i) {
            const wchar_t c = line->text[i];
            const int32_t cells = c == L'\n' ? 1 : FgCharColumns(&line->text[i], cell);
            if (cell + cells > firstCell) {
                const int32_t px = innerLeft + (cell - firstCell) * cellWidth;
                if (px > innerRight) break;
                // Selected characters show inverted: a text-coloured cell
                // with the glyph in the background colour.
                if (selected(line, cell)) {
                    FgFillRect(screen, px, top, px + cells * cellWidth - 1, top + fe - 1, text);
                    glColor3dv(back);
                } else {
                    glColor3dv(text);
                }
                if (c != L'\t' && c != L'\n') font->DrawChar(px, top, static_cast<uint32_t>(c));
            }
            cell += cells;
        }
        if (!multiLine) break;
    }
    if (hasFocus && caretLine && caretLine->index >= firstVisible->index && caretCell >= firstCell) {
        const int32_t cx = innerLeft + (caretCell - firstCell) * cellWidth;
        const int32_t top = multiLine ? innerTop + (caretLine->index - firstVisible->index) * rowHeight : singleTop;
        if (top <= innerBottom) FgFillRect(screen, cx, top, cx + 1, top + f - 1, text);
    }
    glDisable(GL_STENCIL_TEST);
}

wchar_t* NormalizeWordList(const wchar_t* text) {
    if (!text) return nullptr;
    std::wstring out;
    bool gap = false;
    for (const wchar_t* p = text; *p; ++p) {
        if (IsBlank(*p)) {
            gap = !out.empty();
            continue;
        }
        if (gap) out += L' ';
        gap = false;
        out += UpperAscii(*p);
    }
    if (out.empty()) return nullptr;
    auto* list = static_cast<wchar_t*>(std::malloc((out.size() + 1) * sizeof(wchar_t)));
    if (!list) return nullptr;
    std::wmemcpy(list, out.c_str(), out.size() + 1);
    return list;
}

int32_t WordListContains(const wchar_t* list, const wchar_t* word) {
    if (!word) return 0;
    if (!list) return 1;
    const size_t length = std::wcslen(word);
    // Entry by entry, so that a word holding a blank never spans two entries.
    for (const wchar_t* entry = list;;) {
        const wchar_t* end = entry;
        while (*end && *end != L' ') ++end;
        if (static_cast<size_t>(end - entry) == length) {
            size_t i = 0;
            while (i < length && UpperAscii(word[i]) == entry[i]) ++i;
            if (i == length && length > 0) return 1;
        }
        if (!*end) return 0;
        entry = end + 1;
    }
}
