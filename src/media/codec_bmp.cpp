// BMP files, read and written by our own code.
//
// The reader takes uncompressed and bit-field Windows bitmaps of 1, 4, 8,
// 16, 24 and 32 bits per pixel and keeps the stored rows as they are; a
// frame is decoded from them on read, as 8-bit grey for 8-bit files with
// the full grey palette and as 24-bit RGB otherwise. The writer keeps the
// one frame in memory and writes the whole file when the handle closes.
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "media/codec_bytes.h"
#include "media/codec_formats.h"

struct CodecBitmap {
    uint32_t width;
    uint32_t height;
    uint16_t bits;         // per pixel as stored
    uint32_t colours;      // palette entries read
    uint8_t palette[256][3];  // R, G, B; entries not read stay black
    uint32_t mask[3];      // red, green, blue fields, normalised to bit 0
    uint32_t shift[3];     // right shift that brings each field to bit 0
    int32_t scale[3];      // field width - 8: > 0 shifts right, < 0 left
    uint64_t stride;       // bytes per stored row
    uint8_t* rows;         // stored rows, bottom row first
    char* path;            // writing: the file made at close
};

namespace {

constexpr uint32_t kFileHeaderBytes = 14;
constexpr uint32_t kInfoHeaderBytes = 40;

void PutLe16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void PutLe32(uint8_t* p, uint32_t v) {
    PutLe16(p, v);
    PutLe16(p + 2, v >> 16);
}

uint64_t RowStride(uint64_t bits, uint64_t width) { return (bits * width + 31) / 32 * 4; }

void FreeBitmap(CodecBitmap* b) {
    if (!b) return;
    free(b->rows);
    free(b->path);
    free(b);
}

// Derives the shift, field and scale of one channel from its mask; a zero
// mask stands for the bit `fallback`.
void SetChannel(CodecBitmap* b, int c, uint32_t mask, uint32_t fallback) {
    if (mask == 0) mask = fallback;
    const uint32_t shift = static_cast<uint32_t>(std::countr_zero(mask));
    const uint32_t field = mask >> shift;
    int width = std::countr_one(field);
    if (width > 16) width = 16;
    b->mask[c] = field;
    b->shift[c] = shift;
    b->scale[c] = width - 8;
}

uint8_t Channel(const CodecBitmap& b, int c, uint32_t value) {
    uint32_t v = (value >> b.shift[c]) & b.mask[c];
    v = b.scale[c] >= 0 ? v >> b.scale[c] : v << -b.scale[c];
    return static_cast<uint8_t>(v > 255 ? 255 : v);
}

// True when the file was read whole: header, palette or masks, and rows.
bool ReadBitmap(FILE* f, uint64_t file_size, CodecBitmap* b) {
    uint8_t head[kFileHeaderBytes + kInfoHeaderBytes];
    if (fread(head, 1, sizeof head, f) != sizeof head) return false;
    if (head[0] != 'B' || head[1] != 'M') return false;
    const uint32_t data_offset = CodecLe32(head + 10);
    const uint8_t* info = head + kFileHeaderBytes;
    const uint32_t header_size = CodecLe32(info);
    const int32_t width = static_cast<int32_t>(CodecLe32(info + 4));
    const int32_t height = static_cast<int32_t>(CodecLe32(info + 8));
    const uint16_t planes = CodecLe16(info + 12);
    const uint16_t bits = CodecLe16(info + 14);
    const uint32_t compression = CodecLe32(info + 16);
    const uint32_t colours_used = CodecLe32(info + 32);
    // Rows stored top-down (a negative height) are a layout not read here.
    if (header_size >= kInfoHeaderBytes && width > 0 && height < 0 && planes == 1) codec_note_unsupported();
    if (header_size < kInfoHeaderBytes || width <= 0 || height <= 0 || planes != 1) return false;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
    if (compression != 0 && !(compression == 3 && (bits == 16 || bits == 32))) return false;
    b->width = static_cast<uint32_t>(width);
    b->height = static_cast<uint32_t>(height);
    b->bits = bits;
    b->stride = RowStride(bits, b->width);

    // Bit-field masks lie in the header from byte 40 when it is that long,
    // else right after it; the bytes of a longer header are skipped.
    uint8_t extra[12];
    uint64_t at = kFileHeaderBytes + kInfoHeaderBytes;
    const uint64_t header_end = uint64_t{kFileHeaderBytes} + header_size;
    if (header_end > file_size) return false;
    if (compression == 3) {
        if (fread(extra, 1, 12, f) != 12) return false;
        at += 12;
        SetChannel(b, 0, CodecLe32(extra), 4);
        SetChannel(b, 1, CodecLe32(extra + 4), 2);
        SetChannel(b, 2, CodecLe32(extra + 8), 1);
    } else if (bits == 16) {
        SetChannel(b, 0, 0x7C00, 0);
        SetChannel(b, 1, 0x03E0, 0);
        SetChannel(b, 2, 0x001F, 0);
        // 5-bit fields are scaled to 8 bits by a left shift of 3.
    } else {
        SetChannel(b, 0, 0xFF0000, 0);
        SetChannel(b, 1, 0x00FF00, 0);
        SetChannel(b, 2, 0x0000FF, 0);
    }
    if (at < header_end) {
        if (fseeko(f, static_cast<off_t>(header_end), SEEK_SET) != 0) return false;
        at = header_end;
    }

    if (compression == 0) {
        const uint32_t most = bits <= 8 ? 1u << bits : 256u;
        const uint32_t colours = colours_used ? colours_used : bits <= 8 ? 1u << bits : 0u;
        if (colours > most) return false;
        uint8_t entries[256 * 4];
        if (fread(entries, 4, colours, f) != colours) return false;
        for (uint32_t i = 0; i < colours; ++i) {
            b->palette[i][0] = entries[4 * i + 2];
            b->palette[i][1] = entries[4 * i + 1];
            b->palette[i][2] = entries[4 * i];
        }
        b->colours = colours;
        at += uint64_t{colours} * 4;
    }

    // The pixels start at the data offset when that lies past the palette
    // inside the file, else right after the palette.
    if (data_offset > at && data_offset < file_size) {
        if (fseeko(f, static_cast<off_t>(data_offset), SEEK_SET) != 0) return false;
        at = data_offset;
    }
    uint64_t data_bytes;
    if (__builtin_mul_overflow(b->stride, uint64_t{b->height}, &data_bytes) || at > file_size ||
        data_bytes > file_size - at)
        return false;
    b->rows = static_cast<uint8_t*>(malloc(data_bytes ? data_bytes : 1));
    return b->rows && fread(b->rows, 1, data_bytes, f) == data_bytes;
}

// An 8-bit bitmap whose 256 palette entries all are (i, i, i).
bool IsGreyRamp(const CodecBitmap& b) {
    if (b.bits != 8 || b.colours != 256) return false;
    for (uint32_t i = 0; i < 256; ++i)
        if (b.palette[i][0] != i || b.palette[i][1] != i || b.palette[i][2] != i) return false;
    return true;
}

unsigned Index(const uint8_t* row, uint64_t x, unsigned bits) {
    const uint64_t bit = x * bits;
    return (row[bit >> 3] >> (8 - bits - (bit & 7))) & ((1u << bits) - 1);
}

// 16- or 32-bit pixels through the channel masks.
template <int Bytes>
void BitFieldRow(const CodecBitmap& b, const uint8_t* src, uint8_t* dest) {
    for (uint64_t x = 0; x < b.width; ++x, dest += 3, src += Bytes) {
        const uint32_t v = Bytes == 2 ? CodecLe16(src) : CodecLe32(src);
        for (int c = 0; c < 3; ++c) dest[c] = Channel(b, c, v);
    }
}

// One stored row as frame pixels: indices for grey files, else R, G, B.
void DecodeRow(const CodecBitmap& b, const uint8_t* src, uint8_t* dest, bool grey) {
    const uint64_t w = b.width;
    switch (b.bits) {
    case 1:
    case 4:
    case 8:
        if (grey) {
            memcpy(dest, src, w);
            return;
        }
        for (uint64_t x = 0; x < w; ++x, dest += 3) memcpy(dest, b.palette[Index(src, x, b.bits)], 3);
        return;
    case 16: BitFieldRow<2>(b, src, dest); return;
    case 24:
        for (uint64_t x = 0; x < w; ++x, dest += 3, src += 3) {
            dest[0] = src[2];
            dest[1] = src[1];
            dest[2] = src[0];
        }
        return;
    case 32: BitFieldRow<4>(b, src, dest); return;
    }
}

bool WriteAll(FILE* f, const void* data, size_t n) { return fwrite(data, 1, n, f) == n; }

}  // namespace

