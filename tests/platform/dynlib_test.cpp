#include "platform/dynlib.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>

#include <cstring>
#include <string>

namespace {

// The absolute path of the C library this process runs with.
std::string LibcPath() {
    void* h = dlopen("libc.so.6", RTLD_NOW | RTLD_NOLOAD);
    if (!h) return std::string();
    link_map* map = nullptr;
    std::string path;
    if (dlinfo(h, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name) path = map->l_name;
    dlclose(h);
    return path;
}

TEST(PlatDynlib, LoadsByAbsolutePathOnly) {
    const std::string libc = LibcPath();
    ASSERT_FALSE(libc.empty());
    ASSERT_EQ(libc[0], '/');

    void* lib = PlatLoadLibrary(libc.c_str());
    ASSERT_NE(lib, nullptr);
    using StrlenFn = size_t (*)(const char*);
    auto fn = reinterpret_cast<StrlenFn>(PlatGetProcAddress(lib, "strlen"));
    ASSERT_NE(fn, nullptr);
    EXPECT_EQ(fn("korvane"), 7u);
    EXPECT_EQ(PlatGetProcAddress(lib, "no_such_symbol_here"), nullptr);
    EXPECT_EQ(PlatFreeLibrary(lib), 1);

    EXPECT_EQ(PlatLoadLibrary("libc.so.6"), nullptr);  // relative: refused
    EXPECT_EQ(PlatLoadLibrary("/nonexistent/plugin.wfm"), nullptr);
    EXPECT_EQ(PlatLoadLibrary(nullptr), nullptr);
    EXPECT_EQ(PlatGetProcAddress(nullptr, "strlen"), nullptr);
    EXPECT_EQ(PlatFreeLibrary(nullptr), 0);
}

}  // namespace
