// Typed pixel access: every value type read from and written to every pixel
// format, with the depth changes and colour rules of the image core.
#include <cmath>
#include <cstring>

#include "image/colour.h"
#include "image/imgbuff.h"

namespace {

constexpr double kU32Max = 4294967295.0;

// Channel depth in bits of the integer formats, and the depth at which the
// colour of the other formats is first formed (XYZ 32, HSV16 16, CMYK8 8).
int FormatDepth(int32_t f) {
    static const int kDepth[10] = {0, 8, 16, 32, 8, 16, 32, 32, 16, 8};
    return kDepth[f];
}

uint32_t ChannelMax(int depth) { return depth == 8 ? 255u : depth == 16 ? 65535u : 4294967295u; }

// Widening replicates the value, narrowing keeps the most significant bits.
uint32_t ChangeDepth(uint32_t v, int from, int to) {
    if (from == to) return v;
    if (from > to) return v >> (from - to);
    if (from == 16) return v * 65537u;
    return to == 16 ? v * 257u : v * 16843009u;
}

// Clamps to [0, 1] (NaN counts as 0) and scales to the depth, truncating.
uint32_t UnitToDepth(double c, int depth) {
    if (!(c > 0.0)) return 0;
    if (c >= 1.0) return ChannelMax(depth);
    return static_cast<uint32_t>(c * static_cast<double>(ChannelMax(depth)));
}

double Clamp01(double c) {
    if (!(c > 0.0)) return 0.0;
    return c > 1.0 ? 1.0 : c;
}

template <class T>
T Load(const uint8_t* p, int i) {
    T v;
    std::memcpy(&v, p + i * sizeof(T), sizeof(T));
    return v;
}

template <class T>
void Store(uint8_t* p, int i, T v) {
    std::memcpy(p + i * sizeof(T), &v, sizeof(T));
}

// Channel i of an integer-format pixel, as a 32-bit value at its own depth.
uint32_t LoadChannel(const uint8_t* p, int depth, int i) {
    if (depth == 8) return p[i];
    if (depth == 16) return Load<uint16_t>(p, i);
    return Load<uint32_t>(p, i);
}

void StoreChannel(uint8_t* p, int depth, int i, uint32_t v) {
    if (depth == 8) {
        p[i] = static_cast<uint8_t>(v);
    } else if (depth == 16) {
        Store<uint16_t>(p, i, static_cast<uint16_t>(v));
    } else {
        Store<uint32_t>(p, i, v);
    }
}

void CmykToRgb8(const uint8_t* cmyk, uint32_t* rgb) {
    uint32_t k = cmyk[3];
    for (int i = 0; i < 3; ++i) rgb[i] = cmyk[i] + k < 256 ? 255 - cmyk[i] - k : 0;
}

void Rgb8ToCmyk(const uint32_t* rgb, uint8_t* cmyk) {
    uint32_t mx = rgb[0] > rgb[1] ? rgb[0] : rgb[1];
    if (rgb[2] > mx) mx = rgb[2];
    uint32_t k = 255 - mx;
    for (int i = 0; i < 3; ++i) cmyk[i] = static_cast<uint8_t>(255 - rgb[i] - k);
    cmyk[3] = static_cast<uint8_t>(k);
}

// The pixel as a colour at depth d (8, 16 or 32).
void ReadColour(const C_ImgBuff* b, int32_t x, int32_t y, int d, uint32_t* c) {
    const uint8_t* p = b->PixelAt(x, y);
    int s = FormatDepth(b->format);
    switch (b->format) {
    case kImgGray8:
    case kImgGray16:
    case kImgGray32:
        c[0] = c[1] = c[2] = ChangeDepth(LoadChannel(p, s, 0), s, d);
        return;
    case kImgRgb8:
    case kImgRgb16:
    case kImgRgb32:
        for (int i = 0; i < 3; ++i) c[i] = ChangeDepth(LoadChannel(p, s, i), s, d);
        return;
    case kImgXyz: {
        double rgb[3];
        ImgXyzToSrgb(Load<double>(p, 0), Load<double>(p, 1), Load<double>(p, 2), &rgb[0], &rgb[1], &rgb[2]);
        for (int i = 0; i < 3; ++i) c[i] = ChangeDepth(UnitToDepth(rgb[i], 32), 32, d);
        return;
    }
    case kImgHsv16: {
        uint16_t rgb[3];
        ImgHsv16ToRgb16(Load<uint16_t>(p, 0), Load<uint16_t>(p, 1), Load<uint16_t>(p, 2), &rgb[0], &rgb[1], &rgb[2]);
        for (int i = 0; i < 3; ++i) c[i] = ChangeDepth(rgb[i], 16, d);
        return;
    }
    default: {  // kImgCmyk8
        CmykToRgb8(p, c);
        for (int i = 0; i < 3; ++i) c[i] = ChangeDepth(c[i], 8, d);
        return;
    }
    }
}

// The pixel as grey at depth d. RGB formats widen before weighting when d is
// deeper than the pixel; every other colour is weighted at the depth where
// it is formed and then changed to d.
uint32_t ReadGray(const C_ImgBuff* b, int32_t x, int32_t y, int d) {
    int s = FormatDepth(b->format);
    if (b->format <= kImgGray32) return ChangeDepth(LoadChannel(b->PixelAt(x, y), s, 0), s, d);
    uint32_t c[3];
    if (b->format <= kImgRgb32 && d > s) {
        ReadColour(b, x, y, d, c);
        return ImgGrayWeighted(c[0], c[1], c[2]);
    }
    ReadColour(b, x, y, s, c);
    return ChangeDepth(ImgGrayWeighted(c[0], c[1], c[2]), s, d);
}

// Writes grey g of depth s.
void WriteGray(C_ImgBuff* b, int32_t x, int32_t y, uint32_t g, int s) {
    uint8_t* p = b->PixelAt(x, y);
    int d = FormatDepth(b->format);
    switch (b->format) {
    case kImgGray8:
    case kImgGray16:
    case kImgGray32:
        StoreChannel(p, d, 0, ChangeDepth(g, s, d));
        return;
    case kImgRgb8:
    case kImgRgb16:
    case kImgRgb32:
        for (int i = 0; i < 3; ++i) StoreChannel(p, d, i, ChangeDepth(g, s, d));
        return;
    case kImgXyz: {
        double v = ChangeDepth(g, s, 32) / kU32Max;
        double xyz[3];
        ImgSrgbToXyz(v, v, v, &xyz[0], &xyz[1], &xyz[2]);
        for (int i = 0; i < 3; ++i) Store<double>(p, i, xyz[i]);
        return;
    }
    case kImgHsv16:
        Store<uint16_t>(p, 0, 0);
        Store<uint16_t>(p, 1, 0);
        Store<uint16_t>(p, 2, static_cast<uint16_t>(ChangeDepth(g, s, 16)));
        return;
    default:  // kImgCmyk8
        p[0] = p[1] = p[2] = 0;
        p[3] = static_cast<uint8_t>(255 - ChangeDepth(g, s, 8));
        return;
    }
}

// How a colour becomes grey on a grey image deeper than the colour: the RGB
// setters widen the channels first, the others weight first.
enum class GrayOrder { kWidenFirst, kWeightFirst };

// Writes colour c of depth s into any format but the colour's own storage
// format (the HSV16, CMYK8 and XYZ setters store directly into their own).
void WriteColour(C_ImgBuff* b, int32_t x, int32_t y, const uint32_t* c, int s, GrayOrder order) {
    uint8_t* p = b->PixelAt(x, y);
    int d = FormatDepth(b->format);
    switch (b->format) {
    case kImgGray8:
    case kImgGray16:
    case kImgGray32: {
        uint32_t g;
        if (order == GrayOrder::kWidenFirst && d > s) {
            g = ImgGrayWeighted(ChangeDepth(c[0], s, d), ChangeDepth(c[1], s, d), ChangeDepth(c[2], s, d));
        } else {
            g = ChangeDepth(ImgGrayWeighted(c[0], c[1], c[2]), s, d);
        }
        StoreChannel(p, d, 0, g);
        return;
    }
    case kImgRgb8:
    case kImgRgb16:
    case kImgRgb32:
        for (int i = 0; i < 3; ++i) StoreChannel(p, d, i, ChangeDepth(c[i], s, d));
        return;
    case kImgXyz: {
        double xyz[3];
        ImgSrgbToXyz(ChangeDepth(c[0], s, 32) / kU32Max, ChangeDepth(c[1], s, 32) / kU32Max,
                     ChangeDepth(c[2], s, 32) / kU32Max, &xyz[0], &xyz[1], &xyz[2]);
        for (int i = 0; i < 3; ++i) Store<double>(p, i, xyz[i]);
        return;
    }
    case kImgHsv16: {
        uint16_t hsv[3];
        ImgRgb16ToHsv16(static_cast<uint16_t>(ChangeDepth(c[0], s, 16)), static_cast<uint16_t>(ChangeDepth(c[1], s, 16)),
                        static_cast<uint16_t>(ChangeDepth(c[2], s, 16)), &hsv[0], &hsv[1], &hsv[2]);
        for (int i = 0; i < 3; ++i) Store<uint16_t>(p, i, hsv[i]);
        return;
    }
    default: {  // kImgCmyk8
        uint32_t rgb[3] = {ChangeDepth(c[0], s, 8), ChangeDepth(c[1], s, 8), ChangeDepth(c[2], s, 8)};
        Rgb8ToCmyk(rgb, p);
        return;
    }
    }
}

void StoreXyz(C_ImgBuff* b, int32_t x, int32_t y, double cx, double cy, double cz) {
    uint8_t* p = b->PixelAt(x, y);
    Store<double>(p, 0, cx);
    Store<double>(p, 1, cy);
    Store<double>(p, 2, cz);
}

template <class T>
void Put(T* out, T v) {
    if (out) *out = v;
}

}  // namespace

