// In-memory JPEG and PNG frames. JPEG errors leave through the recovery
// wrapper shared with the still codec; PNG errors through libpng's long jump
// to the recovery point of the helper that made the call. Those helpers
// keep everything they allocate in a context owned by their caller, which
// frees it on both roads.
#include "media/codec_mem.h"

#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jerror.h>

#include "media/codec_avi.h"
#include "media/jpeg_recovery.h"

namespace {

// ---- JPEG ----------------------------------------------------------------

bool OutputComponentsAre(const jpeg_decompress_struct& c, uint32_t components) {
    if (components == 1) return c.out_color_space == JCS_GRAYSCALE && c.output_components == 1;
    if (components == 3) return c.out_color_space == JCS_RGB && c.output_components == 3;
    return false;
}

// Reads the header into a decompressor created by the caller.
void ReadJpegHeader(jpeg_decompress_struct& c, const uint8_t* data, uint64_t size) {
    jpeg_mem_src(&c, data, static_cast<unsigned long>(size));
    jpeg_read_header(&c, TRUE);
    jpeg_calc_output_dimensions(&c);
}

// Creates a decompressor, runs `work` on it behind the recovery point and
// destroys it; false on a library error or when `work` says so.
template <class Work>
bool WithDecompressor(Work work) {
    jpeg_error_mgr error;
    jpeg_decompress_struct c;
    c.err = JpegErrorManager(&error);
    j_common_ptr common = reinterpret_cast<j_common_ptr>(&c);
    bool wanted = false;
    bool ok = JpegGuarded(common, [&]() { jpeg_create_decompress(&c); }) &&
              JpegGuarded(common, [&]() { wanted = work(c); });
    jpeg_destroy_decompress(&c);
    return ok && wanted;
}

// Growing memory destination: the buffer is the caller's (realloc'd here),
// so that it is freed on every road.
struct JpegMemDest {
    jpeg_destination_mgr pub;
    uint8_t* buffer;
    size_t capacity;
    size_t size;
};

void JpegDestInit(j_compress_ptr c) {
    JpegMemDest* d = reinterpret_cast<JpegMemDest*>(c->dest);
    d->pub.next_output_byte = d->buffer;
    d->pub.free_in_buffer = d->capacity;
}

boolean JpegDestEmpty(j_compress_ptr c) {
    JpegMemDest* d = reinterpret_cast<JpegMemDest*>(c->dest);
    const size_t used = d->capacity;
    uint8_t* more = static_cast<uint8_t*>(realloc(d->buffer, used * 2));
    if (!more) ERREXIT(c, JERR_OUT_OF_MEMORY);
    d->buffer = more;
    d->capacity = used * 2;
    d->pub.next_output_byte = more + used;
    d->pub.free_in_buffer = d->capacity - used;
    return TRUE;
}

void JpegDestTerm(j_compress_ptr c) {
    JpegMemDest* d = reinterpret_cast<JpegMemDest*>(c->dest);
    d->size = d->capacity - d->pub.free_in_buffer;
}

// True when entry v of the palette has R = v for every v.
bool PaletteRedIsIdentity(const AviStream& s) {
    for (int v = 0; v < 256; ++v)
        if (s.palette[v].r != v) return false;
    return true;
}

// One input row of an 8-bit stream through its palette: grey streams take
// R, others R, G, B.
void MapRow(const AviStream& s, const uint8_t* in, uint8_t* out) {
    if (s.grey) {
        for (uint32_t x = 0; x < s.width; ++x) out[x] = s.palette[in[x]].r;
    } else {
        for (uint32_t x = 0; x < s.width; ++x, out += 3) {
            const AviRgb& c = s.palette[in[x]];
            out[0] = c.r;
            out[1] = c.g;
            out[2] = c.b;
        }
    }
}

// Components of the compressed picture, and whether input rows must pass
// through the palette first.
uint32_t EncodedComponents(const AviStream& s) { return s.grey ? 1u : 3u; }
bool RowsNeedMapping(const AviStream& s) { return s.bit_count == 8 && !(s.grey && PaletteRedIsIdentity(s)); }

// ---- PNG -----------------------------------------------------------------

// What a PNG helper allocates, freed by its caller.
struct PngWork {
    png_structp png;
    png_infop info;
    CodecPngMemState state;
    png_bytep* rows;
    uint8_t* image;  // decoded rows that need converting
};

void FreePngRead(PngWork& w) {
    png_destroy_read_struct(&w.png, &w.info, nullptr);
    free(w.rows);
    free(w.image);
}

bool CreatePngRead(PngWork& w, const uint8_t* data, uint64_t size) {
    if (!data || size <= 8) return false;
    // The library only reads through the callback.
    w.state = CodecPngMemState{const_cast<uint8_t*>(data), size, 8};
    w.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!w.png) return false;
    w.info = png_create_info_struct(w.png);
    if (!w.info) return false;
    png_set_read_fn(w.png, &w.state, codec_png_mem_read);
    png_set_sig_bytes(w.png, 8);
    return true;
}

