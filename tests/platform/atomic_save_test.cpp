// Files replaced whole: what a save over each kind of existing target leaves.
#include "platform/atomic_save.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "support/testsupport.h"

namespace {

namespace fs = std::filesystem;

// Writes `text` to `target` through AtomicSave; false when any step fails.
bool SaveText(const std::string& target, const std::string& text) {
    AtomicSave save;
    if (!save.BeginUtf8(target)) return false;
    FILE* file = std::fopen(save.TemporaryPathUtf8().c_str(), "wb");
    if (!file) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    ok = std::fclose(file) == 0 && ok;
    return ok && save.Commit();
}

size_t EntriesIn(const std::string& folder) {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder)) ++n;
    return n;
}

// A symbolic link keeps pointing at the file, which gets the new content; a
// replaced file keeps its permission bits.
TEST(AtomicSave, ThroughALinkTheFileIsReplacedAndTheLinkStays) {
    kvtest::TempDir dir("atomic");
    kvtest::WriteFileBytes(dir.file("real.txt"), "old");
    ASSERT_EQ(chmod(dir.file("real.txt").c_str(), 0640), 0);
    fs::create_symlink("real.txt", dir.file("link.txt"));
    ASSERT_TRUE(SaveText(dir.file("link.txt"), "new"));
    EXPECT_TRUE(fs::is_symlink(dir.file("link.txt")));
    EXPECT_EQ(kvtest::ReadFileBytes(dir.file("real.txt")), "new");
    struct stat info {};
    ASSERT_EQ(stat(dir.file("real.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(EntriesIn(dir.path()), 2u);  // no temporary left
}

// A pipe (like a device) has no bytes to keep: it is written directly and
// stays what it is, never replaced by a file.
TEST(AtomicSave, APipeIsWrittenDirectlyAndStaysAPipe) {
    kvtest::TempDir dir("atomic");
    const std::string pipe = dir.file("out.csv");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const int reader = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_TRUE(SaveText(pipe, "through the pipe"));
    char got[64] = {};
    const ssize_t n = read(reader, got, sizeof got - 1);
    close(reader);
    EXPECT_EQ(std::string(got, n > 0 ? static_cast<size_t>(n) : 0), "through the pipe");
    EXPECT_TRUE(fs::is_fifo(pipe));
    EXPECT_EQ(EntriesIn(dir.path()), 1u);
}

TEST(AtomicSave, AFolderIsNoTarget) {
    kvtest::TempDir dir("atomic");
    fs::create_directory(dir.file("folder.png"));
    AtomicSave save;
    EXPECT_EQ(save.BeginUtf8(dir.file("folder.png")), 0);
    EXPECT_TRUE(fs::is_directory(dir.file("folder.png")));
    EXPECT_EQ(EntriesIn(dir.path()), 1u);
}

}  // namespace
