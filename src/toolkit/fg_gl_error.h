// Names of OpenGL error codes, for diagnostics.
#pragma once

#include <cstdint>

// "GL_INVALID_ENUM" ... "GL_OUT_OF_MEMORY" for 1280-1285, "Unknown code" for
// any other non-zero code, null for 0 (no error).
const char* FgGlErrorNameOf(uint32_t code);
// The name of the pending OpenGL error (glGetError), or null when there is
// none. Call on the thread whose context is current.
const char* FgGlErrorName();
