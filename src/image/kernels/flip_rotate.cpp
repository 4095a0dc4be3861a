#include "image/kernels/flip_rotate.h"

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <utility>

#include "image/pool.h"

namespace {

// A pixel of N bytes, moved as a whole.
template <int N>
struct Pixel {
    uint8_t b[N];
};
template <int N>
using Unit = std::conditional_t<N == 1, uint8_t,
                                std::conditional_t<N == 2, uint16_t, std::conditional_t<N == 4, uint32_t, Pixel<N>>>>;

// Calls f.template operator()<N>() with the pixel size of the format.
template <class F>
void WithPixelSize(int32_t bytes, F&& f) {
    switch (bytes) {
        case 1: f.template operator()<1>(); break;
        case 2: f.template operator()<2>(); break;
        case 3: f.template operator()<3>(); break;
        case 4: f.template operator()<4>(); break;
        case 6: f.template operator()<6>(); break;
        case 12: f.template operator()<12>(); break;
        case 24: f.template operator()<24>(); break;
        default: break;
    }
}

bool JobInside(const MirrorJob& job) {
    if (!job.image || !job.image->buffer) return false;
    const C_ImgBuff& b = *job.image->buffer;
    return ImgFormatValid(b.format) && b.pixels && job.x0 >= 0 && job.y0 >= 0 && job.x0 <= job.x1 && job.y0 <= job.y1 &&
           job.x1 < b.width && job.y1 < b.height;
}

template <int N>
Unit<N>* UnitsAt(const C_ImgBuff& b, int32_t x, int32_t y) {
    return reinterpret_cast<Unit<N>*>(b.PixelAt(x, y));
}

// Exchanges pixel k of `a` with pixel n-1-k of `b` for every k; with a == b
// this reverses the span in place.
template <int N>
void ExchangeReversed(Unit<N>* a, Unit<N>* b, int64_t n) {
    if (a == b) {
        std::reverse(a, a + n);
        return;
    }
    Unit<N>* r = b + n - 1;
    for (int64_t k = 0; k < n; ++k, --r) std::swap(a[k], *r);
}

// Exchanges two byte ranges through a small buffer on the stack: no heap
// block, so the exchange cannot fail half way.
void ExchangeBytes(uint8_t* a, uint8_t* b, size_t n) {
    uint8_t tmp[4096];
    for (size_t done = 0; done < n; done += sizeof tmp) {
        const size_t k = std::min(sizeof tmp, n - done);
        std::memcpy(tmp, a + done, k);
        std::memcpy(a + done, b + done, k);
        std::memcpy(b + done, tmp, k);
    }
}

}  // namespace

void ImgMirrorHorizontalRows(void* ctx, uint64_t first, uint64_t count) {
    const MirrorJob& job = *static_cast<const MirrorJob*>(ctx);
    if (!JobInside(job)) return;
    const C_ImgBuff& b = *job.image->buffer;
    WithPixelSize(b.BytesPerPixel(), [&]<int N>() {
        for (uint64_t i = first; i < first + count; ++i) {
            const int64_t y = job.y0 + static_cast<int64_t>(i);
            if (y > job.y1) break;
            Unit<N>* row = UnitsAt<N>(b, job.x0, static_cast<int32_t>(y));
            std::reverse(row, row + (job.x1 - job.x0 + 1));
        }
    });
}

void ImgMirrorVerticalRows(void* ctx, uint64_t first, uint64_t count) {
    const MirrorJob& job = *static_cast<const MirrorJob*>(ctx);
    if (!JobInside(job)) return;
    const C_ImgBuff& b = *job.image->buffer;
    const size_t bytes = static_cast<size_t>(job.x1 - job.x0 + 1) * static_cast<size_t>(b.BytesPerPixel());
    for (uint64_t i = first; i < first + count; ++i) {
        const int64_t top = job.y0 + static_cast<int64_t>(i), bottom = job.y1 - static_cast<int64_t>(i);
        if (top >= bottom) break;
        ExchangeBytes(b.PixelAt(job.x0, static_cast<int32_t>(top)), b.PixelAt(job.x0, static_cast<int32_t>(bottom)), bytes);
    }
}

