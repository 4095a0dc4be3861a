#include "toolkit/fg_text_columns.h"

#include <climits>
#include <string>

namespace {

int64_t ColumnsAt(wchar_t c, int64_t column) {
    if (c == L'\t') return 4 - column % 4;
    return FgCharCells(c);
}

// Walks the text until the character covering `column`; returns its index
// and start column through the out parameters.
void FindColumn(const wchar_t* text, int32_t column, bool stopAtLineFeed, int64_t* index, int64_t* start) {
    const int64_t target = column < 0 ? 0 : column;
    int64_t col = 0;
    int64_t i = 0;
    if (text) {
        for (; text[i] && !(stopAtLineFeed && text[i] == L'\n'); ++i) {
            const int64_t w = ColumnsAt(text[i], col);
            if (target < col + w) break;
            col += w;
        }
    }
    *index = i;
    *start = col;
}

int32_t Saturate(int64_t v) { return v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v); }

}  // namespace

bool FgIsHalfWidth(wchar_t c) {
    uint32_t code = static_cast<uint32_t>(c);
    if (code > 0xFFFF) code = 0xFFFD;
    return code < 128 || code == 165 || code == 8254 || (code >= 0xFF61 && code <= 0xFF9F);
}

int32_t FgCharCells(wchar_t c) { return FgIsHalfWidth(c) ? 1 : 2; }

int32_t FgTextColumns(const wchar_t* text, int32_t countLineFeeds) {
    if (!text) return 0;
    int64_t col = 0;
    for (; *text; ++text) {
        if (*text == L'\n') {
            col += countLineFeeds ? 1 : 0;
        } else {
            col += ColumnsAt(*text, col);
        }
    }
    return Saturate(col);
}

int32_t FgColumnStart(const wchar_t* line, int32_t column) {
    int64_t index, start;
    FindColumn(line, column, true, &index, &start);
    return Saturate(start);
}

int32_t FgCharIndexAtColumn(const wchar_t* line, int32_t column) {
    int64_t index, start;
    FindColumn(line, column, true, &index, &start);
    return Saturate(index);
}

int32_t FgCharIndexAtColumnNoStop(const wchar_t* text, int32_t column) {
    int64_t index, start;
    FindColumn(text, column, false, &index, &start);
    return Saturate(index);
}

const wchar_t* FgExpandTabs(const wchar_t* text) {
    // Grows with the text: tabs may make it up to four times longer.
    thread_local std::wstring out;
    out.clear();
    if (!text) return out.c_str();
    int64_t col = 0;
    for (; *text; ++text) {
        const wchar_t c = *text;
        if (c == L'\t') {
            const int64_t w = ColumnsAt(c, col);
            out.append(static_cast<size_t>(w), L' ');
            col += w;
        } else if (c == L'\n') {
            out += c;
            col = 0;
        } else {
            out += c;
            col += FgCharCells(c);
        }
    }
    if (!out.empty() && out.back() == L'\n') out.pop_back();
    return out.c_str();
}

int32_t FgCharColumns(const wchar_t* text, int32_t column) {
    if (!text || !*text) return 0;
    return static_cast<int32_t>(ColumnsAt(*text, column < 0 ? 0 : column));
}
