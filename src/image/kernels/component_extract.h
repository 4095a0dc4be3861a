// Replacing every pixel of a region by one colour component of it: grey,
// R, G, B, hue, saturation, value, the complements of R, G, B, the inks of
// CMYK, CIE X, Y, Z, L*, a*, b*, C* and the hue angle h.
#pragma once

#include <cstdint>

#include "image/imgbuff.h"

// Component codes.
enum : int32_t {
    kComponentGrey = 1,
    kComponentRed = 2,
    kComponentGreen = 3,
    kComponentBlue = 4,
    kComponentHue = 5,
    kComponentSaturation = 6,
    kComponentValue = 7,
    kComponentComplementRed = 8,
    kComponentComplementGreen = 9,
    kComponentComplementBlue = 10,
    kComponentCyan = 11,
    kComponentMagenta = 12,
    kComponentYellow = 13,
    kComponentBlack = 14,
    kComponentX = 15,
    kComponentY = 16,
    kComponentZ = 17,
    kComponentLightness = 18,
    kComponentA = 19,
    kComponentB = 20,
    kComponentChroma = 21,
    kComponentHueAngle = 22,
};

// Writes the component as a grey level of the image's depth group (the
// image keeps its format), or, with `colourise` non-zero, as a colour that
// shows that component alone. Region null: the whole image. 1 done (also
// for a grey image whose grey, R, G, B or V is the image itself); 0 for a
// code outside 1 .. 22, colourise on a grey or empty image, or a region that
// cannot be clipped (image unchanged).
int32_t ImgExtractComponent(CImgBuff* image, int32_t code, int32_t colourise, const ImgRect* region);
