// TIFF files, read and written by our own code.
//
// Reading maps the whole file and walks its chain of image directories.
// Every readable directory of the first readable one's size is a page, and
// the pages are the frames. Strips may be uncompressed, LZW or PackBits,
// with the horizontal predictor over 8- and 16-bit samples. A page is
// decoded strip by strip, in parallel on the worker pool, straight into the
// caller's frame; between reads only the page records are kept.
//
// Writing appends one uncompressed little-endian page per frame: its
// directory first, then the samples as one strip. A page is linked into
// the chain only once it is complete.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <atomic>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "image/pool.h"
#include "media/codec_formats.h"

static_assert(std::endian::native == std::endian::little, "the writer stores native samples as little-endian");

namespace {

// Sample layouts of a page.
enum TiffKind : uint8_t {
    kGrey1,
    kGrey2,
    kGrey4,
    kGrey8,
    kGrey10,  // 10-bit samples in 12-bit pairs
    kGrey12,  // two samples in three bytes, most significant bits first
    kGrey14,  // one sample in two bytes
    kGrey16,
    kGrey32,
    kGreyFloat,
    kMask,  // transparency mask, 1 bit
    kRgb8,
    kRgb16,
    kRgb32,
    kRgbFloat,
    kPalette,
    kCmyk8,
};

bool IsGreyKind(uint8_t kind) { return kind <= kMask; }

constexpr uint32_t kMaxDirectories = 65536;
constexpr uint64_t kMaxDimension = 0x7FFFFFFF;

// One directory entry: where its values lie in the file.
struct TiffEntry {
    uint16_t type;
    uint32_t count;
    uint32_t values;  // file offset of the first value
};

}  // namespace

// One readable directory.
struct TiffPage {
    uint32_t index;  // position among the directories
    uint16_t photometric;
    uint16_t compression;
    uint16_t predictor;  // 1 or 2 (compressed pages only)
    uint8_t kind;
    bool invert;  // white is zero
    bool imagej;  // the description starts with "ImageJ"
    uint16_t bits;
    uint16_t samples;  // per pixel
    uint32_t width;
    uint32_t height;
    uint32_t rows_per_strip;
    uint32_t strip_count;  // strips that hold rows
    TiffEntry strip_offsets;
    TiffEntry strip_bytes;
    uint32_t colour_map;  // palette pages: offset of the 3 x 2^bits entries
    uint32_t pixel_bytes;  // byte-aligned layouts: bytes from one pixel to the next
    uint64_t row_bytes;
};

struct CodecTiffReader {
    const uint8_t* data;  // the file image
    uint64_t size;
    bool mapped;
    int fd;  // the mapped file, for reading strips; -1 when read whole
    bool big_endian;
    TiffPage* pages;
    uint32_t page_count;
};

struct CodecTiffWriter {
    FILE* stream;
    uint64_t position;       // where the next page starts
    uint64_t link_position;  // the last page's next-directory field
    bool wrote_page;
};

namespace {

// ---------------------------------------------------------------------------
// Bytes of the file in its byte order.

uint16_t Load16(const uint8_t* p, bool big) {
    uint16_t v;
    memcpy(&v, p, 2);
    return big ? __builtin_bswap16(v) : v;
}

uint32_t Load32(const uint8_t* p, bool big) {
    uint32_t v;
    memcpy(&v, p, 4);
    return big ? __builtin_bswap32(v) : v;
}

// The whole file, mapped; read into memory where it cannot be mapped.
bool LoadFileImage(CodecTiffReader* r, const char* path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 8 || st.st_size >= (int64_t{1} << 32)) {
        close(fd);
        return false;
    }
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (map != MAP_FAILED) {
        r->data = static_cast<const uint8_t*>(map);
        r->size = size;
        r->mapped = true;
        r->fd = fd;
        return true;
    }
    uint8_t* block = static_cast<uint8_t*>(malloc(size));
    uint64_t done = 0;
    while (block && done < size) {
        ssize_t n = pread(fd, block + done, size - done, static_cast<off_t>(done));
        if (n <= 0) break;
        done += static_cast<uint64_t>(n);
    }
    close(fd);
    if (done != size) {
        free(block);
        return false;
    }
    r->data = block;
    r->size = size;
    r->mapped = false;
    r->fd = -1;
    return true;
}

void FreeReader(CodecTiffReader* r) {
    if (r->data) {
        if (r->mapped) {
            munmap(const_cast<uint8_t*>(r->data), r->size);
            close(r->fd);
        } else {
            free(const_cast<uint8_t*>(r->data));
        }
    }
    free(r->pages);
    free(r);
}

// ---------------------------------------------------------------------------
// The directory chain.

// Offsets of directories seen so far, to stop at a chain that loops. Sized
// for the most directories a file of its size can hold apart.
class OffsetSet {
public:
    explicit OffsetSet(uint64_t file_size) {
        const uint64_t most = file_size / 6 + 1 < kMaxDirectories ? file_size / 6 + 1 : kMaxDirectories;
        while (mask_ + 1 < 2 * most) mask_ = mask_ * 2 + 1;
    }
    ~OffsetSet() { free(slots_); }
    OffsetSet(const OffsetSet&) = delete;
    OffsetSet& operator=(const OffsetSet&) = delete;
    // False when the offset was there already or memory ran out.
    bool Insert(uint32_t offset) {
        if (!slots_) {
            slots_ = static_cast<uint32_t*>(calloc(mask_ + 1, sizeof(uint32_t)));
            if (!slots_) return false;
        }
        uint32_t i = static_cast<uint32_t>((offset * uint64_t{2654435761u}) >> 7) & mask_;
        while (slots_[i] != 0) {
            if (slots_[i] == offset) return false;
            i = (i + 1) & mask_;
        }
        slots_[i] = offset;  // never 0: offset 0 ends the chain
        return true;
    }

private:
    uint32_t mask_ = 15;
    uint32_t* slots_ = nullptr;
};

// Offsets of the directories of the chain that lie wholly inside the file,
// in chain order; null for none or short memory.
uint32_t* WalkDirectories(const CodecTiffReader& r, uint32_t* count) {
    *count = 0;
    uint32_t capacity = 16;
    uint32_t* offsets = static_cast<uint32_t*>(malloc(capacity * sizeof(uint32_t)));
    if (!offsets) return nullptr;
    OffsetSet seen(r.size);
    uint32_t offset = Load32(r.data + 4, r.big_endian);
    while (offset != 0 && *count < kMaxDirectories) {
        if (uint64_t{offset} + 2 > r.size || !seen.Insert(offset)) break;
        const uint64_t entries = Load16(r.data + offset, r.big_endian);
        const uint64_t end = uint64_t{offset} + 2 + entries * 12 + 4;
        if (end > r.size) break;
        if (*count == capacity) {
            uint32_t* grown = static_cast<uint32_t*>(realloc(offsets, 2 * capacity * sizeof(uint32_t)));
            if (!grown) break;
            offsets = grown;
            capacity *= 2;
        }
        offsets[(*count)++] = offset;
        offset = Load32(r.data + end - 4, r.big_endian);
    }
    if (*count == 0) {
        free(offsets);
        return nullptr;
    }
    return offsets;
}

