#include "image/kernels/up_convert.h"

#include <algorithm>
#include <vector>

#include "image/kernels/convolve.h"
#include "image/kernels/kernel_frame.h"

namespace {

// --- 8 -> 16 bits in one pass ---
//
// The step from 8 bits (widen by 257, the two cross-shaped convolutions,
// the mean pass) fused over bands of rows: each band computes the first
// convolution two rows beyond its edges and the second one row beyond, in
// rings of three rows, so the image is read once and written once. The
// arithmetic is that of the separate steps, in integers: a missing
// neighbour adds nothing to a sum and nothing to its weight, which a row of
// zeros in place of a missing row gives for free; the interior of a row
// divides by a constant.

constexpr int32_t kBandRows = 32;

// First convolution (0 1 0 / 1 5 1 / 0 1 0, divided by the weight inside the
// image) of the widened samples: 257 * sum / weight never exceeds 65535.
template <uint32_t D>
KV_KERNEL_CLONES void FirstInterior(const uint8_t* up, const uint8_t* mid, const uint8_t* down, uint16_t* out, int64_t from,
                                    int64_t to, int64_t ch) {
    for (int64_t s = from; s < to; ++s) {
        const uint32_t sum = 5u * mid[s] + mid[s - ch] + mid[s + ch] + up[s] + down[s];
        out[s] = static_cast<uint16_t>(257u * sum / D);
    }
}

// Second convolution (0 -1 0 / -1 10 -1 / 0 -1 0, divided likewise): a
// negative sum truncates to 0.
template <uint32_t D>
KV_KERNEL_CLONES void SecondInterior(const uint16_t* up, const uint16_t* mid, const uint16_t* down, uint16_t* out, int64_t from,
                                     int64_t to, int64_t ch) {
    for (int64_t s = from; s < to; ++s) {
        const int32_t sum = 10 * int32_t(mid[s]) - int32_t(mid[s - ch]) - int32_t(mid[s + ch]) - int32_t(up[s]) - int32_t(down[s]);
        const uint32_t q = static_cast<uint32_t>(std::max(sum, 0)) / D;
        out[s] = static_cast<uint16_t>(std::min(q, 65535u));
    }
}

// Window sums of three rows, then three columns, divided by the cell count.
KV_KERNEL_CLONES void ColumnSums(const uint16_t* up, const uint16_t* mid, const uint16_t* down, uint32_t* out, int64_t n) {
    for (int64_t s = 0; s < n; ++s) out[s] = uint32_t(up[s]) + mid[s] + down[s];
}
template <uint32_t D>
KV_KERNEL_CLONES void MeanInterior(const uint32_t* cols, uint16_t* mean, int64_t from, int64_t to, int64_t ch) {
    for (int64_t s = from; s < to; ++s) mean[s] = static_cast<uint16_t>((cols[s - ch] + cols[s] + cols[s + ch]) / D);
}

// The mean where it lies within 512 of the pixel in every channel, else
// the pixel.
KV_KERNEL_CLONES void SelectGrey(const uint16_t* mean, const uint16_t* mid, uint16_t* out, int64_t n) {
    for (int64_t s = 0; s < n; ++s) {
        const int32_t d = int32_t(mean[s]) - int32_t(mid[s]);
        out[s] = d <= 512 && d >= -512 ? mean[s] : mid[s];
    }
}
KV_KERNEL_CLONES void SelectRgb(const uint16_t* mean, const uint16_t* mid, uint16_t* out, int64_t pixels) {
    for (int64_t p = 0; p < pixels; ++p) {
        const int32_t d0 = int32_t(mean[3 * p]) - int32_t(mid[3 * p]);
        const int32_t d1 = int32_t(mean[3 * p + 1]) - int32_t(mid[3 * p + 1]);
        const int32_t d2 = int32_t(mean[3 * p + 2]) - int32_t(mid[3 * p + 2]);
        const bool close = (d0 <= 512) & (d0 >= -512) & (d1 <= 512) & (d1 >= -512) & (d2 <= 512) & (d2 >= -512);
        for (int c = 0; c < 3; ++c) out[3 * p + c] = close ? mean[3 * p + c] : mid[3 * p + c];
    }
}

struct Fused8Job {
    const C_ImgBuff* src;
    C_ImgBuff* dst;
    int32_t bands;
};

void Fused8Band(const Fused8Job& job, int32_t a, int32_t b) {
    const C_ImgBuff& src = *job.src;
    const int32_t w = src.width, h = src.height;
    const int64_t ch = src.format == kImgGray8 ? 1 : 3, n = int64_t(w) * ch;
    std::vector<uint8_t> zero8(size_t(n), 0);
    std::vector<uint16_t> zero16(size_t(n), 0), ring1(size_t(3 * n)), ring2(size_t(3 * n)), mean(static_cast<size_t>(n));
    std::vector<uint32_t> cols(static_cast<size_t>(n));
    const auto row8 = [&](int32_t y) { return y < 0 || y >= h ? zero8.data() : src.pixels + int64_t(y) * n; };
    const auto first = [&](int32_t y) { return y < 0 || y >= h ? zero16.data() : ring1.data() + (y % 3) * n; };
    const auto second = [&](int32_t y) { return y < 0 || y >= h ? zero16.data() : ring2.data() + (y % 3) * n; };
    // Rows present above and below row y.
    const auto rowsAround = [h](int32_t y) { return uint32_t(y > 0) + uint32_t(y + 1 < h); };
    const auto edgeColumns = [&](auto&& one) {
        for (int64_t c = 0; c < ch; ++c) {
            one(c, false, w > 1);
            if (w > 1) one(n - ch + c, true, false);
        }
    };

    const auto makeFirst = [&](int32_t y) {
        const uint8_t *up = row8(y - 1), *mid = row8(y), *down = row8(y + 1);
        uint16_t* out = ring1.data() + (y % 3) * n;
        const uint32_t vertical = rowsAround(y);
        edgeColumns([&](int64_t s, bool left, bool right) {
            const uint32_t sum = 5u * mid[s] + up[s] + down[s] + (left ? mid[s - ch] : 0u) + (right ? mid[s + ch] : 0u);
            out[s] = static_cast<uint16_t>(257u * sum / (5u + vertical + left + right));
        });
        if (w > 2) {
            if (vertical == 2) FirstInterior<9>(up, mid, down, out, ch, n - ch, ch);
            else if (vertical == 1) FirstInterior<8>(up, mid, down, out, ch, n - ch, ch);
            else FirstInterior<7>(up, mid, down, out, ch, n - ch, ch);
        }
    };
    const auto makeSecond = [&](int32_t y) {
        const uint16_t *up = first(y - 1), *mid = first(y), *down = first(y + 1);
        uint16_t* out = ring2.data() + (y % 3) * n;
        const uint32_t vertical = rowsAround(y);
        edgeColumns([&](int64_t s, bool left, bool right) {
            const int32_t sum = 10 * int32_t(mid[s]) - int32_t(up[s]) - int32_t(down[s]) - (left ? int32_t(mid[s - ch]) : 0) -
                                (right ? int32_t(mid[s + ch]) : 0);
            const uint32_t q = static_cast<uint32_t>(std::max(sum, 0)) / (10u - vertical - left - right);
            out[s] = static_cast<uint16_t>(std::min(q, 65535u));
        });
        if (w > 2) {
            if (vertical == 2) SecondInterior<6>(up, mid, down, out, ch, n - ch, ch);
            else if (vertical == 1) SecondInterior<7>(up, mid, down, out, ch, n - ch, ch);
            else SecondInterior<8>(up, mid, down, out, ch, n - ch, ch);
        }
    };
    // Row y of the result: each pixel becomes its window's mean when that
    // lies within 512 of it in every channel.
    const auto makeMean = [&](int32_t y) {
        const uint16_t* mid = second(y);
        ColumnSums(second(y - 1), mid, second(y + 1), cols.data(), n);
        const uint32_t rows = 1 + rowsAround(y);
        edgeColumns([&](int64_t s, bool left, bool right) {
            const uint32_t sum = cols[s] + (left ? cols[s - ch] : 0u) + (right ? cols[s + ch] : 0u);
            mean[size_t(s)] = static_cast<uint16_t>(sum / (rows * (1u + left + right)));
        });
        if (w > 2) {
            if (rows == 3) MeanInterior<9>(cols.data(), mean.data(), ch, n - ch, ch);
            else if (rows == 2) MeanInterior<6>(cols.data(), mean.data(), ch, n - ch, ch);
            else MeanInterior<3>(cols.data(), mean.data(), ch, n - ch, ch);
        }
        uint16_t* out = reinterpret_cast<uint16_t*>(job.dst->pixels) + int64_t(y) * n;
        if (ch == 1) SelectGrey(mean.data(), mid, out, n);
        else SelectRgb(mean.data(), mid, out, n / 3);
    };

    int32_t nextFirst = std::max(a - 2, 0);
    for (int32_t y = std::max(a - 1, 0); y <= std::min(b, h - 1); ++y) {
        for (; nextFirst <= std::min(y + 1, h - 1); ++nextFirst) makeFirst(nextFirst);
        makeSecond(y);
        if (y - 1 >= a) makeMean(y - 1);
    }
    if (b == h) makeMean(h - 1);
}

void Fused8Bands(void* ctx, uint64_t first, uint64_t count) {
    const Fused8Job& job = *static_cast<const Fused8Job*>(ctx);
    const int32_t h = job.src->height;
    for (uint64_t i = first; i < first + count; ++i) {
        const int32_t a = int32_t(int64_t(h) * int64_t(i) / job.bands);
        const int32_t b = int32_t(int64_t(h) * int64_t(i + 1) / job.bands);
        if (a < b) Fused8Band(job, a, b);
    }
}

// Grey8 or RGB8 to 16 bits with the smoothing; 0 (image unchanged) when
// there is no memory.
int32_t UpFrom8(CImgBuff* image) {
    C_ImgBuff& src = *image->buffer;
    // Every sample of the new block is written: it is not cleared first.
    C_ImgBuff wide;
    const int32_t format = src.format == kImgGray8 ? kImgGray16 : kImgRgb16;
    wide.pixels = ImgAllocPixelsUncleared(uint64_t(src.width) * uint64_t(src.height), uint64_t(ImgFormatBytes(format)));
    if (!wide.pixels) return 0;
    wide.format = format;
    wide.width = src.width;
    wide.height = src.height;
    Fused8Job job{&src, &wide, std::max<int32_t>(1, src.height / kBandRows)};
    PoolParallelFor(Fused8Bands, &job, static_cast<uint64_t>(job.bands));
    src.TakePixels(&wide);
    return 1;
}

template <class T, class Sum>
void MeanRow(const ImgUpConvertJob& job, int32_t y) {
    const C_ImgBuff& src = *job.copy->buffer;
    C_ImgBuff& dst = *job.image->buffer;
    const int channels = src.format <= kImgGray32 ? 1 : 3;
    const int32_t w = job.width, h = src.height;
    const Sum limit = sizeof(T) == 2 ? 512 : 131072;
    const int32_t y0 = std::max(0, y - 1), y1 = std::min(h - 1, y + 1);
    const T* rows[3];
    for (int32_t yy = y0; yy <= y1; ++yy) rows[yy - y0] = reinterpret_cast<const T*>(src.PixelAt(0, yy));
    T* out = reinterpret_cast<T*>(dst.PixelAt(0, y));
    const T* mid = reinterpret_cast<const T*>(src.PixelAt(0, y));
    for (int32_t x = 0; x < w; ++x) {
        const int32_t x0 = std::max(0, x - 1), x1 = std::min(w - 1, x + 1);
        const Sum n = static_cast<Sum>((x1 - x0 + 1) * (y1 - y0 + 1));
        T mean[3];
        bool close = true;
        for (int ch = 0; ch < channels; ++ch) {
            Sum s = 0;
            for (int32_t r = 0; r <= y1 - y0; ++r)
                for (int32_t xx = x0; xx <= x1; ++xx) s += rows[r][xx * channels + ch];
            mean[ch] = static_cast<T>(s / n);
            const Sum v = mid[x * channels + ch];
            close = close && (mean[ch] > v ? mean[ch] - v : v - mean[ch]) <= limit;
        }
        if (close)
            for (int ch = 0; ch < channels; ++ch) out[x * channels + ch] = mean[ch];
    }
}

// The smoothing step at the depth just reached.
int32_t Smooth(CImgBuff* image) {
    static const int32_t kFirst[9] = {0, 1, 0, 1, 5, 1, 0, 1, 0};
    static const int32_t kSecond[9] = {0, -1, 0, -1, 10, -1, 0, -1, 0};
    if (!ImgConvolve(image, 3, kFirst, 1, 0, nullptr) || !ImgConvolve(image, 3, kSecond, 1, 0, nullptr)) return 0;
    CImgBuff copy;
    if (!copy.buffer || !copy.CopyFrom(image) || !copy.buffer->pixels) return 0;
    ImgUpConvertJob job{&copy, image, image->buffer->width};
    PoolParallelFor(ImgUpConvertMeanRows, &job, static_cast<uint64_t>(image->buffer->height));
    return 1;
}

int32_t Step(CImgBuff* image, int32_t format, bool smooth) {
    if (!image->buffer->ConvertFormat(static_cast<uint32_t>(format))) return 0;
    return smooth ? Smooth(image) : 1;
}

}  // namespace

