// BMP files are not read or written yet: every entry point fails, so the
// facade refuses the format's extensions.
#include "media/codec_formats.h"

int32_t codec_bmp_open(codec_file*, const char*) { return 0; }
int32_t codec_bmp_read(codec_file*, uint64_t, uint64_t, uint64_t, void*) { return 0; }
int32_t codec_bmp_create(codec_file*, const char*) { return 0; }
int32_t codec_bmp_write(codec_file*, uint64_t, uint64_t, const void*) { return 0; }
int32_t codec_bmp_close(codec_file*) { return 1; }
