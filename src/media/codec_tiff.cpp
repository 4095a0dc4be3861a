// TIFF files are not read or written yet: every entry point fails, so the
// facade refuses the format's extensions.
#include "media/codec_formats.h"

int32_t codec_tiff_open(codec_file*, const char*) { return 0; }
int32_t codec_tiff_read(codec_file*, uint64_t, uint64_t, uint64_t, void*) { return 0; }
int32_t codec_tiff_create(codec_file*, const char*) { return 0; }
int32_t codec_tiff_write(codec_file*, uint64_t, uint64_t, const void*) { return 0; }
int32_t codec_tiff_close(codec_file*) { return 1; }
