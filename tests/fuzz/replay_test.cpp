// Replays every committed seed and regression input of each fuzz target
// through the target once: each must run to its end, under the sanitizers in
// the sanitizer build. The targets are linked into this one program, each
// entry renamed KvFuzzEntry_<target>; fuzz_entries.inc lists them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/testsupport.h"

#define KV_FUZZ_ENTRY(name) extern "C" int KvFuzzEntry_##name(const uint8_t* data, size_t size);
#include "fuzz_entries.inc"
#undef KV_FUZZ_ENTRY

namespace {

namespace fs = std::filesystem;

struct FuzzTarget {
    const char* name;
    int (*entry)(const uint8_t* data, size_t size);
};

#define KV_FUZZ_ENTRY(name) FuzzTarget{#name, KvFuzzEntry_##name},
const FuzzTarget kFuzzTargets[] = {
#include "fuzz_entries.inc"
};
#undef KV_FUZZ_ENTRY

std::vector<fs::path> InputsOf(const char* folder, const char* target) {
    std::vector<fs::path> files;
    fs::path dir = fs::path(KV_SOURCE_DIR) / "tests" / "fuzz" / folder / target;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(dir, ec))
        if (e.is_regular_file() && e.path().filename().string()[0] != '.') files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

void Replay(const FuzzTarget& target, const std::vector<fs::path>& files) {
    for (const fs::path& f : files) {
        SCOPED_TRACE(f.string());
        std::string bytes = kvtest::ReadFileBytes(f.string());
        target.entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
}

class FuzzReplay : public ::testing::TestWithParam<FuzzTarget> {};

TEST_P(FuzzReplay, Seeds) {
    std::vector<fs::path> seeds = InputsOf("corpus", GetParam().name);
    EXPECT_FALSE(seeds.empty()) << "no seed inputs for " << GetParam().name;
    Replay(GetParam(), seeds);
}

TEST_P(FuzzReplay, Regressions) { Replay(GetParam(), InputsOf("regressions", GetParam().name)); }

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, ::testing::ValuesIn(kFuzzTargets),
                         [](const ::testing::TestParamInfo<FuzzTarget>& info) { return std::string(info.param.name); });

}  // namespace
