// The ozt module: every depth through the host against a Python struct and
// numpy writer and reader (also files marked 'H','L'), the container's
// edge cases at the module's entry points, and writes that fail in a child
// process held under a file-size limit.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include "image/imgbuff.h"
#include "media/image_module.h"
#include "media/support/media_support.h"
#include "support/testsupport.h"

using kvmedia::Wide;

namespace {

namespace fs = std::filesystem;

const std::string kOztPath = std::string(KV_BINARY_DIR) + "/bin/plugin/ozt.wim";

// The module's entry points, bound directly.
struct Ozt {
    Ozt() {
        library = dlopen(kOztPath.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library) return;
        open = reinterpret_cast<em_open_fn>(dlsym(library, "em_open"));
        read = reinterpret_cast<em_read_fn>(dlsym(library, "em_read"));
        create = reinterpret_cast<em_create_fn>(dlsym(library, "em_create"));
        write = reinterpret_cast<em_write_fn>(dlsym(library, "em_write"));
        close = reinterpret_cast<em_close_fn>(dlsym(library, "em_close"));
    }
    ~Ozt() {
        if (library) dlclose(library);
    }
    void* Open(const std::string& path) {
        uint16_t b;
        uint64_t w, h, n, t;
        return open(path.c_str(), &b, &w, &h, &n, &t);
    }
    void* library = nullptr;
    em_open_fn open = nullptr;
    em_read_fn read = nullptr;
    em_create_fn create = nullptr;
    em_write_fn write = nullptr;
    em_close_fn close = nullptr;
};

std::string Header(const char* magic, const char* mark, uint8_t bits, uint32_t w, uint32_t h, uint32_t n,
                   uint32_t t) {
    std::string s(magic, 4);
    s += std::string(mark, 2);
    s.push_back(0);
    s.push_back(static_cast<char>(bits));
    for (uint32_t v : {w, h, n, t})
        for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
    return s;
}

// Random samples of a pixel format: doubles for XYZ, bytes otherwise.
void FillRandom(C_ImgBuff* b, uint32_t seed) {
    std::mt19937 rng(seed);
    uint64_t bytes = static_cast<uint64_t>(b->width) * b->height * b->BytesPerPixel();
    if (b->format == kImgXyz) {
        std::uniform_real_distribution<double> d(-2.0, 2.0);
        for (uint64_t i = 0; i < bytes / 8; ++i) {
            double v = d(rng);
            memcpy(b->pixels + i * 8, &v, 8);
        }
    } else {
        for (uint64_t i = 0; i < bytes; ++i) b->pixels[i] = static_cast<uint8_t>(rng());
    }
}

class OztThroughHost : public ::testing::Test {
protected:
    OztThroughHost() : dir_("ozt") {
        fs::copy_file(kOztPath, dir_.file("ozt.wim"));
        EXPECT_EQ(LoadImageModules(Wide(dir_.path()).c_str()), 1);
    }
    ~OztThroughHost() override { UnloadImageModules(); }
    kvtest::TempDir dir_;
};

// Writes `frames` through the host, then the oracle: Python builds the
// expected file with struct from the raw frames, compares it byte for byte,
// and writes the same frames marked 'H','L' with every sample swapped.
const char kOracle[] = R"PY(
import struct, sys, numpy as np
folder = sys.argv[1]
swap = {8: None, 16: '<u2', 24: None, 32: '<u4', 48: '<u2', 96: '<u4', 192: '<u8'}
for arg in sys.argv[2:]:
    bits, w, h, n, t = map(int, arg.split(','))
    raw = open(f'{folder}/d{bits}.raw', 'rb').read()
    assert len(raw) == w * h * bits // 8 * n
    ours = open(f'{folder}/d{bits}.ozt', 'rb').read()
    head = struct.pack('<4s2sBBIIII', b'OZT\0', b'LH', 0, bits, w, h, n, t)
    if ours != head + raw:
        print(f'{bits} differs'); continue
    m, _, _, b, fw, fh, fn, ft = struct.unpack_from('<4s2sBBIIII', ours)
    frames = np.frombuffer(ours, np.uint8, offset=24).reshape(fn, fh, fw * b // 8)
    assert frames.tobytes() == raw
    body = np.frombuffer(raw, swap[bits]).byteswap().tobytes() if swap[bits] else raw
    open(f'{folder}/d{bits}_hl.ozt', 'wb').write(
        struct.pack('>4s2sBBIIII', b'OZT\0', b'HL', 0, bits, w, h, n, t) + body)
    print(f'{bits} ok')
)PY";

TEST_F(OztThroughHost, AllDepthsRoundTripAndMatchAPythonWriterAndReader) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "no Debian python3";
    struct Depth {
        uint16_t bits;
        int32_t format;
    } depths[] = {{8, kImgGray8}, {16, kImgGray16}, {24, kImgRgb8}, {32, kImgGray32},
                  {48, kImgRgb16}, {96, kImgRgb32}, {192, kImgXyz}};
    const uint64_t w = 5, h = 3, n = 2;
    std::vector<std::string> args = {dir_.path()};
    std::string raws[std::size(depths)];
    for (size_t i = 0; i < std::size(depths); ++i) {
        const Depth& d = depths[i];
        uint64_t time = d.bits == 24 ? 40 : 0;  // one timed movie
        ImageModuleStream* s = CreateModuleStream(Wide(dir_.file("d" + std::to_string(d.bits) + ".ozt")).c_str(),
                                                  time ? 3 : 2, w, h, d.bits, 0, time);
        ASSERT_NE(s, nullptr) << d.bits;
        for (uint64_t f = 0; f < n; ++f) {
            CImgBuff image;
            ASSERT_EQ(image.buffer->Create(w, h, d.format), 1);
            FillRandom(image.buffer, static_cast<uint32_t>(d.bits * 10 + f));
            raws[i].append(reinterpret_cast<char*>(image.buffer->pixels), w * h * d.bits / 8);
            ASSERT_EQ(WriteModuleFrame(s, &image), 1);
        }
        ASSERT_EQ(CloseModuleStream(s), 1);
        kvtest::WriteFileBytes(dir_.file("d" + std::to_string(d.bits) + ".raw"), raws[i]);
        args.push_back(std::to_string(d.bits) + "," + std::to_string(w) + "," + std::to_string(h) + "," +
                       std::to_string(n) + "," + std::to_string(time));
    }
    std::string out;
    ASSERT_EQ(kvtest::RunPython(kOracle, args, &out), 0) << out;
    EXPECT_EQ(out, "8 ok\n16 ok\n24 ok\n32 ok\n48 ok\n96 ok\n192 ok\n");

