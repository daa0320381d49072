#pragma once

// Finding the X11 window the agent names as the Windows plug-in would.

#include <X11/Xlib.h>

#include <string>
#include <sys/types.h>

// The title in "Title:Class:exe", with "#3A" and "#22" decoded to ':' and '#'.
std::string window_title(const char* designation);

// The first window, on any screen, whose name is `title`; 0 when none is.
unsigned long find_window(Display* display, const std::string& title);

// The process that owns the window, from its _NET_WM_PID; 0 when the window
// does not say, or does not say (WM_CLIENT_MACHINE) that it runs on this machine.
pid_t window_process_id(Display* display, unsigned long window);
