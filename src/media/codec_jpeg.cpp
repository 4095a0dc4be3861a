// JPEG still files through libjpeg's stdio source and destination.
//
// Library errors leave through a recovery point: the exit routine jumps to
// the jmp_buf that the library object's client data points at. Every call
// into the library (object creation too) runs inside JpegGuarded, which
// sets that point first and clears it afterwards. The in-memory frame codecs
// share the error manager and the wrapper.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include <jerror.h>
#include <jpeglib.h>

#include "media/codec_formats.h"
#include "media/jpeg_recovery.h"

struct CodecJpegReader {
    jpeg_error_mgr error;
    jpeg_decompress_struct cinfo;
    FILE* stream;
    bool failed;   // a library error left the decoder in an unknown state
    bool started;  // decompression started: the decoder's buffers exist
};

struct CodecJpegWriter {
    jpeg_error_mgr error;
    jpeg_compress_struct cinfo;
    FILE* stream;
    bool failed;
};

namespace {

[[noreturn]] void JpegErrorExit(j_common_ptr cinfo) {
    jmp_buf* recovery = static_cast<jmp_buf*>(cinfo->client_data);
    if (!recovery) abort();  // unreachable: the glue makes no library call without a recovery point
    longjmp(*recovery, 1);
}

// Warnings stay quiet, except those that say the picture data is damaged
// or ends early: the library would carry on with grey or garbled blocks, so
// such a file fails instead.
void JpegEmitMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return;
    switch (cinfo->err->msg_code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_NOT_SEQUENTIAL:
    case JWRN_BOGUS_PROGRESSION: JpegErrorExit(cinfo);
    default: break;
    }
}

}  // namespace

jpeg_error_mgr* JpegErrorManager(jpeg_error_mgr* error) {
    jpeg_std_error(error);
    error->error_exit = JpegErrorExit;
    error->emit_message = JpegEmitMessage;
    return error;
}

