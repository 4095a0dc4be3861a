// Colour arithmetic on plain numbers: sRGB and CIE XYZ (D65), L*a*b*,
// HSV at 16 and 32 bits, the 32-bit component encodings of work images and
// the CIE 1931 colour-matching functions.
#pragma once

#include <cstdint>

// L*a*b* inverse constants shared by the pixel setters and white balance.
extern const double g_LabInverseDelta;   // 6/29
extern const double g_LabInverseOffset;  // 4/29
extern const double g_LabInverseSlope;   // 108/841

void ImgSrgbToXyz(double r, double g, double b, double* x, double* y, double* z);
void ImgXyzToSrgb(double x, double y, double z, double* r, double* g, double* b);
// The two halves of ImgXyzToSrgb: the matrix to linear sRGB, and the curve
// with the clamp to [0, 1] (NaN counts as 0).
void ImgXyzToLinearRgb(double x, double y, double z, double* r, double* g, double* b);
double ImgSrgbCompand(double v);
// The 8-bit channel the pixel setters store for linear value v (the curve,
// truncated to 32 bits, then the top byte), found in a table instead of pow.
uint8_t ImgLinearToSrgb8(double v);
// L*C*h to L*a*b* as the pixel setters do it: h wrapped by whole turns into
// [-3.14159265, 3.14159265] (NaN and infinite angles count as 0), a chroma
// below 0 counts as 0.
void ImgLchToLab(double l, double c, double h, double* outL, double* a, double* b);
int32_t ImgXyzToLab(double x, double y, double z, double* l, double* a, double* bb);
// Inverse of ImgXyzToLab (X, Y, Z on the scale where white Y = 1).
void ImgLabToXyz(double l, double a, double bb, double* x, double* y, double* z);
void ImgRgb32ToXyz(uint32_t r, uint32_t g, uint32_t b, double* x, double* y, double* z);
void ImgXyzToRgb32(double x, double y, double z, uint32_t* r, uint32_t* g, uint32_t* b);
void ImgRgb16ToHsv16(uint16_t r, uint16_t g, uint16_t b, uint16_t* h, uint16_t* s, uint16_t* v);
void ImgHsv16ToRgb16(uint16_t h, uint16_t s, uint16_t v, uint16_t* r, uint16_t* g, uint16_t* b);
void ImgRgb32ToHsv32(uint32_t r, uint32_t g, uint32_t b, uint32_t* h, uint32_t* s, uint32_t* v);
void ImgHsv32ToRgb32(uint32_t h, uint32_t s, uint32_t v, uint32_t* r, uint32_t* g, uint32_t* b);

uint32_t ImgEncodeXyzU32(double v);        // 0 .. 1.1
uint32_t ImgEncodeLightnessU32(double v);  // 0 .. 100
uint32_t ImgEncodeAbU32(double v);         // -128 .. 127
uint32_t ImgEncodeChromaU32(double v);     // 0 .. 135
uint32_t ImgEncodeHueU32(double v);        // 0 .. 2 pi, wrapped
double ImgDecodeXyzU32(uint32_t code);
double ImgDecodeLightnessU32(uint32_t code);
double ImgDecodeAbU32(uint32_t code);
double ImgDecodeChromaU32(uint32_t code);
double ImgDecodeHueU32(uint32_t code);

void ImgWavelengthToXyz(double nm, double* x, double* y, double* z);

// CIE 1931 2-degree observer at 1 nm, 360 .. 830 nm (index nm - 360).
constexpr int kCieTableSize = 471;
extern const double g_CieXBar[kCieTableSize];
extern const double g_CieYBar[kCieTableSize];
extern const double g_CieZBar[kCieTableSize];
