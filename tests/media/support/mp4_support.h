// Helpers of the MP4 tests: movies made by ffmpeg, its decodes as oracles,
// and a small box editor of its own for crafted files.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kvmp4 {

// Runs ffmpeg quietly with the arguments; true on success.
bool Ffmpeg(const std::string& args);

// A movie made once by ffmpeg from the arguments (inputs and options; the
// output path is added) and kept in the build tree for later runs; its
// path, or an empty text on failure.
std::string CachedMovie(const std::string& name, const std::string& args);
// FfmpegYuv of such a movie, kept beside it.
std::string CachedYuv(const std::string& movie);

// The video of a movie decoded by ffmpeg as I420 frames (tight planes of
// the coded picture after cropping); empty on failure.
std::string FfmpegYuv(const std::string& path);

// Numpy's RGB of I420 frames with the codecs' integer formulas.
std::string NumpyRgbOfYuv(const std::string& yuv, int width, int height);

// One box of a file being edited: a leaf keeps its data, a container its
// header bytes (the fields before its child boxes) and children.
struct Box {
    std::string type;
    std::string data;  // leaf data, or a container's leading fields
    bool container = false;
    bool large = false;  // written with a 64-bit size, as it was read
    std::vector<std::unique_ptr<Box>> children;

    Box* Find(const std::string& t);  // pre-order, itself excluded
    Box* Add(const std::string& t, const std::string& data, bool container = false);
};

// The boxes of an MP4 file, parsing moov, trak, mdia, minf, stbl, dinf,
// edts, udta, stsd (8 leading bytes) and avc1 (78 leading bytes) as
// containers; Write gives the file back with every size recomputed (32-bit
// sizes, 64-bit where needed). Media data must come before "moov" for
// edits to keep sample offsets.
struct Mp4File {
    std::vector<std::unique_ptr<Box>> top;
    bool Read(const std::string& bytes);
    std::string Write() const;
    Box* Find(const std::string& t);
};

std::string Be32(uint32_t v);
std::string Be16(uint32_t v);
uint32_t GetBe32(const std::string& s, size_t at);
void PutBe32(std::string& s, size_t at, uint32_t v);

}  // namespace kvmp4
