// AVI movies: open, then read every frame.
#include "media/codec_formats.h"
#include "support/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kvfuzz::OpenAndReadFrames(data, size, kCodecKindMovie, kCodecAvi, codec_avi_open_file);
    return 0;
}
