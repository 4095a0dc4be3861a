#include "platform/plat_gl.h"

#include "platform/plat_sdl.h"

void* PlatGlGetProcAddress(const char* name) {
    if (!name || !PlatSdlInit()) return nullptr;
    return SDL_GL_GetProcAddress(name);
}
