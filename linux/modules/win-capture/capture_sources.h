#pragma once

// The source types this plug-in registers, one file each.

#include <obs-module.h>

obs_source_info screen_capture_info();
obs_source_info window_capture_info();
