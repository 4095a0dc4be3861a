// Glyph-page fonts: 512 pages of 128 characters each, rasterised on first
// use (or read from PNG images) and drawn as tinted texture cells.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/kernel.h"
#include "toolkit/fg_texture.h"

class CFgScreen;
struct PlatGlyphFont;

// One laid-out line of text: its own copy of the text, its width in pixels
// and its place inside the block.
struct FgTextLine {
    std::wstring text;
    int32_t width = 0;
    int32_t x = 0;
    int32_t y = 0;
};

struct FgTextLayout {
    std::vector<FgTextLine> lines;
    int32_t width = 0;   // the widest line
    int32_t height = 0;  // lines x font height
};

constexpr uint32_t kFgFontPages = 512;
constexpr uint32_t kFgPageChars = 128;

class CFgFont {
public:
    CFgFont();
    virtual ~CFgFont();
    CFgFont(const CFgFont&) = delete;
    CFgFont& operator=(const CFgFont&) = delete;

    // Name of the PNG file of each page, with %d for the page number (for
    // example L"page%d.png"); empty for a rasterised font.
    std::wstring pagePattern;
    std::wstring face;         // up to 31 characters; empty fills pages with white
    uint64_t height = 0;
    CFgTexture pages[kFgFontPages];
    CFgFont* source = nullptr;  // pages are copied from this font instead of made here
    CFgScreen* screen = nullptr;
    CriticalSection lock;
    PlatGlyphFont* handle = nullptr;

    // Height below 2 fails; a null face is the default "ＭＳ 明朝".
    int32_t Create(uint64_t height, const wchar_t* face);
    void CopySettings(const CFgFont* other);
    int32_t AttachToScreen(CFgScreen* screen);
    void DetachFromScreen();

    // Both return the advance in pixels.
    int32_t DrawChar(int32_t x, int32_t y, uint32_t code);
    int32_t DrawText(int32_t x, int32_t y, const wchar_t* text);
    int32_t LayoutLines(const wchar_t* text, FgTextLayout* layout) const;

    // Advance of one character and of a text by the half-width rule.
    int32_t CharAdvance(uint32_t code) const;
    int32_t TextWidth(const wchar_t* text) const;

    // Makes page `page` when it does not exist yet; 1 when it exists after.
    int32_t EnsurePage(uint32_t page);
    void ReleasePages();

private:
    int32_t MakePage(uint32_t page);
    int32_t RasterisePage(uint32_t page);
    int32_t LoadPageImage(uint32_t page);
};

// Pixel width of a text at a font height by the half-width rule: height / 2
// per half-width character, height per other character.
int32_t FgTextWidth(const wchar_t* text, uint64_t height);

// Codes above the 16-bit range have no page and draw as U+FFFD.
inline uint32_t FgGlyphCode(uint32_t code) { return code > 0xFFFF ? 0xFFFD : code; }

// The process-wide 14-pixel font with the default face, made on first use
// (null while it cannot be made); never freed.
CFgFont* FgSharedFont();
// Exchanges glyph pages between `font` and the shared font when both have
// the same face and height, so each page is rasterised once per process.
void FgExchangeSharedPages(CFgFont* font);
