// FreeType + fontconfig stand-in for drawing characters into a memory bitmap.
#include "platform/plat_glyph.h"

#include "platform/utf8.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

// One FreeType library for the process; FreeType objects are not safe to use
// from two threads at once, so every call runs under this mutex.
std::mutex g_GlyphMutex;
FT_Library g_FtLibrary = nullptr;
bool g_FtTried = false;

FT_Library Library() {
    if (!g_FtTried) {
        g_FtTried = true;
        if (FT_Init_FreeType(&g_FtLibrary) != 0) g_FtLibrary = nullptr;
    }
    return g_FtLibrary;
}

// The Windows Japanese faces have free counterparts of the same design.
std::string FamilyFor(const wchar_t* face) {
    std::string name = PlatWideToUtf8(face);
    if (name.empty() || name == "ＭＳ 明朝" || name == "MS Mincho" || name == "ＭＳ Ｐ明朝") return "IPAMincho";
    if (name == "ＭＳ ゴシック" || name == "MS Gothic" || name == "ＭＳ Ｐゴシック") return "IPAGothic";
    return name;
}

// Path and face index of the installed font that fontconfig matches best.
// With a code point, only fonts that hold that character are considered.
bool MatchFile(const std::string& family, uint32_t code, std::string* file, int* index) {
    if (!FcInit()) return false;
    FcPattern* pattern = FcPatternCreate();
    if (!pattern) return false;
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    if (code) {
        FcCharSet* set = FcCharSetCreate();
        if (set) {
            FcCharSetAddChar(set, code);
            FcPatternAddCharSet(pattern, FC_CHARSET, set);
            FcCharSetDestroy(set);
        }
    }
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (!match) return false;
    FcChar8* path = nullptr;
    bool ok = FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path;
    if (ok) {
        *file = reinterpret_cast<const char*>(path);
        if (FcPatternGetInteger(match, FC_INDEX, 0, index) != FcResultMatch) *index = 0;
    }
    FcPatternDestroy(match);
    return ok;
}

}  // namespace

// A sized face and the row of its base line below the cell top.
struct SizedFace {
    std::string file;
    FT_Face face = nullptr;
    int32_t baseline = 0;
};

struct PlatGlyphFont {
    std::string family;
    int32_t height = 0;
    SizedFace main;
    // Faces that stood in for characters the main face lacks, as Windows
    // links fonts; each file is opened once.
    std::vector<SizedFace> fallbacks;
    std::unordered_set<uint32_t> missing;  // characters no installed font holds
};

namespace {

// Sizes `face` so that its ascent plus descent fill `height` pixels, as a
// Windows font of that cell height does; returns the base line row.
int32_t SizeFace(FT_Face face, int32_t height) {
    int32_t ascent = face->ascender;
    int32_t descent = -face->descender;
    if (const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2))) {
        if (os2->usWinAscent + os2->usWinDescent > 0) {
            ascent = os2->usWinAscent;
            descent = os2->usWinDescent;
        }
    }
    int32_t units = ascent + descent;
    if (units <= 0) {
        ascent = face->units_per_EM;
        units = face->units_per_EM;
    }
    uint32_t ppem = static_cast<uint32_t>(std::max<int64_t>(1, (int64_t{height} * face->units_per_EM + units / 2) / units));
    if (FT_Set_Pixel_Sizes(face, 0, ppem) != 0) return -1;
    return static_cast<int32_t>((int64_t{ascent} * height + units / 2) / units);
}

bool OpenFace(const std::string& file, int index, int32_t height, SizedFace* out) {
    FT_Face face = nullptr;
    if (FT_New_Face(Library(), file.c_str(), index, &face) != 0) return false;
    const int32_t baseline = SizeFace(face, height);
    if (baseline < 0) {
        FT_Done_Face(face);
        return false;
    }
    *out = {file, face, baseline};
    return true;
}

// The face that draws `code`: the main face, else a font that fontconfig
// finds holding the character (Latin default DejaVu first); null for none.
const SizedFace* FaceFor(PlatGlyphFont* font, uint32_t code) {
    if (FT_Get_Char_Index(font->main.face, code) != 0) return &font->main;
    for (const SizedFace& f : font->fallbacks)
        if (FT_Get_Char_Index(f.face, code) != 0) return &f;
    if (font->missing.count(code)) return nullptr;
    std::string file;
    int index = 0;
    if (MatchFile(code < 0x2E80 ? "DejaVu Sans" : font->family, code, &file, &index)) {
        bool known = file == font->main.file;
        for (const SizedFace& f : font->fallbacks) known = known || f.file == file;
        SizedFace face;
        if (!known && OpenFace(file, index, font->height, &face)) {
            font->fallbacks.push_back(face);
            if (FT_Get_Char_Index(face.face, code) != 0) return &font->fallbacks.back();
        }
    }
    font->missing.insert(code);
    return nullptr;
}

}  // namespace

