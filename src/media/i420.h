// Packed 24-bit RGB to and from planar I420 (BT.709, limited range), with
// the exact integer formulas of the MP4 codecs. Rows are spread over the
// worker pool.
#pragma once

#include <cstdint>

// Y of every pixel; U and V of the (width / 2) × (height / 2) complete 2 × 2
// blocks. The planes are tight: strides width and width / 2.
void rgb_to_i420(uint64_t width, uint64_t height, const uint8_t* rgb, uint8_t* y, uint8_t* u, uint8_t* v);

// Fills width × height RGB pixels (tight rows) from a decoded picture of
// picture_width × picture_height pixels. A row narrower than the output is
// stretched to it, a wider one cut; output rows past the picture are black.
// Rows wider than the Y stride convert the stride's pixels and are black
// beyond.
void i420_to_rgb_rows(uint64_t width, uint64_t height, uint64_t picture_width, uint64_t picture_height,
                      const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, uint64_t y_stride,
                      uint64_t uv_stride);

// Test seam: 0 keeps the conversions on scalar code, 1 lets them use the
// processor's vector instructions (the default).
void i420_set_vector_for_testing(int32_t enabled);
