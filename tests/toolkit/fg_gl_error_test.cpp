#include "toolkit/fg_gl_error.h"

#include <gtest/gtest.h>

namespace {

TEST(FgGlError, NamesOfTheErrorCodes) {
    struct Case {
        uint32_t code;
        const char* name;
    } cases[] = {
        {1280, "GL_INVALID_ENUM"},    {1281, "GL_INVALID_VALUE"},   {1282, "GL_INVALID_OPERATION"},
        {1283, "GL_STACK_OVERFLOW"},  {1284, "GL_STACK_UNDERFLOW"}, {1285, "GL_OUT_OF_MEMORY"},
        {1286, "Unknown code"},       {1, "Unknown code"},          {0x8031, "Unknown code"},
    };
    for (const Case& c : cases) EXPECT_STREQ(FgGlErrorNameOf(c.code), c.name) << c.code;
    EXPECT_EQ(FgGlErrorNameOf(0), nullptr);
}

}  // namespace
