// DICOM files, read only: Part 10 files in explicit-VR little-endian with
// uncompressed pixel data of 8 or 16 bits allocated and 1 or 3 samples per
// pixel. Every whole frame of the pixel data is a frame of the file.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "media/codec_bytes.h"
#include "media/codec_formats.h"

struct CodecDicom {
    uint16_t columns;
    uint16_t rows;
    uint16_t bits_allocated;
    uint16_t bits_stored;
    uint16_t layout;  // 0 grey; 1 colour, samples interleaved; 2 colour in planes
    uint64_t frame_count;
    uint64_t frame_bytes;
    uint8_t* frames;  // frame_count frames of frame_bytes each
};

namespace {

constexpr uint32_t kUndefinedLength = 0xFFFFFFFFu;
constexpr int kMaxNesting = 64;


// Value representations whose length is 32 bits, after two reserved bytes.
bool LongLength(const char vr[2]) {
    static const char* const kLong[] = {"OB", "OD", "OF", "OL", "OV", "OW", "SQ", "SV", "UC", "UN", "UR", "UT", "UV"};
    for (const char* v : kLong)
        if (vr[0] == v[0] && vr[1] == v[1]) return true;
    return false;
}

struct Parser {
    FILE* f;
    uint64_t size;  // of the file
    uint64_t at;    // position in it

    bool Read(void* out, uint64_t n) {
        if (n > size - at || fread(out, 1, n, f) != n) return false;
        at += n;
        return true;
    }
    bool Skip(uint64_t n) {
        if (n > size - at || fseeko(f, static_cast<off_t>(at + n), SEEK_SET) != 0) return false;
        at += n;
        return true;
    }
};

struct Element {
    uint16_t group;
    uint16_t element;
    char vr[2];
    uint32_t length;
};

// The header of one explicit-VR element; false at the end of the file or
// a short header.
bool ReadElement(Parser& p, Element* e) {
    uint8_t head[8];
    if (!p.Read(head, 8)) return false;
    e->group = CodecLe16(head);
    e->element = CodecLe16(head + 2);
    e->vr[0] = static_cast<char>(head[4]);
    e->vr[1] = static_cast<char>(head[5]);
    if (!LongLength(e->vr)) {
        e->length = CodecLe16(head + 6);
        return true;
    }
    uint8_t length[4];
    if (!p.Read(length, 4)) return false;
    e->length = CodecLe32(length);
    return true;
}

bool SkipItemElements(Parser& p, int depth, bool implicit);

// Skips the items of a sequence of undefined length, up to and including
// its own delimiter: nested sequences end at theirs. The items of a
// sequence stored as UN hold implicit-VR elements.
bool SkipSequence(Parser& p, int depth, bool implicit) {
    if (depth > kMaxNesting) return false;
    for (;;) {
        uint8_t head[8];
        if (!p.Read(head, 8)) return false;
        const uint16_t group = CodecLe16(head), element = CodecLe16(head + 2);
        const uint32_t length = CodecLe32(head + 4);
        if (group != 0xFFFE) return false;
        if (element == 0xE0DD) return true;  // sequence delimiter
        if (element != 0xE000) return false;
        if (length == kUndefinedLength) {
            if (!SkipItemElements(p, depth + 1, implicit)) return false;
        } else if (!p.Skip(length)) {
            return false;
        }
    }
}

// Skips the elements of an item of undefined length, up to and including
// its delimiter.
bool SkipItemElements(Parser& p, int depth, bool implicit) {
    if (depth > kMaxNesting) return false;
    for (;;) {
        uint8_t tag[4];
        if (!p.Read(tag, 4)) return false;
        if (CodecLe16(tag) == 0xFFFE && CodecLe16(tag + 2) == 0xE00D) return p.Skip(4);  // item delimiter
        uint8_t rest[4];
        if (!p.Read(rest, 4)) return false;
        char vr[2] = {static_cast<char>(rest[0]), static_cast<char>(rest[1])};
        uint32_t length;
        bool inner_implicit = implicit;
        if (implicit) {
            length = CodecLe32(rest);
        } else if (LongLength(vr)) {
            uint8_t l[4];
            if (!p.Read(l, 4)) return false;
            length = CodecLe32(l);
            inner_implicit = vr[0] == 'U' && vr[1] == 'N';
        } else {
            length = CodecLe16(rest + 2);
        }
        if (length == kUndefinedLength) {
            if (!SkipSequence(p, depth + 1, inner_implicit)) return false;
        } else if (!p.Skip(length)) {
            return false;
        }
    }
}

// Keeps the first value of a geometry field; a later different one fails.
bool KeepSame(uint16_t* field, uint16_t value) {
    if (*field != 0 && *field != value) return false;
    *field = value;
    return true;
}

struct Header {
    uint16_t samples = 0;  // per pixel; 0 = not given
    uint16_t planar = 0;  // counts for colour only
};

// Group 0028 elements of length 2.
bool TakeImageElement(CodecDicom* d, Header* h, uint16_t element, uint16_t value) {
    switch (element) {
    case 0x0002:
        if (value != 1 && value != 3) return false;
        if (h->samples != 0 && h->samples != value) return false;
        h->samples = value;
        return true;
    case 0x0006:
        if (value > 1) return false;
        h->planar = value;
        return true;
    case 0x0010: return KeepSame(&d->rows, value);
    case 0x0011: return KeepSame(&d->columns, value);
    case 0x0100: return (value == 8 || value == 16) && KeepSame(&d->bits_allocated, value);
    case 0x0101: return value >= 8 && value <= 16 && KeepSame(&d->bits_stored, value);
    }
    return true;
}

// The transfer syntax must be explicit VR little endian.
bool TransferSyntaxAccepted(Parser& p, uint32_t length) {
    static const char kExplicitLittle[] = "1.2.840.10008.1.2.1";
    char uid[65];
    if (length > 64 || !p.Read(uid, length)) return false;
    while (length > 0 && (uid[length - 1] == '\0' || uid[length - 1] == ' ')) --length;
    const bool accepted = length == sizeof kExplicitLittle - 1 && memcmp(uid, kExplicitLittle, length) == 0;
    if (!accepted) codec_note_unsupported();
    return accepted;
}

// Takes the whole frames of a pixel data element of defined length.
bool TakeFrames(Parser& p, CodecDicom* d, const Header& h, uint32_t length) {
    if (d->columns == 0 || d->rows == 0 || d->bits_allocated < 8) return false;
    const bool colour = h.samples == 3;
    d->layout = colour ? (h.planar == 1 ? 2 : 1) : 0;
    const uint64_t frame_bytes = uint64_t{d->bits_allocated} / 8 * (colour ? 3 : 1) * d->columns * d->rows;
    if (d->frames && frame_bytes != d->frame_bytes) return false;
    // The element must lie in the file before anything is allocated.
    if (length > p.size - p.at) return false;
    const uint64_t frames = length / frame_bytes;
    if (frames > 0) {
        uint8_t* grown = static_cast<uint8_t*>(realloc(d->frames, (d->frame_count + frames) * frame_bytes));
        if (!grown) return false;
        d->frames = grown;
        if (!p.Read(d->frames + d->frame_count * frame_bytes, frames * frame_bytes)) return false;
        d->frame_count += frames;
    }
    d->frame_bytes = frame_bytes;
    return p.Skip(length - frames * frame_bytes);
}

bool Parse(Parser& p, CodecDicom* d) {
    uint8_t mark[4];
    if (!p.Skip(128) || !p.Read(mark, 4) || memcmp(mark, "DICM", 4) != 0) return false;
    Header h;
    Element e;
    while (p.at < p.size) {
        if (!ReadElement(p, &e)) return false;
        if (e.group == 0x0002 && e.element == 0x0010) {
            if (!TransferSyntaxAccepted(p, e.length)) return false;
            continue;
        }
        if (e.group == 0x0028 && e.length == 2) {
            uint8_t v[2];
            if (!p.Read(v, 2) || !TakeImageElement(d, &h, e.element, CodecLe16(v))) return false;
            continue;
        }
        if (e.group == 0x7FE0 && e.element == 0x0010) {
            // Compressed pixel data comes in items of undefined length.
            if (e.length == kUndefinedLength || !TakeFrames(p, d, h, e.length)) return false;
            continue;
        }
        if (e.length == kUndefinedLength) {
            if (!SkipSequence(p, 0, e.vr[0] == 'U' && e.vr[1] == 'N')) return false;
        } else if (!p.Skip(e.length)) {
            return false;
        }
    }
    if (d->bits_stored == 0) d->bits_stored = d->bits_allocated;
    return d->columns && d->rows && d->bits_allocated && d->frame_count > 0;
}

void FreeDicom(CodecDicom* d) {
    if (!d) return;
    free(d->frames);
    free(d);
}

}  // namespace

