// PNG still files through libpng. The whole image is decoded at open and
// converted to the facade's layout on read; a written file is complete after
// its one frame. Library errors leave through libpng's long jump to the
// recovery point set by the glue function that made the call; the functions
// that set one keep no objects with destructors and no locals that change
// after setjmp.
#include <sys/stat.h>

#include <bit>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <png.h>

#include "media/codec_formats.h"

struct CodecPngReader {
    png_structp png;
    png_infop info;
    FILE* stream;
    int bit_depth;
    int color_type;
    uint8_t* pixels;  // decoded rows, `row_bytes` apart
    size_t row_bytes;
    png_bytep* rows;
};

struct CodecPngWriter {
    png_structp png;
    png_infop info;
    FILE* stream;
    bool attempted;  // the one frame was handed to the library
    bool written;    // ... and went out whole
};

namespace {

// Errors end in the recovery point; neither errors nor warnings are printed.
[[noreturn]] void PngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWarning(png_structp, png_const_charp) {}

void FreeReader(CodecPngReader* r) {
    png_destroy_read_struct(&r->png, &r->info, nullptr);
    free(r->rows);
    free(r->pixels);
    if (r->stream) fclose(r->stream);
    free(r);
}

// Deflate expands at most 1032 times, so the raw rows (a filter byte and
// the samples of each row) cannot be larger than that multiple of the file.
bool PngSizePlausible(uint64_t height, uint64_t row_bytes, FILE* stream) {
    struct stat st;
    if (fstat(fileno(stream), &st) != 0) return false;
    uint64_t raw;
    if (__builtin_mul_overflow(height, row_bytes + 1, &raw)) return false;
    return raw / 1032u <= static_cast<uint64_t>(st.st_size);
}

// Reads the header, checks the size and decodes every row into the reader's
// block.
bool DecodeImage(CodecPngReader* r) {
    if (setjmp(png_jmpbuf(r->png))) return false;
    png_structp png = r->png;
    png_infop info = r->info;
    png_init_io(png, r->stream);
    png_set_sig_bytes(png, 8);
    png_read_info(png, info);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    r->bit_depth = png_get_bit_depth(png, info);
    r->color_type = png_get_color_type(png, info);
    r->row_bytes = png_get_rowbytes(png, info);
    uint64_t height = png_get_image_height(png, info);
    uint64_t total;
    if (!PngSizePlausible(height, r->row_bytes, r->stream) || __builtin_mul_overflow(height, r->row_bytes, &total))
        png_error(png, "image too large");
    r->pixels = static_cast<uint8_t*>(malloc(total));
    r->rows = static_cast<png_bytep*>(malloc(height * sizeof(png_bytep)));
    if (!r->pixels || !r->rows) png_error(png, "out of memory");
    for (uint64_t y = 0; y < height; ++y) r->rows[y] = r->pixels + y * r->row_bytes;
    png_read_image(png, r->rows);
    png_read_end(png, info);
    return true;
}

// Decodes a file whose 8-bit grey or RGB rows are the facade's rows straight
// into `buffer` (width x height x bytes_per_pixel of `expect`): 1 done, 0 a
// failure, -1 another layout or size, left to the general open and read.
// The stream is read from the start; the caller owns the structs.
int32_t DecodeInto(png_structp png, png_infop info, FILE* stream, const codec_file_info& expect, uint8_t* buffer,
                   png_bytep* rows) {
    if (setjmp(png_jmpbuf(png))) return 0;
    png_init_io(png, stream);
    png_read_info(png, info);
    const int depth = png_get_bit_depth(png, info);
    const int type = png_get_color_type(png, info);
    const uint64_t bpp = type == PNG_COLOR_TYPE_GRAY ? 1 : type == PNG_COLOR_TYPE_RGB ? 3 : 0;
    if (depth != 8 || bpp == 0 || bpp != expect.bytes_per_pixel || png_get_image_width(png, info) != expect.width ||
        png_get_image_height(png, info) != expect.height)
        return -1;
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const uint64_t row_bytes = png_get_rowbytes(png, info);
    if (row_bytes != expect.width * bpp) return -1;
    if (!PngSizePlausible(expect.height, row_bytes, stream)) png_error(png, "image too large");
    for (uint64_t y = 0; y < expect.height; ++y) rows[y] = buffer + y * row_bytes;
    png_read_image(png, rows);
    png_read_end(png, info);
    return 1;
}

uint16_t BigEndian16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

// Stores every `step`-th big-endian 16-bit sample group of `channels` samples.
void Samples16(const uint8_t* src, uint8_t* dest, uint64_t width, unsigned channels, unsigned step) {
    for (uint64_t x = 0; x < width; ++x, src += 2u * step) {
        for (unsigned c = 0; c < channels; ++c, dest += 2) {
            uint16_t v = BigEndian16(src + 2u * c);
            memcpy(dest, &v, 2);
        }
    }
}

void Samples8(const uint8_t* src, uint8_t* dest, uint64_t width, unsigned channels, unsigned step) {
    for (uint64_t x = 0; x < width; ++x, src += step)
        for (unsigned c = 0; c < channels; ++c) *dest++ = src[c];
}

// Sample x of a row packed at `depth` bits (1, 2, 4 or 8), most significant first.
unsigned PackedSample(const uint8_t* row, uint64_t x, int depth) {
    uint64_t bit = x * static_cast<uint64_t>(depth);
    unsigned shift = 8u - static_cast<unsigned>(depth) - static_cast<unsigned>(bit & 7u);
    return (row[bit >> 3] >> shift) & ((1u << depth) - 1u);
}

// Converts one decoded row into the facade's layout; false for a layout
// without a conversion.
bool ConvertRow(const CodecPngReader& r, const uint8_t* src, uint8_t* dest, uint64_t width, png_const_colorp palette,
                int palette_size) {
    const bool wide = r.bit_depth == 16;
    switch (r.color_type) {
    case PNG_COLOR_TYPE_GRAY:
        if (wide) {
            Samples16(src, dest, width, 1, 1);
        } else if (r.bit_depth == 8) {
            memcpy(dest, src, width);
        } else {
            const unsigned scale = 255u / ((1u << r.bit_depth) - 1u);
            for (uint64_t x = 0; x < width; ++x)
                dest[x] = static_cast<uint8_t>(PackedSample(src, x, r.bit_depth) * scale);
        }
        return true;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        wide ? Samples16(src, dest, width, 1, 2) : Samples8(src, dest, width, 1, 2);
        return true;
    case PNG_COLOR_TYPE_RGB:
        if (wide) {
            Samples16(src, dest, width, 3, 3);
        } else {
            memcpy(dest, src, width * 3u);
        }
        return true;
    case PNG_COLOR_TYPE_RGB_ALPHA:
        wide ? Samples16(src, dest, width, 3, 4) : Samples8(src, dest, width, 3, 4);
        return true;
    case PNG_COLOR_TYPE_PALETTE:
        for (uint64_t x = 0; x < width; ++x, dest += 3) {
            unsigned index = PackedSample(src, x, r.bit_depth);
            if (palette && index < static_cast<unsigned>(palette_size)) {
                dest[0] = palette[index].red;
                dest[1] = palette[index].green;
                dest[2] = palette[index].blue;
            } else {
                dest[0] = dest[1] = dest[2] = 0;
            }
        }
        return true;
    }
    return false;
}

bool CreateWriteStructs(CodecPngWriter* w, const codec_file_info& info) {
    w->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
    if (!w->png) return false;
    w->info = png_create_info_struct(w->png);
    if (!w->info) return false;
    if (setjmp(png_jmpbuf(w->png))) return false;
    png_init_io(w->png, w->stream);
    const bool wide = info.bytes_per_pixel == 2 || info.bytes_per_pixel == 6;
    const bool grey = info.bytes_per_pixel <= 2;
    png_set_IHDR(w->png, w->info, static_cast<png_uint_32>(info.width), static_cast<png_uint_32>(info.height),
                 wide ? 16 : 8, grey ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    return true;
}

bool WriteImage(CodecPngWriter* w, png_bytepp rows, int transforms) {
    if (setjmp(png_jmpbuf(w->png))) return false;
    png_set_rows(w->png, w->info, rows);
    png_write_png(w->png, w->info, transforms, nullptr);
    return true;
}

}  // namespace

int32_t codec_png_open(codec_file* file, const char* path) {
    FILE* stream = fopen(path, "rb");
    if (!stream) return 0;
    png_byte signature[8];
    if (fread(signature, 1, 8, stream) != 8) {
        fputs("png:Can't read sig.\n", stderr);
        fclose(stream);
        return 0;
    }
    if (png_sig_cmp(signature, 0, 8) != 0) {
        fputs("png:Bad sig.\n", stderr);
        fclose(stream);
        return 0;
    }
    CodecPngReader* r = static_cast<CodecPngReader*>(calloc(1, sizeof(CodecPngReader)));
    if (!r) {
        fclose(stream);
        return 0;
    }
    r->stream = stream;
    r->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
    if (r->png) r->info = png_create_info_struct(r->png);
    if (!r->info || !DecodeImage(r)) {
        FreeReader(r);
        return 0;
    }
    const bool wide = r->bit_depth == 16;
    uint64_t bpp;
    switch (r->color_type) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_GRAY_ALPHA: bpp = wide ? 2 : 1; break;
    case PNG_COLOR_TYPE_RGB:
    case PNG_COLOR_TYPE_RGB_ALPHA: bpp = wide ? 6 : 3; break;
    default: bpp = 3; break;  // palette
    }
    file->info.image_count = 1;
    file->info.frame_count = 1;
    file->info.width = png_get_image_width(r->png, r->info);
    file->info.height = png_get_image_height(r->png, r->info);
    file->info.bytes_per_pixel = bpp;
    file->png_reader = r;
    return 1;
}