// ---- grey ----

int32_t C_ImgBuff::SetPixelGray8(int32_t x, int32_t y, uint8_t v) {
    if (!ImgFormatValid(format) || !Contains(x, y)) return 0;
    WriteGray(this, x, y, v, 8);
    return 1;
}

int32_t C_ImgBuff::SetPixelGray16(int32_t x, int32_t y, uint16_t v) {
    if (!ImgFormatValid(format) || !Contains(x, y)) return 0;
    WriteGray(this, x, y, v, 16);
    return 1;
}

int32_t C_ImgBuff::SetPixelGray32(int32_t x, int32_t y, uint32_t v) {
    if (!ImgFormatValid(format) || !Contains(x, y)) return 0;
    WriteGray(this, x, y, v, 32);
    return 1;
}

int32_t C_ImgBuff::GetPixelGray8(int32_t x, int32_t y, uint8_t* v) const {
    if (!ImgFormatValid(format)) return 0;
    if (v) *v = static_cast<uint8_t>(ReadGray(this, x, y, 8));
    return 1;
}

int32_t C_ImgBuff::GetPixelGray16(int32_t x, int32_t y, uint16_t* v) const {
    if (!ImgFormatValid(format)) return 0;
    if (v) *v = static_cast<uint16_t>(ReadGray(this, x, y, 16));
    return 1;
}

