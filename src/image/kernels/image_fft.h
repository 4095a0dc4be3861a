// The image side of the Fourier filters: an image's centred spectrum, its
// log-scaled picture, and the inverse through a zero mask or a level mask.
#pragma once

#include <cstdint>

#include "image/imgbuff.h"
#include "image/kernels/fft_core.h"

// One image's centred spectrum; all zero = empty. The arrays are heap blocks
// (released with std::free, or by ImgFftReset); record layout is relied on
// by the spectrum stack of the Fourier filters.
struct ImgFftState {
    int32_t format;           // pixel format of the transformed image; 0 = empty
    int32_t width;            // image width w
    int32_t height;           // image height h
    int32_t transformWidth;   // S_w, a power of two
    int32_t transformHeight;  // S_h, a power of two
    int32_t bytesPerPixel;
    int32_t owner;            // left to the owner; cleared by reset
    FftComplex* array[3];     // grey or red, green, blue; 1 and 2 null for grey
    double scale[3];          // display factors 1/log10(max power + 1)
};

// Frees the arrays and clears every field; 0 for a null state.
int32_t ImgFftReset(ImgFftState* state);
// The centred spectrum of the source, zero-padded to the next power of two
// of its longer side. 1 done, 0 refused (format, size below 2 or too large,
// memory).
int32_t ImgFftForward(ImgFftState* state, const CImgBuff* source);
// The spectrum as a w x h picture in the state's format: log10(power + 1) /
// log10(max power + 1) in the display levels (never 0), cut from the centre
// of the transform. Writes the scales. 1 done, 0 refused.
int32_t ImgFftSpectrumImage(ImgFftState* state, CImgBuff* output);
// Edits the spectrum with a zero mask or a level mask (at most one; exactly
// w x h; either may be the output handle), transforms it back and writes the
// w x h image in the state's format. Consumes the state. 1 done, 0 refused.
int32_t ImgFftInverse(ImgFftState* state, CImgBuff* output, const CImgBuff* zeroMask, const CImgBuff* levelMask);
