#include "image/kernels/convolve.h"

#include <algorithm>
#include <cmath>
#include <type_traits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "image/kernels/kernel_frame.h"

namespace {

bool ValidImage(const CImgBuff* image) {
    return image && image->buffer && ImgFormatValid(image->buffer->format) && image->buffer->pixels;
}

// How a format's samples are filtered: sample width, samples per pixel as
// stored, filtered samples per pixel. XYZ is filtered in its 32-bit RGB
// rendering (a plane of its own).
struct Layout {
    int bits;
    int stride;
    int channels;
};

Layout LayoutOf(int32_t format) {
    switch (format) {
        case kImgGray8: return {8, 1, 1};
        case kImgGray16: return {16, 1, 1};
        case kImgGray32: return {32, 1, 1};
        case kImgRgb8: return {8, 3, 3};
        case kImgCmyk8: return {8, 4, 3};
        case kImgRgb16:
        case kImgHsv16: return {16, 3, 3};
        default: return {32, 3, 3};  // RGB32, and XYZ as its RGB32 plane
    }
}

// The 32-bit RGB rendering of an XYZ image, three u32 per pixel.
void XyzRgb(const C_ImgBuff& b, std::vector<uint32_t>* out) {
    out->resize(static_cast<size_t>(b.width) * b.height * 3);
    uint32_t* p = out->data();
    for (int32_t y = 0; y < b.height; ++y)
        for (int32_t x = 0; x < b.width; ++x, p += 3) b.GetPixelRgb32(x, y, &p[0], &p[1], &p[2]);
}

template <class T>
const T* SampleRow(const C_ImgBuff& b, const uint32_t* xyz, int32_t y) {
    if (xyz) return reinterpret_cast<const T*>(xyz + static_cast<size_t>(b.width) * 3 * y);
    return reinterpret_cast<const T*>(b.PixelAt(0, y));
}

template <class T>
T* DestSamples(C_ImgBuff& b, int32_t x, int32_t y) {
    return reinterpret_cast<T*>(b.PixelAt(x, y));
}

// ---- 3 x 3 with double weights ----

// Truncated and clamped to the depth; NaN gives 0. Written without
// branches so that the row loops vectorise.
template <class T>
inline T ClampDouble(double v) {
    constexpr double top = sizeof(T) == 1 ? 255.0 : sizeof(T) == 2 ? 65535.0 : 4294967295.0;
    v = v > 0.0 ? v : 0.0;
    v = v < top ? v : top;
    return static_cast<T>(static_cast<int64_t>(v));
}

// The interior of a row: every window whole, the sum formed in the fixed
// order of the nine cells. Samples of every channel in one run (stride =
// samples per pixel, all filtered); CMYK, whose K is kept, goes pixel by pixel.
template <class T>
KV_KERNEL_CLONES void Interior3x3(const T* up, const T* mid, const T* down, T* out, int32_t count, int stride,
                                     const double* w, double d) {
    const int32_t l = -stride, r = stride;
    for (int32_t i = 0; i < count; ++i) {
        double s = up[i + l] * w[0];
        s += up[i] * w[1];
        s += up[i + r] * w[2];
        s += mid[i + l] * w[3];
        s += mid[i] * w[4];
        s += mid[i + r] * w[5];
        s += down[i + l] * w[6];
        s += down[i] * w[7];
        s += down[i + r] * w[8];
        out[i] = ClampDouble<T>(s / d);
    }
}

template <class T>
void Convolve3x3Row(const ImgNeighbourJob& job, const uint32_t* xyz, int32_t y, T* xyzOut) {
    const C_ImgBuff& src = *job.copy->buffer;
    C_ImgBuff& dst = *job.image->buffer;
    const Layout lay = xyz ? Layout{32, 3, 3} : LayoutOf(src.format);
    const int32_t w = src.width, h = src.height;
    const double* k = job.kernel;
    const T* rows[3] = {y > 0 ? SampleRow<T>(src, xyz, y - 1) : nullptr, SampleRow<T>(src, xyz, y),
                        y + 1 < h ? SampleRow<T>(src, xyz, y + 1) : nullptr};
    T* out = xyz ? xyzOut : DestSamples<T>(dst, 0, y);
    // Pixels whose window is cut by the image's border, in the plain order.
    const auto edge = [&](int32_t x) {
        for (int ch = 0; ch < lay.channels; ++ch) {
            double s = 0, wsum = 0;
            for (int j = 0; j < 3; ++j) {
                if (!rows[j]) continue;
                for (int i = 0; i < 3; ++i) {
                    const int32_t xx = x + i - 1;
                    if (xx < 0 || xx >= w) continue;
                    s += rows[j][xx * lay.stride + ch] * k[3 * j + i];
                    wsum += k[3 * j + i];
                }
            }
            out[x * lay.stride + ch] = ClampDouble<T>(s / (wsum >= 1.0 ? wsum : 1.0));
        }
    };
    if (rows[0] && rows[2] && w >= 3) {
        double wsum = 0;
        for (int c = 0; c < 9; ++c) wsum += k[c];
        const int32_t off = lay.stride;
        if (lay.channels == lay.stride) {
            Interior3x3<T>(rows[0] + off, rows[1] + off, rows[2] + off, out + off, (w - 2) * lay.stride, lay.stride, k,
                           wsum >= 1.0 ? wsum : 1.0);
        } else {
            for (int32_t x = 1; x < w - 1; ++x)
                for (int ch = 0; ch < lay.channels; ++ch) {
                    const int32_t i = x * lay.stride + ch;
                    Interior3x3<T>(rows[0] + i, rows[1] + i, rows[2] + i, out + i, 1, lay.stride, k, wsum >= 1.0 ? wsum : 1.0);
                }
        }
        edge(0);
        edge(w - 1);
    } else {
        for (int32_t x = 0; x < w; ++x) edge(x);
    }
    if (xyz)
        for (int32_t x = 0; x < w; ++x) dst.SetPixelRgb32(x, y, xyzOut[3 * x], xyzOut[3 * x + 1], xyzOut[3 * x + 2]);
}

// ---- integer convolution ----

// acc[s] += src[s + shift] * w over a range of samples.
template <class Acc, class T>
KV_KERNEL_CLONES void AddWeighted(Acc* acc, const T* src, int64_t count, int32_t w) {
    for (int64_t s = 0; s < count; ++s) acc[s] += static_cast<Acc>(src[s]) * static_cast<Acc>(w);
}

// Quotients of 32-bit sums: in double the division of two integers below
// 2^31 rounds to a value whose truncation is the exact truncated quotient.
template <class T>
KV_KERNEL_CLONES void DivideRow32(const int32_t* acc, const double* divisors, T* out, int64_t count) {
    constexpr double top = sizeof(T) == 1 ? 255.0 : sizeof(T) == 2 ? 65535.0 : 4294967295.0;
    for (int64_t s = 0; s < count; ++s) {
        double q = std::trunc(static_cast<double>(acc[s]) / divisors[s]);
        q = q < 0.0 ? 0.0 : q > top ? top : q;
        out[s] = static_cast<T>(static_cast<int64_t>(q));
    }
}

// Per-row scratch of a worker: sums, and the in-window weight sums, which
// only change with the kernel rows that fall inside the copy.
template <class Acc>
struct RowScratch {
    std::vector<Acc> acc;
    std::vector<Acc> weights;   // per column
    std::vector<double> divisors;  // per sample, for 32-bit sums
    uint64_t jlo = ~uint64_t(0), jhi = 0;
};

template <class T, class Acc>
void ConvolveRow(const ImgConvolveJob& job, const T* plane, int channels, int32_t r, RowScratch<Acc>& scratch,
                 std::vector<T>& outRow) {
    const C_ImgBuff& src = *job.copy->buffer;
    const int64_t wc = src.width, hc = src.height;
    const uint64_t n = job.n, h = n / 2;
    const int64_t samples = wc * channels;
    Acc* acc = scratch.acc.data();
    std::fill(acc, acc + samples, Acc(0));
    // Kernel rows j with r - h + j inside the copy; columns likewise per pixel.
    const uint64_t jlo = h > static_cast<uint64_t>(r) ? h - r : 0;
    const uint64_t jhi = std::min<uint64_t>(2 * h, h + static_cast<uint64_t>(hc - 1 - r));
    const uint64_t ilo = h > static_cast<uint64_t>(wc - 1) ? h - (wc - 1) : 0;
    const uint64_t ihi = std::min<uint64_t>(2 * h, h + static_cast<uint64_t>(wc - 1));
    const bool newWeights = jlo != scratch.jlo || jhi != scratch.jhi;
    if (newWeights) {
        std::fill(scratch.weights.begin(), scratch.weights.end(), Acc(0));
        scratch.jlo = jlo;
        scratch.jhi = jhi;
    }
    for (uint64_t j = jlo; j <= jhi; ++j) {
        const T* row = plane + (static_cast<int64_t>(r) - static_cast<int64_t>(h) + static_cast<int64_t>(j)) * samples;
        for (uint64_t i = ilo; i <= ihi; ++i) {
            const int32_t w = job.kernel[j * n + i];
            if (w == 0) continue;
            // Columns c with 0 <= c - h + i < wc.
            const int64_t shift = static_cast<int64_t>(i) - static_cast<int64_t>(h);
            const int64_t c0 = std::max<int64_t>(0, -shift), c1 = std::min<int64_t>(wc - 1, wc - 1 - shift);
            if (c0 > c1) continue;
            AddWeighted<Acc, T>(acc + c0 * channels, row + (c0 + shift) * channels, (c1 - c0 + 1) * channels, w);
            if (newWeights)
                for (int64_t c = c0; c <= c1; ++c) scratch.weights[c] += w;
        }
    }
    // A sum of 0 gives 0; normalising divides by a weight sum above 1 only.
    if constexpr (std::is_same_v<Acc, int32_t>) {
        if (newWeights)
            for (int64_t c = 0; c < wc; ++c) {
                const Acc ws = scratch.weights[c];
                const double d = job.normalise ? (ws > 1 ? static_cast<double>(ws) : 1.0) : static_cast<double>(job.divisor);
                for (int ch = 0; ch < channels; ++ch) scratch.divisors[c * channels + ch] = d;
            }
        DivideRow32<T>(acc, scratch.divisors.data(), outRow.data(), samples);
    } else {
        const uint64_t top = sizeof(T) == 1 ? 255u : sizeof(T) == 2 ? 65535u : 4294967295u;
        for (int64_t s = 0; s < samples; ++s) {
            const Acc sum = acc[s], ws = scratch.weights[s / channels];
            Acc q = 0;
            if (sum != 0) q = job.normalise ? (ws > 1 ? sum / ws : sum) : sum / static_cast<Acc>(job.divisor);
            outRow[s] = q < 0 ? T(0) : q > static_cast<Acc>(top) ? static_cast<T>(top) : static_cast<T>(q);
        }
    }
    // Stored: grey and RGB samples directly, HSV, CMYK and XYZ through the RGB setter.
    C_ImgBuff& dst = *job.image->buffer;
    const int32_t y = job.y0 + r;
    if (dst.format <= kImgRgb32) {
        std::memcpy(dst.PixelAt(job.x0, y), outRow.data(), static_cast<size_t>(samples) * sizeof(T));
        return;
    }
    for (int64_t c = 0; c < wc; ++c) {
        const T* p = outRow.data() + c * 3;
        const int32_t x = job.x0 + static_cast<int32_t>(c);
        if constexpr (sizeof(T) == 1) dst.SetPixelRgb8(x, y, p[0], p[1], p[2]);
        if constexpr (sizeof(T) == 2) dst.SetPixelRgb16(x, y, p[0], p[1], p[2]);
        if constexpr (sizeof(T) == 4) dst.SetPixelRgb32(x, y, p[0], p[1], p[2]);
    }
}

// The copy as samples: grey and RGB as stored, CMYK, HSV and XYZ in their
// RGB rendering at the group's depth (into `own`).
bool MakeSamples(const C_ImgBuff& b, ImgConvolveJob* job, std::vector<uint8_t>* own) {
    const int32_t f = b.format;
    job->channels = f <= kImgGray32 ? 1 : 3;
    job->sampleBits = ImgFormatIn(ImgFormat8BitMask, f) ? 8 : ImgFormatIn(ImgFormat16BitMask, f) ? 16 : 32;
    if (f <= kImgRgb32) {
        job->samples = b.pixels;
        return true;
    }
    const size_t count = static_cast<size_t>(b.width) * b.height * 3;
    own->resize(count * static_cast<size_t>(job->sampleBits / 8));
    uint8_t* o = own->data();
    for (int32_t y = 0; y < b.height; ++y)
        for (int32_t x = 0; x < b.width; ++x) {
            const size_t i = (static_cast<size_t>(y) * b.width + x) * 3;
            if (job->sampleBits == 8) {
                b.GetPixelRgb8(x, y, &o[i], &o[i + 1], &o[i + 2]);
            } else if (job->sampleBits == 16) {
                uint16_t* q = reinterpret_cast<uint16_t*>(o);
                b.GetPixelRgb16(x, y, &q[i], &q[i + 1], &q[i + 2]);
            } else {
                uint32_t* q = reinterpret_cast<uint32_t*>(o);
                b.GetPixelRgb32(x, y, &q[i], &q[i + 1], &q[i + 2]);
            }
        }
    job->samples = o;
    return true;
}

template <class T, class Acc>
void ConvolveRange(const ImgConvolveJob& job, uint64_t first, uint64_t count) {
    const size_t wc = static_cast<size_t>(job.copy->buffer->width), samples = wc * static_cast<size_t>(job.channels);
    RowScratch<Acc> scratch;
    scratch.acc.resize(samples);
    scratch.weights.resize(wc);
    scratch.divisors.resize(samples);
    std::vector<T> out(samples);
    for (uint64_t i = first; i < first + count; ++i)
        ConvolveRow<T, Acc>(job, static_cast<const T*>(job.samples), job.channels, static_cast<int32_t>(i), scratch, out);
}

template <class T>
void ConvolveRangeByAcc(const ImgConvolveJob& job, uint64_t first, uint64_t count) {
    if (job.accumulatorBits == 32) {
        ConvolveRange<T, int32_t>(job, first, count);
    } else if (job.accumulatorBits == 64) {
        ConvolveRange<T, int64_t>(job, first, count);
    } else {
        ConvolveRange<T, __int128>(job, first, count);
    }
}

// Narrowest accumulator that no sum can overflow: the largest sample times
// the absolute weights that can fall inside the copy (and the weight sums).
int AccumulatorBits(const ImgConvolveJob& job, int sampleBits) {
    const int64_t wc = job.copy->buffer->width, hc = job.copy->buffer->height;
    const uint64_t n = job.n, h = n / 2;
    const uint64_t ilo = h > static_cast<uint64_t>(wc - 1) ? h - (wc - 1) : 0, ihi = std::min<uint64_t>(2 * h, h + wc - 1);
    const uint64_t jlo = h > static_cast<uint64_t>(hc - 1) ? h - (hc - 1) : 0, jhi = std::min<uint64_t>(2 * h, h + hc - 1);
    unsigned __int128 total = 0;
    for (uint64_t j = jlo; j <= jhi; ++j)
        for (uint64_t i = ilo; i <= ihi; ++i) {
            const int64_t w = job.kernel[j * n + i];
            total += static_cast<uint64_t>(w < 0 ? -w : w);
        }
    const unsigned __int128 top = sampleBits == 8 ? 255u : sampleBits == 16 ? 65535u : 4294967295u;
    const unsigned __int128 bound = total * top + total;
    if (bound < (static_cast<unsigned __int128>(1) << 31)) return 32;
    if (bound < (static_cast<unsigned __int128>(1) << 63)) return 64;
    return 128;
}

// ---- median ----

// A comparator network that leaves the median of `count` values at wire
// count / 2: Batcher's odd-even merge sort over the next power of two (the
// extra wires hold the type's maximum, which sorts after every value),
// keeping only the comparators the middle wire depends on.
struct MedianNetwork {
    int wires = 0;
    int middle = 0;
    std::vector<uint8_t> a, b;
};

MedianNetwork MakeNetwork(int count) {
    MedianNetwork net;
    int n = 1;
    while (n < count) n *= 2;
    net.wires = n;
    net.middle = count / 2;
    std::vector<std::pair<int, int>> all;
    for (int p = 1; p < n; p *= 2)
        for (int k = p; k >= 1; k /= 2)
            for (int j = k % p; j + k < n; j += 2 * k)
                for (int i = 0; i < k && i + j + k < n; ++i)
                    if ((i + j) / (2 * p) == (i + j + k) / (2 * p)) all.emplace_back(i + j, i + j + k);
    std::vector<bool> live(static_cast<size_t>(n));
    live[static_cast<size_t>(net.middle)] = true;
    std::vector<std::pair<int, int>> kept;
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
        if (!live[static_cast<size_t>(it->first)] && !live[static_cast<size_t>(it->second)]) continue;
        live[static_cast<size_t>(it->first)] = live[static_cast<size_t>(it->second)] = true;
        kept.push_back(*it);
    }
    for (auto it = kept.rbegin(); it != kept.rend(); ++it) {
        net.a.push_back(static_cast<uint8_t>(it->first));
        net.b.push_back(static_cast<uint8_t>(it->second));
    }
    return net;
}