int32_t C_ImgBuff::GetPixelGray32(int32_t x, int32_t y, uint32_t* v) const {
    if (!ImgFormatValid(format)) return 0;
    if (v) *v = ReadGray(this, x, y, 32);
    return 1;
}

int32_t C_ImgBuff::GetPixelGrayDouble(int32_t x, int32_t y, double* v) const {
    if (!ImgFormatValid(format) || !Contains(x, y)) return 0;
    if (!v) return 1;
    if (format <= kImgGray32) {
        *v = ReadGray(this, x, y, 32) / kU32Max;
        return 1;
    }
    double r, g, b;
    GetPixelRgbDouble(x, y, &r, &g, &b);
    *v = (r == g && g == b) ? r : 0.299 * r + 0.587 * g + 0.114 * b;
    return 1;
}

// ---- RGB ----

int32_t C_ImgBuff::SetPixelRgb8(int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b) {
    if (!ImgFormatValid(format) || !Contains(x, y)) return 0;
    uint32_t c[3] = {r, g, b};
    WriteColour(this, x, y, c, 8, GrayOrder::kWidenFirst);
    return 1;
}

int32_t C_ImgBuff::SetPixelRgb16(int32_t x, int32_t y, uint16_t r, uint16_t g, uint16_t b) {
    if (!ImgFormatValid(format) || !Contains(x, y)) return 0;
    uint32_t c[3] = {r, g, b};
    WriteColour(this, x, y, c, 16, GrayOrder::kWidenFirst);
    return 1;
}

int32_t C_ImgBuff::SetPixelRgb32(int32_t x, int32_t y, uint32_t r, uint32_t g, uint32_t b) {
    if (!ImgFormatValid(format) || !Contains(x, y)) return 0;
    uint32_t c[3] = {r, g, b};
    WriteColour(this, x, y, c, 32, GrayOrder::kWidenFirst);
    return 1;
}

int32_t C_ImgBuff::GetPixelRgb8(int32_t x, int32_t y, uint8_t* r, uint8_t* g, uint8_t* b) const {
    if (!ImgFormatValid(format)) return 0;
    uint32_t c[3];
    ReadColour(this, x, y, 8, c);
    Put(r, static_cast<uint8_t>(c[0]));
    Put(g, static_cast<uint8_t>(c[1]));
    Put(b, static_cast<uint8_t>(c[2]));
    return 1;
}

