// PNG stills: open, then read the frame; and the direct decode of a
// sequence's frame, with the size the header declares.
#include <cstdlib>
#include <initializer_list>

#include "media/codec_formats.h"
#include "support/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kvfuzz::OpenAndReadFrames(data, size, kCodecKindStill, kCodecPng, codec_png_open);
    if (size >= 24) {
        auto word = [&](size_t at) {
            return uint64_t{data[at]} << 24 | uint64_t{data[at + 1]} << 16 | uint64_t{data[at + 2]} << 8 | data[at + 3];
        };
        const uint64_t width = word(16), height = word(20);
        for (uint64_t bpp : {uint64_t{1}, uint64_t{3}}) {
            if (width == 0 || height == 0 || width > (uint64_t{1} << 14) || height > (uint64_t{1} << 14) ||
                width * height * bpp > (uint64_t{64} << 20))
                continue;
            const codec_file_info expect{kCodecKindStill, 1, 1, bpp, width, height, 0};
            void* frame = std::malloc(width * height * bpp);
            if (!frame) continue;
            codec_png_read_into(kvfuzz::InputPath(data, size), &expect, frame);
            std::free(frame);
        }
    }
    return 0;
}
