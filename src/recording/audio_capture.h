#pragma once

#include "api/engine_abi.h"
#include "protocol/command.h"

// Creates the sound capture the start asks for and puts it on output channel
// 1; null when there is none. Never makes the start fail.
obs_source_t* create_audio_capture(const Audio& audio);
