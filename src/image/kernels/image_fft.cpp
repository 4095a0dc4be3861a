// Image FFT: load, transform, spectrum picture and masked inverse.
//
// The forward transform multiplies each loaded value by (-1)^(x+y): the
// transform of the modulated image is the spectrum already shifted by half
// the transform in both directions, so no quadrant swap pass is needed.
#include "image/kernels/image_fft.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "image/kernels/kernel_frame.h"
#include "image/pool.h"

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <class T>
using HeapArray = std::unique_ptr<T, FreeDeleter>;

bool PowerOfTwoAtLeast2(int64_t v) { return v >= 2 && (v & (v - 1)) == 0; }
bool IsColour(int32_t format) { return format >= kImgRgb8; }
int ChannelsOf(int32_t format) { return IsColour(format) ? 3 : 1; }

// S x S x element bytes, or 0 when it does not fit.
uint64_t SquareBytes(uint64_t sw, uint64_t sh, uint64_t element) {
    uint64_t n = 0, bytes = 0;
    if (__builtin_mul_overflow(sw, sh, &n) || __builtin_mul_overflow(n, element, &bytes)) return 0;
    if (bytes > static_cast<uint64_t>(SIZE_MAX) - 64) return 0;
    return bytes;
}

void* AlignedAlloc(uint64_t bytes) { return std::aligned_alloc(64, (bytes + 63) & ~uint64_t(63)); }

// ---- load ----

struct LoadJob {
    const C_ImgBuff* image;
    FftComplex* array[3];
    uint64_t side;  // S
};

template <class T>
inline void PutRow(FftComplex* row, uint64_t y, const T* values, int32_t n, int step, int32_t x0, double divisor) {
    // (-1)^(x+y) centres the spectrum.
    for (int32_t i = 0; i < n; ++i) {
        const double v = static_cast<double>(values[i * step]) / divisor;
        row[x0 + i] = FftComplex{((x0 + i + y) & 1) ? -v : v, 0.0};
    }
}

// Rows first .. first+count-1 of the image, each with its zero padding on
// the right.
void ImgFftLoadRows(void* ctx, uint64_t first, uint64_t count) {
    const LoadJob* job = static_cast<const LoadJob*>(ctx);
    const C_ImgBuff& img = *job->image;
    const uint64_t s = job->side;
    const int channels = ChannelsOf(img.format);
    const bool wide = !ImgFormatIn(ImgFormat8BitMask, img.format) && !ImgFormatIn(ImgFormat16BitMask, img.format);
    const double divisor = ImgFormatIn(ImgFormat8BitMask, img.format) ? 255.0 : wide ? 4294967295.0 : 65535.0;
    uint16_t buf[3 * kImgSpanPixels];
    uint32_t wbuf[3 * kImgSpanPixels];
    for (uint64_t y = first; y < first + count; ++y) {
        FftComplex* rows[3];
        for (int c = 0; c < channels; ++c) rows[c] = job->array[c] + s * y;
        const int32_t yy = static_cast<int32_t>(y);
        for (int32_t x0 = 0; x0 < img.width; x0 += kImgSpanPixels) {
            const int32_t n = std::min(kImgSpanPixels, img.width - x0);
            if (!wide) {
                const bool eight = ImgFormatIn(ImgFormat8BitMask, img.format);
                if (eight) {
                    uint8_t* b8 = reinterpret_cast<uint8_t*>(buf);
                    if (channels == 1) ImgReadGray8Span(img, x0, yy, n, b8);
                    else ImgReadRgb8Span(img, x0, yy, n, b8);
                    for (int c = 0; c < channels; ++c) PutRow(rows[c], y, b8 + c, n, channels, x0, divisor);
                } else {
                    if (channels == 1) ImgReadGray16Span(img, x0, yy, n, buf);
                    else ImgReadRgb16Span(img, x0, yy, n, buf);
                    for (int c = 0; c < channels; ++c) PutRow(rows[c], y, buf + c, n, channels, x0, divisor);
                }
            } else {
                const uint32_t* src = wbuf;
                if (img.format == kImgGray32 || img.format == kImgRgb32) {
                    src = reinterpret_cast<const uint32_t*>(img.PixelAt(x0, yy));
                } else {
                    for (int32_t i = 0; i < n; ++i) img.GetPixelRgb32(x0 + i, yy, &wbuf[3 * i], &wbuf[3 * i + 1], &wbuf[3 * i + 2]);
                }
                for (int c = 0; c < channels; ++c) PutRow(rows[c], y, src + c, n, channels, x0, divisor);
            }
        }
        for (int c = 0; c < channels; ++c) std::memset(rows[c] + img.width, 0, (s - img.width) * sizeof(FftComplex));
    }
}

