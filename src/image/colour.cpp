// Colour arithmetic on plain numbers: sRGB <-> XYZ (D65), L*a*b*, HSV at
// 16 and 32 bits, the 32-bit component encodings and wavelength -> XYZ.
#include "image/colour.h"

#include <cmath>
#include <cstring>

const double g_LabInverseDelta = 6.0 / 29.0;
const double g_LabInverseOffset = 4.0 / 29.0;
const double g_LabInverseSlope = 108.0 / 841.0;

namespace {

constexpr double kU32Max = 4294967295.0;
constexpr double kTwoPi = 6.283185307179586;

// Reference white on the 0..100 scale.
constexpr double kWhiteX = 95.0489;
constexpr double kWhiteY = 100.0;
constexpr double kWhiteZ = 108.884;

double Linearise(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }

// Companding followed by the clamp to [0, 1]; NaN counts as 0.
double Compand(double v) {
    double c = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 0.4166666666666667) - 0.055;
    if (!(c > 0.0)) return 0.0;
    return c > 1.0 ? 1.0 : c;
}

double LabF(double t) {
    constexpr double kEpsilon = 216.0 / 24389.0;
    return t > kEpsilon ? std::pow(t, 1.0 / 3.0) : t / g_LabInverseSlope + g_LabInverseOffset;
}

double LabFInverse(double t) {
    return t > g_LabInverseDelta ? t * t * t : (t - g_LabInverseOffset) * g_LabInverseSlope;
}

// Truncation toward zero into 0 .. maximum, decided in double so that no
// out-of-range or NaN value reaches the integer conversion.
uint32_t TruncU32(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= kU32Max) return 4294967295u;
    return static_cast<uint32_t>(v);
}

uint16_t RoundU16(double v) {
    v += 0.5;
    if (!(v > 0.0)) return 0;
    if (v >= 65535.0) return 65535;
    return static_cast<uint16_t>(v);
}

uint32_t RoundU32(double v) { return TruncU32(v + 0.5); }

uint32_t Encode(double v, double lo, double hi) {
    if (!(v > lo)) v = lo;  // NaN encodes as the low end
    if (v > hi) v = hi;
    return TruncU32((v - lo) / (hi - lo) * kU32Max);
}

double Decode(uint32_t code, double lo, double hi) { return code / kU32Max * (hi - lo) + lo; }

template <class T>
void Put(T* out, T v) {
    if (out) *out = v;
}

}  // namespace

void ImgSrgbToXyz(double r, double g, double b, double* x, double* y, double* z) {
    double lr = Linearise(r), lg = Linearise(g), lb = Linearise(b);
    *x = 0.4124564 * lr + 0.3575761 * lg + 0.1804375 * lb;
    *y = 0.2126729 * lr + 0.7151522 * lg + 0.072175 * lb;
    *z = 0.0193339 * lr + 0.119192 * lg + 0.9503041 * lb;
}

void ImgXyzToLinearRgb(double x, double y, double z, double* r, double* g, double* b) {
    *r = 3.2404542 * x - 1.5371385 * y - 0.4985314 * z;
    *g = -0.969266 * x + 1.8760108 * y + 0.041556 * z;
    *b = 0.0556434 * x - 0.2040259 * y + 1.0572252 * z;
}

double ImgSrgbCompand(double v) { return Compand(v); }

void ImgXyzToSrgb(double x, double y, double z, double* r, double* g, double* b) {
    double lin[3];
    ImgXyzToLinearRgb(x, y, z, &lin[0], &lin[1], &lin[2]);
    *r = Compand(lin[0]);
    *g = Compand(lin[1]);
    *b = Compand(lin[2]);
}

namespace {

uint8_t Srgb8Exact(double v) { return static_cast<uint8_t>(TruncU32(Compand(v) * kU32Max) >> 24); }

// The byte is a non-decreasing function of v, so it changes at 255 linear
// values. thresholds[i] is the least double where it reaches i, found by
// bisection over the ordered bit patterns of the doubles in [0, 1], so the
// table gives exactly the byte the curve gives. bucket[] holds the byte at
// the start of each of 4096 equal steps of v; the curve rises at most 3307
// bytes per unit, so at most one threshold lies inside a step.
struct Srgb8Table {
    double thresholds[257];
    uint8_t bucket[4097];
    Srgb8Table() {
        thresholds[0] = -1.0;
        for (int i = 1; i <= 255; ++i) {
            uint64_t lo = 0, hi = 0x3FF0000000000000ull;  // the bits of 0.0 and 1.0
            while (lo < hi) {
                const uint64_t mid = lo + (hi - lo) / 2;
                double v;
                std::memcpy(&v, &mid, sizeof v);
                if (Srgb8Exact(v) >= i) hi = mid;
                else lo = mid + 1;
            }
            std::memcpy(&thresholds[i], &lo, sizeof lo);
        }
        thresholds[256] = 2.0;
        for (int k = 0; k <= 4096; ++k) bucket[k] = Srgb8Exact(k / 4096.0);
    }
};

const Srgb8Table& Srgb8() {
    static const Srgb8Table table;
    return table;
}

}  // namespace

