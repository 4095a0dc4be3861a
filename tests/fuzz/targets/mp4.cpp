// MP4 movies: the box tree and the sample tables of the open (track, sizes,
// interval, chunk offsets, parameter sets, sync samples), without the decoder.
#include <cstdio>

#include "media/mp4.h"
#include "support/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* file = fopen(kvfuzz::InputPath(data, size), "rb");
    if (!file) return 0;
    codec_mp4_close(mp4_reader_parse(file));
    fclose(file);
    return 0;
}
