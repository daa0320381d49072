// Registers "monitor_capture" and "window_capture" for Linux desktops: the
// same type ids and settings keys as the Windows plug-in. A screen is the
// engine's own "xshm_input"; a window is captured here (see window_capture.h).
#include "../common/inner_source.h"
#include "capture_sources.h"

#include <X11/Xlib.h>

#include <atomic>

OBS_DECLARE_MODULE()

namespace {

constexpr int shm_attach_request = 1; // X_ShmAttach of the MIT-SHM protocol
std::atomic<int> shm_opcode{-1};
std::atomic<unsigned long> shm_attach_failures{0};

// The shared memory extension's request code; an error handler may not ask the server.
int query_shm_opcode() {
    Display* display = XOpenDisplay(nullptr);
    int opcode = -1, event = 0, first_error = 0;
    if (display && !XQueryExtension(display, "MIT-SHM", &opcode, &event, &first_error))
        opcode = -1;
    if (display)
        XCloseDisplay(display);
    return opcode;
}

// Errors are expected (a window may go away between two requests about it);
// only refused shared memory attaches are counted.
int ignore_x_errors(Display*, XErrorEvent* error) {
    if (error->minor_code == shm_attach_request && error->request_code == shm_opcode.load())
        ++shm_attach_failures;
    return 0;
}

} // namespace

unsigned long x_shm_attach_failures() {
    return shm_attach_failures.load();
}

bool obs_module_load(void) {
    // Each window capture uses two connections from two threads: its own and its lookup's.
    XInitThreads();
    shm_opcode = query_shm_opcode();
    XSetErrorHandler(ignore_x_errors);
    load_system_module("linux-capture");
    obs_source_info monitor = screen_capture_info();
    obs_source_info window = window_capture_info();
    obs_register_source(&monitor);
    obs_register_source(&window);
    return true;
}
