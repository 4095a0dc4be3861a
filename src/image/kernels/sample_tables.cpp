#include "image/kernels/sample_tables.h"

#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "image/kernels/kernel_frame.h"

namespace {

struct SampleTableJob {
    CImgBuff* image;
    int32_t x0, y0, x1, y1;
    const uint8_t* table8;
    const uint16_t* table16;
};

#if defined(__x86_64__)
// 64 samples per step with byte permutes: the low seven bits pick an entry
// of one half of the table, the top bit picks the half.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) uint64_t MapBytesPermute(uint8_t* p, uint64_t n, const uint8_t* lut) {
    const __m512i t0 = _mm512_loadu_si512(lut), t1 = _mm512_loadu_si512(lut + 64);
    const __m512i t2 = _mm512_loadu_si512(lut + 128), t3 = _mm512_loadu_si512(lut + 192);
    uint64_t i = 0;
    for (; i + 64 <= n; i += 64) {
        const __m512i v = _mm512_loadu_si512(p + i);
        const __m512i low = _mm512_permutex2var_epi8(t0, v, t1), high = _mm512_permutex2var_epi8(t2, v, t3);
        _mm512_storeu_si512(p + i, _mm512_mask_blend_epi8(_mm512_movepi8_mask(v), low, high));
    }
    return i;
}

bool HavePermute() {
    static const bool have = __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi");
    return have;
}
#endif

// 8-bit samples through a table held on the worker's stack (so that the
// stores cannot be taken to alias the table): with byte permutes where the
// processor has them, else eight samples per step in a register.
void MapBytes(uint8_t* p, uint64_t n, const uint8_t* lut) {
    uint64_t i = 0;
#if defined(__x86_64__)
    if (HavePermute()) i = MapBytesPermute(p, n, lut);
#endif
    for (; i + 8 <= n; i += 8) {
        uint64_t v, o = 0;
        std::memcpy(&v, p + i, 8);
        for (int k = 0; k < 8; ++k) o |= static_cast<uint64_t>(lut[(v >> (8 * k)) & 0xFF]) << (8 * k);
        std::memcpy(p + i, &o, 8);
    }
    for (; i < n; ++i) p[i] = lut[p[i]];
}

void MapRow(const SampleTableJob& job, const uint8_t* t8, int32_t y) {
    C_ImgBuff& b = *job.image->buffer;
    const int32_t n = job.x1 - job.x0 + 1;
    const uint64_t samples = static_cast<uint64_t>(n) * (b.format <= kImgGray32 ? 1u : 3u);
    const uint16_t* t16 = job.table16;
    switch (b.format) {
        case kImgGray8:
        case kImgRgb8:
            MapBytes(b.PixelAt(job.x0, y), samples, t8);
            return;
        case kImgGray16:
        case kImgRgb16: {
            uint16_t* p = reinterpret_cast<uint16_t*>(b.PixelAt(job.x0, y));
            for (uint64_t i = 0; i < samples; ++i) p[i] = t16[p[i]];
            return;
        }
        case kImgGray32:
        case kImgRgb32: {
            // Read as the high 16 bits, written back widened (x 65537).
            uint32_t* p = reinterpret_cast<uint32_t*>(b.PixelAt(job.x0, y));
            for (uint64_t i = 0; i < samples; ++i) p[i] = t16[p[i] >> 16] * 65537u;
            return;
        }
        case kImgCmyk8:
            for (int32_t x = job.x0; x <= job.x1; ++x) {
                uint8_t r, g, bl;
                b.GetPixelRgb8(x, y, &r, &g, &bl);
                b.SetPixelRgb8(x, y, t8[r], t8[g], t8[bl]);
            }
            return;
        default:  // XYZ, HSV16
            for (int32_t x = job.x0; x <= job.x1; ++x) {
                uint16_t r, g, bl;
                b.GetPixelRgb16(x, y, &r, &g, &bl);
                b.SetPixelRgb16(x, y, t16[r], t16[g], t16[bl]);
            }
            return;
    }
}

}  // namespace

int32_t ImgApplySampleTables(CImgBuff* image, const uint8_t* table8, const uint16_t* table16, const ImgRect* roi) {
    if (!image || !image->buffer || !table8 || !table16) return 0;
    ImgRect r;
    if (!ImgGetRoi(&r, image, roi)) return 0;
    const SampleTableJob job{image, r.x0, r.y0, r.x1, r.y1, table8, table16};
    auto rows = [&job](uint64_t first, uint64_t count) {
        uint8_t t8[256];
        std::memcpy(t8, job.table8, sizeof t8);
        for (uint64_t i = first; i < first + count; ++i) MapRow(job, t8, job.y0 + static_cast<int32_t>(i));
    };
    PoolParallelRun(static_cast<uint64_t>(r.y1 - r.y0 + 1), rows);
    return 1;
}
