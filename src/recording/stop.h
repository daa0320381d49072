#pragma once

#include "recording/recording.h"

#include <chrono>

// How long each output has to confirm its stop before it is forced.
constexpr std::chrono::seconds output_stop_wait{20};

// Ends the recording: statistics, probe detached, outputs stopped (forced
// after the wait), everything released in the fixed order, then "finished".
void stop_recording(Recording recording);
