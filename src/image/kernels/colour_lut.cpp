#include "image/kernels/colour_lut.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include "image/colour.h"
#include "image/kernels/kernel_frame.h"
#include "image/pool.h"

namespace {

uint32_t CellOf(uint8_t r, uint8_t g, uint8_t b) { return static_cast<uint32_t>(r >> 2) << 12 | static_cast<uint32_t>(g >> 2) << 6 | (b >> 2); }
uint32_t EntryOf(uint8_t r, uint8_t g, uint8_t b) { return (r & 3u) * 16 + (g & 3u) * 4 + (b & 3u); }

void FreeBlocks(ColorLut* cache) {
    for (ColorLutBlock* k = cache->first; k;) {
        ColorLutBlock* next = k->next;
        std::free(k);
        k = next;
    }
    cache->first = cache->last = nullptr;
}

// Claims and fills the cell of (r, g, b) or waits for another thread's fill;
// the block, or null when it cannot be allocated.
const ColorLutBlock* FillCell(ColorLut* cache, uint8_t r, uint8_t g, uint8_t b) {
    std::atomic<uintptr_t>& cell = cache->cells[CellOf(r, g, b)];
    while (true) {
        uintptr_t v = cell.load(std::memory_order_acquire);
        if (v != 0 && v != kColorLutClaimed) return reinterpret_cast<const ColorLutBlock*>(v);
        if (v == kColorLutClaimed) {
            // Another thread fills it; its function runs outside the lock.
            std::this_thread::yield();
            continue;
        }
        bool claimed = false;
        {
            CriticalSectionLock hold(*cache->lock);
            if (cell.load(std::memory_order_relaxed) == 0) {
                cell.store(kColorLutClaimed, std::memory_order_relaxed);
                claimed = true;
            }
        }
        if (!claimed) continue;
        ColorLutBlock* block = static_cast<ColorLutBlock*>(std::calloc(1, sizeof(ColorLutBlock)));
        if (!block) {
            cell.store(0, std::memory_order_release);
            return nullptr;
        }
        {
            CriticalSectionLock hold(*cache->lock);
            if (cache->last) cache->last->next = block;
            else cache->first = block;
            cache->last = block;
        }
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                for (int k = 0; k < 4; ++k) {
                    uint8_t* e = block->rgb[i * 16 + j * 4 + k];
                    e[0] = static_cast<uint8_t>((r & ~3) | i);
                    e[1] = static_cast<uint8_t>((g & ~3) | j);
                    e[2] = static_cast<uint8_t>((b & ~3) | k);
                    cache->function(&e[0], &e[1], &e[2], cache->params);
                }
        // Published only now, so that a reader that sees the pointer sees
        // the whole block.
        cell.store(reinterpret_cast<uintptr_t>(block), std::memory_order_release);
        return block;
    }
}

// The block of a colour: the filled cell read without a lock, or a fill.
inline const ColorLutBlock* BlockOf(ColorLut* cache, uint8_t r, uint8_t g, uint8_t b) {
    const uintptr_t v = cache->cells[CellOf(r, g, b)].load(std::memory_order_acquire);
    if (v != 0 && v != kColorLutClaimed) return reinterpret_cast<const ColorLutBlock*>(v);
    return FillCell(cache, r, g, b);
}

struct ApplyJob {
    ColorLut* cache;
    uint8_t* pixels;
};

void ApplyRgb8(void* ctx, uint64_t first, uint64_t count) {
    const ApplyJob& job = *static_cast<const ApplyJob*>(ctx);
    uint8_t* p = job.pixels + 3 * first;
    for (uint64_t i = 0; i < count; ++i, p += 3) {
        const ColorLutBlock* k = BlockOf(job.cache, p[0], p[1], p[2]);
        if (!k) continue;  // no memory for the block: the pixel keeps its colour
        const uint8_t* e = k->rgb[EntryOf(p[0], p[1], p[2])];
        p[0] = e[0], p[1] = e[1], p[2] = e[2];
    }
}

// Deeper channels: each between the transformed lower and upper 8-bit
// levels of the lattice cell that holds the colour, by its own fraction.
template <class T>
bool LookupDeep(ColorLut* cache, T* c) {
    constexpr int shift = 8 * sizeof(T) - 8;
    constexpr uint64_t expand = sizeof(T) == 2 ? 257u : 16843009u;
    constexpr double top = sizeof(T) == 2 ? 65535.0 : 4294967295.0;
    uint8_t lo[3], hi[3];
    for (int k = 0; k < 3; ++k) {
        uint32_t l = static_cast<uint32_t>(c[k] >> shift);
        if (l * expand > c[k]) --l;
        lo[k] = static_cast<uint8_t>(l);
        hi[k] = static_cast<uint8_t>(l == 255 ? 255 : l + 1);
    }
    uint8_t tl[3] = {lo[0], lo[1], lo[2]}, th[3] = {hi[0], hi[1], hi[2]};
    if (!ImgColorLutLookup(cache, &tl[0], &tl[1], &tl[2]) || !ImgColorLutLookup(cache, &th[0], &th[1], &th[2])) return false;
    for (int k = 0; k < 3; ++k) {
        const double elo = static_cast<double>(lo[k] * expand), ehi = static_cast<double>(hi[k] * expand);
        const double etlo = static_cast<double>(tl[k] * expand), ethi = static_cast<double>(th[k] * expand);
        const double v = ehi - elo > 0 ? etlo + (c[k] - elo) / (ehi - elo) * (ethi - etlo) : etlo;
        c[k] = static_cast<T>(v > top ? top : sizeof(T) == 2 ? ImgClampToU16(v) : ImgClampToU32(v));
    }
    return true;
}

template <class T>
void ApplyDeep(void* ctx, uint64_t first, uint64_t count) {
    const ApplyJob& job = *static_cast<const ApplyJob*>(ctx);
    T* p = reinterpret_cast<T*>(job.pixels) + 3 * first;
    for (uint64_t i = 0; i < count; ++i, p += 3) LookupDeep(job.cache, p);
}

// Process-wide grey table: L*, a*, b* of every 8-bit sRGB grey.
struct GreyLab {
    double l[256], a[256], b[256];
    GreyLab() {
        for (int v = 0; v < 256; ++v) {
            double x, y, z;
            ImgSrgbToXyz(v / 255.0, v / 255.0, v / 255.0, &x, &y, &z);
            ImgXyzToLab(x, y, z, &l[v], &a[v], &b[v]);
        }
    }
};

const GreyLab& GreyTable() {
    static const GreyLab* table = new GreyLab;  // filled once, thread-safe, never freed
    return *table;
}

uint8_t TopByte(double v) { return static_cast<uint8_t>(ImgClampToU32(v * 4294967295.0) >> 24); }

// Source and target colours to 16-bit HSV.
void ToHsv16(double r, double g, double b, uint16_t* h, uint16_t* s, uint16_t* v) {
    const auto w = [](double c) { return static_cast<uint16_t>(ImgClampToU32(c * 4294967295.0) >> 16); };
    ImgRgb16ToHsv16(w(r), w(g), w(b), h, s, v);
}

// s between entries k and k + 1 at f, and the piecewise linear map that
// takes it to the target's, keeping 0 and 65535.
uint16_t MapLevel(uint16_t x, const uint16_t* source, const uint16_t* target, int k, double f) {
    const double s = ImgClampToU16(source[k] + (static_cast<double>(source[k + 1]) - source[k]) * f);
    const double u = ImgClampToU16(target[k] + (static_cast<double>(target[k + 1]) - target[k]) * f);
    const double v = x > s ? (x - s) / (65535.0 - s) * (65535.0 - u) + u : x / s * u;
    return ImgClampToU16(v);
}

int64_t Mod(int64_t v) { return ((v % 65536) + 65536) % 65536; }

// Sums of R, G, B at 16 bits and a count, added once per chunk.
struct WhiteSums {
    C_ImgBuff* image;
    CriticalSection* lock;
    int32_t blockW, blockH, across;
    uint32_t ceiling, floor;
    double sum[3];
    uint64_t count;
    void Add(const double* s, uint64_t n) {
        CriticalSectionLock hold(*lock);
        for (int k = 0; k < 3; ++k) sum[k] += s[k];
        count += n;
    }
};

void SumRow(const C_ImgBuff& img, int32_t y, int32_t x0, int32_t x1, uint64_t* s) {
    uint16_t rgb[3 * kImgSpanPixels];
    for (int32_t x = x0; x <= x1; x += kImgSpanPixels) {
        const int32_t n = std::min(kImgSpanPixels, x1 - x + 1);
        ImgReadRgb16Span(img, x, y, n, rgb);
        for (int32_t i = 0; i < n; ++i)
            for (int k = 0; k < 3; ++k) s[k] += rgb[3 * i + k];
    }
}

void SumRows(void* ctx, uint64_t first, uint64_t count) {
    WhiteSums& job = *static_cast<WhiteSums*>(ctx);
    uint64_t s[3] = {0, 0, 0};
    for (uint64_t y = first; y < first + count; ++y) SumRow(*job.image, static_cast<int32_t>(y), 0, job.image->width - 1, s);
    const double d[3] = {static_cast<double>(s[0]), static_cast<double>(s[1]), static_cast<double>(s[2])};
    job.Add(d, static_cast<uint64_t>(job.image->width) * count);
}

void SumBlocks(void* ctx, uint64_t first, uint64_t count) {
    WhiteSums& job = *static_cast<WhiteSums*>(ctx);
    const C_ImgBuff& img = *job.image;
    double sums[3] = {0, 0, 0};
    uint64_t kept = 0;
    for (uint64_t row = first; row < first + count; ++row) {
        const int32_t y0 = static_cast<int32_t>(row) * job.blockH, y1 = std::min(y0 + job.blockH, img.height) - 1;
        for (int32_t bx = 0; bx < job.across; ++bx) {
            const int32_t x0 = bx * job.blockW, x1 = std::min(x0 + job.blockW, img.width) - 1;
            uint64_t s[3] = {0, 0, 0};
            for (int32_t y = y0; y <= y1; ++y) SumRow(img, y, x0, x1, s);
            const double n = static_cast<double>(x1 - x0 + 1) * (y1 - y0 + 1);
            const double mean[3] = {s[0] / n, s[1] / n, s[2] / n};
            const uint32_t t[3] = {static_cast<uint32_t>(mean[0]), static_cast<uint32_t>(mean[1]), static_cast<uint32_t>(mean[2])};
            const uint32_t v = std::max(t[0], std::max(t[1], t[2])), mn = std::min(t[0], std::min(t[1], t[2]));
            const uint32_t sat = v == 0 ? 0 : (v - mn) * 65534u / v;
            if (sat > job.ceiling || v < job.floor) continue;
            for (int k = 0; k < 3; ++k) sums[k] += mean[k];
            ++kept;
        }
    }
    job.Add(sums, kept);
}

}  // namespace

