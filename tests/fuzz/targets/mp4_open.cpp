// MP4 movies through the whole open: the sample tables, then the frame scan
// that decodes every sample once, then reading every frame.
#include "media/codec_formats.h"
#include "support/fuzz_support.h"

namespace {
int32_t Open(codec_file* file, const char* path) { return codec_mp4_open_file(file, path, nullptr, nullptr); }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kvfuzz::OpenAndReadFrames(data, size, kCodecKindMovie, kCodecMp4, Open);
    return 0;
}
