#pragma once

// The source types this plug-in registers, one file each.

#include <obs-module.h>

obs_source_info desktop_sound_info();
obs_source_info process_sound_info();
