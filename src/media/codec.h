// The media facade: one door to open, read, create, write and close still
// images, numbered sequences of stills and movies of the built-in formats.
// C-style: plain records, results 1 (or a handle) for success, 0 (or null)
// for failure; nothing here shows a message.
#pragma once

#include <cstdint>

// Kinds.
enum : uint64_t {
    kCodecKindNone = 0,
    kCodecKindStill = 1,
    kCodecKindMovie = 2,
};

// Format codes: stills.
enum : uint64_t {
    kCodecPng = 1,
    kCodecJpeg = 2,
    kCodecTiff = 3,
    kCodecBmp = 4,
    kCodecDicom = 5,
};

// Format codes: movies.
enum : uint64_t {
    kCodecMp4 = 1,
    kCodecAvi = 4,
};

// Modes.
enum : uint64_t {
    kCodecModeRead = 1,
    kCodecModeWrite = 2,
    kCodecModeSequenceRead = 3,
    kCodecModeSequenceWrite = 4,
};

// Describes the frames of one file. Pixels cross the facade as tight rows,
// top row first, channels R, G, B, samples in native byte order.
struct codec_file_info {
    uint64_t kind;             // 1 still, 2 movie
    uint64_t image_count;      // always 1
    uint64_t frame_count;      // frames in the file or sequence
    uint64_t bytes_per_pixel;  // 1, 2, 3, 4, 6 or 12
    uint64_t width;
    uint64_t height;
    uint64_t frame_interval;  // microseconds per frame; 0 for stills
};

struct codec_write_options {
    uint32_t jpeg_quality;  // 1 .. 100; 0 means 75
    uint32_t avi_codec;     // frame codec of the AVI writer
    uint32_t unused;
    uint32_t mp4_quality;
    uint32_t mp4_bitrate;
    uint32_t mp4_key_interval;
};

// Progress of a movie's frame scan at open: phase 1 once at the start, 0
// after each frame (a zero result stops the scan), 2 at the end.
typedef int32_t (*codec_progress_fn)(uint64_t done, uint64_t total, int32_t phase, void* context);

// Per-format state, each defined by its codec.
struct CodecJpegReader;
struct CodecJpegWriter;
struct CodecPngReader;
struct CodecPngWriter;
struct CodecTiffReader;
struct CodecTiffWriter;
struct CodecBitmap;
struct CodecDicom;
struct AviStream;
struct Mp4Reader;
struct Mp4Writer;

// One open media file or numbered sequence. Allocated zero-filled by the
// facade and freed by codec_file_close.
struct codec_file {
    codec_file_info info;
    uint64_t format;
    uint64_t mode;
    // Numbered sequences: printf-style wide name with one %llu field, room
    // for the longest name, the number range and the longest name's length.
    wchar_t* name_format;
    wchar_t* name_buffer;
    uint64_t first_number;
    uint64_t last_number;
    uint64_t name_length;
    CodecJpegReader* jpeg_reader;
    CodecPngReader* png_reader;
    CodecDicom* dicom_reader;
    CodecTiffReader* tiff_reader;
    CodecBitmap* bmp_reader;
    AviStream* avi_reader;
    Mp4Reader* mp4_reader;
    wchar_t* wide_path;  // created files
    char* ansi_path;     // created files
    uint64_t next_file;  // numbered sequences for writing: files written
    codec_write_options options;
    CodecJpegWriter* jpeg_writer;
    CodecPngWriter* png_writer;
    CodecTiffWriter* tiff_writer;
    CodecBitmap* bmp_writer;
    AviStream* avi_writer;
    Mp4Writer* mp4_writer;
};

// The path as newly allocated (malloc) UTF-8 text, the system's narrow file
// name encoding. Null for a null path or text that is not valid Unicode;
// an empty path gives an empty text.
char* codec_path_to_ansi(const wchar_t* path);

// 1 when the path names a regular file that can be opened for binary reading.
int32_t codec_file_exists(const wchar_t* path);

// Kind (0 for none) and format code of a path by its extension: the last
// four characters when they start with '.', else the last five when they do.
uint64_t codec_extension_lookup(const wchar_t* path, uint64_t length, uint64_t* format);

codec_file* codec_file_open(const wchar_t* path, codec_progress_fn progress, void* context);
codec_file* codec_sequence_open(const wchar_t* first_path, const wchar_t* last_path);

// Why the calling thread's last codec_file_open or codec_sequence_open gave
// null: the file cannot be read (missing, a folder, no permission), it is
// not of a kind the readers take (unknown extension, other contents than the
// extension says, or a variant the reader refuses), or it is damaged.
enum : uint32_t {
    kCodecOpenOk = 0,
    kCodecOpenUnreadable = 1,
    kCodecOpenUnsupported = 2,
    kCodecOpenDamaged = 3,
};
uint32_t codec_last_open_error();
int32_t codec_file_read_frame(codec_file* file, uint64_t image, uint64_t frame, uint64_t unused, void* buffer);

codec_file* codec_file_create(const wchar_t* path, const codec_file_info* info, const codec_write_options* options);
codec_file* codec_sequence_create(const wchar_t* path, const codec_file_info* info,
                                  const codec_write_options* options);
int32_t codec_file_write_frame(codec_file* file, uint64_t image, uint64_t unused, const void* buffer);

// Finishes the file, frees everything the handle owns and the handle. 0 for
// a null handle or when the file could not be completed.
int32_t codec_file_close(codec_file* file);