int32_t C_ImgBuff::GetPixelRgb16(int32_t x, int32_t y, uint16_t* r, uint16_t* g, uint16_t* b) const {
    if (!ImgFormatValid(format)) return 0;
    uint32_t c[3];
    ReadColour(this, x, y, 16, c);
    Put(r, static_cast<uint16_t>(c[0]));
    Put(g, static_cast<uint16_t>(c[1]));
    Put(b, static_cast<uint16_t>(c[2]));
    return 1;
}

int32_t C_ImgBuff::GetPixelRgb32(int32_t x, int32_t y, uint32_t* r, uint32_t* g, uint32_t* b) const {
    if (!ImgFormatValid(format)) return 0;
    uint32_t c[3];
    ReadColour(this, x, y, 32, c);
    Put(r, c[0]);
    Put(g, c[1]);
    Put(b, c[2]);
    return 1;
}

int32_t C_ImgBuff::SetPixelRgbDouble(int32_t x, int32_t y, double r, double g, double b) {
    if (!ImgFormatValid(format) || !Contains(x, y)) return 0;
    if (format == kImgXyz) {
        double xyz[3];
        ImgSrgbToXyz(Clamp01(r), Clamp01(g), Clamp01(b), &xyz[0], &xyz[1], &xyz[2]);
        StoreXyz(this, x, y, xyz[0], xyz[1], xyz[2]);
        return 1;
    }
    // Converted straight to the depth the pixel needs, so no depth change follows.
    int d = FormatDepth(format);
    uint32_t c[3] = {UnitToDepth(r, d), UnitToDepth(g, d), UnitToDepth(b, d)};
    WriteColour(this, x, y, c, d, GrayOrder::kWidenFirst);
    return 1;
}

int32_t C_ImgBuff::GetPixelRgbDouble(int32_t x, int32_t y, double* r, double* g, double* b) const {
    if (!ImgFormatValid(format) || !Contains(x, y)) return 0;
    double c[3];
    if (format == kImgXyz) {
        const uint8_t* p = PixelAt(x, y);
        ImgXyzToSrgb(Load<double>(p, 0), Load<double>(p, 1), Load<double>(p, 2), &c[0], &c[1], &c[2]);
    } else {
        uint32_t v[3];
        ReadColour(this, x, y, 32, v);
        for (int i = 0; i < 3; ++i) c[i] = v[i] / kU32Max;
    }
    Put(r, c[0]);
    Put(g, c[1]);
    Put(b, c[2]);
    return 1;
}

// ---- HSV16 ----

int32_t C_ImgBuff::SetPixelHsv16(int32_t x, int32_t y, uint16_t h, uint16_t s, uint16_t v) {
    if (!ImgFormatValid(format) || !Contains(x, y)) return 0;
    if (format == kImgHsv16) {
        uint8_t* p = PixelAt(x, y);
        Store<uint16_t>(p, 0, h);
        Store<uint16_t>(p, 1, s);
        Store<uint16_t>(p, 2, v);
        return 1;
    }
    uint16_t rgb[3];
    ImgHsv16ToRgb16(h, s, v, &rgb[0], &rgb[1], &rgb[2]);
    uint32_t c[3] = {rgb[0], rgb[1], rgb[2]};
    WriteColour(this, x, y, c, 16, GrayOrder::kWeightFirst);
    return 1;
}

int32_t C_ImgBuff::GetPixelHsv16(int32_t x, int32_t y, uint16_t* h, uint16_t* s, uint16_t* v) const {
    if (!ImgFormatValid(format)) return 0;
    uint16_t hsv[3];
    if (format == kImgHsv16) {
        const uint8_t* p = PixelAt(x, y);
        for (int i = 0; i < 3; ++i) hsv[i] = Load<uint16_t>(p, i);
    } else if (format <= kImgGray32) {
        hsv[0] = hsv[1] = 0;
        hsv[2] = static_cast<uint16_t>(ReadGray(this, x, y, 16));
    } else {
        uint32_t c[3];
        ReadColour(this, x, y, 16, c);
        ImgRgb16ToHsv16(static_cast<uint16_t>(c[0]), static_cast<uint16_t>(c[1]), static_cast<uint16_t>(c[2]), &hsv[0],
                        &hsv[1], &hsv[2]);
    }
    Put(h, hsv[0]);
    Put(s, hsv[1]);
    Put(v, hsv[2]);
    return 1;
}

// ---- CMYK8 ----

