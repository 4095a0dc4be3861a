#include "image/kernels/negative.h"

#include "image/kernels/kernel_frame.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

// The complement of n bytes, in the widest vectors the processor has.
#if defined(__x86_64__)
__attribute__((target("avx512f,avx512bw"))) uint64_t NegateBytes512(uint8_t* p, uint64_t n) {
    const __m512i ones = _mm512_set1_epi32(-1);
    uint64_t i = 0;
    for (; i + 256 <= n; i += 256) {
        const __m512i a = _mm512_loadu_si512(p + i), b = _mm512_loadu_si512(p + i + 64);
        const __m512i c = _mm512_loadu_si512(p + i + 128), d = _mm512_loadu_si512(p + i + 192);
        _mm512_storeu_si512(p + i, _mm512_xor_si512(a, ones));
        _mm512_storeu_si512(p + i + 64, _mm512_xor_si512(b, ones));
        _mm512_storeu_si512(p + i + 128, _mm512_xor_si512(c, ones));
        _mm512_storeu_si512(p + i + 192, _mm512_xor_si512(d, ones));
    }
    for (; i + 64 <= n; i += 64) _mm512_storeu_si512(p + i, _mm512_xor_si512(_mm512_loadu_si512(p + i), ones));
    return i;
}

bool HaveAvx512() {
    static const bool have = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    return have;
}
#endif

KV_KERNEL_CLONES void NegateBytesFrom(uint8_t* p, uint64_t i, uint64_t n) {
    for (; i < n; ++i) p[i] = static_cast<uint8_t>(~p[i]);
}

void NegateBytes(uint8_t* p, uint64_t n) {
    uint64_t i = 0;
#if defined(__x86_64__)
    if (HaveAvx512()) i = NegateBytes512(p, n);
#endif
    NegateBytesFrom(p, i, n);
}

// Grey and RGB at any depth: the complement of every channel is the
// complement of every byte.
bool BytewiseFormat(int32_t format) { return format != kImgCmyk8 && format != kImgHsv16 && format != kImgXyz; }

struct NegateJob {
    CImgBuff* image;
    int32_t x0, y0, x1, y1;
};

void NegateRow(const NegateJob& job, int32_t y) {
    C_ImgBuff& b = *job.image->buffer;
    switch (b.format) {
        case kImgCmyk8:
            for (int32_t x = job.x0; x <= job.x1; ++x) {
                uint8_t r, g, bl;
                b.GetPixelRgb8(x, y, &r, &g, &bl);
                b.SetPixelRgb8(x, y, 255 - r, 255 - g, 255 - bl);
            }
            return;
        case kImgHsv16:
            for (int32_t x = job.x0; x <= job.x1; ++x) {
                uint16_t r, g, bl;
                b.GetPixelRgb16(x, y, &r, &g, &bl);
                b.SetPixelRgb16(x, y, 65535 - r, 65535 - g, 65535 - bl);
            }
            return;
        case kImgXyz:
            for (int32_t x = job.x0; x <= job.x1; ++x) {
                uint32_t r, g, bl;
                b.GetPixelRgb32(x, y, &r, &g, &bl);
                b.SetPixelRgb32(x, y, ~r, ~g, ~bl);
            }
            return;
        default:
            NegateBytes(b.PixelAt(job.x0, y), static_cast<uint64_t>(job.x1 - job.x0 + 1) * static_cast<uint64_t>(b.BytesPerPixel()));
            return;
    }
}

}  // namespace

int32_t ImgNegate(CImgBuff* image, const ImgRect* roi) {
    if (!image || !image->buffer) return 0;
    ImgRect r;
    if (!ImgGetRoi(&r, image, roi)) return 0;
    const NegateJob job{image, r.x0, r.y0, r.x1, r.y1};
    C_ImgBuff& b = *image->buffer;
    if (BytewiseFormat(b.format) && r.x0 == 0 && r.x1 == b.width - 1) {
        // Whole rows lie back to back: each work range is one block.
        const uint64_t rowBytes = static_cast<uint64_t>(b.width) * static_cast<uint64_t>(b.BytesPerPixel());
        auto rows = [&](uint64_t first, uint64_t count) { NegateBytes(b.PixelAt(0, r.y0 + static_cast<int32_t>(first)), count * rowBytes); };
        PoolParallelRun(static_cast<uint64_t>(r.y1 - r.y0 + 1), rows);
        return 1;
    }
    ImgForEachRegionRow(r, [&](int32_t y) { NegateRow(job, y); });
    return 1;
}
