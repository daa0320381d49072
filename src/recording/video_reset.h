#pragma once

#include "api/engine_abi.h"

// Resets the engine's video while its audio thread waits in a callback of ours,
// and returns the engine's result.
int reset_engine_video(obs_video_info& video);