void ImgUpConvertMeanRows(void* ctx, uint64_t first, uint64_t count) {
    const ImgUpConvertJob& job = *static_cast<const ImgUpConvertJob*>(ctx);
    const int32_t f = job.copy->buffer->format;
    for (uint64_t i = first; i < first + count; ++i) {
        const int32_t y = static_cast<int32_t>(i);
        if (f == kImgGray16 || f == kImgRgb16) {
            MeanRow<uint16_t, uint32_t>(job, y);
        } else if (f == kImgGray32 || f == kImgRgb32) {
            MeanRow<uint32_t, uint64_t>(job, y);
        }
    }
}

int32_t ImgUpConvertDepth(CImgBuff* image, uint32_t bits) {
    if (bits != 16 && bits != 32) return 0;
    if (!image || !image->buffer || !image->buffer->pixels) return 0;
    const int32_t f = image->buffer->format;
    if (f < kImgGray8 || f > kImgRgb32) return 0;
    const bool grey = f <= kImgGray32;
    const int32_t f16 = grey ? kImgGray16 : kImgRgb16, f32 = grey ? kImgGray32 : kImgRgb32;
    const int depth = f == kImgGray8 || f == kImgRgb8 ? 8 : f == kImgGray16 || f == kImgRgb16 ? 16 : 32;
    if (static_cast<uint32_t>(depth) == bits) return 1;
    if (f == kImgGray8 || f == kImgRgb8) {
        if (!UpFrom8(image)) return 0;
        return bits == 16 ? 1 : Step(image, f32, true);
    }
    if (bits == 16) return Step(image, f16, false);  // from 32 bits: no smoothing
    return Step(image, f32, true);
}
