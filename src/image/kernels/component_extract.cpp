#include "image/kernels/component_extract.h"

#include <algorithm>
#include <cmath>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "image/colour.h"
#include "image/kernels/kernel_frame.h"

namespace {

constexpr double kTwoPi = 6.283185307179586;

struct ComponentJob {
    CImgBuff* image;
    int32_t colourise;
    int32_t code;
    int32_t x0, y0, x1, y1;
};

// The accessors of a depth group.
template <int Bits>
struct Group;

template <>
struct Group<8> {
    static constexpr uint32_t kTop = 255;
    static uint32_t Grey(const C_ImgBuff& b, int32_t x, int32_t y) {
        uint8_t v = 0;
        b.GetPixelGray8(x, y, &v);
        return v;
    }
    static void Rgb(const C_ImgBuff& b, int32_t x, int32_t y, uint32_t* c) {
        uint8_t r = 0, g = 0, bl = 0;
        b.GetPixelRgb8(x, y, &r, &g, &bl);
        c[0] = r, c[1] = g, c[2] = bl;
    }
    static void SetGrey(C_ImgBuff& b, int32_t x, int32_t y, uint32_t v) { b.SetPixelGray8(x, y, static_cast<uint8_t>(v)); }
    static void SetRgb(C_ImgBuff& b, int32_t x, int32_t y, uint32_t r, uint32_t g, uint32_t bl) {
        b.SetPixelRgb8(x, y, static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(bl));
    }
};

template <>
struct Group<16> {
    static constexpr uint32_t kTop = 65535;
    static uint32_t Grey(const C_ImgBuff& b, int32_t x, int32_t y) {
        uint16_t v = 0;
        b.GetPixelGray16(x, y, &v);
        return v;
    }
    static void Rgb(const C_ImgBuff& b, int32_t x, int32_t y, uint32_t* c) {
        uint16_t r = 0, g = 0, bl = 0;
        b.GetPixelRgb16(x, y, &r, &g, &bl);
        c[0] = r, c[1] = g, c[2] = bl;
    }
    static void SetGrey(C_ImgBuff& b, int32_t x, int32_t y, uint32_t v) { b.SetPixelGray16(x, y, static_cast<uint16_t>(v)); }
    static void SetRgb(C_ImgBuff& b, int32_t x, int32_t y, uint32_t r, uint32_t g, uint32_t bl) {
        b.SetPixelRgb16(x, y, static_cast<uint16_t>(r), static_cast<uint16_t>(g), static_cast<uint16_t>(bl));
    }
};

template <>
struct Group<32> {
    static constexpr uint32_t kTop = 4294967295u;
    static uint32_t Grey(const C_ImgBuff& b, int32_t x, int32_t y) {
        uint32_t v = 0;
        b.GetPixelGray32(x, y, &v);
        return v;
    }
    static void Rgb(const C_ImgBuff& b, int32_t x, int32_t y, uint32_t* c) { b.GetPixelRgb32(x, y, &c[0], &c[1], &c[2]); }
    static void SetGrey(C_ImgBuff& b, int32_t x, int32_t y, uint32_t v) { b.SetPixelGray32(x, y, v); }
    static void SetRgb(C_ImgBuff& b, int32_t x, int32_t y, uint32_t r, uint32_t g, uint32_t bl) { b.SetPixelRgb32(x, y, r, g, bl); }
};

// Any format of the group, pixel by pixel through the accessors.
template <int Bits>
void GenericRow(const ComponentJob& job, int32_t y) {
    using G = Group<Bits>;
    constexpr uint32_t top = G::kTop;
    C_ImgBuff& b = *job.image->buffer;
    const int32_t code = job.code;
    const bool colour = job.colourise != 0;
    for (int32_t x = job.x0; x <= job.x1; ++x) {
        uint32_t c[3];
        switch (code) {
            case kComponentGrey:
                G::SetGrey(b, x, y, G::Grey(b, x, y));
                break;
            case kComponentRed:
            case kComponentGreen:
            case kComponentBlue: {
                G::Rgb(b, x, y, c);
                const int ch = code - kComponentRed;
                if (colour) G::SetRgb(b, x, y, ch == 0 ? c[0] : 0, ch == 1 ? c[1] : 0, ch == 2 ? c[2] : 0);
                else G::SetGrey(b, x, y, c[ch]);
                break;
            }
            case kComponentHue:
            case kComponentSaturation:
            case kComponentValue:
                if constexpr (Bits < 32) {
                    uint16_t h = 0, s = 0, v = 0;
                    b.GetPixelHsv16(x, y, &h, &s, &v);
                    if (code == kComponentValue || !colour) b.SetPixelGray16(x, y, code == kComponentHue ? h : code == kComponentSaturation ? s : v);
                    else if (code == kComponentHue) b.SetPixelHsv16(x, y, h, 65535, 65535);
                    else b.SetPixelHsv16(x, y, 0, s, 65535);
                } else {
                    uint32_t h, s, v;
                    G::Rgb(b, x, y, c);
                    ImgRgb32ToHsv32(c[0], c[1], c[2], &h, &s, &v);
                    if (code == kComponentValue || !colour) {
                        b.SetPixelGray32(x, y, code == kComponentHue ? h : code == kComponentSaturation ? s : v);
                    } else {
                        ImgHsv32ToRgb32(code == kComponentHue ? h : 0, code == kComponentHue ? top : s, top, &c[0], &c[1], &c[2]);
                        b.SetPixelRgb32(x, y, c[0], c[1], c[2]);
                    }
                }
                break;
            case kComponentComplementRed:
            case kComponentComplementGreen:
            case kComponentComplementBlue: {
                G::Rgb(b, x, y, c);
                const int ch = code - kComponentComplementRed;
                if (colour) G::SetRgb(b, x, y, ch == 0 ? c[0] : top, ch == 1 ? c[1] : top, ch == 2 ? c[2] : top);
                else G::SetGrey(b, x, y, top - c[ch]);
                break;
            }
            case kComponentCyan:
            case kComponentMagenta:
            case kComponentYellow:
            case kComponentBlack: {
                const int ink = code - kComponentCyan;
                if constexpr (Bits == 8) {
                    uint8_t k[4] = {0, 0, 0, 0};
                    b.GetPixelCmyk8(x, y, &k[0], &k[1], &k[2], &k[3]);
                    if (colour) b.SetPixelCmyk8(x, y, ink == 0 ? k[0] : 0, ink == 1 ? k[1] : 0, ink == 2 ? k[2] : 0, ink == 3 ? k[3] : 0);
                    else G::SetGrey(b, x, y, k[ink]);
                } else {
                    // K takes all of the part common to the three inks.
                    G::Rgb(b, x, y, c);
                    const uint32_t mx = std::max(c[0], std::max(c[1], c[2]));
                    const uint32_t v = ink == 3 ? top - mx : mx - c[ink];
                    if (!colour) G::SetGrey(b, x, y, v);
                    else if (ink == 3) G::SetRgb(b, x, y, top - v, top - v, top - v);
                    else G::SetRgb(b, x, y, ink == 0 ? top - v : top, ink == 1 ? top - v : top, ink == 2 ? top - v : top);
                }
                break;
            }
            default: {
                double xyz[3], l, a, bb;
                b.GetPixelXyz(x, y, &xyz[0], &xyz[1], &xyz[2]);
                if (code <= kComponentZ) {
                    const int ch = code - kComponentX;
                    if (colour) b.SetPixelXyz(x, y, ch == 0 ? xyz[0] : 0.0, ch == 1 ? xyz[1] : 0.0, ch == 2 ? xyz[2] : 0.0);
                    else b.SetPixelGray32(x, y, ImgEncodeXyzU32(xyz[ch]));
                    break;
                }
                ImgXyzToLab(xyz[0], xyz[1], xyz[2], &l, &a, &bb);
                switch (code) {
                    case kComponentLightness:
                        if (colour) b.SetPixelLab(x, y, l, 0.0, 0.0);
                        else b.SetPixelGray32(x, y, ImgEncodeLightnessU32(l));
                        break;
                    case kComponentA:
                        if (colour) b.SetPixelLab(x, y, 50.0, a, 0.0);
                        else b.SetPixelGray32(x, y, ImgEncodeAbU32(a));
                        break;
                    case kComponentB:
                        if (colour) b.SetPixelLab(x, y, 50.0, 0.0, bb);
                        else b.SetPixelGray32(x, y, ImgEncodeAbU32(bb));
                        break;
                    case kComponentChroma: {
                        const double chroma = std::sqrt(a * a + bb * bb);
                        if (colour) b.SetPixelLch(x, y, 100.0, chroma, 0.0);
                        else b.SetPixelGray32(x, y, ImgEncodeChromaU32(chroma));
                        break;
                    }
                    default: {
                        double h = std::atan2(bb, a);  // NaN stays NaN and encodes as 0
                        while (h > kTwoPi) h -= kTwoPi;
                        while (h < 0.0) h += kTwoPi;
                        if (colour) b.SetPixelLch(x, y, 50.0, 135.0, h);
                        else b.SetPixelGray32(x, y, ImgEncodeHueU32(h));
                        break;
                    }
                }
                break;
            }
        }
    }
}

// ---- RGB8 rows in place ----

// The 8-bit grey of L*: the top byte of the encoded lightness of the Y of
// an sRGB colour, which depends on Y alone and grows with it. Y is summed
// from per-channel terms exactly as the sRGB conversion sums them; the byte
// comes from a table of Y intervals, each holding at most one step of the
// byte, with the step's Y found by bisection on the same arithmetic. Y
// within a hair of a step or an interval's start is converted in full.
class LightnessTable {
public:
    static constexpr int kBins = 4096;