bool ReadPngHeader(PngWork& w, int* colour_type, int* bit_depth) {
    if (setjmp(png_jmpbuf(w.png))) return false;
    png_read_info(w.png, w.info);
    *colour_type = png_get_color_type(w.png, w.info);
    *bit_depth = png_get_bit_depth(w.png, w.info);
    return true;
}

bool ColourTypeFits(int colour_type, uint32_t channels) {
    if (channels == 1) return colour_type == PNG_COLOR_TYPE_GRAY || colour_type == PNG_COLOR_TYPE_GRAY_ALPHA;
    return colour_type == PNG_COLOR_TYPE_RGB || colour_type == PNG_COLOR_TYPE_RGB_ALPHA ||
           colour_type == PNG_COLOR_TYPE_PALETTE;
}

// Decodes every row after the header. Rows already in the output's layout
// (8-bit grey, 8-bit RGB) go straight into `pixels`; the others are decoded
// whole and converted.
bool DecodePngRows(PngWork& w, uint32_t width, uint32_t height, uint32_t channels, uint8_t* pixels) {
    if (setjmp(png_jmpbuf(w.png))) return false;
    png_structp png = w.png;
    const int colour_type = png_get_color_type(png, w.info);
    png_set_interlace_handling(png);
    png_read_update_info(png, w.info);
    const size_t row_bytes = png_get_rowbytes(png, w.info);
    const size_t out_bytes = static_cast<size_t>(width) * channels;
    const bool direct = row_bytes == out_bytes;
    w.rows = static_cast<png_bytep*>(malloc(sizeof(png_bytep) * height));
    if (!direct) w.image = static_cast<uint8_t*>(malloc(row_bytes * height));
    if (!w.rows || (!direct && !w.image)) png_error(png, "out of memory");
    for (uint32_t y = 0; y < height; ++y)
        w.rows[y] = direct ? pixels + out_bytes * y : w.image + row_bytes * y;
    png_read_image(png, w.rows);
    if (direct) return true;

    png_colorp palette = nullptr;
    int palette_size = 0;
    if (colour_type == PNG_COLOR_TYPE_PALETTE) png_get_PLTE(png, w.info, &palette, &palette_size);
    const unsigned step = colour_type == PNG_COLOR_TYPE_GRAY_ALPHA ? 2 : colour_type == PNG_COLOR_TYPE_RGB_ALPHA ? 4 : 1;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* in = w.rows[y];
        uint8_t* out = pixels + out_bytes * y;
        if (colour_type == PNG_COLOR_TYPE_PALETTE) {
            for (uint32_t x = 0; x < width; ++x, out += 3) {
                const unsigned i = in[x];
                const bool known = palette && i < static_cast<unsigned>(palette_size);
                out[0] = known ? palette[i].red : 0;
                out[1] = known ? palette[i].green : 0;
                out[2] = known ? palette[i].blue : 0;
            }
        } else {
            for (uint32_t x = 0; x < width; ++x, in += step, out += channels) memcpy(out, in, channels);
        }
    }
    return true;
}

bool WritePng(PngWork& w, const AviStream& s, png_bytep pixels) {
    if (setjmp(png_jmpbuf(w.png))) return false;
    const uint32_t channels = EncodedComponents(s);
    png_set_IHDR(w.png, w.info, s.width, s.height, 8, channels == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    w.rows = static_cast<png_bytep*>(malloc(sizeof(png_bytep) * s.height));
    if (!w.rows) png_error(w.png, "out of memory");
    const size_t row_bytes = static_cast<size_t>(s.width) * channels;
    for (uint32_t y = 0; y < s.height; ++y) w.rows[y] = pixels + row_bytes * y;
    png_set_rows(w.png, w.info, w.rows);
    png_write_png(w.png, w.info, PNG_TRANSFORM_IDENTITY, nullptr);
    return true;
}

void PngFlush(png_structp) {}

// The frame's pixels in the layout they are compressed from: the caller's
// pixels, or (8-bit streams with a palette that is not the grey identity)
// a mapped copy left in *copy for the caller to free.
const uint8_t* EncoderInput(const AviStream& s, const uint8_t* pixels, uint8_t** copy) {
    *copy = nullptr;
    if (!RowsNeedMapping(s)) return pixels;
    const size_t out_row = static_cast<size_t>(s.width) * EncodedComponents(s);
    *copy = static_cast<uint8_t*>(malloc(out_row * s.height));
    if (!*copy) return nullptr;
    for (uint32_t y = 0; y < s.height; ++y) MapRow(s, pixels + static_cast<size_t>(s.width) * y, *copy + out_row * y);
    return *copy;
}

}  // namespace

