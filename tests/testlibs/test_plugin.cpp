// A test filter plug-in that appends every call it receives to the file
// named by TP_LOG (one line each), accepts the pixel types of TP_CAPS, and
// in on_filter saves the pixels it was given to TP_PIXELS, then inverts
// every sample (negates XYZ doubles) and returns 1, or changes nothing and
// returns 0 when TP_RESULT is "0". With TP_CALLBACKS set, on_filter calls
// every host callback. Compile definitions make the broken variants.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cstdarg>

#include "korvane/filter_plugin.h"

#ifndef TP_NAME
#define TP_NAME "Test plug-in"
#endif

#ifdef TP_UNRESOLVED
extern "C" int tp_symbol_nobody_defines(void);
#endif

namespace {

fp_rerun_fn g_rerun;
fp_redraw_fn g_redraw;
fp_close_ui_fn g_closeUi;
fp_seek_fn g_seek;
fp_pump_fn g_pump;
fp_calibration_fn g_calibration;

struct Instance {
    void* hostFilter;
};

void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Log(const char* format, ...) {
    const char* path = getenv("TP_LOG");
    if (!path) return;
    FILE* f = fopen(path, "a");
    if (!f) return;
    va_list args;
    va_start(args, format);
    vfprintf(f, format, args);
    va_end(args);
    fputc('\n', f);
    fclose(f);
}

}  // namespace

extern "C" {

KV_PLUGIN_EXPORT uint32_t em_init(fp_rerun_fn rerun, fp_redraw_fn redraw, fp_close_ui_fn closeUi, fp_seek_fn seek,
                                  fp_pump_fn pump, fp_calibration_fn calibration) {
#ifdef TP_UNRESOLVED
    tp_symbol_nobody_defines();
#endif
    g_rerun = rerun;
    g_redraw = redraw;
    g_closeUi = closeUi;
    g_seek = seek;
    g_pump = pump;
    g_calibration = calibration;
    Log("em_init");
#ifdef TP_INIT_ZERO
    return 0;
#else
    const char* caps = getenv("TP_CAPS");
    return caps ? static_cast<uint32_t>(strtoul(caps, nullptr, 0)) : 0x1FFu;
#endif
}

#ifndef TP_NO_NAME
KV_PLUGIN_EXPORT const char* em_name(const char* language) {
    Log("em_name %s", language);
#ifdef TP_NULL_NAME
    return nullptr;
#else
    return strcmp(language, "jp") == 0 ? "テスト" : TP_NAME;
#endif
}
#endif

KV_PLUGIN_EXPORT void* em_create(void* hostFilter) {
    Log("em_create");
    Instance* i = static_cast<Instance*>(calloc(1, sizeof(Instance)));
    i->hostFilter = hostFilter;
    return i;
}

KV_PLUGIN_EXPORT void em_delete(void* instance) {
    Log("em_delete");
    free(instance);
}

#ifndef TP_MINIMAL
KV_PLUGIN_EXPORT void em_exit(void) { Log("em_exit"); }
KV_PLUGIN_EXPORT void em_show(void*, uint64_t parent) { Log("em_show %d", parent != 0); }
KV_PLUGIN_EXPORT void em_hide(void*) { Log("em_hide"); }
KV_PLUGIN_EXPORT void em_uilock(void*, int32_t lock) { Log("em_uilock %d", lock); }
KV_PLUGIN_EXPORT void on_enable(void*, int32_t enabled) { Log("on_enable %d", enabled); }
KV_PLUGIN_EXPORT void on_lang(void*, const char* language) { Log("on_lang %s", language); }
KV_PLUGIN_EXPORT void on_size(void*, uint64_t w, uint64_t h, uint16_t bits, uint64_t frames) {
    Log("on_size %llu %llu %u %llu", static_cast<unsigned long long>(w), static_cast<unsigned long long>(h), bits,
        static_cast<unsigned long long>(frames));
}

KV_PLUGIN_EXPORT int32_t on_filter(void* instance, void* pixels, int64_t width, int64_t height, uint16_t bits,
                                   uint64_t frame, int64_t x0, int64_t y0, int64_t x1, int64_t y1, uint32_t connect,
                                   uint32_t bg) {
    Log("on_filter %u %lld %lld %llu %lld %lld %lld %lld %u %u", bits, static_cast<long long>(width),
        static_cast<long long>(height), static_cast<unsigned long long>(frame), static_cast<long long>(x0),
        static_cast<long long>(y0), static_cast<long long>(x1), static_cast<long long>(y1), connect, bg);
    size_t bytes = static_cast<size_t>(width * height) * (bits / 8u);
    if (const char* path = getenv("TP_PIXELS")) {
        FILE* f = fopen(path, "wb");
        if (f) {
            fwrite(pixels, 1, bytes, f);
            fclose(f);
        }
    }
    if (getenv("TP_CALLBACKS")) {
        Instance* i = static_cast<Instance*>(instance);
        g_rerun();
        g_redraw();
        g_seek(5);
        g_closeUi(i->hostFilter);
        int32_t pumped = g_pump();
        int32_t axis = 0;
        const wchar_t* unit = nullptr;
        double scale = g_calibration(&axis, &unit);
        Log("callbacks pump=%d scale=%g axis=%d unit=%ls", pumped, scale, axis, unit);
    }
    const char* result = getenv("TP_RESULT");
    if (result && strcmp(result, "0") == 0) return 0;
    uint8_t* p = static_cast<uint8_t*>(pixels);
    if (bits == 192) {
        for (size_t k = 0; k < bytes / 8; ++k) {
            double v;
            memcpy(&v, p + 8 * k, 8);
            v = -v;
            memcpy(p + 8 * k, &v, 8);
        }
    } else {
        for (size_t k = 0; k < bytes; ++k) p[k] = static_cast<uint8_t>(~p[k]);
    }
    return 1;
}

KV_PLUGIN_EXPORT void on_overlay_view(void*, fp_overlay_transform_fn transform, double r, double g, double b,
                                      int32_t dx0, int32_t dy0, int32_t dx1, int32_t dy1, int32_t ix0, int32_t iy0,
                                      int32_t ix1, int32_t iy1, int32_t zoom) {
    double ax = ix0, ay = iy0, bx = ix1, by = iy1;
    transform(&ax, &ay);
    transform(&bx, &by);
    Log("on_overlay_view %g %g %g %d %d %d %d %d %d %d %d %d -> %g %g %g %g", r, g, b, dx0, dy0, dx1, dy1, ix0, iy0,
        ix1, iy1, zoom, ax, ay, bx, by);
}

KV_PLUGIN_EXPORT void on_mouse_move(void*, int64_t x, int64_t y, uint32_t f) { Log("move %lld %lld %u", (long long)x, (long long)y, f); }
KV_PLUGIN_EXPORT void on_mouse_lbutton_down(void*, int64_t x, int64_t y, uint32_t f) { Log("ldown %lld %lld %u", (long long)x, (long long)y, f); }
KV_PLUGIN_EXPORT void on_mouse_lbutton_up(void*, int64_t x, int64_t y, uint32_t f) { Log("lup %lld %lld %u", (long long)x, (long long)y, f); }
KV_PLUGIN_EXPORT void on_mouse_rbutton_down(void*, int64_t x, int64_t y, uint32_t f) { Log("rdown %lld %lld %u", (long long)x, (long long)y, f); }
KV_PLUGIN_EXPORT void on_mouse_rbutton_up(void*, int64_t x, int64_t y, uint32_t f) { Log("rup %lld %lld %u", (long long)x, (long long)y, f); }
#endif

}  // extern "C"
