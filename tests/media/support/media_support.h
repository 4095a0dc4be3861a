// Helpers of the media tests: wide paths, fixtures made by ImageMagick and
// the decoders used as oracles.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/codec.h"

namespace kvmedia {

// UTF-8 text as a wide string.
std::wstring Wide(const std::string& utf8);

// Runs ImageMagick's convert with the given arguments; true on success.
bool Convert(const std::string& args);

// The pixels of image files decoded by OpenCV (one interpreter for all), in
// the facade's layout (R, G, B order, native 16-bit samples) with the given
// channels per pixel (1 or 3; alpha dropped). An empty text for a file that
// failed.
struct OpenCvRequest {
    std::string path;
    int channels;
};
std::vector<std::string> OpenCvPixels(const std::vector<OpenCvRequest>& files);

// A file decoded by djpeg: PNM samples and the geometry. Empty on failure.
std::string DjpegPixels(const std::string& path, int* width, int* height, int* channels);

// Opens the file through the facade and reads frame 0; empty on failure.
std::string FacadeReadStill(const std::string& path, codec_file_info* info = nullptr);

// Creates a still through the facade and writes one frame; the close result.
int32_t FacadeWriteStill(const std::string& path, uint64_t width, uint64_t height, uint64_t bpp,
                         const void* pixels, const codec_write_options* options = nullptr);

// Deterministic test pattern of `bytes` bytes.
std::string Pattern(size_t bytes, uint32_t seed);

}  // namespace kvmedia
