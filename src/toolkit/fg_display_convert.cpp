// Display conversion between images and textures: any pixel format to the
// 8-bit RGB texels a picture is drawn from, and a texture's first cell back
// into an RGB8 image.
#include <cstring>

#include "image/imgbuff.h"
#include "image/pool.h"
#include "toolkit/fg_screen.h"
#include "toolkit/fg_texture.h"

namespace {

// Context of the texture row worker.
struct ImgTextureJob {
    const CImgBuff* image;
    uint8_t* texture;
    uint64_t texturePitch;  // power-of-two buffer width x 3
    uint64_t rowBytes;      // image width x 3
    uint32_t bytesPerPixel;
};

// Converts image rows [first, first + count) to RGB texels, one texel per
// pixel; wider samples show their most significant byte.
void ImgRowToTexture(void* ctx, uint64_t first, uint64_t count) {
    const auto* job = static_cast<const ImgTextureJob*>(ctx);
    const C_ImgBuff* buf = job->image->buffer;
    const uint64_t width = static_cast<uint64_t>(buf->width);
    for (uint64_t r = first; r < first + count; ++r) {
        const uint8_t* src = buf->pixels + r * width * job->bytesPerPixel;
        uint8_t* dst = job->texture + r * job->texturePitch;
        switch (job->bytesPerPixel) {
        case 1:
            for (uint64_t x = 0; x < width; ++x, dst += 3) dst[0] = dst[1] = dst[2] = src[x];
            break;
        case 2: {
            const auto* s = reinterpret_cast<const uint16_t*>(src);
            for (uint64_t x = 0; x < width; ++x, dst += 3) dst[0] = dst[1] = dst[2] = static_cast<uint8_t>(s[x] >> 8);
            break;
        }
        case 3:
            std::memcpy(dst, src, job->rowBytes);
            break;
        case 4: {  // grey32, and CMYK8 whose K byte is the most significant
            const auto* s = reinterpret_cast<const uint32_t*>(src);
            for (uint64_t x = 0; x < width; ++x, dst += 3) dst[0] = dst[1] = dst[2] = static_cast<uint8_t>(s[x] >> 24);
            break;
        }
        case 6: {  // RGB16, and HSV16 shown as its three channels
            const auto* s = reinterpret_cast<const uint16_t*>(src);
            for (uint64_t i = 0; i < width * 3; ++i) dst[i] = static_cast<uint8_t>(s[i] >> 8);
            break;
        }
        case 12: {
            const auto* s = reinterpret_cast<const uint32_t*>(src);
            for (uint64_t i = 0; i < width * 3; ++i) dst[i] = static_cast<uint8_t>(s[i] >> 24);
            break;
        }
        default:  // XYZ through its sRGB conversion
            for (uint64_t x = 0; x < width; ++x, dst += 3)
                buf->GetPixelRgb8(static_cast<int32_t>(x), static_cast<int32_t>(r), dst, dst + 1, dst + 2);
            break;
        }
    }
}

}  // namespace

int32_t CFgTexture::SetFromImage(const CImgBuff* image, uint64_t columns) {
    if (!image || !image->buffer || !ImgFormatValid(image->buffer->format) || !image->buffer->pixels) return 0;
    const C_ImgBuff* buf = image->buffer;
    // The buffer is refilled under the locks a draw on the interface thread takes.
    CriticalSectionLock gl(g_GlLock);
    CriticalSectionLock own(lock);
    const uint64_t w = static_cast<uint64_t>(buf->width);
    const uint64_t h = static_cast<uint64_t>(buf->height);
    // A frame of the same size overwrites every texel of the single cell:
    // the buffer is kept instead of being freed and zero-filled anew.
    const bool sameCell = pixels && columns == 1 && this->columns == 1 && rows == 1 && alpha == 0 &&
                          cellWidth == w && cellHeight == h;
    if (!sameCell && !Create(w, h, columns, 1, 0, nullptr)) return 0;
    ImgTextureJob job{image, pixels, RowBytes(), static_cast<uint64_t>(buf->width) * 3,
                      static_cast<uint32_t>(buf->BytesPerPixel())};
    PoolParallelFor(ImgRowToTexture, &job, static_cast<uint64_t>(buf->height));
    Upload();
    return 1;
}

int32_t CImgBuff::CopyFromTexture(const CFgTexture* texture) {
    if (!texture || !buffer) return 0;
    CriticalSectionLock own(texture->lock);
    if (!texture->pixels) return 0;
    if (!buffer->Create(static_cast<int32_t>(texture->cellWidth), static_cast<int32_t>(texture->cellHeight), kImgRgb8))
        return 0;
    const uint64_t width = texture->cellWidth;
    const uint64_t pitch = texture->RowBytes();
    for (uint64_t y = 0; y < texture->cellHeight; ++y) {
        const uint8_t* src = texture->pixels + y * pitch;
        uint8_t* dst = buffer->pixels + y * width * 3;
        if (texture->alpha) {
            for (uint64_t x = 0; x < width; ++x, src += 4, dst += 3) {
                dst[0] = src[0];
                dst[1] = src[1];
                dst[2] = src[2];
            }
        } else {
            std::memcpy(dst, src, width * 3);
        }
    }
    return 1;
}
