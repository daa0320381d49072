#pragma once

#include "recording/recording.h"

// Run on the loop's idle tick: after enough black frames in a row, moves to
// the next capture method ("source"), or reports once that all are black.
void check_black_image(Recording& recording);