    LightnessTable() {
        for (int v = 0; v < 256; ++v) {
            double x, z;
            ImgSrgbToXyz(v / 255.0, 0.0, 0.0, &x, &term_[0][v], &z);
            ImgSrgbToXyz(0.0, v / 255.0, 0.0, &x, &term_[1][v], &z);
            ImgSrgbToXyz(0.0, 0.0, v / 255.0, &x, &term_[2][v], &z);
        }
        const double top = Y(255, 255, 255);
        for (int i = 0; i < kBins; ++i) {
            const double lo = static_cast<double>(i) / kBins;
            const double hi = i + 1 == kBins ? std::max(top, 1.0) : static_cast<double>(i + 1) / kBins;
            base_[i] = Byte(lo);
            step_[i] = INFINITY;
            slow_[i] = 0;
            const uint8_t end = Byte(hi);
            if (end == base_[i]) continue;
            if (end != base_[i] + 1) {
                slow_[i] = 1;
                continue;
            }
            // Smallest Y in (lo, hi] whose byte is past the base.
            double a = lo, b = hi;
            while (true) {
                const double m = a + (b - a) / 2;
                if (m <= a || m >= b) break;
                (Byte(m) > base_[i] ? b : a) = m;
            }
            step_[i] = b;
        }
    }