ColorLut* ImgColorLutCreate() {
    ColorLut* cache = new (std::nothrow) ColorLut{};
    if (!cache) return nullptr;
    cache->cells = new (std::nothrow) std::atomic<uintptr_t>[kColorLutCells];
    cache->lock = new (std::nothrow) CriticalSection;
    if (!cache->cells || !cache->lock) {
        delete[] cache->cells;
        delete cache->lock;
        delete cache;
        return nullptr;
    }
    for (uint32_t i = 0; i < kColorLutCells; ++i) cache->cells[i].store(0, std::memory_order_relaxed);
    return cache;
}

void* ImgColorLutSetFunction(ColorLut* cache, ColorLutFunction function, uint32_t size) {
    if (!cache) return nullptr;
    FreeBlocks(cache);
    for (uint32_t i = 0; i < kColorLutCells; ++i) cache->cells[i].store(0, std::memory_order_relaxed);
    std::free(cache->params);
    cache->params = std::calloc(1, size ? size : 1);
    cache->function = cache->params ? function : nullptr;
    return cache->params;
}

int32_t ImgColorLutDestroy(ColorLut* cache) {
    if (!cache) return 0;
    FreeBlocks(cache);
    std::free(cache->params);
    delete cache->lock;
    delete[] cache->cells;
    delete cache;
    return 1;
}