// Bytes of one value of a field type; 0 for types this reader has no use for.
uint32_t TypeBytes(uint16_t type) {
    switch (type) {
    case 1:   // BYTE
    case 2:   // ASCII
    case 6:   // SBYTE
    case 7:   // UNDEFINED
        return 1;
    case 3:   // SHORT
    case 8:   // SSHORT
        return 2;
    case 4:   // LONG
    case 9:   // SLONG
    case 11:  // FLOAT
        return 4;
    case 5:   // RATIONAL
    case 10:  // SRATIONAL
    case 12:  // DOUBLE
        return 8;
    }
    return 0;
}

// The tags of one directory that the reader uses.
struct DirectoryTags {
    enum Slot {
        kWidth,
        kHeight,
        kBits,
        kCompression,
        kPhotometric,
        kDescription,
        kStripOffsets,
        kSamples,
        kRowsPerStrip,
        kStripBytes,
        kXResolution,
        kYResolution,
        kPlanar,
        kResolutionUnit,
        kPredictor,
        kColourMap,
        kSampleFormat,
        kTileWidth,
        kSlots
    };
    TiffEntry entry[kSlots];
    bool present[kSlots];
    bool bad[kSlots];  // values outside the file or of an unknown type
};

int SlotOfTag(uint16_t tag) {
    switch (tag) {
    case 256: return DirectoryTags::kWidth;
    case 257: return DirectoryTags::kHeight;
    case 258: return DirectoryTags::kBits;
    case 259: return DirectoryTags::kCompression;
    case 262: return DirectoryTags::kPhotometric;
    case 270: return DirectoryTags::kDescription;
    case 273: return DirectoryTags::kStripOffsets;
    case 277: return DirectoryTags::kSamples;
    case 278: return DirectoryTags::kRowsPerStrip;
    case 279: return DirectoryTags::kStripBytes;
    case 282: return DirectoryTags::kXResolution;
    case 283: return DirectoryTags::kYResolution;
    case 284: return DirectoryTags::kPlanar;
    case 296: return DirectoryTags::kResolutionUnit;
    case 317: return DirectoryTags::kPredictor;
    case 320: return DirectoryTags::kColourMap;
    case 339: return DirectoryTags::kSampleFormat;
    case 322: return DirectoryTags::kTileWidth;
    }
    return -1;
}

void ReadTags(const CodecTiffReader& r, uint32_t offset, DirectoryTags* tags) {
    memset(tags, 0, sizeof *tags);
    const uint32_t entries = Load16(r.data + offset, r.big_endian);
    for (uint32_t i = 0; i < entries; ++i) {
        const uint8_t* e = r.data + offset + 2 + 12 * i;
        const int slot = SlotOfTag(Load16(e, r.big_endian));
        if (slot < 0 || tags->present[slot]) continue;  // the first of repeated tags counts
        TiffEntry& entry = tags->entry[slot];
        entry.type = Load16(e + 2, r.big_endian);
        entry.count = Load32(e + 4, r.big_endian);
        tags->present[slot] = true;
        const uint64_t total = uint64_t{TypeBytes(entry.type)} * entry.count;
        if (total == 0) {
            tags->bad[slot] = true;
        } else if (total <= 4) {
            entry.values = offset + 2 + 12 * i + 8;
        } else {
            entry.values = Load32(e + 8, r.big_endian);
            tags->bad[slot] = uint64_t{entry.values} + total > r.size;
        }
    }
}

// Value i of an unsigned integer entry (BYTE, SHORT or LONG); the caller
// keeps i below the count.
uint32_t EntryValue(const CodecTiffReader& r, const TiffEntry& e, uint32_t i) {
    const uint8_t* p = r.data + e.values;
    switch (e.type) {
    case 1: return p[i];
    case 3: return Load16(p + 2 * uint64_t{i}, r.big_endian);
    default: return Load32(p + 4 * uint64_t{i}, r.big_endian);
    }
}

bool IsIntegerEntry(const TiffEntry& e) { return e.type == 1 || e.type == 3 || e.type == 4; }

// Reads an optional integer tag: its first value, or `fallback` when absent.
// False when the tag is present but unusable.
bool IntegerTag(const CodecTiffReader& r, const DirectoryTags& t, int slot, uint32_t fallback, uint32_t* value) {
    if (!t.present[slot]) {
        *value = fallback;
        return true;
    }
    if (t.bad[slot] || !IsIntegerEntry(t.entry[slot])) return false;
    *value = EntryValue(r, t.entry[slot], 0);
    return true;
}

// Bits per sample: every one of the first `n` values (those present) must
// be equal.
bool UniformBits(const CodecTiffReader& r, const DirectoryTags& t, uint32_t n, uint32_t* bits) {
    if (!IntegerTag(r, t, DirectoryTags::kBits, 1, bits)) return false;
    if (!t.present[DirectoryTags::kBits]) return true;
    const TiffEntry& e = t.entry[DirectoryTags::kBits];
    for (uint32_t i = 1; i < n && i < e.count; ++i)
        if (EntryValue(r, e, i) != *bits) return false;
    return true;
}

uint64_t PackedRowBytes(uint64_t width, uint32_t bits) { return (width * bits + 7) / 8; }

// Fills the layout of a page from its photometric interpretation; false for
// a layout this reader cannot decode.
bool ParseLayout(const CodecTiffReader& r, const DirectoryTags& t, TiffPage* p) {
    uint32_t bits, samples, format;
    if (!IntegerTag(r, t, DirectoryTags::kSampleFormat, 1, &format)) return false;
    const bool is_float = format == 3;
    const uint64_t w = p->width;
    switch (p->photometric) {
    case 0:
    case 1:
    case 34892: {
        if (!UniformBits(r, t, 1, &bits) || !IntegerTag(r, t, DirectoryTags::kSamples, 1, &samples)) return false;
        if (samples == 0) return false;
        p->invert = p->photometric == 0;
        switch (bits) {
        case 1: p->kind = kGrey1; break;
        case 2: p->kind = kGrey2; break;
        case 4: p->kind = kGrey4; break;
        case 8: p->kind = kGrey8; break;
        case 10: p->kind = kGrey10; break;
        case 12: p->kind = kGrey12; break;
        case 14: p->kind = kGrey14; break;
        case 16: p->kind = kGrey16; break;
        case 32: p->kind = is_float ? kGreyFloat : kGrey32; break;
        default: return false;
        }
        if (is_float && bits != 32) return false;
        if (bits == 8 || bits == 16 || bits == 32) {
            // Extra samples (alpha) are stepped over.
            p->pixel_bytes = bits / 8 * samples;
            p->row_bytes = w * p->pixel_bytes;
        } else {
            if (samples != 1) return false;
            if (bits == 10 || bits == 12) {
                p->row_bytes = w / 2 * 3 + w % 2 * 2;
            } else if (bits == 14) {
                p->row_bytes = w * 2;
            } else {
                p->row_bytes = PackedRowBytes(w, bits);
            }
        }
        break;
    }
    case 2:
        if (!UniformBits(r, t, 3, &bits) || !IntegerTag(r, t, DirectoryTags::kSamples, 3, &samples)) return false;
        if (samples < 3) return false;
        switch (bits) {
        case 8: p->kind = kRgb8; break;
        case 16: p->kind = kRgb16; break;
        case 32: p->kind = is_float ? kRgbFloat : kRgb32; break;
        default: return false;
        }
        if (is_float && bits != 32) return false;
        p->pixel_bytes = bits / 8 * samples;
        p->row_bytes = w * p->pixel_bytes;
        break;
    case 3: {
        if (!UniformBits(r, t, 1, &bits) || !IntegerTag(r, t, DirectoryTags::kSamples, 1, &samples)) return false;
        if (samples != 1 || (bits != 1 && bits != 2 && bits != 4 && bits != 8)) return false;
        const TiffEntry& map = t.entry[DirectoryTags::kColourMap];
        if (!t.present[DirectoryTags::kColourMap] || t.bad[DirectoryTags::kColourMap] || map.type != 3 ||
            map.count != 3u << bits)
            return false;
        p->kind = kPalette;
        p->colour_map = map.values;
        p->row_bytes = PackedRowBytes(w, bits);
        break;
    }
    case 4:
        if (!IntegerTag(r, t, DirectoryTags::kSamples, 1, &samples) || samples != 1) return false;
        bits = 1;
        p->kind = kMask;
        p->row_bytes = PackedRowBytes(w, 1);
        break;
    case 5:
        if (!UniformBits(r, t, 4, &bits) || !IntegerTag(r, t, DirectoryTags::kSamples, 4, &samples)) return false;
        if (bits != 8 || samples < 4) return false;
        p->kind = kCmyk8;
        p->pixel_bytes = samples;
        p->row_bytes = w * samples;
        break;
    default: return false;
    }
    p->bits = static_cast<uint16_t>(bits);
    p->samples = static_cast<uint16_t>(samples);
    return true;
}