    double Y(uint8_t r, uint8_t g, uint8_t b) const { return term_[0][r] + term_[1][g] + term_[2][b]; }

    static uint8_t Byte(double y) {
        double l;
        ImgXyzToLab(0.0, y, 0.0, &l, nullptr, nullptr);
        return static_cast<uint8_t>(ImgEncodeLightnessU32(l) >> 24);
    }

    uint8_t Lookup(double y) const {
        const int i = std::min(static_cast<int>(y * kBins), kBins - 1);
        const double lo = static_cast<double>(i) / kBins, step = step_[i];
        if (slow_[i] || y - lo <= 1e-12 || std::fabs(y - step) <= 1e-12) return Byte(y);
        return static_cast<uint8_t>(base_[i] + (y >= step ? 1 : 0));
    }

private:
    double term_[3][256];
    double step_[kBins];
    uint8_t base_[kBins];
    uint8_t slow_[kBins];
};

const LightnessTable& Lightness() {
    static const LightnessTable* table = new LightnessTable;
    return *table;
}


#if defined(__x86_64__)
#define KV_AVX2 __attribute__((target("avx2")))

bool HaveAvx2() {
    static const bool have = __builtin_cpu_supports("avx2");
    return have;
}

// Byte shuffles between 48 interleaved RGB bytes and 16 bytes of one
// channel: gather[ch][j] takes channel ch's bytes out of block j, spread[j]
// repeats 16 grey bytes over block j.
struct Rgb8Masks {
    alignas(16) int8_t gather[3][3][16];
    alignas(16) int8_t spread[3][16];
    Rgb8Masks() {
        for (int ch = 0; ch < 3; ++ch)
            for (int j = 0; j < 3; ++j)
                for (int i = 0; i < 16; ++i) {
                    const int k = 3 * i + ch - 16 * j;
                    gather[ch][j][i] = k >= 0 && k < 16 ? static_cast<int8_t>(k) : int8_t(-128);
                }
        for (int j = 0; j < 3; ++j)
            for (int i = 0; i < 16; ++i) spread[j][i] = static_cast<int8_t>((16 * j + i) / 3);
    }
};

const Rgb8Masks& Masks() {
    static const Rgb8Masks masks;
    return masks;
}

KV_AVX2 inline __m128i Mask(const int8_t* m) { return _mm_load_si128(reinterpret_cast<const __m128i*>(m)); }

KV_AVX2 inline void Gather(const uint8_t* p, const Rgb8Masks& k, __m128i* c) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)),
                  d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
    for (int ch = 0; ch < 3; ++ch)
        c[ch] = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, Mask(k.gather[ch][0])), _mm_shuffle_epi8(b, Mask(k.gather[ch][1]))),
                             _mm_shuffle_epi8(d, Mask(k.gather[ch][2])));
}

