// CCsvViewer: the top-level window in which an analysis filter shows its
// numbers as a table and from which the user saves them as CSV text.
#pragma once

#include <atomic>
#include <cstdint>

#include "toolkit/fg_cell.h"
#include "toolkit/fg_dialog.h"
#include "toolkit/fg_menubar.h"

class CCsvViewer : public CFgUIDialog {
public:
    enum : int32_t { kSaveCsvId = 101 };

    CCsvViewer();
    ~CCsvViewer() override;

    CFgUIMenuBar menuBar;
    // 1 when the menu was last built in English, 0 for Japanese.
    uint32_t english = 0;
    CFgUICell grid;
    // Quote fields holding ',', '"', CR or LF when saving; owners whose
    // texts can hold them turn it on.
    int32_t quoteFields = 0;

    void SetLanguage(const wchar_t* language);
    void OnSize(uint64_t width, uint64_t height) override;
    // Asks for a file (and, when it exists, whether to overwrite it) and
    // writes the table; the menu command 101.
    void SaveCsvCommand();
    // The owner changed the texts: the columns are fitted to them at the
    // next drawing (any thread; repaints an open window).
    void ContentsChanged();
    // Fits the columns now when the texts changed since the last fitting
    // (user-interface thread; the drawing calls it).
    void FitColumnsIfChanged();
    void DrawBackground() override;
    // Places the grid below the menu bar.
    void Layout();
    // Sizes the grid to `columns` x `rows` with the first column and the
    // first two rows as headers, keeping the scroll position inside the
    // data; a size of 0 (or one the grid cannot take) empties it. The
    // columns are fitted at the next drawing; the caller repaints.
    void SizeWithHeaders(uint64_t columns, uint64_t rows);
    // Creates the window at (x, y) with a client size of at least 1 x 1 and
    // lays it out; an open window is only repainted.
    void Open(int32_t x, int32_t y, int32_t w, int32_t h, const wchar_t* title, CFgScreen* parent);
    // A language change: an open window takes the language and notes its
    // place, so that the owner's next showing of its rebuilt panel reopens
    // it there (TakeNotedPlace).
    void NoteForLanguage(const wchar_t* language);
    // The place noted by the last language change, once: false when none is.
    bool TakeNotedPlace(int32_t* x, int32_t* y, int32_t* w, int32_t* h);

private:
    std::atomic<bool> fitPending_{true};
    bool noted_ = false;
    int32_t notedX_ = -1, notedY_ = -1, notedW_ = 300, notedH_ = 300;

    void BuildMenu(bool japanese);
    static void OnMenu(CFgUIMenuBar* bar, void* data, int32_t item, int32_t id);
};
