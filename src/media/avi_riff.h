// The chunk tree of a RIFF file, as the AVI reader walks it. Offsets are
// 64-bit: OpenDML files continue past 4 GB in further "RIFF" chunks.
#pragma once

#include <cstdint>
#include <cstdio>

#include "media/codec_bytes.h"

// The four characters as stored, read as a little-endian u32.
constexpr uint32_t RiffFourcc(const char (&text)[5]) {
    return static_cast<uint32_t>(static_cast<uint8_t>(text[0])) |
           static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(text[3])) << 24;
}

// Lists deeper than this are refused.
constexpr int kRiffMaxDepth = 32;

struct RiffChunk {
    uint32_t fourcc;
    uint32_t list_type;  // the type after the size of "RIFF" and "LIST" chunks, else 0
    uint32_t size;       // data size as stored, without the header and the pad byte
    uint64_t offset;     // where the fourcc stands
    RiffChunk* parent;   // null for top-level chunks
    RiffChunk* first_child;
    RiffChunk* last_child;
    RiffChunk* next;  // next sibling
};

// A file opened for reading and its top-level "RIFF" chunks. Every chunk of
// the tree lies inside the file: a chunk cut short by the end of the file is
// left out, a list cut short holds the chunks before the cut.
struct RiffFile {
    FILE* stream;
    uint64_t size;  // bytes in the file
    RiffChunk* first;
    RiffChunk* last;
};

// Opens and parses the file; null when it cannot be read or its structure
// is broken (a list whose children pass its end, a nested "RIFF", lists
// nested deeper than kRiffMaxDepth).
RiffFile* riff_open(const char* path);
// Releases the tree and closes the file. Null is accepted.
void riff_close(RiffFile* file);

// Pre-order successor: first child, else next sibling, else the next
// sibling of the nearest ancestor that has one; null at the end.
RiffChunk* riff_next(const RiffChunk* chunk);
// The first chunk after `chunk` in pre-order whose fourcc is `fourcc` (any
// when 0) and, when `list_type` is not 0, whose list type matches.
RiffChunk* riff_find(const RiffChunk* chunk, uint32_t fourcc, uint32_t list_type);
// The same search starting with the file's first chunk itself.
RiffChunk* riff_find_first(const RiffFile* file, uint32_t fourcc, uint32_t list_type);

// Positions the stream at `offset` inside the chunk's data (after the list
// type for lists): 0 on success, non-zero when the offset is not inside the
// data or the seek fails.
int32_t riff_seek_data(RiffFile* file, const RiffChunk* chunk, uint64_t offset);
// Reads `bytes` bytes at `offset` inside the chunk's data; 1 when they lie
// wholly inside it and were read, else 0. Does not move the stream.
int32_t riff_read_data(const RiffFile* file, const RiffChunk* chunk, uint64_t offset, void* buffer, uint64_t bytes);
// Reads exactly `bytes` bytes at a file offset; 1 on success. Safe to call
// from several threads at once.
int32_t riff_read_at(const RiffFile* file, uint64_t offset, void* buffer, uint64_t bytes);

// A little-endian u64 field (OpenDML offsets).
inline uint64_t RiffLe64(const uint8_t* p) { return uint64_t{CodecLe32(p)} | uint64_t{CodecLe32(p + 4)} << 32; }
