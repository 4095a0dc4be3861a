// Little-endian fields of the files the codecs parse, and opening such a
// file together with its size.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>

inline uint16_t CodecLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t CodecLe32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24); }
inline void CodecPutLe16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void CodecPutLe32(uint8_t* p, uint32_t v) {
    CodecPutLe16(p, v);
    CodecPutLe16(p + 2, v >> 16);
}

// The file at path opened for binary reading, and its size; null when it
// cannot be opened or is no regular file.
inline FILE* CodecOpenRegularFile(const char* path, uint64_t* size) {
    FILE* f = fopen(path, "rb");
    if (!f) return nullptr;
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
        fclose(f);
        return nullptr;
    }
    *size = static_cast<uint64_t>(st.st_size);
    return f;
}
