// MP4 reading: the first video track's H.264 samples ("avc1" with "avcC")
// decoded from the right key frame and converted to RGB; and the facade's
// MP4 dispatchers for reading and writing.
#include <sys/types.h>

#include <cstdlib>
#include <cstring>

#include "media/codec_bytes.h"
#include "media/codec_formats.h"
#include "media/i420.h"
#include "media/mp4.h"

namespace {

uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
uint32_t Be32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}
uint64_t Be64(const uint8_t* p) { return (static_cast<uint64_t>(Be32(p)) << 32) | Be32(p + 4); }

// The box's whole data on the heap (a box never passes the file, so its
// size is bounded by it); null when it cannot be read.
uint8_t* LoadBox(FILE* file, const Mp4Box* box) {
    uint8_t* data = static_cast<uint8_t*>(malloc(box->size ? box->size : 1));
    if (data && !mp4_box_read(file, box, 0, data, box->size)) {
        free(data);
        return nullptr;
    }
    return data;
}

// A box's data with its size, freed on leaving scope.
struct BoxData {
    uint8_t* bytes = nullptr;
    uint64_t size = 0;
    ~BoxData() { free(bytes); }
    bool Load(FILE* file, const Mp4Box* box) {
        if (!box) return false;
        bytes = LoadBox(file, box);
        size = box->size;
        return bytes != nullptr;
    }
    // `count` entries of `entry` bytes from `at` lie within the data.
    bool Holds(uint64_t at, uint64_t count, uint64_t entry) const {
        return at <= size && count <= (size - at) / entry;
    }
};

// The next box in pre-order after `box`.
Mp4Box* NextPreOrder(Mp4Box* box) {
    if (box->first_child) return box->first_child;
    for (; box; box = box->parent)
        if (box->next) return box->next;
    return nullptr;
}

// The first "trak" holding a track header with volume 0.
Mp4Box* FindVideoTrack(Mp4Reader* r, BoxData& header) {
    for (Mp4Box* b = r->boxes; b; b = NextPreOrder(b)) {
        if (b->type != Mp4Type("tkhd")) continue;
        BoxData d;
        if (!d.Load(r->file, b) || d.size < 1) continue;
        const bool v1 = d.bytes[0] != 0;
        // Width and height end the header: 84 bytes, 96 in version 1.
        if (d.size < (v1 ? 96u : 84u) || Be16(d.bytes + (v1 ? 48 : 36)) != 0) continue;
        Mp4Box* trak = b->parent;
        while (trak && trak->type != Mp4Type("trak")) trak = trak->parent;
        if (!trak) continue;
        header.bytes = d.bytes;
        header.size = d.size;
        d.bytes = nullptr;
        return trak;
    }
    return nullptr;
}

Mp4Box* InTrack(Mp4Reader* r, const char (&name)[5]) { return mp4_box_find(r->track->first_child, Mp4Type(name)); }

// Frame interval from the media timescale and the first 100 or more
// samples' durations.
bool ReadInterval(Mp4Reader* r) {
    BoxData mdhd;
    if (!mdhd.Load(r->file, InTrack(r, "mdhd")) || mdhd.size < 1) return false;
    const bool v1 = mdhd.bytes[0] != 0;
    if (mdhd.size < (v1 ? 24u : 16u)) return false;
    const uint64_t timescale = Be32(mdhd.bytes + (v1 ? 20 : 12));
    if (timescale == 0) return false;
    unsigned __int128 duration = 0;
    uint64_t samples = 0;
    Mp4Box* stts_box = InTrack(r, "stts");
    if (stts_box) {
        BoxData stts;
        if (!stts.Load(r->file, stts_box) || !stts.Holds(4, 1, 4)) return false;
        const uint32_t entries = Be32(stts.bytes + 4);
        if (!stts.Holds(8, entries, 8)) return false;
        for (uint32_t i = 0; i < entries && samples < 100; ++i) {
            const uint32_t count = Be32(stts.bytes + 8 + 8 * static_cast<uint64_t>(i));
            duration += static_cast<unsigned __int128>(count) * Be32(stts.bytes + 12 + 8 * static_cast<uint64_t>(i));
            samples += count;
        }
    }
    unsigned __int128 interval = timescale;
    if (samples != 0) interval = duration * 1000000u / (static_cast<unsigned __int128>(timescale) * samples);
    if (interval == 0 || interval > UINT32_MAX) return false;
    r->interval = static_cast<uint32_t>(interval);
    return true;
}