const MedianNetwork* NetworkFor(uint64_t n) {
    static const MedianNetwork k3 = MakeNetwork(9), k5 = MakeNetwork(25), k7 = MakeNetwork(49);
    return n == 3 ? &k3 : n == 5 ? &k5 : n == 7 ? &k7 : nullptr;
}

constexpr int kLanes = 64;

// Runs the network over kLanes windows at once, one lane per sample.
template <class T>
KV_KERNEL_CLONES void RunNetwork(T (*v)[kLanes], const uint8_t* a, const uint8_t* b, size_t pairs) {
    for (size_t p = 0; p < pairs; ++p) {
        T* __restrict x = v[a[p]];
        T* __restrict y = v[b[p]];
        for (int l = 0; l < kLanes; ++l) {
            const T lo = x[l] < y[l] ? x[l] : y[l], hi = x[l] < y[l] ? y[l] : x[l];
            x[l] = lo;
            y[l] = hi;
        }
    }
}

template <class T>
inline T Min(T a, T b) { return a < b ? a : b; }
template <class T>
inline T Max(T a, T b) { return a < b ? b : a; }
template <class T>
inline T Med3(T a, T b, T c) { return Max(Min(a, b), Min(Max(a, b), c)); }

// Each sample's column of three (rows above, at and below) sorted.
template <class T>
KV_KERNEL_CLONES void SortColumns3(const T* a, const T* b, const T* c, T* lo, T* mid, T* hi, int64_t count) {
    for (int64_t i = 0; i < count; ++i) {
        const T x = a[i], y = b[i], z = c[i];
        lo[i] = Min(Min(x, y), z);
        hi[i] = Max(Max(x, y), z);
        mid[i] = Med3(x, y, z);
    }
}

