#include "media/support/mp4_support.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>

#include "support/testsupport.h"

namespace kvmp4 {

bool Ffmpeg(const std::string& args) {
    return kvtest::RunCommand("ffmpeg -nostdin -v error -y " + args + " </dev/null >/dev/null 2>&1") == 0;
}

std::string FfmpegYuv(const std::string& path) {
    kvtest::TempDir dir("yuv");
    const std::string out = dir.file("frames.yuv");
    if (!Ffmpeg("-i '" + path + "' -map 0:v:0 -f rawvideo -pix_fmt yuv420p '" + out + "'")) return {};
    return kvtest::ReadFileBytes(out);
}

namespace {

std::string CacheDir() {
    const std::string dir = std::string(KV_BINARY_DIR) + "/test-fixtures/mp4";
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    return dir;
}

// Moves a finished file into place, so that tests running at the same time
// never see half of it.
bool Publish(const std::string& temporary, const std::string& path) {
    return rename(temporary.c_str(), path.c_str()) == 0;
}

std::string TemporaryName(const std::string& path) { return path + ".part" + std::to_string(getpid()); }

}  // namespace

std::string CachedMovie(const std::string& name, const std::string& args) {
    // The arguments are part of the name, so a changed recipe makes a new movie.
    char tag[32];
    snprintf(tag, sizeof tag, "-%016zx.mp4", std::hash<std::string>{}(args));
    const std::string path = CacheDir() + "/" + name + tag;
    if (access(path.c_str(), R_OK) == 0) return path;
    const std::string part = TemporaryName(path);
    if (!Ffmpeg(args + " -f mp4 '" + part + "'") || !Publish(part, path)) {
        unlink(part.c_str());
        return {};
    }
    return path;
}

std::string CachedYuv(const std::string& movie) {
    const std::string path = movie + ".yuv";
    if (access(path.c_str(), R_OK) == 0) return kvtest::ReadFileBytes(path);
    const std::string yuv = FfmpegYuv(movie);
    const std::string part = TemporaryName(path);
    if (!yuv.empty() && kvtest::WriteFileBytes(part, yuv)) Publish(part, path);
    return yuv;
}

std::string NumpyRgbOfYuv(const std::string& yuv, int width, int height) {
    kvtest::TempDir dir("rgb");
    const std::string in = dir.file("in.yuv"), out = dir.file("out.rgb");
    if (!kvtest::WriteFileBytes(in, yuv)) return {};
    const char* script = R"(
import sys
import numpy as np
src, dst, w, h = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
cw, ch = (w + 1) // 2, (h + 1) // 2
frame = w * h + 2 * cw * ch
data = np.fromfile(src, dtype=np.uint8)
out = []
for k in range(len(data) // frame):
    f = data[k * frame:(k + 1) * frame].astype(np.int64)
    y = f[:w * h].reshape(h, w) - 16
    u = f[w * h:w * h + cw * ch].reshape(ch, cw).repeat(2, 0).repeat(2, 1)[:h, :w] - 128
    v = f[w * h + cw * ch:].reshape(ch, cw).repeat(2, 0).repeat(2, 1)[:h, :w] - 128
    def byte(n):
        q = np.sign(n) * (np.abs(n) // 1000)
        return np.clip(q, 0, 255).astype(np.uint8)
    rgb = np.stack([byte(1164 * y + 1793 * v), byte(1164 * y - 213 * u - 533 * v), byte(1164 * y + 2112 * u)], -1)
    out.append(rgb.tobytes())
open(dst, 'wb').write(b''.join(out))
)";
    if (kvtest::RunPython(script, {in, out, std::to_string(width), std::to_string(height)}, nullptr) != 0) return {};
    return kvtest::ReadFileBytes(out);
}

std::string Be32(uint32_t v) {
    return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                       static_cast<char>(v)};
}
std::string Be16(uint32_t v) { return std::string{static_cast<char>(v >> 8), static_cast<char>(v)}; }
uint32_t GetBe32(const std::string& s, size_t at) {
    return (static_cast<uint32_t>(static_cast<uint8_t>(s[at])) << 24) |
           (static_cast<uint32_t>(static_cast<uint8_t>(s[at + 1])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(s[at + 2])) << 8) | static_cast<uint8_t>(s[at + 3]);
}
void PutBe32(std::string& s, size_t at, uint32_t v) { s.replace(at, 4, Be32(v)); }

namespace {

size_t LeadingBytes(const std::string& type) {
    if (type == "stsd") return 8;
    if (type == "avc1") return 78;
    return 0;
}

bool IsContainer(const std::string& type) {
    for (const char* t : {"moov", "trak", "mdia", "minf", "stbl", "dinf", "edts", "udta", "stsd", "avc1"})
        if (type == t) return true;
    return false;
}

bool ParseBoxes(const std::string& bytes, size_t at, size_t end, std::vector<std::unique_ptr<Box>>& out) {
    while (at + 8 <= end) {
        uint64_t size = GetBe32(bytes, at);
        size_t header = 8;
        if (size == 1) {
            size = (static_cast<uint64_t>(GetBe32(bytes, at + 8)) << 32) | GetBe32(bytes, at + 12);
            header = 16;
        } else if (size == 0) {
            size = end - at;
        }
        if (size < header || size > end - at) return false;
        auto box = std::make_unique<Box>();
        box->type = bytes.substr(at + 4, 4);
        box->container = IsContainer(box->type);
        box->large = header == 16;
        const size_t data = at + header, data_end = at + size;
        if (box->container) {
            const size_t lead = LeadingBytes(box->type);
            if (lead > data_end - data) return false;
            box->data = bytes.substr(data, lead);
            if (!ParseBoxes(bytes, data + lead, data_end, box->children)) return false;
        } else {
            box->data = bytes.substr(data, data_end - data);
        }
        out.push_back(std::move(box));
        at += size;
    }
    return at == end;
}

std::string WriteBox(const Box& b) {
    std::string body = b.data;
    for (const auto& c : b.children) body += WriteBox(*c);
    if (!b.large && body.size() + 8 <= 0xFFFFFFFFu) return Be32(static_cast<uint32_t>(body.size() + 8)) + b.type + body;
    const uint64_t size = body.size() + 16;
    return Be32(1) + b.type + Be32(static_cast<uint32_t>(size >> 32)) + Be32(static_cast<uint32_t>(size)) + body;
}

Box* FindIn(const std::vector<std::unique_ptr<Box>>& list, const std::string& t) {
    for (const auto& b : list) {
        if (b->type == t) return b.get();
        if (Box* f = FindIn(b->children, t)) return f;
    }
    return nullptr;
}

}  // namespace

Box* Box::Find(const std::string& t) { return FindIn(children, t); }

Box* Box::Add(const std::string& t, const std::string& d, bool c) {
    auto box = std::make_unique<Box>();
    box->type = t;
    box->data = d;
    box->container = c;
    children.push_back(std::move(box));
    return children.back().get();
}

bool Mp4File::Read(const std::string& bytes) {
    top.clear();
    return ParseBoxes(bytes, 0, bytes.size(), top);
}

std::string Mp4File::Write() const {
    std::string out;
    for (const auto& b : top) out += WriteBox(*b);
    return out;
}

Box* Mp4File::Find(const std::string& t) { return FindIn(top, t); }

}  // namespace kvmp4
