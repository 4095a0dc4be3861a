// The H.264 library binding: OpenH264 is loaded at run time when the first
// MP4 reader or writer needs it and unloaded when the last one is closed.
// Also the creation and configuration of its encoder and decoder objects.
// Used from one thread at a time (the codecs run on the caller's thread), so
// the reference count takes no lock.
#pragma once

#include <cstdint>

#include <wels/codec_api.h>

struct Mp4Writer;

// The library file: "libopenh264.so.7" from the program folder first, then
// by that name from the system's library path.
#define H264_LIBRARY_NAME "libopenh264.so.7"

// The process-wide binding. Only the create and destroy entry points are
// called; a library without all four of them is refused.
struct H264Library {
    uint64_t references;  // MP4 readers and writers alive, plus one being opened
    void* handle;
    int (*create_encoder)(ISVCEncoder**);     // WelsCreateSVCEncoder
    void (*destroy_encoder)(ISVCEncoder*);    // WelsDestroySVCEncoder
    int (*decoder_capability)(SDecoderCapability*);  // WelsGetDecoderCapability
    long (*create_decoder)(ISVCDecoder**);    // WelsCreateDecoder
    void (*destroy_decoder)(ISVCDecoder*);    // WelsDestroyDecoder
    OpenH264Version (*codec_version)();       // WelsGetCodecVersion
    void (*codec_version_ex)(OpenH264Version*);  // WelsGetCodecVersionEx
};
extern H264Library g_H264;

// Counts one more user; the first loads the library. 0, with the count as
// it was, when the library cannot be loaded or lacks an entry point.
int32_t h264_library_acquire();
// Counts one user less (nothing at 0); the last unloads the library.
void h264_library_release();

// The folder of the running program in UTF-8, without a trailing '/'
// except for the root.
const char* program_folder();

// Test seam: load this library file (an absolute path) instead of the
// program folder's or the system's; null restores the normal search.
void h264_library_set_path_for_testing(const char* path);

// A decoder object and the picture it last gave: its planes stay valid until
// the decoder is next called.
struct H264Decoder {
    ISVCDecoder* decoder;
    uint64_t last_sample;  // last decoded sample + 1; 0 = none
    const uint8_t* y;
    const uint8_t* u;
    const uint8_t* v;
    uint32_t y_stride;
    uint32_t uv_stride;
    uint32_t width;   // of the decoded picture, after cropping
    uint32_t height;
};

// Destroys the decoder object, if any, clears the state and creates a new
// decoder (error concealment off, AVC bitstream). 1/0.
int32_t h264_decoder_reset(H264Decoder* state);
// Destroys the decoder object, if any, and clears the state.
void h264_decoder_destroy(H264Decoder* state);

// The encoder's base parameters for the writer at the given bit rate.
void h264_encoder_params(const Mp4Writer* writer, uint32_t bitrate, SEncParamBase* params);
// Creates and initialises an encoder for the writer. When the bit rate is
// refused, lower multiples of a tenth of the writer's maximum are tried; the
// rate used is returned through `bitrate`. Null on failure.
ISVCEncoder* h264_encoder_create(const Mp4Writer* writer, uint32_t* bitrate);
// Uninitialises and destroys an encoder; null is ignored.
void h264_encoder_destroy(ISVCEncoder* encoder);