bool ReadSampleSizes(Mp4Reader* r) {
    Mp4Box* box = InTrack(r, "stsz");
    const bool compact = !box;
    if (compact) box = InTrack(r, "stz2");
    BoxData d;
    if (!d.Load(r->file, box) || d.size < 12) return false;
    const uint32_t count = Be32(d.bytes + 8);
    // Every sample holds at least one byte of the file.
    if (count == 0 || count > r->file_size) return false;
    r->sample_count = count;
    r->samples = static_cast<Mp4Sample*>(calloc(count, sizeof(Mp4Sample)));
    r->plan = static_cast<Mp4PlanEntry*>(calloc(count, sizeof(Mp4PlanEntry)));
    if (!r->samples || !r->plan) return false;
    if (!compact) {
        const uint32_t fixed = Be32(d.bytes + 4);
        if (fixed == 0 && !d.Holds(12, count, 4)) return false;
        for (uint32_t i = 0; i < count; ++i)
            r->samples[i].size = fixed ? fixed : Be32(d.bytes + 12 + 4 * static_cast<uint64_t>(i));
    } else {
        const uint8_t field = d.bytes[7];
        if (field == 16 && !d.Holds(12, count, 2)) return false;
        if (field == 8 && !d.Holds(12, count, 1)) return false;
        if (field == 4 && !d.Holds(12, count / 2 + count % 2, 1)) return false;
        if (field != 16 && field != 8 && field != 4) return false;
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* e = d.bytes + 12;
            uint32_t size;
            if (field == 16) {
                size = Be16(e + 2 * static_cast<uint64_t>(i));
            } else if (field == 8) {
                size = e[i];
            } else {
                size = (i % 2 == 0) ? e[i / 2] >> 4 : e[i / 2] & 15u;
            }
            r->samples[i].size = size;
        }
    }
    for (uint32_t i = 0; i < count; ++i)
        if (r->samples[i].size == 0) return false;
    return true;
}

// Places the samples in their chunks: runs of (first chunk, samples per
// chunk), the last run going on until every sample has a place.
bool ReadSampleOffsets(Mp4Reader* r) {
    BoxData stsc, chunks;
    if (!stsc.Load(r->file, InTrack(r, "stsc")) || !stsc.Holds(4, 1, 4)) return false;
    Mp4Box* co = InTrack(r, "stco");
    const bool wide = !co;
    if (wide) co = InTrack(r, "co64");
    if (!chunks.Load(r->file, co) || !chunks.Holds(4, 1, 4)) return false;
    const uint32_t runs = Be32(stsc.bytes + 4);
    const uint32_t chunk_count = Be32(chunks.bytes + 4);
    if (runs == 0 || !stsc.Holds(8, runs, 12) || !chunks.Holds(8, chunk_count, wide ? 8 : 4)) return false;
    uint32_t sample = 0;
    for (uint32_t run = 0; run < runs && sample < r->sample_count; ++run) {
        const uint8_t* e = stsc.bytes + 8 + 12 * static_cast<uint64_t>(run);
        const uint64_t first = Be32(e), per_chunk = Be32(e + 4);
        if (first == 0 || per_chunk == 0) return false;
        if (run > 0 && first <= Be32(e - 12)) return false;
        const uint64_t end = run + 1 < runs ? Be32(e + 12) : UINT64_MAX;
        for (uint64_t chunk = first; chunk < end && sample < r->sample_count; ++chunk) {
            if (chunk > chunk_count) return false;
            const uint8_t* c = chunks.bytes + 8 + (chunk - 1) * (wide ? 8 : 4);
            uint64_t offset = wide ? Be64(c) : Be32(c);
            for (uint64_t k = 0; k < per_chunk && sample < r->sample_count; ++k, ++sample) {
                const uint64_t size = r->samples[sample].size;
                if (offset > r->file_size || size > r->file_size - offset) return false;
                r->samples[sample].offset = offset;
                offset += size;
            }
        }
    }
    return sample == r->sample_count;
}

// One parameter set of "avcC" at `at`: a 2-byte length and an SPS or PPS
// NAL unit. Appends it to the prefix with a 4-byte length.
bool TakeParameterSet(const BoxData& avcc, uint64_t at, uint64_t* next, uint8_t* prefix, uint32_t* prefix_size) {
    if (!avcc.Holds(at, 1, 2)) return false;
    const uint32_t length = Be16(avcc.bytes + at);
    if (length == 0 || !avcc.Holds(at + 2, length, 1)) return false;
    const uint8_t nal = avcc.bytes[at + 2];
    if ((nal & 0x80) != 0 || ((nal & 0x1F) != 7 && (nal & 0x1F) != 8)) return false;
    uint8_t* p = prefix + *prefix_size;
    p[0] = 0;
    p[1] = 0;
    p[2] = static_cast<uint8_t>(length >> 8);
    p[3] = static_cast<uint8_t>(length);
    memcpy(p + 4, avcc.bytes + at + 2, length);
    *prefix_size += 4 + length;
    *next = at + 2 + length;
    return true;
}

