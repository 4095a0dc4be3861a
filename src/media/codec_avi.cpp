// AVI reading: the stream format from "strf" and "strh", the frame index
// from the OpenDML super index, "idx1" or a scan of the frame chunks, the
// per-codec frame decoders, and the facade's dispatchers. Every offset and
// size taken from the file is checked against the file before it is used.
#include <immintrin.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "image/pool.h"
#include "media/codec_avi.h"
#include "media/codec_formats.h"
#include "media/codec_mem.h"

namespace {

constexpr uint32_t kRiff = RiffFourcc("RIFF");
constexpr uint32_t kList = RiffFourcc("LIST");
constexpr uint32_t kStrf = RiffFourcc("strf");
constexpr uint32_t kStrh = RiffFourcc("strh");
constexpr uint32_t kVids = RiffFourcc("vids");
constexpr uint32_t kAvih = RiffFourcc("avih");
constexpr uint32_t kDmlh = RiffFourcc("dmlh");
constexpr uint32_t kIdx1 = RiffFourcc("idx1");
constexpr uint32_t kIndx = RiffFourcc("indx");
constexpr uint32_t kIx00 = RiffFourcc("ix00");
constexpr uint32_t kMovi = RiffFourcc("movi");
constexpr uint32_t kAvix = RiffFourcc("AVIX");
constexpr uint32_t k00db = RiffFourcc("00db");
constexpr uint32_t k00dc = RiffFourcc("00dc");
constexpr uint32_t kMjpgTag = RiffFourcc("MJPG");
constexpr uint32_t kPngTag = RiffFourcc("png ");
constexpr uint32_t kI420Tag = RiffFourcc("I420");

bool IsVideoChunk(uint32_t id) { return id == k00db || id == k00dc; }

// ---- Stream format -------------------------------------------------------

uint64_t I420Bytes(uint64_t width, uint64_t height) {
    return width * height + 2 * ((width + 1) / 2) * ((height + 1) / 2);
}

// Bitmap header, palette and frame codec of the first "strf".
bool ReadFormat(AviStream* s) {
    const RiffFile* f = s->riff;
    const RiffChunk* strf = riff_find_first(f, kStrf, 0);
    uint8_t bi[40];
    if (!strf || strf->size < 40 || !riff_read_data(f, strf, 0, bi, 40)) return false;
    const int32_t width = static_cast<int32_t>(CodecLe32(bi + 4));
    int64_t height = static_cast<int32_t>(CodecLe32(bi + 8));
    const uint32_t bit_count = CodecLe16(bi + 14);
    const uint32_t compression = CodecLe32(bi + 16);
    if (width < 1 || height == 0) return false;
    if (height < 0) {
        s->top_down = 1;
        height = -height;
    }
    if (height > INT32_MAX) return false;
    if (bit_count != 8 && bit_count != 12 && bit_count != 24 && bit_count != 32) return false;
    s->width = static_cast<uint32_t>(width);
    s->height = static_cast<uint32_t>(height);
    s->bit_count = bit_count;
    s->stride = ((static_cast<uint64_t>(bit_count) * s->width + 7) / 8 + 3) & ~uint64_t{3};

    if (bit_count == 8) {
        // More than 256 colours cannot index 8-bit pixels: the rest are cut.
        uint32_t colours = CodecLe32(bi + 32);
        if (colours == 0 || colours > 256) colours = 256;
        if (strf->size < 40 + 4 * colours) return false;
        uint8_t entries[1024];
        if (!riff_read_data(f, strf, 40, entries, 4 * colours)) return false;
        s->grey = 1;
        for (uint32_t i = 0; i < colours; ++i) {
            const uint8_t* e = entries + 4 * i;  // blue, green, red, reserved
            s->palette[i] = AviRgb{e[2], e[1], e[0]};
            if (e[0] != e[1] || e[1] != e[2]) s->grey = 0;
        }
    }

    if (compression == 0) {
        s->codec = kAviRaw;
    } else if ((compression == 4 || compression == kMjpgTag) && bit_count != 12) {
        s->codec = kAviMjpg;
    } else if ((compression == 5 || compression == kPngTag) && bit_count != 12) {
        s->codec = kAviPng;
    } else if (compression == kI420Tag && bit_count == 12) {
        s->codec = kAviI420;
    } else {
        codec_note_unsupported();
        return false;
    }
    return true;
}

// Frame interval from the first video stream header. Streams slower than
// one frame a second keep their exact interval.
bool ReadRate(AviStream* s) {
    const RiffFile* f = s->riff;
    for (const RiffChunk* c = riff_find_first(f, kStrh, 0); c; c = riff_find(c, kStrh, 0)) {
        uint8_t h[28];
        if (!riff_read_data(f, c, 0, h, 4)) return false;
        if (CodecLe32(h) != kVids) continue;
        if (!riff_read_data(f, c, 0, h, 28)) return false;
        const uint64_t scale = CodecLe32(h + 20);
        const uint64_t rate = CodecLe32(h + 24);
        if (scale == 0 || rate == 0) return false;
        const uint64_t fps = rate / scale;
        s->frame_interval = fps ? 1000000 / fps : scale * 1000000 / rate;
        // Past a million frames a second the interval would read 0, which
        // no caller can play: the shortest interval stands for it.
        if (s->frame_interval == 0) s->frame_interval = 1;
        return true;
    }
    return false;  // no video stream header
}

bool IsOpenDml(const RiffFile* f) {
    for (const RiffChunk* c = f->first; c; c = c->next)
        if (c->list_type == kAvix) return true;
    return false;
}

// The whole data of a chunk; null when it cannot be read. Chunks lie inside
// the file, so the size is bounded by it.
uint8_t* LoadChunk(const RiffFile* f, const RiffChunk* c) {
    uint8_t* data = static_cast<uint8_t*>(malloc(c->size ? c->size : 1));
    if (data && !riff_read_data(f, c, 0, data, c->size)) {
        free(data);
        return nullptr;
    }
    return data;
}

// Frames the headers declare: the OpenDML total, else (in a file without
// further RIFF segments, whose "avih" counts all frames) the main header's,
// else the video entries of "idx1". 0 when none says.
uint64_t DeclaredFrames(const AviStream* s, const uint8_t* idx1, uint64_t idx1_size) {
    const RiffFile* f = s->riff;
    uint8_t v[4];
    if (const RiffChunk* c = riff_find_first(f, kDmlh, 0); c && riff_read_data(f, c, 0, v, 4) && CodecLe32(v))
        return CodecLe32(v);
    if (IsOpenDml(f)) return 0;
    if (const RiffChunk* c = riff_find_first(f, kAvih, 0); c && riff_read_data(f, c, 16, v, 4) && CodecLe32(v))
        return CodecLe32(v);
    uint64_t frames = 0;
    for (uint64_t i = 0; i + 16 <= idx1_size; i += 16)
        if (IsVideoChunk(CodecLe32(idx1 + i))) ++frames;
    return frames;
}

// ---- Frame index ---------------------------------------------------------

struct IndexBuild {
    AviStream* s;
    uint64_t limit;  // entries wanted at most
    bool Full() const { return s->index.count >= limit; }
    // Adds a frame whose data lies wholly inside the file; empty frames
    // and frames past the end are left out.
    bool Add(uint64_t offset, uint64_t size, bool sized_by_header) {
        const uint64_t file_size = s->riff->size;
        if (size == 0 || offset >= file_size) return true;
        if (sized_by_header) {
            size = std::min(size, file_size - offset);
        } else if (size > file_size - offset) {
            return true;
        }
        return s->index.Append(AviIndexEntry{offset, static_cast<uint32_t>(size), sized_by_header ? 1u : 0u});
    }
};

// OpenDML: the super index "indx" of the video stream and the standard
// indexes "ix00" it points at. False when there is no usable super index
// or a standard index is broken.
bool IndexFromOpenDml(IndexBuild& b) {
    const RiffFile* f = b.s->riff;
    const RiffChunk* indx = riff_find_first(f, kIndx, 0);
    uint8_t h[24];
    for (; indx; indx = riff_find(indx, kIndx, 0))
        if (riff_read_data(f, indx, 0, h, 24) && IsVideoChunk(CodecLe32(h + 8))) break;
    if (!indx) return false;
    const uint64_t entries = std::min<uint64_t>(CodecLe32(h + 4), (indx->size - 24) / 16);
    if (entries == 0) return false;
    uint8_t* super = LoadChunk(f, indx);
    if (!super) return false;
    bool ok = true;
    for (uint64_t e = 0; ok && e < entries && !b.Full(); ++e) {
        const uint8_t* se = super + 24 + 16 * e;
        const uint64_t at = RiffLe64(se);
        const uint32_t super_size = CodecLe32(se + 8);
        uint8_t ix[32];
        if (at > f->size || f->size - at < 32 || !riff_read_at(f, at, ix, 32)) {
            ok = false;
            break;
        }
        const uint64_t size = CodecLe32(ix + 4);
        const uint64_t n = CodecLe32(ix + 12);
        const uint64_t base = RiffLe64(ix + 20);
        if (CodecLe32(ix) != kIx00 || size > super_size || n == 0 || size < 24 + 8 * n ||
            !IsVideoChunk(CodecLe32(ix + 16)) || size > f->size - at - 8) {
            ok = false;
            break;
        }
        uint8_t* pairs = static_cast<uint8_t*>(malloc(8 * n));
        ok = pairs && riff_read_at(f, at + 32, pairs, 8 * n);
        for (uint64_t i = 0; ok && i < n && !b.Full(); ++i) {
            const uint64_t offset = base + CodecLe32(pairs + 8 * i);
            // Bit 31 of the size marks frames that are not key frames.
            const uint64_t bytes = CodecLe32(pairs + 8 * i + 4) & 0x7FFFFFFFu;
            if (offset < base) continue;  // wrapped
            ok = b.Add(offset, bytes, false);
        }
        free(pairs);
    }
    free(super);
    return ok && b.s->index.count > 0;
}

bool ChunkIdAt(const RiffFile* f, uint64_t offset) {
    uint8_t id[4];
    if (offset > f->size || f->size - offset < 4 || !riff_read_at(f, offset, id, 4)) return false;
    auto pair = [&](const char* t) { return id[2] == t[0] && id[3] == t[1]; };
    return (id[0] == 'i' && id[1] == 'x') || pair("db") || pair("dc") || pair("wb") || pair("tx");
}

// "idx1": offsets absolute or relative to the word "movi", told apart by
// the chunk id found where the first entry points. The data size of a
// frame is the one in its chunk header, bounded by the entry's size: some
// writers count the header in the entry, others do not.
bool IndexFromIdx1(IndexBuild& b, const uint8_t* idx1, uint64_t idx1_size) {
    const RiffFile* f = b.s->riff;
    if (idx1_size < 16) return false;
    const uint64_t first = CodecLe32(idx1 + 8);
    uint64_t base = 0;
    if (!ChunkIdAt(f, first)) {
        const RiffChunk* movi = riff_find_first(f, kList, kMovi);
        if (!movi || !ChunkIdAt(f, movi->offset + 8 + first)) return false;
        base = movi->offset + 8;
    }
    for (uint64_t i = 0; i + 16 <= idx1_size && !b.Full(); i += 16) {
        const uint8_t* e = idx1 + i;
        if (!IsVideoChunk(CodecLe32(e))) continue;
        if (!b.Add(base + CodecLe32(e + 8) + 8, CodecLe32(e + 12), true)) return false;
    }
    return b.s->index.count > 0;
}

// Every "00db" chunk in file order, else every "00dc" chunk. False when
// memory runs out.
bool IndexFromScan(IndexBuild& b, bool* found) {
    const RiffFile* f = b.s->riff;
    *found = false;
    for (uint32_t id : {k00db, k00dc}) {
        for (const RiffChunk* c = riff_find_first(f, id, 0); c && !b.Full(); c = riff_find(c, id, 0)) {
            *found = true;
            if (!b.Add(c->offset + 8, c->size, false)) return false;
        }
        if (*found) return true;
    }
    return true;
}

// Builds the index by the first way that applies. The declared frame count
// bounds it (0: as many as are found, which a recording that stopped before
// its headers were finished needs); frames found empty are left out, so the
// stream's frame count is the number of frames indexed.
bool BuildIndex(AviStream* s) {
    const RiffFile* f = s->riff;
    const RiffChunk* idx1_chunk = riff_find_first(f, kIdx1, 0);
    uint8_t* idx1 = nullptr;
    uint64_t idx1_size = 0;
    if (idx1_chunk) {
        idx1 = LoadChunk(f, idx1_chunk);
        if (!idx1) return false;
        idx1_size = idx1_chunk->size;
    }
    // Every frame takes at least its 8-byte chunk header.
    const uint64_t most = std::min<uint64_t>(f->size / 8, UINT32_MAX);
    const uint64_t declared = DeclaredFrames(s, idx1, idx1_size);
    IndexBuild b{s, declared ? std::min(declared, most) : most};

    bool ok = true;
    bool done = IsOpenDml(f) ? IndexFromOpenDml(b) : idx1 && IndexFromIdx1(b, idx1, idx1_size);
    free(idx1);
    if (!done) {
        s->index.count = 0;
        bool found;
        ok = IndexFromScan(b, &found);
        // Without any frame chunk the file is no movie, unless its headers
        // say it has no frames.
        if (ok && !found && declared) ok = false;
    }
    s->frame_count = static_cast<uint32_t>(s->index.count);
    return ok;
}

// ---- Frame data ----------------------------------------------------------

bool GrowScratch(AviStream* s, uint64_t bytes) {
    if (bytes <= s->scratch_size) return true;
    uint8_t* more = static_cast<uint8_t*>(realloc(s->scratch, bytes));
    if (!more) return false;
    s->scratch = more;
    s->scratch_size = bytes;
    return true;
}

// Exact data size of entry n.
bool EntrySize(const AviStream* s, uint32_t n, uint64_t* size) {
    const AviIndexEntry& e = s->index.items[n];
    *size = e.size;
    if (!e.sized_by_header) return true;
    uint8_t header[8];
    if (!riff_read_at(s->riff, e.offset - 8, header, 8)) return false;
    *size = std::min<uint64_t>(*size, CodecLe32(header + 4));
    return *size > 0;
}

// Entry n's data read whole into the scratch buffer.
bool LoadFrame(AviStream* s, uint32_t n, const uint8_t** data, uint64_t* size) {
    const AviIndexEntry& e = s->index.items[n];
    if (!e.sized_by_header) {
        if (!GrowScratch(s, e.size) || !riff_read_at(s->riff, e.offset, s->scratch, e.size)) return false;
        *data = s->scratch;
        *size = e.size;
        return true;
    }
    // The chunk header and the data in one read.
    if (!GrowScratch(s, uint64_t{e.size} + 8) || !riff_read_at(s->riff, e.offset - 8, s->scratch, uint64_t{e.size} + 8))
        return false;
    *data = s->scratch + 8;
    *size = std::min<uint64_t>(e.size, CodecLe32(s->scratch + 4));
    return *size > 0;
}

// ---- Row converters ------------------------------------------------------

// What 8-bit pixels become: indices as stored, the palette's R (grey
// streams) or the palette's R, G, B.
enum class Out { Index, Grey, Rgb };

void BgrToRgbPlain(const uint8_t* in, uint8_t* out, uint32_t width) {
    for (uint32_t x = 0; x < width; ++x, in += 3, out += 3) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
    }
}

