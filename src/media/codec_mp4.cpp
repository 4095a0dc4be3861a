// MP4 files are not read or written yet: every entry point fails, so the
// facade refuses the format's extensions.
#include "media/codec_formats.h"

int32_t codec_mp4_open_file(codec_file*, const char*, codec_progress_fn, void*) { return 0; }
int32_t codec_mp4_read_frames(codec_file*, uint64_t, uint64_t, uint64_t, void*) { return 0; }
int32_t codec_mp4_create_file(codec_file*, const char*) { return 0; }
int32_t codec_mp4_write_frames(codec_file*, uint64_t, uint64_t, const void*) { return 0; }
int32_t codec_mp4_close_file(codec_file*) { return 1; }