// The predictor can be undone over whole 8- and 16-bit samples.
bool PredictorApplies(const TiffPage& p) {
    switch (p.kind) {
    case kGrey8:
    case kGrey16:
    case kRgb8:
    case kRgb16:
    case kCmyk8: return true;
    }
    return false;
}

uint64_t DecodedBound(uint16_t compression, uint64_t bytes);

// Parses the directory at `offset` into a page; false for one that cannot
// be read.
bool ParsePage(const CodecTiffReader& r, uint32_t offset, TiffPage* p) {
    DirectoryTags t;
    ReadTags(r, offset, &t);
    memset(p, 0, sizeof *p);
    using T = DirectoryTags;
    // Tiled pages are a layout the reader does not take.
    if (t.present[T::kTileWidth]) {
        codec_note_unsupported();
        return false;
    }
    for (int required : {T::kPhotometric, T::kWidth, T::kHeight, T::kRowsPerStrip, T::kStripOffsets, T::kStripBytes})
        if (!t.present[required]) return false;
    uint32_t photometric, compression, predictor, width, height, rows, unit, planar;
    if (!IntegerTag(r, t, T::kPhotometric, 0, &photometric) || !IntegerTag(r, t, T::kCompression, 1, &compression) ||
        !IntegerTag(r, t, T::kPredictor, 1, &predictor) || !IntegerTag(r, t, T::kWidth, 0, &width) ||
        !IntegerTag(r, t, T::kHeight, 0, &height) || !IntegerTag(r, t, T::kRowsPerStrip, 0, &rows) ||
        !IntegerTag(r, t, T::kResolutionUnit, 1, &unit) || !IntegerTag(r, t, T::kPlanar, 1, &planar))
        return false;
    if (width == 0 || height == 0 || width > kMaxDimension || height > kMaxDimension) return false;
    if (unit != 1) {
        for (int res : {T::kXResolution, T::kYResolution})
            if (!t.present[res] || t.bad[res] || t.entry[res].type != 5) return false;
    }
    if (compression != 1 && compression != 5 && compression != 32773) {
        codec_note_unsupported();
        return false;
    }
    p->photometric = static_cast<uint16_t>(photometric);
    p->compression = static_cast<uint16_t>(compression);
    p->width = width;
    p->height = height;
    if (!ParseLayout(r, t, p)) return false;
    if (planar == 2 && p->samples > 1) return false;
    // Uncompressed strips hold raw samples whatever the predictor says.
    p->predictor = 1;
    if (compression != 1 && predictor != 1) {
        if (predictor != 2 || !PredictorApplies(*p)) return false;
        p->predictor = 2;
    }
    uint64_t page_bytes;
    if (__builtin_mul_overflow(p->row_bytes, uint64_t{height}, &page_bytes) || page_bytes > (uint64_t{1} << 62))
        return false;
    // The page's samples must be able to come from the file: stored whole
    // when uncompressed, and within the largest expansion of the file's
    // bytes when compressed. Strips cut short still read (their missing
    // rows as 0), but a page the whole file cannot fill is refused before
    // anyone allocates a frame of its size.
    if (page_bytes > (compression == 1 ? r.size : DecodedBound(static_cast<uint16_t>(compression), r.size)))
        return false;

    p->rows_per_strip = rows == 0 || rows > height ? height : rows;
    p->strip_count = static_cast<uint32_t>((uint64_t{height} + p->rows_per_strip - 1) / p->rows_per_strip);
    const TiffEntry& offsets = t.entry[T::kStripOffsets];
    const TiffEntry& counts = t.entry[T::kStripBytes];
    if (t.bad[T::kStripOffsets] || t.bad[T::kStripBytes] || !IsIntegerEntry(offsets) || !IsIntegerEntry(counts))
        return false;
    if (offsets.count != counts.count || offsets.count < p->strip_count) return false;
    p->strip_offsets = offsets;
    p->strip_bytes = counts;

    const TiffEntry& text = t.entry[T::kDescription];
    if (t.present[T::kDescription] && !t.bad[T::kDescription] && text.type == 2 && text.count <= 256 &&
        text.count >= 6)
        p->imagej = memcmp(r.data + text.values, "ImageJ", 6) == 0;
    return true;
}

// Bytes per pixel of the frames of a file whose first page is `p`.
uint64_t FrameBytesPerPixel(const TiffPage& p) {
    switch (p.kind) {
    case kGrey1:
    case kGrey2:
    case kGrey4:
    case kGrey8: return 1;
    case kGrey10:
    case kGrey12:
    case kGrey14:
    case kGrey16: return 2;
    case kGrey32:
    case kGreyFloat: return 4;
    case kRgb16: return 6;
    case kRgb32:
    case kRgbFloat: return 12;
    }
    return 3;  // RGB 8, palette, mask, CMYK
}

// ---------------------------------------------------------------------------
// Samples of one page row to the frame's values. Each converter turns the
// `n` pixels from pixel `x0` of a raw row into grey or RGB values at one
// depth; layouts without a value at that depth give 0.

constexpr uint64_t kChunk = 2048;  // pixels converted at a time

uint32_t FloatToU32(float f) {
    if (!(f > 0.0f)) return 0;  // also NaN
    if (f >= 1.0f) return 0xFFFFFFFFu;
    return static_cast<uint32_t>(static_cast<double>(f) * 4294967295.0);
}

float LoadFloat(const uint8_t* p, bool big) { return std::bit_cast<float>(Load32(p, big)); }

unsigned PackedValue(const uint8_t* row, uint64_t x, unsigned bits) {
    const uint64_t bit = x * bits;
    return (row[bit >> 3] >> (8 - bits - (bit & 7))) & ((1u << bits) - 1);
}

