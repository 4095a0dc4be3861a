#include "toolkit/fg_gl_error.h"

#include <GL/gl.h>

const char* FgGlErrorNameOf(uint32_t code) {
    switch (code) {
        case 0: return nullptr;
        case 1280: return "GL_INVALID_ENUM";
        case 1281: return "GL_INVALID_VALUE";
        case 1282: return "GL_INVALID_OPERATION";
        case 1283: return "GL_STACK_OVERFLOW";
        case 1284: return "GL_STACK_UNDERFLOW";
        case 1285: return "GL_OUT_OF_MEMORY";
        default: return "Unknown code";
    }
}

const char* FgGlErrorName() { return FgGlErrorNameOf(glGetError()); }
