// MP4 (ISO base media) files with one H.264 video track: the box tree, the
// reader and the writer below the facade's MP4 dispatchers.
#pragma once

#include <cstdint>
#include <cstdio>

#include "media/codec.h"
#include "media/h264.h"

constexpr uint32_t Mp4Type(const char (&name)[5]) {
    return (static_cast<uint32_t>(static_cast<uint8_t>(name[0])) << 24) |
           (static_cast<uint32_t>(static_cast<uint8_t>(name[1])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(name[2])) << 8) | static_cast<uint8_t>(name[3]);
}

// One box of the tree. Siblings are linked in file order.
struct Mp4Box {
    uint32_t type;
    uint64_t size;         // of the data: box size minus header
    uint64_t offset;       // of the box in the file
    uint64_t data_offset;  // of its data
    Mp4Box* parent;
    Mp4Box* first_child;
    Mp4Box* last_child;
    Mp4Box* next;
};

// Nesting deeper than this fails the level that would hold it.
constexpr uint32_t kMp4MaxDepth = 32;
// A file with more boxes than this is refused.
constexpr uint64_t kMp4MaxBoxes = 1u << 20;

// Parses the file's boxes (file_size bytes from offset 0) into a list of
// top-level boxes; null when the file is refused or holds no box.
Mp4Box* mp4_box_parse(FILE* file, uint64_t file_size);
// Frees a list of boxes with all their children.
void mp4_box_free(Mp4Box* list);
// The first box of the type in pre-order among the list and its descendants.
Mp4Box* mp4_box_find(Mp4Box* list, uint32_t type);
// Reads `size` bytes at `at` of the box's data; 0 when they pass the data
// or cannot be read.
int32_t mp4_box_read(FILE* file, const Mp4Box* box, uint64_t at, void* out, uint64_t size);

// The output size (from the track header) may be at most this many times
// the picture's width and height; a larger one refuses the file.
constexpr uint64_t kMp4MaxStretch = 4;

struct Mp4Sample {
    uint64_t offset;
    uint32_t size;
    uint8_t sync;
};

// Frame k shows `sample` and decoding starts at `key`.
struct Mp4PlanEntry {
    uint32_t sample;
    uint32_t key;
    uint8_t usable;
};

struct Mp4Reader {
    FILE* file;
    uint64_t file_size;
    Mp4Box* boxes;
    Mp4Box* track;           // the video "trak"
    uint32_t width, height;  // output size, from the track header
    uint32_t coded_width, coded_height;
    uint32_t interval;  // µs
    uint32_t sample_count;
    Mp4Sample* samples;
    uint8_t* prefix;  // SPS and PPS, each after a 4-byte big-endian length
    uint32_t prefix_size;
    Mp4PlanEntry* plan;
    uint32_t planned;  // frames in the plan
    uint32_t usable;   // frames reported to the facade
    H264Decoder decoder;
    uint8_t* feed;  // one access unit in start-code form
    uint64_t feed_capacity;
    uint64_t fed_samples;  // samples given to the decoder so far
    uint32_t refused_sample;  // the sample the last feed failed on; UINT32_MAX for none
};

// Reads boxes and sample tables (no decoder): everything of the open but
// the frame scan. Null when the file is refused; the file stays the
// caller's and is not kept.
Mp4Reader* mp4_reader_parse(FILE* file);
Mp4Reader* codec_mp4_open(const char* path, codec_progress_fn progress, void* context);
// out receives width × height × 3 bytes (R, G, B, top row first); zeros and
// 0 when the frame cannot be decoded.
int32_t codec_mp4_read_frame(Mp4Reader* reader, uint64_t frame, void* out, uint64_t out_size);
void codec_mp4_close(Mp4Reader* reader);

struct Mp4WriterOptions {
    uint32_t quality;  // 0 explicit bit rate, 1 .. 100 per mille of the maximum, 101 and above the maximum
    uint32_t bitrate;  // bits per second
    uint32_t key_interval;  // frames; 0 leaves key frames to the encoder
};

struct Mp4WriterSample {
    uint32_t size;
    uint32_t sync;
};

struct Mp4Writer {
    uint32_t width, height;  // even
    uint32_t bit_count;      // 8 or 24
    uint32_t interval;       // µs
    uint8_t grey;
    uint8_t palette[256][3];  // grey ramp for 8-bit frames
    uint64_t rgb_size;        // w × h × 3
    uint64_t i420_size;       // w × h × 3 / 2
    uint64_t max_bitrate;     // M = (1,000,000 / interval) × i420 size × 8
    uint32_t quality, bitrate, key_interval;
    uint32_t base_bitrate, current_bitrate, peak_bitrate;
    ISVCEncoder* encoder;
    FILE* file;
    uint64_t position;     // current end of the media data
    uint64_t mdat_size;    // header included
    uint64_t mdat_size_at; // file offset of the mdat's 64-bit size
    uint64_t media_start;  // file offset of the first media byte
    Mp4WriterSample* samples;
    uint64_t sample_count;
    uint64_t sample_capacity;
    uint64_t sync_count;
    uint8_t* sps;  // 2-byte big-endian length and the NAL unit
    uint32_t sps_size;
    uint8_t* pps;
    uint32_t pps_size;
    uint8_t* rgb;   // one frame as RGB
    uint8_t* i420;  // ... and as I420
    uint8_t force_idr;  // the next frame is asked to be an IDR frame
};

Mp4Writer* codec_mp4_create(const char* path, uint64_t width, uint64_t height, uint32_t bit_count,
                            uint64_t interval, const Mp4WriterOptions* options);
// Encodes `count` frames of w × h × bit count / 8 bytes each; 1/0. A failed
// frame leaves the file as it was before it.
int32_t codec_mp4_write(Mp4Writer* writer, uint64_t count, const void* pixels);
// Writes the movie box and closes; 0 when the file could not be completed.
int32_t codec_mp4_close_writer(Mp4Writer* writer);

// Test seam: writing sample number `sample` (counting from 0) fails once at
// least `bytes` of it have reached the file; UINT64_MAX switches it off.
void codec_mp4_fail_sample_for_testing(uint64_t sample, uint64_t bytes);
