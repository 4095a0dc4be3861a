#include "toolkit/fg_cell.h"

#include <GL/gl.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "platform/atomic_save.h"
#include "platform/utf8.h"
#include "toolkit/fg_dialog.h"
#include "toolkit/fg_draw.h"
#include "toolkit/fg_font.h"
#include "toolkit/fg_text_batch.h"

namespace {

constexpr uint64_t kDefaultColumnWidth = 9;
constexpr uint64_t kMaxCount = INT32_MAX;  // scroll bar positions are 32-bit
constexpr int64_t kPixelLimit = int64_t{1} << 40;  // sums of column pixels saturate here

const double kWhite[3] = {1, 1, 1};

}  // namespace

// The fills and texts of one drawing, gathered cell by cell.
struct CFgUICell::CellPainter {
    explicit CellPainter(CFgFont* f) : font(f), texts(f) {}
    CFgFont* font;
    std::vector<FgColorRect> fills;
    CFgTextBatch texts;
};

CFgUICell::CFgUICell() = default;

CFgUICell::~CFgUICell() = default;

int64_t CFgUICell::FontHeight() const { return parent ? static_cast<int64_t>(parent->font.height) : 14; }

int64_t CFgUICell::ColumnPixels(uint64_t column) const {
    if (!columnWidths || column >= columns) return 0;
    const uint64_t half = static_cast<uint64_t>(FontHeight() / 2);
    const uint64_t w = columnWidths[column];
    if (half && w > static_cast<uint64_t>(kPixelLimit) / half) return kPixelLimit;
    return static_cast<int64_t>(w * half) + 4;
}

int32_t CFgUICell::SetRect(int32_t, int32_t newY, int32_t newWidth, int32_t newHeight) {
    if (!CFgUIObj::SetRect(0, newY, newWidth, newHeight)) return 0;
    bars.Place(x, y, width, height);
    UpdateLayout();
    return 1;
}

int32_t CFgUICell::SetSize(uint64_t newColumns, uint64_t newRows, int32_t redraw) {
    columnWidths.reset();
    columns = rows = headerColumns = headerRows = 0;
    firstColumn = firstRow = 0;
    rangeOn = 0;
    rangeFirstColumn = rangeFirstRow = rangeLastColumn = rangeLastRow = 0;
    pressed = 0;
    int32_t result = 0;
    if (newColumns && newRows && newColumns <= kMaxCount && newRows <= kMaxCount) {
        columnWidths.reset(new (std::nothrow) uint64_t[newColumns]);
        if (columnWidths) {
            std::fill_n(columnWidths.get(), newColumns, kDefaultColumnWidth);
            columns = newColumns;
            rows = newRows;
            result = 1;
        }
    }
    UpdateLayout();
    Repaint(redraw);
    return result;
}

void CFgUICell::Reset(int32_t redraw) { SetSize(0, 0, redraw); }

int32_t CFgUICell::SetHeaderRows(uint64_t, uint64_t newHeaderRows, int32_t redraw) {
    if (columns < 2 || newHeaderRows >= rows) return 0;
    headerColumns = 1;
    headerRows = newHeaderRows;
    if (firstColumn == 0) firstColumn = 1;
    if (firstRow < headerRows) firstRow = headerRows;
    UpdateLayout();
    Repaint(redraw);
    return 1;
}

int32_t CFgUICell::ScrollToCell(uint64_t column, uint64_t row) {
    if (column >= columns || row >= rows || column < headerColumns || row < headerRows) return 0;
    firstColumn = column;
    firstRow = row;
    // The layout pulls a position past the end back to the last page.
    for (auto [bar, value] : {std::pair{&bars.horizontal, column}, std::pair{&bars.vertical, row}}) {
        bar->position = static_cast<int32_t>(value);
        if (bar->notifying || !bar->callback) continue;
        bar->notifying = 1;
        bar->callback(bar, bar->data, bar->position);
        bar->notifying = 0;
    }
    UpdateLayout();
    RedrawParent();
    return 1;
}

