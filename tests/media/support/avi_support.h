// Helpers of the AVI tests: files made by ffmpeg and their frames as ffmpeg
// decodes them, frames read through the facade, and a builder of crafted
// AVI files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/codec.h"

namespace kvavi {

// Runs ffmpeg quietly with the given arguments; true on success.
bool Ffmpeg(const std::string& args);

// Every frame of a movie decoded by ffmpeg as raw video of the given pixel
// format ("rgb24", "gray", "yuv420p"); empty on failure.
std::string FfmpegFrames(const std::string& path, const std::string& pix_fmt);

// ffprobe's view of the first video stream: frames counted by decoding,
// size and the frame rate as a fraction text ("25/1").
struct Probe {
    bool ok = false;
    uint64_t frames = 0;
    uint64_t width = 0;
    uint64_t height = 0;
    std::string rate;
    std::string codec;
};
Probe FfprobeVideo(const std::string& path);

// Opens a movie through the facade and reads every frame; empty when the
// open or any read fails. `info` receives the handle's info.
std::string FacadeReadAll(const std::string& path, codec_file_info* info = nullptr);

// Writes the frames through the facade (AVI codec and JPEG quality in the
// options); the close result, 0 when any write failed.
int32_t FacadeWriteMovie(const std::string& path, uint64_t width, uint64_t height, uint64_t bpp,
                         uint64_t interval, const std::string& frames, uint32_t avi_codec, uint32_t quality = 0);

// Little-endian fields inside a byte string.
uint32_t Get32(const std::string& bytes, size_t at);
void Set32(std::string& bytes, size_t at, uint32_t value);
// Offset of the first chunk with this fourcc at or after `from` (found by
// its four characters), or std::string::npos.
size_t FindChunk(const std::string& bytes, const char* fourcc, size_t from = 0);

// A crafted AVI: "RIFF" "AVI " holding the given "hdrl" list bytes (taken
// from a real file), a "movi" list of the given chunks and, when asked, an
// "idx1" whose entries the caller lists.
struct Chunk {
    std::string fourcc;
    std::string data;
};
struct Idx1Entry {
    std::string ckid;
    uint32_t offset;  // relative to the word "movi"
    uint32_t size;
};
// Offsets of the chunks' headers relative to the word "movi", as an idx1
// entry of another writer would give them, for the chunks Build would lay
// out.
std::vector<uint32_t> MoviOffsets(const std::vector<Chunk>& chunks);
std::string Build(const std::string& hdrl, const std::vector<Chunk>& chunks, const std::vector<Idx1Entry>* idx1);
// The "hdrl" list (header included) and the frame chunks of a file.
std::string HdrlOf(const std::string& file);
std::vector<Chunk> FramesOf(const std::string& file);

}  // namespace kvavi