// Sample x of a row of 12-bit pairs: the first of a pair is byte 0 and the
// high half of byte 1, the second the low half of byte 1 and byte 2.
unsigned PairValue(const uint8_t* row, uint64_t x) {
    const uint8_t* p = row + x / 2 * 3;
    return x % 2 == 0 ? (unsigned{p[0]} << 4) | (p[1] >> 4) : ((p[1] & 15u) << 8) | p[2];
}

void GreyRow16(const TiffPage& pg, bool big, const uint8_t* s, uint64_t x0, uint64_t n, uint16_t* d) {
    const uint32_t step = pg.pixel_bytes;
    switch (pg.kind) {
    case kGrey1:
    case kMask:
        for (uint64_t i = 0; i < n; ++i) d[i] = PackedValue(s, x0 + i, 1) ? 65535 : 0;
        break;
    case kGrey2:
        for (uint64_t i = 0; i < n; ++i) d[i] = static_cast<uint16_t>(PackedValue(s, x0 + i, 2) * 85 * 257);
        break;
    case kGrey4:
        for (uint64_t i = 0; i < n; ++i) d[i] = static_cast<uint16_t>(PackedValue(s, x0 + i, 4) * 17 * 257);
        break;
    case kGrey8:
        for (uint64_t i = 0; i < n; ++i) d[i] = static_cast<uint16_t>(s[(x0 + i) * step] * 257);
        break;
    case kGrey10:
        for (uint64_t i = 0; i < n; ++i) d[i] = static_cast<uint16_t>((PairValue(s, x0 + i) & 0x3FF) << 6);
        break;
    case kGrey12:
        for (uint64_t i = 0; i < n; ++i) d[i] = static_cast<uint16_t>(PairValue(s, x0 + i) << 4);
        break;
    case kGrey14:
        for (uint64_t i = 0; i < n; ++i) d[i] = static_cast<uint16_t>((Load16(s + (x0 + i) * 2, big) & 0x3FFF) << 2);
        break;
    case kGrey16:
        for (uint64_t i = 0; i < n; ++i) d[i] = Load16(s + (x0 + i) * step, big);
        break;
    default: memset(d, 0, n * 2); return;
    }
    if (pg.invert && pg.kind != kMask)
        for (uint64_t i = 0; i < n; ++i) d[i] = static_cast<uint16_t>(65535 - d[i]);
}

// The 16-bit values' high bytes; 10- to 14-bit samples have no 8-bit value.
void GreyRow8(const TiffPage& pg, bool big, const uint8_t* s, uint64_t x0, uint64_t n, uint8_t* d) {
    if (pg.kind == kGrey10 || pg.kind == kGrey12 || pg.kind == kGrey14) {
        memset(d, 0, n);
        return;
    }
    uint16_t grey[kChunk];
    GreyRow16(pg, big, s, x0, n, grey);
    for (uint64_t i = 0; i < n; ++i) d[i] = static_cast<uint8_t>(grey[i] >> 8);
}

void GreyRow32(const TiffPage& pg, bool big, const uint8_t* s, uint64_t x0, uint64_t n, uint32_t* d) {
    const uint32_t step = pg.pixel_bytes;
    if (pg.kind == kGrey32) {
        const uint32_t flip = pg.invert ? 0xFFFFFFFFu : 0;
        for (uint64_t i = 0; i < n; ++i) d[i] = Load32(s + (x0 + i) * step, big) ^ flip;
    } else if (pg.kind == kGreyFloat) {
        for (uint64_t i = 0; i < n; ++i) {
            uint32_t v = FloatToU32(LoadFloat(s + (x0 + i) * step, big));
            // Clamped first: 1 - v stays inside 0 .. 1.
            d[i] = pg.invert ? 0xFFFFFFFFu - v : v;
        }
    } else {
        uint16_t grey[kChunk];
        GreyRow16(pg, big, s, x0, n, grey);
        for (uint64_t i = 0; i < n; ++i) d[i] = grey[i] * 65537u;
    }
}

// 8-bit CMYK to one RGB channel.
uint32_t CmykChannel(uint32_t ink, uint32_t k) {
    uint32_t v = ink * (255 - k) / 255 + k;
    return 255 - (v > 255 ? 255 : v);
}

void RgbRow16(const CodecTiffReader& r, const TiffPage& pg, const uint8_t* s, uint64_t x0, uint64_t n, uint16_t* d) {
    const uint32_t step = pg.pixel_bytes;
    const bool big = r.big_endian;
    switch (pg.kind) {
    case kRgb8:
        for (uint64_t i = 0; i < n; ++i)
            for (int c = 0; c < 3; ++c) d[3 * i + c] = static_cast<uint16_t>(s[(x0 + i) * step + c] * 257);
        return;
    case kRgb16:
        for (uint64_t i = 0; i < n; ++i)
            for (int c = 0; c < 3; ++c) d[3 * i + c] = Load16(s + (x0 + i) * step + 2 * c, big);
        return;
    case kPalette: {
        const uint8_t* map = r.data + pg.colour_map;
        const uint64_t entries = uint64_t{1} << pg.bits;
        for (uint64_t i = 0; i < n; ++i) {
            const unsigned index = PackedValue(s, x0 + i, pg.bits);
            for (int c = 0; c < 3; ++c) d[3 * i + c] = Load16(map + 2 * (c * entries + index), big);
        }
        return;
    }
    case kCmyk8:
        for (uint64_t i = 0; i < n; ++i) {
            const uint8_t* p = s + (x0 + i) * step;
            for (int c = 0; c < 3; ++c) d[3 * i + c] = static_cast<uint16_t>(CmykChannel(p[c], p[3]) * 257);
        }
        return;
    }
    memset(d, 0, n * 6);
}

// The 16-bit values' high bytes (32-bit samples have no 8-bit value).
void RgbRow8(const CodecTiffReader& r, const TiffPage& pg, const uint8_t* s, uint64_t x0, uint64_t n, uint8_t* d) {
    if (pg.kind == kRgb8 && pg.samples == 3) {
        memcpy(d, s + x0 * 3, n * 3);
        return;
    }
    uint16_t rgb[3 * kChunk];
    RgbRow16(r, pg, s, x0, n, rgb);
    for (uint64_t i = 0; i < 3 * n; ++i) d[i] = static_cast<uint8_t>(rgb[i] >> 8);
}

void RgbRow32(const CodecTiffReader& r, const TiffPage& pg, const uint8_t* s, uint64_t x0, uint64_t n, uint32_t* d) {
    const uint32_t step = pg.pixel_bytes;
    const bool big = r.big_endian;
    switch (pg.kind) {
    case kRgb16:
        for (uint64_t i = 0; i < n; ++i)
            for (int c = 0; c < 3; ++c) d[3 * i + c] = Load16(s + (x0 + i) * step + 2 * c, big) * 65537u;
        return;
    case kRgb32:
        for (uint64_t i = 0; i < n; ++i)
            for (int c = 0; c < 3; ++c) d[3 * i + c] = Load32(s + (x0 + i) * step + 4 * c, big);
        return;
    case kRgbFloat:
        for (uint64_t i = 0; i < n; ++i)
            for (int c = 0; c < 3; ++c) d[3 * i + c] = FloatToU32(LoadFloat(s + (x0 + i) * step + 4 * c, big));
        return;
    }
    memset(d, 0, n * 12);
}