KV_AVX2 inline void Spread(uint8_t* p, __m128i v, const Rgb8Masks& k) {
    for (int j = 0; j < 3; ++j) _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16 * j), _mm_shuffle_epi8(v, Mask(k.spread[j])));
}

// 16 words of the 32-bit lanes lo (pixels 0-7) and hi (8-15), saturated.
KV_AVX2 inline __m256i Words(__m256i lo, __m256i hi) { return _mm256_permute4x64_epi64(_mm256_packus_epi32(lo, hi), 0xD8); }
KV_AVX2 inline __m128i Bytes(__m256i words) {
    return _mm256_castsi256_si128(_mm256_permute4x64_epi64(_mm256_packus_epi16(words, words), 0xD8));
}

// Grey (299 R + 587 G + 114 B + 500) / 1000 of 16 pixels per step, as
// ((x >> 3) / 125): x >> 3 fits 15 bits, and its quotient by 125 is
// (y x 33555) >> 22 exactly for every y below 32768.
KV_AVX2 int32_t GreyRgb8Avx2(uint8_t* p, int32_t n) {
    const Rgb8Masks& k = Masks();
    const __m256i rg = _mm256_set1_epi32(299 | (587 << 16)), bc = _mm256_set1_epi32(114 | (500 << 16));
    const __m256i one = _mm256_set1_epi16(1), magic = _mm256_set1_epi16(static_cast<int16_t>(33555));
    int32_t i = 0;
    for (; i + 16 <= n; i += 16, p += 48) {
        __m128i c[3];
        Gather(p, k, c);
        const __m256i r = _mm256_cvtepu8_epi16(c[0]), g = _mm256_cvtepu8_epi16(c[1]), b = _mm256_cvtepu8_epi16(c[2]);
        const __m256i lo = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(r, g), rg), _mm256_madd_epi16(_mm256_unpacklo_epi16(b, one), bc));
        const __m256i hi = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(r, g), rg), _mm256_madd_epi16(_mm256_unpackhi_epi16(b, one), bc));
        // The unpacks and the pack work within 128-bit lanes alike, so the
        // pack restores the pixel order.
        const __m256i y = _mm256_packus_epi32(_mm256_srli_epi32(lo, 3), _mm256_srli_epi32(hi, 3));
        const __m256i v = _mm256_srli_epi16(_mm256_mulhi_epu16(y, magic), 6);
        Spread(p, Bytes(v), k);
    }
    return i;
}

