// The H.264 library binding: loaded by the first MP4 user and unloaded by
// the last, refused when missing or lacking an entry point, and the program
// folder. OpenH264 itself holds a GNU unique symbol, which keeps the system
// from ever unmapping it, so unloading is seen in the process's memory map
// with a stand-in library.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include "media/codec.h"
#include "media/h264.h"
#include "media/support/media_support.h"
#include "support/testsupport.h"

using kvmedia::Wide;

namespace {

bool LibraryMapped(const std::string& name = "libopenh264") {
    return kvtest::ReadFileBytes("/proc/self/maps").find(name) != std::string::npos;
}

// A small MP4 movie made by our writer.
std::string WriteMovie(const kvtest::TempDir& dir, const std::string& name) {
    const std::string path = dir.file(name);
    codec_file_info info{kCodecKindMovie, 1, 2, 3, 32, 16, 33333};
    codec_file* f = codec_file_create(Wide(path).c_str(), &info, nullptr);
    EXPECT_NE(f, nullptr);
    if (!f) return path;
    const std::string frame = kvmedia::Pattern(32 * 16 * 3, 9);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(codec_file_write_frame(f, 0, 0, frame.data()), 1);
    EXPECT_EQ(codec_file_close(f), 1);
    return path;
}

class H264Binding : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(g_H264.references, 0u);
        ASSERT_EQ(g_H264.handle, nullptr);
    }
    void TearDown() override {
        h264_library_set_path_for_testing(nullptr);
        EXPECT_EQ(g_H264.references, 0u);
    }
};

TEST_F(H264Binding, LoadedWhileAnyMovieIsOpen) {
    kvtest::TempDir dir("h264");
    const std::string a = WriteMovie(dir, "a.mp4"), b = WriteMovie(dir, "b.mp4");
    EXPECT_EQ(g_H264.handle, nullptr);
    codec_file* fa = codec_file_open(Wide(a).c_str(), nullptr, nullptr);
    ASSERT_NE(fa, nullptr);
    EXPECT_TRUE(LibraryMapped());
    codec_file* fb = codec_file_open(Wide(b).c_str(), nullptr, nullptr);
    ASSERT_NE(fb, nullptr);
    EXPECT_EQ(g_H264.references, 2u);
    EXPECT_EQ(codec_file_close(fa), 1);
    EXPECT_EQ(g_H264.references, 1u);
    EXPECT_NE(g_H264.handle, nullptr);
    EXPECT_EQ(codec_file_close(fb), 1);
    EXPECT_EQ(g_H264.handle, nullptr);
    EXPECT_EQ(g_H264.create_decoder, nullptr);
    // A failed open gives its reference back.
    const std::string junk = dir.file("junk.mp4");
    ASSERT_TRUE(kvtest::WriteFileBytes(junk, "not a movie at all"));
    EXPECT_EQ(codec_file_open(Wide(junk).c_str(), nullptr, nullptr), nullptr);
    EXPECT_EQ(g_H264.references, 0u);
    EXPECT_EQ(g_H264.handle, nullptr);
    // So does a folder with a movie's name.
    const std::string folder = dir.file("folder.mp4");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    EXPECT_EQ(codec_file_open(Wide(folder).c_str(), nullptr, nullptr), nullptr);
    EXPECT_EQ(g_H264.references, 0u);
}

TEST_F(H264Binding, AMissingLibraryFailsOpenAndCreate) {
    kvtest::TempDir dir("h264");
    const std::string movie = WriteMovie(dir, "a.mp4");
    h264_library_set_path_for_testing(dir.file("libopenh264.so.7").c_str());
    EXPECT_EQ(h264_library_acquire(), 0);
    EXPECT_EQ(g_H264.references, 0u);
    EXPECT_EQ(codec_file_open(Wide(movie).c_str(), nullptr, nullptr), nullptr);
    codec_file_info info{kCodecKindMovie, 1, 1, 3, 32, 16, 33333};
    EXPECT_EQ(codec_file_create(Wide(dir.file("b.mp4")).c_str(), &info, nullptr), nullptr);
    EXPECT_EQ(g_H264.references, 0u);
}

TEST_F(H264Binding, ALibraryWithoutACreateOrDestroyFunctionIsRefused) {
    if (!kvtest::HaveTool("cc")) GTEST_SKIP() << "no C compiler for the stand-in libraries";
    kvtest::TempDir dir("h264");
    const std::string source = dir.file("stub.c");
    ASSERT_TRUE(kvtest::WriteFileBytes(source,
                                       "#ifndef NO_1\nint WelsCreateSVCEncoder(void** e) { *e = 0; return 1; }\n#endif\n"
                                       "#ifndef NO_2\nvoid WelsDestroySVCEncoder(void* e) { (void)e; }\n#endif\n"
                                       "#ifndef NO_3\nlong WelsCreateDecoder(void** d) { *d = 0; return 1; }\n#endif\n"
                                       "#ifndef NO_4\nvoid WelsDestroyDecoder(void* d) { (void)d; }\n#endif\n"));
    // One library with all four functions and one without each.
    std::string build;
    for (int missing = 0; missing <= 4; ++missing) {
        const std::string define = missing ? " -DNO_" + std::to_string(missing) : "";
        build += "cc -shared -fPIC" + define + " -o '" + dir.file("stub" + std::to_string(missing) + ".so") + "' '" +
                 source + "' & ";
    }
    ASSERT_EQ(kvtest::RunCommand(build + "wait"), 0);
    for (int missing = 0; missing <= 4; ++missing) {
        SCOPED_TRACE(missing);
        const std::string lib = dir.file("stub" + std::to_string(missing) + ".so");
        ASSERT_EQ(access(lib.c_str(), R_OK), 0);
        h264_library_set_path_for_testing(lib.c_str());
        if (missing == 0) {
            // Mapped from the first acquisition to the last release.
            ASSERT_EQ(h264_library_acquire(), 1);
            EXPECT_TRUE(LibraryMapped(lib));
            EXPECT_NE(g_H264.create_decoder, nullptr);
            EXPECT_EQ(g_H264.codec_version, nullptr);  // optional entry points may be absent
            ASSERT_EQ(h264_library_acquire(), 1);
            h264_library_release();
            EXPECT_TRUE(LibraryMapped(lib));
            h264_library_release();
        } else {
            EXPECT_EQ(h264_library_acquire(), 0);
            EXPECT_EQ(g_H264.create_encoder, nullptr);
            EXPECT_EQ(g_H264.create_decoder, nullptr);
        }
        EXPECT_EQ(g_H264.references, 0u);
        EXPECT_FALSE(LibraryMapped(lib));
    }
}

TEST(H264ProgramFolder, IsTheFolderOfTheExecutable) {
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    const std::string path(exe, static_cast<size_t>(n));
    EXPECT_EQ(std::string(program_folder()), path.substr(0, path.rfind('/')));
}

}  // namespace
