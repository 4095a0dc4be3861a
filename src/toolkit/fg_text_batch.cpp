#include "toolkit/fg_text_batch.h"

#include <algorithm>

#include "toolkit/fg_font.h"

int32_t CFgTextBatch::Add(int32_t x, int32_t y, const wchar_t* text, const double* color, int32_t clipX0,
                          int32_t clipY0, int32_t clipX1, int32_t clipY1) {
    if (!font_ || !text || !color || !font_->screen || font_->height == 0) return 0;
    int32_t advance = 0;
    for (; *text; ++text) {
        const uint32_t code = FgGlyphCode(static_cast<uint32_t>(*text));
        const uint32_t page = code / kFgPageChars;
        if (!font_->EnsurePage(page)) continue;
        const CFgTexture& t = font_->pages[page];
        const int64_t left = static_cast<int64_t>(x) + advance;
        advance += font_->CharAdvance(code);
        // The glyph's cell, 1:1, cut to the clip: texels move with the cut edges.
        const int64_t cw = static_cast<int64_t>(t.cellWidth);
        const int64_t ch = static_cast<int64_t>(t.cellHeight);
        const int64_t x0 = std::max<int64_t>(left, clipX0);
        const int64_t x1 = std::min<int64_t>(left + cw, static_cast<int64_t>(clipX1) + 1);
        const int64_t y0 = std::max<int64_t>(y, clipY0);
        const int64_t y1 = std::min<int64_t>(static_cast<int64_t>(y) + ch, static_cast<int64_t>(clipY1) + 1);
        if (x0 >= x1 || y0 >= y1) continue;
        const uint32_t cell = code % kFgPageChars;
        const int64_t sx = static_cast<int64_t>(cell % t.columns) * cw - left;
        const int64_t sy = static_cast<int64_t>(cell / t.columns) * ch - y;
        FgTexQuad q{double(x0), double(y0), double(x1), double(y1), double(sx + x0), double(sy + y0),
                    double(sx + x1), double(sy + y1), {color[0], color[1], color[2]}};
        pages_[page].push_back(q);
    }
    return advance;
}

void CFgTextBatch::Draw() {
    for (auto& [page, quads] : pages_) font_->pages[page].DrawQuads(quads.data(), quads.size());
    pages_.clear();
}
