// TIFF files: open, then read every page.
#include "media/codec_formats.h"
#include "support/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kvfuzz::OpenAndReadFrames(data, size, kCodecKindStill, kCodecTiff, codec_tiff_open);
    return 0;
}
