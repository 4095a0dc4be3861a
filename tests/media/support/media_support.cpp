#include "media/support/media_support.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "support/testsupport.h"

namespace kvmedia {

std::wstring Wide(const std::string& s) {
    std::wstring out;
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
        uint32_t cp = extra == 0 ? c : c & (0x3F >> extra);
        for (int k = 1; k <= extra && i + k < s.size(); ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
        out.push_back(static_cast<wchar_t>(cp));
        i += extra + 1;
    }
    return out;
}

bool Convert(const std::string& args) { return kvtest::RunCommand("convert " + args + " 2>/dev/null") == 0; }

std::vector<std::string> OpenCvPixels(const std::vector<OpenCvRequest>& files) {
    static const char* script = R"(
import sys, cv2, numpy as np
args = sys.argv[1:]
for path, want in zip(args[0::2], args[1::2]):
    a = cv2.imread(path, cv2.IMREAD_UNCHANGED)
    if a is None:
        continue
    if a.ndim == 3:
        a = a[:, :, 0] if want == '1' else a[:, :, 2::-1]
    elif want == '3':
        a = np.dstack([a, a, a])
    np.ascontiguousarray(a).tofile(path + '.cv')
)";
    std::vector<std::string> args;
    for (const OpenCvRequest& f : files) {
        args.push_back(f.path);
        args.push_back(std::to_string(f.channels));
    }
    std::vector<std::string> out;
    bool ran = kvtest::RunPython(script, args, nullptr) == 0;
    for (const OpenCvRequest& f : files) out.push_back(ran ? kvtest::ReadFileBytes(f.path + ".cv") : std::string());
    return out;
}

std::string DjpegPixels(const std::string& path, int* width, int* height, int* channels) {
    std::string pnm;
    if (kvtest::RunCommand("djpeg -pnm '" + path + "' 2>/dev/null", &pnm) != 0) return {};
    std::istringstream in(pnm);
    std::string magic;
    int maxval = 0;
    in >> magic >> *width >> *height >> maxval;
    if (!in || maxval != 255 || (magic != "P5" && magic != "P6")) return {};
    in.get();
    *channels = magic == "P5" ? 1 : 3;
    return pnm.substr(static_cast<size_t>(in.tellg()));
}

std::string FacadeReadStill(const std::string& path, codec_file_info* info) {
    codec_file* f = codec_file_open(Wide(path).c_str(), nullptr, nullptr);
    if (!f) return {};
    if (info) *info = f->info;
    std::string pixels(f->info.width * f->info.height * f->info.bytes_per_pixel, '\0');
    int32_t ok = codec_file_read_frame(f, 0, 0, 0, pixels.data());
    codec_file_close(f);
    return ok ? pixels : std::string();
}

int32_t FacadeWriteStill(const std::string& path, uint64_t width, uint64_t height, uint64_t bpp, const void* pixels,
                         const codec_write_options* options) {
    codec_file_info info{kCodecKindStill, 1, 1, bpp, width, height, 0};
    codec_file* f = codec_file_create(Wide(path).c_str(), &info, options);
    if (!f) return 0;
    int32_t written = codec_file_write_frame(f, 0, 0, pixels);
    int32_t closed = codec_file_close(f);
    return written && closed;
}

std::string Pattern(size_t bytes, uint32_t seed) {
    std::string s(bytes, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < bytes; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        s[i] = static_cast<char>(x >> 24);
    }
    return s;
}

}  // namespace kvmedia
