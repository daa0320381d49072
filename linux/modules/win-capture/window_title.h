#pragma once

// Finding the X11 window the agent names as the Windows plug-in would.

#include <X11/Xlib.h>

#include <string>

// The title in "Title:Class:exe", with "#3A" and "#22" decoded to ':' and '#'.
std::string window_title(const char* designation);

// The first window, on any screen, whose name is `title`; 0 when none is.
unsigned long find_window(Display* display, const std::string& title);
