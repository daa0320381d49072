#pragma once

// The top-level windows of an X display: finding the one a value names as the
// Windows plug-ins would (window_match.h), listing those a user would pick,
// and the process of one, as the X server knows it.

#include "window_match.h"

#include <X11/Xlib.h>

#include <string>
#include <sys/types.h>
#include <vector>

// A window offered to the user: "[executable]: title", and its value.
struct ListedWindow {
    std::string name;
    std::string value;
};

// The best rated window, on any screen, for `wanted`; 0 when none matches.
// The first of the best is taken, but `current` (0 for none) is kept while it
// rates as well: two windows alike never take turns.
unsigned long find_window(Display* display, const WindowValue& wanted, WindowPriority priority,
                          unsigned long current = 0);

// The windows shown on the screens that a user would pick: top-level, titled,
// neither tool windows nor the agent's own.
std::vector<ListedWindow> list_windows(Display* display);

// The process of the window's client, from the X server (X-Resource), not
// from the client's word; 0 when the server does not say, when the window
// does not say (WM_CLIENT_MACHINE) that it runs on this machine, or when that
// process's program cannot be read.
pid_t window_process(Display* display, unsigned long window);
