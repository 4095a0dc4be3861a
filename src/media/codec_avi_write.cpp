// AVI writing: one video stream of 8-bit grey or 24-bit RGB frames, stored
// raw ("00db"), as JPEG or as PNG ("00dc"). The first RIFF chunk is a
// classic AVI with "idx1"; when it would pass 2 GB the file goes on in
// "RIFF" "AVIX" segments with a standard index "ix00" each, a super index
// "indx" and an "odml" header carved at close from the "JUNK" chunk that
// the header reserves.
//
// Every chunk is written at the recorded end of the file, so that a frame
// whose write failed is overwritten by the next frame or by the indexes.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "media/codec_avi.h"
#include "media/codec_bytes.h"
#include "media/codec_formats.h"
#include "media/codec_mem.h"

namespace {

constexpr uint32_t kDefaultRiffLimit = 0x7FFFFFFF;
constexpr uint32_t kSegmentHeader = 2060;  // "RIFF" "AVIX", "JUNK" of 2028 bytes, "LIST" "movi"
constexpr uint32_t kOdmlBytes = 268;       // "LIST" "odml" holding "dmlh" of 248 bytes

struct AviStdEntry {
    uint32_t offset;  // of the data, from the segment's start
    uint32_t size;
};

struct AviSuperEntry {
    uint64_t offset;  // of the segment's "ix00"
    uint32_t size;
    uint32_t frames;
};

}  // namespace

struct AviWriter {
    int fd;
    uint32_t index_mode;  // 0 automatic, 1 classic only, 2 OpenDML in force
    uint32_t frames;      // written in all segments
    uint64_t end;         // recorded end of the file
    uint32_t reserve;     // offset of the first "movi" list
    uint64_t junk_offset;     // the reserve chunk ...
    uint64_t junk_remaining;  // ... and its size with the header
    uint32_t hdrl_size;
    uint32_t strl_size;
    uint64_t segment_start;
    uint64_t segment_length;  // bytes of the current RIFF chunk so far
    uint64_t frame_bytes;     // frame chunks in the current "movi"
    AviList<uint32_t> classic;  // data size + 8 per frame of the segment
    AviList<AviStdEntry> standard;
    AviList<AviSuperEntry> super;
    uint32_t chunk_id;
    uint64_t limit;  // largest RIFF chunk
    bool broken;     // a segment could not be finished: nothing more is written
    uint8_t* raw;    // one raw frame chunk: header, rows, pad byte
};

namespace {

void Put64(uint8_t* p, uint64_t v) {
    CodecPutLe32(p, static_cast<uint32_t>(v));
    CodecPutLe32(p + 4, static_cast<uint32_t>(v >> 32));
}
void PutTag(uint8_t* p, const char (&tag)[5]) { memcpy(p, tag, 4); }

bool WriteAt(const AviWriter* w, uint64_t offset, const void* data, uint64_t bytes) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (bytes > 0) {
        const size_t step = bytes > (1u << 30) ? (1u << 30) : static_cast<size_t>(bytes);
        const ssize_t put = pwrite(w->fd, p, step, static_cast<off_t>(offset));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        p += put;
        offset += static_cast<uint64_t>(put);
        bytes -= static_cast<uint64_t>(put);
    }
    return true;
}

bool Write32At(const AviWriter* w, uint64_t offset, uint32_t value) {
    uint8_t b[4];
    CodecPutLe32(b, value);
    return WriteAt(w, offset, b, 4);
}

bool WriteZeros(const AviWriter* w, uint64_t offset, uint64_t bytes) {
    static const uint8_t zeros[4096] = {};
    while (bytes > 0) {
        const uint64_t step = bytes < sizeof zeros ? bytes : sizeof zeros;
        if (!WriteAt(w, offset, zeros, step)) return false;
        offset += step;
        bytes -= step;
    }
    return true;
}

