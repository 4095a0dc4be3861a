/* korvane image modules: shared libraries named *.wim in the program's
 * "plugin" folder that read and write further image and movie formats.
 *
 * A module exports the six functions below under these exact names with C
 * linkage (default visibility: use KV_MODULE_EXPORT). Paths and extension
 * texts are UTF-8. Results: 1 or a handle for success, 0 or null for failure.
 *
 * Pixel buffers are tightly packed rows, top row first, owned by the
 * program; samples are in native byte order, channels R, G, B. The layout is
 * chosen by bits per pixel:
 *     8  8-bit grey          16  16-bit grey        24  24-bit RGB
 *     32 32-bit grey         48  48-bit RGB         96  96-bit RGB (u32)
 *     192 XYZ as three doubles
 * The time value is milliseconds per frame for movies and 0 otherwise. */
#ifndef KORVANE_IMAGE_MODULE_H
#define KORVANE_IMAGE_MODULE_H

#include <stdint.h>

#if defined(__GNUC__)
#define KV_MODULE_EXPORT __attribute__((visibility("default")))
#else
#define KV_MODULE_EXPORT
#endif

/* Capability flags given by em_info. */
#define EM_CAP_GRAY8 0x01u     /* pixel formats accepted for writing */
#define EM_CAP_GRAY16 0x02u
#define EM_CAP_GRAY32 0x04u
#define EM_CAP_RGB24 0x08u
#define EM_CAP_RGB48 0x10u
#define EM_CAP_RGB96 0x20u
#define EM_CAP_XYZ 0x40u
#define EM_CAP_STILL 0x100u       /* the extensions are still-image files */
#define EM_CAP_MULTIFRAME 0x200u  /* multi-frame files, all frames in one file */
#define EM_CAP_MOVIE 0x400u       /* movies: the time value is honoured */

#ifdef __cplusplus
extern "C" {
#endif

/* Sets *extensions to a null-terminated array of extension texts (without
 * the full stop, owned by the module) and *caps to the capability flags.
 * The result is not used. */
typedef int32_t (*em_info_fn)(const char* const** extensions, uint32_t* caps);
/* Opens a file for reading and reports its format; the handle or null. */
typedef void* (*em_open_fn)(const char* path, uint16_t* bits, uint64_t* width, uint64_t* height,
                            uint64_t* frames, uint64_t* time);
/* Reads frame `index` into a buffer of width x height x bits / 8 bytes. */
typedef int32_t (*em_read_fn)(void* handle, void* pixels, uint64_t index);
/* Creates (truncates) a file for writing; the handle or null. */
typedef void* (*em_create_fn)(const char* path, uint16_t bits, uint64_t width, uint64_t height, uint64_t frames,
                              uint64_t time);
/* Appends one frame. */
typedef int32_t (*em_write_fn)(void* handle, const void* pixels);
/* Completes a written file and frees the handle (also on failure); 0 when
 * the file could not be completed. */
typedef int32_t (*em_close_fn)(void* handle);

#ifdef __cplusplus
}
#endif

#endif /* KORVANE_IMAGE_MODULE_H */
