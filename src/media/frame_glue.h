// The link between a media frame's bytes per pixel and an image format.
#pragma once

#include <cstdint>

// Pixel format for bytes per pixel 0 .. 12; 0 where no format fits.
extern const int32_t g_FramePixelFormat[13];