// Takes `bytes` from the front of the reserve chunk for a chunk that the
// caller writes at the returned offset; the rest stays "JUNK". 0 when the
// reserve cannot spare them.
uint64_t Carve(AviWriter* w, uint64_t bytes) {
    if (w->junk_remaining < 8 || bytes > w->junk_remaining - 8) return 0;
    const uint64_t at = w->junk_offset;
    uint8_t junk[8];
    PutTag(junk, "JUNK");
    CodecPutLe32(junk + 4, static_cast<uint32_t>(w->junk_remaining - bytes - 8));
    if (!WriteAt(w, at + bytes, junk, 8) || !Write32At(w, 16, w->hdrl_size + static_cast<uint32_t>(bytes)))
        return 0;
    w->hdrl_size += static_cast<uint32_t>(bytes);
    w->junk_offset += bytes;
    w->junk_remaining -= bytes;
    return at;
}

uint32_t Pad(uint64_t size) { return static_cast<uint32_t>(size & 1); }

// Writes the standard index of the current segment at the end of the file.
bool WriteStandardIndex(AviWriter* w) {
    const uint64_t n = w->standard.count;
    const uint64_t bytes = 32 + 8 * n;
    uint8_t* ix = static_cast<uint8_t*>(malloc(bytes));
    if (!ix) return false;
    PutTag(ix, "ix00");
    CodecPutLe32(ix + 4, static_cast<uint32_t>(24 + 8 * n));
    CodecPutLe16(ix + 8, 2);  // longs per entry
    ix[10] = 0;        // index sub-type
    ix[11] = 1;        // index of chunks
    CodecPutLe32(ix + 12, static_cast<uint32_t>(n));
    CodecPutLe32(ix + 16, w->chunk_id);
    Put64(ix + 20, w->segment_start);
    CodecPutLe32(ix + 28, 0);
    for (uint64_t i = 0; i < n; ++i) {
        CodecPutLe32(ix + 32 + 8 * i, w->standard.items[i].offset);
        CodecPutLe32(ix + 36 + 8 * i, w->standard.items[i].size);
    }
    const bool ok = WriteAt(w, w->end, ix, bytes);
    free(ix);
    if (ok) {
        w->end += bytes;
        w->segment_length += bytes;
    }
    return ok;
}

// Writes "idx1" after the first segment's "movi" list. Its sizes count the
// 8-byte chunk header.
bool WriteIdx1(AviWriter* w) {
    const uint64_t n = w->classic.count;
    const uint64_t bytes = 8 + 16 * n;
    uint8_t* idx = static_cast<uint8_t*>(malloc(bytes));
    if (!idx) return false;
    PutTag(idx, "idx1");
    CodecPutLe32(idx + 4, static_cast<uint32_t>(16 * n));
    uint32_t offset = 4;
    for (uint64_t i = 0; i < n; ++i) {
        uint8_t* e = idx + 8 + 16 * i;
        const uint32_t size = w->classic.items[i];
        CodecPutLe32(e, w->chunk_id);
        CodecPutLe32(e + 4, 16);  // key frame
        CodecPutLe32(e + 8, offset);
        CodecPutLe32(e + 12, size);
        offset += size + Pad(size);
    }
    const bool ok = WriteAt(w, w->end, idx, bytes);
    free(idx);
    if (ok) {
        w->end += bytes;
        w->segment_length += bytes;
    }
    return ok;
}

bool AddSuperEntry(AviWriter* w) {
    const uint64_t n = w->standard.count;
    if (n == 0) return false;
    return w->super.Append(AviSuperEntry{w->end, static_cast<uint32_t>(8 * n + 32), static_cast<uint32_t>(n)});
}

// Writes the segment's indexes and sizes; the next segment starts at the
// end of the file.
bool FinishSegment(AviWriter* w) {
    const uint64_t n = w->classic.count;
    const bool opendml = w->index_mode == 2;
    bool ok = true;
    if (w->segment_start == 0) {
        ok = (!opendml || WriteStandardIndex(w)) && WriteIdx1(w) && Write32At(w, 48, static_cast<uint32_t>(n));
    } else {
        ok = WriteStandardIndex(w);
    }
    const uint64_t movi_size = w->segment_start == 0 ? uint64_t{w->reserve} + 4 : w->segment_start + 2052;
    ok = ok && Write32At(w, movi_size, static_cast<uint32_t>(w->frame_bytes + 4 + (opendml ? 8 * n + 32 : 0)));
    ok = ok && Write32At(w, w->segment_start + 4, static_cast<uint32_t>(w->segment_length - 8));
    w->classic.count = 0;
    w->standard.count = 0;
    return ok;
}