template <class T>
T Weighted(T r, T g, T b) {
    if (r == g && g == b) return r;
    return static_cast<T>((299u * r + 587u * g + 114u * b + 500u) / 1000u);
}

// Converts pixels x0 .. x0 + n - 1 of a raw row into `d`, `bpp` bytes per
// frame pixel.
void ConvertChunk(const CodecTiffReader& r, const TiffPage& pg, const uint8_t* s, uint64_t x0, uint64_t n,
                  uint64_t bpp, uint8_t* d) {
    const bool big = r.big_endian;
    const bool grey = IsGreyKind(pg.kind);
    uint8_t narrow[3 * kChunk];
    uint16_t mid[3 * kChunk];
    uint32_t wide[3 * kChunk];
    switch (bpp) {
    case 1:
        if (grey) {
            GreyRow8(pg, big, s, x0, n, d);
            return;
        }
        RgbRow8(r, pg, s, x0, n, narrow);
        for (uint64_t i = 0; i < n; ++i) d[i] = Weighted<uint8_t>(narrow[3 * i], narrow[3 * i + 1], narrow[3 * i + 2]);
        return;
    case 2:
        if (grey) {
            GreyRow16(pg, big, s, x0, n, mid);
        } else {
            RgbRow16(r, pg, s, x0, n, mid);
            for (uint64_t i = 0; i < n; ++i) mid[i] = Weighted<uint16_t>(mid[3 * i], mid[3 * i + 1], mid[3 * i + 2]);
        }
        memcpy(d, mid, n * 2);
        return;
    case 3:
        if (!grey) {
            RgbRow8(r, pg, s, x0, n, d);
            return;
        }
        GreyRow8(pg, big, s, x0, n, narrow);
        for (uint64_t i = 0; i < n; ++i) d[3 * i] = d[3 * i + 1] = d[3 * i + 2] = narrow[i];
        return;
    case 4:
        if (grey) {
            GreyRow32(pg, big, s, x0, n, wide);
        } else {
            RgbRow16(r, pg, s, x0, n, mid);
            for (uint64_t i = 0; i < n; ++i)
                wide[i] = Weighted<uint32_t>(mid[3 * i], mid[3 * i + 1], mid[3 * i + 2]) * 65537u;
        }
        memcpy(d, wide, n * 4);
        return;
    case 6:
        if (grey) {
            GreyRow16(pg, big, s, x0, n, mid + 2 * n);  // spread forwards: pixel i's source lies past its outputs
            for (uint64_t i = 0; i < n; ++i) mid[3 * i] = mid[3 * i + 1] = mid[3 * i + 2] = mid[2 * n + i];
        } else {
            RgbRow16(r, pg, s, x0, n, mid);
        }
        memcpy(d, mid, n * 6);
        return;
    case 12:
        if (grey) {
            GreyRow32(pg, big, s, x0, n, wide + 2 * n);
            for (uint64_t i = 0; i < n; ++i) wide[3 * i] = wide[3 * i + 1] = wide[3 * i + 2] = wide[2 * n + i];
        } else {
            RgbRow32(r, pg, s, x0, n, wide);
        }
        memcpy(d, wide, n * 12);
        return;
    }
}

// One raw row to one frame row; a null row (no data) gives 0.
void ConvertRow(const CodecTiffReader& r, const TiffPage& pg, const uint8_t* src, uint64_t bpp, uint8_t* dest) {
    const uint64_t width = pg.width;
    if (!src) {
        memset(dest, 0, width * bpp);
        return;
    }
    for (uint64_t x0 = 0; x0 < width; x0 += kChunk) {
        const uint64_t n = width - x0 < kChunk ? width - x0 : kChunk;
        ConvertChunk(r, pg, src, x0, n, bpp, dest + x0 * bpp);
    }
}

// Pages whose raw rows already are the frame's rows but for byte order,
// inversion or float samples, fixed in place.
bool SameLayout(const TiffPage& pg, uint64_t bpp) {
    switch (pg.kind) {
    case kGrey8: return bpp == 1 && pg.samples == 1;
    case kGrey16: return bpp == 2 && pg.samples == 1;
    case kGrey32:
    case kGreyFloat: return bpp == 4 && pg.samples == 1;
    case kRgb8: return bpp == 3 && pg.samples == 3;
    case kRgb16: return bpp == 6 && pg.samples == 3;
    case kRgb32:
    case kRgbFloat: return bpp == 12 && pg.samples == 3;
    }
    return false;
}

void FixRowInPlace(const TiffPage& pg, bool big, uint8_t* row) {
    const uint64_t samples = uint64_t{pg.width} * pg.samples;
    switch (pg.kind) {
    case kGrey8:
        if (pg.invert)
            for (uint64_t i = 0; i < samples; ++i) row[i] = static_cast<uint8_t>(255 - row[i]);
        return;
    case kGrey16:
    case kRgb16:
        if (big || pg.invert) {
            const uint16_t flip = pg.invert ? 0xFFFF : 0;
            for (uint64_t i = 0; i < samples; ++i) {
                uint16_t v = static_cast<uint16_t>(Load16(row + 2 * i, big) ^ flip);
                memcpy(row + 2 * i, &v, 2);
            }
        }
        return;
    case kGrey32:
    case kRgb32:
        if (big || pg.invert) {
            const uint32_t flip = pg.invert ? 0xFFFFFFFFu : 0;
            for (uint64_t i = 0; i < samples; ++i) {
                uint32_t v = Load32(row + 4 * i, big) ^ flip;
                memcpy(row + 4 * i, &v, 4);
            }
        }
        return;
    case kGreyFloat:
    case kRgbFloat:
        for (uint64_t i = 0; i < samples; ++i) {
            uint32_t v = FloatToU32(LoadFloat(row + 4 * i, big));
            if (pg.invert) v = 0xFFFFFFFFu - v;
            memcpy(row + 4 * i, &v, 4);
        }
        return;
    }
}

// Undoes horizontal differencing over one decoded row.
void UndoPredictor(const TiffPage& pg, bool big, uint8_t* row) {
    const uint64_t stride = pg.pixel_bytes / (pg.bits / 8);  // samples per pixel
    const uint64_t samples = uint64_t{pg.width} * stride;
    if (pg.bits == 8) {
        for (uint64_t i = stride; i < samples; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - stride]);
        return;
    }
    for (uint64_t i = stride; i < samples; ++i) {
        uint16_t v = static_cast<uint16_t>(Load16(row + 2 * i, big) + Load16(row + 2 * (i - stride), big));
        if (big) v = __builtin_bswap16(v);
        memcpy(row + 2 * i, &v, 2);
    }
}

// Undoes the predictor over native 16-bit rows (already in machine order).
void UndoPredictorNative16(const TiffPage& pg, uint8_t* row) {
    const uint64_t stride = pg.samples;
    const uint64_t samples = uint64_t{pg.width} * stride;
    uint16_t prev[4] = {};
#if defined(__SSE2__)
    if (stride == 1) {
        // Running sums of eight samples at a time: three shifted adds make
        // the sums inside the group, the last sum of the group before
        // carries over.
        __m128i carry = _mm_setzero_si128();
        uint64_t i = 0;
        for (; i + 8 <= samples; i += 8) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 2 * i));
            v = _mm_add_epi16(v, _mm_slli_si128(v, 2));
            v = _mm_add_epi16(v, _mm_slli_si128(v, 4));
            v = _mm_add_epi16(v, _mm_slli_si128(v, 8));
            v = _mm_add_epi16(v, carry);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(row + 2 * i), v);
            carry = _mm_set1_epi16(static_cast<short>(_mm_extract_epi16(v, 7)));
        }
        uint16_t sum = static_cast<uint16_t>(_mm_extract_epi16(carry, 0));
        for (; i < samples; ++i) {
            uint16_t v;
            memcpy(&v, row + 2 * i, 2);
            sum = static_cast<uint16_t>(sum + v);
            memcpy(row + 2 * i, &sum, 2);
        }
        return;
    }
