// The ozt image module: the program's raw multi-frame container.
//
// File: a 24-byte header ("OZT\0", byte-order mark 'L','H', reserved byte,
// bits per pixel, then width, height, frame count and time value as u32),
// then the frames back to back, each width x height x bits/8 bytes, samples
// as the program's pixel formats hold them in memory. Files marked 'H','L'
// are read by swapping every header field and sample by its width; this
// module writes only 'L','H'.
//
// The module stands alone: it links no library of the program.
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "korvane/image_module.h"

namespace {

constexpr uint64_t kHeaderBytes = 24;
constexpr uint64_t kFrameLimit = 0x100000000ull;  // a frame must stay below 4 GiB
constexpr uint64_t kNoFrame = UINT64_MAX;         // the file position is at no known frame

struct OztHandle {
    uint16_t bits;
    uint32_t width;
    uint32_t height;
    uint32_t frames;
    uint32_t time;
    FILE* file;
    uint32_t writer;
    uint32_t littleEndian;  // 1 for the mark 'L','H'
    uint64_t nextFrame;     // the frame the file position is at, or kNoFrame
    uint64_t frameBytes;
    uint32_t misaligned;  // writer: a short write left the position past the last whole frame
};

uint32_t Le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint32_t Be32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}
void PutLe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

bool ReadableBits(uint32_t bits) {
    return bits == 8 || bits == 16 || bits == 24 || bits == 32 || bits == 48 || bits == 96 || bits == 192;
}

// Byte-swaps the samples of a frame read from a file marked 'H','L'.
void SwapSamples(uint8_t* p, uint64_t bytes, uint32_t bits) {
    if (bits == 16 || bits == 48) {
        for (uint64_t i = 0; i + 2 <= bytes; i += 2) {
            uint16_t v;
            memcpy(&v, p + i, 2);
            v = __builtin_bswap16(v);
            memcpy(p + i, &v, 2);
        }
    } else if (bits == 32 || bits == 96) {
        for (uint64_t i = 0; i + 4 <= bytes; i += 4) {
            uint32_t v;
            memcpy(&v, p + i, 4);
            v = __builtin_bswap32(v);
            memcpy(p + i, &v, 4);
        }
    } else if (bits == 192) {
        for (uint64_t i = 0; i + 8 <= bytes; i += 8) {
            uint64_t v;
            memcpy(&v, p + i, 8);
            v = __builtin_bswap64(v);
            memcpy(p + i, &v, 8);
        }
    }
}

void FreeHandle(OztHandle* h) {
    if (h->file) fclose(h->file);
    free(h);
}

}  // namespace

