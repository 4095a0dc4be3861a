#include "image/kernels/morphology.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "image/kernels/kernel_frame.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

const uint8_t g_ImgThinTable[256] = {
    0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x10, 0x11, 0x00, 0x40, 0x50, 0x55, 0x00, 0x00, 0x50, 0x55,  // 0x
    0x00, 0x00, 0x90, 0x90, 0x80, 0x00, 0x99, 0x99, 0x00, 0x00, 0x10, 0x10, 0x00, 0x00, 0x10, 0x11,  // 1x
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x40, 0x44, 0x50, 0x55, 0x00, 0x04, 0x50, 0x55,  // 2x
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x09, 0x09, 0x00, 0x00, 0x10, 0x10, 0x00, 0x00, 0x10, 0x11,  // 3x
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x60, 0x60, 0x40, 0x40, 0x00, 0x00, 0x40, 0x40,  // 4x
    0xA0, 0x00, 0x80, 0x80, 0xA0, 0x00, 0x80, 0x80, 0x20, 0x20, 0x00, 0x00, 0x20, 0x20, 0x00, 0x00,  // 5x
    0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x66, 0x66, 0x40, 0x44, 0x06, 0x06, 0x40, 0x44,  // 6x
    0xA0, 0x00, 0x80, 0x80, 0xA0, 0x00, 0x80, 0x80, 0x20, 0x20, 0x00, 0x00, 0x20, 0x20, 0x00, 0x00,  // 7x
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x05,  // 8x
    0x80, 0x00, 0x90, 0x90, 0x88, 0x08, 0x99, 0x99, 0x00, 0x00, 0x10, 0x10, 0x00, 0x00, 0x10, 0x11,  // 9x
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x04, 0x00, 0x05, 0x00, 0x04, 0x00, 0x05,  // Ax
    0x00, 0x00, 0x00, 0x00, 0x08, 0x08, 0x09, 0x09, 0x00, 0x00, 0x10, 0x10, 0x00, 0x00, 0x10, 0x11,  // Bx
    0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x60, 0x60, 0x40, 0x40, 0x00, 0x00, 0x40, 0x40,  // Cx
    0xAA, 0x0A, 0x80, 0x80, 0xAA, 0x0A, 0x88, 0x88, 0x20, 0x20, 0x00, 0x00, 0x20, 0x20, 0x00, 0x00,  // Dx
    0x22, 0x02, 0x00, 0x00, 0x02, 0x02, 0x00, 0x00, 0x66, 0x66, 0x40, 0x44, 0x06, 0x06, 0x40, 0x44,  // Ex
    0xAA, 0x0A, 0x80, 0x80, 0xAA, 0x0A, 0x88, 0x88, 0x22, 0x22, 0x00, 0x00, 0x22, 0x22, 0x00, 0x00,  // Fx
};

