#include "support/fuzz_support.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "media/codec_formats.h"

namespace kvfuzz {

namespace {

constexpr uint64_t kMaxFrameBytes = uint64_t{256} << 20;
constexpr uint64_t kMaxTotalBytes = uint64_t{1} << 30;

int InputFd() {
    static int fd = memfd_create("kv-fuzz-input", MFD_CLOEXEC);
    if (fd < 0) {
        perror("memfd_create");
        abort();
    }
    return fd;
}

void Fill(const uint8_t* data, size_t size) {
    const int fd = InputFd();
    if (ftruncate(fd, 0) != 0) abort();
    size_t done = 0;
    while (done < size) {
        ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0) abort();
        done += static_cast<size_t>(n);
    }
}

// One frame buffer for every input, grown as needed and kept: a fresh block
// of a few hundred megabytes per input would cost more than reading into it.
uint8_t* FrameBuffer(uint64_t bytes) {
    static uint8_t* buffer = nullptr;
    static uint64_t size = 0;
    if (bytes > size) {
        free(buffer);
        buffer = static_cast<uint8_t*>(malloc(bytes));
        size = buffer ? bytes : 0;
    }
    return buffer;
}

}  // namespace

const char* InputPath(const uint8_t* data, size_t size) {
    Fill(data, size);
    static char path[64];
    snprintf(path, sizeof path, "/proc/self/fd/%d", InputFd());
    return path;
}

const wchar_t* InputWidePath(const uint8_t* data, size_t size) {
    Fill(data, size);
    static wchar_t path[64];
    swprintf(path, 64, L"/proc/self/fd/%d", InputFd());
    return path;
}

void OpenAndReadFrames(const uint8_t* data, size_t size, uint64_t kind, uint64_t format, Opener open) {
    codec_file* file = static_cast<codec_file*>(calloc(1, sizeof(codec_file)));
    if (!file) return;
    file->info.kind = kind;
    file->format = format;
    file->mode = kCodecModeRead;
    if (!open(file, InputPath(data, size))) {
        codec_file_free(file);
        return;
    }
    const codec_file_info& info = file->info;
    uint64_t frame_bytes = 0;
    bool fits = !__builtin_mul_overflow(info.width, info.height, &frame_bytes) &&
                !__builtin_mul_overflow(frame_bytes, info.bytes_per_pixel, &frame_bytes) &&
                frame_bytes <= kMaxFrameBytes;
    if (fits && frame_bytes > 0) {
        uint8_t* buffer = FrameBuffer(frame_bytes);
        uint64_t total = 0;
        for (uint64_t frame = 0; buffer && frame < info.frame_count && total < kMaxTotalBytes; ++frame) {
            codec_file_read_frame(file, 0, frame, 0, buffer);
            total += frame_bytes;
        }
    }
    codec_file_close(file);
}

}  // namespace kvfuzz