int32_t codec_png_read_into(const char* path, const codec_file_info* expect, void* buffer) {
    if (!path || !expect || !buffer || expect->height == 0 || expect->height > PNG_UINT_31_MAX) return -1;
    FILE* stream = fopen(path, "rb");
    if (!stream) return -1;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    png_bytep* rows = static_cast<png_bytep*>(malloc(expect->height * sizeof(png_bytep)));
    const int32_t result =
        info && rows ? DecodeInto(png, info, stream, *expect, static_cast<uint8_t*>(buffer), rows) : -1;
    free(rows);
    png_destroy_read_struct(&png, &info, nullptr);
    fclose(stream);
    return result;
}

int32_t codec_png_read(codec_file* file, uint64_t image, uint64_t first, uint64_t count, void* buffer) {
    CodecPngReader* r = file->png_reader;
    if (!r || image != 0 || first != 0 || count > 1) return 0;
    if (count == 0) return 1;
    png_colorp palette = nullptr;
    int palette_size = 0;
    if (r->color_type == PNG_COLOR_TYPE_PALETTE) png_get_PLTE(r->png, r->info, &palette, &palette_size);
    const uint64_t width = file->info.width;
    const uint64_t stride = width * file->info.bytes_per_pixel;
    uint8_t* dest = static_cast<uint8_t*>(buffer);
    for (uint64_t y = 0; y < file->info.height; ++y, dest += stride)
        if (!ConvertRow(*r, r->rows[y], dest, width, palette, palette_size)) return 0;
    return 1;
}

