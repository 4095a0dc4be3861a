// JPEG and PNG pictures compressed and decompressed in memory, one movie
// frame at a time. Pixels are packed rows, top row first: 1 byte per pixel
// for grey, 3 (R, G, B) for colour. Results are 1 (or a buffer) for success
// and 0 (or null) for failure; buffers returned are the caller's to free().
#pragma once

#include <cstddef>
#include <cstdint>

#include <png.h>

struct AviStream;

// A JPEG of exactly width x height decoded to width x height bytes (grey,
// 1 component) or width x height x 3 (colour, 3 components); other forms fail.
uint8_t* codec_jpeg_mem_decode(uint32_t width, uint32_t height, const uint8_t* data, uint64_t size);
// The same into the caller's buffer, which must hold `components` (1 or 3)
// bytes a pixel; a JPEG decoding to another number of components fails.
int32_t codec_jpeg_mem_decode_into(uint32_t width, uint32_t height, uint32_t components, const uint8_t* data,
                                   uint64_t size, uint8_t* pixels);
// The components a JPEG decodes to, from its header: 1 grey, 3 colour, 0
// for any other form (CMYK included) or a damaged header. Its picture size
// goes to `width` and `height` when they are given and the header is read.
uint32_t codec_jpeg_mem_probe(const uint8_t* data, uint64_t size, uint32_t* width = nullptr,
                              uint32_t* height = nullptr);

// An 8-bit grey PNG (with or without alpha) of exactly width x height as
// width x height bytes.
uint8_t* codec_png_mem_decode_gray(uint32_t width, uint32_t height, const uint8_t* data, uint64_t size);
// An 8-bit colour PNG (RGB, RGB with alpha, or palette, whose indices past
// the palette give black) of exactly width x height as R, G, B bytes.
uint8_t* codec_png_mem_decode_rgb(uint32_t width, uint32_t height, const uint8_t* data, uint64_t size);
// The same into the caller's buffer: 1 channel takes the grey forms, 3 the
// colour forms.
int32_t codec_png_mem_decode_into(uint32_t width, uint32_t height, uint32_t channels, const uint8_t* data,
                                  uint64_t size, uint8_t* pixels);
// The colour type of the PNG's header, or -1 when it cannot be read. The
// 8 signature bytes are skipped unchecked, here and in the decoders.
// Its picture size goes to `width` and `height` as for the JPEG probe.
int32_t codec_png_mem_probe(const uint8_t* data, uint64_t size, uint32_t* width = nullptr,
                            uint32_t* height = nullptr);

// One frame of the stream (its width, height, bit count, grey flag, palette
// and JPEG quality) compressed; `size` receives the byte count. Grey frames
// pass through the palette's R, which is the identity for a grey stream.
uint8_t* codec_jpeg_mem_encode(const AviStream* stream, const uint8_t* pixels, uint64_t* size);
uint8_t* codec_png_mem_encode(const AviStream* stream, const uint8_t* pixels, uint64_t* size);

// The memory the PNG callbacks read from or write to. A written buffer
// grows (realloc) as the library asks for room.
struct CodecPngMemState {
    uint8_t* buffer;
    uint64_t capacity;
    uint64_t position;
};
// libpng data callbacks over the CodecPngMemState given as the io pointer.
// A short buffer copies what there is and raises a PNG error.
void codec_png_mem_read(png_structp png, png_bytep data, size_t bytes);
void codec_png_mem_write(png_structp png, png_bytep data, size_t bytes);