int32_t C_ImgBuff::SetPixelCmyk8(int32_t x, int32_t y, uint8_t c, uint8_t m, uint8_t ye, uint8_t k) {
    if (!ImgFormatValid(format) || !Contains(x, y)) return 0;
    uint8_t cmyk[4] = {c, m, ye, k};
    if (format == kImgCmyk8) {
        std::memcpy(PixelAt(x, y), cmyk, 4);
        return 1;
    }
    uint32_t rgb[3];
    CmykToRgb8(cmyk, rgb);
    WriteColour(this, x, y, rgb, 8, GrayOrder::kWeightFirst);
    return 1;
}

int32_t C_ImgBuff::GetPixelCmyk8(int32_t x, int32_t y, uint8_t* c, uint8_t* m, uint8_t* ye, uint8_t* k) const {
    if (!ImgFormatValid(format)) return 0;
    uint8_t cmyk[4];
    if (format == kImgCmyk8) {
        std::memcpy(cmyk, PixelAt(x, y), 4);
    } else if (format <= kImgGray32) {
        cmyk[0] = cmyk[1] = cmyk[2] = 0;
        cmyk[3] = static_cast<uint8_t>(255 - ReadGray(this, x, y, 8));
    } else {
        uint32_t rgb[3];
        ReadColour(this, x, y, 8, rgb);
        Rgb8ToCmyk(rgb, cmyk);
    }
    Put(c, cmyk[0]);
    Put(m, cmyk[1]);
    Put(ye, cmyk[2]);
    Put(k, cmyk[3]);
    return 1;
}

// ---- XYZ, L*a*b*, L*C*h ----

int32_t C_ImgBuff::SetPixelXyz(int32_t x, int32_t y, double cx, double cy, double cz) {
    if (!ImgFormatValid(format) || !Contains(x, y)) return 0;
    if (format == kImgXyz) {
        StoreXyz(this, x, y, cx, cy, cz);
        return 1;
    }
    double rgb[3];
    ImgXyzToSrgb(cx, cy, cz, &rgb[0], &rgb[1], &rgb[2]);
    uint32_t c[3] = {UnitToDepth(rgb[0], 32), UnitToDepth(rgb[1], 32), UnitToDepth(rgb[2], 32)};
    WriteColour(this, x, y, c, 32, GrayOrder::kWeightFirst);
    return 1;
}

int32_t C_ImgBuff::GetPixelXyz(int32_t x, int32_t y, double* cx, double* cy, double* cz) const {
    if (!ImgFormatValid(format)) return 0;
    double xyz[3];
    if (format == kImgXyz) {
        const uint8_t* p = PixelAt(x, y);
        for (int i = 0; i < 3; ++i) xyz[i] = Load<double>(p, i);
    } else {
        uint32_t c[3];
        ReadColour(this, x, y, 32, c);
        ImgSrgbToXyz(c[0] / kU32Max, c[1] / kU32Max, c[2] / kU32Max, &xyz[0], &xyz[1], &xyz[2]);
    }
    Put(cx, xyz[0]);
    Put(cy, xyz[1]);
    Put(cz, xyz[2]);
    return 1;
}

int32_t C_ImgBuff::SetPixelLab(int32_t x, int32_t y, double l, double a, double b) {
    if (!ImgFormatValid(format) || !Contains(x, y)) return 0;
    double xyz[3];
    ImgLabToXyz(l, a, b, &xyz[0], &xyz[1], &xyz[2]);
    return SetPixelXyz(x, y, xyz[0], xyz[1], xyz[2]);
}

int32_t C_ImgBuff::GetPixelLab(int32_t x, int32_t y, double* l, double* a, double* b) const {
    if (!ImgFormatValid(format) || !Contains(x, y)) return 0;
    double xyz[3];
    GetPixelXyz(x, y, &xyz[0], &xyz[1], &xyz[2]);
    return ImgXyzToLab(xyz[0], xyz[1], xyz[2], l, a, b);
}

int32_t C_ImgBuff::SetPixelLch(int32_t x, int32_t y, double l, double c, double h) {
    if (!ImgFormatValid(format) || !Contains(x, y)) return 0;
    double lab[3];
    ImgLchToLab(l, c, h, &lab[0], &lab[1], &lab[2]);
    return SetPixelLab(x, y, lab[0], lab[1], lab[2]);
}

int32_t C_ImgBuff::GetPixelLch(int32_t x, int32_t y, double* l, double* c, double* h) const {
    if (!ImgFormatValid(format) || !Contains(x, y)) return 0;
    double lab[3];
    GetPixelLab(x, y, &lab[0], &lab[1], &lab[2]);
    Put(l, lab[0]);
    Put(c, std::sqrt(lab[1] * lab[1] + lab[2] * lab[2]));
    Put(h, std::atan2(lab[2], lab[1]));
    return 1;
}
