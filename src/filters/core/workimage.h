// Working component images: one colour component of a frame, extracted
// into a grey image that later filters of the chain process, then written
// back into the frame.
//
// Codes: 1-3 R, G, B; 4-6 H, S, V; 7-9 complement of R, G, B; 10-13 C, M,
// Y, K; 14-16 X, Y, Z; 17-19 L*, a*, b*; 20-21 C*, h (14-21 as 32-bit
// encodings). 0 = no working image.
#pragma once

#include <cstdint>

class CImgBuff;

constexpr uint32_t kWorkCodeMax = 21;

// Prepares the frame for the code (8-bit frames go to 48-bit RGB for H, S,
// V; every frame but XYZ goes to XYZ for codes 14-21) and fills the working
// image with the component at the chosen depth. A code above 21 gives an
// unfilled working image. When the frame cannot be converted the working
// image is emptied. 1 on success, else 0.
int32_t MakeWorkingImage(CImgBuff* frame, CImgBuff* work, uint32_t code);
// Writes the working image's component back into the frame at the depth of
// the frame's format. A code above 21 replaces the frame by a copy of the
// working image. A working image that is empty or of another size than the
// frame leaves the frame unchanged (0).
int32_t StoreWorkingImage(CImgBuff* frame, const CImgBuff* work, uint32_t code);