int32_t codec_bmp_open(codec_file* file, const char* path) {
    uint64_t size;
    FILE* f = CodecOpenRegularFile(path, &size);
    if (!f) return 0;
    CodecBitmap* b = static_cast<CodecBitmap*>(calloc(1, sizeof(CodecBitmap)));
    const bool ok = b && ReadBitmap(f, size, b);
    fclose(f);
    if (!ok) {
        FreeBitmap(b);
        return 0;
    }
    file->info.image_count = 1;
    file->info.frame_count = 1;
    file->info.bytes_per_pixel = IsGreyRamp(*b) ? 1 : 3;
    file->info.width = b->width;
    file->info.height = b->height;
    file->info.frame_interval = 0;
    file->bmp_reader = b;
    return 1;
}

int32_t codec_bmp_read(codec_file* file, uint64_t image, uint64_t first, uint64_t count, void* buffer) {
    const CodecBitmap* b = file->bmp_reader;
    if (!b || image != 0 || first != 0 || count > 1) return 0;
    if (count == 0) return 1;
    const bool grey = file->info.bytes_per_pixel == 1;
    const uint64_t out_stride = uint64_t{b->width} * file->info.bytes_per_pixel;
    uint8_t* out = static_cast<uint8_t*>(buffer);
    for (uint64_t y = 0; y < b->height; ++y)
        DecodeRow(*b, b->rows + (b->height - 1 - y) * b->stride, out + y * out_stride, grey);
    return 1;
}

