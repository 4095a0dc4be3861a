#include "toolkit/fg_font.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <memory>
#include <vector>

#include "platform/plat_glyph.h"
#include "toolkit/fg_png.h"
#include "toolkit/fg_screen.h"
#include "toolkit/fg_text_columns.h"

namespace {

constexpr wchar_t kDefaultFace[] = L"ＭＳ 明朝";
constexpr uint32_t kPageColumns = 16;
constexpr uint32_t kPageRows = 8;

CriticalSection g_SharedFontLock;
CFgFont* g_SharedFont = nullptr;

}  // namespace

CFgFont::CFgFont() = default;

CFgFont::~CFgFont() {
    ReleasePages();
    if (handle) PlatGlyphClose(handle);
}

void CFgFont::ReleasePages() {
    // The GL lock comes before the font's own lock on every path, as pages take it.
    CriticalSectionLock gl(g_GlLock);
    CriticalSectionLock own(lock);
    for (auto& page : pages) {
        page.ReleaseGl();
        page.Clear();
    }
}

int32_t CFgFont::Create(uint64_t newHeight, const wchar_t* newFace) {
    CriticalSectionLock gl(g_GlLock);
    CriticalSectionLock own(lock);
    ReleasePages();
    if (handle) PlatGlyphClose(handle);
    handle = nullptr;
    height = 0;
    if (newHeight < 2) return 0;
    std::wstring name = newFace ? newFace : kDefaultFace;
    if (name.size() > 31) name.resize(31);
    // An empty face needs no rasteriser: its pages are plain white.
    if (!name.empty() && pagePattern.empty()) {
        handle = PlatGlyphOpen(name.c_str(), static_cast<int32_t>(newHeight));
        if (!handle) return 0;
    }
    face = name;
    height = newHeight;
    return 1;
}

void CFgFont::CopySettings(const CFgFont* other) {
    if (!other || other == this) return;
    CriticalSectionLock gl(g_GlLock);
    CriticalSectionLock own(lock);
    pagePattern = other->pagePattern;
    Create(other->height, other->face.c_str());
}

int32_t CFgFont::AttachToScreen(CFgScreen* target) {
    CriticalSectionLock gl(g_GlLock);
    CriticalSectionLock own(lock);
    if (!target || height == 0) return 0;
    if (screen) return screen == target ? 1 : 0;
    screen = target;
    for (auto& page : pages) {
        if (page.pixels && !page.AttachToScreen(target)) {
            DetachFromScreen();
            return 0;
        }
    }
    return 1;
}

void CFgFont::DetachFromScreen() {
    CriticalSectionLock gl(g_GlLock);
    CriticalSectionLock own(lock);
    for (auto& page : pages) page.ReleaseGl();
    screen = nullptr;
}

int32_t CFgFont::CharAdvance(uint32_t code) const {
    const int32_t h = static_cast<int32_t>(height);
    return FgIsHalfWidth(static_cast<wchar_t>(FgGlyphCode(code))) ? h / 2 : h;
}

int32_t CFgFont::TextWidth(const wchar_t* text) const { return FgTextWidth(text, height); }

int32_t FgTextWidth(const wchar_t* text, uint64_t height) {
    const int32_t h = static_cast<int32_t>(height);
    int32_t width = 0;
    for (; text && *text; ++text)
        width += FgIsHalfWidth(static_cast<wchar_t>(FgGlyphCode(static_cast<uint32_t>(*text)))) ? h / 2 : h;
    return width;
}

int32_t CFgFont::EnsurePage(uint32_t page) {
    if (page >= kFgFontPages) return 0;
    CriticalSectionLock gl(g_GlLock);
    CriticalSectionLock own(lock);
    if (pages[page].pixels) return 1;
    if (height == 0 || !MakePage(page)) {
        pages[page].ReleaseGl();
        pages[page].Clear();
        return 0;
    }
    if (screen && !pages[page].AttachToScreen(screen)) {
        pages[page].Clear();
        return 0;
    }
    return 1;
}

int32_t CFgFont::MakePage(uint32_t page) {
    const uint64_t cellWidth = page == 0 ? height / 2 : height;
    CFgTexture& tex = pages[page];
    if (!tex.Create(cellWidth, height, kPageColumns, kPageRows, 1, nullptr)) return 0;
    tex.tinted = 1;
    if (source && source != this) {
        if (!source->EnsurePage(page)) return 0;
        CriticalSectionLock other(source->lock);
        if (source->pages[page].byteSize != tex.byteSize) return 0;
        std::memcpy(tex.pixels, source->pages[page].pixels, tex.byteSize);
        return 1;
    }
    if (!pagePattern.empty()) return LoadPageImage(page);
    if (face.empty()) {
        std::memset(tex.pixels, 255, tex.byteSize);
        return 1;
    }
    return RasterisePage(page);
}