void CFgUICell::FitColumns() {
    if (columnWidths && textCallback) {
        const uint64_t fontHeight = static_cast<uint64_t>(std::max<int64_t>(FontHeight(), 2));
        const uint64_t half = fontHeight / 2;
        const double* preset = Color(kFgColorText);
        for (uint64_t c = 0; c < columns; ++c) {
            uint64_t widest = 1;
            for (uint64_t r = 0; r < rows; ++r) {
                int32_t alignment = 0;
                double rgb[3] = {preset[0], preset[1], preset[2]};
                const wchar_t* text = textCallback(c, r, &alignment, &rgb[0], &rgb[1], &rgb[2], callbackData);
                if (!text || !*text) continue;
                // Pixels by the drawing's own rule, rounded up to whole cells.
                const uint64_t pixels = static_cast<uint64_t>(std::max(FgTextWidth(text, fontHeight), 0));
                widest = std::max(widest, (pixels + half - 1) / half);
            }
            columnWidths[c] = widest;
        }
    }
    UpdateLayout();
}

void CFgUICell::UpdateLayout() {
    const int64_t rowPixels = RowPixels();
    int64_t totalWidth = 0;
    for (uint64_t c = 0; c < columns; ++c) totalWidth = std::min(totalWidth + ColumnPixels(c), kPixelLimit);
    const int64_t totalHeight = rowPixels * static_cast<int64_t>(rows);
    if (totalWidth == 0 || totalHeight == 0) {
        laidOut = 0;
        bars.DropBoth();
        return;
    }
    laidOut = 1;
    bars.Choose(width, height, totalWidth, totalHeight);
    const int64_t viewWidth = width - (bars.verticalInUse ? 16 : 0);
    const int64_t viewHeight = height - (bars.horizontalInUse ? 16 : 0);
    view = {x, y, static_cast<int32_t>(x + viewWidth - 1), static_cast<int32_t>(y + viewHeight - 1)};
    bars.FitToView(view.x1, view.y1);

    CFgUIScrollBar& v = bars.vertical;
    if (bars.verticalInUse) {
        const int64_t headerHeight = rowPixels * static_cast<int64_t>(headerRows);
        if (headerHeight >= viewHeight) {
            v.minimum = v.maximum = v.position = 0;
            v.page = 1;
        } else {
            const int64_t page = std::max<int64_t>(1, (viewHeight - headerHeight) / rowPixels);
            const int64_t last = static_cast<int64_t>(rows) - page;
            const int64_t position =
                std::max<int64_t>(static_cast<int64_t>(headerRows), std::min<int64_t>(v.position, last));
            firstRow = static_cast<uint64_t>(position);
            v.minimum = static_cast<int32_t>(headerRows);
            v.maximum = static_cast<int32_t>(rows - 1);
            v.page = static_cast<int32_t>(page);
            v.position = static_cast<int32_t>(position);
        }
        CFgViewBars::Show(v);
    } else {
        if (v.position) firstRow = headerRows;
        CFgViewBars::Hide(v);
    }

    CFgUIScrollBar& h = bars.horizontal;
    if (bars.horizontalInUse) {
        int64_t headerWidth = 0;
        for (uint64_t c = 0; c < headerColumns; ++c) headerWidth += ColumnPixels(c);
        if (headerWidth >= viewWidth) {
            h.minimum = h.maximum = h.position = 0;
            h.page = 1;
        } else {
            // Whole columns, counted back from the last, that fit beside the headers.
            const int64_t room = viewWidth - headerWidth;
            int64_t page = 0, used = 0;
            for (uint64_t c = columns; c > headerColumns; --c) {
                used += ColumnPixels(c - 1);
                if (used > room) break;
                ++page;
            }
            page = std::max<int64_t>(1, page);
            const int64_t last = static_cast<int64_t>(columns) - page;
            const int64_t position =
                std::max<int64_t>(static_cast<int64_t>(headerColumns), std::min<int64_t>(h.position, last));
            firstColumn = static_cast<uint64_t>(position);
            h.minimum = static_cast<int32_t>(headerColumns);
            h.maximum = static_cast<int32_t>(columns - 1);
            h.page = static_cast<int32_t>(page);
            h.position = static_cast<int32_t>(position);
        }
        CFgViewBars::Show(h);
    } else {
        if (h.position) firstColumn = headerColumns;
        CFgViewBars::Hide(h);
    }
}