#endif
    if (stride <= 4) {
        // Running sums kept in registers; loads and stores through memcpy.
        memcpy(prev, row, 2 * stride);
        for (uint64_t i = stride; i < samples; i += stride) {
            for (uint64_t c = 0; c < stride; ++c) {
                uint16_t v;
                memcpy(&v, row + 2 * (i + c), 2);
                prev[c] = static_cast<uint16_t>(prev[c] + v);
                memcpy(row + 2 * (i + c), &prev[c], 2);
            }
        }
        return;
    }
    UndoPredictor(pg, false, row);
}

// ---------------------------------------------------------------------------
// Reading one page.

struct StripSpan {
    uint64_t offset;  // in the file
    uint64_t bytes;   // declared bytes that lie inside the file
};

StripSpan StripOf(const CodecTiffReader& r, const TiffPage& pg, uint32_t s) {
    StripSpan span{EntryValue(r, pg.strip_offsets, s), EntryValue(r, pg.strip_bytes, s)};
    if (span.offset >= r.size) return {0, 0};
    if (span.bytes > r.size - span.offset) span.bytes = r.size - span.offset;
    return span;
}

// Bytes a strip's data can decode to at most: an LZW code of at least 9
// bits gives a string of at most 4096 bytes; a PackBits run of 2 bytes
// gives at most 128.
uint64_t DecodedBound(uint16_t compression, uint64_t bytes) {
    if (compression == 5) return (bytes * 8 / 9 + 1) * 4096;
    return bytes / 2 * 128 + 128;
}

// LZW as TIFF uses it: codes most significant bit first from 9 bits wide,
// 256 clears the table, 257 ends the strip; the width grows when the next
// free code reaches 2^width - 1. Decoding stops at the end code, the end of
// the input, a code above the next free one, or when `capacity` bytes are
// out. Every string is a copy of bytes already decoded, so the table keeps
// where each one was first written. Returns the bytes produced.
uint64_t LzwDecode(const uint8_t* in, uint64_t in_size, uint8_t* out, uint64_t capacity) {
    uint64_t where[4096];  // position of each code's string in `out`
    uint32_t length[4096];
    uint64_t bitbuf = 0;   // pending bits at the top
    unsigned have = 0;     // pending bit count
    uint64_t ip = 0, op = 0;
    unsigned width = 9, next = 258;
    bool after_clear = true;
    uint64_t prev_where = 0;
    uint32_t prev_length = 0;
    while (op < capacity) {
        if (have < width) {
            while (have <= 56 && ip < in_size) {
                bitbuf |= uint64_t{in[ip++]} << (56 - have);
                have += 8;
            }
            if (have < width) break;
        }
        const unsigned code = static_cast<unsigned>(bitbuf >> (64 - width));
        bitbuf <<= width;
        have -= width;
        if (code == 256) {
            width = 9;
            next = 258;
            after_clear = true;
            continue;
        }
        if (code == 257) break;
        const uint64_t start = op;
        uint32_t len;
        if (code < 256) {
            out[op++] = static_cast<uint8_t>(code);
            len = 1;
        } else if (after_clear || code > next) {
            break;
        } else {
            // A code equal to the next free one is the previous string and
            // its own first byte: the copy runs one byte into itself.
            const uint64_t from = code == next ? prev_where : where[code];
            len = code == next ? prev_length + 1 : length[code];
            const uint64_t room = capacity - op;
            const uint64_t n = len < room ? len : room;
            const uint64_t gap = op - from;
            if (gap >= n) {
                if (n <= 16 && room >= 16 && gap >= 16) {
                    memcpy(out + op, out + from, 16);
                } else {
                    memcpy(out + op, out + from, n);
                }
            } else {
                for (uint64_t i = 0; i < n; ++i) out[op + i] = out[from + i];
            }
            op += n;
        }
        if (!after_clear && next < 4096) {
            where[next] = prev_where;
            length[next] = prev_length + 1;
            ++next;
            if (next == (1u << width) - 1 && width < 12) ++width;
        }
        after_clear = false;
        prev_where = start;
        prev_length = len;
    }
    return op;
}

uint64_t PackBitsDecode(const uint8_t* in, uint64_t in_size, uint8_t* out, uint64_t capacity) {
    uint64_t ip = 0, op = 0;
    while (op < capacity && in_size - ip >= 2) {
        const int n = static_cast<int8_t>(in[ip++]);
        if (n >= 0) {
            uint64_t count = static_cast<uint64_t>(n) + 1;
            if (count > in_size - ip) count = in_size - ip;
            if (count > capacity - op) count = capacity - op;
            memcpy(out + op, in + ip, count);
            ip += static_cast<uint64_t>(n) + 1;
            op += count;
            if (ip > in_size) break;
        } else if (n != -128) {
            uint64_t count = static_cast<uint64_t>(1 - n);
            if (count > capacity - op) count = capacity - op;
            memset(out + op, in[ip++], count);
            op += count;
        }
    }
    return op;
}

// Decodes a strip's data `in` into out[0, capacity); the bytes produced.
uint64_t DecodeStrip(const TiffPage& pg, const uint8_t* in, uint64_t in_size, uint8_t* out, uint64_t capacity) {
    if (pg.compression == 5) return LzwDecode(in, in_size, out, capacity);
    return PackBitsDecode(in, in_size, out, capacity);
}

// Copies bytes offset .. offset + n - 1 of the file, which the caller keeps
// inside it. Bulk data is read from the file rather than through the
// mapping: that spares the page faults of a mapping's first touch, which
// parallel readers would also contend on. Bytes a shrunken file no longer
// has read as 0.
void ReadBytes(const CodecTiffReader& r, uint64_t offset, uint64_t n, uint8_t* out) {
    if (r.fd < 0) {
        memcpy(out, r.data + offset, n);
        return;
    }
    uint64_t done = 0;
    while (done < n) {
        const ssize_t k = pread(r.fd, out + done, n - done, static_cast<off_t>(offset + done));
        if (k <= 0) break;
        done += static_cast<uint64_t>(k);
    }
    memset(out + done, 0, n - done);
}

struct PageJob {
    const CodecTiffReader* reader;
    const TiffPage* page;
    uint64_t bpp;
    uint8_t* frame;
    uint64_t frame_row;  // width x bpp
    bool same_layout;
    std::atomic<bool> failed{false};
};

uint32_t StripRows(const TiffPage& pg, uint64_t s) {
    const uint64_t first = s * pg.rows_per_strip;
    const uint64_t left = pg.height - first;
    return static_cast<uint32_t>(left < pg.rows_per_strip ? left : pg.rows_per_strip);
}