// Saturation (max - min) x 65534 / max, top byte, 16 pixels per step: the
// dividend is exact in float, so the float quotient is the true one or one
// above it (corrected by a multiplication).
KV_AVX2 inline __m256i SaturationLanes(__m128i mx8, __m128i d8) {
    const __m256i m = _mm256_cvtepu8_epi32(mx8), d = _mm256_cvtepu8_epi32(d8);
    const __m256i a = _mm256_mullo_epi32(d, _mm256_set1_epi32(65534));
    __m256i q = _mm256_cvttps_epi32(_mm256_div_ps(_mm256_cvtepi32_ps(a), _mm256_cvtepi32_ps(m)));
    q = _mm256_add_epi32(q, _mm256_cmpgt_epi32(_mm256_mullo_epi32(q, m), a));
    q = _mm256_and_si256(q, _mm256_cmpgt_epi32(m, _mm256_setzero_si256()));
    return _mm256_srli_epi32(q, 8);
}

KV_AVX2 int32_t SaturationRgb8Avx2(uint8_t* p, int32_t n) {
    const Rgb8Masks& k = Masks();
    int32_t i = 0;
    for (; i + 16 <= n; i += 16, p += 48) {
        __m128i c[3];
        Gather(p, k, c);
        const __m128i mx = _mm_max_epu8(c[0], _mm_max_epu8(c[1], c[2])), mn = _mm_min_epu8(c[0], _mm_min_epu8(c[1], c[2]));
        const __m128i d = _mm_sub_epi8(mx, mn);
        const __m256i lo = SaturationLanes(mx, d), hi = SaturationLanes(_mm_srli_si128(mx, 8), _mm_srli_si128(d, 8));
        Spread(p, Bytes(Words(lo, hi)), k);
    }
    return i;
}
#endif

