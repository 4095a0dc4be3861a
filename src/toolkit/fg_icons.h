// Shared built-in images: the check-box and radio-mark atlas and the
// scroll-bar arrows. Each is one process-wide texture with a reference count.
#pragma once

#include <cstdint>

class CFgTexture;

// 16 x 16 RGBA cells, 6 columns x 2 rows. Cells 0-5 are boxes: enabled
// focused (light cyan inside), enabled (white inside), disabled; each
// followed by the same with a tick. Cells 6-11 are the same as round marks.
constexpr uint64_t kFgIconCell = 16;
constexpr uint64_t kFgIconRadioOffset = 6;
CFgTexture* FgAcquireIconAtlas();  // null when it cannot be made
void FgReleaseIconAtlas();

// 32 x 32 RGBA cells, 4 columns x 2 rows: up, down, left, right arrows,
// enabled in the first row and disabled in the second; tinted by the
// current colour when drawn.
constexpr uint64_t kFgArrowCell = 32;
CFgTexture* FgAcquireArrowTexture();  // null when it cannot be made
void FgReleaseArrowTexture();

// Icon strips of a control: `columns` cells painted as line art in one row,
// and a second row that repeats them faded halfway to white (alpha kept),
// for the disabled look. `inside` answers whether a point of a cell (pixel
// units from the cell's top-left corner) is ink; each pixel takes the
// coverage of 4 x 4 samples. The picture is first encoded as this system's
// built-in icon pictures are: transparent white, opaque black, and an
// opaque grey level g (1-254) for a partly covered pixel, which decodes to
// black with alpha 255 - g. 0 when the texture cannot be made.
using FgIconInkFn = bool (*)(uint64_t cell, double x, double y);
int32_t FgBuildIconStrip(CFgTexture* texture, uint64_t cellWidth, uint64_t cellHeight, uint64_t columns,
                         FgIconInkFn inside);
// Decoding of the built-in pictures: a pixel whose red is 1-254 becomes black
// with alpha 255 - red; red 0 and 255 keep every channel.
void FgDecodeIconPixels(uint8_t* rgba, uint64_t count);
// Each colour channel c becomes 255 - ((255 - c) >> 1); alpha is kept.
void FgFadeIconPixels(const uint8_t* rgba, uint8_t* out, uint64_t count);
