// Registers "monitor_capture" and "window_capture" for Linux desktops: the
// same type ids and settings keys as the Windows plug-in. A screen is the
// engine's own "xshm_input"; a window is captured here (see window_capture.h).
#include "../common/inner_source.h"
#include "capture_sources.h"

#include <X11/Xlib.h>

OBS_DECLARE_MODULE()

namespace {

int ignore_x_errors(Display*, XErrorEvent*) {
    return 0;
}

} // namespace

bool obs_module_load(void) {
    // A window may go away between two requests about it.
    XInitThreads();
    XSetErrorHandler(ignore_x_errors);
    load_system_module("linux-capture");
    obs_source_info monitor = screen_capture_info();
    obs_source_info window = window_capture_info();
    obs_register_source(&monitor);
    obs_register_source(&window);
    return true;
}