PlatGlyphFont* PlatGlyphOpen(const wchar_t* face, int32_t height) {
    if (height < 1) return nullptr;
    std::lock_guard<std::mutex> lock(g_GlyphMutex);
    if (!Library()) return nullptr;
    auto* font = new PlatGlyphFont;
    font->height = height;
    font->family = FamilyFor(face);
    std::string file;
    int index = 0;
    if (!MatchFile(font->family, 0, &file, &index) || !OpenFace(file, index, height, &font->main)) {
        delete font;
        return nullptr;
    }
    return font;
}

void PlatGlyphClose(PlatGlyphFont* font) {
    if (!font) return;
    std::lock_guard<std::mutex> lock(g_GlyphMutex);
    FT_Done_Face(font->main.face);
    for (SizedFace& f : font->fallbacks) FT_Done_Face(f.face);
    delete font;
}

namespace {

// Coverage 0..255 of column c in row r of a rendered glyph.
uint8_t Coverage(const FT_Bitmap& bm, uint32_t r, uint32_t c) {
    const uint8_t* src = bm.buffer + static_cast<ptrdiff_t>(r) * bm.pitch;
    return bm.pixel_mode == FT_PIXEL_MODE_GRAY ? src[c] : ((src[c >> 3] >> (7 - (c & 7))) & 1) ? 255 : 0;
}

// Renders `code` into the glyph slot of its face; null when no installed
// font has the character or it has no coverage image. Under g_GlyphMutex.
const FT_GlyphSlotRec* LoadGlyph(PlatGlyphFont* font, uint32_t code, int32_t* baseline, bool* failed) {
    *failed = false;
    // Control characters have no glyph in any font: no need to look for one.
    if (code < 0x20 || (code >= 0x7F && code < 0xA0)) return nullptr;
    const SizedFace* sized = FaceFor(font, code);
    if (!sized) return nullptr;
    FT_Face face = sized->face;
    if (FT_Load_Char(face, code, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) != 0) {
        *failed = true;
        return nullptr;
    }
    const FT_Bitmap& bm = face->glyph->bitmap;
    if (bm.pixel_mode != FT_PIXEL_MODE_GRAY && bm.pixel_mode != FT_PIXEL_MODE_MONO) return nullptr;
    *baseline = sized->baseline;
    return face->glyph;
}

// First row or column of a glyph `size` pixels long that starts at `at`:
// moved into the cell of `length` pixels when it would stick out, towards
// the start when it is longer than the cell.
int32_t FitInto(int32_t at, uint32_t size, int32_t length) {
    const int64_t last = static_cast<int64_t>(at) + size;
    if (last > length) at = static_cast<int32_t>(std::max<int64_t>(0, length - static_cast<int64_t>(size)));
    return std::max(at, 0);
}

}  // namespace

int32_t PlatGlyphRender(PlatGlyphFont* font, uint32_t code, uint8_t* cell, int32_t width, int32_t height,
                        int32_t pitch) {
    if (!font || !cell || width < 1 || height < 1 || pitch < width) return 0;
    for (int32_t y = 0; y < height; ++y) std::memset(cell + static_cast<size_t>(y) * pitch, 0, width);
    std::lock_guard<std::mutex> lock(g_GlyphMutex);
    int32_t baseline = 0;
    bool failed = false;
    const FT_GlyphSlotRec* glyph = LoadGlyph(font, code, &baseline, &failed);
    if (!glyph) return failed ? 0 : 1;
    const FT_Bitmap& bm = glyph->bitmap;
    // Some glyphs rise above the face's ascent or reach below its descent
    // (accents on capitals, overlines, tall kanji at small sizes): they are
    // moved into the cell rather than cut.
    const int32_t top = FitInto(baseline - glyph->bitmap_top, bm.rows, height);
    const int32_t left = FitInto(glyph->bitmap_left, bm.width, width);
    for (uint32_t r = 0; r < bm.rows; ++r) {
        int32_t y = top + static_cast<int32_t>(r);
        if (y >= height) break;
        uint8_t* dst = cell + static_cast<size_t>(y) * pitch;
        for (uint32_t c = 0; c < bm.width; ++c) {
            int32_t x = left + static_cast<int32_t>(c);
            if (x >= width) break;
            dst[x] = std::max(dst[x], Coverage(bm, r, c));
        }
    }
    return 1;
}

uint64_t PlatGlyphInkForTesting(PlatGlyphFont* font, uint32_t code) {
    if (!font) return 0;
    std::lock_guard<std::mutex> lock(g_GlyphMutex);
    int32_t baseline = 0;
    bool failed = false;
    const FT_GlyphSlotRec* glyph = LoadGlyph(font, code, &baseline, &failed);
    if (!glyph) return 0;
    uint64_t sum = 0;
    for (uint32_t r = 0; r < glyph->bitmap.rows; ++r)
        for (uint32_t c = 0; c < glyph->bitmap.width; ++c) sum += Coverage(glyph->bitmap, r, c);
    return sum;
}

#if defined(__SANITIZE_ADDRESS__)
// fontconfig's configuration parser keeps one allocation per process out of
// reach; the leak checker of sanitizer builds is told to ignore it.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
#endif
