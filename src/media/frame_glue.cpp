// Reading and writing one media frame into or out of an image.
#include "media/frame_glue.h"

#include <climits>

#include "image/imgbuff.h"
#include "media/codec.h"

const int32_t g_FramePixelFormat[13] = {0, kImgGray8, kImgGray16, kImgRgb8, kImgGray32, 0, kImgRgb16,
                                        0, 0,         0,          0,        0,          kImgRgb32};

namespace {

// The image format of a file's frames; 0 when the file holds no image frames.
int32_t FrameFormat(const codec_file_info& info) {
    if (info.kind != kCodecKindStill && info.kind != kCodecKindMovie) return 0;
    if (info.bytes_per_pixel > 12) return 0;
    return g_FramePixelFormat[info.bytes_per_pixel];
}

}  // namespace

int32_t CImgBuff::ReadFrame(codec_file* file, uint64_t index) {
    if (!file || !buffer) return 0;
    const codec_file_info& info = file->info;
    int32_t format = FrameFormat(info);
    if (format == 0) return 0;
    // The frame must fit an image and its byte count an address.
    uint64_t bytes;
    if (info.width < 1 || info.width > INT32_MAX || info.height < 1 || info.height > INT32_MAX ||
        __builtin_mul_overflow(info.width * info.height, info.bytes_per_pixel, &bytes) || bytes > SIZE_MAX)
        return 0;
    const int32_t w = static_cast<int32_t>(info.width), h = static_cast<int32_t>(info.height);
    // The JPEG and PNG readers write every byte of a frame they return, so
    // the block is not cleared first: a played sequence would otherwise
    // clear every scene's frame before decoding over it.
    const bool fills = info.kind == kCodecKindStill && (file->format == kCodecJpeg || file->format == kCodecPng);
    if (!fills) {
        if (!buffer->Create(w, h, format)) return 0;
    } else if (!buffer->pixels || buffer->width != w || buffer->height != h || buffer->format != format) {
        buffer->FreePixels();
        uint8_t* block = ImgAllocPixelsUncleared(static_cast<uint64_t>(w) * static_cast<uint64_t>(h),
                                                 static_cast<uint64_t>(info.bytes_per_pixel));
        if (!block) return 0;
        buffer->pixels = block;
        buffer->format = format;
        buffer->width = w;
        buffer->height = h;
    }
    return codec_file_read_frame(file, 0, index, 0, buffer->pixels);
}

int32_t CImgBuff::WriteFrame(codec_file* file) const {
    if (!file || !buffer) return 0;
    const codec_file_info& info = file->info;
    int32_t format = FrameFormat(info);
    if (format == 0 || buffer->format != format) return 0;
    if (info.width != static_cast<uint64_t>(buffer->width) || info.height != static_cast<uint64_t>(buffer->height))
        return 0;
    return codec_file_write_frame(file, 0, info.bytes_per_pixel, buffer->pixels);
}

int32_t CImgBuff::GetFrameInfo(codec_file_info* info) const {
    if (!info) return 0;
    *info = {};
    if (!buffer || !ImgFormatValid(buffer->format)) return 0;
    info->kind = kCodecKindStill;
    info->image_count = 1;
    info->frame_count = 1;
    info->bytes_per_pixel = static_cast<uint64_t>(buffer->BytesPerPixel());
    info->width = static_cast<uint64_t>(buffer->width);
    info->height = static_cast<uint64_t>(buffer->height);
    return 1;
}