namespace {

bool ValidImage(const CImgBuff* image) {
    return image && image->buffer && ImgFormatValid(image->buffer->format) && image->buffer->pixels;
}

// Common start: connectivity, clipped region and its foreground mask.
BitMask* Start(CImgBuff* image, int32_t connectivity, uint32_t background, const ImgRect* region, ImgRect* r) {
    if (connectivity != 4 && connectivity != 8) return nullptr;
    if (!ValidImage(image) || !ImgGetRoi(r, image, region)) return nullptr;
    return ImgForegroundMask(image, background, r->x0, r->y0, r->x1, r->y1);
}

// The bytes of one word's set bits (MSB first) set to v, without branches.
KV_KERNEL_CLONES void PaintWord8(uint8_t* p, uint32_t bits, int32_t n, uint8_t v) {
    for (int32_t k = 0; k < n; ++k) {
        const uint8_t m = static_cast<uint8_t>(0u - ((bits << k) >> 31));
        p[k] = static_cast<uint8_t>((p[k] & ~m) | (v & m));
    }
}

#if defined(__x86_64__)
// The 32 bytes of each whole word with set bits blended in one step: every
// byte picks its word byte (the first pixel is the top bit) and tests its
// own bit; the last, partial word goes bytewise.
__attribute__((target("avx2"))) void PaintRow8Avx2(uint8_t* p, const uint32_t* bits, int32_t n, uint8_t v) {
    const __m256i pick = _mm256_setr_epi8(3, 3, 3, 3, 3, 3, 3, 3, 2, 2, 2, 2, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0,
                                          0, 0, 0);
    const __m256i bit = _mm256_set1_epi64x(static_cast<int64_t>(0x0102040810204080ull));
    const __m256i value = _mm256_set1_epi8(static_cast<char>(v));
    const int32_t whole = n >> 5;
    for (int32_t i = 0; i < whole; ++i) {
        if (!bits[i]) continue;
        const __m256i spread = _mm256_shuffle_epi8(_mm256_set1_epi32(static_cast<int32_t>(bits[i])), pick);
        const __m256i set = _mm256_cmpeq_epi8(_mm256_and_si256(spread, bit), bit);
        __m256i* at = reinterpret_cast<__m256i*>(p + 32 * i);
        _mm256_storeu_si256(at, _mm256_blendv_epi8(_mm256_loadu_si256(at), value, set));
    }
    if (n & 31 && bits[whole]) PaintWord8(p + 32 * whole, bits[whole], n & 31, v);
}

bool HaveAvx2() {
    static const bool have = __builtin_cpu_supports("avx2");
    return have;
}
#endif

// Paints the pixels whose bits are set (n bits from the row's start) white
// or black, as the 8-bit grey setter renders 255 and 0 in the format.
void PaintBits(C_ImgBuff& b, int32_t x0, int32_t y, const uint32_t* bits, int32_t n, bool white) {
    const uint32_t words = static_cast<uint32_t>(n + 31) >> 5;
    if (b.format == kImgGray8) {
        uint8_t* p = b.PixelAt(x0, y);
#if defined(__x86_64__)
        if (HaveAvx2()) {
            PaintRow8Avx2(p, bits, n, white ? 255 : 0);
            return;
        }
#endif
        for (uint32_t i = 0; i < words; ++i)
            if (bits[i]) PaintWord8(p + 32 * i, bits[i], std::min(32, n - static_cast<int32_t>(32 * i)), white ? 255 : 0);
        return;
    }
    uint8_t levels[kImgSpanPixels];
    for (int32_t c = 0; c < n; c += kImgSpanPixels) {
        const int32_t m = std::min(kImgSpanPixels, n - c);
        bool any = false;
        for (int32_t i = 0; i < m; ++i) {
            const bool set = ImgBitTest(bits, c + i);
            levels[i] = set ? (white ? kImgLevelWhite : kImgLevelBlack) : kImgLevelKeep;
            any |= set;
        }
        if (any) ImgWriteLevelsSpan(b, x0 + c, y, m, levels);
    }
}

// Rows of a mask seen with their neighbours: bit x of Left() is bit x - 1
// of the row, of Right() bit x + 1; outside the mask everything is clear.
// The rows are copies with a clear word on either side, so that the words
// at the ends need no test.
struct RowView {
    const uint32_t* r;  // r[-1] and r[n] are 0
    uint32_t At(uint32_t i) const { return r[i]; }
    uint32_t Left(uint32_t i) const { return (r[i] >> 1) | ((r - 1)[i] << 31); }
    uint32_t Right(uint32_t i) const { return (r[i] << 1) | ((r + 1)[i] >> 31); }
};

struct Neighbourhood {
    RowView up, cur, down;
    uint32_t n;     // words per row
    uint32_t tail;  // valid bits of the last word
    // `rows` holds three rows of n + 2 words.
    Neighbourhood(const BitMask* m, int32_t y, uint32_t* rows) : n(ImgBitMaskWordsPerRow(m)) {
        const auto copy = [&](uint32_t* to, int32_t row) {
            to[0] = to[n + 1] = 0;
            if (row < 0 || row >= m->height) std::fill(to + 1, to + 1 + n, 0u);
            else std::copy(ImgBitMaskRow(m, row), ImgBitMaskRow(m, row) + n, to + 1);
            return to + 1;
        };
        up = RowView{copy(rows, y - 1)};
        cur = RowView{copy(rows + (n + 2), y)};
        down = RowView{copy(rows + 2 * (n + 2), y + 1)};
        tail = (m->width & 31) ? 0xFFFFFFFFu << (32 - (m->width & 31)) : 0xFFFFFFFFu;
    }
    // Some neighbour set (8 or the 4 edge neighbours).
    uint32_t Any(uint32_t i, bool eight) const {
        const uint32_t side = cur.Left(i) | cur.Right(i);
        if (!eight) return up.At(i) | down.At(i) | side;
        return up.At(i) | up.Left(i) | up.Right(i) | down.At(i) | down.Left(i) | down.Right(i) | side;
    }
    // Every neighbour set.
    uint32_t All(uint32_t i, bool eight) const {
        const uint32_t side = cur.Left(i) & cur.Right(i);
        if (!eight) return up.At(i) & down.At(i) & side;
        return up.At(i) & up.Left(i) & up.Right(i) & down.At(i) & down.Left(i) & down.Right(i) & side;
    }
};

// Runs f(image row y, mask row my, result words) over the rows on the pool
// and paints the words of each row.
template <class F>
void PaintRows(CImgBuff* image, const BitMask* m, const ImgRect& r, bool white, F&& f) {
    const uint32_t words = ImgBitMaskWordsPerRow(m);
    ImgForEachRegionRow(r, [&](int32_t y) {
        const int32_t my = y - r.y0;
        constexpr uint32_t kLocal = 256;
        uint32_t local[4 * (kLocal + 2)];
        std::vector<uint32_t> heap(words > kLocal ? 4 * (words + 2) : 0);
        uint32_t* rows = words > kLocal ? heap.data() : local;
        uint32_t* out = rows + 3 * (words + 2);
        const Neighbourhood nb(m, my, rows);
        uint32_t any = 0;
        for (uint32_t i = 0; i < words; ++i) {
            out[i] = f(nb, i);
            any |= out[i];
        }
        out[words - 1] &= nb.tail;
        if (any) PaintBits(*image->buffer, r.x0, y, out, m->width, white);
    });
}

}  // namespace