uint8_t ImgLinearToSrgb8(double v) {
    if (!(v > 0.0)) return Srgb8Exact(v);
    if (v >= 1.0) return 255;
    const Srgb8Table& t = Srgb8();
    uint32_t b = t.bucket[static_cast<int>(v * 4096.0)];
    while (b < 255 && v >= t.thresholds[b + 1]) ++b;
    return static_cast<uint8_t>(b);
}

void ImgLchToLab(double l, double c, double h, double* outL, double* a, double* b) {
    if (!std::isfinite(h)) h = 0.0;
    if (std::fabs(h) > 64.0 * 6.2831853) h = std::fmod(h, 6.2831853);
    while (h > 3.14159265) h -= 6.2831853;
    while (h < -3.14159265) h += 6.2831853;
    if (c < 0.0) c = 0.0;
    Put(outL, l);
    Put(a, c * std::cos(h));
    Put(b, c * std::sin(h));
}

int32_t ImgXyzToLab(double x, double y, double z, double* l, double* a, double* bb) {
    double fx = LabF(x * 100.0 / kWhiteX);
    double fy = LabF(y * 100.0 / kWhiteY);
    double fz = LabF(z * 100.0 / kWhiteZ);
    Put(l, 116.0 * fy - 16.0);
    Put(a, 500.0 * (fx - fy));
    Put(bb, 200.0 * (fy - fz));
    return 1;
}

void ImgLabToXyz(double l, double a, double bb, double* x, double* y, double* z) {
    double fy = (l + 16.0) / 116.0;
    double fx = fy + a / 500.0;
    double fz = fy - bb / 200.0;
    Put(x, LabFInverse(fx) * kWhiteX / 100.0);
    Put(y, LabFInverse(fy));
    Put(z, LabFInverse(fz) * kWhiteZ / 100.0);
}

void ImgRgb32ToXyz(uint32_t r, uint32_t g, uint32_t b, double* x, double* y, double* z) {
    double cx, cy, cz;
    ImgSrgbToXyz(r / kU32Max, g / kU32Max, b / kU32Max, &cx, &cy, &cz);
    Put(x, cx);
    Put(y, cy);
    Put(z, cz);
}

void ImgXyzToRgb32(double x, double y, double z, uint32_t* r, uint32_t* g, uint32_t* b) {
    double cr, cg, cb;
    ImgXyzToSrgb(x, y, z, &cr, &cg, &cb);
    Put(r, TruncU32(cr * kU32Max));
    Put(g, TruncU32(cg * kU32Max));
    Put(b, TruncU32(cb * kU32Max));
}

void ImgRgb16ToHsv16(uint16_t r, uint16_t g, uint16_t b, uint16_t* h, uint16_t* s, uint16_t* v) {
    int32_t mx = r > g ? r : g;
    if (b > mx) mx = b;
    int32_t mn = r < g ? r : g;
    if (b < mn) mn = b;
    int32_t d = mx - mn;
    int32_t hue = 0;
    if (d != 0) {
        if (r == mx) {
            hue = ((g - b) * 10922 / d + 65535) % 65535;
        } else if (g == mx) {
            hue = (b - r) * 10922 / d + 21844;
        } else {
            hue = (r - g) * 10922 / d + 43688;
        }
    }
    Put(h, static_cast<uint16_t>(hue));
    Put(s, static_cast<uint16_t>(mx == 0 ? 0u : static_cast<uint32_t>(d) * 65534u / static_cast<uint32_t>(mx)));
    Put(v, static_cast<uint16_t>(mx));
}

void ImgHsv16ToRgb16(uint16_t h, uint16_t s, uint16_t v, uint16_t* r, uint16_t* g, uint16_t* b) {
    if (s == 0) {
        Put(r, v);
        Put(g, v);
        Put(b, v);
        return;
    }
    double hh = h / 10922.0;
    int i = static_cast<int>(hh);
    double f = hh - i;
    double ss = s / 65534.0;
    uint16_t p = RoundU16((1.0 - ss) * v);
    uint16_t q = RoundU16((1.0 - ss * f) * v);
    uint16_t t = RoundU16((1.0 - (1.0 - f) * ss) * v);
    uint16_t c[6][3] = {{v, t, p}, {q, v, p}, {p, v, t}, {p, q, v}, {t, p, v}, {v, p, q}};
    const uint16_t* o = c[i % 6];
    Put(r, o[0]);
    Put(g, o[1]);
    Put(b, o[2]);
}

