// Replays every committed seed and regression input of one fuzz target
// (KV_FUZZ_NAME) through the target once: each must run to its end, under
// the sanitizers in the sanitizer build.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/testsupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> InputsOf(const char* folder) {
    std::vector<fs::path> files;
    fs::path dir = fs::path(KV_SOURCE_DIR) / "tests" / "fuzz" / folder / KV_FUZZ_NAME;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(dir, ec))
        if (e.is_regular_file() && e.path().filename().string()[0] != '.') files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

void Replay(const std::vector<fs::path>& files) {
    for (const fs::path& f : files) {
        SCOPED_TRACE(f.string());
        std::string bytes = kvtest::ReadFileBytes(f.string());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
}

TEST(FuzzReplay, Seeds) {
    std::vector<fs::path> seeds = InputsOf("corpus");
    EXPECT_FALSE(seeds.empty()) << "no seed inputs for " << KV_FUZZ_NAME;
    Replay(seeds);
}

TEST(FuzzReplay, Regressions) { Replay(InputsOf("regressions")); }

}  // namespace