// ---- store ----

// Level and display conversions of a value v (normally in [0, 1]) for a
// channel of type T. Display mode maps NaN (the all-zero spectrum) to v = 0.
template <class T>
struct Depth;
template <>
struct Depth<uint8_t> {
    static constexpr double kMax = 255.0, kOffset = 1.0, kSpan = 254.0;
    static uint8_t Clamp(double v) { return ImgClampToU8(v); }
};
template <>
struct Depth<uint16_t> {
    static constexpr double kMax = 65535.0, kOffset = 256.0, kSpan = 65279.0;
    static uint16_t Clamp(double v) { return ImgClampToU16(v); }
};
template <>
struct Depth<uint32_t> {
    static constexpr double kMax = 4294967295.0, kOffset = 65536.0, kSpan = 4294901759.0;
    static uint32_t Clamp(double v) { return ImgClampToU32(v); }
};

template <class T>
inline T ToLevel(double v, bool display) {
    using D = Depth<T>;
    if (!display) return D::Clamp(D::kMax * v);
    if (std::isnan(v)) v = 0.0;
    return D::Clamp(D::kOffset + std::trunc(D::kSpan * v));
}

struct StoreJob {
    C_ImgBuff* image;        // w x h output
    const double* values[3];  // channel c of transform element i at values[c][i * stride]
    uint64_t stride;
    uint64_t transformWidth;
    uint64_t x0, y0;  // window of the transform that the output shows
    bool display;
};

template <class T>
void StoreRowDirect(const StoreJob* job, int32_t y, const double* const src[3], int channels) {
    T* p = reinterpret_cast<T*>(job->image->PixelAt(0, y));
    const int32_t w = job->image->width;
    const uint64_t st = job->stride;
    for (int32_t x = 0; x < w; ++x)
        for (int c = 0; c < channels; ++c) p[x * channels + c] = ToLevel<T>(src[c][x * st], job->display);
}

void ImgFftStoreRows(void* ctx, uint64_t first, uint64_t count) {
    const StoreJob* job = static_cast<const StoreJob*>(ctx);
    C_ImgBuff& img = *job->image;
    const int channels = ChannelsOf(img.format);
    for (uint64_t oy = first; oy < first + count; ++oy) {
        const double* src[3] = {nullptr, nullptr, nullptr};
        const uint64_t base = (job->transformWidth * (job->y0 + oy) + job->x0) * job->stride;
        for (int c = 0; c < channels; ++c) src[c] = job->values[c] + base;
        const int32_t y = static_cast<int32_t>(oy);
        const uint64_t st = job->stride;
        switch (img.format) {
            case kImgGray8:
            case kImgRgb8:
                StoreRowDirect<uint8_t>(job, y, src, channels);
                break;
            case kImgGray16:
            case kImgRgb16:
                StoreRowDirect<uint16_t>(job, y, src, channels);
                break;
            case kImgGray32:
            case kImgRgb32:
                StoreRowDirect<uint32_t>(job, y, src, channels);
                break;
            case kImgCmyk8:
                for (int32_t x = 0; x < img.width; ++x)
                    img.SetPixelRgb8(x, y, ToLevel<uint8_t>(src[0][x * st], job->display), ToLevel<uint8_t>(src[1][x * st], job->display),
                                     ToLevel<uint8_t>(src[2][x * st], job->display));
                break;
            case kImgHsv16:
                for (int32_t x = 0; x < img.width; ++x)
                    img.SetPixelRgb16(x, y, ToLevel<uint16_t>(src[0][x * st], job->display),
                                      ToLevel<uint16_t>(src[1][x * st], job->display), ToLevel<uint16_t>(src[2][x * st], job->display));
                break;
            default:  // XYZ
                for (int32_t x = 0; x < img.width; ++x)
                    img.SetPixelRgb32(x, y, ToLevel<uint32_t>(src[0][x * st], job->display),
                                      ToLevel<uint32_t>(src[1][x * st], job->display), ToLevel<uint32_t>(src[2][x * st], job->display));
                break;
        }
    }
}

// ---- masks ----