void ImgRgb32ToHsv32(uint32_t r, uint32_t g, uint32_t b, uint32_t* h, uint32_t* s, uint32_t* v) {
    uint32_t mx = r > g ? r : g;
    if (b > mx) mx = b;
    uint32_t mn = r < g ? r : g;
    if (b < mn) mn = b;
    double d = static_cast<double>(mx) - mn;
    uint32_t hue = 0;
    if (mx != mn) {
        if (r == mx) {
            // The sum lies in (0, 2 x 4294967295), so the truncation is in range.
            uint64_t t = static_cast<uint64_t>((static_cast<double>(g) - b) * 715827882.0 / d + kU32Max);
            hue = static_cast<uint32_t>(t % 4294967295u);
        } else if (g == mx) {
            int64_t t = static_cast<int64_t>((static_cast<double>(b) - r) * 715827882.0 / d);
            hue = static_cast<uint32_t>(t + 1431655764);
        } else {
            int64_t t = static_cast<int64_t>((static_cast<double>(r) - g) * 715827882.0 / d);
            hue = static_cast<uint32_t>(t + 2863311528);
        }
    }
    Put(h, hue);
    Put(s, mx == 0 ? 0u : TruncU32(d * 4294967294.0 / mx));
    Put(v, mx);
}

void ImgHsv32ToRgb32(uint32_t h, uint32_t s, uint32_t v, uint32_t* r, uint32_t* g, uint32_t* b) {
    if (s == 0) {
        Put(r, v);
        Put(g, v);
        Put(b, v);
        return;
    }
    double hh = h / 715827882.0;
    int i = static_cast<int>(hh);
    double f = hh - i;
    double ss = s / 4294967294.0;
    uint32_t p = RoundU32((1.0 - ss) * v);
    uint32_t q = RoundU32((1.0 - ss * f) * v);
    uint32_t t = RoundU32((1.0 - (1.0 - f) * ss) * v);
    uint32_t c[6][3] = {{v, t, p}, {q, v, p}, {p, v, t}, {p, q, v}, {t, p, v}, {v, p, q}};
    const uint32_t* o = c[i % 6];
    Put(r, o[0]);
    Put(g, o[1]);
    Put(b, o[2]);
}

uint32_t ImgEncodeXyzU32(double v) { return Encode(v, 0.0, 1.1); }
uint32_t ImgEncodeLightnessU32(double v) { return Encode(v, 0.0, 100.0); }
uint32_t ImgEncodeAbU32(double v) { return Encode(v, -128.0, 127.0); }
uint32_t ImgEncodeChromaU32(double v) { return Encode(v, 0.0, 135.0); }

uint32_t ImgEncodeHueU32(double v) {
    // The hue is wrapped, not clamped. Angles far outside one turn are first
    // reduced with fmod so that the step-wise wrap below stays short; angles
    // within a few turns wrap exactly as by repeated steps. NaN and infinity
    // have no angle and encode as 0.
    if (!std::isfinite(v)) return 0;
    if (std::fabs(v) > 64.0 * kTwoPi) v = std::fmod(v, kTwoPi);
    while (v > kTwoPi) v -= kTwoPi;
    while (v < 0.0) v += kTwoPi;
    return TruncU32(v / kTwoPi * kU32Max);
}

double ImgDecodeXyzU32(uint32_t code) { return Decode(code, 0.0, 1.1); }
double ImgDecodeLightnessU32(uint32_t code) { return Decode(code, 0.0, 100.0); }
double ImgDecodeAbU32(uint32_t code) { return Decode(code, -128.0, 127.0); }
double ImgDecodeChromaU32(uint32_t code) { return Decode(code, 0.0, 135.0); }
double ImgDecodeHueU32(uint32_t code) { return Decode(code, 0.0, kTwoPi); }

void ImgWavelengthToXyz(double nm, double* x, double* y, double* z) {
    double cx = 0.0, cy = 0.0, cz = 0.0;
    // Beyond 831 nm (and for NaN) every entry involved is missing.
    if (nm >= 0.0 && nm < 831.0) {
        uint32_t i = static_cast<uint32_t>(nm);
        auto entry = [](const double* table, int64_t k) { return k >= 0 && k < kCieTableSize ? table[k] : 0.0; };
        int64_t k = static_cast<int64_t>(i) - 360;
        if (nm == i) {
            cx = entry(g_CieXBar, k);
            cy = entry(g_CieYBar, k);
            cz = entry(g_CieZBar, k);
        } else {
            double f = nm - i;
            cx = entry(g_CieXBar, k) * (1.0 - f) + entry(g_CieXBar, k + 1) * f;
            cy = entry(g_CieYBar, k) * (1.0 - f) + entry(g_CieYBar, k + 1) * f;
            cz = entry(g_CieZBar, k) * (1.0 - f) + entry(g_CieZBar, k + 1) * f;
        }
    }
    Put(x, cx);
    Put(y, cy);
    Put(z, cz);
}