    // Our files and the oracle's 'H','L' files read back as the frames written.
    for (size_t i = 0; i < std::size(depths); ++i) {
        for (const char* suffix : {".ozt", "_hl.ozt"}) {
            SCOPED_TRACE(std::to_string(depths[i].bits) + suffix);
            ImageModuleStream* s = static_cast<ImageModuleStream*>(calloc(1, sizeof(ImageModuleStream)));
            s->module = FindImageModule(L"ozt");
            ASSERT_EQ(OpenModuleStream(s, Wide(dir_.file("d" + std::to_string(depths[i].bits) + suffix)).c_str()), 1);
            EXPECT_EQ(s->mode, depths[i].bits == 24 ? kModuleStreamMovie : kModuleStreamMultiFrame);
            std::string back;
            CImgBuff image;
            for (uint64_t f = 0; f < n; ++f) {
                ASSERT_EQ(ReadModuleFrame(s, &image, f), 1);
                EXPECT_EQ(image.buffer->format, depths[i].format);
                back.append(reinterpret_cast<char*>(image.buffer->pixels), w * h * depths[i].bits / 8);
            }
            EXPECT_TRUE(back == raws[i]);
            EXPECT_EQ(CloseModuleStream(s), 1);
        }
    }
}

TEST(OztModule, ContainerEdgeCases) {
    Ozt ozt;
    ASSERT_NE(ozt.library, nullptr) << dlerror();
    kvtest::TempDir dir("oztedge");
    const std::string path = dir.file("a.ozt");

    // 3 frames of 4 x 2 at 16 bits: 72 bytes, count 3 once closed.
    void* w = ozt.create(path.c_str(), 16, 4, 2, 99, 0);
    ASSERT_NE(w, nullptr);
    uint16_t frame[3][8];
    for (int f = 0; f < 3; ++f)
        for (int i = 0; i < 8; ++i) frame[f][i] = static_cast<uint16_t>(f * 1000 + i * 7 + 1);
    for (int f = 0; f < 3; ++f) EXPECT_EQ(ozt.write(w, frame[f]), 1);
    EXPECT_EQ(ozt.close(w), 1);
    std::string bytes = kvtest::ReadFileBytes(path);
    ASSERT_EQ(bytes.size(), 72u);
    EXPECT_EQ(bytes.substr(0, 24), Header("OZT", "LH", 16, 4, 2, 3, 0));

    uint16_t bits;
    uint64_t width, height, frames, time;
    void* r = ozt.open(path.c_str(), &bits, &width, &height, &frames, &time);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(bits, 16);
    EXPECT_EQ(width * height * frames, 24u);
    uint16_t got[8];
    EXPECT_EQ(ozt.read(r, got, 3), 0);
    EXPECT_EQ(ozt.read(r, got, 2), 1);
    EXPECT_EQ(memcmp(got, frame[2], 16), 0);
    EXPECT_EQ(ozt.read(r, got, 0), 1);  // seeks back to offset 24
    EXPECT_EQ(memcmp(got, frame[0], 16), 0);
    EXPECT_EQ(ozt.read(r, got, 1), 1);
    EXPECT_EQ(memcmp(got, frame[1], 16), 0);
    EXPECT_EQ(ozt.close(r), 1);

    // Depths: 12 and 256 refused at creation, 40 made but not readable.
    EXPECT_EQ(ozt.create(dir.file("b.ozt").c_str(), 12, 4, 2, 1, 0), nullptr);
    EXPECT_EQ(ozt.create(dir.file("b.ozt").c_str(), 256, 4, 2, 1, 0), nullptr);
    EXPECT_EQ(ozt.create(dir.file("b.ozt").c_str(), 8, 4, 2, 1, 0x100000000ull), nullptr);
    void* forty = ozt.create(dir.file("b.ozt").c_str(), 40, 4, 2, 1, 0);
    ASSERT_NE(forty, nullptr);
    uint8_t five[40] = {};
    EXPECT_EQ(ozt.write(forty, five), 1);
    EXPECT_EQ(ozt.close(forty), 1);
    EXPECT_EQ(ozt.Open(dir.file("b.ozt")), nullptr);
    void* empty = ozt.create(dir.file("c.ozt").c_str(), 8, 0, 2, 1, 0);  // width 0: made, not readable
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(ozt.write(empty, five), 1);
    EXPECT_EQ(ozt.close(empty), 1);
    EXPECT_EQ(ozt.Open(dir.file("c.ozt")), nullptr);

    // Crafted headers.
    const std::string body(64, '\x55');
    struct Case {
        std::string file;
        bool opens;
    } cases[] = {
        {Header("OZT", "LH", 8, 4, 2, 1, 0) + body, true},
        {Header("OZTX", "LH", 8, 4, 2, 1, 0) + body, false},      // magic without its zero byte
        {Header("OZT", "LL", 8, 4, 2, 1, 0) + body, false},       // neither mark
        {Header("OZT", "LH", 8, 4, 2, 0, 0) + body, false},       // no frames
        {Header("OZT", "LH", 24, 4, 2, 1, 0) + body, true},
        {Header("OZT", "LH", 24, 4, 2, 1, 0) + body.substr(0, 23), false},  // shorter than one frame
        {Header("OZT", "LH", 8, 65536, 65536, 1, 0) + body, false},          // a 4 GiB frame
        {Header("OZT", "LH", 24, 65536, 65536, 1, 0) + body, false},         // wraps to 0 in 32 bits
        {Header("OZT", "LH", 8, 4, 2, 1, 0).substr(0, 23), false},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        kvtest::WriteFileBytes(dir.file("x.ozt"), cases[i].file);
        void* h = ozt.Open(dir.file("x.ozt"));
        EXPECT_EQ(h != nullptr, cases[i].opens) << i;
        if (h) ozt.close(h);
    }
}

