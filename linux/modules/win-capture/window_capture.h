#pragma once

// A window captured through the Composite extension: its own picture even when
// covered, read into shared memory on each tick of the engine's video thread
// and handed over as an asynchronous frame. The engine's "xcomposite_input"
// does the same through an EGL image, which X servers without DRI3 (Xvfb
// among them) cannot make.

#include <obs-module.h>

void* create_window_capture(obs_data_t* settings, obs_source_t* source);
void destroy_window_capture(void* data);
void tick_window_capture(void* data, float seconds);