bool BeginSegment(AviWriter* w) {
    uint8_t head[kSegmentHeader] = {};
    PutTag(head, "RIFF");
    PutTag(head + 8, "AVIX");
    PutTag(head + 12, "JUNK");
    CodecPutLe32(head + 16, 2028);
    PutTag(head + 2048, "LIST");
    PutTag(head + 2056, "movi");
    if (!WriteAt(w, w->end, head, sizeof head)) return false;
    w->index_mode = 2;
    w->segment_start = w->end;
    w->segment_length = kSegmentHeader;
    w->frame_bytes = 0;
    w->end += kSegmentHeader;
    return true;
}

// Room the reserve must keep, with `segments` segments in all, for the
// super index and the "odml" header written at close.
uint64_t ClosingRoom(uint64_t segments) { return (segments + 2) * 16 + kOdmlBytes + 8; }

// Makes room for a frame chunk of `chunk` bytes (header, data and pad) by
// the index mode's rules; false when the frame cannot be written.
bool RoomForFrame(AviWriter* w, uint64_t chunk) {
    const uint64_t n = w->classic.count;
    uint64_t p = w->segment_length + chunk;
    if (w->index_mode == 1) return p + 16 * n + 24 <= w->limit;
    // The first segment keeps room for "idx1" and its standard index, also
    // when it goes on in OpenDML mode after a frame was refused.
    if (w->segment_start == 0) p += 24 * n + 64;
    if (w->index_mode == 0 && p > w->limit) {
        // A frame that cannot fit even a fresh segment changes nothing.
        if (n == 0) return false;
        w->index_mode = 2;
    }
    if (w->index_mode != 2 || p + 8 * (n + 5) <= w->limit) return true;
    // A new segment, into which the frame must fit with its index.
    if (n == 0 || kSegmentHeader + chunk + 40 > w->limit) return false;
    if (w->junk_remaining < ClosingRoom(w->super.count + 2)) return false;
    if (!AddSuperEntry(w)) return false;
    if (!FinishSegment(w) || !BeginSegment(w)) {
        w->broken = true;
        return false;
    }
    return true;
}

// The frame as stored: raw rows bottom-up in B, G, R order, or compressed.
// Returns the data (raw: inside w->raw, after room for the chunk header)
// and its size; *owned receives a buffer to free.
const uint8_t* EncodeFrame(AviStream* s, const uint8_t* pixels, uint64_t* size, uint8_t** owned) {
    AviWriter* w = s->writer;
    *owned = nullptr;
    if (s->codec == kAviMjpg) return *owned = codec_jpeg_mem_encode(s, pixels, size);
    if (s->codec == kAviPng) return *owned = codec_png_mem_encode(s, pixels, size);
    const uint64_t in_row = uint64_t{s->width} * (s->bit_count / 8);
    uint8_t* data = w->raw + 8;
    for (uint32_t y = 0; y < s->height; ++y) {
        const uint8_t* in = pixels + in_row * (s->height - 1 - y);
        uint8_t* out = data + s->stride * y;
        if (s->bit_count == 24) {
            AviSwapRedBlue(in, out, s->width);
        } else {
            memcpy(out, in, in_row);
        }
    }
    *size = s->stride * s->height;
    return data;
}

