// ozt files: the module's own sources, em_open on the input, then em_read
// of each frame, the last frame and the first again (seeking back).
#include <cstdlib>

#include "../../../src/modules/ozt/ozt.cpp"
#include "support/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint16_t bits = 0;
    uint64_t width = 0, height = 0, frames = 0, time = 0;
    void* h = em_open(kvfuzz::InputPath(data, size), &bits, &width, &height, &frames, &time);
    if (!h) return 0;
    // An opened file holds at least one frame, so the frame is no larger than the input.
    uint64_t bytes = width * height * (bits / 8u);
    if (bytes > size) abort();
    void* pixels = malloc(bytes ? bytes : 1);
    for (uint64_t i = 0; i < frames && i < 4096; ++i)
        if (!em_read(h, pixels, i)) break;
    em_read(h, pixels, frames - 1);
    em_read(h, pixels, 0);
    em_read(h, pixels, frames);
    free(pixels);
    em_close(h);
    return 0;
}
