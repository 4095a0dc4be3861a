// PNG images of the toolkit (glyph pages drawn as pictures, icons): read
// through libpng's whole-image interface and handed out as RGBA pixels.
#pragma once

#include <cstdint>

#include <png.h>

class CFgPngLoader {
public:
    CFgPngLoader() = default;
    ~CFgPngLoader();
    CFgPngLoader(const CFgPngLoader&) = delete;
    CFgPngLoader& operator=(const CFgPngLoader&) = delete;

    // Reads the whole image; frees the previous one first. 0 on any failure
    // (missing file, no PNG signature, corrupt or truncated data), in which
    // case no image is held.
    int32_t Load(const wchar_t* path);
    // Writes width x height RGBA pixels, tightly packed. `size` (0 = the
    // caller guarantees the room) must cover width x height x 4 bytes.
    int32_t CopyRgba(uint8_t* destination, uint64_t size) const;
    uint32_t Width() const;
    uint32_t Height() const;
    void Free();

    png_structp png = nullptr;
    png_infop info = nullptr;
};