int32_t CFgUICell::HitTest(int32_t px, int32_t py, uint64_t* column, uint64_t* row) const {
    if (!laidOut || px < 0 || py < 0 || py >= static_cast<int64_t>(view.y1) - view.y0 + 1) return 0;
    int64_t edge = 0;
    bool found = false;
    uint64_t c = 0;
    for (; c < headerColumns && c < columns; ++c) {
        edge += ColumnPixels(c);
        if (edge > px) {
            found = true;
            break;
        }
    }
    if (!found)
        for (c = std::max(firstColumn, headerColumns); c < columns; ++c) {
            edge += ColumnPixels(c);
            if (edge > px) {
                found = true;
                break;
            }
        }
    if (!found) return 0;
    const uint64_t r = static_cast<uint64_t>(py / RowPixels());
    const uint64_t hitRow = r < headerRows ? r : r + firstRow - headerRows;
    if (hitRow >= rows) return 0;
    if (column) *column = c;
    if (row) *row = hitRow;
    return 1;
}

bool CFgUICell::InRange(uint64_t column, uint64_t row) const {
    return rangeOn && column >= rangeFirstColumn && column <= rangeLastColumn && row >= rangeFirstRow &&
           row <= rangeLastRow;
}

void CFgUICell::DrawCell(CellPainter& painter, uint64_t column, uint64_t row, int32_t left, int32_t top,
                         int32_t right, bool header) {
    const int32_t bottom = top + static_cast<int32_t>(RowPixels()) - 1;
    const bool marked = enabled && InRange(column, row);
    uint32_t textIndex, faceIndex;
    if (header) {
        textIndex = !enabled ? kFgColorDisabledText : marked ? kFgColorFace : kFgColorText;
        faceIndex = marked ? kFgColorDisabledText : kFgColorFace;
    } else {
        textIndex = enabled ? kFgColorText : kFgColorDisabledText;
        faceIndex = marked ? kFgColorHighlight : kFgColorLight;
    }
    // Each cell leaves its right and bottom pixel to the grid lines below it.
    painter.fills.push_back({left, top, right - 1, bottom - 1, Color(faceIndex)});
    if (header) {
        painter.fills.push_back({left, top, right - 1, top, kWhite});
        painter.fills.push_back({left, top, left, bottom - 1, kWhite});
    }
    if (!textCallback) return;
    int32_t alignment = 0;
    const double* preset = Color(textIndex);
    double rgb[3] = {preset[0], preset[1], preset[2]};
    const wchar_t* text = textCallback(column, row, &alignment, &rgb[0], &rgb[1], &rgb[2], callbackData);
    if (!text || !*text) return;
    const int32_t textWidth = painter.font->TextWidth(text);
    const int32_t cellWidth = right - left + 1;
    int32_t tx = left + (cellWidth - textWidth) / 2;
    if (alignment < 0) tx = left + 2;
    if (alignment > 0) tx = right + 1 - 2 - textWidth;
    // The text is cut to the cell inset by 1 pixel, within the view.
    painter.texts.Add(tx, top + 2, text, rgb, std::max(left + 1, view.x0), std::max(top + 1, view.y0),
                      std::min(right - 1, view.x1), std::min(bottom - 1, view.y1));
}

