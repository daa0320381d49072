#pragma once

#include "recording/recording.h"

// Hides or shows the captured picture; nothing happens when it already is so.
void set_mask(Recording& recording, bool hidden);