int32_t ImgColorLutLookup(ColorLut* cache, uint8_t* r, uint8_t* g, uint8_t* b) {
    if (!cache || !r || !g || !b) return 0;
    if (!cache->function) return 1;
    const ColorLutBlock* k = BlockOf(cache, *r, *g, *b);
    if (!k) return 0;
    const uint8_t* e = k->rgb[EntryOf(*r, *g, *b)];
    *r = e[0], *g = e[1], *b = e[2];
    return 1;
}

int32_t ImgColorLutApply(ColorLut* cache, CImgBuff* image) {
    if (!cache || !image || !image->buffer || !ImgFormatValid(image->buffer->format) || !image->buffer->pixels) return 0;
    if (!cache->function) return 1;
    C_ImgBuff& b = *image->buffer;
    static const int32_t kWorking[10] = {0, kImgRgb8, kImgRgb16, kImgRgb32, kImgRgb8, kImgRgb16, kImgRgb32, kImgRgb32, kImgRgb16, kImgRgb8};
    const int32_t working = kWorking[b.format];
    C_ImgBuff copy;
    C_ImgBuff* w = &b;
    if (working != b.format) {
        if (copy.CopyFrom(&b)->pixels == nullptr || copy.format != b.format || !copy.ConvertFormat(static_cast<uint32_t>(working))) return 0;
        w = &copy;
    }
    ApplyJob job{cache, w->pixels};
    const uint64_t n = static_cast<uint64_t>(w->width) * static_cast<uint64_t>(w->height);
    PoolParallelFor(working == kImgRgb8 ? ApplyRgb8 : working == kImgRgb16 ? ApplyDeep<uint16_t> : ApplyDeep<uint32_t>, &job, n);
    if (w == &copy) {
        if (!copy.ConvertFormat(static_cast<uint32_t>(b.format))) return 0;
        b.TakePixels(&copy);
    }
    return 1;
}