// The median of nine from three sorted columns: the median of the largest
// low, the middle middle and the smallest high.
template <class T>
KV_KERNEL_CLONES void Median9(const T* lo, const T* mid, const T* hi, T* out, int64_t count, int64_t stride) {
    for (int64_t i = 0; i < count; ++i) {
        const T l = Max(Max(lo[i - stride], lo[i]), lo[i + stride]);
        const T h = Min(Min(hi[i - stride], hi[i]), hi[i + stride]);
        const T m = Med3(mid[i - stride], mid[i], mid[i + stride]);
        out[i] = Med3(l, m, h);
    }
}

template <class T>
void MedianRange(ImgNeighbourJob& job, const uint32_t* xyz, uint64_t first, uint64_t count) {
    const C_ImgBuff& src = *job.copy->buffer;
    C_ImgBuff& dst = *job.image->buffer;
    const Layout lay = xyz ? Layout{32, 3, 3} : LayoutOf(src.format);
    const int64_t wc = src.width, hc = src.height;
    const uint64_t h = job.n / 2;
    // Windows never reach beyond the copy: arrays of the clipped size.
    const uint64_t aw = std::min<uint64_t>(job.n, static_cast<uint64_t>(wc)), ah = std::min<uint64_t>(job.n, static_cast<uint64_t>(hc));
    T* arrays = static_cast<T*>(std::malloc(aw * ah * lay.channels * sizeof(T)));
    const MedianNetwork* net = NetworkFor(job.n);
    std::vector<T> lanes(net ? static_cast<size_t>(net->wires) * kLanes : 0);
    std::vector<T> rowOut(static_cast<size_t>(wc) * lay.stride), columns;
    if (!arrays) {
        job.result.store(0);
        return;
    }
    // One pixel, its window clipped to the copy.
    const auto clipped = [&](int64_t r, int64_t c, T* out) {
        const int64_t r0 = std::max<int64_t>(0, r - static_cast<int64_t>(std::min<uint64_t>(h, hc)));
        const int64_t r1 = std::min<int64_t>(hc - 1, r + static_cast<int64_t>(std::min<uint64_t>(h, hc)));
        const int64_t c0 = std::max<int64_t>(0, c - static_cast<int64_t>(std::min<uint64_t>(h, wc)));
        const int64_t c1 = std::min<int64_t>(wc - 1, c + static_cast<int64_t>(std::min<uint64_t>(h, wc)));
        const size_t n = static_cast<size_t>((r1 - r0 + 1) * (c1 - c0 + 1));
        for (int ch = 0; ch < lay.channels; ++ch) {
            T* a = arrays + ch * aw * ah;
            size_t k = 0;
            for (int64_t yy = r0; yy <= r1; ++yy) {
                const T* row = SampleRow<T>(src, xyz, static_cast<int32_t>(yy));
                for (int64_t xx = c0; xx <= c1; ++xx) a[k++] = row[xx * lay.stride + ch];
            }
            std::nth_element(a, a + n / 2, a + n);
            out[ch] = a[n / 2];
        }
    };
    const int64_t hw = static_cast<int64_t>(std::min<uint64_t>(h, static_cast<uint64_t>(wc)));
    const bool wideEnough = net && wc >= 2 * hw + 1;
    for (uint64_t i = first; i < first + count; ++i) {
        const int64_t r = static_cast<int64_t>(i);
        T* out = rowOut.data();
        std::memcpy(out, SampleRow<T>(src, xyz, static_cast<int32_t>(r)), rowOut.size() * sizeof(T));
        int64_t c = 0;
        if (wideEnough && r >= hw && r + hw < hc) {
            // Whole windows: the network over runs of samples, the window
            // cells read as shifted copies of the rows.
            const int64_t n = static_cast<int64_t>(job.n), stride = lay.stride;
            const int64_t s0 = hw * stride;
            int64_t s1 = (wc - hw) * stride;
            if (n == 3 && stride == lay.channels) {
                const int64_t total = wc * stride;
                if (columns.size() < static_cast<size_t>(3 * total)) columns.resize(static_cast<size_t>(3 * total));
                T *lo = columns.data(), *mid = lo + total, *hi = mid + total;
                SortColumns3<T>(SampleRow<T>(src, xyz, static_cast<int32_t>(r - 1)), SampleRow<T>(src, xyz, static_cast<int32_t>(r)),
                                SampleRow<T>(src, xyz, static_cast<int32_t>(r + 1)), lo, mid, hi, total);
                Median9<T>(lo + s0, mid + s0, hi + s0, out + s0, s1 - s0, stride);
                s1 = s0;  // the network below has nothing left to do
            }
            T (*v)[kLanes] = reinterpret_cast<T (*)[kLanes]>(lanes.data());
            for (int w = static_cast<int>(n * n); w < net->wires; ++w) std::fill(v[w], v[w] + kLanes, static_cast<T>(~T(0)));
            for (int64_t s = s0; s < s1; s += kLanes) {
                const int64_t m = std::min<int64_t>(kLanes, s1 - s);
                for (int64_t dy = 0; dy < n; ++dy) {
                    const T* row = SampleRow<T>(src, xyz, static_cast<int32_t>(r - hw + dy));
                    for (int64_t dx = 0; dx < n; ++dx)
                        std::memcpy(v[dy * n + dx], row + s + (dx - hw) * stride, static_cast<size_t>(m) * sizeof(T));
                }
                RunNetwork<T>(v, net->a.data(), net->b.data(), net->a.size());
                for (int64_t l = 0; l < m; ++l)
                    if ((s + l) % stride < lay.channels) out[s + l] = v[net->middle][l];
            }
            for (c = 0; c < hw; ++c) clipped(r, c, out + c * lay.stride);
            for (c = wc - hw; c < wc; ++c) clipped(r, c, out + c * lay.stride);
        } else {
            for (c = 0; c < wc; ++c) clipped(r, c, out + c * lay.stride);
        }
        const int32_t y = job.y0 + static_cast<int32_t>(r);
        if (xyz) {
            for (int64_t k = 0; k < wc; ++k)
                dst.SetPixelRgb32(job.x0 + static_cast<int32_t>(k), y, out[3 * k], out[3 * k + 1], out[3 * k + 2]);
        } else {
            std::memcpy(DestSamples<T>(dst, job.x0, y), out, rowOut.size() * sizeof(T));
        }
    }
    std::free(arrays);
}

}  // namespace

