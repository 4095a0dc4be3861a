// AVI movies: the reader (classic "idx1" files, OpenDML files past 2 GB and
// files without an index) and the writer, which continues as OpenDML when
// the first RIFF chunk would pass 2 GB. Frames cross as packed rows, top row
// first: 1 byte per pixel for 8-bit streams, else R, G, B.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "media/avi_riff.h"

// Frame codecs.
enum : uint32_t {
    kAviRaw = 0,
    kAviMjpg = 1,
    kAviPng = 2,
    kAviI420 = 3,
};

// A growing array on the heap; Append fails (false) instead of throwing
// when memory runs out.
template <class T>
struct AviList {
    T* items;
    uint64_t count;
    uint64_t capacity;

    bool Append(const T& item) {
        if (count == capacity) {
            const uint64_t grown = capacity ? capacity * 2 : 64;
            T* more = static_cast<T*>(realloc(items, grown * sizeof(T)));
            if (!more) return false;
            items = more;
            capacity = grown;
        }
        items[count++] = item;
        return true;
    }
    void Free() {
        free(items);
        items = nullptr;
        count = capacity = 0;
    }
};

// Where one frame's data lies. An entry taken from an "idx1" index only
// knows an upper bound of the data size: the exact size is the one in the
// chunk header 8 bytes before the data, read with the data.
struct AviIndexEntry {
    uint64_t offset;  // first data byte
    uint32_t size;    // byte count, or its bound
    uint32_t sized_by_header;
};

struct AviRgb {
    uint8_t r, g, b;
};

struct AviWriter;

// One open AVI file, read or written; zero-initialised.
struct AviStream {
    RiffFile* riff;  // reading
    uint32_t codec;  // kAviRaw .. kAviI420
    uint64_t stride;  // bytes of one stored raw row, a multiple of 4
    uint32_t width;
    uint32_t height;
    uint32_t bit_count;   // 8, 12, 24 or 32 (MJPG and PNG: 8 or 24 after the first frame)
    uint32_t frame_count;
    uint64_t frame_interval;  // microseconds
    uint32_t grey;       // the palette is grey, or the frames are grey pictures
    uint32_t top_down;
    AviRgb palette[256];
    AviList<AviIndexEntry> index;
    uint32_t jpeg_quality;  // writing MJPG frames
    // Reading: the palette maps every value to itself (grey frames copy as they are).
    uint32_t identity_palette;
    uint8_t* scratch;  // one frame's stored bytes
    uint64_t scratch_size;
    AviWriter* writer;  // writing
};

// Options of codec_avi_create.
struct AviWriterOptions {
    uint32_t index_mode;     // 0 automatic (OpenDML near 2 GB), 1 classic only
    uint32_t frame_codec;    // kAviRaw, kAviMjpg or kAviPng
    uint32_t reserve_count;  // header reserve in 2048-byte units less one; 0 for 2048 bytes
    uint32_t jpeg_quality;   // 1 .. 100; 0 means 85
    // Test seam: the largest size of one RIFF chunk, 0 for 0x7FFFFFFF.
    uint32_t riff_limit;
};

// Copies `width` 3-byte pixels, swapping the first and third byte of each
// (B, G, R to R, G, B and back). The rows must not overlap.
void AviSwapRedBlue(const uint8_t* in, uint8_t* out, uint32_t width);

// Opens an AVI file for reading; null when it cannot be read as one.
AviStream* codec_avi_open(const char* path);
// Decodes frame n into `buffer`: width bytes a row for 8-bit streams
// (palette indices, or grey for MJPG and PNG), else 3 bytes a pixel.
int32_t codec_avi_read_frame(AviStream* stream, uint32_t n, void* buffer);

// Creates an AVI file for 8-bit grey or 24-bit RGB frames.
AviStream* codec_avi_create(const char* path, uint32_t width, uint32_t height, uint32_t bit_count,
                            uint64_t frame_interval, const AviWriterOptions* options);
// Appends one frame of width x height x (bit count / 8) packed bytes.
int32_t codec_avi_write_one(AviStream* stream, const void* pixels);

// Releases a reader, or finishes and releases a writer. 0 when finishing
// the written file failed. Null is accepted.
int32_t codec_avi_close(AviStream* stream);
// The writer's part of codec_avi_close.
int32_t codec_avi_finish_writer(AviStream* stream);