void ImgWhiteBalanceColor(uint8_t* r, uint8_t* g, uint8_t* b, void* params) {
    const WhiteBalanceParams& p = *static_cast<const WhiteBalanceParams*>(params);
    double x, y, z, l, a, bb;
    ImgSrgbToXyz(*r / 255.0, *g / 255.0, *b / 255.0, &x, &y, &z);
    ImgXyzToLab(x, y, z, &l, &a, &bb);
    ImgLabToXyz(l, a + p.a, bb + p.b, &x, &y, &z);
    double cr, cg, cb;
    ImgXyzToSrgb(x, y, z, &cr, &cg, &cb);
    *r = TopByte(cr), *g = TopByte(cg), *b = TopByte(cb);
}

ColorLut* ImgColorLutCreateWhiteBalance(double r, double g, double b) {
    const GreyLab& grey = GreyTable();
    ColorLut* cache = ImgColorLutCreate();
    if (!cache) return nullptr;
    WhiteBalanceParams* p = static_cast<WhiteBalanceParams*>(ImgColorLutSetFunction(cache, ImgWhiteBalanceColor, sizeof(WhiteBalanceParams)));
    if (!p) {
        ImgColorLutDestroy(cache);
        return nullptr;
    }
    double x, y, z, l, a, bb;
    ImgSrgbToXyz(r, g, b, &x, &y, &z);
    ImgXyzToLab(x, y, z, &l, &a, &bb);
    // The grey level whose lightness is nearest the reference's (the lower
    // on a tie; a NaN lightness takes grey 0).
    int best = 0;
    for (int v = 1; v < 256; ++v)
        if (std::fabs(grey.l[v] - l) < std::fabs(grey.l[best] - l)) best = v;
    p->a = grey.a[best] - a;
    p->b = grey.b[best] - bb;
    return cache;
}

void ImgColorCorrectionColor(uint8_t* r, uint8_t* g, uint8_t* b, void* params) {
    const ColorCorrectionParams& p = *static_cast<const ColorCorrectionParams*>(params);
    uint16_t h, s, v;
    ImgRgb16ToHsv16(static_cast<uint16_t>(*r * 257), static_cast<uint16_t>(*g * 257), static_cast<uint16_t>(*b * 257), &h, &s, &v);
    const int64_t hue = h;
    for (int k = 0; k < 6; ++k) {
        const int64_t a = p.sourceHue[k], e = p.sourceHue[k + 1];
        const bool forward = a < e || (e - a + 65536) <= (a - e);
        bool holds;
        if (a < e) holds = a <= hue && hue < e;
        else if (forward) holds = hue >= a || hue < e;
        else holds = e < hue && hue <= a;
        if (!holds) continue;
        const int64_t t0 = p.targetHue[k], t1 = p.targetHue[k + 1];
        double f, hd;
        if (forward) {
            f = static_cast<double>(Mod(hue - a)) / static_cast<double>(Mod(e - a));
            hd = t0 + static_cast<double>(Mod(t1 - t0)) * f;
        } else {
            f = static_cast<double>(Mod(a - hue)) / static_cast<double>(Mod(a - e));
            hd = t0 - static_cast<double>(Mod(t0 - t1)) * f;
        }
        const uint16_t h2 = static_cast<uint16_t>(Mod(static_cast<int64_t>(std::trunc(hd))));
        const uint16_t s2 = p.correctSaturation ? MapLevel(s, p.sourceSat, p.targetSat, k, f) : s;
        const uint16_t v2 = p.correctBrightness ? MapLevel(v, p.sourceVal, p.targetVal, k, f) : v;
        uint16_t c[3];
        ImgHsv16ToRgb16(h2, s2, v2, &c[0], &c[1], &c[2]);
        *r = static_cast<uint8_t>(c[0] >> 8), *g = static_cast<uint8_t>(c[1] >> 8), *b = static_cast<uint8_t>(c[2] >> 8);
        return;
    }
}