namespace {

void FreeReader(CodecJpegReader* r) {
    jpeg_destroy_decompress(&r->cinfo);
    if (r->stream) fclose(r->stream);
    free(r);
}

// A Huffman-coded scan spends at least one bit on every MCU, so the file
// must hold at least one byte per eight MCUs. This refuses headers that
// declare a huge picture in a tiny file before anything is allocated.
bool JpegSizePlausible(const jpeg_decompress_struct& c, FILE* stream) {
    if (c.arith_code) return true;
    struct stat st;
    if (fstat(fileno(stream), &st) != 0) return false;
    uint64_t mcu_w = 8u * static_cast<uint64_t>(c.max_h_samp_factor);
    uint64_t mcu_h = 8u * static_cast<uint64_t>(c.max_v_samp_factor);
    uint64_t mcus = ((c.image_width + mcu_w - 1) / mcu_w) * ((c.image_height + mcu_h - 1) / mcu_h);
    return mcus <= static_cast<uint64_t>(st.st_size) * 8u;
}

// Reads the header of the reader's stream from its current position and
// works out the output size; false on a library error or an implausible size.
// Nothing picture-sized is allocated yet: a progressive file's coefficient
// buffers, as large as the picture, come with the start of decompression,
// which waits for the first read.
bool ReadHeader(CodecJpegReader* r) {
    r->started = false;
    return JpegGuarded(reinterpret_cast<j_common_ptr>(&r->cinfo), [&]() {
        jpeg_stdio_src(&r->cinfo, r->stream);
        jpeg_read_header(&r->cinfo, TRUE);
        if (!JpegSizePlausible(r->cinfo, r->stream)) ERREXIT(&r->cinfo, JERR_IMAGE_TOO_BIG);
        jpeg_calc_output_dimensions(&r->cinfo);
    });
}

bool StartDecompress(CodecJpegReader* r) {
    r->started = JpegGuarded(reinterpret_cast<j_common_ptr>(&r->cinfo), [&]() { jpeg_start_decompress(&r->cinfo); });
    return r->started;
}

bool CreateDecompress(CodecJpegReader* r) {
    r->cinfo.err = JpegErrorManager(&r->error);
    return JpegGuarded(reinterpret_cast<j_common_ptr>(&r->cinfo), [&]() { jpeg_create_decompress(&r->cinfo); });
}

bool CreateCompress(CodecJpegWriter* w) {
    w->cinfo.err = JpegErrorManager(&w->error);
    return JpegGuarded(reinterpret_cast<j_common_ptr>(&w->cinfo), [&]() { jpeg_create_compress(&w->cinfo); });
}

// Inverted (Adobe) CMYK as the decoder delivers it, to RGB.
void CmykRowToRgb(const uint8_t* cmyk, uint8_t* rgb, uint32_t width) {
    for (uint32_t x = 0; x < width; ++x, cmyk += 4, rgb += 3) {
        uint32_t k = cmyk[3];
        rgb[0] = static_cast<uint8_t>(k - (255u - cmyk[0]) * k / 255u);
        rgb[1] = static_cast<uint8_t>(k - (255u - cmyk[1]) * k / 255u);
        rgb[2] = static_cast<uint8_t>(k - (255u - cmyk[2]) * k / 255u);
    }
}

// Decodes every scanline into `buffer`. `cmyk_row` is the caller's
// temporary row for CMYK files, else null.
bool DecodeScanlines(CodecJpegReader* r, uint8_t* buffer, uint8_t* cmyk_row) {
    return JpegGuarded(reinterpret_cast<j_common_ptr>(&r->cinfo), [&]() {
        jpeg_decompress_struct& c = r->cinfo;
        const uint64_t stride = static_cast<uint64_t>(c.output_width) * (cmyk_row ? 3u : c.output_components);
        while (c.output_scanline < c.output_height) {
            uint8_t* dest = buffer + stride * c.output_scanline;
            JSAMPROW row = cmyk_row ? cmyk_row : dest;
            if (jpeg_read_scanlines(&c, &row, 1) != 1) ERREXIT(&c, JERR_BAD_STATE);
            if (cmyk_row) CmykRowToRgb(cmyk_row, dest, c.output_width);
        }
    });
}

bool SameOutput(const jpeg_decompress_struct& c, const codec_file_info& info, J_COLOR_SPACE space) {
    return c.output_width == info.width && c.output_height == info.height && c.out_color_space == space;
}

bool StartCompress(CodecJpegWriter* w, const codec_file& file) {
    return JpegGuarded(reinterpret_cast<j_common_ptr>(&w->cinfo), [&]() {
        jpeg_compress_struct& c = w->cinfo;
        jpeg_stdio_dest(&c, w->stream);
        c.image_width = static_cast<JDIMENSION>(file.info.width);
        c.image_height = static_cast<JDIMENSION>(file.info.height);
        c.input_components = static_cast<int>(file.info.bytes_per_pixel);
        c.in_color_space = file.info.bytes_per_pixel == 1 ? JCS_GRAYSCALE : JCS_RGB;
        jpeg_set_defaults(&c);
        jpeg_set_quality(&c, static_cast<int>(file.options.jpeg_quality), TRUE);
        jpeg_start_compress(&c, TRUE);
    });
}

bool CompressRows(CodecJpegWriter* w, const uint8_t* pixels) {
    return JpegGuarded(reinterpret_cast<j_common_ptr>(&w->cinfo), [&]() {
        jpeg_compress_struct& c = w->cinfo;
        const uint64_t stride = static_cast<uint64_t>(c.image_width) * static_cast<uint64_t>(c.input_components);
        while (c.next_scanline < c.image_height) {
            // The library only reads the rows it is given.
            JSAMPROW row = const_cast<uint8_t*>(pixels + stride * c.next_scanline);
            jpeg_write_scanlines(&c, &row, 1);
        }
    });
}

bool FinishCompress(CodecJpegWriter* w) {
    return JpegGuarded(reinterpret_cast<j_common_ptr>(&w->cinfo), [&]() {
        jpeg_finish_compress(&w->cinfo);
    });
}

}  // namespace