bool ReadParameterSets(Mp4Reader* r, Mp4Box* avc1) {
    Mp4Box* box = avc1->first_child;
    BoxData avcc;
    if (!box || box->type != Mp4Type("avcC") || !avcc.Load(r->file, box)) return false;
    // Samples carry 4-byte NAL lengths.
    if (avcc.size < 6 || (avcc.bytes[4] & 3) != 3) return false;
    // Both sets fit in the box, each with 2 more length bytes.
    r->prefix = static_cast<uint8_t*>(malloc(avcc.size + 4));
    if (!r->prefix) return false;
    uint64_t next;
    if (!TakeParameterSet(avcc, 6, &next, r->prefix, &r->prefix_size)) return false;
    // The count byte of the second set, then its length and NAL unit.
    return TakeParameterSet(avcc, next + 1, &next, r->prefix, &r->prefix_size);
}

bool ReadSyncSamples(Mp4Reader* r) {
    BoxData stss;
    if (!stss.Load(r->file, InTrack(r, "stss")) || !stss.Holds(4, 1, 4)) return false;
    const uint32_t count = Be32(stss.bytes + 4);
    if (count == 0 || count > r->sample_count || !stss.Holds(8, count, 4)) return false;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t number = Be32(stss.bytes + 8 + 4 * static_cast<uint64_t>(i));
        if (number >= 1 && number <= r->sample_count) r->samples[number - 1].sync = 1;
    }
    return true;
}

// Frames are shown in decode order, so a track whose composition offsets
// differ (B-frames, shown in another order) cannot be read.
bool DecodeOrderIsDisplayOrder(Mp4Reader* r) {
    Mp4Box* box = InTrack(r, "ctts");
    if (!box) return true;
    BoxData ctts;
    if (!ctts.Load(r->file, box) || !ctts.Holds(4, 1, 4)) return false;
    const uint32_t entries = Be32(ctts.bytes + 4);
    if (!ctts.Holds(8, entries, 8)) return false;
    bool seen = false;
    uint32_t offset = 0;
    for (uint32_t i = 0; i < entries; ++i) {
        const uint8_t* e = ctts.bytes + 8 + 8 * static_cast<uint64_t>(i);
        if (Be32(e) == 0) continue;
        if (seen && Be32(e + 4) != offset) {
            codec_note_unsupported();
            return false;
        }
        seen = true;
        offset = Be32(e + 4);
    }
    return true;
}

void FreeReader(Mp4Reader* r) {
    if (!r) return;
    h264_decoder_destroy(&r->decoder);
    if (r->file) fclose(r->file);
    mp4_box_free(r->boxes);
    free(r->samples);
    free(r->plan);
    free(r->prefix);
    free(r->feed);
    free(r);
}

// Frames are the decoded picture with its rows stretched or cut to the
// output width and black rows past its height. An output size beyond
// kMp4MaxStretch times the picture's in either direction is no view of the
// picture but a header asking the caller for memory the stream cannot fill.
bool ShowsPicture(const Mp4Reader* r, uint64_t picture_width, uint64_t picture_height) {
    return r->width <= kMp4MaxStretch * picture_width && r->height <= kMp4MaxStretch * picture_height;
}

bool ParseTables(Mp4Reader* r) {
    BoxData tkhd;
    r->track = FindVideoTrack(r, tkhd);
    if (!r->track || !mp4_box_find(r->boxes, Mp4Type("mdat"))) return false;
    const bool v1 = tkhd.bytes[0] != 0;
    r->width = Be16(tkhd.bytes + (v1 ? 88 : 76));
    r->height = Be16(tkhd.bytes + (v1 ? 92 : 80));
    if (r->width == 0 || r->height == 0) return false;
    Mp4Box* avc1 = InTrack(r, "avc1");
    uint8_t coded[4];
    if (!avc1 || !mp4_box_read(r->file, avc1, 24, coded, 4)) return false;
    r->coded_width = Be16(coded) ? Be16(coded) : r->width;
    r->coded_height = Be16(coded + 2) ? Be16(coded + 2) : r->height;
    if (!ShowsPicture(r, r->coded_width, r->coded_height)) return false;
    return ReadSampleSizes(r) && ReadInterval(r) && ReadSampleOffsets(r) && ReadParameterSets(r, avc1) &&
           ReadSyncSamples(r) && DecodeOrderIsDisplayOrder(r);
}