bool WriteHeader(AviStream* s, AviWriter* w, uint32_t compression) {
    const uint32_t P = s->bit_count == 8 ? 1024 : 0;
    const uint32_t head_bytes = 234 + P + 8;
    uint8_t head[234 + 1024 + 8] = {};
    const uint32_t interval = static_cast<uint32_t>(s->frame_interval);
    const uint32_t fps = 1000000 / interval;
    PutTag(head, "RIFF");
    PutTag(head + 8, "AVI ");
    PutTag(head + 12, "LIST");
    CodecPutLe32(head + 16, w->hdrl_size);
    PutTag(head + 20, "hdrl");
    PutTag(head + 24, "avih");
    CodecPutLe32(head + 28, 56);
    CodecPutLe32(head + 32, interval);
    CodecPutLe32(head + 36, fps * (s->bit_count / 8) * s->height * s->width);  // a hint; wraps as a u32
    CodecPutLe32(head + 44, 16);  // has an index
    CodecPutLe32(head + 56, 1);   // streams
    CodecPutLe32(head + 64, s->width);
    CodecPutLe32(head + 68, s->height);
    PutTag(head + 88, "LIST");
    CodecPutLe32(head + 92, w->strl_size);
    PutTag(head + 96, "strl");
    PutTag(head + 100, "strh");
    CodecPutLe32(head + 104, 64);
    PutTag(head + 108, "vids");
    PutTag(head + 112, "DIB ");
    // Slower than a frame a second, the rate keeps the exact interval.
    CodecPutLe32(head + 128, fps ? 1 : interval);
    CodecPutLe32(head + 132, fps ? fps : 1000000);
    PutTag(head + 172, "strf");
    CodecPutLe32(head + 176, P + 40);
    CodecPutLe32(head + 180, 40);
    CodecPutLe32(head + 184, s->width);
    CodecPutLe32(head + 188, s->height);  // positive: rows bottom-up
    CodecPutLe16(head + 192, 1);
    CodecPutLe16(head + 194, s->bit_count);
    CodecPutLe32(head + 196, compression);
    CodecPutLe32(head + 200, static_cast<uint32_t>(s->stride * s->height + (s->codec == kAviRaw ? 0 : 1024)));
    CodecPutLe32(head + 212, P ? 256 : 0);
    CodecPutLe32(head + 216, P ? 256 : 0);
    for (uint32_t i = 0; i < P / 4; ++i) {
        uint8_t* e = head + 220 + 4 * i;
        e[0] = s->palette[i].b;
        e[1] = s->palette[i].g;
        e[2] = s->palette[i].r;
    }
    PutTag(head + 220 + P, "strn");
    CodecPutLe32(head + 224 + P, 6);
    memcpy(head + 228 + P, "VIDEO", 6);
    PutTag(head + 234 + P, "JUNK");
    CodecPutLe32(head + 238 + P, static_cast<uint32_t>(w->junk_remaining - 8));
    uint8_t movi[12];
    PutTag(movi, "LIST");
    CodecPutLe32(movi + 4, 0);
    PutTag(movi + 8, "movi");
    return WriteAt(w, 0, head, head_bytes) && WriteZeros(w, head_bytes, w->reserve - head_bytes) &&
           WriteAt(w, w->reserve, movi, 12);
}

void FreeWriter(AviStream* s) {
    if (AviWriter* w = s->writer) {
        w->classic.Free();
        w->standard.Free();
        w->super.Free();
        free(w->raw);
        free(w);
    }
    free(s);
}

}  // namespace