extern "C" {

KV_MODULE_EXPORT int32_t em_info(const char* const** extensions, uint32_t* caps) {
    static const char* const kExtensions[] = {"ozt", nullptr};
    if (extensions) *extensions = kExtensions;
    if (caps) *caps = 0x77F;
    return 1;
}

KV_MODULE_EXPORT void* em_open(const char* path, uint16_t* bits, uint64_t* width, uint64_t* height,
                               uint64_t* frames, uint64_t* time) {
    if (!path) return nullptr;
    OztHandle* h = static_cast<OztHandle*>(calloc(1, sizeof(OztHandle)));
    if (!h) return nullptr;
    h->file = fopen(path, "rb");
    // Frames go straight from the file into the caller's buffer, one read
    // each, with no copy through a stream buffer.
    if (h->file) setvbuf(h->file, nullptr, _IONBF, 0);
    struct stat st;
    if (!h->file || fstat(fileno(h->file), &st) != 0 || !S_ISREG(st.st_mode)) {
        FreeHandle(h);
        return nullptr;
    }
    uint8_t header[kHeaderBytes];
    bool ok = fread(header, 1, kHeaderBytes, h->file) == kHeaderBytes && memcmp(header, "OZT", 4) == 0;
    if (ok) {
        h->littleEndian = header[4] == 'L' && header[5] == 'H';
        ok = h->littleEndian || (header[4] == 'H' && header[5] == 'L');
    }
    if (ok) {
        uint32_t (*field)(const uint8_t*) = h->littleEndian ? Le32 : Be32;
        h->bits = header[7];
        h->width = field(header + 8);
        h->height = field(header + 12);
        h->frames = field(header + 16);
        h->time = field(header + 20);
        h->frameBytes = static_cast<uint64_t>(h->width) * h->height * (h->bits / 8u);
        // The frame size is computed in 64 bits; a file must hold at least
        // its first frame.
        ok = h->width && h->height && h->frames && ReadableBits(h->bits) && h->frameBytes < kFrameLimit &&
             static_cast<uint64_t>(st.st_size) >= kHeaderBytes + h->frameBytes;
    }
    if (!ok) {
        FreeHandle(h);
        return nullptr;
    }
    h->nextFrame = 0;
    if (bits) *bits = h->bits;
    if (width) *width = h->width;
    if (height) *height = h->height;
    if (frames) *frames = h->frames;
    if (time) *time = h->time;
    return h;
}

KV_MODULE_EXPORT int32_t em_read(void* handle, void* pixels, uint64_t index) {
    OztHandle* h = static_cast<OztHandle*>(handle);
    if (!h || !pixels || h->writer || index >= h->frames) return 0;
    if (index != h->nextFrame) {
        // After a failed seek or a short read the position is unknown, so
        // nextFrame is kNoFrame and the next read seeks.
        h->nextFrame = kNoFrame;
        if (fseeko(h->file, static_cast<off_t>(kHeaderBytes + index * h->frameBytes), SEEK_SET) != 0) return 0;
        h->nextFrame = index;
    }
    if (fread(pixels, 1, h->frameBytes, h->file) != h->frameBytes) {
        clearerr(h->file);
        h->nextFrame = kNoFrame;
        return 0;
    }
    h->nextFrame = index + 1;
    if (!h->littleEndian) SwapSamples(static_cast<uint8_t*>(pixels), h->frameBytes, h->bits);
    return 1;
}

KV_MODULE_EXPORT void* em_create(const char* path, uint16_t bits, uint64_t width, uint64_t height,
                                 uint64_t /*frames*/, uint64_t time) {
    if (!path || width > 0xFFFFFFFFu || height > 0xFFFFFFFFu || time > 0xFFFFFFFFu) return nullptr;
    // The header holds bits in one byte.
    if (bits < 8 || bits % 8 != 0 || bits > 255) return nullptr;
    OztHandle* h = static_cast<OztHandle*>(calloc(1, sizeof(OztHandle)));
    if (!h) return nullptr;
    h->bits = bits;
    h->width = static_cast<uint32_t>(width);
    h->height = static_cast<uint32_t>(height);
    h->time = static_cast<uint32_t>(time);
    h->writer = 1;
    h->littleEndian = 1;
    if (__builtin_mul_overflow(width * height, static_cast<uint64_t>(bits / 8u), &h->frameBytes)) {
        free(h);
        return nullptr;
    }
    h->file = fopen(path, "wb");
    uint8_t header[kHeaderBytes] = {'O', 'Z', 'T', 0, 'L', 'H', 0, static_cast<uint8_t>(bits)};
    PutLe32(header + 8, h->width);
    PutLe32(header + 12, h->height);
    PutLe32(header + 16, 0);
    PutLe32(header + 20, h->time);
    if (!h->file || fwrite(header, 1, kHeaderBytes, h->file) != kHeaderBytes) {
        FreeHandle(h);
        return nullptr;
    }
    return h;
}

KV_MODULE_EXPORT int32_t em_write(void* handle, const void* pixels) {
    OztHandle* h = static_cast<OztHandle*>(handle);
    if (!h || !pixels || !h->writer || h->frames == 0xFFFFFFFFu) return 0;
    if (h->misaligned) {
        // A short write went past the last whole frame: the next frame goes
        // where it belongs.
        clearerr(h->file);
        if (fseeko(h->file, static_cast<off_t>(kHeaderBytes + h->frames * h->frameBytes), SEEK_SET) != 0) return 0;
        h->misaligned = 0;
    }
    if (fwrite(pixels, 1, h->frameBytes, h->file) != h->frameBytes) {
        h->misaligned = 1;
        return 0;
    }
    ++h->frames;
    return 1;
}

KV_MODULE_EXPORT int32_t em_close(void* handle) {
    OztHandle* h = static_cast<OztHandle*>(handle);
    if (!h) return 0;
    int32_t ok = 1;
    if (h->writer) {
        clearerr(h->file);
        uint8_t count[4];
        PutLe32(count, h->frames);
        uint64_t end = kHeaderBytes + h->frames * h->frameBytes;
        // The frame count makes the file readable: a failure to store it, or
        // to cut off the part of a short write, is reported.
        ok = fflush(h->file) == 0 && ftruncate(fileno(h->file), static_cast<off_t>(end)) == 0 &&
             fseeko(h->file, 16, SEEK_SET) == 0 && fwrite(count, 1, 4, h->file) == 4;
    }
    FILE* f = h->file;
    h->file = nullptr;
    if (fclose(f) != 0) ok = 0;
    free(h);
    return ok;
}

}  // extern "C"
