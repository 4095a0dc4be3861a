#include "media/support/avi_support.h"

#include <sstream>

#include "media/support/media_support.h"
#include "support/testsupport.h"

namespace kvavi {

bool Ffmpeg(const std::string& args) {
    return kvtest::RunCommand("ffmpeg -nostdin -v error -y " + args + " 2>/dev/null") == 0;
}

std::string FfmpegFrames(const std::string& path, const std::string& pix_fmt) {
    std::string out;
    if (kvtest::RunCommand("ffmpeg -nostdin -v error -i '" + path + "' -f rawvideo -pix_fmt " + pix_fmt + " - 2>/dev/null",
                           &out) != 0)
        return {};
    return out;
}

Probe FfprobeVideo(const std::string& path) {
    Probe p;
    std::string out;
    if (kvtest::RunCommand("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                           "stream=nb_read_frames,width,height,r_frame_rate,codec_name -of default=nw=1 '" +
                               path + "' 2>/dev/null",
                           &out) != 0)
        return p;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "nb_read_frames") p.frames = std::stoull(value);
        if (key == "width") p.width = std::stoull(value);
        if (key == "height") p.height = std::stoull(value);
        if (key == "r_frame_rate") p.rate = value;
        if (key == "codec_name") p.codec = value;
    }
    p.ok = true;
    return p;
}

std::string FacadeReadAll(const std::string& path, codec_file_info* info) {
    codec_file* f = codec_file_open(kvmedia::Wide(path).c_str(), nullptr, nullptr);
    if (!f) return {};
    if (info) *info = f->info;
    const uint64_t frame = f->info.width * f->info.height * f->info.bytes_per_pixel;
    std::string all(frame * f->info.frame_count, '\0');
    bool ok = true;
    for (uint64_t i = 0; i < f->info.frame_count && ok; ++i)
        ok = codec_file_read_frame(f, 0, i, 0, all.data() + i * frame) == 1;
    codec_file_close(f);
    return ok ? all : std::string();
}

int32_t FacadeWriteMovie(const std::string& path, uint64_t width, uint64_t height, uint64_t bpp, uint64_t interval,
                         const std::string& frames, uint32_t avi_codec, uint32_t quality) {
    codec_file_info info{kCodecKindMovie, 1, 0, bpp, width, height, interval};
    codec_write_options options{quality, avi_codec, 0, 0, 0, 0};
    codec_file* f = codec_file_create(kvmedia::Wide(path).c_str(), &info, &options);
    if (!f) return 0;
    const uint64_t frame = width * height * bpp;
    bool ok = true;
    for (uint64_t at = 0; at + frame <= frames.size(); at += frame)
        ok = codec_file_write_frame(f, 0, 0, frames.data() + at) == 1 && ok;
    const int32_t closed = codec_file_close(f);
    return ok ? closed : 0;
}

uint32_t Get32(const std::string& b, size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(b[at])) | static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(b[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24;
}

void Set32(std::string& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}

size_t FindChunk(const std::string& bytes, const char* fourcc, size_t from) { return bytes.find(fourcc, from, 4); }

namespace {

std::string Le32(uint32_t v) {
    std::string s(4, '\0');
    Set32(s, 0, v);
    return s;
}

std::string ChunkBytes(const std::string& fourcc, const std::string& data) {
    std::string s = fourcc + Le32(static_cast<uint32_t>(data.size())) + data;
    if (data.size() & 1) s.push_back('\0');
    return s;
}

}  // namespace

std::vector<uint32_t> MoviOffsets(const std::vector<Chunk>& chunks) {
    std::vector<uint32_t> offsets;
    uint32_t at = 4;
    for (const Chunk& c : chunks) {
        offsets.push_back(at);
        at += 8 + static_cast<uint32_t>(c.data.size() + (c.data.size() & 1));
    }
    return offsets;
}

std::string Build(const std::string& hdrl, const std::vector<Chunk>& chunks, const std::vector<Idx1Entry>* idx1) {
    std::string movi = "movi";
    for (const Chunk& c : chunks) movi += ChunkBytes(c.fourcc, c.data);
    std::string body = "AVI " + hdrl + "LIST" + Le32(static_cast<uint32_t>(movi.size())) + movi;
    if (idx1) {
        std::string entries;
        for (const Idx1Entry& e : *idx1) entries += e.ckid + Le32(16) + Le32(e.offset) + Le32(e.size);
        body += ChunkBytes("idx1", entries);
    }
    return "RIFF" + Le32(static_cast<uint32_t>(body.size())) + body;
}

std::string HdrlOf(const std::string& file) {
    const size_t at = file.find("hdrl") - 8;
    return file.substr(at, 8 + Get32(file, at + 4));
}

std::vector<Chunk> FramesOf(const std::string& file) {
    std::vector<Chunk> chunks;
    const size_t list = file.find("movi") - 8;
    const size_t end = list + 8 + Get32(file, list + 4);
    for (size_t at = list + 12; at + 8 <= end;) {
        const uint32_t size = Get32(file, at + 4);
        chunks.push_back(Chunk{file.substr(at, 4), file.substr(at + 8, size)});
        at += 8 + size + (size & 1);
    }
    return chunks;
}

}  // namespace kvavi