void BgrxToRgbPlain(const uint8_t* in, uint8_t* out, uint32_t width) {
    for (uint32_t x = 0; x < width; ++x, in += 4, out += 3) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
    }
}

// Five pixels a step; the 16th byte stored is rewritten by the next step,
// so the vector loop stops while 16 bytes remain on both sides.
__attribute__((target("ssse3"))) void BgrToRgbSsse3(const uint8_t* in, uint8_t* out, uint32_t width) {
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    uint32_t x = 0;
    for (; x + 6 <= width; x += 5) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 3 * x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * x), _mm_shuffle_epi8(v, order));
    }
    BgrToRgbPlain(in + 3 * x, out + 3 * x, width - x);
}

__attribute__((target("ssse3"))) void BgrxToRgbSsse3(const uint8_t* in, uint8_t* out, uint32_t width) {
    const __m128i order = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    uint32_t x = 0;
    for (; x + 6 <= width; x += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * x), _mm_shuffle_epi8(v, order));
    }
    BgrxToRgbPlain(in + 4 * x, out + 3 * x, width - x);
}

using RowFn = void (*)(const uint8_t*, uint8_t*, uint32_t);

RowFn BgrxRow() {
    static const RowFn fn = __builtin_cpu_supports("ssse3") ? BgrxToRgbSsse3 : BgrxToRgbPlain;
    return fn;
}

}  // namespace