void CFgUICell::Draw(CFgScreen* screen, CFgFont* font) {
    FgFillRect(screen, view.x0, view.y0, view.x1, view.y1, Color(kFgColorFace));
    if (!laidOut || !font) return;
    const int32_t rowPixels = static_cast<int32_t>(RowPixels());
    // Column lefts: the header columns, then the visible scrolled ones
    // that start inside the view.
    struct Span {
        uint64_t column;
        int32_t left, right;
    };
    std::vector<Span> spans;
    int64_t left = x;
    auto addColumn = [&](uint64_t c) {
        if (left > view.x1) return false;
        const int64_t w = ColumnPixels(c);
        spans.push_back({c, static_cast<int32_t>(left), static_cast<int32_t>(std::min<int64_t>(left + w - 1, INT32_MAX))});
        left += w;
        return true;
    };
    for (uint64_t c = 0; c < headerColumns && c < columns; ++c)
        if (!addColumn(c)) break;
    for (uint64_t c = std::max(firstColumn, headerColumns); c < columns; ++c)
        if (!addColumn(c)) break;
    // Row tops likewise.
    std::vector<std::pair<uint64_t, int32_t>> lines;
    int64_t top = y;
    for (uint64_t r = 0; r < headerRows && r < rows && top <= view.y1; ++r, top += rowPixels)
        lines.push_back({r, static_cast<int32_t>(top)});
    for (uint64_t r = std::max(firstRow, headerRows); r < rows && top <= view.y1; ++r, top += rowPixels)
        lines.push_back({r, static_cast<int32_t>(top)});
    if (spans.empty() || lines.empty()) return;
    // Every cell's fill and text is gathered first and drawn in two
    // batches: texts stay inside their own cells, so the order of the
    // pixels is the same as cell by cell.
    CellPainter painter(font);
    painter.fills.reserve(spans.size() * lines.size() + 2 * (spans.size() + lines.size()) + 1);
    // The grid lines: what the cells leave uncovered inside the drawn block.
    painter.fills.push_back(
        {x, y, spans.back().right, lines.back().second + rowPixels - 1, Color(kFgColorDisabledText)});
    const size_t headerSpans = std::min<size_t>(spans.size(), headerColumns);
    const size_t headerLines = std::min<size_t>(lines.size(), headerRows);
    auto cell = [&](size_t l, size_t s, bool header) {
        DrawCell(painter, spans[s].column, lines[l].first, spans[s].left, lines[l].second, spans[s].right, header);
    };
    // Corner, header rows over the visible columns, the header column over
    // the visible rows, then the body.
    for (size_t l = 0; l < headerLines; ++l)
        for (size_t s = 0; s < headerSpans; ++s) cell(l, s, true);
    for (size_t l = 0; l < headerLines; ++l)
        for (size_t s = headerSpans; s < spans.size(); ++s) cell(l, s, true);
    for (size_t l = headerLines; l < lines.size(); ++l)
        for (size_t s = 0; s < headerSpans; ++s) cell(l, s, true);
    for (size_t l = headerLines; l < lines.size(); ++l)
        for (size_t s = headerSpans; s < spans.size(); ++s) cell(l, s, false);
    FgScissorRect(screen, view.x0, view.y0, view.x1, view.y1);
    FgFillRects(screen, painter.fills.data(), painter.fills.size());
    painter.texts.Draw();
    glDisable(GL_SCISSOR_TEST);
}

void CFgUICell::OnAttach() {
    bars.Place(x, y, width, height);
    bars.Attach(this);
    bars.horizontal.callback = [](CFgUIScrollBar*, void* data, int32_t position) {
        auto* grid = static_cast<CFgUICell*>(data);
        const uint64_t value = static_cast<uint64_t>(std::max(position, 0));
        if (value == grid->firstColumn || value >= grid->columns || value < grid->headerColumns) return;
        grid->firstColumn = value;
        grid->RedrawParent();
    };
    bars.vertical.callback = [](CFgUIScrollBar*, void* data, int32_t position) {
        auto* grid = static_cast<CFgUICell*>(data);
        const uint64_t value = static_cast<uint64_t>(std::max(position, 0));
        if (value == grid->firstRow || value >= grid->rows || value < grid->headerRows) return;
        grid->firstRow = value;
        grid->RedrawParent();
    };
    UpdateLayout();
}

