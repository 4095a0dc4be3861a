// MP4 writing: frames converted to I420, encoded by OpenH264 and written
// straight into "mdat" with 4-byte NAL lengths; the movie box with the
// sample tables follows the media data at close.
#include <sys/types.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "media/i420.h"
#include "media/mp4.h"

namespace {

constexpr uint64_t kMp4FtypSize = 32;
constexpr uint64_t kMp4MdatHeader = 16;
constexpr uint64_t kMp4MaxSamples = 0xFFFFFFFEu;
constexpr uint32_t kDefaultBitrate = 5000000;

uint64_t g_FailSample = UINT64_MAX;
uint64_t g_FailBytes = 0;

// A growing byte block for the movie box.
struct Bytes {
    uint8_t* data = nullptr;
    uint64_t size = 0, capacity = 0;
    bool failed = false;
    ~Bytes() { free(data); }

    uint8_t* Grow(uint64_t n) {
        if (failed) return nullptr;
        if (size + n > capacity) {
            uint64_t want = capacity ? capacity * 2 : 4096;
            while (want < size + n) want *= 2;
            uint8_t* grown = static_cast<uint8_t*>(realloc(data, want));
            if (!grown) {
                failed = true;
                return nullptr;
            }
            data = grown;
            capacity = want;
        }
        uint8_t* p = data + size;
        size += n;
        return p;
    }
    void Put8(uint8_t v) {
        if (uint8_t* p = Grow(1)) *p = v;
    }
    void Put16(uint32_t v) {
        Put8(static_cast<uint8_t>(v >> 8));
        Put8(static_cast<uint8_t>(v));
    }
    void Put32(uint32_t v) {
        Put16(v >> 16);
        Put16(v & 0xFFFFu);
    }
    void Put64(uint64_t v) {
        Put32(static_cast<uint32_t>(v >> 32));
        Put32(static_cast<uint32_t>(v));
    }
    void PutWords(std::initializer_list<uint32_t> words) {
        for (uint32_t v : words) Put32(v);
    }
    void PutType(const char (&name)[5]) { Put32(Mp4Type(name)); }
    void PutZeros(uint64_t n) {
        if (uint8_t* p = Grow(n)) memset(p, 0, n);
    }
    void PutBytes(const void* bytes, uint64_t n) {
        if (uint8_t* p = Grow(n)) memcpy(p, bytes, n);
    }
    // A leaf box: its size and type; the caller writes `content` bytes.
    void Leaf(const char (&name)[5], uint64_t content) {
        if (content > UINT32_MAX - 8) failed = true;
        Put32(static_cast<uint32_t>(8 + content));
        PutType(name);
    }
    // A container with a 64-bit size, filled in by End.
    uint64_t Begin(const char (&name)[5]) {
        const uint64_t at = size;
        Put32(1);
        PutType(name);
        Put64(0);
        return at;
    }
    void End(uint64_t at) {
        if (failed) return;
        const uint64_t n = size - at;
        for (int i = 0; i < 8; ++i) data[at + 8 + i] = static_cast<uint8_t>(n >> (56 - 8 * i));
    }
};

void PutMatrix(Bytes& b) { b.PutWords({0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000}); }

bool WriteAt(FILE* file, uint64_t at, const void* data, uint64_t size) {
    return fseeko(file, static_cast<off_t>(at), SEEK_SET) == 0 && fwrite(data, 1, size, file) == size;
}

void FreeWriter(Mp4Writer* w) {
    h264_encoder_destroy(w->encoder);
    if (w->file) fclose(w->file);
    free(w->samples);
    free(w->sps);
    free(w->pps);
    free(w->rgb);
    free(w->i420);
    free(w);
}

// The rate handed to the encoder, which takes a signed 32-bit value.
uint64_t EncoderCap(const Mp4Writer* w) { return w->max_bitrate < INT32_MAX ? w->max_bitrate : INT32_MAX; }

uint32_t InitialBitrate(const Mp4Writer* w) {
    uint64_t rate;
    if (w->quality == 0) {
        rate = w->bitrate;
    } else if (w->quality <= 100) {
        rate = w->max_bitrate * w->quality / 1000;
    } else {
        rate = w->max_bitrate;
    }
    if (rate == 0) rate = kDefaultBitrate;
    return static_cast<uint32_t>(rate > INT32_MAX ? INT32_MAX : rate);
}

bool SetBitrate(Mp4Writer* w, uint32_t rate) {
    SEncParamBase params;
    h264_encoder_params(w, rate, &params);
    return w->encoder->SetOption(ENCODER_OPTION_SVC_ENCODE_PARAM_BASE, &params) == 0;
}

uint8_t NalType(const uint8_t* nal) { return nal[4] & 0x1F; }

// Keeps a parameter set (without its start code) after a 2-byte length.
bool StoreParameterSet(const uint8_t* nal, int length, uint8_t** out, uint32_t* out_size) {
    const uint32_t n = static_cast<uint32_t>(length) - 4;
    if (n > 0xFFFF) return false;
    uint8_t* p = static_cast<uint8_t*>(malloc(2 + n));
    if (!p) return false;
    p[0] = static_cast<uint8_t>(n >> 8);
    p[1] = static_cast<uint8_t>(n);
    memcpy(p + 2, nal + 4, n);
    *out = p;
    *out_size = 2 + n;
    return true;
}

// Every NAL unit of a layer starts with a 4-byte start code and holds at least one byte.
bool LayerValid(const SLayerBSInfo& layer) {
    if (layer.iNalCount < 0 || (layer.iNalCount > 0 && (!layer.pBsBuf || !layer.pNalLengthInByte))) return false;
    const uint8_t* nal = layer.pBsBuf;
    for (int n = 0; n < layer.iNalCount; ++n) {
        const int length = layer.pNalLengthInByte[n];
        if (length < 5 || nal[0] != 0 || nal[1] != 0 || nal[2] != 0 || nal[3] != 1) return false;
        nal += length;
    }
    return true;
}

bool KeepParameterSets(Mp4Writer* w, const SFrameBSInfo& info) {
    if (w->sps || info.iLayerNum < 2) return true;
    const SLayerBSInfo& layer = info.sLayerInfo[0];
    if (layer.iNalCount < 2) return false;
    const uint8_t* sps = layer.pBsBuf;
    const uint8_t* pps = sps + layer.pNalLengthInByte[0];
    if (NalType(sps) != 7 || NalType(pps) != 8) return false;
    if (!StoreParameterSet(sps, layer.pNalLengthInByte[0], &w->sps, &w->sps_size)) return false;
    if (!StoreParameterSet(pps, layer.pNalLengthInByte[1], &w->pps, &w->pps_size)) {
        free(w->sps);
        w->sps = nullptr;
        w->sps_size = 0;
        return false;
    }
    return true;
}

// Writes every NAL unit with a 4-byte length in place of its start code;
// the bytes written through `written`.
bool WriteNalUnits(Mp4Writer* w, const SFrameBSInfo& info, uint64_t* written) {
    if (fseeko(w->file, static_cast<off_t>(w->position), SEEK_SET) != 0) return false;
    uint64_t total = 0;
    for (int l = 0; l < info.iLayerNum; ++l) {
        const SLayerBSInfo& layer = info.sLayerInfo[l];
        const uint8_t* nal = layer.pBsBuf;
        for (int n = 0; n < layer.iNalCount; ++n) {
            const uint32_t length = static_cast<uint32_t>(layer.pNalLengthInByte[n]) - 4;
            const uint8_t prefix[4] = {static_cast<uint8_t>(length >> 24), static_cast<uint8_t>(length >> 16),
                                       static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
            if (fwrite(prefix, 1, 4, w->file) != 4 || fwrite(nal + 4, 1, length, w->file) != length) return false;
            total += 4 + static_cast<uint64_t>(length);
            if (w->sample_count == g_FailSample && total >= g_FailBytes) {
                g_FailSample = UINT64_MAX;
                return false;
            }
            nal += layer.pNalLengthInByte[n];
        }
    }
    *written = total;
    return total <= UINT32_MAX;
}

bool AppendSample(Mp4Writer* w, uint32_t size, bool sync) {
    if (w->sample_count == w->sample_capacity) {
        const uint64_t want = w->sample_capacity ? w->sample_capacity * 2 : 1024;
        auto* grown = static_cast<Mp4WriterSample*>(realloc(w->samples, want * sizeof(Mp4WriterSample)));
        if (!grown) return false;
        w->samples = grown;
        w->sample_capacity = want;
    }
    w->samples[w->sample_count++] = {size, sync ? 1u : 0u};
    if (sync) ++w->sync_count;
    return true;
}

// Encodes one frame; on failure nothing of it stays in the file.
bool EncodeFrame(Mp4Writer* w, const uint8_t* pixels) {
    if (w->sample_count >= kMp4MaxSamples) return false;
    if (!w->encoder) {
        uint32_t rate = InitialBitrate(w);
        w->encoder = h264_encoder_create(w, &rate);
        if (!w->encoder) return false;
        w->base_bitrate = w->current_bitrate = w->peak_bitrate = rate;
    }
    const uint8_t* rgb = pixels;
    const uint64_t area = static_cast<uint64_t>(w->width) * w->height;
    if (w->grey) {
        for (uint64_t i = 0; i < area; ++i) memcpy(w->rgb + 3 * i, w->palette[pixels[i]], 3);
        rgb = w->rgb;
    }
    uint8_t* y = w->i420;
    uint8_t* u = y + area;
    uint8_t* v = u + area / 4;
    rgb_to_i420(w->width, w->height, rgb, y, u, v);

    SSourcePicture picture;
    memset(&picture, 0, sizeof picture);
    picture.iColorFormat = videoFormatI420;
    picture.iStride[0] = static_cast<int>(w->width);
    picture.iStride[1] = picture.iStride[2] = static_cast<int>(w->width / 2);
    picture.pData[0] = y;
    picture.pData[1] = u;
    picture.pData[2] = v;
    picture.iPicWidth = static_cast<int>(w->width);
    picture.iPicHeight = static_cast<int>(w->height);

    ISVCEncoder* encoder = w->encoder;
    if (w->key_interval > 0) {
        encoder->ForceIntraFrame(w->sample_count % w->key_interval == 0 || w->force_idr);
    } else if (w->force_idr) {
        encoder->ForceIntraFrame(true);
    }
    if (w->current_bitrate > w->base_bitrate) {
        if (!SetBitrate(w, w->base_bitrate)) return false;
        w->current_bitrate = w->base_bitrate;
    }
    SFrameBSInfo info;
    memset(&info, 0, sizeof info);
    if (encoder->EncodeFrame(&picture, &info) != 0) return false;
    // A skipped frame is encoded again at up to twice the rate, until the
    // maximum is reached.
    while (info.eFrameType == videoFrameTypeSkip) {
        if (w->current_bitrate >= EncoderCap(w)) return false;
        const uint64_t doubled = 2 * static_cast<uint64_t>(w->current_bitrate);
        w->current_bitrate = static_cast<uint32_t>(doubled < EncoderCap(w) ? doubled : EncoderCap(w));
        if (!SetBitrate(w, w->current_bitrate)) return false;
        if (w->current_bitrate > w->peak_bitrate) w->peak_bitrate = w->current_bitrate;
        memset(&info, 0, sizeof info);
        if (encoder->EncodeFrame(&picture, &info) != 0) return false;
    }
    if (info.iLayerNum < 1 || info.iLayerNum > MAX_LAYER_NUM_OF_FRAME) return false;
    for (int l = 0; l < info.iLayerNum; ++l)
        if (!LayerValid(info.sLayerInfo[l])) return false;
    if (!KeepParameterSets(w, info)) return false;
    uint64_t written = 0;
    if (!WriteNalUnits(w, info, &written)) return false;
    if (!AppendSample(w, static_cast<uint32_t>(written), info.eFrameType == videoFrameTypeIDR)) return false;
    w->position += written;
    w->mdat_size += written;
    return true;
}

// The movie box: one video track, every sample one time unit long, one chunk at the media start.
void BuildMovie(const Mp4Writer* w, Bytes& b) {
    // Intervals above a second have no whole frame rate: count microseconds.
    uint32_t timescale = 1000000u / w->interval;
    uint32_t delta = 1;
    if (timescale == 0) {
        timescale = 1000000u;
        delta = w->interval;
    }
    const uint64_t full = w->sample_count * static_cast<uint64_t>(delta);
    const uint32_t duration = static_cast<uint32_t>(full > UINT32_MAX ? UINT32_MAX : full);

    const uint64_t moov = b.Begin("moov");
    b.Leaf("mvhd", 100);
    b.PutWords({0, 0, 0, timescale, duration, 0x00010000});
    b.Put16(0x0100);
    b.PutZeros(10);
    PutMatrix(b);
    b.PutZeros(24);
    b.Put32(2);

    const uint64_t trak = b.Begin("trak");
    b.Leaf("tkhd", 84);
    b.PutWords({3, 0, 0, 1, 0, duration});
    b.PutZeros(16);  // reserved, layer, alternate group, volume, reserved
    PutMatrix(b);
    b.PutWords({w->width << 16, w->height << 16});

    const uint64_t mdia = b.Begin("mdia");
    b.Leaf("mdhd", 24);
    b.PutWords({0, 0, 0, timescale, duration});
    b.Put16(0x55C4);
    b.Put16(0);
    b.Leaf("hdlr", 28);
    b.PutWords({0, 0});
    b.PutType("vide");
    b.PutZeros(16);

    const uint64_t minf = b.Begin("minf");
    b.Leaf("vmhd", 12);
    b.Put32(1);
    b.PutZeros(8);

    const uint64_t stbl = b.Begin("stbl");
    // Six header bytes, each set after its 2-byte length, and the PPS count.
    const uint64_t avcc = 7 + (w->sps ? w->sps_size : 2) + (w->pps ? w->pps_size : 2);
    b.Leaf("stsd", 8 + 86 + 8 + avcc);
    b.PutWords({0, 1});
    b.Leaf("avc1", 78 + 8 + avcc);
    b.PutZeros(6);
    b.Put16(1);
    b.PutZeros(16);
    b.Put16(w->width);
    b.Put16(w->height);
    b.PutWords({0x00480000, 0x00480000, 0});
    b.Put16(1);
    b.PutZeros(32);
    b.Put16(0x0018);
    b.Put16(0xFFFF);
    b.Leaf("avcC", avcc);
    // Version 1, profile, compatibility and level 0, 4-byte lengths, one SPS.
    const uint8_t config[6] = {1, 0, 0, 0, 0xFF, 0xE1};
    b.PutBytes(config, sizeof config);
    if (w->sps) {
        b.PutBytes(w->sps, w->sps_size);
    } else {
        b.Put16(0);
    }
    b.Put8(1);
    if (w->pps) {
        b.PutBytes(w->pps, w->pps_size);
    } else {
        b.Put16(0);
    }

    const uint32_t stts_entries = w->sample_count ? 1 : 0;
    b.Leaf("stts", 8 + 8 * stts_entries);
    b.PutWords({0, stts_entries});
    if (stts_entries) {
        b.Put32(static_cast<uint32_t>(w->sample_count));
        b.Put32(delta);
    }
    b.Leaf("stss", 8 + 4 * w->sync_count);
    b.PutWords({0, static_cast<uint32_t>(w->sync_count)});
    for (uint64_t i = 0; i < w->sample_count; ++i)
        if (w->samples[i].sync) b.Put32(static_cast<uint32_t>(i + 1));
    b.Leaf("stsc", 20);
    b.PutWords({0, 1, 1, static_cast<uint32_t>(w->sample_count), 1});
    b.Leaf("stsz", 12 + 4 * w->sample_count);
    b.PutWords({0, 0, static_cast<uint32_t>(w->sample_count)});
    for (uint64_t i = 0; i < w->sample_count; ++i) b.Put32(w->samples[i].size);
    b.Leaf("stco", 12);
    b.PutWords({0, 1, static_cast<uint32_t>(w->media_start)});

    b.End(stbl);
    b.End(minf);
    b.End(mdia);
    b.End(trak);
    b.End(moov);
}

}  // namespace

Mp4Writer* codec_mp4_create(const char* path, uint64_t width, uint64_t height, uint32_t bit_count,
                            uint64_t interval, const Mp4WriterOptions* options) {
    if (!path || !path[0] || (bit_count != 8 && bit_count != 24)) return nullptr;
    if (interval == 0 || interval > UINT32_MAX) return nullptr;
    // Sizes are 16-bit in the sample entry.
    if (width == 0 || height == 0 || width % 2 || height % 2 || width > 0xFFFF || height > 0xFFFF) return nullptr;
    Mp4Writer* w = static_cast<Mp4Writer*>(calloc(1, sizeof(Mp4Writer)));
    if (!w) return nullptr;
    w->width = static_cast<uint32_t>(width);
    w->height = static_cast<uint32_t>(height);
    w->bit_count = bit_count;
    w->interval = static_cast<uint32_t>(interval);
    w->grey = bit_count == 8;
    for (int i = 0; i < 256; ++i) w->palette[i][0] = w->palette[i][1] = w->palette[i][2] = static_cast<uint8_t>(i);
    w->rgb_size = width * height * 3;
    w->i420_size = width * height * 3 / 2;
    w->max_bitrate = (1000000u / interval) * w->i420_size * 8;
    if (options) {
        w->quality = options->quality > 101 ? 101 : options->quality;
        w->bitrate = options->bitrate;
        w->key_interval = options->key_interval;
    }
    if (w->quality == 0 && w->bitrate == 0) w->bitrate = kDefaultBitrate;
    w->i420 = static_cast<uint8_t*>(malloc(w->i420_size));
    w->rgb = w->grey ? static_cast<uint8_t*>(malloc(w->rgb_size)) : nullptr;
    w->file = fopen(path, "wb+");
    if (!w->i420 || (w->grey && !w->rgb) || !w->file) {
        FreeWriter(w);
        return nullptr;
    }
    Bytes head;
    head.Leaf("ftyp", 24);
    head.PutType("isom");
    head.Put32(512);
    head.PutType("isom");
    head.PutType("iso2");
    head.PutType("avc1");
    head.PutType("mp41");
    head.Put32(1);
    head.PutType("mdat");
    head.Put64(0);
    w->mdat_size_at = kMp4FtypSize + 8;
    w->media_start = kMp4FtypSize + kMp4MdatHeader;
    w->position = w->media_start;
    w->mdat_size = kMp4MdatHeader;
    if (head.failed || !WriteAt(w->file, 0, head.data, head.size)) {
        FreeWriter(w);
        return nullptr;
    }
    return w;
}

int32_t codec_mp4_write(Mp4Writer* w, uint64_t count, const void* pixels) {
    if (!w || !pixels) return 0;
    const uint64_t frame_bytes = static_cast<uint64_t>(w->width) * w->height * (w->bit_count / 8);
    const uint8_t* frame = static_cast<const uint8_t*>(pixels);
    for (uint64_t i = 0; i < count; ++i, frame += frame_bytes) {
        if (EncodeFrame(w, frame)) {
            w->force_idr = 0;
            continue;
        }
        // Later samples follow on from this one's start; the encoder's
        // references may hold the lost frame, so the next one starts afresh.
        w->force_idr = 1;
        return 0;
    }
    return 1;
}

void codec_mp4_fail_sample_for_testing(uint64_t sample, uint64_t bytes) {
    g_FailSample = sample;
    g_FailBytes = bytes;
}

int32_t codec_mp4_close_writer(Mp4Writer* w) {
    if (!w) return 0;
    bool ok = true;
    // Media data to a multiple of 8 bytes.
    const uint64_t pad = (8 - (w->mdat_size - kMp4MdatHeader) % 8) % 8;
    const uint8_t zeros[8] = {};
    if (pad && !WriteAt(w->file, w->position, zeros, pad)) ok = false;
    if (ok) {
        w->position += pad;
        w->mdat_size += pad;
        Bytes movie;
        BuildMovie(w, movie);
        ok = !movie.failed && WriteAt(w->file, w->position, movie.data, movie.size);
        const uint64_t end = w->position + movie.size;
        if (ok) {
            uint8_t size[8];
            for (int i = 0; i < 8; ++i) size[i] = static_cast<uint8_t>(w->mdat_size >> (56 - 8 * i));
            ok = WriteAt(w->file, w->mdat_size_at, size, 8);
        }
        // A failed frame's bytes may lie past the end.
        if (ok) ok = fflush(w->file) == 0 && ftruncate(fileno(w->file), static_cast<off_t>(end)) == 0;
    }
    FILE* file = w->file;
    w->file = nullptr;
    if (fclose(file) != 0) ok = false;
    FreeWriter(w);
    return ok ? 1 : 0;
}
