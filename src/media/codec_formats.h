// Entry points of the format codecs below the media facade. Each takes the
// facade's handle and, for opening and creating, the UTF-8 path. Openers
// fill the handle's info; readers take (image index, first frame, frame
// count, buffer) and writers (image index, frame count, buffer). Closers
// release the codec's state in the handle and return 0 when a written file
// could not be completed. All results are 1 for success and 0 for failure.
#pragma once

#include <cstdint>

#include "media/codec.h"

// Readers call this where a well-formed file uses a variant they do not read
// (a compression, a layout, a transfer syntax), so that the open is reported
// as "not a supported kind" rather than as damaged.
void codec_note_unsupported();
// Sets the reason codec_last_open_error reports (numbered sequences).
void codec_set_open_error(uint32_t reason);

int32_t codec_png_open(codec_file* file, const char* path);
// Decodes the 8-bit grey or RGB file at `path` of the size and bytes per
// pixel of `expect` straight into `buffer`: 1 done, 0 failed (the buffer
// may hold part of the frame), -1 not such a file (nothing written; the
// general open and read decide).
int32_t codec_png_read_into(const char* path, const codec_file_info* expect, void* buffer);
int32_t codec_png_read(codec_file* file, uint64_t image, uint64_t first, uint64_t count, void* buffer);
int32_t codec_png_create(codec_file* file, const char* path);
int32_t codec_png_write(codec_file* file, uint64_t image, uint64_t count, const void* buffer);
int32_t codec_png_close(codec_file* file);

int32_t codec_jpeg_open(codec_file* file, const char* path);
int32_t codec_jpeg_read(codec_file* file, uint64_t image, uint64_t first, uint64_t count, void* buffer);
int32_t codec_jpeg_create(codec_file* file, const char* path);
int32_t codec_jpeg_write(codec_file* file, uint64_t image, uint64_t count, const void* buffer);
int32_t codec_jpeg_close(codec_file* file);

int32_t codec_tiff_open(codec_file* file, const char* path);
int32_t codec_tiff_read(codec_file* file, uint64_t image, uint64_t first, uint64_t count, void* buffer);
int32_t codec_tiff_create(codec_file* file, const char* path);
int32_t codec_tiff_write(codec_file* file, uint64_t image, uint64_t count, const void* buffer);
int32_t codec_tiff_close(codec_file* file);

int32_t codec_bmp_open(codec_file* file, const char* path);
int32_t codec_bmp_read(codec_file* file, uint64_t image, uint64_t first, uint64_t count, void* buffer);
int32_t codec_bmp_create(codec_file* file, const char* path);
int32_t codec_bmp_write(codec_file* file, uint64_t image, uint64_t count, const void* buffer);
int32_t codec_bmp_close(codec_file* file);

// DICOM files are read only.
int32_t codec_dicom_open(codec_file* file, const char* path);
int32_t codec_dicom_read(codec_file* file, uint64_t image, uint64_t first, uint64_t count, void* buffer);
int32_t codec_dicom_close(codec_file* file);

// Movies. The openers fill image count, frame count, bytes per pixel,
// width, height and frame interval of the handle's info.
int32_t codec_avi_open_file(codec_file* file, const char* path);
int32_t codec_avi_read_frames(codec_file* file, uint64_t image, uint64_t first, uint64_t count, void* buffer);
int32_t codec_avi_create_file(codec_file* file, const char* path);
int32_t codec_avi_write_frame(codec_file* file, uint64_t image, uint64_t count, const void* buffer);
int32_t codec_avi_close_file(codec_file* file);

int32_t codec_mp4_open_file(codec_file* file, const char* path, codec_progress_fn progress, void* context);
int32_t codec_mp4_read_frames(codec_file* file, uint64_t image, uint64_t first, uint64_t count, void* buffer);
int32_t codec_mp4_create_file(codec_file* file, const char* path);
int32_t codec_mp4_write_frames(codec_file* file, uint64_t image, uint64_t count, const void* buffer);
int32_t codec_mp4_close_file(codec_file* file);

// Numbered sequences: one frame read from or written to the file of its number.
int32_t codec_sequence_read(codec_file* file, uint64_t frame, void* buffer);
int32_t codec_sequence_write(codec_file* file, const void* buffer);

// Frees the handle's path copies, sequence names and the handle itself.
void codec_file_free(codec_file* file);

// 1 for the bytes per pixel a frame may have: 1, 2, 3, 4, 6, 12.
inline bool codec_valid_bytes_per_pixel(uint64_t bpp) {
    return bpp == 1 || bpp == 2 || bpp == 3 || bpp == 4 || bpp == 6 || bpp == 12;
}
