// A test image module whose files claim any format: a text line
// "bits width height frames time" followed by raw frames. Its em_open
// believes the line, so tests can make it report sizes the host must
// refuse. Compile definitions make the broken variants.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "korvane/image_module.h"

#ifndef FAKE_CAPS
#define FAKE_CAPS 0x17Fu
#endif

#ifdef FAKE_UNRESOLVED
extern "C" int fake_symbol_nobody_defines(void);
#endif

namespace {

struct FakeHandle {
    FILE* file;
    long dataStart;
    uint64_t frameBytes;
    int writer;
};

}  // namespace

extern "C" {

KV_MODULE_EXPORT int32_t em_info(const char* const** extensions, uint32_t* caps) {
#ifdef FAKE_UNRESOLVED
    fake_symbol_nobody_defines();
#endif
#ifdef FAKE_NULL_EXTS
    (void)extensions;
#else
    static const char* const kExtensions[] = {FAKE_EXTENSIONS, nullptr};
    *extensions = kExtensions;
#endif
    *caps = FAKE_CAPS;
    return 1;
}

KV_MODULE_EXPORT void* em_open(const char* path, uint16_t* bits, uint64_t* width, uint64_t* height,
                               uint64_t* frames, uint64_t* time) {
    FILE* f = fopen(path, "rb");
    if (!f) return nullptr;
    unsigned b = 0;
    unsigned long long w = 0, h = 0, n = 0, t = 0;
    if (fscanf(f, "%u %llu %llu %llu %llu", &b, &w, &h, &n, &t) != 5 || fgetc(f) != '\n') {
        fclose(f);
        return nullptr;
    }
    FakeHandle* handle = static_cast<FakeHandle*>(calloc(1, sizeof(FakeHandle)));
    handle->file = f;
    handle->dataStart = ftell(f);
    handle->frameBytes = w * h * (b / 8);
    *bits = static_cast<uint16_t>(b);
    *width = w;
    *height = h;
    *frames = n;
    *time = t;
    return handle;
}

// Reads the frame when the file holds it, else writes a pattern over the
// whole claimed frame (which shows an undersized buffer to the sanitizer).
KV_MODULE_EXPORT int32_t em_read(void* handle, void* pixels, uint64_t index) {
    FakeHandle* h = static_cast<FakeHandle*>(handle);
    uint8_t* p = static_cast<uint8_t*>(pixels);
    if (fseek(h->file, h->dataStart + static_cast<long>(index * h->frameBytes), SEEK_SET) == 0 &&
        fread(p, 1, h->frameBytes, h->file) == h->frameBytes)
        return 1;
    for (uint64_t i = 0; i < h->frameBytes; ++i) p[i] = static_cast<uint8_t>(index * 31 + i);
    return 1;
}

KV_MODULE_EXPORT void* em_create(const char* path, uint16_t bits, uint64_t width, uint64_t height,
                                 uint64_t frames, uint64_t time) {
    FILE* f = fopen(path, "wb");
    if (!f) return nullptr;
    fprintf(f, "%u %llu %llu %llu %llu\n", static_cast<unsigned>(bits), static_cast<unsigned long long>(width),
            static_cast<unsigned long long>(height), static_cast<unsigned long long>(frames ? frames : 1),
            static_cast<unsigned long long>(time));
    FakeHandle* handle = static_cast<FakeHandle*>(calloc(1, sizeof(FakeHandle)));
    handle->file = f;
    handle->frameBytes = width * height * (bits / 8);
    handle->writer = 1;
    return handle;
}

#ifndef FAKE_NO_WRITE
KV_MODULE_EXPORT int32_t em_write(void* handle, const void* pixels) {
    FakeHandle* h = static_cast<FakeHandle*>(handle);
    return fwrite(pixels, 1, h->frameBytes, h->file) == h->frameBytes ? 1 : 0;
}
#endif

KV_MODULE_EXPORT int32_t em_close(void* handle) {
    FakeHandle* h = static_cast<FakeHandle*>(handle);
    int ok = fclose(h->file) == 0;
    free(h);
    return ok;
}

}  // extern "C"