int32_t codec_bmp_create(codec_file* file, const char* path) {
    const codec_file_info& info = file->info;
    if (info.frame_count != 1 || (info.bytes_per_pixel != 1 && info.bytes_per_pixel != 3)) return 0;
    if (info.width > 0x7FFFFFFF || info.height > 0x7FFFFFFF) return 0;
    const uint16_t bits = static_cast<uint16_t>(info.bytes_per_pixel * 8);
    const uint64_t stride = RowStride(bits, info.width);
    const uint64_t palette = bits == 8 ? 256 * 4 : 0;
    uint64_t data;
    if (__builtin_mul_overflow(stride, info.height, &data) ||
        data > 0xFFFFFFFFull - kFileHeaderBytes - kInfoHeaderBytes - palette)
        return 0;  // the file size field holds less than 4 GiB
    CodecBitmap* b = static_cast<CodecBitmap*>(calloc(1, sizeof(CodecBitmap)));
    if (!b) return 0;
    b->rows = static_cast<uint8_t*>(calloc(data ? data : 1, 1));
    b->path = strdup(path);  // nothing reaches the disk before close
    if (!b->rows || !b->path) {
        FreeBitmap(b);
        return 0;
    }
    b->width = static_cast<uint32_t>(info.width);
    b->height = static_cast<uint32_t>(info.height);
    b->bits = bits;
    b->stride = stride;
    if (bits == 8) {
        b->colours = 256;
        for (uint32_t i = 0; i < 256; ++i) b->palette[i][0] = b->palette[i][1] = b->palette[i][2] = static_cast<uint8_t>(i);
    }
    file->bmp_writer = b;
    return 1;
}

int32_t codec_bmp_write(codec_file* file, uint64_t image, uint64_t count, const void* buffer) {
    CodecBitmap* b = file->bmp_writer;
    if (!b || image != 0 || count > 1) return 0;
    if (count == 0) return 1;
    const uint8_t* in = static_cast<const uint8_t*>(buffer);
    const uint64_t w = b->width;
    for (uint64_t y = 0; y < b->height; ++y) {
        uint8_t* row = b->rows + (b->height - 1 - y) * b->stride;
        if (b->bits == 8) {
            memcpy(row, in + y * w, w);
            continue;
        }
        const uint8_t* src = in + y * w * 3;
        for (uint64_t x = 0; x < w; ++x, row += 3, src += 3) {
            row[0] = src[2];
            row[1] = src[1];
            row[2] = src[0];
        }
    }
    return 1;
}

int32_t codec_bmp_close(codec_file* file) {
    if (CodecBitmap* b = file->bmp_reader) {
        FreeBitmap(b);
        file->bmp_reader = nullptr;
    }
    CodecBitmap* b = file->bmp_writer;
    if (!b) return 1;
    file->bmp_writer = nullptr;
    const uint32_t palette_bytes = b->bits == 8 ? 256 * 4 : 0;
    const uint64_t data_bytes = b->stride * b->height;
    const uint32_t data_offset = kFileHeaderBytes + kInfoHeaderBytes + palette_bytes;
    uint8_t head[kFileHeaderBytes + kInfoHeaderBytes] = {'B', 'M'};
    PutLe32(head + 2, static_cast<uint32_t>(data_offset + data_bytes));
    PutLe32(head + 10, data_offset);
    uint8_t* info = head + kFileHeaderBytes;
    PutLe32(info, kInfoHeaderBytes);
    PutLe32(info + 4, b->width);
    PutLe32(info + 8, b->height);
    PutLe16(info + 12, 1);
    PutLe16(info + 14, b->bits);
    PutLe32(info + 20, static_cast<uint32_t>(data_bytes));
    uint8_t entries[256 * 4] = {};
    for (uint32_t i = 0; i < 256; ++i) {
        entries[4 * i] = b->palette[i][2];
        entries[4 * i + 1] = b->palette[i][1];
        entries[4 * i + 2] = b->palette[i][0];
    }
    bool ok = false;
    if (FILE* f = fopen(b->path, "wb")) {
        ok = WriteAll(f, head, sizeof head) && WriteAll(f, entries, palette_bytes) && WriteAll(f, b->rows, data_bytes);
        ok = fclose(f) == 0 && ok;
    }
    FreeBitmap(b);
    return ok ? 1 : 0;
}