int32_t codec_jpeg_mem_decode_into(uint32_t width, uint32_t height, uint32_t components, const uint8_t* data,
                                   uint64_t size, uint8_t* pixels) {
    if (!data || size == 0 || size > ULONG_MAX || !pixels) return 0;
    return WithDecompressor([&](jpeg_decompress_struct& c) {
        ReadJpegHeader(c, data, size);
        if (c.output_width != width || c.output_height != height || !OutputComponentsAre(c, components))
            return false;
        jpeg_start_decompress(&c);
        const size_t row_bytes = static_cast<size_t>(width) * components;
        JSAMPROW rows[16];
        while (c.output_scanline < c.output_height) {
            const JDIMENSION first = c.output_scanline;
            const JDIMENSION want = c.output_height - first < 16 ? c.output_height - first : 16;
            for (JDIMENSION i = 0; i < want; ++i) rows[i] = pixels + row_bytes * (first + i);
            if (jpeg_read_scanlines(&c, rows, want) == 0) ERREXIT(&c, JERR_BAD_STATE);
        }
        jpeg_finish_decompress(&c);
        return true;
    }) ? 1 : 0;
}

uint8_t* codec_jpeg_mem_decode(uint32_t width, uint32_t height, const uint8_t* data, uint64_t size) {
    const uint32_t components = codec_jpeg_mem_probe(data, size);
    if (components == 0) return nullptr;
    uint8_t* pixels = static_cast<uint8_t*>(malloc(static_cast<size_t>(width) * height * components));
    if (!pixels) return nullptr;
    if (!codec_jpeg_mem_decode_into(width, height, components, data, size, pixels)) {
        free(pixels);
        return nullptr;
    }
    return pixels;
}

uint32_t codec_jpeg_mem_probe(const uint8_t* data, uint64_t size, uint32_t* width, uint32_t* height) {
    if (!data || size == 0 || size > ULONG_MAX) return 0;
    uint32_t components = 0;
    WithDecompressor([&](jpeg_decompress_struct& c) {
        ReadJpegHeader(c, data, size);
        components = OutputComponentsAre(c, 1) ? 1u : OutputComponentsAre(c, 3) ? 3u : 0u;
        if (width) *width = c.output_width;
        if (height) *height = c.output_height;
        return true;
    });
    return components;
}

int32_t codec_png_mem_probe(const uint8_t* data, uint64_t size, uint32_t* width, uint32_t* height) {
    PngWork w{};
    int colour_type = -1, bit_depth = 0;
    if (!CreatePngRead(w, data, size) || !ReadPngHeader(w, &colour_type, &bit_depth)) {
        colour_type = -1;
    } else {
        if (width) *width = png_get_image_width(w.png, w.info);
        if (height) *height = png_get_image_height(w.png, w.info);
    }
    FreePngRead(w);
    return colour_type;
}

int32_t codec_png_mem_decode_into(uint32_t width, uint32_t height, uint32_t channels, const uint8_t* data,
                                  uint64_t size, uint8_t* pixels) {
    if (!pixels || (channels != 1 && channels != 3)) return 0;
    PngWork w{};
    int colour_type = -1, bit_depth = 0;
    bool ok = CreatePngRead(w, data, size) && ReadPngHeader(w, &colour_type, &bit_depth) && bit_depth == 8 &&
              ColourTypeFits(colour_type, channels) && png_get_image_width(w.png, w.info) == width &&
              png_get_image_height(w.png, w.info) == height && DecodePngRows(w, width, height, channels, pixels);
    FreePngRead(w);
    return ok ? 1 : 0;
}

namespace {

uint8_t* PngMemDecode(uint32_t width, uint32_t height, uint32_t channels, const uint8_t* data, uint64_t size) {
    uint8_t* pixels = static_cast<uint8_t*>(malloc(static_cast<size_t>(width) * height * channels));
    if (!pixels) return nullptr;
    if (!codec_png_mem_decode_into(width, height, channels, data, size, pixels)) {
        free(pixels);
        return nullptr;
    }
    return pixels;
}

}  // namespace

uint8_t* codec_png_mem_decode_gray(uint32_t width, uint32_t height, const uint8_t* data, uint64_t size) {
    return PngMemDecode(width, height, 1, data, size);
}

uint8_t* codec_png_mem_decode_rgb(uint32_t width, uint32_t height, const uint8_t* data, uint64_t size) {
    return PngMemDecode(width, height, 3, data, size);
}