AviStream* codec_avi_create(const char* path, uint32_t width, uint32_t height, uint32_t bit_count,
                            uint64_t frame_interval, const AviWriterOptions* options) {
    if (!path || !*path || (bit_count != 8 && bit_count != 24) || frame_interval == 0) return nullptr;
    if (frame_interval > UINT32_MAX || width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX)
        return nullptr;
    const AviWriterOptions o = options ? *options : AviWriterOptions{};
    if (o.index_mode > 1 || o.frame_codec > kAviPng) return nullptr;
    const uint64_t limit = o.riff_limit ? o.riff_limit : kDefaultRiffLimit;
    const uint64_t stride = (uint64_t{width} * (bit_count / 8) + 3) & ~uint64_t{3};
    const uint64_t frame = uint64_t{bit_count / 8} * width * height;
    const uint32_t P = bit_count == 8 ? 1024 : 0;

    // Header reserve: asked for in 2048-byte units, but never so large that
    // a frame no longer fits the first RIFF chunk.
    uint64_t reserve = 2048;
    if (o.reserve_count > 0) {
        const uint64_t asked = o.reserve_count < 0xFFFFF ? (uint64_t{o.reserve_count} + 1) * 2048 : 0x7FFFF800;
        const int64_t room = static_cast<int64_t>(limit) - 0x20 - static_cast<int64_t>(frame);
        reserve = static_cast<int64_t>(asked) <= room ? asked : room > 0 ? static_cast<uint64_t>(room) / 2048 * 2048 : 0;
    }
    // The header and its reserve chunk must fit, and a frame (taken at its
    // raw size) must fit one RIFF chunk with its indexes.
    if (reserve < 234 + P + 8 || reserve + 12 + stride * height + 9 + 64 > limit) return nullptr;

    AviStream* s = static_cast<AviStream*>(calloc(1, sizeof(AviStream)));
    AviWriter* w = static_cast<AviWriter*>(calloc(1, sizeof(AviWriter)));
    if (!s || !w) {
        free(s);
        free(w);
        return nullptr;
    }
    s->writer = w;
    s->codec = o.frame_codec;
    s->width = width;
    s->height = height;
    s->bit_count = bit_count;
    s->stride = stride;
    s->frame_interval = frame_interval;
    s->jpeg_quality = o.jpeg_quality ? o.jpeg_quality : 85;
    if (bit_count == 8) {
        s->grey = 1;
        for (int v = 0; v < 256; ++v) s->palette[v] = AviRgb{uint8_t(v), uint8_t(v), uint8_t(v)};
    }
    w->fd = -1;
    w->index_mode = o.index_mode;
    w->limit = limit;
    w->reserve = static_cast<uint32_t>(reserve);
    w->hdrl_size = P + 214;
    w->strl_size = P + 138;
    w->junk_offset = 234 + P;
    w->junk_remaining = reserve - (234 + P);
    w->end = reserve + 12;
    w->segment_length = reserve + 12;
    w->chunk_id = RiffFourcc(o.frame_codec == kAviRaw ? "00db" : "00dc");
    if (s->codec == kAviRaw) {
        w->raw = static_cast<uint8_t*>(calloc(1, 8 + stride * height + 1));
        if (!w->raw) {
            FreeWriter(s);
            return nullptr;
        }
    }
    const uint32_t compression = s->codec == kAviMjpg ? RiffFourcc("MJPG") : s->codec == kAviPng ? RiffFourcc("png ") : 0;
    w->fd = open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (w->fd < 0 || !WriteHeader(s, w, compression)) {
        if (w->fd >= 0) close(w->fd);
        FreeWriter(s);
        return nullptr;
    }
    return s;
}

int32_t codec_avi_write_one(AviStream* s, const void* pixels) {
    AviWriter* w = s ? s->writer : nullptr;
    if (!w || w->fd < 0 || w->broken || !pixels || (s->bit_count != 8 && s->bit_count != 24)) return 0;
    if (w->frames == 0xFFFFFFFF) return 0;
    uint8_t* owned;
    uint64_t size;
    const uint8_t* data = EncodeFrame(s, static_cast<const uint8_t*>(pixels), &size, &owned);
    if (!data) return 0;
    const uint64_t chunk = size + 8 + Pad(size);
    bool ok = RoomForFrame(w, chunk) && w->classic.Append(static_cast<uint32_t>(size + 8));
    if (ok && !w->standard.Append(AviStdEntry{static_cast<uint32_t>(w->end + 8 - w->segment_start),
                                               static_cast<uint32_t>(size)})) {
        --w->classic.count;
        ok = false;
    }
    if (ok) {
        uint8_t header[8];
        CodecPutLe32(header, w->chunk_id);
        CodecPutLe32(header + 4, static_cast<uint32_t>(size));
        if (s->codec == kAviRaw) {
            // The raw chunk is built whole in its buffer, pad byte included.
            memcpy(w->raw, header, 8);
            ok = WriteAt(w, w->end, w->raw, chunk);
        } else {
            const uint8_t pad = 0;
            ok = WriteAt(w, w->end, header, 8) && WriteAt(w, w->end + 8, data, size) &&
                 (!Pad(size) || WriteAt(w, w->end + 8 + size, &pad, 1));
        }
        if (ok) {
            w->end += chunk;
            w->segment_length += chunk;
            w->frame_bytes += chunk;
            ++w->frames;
        } else {
            // Not recorded: the next chunk goes where this one began.
            --w->classic.count;
            --w->standard.count;
        }
    }
    free(owned);
    return ok ? 1 : 0;
}