// Uncompressed rows first .. first + count - 1. A row counts when the
// strip's declared bytes hold it whole inside the file; others are 0.
void ReadPlainRows(void* ctx, uint64_t first, uint64_t count) {
    PageJob& job = *static_cast<PageJob*>(ctx);
    const CodecTiffReader& r = *job.reader;
    const TiffPage& pg = *job.page;
    for (uint64_t y = first; y < first + count;) {
        const uint32_t s = static_cast<uint32_t>(y / pg.rows_per_strip);
        const uint64_t in_strip = y % pg.rows_per_strip;
        const StripSpan span = StripOf(r, pg, s);
        const uint64_t whole = span.bytes / pg.row_bytes;  // rows of the strip that are there
        uint8_t* dest = job.frame + y * job.frame_row;
        if (in_strip >= whole) {
            memset(dest, 0, job.frame_row);
            ++y;
            continue;
        }
        // The rows of this strip and range that are there, in one go.
        uint64_t n = whole - in_strip;
        if (n > first + count - y) n = first + count - y;
        const uint64_t offset = span.offset + in_strip * pg.row_bytes;
        if (job.same_layout) {
            ReadBytes(r, offset, n * pg.row_bytes, dest);
            for (uint64_t i = 0; i < n; ++i) FixRowInPlace(pg, r.big_endian, dest + i * job.frame_row);
        } else {
            for (uint64_t i = 0; i < n; ++i)
                ConvertRow(r, pg, r.data + offset + i * pg.row_bytes, job.bpp, dest + i * job.frame_row);
        }
        y += n;
    }
}

// Compressed strips first .. first + count - 1: decoded into the frame when
// the layouts agree, else through a scratch strip.
void ReadCodedStrips(void* ctx, uint64_t first, uint64_t count) {
    PageJob& job = *static_cast<PageJob*>(ctx);
    const CodecTiffReader& r = *job.reader;
    const TiffPage& pg = *job.page;
    uint8_t* scratch = nullptr;
    uint64_t scratch_size = 0;
    uint8_t* input = nullptr;  // a strip's data when read from the file
    uint64_t input_size = 0;
    for (uint64_t s = first; s < first + count; ++s) {
        const uint64_t rows = StripRows(pg, s);
        const uint64_t y0 = s * pg.rows_per_strip;
        const StripSpan span = StripOf(r, pg, static_cast<uint32_t>(s));
        const uint64_t need = rows * pg.row_bytes;
        const uint8_t* in = r.data + span.offset;
        if (r.fd >= 0 && span.bytes) {
            if (span.bytes > input_size) {
                free(input);
                input = static_cast<uint8_t*>(malloc(span.bytes));
                input_size = input ? span.bytes : 0;
            }
            if (input) {
                ReadBytes(r, span.offset, span.bytes, input);
                in = input;
            }
        }
        uint64_t rows_done = 0;
        if (job.same_layout) {
            uint8_t* dest = job.frame + y0 * job.frame_row;
            const uint64_t produced = span.bytes ? DecodeStrip(pg, in, span.bytes, dest, need) : 0;
            rows_done = produced / pg.row_bytes;
            memset(dest + rows_done * pg.row_bytes, 0, need - rows_done * pg.row_bytes);
            const bool native16 = pg.bits == 16 && !r.big_endian;
            for (uint64_t i = 0; i < rows_done; ++i) {
                uint8_t* row = dest + i * pg.row_bytes;
                if (pg.predictor == 2) {
                    if (native16) {
                        UndoPredictorNative16(pg, row);
                    } else {
                        UndoPredictor(pg, r.big_endian, row);
                    }
                }
                FixRowInPlace(pg, r.big_endian, row);
            }
            continue;
        }
        // The scratch holds no more than the strip's data can decode to.
        uint64_t capacity = DecodedBound(pg.compression, span.bytes);
        if (capacity > need) capacity = need;
        if (span.bytes && capacity > scratch_size) {
            free(scratch);
            scratch = static_cast<uint8_t*>(malloc(capacity));
            scratch_size = scratch ? capacity : 0;
            if (!scratch) job.failed = true;
        }
        if (scratch && span.bytes) rows_done = DecodeStrip(pg, in, span.bytes, scratch, capacity) / pg.row_bytes;
        for (uint64_t i = 0; i < rows; ++i) {
            uint8_t* raw = i < rows_done ? scratch + i * pg.row_bytes : nullptr;
            if (raw && pg.predictor == 2) UndoPredictor(pg, r.big_endian, raw);
            ConvertRow(r, pg, raw, job.bpp, job.frame + (y0 + i) * job.frame_row);
        }
    }
    free(scratch);
    free(input);
}

bool ReadPage(const CodecTiffReader& r, const TiffPage& pg, uint64_t bpp, uint8_t* frame) {
    PageJob job;
    job.reader = &r;
    job.page = &pg;
    job.bpp = bpp;
    job.frame = frame;
    job.frame_row = uint64_t{pg.width} * bpp;
    job.same_layout = SameLayout(pg, bpp);
    if (pg.compression == 1) {
        PoolParallelFor(ReadPlainRows, &job, pg.height);
    } else {
        PoolParallelFor(ReadCodedStrips, &job, pg.strip_count);
    }
    return !job.failed;
}

// ---------------------------------------------------------------------------
// Writing.

void Put16(uint8_t* p, uint16_t v) { memcpy(p, &v, 2); }
void Put32(uint8_t* p, uint32_t v) { memcpy(p, &v, 4); }

void PutEntry(uint8_t*& p, uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
    Put16(p, tag);
    Put16(p + 2, type);
    Put32(p + 4, count);
    Put32(p + 8, 0);
    if (type == 3 && count == 1) {
        Put16(p + 8, static_cast<uint16_t>(value));
    } else {
        Put32(p + 8, value);
    }
    p += 12;
}

constexpr uint16_t kShort = 3;
constexpr uint16_t kLong = 4;
constexpr uint64_t kDirectoryBytes = 2 + 10 * 12 + 4;

// The directory of a page at `pos` and, for RGB pages, its two value tables.
uint64_t BuildDirectory(uint8_t* out, uint64_t pos, uint64_t width, uint64_t height, uint64_t bpp) {
    const bool rgb = bpp == 3 || bpp == 6 || bpp == 12;
    const uint32_t sample_bits = static_cast<uint32_t>(rgb ? 8 * bpp / 3 : 8 * bpp);
    const uint32_t sample_format = sample_bits == 32 ? 3 : 1;
    const uint32_t tables = static_cast<uint32_t>(pos + kDirectoryBytes);
    const uint32_t data = static_cast<uint32_t>(pos + kDirectoryBytes + (rgb ? 12 : 0));
    uint8_t* p = out;
    Put16(p, 10);
    p += 2;
    PutEntry(p, 256, kLong, 1, static_cast<uint32_t>(width));
    PutEntry(p, 257, kLong, 1, static_cast<uint32_t>(height));
    PutEntry(p, 258, kShort, rgb ? 3 : 1, rgb ? tables : sample_bits);
    PutEntry(p, 259, kShort, 1, 1);
    PutEntry(p, 262, kShort, 1, rgb ? 2 : 1);
    PutEntry(p, 273, kLong, 1, data);
    PutEntry(p, 277, kShort, 1, rgb ? 3 : 1);
    PutEntry(p, 278, kLong, 1, static_cast<uint32_t>(height));
    PutEntry(p, 279, kLong, 1, static_cast<uint32_t>(width * height * bpp));
    PutEntry(p, 339, kShort, rgb ? 3 : 1, rgb ? tables + 6 : sample_format);
    Put32(p, 0);  // next directory
    p += 4;
    if (rgb) {
        for (int i = 0; i < 3; ++i, p += 2) Put16(p, static_cast<uint16_t>(sample_bits));
        for (int i = 0; i < 3; ++i, p += 2) Put16(p, static_cast<uint16_t>(sample_format));
    }
    return static_cast<uint64_t>(p - out);
}

