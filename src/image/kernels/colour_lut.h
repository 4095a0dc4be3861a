// A colour-transform cache: an arbitrary per-colour function evaluated
// lazily, once per 8-bit RGB colour, in blocks of 4 x 4 x 4 neighbouring
// colours, and applied to images of every format (deeper pixels are
// interpolated between transformed 8-bit levels). White balance and
// six-colour correction build such caches; the white of an image can be
// estimated.
#pragma once

#include <atomic>
#include <cstdint>

#include "image/imgbuff.h"
#include "platform/kernel.h"

// Transforms the colour in place; `params` is the cache's parameter block.
using ColorLutFunction = void (*)(uint8_t* r, uint8_t* g, uint8_t* b, void* params);

// 64 transformed colours, entry (r & 3) x 16 + (g & 3) x 4 + (b & 3).
struct ColorLutBlock {
    uint8_t rgb[64][3];
    ColorLutBlock* next;
};

constexpr uint32_t kColorLutCells = 262144;  // 64 x 64 x 64
// A cell holds 0 (empty), kColorLutClaimed (being filled) or its block.
constexpr uintptr_t kColorLutClaimed = ~uintptr_t(0);

struct ColorLut {
    std::atomic<uintptr_t>* cells;  // (r >> 2) << 12 | (g >> 2) << 6 | (b >> 2)
    ColorLutBlock* first;           // blocks in the order they were filled
    ColorLutBlock* last;
    ColorLutFunction function;
    void* params;
    CriticalSection* lock;  // guards claiming cells and the block list
};

// White balance: offsets added to a* and b*.
struct WhiteBalanceParams {
    double a;
    double b;
};

// Colour correction: hue, saturation and value (16-bit HSV) of six target
// and six source colours; entry 6 repeats entry 0.
struct ColorCorrectionParams {
    uint32_t correctSaturation;
    uint32_t correctBrightness;
    uint16_t targetHue[7], targetSat[7], targetVal[7];
    uint16_t sourceHue[7], sourceSat[7], sourceVal[7];
};
static_assert(sizeof(ColorCorrectionParams) == 92, "the parameter block is 92 bytes");

// Null when memory runs out. All cells empty, no function.
ColorLut* ImgColorLutCreate();
// Empties the cache and sets its function; returns the new zeroed parameter
// block of `size` bytes, or null (null cache, or no memory: the function is
// then cleared too).
void* ImgColorLutSetFunction(ColorLut* cache, ColorLutFunction function, uint32_t size);
// 1, or 0 for a null cache.
int32_t ImgColorLutDestroy(ColorLut* cache);
// 1 with the transformed colour written back (a cache without a function
// leaves it as it is); 0 when a block cannot be allocated (colour
// unchanged). Safe from many threads at once.
int32_t ImgColorLutLookup(ColorLut* cache, uint8_t* r, uint8_t* g, uint8_t* b);
// Applies the cache to the whole image. 1 done (also without a function);
// 0 for a null cache, an empty image, or a failed copy or conversion (image
// unchanged).
int32_t ImgColorLutApply(ColorLut* cache, CImgBuff* image);

// A cache that makes the reference colour (sRGB 0..1) neutral by shifting
// a* and b*. Null when memory runs out.
ColorLut* ImgColorLutCreateWhiteBalance(double r, double g, double b);
// A cache that maps the hue sectors between six source colours onto those
// of six target colours (sRGB 0..1; any null target array means the six
// pure hues), optionally saturation and value too. Null for neighbouring
// equal hues, a colour without saturation or value, or no memory.
ColorLut* ImgColorLutCreateColorCorrection(const double* sourceR, const double* sourceG, const double* sourceB,
                                           const double* targetR, const double* targetG, const double* targetB,
                                           int32_t correctSaturation, int32_t correctBrightness);

// The colour of white in the image (0..1 each; outputs may be null): the
// mean of the 16 x 16 blocks that are neither too saturated (saturation
// limit in percent, 0 = none) nor too dark (brightness limit in percent),
// or of the whole image when limits are off, the image is under 128 pixels
// wide or high, or no block passes. `blocksUsed` (may be null) tells which.
// 0 for a limit above 100 or an empty image.
int32_t ImgEstimateWhiteBalance(CImgBuff* image, double* r, double* g, double* b, uint32_t saturationLimit,
                                uint32_t brightnessLimit, int32_t* blocksUsed);

// The per-colour functions of the two builders.
void ImgWhiteBalanceColor(uint8_t* r, uint8_t* g, uint8_t* b, void* params);      // WhiteBalanceParams
void ImgColorCorrectionColor(uint8_t* r, uint8_t* g, uint8_t* b, void* params);  // ColorCorrectionParams