namespace {

// Half turn in one pass: item i exchanges row i with row h-1-i read
// backwards (the middle row of an odd height is reversed in place).
void ImgHalfTurnRows(C_ImgBuff& b) {
    const int32_t w = b.width, h = b.height;
    WithPixelSize(b.BytesPerPixel(), [&]<int N>() {
        auto rows = [&](uint64_t first, uint64_t count) {
            for (uint64_t i = first; i < first + count; ++i) {
                const int32_t y = static_cast<int32_t>(i);
                ExchangeReversed<N>(UnitsAt<N>(b, 0, y), UnitsAt<N>(b, 0, h - 1 - y), w);
            }
        };
        PoolParallelRun(static_cast<uint64_t>((h + 1) / 2), rows);
    });
}

// Rows of source pixels moved per work item; each item moves its band in
// square tiles so that reads and writes stay in cache.
constexpr int32_t kTurnTile = 32;

struct QuarterTurnJob {
    const uint8_t* source;
    uint8_t* dest;
    int32_t width, height;  // of the source
    bool clockwise;
};

template <int N>
void TurnBands(const QuarterTurnJob& job, uint64_t first, uint64_t count) {
    using U = Unit<N>;
    const U* s = reinterpret_cast<const U*>(job.source);
    U* d = reinterpret_cast<U*>(job.dest);
    const int64_t w = job.width, h = job.height;
    for (uint64_t band = first; band < first + count; ++band) {
        const int64_t y0 = static_cast<int64_t>(band) * kTurnTile, y1 = std::min<int64_t>(y0 + kTurnTile, h);
        for (int64_t x0 = 0; x0 < w; x0 += kTurnTile) {
            const int64_t x1 = std::min<int64_t>(x0 + kTurnTile, w);
            for (int64_t x = x0; x < x1; ++x) {
                if (job.clockwise) {
                    // (x, y) -> (h-1-y, x): destination row x, read right to left.
                    U* out = d + x * h + (h - 1 - y0);
                    for (int64_t y = y0; y < y1; ++y, --out) *out = s[y * w + x];
                } else {
                    // (x, y) -> (y, w-1-x).
                    U* out = d + (w - 1 - x) * h + y0;
                    for (int64_t y = y0; y < y1; ++y, ++out) *out = s[y * w + x];
                }
            }
        }
    }
}

}  // namespace

int32_t ImgRotateQuarterTurns(CImgBuff* image, int32_t turns) {
    if (!image || !image->buffer) return 0;
    C_ImgBuff& b = *image->buffer;
    if (!ImgFormatValid(b.format) || !b.pixels || b.width < 1 || b.height < 1) return 0;
    const int32_t q = turns % 4;
    if (q == 0) return 1;
    if (q == 2 || q == -2) {
        ImgHalfTurnRows(b);
        return 1;
    }
    const int32_t bpp = b.BytesPerPixel();
    // Every byte of the turned block is written below.
    uint8_t* turned = ImgAllocPixelsUncleared(static_cast<uint64_t>(b.width) * static_cast<uint64_t>(b.height), static_cast<uint64_t>(bpp));
    if (!turned) return 0;
    const QuarterTurnJob job{b.pixels, turned, b.width, b.height, q == 1 || q == -3};
    WithPixelSize(bpp, [&]<int N>() {
        auto bands = [&](uint64_t first, uint64_t count) { TurnBands<N>(job, first, count); };
        PoolParallelRun(static_cast<uint64_t>((b.height + kTurnTile - 1) / kTurnTile), bands);
    });
    ImgFreePixels(b.pixels);
    b.pixels = turned;
    std::swap(b.width, b.height);
    return 1;
}