void ImgConvolve3x3Rows(void* ctx, uint64_t first, uint64_t count) {
    ImgNeighbourJob& job = *static_cast<ImgNeighbourJob*>(ctx);
    const C_ImgBuff& src = *job.copy->buffer;
    const uint32_t* xyz = src.format == kImgXyz ? job.xyzRgb : nullptr;
    if (src.format == kImgXyz && !xyz) return;
    const Layout lay = LayoutOf(src.format);
    std::vector<uint32_t> xyzOut(xyz ? static_cast<size_t>(src.width) * 3 : 0);
    for (uint64_t i = first; i < first + count; ++i) {
        const int32_t y = static_cast<int32_t>(i);
        if (lay.bits == 8) {
            Convolve3x3Row<uint8_t>(job, xyz, y, nullptr);
        } else if (lay.bits == 16) {
            Convolve3x3Row<uint16_t>(job, xyz, y, nullptr);
        } else {
            Convolve3x3Row<uint32_t>(job, xyz, y, xyzOut.data());
        }
    }
}

void ImgMedianRows(void* ctx, uint64_t first, uint64_t count) {
    ImgNeighbourJob& job = *static_cast<ImgNeighbourJob*>(ctx);
    const C_ImgBuff& src = *job.copy->buffer;
    const uint32_t* xyz = src.format == kImgXyz ? job.xyzRgb : nullptr;
    if (src.format == kImgXyz && !xyz) {
        job.result.store(0);
        return;
    }
    switch (LayoutOf(src.format).bits) {
        case 8: MedianRange<uint8_t>(job, xyz, first, count); break;
        case 16: MedianRange<uint16_t>(job, xyz, first, count); break;
        default: MedianRange<uint32_t>(job, xyz, first, count); break;
    }
}

