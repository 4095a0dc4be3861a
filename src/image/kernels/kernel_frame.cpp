#include "image/kernels/kernel_frame.h"

#include <algorithm>
#include <cstring>

#include "image/colour.h"

bool ImgJobRegionInside(const C_ImgBuff* image, int32_t* x0, int32_t* y0, int32_t* x1, int32_t* y1) {
    if (!image || !ImgFormatValid(image->format) || !image->pixels) return false;
    *x0 = std::max(*x0, 0);
    *y0 = std::max(*y0, 0);
    *x1 = std::min(*x1, image->width - 1);
    *y1 = std::min(*y1, image->height - 1);
    return *x0 <= *x1 && *y0 <= *y1;
}

namespace {

template <class T>
const T* RowAt(const C_ImgBuff& image, int32_t x0, int32_t y) {
    return reinterpret_cast<const T*>(image.PixelAt(x0, y));
}

}  // namespace

void ImgReadGray8Span(const C_ImgBuff& image, int32_t x0, int32_t y, int32_t n, uint8_t* out) {
    switch (image.format) {
        case kImgGray8:
            std::memcpy(out, image.PixelAt(x0, y), static_cast<size_t>(n));
            return;
        case kImgGray16: {
            const uint16_t* s = RowAt<uint16_t>(image, x0, y);
            for (int32_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(s[i] >> 8);
            return;
        }
        case kImgGray32: {
            const uint32_t* s = RowAt<uint32_t>(image, x0, y);
            for (int32_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(s[i] >> 24);
            return;
        }
        case kImgRgb8: {
            const uint8_t* s = RowAt<uint8_t>(image, x0, y);
            for (int32_t i = 0; i < n; ++i, s += 3) out[i] = static_cast<uint8_t>(ImgGrayWeighted32(s[0], s[1], s[2]));
            return;
        }
        case kImgRgb16: {
            const uint16_t* s = RowAt<uint16_t>(image, x0, y);
            for (int32_t i = 0; i < n; ++i, s += 3) out[i] = static_cast<uint8_t>(ImgGrayWeighted32(s[0], s[1], s[2]) >> 8);
            return;
        }
        case kImgRgb32: {
            const uint32_t* s = RowAt<uint32_t>(image, x0, y);
            for (int32_t i = 0; i < n; ++i, s += 3) out[i] = static_cast<uint8_t>(ImgGrayWeighted64(s[0], s[1], s[2]) >> 24);
            return;
        }
        default:
            for (int32_t i = 0; i < n; ++i) {
                out[i] = 0;
                image.GetPixelGray8(x0 + i, y, &out[i]);
            }
            return;
    }
}

void ImgReadGray16Span(const C_ImgBuff& image, int32_t x0, int32_t y, int32_t n, uint16_t* out) {
    switch (image.format) {
        case kImgGray8: {
            const uint8_t* s = RowAt<uint8_t>(image, x0, y);
            for (int32_t i = 0; i < n; ++i) out[i] = static_cast<uint16_t>(s[i] * 257u);
            return;
        }
        case kImgGray16:
            std::memcpy(out, image.PixelAt(x0, y), static_cast<size_t>(n) * 2);
            return;
        case kImgGray32: {
            const uint32_t* s = RowAt<uint32_t>(image, x0, y);
            for (int32_t i = 0; i < n; ++i) out[i] = static_cast<uint16_t>(s[i] >> 16);
            return;
        }
        case kImgRgb8: {
            // Widened to 16 bits first, then weighted at 16 bits.
            const uint8_t* s = RowAt<uint8_t>(image, x0, y);
            for (int32_t i = 0; i < n; ++i, s += 3)
                out[i] = static_cast<uint16_t>(ImgGrayWeighted32(s[0] * 257u, s[1] * 257u, s[2] * 257u));
            return;
        }
        case kImgRgb16: {
            const uint16_t* s = RowAt<uint16_t>(image, x0, y);
            for (int32_t i = 0; i < n; ++i, s += 3) out[i] = static_cast<uint16_t>(ImgGrayWeighted32(s[0], s[1], s[2]));
            return;
        }
        case kImgRgb32: {
            const uint32_t* s = RowAt<uint32_t>(image, x0, y);
            for (int32_t i = 0; i < n; ++i, s += 3) out[i] = static_cast<uint16_t>(ImgGrayWeighted64(s[0], s[1], s[2]) >> 16);
            return;
        }
        default:
            for (int32_t i = 0; i < n; ++i) {
                out[i] = 0;
                image.GetPixelGray16(x0 + i, y, &out[i]);
            }
            return;
    }
}

namespace {

// A channel value at another depth: widening repeats the value (x 257,
// x 65537, x 16843009), narrowing keeps the most significant bits.
template <class To, class From>
To ChangeDepth(From v) {
    if constexpr (sizeof(To) >= sizeof(From)) {
        return static_cast<To>(static_cast<To>(v) * static_cast<To>(To(~To(0)) / To(From(~From(0)))));
    } else {
        return static_cast<To>(v >> (8 * (sizeof(From) - sizeof(To))));
    }
}

template <class To, class From>
void ChannelsAtDepth(const C_ImgBuff& image, int32_t x0, int32_t y, int32_t n, To* out) {
    const From* s = RowAt<From>(image, x0, y);
    for (int32_t i = 0; i < 3 * n; ++i) out[i] = ChangeDepth<To>(s[i]);
}

// RGB at the depth of T (8 or 16 bits): grey repeated into the three
// channels, RGB channels changed in depth, other formats through the getters.
template <class T>
void ReadRgbSpan(const C_ImgBuff& image, int32_t x0, int32_t y, int32_t n, T* out) {
    switch (image.format) {
        case kImgGray8:
        case kImgGray16:
        case kImgGray32: {
            T grey[kImgSpanPixels];
            for (int32_t done = 0; done < n; done += kImgSpanPixels) {
                const int32_t m = std::min(kImgSpanPixels, n - done);
                if constexpr (sizeof(T) == 1) {
                    ImgReadGray8Span(image, x0 + done, y, m, grey);
                } else {
                    ImgReadGray16Span(image, x0 + done, y, m, grey);
                }
                for (int32_t i = 0; i < m; ++i) out[3 * (done + i)] = out[3 * (done + i) + 1] = out[3 * (done + i) + 2] = grey[i];
            }
            return;
        }
        case kImgRgb8:
            ChannelsAtDepth<T, uint8_t>(image, x0, y, n, out);
            return;
        case kImgRgb16:
            ChannelsAtDepth<T, uint16_t>(image, x0, y, n, out);
            return;
        case kImgRgb32:
            ChannelsAtDepth<T, uint32_t>(image, x0, y, n, out);
            return;
        default:
            for (int32_t i = 0; i < n; ++i) {
                out[3 * i] = out[3 * i + 1] = out[3 * i + 2] = 0;
                if constexpr (sizeof(T) == 1) {
                    image.GetPixelRgb8(x0 + i, y, &out[3 * i], &out[3 * i + 1], &out[3 * i + 2]);
                } else {
                    image.GetPixelRgb16(x0 + i, y, &out[3 * i], &out[3 * i + 1], &out[3 * i + 2]);
                }
            }
            return;
    }
}

}  // namespace

void ImgReadRgb8Span(const C_ImgBuff& image, int32_t x0, int32_t y, int32_t n, uint8_t* out) {
    ReadRgbSpan(image, x0, y, n, out);
}

void ImgReadRgb16Span(const C_ImgBuff& image, int32_t x0, int32_t y, int32_t n, uint16_t* out) {
    ReadRgbSpan(image, x0, y, n, out);
}

void ImgReadHsv16Span(const C_ImgBuff& image, int32_t x0, int32_t y, int32_t n, uint16_t* out) {
    switch (image.format) {
        case kImgGray8:
        case kImgGray16:
        case kImgGray32: {
            uint16_t grey[kImgSpanPixels];
            for (int32_t done = 0; done < n; done += kImgSpanPixels) {
                const int32_t m = std::min(kImgSpanPixels, n - done);
                ImgReadGray16Span(image, x0 + done, y, m, grey);
                for (int32_t i = 0; i < m; ++i) {
                    out[3 * (done + i)] = out[3 * (done + i) + 1] = 0;
                    out[3 * (done + i) + 2] = grey[i];
                }
            }
            return;
        }
        case kImgRgb8:
        case kImgRgb16:
        case kImgRgb32: {
            uint16_t rgb[3 * kImgSpanPixels];
            for (int32_t done = 0; done < n; done += kImgSpanPixels) {
                const int32_t m = std::min(kImgSpanPixels, n - done);
                ImgReadRgb16Span(image, x0 + done, y, m, rgb);
                uint16_t* o = out + 3 * done;
                for (int32_t i = 0; i < m; ++i)
                    ImgRgb16ToHsv16(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2], &o[3 * i], &o[3 * i + 1], &o[3 * i + 2]);
            }
            return;
        }
        case kImgHsv16:
            std::memcpy(out, image.PixelAt(x0, y), static_cast<size_t>(n) * 6);
            return;
        default:
            for (int32_t i = 0; i < n; ++i) {
                out[3 * i] = out[3 * i + 1] = out[3 * i + 2] = 0;
                image.GetPixelHsv16(x0 + i, y, &out[3 * i], &out[3 * i + 1], &out[3 * i + 2]);
            }
            return;
    }
}

namespace {

// Black is every byte 0 and white every byte 0xFF in grey and RGB formats.
template <int B>
void WriteLevelBytes(uint8_t* p, int32_t n, const uint8_t* levels) {
    for (int32_t i = 0; i < n; ++i, p += B)
        if (levels[i] != kImgLevelKeep) std::memset(p, levels[i] == kImgLevelWhite ? 0xFF : 0x00, B);
}

}  // namespace

void ImgWriteLevelsSpan(C_ImgBuff& image, int32_t x0, int32_t y, int32_t n, const uint8_t* levels) {
    uint8_t* p = image.PixelAt(x0, y);
    switch (image.format) {
        case kImgGray8: WriteLevelBytes<1>(p, n, levels); return;
        case kImgGray16: WriteLevelBytes<2>(p, n, levels); return;
        case kImgRgb8: WriteLevelBytes<3>(p, n, levels); return;
        case kImgGray32: WriteLevelBytes<4>(p, n, levels); return;
        case kImgRgb16: WriteLevelBytes<6>(p, n, levels); return;
        case kImgRgb32: WriteLevelBytes<12>(p, n, levels); return;
        default: break;
    }
    for (int32_t i = 0; i < n; ++i)
        if (levels[i] != kImgLevelKeep) image.SetPixelGray16(x0 + i, y, levels[i] == kImgLevelWhite ? 65535 : 0);
}