// After a short read the position is unknown: a later read of the same
// frame seeks rather than reading on from where the short read stopped.
TEST(OztModule, ReadAfterShortReadSeeks) {
    Ozt ozt;
    ASSERT_NE(ozt.library, nullptr);
    kvtest::TempDir dir("oztshort");
    const std::string path = dir.file("s.ozt");
    std::string f0(8, 'a'), f1(8, 'b');
    kvtest::WriteFileBytes(path, Header("OZT", "LH", 8, 4, 2, 2, 0) + f0 + f1.substr(0, 4));
    void* r = ozt.Open(path);
    ASSERT_NE(r, nullptr);
    uint8_t got[8];
    EXPECT_EQ(ozt.read(r, got, 1), 0);  // frame 1 is cut short
    // The file grows (still being written elsewhere): frame 1 complete, more after it.
    kvtest::WriteFileBytes(path, Header("OZT", "LH", 8, 4, 2, 2, 0) + f0 + f1 + std::string(8, 'z'));
    EXPECT_EQ(ozt.read(r, got, 1), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(got), 8), f1);
    EXPECT_EQ(ozt.close(r), 1);
}

// Runs `body` in a child whose files may grow to `limit` bytes (writes past
// it fail with EFBIG); the child's exit status.
template <class Body>
int InLimitedChild(rlim_t limit, Body body) {
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit rl;
        getrlimit(RLIMIT_FSIZE, &rl);
        rl.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &rl);
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