struct MaskJob {
    ImgFftState* state;
    const C_ImgBuff* mask;
    uint64_t x0, y0;  // window of the transform that the mask covers
    bool level;
};

// Level p of mask pixel (x, y) at the state's depth; false when unreadable.
bool ReadGrayLevel(const C_ImgBuff& mask, int32_t depthBytes, int32_t x, int32_t y, double* p, double* d) {
    if (depthBytes == 1) {
        uint8_t v = 0;
        if (!mask.GetPixelGray8(x, y, &v)) return false;
        *p = v, *d = 255.0;
    } else if (depthBytes == 2) {
        uint16_t v = 0;
        if (!mask.GetPixelGray16(x, y, &v)) return false;
        *p = v, *d = 65535.0;
    } else {
        uint32_t v = 0;
        if (!mask.GetPixelGray32(x, y, &v)) return false;
        *p = v, *d = 4294967295.0;
    }
    return true;
}

// Zero mask: level 0 removes the coefficient. Level mask: the coefficient
// keeps its phase and takes the magnitude whose display value is p / D.
inline void ApplyLevel(FftComplex& e, bool readable, double p, double d, double scale, bool level) {
    if (!readable || p == 0.0) {
        e = FftComplex{0.0, 0.0};
        return;
    }
    if (!level) return;
    const double m = std::sqrt(e.re * e.re + e.im * e.im);
    if (m > 0.0) {
        const double f = std::sqrt(std::pow(10.0, p / d / scale) - 1.0) / m;
        e.re *= f;
        e.im *= f;
    }
}

void ImgFftMaskRows(void* ctx, uint64_t first, uint64_t count) {
    const MaskJob* job = static_cast<const MaskJob*>(ctx);
    ImgFftState& st = *job->state;
    const C_ImgBuff& mask = *job->mask;
    const uint64_t sw = static_cast<uint64_t>(st.transformWidth);
    const bool colour = IsColour(st.format);
    for (uint64_t my = first; my < first + count; ++my) {
        const int32_t y = static_cast<int32_t>(my);
        const uint64_t base = sw * (job->y0 + my) + job->x0;
        for (int32_t x = 0; x < mask.width; ++x) {
            if (!colour) {
                double p = 0.0, d = 1.0;
                const bool ok = ReadGrayLevel(mask, st.bytesPerPixel, x, y, &p, &d);
                ApplyLevel(st.array[0][base + x], ok, p, d, st.scale[0], job->level);
            } else {
                uint32_t v[3] = {0, 0, 0};
                const bool ok = mask.GetPixelRgb32(x, y, &v[0], &v[1], &v[2]) != 0;
                for (int c = 0; c < 3; ++c) ApplyLevel(st.array[c][base + x], ok, v[c], 4294967295.0, st.scale[c], job->level);
            }
        }
    }
}

bool StateUsable(const ImgFftState* st) {
    return st && PowerOfTwoAtLeast2(st->transformWidth) && PowerOfTwoAtLeast2(st->transformHeight) && st->array[0] &&
           ImgFormatValid(st->format) && st->bytesPerPixel != 0 && st->width >= 1 && st->height >= 1 &&
           st->width <= st->transformWidth && st->height <= st->transformHeight &&
           SquareBytes(uint64_t(st->transformWidth), uint64_t(st->transformHeight), sizeof(FftComplex)) != 0 &&
           (!IsColour(st->format) || (st->array[1] && st->array[2]));
}

}  // namespace

int32_t ImgFftReset(ImgFftState* state) {
    if (!state) return 0;
    for (FftComplex* a : state->array) std::free(a);
    std::memset(state, 0, sizeof *state);
    return 1;
}