ColorLut* ImgColorLutCreateColorCorrection(const double* sourceR, const double* sourceG, const double* sourceB,
                                           const double* targetR, const double* targetG, const double* targetB,
                                           int32_t correctSaturation, int32_t correctBrightness) {
    if (!sourceR || !sourceG || !sourceB) return nullptr;
    ColorLut* cache = ImgColorLutCreate();
    if (!cache) return nullptr;
    auto* p = static_cast<ColorCorrectionParams*>(ImgColorLutSetFunction(cache, ImgColorCorrectionColor, sizeof(ColorCorrectionParams)));
    if (!p) {
        ImgColorLutDestroy(cache);
        return nullptr;
    }
    p->correctSaturation = correctSaturation ? 1 : 0;
    p->correctBrightness = correctBrightness ? 1 : 0;
    static const uint16_t kDefaultHues[6] = {0, 10923, 21845, 32768, 43703, 54613};
    const bool defaults = !targetR || !targetG || !targetB;
    for (int k = 0; k < 6; ++k) {
        ToHsv16(sourceR[k], sourceG[k], sourceB[k], &p->sourceHue[k], &p->sourceSat[k], &p->sourceVal[k]);
        if (defaults) {
            p->targetHue[k] = kDefaultHues[k];
            p->targetSat[k] = p->targetVal[k] = 65535;
        } else {
            ToHsv16(targetR[k], targetG[k], targetB[k], &p->targetHue[k], &p->targetSat[k], &p->targetVal[k]);
        }
    }
    for (uint16_t* a : {p->targetHue, p->targetSat, p->targetVal, p->sourceHue, p->sourceSat, p->sourceVal}) a[6] = a[0];
    for (int k = 0; k < 6; ++k) {
        if (p->sourceHue[k] == p->sourceHue[k + 1] || p->targetHue[k] == p->targetHue[k + 1] || p->sourceSat[k] == 0 ||
            p->sourceVal[k] == 0 || p->targetSat[k] == 0 || p->targetVal[k] == 0) {
            ImgColorLutDestroy(cache);
            return nullptr;
        }
    }
    return cache;
}

int32_t ImgEstimateWhiteBalance(CImgBuff* image, double* r, double* g, double* b, uint32_t saturationLimit,
                                uint32_t brightnessLimit, int32_t* blocksUsed) {
    if (saturationLimit > 100 || brightnessLimit > 100 || !image || !image->buffer) return 0;
    C_ImgBuff& img = *image->buffer;
    if (!ImgFormatValid(img.format) || !img.pixels || img.width < 1 || img.height < 1) return 0;
    const uint32_t ceiling = saturationLimit == 0 ? 65535 : saturationLimit * 65535 / 100;
    const uint32_t floor = brightnessLimit * 65535 / 100;
    if (blocksUsed) *blocksUsed = 0;
    CriticalSection* lock = PoolNewCriticalSection();
    if (!lock) return 0;
    WhiteSums job{&img, lock, 0, 0, 0, ceiling, floor, {0, 0, 0}, 0};
    bool blocks = false;
    if ((ceiling < 65535 || floor > 0) && img.width >= 128 && img.height >= 128) {
        job.blockW = img.width / 16;
        job.blockH = img.height / 16;
        job.across = (img.width + job.blockW - 1) / job.blockW;
        const int32_t rows = (img.height + job.blockH - 1) / job.blockH;
        PoolParallelFor(SumBlocks, &job, static_cast<uint64_t>(rows));
        blocks = job.count > 0;
    }
    if (!blocks) {
        job.sum[0] = job.sum[1] = job.sum[2] = 0;
        job.count = 0;
        PoolParallelFor(SumRows, &job, static_cast<uint64_t>(img.height));
    }
    delete lock;
    if (blocks && blocksUsed) *blocksUsed = 1;
    double* out[3] = {r, g, b};
    for (int k = 0; k < 3; ++k)
        if (out[k]) *out[k] = static_cast<uint16_t>(job.sum[k] / static_cast<double>(job.count)) / 65535.0;
    return 1;
}