uint8_t* codec_jpeg_mem_encode(const AviStream* stream, const uint8_t* pixels, uint64_t* size) {
    if (!stream || !pixels || !size || stream->width == 0 || stream->height == 0) return nullptr;
    if (stream->width > JPEG_MAX_DIMENSION || stream->height > JPEG_MAX_DIMENSION) return nullptr;
    const AviStream& s = *stream;
    uint8_t* copy;
    const uint8_t* input = EncoderInput(s, pixels, &copy);
    if (!input) return nullptr;
    JpegMemDest dest{};
    dest.capacity = 4096;
    dest.buffer = static_cast<uint8_t*>(malloc(dest.capacity));
    jpeg_error_mgr error;
    jpeg_compress_struct c;
    c.err = JpegErrorManager(&error);
    j_common_ptr common = reinterpret_cast<j_common_ptr>(&c);
    const uint32_t components = EncodedComponents(s);
    bool ok = dest.buffer && JpegGuarded(common, [&]() { jpeg_create_compress(&c); }) && JpegGuarded(common, [&]() {
        dest.pub.init_destination = JpegDestInit;
        dest.pub.empty_output_buffer = JpegDestEmpty;
        dest.pub.term_destination = JpegDestTerm;
        c.dest = &dest.pub;
        c.image_width = s.width;
        c.image_height = s.height;
        c.input_components = static_cast<int>(components);
        c.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
        jpeg_set_defaults(&c);
        jpeg_set_quality(&c, s.jpeg_quality ? static_cast<int>(s.jpeg_quality) : 85, TRUE);
        jpeg_start_compress(&c, TRUE);
        const size_t row_bytes = static_cast<size_t>(s.width) * components;
        while (c.next_scanline < c.image_height) {
            // The library only reads the rows it is given.
            JSAMPROW row = const_cast<uint8_t*>(input + row_bytes * c.next_scanline);
            jpeg_write_scanlines(&c, &row, 1);
        }
        jpeg_finish_compress(&c);
    });
    jpeg_destroy_compress(&c);
    free(copy);
    if (!ok) {
        free(dest.buffer);
        return nullptr;
    }
    *size = dest.size;
    return dest.buffer;
}

uint8_t* codec_png_mem_encode(const AviStream* stream, const uint8_t* pixels, uint64_t* size) {
    if (!stream || !pixels || !size || stream->width == 0 || stream->height == 0) return nullptr;
    if (stream->width > PNG_UINT_31_MAX || stream->height > PNG_UINT_31_MAX) return nullptr;
    const AviStream& s = *stream;
    uint8_t* copy;
    const uint8_t* input = EncoderInput(s, pixels, &copy);
    if (!input) return nullptr;
    PngWork w{};
    // Room for the raw rows and the chunk overhead; the buffer grows when a
    // noisy frame needs more.
    w.state.capacity = static_cast<uint64_t>(s.width) * s.height * EncodedComponents(s) + 1024;
    w.state.buffer = static_cast<uint8_t*>(malloc(w.state.capacity));
    bool ok = false;
    if (w.state.buffer) {
        w.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        if (w.png) w.info = png_create_info_struct(w.png);
        if (w.info) {
            png_set_write_fn(w.png, &w.state, codec_png_mem_write, PngFlush);
            // The library copies each row before filtering it.
            ok = WritePng(w, s, const_cast<png_bytep>(input));
        }
    }
    png_destroy_write_struct(&w.png, &w.info);
    free(w.rows);
    free(copy);
    if (!ok) {
        free(w.state.buffer);
        return nullptr;
    }
    *size = w.state.position;
    return w.state.buffer;
}

void codec_png_mem_read(png_structp png, png_bytep data, size_t bytes) {
    CodecPngMemState* st = static_cast<CodecPngMemState*>(png_get_io_ptr(png));
    const uint64_t left = st->position < st->capacity ? st->capacity - st->position : 0;
    if (bytes > left) {
        if (left) memcpy(data, st->buffer + st->position, left);
        st->position = st->capacity;
        png_error(png, "codec_png_mem_read() failed.\n");
    }
    memcpy(data, st->buffer + st->position, bytes);
    st->position += bytes;
}

void codec_png_mem_write(png_structp png, png_bytep data, size_t bytes) {
    CodecPngMemState* st = static_cast<CodecPngMemState*>(png_get_io_ptr(png));
    if (bytes > st->capacity - st->position) {
        uint64_t grown = st->capacity ? st->capacity : 4096;
        while (grown - st->position < bytes) grown *= 2;
        uint8_t* more = static_cast<uint8_t*>(realloc(st->buffer, grown));
        if (!more) png_error(png, "codec_png_mem_write() failed.\n");
        st->buffer = more;
        st->capacity = grown;
    }
    memcpy(st->buffer + st->position, data, bytes);
    st->position += bytes;
}