// A short write leaves the next frame where it belongs, and the close cuts
// the partial frame off.
TEST(OztModule, ShortWriteDoesNotMisalignLaterFrames) {
    Ozt ozt;
    ASSERT_NE(ozt.library, nullptr);
    kvtest::TempDir dir("oztfsize");
    const std::string path = dir.file("w.ozt");
    const size_t frameBytes = 64 * 1024;  // larger than the stream buffer: written through
    int status = InLimitedChild(24 + 2 * frameBytes + frameBytes / 2, [&] {
        void* w = ozt.create(path.c_str(), 8, 256, 256, 0, 0);
        if (!w) return 1;
        std::string frames[4];
        for (int f = 0; f < 4; ++f) frames[f] = std::string(frameBytes, static_cast<char>('A' + f));
        if (ozt.write(w, frames[0].data()) != 1 || ozt.write(w, frames[1].data()) != 1) return 2;
        if (ozt.write(w, frames[2].data()) != 0) return 3;  // over the limit
        struct rlimit rl;
        getrlimit(RLIMIT_FSIZE, &rl);
        rl.rlim_cur = RLIM_INFINITY;
        setrlimit(RLIMIT_FSIZE, &rl);
        if (ozt.write(w, frames[3].data()) != 1) return 4;
        return ozt.close(w) == 1 ? 0 : 5;
    });
    ASSERT_EQ(status, 0);
    std::string bytes = kvtest::ReadFileBytes(path);
    ASSERT_EQ(bytes.size(), 24 + 3 * frameBytes);
    EXPECT_EQ(bytes.substr(0, 24), Header("OZT", "LH", 8, 256, 256, 3, 0));
    EXPECT_EQ(bytes.substr(24 + 2 * frameBytes), std::string(frameBytes, 'D'));
    EXPECT_EQ(bytes.substr(24 + frameBytes, frameBytes), std::string(frameBytes, 'B'));
}

// Frames still in the stream's buffer fail to reach the file at the close:
// the close reports it.
TEST(OztModule, FailedCompletionIsReportedByClose) {
    Ozt ozt;
    ASSERT_NE(ozt.library, nullptr);
    kvtest::TempDir dir("oztclose");
    const std::string path = dir.file("c.ozt");
    int status = InLimitedChild(30, [&] {
        void* w = ozt.create(path.c_str(), 8, 4, 2, 0, 0);
        if (!w) return 1;
        uint8_t frame[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        if (ozt.write(w, frame) != 1 || ozt.write(w, frame) != 1) return 2;  // buffered
        return ozt.close(w) == 0 ? 0 : 3;
    });
    EXPECT_EQ(status, 0);
}

}  // namespace
