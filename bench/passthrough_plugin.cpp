// A filter plug-in for the adapter benchmark: accepts the pixel types of
// BENCH_CAPS (default 8-bit grey only), leaves the pixels as they are and
// reports them changed, so that a converted frame is converted back. An
// RGB24 block is read whole (a sum of its bytes), so that the adapter's own
// cost can be set against a call that does some work.
#include <cstdint>
#include <cstdlib>

#include "korvane/filter_plugin.h"

extern "C" {

KV_PLUGIN_EXPORT uint32_t em_init(fp_rerun_fn, fp_redraw_fn, fp_close_ui_fn, fp_seek_fn, fp_pump_fn,
                                  fp_calibration_fn) {
    const char* caps = getenv("BENCH_CAPS");
    return caps ? static_cast<uint32_t>(strtoul(caps, nullptr, 0)) : FP_CAP_GRAY8;
}
KV_PLUGIN_EXPORT const char* em_name(const char*) { return "pass-through"; }
KV_PLUGIN_EXPORT void* em_create(void* host) { return host; }
KV_PLUGIN_EXPORT void em_delete(void*) {}
KV_PLUGIN_EXPORT int32_t on_filter(void*, void* pixels, int64_t width, int64_t height, uint16_t bits, uint64_t,
                                   int64_t, int64_t, int64_t, int64_t, uint32_t, uint32_t) {
    if (bits != 24) return 1;
    const uint8_t* p = static_cast<const uint8_t*>(pixels);
    uint64_t sum = 0;
    for (int64_t i = 0; i < width * height * 3; ++i) sum += p[i];
    return sum != UINT64_MAX ? 1 : 0;  // always 1; the sum cannot be dropped
}

}  // extern "C"
