// The window system's own id of a window, handed to plug-ins that parent
// their settings windows to the program's.
#include <SDL_syswm.h>

#include "platform/plat_sdl.h"
#include "platform/plat_window.h"

uint64_t PlatGetNativeWindowId(uint32_t window) {
#if defined(SDL_VIDEO_DRIVER_X11)
    PlatWindowState* state = window ? PlatFindWindow(window) : nullptr;
    if (!state || !state->sdl) return 0;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(state->sdl, &info) || info.subsystem != SDL_SYSWM_X11) return 0;
    return static_cast<uint64_t>(info.info.x11.window);
#else
    (void)window;
    return 0;
#endif
}