// 32-bit samples go out as floats of value / (2^32 - 1).
bool WriteFloatSamples(FILE* f, const uint8_t* samples, uint64_t count) {
    float chunk[4096];
    while (count > 0) {
        const uint64_t n = count < 4096 ? count : 4096;
        for (uint64_t i = 0; i < n; ++i) {
            uint32_t v;
            memcpy(&v, samples + 4 * i, 4);
            chunk[i] = static_cast<float>(v / 4294967295.0);
        }
        if (fwrite(chunk, 4, n, f) != n) return false;
        samples += 4 * n;
        count -= n;
    }
    return true;
}

bool WritePage(CodecTiffWriter* w, const codec_file_info& info, const uint8_t* pixels) {
    const uint64_t bpp = info.bytes_per_pixel;
    if (!codec_valid_bytes_per_pixel(bpp)) return false;
    const uint64_t limit = 0xFFFFFFFFu;
    uint64_t data_bytes;
    if (info.width > limit || info.height > limit || __builtin_mul_overflow(info.width, info.height, &data_bytes) ||
        __builtin_mul_overflow(data_bytes, bpp, &data_bytes) || data_bytes > limit)
        return false;
    uint8_t directory[kDirectoryBytes + 12];
    const uint64_t pos = w->position;
    const uint64_t head = BuildDirectory(directory, pos, info.width, info.height, bpp);
    const uint64_t end = pos + head + data_bytes;
    if (end > limit) return false;
    // Seeking flushes the stream: only after a link was written or a page failed.
    if (ftello(w->stream) != static_cast<off_t>(pos) && fseeko(w->stream, static_cast<off_t>(pos), SEEK_SET) != 0)
        return false;
    if (fwrite(directory, 1, head, w->stream) != head) return false;
    if (bpp == 4 || bpp == 12) {
        if (!WriteFloatSamples(w->stream, pixels, data_bytes / 4)) return false;
    } else if (fwrite(pixels, 1, data_bytes, w->stream) != data_bytes) {
        return false;
    }
    // Only a complete page joins the chain.
    if (w->wrote_page) {
        uint8_t link[4];
        Put32(link, static_cast<uint32_t>(pos));
        if (fseeko(w->stream, static_cast<off_t>(w->link_position), SEEK_SET) != 0 ||
            fwrite(link, 1, 4, w->stream) != 4)
            return false;
    }
    w->link_position = pos + kDirectoryBytes - 4;
    w->position = end;
    w->wrote_page = true;
    return true;
}

}  // namespace

int32_t codec_tiff_open(codec_file* file, const char* path) {
    CodecTiffReader* r = static_cast<CodecTiffReader*>(calloc(1, sizeof(CodecTiffReader)));
    if (!r) return 0;
    if (!LoadFileImage(r, path) || (memcmp(r->data, "II", 2) != 0 && memcmp(r->data, "MM", 2) != 0)) {
        FreeReader(r);
        return 0;
    }
    r->big_endian = r->data[0] == 'M';
    uint32_t directories = 0;
    uint32_t* offsets = WalkDirectories(*r, &directories);
    if (offsets) r->pages = static_cast<TiffPage*>(malloc(directories * sizeof(TiffPage)));
    if (!r->pages) {
        free(offsets);
        FreeReader(r);
        return 0;
    }
    // Every readable page of the first one's size is a frame.
    for (uint32_t i = 0; i < directories; ++i) {
        TiffPage* page = &r->pages[r->page_count];
        if (!ParsePage(*r, offsets[i], page)) continue;
        if (r->page_count > 0 && (page->width != r->pages[0].width || page->height != r->pages[0].height)) continue;
        page->index = i;
        ++r->page_count;
    }
    free(offsets);
    if (r->page_count == 0) {
        FreeReader(r);
        return 0;
    }
    const TiffPage& first = r->pages[0];
    uint64_t frame_bytes;
    if (__builtin_mul_overflow(uint64_t{first.width} * first.height, FrameBytesPerPixel(first), &frame_bytes)) {
        FreeReader(r);
        return 0;
    }
    file->info.image_count = 1;
    file->info.frame_count = r->page_count;
    file->info.bytes_per_pixel = FrameBytesPerPixel(first);
    file->info.width = first.width;
    file->info.height = first.height;
    file->info.frame_interval = 0;
    file->tiff_reader = r;
    return 1;
}

int32_t codec_tiff_read(codec_file* file, uint64_t image, uint64_t first, uint64_t count, void* buffer) {
    const CodecTiffReader* r = file->tiff_reader;
    if (!r || image != 0 || !buffer || first > r->page_count || count > r->page_count - first) return 0;
    const uint64_t bpp = file->info.bytes_per_pixel;
    const uint64_t frame_bytes = file->info.width * file->info.height * bpp;
    uint8_t* out = static_cast<uint8_t*>(buffer);
    bool ok = true;
    for (uint64_t i = 0; i < count; ++i) ok = ReadPage(*r, r->pages[first + i], bpp, out + i * frame_bytes) && ok;
    return ok ? 1 : 0;
}

int32_t codec_tiff_create(codec_file* file, const char* path) {
    if (!codec_valid_bytes_per_pixel(file->info.bytes_per_pixel)) return 0;
    CodecTiffWriter* w = static_cast<CodecTiffWriter*>(calloc(1, sizeof(CodecTiffWriter)));
    if (!w) return 0;
    w->stream = fopen(path, "wb");
    static const uint8_t kHeader[8] = {'I', 'I', 42, 0, 8, 0, 0, 0};
    if (!w->stream || fwrite(kHeader, 1, 8, w->stream) != 8) {
        if (w->stream) fclose(w->stream);
        free(w);
        return 0;
    }
    w->position = 8;
    file->tiff_writer = w;
    return 1;
}

int32_t codec_tiff_write(codec_file* file, uint64_t image, uint64_t count, const void* buffer) {
    CodecTiffWriter* w = file->tiff_writer;
    if (!w || image != 0 || !buffer) return 0;
    const codec_file_info& info = file->info;
    const uint64_t frame_bytes = info.width * info.height * info.bytes_per_pixel;
    const uint8_t* pixels = static_cast<const uint8_t*>(buffer);
    for (uint64_t i = 0; i < count; ++i)
        if (!WritePage(w, info, pixels + i * frame_bytes)) return 0;
    return 1;
}

int32_t codec_tiff_close(codec_file* file) {
    int32_t result = 1;
    if (CodecTiffReader* r = file->tiff_reader) {
        FreeReader(r);
        file->tiff_reader = nullptr;
    }
    if (CodecTiffWriter* w = file->tiff_writer) {
        if (fclose(w->stream) != 0) result = 0;
        free(w);
        file->tiff_writer = nullptr;
    }
    return result;
}