int32_t codec_png_create(codec_file* file, const char* path) {
    const codec_file_info& info = file->info;
    const uint64_t bpp = info.bytes_per_pixel;
    if (info.frame_count != 1 || (bpp != 1 && bpp != 2 && bpp != 3 && bpp != 6)) return 0;
    if (info.width > PNG_UINT_31_MAX || info.height > PNG_UINT_31_MAX) return 0;
    CodecPngWriter* w = static_cast<CodecPngWriter*>(calloc(1, sizeof(CodecPngWriter)));
    if (!w) return 0;
    w->stream = fopen(path, "wb");
    if (w->stream && CreateWriteStructs(w, info)) {
        file->png_writer = w;
        return 1;
    }
    png_destroy_write_struct(&w->png, &w->info);
    if (w->stream) fclose(w->stream);
    free(w);
    return 0;
}

int32_t codec_png_write(codec_file* file, uint64_t, uint64_t, const void* buffer) {
    CodecPngWriter* w = file->png_writer;
    // The file holds one picture, written in one go.
    if (!w || w->attempted) return 0;
    const codec_file_info& info = file->info;
    png_bytepp rows = static_cast<png_bytepp>(malloc(info.height * sizeof(png_bytep)));
    if (!rows) return 0;
    // libpng copies each row before transforming it, so the caller's pixels
    // are only read.
    const uint64_t stride = info.width * info.bytes_per_pixel;
    png_bytep pixels = const_cast<png_bytep>(static_cast<const png_byte*>(buffer));
    for (uint64_t y = 0; y < info.height; ++y) rows[y] = pixels + y * stride;
    const bool wide = info.bytes_per_pixel == 2 || info.bytes_per_pixel == 6;
    const int transforms =
        wide && std::endian::native == std::endian::little ? PNG_TRANSFORM_SWAP_ENDIAN : PNG_TRANSFORM_IDENTITY;
    w->attempted = true;
    w->written = WriteImage(w, rows, transforms);
    free(rows);
    return w->written ? 1 : 0;
}

int32_t codec_png_close(codec_file* file) {
    int32_t result = 1;
    if (CodecPngReader* r = file->png_reader) {
        FreeReader(r);
        file->png_reader = nullptr;
    }
    if (CodecPngWriter* w = file->png_writer) {
        png_destroy_write_struct(&w->png, &w->info);
        // The buffered end of the file reaches the disk only here.
        if (fclose(w->stream) != 0 || !w->written) result = 0;
        free(w);
        file->png_writer = nullptr;
    }
    return result;
}
