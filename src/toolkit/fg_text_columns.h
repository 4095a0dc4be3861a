// Column arithmetic of monospaced text (edit box, menus): half-width
// characters take one column, all others two; tabs stop every 4 columns.
#pragma once

#include <cstdint>

// Half width: codes below 128, 165, 8254 and U+FF61..U+FF9F. Code points
// above U+FFFF count as U+FFFD.
bool FgIsHalfWidth(wchar_t c);
// Columns (cells) a character other than a tab takes: 1 or 2. The one rule
// that every column operation and the glyph advance share.
int32_t FgCharCells(wchar_t c);

// Columns of the whole text; a tab advances to the next multiple of 4 (a full
// 4 when already on one); an LF counts 1 only when countLineFeeds is set.
int32_t FgTextColumns(const wchar_t* text, int32_t countLineFeeds);

// The following stop at LF or the end of the text; a column below 0 counts
// as 0.
// Start column of the character that covers `column`; past the end of the
// line, the column where the line ends.
int32_t FgColumnStart(const wchar_t* line, int32_t column);
// Index of the character that covers `column`; past the end of the line, the
// index of the LF or terminator.
int32_t FgCharIndexAtColumn(const wchar_t* line, int32_t column);
// The same across line feeds (an LF takes one column); stops at the end of
// the text.
int32_t FgCharIndexAtColumnNoStop(const wchar_t* text, int32_t column);

// The text with tabs replaced by blanks (columns restart after each LF) and
// one trailing LF removed. The buffer belongs to the calling thread and holds
// the result until its next call.
const wchar_t* FgExpandTabs(const wchar_t* text);

// Columns taken by the character *text when it starts at `column`: a tab
// covers 4 - (column mod 4); 0 for a null pointer or the terminator.
int32_t FgCharColumns(const wchar_t* text, int32_t column);