// Codes with a direct RGB8 rule; false sends the row to the generic path.
KV_KERNEL_CLONES bool Rgb8Row(const ComponentJob& job, int32_t y) {
    uint8_t* p = job.image->buffer->PixelAt(job.x0, y);
    const int32_t n = job.x1 - job.x0 + 1;
    const bool colour = job.colourise != 0;
    switch (job.code) {
        case kComponentGrey: {
            int32_t i = 0;
#if defined(__x86_64__)
            if (HaveAvx2()) i = GreyRgb8Avx2(p, n), p += 3 * i;
#endif
            for (; i < n; ++i, p += 3) p[0] = p[1] = p[2] = static_cast<uint8_t>(ImgGrayWeighted32(p[0], p[1], p[2]));
            return true;
        }
        case kComponentRed:
        case kComponentGreen:
        case kComponentBlue: {
            const int ch = job.code - kComponentRed;
            if (colour) {
                for (int32_t i = 0; i < n; ++i, p += 3)
                    for (int k = 0; k < 3; ++k) p[k] = k == ch ? p[k] : 0;
            } else {
                for (int32_t i = 0; i < n; ++i, p += 3) p[0] = p[1] = p[2] = p[ch];
            }
            return true;
        }
        case kComponentSaturation:
            if (colour) return false;
            // S of the widened channels is d x 65534 / max of the 8-bit ones.
            {
                int32_t i = 0;
#if defined(__x86_64__)
                if (HaveAvx2()) i = SaturationRgb8Avx2(p, n), p += 3 * i;
#endif
                for (; i < n; ++i, p += 3) {
                const uint32_t mx = std::max(p[0], std::max(p[1], p[2])), mn = std::min(p[0], std::min(p[1], p[2]));
                    p[0] = p[1] = p[2] = static_cast<uint8_t>(mx == 0 ? 0 : ((mx - mn) * 65534u / mx) >> 8);
                }
            }
            return true;
        case kComponentValue:
            for (int32_t i = 0; i < n; ++i, p += 3) p[0] = p[1] = p[2] = std::max(p[0], std::max(p[1], p[2]));
            return true;
        case kComponentComplementRed:
        case kComponentComplementGreen:
        case kComponentComplementBlue: {
            const int ch = job.code - kComponentComplementRed;
            if (colour) {
                for (int32_t i = 0; i < n; ++i, p += 3)
                    for (int k = 0; k < 3; ++k) p[k] = k == ch ? p[k] : 255;
            } else {
                for (int32_t i = 0; i < n; ++i, p += 3) p[0] = p[1] = p[2] = static_cast<uint8_t>(255 - p[ch]);
            }
            return true;
        }
        case kComponentCyan:
        case kComponentMagenta:
        case kComponentYellow:
        case kComponentBlack: {
            if (colour) return false;
            const int ink = job.code - kComponentCyan;
            for (int32_t i = 0; i < n; ++i, p += 3) {
                const uint8_t mx = std::max(p[0], std::max(p[1], p[2]));
                p[0] = p[1] = p[2] = static_cast<uint8_t>(ink == 3 ? 255 - mx : mx - p[ink]);
            }
            return true;
        }
        default:
            return false;
    }
}

void LightnessRgb8Row(const ComponentJob& job, int32_t y) {
    const LightnessTable& t = Lightness();
    uint8_t* p = job.image->buffer->PixelAt(job.x0, y);
    for (int32_t x = job.x0; x <= job.x1; ++x, p += 3) p[0] = p[1] = p[2] = t.Lookup(t.Y(p[0], p[1], p[2]));
}

void ComponentRow(const ComponentJob& job, int32_t y) {
    const int32_t format = job.image->buffer->format;
    if (format == kImgRgb8) {
        if (Rgb8Row(job, y)) return;
        if (job.code == kComponentLightness && !job.colourise) return LightnessRgb8Row(job, y);
    }
    if (ImgFormatIn(ImgFormat8BitMask, format)) GenericRow<8>(job, y);
    else if (ImgFormatIn(ImgFormat16BitMask, format)) GenericRow<16>(job, y);
    else GenericRow<32>(job, y);
}

}  // namespace

int32_t ImgExtractComponent(CImgBuff* image, int32_t code, int32_t colourise, const ImgRect* region) {
    if (!image || !image->buffer || code > kComponentHueAngle) return 0;
    const int32_t format = image->buffer->format;
    const bool mono = format >= kImgGray8 && format <= kImgGray32;
    if (colourise && !(format >= kImgRgb8 && format <= kImgCmyk8)) return 0;
    ImgRect r;
    if (!ImgGetRoi(&r, image, region)) return 0;
    // Grey, R, G, B and V of a grey pixel are the pixel itself.
    if (!colourise && mono &&
        (code == kComponentGrey || code == kComponentRed || code == kComponentGreen || code == kComponentBlue || code == kComponentValue))
        return 1;
    if (code < kComponentGrey) return 0;
    const ComponentJob job{image, colourise, code, r.x0, r.y0, r.x1, r.y1};
    ImgForEachRegionRow(r, [&](int32_t y) { ComponentRow(job, y); });
    return 1;
}