// Frame k shows sample k, decoded from the latest sync sample at or before
// it (sample 0 when there is none).
void PlanFrames(Mp4Reader* r) {
    uint32_t key = 0;
    for (uint32_t k = 0; k < r->sample_count; ++k) {
        if (r->samples[k].sync) key = k;
        r->plan[k] = {k, key, 1};
    }
    r->planned = r->sample_count;
    r->usable = r->sample_count;
}

// The latest sync sample at or before `sample`, or UINT32_MAX.
uint32_t SyncAtOrBefore(const Mp4Reader* r, uint32_t sample) {
    for (uint64_t i = static_cast<uint64_t>(sample) + 1; i-- > 0;)
        if (r->samples[i].sync) return static_cast<uint32_t>(i);
    return UINT32_MAX;
}

bool SyncBetween(const Mp4Reader* r, uint32_t after, uint32_t before) {
    for (uint64_t i = static_cast<uint64_t>(after) + 1; i < before; ++i)
        if (r->samples[i].sync) return true;
    return false;
}

void ForgetPicture(Mp4Reader* r) {
    r->decoder.last_sample = 0;
    r->decoder.y = r->decoder.u = r->decoder.v = nullptr;
}

bool ReserveFeed(Mp4Reader* r, uint64_t size) {
    if (size <= r->feed_capacity) return true;
    uint8_t* grown = static_cast<uint8_t*>(realloc(r->feed, size));
    if (!grown) return false;
    r->feed = grown;
    r->feed_capacity = size;
    return true;
}

// One sample (after the parameter sets when `first`) in start-code form.
bool LoadAccessUnit(Mp4Reader* r, uint32_t index, bool first, uint64_t* size) {
    const Mp4Sample& s = r->samples[index];
    const uint64_t prefix = first ? r->prefix_size : 0;
    const uint64_t total = prefix + s.size;
    if (total > INT32_MAX || !ReserveFeed(r, total)) return false;
    memcpy(r->feed, r->prefix, prefix);
    if (fseeko(r->file, static_cast<off_t>(s.offset), SEEK_SET) != 0 ||
        fread(r->feed + prefix, 1, s.size, r->file) != s.size)
        return false;
    for (uint64_t at = 0; at < total;) {
        if (total - at < 4) return false;
        const uint64_t length = Be32(r->feed + at);
        if (length > total - at - 4) return false;
        r->feed[at] = r->feed[at + 1] = r->feed[at + 2] = 0;
        r->feed[at + 3] = 1;
        at += 4 + length;
    }
    *size = total;
    return true;
}

// Pictures the decoder may hold back before it gives the one wanted: no
// more than its picture buffer holds.
constexpr int kMaxHeldPictures = 17;

// Decodes samples first .. last with the current decoder and holds the
// picture of the last one. Each sample goes in stamped with its index, so
// the picture that comes out is known: above the Baseline profile the
// decoder keeps pictures back to put them in display order (even in a
// stream without B-frames), and a picture given after a sample may be an
// earlier sample's. Pictures held back are flushed out until the last
// sample's own comes.
bool Feed(Mp4Reader* r, uint32_t first, uint32_t last) {
    ISVCDecoder* decoder = r->decoder.decoder;
    if (!decoder) return false;
    ForgetPicture(r);
    SBufferInfo info;
    uint8_t* planes[3];
    r->refused_sample = UINT32_MAX;
    for (uint32_t i = first; i <= last; ++i) {
        uint64_t size;
        memset(&info, 0, sizeof info);
        info.uiInBsTimeStamp = i;
        planes[0] = planes[1] = planes[2] = nullptr;
        r->refused_sample = i;
        if (!LoadAccessUnit(r, i, i == first, &size)) return false;
        ++r->fed_samples;
        if (decoder->DecodeFrameNoDelay(r->feed, static_cast<int>(size), planes, &info) != 0) return false;
        r->refused_sample = UINT32_MAX;
    }
    for (int flushes = 0; info.iBufferStatus != 1 || info.uiOutYuvTimeStamp != last; ++flushes) {
        if (flushes == kMaxHeldPictures) return false;
        memset(&info, 0, sizeof info);
        planes[0] = planes[1] = planes[2] = nullptr;
        if (decoder->FlushFrame(planes, &info) != 0 || info.iBufferStatus != 1) return false;
    }
    const SSysMEMBuffer& b = info.UsrData.sSystemBuffer;
    if (!planes[0] || !planes[1] || !planes[2] || b.iWidth <= 0 || b.iHeight <= 0 || b.iStride[0] <= 0 ||
        b.iStride[1] <= 0)
        return false;
    H264Decoder& d = r->decoder;
    d.y = planes[0];
    d.u = planes[1];
    d.v = planes[2];
    d.y_stride = static_cast<uint32_t>(b.iStride[0]);
    d.uv_stride = static_cast<uint32_t>(b.iStride[1]);
    d.width = static_cast<uint32_t>(b.iWidth);
    d.height = static_cast<uint32_t>(b.iHeight);
    d.last_sample = static_cast<uint64_t>(last) + 1;
    return true;
}

