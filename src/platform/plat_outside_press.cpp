// Raw button events of the window system, read while a popup holds the
// capture: a press on the desktop outside every window of the program reaches
// no window, so SDL reports nothing for it, but X11 still sends the raw
// XInput2 event to the root-window selection SDL makes.
#include <SDL_syswm.h>

#include "platform/plat_sdl.h"

#if defined(SDL_VIDEO_DRIVER_X11) && defined(KV_HAVE_X11) && __has_include(<X11/extensions/XInput2.h>)
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

bool PlatRawButtonEvent(const SDL_Event& event, int* button, bool* down) {
    if (event.type != SDL_SYSWMEVENT || !event.syswm.msg || event.syswm.msg->subsystem != SDL_SYSWM_X11) return false;
    const XGenericEventCookie& cookie = event.syswm.msg->msg.x11.event.xcookie;
    if (cookie.type != GenericEvent || (cookie.evtype != XI_RawButtonPress && cookie.evtype != XI_RawButtonRelease) ||
        !cookie.data)
        return false;
    *button = static_cast<const XIRawEvent*>(cookie.data)->detail;
    *down = cookie.evtype == XI_RawButtonPress;
    return true;
}

#else

bool PlatRawButtonEvent(const SDL_Event&, int*, bool*) { return false; }

#endif
