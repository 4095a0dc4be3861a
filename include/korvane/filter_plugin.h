/* korvane filter plug-ins: shared libraries named *.wfm in the program's
 * "plugin" folder whose filters join the filter chains like built-in ones.
 *
 * A plug-in exports the functions below under these exact names with C
 * linkage (default visibility: use KV_PLUGIN_EXPORT). em_init, em_name,
 * em_create and em_delete are required; the others are optional. Texts are
 * UTF-8 unless said otherwise; "instance" is the pointer em_create returned.
 *
 * Pixel blocks handed to on_filter are rows from top to bottom without
 * padding, channels in the order of the format (R, G, B), each channel an
 * unsigned integer of the format's width in native byte order, doubles for
 * XYZ. The bits per pixel tell the type:
 *     8  8-bit grey        16  16-bit grey     32  32-bit grey
 *     24 24-bit RGB        48  48-bit RGB      96  96-bit RGB
 *     192 XYZ as three doubles
 * Frames the program holds as HSV (three 16-bit channels H, S, V) or CMYK
 * (four 8-bit channels C, M, Y, K) reach a plug-in that accepts 48-bit RGB
 * or 32-bit grey unconverted, as 48- and 32-bit pixels.
 *
 * Threads: on_filter runs on the chain's worker thread, every other entry
 * point on the user-interface thread. The host callbacks are meant for the
 * user-interface thread; called from another thread, rerun runs the chain
 * asynchronously, redraw is posted, pump returns 1 without dispatching, and
 * seek and close UI do nothing. */
#ifndef KORVANE_FILTER_PLUGIN_H
#define KORVANE_FILTER_PLUGIN_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define KV_PLUGIN_EXPORT __attribute__((visibility("default")))
#else
#define KV_PLUGIN_EXPORT
#endif

/* Capability flags returned by em_init; 0 rejects the plug-in. */
#define FP_CAP_GRAY8 0x01u /* pixel types accepted by on_filter */
#define FP_CAP_GRAY16 0x02u
#define FP_CAP_GRAY32 0x04u
#define FP_CAP_RGB24 0x08u
#define FP_CAP_RGB48 0x10u
#define FP_CAP_RGB96 0x20u
#define FP_CAP_XYZ 0x40u
#define FP_CAP_UI 0x100u /* the filters have a settings UI */

/* Mouse flags. */
#define FP_MOUSE_SHIFT 0x1u
#define FP_MOUSE_CTRL 0x2u

#ifdef __cplusplus
extern "C" {
#endif

/* Host callbacks, handed to em_init in this order. */
typedef void (*fp_rerun_fn)(void);                 /* run the chain again on the current frame and show it */
typedef void (*fp_redraw_fn)(void);                /* redraw the picture */
typedef void (*fp_close_ui_fn)(void* hostFilter);  /* the settings UI of this filter was closed by the user */
typedef void (*fp_seek_fn)(uint64_t frame);        /* go to a frame */
typedef int32_t (*fp_pump_fn)(void);               /* dispatch queued window messages; 0 once quit was seen */
/* The calibration scale; writes the Y-axis direction (+1 or -1) and a
 * pointer to the unit text (wide characters, UTF-32; owned by the host)
 * where pointers are given. */
typedef double (*fp_calibration_fn)(int32_t* axisY, const wchar_t** unit);

/* Converts an image point in place into OpenGL coordinates of the current
 * drawing target; valid only during on_overlay_view. */
typedef void (*fp_overlay_transform_fn)(double* x, double* y);

typedef uint32_t (*fp_em_init_fn)(fp_rerun_fn rerun, fp_redraw_fn redraw, fp_close_ui_fn closeUi, fp_seek_fn seek,
                                  fp_pump_fn pump, fp_calibration_fn calibration);
typedef void (*fp_em_exit_fn)(void);
/* Display name in the language ("jp" Japanese, else English); owned by the
 * plug-in and copied by the host at once. */
typedef const char* (*fp_em_name_fn)(const char* language);
/* hostFilter is opaque; the plug-in hands it back to the close-UI callback. */
typedef void* (*fp_em_create_fn)(void* hostFilter);
typedef void (*fp_em_delete_fn)(void* instance);
/* parentWindow: the X11 window id of the parent screen, 0 without one. */
typedef void (*fp_em_show_fn)(void* instance, uint64_t parentWindow);
typedef void (*fp_em_hide_fn)(void* instance);
typedef void (*fp_em_uilock_fn)(void* instance, int32_t lock); /* 1 grey out the UI, 0 enable it */
typedef void (*fp_on_enable_fn)(void* instance, int32_t enabled);
/* The text stays valid until the next on_lang or the deletion of the instance. */
typedef void (*fp_on_lang_fn)(void* instance, const char* language);
typedef void (*fp_on_size_fn)(void* instance, uint64_t width, uint64_t height, uint16_t bits, uint64_t frames);
/* (x0, y0) - (x1, y1): the inclusive processing rectangle. connect 4 or 8,
 * bg 1 white or 0 black. Non-zero when the pixels were changed. */
typedef int32_t (*fp_on_filter_fn)(void* instance, void* pixels, int64_t width, int64_t height, uint16_t bits,
                                   uint64_t frame, int64_t x0, int64_t y0, int64_t x1, int64_t y1, uint32_t connect,
                                   uint32_t bg);
/* Guide colour channels 0 to 1; display rectangle d*, visible image part i*
 * (both inclusive); zoom: 0 or -1 fitted, 1 one to one, n >= 2 magnified,
 * n <= -2 shrunk. */
typedef void (*fp_on_overlay_view_fn)(void* instance, fp_overlay_transform_fn transform, double guideRed,
                                      double guideGreen, double guideBlue, int32_t dx0, int32_t dy0, int32_t dx1,
                                      int32_t dy1, int32_t ix0, int32_t iy0, int32_t ix1, int32_t iy1, int32_t zoom);
/* Image coordinates; flags FP_MOUSE_SHIFT, FP_MOUSE_CTRL. Used by
 * on_mouse_move, on_mouse_lbutton_down, on_mouse_lbutton_up,
 * on_mouse_rbutton_down and on_mouse_rbutton_up. */
typedef void (*fp_on_mouse_fn)(void* instance, int64_t x, int64_t y, uint32_t flags);

#ifdef __cplusplus
}
#endif

#endif /* KORVANE_FILTER_PLUGIN_H */
