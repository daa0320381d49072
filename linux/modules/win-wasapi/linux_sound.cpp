// Registers "wasapi_output_capture" and "wasapi_process_output_capture" for
// Linux desktops: the same type ids and settings keys as the Windows plug-in.
// The computer's sound is the engine's own PulseAudio capture; an
// application's sound is recorded here (see process_sound.cpp).
#include "../common/inner_source.h"
#include "sound_sources.h"

#include <X11/Xlib.h>

OBS_DECLARE_MODULE()

namespace {

int ignore_x_errors(Display*, XErrorEvent*) {
    return 0;
}

// Errors are expected (a window may go away between two requests about it).
// The capture plug-in may have set a handler of its own that ignores them too:
// it stays. Otherwise Xlib's default handler would end the process.
void ignore_x_errors_unless_handled() {
    XErrorHandler current = XSetErrorHandler(nullptr);
    XErrorHandler fallback = XSetErrorHandler(current); // Xlib's default, set just above
    if (current == fallback)
        XSetErrorHandler(ignore_x_errors);
}

} // namespace

bool obs_module_load(void) {
    // Each application's sound looks its window up on a thread of its own.
    XInitThreads();
    ignore_x_errors_unless_handled();
    load_system_module("linux-pulseaudio");
    obs_source_info desktop = desktop_sound_info();
    obs_source_info process = process_sound_info();
    obs_register_source(&desktop);
    obs_register_source(&process);
    return true;
}
