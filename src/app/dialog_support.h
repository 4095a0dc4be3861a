// Helpers shared by the main screen's modeless dialogs: numbers typed into
// edit boxes, the remembered window place, and edits filled by the program.
#pragma once

#include <cstdint>

class CFgScreen;
class CFgUIEdit;

// The edit's text as the C library reads a decimal number in the C locale
// (leading blanks, a sign, an exponent); 0 when it does not start with a
// number. "inf" and "nan" are read as such: callers check what they accept.
double EditTextToDouble(const wchar_t* text);
// The text as a 32-bit unsigned long reads it, base 10: no number gives 0, a
// leading minus wraps ("-1" is 4294967295) and anything beyond 4294967295
// gives 4294967295.
uint32_t EditTextToU32(const wchar_t* text);

// A dialog's window place, kept in the dialog and for the whole run.
struct DialogPlace {
    uint32_t placed = 0;
    int32_t x = 0, y = 0;
};
// Stores the screen's place in both (a place off the desktop's top or left
// edge is kept at 0, so the window can be made there again).
void RememberDialogPlace(const CFgScreen* screen, uint32_t* placed, int32_t* x, int32_t* y, DialogPlace* run);
// The place to open at: the dialog's own, else the run's, else (-1, -1).
void DialogOpenPlace(uint32_t placed, int32_t x, int32_t y, const DialogPlace& run, int32_t* outX, int32_t* outY);

// Replaces the text of a single-line edit.
void SetEditText(CFgUIEdit* edit, const wchar_t* text);
