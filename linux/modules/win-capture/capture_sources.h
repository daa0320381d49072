#pragma once

// The source types this plug-in registers, one file each.

#include <obs-module.h>

obs_source_info screen_capture_info();
obs_source_info window_capture_info();

// How many shared memory attaches the X server has refused so far.
unsigned long x_shm_attach_failures();