void CFgUICell::OnVisibleChanged(uint32_t shown, uint64_t argument) { bars.FollowVisible(shown, argument); }

void CFgUICell::OnLButtonDown(int32_t px, int32_t py) {
    uint64_t c, r;
    if (pressed || !HitTest(px, py, &c, &r)) return;
    pressed = 1;
    pressedColumn = c;
    pressedRow = r;
    if (pressCallback) pressCallback(c, r, callbackData);
    if (dragCallback) dragCallback(c, r, callbackData);
}

void CFgUICell::OnMouseMove(int32_t px, int32_t py) {
    uint64_t c, r;
    if (!pressed || !HitTest(px, py, &c, &r) || (c == pressedColumn && r == pressedRow)) return;
    pressedColumn = c;
    pressedRow = r;
    if (dragCallback) dragCallback(c, r, callbackData);
}

void CFgUICell::OnLButtonUp(int32_t px, int32_t py) {
    uint64_t c, r;
    if (!pressed || !HitTest(px, py, &c, &r)) return;
    pressed = 0;
    pressedColumn = pressedRow = 0;
    if (releaseCallback) releaseCallback(c, r, callbackData);
}

void CFgUICell::OnMouseWheel(int32_t, int32_t, int32_t notches) {
    const CFgUIScrollBar& v = bars.vertical;
    const int64_t first = static_cast<int64_t>(firstRow);
    if (notches < 0) {
        if (first <= v.minimum || first + notches < 0) return;
        ScrollToCell(firstColumn, static_cast<uint64_t>(first + notches));
    } else if (notches > 0) {
        if (!bars.verticalInUse || first + v.page - 1 >= v.maximum) return;
        const int64_t target = std::min<int64_t>(first + notches, static_cast<int64_t>(v.maximum) - v.page + 1);
        ScrollToCell(firstColumn, static_cast<uint64_t>(target));
    }
}

int32_t CFgUICell::SaveCsv(const wchar_t* path, int32_t quote) {
    if (!path) return 0;
    const std::string name = PlatWideToUtf8(path);
    if (name.empty() || name.size() > 1023) return 0;
    // A file is written beside the target and renamed over it only when
    // complete, so a failed export leaves an existing file as it was.
    AtomicSave save;
    if (!save.BeginUtf8(name)) return 0;
    FILE* file = std::fopen(save.TemporaryPathUtf8().c_str(), "w");
    if (!file) return 0;
    const double* preset = Color(kFgColorText);
    bool ok = true;
    std::string bytes;
    for (uint64_t r = 0; r < rows && ok; ++r) {
        for (uint64_t c = 0; c < columns && ok; ++c) {
            bytes.clear();
            if (textCallback) {
                int32_t alignment = 0;
                double rgb[3] = {preset[0], preset[1], preset[2]};
                if (const wchar_t* text = textCallback(c, r, &alignment, &rgb[0], &rgb[1], &rgb[2], callbackData))
                    bytes = PlatWideToUtf8(text);
            }
            if (quote && bytes.find_first_of(",\"\r\n") != std::string::npos) {
                std::string quoted = "\"";
                for (char ch : bytes) {
                    if (ch == '"') quoted.push_back('"');
                    quoted.push_back(ch);
                }
                quoted.push_back('"');
                bytes.swap(quoted);
            }
            bytes.push_back(c + 1 < columns ? ',' : '\n');
            ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
        }
    }
    // Buffered bytes reach the disk only here: a full disk shows at the flush or the close.
    if (std::fflush(file) != 0) ok = false;
    if (std::fclose(file) != 0) ok = false;
    return ok && save.Commit() ? 1 : 0;
}
