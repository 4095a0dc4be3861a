// Test pictures for the benchmarks that play or save sequences: a textured
// moving 8-bit RGB picture and numbered files of it written through the
// codec facade.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "media/codec.h"
#include "platform/utf8.h"

namespace kvbench {

// Gradients, a moving bar and mild noise, so that the codecs see realistic
// content; frame k differs from frame k - 1.
inline void MakeMovingFrame(std::vector<uint8_t>& rgb, int width, int height, int k) {
    rgb.resize(static_cast<size_t>(width) * height * 3);
    uint32_t seed = 12345u + static_cast<uint32_t>(k) * 7919u;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = rgb.data() + static_cast<size_t>(y) * width * 3;
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = static_cast<int>(seed >> 28) - 8;
            const bool bar = ((x + 16 * k) / 64) % 7 == 0;
            row[3 * x + 0] = static_cast<uint8_t>(std::clamp((x * 255) / width + noise, 0, 255));
            row[3 * x + 1] = static_cast<uint8_t>(std::clamp((y * 255) / height + noise, 0, 255));
            row[3 * x + 2] = bar ? 240 : static_cast<uint8_t>(std::clamp(128 + noise * 4, 0, 255));
        }
    }
}

// Writes frames 1..count as "<dir>/<prefix>_NNNN.<extension>" (JPEG at
// quality 90) and returns their paths; exits when a file cannot be written.
inline std::vector<std::string> WriteMovingSequence(const std::string& dir, const std::string& prefix,
                                                    const char* extension, int width, int height, int count) {
    std::vector<std::string> paths;
    std::vector<uint8_t> rgb;
    codec_file_info info{1, 1, 1, 3, static_cast<uint64_t>(width), static_cast<uint64_t>(height), 0};
    codec_write_options options{90, 0, 0, 0, 0, 0};
    for (int k = 1; k <= count; ++k) {
        char name[96];
        std::snprintf(name, sizeof name, "/%s_%04d.%s", prefix.c_str(), k, extension);
        const std::string path = dir + name;
        MakeMovingFrame(rgb, width, height, k);
        codec_file* f = codec_file_create(PlatUtf8ToWide(path.c_str()).c_str(), &info, &options);
        if (!f || !codec_file_write_frame(f, 0, 0, rgb.data()) || !codec_file_close(f)) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            std::exit(1);
        }
        paths.push_back(path);
    }
    return paths;
}

}  // namespace kvbench