bool ResetAndFeed(Mp4Reader* r, uint32_t first, uint32_t last) {
    return h264_decoder_reset(&r->decoder) && Feed(r, first, last);
}

// Brings the planned frame's picture into the decoder.
bool DecodeFrame(Mp4Reader* r, uint32_t frame) {
    Mp4PlanEntry& plan = r->plan[frame];
    const uint32_t t = plan.sample, s = plan.key;
    if (t >= r->sample_count || s > t) return false;
    H264Decoder& d = r->decoder;
    if (d.decoder && d.y && d.last_sample == static_cast<uint64_t>(t) + 1) return true;
    if (d.decoder && d.last_sample >= 1 && d.last_sample - 1 < t) {
        const uint32_t l = static_cast<uint32_t>(d.last_sample - 1);
        if (!SyncBetween(r, l, t) && Feed(r, l + 1, t)) return true;
    }
    if (ResetAndFeed(r, s, t)) return true;
    // The key frame may itself be damaged: try the sync sample before it.
    const uint32_t nearest = SyncAtOrBefore(r, t);
    if (nearest == UINT32_MAX || nearest == 0) return false;
    const uint32_t earlier = SyncAtOrBefore(r, nearest - 1);
    if (earlier == UINT32_MAX || earlier >= s) return false;
    plan.key = earlier;
    return ResetAndFeed(r, earlier, t);
}

// Decodes every planned frame once and drops those that fail; a zero
// result of the callback stops the scan with the rest kept as planned. A
// frame whose own sample the loader or the decoder refuses takes the rest
// of its group of pictures with it: every later frame up to the next sync
// sample is decoded through that sample and fails as well, so they are
// dropped at once instead of each being decoded again from the key frame
// (which made the scan quadratic in the group's length).
bool ScanFrames(Mp4Reader* r, codec_progress_fn progress, void* context) {
    const uint32_t total = r->planned;
    if (progress) progress(0, total, 1, context);
    bool sized = false, refused = false, cancelled = false;
    for (uint32_t k = 0; k < total && !cancelled && !refused; ++k) {
        uint32_t last = k;  // the last frame this step settles
        r->refused_sample = UINT32_MAX;
        if (!DecodeFrame(r, k)) {
            r->plan[k].usable = 0;
            ForgetPicture(r);
            if (r->refused_sample == r->plan[k].sample)
                while (last + 1 < total && !r->samples[r->plan[last + 1].sample].sync) r->plan[++last].usable = 0;
        } else if (!sized) {
            // The sample description may misstate the picture's size; the
            // first picture decoded tells it.
            sized = true;
            refused = !ShowsPicture(r, r->decoder.width, r->decoder.height);
        }
        for (; k < last && !cancelled; ++k)
            if (progress && !progress(static_cast<uint64_t>(k) + 1, total, 0, context)) cancelled = true;
        if (progress && !cancelled && !progress(static_cast<uint64_t>(k) + 1, total, 0, context)) cancelled = true;
    }
    if (progress) progress(total, total, 2, context);
    if (refused) return false;
    uint32_t kept = 0;
    for (uint32_t k = 0; k < total; ++k)
        if (r->plan[k].usable) r->plan[kept++] = r->plan[k];
    r->planned = r->usable = kept;
    ForgetPicture(r);
    return kept > 0;
}

}  // namespace