int32_t ImgBinaryExpand(CImgBuff* image, int32_t connectivity, uint32_t background, const ImgRect* region) {
    ImgRect r;
    BitMask* m = Start(image, connectivity, background, region, &r);
    if (!m) return 0;
    const bool eight = connectivity == 8;
    PaintRows(image, m, r, background == 0, [&](const Neighbourhood& nb, uint32_t i) { return nb.Any(i, eight) & ~nb.cur.At(i); });
    ImgBitMaskDestroy(m);
    return 1;
}

void ImgBinaryShrink(const BitMask* mask, CImgBuff* image, int32_t connectivity, uint32_t background, int32_t x0, int32_t y0,
                     int32_t x1, int32_t y1) {
    if (!mask || (connectivity != 4 && connectivity != 8) || !ValidImage(image)) return;
    const C_ImgBuff& b = *image->buffer;
    if (x0 > x1 || y0 > y1 || x0 < 0 || y0 < 0 || x1 >= b.width || y1 >= b.height) return;
    if (mask->width != x1 - x0 + 1 || mask->height != y1 - y0 + 1) return;
    const bool eight = connectivity == 8;
    PaintRows(image, mask, ImgRect{x0, y0, x1, y1}, background != 0,
              [&](const Neighbourhood& nb, uint32_t i) { return nb.cur.At(i) & ~nb.All(i, eight); });
}

int32_t ImgBinaryBorder(CImgBuff* image, int32_t connectivity, uint32_t background, const ImgRect* region) {
    ImgRect r;
    BitMask* m = Start(image, connectivity, background, region, &r);
    if (!m) return 0;
    // Interior: all four edge neighbours under 8-connectivity, all eight under 4.
    const bool eight = connectivity == 4;
    PaintRows(image, m, r, background != 0, [&](const Neighbourhood& nb, uint32_t i) { return nb.cur.At(i) & nb.All(i, eight); });
    PaintRows(image, m, r, background == 0, [&](const Neighbourhood& nb, uint32_t i) { return nb.cur.At(i) & ~nb.All(i, eight); });
    ImgBitMaskDestroy(m);
    return 1;
}

