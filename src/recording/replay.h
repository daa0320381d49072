#pragma once

#include "recording/recording.h"

// Asks the replay buffer to write its content; the "saved" event follows
// from the engine's thread. The recording must have a replay buffer.
void save_replay(Recording& recording);