Mp4Reader* mp4_reader_parse(FILE* file) {
    if (!file || fseeko(file, 0, SEEK_END) != 0) return nullptr;
    const off_t size = ftello(file);
    if (size <= 0) return nullptr;
    Mp4Reader* r = static_cast<Mp4Reader*>(calloc(1, sizeof(Mp4Reader)));
    if (!r) return nullptr;
    r->file = file;
    r->file_size = static_cast<uint64_t>(size);
    r->boxes = mp4_box_parse(file, r->file_size);
    const bool ok = r->boxes && ParseTables(r);
    r->file = nullptr;
    if (!ok) {
        FreeReader(r);
        return nullptr;
    }
    PlanFrames(r);
    return r;
}

Mp4Reader* codec_mp4_open(const char* path, codec_progress_fn progress, void* context) {
    uint64_t size;
    FILE* file = path ? CodecOpenRegularFile(path, &size) : nullptr;
    if (!file) return nullptr;
    Mp4Reader* r = mp4_reader_parse(file);
    if (!r) {
        fclose(file);
        return nullptr;
    }
    r->file = file;
    if (!h264_decoder_reset(&r->decoder) || !ScanFrames(r, progress, context)) {
        FreeReader(r);
        return nullptr;
    }
    return r;
}

int32_t codec_mp4_read_frame(Mp4Reader* r, uint64_t frame, void* out, uint64_t out_size) {
    if (!r || !out) return 0;
    const uint64_t bytes = static_cast<uint64_t>(r->width) * r->height * 3;
    if (out_size < bytes) return 0;
    if (frame < r->planned && DecodeFrame(r, static_cast<uint32_t>(frame))) {
        const H264Decoder& d = r->decoder;
        i420_to_rgb_rows(r->width, r->height, d.width, d.height, d.y, d.u, d.v, static_cast<uint8_t*>(out),
                         d.y_stride, d.uv_stride);
        return 1;
    }
    memset(out, 0, bytes);
    ForgetPicture(r);
    if (frame < r->planned) r->plan[frame].usable = 0;
    return 0;
}

void codec_mp4_close(Mp4Reader* reader) { FreeReader(reader); }

int32_t codec_mp4_open_file(codec_file* file, const char* path, codec_progress_fn progress, void* context) {
    if (!h264_library_acquire()) return 0;
    Mp4Reader* r = codec_mp4_open(path, progress, context);
    if (!r) {
        h264_library_release();
        return 0;
    }
    file->mp4_reader = r;
    file->info.image_count = 1;
    file->info.frame_count = r->usable;
    file->info.bytes_per_pixel = 3;
    file->info.width = r->width;
    file->info.height = r->height;
    file->info.frame_interval = r->interval;
    return 1;
}

int32_t codec_mp4_read_frames(codec_file* file, uint64_t image, uint64_t first, uint64_t count, void* buffer) {
    Mp4Reader* r = file->mp4_reader;
    if (!r || image != 0 || first > r->usable || count > r->usable - first) return 0;
    const uint64_t bytes = static_cast<uint64_t>(r->width) * r->height * 3;
    uint8_t* out = static_cast<uint8_t*>(buffer);
    int32_t result = 1;
    for (uint64_t i = 0; i < count; ++i)
        if (!codec_mp4_read_frame(r, first + i, out + i * bytes, bytes)) result = 0;
    return result;
}

int32_t codec_mp4_create_file(codec_file* file, const char* path) {
    if (!h264_library_acquire()) return 0;
    const Mp4WriterOptions options{file->options.mp4_quality, file->options.mp4_bitrate,
                                   file->options.mp4_key_interval};
    const uint64_t bpp = file->info.bytes_per_pixel;
    Mp4Writer* w = bpp <= 3 ? codec_mp4_create(path, file->info.width, file->info.height,
                                               static_cast<uint32_t>(bpp * 8), file->info.frame_interval, &options)
                            : nullptr;
    if (!w) {
        h264_library_release();
        return 0;
    }
    file->mp4_writer = w;
    return 1;
}

int32_t codec_mp4_write_frames(codec_file* file, uint64_t image, uint64_t count, const void* buffer) {
    if (!file->mp4_writer || image != 0) return 0;
    return codec_mp4_write(file->mp4_writer, count, buffer);
}

int32_t codec_mp4_close_file(codec_file* file) {
    int32_t result = 1;
    if (file->mp4_reader) {
        codec_mp4_close(file->mp4_reader);
        file->mp4_reader = nullptr;
        h264_library_release();
    }
    if (file->mp4_writer) {
        result = codec_mp4_close_writer(file->mp4_writer);
        file->mp4_writer = nullptr;
        h264_library_release();
    }
    return result;
}
