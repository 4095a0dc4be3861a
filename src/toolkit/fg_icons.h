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