int32_t ImgBinaryFillHoles(CImgBuff* image, int32_t connectivity, uint32_t background, const ImgRect* region) {
    ImgRect r;
    BitMask* m = Start(image, connectivity, background, region, &r);
    if (!m) return 0;
    // The background reached from the rectangle's border, at the other
    // connectivity, is taken out of `open`; what stays is enclosed.
    BitMask* open = ImgBitMaskComplement(m);
    if (!open) {
        ImgBitMaskDestroy(m);
        return 0;
    }
    const int32_t other = connectivity == 8 ? 4 : 8, w = m->width, h = m->height;
    ImgBitRunList runs;
    bool ok = true;
    const auto from = [&](int32_t x, int32_t y) {
        if (!ok || !ImgBitTest(ImgBitMaskRow(open, y), x)) return;
        runs.count = 0;
        ok = ImgBitMaskTakeComponent(open, x, y, other, 0, 0, w - 1, h - 1, &runs) >= 0;
    };
    for (int32_t y = 0; y < h; ++y) {
        from(0, y);
        from(w - 1, y);
    }
    for (int32_t x = 0; x < w; ++x) {
        from(x, 0);
        from(x, h - 1);
    }
    if (ok) PaintRows(image, open, r, background == 0, [&](const Neighbourhood& nb, uint32_t i) { return nb.cur.At(i); });
    ImgBitMaskDestroy(open);
    ImgBitMaskDestroy(m);
    return ok ? 1 : 0;
}

// ---- thinning ----

namespace {

uint32_t NeighbourCode(const BitMask* m, int32_t x, int32_t y) {
    const auto at = [&](int32_t dx, int32_t dy) -> uint32_t { return ImgBitMaskGet(m, x + dx, y + dy) ? 1u : 0u; };
    return at(-1, -1) << 7 | at(0, -1) << 6 | at(1, -1) << 5 | at(-1, 0) << 4 | at(1, 0) << 3 | at(-1, 1) << 2 | at(0, 1) << 1 |
           at(1, 1);
}

}  // namespace

void ImgBinaryThinCandidateRows(void* ctx, uint64_t first, uint64_t count) {
    ImgThinJob& job = *static_cast<ImgThinJob*>(ctx);
    const uint8_t bit = static_cast<uint8_t>(1u << (job.connectivity == 8 ? 4 + job.subPass : job.subPass));
    const int32_t w = job.mask->width;
    for (uint64_t i = first; i < first + count; ++i) {
        const int32_t y = static_cast<int32_t>(i);
        const uint32_t* row = ImgBitMaskRow(job.mask, y);
        uint32_t* cand = ImgBitMaskRow(job.candidates, y);
        std::fill(cand, cand + ImgBitMaskWordsPerRow(job.candidates), 0u);
        for (int32_t x = ImgBitRowNextSet(row, 0, w - 1); x >= 0; x = ImgBitRowNextSet(row, x + 1, w - 1))
            if (g_ImgThinTable[NeighbourCode(job.mask, x, y)] & bit) ImgBitSet(cand, x);
    }
}

void ImgBinaryThinDeleteRows(void* ctx, uint64_t first, uint64_t count) {
    ImgThinJob& job = *static_cast<ImgThinJob*>(ctx);
    const int32_t w = job.mask->width;
    for (uint64_t i = first; i < first + count; ++i) {
        const int32_t y = static_cast<int32_t>(i);
        const uint32_t* cand = ImgBitMaskRow(job.candidates, y);
        uint32_t* row = ImgBitMaskRow(job.mask, y);
        bool any = false;
        for (uint32_t k = 0; k < ImgBitMaskWordsPerRow(job.mask); ++k) {
            row[k] &= ~cand[k];
            any |= cand[k] != 0;
        }
        if (!any) continue;
        PaintBits(*job.image->buffer, job.x0, job.y0 + y, cand, w, job.background != 0);
        job.changed.store(1, std::memory_order_relaxed);
    }
}

int32_t ImgBinaryThin(CImgBuff* image, int32_t connectivity, uint32_t background, const ImgRect* region) {
    ImgRect r;
    BitMask* m = Start(image, connectivity, background, region, &r);
    if (!m) return 0;
    BitMask* cand = ImgBitMaskCreate(m->width, m->height);
    if (!cand) {
        ImgBitMaskDestroy(m);
        return 0;
    }
    ImgThinJob job{image, m, cand, 0, 0, connectivity, r.x0, r.y0, r.x1, r.y1, static_cast<uint8_t>(background ? 255 : 0)};
    const uint64_t rows = static_cast<uint64_t>(m->height);
    for (bool again = true; again;) {
        again = false;
        for (int32_t k = 0; k < 4; ++k) {
            job.subPass = k;
            PoolParallelFor(ImgBinaryThinCandidateRows, &job, rows);
            job.changed.store(0);
            PoolParallelFor(ImgBinaryThinDeleteRows, &job, rows);
            again |= job.changed.load() != 0;
        }
    }
    ImgBitMaskDestroy(cand);
    ImgBitMaskDestroy(m);
    return 1;
}

