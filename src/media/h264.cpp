// The OpenH264 binding: loading and unloading by reference count, and the
// encoder and decoder objects as the MP4 reader and writer use them.
#include "media/h264.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "media/mp4.h"
#include "platform/dynlib.h"
#include "platform/files.h"

H264Library g_H264;

namespace {

char g_TestPath[4096];

// The lowest rate the encoder is offered when it refuses the one asked for.
constexpr uint64_t kLowestBitrate = 10000;

void ClearEntryPoints() {
    g_H264.create_encoder = nullptr;
    g_H264.destroy_encoder = nullptr;
    g_H264.decoder_capability = nullptr;
    g_H264.create_decoder = nullptr;
    g_H264.destroy_decoder = nullptr;
    g_H264.codec_version = nullptr;
    g_H264.codec_version_ex = nullptr;
}

template <class F>
void Lookup(void* library, const char* name, F*& entry) {
    entry = reinterpret_cast<F*>(PlatGetProcAddress(library, name));
}

void* OpenLibraryFile() {
    if (g_TestPath[0]) return PlatLoadLibrary(g_TestPath);
    char path[sizeof g_TestPath];
    const int n = snprintf(path, sizeof path, "%s%s", program_folder(), "/" H264_LIBRARY_NAME);
    void* library = (n > 0 && static_cast<size_t>(n) < sizeof path) ? PlatLoadLibrary(path) : nullptr;
    return library ? library : PlatLoadSystemLibrary(H264_LIBRARY_NAME);
}

// Loads the library and its entry points; a library without the create and
// destroy functions would be called through null pointers, so it is refused.
bool LoadLibrary() {
    ClearEntryPoints();
    void* library = OpenLibraryFile();
    if (!library) return false;
    Lookup(library, "WelsCreateSVCEncoder", g_H264.create_encoder);
    Lookup(library, "WelsDestroySVCEncoder", g_H264.destroy_encoder);
    Lookup(library, "WelsGetDecoderCapability", g_H264.decoder_capability);
    Lookup(library, "WelsCreateDecoder", g_H264.create_decoder);
    Lookup(library, "WelsDestroyDecoder", g_H264.destroy_decoder);
    Lookup(library, "WelsGetCodecVersion", g_H264.codec_version);
    Lookup(library, "WelsGetCodecVersionEx", g_H264.codec_version_ex);
    if (!g_H264.create_encoder || !g_H264.destroy_encoder || !g_H264.create_decoder || !g_H264.destroy_decoder) {
        ClearEntryPoints();
        PlatFreeLibrary(library);
        return false;
    }
    g_H264.handle = library;
    return true;
}

}  // namespace

int32_t h264_library_acquire() {
    if (g_H264.references == UINT64_MAX) return 0;
    if (++g_H264.references == 1 && !LoadLibrary()) {
        --g_H264.references;
        return 0;
    }
    return 1;
}

void h264_library_release() {
    if (g_H264.references == 0) return;
    if (--g_H264.references != 0) return;
    PlatFreeLibrary(g_H264.handle);
    g_H264.handle = nullptr;
    ClearEntryPoints();
}

const char* program_folder() {
    static char folder[4096];
    if (!folder[0]) {
        char* utf8 = FgWideToAnsi(FgGetExeDir());
        if (utf8 && strlen(utf8) < sizeof folder) strcpy(folder, utf8);
        free(utf8);
    }
    return folder;
}

void h264_library_set_path_for_testing(const char* path) {
    g_TestPath[0] = '\0';
    if (path && strlen(path) < sizeof g_TestPath) strcpy(g_TestPath, path);
}

void h264_decoder_destroy(H264Decoder* state) {
    if (state->decoder) {
        state->decoder->Uninitialize();
        if (g_H264.destroy_decoder) g_H264.destroy_decoder(state->decoder);
    }
    memset(state, 0, sizeof *state);
}

int32_t h264_decoder_reset(H264Decoder* state) {
    h264_decoder_destroy(state);
    ISVCDecoder* decoder = nullptr;
    if (!g_H264.create_decoder || g_H264.create_decoder(&decoder) != 0 || !decoder) return 0;
    int quiet = WELS_LOG_QUIET;
    decoder->SetOption(DECODER_OPTION_TRACE_LEVEL, &quiet);
    SDecodingParam params;
    memset(&params, 0, sizeof params);
    params.sVideoProperty.size = sizeof params.sVideoProperty;
    params.sVideoProperty.eVideoBsType = VIDEO_BITSTREAM_AVC;
    decoder->Initialize(&params);
    state->decoder = decoder;
    return 1;
}

void h264_encoder_params(const Mp4Writer* writer, uint32_t bitrate, SEncParamBase* params) {
    memset(params, 0, sizeof *params);
    params->iUsageType = CAMERA_VIDEO_REAL_TIME;
    params->iPicWidth = static_cast<int>(writer->width);
    params->iPicHeight = static_cast<int>(writer->height);
    params->iTargetBitrate = static_cast<int>(bitrate > INT32_MAX ? INT32_MAX : bitrate);
    params->iRCMode = RC_QUALITY_MODE;
    params->fMaxFrameRate = 1000000.0f / static_cast<float>(writer->interval);
}

ISVCEncoder* h264_encoder_create(const Mp4Writer* writer, uint32_t* bitrate) {
    ISVCEncoder* encoder = nullptr;
    if (!g_H264.create_encoder || g_H264.create_encoder(&encoder) != 0 || !encoder) return nullptr;
    // Quiet before Initialize, which otherwise prints a warning.
    int quiet = WELS_LOG_QUIET;
    encoder->SetOption(ENCODER_OPTION_TRACE_LEVEL, &quiet);
    SEncParamBase params;
    h264_encoder_params(writer, *bitrate, &params);
    const uint64_t requested = *bitrate > INT32_MAX ? INT32_MAX : *bitrate;
    if (encoder->Initialize(&params) != 0) {
        // Lower multiples of a tenth of the maximum, from the one below the
        // first at or above the requested rate down to the tenth itself.
        const uint64_t step = writer->max_bitrate / 10;
        bool initialised = false;
        if (step > 0) {
            uint64_t top = step;
            while (top < *bitrate && top < writer->max_bitrate) top += step;
            for (uint64_t rate = top - step; rate >= step && !initialised; rate -= step) {
                *bitrate = static_cast<uint32_t>(rate > INT32_MAX ? INT32_MAX : rate);
                h264_encoder_params(writer, *bitrate, &params);
                initialised = encoder->Initialize(&params) == 0;
            }
        }
        // The library caps the rate by its highest level, which may lie
        // below every such multiple at high frame rates: halve instead.
        for (uint64_t rate = requested / 2; rate >= kLowestBitrate && !initialised; rate /= 2) {
            *bitrate = static_cast<uint32_t>(rate);
            h264_encoder_params(writer, *bitrate, &params);
            initialised = encoder->Initialize(&params) == 0;
        }
        if (!initialised) {
            g_H264.destroy_encoder(encoder);
            return nullptr;
        }
    }
    encoder->SetOption(ENCODER_OPTION_TRACE_LEVEL, &quiet);
    int format = videoFormatI420;
    encoder->SetOption(ENCODER_OPTION_DATAFORMAT, &format);
    encoder->SetOption(ENCODER_OPTION_SVC_ENCODE_PARAM_BASE, &params);
    return encoder;
}

void h264_encoder_destroy(ISVCEncoder* encoder) {
    if (!encoder) return;
    encoder->Uninitialize();
    if (g_H264.destroy_encoder) g_H264.destroy_encoder(encoder);
}
