// The media facade: opening, reading, creating, writing and closing files of
// the built-in formats, dispatched by the extension's format code.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "media/codec_formats.h"
#include "media/open_documents.h"

void codec_file_free(codec_file* file) {
    OpenDocumentRemove(file);
    free(file->name_format);
    free(file->name_buffer);
    free(file->wide_path);
    free(file->ansi_path);
    free(file);
}

namespace {

// Releases the codec state of the handle; 0 when a written file could not be
// completed.
int32_t CloseCodec(codec_file* file) {
    if (file->info.kind == kCodecKindStill) {
        switch (file->format) {
        case kCodecPng: return codec_png_close(file);
        case kCodecJpeg: return codec_jpeg_close(file);
        case kCodecTiff: return codec_tiff_close(file);
        case kCodecBmp: return codec_bmp_close(file);
        case kCodecDicom: return codec_dicom_close(file);
        }
        return 1;
    }
    if (file->info.kind == kCodecKindMovie) {
        if (file->format == kCodecAvi) return codec_avi_close_file(file);
        if (file->format == kCodecMp4) return codec_mp4_close_file(file);
    }
    return 1;
}

int32_t OpenStill(codec_file* file, const char* path) {
    switch (file->format) {
    case kCodecPng: return codec_png_open(file, path);
    case kCodecJpeg: return codec_jpeg_open(file, path);
    case kCodecTiff: return codec_tiff_open(file, path);
    case kCodecBmp: return codec_bmp_open(file, path);
    case kCodecDicom: return codec_dicom_open(file, path);
    }
    return 0;
}

int32_t CreateStill(codec_file* file, const char* path) {
    switch (file->format) {
    case kCodecPng: return codec_png_create(file, path);
    case kCodecJpeg: return codec_jpeg_create(file, path);
    case kCodecTiff: return codec_tiff_create(file, path);
    case kCodecBmp: return codec_bmp_create(file, path);
    }
    return 0;  // DICOM is read only
}

// Kind and format of a path of at least four characters with a known extension.
uint64_t LookupPath(const wchar_t* path, uint64_t* format) {
    if (!path) return kCodecKindNone;
    size_t length = wcslen(path);
    if (length < 4) return kCodecKindNone;
    return codec_extension_lookup(path, length, format);
}

thread_local uint32_t t_open_error = kCodecOpenOk;
thread_local bool t_unsupported_noted = false;

// True when the first bytes of the file are those of its format: a file
// whose contents are of another kind than its extension says is not taken
// for a damaged one.
bool SignatureMatches(const char* path, uint64_t kind, uint64_t format) {
    FILE* f = fopen(path, "rb");
    if (!f) return false;
    uint8_t head[136] = {};
    const size_t got = fread(head, 1, sizeof head, f);
    fclose(f);
    if (kind == kCodecKindMovie) {
        if (format == kCodecAvi) return got >= 12 && memcmp(head, "RIFF", 4) == 0 && memcmp(head + 8, "AVI ", 4) == 0;
        // An MP4 starts with a box: a 32-bit size and a four-letter type.
        if (got < 8) return false;
        for (int i = 4; i < 8; ++i)
            if (head[i] < 0x20 || head[i] > 0x7E) return false;
        return true;
    }
    switch (format) {
    case kCodecPng: return got >= 8 && memcmp(head, "\x89PNG\r\n\x1a\n", 8) == 0;
    case kCodecJpeg: return got >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
    case kCodecTiff:
        return got >= 4 && (memcmp(head, "II*\0", 4) == 0 || memcmp(head, "MM\0*", 4) == 0);
    case kCodecBmp: return got >= 2 && head[0] == 'B' && head[1] == 'M';
    case kCodecDicom: return got >= 132 && memcmp(head + 128, "DICM", 4) == 0;
    }
    return false;
}

// The reason a path that a reader refused gives (see codec_last_open_error).
uint32_t FailureReason(const wchar_t* path, uint64_t kind, uint64_t format, const char* narrow) {
    if (!path || !codec_file_exists(path)) return kCodecOpenUnreadable;
    if (kind == kCodecKindNone || !narrow) return kCodecOpenUnsupported;
    if (t_unsupported_noted || !SignatureMatches(narrow, kind, format)) return kCodecOpenUnsupported;
    return kCodecOpenDamaged;
}

bool FrameGeometryValid(const codec_file_info& info) {
    return info.width != 0 && info.height != 0 && codec_valid_bytes_per_pixel(info.bytes_per_pixel);
}

}  // namespace

void codec_note_unsupported() { t_unsupported_noted = true; }

uint32_t codec_last_open_error() { return t_open_error; }

void codec_set_open_error(uint32_t reason) { t_open_error = reason; }

