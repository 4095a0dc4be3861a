// The box tree of an MP4 file. Every box must lie within its parent (the
// top level within the file); sizes are 64-bit throughout.
#include <sys/types.h>

#include <cstdlib>

#include "media/mp4.h"

namespace {

// Boxes whose data is a list of boxes.
bool IsContainer(uint32_t type) {
    switch (type) {
    case Mp4Type("moov"): case Mp4Type("trak"): case Mp4Type("edts"): case Mp4Type("mdia"):
    case Mp4Type("minf"): case Mp4Type("dinf"): case Mp4Type("stbl"): case Mp4Type("udta"):
    case Mp4Type("mvex"): case Mp4Type("moof"): case Mp4Type("traf"): case Mp4Type("mfra"):
    case Mp4Type("strk"): case Mp4Type("ipro"): case Mp4Type("sinf"): case Mp4Type("fiin"):
    case Mp4Type("paen"): case Mp4Type("meco"):
        return true;
    }
    return false;
}

// Containers the reader never looks into: a fault inside one ends that
// container only, and the rest of the file is still read.
bool IsOptional(uint32_t type) {
    switch (type) {
    case Mp4Type("udta"): case Mp4Type("ipro"): case Mp4Type("sinf"): case Mp4Type("fiin"):
    case Mp4Type("paen"): case Mp4Type("meco"): case Mp4Type("strk"): case Mp4Type("mfra"):
    case Mp4Type("moof"): case Mp4Type("traf"): case Mp4Type("mvex"):
        return true;
    }
    return false;
}

uint32_t Be32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

bool ReadAt(FILE* file, uint64_t at, void* out, uint64_t size) {
    if (at > static_cast<uint64_t>(INT64_MAX)) return false;
    if (fseeko(file, static_cast<off_t>(at), SEEK_SET) != 0) return false;
    return fread(out, 1, size, file) == size;
}

struct Parser {
    FILE* file;
    uint64_t boxes;
};

void Append(Mp4Box* parent, Mp4Box* box) {
    box->parent = parent;
    if (parent->last_child) {
        parent->last_child->next = box;
    } else {
        parent->first_child = box;
    }
    parent->last_child = box;
}

// Parses at most `limit` boxes from `start` within `budget` bytes as the
// children of `parent`, at nesting `depth` (1 = top level). A header that
// cannot be read or a size that cannot be a box ends the level; a box that
// passes the budget, a box nested beyond the limit or too many boxes fail it.
bool ParseLevel(Parser& p, uint64_t start, uint64_t budget, Mp4Box* parent, uint32_t depth, uint64_t limit) {
    const bool top = depth == 1;
    uint64_t at = start;
    const uint64_t end = start + budget;
    for (uint64_t n = 0; n < limit && end - at >= 8; ++n) {
        uint8_t header[16];
        if (!ReadAt(p.file, at, header, 8)) break;
        uint64_t size = Be32(header);
        uint64_t header_size = 8;
        if (size == 1) {
            if (end - at < 16 || !ReadAt(p.file, at + 8, header + 8, 8)) break;
            size = (static_cast<uint64_t>(Be32(header + 8)) << 32) | Be32(header + 12);
            header_size = 16;
        } else if (size == 0) {
            if (!top) break;
            size = end - at;  // the last box of the file runs to its end
        }
        if (size < header_size) break;
        if (size > end - at || depth > kMp4MaxDepth) return false;
        if (++p.boxes > kMp4MaxBoxes) return false;
        Mp4Box* box = static_cast<Mp4Box*>(calloc(1, sizeof(Mp4Box)));
        if (!box) return false;
        box->type = Be32(header + 4);
        box->offset = at;
        box->data_offset = at + header_size;
        box->size = size - header_size;
        Append(parent, box);

        bool ok = true;
        if (IsContainer(box->type)) {
            ok = ParseLevel(p, box->data_offset, box->size, box, depth + 1, UINT64_MAX);
        } else if (box->type == Mp4Type("stsd")) {
            // Version, flags and entry count, then the sample entries.
            if (box->size >= 8) ok = ParseLevel(p, box->data_offset + 8, box->size - 8, box, depth + 1, UINT64_MAX);
        } else if (box->type == Mp4Type("avc1")) {
            // 78 bytes of visual sample entry, then the configuration box.
            if (box->size >= 78 + 8) ok = ParseLevel(p, box->data_offset + 78, box->size - 78, box, depth + 1, 1);
        }
        if (!ok && !IsOptional(box->type)) return false;
        at += size;
    }
    return true;
}

}  // namespace

Mp4Box* mp4_box_parse(FILE* file, uint64_t file_size) {
    if (!file) return nullptr;
    Mp4Box root{};
    Parser p{file, 0};
    const bool ok = ParseLevel(p, 0, file_size, &root, 1, UINT64_MAX);
    if (!ok || !root.first_child) {
        mp4_box_free(root.first_child);
        return nullptr;
    }
    for (Mp4Box* b = root.first_child; b; b = b->next) b->parent = nullptr;
    return root.first_child;
}

void mp4_box_free(Mp4Box* list) {
    while (list) {
        Mp4Box* next = list->next;
        mp4_box_free(list->first_child);
        free(list);
        list = next;
    }
}

Mp4Box* mp4_box_find(Mp4Box* list, uint32_t type) {
    for (Mp4Box* b = list; b; b = b->next) {
        if (b->type == type) return b;
        if (Mp4Box* found = mp4_box_find(b->first_child, type)) return found;
    }
    return nullptr;
}

int32_t mp4_box_read(FILE* file, const Mp4Box* box, uint64_t at, void* out, uint64_t size) {
    if (!box || at > box->size || size > box->size - at) return 0;
    return ReadAt(file, box->data_offset + at, out, size) ? 1 : 0;
}