// Reads the page's PNG and copies as much of it as fits into the page; a
// picture of another size is cut or leaves the rest of the page empty.
int32_t CFgFont::LoadPageImage(uint32_t page) {
    wchar_t name[1024];
    if (std::swprintf(name, 1024, pagePattern.c_str(), static_cast<int>(page)) < 0) return 0;
    CFgPngLoader png;
    if (!png.Load(name)) return 0;
    const uint64_t width = png.Width();
    const uint64_t rowsInImage = png.Height();
    std::vector<uint8_t> rgba;
    rgba.resize(width * rowsInImage * 4);
    if (rgba.empty() || !png.CopyRgba(rgba.data(), rgba.size())) return 0;
    CFgTexture& tex = pages[page];
    const uint64_t copyWidth = std::min(width, tex.cellWidth * tex.columns);
    const uint64_t copyRows = std::min(rowsInImage, tex.cellHeight * tex.rows);
    for (uint64_t y = 0; y < copyRows; ++y)
        std::memcpy(tex.pixels + y * tex.RowBytes(), rgba.data() + y * width * 4, copyWidth * 4);
    return 1;
}

// Draws each character of the page into a grey cell and spreads its
// coverage into all four bytes of the cell's texels (alpha = coverage).
int32_t CFgFont::RasterisePage(uint32_t page) {
    if (!handle) return 0;
    CFgTexture& tex = pages[page];
    const int32_t cw = static_cast<int32_t>(tex.cellWidth);
    const int32_t ch = static_cast<int32_t>(tex.cellHeight);
    std::vector<uint8_t> cell(static_cast<size_t>(cw) * ch);
    for (uint32_t r = 0; r < kPageRows; ++r) {
        for (uint32_t c = 0; c < kPageColumns; ++c) {
            const uint32_t code = kFgPageChars * page + kPageColumns * r + c;
            if (!PlatGlyphRender(handle, code, cell.data(), cw, ch, cw)) return 0;
            for (int32_t y = 0; y < ch; ++y) {
                uint8_t* dst = tex.pixels + (static_cast<uint64_t>(r) * ch + y) * tex.RowBytes() +
                               static_cast<uint64_t>(c) * cw * 4;
                const uint8_t* src = cell.data() + static_cast<size_t>(y) * cw;
                for (int32_t x = 0; x < cw; ++x, dst += 4) dst[0] = dst[1] = dst[2] = dst[3] = src[x];
            }
        }
    }
    return 1;
}

int32_t CFgFont::DrawChar(int32_t x, int32_t y, uint32_t code) {
    if (!screen || height == 0) return 0;
    code = FgGlyphCode(code);
    const uint32_t page = code / kFgPageChars;
    if (!EnsurePage(page)) return 0;
    pages[page].DrawCell(x, y, 0, 0, code % kFgPageChars);
    return CharAdvance(code);
}

int32_t CFgFont::DrawText(int32_t x, int32_t y, const wchar_t* text) {
    int32_t advance = 0;
    for (; text && *text; ++text) advance += DrawChar(x + advance, y, static_cast<uint32_t>(*text));
    return advance;
}

int32_t CFgFont::LayoutLines(const wchar_t* text, FgTextLayout* layout) const {
    if (!layout) return 0;
    layout->lines.clear();
    layout->width = 0;
    const int32_t fh = static_cast<int32_t>(height);
    const wchar_t* start = text ? text : L"";
    for (;;) {
        const wchar_t* end = start;
        while (*end && *end != L'\n') ++end;
        FgTextLine line;
        line.text.assign(start, end);
        line.width = TextWidth(line.text.c_str());
        line.y = static_cast<int32_t>(layout->lines.size()) * fh;
        layout->width = std::max(layout->width, line.width);
        layout->lines.push_back(std::move(line));
        if (!*end) break;
        start = end + 1;
    }
    layout->height = static_cast<int32_t>(layout->lines.size()) * fh;
    return static_cast<int32_t>(layout->lines.size());
}

CFgFont* FgSharedFont() {
    // Creating the font takes the GL lock, which always comes first.
    CriticalSectionLock gl(g_GlLock);
    CriticalSectionLock shared(g_SharedFontLock);
    if (!g_SharedFont) {
        auto font = std::make_unique<CFgFont>();
        if (font->Create(14, nullptr)) g_SharedFont = font.release();
    }
    return g_SharedFont;
}

void FgExchangeSharedPages(CFgFont* font) {
    CFgFont* shared = FgSharedFont();
    if (!font || !shared || font == shared) return;
    CriticalSectionLock gl(g_GlLock);
    CriticalSectionLock sharedLock(g_SharedFontLock);
    if (font->height != shared->height || font->face != shared->face || !font->pagePattern.empty() ||
        font->source)
        return;
    CriticalSectionLock own(font->lock);
    for (uint32_t p = 0; p < kFgFontPages; ++p) {
        CFgTexture& mine = font->pages[p];
        CFgTexture& theirs = shared->pages[p];
        if (theirs.pixels && !mine.pixels) {
            if (mine.CopyFrom(&theirs) && font->screen) mine.AttachToScreen(font->screen);
        } else if (mine.pixels && !theirs.pixels) {
            theirs.CopyFrom(&mine);
        }
    }
}