codec_file* codec_file_open(const wchar_t* path, codec_progress_fn progress, void* context) {
    t_open_error = kCodecOpenOk;
    t_unsupported_noted = false;
    uint64_t format = 0;
    uint64_t kind = LookupPath(path, &format);
    if (kind == kCodecKindNone) {
        t_open_error = FailureReason(path, kind, format, nullptr);
        return nullptr;
    }
    char* narrow = codec_path_to_ansi(path);
    if (!narrow) {
        t_open_error = kCodecOpenUnreadable;
        return nullptr;
    }
    codec_file* file = static_cast<codec_file*>(calloc(1, sizeof(codec_file)));
    if (!file) {
        free(narrow);
        t_open_error = kCodecOpenDamaged;
        return nullptr;
    }
    file->info.kind = kind;
    file->format = format;
    file->mode = kCodecModeRead;
    int32_t ok;
    if (kind == kCodecKindStill) {
        ok = OpenStill(file, narrow);
    } else if (format == kCodecAvi) {
        ok = codec_avi_open_file(file, narrow);
    } else {
        ok = codec_mp4_open_file(file, narrow, progress, context);
    }
    if (!ok) t_open_error = FailureReason(path, kind, format, narrow);
    free(narrow);
    if (!ok) {
        codec_file_free(file);
        return nullptr;
    }
    OpenDocumentAdd(file, path);
    return file;
}

int32_t codec_file_read_frame(codec_file* file, uint64_t image, uint64_t frame, uint64_t, void* buffer) {
    if (!file || file->info.kind == kCodecKindNone || !buffer) return 0;
    if (image >= file->info.image_count || frame >= file->info.frame_count) return 0;
    if (!FrameGeometryValid(file->info)) return 0;
    if (file->info.kind == kCodecKindStill) {
        if (file->mode == kCodecModeSequenceRead) return codec_sequence_read(file, frame, buffer);
        if (file->mode != kCodecModeRead) return 0;
        switch (file->format) {
        case kCodecPng: return codec_png_read(file, image, frame, 1, buffer);
        case kCodecJpeg: return codec_jpeg_read(file, image, frame, 1, buffer);
        case kCodecTiff: return codec_tiff_read(file, image, frame, 1, buffer);
        case kCodecBmp: return codec_bmp_read(file, image, frame, 1, buffer);
        case kCodecDicom: return codec_dicom_read(file, image, frame, 1, buffer);
        }
        return 0;
    }
    if (file->info.kind != kCodecKindMovie || file->info.frame_interval == 0 || file->mode != kCodecModeRead) return 0;
    if (file->format == kCodecAvi) return codec_avi_read_frames(file, image, frame, 1, buffer);
    if (file->format == kCodecMp4) return codec_mp4_read_frames(file, image, frame, 1, buffer);
    return 0;
}

codec_file* codec_file_create(const wchar_t* path, const codec_file_info* info, const codec_write_options* options) {
    uint64_t format;
    uint64_t kind = LookupPath(path, &format);
    if (kind == kCodecKindNone || !info) return nullptr;
    if (info->width == 0 || info->height == 0 || info->bytes_per_pixel == 0) return nullptr;
    if (kind == kCodecKindMovie && (info->image_count == 0 || info->frame_interval == 0)) return nullptr;
    if (kind == kCodecKindStill && (info->image_count != 1 || info->frame_count == 0 || info->frame_interval != 0))
        return nullptr;

    codec_file* file = static_cast<codec_file*>(calloc(1, sizeof(codec_file)));
    if (!file) return nullptr;
    file->ansi_path = codec_path_to_ansi(path);
    file->wide_path = wcsdup(path);
    if (!file->ansi_path || !file->wide_path) {
        codec_file_free(file);
        return nullptr;
    }
    file->info = *info;
    file->info.kind = kind;
    file->format = format;
    file->mode = kCodecModeWrite;
    if (options) file->options = *options;
    if (file->options.jpeg_quality == 0) file->options.jpeg_quality = 75;

    int32_t ok;
    if (kind == kCodecKindStill) {
        ok = CreateStill(file, file->ansi_path);
    } else if (format == kCodecAvi) {
        ok = codec_avi_create_file(file, file->ansi_path);
    } else {
        ok = codec_mp4_create_file(file, file->ansi_path);
    }
    if (!ok) {
        codec_file_free(file);
        return nullptr;
    }
    return file;
}

int32_t codec_file_write_frame(codec_file* file, uint64_t image, uint64_t, const void* buffer) {
    if (!file || file->info.kind == kCodecKindNone || !buffer) return 0;
    if (image >= file->info.image_count || !FrameGeometryValid(file->info)) return 0;
    if (file->info.kind == kCodecKindStill) {
        if (file->mode == kCodecModeSequenceWrite) return codec_sequence_write(file, buffer);
        if (file->mode != kCodecModeWrite) return 0;
        switch (file->format) {
        case kCodecPng: return codec_png_write(file, image, 1, buffer);
        case kCodecJpeg: return codec_jpeg_write(file, image, 1, buffer);
        case kCodecTiff: return codec_tiff_write(file, image, 1, buffer);
        case kCodecBmp: return codec_bmp_write(file, image, 1, buffer);
        }
        return 0;
    }
    if (file->info.kind != kCodecKindMovie || file->info.frame_interval == 0 || file->mode != kCodecModeWrite) return 0;
    if (file->format == kCodecAvi) return codec_avi_write_frame(file, image, 1, buffer);
    if (file->format == kCodecMp4) return codec_mp4_write_frames(file, image, 1, buffer);
    return 0;
}

int32_t codec_file_close(codec_file* file) {
    if (!file) return 0;
    int32_t result = CloseCodec(file);
    codec_file_free(file);
    return result;
}