void ImgConvolveRows(void* ctx, uint64_t first, uint64_t count) {
    const ImgConvolveJob& job = *static_cast<const ImgConvolveJob*>(ctx);
    switch (job.sampleBits) {
        case 8: ConvolveRangeByAcc<uint8_t>(job, first, count); return;
        case 16: ConvolveRangeByAcc<uint16_t>(job, first, count); return;
        default: ConvolveRangeByAcc<uint32_t>(job, first, count); return;
    }
}

int32_t ImgConvolve3x3(CImgBuff* image, uintptr_t reserved, const double* kernel) {
    (void)reserved;
    if (!ValidImage(image)) return 0;
    const C_ImgBuff& b = *image->buffer;
    CImgBuff copy;
    if (!copy.buffer || !copy.CopyFrom(image) || !copy.buffer->pixels) return 0;
    std::vector<uint32_t> xyz;
    if (b.format == kImgXyz) XyzRgb(*copy.buffer, &xyz);
    ImgNeighbourJob job{image, &copy, 3, kernel, 0, 0, b.width - 1, b.height - 1, {1}, xyz.data()};
    PoolParallelFor(ImgConvolve3x3Rows, &job, static_cast<uint64_t>(b.height));
    return 1;
}

int32_t ImgConvolve(CImgBuff* image, uint64_t n, const int32_t* kernel, int32_t normalise, int32_t divisor, const ImgRect* region) {
    if (n == 0 || n % 2 == 0) return 0;
    if (!normalise && divisor <= 0) return 0;
    if (!ValidImage(image)) return 0;
    ImgRect r;
    if (!ImgGetRoi(&r, image, region)) return 0;
    CImgBuff copy;
    if (!copy.buffer || !image->ExtractRect(&copy, r.x0, r.y0, r.x1, r.y1)) return 0;
    ImgConvolveJob job{image, &copy, n, kernel, normalise ? 1 : divisor, normalise, r.x0, r.y0, r.x1, r.y1, nullptr, 0, 0, 0};
    std::vector<uint8_t> own;
    MakeSamples(*copy.buffer, &job, &own);
    job.accumulatorBits = AccumulatorBits(job, job.sampleBits);
    PoolParallelFor(ImgConvolveRows, &job, static_cast<uint64_t>(r.y1 - r.y0 + 1));
    return 1;
}

int32_t ImgMedian(CImgBuff* image, uint64_t n, const ImgRect* region) {
    if (n == 0 || n % 2 == 0) return 0;
    if (!ValidImage(image)) return 0;
    ImgRect r;
    if (!ImgGetRoi(&r, image, region)) return 0;
    CImgBuff copy;
    if (!copy.buffer || !image->ExtractRect(&copy, r.x0, r.y0, r.x1, r.y1)) return 0;
    std::vector<uint32_t> xyz;
    if (copy.buffer->format == kImgXyz) XyzRgb(*copy.buffer, &xyz);
    ImgNeighbourJob job{image, &copy, n, nullptr, r.x0, r.y0, r.x1, r.y1, {1}, xyz.data()};
    PoolParallelFor(ImgMedianRows, &job, static_cast<uint64_t>(r.y1 - r.y0 + 1));
    return job.result.load();
}
