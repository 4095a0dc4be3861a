// The RIFF chunk tree. Chunk headers are read with pread, so that the walk
// and later frame reads (on any thread) never depend on a stream position.
#include "media/avi_riff.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

constexpr uint32_t kRiff = RiffFourcc("RIFF");
constexpr uint32_t kList = RiffFourcc("LIST");

bool IsList(uint32_t fourcc) { return fourcc == kRiff || fourcc == kList; }

void FreeChunks(RiffChunk* chunk) {
    while (chunk) {
        RiffChunk* next = chunk->next;
        FreeChunks(chunk->first_child);  // depth is bounded by kRiffMaxDepth
        free(chunk);
        chunk = next;
    }
}

RiffChunk* Append(RiffFile* file, RiffChunk* parent, uint32_t fourcc, uint32_t list_type, uint32_t size,
                  uint64_t offset) {
    RiffChunk* c = static_cast<RiffChunk*>(calloc(1, sizeof(RiffChunk)));
    if (!c) return nullptr;
    c->fourcc = fourcc;
    c->list_type = list_type;
    c->size = size;
    c->offset = offset;
    c->parent = parent;
    RiffChunk** last = parent ? &parent->last_child : &file->last;
    if (*last) {
        (*last)->next = c;
    } else if (parent) {
        parent->first_child = c;
    } else {
        file->first = c;
    }
    *last = c;
    return c;
}

// Parses the chunks from `pos` as children of `parent` (the top level when
// null), whose data ends at `end`. At the top level parsing stops at the end
// of the file or at the first chunk that is not "RIFF". The end of the file
// also ends every open list: a recording or copy that stopped keeps the
// chunks before the cut, and a chunk that runs past the end is left out.
bool ParseLevel(RiffFile* file, RiffChunk* parent, uint64_t pos, uint64_t end, int depth) {
    const bool top = parent == nullptr;
    for (;;) {
        if (file->size < 8 || pos > file->size - 8) return true;
        if (!top) {
            if (pos == end) return true;
            if (pos > end) return false;
        }
        uint8_t header[12];
        if (!riff_read_at(file, pos, header, 8)) return false;
        const uint32_t fourcc = CodecLe32(header);
        const uint32_t size = CodecLe32(header + 4);
        if (top && fourcc != kRiff) return true;
        if (!top && fourcc == kRiff) return false;
        uint64_t data_end = pos + 8 + size;
        if (IsList(fourcc)) {
            // A list whose size was never filled in (a recording that
            // stopped) runs to the end of its parent.
            if (size == 0) {
                data_end = top ? file->size : end;
            } else if (size < 4) {
                return false;
            }
            if (pos + 12 > file->size) return true;
            if (!riff_read_at(file, pos + 8, header + 8, 4)) return false;
            if (depth + 1 > kRiffMaxDepth) return false;
            RiffChunk* list = Append(file, parent, fourcc, CodecLe32(header + 8), size, pos);
            if (!list || !ParseLevel(file, list, pos + 12, data_end, depth + 1)) return false;
        } else {
            if (data_end > file->size) return true;
            if (!Append(file, parent, fourcc, 0, size, pos)) return false;
        }
        pos = data_end + (data_end & 1);
    }
}

// Offset and size of the chunk's data (after the list type for lists).
void DataExtent(const RiffChunk* chunk, uint64_t* start, uint64_t* size) {
    const bool list = IsList(chunk->fourcc);
    *start = chunk->offset + (list ? 12 : 8);
    *size = list ? chunk->size - (chunk->size >= 4 ? 4u : chunk->size) : chunk->size;
}

}  // namespace

int32_t riff_read_at(const RiffFile* file, uint64_t offset, void* buffer, uint64_t bytes) {
    const int fd = fileno(file->stream);
    uint8_t* out = static_cast<uint8_t*>(buffer);
    while (bytes > 0) {
        if (offset > static_cast<uint64_t>(INT64_MAX)) return 0;
        const size_t step = bytes > (1u << 30) ? (1u << 30) : static_cast<size_t>(bytes);
        const ssize_t got = pread(fd, out, step, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return 0;
        out += got;
        offset += static_cast<uint64_t>(got);
        bytes -= static_cast<uint64_t>(got);
    }
    return 1;
}

RiffFile* riff_open(const char* path) {
    if (!path || !*path) return nullptr;
    RiffFile* file = static_cast<RiffFile*>(calloc(1, sizeof(RiffFile)));
    if (!file) return nullptr;
    file->stream = CodecOpenRegularFile(path, &file->size);
    if (!file->stream) {
        riff_close(file);
        return nullptr;
    }
    if (!ParseLevel(file, nullptr, 0, file->size, 0)) {
        riff_close(file);
        return nullptr;
    }
    return file;
}

void riff_close(RiffFile* file) {
    if (!file) return;
    FreeChunks(file->first);
    if (file->stream) fclose(file->stream);
    free(file);
}

RiffChunk* riff_next(const RiffChunk* chunk) {
    if (chunk->first_child) return chunk->first_child;
    for (const RiffChunk* c = chunk; c; c = c->parent)
        if (c->next) return c->next;
    return nullptr;
}

RiffChunk* riff_find(const RiffChunk* chunk, uint32_t fourcc, uint32_t list_type) {
    for (RiffChunk* c = riff_next(chunk); c; c = riff_next(c))
        if ((fourcc == 0 || c->fourcc == fourcc) && (list_type == 0 || c->list_type == list_type)) return c;
    return nullptr;
}

RiffChunk* riff_find_first(const RiffFile* file, uint32_t fourcc, uint32_t list_type) {
    RiffChunk* first = file->first;
    if (!first) return nullptr;
    if ((fourcc == 0 || first->fourcc == fourcc) && (list_type == 0 || first->list_type == list_type)) return first;
    return riff_find(first, fourcc, list_type);
}

int32_t riff_seek_data(RiffFile* file, const RiffChunk* chunk, uint64_t offset) {
    uint64_t start, size;
    DataExtent(chunk, &start, &size);
    if (offset >= size || start + offset > static_cast<uint64_t>(INT64_MAX)) return 1;
    return fseeko(file->stream, static_cast<off_t>(start + offset), SEEK_SET) == 0 ? 0 : 1;
}

int32_t riff_read_data(const RiffFile* file, const RiffChunk* chunk, uint64_t offset, void* buffer, uint64_t bytes) {
    uint64_t start, size;
    DataExtent(chunk, &start, &size);
    if (offset > size || bytes > size - offset) return 0;
    return riff_read_at(file, start + offset, buffer, bytes);
}
