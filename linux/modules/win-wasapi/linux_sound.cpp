// Registers "wasapi_output_capture" and "wasapi_process_output_capture" for
// Linux desktops: the same type ids and settings keys as the Windows plug-in.
// The computer's sound is the engine's own PulseAudio capture; an
// application's sound is recorded here (see process_sound.cpp).
#include "../common/inner_source.h"
#include "sound_sources.h"

#include <X11/Xlib.h>
#include <X11/Xlibint.h>

OBS_DECLARE_MODULE()

namespace {

XErrorHandler previous_handler = nullptr;

// Errors are expected (a window may go away between two requests about it).
// The capture plug-in's handler, when it was set first, still sees them (it
// counts refused shared memory); Xlib's default would end the process.
int on_x_error(Display* display, XErrorEvent* error) {
    if (previous_handler && previous_handler != _XDefaultError)
        return previous_handler(display, error);
    return 0;
}

} // namespace

bool obs_module_load(void) {
    // Each application's sound looks its window up on a thread of its own.
    XInitThreads();
    previous_handler = XSetErrorHandler(on_x_error);
    load_system_module("linux-pulseaudio");
    obs_source_info desktop = desktop_sound_info();
    obs_source_info process = process_sound_info();
    obs_register_source(&desktop);
    obs_register_source(&process);
    return true;
}
