// AVI files are not read or written yet: every entry point fails, so the
// facade refuses the format's extensions.
#include "media/codec_formats.h"

int32_t codec_avi_open_file(codec_file*, const char*) { return 0; }
int32_t codec_avi_read_frames(codec_file*, uint64_t, uint64_t, uint64_t, void*) { return 0; }
int32_t codec_avi_create_file(codec_file*, const char*) { return 0; }
int32_t codec_avi_write_frame(codec_file*, uint64_t, uint64_t, const void*) { return 0; }
int32_t codec_avi_close_file(codec_file*) { return 1; }