int32_t ImgFftForward(ImgFftState* state, const CImgBuff* source) {
    if (!state || !source || !source->buffer) return 0;
    const C_ImgBuff& img = *source->buffer;
    if (!ImgFormatValid(img.format) || !img.pixels) return 0;
    const int64_t longer = std::max(img.width, img.height);
    if (longer < 2) return 0;
    int64_t s = 2;
    while (s < longer) s *= 2;
    const uint64_t bytes = SquareBytes(s, s, sizeof(FftComplex));
    if (!bytes || s > INT32_MAX) return 0;
    const int channels = ChannelsOf(img.format);
    bool reuse = state->transformWidth == s && state->transformHeight == s && state->bytesPerPixel == img.BytesPerPixel() &&
                 (ChannelsOf(state->format) == channels);
    for (int c = 0; c < channels; ++c) reuse = reuse && state->array[c];
    if (!reuse) {
        ImgFftReset(state);
        for (int c = 0; c < channels; ++c) {
            state->array[c] = static_cast<FftComplex*>(AlignedAlloc(bytes));
            if (!state->array[c]) {
                ImgFftReset(state);
                return 0;
            }
        }
    }
    state->format = img.format;
    state->width = img.width;
    state->height = img.height;
    state->transformWidth = static_cast<int32_t>(s);
    state->transformHeight = static_cast<int32_t>(s);
    state->bytesPerPixel = img.BytesPerPixel();
    // The image's rows are loaded a few at a time and row-transformed while
    // in cache; the padding rows below the image are zero, which the
    // transform takes without loading or row-transforming them.
    LoadJob load{&img, {state->array[0], state->array[1], state->array[2]}, static_cast<uint64_t>(s)};
    return FftForwardFilled(state->array, channels, s, s, static_cast<uint64_t>(img.height), ImgFftLoadRows, &load);
}

int32_t ImgFftSpectrumImage(ImgFftState* state, CImgBuff* output) {
    if (!StateUsable(state) || !output || !output->buffer) return 0;
    const uint64_t sw = state->transformWidth, sh = state->transformHeight;
    const uint64_t count = sw * sh;
    const int channels = ChannelsOf(state->format);
    HeapArray<double> power[3];
    double scale[3] = {0.0, 0.0, 0.0};
    for (int c = 0; c < channels; ++c) {
        power[c].reset(static_cast<double*>(AlignedAlloc(count * sizeof(double))));
        if (!power[c] || !FftPowerSpectrum(power[c].get(), state->array[c], count) || !FftLogScale(power[c].get(), count, &scale[c]))
            return 0;
    }
    for (int c = 0; c < channels; ++c) state->scale[c] = scale[c];
    if (!output->buffer->Create(state->width, state->height, state->format)) return 0;
    StoreJob job{output->buffer, {power[0].get(), power[1].get(), power[2].get()}, 1, sw, (sw - state->width) / 2,
                 (sh - state->height) / 2, true};
    PoolParallelFor(ImgFftStoreRows, &job, static_cast<uint64_t>(state->height));
    return 1;
}

int32_t ImgFftInverse(ImgFftState* state, CImgBuff* output, const CImgBuff* zeroMask, const CImgBuff* levelMask) {
    if (!StateUsable(state) || !output || !output->buffer) return 0;
    if (zeroMask && levelMask) return 0;
    const CImgBuff* maskHandle = zeroMask ? zeroMask : levelMask;
    const C_ImgBuff* mask = maskHandle ? maskHandle->buffer : nullptr;
    if (maskHandle && (!mask || mask->width != state->width || mask->height != state->height)) return 0;
    const int channels = ChannelsOf(state->format);
    if (levelMask)
        for (int c = 0; c < channels; ++c)
            if (!(state->scale[c] != 0.0) || std::isnan(state->scale[c])) return 0;
    const uint64_t sw = state->transformWidth, sh = state->transformHeight;
    // The mask is applied before the output is re-created, so that one
    // handle may serve as both.
    if (mask) {
        MaskJob job{state, mask, (sw - state->width) / 2, (sh - state->height) / 2, levelMask != nullptr};
        PoolParallelFor(ImgFftMaskRows, &job, static_cast<uint64_t>(state->height));
    }
    const uint64_t bytes = sw * sh * sizeof(FftComplex);
    HeapArray<FftComplex> temporary[3];
    for (int c = 0; c < channels; ++c) {
        FftShiftQuadrants(state->array[c], sw, sh);
        temporary[c].reset(static_cast<FftComplex*>(AlignedAlloc(bytes)));
        if (!temporary[c]) return 0;
        PoolParallelCopy(temporary[c].get(), state->array[c], bytes);
        if (!Ifft2D(temporary[c].get(), sw, sh)) return 0;
    }
    if (!output->buffer->Create(state->width, state->height, state->format)) return 0;
    const double* values[3] = {nullptr, nullptr, nullptr};
    for (int c = 0; c < channels; ++c) values[c] = &temporary[c].get()->re;
    StoreJob job{output->buffer, {values[0], values[1], values[2]}, 2, sw, 0, 0, false};
    PoolParallelFor(ImgFftStoreRows, &job, static_cast<uint64_t>(state->height));
    return 1;
}