int32_t codec_dicom_open(codec_file* file, const char* path) {
    uint64_t size;
    FILE* f = CodecOpenRegularFile(path, &size);
    if (!f) return 0;
    CodecDicom* d = static_cast<CodecDicom*>(calloc(1, sizeof(CodecDicom)));
    Parser p{f, size, 0};
    const bool ok = d && Parse(p, d);
    fclose(f);
    if (!ok) {
        FreeDicom(d);
        return 0;
    }
    file->info.image_count = 1;
    file->info.frame_count = d->frame_count;
    file->info.bytes_per_pixel = uint64_t{d->bits_allocated} / 8 * (d->layout ? 3 : 1);
    file->info.width = d->columns;
    file->info.height = d->rows;
    file->info.frame_interval = 0;
    file->dicom_reader = d;
    return 1;
}

int32_t codec_dicom_read(codec_file* file, uint64_t image, uint64_t first, uint64_t count, void* buffer) {
    const CodecDicom* d = file->dicom_reader;
    if (!d || image != 0 || first > d->frame_count || count > d->frame_count - first) return 0;
    const uint64_t pixels = uint64_t{d->columns} * d->rows;
    const uint64_t sample_bytes = d->bits_allocated / 8u;
    uint8_t* out = static_cast<uint8_t*>(buffer);
    for (uint64_t i = 0; i < count; ++i, out += d->frame_bytes) {
        const uint8_t* src = d->frames + (first + i) * d->frame_bytes;
        if (d->layout == 2) {
            // R, G and B planes one after another, interleaved.
            const uint64_t plane = pixels * sample_bytes;
            for (uint64_t x = 0; x < pixels; ++x)
                for (uint64_t c = 0; c < 3; ++c)
                    memcpy(out + (3 * x + c) * sample_bytes, src + c * plane + x * sample_bytes, sample_bytes);
        } else if (d->layout == 0 && sample_bytes == 2 && d->bits_stored < 16) {
            const unsigned shift = 16u - d->bits_stored;
            for (uint64_t x = 0; x < pixels; ++x) {
                const uint16_t v = static_cast<uint16_t>(CodecLe16(src + 2 * x) << shift);
                memcpy(out + 2 * x, &v, 2);
            }
        } else {
            memcpy(out, src, d->frame_bytes);
        }
    }
    return 1;
}

int32_t codec_dicom_close(codec_file* file) {
    FreeDicom(file->dicom_reader);
    file->dicom_reader = nullptr;
    return 1;
}