int32_t codec_jpeg_open(codec_file* file, const char* path) {
    CodecJpegReader* r = static_cast<CodecJpegReader*>(calloc(1, sizeof(CodecJpegReader)));
    if (!r) return 0;
    if (!CreateDecompress(r)) {
        FreeReader(r);
        return 0;
    }
    r->stream = fopen(path, "rb");
    if (!r->stream || !ReadHeader(r)) {
        FreeReader(r);
        return 0;
    }
    const jpeg_decompress_struct& c = r->cinfo;
    if (c.out_color_space != JCS_GRAYSCALE && c.out_color_space != JCS_RGB && c.out_color_space != JCS_CMYK) {
        FreeReader(r);
        return 0;
    }
    file->info.image_count = 1;
    file->info.frame_count = 1;
    file->info.width = c.output_width;
    file->info.height = c.output_height;
    file->info.bytes_per_pixel = c.out_color_space == JCS_CMYK ? 3 : static_cast<uint64_t>(c.output_components);
    file->jpeg_reader = r;
    return 1;
}

int32_t codec_jpeg_read(codec_file* file, uint64_t image, uint64_t first, uint64_t count, void* buffer) {
    CodecJpegReader* r = file->jpeg_reader;
    if (!r || image != 0 || first != 0 || count > 1) return 0;
    if (count == 0) return 1;
    jpeg_decompress_struct& c = r->cinfo;
    if (r->failed || (r->started && c.output_scanline != 0)) {
        // Decoded before: decode the file again from its start.
        J_COLOR_SPACE space = c.out_color_space;
        jpeg_abort_decompress(&c);
        rewind(r->stream);
        r->failed = !ReadHeader(r) || !SameOutput(c, file->info, space);
        if (r->failed) return 0;
    }
    if (!r->started && !StartDecompress(r)) {
        r->failed = true;
        return 0;
    }
    uint8_t* cmyk_row = nullptr;
    if (c.out_color_space == JCS_CMYK) {
        cmyk_row = static_cast<uint8_t*>(malloc(static_cast<size_t>(c.output_width) * 4u));
        if (!cmyk_row) return 0;
    }
    bool ok = DecodeScanlines(r, static_cast<uint8_t*>(buffer), cmyk_row);
    free(cmyk_row);
    if (!ok) r->failed = true;
    return ok ? 1 : 0;
}

int32_t codec_jpeg_create(codec_file* file, const char* path) {
    const codec_file_info& info = file->info;
    if (info.frame_count != 1 || (info.bytes_per_pixel != 1 && info.bytes_per_pixel != 3)) return 0;
    if (info.width > JPEG_MAX_DIMENSION || info.height > JPEG_MAX_DIMENSION) return 0;
    CodecJpegWriter* w = static_cast<CodecJpegWriter*>(calloc(1, sizeof(CodecJpegWriter)));
    if (!w) return 0;
    if (CreateCompress(w)) {
        w->stream = fopen(path, "wb");
        if (w->stream && StartCompress(w, *file)) {
            file->jpeg_writer = w;
            return 1;
        }
    }
    jpeg_destroy_compress(&w->cinfo);
    if (w->stream) fclose(w->stream);
    free(w);
    return 0;
}

int32_t codec_jpeg_write(codec_file* file, uint64_t image, uint64_t count, const void* buffer) {
    CodecJpegWriter* w = file->jpeg_writer;
    if (!w || image != 0 || count > 1) return 0;
    if (count == 0) return 1;
    // The file holds one picture.
    if (w->failed || w->cinfo.next_scanline != 0) return 0;
    if (!CompressRows(w, static_cast<const uint8_t*>(buffer))) {
        w->failed = true;
        return 0;
    }
    return 1;
}

int32_t codec_jpeg_close(codec_file* file) {
    int32_t result = 1;
    if (CodecJpegReader* r = file->jpeg_reader) {
        FreeReader(r);
        file->jpeg_reader = nullptr;
    }
    if (CodecJpegWriter* w = file->jpeg_writer) {
        // Finishing fails when the picture is incomplete or a write fails.
        if (w->failed || !FinishCompress(w)) result = 0;
        jpeg_destroy_compress(&w->cinfo);
        if (fclose(w->stream) != 0) result = 0;
        free(w);
        file->jpeg_writer = nullptr;
    }
    return result;
}
