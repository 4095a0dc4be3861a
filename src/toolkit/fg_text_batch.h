// Text of many places drawn with one bind per glyph page: the same pixels
// as CFgFont::DrawText at each place with a stencil or scissor clip, for
// controls that draw a great many short texts (tables, lists).
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "toolkit/fg_texture.h"

class CFgFont;

class CFgTextBatch {
public:
    explicit CFgTextBatch(CFgFont* font) : font_(font) {}

    // Queues the text at (x, y) in the colour, cut to the inclusive
    // rectangle; returns the advance as DrawText does.
    int32_t Add(int32_t x, int32_t y, const wchar_t* text, const double* color, int32_t clipX0, int32_t clipY0,
                int32_t clipX1, int32_t clipY1);
    // Draws everything queued, page by page, and empties the batch.
    void Draw();

private:
    CFgFont* font_;
    std::map<uint32_t, std::vector<FgTexQuad>> pages_;
};