// ---- whisker shaving ----

namespace {

struct Whisker {
    int32_t x, y;
    uint32_t r, g, b;
};

const int32_t kDirX[8] = {0, 1, 1, 1, 0, -1, -1, -1};
const int32_t kDirY[8] = {-1, -1, 0, 1, 1, 1, 0, -1};

struct ShaveImage {
    C_ImgBuff* b;
    uint32_t bg;
    bool eight;
    bool Object(int32_t x, int32_t y) const {
        if (!b->Contains(x, y)) return false;
        uint32_t v;
        b->GetPixelGray32(x, y, &v);
        return v != bg;
    }
    int32_t Count(int32_t x, int32_t y) const {
        if (!Object(x, y)) return 0;
        int32_t n = 0;
        for (int32_t d = 0; d < 8; ++d)
            if ((eight || d % 2 == 0) && Object(x + kDirX[d], y + kDirY[d])) ++n;
        return n;
    }
};

}  // namespace

int32_t ImgBinaryShave(CImgBuff* image, uint64_t length, int32_t connectivity, uint32_t background, const ImgRect* region) {
    if (!ValidImage(image) || (connectivity != 4 && connectivity != 8)) return 0;
    ImgRect r;
    if (!ImgGetRoi(&r, image, region)) return 0;
    CImgBuff scratch;
    if (!scratch.buffer || !image->ExtractRect(&scratch, r.x0, r.y0, r.x1, r.y1)) return 0;
    // No whisker is longer than the region has pixels: that caps the records.
    const uint64_t pixels = static_cast<uint64_t>(r.x1 - r.x0 + 1) * static_cast<uint64_t>(r.y1 - r.y0 + 1);
    const uint64_t n = std::min(length, pixels);
    Whisker local[256];
    Whisker* rec = local;
    if (n + 1 > 256) {
        if (n + 1 > SIZE_MAX / sizeof(Whisker)) return 0;
        rec = static_cast<Whisker*>(std::malloc((n + 1) * sizeof(Whisker)));
        if (!rec) return 0;
    }
    C_ImgBuff& b = *scratch.buffer;
    const ShaveImage s{&b, background ? 0xFFFFFFFFu : 0u, connectivity == 8};
    const int32_t w = b.width, h = b.height;
    int64_t cursor = 0;
    const int64_t total = static_cast<int64_t>(w) * h;
    for (;;) {
        // The next end point (exactly one neighbour) in raster order.
        int64_t at = cursor;
        while (at < total && s.Count(static_cast<int32_t>(at % w), static_cast<int32_t>(at / w)) != 1) ++at;
        if (at >= total) break;
        int32_t x = static_cast<int32_t>(at % w), y = static_cast<int32_t>(at / w);
        int32_t d = 0;
        while (d < 8 && !s.Object(x + kDirX[d], y + kDirY[d])) ++d;
        uint64_t erased = 0;
        bool restore = true;
        for (uint64_t i = 0; i < n; ++i) {
            const int32_t c = s.Count(x, y);
            if (c > 1) {
                restore = false;
                break;
            }
            if (c == 0) break;
            Whisker& wr = rec[erased++];
            wr.x = x;
            wr.y = y;
            b.GetPixelRgb32(x, y, &wr.r, &wr.g, &wr.b);
            b.SetPixelGray32(x, y, s.bg);
            if (d < 8 && s.Object(x + kDirX[d], y + kDirY[d])) {
                x += kDirX[d];
                y += kDirY[d];
            } else {
                for (int32_t k = -3; k <= 3; ++k) {
                    const int32_t e = (d + 8 + k) & 7;
                    if (s.Object(x + kDirX[e], y + kDirY[e])) {
                        d = e;
                        x += kDirX[e];
                        y += kDirY[e];
                        break;
                    }
                }
            }
        }
        if (restore)
            for (uint64_t i = 0; i < erased; ++i) b.SetPixelRgb32(rec[i].x, rec[i].y, rec[i].r, rec[i].g, rec[i].b);
        cursor = at + 1;
    }
    if (rec != local) std::free(rec);
    image->PasteImage(&scratch, static_cast<uint32_t>(r.x0), static_cast<uint32_t>(r.y0));
    return 1;
}

