// Edit box: a single-line field or a scrolling multi-line text with keyboard
// and mouse selection and the clipboard. The text is a doubly linked list of
// lines; positions are display cells (half-width characters one cell,
// full-width two, tabs stopping every 4 cells).
#pragma once

#include <cstdint>
#include <string>

#include "toolkit/fg_control.h"

// One line of an edit box. In a multi-line edit every line but the last ends
// in a line feed; the last line never does, nor does a single-line edit.
struct FgEditLine {
    std::wstring text;
    int32_t index = 0;  // 0-based, contiguous
    FgEditLine* next = nullptr;
    FgEditLine* previous = nullptr;
};

class CFgUIEdit : public CFgUIObj {
public:
    using ChangedCallback = void (*)(CFgUIEdit* edit, void* data);
    // Non-zero when the key was handled (Enter and Esc then move no focus).
    using KeyCallback = int32_t (*)(CFgUIEdit* edit, void* data, uint16_t character);
    using ControlKeyCallback = void (*)(CFgUIEdit* edit, void* data, uint16_t character);
    using WheelCallback = void (*)(CFgUIEdit* edit, void* data, int32_t notches);

    CFgUIEdit();
    ~CFgUIEdit() override;

    double textColor[3] = {0, 0, 0};  // own colours, used in list mode
    double backColor[3] = {1, 1, 1};
    uint32_t redrawNeeded = 0;
    ChangedCallback changed = nullptr;
    KeyCallback key = nullptr;
    ControlKeyCallback controlKey = nullptr;
    ChangedCallback focusLost = nullptr;
    WheelCallback wheel = nullptr;
    ChangedCallback viewMoved = nullptr;
    void* data = nullptr;
    // List mode: own colours, no frame, a click puts the caret at the end of
    // its line, no left/right movement and no mouse-drag selection.
    uint32_t listMode = 0;
    uint32_t multiLine = 0;  // set before text is added
    int32_t lineCount = 1;
    int32_t widest = 0;      // cells of the widest line, its line feed counted
    int32_t caretCell = 0;
    int32_t wantedCell = 0;  // kept by up and down movement
    int32_t firstCell = 0;   // first visible cell
    uint32_t hasFocus = 0;
    uint32_t modified = 0;
    uint32_t shiftHeld = 0;
    uint32_t selecting = 0;      // a mouse selection runs
    uint32_t dropSelection = 0;  // the next caret move without shift ends the selection
    FgEditLine* selStartLine = nullptr;  // null: nothing selected
    FgEditLine* selEndLine = nullptr;
    int32_t selStartCell = 0;  // inclusive cells
    int32_t selEndCell = 0;
    FgEditLine* anchorLine = nullptr;  // where a selection began; null: none
    int32_t anchorCell = 0;
    FgEditLine* firstVisible = nullptr;
    FgEditLine* caretLine = nullptr;
    FgEditLine* firstLine = nullptr;
    FgEditLine* lastLine = nullptr;
    int32_t pendingFocusMove = 0;  // +1 next, -1 previous tab stop on the next key release

    // Empties the text to one empty line with the caret and view at 0.
    void Clear();
    // Replaces the text of an existing line; 0 for a bad index or null text.
    int32_t SetLineText(int32_t index, const wchar_t* text);
    // Line 0: the whole text of a single-line edit.
    const wchar_t* GetText() const;
    // Multi-line only, non-empty text: appends it after the text (the last
    // line ends first when it holds text); the index of the line that
    // received it, or -1.
    int32_t AppendLine(const wchar_t* text);
    // Multi-line only; the only line is emptied and 0 returned.
    int32_t DeleteLine(int32_t index);
    int32_t SetTopLine(int32_t cell, int32_t index);
    int32_t SetCaret(int32_t cell, int32_t index);
    // Inclusive cells, each the start of a character of its line (its line
    // feed included); a start line below 0 clears the selection.
    int32_t SetSelection(int32_t startLine, int32_t startCell, int32_t endLine, int32_t endCell);
    void Copy();
    void Paste();
    void DeleteSelection();

    // The line with the given index, or null.
    FgEditLine* LineAt(int32_t index) const;
    // The selected text, line feeds included; empty without a selection.
    std::wstring SelectedText() const;
    // Metrics of the container's font: F' is F raised to even.
    int32_t FontHeight() const;
    int32_t EvenFontHeight() const;
    int32_t VisibleRows() const;
    int32_t VisibleCells() const;

    void Draw(CFgScreen* screen, CFgFont* font) override;
    void OnAttach() override;
    void OnMouseMove(int32_t x, int32_t y) override;
    void OnLButtonDown(int32_t x, int32_t y) override;
    void OnLButtonUp(int32_t x, int32_t y) override;
    void OnMouseWheel(int32_t x, int32_t y, int32_t notches) override;
    // Arrow keys: a press moves the caret (with Shift, selecting); a held
    // arrow repeats.
    void OnKeyStateChanged() override;
    void OnKeyRepeat() override;
    void OnKeyUp(uint16_t key) override;
    void OnChar(uint16_t character) override;
    void OnSetFocus() override;
    void OnKillFocus(CFgUIObj* newFocus) override;

private:
    void FreeLines();
    void Renumber(FgEditLine* from);
    void Unlink(FgEditLine* line);
    void InsertAfter(FgEditLine* after, FgEditLine* line);
    void MeasureWidest();
    // Keeps the widest width after `line` changed from `oldWidth` cells.
    void LineChanged(FgEditLine* line, int32_t oldWidth);
    void ClearSelection();
    void SelectFromAnchor();
    void EndSelectionIfDropped();
    // Removes the selected text and puts the caret at its start; false when
    // nothing was selected.
    bool RemoveSelection();
    bool InsertCharacter(wchar_t c);
    bool DeleteBackward();
    bool DeleteForward();
    // Replaces the text from (s, from) up to (e, to) with `insert` and puts
    // the caret after it; false, with nothing changed, when memory runs out.
    bool Splice(FgEditLine* s, size_t from, FgEditLine* e, size_t to, const std::wstring& insert);
    // Scrolls the view to the caret and places the composition window; true
    // when the view moved.
    bool ScrollToCaret();
    void PlaceImePoint();
    // Caret move of the keyboard or the mouse, with the anchor rules.
    void AnchorAtCaret();  // unless an anchor is there already
    void BeginCaretMove();
    // Scrolls to the moved caret, reports a moved view and repaints.
    void ShowCaretMove();
    void MoveByArrows(uint16_t arrows);
    void PositionFromPoint(int32_t px, int32_t py, FgEditLine** line, int32_t* cell) const;
    void NotifyChanged();
    void NotifyViewMoved();

    uint32_t pasting_ = 0;      // pasted characters repaint once, at the end
    uint16_t arrowsDown_ = 0;   // arrow bits of the key-state word last seen
};

// Word lists (file extensions): blanks are space, tab and line feed.
// Trims the blanks, turns every run of them into one space and upper-cases
// a-z; null for a null, empty or all-blank text. Free the result with free().
wchar_t* NormalizeWordList(const wchar_t* text);
// 1 when the word, upper-cased, equals one whole entry of a normalised list;
// a null list holds every word, a null word none.
int32_t WordListContains(const wchar_t* list, const wchar_t* word);
