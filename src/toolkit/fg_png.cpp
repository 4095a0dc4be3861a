#include "toolkit/fg_png.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/files.h"

namespace {

constexpr png_uint_32 kMaxSide = 16384;

void QuietWarning(png_structp, png_const_charp) {}

// libpng leaves through longjmp on any error: only plain locals may live in
// this frame, so the caller owns the file and the structures.
bool ReadWhole(png_structp png, png_infop info, FILE* file) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_set_sig_bytes(png, 8);
    // The toolkit's pictures are small; a header claiming more is refused
    // before the rows are allocated.
    png_set_user_limits(png, kMaxSide, kMaxSide);
    png_read_png(png, info, PNG_TRANSFORM_STRIP_16 | PNG_TRANSFORM_PACKING, nullptr);
    return true;
}

}  // namespace

CFgPngLoader::~CFgPngLoader() { Free(); }

void CFgPngLoader::Free() {
    if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    png = nullptr;
    info = nullptr;
}

int32_t CFgPngLoader::Load(const wchar_t* path) {
    Free();
    if (!path) return 0;
    char* name = FgWideToAnsi(path);
    FILE* file = name && name[0] && std::strlen(name) <= 1023 ? std::fopen(name, "rb") : nullptr;
    std::free(name);
    if (!file) return 0;
    png_byte signature[8];
    if (std::fread(signature, 1, 8, file) != 8 || png_sig_cmp(signature, 0, 8) != 0) {
        std::fclose(file);
        return 0;
    }
    png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, QuietWarning);
    if (png) info = png_create_info_struct(png);
    bool ok = png && info && ReadWhole(png, info, file);
    std::fclose(file);
    if (!ok) {
        Free();
        return 0;
    }
    return 1;
}

uint32_t CFgPngLoader::Width() const { return png && info ? png_get_image_width(png, info) : 0; }
uint32_t CFgPngLoader::Height() const { return png && info ? png_get_image_height(png, info) : 0; }

int32_t CFgPngLoader::CopyRgba(uint8_t* destination, uint64_t size) const {
    if (!png || !info || !destination) return 0;
    const uint64_t width = png_get_image_width(png, info);
    const uint64_t height = png_get_image_height(png, info);
    if (size != 0 && size < width * height * 4) return 0;
    const int type = png_get_color_type(png, info);
    png_bytepp rows = png_get_rows(png, info);
    if (!rows) return 0;
    png_colorp palette = nullptr;
    int paletteCount = 0;
    if (type == PNG_COLOR_TYPE_PALETTE && png_get_PLTE(png, info, &palette, &paletteCount) != PNG_INFO_PLTE)
        paletteCount = 0;
    if (type != PNG_COLOR_TYPE_GRAY && type != PNG_COLOR_TYPE_RGB && type != PNG_COLOR_TYPE_PALETTE &&
        type != PNG_COLOR_TYPE_GRAY_ALPHA && type != PNG_COLOR_TYPE_RGBA)
        return 0;
    uint8_t* out = destination;
    for (uint64_t y = 0; y < height; ++y) {
        const png_bytep row = rows[y];
        switch (type) {
        case PNG_COLOR_TYPE_GRAY:
            for (uint64_t x = 0; x < width; ++x, out += 4) {
                out[0] = out[1] = out[2] = row[x];
                out[3] = 255;
            }
            break;
        case PNG_COLOR_TYPE_RGB:
            for (uint64_t x = 0; x < width; ++x, out += 4) {
                out[0] = row[3 * x];
                out[1] = row[3 * x + 1];
                out[2] = row[3 * x + 2];
                out[3] = 255;
            }
            break;
        case PNG_COLOR_TYPE_PALETTE:
            // An index beyond the palette shows as opaque black.
            for (uint64_t x = 0; x < width; ++x, out += 4) {
                const bool inside = row[x] < paletteCount;
                out[0] = inside ? palette[row[x]].red : 0;
                out[1] = inside ? palette[row[x]].green : 0;
                out[2] = inside ? palette[row[x]].blue : 0;
                out[3] = 255;
            }
            break;
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            for (uint64_t x = 0; x < width; ++x, out += 4) {
                out[0] = out[1] = out[2] = row[2 * x];
                out[3] = row[2 * x + 1];
            }
            break;
        default:
            std::memcpy(out, row, width * 4);
            out += width * 4;
            break;
        }
    }
    return 1;
}