int32_t codec_avi_finish_writer(AviStream* s) {
    AviWriter* w = s->writer;
    bool ok = !w->broken;
    bool finish_current = true;
    if (ok && w->index_mode == 2) {
        // An "AVIX" segment that never got a frame (its write failed) is
        // dropped; the segment before it is finished already.
        if (w->segment_start != 0 && w->standard.count == 0) {
            w->end = w->segment_start;
            finish_current = false;
        } else {
            ok = AddSuperEntry(w);
        }
        const uint64_t segments = w->super.count;
        const uint64_t indx_bytes = (segments + 2) * 16;
        const uint64_t at = ok ? Carve(w, indx_bytes) : 0;
        uint8_t* indx = static_cast<uint8_t*>(calloc(1, indx_bytes));
        ok = at && indx;
        if (ok) {
            PutTag(indx, "indx");
            CodecPutLe32(indx + 4, static_cast<uint32_t>(indx_bytes - 8));
            CodecPutLe16(indx + 8, 4);  // longs per entry
            CodecPutLe32(indx + 12, static_cast<uint32_t>(segments));
            CodecPutLe32(indx + 16, w->chunk_id);
            for (uint64_t i = 0; i < segments; ++i) {
                uint8_t* e = indx + 32 + 16 * i;
                Put64(e, w->super.items[i].offset);
                CodecPutLe32(e + 8, w->super.items[i].size);
                CodecPutLe32(e + 12, w->super.items[i].frames);
            }
            ok = WriteAt(w, at, indx, indx_bytes) && Write32At(w, 92, w->strl_size + static_cast<uint32_t>(indx_bytes));
        }
        free(indx);
        const uint64_t odml = ok ? Carve(w, kOdmlBytes) : 0;
        ok = ok && odml;
        if (ok) {
            uint8_t list[kOdmlBytes] = {};
            PutTag(list, "LIST");
            CodecPutLe32(list + 4, 260);
            PutTag(list + 8, "odml");
            PutTag(list + 12, "dmlh");
            CodecPutLe32(list + 16, 248);
            CodecPutLe32(list + 20, w->frames);
            ok = WriteAt(w, odml, list, sizeof list);
        }
    }
    ok = ok && Write32At(w, 140, w->frames);
    if (ok && finish_current) ok = FinishSegment(w);
    // Whatever a failed write left past the recorded end goes.
    if (ok) ok = ftruncate(w->fd, static_cast<off_t>(w->end)) == 0;
    if (close(w->fd) != 0) ok = false;
    FreeWriter(s);
    return ok ? 1 : 0;
}

int32_t codec_avi_create_file(codec_file* file, const char* path) {
    const codec_file_info& info = file->info;
    if (info.bytes_per_pixel != 1 && info.bytes_per_pixel != 3) return 0;
    if (info.width > UINT32_MAX || info.height > UINT32_MAX) return 0;
    AviWriterOptions options{0, file->options.avi_codec, 0, file->options.jpeg_quality, 0};
    AviStream* s = codec_avi_create(path, static_cast<uint32_t>(info.width), static_cast<uint32_t>(info.height),
                                    static_cast<uint32_t>(info.bytes_per_pixel * 8), info.frame_interval, &options);
    if (!s) return 0;
    file->avi_writer = s;
    return 1;
}

int32_t codec_avi_write_frame(codec_file* file, uint64_t image, uint64_t count, const void* pixels) {
    AviStream* s = file->avi_writer;
    if (!s || image != 0 || !pixels) return 0;
    const uint64_t frame_bytes = uint64_t{s->width} * s->height * (s->bit_count / 8);
    for (uint64_t i = 0; i < count; ++i)
        if (!codec_avi_write_one(s, static_cast<const uint8_t*>(pixels) + i * frame_bytes)) return 0;
    return 1;
}