// ---- exclusive expansion ----

int32_t ImgBinaryExpandExclusive(CImgBuff* image, int32_t connectivity, uint32_t background, int32_t x0, int32_t y0, int32_t x1,
                                 int32_t y1) {
    if (connectivity != 4 && connectivity != 8) return 0;
    BitMask* pending = ImgForegroundMask(image, background, x0, y0, x1, y1);
    if (!pending) return 0;
    BitMask* grown = ImgBitMaskClone(pending);
    BitMask* object = ImgBitMaskCreate(pending->width, pending->height);
    if (!grown || !object) {
        ImgBitMaskDestroy(pending);
        ImgBitMaskDestroy(grown);
        ImgBitMaskDestroy(object);
        return 0;
    }
    const int32_t w = pending->width, h = pending->height;
    const bool eight = connectivity == 8;
    const auto touches = [&](const auto& isSet, int32_t x, int32_t y) {
        for (int32_t dy = -1; dy <= 1; ++dy)
            for (int32_t dx = -1; dx <= 1; ++dx) {
                if ((dx == 0 && dy == 0) || (!eight && dx != 0 && dy != 0)) continue;
                const int32_t nx = x + dx, ny = y + dy;
                if (nx >= 0 && ny >= 0 && nx < w && ny < h && isSet(nx, ny)) return true;
            }
        return false;
    };
    const auto inObject = [&](int32_t x, int32_t y) { return ImgBitTest(ImgBitMaskRow(object, y), x); };
    // Every other object, with what earlier objects gained in this call.
    const auto inOthers = [&](int32_t x, int32_t y) { return ImgBitTest(ImgBitMaskRow(grown, y), x) && !inObject(x, y); };
    ImgBitRunList runs;
    std::vector<std::pair<int32_t, int32_t>> gained;
    const uint8_t paint = background ? 0 : 255;
    int32_t result = 1;
    for (int32_t y = 0; y < h && result; ++y) {
        const uint32_t* row = ImgBitMaskRow(pending, y);
        for (int32_t x = ImgBitRowNextSet(row, 0, w - 1); x >= 0; x = ImgBitRowNextSet(row, x + 1, w - 1)) {
            runs.count = 0;
            if (ImgBitMaskTakeComponent(pending, x, y, connectivity, 0, 0, w - 1, h - 1, &runs) < 0) {
                result = 0;
                break;
            }
            int32_t bx0 = x, by0 = y, bx1 = x, by1 = y;
            for (uint64_t i = 0; i < runs.count; ++i) {
                const ImgBitRun& run = runs.runs[i];
                ImgBitRowSetRange(ImgBitMaskRow(object, run.y), run.x0, run.x1);
                bx0 = std::min(bx0, run.x0);
                bx1 = std::max(bx1, run.x1);
                by0 = std::min(by0, run.y);
                by1 = std::max(by1, run.y);
            }
            bx0 = std::max(bx0 - 1, 0);
            by0 = std::max(by0 - 1, 0);
            bx1 = std::min(bx1 + 1, w - 1);
            by1 = std::min(by1 + 1, h - 1);
            gained.clear();
            for (int32_t ry = by0; ry <= by1; ++ry)
                for (int32_t rx = bx0; rx <= bx1; ++rx) {
                    if (inObject(rx, ry) || !touches(inObject, rx, ry)) continue;  // not on the ring
                    if (!inOthers(rx, ry) && touches(inOthers, rx, ry)) continue;  // would touch another object
                    gained.emplace_back(rx, ry);
                }
            for (const auto& [gx, gy] : gained) {
                ImgBitSet(ImgBitMaskRow(grown, gy), gx);
                image->buffer->SetPixelGray8(x0 + gx, y0 + gy, paint);
            }
            for (uint64_t i = 0; i < runs.count; ++i)
                ImgBitRowClearRange(ImgBitMaskRow(object, runs.runs[i].y), runs.runs[i].x0, runs.runs[i].x1);
        }
    }
    ImgBitMaskDestroy(pending);
    ImgBitMaskDestroy(grown);
    ImgBitMaskDestroy(object);
    return result;
}
