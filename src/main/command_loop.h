#pragma once

#include "main/line_reader.h"

#include <string_view>

// True when the line holds nothing but Unicode white space.
bool is_blank_line(std::string_view line);

// Handles lines until `quit` or the end of input, then stops the recording,
// shuts the engine down and emits "bye". Returns the exit code.
int run_command_loop(LineChannel& lines);