void AviSwapRedBlue(const uint8_t* in, uint8_t* out, uint32_t width) {
    static const RowFn fn = __builtin_cpu_supports("ssse3") ? BgrToRgbSsse3 : BgrToRgbPlain;
    fn(in, out, width);
}

namespace {

// One stored row of a raw frame into one output row.
void ConvertRawRow(const AviStream& s, Out out, const uint8_t* in, uint8_t* dest) {
    const uint32_t w = s.width;
    switch (s.bit_count) {
    case 24: AviSwapRedBlue(in, dest, w); return;
    case 32: BgrxRow()(in, dest, w); return;
    default: break;
    }
    if (out == Out::Index || (out == Out::Grey && s.identity_palette)) {
        memcpy(dest, in, w);
    } else if (out == Out::Grey) {
        for (uint32_t x = 0; x < w; ++x) dest[x] = s.palette[in[x]].r;
    } else {
        for (uint32_t x = 0; x < w; ++x, dest += 3) memcpy(dest, &s.palette[in[x]], 3);
    }
}

// Stored rows, read per band of rows into a buffer of the worker's own that
// stays in cache while it is converted.
struct RawJob {
    const AviStream* s;
    Out out;
    uint64_t data;  // file offset of the first stored row
    uint8_t* dest;
    uint64_t dest_row;
    uint32_t band_rows;
    std::atomic<bool> failed;
};

struct BandBuffer {
    uint8_t* bytes = nullptr;
    uint64_t size = 0;
    ~BandBuffer() { free(bytes); }
    uint8_t* Get(uint64_t want) {
        if (want > size) {
            uint8_t* more = static_cast<uint8_t*>(realloc(bytes, want));
            if (!more) return nullptr;
            bytes = more;
            size = want;
        }
        return bytes;
    }
};

void RawBands(void* ctx, uint64_t first, uint64_t count) {
    RawJob& job = *static_cast<RawJob*>(ctx);
    const AviStream& s = *job.s;
    thread_local BandBuffer buffer;
    for (uint64_t band = first; band < first + count && !job.failed.load(std::memory_order_relaxed); ++band) {
        const uint64_t y0 = band * job.band_rows;
        const uint64_t rows = std::min<uint64_t>(job.band_rows, s.height - y0);
        // Output rows y0 .. y0 + rows - 1 are stored rows y0 .. (top-down)
        // or height - y0 - rows .. height - y0 - 1 (bottom-up).
        const uint64_t stored = s.top_down ? y0 : s.height - y0 - rows;
        uint8_t* in = buffer.Get(rows * s.stride);
        if (!in || !riff_read_at(s.riff, job.data + stored * s.stride, in, rows * s.stride)) {
            job.failed = true;
            return;
        }
        for (uint64_t r = 0; r < rows; ++r) {
            const uint64_t y = y0 + r;
            const uint64_t from = s.top_down ? r : rows - 1 - r;
            ConvertRawRow(s, job.out, in + from * s.stride, job.dest + y * job.dest_row);
        }
    }
}

uint64_t OutBytesPerPixel(const AviStream& s, Out out) {
    if (s.bit_count != 8) return 3;
    return out == Out::Rgb ? 3 : 1;
}

bool ReadRaw(AviStream* s, uint32_t n, Out out, uint8_t* dest) {
    uint64_t size;
    if (!EntrySize(s, n, &size) || size < s->stride * s->height) return false;
    RawJob job{s, out, s->index.items[n].offset, dest, s->width * OutBytesPerPixel(*s, out), 1, {false}};
    // Bands of about 256 KiB.
    job.band_rows = static_cast<uint32_t>(std::clamp<uint64_t>((256u << 10) / s->stride, 1, s->height));
    PoolParallelFor(RawBands, &job, (s->height + job.band_rows - 1) / job.band_rows);
    return !job.failed;
}

// I420 planes: Y of width x height, then U and V of ceil(width/2) x
// ceil(height/2) each, rows top-down.
struct I420Job {
    const AviStream* s;
    const uint8_t* frame;
    uint8_t* dest;
};

uint8_t Clamp255(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

void I420Rows(void* ctx, uint64_t first, uint64_t count) {
    const I420Job& job = *static_cast<const I420Job*>(ctx);
    const uint64_t w = job.s->width, h = job.s->height;
    const uint64_t cw = (w + 1) / 2, ch = (h + 1) / 2;
    const uint8_t* u_plane = job.frame + w * h;
    const uint8_t* v_plane = u_plane + cw * ch;
    for (uint64_t y = first; y < first + count; ++y) {
        const uint8_t* yr = job.frame + y * w;
        const uint8_t* ur = u_plane + (y / 2) * cw;
        const uint8_t* vr = v_plane + (y / 2) * cw;
        uint8_t* out = job.dest + y * w * 3;
        for (uint64_t x = 0; x < w; ++x, out += 3) {
            const int32_t yy = 1164 * (yr[x] - 16);
            const int32_t u = ur[x / 2] - 128;
            const int32_t v = vr[x / 2] - 128;
            out[0] = Clamp255((yy + 1793 * v) / 1000);
            out[1] = Clamp255((yy - 213 * u - 533 * v) / 1000);
            out[2] = Clamp255((yy + 2112 * u) / 1000);
        }
    }
}

bool ReadI420(AviStream* s, uint32_t n, uint8_t* dest) {
    const uint64_t need = I420Bytes(s->width, s->height);
    uint64_t size;
    if (!EntrySize(s, n, &size) || size < need) return false;
    if (!GrowScratch(s, need) || !riff_read_at(s->riff, s->index.items[n].offset, s->scratch, need)) return false;
    I420Job job{s, s->scratch, dest};
    PoolParallelFor(I420Rows, &job, s->height);
    return true;
}

// Decodes frame n into `dest`.
bool DecodeFrame(AviStream* s, uint32_t n, Out out, uint8_t* dest) {
    if (n >= s->frame_count || !s->index.items) return false;
    switch (s->codec) {
    case kAviRaw:
    case kAviI420:
        if (s->bit_count == 12) return ReadI420(s, n, dest);
        return ReadRaw(s, n, out, dest);
    case kAviMjpg:
    case kAviPng: {
        // Grey pictures set the grey flag and the identity palette at open.
        const uint32_t channels = s->bit_count == 8 ? 1 : 3;
        if (channels == 1 && out == Out::Rgb) return false;
        const uint8_t* data;
        uint64_t size;
        if (!LoadFrame(s, n, &data, &size)) return false;
        if (s->codec == kAviMjpg) return codec_jpeg_mem_decode_into(s->width, s->height, channels, data, size, dest);
        return codec_png_mem_decode_into(s->width, s->height, channels, data, size, dest);
    }
    }
    return false;
}

// The first frame of an MJPG or PNG stream tells whether its pictures are
// grey (8 bits, with the identity palette) or colour (24 bits). Its own
// size must be the stream's: frames of another size cannot be decoded, and
// a format that claims more only makes the caller allocate for nothing.
bool ProbeFirstFrame(AviStream* s) {
    if ((s->codec != kAviMjpg && s->codec != kAviPng) || s->frame_count == 0) return true;
    const uint8_t* data;
    uint64_t size;
    if (!LoadFrame(s, 0, &data, &size)) return false;
    bool grey;
    uint32_t width = 0, height = 0;
    if (s->codec == kAviMjpg) {
        const uint32_t components = codec_jpeg_mem_probe(data, size, &width, &height);
        if (components == 0) return false;
        grey = components == 1;
    } else {
        const int32_t type = codec_png_mem_probe(data, size, &width, &height);
        if (type < 0) return false;
        grey = type == PNG_COLOR_TYPE_GRAY || type == PNG_COLOR_TYPE_GRAY_ALPHA;
    }
    if (width != s->width || height != s->height) return false;
    s->bit_count = grey ? 8 : 24;
    s->grey = grey ? 1 : 0;
    if (grey)
        for (int v = 0; v < 256; ++v) s->palette[v] = AviRgb{uint8_t(v), uint8_t(v), uint8_t(v)};
    return true;
}

// A stream whose frames cannot fit the file is refused before anyone
// allocates a frame of its size: raw frames are stored whole, and a
// compressed picture takes at least a bit per block of 32 x 32 pixels.
bool FrameFitsFile(const AviStream* s) {
    if (s->frame_count == 0) return true;
    const uint64_t file_size = s->riff->size;
    if (s->codec == kAviMjpg || s->codec == kAviPng)
        return uint64_t{s->width} * s->height / 8192 <= file_size;
    const uint64_t need = s->bit_count == 12 ? I420Bytes(s->width, s->height) : s->stride * s->height;
    return need <= file_size;
}

void FreeReader(AviStream* s) {
    riff_close(s->riff);
    s->index.Free();
    free(s->scratch);
    free(s);
}

uint64_t FacadeBytesPerPixel(const AviStream* s) { return s->bit_count == 8 && s->grey ? 1 : 3; }

}  // namespace

AviStream* codec_avi_open(const char* path) {
    if (!path || !*path) return nullptr;
    AviStream* s = static_cast<AviStream*>(calloc(1, sizeof(AviStream)));
    if (!s) return nullptr;
    s->riff = riff_open(path);
    if (!s->riff || !ReadFormat(s) || !ReadRate(s) || !BuildIndex(s) || !ProbeFirstFrame(s) || !FrameFitsFile(s)) {
        FreeReader(s);
        return nullptr;
    }
    s->identity_palette = 1;
    for (int v = 0; v < 256; ++v)
        if (s->palette[v].r != v) s->identity_palette = 0;
    return s;
}

int32_t codec_avi_read_frame(AviStream* stream, uint32_t n, void* buffer) {
    if (!stream || !stream->riff || !buffer) return 0;
    return DecodeFrame(stream, n, Out::Index, static_cast<uint8_t*>(buffer)) ? 1 : 0;
}

int32_t codec_avi_close(AviStream* stream) {
    if (!stream) return 1;
    if (stream->writer) return codec_avi_finish_writer(stream);
    FreeReader(stream);
    return 1;
}

int32_t codec_avi_open_file(codec_file* file, const char* path) {
    AviStream* s = codec_avi_open(path);
    if (!s) return 0;
    file->info.image_count = 1;
    file->info.frame_count = s->frame_count;
    file->info.bytes_per_pixel = FacadeBytesPerPixel(s);
    file->info.width = s->width;
    file->info.height = s->height;
    file->info.frame_interval = s->frame_interval;
    file->avi_reader = s;
    return 1;
}

int32_t codec_avi_read_frames(codec_file* file, uint64_t image, uint64_t first, uint64_t count, void* buffer) {
    AviStream* s = file->avi_reader;
    if (!s || image != 0 || !buffer || first > s->frame_count || count > s->frame_count - first) return 0;
    // 8-bit frames come out through the palette: grey, or R, G, B.
    const Out out = s->bit_count != 8 ? Out::Index : s->grey ? Out::Grey : Out::Rgb;
    const uint64_t frame_bytes = uint64_t{s->width} * s->height * FacadeBytesPerPixel(s);
    uint8_t* dest = static_cast<uint8_t*>(buffer);
    for (uint64_t i = 0; i < count; ++i)
        if (!DecodeFrame(s, static_cast<uint32_t>(first + i), out, dest + i * frame_bytes)) return 0;
    return 1;
}

int32_t codec_avi_close_file(codec_file* file) {
    int32_t result = 1;
    if (file->avi_reader) {
        codec_avi_close(file->avi_reader);
        file->avi_reader = nullptr;
    }
    if (file->avi_writer) {
        result = codec_avi_close(file->avi_writer);
        file->avi_writer = nullptr;
    }
    return result;
}
