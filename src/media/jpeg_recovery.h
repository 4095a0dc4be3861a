// libjpeg's error handling shared by the JPEG codecs: the standard error
// manager whose exit routine jumps to a recovery point instead of ending the
// process, and the wrapper that sets that point around library calls.
#pragma once

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

// Fills `error` as the library's standard manager with the recovering exit
// routine; warnings that say the picture data is damaged or ends early are
// taken as errors. Returns `error`.
jpeg_error_mgr* JpegErrorManager(jpeg_error_mgr* error);

// Runs `calls` behind a recovery point: a library error ends them and gives
// false. The jump skips destructors, so `calls` keeps no objects that have
// them.
template <class Calls>
bool JpegGuarded(j_common_ptr cinfo, Calls calls) {
    jmp_buf recovery;
    cinfo->client_data = &recovery;
    if (setjmp(recovery)) {
        cinfo->client_data = nullptr;
        return false;
    }
    calls();
    cinfo->client_data = nullptr;
    return true;
}
