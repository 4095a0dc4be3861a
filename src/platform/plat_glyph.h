// Glyph rasteriser of the platform layer: FreeType renders single characters
// of a font chosen through fontconfig into 8-bit coverage cells.
#pragma once

#include <cstdint>

struct PlatGlyphFont;

// Opens the face best matching `face` (null or empty: the default face) for
// a character cell `height` pixels high. The Japanese faces "ＭＳ 明朝" and
// "ＭＳ ゴシック" are served by IPAMincho and IPAGothic. Null on failure.
PlatGlyphFont* PlatGlyphOpen(const wchar_t* face, int32_t height);
void PlatGlyphClose(PlatGlyphFont* font);

// Clears the width x height cell (rows top first, `pitch` bytes apart) and
// draws `code` into it as coverage 0..255 with the top of the character box
// at row 0 and its origin at column 0. A glyph that would stick out of the
// cell is moved into it; only one larger than the cell is cut (at its right
// and bottom). 1 when drawn (a character the face lacks leaves the cell
// empty and gives 1).
int32_t PlatGlyphRender(PlatGlyphFont* font, uint32_t code, uint8_t* cell, int32_t width, int32_t height,
                        int32_t pitch);

// Test seam: the sum of the coverage of the whole glyph of `code`, before
// it is placed in a cell; 0 when there is no glyph.
uint64_t PlatGlyphInkForTesting(PlatGlyphFont* font, uint32_t code);
